// What the flow driver and the facade own is released however their work
// ends: a constructor that fails half way, a flow or an algorithm that an
// exception leaves, a saved state dropped without its facade share freed.

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "cfg/cfg.h"
#include "mem/mem.h"

#include "morv/core/morv_api.h"
#include "morv/core/morv_expert.h"
#include "morv/netlist/morv_save_restore.h"
#include "morv/resyn/morv_remux.h"
#include "morv_test_env.h"
#include "morv_test_util.h"

namespace morv_ownership_test {

namespace {

// A host that throws from the operation the test names, once its countdown
// of calls to that operation runs out.
class FAILING_ENV : public MORV_TEST_ENV
{
public:
    using MORV_TEST_ENV::MORV_TEST_ENV;

    CDB_ATOM_NETLIST* get_atom_netlist() override
    {
        maybe_fail("atom netlist");
        return MORV_TEST_ENV::get_atom_netlist();
    }
    int get_grid_nx() override
    {
        maybe_fail("grid");
        return MORV_TEST_ENV::get_grid_nx();
    }
    MORV_ICP_RESULT run_icp(bool, bool, double, bool, bool, bool, bool) override
    {
        maybe_fail("icp");
        MORV_ICP_RESULT result;
        result.m_status = 1;
        return result;
    }
    int save_state() override
    {
        maybe_fail("save");
        return MORV_TEST_ENV::save_state();
    }
    int get_resource_count(int) override { return 1000; }
    void end_of_fsyn_flow() override { ++m_flow_ends; }

