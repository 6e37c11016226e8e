#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cfg/cfg.h"
#include "msg/msg.h"

#include "morv/core/algorithm/morv_algorithm_base.h"
#include "morv/core/morv_api.h"
#include "morv/core/morv_expert.h"
#include "morv/core/family/morv_expert_family.h"
#include "morv/netlist/morv_chip_map.h"
#include "morv/netlist/morv_inst_asgn_mgr.h"
#include "morv_probe_expert.h"
#include "morv_test_env.h"
#include "morv_test_util.h"

namespace morv_flows_test {

namespace {

const MSG_POSTED_MESSAGE* find_posted(const std::string& id)
{
    for (const MSG_POSTED_MESSAGE& m : msg_posted_messages())
        if (m.id == id) return &m;
    return nullptr;
}

// A host whose placement-and-timing calls always succeed.
class PLACING_ENV : public MORV_TEST_ENV
{
public:
    using MORV_TEST_ENV::MORV_TEST_ENV;
    MORV_ICP_RESULT run_icp(bool, bool, double, bool, bool, bool, bool) override
    {
        ++m_icp_calls;
        MORV_ICP_RESULT result;
        result.m_status = 1;
        return result;
    }
    void save_early_netlist() override { ++m_early_saves; }
    int get_resource_count(int) override { return 1000; }
    int m_icp_calls = 0;
    int m_early_saves = 0;
};

// The run-list members of the BRK driver, opened for the tests.
class PROBE : public MORV_EXPERT_BRK
{
public:
    using MORV_EXPERT::extract_algorithm;
    using MORV_EXPERT::extract_test_string;
    using MORV_EXPERT::insert_algorithm;
    using MORV_EXPERT::parse_test_string;
    using MORV_EXPERT::run_fsyn_user_option_flow;
    using MORV_EXPERT_BRK::MORV_EXPERT_BRK;
    void set_test_string(const std::string& text) { m_opx_fsyn_test_string = text; }
    void allow(int id, bool on) { m_algorithm_list[id] = on; }
    void store_early_slack_ratios() { m_fsyn_api->store_slack_ratios(m_early_slack_ratios.get()); }
    double get_weighted_slack_ratio_difference()
    {
        return m_fsyn_api->get_weighted_slack_ratio_difference(*m_early_slack_ratios);
    }
    size_t recorded_ratios() const { return m_early_slack_ratios->size(); }
    bool has_ratio(int atom_id, int port, int index) const
    {
        MORV_CANONICAL_ITERM key;
        key.m_atom_id = atom_id;
        key.m_port_type = port;
        key.m_port_index = index;
        return m_early_slack_ratios->count(key) != 0;
    }
};

// A host that lets the late flow pick a tune string.
class TUNING_ENV : public PLACING_ENV
{
public:
    using PLACING_ENV::PLACING_ENV;
    bool is_late_tune_allowed() override { return true; }
};

// The probe driver with a stability rule, a sweeper and an algorithm
// outcome the test chooses, and the flow functions opened.
class FLOW_PROBE : public MORV_PROBE_EXPERT
{
public:
    using MORV_PROBE_EXPERT::MORV_PROBE_EXPERT;
    bool tune_stability_threshold() override { return m_stable; }
    void run_netlist_sweeper() override { ++m_sweeps; }
    bool create_and_run_algorithm(int, MORV_PARAMETER_MAP&) override
    {
        ++m_algorithms_run;
        m_masks_seen.push_back(get_fsyn_api()->get_inst_asgn_mgr()->get_flag_mask());
        return m_succeed;
    }
    void set_mask(int algorithm_id, unsigned mask) { m_inst_asgn_flag_mask[algorithm_id] = mask; }
    using MORV_EXPERT::early_fsyn_esr_only_flow;
    using MORV_EXPERT::early_fsyn_flow;
    using MORV_EXPERT::extract_test_string;
    using MORV_EXPERT::post_clustering_fsyn_flow;
    using MORV_EXPERT::run_flow;
    using MORV_EXPERT::run_fsyn_tune_string_flow;
    using MORV_EXPERT::run_fsyn_user_option_flow;
    using MORV_EXPERT::run_single_algorithm;
    void set_effort(int effort) { m_opx_physical_synthesis_effort = effort; }
    void set_sweeper_only() { m_sweeper_only = true; }
    size_t recorded_ratios() const { return m_early_slack_ratios->size(); }

