#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <optional>
#include <string>

#include "cfg/cfg.h"
#include "dev/dev_device.h"
#include "hdb/hdb_options.h"
#include "msg/msg.h"

#include "morv/core/morv_api.h"
#include "morv/core/stats/morv_stats.h"
#include "morv/netlist/morv_chip_map.h"
#include "morv_probe_expert.h"
#include "morv_test_util.h"

namespace morv_settings_test {

namespace {

// Makes a device of base_family whose migration list holds part.
void use_device_with_migratable_part(int base_family, int part)
{
    const char* path = "migration_device.txt";
    {
        std::ofstream out(path);
        out << "family " << base_family << "\nmigratable_part " << part << "\n";
    }
    DMGR_UTILITY::set_current_device(DEV_DEVICE::load_from_file(path));
    std::remove(path);
}

class MorvSettingsTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        cfg_clear_all();
        msg_set_quiet(true);
    }
    void TearDown() override
    {
        cfg_clear_all();
        DMGR_UTILITY::set_current_device(nullptr);
    }

    // A facade over a fresh host of base_family with n chained LUTs.
    struct RUN
    {
        explicit RUN(int base_family, int luts = 0) : host(base_family)
        {
            if (luts > 0) ids = host.build_chain(luts);
            env = std::make_unique<MORV_GATE_ENV>(&host.cmp);
        }
        void start() { expert = std::make_unique<MORV_PROBE_EXPERT>(env.get()); }
        MORV_API* api() { return expert->get_fsyn_api(); }
        ~RUN()
        {
            expert.reset();
            env.reset();
        }
        MORV_TEST_HOST host;
        std::vector<int> ids;
        std::unique_ptr<MORV_GATE_ENV> env;
        std::unique_ptr<MORV_PROBE_EXPERT> expert;
    };
};

TEST_F(MorvSettingsTest, ReadLogSettingMeansReplayOnlyWhenSetToAFileOnTheMigrationFamilies)
{
    struct CASE
    {
        int family;
        const char* value;  // nullptr: absent
        bool replay;
    } cases[] = {
        {6, nullptr, false}, {24, nullptr, false}, {6, "", true},     {24, "", true},        {10, "", false},
        {6, "OFF", false},   {24, "OFF", false},   {6, "OFFX", true}, {24, "log.psl", true}, {10, "log.psl", false},
    };
    for (const CASE& c : cases) {
        RUN run(c.family);
        if (c.value) run.host.ap.get_options().set_string(661, c.value);
        run.start();
        EXPECT_EQ(run.api()->is_fsyn_read_log_required(), c.replay) << c.family << " " << (c.value ? c.value : "-");
        // A replay is never also a migration compile that writes a log.
        EXPECT_FALSE(run.api()->is_fsyn_write_log_required());
    }
}

TEST_F(MorvSettingsTest, MigrationLogIsWrittenBetweenFamilies6And24Only)
{
    {
        RUN run(6);
        use_device_with_migratable_part(6, 2401);
        run.start();
        EXPECT_TRUE(run.api()->has_migratable_part_of_family(24));
        EXPECT_FALSE(run.api()->has_migratable_part_of_family(26));
        EXPECT_TRUE(run.api()->is_fsyn_write_log_required());
        EXPECT_TRUE(run.api()->is_fsyn_logging_on());
    }
    {
        RUN run(6);
        use_device_with_migratable_part(6, 2401);
        run.host.ap.get_options().set_string(661, "replay.psl");
        run.start();
        EXPECT_FALSE(run.api()->is_fsyn_write_log_required());
        EXPECT_FALSE(run.api()->is_fsyn_logging_on());
    }
}

TEST_F(MorvSettingsTest, PlacerSeedIsZeroOnlyWhenAbsent)
{
    const std::pair<std::optional<int>, int> cases[] = {{std::nullopt, 0}, {-1, -1}, {7, 7}, {0, 0}};
    for (const auto& [given, expected] : cases) {
        RUN run(6, 1);
        if (given) run.host.ap.get_options().set_int(566, *given);
        run.start();
        EXPECT_EQ(run.api()->get_placer_seed(), expected) << "setting " << given.value_or(-99);
    }
}

