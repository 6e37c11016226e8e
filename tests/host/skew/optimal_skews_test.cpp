// Optimal skews on real netlists: the bound they give on every bundled
// sequential design before and after placement, with every clock edge back
// as it was afterwards; the middle register of an uneven pipeline; the two
// back ends computing the same skews where they time alike; and the
// protocol of the retiming engines.
//
// The large designs run in the optimised build only; the sanitizer build
// takes the small ones (the same checks, a fraction of the time).

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "cdb/cdb_atom_netlist.h"
#include "host_env.h"
#include "io/blif_reader.h"
#include "msg/msg.h"
#include "tdb/tdb_netlist.h"
#include "tdc/tdc_accessories.h"

#include "morv/core/morv_api.h"
#include "morv/core/morv_env.h"
#include "morv/core/morv_expert.h"
#include "morv/netlist/morv_net_util.h"
#include "morv/timing/morv_opt_skew.h"
#include "morv/timing/morv_timing.h"
#include "test_build.h"
#include "test_compile_setup.h"

namespace optimal_skews_test {

using namespace morv_host;

namespace {

struct DESIGN
{
    const char* path;  // under the source tree
    int lut_size;      // inputs of its widest LUT: 4 fits every family, 6 the 6-input ones
    bool small;
};

const DESIGN k_designs[] = {
    {"bench/mcnc_k4/bigkey.blif", 4, false},
    {"bench/mcnc_k4/diffeq.blif", 4, false},
    {"bench/mcnc_k4/dsip.blif", 4, false},
    {"bench/mcnc_k4/elliptic.blif", 4, false},
    {"bench/mcnc_k4/frisc.blif", 4, false},
    {"bench/mcnc_k4/s298.blif", 4, true},
    {"bench/mcnc_k4/s38417.blif", 4, false},
    {"bench/mcnc_k4/tseng.blif", 4, false},
    {"bench/iscas89_k6/s1423.blif", 6, true},
    {"bench/iscas89_k6/s5378.blif", 6, true},
    {"bench/iscas89_k6/s9234.1.blif", 6, true},
    {"bench/misc_k6/riscv_core_lut6.blif", 6, false},
    {"bench/misc_k6/stereovision0.lut6.blif", 6, false},
    {"designs/adder_tree.blif", 4, true},
    {"designs/counter.blif", 4, true},
    {"designs/pipeline.blif", 4, true},
};

// The designs of this build that fit the family's LUTs.
std::vector<std::string> designs_to_run(int family)
{
    std::vector<std::string> out;
    for (const DESIGN& d : k_designs)
        if ((d.small || !k_small_designs_only) && d.lut_size <= cdb_family_lut_size(family)) out.push_back(d.path);
    return out;
}

// Classic retiming's tuning of the skews (PALPHA, PEXIT, PBETA, SMINPASS).
void tune_for_retiming(MORV_OPT_SKEW& skews)
{
    skews.m_alpha = 0.249;
    skews.m_exit = 20.0;
    skews.m_beta = 0.3;
    skews.m_min_passes = 4;
}

// A compile of one design in one family, before placement (inside
// FIT_EARLY) or after it (inside LATE), timed by the component at a period
// of 90 % of its critical path before placement, as morv-fit derives it.
struct SKEW_COMPILE
{
    SKEW_COMPILE(const std::string& path, int family, bool after_placement) : placed(after_placement)
    {
        msg_set_quiet(true);
        BLIF_READER reader(family);
        design = std::make_unique<HOST_DESIGN>(family, reader.read_file(path));
        env = std::make_unique<HOST_ENV>(*design);
        derive_period();
        if (placed) {
            env->place_unplaced_atoms();
            env->set_placed(true);
        }
        expert = dynamic_cast<MORV_EXPERT*>(env->get_fsyn_expert());
        api = expert->get_fsyn_api();
        timing = api->get_fsyn_timing();
        DRIVER_FLAGS::run_only(expert, placed ? LATE_FSYN_FLOW : FIT_EARLY_FSYN_FLOW);
        timing->sync_timing_netlist(false, true);
        analyse();
    }
    ~SKEW_COMPILE() { env.reset(); }

