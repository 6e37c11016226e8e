// The MRL legaliser over whole benchmark netlists, as the MRL sweeper runs
// it after each sweep: the legalised netlist is written and checked with
// ABC, and the two netlist dumps around the legalisation are written.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "abc_equiv.h"
#include "cdb/cdb_atom_netlist.h"
#include "cfg/cfg.h"
#include "cut/cut_morlin_legalizer.h"
#include "host_compile.h"
#include "host_env.h"
#include "io/blif_reader.h"
#include "io/blif_writer.h"
#include "morv/core/algorithm/morv_algorithm_base.h"
#include "morv/core/morv_api.h"
#include "morv/core/morv_setting_ids.h"
#include "morv/netlist/morv_net_util.h"
#include "morv/core/morv_expert.h"
#include "morv/netlist/morv_legalizer.h"
#include "msg/msg.h"
#include "test_build.h"

namespace flow_legalizer_test {

namespace {

const std::string k_bench = MORV_BENCH_DIR;

// A 6-input benchmark, whose cells need splitting, and a 4-input one, whose
// cells rotate; the sanitizer build keeps the smallest 6-input benchmark and
// the adder tree.
std::vector<std::string> legalizer_designs()
{
    if (k_small_designs_only)
        return {k_bench + "/iscas89_k6/s1423.blif", std::string(MORV_SOURCE_DIR) + "/designs/adder_tree.blif"};
    return {k_bench + "/iscas89_k6/s5378.blif", k_bench + "/mcnc_k4/tseng.blif"};
}

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
    for (const std::string& input : legalizer_designs()) {
        const std::string design = std::filesystem::path(input).filename().string();
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
        // A compile that runs no flow hands the netlist to the hook as read.
        std::vector<const char*> argv = {"morv-fit",   "-q",
                                         "--family",   "MRL",
                                         "--set",      "fsyn_enable_netlist_dump=on",
                                         "--set",      "fsyn_disable_lir_in_flat_flow=on",
                                         "-o",         output.c_str(),
                                         input.c_str()};
        std::ostringstream out, err;
        const int status = morv_host::fit_main(static_cast<int>(argv.size()), argv.data(), out, err, legalize);
        ASSERT_EQ(status, 0) << design << "\n" << err.str();
        EXPECT_GT(legalized, 0) << design << ": every register takes its FL id";
        EXPECT_TRUE(all_legal) << design;
        // The 6-input benchmark has cells no rotation makes legal: they are split.
        if (input.find("_k6/") != std::string::npos) {
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
    for (const std::string& input : legalizer_designs()) {
        const std::string design = std::filesystem::path(input).filename().string();
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

namespace {

// Two cells the stand-in device cannot build as read (the reader fills
// inputs from A, so f sits on F): an AND of six inputs, which no rotation
// makes legal, and F & (!A | BCDE), which a rotation does; both feed a
// register, so that every flow has a path to time.
const char* const k_illegal_cells_blif = R"(.model illegal_cells
.inputs a b c d e f clk
.outputs q r
.names a b c d e f and6
111111 1
.names a b c d e f mix
0----1 1
-11111 1
.latch and6 q re clk 0
.names mix r
1 1
.end
)";

// What a sweep could change: the cells with their masks and inputs.
std::map<unsigned, std::string> cell_signature(MORV_API* api)
{
    std::map<unsigned, std::string> cells;
    for (CDB_ATOM_NODE* node : *api->get_atom_netlist()) {
        std::string sig = node->is_lcell_comb() ? std::to_string(api->get_fsyn_net_util()->get_lutmask(node)) : "";
        for (int port = DB_DATA_A; port <= DB_DATA_F; ++port) {
            CDB_ATOM_ITERM* iterm = node->get_input_term_by_type(port);
            sig += iterm != nullptr && iterm->is_connected() ? "1" : "0";
        }
        cells[node->get_id()] = sig;
    }
    return cells;
}

int illegal_cells(const CDB_ATOM_NETLIST& netlist)
{
    const CUT_ATOM_MORLIN_LEGALIZER rule;
    int illegal = 0;
    for (CDB_ATOM_NODE* node : netlist)
        if (node->is_lcell_comb() && !rule.is_node_legal(node)) ++illegal;
    return illegal;
}

struct MRL_COMPILE
{
    BLIF_READER reader{CDB_FAMILY_MRL};
    morv_host::HOST_DESIGN design;
    std::unique_ptr<morv_host::HOST_ENV> env;
    MRL_COMPILE(const std::string& input, const char* test_string) : design(CDB_FAMILY_MRL, reader.read_file(input))
    {
        if (*test_string != '\0') design.options().set_string(MORV_SETTING_TEST_STRING, test_string);
        env = std::make_unique<morv_host::HOST_ENV>(design);
    }
    MORV_EXPERT* expert() { return dynamic_cast<MORV_EXPERT*>(env->get_fsyn_expert()); }
    void run()
    {
        morv_host::FIT_OPTIONS options;
        options.family = "MRL";
        std::ostringstream log;
        morv_host::run_compile(*env, options, log);
    }
};

}  // namespace

// Cells the reader leaves illegal are legalised once, when the driver takes
// the netlist over and before placement, in the default flow (LUT-input
// remapping early), a LATE-only compile that changes nothing and one that
// remaps at LATE and sweeps: no flow sees an illegal cell, and another sweep
// after the compile finds nothing. A compile that runs no flow keeps the
// netlist as read.
TEST_F(FlowMrlLegalizer, CellsReadIllegalAreLegalisedBeforeTheFirstFlowAndASweepAfterChangesNothing)
{
    const std::string input = "illegal_cells.blif";
    std::ofstream(input) << k_illegal_cells_blif;
    for (const char* test_string : {"", "TEST()", "LIR()"}) {
        SCOPED_TRACE(std::string("test string '") + test_string + "'");
        MRL_COMPILE c(input, test_string);
        ASSERT_EQ(illegal_cells(*c.design.netlist()), 2);
        const CUT_ATOM_MORLIN_LEGALIZER rule;
        bool splits = false;
        for (CDB_ATOM_NODE* node : *c.design.netlist())
            if (node->is_lcell_comb()) splits |= !rule.is_lutmask_legal_by_rotation(node->get_lutmask().get_value());
        ASSERT_TRUE(splits) << "one cell needs a split";

        MORV_EXPERT* expert = c.expert();
        ASSERT_NE(expert, nullptr);
        EXPECT_EQ(illegal_cells(*c.design.netlist()), 0) << "before any flow";
        c.run();
        EXPECT_TRUE(expert->has_fsyn_run(*test_string == '\0' ? FIT_EARLY_FSYN_FLOW : LATE_FSYN_FLOW));
        MORV_API* api = expert->get_fsyn_api();
        EXPECT_EQ(illegal_cells(*c.design.netlist()), 0);
        const std::map<unsigned, std::string> before = cell_signature(api);
        EXPECT_EQ(MORV_ALGORITHM_BASE::sweep_family_netlist(api), 0);
        EXPECT_EQ(cell_signature(api), before);

        const std::string output = "illegal_cells.out.blif";
        blif_write_netlist_file(*c.design.netlist(), output, "illegal_cells");
        if (!abc_is_available()) continue;
        const ABC_RESULT r = abc_check_equivalence(input, output, true);
        EXPECT_TRUE(r.is_equivalent()) << abc_verdict_name(r.m_verdict) << "\n" << r.m_output;
    }
    cfg_set_value("fsyn_disable_lir_in_flat_flow", "on");
    MRL_COMPILE idle(input, "");
    ASSERT_NE(idle.expert(), nullptr);
    idle.run();
    EXPECT_FALSE(idle.expert()->can_any_fsyn_flow_run());
    EXPECT_EQ(illegal_cells(*idle.design.netlist()), 2) << "no flow, no edit";
}

}  // namespace flow_legalizer_test
