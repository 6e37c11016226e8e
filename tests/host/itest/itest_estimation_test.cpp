// iTEst's estimation against a fresh full analysis on generated circuits:
// registers on one to three clocks of different periods between input and
// output pins, LUTs of up to six inputs up to twelve deep. Each case runs
// iTEst's full analysis, raises or lowers the interconnect delays around one
// LUT node, hands the estimation that node's region (its fan-in and fan-out
// cones up to keepers, per domain) and compares the result with the
// analyser's. No slack and no ratio may differ; the counts are printed.
//
// The sanitizer build runs a tenth of the cases.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "host_env.h"
#include "io/blif_reader.h"
#include "msg/msg.h"
#include "tdb/tdb_netlist.h"
#include "tdc/tdc_accessories.h"

#include "morv/core/morv_api.h"
#include "morv/core/morv_expert.h"
#include "morv/timing/morv_timing.h"
#include "morv/timing/morv_timing_ite.h"
#include "test_compile_setup.h"
#include "itest_regions.h"
#include "test_build.h"

namespace itest_estimation_test {

using namespace morv_host;

namespace {

constexpr int k_circuits = k_small_designs_only ? 20 : 200;
constexpr int k_nodes_per_circuit = 5;  // 1,000 cases in the optimised build

// Appended, not added: GCC 12 misreads operator+ on temporaries as an
// overlapping copy.
std::string named(const char* base, int index)
{
    std::string text(base);
    text.append(std::to_string(index));
    return text;
}

// A register-to-register circuit in BLIF.
struct GENERATED
{
    std::string text;
    int clocks = 0;
};

GENERATED generate(std::mt19937& rng)
{
    auto pick = [&rng](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    GENERATED g;
    g.clocks = pick(1, 3);
    const int inputs = pick(1, 4), registers = pick(4, 14), luts = pick(8, 40), outputs = pick(1, 3);
    std::string head = ".model gen\n.inputs";
    for (int c = 0; c < g.clocks; ++c) head += named(" clk", c);
    for (int i = 0; i < inputs; ++i) head += named(" in", i);
    head += "\n.outputs";
    for (int o = 0; o < outputs; ++o) head += named(" out", o);
    head += "\n";
    // Signals with their logic depth; registers and inputs start paths.
    std::vector<std::pair<std::string, int>> signals;
    for (int i = 0; i < inputs; ++i) signals.emplace_back(named("in", i), 0);
    for (int r = 0; r < registers; ++r) signals.emplace_back(named("q", r), 0);
    std::string body;
    std::vector<std::string> lut_names;
    for (int l = 0; l < luts; ++l) {
        const int k = pick(1, 6);
        std::set<std::string> ins;
        int depth = 0;
        for (int tries = 0; tries < 20 && static_cast<int>(ins.size()) < k; ++tries) {
            const auto& s = signals[static_cast<size_t>(pick(0, static_cast<int>(signals.size()) - 1))];
            if (s.second >= 12) continue;
            ins.insert(s.first);
            depth = std::max(depth, s.second + 1);
        }
        if (ins.empty()) continue;
        const std::string name = named("y", l);
        body.append(".names");
        for (const std::string& in : ins) body.append(" ").append(in);
        body.append(" ").append(name).append("\n").append(std::string(ins.size(), '1')).append(" 1\n");
        signals.emplace_back(name, depth);
        lut_names.push_back(name);
    }
    auto any_lut = [&]() { return lut_names[static_cast<size_t>(pick(0, static_cast<int>(lut_names.size()) - 1))]; };
    for (int r = 0; r < registers; ++r) {
        body.append(".latch ").append(any_lut()).append(named(" q", r));
        body.append(named(" re clk", pick(0, g.clocks - 1))).append(" 0\n");
    }
    for (int o = 0; o < outputs; ++o)
        body.append(".names ").append(any_lut()).append(named(" out", o)).append("\n1 1\n");
    g.text = head;
    g.text.append(body).append(".end\n");
    return g;
}

struct COMPILE
{
    COMPILE(const GENERATED& g, std::mt19937& rng)
    {
        msg_set_quiet(true);
        BLIF_READER reader(CDB_FAMILY_BRK);
        design = std::make_unique<HOST_DESIGN>(CDB_FAMILY_BRK, reader.read_text(g.text, "generated.blif"));
        env = std::make_unique<HOST_ENV>(*design);
        TDC_ACCESSORIES* accessories = tdc_get_accessories();
        accessories->clear_clock_periods();
        const int path = env->measure_unoptimised_critical_path_ps();
        const int critical = path > 0 ? path : 1000;
        const int base = std::max(200, critical);
        accessories->set_default_clock_period_ps(base);
        for (int c = 0; c < g.clocks; ++c) {
            // Periods in steps of 50 ps between 80 % and 150 % of the
            // critical path, so that the clocks differ.
            const int period = std::max(100, (base * std::uniform_int_distribution<int>(80, 150)(rng) / 100) / 50 * 50);
            accessories->set_clock_period_ps(named("clk", c), period);
        }
        MORV_EXPERT* expert = dynamic_cast<MORV_EXPERT*>(env->get_fsyn_expert());
        timing = expert->get_fsyn_api()->get_fsyn_timing();
        DRIVER_FLAGS::run_only(expert, FIT_EARLY_FSYN_FLOW);
        timing->sync_timing_netlist(false, true);
        timing->perform_pre_placement_timing_analysis(false);
        timing->set_use_itest(true);
    }

    std::unique_ptr<HOST_DESIGN> design;
    std::unique_ptr<HOST_ENV> env;
    MORV_TIMING* timing = nullptr;
};

// Raises or lowers the interconnect delays of the node's edges.
void change_delays(TDB_NETLIST* netlist, const TDB_NODE* n, std::mt19937& rng)
{
    std::uniform_int_distribution<int> change(-300, 300);
    for (TDB_EDGE_RANGE range : {n->fanin(), n->fanout()})
        for (TDB_EDGE* e : range) netlist->set_ic_delay(e, std::max(0, e->get_max_ic_delay() + change(rng)));
}

struct TOTALS
{
    int cases = 0, single_clock_cases = 0;
    int slack_diffs[2] = {0, 0};  // single clock, several
    int sr_diffs[2] = {0, 0};
    int cases_with_diffs[2] = {0, 0};
};

// One case: estimation of n's region against a fresh full analysis.
MORV_TIMING_ITE_COMPARISON estimate_around(MORV_TIMING_ITE* ite, TDB_NETLIST* netlist, const TDB_NODE* n,
                                           std::mt19937& rng)
{
    ite->perform_full_timing_analysis();
    const std::vector<int> domains = domains_of(ite, n);
    change_delays(netlist, n, rng);
    const std::vector<const TDB_EDGE*> edges = cone_edges(n);
    for (int d : domains) {
        MORV_TIMING_ITE_DOMAIN_INFO* domain = ite->get_domain(d);
        for (const TDB_EDGE* e : edges)
            if (has_record(domain, e)) ite->add_domain_analysis_edge(domain, e, e->get_src_node());
        domain->m_analysis_start_nodes.insert(n->get_id());
        if (!domain->m_ready_for_estimation) ite->compute_sr_lr_approximation_for_domain(domain);
        ite->fsyn_ite_do_slack_preparation_adjustments(domain);
    }
    ite->fsyn_ite_do_timing_estimation();
    ite->fsyn_ite_post_timing_estimation_cleanup();
    return ite->compare_with_full_timing_analysis();
}

}  // namespace

TEST(ItestEstimation, RegionsAroundOneChangedNodeMatchAFreshFullAnalysis)
{
    TOTALS totals;
    for (int circuit = 0; circuit < k_circuits; ++circuit) {
        std::mt19937 rng(static_cast<unsigned>(circuit) * 7919u + 17u);
        const GENERATED g = generate(rng);
        COMPILE c(g, rng);
        c.timing->update_timing();
        MORV_TIMING_ITE* ite = c.timing->get_itest();
        ASSERT_NE(ite, nullptr);
        TDB_NETLIST* netlist = tdc_get_accessories()->get_tdb_netlist();
        std::vector<const TDB_NODE*> candidates;
        for (const TDB_NODE* node : netlist->node_table())
            if (node != nullptr && !node->is_keeper() && !domains_of(ite, node).empty()) candidates.push_back(node);
        if (candidates.empty()) continue;
        const int single = g.clocks == 1 ? 0 : 1;
        for (int k = 0; k < k_nodes_per_circuit; ++k) {
            const TDB_NODE* n = candidates[std::uniform_int_distribution<size_t>(0, candidates.size() - 1)(rng)];
            const MORV_TIMING_ITE_COMPARISON cmp = estimate_around(ite, netlist, n, rng);
            ++totals.cases;
            totals.single_clock_cases += single == 0 ? 1 : 0;
            totals.slack_diffs[single] += cmp.m_slack_diffs;
            totals.sr_diffs[single] += cmp.m_sr_diffs;
            totals.cases_with_diffs[single] += cmp.m_slack_diffs + cmp.m_sr_diffs > 0 ? 1 : 0;
            EXPECT_EQ(cmp.m_slack_diffs, 0) << "circuit " << circuit << " node " << n->get_id();
        }
    }
    std::printf("cases %d (single clock %d): single clock: %d slack / %d ratio differences; several clocks: %d slack "
                "/ %d ratio differences in %d cases\n",
                totals.cases, totals.single_clock_cases, totals.slack_diffs[0], totals.sr_diffs[0],
                totals.slack_diffs[1], totals.sr_diffs[1], totals.cases_with_diffs[1]);
    EXPECT_GE(totals.cases, k_circuits * k_nodes_per_circuit * 9 / 10);
    EXPECT_EQ(totals.sr_diffs[0], 0);
    EXPECT_EQ(totals.sr_diffs[1], 0);
}

}  // namespace itest_estimation_test
