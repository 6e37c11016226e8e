#include "morv/netlist/morv_node_collapser.h"

#include <algorithm>
#include <map>
#include <utility>

#include "cdb/cdb_atom_netlist.h"
#include "cdb/cdb_atom_node.h"

#include "morv/core/family/morv_family_traits.h"
#include "morv/core/morv_api.h"
#include "morv/core/morv_assert.h"
#include "morv/core/morv_debug_stream.h"
#include "morv/core/morv_env.h"
#include "morv/core/morv_expert.h"
#include "morv/netlist/morv_cdb_interface.h"
#include "morv/netlist/morv_chip_map.h"
#include "morv/netlist/morv_deterministic.h"

MORV_NODE_COLLAPSER::MORV_NODE_COLLAPSER(MORV_API* api)
    : m_api(api), m_cdb_interface(nullptr), m_atom_netlist(nullptr), m_net_util(nullptr), m_max_lut_inputs(0),
      m_mask_bits_reversed(false)
{
    MORV_ASSERT(api);
    m_cdb_interface = api->get_fsyn_cdb_interface();
    MORV_ASSERT_TEXT(m_cdb_interface, "m_fsyn_cdb_interface");
    m_net_util = api->get_fsyn_net_util();
    MORV_ASSERT_TEXT(m_net_util, "m_fsyn_net_util");
    m_atom_netlist = api->get_atom_netlist();
    m_max_lut_inputs = m_net_util->get_max_lut_inputs();
    m_mask_bits_reversed = morv_family_traits(api->get_base_family_code()).m_mask_bits_reversed;
}

MORV_NODE_COLLAPSER::~MORV_NODE_COLLAPSER() {}

// ---------------------------------------------------------------- passes

int MORV_NODE_COLLAPSER::collapse_nodes()
{
    MORV_DEBUG_STREAM::print(1, "\tNode collapser running...That's right...the node collapsa");
    m_luts.clear();
    m_lut_position.clear();
    m_notes = 0;
    for (CDB_ATOM_NODE* node : *m_atom_netlist) {
        MORV_ASSERT_TEXT(node, "curr_node");
        if (!m_net_util->is_lut(node)) continue;
        m_lut_position[node->get_id()] = static_cast<int>(m_luts.size());
        m_luts.push_back(node);
    }
    m_is_touched.assign(m_luts.size(), false);
    std::vector<CDB_ATOM_NODE*> visit = m_luts;
    int count = 0;
    int passes = 0;
    for (;;) {
        ++passes;
        forget_touched();
        if (!collapse_pass(visit, &count)) break;
        visit = next_pass_nodes();
    }
    forget_touched();
    MORV_DEBUG_STREAM::print(1, "\tCollapsed {%d} nodes over %d iterations", count, passes);
    return count;
}

bool MORV_NODE_COLLAPSER::collapse_pass(const std::vector<CDB_ATOM_NODE*>& visit, int* count)
{
    bool dirty = false;
    for (CDB_ATOM_NODE* node : visit) {
        MORV_ASSERT_TEXT(node, "curr_node");
        const int fanout = merged_fanout(node);
        if (!collapse_one(node)) continue;
        // The design repeats until a pass collapses nothing; here a merge
        // that left its source's fanout as it was does not count. A merge
        // takes the source out of its sinks; one that did not changed
        // nothing the next pass could build on, and would repeat for ever.
        if (merged_fanout(node) >= fanout) {
            MORV_DEBUG_STREAM::print(1, "\tCollapsing node %d left its fanout unchanged",
                                     static_cast<int>(node->get_id()));
            continue;
        }
        m_api->modify_node(node);
        ++*count;
        // The stop point has dumped and saved the netlist: this pass ends here.
        if (m_api->debug_checkpoint(__FILE__, __LINE__)) break;
        dirty = true;
    }
    return dirty;
}

bool MORV_NODE_COLLAPSER::collapse_one(CDB_ATOM_NODE* node)
{
    const bool every_sink =
        m_net_util->get_number_of_connected_lut_inputs(node) == 1 || m_net_util->is_in_arithmetic_mode(node);
    m_collapse_mode = every_sink ? 1 : 0;
    return every_sink ? collapse_node_into_all_sinks(node) : collapse_node_into_single_sink(node);
}

