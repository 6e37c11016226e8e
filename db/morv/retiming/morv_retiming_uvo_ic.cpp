// Power-up values of the registers a push creates on UVO cells. A
// register put on a LUT input holds an index bit exclusive-or the input's
// inversion bit, since insert_register keeps the term's own inversion and
// the LUT reads the register through it; a constant input gets a register
// only when the index bit differs from the constant, and that register
// holds the index bit until the first clock. Unconnected inputs read 0.
#include "cdb/cdb_atom_netlist.h"
#include "hdb/hdb_instance_name.h"

#include "morv/core/morv_assert.h"
#include "morv/core/morv_debug_stream.h"
#include "morv/netlist/morv_atom_query.h"
#include "morv/netlist/morv_net_util.h"
#include "morv/retiming/morv_retiming_family.h"
#include "morv/retiming/morv_retiming_internal.h"

bool MORV_RETIMING_UVO::create_input_registers(CDB_ATOM_NODE* node, RETIME_REG& reg, bool& carry_low_ret,
                                               bool& share_low_ret)
{
    MORV_ASSERT_TEXT(node, "node");
    (void)share_low_ret;
    if (m_net_util->is_lcell_part_of_a_carry_chain(node)) return search_carry(node, reg, carry_low_ret);
    return search_lut(node, reg);
}

void MORV_RETIMING_UVO::plan_input(CDB_ATOM_NODE* node, const RETIME_REG& reg, int port, unsigned seen)
{
    CDB_ATOM_ITERM* iterm = node->get_input_term_by_type(port);
    if (iterm == nullptr || !iterm->is_connected()) {
        if (port == DB_DATA_C && m_net_util->is_in_qfbk_mode(node)) add_retime_iterm(reg, node, port, seen == 0);
        return;
    }
    if (!iterm->is_driven()) {
        if ((iterm->is_logical_vcc() ? 1u : 0u) == seen) return;
        add_retime_iterm(reg, node, port, seen == 0);
        return;
    }
    const unsigned stored = seen ^ (iterm->is_inverted() ? 1u : 0u);
    add_retime_iterm(reg, node, port, stored == 0);
}

// Combinations by increasing number of ones; an unconnected input only
// ever reads 0, so a combination that needs a 1 there is no answer.
bool MORV_RETIMING_UVO::search_lut(CDB_ATOM_NODE* node, const RETIME_REG& reg)
{
    const unsigned wanted = reg.clear_low ? 0u : 1u;
    const uint64_t mask = m_net_util->get_lutmask(node) & 0xffffu;
    unsigned open = 0;
    for (int k = 0; k < 4; ++k)
        if (!morv_input_connected(node, DB_DATA_A + k)) open |= 1u << k;
    uint32_t index = ~0u;
    while (next_input_subset(&index)) {
        if ((index & open) != 0 || ((mask >> index) & 1u) != wanted) continue;
        for (int k = 0; k < 4; ++k) plan_input(node, reg, DB_DATA_A + k, (index >> k) & 1u);
        return true;
    }
    MORV_DEBUG_STREAM::print(100, "FAILED IC {%s}", path_of(node));
    return false;
}

