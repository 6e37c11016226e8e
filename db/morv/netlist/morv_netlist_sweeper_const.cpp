// Constant propagation: a LUT input that carries a constant is folded into
// the LUT's mask and the input goes. A constant is the value the input
// really reads (a tied input's logical value, a constant driver's output
// through the input's inversion), and every fold is made in the family's
// own bit order, so the folded LUT computes what it computed before.

#include <cinttypes>

#include "cdb/cdb_atom_netlist.h"

#include "morv/core/morv_api.h"
#include "morv/core/morv_assert.h"
#include "morv/core/morv_debug_stream.h"
#include "morv/core/morv_env.h"
#include "morv/netlist/morv_net_util.h"
#include "morv/netlist/morv_netlist_sweeper.h"

int MORV_NETLIST_SWEEPER::propagate_constants()
{
    MORV_DEBUG_STREAM::print(1, "\tConstant propagator running...");
    std::vector<uint32_t> next;
    int folded = 0;
    int passes = 0;
    bool dirty = true;
    bool stopped = false;
    while (dirty && !stopped && passes < MORV_SWEEPER_MAX_PASSES) {
        const std::vector<CDB_ATOM_NODE*> visit = atoms_of_pass(passes == 0, &next);
        dirty = false;
        stopped = !propagate_constants_pass(visit, &next, &folded, &dirty) || m_api->fsyn_debug_stopped();
        ++passes;
    }
    if (dirty && !stopped && passes >= MORV_SWEEPER_MAX_PASSES)
        MORV_DEBUG_STREAM::print(0, "WARNING: Constant propagator has performed its max number of iterations but has "
                                    "not finished!");
    MORV_DEBUG_STREAM::print(2, "******* Constant Propagator Statistics ********");
    MORV_DEBUG_STREAM::print(2, "\tnum iterms propagated = %d", folded);
    MORV_DEBUG_STREAM::print(2, "\tnum iterations = %d", passes);
    MORV_DEBUG_STREAM::print(2, "***********************************************");
    MORV_DEBUG_STREAM::print(1, "\tExiting constant propagator...");
    return folded;
}

bool MORV_NETLIST_SWEEPER::propagate_constants_pass(const std::vector<CDB_ATOM_NODE*>& visit,
                                                    std::vector<uint32_t>* next, int* folded, bool* dirty)
{
    for (CDB_ATOM_NODE* node : visit) {
        // The cheap question first: most atoms read no constant at all.
        if (!has_foldable_constant(node) || is_dont_touch(node, AMM_OP_FITTER_FSYN_DUPLICATE)) continue;
        const int removed = propagate_constants_into_node(node);
        if (removed == 0) continue;
        *folded += removed;
        *dirty = true;
        add_readers(node, next);
        if (m_api->debug_checkpoint(__FILE__, __LINE__)) return false;
    }
    return true;
}

// Every reader of the node's outputs may now read a constant, and so may
// whatever the family derives from those readers.
void MORV_NETLIST_SWEEPER::add_readers(CDB_ATOM_NODE* node, std::vector<uint32_t>* next)
{
    for (auto ot = node->begin_oterm(); ot != node->end_oterm(); ++ot)
        for (auto it = (*ot)->begin_iterm_fanout(); it != (*ot)->end_iterm_fanout(); ++it)
            if (CDB_ATOM_NODE* reader = (*it)->get_my_node()) {
                next->push_back(reader->get_id());
                add_constant_dependents(reader, next);
            }
}

void MORV_NETLIST_SWEEPER::add_constant_dependents(CDB_ATOM_NODE* /*reader*/, std::vector<uint32_t>* /*next*/) {}

bool MORV_NETLIST_SWEEPER::has_foldable_constant(CDB_ATOM_NODE* node)
{
    uint64_t mask = 0;
    if (!get_lutmask_of_node(node, &mask)) return false;
    const bool arithmetic = m_net_util->is_in_arithmetic_mode(node);
    const bool share_in = m_net_util->is_connected(node, DB_SHARE_IN);
    for (int input = 0; input < m_max_lut_inputs; ++input) {
        CDB_ATOM_ITERM* iterm = node->get_input_term_by_type(DB_DATA_A + input);
        if (iterm == nullptr || !iterm->is_connected()) continue;
        int constant = -1;
        if (is_foldable_input(node, input, arithmetic, share_in) && get_constant_driving_iterm(iterm, &constant))
            return true;
    }
    return false;
}