int MORV_NODE_COLLAPSER::merged_fanout(CDB_ATOM_NODE* node)
{
    int fanout = 0;
    for (int port : {DB_COMB_OUT, DB_SUM_OUT})
        if (CDB_ATOM_OTERM* output = node->get_output_term_by_type(port)) fanout += output->get_number_of_fanout();
    return fanout;
}

std::vector<CDB_ATOM_NODE*> MORV_NODE_COLLAPSER::next_pass_nodes()
{
    std::sort(m_touched.begin(), m_touched.end());
    std::vector<CDB_ATOM_NODE*> nodes;
    nodes.reserve(m_touched.size());
    for (int position : m_touched) nodes.push_back(m_luts[position]);
    return nodes;
}

void MORV_NODE_COLLAPSER::forget_touched()
{
    for (int position : m_touched) m_is_touched[position] = false;
    m_touched.clear();
}

void MORV_NODE_COLLAPSER::note_node(CDB_ATOM_NODE* node)
{
    ++m_notes;
    auto found = m_lut_position.find(node->get_id());
    if (found == m_lut_position.end() || m_is_touched[found->second]) return;
    m_is_touched[found->second] = true;
    m_touched.push_back(found->second);
}

void MORV_NODE_COLLAPSER::note_neighbourhood(CDB_ATOM_NODE* node)
{
    note_node(node);
    for (auto it = node->begin_iterm(); it != node->end_iterm(); ++it)
        if ((*it)->get_source() != nullptr) note_node((*it)->get_source()->get_my_node());
}

void MORV_NODE_COLLAPSER::note_lab_of(CDB_ATOM_NODE* node)
{
    // After placement a sink's room depends on what its LAB reads. Before
    // it no rule reads that room, and the early flow enters every atom at
    // one LAB, whose members would be the whole netlist.
    if (is_pre_placement()) return;
    MORV_CHIP_MAP* chip_map = m_api->get_fsyn_chip_map();
    MORV_LOC location;
    if (chip_map == nullptr || !chip_map->get_node_location(static_cast<int>(node->get_id()), &location)) return;
    std::vector<int> lab;
    chip_map->get_nodes_in_lab(location, &lab);
    for (int id : lab)
        if (CDB_ATOM_NODE* member = m_api->get_node(id)) note_neighbourhood(member);
}

// ---------------------------------------------------------------- one source

bool MORV_NODE_COLLAPSER::collapse_node_into_single_sink(CDB_ATOM_NODE* source)
{
    MORV_ASSERT_TEXT(source, "source");
    if (!is_collapsible_source(source) || !input_settings_allow_merge(source)) return false;
    CDB_ATOM_OTERM* output = source->get_output_term_by_type(DB_COMB_OUT);
    CDB_ATOM_ITERM* fanout_iterm = nullptr;
    for (auto it = output->begin_iterm_fanout(); it != output->end_iterm_fanout(); ++it) {
        if (fanout_iterm != nullptr) return false;
        fanout_iterm = *it;
        if (!m_net_util->is_lut_data_input(fanout_iterm) || fanout_iterm->get_my_node() == source) return false;
    }
    MORV_ASSERT_TEXT(fanout_iterm, "sink");
    m_source_output = output;
    CDB_ATOM_NODE* sink = fanout_iterm->get_my_node();
    if (!is_collapsible_sink(source, fanout_iterm) || !host_allows_collapse(source, sink)) return false;
    return collapse_source_into_sink(source, sink);
}

bool MORV_NODE_COLLAPSER::collapse_node_into_all_sinks(CDB_ATOM_NODE* source)
{
    MORV_ASSERT_TEXT(source, "source");
    if (!is_collapsible_source(source) || !input_settings_allow_merge(source)) return false;
    CDB_ATOM_OTERM* output = source->get_output_term_by_type(DB_COMB_OUT);
    if (output == nullptr || !output->has_fanout()) output = source->get_output_term_by_type(DB_SUM_OUT);
    MORV_ASSERT_TEXT(output && output->has_fanout(), "m_net_util->is_connected(src_port_out)");
    // The first term of each sink, visited by sink.
    std::map<CDB_ATOM_NODE*, CDB_ATOM_ITERM*> first_term;
    for (auto it = output->begin_iterm_fanout(); it != output->end_iterm_fanout(); ++it) {
        if ((*it)->get_my_node() == source) return false;
        first_term.emplace((*it)->get_my_node(), *it);
    }
    std::vector<CDB_ATOM_ITERM*> terms;
    for (const auto& entry : first_term) terms.push_back(entry.second);
    std::sort(terms.begin(), terms.end(), DETERMINISTIC_LESS<CDB_ATOM_ITERM*>());
    bool collapsed = false;
    for (CDB_ATOM_ITERM* fanout_iterm : terms) {
        m_source_output = output;
        CDB_ATOM_NODE* sink = fanout_iterm->get_my_node();
        if (!is_collapsible_sink(source, fanout_iterm) || !host_allows_collapse(source, sink)) continue;
        collapsed = collapse_source_into_sink(source, sink) || collapsed;
    }
    return collapsed;
}

