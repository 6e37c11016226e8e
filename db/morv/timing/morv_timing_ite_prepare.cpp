// Before a domain's region is re-timed, which can only lower the slacks it
// stores, the stored slacks of the region are relaxed: the edges next to the
// start nodes become unbounded, and each other region edge rises by as much
// as the worst slack seen at its upstream node (forward) or downstream node
// (backward) rose. Re-timing then lowers them to the new values.

#include <algorithm>
#include <utility>
#include <vector>

#include "gen/gen.h"
#include "tdb/tdb_netlist.h"

#include "morv/core/morv_assert.h"
#include "morv/core/morv_debug_stream.h"
#include "morv/timing/morv_timing_ite.h"

// The note answers for the one domain it names, whether the edge is in
// that domain alone or shared; it is filled on the first lookup and
// dropped when the edge leaves that domain. Other domains of a shared edge
// ask the domain's hash.
MORV_TIMING_ITE::RECORD_CACHE_ENTRY MORV_TIMING_ITE::cached_record(const MORV_TIMING_ITE_DOMAIN_INFO* domain,
                                                                   int edge_id) const
{
    const size_t index = static_cast<size_t>(static_cast<int64_t>(edge_id) - m_edge_id_base);
    EDGE_NOTE* note = index < m_edge_notes.size() ? &m_edge_notes[index] : nullptr;
    RECORD_CACHE_ENTRY answer;
    if (note != nullptr && note->m_record_domain == domain->m_id) {
        answer.m_record = note->m_record;
        answer.m_in_region = note->m_region_serial == m_region_serial;
        return answer;
    }
    const int entry = index < m_edge_domain_vec.size() ? m_edge_domain_vec[index] : EDGE_DOMAIN_UNKNOWN;
    if (entry != EDGE_DOMAIN_SHARED && entry != EDGE_DOMAIN_UNKNOWN && entry != domain->m_id) return answer;
    auto it = domain->m_edge_slack_ratios.find(edge_id);
    answer.m_record = it == domain->m_edge_slack_ratios.end() ? nullptr : it->second;
    answer.m_in_region = answer.m_record != nullptr && domain->m_analysis_edges.contains(edge_id);
    if (answer.m_record != nullptr && note != nullptr && note->m_record_domain < 0) {
        note->m_record = answer.m_record;
        note->m_record_domain = domain->m_id;
        note->m_region_serial = answer.m_in_region ? m_region_serial : 0;
    }
    return answer;
}

MORV_TIMING_ITE_EDGE_SLACK_RATIOS* MORV_TIMING_ITE::required_record(const MORV_TIMING_ITE_DOMAIN_INFO* domain,
                                                                    int edge_id) const
{
    MORV_TIMING_ITE_EDGE_SLACK_RATIOS* record = cached_record(domain, edge_id).m_record;
    MORV_ASSERT_TEXT(record != nullptr, "domain_info->m_edge_slack_ratios.exists( edge_id )");
    return record;
}

void MORV_TIMING_ITE::note_region_edge(int domain_id, int edge_id)
{
    const size_t index = static_cast<size_t>(static_cast<int64_t>(edge_id) - m_edge_id_base);
    if (index < m_edge_notes.size() && m_edge_notes[index].m_record_domain == domain_id)
        m_edge_notes[index].m_region_serial = m_region_serial;
}

void MORV_TIMING_ITE::drop_edge_note(int domain_id, int edge_id)
{
    const size_t index = static_cast<size_t>(static_cast<int64_t>(edge_id) - m_edge_id_base);
    if (index < m_edge_notes.size() && m_edge_notes[index].m_record_domain == domain_id)
        m_edge_notes[index] = EDGE_NOTE();
}

int MORV_TIMING_ITE::add_slack(int slack, int delta)
{
    if (slack == ITE_NO_SLACK || delta == ITE_NO_SLACK) return ITE_NO_SLACK;
    return slack + delta;
}

