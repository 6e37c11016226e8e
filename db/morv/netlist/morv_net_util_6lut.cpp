#include "morv/netlist/morv_net_util_6lut.h"

#include "cdb/cdb_atom_node.h"

#include "morv/core/morv_assert.h"
#include "morv/netlist/morv_canonical_node_info.h"
#include "morv/netlist/morv_cdb_interface.h"

namespace {

// Row indices of the 16-bit halves and of the 64-bit normal-mode mask.
unsigned index_kd(const unsigned* in)
{
    return in[0] + 2 * in[1] + 4 * in[2] + 8 * in[3];
}
unsigned index_kg(const unsigned* in)
{
    return in[0] + 2 * in[1] + 4 * in[6] + 8 * in[3];
}
unsigned index_kf(const unsigned* in)
{
    return in[0] + 2 * in[1] + 4 * in[2] + 8 * in[5];
}
unsigned index_k6(const unsigned* in)
{
    return in[0] + 2 * in[1] + 4 * in[2] + 8 * in[3] + 16 * in[4] + 32 * in[5];
}

// Bit k of the 16-bit word at bit offset, read in either order.
unsigned word_bit(uint64_t mask, unsigned offset, unsigned k, bool reversed)
{
    return (mask >> (offset + (reversed ? 15 - k : k))) & 1u;
}

}  // namespace

MORV_NET_UTIL_6LUT::MORV_NET_UTIL_6LUT(CDB_ATOM_NETLIST* netlist, MORV_API* api) : MORV_NET_UTIL(netlist, api)
{
    m_max_lut_inputs = 6;
}

bool MORV_NET_UTIL_6LUT::is_lcell_in_a_chain(CDB_ATOM_NODE* node) const
{
    return node->is_lcell_comb() && is_lcell_part_of_a_carry_chain(node);
}

bool MORV_NET_UTIL_6LUT::is_lcell_part_of_a_carry_chain(CDB_ATOM_NODE* lcell_atom) const
{
    MORV_ASSERT(lcell_atom->is_lcell_comb() || lcell_atom->is_lcell_hsadder());
    if (lcell_atom->is_lcell_hsadder()) return true;
    return any_input_connected(lcell_atom, {DB_CARRY_IN, DB_SHARE_IN}) ||
           any_output_connected(lcell_atom, {DB_CARRY_OUT, DB_SHARE_OUT});
}

bool MORV_NET_UTIL_6LUT::is_in_register_cascade(CDB_ATOM_NODE* /*node*/) const
{
    return false;
}

bool MORV_NET_UTIL_6LUT::is_in_arithmetic_mode(CDB_ATOM_NODE* node) const
{
    MORV_ASSERT(node);
    MORV_ASSERT(node->is_lcell_comb() || node->is_lcell_hsadder());
    if (node->is_lcell_hsadder()) return true;
    return any_output_connected(node, {DB_SUM_OUT, DB_CARRY_OUT, DB_SHARE_OUT});
}

bool MORV_NET_UTIL_6LUT::is_in_qfbk_mode(CDB_ATOM_NODE* /*node*/) const
{
    return false;
}

bool MORV_NET_UTIL_6LUT::is_sload_tied_to_vcc(CDB_ATOM_NODE* /*node*/) const
{
    return false;
}

bool MORV_NET_UTIL_6LUT::is_lut_data_input(CDB_ATOM_ITERM* iterm) const
{
    MORV_ASSERT(iterm);
    for (int port = DB_DATA_A; port <= DB_DATA_F; ++port)
        if (iterm->is_used_as(port)) return true;
    return false;
}

bool MORV_NET_UTIL_6LUT::is_lcell(CDB_ATOM_NODE* node) const
{
    MORV_ASSERT(node);
    return node->is_lcell_comb() || is_ff(node) || node->is_lcell_hsadder();
}

bool MORV_NET_UTIL_6LUT::is_lcell_hsadder(CDB_ATOM_NODE* node) const
{
    MORV_ASSERT(node);
    return node->is_lcell_hsadder();
}

