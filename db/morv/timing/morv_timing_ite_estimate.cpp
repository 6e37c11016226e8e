// The estimate of one domain: arrival and required times of the edges its
// source keepers reach through the region, the slacks they give (a stored
// slack is only lowered, preparation having relaxed it), raw ratios from the
// domain's line and their normalisation; then tightening and annotation.
// Clock arrivals follow the host analyser's rule: the latest fan-in of a
// clock-tree node counts, at the earliest corner too.

#include <algorithm>
#include <limits>
#include <utility>
#include <vector>

#include "gen/gen.h"
#include "msg/msg.h"
#include "tdb/tdb_netlist.h"

#include "morv/core/morv_assert.h"
#include "morv/core/morv_debug_stream.h"
#include "morv/timing/morv_timing.h"
#include "morv/timing/morv_timing_internal.h"
#include "morv/timing/morv_timing_ite.h"

MORV_TIMING_ITE_EDGE_TIMING_DATA& MORV_TIMING_ITE::timing_data(int edge_id, const char* what)
{
    const int64_t index = static_cast<int64_t>(edge_id) - m_edge_id_base;
    if (index < 0 || edge_id >= m_num_edge_ids || index >= static_cast<int64_t>(m_edge_timing_data_array.size()))
        MSG_INTERNAL_ERROR::report(what, "MORV", __FILE__, __LINE__);
    return m_edge_timing_data_array[static_cast<size_t>(index)];
}

const MORV_TIMING_ITE_EDGE_TIMING_DATA& MORV_TIMING_ITE::get_edge_timing_data(int edge_id) const
{
    return const_cast<MORV_TIMING_ITE*>(this)->timing_data(edge_id, "edge_id < m_num_edge_ids");
}

// The array spans the edge ids; its flags are clear between domains, so a
// new estimation clears it only after one that stopped half-way.
void MORV_TIMING_ITE::begin_edge_timing_data()
{
    MORV_ASSERT_TEXT(!m_has_edge_timing_data_array, "m_edge_timing_data_array == NULL");
    const size_t span = static_cast<size_t>(std::max(0, m_num_edge_ids - m_edge_id_base));
    // The netlist grows by a few ids per edit: clean entries stay.
    if (!m_edge_timing_data_clean) m_edge_timing_data_array.assign(span, MORV_TIMING_ITE_EDGE_TIMING_DATA());
    else if (m_edge_timing_data_array.size() != span) m_edge_timing_data_array.resize(span);
    m_edge_timing_data_clean = true;
    m_has_edge_timing_data_array = true;
}

void MORV_TIMING_ITE::begin_node_walk()
{
    const size_t span = static_cast<size_t>(std::max(0, m_num_node_ids - m_node_id_base));
    if (m_node_visited.size() != span) {
        m_node_visited.assign(span, 0);
    } else {
        for (size_t pos : m_node_visited_set) m_node_visited[pos] = 0;
    }
    m_node_visited_set.clear();
}

bool MORV_TIMING_ITE::visit_node(const TDB_NODE* node)
{
    const size_t pos = static_cast<size_t>(node->get_id() - m_node_id_base);
    if (m_node_visited[pos]) return false;
    m_node_visited[pos] = 1;
    m_node_visited_set.push_back(pos);
    return true;
}

void MORV_TIMING_ITE::fsyn_ite_do_timing_estimation()
{
    GEN_PROFILER profile("fsyn_ite_do_timing_estimation");
    begin_edge_timing_data();
    MORV_ASSERT_TEXT(m_node_clock_delay_hash[TDB_MIN].size() == 0, "m_node_clock_delay_hash[TDB_MIN].size() == 0");
    MORV_ASSERT_TEXT(m_node_clock_delay_hash[TDB_MAX].size() == 0, "m_node_clock_delay_hash[TDB_MAX].size() == 0");
    m_node_clock_delay_hash[TDB_MIN].set_base(m_node_id_base);
    m_node_clock_delay_hash[TDB_MAX].set_base(m_node_id_base);
    m_estimation_stats = MORV_TIMING_ITE_ESTIMATION_STATS();
    m_clock_path_evaluations = 0;
    for (MORV_TIMING_ITE_DOMAIN_INFO& domain : m_domain_info)
        if (domain.m_do_analysis) fsyn_ite_do_timing_estimation_for_domain(&domain);
    trace_estimation_stats();
    morv_ite_clear_keeping_room(m_node_clock_delay_hash[TDB_MIN]);
    morv_ite_clear_keeping_room(m_node_clock_delay_hash[TDB_MAX]);
    m_has_edge_timing_data_array = false;
    fsyn_ite_tighten_slack_ratios();
    annotate_estimated_slacks_and_slack_ratios();
}