void MORV_TIMING_ITE::add_domain_analysis_edge(MORV_TIMING_ITE_DOMAIN_INFO* domain, const TDB_EDGE* edge,
                                               const TDB_NODE* node)
{
    MORV_ASSERT_TEXT(domain != nullptr, "domain_info != NULL");
    MORV_ASSERT_TEXT(edge != nullptr, "edge != NULL");
    MORV_ASSERT_TEXT(node != nullptr, "node != NULL");
    domain->m_do_analysis = true;
    domain->m_analysis_edges.insert(edge->get_id());
    domain->m_region_records_built = false;
    note_region_edge(domain->m_id, edge->get_id());
    if (node->is_keeper()) domain->m_analysis_src_keepers.insert(node->get_id());
}

// Depth first from each source keeper along region edges, with an explicit
// stack (a region may be a chain of tens of thousands of nodes).
void MORV_TIMING_ITE::build_node_rev_topo_order(const MORV_TIMING_ITE_INT_SET& src_keepers,
                                                const MORV_TIMING_ITE_INT_SET& edges, std::vector<TDB_NODE*>& order,
                                                std::vector<char>& input_side,
                                                const MORV_TIMING_ITE_DOMAIN_INFO* domain)
{
    order.clear();
    input_side.clear();
    order.reserve(edges.size());
    input_side.reserve(edges.size());
    begin_node_walk();
    std::vector<std::pair<TDB_NODE*, int>> stack;
    for (int keeper_id : src_keepers) {
        TDB_NODE* keeper = m_tdb_netlist->find_node(keeper_id);
        MORV_ASSERT_TEXT(keeper != nullptr, "keeper != NULL");
        stack.emplace_back(keeper, 0);
        while (!stack.empty()) {
            auto& [node, pos] = stack.back();
            if (pos == node->get_num_of_fanout()) {
                order.push_back(node);
                input_side.push_back(0);
                stack.pop_back();
                continue;
            }
            const TDB_EDGE* edge = node->fanout()[static_cast<size_t>(pos++)];
            if (!in_edge_set(edges, domain, edge)) continue;
            TDB_NODE* sink = edge->get_dst_node();
            if (!visit_node(sink)) continue;
            if (sink->is_keeper()) {
                order.push_back(sink);
                input_side.push_back(1);
            } else {
                stack.emplace_back(sink, 0);
            }
        }
    }
    MORV_ASSERT_TEXT(order.size() == input_side.size(),
                     "node_rev_topo_order.size() == node_rev_topo_order_keeper_is_input_side.size()");
}

// The same walk as build_node_rev_topo_order's, which takes each node's
// fan-out links as the node is entered and its fan-in links as it is left,
// so that every record is looked up once per region; an edge comes out
// after its sink's subtree, as in build_edge_rev_topo_order.
void MORV_TIMING_ITE::build_region(MORV_TIMING_ITE_DOMAIN_INFO* domain)
{
    std::vector<REGION_NODE>& nodes = m_region_nodes;
    std::vector<REGION_LINK>& links = m_region_links;
    std::vector<TDB_EDGE*>& edge_order = domain->m_edge_order;
    std::vector<MORV_TIMING_ITE_EDGE_SLACK_RATIOS*>& records = domain->m_edge_order_records;
    nodes.clear();
    links.clear();
    edge_order.clear();
    records.clear();
    edge_order.reserve(domain->m_analysis_edges.size());
    records.reserve(domain->m_analysis_edges.size());
    begin_node_walk();
    struct FRAME
    {
        REGION_NODE node;
        uint32_t pos;
        REGION_LINK via;
    };
    std::vector<FRAME> stack;
    auto enter = [&](const TDB_NODE* node, const REGION_LINK& via) {
        FRAME frame{REGION_NODE(), 0, via};
        frame.node.m_node = node;
        add_links(domain, node->fanout(), links, frame.node.m_fanout);
        stack.push_back(frame);
    };
    auto take = [&](const REGION_LINK& link) {
        edge_order.push_back(link.m_edge);
        records.push_back(link.m_record);
    };
    for (int keeper_id : domain->m_analysis_src_keepers) {
        TDB_NODE* keeper = m_tdb_netlist->find_node(keeper_id);
        MORV_ASSERT_TEXT(keeper != nullptr, "keeper != NULL");
        enter(keeper, {nullptr, nullptr, false});
        while (!stack.empty()) {
            FRAME& top = stack.back();
            if (top.pos == top.node.m_fanout.m_count) {
                if (!top.node.m_node->is_keeper()) add_fanin_links(domain, top.node, links);
                nodes.push_back(top.node);
                if (top.via.m_edge != nullptr) take(top.via);
                stack.pop_back();
                continue;
            }
            const REGION_LINK link = links[top.node.m_fanout.m_first + top.pos++];
            if (!link.m_in_region) continue;
            TDB_NODE* sink = link.m_edge->get_dst_node();
            if (visit_node(sink)) {
                if (!sink->is_keeper()) {
                    enter(sink, link);  // the edge follows once the sink is done
                    continue;
                }
                REGION_NODE input;
                input.m_node = sink;
                input.m_input_side = true;
                add_fanin_links(domain, input, links);
                nodes.push_back(input);
            }
            take(link);
        }
    }
    domain->m_edge_order_built = true;
    // Every region edge ordered (the usual case): the order's records are the
    // region's records.
    if (edge_order.size() != domain->m_analysis_edges.size()) return;
    domain->m_region_records.clear();
    for (size_t i = 0; i < edge_order.size(); ++i)
        domain->m_region_records.emplace_back(edge_order[i]->get_id(), records[i]);
    domain->m_region_records_built = true;
}

