// Logic-to-RAM mapping end to end on the four S-boxes that read one set of
// address registers: every address bit feeds 128 LUTs, so the cone of each
// of the 32 output bits (four cofactor LUTs over a0..a5 and a mux on a6, a7)
// becomes a ROM of its own, 8 address bits by 1 bit, which a BRK block
// holds. Of the 160 LUTs only the 32 output wrappers stay, and ABC proves
// the written netlist sequentially equivalent to the design.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
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

}  // namespace ram_fit_flow_test
