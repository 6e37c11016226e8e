// The 4-LUT retiming hooks on minimal ZEPLA netlists, each edit proved by
// the sequential harness against an unedited copy. Every case here is one
// where reading an inversion bit wrongly (a register's data input, a
// LUT's input term, a constant term's bit, the copied bit of a new
// register) changes what the design computes.
#include <gtest/gtest.h>

#include <functional>

#include "retiming_4lut_bench.h"

namespace retiming_4lut_fault_test {

namespace {

using BUILD = std::function<std::unique_ptr<CDB_ATOM_NETLIST>()>;

void expect_equivalent(const CDB_ATOM_NETLIST& before, RTM4_RUN& run, const std::string& tag)
{
    const SEQ_VERDICT verdict = seq_check(before, run.netlist(), tag, true, 200);
    EXPECT_TRUE(verdict.equivalent()) << tag << ": " << verdict.describe();
}

// i0, i1 -> c (mask) -> r -> o; the register's data input optionally
// inverted, c's B input optionally a constant made of GND and an inversion
// bit (logical VCC).
std::unique_ptr<CDB_ATOM_NETLIST> cell_then_register(uint64_t mask, bool data_inverted, bool b_constant,
                                                     bool b_inverted = false)
{
    RTM4_NET net;
    CDB_ATOM_OTERM* i0 = net.input("i0");
    CDB_ATOM_OTERM* i1 = net.input("i1");
    CDB_ATOM_NODE* c = net.lut("c", {i0, b_constant ? nullptr : i1}, mask);
    if (b_constant) {
        RTM4_NET::in(c, DB_DATA_B)->set_gnd();
        RTM4_NET::in(c, DB_DATA_B)->set_invert();
    } else if (b_inverted) {
        RTM4_NET::in(c, DB_DATA_B)->set_invert();
    }
    CDB_ATOM_NODE* r = net.reg("r", RTM4_NET::out(c));
    if (data_inverted) RTM4_NET::in(r, DB_DATAIN)->set_invert();
    net.output(RTM4_NET::out(r), "o");
    net.output(i1, "o1");
    return net.take();
}

int count_nodes(const CDB_ATOM_NETLIST& netlist)
{
    int n = 0;
    for (CDB_ATOM_NODE* node : netlist) n += node != nullptr ? 1 : 0;
    return n;
}

bool push_back_through(RTM4_RUN& run)
{
    return run.push_backward(RTM4_NET::in(run.find("r"), DB_DATAIN), run.find("c"));
}

}  // namespace

// A register reading NOT c powers up as if c were 1 there,
// so an AND must get input registers that power up to 1 (inverter,
// register, inverter), and the fanouts adopting c take the inversion.
TEST(Retiming4LutFaults, InvertedDataInputPushedBackwardAcrossAnd)
{
    const auto before = cell_then_register(0x8888, true, false);
    RTM4_RUN run(cell_then_register(0x8888, true, false));
    ASSERT_TRUE(push_back_through(run));
    for (const RETIME_ITERM& plan : run.rtm().get_planned_iterms()) EXPECT_FALSE(plan.reg.clear_low);
    expect_equivalent(*before, run, "f17a_f11_and");
}

TEST(Retiming4LutFaults, PlainRegisterPushedBackwardAcrossXorAndOr)
{
    for (uint64_t mask : {0x6666ULL, 0xEEEEULL, 0x1111ULL}) {
        for (bool inverted : {false, true}) {
            const std::string tag = "plain_" + std::to_string(mask) + (inverted ? "_inv" : "");
            const auto before = cell_then_register(mask, inverted, false);
            RTM4_RUN run(cell_then_register(mask, inverted, false));
            ASSERT_TRUE(push_back_through(run)) << tag;
            expect_equivalent(*before, run, tag);
        }
    }
}

// The LUT reads NOT i1 on B; the search must take the register's
// value through that inversion bit.
TEST(Retiming4LutFaults, SearchReadsTheInputInversionBits)
{
    for (bool reg_inverted : {false, true}) {
        const auto before = cell_then_register(0x8888, reg_inverted, false, true);
        RTM4_RUN run(cell_then_register(0x8888, reg_inverted, false, true));
        ASSERT_TRUE(push_back_through(run));
        expect_equivalent(*before, run, reg_inverted ? "f17b_inv" : "f17b");
    }
}

// B is tied to logical VCC through GND and its inversion bit; a
// register powering up to 0 needs index 0, so B gets a register holding 0
// that then passes VCC. A term that kept its inversion bit on top of that
// register would read 0 for good.
TEST(Retiming4LutFaults, ConstantTermGetsARegisterOfItsLogicalValue)
{
    for (bool reg_inverted : {false, true}) {
        const auto before = cell_then_register(0x8888, reg_inverted, true);
        RTM4_RUN run(cell_then_register(0x8888, reg_inverted, true));
        ASSERT_TRUE(push_back_through(run));
        expect_equivalent(*before, run, reg_inverted ? "f1_inv" : "f1");
    }
}

TEST(Retiming4LutFaults, ConstantOutputOppositeToPowerUpFails)
{
    RTM4_RUN run(cell_then_register(0x0000, true, false));
    EXPECT_FALSE(push_back_through(run));
    EXPECT_TRUE(run.rtm().get_planned_iterms().empty());
}

// On removal, a register whose data input is inverted, pushed forward
// across a LUT; the LUT's term adopts the register's driver and must take
// the inversion, and the output register must power up to what the LUT
// computed from the old register's output.
TEST(Retiming4LutFaults, ForwardThenBackwardAcrossTheSameCell)
{
    const auto build = [] {
        RTM4_NET net;
        CDB_ATOM_OTERM* i0 = net.input("i0");
        CDB_ATOM_OTERM* i1 = net.input("i1");
        CDB_ATOM_NODE* ra = net.reg("ra", i0);
        RTM4_NET::in(ra, DB_DATAIN)->set_invert();
        CDB_ATOM_NODE* rb = net.reg("rb", i1);
        CDB_ATOM_NODE* c = net.lut("c", {RTM4_NET::out(ra), RTM4_NET::out(rb)}, 0x7777);  // NAND
        RTM4_NET::in(c, DB_DATA_A)->set_invert();
        net.output(RTM4_NET::out(c), "o");
        return net.take();
    };
    const auto before = build();
    RTM4_RUN run(build());
    CDB_ATOM_NODE* c = run.find("c");
    ASSERT_TRUE(run.push_forward(c));
    expect_equivalent(*before, run, "forward");
    CDB_ATOM_OTERM* comb = c->get_output_term_by_type(DB_COMB_OUT);
    ASSERT_EQ(comb->get_number_of_fanout(), 1);
    ASSERT_TRUE(run.push_backward(*comb->begin_iterm_fanout(), c));
    expect_equivalent(*before, run, "forward_backward");
}

// A clear asserted later must leave the moved registers where power-up
// leaves them: a register that has to read 1 is built with inverters
// around it, so that it clears to 1 as well. Both registers share a
// synchronous and an asynchronous clear.
TEST(Retiming4LutFaults, ClearedRegistersMovedAcrossANandKeepTheirClearedValue)
{
    const auto build = [] {
        RTM4_NET net;
        CDB_ATOM_OTERM* i0 = net.input("i0");
        CDB_ATOM_OTERM* i1 = net.input("i1");
        CDB_ATOM_OTERM* sc = net.input("sc");
        CDB_ATOM_OTERM* rst = net.input("rst");
        std::vector<CDB_ATOM_NODE*> regs = {net.reg("ra", i0), net.reg("rb", i1)};
        for (CDB_ATOM_NODE* r : regs) {
            net.control(r, DB_SYNCH_CLEAR, sc);
            net.control(r, DB_CLEAR, rst);
        }
        CDB_ATOM_NODE* c = net.lut("c", {RTM4_NET::out(regs[0]), RTM4_NET::out(regs[1])}, 0x7777);  // NAND
        net.output(RTM4_NET::out(c), "o");
        return net.take();
    };
    const auto before = build();
    RTM4_RUN run(build());
    CDB_ATOM_NODE* c = run.find("c");
    ASSERT_TRUE(run.push_forward(c));
    expect_equivalent(*before, run, "clear_forward");
    CDB_ATOM_OTERM* comb = c->get_output_term_by_type(DB_COMB_OUT);
    ASSERT_EQ(comb->get_number_of_fanout(), 1);
    CDB_ATOM_NODE* out_reg = (*comb->begin_iterm_fanout())->get_my_node();
    ASSERT_TRUE(out_reg->is_register());
    EXPECT_TRUE(RTM4_NET::in(out_reg, DB_CLEAR)->is_driven());
    EXPECT_TRUE(RTM4_NET::in(out_reg, DB_SYNCH_CLEAR)->is_driven());
    ASSERT_TRUE(run.push_backward(*comb->begin_iterm_fanout(), c));
    expect_equivalent(*before, run, "clear_forward_backward");
}

// A forward push across a chain cell hands the next cell the carry its
// pushed registers give at power-up, as the cell's inputs see them.
TEST(Retiming4LutFaults, ForwardPushHandsOnThePowerUpCarryOfAChainCell)
{
    RTM4_NET net;
    CDB_ATOM_NODE* ra = net.reg("ra", net.input("i0"));
    CDB_ATOM_NODE* rb = net.reg("rb", net.input("i1"));
    CDB_ATOM_NODE* c = net.lut("c", {RTM4_NET::out(ra), RTM4_NET::out(rb), nullptr, nullptr}, 0x9696);  // A^B^cin
    RTM4_NET::in(c, DB_DATA_D)->set_vcc();
    c->clear_bit(CDB_ATOM_BIT_FOUR_INPUT_COMB);
    c->set_carry_lutmask(CDB_LUTMASK(4, 0xE8E8));  // majority(A, B, cin)
    CDB_ATOM_OTERM* cout = c->add_output_term(DB_CARRY_OUT, c->get_instance_name());
    CDB_ATOM_NODE* next = net.lut("n", {}, 0xF0F0);  // sum = carry-in
    next->clear_bit(CDB_ATOM_BIT_FOUR_INPUT_COMB);
    cout->insert_fanout(next->add_input_term(DB_CARRY_IN));
    net.output(RTM4_NET::out(c), "o");
    net.output(RTM4_NET::out(next), "on");
    RTM4_RUN run(net.take());
    c = run.find("c");
    // Seen values of A and B (inversion bits) -> carry low, sum register powers up to 0.
    const struct
    {
        bool invert_a, invert_b, carry_low, sum_low;
    } cases[] = {{false, false, true, true}, {true, false, true, false}, {true, true, false, true}};
    for (const auto& k : cases) {
        RTM4_NET::in(c, DB_DATA_A)->set_invert(k.invert_a);
        RTM4_NET::in(c, DB_DATA_B)->set_invert(k.invert_b);
        RETIME_REG reg;
        ASSERT_TRUE(run.rtm().get_input_register(RTM4_NET::in(c, DB_DATA_A), reg));
        run.rtm().clear_plans();
        bool carry_low = true, share_low = true;
        ASSERT_TRUE(run.rtm().create_output_registers(c, reg, carry_low, share_low));
        EXPECT_EQ(carry_low, k.carry_low) << k.invert_a << k.invert_b;
        const auto& outputs = run.rtm().get_output_registers();
        ASSERT_EQ(outputs.size(), 1u);
        EXPECT_EQ(outputs.begin()->second.clear_low, k.sum_low) << k.invert_a << k.invert_b;
    }
}

// A backward push takes an equal register already on the same driver
// instead of making another one.
TEST(Retiming4LutFaults, BackwardPushReusesAnEqualRegisterOnTheSameDriver)
{
    const auto build = [] {
        RTM4_NET net;
        CDB_ATOM_OTERM* i0 = net.input("i0");
        CDB_ATOM_OTERM* i1 = net.input("i1");
        CDB_ATOM_NODE* c = net.lut("c", {i0, i1}, 0x8888);  // AND
        CDB_ATOM_NODE* r = net.reg("r", RTM4_NET::out(c));
        net.output(RTM4_NET::out(r), "o");
        CDB_ATOM_NODE* kept = net.reg("kept", i0);
        net.output(RTM4_NET::out(kept), "ok");
        return net.take();
    };
    const auto before = build();
    RTM4_RUN run(build());
    CDB_ATOM_NODE* c = run.find("c");
    ASSERT_TRUE(push_back_through(run));
    int registers = 0;
    for (CDB_ATOM_NODE* node : run.netlist()) registers += node->is_register() ? 1 : 0;
    EXPECT_EQ(registers, 2);
    EXPECT_EQ(RTM4_NET::in(c, DB_DATA_A)->get_source(), run.find("kept")->get_output_term_by_type(DB_REG_OUT));
    expect_equivalent(*before, run, "reuse");
}

// Registers a backward push must leave where they are: one whose output
// clears it, and one that always loads its synchronous data and so never
// stores what the cell gives it.
TEST(Retiming4LutFaults, BackwardPushLeavesRegistersThatDoNotStoreTheCell)
{
    RTM4_NET net;
    CDB_ATOM_OTERM* i0 = net.input("i0");
    CDB_ATOM_OTERM* i1 = net.input("i1");
    CDB_ATOM_NODE* c = net.lut("c", {i0, i1}, 0x8888);
    CDB_ATOM_NODE* looped = net.reg("looped", RTM4_NET::out(c));
    net.control(looped, DB_SYNCH_CLEAR, RTM4_NET::out(looped));
    CDB_ATOM_NODE* loading = net.reg("loading", RTM4_NET::out(c));
    net.control(loading, DB_SYNCH_LOAD, nullptr)->set_vcc();
    net.control(loading, DB_SYNCH_DATA, i1);
    CDB_ATOM_NODE* plain = net.reg("plain", RTM4_NET::out(c));
    for (CDB_ATOM_NODE* r : {looped, loading, plain})
        net.output(RTM4_NET::out(r), r->get_instance_name()->get_short_hpath());
    RTM4_RUN run(net.take());
    RETIME_REG reg;
    EXPECT_EQ(run.rtm().backward_push_get_reg(RTM4_NET::in(run.find("looped"), DB_DATAIN), reg, true), nullptr);
    EXPECT_EQ(run.rtm().backward_push_get_reg(RTM4_NET::in(run.find("loading"), DB_DATAIN), reg, true), nullptr);
    EXPECT_NE(run.rtm().backward_push_get_reg(RTM4_NET::in(run.find("plain"), DB_DATAIN), reg, true), nullptr);
}

TEST(Retiming4LutFaults, ForwardPushFilter)
{
    const auto build = [] {
        RTM4_NET net;
        CDB_ATOM_OTERM* i0 = net.input("i0");
        CDB_ATOM_NODE* rk = net.reg("rk", nullptr);
        RTM4_NET::in(rk, DB_DATAIN)->set_vcc();
        CDB_ATOM_NODE* rf = net.reg("rf", i0);
        net.control(rf, DB_CLOCK_ENABLE, RTM4_NET::out(rf));
        CDB_ATOM_NODE* c = net.lut("c", {RTM4_NET::out(rk), RTM4_NET::out(rf), i0}, 0x8080);
        net.output(RTM4_NET::out(c), "o");
        return net.take();
    };
    RTM4_RUN run(build());
    RETIME_REG reg;
    CDB_ATOM_NODE* c = run.find("c");
    EXPECT_FALSE(run.rtm().get_input_register(RTM4_NET::in(c, DB_DATA_A), reg));  // constant data
    EXPECT_FALSE(run.rtm().get_input_register(RTM4_NET::in(c, DB_DATA_B), reg));  // feeds its own enable
    EXPECT_FALSE(run.rtm().get_input_register(RTM4_NET::in(c, DB_DATA_C), reg));  // not a register
}

// A carry-chain cell whose sum reads the carry-in: a register powering up
// to 1 behind its sum needs A = B = 1 (index 3 of the operands) with the
// carry-in low, and the carry-out it passes on is the carry mask's bit.
TEST(Retiming4LutFaults, CarrySearchTakesIndexThreeForPowerUpOne)
{
    const auto build = [] {
        RTM4_NET net;
        CDB_ATOM_OTERM* i0 = net.input("i0");
        CDB_ATOM_OTERM* i1 = net.input("i1");
        CDB_ATOM_NODE* c = net.lut("c", {i0, i1, nullptr, nullptr}, 0x8888);  // sum = A and B
        RTM4_NET::in(c, DB_DATA_D)->set_vcc();
        c->clear_bit(CDB_ATOM_BIT_FOUR_INPUT_COMB);
        c->set_carry_lutmask(CDB_LUTMASK(4, 0xE8E8));  // majority(A, B, cin)
        CDB_ATOM_OTERM* cout = c->add_output_term(DB_CARRY_OUT, c->get_instance_name());
        CDB_ATOM_NODE* next = net.lut("n", {i0}, 0xAAAA);
        next->clear_bit(CDB_ATOM_BIT_FOUR_INPUT_COMB);
        next->set_lutmask(CDB_LUTMASK(4, 0xF0F0));  // sum = carry-in
        cout->insert_fanout(next->add_input_term(DB_CARRY_IN));
        CDB_ATOM_NODE* r = net.reg("r", RTM4_NET::out(c));
        RTM4_NET::in(r, DB_DATAIN)->set_invert();
        net.output(RTM4_NET::out(r), "o");
        net.output(RTM4_NET::out(next), "on");
        return net.take();
    };
    RTM4_RUN run(build());
    RETIME_REG reg;
    CDB_ATOM_NODE* c = run.find("c");
    ASSERT_NE(run.rtm().backward_push_get_reg(RTM4_NET::in(run.find("r"), DB_DATAIN), reg, true), nullptr);
    EXPECT_FALSE(reg.clear_low);
    bool carry_low = true, share_low = true;
    ASSERT_TRUE(run.rtm().create_input_registers(c, reg, carry_low, share_low));
    EXPECT_FALSE(carry_low);  // majority(1, 1, 0) = 1
    ASSERT_EQ(run.rtm().get_planned_iterms().size(), 2u);
    for (const RETIME_ITERM& plan : run.rtm().get_planned_iterms()) EXPECT_FALSE(plan.reg.clear_low);
    // A driven DB_DATA_D fails the search.
    RTM4_NET::in(c, DB_DATA_D)->disconnect_from_source(CDB_NET_ITERM::UNCONNECTED);
    run.find("i0")->get_output_term_by_type(DB_DATA_OUT)->insert_fanout(RTM4_NET::in(c, DB_DATA_D));
    carry_low = true;
    EXPECT_FALSE(run.rtm().create_input_registers(c, reg, carry_low, share_low));
}

TEST(Retiming4LutFaults, InverterAndBufferCells)
{
    const auto build = [] {
        RTM4_NET net;
        CDB_ATOM_OTERM* i0 = net.input("i0");
        CDB_ATOM_OTERM* i1 = net.input("i1");
        CDB_ATOM_NODE* c = net.lut("c", {i0, i1, nullptr}, 0x9696);
        RTM4_NET::in(c, DB_DATA_B)->set_invert();
        RTM4_NET::in(c, DB_DATA_C)->set_vcc();
        net.output(RTM4_NET::out(c), "o");
        return net.take();
    };
    const auto before = build();
    RTM4_RUN run(build());
    CDB_ATOM_NODE* c = run.find("c");
    run.rtm().insert_buffer_lcell(RTM4_NET::in(c, DB_DATA_A));
    run.rtm().insert_buffer_lcell(RTM4_NET::in(c, DB_DATA_B));
    expect_equivalent(*before, run, "buffers");
    const int nodes = count_nodes(run.netlist());
    run.rtm().insert_inverter_lcell(RTM4_NET::in(c, DB_DATA_C));  // VCC becomes GND, no cell
    EXPECT_TRUE(RTM4_NET::in(c, DB_DATA_C)->is_gnd());
    EXPECT_EQ(count_nodes(run.netlist()), nodes);
    run.rtm().insert_inverter_lcell(RTM4_NET::in(c, DB_DATA_A));
    run.rtm().insert_inverter_lcell(RTM4_NET::in(c, DB_DATA_B));
    // Three inversions of an XOR of three inputs: the complement.
    const SEQ_VERDICT verdict = seq_check(*before, run.netlist(), "inverters", false, 50);
    EXPECT_TRUE(verdict.refuted()) << verdict.describe();
    CDB_ATOM_NODE* inverter = RTM4_NET::in(c, DB_DATA_A)->get_source()->get_my_node();
    EXPECT_EQ(inverter->get_lutmask().get_value() & 0xffff, 0x5555u);
    EXPECT_TRUE(run.rtm().is_inverter_lut(inverter));
}

}  // namespace retiming_4lut_fault_test