void MORV_TIMING_ITE::trace_estimation_stats() const
{
    const MORV_TIMING_ITE_ESTIMATION_STATS& s = m_estimation_stats;
    MORV_DEBUG_STREAM::print(2, "iTEst: timing estimation statistics");
    MORV_DEBUG_STREAM::print(2, "          domains analyzed: %d / %d", s.m_domains, m_num_domains);
    MORV_DEBUG_STREAM::print(2, "          source keepers: %d", s.m_src_keepers);
    MORV_DEBUG_STREAM::print(2, "          marked edges: %d / %d", s.m_marked_edges, m_num_edge_ids);
    MORV_DEBUG_STREAM::print(2, "          analyzed edges: %d / %d", s.m_analysed_edges, m_num_edge_ids);
    if (!m_debug) return;
    MORV_DEBUG_STREAM::print(2, "iTEst: node clock delays memoised: %d min, %d max",
                             static_cast<int>(m_node_clock_delay_hash[TDB_MIN].size()),
                             static_cast<int>(m_node_clock_delay_hash[TDB_MAX].size()));
}

void MORV_TIMING_ITE::fsyn_ite_do_timing_estimation_for_domain(MORV_TIMING_ITE_DOMAIN_INFO* domain)
{
    GEN_PROFILER profile("fsyn_ite_do_timing_estimation_for_domain");
    MORV_ASSERT_TEXT(domain != nullptr, "domain_info != NULL");
    MORV_ASSERT_TEXT(domain->m_do_analysis, "domain_info->m_do_analysis");
    // The preparation ordered the same region, unless it grew since.
    const bool prepared = domain->m_edge_order_built;
    const std::vector<TDB_EDGE*> order =
        prepared ? std::move(domain->m_edge_order)
                 : build_edge_rev_topo_order(domain->m_analysis_src_keepers, domain->m_analysis_edges, domain);
    const std::vector<MORV_TIMING_ITE_EDGE_SLACK_RATIOS*> records =
        prepared ? std::move(domain->m_edge_order_records) : std::vector<MORV_TIMING_ITE_EDGE_SLACK_RATIOS*>();
    domain->m_edge_order_built = false;
    m_estimation_stats.m_domains += 1;
    m_estimation_stats.m_src_keepers += static_cast<int>(domain->m_analysis_src_keepers.size());
    m_estimation_stats.m_marked_edges += static_cast<int>(domain->m_analysis_edges.size());
    m_estimation_stats.m_analysed_edges += static_cast<int>(order.size());
    if (m_debug) {
        MORV_DEBUG_STREAM::print(2, "iTEst: domain topological order of edges (id = %d):", domain->m_id);
        for (size_t i = order.size(); i-- > 0;) MORV_DEBUG_STREAM::print(2, "       edge %d", order[i]->get_id());
    }
    m_edge_timing_data_clean = false;
    for (size_t i = order.size(); i-- > 0;) {
        MORV_TIMING_ITE_EDGE_TIMING_DATA& data = timing_data(order[i]->get_id(), "edge_id < m_num_edge_ids");
        data = {order[i], CDB_ILLEGAL_TSM_DELAY, CDB_ILLEGAL_TSM_DELAY, true};
    }
    compute_arrival_times(domain, order);
    compute_required_times(domain, order);
    compute_edge_slacks(domain, order, prepared ? &records : nullptr);
    fsyn_ite_compute_domain_slack_ratios(domain);
    for (const TDB_EDGE* edge : order) timing_data(edge->get_id(), "edge_id < m_num_edge_ids").m_in_analysis = false;
    m_edge_timing_data_clean = true;
}

