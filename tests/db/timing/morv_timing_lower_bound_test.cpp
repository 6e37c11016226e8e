// Lower-bound figures of merit: a register loop whose retiming bound is
// worked out by hand, the DSP stop, the skew estimate's limits, and the BDD
// bound; both leave the timing netlist as they found it.

#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <string>
#include <vector>

#include "cdb/cdb_atom_netlist.h"
#include "dev/dev_device.h"
#include "tdb/tdb_netlist.h"
#include "tdc/tdc_accessories.h"

#include "log_capture.h"
#include "timing_fixture.h"

namespace morv_timing_lower_bound_test {

namespace {

using MorvTimingLowerBound = MORV_CLEAN_STATE_TEST;

std::map<TDB_EDGE*, int> ic_delays()
{
    TDB_NETLIST* tdb = tdc_get_accessories()->get_tdb_netlist();
    if (tdb->get_vec_of_edges() == nullptr) tdb->create_vec_of_edges();
    std::map<TDB_EDGE*, int> delays;
    for (TDB_EDGE* e : *tdb->get_vec_of_edges())
        if (e != nullptr && e->is_for_tdc()) delays[e] = e->get_max_ic_delay();
    return delays;
}

// Two registers in a loop through chains of n1 and n2 LUTs: r1 -> n1 -> r2
// -> n2 -> r1, both clocked from one pin.
struct LOOP
{
    LOOP(TIMING_NETLIST& t, int n1, int n2)
    {
        CDB_ATOM_OTERM* clock = t.input_pin();
        r1 = t.reg(nullptr, clock);
        CDB_ATOM_OTERM* a = r1;
        for (int i = 0; i < n1; ++i) a = t.lut({a});
        r2 = t.reg(a, clock);
        CDB_ATOM_OTERM* b = r2;
        for (int i = 0; i < n2; ++i) b = t.lut({b});
        b->insert_fanout(r1->get_my_node()->get_input_term_by_type(DB_DATAIN));
    }
    CDB_ATOM_OTERM* r1 = nullptr;
    CDB_ATOM_OTERM* r2 = nullptr;
};

int count_lines_starting(const std::vector<std::string>& lines, const std::string& start)
{
    int n = 0;
    for (const std::string& line : lines) n += line.rfind(start, 0) == 0;
    return n;
}

}  // namespace

// The loop's slacks are the period less each chain's delay. Each register's
// clock moves by a quarter (alpha 0.249) of the difference between the slack
// after it and the slack before it, the two in opposite directions, so one
// pass balances the loop to within a picosecond per ps of imbalance.
TEST_F(MorvTimingLowerBound, TheRetimingBoundOfALoopIsItsBalancedSlack)
{
    TIMING_NETLIST t(CDB_FAMILY_BRK);
    LOOP loop(t, 6, 1);
    t.analyse();
    MORV_TIMING* timing = t.timing();
    const DEV_DEVICE* device = DMGR_UTILITY::get_current_device();
    const int lut = device->get_cell_delay_ps(DB_DATA_A, DB_COMB_OUT);
    const int tco = device->get_timing_model().tco;
    const int tsu = device->get_timing_model().tsu;
    const int period = 10000;
    CDB_ATOM_ITERM* into_r2 = loop.r2->get_my_node()->get_input_term_by_type(DB_DATAIN);
    CDB_ATOM_ITERM* into_r1 = loop.r1->get_my_node()->get_input_term_by_type(DB_DATAIN);
    const int s2 = period - (tco + 6 * lut + tsu);
    const int s1 = period - (tco + 1 * lut + tsu);
    ASSERT_EQ(timing->get_slack(into_r2), s2);
    ASSERT_EQ(timing->get_slack(into_r1), s1);
    ASSERT_EQ(timing->get_figure_of_merit(true), s2);
    // Skews: r2 by the slack after it less the one before it, r1 the reverse.
    EXPECT_EQ(timing->get_register_skew_estimate(loop.r2->get_my_node()), s1 - s2);
    EXPECT_EQ(timing->get_register_skew_estimate(loop.r1->get_my_node()), s2 - s1);
    // Pass 0 moves the clocks apart by twice its shift; pass 1 moves them by
    // what is left, too little to go on, and its analysis is the bound.
    const int shift = static_cast<int>(std::trunc((s1 - s2) * 0.249));
    ASSERT_GE(shift, 20) << "the first pass must not end the search";
    const int rest = static_cast<int>(std::trunc((s1 - s2 - 4 * shift) * 0.249));
    ASSERT_GT(rest, 0);
    ASSERT_LT(rest, 20);
    const int moved = 2 * (shift + rest);
    const int balanced = std::min(s2 + moved, s1 - moved);

    const std::map<TDB_EDGE*, int> before = ic_delays();
    MORV_LOG_CAPTURE log(1);
    EXPECT_EQ(timing->get_retiming_lower_bound_fom(), balanced);
    EXPECT_EQ(ic_delays(), before) << "the initial delays come back";
    EXPECT_EQ(timing->get_figure_of_merit(true), s2) << "and a fresh analysis with them";
    const std::vector<std::string> lines = log.lines();
    EXPECT_EQ(count_lines_starting(lines, "lb_ret_params(alpha=0.249000, exit=20.000000, beta=0.300000)"), 1);
    EXPECT_EQ(count_lines_starting(lines, " pass=000: clock_off(avg) = " + std::to_string(shift) + ".000000"), 1);
    EXPECT_EQ(count_lines_starting(lines, " pass=001: clock_off(avg) = " + std::to_string(rest) + ".000000"), 1);
    EXPECT_EQ(count_lines_starting(lines, " pass=002"), 0);
    EXPECT_EQ(count_lines_starting(lines, "RTM_LB_FOM: curr=" + std::to_string(s2) + " lb=" + std::to_string(balanced)),
              1);
}

// Nothing to move: no pass ends the search early, so all eighty run and the
// restore after them; the bound is the figure of merit.
TEST_F(MorvTimingLowerBound, ABalancedLoopRunsEveryPassAndGainsNothing)
{
    TIMING_NETLIST t(CDB_FAMILY_BRK);
    LOOP loop(t, 3, 3);
    t.analyse();
    const int start = t.timing()->get_figure_of_merit(true);
    const long analyses = tdc_get_accessories()->get_num_analyses();
    EXPECT_EQ(t.timing()->get_retiming_lower_bound_fom(), start);
    EXPECT_EQ(tdc_get_accessories()->get_num_analyses(), analyses + 81);
}

TEST_F(MorvTimingLowerBound, ADspBlockOnATimingEdgeAnswers1000WithoutAnalysing)
{
    TIMING_NETLIST t(CDB_FAMILY_BRK);
    LOOP loop(t, 3, 1);
    CDB_ATOM_NODE* mac = t.atom(CDB_KIND_MAC_OUT);
    loop.r2->insert_fanout(mac->add_input_term(DB_DATA_A));
    mac->add_output_term(DB_DATA_OUT);
    t.analyse();
    const std::map<TDB_EDGE*, int> before = ic_delays();
    const long analyses = tdc_get_accessories()->get_num_analyses();
    EXPECT_EQ(t.timing()->get_retiming_lower_bound_fom(), 1000);
    EXPECT_EQ(tdc_get_accessories()->get_num_analyses(), analyses);
    EXPECT_EQ(ic_delays(), before);
}

TEST_F(MorvTimingLowerBound, TheSkewEstimateIsZeroWithoutConstraintsOnEitherSide)
{
    TIMING_NETLIST t(CDB_FAMILY_BRK);
    LOOP loop(t, 2, 2);
    CDB_ATOM_OTERM* clock = t.input_pin();
    CDB_ATOM_OTERM* lone = t.reg(t.lut({loop.r1}), clock);  // no fanout
    CDB_ATOM_OTERM* free_input = t.reg(nullptr, clock);     // nothing drives its data
    t.lut({free_input})->insert_fanout(loop.r2->get_my_node()->add_input_term(DB_CLOCK_ENABLE));
    t.analyse();
    MORV_TIMING* timing = t.timing();
    EXPECT_EQ(timing->get_register_skew_estimate(lone->get_my_node()), 0);
    EXPECT_EQ(timing->get_register_skew_estimate(free_input->get_my_node()), 0);
    EXPECT_EQ(internal_error_of([&] { timing->get_register_skew_estimate(t.lut({})->get_my_node()); }),
              "m_fsyn_net_util->is_ff(node) || node->is_lcell()");
    EXPECT_TRUE(timing->is_lb_register(lone->get_my_node()));
    EXPECT_FALSE(
        timing->is_lb_register(loop.r1->get_my_node()->get_input_term_by_type(DB_DATAIN)->get_source()->get_my_node()));
}

TEST_F(MorvTimingLowerBound, TheRegistersOfTheBoundFollowTheFamily)
{
    for (int family :
         {CDB_FAMILY_BRK, CDB_FAMILY_TEV, CDB_FAMILY_ZEPLA, CDB_FAMILY_OBRAN, CDB_FAMILY_MRL, CDB_FAMILY_UVO}) {
        TIMING_NETLIST t(family);
        CDB_ATOM_NODE* reg = t.reg(nullptr, t.input_pin())->get_my_node();
        const bool expected = family != CDB_FAMILY_MRL;
        EXPECT_EQ(t.timing()->is_lb_register(reg), expected) << family;
        EXPECT_FALSE(t.timing()->is_lb_register(t.input_pin()->get_my_node())) << family;
    }
}

// The BDD bound moves delay off a critical input of a LUT that feeds another
// LUT onto that LUT's least critical other input.
TEST_F(MorvTimingLowerBound, TheBddBoundGainsFromASlackerSiblingAndRestoresTheDelays)
{
    TIMING_NETLIST t(CDB_FAMILY_BRK);
    CDB_ATOM_OTERM* clock = t.input_pin();
    CDB_ATOM_OTERM* r1 = t.reg(nullptr, clock);
    CDB_ATOM_OTERM* a = r1;
    for (int i = 0; i < 4; ++i) a = t.lut({a});
    CDB_ATOM_OTERM* r3 = t.reg(nullptr, clock);
    CDB_ATOM_OTERM* last = t.lut({a, r3});  // a critical, r3 slack
    CDB_ATOM_OTERM* r2 = t.reg(last, clock);
    int x = 1;
    for (CDB_ATOM_NODE* node : *t.netlist()) node->set_location(3 * x++, 2, 0);
    cfg_set_value("tdc_clock_period_ps", "1000");
    t.analyse();
    MORV_TIMING* timing = t.timing();
    const int start = timing->get_figure_of_merit(true);
    const std::map<TDB_EDGE*, int> before = ic_delays();
    MORV_LOG_CAPTURE log(1);
    const int bound = timing->get_bdd_lower_bound_fom();
    EXPECT_GT(bound, start);
    EXPECT_EQ(ic_delays(), before);
    EXPECT_EQ(timing->get_figure_of_merit(true), start);
    // Phase 0 runs at least passes 0 to 4, gaining from its first pass; the
    // restore is the one line more, back at the start.
    std::vector<std::string> passes;
    for (const std::string& line : log.lines())
        if (line.rfind("BDD_LB_FOM: curr=", 0) == 0) passes.push_back(line);
    ASSERT_GE(passes.size(), 6u);
    EXPECT_NE(passes[0].rfind("BDD_LB_FOM: curr=" + std::to_string(start) + " ", 0), 0u) << passes[0];
    EXPECT_EQ(passes.back(), "BDD_LB_FOM: curr=" + std::to_string(start) + " lb=" + std::to_string(bound));
    for (size_t i = 0; i + 1 < passes.size(); ++i)
        EXPECT_NE(passes[i].rfind("BDD_LB_FOM: curr=" + std::to_string(start) + " ", 0), 0u) << passes[i];
    EXPECT_EQ(timing->get_least_critical_sibling_input(last->get_my_node()->get_input_term_by_type(DB_DATA_A)),
              last->get_my_node()->get_input_term_by_type(DB_DATA_B));
    EXPECT_EQ(timing->get_least_critical_sibling_input(last->get_my_node()->get_input_term_by_type(DB_DATA_B)),
              nullptr);
    (void)r2;
}

}  // namespace morv_timing_lower_bound_test
