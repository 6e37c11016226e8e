// Power-up values of the registers a push creates on 4-LUT cells. A
// register put on a LUT input holds an index bit and the LUT sees that bit
// exclusive-or the input's inversion bit (insert_register keeps the term's
// own inversion), so every evaluation reads the inputs that way; the cell
// itself is evaluated by the net utility, which knows whether an
// arithmetic cell reads its carry-in in place of DB_DATA_C.
#include "cdb/cdb_atom_netlist.h"
#include "hdb/hdb_instance_name.h"

#include "morv/core/morv_assert.h"
#include "morv/core/morv_debug_stream.h"
#include "morv/netlist/morv_atom_query.h"
#include "morv/netlist/morv_net_util.h"
#include "morv/retiming/morv_retiming_4lut.h"
#include "morv/retiming/morv_retiming_internal.h"

// What the cell sees when the registers to be put on the searched inputs
// (bits of searched) hold the bits of index: a driven input its bit
// exclusive-or its inversion bit, a searched constant input its bit (it
// gets a register only when the bit differs, and that register holds the
// bit until the first clock), any other constant its logical value, an
// unconnected input 0.
void MORV_RETIMING_4LUT::seen_inputs(CDB_ATOM_NODE* node, unsigned index, unsigned searched, unsigned carry_in,
                                     unsigned* values)
{
    for (int k = 0; k < MORV_EVALUATE_INPUT_COUNT; ++k) values[k] = 0;
    for (int k = 0; k < 4; ++k) {
        CDB_ATOM_ITERM* iterm = node->get_input_term_by_type(DB_DATA_A + k);
        if (iterm == nullptr || !iterm->is_connected()) continue;
        const unsigned bit = (index >> k) & 1u;
        if (iterm->is_driven()) values[k] = seen_value(iterm, bit);
        else values[k] = (searched >> k) & 1u ? bit : (iterm->is_logical_vcc() ? 1u : 0u);
    }
    values[MORV_EVALUATE_CARRY_IN] = carry_in & 1u;
}

bool MORV_RETIMING_4LUT::create_input_registers(CDB_ATOM_NODE* node, RETIME_REG& reg, bool& carry_low_ret,
                                                bool& share_low_ret)
{
    MORV_ASSERT_TEXT(node, "node");
    (void)share_low_ret;
    if (m_net_util->is_lcell_part_of_a_carry_chain(node)) return search_carry(node, reg, carry_low_ret);
    return search_lut(node, reg);
}

void MORV_RETIMING_4LUT::plan_input(CDB_ATOM_NODE* node, const RETIME_REG& reg, int port, unsigned value)
{
    CDB_ATOM_ITERM* iterm = node->get_input_term_by_type(port);
    if (iterm != nullptr && iterm->is_connected() && !iterm->is_driven()) {
        // A constant equal to the value needs no register.
        if ((iterm->is_logical_vcc() ? 1u : 0u) == value) return;
    }
    add_retime_iterm(reg, node, port, value == 0);
}

bool MORV_RETIMING_4LUT::search_lut(CDB_ATOM_NODE* node, const RETIME_REG& reg)
{
    const unsigned wanted = reg.clear_low ? 0u : 1u;
    unsigned values[MORV_EVALUATE_INPUT_COUNT];
    const unsigned carry_in = 0;
    uint32_t index = ~0u;
    while (next_input_subset(&index)) {
        seen_inputs(node, index, 0xfu, carry_in, values);
        if (m_net_util->evaluate_comb_out(node, values) != wanted) continue;
        for (int k = 0; k < 4; ++k) plan_input(node, reg, DB_DATA_A + k, (index >> k) & 1u);
        return true;
    }
    MORV_DEBUG_STREAM::print(100, "FAILED IC {%s}", path_of(node));
    return false;
}

