// The sweepers of the 6-input-LUT families. A combinational cell in
// arithmetic mode computes its sum and carry from two 16-bit halves of its
// mask, L (bits 0..15, read at inputs a, b, c, d) and H (bits 32..47, read
// at a, b, c, f; with a share-in H only feeds the share-out, read at a, b,
// c, d): a constant input is folded into the halves that read it.

#include "cdb/cdb_atom_node.h"

#include "morv/core/morv_api.h"
#include "morv/core/morv_assert.h"
#include "morv/netlist/morv_cdb_interface.h"
#include "morv/netlist/morv_legalizer.h"
#include "morv/netlist/morv_net_util.h"
#include "morv/netlist/morv_netlist_sweeper_family.h"

namespace {

constexpr int INPUT_D = 3;
constexpr int INPUT_E = 4;
constexpr int INPUT_F = 5;
constexpr int HALF_SHIFT = 32;
constexpr uint64_t HALF_BITS = 0xFFFF;

// A 16-bit half in all four quarters of a word, so that a 6-input fold
// on one of its four inputs folds the half.
uint64_t replicate_half(uint64_t half)
{
    half &= HALF_BITS;
    return half | (half << 16) | (half << 32) | (half << 48);
}

}  // namespace

MORV_NETLIST_SWEEPER_6LUT::MORV_NETLIST_SWEEPER_6LUT(MORV_API* api) : MORV_NETLIST_SWEEPER(api)
{
    m_max_lut_inputs = 6;
}

MORV_OWNER<MORV_NODE_COLLAPSER> MORV_NETLIST_SWEEPER_6LUT::make_node_collapser()
{
    return MORV_MAKE_OWNER(MORV_NODE_COLLAPSER_6LUT, m_api);
}

// ---------------------------------------------------------------- removal

bool MORV_NETLIST_SWEEPER_6LUT::is_node_sweepable(CDB_ATOM_NODE* node)
{
    if (!m_net_util->is_lcell(node)) return false;
    if (m_net_util->is_ff(node) || !node->is_lcell_comb()) return true;
    return !m_net_util->is_in_extended_mode(node) || is_pre_placement();
}

bool MORV_NETLIST_SWEEPER_6LUT::is_absent_or_removable(CDB_ATOM_NODE* node, int output_port_type)
{
    CDB_ATOM_OTERM* oterm = node->get_output_term_by_type(output_port_type);
    return oterm == nullptr || is_oterm_removable(oterm);
}

MORV_NETLIST_SWEEPER::REMOVAL MORV_NETLIST_SWEEPER_6LUT::get_register_removal(CDB_ATOM_NODE* node)
{
    return is_absent_or_removable(node, DB_REG_OUT) ? REMOVE_NODE : KEEP_NODE;
}

MORV_NETLIST_SWEEPER::REMOVAL MORV_NETLIST_SWEEPER_6LUT::get_combinational_cell_removal(CDB_ATOM_NODE* node)
{
    if (!is_absent_or_removable(node, DB_COMB_OUT)) return KEEP_NODE;
    for (int port : {DB_SUM_OUT, DB_CARRY_OUT, DB_SHARE_OUT})
        if (m_net_util->is_output_connected(node, port)) return KEEP_NODE;
    return REMOVE_NODE;
}

MORV_NETLIST_SWEEPER::REMOVAL MORV_NETLIST_SWEEPER_6LUT::get_removal(CDB_ATOM_NODE* node)
{
    if (!is_node_sweepable(node)) return KEEP_NODE;
    if (m_net_util->is_ff(node)) return get_register_removal(node);
    MORV_ASSERT_TEXT(node->is_lcell_comb(), "curr_node->is_lcell_comb()");
    return get_combinational_cell_removal(node);
}

// ---------------------------------------------------------------- constants

bool MORV_NETLIST_SWEEPER_6LUT::get_lutmask_of_node(CDB_ATOM_NODE* node, uint64_t* lutmask_val)
{
    if (!node->is_lcell_comb() || m_net_util->is_in_extended_mode(node) || m_net_util->is_latch(node)) return false;
    if (m_net_util->is_lcell_part_of_a_carry_chain(node) && m_net_util->is_output_connected(node, DB_SHARE_OUT) &&
        !m_net_util->is_connected(node, DB_SHARE_IN))
        return false;
    // A used comb-out reads the whole mask, the adder only its halves: no
    // fold can keep both.
    if (m_net_util->is_in_arithmetic_mode(node) && m_net_util->is_output_connected(node, DB_COMB_OUT)) return false;
    *lutmask_val = m_net_util->get_lutmask(node);
    return true;
}

bool MORV_NETLIST_SWEEPER_6LUT::get_lutmask_of_combout(CDB_ATOM_OTERM* oterm, uint64_t* lutmask_val)
{
    CDB_ATOM_NODE* node = oterm->get_my_node();
    if (node == nullptr || !node->is_lcell_comb() || !oterm->is_used_as(DB_COMB_OUT)) return false;
    if (m_net_util->is_in_extended_mode(node)) return false;
    *lutmask_val = m_net_util->get_lutmask(node);
    return !node->test_bit(CDB_ATOM_BIT_VIRTUAL_IO);
}