bool MORV_NODE_COLLAPSER::input_settings_allow_merge(CDB_ATOM_NODE* source) const
{
    for (auto it = source->begin_iterm(); it != source->end_iterm(); ++it) {
        if (!(*it)->is_connected()) continue;
        const int setting = (*it)->get_global();
        if (setting != 0 && setting != 2 && setting != 4) return false;
    }
    return true;
}

bool MORV_NODE_COLLAPSER::is_collapsible_sink(CDB_ATOM_NODE* source, CDB_ATOM_ITERM* fanout_iterm)
{
    MORV_ASSERT_TEXT(fanout_iterm, "fanout_iterm");
    CDB_ATOM_NODE* sink = fanout_iterm->get_my_node();
    MORV_ASSERT_TEXT(sink, "sink");
    if (m_api->get_assigned_boundary_port_id(fanout_iterm) != -1) return false;
    if (!is_collapsible_fanout(source, fanout_iterm)) return false;
    // A LUT input that also serves the register would change the register too.
    for (auto it = sink->begin_iterm(); it != sink->end_iterm(); ++it)
        if (m_net_util->is_lut_data_input(*it) && (*it)->get_usage_count() > 1) return false;
    if (m_net_util->is_lcell_part_of_a_carry_chain(source) && m_net_util->is_lcell_part_of_a_carry_chain(sink))
        return false;
    const bool arithmetic = m_net_util->is_in_arithmetic_mode(sink);
    if (arithmetic ? !can_collapse_into_arithmetic_sink(source, fanout_iterm)
                   : !can_collapse_into_normal_sink(source, fanout_iterm))
        return false;
    return can_merge_inputs(source, fanout_iterm);
}

bool MORV_NODE_COLLAPSER::host_allows_collapse(CDB_ATOM_NODE* source, CDB_ATOM_NODE* sink)
{
    std::vector<CDB_ATOM_NODE*> nodes;
    if (m_net_util->is_lcell_part_of_a_carry_chain(sink)) nodes = carry_chain_of(sink);
    else nodes.push_back(sink);
    return m_api->get_morv_env()->can_collapse_node(source, nodes);
}

std::vector<CDB_ATOM_NODE*> MORV_NODE_COLLAPSER::carry_chain_of(CDB_ATOM_NODE* node) const
{
    // A chain's carry may leave it for a cell of another kind: the chain
    // ends at the last cell that carries a LUT.
    const size_t limit = m_atom_netlist->get_node_count();
    auto in_chain = [this](CDB_ATOM_NODE* cell) {
        return cell != nullptr && (m_net_util->is_lut(cell) || m_net_util->is_lcell_hsadder(cell));
    };
    CDB_ATOM_NODE* head = node;
    size_t steps = 0;
    for (CDB_ATOM_NODE* previous = m_net_util->get_previous_node_in_carry_chain(head); in_chain(previous);
         previous = m_net_util->get_previous_node_in_carry_chain(head)) {
        head = previous;
        MORV_ASSERT_TEXT(++steps <= limit, "carry chain without a head");
    }
    std::vector<CDB_ATOM_NODE*> chain;
    for (CDB_ATOM_NODE* cell = head; in_chain(cell); cell = m_net_util->get_next_node_in_carry_chain(cell)) {
        chain.push_back(cell);
        MORV_ASSERT_TEXT(chain.size() <= limit, "carry chain without an end");
    }
    return chain;
}

bool MORV_NODE_COLLAPSER::build_input_list(CDB_ATOM_NODE* source, CDB_ATOM_NODE* sink,
                                           MORV_COLLAPSE_INPUTS* list_of_inputs, MORV_COLLAPSE_FLAGS* flags,
                                           int* source_inputs)
{
    list_of_inputs->clear();
    flags->clear();
    if (!get_lut_inputs(source, list_of_inputs, nullptr, flags)) return false;
    *source_inputs = static_cast<int>(list_of_inputs->size());
    return get_lut_inputs(sink, list_of_inputs, m_source_output, flags);
}

