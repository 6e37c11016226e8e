#include <gtest/gtest.h>

#include <clocale>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "cfg/cfg.h"
#include "cdb/cdb_atom_node.h"
#include "cmp/cmp_facade.h"
#include "dev/dev_device.h"
#include "hdb/hdb_options.h"
#include "msg/msg.h"

#include "morv/core/morv_api.h"
#include "morv/core/stats/morv_stats.h"
#include "morv/log/morv_log.h"
#include "morv_probe_expert.h"
#include "morv_test_util.h"

namespace morv_dispatch_test {

namespace {

std::vector<MSG_POSTED_MESSAGE> posted(const std::string& id)
{
    std::vector<MSG_POSTED_MESSAGE> out;
    for (const auto& m : msg_posted_messages())
        if (m.id == id) out.push_back(m);
    return out;
}

bool logged(const std::string& text)
{
    for (const auto& line : msg_vdebug_lines())
        if (line.text == text) return true;
    return false;
}

// Records the numeric locale seen while timing is prepared inside a flow.
class MORV_LOCALE_ENV : public MORV_GATE_ENV
{
public:
    using MORV_GATE_ENV::MORV_GATE_ENV;
    void build_timing_netlist(MORV_TIMING* timing, bool a, bool b, bool c, bool d, bool e, bool f) override
    {
        const char* locale = std::setlocale(LC_NUMERIC, nullptr);
        m_locale_in_flow = locale ? locale : "";
        if (m_fail_timing) {
            timing->set_tdc_utility(nullptr);
            return;
        }
        MORV_GATE_ENV::build_timing_netlist(timing, a, b, c, d, e, f);
    }
    void save_early_netlist() override { ++m_early_saves; }
    std::string m_locale_in_flow;
    bool m_fail_timing = false;
    int m_early_saves = 0;
};

class MorvDispatchTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        cfg_clear_all();
        msg_set_quiet(true);
        msg_clear_posted_messages();
        msg_clear_vdebug_lines();
        MORV_EXPERT::m_TOO_MANY_BA_NODES_issued = false;
        std::remove("fsyn_delays.txt");
    }
    void TearDown() override
    {
        cfg_clear_all();
        DMGR_UTILITY::set_current_device(nullptr);
    }

    struct RUN
    {
        explicit RUN(int base_family, int luts = 3) : host(base_family)
        {
            ids = host.build_chain(luts);
            env = std::make_unique<MORV_LOCALE_ENV>(&host.cmp);
        }
        MORV_PROBE_EXPERT& start()
        {
            expert = std::make_unique<MORV_PROBE_EXPERT>(env.get());
            return *expert;
        }
        ~RUN()
        {
            expert.reset();
            env.reset();
        }
        MORV_TEST_HOST host;
        std::vector<int> ids;
        std::unique_ptr<MORV_LOCALE_ENV> env;
        std::unique_ptr<MORV_PROBE_EXPERT> expert;
    };
};

TEST_F(MorvDispatchTest, GateStopsOnTooManyBackAnnotatedAtomsAndWarnsOncePerProcess)
{
    {
        RUN run(6, 5);  // 4 of 5: exactly 80 %
        for (int i = 0; i < 4; ++i) run.env->m_back_annotated.insert(run.ids[i]);
        MORV_PROBE_EXPERT& expert = run.start();
        expert.set_flow_enabled(LATE_FSYN_FLOW, true);
        EXPECT_TRUE(expert.check_if_fsyn_flow_can_be_run());
        EXPECT_TRUE(logged("80.00% nodes are back annotated!"));
    }
    RUN run(6, 200);  // 161 of 200: 80.5 %
    for (int i = 0; i < 161; ++i) run.env->m_back_annotated.insert(run.ids[i]);
    MORV_PROBE_EXPERT& expert = run.start();
    for (int call = 0; call < 2; ++call) {
        expert.set_flow_enabled(LATE_FSYN_FLOW, true);
        EXPECT_FALSE(expert.check_if_fsyn_flow_can_be_run());
        EXPECT_FALSE(expert.flow_enabled(LATE_FSYN_FLOW));
    }
    EXPECT_TRUE(logged("81% nodes are back annotated!  That is too many!  FSYN will not be run"));
    EXPECT_TRUE(logged("FSYN FLOW cannot be run."));
    const auto warnings = posted("WMORV_FSYN_CANNOT_RUN_TOO_MANY_BA_NODES");
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_NE(warnings[0].text.find("Design has 81 percent"), std::string::npos);
    EXPECT_NE(warnings[0].text.find("more than 80 percent"), std::string::npos);
}