// The rule these families were specified with reads a mask of 0 as the
// constant 1 and all ones as 0. Their reversed bit order only permutes the
// rows, though: a LUT of mask 0 drives 0 on every row, as the host evaluates
// it, and a fold that took it for 1 would change the design. The value is
// read as it is, alike in every family.
bool MORV_NETLIST_SWEEPER_6LUT::get_constant_of_lutmask(uint64_t lutmask, int* constant)
{
    return get_constant_of_mask(lutmask, 6, constant);
}

bool MORV_NETLIST_SWEEPER_6LUT::get_constant_driving_iterm(CDB_ATOM_ITERM* iterm, int* constant)
{
    *constant = -1;
    if (get_tied_constant(iterm, constant)) return true;
    CDB_ATOM_OTERM* source = iterm->get_source();
    if (source == nullptr) return false;
    MORV_ASSERT_TEXT(source->get_my_node(), "driver_node");
    uint64_t mask = 0;
    int value = -1;
    if (!get_lutmask_of_combout(source, &mask)) return false;
    if (!get_constant_of_lutmask(mask, &value)) return false;
    *constant = read_through(iterm, value);
    return true;
}

uint64_t MORV_NETLIST_SWEEPER_6LUT::fold_constant_input_in_arithmetic_mode(uint64_t lutmask, int input, int constant,
                                                                           bool share_in_connected)
{
    uint64_t low = lutmask & HALF_BITS;
    uint64_t high = (lutmask >> HALF_SHIFT) & HALF_BITS;
    if (input != INPUT_F) low = cofactor_in_family_order(replicate_half(low), input, constant) & HALF_BITS;
    if (input != INPUT_D || share_in_connected) {
        const int high_input = input == INPUT_F ? INPUT_D : input;
        high = cofactor_in_family_order(replicate_half(high), high_input, constant) & HALF_BITS;
    }
    return (high << HALF_SHIFT) | low;
}

// In arithmetic mode the adder never reads input E, nor input F once a
// share-in takes the place of H: folding them would change nothing the
// adder reads (F would even fold H's input D for the share-out).
bool MORV_NETLIST_SWEEPER_6LUT::is_foldable_input(CDB_ATOM_NODE* /*node*/, int input, bool arithmetic,
                                                  bool share_in_connected)
{
    if (!arithmetic) return true;
    return input != INPUT_E && (input != INPUT_F || !share_in_connected);
}

void MORV_NETLIST_SWEEPER_6LUT::set_lutmask(CDB_ATOM_NODE* node, uint64_t lutmask)
{
    m_cdb_interface->set_lutmask(node, CDB_LUTMASK(6, lutmask), 0);
    m_api->modify_node(node);
}

// ---------------------------------------------------------------- MRL

bool MORV_NETLIST_SWEEPER_MRL::is_node_sweepable(CDB_ATOM_NODE* node)
{
    return m_net_util->is_lcell(node);
}

MORV_OWNER<MORV_NODE_COLLAPSER> MORV_NETLIST_SWEEPER_MRL::make_node_collapser()
{
    return MORV_MAKE_OWNER(MORV_NODE_COLLAPSER_MRL, m_api);
}

// The adder cell goes when every output it carries may go (its two sums
// and its carry-out), each judged where present.
MORV_NETLIST_SWEEPER::REMOVAL MORV_NETLIST_SWEEPER_MRL::get_removal(CDB_ATOM_NODE* node)
{
    if (!is_node_sweepable(node)) return KEEP_NODE;
    if (m_net_util->is_ff(node)) return get_register_removal(node);
    if (node->is_lcell_comb()) return get_combinational_cell_removal(node);
    MORV_ASSERT_TEXT(m_net_util->is_lcell_hsadder(node), "curr_node->is_lcell_hsadder()");
    for (auto it = node->begin_oterm(); it != node->end_oterm(); ++it)
        if (!is_oterm_removable(*it)) return KEEP_NODE;
    return REMOVE_NODE;
}

bool MORV_NETLIST_SWEEPER_MRL::get_lutmask_of_node(CDB_ATOM_NODE* node, uint64_t* lutmask_val)
{
    if (!node->is_lcell_comb() || m_net_util->is_in_extended_mode(node) || m_net_util->is_latch(node)) return false;
    if (m_net_util->is_in_arithmetic_mode(node) || m_net_util->is_lcell_part_of_a_carry_chain(node)) return false;
    *lutmask_val = m_net_util->get_lutmask(node);
    return true;
}

uint64_t MORV_NETLIST_SWEEPER_MRL::fold_constant_input_in_arithmetic_mode(uint64_t /*lutmask*/, int /*input*/,
                                                                          int /*constant*/, bool /*share_in_connected*/)
{
    MORV_ASSERT_TEXT(false, "This function is not supported for Fermlock II");
    return 0;
}

// A sweep can leave cells the device cannot build: the legaliser fixes
// them, and what it fixed counts in the sweep's total.
int MORV_NETLIST_SWEEPER_MRL::post_sweep()
{
    return MORV_LEGALIZER::legalize_after_sweep(m_api);
}
