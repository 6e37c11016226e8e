#include "morv/netlist/morv_net_util_4lut.h"

#include "cdb/cdb_atom_node.h"

#include "morv/core/morv_assert.h"
#include "morv/netlist/morv_canonical_node_info.h"
#include "morv/core/morv_debug_stream.h"

MORV_NET_UTIL_4LUT::MORV_NET_UTIL_4LUT(CDB_ATOM_NETLIST* netlist, MORV_API* api) : MORV_NET_UTIL(netlist, api)
{
    m_max_lut_inputs = 4;
}

bool MORV_NET_UTIL_4LUT::is_lcell_in_a_chain(CDB_ATOM_NODE* node) const
{
    return node->is_lcell_comb() && is_lcell_part_of_a_carry_chain(node);
}

bool MORV_NET_UTIL_4LUT::is_lcell_part_of_a_carry_chain(CDB_ATOM_NODE* lcell_atom) const
{
    MORV_ASSERT(lcell_atom->is_lcell_comb());
    return is_connected(lcell_atom, DB_CARRY_IN) || is_output_connected(lcell_atom, DB_CARRY_OUT);
}

bool MORV_NET_UTIL_4LUT::is_in_register_cascade(CDB_ATOM_NODE* /*node*/) const
{
    return false;
}

bool MORV_NET_UTIL_4LUT::is_in_arithmetic_mode(CDB_ATOM_NODE* node) const
{
    MORV_ASSERT(node->is_lcell_comb());
    return is_output_connected(node, DB_CARRY_OUT);
}

bool MORV_NET_UTIL_4LUT::is_in_qfbk_mode(CDB_ATOM_NODE* /*node*/) const
{
    unsupported(FUNCTION_NOT_SUPPORTED);
}

bool MORV_NET_UTIL_4LUT::is_sload_tied_to_vcc(CDB_ATOM_NODE* /*node*/) const
{
    return false;
}

bool MORV_NET_UTIL_4LUT::is_lut_data_input(CDB_ATOM_ITERM* iterm) const
{
    MORV_ASSERT(iterm);
    CDB_ATOM_NODE* node = iterm->get_my_node();
    if (node == nullptr || !node->is_lcell_comb()) return false;
    for (int port = DB_DATA_A; port <= DB_DATA_D; ++port)
        if (iterm->is_used_as(port)) return true;
    return false;
}

bool MORV_NET_UTIL_4LUT::is_lcell(CDB_ATOM_NODE* node) const
{
    MORV_ASSERT(node);
    return node->is_lcell_comb() || is_ff(node);
}

bool MORV_NET_UTIL_4LUT::is_lcell_hsadder(CDB_ATOM_NODE* node) const
{
    MORV_ASSERT(node);
    return false;
}

bool MORV_NET_UTIL_4LUT::is_ff(CDB_ATOM_NODE* node) const
{
    return node->is_ff();
}

bool MORV_NET_UTIL_4LUT::is_lut(CDB_ATOM_NODE* node) const
{
    return node->is_lcell_comb();
}

bool MORV_NET_UTIL_4LUT::is_in_extended_mode(CDB_ATOM_NODE* /*node*/) const
{
    return false;
}

bool MORV_NET_UTIL_4LUT::is_register_control_input(CDB_ATOM_ITERM* iterm) const
{
    MORV_ASSERT(iterm);
    CDB_ATOM_NODE* node = iterm->get_my_node();
    if (node == nullptr || !is_ff(node)) return false;
    for (int port : {DB_CLOCK_ENABLE, DB_CLEAR, DB_SYNCH_CLEAR, DB_ASYNCH_LOAD, DB_SYNCH_LOAD})
        if (iterm->is_used_as(port)) return true;
    return false;
}

bool MORV_NET_UTIL_4LUT::is_register_present(CDB_ATOM_NODE* node) const
{
    MORV_ASSERT(node);
    return is_ff(node);
}

CDB_LUTMASK MORV_NET_UTIL_4LUT::create_or_lutmask(int number_of_inputs) const
{
    MORV_ASSERT(number_of_inputs >= 2 && number_of_inputs <= 6);
    switch (number_of_inputs) {
    case 2: return CDB_LUTMASK(4, 0xEEEE);
    case 3: return CDB_LUTMASK(4, 0xFEFE);
    case 4: return CDB_LUTMASK(4, 0xFFFE);
    default: MORV_ASSERT_TEXT(false, "I should have NEVER gotten here!!!!"); return CDB_LUTMASK();
    }
}

bool MORV_NET_UTIL_4LUT::is_carry_in_connected(CDB_ATOM_NODE* node) const
{
    MORV_ASSERT(node->is_lcell_comb());
    return is_connected(node, DB_CARRY_IN);
}

bool MORV_NET_UTIL_4LUT::reads_carry_in_at_c(CDB_ATOM_NODE* node) const
{
    // The four-input flag makes the LUT read input C; the cell factories set
    // it, but a stored netlist may hold a cell without it.
    return node->is_lcell_comb() && !node->test_bit(CDB_ATOM_BIT_FOUR_INPUT_COMB);
}

bool MORV_NET_UTIL_4LUT::has_carry_out_fanout(CDB_ATOM_NODE* node) const
{
    MORV_ASSERT(node->is_lcell_comb());
    return is_output_connected(node, DB_CARRY_OUT);
}

bool MORV_NET_UTIL_4LUT::does_lut_feed_register(CDB_ATOM_NODE* /*node*/) const
{
    unsupported(FAMILY_NOT_SUPPORTED);
}