int MORV_NETLIST_SWEEPER::propagate_constants_into_node(CDB_ATOM_NODE* node)
{
    MORV_ASSERT(node);
    uint64_t mask = 0;
    if (!get_lutmask_of_node(node, &mask)) return 0;
    const bool arithmetic = m_net_util->is_in_arithmetic_mode(node);
    const bool share_in = m_net_util->is_connected(node, DB_SHARE_IN);
    const int id = static_cast<int>(node->get_id());
    int folded = 0;
    for (int input = 0; input < m_max_lut_inputs; ++input) {
        CDB_ATOM_ITERM* iterm = node->get_input_term_by_type(DB_DATA_A + input);
        if (iterm == nullptr || !iterm->is_connected() || !is_foldable_input(node, input, arithmetic, share_in))
            continue;
        int constant = -1;
        if (!get_constant_driving_iterm(iterm, &constant) || m_api->get_assigned_boundary_port_id(iterm) != -1)
            continue;
        MORV_ASSERT_TEXT(constant == 0 || constant == 1, "1 == constant || 0 == constant");
        const uint64_t folded_mask = arithmetic
                                         ? fold_constant_input_in_arithmetic_mode(mask, input, constant, share_in)
                                         : cofactor_in_family_order(mask, input, constant);
        MORV_DEBUG_STREAM::print(100, "Collapsing input %d with constant %d for atom %d. %" PRIX64 " => %" PRIX64,
                                 input, constant, id, mask, folded_mask);
        mask = folded_mask;
        ++folded;
    }
    if (folded == 0) return 0;
    set_lutmask(node, mask);
    const int iterms_removed = m_net_util->remove_unused_lut_inputs(node);
    MORV_ASSERT_TEXT(iterms_removed > 0, "iterms_removed > 0");
    return iterms_removed;
}

bool MORV_NETLIST_SWEEPER::is_foldable_input(CDB_ATOM_NODE* /*node*/, int /*input*/, bool /*arithmetic*/,
                                             bool /*share_in_connected*/)
{
    return true;
}

// ---------------------------------------------------------------- masks

uint64_t MORV_NETLIST_SWEEPER::cofactor_lutmask(uint64_t lutmask, int input, int constant) const
{
    MORV_ASSERT_TEXT(constant == 1 || constant == 0, "(constant == 1) || (constant == 0)");
    MORV_ASSERT_TEXT(input >= 0 && input < m_max_lut_inputs, "(input >= 0) && (input < m_max_lut_inputs)");
    const int block = 1 << input;
    const int rows = 1 << m_max_lut_inputs;
    const uint64_t block_bits = (uint64_t(1) << block) - 1;  // block <= 32
    uint64_t result = 0;
    for (int j = 0; j < rows; j += 2 * block) {
        const uint64_t kept = (lutmask >> (j + (constant == 1 ? block : 0))) & block_bits;
        result |= (kept << j) | (kept << (j + block));
    }
    return result;
}

uint64_t MORV_NETLIST_SWEEPER::cofactor_in_family_order(uint64_t lutmask, int input, int constant) const
{
    return cofactor_lutmask(lutmask, input, m_mask_bits_reversed ? 1 - constant : constant);
}

bool MORV_NETLIST_SWEEPER::get_constant_of_mask(uint64_t lutmask, int mask_inputs, int* constant) const
{
    const uint64_t rows = CDB_LUTMASK::full_mask(mask_inputs);
    if ((lutmask & rows) == 0) *constant = 0;
    else if ((lutmask & rows) == rows) *constant = 1;
    else return false;
    return true;
}

int MORV_NETLIST_SWEEPER::read_through(const CDB_ATOM_ITERM* iterm, int driver_value)
{
    return iterm->reads_complemented() ? 1 - driver_value : driver_value;
}

bool MORV_NETLIST_SWEEPER::get_tied_constant(const CDB_ATOM_ITERM* iterm, int* constant)
{
    if (iterm->is_logical_vcc()) *constant = 1;
    else if (iterm->is_logical_gnd()) *constant = 0;
    else return false;
    return true;
}
