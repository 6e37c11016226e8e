// The collapser of the 6-input-LUT families. BRK, OBRAN, RZK and KESTLIN
// also merge a source into an arithmetic sink through its adder halves: the
// low half reads inputs A, B, C, D and the upper half A, B, C and F (D when
// the sink reads a share-in), so the source's inputs go where the halves
// read them and each half is rebuilt over them. MRL merges only into cells
// outside carry chains and arithmetic mode, at most four inputs.

#include <algorithm>
#include <set>

#include "cdb/cdb_atom_node.h"

#include "morv/core/morv_api.h"
#include "morv/core/morv_assert.h"
#include "morv/netlist/morv_cdb_interface.h"
#include "morv/netlist/morv_chip_map.h"
#include "morv/netlist/morv_deterministic.h"
#include "morv/netlist/morv_node_collapser.h"

namespace {

// Inputs a LAB of the 6-input families can bring in.
constexpr int LAB_INPUTS = 36;

// The term of the port exists and has a source.
bool has_source(CDB_ATOM_NODE* node, int port)
{
    CDB_ATOM_ITERM* iterm = node->get_input_term_by_type(port);
    return iterm != nullptr && iterm->get_source() != nullptr;
}

bool is_fed_by(CDB_ATOM_NODE* node, int port, const CDB_ATOM_OTERM* oterm)
{
    CDB_ATOM_ITERM* iterm = node->get_input_term_by_type(port);
    return iterm != nullptr && iterm->get_source() == oterm;
}

}  // namespace

// ---------------------------------------------------------------- acceptance

bool MORV_NODE_COLLAPSER_6LUT::is_collapsible_source(CDB_ATOM_NODE* source)
{
    if (!source->is_lcell_comb() || is_dont_touch(source)) return false;
    const bool comb_out = m_net_util->is_connected(source, DB_COMB_OUT);
    if (m_net_util->is_in_arithmetic_mode(source) && comb_out) return false;
    if (!comb_out && !m_net_util->is_connected(source, DB_SUM_OUT)) return false;
    if (has_source(source, DB_CARRY_IN) || has_source(source, DB_SHARE_IN)) return false;
    return !m_net_util->is_connected(source, DB_DATA_G);
}

bool MORV_NODE_COLLAPSER_6LUT::is_collapsible_fanout(CDB_ATOM_NODE* /*source*/, CDB_ATOM_ITERM* fanout_iterm)
{
    CDB_ATOM_NODE* sink = fanout_iterm->get_my_node();
    return sink->is_lcell_comb() && m_net_util->is_lut_data_input(fanout_iterm) &&
           !m_net_util->is_sload_tied_to_vcc(sink) && !m_net_util->is_connected(sink, DB_DATA_G) &&
           !is_dont_touch(sink);
}

bool MORV_NODE_COLLAPSER_6LUT::can_collapse_into_normal_sink(CDB_ATOM_NODE* /*source*/, CDB_ATOM_ITERM* fanout_iterm)
{
    return m_net_util->is_connected(fanout_iterm->get_my_node(), DB_COMB_OUT);
}

bool MORV_NODE_COLLAPSER_6LUT::can_collapse_into_arithmetic_sink(CDB_ATOM_NODE* /*source*/,
                                                                 CDB_ATOM_ITERM* fanout_iterm)
{
    CDB_ATOM_NODE* sink = fanout_iterm->get_my_node();
    if (m_net_util->is_connected(sink, DB_COMB_OUT)) return false;
    return m_net_util->is_connected(sink, DB_CARRY_OUT) || m_net_util->is_connected(sink, DB_SUM_OUT);
}

