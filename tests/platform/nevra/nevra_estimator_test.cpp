// The host's timing estimator: the analyser's figures on the table model's
// delays, incremental synchronisation against a rebuild, and clock offsets.

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <random>
#include <string>

#include "cdb/cdb_atom_netlist.h"
#include "dev/dev_device.h"
#include "msg/msg.h"
#include "nevra/nevra_estimator.h"
#include "tdb/tdb_netlist.h"
#include "tdc/tdc_accessories.h"
#include "../timing_test_circuit.h"
#include "../timing_test_tables.h"

namespace nevra_estimator_test {

namespace {

using MODEL = CSU_TABLE_TIMING_MODEL<CSU_ATOM_NETLIST_TYPES>;
using ESTIMATOR = NEVRA_ESTIMATOR<CSU_ATOM_NETLIST_TYPES>;

class NevraEstimator : public ::testing::Test
{
protected:
    void SetUp() override
    {
        msg_set_quiet(true);
        DMGR_UTILITY::set_current_family(DEV_FAMILY_BRENNOCK);
        tdc_reset_accessories();
        model.initialize(DEV_FAMILY_BRENNOCK, 0, false, true, false);
    }
    void TearDown() override
    {
        tdc_reset_accessories();
        DMGR_UTILITY::set_current_device(nullptr);
    }

    // Registers around a few LUTs, one LUT reading a register twice.
    void build()
    {
        clk = c.input_pin();
        CDB_ATOM_OTERM* in = c.input_pin();
        q1 = c.reg(in, clk);
        q2 = c.reg(in, clk);
        y1 = c.lut({q1, q2});
        y2 = c.lut({y1, q1, in});
        q3 = c.reg(y2, clk);
        c.output_pin(c.lut({q3, y1}));
    }

    // The analyser on the same netlist, with every connection's interconnect
    // delay set to the model's and the same cell and register delays.
    void analyse_with_model_delays(TDC_ACCESSORIES& acc)
    {
        acc.set_atom_netlist(&c.atoms);
        TDB_NETLIST* tdb = acc.build_timing_netlist();
        for (TDB_EDGE* e : tdb->edge_table())
            if (e != nullptr && e->get_iterm() != nullptr)
                e->get_delay()->set_delay(TDB_DELAY_IC, model.get_ic_delay(e->get_iterm()));
        acc.run_tan(*acc.get_tan_parameters(), true);
    }

    void expect_same_timing(ESTIMATOR& estimator, TDC_ACCESSORIES& acc)
    {
        EXPECT_EQ(estimator.get_figure_of_merit(), static_cast<int>(acc.get_figure_of_merit()));
        for (CDB_ATOM_NODE* n : c.atoms)
            for (auto it = n->begin_iterm(); it != n->end_iterm(); ++it) {
                if ((*it)->get_source() == nullptr) continue;
                const int port = (*it)->get_any_usage_as();
                EXPECT_EQ(estimator.get_slack_of_connection(*it), acc.get_tdc_utility()->get_slack(n, port, 0));
                EXPECT_FLOAT_EQ(estimator.get_slack_ratio_of_connection(*it),
                                static_cast<float>(acc.get_tdc_utility()->get_slack_ratio(n, port, 0)));
            }
    }

