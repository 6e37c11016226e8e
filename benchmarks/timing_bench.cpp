// Timing analyser on the stereovision0 netlist (about 23k atoms) mapped to
// BRK atoms and placed on a simple raster: full build, full analysis, and an
// incremental refresh after a handful of edits; and the build of a small
// netlist after many reads in one process. The component's side of the
// same work: a 5-atom edit through the editing interface followed by the
// timing netlist's synchronisation and either iTEst's estimate or a full
// analysis, each on its own compile of stereovision0 in the same run.

#include <benchmark/benchmark.h>

#include <memory>
#include <string>
#include <vector>

#include "cdb/cdb_atom_netlist.h"
#include "dev/dev_device.h"
#include "host_env.h"
#include "io/blif_reader.h"
#include "msg/msg.h"
#include "tdb/tdb_netlist.h"
#include "tdc/tdc_accessories.h"

#include "morv/core/morv_api.h"
#include "morv/core/morv_expert.h"
#include "morv/netlist/morv_cdb_interface.h"
#include "morv/timing/morv_timing.h"
#include "morv/timing/morv_timing_ite.h"
#include "test_compile_setup.h"

namespace {

struct DESIGN
{
    std::unique_ptr<CDB_ATOM_NETLIST> atoms;
    std::vector<CDB_ATOM_NODE*> luts;

    DESIGN()
    {
        msg_set_quiet(true);
        DMGR_UTILITY::set_current_family(DEV_FAMILY_BRENNOCK);
        BLIF_READER reader(DEV_FAMILY_BRENNOCK);
        atoms = reader.read_file(std::string(MORV_BENCH_DIR) + "/misc_k6/stereovision0.lut6.blif");
        const DEV_DEVICE* dev = DMGR_UTILITY::get_current_device();
        int i = 0, per_lab = dev->get_lab_capacity();
        for (CDB_ATOM_NODE* n : *atoms) {
            int lab = i++ / per_lab;
            n->set_location(1 + lab % (dev->get_nx() - 2), 1 + (lab / (dev->get_nx() - 2)) % (dev->get_ny() - 2));
            if (n->is_lcell_comb() && n->get_input_count() >= 2) luts.push_back(n);
        }
    }
};

DESIGN& design()
{
    static DESIGN d;
    return d;
}

void BM_FullBuildAndAnalysis(benchmark::State& state)
{
    DESIGN& d = design();
    for (auto _ : state) {
        TDC_ACCESSORIES acc;
        acc.set_atom_netlist(d.atoms.get());
        benchmark::DoNotOptimize(acc.run_tan(*acc.get_tan_parameters(), true));
        state.counters["edges"] = acc.get_tdb_netlist()->get_num_edges();
    }
}
BENCHMARK(BM_FullBuildAndAnalysis)->Unit(benchmark::kMillisecond);

void BM_FullAnalysis(benchmark::State& state)
{
    DESIGN& d = design();
    TDC_ACCESSORIES acc;
    acc.set_atom_netlist(d.atoms.get());
    acc.run_tan(*acc.get_tan_parameters(), true);
    for (auto _ : state) benchmark::DoNotOptimize(acc.run_tan(*acc.get_tan_parameters(), true));
    state.counters["edges"] = acc.get_tdb_netlist()->get_num_edges();
    state.counters["fom"] = acc.get_figure_of_merit();
}
BENCHMARK(BM_FullAnalysis)->Unit(benchmark::kMillisecond);

// Five LUTs swap their first two inputs (a real change of pin delays) and
// the timing netlist is refreshed from those atoms.
void edit_five(DESIGN& d, size_t round, std::vector<unsigned>& changed)
{
    changed.clear();
    for (size_t k = 0; k < 5; ++k) {
        CDB_ATOM_NODE* n = d.luts[(round * 7919 + k * 104729) % d.luts.size()];
        CDB_ATOM_ITERM* a = n->get_input_term_by_type(DB_DATA_A);
        CDB_ATOM_ITERM* b = n->get_input_term_by_type(DB_DATA_B);
        if (!a || !b) continue;
        CDB_ATOM_OTERM* sa = a->get_source();
        CDB_ATOM_OTERM* sb = b->get_source();
        if (!sa || !sb) continue;
        a->disconnect_from_source(2);
        b->disconnect_from_source(2);
        sb->insert_fanout(a);
        sa->insert_fanout(b);
        changed.push_back(n->get_id());
    }
}

// Every round edits untimed, then refreshes the timing netlist from the
// edited atoms; with `analyse` a full analysis follows the refresh.
void run_edit_rounds(benchmark::State& state, bool analyse)
{
    DESIGN& d = design();
    TDC_ACCESSORIES acc;
    acc.set_atom_netlist(d.atoms.get());
    acc.run_tan(*acc.get_tan_parameters(), true);
    std::vector<unsigned> changed;
    size_t round = 0;
    for (auto _ : state) {
        state.PauseTiming();
        edit_five(d, round++, changed);
        state.ResumeTiming();
        acc.set_taint_change_set(changed);
        if (analyse) {
            acc.build_timing_netlist();
            benchmark::DoNotOptimize(acc.run_tan(*acc.get_tan_parameters(), true));
        } else {
            benchmark::DoNotOptimize(acc.build_timing_netlist());
        }
    }
}

void BM_IncrementalRefreshOnly(benchmark::State& state)
{
    run_edit_rounds(state, false);
}
BENCHMARK(BM_IncrementalRefreshOnly)->Unit(benchmark::kMicrosecond);

void BM_IncrementalRefreshAndAnalysis(benchmark::State& state)
{
    run_edit_rounds(state, true);
}
BENCHMARK(BM_IncrementalRefreshAndAnalysis)->Unit(benchmark::kMillisecond);

// stereovision0 compiled for the component (BRK, placed, at 90 % of its
// critical path, late flow), timed once, with iTEst on or off.
struct FACADE_COMPILE
{
    explicit FACADE_COMPILE(bool itest)
    {
        msg_set_quiet(true);
        BLIF_READER reader(CDB_FAMILY_BRK);
        design = std::make_unique<morv_host::HOST_DESIGN>(
            CDB_FAMILY_BRK, reader.read_file(std::string(MORV_BENCH_DIR) + "/misc_k6/stereovision0.lut6.blif"));
        env = std::make_unique<morv_host::HOST_ENV>(*design);
        set_clock_below_critical_path(*env);
        env->place_unplaced_atoms();
        env->set_placed(true);
        MORV_EXPERT* expert = dynamic_cast<MORV_EXPERT*>(env->get_fsyn_expert());
        api = expert->get_fsyn_api();
        timing = api->get_fsyn_timing();
        DRIVER_FLAGS::run_only(expert, LATE_FSYN_FLOW);
        timing->sync_timing_netlist(false, true);
        timing->perform_timing_analysis();
        if (itest) {
            timing->set_use_itest(true);
            timing->update_timing();
        }
        pick_luts();
    }

