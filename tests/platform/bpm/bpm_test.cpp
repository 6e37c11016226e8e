#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <vector>

#include "bpm/bpm_boundary_port_manager.h"
#include "cdb/cdb_atom_netlist.h"
#include "hdb/hdb_action_pt_instance.h"

namespace bpm_test {

namespace {

// Two LUTs, the first in partition 1, and two ports.
struct BPM_DESIGN
{
    BPM_DESIGN()
    {
        ap.set_name_mgr(&names);
        netlist.set_name_mgr(&names);
        a = cdb_create_atom(CDB_FAMILY_BRK, CDB_KIND_LCELL_COMB, names.find_or_create_path("a", 0));
        b = cdb_create_atom(CDB_FAMILY_BRK, CDB_KIND_LCELL_COMB, names.find_or_create_path("b", 0));
        netlist.add_node(a);
        netlist.add_node(b);
        CDB_ATOM_ASSIGNMENTS in_one;
        in_one.partition_id = 1;
        a->set_assignments(in_one);
        a_out = a->add_output_term(DB_COMB_OUT);
        b_out = b->add_output_term(DB_COMB_OUT);
        b_in = b->add_input_term(DB_DATA_A);
        a_out->insert_fanout(b_in);
        p = bpm.create_port("part1|p");
        q = bpm.create_port("part1|q");
    }
    HDB_NAME_MGR names{"top"};
    HDB_ACTION_PT_INSTANCE ap;
    CDB_ATOM_NETLIST netlist{CDB_FAMILY_BRK};
    BPM_BOUNDARY_PORT_MANAGER bpm{&ap};
    CDB_ATOM_NODE* a = nullptr;
    CDB_ATOM_NODE* b = nullptr;
    CDB_ATOM_OTERM* a_out = nullptr;
    CDB_ATOM_OTERM* b_out = nullptr;
    CDB_ATOM_ITERM* b_in = nullptr;
    int p = -1;
    int q = -1;
};

TEST(BpmTest, PartitionsComeFromAssignmentsUnlessAnAtomWasEntered)
{
    BPM_DESIGN d;
    EXPECT_EQ(d.bpm.get_partition_id(d.a), 1);
    EXPECT_EQ(d.bpm.get_partition_id(d.b), -1);
    EXPECT_EQ(d.bpm.get_partition_id(nullptr), -1);
    d.bpm.add_atom_to_partition(d.b->get_id(), 1);
    d.bpm.add_atom_to_partition(d.a->get_id(), 2);
    EXPECT_EQ(d.bpm.get_partition_id(d.a), 2);
    EXPECT_EQ(d.bpm.get_partition_id(d.b), 1);

    EXPECT_EQ(d.bpm.get_partition_name(1), "partition_1");
    d.bpm.set_partition_name(1, "dsp core");
    EXPECT_EQ(d.bpm.get_partition_name(1), "dsp core");
    EXPECT_EQ(d.bpm.get_partition_name(-1), "");
}

TEST(BpmTest, BindingsAreKeptPerTermAndOnlyForRealPorts)
{
    BPM_DESIGN d;
    ASSERT_GT(d.p, 0);
    ASSERT_NE(d.p, d.q);
    EXPECT_EQ(d.bpm.get_port_name(d.p), "part1|p");
    EXPECT_EQ(d.bpm.get_port_name(-1), "");
    EXPECT_EQ(d.bpm.create_port(""), -1);

    EXPECT_TRUE(d.bpm.bind_port_id(d.a_out, d.p));
    EXPECT_TRUE(d.bpm.assign_port_id(d.a_out, d.q));
    EXPECT_TRUE(d.bpm.assign_port_id(d.b_in, d.p));
    EXPECT_EQ(d.bpm.get_bound_port_id(d.a_out), d.p);
    EXPECT_EQ(d.bpm.get_assigned_port_id(d.a_out), d.q);
    EXPECT_EQ(d.bpm.get_assigned_port_id(d.b_in), d.p);
    EXPECT_EQ(d.bpm.get_bound_port_id(d.b_out), -1);

    // An id that names no port is refused and changes nothing; the root
    // name is the whole design, not a port.
    EXPECT_FALSE(d.bpm.bind_port_id(d.a_out, 9999));
    EXPECT_FALSE(d.bpm.assign_port_id(d.b_in, 0));
    EXPECT_EQ(d.bpm.get_bound_port_id(d.a_out), d.p);
    EXPECT_EQ(d.bpm.get_assigned_port_id(d.b_in), d.p);

    // A term made anew in the same place has the same bindings.
    d.b->delete_input_term(d.b_in);
    CDB_ATOM_ITERM* again = d.b->add_input_term(DB_DATA_A);
    EXPECT_EQ(d.bpm.get_assigned_port_id(again), d.p);

    EXPECT_TRUE(d.bpm.assign_port_id(again, -1));
    EXPECT_EQ(d.bpm.get_assigned_port_id(again), -1);
    EXPECT_EQ(d.bpm.get_binding_count(), 2);
}

TEST(BpmTest, MovingBindingsLeavesTheExistingTermUnbound)
{
    BPM_DESIGN d;
    d.bpm.bind_port_id(d.a_out, d.p);
    d.bpm.assign_port_id(d.b_out, d.q);  // the replacement's own assignment is replaced too
    EXPECT_TRUE(d.bpm.move_bindings(d.a_out, d.b_out));
    EXPECT_EQ(d.bpm.get_bound_port_id(d.a_out), -1);
    EXPECT_EQ(d.bpm.get_bound_port_id(d.b_out), d.p);
    EXPECT_EQ(d.bpm.get_assigned_port_id(d.b_out), -1);
    EXPECT_TRUE(d.bpm.move_bindings(d.b_out, d.b_out));
    EXPECT_EQ(d.bpm.get_bound_port_id(d.b_out), d.p);
}

TEST(BpmTest, IgnoredPartitionHidesItsBindings)
{
    BPM_DESIGN d;
    d.bpm.bind_port_id(d.a_out, d.p);
    d.bpm.assign_port_id(d.b_in, d.q);
    d.bpm.ignore_partition(1);
    EXPECT_EQ(d.bpm.get_bound_port_id(d.a_out), -1);
    EXPECT_EQ(d.bpm.get_assigned_port_id(d.b_in), d.q);
}

TEST(BpmTest, ChecksFindPortsBoundTwiceAndPortsThatAreGone)
{
    BPM_DESIGN d;
    d.bpm.bind_port_id(d.a_out, d.p);
    d.bpm.assign_port_id(d.b_in, d.q);
    EXPECT_TRUE(d.bpm.check());
    EXPECT_TRUE(d.bpm.check_node(d.b));
    EXPECT_FALSE(d.bpm.check_node(nullptr));
    d.bpm.bind_port_id(d.b_out, d.p);
    EXPECT_FALSE(d.bpm.check());
    d.bpm.bind_port_id(d.b_out, -1);
    EXPECT_TRUE(d.bpm.check());

    // After a restore whose names lack the ports, the bindings dangle.
    HDB_NAME_MGR fewer("top");
    HDB_ACTION_PT_INSTANCE restored;
    restored.set_name_mgr(&fewer);
    d.bpm.rebind(&restored);
    EXPECT_FALSE(d.bpm.check());
    EXPECT_FALSE(d.bpm.check_node(d.b));
    EXPECT_FALSE(d.bpm.check_node(d.a));
    d.bpm.rebind(&d.ap);
    EXPECT_TRUE(d.bpm.check());
}

TEST(BpmTest, SavedStateComesBackAndADamagedFileChangesNothing)
{
    BPM_DESIGN d;
    const std::string file = "bpm_state_p0_3";
    d.bpm.bind_port_id(d.a_out, d.p);
    d.bpm.assign_port_id(d.b_in, d.q);
    d.bpm.add_atom_to_partition(d.b->get_id(), 4);
    d.bpm.set_partition_name(4, "two words");
    d.bpm.ignore_partition(7);
    ASSERT_TRUE(d.bpm.save(file));

    d.bpm.bind_port_id(d.a_out, -1);
    d.bpm.assign_port_id(d.b_in, d.p);
    d.bpm.add_atom_to_partition(d.b->get_id(), 5);
    ASSERT_TRUE(d.bpm.load(file));
    EXPECT_EQ(d.bpm.get_bound_port_id(d.a_out), d.p);
    EXPECT_EQ(d.bpm.get_assigned_port_id(d.b_in), d.q);
    EXPECT_EQ(d.bpm.get_partition_id(d.b), 4);
    EXPECT_EQ(d.bpm.get_partition_name(4), "two words");
    EXPECT_TRUE(d.bpm.is_partition_ignored(7));

    std::ofstream(file, std::ios::app) << "bound 1 2\n";
    d.bpm.bind_port_id(d.a_out, d.q);
    EXPECT_FALSE(d.bpm.load(file));
    EXPECT_EQ(d.bpm.get_bound_port_id(d.a_out), d.q);

    EXPECT_TRUE(d.bpm.remove(file));
    EXPECT_FALSE(d.bpm.load(file));
    EXPECT_TRUE(d.bpm.remove(file));
}

// Ports form a forest: a port is listed under one port at most and never
// under itself or its own descendants, so a walk down the lists ends.
TEST(BpmTest, PortsHaveKindsAndListTheirChildPorts)
{
    BPM_DESIGN d;
    const int bus = d.bpm.create_port("part1|bus");
    EXPECT_GT(d.bpm.get_port_count(), std::max({d.p, d.q, bus}));
    EXPECT_EQ(d.bpm.get_port_kind(d.p), 0);
    EXPECT_TRUE(d.bpm.set_port_kind(d.p, 3));
    EXPECT_EQ(d.bpm.get_port_kind(d.p), 3);
    // Ids below the count that create_port did not make are no ports.
    EXPECT_EQ(d.bpm.get_port_kind(0), BPM_BOUNDARY_PORT_MANAGER::NO_KIND);
    EXPECT_EQ(d.bpm.get_port_kind(static_cast<int>(d.a->get_instance_name()->get_id())),
              BPM_BOUNDARY_PORT_MANAGER::NO_KIND);
    EXPECT_FALSE(d.bpm.set_port_kind(-1, 2));

    EXPECT_TRUE(d.bpm.add_child_port(bus, d.q));
    EXPECT_TRUE(d.bpm.add_child_port(bus, d.p));
    EXPECT_EQ(d.bpm.get_child_ports(bus), (std::vector<int>{d.q, d.p}));
    EXPECT_TRUE(d.bpm.get_child_ports(d.p).empty());
    EXPECT_TRUE(d.bpm.get_child_ports(-1).empty());
    EXPECT_FALSE(d.bpm.add_child_port(bus, bus));  // itself
    EXPECT_FALSE(d.bpm.add_child_port(d.p, bus));  // its own parent
    EXPECT_FALSE(d.bpm.add_child_port(bus, d.p));  // listed already
    EXPECT_FALSE(d.bpm.add_child_port(bus, 0));    // no port
    EXPECT_EQ(d.bpm.get_child_ports(bus).size(), 2u);
    EXPECT_TRUE(d.bpm.get_child_ports(d.p).empty());
}

TEST(BpmTest, PartitionCountReachesTheHighestKnownPartition)
{
    BPM_DESIGN d;
    EXPECT_EQ(d.bpm.get_partition_count(), 0);
    d.bpm.add_partition(-1);
    EXPECT_EQ(d.bpm.get_partition_count(), 0);
    d.bpm.add_partition(1);
    EXPECT_EQ(d.bpm.get_partition_count(), 2);
    d.bpm.set_partition_name(3, "three");
    EXPECT_EQ(d.bpm.get_partition_count(), 4);
    d.bpm.add_atom_to_partition(d.b->get_id(), 5);
    EXPECT_EQ(d.bpm.get_partition_count(), 6);
    d.bpm.ignore_partition(6);
    EXPECT_EQ(d.bpm.get_partition_count(), 7);
}

TEST(BpmTest, SavedStateKeepsPortKindsTreesAndPartitions)
{
    BPM_DESIGN d;
    const std::string file = "bpm_state_tree_p0_1";
    const int bus = d.bpm.create_port("part1|bus");
    d.bpm.set_port_kind(d.q, 4);
    d.bpm.add_child_port(bus, d.q);
    d.bpm.add_child_port(bus, d.p);
    d.bpm.add_partition(2);
    ASSERT_TRUE(d.bpm.save(file));

    BPM_BOUNDARY_PORT_MANAGER other(&d.ap);
    ASSERT_TRUE(other.load(file));
    EXPECT_EQ(other.get_port_count(), d.bpm.get_port_count());
    EXPECT_EQ(other.get_port_kind(d.q), 4);
    EXPECT_EQ(other.get_port_kind(d.p), 0);
    EXPECT_EQ(other.get_child_ports(bus), (std::vector<int>{d.q, d.p}));
    EXPECT_EQ(other.get_partition_count(), 3);

    // A saved tree with a loop is damage: nothing changes.
    std::ofstream(file, std::ios::app) << "child " << d.p << " " << bus << "\n";
    BPM_BOUNDARY_PORT_MANAGER loaded(&d.ap);
    const int kept = loaded.create_port("part1|kept");
    EXPECT_FALSE(loaded.load(file));
    EXPECT_EQ(loaded.get_port_kind(kept), 0);
    EXPECT_EQ(loaded.get_port_kind(bus), BPM_BOUNDARY_PORT_MANAGER::NO_KIND);
    EXPECT_EQ(loaded.get_partition_count(), 0);
    EXPECT_TRUE(d.bpm.remove(file));
}

}  // namespace

}  // namespace bpm_test
