// Power-up values of the registers a move creates. Every register powers up
// low; forward, the crossed cells are evaluated on what the removed input
// registers showed at power-up; backward, the new input registers' values
// are searched so that the cells show what the removed output registers
// showed.
#include <algorithm>
#include <utility>

#include "cdb/cdb_atom_netlist.h"

#include "morv/core/morv_assert.h"
#include "morv/netlist/morv_net_util.h"
#include "morv/rtm/morv_rtm.h"

namespace {

constexpr unsigned k_undefined = ~0u;

}  // namespace

void MORV_RTM::evaluate_node(CDB_ATOM_NODE* node, int index, unsigned carry_in, unsigned share_in, unsigned* out_ret,
                             unsigned* carry_out_ret, unsigned* share_out_ret) const
{
    MORV_ASSERT_TEXT(index >= 0 && index < (1 << m_retimeable_iterms.size()),
                     "index >= 0 && index < (1 << m_retimeable_iterms.size())");
    unsigned in[MORV_EVALUATE_INPUT_COUNT] = {};
    for (size_t i = 0; i < m_retimeable_iterms.size(); ++i) in[i] = (static_cast<unsigned>(index) >> i) & 1u;
    in[MORV_EVALUATE_CARRY_IN] = carry_in;
    in[MORV_EVALUATE_SHARE_IN] = share_in;
    if (m_net_util->is_lcell_part_of_a_carry_chain(node)) {
        *out_ret = node->evaluate_output(DB_SUM_OUT, in);
        *carry_out_ret = node->evaluate_output(DB_CARRY_OUT, in);
        *share_out_ret = node->evaluate_output(DB_SHARE_OUT, in);
    } else {
        *out_ret = node->evaluate_output(DB_COMB_OUT, in);
        *carry_out_ret = 0;
        *share_out_ret = 0;
    }
}

// A carry or share input tied to a constant reads that constant; one driven
// inside the chain reads the running value; an open one reads 0.
unsigned MORV_RTM::chain_input(CDB_ATOM_NODE* node, int port_type, unsigned running) const
{
    CDB_ATOM_ITERM* iterm = node->get_input_term_by_type(port_type, 0);
    if (iterm == nullptr || !iterm->is_connected()) return 0;
    if (iterm->is_driven()) return running;
    return iterm->is_logical_vcc() ? 1u : 0u;
}

void MORV_RTM::forward_initial_conditions(MORV_RTM_OP* op, const MORV_RTM_CHAIN& chain)
{
    unsigned carry = 0, share = 0;
    for (CDB_ATOM_NODE* node : chain) {
        int index = 0;
        for (size_t i = 0; i < m_retimeable_iterms.size(); ++i) {
            CDB_ATOM_ITERM* iterm = node->get_input_term_by_type(m_retimeable_iterms[i], 0);
            if (iterm == nullptr || !iterm->is_connected()) continue;
            const MORV_RTM_REG_INITIAL_CONDITION_ENUM value = op->get_iterm_ic(iterm);
            if (value == MORV_RTM_REG_IC_HIGH) index |= 1 << i;
            else MORV_ASSERT_TEXT(value == MORV_RTM_REG_IC_LOW, "ic_type == MORV_RTM_REG_IC_LOW");
        }
        unsigned out = 0, carry_out = 0, share_out = 0;
        evaluate_node(node, index, chain_input(node, DB_CARRY_IN, carry), chain_input(node, DB_SHARE_IN, share), &out,
                      &carry_out, &share_out);
        carry = carry_out;
        share = share_out;
        int found_regs = 0;
        for (int type : m_retimeable_oterms) {
            CDB_ATOM_OTERM* oterm = node->get_output_term_by_type(type);
            if (oterm == nullptr) continue;
            MORV_RTM_REG* reg = op->get_register_added_on_oterm(oterm);
            if (reg == nullptr) continue;
            ++found_regs;
            reg->m_ic = out == 1 ? MORV_RTM_REG_IC_HIGH : MORV_RTM_REG_IC_LOW;
        }
        MORV_ASSERT_TEXT(found_regs <= 1, "found_regs <= 1");
    }
}

bool MORV_RTM::backward_initial_conditions(MORV_RTM_OP* op, const MORV_RTM_CHAIN& chain)
{
    IC_CARRY carry;
    for (size_t i = 0; i < chain.size(); ++i) {
        CDB_ATOM_NODE* second = m_ic_search_in_pairs && i + 1 < chain.size() ? chain[i + 1] : nullptr;
        if (!search_node(op, chain[i], second, &carry)) return false;
        if (second != nullptr) ++i;
    }
    return true;
}

namespace {

std::vector<int> connected_positions(CDB_ATOM_NODE* node, const MORV_RTM_PORT_LIST& types)
{
    std::vector<int> positions;
    if (node == nullptr) return positions;
    for (size_t i = 0; i < types.size(); ++i) {
        CDB_ATOM_ITERM* iterm = node->get_input_term_by_type(types[i], 0);
        if (iterm != nullptr && iterm->is_connected()) positions.push_back(static_cast<int>(i));
    }
    return positions;
}

}  // namespace

