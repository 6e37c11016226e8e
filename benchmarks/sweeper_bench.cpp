// The netlist sweeper on stereovision0 (about 11k LUTs and 12k registers)
// and on frisc (3.5k 4-input LUTs, most of which merge into their sinks),
// mapped to BRK atoms: one full sweep of a freshly read netlist, beside
// Berkeley ABC's `sweep` on the same file in the same run. ABC runs as a
// program of its own, so its rows are wall-clock time of the whole program:
// reading the file and sweeping, and reading the file alone; the difference
// of the two is ABC's sweep. The counters give both netlists' sizes after
// the sweep. The sweep runs with its node collapser and, for the
// collapser's share of the time, without it.

#include <benchmark/benchmark.h>

#include <cstdio>
#include <memory>
#include <string>

#include "cdb/cdb_atom_netlist.h"
#include "cfg/cfg.h"
#include "host_env.h"
#include "io/blif_reader.h"
#include "msg/msg.h"

#include "morv/core/morv_api.h"
#include "morv/core/morv_expert.h"
#include "morv/netlist/morv_netlist_sweeper.h"

namespace {

// state.range(0) of every benchmark: 0 stereovision0, 1 frisc.
std::string design_file(int64_t design)
{
    return std::string(MORV_BENCH_DIR) + (design == 0 ? "/misc_k6/stereovision0.lut6.blif" : "/mcnc_k4/frisc.blif");
}

// A compile of the design with its facade, read afresh.
struct COMPILE
{
    std::unique_ptr<morv_host::HOST_DESIGN> design;
    std::unique_ptr<morv_host::HOST_ENV> env;
    MORV_API* api = nullptr;

    explicit COMPILE(int64_t which)
    {
        msg_set_quiet(true);
        BLIF_READER reader(CDB_FAMILY_BRK);
        design = std::make_unique<morv_host::HOST_DESIGN>(CDB_FAMILY_BRK, reader.read_file(design_file(which)));
        env = std::make_unique<morv_host::HOST_ENV>(*design);
        api = dynamic_cast<MORV_EXPERT*>(env->get_fsyn_expert())->get_fsyn_api();
    }
    ~COMPILE() { env.reset(); }
    size_t luts() const
    {
        size_t n = 0;
        for (CDB_ATOM_NODE* node : *design->netlist()) n += node->is_lcell_comb() ? 1 : 0;
        return n;
    }
};

// state.range(1): 1 with the node collapser, 0 without.
void BM_MorvSweep(benchmark::State& state)
{
    cfg_set_value("fsyn_disable_node_collapser", state.range(1) != 0 ? "off" : "on");
    size_t operations = 0, luts = 0;
    for (auto _ : state) {
        state.PauseTiming();
        auto compile = std::make_unique<COMPILE>(state.range(0));
        state.ResumeTiming();
        operations = static_cast<size_t>(morv_make_netlist_sweeper(compile->api)->sweep());
        state.PauseTiming();
        luts = compile->luts();
        compile.reset();
        state.ResumeTiming();
    }
    state.counters["operations"] = static_cast<double>(operations);
    state.counters["luts_after"] = static_cast<double>(luts);
    cfg_set_value("fsyn_disable_node_collapser", "off");
}
BENCHMARK(BM_MorvSweep)
    ->ArgNames({"design", "collapse"})
    ->ArgsProduct({{0, 1}, {1, 0}})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MinTime(2.0);

// Runs ABC on the design with the given commands after reading it; the
// number of nodes ABC reports at the end.
double run_abc(int64_t design, const std::string& commands)
{
    const std::string line = "berkeley-abc -c \"read " + design_file(design) + "; " + commands +
                             "print_stats\" 2>/dev/null | grep -o 'nd = *[0-9]*'";
    FILE* pipe = popen(line.c_str(), "r");
    if (pipe == nullptr) return -1;
    char text[256] = {};
    const bool read = std::fgets(text, sizeof text, pipe) != nullptr;
    pclose(pipe);
    int nodes = -1;
    if (read) std::sscanf(text, "nd = %d", &nodes);
    return nodes;
}

void BM_AbcReadAndSweep(benchmark::State& state)
{
    double nodes = -1;
    for (auto _ : state) nodes = run_abc(state.range(0), "sweep; ");
    if (nodes < 0) state.SkipWithError("berkeley-abc did not run");
    state.counters["nodes_after"] = nodes;
}
BENCHMARK(BM_AbcReadAndSweep)
    ->ArgName("design")
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MinTime(2.0);

void BM_AbcReadOnly(benchmark::State& state)
{
    double nodes = -1;
    for (auto _ : state) nodes = run_abc(state.range(0), "");
    if (nodes < 0) state.SkipWithError("berkeley-abc did not run");
    state.counters["nodes"] = nodes;
}
BENCHMARK(BM_AbcReadOnly)
    ->ArgName("design")
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MinTime(2.0);

}  // namespace

BENCHMARK_MAIN();
