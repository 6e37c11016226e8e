#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "cfg/cfg.h"
#include "dev/dev_device.h"
#include "msg/msg.h"

#include "morv/core/algorithm/morv_algorithm_base.h"
#include "morv/core/morv_api.h"
#include "morv/core/algorithm/morv_test.h"
#include "morv_probe_expert.h"
#include "morv_test_util.h"

namespace morv_algorithm_base_test {

namespace {

// An algorithm that keeps every base behaviour.
class PLAIN_ALGORITHM : public MORV_ALGORITHM_BASE
{
public:
    using MORV_ALGORITHM_BASE::MORV_ALGORITHM_BASE;
    ~PLAIN_ALGORITHM() override {}
    void set_timing_mode(int mode) { m_timing_mode = mode; }
};

MORV_PARAMETER_MAP parsed(const std::string& text, int* count = nullptr)
{
    MORV_PARAMETER_MAP params;
    const int n = MORV_ALGORITHM_BASE::parse_algorithm_params(params, text);
    if (count) *count = n;
    return params;
}

class MorvAlgorithmBaseTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        cfg_clear_all();
        msg_set_quiet(true);
        ids = host.build_chain(4);
        env = std::make_unique<MORV_GATE_ENV>(&host.cmp);
        expert = std::make_unique<MORV_PROBE_EXPERT>(env.get());
        api = expert->get_fsyn_api();
    }
    void TearDown() override
    {
        expert.reset();
        env.reset();
        cfg_clear_all();
    }

    MORV_TEST_HOST host{6};
    std::vector<int> ids;
    std::unique_ptr<MORV_GATE_ENV> env;
    std::unique_ptr<MORV_PROBE_EXPERT> expert;
    MORV_API* api = nullptr;
};

TEST(MorvParameterMap, ParsesPairsTrimsBlanksAndKeepsTheFirstOfARepeatedKey)
{
    int count = 0;
    MORV_PARAMETER_MAP params = parsed("NP=2:NI=5", &count);
    EXPECT_EQ(count, 2);
    EXPECT_EQ(params, (MORV_PARAMETER_MAP{{"NP", "2"}, {"NI", "5"}}));
    EXPECT_EQ(parsed("  NP = 2 :  NI=  5  "), params);

    params = parsed("NP=1:NP=4", &count);
    EXPECT_EQ(count, 2);
    EXPECT_EQ(MORV_ALGORITHM_BASE::get_algorithm_param(params, "NP"), "1");

    // Only blanks are trimmed; a tab stays part of the key.
    params = parsed("\tNP=3");
    EXPECT_EQ(MORV_ALGORITHM_BASE::get_algorithm_param(params, "NP"), "");
    EXPECT_EQ(MORV_ALGORITHM_BASE::get_algorithm_param(params, "\tNP"), "3");

    // Text after the last ':' without '=' is ignored; an empty value is kept empty.
    params = parsed("FOM=:NI=2:garbage", &count);
    EXPECT_EQ(count, 2);
    EXPECT_EQ(params.size(), 2u);
    EXPECT_EQ(params.at("FOM"), "");

    params = parsed("", &count);
    EXPECT_EQ(count, 0);
    EXPECT_TRUE(params.empty());

    // The map is cleared before it is filled.
    params = parsed("A=1");
    EXPECT_EQ(MORV_ALGORITHM_BASE::parse_algorithm_params(params, "B=2"), 1);
    EXPECT_EQ(params.count("A"), 0u);
    EXPECT_EQ(MORV_ALGORITHM_BASE::trim_spaces("   "), "");
    EXPECT_EQ(MORV_ALGORITHM_BASE::trim_spaces(" a b "), "a b");
}

