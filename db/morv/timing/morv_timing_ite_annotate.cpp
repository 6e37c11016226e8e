// What the rest of the component sees of iTEst: the domain ratios rescaled
// so that the least one over all domains is 0, their annotation on the
// host's timing netlist (an edge of several domains takes its least slack
// and least ratio), and the developer's comparison with a full analysis.

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <vector>

#include "gen/gen.h"
#include "msg/msg.h"
#include "tdb/tdb_netlist.h"

#include "morv/core/morv_assert.h"
#include "morv/core/morv_debug_stream.h"
#include "morv/timing/morv_timing_internal.h"
#include "morv/timing/morv_timing_ite.h"

void MORV_TIMING_ITE::fsyn_ite_tighten_slack_ratios()
{
    GEN_PROFILER profile("fsyn_ite_tighten_slack_ratios");
    float gmin = 1.0f;
    for (const MORV_TIMING_ITE_DOMAIN_INFO& domain : m_domain_info)
        if (domain.m_full_min_slack_ratio < gmin) gmin = domain.m_full_min_slack_ratio;
    const bool changed = !(gmin == m_global_min_domain_sr);
    if (changed) m_global_min_domain_sr = gmin;
    m_tightened_all = changed;
    const bool need = gmin > 0.0f && gmin < 1.0f;
    if (m_debug)
        MORV_DEBUG_STREAM::print(2, "iTEst: tightening slack ratios, global min domain sr = %f, need tightening = %d",
                                 static_cast<double>(gmin), need ? 1 : 0);
    for (MORV_TIMING_ITE_DOMAIN_INFO& domain : m_domain_info) tighten_domain(domain, changed, need, gmin);
}

void MORV_TIMING_ITE::tighten_domain(MORV_TIMING_ITE_DOMAIN_INFO& domain, bool changed, bool need, float gmin)
{
    if (!changed && !domain.m_do_analysis) return;
    auto tighten = [need, gmin](MORV_TIMING_ITE_EDGE_SLACK_RATIOS* record) {
        record->m_tightened_slack_ratio =
            need ? morv_ite_clamp_ratio((static_cast<double>(record->m_slack_ratio) - gmin) / (1.0 - gmin))
                 : record->m_slack_ratio;
    };
    if (!changed && !domain.m_all_edges_modified) {
        if (m_debug) MORV_DEBUG_STREAM::print(2, "iTEst:    tightening analyzed edges in domain %d", domain.m_id);
        for (const auto& entry : region_records(domain)) tighten(entry.second);
        return;
    }
    if (m_debug) MORV_DEBUG_STREAM::print(2, "iTEst:    tightening all edges in domain %d", domain.m_id);
    for (auto& entry : domain.m_edge_slack_ratios) tighten(entry.second);
}

void MORV_TIMING_ITE::annotate_record(int edge_id, const MORV_TIMING_ITE_EDGE_SLACK_RATIOS* record,
                                      std::vector<int>& shared_edges)
{
    const size_t index = static_cast<size_t>(static_cast<int64_t>(edge_id) - m_edge_id_base);
    if (index >= m_edge_domain_vec.size() || index >= m_tdb_edges->size())
        MSG_INTERNAL_ERROR::report("invalid vector<T> subscript", "MORV", __FILE__, __LINE__);
    if (m_edge_domain_vec[index] == EDGE_DOMAIN_SHARED) {
        shared_edges.push_back(edge_id);
        return;
    }
    TDB_EDGE* edge = (*m_tdb_edges)[index];
    MORV_ASSERT_TEXT(edge != nullptr, "edge != NULL");
    edge->set_slack(record->m_slack);
    edge->set_slack_ratio(record->m_tightened_slack_ratio);
    if (m_debug)
        MORV_DEBUG_STREAM::print(2, "iTEst:       annotating edge %d, slack %d, slack ratio = %f", edge_id,
                                 record->m_slack, static_cast<double>(record->m_tightened_slack_ratio));
}

void MORV_TIMING_ITE::fsyn_ite_annotate_slacks_and_slack_ratios()
{
    GEN_PROFILER profile("fsyn_ite_annotate_slacks_and_slack_ratios");
    if (m_debug) MORV_DEBUG_STREAM::print(2, "iTEst: annotating slacks and slack ratios on netlist");
    MORV_ASSERT_TEXT(m_tdb_edges != nullptr, "m_tdb_edges");
    std::vector<int> shared_edges;
    for (const MORV_TIMING_ITE_DOMAIN_INFO& domain : m_domain_info) {
        if (m_debug)
            MORV_DEBUG_STREAM::print(2, "iTEst:    annotating slack ratios for all edges in domain %d", domain.m_id);
        for (const auto& entry : domain.m_edge_slack_ratios) annotate_record(entry.first, entry.second, shared_edges);
    }
    annotate_shared_edges(shared_edges);
}

