// Fanout resplitting on small fixtures: a LUT (or register) with copies made
// by duplicate_oterm, sinks placed around them and scripted timing.

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "abc_equiv.h"
#include "cfg/cfg.h"
#include "dup_test_run.h"
#include "io/blif_reader.h"
#include "io/blif_writer.h"
#include "log_capture.h"
#include "msg/msg.h"
#include "tdc/tdc_accessories.h"

#include "morv/core/family/morv_family_traits.h"
#include "morv/core/morv_env.h"
#include "morv/dup/morv_resplit.h"
#include "morv/netlist/morv_net_util.h"

namespace resplit_test {

namespace {

const uint64_t AND2 = 0x8;

int count_lines(const MORV_LOG_CAPTURE& log, const std::string& text)
{
    const std::vector<std::string> lines = log.lines();
    return static_cast<int>(std::count_if(
        lines.begin(), lines.end(), [&](const std::string& line) { return line.find(text) != std::string::npos; }));
}

int messages_naming(const std::string& text)
{
    int count = 0;
    for (const MSG_POSTED_MESSAGE& m : msg_posted_messages())
        if (m.text.find(text) != std::string::npos) ++count;
    return count;
}

// A cell in extended mode over a, b, e and g (in that order in `ins`) whose
// mask, read as an ordinary LUT's (C in place of G, C unconnected), is a AND
// b: it reads g there instead, and so computes another function. It feeds
// the sink `name`_t, which also reads c and drives an output.
void extended_mode_twin(FIXTURE_NETLIST& fixture, const std::string& name, const std::vector<CDB_ATOM_OTERM*>& ins,
                        CDB_ATOM_OTERM* c)
{
    CDB_ATOM_OTERM* x = fixture.lut(name, {ins[0], ins[1]}, AND2);
    CDB_ATOM_NODE* cell = x->get_my_node();
    ins[2]->insert_fanout(cell->add_input_term(DB_DATA_E));
    ins[3]->insert_fanout(cell->add_input_term(DB_DATA_G));
    cell->set_lutmask(blif_family_lutmask(fixture.family(), 6, (uint64_t{1} << 3) | (uint64_t{1} << 19)));
    fixture.output(name + "_o", fixture.lut(name + "_t", {x, c}, 0x6));
}

// s = a AND b (a register of it with `registers`) feeds t0..t<n-1>; each
// sink also reads c and drives an output. Copies of s come from the facade.
// With `twins`, cells x and y as extended_mode_twin makes them.
struct COPIES
{
    FIXTURE_NETLIST fixture{CDB_FAMILY_BRK};
    std::unique_ptr<DUP_RUN> run;
    MORV_PARAMETER_MAP params;
    int sinks;

