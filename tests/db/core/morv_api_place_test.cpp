// The facade's placement helpers: routing delays, the point-to-point bound
// of connections between locked atoms, where a logic cell may go, the
// clustering laid onto the chip map, block and device locations, FL cells,
// the early timing-model stability, and where the run driver and the flow
// dispatch call them.

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "cdb/cdb_atom_netlist.h"
#include "dev/dev_device.h"

#include "morv/core/algorithm/morv_algorithm_base.h"
#include "morv/core/morv_setting_ids.h"
#include "morv/netlist/morv_cluster_map.h"
#include "morv/netlist/morv_net_util.h"
#include "morv/netlist/morv_region_map.h"
#include "morv_bit_vector.h"
#include "../netlist/placement_fixture.h"

namespace morv_api_place_test {

namespace {

class MorvApiPlaceTest : public MORV_CLEAN_STATE_TEST
{};

int id(const CDB_ATOM_NODE* node)
{
    return PLACEMENT_NETLIST::id(node);
}

// 100 ps per LAB step plus 50 ps, in seconds as the host answers.
double hop_delay_seconds(int x1, int y1, int x2, int y2, int)
{
    return (std::abs(x1 - x2) + std::abs(y1 - y2)) * 100e-12 + 50e-12;
}

TEST_F(MorvApiPlaceTest, RoutingDelayIsTheHostsInWholePicosecondsAfterPlacement)
{
    PLACEMENT_NETLIST n(DEV_FAMILY_OBRAN);
    n.env().m_routing_delay = hop_delay_seconds;
    MORV_API* api = n.api();
    n.run_only(LATE_FSYN_FLOW);
    for (int hops = 0; hops < 60; ++hops) EXPECT_EQ(api->get_routing_delay(0, 0, hops, 0, -1), hops * 100 + 50);
    EXPECT_EQ(internal_error_of([&] { api->get_routing_delay(0, 0, 1, 1, 3); }), "drive_strength == -1");
    n.env().m_routing_delay = [](int, int, int, int, int) { return -1e-12; };
    EXPECT_EQ(internal_error_of([&] { api->get_routing_delay(0, 0, 1, 1, -1); }), "delay_in_pico_seconds >= 0");

    // Before placement the coordinates do not count.
    n.run_only(SYN_EARLY_FSYN_FLOW);
    EXPECT_EQ(api->get_routing_delay(0, 0, 7, 5, -1), 0);
    api->set_pre_placement_delay_factors(2.5, 2.0, 3);
    EXPECT_EQ(api->get_routing_delay(0, 0, 7, 5, -1), 15);
    EXPECT_EQ(api->get_routing_delay(1, 1, 1, 1, -1), 15);

    PLACEMENT_NETLIST mrl(DEV_FAMILY_MORLIN);
    mrl.env().m_routing_delay = hop_delay_seconds;
    mrl.run_only(LATE_FSYN_FLOW);
    EXPECT_EQ(mrl.api()->get_routing_delay(0, 0, 2, 0, 1), 250);
    EXPECT_EQ(internal_error_of([&] { mrl.api()->get_routing_delay(0, 0, 1, 1, -1); }), "drive_strength > -1");
}

// Two locked registers, source feeding sink.
struct LOCKED_PAIR
{
    explicit LOCKED_PAIR(PLACEMENT_NETLIST& n) : source(n.reg()), sink(n.reg())
    {
        PLACEMENT_NETLIST::connect(source, DB_REG_OUT, sink, DB_DATAIN);
    }
    CDB_ATOM_ITERM* input() const { return sink->get_input_term_by_type(DB_DATAIN); }
    CDB_ATOM_NODE* source;
    CDB_ATOM_NODE* sink;
};

int model_delay(int xs, int ys, int xt, int yt)
{
    return PLDM(DMGR_UTILITY::get_current_device()->get_part()).get_point_to_point_delay(xs, ys, xt, yt);
}

// Overlapping regions bound a connection from above only; disjoint ones
// from below too, at the nearest points of the two rectangles (here the
// ranges overlap in x, so the nearest points are no corners).
TEST_F(MorvApiPlaceTest, PointToPointBoundsOfTwoLockedEnds)
{
    PLACEMENT_NETLIST n(DEV_FAMILY_OBRAN);
    MORV_API* api = n.api();
    ASSERT_NE(api->get_pldm(), nullptr);

    LOCKED_PAIR overlapping(n);
    PLACEMENT_NETLIST::lock(overlapping.source, 0, 0, 3, 3);
    PLACEMENT_NETLIST::lock(overlapping.sink, 2, 2, 5, 5);
    const int farthest = model_delay(0, 0, 5, 5);
    EXPECT_EQ(api->get_point_to_point_delay(farthest + 100, overlapping.input()), farthest);
    EXPECT_EQ(api->get_point_to_point_delay(7, overlapping.input()), 7);

    LOCKED_PAIR apart(n);
    PLACEMENT_NETLIST::lock(apart.source, 0, 0, 6, 0);
    PLACEMENT_NETLIST::lock(apart.sink, 3, 4, 4, 4);
    const int nearest = model_delay(3, 0, 3, 4);
    ASSERT_LT(nearest, model_delay(6, 0, 4, 4)) << "the nearest corners are farther than the nearest points";
    EXPECT_EQ(api->get_point_to_point_delay(1, apart.input()), nearest);
    EXPECT_EQ(api->get_point_to_point_delay(nearest + 5, apart.input()), nearest + 5);
    EXPECT_EQ(api->get_point_to_point_delay(1000000, apart.input()), model_delay(0, 0, 4, 4));

    LOCKED_PAIR beside(n);
    PLACEMENT_NETLIST::lock(beside.source, 0, 0, 0, 5);
    PLACEMENT_NETLIST::lock(beside.sink, 4, 2, 4, 3);
    EXPECT_EQ(api->get_point_to_point_delay(1, beside.input()), model_delay(0, 2, 4, 2));

    // The bound is worked out once per pair of atoms.
    PLACEMENT_NETLIST::lock(apart.sink, 0, 0, 7, 5);
    EXPECT_EQ(api->get_point_to_point_delay(1, apart.input()), nearest);

    // A free end, an input without a driver and a family without regions
    // leave the delay as given.
    LOCKED_PAIR half(n);
    PLACEMENT_NETLIST::lock(half.source, 0, 0, 1, 1);
    EXPECT_EQ(api->get_point_to_point_delay(3, half.input()), 3);
    EXPECT_EQ(api->get_point_to_point_delay(3, n.reg()->add_input_term(DB_DATAIN)), 3);
    PLACEMENT_NETLIST mrl(DEV_FAMILY_MORLIN);
    LOCKED_PAIR mrl_pair(mrl);
    PLACEMENT_NETLIST::lock(mrl_pair.source, 0, 0, 0, 0);
    PLACEMENT_NETLIST::lock(mrl_pair.sink, 7, 5, 7, 5);
    EXPECT_EQ(mrl.api()->get_point_to_point_delay(1, mrl_pair.input()), 1);
}

// r1 (locked) -> r2 -> r3 (locked), r1 -> r4: r2 has two locked register
// neighbours and so an estimate; r4 has one and none.
TEST_F(MorvApiPlaceTest, OneLockedEndIsBoundByTheEstimateOfTheOther)
{
    PLACEMENT_NETLIST n(DEV_FAMILY_OBRAN);
    MORV_API* api = n.api();
    CDB_ATOM_NODE* clock = n.pin();
    std::vector<CDB_ATOM_NODE*> r;
    for (int i = 0; i < 4; ++i) {
        r.push_back(n.reg());
        PLACEMENT_NETLIST::connect(clock, DB_DATA_OUT, r.back(), DB_CLOCK);
    }
    PLACEMENT_NETLIST::connect(r[0], DB_REG_OUT, r[1], DB_DATAIN);
    PLACEMENT_NETLIST::connect(r[1], DB_REG_OUT, r[2], DB_DATAIN);
    PLACEMENT_NETLIST::connect(r[0], DB_REG_OUT, r[3], DB_DATAIN);
    PLACEMENT_NETLIST::lock(r[0], 0, 0, 2, 2);
    PLACEMENT_NETLIST::lock(r[2], 6, 4, 7, 5);
    PLACEMENT_NETLIST::lock(clock, 0, 0, 0, 0);  // a pin is no logic cell: never marked
    ASSERT_TRUE(api->refresh_timing_and_print_dont_touch_statistics());

    MORV_BIT_VECTOR locked;
    api->compute_locked_location_estimates(&locked);
    EXPECT_TRUE(locked.test(id(r[0])));
    EXPECT_FALSE(locked.test(id(r[1])));
    EXPECT_TRUE(locked.test(id(r[2])));
    EXPECT_FALSE(locked.test(id(clock)));
    const MORV_LOCKED_LOCATION_ESTIMATE& estimate = api->get_locked_location_estimates()[id(r[1])];
    EXPECT_EQ(estimate.m_count, 4);
    EXPECT_EQ(estimate.m_x_sum, 0 + 2 + 6 + 7);
    EXPECT_EQ(estimate.m_y_sum, 0 + 2 + 4 + 5);
    EXPECT_EQ(internal_error_of([&] { api->compute_locked_location_estimates(&locked); }),
              "!m_locked_location_estimates.size()");

    // Centre of r1's region (1, 1) to r2's mean neighbour (3, 2).
    const int estimated = model_delay(1, 1, 15 / 4, 11 / 4);
    EXPECT_EQ(api->get_point_to_point_delay(0, r[1]->get_input_term_by_type(DB_DATAIN)), estimated);
    EXPECT_EQ(api->get_point_to_point_delay(0, r[3]->get_input_term_by_type(DB_DATAIN)), 0);
    api->clear_locked_location_estimates();
}

// A memory-capable LAB takes logic until a memory sits there; the other LAB
// blocks always do, nothing else does, and before placement everything does.
TEST_F(MorvApiPlaceTest, UsableBlockStaysUsableUntilOccupied)
{
    PLACEMENT_NETLIST n(DEV_FAMILY_OBRAN);
    n.env().m_block_type = [](int x, int) {
        const int types[] = {DEV_BLOCK_LAB_590, DEV_BLOCK_LAB,     DEV_BLOCK_LAB_499, DEV_BLOCK_LAB_500,
                             DEV_BLOCK_LAB_538, DEV_BLOCK_LAB_589, DEV_BLOCK_IO,      DEV_BLOCK_RAM};
        return types[x];
    };
    MORV_API* api = n.api();
    n.run_only(LATE_FSYN_FLOW);
    for (int x = 0; x < 8; ++x) EXPECT_EQ(api->can_lcell_go_to_location(x, 0), x < 6) << x;
    n.place(n.lut(), 0, 1);
    api->free_occupied_location_grid();
    EXPECT_TRUE(api->can_lcell_go_to_location(0, 1)) << "logic does not occupy a memory LAB";
    n.place(n.atom(CDB_KIND_RAM), 0, 1);
    EXPECT_TRUE(api->can_lcell_go_to_location(0, 1)) << "the grid is kept until freed";
    api->free_occupied_location_grid();
    EXPECT_FALSE(api->can_lcell_go_to_location(0, 1));
    EXPECT_TRUE(api->has_occupied_location_grid());
    EXPECT_TRUE(api->can_lcell_go_to_location(0, 2));
    n.run_only(POST_CLUSTERING_FSYN_FLOW);
    for (int x = 0; x < 8; ++x) EXPECT_TRUE(api->can_lcell_go_to_location(x, 1)) << x;
}

// Clusters go one per LAB from (1, 1), row by row inside the border.
TEST_F(MorvApiPlaceTest, ClusteringIsLaidOntoTheChipMapInRasterOrder)
{
    PLACEMENT_NETLIST n(DEV_FAMILY_OBRAN);
    n.env().m_grid_nx = 4;
    n.env().m_grid_ny = 4;
    MORV_API* api = n.api();
    std::vector<std::vector<CDB_ATOM_NODE*>> clusters(4);
    for (int c = 0; c < 4; ++c)
        for (int k = 0; k < 2; ++k) {
            clusters[c].push_back(n.lut());
            api->add_node_to_cluster(clusters[c].back(), 10 + c, k);
        }
    CDB_ATOM_NODE* gone = clusters[3][1];
    n.run_only(POST_CLUSTERING_FSYN_FLOW);
    n.env().m_on_delete = [](CDB_ATOM_NODE*) {};
    api->delete_node(gone);
    // The timing analysis of the post-clustering flow lays the clusters out.
    api->run_timing_analysis(false, false, 1.0, false, false, false);
    MORV_CHIP_MAP* map = api->get_fsyn_chip_map();
    const int expected[4][2] = {{1, 1}, {2, 1}, {1, 2}, {2, 2}};
    for (int c = 0; c < 4; ++c)
        for (CDB_ATOM_NODE* node : clusters[c]) {
            if (node == gone) continue;
            int x = -1, y = -1;
            ASSERT_TRUE(map->get_node_xy(id(node), &x, &y));
            EXPECT_EQ(x, expected[c][0]) << c;
            EXPECT_EQ(y, expected[c][1]) << c;
        }
    EXPECT_EQ(map->get_number_of_placed_nodes(), 7);

    // A fifth cluster does not fit inside the border.
    api->add_node_to_cluster(n.lut(), 20, 0);
    EXPECT_EQ(internal_error_of([&] { api->download_clustering_to_chip_map(); }),
              "y < ny - 1 || (y == ny - 1 && x == 1)");
}

TEST_F(MorvApiPlaceTest, BlockLocationOfAMultiplierIsItsMacOutputs)
{
    PLACEMENT_NETLIST mrl(DEV_FAMILY_MORLIN);
    CDB_ATOM_NODE* mult = mrl.atom(CDB_KIND_MAC_MULT);
    CDB_ATOM_NODE* mac_out = mrl.atom(CDB_KIND_MAC_OUT);
    PLACEMENT_NETLIST::connect(mult, DB_DATA_OUT, mac_out, DB_DATA_A);
    CDB_ATOM_NODE* cell = mrl.lut();
    mrl.place(mult, 1, 1, 0);
    mrl.place(mac_out, 4, 3, 0);
    mrl.place(cell, 2, 5, 0);
    MORV_API* api = mrl.api();
    EXPECT_EQ(api->count_mac_nodes(), 2);
    int x = -1, y = -1;
    api->get_block_location(mult, &x, &y);
    EXPECT_EQ(std::make_pair(x, y), std::make_pair(4, 3)) << "a multiplier sits where its MAC output does";
    api->get_block_location(cell, &x, &y);
    EXPECT_EQ(std::make_pair(x, y), std::make_pair(2, 5));
    api->get_block_location(mrl.lut(), &x, &y);
    EXPECT_EQ(std::make_pair(x, y), std::make_pair(-1, -1));
    mrl.run_only(FIT_EARLY_FSYN_FLOW);
    EXPECT_EQ(internal_error_of([&] { api->get_block_location(cell, &x, &y); }), "!pre_placement_fsyn");
}

// FL cells follow an atom's properties; the id stored travels with the atom.
TEST_F(MorvApiPlaceTest, FlCellsOfStructuredAsicAtoms)
{
    PLACEMENT_NETLIST mrl(DEV_FAMILY_MORLIN);
    MORV_API* api = mrl.api();
    DEV_FL_INFO* fl = api->get_device_fl_info();
    ASSERT_NE(fl, nullptr);
    CDB_ATOM_NODE* lut = mrl.lut();
    CDB_ATOM_NODE* ff = mrl.reg();
    CDB_ATOM_NODE* latch = mrl.reg();
    CDB_ATOM_LATCH_INFO info;
    info.is_latch = true;
    latch->set_latch_info(new CDB_ATOM_LATCH_INFO(info));
    EXPECT_STREQ(fl->get_cell_name(api->get_fl_id_from_atom_properties(lut)), "FL_LUT");
    EXPECT_STREQ(fl->get_cell_name(api->get_fl_id_from_atom_properties(ff)), "FL_FF");
    EXPECT_STREQ(fl->get_cell_name(api->get_fl_id_from_atom_properties(latch)), "FL_LATCH");
    EXPECT_EQ(internal_error_of([&] { api->get_fl_id_from_atom_properties(mrl.pin()); }),
              "node->is_lcell_comb() || node->is_lcell_ff()");

    EXPECT_EQ(api->get_stored_fl_id(lut), DEV_ILLEGAL_FL_ID);
    for (CDB_ATOM_NODE* node : {lut, ff, latch}) api->set_fl_id(node, api->get_fl_id_from_atom_properties(node));
    EXPECT_EQ(api->get_stored_fl_id(ff), api->get_fl_id_from_atom_properties(ff));
    int lut_value = -1;
    ASSERT_TRUE(fl->get_field(api->get_stored_fl_id(lut), 4, &lut_value));
    EXPECT_EQ(api->get_fl_cell_value(lut), lut_value);
    EXPECT_NE(api->get_fl_cell_record_type(latch), 0);
    EXPECT_EQ(api->get_fl_cell_value(latch), 0) << "a cell of a special record type has no value";

    PLACEMENT_NETLIST obran(DEV_FAMILY_OBRAN);
    CDB_ATOM_NODE* other = obran.lut();
    EXPECT_EQ(obran.api()->get_fl_cell_value(other), -1);
    EXPECT_EQ(obran.api()->get_oterm_fl_value(other->add_output_term(DB_COMB_OUT)), -1);
    EXPECT_EQ(internal_error_of([&] { obran.api()->get_stored_fl_id(other); }),
              "get_base_family_code() == DEV_FAMILY_MORLIN");
}

// Inputs weigh (1 - the smaller ratio)^8: without timing every present
// ratio is 1, so only the stored ratios set the weights.
TEST_F(MorvApiPlaceTest, WeightedSlackRatioDifferenceWeighsCriticalInputs)
{
    PLACEMENT_NETLIST n(DEV_FAMILY_BRENNOCK);
    MORV_API* api = n.api();
    CDB_ATOM_NODE* a = n.lut();
    CDB_ATOM_NODE* b = n.lut();
    CDB_ATOM_NODE* c = n.lut();
    PLACEMENT_NETLIST::connect(a, DB_COMB_OUT, b, DB_DATA_A);
    PLACEMENT_NETLIST::connect(a, DB_COMB_OUT, c, DB_DATA_A);
    c->add_input_term(DB_DATA_B);  // no driver: never recorded
    MORV_SLACK_RATIO_MAP ratios;
    ratios[MORV_CANONICAL_ITERM::of(c->get_input_term_by_type(DB_DATA_B))] = 0.25;  // forgotten by the store
    api->store_slack_ratios(&ratios);
    ASSERT_EQ(ratios.size(), 2u);
    EXPECT_EQ(api->get_weighted_slack_ratio_difference(ratios), 0.0) << "nothing weighs, nothing changed";

    ratios[MORV_CANONICAL_ITERM::of(b->get_input_term_by_type(DB_DATA_A))] = 0.0;
    ratios[MORV_CANONICAL_ITERM::of(c->get_input_term_by_type(DB_DATA_A))] = 0.5;
    const double w = std::pow(0.5, 8);
    EXPECT_DOUBLE_EQ(api->get_weighted_slack_ratio_difference(ratios), (1.0 + w * 0.5) / (1.0 + w));
    ratios.clear();
    EXPECT_EQ(api->get_weighted_slack_ratio_difference(ratios), 0.0);

    msg_clear_posted_messages();
    EXPECT_EQ(api->get_early_timing_model_stability(), 0.0);
    EXPECT_EQ(count_posted("WMORV_FSYN_NOT_AVAILABLE_YET"), 0);
}

// Records, during do_iter, what the run driver set up around it.
class PROBE_ALGORITHM : public MORV_ALGORITHM_BASE
{
public:
    using MORV_ALGORITHM_BASE::MORV_ALGORITHM_BASE;
    ~PROBE_ALGORITHM() override {}
    std::string get_short_name() override { return "PROBE"; }
    void set_default_algorithm_parameters(int& np, int& icp_at_end, double& fom, int& restore) override
    {
        np = 1;
        icp_at_end = 1;
        fom = 0.0;
        restore = 0;
    }
    void set_default_pass_parameters(int, int& ni, int& hci) override
    {
        ni = 1;
        hci = 0;
    }
    int do_iter() override
    {
        m_had_grid = m_fsyn_api->has_occupied_location_grid();
        MORV_REGION_MAP* regions = m_fsyn_api->get_fsyn_region_map();
        if (regions->get_number_of_regions() > 0) m_region_luts = regions->get_region(0)->get_lut_count();
        return 0;
    }
    double compute_figure_of_merit() override { return 0.0; }
    bool m_had_grid = false;
    int m_region_luts = -1;
};

TEST_F(MorvApiPlaceTest, RunDriverKeepsTheGridAroundIterationsAndRecountsRegions)
{
    for (int family : {DEV_FAMILY_OBRAN, DEV_FAMILY_RZK, DEV_FAMILY_KESTLIN, DEV_FAMILY_BRENNOCK}) {
        PLACEMENT_NETLIST n(family);
        MORV_API* api = n.api();
        PLACEMENT_NETLIST::lock(n.lut(), 1, 1, 2, 2);
        PLACEMENT_NETLIST::lock(n.lut(), 1, 1, 2, 2);
        n.run_only(FIT_EARLY_FSYN_FLOW);
        api->get_fsyn_region_map()->initialize(n.netlist());
        MORV_PARAMETER_MAP parameters;
        PROBE_ALGORITHM probe(api, &parameters);
        probe.run_algorithm();
        EXPECT_EQ(probe.m_had_grid, family != DEV_FAMILY_BRENNOCK) << family;
        EXPECT_FALSE(api->has_occupied_location_grid()) << family;
        EXPECT_EQ(probe.m_region_luts, 2) << family;
        api->get_fsyn_region_map()->clear();
    }
}

// The regions exist while a flow runs and are gone after it.
class REGION_ENV : public MORV_TEST_ENV
{
public:
    using MORV_TEST_ENV::MORV_TEST_ENV;
    MORV_ICP_RESULT run_icp(bool, bool, double, bool, bool, bool, bool) override
    {
        MORV_API* api = dynamic_cast<MORV_EXPERT*>(get_fsyn_expert())->get_fsyn_api();
        m_regions_seen.push_back(api->get_fsyn_region_map()->get_number_of_regions());
        MORV_ICP_RESULT result;
        result.m_status = 1;
        return result;
    }
    std::vector<int> m_regions_seen;
};

TEST_F(MorvApiPlaceTest, FlowDispatchMakesTheRegionsForTheFlowOnly)
{
    cfg_set_value("fsyn_disable_experimental_icp", "on");
    MORV_TEST_HOST host(DEV_FAMILY_OBRAN);
    const std::vector<int> ids = host.build_chain(3);
    for (int atom : ids) {
        CDB_ATOM_NODE* node = host.netlist->get_node_by_id(static_cast<uint32_t>(atom));
        PLACEMENT_NETLIST::lock(node, 1, 1, 1 + atom % 2, 1);
    }
    host.ap.get_options().set_string(MORV_SETTING_TEST_STRING, "TEST(NP=0)");
    REGION_ENV env(&host.cmp);
    MORV_EXPERT* expert = dynamic_cast<MORV_EXPERT*>(env.get_fsyn_expert());
    ASSERT_TRUE(expert->do_physical_synthesis(LATE_FSYN_FLOW));
    ASSERT_FALSE(env.m_regions_seen.empty());
    for (int seen : env.m_regions_seen) EXPECT_EQ(seen, 2);
    EXPECT_EQ(expert->get_fsyn_api()->get_fsyn_region_map()->get_number_of_regions(), 0);
}

}  // namespace

namespace {

// The net utility's grid samples. The families in general: the mean delay
// to the nine neighbours of the first location whose whole 3×3 block takes
// logic cells, and the delay within the first such location. MRL: the mean
// over the neighbours of the first ten locations that hold a driving logic
// cell, each measured with that cell's drive strength; fewer than ten: 0.
TEST_F(MorvApiPlaceTest, GridDelaySamplesOfTheNetUtility)
{
    PLACEMENT_NETLIST n(DEV_FAMILY_OBRAN);
    n.env().m_routing_delay = hop_delay_seconds;
    n.run_only(LATE_FSYN_FLOW);
    MORV_NET_UTIL* util = n.api()->get_fsyn_net_util();
    // Four neighbours one step away, four two steps, and the location itself.
    EXPECT_EQ(util->get_average_neighbour_delay(), (4 * 100 + 4 * 200 + 9 * 50) / 9);
    EXPECT_EQ(util->get_sample_location_delay(), 50);

    PLACEMENT_NETLIST mrl(DEV_FAMILY_MORLIN);
    // A stronger driver (a higher FL id here) makes each hop cheaper.
    mrl.env().m_oterm_fl_id = [](CDB_ATOM_OTERM*) { return 2; };
    mrl.env().m_routing_delay = [](int x1, int y1, int x2, int y2, int drive) {
        return hop_delay_seconds(x1, y1, x2, y2, drive) / drive;
    };
    mrl.run_only(LATE_FSYN_FLOW);
    MORV_NET_UTIL* mrl_util = mrl.api()->get_fsyn_net_util();
    EXPECT_EQ(mrl_util->get_average_neighbour_delay(), 0) << "nothing placed";
    EXPECT_EQ(mrl_util->get_sample_location_delay(), 0);
    std::vector<CDB_ATOM_NODE*> cells;
    const int nx = mrl.chip_map()->get_nx(), ny = mrl.chip_map()->get_ny();
    for (int x = 1; x + 1 < nx && cells.size() < 10; ++x)
        for (int y = 1; y + 1 < ny && cells.size() < 10; ++y) {
            if (!mrl.api()->can_lcell_go_to_location(x, y)) continue;
            CDB_ATOM_NODE* cell = mrl.lut();
            PLACEMENT_NETLIST::connect(cell, DB_COMB_OUT, mrl.reg(), DB_DATAIN);
            mrl.place(cell, x, y);
            cells.push_back(cell);
        }
    ASSERT_EQ(cells.size(), 10u);
    MORV_LOC tenth;
    ASSERT_TRUE(mrl.chip_map()->get_node_location(PLACEMENT_NETLIST::id(cells.back()), &tenth));
    mrl.chip_map()->remove_node(PLACEMENT_NETLIST::id(cells.back()));
    EXPECT_EQ(mrl_util->get_average_neighbour_delay(), 0) << "nine sampled locations are too few";
    mrl.place(cells.back(), tenth.x, tenth.y);
    // Every sampled location on the grid's inside: its nine neighbours as above, at half the delay.
    EXPECT_EQ(mrl_util->get_average_neighbour_delay(), (4 * 100 + 4 * 200 + 9 * 50) / 2 / 9);
    EXPECT_EQ(mrl_util->get_sample_location_delay(), 25);
}

}  // namespace

}  // namespace morv_api_place_test