// Depth first from each source keeper with an explicit stack: an edge into
// a non-keeper is appended once everything below its sink is.
std::vector<TDB_EDGE*> MORV_TIMING_ITE::build_edge_rev_topo_order(const MORV_TIMING_ITE_INT_SET& start_nodes,
                                                                  const MORV_TIMING_ITE_INT_SET& edges,
                                                                  const MORV_TIMING_ITE_DOMAIN_INFO* domain)
{
    std::vector<TDB_EDGE*> order;
    order.reserve(edges.size());
    begin_node_walk();
    std::vector<std::pair<TDB_NODE*, int>> stack;
    for (int node_id : start_nodes) {
        TDB_NODE* start = m_tdb_netlist->find_node(node_id);
        MORV_ASSERT_TEXT(start != nullptr, "node != NULL");
        const bool first_visit = visit_node(start);
        MORV_ASSERT_TEXT(first_visit, "!node_visited_flags[node_id]");
        stack.emplace_back(start, 0);
        while (!stack.empty()) {
            auto& [node, pos] = stack.back();
            if (pos == node->get_num_of_fanout()) {
                stack.pop_back();
                continue;
            }
            TDB_EDGE* edge = node->fanout()[static_cast<size_t>(pos)];
            if (!in_edge_set(edges, domain, edge)) {
                ++pos;
                continue;
            }
            TDB_NODE* sink = edge->get_dst_node();
            if (!sink->is_keeper() && visit_node(sink)) {
                stack.emplace_back(sink, 0);  // the edge follows once the sink is done
                continue;
            }
            order.push_back(edge);
            ++pos;
        }
    }
    MORV_ASSERT_TEXT(order.size() <= edges.size(), "edge_rev_topo_order.size() <= edges.size()");
    return order;
}

int32_t* MORV_TIMING_ITE::node_time(const TDB_NODE* node)
{
    const size_t pos = static_cast<size_t>(node->get_id() - m_node_id_base);
    if (pos >= m_node_time.size()) {
        m_node_time.resize(pos + 1);
        m_node_time_stamp.resize(pos + 1, 0);
    }
    if (m_node_time_stamp[pos] == m_node_time_serial) return &m_node_time[pos];
    m_node_time_stamp[pos] = m_node_time_serial;
    m_node_time[pos] = CDB_ILLEGAL_TSM_DELAY;
    return &m_node_time[pos];
}

void MORV_TIMING_ITE::begin_node_times()
{
    if (++m_node_time_serial == 0) {
        std::fill(m_node_time_stamp.begin(), m_node_time_stamp.end(), 0);
        m_node_time_serial = 1;
    }
}

int MORV_TIMING_ITE::keeper_arrival_time(const TDB_NODE* source)
{
    if (source->is_reg()) return m_tdb_utility->get_tco_delay(source) + get_register_clock_delay(source, TDB_MAX);
    return 0;
}

int MORV_TIMING_ITE::keeper_required_time(const MORV_TIMING_ITE_DOMAIN_INFO* domain, const TDB_NODE* sink)
{
    if (sink->is_reg())
        return domain->m_requirement - m_tdb_utility->get_tsu_delay(sink) + get_register_clock_delay(sink, TDB_MIN);
    return domain->m_requirement;
}

// A node's base time is the same for all its edges of a pass. The order
// puts each edge after every region edge downstream of its sink, so going
// backwards through it every edge into a non-keeper comes before the edges
// out of it: each edge's arrival raises its sink's, which is complete when
// the sink's own edges are reached. Edges out of the domain's order take
// no part, as in the analyser's view of the domain.
void MORV_TIMING_ITE::compute_arrival_times(const MORV_TIMING_ITE_DOMAIN_INFO*, const std::vector<TDB_EDGE*>& order)
{
    begin_node_times();
    for (size_t i = order.size(); i-- > 0;) {
        const TDB_EDGE* edge = order[i];
        MORV_TIMING_ITE_EDGE_TIMING_DATA& data = timing_data(edge->get_id(), "edge_id < m_num_edge_ids");
        const TDB_NODE* source = edge->get_src_node();
        int base = 0;
        if (source->is_keeper()) {
            base = keeper_arrival_time(source);
        } else {
            base = *node_time(source);
            if (base == CDB_ILLEGAL_TSM_DELAY && m_debug)
                MORV_DEBUG_STREAM::print(
                    2, "iTEst: ERROR!!! worst-case arrival time on output not computed for edge %d", edge->get_id());
            MORV_ASSERT_TEXT(base != CDB_ILLEGAL_TSM_DELAY, "wc_base_arrival_time != CDB_ILLEGAL_TSM_DELAY");
        }
        data.m_arrival_time = base + edge->get_data_delay();
        if (const TDB_NODE* sink = edge->get_dst_node(); !sink->is_keeper()) {
            int32_t* worst = node_time(sink);
            if (*worst == CDB_ILLEGAL_TSM_DELAY || data.m_arrival_time > *worst) *worst = data.m_arrival_time;
        }
        if (m_debug) MORV_DEBUG_STREAM::print(2, "iTEst: arrival time computed for edge %d", edge->get_id());
    }
}