bool MORV_NODE_COLLAPSER_6LUT::can_merge_inputs(CDB_ATOM_NODE* source, CDB_ATOM_ITERM* fanout_iterm)
{
    CDB_ATOM_NODE* sink = fanout_iterm->get_my_node();
    MORV_COLLAPSE_INPUTS list_of_inputs;
    MORV_COLLAPSE_FLAGS flags;
    int source_inputs = 0;
    if (!build_input_list(source, sink, &list_of_inputs, &flags, &source_inputs)) return false;
    if (static_cast<int>(list_of_inputs.size()) > m_max_lut_inputs) return false;
    if (!m_net_util->is_in_arithmetic_mode(sink)) return true;
    return can_merge_into_arithmetic_sink(source, fanout_iterm, list_of_inputs, flags, source_inputs);
}

bool MORV_NODE_COLLAPSER_6LUT::can_merge_into_arithmetic_sink(CDB_ATOM_NODE* /*source*/, CDB_ATOM_ITERM* fanout_iterm,
                                                              const MORV_COLLAPSE_INPUTS& list_of_inputs,
                                                              const MORV_COLLAPSE_FLAGS& flags, int source_inputs)
{
    CDB_ATOM_NODE* sink = fanout_iterm->get_my_node();
    if (sink->get_input_term_by_type(DB_SHARE_IN) == nullptr && m_net_util->is_connected(sink, DB_SHARE_OUT))
        return false;
    const bool share_in = m_net_util->is_connected(sink, DB_SHARE_IN);
    if (source_inputs > 1) {
        // Before placement a sink's ALE and LAB are unknown: only one input is safe.
        if (is_pre_placement()) return false;
        if (source_inputs > count_free_ale_inputs(sink, fanout_iterm, share_in)) return false;
        if (source_inputs > count_free_lab_inputs(sink)) return false;
    }
    CDB_ATOM_OTERM* reordered_inputs[MORV_COLLAPSE_SLOTS] = {};
    MORV_ITERM_PROPERTIES records[MORV_COLLAPSE_SLOTS];
    return place_arithmetic_inputs(list_of_inputs, flags, source_inputs, sink, reordered_inputs, records);
}

int MORV_NODE_COLLAPSER_6LUT::count_free_ale_inputs(CDB_ATOM_NODE* sink, CDB_ATOM_ITERM* fanout_iterm,
                                                    bool share_in_connected)
{
    MORV_ASSERT_TEXT(m_net_util->is_in_arithmetic_mode(sink), "m_net_util->is_in_arithmetic_mode(node)");
    const int last = share_in_connected ? DB_DATA_D : DB_DATA_C;
    int free_inputs = 1;
    for (int port = DB_DATA_A; port <= last; ++port)
        if (!m_net_util->is_connected(sink, port)) ++free_inputs;
    MORV_CHIP_MAP* chip_map = m_api->get_fsyn_chip_map();
    const int partner_id = chip_map != nullptr ? chip_map->find_ale_partner_node(static_cast<int>(sink->get_id())) : -1;
    CDB_ATOM_NODE* partner = partner_id != -1 ? m_api->get_node(partner_id) : nullptr;
    if (partner == nullptr || !partner->is_lcell_comb() || !m_net_util->is_in_arithmetic_mode(partner))
        return free_inputs;
    std::set<CDB_ATOM_OTERM*, DETERMINISTIC_LESS<CDB_ATOM_OTERM*>> sources;
    for (CDB_ATOM_NODE* cell : {sink, partner})
        for (int port = DB_DATA_A; port <= last; ++port)
            if (CDB_ATOM_ITERM* iterm = cell->get_input_term_by_type(port))
                if (iterm->get_source() != nullptr) sources.insert(iterm->get_source());
    // More sources than the pair has inputs leaves none free (rather than a
    // negative count).
    int free_ale_inputs = std::max(0, (share_in_connected ? 6 : 4) - static_cast<int>(sources.size())) + 1;
    if (m_collapse_mode == 0 && !fanout_iterm->is_used_as(DB_DATA_D) && !fanout_iterm->is_used_as(DB_DATA_F)) {
        for (int port = DB_DATA_A; port <= DB_DATA_C; ++port)
            if (is_fed_by(partner, port, fanout_iterm->get_source())) --free_ale_inputs;
    }
    return std::min(free_ale_inputs, free_inputs);
}