TEST_F(MorvAlgorithmBaseTest, ConstructorReadsSharedKeysWithTheirUnsetValues)
{
    MORV_PARAMETER_MAP none;
    PLAIN_ALGORITHM defaults(api, &none);
    EXPECT_EQ(defaults.get_num_passes(), -1);
    EXPECT_EQ(defaults.get_num_iters(), -1);
    EXPECT_EQ(defaults.get_icp_at_end(), -1);
    EXPECT_EQ(defaults.get_fom_to_accept(), -1.0);
    EXPECT_EQ(defaults.get_restore_netlist(), -1);
    EXPECT_EQ(defaults.get_hill_climb_iters(), -1);
    EXPECT_EQ(defaults.get_hill_climb_cut(), -1);
    EXPECT_EQ(defaults.get_slack_ratio_threshold(), -1.0);
    EXPECT_FLOAT_EQ(defaults.get_effort(), 1.0f);
    EXPECT_FALSE(defaults.get_reg_pack());
    EXPECT_EQ(defaults.get_timing_mode(), -1);
    EXPECT_EQ(defaults.get_short_name(), "UNKNOWN_ALGO");
    EXPECT_EQ(defaults.get_description(), "UNKNOWN_ALGO");

    MORV_PARAMETER_MAP params =
        parsed("NP=3:NI=7:ICP_AT_END=2:FOM=xSMALL_DOUBLEx:RESTORE_NETLIST=1:HCI=4:HC_CUT=9:EFFORT=2.5:REG_PACK=1");
    PLAIN_ALGORITHM set(api, &params);
    EXPECT_EQ(set.get_num_passes(), 3);
    EXPECT_EQ(set.get_num_iters(), 7);
    EXPECT_EQ(set.get_icp_at_end(), 0);  // only 1 means yes
    EXPECT_EQ(set.get_fom_to_accept(), 1e-10);
    EXPECT_EQ(set.get_restore_netlist(), 1);
    EXPECT_EQ(set.get_hill_climb_iters(), 4);
    EXPECT_EQ(set.get_hill_climb_cut(), 9);
    EXPECT_FLOAT_EQ(set.get_effort(), 2.5f);
    EXPECT_TRUE(set.get_reg_pack());

    params = parsed("FOM=0.5:ICP_AT_END=1:RESTORE_NETLIST=7:NP=");
    PLAIN_ALGORITHM half(api, &params);
    EXPECT_EQ(half.get_fom_to_accept(), 0.5);
    EXPECT_EQ(half.get_icp_at_end(), 1);
    EXPECT_EQ(half.get_restore_netlist(), 0);
    EXPECT_EQ(half.get_num_passes(), -1);  // an empty value counts as absent

    params = parsed("FOM=");
    PLAIN_ALGORITHM empty_fom(api, &params);
    EXPECT_EQ(empty_fom.get_fom_to_accept(), -1.0);
}

TEST_F(MorvAlgorithmBaseTest, SlackRatioThresholdComesFromSrtOrFromTheTimedInputs)
{
    MORV_PARAMETER_MAP params = parsed("SRT=0.3:SRT_PER=0.5");
    PLAIN_ALGORITHM explicit_srt(api, &params);
    EXPECT_DOUBLE_EQ(explicit_srt.get_slack_ratio_threshold(), 0.3);
    EXPECT_DOUBLE_EQ(explicit_srt.get_slack_ratio_threshold_percent(), 0.5);

    // Every input of the chain is driven; without a timing netlist each reads 1.0.
    params = parsed("SRT_PER=0.25");
    PLAIN_ALGORITHM from_percent(api, &params);
    EXPECT_DOUBLE_EQ(from_percent.get_slack_ratio_threshold(), 1.0);
    // A fraction of 1 or more takes the last ratio instead of reading past the end.
    EXPECT_DOUBLE_EQ(from_percent.compute_slack_ratio_threshold(1.0), 1.0);
    EXPECT_DOUBLE_EQ(from_percent.compute_slack_ratio_threshold(7.0), 1.0);
}

TEST(MorvAlgorithmBaseNoTiming, ThresholdStaysUnsetWithoutTimedInputs)
{
    cfg_clear_all();
    msg_set_quiet(true);
    MORV_TEST_HOST host(6);
    host.build_chain(1);  // one LUT, no driven input
    MORV_GATE_ENV env(&host.cmp);
    MORV_PROBE_EXPERT expert(&env);
    MORV_PARAMETER_MAP params = parsed("SRT_PER=0.5");
    PLAIN_ALGORITHM algorithm(expert.get_fsyn_api(), &params);
    EXPECT_EQ(algorithm.get_slack_ratio_threshold(), -1.0);
}

