// Reading and writing the largest benchmark design as BLIF (BRK atoms).
#include <benchmark/benchmark.h>

#include <memory>
#include <sstream>
#include <string>

#include "io/blif_reader.h"
#include "io/blif_writer.h"
#include "msg/msg.h"

namespace {

const std::string k_design = std::string(MORV_BENCH_DIR) + "/misc_k6/stereovision0.lut6.blif";

void BM_blif_parse_stereovision0(benchmark::State& state)
{
    for (auto _ : state) {
        BLIF_MODEL model = parse_blif_file(k_design, 6);
        benchmark::DoNotOptimize(model.m_covers.data());
    }
}
BENCHMARK(BM_blif_parse_stereovision0)->Unit(benchmark::kMillisecond);

void BM_blif_read_stereovision0(benchmark::State& state)
{
    msg_set_quiet(true);
    size_t atoms = 0;
    for (auto _ : state) {
        std::unique_ptr<CDB_ATOM_NETLIST> netlist = BLIF_READER(CDB_FAMILY_BRK).read_file(k_design);
        atoms = netlist->get_node_count();
        state.PauseTiming();
        netlist.reset();  // freeing is not part of reading
        state.ResumeTiming();
    }
    state.counters["atoms"] = static_cast<double>(atoms);
}
BENCHMARK(BM_blif_read_stereovision0)->Unit(benchmark::kMillisecond);

void BM_blif_write_stereovision0(benchmark::State& state)
{
    msg_set_quiet(true);
    std::unique_ptr<CDB_ATOM_NETLIST> netlist = BLIF_READER(CDB_FAMILY_BRK).read_file(k_design);
    size_t bytes = 0;
    for (auto _ : state) {
        std::ostringstream out;
        blif_write_netlist(*netlist, out);
        bytes = out.str().size();
    }
    state.counters["bytes"] = static_cast<double>(bytes);
}
BENCHMARK(BM_blif_write_stereovision0)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