void MORV_TIMING_ITE::add_links(const MORV_TIMING_ITE_DOMAIN_INFO* domain, TDB_EDGE_RANGE edges,
                                std::vector<REGION_LINK>& links, LINK_GROUP& group) const
{
    group.m_first = static_cast<uint32_t>(links.size());
    group.m_count = static_cast<uint32_t>(edges.size());
    group.m_fixed = ITE_NO_SLACK;
    for (TDB_EDGE* edge : edges) {
        const RECORD_CACHE_ENTRY cached = cached_record(domain, edge);
        links.push_back({cached.m_record, edge, cached.m_in_region});
        if (cached.m_record != nullptr && !cached.m_in_region)
            group.m_fixed = std::min(group.m_fixed, cached.m_record->m_slack);
    }
}

void MORV_TIMING_ITE::add_fanin_links(const MORV_TIMING_ITE_DOMAIN_INFO* domain, REGION_NODE& region_node,
                                      std::vector<REGION_LINK>& links) const
{
    add_links(domain, region_node.m_node->fanin(), links, region_node.m_fanin);
    add_links(domain, region_node.m_node->clkin(), links, region_node.m_clkin);
}

// The least slack over the group's links with a record.
int MORV_TIMING_ITE::least_link_slack(const REGION_LINK* links, const LINK_GROUP& group, bool trace)
{
    int least = group.m_fixed;
    for (const REGION_LINK* link = links + group.m_first; link != links + group.m_first + group.m_count; ++link) {
        if (link->m_record == nullptr || (!link->m_in_region && !trace)) continue;
        if (trace)
            MORV_DEBUG_STREAM::print(2, "iTEst:    for wc-input-slack edge %d slack = %d", link->m_edge->get_id(),
                                     link->m_record->m_slack);
        least = std::min(least, link->m_record->m_slack);
    }
    return least;
}

// Adds delta to the slack of each link in the region.
void MORV_TIMING_ITE::adjust_links(const REGION_LINK* links, const LINK_GROUP& group, int delta, const char* kind) const
{
    for (const REGION_LINK* link = links + group.m_first; link != links + group.m_first + group.m_count; ++link) {
        if (!link->m_in_region) continue;
        MORV_TIMING_ITE_EDGE_SLACK_RATIOS* record = link->m_record;
        record->m_slack = add_slack(record->m_slack, delta);
        if (m_debug)
            MORV_DEBUG_STREAM::print(2, "iTEst:    adjustment: %s edge %d slack adjustment: new slack = %d", kind,
                                     link->m_edge->get_id(), record->m_slack);
    }
}

MORV_TIMING_ITE::REGION_NODE MORV_TIMING_ITE::node_with_links(MORV_TIMING_ITE_DOMAIN_INFO* domain, const TDB_NODE* node,
                                                              bool input_side, std::vector<REGION_LINK>& links) const
{
    MORV_ASSERT_TEXT(domain != nullptr, "domain_info != NULL");
    MORV_ASSERT_TEXT(node != nullptr, "node != NULL");
    REGION_NODE region_node;
    region_node.m_node = node;
    region_node.m_input_side = input_side;
    add_fanin_links(domain, region_node, links);
    add_links(domain, node->fanout(), links, region_node.m_fanout);
    return region_node;
}

