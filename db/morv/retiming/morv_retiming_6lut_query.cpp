// How the 6-LUT branch finds a register behind or in front of a cell input
// and which pushes it allows.
#include <algorithm>

#include "cdb/cdb_atom_netlist.h"
#include "cut/cut_block_util.h"
#include "hdb/hdb_instance_name.h"

#include "morv/core/morv_api.h"
#include "morv/core/morv_assert.h"
#include "morv/core/morv_env.h"
#include "morv/core/morv_debug_stream.h"
#include "morv/netlist/morv_atom_query.h"
#include "morv/netlist/morv_chip_map.h"
#include "morv/netlist/morv_net_util.h"
#include "morv/netlist/morv_region_map.h"
#include "morv/retiming/morv_retiming_6lut.h"
#include "morv/retiming/morv_retiming_internal.h"
#include "morv/timing/morv_timing.h"

namespace {

const int k_feedback_ports[] = {DB_CLOCK, DB_CLOCK_ENABLE, DB_CLEAR, DB_SYNCH_CLEAR};

}  // namespace

MORV_RETIMING_6LUT::MORV_RETIMING_6LUT(MORV_API* api, const MORV_PARAMETER_MAP* params) : MORV_RETIMING(api, params)
{
    m_num_lut_inputs = 6;
    m_num_combinations = 64;
}

MORV_RETIMING_6LUT::~MORV_RETIMING_6LUT() = default;

void MORV_RETIMING_6LUT::collect_carry_chain_cone(CDB_ATOM_NODE* node, RETIME_NODE_SET& cone)
{
    MORV_ASSERT_TEXT(node, "node");
    MORV_ASSERT_TEXT(m_net_util->is_lcell_part_of_a_carry_chain(node),
                     "m_net_util->is_lcell_part_of_a_carry_chain(node)");
    for (CDB_ATOM_NODE* cell = m_net_util->get_carry_chain_head(node); cell != nullptr;
         cell = m_net_util->get_next_node_in_carry_chain(cell))
        for (int port : MORV_RETIMING_LUT6_PORTS) collect_fanin_cone(cell, port, cone, 0);
}

void MORV_RETIMING_6LUT::collect_fanin_cone(CDB_ATOM_NODE* node, int port_type, RETIME_NODE_SET& cone, int depth)
{
    MORV_ASSERT_TEXT(node, "node");
    if (!node->is_lcell_comb() || depth >= 5 || !m_net_util->is_connected(node, port_type)) return;
    CDB_ATOM_OTERM* source = node->get_input_term_by_type(port_type)->get_source();
    if (source == nullptr || !source->get_my_node()->is_lcell_comb()) return;
    CDB_ATOM_NODE* driver = source->get_my_node();
    cone.insert(driver);
    for (int port : MORV_RETIMING_LUT6_PORTS) collect_fanin_cone(driver, port, cone, depth + 1);
}

CDB_ATOM_OTERM* MORV_RETIMING_6LUT::get_secondary_output_term(CDB_ATOM_NODE* node)
{
    MORV_ASSERT_TEXT(node, "node");
    return node->get_output_term_by_type(DB_SUM_OUT);
}

void MORV_RETIMING_6LUT::get_forward_push_ports(CDB_ATOM_NODE*, int& count, int* port_types)
{
    count = 0;
    for (int port : MORV_RETIMING_LUT6_PORTS) port_types[count++] = port;
}

bool MORV_RETIMING_6LUT::is_register_complex(CDB_ATOM_NODE* node, bool flag)
{
    MORV_ASSERT_TEXT(node, "node");
    if (!m_net_util->is_ff(node)) return false;
    CDB_ATOM_ITERM* aload = node->get_input_term_by_type(DB_ASYNCH_LOAD);
    if (aload != nullptr && aload->is_connected() && !aload->is_logical_gnd()) return true;
    CDB_ATOM_ITERM* sload = node->get_input_term_by_type(DB_SYNCH_LOAD);
    if (sload != nullptr && sload->is_connected() && !sload->is_logical_gnd() && !sload->is_logical_vcc()) return true;
    return flag && m_fsyn_api->has_connected_secondary_iterm(node, !m_retime_side_clocks);
}

bool MORV_RETIMING_6LUT::has_register_feedback(CDB_ATOM_NODE* node)
{
    MORV_ASSERT_TEXT(node, "node");
    MORV_ASSERT_TEXT(m_net_util->is_ff(node), "m_net_util->is_ff(node)");
    for (int port : k_feedback_ports) {
        CDB_ATOM_ITERM* iterm = node->get_input_term_by_type(port);
        if (iterm != nullptr && iterm->get_source() != nullptr && iterm->get_source()->get_my_node() == node)
            return true;
    }
    return false;
}

