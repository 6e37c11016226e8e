// RAM output-register retiming end to end on designs/ram_outreg_obran.txt:
// one logical RAM of two atoms, both ports registered in the blocks, whose
// read path is the design's longest and holds its only registers. With
// fsyn_enable_ram_retiming on, the forward pass of retiming after placement
// takes both atoms' registers out as one slice and moves them forward; ABC
// proves the written netlist equivalent to the plain compile. With the
// switch off the blocks keep their registers.

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <string>

#include "abc_equiv.h"
#include "test_files.h"

namespace ram_retiming_flow_test {

namespace {

const std::string k_design = std::string(MORV_SOURCE_DIR) + "/designs/ram_outreg_obran.txt";
// Backward pushes cannot help a path whose registers are all in the RAMs;
// the lower bound of the stand-in's estimate does not see them either.
const char* const k_retiming = " --test-string 'RTM(NP=2:NO_LB=1)'";

COMMAND_RUN fit(const std::string& dir, const std::string& args)
{
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    std::string command = MORV_FIT_BINARY;
    command.append(" -q --family OBRAN --seed 1 --set fsyn_debug_msg_full=on --aux-dir ").append(dir);
    command.append(" ").append(args).append(" --native ").append(dir).append("/out.txt -o ");
    return run_command(command.append(dir).append("/out.blif ").append(k_design) + " 2>&1");
}

int count_lines_with(const std::string& text, const std::string& part)
{
    int n = 0;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) n += line.find(part) != std::string::npos ? 1 : 0;
    return n;
}

// RAM ports whose data output is registered in the block: mode word 0
// (parameter key 1, one per port) with flag 9 set.
int registered_ram_ports(const std::string& native)
{
    int n = 0;
    std::istringstream in(native);
    for (std::string line; std::getline(in, line);) {
        std::istringstream words(line);
        std::string keyword;
        int key = 0, port = 0;
        long value = 0;
        if (words >> keyword >> key >> port >> value && keyword == "param" && key == 1 && (value & (1 << 9)) != 0) ++n;
    }
    return n;
}

// The registers column of the summary row of a step.
int registers_after(const std::string& out, const std::string& step)
{
    std::istringstream in(out);
    for (std::string line; std::getline(in, line);) {
        std::istringstream words(line);
        std::string name;
        int atoms = 0, luts = 0, registers = -1;
        if (words >> name >> atoms >> luts >> registers && name == step) return registers;
    }
    return -1;
}

}  // namespace

TEST(MorvFitRamRetiming, TheRamOutputRegistersLeaveTheBlocksAndMoveForward)
{
    const COMMAND_RUN plain = fit("ram_plain", "--test-string 'TEST()'");
    ASSERT_EQ(plain.status, 0) << plain.out;
    EXPECT_EQ(registered_ram_ports(slurp("ram_plain/out.txt")), 4);
    EXPECT_EQ(registers_after(plain.out, "LATE"), 0) << plain.out;

    const COMMAND_RUN off = fit("ram_off", k_retiming);
    ASSERT_EQ(off.status, 0) << off.out;
    const std::string off_debug = slurp("ram_off/fsyn_debug_dump.txt");
    EXPECT_GT(count_lines_with(off_debug, "running Pass 1"), 0) << "no forward pass ran";
    EXPECT_EQ(count_lines_with(off_debug, "RAM Slices Found"), 0);
    EXPECT_EQ(count_lines_with(off_debug, "Unpacking"), 0);
    EXPECT_EQ(registered_ram_ports(slurp("ram_off/out.txt")), 4);
    EXPECT_EQ(registers_after(off.out, "LATE"), 0) << off.out;

    const COMMAND_RUN on = fit("ram_on", std::string("--set fsyn_enable_ram_retiming=on") + k_retiming);
    ASSERT_EQ(on.status, 0) << on.out;
    const std::string debug = slurp("ram_on/fsyn_debug_dump.txt");
    // mem|bit0 and mem|bit1 are one slice, unpacked once, atom by atom.
    EXPECT_GT(count_lines_with(debug, "RAM Slices Found: 1"), 0);
    EXPECT_EQ(count_lines_with(debug, "Unpacking RAM slice <mem>"), 1);
    EXPECT_EQ(count_lines_with(debug, "   Unpacking NODE -> "), 2);
    EXPECT_EQ(registered_ram_ports(slurp("ram_on/out.txt")), 0);
    EXPECT_GE(registers_after(on.out, "LATE"), 1) << on.out;

    if (!abc_is_available()) return;
    for (const char* dir : {"ram_off", "ram_on"}) {
        const ABC_RESULT abc = abc_check_equivalence("ram_plain/out.blif", std::string(dir) + "/out.blif", true);
        EXPECT_TRUE(abc.is_equivalent()) << dir << ": " << abc_verdict_name(abc.m_verdict) << "\n" << abc.m_output;
    }
}

}  // namespace ram_retiming_flow_test
