// How UVO retiming finds the register a push moves and which pushes it
// allows. A UVO register sits inside a logic cell: behind a wire LUT (the
// cell's register stores what the LUT passes on) or behind the synchronous
// data input when the synchronous load is tied high.
#include <algorithm>

#include "cdb/cdb_atom_netlist.h"
#include "hdb/hdb_instance_name.h"

#include "morv/core/morv_api.h"
#include "morv/core/morv_assert.h"
#include "morv/core/morv_debug_stream.h"
#include "morv/core/morv_env.h"
#include "morv/netlist/morv_atom_query.h"
#include "morv/netlist/morv_net_util.h"
#include "morv/netlist/morv_nt.h"
#include "morv/retiming/morv_retiming_family.h"
#include "morv/retiming/morv_retiming_internal.h"
#include "morv/timing/morv_timing.h"

namespace {

const int k_forward_ports[] = {DB_DATA_A, DB_DATA_B, DB_DATA_C, DB_DATA_D, DB_REG_CONTROL};

bool is_forward_port_term(CDB_ATOM_ITERM* iterm)
{
    for (int port : k_forward_ports)
        if (iterm->is_used_as(port)) return true;
    return false;
}

}  // namespace

void MORV_RETIMING_UVO::collect_carry_chain_cone(CDB_ATOM_NODE* node, RETIME_NODE_SET& cone)
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

void MORV_RETIMING_UVO::collect_fanin_cone(CDB_ATOM_NODE* node, int port_type, RETIME_NODE_SET& cone, int depth)
{
    MORV_ASSERT_TEXT(node, "node");
    if (!node->is_lcell() || depth >= 4 || !m_net_util->is_connected(node, port_type)) return;
    CDB_ATOM_OTERM* source = node->get_input_term_by_type(port_type)->get_source();
    if (source == nullptr || !source->get_my_node()->is_lcell() || source->is_used_as(DB_REG_OUT)) return;
    CDB_ATOM_NODE* driver = source->get_my_node();
    cone.insert(driver);
    for (int port : MORV_RETIMING_LUT4_PORTS) collect_fanin_cone(driver, port, cone, depth + 1);
}

bool MORV_RETIMING_UVO::is_lutout_feeding_regout(CDB_ATOM_NODE* node)
{
    MORV_ASSERT_TEXT(node, "node");
    if (!m_net_util->is_register_present(node) || m_net_util->is_connected(node, DB_REG_CASCADE_IN)) return false;
    return !is_sload_always(node);
}

bool MORV_RETIMING_UVO::get_lutout_register(CDB_ATOM_NODE* node, RETIME_REG& reg)
{
    MORV_ASSERT_TEXT(node, "node");
    MORV_ASSERT_TEXT(is_lutout_feeding_regout(node), "is_lutout_feeding_regout(node)");
    if (m_remove_set.contains(node) || m_new_registers.contains(node)) return false;
    reg = describe_register(node);
    if (delete_set0.insert(node))
        m_consumed_register_ids.push_back(MORV_NT_NODE_ID(static_cast<int>(node->get_id()), 0));
    return !(m_greedy && oslack_less_islack(node, 0.0, false));
}

CDB_ATOM_OTERM* MORV_RETIMING_UVO::backward_push_get_reg(CDB_ATOM_ITERM* iterm, RETIME_REG& reg, bool)
{
    MORV_ASSERT_TEXT(iterm, "iterm");
    CDB_ATOM_NODE* node = iterm->get_my_node();
    MORV_ASSERT_TEXT(node, "node");
    if (node->is_mac_mult() && m_mac_retiming_enabled) return get_packed_input_register(iterm, reg, "MAC_UVO");
    if (!m_net_util->is_lcell(node)) return nullptr;
    return get_lcell_register(iterm, reg);
}