TEST_F(MorvDispatchTest, PipeAsyncAloneMayRunWhenOnlyBackAnnotationStopsAUserOptionCompile)
{
    RUN run(6, 2);
    run.env->m_back_annotated = {static_cast<uint32_t>(run.ids[0]), static_cast<uint32_t>(run.ids[1])};
    run.host.ap.get_options().set_bool(665, true);
    run.host.ap.get_options().set_bool(662, true);
    MORV_PROBE_EXPERT& expert = run.start();
    EXPECT_EQ(expert.get_flow_type(), FSYN_USER_OPTION_FLOW);
    EXPECT_EQ(expert.enabled_flows(), "01001");
    EXPECT_TRUE(expert.algorithm_may_run(PIPE_ASYNC_ALGORITHM));
    EXPECT_EQ(expert.count_algorithms_that_may_run(), 1);

    // Not in user-option mode, the same gate disables everything.
    expert.set_flow_type(FSYN_TEST_STRING_FLOW);
    EXPECT_FALSE(expert.check_if_fsyn_flow_can_be_run());
    EXPECT_EQ(expert.enabled_flows(), "00000");
}

TEST_F(MorvDispatchTest, GateTestsForIoOnlyTimingDrivenFastFitReuseAndLimitedMode)
{
    RUN run(6, 2);
    MORV_PROBE_EXPERT& expert = run.start();
    auto gate = [&]() {
        expert.set_flow_enabled(LATE_FSYN_FLOW, true);
        expert.set_algorithm_may_run(PIPE_ASYNC_ALGORITHM, true);
        return expert.check_if_fsyn_flow_can_be_run();
    };
    EXPECT_TRUE(gate());

    run.env->m_tdc_on = false;
    EXPECT_FALSE(gate());
    EXPECT_EQ(posted("WMORV_CANNOT_RUN_FSYN_WHEN_TDC_IS_OFF").size(), 1u);
    expert.set_read_log_name("top.map.psl");  // a replay does not need timing-driven compilation
    EXPECT_TRUE(gate());
    expert.set_read_log_name("");

    // In I/O-check-only mode the warnings are not posted.
    run.host.cmp.set_check_io_only(true);
    EXPECT_FALSE(gate());
    EXPECT_EQ(posted("WMORV_CANNOT_RUN_FSYN_WHEN_TDC_IS_OFF").size(), 1u);
    EXPECT_TRUE(logged("Fitter is running in Check I/O's only mode.  FSYN will not be run."));
    run.host.cmp.set_check_io_only(false);
    run.env->m_tdc_on = true;

    run.env->m_reusing_post_fit = true;
    EXPECT_FALSE(gate());
    EXPECT_EQ(posted("WMORV_CANNOT_RUN_FSYN_WHEN_USING_POST_FITTING_NETLISTS").size(), 1u);
    run.env->m_reusing_post_fit = false;

    // Fast fit disables every flow even with PIPE_ASYNC in user-option mode.
    expert.set_flow_type(FSYN_USER_OPTION_FLOW);
    run.env->m_fast_fit = true;
    EXPECT_FALSE(gate());
    EXPECT_EQ(expert.enabled_flows(), "00000");
    EXPECT_EQ(posted("WMORV_CANNOT_RUN_FSYN_WHEN_FAST_FIT_IS_ON").size(), 1u);
    run.env->m_fast_fit = false;

    run.host.cmp.set_limited_fsyn_mode(true);
    for (int id = 0; id < ALGORITHM_END; ++id) expert.set_algorithm_may_run(id, true);
    expert.set_algorithm_may_run(LIR_ALGORITHM, false);
    EXPECT_TRUE(gate());
    EXPECT_TRUE(expert.algorithm_may_run(PIPE_ASYNC_ALGORITHM));
    EXPECT_FALSE(expert.algorithm_may_run(LIR_ALGORITHM));  // keeps its value
    EXPECT_EQ(expert.count_algorithms_that_may_run(), 1);
}

