// The collapser of the 4-input-LUT families (TEV, ZEPLA). A cell whose node
// bit 29 is clear reads its carry-in where it would read input C; an
// arithmetic cell (carry-out in use) keeps a carry mask over inputs A, B and
// the carry-in, rebuilt together with its LUT mask.

#include "cdb/cdb_atom_node.h"

#include "morv/core/morv_assert.h"
#include "morv/netlist/morv_cdb_interface.h"
#include "morv/netlist/morv_node_collapser.h"

namespace {

// The term of the port exists and is tied to VCC (physically).
bool is_tied_to_vcc(CDB_ATOM_NODE* node, int port)
{
    CDB_ATOM_ITERM* iterm = node->get_input_term_by_type(port);
    return iterm != nullptr && iterm->is_vcc();
}

}  // namespace

bool MORV_NODE_COLLAPSER_4LUT::is_collapsible_source(CDB_ATOM_NODE* source)
{
    if (!source->is_lcell_comb() || is_dont_touch(source)) return false;
    if (!m_net_util->is_connected(source, DB_COMB_OUT)) return false;
    if (m_net_util->is_in_arithmetic_mode(source) && !is_tied_to_vcc(source, DB_DATA_D)) return false;
    return !m_net_util->is_carry_in_connected(source);
}

bool MORV_NODE_COLLAPSER_4LUT::is_collapsible_fanout(CDB_ATOM_NODE* /*source*/, CDB_ATOM_ITERM* fanout_iterm)
{
    CDB_ATOM_NODE* sink = fanout_iterm->get_my_node();
    return sink->is_lcell_comb() && m_net_util->is_lut_data_input(fanout_iterm) &&
           !m_net_util->is_sload_tied_to_vcc(sink) && !is_dont_touch(sink);
}

bool MORV_NODE_COLLAPSER_4LUT::can_collapse_into_normal_sink(CDB_ATOM_NODE* /*source*/, CDB_ATOM_ITERM* fanout_iterm)
{
    return m_net_util->is_connected(fanout_iterm->get_my_node(), DB_COMB_OUT);
}

bool MORV_NODE_COLLAPSER_4LUT::can_collapse_into_arithmetic_sink(CDB_ATOM_NODE* /*source*/,
                                                                 CDB_ATOM_ITERM* fanout_iterm)
{
    CDB_ATOM_NODE* sink = fanout_iterm->get_my_node();
    if (!is_tied_to_vcc(sink, DB_DATA_D)) return false;
    if (!m_net_util->is_connected(sink, DB_COMB_OUT) && !m_net_util->is_connected(sink, DB_CARRY_OUT)) return false;
    // The carry mask reads the carry-in where the merged LUT reads position
    // C: a LUT reading input C there cannot keep both.
    return !m_net_util->is_carry_in_connected(sink) || reads_carry_at_c(sink);
}

bool MORV_NODE_COLLAPSER_4LUT::can_merge_inputs(CDB_ATOM_NODE* source, CDB_ATOM_ITERM* fanout_iterm)
{
    CDB_ATOM_NODE* sink = fanout_iterm->get_my_node();
    MORV_COLLAPSE_INPUTS list_of_inputs;
    MORV_COLLAPSE_FLAGS flags;
    int source_inputs = 0;
    if (!build_input_list(source, sink, &list_of_inputs, &flags, &source_inputs)) return false;
    const int n = static_cast<int>(list_of_inputs.size());
    if (m_net_util->is_in_arithmetic_mode(sink)) return n <= 2;
    const bool carry_at_c = m_net_util->is_carry_in_connected(sink) || reads_carry_at_c(sink);
    return n <= m_max_lut_inputs - (carry_at_c ? 1 : 0);
}

