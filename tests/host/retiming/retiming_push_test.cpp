// The retiming engine on small netlists: the compatibility rule, the age
// limit, register-output aliases, failed pushes that only queue, carry-chain
// refusal, splitting, and whole iterations proved equivalent after every
// pass.

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <vector>
#include <string>

#include "cdb/cdb_atom_netlist.h"
#include "host_env.h"
#include "io/blif_reader.h"
#include "msg/msg.h"

#include "morv/core/morv_api.h"
#include "morv/core/morv_expert.h"
#include "morv/netlist/morv_net_util.h"
#include "retiming_push_leaf.h"
#include "scripted_slack.h"
#include "seq_gen.h"
#include "seq_harness.h"

namespace retiming_push_test {

namespace {

using namespace morv_host;

// prefix + k, built in steps: GCC 12 warns (-Wrestrict) on "literal" + to_string.
std::string named(const char* prefix, int k)
{
    std::string text(prefix);
    text += std::to_string(k);
    return text;
}

// Three registers into a two-level AND, its register, and a LUT to the pin.
const char* const k_pipeline = R"(.model p
.inputs a b c clk
.outputs y
.latch a ra re clk 0
.latch b rb re clk 0
.latch c rc re clk 0
.names ra rb n1
11 1
.names n1 rc n2
11 1
.latch n2 q re clk 0
.names q y
1 1
.end
)";

// n feeds one register without an enable and `classes - 1` registers with
// enables of their own; with lut_fanout a pin reads n directly too.
std::string split_blif(int classes, bool lut_fanout)
{
    std::string t = ".model s\n.inputs a b clk";
    for (int k = 1; k < classes; ++k) t += named(" e", k);
    t += "\n.outputs w";
    for (int k = 0; k < classes; ++k) t += named(" y", k);
    t += "\n.latch a ra re clk 0\n.latch b rb re clk 0\n.names ra rb n\n11 1\n";
    for (int k = 0; k < classes; ++k) {
        t += named(".latch n q", k) + " re clk 0\n";
        t += named(".names q", k) + named(" y", k) + "\n1 1\n";
    }
    t += lut_fanout ? ".names n w\n1 1\n" : ".names a w\n1 1\n";
    return t + ".end\n";
}

class RUN
{
public:
    explicit RUN(const std::string& blif)
    {
        msg_set_quiet(true);
        BLIF_READER reader(CDB_FAMILY_BRK);
        start(reader.read_text(blif, "test.blif"), BLIF_READER(CDB_FAMILY_BRK).read_text(blif, "test.blif"));
    }
    RUN(const SEQ_GEN_OPTIONS& options, uint64_t seed)
    {
        msg_set_quiet(true);
        start(seq_generate(options, seed), seq_generate(options, seed));
    }
    void start(std::unique_ptr<CDB_ATOM_NETLIST> design, std::unique_ptr<CDB_ATOM_NETLIST> before)
    {
        const int family = design->get_family();
        m_design = std::make_unique<HOST_DESIGN>(family, std::move(design));
        m_before = std::move(before);
        m_env = std::make_unique<HOST_ENV>(*m_design);
        m_api = dynamic_cast<MORV_EXPERT*>(m_env->get_fsyn_expert())->get_fsyn_api();
        m_slack = std::make_unique<SCRIPTED_SLACK_SOURCE>(m_api->get_fsyn_timing());
        m_slack->set_default(0, 0.0);
        m_rtm = std::make_unique<PUSH_TEST_LEAF>(m_api, nullptr);
        m_rtm->set_srt(0.5);
        m_rtm->topological_sort();
    }
    // Register q<k> (k >= 1) takes input e<k> as its enable, on both sides.
    void give_enables(int classes)
    {
        for (CDB_ATOM_NETLIST* side : {m_design->netlist(), m_before.get()}) {
            for (int k = 1; k < classes; ++k) {
                CDB_ATOM_NODE* reg = seq_find(*side, named("q", k));
                CDB_ATOM_NODE* pin = seq_find(*side, named("e", k));
                pin->get_output_term_by_type(DB_DATA_OUT)->insert_fanout(reg->add_input_term(DB_CLOCK_ENABLE));
            }
        }
        m_rtm->topological_sort();
    }
    CDB_ATOM_NETLIST& netlist() { return *m_design->netlist(); }
    CDB_ATOM_NODE* node(const std::string& name) { return seq_find(netlist(), name); }
    int count_registers()
    {
        int n = 0;
        for (CDB_ATOM_NODE* node : netlist()) n += m_api->get_fsyn_net_util()->is_ff(node) ? 1 : 0;
        return n;
    }
    void expect_equivalent(const std::string& tag)
    {
        const SEQ_VERDICT v = seq_check(*m_before, netlist(), tag, true, 200, 7);
        EXPECT_TRUE(v.equivalent()) << tag << ": " << v.describe();
    }

