// Power-up values of the registers a push creates on 6-LUT cells. A
// register put on a LUT input holds an index bit; the LUT sees that bit
// exclusive-or the input's inversion bit, so every evaluation below reads
// the inputs that way (insert_register keeps the term's own inversion).
#include <vector>

#include "cdb/cdb_atom_netlist.h"
#include "hdb/hdb_instance_name.h"

#include "morv/core/morv_assert.h"
#include "morv/core/morv_debug_stream.h"
#include "morv/netlist/morv_atom_query.h"
#include "morv/netlist/morv_net_util.h"
#include "morv/retiming/morv_retiming_6lut.h"

namespace {

constexpr int k_six_inputs = 6;

// What the LUT sees on each of its seven inputs when the registers to be
// put on its driven inputs hold the bits of index; a constant input sees
// its constant unless it is to get a register too (it differs then).
void lut_inputs(CDB_ATOM_NODE* node, unsigned index, unsigned g, unsigned* values)
{
    for (int k = 0; k < MORV_EVALUATE_INPUT_COUNT; ++k) values[k] = 0;
    for (int k = 0; k < 7; ++k) {
        CDB_ATOM_ITERM* iterm = node->get_input_term_by_type(DB_DATA_A + k);
        const unsigned bit = k == 6 ? g : (index >> k) & 1u;
        if (iterm == nullptr || !iterm->is_connected()) continue;
        values[k] = iterm->is_driven() ? (bit ^ (iterm->is_inverted() ? 1u : 0u)) & 1u : bit;
    }
}

// Combinations of fewer ones first, by value within one count.
std::vector<unsigned> combination_order(int inputs)
{
    std::vector<unsigned> order;
    for (int ones = 0; ones <= inputs; ++ones)
        for (unsigned index = 0; index < (1u << inputs); ++index)
            if (__builtin_popcount(index) == ones) order.push_back(index);
    return order;
}

}  // namespace

bool MORV_RETIMING_6LUT::create_input_registers(CDB_ATOM_NODE* node, RETIME_REG& reg, bool& carry_low_ret,
                                                bool& share_low_ret)
{
    MORV_ASSERT_TEXT(node, "node");
    if (m_net_util->is_lcell_part_of_a_carry_chain(node))
        return share_ale_push_back(node, reg, carry_low_ret, share_low_ret);
    return search_lut(node, reg);
}

bool MORV_RETIMING_6LUT::search_lut(CDB_ATOM_NODE* node, const RETIME_REG& reg)
{
    const unsigned wanted = reg.clear_low ? 0u : 1u;
    const bool extended = m_net_util->is_in_extended_mode(node);
    unsigned values[MORV_EVALUATE_INPUT_COUNT];
    for (unsigned index : combination_order(k_six_inputs)) {
        for (unsigned g = 0; g < (extended ? 2u : 1u); ++g) {
            lut_inputs(node, index, g, values);
            if (m_net_util->evaluate_comb_out(node, values) != wanted) continue;
            plan_inputs(node, reg, index, extended, g);
            return true;
        }
    }
    MORV_DEBUG_STREAM::print(100, "2. FAILED IC {%s}", path_of(node));
    return false;
}

// A driven input gets a register holding its bit; a constant one only
// when the bit differs from the constant.
void MORV_RETIMING_6LUT::plan_inputs(CDB_ATOM_NODE* node, const RETIME_REG& reg, unsigned index, bool with_g,
                                     unsigned g_value)
{
    for (int k = 0; k < (with_g ? 7 : k_six_inputs); ++k) {
        CDB_ATOM_ITERM* iterm = node->get_input_term_by_type(DB_DATA_A + k);
        if (iterm == nullptr || !iterm->is_connected()) continue;
        const unsigned bit = k == 6 ? g_value : (index >> k) & 1u;
        if (!iterm->is_driven() && (iterm->is_logical_vcc() ? 1u : 0u) == bit) continue;
        add_retime_iterm(reg, node, DB_DATA_A + k, bit == 0);
    }
}