void MORV_TIMING_ITE::forward_slack_adjustment(MORV_TIMING_ITE_DOMAIN_INFO* domain, const TDB_NODE* node,
                                               bool input_side, int& delta) const
{
    std::vector<REGION_LINK> links;
    const REGION_NODE region_node = node_with_links(domain, node, input_side, links);
    forward_adjust(domain, region_node, links.data(), delta);
}

void MORV_TIMING_ITE::backward_slack_adjustment(MORV_TIMING_ITE_DOMAIN_INFO* domain, const TDB_NODE* node,
                                                bool input_side, int& delta) const
{
    std::vector<REGION_LINK> links;
    const REGION_NODE region_node = node_with_links(domain, node, input_side, links);
    backward_adjust(domain, region_node, links.data(), delta);
}

void MORV_TIMING_ITE::forward_adjust(MORV_TIMING_ITE_DOMAIN_INFO* domain, const REGION_NODE& region_node,
                                     REGION_LINK* links, int& delta) const
{
    const TDB_NODE* node = region_node.m_node;
    const bool keeper = node->is_keeper();
    const bool input_side = region_node.m_input_side;
    const int initial = keeper && input_side ? 0 : delta;
    if (m_debug)
        MORV_DEBUG_STREAM::print(2,
                                 "iTEst: forward slack adjustment node %d (keeper = %d, input side = %d), domain %d, "
                                 "initial delta slack = %d",
                                 node->get_id(), keeper ? 1 : 0, input_side ? 1 : 0, domain->m_id, initial);
    int current = ITE_NO_SLACK;
    if (!keeper || input_side) {
        current = least_link_slack(links, region_node.m_fanin, m_debug);
        if (node->is_reg()) current = std::min(current, least_link_slack(links, region_node.m_clkin, m_debug));
    }
    int adjustment = initial;
    if (!keeper && initial != ITE_NO_SLACK) {
        MORV_ASSERT_TEXT(initial == 0, "delta_slack == 0");
        const int old = domain->m_dst_node_min_slack.value_or_no_slack(node->get_id());
        MORV_ASSERT_TEXT(current >= old, "cur_wc_input_slack >= old_wc_input_slack");
        adjustment = current == ITE_NO_SLACK ? ITE_NO_SLACK : current - old;
        delta = adjustment;
        if (m_debug)
            MORV_DEBUG_STREAM::print(2, "iTEst:    delta slack = %d (cur_wc_input_slack = %d, old_wc_input_slack = %d)",
                                     adjustment, current, old);
    }
    if (adjustment != 0) adjust_links(links, region_node.m_fanout, adjustment, "fanout");
}

void MORV_TIMING_ITE::backward_adjust(MORV_TIMING_ITE_DOMAIN_INFO* domain, const REGION_NODE& region_node,
                                      REGION_LINK* links, int& delta) const
{
    const TDB_NODE* node = region_node.m_node;
    const bool keeper = node->is_keeper();
    const bool input_side = region_node.m_input_side;
    const int initial = keeper && !input_side ? 0 : delta;
    if (m_debug)
        MORV_DEBUG_STREAM::print(2,
                                 "iTEst: backward slack adjustment node %d (keeper = %d, input side = %d), domain %d, "
                                 "initial delta slack = %d",
                                 node->get_id(), keeper ? 1 : 0, input_side ? 1 : 0, domain->m_id, initial);
    const REGION_LINK* fanout = links + region_node.m_fanout.m_first;
    int current = ITE_NO_SLACK;
    if (!keeper || !input_side) {
        current = region_node.m_fanout.m_fixed;
        for (uint32_t i = 0; i < region_node.m_fanout.m_count; ++i) {
            if (fanout[i].m_record == nullptr || (!fanout[i].m_in_region && !m_debug)) continue;
            int value = fanout[i].m_record->m_slack;
            // Takes back the node's own forward adjustment.
            if (initial < ITE_NO_SLACK && value < ITE_NO_SLACK && fanout[i].m_in_region) value -= initial;
            if (m_debug)
                MORV_DEBUG_STREAM::print(2, "iTEst:    for wc-output-slack edge %d slack = %d",
                                         fanout[i].m_edge->get_id(), value);
            current = std::min(current, value);
        }
    }
    int adjustment = initial;
    if (!keeper && initial != ITE_NO_SLACK) {
        const int old = domain->m_src_node_min_slack.value_or_no_slack(node->get_id());
        MORV_ASSERT_TEXT(current >= old, "cur_wc_output_slack >= old_wc_output_slack");
        adjustment = current == ITE_NO_SLACK ? ITE_NO_SLACK : current - old;
        delta = adjustment;
        if (m_debug)
            MORV_DEBUG_STREAM::print(2,
                                     "iTEst:    delta slack = %d (cur_wc_output_slack = %d, old_wc_output_slack = %d)",
                                     adjustment, current, old);
    }
    if (adjustment == 0) return;
    adjust_links(links, region_node.m_fanin, adjustment, "fanin");
    if (node->is_reg()) adjust_links(links, region_node.m_clkin, adjustment, "fanin");
}

