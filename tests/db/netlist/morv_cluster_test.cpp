#include <gtest/gtest.h>

#include <algorithm>
#include <initializer_list>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "log_capture.h"
#include "cdb/cdb_atom_netlist.h"
#include "hdb/hdb_instance_name.h"
#include "msg/msg.h"
#include "morv/netlist/morv_cluster.h"

namespace morv_cluster_test {

namespace {

// Registers, LUTs and pins of one family, wired by hand.
class CIRCUIT
{
public:
    CIRCUIT() { m_atoms.set_name_mgr(&m_names); }

    CDB_ATOM_NODE* add(int kind)
    {
        std::string name("a");
        name.append(std::to_string(m_count++));
        CDB_ATOM_NODE* node = cdb_create_atom(CDB_FAMILY_BRK, kind, m_names.find_or_create_path(name, 0));
        m_atoms.add_node(node);
        return node;
    }
    CDB_ATOM_OTERM* input_pin() { return add(CDB_KIND_IO)->add_output_term(DB_DATA_OUT); }
    void output_pin(CDB_ATOM_OTERM* driver) { driver->insert_fanout(add(CDB_KIND_IO)->add_input_term(DB_DATAIN)); }
    CDB_ATOM_OTERM* reg(CDB_ATOM_OTERM* d)
    {
        CDB_ATOM_NODE* r = add(CDB_KIND_REGISTER);
        CDB_ATOM_ITERM* din = r->add_input_term(DB_DATAIN);
        if (d) d->insert_fanout(din);
        m_clock->insert_fanout(r->add_input_term(DB_CLOCK));
        return r->add_output_term(DB_REG_OUT);
    }
    CDB_ATOM_OTERM* lut(const std::vector<CDB_ATOM_OTERM*>& ins)
    {
        CDB_ATOM_NODE* l = add(CDB_KIND_LCELL_COMB);
        for (size_t i = 0; i < ins.size(); ++i) ins[i]->insert_fanout(l->add_input_term(DB_DATA_A + int(i)));
        return l->add_output_term(DB_COMB_OUT);
    }

private:
    HDB_NAME_MGR m_names{"top"};
    CDB_ATOM_NETLIST m_atoms{CDB_FAMILY_BRK};
    int m_count = 0;
    CDB_ATOM_OTERM* m_clock = input_pin();
};

CDB_ATOM_NODE* node_of(CDB_ATOM_OTERM* oterm)
{
    return oterm->get_my_node();
}

// Adds the nodes of the given oterms and brings the distances up to date.
void add_all(MORV_CLUSTER& cluster, std::initializer_list<CDB_ATOM_OTERM*> members)
{
    for (CDB_ATOM_OTERM* o : members) cluster.add_node(node_of(o));
    cluster.update_distances();
}

std::vector<CDB_ATOM_OTERM*> walk(MORV_CLUSTER::NODE_ITERATOR begin, MORV_CLUSTER::NODE_ITERATOR end)
{
    std::vector<CDB_ATOM_OTERM*> result;
    for (; begin != end; ++begin) result.push_back(*begin);
    return result;
}

// Every field of every record, to compare two states of a cluster.
std::vector<std::vector<int>> records_of(const MORV_CLUSTER& cluster, const std::vector<CDB_ATOM_OTERM*>& oterms)
{
    std::vector<std::vector<int>> result;
    for (CDB_ATOM_OTERM* o : oterms) {
        if (!cluster.has_node_info(o)) {
            result.push_back({});
            continue;
        }
        const MORV_CLUSTER_NODE_INFO& i = cluster.get_node_info(o);
        result.push_back({i.is_included(), i.is_ff(), i.is_added(), i.get_feeding_ff_count(),
                          i.get_buried_fanout_count(), i.get_total_fanout_count(), i.get_min_output_distance(),
                          i.get_max_output_distance(), i.get_min_input_distance(), i.get_max_input_distance(),
                          i.get_lowest_fanin_output_distance(), i.get_highest_fanout_output_distance()});
    }
    return result;
}

// in -> r0 -> r1 -> ... -> r(n-1) -> out, every register in the cluster.
struct PIPELINE
{
    CIRCUIT circuit;
    CDB_ATOM_OTERM* in = circuit.input_pin();
    std::vector<CDB_ATOM_OTERM*> regs;
    MORV_CLUSTER cluster;

