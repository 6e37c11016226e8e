// What an estimation re-times. From every timing node of a marked atom the
// walks go backward and forward along the edges of the node's domains up to
// keepers; every edge met is an analysis edge of its domain, every keeper
// at the source end of one is an analysis source keeper, and the marked
// nodes are the analysis start nodes. A node where paths fork is walked
// again only with domains it was not walked with before.

#include <algorithm>
#include <cstdint>
#include <utility>
#include <vector>

#include "gen/gen.h"
#include "tdb/tdb_netlist.h"

#include "morv/core/morv_assert.h"
#include "morv/core/morv_debug_stream.h"
#include "morv/timing/morv_timing_ite.h"

void MORV_TIMING_ITE::prepare_for_timing_estimation()
{
    GEN_PROFILER profile("fsyn_ite_prepare_for_timing_estimation");
    for (MORV_TIMING_ITE_DOMAIN_INFO& domain : m_domain_info) {
        domain.m_do_analysis = false;
        MORV_ASSERT_TEXT(domain.m_analysis_start_nodes.size() == 0,
                         "m_domain_info[d].m_analysis_start_nodes.size() == 0");
        MORV_ASSERT_TEXT(domain.m_analysis_src_keepers.size() == 0,
                         "m_domain_info[d].m_analysis_src_keepers.size() == 0");
        MORV_ASSERT_TEXT(domain.m_analysis_edges.size() == 0, "m_domain_info[d].m_analysis_edges.size() == 0");
    }
    if (m_debug)
        MORV_DEBUG_STREAM::print(2, "iTEst: marked atoms (# = %d)",
                                 static_cast<int>(m_atoms_marked_for_analysis.size()));
    build_domain_analysis_info();
    if (!m_latch_analysis_needed) {
        for (MORV_TIMING_ITE_DOMAIN_INFO& domain : m_domain_info) {
            if (!domain.m_do_analysis) continue;
            if (!domain.m_ready_for_estimation) compute_sr_lr_approximation_for_domain(&domain);
            fsyn_ite_do_slack_preparation_adjustments(&domain);
        }
    }
    end_walks();
}

void MORV_TIMING_ITE::build_domain_analysis_info()
{
    GEN_PROFILER profile("fsyn_ite_build_domain_analysis_info");
    MORV_ASSERT_TEXT(m_domain_bit_vec_pool != nullptr, "m_domain_bit_vec_pool != NULL");
    if (m_debug) MORV_DEBUG_STREAM::print(2, "iTEst: building domain analysis info");
    begin_walks();
    for (int node_id : m_nodes_for_analysis) {
        if (m_debug) MORV_DEBUG_STREAM::print(2, "iTEst:    TDB node %d", node_id);
        TDB_NODE* node = m_tdb_netlist->find_node(node_id);
        MORV_ASSERT_TEXT(node != nullptr, "node != NULL");
        MORV_BIT_VECTOR domains;
        domains.init(static_cast<uint64_t>(m_num_domains), m_domain_bit_vec_pool.get());
        fill_node_domains(node, domains);
        if (node->is_keeper()) {
            walk_from_node(node, domains, true);
            if (!m_latch_analysis_needed) walk_from_node(node, domains, false);
        } else {
            walk_from_node(node, domains, false);
            if (!m_latch_analysis_needed) walk_from_node(node, domains, true);
        }
        if (m_latch_analysis_needed) return;  // the cleanup empties the walks' tables
        m_domain_bit_vec_pool->release_all();
    }
}

void MORV_TIMING_ITE::fill_node_domains(const TDB_NODE* node, MORV_BIT_VECTOR& domains)
{
    MORV_ASSERT_TEXT(static_cast<int>(domains.size()) == m_num_domains, "(int) node_domains.size() == m_num_domains");
    for (const TDB_EDGE* edge : node->fanin()) get_edge_domains(edge->get_id(), domains);
    if (node->is_reg())
        for (const TDB_EDGE* edge : node->clkin()) get_edge_domains(edge->get_id(), domains);
    for (const TDB_EDGE* edge : node->fanout()) get_edge_domains(edge->get_id(), domains);
    for (int d = 0; d < m_num_domains; ++d)
        if (domains.test(static_cast<uint64_t>(d)))
            m_domain_info[static_cast<size_t>(d)].m_analysis_start_nodes.insert(node->get_id());
}

// The walks' domain sets are rows of m_walk_words words in flat tables, not
// bit vectors of their own: a walk makes one per edge it takes, and
// allocating each was the larger part of a walk's cost.
void MORV_TIMING_ITE::begin_walks()
{
    MORV_ASSERT_TEXT(m_walk_fork_touched[0].empty() && m_walk_fork_touched[1].empty(), "visited_nodes.size() == 0");
    m_walk_words = static_cast<size_t>(m_num_domains + 63) / 64;
    m_walk_fork_rows.clear();
    const size_t span = static_cast<size_t>(std::max(0, m_num_node_ids - m_node_id_base));
    for (std::vector<uint32_t>& rows : m_walk_fork_row)
        if (rows.size() < span) rows.resize(span, 0);
}

void MORV_TIMING_ITE::end_walks()
{
    for (int direction = 0; direction < 2; ++direction) {
        for (size_t pos : m_walk_fork_touched[direction]) m_walk_fork_row[direction][pos] = 0;
        m_walk_fork_touched[direction].clear();
    }
    m_walk_fork_rows.clear();
    m_walk_rows.clear();
}