bool MORV_NET_UTIL_6LUT::is_ff(CDB_ATOM_NODE* node) const
{
    return node->is_ff();
}

bool MORV_NET_UTIL_6LUT::is_lut(CDB_ATOM_NODE* node) const
{
    return node->is_lcell_comb();
}

bool MORV_NET_UTIL_6LUT::is_in_extended_mode(CDB_ATOM_NODE* node) const
{
    MORV_ASSERT(node->is_lcell_comb());
    return is_connected(node, DB_DATA_G);
}

bool MORV_NET_UTIL_6LUT::is_register_control_input(CDB_ATOM_ITERM* iterm) const
{
    MORV_ASSERT(iterm);
    CDB_ATOM_NODE* node = iterm->get_my_node();
    if (node == nullptr || !is_ff(node)) return false;
    for (int port : {DB_CLOCK_ENABLE, DB_CLEAR, DB_SYNCH_CLEAR, DB_ASYNCH_LOAD, DB_SYNCH_LOAD})
        if (iterm->is_used_as(port)) return true;
    return false;
}

bool MORV_NET_UTIL_6LUT::is_register_present(CDB_ATOM_NODE* node) const
{
    MORV_ASSERT(node);
    return is_ff(node);
}

void MORV_NET_UTIL_6LUT::tie_inputs_to_vcc_lcells()
{
    MORV_ASSERT_TEXT(false, "This function is only implemented for Talvane II");
}

CDB_LUTMASK MORV_NET_UTIL_6LUT::create_or_lutmask(int number_of_inputs) const
{
    MORV_ASSERT(number_of_inputs >= 2 && number_of_inputs <= 6);
    static const uint64_t masks[] = {0xEEEEEEEEEEEEEEEEull, 0xFEFEFEFEFEFEFEFEull, 0xFFFEFFFEFFFEFFFEull,
                                     0xFFFFFFFEFFFFFFFEull, 0xFFFFFFFFFFFFFFFEull};
    return CDB_LUTMASK(6, masks[number_of_inputs - 2]);
}

bool MORV_NET_UTIL_6LUT::is_carry_in_connected(CDB_ATOM_NODE* node) const
{
    MORV_ASSERT(node);
    return any_input_connected(node, {DB_CARRY_IN, DB_SHARE_IN});
}

bool MORV_NET_UTIL_6LUT::has_carry_out_fanout(CDB_ATOM_NODE* node) const
{
    MORV_ASSERT(node->is_lcell_comb());
    return any_output_connected(node, {DB_CARRY_OUT, DB_SHARE_OUT});
}

bool MORV_NET_UTIL_6LUT::does_lut_feed_register(CDB_ATOM_NODE* /*node*/) const
{
    unsupported(FAMILY_NOT_SUPPORTED);
}

bool MORV_NET_UTIL_6LUT::is_driven_by_constant_gnd(CDB_ATOM_ITERM* /*iterm*/) const
{
    unsupported(FAMILY_NOT_SUPPORTED);
}

bool MORV_NET_UTIL_6LUT::is_driven_by_constant_vcc(CDB_ATOM_ITERM* /*iterm*/) const
{
    unsupported(FAMILY_NOT_SUPPORTED);
}

// ---------------------------------------------------------------- masks

uint64_t MORV_NET_UTIL_6LUT::get_lcell_lutmask(CDB_ATOM_NODE* /*node*/) const
{
    unsupported(FAMILY_NOT_SUPPORTED);
}

uint64_t MORV_NET_UTIL_6LUT::get_carry_lutmask(CDB_ATOM_NODE* /*node*/) const
{
    unsupported(FAMILY_NOT_SUPPORTED);
}

uint64_t MORV_NET_UTIL_6LUT::get_spread_adder_lutmask(CDB_ATOM_NODE* node) const
{
    const uint64_t adder = m_cdb_interface->get_adder_lutmask(node);
    return (adder & 0xFFFF) | (((adder >> 16) & 0xFFFF) << 32);
}

