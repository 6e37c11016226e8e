// Placement-based delay adjustment: the placement delay of each kind of
// connection, the keys of the learned corrections, and the virtual
// analysis that stands in for the host's placement and timing call.

#include <gtest/gtest.h>

#include <map>
#include <vector>

#include "cdb/cdb_atom_netlist.h"
#include "dev/dev_device.h"
#include "tdb/tdb_netlist.h"
#include "tdc/tdc_accessories.h"

#include "morv/netlist/morv_chip_map.h"
#include "timing_fixture.h"

namespace morv_timing_placement_test {

namespace {

using MorvTimingPlacement = MORV_CLEAN_STATE_TEST;

std::vector<TDB_EDGE*> tdc_edges()
{
    TDB_NETLIST* tdb = tdc_get_accessories()->get_tdb_netlist();
    if (tdb->get_vec_of_edges() == nullptr) tdb->create_vec_of_edges();
    std::vector<TDB_EDGE*> edges;
    for (TDB_EDGE* e : *tdb->get_vec_of_edges())
        if (e != nullptr && e->is_for_tdc()) edges.push_back(e);
    return edges;
}

TDB_EDGE* edge_of(CDB_ATOM_ITERM* iterm)
{
    for (TDB_EDGE* e : tdc_edges())
        if (e->get_iterm() == iterm) return e;
    return nullptr;
}

// The component's chip map, a 40 x 40 grid.
MORV_CHIP_MAP* chip_map(TIMING_NETLIST& t)
{
    if (t.api()->get_fsyn_chip_map() == nullptr || t.api()->get_fsyn_chip_map()->get_nx() != 40) {
        t.env().m_grid_nx = 40;
        t.env().m_grid_ny = 40;
        t.api()->reset_fsyn_chip_map(false);
    }
    return t.api()->get_fsyn_chip_map();
}

// Places the atom in the chip map and on the host's netlist.
void place(TIMING_NETLIST& t, CDB_ATOM_NODE* node, int x, int y, int sub)
{
    chip_map(t);
    t.api()->get_fsyn_chip_map()->set_node_location(static_cast<int>(node->get_id()), MORV_LOC{x, y, sub, -1});
    MORV_LOC where;
    t.api()->get_fsyn_chip_map()->get_node_location(static_cast<int>(node->get_id()), &where);
    node->set_location(x, y, where.sub_loc);
}

int routing(int x1, int y1, int x2, int y2)
{
    return DMGR_UTILITY::get_current_device()->get_routing_delay_ps(x1, y1, x2, y2);
}

const MORV_TIMING_ITERM_BA_DELAY* placement_delay(MORV_TIMING* timing, CDB_ATOM_ITERM* iterm)
{
    const auto found = timing->get_backannotated_delays().find(iterm);
    return found == timing->get_backannotated_delays().end() ? nullptr : &found->second;
}

}  // namespace

TEST(MorvTimingAdjustmentKeys, ConnectionKeysNeitherOverflowNorMeetClassKeys)
{
    // The largest atom ids keep their keys apart and positive.
    const int64_t top = MORV_TIMING::get_adjustment_connection_key(2147483647, 3, DB_DATA_F);
    EXPECT_EQ(top, (int64_t{2147483647} << 12) + 3 + DB_DATA_F * 41);
    EXPECT_GT(top, 0);
    EXPECT_NE(top, MORV_TIMING::get_adjustment_connection_key(2147483646, 3, DB_DATA_F));
    EXPECT_NE(MORV_TIMING::get_adjustment_connection_key(7, 0, DB_DATA_A),
              MORV_TIMING::get_adjustment_connection_key(7, 0, DB_DATA_B));
    EXPECT_EQ(MORV_TIMING::get_adjustment_connection_key(0, 0, 0), 0);
}

TEST_F(MorvTimingPlacement, ClassKeysAreNegativeAndTellSharedLabsApart)
{
    TIMING_NETLIST t(CDB_FAMILY_BRK);
    t.build_pipeline();
    MORV_TIMING* timing = t.timing();
    for (CDB_ATOM_NODE* node : *t.netlist())
        for (auto it = node->begin_iterm(); it != node->end_iterm(); ++it)
            EXPECT_LT(timing->get_adjustment_class_key(*it), 0);
    CDB_ATOM_ITERM* y1_to_y2 = t.y2->get_my_node()->get_input_term_by_type(DB_DATA_A);
    // Unplaced ends count as sharing a place.
    const int64_t unplaced = timing->get_adjustment_class_key(y1_to_y2);
    place(t, t.y1->get_my_node(), 2, 2, 0);
    place(t, t.y2->get_my_node(), 5, 2, 0);
    const int64_t apart = timing->get_adjustment_class_key(y1_to_y2);
    EXPECT_EQ(apart - 1, unplaced);
    place(t, t.y2->get_my_node(), 2, 2, 1);
    EXPECT_EQ(timing->get_adjustment_class_key(y1_to_y2), unplaced);
    // Another sink port is another class.
    EXPECT_NE(timing->get_adjustment_class_key(t.y2->get_my_node()->get_input_term_by_type(DB_DATA_B)), unplaced);
    // So is a cell in extended mode, and one in a carry chain.
    CDB_ATOM_NODE* y2 = t.y2->get_my_node();
    const int64_t plain = timing->get_adjustment_class_key(y1_to_y2);
    t.q1->insert_fanout(y2->add_input_term(DB_DATA_G));
    const int64_t extended = timing->get_adjustment_class_key(y1_to_y2);
    EXPECT_NE(extended, plain);
    t.q1->insert_fanout(y2->add_input_term(DB_CARRY_IN));
    const int64_t carry = timing->get_adjustment_class_key(y1_to_y2);
    EXPECT_NE(carry, plain);
    EXPECT_NE(carry, extended);
}

TEST_F(MorvTimingPlacement, EachKindOfConnectionGetsItsPlacementDelay)
{
    TIMING_NETLIST t(CDB_FAMILY_BRK);
    t.build_pipeline();
    MORV_TIMING* timing = t.timing();
    ASSERT_NE(t.api()->get_pldm(), nullptr);
    CDB_ATOM_NODE* q1 = t.q1->get_my_node();
    CDB_ATOM_NODE* y1 = t.y1->get_my_node();
    CDB_ATOM_NODE* y2 = t.y2->get_my_node();
    CDB_ATOM_NODE* q2 = t.q2->get_my_node();
    place(t, q1, 4, 4, 0);
    place(t, y1, 9, 4, 0);
    place(t, y2, 9, 6, 0);
    place(t, q2, 9, 6, 0);  // the register of y2's logic element
    // A clock buffer, a global input and a DSP output block.
    CDB_ATOM_NODE* buffer = t.atom(CDB_KIND_CLKBUF);
    CDB_ATOM_OTERM* global = buffer->add_output_term(DB_CLKBUF_OUT);
    CDB_ATOM_OTERM* q3 = t.reg(t.y2, global);
    CDB_ATOM_ITERM* global_in = t.lut({t.y1})->get_my_node()->get_input_term_by_type(DB_DATA_A);
    global_in->set_global(1);
    CDB_ATOM_NODE* mac_out = t.atom(CDB_KIND_MAC_OUT);
    CDB_ATOM_ITERM* into_mac = mac_out->add_input_term(DB_DATA_A);
    t.y1->insert_fanout(into_mac);

    timing->compute_placement_delays();
    const MORV_TIMING_ITERM_BA_DELAY* far = placement_delay(timing, y1->get_input_term_by_type(DB_DATA_A));
    ASSERT_NE(far, nullptr);
    EXPECT_EQ(far->m_delay, routing(9, 4, 4, 4));
    EXPECT_EQ(far->m_driver, t.q1);
    EXPECT_EQ(placement_delay(timing, q2->get_input_term_by_type(DB_DATAIN))->m_delay, 0);
    EXPECT_EQ(placement_delay(timing, q3->get_my_node()->get_input_term_by_type(DB_CLOCK)), nullptr);
    EXPECT_EQ(placement_delay(timing, global_in), nullptr);
    EXPECT_EQ(placement_delay(timing, into_mac), nullptr);

    // The same LAB but another sub-location is a hop inside the LAB.
    place(t, q2, 9, 6, 1);
    timing->compute_placement_delays();
    EXPECT_EQ(placement_delay(timing, q2->get_input_term_by_type(DB_DATAIN))->m_delay, routing(9, 6, 9, 6));
    EXPECT_GT(routing(9, 6, 9, 6), 0);
    // Each computation starts afresh: a connection that went global loses its delay.
    CDB_ATOM_ITERM* y1_a = y1->get_input_term_by_type(DB_DATA_A);
    y1_a->set_global(1);
    timing->compute_placement_delays();
    EXPECT_EQ(placement_delay(timing, y1_a), nullptr);
}

TEST_F(MorvTimingPlacement, WithoutASubLocationOnlyASingleFanoutPairIsFree)
{
    TIMING_NETLIST t(CDB_FAMILY_BRK);
    t.build_pipeline();
    MORV_TIMING* timing = t.timing();
    // A full LAB gives no sub-location to what joins it.
    MORV_CHIP_MAP* map = chip_map(t);
    for (int i = 0; i < map->get_lab_capacity(); ++i) map->set_node_location(900000 + i, MORV_LOC{3, 3, i, -1});
    for (CDB_ATOM_OTERM* out : {t.q1, t.y1, t.y2, t.q2}) place(t, out->get_my_node(), 3, 3, MORV_OPEN);
    timing->compute_placement_delays();
    // y2 drives q2 alone; q1 drives both inputs of y1; two LUTs are no
    // register and its LUT, however alone the driver.
    EXPECT_EQ(placement_delay(timing, t.q2->get_my_node()->get_input_term_by_type(DB_DATAIN))->m_delay, 0);
    EXPECT_EQ(placement_delay(timing, t.y1->get_my_node()->get_input_term_by_type(DB_DATA_A))->m_delay,
              routing(3, 3, 3, 3));
    ASSERT_EQ(t.y1->get_number_of_fanout(), 1);
    EXPECT_EQ(placement_delay(timing, t.y2->get_my_node()->get_input_term_by_type(DB_DATA_A))->m_delay,
              routing(3, 3, 3, 3));
}

TEST_F(MorvTimingPlacement, WithoutADelayModelTheEarlyEstimatesStand)
{
    TIMING_NETLIST t(CDB_FAMILY_BRK, nullptr, -1, DEV_PART_INVALID);
    ASSERT_EQ(t.api()->get_pldm(), nullptr);
    t.build_pipeline();
    int x = 1;
    for (CDB_ATOM_NODE* node : *t.netlist()) place(t, node, x++, 1, 0);
    t.analyse();
    std::map<TDB_EDGE*, int> real;
    for (TDB_EDGE* e : tdc_edges()) real[e] = e->get_max_ic_delay();
    MORV_TIMING* timing = t.timing();
    timing->create_adjustment_factors();
    EXPECT_TRUE(timing->get_backannotated_delays().empty());
    // The table estimates, corrected by what the real delays taught.
    timing->perform_virtual_icp_timing_analysis();
    for (TDB_EDGE* e : tdc_edges()) EXPECT_EQ(e->get_max_ic_delay(), real[e]);
}

TEST_F(MorvTimingPlacement, TheVirtualAnalysisRestoresRealDelaysAndCarriesCorrectionsOver)
{
    TIMING_NETLIST t(CDB_FAMILY_BRK);
    t.build_pipeline();
    MORV_TIMING* timing = t.timing();
    int x = 1;
    for (CDB_ATOM_NODE* node : *t.netlist()) place(t, node, x++ * 2, 3, 0);
    t.analyse();
    // The host's routing differs from the estimate, connection by connection.
    int bump = 7;
    std::map<TDB_EDGE*, int> real;
    for (TDB_EDGE* e : tdc_edges()) {
        e->get_delay()->set_delay(TDB_DELAY_IC, e->get_max_ic_delay() + bump);
        real[e] = e->get_max_ic_delay();
        bump += 13;
    }
    timing->create_adjustment_factors();
    std::map<TDB_EDGE*, int> correction;
    for (TDB_EDGE* e : tdc_edges()) correction[e] = real[e] - timing->get_early_delay(e->get_iterm());

    const long before = tdc_get_accessories()->get_num_analyses();
    timing->perform_virtual_icp_timing_analysis();
    EXPECT_EQ(tdc_get_accessories()->get_num_analyses(), before + 1);
    for (TDB_EDGE* e : tdc_edges()) EXPECT_EQ(e->get_max_ic_delay(), real[e]) << "unchanged ends, exact correction";

    // A moved end keeps the connection's correction on its new estimate.
    CDB_ATOM_ITERM* y1_to_y2 = t.y2->get_my_node()->get_input_term_by_type(DB_DATA_A);
    TDB_EDGE* moved = edge_of(y1_to_y2);
    place(t, t.y2->get_my_node(), 30, 20, 0);
    timing->perform_virtual_icp_timing_analysis();
    EXPECT_NE(moved->get_max_ic_delay(), real[moved]);
    EXPECT_EQ(moved->get_max_ic_delay(), timing->get_early_delay(y1_to_y2) + correction[moved]);

    // A new connection takes its class's mean correction, or none.
    CDB_ATOM_NODE* y3 = t.lut({t.y1, nullptr, t.q1})->get_my_node();
    place(t, y3, 30, 30, 0);
    t.analyse();
    timing->perform_virtual_icp_timing_analysis();
    CDB_ATOM_ITERM* like_y2 = y3->get_input_term_by_type(DB_DATA_A);
    EXPECT_EQ(timing->get_adjustment_class_key(like_y2), timing->get_adjustment_class_key(y1_to_y2));
    EXPECT_EQ(edge_of(like_y2)->get_max_ic_delay(), timing->get_early_delay(like_y2) + correction[moved]);
    CDB_ATOM_ITERM* no_class = y3->get_input_term_by_type(DB_DATA_C);
    EXPECT_EQ(edge_of(no_class)->get_max_ic_delay(), timing->get_early_delay(no_class));

    // Learning again starts from nothing: the class holds its two
    // connections (into y2 and y3) once each.
    timing->create_adjustment_factors();
    const auto entry = timing->get_adjustment_factors().find(timing->get_adjustment_class_key(like_y2));
    ASSERT_NE(entry, timing->get_adjustment_factors().end());
    EXPECT_EQ(entry->second.m_count, 2);

    timing->clear_adjustment_factors();
    EXPECT_TRUE(timing->get_adjustment_factors().empty());
    EXPECT_TRUE(timing->get_backannotated_delays().empty());
}

// Hundreds of connections: each finds its own correction among the others
// again, and the table holds one entry per connection and per class.
TEST_F(MorvTimingPlacement, EveryConnectionOfALargeNetlistFindsItsOwnCorrection)
{
    TIMING_NETLIST t(CDB_FAMILY_BRK);
    t.build_pipeline();
    CDB_ATOM_OTERM* previous = t.q2;
    for (int i = 0; i < 300; ++i) previous = i % 3 == 2 ? t.reg(previous, t.clock) : t.lut({previous, t.q1});
    MORV_TIMING* timing = t.timing();
    int x = 0;
    for (CDB_ATOM_NODE* node : *t.netlist()) {
        place(t, node, 1 + x % 37, 1 + x / 37, 0);
        ++x;
    }
    t.analyse();
    int bump = 3;
    std::map<TDB_EDGE*, int> real;
    for (TDB_EDGE* e : tdc_edges()) {
        e->get_delay()->set_delay(TDB_DELAY_IC, e->get_max_ic_delay() + bump);
        real[e] = e->get_max_ic_delay();
        bump = bump * 7 % 101;
    }
    timing->create_adjustment_factors();
    timing->perform_virtual_icp_timing_analysis();
    size_t learned = 0;
    for (TDB_EDGE* e : tdc_edges()) {
        if (e->get_iterm()->get_source() == nullptr) continue;
        ++learned;
        EXPECT_EQ(e->get_max_ic_delay(), real[e]);
    }
    size_t classes = 0;
    for (const auto& entry : timing->get_adjustment_factors()) classes += entry.first < 0;
    EXPECT_GT(learned, 600u);
    EXPECT_EQ(timing->get_adjustment_factors().size(), learned + classes);
}

namespace {

// Every learned correction by key: the sum and the count.
std::map<int64_t, std::pair<int64_t, int>> corrections_of(const MORV_TIMING* timing)
{
    std::map<int64_t, std::pair<int64_t, int>> out;
    for (const auto& entry : timing->get_adjustment_factors())
        out[entry.first] = {entry.second.m_sum, entry.second.m_count};
    return out;
}

}  // namespace

// Snapshots keep the corrections learned when they were taken, but a
// compile takes thousands of them: one table serves every snapshot taken
// while it stays unchanged, and a dropped snapshot leaves nothing behind.
TEST_F(MorvTimingPlacement, SnapshotsShareTheCorrectionsAndDropThemWithTheState)
{
    TIMING_NETLIST t(CDB_FAMILY_BRK);
    ASSERT_TRUE(t.expert()->use_xicp());
    t.build_pipeline();
    MORV_TIMING* timing = t.timing();
    int x = 1;
    for (CDB_ATOM_NODE* node : *t.netlist()) place(t, node, x++ * 2, 3, 0);
    t.analyse();
    CDB_ATOM_ITERM* y1_to_y2 = t.y2->get_my_node()->get_input_term_by_type(DB_DATA_A);
    TDB_EDGE* edge = edge_of(y1_to_y2);
    edge->get_delay()->set_delay(TDB_DELAY_IC, edge->get_max_ic_delay() + 41);
    const int first_real = edge->get_max_ic_delay();
    timing->create_adjustment_factors();
    const auto learned = corrections_of(timing);
    const int64_t key = MORV_TIMING::get_adjustment_connection_key(t.y2->get_my_node()->get_id(), 0, DB_DATA_A);
    ASSERT_EQ(learned.count(key), 1u);
    EXPECT_EQ(learned.at(key).first, first_real - timing->get_early_delay(y1_to_y2));

    // Many saves and drops, as iterations make them: nothing accumulates.
    for (int i = 0; i < 50; ++i) t.api()->clear_state(t.api()->save_state());
    EXPECT_EQ(timing->count_saved_adjustment_factors(), 0);
    EXPECT_EQ(timing->count_adjustment_factor_tables(), 1);

    // Kept snapshots share the live table until it is learned again; the
    // older snapshots' table stays as it was saved.
    std::vector<int> kept;
    for (int i = 0; i < 3; ++i) kept.push_back(t.api()->save_state());
    EXPECT_EQ(timing->count_saved_adjustment_factors(), 3);
    EXPECT_EQ(timing->count_adjustment_factor_tables(), 1);
    edge->get_delay()->set_delay(TDB_DELAY_IC, first_real + 500);
    timing->create_adjustment_factors();
    EXPECT_EQ(timing->count_adjustment_factor_tables(), 2);
    EXPECT_EQ(corrections_of(timing).at(key).first, first_real + 500 - timing->get_early_delay(y1_to_y2));

    t.api()->clear_state(kept[0]);
    ASSERT_TRUE(t.api()->restore_state(kept[1]));
    EXPECT_EQ(corrections_of(timing), learned);
    EXPECT_EQ(timing->count_saved_adjustment_factors(), 1);
    // The learned-again table went with the restore: the restored one is shared.
    EXPECT_EQ(timing->count_adjustment_factor_tables(), 1);
    t.api()->clear_state(kept[2]);
    EXPECT_EQ(timing->count_saved_adjustment_factors(), 0);
    EXPECT_EQ(corrections_of(timing), learned);

    // Clearing gives a table of its own; a later save shares that one.
    const int later = t.api()->save_state();
    timing->clear_adjustment_factors();
    EXPECT_TRUE(timing->get_adjustment_factors().empty());
    EXPECT_EQ(timing->count_adjustment_factor_tables(), 2);
    ASSERT_TRUE(t.api()->restore_state(later));
    EXPECT_EQ(corrections_of(timing), learned);
}

}  // namespace morv_timing_placement_test
