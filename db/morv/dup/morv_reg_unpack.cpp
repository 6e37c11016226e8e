// Register unpacking: the object, the iteration, the local-optimisation
// hooks and the 6-LUT families' check and form.

#include "morv/dup/morv_reg_unpack.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "cdb/cdb_atom_netlist.h"
#include "hdb/hdb_instance_name.h"

#include "morv/core/family/morv_family_traits.h"
#include "morv/core/morv_api.h"
#include "morv/core/morv_assert.h"
#include "morv/core/morv_debug_stream.h"
#include "morv/core/morv_env.h"
#include "morv/core/morv_expert.h"
#include "morv/netlist/morv_chip_map.h"
#include "morv/netlist/morv_net_util.h"
#include "morv/timing/morv_timing.h"

MORV_UNPACK_INFO MORV_REG_UNPACK::s_check_record;

namespace {

std::string hpath_of(CDB_ATOM_NODE* node)
{
    HDB_INSTANCE_NAME* name = node->get_instance_name();
    return name != nullptr ? name->get_hpath_to_root() : std::string();
}

}  // namespace

MORV_REG_UNPACK::MORV_REG_UNPACK(MORV_API* api, const MORV_PARAMETER_MAP* params) : MORV_ALGORITHM_BASE(api, params)
{
    MORV_DEBUG_STREAM::print(100, "MORV_REG_UNPACK Created.");
    MORV_ASSERT_TEXT(m_fsyn_api, "m_fsyn_api");
    m_fsyn_net_util = m_fsyn_api->peek_fsyn_net_util();
    MORV_ASSERT_TEXT(m_fsyn_net_util, "m_net_util");
    m_form = morv_reg_unpack_form(m_fsyn_api->get_base_family_code());
}

MORV_REG_UNPACK::~MORV_REG_UNPACK()
{
    MORV_DEBUG_STREAM::print(100, "MORV_REG_UNPACK Destroyed.");
}

void MORV_REG_UNPACK::set_default_algorithm_parameters(int& num_passes, int& icp_at_end, double& fom_to_accept,
                                                       int& restore_netlist)
{
    if (num_passes == s_UNSET_INT) num_passes = 1;
    if (icp_at_end == s_UNSET_INT) icp_at_end = 0;
    if (fom_to_accept == s_UNSET_DOUBLE) fom_to_accept = 0.0;
    if (restore_netlist == s_UNSET_INT) restore_netlist = 1;
}

void MORV_REG_UNPACK::set_default_pass_parameters(int, int& num_iters, int& hill_climb_iters)
{
    if (num_iters == s_UNSET_INT) num_iters = 1;
    if (hill_climb_iters == s_UNSET_INT) hill_climb_iters = num_iters;
    if (m_slack_ratio_threshold == s_UNSET_DOUBLE) m_slack_ratio_threshold = 0.25;
}

// ---------------------------------------------------------------- iteration

size_t MORV_REG_UNPACK::unpack_limit(int logic_cells, size_t found)
{
    // The first record goes even when the share rounds to nothing.
    const size_t limit = static_cast<size_t>(std::trunc(s_UNPACK_SHARE * logic_cells)) + 1;
    return std::min(limit, found);
}

int MORV_REG_UNPACK::do_iter()
{
    // The morlin family's registers are separate atoms its placer moves on
    // its own: there is nothing to unpack.
    if (m_form == MORV_REG_UNPACK_NOTHING) {
        MORV_DEBUG_STREAM::print(1, "REG_UNPACK has nothing to unpack in this family");
        return 0;
    }
    MORV_DEBUG_STREAM::print(100, "# Starting Unpacking Pass");
    m_unpacked = 0;
    int logic_cells = 0;
    std::vector<MORV_UNPACK_INFO> records;
    for (CDB_ATOM_NODE* node : *m_atom_netlist) {
        if (!m_fsyn_net_util->is_lcell(node)) continue;
        ++logic_cells;
        MORV_UNPACK_INFO info;
        if (can_unpack(node, &info)) records.push_back(info);
    }
    MORV_DEBUG_STREAM::print(1, "...Found {%d} lut+reg combos to unpack", static_cast<int>(records.size()));
    const size_t limit = unpack_limit(logic_cells, records.size());
    for (size_t i = 0; i < limit; ++i) unpack(records[i]);
    MORV_DEBUG_STREAM::print(1, "...Unpacked {%d} lut+reg combos", m_unpacked);
    MORV_DEBUG_STREAM::print(100, "# Finished Unpacking Pass");
    return static_cast<int>(records.size());
}