TEST_F(MorvSettingsTest, OptionGettersAnswerNeutralValuesWhenAbsent)
{
    RUN run(6, 1);
    run.host.ap.get_options().set_bool(662, true);
    run.host.ap.get_options().set_enum(696, 152);
    run.host.ap.get_options().set_int(566, 17);
    run.start();
    MORV_API* api = run.api();
    EXPECT_TRUE(api->get_bool_option(662));
    EXPECT_FALSE(api->get_bool_option(663));
    EXPECT_EQ(api->get_enum_option(696), 152);
    EXPECT_EQ(api->get_enum_option(695), 0);
    EXPECT_EQ(api->get_placer_seed(), 17);
    EXPECT_EQ(api->get_string_option(634), "");
    HDB_INSTANCE_NAME* inst = run.host.names.find_or_create_path("lut0", 0);
    EXPECT_EQ(api->get_instance_int_option(inst, 666), -1);
    run.host.ap.edit_instance_options(inst).set_int(666, 3);
    EXPECT_EQ(api->get_instance_int_option(inst, 666), 3);
    EXPECT_EQ(internal_error_of([&] { api->get_instance_int_option(nullptr, 666); }), "inst_name");
    EXPECT_EQ(api->get_family_code(), 6);

    EXPECT_FALSE(api->has_migration_target_device());
    run.host.ap.get_chip().set_string(479, "<None>");
    EXPECT_FALSE(api->has_migration_target_device());
    run.host.ap.get_chip().set_string(479, "");
    EXPECT_FALSE(api->has_migration_target_device());
    run.host.ap.get_chip().set_string(479, "<None>2");
    EXPECT_TRUE(api->has_migration_target_device());
}

TEST_F(MorvSettingsTest, OveruseNeedsARealDeviceMoreThanOneAtomAndTheRatioExceeded)
{
    RUN run(6, 951);
    run.start();
    MORV_API* api = run.api();
    ASSERT_EQ(api->get_device_le_type(), 0);
    ASSERT_EQ(api->get_used_le_count(), 951);
    EXPECT_EQ(api->get_used_ff_count(), 0);
    run.env->m_resource_count = 1000;
    EXPECT_TRUE(api->are_les_overused());
    EXPECT_EQ(run.env->m_last_resource_type, 0);
    run.env->m_fake_device = true;
    EXPECT_FALSE(api->are_les_overused());
    run.env->m_fake_device = false;
    run.env->m_resource_count = 1001;  // 0.95 x 1001 = 950.95, kept as 950
    EXPECT_TRUE(api->are_les_overused());
    run.env->m_resource_count = 1002;  // 951.9 -> 951
    EXPECT_FALSE(api->are_les_overused());
    run.env->m_resource_count = -1;
    EXPECT_EQ(internal_error_of([&] { api->are_les_overused(); }), "Error: get number of LEs failed!");

    RUN single(6, 1);
    single.start();
    single.env->m_resource_count = 0;
    EXPECT_FALSE(single.api()->are_les_overused());

    RUN other(7);
    other.start();
    EXPECT_EQ(internal_error_of([&] { other.api()->get_used_le_count(); }),
              "device_le_type != CDB_MAXIMUM_WYSIWYG_TYPE_ENUM");
    EXPECT_EQ(internal_error_of([&] { other.api()->get_device_ff_count(); }), "Error: get number of FFs failed!");
}

TEST_F(MorvSettingsTest, BackAnnotatedFractionCountsLogicCellsAndIsZeroWhenEmpty)
{
    RUN empty(6);
    empty.start();
    EXPECT_EQ(empty.api()->get_back_annotated_fraction(), 0.0f);

    RUN run(6, 4);
    run.env->m_back_annotated = {static_cast<uint32_t>(run.ids[0])};
    run.start();
    EXPECT_FLOAT_EQ(run.api()->get_back_annotated_fraction(), 0.25f);

    RUN mrl(24, 4);
    mrl.env->m_back_annotated = {static_cast<uint32_t>(mrl.ids[0]), static_cast<uint32_t>(mrl.ids[1])};
    mrl.start();
    EXPECT_EQ(mrl.api()->get_back_annotated_fraction(), 0.0f);
}

// A host whose progress range may leave either end unset.
class MORV_RANGE_ENV : public MORV_GATE_ENV
{
public:
    using MORV_GATE_ENV::MORV_GATE_ENV;
    void get_progress_range(int* start, int* end) override { *start = m_start, *end = m_end; }
    int m_start = 10;
    int m_end = 60;
};

TEST_F(MorvSettingsTest, ProgressMapsOntoTheHostRange)
{
    RUN run(6);
    run.start();
    run.api()->set_progress_percent(50);
    EXPECT_EQ(run.env->m_progress, 35);
    run.api()->set_progress_percent(100);
    EXPECT_EQ(run.env->m_progress, 60);
    EXPECT_EQ(internal_error_of([&] { run.api()->set_progress_percent(101); }), "(percent >= 0) && (percent <= 100)");

    MORV_TEST_HOST host(6);
    MORV_RANGE_ENV env(&host.cmp);
    MORV_PROBE_EXPERT expert(&env);
    env.m_start = -1;
    EXPECT_EQ(internal_error_of([&] { expert.get_fsyn_api()->set_progress_percent(5); }),
              "fsyn_start_perc != MORV_OPEN");
    env.m_start = 0;
    env.m_end = -1;
    EXPECT_EQ(internal_error_of([&] { expert.get_fsyn_api()->set_progress_percent(5); }), "fsyn_end_perc != MORV_OPEN");
}

