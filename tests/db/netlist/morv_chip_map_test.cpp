// The chip map: where atoms sit, open sub-locations, LAB capacities, the
// nodes and LUTs of a LAB, ALE partners after placement and along carry
// chains before it.

#include <gtest/gtest.h>

#include <vector>

#include "dev/dev_device.h"

#include "placement_fixture.h"

namespace morv_chip_map_test {

namespace {

class MorvChipMapTest : public MORV_CLEAN_STATE_TEST
{};

MORV_LOC loc_of(MORV_CHIP_MAP* chip_map, const CDB_ATOM_NODE* node)
{
    MORV_LOC location;
    chip_map->get_node_location(PLACEMENT_NETLIST::id(node), &location);
    return location;
}

TEST_F(MorvChipMapTest, MovingAnAtomLeavesItsOldLabKnownButEmpty)
{
    PLACEMENT_NETLIST n(DEV_FAMILY_OBRAN);
    MORV_CHIP_MAP* map = n.chip_map();
    CDB_ATOM_NODE* a = n.lut();
    n.place(a, 1, 1, 0);
    n.place(a, 2, 3, 5);
    EXPECT_EQ(loc_of(map, a), (MORV_LOC{2, 3, 5, -1}));
    std::vector<int> nodes;
    EXPECT_FALSE(map->get_nodes_in_lab(MORV_LOC{1, 1, -1, -1}, &nodes));
    // The caller's vector is not emptied first.
    nodes.push_back(99);
    EXPECT_TRUE(map->get_nodes_in_lab(MORV_LOC{1, 1, -1, -1}, &nodes));
    EXPECT_EQ(nodes, std::vector<int>{99});
    EXPECT_EQ(map->get_number_of_used_labs(), 1);
    EXPECT_EQ(map->get_number_of_placed_nodes(), 1);

    map->clear();
    MORV_LOC after;
    EXPECT_FALSE(map->get_node_location(PLACEMENT_NETLIST::id(a), &after));
    EXPECT_EQ(after, MORV_LOC{});
    EXPECT_EQ(map->get_number_of_used_labs(), 0);
    EXPECT_EQ(internal_error_of([&] { n.place(a, 8, 0); }), "verify_location( location )");
}

// An open sub-location is stored as given: the atom is in its LAB at no
// exact position, so no cell finds it at one and it pairs with none.
TEST_F(MorvChipMapTest, AnOpenSubLocationIsStoredAsGivenAndPairsWithNoCell)
{
    PLACEMENT_NETLIST n(DEV_FAMILY_OBRAN);
    n.run_only(LATE_FSYN_FLOW);
    MORV_CHIP_MAP* map = n.chip_map();
    CDB_ATOM_NODE* fixed = n.lut();
    n.place(fixed, 3, 3, 0);
    std::vector<CDB_ATOM_NODE*> open;
    for (int i = 0; i < 3; ++i) {
        open.push_back(n.lut());
        n.place(open.back(), 3, 3);
    }
    for (CDB_ATOM_NODE* cell : open) EXPECT_EQ(loc_of(map, cell), (MORV_LOC{3, 3, -1, -1}));
    std::vector<int> in_lab;
    EXPECT_TRUE(map->get_nodes_in_lab(MORV_LOC{3, 3, -1, -1}, &in_lab));
    EXPECT_EQ(in_lab.size(), 4u);
    EXPECT_EQ(map->get_num_luts_in_lab(MORV_LOC{3, 3, -1, -1}), 4);
    // Sub-location 0's partner is 2, and nothing is at 1 or 2.
    for (int sub : {1, 2}) EXPECT_EQ(map->get_node_at_location(MORV_LOC{3, 3, sub, -1}), -1) << sub;
    EXPECT_EQ(map->find_ale_partner_node(PLACEMENT_NETLIST::id(fixed)), -1);
    EXPECT_EQ(map->find_ale_partner_node(PLACEMENT_NETLIST::id(open[1])), -1);
    int x = 0, y = 0, sub = 0, index = 0;
    EXPECT_TRUE(map->get_atoms_preferred_location(PLACEMENT_NETLIST::id(open[2]), &x, &y, &sub, &index));
    EXPECT_EQ(std::vector<int>({x, y, sub, index}), std::vector<int>({3, 3, -1, -1}));

    MORV_CHIP_MAP copy(*map);
    MORV_CHIP_MAP rebuilt(map->get_image());
    for (CDB_ATOM_NODE* node : *n.netlist()) {
        EXPECT_EQ(loc_of(&copy, node), loc_of(map, node));
        EXPECT_EQ(loc_of(&rebuilt, node), loc_of(map, node));
    }
}

// Elements per LAB by family once placed; a map made while a flow before
// placement runs holds one per LAB whatever the family.
TEST_F(MorvChipMapTest, LabCapacityIsTheFamilysOnceAtomsArePlacedAndOneBefore)
{
    struct CASE
    {
        int family;
        int flow;
        int capacity;
    };
    const CASE cases[] = {
        {DEV_FAMILY_BRENNOCK, LATE_FSYN_FLOW, 32},
        {DEV_FAMILY_ZEPLA, LATE_FSYN_FLOW, 32},
        {DEV_FAMILY_ZEPLA_II, LATE_FSYN_FLOW, 32},
        {DEV_FAMILY_TEV, LATE_FSYN_FLOW, 32},
        {DEV_FAMILY_MORLIN, LATE_FSYN_FLOW, 1},
        {DEV_FAMILY_KESTLIN, LATE_FSYN_FLOW, 40},
        {DEV_FAMILY_RZK, LATE_FSYN_FLOW, 40},
        {DEV_FAMILY_OBRAN, LATE_FSYN_FLOW, 40},
        {DEV_FAMILY_UVO, LATE_FSYN_FLOW, 10},
        {DEV_FAMILY_OBRAN, -1, 40},
        {DEV_FAMILY_BRENNOCK, SYN_EARLY_FSYN_FLOW, 1},
        {DEV_FAMILY_ZEPLA, FIT_EARLY_FSYN_FLOW, 1},
        {DEV_FAMILY_ZEPLA_II, POST_CLUSTERING_FSYN_FLOW, 1},
        {DEV_FAMILY_TEV, CLUSTER_RETRY_FSYN_FLOW, 1},
        {DEV_FAMILY_MORLIN, SYN_EARLY_FSYN_FLOW, 1},
        {DEV_FAMILY_KESTLIN, FIT_EARLY_FSYN_FLOW, 1},
        {DEV_FAMILY_RZK, POST_CLUSTERING_FSYN_FLOW, 1},
        {DEV_FAMILY_OBRAN, CLUSTER_RETRY_FSYN_FLOW, 1},
        {DEV_FAMILY_UVO, SYN_EARLY_FSYN_FLOW, 1},
    };
    for (const CASE& k : cases) {
        PLACEMENT_NETLIST n(k.family);
        n.run_only(k.flow);
        n.api()->reset_fsyn_chip_map(false);
        EXPECT_EQ(n.chip_map()->get_lab_capacity(), k.capacity) << k.family << " in flow " << k.flow;
    }
}

// A saved state keeps the map as an image; the map rebuilt from it is the
// map a copy would be: the same atoms where they were, and the same answers
// for what is placed next.
TEST_F(MorvChipMapTest, AnImageRebuildsTheMapItsCopyWouldBe)
{
    PLACEMENT_NETLIST n(DEV_FAMILY_UVO);  // 10 elements per LAB
    MORV_CHIP_MAP* map = n.chip_map();
    std::vector<CDB_ATOM_NODE*> cells;
    for (int i = 0; i < 60; ++i) {
        cells.push_back(n.lut());
        if (i % 7 == 3) n.place(cells.back(), 2 + i % 5, 3, 9 - i % 4);
        else n.place(cells.back(), 2 + i % 5, 3 + i % 3);
    }
    for (int i = 0; i < 60; i += 9) map->remove_node(PLACEMENT_NETLIST::id(cells[i]));

    const MORV_CHIP_MAP copy(*map);
    MORV_CHIP_MAP rebuilt(map->get_image());
    EXPECT_EQ(rebuilt.get_lab_capacity(), copy.get_lab_capacity());
    EXPECT_EQ(rebuilt.get_number_of_placed_nodes(), copy.get_number_of_placed_nodes());
    EXPECT_EQ(rebuilt.get_number_of_used_labs(), copy.get_number_of_used_labs());
    for (CDB_ATOM_NODE* node : *n.netlist()) EXPECT_EQ(loc_of(&rebuilt, node), loc_of(map, node));
    for (int x = 2; x < 7; ++x)
        for (int y = 3; y < 6; ++y) {
            std::vector<int> from_copy, from_image;
            copy.get_nodes_in_lab(MORV_LOC{x, y, -1, -1}, &from_copy);
            rebuilt.get_nodes_in_lab(MORV_LOC{x, y, -1, -1}, &from_image);
            EXPECT_EQ(from_image, from_copy) << x << " " << y;
        }
    // What is placed next lands alike in both.
    for (int x = 2; x < 7; ++x) {
        CDB_ATOM_NODE* next = n.lut();
        map->set_node_location(PLACEMENT_NETLIST::id(next), MORV_LOC{x, 4, -1, -1});
        rebuilt.set_node_location(PLACEMENT_NETLIST::id(next), MORV_LOC{x, 4, -1, -1});
        EXPECT_EQ(loc_of(&rebuilt, next), loc_of(map, next)) << x;
    }

    // A map never filled stays without its maps.
    MORV_CHIP_MAP empty(n.api(), 4, 4);
    MORV_CHIP_MAP empty_again(empty.get_image());
    EXPECT_EQ(empty_again.get_number_of_placed_nodes(), 0);
    EXPECT_EQ(empty_again.get_nx(), 4);
}

TEST_F(MorvChipMapTest, NodeAtLocationIsTheLowestIdAtThatSubLocation)
{
    PLACEMENT_NETLIST n(DEV_FAMILY_OBRAN);
    MORV_CHIP_MAP* map = n.chip_map();
    CDB_ATOM_NODE* low = n.lut();
    CDB_ATOM_NODE* high = n.lut();
    n.place(high, 2, 2, 6);
    n.place(low, 2, 2, 6);
    EXPECT_EQ(map->get_node_at_location(MORV_LOC{2, 2, 6, 17}), PLACEMENT_NETLIST::id(low));
    EXPECT_EQ(map->get_node_at_location(MORV_LOC{2, 2, 5, -1}), -1);
    EXPECT_EQ(map->get_node_at_location(MORV_LOC{2, 2, -1, -1}), -1);
    EXPECT_EQ(map->get_node_at_location(MORV_LOC{5, 5, 6, -1}), -1);
}

// Counts of a LAB: LUTs are combinational cells (UVO: every atom); a used
// LAB holds a logic cell or a register.
TEST_F(MorvChipMapTest, LutAndUsedLabCountsIgnoreOtherAtomsAndEmptyLabs)
{
    PLACEMENT_NETLIST n(DEV_FAMILY_OBRAN);
    MORV_CHIP_MAP* map = n.chip_map();
    n.place(n.lut(), 1, 1);
    n.place(n.lut(), 1, 1);
    n.place(n.reg(), 1, 1);
    n.place(n.pin(), 1, 1);
    n.place(n.reg(), 2, 1);
    n.place(n.pin(), 3, 1);
    CDB_ATOM_NODE* moved = n.lut();
    n.place(moved, 4, 1);
    n.place(moved, 1, 1);
    EXPECT_EQ(map->get_num_luts_in_lab(MORV_LOC{1, 1, -1, -1}), 3);
    EXPECT_EQ(map->get_num_luts_in_lab(MORV_LOC{2, 1, -1, -1}), 0);
    EXPECT_EQ(map->get_num_luts_in_lab(MORV_LOC{5, 5, -1, -1}), 0);
    // (1, 1) and the register's LAB; not the pin's, not the emptied one.
    EXPECT_EQ(map->get_number_of_used_labs(), 2);

    PLACEMENT_NETLIST uvo(DEV_FAMILY_UVO);
    uvo.place(uvo.lut(), 1, 1);
    uvo.place(uvo.reg(), 1, 1);
    uvo.place(uvo.pin(), 1, 1);
    EXPECT_EQ(uvo.chip_map()->get_num_luts_in_lab(MORV_LOC{1, 1, -1, -1}), 3);
}

// Pairs of an ALE are (0, 2), (1, 0), (2, 0), (3, 2) within each group of
// four sub-locations.
TEST_F(MorvChipMapTest, AlePartnerAfterPlacementBySubLocation)
{
    PLACEMENT_NETLIST n(DEV_FAMILY_OBRAN);
    n.run_only(LATE_FSYN_FLOW);
    MORV_CHIP_MAP* map = n.chip_map();
    std::vector<CDB_ATOM_NODE*> cells;
    for (int sub = 0; sub < 8; ++sub) {
        cells.push_back(sub % 2 == 0 ? n.lut() : n.reg());
        n.place(cells.back(), 2, 2, sub);
    }
    auto partner = [&](int sub) { return map->find_ale_partner_node(PLACEMENT_NETLIST::id(cells[sub])); };
    EXPECT_EQ(partner(5), PLACEMENT_NETLIST::id(cells[4]));
    EXPECT_EQ(partner(6), PLACEMENT_NETLIST::id(cells[4]));
    EXPECT_EQ(partner(7), PLACEMENT_NETLIST::id(cells[6]));
    EXPECT_EQ(partner(0), PLACEMENT_NETLIST::id(cells[2]));
    EXPECT_EQ(partner(1), PLACEMENT_NETLIST::id(cells[0]));
    map->remove_node(PLACEMENT_NETLIST::id(cells[0]));
    EXPECT_EQ(partner(1), -1);
    // No partner without a logic cell, a location or an exact sub-location.
    CDB_ATOM_NODE* pin = n.pin();
    n.place(pin, 3, 3, 0);
    EXPECT_EQ(map->find_ale_partner_node(PLACEMENT_NETLIST::id(pin)), -1);
    EXPECT_EQ(map->find_ale_partner_node(PLACEMENT_NETLIST::id(n.lut())), -1);
    EXPECT_EQ(partner(0), -1);
}

// Before placement partners follow the carry chain, two by two from its
// head; the chain may run through share ports.
TEST_F(MorvChipMapTest, AlePartnerBeforePlacementAlongTheCarryChain)
{
    PLACEMENT_NETLIST n(DEV_FAMILY_OBRAN);
    n.run_only(SYN_EARLY_FSYN_FLOW);
    MORV_CHIP_MAP* map = n.chip_map();
    std::vector<CDB_ATOM_NODE*> chain;
    for (int i = 0; i < 5; ++i) {
        chain.push_back(n.lut());
        if (i == 3) PLACEMENT_NETLIST::connect(chain[2], DB_SHARE_OUT, chain[3], DB_SHARE_IN);
        else if (i > 0) PLACEMENT_NETLIST::connect(chain[i - 1], DB_CARRY_OUT, chain[i], DB_CARRY_IN);
    }
    auto partner = [&](int i) { return map->find_ale_partner_node(PLACEMENT_NETLIST::id(chain[i])); };
    EXPECT_EQ(partner(0), PLACEMENT_NETLIST::id(chain[1]));
    EXPECT_EQ(partner(1), PLACEMENT_NETLIST::id(chain[0]));
    EXPECT_EQ(partner(2), PLACEMENT_NETLIST::id(chain[3]));
    EXPECT_EQ(partner(3), PLACEMENT_NETLIST::id(chain[2]));
    EXPECT_EQ(partner(4), -1);
    // Cells outside a chain, and registers, have no partner.
    EXPECT_EQ(map->find_ale_partner_node(PLACEMENT_NETLIST::id(n.lut())), -1);
    EXPECT_EQ(map->find_ale_partner_node(PLACEMENT_NETLIST::id(n.reg())), -1);
}

}  // namespace

}  // namespace morv_chip_map_test
