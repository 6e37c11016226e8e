#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "cfg/cfg.h"
#include "dev/dev_device.h"
#include "hdb/hdb_options.h"
#include "idu/idu_partition_manager.h"
#include "msg/msg.h"

#include "morv/core/morv_api.h"
#include "morv_probe_expert.h"
#include "morv_test_util.h"

namespace morv_mode_test {

namespace {

class MorvModeTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        cfg_clear_all();
        msg_set_quiet(true);
        msg_clear_posted_messages();
        IDU_PARTITION_MANAGER::reset_instance();
    }
    void TearDown() override
    {
        cfg_clear_all();
        IDU_PARTITION_MANAGER::reset_instance();
        DMGR_UTILITY::set_current_device(nullptr);
    }

    // Builds the driver for base_family with the given project settings.
    struct RUN
    {
        explicit RUN(int base_family) : host(base_family)
        {
            cfg_clear_all();
            if (base_family != 7) host.build_chain(3);
            env = std::make_unique<MORV_GATE_ENV>(&host.cmp);
        }
        MORV_PROBE_EXPERT& start(bool flat_allowed = false)
        {
            expert = std::make_unique<MORV_PROBE_EXPERT>(env.get(), flat_allowed);
            return *expert;
        }
        HDB_OPTION_SET& options() { return host.ap.get_options(); }
        ~RUN()
        {
            expert.reset();
            env.reset();
        }
        MORV_TEST_HOST host;
        std::unique_ptr<MORV_GATE_ENV> env;
        std::unique_ptr<MORV_PROBE_EXPERT> expert;
    };
};

TEST_F(MorvModeTest, ReplayLogWinsOverTheTestStringAndAnAbsentLogIsNoReplay)
{
    {
        RUN run(6);
        run.options().set_string(661, "top.map.psl");
        run.options().set_string(634, "TEST()");
        MORV_PROBE_EXPERT& expert = run.start();
        EXPECT_EQ(expert.get_flow_type(), FSYN_REPLAY_LOG_FLOW);
        EXPECT_EQ(expert.enabled_flows(), "01000");
        EXPECT_EQ(expert.read_log_name(), "top.map.psl");
        EXPECT_EQ(expert.get_test_string_part(LATE_FSYN_FLOW), "");
    }
    {
        // Nothing set on a migration family: an ordinary compile, nothing enabled.
        RUN run(24);
        MORV_PROBE_EXPERT& expert = run.start();
        EXPECT_EQ(expert.get_flow_type(), FSYN_FLOW_TYPE_UNSET);
        EXPECT_EQ(expert.read_log_name(), "");
        EXPECT_EQ(expert.enabled_flows(), "00000");
    }
    {
        // The setting names a log, but replay exists only for families 6 and 24.
        RUN run(10);
        run.options().set_string(661, "top.map.psl");
        MORV_PROBE_EXPERT& expert = run.start();
        EXPECT_EQ(expert.read_log_name(), "");
        EXPECT_NE(expert.get_flow_type(), FSYN_REPLAY_LOG_FLOW);
    }
    // A replay asked for without a file name fails the compile when the
    // setting is read; a family that replays nothing says it ignores it.
    for (int family : {6, 24, 10}) {
        RUN run(family);
        run.options().set_string(661, "");
        msg_clear_posted_messages();
        MORV_PROBE_EXPERT& expert = run.start();
        const bool replays = family != 10;
        EXPECT_NE(expert.get_flow_type(), FSYN_REPLAY_LOG_FLOW) << family;
        EXPECT_EQ(count_posted("EMORV_FSYN_LOG_FILE_NOT_FOUND"), replays ? 1 : 0) << family;
        EXPECT_EQ(count_posted("WMORV_FSYN_READ_LOG_IGNORED"), replays ? 0 : 1) << family;
    }
}

TEST_F(MorvModeTest, UserSettingsEnableTheirFlowsAndAskTheFamilyForAlgorithms)
{
    struct CASE
    {
        int family;
        int setting;
        const char* flows;
    } cases[] = {
        {6, 662, "00001"},   // duplication: LATE only
        {6, 665, "01001"},   // asynchronous pipelining: FIT_EARLY and LATE
        {6, 664, "01001"},   // retiming: the early flow (FIT_EARLY here) and LATE
        {6, 659, "00010"},   // fitting: CLUSTER_RETRY
        {24, 663, "00000"},  // no cluster retry on this family
        {47, 659, "00000"},
    };
    for (const CASE& c : cases) {
        RUN run(c.family);
        run.options().set_bool(c.setting, true);
        run.options().set_enum(696, 81);
        MORV_PROBE_EXPERT& expert = run.start();
        EXPECT_EQ(expert.get_flow_type(), FSYN_USER_OPTION_FLOW) << c.setting;
        EXPECT_EQ(expert.enabled_flows(), c.flows) << c.family << " " << c.setting;
        EXPECT_EQ(expert.m_user_option_calls, 1);
        EXPECT_EQ(expert.effort(), 81);
    }
}