void MORV_NODE_COLLAPSER::prepare_attempt(CDB_ATOM_NODE* source)
{
    MORV_ASSERT_TEXT(source, "source");
    m_source_output = source->get_output_term_by_type(DB_COMB_OUT);
    if (m_source_output == nullptr || !m_source_output->has_fanout())
        m_source_output = source->get_output_term_by_type(DB_SUM_OUT);
    MORV_ASSERT_TEXT(m_source_output && m_source_output->has_fanout(), "m_net_util->is_connected(src_port_out)");
    MORV_COLLAPSE_INPUTS list_of_inputs;
    MORV_COLLAPSE_FLAGS flags;
    get_lut_inputs(source, &list_of_inputs, nullptr, &flags);
    m_source_inputs = static_cast<int>(list_of_inputs.size());
}

bool MORV_NODE_COLLAPSER::collapse_source_into_sink(CDB_ATOM_NODE* source, CDB_ATOM_NODE* sink)
{
    MORV_ASSERT_TEXT(source, "source");
    MORV_ASSERT_TEXT(sink, "sink");
    MORV_COLLAPSE_INPUTS list_of_inputs;
    list_of_inputs.reserve(16);
    MORV_COLLAPSE_FLAGS flags;
    const bool result = build_input_list(source, sink, &list_of_inputs, &flags, &m_source_inputs);
    MORV_ASSERT_TEXT(result, "result");
    MORV_ASSERT_TEXT(static_cast<int>(list_of_inputs.size()) <= m_max_lut_inputs,
                     "(int)list_of_inputs.size() <= m_max_lut_inputs");
    MORV_DEBUG_STREAM::print(100, "Collapsing Node %d into Sink Node %d", static_cast<int>(source->get_id()),
                             static_cast<int>(sink->get_id()));
    note_neighbourhood(source);
    note_neighbourhood(sink);
    note_lab_of(sink);
    if (is_sink_in_arithmetic_mode(sink)) collapse_node_into_arithmetic_sink(source, sink, list_of_inputs, flags);
    else collapse_node_into_sink(source, sink, list_of_inputs, flags);
    m_net_util->remove_unused_lut_inputs(sink);
    return true;
}

// ---------------------------------------------------------------- merged input lists

MORV_ITERM_PROPERTIES MORV_NODE_COLLAPSER::settings_of(CDB_ATOM_ITERM* iterm) const
{
    MORV_ITERM_PROPERTIES settings;
    m_net_util->save_iterm_properties(iterm, &settings);
    return settings;
}

bool MORV_NODE_COLLAPSER::same_settings(const MORV_ITERM_PROPERTIES& a, const MORV_ITERM_PROPERTIES& b)
{
    return a.inverted == b.inverted && a.global_setting == b.global_setting &&
           a.connected_to_delay_chain == b.connected_to_delay_chain && a.use_delay_chain == b.use_delay_chain &&
           a.user_delay_chain == b.user_delay_chain && a.delay_chain_index == b.delay_chain_index &&
           a.boundary_port_id == b.boundary_port_id;
}

bool MORV_NODE_COLLAPSER::get_lut_inputs(CDB_ATOM_NODE* node, MORV_COLLAPSE_INPUTS* list_of_inputs,
                                         CDB_ATOM_OTERM* skip, MORV_COLLAPSE_FLAGS* flags)
{
    MORV_ASSERT(node);
    MORV_ASSERT_TEXT(flags, "flags");
    const size_t own_start = list_of_inputs->size();
    const bool shared = lists_shared_adder_inputs(node);
    int skipped = 0;
    for (auto it = node->begin_iterm(); it != node->end_iterm(); ++it) {
        CDB_ATOM_ITERM* iterm = *it;
        CDB_ATOM_OTERM* source = iterm->get_source();
        if (source == nullptr || !m_net_util->is_lut_data_input(iterm)) continue;
        if (source == skip) {
            ++skipped;
            continue;
        }
        const MORV_ITERM_PROPERTIES settings = settings_of(iterm);
        auto found = std::find(list_of_inputs->begin(), list_of_inputs->end(), source);
        if (found != list_of_inputs->end()) {
            if (!same_settings((*flags)[found - list_of_inputs->begin()], settings)) return false;
            // A repeat of this node's own input is listed again only by an
            // adder that reads it as both operands.
            if (static_cast<size_t>(found - list_of_inputs->begin()) < own_start || !shared) continue;
            if (!drives_only_shared_inputs(node, source)) return false;
        } else if (list_of_inputs->size() >= MORV_COLLAPSE_MAX_INPUTS) {
            return false;
        }
        list_of_inputs->push_back(source);
        flags->push_back(settings);
    }
    if (shared && skipped > 1)
        return drives_only_shared_inputs(node, skip) &&
               m_net_util->get_number_of_connected_lut_inputs(skip->get_my_node()) == 1;
    return true;
}

