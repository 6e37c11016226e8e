// RESYN on real netlists: every candidate root of every bundled design
// collapses to exactly the function of the LUTs it absorbed, test-built
// cones with inverted, unconnected, constant and register-feedback inputs
// too, and whole iterations keep the netlist and repeat their trace.
//
// The large designs run in the optimised build only; the sanitizer build
// takes the small ones.

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "log_capture.h"
#include "abc_equiv.h"
#include "cfg/cfg.h"
#include "io/blif_writer.h"
#include "resyn_test_support.h"
#include "test_files.h"
#include "test_build.h"

namespace resyn_cones_test {

using namespace resyn_test;

namespace {

struct DESIGN
{
    const char* path;
    int family;  // ZEPLA: the 4-LUT subclass; BRK: the 6-LUT one
    bool small;
};

const DESIGN k_designs[] = {
    {"bench/mcnc_k4/alu4.blif", CDB_FAMILY_ZEPLA, false},
    {"bench/mcnc_k4/apex2.blif", CDB_FAMILY_ZEPLA, false},
    {"bench/mcnc_k4/apex4.blif", CDB_FAMILY_ZEPLA, false},
    {"bench/mcnc_k4/bigkey.blif", CDB_FAMILY_ZEPLA, false},
    {"bench/mcnc_k4/des.blif", CDB_FAMILY_ZEPLA, false},
    {"bench/mcnc_k4/diffeq.blif", CDB_FAMILY_ZEPLA, false},
    {"bench/mcnc_k4/dsip.blif", CDB_FAMILY_ZEPLA, false},
    {"bench/mcnc_k4/elliptic.blif", CDB_FAMILY_ZEPLA, false},
    {"bench/mcnc_k4/ex1010.blif", CDB_FAMILY_ZEPLA, false},
    {"bench/mcnc_k4/ex5p.blif", CDB_FAMILY_ZEPLA, false},
    {"bench/mcnc_k4/frisc.blif", CDB_FAMILY_ZEPLA, false},
    {"bench/mcnc_k4/misex3.blif", CDB_FAMILY_ZEPLA, false},
    {"bench/mcnc_k4/pdc.blif", CDB_FAMILY_ZEPLA, false},
    {"bench/mcnc_k4/s298.blif", CDB_FAMILY_ZEPLA, false},
    {"bench/mcnc_k4/s38417.blif", CDB_FAMILY_ZEPLA, false},
    {"bench/mcnc_k4/seq.blif", CDB_FAMILY_ZEPLA, false},
    {"bench/mcnc_k4/spla.blif", CDB_FAMILY_ZEPLA, false},
    {"bench/mcnc_k4/tseng.blif", CDB_FAMILY_ZEPLA, true},  // the sanitizer build's one 4-input benchmark
    {"bench/iscas89_k6/s27.blif", CDB_FAMILY_BRK, true},
    {"bench/iscas89_k6/s1423.blif", CDB_FAMILY_BRK, true},
    {"bench/iscas89_k6/s5378.blif", CDB_FAMILY_BRK, false},
    {"bench/iscas89_k6/s9234.1.blif", CDB_FAMILY_BRK, false},
    {"bench/misc_k6/mem_ctrl_size_2024.blif", CDB_FAMILY_BRK, false},
    {"bench/misc_k6/riscv_core_lut6.blif", CDB_FAMILY_BRK, false},
    {"bench/misc_k6/stereovision0.lut6.blif", CDB_FAMILY_BRK, false},
    {"designs/adder_tree.blif", CDB_FAMILY_ZEPLA, true},
    {"designs/adder_tree.blif", CDB_FAMILY_BRK, true},
    {"designs/counter.blif", CDB_FAMILY_ZEPLA, true},
    {"designs/counter.blif", CDB_FAMILY_BRK, true},
    {"designs/pipeline.blif", CDB_FAMILY_ZEPLA, true},
    {"designs/pipeline.blif", CDB_FAMILY_BRK, true},
};

// Every candidate root resynthesized: the threshold above every slack
// ratio and no guardband.
CONE_STATS check_every_root(RESYN_COMPILE& c, int* candidates)
{
    MORV_PARAMETER_MAP params;
    TEST_RESYN resyn(c.api, &params);
    CONE_STATS stats;
    resyn.on_cone = [&](TEST_RESYN& r) { check_cone(r, r.current_soln()->node, stats); };
    resyn.set_threshold(1.01);
    resyn.set_guardband(false, 0);
    resyn.build_oterm_records();
    *candidates = 0;
    for (CDB_ATOM_NODE* node : *c.design->netlist()) {
        if (!resyn.is_candidate_root(node)) continue;
        *candidates += 1;
        double sr = 0.0;
        double area = 0.0;
        resyn.evaluate_node(node, nullptr, true, sr, area);
    }
    std::printf("%s  %d roots, average support %.2f, average literals %.2f, cache hit %.2f\n", "", stats.roots,
                stats.roots ? static_cast<double>(stats.support) / stats.roots : 0.0,
                stats.roots ? static_cast<double>(stats.literals) / stats.roots : 0.0,
                resyn.get_cache_lookups() ? static_cast<double>(resyn.get_cache_hits()) / resyn.get_cache_lookups()
                                          : 0.0);
    return stats;
}

}  // namespace

TEST(ResynCones, EveryCandidateRootOfEveryBundledDesignIsTheFunctionOfTheLutsItAbsorbed)
{
    cfg_set_value("fsyn_resyn_use_guardband_slack", "off");
    for (const DESIGN& d : k_designs) {
        if (k_small_designs_only && !d.small) continue;
        RESYN_COMPILE c(read_blif(source(d.path), d.family), d.family);
        int candidates = 0;
        std::printf("%s family %d\n", d.path, d.family);
        const CONE_STATS stats = check_every_root(c, &candidates);
        EXPECT_EQ(stats.roots, candidates) << d.path;
        EXPECT_GT(stats.roots, 0) << d.path;
        EXPECT_EQ(stats.mismatches, 0) << d.path << ": " << stats.first_mismatch;
    }
    cfg_unset("fsyn_resyn_use_guardband_slack");
}

namespace {

// Three iterations of a pass on one netlist; the level-100 trace. The
// netlist is checked unchanged when check_netlist is set.
std::vector<std::string> run_pass(const char* path, int family, const std::string& tag, bool check_netlist = true)
{
    RESYN_COMPILE c(read_blif(source(path), family), family);
    bool sequential = false;
    for (CDB_ATOM_NODE* node : *c.design->netlist())
        sequential = sequential || node->get_output_term_by_type(DB_REG_OUT) != nullptr;
    const std::string before = "before_" + tag + ".blif";
    const std::string after = "after_" + tag + ".blif";
    blif_write_netlist_file(*c.design->netlist(), before, "top");
    const MORV_PARAMETER_MAP params = [] {
        MORV_PARAMETER_MAP p;
        MORV_ALGORITHM_BASE::parse_algorithm_params(p, "NI=3");
        return p;
    }();
    std::vector<std::string> trace;
    {
        MORV_LOG_CAPTURE log(100);
        TEST_RESYN r(c.api, &params);
        int ni = 3;
        int hci = -1;
        r.set_default_pass_parameters(0, ni, hci);
        const int bounds[3] = {0, r.get_area_bound_end() / 2, r.get_area_bound_end()};
        for (int iter = 0; iter < 3; ++iter) {
            r.set_iteration(iter);
            double expected = r.get_slack_ratio_quantile(r.get_quantile_fraction(iter));
            expected = std::max(std::min(expected, r.get_area_sr_max()), r.get_area_sr_min());
            EXPECT_EQ(r.do_iter(), 0) << path << " iteration " << iter;
            EXPECT_DOUBLE_EQ(r.get_sr_threshold(), expected) << path << " iteration " << iter;
            EXPECT_EQ(r.get_area_bound(), bounds[iter]) << path << " iteration " << iter;
        }
        trace = log.lines();
    }
    blif_write_netlist_file(*c.design->netlist(), after, "top");
    if (check_netlist && abc_is_available()) {
        const ABC_RESULT result = abc_check_equivalence(before, after, sequential);
        EXPECT_TRUE(result.is_equivalent()) << path << ": " << abc_verdict_name(result.m_verdict) << "\n"
                                            << result.m_output;
    }
    return trace;
}

}  // namespace

namespace {

struct RUN
{
    const char* path;
    int family;
};

const RUN k_trace_runs[] = {{"bench/iscas89_k6/s1423.blif", CDB_FAMILY_BRK},
                            {"bench/mcnc_k4/s298.blif", CDB_FAMILY_ZEPLA}};

}  // namespace

TEST(ResynCones, IterationsFollowTheirThresholdsKeepTheNetlistAndRepeatTheirTrace)
{
    for (const RUN& run : k_trace_runs) {
        const std::vector<std::string> first = run_pass(run.path, run.family, "1");
        const std::vector<std::string> second = run_pass(run.path, run.family, "2");
        EXPECT_GT(first.size(), 10u) << run.path;
        EXPECT_EQ(first, second) << run.path;
    }
}

// Run by itself with MORV_RESYN_TRACE_FILE set, the test writes the traces of
// its passes there; otherwise it runs this program twice that way and
// compares. Outside the sanitizer build (whose allocator lays memory out
// alike in every process) the two runs place their objects at other
// addresses, so a trace that depends on them shows.
TEST(ResynCones, TwoRunsOfTheProgramPrintIdenticalTraces)
{
    if (const char* out = std::getenv("MORV_RESYN_TRACE_FILE")) {
        std::string all;
        for (const RUN& run : k_trace_runs)
            for (const std::string& line : run_pass(run.path, run.family, "child", false)) all += line + "\n";
        write_file(out, all);
        return;
    }
    const std::string self = std::filesystem::read_symlink("/proc/self/exe").string();
    std::string traces[2];
    for (int i = 0; i < 2; ++i) {
        const std::string file = (std::filesystem::current_path() / ("trace_" + std::to_string(i) + ".txt")).string();
        const COMMAND_RUN child =
            run_command("MORV_RESYN_TRACE_FILE='" + file + "' '" + self +
                        "' --gtest_filter=ResynCones.TwoRunsOfTheProgramPrintIdenticalTraces 2>&1");
        ASSERT_EQ(child.status, 0) << child.out;
        traces[i] = slurp(file);
    }
    EXPECT_NE(traces[0].find("resynthesis at "), std::string::npos);
    EXPECT_TRUE(traces[0] == traces[1]) << "the two runs' traces differ; see trace_0.txt and trace_1.txt";
}

}  // namespace resyn_cones_test
