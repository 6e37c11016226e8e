// The search half of logic-to-RAM mapping: register types and which nodes
// may join a cluster, the legaliser and its caches, and cluster growth from
// every seed of the S-box designs and the bundled designs, each legal
// cluster checked by a register walk of its own.

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "cdb/cdb_native_format.h"
#include "log_capture.h"
#include "io/blif_reader.h"

#include "morv/core/morv_api.h"
#include "ram_cluster_run.h"
#include "rammap_run.h"
#include "scripted_slack.h"

namespace ram_cluster_test {

namespace {

// ---------------------------------------------------------------- helpers

CDB_ATOM_ITERM* control(CDB_ATOM_OTERM* reg, int port)
{
    CDB_ATOM_NODE* node = reg->get_my_node();
    CDB_ATOM_ITERM* term = node->get_input_term_by_type(port);
    return term ? term : node->add_input_term(port);
}

// A manager on a run, working on the type of the register named.
struct CLUSTER_RUN
{
    CLUSTER_RUN(int family, const RAMMAP_BUILD& build, const char* type_of = "r0", double threshold = 0.0)
        : run(family, build), slack(run.api()->get_fsyn_timing()), manager(threshold)
    {
        slack.set_default(1000, 1.0);
        manager.m_register_type = MORV_REGISTER_TYPE(run.node(type_of));
        manager.m_max_bits = 16384;
    }
    MORV_CLUSTER_RAM_LEGALIZER* legalizer() { return manager.get_ram_legalizer(); }
    CDB_ATOM_OTERM* out(const char* name)
    {
        CDB_ATOM_NODE* node = run.node(name);
        CDB_ATOM_OTERM* reg = node->get_output_term_by_type(DB_REG_OUT);
        return reg ? reg : node->get_output_term_by_type(DB_COMB_OUT);
    }
    MORV_CLUSTER* cluster_of(const std::vector<const char*>& names)
    {
        MORV_CLUSTER* cluster = manager.create_cluster(run.node(names.front()));
        for (size_t i = 1; i < names.size(); ++i) cluster->add_node(run.node(names[i]));
        cluster->update_distances();
        return cluster;
    }
    std::set<std::string> names(MORV_CLUSTER* cluster)
    {
        std::set<std::string> found;
        for (CDB_ATOM_NODE* node : cluster_nodes(cluster)) found.insert(node->get_instance_name()->get_short_hpath());
        return found;
    }

