// iTEst's full analysis against the analyser's own on stereovision0 (BRK,
// placed, at 90 % of its critical path), in one process on one netlist: the
// analyser's full analysis alone, then iTEst's, which runs it with the
// per-sub-domain data kept and builds its domain records from that.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <memory>

#include "host_env.h"
#include "io/blif_reader.h"
#include "msg/msg.h"
#include "tdc/tdc_accessories.h"

#include "morv/core/morv_api.h"
#include "morv/core/morv_expert.h"
#include "morv/timing/morv_timing.h"
#include "morv/timing/morv_timing_ite.h"

using namespace morv_host;

namespace {

class DRIVER_FLAGS : public MORV_EXPERT
{
public:
    static void run_only(MORV_EXPERT* expert, int flow)
    {
        bool(&running)[NUM_FSYN_FLOWS] = expert->*(&DRIVER_FLAGS::m_fsyn_flow_is_running);
        for (int f = 0; f < NUM_FSYN_FLOWS; ++f) running[f] = f == flow;
    }
};

struct COMPILE
{
    COMPILE()
    {
        msg_set_quiet(true);
        BLIF_READER reader(CDB_FAMILY_BRK);
        design = std::make_unique<HOST_DESIGN>(
            CDB_FAMILY_BRK, reader.read_file(std::string(MORV_BENCH_DIR) + "/misc_k6/stereovision0.lut6.blif"));
        env = std::make_unique<HOST_ENV>(*design);
        const int probe = 100000000;
        env->set_clock_period_ps(probe);
        env->analyse_timing();
        const int slack = env->get_worst_slack();
        const int period = slack != TDB_NO_PATH && slack < probe ? std::max(100, (probe - slack) * 9 / 10) : 10000;
        env->set_clock_period_ps(period);
        tdc_get_accessories()->set_default_clock_period_ps(period);
        env->place_unplaced_atoms();
        env->set_placed(true);
        MORV_EXPERT* expert = dynamic_cast<MORV_EXPERT*>(env->get_fsyn_expert());
        timing = expert->get_fsyn_api()->get_fsyn_timing();
        DRIVER_FLAGS::run_only(expert, LATE_FSYN_FLOW);
        timing->sync_timing_netlist(false, true);
        timing->perform_timing_analysis();
        timing->set_use_itest(true);
    }

    std::unique_ptr<HOST_DESIGN> design;
    std::unique_ptr<HOST_ENV> env;
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

}  // namespace

BENCHMARK_MAIN();
