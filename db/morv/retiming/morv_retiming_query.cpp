// Wire-LUT tests, placement and tracking of new nodes, and the small
// queries the pushes and the family hooks share.
#include "cdb/cdb_atom_netlist.h"
#include "cdb/cdb_lutmask.h"

#include "morv/core/morv_api.h"
#include "morv/core/morv_assert.h"
#include "morv/netlist/morv_chip_map.h"
#include "morv/netlist/morv_net_util.h"
#include "morv/netlist/morv_nt.h"
#include "morv/retiming/morv_retiming.h"
#include "morv/timing/morv_timing.h"

namespace {

// Control inputs through which one cell may feed another's register.
const int k_control_ports[] = {DB_CLOCK, DB_CLOCK_ENABLE, DB_CLEAR, DB_SYNCH_CLEAR};

bool drives_control_of(const CDB_ATOM_NODE* driver, const CDB_ATOM_NODE* node)
{
    for (int port : k_control_ports) {
        CDB_ATOM_ITERM* iterm = node->get_input_term_by_type(port);
        if (iterm != nullptr && iterm->get_source() != nullptr && iterm->get_source()->get_my_node() == driver)
            return true;
    }
    return false;
}

int connected_lut_inputs(MORV_NET_UTIL* net_util, CDB_ATOM_NODE* node, int lut_inputs)
{
    int connected = 0;
    for (int port = DB_DATA_A; port < DB_DATA_A + lut_inputs; ++port)
        if (net_util->is_connected(node, port)) ++connected;
    return connected;
}

// The cell's comb output with `term` reading `value` and every other input
// reading what the written netlist gives it: a tie its logical value, an
// open input (a ZEPLA or TEV cell's absent carry-in read at C among them)
// 0. NO_LUT_VALUE when another input is driven.
unsigned evaluate_with_term(const CDB_ATOM_NODE* node, const CDB_ATOM_ITERM* term, unsigned value)
{
    unsigned in[CDB_ATOM_NODE::EVALUATE_INPUT_COUNT] = {};
    for (int slot = 0; slot < CDB_ATOM_NODE::EVALUATE_INPUT_COUNT; ++slot) {
        const CDB_ATOM_ITERM* other = node->get_input_term_by_type(node->get_evaluate_input_port(slot));
        if (other == nullptr || !other->is_connected()) continue;
        if (other == term) in[slot] = value;
        else if (other->is_driven()) return CDB_ATOM_NODE::NO_LUT_VALUE;
        else in[slot] = other->is_logical_vcc() ? 1u : 0u;
    }
    return node->evaluate_output(DB_COMB_OUT, in);
}

}  // namespace

// The design takes a cell with at most one connected input for a wire LUT
// and reads its inversion from bit 0 of the mask. Counting connected
// inputs is not enough: a mask that ignores its one input (or reads C
// where the cell reads its absent carry-in) holds a constant, and bit 0 of
// the mask is the output at input 0 only when nothing else reads 1. Here
// the cell's own function decides, as the writer evaluates it.
CDB_ATOM_ITERM* MORV_RETIMING::find_wire_input(CDB_ATOM_NODE* node, bool* complements_ret)
{
    MORV_ASSERT_TEXT(node, "node");
    CDB_ATOM_ITERM* in = nullptr;
    if (!has_lone_lut_input(node, &in) || in == nullptr || !in->is_driven()) return nullptr;
    const unsigned low = evaluate_with_term(node, in, 0), high = evaluate_with_term(node, in, 1);
    if (low > 1 || high > 1 || low == high) return nullptr;
    if (complements_ret != nullptr) *complements_ret = high == 0;
    return in;
}

bool MORV_RETIMING::is_wire_lut(CDB_ATOM_NODE* node)
{
    return find_wire_input(node, nullptr) != nullptr;
}

CDB_ATOM_ITERM* MORV_RETIMING::get_wire_lut_input(CDB_ATOM_NODE* node)
{
    CDB_ATOM_ITERM* in = find_wire_input(node, nullptr);
    MORV_ASSERT_TEXT(in, "is_wire_lut(node)");
    return in;
}

bool MORV_RETIMING::is_inverting_wire_lut(CDB_ATOM_NODE* node)
{
    bool complements = false;
    const bool wire = find_wire_input(node, &complements) != nullptr;
    MORV_ASSERT_TEXT(wire, "is_wire_lut(node)");
    return complements;
}

// The term's own inversion counts: a buffer mask behind an inverted input
// inverts its source just as an inverter mask does.
bool MORV_RETIMING::inverts_its_source(CDB_ATOM_NODE* node)
{
    MORV_ASSERT_TEXT(node, "node");
    if (m_net_util->is_lcell_part_of_a_carry_chain(node)) return false;
    bool complements = false;
    const CDB_ATOM_ITERM* in = find_wire_input(node, &complements);
    return in != nullptr && complements != in->reads_complemented();
}

bool MORV_RETIMING::holds_constant_one(CDB_ATOM_NODE* node)
{
    MORV_ASSERT_TEXT(node, "node");
    CDB_ATOM_ITERM* in = nullptr;
    if (!has_lone_lut_input(node, &in)) return false;
    if (in != nullptr && !in->is_driven()) in = nullptr;
    return evaluate_with_term(node, in, 0) == 1 && (in == nullptr || evaluate_with_term(node, in, 1) == 1);
}