    TEST_TIMING_TABLES_INSTALLED source;
    MODEL model;
    CIRCUIT c;
    CDB_ATOM_OTERM *clk = nullptr, *q1 = nullptr, *q2 = nullptr, *q3 = nullptr, *y1 = nullptr, *y2 = nullptr;
};

}  // namespace

TEST_F(NevraEstimator, EstimatesAreTheAnalysersOnTheModelsDelays)
{
    // Cell and register delays from the device, as the analyser has them.
    source.tables.cell.clear();
    source.tables.reg.clear();
    model.initialize(DEV_FAMILY_BRENNOCK, 0, false, true, false);
    build();
    ESTIMATOR estimator(&model);
    EXPECT_EQ(estimator.get_figure_of_merit(), 0x7fffffff);  // nothing estimated yet
    estimator.initialize_and_sync_to_netlist(&c.atoms, nullptr, 0);
    estimator.run_timing_estimation(&c.atoms);
    TDC_ACCESSORIES acc;
    analyse_with_model_delays(acc);
    expect_same_timing(estimator, acc);
    // The rows reached the graph: a register to LUT input A is 310 ps.
    CDB_ATOM_ITERM* a = y1->get_my_node()->get_input_term_by_type(DB_DATA_A);
    EXPECT_EQ(estimator.get_delay_of_connection(a), 310);
    EXPECT_EQ(estimator.get_delay_of_connection(q1->get_my_node()->get_input_term_by_type(DB_CLOCK)), 600);
    EXPECT_LT(estimator.get_slack_of_connection(a), 0x7fffffff);
    EXPECT_THROW(estimator.sync_to_netlist(&c.atoms, 1), MSG_INTERNAL_ERROR_EXCEPTION);
    // A rebuild forgets the estimate; an estimator never synchronised builds first.
    estimator.sync_to_netlist(&c.atoms, 0);
    EXPECT_FALSE(estimator.has_estimation());
    EXPECT_EQ(estimator.get_slack_of_connection(a), 0x7fffffff);
    ESTIMATOR unsynced(&model);
    unsynced.run_timing_estimation(&c.atoms);
    EXPECT_EQ(unsynced.get_figure_of_merit(), static_cast<int>(acc.get_figure_of_merit()));
}

TEST_F(NevraEstimator, AnIncrementalSyncEqualsARebuildAfterRandomEdits)
{
    build();
    std::mt19937 rng(11);
    std::vector<CDB_ATOM_OTERM*> drivers = {q1, q2, y1, y2, q3};
    for (int i = 0; i < 12; ++i)
        drivers.push_back(c.lut({drivers[rng() % drivers.size()], drivers[rng() % drivers.size()]}));
    ESTIMATOR incremental(&model);
    incremental.initialize_and_sync_to_netlist(&c.atoms, nullptr, 0);
    for (int round = 0; round < 15; ++round) {
        std::vector<unsigned> changed;
        // Rewire one LUT input, add a LUT, and now and then delete one.
        CDB_ATOM_OTERM* victim = drivers[5 + rng() % (drivers.size() - 5)];
        CDB_ATOM_ITERM* t = victim->get_my_node()->get_input_term_by_type(DB_DATA_A);
        if (t->get_source() != nullptr) t->disconnect_from_source(2);
        drivers[rng() % 5]->insert_fanout(t);
        changed.push_back(victim->get_my_node()->get_id());
        CDB_ATOM_OTERM* added = c.lut({drivers[rng() % drivers.size()], victim});
        changed.push_back(added->get_my_node()->get_id());
        drivers.push_back(added);
        if (round % 4 == 3) {
            CDB_ATOM_NODE* gone = drivers.back()->get_my_node();
            changed.push_back(gone->get_id());
            drivers.pop_back();
            c.atoms.delete_node(gone);
        }
        incremental.sync_to_netlist(&c.atoms, 0, &changed);
        incremental.run_timing_estimation(&c.atoms);
        ESTIMATOR fresh(&model);
        fresh.initialize_and_sync_to_netlist(&c.atoms, nullptr, 0);
        fresh.run_timing_estimation(&c.atoms);
        ASSERT_EQ(incremental.get_figure_of_merit(), fresh.get_figure_of_merit()) << "round " << round;
        for (CDB_ATOM_NODE* n : c.atoms)
            for (auto it = n->begin_iterm(); it != n->end_iterm(); ++it)
                ASSERT_EQ(incremental.get_slack_of_connection(*it), fresh.get_slack_of_connection(*it))
                    << "round " << round;
    }
}

TEST_F(NevraEstimator, ClockOffsetsMoveTheRegistersClockAndClearingRestoresTheEstimate)
{
    build();
    ESTIMATOR estimator(&model);
    estimator.initialize_and_sync_to_netlist(&c.atoms, nullptr, 0);
    estimator.run_timing_estimation(&c.atoms);
    CDB_ATOM_ITERM* into_q3 = q3->get_my_node()->get_input_term_by_type(DB_DATAIN);
    CDB_ATOM_ITERM* out_of_q1 = y1->get_my_node()->get_input_term_by_type(DB_DATA_A);
    const int into = estimator.get_slack_of_connection(into_q3);
    const int out = estimator.get_slack_of_connection(out_of_q1);

    // A later capture clock gives the path into q3 more time.
    estimator.add_clock_offset_to_register(q3, 40, 40, 0, 0);
    estimator.run_timing_estimation(&c.atoms);
    EXPECT_EQ(estimator.get_slack_of_connection(into_q3), into + 40);
    // A later launch clock at q1 takes time from the paths out of it.
    estimator.add_clock_offset_to_register(q1, 0, 0, 25, 25);
    estimator.add_clock_offset_to_register(q1, 0, 0, 5, 5);
    estimator.run_timing_estimation(&c.atoms);
    EXPECT_EQ(estimator.get_slack_of_connection(out_of_q1), out - 30);
    estimator.set_clock_offset_to_register(q1, 0, 0, 10, 10);
    estimator.run_timing_estimation(&c.atoms);
    EXPECT_EQ(estimator.get_slack_of_connection(out_of_q1), out - 10);

    estimator.clear_all_clock_offsets();
    estimator.run_timing_estimation(&c.atoms);
    EXPECT_EQ(estimator.get_slack_of_connection(into_q3), into);
    EXPECT_EQ(estimator.get_slack_of_connection(out_of_q1), out);
}

TEST_F(NevraEstimator, TheDumpListsEveryConnectionAndTheFigureOfMerit)
{
    build();
    ESTIMATOR estimator(&model);
    estimator.initialize_and_sync_to_netlist(&c.atoms, nullptr, 0);
    estimator.run_timing_estimation(&c.atoms);
    ASSERT_TRUE(estimator.dump_timing_data("nevra_dump_test.txt"));
    std::ifstream in("nevra_dump_test.txt");
    std::string first;
    std::getline(in, first);
    EXPECT_EQ(first, "figure of merit " + std::to_string(estimator.get_figure_of_merit()));
    int lines = 0;
    for (std::string line; std::getline(in, line);) lines += line.find(" -> ") != std::string::npos;
    int connections = 0;
    for (CDB_ATOM_NODE* n : c.atoms)
        for (auto it = n->begin_iterm(); it != n->end_iterm(); ++it) connections += (*it)->get_source() != nullptr;
    EXPECT_GE(lines, connections);
    std::remove("nevra_dump_test.txt");
    EXPECT_FALSE(estimator.dump_timing_data("no_such_folder/dump.txt"));
}

}  // namespace nevra_estimator_test