// The register's value is what the LUT passes on (or the synchronous data
// reads), so its power-up value as the source sees it folds in the term's
// own inversion bit as well as an inverting wire LUT.
CDB_ATOM_OTERM* MORV_RETIMING_UVO::get_lcell_register(CDB_ATOM_ITERM* iterm, RETIME_REG& reg)
{
    CDB_ATOM_NODE* node = iterm->get_my_node();
    if (!m_net_util->is_register_present(node) || is_register_complex(node, true) || has_register_feedback(node))
        return nullptr;
    CDB_ATOM_OTERM* source = iterm->get_source();
    if (source != nullptr && feeds_control_of(node, source->get_my_node())) return nullptr;
    bool inverted = iterm->is_driven() && iterm->is_inverted();
    const bool sdata_path = iterm->is_used_as(DB_SYNCH_DATA) && !iterm->is_used_as(DB_DATA_C);
    if (sdata_path) {
        // The synchronous data feeds the register only while the load is held high.
        if (!is_sload_always(node)) return nullptr;
    } else {
        if (!m_net_util->is_lut_data_input(iterm) || !is_wire_lut(node) || !is_lutout_feeding_regout(node) ||
            m_net_util->is_in_qfbk_mode(node) || morv_oterm_has_fanout(node->get_output_term_by_type(DB_COMB_OUT)))
            return nullptr;
        inverted = inverted != is_inverting_wire_lut(node);
    }
    CDB_ATOM_OTERM* regout = node->get_output_term_by_type(DB_REG_OUT);
    MORV_ASSERT_TEXT(regout, "regout");
    if (m_fsyn_api->is_oterm_dont_touch(regout, AMM_OP_FITTER_FSYN_RETIME)) return nullptr;
    reg = describe_register(node);
    reg.clear_low = !inverted;
    return regout;
}

void MORV_RETIMING_UVO::get_forward_push_ports(CDB_ATOM_NODE*, int& count, int* port_types)
{
    MORV_ASSERT_TEXT(port_types, "forward_push_ports_ret");
    count = 0;
    for (int port : k_forward_ports) port_types[count++] = port;
}

bool MORV_RETIMING_UVO::is_free_data_input(CDB_ATOM_NODE* node, CDB_ATOM_ITERM* iterm, int port_type)
{
    MORV_ASSERT_TEXT(node, "node");
    return !morv_iterm_connected(iterm) && port_type == DB_DATA_C && m_net_util->is_in_qfbk_mode(node);
}

bool MORV_RETIMING_UVO::is_excluded_iterm(CDB_ATOM_ITERM* iterm)
{
    MORV_ASSERT_TEXT(iterm, "iterm");
    return iterm->is_used_as(DB_SYNCH_DATA);
}

bool MORV_RETIMING_UVO::get_input_register(CDB_ATOM_ITERM* iterm, RETIME_REG& reg)
{
    MORV_ASSERT_TEXT(iterm, "iterm");
    CDB_ATOM_NODE* node = iterm->get_my_node();
    MORV_ASSERT_TEXT(node, "node");
    if (!is_forward_port_term(iterm)) {
        // The cell's own register, fed back into its LUT.
        if (is_register_complex(node, true)) {
            MORV_DEBUG_STREAM::print(100, "FP: COMPLEX QFBK");
            return false;
        }
        reg = describe_register(node);
        m_iterms_to_disconnect.insert(iterm);
        return true;
    }
    if (!is_forward_push_candidate(iterm)) return false;
    CDB_ATOM_OTERM* src_oterm = iterm->get_source();
    MORV_ASSERT_TEXT(src_oterm, "src_oterm");
    CDB_ATOM_NODE* src_node = src_oterm->get_my_node();
    MORV_ASSERT_TEXT(src_node, "src_node");
    const bool already = !delete_set0.insert(src_node);
    if (already) MORV_DEBUG_STREAM::print(100, "FP: Already Deleted");
    m_iterms_to_disconnect.insert(iterm);
    reg = describe_register(src_node);
    if (src_node == node) return true;
    if (feeds_control_of(node, src_node)) return false;
    if (m_net_util->is_in_qfbk_mode(src_node) && !already) {
        CDB_ATOM_ITERM* qfbk = src_node->get_input_term_by_type(DB_SYNCH_DATA);
        MORV_ASSERT_TEXT(qfbk, "qfbk");
        if (qfbk->get_source() != nullptr && qfbk->get_source()->get_my_node() == node) return false;
    }
    return oslack_less_islack(src_node, 0.0, false) || !m_greedy;
}