uint64_t MORV_NET_UTIL_6LUT::get_lutmask(CDB_ATOM_NODE* node) const
{
    MORV_ASSERT(node);
    MORV_ASSERT(node->is_lcell_comb());
    if (is_output_connected(node, DB_COMB_OUT)) return node_mask(node);
    if (any_output_connected(node, {DB_SUM_OUT, DB_CARRY_OUT})) return get_spread_adder_lutmask(node);
    return node_mask(node);
}

// ---------------------------------------------------------------- evaluation

unsigned MORV_NET_UTIL_6LUT::comb_out_normal_mode(CDB_ATOM_NODE* node, const unsigned* in, bool reversed) const
{
    MORV_ASSERT(node->is_lcell_comb());
    MORV_ASSERT(!is_in_extended_mode(node));
    const unsigned k6 = index_k6(in);
    // The comb-out reads the whole mask, also while the adder uses its halves.
    return (node_mask(node) >> (reversed ? 63 - k6 : k6)) & 1u;
}

unsigned MORV_NET_UTIL_6LUT::comb_out_extended_mode(CDB_ATOM_NODE* node, const unsigned* in, bool reversed) const
{
    MORV_ASSERT(node->is_lcell_comb());
    MORV_ASSERT(is_in_extended_mode(node));
    const unsigned e = in[4];
    const unsigned f = in[5];
    // The reversed order takes the quarters from the top and reads g as the
    // third input in the opposite half.
    const unsigned quarter = reversed ? 3 - (2 * f + e) : 2 * f + e;
    const bool third_is_c = reversed ? e == 1 : e == 0;
    const unsigned k = third_is_c ? index_kd(in) : index_kg(in);
    return word_bit(node_mask(node), 16 * quarter, k, reversed);
}

MORV_NET_UTIL_6LUT::ADDER_OPERANDS MORV_NET_UTIL_6LUT::adder_operands(CDB_ATOM_NODE* node, const unsigned* in,
                                                                      bool with_share_in, bool reversed) const
{
    if (with_share_in) MORV_ASSERT_TEXT(is_connected(node, DB_SHARE_IN), "is_connected(node,::DB_SHARE_IN)");
    else MORV_ASSERT_TEXT(!is_connected(node, DB_SHARE_IN), "!is_connected(node,::DB_SHARE_IN)");
    const uint64_t mask = get_lutmask(node);
    ADDER_OPERANDS operands;
    operands.low = word_bit(mask, 0, index_kd(in), reversed);
    operands.other = with_share_in ? in[MORV_EVALUATE_SHARE_IN] : 1u - word_bit(mask, 32, index_kf(in), reversed);
    operands.carry_in = in[MORV_EVALUATE_CARRY_IN];
    return operands;
}

unsigned MORV_NET_UTIL_6LUT::share_out(CDB_ATOM_NODE* node, const unsigned* in, bool reversed) const
{
    return word_bit(get_lutmask(node), 32, index_kd(in), reversed);
}

unsigned MORV_NET_UTIL_6LUT::evaluate_comb_out_normal_mode(CDB_ATOM_NODE* node, const unsigned* in) const
{
    return comb_out_normal_mode(node, in, true);
}

unsigned MORV_NET_UTIL_6LUT::evaluate_comb_out_extended_mode(CDB_ATOM_NODE* node, const unsigned* in) const
{
    return comb_out_extended_mode(node, in, true);
}

unsigned MORV_NET_UTIL_6LUT::evaluate_sum_out_with_share_in(CDB_ATOM_NODE* node, const unsigned* in) const
{
    return adder_operands(node, in, true, true).sum();
}

unsigned MORV_NET_UTIL_6LUT::evaluate_sum_out_without_share_in(CDB_ATOM_NODE* node, const unsigned* in) const
{
    return adder_operands(node, in, false, true).sum();
}