// An instance that switches an optimisation on enables it as the project
// setting would; one that only switches an optimisation off enables nothing.
TEST_F(MorvModeTest, AnInstanceThatSwitchesAnOptimisationOnEnablesIt)
{
    {
        RUN run(6);
        run.host.ap.edit_instance_options(std::string("lut1")).set_bool(662, true);
        run.host.ap.edit_instance_options(std::string("lut2")).set_bool(664, false);
        MORV_PROBE_EXPERT& expert = run.start();
        EXPECT_EQ(expert.get_flow_type(), FSYN_USER_OPTION_FLOW);
        EXPECT_EQ(expert.enabled_flows(), "00001");
        EXPECT_TRUE(expert.algorithm_may_run(REP_ALGORITHM));
        EXPECT_FALSE(expert.algorithm_may_run(RTM_ALGORITHM));
    }
    {
        RUN run(6);
        run.options().set_bool(664, true);
        run.host.ap.edit_instance_options(std::string("lut1")).set_bool(664, false);
        MORV_PROBE_EXPERT& expert = run.start();
        EXPECT_TRUE(expert.algorithm_may_run(RTM_ALGORITHM));
        EXPECT_FALSE(expert.algorithm_may_run(REP_ALGORITHM));
    }
    {
        RUN run(6);
        run.host.ap.edit_instance_options(std::string("lut0")).set_bool(664, false);
        MORV_PROBE_EXPERT& expert = run.start();
        EXPECT_NE(expert.get_flow_type(), FSYN_USER_OPTION_FLOW);
        EXPECT_EQ(expert.enabled_flows(), "00000");
    }
}

TEST_F(MorvModeTest, TestStringEnablesThePartsItHasAndEveryAlgorithm)
{
    {
        RUN run(6);
        run.options().set_string(634, "TEST(NP=1)");
        MORV_PROBE_EXPERT& expert = run.start();
        EXPECT_EQ(expert.get_flow_type(), FSYN_TEST_STRING_FLOW);
        EXPECT_EQ(expert.enabled_flows(), "00001");
        EXPECT_EQ(expert.count_algorithms_that_may_run(), ALGORITHM_END);
    }
    {
        RUN run(6);
        run.options().set_string(634, "TEST()|TEST()|TEST()|TEST()");
        cfg_set_value("fsyn_disable_fit_fsyn", "on");
        MORV_PROBE_EXPERT& expert = run.start();
        // The early flow of this family is FIT_EARLY, which the switch turns off too.
        EXPECT_EQ(expert.enabled_flows(), "00000");
    }
}

TEST_F(MorvModeTest, SweeperTuneAndFlatModesAndTheFamilyRules)
{
    {
        RUN run(6);
        cfg_set_value("fsyn_netlist_sweeper", "on");
        cfg_set_value("fsyn_tune_strings", "on");
        MORV_PROBE_EXPERT& expert = run.start();
        EXPECT_EQ(expert.get_flow_type(), FSYN_SWEEPER_ONLY_FLOW);
        EXPECT_EQ(expert.enabled_flows(), "11000");
    }
    {
        RUN run(47);
        cfg_set_value("fsyn_tune_strings", "on");
        cfg_set_value("fsyn_tune_work_string_early", "TEST()");
        MORV_PROBE_EXPERT& expert = run.start();
        EXPECT_EQ(expert.get_flow_type(), FSYN_TUNE_STRINGS_FLOW);
        EXPECT_EQ(expert.enabled_flows(), "11000");  // LATE never runs on this family
    }
    // Without the early string (the only one a compile that allows no late
    // tuning reads) nothing stops midway: no flow runs, and the error says why.
    for (int family : {6, 24}) {
        RUN run(family);
        cfg_set_value("fsyn_tune_strings", "on");
        msg_clear_posted_messages();
        MORV_PROBE_EXPERT& expert = run.start();
        EXPECT_EQ(expert.enabled_flows(), "00000") << family;
        std::string said;
        for (const MSG_POSTED_MESSAGE& m : msg_posted_messages())
            if (m.id == "EMORV_FSYN_TUNE_STRINGS_INCOMPLETE") said += m.text;
        EXPECT_NE(said.find("fsyn_tune_strings"), std::string::npos) << family << " " << said;
        EXPECT_NE(said.find("fsyn_tune_work_string_early"), std::string::npos) << said;
    }
    {
        RUN run(10);
        MORV_PROBE_EXPERT& expert = run.start(true);
        EXPECT_EQ(expert.get_flow_type(), FSYN_FLAT_FLOW);
        EXPECT_EQ(expert.enabled_flows(), "00000");
        EXPECT_EQ(expert.count_algorithms_that_may_run(), ALGORITHM_END);
    }
    {
        RUN run(10);
        cfg_set_value("fsyn_disable_fsyn_in_flat_flow", "on");
        EXPECT_EQ(run.start(true).get_flow_type(), FSYN_FLOW_TYPE_UNSET);
    }
    {
        RUN run(6);
        cfg_set_value("fsyn_for_density", "on");
        MORV_PROBE_EXPERT& expert = run.start();
        EXPECT_EQ(expert.get_flow_type(), FSYN_USER_OPTION_FLOW);
        EXPECT_EQ(expert.enabled_flows(), "01000");
        EXPECT_TRUE(expert.algorithm_may_run(RAM_MAP_ALGORITHM));
        EXPECT_TRUE(expert.algorithm_may_run(RESPLIT_ALGORITHM));
        EXPECT_FALSE(expert.algorithm_may_run(REP_ALGORITHM));
    }
    {
        RUN run(24);
        cfg_set_value("fsyn_for_density", "on");
        MORV_PROBE_EXPERT& expert = run.start();
        EXPECT_EQ(expert.enabled_flows(), "00000");
        EXPECT_FALSE(expert.algorithm_may_run(RAM_MAP_ALGORITHM));
    }
    {
        RUN run(6);
        run.options().set_bool(660, true);
        cfg_set_value("fsyn_disable_late_fsyn", "on");
        EXPECT_EQ(run.start().enabled_flows(), "01000");
    }
    {
        RUN run(6);
        run.options().set_bool(660, true);
        cfg_set_value("fsyn_enable_debug_checkpoints", "on");
        EXPECT_EQ(run.start().enabled_flows(), "01000");
    }
    {
        RUN run(7);  // unsupported: nothing, and no gate
        MORV_PROBE_EXPERT& expert = run.start(true);
        EXPECT_EQ(expert.get_flow_type(), FSYN_FLOW_TYPE_UNSET);
        EXPECT_EQ(expert.count_algorithms_that_may_run(), 0);
    }
}

