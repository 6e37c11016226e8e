// The domains of edges an edit created. A domain holds an edge when one of
// its source keepers reaches the edge and the edge reaches one of its
// destination keepers. New edges come in connected groups (a rewritten
// cone), so the whole connected region of undetermined edges around an edge
// is determined at once: domains flow forward from the region's entries and
// are then cut back to those its exits capture.

#include <vector>

#include "gen/gen.h"
#include "tdb/tdb_netlist.h"

#include "morv/core/morv_assert.h"
#include "morv/core/morv_debug_stream.h"
#include "morv/timing/morv_timing_ite.h"

void MORV_TIMING_ITE::determine_edge_domains(TDB_EDGE* edge)
{
    MORV_ASSERT_TEXT(edge != nullptr, "edge != NULL");
    MORV_ASSERT_TEXT(m_domain_bit_vec_pool != nullptr, "m_domain_bit_vec_pool != NULL");
    MORV_ASSERT_TEXT(m_domain_bit_vec_pool->is_empty(), "m_domain_bit_vec_pool->is_empty()");
    if (m_debug) MORV_DEBUG_STREAM::print(2, "iTEst: determine_edge_domains for edge %d", edge->get_id());
    if (edge_domain_entry(edge->get_id()) != EDGE_DOMAIN_UNKNOWN) return;
    MORV_TIMING_ITE_INT_SET source_nodes, unknown_edges;
    collect_unknown_edge_region(edge->get_src_node(), source_nodes, unknown_edges);
    determine_region_domains(source_nodes, unknown_edges);
    m_domain_bit_vec_pool->release_all();
    MORV_ASSERT_TEXT(edge_domain_entry(edge->get_id()) != EDGE_DOMAIN_UNKNOWN,
                     "m_edge_domain_vec[edge_id] != EDGE_DOMAIN_UNKNOWN");
}

// Depth first over undetermined edges in both directions, on an explicit
// stack. A node is a region entry when it is a keeper or has no
// undetermined fan-in edge.
void MORV_TIMING_ITE::collect_unknown_edge_region(TDB_NODE* start, MORV_TIMING_ITE_INT_SET& source_nodes,
                                                  MORV_TIMING_ITE_INT_SET& unknown_edges)
{
    begin_node_walk();
    auto visit = [this](TDB_NODE* node, std::vector<TDB_NODE*>& stack) {
        MORV_ASSERT_TEXT(node != nullptr, "node != NULL");
        if (visit_node(node)) stack.push_back(node);
    };
    auto unknown = [this](const TDB_EDGE* e) { return edge_domain_entry(e->get_id()) == EDGE_DOMAIN_UNKNOWN; };
    std::vector<TDB_NODE*> stack;
    visit(start, stack);
    while (!stack.empty()) {
        TDB_NODE* node = stack.back();
        stack.pop_back();
        int unknown_fanin = 0;
        for (TDB_EDGE* e : node->fanin()) {
            if (!unknown(e)) continue;
            ++unknown_fanin;
            unknown_edges.insert(e->get_id());
            visit(e->get_src_node(), stack);
        }
        if (node->is_keeper())
            for (TDB_EDGE* e : node->clkin()) {
                if (!unknown(e)) continue;
                unknown_edges.insert(e->get_id());
                visit(e->get_src_node(), stack);
            }
        if (unknown_fanin == 0 || node->is_keeper()) source_nodes.insert(node->get_id());
        for (TDB_EDGE* e : node->fanout()) {
            if (!unknown(e)) continue;
            unknown_edges.insert(e->get_id());
            visit(e->get_dst_node(), stack);
        }
    }
}

// The domains flowing into a node: a keeper's source roles, else the
// domains of its fan-in edges (an undetermined one's from the map).
void MORV_TIMING_ITE::add_fanin_domains(const TDB_NODE* node, const EDGE_BIT_VECTOR_MAP& region,
                                        MORV_BIT_VECTOR& domains) const
{
    if (node->is_keeper()) {
        for (int d = 0; d < m_num_domains; ++d)
            if (m_domain_info[static_cast<size_t>(d)].has_keeper_role(node->get_id(), DKT_SRC)) {
                domains.set(static_cast<uint64_t>(d));
                if (m_debug)
                    MORV_DEBUG_STREAM::print(2, "iTEst:       src node %d is src keeper in domain %d", node->get_id(),
                                             d);
            }
        return;
    }
    for (const TDB_EDGE* e : node->fanin()) add_region_edge_domains(e, region, domains);
    if (m_debug)
        MORV_DEBUG_STREAM::print(2, "iTEst:       src node %d union of all fanin domains = %s", node->get_id(),
                                 domains.to_string().c_str());
}

void MORV_TIMING_ITE::add_region_edge_domains(const TDB_EDGE* edge, const EDGE_BIT_VECTOR_MAP& region,
                                              MORV_BIT_VECTOR& domains) const
{
    auto it = region.find(edge->get_id());
    if (it == region.end()) {
        get_edge_domains(edge->get_id(), domains);
        return;
    }
    MORV_ASSERT_TEXT(it->second.size() == domains.size(), "m_num_bits == other_bit_vec.m_num_bits");
    domains |= it->second;
}

