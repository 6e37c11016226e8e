// iTEst's full analysis against the analyser's own on stereovision0 (BRK,
// placed, at 90 % of its critical path), in one process on one netlist: the
// analyser's full analysis alone, then iTEst's, which runs it with the
// per-sub-domain data kept and builds its domain records from that.
//
// The estimate: the interconnect delays around 5 LUTs move (up on even
// iterations, back down on odd ones), and iTEst prepares and re-times the
// regions of those LUTs (their fan-in and fan-out cones up to keepers, per
// domain of the LUT) instead of a full analysis. BM_ItestAnnotate times the
// tightening and annotation alone over the same marked regions, so the
// estimate splits into timing the regions and annotating.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <memory>
#include <random>
#include <vector>

#include "host_env.h"
#include "io/blif_reader.h"
#include "msg/msg.h"
#include "tdb/tdb_netlist.h"
#include "tdc/tdc_accessories.h"
#include "cdb/cdb_atom_netlist.h"

#include "morv/core/morv_api.h"
#include "morv/core/morv_expert.h"
#include "morv/netlist/morv_cdb_interface.h"
#include "morv/timing/morv_timing.h"
#include "morv/timing/morv_timing_ite.h"
#include "itest_regions.h"
#include "test_compile_setup.h"

using namespace morv_host;

namespace {

struct COMPILE : PLACED_LATE_COMPILE
{
    COMPILE() : PLACED_LATE_COMPILE(std::string(MORV_BENCH_DIR) + "/misc_k6/stereovision0.lut6.blif")
    {
        timing = api->get_fsyn_timing();
        timing->sync_timing_netlist(false, true);
        timing->perform_timing_analysis();
        timing->set_use_itest(true);
    }