TEST(MorvAlgorithmBaseTiming, LegacyFigureAveragesCriticalInputsOverTheirCountPlusOne)
{
    cfg_clear_all();
    msg_set_quiet(true);
    // Two register pairs of equal delay on clocks of 1000 and 1100 ps: the
    // fast pair's data input is the critical one (ratio 0), the slow pair's
    // reads 1 - 1000/1100 whatever the delay is.
    cfg_set_value("tdc_clock_period_ps.clk_fast", "1000");
    cfg_set_value("tdc_clock_period_ps.clk_slow", "1100");
    MORV_TEST_HOST host(6);
    auto add = [&](int kind, const char* name) {
        CDB_ATOM_NODE* node = cdb_create_atom(6, kind, host.names.find_or_create_path(name, 0));
        node->set_chip_db_entry(&host.chip_entry);
        host.netlist->add_node(node);
        return node;
    };
    auto register_pair = [&](const char* clock_name, const char* first, const char* second) {
        CDB_ATOM_OTERM* clock =
            add(CDB_KIND_IO, clock_name)->add_output_term(DB_DATA_OUT, host.names.find_or_create_path(clock_name, 0));
        CDB_ATOM_NODE* launch = add(CDB_KIND_REGISTER, first);
        CDB_ATOM_NODE* capture = add(CDB_KIND_REGISTER, second);
        launch->add_input_term(DB_CLOCK)->insert_fanin(clock);
        capture->add_input_term(DB_CLOCK)->insert_fanin(clock);
        CDB_ATOM_ITERM* data = capture->add_input_term(DB_DATAIN);
        data->insert_fanin(launch->add_output_term(DB_REG_OUT));
        return data;
    };
    CDB_ATOM_ITERM* critical = register_pair("clk_fast", "f0", "f1");
    CDB_ATOM_ITERM* near_critical = register_pair("clk_slow", "s0", "s1");
    {
        MORV_GATE_ENV env(&host.cmp);
        MORV_PROBE_EXPERT expert(&env);
        MORV_API* api = expert.get_fsyn_api();
        MORV_TIMING* timing = api->get_fsyn_timing();
        env.build_timing_netlist(timing, false, false, true, true, true, true);
        timing->perform_timing_analysis();
        // BRK remaps the analyser's ratios so that 0.1 lands on 0.125.
        const double ratio = (1.0 - 1000.0 / 1100.0) / 0.1 * 0.125;
        ASSERT_EQ(timing->get_slack_ratio(critical), 0.0);
        ASSERT_NEAR(timing->get_slack_ratio(near_critical), ratio, 1e-6);
        const int worst_slack = timing->get_figure_of_merit(false);
        ASSERT_NE(worst_slack, MORV_TIMING::s_NO_VALID_FOM);

        MORV_PARAMETER_MAP none;
        PLAIN_ALGORITHM plain(api, &none);
        // Both data inputs count (the clock inputs read 1.0); the critical
        // one adds 1 - 1^15 = 0. Mean: the sum over (2 + 1).
        const double expected = 50.0 * (1.0 - std::pow(1.0 - ratio, 15.0)) / 3.0 + worst_slack;
        EXPECT_NEAR(plain.compute_figure_of_merit(), expected, 1e-3);
    }
    DMGR_UTILITY::set_current_device(nullptr);
    cfg_clear_all();
}

