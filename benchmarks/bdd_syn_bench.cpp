// BDD resynthesis per candidate: the whole per-node flow (cone, expansion,
// sifting, cut choice, decomposition, identity order back) over every
// candidate of the first iteration of alu4 and frisc (ZEPLA, timed before
// placement), beside the cone alone (the node's function and its
// expansion) on the same candidates, so that the ratio says what the
// decomposition adds.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "cdb/cdb_atom_netlist.h"
#include "host_env.h"
#include "io/blif_reader.h"
#include "msg/msg.h"
#include "tdc/tdc_accessories.h"

#include "morv/core/morv_api.h"
#include "morv/core/morv_expert.h"
#include "morv/resyn/morv_bdd_syn.h"
#include "morv/timing/morv_timing.h"
#include "test_compile_setup.h"

using namespace morv_host;

namespace {

// The 4-LUT branch with the shared defaults; the rebuild does not exist yet.
class BENCH_BDD_SYN : public MORV_BDD_SYN_4LUT
{
public:
    explicit BENCH_BDD_SYN(MORV_API* api) : MORV_BDD_SYN_4LUT(api, nullptr)
    {
        const int delay = m_fsyn_timing->get_internal_delay(499, DB_DATA_D, DB_COMB_OUT);
        init_family("zepla", 4, static_cast<int>(std::trunc(2.5 * std::max(delay, 0))), 0);
        m_slack_ratio_curr = s_DEFAULT_SLACK_RATIO_BGN;
        m_area_accept_curr = s_DEFAULT_AREA_ACCEPT_BGN;
        score_nodes();
        candidates.assign(m_syn_nodes.begin(), m_syn_nodes.end());
    }
    CDB_ATOM_NODE* create_lut_node(CDB_ATOM_NODE* /*base*/) override { return nullptr; }
    bool accept_and_commit(CDB_ATOM_NODE*, int, int, int) override { return false; }

    // The node's function and its expansion only.
    void cone_only(const MORV_BDD_SYN_SCORE& entry)
    {
        MORV_BDD_SYN_ITERM_SRC root;
        make_root_record(entry.node, &root);
        BDD_JBDD f = build_node_bdd(root, entry.node, 0);
        m_slack_bound = get_slack_bound(f) + 1;
        int e = 0, d = 0;
        f = expand_cone(f, entry.node, &e, &d);
        benchmark::DoNotOptimize(f.size());
        clear_vars();
    }

    std::vector<MORV_BDD_SYN_SCORE> candidates;
};

struct COMPILE
{
    explicit COMPILE(const std::string& rel)
    {
        msg_set_quiet(true);
        BLIF_READER reader(CDB_FAMILY_ZEPLA);
        design =
            std::make_unique<HOST_DESIGN>(CDB_FAMILY_ZEPLA, reader.read_file(std::string(MORV_BENCH_DIR) + "/" + rel));
        env = std::make_unique<HOST_ENV>(*design);
        set_clock_below_critical_path(*env);
        auto* expert = dynamic_cast<MORV_EXPERT*>(env->get_fsyn_expert());
        api = expert->get_fsyn_api();
        DRIVER_FLAGS::run_only(expert, FIT_EARLY_FSYN_FLOW);
        api->get_fsyn_timing()->sync_timing_netlist(false, true);
        api->get_fsyn_timing()->perform_pre_placement_timing_analysis(false);
        syn = std::make_unique<BENCH_BDD_SYN>(api);
    }
    ~COMPILE()
    {
        syn.reset();
        env.reset();
    }
    std::unique_ptr<HOST_DESIGN> design;
    std::unique_ptr<HOST_ENV> env;
    MORV_API* api = nullptr;
    std::unique_ptr<BENCH_BDD_SYN> syn;
};

void run(benchmark::State& state, const char* rel, bool whole_flow)
{
    COMPILE c(rel);
    BENCH_BDD_SYN& syn = *c.syn;
    for (auto _ : state)
        for (const MORV_BDD_SYN_SCORE& entry : syn.candidates) {
            if (whole_flow) syn.resynthesize_node(entry);
            else syn.cone_only(entry);
        }
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(syn.candidates.size()));
    state.counters["candidates"] = static_cast<double>(syn.candidates.size());
    state.counters["per_candidate_us"] =
        benchmark::Counter(static_cast<double>(syn.candidates.size()) * 1e-6,
                           benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

void BM_PerNodeFlow_alu4(benchmark::State& state)
{
    run(state, "mcnc_k4/alu4.blif", true);
}
void BM_ConeOnly_alu4(benchmark::State& state)
{
    run(state, "mcnc_k4/alu4.blif", false);
}
void BM_PerNodeFlow_frisc(benchmark::State& state)
{
    run(state, "mcnc_k4/frisc.blif", true);
}
void BM_ConeOnly_frisc(benchmark::State& state)
{
    run(state, "mcnc_k4/frisc.blif", false);
}

}  // namespace

BENCHMARK(BM_PerNodeFlow_alu4)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ConeOnly_alu4)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PerNodeFlow_frisc)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ConeOnly_frisc)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
