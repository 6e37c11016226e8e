// What an estimation re-times. From every timing node of a marked atom the
// walks go backward and forward along the edges of the node's domains up to
// keepers; every edge met is an analysis edge of its domain, every keeper
// at the source end of one is an analysis source keeper, and the marked
// nodes are the analysis start nodes. A node where paths fork is walked
// again only with domains it was not walked with before.

#include <utility>
#include <vector>

#include "gen/gen.h"
#include "tdb/tdb_netlist.h"

#include "morv/core/morv_assert.h"
#include "morv/core/morv_debug_stream.h"
#include "morv/timing/morv_timing_ite.h"

namespace {
constexpr size_t k_POOL_BLOCK_BYTES = 4096;
}

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
    MORV_ASSERT_TEXT(m_forward_visited_nodes.size() == 0, "m_forward_visited_nodes.size() == 0");
    MORV_ASSERT_TEXT(m_backward_visited_nodes.size() == 0, "m_backward_visited_nodes.size() == 0");
    build_domain_analysis_info();
    if (!m_latch_analysis_needed) {
        for (MORV_TIMING_ITE_DOMAIN_INFO& domain : m_domain_info) {
            if (!domain.m_do_analysis) continue;
            if (!domain.m_ready_for_estimation) compute_sr_lr_approximation_for_domain(&domain);
            fsyn_ite_do_slack_preparation_adjustments(&domain);
        }
        morv_ite_clear_keeping_room(m_backward_visited_nodes);
    }
    morv_ite_clear_keeping_room(m_forward_visited_nodes);
}

void MORV_TIMING_ITE::build_domain_analysis_info()
{
    GEN_PROFILER profile("fsyn_ite_build_domain_analysis_info");
    MORV_ASSERT_TEXT(m_domain_bit_vec_pool != nullptr, "m_domain_bit_vec_pool != NULL");
    if (m_debug) MORV_DEBUG_STREAM::print(2, "iTEst: building domain analysis info");
    MORV_ASSERT_TEXT(m_visited_node_domain_bit_vec_pool == nullptr, "m_visited_node_domain_bit_vec_pool == NULL");
    m_visited_node_domain_bit_vec_pool = MORV_MAKE_OWNER(MORV_SIMPLE_MEM_POOL, k_POOL_BLOCK_BYTES);
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
        if (m_latch_analysis_needed) return;  // the cleanup deletes the pools
        m_domain_bit_vec_pool->release_all();
    }
    m_visited_node_domain_bit_vec_pool.reset();
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

// Whether the walk goes on at the node with the given domains, after the
// visited map has learnt them. A node where paths fork in the walk's
// direction is remembered with the domains it was walked with.
bool MORV_TIMING_ITE::enter_node(const TDB_NODE* node, MORV_BIT_VECTOR& domains, bool forward)
{
    if (node->is_latch()) {
        report_latch(node);
        return false;
    }
    auto& visited = forward ? m_forward_visited_nodes : m_backward_visited_nodes;
    auto it = visited.find(node->get_id());
    if (it != visited.end()) {
        if (domains.is_subset_of(it->second)) return false;
        it->second |= domains;
        return true;
    }
    const int forks = forward ? node->fanin_edges_size() : node->fanout_edges_size();
    if (!node->is_keeper() && (forward ? forks > 1 : forks >= 2))
        visited[node->get_id()].assign(domains, m_visited_node_domain_bit_vec_pool.get());
    return true;
}

// One walk, depth first on an explicit stack of (node, domains); each step
// takes the node's edges in the walk's direction (backward: fan-in, and a
// register's clock inputs too) and goes on past every non-keeper it
// reaches with the domains the edge shares with the walk.
void MORV_TIMING_ITE::walk_from_node(TDB_NODE* start, const MORV_BIT_VECTOR& start_domains, bool forward)
{
    WALK_STACK stack;
    stack.emplace_back(start, MORV_BIT_VECTOR());
    stack.back().second.assign(start_domains, m_domain_bit_vec_pool.get());
    while (!stack.empty()) {
        TDB_NODE* node = stack.back().first;
        MORV_BIT_VECTOR domains = std::move(stack.back().second);
        stack.pop_back();
        if (!enter_node(node, domains, forward)) {
            if (m_latch_analysis_needed) return;
            continue;
        }
        if (forward) {
            walk_edges(node->fanout(), domains, true, stack);
            continue;
        }
        walk_edges(node->fanin(), domains, false, stack);
        if (node->is_reg()) walk_edges(node->clkin(), domains, false, stack);
    }
}

void MORV_TIMING_ITE::walk_edges(TDB_EDGE_RANGE edges, const MORV_BIT_VECTOR& domains, bool forward, WALK_STACK& stack)
{
    for (TDB_EDGE* edge : edges) {
        const int id = edge->get_id();
        MORV_ASSERT_TEXT(id < m_num_edge_ids, forward ? "output_edge_id < m_num_edge_ids" : "edge_id < m_num_edge_ids");
        TDB_NODE* src = edge->get_src_node();
        TDB_NODE* next = forward ? edge->get_dst_node() : src;
        const int entry = get_edge_domain(id);
        if (entry == EDGE_DOMAIN_NONE || entry == EDGE_DOMAIN_UNKNOWN) continue;
        MORV_BIT_VECTOR shared_domains;
        shared_domains.init(static_cast<uint64_t>(m_num_domains), m_domain_bit_vec_pool.get());
        if (entry == EDGE_DOMAIN_SHARED) {
            get_edge_domains(id, shared_domains);
            shared_domains &= domains;
            if (shared_domains.none()) continue;
            for (int d = 0; d < m_num_domains; ++d)
                if (shared_domains.test(static_cast<uint64_t>(d)))
                    add_domain_analysis_edge(&m_domain_info[static_cast<size_t>(d)], edge, src);
        } else {
            if (!domains.test(static_cast<uint64_t>(entry))) continue;
            shared_domains.set(static_cast<uint64_t>(entry));
            add_domain_analysis_edge(&m_domain_info[static_cast<size_t>(entry)], edge, src);
        }
        if (!next->is_keeper()) stack.emplace_back(next, std::move(shared_domains));
    }
}
