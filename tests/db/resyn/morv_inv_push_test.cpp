// Inverter pushing: the mask arithmetic, which LUTs are candidates in which
// pass, pushes given up without a write, the slack estimate and its
// comparison, and the netlist states a run saves and gives back.

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "cut/cut_morlin_legalizer.h"

#include "morv/resyn/morv_inv_push.h"
#include "../netlist/net_util_fixture.h"

namespace morv_inv_push_test {

namespace {

// Timing scripted per (atom id, input port type): slack ratio, slack, delay.
class SCRIPTED_INV_PUSH : public MORV_INV_PUSH
{
public:
    using MORV_INV_PUSH::MORV_INV_PUSH;
    typedef std::pair<int, int> KEY;
    std::map<KEY, double> ratios;
    std::map<KEY, int> slacks;
    std::map<KEY, int> delays;

protected:
    static KEY key_of(CDB_ATOM_ITERM* t) { return KEY(t->get_my_node()->get_id(), t->get_any_usage_as()); }
    double input_slack_ratio(CDB_ATOM_ITERM* t) override
    {
        auto it = ratios.find(key_of(t));
        return it == ratios.end() ? 1.0 : it->second;
    }
    int input_slack(CDB_ATOM_ITERM* t) override
    {
        auto it = slacks.find(key_of(t));
        return it == slacks.end() ? 500 : it->second;
    }
    int input_delay(CDB_ATOM_ITERM* t) override
    {
        auto it = delays.find(key_of(t));
        return it == delays.end() ? 100 : it->second;
    }
};

// A function of inputs 0..5 given as a predicate on the row.
template <typename F>
uint64_t mask_of(F f)
{
    uint64_t m = 0;
    for (int row = 0; row < 64; ++row)
        if (f(row)) m |= uint64_t(1) << row;
    return m;
}

const uint64_t AND_AB = mask_of([](int r) { return (r & 3) == 3; });
const uint64_t XOR_AC = mask_of([](int r) { return ((r ^ (r >> 2)) & 1) != 0; });
// A & !F | C: read with p on A and F, it sees p twice.
const uint64_t A_NOT_F_OR_C = mask_of([](int r) { return ((r & 1) && !(r & 32)) || (r & 4); });

class MorvInvPushTest : public MORV_CLEAN_STATE_TEST
{
protected:
    void SetUp() override
    {
        MORV_CLEAN_STATE_TEST::SetUp();
        net = std::make_unique<NET_UTIL_NETLIST>(CDB_FAMILY_MRL);
        CUT_MORLIN_SCRIPT script;
        script.is_lutmask_legal_by_rotation = [this](uint64_t m) { return illegal.count(m) == 0; };
        net->api()->get_atom_legalizer()->set_script(script);
        push = std::make_unique<SCRIPTED_INV_PUSH>(net->api(), &params);
    }
    void TearDown() override
    {
        push.reset();
        net->api()->get_atom_legalizer()->clear_script();
        net.reset();
        MORV_CLEAN_STATE_TEST::TearDown();
    }

    // A LUT with all six input terms, the inputs in used driven by fresh sources.
    CDB_ATOM_NODE* lut(uint64_t mask, const std::vector<int>& used = {})
    {
        return net->lut6(numbered("lut", count++), mask, used);
    }
    static CDB_ATOM_OTERM* out(CDB_ATOM_NODE* node)
    {
        CDB_ATOM_OTERM* o = node->get_output_term_by_type(DB_COMB_OUT);
        return o != nullptr ? o : node->add_output_term(DB_COMB_OUT);
    }
    // driver's comb-out feeds sink's input k.
    static void wire(CDB_ATOM_NODE* driver, CDB_ATOM_NODE* sink, int k)
    {
        out(driver)->insert_fanout(sink->get_input_term_by_type(DB_DATA_A + k));
    }
    // A LUT reading driver on input k (and fresh sources on others), read by an output pin.
    CDB_ATOM_NODE* sink_of(CDB_ATOM_NODE* driver, uint64_t mask, int k, const std::vector<int>& others = {})
    {
        CDB_ATOM_NODE* s = lut(mask, others);
        wire(driver, s, k);
        net->load(s, DB_COMB_OUT);
        return s;
    }
    static uint64_t mask(CDB_ATOM_NODE* node) { return node->get_lutmask().get_value(); }
    int id(CDB_ATOM_NODE* node) const { return static_cast<int>(node->get_id()); }
    void critical(CDB_ATOM_NODE* node, int k, double ratio) { push->ratios[{id(node), DB_DATA_A + k}] = ratio; }
    void pass(int index)
    {
        int ni = -1, hci = -1;
        push->set_default_pass_parameters(index, ni, hci);
    }