    explicit PIPELINE(int n)
    {
        CDB_ATOM_OTERM* previous = in;
        for (int i = 0; i < n; ++i) regs.push_back(previous = circuit.reg(previous));
        circuit.output_pin(previous);
        for (CDB_ATOM_OTERM* r : regs) cluster.add_node(node_of(r));
        cluster.update_distances();
    }
};

TEST(MorvCluster, RegisterPipelineDistancesStopGrowingBackwardsAtSixteen)
{
    PIPELINE p(20);
    const MORV_CLUSTER& c = p.cluster;
    for (int i = 0; i < 20; ++i) {
        const MORV_CLUSTER_NODE_INFO& info = c.get_node_info(p.regs[i]);
        // Backwards from the last register: expanded only below level 16.
        const int expected_output = 19 - i <= 16 ? 19 - i : -1;
        EXPECT_EQ(info.get_min_output_distance(), expected_output) << i;
        EXPECT_EQ(info.get_max_output_distance(), expected_output) << i;
        // Forwards from the input pin: each register one level further.
        EXPECT_EQ(info.get_min_input_distance(), i) << i;
        EXPECT_EQ(info.get_max_input_distance(), i) << i;
        EXPECT_TRUE(info.is_ff());
    }
    const MORV_CLUSTER_NODE_INFO& in = c.get_node_info(p.in);
    EXPECT_FALSE(in.is_included());
    EXPECT_EQ(in.get_buried_fanout_count(), 1);
    EXPECT_EQ(in.get_feeding_ff_count(), 1);
    EXPECT_EQ(in.get_min_input_distance(), 0);
    // The registers pass their levels on: r5 feeds r6, one level closer to the output.
    EXPECT_EQ(c.get_node_info(p.regs[6]).get_lowest_fanin_output_distance(), 14);
    EXPECT_EQ(c.get_node_info(p.regs[5]).get_highest_fanout_output_distance(), 14);
    EXPECT_EQ(c.get_node_info(p.regs[19]).get_highest_fanout_output_distance(), -1);

    EXPECT_EQ(walk(c.begin_included(), c.end_included()), p.regs);
    EXPECT_EQ(walk(c.begin_inputs(), c.end_inputs()).front(), p.in);
    EXPECT_FALSE(c.is_input_fed_output_register(p.regs[19]));  // fed by r18, inside
    EXPECT_FALSE(c.is_input_fed_output_register(p.regs[0]));   // fed from outside, but no output
    EXPECT_FALSE(c.check_input_distances());                   // r0 feeds r1 and sits at input distance 0
}

TEST(MorvCluster, RegisterLoopIsFollowedSixteenLevelsAndNoFurther)
{
    // r0.d <- r1; lut(r0, in) -> r1.d; r1 -> out: a two-register state loop.
    CIRCUIT circuit;
    CDB_ATOM_OTERM* in = circuit.input_pin();
    CDB_ATOM_OTERM* r0 = circuit.reg(nullptr);
    CDB_ATOM_OTERM* lut = circuit.lut({r0, in});
    CDB_ATOM_OTERM* r1 = circuit.reg(lut);
    r1->insert_fanout(node_of(r0)->get_input_term_by_type(DB_DATAIN));
    circuit.output_pin(r1);
    MORV_CLUSTER cluster;
    add_all(cluster, {r0, lut, r1});

    const MORV_CLUSTER_NODE_INFO& i0 = cluster.get_node_info(r0);
    const MORV_CLUSTER_NODE_INFO& il = cluster.get_node_info(lut);
    const MORV_CLUSTER_NODE_INFO& i1 = cluster.get_node_info(r1);
    EXPECT_EQ(i1.get_min_output_distance(), 0);
    EXPECT_EQ(i1.get_max_output_distance(), 16);  // even levels up to the cap
    EXPECT_EQ(il.get_min_output_distance(), 1);
    EXPECT_EQ(il.get_max_output_distance(), 15);
    EXPECT_EQ(i0.get_max_output_distance(), 15);
    // Forwards: the LUT and r1 reach 16 and are not visited again; r0,
    // fed by r1 at 16, takes one level more and stops there.
    EXPECT_EQ(il.get_min_input_distance(), 0);
    EXPECT_EQ(il.get_max_input_distance(), 16);
    EXPECT_EQ(i1.get_max_input_distance(), 16);
    EXPECT_EQ(i0.get_min_input_distance(), 1);
    EXPECT_EQ(i0.get_max_input_distance(), 17);

    // r1 is state in both boundary modes (fed back through the registers);
    // the loop has outputs r1 only and inputs the pin and its states.
    EXPECT_TRUE(i1.is_state(true));
    EXPECT_TRUE(i1.is_state(false));
    EXPECT_EQ(walk(cluster.begin_outputs(), cluster.end_outputs()), (std::vector<CDB_ATOM_OTERM*>{r0, r1}));
    cluster.set_boundary_mode(false);
    std::vector<CDB_ATOM_OTERM*> inputs = walk(cluster.begin_inputs(), cluster.end_inputs());
    EXPECT_EQ(inputs.front(), in);
    EXPECT_EQ(inputs.back(), r1);
}

TEST(MorvCluster, AddingTwiceCountsInputsOnceAndRemovingDropsOrphanedRecords)
{
    CIRCUIT circuit;
    CDB_ATOM_OTERM* a = circuit.input_pin();
    CDB_ATOM_OTERM* b = circuit.input_pin();
    CDB_ATOM_OTERM* first = circuit.lut({a, b});
    CDB_ATOM_OTERM* second = circuit.lut({first, a});
    circuit.output_pin(second);
    MORV_CLUSTER cluster;

    cluster.add_node(node_of(first));
    cluster.add_node(node_of(first));
    EXPECT_TRUE(cluster.is_dirty());
    EXPECT_EQ(cluster.get_node_info(a).get_buried_fanout_count(), 1);
    EXPECT_EQ(cluster.get_node_info(a).get_total_fanout_count(), 2);
    EXPECT_EQ(cluster.get_node_info(a).get_feeding_ff_count(), 0);
    cluster.add_node(node_of(second));
    EXPECT_EQ(cluster.get_node_info(a).get_buried_fanout_count(), 2);
    EXPECT_EQ(cluster.get_node_info(first).get_buried_fanout_count(), 1);
    EXPECT_EQ(cluster.get_added_oterms(), (MORV_OTERM_SET{first, second}));

    // first still feeds second: its record stays, no longer included.
    cluster.update_distances();
    cluster.remove_node(node_of(first));
    EXPECT_TRUE(cluster.is_dirty());
    ASSERT_TRUE(cluster.has_node_info(first));
    EXPECT_FALSE(cluster.get_node_info(first).is_included());
    EXPECT_FALSE(cluster.get_node_info(first).is_added());
    EXPECT_EQ(cluster.get_node_info(a).get_buried_fanout_count(), 1);
    EXPECT_FALSE(cluster.has_node_info(b));                                           // its last cluster sink left
    EXPECT_THROW(cluster.remove_node(node_of(first)), MSG_INTERNAL_ERROR_EXCEPTION);  // not a member

    cluster.remove_node(node_of(second));
    EXPECT_EQ(cluster.get_num_known_oterms(), 0);
    cluster.remove_node(node_of(second));  // unknown node: nothing happens
    EXPECT_THROW(cluster.add_node(nullptr), MSG_INTERNAL_ERROR_EXCEPTION);
    EXPECT_THROW(cluster.get_node_info(a), MSG_INTERNAL_ERROR_EXCEPTION);
}

// A node whose outputs feed nothing is a member like any other: its inputs
// are counted once and a remove takes them back.
TEST(MorvCluster, NodeWithoutFanoutIsAddedOnceAndRemovedCompletely)
{
    CIRCUIT circuit;
    CDB_ATOM_OTERM* a = circuit.input_pin();
    CDB_ATOM_OTERM* dead_lut = circuit.lut({a});
    CDB_ATOM_OTERM* dead_reg = circuit.reg(a);
    MORV_CLUSTER cluster;
    for (int i = 0; i < 3; ++i) cluster.add_node(node_of(dead_lut));
    EXPECT_EQ(cluster.get_node_info(a).get_buried_fanout_count(), 1);
    cluster.add_node(node_of(dead_reg));
    cluster.add_node(node_of(dead_reg));
    EXPECT_EQ(cluster.get_node_info(a).get_buried_fanout_count(), 2);
    EXPECT_EQ(cluster.get_node_info(a).get_feeding_ff_count(), 1);
    EXPECT_EQ(cluster.get_added_oterms(), (MORV_OTERM_SET{dead_lut, dead_reg}));
    cluster.update_distances();
    // Neither feeds anything: no output, no state; the pin is the one input.
    EXPECT_EQ(walk(cluster.begin_outputs(), cluster.end_outputs()), std::vector<CDB_ATOM_OTERM*>{});
    EXPECT_EQ(walk(cluster.begin_inputs(), cluster.end_inputs()), std::vector<CDB_ATOM_OTERM*>{a});
    EXPECT_EQ(cluster.get_node_info(a).get_highest_fanout_output_distance(), -1);

    cluster.remove_node(node_of(dead_lut));
    EXPECT_EQ(cluster.get_node_info(a).get_buried_fanout_count(), 1);
    cluster.remove_node(node_of(dead_reg));
    EXPECT_FALSE(cluster.has_node_info(a));  // the pin is no longer a cluster input
    EXPECT_EQ(cluster.get_num_known_oterms(), 0);

    // The membership of such nodes survives a pop to a taken stack.
    cluster.add_node(node_of(dead_lut));
    const MORV_OTERM_SET taken = cluster.get_added_oterms();
    cluster.add_node(node_of(dead_reg));
    cluster.pop_to_stack(taken);
    EXPECT_EQ(cluster.get_node_info(a).get_buried_fanout_count(), 1);
    EXPECT_EQ(cluster.get_node_info(a).get_feeding_ff_count(), 0);
}

// Counts of every record as they follow from a membership alone.
std::map<CDB_ATOM_OTERM*, std::vector<int>> recount(const std::set<CDB_ATOM_NODE*>& members)
{
    std::map<CDB_ATOM_OTERM*, std::vector<int>> expected;  // included, is_ff, added, feeding_ff, buried
    auto data_oterms = [](CDB_ATOM_NODE* node) {
        std::vector<CDB_ATOM_OTERM*> result;
        for (auto it = node->begin_oterm(); it != node->end_oterm(); ++it) {
            const int usage = (*it)->get_usage();
            if (node->is_register() ? usage == DB_REG_OUT : usage == DB_COMB_OUT) result.push_back(*it);
        }
        return result;
    };
    for (CDB_ATOM_NODE* node : members) {
        bool first = true;
        for (CDB_ATOM_OTERM* o : data_oterms(node)) {
            std::vector<int>& r = expected[o];
            r.resize(5);
            r[0] = 1;
            r[1] = node->is_register();
            r[2] = first;
            first = false;
        }
    }
    for (CDB_ATOM_NODE* node : members)
        for (auto it = node->begin_iterm(); it != node->end_iterm(); ++it) {
            CDB_ATOM_OTERM* source = (*it)->get_source();
            if (!source || (node->is_register() && (*it)->get_any_usage_as() != DB_DATAIN)) continue;
            std::vector<int>& r = expected[source];
            r.resize(5);
            if (!r[0]) r[1] = source->get_my_node()->is_register();
            r[3] += node->is_register();
            r[4] += 1;
        }
    return expected;
}

TEST(MorvCluster, RandomAddsAndRemovesMatchARecountOfTheMembership)
{
    // Pins, registers and single-output LUTs wired at random, some feeding nothing.
    CIRCUIT circuit;
    std::mt19937 random(11);
    std::vector<CDB_ATOM_OTERM*> sources{circuit.input_pin(), circuit.input_pin(), circuit.input_pin()};
    std::vector<CDB_ATOM_NODE*> candidates;
    for (int i = 0; i < 40; ++i) {
        CDB_ATOM_OTERM* pick = sources[random() % sources.size()];
        CDB_ATOM_OTERM* made =
            random() % 3 == 0 ? circuit.reg(pick) : circuit.lut({pick, sources[random() % sources.size()]});
        sources.push_back(made);
        candidates.push_back(node_of(made));
    }
    for (int i = 0; i < 5; ++i) circuit.output_pin(sources[sources.size() - 1 - size_t(i)]);

    MORV_CLUSTER cluster;
    std::set<CDB_ATOM_NODE*> members;
    for (int step = 0; step < 3000; ++step) {
        CDB_ATOM_NODE* node = candidates[random() % candidates.size()];
        if (members.count(node) && random() % 4 != 0) {
            cluster.remove_node(node);
            members.erase(node);
        } else {
            cluster.add_node(node);  // sometimes a second time
            members.insert(node);
        }
        const auto expected = recount(members);
        ASSERT_EQ(cluster.get_num_known_oterms(), int(expected.size())) << step;
        for (const auto& [oterm, r] : expected) {
            ASSERT_TRUE(cluster.has_node_info(oterm)) << step;
            const MORV_CLUSTER_NODE_INFO& info = cluster.get_node_info(oterm);
            ASSERT_EQ((std::vector<int>{info.is_included(), info.is_ff(), info.is_added(), info.get_feeding_ff_count(),
                                        info.get_buried_fanout_count()}),
                      r)
                << step;
        }
        if (step % 100 != 0) continue;
        // Distances match those of a cluster built afresh from the membership.
        cluster.update_distances();
        MORV_CLUSTER fresh;
        for (CDB_ATOM_NODE* member : members) fresh.add_node(member);
        fresh.update_distances();
        std::vector<CDB_ATOM_OTERM*> known;
        for (const auto& entry : expected) known.push_back(entry.first);
        ASSERT_EQ(records_of(cluster, known), records_of(fresh, known)) << step;
    }
}

// Each member's first data output with fanout stands for it in the membership.
TEST(MorvCluster, AMemberWithTwoDataOutputsIsTakenOnce)
{
    CIRCUIT circuit;
    CDB_ATOM_OTERM* a = circuit.input_pin();
    CDB_ATOM_NODE* cell = circuit.add(CDB_KIND_LCELL_COMB);
    a->insert_fanout(cell->add_input_term(DB_DATA_A));
    CDB_ATOM_OTERM* comb = cell->add_output_term(DB_COMB_OUT);
    CDB_ATOM_OTERM* sum = cell->add_output_term(DB_SUM_OUT);
    circuit.output_pin(comb);
    circuit.output_pin(sum);
    MORV_CLUSTER cluster;
    cluster.add_node(cell);
    EXPECT_TRUE(cluster.get_node_info(sum).is_included());
    EXPECT_FALSE(cluster.get_node_info(sum).is_added());
    EXPECT_EQ(cluster.get_added_oterms(), MORV_OTERM_SET{comb});
}

TEST(MorvCluster, OnlyDataTermsCount)
{
    CIRCUIT circuit;
    CDB_ATOM_OTERM* a = circuit.input_pin();
    // A cell whose first output is not a data output: its later comb-out still counts.
    CDB_ATOM_NODE* cell = circuit.add(CDB_KIND_LCELL_COMB);
    a->insert_fanout(cell->add_input_term(DB_DATA_A));
    CDB_ATOM_OTERM* chain = cell->add_output_term(DB_CHAIN_OUT_0);
    CDB_ATOM_OTERM* comb = cell->add_output_term(DB_COMB_OUT);
    circuit.output_pin(chain);
    CDB_ATOM_OTERM* r = circuit.reg(comb);
    CDB_ATOM_OTERM* enable = circuit.input_pin();
    enable->insert_fanout(node_of(r)->add_input_term(DB_CLOCK_ENABLE));
    circuit.output_pin(r);

    MORV_CLUSTER cluster;
    cluster.add_node(cell);
    cluster.add_node(node_of(r));
    EXPECT_FALSE(cluster.has_node_info(chain));
    EXPECT_TRUE(cluster.get_node_info(comb).is_added());
    EXPECT_FALSE(cluster.has_node_info(enable));  // a control port, not a data input
    EXPECT_EQ(cluster.get_node_info(comb).get_feeding_ff_count(), 1);
    EXPECT_TRUE(MORV_CLUSTER::is_register_control_port(node_of(r), DB_CLOCK_ENABLE));
    EXPECT_FALSE(MORV_CLUSTER::is_register_control_port(node_of(r), DB_DATAIN));
    EXPECT_FALSE(MORV_CLUSTER::is_register_control_port(cell, DB_CLOCK));

    // Iterators refuse stale distances.
    try {
        cluster.begin_outputs();
        ADD_FAILURE() << "a dirty cluster must not be iterated";
    } catch (const MSG_INTERNAL_ERROR_EXCEPTION& e) {
        EXPECT_NE(std::string(e.what()).find("!m_dirty"), std::string::npos);
    }
    EXPECT_THROW(cluster.check_input_distances(), MSG_INTERNAL_ERROR_EXCEPTION);
    cluster.update_distances();
    EXPECT_EQ(walk(cluster.begin_outputs(), cluster.end_outputs()), std::vector<CDB_ATOM_OTERM*>{r});
    EXPECT_FALSE(cluster.is_input_fed_output_register(r));  // fed by comb, inside
    cluster.remove_node(cell);
    cluster.update_distances();
    EXPECT_TRUE(cluster.is_input_fed_output_register(r));
    EXPECT_TRUE(cluster.check_input_distances());
    EXPECT_THROW(cluster.is_input_fed_output_register(a), MSG_INTERNAL_ERROR_EXCEPTION);
}

TEST(MorvCluster, StateTestsOnACombinationalFeedbackThroughARegister)
{
    // c = f(r), r.d <- c, c -> out: no input reaches the loop.
    CIRCUIT circuit;
    CDB_ATOM_OTERM* r = circuit.reg(nullptr);
    CDB_ATOM_OTERM* c = circuit.lut({r});
    c->insert_fanout(node_of(r)->get_input_term_by_type(DB_DATAIN));
    circuit.output_pin(c);
    MORV_CLUSTER cluster;
    add_all(cluster, {r, c});
    const MORV_CLUSTER_NODE_INFO& ci = cluster.get_node_info(c);
    const MORV_CLUSTER_NODE_INFO& ri = cluster.get_node_info(r);
    EXPECT_EQ(ci.get_max_input_distance(), -1);
    EXPECT_EQ(ci.get_highest_fanout_output_distance(), 1);  // through r
    EXPECT_EQ(ci.get_min_output_distance(), 0);
    // c feeds back through a register deeper than it leaves: state in both modes.
    EXPECT_TRUE(ci.is_state(true));
    EXPECT_TRUE(ci.is_state(false));
    // r feeds only c at its own level and no register.
    EXPECT_EQ(ri.get_highest_fanout_output_distance(), ri.get_min_output_distance());
    EXPECT_TRUE(ri.is_state(true));
    EXPECT_FALSE(ri.is_state(false));
    EXPECT_TRUE(cluster.check_input_distances());
}

TEST(MorvCluster, StateTestsOfLogicBetweenRegisters)
{
    // in -> c -> r -> out: c feeds a register from input distance 0.
    CIRCUIT first;
    CDB_ATOM_OTERM* in = first.input_pin();
    CDB_ATOM_OTERM* c = first.lut({in});
    CDB_ATOM_OTERM* r = first.reg(c);
    first.output_pin(r);
    MORV_CLUSTER fed;
    add_all(fed, {c, r});
    EXPECT_EQ(fed.get_node_info(c).get_max_input_distance(), 0);
    EXPECT_FALSE(fed.get_node_info(c).is_state(false));
    EXPECT_FALSE(fed.get_node_info(r).is_state(true));  // at the output itself

    // r0 (no data input) -> c -> r1 -> out: nothing reaches c from an input.
    CIRCUIT second;
    CDB_ATOM_OTERM* r0 = second.reg(nullptr);
    CDB_ATOM_OTERM* c2 = second.lut({r0});
    CDB_ATOM_OTERM* r1 = second.reg(c2);
    second.output_pin(r1);
    MORV_CLUSTER unfed;
    add_all(unfed, {r0, c2, r1});
    EXPECT_EQ(unfed.get_node_info(c2).get_max_input_distance(), -1);
    EXPECT_TRUE(unfed.get_node_info(c2).is_state(false));
    EXPECT_EQ(unfed.get_node_info(r0).get_max_output_distance(), 1);
    EXPECT_TRUE(unfed.get_node_info(r0).is_state(true));  // one register behind the output
}

TEST(MorvCluster, CombinationalCyclesEndTheWalks)
{
    CIRCUIT circuit;
    CDB_ATOM_OTERM* in = circuit.input_pin();
    CDB_ATOM_OTERM* a = circuit.lut({in});
    CDB_ATOM_OTERM* b = circuit.lut({a});
    b->insert_fanout(node_of(a)->add_input_term(DB_DATA_B));
    circuit.output_pin(b);
    MORV_CLUSTER cluster;
    add_all(cluster, {a, b});
    EXPECT_EQ(cluster.get_node_info(a).get_max_output_distance(), 0);
    EXPECT_EQ(cluster.get_node_info(a).get_max_input_distance(), 0);
    EXPECT_EQ(cluster.get_node_info(b).get_max_input_distance(), 0);
}

TEST(MorvCluster, InputDistanceCheckFindsLogicFedFromInsideAndOutside)
{
    // in -> r0; c = f(r0, in) -> r1: c sits at input distance 0 and 1.
    CIRCUIT circuit;
    CDB_ATOM_OTERM* in = circuit.input_pin();
    CDB_ATOM_OTERM* r0 = circuit.reg(in);
    CDB_ATOM_OTERM* c = circuit.lut({r0, in});
    CDB_ATOM_OTERM* r1 = circuit.reg(c);
    circuit.output_pin(r1);
    MORV_CLUSTER cluster;
    add_all(cluster, {r0, c, r1});
    EXPECT_EQ(cluster.get_node_info(c).get_min_input_distance(), 0);
    EXPECT_EQ(cluster.get_node_info(c).get_max_input_distance(), 1);
    EXPECT_FALSE(cluster.check_input_distances());
    cluster.remove_node(node_of(r0));  // c now fed from outside only
    cluster.update_distances();
    EXPECT_TRUE(cluster.check_input_distances());
}

TEST(MorvCluster, PopToStackRestoresTheMembershipAndEveryRecord)
{
    MORV_LOG_CAPTURE log(100);
    PIPELINE p(6);
    std::vector<CDB_ATOM_OTERM*> all = p.regs;
    all.push_back(p.in);
    const MORV_OTERM_SET taken = p.cluster.get_added_oterms();
    EXPECT_EQ(taken.size(), 6u);
    const auto before = records_of(p.cluster, all);

    p.cluster.pop_to_stack(taken);  // nothing to do
    p.cluster.remove_node(node_of(p.regs[0]));
    p.cluster.remove_node(node_of(p.regs[3]));
    p.cluster.update_distances();
    EXPECT_NE(records_of(p.cluster, all), before);
    p.cluster.pop_to_stack(taken);
    EXPECT_FALSE(p.cluster.is_dirty());
    EXPECT_EQ(p.cluster.get_added_oterms(), taken);
    EXPECT_EQ(records_of(p.cluster, all), before);

    std::vector<std::string> pops;
    for (const std::string& line : log.lines())
        if (line.rfind("Pop-to-stack", 0) == 0) pops.push_back(line);
    EXPECT_EQ(pops, (std::vector<std::string>{"Pop-to-stack: 0 nodes removed, 0 nodes added",
                                              "Pop-to-stack: 0 nodes removed, 2 nodes added"}));

    // Shrinking back: the later registers are removed first, in order.
    MORV_OTERM_SET smaller{p.regs[0], p.regs[1]};
    p.cluster.pop_to_stack(smaller);
    EXPECT_EQ(p.cluster.get_added_oterms(), smaller);
    EXPECT_EQ(log.lines().back(), "Pop-to-stack: 4 nodes removed, 0 nodes added");
}

// The records with the registration read through the public tests.
std::vector<std::vector<int>> registered_records_of(const MORV_CLUSTER& cluster,
                                                    const std::vector<CDB_ATOM_OTERM*>& oterms)
{
    std::vector<std::vector<int>> result = records_of(cluster, oterms);
    for (size_t k = 0; k < oterms.size(); ++k) {
        if (!cluster.has_node_info(oterms[k])) continue;
        const MORV_CLUSTER_NODE_INFO& i = cluster.get_node_info(oterms[k]);
        result[k].insert(result[k].end(),
                         {i.is_legal_input(), i.is_legal_output(), i.is_feedback_register(), i.is_registered_state()});
    }
    result.push_back({cluster.has_combinational_loop()});
    return result;
}

TEST(MorvCluster, TriedRemovalIsUndoneToEveryRecordOrKeptLikeARemoval)
{
    PIPELINE p(6);
    // A loop r4 -> x -> r4 makes r4 a state bit of the cluster.
    CDB_ATOM_OTERM* x = p.circuit.lut({p.regs[4]});
    x->insert_fanout(node_of(p.regs[4])->add_input_term(DB_DATA_B));
    p.cluster.add_node(node_of(x));
    p.cluster.reset_topology();
    std::vector<CDB_ATOM_OTERM*> all = p.regs;
    all.push_back(p.in);
    all.push_back(x);
    const auto before = registered_records_of(p.cluster, all);
    ASSERT_TRUE(p.cluster.get_node_info(p.regs[4]).is_feedback_register());

    bool asked = false;
    EXPECT_FALSE(p.cluster.try_remove_node(node_of(p.regs[3]), [&] {
        asked = true;
        // The cluster as it would be: r2 now leaves it, r4 loses its loop.
        EXPECT_TRUE(p.cluster.get_node_info(p.regs[2]).is_true_output());
        EXPECT_FALSE(p.cluster.get_node_info(p.regs[3]).is_included());
        return false;
    }));
    EXPECT_TRUE(asked);
    EXPECT_FALSE(p.cluster.is_dirty());
    EXPECT_EQ(registered_records_of(p.cluster, all), before);
    // Without r0 the input's record goes; it comes back with its distances.
    EXPECT_FALSE(p.cluster.try_remove_node(node_of(p.regs[0]), [&] {
        EXPECT_FALSE(p.cluster.has_node_info(p.in));
        return false;
    }));
    EXPECT_EQ(registered_records_of(p.cluster, all), before);

    // A node outside is no member to remove: keep is never asked.
    EXPECT_FALSE(p.cluster.try_remove_node(node_of(p.in), [] {
        ADD_FAILURE() << "asked for a non-member";
        return true;
    }));

    EXPECT_TRUE(p.cluster.try_remove_node(node_of(x), [] { return true; }));
    EXPECT_FALSE(p.cluster.is_dirty());
    const auto kept = registered_records_of(p.cluster, all);
    p.cluster.add_node(node_of(x));
    p.cluster.update_distances();
    EXPECT_EQ(registered_records_of(p.cluster, all), before);
    p.cluster.remove_node(node_of(x));
    p.cluster.update_distances();
    EXPECT_EQ(registered_records_of(p.cluster, all), kept);
}

std::vector<CDB_ATOM_OTERM*> true_outputs(const MORV_CLUSTER& cluster)
{
    std::vector<CDB_ATOM_OTERM*> result;
    for (CDB_ATOM_OTERM* o : walk(cluster.begin_included(), cluster.end_included()))
        if (cluster.get_node_info(o).is_true_output()) result.push_back(o);
    return result;
}

TEST(MorvCluster, ResetTopologyTakesNetlistEditsIntoAccount)
{
    PIPELINE p(3);
    EXPECT_EQ(true_outputs(p.cluster), std::vector<CDB_ATOM_OTERM*>{p.regs[2]});
    p.circuit.output_pin(p.regs[0]);                                            // r0 now also leaves the cluster
    EXPECT_EQ(p.cluster.get_node_info(p.regs[0]).get_total_fanout_count(), 1);  // records are stale
    p.cluster.reset_topology();
    EXPECT_FALSE(p.cluster.is_dirty());
    EXPECT_EQ(p.cluster.get_node_info(p.regs[0]).get_total_fanout_count(), 2);
    EXPECT_EQ(p.cluster.get_node_info(p.regs[0]).get_min_output_distance(), 0);
    EXPECT_EQ(true_outputs(p.cluster), (std::vector<CDB_ATOM_OTERM*>{p.regs[0], p.regs[2]}));
    EXPECT_TRUE(p.cluster.is_input_fed_output_register(p.regs[0]));

    // An input rewired to another pin: the old pin's record goes.
    CDB_ATOM_OTERM* other_in = p.circuit.input_pin();
    other_in->insert_fanout(node_of(p.regs[0])->get_input_term_by_type(DB_DATAIN));
    p.cluster.reset_topology();
    EXPECT_FALSE(p.cluster.has_node_info(p.in));
    EXPECT_EQ(p.cluster.get_num_known_oterms(), 4);

    p.cluster.edit_node_info(p.regs[1]);  // a writable record: distances stale again
    EXPECT_TRUE(p.cluster.is_dirty());
}

TEST(MorvCluster, PrintShowsEveryRecord)
{
    MORV_LOG_CAPTURE log(100);
    PIPELINE p(1);
    p.cluster.print();
    std::vector<std::string> lines = log.lines();
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines.back(), "2 node(s) printed.");
    int records = 0;
    for (const std::string& line : lines) {
        if (line.rfind("Node ID ", 0) == 0) {
            ++records;
            EXPECT_NE(line.find("|a"), std::string::npos) << line;  // the hierarchy path
        }
        if (line == "     0 is_output(0),    0 is_output(1),    1 is_input(0),    1 is_input(1)") ++records;
    }
    EXPECT_EQ(records, 3);  // two nodes, and the input pin's tests
    EXPECT_NE(std::find(lines.begin(), lines.end(), "     1 total_fanout_count"), lines.end());
}

}  // namespace

}  // namespace morv_cluster_test