int MORV_NODE_COLLAPSER_6LUT::count_free_lab_inputs(CDB_ATOM_NODE* sink)
{
    std::vector<int> cells;
    MORV_CHIP_MAP* chip_map = m_api->get_fsyn_chip_map();
    MORV_LOC location;
    // A cell without a location is a LAB of its own.
    if (chip_map == nullptr || !chip_map->get_node_location(static_cast<int>(sink->get_id()), &location) ||
        !chip_map->get_nodes_in_lab(location, &cells))
        cells.assign(1, static_cast<int>(sink->get_id()));
    std::set<CDB_ATOM_OTERM*, DETERMINISTIC_LESS<CDB_ATOM_OTERM*>> sources;
    for (int id : cells) {
        CDB_ATOM_NODE* cell = m_api->get_node(id);
        if (cell == nullptr || !cell->is_lcell_comb()) continue;
        for (auto it = cell->begin_iterm(); it != cell->end_iterm(); ++it)
            if ((*it)->get_source() != nullptr) sources.insert((*it)->get_source());
    }
    return LAB_INPUTS - static_cast<int>(sources.size());
}

// ---------------------------------------------------------------- placement and the adder merge

bool MORV_NODE_COLLAPSER_6LUT::is_sink_in_arithmetic_mode(CDB_ATOM_NODE* sink)
{
    return m_net_util->is_in_arithmetic_mode(sink);
}

bool MORV_NODE_COLLAPSER_6LUT::lists_shared_adder_inputs(CDB_ATOM_NODE* node) const
{
    return m_net_util->is_in_arithmetic_mode(node);
}

int MORV_NODE_COLLAPSER_6LUT::merged_input_bit(CDB_ATOM_NODE* sink, int i) const
{
    // Without a share-in the upper half reads F as its fourth input: one
    // row index serves both halves.
    if (i == 5 && m_net_util->is_in_arithmetic_mode(sink) && !m_net_util->is_connected(sink, DB_SHARE_IN)) return 3;
    return MORV_NODE_COLLAPSER::merged_input_bit(sink, i);
}

bool MORV_NODE_COLLAPSER_6LUT::is_enumerated_position(CDB_ATOM_NODE* sink, int position) const
{
    if (!m_net_util->is_in_arithmetic_mode(sink)) return MORV_NODE_COLLAPSER::is_enumerated_position(sink, position);
    if (position < 4) return true;
    return position == 5 && !m_net_util->is_connected(sink, DB_SHARE_IN);
}

bool MORV_NODE_COLLAPSER_6LUT::place_arithmetic_inputs(const MORV_COLLAPSE_INPUTS& list_of_inputs,
                                                       const MORV_COLLAPSE_FLAGS& flags, int source_inputs,
                                                       CDB_ATOM_NODE* sink, CDB_ATOM_OTERM** reordered_inputs,
                                                       MORV_ITERM_PROPERTIES* records)
{
    // The sink's own inputs keep their positions.
    for (int position = 0; position < 6; ++position) {
        CDB_ATOM_ITERM* iterm = sink->get_input_term_by_type(DB_DATA_A + position);
        if (iterm == nullptr || iterm->get_source() == nullptr || iterm->get_source() == m_source_output) continue;
        reordered_inputs[position] = iterm->get_source();
        records[position] = settings_of(iterm);
    }
    std::vector<int> inputs;  // the source's distinct inputs, in list order
    for (int i = 0; i < source_inputs; ++i)
        if (std::find(list_of_inputs.begin(), list_of_inputs.begin() + i, list_of_inputs[i]) ==
            list_of_inputs.begin() + i)
            inputs.push_back(i);
    auto place = [&](int position, int input) {
        reordered_inputs[position] = list_of_inputs[input];
        records[position] = flags[input];
    };
    const bool at_d = is_fed_by(sink, DB_DATA_D, m_source_output);
    const bool at_f = is_fed_by(sink, DB_DATA_F, m_source_output);
    size_t next = 0;
    if (!inputs.empty() && (at_d || at_f)) {
        if (at_d) place(3, inputs[0]);
        if (at_f) {
            if (at_d) MORV_ASSERT_TEXT(inputs.size() == 1, "num_src_inputs == 1");
            place(5, inputs[0]);
        }
        next = 1;
    }
    const int positions = m_net_util->is_connected(sink, DB_SHARE_IN) ? 4 : 3;
    int position = 0;
    for (; next < inputs.size(); ++next) {
        while (position < positions && reordered_inputs[position] != nullptr) ++position;
        if (position == positions) return false;
        place(position++, inputs[next]);
    }
    return true;
}

