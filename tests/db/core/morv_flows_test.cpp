#include <gtest/gtest.h>

#include <string>

#include "cfg/cfg.h"
#include "msg/msg.h"

#include "morv/core/morv_algorithm_base.h"
#include "morv/core/morv_api.h"
#include "morv/core/morv_expert.h"
#include "morv/core/morv_expert_brk.h"
#include "morv/netlist/morv_inst_asgn_mgr.h"
#include "morv_test_env.h"
#include "morv_test_util.h"

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
    using MORV_EXPERT_BRK::MORV_EXPERT_BRK;
    using MORV_EXPERT::extract_algorithm;
    using MORV_EXPERT::extract_test_string;
    using MORV_EXPERT::insert_algorithm;
    using MORV_EXPERT::parse_test_string;
    using MORV_EXPERT::run_fsyn_user_option_flow;
    void set_test_string(const std::string& text) { m_opx_fsyn_test_string = text; }
    void allow(int id, bool on) { m_algorithm_list[id] = on; }
    using MORV_EXPERT::get_weighted_slack_ratio_difference;
    using MORV_EXPERT::store_early_slack_ratios;
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

class MorvFlowsTest : public MORV_CLEAN_STATE_TEST
{
};

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

    // The family lists are not there yet: the user hears it once per flow point.
    probe.run_fsyn_user_option_flow(LATE_FSYN_FLOW);
    probe.run_fsyn_user_option_flow(LATE_FSYN_FLOW);
    EXPECT_EQ(count_posted("EMORV_FSYN_NO_DEFAULT_ALGORITHM_LIST"), 1);
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
    for (const char* bad : {"TEST(NP=1|NOPE()", "TEST(NP=2", "TEST(=2)", "a()|b()|c()|d()|e()"}) {
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