void MORV_TIMING_ITE::refresh_node_slacks(MORV_TIMING_ITE_DOMAIN_INFO* domain, const std::vector<REGION_NODE>& nodes,
                                          const REGION_LINK* links) const
{
    if (m_debug)
        MORV_DEBUG_STREAM::print(
            1, "iTEst: domain %d post-slack adjustment worst-case input/output slack update:", domain->m_id);
    for (size_t i = nodes.size(); i-- > 0;) {
        const REGION_NODE& region_node = nodes[i];
        const TDB_NODE* node = region_node.m_node;
        const bool keeper = node->is_keeper();
        if (!keeper || !region_node.m_input_side) {
            const int slack = least_link_slack(links, region_node.m_fanout, false);
            domain->m_src_node_min_slack[node->get_id()] = slack;
            if (m_debug)
                MORV_DEBUG_STREAM::print(1, "iTEst:    node %d worst-case output slack = %d", node->get_id(), slack);
        }
        if (!keeper || region_node.m_input_side) {
            int slack = least_link_slack(links, region_node.m_fanin, false);
            if (keeper) slack = std::min(slack, least_link_slack(links, region_node.m_clkin, false));
            domain->m_dst_node_min_slack[node->get_id()] = slack;
            if (m_debug)
                MORV_DEBUG_STREAM::print(1, "iTEst:    node %d worst-case input slack = %d", node->get_id(), slack);
        }
    }
}

void MORV_TIMING_ITE::fsyn_ite_do_slack_preparation_adjustments(MORV_TIMING_ITE_DOMAIN_INFO* domain)
{
    GEN_PROFILER profile("fsyn_ite_do_slack_preparation_adjustments");
    MORV_ASSERT_TEXT(domain != nullptr, "domain_info != NULL");
    MORV_ASSERT_TEXT(domain->m_do_analysis, "domain_info->m_do_analysis");
    build_region(domain);
    const std::vector<REGION_NODE>& nodes = m_region_nodes;
    std::vector<REGION_LINK>& links = m_region_links;
    if (m_debug) {
        MORV_DEBUG_STREAM::print(2, "iTEst: domain %d node topological order for slack preparation adjustments",
                                 domain->m_id);
        for (size_t i = nodes.size(); i-- > 0;) {
            const bool keeper = nodes[i].m_node->is_keeper();
            MORV_DEBUG_STREAM::print(2, "iTEst:    node %d%s%s", nodes[i].m_node->get_id(), keeper ? " KEEPER " : "",
                                     keeper ? (nodes[i].m_input_side ? "input-side" : "output-side") : "");
        }
    }
    std::vector<int> delta(nodes.size(), 0);
    for (size_t i = 0; i < nodes.size(); ++i)
        if (domain->m_analysis_start_nodes.contains(nodes[i].m_node->get_id())) delta[i] = ITE_NO_SLACK;
    for (size_t i = nodes.size(); i-- > 0;) forward_adjust(domain, nodes[i], links.data(), delta[i]);
    for (size_t i = 0; i < nodes.size(); ++i) backward_adjust(domain, nodes[i], links.data(), delta[i]);
    refresh_node_slacks(domain, nodes, links.data());
}