TEST_F(MorvDispatchTest, FlowFramesWithMessagesBannerAndTheCallersLocale)
{
    RUN run(6);
    MORV_PROBE_EXPERT& expert = run.start();
    expert.set_flow_enabled(SYN_EARLY_FSYN_FLOW, true);

    // Any installed locale other than "C" shows that it is put back.
    std::string outside = "C";
    for (const char* name : {"C.UTF-8", "C.utf8", "en_US.UTF-8", "POSIX"})
        if (std::setlocale(LC_NUMERIC, name) != nullptr) {
            outside = std::setlocale(LC_NUMERIC, nullptr);
            break;
        }

    // The early flow of this family is FIT_EARLY: SYN_EARLY runs nothing.
    EXPECT_TRUE(expert.do_physical_synthesis(SYN_EARLY_FSYN_FLOW));
    EXPECT_EQ(std::string(std::setlocale(LC_NUMERIC, nullptr)), outside);
    EXPECT_EQ(run.env->m_locale_in_flow, "C");
    std::setlocale(LC_NUMERIC, "C");

    EXPECT_FALSE(expert.has_fsyn_run(SYN_EARLY_FSYN_FLOW)) << "called, but it had nothing to run";
    EXPECT_TRUE(logged("\t  Welcome to SYN_EARLY-FSYN!!! "));
    EXPECT_TRUE(logged("***************************************"));
    const auto starts = posted("IMORV_PHYSICAL_SYNTHESIS_START");
    ASSERT_EQ(starts.size(), 1u);
    EXPECT_EQ(starts[0].text, "Starting physical synthesis optimizations for speed");
    const auto ends = posted("IMORV_PHYSICAL_SYNTHESIS_END");
    ASSERT_EQ(ends.size(), 1u);
    EXPECT_EQ(ends[0].text, "Physical synthesis optimizations for speed complete: elapsed CPU time is 00:00:00");
    EXPECT_EQ(expert.get_target_for_flow(CLUSTER_RETRY_FSYN_FLOW), "fitting");

    // A flow that was never enabled is a broken invariant.
    EXPECT_EQ(internal_error_of([&] { expert.do_physical_synthesis(POST_CLUSTERING_FSYN_FLOW); }),
              "m_fsyn_flow_is_enabled[fsyn_flow_id]");
    EXPECT_EQ(std::string(std::setlocale(LC_NUMERIC, nullptr)), "C");
}

TEST_F(MorvDispatchTest, DiscardedResultAndTimingNetlistFailure)
{
    RUN run(6);
    MORV_PROBE_EXPERT& expert = run.start();
    expert.set_flow_enabled(SYN_EARLY_FSYN_FLOW, true);
    run.env->m_discard = true;
    EXPECT_FALSE(expert.do_physical_synthesis(SYN_EARLY_FSYN_FLOW));
    EXPECT_EQ(posted("IMORV_PHYSICAL_SYNTHESIS_END").size(), 1u);

    // Timing cannot be prepared: skipped with a warning, still a success...
    run.env->m_discard = false;
    run.env->m_fail_timing = true;
    EXPECT_TRUE(expert.do_physical_synthesis(SYN_EARLY_FSYN_FLOW));
    EXPECT_EQ(posted("WMORV_PHYSICAL_SYNTHESIS_SKIPPED_DUE_TO_TIMING_NETLIST").size(), 1u);
    // ...unless the host discards the result, which needs no warning.
    run.env->m_discard = true;
    EXPECT_FALSE(expert.do_physical_synthesis(SYN_EARLY_FSYN_FLOW));
    EXPECT_EQ(posted("WMORV_PHYSICAL_SYNTHESIS_SKIPPED_DUE_TO_TIMING_NETLIST").size(), 1u);
    EXPECT_EQ(posted("IMORV_PHYSICAL_SYNTHESIS_END").size(), 3u);
    // A flow skipped for want of a timing netlist did not run.
    run.env->m_discard = false;
    expert.set_flow_enabled(LATE_FSYN_FLOW, true);
    EXPECT_TRUE(expert.do_physical_synthesis(LATE_FSYN_FLOW));
    EXPECT_FALSE(expert.has_fsyn_run(LATE_FSYN_FLOW));
}

