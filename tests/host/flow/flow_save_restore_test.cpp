#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "abc_equiv.h"
#include "flow_fit.h"
#include "host_compile.h"
#include "msg/msg.h"

namespace flow_save_restore_test {

namespace {

// Files of saved states (netlist, hierarchy, boundary ports) in the folder.
std::vector<std::string> saved_state_files()
{
    std::vector<std::string> found;
    for (const auto& entry : std::filesystem::directory_iterator("."))
        if (entry.path().filename().string().rfind("morv_", 0) == 0) found.push_back(entry.path().string());
    return found;
}

const std::string k_design = std::string(MORV_BENCH_DIR) + "/mcnc_k4/s298.blif";

// The early part saves the netlist; the late part restores the early one
// when its figure of merit is better. Either way the design stays what it
// was and nothing saved is left on disk.
TEST(FlowSaveRestore, SavedAndRestoredNetlistsStayEquivalentAndLeaveNoFiles)
{
    for (const char* family : {"BRK", "MRL", "UVO"}) {
        const std::string output = std::string("s298_") + family + ".out.blif";
        std::string log;
        const int status = fit(
            // The placement's quality is beside the point here: the quick one
            // keeps the test from timing the placer three times over.
            {"-q", "--family", family, "--effort", "fast", "--test-string", "SAVE_RESTORE()|SAVE_RESTORE(BEST=1)", "-o",
             output, k_design},
            &log);
        ASSERT_EQ(status, 0) << family << "\n" << log;
        EXPECT_EQ(saved_state_files(), std::vector<std::string>()) << family;
        if (!abc_is_available()) continue;
        ABC_RESULT r = abc_check_equivalence(k_design, output, true);
        EXPECT_TRUE(r.is_equivalent()) << family << ": " << abc_verdict_name(r.m_verdict) << "\n" << r.m_output;
    }
}

}  // namespace

}  // namespace flow_save_restore_test