TEST_F(MorvModeTest, DensityKeepsAnExplicitTestStringOrReplay)
{
    {
        // The density rule would make this a user-option compile and the
        // test string would silently not run.
        RUN run(6);
        cfg_set_value("fsyn_for_density", "on");
        run.options().set_string(634, "TEST()|TEST()");
        MORV_PROBE_EXPERT& expert = run.start();
        EXPECT_EQ(expert.get_flow_type(), FSYN_TEST_STRING_FLOW);
        EXPECT_EQ(expert.get_test_string_part(LATE_FSYN_FLOW), "TEST()");
        EXPECT_TRUE(expert.flow_enabled(LATE_FSYN_FLOW));
    }
    {
        RUN run(6);
        cfg_set_value("fsyn_for_density", "on");
        run.options().set_string(661, "top.map.psl");
        MORV_PROBE_EXPERT& expert = run.start();
        EXPECT_EQ(expert.get_flow_type(), FSYN_REPLAY_LOG_FLOW);
        EXPECT_EQ(expert.enabled_flows(), "01000");
        EXPECT_FALSE(expert.algorithm_may_run(RAM_MAP_ALGORITHM));
    }
    {
        // User options stay user options, with the density algorithms added.
        RUN run(6);
        cfg_set_value("fsyn_for_density", "on");
        run.options().set_bool(662, true);
        MORV_PROBE_EXPERT& expert = run.start();
        EXPECT_EQ(expert.get_flow_type(), FSYN_USER_OPTION_FLOW);
        EXPECT_EQ(expert.enabled_flows(), "01001");
        EXPECT_TRUE(expert.algorithm_may_run(RESPLIT_ALGORITHM));
    }
}

TEST_F(MorvModeTest, MigrationAndIncrementalReuseTurnFlowsOff)
{
    {
        RUN run(6);
        const char* path = "migration_device.txt";
        std::ofstream(path) << "family 6\nmigratable_part 2601\n";
        DMGR_UTILITY::set_current_device(DEV_DEVICE::load_from_file(path));
        std::remove(path);
        run.options().set_string(634, "TEST()|TEST()|TEST()|TEST()");
        EXPECT_EQ(run.start().enabled_flows(), "00100");
        DMGR_UTILITY::set_current_device(nullptr);
    }
    {
        IDU_PROJECT_INFO info;
        info.set_effective_incremental_reuse_mode(1);
        IDU_PARTITION_MANAGER manager;
        manager.set_project_info(&info);
        IDU_PARTITION_MANAGER::install_instance(&manager);
        RUN run(6);
        run.options().set_bool(664, true);
        EXPECT_EQ(run.start().enabled_flows(), "00000");
        EXPECT_EQ(count_posted("IMORV_MORV_TURN_OFF_FIT_FSYN_FOR_IWAP"), 1);

        RUN kept(6);
        cfg_set_value("iwap_disable_fit_fsyn", "off");
        kept.options().set_bool(664, true);
        EXPECT_EQ(kept.start().enabled_flows(), "01001");
        IDU_PARTITION_MANAGER::reset_instance();
    }
}

}  // namespace

}  // namespace morv_mode_test
