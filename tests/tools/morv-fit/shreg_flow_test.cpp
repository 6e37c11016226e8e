// RAM-based shift registers end to end: the skew analysis gives the RAMs of
// the sample design a skew before placement only, so a compile whose test
// string runs skew-mode retiming early shortens them (the one whose RAM
// reads the slot being written and returns the old word among them), and
// ABC proves the written netlist sequentially equivalent to the plain
// compile from the all-zero state. Run after placement, the same retiming
// leaves them alone.

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <string>

#include "abc_equiv.h"
#include "test_files.h"

namespace shreg_flow_test {

namespace {

const std::string k_design = std::string(MORV_SOURCE_DIR) + "/designs/shift_ram_obran.txt";

int count_lines_with(const std::string& path, const std::string& text)
{
    int n = 0;
    std::istringstream in(slurp(path));
    for (std::string line; std::getline(in, line);) n += line.find(text) != std::string::npos ? 1 : 0;
    return n;
}

// Reductions the dump shows done on shift registers of that offset: each
// evaluation logs its offset before the reduction's verdict.
int reductions_at_offset(const std::string& path, int offset)
{
    int n = 0;
    std::string last_offset;
    std::istringstream in(slurp(path));
    for (std::string line; std::getline(in, line);) {
        if (line.rfind("offset=", 0) == 0) last_offset = line;
        if (line.rfind("reduction: ok", 0) == 0) n += last_offset == "offset=" + std::to_string(offset) + " is ok";
    }
    return n;
}

// Each compile in a process and a folder of its own.
COMMAND_RUN fit(const std::string& dir, const std::string& args)
{
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    std::string command = MORV_FIT_BINARY;
    command.append(" -q --family OBRAN --seed 1 --set fsyn_debug_msg_full=on --aux-dir ").append(dir);
    command.append(" ").append(args).append(" -o ").append(dir).append("/out.blif ").append(k_design);
    return run_command(command + " 2>&1");
}

}  // namespace

TEST(MorvFitShiftRegisters, SkewRetimingBeforePlacementShortensThemAndKeepsTheDesign)
{
    const COMMAND_RUN plain = fit("shreg_plain", "");
    ASSERT_EQ(plain.status, 0) << plain.out;
    const COMMAND_RUN early = fit("shreg_early", "--test-string 'RTM(SKEW_RTM=1:NP=2)|'");
    ASSERT_EQ(early.status, 0) << early.out;
    EXPECT_EQ(early.out.find("not available yet"), std::string::npos) << early.out;
    const std::string debug = "shreg_early/fsyn_debug_dump.txt";
    EXPECT_GT(count_lines_with(debug, "Reducing shift register on"), 0);
    EXPECT_GT(count_lines_with(debug, "reduction: ok"), 0);
    EXPECT_EQ(count_lines_with(debug, "reduction: not ok"), 0);
    EXPECT_GT(reductions_at_offset(debug, 0), 0) << "z7, read at the slot being written";
    const COMMAND_RUN late = fit("shreg_late", "--test-string 'RTM(SKEW_RTM=1:NP=2)'");
    ASSERT_EQ(late.status, 0) << late.out;
    EXPECT_EQ(count_lines_with("shreg_late/fsyn_debug_dump.txt", "Reducing shift register on"), 0);
    if (!abc_is_available()) return;
    for (const char* dir : {"shreg_early", "shreg_late"}) {
        const ABC_RESULT abc = abc_check_equivalence("shreg_plain/out.blif", std::string(dir) + "/out.blif", true, 120);
        EXPECT_TRUE(abc.is_equivalent()) << dir << ": " << abc_verdict_name(abc.m_verdict) << "\n" << abc.m_output;
    }
}

}  // namespace shreg_flow_test