TEST_F(MorvAlgorithmBaseTest, BaseDefaultsOverrideWhileTestFillsOnlyUnsetValues)
{
    MORV_PARAMETER_MAP params = parsed("NP=5:ICP_AT_END=0:FOM=2:RESTORE_NETLIST=0:NI=3:HCI=1");
    PLAIN_ALGORITHM plain(api, &params);
    int np = 5, icp = 0, restore = 0, ni = 3, hci = 1;
    double fom = 2.0;
    plain.set_default_algorithm_parameters(np, icp, fom, restore);
    plain.set_default_pass_parameters(0, ni, hci);
    EXPECT_EQ(np, 1);
    EXPECT_EQ(icp, 1);
    EXPECT_EQ(fom, 0.0);
    EXPECT_EQ(restore, 1);
    EXPECT_EQ(ni, 10);
    EXPECT_EQ(hci, 0);

    MORV_PARAMETER_MAP none;
    MORV_TEST test(api, &none);
    EXPECT_EQ(test.get_short_name(), "TEST");
    EXPECT_EQ(test.get_description(), "test algorithm");
    np = -1, icp = -1, restore = -1, ni = -1, hci = -1;
    fom = -1.0;
    test.set_default_algorithm_parameters(np, icp, fom, restore);
    test.set_default_pass_parameters(0, ni, hci);
    EXPECT_EQ(np, 1);
    EXPECT_EQ(icp, 0);
    EXPECT_EQ(fom, 0.0);
    EXPECT_EQ(restore, 1);
    EXPECT_EQ(ni, 10);
    EXPECT_EQ(hci, 10);
    EXPECT_DOUBLE_EQ(test.get_slack_ratio_threshold(), 0.125);

    np = 4, icp = 1, restore = 0, ni = 2, hci = -1;
    fom = 0.5;
    test.set_default_algorithm_parameters(np, icp, fom, restore);
    test.set_default_pass_parameters(1, ni, hci);
    EXPECT_EQ(np * 1000 + icp * 100 + restore * 10 + ni, 4102);
    EXPECT_EQ(fom, 0.5);
    EXPECT_EQ(hci, 2);
}

TEST_F(MorvAlgorithmBaseTest, UnimplementedOperationsReportAndTestChangesNothing)
{
    MORV_PARAMETER_MAP none;
    PLAIN_ALGORITHM plain(api, &none);
    EXPECT_EQ(internal_error_of([&] { plain.do_iter(); }),
              "do_iter () is not implemented by this algorithm. (see default virtual function in fsyn_algorithm_base)");
    msg_clear_vdebug_lines();
    EXPECT_EQ(plain.evaluate_local_optimization(nullptr), nullptr);
    EXPECT_FALSE(plain.perform_local_optimization(nullptr, nullptr, nullptr));
    ASSERT_EQ(msg_vdebug_lines().size(), 2u);
    EXPECT_EQ(msg_vdebug_lines()[1].text, "Warning - perform_local_optimization() is not defined for this algorithm "
                                          "(see default virtual function in morv_expert_sys)");
    EXPECT_TRUE(plain.reports_estimated_improvement());
    EXPECT_FALSE(plain.is_fom_close_to_optimal());
    EXPECT_FALSE(plain.use_itest());
    plain.set_timing_mode(1);
    EXPECT_EQ(internal_error_of([&] { plain.print_behaviors(); }), "<no internal error>");
    plain.set_timing_mode(5);
    msg_clear_vdebug_lines();
    EXPECT_EQ(internal_error_of([&] { plain.print_behaviors(); }), "Invalid timing mode");
    // The heading comes before the mode is looked at.
    ASSERT_EQ(msg_vdebug_lines().size(), 1u);
    EXPECT_EQ(msg_vdebug_lines()[0].text, "Behaviors:");

    // A driven input, an unconnected input and a tied input: the legacy
    // figure only asks about the driven one. The first question times the
    // netlist, so the figure is the analysis's, not the "no analysis" mark.
    const double driven_only = plain.compute_figure_of_merit();
    EXPECT_NE(driven_only, static_cast<double>(MORV_TIMING::s_NO_VALID_FOM));
    CDB_ATOM_NODE* last = host.netlist->get_node_by_id(ids.back());
    last->add_input_term(DB_DATA_B);
    last->add_input_term(DB_DATA_C)->set_vcc();
    EXPECT_EQ(plain.compute_figure_of_merit(), driven_only);

    const size_t nodes = host.netlist->get_node_count();
    MORV_TEST test(api, &none);
    EXPECT_EQ(test.do_iter(), 0);
    EXPECT_EQ(test.do_iter(), 0);
    EXPECT_EQ(host.netlist->get_node_count(), nodes);
}

}  // namespace

}  // namespace morv_algorithm_base_test