void MORV_NODE_COLLAPSER_6LUT::reorder_inputs(const MORV_COLLAPSE_INPUTS& list_of_inputs,
                                              CDB_ATOM_OTERM** reordered_inputs, MORV_ITERM_PROPERTIES* records,
                                              const MORV_COLLAPSE_FLAGS& flags, CDB_ATOM_NODE* sink,
                                              CDB_ATOM_NODE* source)
{
    if (!m_net_util->is_in_arithmetic_mode(sink)) {
        MORV_NODE_COLLAPSER::reorder_inputs(list_of_inputs, reordered_inputs, records, flags, sink, source);
        return;
    }
    const bool placed =
        place_arithmetic_inputs(list_of_inputs, flags, m_source_inputs, sink, reordered_inputs, records);
    MORV_ASSERT_TEXT(placed, "src_inputs_placed == num_src_inputs");
}

void MORV_NODE_COLLAPSER_6LUT::collapse_node_into_arithmetic_sink(CDB_ATOM_NODE* source, CDB_ATOM_NODE* sink,
                                                                  const MORV_COLLAPSE_INPUTS& list_of_inputs,
                                                                  const MORV_COLLAPSE_FLAGS& flags)
{
    MORV_ASSERT_TEXT(sink->is_lcell_comb(), "sink->is_lcell_comb()");
    MORV_ASSERT_TEXT(m_net_util->is_connected(sink, DB_SUM_OUT) || m_net_util->is_connected(sink, DB_CARRY_OUT),
                     "m_net_util->is_connected(sink,::DB_SUM_OUT) || m_net_util->is_connected(sink,::DB_CARRY_OUT)");
    const bool share_in = m_net_util->is_connected(sink, DB_SHARE_IN);
    const uint64_t mask = m_net_util->get_lutmask(sink);
    CDB_ATOM_OTERM* reordered_inputs[MORV_COLLAPSE_SLOTS] = {};
    MORV_ITERM_PROPERTIES records[MORV_COLLAPSE_SLOTS];
    reorder_inputs(list_of_inputs, reordered_inputs, records, flags, sink, source);
    // Each half's row index flips where its own ports invert: the upper
    // half reads F as its fourth input without a share-in.
    const unsigned inverting = inverting_positions(sink);
    const unsigned low_flip = inverting & 0xFu;
    const unsigned high_flip = share_in ? low_flip : (inverting & 0x7u) | (((inverting >> 5) & 1u) << 3);
    auto half_bit = [&](int offset, unsigned row) { return (mask >> (offset + mask_bit(row, 4))) & 1u; };
    uint64_t low = 0;
    uint64_t high = 0;
    unsigned in[MORV_COLLAPSE_SLOTS];
    const MORV_COLLAPSE_TERMS terms = collapse_terms(source, sink);
    for (unsigned assignment = 0; assignment < 16; ++assignment) {
        evaluate_row(terms, source, assignment, reordered_inputs, records, in);
        const unsigned low_row = in[0] | (in[1] << 1) | (in[2] << 2) | (in[3] << 3);
        const unsigned high_row = share_in ? low_row : (in[0] | (in[1] << 1) | (in[2] << 2) | (in[5] << 3));
        if (half_bit(0, low_row)) low |= uint64_t(1) << mask_bit(assignment ^ low_flip, 4);
        if (half_bit(32, high_row)) high |= uint64_t(1) << mask_bit(assignment ^ high_flip, 4);
    }
    rewire_sink(sink, reordered_inputs, records);
    m_cdb_interface->set_lutmask(sink, CDB_LUTMASK(6, (high << 32) | low), 0);
    m_api->modify_node(sink);
    m_api->modify_node(source);
    m_api->modify_node(sink);
}

