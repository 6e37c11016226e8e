// What the timing front end answers: slack ratios through their remaps,
// the guardband, internal cell delays, delays read off the timing netlist,
// the averages of critical delays, and the corrections of the table model.

#include <gtest/gtest.h>

#include <vector>

#include "dev/dev_device.h"
#include "tdb/tdb_netlist.h"
#include "tdc/tdc_accessories.h"

#include "morv/core/morv_env.h"
#include "morv/timing/morv_table_timing_model.h"
#include "nevra/nevra_estimator.h"
#include "scripted_slack.h"
#include "timing_fixture.h"

namespace morv_timing_query_test {

namespace {

using MorvTimingQuery = MORV_CLEAN_STATE_TEST;

double adjust(double raw, bool pre_placement, bool remap, double skew)
{
    return MORV_TIMING::adjust_slack_ratio(raw, pre_placement, remap, skew);
}

// The pin delay of a LUT input of the current device (to the LUT output).
int pin_delay(int port)
{
    return DMGR_UTILITY::get_current_device()->get_cell_delay_ps(port, DB_COMB_OUT);
}

}  // namespace

TEST(MorvTimingSlackRatio, TransformsAtTheirBoundaries)
{
    // Before placement, either back end.
    EXPECT_NEAR(adjust(1.0, true, false, 0.125), 0.9916, 1e-12);
    EXPECT_EQ(adjust(0.0, true, false, 0.125), 0.0);
    // The analyser's remap around a skew of 0.1.
    EXPECT_NEAR(adjust(0.05, false, true, 0.1), 0.0625, 1e-12);
    EXPECT_NEAR(adjust(0.1, false, true, 0.1), 0.125, 1e-12);
    EXPECT_NEAR(adjust(0.55, false, true, 0.1), 0.5625, 1e-12);
    EXPECT_NEAR(adjust(1.0, false, true, 0.1), 1.0, 1e-12);
    // A skew of 0.125 leaves every ratio where it was.
    for (double raw = 0.0; raw <= 1.0; raw += 0.0625) EXPECT_NEAR(adjust(raw, false, true, 0.125), raw, 1e-12);
    // The clamp, after the remap.
    EXPECT_EQ(adjust(-0.2, false, true, 0.1), 0.0);
    EXPECT_EQ(adjust(1.3, false, true, 0.1), 1.0);
    EXPECT_EQ(adjust(1.3, true, false, 0.1), 1.0);
    // The estimator's ratios are not remapped.
    EXPECT_NEAR(adjust(0.05, false, false, 0.1), 0.05, 1e-12);
}

TEST_F(MorvTimingQuery, SlacksAndRatiosAreTheAnalysersAfterTheRemaps)
{
    TIMING_NETLIST t(CDB_FAMILY_BRK);
    t.build_pipeline();
    MORV_TIMING* timing = t.timing();
    t.analyse();
    TDC_UTILITY* utility = tdc_get_accessories()->get_tdc_utility();
    int checked = 0;
    for (CDB_ATOM_NODE* node : *t.netlist())
        for (auto it = node->begin_iterm(); it != node->end_iterm(); ++it) {
            CDB_ATOM_ITERM* iterm = *it;
            if (iterm->get_source() == nullptr) continue;
            const int port = iterm->get_any_usage_as();
            EXPECT_EQ(timing->get_slack(iterm), utility->get_slack(node, port, 0));
            const double raw = utility->get_slack_ratio(node, port, 0);
            EXPECT_DOUBLE_EQ(timing->get_slack_ratio(iterm), adjust(raw, false, true, 0.1));
            t.run_only(FIT_EARLY_FSYN_FLOW);
            EXPECT_DOUBLE_EQ(timing->get_slack_ratio(iterm), adjust(raw, true, true, 0.1));
            t.run_only(-1);
            ++checked;
        }
    EXPECT_EQ(checked, 8);
    // A critical path exists: its data input is below the skew's ratio.
    EXPECT_LT(timing->get_slack_ratio(t.q2->get_my_node()->get_input_term_by_type(DB_DATAIN)), 1.0);
}

// Statistics, slack records and thresholds ask before the run first timed
// the netlist: they get the analyser's slacks, not "unconstrained", from
// one analysis, the same the run driver's own step gives.
TEST_F(MorvTimingQuery, AQueryBeforeAnyAnalysisTimesTheNetlistOnceAsTheRunDriverWould)
{
    for (const int flow : {-1, static_cast<int>(FIT_EARLY_FSYN_FLOW)}) {
        SCOPED_TRACE(flow);
        TIMING_NETLIST t(CDB_FAMILY_BRK);
        t.build_pipeline();
        t.run_only(flow);
        MORV_TIMING* timing = t.timing();
        ASSERT_EQ(timing->get_tdc_utility(), nullptr);
        TDC_ACCESSORIES* accessories = tdc_get_accessories();
        const long analyses = accessories->get_num_analyses();
        CDB_ATOM_ITERM* critical = t.q2->get_my_node()->get_input_term_by_type(DB_DATAIN);
        CDB_ATOM_ITERM* lut_input = t.y1->get_my_node()->get_input_term_by_type(DB_DATA_A);
        const int slack = timing->get_slack(critical);
        const double ratio = timing->get_slack_ratio(critical);
        const int lut_slack = timing->get_slack(lut_input);
        EXPECT_EQ(accessories->get_num_analyses(), analyses + 1);
        EXPECT_NE(slack, MORV_TIMING::s_NO_PATH);
        EXPECT_LT(ratio, 1.0);
        EXPECT_NE(timing->get_figure_of_merit(false), MORV_TIMING::s_NO_VALID_FOM);
        // The run driver's step for the stage answers alike.
        if (flow == -1) t.analyse();
        else timing->perform_pre_placement_timing_analysis(false);
        EXPECT_EQ(timing->get_slack(critical), slack);
        EXPECT_DOUBLE_EQ(timing->get_slack_ratio(critical), ratio);
        EXPECT_EQ(timing->get_slack(lut_input), lut_slack);
        t.run_only(-1);
    }
}

TEST_F(MorvTimingQuery, TheFigureOfMeritComesFromTheLastAnalysisOrTheHostOrTheLegacyFigure)
{
    TIMING_NETLIST t(CDB_FAMILY_BRK);
    t.build_pipeline();
    MORV_TIMING* timing = t.timing();
    // Before any analysis there is no valid timing data.
    EXPECT_EQ(timing->get_figure_of_merit(false), MORV_TIMING::s_NO_VALID_FOM);
    t.analyse();
    EXPECT_EQ(timing->get_figure_of_merit(false), static_cast<int>(tdc_get_accessories()->get_figure_of_merit()));
    const int worst_slack = tdc_get_accessories()->get_analysis()->get_worst_slack();
    EXPECT_EQ(timing->get_figure_of_merit(true), worst_slack);
    timing->set_fom_from_env(true);
    EXPECT_EQ(timing->get_figure_of_merit(false), 0);  // the test host's figure
    t.analyse();
    EXPECT_FALSE(timing->is_fom_from_env());
}

TEST_F(MorvTimingQuery, GuardbandByFamilyAndLateFlow)
{
    struct CASE
    {
        int family, late, other;
    } cases[] = {{6, 500, 2500}, {9, 500, 2500}, {35, 500, 2500}, {42, 500, 2500}, {24, 1500, 2500}, {47, 1500, 5000}};
    for (const CASE& c : cases) {
        TIMING_NETLIST t(c.family);
        EXPECT_EQ(t.timing()->get_guardband_slack(), c.other) << c.family;
        t.run_only(LATE_FSYN_FLOW);
        EXPECT_EQ(t.timing()->get_guardband_slack(), c.late) << c.family;
        t.run_only(-1);
    }
}

TEST_F(MorvTimingQuery, InternalDelaysFromTheDeviceModel)
{
    {
        TIMING_NETLIST t(CDB_FAMILY_OBRAN);
        // Only the ALM cell kind; its four half-cell variants average to the pin delay.
        EXPECT_EQ(t.timing()->get_internal_delay(7, DB_DATA_B, DB_COMB_OUT), CDB_ILLEGAL_TSM_DELAY);
        EXPECT_EQ(t.timing()->get_internal_delay(499, DB_DATA_B, DB_COMB_OUT), pin_delay(DB_DATA_B));
    }
    {
        TIMING_NETLIST t(CDB_FAMILY_BRK);
        EXPECT_EQ(t.timing()->get_internal_delay(499, DB_DATA_A, DB_COMB_OUT), pin_delay(DB_DATA_A));
        EXPECT_EQ(internal_error_of([&] { t.timing()->get_internal_delay(8, DB_DATA_A, DB_COMB_OUT); }),
                  "NOT SUPPORTED get_internal_delay");
    }
    {
        TIMING_NETLIST t(CDB_FAMILY_TEV);
        EXPECT_EQ(t.timing()->get_internal_delay(7, DB_DATA_C, DB_COMB_OUT), pin_delay(DB_DATA_C));
    }
}

TEST_F(MorvTimingQuery, ConnectionDelaysWalkTheTimingNetlistAndKeepParallelInputsApart)
{
    TIMING_NETLIST t(CDB_FAMILY_BRK);
    t.build_pipeline();  // q1 drives both inputs of y1
    MORV_TIMING* timing = t.timing();
    t.analyse();
    CDB_ATOM_NODE* y1 = t.y1->get_my_node();
    CDB_ATOM_ITERM* a = y1->get_input_term_by_type(DB_DATA_A);
    CDB_ATOM_ITERM* b = y1->get_input_term_by_type(DB_DATA_B);
    ASSERT_NE(pin_delay(DB_DATA_A), pin_delay(DB_DATA_B));
    EXPECT_EQ(timing->get_connection_delay(a), pin_delay(DB_DATA_A));
    EXPECT_EQ(timing->get_connection_delay(b), pin_delay(DB_DATA_B));
    // Output to output: the slower of the two parallel paths (no routing before placement).
    EXPECT_EQ(timing->get_oterm_to_oterm_delay(t.q1, t.y1), pin_delay(DB_DATA_A));
    EXPECT_EQ(timing->get_max_delay_to_node(t.q1, y1), pin_delay(DB_DATA_A));
    // Not driven by that term, or no path at all.
    EXPECT_EQ(timing->get_oterm_to_oterm_delay(t.y2, t.y1), 0x7fffffff);
    EXPECT_EQ(timing->get_max_delay_to_node(t.y2, y1), 0x7fffffff);
    EXPECT_EQ(internal_error_of([&] { timing->get_connection_delay(nullptr); }), "iterm");
    // A register has no combinational output to walk back from.
    CDB_ATOM_ITERM* d = t.q2->get_my_node()->get_input_term_by_type(DB_DATAIN);
    EXPECT_EQ(internal_error_of([&] { timing->get_connection_delay(d); }), "dst_oterm");

    // The estimator has no analyser netlist: each input answers the delay
    // the estimator times through the cell from it, which is the analyser's.
    TIMING_DRIVER_FLAGS::set_estimator(t.expert(), true);
    timing->select_timing_mode(MORV_ENV::where_does_early_fsyn_run(t.env().get_cmp()));
    ASSERT_NE(timing->get_nevra(), nullptr);
    tdc_get_accessories()->discard_timing_netlist();
    EXPECT_EQ(timing->get_connection_delay(a), pin_delay(DB_DATA_A));
    EXPECT_EQ(timing->get_connection_delay(b), pin_delay(DB_DATA_B));
    EXPECT_EQ(internal_error_of([&] { timing->get_connection_delay(d); }), "dst_oterm");
    timing->switch_to_tdc_mode(false);
}

TEST_F(MorvTimingQuery, AnnotatedAveragesAreWrittenEvenWithoutAnEdgeTable)
{
    TIMING_NETLIST t(CDB_FAMILY_BRK);
    t.build_pipeline();
    MORV_TIMING* timing = t.timing();
    t.analyse();
    int avg = -1, comb = -1;
    tdc_get_accessories()->get_tdb_netlist()->discard_vec_of_edges();
    timing->get_average_annotated_delays(avg, comb);
    EXPECT_EQ(avg, 0);
    EXPECT_EQ(comb, 0);

    // With routed delays, the critical connections average with weights
    // that start at 1.0.
    tdc_get_accessories()->get_tdb_netlist()->create_vec_of_edges();
    double sum = 0, weight = 1.0, comb_sum = 0, comb_weight = 1.0;
    for (TDB_EDGE* e : *tdc_get_accessories()->get_tdb_netlist()->get_vec_of_edges()) {
        if (e == nullptr || !e->is_for_tdc()) continue;
        e->get_delay()->set_delay(TDB_DELAY_IC, 300);
    }
    timing->perform_timing_analysis();
    for (TDB_EDGE* e : *tdc_get_accessories()->get_tdb_netlist()->get_vec_of_edges()) {
        if (e == nullptr || !e->is_for_tdc() || e->get_slack_ratio() >= 0.25f) continue;
        const double w = (1.0 - e->get_slack_ratio()) * (1.0 - e->get_slack_ratio());
        sum += 300 * w;
        weight += w;
        const CDB_ATOM_NODE* sink = e->get_iterm()->get_my_node();
        if (sink->is_lcell() || sink->is_lcell_comb()) {
            comb_sum += 300 * w;
            comb_weight += w;
        }
    }
    ASSERT_GT(weight, 1.0);
    timing->get_average_annotated_delays(avg, comb);
    EXPECT_EQ(avg, static_cast<int>(sum / weight));
    EXPECT_EQ(comb, static_cast<int>(comb_sum / comb_weight));
}

TEST_F(MorvTimingQuery, AnnotatedAveragesDoNotDependOnWhetherTheHostKeptItsEdgeIndex)
{
    // A host that rebuilt its timing netlist (as after any register change)
    // has no edge vector; the routed delays are still there to average.
    TIMING_NETLIST t(CDB_FAMILY_BRK);
    t.build_pipeline();
    MORV_TIMING* timing = t.timing();
    t.analyse();
    TDB_NETLIST* tdb = tdc_get_accessories()->get_tdb_netlist();
    double weight = 1.0, comb_weight = 1.0;
    for (TDB_EDGE* e : *tdb->create_vec_of_edges())
        if (e != nullptr && e->is_for_tdc()) e->get_delay()->set_delay(TDB_DELAY_IC, 300);
    timing->perform_timing_analysis();
    for (TDB_EDGE* e : *tdb->get_vec_of_edges()) {
        if (e == nullptr || !e->is_for_tdc() || e->get_slack_ratio() >= 0.25f) continue;
        const double w = (1.0 - e->get_slack_ratio()) * (1.0 - e->get_slack_ratio());
        weight += w;
        const CDB_ATOM_NODE* sink = e->get_iterm()->get_my_node();
        if (sink->is_lcell() || sink->is_lcell_comb()) comb_weight += w;
    }
    ASSERT_GT(comb_weight, 1.0);
    // Every critical connection has 300 ps: the weighted sum is 300 per unit weight.
    const int expected = static_cast<int>(300.0 * (weight - 1.0) / weight);
    const int expected_comb = static_cast<int>(300.0 * (comb_weight - 1.0) / comb_weight);
    ASSERT_GT(expected_comb, 0);

    tdb->discard_vec_of_edges();
    int avg = -1, comb = -1;
    timing->get_average_annotated_delays(avg, comb);
    EXPECT_EQ(avg, expected);
    EXPECT_EQ(comb, expected_comb);
    EXPECT_NE(tdb->get_vec_of_edges(), nullptr);
}

TEST_F(MorvTimingQuery, TheStructuredAsicLutDelayIsTheDevicesLutCell)
{
    TIMING_NETLIST t(CDB_FAMILY_MRL);
    EXPECT_EQ(t.timing()->get_fl_lut_delay(), pin_delay(DB_DATA_A));
}

TEST_F(MorvTimingQuery, TheTableModelCorrectsClustersClockSourcesAndClockBuffers)
{
    TIMING_NETLIST t(CDB_FAMILY_OBRAN);
    t.build_pipeline();
    MORV_TABLE_TIMING_MODEL* model = t.timing()->get_table_timing_model();
    CDB_ATOM_NODE* y1 = t.y1->get_my_node();
    CDB_ATOM_NODE* y2 = t.y2->get_my_node();
    CDB_ATOM_ITERM* y1_to_y2 = y2->get_input_term_by_type(DB_DATA_A);
    auto table = [&](int src_type, int src_port, const CDB_ATOM_ITERM* sink) {
        return model
            ->get_ic_delay(CSU_IC_TIMING_ELEMENT{src_type, src_port, sink->get_my_node()->get_atom_type(),
                                                 sink->get_any_usage_as(), 0, 0})
            .m_delay_2;
    };
    const int plain = model->get_ic_delay(y1_to_y2);
    EXPECT_EQ(plain, table(y1->get_atom_type(), DB_COMB_OUT, y1_to_y2));
    EXPECT_GT(plain, 0);
    EXPECT_EQ(model->get_ic_delay(nullptr), 0);
    EXPECT_EQ(model->get_ic_delay(y2->add_input_term(DB_DATA_D)), 0);  // undriven

    // While the post-clustering flow runs, a connection inside a cluster is free.
    t.api()->add_node_to_cluster(y1, 3, 0);
    t.api()->add_node_to_cluster(y2, 3, 1);
    t.run_only(POST_CLUSTERING_FSYN_FLOW);
    EXPECT_EQ(model->get_ic_delay(y1_to_y2), 0);
    t.run_only(-1);
    EXPECT_EQ(model->get_ic_delay(y1_to_y2), plain);

    // During SYN_EARLY a clock port is timed from the family's clock buffer.
    CDB_ATOM_ITERM* clock_in = t.q1->get_my_node()->get_input_term_by_type(DB_CLOCK);
    t.run_only(SYN_EARLY_FSYN_FLOW);
    EXPECT_EQ(model->get_ic_delay(clock_in), table(194, DB_CLKBUF_OUT, clock_in));
    t.run_only(-1);
    EXPECT_EQ(model->get_ic_delay(clock_in),
              table(clock_in->get_source()->get_my_node()->get_atom_type(), DB_DATA_OUT, clock_in));

    // A clock buffer reaches a register over the global network, fetched once.
    const double network = model->get_clock_buffer_delay();
    EXPECT_NEAR(network, DMGR_UTILITY::get_current_device()->get_timing_model().clock_network, 0.01);
    EXPECT_EQ(model->get_clock_buffer_delay(), network);
}

TEST_F(MorvTimingQuery, AClockBufferSourceAnswersTheGlobalNetworkDelay)
{
    TIMING_NETLIST t(CDB_FAMILY_BRK);
    CDB_ATOM_NODE* buffer = t.atom(CDB_KIND_CLKBUF);
    CDB_ATOM_OTERM* global = buffer->add_output_term(DB_CLKBUF_OUT);
    CDB_ATOM_OTERM* q = t.reg(nullptr, global);
    CDB_ATOM_ITERM* clock_in = q->get_my_node()->get_input_term_by_type(DB_CLOCK);
    MORV_TABLE_TIMING_MODEL* model = t.timing()->get_table_timing_model();
    EXPECT_EQ(model->get_ic_delay(clock_in), static_cast<int>(model->get_clock_buffer_delay()));
}

TEST_F(MorvTimingQuery, InEstimatorModeTheAveragesComeFromTheEstimatesOfCriticalConnections)
{
    TIMING_NETLIST t(CDB_FAMILY_BRK);
    t.build_pipeline();
    MORV_TIMING* timing = t.timing();
    t.analyse();
    TIMING_DRIVER_FLAGS::set_estimator(t.expert(), true);
    timing->select_timing_mode(MORV_ENV::where_does_early_fsyn_run(t.env().get_cmp()));
    timing->sync_timing_netlist(true, true);
    timing->run_estimator_timing_analysis();
    MORV_TIMING::NEVRA* nevra = timing->get_nevra();
    double sum = 0, weight = 1.0, comb_sum = 0, comb_weight = 1.0;
    for (CDB_ATOM_NODE* node : *t.netlist())
        for (auto it = node->begin_iterm(); it != node->end_iterm(); ++it) {
            if ((*it)->get_source() == nullptr) continue;
            const float r = nevra->get_slack_ratio_of_connection(*it);
            if (!(r < 0.25f)) continue;
            const double w = (1.0 - r) * (1.0 - r);
            sum += nevra->get_delay_of_connection(*it) * w;
            weight += w;
            if (node->is_lcell_comb()) {
                comb_sum += nevra->get_delay_of_connection(*it) * w;
                comb_weight += w;
            }
        }
    ASSERT_GT(weight, 1.0);
    int avg = -1, comb = -1;
    timing->get_average_annotated_delays(avg, comb);
    EXPECT_EQ(avg, static_cast<int>(sum / weight));
    EXPECT_EQ(comb, static_cast<int>(comb_sum / comb_weight));
    EXPECT_GT(avg, 0);
    timing->switch_to_tdc_mode(false);
}

// A scripted slack source answers before the back end, unchanged by the
// remaps, for the terms it holds (or every term once it has a default);
// the others, and every term once it is gone, get the back end's answers.
TEST_F(MorvTimingQuery, ScriptedSlacksAnswerBeforeTheBackEnd)
{
    TIMING_NETLIST t(CDB_FAMILY_BRK);
    t.build_pipeline();
    MORV_TIMING* timing = t.timing();
    t.analyse();
    std::vector<CDB_ATOM_ITERM*> terms;
    for (CDB_ATOM_NODE* node : *t.netlist())
        for (auto it = node->begin_iterm(); it != node->end_iterm(); ++it)
            if ((*it)->get_source() != nullptr) terms.push_back(*it);
    ASSERT_GE(terms.size(), 2u);
    std::vector<int> slack;
    std::vector<double> ratio;
    for (CDB_ATOM_ITERM* term : terms) {
        slack.push_back(timing->get_slack(term));
        ratio.push_back(timing->get_slack_ratio(term));
    }
    const int guardband = timing->get_guardband_slack();
    {
        SCRIPTED_SLACK_SOURCE script(timing);
        script.set(terms[0], -321, 0.03);
        script.set_slack_ratio(terms[1], 0.07);  // its slack stays the back end's
        script.set_guardband_slack(guardband + 17);
        EXPECT_EQ(timing->get_slack(terms[0]), -321);
        EXPECT_EQ(timing->get_slack_ratio(terms[0]), 0.03) << "no remap after a scripted ratio";
        EXPECT_EQ(timing->get_slack(terms[1]), slack[1]);
        EXPECT_EQ(timing->get_slack_ratio(terms[1]), 0.07);
        for (size_t k = 2; k < terms.size(); ++k) {
            EXPECT_EQ(timing->get_slack(terms[k]), slack[k]);
            EXPECT_EQ(timing->get_slack_ratio(terms[k]), ratio[k]);
        }
        EXPECT_EQ(timing->get_guardband_slack(), guardband + 17);
        t.run_only(FIT_EARLY_FSYN_FLOW);
        EXPECT_EQ(timing->get_slack_ratio(terms[0]), 0.03) << "nor before placement";
        t.run_only(-1);
        script.set_default(900, 0.9);
        EXPECT_EQ(timing->get_slack(terms.back()), 900);
        EXPECT_EQ(timing->get_slack_ratio(terms.back()), 0.9);
        EXPECT_EQ(timing->get_slack(terms[0]), -321) << "a scripted term keeps its own values";
    }
    EXPECT_EQ(timing->get_slack_source(), nullptr);
    for (size_t k = 0; k < terms.size(); ++k) {
        EXPECT_EQ(timing->get_slack(terms[k]), slack[k]);
        EXPECT_EQ(timing->get_slack_ratio(terms[k]), ratio[k]);
    }
    EXPECT_EQ(timing->get_guardband_slack(), guardband);
}

}  // namespace morv_timing_query_test
