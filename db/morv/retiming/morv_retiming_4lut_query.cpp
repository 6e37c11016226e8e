// How the 4-LUT branch finds a register behind or in front of a cell input
// and which pushes it allows.
#include <algorithm>

#include "cdb/cdb_atom_netlist.h"
#include "hdb/hdb_instance_name.h"

#include "morv/core/morv_api.h"
#include "morv/core/morv_assert.h"
#include "morv/core/morv_debug_stream.h"
#include "morv/core/morv_env.h"
#include "morv/netlist/morv_net_util.h"
#include "morv/retiming/morv_retiming_4lut.h"
#include "morv/retiming/morv_retiming_internal.h"
#include "morv/timing/morv_timing.h"

namespace {

bool is_lut_port(int port)
{
    return port >= DB_DATA_A && port <= DB_DATA_D;
}

}  // namespace

MORV_RETIMING_4LUT::MORV_RETIMING_4LUT(MORV_API* api, const MORV_PARAMETER_MAP* params) : MORV_RETIMING(api, params)
{
    m_num_lut_inputs = 4;
    m_num_combinations = 16;
}

MORV_RETIMING_4LUT::~MORV_RETIMING_4LUT() = default;

void MORV_RETIMING_4LUT::collect_carry_chain_cone(CDB_ATOM_NODE* node, RETIME_NODE_SET& cone)
{
    MORV_ASSERT_TEXT(node, "node");
    MORV_ASSERT_TEXT(m_net_util->is_lcell_part_of_a_carry_chain(node),
                     "m_net_util->is_lcell_part_of_a_carry_chain(node)");
    for (CDB_ATOM_NODE* cell = m_net_util->get_carry_chain_head(node); cell != nullptr;
         cell = m_net_util->get_next_node_in_carry_chain(cell)) {
        collect_fanin_cone(cell, DB_DATA_A, cone, 0);
        collect_fanin_cone(cell, DB_DATA_B, cone, 0);
    }
}

void MORV_RETIMING_4LUT::collect_fanin_cone(CDB_ATOM_NODE* node, int port_type, RETIME_NODE_SET& cone, int depth)
{
    MORV_ASSERT_TEXT(node, "node");
    if (!node->is_lcell() || depth >= 4 || !m_net_util->is_connected(node, port_type)) return;
    CDB_ATOM_OTERM* source = node->get_input_term_by_type(port_type)->get_source();
    if (source == nullptr || !source->get_my_node()->is_lcell() || source->is_used_as(DB_REG_OUT)) return;
    CDB_ATOM_NODE* driver = source->get_my_node();
    cone.insert(driver);
    for (int port : MORV_RETIMING_LUT4_PORTS) collect_fanin_cone(driver, port, cone, depth + 1);
}

void MORV_RETIMING_4LUT::get_forward_push_ports(CDB_ATOM_NODE*, int& count, int* port_types)
{
    MORV_ASSERT_TEXT(port_types, "forward_push_ports_ret");
    count = 0;
    for (int port : MORV_RETIMING_LUT4_PORTS) port_types[count++] = port;
}

bool MORV_RETIMING_4LUT::is_register_complex(CDB_ATOM_NODE* node, bool)
{
    MORV_ASSERT_TEXT(node, "node");
    if (!m_net_util->is_ff(node)) return false;
    CDB_ATOM_ITERM* sload = node->get_input_term_by_type(DB_SYNCH_LOAD);
    if (sload != nullptr && sload->is_connected() && !sload->is_logical_gnd() && !sload->is_logical_vcc()) return true;
    return m_fsyn_api->has_connected_secondary_iterm(node, !m_retime_side_clocks);
}

bool MORV_RETIMING_4LUT::has_register_feedback(CDB_ATOM_NODE* node)
{
    MORV_ASSERT_TEXT(node, "node");
    CDB_ATOM_OTERM* regout = node->get_output_term_by_type(DB_REG_OUT);
    if (regout == nullptr) return false;
    for (auto it = regout->begin_iterm_fanout(); it != regout->end_iterm_fanout(); ++it) {
        CDB_ATOM_ITERM* fiterm = *it;
        MORV_ASSERT_TEXT(fiterm, "fiterm");
        if (fiterm->get_my_node() == node && !is_lut_port(fiterm->get_any_usage_as())) return true;
    }
    return false;
}

bool MORV_RETIMING_4LUT::feeds_own_control(CDB_ATOM_NODE* reg_node)
{
    for (int port : {DB_CLOCK, DB_CLOCK_ENABLE, DB_CLEAR, DB_SYNCH_CLEAR}) {
        CDB_ATOM_ITERM* iterm = reg_node->get_input_term_by_type(port);
        if (iterm != nullptr && iterm->get_source() != nullptr && iterm->get_source()->get_my_node() == reg_node)
            return true;
    }
    return false;
}