    MORV_TIMING* timing = nullptr;
};

COMPILE& compile()
{
    static COMPILE c;
    return c;
}

void BM_FullAnalysis(benchmark::State& state)
{
    COMPILE& c = compile();
    TDC_ACCESSORIES* acc = tdc_get_accessories();
    for (auto _ : state) benchmark::DoNotOptimize(acc->run_tan(*acc->get_tan_parameters(), true));
    state.counters["edges"] = acc->get_tdb_netlist()->get_num_edges();
    state.counters["fom"] = acc->get_figure_of_merit();
    (void)c;
}
BENCHMARK(BM_FullAnalysis)->Unit(benchmark::kMillisecond);

void BM_ItestFullAnalysis(benchmark::State& state)
{
    COMPILE& c = compile();
    MORV_TIMING_ITE* ite = c.timing->get_itest();
    for (auto _ : state) ite->perform_full_timing_analysis();
    state.counters["domains"] = ite->get_num_domains();
    state.counters["fom"] = ite->get_figure_of_merit();
}
BENCHMARK(BM_ItestFullAnalysis)->Unit(benchmark::kMillisecond);

// One domain's part of a region: the cone edges the domain holds.
struct REGION_PART
{
    MORV_TIMING_ITE_DOMAIN_INFO* domain;
    std::vector<const TDB_EDGE*> edges;
};

struct REGION
{
    const TDB_NODE* node;
    std::vector<REGION_PART> parts;
};

REGION region_of(MORV_TIMING_ITE* ite, const TDB_NODE* n)
{
    REGION region{n, {}};
    const std::vector<const TDB_EDGE*> cone = cone_edges(n);
    for (int d : domains_of(ite, n)) {
        REGION_PART part{ite->get_domain(d), {}};
        for (const TDB_EDGE* e : cone)
            if (has_record(part.domain, e)) part.edges.push_back(e);
        region.parts.push_back(std::move(part));
    }
    return region;
}

// Five LUTs that take part in some domain, drawn with a fixed seed, after a
// fresh full analysis.
std::vector<REGION>& regions()
{
    static std::vector<REGION> chosen = [] {
        COMPILE& c = compile();
        MORV_TIMING_ITE* ite = c.timing->get_itest();
        ite->perform_full_timing_analysis();
        std::vector<const TDB_NODE*> luts;
        for (const TDB_NODE* node : tdc_get_accessories()->get_tdb_netlist()->node_table())
            if (node != nullptr && !node->is_keeper() && node->get_num_of_fanin() > 1) luts.push_back(node);
        std::mt19937 rng(36);
        std::vector<REGION> out;
        while (out.size() < 5 && !luts.empty()) {
            REGION r = region_of(ite, luts[std::uniform_int_distribution<size_t>(0, luts.size() - 1)(rng)]);
            if (!r.parts.empty()) out.push_back(std::move(r));
        }
        return out;
    }();
    return chosen;
}

void move_delays(const std::vector<REGION>& chosen, int by)
{
    TDB_NETLIST* netlist = tdc_get_accessories()->get_tdb_netlist();
    for (const REGION& r : chosen)
        for (TDB_EDGE_RANGE range : {r.node->fanin(), r.node->fanout()})
            for (TDB_EDGE* e : range) netlist->set_ic_delay(e, std::max(0, e->get_max_ic_delay() + by));
}

void mark_regions(MORV_TIMING_ITE* ite, const std::vector<REGION>& chosen)
{
    for (const REGION& r : chosen)
        for (const REGION_PART& part : r.parts) {
            for (const TDB_EDGE* e : part.edges) ite->add_domain_analysis_edge(part.domain, e, e->get_src_node());
            part.domain->m_analysis_start_nodes.insert(r.node->get_id());
        }
}

void BM_ItestEstimateFiveRegions(benchmark::State& state)
{
    COMPILE& c = compile();
    MORV_TIMING_ITE* ite = c.timing->get_itest();
    std::vector<REGION>& chosen = regions();
    int64_t edges = 0, iteration = 0;
    for (auto _ : state) {
        move_delays(chosen, iteration++ % 2 == 0 ? 150 : -150);
        mark_regions(ite, chosen);
        for (int d = 0; d < ite->get_num_domains(); ++d) {
            MORV_TIMING_ITE_DOMAIN_INFO* domain = ite->get_domain(d);
            if (!domain->m_do_analysis) continue;
            if (!domain->m_ready_for_estimation) ite->compute_sr_lr_approximation_for_domain(domain);
            ite->fsyn_ite_do_slack_preparation_adjustments(domain);
        }
        ite->fsyn_ite_do_timing_estimation();
        edges = ite->get_estimation_stats().m_analysed_edges;
        ite->fsyn_ite_post_timing_estimation_cleanup();
    }
    // The estimate must be the analyser's answer on the moved delays.
    const MORV_TIMING_ITE_COMPARISON cmp = ite->compare_with_full_timing_analysis();
    state.counters["regions"] = static_cast<double>(chosen.size());
    state.counters["analysed_edges"] = static_cast<double>(edges);
    state.counters["slack_diffs"] = cmp.m_slack_diffs;
    state.counters["sr_diffs"] = cmp.m_sr_diffs;
}
BENCHMARK(BM_ItestEstimateFiveRegions)->Unit(benchmark::kMicrosecond);

void BM_ItestAnnotate(benchmark::State& state)
{
    COMPILE& c = compile();
    MORV_TIMING_ITE* ite = c.timing->get_itest();
    std::vector<REGION>& chosen = regions();
    for (auto _ : state) {
        state.PauseTiming();
        mark_regions(ite, chosen);
        state.ResumeTiming();
        ite->fsyn_ite_tighten_slack_ratios();
        ite->fsyn_ite_annotate_slacks_and_slack_ratios();
        state.PauseTiming();
        ite->fsyn_ite_post_timing_estimation_cleanup();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_ItestAnnotate)->Unit(benchmark::kMicrosecond);

// A real edit through the front end, as an algorithm makes it: five LUTs
// swap their first two inputs (each input disconnected and connected to the
// other's driver), and the timing update estimates. Counters per estimate:
// the edges re-timed, and the reach of the edit (the LUTs' fan-out cones and
// their drivers' fan-in cones up to keepers), which bounds what can change.
void BM_ItestUpdateAfterFiveAtomEdit(benchmark::State& state)
{
    COMPILE& c = compile();
    MORV_CDB_INTERFACE* cdb = c.api->get_fsyn_cdb_interface();
    std::vector<CDB_ATOM_NODE*> luts;
    for (CDB_ATOM_NODE* n : *c.design->netlist())
        if (n->is_lcell_comb() && n->get_input_count() >= 2) luts.push_back(n);
    c.timing->request_full_update();
    c.timing->sync_timing_netlist(true, false);
    c.timing->update_timing();
    MORV_TIMING_ITE* ite = c.timing->get_itest();
    size_t round = 0;
    int64_t retimed = 0, reach = 0, estimates = 0;
    for (auto _ : state) {
        state.PauseTiming();
        std::vector<CDB_ATOM_NODE*> edited, drivers;
        for (size_t k = 0; k < 5; ++k) {
            CDB_ATOM_NODE* n = luts[(round * 7919 + k * 104729) % luts.size()];
            CDB_ATOM_ITERM* a = n->get_input_term_by_type(DB_DATA_A);
            CDB_ATOM_ITERM* b = n->get_input_term_by_type(DB_DATA_B);
            if (!a || !b || !a->get_source() || !b->get_source()) continue;
            CDB_ATOM_OTERM* sa = a->get_source();
            CDB_ATOM_OTERM* sb = b->get_source();
            for (CDB_ATOM_ITERM* t : {a, b}) {
                c.api->modify_edge(t, true);
                cdb->disconnect_fanin(t, CDB_NET_ITERM::UNCONNECTED);
            }
            cdb->insert_fanin(a, sb);
            cdb->insert_fanin(b, sa);
            c.api->modify_edge(a, false);
            c.api->modify_edge(b, false);
            edited.push_back(n);
            drivers.push_back(sa->get_my_node());
            drivers.push_back(sb->get_my_node());
        }
        ++round;
        state.ResumeTiming();
        c.timing->sync_timing_netlist(true, false);
        c.timing->update_timing();
        state.PauseTiming();
        TDB_NETLIST* netlist = tdc_get_accessories()->get_tdb_netlist();
        std::vector<const TDB_NODE*> sinks, sources;
        for (CDB_ATOM_NODE* n : edited)
            for (int id : netlist->get_atom_nodes(static_cast<int>(n->get_id())))
                if (const TDB_NODE* t = netlist->find_node(id)) sinks.push_back(t);
        for (CDB_ATOM_NODE* n : drivers)
            for (int id : netlist->get_atom_nodes(static_cast<int>(n->get_id())))
                if (const TDB_NODE* t = netlist->find_node(id)) sources.push_back(t);
        reach += static_cast<int64_t>(edit_reach_edges(sinks, sources).size());
        retimed += ite->get_estimation_stats().m_analysed_edges;
        ++estimates;
        state.ResumeTiming();
    }
    state.counters["retimed_edges"] = estimates > 0 ? static_cast<double>(retimed) / estimates : 0.0;
    state.counters["reach_edges"] = estimates > 0 ? static_cast<double>(reach) / estimates : 0.0;
    state.counters["estimates"] = static_cast<double>(ite->get_num_estimates());
    state.counters["fallbacks"] = static_cast<double>(ite->get_num_fallbacks());
}
BENCHMARK(BM_ItestUpdateAfterFiveAtomEdit)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