bool MORV_RETIMING::has_lone_lut_input(CDB_ATOM_NODE* node, CDB_ATOM_ITERM** in_ret)
{
    if (connected_lut_inputs(m_net_util, node, m_num_lut_inputs) > 1 || has_carry_connection(node) ||
        has_extra_input(node))
        return false;
    *in_ret = nullptr;
    for (int port = DB_DATA_A; *in_ret == nullptr && port < DB_DATA_A + m_num_lut_inputs; ++port)
        if (m_net_util->is_connected(node, port)) *in_ret = node->get_input_term_by_type(port);
    return true;
}

int MORV_RETIMING::count_connected_data_inputs(CDB_ATOM_NODE* node)
{
    MORV_ASSERT_TEXT(node, "node");
    MORV_ASSERT_TEXT(m_net_util->is_lut(node), "m_net_util->is_lut(node)");
    return connected_lut_inputs(m_net_util, node, m_num_lut_inputs);
}

bool MORV_RETIMING::has_carry_connection(CDB_ATOM_NODE* node)
{
    MORV_ASSERT_TEXT(node, "node");
    return m_net_util->has_carry_out_fanout(node) || m_net_util->is_carry_in_connected(node);
}

bool MORV_RETIMING::feeds_control_of(CDB_ATOM_NODE* node, CDB_ATOM_NODE* src_node)
{
    MORV_ASSERT_TEXT(node, "node");
    MORV_ASSERT_TEXT(src_node, "src_node");
    if (!m_net_util->is_lcell(node) || !m_net_util->is_lcell(src_node)) return false;
    const bool chain = m_net_util->is_lcell_part_of_a_carry_chain(node);
    CDB_ATOM_NODE* cell = chain ? m_net_util->get_carry_chain_head(node) : node;
    for (; cell != nullptr; cell = chain ? m_net_util->get_next_node_in_carry_chain(cell) : nullptr)
        if (drives_control_of(cell, src_node) || drives_control_of(src_node, node)) return true;
    return false;
}

void MORV_RETIMING::copy_location(CDB_ATOM_NODE* loc_node, CDB_ATOM_NODE* new_node)
{
    MORV_ASSERT_TEXT(loc_node, "loc_node");
    MORV_ASSERT_TEXT(new_node, "new_node");
    MORV_CHIP_MAP* chip_map = m_fsyn_api->get_fsyn_chip_map();
    MORV_ASSERT_TEXT(chip_map, "m_fsyn_chip_map");
    MORV_LOC location;
    chip_map->get_node_location(static_cast<int>(loc_node->get_id()), &location);
    MORV_ASSERT_TEXT(location.x != MORV_OPEN && location.y != MORV_OPEN, "x_loc != MORV_OPEN && y_loc != MORV_OPEN");
    chip_map->place_new_node_near(static_cast<int>(new_node->get_id()), location);
    m_fsyn_api->node_added(new_node, loc_node, 4, DB_MAX_OUTPUT_PORT_TYPE, true);
    m_live_nodes.insert(new_node);
    ++m_created_node_count;
}

void MORV_RETIMING::record_tracking(CDB_ATOM_NODE* new_node, int operation_kind)
{
    MORV_NT* nt = m_fsyn_api->get_fsyn_nt();
    const int kind = m_fsyn_nt_op_type == s_NT_OP_UNSET ? operation_kind : m_fsyn_nt_op_type;
    nt->record_operation_from_many(&m_consumed_register_ids, MORV_NT_NODE_ID(static_cast<int>(new_node->get_id())),
                                   kind, m_operation_text);
}

bool MORV_RETIMING::is_input_critical(CDB_ATOM_NODE* node, int port_type)
{
    MORV_ASSERT_TEXT(node, "node");
    CDB_ATOM_ITERM* iterm = node->get_input_term_by_type(port_type);
    if (iterm == nullptr || !iterm->is_connected() || m_touched_iterms.contains(iterm)) return false;
    return m_slack_ratio_threshold >= m_fsyn_timing->get_slack_ratio(iterm);
}

// A rewritten term's timing is not up to date: it counts as half the
// largest critical slack.
int MORV_RETIMING::get_iterm_slack(CDB_ATOM_ITERM* iterm)
{
    MORV_ASSERT_TEXT(iterm, "iterm");
    if (m_touched_iterms.contains(iterm)) return m_max_critical_slack / 2;
    return m_fsyn_timing->get_slack(iterm);
}

// Subsets of the LUT inputs as masks, smallest sets first and by value
// within one size; the start value ~0u gives the empty set.
bool MORV_RETIMING::next_input_subset(uint32_t* current_index)
{
    MORV_ASSERT_TEXT(current_index, "current_index");
    const int n = m_num_lut_inputs;
    const uint32_t low = (1u << n) - 1u;
    uint32_t c = *current_index;
    if (c == ~0u) {
        *current_index = 0;
        return true;
    }
    const int k = __builtin_popcount(c & low);
    if (k == n) {
        *current_index = c + 1;
        return false;
    }
    for (int i = 0; i < n - 1; ++i) {
        if ((c >> i & 1u) == 0 || (c >> (i + 1) & 1u) != 0) continue;
        // Bits 0..i hold how many ones: one moves up to i + 1, the rest drop low.
        const int below = __builtin_popcount(c & ((2u << i) - 1u)) - 1;
        *current_index = (c & ~((2u << i) - 1u)) | (1u << (i + 1)) | ((1u << below) - 1u);
        return true;
    }
    *current_index = (1u << (k + 1)) - 1u;
    return true;
}

CDB_LUTMASK MORV_RETIMING::get_lutmask_4(CDB_ATOM_NODE* node)
{
    MORV_ASSERT_TEXT(node, "node");
    return CDB_LUTMASK(4, m_net_util->get_lutmask(node) & CDB_LUTMASK::full_mask(4));
}