    std::unique_ptr<HOST_DESIGN> m_design;
    std::unique_ptr<CDB_ATOM_NETLIST> m_before;
    std::unique_ptr<HOST_ENV> m_env;
    MORV_API* m_api = nullptr;
    std::unique_ptr<SCRIPTED_SLACK_SOURCE> m_slack;
    std::unique_ptr<PUSH_TEST_LEAF> m_rtm;
};

}  // namespace

TEST(RetimingPush, CompatibilityRuleComparesEveryControlFieldAndTheTimingOfTheOutputs)
{
    RUN run(k_pipeline);
    PUSH_TEST_LEAF& rtm = *run.m_rtm;
    RETIME_REG a = rtm.describe_register(run.node("ra"));
    RETIME_REG b = rtm.describe_register(run.node("rb"));
    ASSERT_TRUE(rtm.is_register_compatible(a, b));
    for (int control : {RETIME_CLEAR, RETIME_SYNCH_CLEAR, RETIME_CLOCK, RETIME_CLOCK_ENABLE}) {
        RETIME_REG c = b;
        c.signals[control].inverted = !c.signals[control].inverted;
        EXPECT_FALSE(rtm.is_register_compatible(a, c)) << "inversion of control " << control;
        c = b;
        c.signals[control].delay_chain_index = 3;
        EXPECT_FALSE(rtm.is_register_compatible(a, c)) << "delay index of control " << control;
        c = b;
        c.signals[control].global_type = 1;
        EXPECT_FALSE(rtm.is_register_compatible(a, c)) << "global setting of control " << control;
        c = b;
        c.signals[control].boundary_port_id = 4;
        EXPECT_FALSE(rtm.is_register_compatible(a, c)) << "boundary port of control " << control;
    }
    // Synchronous loads count only with sload pushes, and only when both have one.
    RETIME_REG loaded = b;
    loaded.signals[RETIME_SYNCH_LOAD].source = a.regout;
    RETIME_REG other = b;
    other.signals[RETIME_SYNCH_LOAD].source = b.regout;
    EXPECT_TRUE(rtm.is_register_compatible(loaded, other));
    rtm.set_sload_push(true);
    EXPECT_FALSE(rtm.is_register_compatible(loaded, other));
    EXPECT_TRUE(rtm.is_register_compatible(loaded, a));
    // A made-up output without an alias stands for nothing: compatible.
    RETIME_REG made = b;
    CDB_ATOM_OTERM* out = run.node("q")->get_output_term_by_type(DB_REG_OUT);
    out->set_host_index(-1);
    made.regout = out;
    EXPECT_EQ(rtm.resolve_regout(out), nullptr);
    EXPECT_TRUE(rtm.is_register_compatible(a, made));
}