bool MORV_REG_UNPACK::can_unpack(CDB_ATOM_NODE* node, MORV_UNPACK_INFO* info)
{
    MORV_ASSERT_TEXT(node != nullptr && m_fsyn_net_util->is_lcell(node),
                     "m_fsyn_api->get_fsyn_net_util()->is_lcell( node )");
    if (m_fsyn_api->is_atom_dont_touch(static_cast<int>(node->get_id()), AMM_OP_FITTER_FSYN_DUPLICATE)) return false;
    s_check_record = MORV_UNPACK_INFO();
    s_check_record.estimate = info->estimate;
    s_check_record.node = node;
    bool accepted = false;
    if (m_form == MORV_REG_UNPACK_REPLACE_REGISTER) {
        accepted = can_unpack_six_lut(node, &s_check_record);
    } else if (m_form == MORV_REG_UNPACK_SPLIT_CELL) {
        accepted = can_unpack_uvo(node, &s_check_record);
    } else {
        MORV_ASSERT_TEXT(false, "Unsupported family");
        return false;
    }
    if (accepted) *info = s_check_record;
    return accepted;
}

bool MORV_REG_UNPACK::unpack(const MORV_UNPACK_INFO& info)
{
    bool done = false;
    if (m_form == MORV_REG_UNPACK_REPLACE_REGISTER) {
        unpack_six_lut(info);
        done = true;
    } else if (m_form == MORV_REG_UNPACK_SPLIT_CELL) {
        done = unpack_uvo(info);
    } else {
        MORV_ASSERT_TEXT(false, "Unsupported family");
    }
    if (done) ++m_unpacked;
    return done;
}

// ---------------------------------------------------------------- shared checks

void MORV_REG_UNPACK::location_of(CDB_ATOM_NODE* node, int* x, int* y)
{
    const MORV_EXPERT* expert = m_fsyn_api->get_fsyn_expert();
    if (expert != nullptr && expert->is_fsyn_running_pre_placement_fsyn()) {
        *x = *y = 0;
        return;
    }
    m_fsyn_api->get_block_location(node, x, y);
}

bool MORV_REG_UNPACK::is_below_threshold(CDB_ATOM_ITERM* iterm) const
{
    return m_fsyn_api->get_fsyn_timing()->get_slack_ratio(iterm) < m_slack_ratio_threshold;
}

bool MORV_REG_UNPACK::any_input_critical(CDB_ATOM_NODE* node, std::initializer_list<int> port_types) const
{
    for (int type : port_types) {
        CDB_ATOM_ITERM* iterm = node->get_input_term_by_type(type);
        if (iterm != nullptr && iterm->is_connected() && is_below_threshold(iterm)) return true;
    }
    return false;
}

bool MORV_REG_UNPACK::any_fanout_critical(CDB_ATOM_OTERM* oterm) const
{
    for (auto it = oterm->begin_iterm_fanout(); it != oterm->end_iterm_fanout(); ++it)
        if (is_below_threshold(*it)) return true;
    return false;
}

// ---------------------------------------------------------------- 6-LUT families

// The register's data input, or a sibling of it: the source's other sinks
// sit near the register, so a critical sibling pulls on it too.
bool MORV_REG_UNPACK::is_data_input_critical(CDB_ATOM_NODE* node) const
{
    CDB_ATOM_ITERM* data = node->get_input_term_by_type(DB_DATAIN);
    if (data == nullptr || !data->is_connected()) return false;
    if (is_below_threshold(data)) return true;
    CDB_ATOM_OTERM* source = data->get_source();
    return source != nullptr && any_fanout_critical(source);
}