bool MORV_NODE_COLLAPSER::drives_only_shared_inputs(CDB_ATOM_NODE* node, CDB_ATOM_OTERM* oterm) const
{
    for (auto it = node->begin_iterm(); it != node->end_iterm(); ++it) {
        if (!m_net_util->is_lut_data_input(*it)) continue;
        const bool shared = (*it)->is_used_as(DB_DATA_D) || (*it)->is_used_as(DB_DATA_F);
        if (shared != ((*it)->get_source() == oterm)) return false;
    }
    return true;
}

void MORV_NODE_COLLAPSER::reorder_inputs(const MORV_COLLAPSE_INPUTS& list_of_inputs, CDB_ATOM_OTERM** reordered_inputs,
                                         MORV_ITERM_PROPERTIES* records, const MORV_COLLAPSE_FLAGS& flags,
                                         CDB_ATOM_NODE* /*sink*/, CDB_ATOM_NODE* /*source*/)
{
    MORV_ASSERT_TEXT(reordered_inputs, "reordered_inputs");
    for (size_t i = 0; i < list_of_inputs.size(); ++i) {
        reordered_inputs[i] = list_of_inputs[i];
        records[i] = flags[i];
    }
}

// ---------------------------------------------------------------- evaluation

int MORV_NODE_COLLAPSER::position_port(CDB_ATOM_NODE* /*sink*/, int position) const
{
    return DB_DATA_A + position;
}

int MORV_NODE_COLLAPSER::sink_slot(CDB_ATOM_NODE* /*sink*/, int port) const
{
    return port >= DB_DATA_A && port < DB_DATA_A + m_max_lut_inputs ? port - DB_DATA_A : -1;
}

bool MORV_NODE_COLLAPSER::deletes_unused_position(CDB_ATOM_NODE* /*sink*/, int port) const
{
    return port >= DB_DATA_A && port < DB_DATA_A + m_max_lut_inputs;
}

int MORV_NODE_COLLAPSER::merged_input_bit(CDB_ATOM_NODE* /*sink*/, int i) const
{
    return i;
}

bool MORV_NODE_COLLAPSER::is_enumerated_position(CDB_ATOM_NODE* /*sink*/, int position) const
{
    return position < m_max_lut_inputs;
}

MORV_COLLAPSE_TERMS MORV_NODE_COLLAPSER::collapse_terms(CDB_ATOM_NODE* source, CDB_ATOM_NODE* sink) const
{
    MORV_COLLAPSE_TERMS terms;
    terms.m_sink_count = 0;
    terms.m_enumerated = 0;
    for (int slot = 0; slot < MORV_COLLAPSE_SLOTS; ++slot) {
        CDB_ATOM_ITERM* iterm = source->get_input_term_by_type(CDB_ATOM_NODE::EVALUATE_INPUT_PORTS[slot]);
        // Past the LUT data inputs only a constant counts: the merged output
        // of a source does not read a driven carry-in.
        if (iterm != nullptr && slot >= m_max_lut_inputs && iterm->get_source() != nullptr) iterm = nullptr;
        terms.m_source[slot] = iterm;
        terms.m_bit[slot] = merged_input_bit(sink, slot);
        if (is_enumerated_position(sink, slot)) terms.m_enumerated |= 1u << slot;
    }
    for (int port : CDB_ATOM_NODE::EVALUATE_INPUT_PORTS) {
        const int slot = sink_slot(sink, port);
        if (slot < 0) continue;
        terms.m_sink[terms.m_sink_count] = sink->get_input_term_by_type(port);
        terms.m_sink_slot[terms.m_sink_count++] = slot;
    }
    return terms;
}