TEST(RetimingPush, AliasesFollowChainsOfMadeOutputsAndAreForgottenBeforeTheOriginalIsDeleted)
{
    RUN run(k_pipeline);
    PUSH_TEST_LEAF& rtm = *run.m_rtm;
    rtm.set_backwards(false);
    CDB_ATOM_NODE* n1 = run.node("n1");
    CDB_ATOM_OTERM* ra_out = run.node("ra")->get_output_term_by_type(DB_REG_OUT);
    ASSERT_TRUE(rtm.forward_push(n1));
    CDB_ATOM_OTERM* pushed = n1->get_output_term_by_type(DB_COMB_OUT)
                                 ->get_first_fanout()
                                 ->get_my_node()
                                 ->get_output_term_by_type(DB_REG_OUT);
    ASSERT_NE(pushed, nullptr);
    EXPECT_LT(pushed->get_host_index(), 0);
    EXPECT_EQ(rtm.resolve_regout(pushed), ra_out);
    // A term made from a made term stands for the original too.
    CDB_ATOM_OTERM* q_out = run.node("q")->get_output_term_by_type(DB_REG_OUT);
    q_out->set_host_index(-1);
    rtm.alias_regout(q_out, pushed);
    EXPECT_EQ(rtm.resolve_regout(q_out), ra_out);
    rtm.alias_regout(pushed, pushed);
    EXPECT_EQ(rtm.resolve_regout(pushed), ra_out);
    // The demux pass deletes ra and rb (no fanout left) and forgets the
    // aliases before it does, so nothing leads to the deleted output; the
    // next sort starts without any.
    EXPECT_EQ(rtm.run_demux_pass(), 2);
    EXPECT_EQ(run.node("ra"), nullptr);
    EXPECT_EQ(rtm.resolve_regout(pushed), nullptr);
    rtm.topological_sort();
    EXPECT_EQ(rtm.resolve_regout(pushed), nullptr);
    run.expect_equivalent("alias_forward");
}

TEST(RetimingPush, AgeLimitZeroNeverRefusesAndOneRefusesAnAgedRegister)
{
    for (int max_age : {0, 1}) {
        RUN run(k_pipeline);
        PUSH_TEST_LEAF& rtm = *run.m_rtm;
        rtm.set_backwards(false);
        rtm.set_max_age(max_age);
        rtm.set_age(run.node("ra"), 1);
        const bool pushed = rtm.forward_push(run.node("n1"));
        EXPECT_EQ(pushed, max_age == 0) << "MAX_AGE " << max_age;
        EXPECT_EQ(rtm.push_max_age(), 1);
        EXPECT_EQ(run.count_registers(), pushed ? 5 : 4);
    }
}

TEST(RetimingPush, FailedPushesOnlyQueueForDemuxOrSplitAndChangeNothing)
{
    RUN run(split_blif(2, false));
    run.give_enables(2);
    PUSH_TEST_LEAF& rtm = *run.m_rtm;
    CDB_ATOM_NODE* n = run.node("n");
    const size_t nodes = run.netlist().get_node_count();
    EXPECT_FALSE(rtm.backward_push(n));
    EXPECT_TRUE(rtm.split_set().contains(n));
    EXPECT_TRUE(rtm.demux_queue().empty());
    // ra and rb disagree on the enable once rb has q1's.
    CDB_ATOM_NODE* rb = run.node("rb");
    run.node("e1")->get_output_term_by_type(DB_DATA_OUT)->insert_fanout(rb->add_input_term(DB_CLOCK_ENABLE));
    rtm.set_backwards(false);
    EXPECT_FALSE(rtm.forward_push(n));
    EXPECT_TRUE(rtm.demux_queue().contains(run.node("ra")));
    EXPECT_TRUE(rtm.demux_queue().contains(rb));
    EXPECT_EQ(run.netlist().get_node_count(), nodes);
    EXPECT_EQ(rtm.m_created + rtm.m_removed, 0);
}

TEST(RetimingPush, SplitsIntoTwoAndFourCopiesButNeverFive)
{
    struct CASE
    {
        int classes;
        bool lut;
        int copies;
    };
    for (CASE c : {CASE{2, false, 1}, CASE{2, true, 2}, CASE{5, false, 4}, CASE{5, true, -1}, CASE{6, false, -1}}) {
        RUN run(split_blif(c.classes, c.lut));
        run.give_enables(c.classes);
        PUSH_TEST_LEAF& rtm = *run.m_rtm;
        CDB_ATOM_NODE* n = run.node("n");
        const size_t nodes = run.netlist().get_node_count();
        const int added_before = run.m_env->count_notes("node_added");
        rtm.queue_split(n);
        const int moved = rtm.split_nodes();
        const std::string tag = named("split_", c.classes) + (c.lut ? "_lut" : "");
        if (c.copies < 0) {
            EXPECT_EQ(moved, 0) << tag;
            EXPECT_EQ(run.netlist().get_node_count(), nodes) << tag;
            continue;
        }
        EXPECT_EQ(moved, c.classes + (c.lut ? 1 : 0)) << tag;
        EXPECT_EQ(run.netlist().get_node_count(), nodes + static_cast<size_t>(c.copies)) << tag;
        // Timing, tracking and the change log learn of every copy.
        EXPECT_EQ(run.m_env->count_notes("node_added") - added_before, c.copies) << tag;
        // The first register stays on the split cell, alone.
        CDB_ATOM_OTERM* out = n->get_output_term_by_type(DB_COMB_OUT);
        EXPECT_EQ(out->get_first_fanout()->get_my_node(), run.node("q0")) << tag;
        EXPECT_EQ(out->get_first_fanout()->get_next_fanout(), nullptr) << tag;
        run.expect_equivalent(tag);
    }
}

