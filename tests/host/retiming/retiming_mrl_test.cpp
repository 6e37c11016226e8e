// MRL retiming on small netlists: forward pushes through wire LUTs, both
// directions across hsadders (their power-up sums, inverted input terms,
// a tied chain input), the comb output of a chain cell, the control mux
// with constant controls, inverters in the MRL bit order, and whole passes
// on generated MRL netlists. Every edit is proved equivalent from the
// all-zero power-up state against the netlist as built.

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "cdb/cdb_atom_netlist.h"
#include "morv/core/family/morv_family_traits.h"
#include "log_capture.h"
#include "morv/netlist/morv_net_util.h"
#include "morv/retiming/morv_retiming_mrl.h"
#include "retiming_6lut_bench.h"
#include "retiming_branch_test_leaf.h"
#include "retiming_seq_run.h"
#include "seq_gen.h"
#include "seq_harness.h"
#include "test_build.h"
#include "test_files.h"

namespace retiming_mrl_test {

namespace {

class MRL_LEAF : public TEST_RETIMING_BRANCH_LEAF<MORV_RETIMING_MRL>
{
public:
    explicit MRL_LEAF(MORV_API* api, const MORV_PARAMETER_MAP* params = nullptr)
        : TEST_RETIMING_BRANCH_LEAF(api, params)
    {}
    struct COUNTS
    {
        int inverters = 0;
    };
    const COUNTS& counts() const { return m_counts; }
    void set_srt(double srt) { m_slack_ratio_threshold = srt; }
    void set_current_register(bool on) { m_has_current_register = on; }
    void insert_inverter_lcell(CDB_ATOM_ITERM* iterm) override
    {
        const bool cell = iterm->is_driven();
        MORV_RETIMING_MRL::insert_inverter_lcell(iterm);
        m_counts.inverters += cell ? 1 : 0;
    }
    bool create_input_registers(CDB_ATOM_NODE* node, RETIME_REG& reg, bool& c, bool& s) override
    {
        const bool ok = MORV_RETIMING_MRL::create_input_registers(node, reg, c, s);
        m_pushes += ok ? 1 : 0;
        m_hsadder_pushes += ok && node->is_lcell_hsadder() ? 1 : 0;
        return ok;
    }
    bool create_output_registers(CDB_ATOM_NODE* node, RETIME_REG& reg, bool& c, bool& s) override
    {
        const bool ok = MORV_RETIMING_MRL::create_output_registers(node, reg, c, s);
        m_pushes += ok ? 1 : 0;
        m_hsadder_pushes += ok && node->is_lcell_hsadder() ? 1 : 0;
        return ok;
    }
    int m_pushes = 0;
    int m_hsadder_pushes = 0;

private:
    COUNTS m_counts;
};

using MRL_RUN = RTM_LUT_RUN<MRL_LEAF, CDB_FAMILY_MRL, DB_DATA_G>;

// An hsadder on the four drivers (null: unconnected) and a carry-in
// (null: unconnected); its outputs named "<n>_s0", "<n>_s1", "<n>_co".
CDB_ATOM_NODE* hsadder(RTM6_NET& n, const std::string& name, const std::vector<CDB_ATOM_OTERM*>& ins,
                       CDB_ATOM_OTERM* carry_in = nullptr)
{
    CDB_ATOM_NODE* a = n.add(CDB_KIND_HSADDER, name);
    for (int k = 0; k < 4; ++k) {
        CDB_ATOM_ITERM* t = a->add_input_term(DB_DATA_A + k);
        if (ins[k] != nullptr) ins[k]->insert_fanout(t);
    }
    CDB_ATOM_ITERM* cin = a->add_input_term(DB_CHAIN_IN_0);
    if (carry_in != nullptr) carry_in->insert_fanout(cin);
    HDB_NAME_MGR* names = n.netlist().get_name_mgr();
    a->add_output_term(DB_HSADDER_SUM_0, names->create_unique_name(name + "_s0", 0));
    a->add_output_term(DB_HSADDER_SUM_1, names->create_unique_name(name + "_s1", 0));
    a->add_output_term(DB_CHAIN_OUT_0, names->create_unique_name(name + "_co", 0));
    return a;
}

void expect_equivalent(const CDB_ATOM_NETLIST& reference, const CDB_ATOM_NETLIST& edited, const std::string& tag)
{
    const SEQ_VERDICT v = seq_check(reference, edited, tag, true, 200);
    EXPECT_TRUE(v.equivalent()) << tag << ": " << v.describe();
}

bool logged(const MORV_LOG_CAPTURE& log, const std::string& text)
{
    for (const std::string& line : log.lines())
        if (line.find(text) != std::string::npos) return true;
    return false;
}

// ------------------------------------------------------------------ wire LUTs

// r0 reaches c0 = A OR B through the one-input wire w0 (inverting or not,
// its input term or c0's term A inverted), r1 directly; c0 drives o0.
std::unique_ptr<CDB_ATOM_NETLIST> wire_design(bool inverting, bool wire_term_inverted, bool cell_term_inverted)
{
    RTM6_NET n(CDB_FAMILY_MRL);
    CDB_ATOM_NODE* r0 = n.reg("r0", n.input("i0"));
    CDB_ATOM_NODE* r1 = n.reg("r1", n.input("i1"));
    CDB_ATOM_NODE* w0 = n.lut("w0", {RTM6_NET::out(r0)}, inverting ? 0x1 : 0x2);
    if (wire_term_inverted) RTM6_NET::in(w0, DB_DATA_A)->set_invert();
    CDB_ATOM_NODE* c0 = n.lut("c0", {RTM6_NET::out(w0), RTM6_NET::out(r1)}, 0xe);
    if (cell_term_inverted) RTM6_NET::in(c0, DB_DATA_A)->set_invert();
    n.output(RTM6_NET::out(c0), "o0");
    return n.take();
}

}  // namespace

// ------------------------------------------------------------------ the class

// The family's factory builds the MRL class: no LUT rotation, so no
// critical slack whatever RF says, TRADE as given, the slot-9 schedule.
TEST(RetimingMrlClass, FactoryBuildsItWithoutRotationDelay)
{
    MRL_RUN run(wire_design(false, false, false));
    MORV_PARAMETER_MAP params;
    MORV_ALGORITHM_BASE::parse_algorithm_params(params, "RF=8:TRADE=20");
    MORV_OWNER<MORV_ALGORITHM_BASE> owner;
    std::vector<std::string> said;
    {
        MORV_LOG_CAPTURE log(100);
        ASSERT_TRUE(morv_make_family_algorithm("MORV_RETIMING_MRL", run.api(), &params, &owner));
        auto* mrl = dynamic_cast<MORV_RETIMING_MRL*>(owner.get());
        ASSERT_NE(mrl, nullptr);
        EXPECT_EQ(mrl->get_family_constants().rotation_delay, 0);
        EXPECT_EQ(mrl->get_max_critical_slack(), 0);
        EXPECT_DOUBLE_EQ(mrl->get_trade(), 20.0);
        int iters = -1, hill = -1;
        mrl->set_default_pass_parameters(2, iters, hill);
        EXPECT_TRUE(mrl->is_retiming_backwards());
        owner.reset();
        said = log.lines();
    }
    const auto has = [&said](const char* text) {
        for (const std::string& line : said)
            if (line.find(text) != std::string::npos) return true;
        return false;
    };
    EXPECT_TRUE(has("creating fsyn_retiming_mrl"));
    EXPECT_TRUE(has("destroying fsyn_retiming_mrl"));
}

TEST(RetimingMrlWire, ForwardPushThroughAWireKeepsThePowerUpValue)
{
    for (int shape = 0; shape < 8; ++shape) {
        const bool inverting = (shape & 1) != 0, wire_inv = (shape & 2) != 0, cell_inv = (shape & 4) != 0;
        SCOPED_TRACE(shape);
        MRL_RUN run(wire_design(inverting, wire_inv, cell_inv));
        MORV_LOG_CAPTURE log(100);
        CDB_ATOM_NODE* c0 = run.find("c0");
        RETIME_REG reg;
        ASSERT_TRUE(run.rtm().is_forward_push_candidate(RTM6_NET::in(c0, DB_DATA_A)));
        ASSERT_TRUE(run.rtm().get_input_register(RTM6_NET::in(c0, DB_DATA_A), reg));
        // Seen through the wire and its input: powering up to 1 when that inverts.
        EXPECT_EQ(reg.clear_low, inverting == wire_inv);
        EXPECT_EQ(logged(log, "is_wire_lut but not is_wire_lut_inverting"), inverting == wire_inv);
        ASSERT_TRUE(run.push_forward(c0));
        EXPECT_TRUE(logged(log, "through wire"));
        // The register on c0's output holds OR of what c0 read at power-up.
        const bool a_at_powerup = (inverting != wire_inv) != cell_inv;
        const auto outputs = run.rtm().get_output_registers();
        ASSERT_EQ(outputs.size(), 1u);
        EXPECT_EQ(outputs.begin()->second.clear_low, !a_at_powerup);
        expect_equivalent(*wire_design(inverting, wire_inv, cell_inv), run.netlist(),
                          rtm6_name("rtm_mrl_wire_", shape));
    }
}

// A one-input LUT whose mask does not read its input holds a constant: no
// register is taken through it.
TEST(RetimingMrlWire, AConstantOneInputLutIsNoWire)
{
    RTM6_NET n(CDB_FAMILY_MRL);
    CDB_ATOM_NODE* r0 = n.reg("r0", n.input("i0"));
    CDB_ATOM_NODE* w0 = n.lut("w0", {RTM6_NET::out(r0)}, 0x3);
    CDB_ATOM_NODE* c0 = n.lut("c0", {RTM6_NET::out(w0), n.input("i1")}, 0x8);
    n.output(RTM6_NET::out(c0), "o0");
    MRL_RUN run(n.take());
    EXPECT_FALSE(run.rtm().is_forward_push_candidate(RTM6_NET::in(run.find("c0"), DB_DATA_A)));
}

// ------------------------------------------------------------------ hsadders

namespace {

// Registers ra..rd on inputs i0..i3 feed hsadder h0 (B's term inverted
// when asked, carry-in tied high when asked); both sums to outputs.
std::unique_ptr<CDB_ATOM_NETLIST> adder_after_registers(bool b_inverted, int carry_tie)
{
    RTM6_NET n(CDB_FAMILY_MRL);
    std::vector<CDB_ATOM_OTERM*> ins;
    for (const char* r : {"ra", "rb", "rc", "rd"})
        ins.push_back(RTM6_NET::out(n.reg(r, n.input(std::string("i") + r))));
    CDB_ATOM_NODE* h0 = hsadder(n, "h0", ins);
    if (b_inverted) RTM6_NET::in(h0, DB_DATA_B)->set_invert();
    CDB_ATOM_ITERM* cin = RTM6_NET::in(h0, DB_CHAIN_IN_0);
    if (carry_tie == 0) cin->set_gnd();
    if (carry_tie == 1) cin->set_vcc();
    n.output(h0->get_output_term_by_type(DB_HSADDER_SUM_0), "o0");
    n.output(h0->get_output_term_by_type(DB_HSADDER_SUM_1), "o1");
    return n.take();
}

// Inputs i0..i3 (A's term inverted when asked) into hsadder h0, its sums
// into registers q0 (data inverted when asked) and q1; a second hsadder h1
// on the carry when chained.
std::unique_ptr<CDB_ATOM_NETLIST> adder_before_registers(bool a_inverted, bool q0_inverted, int carry_tie, bool chained)
{
    RTM6_NET n(CDB_FAMILY_MRL);
    std::vector<CDB_ATOM_OTERM*> ins;
    for (int k = 0; k < 4; ++k) ins.push_back(n.input(rtm6_name("i", k)));
    CDB_ATOM_NODE* h0 = hsadder(n, "h0", ins);
    if (a_inverted) RTM6_NET::in(h0, DB_DATA_A)->set_invert();
    CDB_ATOM_ITERM* cin = RTM6_NET::in(h0, DB_CHAIN_IN_0);
    if (carry_tie == 0) cin->set_gnd();
    if (carry_tie == 1) cin->set_vcc();
    CDB_ATOM_NODE* q0 = n.reg("q0", h0->get_output_term_by_type(DB_HSADDER_SUM_0));
    if (q0_inverted) RTM6_NET::in(q0, DB_DATAIN)->set_invert();
    CDB_ATOM_NODE* q1 = n.reg("q1", h0->get_output_term_by_type(DB_HSADDER_SUM_1));
    n.output(RTM6_NET::out(q0), "o0");
    n.output(RTM6_NET::out(q1), "o1");
    if (chained) {
        std::vector<CDB_ATOM_OTERM*> more;
        for (int k = 4; k < 8; ++k) more.push_back(n.input(rtm6_name("i", k)));
        CDB_ATOM_NODE* h1 = hsadder(n, "h1", more, h0->get_output_term_by_type(DB_CHAIN_OUT_0));
        n.output(RTM6_NET::out(n.reg("q2", h1->get_output_term_by_type(DB_HSADDER_SUM_0))), "o2");
        n.output(RTM6_NET::out(n.reg("q3", h1->get_output_term_by_type(DB_HSADDER_SUM_1))), "o3");
    }
    return n.take();
}

}  // namespace

// The adder's function for all 64 combinations of A, B, C, D, the carry-in
// and the unused second chain input.
TEST(RetimingMrlHsadder, ModelAddsTwoBitPairsWithACarry)
{
    std::unique_ptr<CDB_ATOM_NODE> h(cdb_create_atom(CDB_FAMILY_MRL, CDB_KIND_HSADDER, nullptr));
    for (unsigned row = 0; row < 64; ++row) {
        unsigned in[CDB_ATOM_NODE::EVALUATE_INPUT_COUNT] = {};
        const unsigned a = row & 1u, b = (row >> 1) & 1u, c = (row >> 2) & 1u, d = (row >> 3) & 1u;
        const unsigned cin = (row >> 4) & 1u;
        in[0] = a, in[1] = b, in[2] = c, in[3] = d, in[CDB_ATOM_NODE::EVALUATE_CARRY_SLOT] = cin;
        in[8] = (row >> 5) & 1u;
        const unsigned low = a + b + cin, high = c + d + (low >> 1);
        EXPECT_EQ(h->evaluate_output(DB_HSADDER_SUM_0, in), low & 1u) << row;
        EXPECT_EQ(h->evaluate_output(DB_HSADDER_SUM_1, in), high & 1u) << row;
        EXPECT_EQ(h->evaluate_output(DB_CHAIN_OUT_0, in), high >> 1) << row;
    }
}

// Both sums get a register powering up to what they were at power-up: an
// inverted input term and a carry-in tied high count.
TEST(RetimingMrlHsadder, ForwardPushGivesBothSumsTheirPowerUpValues)
{
    for (int shape = 0; shape < 6; ++shape) {
        const bool b_inverted = (shape & 1) != 0;
        const int tie = shape / 2 - 1;  // -1 unconnected, 0 low, 1 high
        SCOPED_TRACE(shape);
        MRL_RUN run(adder_after_registers(b_inverted, tie));
        run.rtm().set_backwards(false);
        ASSERT_TRUE(run.rtm().forward_push(run.find("h0")));
        const unsigned cin = tie == 1 ? 1u : 0u, b = b_inverted ? 1u : 0u;
        int found = 0;
        for (const auto& [oterm, reg] : run.rtm().get_output_registers()) {
            const bool second = oterm->get_usage() == DB_HSADDER_SUM_1;
            const unsigned value = second ? ((b + cin) >> 1) : ((b + cin) & 1u);
            EXPECT_EQ(reg.clear_low, value == 0) << (second ? "sum1" : "sum0");
            ++found;
        }
        EXPECT_EQ(found, 2);
        expect_equivalent(*adder_after_registers(b_inverted, tie), run.netlist(), rtm6_name("rtm_mrl_hs_fwd_", shape));
    }
}

// Backward across an hsadder: B and D get registers at 0, A and C the
// sums; an inverted term, an inverted register behind a sum, a tied
// carry-in and a second adder on the chain all keep the design.
TEST(RetimingMrlHsadder, BackwardPushPlansInputRegistersThatGiveTheSums)
{
    {
        MRL_RUN run(adder_before_registers(false, false, -1, false));
        run.rtm().set_backwards(true);
        ASSERT_TRUE(run.rtm().backward_push(run.find("h0")));
        expect_equivalent(*adder_before_registers(false, false, -1, false), run.netlist(), "rtm_mrl_hs_bwd_plain");
        int planned = 0;
        for (const RETIME_ITERM& plan : run.rtm().get_planned_iterms()) {
            const int port = plan.iterm->get_any_usage_as();
            if (port == DB_DATA_B || port == DB_DATA_D) {
                EXPECT_TRUE(plan.reg.clear_low);
            }
            ++planned;
        }
        EXPECT_EQ(planned, 4);
    }
    for (int shape = 1; shape < 16; ++shape) {
        const bool a_inv = (shape & 1) != 0, q0_inv = (shape & 2) != 0, chained = (shape & 8) != 0;
        const int tie = (shape & 4) != 0 ? 1 : -1;
        SCOPED_TRACE(shape);
        MRL_RUN run(adder_before_registers(a_inv, q0_inv, tie, chained));
        run.rtm().set_backwards(true);
        ASSERT_TRUE(run.rtm().backward_push(run.find("h0")));
        expect_equivalent(*adder_before_registers(a_inv, q0_inv, tie, chained), run.netlist(),
                          rtm6_name("rtm_mrl_hs_bwd_", shape));
    }
}

// An adder whose first sum reads no input can only show the carry-in: a
// register behind it that powers up to 1 cannot be pushed across.
TEST(RetimingMrlHsadder, BackwardPushRefusesASumNoInputCanGive)
{
    const auto design = [] {
        RTM6_NET n(CDB_FAMILY_MRL);
        CDB_ATOM_NODE* h0 = hsadder(n, "h0", {nullptr, nullptr, n.input("i2"), n.input("i3")});
        CDB_ATOM_NODE* q0 = n.reg("q0", h0->get_output_term_by_type(DB_HSADDER_SUM_0));
        RTM6_NET::in(q0, DB_DATAIN)->set_invert();
        n.output(RTM6_NET::out(q0), "o0");
        n.output(RTM6_NET::out(n.reg("q1", h0->get_output_term_by_type(DB_HSADDER_SUM_1))), "o1");
        return n.take();
    };
    MRL_RUN run(design());
    run.rtm().set_backwards(true);
    EXPECT_FALSE(run.rtm().backward_push(run.find("h0")));
    expect_equivalent(*design(), run.netlist(), "rtm_mrl_hs_refused");
}

// An adder with read sums may move; one whose sums nobody reads moves
// backward only with the register the push carries along.
TEST(RetimingMrlHsadder, UnreadSumsMoveOnlyWithACurrentRegister)
{
    RTM6_NET n(CDB_FAMILY_MRL);
    std::vector<CDB_ATOM_OTERM*> ins;
    for (int k = 0; k < 4; ++k) ins.push_back(n.input(rtm6_name("i", k)));
    CDB_ATOM_NODE* h0 = hsadder(n, "h0", ins);
    n.output(RTM6_NET::out(n.reg("q0", h0->get_output_term_by_type(DB_HSADDER_SUM_0))), "o0");
    n.output(RTM6_NET::out(n.reg("q1", h0->get_output_term_by_type(DB_HSADDER_SUM_1))), "o1");
    hsadder(n, "h1", ins);
    MRL_RUN run(n.take());
    for (bool backwards : {true, false}) {
        run.rtm().set_backwards(backwards);
        run.rtm().set_current_register(false);
        EXPECT_FALSE(run.rtm().is_push_blocked_by_region_map(run.find("h0")));
        EXPECT_EQ(run.rtm().is_push_blocked_by_region_map(run.find("h1")), backwards);
        run.rtm().set_current_register(true);
        EXPECT_FALSE(run.rtm().is_push_blocked_by_region_map(run.find("h1")));
    }
}

// A chain input driven by a logic cell is no chain: the adder is not pushed.
TEST(RetimingMrlHsadder, AChainInputFromLogicRefusesThePush)
{
    RTM6_NET n(CDB_FAMILY_MRL);
    std::vector<CDB_ATOM_OTERM*> ins;
    for (int k = 0; k < 4; ++k) ins.push_back(n.input(rtm6_name("i", k)));
    CDB_ATOM_NODE* c0 = n.lut("c0", {n.input("i4"), n.input("i5")}, 0x8);
    CDB_ATOM_NODE* h0 = hsadder(n, "h0", ins, RTM6_NET::out(c0));
    n.output(RTM6_NET::out(n.reg("q0", h0->get_output_term_by_type(DB_HSADDER_SUM_0))), "o0");
    MRL_RUN run(n.take());
    run.rtm().set_backwards(true);
    EXPECT_FALSE(run.rtm().backward_push(run.find("h0")));
    EXPECT_TRUE(run.rtm().is_push_blocked_by_region_map(run.find("h0")));
}

// ------------------------------------------------------------------ arithmetic cells

namespace {

// Registers on A..D of two arithmetic cells x0 -> x1 (carry chain); x0's
// comb output is read (its sum not), x1's sum is read; A of x1 inverted
// when asked.
std::unique_ptr<CDB_ATOM_NETLIST> arithmetic_chain(bool inverted)
{
    RTM6_NET n(CDB_FAMILY_MRL);
    CDB_ATOM_OTERM* carry = nullptr;
    HDB_NAME_MGR* names = n.netlist().get_name_mgr();
    for (int k = 0; k < 2; ++k) {
        std::vector<CDB_ATOM_OTERM*> ins;
        for (int j = 0; j < 4; ++j)
            ins.push_back(RTM6_NET::out(n.reg(rtm6_name("r", 10 * k + j), n.input(rtm6_name("i", 10 * k + j)))));
        // comb: A OR C; sum halves: A and (A XOR B) read into the adder
        CDB_ATOM_NODE* cell = n.lut(rtm6_name("x", k), ins, 0xfafa);
        cell->set_sum_lutmask(CDB_LUTMASK(5, 0x6666aaaaULL));
        if (inverted && k == 1) RTM6_NET::in(cell, DB_DATA_A)->set_invert();
        CDB_ATOM_ITERM* cin = cell->add_input_term(DB_CARRY_IN);
        if (carry != nullptr) carry->insert_fanout(cin);
        CDB_ATOM_OTERM* sum = cell->add_output_term(DB_SUM_OUT, names->create_unique_name(rtm6_name("x_s", k), 0));
        carry = cell->add_output_term(DB_CARRY_OUT, names->create_unique_name(rtm6_name("x_c", k), 0));
        if (k == 0) n.output(RTM6_NET::out(cell), "oc");
        else n.output(sum, "os");
    }
    return n.take();
}

}  // namespace

// The comb output of a chain cell gets a register powering up to the comb
// function's value, not the sum's.
TEST(RetimingMrlArithmetic, ForwardPushGivesAReadCombOutputItsOwnValue)
{
    for (bool inverted : {false, true}) {
        SCOPED_TRACE(inverted);
        MRL_RUN run(arithmetic_chain(inverted));
        run.rtm().set_backwards(false);
        ASSERT_TRUE(run.rtm().forward_push(run.find("x0")));
        // A OR C of registers at 0 is 0 where the sum, A + NOT(A XOR B), is 1.
        for (const auto& [oterm, reg] : run.rtm().get_output_registers()) {
            if (oterm->get_usage() == DB_COMB_OUT) {
                EXPECT_TRUE(reg.clear_low);
            }
        }
        expect_equivalent(*arithmetic_chain(inverted), run.netlist(), rtm6_name("rtm_mrl_arith_", inverted ? 1 : 0));
    }
}

// Backward across the chain: the sums' registers move onto the cells'
// inputs with values the chain's sum functions turn into the old ones.
TEST(RetimingMrlArithmetic, BackwardPushAcrossAChainKeepsTheSums)
{
    const auto design = [] {
        RTM6_NET n(CDB_FAMILY_MRL);
        CDB_ATOM_OTERM* carry = nullptr;
        HDB_NAME_MGR* names = n.netlist().get_name_mgr();
        for (int k = 0; k < 2; ++k) {
            std::vector<CDB_ATOM_OTERM*> ins;
            for (int j = 0; j < 4; ++j) ins.push_back(n.input(rtm6_name("i", 10 * k + j)));
            CDB_ATOM_NODE* cell = n.lut(rtm6_name("x", k), ins, 0xfafa);
            cell->set_sum_lutmask(CDB_LUTMASK(5, 0x6666aaaaULL));
            CDB_ATOM_ITERM* cin = cell->add_input_term(DB_CARRY_IN);
            if (carry != nullptr) carry->insert_fanout(cin);
            CDB_ATOM_OTERM* sum = cell->add_output_term(DB_SUM_OUT, names->create_unique_name(rtm6_name("x_s", k), 0));
            carry = cell->add_output_term(DB_CARRY_OUT, names->create_unique_name(rtm6_name("x_c", k), 0));
            CDB_ATOM_NODE* q = n.reg(rtm6_name("q", k), sum);
            if (k == 1) RTM6_NET::in(q, DB_DATAIN)->set_invert();
            n.output(RTM6_NET::out(q), rtm6_name("o", k));
        }
        return n.take();
    };
    MRL_RUN run(design());
    run.rtm().set_backwards(true);
    ASSERT_TRUE(run.rtm().backward_push(run.find("x0")));
    expect_equivalent(*design(), run.netlist(), "rtm_mrl_arith_bwd");
}

// ------------------------------------------------------------------ inverters

TEST(RetimingMrlCells, InvertersAndBuffersUseTheMrlBitOrder)
{
    const auto design = [] {
        RTM6_NET n(CDB_FAMILY_MRL);
        CDB_ATOM_NODE* c0 = n.lut("c0", {n.input("i0"), n.input("i1")}, 0x8);
        n.output(RTM6_NET::out(n.reg("r0", RTM6_NET::out(c0))), "o0");
        return n.take();
    };
    MRL_RUN run(design());
    CDB_ATOM_ITERM* a = RTM6_NET::in(run.find("c0"), DB_DATA_A);
    run.rtm().insert_inverter_lcell(a);
    EXPECT_EQ(run.api()->get_fsyn_net_util()->get_lutmask(a->get_source()->get_my_node()), 0x5555555555555555ULL);
    run.rtm().insert_inverter_lcell(a);
    CDB_ATOM_ITERM* b = RTM6_NET::in(run.find("c0"), DB_DATA_B);
    run.rtm().insert_buffer_lcell(b);
    EXPECT_EQ(run.api()->get_fsyn_net_util()->get_lutmask(b->get_source()->get_my_node()), 0xaaaaaaaaaaaaaaaaULL);
    expect_equivalent(*design(), run.netlist(), "rtm_mrl_inverters");
    // A constant flips; no cell is made.
    run.api()->get_fsyn_cdb_interface()->set_iterm_vcc(b);
    const size_t nodes = run.netlist().get_node_count();
    run.rtm().insert_inverter_lcell(b);
    EXPECT_TRUE(b->is_gnd());
    EXPECT_EQ(run.netlist().get_node_count(), nodes);
}

// ------------------------------------------------------------------ control mux

namespace {

// The mux's next value, C ? (D ? 0 : (F ? E : A)) : B, for the controls in use.
unsigned mux_function(unsigned index, bool clear, bool enable, bool sdata)
{
    const unsigned a = index & 1u, b = (index >> 1) & 1u, c = enable ? (index >> 2) & 1u : 1u;
    const unsigned d = clear ? (index >> 3) & 1u : 0u, e = (index >> 4) & 1u, f = sdata ? (index >> 5) & 1u : 0u;
    return c ? (d ? 0u : (f ? e : a)) : b;
}

// Register r0 on c0 = i0 AND i1 with an enable and a synchronous clear,
// each driven by an input or tied to a constant (-1 driven, 0 low, 1 high);
// with data_vcc its data input is tied high instead, with sdata_vcc it has
// synchronous data tied high and a load from an input, with sdata_open that
// load and open synchronous data.
std::unique_ptr<CDB_ATOM_NETLIST> controlled_register(int enable, int sclear, bool data_vcc = false,
                                                      bool sdata_vcc = false, bool sdata_open = false)
{
    RTM6_NET n(CDB_FAMILY_MRL);
    CDB_ATOM_NODE* c0 = n.lut("c0", {n.input("i0"), n.input("i1")}, 0x8);
    CDB_ATOM_NODE* r0 = n.reg("r0", data_vcc ? nullptr : RTM6_NET::out(c0));
    if (data_vcc) {
        RTM6_NET::in(r0, DB_DATAIN)->set_vcc();
        n.output(RTM6_NET::out(c0), "oc");
    }
    if (sdata_vcc) {
        n.control(r0, DB_SYNCH_DATA, nullptr)->set_vcc();
        n.control(r0, DB_SYNCH_LOAD, n.input("ld"));
    }
    if (sdata_open) {
        n.control(r0, DB_SYNCH_DATA, nullptr);
        n.control(r0, DB_SYNCH_LOAD, n.input("ld"));
    }
    CDB_ATOM_ITERM* e = n.control(r0, DB_CLOCK_ENABLE, enable < 0 ? n.input("en") : nullptr);
    if (enable == 0) e->set_gnd();
    if (enable == 1) e->set_vcc();
    CDB_ATOM_ITERM* s = n.control(r0, DB_SYNCH_CLEAR, sclear < 0 ? n.input("sc") : nullptr);
    if (sclear == 0) s->set_gnd();
    if (sclear == 1) s->set_vcc();
    n.output(RTM6_NET::out(r0), "o0");
    return n.take();
}

}  // namespace

TEST(RetimingMrlDemux, MasksFollowTheMuxFunctionInTheMrlBitOrder)
{
    for (int used = 1; used < 8; ++used) {
        const bool clear = (used & 4) != 0, enable = (used & 2) != 0, sdata = (used & 1) != 0;
        const uint64_t mask = morv_retiming_mrl_mux_mask(clear, enable, sdata);
        for (unsigned index = 0; index < 64; ++index)
            EXPECT_EQ((mask >> index) & 1u, mux_function(index, clear, enable, sdata)) << used << " " << index;
    }
    EXPECT_EQ(morv_retiming_mrl_mux_mask(false, true, false), 0xacacacacacacacacULL);
}

// Constant controls are valid: a low clear or a high enable is absent, a
// high clear is folded into the mask, a low enable holds (no mux). Data or
// synchronous data tied high reach the mux as a constant 1; a live load
// with open synchronous data loads 0.
TEST(RetimingMrlDemux, ConstantClearOrEnableMakesAValidMux)
{
    struct CASE
    {
        int enable, sclear;
        bool demuxed;
        bool data_vcc = false, sdata_vcc = false, sdata_open = false;
    };
    int k = 0;
    for (const CASE& c :
         {CASE{-1, 0, true}, CASE{-1, 1, true}, CASE{1, -1, true}, CASE{0, -1, false}, CASE{-1, -1, true},
          CASE{1, 1, true}, CASE{-1, 0, true, true, false}, CASE{-1, 0, true, false, true},
          CASE{-1, 0, true, false, false, true}, CASE{1, -1, true, false, false, true}}) {
        SCOPED_TRACE(k);
        const auto build = [&c] {
            return controlled_register(c.enable, c.sclear, c.data_vcc, c.sdata_vcc, c.sdata_open);
        };
        MRL_RUN run(build());
        CDB_ATOM_NODE* r0 = run.find("r0");
        EXPECT_EQ(run.rtm().create_control_mux(r0), c.demuxed);
        if (c.enable == -1 && c.sclear == 0 && !c.sdata_vcc && !c.sdata_open) {
            CDB_ATOM_NODE* mux = RTM6_NET::in(r0, DB_DATAIN)->get_source()->get_my_node();
            EXPECT_EQ(run.api()->get_fsyn_net_util()->get_lutmask(mux), 0xacacacacacacacacULL);
        }
        expect_equivalent(*build(), run.netlist(), rtm6_name("rtm_mrl_demux_", k++));
    }
}

namespace {

enum MUX_DATA
{
    DATA_DRIVEN,  // from c0, the term bound to a boundary port
    DATA_OPEN,    // the term is there, unconnected
    DATA_NONE     // the register has no data term
};

struct PORT_ROW
{
    const char* tag;
    int family;
    bool enable_inverted, sclear_inverted;
    MUX_DATA data;
    bool demuxed;
};

// Register r0 with its data from c0 = i0 AND i1 (or as the row says), a
// driven enable and a driven synchronous clear, inverted as the row says.
std::unique_ptr<CDB_ATOM_NETLIST> ported_register(const PORT_ROW& row)
{
    RTM6_NET n(row.family);
    CDB_ATOM_NODE* c0 = n.lut("c0", {n.input("i0"), n.input("i1")}, 0x8);
    CDB_ATOM_NODE* r0 = n.reg("r0", row.data == DATA_DRIVEN ? RTM6_NET::out(c0) : nullptr);
    n.output(RTM6_NET::out(c0), "oc");
    if (row.data == DATA_NONE) r0->delete_input_term(RTM6_NET::in(r0, DB_DATAIN));
    n.control(r0, DB_CLOCK_ENABLE, n.input("en"))->set_invert(row.enable_inverted);
    n.control(r0, DB_SYNCH_CLEAR, n.input("sc"))->set_invert(row.sclear_inverted);
    n.output(RTM6_NET::out(r0), "o0");
    return n.take();
}

template <typename RUN>
void check_mux_ports(const PORT_ROW& row)
{
    SCOPED_TRACE(row.tag);
    RUN run(ported_register(row), row.family, nullptr, true);
    CDB_ATOM_NODE* r0 = run.find("r0");
    CDB_ATOM_ITERM* data = RTM6_NET::in(r0, DB_DATAIN);
    const int data_port = data != nullptr ? run.assign_port(data, "p|data") : -1;
    const struct
    {
        int control, mux_input;
        bool inverted;
        int port;
    } controls[] = {
        {DB_CLOCK_ENABLE, DB_DATA_C, row.enable_inverted, run.assign_port(RTM6_NET::in(r0, DB_CLOCK_ENABLE), "p|en")},
        {DB_SYNCH_CLEAR, DB_DATA_D, row.sclear_inverted, run.assign_port(RTM6_NET::in(r0, DB_SYNCH_CLEAR), "p|sc")},
    };
    const std::string before = native_text(run.netlist());
    MORV_LOG_CAPTURE trace(100);
    ASSERT_EQ(run.rtm().create_control_mux(r0), row.demuxed);
    if (!row.demuxed) {
        EXPECT_TRUE(native_text(run.netlist()) == before);
        return;
    }
    // What is announced: the new edge into the register's data input, and
    // in the branch the register as well once the mux drives it.
    const bool mrl = row.family == CDB_FAMILY_MRL;
    const std::string r0_id = "(id " + std::to_string(r0->get_id()) + ")";
    int register_announced = 0;
    bool data_edge_announced = false;
    for (const std::string& line : trace.lines()) {
        if (line.find("Modifying node") != std::string::npos && line.find(r0_id) != std::string::npos)
            ++register_announced;
        data_edge_announced |= line.find("feeding iterm (" + std::to_string(DB_DATAIN) + ", 0) of " + r0_id +
                                         " (disconnected=0)") != std::string::npos;
    }
    EXPECT_EQ(register_announced, mrl ? 0 : 1);
    EXPECT_TRUE(data_edge_announced);
    // The branch's mux takes the ports of the signals it reads, but behind
    // an inverter; this family's takes none and its data input keeps its own
    // (as an open one does in both).
    CDB_ATOM_NODE* mux = RTM6_NET::in(r0, DB_DATAIN)->get_source()->get_my_node();
    for (const auto& c : controls) {
        EXPECT_EQ(run.port_of(RTM6_NET::in(r0, c.control)), -1) << c.control;
        EXPECT_EQ(run.port_of(RTM6_NET::in(mux, c.mux_input)), mrl || c.inverted ? -1 : c.port) << c.control;
    }
    CDB_ATOM_ITERM* mux_data = RTM6_NET::in(mux, DB_DATA_A);
    EXPECT_EQ(run.port_of(mux_data), mrl || row.data != DATA_DRIVEN ? -1 : data_port);
    EXPECT_EQ(run.port_of(RTM6_NET::in(r0, DB_DATAIN)), mrl || row.data == DATA_OPEN ? data_port : -1);
    // An open data input reads 0: the branch ties the mux's to a constant 0,
    // this family leaves it open.
    if (row.data == DATA_OPEN) {
        EXPECT_EQ(mux_data->is_connected(), !mrl);
    }
    expect_equivalent(*ported_register(row), run.netlist(), std::string("rtm_mux_ports_") + row.tag);
}

}  // namespace

TEST(RetimingMrlDemux, ControlMuxBoundaryPortsAndDataInputFollowTheFamily)
{
    const PORT_ROW rows[] = {
        {"brk", CDB_FAMILY_BRK, false, false, DATA_DRIVEN, true},
        {"brk_inverted_enable", CDB_FAMILY_BRK, true, false, DATA_DRIVEN, true},
        {"brk_open_data", CDB_FAMILY_BRK, false, true, DATA_OPEN, true},
        {"brk_no_data_term", CDB_FAMILY_BRK, false, false, DATA_NONE, true},
        {"mrl", CDB_FAMILY_MRL, false, false, DATA_DRIVEN, true},
        {"mrl_inverted_controls", CDB_FAMILY_MRL, true, true, DATA_DRIVEN, true},
        {"mrl_open_data", CDB_FAMILY_MRL, false, true, DATA_OPEN, true},
        {"mrl_no_data_term", CDB_FAMILY_MRL, false, false, DATA_NONE, false},
    };
    for (const PORT_ROW& row : rows) {
        if (row.family == CDB_FAMILY_MRL) check_mux_ports<MRL_RUN>(row);
        else check_mux_ports<RTM6_RUN>(row);
    }
}

// ------------------------------------------------------------------ whole passes

// Four passes of the MRL class on generated MRL netlists (hsadder chains,
// wire LUTs, inversion bits, constant ties) under the timing object's own
// analysis.
TEST(RetimingMrlSeq, FourPassesStayEquivalent)
{
    if (!abc_is_available()) GTEST_SKIP() << "berkeley-abc is not installed";
    int pushes = 0, hsadder_pushes = 0;
    for (int k = 0; k < (k_small_designs_only ? 6 : 20); ++k) {
        const uint64_t seed = 4500 + static_cast<uint64_t>(k);
        SEQ_GEN_OPTIONS o;
        o.m_family = CDB_FAMILY_MRL;
        o.m_cells = 10 + static_cast<int>(seed % 7);
        o.m_registers = 6 + static_cast<int>(seed % 4);
        std::unique_ptr<CDB_ATOM_NETLIST> before = seq_generate(o, seed);
        RETIMING_SEQ_RUN<MRL_LEAF> run(CDB_FAMILY_MRL, seq_generate(o, seed), "", RETIMING_SLACK_SCRIPT{});
        place_every_node(run.api(), run.netlist());
        run.leaf().set_srt(0.2);
        for (int pass = 0; pass < 4; ++pass) {
            run.run_pass(pass, 3);
            const SEQ_VERDICT v =
                seq_check(*before, run.netlist(), rtm6_name("rtm_mrl_gen_", static_cast<long long>(seed * 10 + pass)),
                          true, 300, static_cast<uint64_t>(pass + 1));
            ASSERT_TRUE(v.equivalent()) << seed << " after pass " << pass << ": " << v.describe();
        }
        pushes += run.leaf().m_pushes;
        hsadder_pushes += run.leaf().m_hsadder_pushes;
    }
    std::printf("RTM-MRL: pushes %d, across hsadders %d\n", pushes, hsadder_pushes);
    EXPECT_GT(pushes, 0);
}

// ------------------------------------------------------------------ the sample design

namespace {

// The design morv-fit reads from designs/hsadder_mrl.txt: hsadder chains of
// 4 to 8 bits between register banks. In the "front" chains the operands
// pass three LUT levels before the adders and the sums go straight into
// registers (backward pushes across the adders); in the "back" chains the
// operand registers reach the adders directly or through inverting and
// non-inverting wire LUTs and the sums pass LUT levels after them (forward
// pushes). Beside them: an arithmetic chain whose cells' comb outputs are
// read too, and registers with an enable or a synchronous clear tied to a
// constant.
std::unique_ptr<CDB_ATOM_NETLIST> hsadder_sample()
{
    RTM6_NET n(CDB_FAMILY_MRL);
    const auto bank = [&n](const std::string& base, int width) {
        std::vector<CDB_ATOM_OTERM*> q;
        for (int k = 0; k < width; ++k) {
            std::string name = base;
            name += std::to_string(k);
            q.push_back(RTM6_NET::out(n.reg("r" + name, n.input("i" + name))));
        }
        return q;
    };
    const auto logic = [&n](const std::string& base, CDB_ATOM_OTERM* x, CDB_ATOM_OTERM* y, int levels) {
        for (int l = 0; l < levels; ++l) {
            std::string name = base;
            name += std::to_string(l);
            x = RTM6_NET::out(n.lut(name, {x, y}, l % 2 == 0 ? 0x6 : 0xe));
        }
        return x;
    };
    for (int chain = 0; chain < 4; ++chain) {
        const bool front = chain % 2 == 0;
        const int bits = 4 + 2 * chain / 2 + (chain == 3 ? 2 : 0);  // 4, 4, 6, 8
        const std::string c = rtm6_name("h", chain);
        std::vector<CDB_ATOM_OTERM*> a = bank(c + "a", bits), b = bank(c + "b", bits);
        CDB_ATOM_OTERM* carry = nullptr;
        for (int k = 0; k < bits / 2; ++k) {
            std::vector<CDB_ATOM_OTERM*> ins = {a[2 * k], b[2 * k], a[2 * k + 1], b[2 * k + 1]};
            if (front) {
                for (int j = 0; j < 4; ++j)
                    ins[j] =
                        logic(c + "f" + std::to_string(k) + "_" + std::to_string(j) + "_", ins[j], ins[(j + 1) % 4], 3);
            } else if (k % 2 == 0) {
                ins[0] = RTM6_NET::out(n.lut(c + "w" + std::to_string(k), {ins[0]}, k % 4 == 0 ? 0x1 : 0x2));
                ins[3] = RTM6_NET::out(n.lut(c + "v" + std::to_string(k), {ins[3]}, 0x2));
            }
            CDB_ATOM_NODE* h = hsadder(n, c + "_" + std::to_string(k), ins, carry);
            carry = h->get_output_term_by_type(DB_CHAIN_OUT_0);
            for (int s = 0; s < 2; ++s) {
                CDB_ATOM_OTERM* sum = h->get_output_term_by_type(s == 0 ? DB_HSADDER_SUM_0 : DB_HSADDER_SUM_1);
                const std::string o = c + "s" + std::to_string(2 * k + s);
                if (!front) sum = logic(o + "_l", sum, a[(2 * k + s + 1) % bits], 3);
                n.output(RTM6_NET::out(n.reg("q" + o, sum)), "o" + o);
            }
        }
    }
    // Arithmetic cells: A..D into the sum, the comb function of A and B
    // read too on every other cell.
    std::vector<CDB_ATOM_OTERM*> x = bank("xa", 4), y = bank("xb", 4);
    CDB_ATOM_OTERM* carry = nullptr;
    for (int k = 0; k < 3; ++k) {
        CDB_ATOM_NODE* cell = n.lut(rtm6_name("x", k), {x[k], y[k], x[k + 1], y[k + 1]}, 0x8888);
        cell->set_sum_lutmask(CDB_LUTMASK(5, 0x6666aaaaULL));
        CDB_ATOM_ITERM* cin = cell->add_input_term(DB_CARRY_IN);
        if (carry != nullptr) carry->insert_fanout(cin);
        HDB_NAME_MGR* names = n.netlist().get_name_mgr();
        CDB_ATOM_OTERM* sum = cell->add_output_term(DB_SUM_OUT, names->create_unique_name(rtm6_name("x_s", k), 0));
        carry = cell->add_output_term(DB_CARRY_OUT, names->create_unique_name(rtm6_name("x_c", k), 0));
        // Every other cell's sum is unread: its comb output alone is used.
        if (k % 2 == 0) n.output(RTM6_NET::out(n.reg(rtm6_name("qxs", k), sum)), rtm6_name("oxs", k));
        n.output(RTM6_NET::out(n.reg(rtm6_name("qxc", k), RTM6_NET::out(cell))), rtm6_name("oxc", k));
    }
    // An enable tied high and a synchronous clear tied low.
    std::vector<CDB_ATOM_OTERM*> z = bank("z", 2);
    CDB_ATOM_NODE* zc = n.lut("zc", {z[0], z[1]}, 0x6);
    CDB_ATOM_NODE* ze = n.reg("qze", RTM6_NET::out(zc));
    n.control(ze, DB_CLOCK_ENABLE, nullptr)->set_vcc();
    CDB_ATOM_NODE* zs = n.reg("qzs", RTM6_NET::out(zc));
    n.control(zs, DB_SYNCH_CLEAR, nullptr)->set_gnd();
    n.output(RTM6_NET::out(ze), "oze");
    n.output(RTM6_NET::out(zs), "ozs");
    return n.take();
}

}  // namespace

TEST(RetimingMrlSample, SampleDesignIsTheGeneratorsOwn)
{
    const std::string text = canonical_ids(native_text(*hsadder_sample()));
    const std::string path = std::string(MORV_SOURCE_DIR) + "/designs/hsadder_mrl.txt";
    EXPECT_TRUE(sample_design_is_current(path, text));
}

// Four passes of the MRL class under the timing object's own analysis move
// registers across hsadders both ways and keep the design.
TEST(RetimingMrlSample, PassesPushAcrossHsaddersAndStayEquivalent)
{
    if (!abc_is_available()) GTEST_SKIP() << "berkeley-abc is not installed";
    std::unique_ptr<CDB_ATOM_NETLIST> before = hsadder_sample();
    RETIMING_SEQ_RUN<MRL_LEAF> run(CDB_FAMILY_MRL, hsadder_sample(), "", RETIMING_SLACK_SCRIPT{});
    place_every_node(run.api(), run.netlist());
    run.leaf().set_srt(0.2);
    for (int pass = 0; pass < 4; ++pass) {
        run.run_pass(pass, 3);
        const SEQ_VERDICT v = seq_check(*before, run.netlist(), rtm6_name("rtm_mrl_sample_", pass), true, 300,
                                        static_cast<uint64_t>(pass + 1));
        ASSERT_TRUE(v.equivalent()) << "after pass " << pass << ": " << v.describe();
    }
    std::printf("RTM-MRL sample: pushes %d, across hsadders %d\n", run.leaf().m_pushes, run.leaf().m_hsadder_pushes);
    EXPECT_GT(run.leaf().m_hsadder_pushes, 0);
}

}  // namespace retiming_mrl_test