// The operands A and B take the search; DB_DATA_D must be tied to VCC and
// the carry-in holds what the previous cell's carry-out powers up to. A
// driven DB_DATA_C (a cell whose sum reads it) is searched as well: a push
// that left it without a register would shift only some of the inputs.
bool MORV_RETIMING_4LUT::search_carry(CDB_ATOM_NODE* node, const RETIME_REG& reg, bool& carry_low_ret)
{
    CDB_ATOM_ITERM* data_d = node->get_input_term_by_type(DB_DATA_D);
    if (data_d != nullptr && data_d->is_connected() && !data_d->is_vcc()) {
        MORV_DEBUG_STREAM::print(100, "FAILED IC {%s}", path_of(node));
        return false;
    }
    const unsigned wanted = reg.clear_low ? 0u : 1u;
    const unsigned carry_in = carry_low_ret ? 0u : 1u;
    const bool comb_used = morv_output_has_fanout(node, DB_COMB_OUT),
               carry_used = morv_output_has_fanout(node, DB_CARRY_OUT);
    const unsigned choices = morv_input_driven(node, DB_DATA_C) ? 8u : 4u;
    unsigned values[MORV_EVALUATE_INPUT_COUNT];
    for (unsigned k = 0; k < choices; ++k) {
        seen_inputs(node, k, choices - 1u, carry_in, values);
        const unsigned sum = comb_used ? m_net_util->evaluate_comb_out(node, values) : 0u;
        if (sum != wanted) continue;
        MORV_DEBUG_STREAM::print(100, ".IC {%s} %s", path_of(node), MORV_RETIMING_IC_TEXT[k & 3u]);
        for (int bit = 0; bit < (choices == 8u ? 3 : 2); ++bit) plan_input(node, reg, DB_DATA_A + bit, (k >> bit) & 1u);
        const unsigned carry = carry_used ? m_net_util->evaluate_carry_out(node, values) : 0u;
        // The printed COUT is the inverse of the carry bit.
        MORV_DEBUG_STREAM::print(100, "./COUT = %d", carry != 0 ? 0 : 1);
        carry_low_ret = carry == 0;
        return true;
    }
    MORV_DEBUG_STREAM::print(100, "FAILED IC {%s}", path_of(node));
    return false;
}

// The output register powers up to what the cell computes from what the
// pushed registers power up to, as its inputs see them.
bool MORV_RETIMING_4LUT::create_output_registers(CDB_ATOM_NODE* node, RETIME_REG& reg, bool& carry_low_ret,
                                                 bool& share_low_ret)
{
    MORV_ASSERT_TEXT(node, "node");
    (void)share_low_ret;
    unsigned values[MORV_EVALUATE_INPUT_COUNT] = {};
    const unsigned reg_value = reg.clear_low ? 0u : 1u;
    for (int k = 0; k < 4; ++k) {
        CDB_ATOM_ITERM* iterm = node->get_input_term_by_type(DB_DATA_A + k);
        if (iterm == nullptr || !iterm->is_connected()) continue;
        values[k] = iterm->is_driven() ? seen_value(iterm, reg_value) : (iterm->is_logical_vcc() ? 1u : 0u);
    }
    const bool chain = m_net_util->is_lcell_part_of_a_carry_chain(node);
    values[MORV_EVALUATE_CARRY_IN] = chain && !carry_low_ret ? 1u : 0u;
    const unsigned value = morv_output_has_fanout(node, DB_COMB_OUT) ? m_net_util->evaluate_comb_out(node, values) : 0u;
    if (chain)
        carry_low_ret =
            !(morv_output_has_fanout(node, DB_CARRY_OUT) && m_net_util->evaluate_carry_out(node, values) != 0);
    RETIME_REG out_reg = reg;
    out_reg.clear_low = value == 0;
    if (CDB_ATOM_OTERM* comb = node->get_output_term_by_type(DB_COMB_OUT)) m_output_registers[comb] = out_reg;
    return true;
}