bool MORV_REG_UNPACK::can_unpack_six_lut(CDB_ATOM_NODE* node, MORV_UNPACK_INFO* info)
{
    info->reg_x = info->reg_y = info->comb_x = info->comb_y = -1;
    if (!m_fsyn_net_util->is_ff(node)) return false;
    int x = -1, y = -1;
    location_of(node, &x, &y);
    // Without a LAB there is nowhere to place the register again.
    if (x < 0 || y < 0) return false;
    bool accepted =
        any_input_critical(node, {DB_SYNCH_DATA, DB_CLOCK_ENABLE, DB_SYNCH_CLEAR}) || is_data_input_critical(node);
    if (!accepted) {
        CDB_ATOM_OTERM* reg_oterm = node->get_output_term_by_type(DB_REG_OUT);
        MORV_ASSERT_TEXT(reg_oterm, "reg_oterm");
        accepted = any_fanout_critical(reg_oterm);
    }
    if (!accepted) return false;
    info->reg_x = info->comb_x = x;
    info->reg_y = info->comb_y = y;
    return true;
}

void MORV_REG_UNPACK::unpack_six_lut(const MORV_UNPACK_INFO& info)
{
    MORV_ASSERT_TEXT(info.node, "node_for_unpacking");
    MORV_DEBUG_STREAM::print(100, ".unpacking {%s}", hpath_of(info.node).c_str());
    MORV_CHIP_MAP* chip_map = m_fsyn_api->get_fsyn_chip_map();
    if (chip_map != nullptr && info.reg_x >= 0 && info.reg_y >= 0)
        chip_map->set_node_location(static_cast<int>(info.node->get_id()), MORV_LOC{info.reg_x, info.reg_y, -1, -1});
    m_fsyn_api->modify_node(info.node);
}

// ---------------------------------------------------------------- local optimisation

MORV_OWNER<MORV_LOCAL_OPT_INFO> MORV_REG_UNPACK::evaluate_local_optimization(CDB_ATOM_ITERM* local_iterm)
{
    MORV_ASSERT_TEXT(local_iterm, "local_iterm");
    CDB_ATOM_NODE* node = local_iterm->get_my_node();
    MORV_ASSERT_TEXT(node, "node_for_unpacking");
    // The morlin family has nothing to unpack (see do_iter).
    if (m_form == MORV_REG_UNPACK_NOTHING) return MORV_OWNER<MORV_LOCAL_OPT_INFO>();
    MORV_OWNER<MORV_UNPACK_INFO> info = MORV_MAKE_OWNER(MORV_UNPACK_INFO);
    info->estimate = MORV_UNPACK_INFO::s_NOT_EVALUATED;
    if (!m_fsyn_net_util->is_lcell(node) || !can_unpack(node, info.get())) return MORV_OWNER<MORV_LOCAL_OPT_INFO>();
    info->estimate = MORV_UNPACK_INFO::s_ACCEPTED;
    return info;
}

bool MORV_REG_UNPACK::perform_local_optimization(CDB_ATOM_ITERM* local_iterm, const MORV_LOCAL_OPT_INFO* record,
                                                 std::set<int>* touched_ids)
{
    MORV_ASSERT_TEXT(local_iterm, "local_iterm");
    // A record another algorithm made names no cell to unpack.
    const auto* opt_info = dynamic_cast<const MORV_UNPACK_INFO*>(record);
    MORV_ASSERT_TEXT(opt_info, "opt_info");
    MORV_ASSERT_TEXT(touched_ids, "touched_ids");
    const int id = static_cast<int>(opt_info->node->get_id());
    if (touched_ids->count(id) != 0) {
        MORV_DEBUG_STREAM::print(
            100, "MORV_REG_UNPACK: Warning - could not perform requested optimization; touched_id violation");
        return false;
    }
    MORV_DEBUG_STREAM::print(100, "MORV_REG_UNPACK: will perform requested optimization");
    if (!unpack(*opt_info)) return false;
    MORV_DEBUG_STREAM::print(100, "MORV_REG_UNPACK: done unpack!");
    touched_ids->insert(id);
    return true;
}

void MORV_REG_UNPACK::cleanup_local_optimization(MORV_OWNER<MORV_LOCAL_OPT_INFO>& opt_info)
{
    MORV_ASSERT_TEXT(opt_info, "opt_info");
    opt_info.reset();
}
