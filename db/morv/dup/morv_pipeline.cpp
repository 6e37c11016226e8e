#include "morv/dup/morv_pipeline.h"

#include "cdb/cdb_atom_netlist.h"

#include "morv/core/morv_api.h"
#include "morv/core/morv_assert.h"
#include "morv/core/morv_debug_stream.h"
#include "morv/core/morv_env.h"
#include "morv/core/morv_setting_ids.h"
#include "morv/log/morv_log.h"
#include "morv/netlist/morv_cdb_interface.h"
#include "morv/netlist/morv_chip_map.h"
#include "morv/netlist/morv_net_util.h"

namespace {

constexpr const char* PIPELINE_SUFFIX = "_pipeline";

// The new register's inputs, in the order they are made.
constexpr int NEW_REGISTER_INPUTS[] = {DB_CLOCK, DB_DATAIN, DB_CLEAR, DB_CLOCK_ENABLE};
// The controls it takes over from the assigned register.
constexpr int COPIED_CONTROLS[] = {DB_CLOCK, DB_CLEAR, DB_CLOCK_ENABLE};

}  // namespace

MORV_PIPELINE::MORV_PIPELINE(MORV_API* api, const MORV_PARAMETER_MAP* params)
    : MORV_ALGORITHM_BASE(api, params), m_net_util(nullptr)
{
    MORV_DEBUG_STREAM::print(100, "MORV_PIPELINE Created.");
    m_net_util = m_fsyn_api->peek_fsyn_net_util();
    MORV_ASSERT_TEXT(m_net_util, "m_net_util");
    MORV_ASSERT_TEXT(m_cdb_interface, "m_cdb_interface");
}

MORV_PIPELINE::~MORV_PIPELINE()
{
    MORV_DEBUG_STREAM::print(100, "MORV_PIPELINE Destroyed");
}

void MORV_PIPELINE::set_default_algorithm_parameters(int& num_passes, int& icp_at_end, double& fom_to_accept,
                                                     int& restore_netlist)
{
    if (num_passes == s_UNSET_INT) num_passes = 1;
    if (icp_at_end == s_UNSET_INT) icp_at_end = 0;
    if (fom_to_accept == s_UNSET_DOUBLE) fom_to_accept = -1000000.0;
    if (restore_netlist == s_UNSET_INT) restore_netlist = 1;
}

void MORV_PIPELINE::set_default_pass_parameters(int pass, int& num_iters, int& hill_climb_iters)
{
    (void)pass;
    if (num_iters == s_UNSET_INT) num_iters = 1;
    if (hill_climb_iters == s_UNSET_INT) hill_climb_iters = num_iters;
    if (m_slack_ratio_threshold == s_UNSET_DOUBLE) m_slack_ratio_threshold = 0.125;
}

int MORV_PIPELINE::do_iter()
{
    MORV_ASSERT_TEXT(m_atom_netlist, "m_atom_netlist");
    MORV_CHIP_MAP* chip_map = m_fsyn_api->get_fsyn_chip_map();
    int count = 0;
    // Registers added here carry no option of their own, so reaching them
    // later in the walk adds nothing.
    for (auto it = m_atom_netlist->begin_node_list(); it != m_atom_netlist->end_node_list(); ++it) {
        CDB_ATOM_NODE* node = *it;
        MORV_ASSERT_TEXT(node, "node");
        const int requested = requested_registers(node);
        if (requested <= 0) continue;
        // An unplaced register (before placement) gets an unplaced chain.
        MORV_LOC location;
        const bool placed = chip_map != nullptr &&
                            chip_map->get_node_location(static_cast<int>(node->get_id()), &location) &&
                            location.x != MORV_OPEN && location.y != MORV_OPEN;
        add_chain(node, requested, placed ? &location : nullptr);
        count += requested;
    }
    MORV_DEBUG_STREAM::print(1, "PIPELINE: %d registers added", count);
    return count;
}

int MORV_PIPELINE::requested_registers(CDB_ATOM_NODE* node)
{
    if (m_fsyn_api->is_atom_dont_touch(static_cast<int>(node->get_id()), AMM_OP_FITTER_FSYN_DUPLICATE)) return 0;
    if (!m_net_util->is_ff(node) || node->get_mode() != DEV_PHYS_IMPL_REGISTER_MODE) return 0;
    HDB_INSTANCE_NAME* name = node->get_instance_name();
    MORV_ASSERT_TEXT(name, "inst_name");
    return m_fsyn_api->get_instance_int_option(name, MORV_SETTING_PIPELINE_REGISTERS);
}

void MORV_PIPELINE::add_chain(CDB_ATOM_NODE* assigned, int count, const MORV_LOC* location)
{
    CDB_ATOM_NODE* tail = assigned;
    for (int k = 0; k < count; ++k) tail = add_register(assigned, tail, location);
}

CDB_ATOM_NODE* MORV_PIPELINE::add_register(CDB_ATOM_NODE* assigned, CDB_ATOM_NODE* tail, const MORV_LOC* location)
{
    HDB_INSTANCE_NAME* name = m_net_util->make_unique_instance_name(assigned->get_instance_name(), PIPELINE_SUFFIX);
    CDB_ATOM_NODE* reg = m_cdb_interface->create_ff_obran(nullptr, name);
    MORV_ASSERT(reg);
    for (int port : NEW_REGISTER_INPUTS) {
        CDB_ATOM_ITERM* iterm = nullptr;
        m_cdb_interface->create_input_term(nullptr, iterm, reg, port, 0);
    }
    CDB_ATOM_OTERM* out = nullptr;
    m_cdb_interface->create_oterm(nullptr, out, reg, DB_REG_OUT, name);
    if (location != nullptr) {
        MORV_LOC at = *location;
        at.sub_loc = MORV_OPEN;
        at.saved_info_index = MORV_OPEN;
        m_fsyn_api->get_fsyn_chip_map()->set_node_location(static_cast<int>(reg->get_id()), at);
    }
    m_fsyn_api->node_added(reg, assigned, MORV_MODIFICATION_CREATE, MORV_MODIFICATION_CODE);
    for (int port : COPIED_CONTROLS) {
        CDB_ATOM_ITERM* from = assigned->get_input_term_by_type(port);
        if (from != nullptr && from->is_connected()) copy_control(from, reg->get_input_term_by_type(port));
    }
    CDB_ATOM_OTERM* tail_out = tail->get_output_term_by_type(DB_REG_OUT);
    MORV_ASSERT_TEXT(tail_out, "tail's register output");
    m_net_util->adopt_fanouts(out, tail_out);
    m_net_util->insert_fanout(tail_out, reg->get_input_term_by_type(DB_DATAIN));
    return reg;
}

// A control tied to a constant has no source to connect to: the tie itself
// is reproduced.
void MORV_PIPELINE::copy_control(CDB_ATOM_ITERM* from, CDB_ATOM_ITERM* to)
{
    MORV_ASSERT(to);
    if (from->is_driven()) {
        m_net_util->insert_fanout(from->get_source(), to);
    } else {
        if (from->is_vcc()) m_cdb_interface->set_iterm_vcc(to);
        else m_cdb_interface->set_iterm_gnd(to);
        m_fsyn_api->modify_edge(to, false);
    }
    if (from->is_inverted() && !to->is_inverted()) {
        if (m_cdb_interface->is_logging()) m_cdb_interface->get_fsyn_log()->log_set_invert(to);
        to->set_invert();
    }
    if (from->get_global() != to->get_global()) m_cdb_interface->set_iterm_global(to, from->get_global());
}