TEST_F(MorvDispatchTest, PostRouteMigrationAndBackAnnotationPoints)
{
    {
        RUN run(6);
        MORV_PROBE_EXPERT& expert = run.start();
        cfg_set_value("very_late_fsyn", "on");
        EXPECT_FALSE(expert.do_physical_synthesis(VERY_LATE_FSYN_FLOW));
        EXPECT_FALSE(expert.has_fsyn_run(VERY_LATE_FSYN_FLOW));
        cfg_unset("very_late_fsyn");
    }
    {
        RUN run(6);  // the host sets its own device: replace it afterwards
        const char* path = "migration_device.txt";
        std::ofstream(path) << "family 6\nmigratable_part 2401\n";
        DMGR_UTILITY::set_current_device(DEV_DEVICE::load_from_file(path));
        std::remove(path);
        MORV_PROBE_EXPERT& expert = run.start();
        msg_clear_vdebug_lines();
        EXPECT_TRUE(expert.do_physical_synthesis(CLUSTER_RETRY_FSYN_FLOW));
        EXPECT_EQ(posted("WMORV_FSYN_CANNOT_RUN_NO_AREA_FSYN_FOR_MIGRATION_FLOW").size(), 1u);
        EXPECT_FALSE(expert.has_fsyn_run(CLUSTER_RETRY_FSYN_FLOW));
        EXPECT_TRUE(posted("IMORV_PHYSICAL_SYNTHESIS_START").empty());
        EXPECT_FALSE(logged("***************************************"));
        DMGR_UTILITY::set_current_device(nullptr);
    }

    RUN run(6, 3);
    CDB_ATOM_NODE* a = run.host.netlist->get_node_by_id(run.ids[0]);
    CDB_ATOM_NODE* b = run.host.netlist->get_node_by_id(run.ids[1]);
    CDB_ATOM_NODE* c = run.host.netlist->get_node_by_id(run.ids[2]);
    a->set_location(0, 0);
    b->set_location(2, 1);
    // c stays unplaced; it gets an unconnected input and a tied one as well.
    c->add_input_term(DB_DATA_B);
    c->add_input_term(DB_DATA_C)->set_vcc();
    MORV_PROBE_EXPERT& expert = run.start();
    const size_t nodes = run.host.netlist->get_node_count();
    EXPECT_TRUE(expert.do_physical_synthesis(BACK_ANNOTATE_FSYN_FLOW));
    EXPECT_EQ(run.host.netlist->get_node_count(), nodes);

    std::ifstream in("fsyn_delays.txt");
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    ASSERT_EQ(lines.size(), 2u);
    char expected[128];
    std::snprintf(expected, sizeof(expected), "%d ( %d 0 ) -> %d ( %d 0 ) = %d", run.ids[0], DB_COMB_OUT, run.ids[1],
                  DB_DATA_A, 350);
    EXPECT_EQ(lines[0], expected);
    std::snprintf(expected, sizeof(expected), "%d ( %d 0 ) -> %d ( %d 0 ) = 0", run.ids[1], DB_COMB_OUT, run.ids[2],
                  DB_DATA_A);
    EXPECT_EQ(lines[1], expected);

    EXPECT_EQ(internal_error_of([&] { expert.get_interconnection_delay_on_iterm(nullptr); }),
              "iterm && iterm->is_connected()");
}

TEST_F(MorvDispatchTest, LateFlowRunsTheTestStringAndClearsPerCompileState)
{
    RUN run(6);
    run.host.ap.get_options().set_string(634, "TEST()");
    MORV_PROBE_EXPERT& expert = run.start();
    ASSERT_TRUE(expert.will_fsyn_run(LATE_FSYN_FLOW));
    EXPECT_TRUE(expert.do_physical_synthesis(LATE_FSYN_FLOW));
    EXPECT_EQ(expert.m_algorithms_run, 1);
    EXPECT_TRUE(logged("\tOutputting FSYN Statistics"));
    EXPECT_TRUE(logged("\t  Welcome to LATE-FSYN!!! "));
    EXPECT_GT(run.env->m_icp_calls, 0);
}

}  // namespace

TEST_F(MorvDispatchTest, FlowIdsOutsideTheSevenPointsAreInternalErrors)
{
    RUN run(6);
    MORV_PROBE_EXPERT& expert = run.start();
    for (int bad : {-1, 7, 100})
        EXPECT_EQ(internal_error_of([&] { expert.do_physical_synthesis(static_cast<e_fsyn_flow>(bad)); }),
                  "fsyn_flow_id >= 0 && fsyn_flow_id < NUM_FSYN_FLOWS")
            << bad;
}