// A register reached through its effective data input: one that always
// loads its synchronous data is only reached through that.
bool MORV_RETIMING_6LUT::is_register_candidate(CDB_ATOM_NODE* reg_node, CDB_ATOM_ITERM* data_iterm, bool flag)
{
    if (!m_net_util->is_ff(reg_node) || is_register_complex(reg_node, flag)) return false;
    if (get_effective_data_input(reg_node) != data_iterm || has_register_feedback(reg_node)) return false;
    CDB_ATOM_OTERM* regout = reg_node->get_output_term_by_type(DB_REG_OUT);
    return regout != nullptr && !m_fsyn_api->is_oterm_dont_touch(regout, AMM_OP_FITTER_FSYN_RETIME);
}

CDB_ATOM_NODE* MORV_RETIMING_6LUT::find_register_at(CDB_ATOM_ITERM* iterm, bool flag, bool* through_invert)
{
    CDB_ATOM_NODE* node = iterm->get_my_node();
    *through_invert = false;
    if (!node->is_lcell_comb()) return is_register_candidate(node, iterm, flag) ? node : nullptr;
    if (!is_wire_lut(node)) return nullptr;
    CDB_ATOM_OTERM* comb = node->get_output_term_by_type(DB_COMB_OUT);
    if (comb == nullptr || comb->get_number_of_fanout() != 1) return nullptr;
    CDB_ATOM_ITERM* sink = *comb->begin_iterm_fanout();
    if (!is_register_candidate(sink->get_my_node(), sink, flag)) return nullptr;
    // The wire LUT's own input inversion bit is part of what it passes on.
    *through_invert = is_inverting_wire_lut(node) != iterm->is_inverted();
    return sink->get_my_node();
}

CDB_ATOM_OTERM* MORV_RETIMING_6LUT::backward_push_get_reg(CDB_ATOM_ITERM* iterm, RETIME_REG& reg, bool flag)
{
    MORV_ASSERT_TEXT(iterm, "iterm");
    CDB_ATOM_NODE* node = iterm->get_my_node();
    MORV_ASSERT_TEXT(node, "node");
    if (node->is_mac_mult() && m_mac_retiming_enabled) return get_mac_input_register(iterm, reg);
    bool through_invert = false;
    CDB_ATOM_NODE* reg_node = find_register_at(iterm, flag, &through_invert);
    if (reg_node == nullptr) return nullptr;
    reg = describe_pushed_register(reg_node, through_invert);
    return reg.regout;
}

CDB_ATOM_OTERM* MORV_RETIMING_6LUT::get_mac_input_register(CDB_ATOM_ITERM* iterm, RETIME_REG& reg)
{
    return get_packed_input_register(iterm, reg, "MAC_6LUT");
}

bool MORV_RETIMING_6LUT::get_input_register(CDB_ATOM_ITERM* iterm, RETIME_REG& reg)
{
    MORV_ASSERT_TEXT(iterm, "iterm");
    const int port = iterm->get_any_usage_as();
    MORV_ASSERT_TEXT(port >= DB_DATA_A && port <= DB_DATA_G, "is_data_input(iterm)");
    if (!is_forward_push_candidate(iterm)) return false;
    CDB_ATOM_NODE* reg_node = iterm->get_source()->get_my_node();
    if (!delete_set0.insert(reg_node)) MORV_DEBUG_STREAM::print(100, "FP: Already Deleted");
    m_iterms_to_disconnect.insert(iterm);
    // The register's output value at power-up is what the cell reads: its
    // data input's inversion moves onto the term when it is disconnected.
    reg = describe_register(reg_node);
    return true;
}

bool MORV_RETIMING_6LUT::is_forward_push_candidate(CDB_ATOM_ITERM* iterm)
{
    MORV_ASSERT_TEXT(iterm, "iterm");
    const auto refuse = [](const char* reason) {
        MORV_DEBUG_STREAM::print(100, "%s", reason);
        return false;
    };
    CDB_ATOM_OTERM* source = iterm->get_source();
    if (source == nullptr || !m_net_util->is_ff(source->get_my_node())) return refuse("FP: NON-LCELL");
    CDB_ATOM_NODE* reg_node = source->get_my_node();
    if (m_remove_set.contains(reg_node)) return refuse("FP: DELETE-SET");
    if (!source->is_used_as(DB_REG_OUT)) return refuse("FP: NON_REGOUT");
    CDB_ATOM_NODE* node = iterm->get_my_node();
    const bool special = node->is_mac_mult() || node->is_mac_out() || m_net_util->is_lcell_part_of_a_carry_chain(node);
    if ((!m_sload_push || special) && is_register_complex(reg_node, true)) return refuse("FP: REG-COMPLEX on chain");
    CDB_ATOM_ITERM* aload = reg_node->get_input_term_by_type(DB_ASYNCH_LOAD);
    if ((aload != nullptr && aload->is_connected() && !aload->is_logical_gnd()) ||
        m_fsyn_api->has_connected_secondary_iterm(reg_node, !m_retime_side_clocks))
        return refuse("FP: REG-COMPLEX");
    if (m_fsyn_api->is_oterm_dont_touch(source, AMM_OP_FITTER_FSYN_RETIME)) return refuse("FP: DONT TOUCH");
    CDB_ATOM_ITERM* data = get_effective_data_input(reg_node);
    if (data == nullptr || !data->is_connected() || !data->is_driven()) return false;
    if (m_greedy && !oslack_less_islack(reg_node, 0.0, false)) return refuse("FP: GREEDY SLACK VIOLATION");
    if (has_register_feedback(reg_node)) return false;
    return true;
}