bool MORV_NODE_COLLAPSER_4LUT::get_lut_inputs(CDB_ATOM_NODE* node, MORV_COLLAPSE_INPUTS* list_of_inputs,
                                              CDB_ATOM_OTERM* skip, MORV_COLLAPSE_FLAGS* flags)
{
    if (m_net_util->is_in_arithmetic_mode(node)) {
        CDB_ATOM_ITERM* curr_iterm = node->get_input_term_by_type(DB_DATA_D);
        MORV_ASSERT_TEXT(curr_iterm == nullptr || curr_iterm->is_vcc(), "curr_iterm->is_vcc()");
    }
    return MORV_NODE_COLLAPSER::get_lut_inputs(node, list_of_inputs, skip, flags);
}

void MORV_NODE_COLLAPSER_4LUT::reorder_inputs(const MORV_COLLAPSE_INPUTS& list_of_inputs,
                                              CDB_ATOM_OTERM** reordered_inputs, MORV_ITERM_PROPERTIES* records,
                                              const MORV_COLLAPSE_FLAGS& flags, CDB_ATOM_NODE* sink,
                                              CDB_ATOM_NODE* source)
{
    MORV_NODE_COLLAPSER::reorder_inputs(list_of_inputs, reordered_inputs, records, flags, sink, source);
    if (!reads_carry_at_c(sink)) return;
    MORV_ASSERT_TEXT(reordered_inputs[3] == nullptr, "reordered_inputs[DATAD_INPUT] == NULL");
    reordered_inputs[3] = reordered_inputs[2];
    records[3] = records[2];
    CDB_ATOM_ITERM* carry_in = sink->get_input_term_by_type(DB_CARRY_IN);
    reordered_inputs[2] = carry_in != nullptr ? carry_in->get_source() : nullptr;
    records[2] = carry_in != nullptr ? settings_of(carry_in) : MORV_ITERM_PROPERTIES();
}

bool MORV_NODE_COLLAPSER_4LUT::lut_reads_carry(CDB_ATOM_NODE* sink) const
{
    return m_net_util->reads_carry_in_at_c(sink);
}

bool MORV_NODE_COLLAPSER_4LUT::reads_carry_at_c(CDB_ATOM_NODE* sink) const
{
    // Without a carry-in the merged LUT reads input C there (prepare_sink).
    return lut_reads_carry(sink) && m_net_util->is_carry_in_connected(sink);
}

int MORV_NODE_COLLAPSER_4LUT::position_port(CDB_ATOM_NODE* sink, int position) const
{
    return position == 2 && reads_carry_at_c(sink) ? DB_CARRY_IN : DB_DATA_A + position;
}

int MORV_NODE_COLLAPSER_4LUT::sink_slot(CDB_ATOM_NODE* sink, int port) const
{
    if (port == DB_CARRY_IN) return lut_reads_carry(sink) ? MORV_EVALUATE_CARRY_IN : -1;
    if (port == DB_DATA_C && lut_reads_carry(sink)) return -1;
    return MORV_NODE_COLLAPSER::sink_slot(sink, port);
}

bool MORV_NODE_COLLAPSER_4LUT::deletes_unused_position(CDB_ATOM_NODE* sink, int port) const
{
    // An adder's D input holds its VCC tie.
    if (port == DB_DATA_D && m_net_util->is_in_arithmetic_mode(sink)) return false;
    return MORV_NODE_COLLAPSER::deletes_unused_position(sink, port);
}

bool MORV_NODE_COLLAPSER_4LUT::has_carry_mask(CDB_ATOM_NODE* sink) const
{
    return m_net_util->is_in_arithmetic_mode(sink);
}

int MORV_NODE_COLLAPSER_4LUT::lutmask_flag(CDB_ATOM_NODE* sink) const
{
    return sink->test_bit(CDB_ATOM_BIT_FOUR_INPUT_COMB) ? 0 : 1;
}

void MORV_NODE_COLLAPSER_4LUT::prepare_sink(CDB_ATOM_NODE* sink)
{
    // A LUT without a carry-in reads the merged input C at position C.
    if (lut_reads_carry(sink) && !m_net_util->is_carry_in_connected(sink))
        m_cdb_interface->set_node_bit(sink, CDB_ATOM_BIT_FOUR_INPUT_COMB);
}