    bool m_stable = true;
    bool m_succeed = true;
    int m_sweeps = 0;
    std::vector<unsigned> m_masks_seen;
};

class MorvFlowsTest : public MORV_CLEAN_STATE_TEST
{};

}  // namespace

TEST_F(MorvFlowsTest, RunsAreAppendedOnlyWhenTheirAlgorithmMayRun)
{
    MORV_TEST_HOST host(6);
    MORV_TEST_ENV env(&host.cmp);
    PROBE probe(&env);
    probe.allow(RTM_ALGORITHM, false);
    probe.insert_algorithm(RTM_ALGORITHM, "NP=1");
    EXPECT_EQ(probe.get_num_algorithm_runs(), 0);
    probe.allow(RTM_ALGORITHM, true);
    probe.insert_algorithm(RTM_ALGORITHM, " NP = 3 :NP=4");
    ASSERT_EQ(probe.get_num_algorithm_runs(), 1);
    EXPECT_EQ(probe.get_algorithm_runs()[0].m_parameters.at("NP"), "3");

    // Test strings bypass the may-run flags.
    probe.allow(LIR_ALGORITHM, false);
    probe.extract_test_string("RTM(NP=1:NI=1);LIR()");
    ASSERT_EQ(probe.get_num_algorithm_runs(), 3);
    EXPECT_EQ(probe.get_algorithm_runs()[1].m_algorithm, RTM_ALGORITHM);
    EXPECT_EQ(probe.get_algorithm_runs()[1].m_parameters.size(), 2u);
    EXPECT_EQ(probe.get_algorithm_runs()[1].m_parameters.at("NI"), "1");
    EXPECT_EQ(probe.get_algorithm_runs()[2].m_algorithm, LIR_ALGORITHM);
    EXPECT_TRUE(probe.get_algorithm_runs()[2].m_parameters.empty());

    std::string text = "  REMUX (NP=2) ";
    std::string parameters;
    EXPECT_EQ(probe.extract_algorithm(&text, &parameters), REMUX_ALGORITHM);
    EXPECT_EQ(parameters, "NP=2");
    text.clear();
    EXPECT_EQ(probe.extract_algorithm(&text, &parameters), ALGORITHM_END);
    text = "REMU()";
    EXPECT_EQ(internal_error_of([&] { probe.extract_algorithm(&text, &parameters); }), "ret_val != ALGORITHM_END");

    probe.set_test_string("a|b|c|d|e");
    EXPECT_EQ(internal_error_of([&] { probe.parse_test_string(); }), "Too many pipe characters in the FSYN string!");
    probe.set_test_string("A()|B()|C()|D()");
    probe.parse_test_string();
    EXPECT_EQ(probe.get_test_string_part(SYN_EARLY_FSYN_FLOW), "A()");
    EXPECT_EQ(probe.get_test_string_part(CLUSTER_RETRY_FSYN_FLOW), "B()");
    EXPECT_EQ(probe.get_test_string_part(POST_CLUSTERING_FSYN_FLOW), "C()");
    EXPECT_EQ(probe.get_test_string_part(LATE_FSYN_FLOW), "D()");
}

TEST_F(MorvFlowsTest, RunFlowInstallsEachMaskAndEmptiesTheList)
{
    MORV_TEST_HOST host(6);
    MORV_TEST_ENV env(&host.cmp);
    PROBE probe(&env);
    probe.allow(LIR_ALGORITHM, true);
    probe.insert_algorithm(LIR_ALGORITHM, "NP=1");
    // LIR builds nothing on this family: the run succeeds without an object.
    probe.run_fsyn_user_option_flow(POST_CLUSTERING_FSYN_FLOW);
    EXPECT_EQ(probe.get_num_algorithm_runs(), 0);
    EXPECT_TRUE(probe.get_algorithm_runs().empty());
    EXPECT_EQ(probe.get_fsyn_api()->get_inst_asgn_mgr()->get_flag_mask(), 0u);

    // The family's list keeps what may run: with RTM alone, BRK's NORMAL
    // LATE list is its one retiming run.
    probe.allow(RTM_ALGORITHM, true);
    probe.add_late_fsyn_algorithms();
    ASSERT_EQ(probe.get_num_algorithm_runs(), 1);
    EXPECT_EQ(probe.get_algorithm_runs()[0].m_parameter_string,
              "SKEW_RTM=1:NP=1:NI=10:HCI=10:NO_LB=1:REG_PACK=1:HC_CUT=4:MAX_AGE=4:EFFORT=0.5");
}

TEST_F(MorvFlowsTest, TestStringRunsAtEarlyAndLate)
{
    MORV_TEST_HOST host(6);
    host.build_chain(4);
    host.ap.get_options().set_string(634, "TEST(NP=2:NI=3)|TEST()");
    PLACING_ENV env(&host.cmp);
    MORV_EXPERT_INTERFACE* expert = env.get_fsyn_expert();
    EXPECT_TRUE(expert->will_fsyn_run(FIT_EARLY_FSYN_FLOW));
    EXPECT_FALSE(expert->will_fsyn_run(POST_CLUSTERING_FSYN_FLOW));
    EXPECT_FALSE(expert->will_fsyn_run(CLUSTER_RETRY_FSYN_FLOW));
    EXPECT_TRUE(expert->will_fsyn_run(LATE_FSYN_FLOW));

    const int before = MORV_ALGORITHM_BASE::get_run_counter();
    EXPECT_TRUE(expert->do_physical_synthesis(FIT_EARLY_FSYN_FLOW));
    EXPECT_EQ(MORV_ALGORITHM_BASE::get_run_counter(), before + 1);
    EXPECT_EQ(env.m_early_saves, 1);
    EXPECT_FALSE(dynamic_cast<MORV_EXPERT*>(expert)->is_fsyn_running(FIT_EARLY_FSYN_FLOW));
    EXPECT_TRUE(expert->do_physical_synthesis(LATE_FSYN_FLOW));
    EXPECT_EQ(MORV_ALGORITHM_BASE::get_run_counter(), before + 2);
    EXPECT_EQ(count_posted("IMORV_PHYSICAL_SYNTHESIS_ALGO_START"), 2);
    EXPECT_EQ(count_posted("IMORV_PHYSICAL_SYNTHESIS_ALGO_END_SLACK"), 2);
    EXPECT_EQ(count_posted("EMORV_FSYN_MALFORMED_TEST_STRING"), 0);
}

TEST_F(MorvFlowsTest, MalformedTestStringIsReportedAndRunsNothing)
{
    for (const char* bad : {"TEST(NP=1|NOPE()", "TEST(NP=2", "TEST()x", ";TEST()", "a()|b()|c()|d()|e()"}) {
        msg_clear_posted_messages();
        MORV_TEST_HOST host(6);
        host.ap.get_options().set_string(634, bad);
        MORV_TEST_ENV env(&host.cmp);
        MORV_EXPERT_INTERFACE* expert = env.get_fsyn_expert();
        for (int flow = SYN_EARLY_FSYN_FLOW; flow <= LATE_FSYN_FLOW; ++flow)
            EXPECT_FALSE(expert->will_fsyn_run(static_cast<e_fsyn_flow>(flow))) << bad;
        const MSG_POSTED_MESSAGE* msg = find_posted("EMORV_FSYN_MALFORMED_TEST_STRING");
        ASSERT_NE(msg, nullptr) << bad;
        EXPECT_EQ(msg->kind, MSG_KIND::ERROR);
        EXPECT_NE(msg->text.find(bad), std::string::npos) << msg->text;
    }
}

TEST_F(MorvFlowsTest, TuneStringsRunTheEarlyString)
{
    cfg_set_value("fsyn_tune_strings", "on");
    cfg_set_value("fsyn_tune_work_string_early", "TEST(NI=1),TEST(NP=1)");
    MORV_TEST_HOST host(6);
    host.build_chain(3);
    PLACING_ENV env(&host.cmp);
    MORV_EXPERT_INTERFACE* expert = env.get_fsyn_expert();
    ASSERT_TRUE(expert->will_fsyn_run(FIT_EARLY_FSYN_FLOW));
    const int before = MORV_ALGORITHM_BASE::get_run_counter();
    EXPECT_TRUE(expert->do_physical_synthesis(FIT_EARLY_FSYN_FLOW));
    EXPECT_EQ(MORV_ALGORITHM_BASE::get_run_counter(), before + 2);
    // Late tuning is not allowed by this host: the late string is empty.
    EXPECT_TRUE(expert->do_physical_synthesis(LATE_FSYN_FLOW));
    EXPECT_EQ(MORV_ALGORITHM_BASE::get_run_counter(), before + 2);

    cfg_set_value("fsyn_tune_work_string_early", "TEST(NI=1),NOPE()");
    MORV_TEST_HOST other(6);
    PLACING_ENV other_env(&other.cmp);
    EXPECT_TRUE(other_env.get_fsyn_expert()->do_physical_synthesis(FIT_EARLY_FSYN_FLOW));
    EXPECT_EQ(MORV_ALGORITHM_BASE::get_run_counter(), before + 2);
    EXPECT_EQ(count_posted("EMORV_FSYN_MALFORMED_TEST_STRING"), 1);

    // A restore of the best netlist with none saved runs nothing of the string.
    cfg_set_value("fsyn_tune_work_string_early", "TEST(NI=1),SAVE_RESTORE(BEST=1)");
    MORV_TEST_HOST third(6);
    PLACING_ENV third_env(&third.cmp);
    EXPECT_TRUE(third_env.get_fsyn_expert()->do_physical_synthesis(FIT_EARLY_FSYN_FLOW));
    EXPECT_EQ(MORV_ALGORITHM_BASE::get_run_counter(), before + 2);
    EXPECT_EQ(count_posted("EMORV_FSYN_NOTHING_SAVED_TO_RESTORE"), 1);
}

TEST_F(MorvFlowsTest, LateFlowAnalysesBeforeAndAfterAndSetsProgress)
{
    MORV_TEST_HOST host(6);
    host.build_chain(2);
    host.ap.get_options().set_string(634, "|TEST(NP=0)");
    PLACING_ENV env(&host.cmp);
    MORV_EXPERT_INTERFACE* expert = env.get_fsyn_expert();
    ASSERT_TRUE(expert->will_fsyn_run(LATE_FSYN_FLOW));
    EXPECT_FALSE(expert->will_fsyn_run(FIT_EARLY_FSYN_FLOW));
    const int icp_before = env.m_icp_calls;
    EXPECT_TRUE(expert->do_physical_synthesis(LATE_FSYN_FLOW));
    // The pre-work and post-work analyses reach the host; NP 0 runs no pass.
    EXPECT_GE(env.m_icp_calls - icp_before, 2);
    EXPECT_FALSE(dynamic_cast<MORV_EXPERT*>(expert)->is_fsyn_running(LATE_FSYN_FLOW));
}

TEST_F(MorvFlowsTest, EarlySlackRatiosAreKeyedByAtomPortAndIndex)
{
    MORV_TEST_HOST host(6);
    const std::vector<int> ids = host.build_chain(4);
    MORV_TEST_ENV env(&host.cmp);
    PROBE probe(&env);
    probe.store_early_slack_ratios();
    // Three connected inputs (the first LUT of the chain has none).
    EXPECT_EQ(probe.recorded_ratios(), 3u);
    EXPECT_TRUE(probe.has_ratio(ids[1], DB_DATA_A, 0));
    EXPECT_FALSE(probe.has_ratio(ids[0], DB_DATA_A, 0));
    // Nothing changed since: no weighted difference.
    EXPECT_EQ(probe.get_weighted_slack_ratio_difference(), 0.0);
    probe.store_early_slack_ratios();
    EXPECT_EQ(probe.recorded_ratios(), 3u);
}

TEST_F(MorvFlowsTest, LateTuneStringFollowsEffortAndThresholds)
{
    cfg_set_value("fsyn_tune_work_string_fast", "TEST(NP=0)");
    cfg_set_value("fsyn_tune_work_string_normal_late", "TEST(NP=0),TEST(NP=0)");
    cfg_set_value("fsyn_tune_work_string_normal", "TEST(NP=0),TEST(NP=0),TEST(NP=0)");
    cfg_set_value("fsyn_tune_work_string_extra", "TEST(NP=0),TEST(NP=0),TEST(NP=0),TEST(NP=0)");
    MORV_TEST_HOST host(6);
    host.build_chain(3);
    TUNING_ENV env(&host.cmp);
    FLOW_PROBE probe(&env);
    probe.set_algorithm_may_run(TEST_ALGORITHM, true);
    probe.set_flow_enabled(FIT_EARLY_FSYN_FLOW, true);
    // Nothing was recorded early, so the weighted slack-ratio change is 0.
    auto runs = [&](int effort, const char* fast, const char* slow) {
        cfg_set_value("fsyn_tune_fast_threshold", fast);
        cfg_set_value("fsyn_tune_slow_threshold", slow);
        probe.set_effort(effort);
        const int before = probe.m_algorithms_run;
        probe.run_fsyn_tune_string_flow(LATE_FSYN_FLOW);
        return probe.m_algorithms_run - before;
    };
    EXPECT_EQ(runs(65, "0.1", "0.5"), 1);
    EXPECT_EQ(runs(65, "0", "-0.1"), 2);
    EXPECT_EQ(runs(65, "0", "0"), 3);
    EXPECT_EQ(runs(81, "0", "-0.1"), 1);
    EXPECT_EQ(runs(152, "0.1", "-0.1"), 4);
    EXPECT_EQ(runs(0, "0.1", "-0.1"), 3);
    EXPECT_EQ(internal_error_of([&] { runs(65, "", "0"); }),
              "fast_threshold_string.length() && slow_threshold_string.length()");
    // Without an early flow there is nothing to compare: the late string is empty.
    probe.set_flow_enabled(FIT_EARLY_FSYN_FLOW, false);
    EXPECT_EQ(runs(65, "0.1", "0.5"), 0);
}

TEST_F(MorvFlowsTest, SweeperOnlyAndUnstableEarlyFlowsRunNoAlgorithm)
{
    MORV_TEST_HOST host(6);
    host.build_chain(3);
    PLACING_ENV env(&host.cmp);
    FLOW_PROBE sweeper(&env);
    sweeper.set_flow_type(FSYN_SWEEPER_ONLY_FLOW);
    sweeper.set_sweeper_only();
    EXPECT_TRUE(sweeper.early_fsyn_flow(SYN_EARLY_FSYN_FLOW));
    EXPECT_EQ(sweeper.m_sweeps, 1);
    EXPECT_EQ(sweeper.m_algorithms_run, 0);
    EXPECT_EQ(env.m_early_saves, 0);
    EXPECT_EQ(sweeper.recorded_ratios(), 2u);
    EXPECT_FALSE(sweeper.is_fsyn_running(SYN_EARLY_FSYN_FLOW));

    // A manual run would follow the early lists, but an unstable early
    // timing model lets no algorithm run; the ratios are still recorded.
    cfg_set_value("fsyn_manual_after_early", "on");
    MORV_TEST_HOST other(6);
    other.build_chain(4);
    PLACING_ENV other_env(&other.cmp);
    FLOW_PROBE unstable(&other_env);
    unstable.set_flow_type(FSYN_USER_OPTION_FLOW);
    unstable.m_stable = false;
    EXPECT_TRUE(unstable.early_fsyn_flow(FIT_EARLY_FSYN_FLOW));
    EXPECT_EQ(unstable.m_algorithms_run, 0);
    EXPECT_EQ(other_env.m_early_saves, 0);
    EXPECT_EQ(unstable.recorded_ratios(), 3u);
    ASSERT_NE(unstable.get_fsyn_api()->get_fsyn_chip_map(), nullptr);

    unstable.m_stable = true;
    EXPECT_TRUE(unstable.early_fsyn_flow(FIT_EARLY_FSYN_FLOW));
    EXPECT_EQ(unstable.m_algorithms_run, 1);
    EXPECT_EQ(other_env.m_early_saves, 1);

    unstable.set_flow_type(7);
    EXPECT_EQ(internal_error_of([&] { unstable.early_fsyn_flow(FIT_EARLY_FSYN_FLOW); }), "Unrecognized FSYN flow");
}

// The early flows hand the timing object to the host with the flags
// (0, 1, 1, 0, 1, 1): the timing netlist is built afresh, at the full taint
// the flow has just set.
TEST_F(MorvFlowsTest, EarlyFlowsBuildTheTimingNetlistWithTheirOwnFlags)
{
    for (const e_fsyn_flow flow : {SYN_EARLY_FSYN_FLOW, FIT_EARLY_FSYN_FLOW}) {
        MORV_TEST_HOST host(6);
        host.build_chain(3);
        PLACING_ENV env(&host.cmp);
        FLOW_PROBE probe(&env);
        probe.set_flow_type(FSYN_SWEEPER_ONLY_FLOW);
        env.m_timing_build_flags.clear();
        const int taints = env.m_full_taint_calls;
        EXPECT_TRUE(probe.early_fsyn_flow(flow));
        ASSERT_FALSE(env.m_timing_build_flags.empty()) << flow;
        EXPECT_EQ(env.m_timing_build_flags.front(), "011011") << flow;
        EXPECT_GT(env.m_full_taint_calls, taints);

        env.m_timing_build_flags.clear();
        if (flow == FIT_EARLY_FSYN_FLOW) {
            EXPECT_TRUE(probe.early_fsyn_esr_only_flow(flow));
            ASSERT_FALSE(env.m_timing_build_flags.empty());
            EXPECT_EQ(env.m_timing_build_flags.front(), "011011");
        }
    }
}

TEST_F(MorvFlowsTest, UserOptionModeAddsManualRunsWhereTheirSwitchesSay)
{
    cfg_set_value("fsyn_manual_after_early", "on");
    cfg_set_value("fsyn_manual_after_late", "on");
    MORV_TEST_HOST host(6);
    host.build_chain(2);
    PLACING_ENV env(&host.cmp);
    FLOW_PROBE probe(&env);
    probe.set_flow_type(FSYN_USER_OPTION_FLOW);
    // This family runs its early flow at FIT_EARLY, not SYN_EARLY.
    probe.run_fsyn_user_option_flow(SYN_EARLY_FSYN_FLOW);
    EXPECT_EQ(probe.m_algorithms_run, 0);
    probe.run_fsyn_user_option_flow(FIT_EARLY_FSYN_FLOW);
    EXPECT_EQ(probe.m_algorithms_run, 1);
    EXPECT_TRUE(probe.algorithm_may_run(MANUAL_ALGORITHM));
    probe.run_fsyn_user_option_flow(CLUSTER_RETRY_FSYN_FLOW);
    EXPECT_EQ(probe.m_algorithms_run, 1);
    probe.run_fsyn_user_option_flow(LATE_FSYN_FLOW);
    EXPECT_EQ(probe.m_algorithms_run, 2);

    // After clustering the mode adds nothing, but both analyses still run.
    const int icp_before = env.m_icp_calls;
    EXPECT_TRUE(probe.post_clustering_fsyn_flow());
    EXPECT_EQ(probe.m_algorithms_run, 2);
    EXPECT_EQ(env.m_icp_calls - icp_before, 2);
}

TEST_F(MorvFlowsTest, RunFlowStopsOnAForbiddenOrFailedAlgorithm)
{
    MORV_TEST_HOST host(6);
    PLACING_ENV env(&host.cmp);
    FLOW_PROBE forbidden(&env);
    forbidden.set_algorithm_may_run(RTM_ALGORITHM, false);
    forbidden.extract_test_string("RTM()");
    EXPECT_EQ(internal_error_of([&] { forbidden.run_flow(); }), "m_algorithm_list[alg_run.m_algorithm]");
    EXPECT_EQ(forbidden.m_algorithms_run, 0);

    MORV_TEST_HOST other(6);
    PLACING_ENV other_env(&other.cmp);
    FLOW_PROBE failing(&other_env);
    failing.set_algorithm_may_run(RTM_ALGORITHM, true);
    failing.m_succeed = false;
    failing.extract_test_string("RTM()");
    EXPECT_EQ(internal_error_of([&] { failing.run_flow(); }), "Error - algorithm failed!");
}

TEST_F(MorvFlowsTest, EachRunHasItsOwnInstanceMaskWhileItRunsAndNoneAfter)
{
    cfg_set_value("fsyn_dump_instance_assignments", "on");
    MORV_TEST_HOST host(6);
    host.build_chain(2);
    PLACING_ENV env(&host.cmp);
    FLOW_PROBE probe(&env);
    probe.set_algorithm_may_run(TEST_ALGORITHM, true);
    probe.set_algorithm_may_run(REP_ALGORITHM, true);
    probe.set_mask(TEST_ALGORITHM, 0x20);
    probe.set_mask(REP_ALGORITHM, 0x40);
    probe.extract_test_string("TEST();REP();TEST()");
    msg_clear_vdebug_lines();
    probe.run_flow();
    EXPECT_EQ(probe.m_masks_seen, (std::vector<unsigned>{0x20, 0x40, 0x20}));
    EXPECT_EQ(probe.get_fsyn_api()->get_inst_asgn_mgr()->get_flag_mask(), 0u);
    int dumps = 0;
    for (const auto& line : msg_vdebug_lines()) dumps += line.text == "Dumping instance assignments..." ? 1 : 0;
    EXPECT_EQ(dumps, 3) << "one dump per run under the switch";
}

// With the routing estimate on, the late user-option flow times the netlist
// (no full placement) before it lists its algorithms, and a failure stops it.
TEST_F(MorvFlowsTest, LateUserOptionFlowTimesWithTheRoutingEstimateFirst)
{
    cfg_set_value("fsyn_use_routing_estimate", "on");
    MORV_TEST_HOST host(6);
    host.build_chain(2);
    MORV_GATE_ENV env(&host.cmp);
    FLOW_PROBE probe(&env);
    probe.run_fsyn_user_option_flow(LATE_FSYN_FLOW);
    EXPECT_EQ(env.m_icp_calls, 1);
    EXPECT_FALSE(env.m_last_icp_full);
    EXPECT_FALSE(env.m_last_icp_second);
    env.m_icp_result.m_status = 0;
    EXPECT_EQ(internal_error_of([&] { probe.run_fsyn_user_option_flow(LATE_FSYN_FLOW); }), "pre_icp_ok");
}

// Each flow point asks the family for its own list; POST_CLUSTERING has none.
// Without the routing estimate the late list needs no timing first.
TEST_F(MorvFlowsTest, UserOptionFlowsAskTheFamilyForTheirOwnLists)
{
    MORV_TEST_HOST host(6);
    host.build_chain(2);
    MORV_GATE_ENV env(&host.cmp);
    FLOW_PROBE probe(&env);
    for (e_fsyn_flow flow :
         {SYN_EARLY_FSYN_FLOW, FIT_EARLY_FSYN_FLOW, POST_CLUSTERING_FSYN_FLOW, CLUSTER_RETRY_FSYN_FLOW, LATE_FSYN_FLOW})
        probe.run_fsyn_user_option_flow(flow);
    EXPECT_EQ(probe.m_lists_asked, "SYN_EARLY FIT_EARLY CR LATE ");
    EXPECT_EQ(env.m_icp_calls, 0);
}

// Under fsyn_force_restore every run's result is thrown away: the netlist
// the run began with comes back and is timed again.
TEST_F(MorvFlowsTest, ForcedRestoreBringsBackTheNetlistEachRunBeganWith)
{
    for (bool forced : {false, true}) {
        cfg_clear_all();
        msg_clear_posted_messages();
        if (forced) cfg_set_value("fsyn_force_restore", "on");
        MORV_TEST_HOST host(6);
        host.build_chain(3);
        host.ap.get_options().set_string(634, "TEST(NP=1:NI=1)");
        PLACING_ENV env(&host.cmp);
        MORV_EXPERT_INTERFACE* expert = env.get_fsyn_expert();
        ASSERT_TRUE(expert->will_fsyn_run(LATE_FSYN_FLOW));
        const int restores = env.m_pre_restore_calls;
        EXPECT_TRUE(expert->do_physical_synthesis(LATE_FSYN_FLOW));
        EXPECT_EQ(env.m_pre_restore_calls - restores, forced ? 1 : 0) << forced;
        EXPECT_EQ(count_posted("IMORV_PHYSICAL_SYNTHESIS_ALGO_END_SLACK"), 1);
    }
}

}  // namespace morv_flows_test