size_t MORV_TIMING_ITE::new_walk_row()
{
    const size_t row = m_walk_rows.size();
    m_walk_rows.resize(row + m_walk_words, 0);
    return row;
}

// Whether the walk goes on at the node with the domains of its row, after
// the visited table has learnt them. A node where paths fork in the walk's
// direction is remembered with the domains it was walked with.
bool MORV_TIMING_ITE::enter_node(const TDB_NODE* node, size_t row, bool forward)
{
    if (node->is_latch()) {
        report_latch(node);
        return false;
    }
    const size_t pos = static_cast<size_t>(node->get_id() - m_node_id_base);
    std::vector<uint32_t>& fork_row = m_walk_fork_row[forward ? 1 : 0];
    if (pos >= fork_row.size()) fork_row.resize(pos + 1, 0);
    const uint64_t* domains = &m_walk_rows[row];
    if (const uint32_t known = fork_row[pos]; known != 0) {
        uint64_t* seen = &m_walk_fork_rows[(known - 1) * m_walk_words];
        bool subset = true;
        for (size_t w = 0; w < m_walk_words; ++w) {
            subset = subset && (domains[w] & ~seen[w]) == 0;
            seen[w] |= domains[w];
        }
        return !subset;
    }
    const int forks = forward ? node->fanin_edges_size() : node->fanout_edges_size();
    if (!node->is_keeper() && (forward ? forks > 1 : forks >= 2)) {
        fork_row[pos] = static_cast<uint32_t>(m_walk_fork_rows.size() / std::max<size_t>(m_walk_words, 1) + 1);
        m_walk_fork_rows.insert(m_walk_fork_rows.end(), domains, domains + m_walk_words);
        m_walk_fork_touched[forward ? 1 : 0].push_back(pos);
    }
    return true;
}

// One walk, depth first on an explicit stack of (node, row of domains);
// each step takes the node's edges in the walk's direction (backward:
// fan-in, and a register's clock inputs too) and goes on past every
// non-keeper it reaches with the domains the edge shares with the walk.
void MORV_TIMING_ITE::walk_from_node(TDB_NODE* start, const MORV_BIT_VECTOR& start_domains, bool forward)
{
    m_walk_rows.clear();
    const size_t first = new_walk_row();
    for (int d = 0; d < m_num_domains; ++d)
        if (start_domains.test(static_cast<uint64_t>(d)))
            m_walk_rows[first + static_cast<size_t>(d) / 64] |= domain_bit(d);
    WALK_STACK stack;
    stack.emplace_back(start, first);
    while (!stack.empty()) {
        const auto [node, row] = stack.back();
        stack.pop_back();
        if (!enter_node(node, row, forward)) {
            if (m_latch_analysis_needed) return;
            continue;
        }
        if (forward) {
            walk_edges(node->fanout(), row, true, stack);
        } else {
            walk_edges(node->fanin(), row, false, stack);
            if (node->is_reg()) walk_edges(node->clkin(), row, false, stack);
        }
        // The rows above the stack's top are free again.
        m_walk_rows.resize(stack.empty() ? 0 : stack.back().second + m_walk_words);
    }
}

void MORV_TIMING_ITE::walk_edges(TDB_EDGE_RANGE edges, size_t row, bool forward, WALK_STACK& stack)
{
    for (TDB_EDGE* edge : edges) {
        const int id = edge->get_id();
        MORV_ASSERT_TEXT(id < m_num_edge_ids, forward ? "output_edge_id < m_num_edge_ids" : "edge_id < m_num_edge_ids");
        TDB_NODE* src = edge->get_src_node();
        TDB_NODE* next = forward ? edge->get_dst_node() : src;
        const int entry = get_edge_domain(id);
        if (entry == EDGE_DOMAIN_NONE || entry == EDGE_DOMAIN_UNKNOWN) continue;
        if (entry != EDGE_DOMAIN_SHARED) {
            if ((m_walk_rows[row + static_cast<size_t>(entry) / 64] & domain_bit(entry)) == 0) continue;
            add_domain_analysis_edge(&m_domain_info[static_cast<size_t>(entry)], edge, src);
            if (next->is_keeper()) continue;
            const size_t next_row = new_walk_row();
            m_walk_rows[next_row + static_cast<size_t>(entry) / 64] = domain_bit(entry);
            stack.emplace_back(next, next_row);
            continue;
        }
        const MORV_BIT_VECTOR* shared = get_shared_edge_domains(id);
        MORV_ASSERT_TEXT(shared != nullptr, "m_shared_edge_hash.exists( edge_id )");
        size_t next_row = SIZE_MAX;
        for (int d = 0; d < m_num_domains; ++d) {
            const size_t word = row + static_cast<size_t>(d) / 64;
            if ((m_walk_rows[word] & domain_bit(d)) == 0 || !shared->test(static_cast<uint64_t>(d))) continue;
            add_domain_analysis_edge(&m_domain_info[static_cast<size_t>(d)], edge, src);
            if (next_row == SIZE_MAX) next_row = new_walk_row();
            m_walk_rows[next_row + static_cast<size_t>(d) / 64] |= domain_bit(d);
        }
        if (next_row != SIZE_MAX && !next->is_keeper()) stack.emplace_back(next, next_row);
    }
}