// The same going forwards: every edge out of a non-keeper comes before the
// edges into it, and lowers its source's required time.
void MORV_TIMING_ITE::compute_required_times(const MORV_TIMING_ITE_DOMAIN_INFO* domain,
                                             const std::vector<TDB_EDGE*>& order)
{
    begin_node_times();
    for (const TDB_EDGE* edge : order) {
        MORV_TIMING_ITE_EDGE_TIMING_DATA& data = timing_data(edge->get_id(), "edge_id < m_num_edge_ids");
        const TDB_NODE* sink = edge->get_dst_node();
        int base = 0;
        if (sink->is_keeper()) {
            base = keeper_required_time(domain, sink);
        } else {
            base = *node_time(sink);
            if (base == CDB_ILLEGAL_TSM_DELAY && m_debug)
                MORV_DEBUG_STREAM::print(
                    2, "iTEst: ERROR!!! worst-case required time on output not computed for edge %d", edge->get_id());
            MORV_ASSERT_TEXT(base != CDB_ILLEGAL_TSM_DELAY, "wc_required_time != CDB_ILLEGAL_TSM_DELAY");
        }
        data.m_required_time = base - edge->get_data_delay();
        if (const TDB_NODE* source = edge->get_src_node(); !source->is_keeper()) {
            int32_t* worst = node_time(source);
            if (*worst == CDB_ILLEGAL_TSM_DELAY || data.m_required_time < *worst) *worst = data.m_required_time;
        }
        if (m_debug) MORV_DEBUG_STREAM::print(2, "iTEst: required time computed for edge %d", edge->get_id());
    }
}

// A record the region's edge must have: the domain's records were made by
// the full analysis for every edge of the domain.
void MORV_TIMING_ITE::compute_edge_slacks(MORV_TIMING_ITE_DOMAIN_INFO* domain, const std::vector<TDB_EDGE*>& order,
                                          const std::vector<MORV_TIMING_ITE_EDGE_SLACK_RATIOS*>* records)
{
    MORV_ASSERT_TEXT(records == nullptr || records->size() == order.size(), "records.size() == order.size()");
    for (size_t i = 0; i < order.size(); ++i) {
        const TDB_EDGE* edge = order[i];
        const MORV_TIMING_ITE_EDGE_TIMING_DATA& data = timing_data(edge->get_id(), "edge_id < m_num_edge_ids");
        if (!data.m_in_analysis) continue;
        MORV_TIMING_ITE_EDGE_SLACK_RATIOS* record =
            records != nullptr ? (*records)[i] : required_record(domain, edge->get_id());
        MORV_ASSERT_TEXT(record != nullptr, "domain_info->m_edge_slack_ratios.exists( edge_id )");
        const int calculated = data.m_required_time + edge->get_data_delay() - data.m_arrival_time;
        if (calculated < record->m_slack) {
            record->m_slack = calculated;
            int32_t* out = domain->m_src_node_min_slack.find(edge->get_src_node()->get_id());
            MORV_ASSERT_TEXT(out != nullptr, "node_wc_output_slack_iter");
            *out = std::min(*out, calculated);
            int32_t* in = domain->m_dst_node_min_slack.find(edge->get_dst_node()->get_id());
            MORV_ASSERT_TEXT(in != nullptr, "node_wc_input_slack_iter");
            *in = std::min(*in, calculated);
        }
        record->m_raw_slack_ratio = static_cast<float>(record->m_slack) * domain->m_sr_lr_slope +
                                    domain->m_sr_lr_intercept + record->m_raw_sr_adjustment;
        if (m_debug)
            MORV_DEBUG_STREAM::print(2,
                                     "iTEst: edge %d, arrival time = %d, required time = %d, calculated slack = %d, "
                                     "actual edge slack = %d, slack new sr = %f",
                                     edge->get_id(), data.m_arrival_time, data.m_required_time, calculated,
                                     record->m_slack, static_cast<double>(record->m_raw_slack_ratio));
    }
}

