// Early-timing query, name-based timing assignments (copy, comparison) and
// the false-path-from assignment as the analysis honours it on a netlist
// built from atoms.

#include <gtest/gtest.h>

#include "cdb/cdb_atom_netlist.h"
#include "cfg/cfg.h"
#include "dev/dev_device.h"
#include "msg/msg.h"
#include "tdc/tdc_accessories.h"
#include "../timing_test_circuit.h"

namespace tdc_assignments_test {

namespace {

class TdcAssignments : public ::testing::Test
{
protected:
    void SetUp() override
    {
        msg_set_quiet(true);
        DMGR_UTILITY::set_current_family(DEV_FAMILY_BRENNOCK);
    }
    void TearDown() override
    {
        cfg_unset("tdc_early_timing");
        DMGR_UTILITY::set_current_device(nullptr);
    }
};

}  // namespace

TEST_F(TdcAssignments, EarlyTimingDefaultsOnAndTheSetterWinsOverTheSetting)
{
    TDC_ACCESSORIES acc;
    EXPECT_TRUE(acc.is_early_timing_enabled());
    cfg_set_value("tdc_early_timing", "off");
    EXPECT_FALSE(acc.is_early_timing_enabled());
    acc.set_early_timing_enabled(true);
    EXPECT_TRUE(acc.is_early_timing_enabled());
    cfg_unset("tdc_early_timing");
    acc.set_early_timing_enabled(false);
    EXPECT_FALSE(acc.is_early_timing_enabled());
    // Estimation stays a separate capability.
    EXPECT_TRUE(acc.is_estimation_supported());
}

TEST_F(TdcAssignments, CopyReplacesAndComparisonFollowsTheNames)
{
    CIRCUIT c;
    CDB_ATOM_OTERM* clk = c.input_pin();
    CDB_ATOM_OTERM* q1 = c.reg(nullptr, clk);
    CDB_ATOM_OTERM* q2 = c.reg(nullptr, clk);
    CDB_ATOM_OTERM* q3 = c.reg(nullptr, clk);
    TDC_ACCESSORIES acc;
    TDC_UTILITY* util = acc.get_tdc_utility();
    const std::string t1 = TDC_ACCESSORIES::assignment_target(q1);
    ASSERT_EQ(t1, q1->get_instance_name()->get_short_hpath());
    acc.set_timing_assignment(t1, "MULTICYCLE", "2");
    EXPECT_FALSE(acc.are_oterms_timing_equivalent(q1, q2));
    EXPECT_TRUE(acc.are_oterms_timing_equivalent(q2, q3));  // none and none
    EXPECT_TRUE(acc.are_oterms_timing_equivalent(q1, q1));

    ASSERT_TRUE(util->copy_oterm_timing_assignment(q1, q2));
    EXPECT_TRUE(acc.are_oterms_timing_equivalent(q1, q2));
    ASSERT_TRUE(acc.get_timing_assignments(q2));
    EXPECT_EQ(acc.get_timing_assignments(q2)->at("MULTICYCLE"), "2");
    // The copy is by value: a later change to the source does not follow.
    acc.set_timing_assignment(t1, "MULTICYCLE", "3");
    EXPECT_FALSE(acc.are_oterms_timing_equivalent(q1, q2));
    EXPECT_EQ(acc.get_timing_assignments(q2)->at("MULTICYCLE"), "2");

    // Copying from a name without assignments leaves none on the target.
    ASSERT_TRUE(util->copy_oterm_timing_assignment(q3, q2));
    EXPECT_EQ(acc.get_timing_assignments(q2), nullptr);

    // By name, as the instance-name overload is called.
    ASSERT_TRUE(util->copy_oterm_timing_assignment(q1->get_instance_name(), q3->get_instance_name()));
    EXPECT_TRUE(acc.are_oterms_timing_equivalent(q3, q1));

    // Removing the last key removes the name's record.
    acc.set_timing_assignment(t1, "MULTICYCLE", "");
    EXPECT_EQ(acc.get_timing_assignments(t1), nullptr);
    EXPECT_FALSE(acc.are_oterms_timing_equivalent(q1, q3));

    // A term without any name cannot carry or receive assignments.
    CDB_ATOM_OTERM loose(nullptr, DB_REG_OUT);
    EXPECT_EQ(TDC_ACCESSORIES::assignment_target(&loose), "");
    EXPECT_FALSE(util->copy_oterm_timing_assignment(q3, &loose));
    EXPECT_FALSE(util->copy_oterm_timing_assignment(&loose, q3));
    EXPECT_TRUE(acc.get_timing_assignments(q3));
    EXPECT_TRUE(acc.are_oterms_timing_equivalent(&loose, q2));
    EXPECT_FALSE(acc.are_oterms_timing_equivalent(&loose, q3));
}

TEST_F(TdcAssignments, CutFromRemovesTheLaunchedPathsAndFollowsACopy)
{
    CIRCUIT c;
    CDB_ATOM_OTERM* clk = c.input_pin();
    CDB_ATOM_OTERM* in = c.input_pin();
    CDB_ATOM_OTERM* q1 = c.reg(in, clk);
    CDB_ATOM_OTERM* q3 = c.reg(in, clk);
    CDB_ATOM_OTERM* y = c.lut({q1, q3});
    CDB_ATOM_OTERM* q2 = c.reg(y, clk);
    TDC_ACCESSORIES acc;
    acc.set_atom_netlist(&c.atoms);
    acc.set_default_clock_period_ps(2000);
    ASSERT_TRUE(acc.build_timing_netlist());
    TDC_UTILITY* util = acc.get_tdc_utility();
    CDB_ATOM_NODE* lut = y->get_my_node();
    CDB_ATOM_NODE* r1 = q1->get_my_node();
    auto slack = [&](CDB_ATOM_NODE* n, int port) { return util->get_slack(n, port, 0); };

    acc.run_tan(*acc.get_tan_parameters(), true);
    ASSERT_NE(slack(lut, DB_DATA_A), TDB_NO_PATH);
    ASSERT_NE(slack(lut, DB_DATA_B), TDB_NO_PATH);
    ASSERT_NE(slack(r1, DB_DATAIN), TDB_NO_PATH);
    const int b_slack = slack(lut, DB_DATA_B);
    // An assignment the analysis does not honour leaves its figures standing,
    // also when copied, as retiming copies one onto every register it makes.
    acc.set_timing_assignment(TDC_ACCESSORIES::assignment_target(q3), "MULTICYCLE", "2");
    ASSERT_TRUE(util->copy_oterm_timing_assignment(q3, q2));
    EXPECT_TRUE(acc.get_analysis()->is_current());

    acc.set_timing_assignment(TDC_ACCESSORIES::assignment_target(q1), TDC_ASSIGNMENT_CUT_FROM, "ON");
    EXPECT_FALSE(acc.get_analysis()->is_current());
    acc.run_tan(*acc.get_tan_parameters(), true);
    EXPECT_EQ(slack(lut, DB_DATA_A), TDB_NO_PATH);
    EXPECT_EQ(slack(lut, DB_DATA_B), b_slack);
    EXPECT_NE(slack(r1, DB_DATAIN), TDB_NO_PATH);  // the cut register still captures

    // A duplicate given the same assignments is cut as well.
    ASSERT_TRUE(util->copy_oterm_timing_assignment(q1, q3));
    EXPECT_FALSE(acc.get_analysis()->is_current());
    acc.run_tan(*acc.get_tan_parameters(), true);
    EXPECT_EQ(slack(lut, DB_DATA_B), TDB_NO_PATH);
    EXPECT_EQ(slack(q2->get_my_node(), DB_DATAIN), TDB_NO_PATH);

    // An input pin's keeper is named by the pin's output term.
    acc.set_timing_assignment(TDC_ACCESSORIES::assignment_target(in), TDC_ASSIGNMENT_CUT_FROM, "1");
    acc.run_tan(*acc.get_tan_parameters(), true);
    EXPECT_EQ(slack(r1, DB_DATAIN), TDB_NO_PATH);
    EXPECT_EQ(acc.get_analysis()->get_worst_slack(), TDB_NO_PATH);

    // Clearing drops the cuts, so the figures are stale; clearing only
    // assignments the analysis ignores keeps them.
    acc.clear_timing_assignments();
    EXPECT_FALSE(acc.get_analysis()->is_current());
    acc.set_timing_assignment(TDC_ACCESSORIES::assignment_target(q3), "MULTICYCLE", "2");
    acc.run_tan(*acc.get_tan_parameters(), true);
    acc.clear_timing_assignments();
    EXPECT_TRUE(acc.get_analysis()->is_current());

    // Any other value leaves the paths in.
    acc.set_timing_assignment(TDC_ACCESSORIES::assignment_target(in), TDC_ASSIGNMENT_CUT_FROM, "OFF");
    acc.run_tan(*acc.get_tan_parameters(), true);
    EXPECT_NE(slack(r1, DB_DATAIN), TDB_NO_PATH);
    EXPECT_EQ(slack(lut, DB_DATA_B), b_slack);
}

}  // namespace tdc_assignments_test
