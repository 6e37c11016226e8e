// Register unpacking in UVO, where one logic cell holds a LUT and a
// register: the checks that a cell's halves pull apart, and the form that
// moves the LUT half into a new cell.

#include <algorithm>

#include "cdb/cdb_atom_netlist.h"
#include "cdb/cdb_lutmask.h"
#include "hdb/hdb_instance_name.h"

#include "morv/core/morv_api.h"
#include "morv/core/morv_assert.h"
#include "morv/core/morv_debug_stream.h"
#include "morv/core/morv_env.h"
#include "morv/dup/morv_reg_unpack.h"
#include "morv/log/morv_log.h"
#include "morv/netlist/morv_atom_query.h"
#include "morv/netlist/morv_cdb_interface.h"
#include "morv/netlist/morv_chip_map.h"
#include "morv/netlist/morv_net_util.h"
#include "morv/timing/morv_timing.h"

namespace {

// The 4-input masks that pass one input through: A, B, C, D.
constexpr int BUFFER_PORTS[] = {DB_DATA_A, DB_DATA_B, DB_DATA_C, DB_DATA_D};
constexpr uint64_t BUFFER_MASKS[] = {0xAAAA, 0xCCCC, 0xF0F0, 0xFF00};

}  // namespace

bool MORV_REG_UNPACK::can_unpack_uvo(CDB_ATOM_NODE* node, MORV_UNPACK_INFO* info)
{
    // A carry chain fixes where its cells sit.
    if (m_fsyn_net_util->is_carry_in_connected(node) || m_fsyn_net_util->has_carry_out_fanout(node)) return false;
    if (can_split_uvo(node, info)) return true;
    info->reg_x = info->reg_y = info->comb_x = info->comb_y = -1;
    return can_unpack_cascade_uvo(node, info);
}

bool MORV_REG_UNPACK::is_output_critical(CDB_ATOM_OTERM* oterm, int* x, int* y)
{
    location_of(oterm->get_my_node(), x, y);
    MORV_TIMING* timing = m_fsyn_api->get_fsyn_timing();
    for (auto it = oterm->begin_iterm_fanout(); it != oterm->end_iterm_fanout(); ++it) {
        if (timing->get_slack_ratio(*it) > m_slack_ratio_threshold) continue;
        int fx = -1, fy = -1;
        location_of((*it)->get_my_node(), &fx, &fy);
        if (fx >= 0 && fy >= 0) return true;
    }
    return false;
}

double MORV_REG_UNPACK::smallest_lut_input_ratio(CDB_ATOM_NODE* node) const
{
    MORV_TIMING* timing = m_fsyn_api->get_fsyn_timing();
    double smallest = 1.0;
    for (auto it = node->begin_iterm(); it != node->end_iterm(); ++it) {
        CDB_ATOM_ITERM* iterm = *it;
        if (iterm == nullptr || !iterm->is_connected()) continue;
        if (iterm->is_used_as(DB_DATA_A) || iterm->is_used_as(DB_DATA_B) || iterm->is_used_as(DB_DATA_D))
            smallest = std::min(smallest, timing->get_slack_ratio(iterm));
    }
    return smallest;
}

// Both halves used: worth splitting when the LUT's fanout, the register's
// fanout or the register's controls are critical.
bool MORV_REG_UNPACK::can_split_uvo(CDB_ATOM_NODE* node, MORV_UNPACK_INFO* info)
{
    const bool feedback = node->test_bit(CDB_ATOM_BIT_QFBK_MODE);
    CDB_ATOM_OTERM* reg_out = node->get_output_term_by_type(DB_REG_OUT);
    CDB_ATOM_OTERM* comb_out = node->get_output_term_by_type(DB_COMB_OUT);
    if (!morv_oterm_has_fanout(reg_out) && !feedback) return false;
    if (!morv_oterm_has_fanout(comb_out)) return false;
    const bool controls_critical = any_input_critical(node, {DB_SYNCH_DATA, DB_CLOCK_ENABLE, DB_SYNCH_CLEAR});
    bool reg_critical = false;
    if (reg_out != nullptr) reg_critical = is_output_critical(reg_out, &info->reg_x, &info->reg_y);
    else location_of(node, &info->reg_x, &info->reg_y);
    const bool comb_critical = is_output_critical(comb_out, &info->comb_x, &info->comb_y);
    if (!comb_critical && !reg_critical && !controls_critical) return false;
    // The LUT reads its own register: moving it away only pays when its
    // other inputs are critical too.
    if (feedback && smallest_lut_input_ratio(node) > m_slack_ratio_threshold && comb_critical) return false;
    // A cell without a LAB has nowhere to split to.
    return info->reg_x >= 0 && info->reg_y >= 0 && info->comb_x >= 0 && info->comb_y >= 0;
}