// The least and greatest raw ratio of all records, with their edges.
void MORV_TIMING_ITE::scan_raw_sr_extremes(MORV_TIMING_ITE_DOMAIN_INFO& domain)
{
    domain.m_raw_sr_low = std::numeric_limits<float>::infinity();
    domain.m_raw_sr_high = -std::numeric_limits<float>::infinity();
    domain.m_raw_sr_low_edge = domain.m_raw_sr_high_edge = -1;
    for (const auto& entry : domain.m_edge_slack_ratios) {
        const float r = entry.second->m_raw_slack_ratio;
        if (r < domain.m_raw_sr_low) {
            domain.m_raw_sr_low = r;
            domain.m_raw_sr_low_edge = entry.first;
        }
        if (r > domain.m_raw_sr_high) {
            domain.m_raw_sr_high = r;
            domain.m_raw_sr_high_edge = entry.first;
        }
    }
    domain.m_raw_sr_extremes_known = true;
}

// The lower bound starts at the raw ratio of a zero slack, not at 0: the
// analyser normalises a domain by min(0, its worst slack), so once a failing
// domain's worst slack rises, the ratios must narrow back towards what a
// zero slack gives; starting at 0 they would stay stretched by the old worst
// slack. Only the region's records moved since the last scan: unless one of
// the extreme edges is among them, the region updates the extremes.
MORV_TIMING_ITE_RAW_SR_BOUNDS MORV_TIMING_ITE::compute_raw_sr_bounds(MORV_TIMING_ITE_DOMAIN_INFO* domain) const
{
    const MORV_TIMING_ITE_INT_SET& region = domain->m_analysis_edges;
    if (!domain->m_raw_sr_extremes_known || region.contains(domain->m_raw_sr_low_edge) ||
        region.contains(domain->m_raw_sr_high_edge)) {
        ++m_record_scans;
        scan_raw_sr_extremes(*domain);
    } else {
        for (const auto& [edge_id, record] : region_records(*domain)) {
            const float r = record->m_raw_slack_ratio;
            if (r < domain->m_raw_sr_low) {
                domain->m_raw_sr_low = r;
                domain->m_raw_sr_low_edge = edge_id;
            }
            if (r > domain->m_raw_sr_high) {
                domain->m_raw_sr_high = r;
                domain->m_raw_sr_high_edge = edge_id;
            }
        }
    }
    MORV_TIMING_ITE_RAW_SR_BOUNDS bounds;
    bounds.m_min = std::min(domain->m_zero_slack_raw_sr, domain->m_raw_sr_low);
    bounds.m_max = std::max(1.0f, domain->m_raw_sr_high);
    bounds.m_real_min = std::min(1.0f, domain->m_raw_sr_low);
    return bounds;
}