    // Two-input-or-wider LUTs off the critical paths (every timed edge at a
    // slack ratio of 0.5 or more): an edit there leaves every domain's
    // worst path alone, so iTEst estimates instead of falling back.
    void pick_luts()
    {
        TDB_NETLIST* netlist = tdc_get_accessories()->get_tdb_netlist();
        auto relaxed = [](TDB_EDGE_RANGE edges) {
            for (const TDB_EDGE* e : edges)
                if (e->get_slack_ratio() < 0.5f) return false;
            return true;
        };
        for (CDB_ATOM_NODE* n : *design->netlist()) {
            if (!n->is_lcell_comb() || n->get_input_count() < 2) continue;
            const CDB_ATOM_ITERM* a = n->get_input_term_by_type(DB_DATA_A);
            const CDB_ATOM_ITERM* b = n->get_input_term_by_type(DB_DATA_B);
            const CDB_ATOM_OTERM* o = n->get_output_term_by_type(DB_COMB_OUT);
            if (a == nullptr || b == nullptr || o == nullptr || a->get_source() == nullptr ||
                b->get_source() == nullptr)
                continue;
            const TDB_NODE* t = netlist->get_tdb_node_from_oterm(o);
            if (t != nullptr && relaxed(t->fanin()) && relaxed(t->fanout()))
                luts.push_back(static_cast<int>(n->get_id()));
        }
    }

    void reconnect(CDB_ATOM_ITERM* sink, CDB_ATOM_OTERM* from)
    {
        MORV_CDB_INTERFACE* cdb = api->get_fsyn_cdb_interface();
        api->modify_edge(sink, true);
        cdb->disconnect_fanin(sink, CDB_NET_ITERM::UNCONNECTED);
        cdb->insert_fanin(sink, from);
        api->modify_edge(sink, false);
    }

    // Five LUTs swap their first two inputs (a real change of pin delays).
    void edit_five(size_t round)
    {
        for (size_t k = 0; k < 5; ++k) {
            CDB_ATOM_NODE* n = api->get_node(luts[(round * 7919 + k * 104729) % luts.size()]);
            CDB_ATOM_ITERM* a = n->get_input_term_by_type(DB_DATA_A);
            CDB_ATOM_ITERM* b = n->get_input_term_by_type(DB_DATA_B);
            CDB_ATOM_OTERM* sa = a->get_source();
            CDB_ATOM_OTERM* sb = b->get_source();
            reconnect(a, sb);
            reconnect(b, sa);
        }
    }