// A chain cell reads its carry-in where the carry offset says: the
// previous cell's carry-out powers up to 0 (offset 0) or 1 (offset 4). The
// operands A and B are searched, and DB_DATA_C and DB_DATA_D too when a
// signal drives them; the cell is evaluated by the net utility, which knows
// whether the LUT reads the carry-in in place of DB_DATA_C.
bool MORV_RETIMING_UVO::search_carry(CDB_ATOM_NODE* node, const RETIME_REG& reg, bool& carry_low_ret)
{
    add_retime_iterm(reg, node, DB_REG_CONTROL, true);
    const unsigned wanted = reg.clear_low ? 0u : 1u;
    const bool lut_used = morv_output_has_fanout(node, DB_COMB_OUT) || morv_output_has_fanout(node, DB_REG_OUT);
    const unsigned carry_in = carry_low_ret ? 0u : 1u;
    const unsigned choices =
        (morv_input_driven(node, DB_DATA_C) ? 2u : 1u) * (morv_input_driven(node, DB_DATA_D) ? 2u : 1u) * 4u;
    unsigned values[MORV_EVALUATE_INPUT_COUNT];
    for (unsigned k = 0; k < choices; ++k) {
        unsigned bits[4] = {k & 1u, (k >> 1) & 1u, 0u, 0u};
        unsigned rest = k >> 2;
        for (int port : {DB_DATA_C, DB_DATA_D}) {
            const int i = port - DB_DATA_A;
            if (morv_input_driven(node, port)) {
                bits[i] = rest & 1u;
                rest >>= 1;
            } else {
                bits[i] = power_up_value(node, port);
            }
        }
        bool reachable = true;
        for (int i = 0; i < 2; ++i)
            if (!morv_input_connected(node, DB_DATA_A + i) && bits[i] != 0) reachable = false;
        if (!reachable) continue;
        for (int i = 0; i < MORV_EVALUATE_INPUT_COUNT; ++i) values[i] = 0;
        for (int i = 0; i < 4; ++i) values[i] = bits[i];
        values[MORV_EVALUATE_CARRY_IN] = carry_in;
        const unsigned sum = lut_used ? m_net_util->evaluate_comb_out(node, values) : 0u;
        if ((sum & 1u) != wanted) continue;
        MORV_DEBUG_STREAM::print(100, ".IC {%s} %s", path_of(node), MORV_RETIMING_IC_TEXT[k & 3u]);
        for (int i = 0; i < 4; ++i) plan_input(node, reg, DB_DATA_A + i, bits[i]);
        const unsigned carry = morv_output_has_fanout(node, DB_CARRY_OUT) ||
                                       morv_output_has_fanout(node, DB_CHAIN_OUT_0) ||
                                       morv_output_has_fanout(node, DB_CHAIN_OUT_1)
                                   ? m_net_util->evaluate_carry_out(node, values) & 1u
                                   : 0u;
        MORV_DEBUG_STREAM::print(100, "./COUT = %d", carry != 0 ? 0 : 1);
        carry_low_ret = carry == 0;
        return true;
    }
    MORV_DEBUG_STREAM::print(100, "FAILED IC {%s}", path_of(node));
    return false;
}

// The output register powers up to what the cell computes when the pushed
// registers hold 0, read through each input's inversion bit.
bool MORV_RETIMING_UVO::create_output_registers(CDB_ATOM_NODE* node, RETIME_REG& reg, bool& carry_low_ret,
                                                bool& share_low_ret)
{
    MORV_ASSERT_TEXT(node, "node");
    (void)share_low_ret;
    unsigned values[MORV_EVALUATE_INPUT_COUNT] = {};
    const unsigned reg_value = reg.clear_low ? 0u : 1u;
    for (int k = 0; k < 4; ++k) {
        CDB_ATOM_ITERM* iterm = node->get_input_term_by_type(DB_DATA_A + k);
        if (iterm == nullptr || !iterm->is_connected()) continue;
        values[k] = iterm->is_driven() ? seen_value(iterm, reg_value) : power_up_value(node, DB_DATA_A + k);
    }
    const bool chain = m_net_util->is_lcell_part_of_a_carry_chain(node);
    values[MORV_EVALUATE_CARRY_IN] = chain && !carry_low_ret ? 1u : 0u;
    const bool lut_used = morv_output_has_fanout(node, DB_COMB_OUT) || morv_output_has_fanout(node, DB_REG_OUT);
    const unsigned value = lut_used ? m_net_util->evaluate_comb_out(node, values) & 1u : 0u;
    if (chain) {
        const bool carry_used = morv_output_has_fanout(node, DB_CARRY_OUT) ||
                                morv_output_has_fanout(node, DB_CHAIN_OUT_0) ||
                                morv_output_has_fanout(node, DB_CHAIN_OUT_1);
        carry_low_ret = !(carry_used && (m_net_util->evaluate_carry_out(node, values) & 1u) != 0);
    }
    RETIME_REG out_reg = reg;
    out_reg.clear_low = value == 0;
    if (CDB_ATOM_OTERM* comb = node->get_output_term_by_type(DB_COMB_OUT)) {
        m_output_registers[comb] = out_reg;
        return true;
    }
    CDB_ATOM_OTERM* regout = node->get_output_term_by_type(DB_REG_OUT);
    if (regout != nullptr && is_lutout_feeding_regout(node)) {
        MORV_ASSERT_TEXT(m_net_util->is_register_present(node), "m_net_util->is_register_present(node)");
        m_output_registers[regout] = out_reg;
    }
    return true;
}