    std::string m_fail_at;
    int m_calls_before_failure = 0;
    int m_flow_ends = 0;
    bool m_failed_inside_algorithm = false;

private:
    void maybe_fail(const char* operation)
    {
        if (m_fail_at != operation) return;
        if (m_calls_before_failure-- > 0) return;
        auto* expert = dynamic_cast<MORV_EXPERT*>(peek_fsyn_expert());
        m_failed_inside_algorithm = expert != nullptr && expert->get_current_algorithm() != nullptr;
        throw std::runtime_error(std::string("host failed in ") + operation);
    }
};

MEM_TAG_STATS morv_memory()
{
    return mem_get_tag_stats("MORV");
}

class MorvOwnershipTest : public MORV_CLEAN_STATE_TEST
{};

// Each point fails the construction at a different depth: before the facade
// has any service, after it has them all, and after the flow driver around
// it is complete (the family's constructor).
TEST_F(MorvOwnershipTest, AFailedConstructionLeavesNothingAllocated)
{
    struct CASE
    {
        const char* fail_at;
        int family;
        bool qor_stats;
    } cases[] = {{"atom netlist", 6, false}, {"atom netlist", 47, true}, {"grid", 6, true}, {"grid", 10, false}};
    for (const CASE& c : cases) {
        cfg_clear_all();
        if (c.qor_stats) cfg_set_value("fsyn_dump_qor_stats", "on");
        MORV_TEST_HOST host(c.family);
        host.ap.get_options().set_string(634, "TEST()");
        host.build_chain(3);
        FAILING_ENV env(&host.cmp);
        env.m_fail_at = c.fail_at;
        const MEM_TAG_STATS before = morv_memory();
        EXPECT_THROW(env.get_fsyn_expert(), std::runtime_error) << c.fail_at << " " << c.family;
        EXPECT_EQ(env.peek_fsyn_expert(), nullptr);
        EXPECT_EQ(morv_memory().live_objects, before.live_objects) << c.fail_at << " " << c.family;
        EXPECT_EQ(morv_memory().live_bytes, before.live_bytes) << c.fail_at << " " << c.family;

        // The environment stays usable: the next attempt builds a driver.
        env.m_fail_at.clear();
        EXPECT_NE(dynamic_cast<MORV_EXPERT*>(env.get_fsyn_expert()), nullptr);
    }
}

// An exception inside an algorithm run leaves the LATE flow: the flow must
// not stay marked as running, the host must still hear that the flow ended,
// and the algorithm object must go.
TEST_F(MorvOwnershipTest, AnExceptionThroughAFlowRestoresItsFlagsAndFreesTheAlgorithm)
{
    MORV_TEST_HOST host(6);
    host.ap.get_options().set_string(634, "TEST(NP=1:NI=2)");
    host.build_chain(4);
    FAILING_ENV env(&host.cmp);
    const MEM_TAG_STATS before = morv_memory();
    auto* expert = dynamic_cast<MORV_EXPERT*>(env.get_fsyn_expert());
    ASSERT_NE(expert, nullptr);
    ASSERT_TRUE(expert->will_fsyn_run(LATE_FSYN_FLOW));

    // The run driver saves the netlist before its first pass.
    env.m_fail_at = "save";
    EXPECT_THROW(expert->do_physical_synthesis(LATE_FSYN_FLOW), std::runtime_error);
    ASSERT_TRUE(env.m_failed_inside_algorithm);
    EXPECT_FALSE(expert->is_fsyn_running(LATE_FSYN_FLOW));
    EXPECT_FALSE(expert->is_fsyn_running_pre_placement_fsyn());
    EXPECT_EQ(expert->get_current_algorithm(), nullptr);
    EXPECT_EQ(env.m_flow_ends, 1);

    // The same driver runs the flow again once the host behaves.
    env.m_fail_at.clear();
    EXPECT_TRUE(expert->do_physical_synthesis(LATE_FSYN_FLOW));
    EXPECT_EQ(env.m_flow_ends, 2);

    env.free_fsyn_expert();
    EXPECT_EQ(morv_memory().live_objects, before.live_objects);
    EXPECT_EQ(morv_memory().live_bytes, before.live_bytes);
}

// An exception in the early flow's first analysis: the early flow is not
// left running, so a later query does not take the compile for pre-placement.
TEST_F(MorvOwnershipTest, AnExceptionInTheEarlyFlowDoesNotLeaveItRunning)
{
    MORV_TEST_HOST host(6);
    host.ap.get_options().set_string(634, "TEST()|TEST()");
    host.build_chain(2);
    FAILING_ENV env(&host.cmp);
    auto* expert = dynamic_cast<MORV_EXPERT*>(env.get_fsyn_expert());
    ASSERT_NE(expert, nullptr);
    const e_fsyn_flow early = MORV_ENV::where_does_early_fsyn_run(&host.cmp);
    ASSERT_TRUE(expert->will_fsyn_run(early));
    env.m_fail_at = "grid";
    EXPECT_THROW(expert->do_physical_synthesis(early), std::runtime_error);
    EXPECT_FALSE(expert->is_fsyn_running_early_fsyn());
    EXPECT_FALSE(expert->is_fsyn_running_pre_placement_fsyn());
    EXPECT_EQ(env.m_flow_ends, 1);
}

// A saved state that is thrown away without the facade's free step (the
// host's manager going first, say) still releases what it holds.
TEST_F(MorvOwnershipTest, ASnapshotReleasesItsShareWhenDestroyed)
{
    MORV_TEST_HOST host(6);
    host.build_chain(3);
    MORV_TEST_ENV env(&host.cmp);
    auto* expert = dynamic_cast<MORV_EXPERT*>(env.get_fsyn_expert());
    ASSERT_NE(expert, nullptr);
    MORV_API* api = expert->get_fsyn_api();
    api->reset_fsyn_chip_map(true);
    const MEM_TAG_STATS before = morv_memory();
    {
        MORV_SAVE_RESTORE_SNAPSHOT snapshot(0);
        api->take_snapshot(&snapshot);
        EXPECT_NE(snapshot.m_chip_map, nullptr);
        EXPECT_NE(snapshot.m_nt, nullptr);
        EXPECT_GT(morv_memory().live_objects, before.live_objects);
    }
    // Node tracking moved into the snapshot and the facade took a copy: the
    // count is back where it was, with the facade's tracking still in place.
    EXPECT_EQ(morv_memory().live_objects, before.live_objects);
    EXPECT_NE(api->get_fsyn_nt(), nullptr);

    MORV_SAVE_RESTORE_SNAPSHOT freed(1);
    api->take_snapshot(&freed);
    api->delete_snapshot(&freed);
    EXPECT_EQ(freed.m_chip_map, nullptr);
    EXPECT_EQ(freed.m_cluster_map, nullptr);
    EXPECT_EQ(freed.m_stats, nullptr);
    EXPECT_EQ(freed.m_nt, nullptr);
    EXPECT_EQ(morv_memory().live_objects, before.live_objects);
}

}  // namespace

}  // namespace morv_ownership_test