void MORV_TIMING_ITE::annotate_estimated_slacks_and_slack_ratios()
{
    GEN_PROFILER profile("fsyn_ite_annotate_slacks_and_slack_ratios");
    if (m_debug) MORV_DEBUG_STREAM::print(2, "iTEst: annotating estimated slacks and slack ratios on netlist");
    MORV_ASSERT_TEXT(m_tdb_edges != nullptr, "m_tdb_edges");
    std::vector<int> shared_edges;
    for (MORV_TIMING_ITE_DOMAIN_INFO& domain : m_domain_info) {
        if (m_tightened_all || (domain.m_do_analysis && domain.m_all_edges_modified)) {
            for (const auto& entry : domain.m_edge_slack_ratios)
                annotate_record(entry.first, entry.second, shared_edges);
        } else if (domain.m_do_analysis) {
            for (const auto& [edge_id, record] : region_records(domain)) annotate_record(edge_id, record, shared_edges);
        }
    }
    for (int edge_id : m_touched_edges) {
        const int entry = get_edge_domain(edge_id);
        if (entry == EDGE_DOMAIN_SHARED) {
            shared_edges.push_back(edge_id);
        } else if (entry != EDGE_DOMAIN_NONE && entry != EDGE_DOMAIN_UNKNOWN) {
            annotate_record(edge_id, required_record(&m_domain_info[static_cast<size_t>(entry)], edge_id),
                            shared_edges);
        }
    }
    annotate_shared_edges(shared_edges);
}

// Each domain holding a record of a shared edge lists it; its values come
// from all of them at once, so it is written once.
void MORV_TIMING_ITE::annotate_shared_edges(std::vector<int>& shared_edges)
{
    std::sort(shared_edges.begin(), shared_edges.end());
    shared_edges.erase(std::unique(shared_edges.begin(), shared_edges.end()), shared_edges.end());
    for (int edge_id : shared_edges) annotate_shared_edge(edge_id);
    m_shared_edge_annotations += static_cast<long>(shared_edges.size());
}

// The least slack and the least ratio over the edge's domains, which may
// come from different domains.
void MORV_TIMING_ITE::annotate_shared_edge(int edge_id)
{
    const MORV_BIT_VECTOR* domains = get_shared_edge_domains(edge_id);
    MORV_ASSERT_TEXT(domains != nullptr, "m_shared_edge_hash.exists( shared_edge_id )");
    int slack = ITE_NO_SLACK;
    float ratio = 1.0f;
    for (int d = 0; d < m_num_domains; ++d) {
        if (!domains->test(static_cast<uint64_t>(d))) continue;
        const MORV_TIMING_ITE_EDGE_SLACK_RATIOS* record = m_domain_info[static_cast<size_t>(d)].edge_record(edge_id);
        if (record->m_slack < slack) slack = record->m_slack;
        if (record->m_tightened_slack_ratio < ratio) ratio = record->m_tightened_slack_ratio;
    }
    TDB_EDGE* edge = tdb_edge(edge_id);
    MORV_ASSERT_TEXT(edge != nullptr, "edge != NULL");
    edge->set_slack(slack);
    edge->set_slack_ratio(ratio);
    if (m_debug)
        MORV_DEBUG_STREAM::print(2, "iTEst:       annotating edge %d, slack %d, slack ratio = %f", edge_id, slack,
                                 static_cast<double>(ratio));
}

