#include <gtest/gtest.h>

#include <string>

#include "cfg/cfg.h"
#include "msg/msg.h"
#include "thr/thr.h"

#include "morv/core/morv_api.h"
#include "morv/core/morv_debug_stream.h"
#include "morv/core/morv_expert.h"
#include "morv_test_env.h"

namespace morv_env_test {

namespace {

// Runs f and answers the condition text of the internal error it raised.
template <typename F>
std::string internal_error_of(F&& f)
{
    try {
        f();
    } catch (const MSG_INTERNAL_ERROR_EXCEPTION& e) {
        EXPECT_EQ(e.get_module(), "MORV");
        return e.get_condition();
    }
    return "<no internal error>";
}

int count_vdebug(const std::string& text)
{
    int n = 0;
    for (const auto& line : msg_vdebug_lines())
        if (line.text == text) ++n;
    return n;
}

class MorvEnvTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        cfg_clear_all();
        thr_drl_reset();
        msg_clear_vdebug_lines();
        msg_set_quiet(true);
    }
    void TearDown() override
    {
        cfg_clear_all();
        thr_drl_reset();
    }
};

TEST_F(MorvEnvTest, ConstructionChecksEachLinkOfTheFacadeChainInOrder)
{
    EXPECT_EQ(internal_error_of([] { MORV_TEST_ENV env(nullptr); }), "m_cmp != NULL");

    MORV_TEST_HOST host(6);
    host.cmp.set_cmp_entry(nullptr);
    EXPECT_EQ(internal_error_of([&] { MORV_TEST_ENV env(&host.cmp); }), "cmp_action_point_instance != NULL");
    host.cmp.set_cmp_entry(&host.cmp_entry);

    host.cmp_entry.set_db_entries(nullptr);
    EXPECT_EQ(internal_error_of([&] { MORV_TEST_ENV env(&host.cmp); }), "db_entries != NULL");
    host.cmp_entry.set_db_entries(&host.db_entries);

    EXPECT_EQ(internal_error_of([&] { MORV_TEST_ENV env(&host.cmp, 3); }), "m_chip_db_entry != NULL");

    host.chip_entry.set_atom_netlist(nullptr);
    EXPECT_EQ(internal_error_of([&] { MORV_TEST_ENV env(&host.cmp); }), "m_atom_netlist != NULL");
    host.chip_entry.set_atom_netlist(host.netlist.get());

    // A failed construction leaves no dangling current environment behind.
    EXPECT_EQ(MORV_ENV::get_env(), nullptr);

    MORV_TEST_ENV env(&host.cmp);
    EXPECT_EQ(env.get_atom_netlist(), host.netlist.get());
    EXPECT_EQ(env.get_base_family_code(), 6);
    EXPECT_EQ(env.get_boundary_port_manager(), nullptr);
    EXPECT_EQ(env.get_project_name(), "top");
    EXPECT_EQ(count_vdebug("Setting up MORV_ENV..."), 6);
    EXPECT_EQ(count_vdebug("Finished setting up MORV_ENV."), 1);
}

TEST_F(MorvEnvTest, RunTimeLoaderFailuresReportTheLoadersOwnText)
{
    MORV_TEST_HOST host(6);
    thr_drl_set_load_failure(THR_DRL_BPM_LIBRARY, true);
    std::string text = internal_error_of([&] { MORV_TEST_ENV env(&host.cmp); });
    EXPECT_FALSE(text.empty());
    EXPECT_NE(text, "<no internal error>");
    EXPECT_EQ(text, std::string(thr_drl_get_error()));
    thr_drl_set_load_failure(THR_DRL_BPM_LIBRARY, false);

    thr_drl_unregister_library(THR_DRL_BPM_LIBRARY);
    text = internal_error_of([&] { MORV_TEST_ENV env(&host.cmp); });
    EXPECT_NE(text, "<no internal error>");
    EXPECT_EQ(text, std::string(thr_drl_get_error()));
}

TEST_F(MorvEnvTest, CurrentEnvironmentFollowsConstructionAndSurvivesAnOlderOnesDestruction)
{
    MORV_TEST_HOST host(6);
    auto* first = new MORV_TEST_ENV(&host.cmp);
    EXPECT_EQ(MORV_ENV::get_env(), first);
    auto* second = new MORV_TEST_ENV(&host.cmp);
    EXPECT_EQ(MORV_ENV::get_env(), second);
    delete first;
    EXPECT_EQ(MORV_ENV::get_env(), second);
    delete second;
    EXPECT_EQ(MORV_ENV::get_env(), nullptr);
}

