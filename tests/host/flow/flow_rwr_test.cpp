// Local rewiring on a placed and timed design: the local-optimisation
// protocol driven over every critical LUT input of frisc (tseng in the
// sanitizer build), each evaluated,
// performed under one set of touched nodes and cleaned up, leaves a design
// that ABC proves equivalent to the one read.

#include <gtest/gtest.h>

#include <set>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "abc_equiv.h"
#include "cdb/cdb_atom_netlist.h"
#include "cfg/cfg.h"
#include "host_compile.h"
#include "host_env.h"
#include "io/blif_reader.h"
#include "io/blif_writer.h"
#include "msg/msg.h"

#include "morv/core/morv_api.h"
#include "morv/core/morv_expert.h"
#include "morv/core/morv_setting_ids.h"
#include "morv/resyn/morv_rwr_family.h"
#include "morv/timing/morv_timing.h"
#include "test_build.h"

namespace flow_rwr_test {

using namespace morv_host;

namespace {

class FlowRwr : public ::testing::Test
{
protected:
    void SetUp() override
    {
        cfg_clear_all();
        msg_set_quiet(true);
    }
    void TearDown() override { cfg_clear_all(); }
};

TEST_F(FlowRwr, TheProtocolOverEveryCriticalInputOfFriscKeepsItEquivalent)
{
    // The sanitizer build drives it over the smallest 4-input benchmark.
    const std::string source =
        std::string(MORV_BENCH_DIR) + (k_small_designs_only ? "/mcnc_k4/tseng.blif" : "/mcnc_k4/frisc.blif");
    BLIF_READER reader(CDB_FAMILY_ZEPLA);
    HOST_DESIGN design(CDB_FAMILY_ZEPLA, reader.read_file(source));
    design.options().set_string(MORV_SETTING_TEST_STRING, "TEST()|TEST()");
    HOST_ENV env(design);
    FIT_OPTIONS options;
    options.family = "ZEPLA";
    std::ostringstream log;
    run_compile(env, options, log);
    MORV_API* api = dynamic_cast<MORV_EXPERT*>(env.get_fsyn_expert())->get_fsyn_api();

    MORV_PARAMETER_MAP params;
    MORV_RWR_ZEPLA rwr(api, &params);
    int iters = MORV_ALGORITHM_BASE::s_UNSET_INT;
    int hill = MORV_ALGORITHM_BASE::s_UNSET_INT;
    rwr.set_default_pass_parameters(0, iters, hill);
    // Nodes and ports: a rewiring may delete the terms of the nodes it changes.
    std::vector<std::pair<CDB_ATOM_NODE*, int>> critical;
    for (CDB_ATOM_NODE* node : *design.netlist()) {
        if (!node->is_lcell_comb()) continue;
        for (int port = DB_DATA_A; port <= DB_DATA_D; ++port) {
            CDB_ATOM_ITERM* iterm = node->get_input_term_by_type(port);
            if (iterm != nullptr && iterm->is_driven() &&
                api->get_fsyn_timing()->get_slack_ratio(iterm) < rwr.get_slack_ratio_threshold())
                critical.emplace_back(node, port);
        }
    }
    ASSERT_FALSE(critical.empty());
    rwr.init_iteration_for_local_optimization();
    std::set<int> touched;
    int evaluated = 0;
    int performed = 0;
    for (const auto& [node, port] : critical) {
        CDB_ATOM_ITERM* iterm = node->get_input_term_by_type(port);
        if (iterm == nullptr || touched.count(static_cast<int>(node->get_id())) != 0) continue;
        MORV_OWNER<MORV_LOCAL_OPT_INFO> info = rwr.evaluate_local_optimization(iterm);
        if (!info) continue;
        ++evaluated;
        performed += rwr.perform_local_optimization(iterm, info.get(), &touched) ? 1 : 0;
        rwr.cleanup_local_optimization(info);
    }
    EXPECT_GT(evaluated, 0);
    EXPECT_GT(performed, 0);
    EXPECT_EQ(rwr.get_swaps_done(), performed);
    EXPECT_TRUE(design.netlist()->verify());
    blif_write_netlist_file(*design.netlist(), "rewired.blif", "rewired");
    if (!abc_is_available()) return;
    const ABC_RESULT r = abc_check_equivalence(source, "rewired.blif", true, 300);
    EXPECT_TRUE(r.is_equivalent()) << abc_verdict_name(r.m_verdict) << "\n" << r.m_output;
}

// Before placement the rewiring of s1423 duplicates six-input cells whose
// masks read input F; each copy must read the same F as its original, and
// the whole compile stays equivalent.
TEST_F(FlowRwr, BothFlowsOfS1423OnBrkDuplicateCellsReadingFAndStayEquivalent)
{
    const std::string source = std::string(MORV_BENCH_DIR) + "/iscas89_k6/s1423.blif";
    BLIF_READER reader(CDB_FAMILY_BRK);
    HOST_DESIGN design(CDB_FAMILY_BRK, reader.read_file(source));
    design.options().set_string(MORV_SETTING_TEST_STRING, "RWR()|RWR()");
    HOST_ENV env(design);
    FIT_OPTIONS options;
    options.family = "BRK";
    std::ostringstream log;
    run_compile(env, options, log);

    int copies_reading_f = 0;
    for (CDB_ATOM_NODE* node : *design.netlist()) {
        const bool copy = node->get_instance_name() != nullptr &&
                          node->get_instance_name()->get_short_hpath().find("~dup") != std::string::npos;
        if (!node->is_lcell_comb() || !copy) continue;
        CDB_ATOM_ITERM* f = node->get_input_term_by_type(DB_DATA_F);
        if (f != nullptr && f->is_connected()) ++copies_reading_f;
    }
    EXPECT_GT(copies_reading_f, 0);
    EXPECT_TRUE(design.netlist()->verify());
    blif_write_netlist_file(*design.netlist(), "s1423_rwr.blif", "s1423");
    if (!abc_is_available()) return;
    const ABC_RESULT r = abc_check_equivalence(source, "s1423_rwr.blif", true, 300);
    EXPECT_TRUE(r.is_equivalent()) << abc_verdict_name(r.m_verdict) << "\n" << r.m_output;
}

}  // namespace

}  // namespace flow_rwr_test
