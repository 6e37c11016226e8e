// Power-up values of the registers an MRL push creates. A backward push
// across an hsadder plans registers on its four data inputs whose sums at
// power-up are what the registers behind its two sum outputs held; a
// forward push gives each used output of a cell (or an hsadder) a register
// powering up to what that output computed from the pushed registers.
#include "cdb/cdb_atom_netlist.h"
#include "hdb/hdb_instance_name.h"

#include "morv/core/morv_assert.h"
#include "morv/core/morv_debug_stream.h"
#include "morv/netlist/morv_atom_query.h"
#include "morv/netlist/morv_net_util.h"
#include "morv/retiming/morv_retiming_mrl.h"

namespace {

constexpr int k_hsadder_inputs = 4;

// An input's index bit is the value its register holds; the adder sees it
// through the term's inversion. A constant input sees its constant unless
// it is to get a register (the bit differs then); an unconnected one reads 0.
void hsadder_inputs(CDB_ATOM_NODE* node, unsigned index, unsigned* values)
{
    for (int k = 0; k < k_hsadder_inputs; ++k) {
        CDB_ATOM_ITERM* iterm = node->get_input_term_by_type(DB_DATA_A + k);
        const unsigned bit = (index >> k) & 1u;
        if (iterm == nullptr || !iterm->is_connected()) values[k] = 0;
        else values[k] = iterm->is_driven() ? (bit ^ (iterm->is_inverted() ? 1u : 0u)) : bit;
    }
}

// The register values of A to D for one try: B and D (the second addends)
// vary slowest, so that with plain inputs and no carry the registers on B
// and D hold 0, A the first sum and C the second.
unsigned hsadder_index(unsigned attempt)
{
    const unsigned ac = attempt & 3u, bd = attempt >> 2;
    return (ac & 1u) | ((bd & 1u) << 1) | ((ac >> 1) << 2) | ((bd >> 1) << 3);
}

}  // namespace

bool MORV_RETIMING_MRL::create_input_registers(CDB_ATOM_NODE* node, RETIME_REG& reg, bool& carry_low_ret,
                                               bool& share_low_ret)
{
    MORV_ASSERT_TEXT(node, "node");
    if (node->is_lcell_hsadder()) return create_hsadder_input_registers(node, reg, carry_low_ret);
    if (m_net_util->is_lcell_part_of_a_carry_chain(node))
        return share_ale_push_back(node, reg, carry_low_ret, share_low_ret);
    return search_lut(node, reg);
}

bool MORV_RETIMING_MRL::create_hsadder_input_registers(CDB_ATOM_NODE* node, const RETIME_REG& reg, bool& carry_low_ret)
{
    const int carry_in = hsadder_carry_in(node, carry_low_ret);
    const bool sum0 = morv_output_has_fanout(node, DB_HSADDER_SUM_0),
               sum1 = morv_output_has_fanout(node, DB_HSADDER_SUM_1);
    const unsigned want0 = reg.clear_low ? 0u : 1u, want1 = reg.secondary_clear_low ? 0u : 1u;
    unsigned values[MORV_EVALUATE_INPUT_COUNT] = {};
    for (unsigned attempt = 0; carry_in >= 0 && attempt < (1u << k_hsadder_inputs); ++attempt) {
        const unsigned index = hsadder_index(attempt);
        hsadder_inputs(node, index, values);
        values[MORV_EVALUATE_CARRY_IN] = static_cast<unsigned>(carry_in);
        if (sum0 && node->evaluate_output(DB_HSADDER_SUM_0, values) != want0) continue;
        if (sum1 && node->evaluate_output(DB_HSADDER_SUM_1, values) != want1) continue;
        for (int k = 0; k < k_hsadder_inputs; ++k) {
            CDB_ATOM_ITERM* iterm = node->get_input_term_by_type(DB_DATA_A + k);
            if (iterm == nullptr || !iterm->is_connected()) continue;
            const unsigned bit = (index >> k) & 1u;
            if (!iterm->is_driven() && (iterm->is_logical_vcc() ? 1u : 0u) == bit) continue;
            add_retime_iterm(reg, node, DB_DATA_A + k, bit == 0);
        }
        carry_low_ret = node->evaluate_output(DB_CHAIN_OUT_0, values) == 0;
        return true;
    }
    MORV_DEBUG_STREAM::print(100, "1. FAILED IC {%s}", path_of(node));
    return false;
}

// A single cell of a shared-arithmetic chain; the pair search of the other
// 6-LUT families is not used on this family.
bool MORV_RETIMING_MRL::share_ale_push_back(CDB_ATOM_NODE* node, RETIME_REG& reg, bool& carry_low_ret,
                                            bool& share_low_ret)
{
    MORV_ASSERT_TEXT(node, "node");
    if (m_created_node_set.contains(node)) {
        MORV_DEBUG_STREAM::print(100, "not creating node %d because it should have been already done",
                                 static_cast<int>(node->get_id()));
        return true;
    }
    MORV_ASSERT_TEXT(!m_net_util->is_connected(node, DB_DATA_E), "!m_net_util->is_connected(node, ::DB_DATA_E)");
    MORV_ASSERT_TEXT(!m_net_util->is_connected(node, DB_DATA_G), "!m_net_util->is_connected(node, ::DB_DATA_G)");
    return search_share_ale_single(node, reg, carry_low_ret, share_low_ret);
}