    std::unique_ptr<morv_host::HOST_DESIGN> design;
    std::unique_ptr<morv_host::HOST_ENV> env;
    MORV_API* api = nullptr;
    MORV_TIMING* timing = nullptr;
    std::vector<int> luts;
};

FACADE_COMPILE& facade_compile(bool itest)
{
    static FACADE_COMPILE with(true);
    static FACADE_COMPILE without(false);
    return itest ? with : without;
}

// The timed part is what the early flows do after an algorithm's edits:
// synchronise the timing netlist, then estimate (iTEst) or analyse.
void run_facade_edit_rounds(benchmark::State& state, bool itest)
{
    FACADE_COMPILE& c = facade_compile(itest);
    MORV_TIMING_ITE* ite = c.timing->get_itest();
    const long estimates = itest ? ite->get_num_estimates() : 0, fallbacks = itest ? ite->get_num_fallbacks() : 0;
    size_t round = 0;
    long analysed = 0, marked = 0;
    for (auto _ : state) {
        state.PauseTiming();
        c.edit_five(round++);
        state.ResumeTiming();
        if (itest) {
            c.timing->sync_timing_netlist(true, false);
            c.timing->update_timing();
            analysed += ite->get_estimation_stats().m_analysed_edges;
            marked += ite->get_estimation_stats().m_marked_edges;
        } else {
            c.timing->sync_timing_netlist(true, true);
            c.timing->perform_timing_analysis();
        }
    }
    state.counters["candidate_luts"] = static_cast<double>(c.luts.size());
    state.counters["fom"] = c.timing->get_figure_of_merit_value();
    if (!itest) return;
    state.counters["estimates"] = static_cast<double>(ite->get_num_estimates() - estimates);
    state.counters["fallbacks"] = static_cast<double>(ite->get_num_fallbacks() - fallbacks);
    // The region sizes per estimation, against the netlist's edges.
    const double n = static_cast<double>(std::max<size_t>(round, 1));
    state.counters["region_edges"] = static_cast<double>(marked) / n;
    state.counters["analysed_edges"] = static_cast<double>(analysed) / n;
    state.counters["netlist_edges"] =
        static_cast<double>(tdc_get_accessories()->get_tdb_netlist()->edge_table().size());
}

void BM_FiveAtomEditSyncAndFullAnalysis(benchmark::State& state)
{
    run_facade_edit_rounds(state, false);
}
// Both run the same rounds of edits (the LUTs follow the round number), so
// a fixed count: rounds re-time regions of different sizes.
constexpr int k_FACADE_ROUNDS = 400;
BENCHMARK(BM_FiveAtomEditSyncAndFullAnalysis)->Unit(benchmark::kMillisecond)->Iterations(k_FACADE_ROUNDS);

void BM_FiveAtomEditSyncAndEstimation(benchmark::State& state)
{
    run_facade_edit_rounds(state, true);
}
BENCHMARK(BM_FiveAtomEditSyncAndEstimation)->Unit(benchmark::kMillisecond)->Iterations(k_FACADE_ROUNDS);

// Timing-netlist build of frisc after `state.range(0)` earlier reads in the
// same process. Atom ids are issued process-wide, so the later reads carry
// ids far above the first ones; the build must cost the same either way
// (compare the two rows' times and atom-table sizes).
void BM_BuildAfterEarlierReads(benchmark::State& state)
{
    msg_set_quiet(true);
    DMGR_UTILITY::set_current_family(DEV_FAMILY_BRENNOCK);
    const std::string frisc = std::string(MORV_BENCH_DIR) + "/mcnc_k4/frisc.blif";
    for (int64_t i = 0; i < state.range(0); ++i) BLIF_READER(DEV_FAMILY_BRENNOCK).read_file(frisc);
    for (auto _ : state) {
        state.PauseTiming();
        std::unique_ptr<CDB_ATOM_NETLIST> atoms = BLIF_READER(DEV_FAMILY_BRENNOCK).read_file(frisc);
        state.ResumeTiming();
        TDC_ACCESSORIES acc;
        acc.set_atom_netlist(atoms.get());
        TDB_NETLIST* tdb = acc.build_timing_netlist();
        benchmark::DoNotOptimize(tdb);
        state.counters["atom_table"] = static_cast<double>(tdb->get_atom_table_size());
        state.counters["atoms"] = static_cast<double>(atoms->get_node_count());
        state.counters["first_id"] = tdb->get_atom_id_base();
    }
}
BENCHMARK(BM_BuildAfterEarlierReads)->Arg(0)->Arg(500)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
