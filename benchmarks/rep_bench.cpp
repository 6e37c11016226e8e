// One timing-driven duplication iteration on stereovision0 (BRK, placed, at
// 90 % of its critical path) beside one full analysis of the stand-in's
// timing analyser on the same netlist, in one process: the iteration's cost
// in analyses. The iteration edits the netlist, so it runs once.

#include <benchmark/benchmark.h>

#include <memory>

#include "host_env.h"
#include "io/blif_reader.h"
#include "msg/msg.h"
#include "tdb/tdb_netlist.h"
#include "tdc/tdc_accessories.h"

#include "morv/core/morv_api.h"
#include "morv/core/morv_expert.h"
#include "morv/dup/morv_rep_family.h"
#include "morv/netlist/morv_chip_map.h"
#include "morv/timing/morv_timing.h"
#include "test_compile_setup.h"

using namespace morv_host;

namespace {

struct COMPILE : PLACED_LATE_COMPILE
{
    COMPILE() : PLACED_LATE_COMPILE(std::string(MORV_BENCH_DIR) + "/misc_k6/stereovision0.lut6.blif")
    {
        api->reset_fsyn_chip_map(false);
        for (CDB_ATOM_NODE* n : *design->netlist())
            if (n->get_lab_x() >= 0)
                api->get_fsyn_chip_map()->set_node_location(static_cast<int>(n->get_id()),
                                                            MORV_LOC{n->get_lab_x(), n->get_lab_y(), -1, -1});
        MORV_TIMING* timing = api->get_fsyn_timing();
        timing->sync_timing_netlist(false, true);
        timing->perform_timing_analysis();
    }
};

COMPILE& compile()
{
    static COMPILE c;
    return c;
}

void BM_FullAnalysis(benchmark::State& state)
{
    compile();
    TDC_ACCESSORIES* acc = tdc_get_accessories();
    for (auto _ : state) benchmark::DoNotOptimize(acc->run_tan(*acc->get_tan_parameters(), true));
    state.counters["edges"] = acc->get_tdb_netlist()->get_num_edges();
}
BENCHMARK(BM_FullAnalysis)->Unit(benchmark::kMillisecond);

void BM_RepIteration(benchmark::State& state)
{
    COMPILE& c = compile();
    MORV_PARAMETER_MAP params;
    MORV_REP_BRK rep(c.api, &params, false);
    int iterations = -1, hill_climb = -1;
    rep.set_default_pass_parameters(0, iterations, hill_climb);
    int operations = 0;
    for (auto _ : state) operations = rep.do_iter();
    state.counters["duplications"] = operations;
    state.counters["atoms"] = static_cast<double>(c.design->netlist()->get_node_count());
}
BENCHMARK(BM_RepIteration)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace

BENCHMARK_MAIN();