    MORV_PARAMETER_MAP params;
    std::unique_ptr<NET_UTIL_NETLIST> net;
    std::unique_ptr<SCRIPTED_INV_PUSH> push;
    std::set<uint64_t> illegal;
    int count = 0;
};

}  // namespace

TEST_F(MorvInvPushTest, InvertingAMaskInputMatchesTheEvaluatorWithThatInputFlipped)
{
    CDB_ATOM_NODE* before = lut(0);
    CDB_ATOM_NODE* after = lut(0);
    net->load(before, DB_COMB_OUT);
    net->load(after, DB_COMB_OUT);
    uint64_t seed = 0x9E3779B97F4A7C15ull;
    for (int round = 0; round < 8; ++round) {
        seed = seed * 6364136223846793005ull + 1442695040888963407ull;
        const uint64_t m = round == 0 ? AND_AB : seed;
        for (int k = 0; k < 6; ++k) {
            before->set_lutmask(CDB_LUTMASK(6, m));
            after->set_lutmask(CDB_LUTMASK(6, MORV_INV_PUSH::invert_lutmask_input(m, k)));
            EXPECT_EQ(MORV_INV_PUSH::invert_lutmask_input(MORV_INV_PUSH::invert_lutmask_input(m, k), k), m);
            for (int row = 0; row < 64; ++row) {
                unsigned in[MORV_EVALUATE_INPUT_COUNT] = {};
                unsigned flipped[MORV_EVALUATE_INPUT_COUNT] = {};
                for (int i = 0; i < 6; ++i) in[i] = flipped[i] = (row >> i) & 1u;
                flipped[k] ^= 1u;
                ASSERT_EQ(net->util()->evaluate_comb_out(after, in), net->util()->evaluate_comb_out(before, flipped))
                    << std::hex << m << " input " << k << " row " << row;
            }
        }
    }
}

TEST_F(MorvInvPushTest, APushComplementsTheLutAndInvertsEachSinkInputOnceKeepingTheFunction)
{
    CDB_ATOM_NODE* p = lut(AND_AB, {0, 1});
    CDB_ATOM_NODE* s1 = sink_of(p, XOR_AC, 2, {0});
    // s2 reads p on A and on F.
    CDB_ATOM_NODE* s2 = sink_of(p, A_NOT_F_OR_C, 0, {2});
    wire(p, s2, 5);
    // Sink outputs for every value of the five sources, p evaluated in between.
    auto table = [&] {
        std::vector<unsigned> rows;
        for (int v = 0; v < 32; ++v) {
            unsigned pin[MORV_EVALUATE_INPUT_COUNT] = {v & 1u, (v >> 1) & 1u};
            const unsigned pv = net->util()->evaluate_comb_out(p, pin);
            unsigned in1[MORV_EVALUATE_INPUT_COUNT] = {(v >> 2) & 1u, 0, pv};
            unsigned in2[MORV_EVALUATE_INPUT_COUNT] = {pv, 0, (v >> 3) & 1u, 0, 0, pv};
            rows.push_back(net->util()->evaluate_comb_out(s1, in1) * 2 + net->util()->evaluate_comb_out(s2, in2));
        }
        return rows;
    };
    const std::vector<unsigned> truth = table();
    EXPECT_EQ(push->push_inverter(p, true), 3) << "the LUT and two distinct sinks";
    EXPECT_EQ(mask(p), ~AND_AB);
    EXPECT_EQ(mask(s1), MORV_INV_PUSH::invert_lutmask_input(XOR_AC, 2));
    EXPECT_EQ(mask(s2), MORV_INV_PUSH::invert_lutmask_input(MORV_INV_PUSH::invert_lutmask_input(A_NOT_F_OR_C, 0), 5));
    EXPECT_EQ(table(), truth);
    critical(p, 0, 0.0);
    pass(0);
    EXPECT_EQ(push->collect_critical_nodes(), (std::vector<int>{id(p)})) << "a sink on F takes the inversion too";
    EXPECT_EQ(push->get_touched_nodes(), (std::set<int>{id(p), id(s1), id(s2)}));
    EXPECT_EQ(push->get_pending_count(), 0) << "an applied push is no proposal";
    EXPECT_EQ(push->get_save_id(), -1);
}

TEST_F(MorvInvPushTest, CandidatesFollowEachPassThresholdMostCriticalFirst)
{
    CDB_ATOM_NODE* a = lut(AND_AB, {0, 1});
    sink_of(a, XOR_AC, 2, {0});
    CDB_ATOM_NODE* b = lut(AND_AB, {0, 1});
    sink_of(b, XOR_AC, 2, {0});
    CDB_ATOM_NODE* c = lut(AND_AB, {0, 1});
    sink_of(c, XOR_AC, 2, {0});
    // a: A below every threshold of passes 0..1 only; its B would be more
    // critical, but the first input below the threshold is the one recorded.
    critical(a, 0, 0.09);
    critical(a, 1, 0.001);
    critical(b, 1, 0.02);  // below every pass's threshold
    critical(c, 0, 0.02);  // ties with b: ascending ids
    pass(0);
    EXPECT_EQ(push->collect_critical_nodes(), (std::vector<int>{id(b), id(c), id(a)}));
    pass(1);  // 0.1
    EXPECT_EQ(push->collect_critical_nodes(), (std::vector<int>{id(b), id(c), id(a)}));
    pass(2);  // 0.075: a's A no longer counts, its B does
    EXPECT_EQ(push->collect_critical_nodes(), (std::vector<int>{id(a), id(b), id(c)}));
    critical(a, 1, 0.5);
    EXPECT_EQ(push->collect_critical_nodes(), (std::vector<int>{id(b), id(c)}));
    pass(4);  // 0.025
    EXPECT_EQ(push->collect_critical_nodes(), (std::vector<int>{id(b), id(c)}));
    critical(b, 1, 0.025);
    EXPECT_EQ(push->collect_critical_nodes(), (std::vector<int>{id(c)}));
    EXPECT_EQ(MORV_INV_PUSH::s_NO_PATH, 0x7FFFFFFF);
}

TEST_F(MorvInvPushTest, ASinkThatCannotTakeTheInversionKeepsTheLutOut)
{
    std::vector<CDB_ATOM_NODE*> luts;
    auto candidate = [&] {
        CDB_ATOM_NODE* p = lut(AND_AB, {0, 1});
        critical(p, 0, 0.0);
        luts.push_back(p);
        return p;
    };
    CDB_ATOM_NODE* fine = candidate();
    sink_of(fine, XOR_AC, 2, {0});
    // A sink in a carry chain, in extended mode, a register, a sink whose
    // own output drives nothing.
    CDB_ATOM_NODE* chain = sink_of(candidate(), XOR_AC, 2, {0});
    net->drive(chain, DB_CARRY_IN);
    CDB_ATOM_NODE* extended = sink_of(candidate(), XOR_AC, 2, {0});
    net->drive(extended, DB_DATA_G);
    CDB_ATOM_NODE* reg = net->atom(CDB_KIND_REGISTER, "reg");
    out(candidate())->insert_fanout(reg->add_input_term(DB_DATAIN));
    CDB_ATOM_NODE* dead = lut(XOR_AC, {0});
    out(dead);
    wire(candidate(), dead, 2);
    // One good sink does not make up for a bad one.
    CDB_ATOM_NODE* mixed = candidate();
    sink_of(mixed, XOR_AC, 2, {0});
    net->load(mixed, DB_COMB_OUT);
    // The LUT itself in a carry chain, or driving nothing.
    CDB_ATOM_NODE* chained = candidate();
    sink_of(chained, XOR_AC, 2, {0});
    net->drive(chained, DB_CARRY_IN);
    out(candidate());
    pass(0);
    EXPECT_EQ(push->collect_critical_nodes(), (std::vector<int>{id(fine)}));
    // A LUT without a comb-out term is a broken cell.
    candidate();
    EXPECT_EQ(internal_error_of([&] { push->collect_critical_nodes(); }), "oterm");
}

TEST_F(MorvInvPushTest, PushesThatMeetATouchedDontTouchOrIllegalNodeWriteNothing)
{
    CDB_ATOM_NODE* p = lut(AND_AB, {0, 1});
    CDB_ATOM_NODE* q = lut(AND_AB, {0, 1});
    CDB_ATOM_NODE* shared = sink_of(p, A_NOT_F_OR_C, 0);
    wire(q, shared, 2);
    CDB_ATOM_NODE* r = sink_of(q, XOR_AC, 2, {0});  // q drives r too
    EXPECT_EQ(push->push_inverter(p, true), 2);
    // q shares a sink with p's push: given up, not even its own mask changes.
    EXPECT_EQ(push->push_inverter(q, true), 0);
    EXPECT_EQ(mask(q), AND_AB);
    EXPECT_EQ(mask(r), XOR_AC);
    // A node that was itself rewritten is not pushed again in the iteration.
    CDB_ATOM_NODE* after = sink_of(shared, XOR_AC, 2, {0});
    EXPECT_EQ(push->push_inverter(shared, true), 0);
    EXPECT_EQ(mask(after), XOR_AC);

    // A don't-touch sink, a don't-touch LUT, an illegal sink mask, an illegal complement.
    auto fresh = [&] {
        CDB_ATOM_NODE* n = lut(AND_AB, {0, 1});
        return std::make_pair(n, sink_of(n, XOR_AC, 2, {0}));
    };
    CDB_ATOM_ASSIGNMENTS dont_touch;
    dont_touch.dont_touch = true;
    auto [n1, s1] = fresh();
    s1->set_assignments(dont_touch);
    EXPECT_EQ(push->push_inverter(n1, true), 0);
    auto [n2, s2] = fresh();
    n2->set_assignments(dont_touch);
    EXPECT_EQ(push->push_inverter(n2, true), 0);
    auto [n3, s3] = fresh();
    illegal.insert(MORV_INV_PUSH::invert_lutmask_input(XOR_AC, 2));
    EXPECT_EQ(push->push_inverter(n3, true), 0);
    illegal.clear();
    illegal.insert(~AND_AB);
    auto [n4, s4] = fresh();
    EXPECT_EQ(push->push_inverter(n4, true), 0);
    // Proposed rather than applied, a LUT refused for itself holds no state either.
    auto [n5, s5] = fresh();
    n5->set_assignments(dont_touch);
    EXPECT_EQ(push->push_inverter(n5, false), 0);
    auto [n6, s6] = fresh();
    EXPECT_EQ(push->push_inverter(n6, false), 0);
    EXPECT_EQ(push->get_save_id(), -1);
    for (CDB_ATOM_NODE* s : {s5, s6}) EXPECT_EQ(mask(s), XOR_AC);
    for (CDB_ATOM_NODE* n : {n1, n2, n3, n4}) EXPECT_EQ(mask(n), AND_AB);
    for (CDB_ATOM_NODE* s : {s1, s2, s3, s4}) EXPECT_EQ(mask(s), XOR_AC);
    EXPECT_EQ(push->get_save_id(), -1);
    EXPECT_EQ(internal_error_of([&] { push->push_inverter(net->atom(CDB_KIND_REGISTER, "r"), true); }),
              "node->is_lcell_comb()");
    EXPECT_EQ(internal_error_of([&] { push->push_inverter(lut(AND_AB), true); }), "oterm");
}

TEST_F(MorvInvPushTest, SlackListsCompareWorstFirstAndAPrefixIsWorse)
{
    auto map = [](const std::vector<int>& values) {
        MORV_SLACK_MAP m;
        int i = 0;
        for (int v : values) m[MORV_DRIVER_KEY(i++, 8, 0)] = v;
        return m;
    };
    // Sorted before comparing: the keys' order does not matter.
    EXPECT_EQ(MORV_INV_PUSH::compare_slacks(map({30, 10, 20}), map({20, 30, 10})), 0);
    EXPECT_EQ(MORV_INV_PUSH::compare_slacks(map({10, 20}), map({11, 0 + 15})), -1) << "worst slack improved";
    EXPECT_EQ(MORV_INV_PUSH::compare_slacks(map({10, 20}), map({9, 100})), 1) << "worst slack got worse";
    EXPECT_EQ(MORV_INV_PUSH::compare_slacks(map({10, 20}), map({10, 19})), 1) << "tie broken by the next";
    EXPECT_EQ(MORV_INV_PUSH::compare_slacks(map({10, 20}), map({10})), 1) << "a shorter new list is worse";
    EXPECT_EQ(MORV_INV_PUSH::compare_slacks(map({10}), map({10, 20})), -1) << "a longer new list is better";
    EXPECT_EQ(MORV_INV_PUSH::compare_slacks(map({}), map({})), 0);
}

TEST_F(MorvInvPushTest, TheEstimateSubtractsNewDelaysFromTheRecordedDriverSlacks)
{
    // p = AND(x, y), x also drives p's sink s on A; p feeds s on C.
    CDB_ATOM_NODE* p = lut(AND_AB, {0, 1});
    CDB_ATOM_OTERM* x = p->get_input_term_by_type(DB_DATA_A)->get_source();
    CDB_ATOM_NODE* s = sink_of(p, XOR_AC, 2);
    x->insert_fanout(s->get_input_term_by_type(DB_DATA_A));
    auto at = [&](CDB_ATOM_NODE* n, int k) { return SCRIPTED_INV_PUSH::KEY(id(n), DB_DATA_A + k); };
    push->slacks = {{at(p, 0), 40}, {at(p, 1), 60}, {at(s, 0), 90}, {at(s, 2), 50}};
    push->delays = {{at(p, 0), 100}, {at(p, 1), 200}, {at(s, 0), 150}, {at(s, 2), 80}};
    critical(p, 0, 0.0);
    pass(0);
    ASSERT_EQ(push->do_iter(), 2);
    ASSERT_EQ(push->get_pending_count(), 1);
    // Recorded: one entry per driver, the smaller slack: x 40 (p.A; s.A has
    // 90), y 60, p 50 (into s on C); at the drivers (L1) x min(140, 240),
    // y 260, p 130; L2 (D = 80) x 220, y 340.
    // After re-timing p's inputs got faster by 10 and the connection to s
    // slower by 30: x min(140-90, 140-150, 220-90-110) = -10 (the driver's
    // smallest slack serves all its connections), y min(260-190,
    // 340-190-110) = 40, p 130-110 = 20.
    push->delays = {{at(p, 0), 90}, {at(p, 1), 190}, {at(s, 0), 150}, {at(s, 2), 110}};
    // Against the recorded {40, 50, 60} the list {-10, 20, 40} is worse: the
    // proposal is dropped and its state given back.
    const int held = push->get_save_id();
    ASSERT_GE(held, 0);
    EXPECT_EQ(push->do_iter(), 0);
    EXPECT_EQ(push->get_decided_nodes(), (std::set<int>{id(p)}));
    EXPECT_FALSE(net->api()->holds_saved_state(held));
    EXPECT_EQ(push->get_save_id(), -1);
    EXPECT_EQ(mask(p), ~AND_AB) << "a rejected proposal stays for the run driver to judge";
}

TEST_F(MorvInvPushTest, UnconstrainedConnectionsAndConnectionsWithoutDelayTakeNoPart)
{
    CDB_ATOM_NODE* p = lut(AND_AB, {0, 1});
    CDB_ATOM_NODE* s = sink_of(p, XOR_AC, 2, {0});
    CDB_ATOM_NODE* s2 = sink_of(p, XOR_AC, 2);
    auto at = [&](CDB_ATOM_NODE* n, int k) { return SCRIPTED_INV_PUSH::KEY(id(n), DB_DATA_A + k); };
    // p's B has no path for the analysis: no slack. s's A and p -> s2 have no delay.
    push->slacks = {{at(p, 0), 40}, {at(p, 1), MORV_INV_PUSH::s_NO_PATH}, {at(s, 2), 50}};
    push->delays = {
        {at(p, 0), 100}, {at(s, 0), MORV_INV_PUSH::s_NO_PATH}, {at(s, 2), 80}, {at(s2, 2), MORV_INV_PUSH::s_NO_PATH}};
    MORV_INV_PUSH_OP op(push.get(), id(p));
    op.nodes = {id(p), id(s), id(s2)};
    MORV_SLACK_MAP recorded;
    EXPECT_EQ(op.estimate_worst_slack(&recorded), 40);
    const MORV_DRIVER_KEY x_key(
        static_cast<int>(p->get_input_term_by_type(DB_DATA_A)->get_source()->get_my_node()->get_id()), DB_DATA_OUT, 0);
    const MORV_DRIVER_KEY p_key(id(p), DB_COMB_OUT, 0);
    EXPECT_EQ(recorded, (MORV_SLACK_MAP{{x_key, 40}, {p_key, 50}}));
    EXPECT_EQ(op.l1_slacks, (MORV_SLACK_MAP{{x_key, 140}, {p_key, 130}}));
    // D is the delay p -> s (80): p -> s2, without a delay, stays out of it.
    EXPECT_EQ(op.l2_slacks, (MORV_SLACK_MAP{{x_key, 220}}));
    MORV_SLACK_MAP estimated;
    EXPECT_EQ(op.estimate_worst_slack(&estimated), 40);
    EXPECT_EQ(estimated, recorded);
    EXPECT_EQ(MORV_INV_PUSH::compare_slacks(recorded, estimated), 0);
    // A missing LUT: nothing to estimate.
    MORV_INV_PUSH_OP gone(push.get(), 1 << 20);
    MORV_SLACK_MAP none;
    EXPECT_EQ(gone.estimate_worst_slack(&none), MORV_INV_PUSH::s_NO_PATH);
    EXPECT_TRUE(none.empty());
}

TEST_F(MorvInvPushTest, AnAcceptedPushIsRedoneOnTheRestoredNetlistAndNoStateOutlivesAPass)
{
    CDB_ATOM_NODE* p = lut(AND_AB, {0, 1});
    CDB_ATOM_NODE* s = sink_of(p, XOR_AC, 2, {0});
    const int p_id = id(p), s_id = id(s);
    // No candidate: nothing proposed, nothing saved.
    pass(0);
    EXPECT_EQ(push->do_iter(), 0);
    EXPECT_EQ(push->get_save_id(), -1);
    // A candidate, unchanged timing: the estimate equals the record, accepted.
    pass(0);
    critical(p, 0, 0.01);
    EXPECT_EQ(push->do_iter(), 2);
    const int held = push->get_save_id();
    EXPECT_TRUE(net->api()->holds_saved_state(held));
    EXPECT_EQ(push->do_iter(), 2) << "restored, then pushed again";
    EXPECT_FALSE(net->api()->holds_saved_state(held));
    EXPECT_EQ(push->get_save_id(), -1);
    CDB_ATOM_NODE* p_now = net->api()->get_node(p_id);
    ASSERT_NE(p_now, nullptr);
    EXPECT_EQ(mask(p_now), ~AND_AB);
    EXPECT_EQ(mask(net->api()->get_node(s_id)), MORV_INV_PUSH::invert_lutmask_input(XOR_AC, 2));
    // Judged once per run: the next pass proposes nothing.
    pass(1);
    EXPECT_EQ(push->do_iter(), 0);
    EXPECT_EQ(push->get_save_id(), -1);
    // An evaluation without pending proposals accepts nothing.
    EXPECT_EQ(push->do_iter(), 0);
}

TEST_F(MorvInvPushTest, OneIterationPerPassAndTheRunsEndGiveBackTheSavedState)
{
    CDB_ATOM_NODE* p = lut(AND_AB, {0, 1});
    sink_of(p, XOR_AC, 2, {0});
    CDB_ATOM_NODE* q = lut(AND_AB, {0, 1});
    sink_of(q, XOR_AC, 2, {0});
    critical(p, 0, 0.01);
    critical(q, 0, 0.01);
    pass(0);
    EXPECT_EQ(push->do_iter(), 4);
    const int first = push->get_save_id();
    EXPECT_EQ(push->get_pending_count(), 2);
    // With NI = 1 the next pass proposes again: the earlier state is given
    // back rather than overwritten (the undecided pushes remain proposed).
    pass(1);
    EXPECT_EQ(push->do_iter(), 4);
    EXPECT_FALSE(net->api()->holds_saved_state(first));
    const int second = push->get_save_id();
    EXPECT_TRUE(net->api()->holds_saved_state(second));
    push->finish_algorithm();
    EXPECT_FALSE(net->api()->holds_saved_state(second));
    EXPECT_EQ(push->get_pending_count(), 0);
    // The destructor gives back a state a run left held.
    pass(2);
    ASSERT_EQ(push->do_iter(), 4);
    const int third = push->get_save_id();
    push.reset();
    EXPECT_FALSE(net->api()->holds_saved_state(third));
}

TEST_F(MorvInvPushTest, DefaultsAndNames)
{
    int np = -1, icp = -1, restore = -1, ni = -1, hci = -1;
    double fom = -1.0;
    push->set_default_algorithm_parameters(np, icp, fom, restore);
    EXPECT_EQ(np, 5);
    EXPECT_EQ(icp, 0);
    EXPECT_EQ(fom, 0.0);
    EXPECT_EQ(restore, 1);
    push->set_default_pass_parameters(0, ni, hci);
    EXPECT_EQ(ni, 2);
    EXPECT_EQ(hci, 2);
    EXPECT_EQ(push->get_slack_ratio_threshold(), 0.125);
    ni = 3;
    hci = -1;
    push->set_default_pass_parameters(1, ni, hci);
    EXPECT_EQ(hci, 3);
    EXPECT_EQ(push->get_short_name(), "INV_PUSH");
    EXPECT_EQ(push->get_description(), "INV_PUSH");
}

}  // namespace morv_inv_push_test