// Counting the copies stops where the split is refused: six registers
// under six enables are read, however many more the cell loads.
TEST(RetimingPush, RefusedSplitReadsRegistersOnlyUpToTheLimit)
{
    for (int classes : {6, 40, 400}) {
        RUN run(split_blif(classes, false));
        run.give_enables(classes);
        PUSH_TEST_LEAF& rtm = *run.m_rtm;
        const size_t nodes = run.netlist().get_node_count();
        rtm.queue_split(run.node("n"));
        EXPECT_EQ(rtm.split_nodes(), 0) << classes;
        EXPECT_EQ(rtm.get_split_fanouts_read(), 6) << classes;
        EXPECT_EQ(run.netlist().get_node_count(), nodes) << classes;
    }
}

TEST(RetimingPush, DontTouchOutputsAndCarryCellsAreNotSplit)
{
    RUN run(split_blif(2, false));
    run.give_enables(2);
    PUSH_TEST_LEAF& rtm = *run.m_rtm;
    CDB_ATOM_NODE* n = run.node("n");
    const size_t nodes = run.netlist().get_node_count();
    CDB_ATOM_ASSIGNMENTS assignments = n->get_assignments();
    assignments.dont_touch = true;
    n->set_assignments(assignments);
    rtm.queue_split(n);
    EXPECT_EQ(rtm.split_nodes(), 0);
    assignments.dont_touch = false;
    n->set_assignments(assignments);
    CDB_ATOM_ITERM* cin = n->add_input_term(DB_CARRY_IN);
    cin->set_gnd();
    EXPECT_EQ(rtm.split_nodes(), 0);
    EXPECT_EQ(run.netlist().get_node_count(), nodes);
}

// Backward, forward, backward, forward on the pipeline, each pass proved.
TEST(RetimingPush, IterationsMoveRegistersReportOnceAndStayEquivalentAfterEveryPass)
{
    RUN run(k_pipeline);
    PUSH_TEST_LEAF& rtm = *run.m_rtm;
    auto* env = run.m_env.get();
    int modifying = 0;
    for (int pass = 0; pass < 4; ++pass) {
        rtm.set_backwards(pass % 2 == 0);
        const int before = env->count_notes("registers_retimed");
        const int count = rtm.do_iter();
        modifying += count > 0 ? 1 : 0;
        EXPECT_EQ(env->count_notes("registers_retimed") - before, count > 0 ? 1 : 0) << "pass " << pass;
        run.expect_equivalent(named("pipeline_pass_", pass));
    }
    EXPECT_GT(modifying, 0);
    EXPECT_GT(rtm.m_created, 0);
    EXPECT_FALSE(rtm.is_icp_at_end_pending());
    // Nothing critical: an iteration that edits nothing says nothing.
    run.m_slack->set_default(0, 0.9);
    const int before = env->count_notes("registers_retimed");
    EXPECT_EQ(rtm.do_iter(), 0);
    EXPECT_EQ(env->count_notes("registers_retimed"), before);
}