TEST_F(MorvEnvTest, FlowDriverIsCreatedOnceAndRecreatedAfterFree)
{
    MORV_TEST_HOST host(6);
    MORV_TEST_ENV env(&host.cmp);
    env.free_fsyn_expert();  // nothing to free yet
    MORV_EXPERT_INTERFACE* expert = env.get_fsyn_expert();
    ASSERT_NE(expert, nullptr);
    EXPECT_EQ(env.get_fsyn_expert(), expert);
    EXPECT_EQ(count_vdebug("***** MORV_ENV allocating new MORV_EXPERT *****"), 1);
    env.free_fsyn_expert();
    EXPECT_EQ(env.peek_fsyn_expert(), nullptr);
    EXPECT_NE(env.get_fsyn_expert(), nullptr);
    EXPECT_EQ(count_vdebug("***** MORV_ENV allocating new MORV_EXPERT *****"), 2);
}

TEST_F(MorvEnvTest, EarlyFlowPointDependsOnFamilySwitchAndEarlyTiming)
{
    CMP_FACADE cmp;
    cmp.set_base_family_code(41);
    EXPECT_EQ(MORV_ENV::where_does_early_fsyn_run(&cmp), SYN_EARLY_FSYN_FLOW);
    cfg_set_value("ssyn_fsyn", "off");
    EXPECT_EQ(MORV_ENV::where_does_early_fsyn_run(&cmp), FIT_EARLY_FSYN_FLOW);
    cfg_set_value("ssyn_fsyn", "on");
    // Without early timing the early flow can only run once the fitter has it.
    cfg_set_value("tdc_early_timing", "off");
    EXPECT_EQ(MORV_ENV::where_does_early_fsyn_run(&cmp), FIT_EARLY_FSYN_FLOW);
    cfg_unset("tdc_early_timing");
    for (int family : {9, 25, 26, 34, 35, 42}) {
        cmp.set_base_family_code(family);
        EXPECT_EQ(MORV_ENV::where_does_early_fsyn_run(&cmp), SYN_EARLY_FSYN_FLOW) << family;
    }
    for (int family : {6, 10, 24, 47}) {
        cmp.set_base_family_code(family);
        EXPECT_EQ(MORV_ENV::where_does_early_fsyn_run(&cmp), FIT_EARLY_FSYN_FLOW) << family;
    }
}

TEST_F(MorvEnvTest, UnsupportedSourceQueriesAlwaysStop)
{
    MORV_TEST_HOST host(6);
    MORV_TEST_ENV env(&host.cmp);
    int type = 0, port = 0;
    EXPECT_EQ(internal_error_of([&] { env.get_boundary_port_source(nullptr, &type, &port); }),
              "Function (get_boundary_port_source) not implemented for this flow.");
    EXPECT_EQ(internal_error_of([&] { env.get_blackbox_source(nullptr, &type, &port); }),
              "Function (get_blackbox_source) not implemented for this flow.");
    EXPECT_FALSE(env.is_stitched_node(1));
    EXPECT_FALSE(env.is_fake_auto_device());
}

TEST_F(MorvEnvTest, StateOperationsNeedTheFacadeAndCheckTheSnapshotId)
{
    MORV_TEST_HOST host(6);
    host.build_chain(3);
    MORV_TEST_ENV env(&host.cmp);
    EXPECT_EQ(internal_error_of([&] { env.save_state(); }), "morv_api");
    env.clear_all_states();  // no snapshots: nothing happens

    env.get_fsyn_expert();
    const int id = env.save_state();
    EXPECT_EQ(id, 0);
    EXPECT_EQ(env.m_snapshots.get_number_of_snapshots(), 1);

    // A position whose snapshot carries another id stops before anything is restored.
    env.m_snapshots.get_snapshot_at_position(0)->m_id = 5;
    EXPECT_EQ(internal_error_of([&] { env.restore_state(0); }), "snapshot->m_id == state_id");
    EXPECT_EQ(env.m_pre_restore_calls, 1);
    EXPECT_EQ(env.m_assimilated_calls, 0);
    env.m_snapshots.get_snapshot_at_position(0)->m_id = 0;

    MORV_DEBUG_STREAM::get_stream().set_vdebug(true);
    MORV_DEBUG_STREAM::get_stream().set_enabled(true);
    msg_clear_vdebug_lines();
    env.clear_state(0);
    EXPECT_EQ(env.m_snapshots.get_snapshot_at_position(0)->m_id, -1);
    EXPECT_EQ(count_vdebug("Clearing state < 0 >..."), 1);
    env.clear_state(0);  // already cleared: no line
    env.clear_all_states();
    EXPECT_EQ(count_vdebug("Clearing state < 0 >..."), 1);
    EXPECT_EQ(internal_error_of([&] { env.clear_state(4); }),
              "position >= 0 && position < (int)(m_snapshots_stack.size())");
}

}  // namespace

}  // namespace morv_env_test
