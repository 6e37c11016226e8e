// The cluster map: members with their kinds and ALE indices, the sources
// that drive a cluster from outside with their counts, moving a node to a
// second cluster, register packing, copies and printouts.

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "dev/dev_device.h"
#include "fio/fio.h"

#include "log_capture.h"
#include "morv/netlist/morv_cluster_map.h"
#include "placement_fixture.h"

namespace morv_cluster_map_test {

namespace {

class MorvClusterMapTest : public MORV_CLEAN_STATE_TEST
{};

// (node id, port type, count) of every source of a cluster, in order.
std::vector<std::vector<int>> sources_of(const MORV_CLUSTER_MAP& map, int cluster_id)
{
    std::vector<std::vector<int>> result;
    for (MORV_CLUSTER_MAP_CLUSTER* cluster : map.get_clusters())
        if (cluster->get_id() == cluster_id)
            for (const MORV_CLUSTER_MAP_SOURCE* s : cluster->get_sources())
                result.push_back({s->m_node_id, s->m_port_type, s->m_count});
    return result;
}

int id(const CDB_ATOM_NODE* node)
{
    return PLACEMENT_NETLIST::id(node);
}

// x drives a and b; a drives b; b feeds itself.
struct SMALL_CIRCUIT
{
    explicit SMALL_CIRCUIT(PLACEMENT_NETLIST& n) : x(n.lut()), a(n.lut()), b(n.lut())
    {
        PLACEMENT_NETLIST::connect(x, DB_COMB_OUT, a, DB_DATA_A);
        PLACEMENT_NETLIST::connect(x, DB_COMB_OUT, b, DB_DATA_A);
        PLACEMENT_NETLIST::connect(a, DB_COMB_OUT, b, DB_DATA_B);
        PLACEMENT_NETLIST::connect(b, DB_COMB_OUT, b, DB_DATA_C);
    }
    CDB_ATOM_NODE* x;
    CDB_ATOM_NODE* a;
    CDB_ATOM_NODE* b;
};

TEST_F(MorvClusterMapTest, SourcesCountTheInputsTheyDriveAndVanishWhenTheirDriverJoins)
{
    PLACEMENT_NETLIST n(DEV_FAMILY_OBRAN);
    SMALL_CIRCUIT c(n);
    MORV_CLUSTER_MAP& map = *n.api()->get_fsyn_cluster_map();
    map.add_node_to_cluster(c.b, 1, 0);
    // x and a drive b; b's own output feeding b is no source.
    EXPECT_EQ(sources_of(map, 1),
              (std::vector<std::vector<int>>{{id(c.x), DB_COMB_OUT, 1}, {id(c.a), DB_COMB_OUT, 1}}));
    map.add_node_to_cluster(c.a, 1, 0);
    EXPECT_EQ(sources_of(map, 1), (std::vector<std::vector<int>>{{id(c.x), DB_COMB_OUT, 2}}));
    // Adding a member again changes nothing.
    MORV_CLUSTER_MAP_CLUSTER alone(9);
    EXPECT_TRUE(alone.add_node(c.a, 0));
    EXPECT_FALSE(alone.add_node(c.a, 1));
    EXPECT_EQ(alone.get_ale_id(id(c.a)), 0);
    map.add_node_to_cluster(c.a, 1, 3);
    EXPECT_EQ(sources_of(map, 1), (std::vector<std::vector<int>>{{id(c.x), DB_COMB_OUT, 2}}));
    EXPECT_EQ(map.get_ale_id(id(c.a)), 0);
    EXPECT_TRUE(map.is_cluster_source(c.x->get_output_term_by_type(DB_COMB_OUT), 1));
    EXPECT_FALSE(map.is_cluster_source(c.a->get_output_term_by_type(DB_COMB_OUT), 1));
    map.add_node_to_cluster(c.x, 1, 1);
    EXPECT_TRUE(sources_of(map, 1).empty());
    EXPECT_EQ(internal_error_of([&] { map.is_cluster_source(c.x->get_output_term_by_type(DB_COMB_OUT), 2); }),
              "m_clusters.find(cluster_id) != m_clusters.end()");
}

// A node moved to a second cluster leaves the first, whose sources are
// worked out again from the members it keeps.
TEST_F(MorvClusterMapTest, NodeMovedToASecondClusterLeavesTheFirst)
{
    PLACEMENT_NETLIST n(DEV_FAMILY_OBRAN);
    SMALL_CIRCUIT c(n);
    MORV_CLUSTER_MAP& map = *n.api()->get_fsyn_cluster_map();
    map.add_node_to_cluster(c.a, 1, 0);
    map.add_node_to_cluster(c.b, 1, 0);
    map.add_node_to_cluster(c.b, 2, 5);
    EXPECT_EQ(map.get_cluster_node_ids(1), std::vector<int>{id(c.a)});
    EXPECT_EQ(map.get_cluster_node_ids(2), std::vector<int>{id(c.b)});
    EXPECT_EQ(map.get_cluster_id(c.b), 2);
    EXPECT_EQ(map.get_ale_id(id(c.b)), 5);
    EXPECT_EQ(sources_of(map, 1), (std::vector<std::vector<int>>{{id(c.x), DB_COMB_OUT, 1}}));
    EXPECT_EQ(sources_of(map, 2),
              (std::vector<std::vector<int>>{{id(c.x), DB_COMB_OUT, 1}, {id(c.a), DB_COMB_OUT, 1}}));
    EXPECT_FALSE(map.are_in_same_cluster(c.a, c.b));
    for (MORV_CLUSTER_MAP_CLUSTER* cluster : map.get_clusters())
        EXPECT_EQ(cluster->get_number_of_nodes_of_type(MORV_CLUSTER_MAP_NODE_COMB), 1) << cluster->get_id();
    map.add_node_to_cluster(c.a, 2, 0);
    EXPECT_TRUE(map.are_in_same_cluster(c.a, c.b));
    EXPECT_TRUE(map.get_cluster_node_ids(1).empty());
    EXPECT_TRUE(sources_of(map, 1).empty());
}

TEST_F(MorvClusterMapTest, CompanionsByAleIndexAndByRegisterPacking)
{
    PLACEMENT_NETLIST n(DEV_FAMILY_BRENNOCK);  // registers are logic-cell registers
    MORV_CLUSTER_MAP& map = *n.api()->get_fsyn_cluster_map();
    CDB_ATOM_NODE* l1 = n.lut();
    CDB_ATOM_NODE* l2 = n.lut();
    CDB_ATOM_NODE* l3 = n.lut();
    CDB_ATOM_NODE* r1 = n.reg();
    CDB_ATOM_NODE* alone = n.lut();
    for (CDB_ATOM_NODE* node : {l1, l2, l3, r1}) map.add_node_to_cluster(node, 4, 2);
    map.add_node_to_cluster(alone, 4, -1);
    EXPECT_EQ(map.get_companion_node(id(r1), false), id(l1));
    EXPECT_EQ(map.get_companion_node(id(l1), false), id(l2));
    EXPECT_EQ(map.get_companion_node(id(alone), false), -1);
    EXPECT_EQ(map.get_companion_node(id(n.lut()), false), -1);
    for (MORV_CLUSTER_MAP_CLUSTER* cluster : map.get_clusters()) {
        EXPECT_EQ(cluster->get_number_of_nodes_of_type(MORV_CLUSTER_MAP_NODE_COMB), 4);
        EXPECT_EQ(cluster->get_number_of_nodes_of_type(MORV_CLUSTER_MAP_NODE_FF), 1);
    }

    map.set_register_packing(r1, l3);
    EXPECT_EQ(map.get_companion_node(id(l3), true), id(r1));
    EXPECT_EQ(map.get_companion_node(id(r1), true), id(l3));
    EXPECT_EQ(map.get_companion_node(id(l1), true), -1);
    CDB_ATOM_NODE* r2 = n.reg();
    EXPECT_EQ(internal_error_of([&] { map.set_register_packing(l3, r2); }),
              "m_lut_to_ff_register_packing_map.find(lut_id) == m_lut_to_ff_register_packing_map.end()");
    EXPECT_EQ(internal_error_of([&] { map.set_register_packing(l1, r1); }),
              "m_ff_to_lut_register_packing_map.find(ff_id) == m_ff_to_lut_register_packing_map.end()");
    EXPECT_EQ(internal_error_of([&] { map.set_register_packing(l1, l2); }), "node_2->is_lcell_ff()");
}

TEST_F(MorvClusterMapTest, CopyIsIndependentAndClearEmptiesEverything)
{
    PLACEMENT_NETLIST n(DEV_FAMILY_BRENNOCK);
    SMALL_CIRCUIT c(n);
    MORV_CLUSTER_MAP& map = *n.api()->get_fsyn_cluster_map();
    map.add_node_to_cluster(c.b, 1, 0);
    MORV_CLUSTER_MAP copy(map);
    map.add_node_to_cluster(c.a, 1, 0);
    EXPECT_EQ(sources_of(copy, 1),
              (std::vector<std::vector<int>>{{id(c.x), DB_COMB_OUT, 1}, {id(c.a), DB_COMB_OUT, 1}}));
    EXPECT_EQ(copy.get_cluster_id(c.a), -1);
    CDB_ATOM_NODE* ff = n.reg();
    map.set_register_packing(c.a, ff);
    map.clear();
    EXPECT_EQ(map.get_companion_node(id(c.a), true), -1);
    EXPECT_EQ(map.get_companion_node(id(ff), true), -1);
    EXPECT_EQ(map.get_number_of_clusters(), 0);
    EXPECT_EQ(map.get_cluster_id(c.b), -1);
    EXPECT_EQ(copy.get_cluster_id(c.b), 1);
}

// The printout: every cluster with its members, kinds, ALE indices and
// sources.
std::string printout(const MORV_CLUSTER_MAP& map)
{
    map.print("clusters_printout.txt");
    std::ifstream in("clusters_printout.txt");
    std::stringstream text;
    text << in.rdbuf();
    std::remove("clusters_printout.txt");
    return text.str();
}

// A saved state keeps the map as an image; the map rebuilt from it is the
// map a copy would be, and it goes on changing as the copy does.
TEST_F(MorvClusterMapTest, AnImageRebuildsTheMapItsCopyWouldBe)
{
    PLACEMENT_NETLIST n(DEV_FAMILY_BRENNOCK);
    MORV_CLUSTER_MAP& map = *n.api()->get_fsyn_cluster_map();
    std::vector<CDB_ATOM_NODE*> luts;
    for (int i = 0; i < 12; ++i) luts.push_back(n.lut());
    for (int i = 1; i < 12; ++i) PLACEMENT_NETLIST::connect(luts[i - 1], DB_COMB_OUT, luts[i], DB_DATA_A);
    for (int i = 2; i < 12; ++i) PLACEMENT_NETLIST::connect(luts[i - 2], DB_COMB_OUT, luts[i], DB_DATA_B);
    std::vector<CDB_ATOM_NODE*> regs{n.reg(), n.reg()};
    for (int i = 0; i < 12; ++i) map.add_node_to_cluster(luts[i], i % 3, i % 4 == 0 ? -1 : i % 4);
    map.add_node_to_cluster(regs[0], 1, 2);
    map.add_node_to_cluster(regs[1], 2, 0);
    map.add_node_to_cluster(luts[4], 0, 1);  // moved: cluster 1 loses it
    map.set_register_packing(luts[1], regs[0]);

    MORV_CLUSTER_MAP copy(map);
    MORV_CLUSTER_MAP rebuilt(map.get_image());
    EXPECT_EQ(printout(rebuilt), printout(copy));
    for (int cluster = 0; cluster < 3; ++cluster) EXPECT_EQ(sources_of(rebuilt, cluster), sources_of(copy, cluster));
    EXPECT_EQ(rebuilt.get_companion_node(id(regs[0]), true), id(luts[1]));
    EXPECT_EQ(rebuilt.get_companion_node(id(luts[1]), true), id(regs[0]));
    for (CDB_ATOM_NODE* node : luts) {
        EXPECT_EQ(rebuilt.get_cluster_id(node), copy.get_cluster_id(node));
        EXPECT_EQ(rebuilt.get_ale_id(id(node)), copy.get_ale_id(id(node)));
        EXPECT_EQ(rebuilt.get_companion_node(id(node), false), copy.get_companion_node(id(node), false));
    }

    for (MORV_CLUSTER_MAP* m : {&copy, &rebuilt}) {
        m->add_node_to_cluster(luts[7], 2, 3);
        m->add_node_to_cluster(regs[1], 0, 1);
    }
    EXPECT_EQ(printout(rebuilt), printout(copy));
    EXPECT_EQ(MORV_CLUSTER_MAP(MORV_CLUSTER_MAP(n.api()).get_image()).get_number_of_clusters(), 0);
}

// The same lines go to a file or, without a path, to the logger at level 2
// without their leading blank and line feed.
TEST_F(MorvClusterMapTest, PrintWritesTheFileOrTheLogger)
{
    PLACEMENT_NETLIST n(DEV_FAMILY_BRENNOCK);
    SMALL_CIRCUIT c(n);
    CDB_ATOM_NODE* r = n.reg();
    MORV_CLUSTER_MAP& map = *n.api()->get_fsyn_cluster_map();
    map.add_node_to_cluster(c.b, 3, 1);
    map.add_node_to_cluster(r, 3, 1);
    map.print("clusters.txt");
    std::ifstream in("clusters.txt");
    std::stringstream text;
    text << in.rdbuf();
    std::ostringstream expected;
    expected << " ---------------\n - CLUSTER: 3 - (COMB: 1 - FF: 1) \n ---------------\n"
             << " ---------\n - NODES -\n ---------\n"
             << "   " << id(c.b) << " (COMB) (ale_id: 1) \n   " << id(r) << " (FF) (ale_id: 1) \n"
             << " -----------\n - SOURCES -\n -----------\n"
             << "   (" << id(c.x) << " - " << DB_COMB_OUT << ")\n   (" << id(c.a) << " - " << DB_COMB_OUT << ")\n";
    EXPECT_EQ(text.str(), expected.str());
    std::remove("clusters.txt");

    MORV_LOG_CAPTURE log(2);
    map.print(nullptr);
    const std::vector<std::string> lines = log.lines();
    ASSERT_EQ(lines.size(), 13u);
    EXPECT_EQ(lines[1], " - CLUSTER: 3 - (COMB: 1 - FF: 1)");
    EXPECT_EQ(lines[7], "   " + std::to_string(id(r)) + " (FF) (ale_id: 1)");
    EXPECT_THROW(map.print("no_such_folder/clusters.txt"), FIO_WRITE_ERROR);
}

}  // namespace

}  // namespace morv_cluster_map_test