unsigned MORV_NET_UTIL_6LUT::evaluate_carry_out_with_share_in(CDB_ATOM_NODE* node, const unsigned* in) const
{
    return adder_operands(node, in, true, true).carry();
}

unsigned MORV_NET_UTIL_6LUT::evaluate_carry_out_without_share_in(CDB_ATOM_NODE* node, const unsigned* in) const
{
    return adder_operands(node, in, false, true).carry();
}

unsigned MORV_NET_UTIL_6LUT::evaluate_comb_out(CDB_ATOM_NODE* node, const unsigned* in) const
{
    MORV_ASSERT(node->is_lcell_comb());
    if (!is_output_connected(node, DB_COMB_OUT)) return MORV_NO_LUT_VALUE;
    return is_in_extended_mode(node) ? evaluate_comb_out_extended_mode(node, in)
                                     : evaluate_comb_out_normal_mode(node, in);
}

unsigned MORV_NET_UTIL_6LUT::evaluate_sum_out(CDB_ATOM_NODE* node, const unsigned* in) const
{
    MORV_ASSERT(node->is_lcell_comb());
    if (!is_output_connected(node, DB_SUM_OUT)) return MORV_NO_LUT_VALUE;
    return is_connected(node, DB_SHARE_IN) ? evaluate_sum_out_with_share_in(node, in)
                                           : evaluate_sum_out_without_share_in(node, in);
}

unsigned MORV_NET_UTIL_6LUT::evaluate_carry_out(CDB_ATOM_NODE* node, const unsigned* input_values) const
{
    MORV_ASSERT(node);
    MORV_ASSERT(node->is_lcell_comb());
    MORV_ASSERT(input_values);
    if (!is_output_connected(node, DB_CARRY_OUT)) return MORV_NO_LUT_VALUE;
    return is_connected(node, DB_SHARE_IN) ? evaluate_carry_out_with_share_in(node, input_values)
                                           : evaluate_carry_out_without_share_in(node, input_values);
}

unsigned MORV_NET_UTIL_6LUT::evaluate_share_out(CDB_ATOM_NODE* node, const unsigned* in) const
{
    MORV_ASSERT(node->is_lcell_comb());
    if (!is_output_connected(node, DB_SHARE_OUT)) return MORV_NO_LUT_VALUE;
    return share_out(node, in, true);
}

// ---------------------------------------------------------------- input removal

int MORV_NET_UTIL_6LUT::remove_unused_lut_inputs(CDB_ATOM_NODE* node)
{
    MORV_ASSERT(node);
    MORV_ASSERT(node->is_lcell_comb());
    if (is_in_arithmetic_mode(node)) return remove_unused_arithmetic_inputs_6lut(node);
    if (is_in_extended_mode(node)) return 0;
    return remove_unused_normal_inputs_6lut(node);
}

namespace {

// Whether sum, carry and share-out ignore a data input: they read the low
// half at (a, b, c, d) and the upper half at (a, b, c, f) for sum and carry,
// at (a, b, c, d) for the share-out; e is never theirs to drop.
bool adder_ignores_input(const CDB_LUTMASK& low, const CDB_LUTMASK& high, int input, bool share_out_used)
{
    if (input < 3) return low.is_independent_of(input) && high.is_independent_of(input);
    if (input == 3) return low.is_independent_of(3) && (high.is_independent_of(3) || !share_out_used);
    return input == 5 && high.is_independent_of(3);
}

}  // namespace

int MORV_NET_UTIL_6LUT::remove_unused_arithmetic_inputs_6lut(CDB_ATOM_NODE* node)
{
    MORV_ASSERT(node && is_in_arithmetic_mode(node));
    const uint64_t mask = get_lutmask(node);
    const CDB_LUTMASK low(6, mask & 0xFFFF);
    const CDB_LUTMASK high(6, (mask >> 32) & 0xFFFF);
    const bool share_out_used = is_output_connected(node, DB_SHARE_OUT);
    // A used comb-out reads the whole mask, beyond the adder halves.
    const bool comb_out_used = is_output_connected(node, DB_COMB_OUT);
    const CDB_LUTMASK whole(6, node_mask(node));
    int count = 0;
    for (int input = 0; input < 6; ++input) {
        CDB_ATOM_ITERM* iterm = node->get_input_term_by_type(DB_DATA_A + input);
        if (iterm == nullptr || !iterm->is_connected()) continue;
        if (!adder_ignores_input(low, high, input, share_out_used)) continue;
        if (comb_out_used && !whole.is_independent_of(input)) continue;
        print_removed_input(input, node);
        disconnect_lut_input(iterm);
        ++count;
    }
    return count;
}

