// The timing front end: the choice of back end per flow, the record of
// netlist edits and how synchronisation hands them on, timing updates, the
// slack-ratio skew per family and the placer-seed perturbation.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <vector>

#include "cfg/cfg.h"
#include "dev/dev_device.h"
#include "nevra/nevra_estimator.h"
#include "tdc/tdc_accessories.h"

#include "morv/core/morv_env.h"
#include "morv/timing/morv_table_timing_model.h"
#include "morv/timing/morv_timing_data.h"
#include "log_capture.h"
#include "timing_fixture.h"

namespace morv_timing_front_end_test {

namespace {

using MorvTimingFrontEnd = MORV_CLEAN_STATE_TEST;

int count_with(const std::vector<std::string>& lines, const std::string& text)
{
    return static_cast<int>(std::count_if(lines.begin(), lines.end(),
                                          [&](const std::string& l) { return l.find(text) != std::string::npos; }));
}

// The interconnect delays of the model's own rows, in row order.
std::vector<int> model_delays(MORV_TIMING* timing)
{
    std::vector<int> delays;
    const MORV_TABLE_TIMING_MODEL* model = timing->get_table_timing_model();
    for (int row = 0; row < model->get_ic_timing_data_size(); ++row)
        delays.push_back(model->get_ic_timing_data(row).m_delay_2);
    return delays;
}

std::vector<int> exported_delays(MORV_TIMING_DATA_FAMILY_ENUM family)
{
    std::vector<int> delays;
    const int n = MORV_TIMING_DATA::get_ic_timing_model_data_size(family, MORV_TIMING_DATA_DEVICE_NONE, true);
    const MORV_IC_TIMING_ELEMENT* rows =
        MORV_TIMING_DATA::get_ic_timing_model_data(family, MORV_TIMING_DATA_DEVICE_NONE, true);
    for (int i = 0; i < n; ++i) delays.push_back(rows[i].m_delay_2);
    return delays;
}

}  // namespace

TEST_F(MorvTimingFrontEnd, TheEarlyFlowPointGetsTheEstimatorWhenTheDriverAllowsIt)
{
    TIMING_NETLIST t(CDB_FAMILY_BRK);
    t.build_pipeline();
    MORV_TIMING* timing = t.timing();
    EXPECT_EQ(timing->get_timing_mode(), MORV_TIMING_MODE_TDC);
    EXPECT_TRUE(timing->is_mode_switched());  // from undefined to the analyser

    const e_fsyn_flow early = MORV_ENV::where_does_early_fsyn_run(t.env().get_cmp());
    TIMING_DRIVER_FLAGS::set_estimator(t.expert(), true);
    timing->select_timing_mode(early);
    EXPECT_EQ(timing->get_timing_mode(), MORV_TIMING_MODE_NEVRA);
    EXPECT_EQ(timing->get_default_timing_mode(), MORV_TIMING_MODE_NEVRA);
    ASSERT_NE(timing->get_nevra(), nullptr);
    EXPECT_TRUE(timing->is_mode_switched());
    // A second estimator for the same flow is a broken invariant.
    EXPECT_EQ(internal_error_of([&] { timing->select_timing_mode(early); }), "m_nevra == NULL");

    // An algorithm's own mode and back: -1 returns to the selected mode.
    EXPECT_TRUE(timing->set_timing_mode(MORV_TIMING_MODE_TDC));
    EXPECT_TRUE(timing->set_timing_mode(MORV_TIMING_MODE_DEFAULT));
    EXPECT_EQ(timing->get_timing_mode(), MORV_TIMING_MODE_NEVRA);
    EXPECT_FALSE(timing->set_timing_mode(MORV_TIMING_MODE_DEFAULT));
    EXPECT_EQ(internal_error_of([&] { timing->set_timing_mode(2); }), "Invalid timing mode");

    timing->switch_to_tdc_mode(false);
    EXPECT_EQ(timing->get_nevra(), nullptr);
    EXPECT_EQ(timing->get_timing_mode(), MORV_TIMING_MODE_TDC);

    // Another flow, or the estimator flag off, keep the analyser.
    timing->select_timing_mode(LATE_FSYN_FLOW);
    EXPECT_EQ(timing->get_timing_mode(), MORV_TIMING_MODE_TDC);
    EXPECT_FALSE(timing->is_mode_switched());
    TIMING_DRIVER_FLAGS::set_estimator(t.expert(), false);
    timing->select_timing_mode(early);
    EXPECT_EQ(timing->get_nevra(), nullptr);
    EXPECT_EQ(timing->get_timing_mode(), MORV_TIMING_MODE_TDC);
}

TEST_F(MorvTimingFrontEnd, ASynchronisationAfterAModeSwitchRebuildsInFull)
{
    TIMING_NETLIST t(CDB_FAMILY_BRK);
    t.build_pipeline();
    MORV_TIMING* timing = t.timing();
    t.analyse();
    t.env().m_build_flags.clear();

    // Returning from the estimator rebuilds at once.
    TIMING_DRIVER_FLAGS::set_estimator(t.expert(), true);
    timing->select_timing_mode(MORV_ENV::where_does_early_fsyn_run(t.env().get_cmp()));
    MORV_LOG_CAPTURE log(1);
    timing->switch_to_tdc_mode(true);
    EXPECT_EQ(count_with(log.lines(), "Switching back to TDC mode - doing full rebuild of TDB netlist"), 1);
    EXPECT_EQ(t.env().m_build_flags, (std::vector<std::string>{"001111"}));
    EXPECT_FALSE(timing->is_mode_switched());

    // An incremental request right after a mode change is a full rebuild too.
    t.env().m_build_flags.clear();
    const int full_taints = t.env().m_full_taint_calls;
    ASSERT_TRUE(timing->set_timing_mode(MORV_TIMING_MODE_NEVRA));
    timing->set_timing_mode(MORV_TIMING_MODE_TDC);
    EXPECT_TRUE(timing->sync_timing_netlist(true, true));
    EXPECT_EQ(count_with(log.lines(), "Forcing full rebuild"), 2);  // the switch's and this one
    EXPECT_EQ(t.env().m_full_taint_calls, full_taints + 1);
    // Nothing recorded: a plain refresh.
    EXPECT_TRUE(timing->sync_timing_netlist(true, true));
    EXPECT_EQ(count_with(log.lines(), "Refresh is not necessary: no nodes changed"), 1);
    EXPECT_EQ(t.env().m_build_flags, (std::vector<std::string>{"001111", "000111"}));
}

TEST_F(MorvTimingFrontEnd, SmartTaintingRecordsConnectionsAndResolvesEachOnceAtSynchronisation)
{
    TIMING_NETLIST t(CDB_FAMILY_BRK);
    t.build_pipeline();
    MORV_TIMING* timing = t.timing();
    t.analyse();
    CDB_ATOM_NODE* y1 = t.y1->get_my_node();
    CDB_ATOM_NODE* y2 = t.y2->get_my_node();
    CDB_ATOM_ITERM* y2_a = y2->get_input_term_by_type(DB_DATA_A);
    const int y1_id = static_cast<int>(y1->get_id()), y2_id = static_cast<int>(y2->get_id());

    // A driven input: only the connection is kept, no node yet.
    timing->mark_iterm_changed(y2_a, false);
    EXPECT_FALSE(timing->is_node_changed(y2_id));
    EXPECT_FALSE(timing->is_node_changed(y1_id));
    EXPECT_EQ(timing->get_changed_connections().size(), 1u);
    EXPECT_TRUE(timing->get_taint_change_set().empty());
    EXPECT_FALSE(timing->is_refresh_pending());
    // The sink is recorded once the connection is resolved, and handed on
    // for an incremental refresh.
    timing->sync_timing_netlist(true, true);
    EXPECT_EQ(t.env().m_last_change_set, (std::vector<unsigned>{static_cast<unsigned>(y2_id)}));
    EXPECT_EQ(t.env().m_build_flags.back(), "000111");
    timing->mark_node_changed(y1, false);
    timing->sync_timing_netlist(false, false);
    EXPECT_EQ(t.env().m_build_flags.back(), "001011");
    EXPECT_TRUE(timing->get_changed_connections().empty());
    EXPECT_TRUE(timing->is_refresh_pending());

    // A connection whose sink is recorded already adds nothing.
    timing->mark_node_changed(y2, false);
    timing->mark_iterm_changed(y2_a, false);
    timing->sync_timing_netlist(true, true);
    EXPECT_EQ(t.env().m_last_change_set, (std::vector<unsigned>{static_cast<unsigned>(y2_id)}));

    // A stitched sink hands the mark to the source.
    t.env().m_stitched.insert(y2_id);
    timing->mark_iterm_changed(y2_a, false);
    timing->sync_timing_netlist(true, true);
    EXPECT_EQ(t.env().m_last_change_set, (std::vector<unsigned>{static_cast<unsigned>(y1_id)}));
    EXPECT_EQ(internal_error_of([&] { timing->mark_node_changed(y2, false); }),
              "!morv_env->is_stitched_node(node->get_id())");
    t.env().m_stitched.clear();

    // An undriven input marks its sink at once.
    CDB_ATOM_ITERM* loose = y2->add_input_term(DB_DATA_C);
    timing->mark_iterm_changed(loose, true);
    EXPECT_TRUE(timing->is_node_changed(y2_id));
    EXPECT_TRUE(timing->get_changed_connections().empty());
    timing->sync_timing_netlist(true, true);
}

TEST_F(MorvTimingFrontEnd, WithoutSmartTaintingBothEndsAreMarkedAtOnce)
{
    cfg_set_value("fsyn_use_smart_tainting", "off");
    TIMING_NETLIST t(CDB_FAMILY_BRK);
    t.build_pipeline();
    MORV_TIMING* timing = t.timing();
    t.analyse();
    CDB_ATOM_NODE* y2 = t.y2->get_my_node();
    timing->mark_iterm_changed(y2->get_input_term_by_type(DB_DATA_A), false);
    EXPECT_TRUE(timing->get_changed_connections().empty());
    EXPECT_TRUE(timing->is_node_changed(static_cast<int>(y2->get_id())));
    EXPECT_TRUE(timing->is_node_changed(static_cast<int>(t.y1->get_my_node()->get_id())));
    EXPECT_EQ(timing->get_taint_change_set().size(), 2u);
}

TEST_F(MorvTimingFrontEnd, ARegisterChangeOutsideAnIncrementalSyncDiscardsTheTimingNetlist)
{
    TIMING_NETLIST t(CDB_FAMILY_BRK);
    t.build_pipeline();
    MORV_TIMING* timing = t.timing();
    t.analyse();
    t.api()->taint(t.q1->get_my_node());
    ASSERT_GE(t.api()->get_taint(), MORV_TAINT_REGISTER_OR_OTHER);
    timing->sync_timing_netlist(true, true);
    EXPECT_EQ(t.env().m_discards, 0);
    t.api()->taint(t.q1->get_my_node());
    EXPECT_TRUE(timing->sync_timing_netlist(false, true));
    EXPECT_EQ(t.env().m_discards, 1);
    EXPECT_EQ(t.api()->get_taint(), 0u);
}

TEST_F(MorvTimingFrontEnd, AnUpdateAnalysesOnlyAfterAnEditAndWithoutTheIncrementalEstimator)
{
    TIMING_NETLIST t(CDB_FAMILY_BRK);
    t.build_pipeline();
    MORV_TIMING* timing = t.timing();
    t.analyse();
    const long before = tdc_get_accessories()->get_num_analyses();
    timing->update_timing();
    EXPECT_EQ(tdc_get_accessories()->get_num_analyses(), before);

    timing->mark_node_changed(t.y1->get_my_node(), false);
    EXPECT_TRUE(timing->is_refresh_pending());
    timing->sync_timing_netlist(true, true);
    timing->update_timing();
    EXPECT_EQ(tdc_get_accessories()->get_num_analyses(), before + 1);
    EXPECT_FALSE(timing->is_refresh_pending());

    // Switched on and off again, updates stay full analyses.
    timing->set_use_itest(true);
    EXPECT_TRUE(timing->is_itest_enabled());
    timing->set_use_itest(false);
    EXPECT_FALSE(timing->is_itest_enabled());
    EXPECT_EQ(timing->get_itest(), nullptr);
    timing->mark_node_changed(t.y1->get_my_node(), false);
    timing->sync_timing_netlist(true, true);
    timing->update_timing();
    EXPECT_EQ(tdc_get_accessories()->get_num_analyses(), before + 2);
}

// An optimisation edits many cells between two analyses and asks for slack
// after each edit: were a query to re-analyse a stale netlist, an iteration
// would cost one full analysis per edit. The answers come from the last
// analysis, and a connection the analysis has not seen counts as
// unconstrained until the next one.
TEST_F(MorvTimingFrontEnd, SlackQueriesAfterEditsAnswerFromTheLastAnalysis)
{
    TIMING_NETLIST t(CDB_FAMILY_BRK);
    t.build_pipeline();
    MORV_TIMING* timing = t.timing();
    t.analyse();
    std::vector<CDB_ATOM_ITERM*> terms;
    for (CDB_ATOM_NODE* node : *t.netlist())
        for (auto it = node->begin_iterm(); it != node->end_iterm(); ++it)
            if ((*it)->is_connected()) terms.push_back(*it);
    std::vector<int> slacks;
    std::vector<double> ratios;
    for (CDB_ATOM_ITERM* term : terms) {
        slacks.push_back(timing->get_slack(term));
        ratios.push_back(timing->get_slack_ratio(term));
    }
    ASSERT_LT(*std::min_element(slacks.begin(), slacks.end()), 0x7fffffff);
    const long before = tdc_get_accessories()->get_num_analyses();

    // Three edits, each followed by queries as an optimisation makes them.
    std::vector<CDB_ATOM_NODE*> added;
    for (int edit = 0; edit < 3; ++edit) {
        CDB_ATOM_OTERM* y = t.lut({t.y1, t.q1});
        added.push_back(y->get_my_node());
        t.reg(y, t.clock);
        timing->mark_node_changed(y->get_my_node(), false);
        timing->sync_timing_netlist(true, true);
        for (size_t i = 0; i < terms.size(); ++i) {
            EXPECT_EQ(timing->get_slack(terms[i]), slacks[i]) << i;
            EXPECT_DOUBLE_EQ(timing->get_slack_ratio(terms[i]), ratios[i]) << i;
        }
        CDB_ATOM_ITERM* fresh = y->get_my_node()->get_input_term_by_type(DB_DATA_A);
        EXPECT_EQ(timing->get_slack(fresh), 0x7fffffff);
        EXPECT_DOUBLE_EQ(timing->get_slack_ratio(fresh), 1.0);
    }
    EXPECT_EQ(tdc_get_accessories()->get_num_analyses(), before);

    // The caller's analysis brings the new connections in.
    timing->perform_timing_analysis();
    EXPECT_EQ(tdc_get_accessories()->get_num_analyses(), before + 1);
    for (CDB_ATOM_NODE* node : added) EXPECT_LT(timing->get_slack(node->get_input_term_by_type(DB_DATA_A)), 0x7fffffff);
    EXPECT_EQ(tdc_get_accessories()->get_num_analyses(), before + 1);
}

TEST_F(MorvTimingFrontEnd, TheSlackRatioSkewFollowsTheFamilyAndItsSwitch)
{
    for (int family : {6, 34, 41, 42}) EXPECT_DOUBLE_EQ(TIMING_NETLIST(family).timing()->get_sr_skew(), 0.1) << family;
    for (int family : {9, 10, 24, 35, 47})
        EXPECT_DOUBLE_EQ(TIMING_NETLIST(family).timing()->get_sr_skew(), 0.125) << family;
    cfg_set_value("fsyn_use_sr_skew", "off");
    EXPECT_DOUBLE_EQ(TIMING_NETLIST(6).timing()->get_sr_skew(), 0.125);
}

TEST_F(MorvTimingFrontEnd, ThePlacerSeedPerturbsOnlyTheModelsOwnRows)
{
    const MORV_TIMING_DATA_FAMILY_ENUM brk = MORV_TIMING_DATA_FAMILY_BRK;
    const std::vector<int> exported = exported_delays(brk);
    const int one = 1, seven = 7, eight = 8;
    EXPECT_EQ(model_delays(TIMING_NETLIST(CDB_FAMILY_BRK, &one).timing()), exported);

    const std::vector<int> seven_a = model_delays(TIMING_NETLIST(CDB_FAMILY_BRK, &seven).timing());
    const std::vector<int> seven_b = model_delays(TIMING_NETLIST(CDB_FAMILY_BRK, &seven).timing());
    const std::vector<int> eight_a = model_delays(TIMING_NETLIST(CDB_FAMILY_BRK, &eight).timing());
    EXPECT_EQ(seven_a, seven_b);
    // The rows move in the order of the run's random sequence: one step per
    // row above 20 ps, a remainder of 0 adds a picosecond and 1 takes one off.
    uint64_t state = 7;
    for (size_t i = 0, checked = 0; i < exported.size() && checked < 40; ++i) {
        if (exported[i] <= 20) continue;
        state = state * 0xAC564B05ull + 1;
        const int expected = state % 5 == 0 ? 1 : state % 5 == 1 ? -1 : 0;
        EXPECT_EQ(seven_a[i] - exported[i], expected) << "row " << i;
        ++checked;
    }
    EXPECT_NE(seven_a, eight_a);
    EXPECT_NE(seven_a, exported);
    ASSERT_EQ(seven_a.size(), exported.size());
    int moved = 0;
    for (size_t i = 0; i < exported.size(); ++i) {
        const int change = seven_a[i] - exported[i];
        EXPECT_LE(std::abs(change), 1);
        if (exported[i] <= 20) {
            EXPECT_EQ(change, 0) << "row " << i;
        }
        moved += change != 0;
    }
    EXPECT_GT(moved, 0);
    // The process-wide table is what it was.
    EXPECT_EQ(exported_delays(brk), exported);

    // A part in a migration chain is never perturbed, whatever the seed.
    EXPECT_EQ(model_delays(TIMING_NETLIST(CDB_FAMILY_BRK, &seven, 4101).timing()), exported);
    cfg_set_value("fsyn_use_seed", "off");
    EXPECT_EQ(model_delays(TIMING_NETLIST(CDB_FAMILY_BRK, &seven).timing()), exported);
}

TEST_F(MorvTimingFrontEnd, TheUtilityIsAcquiredAndRebuiltThroughTheHost)
{
    TIMING_NETLIST t(CDB_FAMILY_BRK);
    t.build_pipeline();
    MORV_TIMING* timing = t.timing();
    timing->acquire_tdc_utility();
    EXPECT_EQ(t.env().m_build_flags, (std::vector<std::string>{"100111"}));
    ASSERT_NE(timing->get_tdc_utility(), nullptr);
    const long before = tdc_get_accessories()->get_num_analyses();
    timing->rebuild_tdc_utility();
    EXPECT_EQ(t.env().m_build_flags.size(), 2u);
    EXPECT_EQ(tdc_get_accessories()->get_num_analyses(), before + 1);
}

TEST_F(MorvTimingFrontEnd, PrePlacementTimingFollowsTheBackEnd)
{
    TIMING_NETLIST t(CDB_FAMILY_BRK);
    t.build_pipeline();
    MORV_TIMING* timing = t.timing();
    EXPECT_EQ(internal_error_of([&] { timing->perform_pre_placement_timing_analysis(false); }),
              "m_fsyn_expert->is_fsyn_running_pre_placement_fsyn()");
    t.run_only(CLUSTER_RETRY_FSYN_FLOW);
    // The analyser times the early model's estimates.
    const long before = tdc_get_accessories()->get_num_analyses();
    const std::string warnings = not_available_warnings_of([&] {
        timing->perform_pre_placement_timing_analysis(true);
        timing->perform_pre_placement_timing_analysis(true);
    });
    EXPECT_EQ(warnings, "");
    EXPECT_EQ(tdc_get_accessories()->get_num_analyses(), before + 2);
    EXPECT_NE(timing->get_figure_of_merit(false), MORV_TIMING::s_NO_VALID_FOM);

    // The estimator estimates, and dumps when asked.
    TIMING_DRIVER_FLAGS::set_estimator(t.expert(), true);
    timing->select_timing_mode(MORV_ENV::where_does_early_fsyn_run(t.env().get_cmp()));
    ASSERT_NE(timing->get_nevra(), nullptr);
    EXPECT_FALSE(timing->get_nevra()->has_estimation());
    cfg_set_value("fsyn_nevra_dump_timing", "on");
    std::remove("nevra_timing_data.txt");
    EXPECT_EQ(not_available_warnings_of([&] { timing->perform_pre_placement_timing_analysis(true); }), "");
    EXPECT_TRUE(timing->get_nevra()->has_estimation());
    EXPECT_EQ(timing->get_figure_of_merit(false), timing->get_nevra()->get_figure_of_merit());
    EXPECT_TRUE(std::ifstream("nevra_timing_data.txt").good());
    std::remove("nevra_timing_data.txt");
    timing->switch_to_tdc_mode(false);
}

}  // namespace morv_timing_front_end_test
