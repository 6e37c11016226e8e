// The region an estimate around one timing node covers, as the tests and the
// benchmark of the estimator collect it: the domains holding the node's own
// edges and, in each, the edges of its cones up to keepers.
#pragma once

#include <deque>
#include <set>
#include <vector>

#include "tdb/tdb_netlist.h"

#include "morv/timing/morv_timing_ite.h"

inline bool has_record(const MORV_TIMING_ITE_DOMAIN_INFO* domain, const TDB_EDGE* edge)
{
    return domain->m_edge_slack_ratios.contains(edge->get_id());
}

// The domains of the node's own edges.
inline std::vector<int> domains_of(MORV_TIMING_ITE* ite, const TDB_NODE* n)
{
    std::vector<int> out;
    for (int d = 0; d < ite->get_num_domains(); ++d) {
        bool in = false;
        for (const TDB_EDGE* e : n->fanin()) in |= has_record(ite->get_domain(d), e);
        for (const TDB_EDGE* e : n->fanout()) in |= has_record(ite->get_domain(d), e);
        if (in) out.push_back(d);
    }
    return out;
}

// The edges of n's fan-in and fan-out cones, up to keepers, breadth first.
inline std::vector<const TDB_EDGE*> cone_edges(const TDB_NODE* n)
{
    std::vector<const TDB_EDGE*> edges;
    std::set<const TDB_NODE*> seen{n};
    for (bool forward : {false, true}) {
        std::deque<const TDB_NODE*> queue{n};
        while (!queue.empty()) {
            const TDB_NODE* v = queue.front();
            queue.pop_front();
            for (const TDB_EDGE* e : forward ? v->fanout() : v->fanin()) {
                edges.push_back(e);
                const TDB_NODE* next = forward ? e->get_dst_node() : e->get_src_node();
                if (!next->is_keeper() && seen.insert(next).second) queue.push_back(next);
            }
        }
    }
    return edges;
}

// The edges whose timing an edit of connections can change: the fan-out
// cones of the sinks (their arrival times move) and the fan-in cones of the
// drivers (their required times move), up to keepers, with the edited
// connections themselves. Each edge once.
inline std::vector<const TDB_EDGE*> edit_reach_edges(const std::vector<const TDB_NODE*>& sinks,
                                                     const std::vector<const TDB_NODE*>& drivers)
{
    std::vector<const TDB_EDGE*> edges;
    std::set<const TDB_EDGE*> taken;
    for (bool forward : {true, false}) {
        std::set<const TDB_NODE*> seen;
        std::deque<const TDB_NODE*> queue;
        for (const TDB_NODE* n : forward ? sinks : drivers)
            if (seen.insert(n).second) queue.push_back(n);
        while (!queue.empty()) {
            const TDB_NODE* v = queue.front();
            queue.pop_front();
            for (const TDB_EDGE* e : forward ? v->fanout() : v->fanin()) {
                if (taken.insert(e).second) edges.push_back(e);
                const TDB_NODE* next = forward ? e->get_dst_node() : e->get_src_node();
                if (!next->is_keeper() && seen.insert(next).second) queue.push_back(next);
            }
        }
    }
    for (const TDB_NODE* sink : sinks)
        for (const TDB_EDGE* e : sink->fanin())
            for (const TDB_NODE* driver : drivers)
                if (e->get_src_node() == driver && taken.insert(e).second) edges.push_back(e);
    return edges;
}