// The domains flowing out of a node: a keeper's destination roles, else
// the domains of its fan-out edges (an undetermined one's from the map).
void MORV_TIMING_ITE::add_fanout_domains(const TDB_NODE* node, const EDGE_BIT_VECTOR_MAP& region,
                                         MORV_BIT_VECTOR& domains) const
{
    if (!node->is_keeper()) {
        for (const TDB_EDGE* e : node->fanout()) add_region_edge_domains(e, region, domains);
        return;
    }
    for (int d = 0; d < m_num_domains; ++d)
        if (m_domain_info[static_cast<size_t>(d)].has_keeper_role(node->get_id(), DKT_DST))
            domains.set(static_cast<uint64_t>(d));
}

// What a node captures of an edge's domains: those flowing out of it.
void MORV_TIMING_ITE::cut_to_fanout_domains(const TDB_NODE* node, const MORV_BIT_VECTOR& out,
                                            MORV_BIT_VECTOR& domains) const
{
    if (m_debug && node->is_keeper()) {
        for (int d = 0; d < m_num_domains; ++d)
            if (domains.test(static_cast<uint64_t>(d)) && out.test(static_cast<uint64_t>(d)))
                MORV_DEBUG_STREAM::print(2, "iTEst:       dst node %d is dst keeper in domain %d", node->get_id(), d);
    } else if (m_debug) {
        MORV_DEBUG_STREAM::print(2, "iTEst:       dst node %d union of all fanout domains = %s", node->get_id(),
                                 out.to_string().c_str());
    }
    domains &= out;
}

void MORV_TIMING_ITE::determine_region_domains(const MORV_TIMING_ITE_INT_SET& source_nodes,
                                               const MORV_TIMING_ITE_INT_SET& unknown_edges)
{
    const std::vector<TDB_EDGE*> order = build_edge_rev_topo_order(source_nodes, unknown_edges);
    MORV_ASSERT_TEXT(order.size() <= unknown_edges.size(),
                     "unknown_edges_rev_topo_order.size() <= unknown_edges.size()");
    if (m_debug) trace_region(source_nodes, unknown_edges, order);
    EDGE_BIT_VECTOR_MAP region(50);
    region.reserve(order.size());
    for (const TDB_EDGE* edge : order)
        region[edge->get_id()].init(static_cast<uint64_t>(m_num_domains), m_domain_bit_vec_pool.get());
    for (size_t i = order.size(); i-- > 0;) {
        if (m_debug) MORV_DEBUG_STREAM::print(2, "iTEst:    input domains for edge %d", order[i]->get_id());
        add_fanin_domains(order[i]->get_src_node(), region, region.find(order[i]->get_id())->second);
    }
    for (const TDB_EDGE* edge : order) {
        if (m_debug) MORV_DEBUG_STREAM::print(2, "iTEst:    output domains for edge %d", edge->get_id());
        MORV_BIT_VECTOR& domains = region.find(edge->get_id())->second;
        MORV_BIT_VECTOR out;
        out.init(static_cast<uint64_t>(m_num_domains), m_domain_bit_vec_pool.get());
        add_fanout_domains(edge->get_dst_node(), region, out);
        if (!m_domains_grow) check_domain_growth(edge, domains, out);
        cut_to_fanout_domains(edge->get_dst_node(), out, domains);
    }
    for (const TDB_EDGE* edge : order) annotate_edge_domains(edge->get_id(), region.find(edge->get_id())->second);
}

void MORV_TIMING_ITE::annotate_edge_domains(int edge_id, const MORV_BIT_VECTOR& domains)
{
    int first = EDGE_DOMAIN_NONE, count = 0;
    for (int d = 0; d < m_num_domains && count < 2; ++d)
        if (domains.test(static_cast<uint64_t>(d))) {
            if (count++ == 0) first = d;
        }
    int& entry = edge_domain_entry(edge_id);
    if (count > 1) {
        entry = EDGE_DOMAIN_SHARED;
        m_shared_edge_hash[edge_id].assign(domains, nullptr);
        if (m_debug)
            MORV_DEBUG_STREAM::print(2, "iTEst: annotating edge %d with shared domains %s", edge_id,
                                     domains.to_string().c_str());
        return;
    }
    entry = first;
    if (!m_debug) return;
    if (count == 1) MORV_DEBUG_STREAM::print(2, "iTEst: annotating edge %d with single domain %d", edge_id, first);
    else MORV_DEBUG_STREAM::print(2, "iTEst: annotating edge %d with no domain", edge_id);
}

void MORV_TIMING_ITE::trace_region(const MORV_TIMING_ITE_INT_SET& source_nodes,
                                   const MORV_TIMING_ITE_INT_SET& unknown_edges,
                                   const std::vector<TDB_EDGE*>& order) const
{
    MORV_DEBUG_STREAM::print(2, "iTEst: determining for edges:");
    MORV_DEBUG_STREAM::print(2, "iTEst:    source nodes:");
    for (int id : source_nodes) MORV_DEBUG_STREAM::print(2, "iTEst:       src node %d", id);
    MORV_DEBUG_STREAM::print(2, "iTEst:    unknown edges, in topological order:");
    MORV_TIMING_ITE_INT_SET ordered;
    for (size_t i = order.size(); i-- > 0;) {
        MORV_DEBUG_STREAM::print(2, "iTEst:       unknown edge %d", order[i]->get_id());
        ordered.insert(order[i]->get_id());
    }
    MORV_DEBUG_STREAM::print(2, "iTEst:    unknown edges not in topological order:");
    for (int id : unknown_edges)
        if (!ordered.contains(id)) MORV_DEBUG_STREAM::print(2, "iTEst:       missing unknown edge %d", id);
}
