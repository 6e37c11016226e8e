// Asynchronous pipelining end to end on the sample with three synchronised
// resets: the evaluation before placement says which resets it would
// pipeline and changes nothing in the written netlist.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <set>
#include <sstream>
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

// The resets the evaluation recorded for the LATE flow, from its messages:
// the signals whose message holds the one saying so.
std::set<std::string> recorded_resets(const COMMAND_RUN& run)
{
    const std::string signal = "(IMORV_FSYN_EARLY_FSYN_ASYNC_PIPELINING_CHECKING_SIGNAL): Asynchronous signal ";
    const std::string found = "(IMORV_FSYN_EARLY_FSYN_ASYNC_PIPELINING_FOUND_SIGNALS)";
    std::set<std::string> recorded;
    for (size_t at = run.out.find(signal); at != std::string::npos;) {
        const size_t name = at + signal.size();
        at = run.out.find(signal, name);
        const std::string block = run.out.substr(name, std::min(at, run.out.find(found, name)) - name);
        if (block.find("(IMORV_FSYN_EARLY_FSYN_ASYNC_PIPELINING_SIGNAL_WILL_BE_PIPELINED)") != std::string::npos)
            recorded.insert(block.substr(0, block.find('\n')));
    }
    return recorded;
}

// The host's table of the resets the LATE flow will pipeline: net and
// clears driven, by net; empty when the compile filed none.
std::map<std::string, int> host_pipelined_resets(const COMMAND_RUN& run)
{
    std::map<std::string, int> rows;
    const std::string title = "Fitter Reset Nets Pipelined After Placement\nNET ";
    const size_t table = run.out.find(title);
    if (table == std::string::npos) return rows;
    std::istringstream lines(run.out.substr(run.out.find('\n', table + title.size()) + 1));
    for (std::string line; std::getline(lines, line) && !line.empty();) {
        const size_t bar = line.find(" | ");
        rows[line.substr(0, line.find(' '))] = std::stoi(line.substr(bar + 3));
    }
    return rows;
}

// The host's table as the evaluation's records make it: each recorded reset
// with the asynchronous clears the design's registers take from it.
std::map<std::string, int> table_of_recorded(const COMMAND_RUN& run)
{
    const std::string design = slurp(k_designs + "async_reset.blif");
    std::map<std::string, int> rows;
    for (const std::string& net : recorded_resets(run)) rows[net] = count_of(design, "R=" + net + "\n");
    return rows;
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
    // Between the flows the host asks about every reset: the answers are the evaluation's records.
    EXPECT_EQ(recorded_resets(timed), (std::set<std::string>{"rst_a_s"})) << timed.out;
    EXPECT_EQ(host_pipelined_resets(timed), table_of_recorded(timed)) << timed.out;
    EXPECT_EQ(recorded_resets(skipped), (std::set<std::string>{"rst_a_s", "rst_b_s"})) << skipped.out;
    EXPECT_EQ(host_pipelined_resets(skipped), table_of_recorded(skipped)) << skipped.out;
    EXPECT_EQ(host_pipelined_resets(plain), table_of_recorded(plain)) << plain.out;
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
    EXPECT_EQ(recorded_resets(run), (std::set<std::string>{"rst_a_s"})) << run.out;
    EXPECT_EQ(host_pipelined_resets(run), table_of_recorded(run)) << run.out;
}

// Without the timing checks the evaluation records a second reset: the host
// reports both, and the LATE flow pipelines both.
TEST(MorvFitPipeAsync, TheResetsTheHostReportsAreTheOnesTheLateFlowPipelines)
{
    const COMMAND_RUN run =
        fit("pipe_both", "--test-string 'PIPE_ASYNC()|PIPE_ASYNC()' --set fsyn_pipe_async_skip_timing_checks=on");
    ASSERT_EQ(run.status, 0) << run.out;
    const std::map<std::string, int> reported = host_pipelined_resets(run);
    EXPECT_EQ(reported, table_of_recorded(run)) << run.out;
    ASSERT_EQ(reported.size(), 2u) << run.out;
    for (const auto& [net, clears] : reported) EXPECT_TRUE(has(run, "Pipelining signal " + net + "\n")) << run.out;
    EXPECT_TRUE(has(run, "Pipelining signal rst_a_s\n")) << run.out;
    EXPECT_TRUE(has(run, "Pipelining signal rst_b_s\n")) << run.out;
    EXPECT_FALSE(has(run, "Pipelining signal rst_c_s")) << run.out;
}

}  // namespace pipe_async_flow_test