// The register takes the cascade from its neighbour; only the LUT half
// can move.
bool MORV_REG_UNPACK::can_unpack_cascade_uvo(CDB_ATOM_NODE* node, MORV_UNPACK_INFO* info)
{
    CDB_ATOM_OTERM* comb_out = node->get_output_term_by_type(DB_COMB_OUT);
    if (!morv_oterm_has_fanout(comb_out)) return false;
    CDB_ATOM_ITERM* cascade = node->get_input_term_by_type(DB_REG_CASCADE_IN);
    if (cascade == nullptr || !cascade->is_connected()) return false;
    if (!is_output_critical(comb_out, &info->comb_x, &info->comb_y)) return false;
    if (node->test_bit(CDB_ATOM_BIT_QFBK_MODE) && smallest_lut_input_ratio(node) > m_slack_ratio_threshold)
        return false;
    return info->comb_x >= 0 && info->comb_y >= 0;
}

// ---------------------------------------------------------------- the form

bool MORV_REG_UNPACK::unpack_uvo(const MORV_UNPACK_INFO& info)
{
    CDB_ATOM_NODE* node = info.node;
    MORV_ASSERT_TEXT(node, "node_for_unpacking");
    HDB_INSTANCE_NAME* name = node->get_instance_name();
    MORV_DEBUG_STREAM::print(100, ".unpacking {%s}", name != nullptr ? name->get_hpath_to_root().c_str() : "");
    const bool feeds = m_fsyn_net_util->does_lut_feed_register(node);
    CDB_ATOM_NODE* lut = m_fsyn_api->duplicate_oterm(node, DB_COMB_OUT, true);
    if (lut == nullptr) return false;
    CDB_ATOM_OTERM* old_comb_out = node->get_output_term_by_type(DB_COMB_OUT);
    m_fsyn_net_util->adopt_fanouts(lut->get_output_term_by_type(DB_COMB_OUT), old_comb_out);
    MORV_ASSERT_TEXT(!morv_oterm_has_fanout(old_comb_out), "!m_net_util->is_connected( old_combout )");
    MORV_CHIP_MAP* chip_map = m_fsyn_api->get_fsyn_chip_map();
    if (chip_map != nullptr && info.comb_x >= 0 && info.comb_y >= 0)
        chip_map->set_node_location(static_cast<int>(lut->get_id()), MORV_LOC{info.comb_x, info.comb_y, -1, -1});
    m_fsyn_api->node_added(lut, node, MORV_MODIFICATION_DUPLICATE, DB_COMB_OUT, true, nullptr);
    MORV_DEBUG_STREAM::print(100, "..cmb(%d,%d)", info.comb_x, info.comb_y);
    if (!feeds) set_register_only_bits(node);
    if (!m_fsyn_net_util->is_connected(node, DB_REG_CASCADE_IN) && info.reg_x >= 0 && info.reg_y >= 0) {
        if (chip_map != nullptr)
            chip_map->set_node_location(static_cast<int>(node->get_id()), MORV_LOC{info.reg_x, info.reg_y, -1, -1});
        MORV_DEBUG_STREAM::print(100, "..reg(%d,%d)", info.reg_x, info.reg_y);
    }
    if (feeds) return true;
    strip_lut_inputs(node);
    route_synch_data_through_lut(node);
    return true;
}