    void derive_period() { period = set_clock_below_critical_path(*env); }
    // The analysis of the flow point: before placement the pre-placement
    // analysis (its delay model), after it the full analysis.
    void analyse()
    {
        if (placed) timing->perform_timing_analysis();
        else timing->perform_pre_placement_timing_analysis(false);
    }
    // Each clock edge of the analyser with its four interconnect delays.
    std::vector<std::vector<int>> clock_edge_delays() const
    {
        std::vector<std::vector<int>> out;
        for (const TDB_EDGE* e : tdc_get_accessories()->get_tdb_netlist()->edge_table())
            if (e != nullptr && e->is_clock()) {
                const TDB_DELAY* d = e->get_delay();
                out.push_back({e->get_id(), d->get_delay(0, TDB_MAX, 0), d->get_delay(0, TDB_MAX, 1),
                               d->get_delay(0, TDB_MIN, 0), d->get_delay(0, TDB_MIN, 1)});
            }
        return out;
    }
    std::vector<CDB_ATOM_NODE*> registers() const
    {
        std::vector<CDB_ATOM_NODE*> out;
        for (CDB_ATOM_NODE* node : *design->netlist())
            if (api->get_fsyn_net_util()->is_ff(node)) out.push_back(node);
        return out;
    }
    int worst_slack() const { return tdc_get_accessories()->get_analysis()->get_worst_slack(); }

