#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "abc_equiv.h"
#include "test_files.h"

namespace usage_test {

namespace {

std::string run(const std::string& args, int* status)
{
    const COMMAND_RUN r = run_command(std::string(MORV_FIT_BINARY) + " " + args + " 2>&1");
    *status = r.status;
    return r.out;
}

const std::string k_pipeline = std::string(MORV_SOURCE_DIR) + "/designs/pipeline.blif";

TEST(MorvFitUsage, HelpAndVersionSucceed)
{
    int status = -1;
    std::string out = run("--help", &status);
    EXPECT_EQ(status, 0);
    EXPECT_NE(out.find("usage: morv-fit"), std::string::npos);
    EXPECT_NE(out.find("--clock-period"), std::string::npos);
    out = run("--version", &status);
    EXPECT_EQ(status, 0);
    EXPECT_NE(out.find("morv-fit "), std::string::npos);
}

TEST(MorvFitUsage, CommandLineErrorsExitWithOne)
{
    struct CASE
    {
        std::string args, expect;
    };
    const CASE cases[] = {
        {"--frobnicate " + k_pipeline, "unknown option '--frobnicate'"},
        {"--seed banana " + k_pipeline, "--seed: 'banana' is not a number"},
        {"--clock-period 12ps " + k_pipeline, "--clock-period: '12ps'"},
        {"--effort heroic " + k_pipeline, "--effort"},
        {"", "no design file"},
        {"no_such_design.blif", "no_such_design.blif"},
    };
    for (const CASE& c : cases) {
        int status = -1;
        std::string out = run(c.args, &status);
        EXPECT_EQ(status, 1) << c.args << "\n" << out;
        EXPECT_NE(out.find(c.expect), std::string::npos) << c.args << "\n" << out;
    }
}

TEST(MorvFitUsage, NativeDesignsAreReadByTheirFirstLine)
{
    const std::string zepla = std::string(MORV_SOURCE_DIR) + "/designs/dsp_mac_zepla.txt";
    int status = -1;
    std::string out = run("-q --family ZEPLA --test-string '|' -o native_ok.blif " + zepla, &status);
    EXPECT_EQ(status, 0) << out;
    // A netlist of another family is refused by name.
    out = run("-q --family BRK -o native_family.blif " + zepla, &status);
    EXPECT_EQ(status, 1) << out;
    EXPECT_NE(out.find("dsp_mac_zepla.txt"), std::string::npos) << out;
    EXPECT_NE(out.find("ZEPLA"), std::string::npos) << out;
    // A broken line names the file and the line.
    write_file("broken.txt", "morv-atom-netlist 1\nfamily 6\nroot \"top\"\nnode x\nend\n");
    out = run("-q --family BRK -o native_broken.blif broken.txt", &status);
    EXPECT_EQ(status, 1) << out;
    EXPECT_NE(out.find("broken.txt:4"), std::string::npos) << out;
}

TEST(MorvFitUsage, BadInputFilesNameFileAndLine)
{
    write_file("broken.blif", ".model broken\n.inputs a b\n.outputs y\n.names a b y\n1x 1\n.end\n");
    int status = -1;
    std::string out = run("broken.blif", &status);
    EXPECT_EQ(status, 1) << out;
    EXPECT_NE(out.find("broken.blif:5"), std::string::npos) << out;

    write_file("bad_settings.txt", "# settings\n566=3\nthis line has no equals sign\n");
    out = run("--settings bad_settings.txt " + k_pipeline, &status);
    EXPECT_EQ(status, 1) << out;
    EXPECT_NE(out.find("bad_settings.txt:3"), std::string::npos) << out;

    write_file("bad_device.txt", "grid 10 10\nwarp_drive 9\n");
    out = run("--device bad_device.txt " + k_pipeline, &status);
    EXPECT_EQ(status, 1) << out;
    EXPECT_NE(out.find("bad_device.txt:2"), std::string::npos) << out;
}

TEST(MorvFitUsage, NeverWritesOverItsInput)
{
    write_file("mine.blif", slurp(k_pipeline));
    const std::string before = slurp("mine.blif");
    int status = -1;
    std::string out = run("-q -o mine.blif mine.blif", &status);
    EXPECT_EQ(status, 1) << out;
    EXPECT_NE(out.find("input"), std::string::npos) << out;
    out = run("-q -o ./mine.blif mine.blif", &status);
    EXPECT_EQ(status, 1) << out;
    EXPECT_EQ(slurp("mine.blif"), before);
}

// Files the component writes into the working folder: when the user's
// folder cannot take one, the compile stops with an error naming the file,
// also under -q, and not with an internal error.
TEST(MorvFitUsage, UnwritableComponentFilesAreUserErrorsNamingTheFile)
{
    struct CASE
    {
        std::string blocked, args;
    };
    const CASE cases[] = {
        {"fsyn_qor_stats.csv", "-q --set fsyn_dump_qor_stats=on " + k_pipeline},
        {"fsyn_delays.txt", "-q " + k_pipeline},
    };
    for (const CASE& c : cases) {
        std::remove(c.blocked.c_str());  // an earlier run's file
        ASSERT_EQ(mkdir(c.blocked.c_str(), 0755), 0) << c.blocked;
        int status = -1;
        std::string out = run(c.args, &status);
        EXPECT_EQ(status, 1) << c.args << "\n" << out;
        EXPECT_NE(out.find("error: cannot write file '" + c.blocked + "'"), std::string::npos) << out;
        EXPECT_EQ(out.find("internal error"), std::string::npos) << out;
        rmdir(c.blocked.c_str());
    }
}

TEST(MorvFitRun, SummaryTableAndDeterministicOutput)
{
    int status = -1;
    std::string out = run("--seed 7 -o a.blif --native a.txt " + k_pipeline, &status);
    ASSERT_EQ(status, 0) << out;
    for (const char* step : {"SYN_EARLY", "FIT_EARLY", "clustering", "POST_CLUSTERING", "placement", "LATE", "routed"})
        EXPECT_NE(out.find(step), std::string::npos) << "no row for " << step << "\n" << out;
    EXPECT_NE(out.find("clock period"), std::string::npos) << out;
    EXPECT_NE(out.find("Fmax"), std::string::npos);
    EXPECT_FALSE(slurp("a.txt").empty());

    out = run("-q --seed 7 -o b.blif " + k_pipeline, &status);
    ASSERT_EQ(status, 0) << out;
    EXPECT_EQ(slurp("a.blif"), slurp("b.blif"));
}

TEST(MorvFitRun, WrittenNetlistIsEquivalentToTheInput)
{
    if (!abc_is_available()) GTEST_SKIP() << "berkeley-abc is not installed";
    for (const char* design : {"pipeline", "counter", "adder_tree"}) {
        std::string in = std::string(MORV_SOURCE_DIR) + "/designs/" + design + ".blif";
        std::string outfile = std::string(design) + ".out.blif";
        int status = -1;
        std::string out = run("-q -o " + outfile + " " + in, &status);
        ASSERT_EQ(status, 0) << out;
        ABC_RESULT r = abc_check_equivalence(in, outfile, true);
        EXPECT_TRUE(r.is_equivalent()) << design << ": " << abc_verdict_name(r.m_verdict) << "\n" << r.m_output;
    }
}

}  // namespace

}  // namespace usage_test