unsigned MORV_NODE_COLLAPSER::term_value(CDB_ATOM_ITERM* iterm, CDB_ATOM_OTERM* const* reordered_inputs,
                                         unsigned enumerated, const unsigned* signal, unsigned source_value) const
{
    if (iterm == nullptr || !iterm->is_connected()) return 0;
    CDB_ATOM_OTERM* source = iterm->get_source();
    if (source == nullptr) return iterm->is_logical_vcc() ? 1u : 0u;
    const unsigned complemented = iterm->reads_complemented() ? 1u : 0u;
    if (source == m_source_output) {
        MORV_ASSERT(source_value <= 1);
        return source_value ^ complemented;
    }
    // A signal placed twice is read where the table varies it.
    int index = -1;
    for (int i = 0; i < MORV_COLLAPSE_SLOTS && index < 0; ++i)
        if (reordered_inputs[i] == source && (enumerated >> i & 1u) != 0) index = i;
    for (int i = 0; i < MORV_COLLAPSE_SLOTS && index < 0; ++i)
        if (reordered_inputs[i] == source) index = i;
    MORV_ASSERT_TEXT(index != -1, "index != OPEN");
    return signal[index] ^ complemented;
}

void MORV_NODE_COLLAPSER::evaluate_row(const MORV_COLLAPSE_TERMS& terms, CDB_ATOM_NODE* source, unsigned assignment,
                                       CDB_ATOM_OTERM* const* reordered_inputs, const MORV_ITERM_PROPERTIES* records,
                                       unsigned* lut_inputs)
{
    // A slot's signal is its position's value read back through the
    // inversion its new input gets.
    unsigned signal[MORV_COLLAPSE_SLOTS];
    for (int i = 0; i < MORV_COLLAPSE_SLOTS; ++i)
        signal[i] = ((assignment >> terms.m_bit[i]) & 1u) ^ (records[i].inverted ? 1u : 0u);
    unsigned in[MORV_COLLAPSE_SLOTS] = {};
    for (int slot = 0; slot < MORV_COLLAPSE_SLOTS; ++slot)
        if (terms.m_source[slot] != nullptr)
            in[slot] =
                term_value(terms.m_source[slot], reordered_inputs, terms.m_enumerated, signal, MORV_NO_LUT_VALUE);
    unsigned source_value;
    if (m_source_output->is_used_as(DB_SUM_OUT)) {
        MORV_ASSERT_TEXT(m_net_util->is_connected(source, DB_SUM_OUT),
                         "m_net_util->is_connected(source, ::DB_SUM_OUT)");
        source_value = m_net_util->evaluate_sum_out(source, in);
    } else {
        MORV_ASSERT_TEXT(m_net_util->is_connected(source, DB_COMB_OUT),
                         "m_net_util->is_connected(source, ::DB_COMB_OUT)");
        source_value = m_net_util->evaluate_comb_out(source, in);
    }
    MORV_ASSERT_TEXT(source_value == 0 || source_value == 1, "*inp_var == 0 || *inp_var == 1");
    std::fill(lut_inputs, lut_inputs + MORV_COLLAPSE_SLOTS, 0u);
    for (int k = 0; k < terms.m_sink_count; ++k)
        lut_inputs[terms.m_sink_slot[k]] =
            term_value(terms.m_sink[k], reordered_inputs, terms.m_enumerated, signal, source_value);
}

void MORV_NODE_COLLAPSER::evaluate_merged_lut(CDB_ATOM_NODE* source, CDB_ATOM_NODE* sink, unsigned assignment,
                                              CDB_ATOM_OTERM* const* reordered_inputs,
                                              const MORV_ITERM_PROPERTIES* records, unsigned* lut_inputs)
{
    MORV_ASSERT_TEXT(source, "source");
    MORV_ASSERT_TEXT(sink, "sink");
    MORV_ASSERT_TEXT(reordered_inputs, "reordered_inputs");
    MORV_ASSERT_TEXT(lut_inputs, "lut_inputs");
    evaluate_row(collapse_terms(source, sink), source, assignment, reordered_inputs, records, lut_inputs);
}

unsigned MORV_NODE_COLLAPSER::inverting_positions(CDB_ATOM_NODE* sink) const
{
    unsigned inverting = 0;
    for (int i = 0; i < m_max_lut_inputs; ++i)
        if (!sink->is_port_active_high(position_port(sink, i))) inverting |= 1u << i;
    return inverting;
}