void MORV_REG_UNPACK::set_register_only_bits(CDB_ATOM_NODE* node)
{
    MORV_CDB_INTERFACE* cdb = m_fsyn_api->get_fsyn_cdb_interface();
    cdb->set_node_bit(node, CDB_ATOM_BIT_FOUR_INPUT_COMB);
    cdb->clear_node_bit(node, CDB_ATOM_BIT_LUTMASK_FLAG);
    cdb->clear_node_bit(node, CDB_ATOM_BIT_QFBK_MODE);
}

// Announced, and logged when the change log is on.
void MORV_REG_UNPACK::disconnect_logged(CDB_ATOM_ITERM* iterm)
{
    m_fsyn_net_util->disconnect_iterm(iterm, CDB_NET_ITERM::UNCONNECTED);
}

// The old cell keeps only its register: its LUT inputs go, except an input
// C that also carries the register's data.
void MORV_REG_UNPACK::strip_lut_inputs(CDB_ATOM_NODE* node)
{
    for (int type : {DB_DATA_A, DB_DATA_B, DB_DATA_D})
        if (CDB_ATOM_ITERM* iterm = node->get_input_term_by_type(type)) disconnect_logged(iterm);
    if (CDB_ATOM_ITERM* data_c = node->get_input_term_by_type(DB_DATA_C)) {
        if (!data_c->is_used_as(DB_SYNCH_DATA) && !data_c->is_used_as(DB_ASYNCH_DATA)) {
            m_fsyn_net_util->disconnect_iterm(data_c, CDB_NET_ITERM::UNCONNECTED);
        } else if (data_c->is_used_as(DB_DATA_C)) {
            MORV_CDB_INTERFACE* cdb = m_fsyn_api->get_fsyn_cdb_interface();
            if (cdb->is_logging()) cdb->get_fsyn_log()->log_clear_usage_as(data_c, DB_DATA_C);
            data_c->clear_usage_as(DB_DATA_C);
        }
    }
    m_fsyn_api->get_fsyn_cdb_interface()->set_sum_lutmask(node, CDB_LUTMASK(4, 0), 0);
    m_fsyn_api->modify_node(node);
}

// A register loaded for ever from its synchronous data input takes that
// signal through the now free LUT instead, as a buffer.
void MORV_REG_UNPACK::route_synch_data_through_lut(CDB_ATOM_NODE* node)
{
    CDB_ATOM_ITERM* sdata = node->get_input_term_by_type(DB_SYNCH_DATA);
    CDB_ATOM_ITERM* sload = node->get_input_term_by_type(DB_SYNCH_LOAD);
    if (sdata == nullptr || !sdata->is_connected() || sload == nullptr || !sload->is_logical_vcc()) return;
    if (sdata->is_used_as(DB_ASYNCH_DATA) || sdata->is_vcc() || sdata->is_gnd()) return;
    CDB_ATOM_OTERM* source = sdata->get_source();
    if (source == nullptr) return;
    MORV_ITERM_PROPERTIES properties;
    m_fsyn_net_util->save_iterm_properties(sdata, &properties);
    disconnect_logged(sdata);
    disconnect_logged(sload);
    CDB_ATOM_ITERM* input = nullptr;
    uint64_t mask = BUFFER_MASKS[0];
    for (size_t i = 0; i < 4 && input == nullptr; ++i) {
        CDB_ATOM_ITERM* candidate = node->get_input_term_by_type(BUFFER_PORTS[i]);
        // An input still in use (input C as the register's data) is no buffer input.
        if (candidate == nullptr || candidate->is_connected() || !candidate->is_used_as(BUFFER_PORTS[i])) continue;
        input = candidate;
        mask = BUFFER_MASKS[i];
    }
    if (input == nullptr) {
        input = m_fsyn_net_util->create_iterm(node, DB_DATA_A);
        MORV_ASSERT_TEXT(input, "it_a");
        mask = BUFFER_MASKS[0];
    }
    m_fsyn_net_util->insert_fanout(source, input);
    m_fsyn_net_util->restore_iterm_properties(properties, input);
    set_register_only_bits(node);
    m_fsyn_api->get_fsyn_cdb_interface()->set_lutmask(node, CDB_LUTMASK(4, mask), 0);
    m_fsyn_api->modify_node(node);
}
