// The component's timing front end on stereovision0 (about 23k atoms,
// BRK, placed on a raster), beside the stand-in analyser doing the same
// work directly:
//  - an update after a 5-atom edit (sync_timing_netlist + update_timing)
//    against a full build and analysis, through the front end and directly;
//  - a full analysis of an unchanged netlist, both ways;
//  - the estimator's run (an estimation of the synchronised graph) and its
//    update after the same 5-atom edit.

#include <benchmark/benchmark.h>

#include <memory>
#include <string>
#include <vector>

#include "cdb/cdb_atom_netlist.h"
#include "dev/dev_device.h"
#include "host_env.h"
#include "io/blif_reader.h"
#include "msg/msg.h"
#include "tdc/tdc_accessories.h"

#include "morv/core/morv_api.h"
#include "morv/core/morv_expert.h"
#include "morv/netlist/morv_cdb_interface.h"
#include "morv/timing/morv_timing.h"

using namespace morv_host;

namespace {

struct COMPILE
{
    std::unique_ptr<HOST_DESIGN> design;
    std::unique_ptr<HOST_ENV> env;
    MORV_API* api = nullptr;
    MORV_TIMING* timing = nullptr;
    std::vector<CDB_ATOM_NODE*> luts;

    COMPILE()
    {
        msg_set_quiet(true);
        BLIF_READER reader(CDB_FAMILY_BRK);
        design = std::make_unique<HOST_DESIGN>(
            CDB_FAMILY_BRK, reader.read_file(std::string(MORV_BENCH_DIR) + "/misc_k6/stereovision0.lut6.blif"));
        const DEV_DEVICE* dev = design->device();
        int i = 0;
        const int per_lab = dev->get_lab_capacity();
        for (CDB_ATOM_NODE* n : *design->netlist()) {
            const int lab = i++ / per_lab;
            n->set_location(1 + lab % (dev->get_nx() - 2), 1 + (lab / (dev->get_nx() - 2)) % (dev->get_ny() - 2));
            if (n->is_lcell_comb() && n->get_input_count() >= 2) luts.push_back(n);
        }
        env = std::make_unique<HOST_ENV>(*design);
        api = dynamic_cast<MORV_EXPERT*>(env->get_fsyn_expert())->get_fsyn_api();
        timing = api->get_fsyn_timing();
        timing->sync_timing_netlist(false, true);
        timing->perform_timing_analysis();
    }
    ~COMPILE() { env.reset(); }