void MORV_TIMING_ITE::fsyn_ite_compute_domain_slack_ratios(MORV_TIMING_ITE_DOMAIN_INFO* domain) const
{
    GEN_PROFILER profile("fsyn_ite_compute_domain_slack_ratios");
    MORV_ASSERT_TEXT(domain != nullptr, "domain_info != NULL");
    MORV_ASSERT_TEXT(domain->m_do_analysis, "domain_info->m_do_analysis");
    const MORV_TIMING_ITE_RAW_SR_BOUNDS b = compute_raw_sr_bounds(domain);
    domain->m_all_edges_modified = !(b.m_min == domain->m_min_slack_ratio && b.m_max == domain->m_max_slack_ratio);
    if (domain->m_all_edges_modified) {
        domain->m_min_slack_ratio = b.m_min;
        domain->m_max_slack_ratio = b.m_max;
    }
    if (m_debug) {
        MORV_DEBUG_STREAM::print(2, "iTEst: computing domain slack ratios (id = %d)", domain->m_id);
        MORV_DEBUG_STREAM::print(2,
                                 "iTEst:    min raw sr = %f, max raw sr = %f, real min raw sr = %f, computing for all "
                                 "edges = %d",
                                 static_cast<double>(b.m_min), static_cast<double>(b.m_max),
                                 static_cast<double>(b.m_real_min), domain->m_all_edges_modified ? 1 : 0);
        MORV_DEBUG_STREAM::print(2, "iTEst:    SR LR params: slope = %f, intercept = %f",
                                 static_cast<double>(domain->m_sr_lr_slope),
                                 static_cast<double>(domain->m_sr_lr_intercept));
    }
    const float min = b.m_min;
    auto normalise = [this, min](int edge_id, MORV_TIMING_ITE_EDGE_SLACK_RATIOS* record) {
        const float r = record->m_raw_slack_ratio;
        record->m_slack_ratio = r < 1.0f ? morv_ite_clamp_ratio((r - min) / (1.0f - min)) : 1.0f;
        if (m_debug)
            MORV_DEBUG_STREAM::print(2, "iTEst:    edge %d, slack = %d, domain sr = %f", edge_id, record->m_slack,
                                     static_cast<double>(record->m_slack_ratio));
    };
    if (domain->m_all_edges_modified) {
        for (auto& entry : domain->m_edge_slack_ratios) normalise(entry.first, entry.second);
    } else {
        for (const auto& [edge_id, record] : region_records(*domain)) normalise(edge_id, record);
    }
    domain->m_full_min_slack_ratio = morv_ite_clamp_ratio((b.m_real_min - min) / (1.0f - min));
    if (m_debug)
        MORV_DEBUG_STREAM::print(2, "iTEst:    min. domain slack ratio = %f",
                                 static_cast<double>(domain->m_full_min_slack_ratio));
}

// A register clocked straight from a keeper (a register output) has no
// clock tree to walk: the analyser counts such a path as 0, and so does this.
int MORV_TIMING_ITE::get_register_clock_delay(const TDB_NODE* node, int which)
{
    MORV_ASSERT_TEXT(node->is_reg(), "node->is_reg()");
    MORV_ASSERT_TEXT(node->get_num_of_clkin() == 1, "node->get_num_of_clkin() == 1");
    MORV_TIMING_ITE_NODE_MEMO& cache = m_node_clock_delay_hash[which];
    if (const int32_t* known = cache.find(node->get_id())) return *known;
    const TDB_EDGE* clock = node->clkin()[0];
    const TDB_NODE* source = clock->get_src_node();
    const int delay = clock->get_clock_delay(which) + (source->is_keeper() ? 0 : get_clock_path_delay(source, which));
    cache.set(node->get_id(), delay);
    return delay;
}

// The largest over the fan-ins, at either corner, with an explicit stack; a
// fan-in that closes a loop counts its own delay only, as in the analyser.
int MORV_TIMING_ITE::get_clock_path_delay(const TDB_NODE* node, int which)
{
    MORV_ASSERT_TEXT(!node->is_keeper(), "!node->is_keeper()");
    if (node->get_num_of_fanin() == 0) return 0;
    MORV_TIMING_ITE_NODE_MEMO& cache = m_node_clock_delay_hash[which];
    if (const int32_t* known = cache.find(node->get_id())) return *known;
    struct FRAME
    {
        const TDB_NODE* node;
        int pos;
        int best;
    };
    std::vector<FRAME> stack{{node, 0, 0}};
    m_clock_path_on_stack.insert(node->get_id());
    while (!stack.empty()) {
        FRAME& top = stack.back();
        if (top.pos == top.node->get_num_of_fanin()) {
            cache.set(top.node->get_id(), top.best);
            ++m_clock_path_evaluations;
            m_clock_path_on_stack.erase(top.node->get_id());
            stack.pop_back();
            continue;
        }
        const TDB_EDGE* fanin = top.node->fanin()[static_cast<size_t>(top.pos)];
        const TDB_NODE* source = fanin->get_src_node();
        int upstream = 0;
        if (!source->is_keeper() && source->get_num_of_fanin() > 0 &&
            !m_clock_path_on_stack.contains(source->get_id())) {
            const int32_t* known = cache.find(source->get_id());
            if (known == nullptr) {
                m_clock_path_on_stack.insert(source->get_id());
                stack.push_back({source, 0, 0});  // this fan-in is taken again once its source is known
                continue;
            }
            upstream = *known;
        }
        top.best = std::max(top.best, fanin->get_clock_delay(which) + upstream);
        ++top.pos;
    }
    return *cache.find(node->get_id());
}