bool MORV_RETIMING_4LUT::is_register_candidate(CDB_ATOM_NODE* reg_node, CDB_ATOM_ITERM* data_iterm, bool flag)
{
    if (!m_net_util->is_ff(reg_node) || is_register_complex(reg_node, flag)) return false;
    if (get_effective_data_input(reg_node) != data_iterm || has_register_feedback(reg_node)) return false;
    CDB_ATOM_OTERM* regout = reg_node->get_output_term_by_type(DB_REG_OUT);
    MORV_ASSERT_TEXT(regout, "regout");
    return !m_fsyn_api->is_oterm_dont_touch(regout, AMM_OP_FITTER_FSYN_RETIME);
}

CDB_ATOM_NODE* MORV_RETIMING_4LUT::find_register_at(CDB_ATOM_ITERM* iterm, bool flag, bool* through_invert)
{
    CDB_ATOM_NODE* node = iterm->get_my_node();
    *through_invert = false;
    if (!node->is_lcell_comb()) return is_register_candidate(node, iterm, flag) ? node : nullptr;
    if (!is_wire_lut(node)) return nullptr;
    CDB_ATOM_OTERM* comb = node->get_output_term_by_type(DB_COMB_OUT);
    if (comb == nullptr || comb->get_number_of_fanout() != 1) return nullptr;
    CDB_ATOM_ITERM* next_iterm = *comb->begin_iterm_fanout();
    MORV_ASSERT_TEXT(next_iterm, "next_iterm");
    MORV_ASSERT_TEXT(next_iterm->get_my_node(), "next_node");
    if (!is_register_candidate(next_iterm->get_my_node(), next_iterm, flag)) return nullptr;
    // The wire LUT's own input inversion bit is part of what it passes on.
    *through_invert = is_inverting_wire_lut(node) != iterm->is_inverted();
    return next_iterm->get_my_node();
}

CDB_ATOM_OTERM* MORV_RETIMING_4LUT::backward_push_get_reg(CDB_ATOM_ITERM* iterm, RETIME_REG& reg, bool flag)
{
    MORV_ASSERT_TEXT(iterm, "iterm");
    CDB_ATOM_NODE* node = iterm->get_my_node();
    MORV_ASSERT_TEXT(node, "node");
    if (node->is_mac_mult() && m_mac_retiming_enabled) return get_packed_input_register(iterm, reg, "MAC_TEV");
    bool through_invert = false;
    CDB_ATOM_NODE* reg_node = find_register_at(iterm, flag, &through_invert);
    if (reg_node == nullptr) return nullptr;
    reg = describe_pushed_register(reg_node, through_invert);
    return reg.regout;
}

bool MORV_RETIMING_4LUT::get_input_register(CDB_ATOM_ITERM* iterm, RETIME_REG& reg)
{
    MORV_ASSERT_TEXT(iterm, "iterm");
    MORV_ASSERT_TEXT(is_lut_port(iterm->get_any_usage_as()),
                     "iterm->is_used_as(::DB_DATA_A) || iterm->is_used_as(::DB_DATA_B) || "
                     "iterm->is_used_as(::DB_DATA_C) || iterm->is_used_as(::DB_DATA_D)");
    if (!is_forward_push_candidate(iterm)) return false;
    CDB_ATOM_OTERM* src_oterm = iterm->get_source();
    MORV_ASSERT_TEXT(src_oterm, "src_oterm");
    MORV_ASSERT_TEXT(src_oterm->get_my_node(), "src_node");
    m_iterms_to_disconnect.insert(iterm);
    // What the cell reads at power-up is the register's output; the data
    // input's inversion moves onto the term when it is disconnected.
    reg = describe_register(src_oterm->get_my_node());
    return true;
}