    bool placed;
    int period = 0;
    std::unique_ptr<HOST_DESIGN> design;
    std::unique_ptr<HOST_ENV> env;
    MORV_EXPERT* expert = nullptr;
    MORV_API* api = nullptr;
    MORV_TIMING* timing = nullptr;
};

std::string source(const std::string& rel)
{
    return std::string(MORV_SOURCE_DIR) + "/" + rel;
}

}  // namespace

TEST(OptimalSkews, EveryBundledDesignGetsABoundAndItsClockEdgesBack)
{
    for (int family : {CDB_FAMILY_BRK, CDB_FAMILY_OBRAN})
        for (const std::string& path : designs_to_run(family))
            for (bool placed : {false, true}) {
                const std::string where =
                    path + " family " + std::to_string(family) + (placed ? " placed" : " unplaced");
                SKEW_COMPILE c(source(path), family, placed);
                const int fom0 = c.timing->get_figure_of_merit(false);
                const std::vector<std::vector<int>> edges = c.clock_edge_delays();
                MORV_OPT_SKEW skews(c.api);
                const int bound = skews.compute_optimal_skews(0.125, true, false);
                EXPECT_GE(bound, fom0) << where;
                EXPECT_EQ(c.clock_edge_delays(), edges) << where;
                c.timing->perform_timing_analysis();
                EXPECT_EQ(c.timing->get_figure_of_merit(false), fom0) << where;
            }
}

TEST(OptimalSkews, TheMiddleRegisterOfAThreeAndOneLevelPipelineTakesALaterClock)
{
    // Two-input LUTs, so that no level is a mere buffer.
    std::ofstream("pipeline_3_1.blif") << ".model pipeline_3_1\n.inputs clk in\n.outputs out\n"
                                          ".latch in q0 re clk 2\n"
                                          ".names q0 in a1\n11 1\n.names a1 in a2\n11 1\n.names a2 in a3\n11 1\n"
                                          ".latch a3 q1 re clk 2\n"
                                          ".names q1 in b1\n11 1\n"
                                          ".latch b1 out re clk 2\n.end\n";
    for (bool placed : {false, true}) {
        SKEW_COMPILE c("pipeline_3_1.blif", CDB_FAMILY_BRK, placed);
        const int worst0 = c.worst_slack();
        ASSERT_LT(worst0, 0);
        MORV_OPT_SKEW skews(c.api);
        tune_for_retiming(skews);
        skews.compute_optimal_skews(0.125, false, false);
        CDB_ATOM_NODE* middle = nullptr;
        for (CDB_ATOM_NODE* reg : c.registers())
            if (reg->get_instance_name() != nullptr && reg->get_instance_name()->get_short_hpath() == "q1")
                middle = reg;
        ASSERT_NE(middle, nullptr);
        EXPECT_GT(skews.get_skew(static_cast<int>(middle->get_id())), 0) << placed;
        // The skews stay applied, and time better.
        c.timing->perform_timing_analysis();
        EXPECT_GT(c.worst_slack(), worst0) << placed;
    }
    std::remove("pipeline_3_1.blif");
}

TEST(OptimalSkews, WhereBothBackEndsTimeAlikeTheyComputeTheSameSkews)
{
    for (int family : {CDB_FAMILY_ZEPLA, CDB_FAMILY_MRL})
        for (const std::string& path : designs_to_run(family)) {
            const std::string where = path + " family " + std::to_string(family);
            SKEW_COMPILE c(source(path), family, false);
            // The analyser times with the early model's delays, the table
            // delays the estimator takes.
            MORV_OPT_SKEW on_analyser(c.api);
            const int bound = on_analyser.compute_optimal_skews(0.125, true, false);

            DRIVER_FLAGS::set_estimator(c.expert, true);
            c.timing->select_timing_mode(MORV_ENV::where_does_early_fsyn_run(c.env->get_cmp()));
            ASSERT_EQ(c.timing->get_timing_mode(), MORV_TIMING_MODE_NEVRA) << where;
            c.timing->sync_timing_netlist(true, true);
            c.timing->run_estimator_timing_analysis();
            MORV_OPT_SKEW on_estimator(c.api);
            EXPECT_EQ(on_estimator.compute_optimal_skews(0.125, true, false), bound) << where;
            int moved = 0;
            for (CDB_ATOM_NODE* reg : c.registers()) {
                const int id = static_cast<int>(reg->get_id());
                ASSERT_EQ(on_estimator.get_skew(id), on_analyser.get_skew(id)) << where << " register " << id;
                moved += on_analyser.get_skew(id) != 0;
            }
            EXPECT_GT(moved, 0) << where;
            c.timing->switch_to_tdc_mode(false);
        }
}

TEST(OptimalSkews, TheRetimingEnginesProtocolReducesAndResetsMobilities)
{
    SKEW_COMPILE c(source("designs/pipeline.blif"), CDB_FAMILY_BRK, true);
    MORV_OPT_SKEW skews(c.api);
    tune_for_retiming(skews);
    skews.compute_optimal_skews(0.125, true, false);
    std::vector<std::pair<int, int>> first;  // (id, skew) of every register
    for (CDB_ATOM_NODE* reg : c.registers())
        first.emplace_back(static_cast<int>(reg->get_id()), skews.get_skew(static_cast<int>(reg->get_id())));

    // The heap: every register, the largest absolute skew on top.
    skews.build_candidate_heap(0.125);
    MORV_OPT_SKEW::CANDIDATE_HEAP& heap = skews.get_candidate_heap();
    ASSERT_EQ(heap.size(), first.size());
    const MORV_SKEW_CANDIDATE top = heap.top();
    ASSERT_NE(top.skew, 0);
    for (int previous = std::abs(top.skew); !heap.empty(); heap.pop()) {
        EXPECT_LE(std::abs(heap.top().skew), previous);
        previous = std::abs(heap.top().skew);
    }

    // A failed move in the top's direction: its later skews shrink.
    auto reduce = [&] {
        return top.skew > 0 ? skews.reduce_bwd_mobility(top.node, 0.2) : skews.reduce_fwd_mobility(top.node, 0.2);
    };
    EXPECT_DOUBLE_EQ(reduce(), 0.2);
    skews.compute_optimal_skews(0.125, true, false);
    const int reduced = skews.get_skew(static_cast<int>(top.node->get_id()));
    EXPECT_LT(std::abs(reduced), std::abs(top.skew));
    EXPECT_DOUBLE_EQ(reduce(), 0.04);
    skews.compute_optimal_skews(0.125, true, false);
    EXPECT_LT(std::abs(skews.get_skew(static_cast<int>(top.node->get_id()))), std::abs(reduced));

    // Reset: the first skews again.
    skews.reset_bwd_mobility(top.node);
    skews.reset_fwd_mobility(top.node);
    skews.compute_optimal_skews(0.125, true, false);
    for (const auto& [id, skew] : first) EXPECT_EQ(skews.get_skew(id), skew) << id;
}

TEST(OptimalSkews, WrittenSkewsStayUntilTheBackEndRewritesThem)
{
    for (bool placed : {false, true}) {
        SKEW_COMPILE c(source("bench/mcnc_k4/s298.blif"), CDB_FAMILY_BRK, placed);
        const int fom0 = c.timing->get_figure_of_merit(false);
        const std::vector<std::vector<int>> edges0 = c.clock_edge_delays();
        MORV_OPT_SKEW skews(c.api);
        tune_for_retiming(skews);
        skews.compute_optimal_skews(0.125, false, false);
        const int fom1 = c.timing->get_figure_of_merit(false);
        const std::vector<std::vector<int>> edges1 = c.clock_edge_delays();
        ASSERT_NE(edges1, edges0) << placed;
        // A synchronisation with nothing changed and a full analysis keep them.
        c.timing->sync_timing_netlist(true, true);
        c.timing->perform_timing_analysis();
        EXPECT_EQ(c.clock_edge_delays(), edges1) << placed;
        EXPECT_EQ(c.timing->get_figure_of_merit(false), fom1) << placed;
        // The next rewrite of every interconnect delay takes them: placement
        // timing, or before placement the early model.
        if (placed) {
            tdc_get_accessories()->refresh_interconnect_delays();
            c.timing->perform_timing_analysis();
        } else {
            c.timing->perform_pre_placement_timing_analysis(false);
        }
        EXPECT_EQ(c.clock_edge_delays(), edges0) << placed;
        EXPECT_EQ(c.timing->get_figure_of_merit(false), fom0) << placed;
    }

    // The estimator keeps its offsets through synchronisations and
    // estimations until they are taken off.
    SKEW_COMPILE c(source("bench/mcnc_k4/s298.blif"), CDB_FAMILY_ZEPLA, false);
    DRIVER_FLAGS::set_estimator(c.expert, true);
    c.timing->select_timing_mode(MORV_ENV::where_does_early_fsyn_run(c.env->get_cmp()));
    c.timing->sync_timing_netlist(true, true);
    c.timing->run_estimator_timing_analysis();
    const int fom0 = c.timing->get_figure_of_merit(false);
    MORV_OPT_SKEW skews(c.api);
    tune_for_retiming(skews);
    skews.compute_optimal_skews(0.125, false, false);
    const int fom1 = c.timing->get_figure_of_merit(false);
    ASSERT_NE(fom1, fom0);
    c.timing->sync_timing_netlist(false, true);
    c.timing->run_estimator_timing_analysis();
    EXPECT_EQ(c.timing->get_figure_of_merit(false), fom1);
    EXPECT_TRUE(skews.restore_skews());
    EXPECT_FALSE(skews.restore_skews());
    c.timing->update_timing();
    EXPECT_EQ(c.timing->get_figure_of_merit(false), fom0);
    c.timing->switch_to_tdc_mode(false);
}

// The figures of the closing note, by hand:
//   test_host_skew --gtest_also_run_disabled_tests --gtest_filter='*Figures*'
// per design, family and flow point: the period, the figure of merit before,
// the bound with the default tuning and with classic retiming's, and the
// timing object's retiming lower bound.
TEST(OptimalSkews, DISABLED_FiguresPerDesign)
{
    std::printf("%-38s %-5s %-8s %7s %8s %8s %8s %8s\n", "design", "fam", "point", "period", "fom", "bound", "rtm",
                "rtm_lb");
    for (int family : {CDB_FAMILY_BRK, CDB_FAMILY_OBRAN})
        for (const std::string& path : designs_to_run(family))
            for (bool placed : {false, true}) {
                SKEW_COMPILE c(source(path), family, placed);
                const int fom0 = c.timing->get_figure_of_merit(false);
                MORV_OPT_SKEW skews(c.api);
                const int bound = skews.compute_optimal_skews(0.125, true, false);
                MORV_OPT_SKEW retiming(c.api);
                tune_for_retiming(retiming);
                const int retiming_bound = retiming.compute_optimal_skews(0.125, true, false);
                const int lower_bound = c.timing->get_retiming_lower_bound_fom();
                std::printf("%-38s %-5s %-8s %7d %8d %8d %8d %8d\n", path.c_str(),
                            family == CDB_FAMILY_BRK ? "BRK" : "OBRAN", placed ? "placed" : "unplaced", c.period, fom0,
                            bound, retiming_bound, lower_bound);
            }
}

}  // namespace optimal_skews_test