namespace {
struct EDGE_TIMING
{
    int m_slack;
    float m_slack_ratio;
};

// Slack differences are taken in 64 bits: an unbounded slack on one side
// and a negative one on the other do not fit 32.
void count_difference(MORV_TIMING_ITE_COMPARISON& c, int edge_id, const EDGE_TIMING& approx, const TDB_EDGE* edge,
                      bool detail)
{
    const int64_t slack_diff = static_cast<int64_t>(edge->get_slack()) - approx.m_slack;
    const int64_t abs_slack_diff = slack_diff < 0 ? -slack_diff : slack_diff;
    const double sr_diff = static_cast<double>(edge->get_slack_ratio()) - approx.m_slack_ratio;
    const bool slack_counted = slack_diff != 0;
    const bool sr_counted = std::fabs(sr_diff) >= 0.001;
    if (slack_counted) {
        ++c.m_slack_diffs;
        c.m_max_abs_slack_diff = std::max(c.m_max_abs_slack_diff, abs_slack_diff);
        c.m_sum_abs_slack_diff += abs_slack_diff;
        if (abs_slack_diff < 2000000000) {
            ++c.m_filtered_slack_diffs;
            c.m_filtered_max_abs_slack_diff = std::max(c.m_filtered_max_abs_slack_diff, abs_slack_diff);
            c.m_filtered_sum_abs_slack_diff += abs_slack_diff;
        }
    }
    if (sr_counted) {
        ++c.m_sr_diffs;
        c.m_max_abs_sr_diff = std::max(c.m_max_abs_sr_diff, std::fabs(sr_diff));
        c.m_sum_abs_sr_diff += std::fabs(sr_diff);
    }
    if (detail && (slack_counted || sr_counted))
        MORV_DEBUG_STREAM::print(
            2,
            "iTEst: edge %d | slack: %11d (full) - %11d (approx) = %11lld | sr: %0.3f (full) - %0.3f (approx) = %0.3f",
            edge_id, edge->get_slack(), approx.m_slack, static_cast<long long>(slack_diff),
            static_cast<double>(edge->get_slack_ratio()), static_cast<double>(approx.m_slack_ratio), sr_diff);
}

double average(double sum, int count)
{
    return count > 0 ? sum / count : 0.0;
}

void print_comparison(const MORV_TIMING_ITE_COMPARISON& c)
{
    const int n = c.m_num_edges;
    MORV_DEBUG_STREAM::print(2, "iTEst: summary of differences:");
    MORV_DEBUG_STREAM::print(2, "iTEst:    slack differences: %d / %d edges are different", c.m_slack_diffs, n);
    MORV_DEBUG_STREAM::print(2, "iTEst:                       %lld max abs slack difference",
                             static_cast<long long>(c.m_max_abs_slack_diff));
    MORV_DEBUG_STREAM::print(2, "iTEst:                       %0.3f avg abs slack difference",
                             average(static_cast<double>(c.m_sum_abs_slack_diff), c.m_slack_diffs));
    MORV_DEBUG_STREAM::print(2, "iTEst:    filtered slack differences: %d / %d edges are different",
                             c.m_filtered_slack_diffs, n);
    MORV_DEBUG_STREAM::print(2, "iTEst:                                %lld max abs slack difference",
                             static_cast<long long>(c.m_filtered_max_abs_slack_diff));
    MORV_DEBUG_STREAM::print(2, "iTEst:                                %0.3f avg abs slack difference",
                             average(static_cast<double>(c.m_filtered_sum_abs_slack_diff), c.m_filtered_slack_diffs));
    MORV_DEBUG_STREAM::print(2, "iTEst:    slack ratio differences: %d / %d edges are different", c.m_sr_diffs, n);
    MORV_DEBUG_STREAM::print(2, "iTEst:                             %0.3f max abs slack ratio difference",
                             c.m_max_abs_sr_diff);
    MORV_DEBUG_STREAM::print(2, "iTEst:                             %0.3f avg abs slack ratio difference",
                             average(c.m_sum_abs_sr_diff, c.m_sr_diffs));
}
}  // namespace

MORV_TIMING_ITE_COMPARISON MORV_TIMING_ITE::compare_with_full_timing_analysis()
{
    MORV_DEBUG_STREAM::print(2, "iTEst: performing slack ratio comparison against full timing analysis");
    MORV_ASSERT_TEXT(m_tdb_edges != nullptr, "m_tdb_edges");
    const size_t num_edges = m_tdb_edges->size();
    std::vector<EDGE_TIMING> approx(num_edges);
    for (size_t i = 0; i < num_edges; ++i)
        if (const TDB_EDGE* edge = (*m_tdb_edges)[i]) approx[i] = {edge->get_slack(), edge->get_slack_ratio()};
    run_front_end_full_analysis();
    dump_tdb_netlist("real", true, false);
    MORV_TIMING_ITE_COMPARISON comparison;
    comparison.m_num_edges = static_cast<int>(num_edges);
    // The analysis refreshes the netlist's tables in place; it must not have
    // changed the netlist under the comparison.
    MORV_ASSERT_TEXT(m_tdb_edges->size() == num_edges, "m_tdb_edges->size() == num_edges");
    for (size_t i = 0; i < num_edges; ++i)
        if (const TDB_EDGE* edge = (*m_tdb_edges)[i])
            count_difference(comparison, m_edge_id_base + static_cast<int>(i), approx[i], edge, m_do_sr_compare_detail);
    print_comparison(comparison);
    fsyn_ite_annotate_slacks_and_slack_ratios();
    return comparison;
}