TEST(RetimingPush, CriticalWalkIsAPostOrderThatClosesLoopsOnce)
{
    RUN run(k_pipeline);
    PUSH_TEST_LEAF& rtm = *run.m_rtm;
    const std::vector<CDB_ATOM_NODE*>& order = rtm.topological_order();
    EXPECT_EQ(order.size(), run.netlist().get_node_count());
    auto at = [&](const char* name) { return std::find(order.begin(), order.end(), run.node(name)) - order.begin(); };
    EXPECT_LT(at("n2"), at("n1"));
    EXPECT_LT(at("q"), at("n2"));
    // With SRT 0 and every ratio above it, the order is the netlist's.
    run.m_slack->set_default(0, 0.9);
    rtm.topological_sort();
    size_t k = 0;
    for (CDB_ATOM_NODE* node : run.netlist()) EXPECT_EQ(order[k++], node);
}

TEST(RetimingPush, RegistersMadeInOneIterationMoveOnInTheNext)
{
    RUN run(k_pipeline);
    PUSH_TEST_LEAF& rtm = *run.m_rtm;
    rtm.set_backwards(true);
    auto is_ff = [&](CDB_ATOM_NODE* node) { return run.m_api->get_fsyn_net_util()->is_ff(node); };
    CDB_ATOM_NODE* n1 = run.node("n1");
    ASSERT_GT(rtm.do_iter(), 0);
    CDB_ATOM_ITERM* first = n1->get_output_term_by_type(DB_COMB_OUT)->get_first_fanout();
    ASSERT_NE(first, nullptr);
    ASSERT_TRUE(is_ff(first->get_my_node())) << "q went back across n2, in front of n1's sink";
    // Made in the first iteration, so free to move in the second: across n1.
    ASSERT_GT(rtm.do_iter(), 0);
    for (auto it = n1->begin_iterm(); it != n1->end_iterm(); ++it) {
        if ((*it)->get_source() != nullptr) {
            EXPECT_TRUE(is_ff((*it)->get_source()->get_my_node())) << "n1 reads registers";
        }
    }
    run.expect_equivalent("two_backward_iterations");
}

TEST(RetimingPush, ACellWithoutRegistersOfItsOwnIsNotPushedWithThePreviousCellsRegister)
{
    // z is a constant cell: no input, so no register to push forward. Right
    // after n1's push it must not be given the register n1 consumed.
    std::string blif(k_pipeline);
    blif.replace(blif.find(".outputs y"), 10, ".outputs y z");
    blif.replace(blif.find(".end"), 4, ".names z\n.end");
    RUN run(blif);
    PUSH_TEST_LEAF& rtm = *run.m_rtm;
    rtm.set_backwards(false);
    CDB_ATOM_NODE* z = run.node("z");
    ASSERT_NE(z, nullptr);
    const int registers = run.count_registers();
    EXPECT_EQ(rtm.retime_critical_nodes({run.node("n1"), z}), 1);
    // One register made on n1's output (ra and rb wait for the demux pass);
    // z still drives its pin directly.
    EXPECT_EQ(run.count_registers(), registers + 1);
    CDB_ATOM_ITERM* sink = z->get_output_term_by_type(DB_COMB_OUT)->get_first_fanout();
    ASSERT_NE(sink, nullptr);
    EXPECT_FALSE(run.m_api->get_fsyn_net_util()->is_ff(sink->get_my_node()));
    // Alone, z is refused the same way.
    EXPECT_EQ(rtm.retime_critical_nodes({z}), 0);
    run.expect_equivalent("constant_after_push");
}

TEST(RetimingPush, ChainCellsQueuedForSplitAreLeftAlone)
{
    SEQ_GEN_OPTIONS options;
    options.m_cells = 16;
    int chain_cells = 0;
    for (uint64_t seed = 1; seed <= 6; ++seed) {
        RUN run(options, seed);
        PUSH_TEST_LEAF& rtm = *run.m_rtm;
        MORV_NET_UTIL* net_util = run.m_api->get_fsyn_net_util();
        for (CDB_ATOM_NODE* node : run.netlist()) {
            if (!node->is_lcell_comb() || !net_util->is_lcell_part_of_a_carry_chain(node)) continue;
            rtm.queue_split(node);
            ++chain_cells;
        }
        const size_t nodes = run.netlist().get_node_count();
        EXPECT_EQ(rtm.split_nodes(), 0) << "seed " << seed;
        EXPECT_EQ(run.netlist().get_node_count(), nodes) << "seed " << seed;
    }
    EXPECT_GT(chain_cells, 0);
}

}  // namespace retiming_push_test