// ---------------------------------------------------------------- MRL

bool MORV_NODE_COLLAPSER_MRL::is_collapsible_source(CDB_ATOM_NODE* source)
{
    if (!source->is_lcell_comb() || is_dont_touch(source)) return false;
    if (!m_net_util->is_connected(source, DB_COMB_OUT) || m_net_util->is_connected(source, DB_DATA_G)) return false;
    // The merge places inputs by list order only, which a chain cell cannot take.
    return !m_net_util->is_lcell_part_of_a_carry_chain(source);
}

bool MORV_NODE_COLLAPSER_MRL::is_collapsible_fanout(CDB_ATOM_NODE* /*source*/, CDB_ATOM_ITERM* fanout_iterm)
{
    CDB_ATOM_NODE* sink = fanout_iterm->get_my_node();
    return sink->is_lcell_comb() && !m_net_util->is_lcell_part_of_a_carry_chain(sink) &&
           m_net_util->is_lut_data_input(fanout_iterm) && !m_net_util->is_connected(sink, DB_DATA_G) &&
           !is_dont_touch(sink);
}

bool MORV_NODE_COLLAPSER_MRL::can_collapse_into_arithmetic_sink(CDB_ATOM_NODE* /*source*/,
                                                                CDB_ATOM_ITERM* /*fanout_iterm*/)
{
    return false;
}

bool MORV_NODE_COLLAPSER_MRL::can_merge_inputs(CDB_ATOM_NODE* source, CDB_ATOM_ITERM* fanout_iterm)
{
    CDB_ATOM_NODE* sink = fanout_iterm->get_my_node();
    MORV_ASSERT_TEXT(!m_net_util->is_in_arithmetic_mode(sink), "!m_net_util->is_in_arithmetic_mode(sink)");
    MORV_COLLAPSE_INPUTS list_of_inputs;
    MORV_COLLAPSE_FLAGS flags;
    int source_inputs = 0;
    if (!build_input_list(source, sink, &list_of_inputs, &flags, &source_inputs)) return false;
    return list_of_inputs.size() <= 4;
}

bool MORV_NODE_COLLAPSER_MRL::is_sink_in_arithmetic_mode(CDB_ATOM_NODE* /*sink*/)
{
    return false;
}

void MORV_NODE_COLLAPSER_MRL::reorder_inputs(const MORV_COLLAPSE_INPUTS& list_of_inputs,
                                             CDB_ATOM_OTERM** reordered_inputs, MORV_ITERM_PROPERTIES* records,
                                             const MORV_COLLAPSE_FLAGS& flags, CDB_ATOM_NODE* sink,
                                             CDB_ATOM_NODE* source)
{
    MORV_ASSERT_TEXT(!m_net_util->is_lcell_part_of_a_carry_chain(source),
                     "!m_net_util->is_lcell_part_of_a_carry_chain(source)");
    MORV_ASSERT_TEXT(!m_net_util->is_lcell_part_of_a_carry_chain(sink),
                     "!m_net_util->is_lcell_part_of_a_carry_chain(sink)");
    MORV_NODE_COLLAPSER::reorder_inputs(list_of_inputs, reordered_inputs, records, flags, sink, source);
}
