// Register unpacking end to end on UVO: the reader packs each register with
// the LUT that computes its data, and a post-clustering REG_UNPACK moves the
// LUT half of a cell whose halves both drive critical sinks into a cell of
// its own. ABC proves the written netlist against the design.

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <string>

#include "abc_equiv.h"
#include "test_files.h"

namespace reg_unpack_flow_test {

namespace {

// x computes r's data and starts a long path to y; x's cone and the
// path's inputs are too wide for the sweeper to fold a copy of x away.
const char* const k_design = ".model t\n.inputs a b c d e f g h clk\n.outputs y q\n"
                             ".names a b h x\n111 1\n.latch x r re clk 0\n"
                             ".names x c e y1\n100 1\n010 1\n001 1\n111 1\n"
                             ".names y1 d f y2\n111 1\n"
                             ".names y2 g h y\n1-- 1\n-1- 1\n--1 1\n"
                             ".latch y s re clk 0\n.names r s q\n10 1\n.end\n";

// The atoms column of a summary row; -1 when the row is missing.
int atoms_after(const std::string& out, const std::string& step)
{
    std::istringstream in(out);
    for (std::string line; std::getline(in, line);) {
        std::istringstream words(line);
        std::string first;
        int atoms = -1;
        if (words >> first >> atoms && first == step) return atoms;
    }
    return -1;
}

}  // namespace

TEST(MorvFitRegUnpack, UvoCellSplitAfterClusteringKeepsTheDesign)
{
    const std::string dir = "reg_unpack_uvo";
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    write_file(dir + "/t.blif", k_design);
    const COMMAND_RUN r = run_command(std::string(MORV_FIT_BINARY) +
                                      " --family UVO --seed 1 --set fsyn_debug_msg_full=on"
                                      " --test-string 'TEST()|REG_UNPACK(FOM=-1000000)|TEST()' -o " +
                                      dir + "/out.blif " + dir + "/t.blif 2>&1");
    ASSERT_EQ(r.status, 0) << r.out;
    // Input pins, output pins and five cells, two of them with a register.
    EXPECT_EQ(atoms_after(r.out, "clustering"), 16) << r.out;
    EXPECT_EQ(atoms_after(r.out, "POST_CLUSTERING"), 17) << r.out;
    EXPECT_NE(slurp(dir + "/fsyn_debug_dump.txt").find("...Unpacked {1}"), std::string::npos);
    if (!abc_is_available()) return;
    const ABC_RESULT abc = abc_check_equivalence(dir + "/t.blif", dir + "/out.blif", true);
    EXPECT_TRUE(abc.is_equivalent()) << abc_verdict_name(abc.m_verdict) << "\n" << abc.m_output;
}

}  // namespace reg_unpack_flow_test
