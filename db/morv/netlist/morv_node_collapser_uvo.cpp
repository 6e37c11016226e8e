// The collapser of the UVO family, whose logic cell joins a 4-input LUT and
// a register: a source merges into the LUT of a cell whose register reads
// it, or into a cell's comb-out. The cell's LUT reads its carry-in at
// position C while node bit 28 is set; its register inputs (synchronous
// data among them) and its chain inputs 102 and 103 are never LUT
// positions, so a merge leaves them alone, and cells whose register feeds
// the LUT back (QFBK) or whose chain inputs are in use are not merged into.

#include "cdb/cdb_atom_node.h"

#include "morv/core/morv_assert.h"
#include "morv/netlist/morv_node_collapser.h"

bool MORV_NODE_COLLAPSER_UVO::is_collapsible_source(CDB_ATOM_NODE* source)
{
    if (!source->is_lcell() || is_dont_touch(source)) return false;
    if (!m_net_util->is_connected(source, DB_COMB_OUT)) return false;
    if (source->test_bit(CDB_ATOM_BIT_QFBK_MODE)) return false;
    return !m_net_util->is_carry_in_connected(source) && !m_net_util->is_connected(source, DB_REG_CONTROL);
}

bool MORV_NODE_COLLAPSER_UVO::is_collapsible_fanout(CDB_ATOM_NODE* source, CDB_ATOM_ITERM* fanout_iterm)
{
    CDB_ATOM_NODE* sink = fanout_iterm->get_my_node();
    if (!sink->is_lcell() || !m_net_util->is_lut_data_input(fanout_iterm) || is_dont_touch(sink)) return false;
    // The register fed back into the LUT (QFBK) and the chain inputs are no
    // LUT positions of the cell; a register control changes what it reads.
    if (sink->test_bit(CDB_ATOM_BIT_QFBK_MODE) || m_net_util->is_connected(sink, DB_REG_CONTROL)) return false;
    if (m_net_util->is_connected(sink, DB_CHAIN_IN_0) || m_net_util->is_connected(sink, DB_CHAIN_IN_1)) return false;
    if (m_net_util->is_sload_tied_to_vcc(sink)) return false;
    CDB_ATOM_ITERM* synch_data = sink->get_input_term_by_type(DB_SYNCH_DATA);
    if (synch_data != nullptr && synch_data->get_source() != nullptr &&
        synch_data->get_source()->get_my_node() == source)
        return false;
    if (fanout_iterm->is_used_as(DB_DATA_C) && fanout_iterm->is_used_as(DB_SYNCH_DATA)) return false;
    if (m_net_util->is_connected(sink, DB_CARRY_IN) && m_net_util->is_connected(sink, DB_DATA_C)) return false;
    return !m_net_util->is_connected(sink, DB_SYNCH_DATA) || !m_net_util->is_carry_in_connected(sink);
}

bool MORV_NODE_COLLAPSER_UVO::can_collapse_into_normal_sink(CDB_ATOM_NODE* /*source*/, CDB_ATOM_ITERM* fanout_iterm)
{
    CDB_ATOM_NODE* sink = fanout_iterm->get_my_node();
    const bool used = m_net_util->is_connected(sink, DB_COMB_OUT) || m_net_util->is_connected(sink, DB_REG_OUT);
    return used && !m_net_util->is_connected(sink, DB_ASYNCH_DATA);
}

bool MORV_NODE_COLLAPSER_UVO::can_collapse_into_arithmetic_sink(CDB_ATOM_NODE* /*source*/, CDB_ATOM_ITERM* fanout_iterm)
{
    CDB_ATOM_NODE* sink = fanout_iterm->get_my_node();
    const bool used = m_net_util->is_connected(sink, DB_COMB_OUT) || m_net_util->is_connected(sink, DB_REG_OUT) ||
                      m_net_util->has_carry_out_fanout(sink);
    if (!used || m_net_util->is_connected(sink, DB_SYNCH_DATA) || m_net_util->is_connected(sink, DB_ASYNCH_DATA))
        return false;
    // The carry mask reads the carry-in where the merged LUT reads position C.
    return !m_net_util->is_carry_in_connected(sink) || lut_reads_carry(sink);
}

bool MORV_NODE_COLLAPSER_UVO::can_merge_inputs(CDB_ATOM_NODE* source, CDB_ATOM_ITERM* fanout_iterm)
{
    MORV_ASSERT_TEXT(!m_net_util->is_connected(source, DB_REG_CONTROL),
                     "!m_net_util->is_connected(source,::DB_INVERTA)");
    CDB_ATOM_NODE* sink = fanout_iterm->get_my_node();
    MORV_COLLAPSE_INPUTS list_of_inputs;
    MORV_COLLAPSE_FLAGS flags;
    int source_inputs = 0;
    if (!build_input_list(source, sink, &list_of_inputs, &flags, &source_inputs)) return false;
    const int n = static_cast<int>(list_of_inputs.size());
    if (m_net_util->is_in_arithmetic_mode(sink)) return n <= 2;
    CDB_ATOM_ITERM* synch_data = sink->get_input_term_by_type(DB_SYNCH_DATA);
    const bool synch_data_connected = synch_data != nullptr && synch_data->is_connected();
    const bool one_fewer = m_net_util->is_carry_in_connected(sink) || synch_data_connected || lut_reads_carry(sink);
    if (n > m_max_lut_inputs - (one_fewer ? 1 : 0)) return false;
    if (!synch_data_connected || synch_data->get_source() == nullptr) return true;
    for (CDB_ATOM_OTERM* input : list_of_inputs)
        if (input == synch_data->get_source()) return false;
    return true;
}

bool MORV_NODE_COLLAPSER_UVO::lut_reads_carry(CDB_ATOM_NODE* sink) const
{
    return sink->test_bit(CDB_ATOM_BIT_LUTMASK_FLAG);
}

bool MORV_NODE_COLLAPSER_UVO::deletes_unused_position(CDB_ATOM_NODE* sink, int port) const
{
    return MORV_NODE_COLLAPSER::deletes_unused_position(sink, port);
}

int MORV_NODE_COLLAPSER_UVO::lutmask_flag(CDB_ATOM_NODE* sink) const
{
    return sink->test_bit(CDB_ATOM_BIT_LUTMASK_FLAG) ? 1 : 0;
}