bool MORV_RETIMING_4LUT::is_forward_push_candidate(CDB_ATOM_ITERM* iterm)
{
    MORV_ASSERT_TEXT(iterm, "iterm");
    const auto refuse = [](const char* reason) {
        MORV_DEBUG_STREAM::print(100, "%s", reason);
        return false;
    };
    CDB_ATOM_NODE* node = iterm->get_my_node();
    if (node->is_lcell_comb() && m_net_util->is_in_arithmetic_mode(node) && iterm->get_any_usage_as() == DB_DATA_D &&
        !iterm->is_vcc())
        return refuse("FP: NO VCC ON ARITHMETIC DATAD INPUT");
    CDB_ATOM_OTERM* source = iterm->get_source();
    if (source == nullptr || !m_net_util->is_lcell(source->get_my_node())) return refuse("FP: NON-LCELL");
    CDB_ATOM_NODE* reg_node = source->get_my_node();
    if (m_remove_set.contains(reg_node)) return refuse("FP: DELETE-SET");
    if (!source->is_used_as(DB_REG_OUT)) return refuse("FP: NON_REGOUT");
    if (is_register_complex(reg_node, true)) return refuse("FP: REG-COMPLEX");
    if (m_fsyn_api->is_oterm_dont_touch(source, AMM_OP_FITTER_FSYN_RETIME)) return refuse("FP: DONT TOUCH");
    CDB_ATOM_ITERM* data = get_effective_data_input(reg_node);
    if (data == nullptr || !data->is_driven()) return false;
    if (m_greedy && !oslack_less_islack(reg_node, 0.0, false)) return refuse("FP: GREEDY SLACK VIOLATION");
    return !has_register_feedback(reg_node) && !feeds_own_control(reg_node);
}

bool MORV_RETIMING_4LUT::is_push_allowed(CDB_ATOM_NODE* node)
{
    MORV_ASSERT_TEXT(node, "node");
    if (is_inverter_lut(node)) return false;
    CDB_ATOM_OTERM* comb = node->get_output_term_by_type(DB_COMB_OUT);
    if (comb == nullptr || !comb->has_fanout()) {
        if (m_fsyn_api->is_atom_dont_touch(static_cast<int>(node->get_id()), AMM_OP_FITTER_FSYN_RETIME)) return false;
        if (m_retime_backwards && !m_has_current_register) return false;
        return true;
    }
    return !m_fsyn_api->is_oterm_dont_touch(comb, AMM_OP_FITTER_FSYN_RETIME);
}

bool MORV_RETIMING_4LUT::is_inverter_lut(CDB_ATOM_NODE* node)
{
    MORV_ASSERT_TEXT(node, "node");
    return node->is_lcell_comb() && inverts_its_source(node);
}

void MORV_RETIMING_4LUT::add_retime_iterm(const RETIME_REG& reg, CDB_ATOM_NODE* node, int port_type,
                                          bool initial_condition)
{
    MORV_ASSERT_TEXT(node, "node");
    MORV_ASSERT_TEXT(port_type >= 0 && port_type < DB_MAX_INPUT_PORT_TYPE,
                     "port_type >= 0 && port_type < DB_MAX_INPUT_PORT_TYPE");
    CDB_ATOM_ITERM* iterm = node->get_input_term_by_type(port_type);
    if (iterm == nullptr || !iterm->is_connected()) return;
    RETIME_ITERM entry;
    entry.slack = get_iterm_slack(iterm);
    entry.iterm = iterm;
    entry.reg = reg;
    entry.reg.clear_low = initial_condition;
    entry.initial_condition = initial_condition;
    insert_set1.insert(entry);
    MORV_DEBUG_STREAM::print(100, "add_retime_iterm (): insert_set1 %s %d", MORV_NET_UTIL::get_edge_name(iterm).c_str(),
                             entry.slack);
}

bool MORV_RETIMING_4LUT::is_retimeable_iterm(CDB_ATOM_ITERM* iterm)
{
    MORV_ASSERT_TEXT(iterm, "iterm");
    return iterm->get_my_node()->is_lcell_comb() && m_net_util->is_lut_data_input(iterm) &&
           m_fsyn_api->get_assigned_boundary_port_id(iterm) == -1;
}

void MORV_RETIMING_4LUT::delete_node(CDB_ATOM_NODE* node)
{
    MORV_ASSERT_TEXT(node, "node");
    m_fsyn_api->delete_node(node);
}

bool MORV_RETIMING_4LUT::has_critical_input(CDB_ATOM_NODE* node)
{
    MORV_ASSERT_TEXT(node, "node");
    if (node->is_mac_mult() || node->is_mac_out()) return has_critical_mac_input(node);
    for (int port : {DB_DATA_A, DB_DATA_B, DB_DATA_C, DB_DATA_D, DB_CARRY_IN})
        if (is_input_critical(node, port)) return true;
    return false;
}

bool MORV_RETIMING_4LUT::oslack_less_islack(CDB_ATOM_NODE* node, double margin, bool threshold)
{
    if (node->is_mac_mult() || node->is_mac_out())
        return mac_oslack_less_islack(node, DB_MAX_INPUT_PORT_TYPE, margin, threshold);
    return register_oslack_less_islack(node, margin, threshold);
}

void MORV_RETIMING_4LUT::place_next_to(CDB_ATOM_NODE* loc_node, CDB_ATOM_NODE* new_node)
{
    copy_location(loc_node, new_node);
}