bool MORV_RTM::search_node(MORV_RTM_OP* op, CDB_ATOM_NODE* first, CDB_ATOM_NODE* second, IC_CARRY* carry)
{
    SOURCE_VALUES sources;
    for (CDB_ATOM_NODE* node : {first, second}) {
        if (node == nullptr) continue;
        for (int type : m_retimeable_iterms) {
            CDB_ATOM_ITERM* iterm = node->get_input_term_by_type(type, 0);
            if (iterm != nullptr && iterm->get_source() != nullptr) sources.emplace(iterm->get_source(), k_undefined);
        }
    }
    const std::vector<int> first_positions = connected_positions(first, m_retimeable_iterms);
    const std::vector<int> second_positions = connected_positions(second, m_retimeable_iterms);
    for (int a = 0; a < (1 << first_positions.size()); ++a) {
        SOURCE_VALUES first_sources = sources;
        IC_CARRY first_out;
        int first_index = 0;
        if (!try_assignment(op, first, a, first_positions, *carry, &first_sources, &first_out, &first_index)) continue;
        if (second == nullptr) {
            assign_input_values(op, first, first_index);
            *carry = first_out;
            return true;
        }
        for (int b = 0; b < (1 << second_positions.size()); ++b) {
            SOURCE_VALUES second_sources = first_sources;
            IC_CARRY second_out;
            int second_index = 0;
            if (!try_assignment(op, second, b, second_positions, first_out, &second_sources, &second_out,
                                &second_index))
                continue;
            assign_input_values(op, first, first_index);
            assign_input_values(op, second, second_index);
            *carry = second_out;
            return true;
        }
    }
    return false;
}

// A source's value is what its register shows; the cell reads it through
// the term's inversion. A constant input holds its value for ever: tied
// low it can only read 0; tied high it reads 0 through a new register that
// powers up low, or 1 with no register at all.
bool MORV_RTM::try_assignment(MORV_RTM_OP* op, CDB_ATOM_NODE* node, int assignment, const std::vector<int>& positions,
                              const IC_CARRY& in, SOURCE_VALUES* sources, IC_CARRY* out, int* index_ret) const
{
    int index = 0;
    for (size_t j = 0; j < positions.size(); ++j)
        if ((assignment >> j) & 1) index |= 1 << positions[j];
    unsigned value = 0;
    evaluate_node(node, index, chain_input(node, DB_CARRY_IN, in.carry), chain_input(node, DB_SHARE_IN, in.share),
                  &value, &out->carry, &out->share);
    const MORV_RTM_REG_INITIAL_CONDITION_ENUM required = op->get_node_ic(node);
    if (required == MORV_RTM_REG_IC_HIGH && value != 1) return false;
    if (required == MORV_RTM_REG_IC_LOW && value != 0) return false;
    for (int position : positions) {
        CDB_ATOM_ITERM* iterm = node->get_input_term_by_type(m_retimeable_iterms[static_cast<size_t>(position)], 0);
        const unsigned bit = (static_cast<unsigned>(index) >> position) & 1u;
        if (iterm->get_source() == nullptr) {
            if (iterm->is_logical_gnd() && bit != 0) return false;
            continue;
        }
        auto it = sources->find(iterm->get_source());
        MORV_ASSERT_TEXT(it != sources->end(), "iter != set_of_unique_sources->end()");
        const unsigned source_value = bit ^ (iterm->reads_complemented() ? 1u : 0u);
        if (it->second == k_undefined) it->second = source_value;
        else if (it->second != source_value) return false;
    }
    *index_ret = index;
    return true;
}

void MORV_RTM::assign_input_values(MORV_RTM_OP* op, CDB_ATOM_NODE* node, int index)
{
    for (size_t i = 0; i < m_retimeable_iterms.size(); ++i) {
        CDB_ATOM_ITERM* iterm = node->get_input_term_by_type(m_retimeable_iterms[i], 0);
        if (iterm == nullptr || !iterm->is_connected()) continue;
        MORV_RTM_REG* reg = op->get_register_added_on_iterm(iterm);
        if (reg == nullptr) continue;
        const bool high = ((index >> i) & 1) != 0;
        if (iterm->get_source() == nullptr) {
            // A constant needs a register only to show 0 before the first
            // clock; showing its own value it needs none.
            if (high || iterm->is_logical_gnd()) drop_register_to_add(op, reg);
            else reg->m_ic = MORV_RTM_REG_IC_LOW;
            continue;
        }
        reg->m_ic = high ? MORV_RTM_REG_IC_HIGH : MORV_RTM_REG_IC_LOW;
    }
}

void MORV_RTM::drop_register_to_add(MORV_RTM_OP* op, MORV_RTM_REG* reg)
{
    MORV_ASSERT_TEXT(reg && reg->m_add_on_iterm, "reg");
    op->m_iterm_to_reg_map.erase(MORV_CANONICAL_ITERM(reg->m_add_on_iterm));
    op->m_regs_to_add.remove_if([reg](const MORV_OWNER<MORV_RTM_REG>& held) { return held.get() == reg; });
}