bool MORV_RETIMING_6LUT::share_ale_push_back(CDB_ATOM_NODE* node, RETIME_REG& reg, bool& carry_low_ret,
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
    CDB_ATOM_OTERM* next_out = nullptr;
    if (morv_output_has_fanout(node, DB_CARRY_OUT)) next_out = node->get_output_term_by_type(DB_CARRY_OUT);
    else if (morv_output_has_fanout(node, DB_SHARE_OUT)) next_out = node->get_output_term_by_type(DB_SHARE_OUT);
    if (next_out == nullptr) return search_share_ale_single(node, reg, carry_low_ret, share_low_ret);
    CDB_ATOM_NODE* next = next_out->get_first_fanout()->get_my_node();
    MORV_DEBUG_STREAM::print(100, "trying out the new share_ale push back function on node %d",
                             static_cast<int>(node->get_id()));
    RETIME_REG next_reg;
    CDB_ATOM_OTERM* next_sum = next->get_output_term_by_type(DB_SUM_OUT);
    CDB_ATOM_OTERM* next_regout = nullptr;
    if (is_push_allowed(next) && next_sum != nullptr && next_sum->get_number_of_fanout() == 1)
        next_regout = backward_push_get_reg(next_sum->get_first_fanout(), next_reg, false);
    RETIME_REG same = next_reg;
    same.clear_low = reg.clear_low;
    bool equal = next_regout != nullptr;
    for (int control = 0; equal && control < RETIME_NUM_CONTROLS; ++control)
        equal = same.signals[control] == reg.signals[control];
    if (!equal) {
        MORV_DEBUG_STREAM::print(100, "Can't get reg at next node");
        return false;
    }
    MORV_DEBUG_STREAM::print(100, "reg.clear_low = %d, next_reg.clear_low = %d", reg.clear_low ? 1 : 0,
                             next_reg.clear_low ? 1 : 0);
    if (!search_share_ale_pair(node, next, reg, next_reg, carry_low_ret, share_low_ret)) return false;
    m_created_node_set.insert(next);
    return true;
}

namespace {

struct CELL_VALUES
{
    unsigned sum, carry, share, comb;
};

CELL_VALUES evaluate_cell(MORV_NET_UTIL* util, CDB_ATOM_NODE* node, unsigned* values)
{
    return {util->evaluate_sum_out(node, values), util->evaluate_carry_out(node, values),
            util->evaluate_share_out(node, values), util->evaluate_comb_out(node, values)};
}

// An output without fanout is free; a used one must show the register's value.
bool shows(const CELL_VALUES& v, unsigned wanted)
{
    return (v.sum == MORV_NO_LUT_VALUE || v.sum == wanted) && (v.comb == MORV_NO_LUT_VALUE || v.comb == wanted);
}

// The data inputs of cell 2 paired with cell 1's inputs driven by the same
// output (-1 when unpaired), and each cell's own inputs.
struct PAIRING
{
    int partner[k_six_inputs] = {-1, -1, -1, -1, -1, -1};
    std::vector<int> own1, own2;
};

bool pair_inputs(CDB_ATOM_NODE* cell1, CDB_ATOM_NODE* cell2, PAIRING* p)
{
    bool taken[k_six_inputs] = {};
    for (int k = 0; k < k_six_inputs; ++k) {
        CDB_ATOM_ITERM* in1 = cell1->get_input_term_by_type(DB_DATA_A + k);
        if (in1 == nullptr || !in1->is_driven()) continue;
        for (int j = 0; j < k_six_inputs && p->partner[k] < 0; ++j) {
            CDB_ATOM_ITERM* in2 = cell2->get_input_term_by_type(DB_DATA_A + j);
            if (in2 == nullptr || !in2->is_driven() || in2->get_source() != in1->get_source()) continue;
            if (taken[j]) return false;  // two inputs of cell 1 on one of cell 2
            p->partner[k] = j;
            taken[j] = true;
        }
    }
    for (int k = 0; k < k_six_inputs; ++k) {
        if (p->partner[k] < 0) p->own1.push_back(k);
        if (!taken[k]) p->own2.push_back(k);
    }
    return p->own1.size() == p->own2.size();
}

}  // namespace

bool MORV_RETIMING_6LUT::search_share_ale_pair(CDB_ATOM_NODE* node, CDB_ATOM_NODE* next, const RETIME_REG& reg,
                                               const RETIME_REG& next_reg, bool& carry_low_ret, bool& share_low_ret)
{
    PAIRING p;
    const bool paired = pair_inputs(node, next, &p);
    const int common = k_six_inputs - static_cast<int>(p.own1.size()), n = static_cast<int>(p.own1.size());
    std::vector<int> common_inputs;
    for (int k = 0; k < k_six_inputs; ++k)
        if (p.partner[k] >= 0) common_inputs.push_back(k);
    const unsigned want1 = reg.clear_low ? 0u : 1u, want2 = next_reg.clear_low ? 0u : 1u;
    for (unsigned c = 0; paired && c < (1u << common); ++c) {
        for (unsigned o = 0; o < (1u << (2 * n)); ++o) {
            unsigned index1 = 0, index2 = 0;
            for (int b = 0; b < common; ++b) {
                index1 |= ((c >> b) & 1u) << common_inputs[b];
                index2 |= ((c >> b) & 1u) << p.partner[common_inputs[b]];
            }
            for (int b = 0; b < n; ++b) {
                index1 |= ((o >> b) & 1u) << p.own1[b];
                index2 |= ((o >> (n + b)) & 1u) << p.own2[b];
            }
            unsigned v1[MORV_EVALUATE_INPUT_COUNT], v2[MORV_EVALUATE_INPUT_COUNT];
            lut_inputs(node, index1, 0, v1);
            v1[MORV_EVALUATE_CARRY_IN] = carry_low_ret ? 0u : 1u;
            v1[MORV_EVALUATE_SHARE_IN] = share_low_ret ? 0u : 1u;
            const CELL_VALUES cell1 = evaluate_cell(m_net_util, node, v1);
            lut_inputs(next, index2, 0, v2);
            v2[MORV_EVALUATE_CARRY_IN] = cell1.carry & 1u;
            v2[MORV_EVALUATE_SHARE_IN] = cell1.share & 1u;
            const CELL_VALUES cell2 = evaluate_cell(m_net_util, next, v2);
            if (!shows(cell1, want1) || !shows(cell2, want2)) continue;
            plan_inputs(node, reg, index1, false, 0);
            plan_inputs(next, next_reg, index2, false, 0);
            carry_low_ret = (cell2.carry & 1u) == 0;
            share_low_ret = (cell2.share & 1u) == 0;
            return true;
        }
    }
    MORV_DEBUG_STREAM::print(100, "1. FAILED IC {%s}", path_of(node));
    return false;
}