TEST_F(MorvSettingsTest, TimingAnalysisCallsIcpAndCountsForTheCurrentAlgorithm)
{
    RUN run(6, 3);
    run.start();
    MORV_API* api = run.api();
    EXPECT_TRUE(api->refresh_timing_and_print_dont_touch_statistics());

    // Outside an algorithm nothing is counted.
    EXPECT_TRUE(api->run_timing_analysis(false, true, 1.0, false, false, false));
    EXPECT_EQ(run.env->m_icp_calls, 1);
    EXPECT_TRUE(run.env->m_last_icp_second);
    EXPECT_GE(run.env->m_progress, 10);

    MORV_STATS* record = api->get_fsyn_stats()->start_algorithm("RTM");
    cfg_set_value("fsyn_blp_multiplier", "2");
    EXPECT_TRUE(api->run_timing_analysis(true, false, 1.5, false, false, false));
    EXPECT_DOUBLE_EQ(run.env->m_last_icp_multiplier, 3.0);
    EXPECT_TRUE(run.env->m_last_icp_full);
    run.env->m_icp_result.m_status = 0;
    EXPECT_FALSE(api->run_timing_analysis(false, true, 1.0, false, false, false));
    api->get_fsyn_stats()->end_algorithm();
    EXPECT_TRUE(api->run_timing_analysis(false, false, 1.0, false, false, false) == false);

    EXPECT_EQ(record->m_icp_runs, std::make_pair(1, 1));
    EXPECT_EQ(record->m_icp_seconds, std::make_pair(3, 3));
    EXPECT_EQ(record->m_timing_analyses, std::make_pair(1, 1));
    EXPECT_EQ(record->m_post_icp_runs, std::make_pair(1, 1));
    EXPECT_EQ(record->m_post_icp_seconds, std::make_pair(4, 4));
    EXPECT_EQ(record->m_icp_failures, std::make_pair(1, 1));
}

// A driver that can claim to be inside a given flow.
class MORV_RUNNING_EXPERT : public MORV_PROBE_EXPERT
{
public:
    using MORV_PROBE_EXPERT::MORV_PROBE_EXPERT;
    void set_running(int flow, bool on) { m_fsyn_flow_is_running[flow] = on; }
};

TEST_F(MorvSettingsTest, BeforePlacementIcpIsSkippedButAFullCallStillFailsOnOveruse)
{
    MORV_TEST_HOST host(6);
    host.build_chain(951);
    MORV_GATE_ENV env(&host.cmp);
    MORV_RUNNING_EXPERT expert(&env);
    MORV_API* api = expert.get_fsyn_api();
    ASSERT_TRUE(api->refresh_timing_and_print_dont_touch_statistics());
    for (int flow : {SYN_EARLY_FSYN_FLOW, CLUSTER_RETRY_FSYN_FLOW}) {
        expert.set_running(flow, true);
        env.m_resource_count = 1000;  // 951 LEs are more than 95 %
        EXPECT_FALSE(api->run_timing_analysis(true, false, 1.0, false, false, false)) << flow;
        EXPECT_TRUE(api->run_timing_analysis(false, false, 1.0, false, false, false)) << flow;
        env.m_resource_count = 1002;
        EXPECT_TRUE(api->run_timing_analysis(true, false, 1.0, false, false, false)) << flow;
        expert.set_running(flow, false);
    }
    EXPECT_EQ(env.m_icp_calls, 0);
    EXPECT_TRUE(api->run_timing_analysis(true, false, 1.0, false, false, false));
    EXPECT_EQ(env.m_icp_calls, 1);
}

TEST_F(MorvSettingsTest, StressIcpRemovesEveryNthLogicCellLocation)
{
    struct CASE
    {
        const char* value;
        int left;
    } cases[] = {{"0.25", 6}, {"2", 0}, {"0", 8}, {"-1", 8}};
    for (const CASE& c : cases) {
        RUN run(6, 8);
        run.start();
        MORV_API* api = run.api();
        api->reset_fsyn_chip_map(false);
        for (int id : run.ids) api->get_fsyn_chip_map()->set_node_location(id, MORV_LOC{1, 1, 0, -1});
        cfg_set_value("fsyn_stress_icp", c.value);
        api->stress_icp_preferred_locations();
        EXPECT_EQ(api->get_fsyn_chip_map()->get_number_of_placed_nodes(), c.left) << c.value;
        MORV_LOC loc;
        // The 4th logic cell is the first to go.
        if (std::string(c.value) == "0.25") {
            EXPECT_TRUE(api->get_fsyn_chip_map()->get_node_location(run.ids[2], &loc));
            EXPECT_FALSE(api->get_fsyn_chip_map()->get_node_location(run.ids[3], &loc));
        }
    }
}

}  // namespace

}  // namespace morv_settings_test