    // Five LUTs swap their first two inputs (a real change of pin delays),
    // edited and announced as an algorithm does.
    void edit_five(size_t round)
    {
        MORV_CDB_INTERFACE* cdb = api->get_fsyn_cdb_interface();
        for (size_t k = 0; k < 5; ++k) {
            CDB_ATOM_NODE* n = luts[(round * 7919 + k * 104729) % luts.size()];
            CDB_ATOM_ITERM* a = n->get_input_term_by_type(DB_DATA_A);
            CDB_ATOM_ITERM* b = n->get_input_term_by_type(DB_DATA_B);
            if (!a || !b || !a->get_source() || !b->get_source()) continue;
            CDB_ATOM_OTERM* sa = a->get_source();
            CDB_ATOM_OTERM* sb = b->get_source();
            for (CDB_ATOM_ITERM* t : {a, b}) {
                api->modify_edge(t, true);
                cdb->disconnect_fanin(t, CDB_NET_ITERM::UNCONNECTED);
            }
            cdb->insert_fanin(a, sb);
            cdb->insert_fanin(b, sa);
            api->modify_edge(a, false);
            api->modify_edge(b, false);
        }
    }
};

COMPILE& compile()
{
    static COMPILE c;
    return c;
}

// ---------------------------------------------------------------- front end

void BM_FrontEndUpdateAfterFiveAtomEdit(benchmark::State& state)
{
    COMPILE& c = compile();
    size_t round = 0;
    for (auto _ : state) {
        state.PauseTiming();
        c.edit_five(round++);
        state.ResumeTiming();
        c.timing->sync_timing_netlist(true, true);
        c.timing->update_timing();
    }
    state.counters["fom"] = c.timing->get_figure_of_merit_value();
}
BENCHMARK(BM_FrontEndUpdateAfterFiveAtomEdit)->Unit(benchmark::kMillisecond);

void BM_FrontEndFullBuildAndAnalysis(benchmark::State& state)
{
    COMPILE& c = compile();
    for (auto _ : state) {
        c.timing->set_mode_switched(true);  // the next synchronisation rebuilds in full
        c.timing->sync_timing_netlist(false, true);
        c.timing->perform_timing_analysis();
    }
}
BENCHMARK(BM_FrontEndFullBuildAndAnalysis)->Unit(benchmark::kMillisecond);

void BM_FrontEndFullAnalysis(benchmark::State& state)
{
    COMPILE& c = compile();
    for (auto _ : state) c.timing->perform_timing_analysis();
}
BENCHMARK(BM_FrontEndFullAnalysis)->Unit(benchmark::kMillisecond);

// ---------------------------------------------------------------- stand-in analyser

void BM_AnalyserRefreshAndAnalysisAfterFiveAtomEdit(benchmark::State& state)
{
    COMPILE& c = compile();
    TDC_ACCESSORIES acc;
    acc.set_atom_netlist(c.design->netlist());
    acc.run_tan(*acc.get_tan_parameters(), true);
    size_t round = 1000;
    std::vector<unsigned> changed;
    for (auto _ : state) {
        state.PauseTiming();
        c.edit_five(round++);
        changed = c.timing->get_taint_change_set();
        for (const auto& [sink, source] : c.timing->get_changed_connections()) changed.push_back(sink);
        c.timing->sync_timing_netlist(true, true);  // keeps the front end's bookkeeping empty
        state.ResumeTiming();
        acc.set_taint_change_set(changed);
        acc.build_timing_netlist();
        benchmark::DoNotOptimize(acc.run_tan(*acc.get_tan_parameters(), true));
    }
}
BENCHMARK(BM_AnalyserRefreshAndAnalysisAfterFiveAtomEdit)->Unit(benchmark::kMillisecond);

void BM_AnalyserFullBuildAndAnalysis(benchmark::State& state)
{
    COMPILE& c = compile();
    for (auto _ : state) {
        TDC_ACCESSORIES acc;
        acc.set_atom_netlist(c.design->netlist());
        benchmark::DoNotOptimize(acc.run_tan(*acc.get_tan_parameters(), true));
    }
}
BENCHMARK(BM_AnalyserFullBuildAndAnalysis)->Unit(benchmark::kMillisecond);

void BM_AnalyserFullAnalysis(benchmark::State& state)
{
    COMPILE& c = compile();
    TDC_ACCESSORIES acc;
    acc.set_atom_netlist(c.design->netlist());
    acc.run_tan(*acc.get_tan_parameters(), true);
    for (auto _ : state) benchmark::DoNotOptimize(acc.run_tan(*acc.get_tan_parameters(), true));
    state.counters["edges"] = acc.get_tdb_netlist()->get_num_edges();
}
BENCHMARK(BM_AnalyserFullAnalysis)->Unit(benchmark::kMillisecond);

// ---------------------------------------------------------------- estimator

// The estimator of the early flow, on the same netlist.
struct ESTIMATOR_MODE
{
    explicit ESTIMATOR_MODE(COMPILE& c) : m_c(c)
    {
        MORV_EXPERT* expert = c.api->get_fsyn_expert();
        c.timing->select_timing_mode(MORV_ENV::where_does_early_fsyn_run(c.env->get_cmp()));
        if (!expert->enable_nevra() || c.timing->get_nevra() == nullptr) std::abort();
        c.timing->sync_timing_netlist(true, true);
        c.timing->run_estimator_timing_analysis();
    }
    ~ESTIMATOR_MODE() { m_c.timing->switch_to_tdc_mode(false); }
    COMPILE& m_c;
};

void BM_EstimatorRun(benchmark::State& state)
{
    COMPILE& c = compile();
    ESTIMATOR_MODE mode(c);
    for (auto _ : state) c.timing->run_estimator_timing_analysis();
    state.counters["fom"] = c.timing->get_figure_of_merit(false);
}
BENCHMARK(BM_EstimatorRun)->Unit(benchmark::kMillisecond);

void BM_EstimatorUpdateAfterFiveAtomEdit(benchmark::State& state)
{
    COMPILE& c = compile();
    ESTIMATOR_MODE mode(c);
    size_t round = 2000;
    for (auto _ : state) {
        state.PauseTiming();
        c.edit_five(round++);
        state.ResumeTiming();
        c.timing->sync_timing_netlist(true, true);
        c.timing->update_timing();
    }
}
BENCHMARK(BM_EstimatorUpdateAfterFiveAtomEdit)->Unit(benchmark::kMillisecond);

void BM_LutMaskCache(benchmark::State& state)
{
    COMPILE& c = compile();
    for (auto _ : state) {
        std::unique_ptr<CDB_ATOM_LUTMASK_CACHE> cache(CDB_ATOM_LUTMASK_CACHE::init_lutmask_cache(c.design->netlist()));
        benchmark::DoNotOptimize(cache.get());
    }
}
BENCHMARK(BM_LutMaskCache)->Unit(benchmark::kMillisecond);

void BM_EstimatorInitialisation(benchmark::State& state)
{
    COMPILE& c = compile();
    for (auto _ : state) {
        ESTIMATOR_MODE mode(c);
        benchmark::DoNotOptimize(c.timing->get_nevra());
    }
}
BENCHMARK(BM_EstimatorInitialisation)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
