// morv-fit's timing through a whole compile on every bundled sequential
// design and every family: the early flows time with the early model or the
// estimator, the delay file one compile writes is read back by the next one
// in full, and the written netlist stays equivalent to the design.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "abc_equiv.h"
#include "test_files.h"

namespace timing_flow_test {

namespace {

struct RUN
{
    int status = -1;
    std::string out, err;
};

RUN run(const std::string& args)
{
    const std::string err_file = std::filesystem::absolute("timing_flow.err").string();
    const COMMAND_RUN c = run_command(std::string(MORV_FIT_BINARY) + " " + args + " 2>'" + err_file + "'");
    RUN r;
    r.status = c.status;
    r.out = c.out;
    r.err = slurp(err_file);
    std::remove(err_file.c_str());
    return r;
}

int count_lines(const std::string& text)
{
    int n = 0;
    for (char c : text) n += c == '\n';
    return n;
}

const char* const DESIGNS[] = {"adder_tree", "counter", "pipeline"};

class MorvFitTiming : public ::testing::TestWithParam<const char*>
{};

}  // namespace

TEST_P(MorvFitTiming, EarlyModelAndDelayFileRoundTripOnEveryDesign)
{
    const std::string family = GetParam();
    for (const char* name : DESIGNS) {
        SCOPED_TRACE(family + " " + name);
        const std::string design = std::string(MORV_SOURCE_DIR) + "/designs/" + name + ".blif";
        const std::string folder = "timing_" + family + "_" + name;
        std::filesystem::remove_all(folder);
        std::filesystem::create_directory(folder);
        const std::string output = folder + "/out.blif";
        // Whether the estimator or the early model times the early flow
        // (the family's default), the delays are read.
        const std::string args = "-q --family " + family +
                                 " --test-string 'TEST()|TEST()'"
                                 " --set fsyn_read_backannotated_delays=on --set fsyn_debug_msg=on --aux-dir " +
                                 folder + " -o " + output + " " + design;
        const RUN first = run(args);
        ASSERT_EQ(first.status, 0) << first.err;
        EXPECT_EQ(first.err.find("WMORV_FSYN_NOT_AVAILABLE_YET"), std::string::npos) << first.err;
        const std::string delays = slurp(folder + "/fsyn_delays.txt");
        const int records = count_lines(delays);
        ASSERT_GT(records, 0);
        EXPECT_EQ(slurp(folder + "/fsyn_debug_dump.txt").find("Reading backannotated delays"), std::string::npos)
            << "no file before the first compile";

        // The next compile of the same netlist reads every record back.
        std::filesystem::remove(folder + "/fsyn_debug_dump.txt");
        const RUN second = run(args);
        ASSERT_EQ(second.status, 0) << second.err;
        EXPECT_EQ(second.err.find("WMORV_FSYN_MALFORMED_DELAY_FILE"), std::string::npos) << second.err;
        const std::string dump = slurp(folder + "/fsyn_debug_dump.txt");
        EXPECT_NE(dump.find("Read <" + std::to_string(records) + "> delays"), std::string::npos);
        EXPECT_NE(dump.find("Matched <" + std::to_string(records) + "> delays ( 100.00 % )"), std::string::npos);

        if (!abc_is_available()) continue;
        const ABC_RESULT r = abc_check_equivalence(design, output, true);
        EXPECT_TRUE(r.is_equivalent()) << abc_verdict_name(r.m_verdict) << "\n" << r.m_output;
        std::filesystem::remove_all(folder);
    }
}

// The test algorithm makes no timing call between the host's real ones; a
// restore of a saved netlist does, and in the LATE flow of a family with
// the experimental timing path that call is the virtual analysis.
TEST_P(MorvFitTiming, TheLateFlowTimesARestoredNetlistWithTheVirtualAnalysis)
{
    const std::string family = GetParam();
    for (const char* name : DESIGNS) {
        SCOPED_TRACE(family + " " + name);
        const std::string design = std::string(MORV_SOURCE_DIR) + "/designs/" + name + ".blif";
        const std::string folder = "virtual_" + family + "_" + name;
        std::filesystem::remove_all(folder);
        std::filesystem::create_directory(folder);
        const std::string output = folder + "/out.blif";
        const RUN r = run("-q --family " + family +
                          " --test-string 'TEST()|TEST();SAVE_RESTORE();SAVE_RESTORE()' --set fsyn_debug_msg=on"
                          " --aux-dir " +
                          folder + " -o " + output + " " + design);
        ASSERT_EQ(r.status, 0) << r.err;
        const bool late = r.out.find("LATE (off)") == std::string::npos;
        const std::string dump = slurp(folder + "/fsyn_debug_dump.txt");
        EXPECT_EQ(dump.find("Running the experimental ICP timing analysis") != std::string::npos, late) << r.out;
        if (abc_is_available()) {
            const ABC_RESULT equivalence = abc_check_equivalence(design, output, true);
            EXPECT_TRUE(equivalence.is_equivalent()) << abc_verdict_name(equivalence.m_verdict) << "\n"
                                                     << equivalence.m_output;
        }
        std::filesystem::remove_all(folder);
    }
}

INSTANTIATE_TEST_SUITE_P(Families, MorvFitTiming,
                         ::testing::Values("BRK", "ZEPLA", "TEV", "MRL", "KESTLIN", "RZK", "OBRAN", "UVO"));

}  // namespace timing_flow_test