    RAMMAP_RUN run;
    SCRIPTED_SLACK_SOURCE slack;
    MORV_RAM_MAP_AREA_CLUSTER_MANAGER manager;
};

struct CLUSTER_DELETER
{
    MORV_RAM_MAP_AREA_CLUSTER_MANAGER* manager;
    void operator()(MORV_CLUSTER* cluster) const { manager->delete_cluster(cluster); }
};
using CLUSTER_PTR = std::unique_ptr<MORV_CLUSTER, CLUSTER_DELETER>;

CLUSTER_PTR own(CLUSTER_RUN& c, MORV_CLUSTER* cluster)
{
    return CLUSTER_PTR(cluster, CLUSTER_DELETER{&c.manager});
}

// ---------------------------------------------------------------- framework

TEST(RamClusterFramework, SignalOrderTellsConstantsApart)
{
    RAMMAP_RUN run(CDB_FAMILY_BRK, [](FIXTURE_NETLIST& f) {
        CDB_ATOM_OTERM* clk = f.input("clk");
        CDB_ATOM_OTERM* d = f.input("d");
        CDB_ATOM_OTERM* r = f.input("rst");
        CDB_ATOM_OTERM* plain = f.reg("plain", d, clk);
        CDB_ATOM_OTERM* gnd = f.reg("gnd_clear", d, clk);
        FIXTURE_NETLIST::tie(control(gnd, DB_CLEAR), false);
        CDB_ATOM_OTERM* vcc = f.reg("vcc_clear", d, clk);
        FIXTURE_NETLIST::tie(control(vcc, DB_CLEAR), true);
        // An asynchronous load of 0 from rst, and the same as a clear by
        // the inverted rst.
        CDB_ATOM_OTERM* load = f.reg("load", d, clk);
        r->insert_fanout(control(load, DB_ASYNCH_LOAD));
        CDB_ATOM_OTERM* cleared = f.reg("cleared", d, clk);
        CDB_ATOM_ITERM* clear = control(cleared, DB_CLEAR);
        r->insert_fanout(clear);
        clear->set_invert();
        for (auto* q : {plain, gnd, vcc, load, cleared})
            f.output(q->get_my_node()->get_instance_name()->get_short_hpath() + "_o", q);
    });
    const MORV_REGISTER_TYPE plain(run.node("plain")), gnd(run.node("gnd_clear")), vcc(run.node("vcc_clear"));
    EXPECT_NE(gnd, vcc);
    EXPECT_TRUE(gnd.m_clear < vcc.m_clear);  // GND first
    EXPECT_FALSE(vcc.m_clear < gnd.m_clear);
    EXPECT_EQ(plain.m_clear.m_oterm, nullptr);
    // Two undriven signals with the same constant are equal either way.
    EXPECT_FALSE(plain.m_clear < MORV_SIGNAL());
    EXPECT_FALSE(MORV_SIGNAL() < plain.m_clear);
    // A constant comes before any driven signal.
    const MORV_REGISTER_TYPE load(run.node("load")), cleared(run.node("cleared"));
    EXPECT_TRUE(plain.m_clear < cleared.m_clear);
    EXPECT_FALSE(cleared.m_clear < plain.m_clear);
    EXPECT_EQ(load, cleared);
    EXPECT_NE(load.m_clear.m_oterm, nullptr);
    EXPECT_EQ(load.m_aload.m_oterm, nullptr);
    EXPECT_TRUE(load.m_aload.m_inverted);  // gnd
    // Without any secondary port: clock, clear and enable vcc, aload gnd.
    EXPECT_EQ(plain.m_enable.m_oterm, nullptr);
    EXPECT_FALSE(plain.m_enable.m_inverted);
    EXPECT_TRUE(plain.m_aload.m_inverted);
}

TEST(RamClusterFramework, DrivenSignalsOrderByDriverGlobalAndInversion)
{
    RAMMAP_RUN run(CDB_FAMILY_BRK, [](FIXTURE_NETLIST& f) {
        CDB_ATOM_OTERM* a = f.input("a");
        CDB_ATOM_OTERM* b = f.input("b");
        f.output("oa", a);
        f.output("ob", b);
    });
    MORV_SIGNAL early, late;
    early.m_oterm = run.node("a")->get_output_term(0);
    late.m_oterm = run.node("b")->get_output_term(0);
    EXPECT_TRUE(late < early);  // the later driver comes first
    MORV_SIGNAL global = early;
    global.m_global_type = 3;
    EXPECT_TRUE(global < early);
    MORV_SIGNAL negative = early;
    negative.m_global_type = 0x1f;  // -1
    EXPECT_TRUE(early < negative);
    MORV_SIGNAL inverted = early;
    inverted.m_inverted = true;
    EXPECT_TRUE(inverted < early);
    EXPECT_FALSE(early < inverted);
}

// r0 -> lut l -> r1; r1 also feeds a second LUT m that reads the fast
// input x; a register g whose clear is tied to GND.
RAMMAP_BUILD pack_design()
{
    return [](FIXTURE_NETLIST& f) {
        CDB_ATOM_OTERM* clk = f.input("clk");
        CDB_ATOM_OTERM* r0 = f.reg("r0", f.input("d"), clk);
        CDB_ATOM_OTERM* l = f.lut("l", {r0, f.input("x")}, 0x6);
        CDB_ATOM_OTERM* r1 = f.reg("r1", l, clk);
        CDB_ATOM_OTERM* m = f.lut("m", {r1, r0}, 0x8);
        CDB_ATOM_OTERM* g = f.reg("g", m, clk);
        FIXTURE_NETLIST::tie(control(g, DB_CLEAR), false);
        f.output("o", g);
        f.output("p", f.reg("r2", m, clk));
    };
}

TEST(RamClusterFramework, CanPackRefusesMappedForeignAndCriticalNodes)
{
    CLUSTER_RUN c(CDB_FAMILY_BRK, pack_design(), "r0", 0.125);
    CDB_ATOM_NODE* l = c.run.node("l");
    EXPECT_TRUE(c.manager.can_pack(l));
    // A mapped node is refused although its cached answer is true.
    c.manager.m_mapped_nodes.insert(l);
    EXPECT_FALSE(c.manager.can_pack(l));
    c.manager.m_mapped_nodes.clear();
    EXPECT_TRUE(c.manager.can_pack(l));
    // A register whose clear is tied to GND is not of r0's type: refused,
    // and accepted once it is the current type (the refusal was not cached).
    EXPECT_FALSE(c.manager.can_pack(c.run.node("g")));
    c.manager.m_register_type = MORV_REGISTER_TYPE(c.run.node("g"));
    EXPECT_TRUE(c.manager.can_pack(c.run.node("g")));
    EXPECT_FALSE(c.manager.can_pack(c.run.node("r0")));
    c.manager.m_register_type = MORV_REGISTER_TYPE(c.run.node("r0"));
    // m is critical only through the connection it drives into g.
    CDB_ATOM_ITERM* into_g = c.run.node("g")->get_input_term_by_type(DB_DATAIN);
    c.slack.set_slack_ratio(into_g, 0.1);
    EXPECT_FALSE(c.manager.can_pack(c.run.node("m")));
    // A ratio equal to the threshold is not critical.
    CDB_ATOM_ITERM* into_r1 = c.run.node("r1")->get_input_term_by_type(DB_DATAIN);
    c.slack.set_slack_ratio(into_r1, 0.125);
    EXPECT_TRUE(c.manager.can_pack(c.run.node("r1")));
    // An input below it is, and an output pin never packs.
    c.slack.set_slack_ratio(c.run.node("r2")->get_input_term_by_type(DB_DATAIN), 0.124);
    EXPECT_FALSE(c.manager.can_pack(c.run.node("r2")));
    EXPECT_FALSE(c.manager.can_pack(c.run.node(std::string("o") + BLIF_OUTPUT_PIN_SUFFIX)));
}

TEST(RamClusterFramework, ThresholdZeroFindsNothingCriticalAndDowncastsAnswer)
{
    CLUSTER_RUN c(CDB_FAMILY_OBRAN, pack_design(), "r0", 0.0);
    c.slack.set_default(0, 0.0);
    EXPECT_TRUE(c.manager.can_pack(c.run.node("m")));
    EXPECT_EQ(c.manager.as_area_cluster_manager(), &c.manager);
    EXPECT_EQ(c.manager.get_cost_function()->as_cost_by_size(), c.manager.get_cost_by_size());
    EXPECT_EQ(c.manager.get_legalizer()->as_ram_legalizer(), c.legalizer());
    auto cluster = own(c, c.manager.create_cluster(c.run.node("l")));
    EXPECT_EQ(c.manager.get_cluster_count(), 1);
    EXPECT_EQ(cluster_nodes(cluster.get()).size(), 1u);
}

// ---------------------------------------------------------------- legaliser

// Registers a0..a2 feed LUTs into registers q0, q1; p and p2 are primary
// inputs into the LUT t whose output feeds register q2; u reads a0 and
// drives an output pin only.
RAMMAP_BUILD legal_design()
{
    return [](FIXTURE_NETLIST& f) {
        CDB_ATOM_OTERM* clk = f.input("clk");
        std::vector<CDB_ATOM_OTERM*> a;
        for (int i = 0; i < 3; ++i) a.push_back(f.reg(indexed("a", i), f.input(indexed("i", i)), clk));
        CDB_ATOM_OTERM* x = f.lut("x", {a[0], a[1]}, 0x6);
        CDB_ATOM_OTERM* y = f.lut("y", {x, a[2]}, 0x8);
        f.output("o0", f.reg("q0", x, clk));
        f.output("o1", f.reg("q1", y, clk));
        CDB_ATOM_OTERM* t = f.lut("t", {f.input("p"), f.input("p2")}, 0x6);
        f.output("o2", f.reg("q2", t, clk));
        f.output("o3", f.lut("u", {a[0]}, 0x1));
    };
}

TEST(RamClusterLegalizer, InputsFromRegistersOfTheTypeAreLegal)
{
    CLUSTER_RUN c(CDB_FAMILY_BRK, legal_design(), "a0");
    auto cluster = own(c, c.cluster_of({"x", "y"}));
    for (const char* a : {"a0", "a1", "a2"}) EXPECT_TRUE(cluster->get_node_info(c.out(a)).is_legal_input()) << a;
    // Legal on inputs, and on outputs too: both LUT outputs end at registers
    // outside, so the address registers are the one register stage.
    EXPECT_TRUE(c.legalizer()->is_legal(cluster.get()));
    // With the output registers inside, paths cross two registers.
    cluster->add_node(c.run.node("q0"));
    EXPECT_FALSE(c.legalizer()->is_legal(cluster.get()));
    EXPECT_EQ(REGISTER_WALK(cluster_nodes(cluster.get())).check(), "true input of x");
}

// A state machine: s = reg(f(i, s)) with the decoded output g(s) on a pin,
// and a second register t behind s.
RAMMAP_BUILD state_machine()
{
    return [](FIXTURE_NETLIST& f) {
        CDB_ATOM_OTERM* clk = f.input("clk");
        CDB_ATOM_OTERM* i = f.input("i");
        CDB_ATOM_OTERM* next = f.lut("f", {i, i}, 0x6);
        CDB_ATOM_OTERM* s = f.reg("s", next, clk);
        CDB_ATOM_ITERM* back = next->get_my_node()->get_input_term_by_type(DB_DATA_B);
        back->disconnect_from_source(CDB_NET_ITERM::UNCONNECTED);
        s->insert_fanout(back);
        f.output("o", f.lut("g", {s}, 0x1));
        f.output("ot", f.reg("t", s, clk));
    };
}

TEST(RamClusterLegalizer, StateBitsCutTheirLoop)
{
    CLUSTER_RUN c(CDB_FAMILY_OBRAN, state_machine(), "s");
    auto fsm = own(c, c.cluster_of({"f", "s", "g"}));
    EXPECT_TRUE(fsm->get_node_info(c.out("s")).is_feedback_register());
    EXPECT_TRUE(fsm->get_node_info(c.out("s")).is_registered_state());
    EXPECT_TRUE(c.legalizer()->is_legal(fsm.get()));
    EXPECT_EQ(REGISTER_WALK(cluster_nodes(fsm.get())).check(), "");
    // t behind the state bit is a second register on the way out.
    fsm->add_node(c.run.node("t"));
    EXPECT_FALSE(c.legalizer()->is_legal(fsm.get()));
    EXPECT_NE(REGISTER_WALK(cluster_nodes(fsm.get())).check(), "");
}

TEST(RamClusterLegalizer, InputWithoutRegisterIsForcedThroughItsOutputs)
{
    CLUSTER_RUN c(CDB_FAMILY_BRK, legal_design(), "a0");
    c.legalizer()->pre_cache(c.manager.m_register_type, &c.run.netlist());
    auto cluster = own(c, c.cluster_of({"t"}));
    CDB_ATOM_OTERM* p = c.run.node("p")->get_output_term(0);
    EXPECT_FALSE(cluster->get_node_info(p).is_legal_input());
    EXPECT_FALSE(c.legalizer()->is_input_legalizable(p));  // an input pin packs nowhere
    ASSERT_TRUE(c.legalizer()->legalize(cluster.get()));
    EXPECT_EQ(c.names(cluster.get()), (std::set<std::string>{"t", "q2"}));
    EXPECT_TRUE(cluster->get_node_info(p).is_legal_input());
    EXPECT_EQ(REGISTER_WALK(cluster_nodes(cluster.get())).check(), "");
}

// One LUT reading n registers of one type through a tree of two-input
// LUTs; its output leaves through an output pin.
RAMMAP_BUILD wide_cone(int n)
{
    return [n](FIXTURE_NETLIST& f) {
        CDB_ATOM_OTERM* clk = f.input("clk");
        std::vector<CDB_ATOM_OTERM*> level;
        for (int i = 0; i < n; ++i) level.push_back(f.reg(indexed("r", i), f.input(indexed("i", i)), clk));
        for (int depth = 0; level.size() > 1; ++depth) {
            std::vector<CDB_ATOM_OTERM*> next;
            for (size_t i = 0; i + 1 < level.size(); i += 2)
                next.push_back(f.lut(indexed("t", depth * 1000 + static_cast<int>(i)), {level[i], level[i + 1]}, 0x6));
            if (level.size() % 2) next.push_back(level.back());
            level.swap(next);
        }
        f.output("o", level.front());
    };
}

TEST(RamClusterLegalizer, TwentyInputsAreGivenUp)
{
    CLUSTER_RUN c(CDB_FAMILY_BRK, wide_cone(20), "r0");
    CDB_ATOM_NODE* root = c.run.output_term("o")->get_source()->get_my_node();
    auto cluster = own(c, c.manager.create_cluster(root));
    // The output pin cannot join: the output is registered ahead, which
    // would take all 20 registers as inputs.
    EXPECT_FALSE(c.legalizer()->legalize(cluster.get()));
    EXPECT_FALSE(c.legalizer()->is_legal(cluster.get()));

    CLUSTER_RUN small(CDB_FAMILY_BRK, wide_cone(8), "r0");
    CDB_ATOM_NODE* small_root = small.run.output_term("o")->get_source()->get_my_node();
    auto legal = own(small, small.manager.create_cluster(small_root));
    EXPECT_TRUE(small.legalizer()->legalize(legal.get()));
    MORV_CLUSTER_COST_BY_SIZE cost;
    EXPECT_EQ(cost.compute_size(legal.get())->m_inputs, 8);
}

TEST(RamClusterLegalizer, TwentyInputsNeverFitWhateverTheBitLimit)
{
    for (int n : {19, 20}) {
        CLUSTER_RUN c(CDB_FAMILY_BRK, wide_cone(n), "r0");
        c.manager.m_max_bits = 1 << 30;
        CDB_ATOM_NODE* root = c.run.output_term("o")->get_source()->get_my_node();
        auto cluster = own(c, c.manager.create_cluster(root));
        for (CDB_ATOM_NODE* node : c.run.netlist())
            if (c.run.util()->is_lut(node)) cluster->add_node(node);
        MORV_CLUSTER_COST_BY_SIZE cost;
        const auto token = cost.compute_size(cluster.get());
        EXPECT_EQ(token->m_inputs, n);
        EXPECT_EQ(morv_fits_max_bits(&c.manager, cluster.get()), n < 20) << n;
        EXPECT_EQ(token->get_bits() <= (int64_t{1} << 30), n < 20) << n;
    }
}

// k LUTs read the root of a tree over 13 registers, each into an output
// pin: their outputs can only be registered behind, through all 13.
RAMMAP_BUILD readers_of_wide_cone(int k)
{
    return [k](FIXTURE_NETLIST& f) {
        wide_cone(13)(f);
        CDB_ATOM_NODE* pin = nullptr;
        for (CDB_ATOM_NODE* node : f.netlist())
            if (node->get_instance_name()->get_short_hpath() == std::string("o") + BLIF_OUTPUT_PIN_SUFFIX) pin = node;
        CDB_ATOM_OTERM* root = pin->get_input_term_by_type(DB_DATAIN)->get_source();
        for (int i = 0; i < k; ++i) f.output(indexed("p", i), f.lut(indexed("k", i), {root}, 0x1));
    };
}

TEST(RamClusterLegalizer, ForcedInputsGiveUpAt40961Bits)
{
    // Two outputs over 1 + 13 inputs: 32768 bits, below the limit; the
    // registered cluster ends with 13 inputs and 16384 bits.
    CLUSTER_RUN two(CDB_FAMILY_BRK, readers_of_wide_cone(2), "r0");
    auto fits = own(two, two.cluster_of({"k0", "k1"}));
    ASSERT_TRUE(two.legalizer()->legalize(fits.get()));
    MORV_CLUSTER_COST_BY_SIZE cost;
    EXPECT_EQ(cost.compute_size(fits.get())->m_inputs, 13);
    EXPECT_EQ(REGISTER_WALK(cluster_nodes(fits.get())).check(), "");
    // Three outputs: 49152 bits, given up before anything is added.
    CLUSTER_RUN three(CDB_FAMILY_BRK, readers_of_wide_cone(3), "r0");
    auto too_big = own(three, three.cluster_of({"k0", "k1", "k2"}));
    MORV_LOG_CAPTURE log(100);
    EXPECT_FALSE(three.legalizer()->legalize(too_big.get()));
    const std::vector<std::string> lines = log.lines();
    EXPECT_NE(std::find(lines.begin(), lines.end(), "Won't fit into 4 KALBs, setting to illegal"), lines.end());
    EXPECT_EQ(cluster_nodes(too_big.get()).size(), 3u);
}

// The mirror of wide_cone on the output side: the LUT s reads one register
// and reaches n registers through a LUT each.
RAMMAP_BUILD wide_fanout(int n)
{
    return [n](FIXTURE_NETLIST& f) {
        CDB_ATOM_OTERM* clk = f.input("clk");
        CDB_ATOM_OTERM* s = f.lut("s", {f.reg("r0", f.input("i"), clk)}, 0x1);
        for (int k = 0; k < n; ++k)
            f.output(indexed("o", k), f.reg(indexed("q", k), f.lut(indexed("f", k), {s}, 0x1), clk));
    };
}

TEST(RamClusterLegalizer, PreCacheRefusesWideSignaturesOnly)
{
    for (int n : {12, 13}) {
        CLUSTER_RUN fanout(CDB_FAMILY_BRK, wide_fanout(n), "r0");
        CDB_ATOM_OTERM* s = fanout.out("s");
        fanout.legalizer()->pre_cache(fanout.manager.m_register_type, &fanout.run.netlist());
        EXPECT_EQ(fanout.legalizer()->is_output_legalizable(s), n <= 12) << n;
        EXPECT_TRUE(fanout.legalizer()->is_output_legalizable(fanout.out("f0"))) << n;
        EXPECT_TRUE(fanout.legalizer()->is_input_legalizable(s)) << n;
        EXPECT_EQ(std::popcount(fanout.legalizer()->fanout_register_signature(s->get_my_node())), n);

        CLUSTER_RUN c(CDB_FAMILY_BRK, wide_cone(n), "r0");
        CDB_ATOM_OTERM* root = c.run.output_term("o")->get_source();
        EXPECT_EQ(std::popcount(c.legalizer()->register_signature(root->get_my_node())), n);
        c.legalizer()->pre_cache(c.manager.m_register_type, &c.run.netlist());
        EXPECT_EQ(c.legalizer()->is_input_legalizable(root), n <= 12) << n;
        // The first LUT level reads two registers: allowed either way.
        CDB_ATOM_OTERM* first = c.run.node("t0")->get_output_term_by_type(DB_COMB_OUT);
        EXPECT_TRUE(c.legalizer()->is_input_legalizable(first));
        // The output pin refuses every output boundary on the way.
        EXPECT_FALSE(c.legalizer()->is_output_legalizable(root));
    }
}

TEST(RamClusterLegalizer, ForeignRegistersAndInvalidateKeepRefusals)
{
    CLUSTER_RUN c(CDB_FAMILY_BRK, pack_design(), "r0");
    c.legalizer()->pre_cache(c.manager.m_register_type, &c.run.netlist());
    CDB_ATOM_OTERM* g = c.out("g");
    EXPECT_FALSE(c.legalizer()->is_input_legalizable(g));
    EXPECT_FALSE(c.legalizer()->is_output_legalizable(g));
    EXPECT_FALSE(c.legalizer()->is_input_legalizable(c.out("l")));  // reads an input pin
    CDB_ATOM_OTERM* m = c.out("m");
    EXPECT_TRUE(c.legalizer()->is_input_legalizable(m));
    // Once r0 and r1 are a RAM, m reads mapped registers: refused. The
    // refusal of g stays, although nothing about g changed.
    auto cluster = own(c, c.cluster_of({"r0", "l", "r1"}));
    for (CDB_ATOM_NODE* node : cluster_nodes(cluster.get())) c.manager.m_mapped_nodes.insert(node);
    c.legalizer()->invalidate(cluster.get());
    EXPECT_FALSE(c.legalizer()->is_input_legalizable(m));
    EXPECT_FALSE(c.legalizer()->is_input_legalizable(g));
    EXPECT_FALSE(c.legalizer()->is_output_legalizable(g));
    // Unmapping does not bring a refusal back.
    c.manager.m_mapped_nodes.clear();
    c.legalizer()->invalidate(cluster.get());
    EXPECT_FALSE(c.legalizer()->is_input_legalizable(m));
}

// Two LUTs feeding each other, read by a register; and a cone of `depth`
// levels where each level's two LUTs read both LUTs of the level below.
RAMMAP_BUILD loop_and_cone(int depth)
{
    return [depth](FIXTURE_NETLIST& f) {
        CDB_ATOM_OTERM* clk = f.input("clk");
        CDB_ATOM_OTERM* r0 = f.reg("r0", f.input("d"), clk);
        CDB_ATOM_OTERM* a = f.lut("la", {r0, r0}, 0x6);
        CDB_ATOM_OTERM* b = f.lut("lb", {a, r0}, 0x6);
        // close the loop: la reads lb on its second input
        a->get_my_node()->get_input_term_by_type(DB_DATA_B)->disconnect_from_source(CDB_NET_ITERM::UNCONNECTED);
        b->insert_fanout(a->get_my_node()->get_input_term_by_type(DB_DATA_B));
        f.output("ol", f.reg("q", b, clk));
        CDB_ATOM_OTERM* x = f.reg("x0", f.input("e"), clk);
        CDB_ATOM_OTERM* y = f.reg("y0", f.input("g"), clk);
        for (int i = 0; i < depth; ++i) {
            CDB_ATOM_OTERM* nx = f.lut(indexed("cx", i), {x, y}, 0x6);
            CDB_ATOM_OTERM* ny = f.lut(indexed("cy", i), {x, y}, 0x9);
            x = nx;
            y = ny;
        }
        f.output("oc", f.reg("z", f.lut("top", {x, y}, 0x6), clk));
    };
}

TEST(RamClusterLegalizer, LoopAndDeepReconvergenceFinishQuickly)
{
    const auto start = std::chrono::steady_clock::now();
    CLUSTER_RUN c(CDB_FAMILY_BRK, loop_and_cone(400), "r0");
    MORV_CLUSTER_RAM_LEGALIZER* legalizer = c.legalizer();
    legalizer->reset();
    EXPECT_FALSE(legalizer->can_legalize_input(nullptr, c.out("la"), false));
    EXPECT_FALSE(legalizer->is_input_legalizable(c.out("lb")));
    EXPECT_EQ(legalizer->register_signature(c.run.node("la")), ~uint64_t{0});
    legalizer->reset();
    EXPECT_TRUE(legalizer->can_legalize_input(nullptr, c.out("top"), false));
    EXPECT_EQ(std::popcount(legalizer->register_signature(c.run.node("top"))), 2);
    legalizer->pre_cache(c.manager.m_register_type, &c.run.netlist());
    EXPECT_FALSE(legalizer->is_output_legalizable(c.out("la")));
    // A cluster on the loop is never legal, and growth from it ends.
    auto loop = own(c, c.cluster_of({"la", "lb"}));
    EXPECT_TRUE(loop->has_combinational_loop());
    EXPECT_FALSE(legalizer->is_legal(loop.get()));
    auto grown = own(c, c.manager.get_ram_flow()->grow_cluster(c.run.node("la")));
    ASSERT_NE(grown, nullptr);
    EXPECT_FALSE(legalizer->is_legal(grown.get()));
    // Growth through the deep cone stays within the register stage.
    auto cone = own(c, c.manager.get_ram_flow()->grow_cluster(c.run.node("top")));
    ASSERT_NE(cone, nullptr);
    if (legalizer->is_legal(cone.get())) {
        EXPECT_EQ(REGISTER_WALK(cluster_nodes(cone.get())).check(), "");
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_LT(seconds, 20.0);
}

std::string numbered(const char* prefix, int i)
{
    std::string name = prefix;
    return name.append(std::to_string(i));
}

std::string reg_name(int i)
{
    return numbered("r", i);
}

// A shift register: d, then registers r0 .. r<length-1>, then the output.
RAMMAP_BUILD register_chain(int length)
{
    return [length](FIXTURE_NETLIST& f) {
        CDB_ATOM_OTERM* clk = f.input("clk");
        CDB_ATOM_OTERM* q = f.input("d");
        for (int i = 0; i < length; ++i) q = f.reg(reg_name(i), q, clk);
        f.output("o", q);
    };
}

// A register, a chain of buffers, and a register after one more buffer x.
RAMMAP_BUILD buffer_chain(int length)
{
    return [length](FIXTURE_NETLIST& f) {
        CDB_ATOM_OTERM* clk = f.input("clk");
        CDB_ATOM_OTERM* q = f.reg("r0", f.input("d"), clk);
        for (int i = 0; i < length; ++i) q = f.lut(numbered("l", i), {q}, 0x2);
        f.output("o", f.reg("q", f.lut("x", {q}, 0x2), clk));
    };
}

// Every register behind a member register is an illegal input or output:
// the pulls take a long shift register in one register at a time, and the
// registers pulled in are state bits that soon outgrow the block.
TEST(RamClusterLegalizer, LongRegisterChainPullsEndAtTheBlockSize)
{
    constexpr int k_length = 20000;
    CLUSTER_RUN c(CDB_FAMILY_BRK, register_chain(k_length));
    const std::string last = reg_name(k_length - 1), before_last = reg_name(k_length - 2);
    auto inputs = own(c, c.cluster_of({last.c_str()}));
    EXPECT_FALSE(c.legalizer()->legalize_input(inputs.get(), c.out(before_last.c_str())));
    EXPECT_GT(c.names(inputs.get()).size(), 2u);
    EXPECT_LT(c.names(inputs.get()).size(), 20u);
    EXPECT_FALSE(c.legalizer()->is_input_legalizable(c.out(before_last.c_str())));
    auto outputs = own(c, c.cluster_of({"r1"}));
    EXPECT_FALSE(c.legalizer()->legalize_output(outputs.get(), c.out("r1")));
    EXPECT_GT(c.names(outputs.get()).size(), 2u);
    EXPECT_LT(c.names(outputs.get()).size(), 20u);
}

// Buffers add no state: a short chain is pulled in down to its register,
// a 20,000-buffer one only up to the depth bound, without recursing as deep
// as the chain, and the boundary where it stopped is not refused.
TEST(RamClusterLegalizer, BufferChainPullsUpToTheDepthBound)
{
    {
        CLUSTER_RUN c(CDB_FAMILY_BRK, buffer_chain(50));
        auto cluster = own(c, c.cluster_of({"x"}));
        EXPECT_TRUE(c.legalizer()->legalize_input(cluster.get(), c.out("l49")));
        EXPECT_EQ(c.names(cluster.get()).size(), 51u);
        EXPECT_TRUE(c.legalizer()->is_legal(cluster.get()));
    }
    constexpr int k_length = 20000;
    constexpr int k_bound = MORV_CLUSTER_RAM_LEGALIZER::s_MAX_PULL_DEPTH;
    const auto start = std::chrono::steady_clock::now();
    CLUSTER_RUN c(CDB_FAMILY_BRK, buffer_chain(k_length));
    auto cluster = own(c, c.cluster_of({"x"}));
    const std::string first = numbered("l", k_length - 1);
    EXPECT_FALSE(c.legalizer()->legalize_input(cluster.get(), c.out(first.c_str())));
    EXPECT_EQ(static_cast<int>(c.names(cluster.get()).size()), k_bound + 1);
    EXPECT_FALSE(c.legalizer()->is_input_legalizable(c.out(first.c_str())));
    const std::string stopped = numbered("l", k_length - 1 - k_bound);
    EXPECT_TRUE(c.legalizer()->is_input_legalizable(c.out(stopped.c_str())));
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_LT(seconds, 60.0);
}

// ---------------------------------------------------------------- growth

TEST(RamClusterGrowth, SeedWithoutDrivenInputsGivesNoCluster)
{
    CLUSTER_RUN c(CDB_FAMILY_BRK, [](FIXTURE_NETLIST& f) {
        CDB_ATOM_OTERM* clk = f.input("clk");
        CDB_ATOM_OTERM* r0 = f.reg("r0", f.input("d"), clk);
        CDB_ATOM_OTERM* k = f.lut("k", {f.constant("one", true)}, 0x2);
        CDB_ATOM_NODE* lut = k->get_my_node();
        for (auto it = lut->begin_iterm(); it != lut->end_iterm(); ++it)
            (*it)->disconnect_from_source(CDB_NET_ITERM::UNCONNECTED);
        f.output("o", f.reg("q", f.lut("m", {k, r0}, 0x6), clk));
    });
    EXPECT_EQ(c.manager.get_ram_flow()->grow_cluster(c.run.node("k")), nullptr);
}

TEST(RamClusterGrowth, EqualScoresReplaceTheBestAndWorseOnesDoNot)
{
    CLUSTER_RUN c(CDB_FAMILY_OBRAN, legal_design(), "a0");
    auto cluster = own(c, c.cluster_of({"x", "y"}));
    c.manager.m_best_score = -1024;
    EXPECT_TRUE(morv_evaluate_cluster(&c.manager, cluster.get()));
    EXPECT_EQ(c.manager.m_best_score, 2);
    auto same = own(c, c.cluster_of({"x", "t"}));
    EXPECT_TRUE(morv_evaluate_cluster(&c.manager, same.get()));
    EXPECT_EQ(c.manager.m_best_cluster, same->get_added_oterms());
    auto worse = own(c, c.cluster_of({"x"}));
    EXPECT_FALSE(morv_evaluate_cluster(&c.manager, worse.get()));
    EXPECT_EQ(c.manager.m_best_cluster, same->get_added_oterms());
}

// x reads registers a0 and a1 into register q; a0 also feeds register r2,
// whose output leaves through a pin. Taking r2 in on the input side puts
// two registers behind a0: growth falls back to the earlier cluster.
TEST(RamClusterGrowth, WorseInputSideRestoresTheEarlierBest)
{
    CLUSTER_RUN c(
        CDB_FAMILY_BRK,
        [](FIXTURE_NETLIST& f) {
            CDB_ATOM_OTERM* clk = f.input("clk");
            CDB_ATOM_OTERM* a0 = f.reg("a0", f.input("i0"), clk);
            CDB_ATOM_OTERM* a1 = f.reg("a1", f.input("i1"), clk);
            f.output("oq", f.reg("q", f.lut("x", {a0, a1}, 0x6), clk));
            f.output("or", f.reg("r2", a0, clk));
        },
        "a0");
    c.legalizer()->pre_cache(c.manager.m_register_type, &c.run.netlist());
    MORV_LOG_CAPTURE log(100);
    auto grown = own(c, c.manager.get_ram_flow()->grow_cluster(c.run.node("x")));
    ASSERT_NE(grown, nullptr);
    EXPECT_EQ(c.names(grown.get()), (std::set<std::string>{"x"}));
    EXPECT_TRUE(c.legalizer()->is_legal(grown.get()));
    EXPECT_EQ(c.manager.m_best_score, 0);  // one LUT less its output wrapper
    const std::vector<std::string> lines = log.lines();
    EXPECT_NE(std::find(lines.begin(), lines.end(), "Restoring best cluster..."), lines.end());
}

// x reads registers a0 and a1; its output feeds t, which reads a1 too, and,
// when `with_s`, also s, which reads the pin input i2. A sink set is taken
// whole or not at all, and only when it reads nothing the cluster does not
// know: with s there, taking x's sinks would bring in i2, so x stays alone.
TEST(RamClusterGrowth, OutputSinksThatReadANewInputAreNotTaken)
{
    for (bool with_s : {false, true}) {
        CLUSTER_RUN c(
            CDB_FAMILY_BRK,
            [with_s](FIXTURE_NETLIST& f) {
                CDB_ATOM_OTERM* clk = f.input("clk");
                CDB_ATOM_OTERM* a0 = f.reg("a0", f.input("i0"), clk);
                CDB_ATOM_OTERM* a1 = f.reg("a1", f.input("i1"), clk);
                CDB_ATOM_OTERM* x = f.lut("x", {a0, a1}, 0x6);
                f.output("ot", f.reg("r", f.lut("t", {x, a1}, 0x6), clk));
                if (with_s) f.output("os", f.reg("q", f.lut("s", {x, f.input("i2")}, 0x6), clk));
            },
            "a0");
        auto cluster = own(c, c.cluster_of({"x"}));
        morv_grab_neighbours(&c.manager, cluster.get(), MORV_GRAB_OUTPUTS);
        const std::set<std::string> expected = with_s ? std::set<std::string>{"x"} : std::set<std::string>{"x", "t"};
        EXPECT_EQ(c.names(cluster.get()), expected) << with_s;
    }
}

// ---------------------------------------------------------------- every seed

struct SEED_SUMMARY
{
    int seeds = 0;
    int legal = 0;
    std::vector<GROWN_CLUSTER> clusters;
    // Every legal cluster with the best score of its growth, in seed order.
    std::vector<std::string> described;
};

std::string describe_line(const GROWN_CLUSTER& grown, int best_score)
{
    std::vector<std::string> names;
    for (CDB_ATOM_NODE* node : grown.nodes) names.push_back(node->get_instance_name()->get_short_hpath());
    std::sort(names.begin(), names.end());
    std::string line = std::to_string(best_score);
    for (long long figure : {static_cast<long long>(grown.inputs), static_cast<long long>(grown.outputs),
                             static_cast<long long>(grown.gain), grown.bits})
        line.append(" ").append(std::to_string(figure));
    line.append(":");
    for (const std::string& name : names) line.append(" ").append(name);
    return line;
}

SEED_SUMMARY grow_design(RAMMAP_RUN& run)
{
    SEED_SUMMARY summary;
    SCRIPTED_SLACK_SOURCE slack(run.api()->get_fsyn_timing());
    slack.set_default(1000, 1.0);
    const int block_bits = run.util()->get_ram_block_bits();
    const bool describing = std::getenv("MORV_RAMMAP_GROWTH_DUMP") != nullptr;
    summary.seeds =
        grow_every_seed(run.netlist(), 0.0, [&](MORV_RAM_MAP_AREA_CLUSTER_MANAGER& manager, MORV_CLUSTER* c) {
            ++summary.legal;
            GROWN_CLUSTER grown = describe(c);
            if (describing) summary.described.push_back(describe_line(grown, manager.m_best_score));
            const std::string verdict = REGISTER_WALK(grown.nodes).check();
            EXPECT_EQ(verdict, "") << "cluster of " << grown.nodes.size() << " nodes";
            if (grown.inputs >= 1 && grown.inputs < 20 && grown.bits <= block_bits) summary.clusters.push_back(grown);
        });
    return summary;
}

std::string sbox_of(const GROWN_CLUSTER& grown)
{
    std::string sbox;
    for (CDB_ATOM_NODE* node : grown.nodes) {
        const std::string name = node->get_instance_name()->get_short_hpath();
        const std::string prefix = name.substr(0, 2);
        if (sbox.empty()) sbox = prefix;
        if (prefix != sbox || prefix[0] != 's') return "";
    }
    return sbox;
}

// Every address bit of an S-box feeds many cones, so no growth crosses it:
// the best cluster of each S-box is the cone of one output bit, all 8
// address bits in, 1 bit out.
void expect_sbox_roms(int family, const std::string& design, int gain)
{
    RAMMAP_RUN run(family,
                   BLIF_READER(family).read_file(std::string(MORV_SOURCE_DIR) + "/designs/" + design + ".blif"));
    const SEED_SUMMARY summary = grow_design(run);
    std::map<std::string, GROWN_CLUSTER> best;
    for (const GROWN_CLUSTER& grown : summary.clusters) {
        const std::string sbox = sbox_of(grown);
        if (sbox.empty()) continue;
        if (!best.count(sbox) || grown.gain > best[sbox].gain) best[sbox] = grown;
    }
    ASSERT_EQ(best.size(), 4u);
    for (const auto& [sbox, grown] : best) {
        EXPECT_EQ(grown.inputs, 8) << sbox;
        EXPECT_EQ(grown.outputs, 1) << sbox;
        EXPECT_EQ(grown.gain, gain) << sbox;
    }
    std::cout << design << ": " << summary.seeds << " seeds, " << summary.legal << " legal clusters\n";
}

// Five LUTs less a wrapper for the output; five LUTs; 31 four-input LUTs.
TEST(RamClusterGrowth, SboxRomsOnBrk)
{
    expect_sbox_roms(CDB_FAMILY_BRK, "sbox_rom_k6", 4);
}

TEST(RamClusterGrowth, SboxRomsOnObran)
{
    expect_sbox_roms(CDB_FAMILY_OBRAN, "sbox_rom_k6", 5);
}

TEST(RamClusterGrowth, SboxRomsOnZepla)
{
    expect_sbox_roms(CDB_FAMILY_ZEPLA, "sbox_rom_k4", 31);
}

// With one set of address registers for all four S-boxes, taking every
// reader of an address bit would join all 32 cones (8 in, 32 out: past the
// block); each cone still grows alone.
TEST(RamClusterGrowth, SboxRomsOverSharedAddressesOnBrk)
{
    expect_sbox_roms(CDB_FAMILY_BRK, "sbox_rom_shared_k6", 4);
}

std::unique_ptr<CDB_ATOM_NETLIST> read_design(int family, const std::filesystem::path& path)
{
    if (path.extension() == ".blif") return BLIF_READER(family).read_file(path.string());
    std::string error;
    std::unique_ptr<CDB_ATOM_NETLIST> netlist(cdb_read_native_netlist_file(path.string(), nullptr, &error));
    if (!netlist) ADD_FAILURE() << path << ": " << error;
    return netlist;
}

// The native designs name their family in their file name.
bool design_fits(int family, const std::filesystem::path& path)
{
    if (path.extension() == ".blif") return path.stem().string().rfind("sbox", 0) != 0;
    if (path.extension() != ".txt") return false;
    const std::string stem = path.stem().string();
    const std::string tag = family == CDB_FAMILY_BRK ? "_brk" : family == CDB_FAMILY_OBRAN ? "_obran" : "_zepla";
    return stem.size() > tag.size() && stem.compare(stem.size() - tag.size(), tag.size(), tag) == 0;
}

TEST(RamClusterGrowth, EveryBundledDesignGrowsCheckedClusters)
{
    for (int family : {CDB_FAMILY_BRK, CDB_FAMILY_OBRAN, CDB_FAMILY_ZEPLA})
        for (const auto& entry : std::filesystem::directory_iterator(std::string(MORV_SOURCE_DIR) + "/designs")) {
            if (!design_fits(family, entry.path())) continue;
            SCOPED_TRACE(entry.path().filename().string());
            std::unique_ptr<CDB_ATOM_NETLIST> netlist = read_design(family, entry.path());
            if (!netlist) continue;
            RAMMAP_RUN run(family, std::move(netlist));
            const SEED_SUMMARY summary = grow_design(run);
            std::cout << entry.path().filename().string() << " (family " << family << "): " << summary.seeds
                      << " seeds, " << summary.legal << " legal clusters\n";
        }
}

// A large design named by MORV_RAMMAP_GROWTH_DESIGN (BRK), timed: kept out
// of the regular runs.
TEST(RamClusterGrowth, NamedDesignFromTheEnvironment)
{
    const char* path = std::getenv("MORV_RAMMAP_GROWTH_DESIGN");
    if (!path) GTEST_SKIP() << "MORV_RAMMAP_GROWTH_DESIGN not set";
    RAMMAP_RUN run(CDB_FAMILY_BRK, read_design(CDB_FAMILY_BRK, path));
    const auto start = std::chrono::steady_clock::now();
    const SEED_SUMMARY summary = grow_design(run);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    size_t largest = 0;
    for (const GROWN_CLUSTER& grown : summary.clusters) largest = std::max(largest, grown.nodes.size());
    std::cout << path << ": " << summary.seeds << " seeds, " << summary.legal << " legal clusters, "
              << summary.clusters.size() << " candidates (largest " << largest << " nodes), " << seconds << " s\n";
    // Every legal cluster in seed order, to compare the growth of two builds.
    const char* dump = std::getenv("MORV_RAMMAP_GROWTH_DUMP");
    if (!dump) return;
    std::ofstream out(dump);
    for (const std::string& line : summary.described) out << line << '\n';
}

}  // namespace

}  // namespace ram_cluster_test