// The design computes the sum, carry and share from its own reading of the
// halves of the cell's LUT mask (bits 0 to 15 and 32 to 47); here the
// cell's own sum, carry and share evaluations stand for that reading. They
// read the same halves, in the family's bit order, so the search cannot
// disagree with what the netlist's writer and simulator compute.
bool MORV_RETIMING_6LUT::search_share_ale_single(CDB_ATOM_NODE* node, const RETIME_REG& reg, bool& carry_low_ret,
                                                 bool& share_low_ret)
{
    const unsigned wanted = reg.clear_low ? 0u : 1u;
    unsigned values[MORV_EVALUATE_INPUT_COUNT];
    for (unsigned index = 0; index < static_cast<unsigned>(m_num_combinations); ++index) {
        lut_inputs(node, index, 0, values);
        values[MORV_EVALUATE_CARRY_IN] = carry_low_ret ? 0u : 1u;
        values[MORV_EVALUATE_SHARE_IN] = share_low_ret ? 0u : 1u;
        const CELL_VALUES v = evaluate_cell(m_net_util, node, values);
        if (!shows(v, wanted)) continue;
        plan_inputs(node, reg, index, false, 0);
        carry_low_ret = (v.carry & 1u) == 0;
        share_low_ret = (v.share & 1u) == 0;
        return true;
    }
    MORV_DEBUG_STREAM::print(100, "1. FAILED IC {%s}", path_of(node));
    return false;
}

// The cell's inputs at power-up: a register output reads its power-up
// value through the term's inversion bit, a constant its logical value.
bool MORV_RETIMING_6LUT::create_output_registers(CDB_ATOM_NODE* node, RETIME_REG& reg, bool& carry_low_ret,
                                                 bool& share_low_ret)
{
    MORV_ASSERT_TEXT(node, "node");
    const unsigned powerup = reg.clear_low ? 0u : 1u;
    unsigned values[MORV_EVALUATE_INPUT_COUNT] = {};
    for (int k = 0; k < 7; ++k) {
        CDB_ATOM_ITERM* iterm = node->get_input_term_by_type(DB_DATA_A + k);
        if (iterm == nullptr || !iterm->is_connected()) continue;
        values[k] = iterm->is_driven() ? seen_value(iterm, powerup) : (iterm->is_logical_vcc() ? 1u : 0u);
    }
    unsigned value = 0;
    if (m_net_util->is_lcell_part_of_a_carry_chain(node)) {
        values[MORV_EVALUATE_CARRY_IN] = carry_low_ret ? 0u : 1u;
        values[MORV_EVALUATE_SHARE_IN] = share_low_ret ? 0u : 1u;
        const CELL_VALUES v = evaluate_cell(m_net_util, node, values);
        carry_low_ret = (v.carry & 1u) == 0;
        share_low_ret = (v.share & 1u) == 0;
        if (morv_output_has_fanout(node, DB_COMB_OUT)) {
            MORV_DEBUG_STREAM::print(100, "WARNING: forward push aborted due to combout and carry chain");
            return false;
        }
        value = v.sum & 1u;
    } else {
        value = m_net_util->evaluate_comb_out(node, values) & 1u;
    }
    RETIME_REG out_reg = reg;
    out_reg.clear_low = value == 0;
    for (int port : {DB_COMB_OUT, DB_SUM_OUT})
        if (morv_output_has_fanout(node, port)) m_output_registers[node->get_output_term_by_type(port)] = out_reg;
    return true;
}