int MORV_NET_UTIL_6LUT::remove_unused_normal_inputs_6lut(CDB_ATOM_NODE* node)
{
    const CDB_LUTMASK mask(6, get_lutmask(node));
    const bool latch = is_latch(node);
    int count = 0;
    for (int input = 0; input < 6; ++input) {
        CDB_ATOM_ITERM* iterm = node->get_input_term_by_type(DB_DATA_A + input);
        if (iterm == nullptr || !iterm->is_connected() || !mask.is_independent_of(input)) continue;
        // A latch's data input stays whatever the mask says: the latch
        // description names it.
        if (latch && is_latch_data_input(node, iterm)) continue;
        print_removed_input(input, node);
        disconnect_lut_input(iterm);
        ++count;
    }
    return count;
}

// ---------------------------------------------------------------- carry chains and grid

CDB_ATOM_NODE* MORV_NET_UTIL_6LUT::get_next_node_in_carry_chain(CDB_ATOM_NODE* node) const
{
    MORV_ASSERT(node);
    if (!node->is_lcell_comb()) {
        MORV_ASSERT(node->is_lcell_hsadder());
        // An hsadder's chain goes on only into the next hsadder's chain
        // input; a carry-out read by anything else ends the chain.
        CDB_ATOM_OTERM* chain_out = connected_output(node, DB_CHAIN_OUT_0);
        if (chain_out == nullptr) return nullptr;
        for (auto it = chain_out->begin_iterm_fanout(); it != chain_out->end_iterm_fanout(); ++it)
            if ((*it)->get_my_node()->is_lcell_hsadder() && (*it)->is_used_as(DB_CHAIN_IN_0))
                return (*it)->get_my_node();
        return nullptr;
    }
    CDB_ATOM_OTERM* carry_out = connected_output(node, DB_CARRY_OUT);
    if (carry_out == nullptr) carry_out = connected_output(node, DB_SHARE_OUT);
    return carry_out != nullptr ? first_fanout_node(carry_out) : nullptr;
}

CDB_ATOM_NODE* MORV_NET_UTIL_6LUT::get_previous_node_in_carry_chain(CDB_ATOM_NODE* node) const
{
    MORV_ASSERT(node);
    if (node->is_lcell_comb()) {
        CDB_ATOM_ITERM* carry_in = node->get_input_term_by_type(DB_CARRY_IN);
        if (carry_in == nullptr || !carry_in->is_connected()) carry_in = node->get_input_term_by_type(DB_SHARE_IN);
        return source_node(carry_in);
    }
    if (node->is_lcell_hsadder()) {
        CDB_ATOM_NODE* previous = source_node(node->get_input_term_by_type(DB_CHAIN_IN_0));
        return previous != nullptr && previous->is_lcell_hsadder() ? previous : nullptr;
    }
    return nullptr;
}

int MORV_NET_UTIL_6LUT::get_average_neighbour_delay() const
{
    return grid_average_neighbour_delay();
}

int MORV_NET_UTIL_6LUT::get_sample_location_delay() const
{
    return grid_sample_location_delay();
}

MORV_OWNER<MORV_CANONICAL_NODE_INFO> MORV_NET_UTIL_6LUT::create_canonical_node_info(CDB_ATOM_OTERM* oterm) const
{
    return MORV_MAKE_OWNER(MORV_CANONICAL_NODE_INFO_BRK, m_api, oterm);
}