bool MORV_RETIMING_UVO::is_forward_push_candidate(CDB_ATOM_ITERM* iterm)
{
    MORV_ASSERT_TEXT(iterm, "iterm");
    const auto refuse = [](const char* reason) {
        if (reason != nullptr) MORV_DEBUG_STREAM::print(100, "%s", reason);
        return false;
    };
    CDB_ATOM_OTERM* source = iterm->get_source();
    if (source == nullptr || !m_net_util->is_lcell(source->get_my_node())) return refuse("FP: NON-LCELL");
    CDB_ATOM_NODE* driver = source->get_my_node();
    if (m_remove_set.contains(driver)) return refuse("FP: DELETE-SET");
    if (!source->is_used_as(DB_REG_OUT)) return refuse("FP: NON_REGOUT");
    if (!m_net_util->is_register_present(driver) || is_register_complex(driver, true)) return refuse("FP: REG-COMPLEX");
    if (m_net_util->is_connected(driver, DB_REG_CASCADE_IN)) return refuse("FP: REG-CASCADE");
    if (m_net_util->is_in_qfbk_mode(driver) && is_lutout_feeding_regout(driver)) return refuse("FP: INT-QFBK");
    if (has_register_feedback(driver)) return refuse("FP: SELF-CONTROL LOOP");
    if (m_fsyn_api->is_oterm_dont_touch(source, AMM_OP_FITTER_FSYN_RETIME)) return refuse("FP: DONT TOUCH");
    for (auto it = source->begin_iterm_fanout(); it != source->end_iterm_fanout(); ++it)
        if ((*it)->is_used_as(DB_REG_CASCADE_IN)) return refuse(nullptr);
    return true;
}

bool MORV_RETIMING_UVO::is_register_complex(CDB_ATOM_NODE* node, bool flag)
{
    MORV_ASSERT_TEXT(node, "node");
    MORV_ASSERT_TEXT(m_net_util->is_register_present(node), "m_net_util->is_register_present(node)");
    if (m_net_util->is_in_register_cascade(node)) return true;
    if (is_sload_always(node) && !m_net_util->is_in_qfbk_mode(node) && !m_net_util->is_connected(node, DB_DATA_C))
        return true;
    CDB_ATOM_ITERM* aload = node->get_input_term_by_type(DB_ASYNCH_LOAD);
    if (morv_iterm_connected(aload) && !aload->is_logical_gnd()) return true;
    CDB_ATOM_ITERM* sload = node->get_input_term_by_type(DB_SYNCH_LOAD);
    if (morv_iterm_connected(sload) && !sload->is_logical_gnd() && !sload->is_logical_vcc()) return true;
    return flag && m_fsyn_api->has_connected_secondary_iterm(node, !m_retime_side_clocks);
}

bool MORV_RETIMING_UVO::is_push_allowed(CDB_ATOM_NODE* node)
{
    MORV_ASSERT_TEXT(node, "node");
    CDB_ATOM_OTERM* regout = node->get_output_term_by_type(DB_REG_OUT);
    const bool dont_touch = m_fsyn_api->is_atom_dont_touch(static_cast<int>(node->get_id()), AMM_OP_FITTER_FSYN_RETIME);
    if (!morv_oterm_has_fanout(node->get_output_term_by_type(DB_COMB_OUT)) && !morv_oterm_has_fanout(regout))
        return !dont_touch && !(m_retime_backwards && !m_has_current_register);
    if (!m_net_util->is_register_present(node)) return !dont_touch;
    if (is_register_complex(node, true)) return false;
    if (m_retime_backwards && regout != nullptr) {
        for (auto it = regout->begin_iterm_fanout(); it != regout->end_iterm_fanout(); ++it)
            for (int port : {DB_CLEAR, DB_CLOCK, DB_ASYNCH_LOAD, DB_ASYNCH_DATA, DB_REG_CASCADE_IN})
                if ((*it)->is_used_as(port)) return false;
    }
    if (regout != nullptr && m_fsyn_api->is_oterm_dont_touch(regout, AMM_OP_FITTER_FSYN_RETIME)) return false;
    if (has_register_feedback(node)) return false;
    if (is_lutout_feeding_regout(node)) return !m_net_util->is_in_qfbk_mode(node);
    if (!m_net_util->is_connected(node, DB_SYNCH_DATA) && !m_net_util->is_connected(node, DB_ASYNCH_DATA)) return true;
    CDB_ATOM_ITERM* data_c = node->get_input_term_by_type(DB_DATA_C);
    return data_c == nullptr || !data_c->is_connected();
}

bool MORV_RETIMING_UVO::has_extra_input(CDB_ATOM_NODE* node)
{
    MORV_ASSERT_TEXT(node, "node");
    return m_net_util->is_connected(node, DB_REG_CASCADE_IN);
}

