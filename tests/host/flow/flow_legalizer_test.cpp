// The MRL legaliser over whole benchmark netlists, as the MRL sweeper runs
// it after each sweep: the legalised netlist is written and checked with
// ABC, and the two netlist dumps around the legalisation are written.

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "abc_equiv.h"
#include "cdb/cdb_atom_netlist.h"
#include "cfg/cfg.h"
#include "cut/cut_morlin_legalizer.h"
#include "host_compile.h"
#include "host_env.h"
#include "morv/core/morv_api.h"
#include "morv/core/morv_expert.h"
#include "morv/netlist/morv_legalizer.h"
#include "msg/msg.h"

namespace {

const std::string k_bench = MORV_BENCH_DIR;

// The dump switch stays set in the process: it must not reach the next
// test of the program.
class FlowMrlLegalizer : public ::testing::Test
{
protected:
    void TearDown() override { cfg_clear_all(); }
};

}  // namespace

TEST_F(FlowMrlLegalizer, LegalisedBenchmarksStayEquivalentAndAreDumpedAroundTheLegalisation)
{
    for (const char* design : {"iscas89_k6/s5378.blif", "mcnc_k4/tseng.blif"}) {
        const std::string input = k_bench + "/" + design;
        const std::string output = std::filesystem::path(design).stem().string() + "_legal.out.blif";
        int legalized = -1;
        bool all_legal = false;
        int cells_before = 0, cells_after = 0;
        auto legalize = [&](morv_host::HOST_ENV& env) {
            auto* expert = dynamic_cast<MORV_EXPERT*>(env.get_fsyn_expert());
            ASSERT_NE(expert, nullptr);
            MORV_API* api = expert->get_fsyn_api();
            for (CDB_ATOM_NODE* node : *api->get_atom_netlist()) cells_before += node->is_lcell_comb() ? 1 : 0;
            legalized = MORV_LEGALIZER::legalize_after_sweep(api);
            all_legal = true;
            for (CDB_ATOM_NODE* node : *api->get_atom_netlist()) {
                cells_after += node->is_lcell_comb() ? 1 : 0;
                if ((node->is_lcell_comb() || node->is_register()) && !api->get_atom_legalizer()->is_node_legal(node))
                    all_legal = false;
            }
        };
        std::vector<const char*> argv = {"morv-fit", "-q",           "--family",
                                         "MRL",      "--set",        "fsyn_enable_netlist_dump=on",
                                         "-o",       output.c_str(), input.c_str()};
        std::ostringstream out, err;
        const int status = morv_host::fit_main(static_cast<int>(argv.size()), argv.data(), out, err, legalize);
        ASSERT_EQ(status, 0) << design << "\n" << err.str();
        EXPECT_GT(legalized, 0) << design << ": every register takes its FL id";
        EXPECT_TRUE(all_legal) << design;
        // The 6-input benchmark has cells no rotation makes legal: they are split.
        if (std::string(design).find("_k6/") != std::string::npos) {
            EXPECT_GT(cells_after, cells_before) << design;
        } else {
            EXPECT_EQ(cells_after, cells_before) << design;
        }
        // The dumps are checked and taken away: the folder is the program's.
        bool pre = false, post = false;
        std::vector<std::filesystem::path> dumps;
        for (const auto& entry : std::filesystem::directory_iterator(".")) {
            const std::string name = entry.path().filename().string();
            pre = pre || name.ends_with(".pre_fsyn_netlist_legalizer");
            post = post || name.ends_with(".post_fsyn_netlist_legalizer");
            if (name.rfind("morv_fit.", 0) == 0) dumps.push_back(entry.path());
        }
        for (const std::filesystem::path& dump : dumps) std::filesystem::remove(dump);
        EXPECT_TRUE(pre && post) << design;
        if (!abc_is_available()) continue;
        const ABC_RESULT r = abc_check_equivalence(input, output, true);
        EXPECT_TRUE(r.is_equivalent()) << design << ": " << abc_verdict_name(r.m_verdict) << "\n" << r.m_output;
    }
}

// The sweeper-only compile of MRL sweeps at LATE, and its legaliser runs
// after the sweep with both dumps.
TEST_F(FlowMrlLegalizer, SweeperOnlyCompileLegalisesAfterTheSweepWithItsDumps)
{
    for (const char* design : {"iscas89_k6/s5378.blif", "mcnc_k4/tseng.blif"}) {
        const std::string input = k_bench + "/" + design;
        const std::string output = std::filesystem::path(design).stem().string() + "_swept.out.blif";
        std::vector<const char*> argv = {"morv-fit",   "-q",
                                         "--family",   "MRL",
                                         "--set",      "fsyn_netlist_sweeper=on",
                                         "--set",      "fsyn_enable_netlist_dump=on",
                                         "-o",         output.c_str(),
                                         input.c_str()};
        std::ostringstream out, err;
        msg_clear_posted_messages();
        ASSERT_EQ(morv_host::fit_main(static_cast<int>(argv.size()), argv.data(), out, err), 0) << design << err.str();
        for (const MSG_POSTED_MESSAGE& m : msg_posted_messages())
            EXPECT_EQ(m.text.find("legalizer"), std::string::npos) << design << ": " << m.text;
        for (const char* dump : {"morv_fit.pre_fsyn_netlist_legalizer", "morv_fit.post_fsyn_netlist_legalizer"})
            EXPECT_TRUE(std::filesystem::exists(dump)) << design << ": " << dump;
        std::vector<std::filesystem::path> dumps;
        for (const auto& entry : std::filesystem::directory_iterator("."))
            if (entry.path().filename().string().rfind("morv_fit.", 0) == 0) dumps.push_back(entry.path());
        for (const std::filesystem::path& dump : dumps) std::filesystem::remove(dump);
        if (!abc_is_available()) continue;
        const ABC_RESULT r = abc_check_equivalence(input, output, true);
        EXPECT_TRUE(r.is_equivalent()) << design << ": " << abc_verdict_name(r.m_verdict) << "\n" << r.m_output;
    }
}