    explicit COPIES(int n = 4, bool registers = false, int flow = LATE_FSYN_FLOW, bool chain_sink = false,
                    bool twins = false)
        : sinks(n)
    {
        CDB_ATOM_OTERM* a = fixture.input("a");
        CDB_ATOM_OTERM* b = fixture.input("b");
        CDB_ATOM_OTERM* c = fixture.input("c");
        CDB_ATOM_OTERM* s = fixture.lut("s", {a, b}, AND2);
        if (registers) s = fixture.reg("r", s, fixture.input("clk"));
        for (int i = 0; i < n; ++i) fixture.output(numbered("o", i), fixture.lut(numbered("t", i), {s, c}, 0x6));
        if (twins) {
            const std::vector<CDB_ATOM_OTERM*> ins = {a, b, fixture.input("e"), fixture.input("g")};
            for (const char* name : {"x", "y"}) extended_mode_twin(fixture, name, ins, c);
        }
        if (chain_sink) {
            int k = 0;
            for (CDB_ATOM_OTERM* sum : fixture.adder("add", {s, a}, {c, b})) fixture.output(numbered("sum", k++), sum);
        }
        run = std::make_unique<DUP_RUN>(fixture, flow);
    }
    CDB_ATOM_NODE* source() { return run->find(run->find("r") != nullptr ? "r" : "s"); }
    int port() { return run->find("r") != nullptr ? DB_REG_OUT : DB_COMB_OUT; }
    CDB_ATOM_NODE* copy()
    {
        CDB_ATOM_NODE* node = run->api()->duplicate_oterm(source(), port(), true);
        run->api()->node_added(node, source(), MORV_MODIFICATION_DUPLICATE, port(), true, nullptr);
        return node;
    }
    // In aggressive mode: a copy far from s, read by sinks 0 and 2 placed
    // near it, every sink critical.
    CDB_ATOM_NODE* far_copy_for_aggressive_pass()
    {
        params["AGG"] = "1";
        CDB_ATOM_NODE* node = copy();
        run->place(node, 20, 20);
        run->place_rest(20, 21);
        run->place(source(), 2, 2);
        move(0, node);
        move(2, node);
        all_critical();
        return node;
    }
    CDB_ATOM_NODE* sink_node(int i) { return run->find(numbered("t", i)); }
    CDB_ATOM_ITERM* sink(int i) { return sink_node(i)->get_input_term_by_type(DB_DATA_A); }
    CDB_ATOM_NODE* driver(int i) { return sink(i)->get_source()->get_my_node(); }
    void move(int i, CDB_ATOM_NODE* to)
    {
        CDB_ATOM_ITERM* iterm = sink(i);
        iterm->disconnect_from_source(CDB_NET_ITERM::UNCONNECTED);
        to->get_output_term_by_type(port())->insert_fanout(iterm);
    }
    void all_critical(int slack = -100, double ratio = 0.01)
    {
        for (int i = 0; i < sinks; ++i) run->slack().set(sink(i), slack, ratio);
    }
    std::unique_ptr<MORV_RESPLIT> make(int pass)
    {
        auto resplit = std::make_unique<MORV_RESPLIT>(run->api(), &params);
        int ni = -1, hci = -1;
        resplit->set_default_pass_parameters(pass, ni, hci);
        return resplit;
    }
};

struct CUTOFF_GUARD
{
    ~CUTOFF_GUARD()
    {
        cfg_unset("fsyn_cutoff_resplit_msr");
        cfg_unset("fsyn_resplit_bypass_constraint_check");
    }
};

}  // namespace

// ---------------------------------------------------------------- inter-LAB

TEST(Resplit, EachSinkGoesToItsNearestCopyOnceAndTheFunctionIsKept)
{
    COPIES n;
    CDB_ATOM_NODE* copy = n.copy();
    n.run->place(n.source(), 2, 2);
    n.run->place(copy, 20, 20);
    n.run->place(n.sink_node(0), 2, 3);
    n.run->place(n.sink_node(1), 21, 20);
    n.run->place(n.sink_node(2), 19, 21);
    n.run->place(n.sink_node(3), 3, 2);
    n.run->place_rest(2, 2);
    n.all_critical();
    const std::vector<unsigned> before = n.run->trace(64);
    auto resplit = n.make(0);
    EXPECT_EQ(resplit->do_iter(), 2);
    EXPECT_EQ(n.driver(0), n.source());
    EXPECT_EQ(n.driver(1), copy);
    EXPECT_EQ(n.driver(2), copy);
    EXPECT_EQ(n.driver(3), n.source());
    EXPECT_EQ(resplit->do_iter(), 0);
    EXPECT_EQ(n.run->trace(64), before);
}

TEST(Resplit, GroupsWithoutACriticalSinkAndLaterPassesAreLeftAlone)
{
    COPIES n;
    CDB_ATOM_NODE* copy = n.copy();
    n.run->place(copy, 20, 20);
    n.run->place_rest(2, 2);
    n.run->place(n.sink_node(1), 20, 21);
    n.all_critical(0, 0.01);  // slack equal to the guardband is not critical
    EXPECT_EQ(n.make(0)->do_iter(), 0);
    n.all_critical(-1, 0.01);
    n.run->slack().set_guardband_slack(-5);  // ... nor one above it
    EXPECT_EQ(n.make(0)->do_iter(), 0);
    n.run->slack().set_guardband_slack(0);
    EXPECT_EQ(n.make(2)->do_iter(), 0);
    EXPECT_EQ(n.driver(1), n.source());
    EXPECT_EQ(n.make(0)->do_iter(), 1);
    EXPECT_EQ(n.driver(1), copy);
}

TEST(Resplit, AggressiveModeAndPrePlacementSendEverySinkToTheRepresentative)
{
    {
        COPIES n;
        n.far_copy_for_aggressive_pass();
        auto resplit = n.make(0);
        EXPECT_TRUE(resplit->is_aggressive());
        EXPECT_EQ(resplit->do_iter(), 2);
        for (int i = 0; i < n.sinks; ++i) EXPECT_EQ(n.driver(i), n.source()) << i;
    }
    {
        COPIES n(4, false, POST_CLUSTERING_FSYN_FLOW);
        CDB_ATOM_NODE* copy = n.copy();
        n.move(1, copy);
        n.move(3, copy);
        n.all_critical();
        auto resplit = n.make(0);
        EXPECT_FALSE(resplit->is_aggressive());
        EXPECT_EQ(resplit->do_iter(), 2);
        for (int i = 0; i < n.sinks; ++i) EXPECT_EQ(n.driver(i), n.source()) << i;
    }
}

// A cell in extended mode has a form of its own: the aggressive pass, which
// sends every sink of a group to its representative, never takes the sinks
// of x, whose mask read as an ordinary LUT's is s's function, nor groups x
// with y, which computes the same as x. The design stays as it was.
TEST(Resplit, CellsInExtendedModeAreGroupedWithNothing)
{
    COPIES n(4, false, LATE_FSYN_FLOW, false, true);
    CDB_ATOM_NODE* copy = n.far_copy_for_aggressive_pass();
    MORV_NET_UTIL* util = n.run->api()->get_fsyn_net_util();
    std::vector<CDB_ATOM_ITERM*> twin_sinks;
    for (const char* name : {"x", "y"}) {
        ASSERT_TRUE(util->is_in_extended_mode(n.run->find(name))) << name;
        twin_sinks.push_back(n.run->find(std::string(name) + "_t")->get_input_term_by_type(DB_DATA_A));
        n.run->slack().set(twin_sinks.back(), -100, 0.01);
    }
    MORV_OTERM_SET_SET groups;
    util->find_equivalent_oterms(&groups);
    const MORV_OTERM_SET copies = {n.source()->get_output_term_by_type(DB_COMB_OUT),
                                   copy->get_output_term_by_type(DB_COMB_OUT)};
    EXPECT_EQ(groups.count(copies), 1u);
    for (CDB_ATOM_ITERM* sink : twin_sinks) EXPECT_EQ(groups.count(MORV_OTERM_SET{sink->get_source()}), 1u);

    blif_write_netlist_file(n.run->netlist(), "resplit_twins_before.blif");
    EXPECT_EQ(n.make(0)->do_iter(), 2);
    for (int i = 0; i < n.sinks; ++i) EXPECT_EQ(n.driver(i), n.source()) << i;
    EXPECT_EQ(twin_sinks[0]->get_source()->get_my_node(), n.run->find("x"));
    EXPECT_EQ(twin_sinks[1]->get_source()->get_my_node(), n.run->find("y"));
    blif_write_netlist_file(n.run->netlist(), "resplit_twins_after.blif");
    if (!abc_is_available()) return;
    const ABC_RESULT proved = abc_check_equivalence("resplit_twins_before.blif", "resplit_twins_after.blif", false);
    EXPECT_TRUE(proved.is_equivalent()) << abc_verdict_name(proved.m_verdict) << "\n" << proved.m_output;
}

TEST(Resplit, ChainSinksAreNeverMovedButMakeTheGroupCritical)
{
    COPIES n(2, false, LATE_FSYN_FLOW, true);
    CDB_ATOM_NODE* copy = n.copy();
    n.run->place(n.source(), 2, 2);
    n.run->place(copy, 20, 20);
    n.run->place_rest(20, 21);
    MORV_NET_UTIL* util = n.run->api()->get_fsyn_net_util();
    std::vector<CDB_ATOM_ITERM*> chain;
    CDB_ATOM_OTERM* out = n.source()->get_output_term_by_type(DB_COMB_OUT);
    for (auto it = out->begin_iterm_fanout(); it != out->end_iterm_fanout(); ++it)
        if (util->is_lcell_in_a_chain((*it)->get_my_node())) chain.push_back(*it);
    ASSERT_FALSE(chain.empty());
    // Only the chain sink is critical: the group is, yet only t0, t1 move.
    for (CDB_ATOM_ITERM* iterm : chain) n.run->slack().set(iterm, -100, 0.01);
    EXPECT_EQ(n.make(0)->do_iter(), 2);
    for (CDB_ATOM_ITERM* iterm : chain) EXPECT_EQ(iterm->get_source(), out);
    EXPECT_EQ(n.driver(0), copy);
    EXPECT_EQ(n.driver(1), copy);
}

// A register copy with its own timing assignment is not timed like the
// original: its sinks stay, but it may still take the others' sinks.
TEST(Resplit, RegisterCopyTimedDifferentlyKeepsItsSinksButIsATarget)
{
    CUTOFF_GUARD guard;
    COPIES n(4, true);
    CDB_ATOM_NODE* copy = n.copy();
    tdc_get_accessories()->set_timing_assignment(
        TDC_ACCESSORIES::assignment_target(copy->get_output_term_by_type(DB_REG_OUT)), "MULTICYCLE", "2");
    n.run->place(n.source(), 2, 2);
    n.run->place(copy, 20, 20);
    n.run->place_rest(20, 21);
    n.run->place(n.sink_node(3), 2, 3);
    n.move(3, copy);  // near the original, read from the copy
    n.all_critical();
    EXPECT_EQ(n.make(0)->do_iter(), 3);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(n.driver(i), copy) << i;
    EXPECT_EQ(n.driver(3), copy);
    // In one LAB the copy is never grouped with the original.
    n.run->place(copy, 2, 2);
    for (int i = 0; i < 4; ++i) n.run->place(n.sink_node(i), 2, 2);
    for (int i = 0; i < 3; ++i) n.move(i, n.source());
    EXPECT_EQ(n.make(1)->do_iter(), 0);
    // The bypass switch admits it.
    cfg_set_value("fsyn_resplit_bypass_constraint_check", "on");
    auto bypassed = n.make(1);
    EXPECT_TRUE(bypassed->bypasses_constraint_check());
    EXPECT_GT(bypassed->do_iter(), 0);
    tdc_get_accessories()->clear_timing_assignments();
}

// ---------------------------------------------------------------- cutoff

TEST(Resplit, CutoffDefaultsToFivePercentAndAMalformedValueIsRefused)
{
    CUTOFF_GUARD guard;
    COPIES n;
    CDB_ATOM_NODE* copy = n.copy();
    n.run->place(copy, 20, 20);
    n.run->place_rest(2, 2);
    n.run->place(n.sink_node(1), 20, 21);
    n.all_critical(-100, 0.06);
    double cutoff = 0.0;
    EXPECT_TRUE(n.make(0)->read_cutoff(&cutoff));
    EXPECT_DOUBLE_EQ(cutoff, 0.05);
    EXPECT_EQ(n.make(0)->do_iter(), 0);  // every ratio above 0.05 in the LATE flow
    cfg_set_value("fsyn_cutoff_resplit_msr", "0.07");
    msg_clear_posted_messages();
    for (const char* typo : {"0,1", "5%", "abc"}) {
        cfg_set_value("fsyn_cutoff_resplit_msr", typo);
        auto resplit = n.make(0);
        EXPECT_EQ(resplit->do_iter(), 0) << typo;
        EXPECT_EQ(resplit->do_iter(), 0) << typo;
    }
    EXPECT_EQ(messages_naming("fsyn_cutoff_resplit_msr"), 3);  // once per run
    EXPECT_EQ(n.driver(1), n.source());
    cfg_set_value("fsyn_cutoff_resplit_msr", "0.07");
    EXPECT_EQ(n.make(0)->do_iter(), 1);
    EXPECT_EQ(n.driver(1), copy);
}

TEST(Resplit, CutoffDoesNotApplyBeforePlacement)
{
    COPIES n(4, false, POST_CLUSTERING_FSYN_FLOW);
    CDB_ATOM_NODE* copy = n.copy();
    n.move(2, copy);
    n.all_critical(-100, 0.5);
    EXPECT_EQ(n.make(0)->do_iter(), 1);
    EXPECT_EQ(n.driver(2), n.source());
}

// ---------------------------------------------------------------- intra-LAB

// Hand-computed: S = -100, nI = 3, e = 0: ONE_COST = -100 - 60 - 20 = -180.
// k = 1: cap -160, TWO = 50 + 4 * (5 * (1 - 3) - 10) = -30 -> -160 (best, k 1)
// k = 2: cap -180, TWO = 400 + 4 * (5 * (2 - 3) - 10) = 340 -> -180.
TEST(ResplitCost, SplitPointFromHandComputedLists)
{
    MORV_RESPLIT_SPLIT s = MORV_RESPLIT::compute_split({-100, 50, 400}, -100, 3, false);
    EXPECT_EQ(s.one_cost, -180);
    EXPECT_EQ(s.best_cost, -160);
    EXPECT_EQ(s.split_point, 1);
    // With an external representative (m = 3, nI = 2, e = 1): ONE_COST =
    // -100 - 60 - 20 = -180; k = 1: TWO = -100 + 4 * (5 * (1 - 1 - 3) - 10)
    // = -200 -> -200; k = 2: cap -180, TWO = 400 - 4 * 20 = 320 -> -180.
    s = MORV_RESPLIT::compute_split({-100, -100, 400}, -100, 2, true);
    EXPECT_EQ(s.one_cost, -180);
    EXPECT_EQ(s.best_cost, -180);
    EXPECT_EQ(s.split_point, 0);
    // One entry: no second copy to weigh.
    s = MORV_RESPLIT::compute_split({-50}, -50, 1, false);
    EXPECT_EQ(s.one_cost, -90);
    EXPECT_EQ(s.split_point, 0);
    // No sink at all: S stays at its start.
    s = MORV_RESPLIT::compute_split({}, MORV_RESPLIT::s_NO_SLACK, 0, false);
    EXPECT_EQ(s.one_cost, MORV_RESPLIT::s_NO_SLACK - 20);
}

// Split point 0: every internal sink, and the external ones with their
// representative, go to the second copy.
TEST(ResplitIntra, SplitPointZeroSendsEverythingExternalsTooToTheSecondCopy)
{
    COPIES n;
    CDB_ATOM_NODE* copy = n.copy();
    n.run->place(n.source(), 5, 5);
    n.run->place(copy, 5, 5);
    n.run->place(n.sink_node(0), 5, 5);
    n.run->place(n.sink_node(1), 5, 5);
    n.run->place(n.sink_node(2), 9, 9);
    n.run->place(n.sink_node(3), 5, 9);  // in the LAB's column, not in the LAB
    n.run->place_rest(5, 5);
    // Internal -100, -100; externals -100, 400: k = 1 gives -200 < -180.
    n.run->slack().set(n.sink(0), -100, 0.01);
    n.run->slack().set(n.sink(1), -100, 0.02);
    n.run->slack().set(n.sink(2), -100, 0.03);
    n.run->slack().set(n.sink(3), 400, 0.5);
    const std::vector<unsigned> before = n.run->trace(64);
    auto resplit = n.make(1);
    MORV_LOG_CAPTURE log(100);
    EXPECT_EQ(resplit->do_iter(), 4);
    EXPECT_EQ(count_lines(log, "EXTERNAL_ITERM_TO_MOVE: "), 2);
    EXPECT_EQ(count_lines(log, "Connect external iterm to 2"), 2);
    for (int i = 0; i < n.sinks; ++i) EXPECT_EQ(n.driver(i), copy) << i;
    EXPECT_EQ(n.run->trace(64), before);
}

TEST(ResplitIntra, LeastCriticalSinksGoToTheSecondCopy)
{
    COPIES n;
    CDB_ATOM_NODE* copy = n.copy();
    n.run->place_rest(5, 5);
    n.run->place(copy, 5, 5);
    // Internal only: -100, 50, 400, 500 (ratios in that order). S = -100,
    // ONE_COST = -200; k = 1: cap -160, TWO = 50 + 4 * (5 * -3 - 10) = -50
    // -> -160 wins; k = 2, 3: caps -180, -200.
    const int slacks[] = {-100, 50, 400, 500};
    for (int i = 0; i < 4; ++i) n.run->slack().set(n.sink(i), slacks[i], 0.01 * (i + 1));
    n.move(0, copy);
    EXPECT_EQ(n.make(1)->do_iter(), 4);
    EXPECT_EQ(n.driver(0), n.source());
    for (int i = 1; i < 4; ++i) EXPECT_EQ(n.driver(i), copy) << i;
    // Copies in different LABs form no LAB group.
    n.run->place(copy, 6, 6);
    EXPECT_EQ(n.make(1)->do_iter(), 0);
}

TEST(Resplit, SecondPassSetsEffortToZero)
{
    COPIES n;
    n.copy();
    n.run->place_rest(5, 5);
    auto resplit = n.make(1);
    resplit->do_iter();
    EXPECT_EQ(resplit->get_effort(), 0.0f);
}

TEST(Resplit, FactoryBuildsIt)
{
    COPIES n;
    MORV_OWNER<MORV_ALGORITHM_BASE> made;
    MORV_PARAMETER_MAP none;
    ASSERT_TRUE(morv_make_family_algorithm("MORV_RESPLIT", n.run->api(), &none, &made));
    EXPECT_EQ(made->get_short_name(), "RESPLIT");
    EXPECT_EQ(made->get_description(), "fanout splitting");
    int np = -1, icp = -1, restore = -1;
    double fom = -1.0;
    made->set_default_algorithm_parameters(np, icp, fom, restore);
    EXPECT_EQ(np, 1);
    EXPECT_EQ(icp, 0);
    EXPECT_EQ(restore, 1);
    EXPECT_TRUE(made->xicp_modify_dest_node_on_modify_edge());
}

}  // namespace resplit_test