// A register reached through a wire LUT that inverts is seen as 1 at
// power-up, every other as 0; the term's own inversion bit then applies.
void MORV_RETIMING_MRL::forward_input_values(CDB_ATOM_NODE* node, int last_port, unsigned* values)
{
    for (int k = 0; k < MORV_EVALUATE_INPUT_COUNT; ++k) values[k] = 0;
    for (int port = DB_DATA_A; port <= last_port; ++port) {
        CDB_ATOM_ITERM* iterm = node->get_input_term_by_type(port);
        if (iterm == nullptr || !iterm->is_connected()) continue;
        if (!iterm->is_driven()) {
            MORV_ASSERT_TEXT(iterm->is_logical_vcc() || iterm->is_logical_gnd(), "iterm->is_logical_vcc()");
            values[port - DB_DATA_A] = iterm->is_logical_vcc() ? 1u : 0u;
            continue;
        }
        bool through_invert = false;
        CDB_ATOM_NODE* reg_node = find_input_register(iterm, &through_invert);
        const unsigned stored = reg_node != nullptr && !describe_register(reg_node).clear_low ? 1u : 0u;
        values[port - DB_DATA_A] = seen_value(iterm, stored ^ (through_invert ? 1u : 0u));
    }
}

bool MORV_RETIMING_MRL::create_output_registers(CDB_ATOM_NODE* node, RETIME_REG& reg, bool& carry_low_ret,
                                                bool& share_low_ret)
{
    MORV_ASSERT_TEXT(node, "node");
    if (node->is_lcell_hsadder()) return create_hsadder_output_registers(node, reg, carry_low_ret);
    return create_comb_output_registers(node, reg, carry_low_ret, share_low_ret);
}

bool MORV_RETIMING_MRL::create_hsadder_output_registers(CDB_ATOM_NODE* node, const RETIME_REG& reg, bool& carry_low_ret)
{
    unsigned values[MORV_EVALUATE_INPUT_COUNT];
    forward_input_values(node, DB_DATA_D, values);
    const int carry_in = hsadder_carry_in(node, carry_low_ret);
    if (carry_in < 0) return false;
    values[MORV_EVALUATE_CARRY_IN] = static_cast<unsigned>(carry_in);
    carry_low_ret = node->evaluate_output(DB_CHAIN_OUT_0, values) == 0;
    RETIME_REG out_reg = reg;
    for (int port : {DB_HSADDER_SUM_0, DB_HSADDER_SUM_1}) {
        if (!morv_output_has_fanout(node, port)) continue;
        out_reg.clear_low = node->evaluate_output(port, values) == 0;
        m_output_registers[node->get_output_term_by_type(port)] = out_reg;
    }
    return true;
}

// A chain cell whose comb output is used gets that output's register from
// the comb function itself, not from the sum.
bool MORV_RETIMING_MRL::create_comb_output_registers(CDB_ATOM_NODE* node, const RETIME_REG& reg, bool& carry_low_ret,
                                                     bool& share_low_ret)
{
    unsigned values[MORV_EVALUATE_INPUT_COUNT];
    forward_input_values(node, DB_DATA_G, values);
    // Outside a chain the carry and share inputs read 0 (both flags stay set).
    values[MORV_EVALUATE_CARRY_IN] = carry_low_ret ? 0u : 1u;
    values[MORV_EVALUATE_SHARE_IN] = share_low_ret ? 0u : 1u;
    if (m_net_util->is_lcell_part_of_a_carry_chain(node)) {
        carry_low_ret = (m_net_util->evaluate_carry_out(node, values) & 1u) == 0;
        share_low_ret = (m_net_util->evaluate_share_out(node, values) & 1u) == 0;
    }
    const unsigned sum = m_net_util->evaluate_sum_out(node, values);
    const unsigned comb = m_net_util->evaluate_comb_out(node, values);
    if ((morv_output_has_fanout(node, DB_COMB_OUT) && comb == MORV_NO_LUT_VALUE) ||
        (morv_output_has_fanout(node, DB_SUM_OUT) && sum == MORV_NO_LUT_VALUE)) {
        MORV_DEBUG_STREAM::print(100, "WARNING: forward push aborted due to combout and carry chain");
        return false;
    }
    RETIME_REG out_reg = reg;
    if (morv_output_has_fanout(node, DB_COMB_OUT)) {
        out_reg.clear_low = (comb & 1u) == 0;
        m_output_registers[node->get_output_term_by_type(DB_COMB_OUT)] = out_reg;
    }
    if (morv_output_has_fanout(node, DB_SUM_OUT)) {
        out_reg.clear_low = (sum & 1u) == 0;
        m_output_registers[node->get_output_term_by_type(DB_SUM_OUT)] = out_reg;
    }
    return true;
}
