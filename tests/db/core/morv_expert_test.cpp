#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <typeinfo>
#include <vector>

#include "cfg/cfg.h"
#include "msg/msg.h"
#include "thr/thr.h"

#include "morv/core/morv_api.h"
#include "morv/core/morv_debug_stream.h"
#include "morv/core/morv_expert.h"
#include "morv/core/family/morv_expert_family.h"
#include "morv/core/morv_global.h"
#include "morv/netlist/morv_cluster_map.h"
#include "tdb/tdb_netlist.h"
#include "morv_probe_expert.h"
#include "morv_test_env.h"
#include "morv_test_util.h"

namespace morv_expert_test {

namespace {

const char* const NOP_ERROR = "ERROR - Invalid operation called for MORV_EXPERT_NOP.";

class MorvExpertTest : public MORV_CLEAN_STATE_TEST
{};

template <typename T>
bool driver_is(int base_family)
{
    MORV_TEST_HOST host(base_family);
    MORV_TEST_ENV env(&host.cmp);
    MORV_EXPERT_INTERFACE* expert = env.get_fsyn_expert();
    return expert != nullptr && typeid(*expert) == typeid(T);
}

TEST_F(MorvExpertTest, BaseFamilyCodeChoosesTheDriver)
{
    EXPECT_TRUE(driver_is<MORV_EXPERT_BRK>(6));
    EXPECT_TRUE(driver_is<MORV_EXPERT_ZEPLA>(9));
    EXPECT_TRUE(driver_is<MORV_EXPERT_ZEPLA>(35));
    EXPECT_TRUE(driver_is<MORV_EXPERT_TEV>(10));
    EXPECT_TRUE(driver_is<MORV_EXPERT_MRL>(24));
    EXPECT_TRUE(driver_is<MORV_EXPERT_KESTLIN>(34));
    EXPECT_TRUE(driver_is<MORV_EXPERT_RZK>(41));
    EXPECT_TRUE(driver_is<MORV_EXPERT_OBRAN>(42));
    EXPECT_TRUE(driver_is<MORV_EXPERT_UVO>(47));
    for (int family : {0, 7, 25, 43, 48}) EXPECT_TRUE(driver_is<MORV_EXPERT_NOP>(family)) << family;
}

TEST_F(MorvExpertTest, NoOpDriverShowsItsBoxAndAnswersNothing)
{
    MORV_TEST_HOST host(7);
    MORV_TEST_ENV env(&host.cmp);
    msg_clear_vdebug_lines();
    MORV_EXPERT_INTERFACE* expert = env.get_fsyn_expert();
    std::vector<std::string> lines;
    for (const auto& line : msg_vdebug_lines())
        if (line.text.find('*') != std::string::npos && line.text.find("MORV_ENV") == std::string::npos)
            lines.push_back(line.text);
    ASSERT_EQ(lines.size(), 6u);
    EXPECT_EQ(lines[0], "***************************************************************");
    EXPECT_EQ(lines[2], "*  WARNING: FSYN is not supported for this family.            *");
    EXPECT_EQ(lines[3], "*           The no-operation MORV_EXPERT_NOP has been used.   *");
    EXPECT_EQ(lines[5], lines[0]);

    for (int flow = 0; flow < NUM_FSYN_FLOWS; ++flow) {
        EXPECT_FALSE(expert->will_fsyn_run(static_cast<e_fsyn_flow>(flow)));
        EXPECT_FALSE(expert->has_fsyn_run(static_cast<e_fsyn_flow>(flow)));
    }
    EXPECT_FALSE(expert->will_fsyn_pipeline_net(nullptr));
    EXPECT_FALSE(expert->is_atom_modified_for_icp(3));
    expert->set_vpr_retry_state(2);
    EXPECT_EQ(expert->get_vpr_retry_state(), 0);
    EXPECT_EQ(internal_error_of([&] { expert->do_physical_synthesis(LATE_FSYN_FLOW); }), NOP_ERROR);
    EXPECT_EQ(internal_error_of([&] { expert->reset_fsyn_chip_map(); }), NOP_ERROR);
    EXPECT_EQ(internal_error_of([&] { expert->get_atom_preferred_cluster(1); }), NOP_ERROR);
    EXPECT_EQ(internal_error_of([&] { expert->fix_tdb_netlist_for_virtual_nodes(); }), NOP_ERROR);

    cfg_set_value("fsyn_plumrix_dump_post_route_netlist", "on");
    EXPECT_FALSE(expert->do_physical_synthesis(VERY_LATE_FSYN_FLOW));
    EXPECT_EQ(msg_vdebug_lines().back().text, "Post route netlist dump aborted.");
}

TEST_F(MorvExpertTest, FlowQueriesCheckTheRangeAndTheRetryState)
{
    MORV_TEST_HOST host(6);
    MORV_TEST_ENV env(&host.cmp);
    auto* expert = dynamic_cast<MORV_EXPERT*>(env.get_fsyn_expert());
    ASSERT_NE(expert, nullptr);
    const char* range = "fsyn_flow_id >= 0 && fsyn_flow_id < NUM_FSYN_FLOWS";
    EXPECT_EQ(internal_error_of([&] { expert->will_fsyn_run(static_cast<e_fsyn_flow>(7)); }), range);
    EXPECT_EQ(internal_error_of([&] { expert->has_fsyn_run(static_cast<e_fsyn_flow>(-1)); }), range);
    EXPECT_EQ(internal_error_of([&] { expert->is_fsyn_running(static_cast<e_fsyn_flow>(7)); }), range);

    EXPECT_EQ(expert->get_flow_type(), FSYN_FLOW_TYPE_UNSET);
    EXPECT_FALSE(expert->can_any_fsyn_flow_run());
    EXPECT_FALSE(expert->will_fsyn_run(CLUSTER_RETRY_FSYN_FLOW));
    expert->set_vpr_retry_state(2);
    EXPECT_EQ(expert->get_vpr_retry_state(), 2);
    EXPECT_FALSE(expert->will_fsyn_run(CLUSTER_RETRY_FSYN_FLOW));

    // The host must not call a flow point that was never enabled.
    EXPECT_FALSE(expert->has_fsyn_run(LATE_FSYN_FLOW));
    EXPECT_EQ(internal_error_of([&] { expert->do_physical_synthesis(LATE_FSYN_FLOW); }),
              "m_fsyn_flow_is_enabled[fsyn_flow_id]");
    EXPECT_FALSE(expert->is_fsyn_running_pre_placement_fsyn());
    EXPECT_TRUE(expert->is_device_supported_by_fsyn());
    EXPECT_STREQ(MORV_EXPERT::s_FSYN_ALGORITHM_SHORT_NAMES[SAVE_RESTORE_ALGORITHM], "SAVE_RESTORE");
    EXPECT_STREQ(MORV_EXPERT::s_FSYN_ALGORITHM_SHORT_NAMES[ALGORITHM_END], "");
    EXPECT_EQ(internal_error_of([&] { expert->will_fsyn_pipeline_net(nullptr); }), "src_oterm");
}

TEST_F(MorvExpertTest, FamilyHooksNameWhatIsMissingAndRefuseForeignReplays)
{
    MORV_TEST_HOST host(42);
    MORV_TEST_ENV env(&host.cmp);
    auto* expert = dynamic_cast<MORV_EXPERT*>(env.get_fsyn_expert());
    ASSERT_NE(expert, nullptr);
    // Something that does not exist yet is named once per compile.
    const std::string what = "Physical synthesis algorithm REG_PACK (MORV_REG_PACK)";
    EXPECT_EQ(not_available_warnings_of([&] { expert->warn_not_available(what); }),
              what + " is not available yet in this build and is skipped.\n");
    EXPECT_EQ(not_available_warnings_of([&] { expert->warn_not_available(what); }), "") << "one warning per compile";
    EXPECT_EQ(internal_error_of([&] { expert->run_fsyn_replay_log_flow(); }), "We shouldn't be here.");
    EXPECT_FALSE(expert->is_fsyn_allowed_in_flat_flow());
    EXPECT_TRUE(expert->tune_stability_threshold());
}

TEST_F(MorvExpertTest, LocationAndClusterQueriesWithoutMapsAreSafe)
{
    MORV_TEST_HOST host(6);
    std::vector<int> ids = host.build_chain(4);
    MORV_TEST_ENV env(&host.cmp);
    auto* expert = dynamic_cast<MORV_EXPERT*>(env.get_fsyn_expert());
    ASSERT_NE(expert, nullptr);

    // No flow has created the chip map yet.
    ASSERT_EQ(expert->get_fsyn_api()->get_fsyn_chip_map(), nullptr);
    expert->set_atoms_preferred_location(ids[0], 1, 2, 3, 4);
    int x = 9, y = 9, sub = 9, index = 9;
    EXPECT_FALSE(expert->get_atoms_preferred_location(ids[0], &x, &y, &sub, &index));
    expert->reset_fsyn_chip_map();

    expert->get_fsyn_api()->reset_fsyn_chip_map(false);
    expert->set_atoms_preferred_location(ids[0], 1, 2, 3, 4);
    EXPECT_TRUE(expert->get_atoms_preferred_location(ids[0], &x, &y, &sub, &index));
    EXPECT_EQ(x * 1000 + y * 100 + sub * 10 + index, 1234);
    expert->reset_fsyn_chip_map();
    EXPECT_FALSE(expert->get_atoms_preferred_location(ids[0], &x, &y, &sub, &index));
    EXPECT_EQ(x, -1);
    EXPECT_EQ(internal_error_of([&] { expert->set_atoms_preferred_location(ids[0], 8, 0, 0, 0); }),
              "verify_location( location )");

    EXPECT_EQ(expert->get_atom_preferred_cluster(ids[1]), -1);
    expert->set_atom_preferred_cluster(ids[1], 5, 0);
    expert->set_atom_preferred_cluster(ids[2], 5, 0);
    EXPECT_EQ(expert->get_atom_preferred_cluster(ids[1]), 5);
    EXPECT_EQ(expert->get_fsyn_api()->get_fsyn_cluster_map()->get_companion_node(ids[1], false), ids[2]);
    EXPECT_EQ(expert->get_clustered_companion_node(ids[1]), -1);  // no register packing
    expert->reset_fsyn_cluster_map();
    EXPECT_EQ(expert->get_atom_preferred_cluster(ids[1]), -1);
    EXPECT_EQ(internal_error_of([&] { expert->set_atom_preferred_cluster(9999, 1, 0); }), "node");
}

TEST_F(MorvExpertTest, EarlyNetlistSaveRestoreAndDiscard)
{
    MORV_TEST_HOST host(6);
    host.build_chain(3);
    MORV_TEST_ENV env(&host.cmp);
    auto* expert = dynamic_cast<MORV_EXPERT*>(env.get_fsyn_expert());
    ASSERT_NE(expert, nullptr);

    expert->restore_early_netlist();  // nothing saved: nothing happens
    EXPECT_EQ(expert->get_early_netlist_state_id(), -1);
    EXPECT_EQ(env.m_restore_calls, 0);

    expert->save_early_netlist_incase_vpr_fails();
    EXPECT_EQ(expert->get_early_netlist_state_id(), 0);
    expert->discard_early_netlist();
    EXPECT_EQ(expert->get_early_netlist_state_id(), -1);
    expert->restore_early_netlist();
    EXPECT_EQ(env.m_restore_calls, 0);

    expert->save_early_netlist_incase_vpr_fails();
    EXPECT_EQ(expert->get_early_netlist_state_id(), 1);
    expert->restore_early_netlist();
    EXPECT_EQ(env.m_restore_calls, 1);
    EXPECT_EQ(expert->get_early_netlist_state_id(), -1);
    EXPECT_GE(env.m_build_timing_calls, 1);  // timing re-synchronised after the restore
    EXPECT_FALSE(expert->will_fsyn_run(FIT_EARLY_FSYN_FLOW));
}

TEST_F(MorvExpertTest, PipelineQueryNeedsPipeAsyncInBothTestStringPartsOrEnabled)
{
    struct CASE
    {
        const char* test_string;  // nullptr: none
        bool enabled;             // PIPE_ASYNC may run
        bool answer;
    } cases[] = {
        {"PIPE_ASYNC()|PIPE_ASYNC()", false, true},
        {"TEST()|PIPE_ASYNC()", false, false},
        {"PIPE_ASYNC()|TEST()", false, false},
        {"TEST()|TEST()", true, true},
        {nullptr, false, false},
    };
    for (const CASE& c : cases) {
        MORV_TEST_HOST host(6);
        std::vector<int> ids = host.build_chain(2);
        if (c.test_string) host.ap.get_options().set_string(634, c.test_string);
        MORV_GATE_ENV env(&host.cmp);
        MORV_PROBE_EXPERT expert(&env);
        expert.set_algorithm_may_run(PIPE_ASYNC_ALGORITHM, c.enabled);

        PIPE_ASYNC_OTERM recorded;
        recorded.m_node_id = static_cast<uint32_t>(ids[0]);
        s_morv_critical_async_sources.insert(recorded);
        CDB_ATOM_NODE* source = env.get_node(ids[0]);
        CDB_ATOM_NODE* other = env.get_node(ids[1]);
        EXPECT_EQ(expert.will_fsyn_pipeline_net(*source->begin_oterm()), c.answer)
            << (c.test_string ? c.test_string : "-") << " " << c.enabled;
        EXPECT_FALSE(expert.will_fsyn_pipeline_net(*other->begin_oterm()));
        s_morv_critical_async_sources.clear();
    }
}

// Edges of the timing netlist whose IC and cell delays are both 0.
int count_zero_delay_edges(TDB_NETLIST* tdb)
{
    int n = 0;
    for (int id = 0; id < tdb->get_edge_id_bound(); ++id) {
        TDB_EDGE* edge = tdb->find_edge(id);
        if (edge == nullptr) continue;
        const TDB_DELAY* delay = edge->get_delay();
        if (delay->get_delay(TDB_DELAY_IC, TDB_MAX, 0) == 0 && delay->get_delay(TDB_DELAY_CELL, TDB_MAX, 0) == 0) ++n;
    }
    return n;
}

TEST_F(MorvExpertTest, VirtualNodeTimingFixZeroesOnlyTheirEdgesAndCountsEveryId)
{
    MORV_TEST_HOST host(10);
    std::vector<int> ids = host.build_chain(4);
    MORV_TEST_ENV env(&host.cmp);
    auto* expert = dynamic_cast<MORV_EXPERT*>(env.get_fsyn_expert());
    ASSERT_NE(expert, nullptr);
    env.build_timing_netlist(expert->get_fsyn_timing(), false, true, true, false, true, true);
    TDB_NETLIST* tdb = tdc_get_accessories()->get_tdb_netlist();
    ASSERT_NE(tdb, nullptr);
    int edge_count = 0;
    for (int id = 0; id < tdb->get_edge_id_bound(); ++id) {
        if (TDB_EDGE* edge = tdb->find_edge(id)) {
            edge->get_delay()->set_delay(TDB_DELAY_IC, 50);
            edge->get_delay()->set_delay(TDB_DELAY_CELL, 70);
            ++edge_count;
        }
    }
    ASSERT_GT(edge_count, 2);

    const std::string file = "virtual_node_fix.txt";
    std::remove(file.c_str());
    MORV_DEBUG_STREAM& stream = MORV_DEBUG_STREAM::get_stream();
    stream.reset(file.c_str());
    stream.set_enabled(true);
    stream.set_fstream(true);
    stream.set_threshold(100);

    expert->add_virtual_node(999999999);  // no such atom
    expert->add_virtual_node(ids[1]);
    expert->fix_tdb_netlist_for_virtual_nodes();  // switch off: nothing
    EXPECT_EQ(count_zero_delay_edges(tdb), 0);

    cfg_set_value("fsyn_fix_tdb_netlist_for_virtual_nodes", "on");
    expert->fix_tdb_netlist_for_virtual_nodes();
    const int zeroed = count_zero_delay_edges(tdb);
    EXPECT_GT(zeroed, 0);
    EXPECT_LT(zeroed, edge_count);  // the other atoms keep their delays
    stream.reset();

    std::vector<std::string> lines;
    std::ifstream in(file);
    for (std::string line; std::getline(in, line);)
        if (line.find("irtual node") != std::string::npos || line.find("Edges modified") != std::string::npos)
            lines.push_back(line);
    const std::vector<std::string> expected = {
        "Adding virtual node <999999999> to set",
        "Adding virtual node <" + std::to_string(ids[1]) + "> to set",
        "Fixing timing for virtual nodes",
        "   Fixing timing on virtual node <" + std::to_string(ids[1]) + ">",
        "      Edges modified: " + std::to_string(zeroed),
        "   Fixing timing on virtual node <999999999>",
        "      Edges modified: 0",
    };
    EXPECT_EQ(lines, expected);
}

TEST_F(MorvExpertTest, VirtualNodesAndModifiedAtoms)
{
    MORV_TEST_HOST host(10);
    std::vector<int> ids = host.build_chain(3);
    MORV_TEST_ENV env(&host.cmp);
    auto* expert = dynamic_cast<MORV_EXPERT*>(env.get_fsyn_expert());
    ASSERT_NE(expert, nullptr);
    CDB_ATOM_NODE* node = env.get_node(ids[1]);
    EXPECT_FALSE(expert->is_virtual_node(node));
    expert->add_virtual_node(ids[1]);
    EXPECT_TRUE(expert->is_virtual_node(node));
    expert->remove_virtual_node(ids[1]);
    expert->remove_virtual_node(ids[1]);  // absent: no harm
    EXPECT_FALSE(expert->is_virtual_node(node));
    expert->add_virtual_node(ids[0]);
    expert->clear_virtual_nodes();
    EXPECT_FALSE(expert->is_virtual_node(env.get_node(ids[0])));
    EXPECT_EQ(internal_error_of([&] { expert->is_virtual_node(nullptr); }), "node");

    for (int id : ids) EXPECT_FALSE(expert->is_atom_modified_for_icp(id));
    expert->get_fsyn_api()->note_atom_modified_for_icp(ids[2]);
    EXPECT_TRUE(expert->is_atom_modified_for_icp(ids[2]));
    EXPECT_FALSE(expert->is_atom_modified_for_icp(ids[0]));
    EXPECT_FALSE(expert->is_fsyn_running_in_migration_replay_log_mode());
}

}  // namespace

}  // namespace morv_expert_test
