// Placement regions: the rectangle segment tree against a brute-force
// oracle, the regions the netlist makes with their capacities, which nodes
// each region holds before and after placement, and the counts kept while
// nodes come and go.

#include <gtest/gtest.h>

#include <algorithm>
#include <bitset>
#include <climits>
#include <random>
#include <vector>

#include "dev/dev_device.h"

#include "morv/netlist/morv_region_map.h"
#include "morv/netlist/morv_region_segment.h"
#include "placement_fixture.h"

namespace morv_region_map_test {

namespace {

class MorvRegionMapTest : public MORV_CLEAN_STATE_TEST
{};

bool inside(const MORV_REGION_COORDINATES& r, int x, int y)
{
    return x >= r.xmin && x <= r.xmax && y >= r.ymin && y <= r.ymax;
}

std::vector<int> lookup(const MORV_REGION_SEGMENT& root, int x, int y)
{
    std::vector<int> ids;
    root.lookup(x, y, &ids);
    std::sort(ids.begin(), ids.end());
    return ids;
}

// Each way a rectangle can meet a leaf: the leaf splits into the part the
// rectangle covers (carrying its id) and one piece for each side it does
// not reach, and the pieces tile the leaf.
TEST_F(MorvRegionMapTest, EachOfTheFifteenSplitsTilesTheLeaf)
{
    const MORV_REGION_COORDINATES leaf = {10, 10, 20, 20};
    for (int code = 0; code < 15; ++code) {
        const MORV_REGION_COORDINATES r = {(code & 8) ? 8 : 12, (code & 4) ? 9 : 13, (code & 2) ? 22 : 17,
                                           (code & 1) ? 21 : 18};
        MORV_REGION_SEGMENT segment(leaf, 0);
        ASSERT_EQ(segment.case_code(r), code);
        segment.insert(r, 7);
        EXPECT_EQ(segment.get_state(), MORV_REGION_SEGMENT::SPLIT) << code;
        EXPECT_TRUE(segment.get_region_ids().empty()) << code;
        const int unreached = 4 - static_cast<int>(std::bitset<4>(code).count());
        EXPECT_EQ(segment.get_number_of_children(), 1 + unreached) << code;
        for (int x = 8; x <= 22; ++x)
            for (int y = 8; y <= 22; ++y) {
                int holders = 0;
                for (int c = 0; c < segment.get_number_of_children(); ++c)
                    holders += segment.get_child(c)->contains(x, y);
                EXPECT_EQ(holders, inside(leaf, x, y) ? 1 : 0) << code << " at " << x << "," << y;
                const bool covered = inside(leaf, x, y) && inside(r, x, y);
                EXPECT_EQ(lookup(segment, x, y), covered ? std::vector<int>{7} : std::vector<int>{})
                    << code << " at " << x << "," << y;
            }
    }
}

// Random rectangles, some reaching past the root or missing it: every
// position finds exactly the ids of the rectangles that cover it.
TEST_F(MorvRegionMapTest, LookupMatchesPointInRectangleOnRandomRectangles)
{
    const MORV_REGION_COORDINATES root_bounds = {0, 0, 23, 23};
    for (unsigned seed = 1; seed <= 20; ++seed) {
        std::mt19937 rng(seed);
        std::uniform_int_distribution<int> coordinate(-3, 26);
        MORV_REGION_SEGMENT root(root_bounds, 0);
        std::vector<MORV_REGION_COORDINATES> rectangles;
        for (int id = 1; id <= 25; ++id) {
            int x1 = coordinate(rng), x2 = coordinate(rng), y1 = coordinate(rng), y2 = coordinate(rng);
            const MORV_REGION_COORDINATES r = {std::min(x1, x2), std::min(y1, y2), std::max(x1, x2), std::max(y1, y2)};
            rectangles.push_back(r);
            root.insert(r, id);
        }
        for (int x = -2; x <= 25; ++x)
            for (int y = -2; y <= 25; ++y) {
                std::vector<int> expected;
                if (inside(root_bounds, x, y))
                    for (size_t k = 0; k < rectangles.size(); ++k)
                        if (inside(rectangles[k], x, y)) expected.push_back(static_cast<int>(k) + 1);
                ASSERT_EQ(lookup(root, x, y), expected) << "seed " << seed << " at " << x << "," << y;
            }
    }
}

TEST_F(MorvRegionMapTest, RectangleCoveringASplitPieceWholeIsFiledThereWithoutSplitting)
{
    MORV_REGION_SEGMENT root({0, 0, INT_MAX, INT_MAX}, 0);
    root.insert({5, 5, 10, 10}, 1);
    ASSERT_EQ(root.get_number_of_children(), 5);
    const MORV_REGION_SEGMENT* centre = root.get_child(4);
    EXPECT_EQ(centre->get_bounds(), (MORV_REGION_COORDINATES{5, 5, 10, 10}));
    root.insert({5, 5, 10, 10}, 2);
    EXPECT_EQ(centre->get_region_ids(), (std::vector<int>{1, 2}));
    EXPECT_EQ(centre->get_number_of_children(), 0);
    EXPECT_EQ(lookup(root, -1, -1), std::vector<int>{});
}

// A grid whose columns hold different blocks: 1 a LAB block logic may use
// but regions do not count, 2 the other such, 3 to 5 counted LAB blocks, 6
// I/O, the rest plain LABs.
int mixed_blocks(int x, int)
{
    switch (x) {
    case 1: return DEV_BLOCK_LAB_500;
    case 2: return DEV_BLOCK_LAB_538;
    case 3: return DEV_BLOCK_LAB_590;
    case 4: return DEV_BLOCK_LAB_499;
    case 5: return DEV_BLOCK_LAB_589;
    case 6: return DEV_BLOCK_IO;
    default: return DEV_BLOCK_LAB;
    }
}

// One region per rectangle and per floating id, in the order the nodes name
// them; capacities count the LAB blocks regions use, 20 elements each here.
TEST_F(MorvRegionMapTest, RegionsAreMadeOncePerRectangleAndFloatingIdWithTheirCapacities)
{
    PLACEMENT_NETLIST n(DEV_FAMILY_OBRAN);
    n.env().m_block_type = mixed_blocks;
    n.env().m_floating_labs = {{4, 3}, {9, 0}};
    MORV_REGION_MAP* map = n.api()->get_fsyn_region_map();
    PLACEMENT_NETLIST::lock(n.lut(), 1, 0, 6, 0);
    PLACEMENT_NETLIST::kardel(n.reg(), 4);
    PLACEMENT_NETLIST::lock(n.reg(), 1, 0, 6, 0);
    PLACEMENT_NETLIST::kardel(n.lut(), 4);
    PLACEMENT_NETLIST::kardel(n.lut(), 9);         // a floating region without LABs
    PLACEMENT_NETLIST::lock(n.lut(), 1, 1, 2, 5);  // only blocks regions do not count
    PLACEMENT_NETLIST::lock(n.lut(), 0, 0, 1000000000, 1000000000);
    map->initialize(n.netlist());
    ASSERT_EQ(map->get_number_of_regions(), 3);
    EXPECT_EQ(map->get_region(0)->get_kind(), MORV_REGION_KIND_LOCKED);
    EXPECT_EQ(map->get_region(0)->get_lut_capacity(), 3 * 20);
    EXPECT_EQ(map->get_region(0)->get_ff_capacity(), 3 * 20);
    EXPECT_EQ(map->get_region(1)->get_kind(), MORV_REGION_KIND_FLOATING);
    EXPECT_EQ(map->get_region(1)->get_lut_capacity(), 3 * 20);
    // The whole 8 by 6 grid, however far the corners reach: columns 0, 3,
    // 4, 5 and 7 hold counted LABs.
    EXPECT_EQ(map->get_region(2)->get_lut_capacity(), 5 * 6 * 20);
    MORV_REGION_LOCKED same(&n.env(), n.api());
    same.set_corners(1, 6, 0, 0);
    EXPECT_TRUE(map->has_same_region(&same));
    same.set_corners(1, 6, 0, 1);
    EXPECT_FALSE(map->has_same_region(&same));
    MORV_REGION_FLOATING floating(&n.env(), n.api(), 4);
    EXPECT_TRUE(map->has_same_region(&floating));
    EXPECT_EQ(internal_error_of([&] { map->initialize(n.netlist()); }), "m_root_segment == NULL");
    map->clear();
    EXPECT_EQ(map->get_number_of_regions(), 0);
    EXPECT_EQ(map->get_root_segment(), nullptr);

    PLACEMENT_NETLIST mrl(DEV_FAMILY_MORLIN);
    PLACEMENT_NETLIST::lock(mrl.lut(), 1, 1, 2, 2);
    mrl.env().m_floating_labs = {{4, 3}};
    PLACEMENT_NETLIST::kardel(mrl.lut(), 4);
    mrl.api()->get_fsyn_region_map()->initialize(mrl.netlist());
    EXPECT_EQ(mrl.api()->get_fsyn_region_map()->get_number_of_regions(), 0);
}

// Before placement a node lies in the region of its own rectangle only, and
// floating regions hold nothing; after it, positions decide, and floating
// regions hold their kardel nodes.
TEST_F(MorvRegionMapTest, ContentsBeforeAndAfterPlacement)
{
    PLACEMENT_NETLIST n(DEV_FAMILY_OBRAN);
    n.env().m_floating_labs = {{4, 2}};
    MORV_REGION_MAP* map = n.api()->get_fsyn_region_map();
    CDB_ATOM_NODE* a_lut = n.lut();
    CDB_ATOM_NODE* a_reg = n.reg();
    CDB_ATOM_NODE* b_lut = n.lut();
    CDB_ATOM_NODE* floating = n.lut();
    CDB_ATOM_NODE* free_lut = n.lut();
    PLACEMENT_NETLIST::lock(a_lut, 1, 1, 4, 4);
    PLACEMENT_NETLIST::lock(a_reg, 1, 1, 4, 4);
    PLACEMENT_NETLIST::lock(b_lut, 3, 3, 6, 5);
    PLACEMENT_NETLIST::kardel(floating, 4);
    map->initialize(n.netlist());
    ASSERT_EQ(map->get_number_of_regions(), 3);  // A, B, floating 4
    MORV_REGION* a = map->get_region(0);
    MORV_REGION* b = map->get_region(1);
    MORV_REGION* f = map->get_region(2);

    n.run_only(FIT_EARLY_FSYN_FLOW);
    map->recount_region_contents(n.netlist());
    EXPECT_EQ(a->get_lut_count(), 1);
    EXPECT_EQ(a->get_ff_count(), 1);
    EXPECT_EQ(b->get_lut_count(), 1);
    EXPECT_EQ(f->get_lut_count() + f->get_ff_count(), 0);

    // After placement: b_lut sits where A and B overlap; a_reg is unplaced.
    n.run_only(LATE_FSYN_FLOW);
    n.place(a_lut, 1, 1);
    n.place(b_lut, 3, 4);
    n.place(floating, 7, 0);
    n.place(free_lut, 2, 2);
    std::vector<int> positions;
    map->get_node_regions(b_lut, &positions);
    EXPECT_EQ(positions, (std::vector<int>{0, 1}));
    positions.clear();
    map->get_node_regions(free_lut, &positions);
    EXPECT_TRUE(positions.empty()) << "a free node is in no locked region";
    map->recount_region_contents(n.netlist());
    EXPECT_EQ(a->get_lut_count(), 2);
    EXPECT_EQ(a->get_ff_count(), 0);
    EXPECT_EQ(b->get_lut_count(), 1);
    EXPECT_EQ(f->get_lut_count(), 1);

    // Nodes come and go: the regions that contain them follow.
    CDB_ATOM_NODE* added = n.reg();
    PLACEMENT_NETLIST::lock(added, 0, 0, 7, 5);
    n.place(added, 4, 4);
    map->node_added(added);
    EXPECT_EQ(a->get_ff_count(), 1);
    EXPECT_EQ(b->get_ff_count(), 1);
    map->node_deleted(b_lut);
    EXPECT_EQ(a->get_lut_count(), 1);
    EXPECT_EQ(b->get_lut_count(), 0);
    EXPECT_FALSE(map->is_node_locked_by_region(added));

    // A locked node tested outside every flow has no placement to go by.
    n.run_only(-1);
    EXPECT_EQ(internal_error_of([&] { map->node_added(a_lut); }),
              "m_fsyn_api->get_fsyn_expert()->is_fsyn_running_pre_placement_fsyn()");
    map->clear();
}

TEST_F(MorvRegionMapTest, EveryUvoNodeCountsAsALut)
{
    PLACEMENT_NETLIST n(DEV_FAMILY_UVO);
    CDB_ATOM_NODE* reg = n.reg();
    CDB_ATOM_NODE* pin = n.pin();
    PLACEMENT_NETLIST::lock(reg, 1, 1, 2, 2);
    PLACEMENT_NETLIST::lock(pin, 1, 1, 2, 2);
    MORV_REGION_MAP* map = n.api()->get_fsyn_region_map();
    map->initialize(n.netlist());
    n.run_only(SYN_EARLY_FSYN_FLOW);
    map->recount_region_contents(n.netlist());
    ASSERT_EQ(map->get_number_of_regions(), 1);
    EXPECT_EQ(map->get_region(0)->get_lut_count(), 2);
    EXPECT_EQ(map->get_region(0)->get_ff_count(), 0);
    EXPECT_EQ(map->get_region(0)->get_lut_capacity(), 4 * 10);
    map->clear();
}

}  // namespace

}  // namespace morv_region_map_test