bool MORV_RETIMING_UVO::has_register_feedback(CDB_ATOM_NODE* node)
{
    MORV_ASSERT_TEXT(node, "node");
    CDB_ATOM_OTERM* regout = node->get_output_term_by_type(DB_REG_OUT);
    if (regout == nullptr) return false;
    for (auto it = regout->begin_iterm_fanout(); it != regout->end_iterm_fanout(); ++it) {
        CDB_ATOM_ITERM* fiterm = *it;
        MORV_ASSERT_TEXT(fiterm, "fiterm");
        if (fiterm->get_my_node() == node && !m_net_util->is_lut_data_input(fiterm)) return true;
    }
    return false;
}

bool MORV_RETIMING_UVO::is_inverter_lut(CDB_ATOM_NODE* node)
{
    MORV_ASSERT_TEXT(node, "node");
    if (!node->is_lcell() || !inverts_its_source(node)) return false;
    return !morv_oterm_has_fanout(node->get_output_term_by_type(DB_REG_OUT)) && !m_net_util->is_in_qfbk_mode(node);
}

bool MORV_RETIMING_UVO::is_retimeable_iterm(CDB_ATOM_ITERM* iterm)
{
    MORV_ASSERT_TEXT(iterm, "iterm");
    if (!iterm->get_my_node()->is_lcell() || !m_net_util->is_lut_data_input(iterm)) return false;
    if (iterm->is_used_as(DB_SYNCH_DATA) || iterm->is_used_as(DB_ASYNCH_DATA)) return false;
    return m_fsyn_api->get_assigned_boundary_port_id(iterm) == -1;
}

bool MORV_RETIMING_UVO::has_critical_input(CDB_ATOM_NODE* node)
{
    MORV_ASSERT_TEXT(node, "node");
    if (node->is_mac_mult() || node->is_mac_out()) return has_critical_mac_input(node);
    for (int port : {DB_DATA_A, DB_DATA_B, DB_DATA_C, DB_DATA_D, DB_SYNCH_DATA, DB_REG_CONTROL, DB_CARRY_IN,
                     DB_CHAIN_IN_0, DB_CHAIN_IN_1})
        if (is_input_critical(node, port)) return true;
    return false;
}

namespace {

// The smallest ratio below the running one; a term rewritten in this
// iteration or not connected counts as 1.0.
double least_ratio(double running, CDB_ATOM_ITERM* iterm, const RETIME_HASH_SET<CDB_ATOM_ITERM*>& touched,
                   MORV_TIMING* timing)
{
    if (iterm == nullptr || !iterm->is_connected() || touched.contains(iterm)) return running;
    return std::min(running, timing->get_slack_ratio(iterm));
}

}  // namespace

bool MORV_RETIMING_UVO::oslack_less_islack(CDB_ATOM_NODE* node, double margin, bool threshold)
{
    MORV_ASSERT_TEXT(node, "node");
    if (node->is_mac_mult() || node->is_mac_out())
        return mac_oslack_less_islack(node, DB_MAX_INPUT_PORT_TYPE, margin, threshold);
    double oslack = 1.0;
    CDB_ATOM_OTERM* regout = node->get_output_term_by_type(DB_REG_OUT);
    if (regout != nullptr)
        for (auto it = regout->begin_iterm_fanout(); it != regout->end_iterm_fanout(); ++it)
            oslack = least_ratio(oslack, *it, m_touched_iterms, m_fsyn_timing);
    double islack = 1.0;
    for (int port : MORV_RETIMING_LUT4_PORTS)
        islack = least_ratio(islack, node->get_input_term_by_type(port), m_touched_iterms, m_fsyn_timing);
    if (threshold && m_retime_backwards && oslack >= m_slack_ratio_threshold) {
        MORV_DEBUG_STREAM::print(100, "oslack_less_islack () [backward pushing]: output slack ratio is not below "
                                      "threshold, so returning FALSE regardless of actual slack ratios");
        return false;
    }
    if (threshold && !m_retime_backwards && islack >= m_slack_ratio_threshold) {
        MORV_DEBUG_STREAM::print(100, "oslack_less_islack () [forward pushing]: input slack ratio is not below "
                                      "threshold, so returning TRUE regardless of actual slack ratios");
        return true;
    }
    return oslack + margin < islack;
}

unsigned MORV_RETIMING_UVO::power_up_value(CDB_ATOM_NODE* node, int port)
{
    CDB_ATOM_ITERM* iterm = node->get_input_term_by_type(port);
    if (!morv_iterm_connected(iterm)) return 0;
    if (!iterm->is_driven()) return iterm->is_logical_vcc() ? 1u : 0u;
    return iterm->is_inverted() ? 1u : 0u;
}