bool MORV_NET_UTIL_4LUT::is_driven_by_constant_gnd(CDB_ATOM_ITERM* iterm) const
{
    return is_driven_by_constant(iterm, false, false);
}

bool MORV_NET_UTIL_4LUT::is_driven_by_constant_vcc(CDB_ATOM_ITERM* iterm) const
{
    return is_driven_by_constant(iterm, true, false);
}

// ---------------------------------------------------------------- masks

uint64_t MORV_NET_UTIL_4LUT::get_lcell_lutmask(CDB_ATOM_NODE* /*node*/) const
{
    unsupported(FAMILY_NOT_SUPPORTED);
}

uint64_t MORV_NET_UTIL_4LUT::get_lutmask(CDB_ATOM_NODE* node) const
{
    MORV_ASSERT(node);
    MORV_ASSERT(node->is_lcell_comb());
    if (CDB_ATOM_OTERM* combout = node->get_output_term_by_type(DB_COMB_OUT))
        return combout->has_fanout() ? oterm_mask(combout) : 0;
    CDB_ATOM_OTERM* oterm = node->get_output_term_by_type(DB_CARRY_OUT);
    MORV_ASSERT(oterm);
    return oterm_mask(oterm);
}

uint64_t MORV_NET_UTIL_4LUT::get_comb_lutmask(CDB_ATOM_NODE* node) const
{
    MORV_ASSERT(node);
    MORV_ASSERT(node->is_lcell_comb());
    CDB_ATOM_OTERM* combout = node->get_output_term_by_type(DB_COMB_OUT);
    MORV_ASSERT(combout);
    return oterm_mask(combout);
}

uint64_t MORV_NET_UTIL_4LUT::get_carry_lutmask(CDB_ATOM_NODE* node) const
{
    CDB_ATOM_OTERM* oterm = node->get_output_term_by_type(DB_CARRY_OUT);
    MORV_ASSERT(oterm);
    return oterm_mask(oterm);
}

// ---------------------------------------------------------------- evaluation

unsigned MORV_NET_UTIL_4LUT::evaluate_comb_out(CDB_ATOM_NODE* node, const unsigned* in) const
{
    MORV_ASSERT_TEXT(node && in, "node && port_type >= 0 && port_type < DB_MAX_OUTPUT_PORT_TYPE");
    if (!is_output_connected(node, DB_COMB_OUT)) return MORV_NO_LUT_VALUE;
    const uint64_t mask = get_lutmask(node);
    const unsigned t = reads_carry_in_at_c(node) ? in[MORV_EVALUATE_CARRY_IN] : in[2];
    return (mask >> (in[0] + 2 * in[1] + 4 * t + 8 * in[3])) & 1u;
}

unsigned MORV_NET_UTIL_4LUT::evaluate_sum_out(CDB_ATOM_NODE* /*node*/, const unsigned* /*in*/) const
{
    unsupported(FUNCTION_NOT_SUPPORTED);
}

unsigned MORV_NET_UTIL_4LUT::evaluate_carry_out(CDB_ATOM_NODE* node, const unsigned* in) const
{
    MORV_ASSERT(node->is_lcell_comb());
    if (!is_output_connected(node, DB_CARRY_OUT)) return MORV_NO_LUT_VALUE;
    CDB_ATOM_OTERM* carry_out = node->get_output_term_by_type(DB_CARRY_OUT);
    MORV_ASSERT(carry_out);
    return (oterm_mask(carry_out) >> (in[0] + 2 * in[1] + 4 * in[MORV_EVALUATE_CARRY_IN])) & 1u;
}

unsigned MORV_NET_UTIL_4LUT::evaluate_share_out(CDB_ATOM_NODE* /*node*/, const unsigned* /*in*/) const
{
    unsupported(FUNCTION_NOT_SUPPORTED);
}

// ---------------------------------------------------------------- input removal

int MORV_NET_UTIL_4LUT::remove_unused_lut_inputs(CDB_ATOM_NODE* node)
{
    MORV_ASSERT(node);
    if (is_in_arithmetic_mode(node))
        return remove_unused_arithmetic_inputs(node, CDB_LUTMASK(4, get_carry_lutmask(node)),
                                               CDB_LUTMASK(4, get_comb_lutmask(node)));
    return remove_unused_normal_inputs(node, CDB_LUTMASK(4, get_lutmask(node)));
}

// ---------------------------------------------------------------- carry chains and grid

CDB_ATOM_NODE* MORV_NET_UTIL_4LUT::get_next_node_in_carry_chain(CDB_ATOM_NODE* node) const
{
    MORV_ASSERT(node);
    CDB_ATOM_OTERM* carry_out = connected_output(node, DB_CARRY_OUT);
    return carry_out != nullptr ? first_fanout_node(carry_out) : nullptr;
}

CDB_ATOM_NODE* MORV_NET_UTIL_4LUT::get_previous_node_in_carry_chain(CDB_ATOM_NODE* node) const
{
    MORV_ASSERT(node);
    return source_node(node->get_input_term_by_type(DB_CARRY_IN));
}

int MORV_NET_UTIL_4LUT::get_average_neighbour_delay() const
{
    return grid_average_neighbour_delay();
}

int MORV_NET_UTIL_4LUT::get_sample_location_delay() const
{
    return grid_sample_location_delay();
}

MORV_OWNER<MORV_CANONICAL_NODE_INFO> MORV_NET_UTIL_4LUT::create_canonical_node_info(CDB_ATOM_OTERM* oterm) const
{
    return MORV_MAKE_OWNER(MORV_CANONICAL_NODE_INFO_4LUT, m_api, oterm);
}