int MORV_NODE_COLLAPSER::mask_bit(unsigned index, int inputs) const
{
    return m_mask_bits_reversed ? (1 << inputs) - 1 - static_cast<int>(index) : static_cast<int>(index);
}

// ---------------------------------------------------------------- the normal merge

void MORV_NODE_COLLAPSER::collapse_node_into_sink(CDB_ATOM_NODE* source, CDB_ATOM_NODE* sink,
                                                  const MORV_COLLAPSE_INPUTS& list_of_inputs,
                                                  const MORV_COLLAPSE_FLAGS& flags)
{
    CDB_ATOM_OTERM* reordered_inputs[MORV_COLLAPSE_SLOTS] = {};
    MORV_ITERM_PROPERTIES records[MORV_COLLAPSE_SLOTS];
    reorder_inputs(list_of_inputs, reordered_inputs, records, flags, sink, source);
    const bool carry = has_carry_mask(sink);
    const unsigned inverting = inverting_positions(sink);
    uint64_t mask = 0;
    uint64_t carry_mask = 0;
    unsigned lut_inputs[MORV_COLLAPSE_SLOTS];
    const MORV_COLLAPSE_TERMS terms = collapse_terms(source, sink);
    for (unsigned assignment = 0; assignment < (1u << m_max_lut_inputs); ++assignment) {
        evaluate_row(terms, source, assignment, reordered_inputs, records, lut_inputs);
        const unsigned index = assignment ^ inverting;
        // An unused comb-out of an adder has no value to keep.
        if (m_net_util->evaluate_comb_out(sink, lut_inputs) == 1)
            mask |= uint64_t(1) << mask_bit(index, m_max_lut_inputs);
        if (carry && m_net_util->evaluate_carry_out(sink, lut_inputs) == 1) carry_mask |= uint64_t(1) << index;
    }
    prepare_sink(sink);
    rewire_sink(sink, reordered_inputs, records);
    m_cdb_interface->set_lutmask(sink, CDB_LUTMASK(m_max_lut_inputs, mask), lutmask_flag(sink));
    m_api->modify_node(sink);
    if (carry) {
        m_cdb_interface->set_carry_lutmask(sink, CDB_LUTMASK(4, carry_mask), carry_lutmask_flag(sink));
        m_api->modify_node(sink);
    }
    m_api->modify_node(source);
    m_api->modify_node(sink);
}

void MORV_NODE_COLLAPSER::rewire_sink(CDB_ATOM_NODE* sink, CDB_ATOM_OTERM* const* reordered_inputs,
                                      const MORV_ITERM_PROPERTIES* records)
{
    for (int i = 0; i < m_max_lut_inputs; ++i) {
        const int port = position_port(sink, i);
        if (reordered_inputs[i] != nullptr) {
            rewire_position(sink, port, reordered_inputs[i], records[i]);
            continue;
        }
        CDB_ATOM_ITERM* iterm = sink->get_input_term_by_type(port);
        if (iterm != nullptr && deletes_unused_position(sink, port)) m_net_util->delete_iterm(iterm);
    }
}

void MORV_NODE_COLLAPSER::rewire_position(CDB_ATOM_NODE* sink, int port, CDB_ATOM_OTERM* source,
                                          const MORV_ITERM_PROPERTIES& record)
{
    CDB_ATOM_ITERM* iterm = sink->get_input_term_by_type(port);
    if (iterm == nullptr) iterm = m_net_util->create_iterm(sink, port);
    else if (iterm->is_connected()) m_net_util->disconnect_iterm(iterm, CDB_NET_ITERM::UNCONNECTED);
    m_net_util->restore_iterm_properties(record, iterm);
    m_net_util->insert_fanout(source, iterm);
}

// ---------------------------------------------------------------- questions of the run

bool MORV_NODE_COLLAPSER::is_dont_touch(CDB_ATOM_NODE* node) const
{
    return m_api->is_atom_dont_touch(static_cast<int>(node->get_atom_id()), AMM_OP_FITTER_FSYN_COLLAPSE);
}

bool MORV_NODE_COLLAPSER::is_pre_placement() const
{
    MORV_EXPERT* expert = m_api->get_fsyn_expert();
    return expert != nullptr && expert->is_fsyn_running_pre_placement_fsyn();
}
