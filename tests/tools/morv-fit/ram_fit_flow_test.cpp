// Logic-to-RAM mapping end to end on the four S-boxes that read one set of
// address registers: every address bit feeds 128 LUTs, so the cone of each
// of the 32 output bits (four cofactor LUTs over a0..a5 and a mux on a6, a7)
// becomes a ROM of its own, 8 address bits by 1 bit, which a BRK block
// holds. Of the 160 LUTs only the 32 output wrappers stay, and ABC proves
// the written netlist sequentially equivalent to the design.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "abc_equiv.h"
#include "test_files.h"

namespace ram_fit_flow_test {

namespace {

const std::string k_design = std::string(MORV_SOURCE_DIR) + "/designs/sbox_rom_shared_k6.blif";

// The memories every RAM mapping run of the compile reported.
int memories_created(const std::string& out)
{
    const std::string key = "Logic to memory mapping created ";
    int total = 0;
    for (size_t at = out.find(key); at != std::string::npos; at = out.find(key, at + 1))
        total += std::atoi(out.c_str() + at + key.size());
    return total;
}

// The LUT column of a row of the compile summary; -1 when missing.
int luts_of_row(const std::string& out, const std::string& step)
{
    std::istringstream in(out);
    for (std::string line; std::getline(in, line);) {
        std::istringstream words(line);
        std::string name;
        int atoms = 0;
        int luts = -1;
        if (words >> name >> atoms >> luts && name == step) return luts;
    }
    return -1;
}

}  // namespace

TEST(MorvFitRamMap, EachSboxBitOverSharedAddressesBecomesARomOnBrk)
{
    const std::string dir = "ram_map_shared_sbox";
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    const COMMAND_RUN r = run_command(std::string(MORV_FIT_BINARY) +
                                      " --family BRK --test-string 'RAM_MAP()|TEST()' --set "
                                      "fsyn_ram_map_use_aggressive_srt=on --aux-dir " +
                                      dir + " -o " + dir + "/out.blif " + k_design + " 2>&1");
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(memories_created(r.out), 32) << r.out;
    EXPECT_EQ(luts_of_row(r.out, "input"), 160) << r.out;
    EXPECT_EQ(luts_of_row(r.out, "back-annotation"), 32) << r.out;
    if (!abc_is_available()) return;
    const ABC_RESULT abc = abc_check_equivalence(k_design, dir + "/out.blif", true);
    EXPECT_TRUE(abc.is_equivalent()) << abc_verdict_name(abc.m_verdict) << "\n" << abc.m_output;
}

// The same S-boxes on a device of 4 LABs beside 32 RAM blocks: the 160
// LUTs need 8 LABs, so placement fails; the test string's cluster-retry
// part maps each output bit's cone into a RAM block, and the second
// placement succeeds with the 32 wrappers. Without a retry part the
// compile stops at the misfit.
TEST(MorvFitRamMap, TheClusterRetryMapsLogicIntoRamWhenTheDesignDoesNotFit)
{
    const std::string dir = "ram_map_cluster_retry";
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    std::ofstream(dir + "/small.txt") << "grid 11 6\n"
                                      << "ram_column 1\nram_column 2\nram_column 3\nram_column 4\n"
                                      << "ram_column 5\nram_column 6\nram_column 7\nram_column 8\n";
    const std::string fit = std::string(MORV_FIT_BINARY) + " --family BRK --device " + dir +
                            "/small.txt --set fsyn_ram_map_use_aggressive_srt=on --aux-dir " + dir + " -o " + dir +
                            "/out.blif ";
    const COMMAND_RUN plain = run_command(fit + "--test-string 'TEST()' " + k_design + " 2>&1");
    EXPECT_EQ(plain.status, 1) << plain.out;
    EXPECT_NE(plain.out.find("8 LABs needed but the device has 4"), std::string::npos) << plain.out;

    const COMMAND_RUN r = run_command(fit + "--test-string '|RAM_MAP()||' " + k_design + " 2>&1");
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("8 LABs needed but the device has 4; retrying clustering"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("\nphysical synthesis ran at CLUSTER_RETRY\n"), std::string::npos) << r.out;
    EXPECT_EQ(memories_created(r.out), 32) << r.out;
    EXPECT_EQ(luts_of_row(r.out, "input"), 160) << r.out;
    EXPECT_EQ(luts_of_row(r.out, "CLUSTER_RETRY"), 32) << r.out;
    EXPECT_EQ(luts_of_row(r.out, "placement"), 32) << r.out;
    if (!abc_is_available()) return;
    const ABC_RESULT abc = abc_check_equivalence(k_design, dir + "/out.blif", true);
    EXPECT_TRUE(abc.is_equivalent()) << abc_verdict_name(abc.m_verdict) << "\n" << abc.m_output;
}

}  // namespace ram_fit_flow_test