bool MORV_RETIMING_6LUT::is_push_allowed(CDB_ATOM_NODE* node)
{
    MORV_ASSERT_TEXT(node, "node");
    if (m_net_util->is_lcell_hsadder(node)) return !is_push_blocked_by_region_map(node);
    const bool comb = morv_output_has_fanout(node, DB_COMB_OUT), sum = morv_output_has_fanout(node, DB_SUM_OUT);
    if (!comb && !sum) {
        if (m_fsyn_api->is_atom_dont_touch(static_cast<int>(node->get_id()), AMM_OP_FITTER_FSYN_RETIME)) return false;
        if (m_retime_backwards && !m_has_current_register) return false;
    }
    if (comb && sum) return false;
    if (is_inverter_lut(node)) return false;
    MORV_REGION_MAP* region_map = m_fsyn_api->get_fsyn_region_map();
    MORV_ASSERT_TEXT(region_map, "fsyn_region_map");
    for (int port : {DB_COMB_OUT, DB_SUM_OUT}) {
        if (!morv_output_has_fanout(node, port)) continue;
        CDB_ATOM_OTERM* out = node->get_output_term_by_type(port);
        if (m_fsyn_api->is_oterm_dont_touch(out, AMM_OP_FITTER_FSYN_RETIME)) return false;
        if (m_retime_backwards) continue;
        for (auto sink = out->begin_iterm_fanout(); sink != out->end_iterm_fanout(); ++sink) {
            if (!region_map->is_node_locked_by_region((*sink)->get_my_node())) continue;
            MORV_DEBUG_STREAM::print(100, "warning: retiming push disabled because of region map");
            return false;
        }
    }
    return true;
}

void MORV_RETIMING_6LUT::add_retime_iterm(const RETIME_REG& reg, CDB_ATOM_NODE* node, int port_type, bool clear_low)
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
    entry.reg.clear_low = clear_low;
    insert_set1.insert(entry);
    MORV_DEBUG_STREAM::print(100, "add_retime_iterm (): insert_set1 %s %d",
                             node->get_instance_name()->get_short_hpath().c_str(), entry.slack);
}

bool MORV_RETIMING_6LUT::is_retimeable_iterm(CDB_ATOM_ITERM* iterm)
{
    MORV_ASSERT_TEXT(iterm, "iterm");
    return iterm->get_my_node()->is_lcell_comb() && m_net_util->is_lut_data_input(iterm) &&
           m_fsyn_api->get_assigned_boundary_port_id(iterm) == -1;
}

void MORV_RETIMING_6LUT::delete_node(CDB_ATOM_NODE* node)
{
    MORV_ASSERT_TEXT(node, "node");
    m_fsyn_api->delete_node(node);
}

bool MORV_RETIMING_6LUT::has_critical_input(CDB_ATOM_NODE* node)
{
    MORV_ASSERT_TEXT(node, "node");
    if (node->is_mac_mult() || node->is_mac_out()) return has_critical_mac_input(node);
    for (int port : {DB_DATA_A, DB_DATA_B, DB_DATA_C, DB_DATA_D, DB_DATA_E, DB_DATA_F, DB_CARRY_IN, DB_SHARE_IN})
        if (is_input_critical(node, port)) return true;
    return false;
}

bool MORV_RETIMING_6LUT::oslack_less_islack(CDB_ATOM_NODE* node, double margin, bool threshold)
{
    if (node->is_mac_mult() || node->is_mac_out())
        return mac_oslack_less_islack(node, DB_MAX_INPUT_PORT_TYPE, margin, threshold);
    return register_oslack_less_islack(node, margin, threshold);
}

CDB_ATOM_NODE* MORV_RETIMING_6LUT::get_duplicate(CDB_ATOM_NODE* node) const
{
    auto found = m_node_to_duplicate_map.find(node);
    return found == m_node_to_duplicate_map.end() ? nullptr : found->second;
}

// New nodes never land on the outermost LAB column or row.
void MORV_RETIMING_6LUT::place_next_to(CDB_ATOM_NODE* loc_node, CDB_ATOM_NODE* new_node)
{
    copy_location(loc_node, new_node);
}
