// The register and signal records every push compares and re-creates.
#include "cdb/cdb_atom_netlist.h"

#include "morv/core/morv_api.h"
#include "morv/core/morv_assert.h"
#include "morv/core/morv_env.h"
#include "morv/netlist/morv_net_util.h"
#include "morv/retiming/morv_retiming.h"

const int k_retime_control_ports[RETIME_NUM_CONTROLS] = {DB_CLEAR, DB_SYNCH_CLEAR, DB_SYNCH_LOAD, DB_CLOCK,
                                                         DB_CLOCK_ENABLE};

bool RETIME_ITERM_LESS::operator()(const RETIME_ITERM& a, const RETIME_ITERM& b) const
{
    if (a.initial_condition != b.initial_condition) return a.initial_condition;
    CDB_ATOM_OTERM* a_source = a.iterm->get_source();
    CDB_ATOM_OTERM* b_source = b.iterm->get_source();
    if (a_source != nullptr && b_source != nullptr) {
        const uint32_t a_id = a_source->get_my_node()->get_id();
        const uint32_t b_id = b_source->get_my_node()->get_id();
        if (a_id != b_id) return a_id < b_id;
        if (a.slack != b.slack) return a.slack > b.slack;
    }
    return DETERMINISTIC_LESS<CDB_ATOM_ITERM*>()(a.iterm, b.iterm);
}

RETIME_REG MORV_RETIMING::describe_register(CDB_ATOM_NODE* node)
{
    MORV_ASSERT_TEXT(node, "node");
    MORV_ASSERT_TEXT(m_net_util->is_register_present(node), "m_net_util->is_register_present(node)");
    RETIME_REG reg;
    for (int control = 0; control < RETIME_NUM_CONTROLS; ++control)
        reg.signals[control] = capture_signal(node, k_retime_control_ports[control]);
    reg.clear_low = !m_inverted_nodes.contains(node);
    reg.regout = node->get_output_term_by_type(DB_REG_OUT);
    reg.name = reg.regout != nullptr ? reg.regout->get_instance_name() : nullptr;
    reg.kardel_region = m_fsyn_api->get_morv_env()->get_node_kardel_region(node);
    m_fsyn_api->get_morv_env()->get_node_locked_region(node, &reg.locked[0], &reg.locked[1], &reg.locked[2],
                                                       &reg.locked[3]);
    return reg;
}

RETIME_SIGNAL MORV_RETIMING::read_term_signal(CDB_ATOM_ITERM* iterm)
{
    RETIME_SIGNAL signal;
    signal.is_gnd = iterm->is_logical_gnd();
    signal.is_vcc = iterm->is_logical_vcc();
    signal.global_type = iterm->get_global();
    signal.inverted = iterm->is_inverted();
    signal.source = iterm->get_source();
    signal.delay_chain_connected = iterm->is_connected_to_delay_chain(s_DELAY_CHAIN);
    signal.delay_chain_index = iterm->get_delay_chain_index(s_DELAY_CHAIN);
    signal.use_delay_chain = iterm->use_delay_chain(s_DELAY_CHAIN);
    signal.user_delay_chain = iterm->has_user_delay_chain(s_DELAY_CHAIN);
    return signal;
}

namespace {

// The signal of a connected term; the initial signal otherwise.
RETIME_SIGNAL captured_signal(MORV_API* api, CDB_ATOM_ITERM* iterm)
{
    if (iterm == nullptr || !iterm->is_connected()) return RETIME_SIGNAL();
    RETIME_SIGNAL signal = MORV_RETIMING::read_term_signal(iterm);
    signal.boundary_port_id = api->get_assigned_boundary_port_id(iterm);
    return signal;
}

}  // namespace

RETIME_SIGNAL MORV_RETIMING::capture_signal(CDB_ATOM_NODE* node, int port_type)
{
    MORV_ASSERT_TEXT(node, "node");
    MORV_ASSERT_TEXT(node->is_ram() || m_net_util->is_register_present(node),
                     "node->is_ram() || m_net_util->is_register_present(node)");
    return captured_signal(m_fsyn_api, node->get_input_term_by_type(port_type, 0));
}

RETIME_SIGNAL MORV_RETIMING::capture_mac_signal(CDB_ATOM_ITERM* iterm)
{
    if (iterm == nullptr || !iterm->is_connected()) return RETIME_SIGNAL();
    CDB_ATOM_NODE* node = iterm->get_my_node();
    MORV_ASSERT_TEXT(node, "node");
    MORV_ASSERT_TEXT(node->is_mac_mult() || node->is_mac_out(),
                     "iterm->get_my_node()->is_mac_mult() || iterm->get_my_node()->is_mac_out()");
    return captured_signal(m_fsyn_api, iterm);
}