// A migration compile refuses only the area flow; its speed flows run.
TEST_F(MorvDispatchTest, AMigrationCompileStillRunsItsSpeedFlows)
{
    RUN run(6);
    const char* path = "migration_device_late.txt";
    std::ofstream(path) << "family 6\nmigratable_part 2401\n";
    DMGR_UTILITY::set_current_device(DEV_DEVICE::load_from_file(path));
    std::remove(path);
    run.host.ap.get_options().set_string(634, "TEST()");
    MORV_PROBE_EXPERT& expert = run.start();
    ASSERT_TRUE(expert.get_fsyn_api()->is_fsyn_write_log_required());
    const int64_t next_id_before = CDB_ATOM_NODE::s_next_id;
    EXPECT_TRUE(expert.do_physical_synthesis(LATE_FSYN_FLOW));
    // The flow's start marks every atom that existed then as older than the log.
    const MORV_LOG* log = expert.get_fsyn_api()->get_fsyn_log();
    EXPECT_GE(log->get_max_node_id_at_start(), next_id_before - 1);
    EXPECT_LT(log->get_max_node_id_at_start(), static_cast<int64_t>(CDB_ATOM_NODE::s_next_id));
    EXPECT_TRUE(posted("WMORV_FSYN_CANNOT_RUN_NO_AREA_FSYN_FOR_MIGRATION_FLOW").empty());
    EXPECT_EQ(posted("IMORV_PHYSICAL_SYNTHESIS_START").size(), 1u);
    EXPECT_EQ(expert.m_algorithms_run, 1);
    DMGR_UTILITY::set_current_device(nullptr);
    // The migration flow merged its log: the log tests expect no final log.
    MORV_LOG::settle_final_files(false);
    std::remove("db/top.cmp.psl");
}

// Each flow starts its statistics afresh: records of an earlier flow go.
TEST_F(MorvDispatchTest, EachFlowStartsWithNoStatisticsRecords)
{
    RUN run(6);
    run.host.ap.get_options().set_string(634, "TEST()");
    MORV_PROBE_EXPERT& expert = run.start();
    MORV_STATS_MGR* stats = expert.get_fsyn_api()->get_fsyn_stats();
    stats->start_algorithm("EARLIER");
    stats->end_algorithm();
    ASSERT_EQ(stats->get_number_of_records(), 1);
    EXPECT_TRUE(expert.do_physical_synthesis(LATE_FSYN_FLOW));
    EXPECT_EQ(stats->get_number_of_records(), 0) << "the probe's runs keep no records";
}

// When the early flow ran at SYN_EARLY, FIT_EARLY runs the whole early flow
// again only for asynchronous pipelining; otherwise it only records the
// early slack ratios.
TEST_F(MorvDispatchTest, FitEarlyAfterASynthesisEarlyFlowRunsAgainOnlyForPipelining)
{
    int family = -1;
    for (int code : {6, 9, 10, 34, 35, 41, 42, 47}) {
        MORV_TEST_HOST probe_host(code);
        if (MORV_ENV::where_does_early_fsyn_run(&probe_host.cmp) == SYN_EARLY_FSYN_FLOW) family = code;
    }
    ASSERT_NE(family, -1) << "no family runs its early flow at SYN_EARLY";
    for (bool pipelining : {true, false}) {
        RUN run(family);
        run.host.ap.get_options().set_bool(665, true);  // asynchronous pipelining: FIT_EARLY and LATE
        MORV_PROBE_EXPERT& expert = run.start();
        ASSERT_TRUE(expert.flow_enabled(FIT_EARLY_FSYN_FLOW));
        expert.set_algorithm_may_run(PIPE_ASYNC_ALGORITHM, pipelining);
        EXPECT_TRUE(expert.do_physical_synthesis(FIT_EARLY_FSYN_FLOW));
        EXPECT_EQ(run.env->m_early_saves, pipelining ? 1 : 0) << family;
        EXPECT_EQ(expert.has_fsyn_run(FIT_EARLY_FSYN_FLOW), pipelining) << family;
    }
}

}  // namespace morv_dispatch_test
