// Asynchronous pipelining end to end on the sample with three synchronised
// resets: the evaluation before placement says which resets it would
// pipeline and changes nothing in the written netlist.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "test_files.h"

namespace pipe_async_flow_test {

namespace {

const std::string k_designs = std::string(MORV_SOURCE_DIR) + "/designs/";

// Each compile in a folder of its own.
COMMAND_RUN fit(const std::string& dir, const std::string& args)
{
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    std::string command = MORV_FIT_BINARY;
    command.append(" --family BRK --effort fast --settings ").append(k_designs).append("async_reset.settings");
    command.append(" ").append(args).append(" -o ").append(dir).append("/out.blif ");
    command.append(k_designs).append("async_reset.blif");
    return run_command(command + " 2>&1");
}

bool has(const COMMAND_RUN& run, const std::string& text)
{
    return run.out.find(text) != std::string::npos;
}

}  // namespace

TEST(MorvFitPipeAsync, EvaluationReportsTheResetsAndKeepsTheNetlist)
{
    const COMMAND_RUN plain = fit("pipe_plain", "");
    ASSERT_EQ(plain.status, 0) << plain.out;
    const COMMAND_RUN timed = fit("pipe_timed", "--test-string 'PIPE_ASYNC()|'");
    ASSERT_EQ(timed.status, 0) << timed.out;
    EXPECT_TRUE(has(timed, "    Info (IMORV_FSYN_EARLY_FSYN_ASYNC_PIPELINING_FOUND_SIGNALS): Found 3 asynchronous "
                           "signals of which 1 will be pipelined"))
        << timed.out;
    EXPECT_TRUE(has(timed, "Signal not critical. No action is required")) << timed.out;
    const COMMAND_RUN skipped =
        fit("pipe_skipped", "--test-string 'PIPE_ASYNC()|' --set fsyn_pipe_async_skip_timing_checks=on");
    ASSERT_EQ(skipped.status, 0) << skipped.out;
    EXPECT_TRUE(has(skipped, "Found 3 asynchronous signals of which 2 will be pipelined")) << skipped.out;
    EXPECT_TRUE(has(skipped, "Asynchronous signal rst_c_s\n        Info "
                             "(IMORV_FSYN_EARLY_FSYN_ASYNC_PIPELINING_ILLEGAL_FANOUT_SIGNAL): Signal fans out to non "
                             "asynchronous inputs at node pv12_4_4_"))
        << skipped.out;
    EXPECT_FALSE(has(skipped, "Signal not critical")) << skipped.out;
    const std::string reference = slurp("pipe_plain/out.blif");
    EXPECT_FALSE(reference.empty());
    EXPECT_EQ(slurp("pipe_timed/out.blif"), reference);
    EXPECT_EQ(slurp("pipe_skipped/out.blif"), reference);
}

// With the LATE flow too, only the forced reset is pipelined, and the
// report table gives every reset's stages and registers.
TEST(MorvFitPipeAsync, LateFlowPipelinesTheForcedResetAlone)
{
    const COMMAND_RUN run = fit("pipe_late", "--test-string 'PIPE_ASYNC()|PIPE_ASYNC()'");
    ASSERT_EQ(run.status, 0) << run.out;
    EXPECT_TRUE(has(run, "Pipelining signal rst_a_s\n")) << run.out;
    EXPECT_FALSE(has(run, "Pipelining signal rst_b_s")) << run.out;
    EXPECT_FALSE(has(run, "Pipelining signal rst_c_s")) << run.out;
    EXPECT_TRUE(has(run, "Fitter Asynchronous Signal Pipelining\nNET     | STAGES | REGISTERS | NOTE\n")) << run.out;
    EXPECT_TRUE(has(run, "rst_b_s | 0      | 0         | Asynchronous signal does not require pipelining\n"))
        << run.out;
    EXPECT_TRUE(has(run, "rst_c_s | 0      | 0         | Asynchronous signal does not require pipelining\n"))
        << run.out;
    const size_t row = run.out.find("\nrst_a_s | ");
    ASSERT_NE(row, std::string::npos) << run.out;
    const int stages = std::stoi(run.out.substr(row + 11));
    EXPECT_GE(stages, 1) << run.out;
    EXPECT_TRUE(has(run, "Inserted ")) << run.out;
}

}  // namespace pipe_async_flow_test
