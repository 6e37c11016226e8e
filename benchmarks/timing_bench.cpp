// Timing analyser on the stereovision0 netlist (about 23k atoms) mapped to
// BRK atoms and placed on a simple raster: full build, full analysis, and an
// incremental refresh after a handful of edits; and the build of a small
// netlist after many reads in one process.

#include <benchmark/benchmark.h>

#include <memory>

#include "dev/dev_device.h"
#include "io/blif_reader.h"
#include "msg/msg.h"
#include "tdc/tdc_accessories.h"

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
