// Compiles that run the families' default lists: the user's optimisation
// settings (by id, in a settings file) at every effort on public benchmarks,
// the MRL flat compile, and a POST CLUSTERING test string refused while the
// experimental ICP is on. Every written netlist is checked with ABC.

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "abc_equiv.h"
#include "cfg/cfg.h"
#include "flow_fit.h"
#include "host_compile.h"
#include "msg/msg.h"
#include "test_build.h"

namespace flow_default_lists_test {

namespace {

// The texts of the not-yet-available warnings posted by the last run.
std::vector<std::string> not_available_warnings()
{
    std::vector<std::string> texts;
    for (const MSG_POSTED_MESSAGE& m : msg_posted_messages())
        if (m.id == "WMORV_FSYN_NOT_AVAILABLE_YET") texts.push_back(m.text);
    return texts;
}

void expect_equivalent(const std::string& design, const std::string& output, const std::string& label)
{
    if (!abc_is_available()) return;
    const ABC_RESULT r = abc_check_equivalence(design, output, true);
    EXPECT_TRUE(r.is_equivalent()) << label << ": " << abc_verdict_name(r.m_verdict) << "\n" << r.m_output;
}

const std::string k_bench = MORV_BENCH_DIR;
const std::string k_counter = std::string(MORV_SOURCE_DIR) + "/designs/counter.blif";

// A compile's switches (--set) stay set in the process: they must not reach
// the next test of the program.
class FlowCompile : public ::testing::Test
{
protected:
    void TearDown() override { cfg_clear_all(); }
};

class FlowDefaultLists : public ::testing::TestWithParam<const char*>
{
protected:
    void TearDown() override { cfg_clear_all(); }
};

}  // namespace

// Every user setting on: each family's lists at each effort. The 6-input
// benchmark is read only by the 6-input families. The sanitizer build keeps
// the smallest benchmark the family reads at the quickest effort; Release
// runs them all.
TEST_P(FlowDefaultLists, UserSettingsRunTheFamilyListsAtEveryEffort)
{
    const std::string family = GetParam();
    std::ofstream("user.settings") << "# every physical-synthesis setting\n659=on\n660=on\n662=on\n663=on\n664=on\n"
                                      "665=on\n";
    std::vector<std::string> designs = {k_bench + "/mcnc_k4/tseng.blif"};
    const bool six_input = family != "ZEPLA" && family != "TEV" && family != "UVO";
    if (six_input) designs.push_back(k_bench + "/iscas89_k6/s5378.blif");
    std::vector<const char*> efforts = {"fast", "normal", "extra"};
    if (k_small_designs_only) {
        designs = {six_input ? k_bench + "/iscas89_k6/s1423.blif" : designs.front()};  // the smallest it reads
        efforts = {"fast"};
    }
    for (const std::string& design : designs) {
        for (const char* effort : efforts) {
            // The larger design takes one effort per family, the families between them taking
            // every effort; tseng runs every effort on every family.
            if (design != designs.front() && effort != efforts[family.size() % efforts.size()]) continue;
            const std::string label = family + " " + effort + " " + design;
            const std::string output = family + "_" + effort + ".out.blif";
            const FIT r = run_fit(
                {"-q", "--family", family, "--effort", effort, "--settings", "user.settings", "-o", output, design});
            ASSERT_EQ(r.status, 0) << label << "\n" << r.err;
            // Each algorithm not built yet is named once, however often its lists name it
            // (a family whose lists name only built ones has none); asynchronous pipelining,
            // which every list starts with, is built.
            const std::vector<std::string> warnings = not_available_warnings();
            for (const std::string& w : warnings) EXPECT_EQ(w.find("PIPE_ASYNC"), std::string::npos) << label;
            EXPECT_EQ(std::set<std::string>(warnings.begin(), warnings.end()).size(), warnings.size()) << label;
            expect_equivalent(design, output, label);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Families, FlowDefaultLists,
                         ::testing::Values("BRK", "ZEPLA", "TEV", "MRL", "KESTLIN", "RZK", "OBRAN", "UVO"));

TEST_F(FlowCompile, MrlFlatCompileRemapsLutInputsOnlyAndSaysSo)
{
    msg_clear_vdebug_lines();
    const FIT r = run_fit({"--family", "MRL", "-v", "-o", "counter_mrl.out.blif", k_counter});
    ASSERT_EQ(r.status, 0) << r.err;
    // The debug lines -v prints, in order.
    std::vector<std::string> said;
    bool lir_ran = false;
    for (const MSG_VDEBUG_LINE& line : msg_vdebug_lines()) {
        if (line.text == "Enabling FSYN - LIR for flat flow" || line.text == "Disabling log operations" ||
            line.text == "Disabling the netlist sweeper")
            said.push_back(line.text);
        lir_ran = lir_ran || line.text == "Starting FSYN LIR";
    }
    EXPECT_EQ(said, (std::vector<std::string>{"Enabling FSYN - LIR for flat flow", "Disabling log operations",
                                              "Disabling the netlist sweeper"}));
    // LIR is the one algorithm of the flow and runs; the remaining warnings
    // name services of the flow itself (timing), never an algorithm.
    EXPECT_TRUE(lir_ran);
    for (const std::string& text : not_available_warnings())
        EXPECT_FALSE(text.starts_with("Physical synthesis algorithm")) << text;
    expect_equivalent(k_counter, "counter_mrl.out.blif", "MRL flat");
}

TEST_F(FlowCompile, PostClusteringTestStringWithXicpIsRefusedNamingTheSwitchThatAvoidsIt)
{
    // A refused compile writes nothing: no earlier run's output may stand in for it.
    std::remove("xicp.out.blif");
    const FIT refused = run_fit({"-q", "--test-string", "TEST()|TEST()|TEST()", "-o", "xicp.out.blif", k_counter});
    EXPECT_EQ(refused.status, 1) << refused.err;
    bool names_switch = false;
    for (const MSG_POSTED_MESSAGE& m : msg_posted_messages())
        names_switch = names_switch || (m.id == "EMORV_FSYN_POST_CLUSTERING_WITH_XICP" &&
                                        m.text.find("fsyn_disable_experimental_icp") != std::string::npos &&
                                        m.text.find("does not support") != std::string::npos);
    EXPECT_TRUE(names_switch);
    EXPECT_FALSE(std::ifstream("xicp.out.blif").good());
    const FIT accepted = run_fit({"-q", "--test-string", "TEST()|TEST()|TEST()", "--set",
                                  "fsyn_disable_experimental_icp=on", "-o", "xicp.out.blif", k_counter});
    EXPECT_EQ(accepted.status, 0) << accepted.err;
    expect_equivalent(k_counter, "xicp.out.blif", "POST CLUSTERING without xICP");
}

}  // namespace flow_default_lists_test
