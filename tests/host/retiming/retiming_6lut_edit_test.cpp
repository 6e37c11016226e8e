// Register edits of 6-LUT retiming, each push proved equivalent to the
// untouched netlist from the all-zero power-up state. Every netlist is the
// smallest one on which the move goes wrong when an inversion bit, a
// constant tie or a register's always-on synchronous load is read the
// plain way.

#include <functional>

#include "morv/core/algorithm/morv_algorithm_base.h"
#include "morv/timing/morv_opt_skew.h"
#include "retiming_6lut_bench.h"

namespace retiming_6lut_edit_test {

namespace {

using BUILD = std::function<void(RTM6_NET&)>;

// One cell c0 between two inputs and a register r0 on its output.
void and_into_register(RTM6_NET& n, uint64_t truth)
{
    CDB_ATOM_NODE* c0 = n.lut("c0", {n.input("i0"), n.input("i1")}, truth);
    n.output(RTM6_NET::out(n.reg("r0", RTM6_NET::out(c0))), "o0");
}

std::unique_ptr<CDB_ATOM_NETLIST> build(const BUILD& b)
{
    RTM6_NET n;
    b(n);
    return n.take();
}

SEQ_VERDICT check(const BUILD& b, RTM6_RUN& run, const std::string& tag)
{
    std::unique_ptr<CDB_ATOM_NETLIST> before = build(b);
    return seq_check(*before, run.netlist(), tag, true, 200);
}

// The term of r0 that c0 drives.
CDB_ATOM_ITERM* register_term(RTM6_RUN& run)
{
    CDB_ATOM_OTERM* c0 = RTM6_NET::out(run.find("c0"));
    for (auto it = c0->begin_iterm_fanout(); it != c0->end_iterm_fanout(); ++it)
        if ((*it)->get_my_node() == run.find("r0")) return *it;
    return nullptr;
}

struct CASE
{
    const char* name;
    BUILD build;
};

const CASE k_backward_cases[] = {
    {"and", [](RTM6_NET& n) { and_into_register(n, 0x8); }},
    // NAND at 0 needs both inputs at 1: both new registers power up to 1.
    {"nand_inputs_power_up_to_one", [](RTM6_NET& n) { and_into_register(n, 0x7); }},
    // The LUT sees NOT i0: the index bit is the register's value, not the LUT's.
    {"inverted_lut_input",
     [](RTM6_NET& n) {
         and_into_register(n, 0xe);
         RTM6_NET::in(seq_find(n.netlist(), "c0"), DB_DATA_A)->set_invert();
     }},
    // r0 stores NOT c0: its fanouts read the inverse of what c0 now gives.
    {"inverted_register_input",
     [](RTM6_NET& n) {
         and_into_register(n, 0x8);
         RTM6_NET::in(seq_find(n.netlist(), "r0"), DB_DATAIN)->set_invert();
     }},
    // B is a physical GND read through its inversion bit (logical VCC); OR
    // at 0 needs B at 0, so B gets a register that holds VCC after power-up.
    {"constant_tie_through_inversion",
     [](RTM6_NET& n) {
         CDB_ATOM_NODE* c0 = n.lut("c0", {n.input("i0"), nullptr}, 0xe);
         CDB_ATOM_ITERM* b = RTM6_NET::in(c0, DB_DATA_B);
         b->set_gnd();
         b->set_invert();
         n.output(RTM6_NET::out(n.reg("r0", RTM6_NET::out(c0))), "o0");
     }},
    // The same constant with r0 powering up as 1 (its input inverted).
    {"constant_tie_register_powers_up_to_one",
     [](RTM6_NET& n) {
         CDB_ATOM_NODE* c0 = n.lut("c0", {n.input("i0"), nullptr}, 0x8);
         RTM6_NET::in(c0, DB_DATA_B)->set_gnd();
         CDB_ATOM_NODE* r0 = n.reg("r0", RTM6_NET::out(c0));
         RTM6_NET::in(r0, DB_DATAIN)->set_invert();
         n.output(RTM6_NET::out(r0), "o0");
     }},
    // r0 always loads its synchronous data, which c0 drives.
    {"sload_tied_to_vcc",
     [](RTM6_NET& n) {
         CDB_ATOM_NODE* c0 = n.lut("c0", {n.input("i0"), n.input("i1")}, 0x6);
         CDB_ATOM_NODE* r0 = n.reg("r0", n.input("i2"));
         n.control(r0, DB_SYNCH_LOAD, nullptr)->set_vcc();
         n.control(r0, DB_SYNCH_DATA, RTM6_NET::out(c0));
         n.output(RTM6_NET::out(r0), "o0");
     }},
};

class Retiming6LutBackward : public ::testing::TestWithParam<CASE>
{};

}  // namespace

TEST_P(Retiming6LutBackward, PushedCircuitIsEquivalent)
{
    if (!abc_is_available()) GTEST_SKIP() << "berkeley-abc is not installed";
    const CASE& c = GetParam();
    RTM6_RUN run(build(c.build));
    ASSERT_TRUE(run.push_backward(register_term(run), run.find("c0")));
    EXPECT_EQ(run.find("r0"), nullptr);
    const SEQ_VERDICT v = check(c.build, run, std::string("rtm6_bwd_") + c.name);
    EXPECT_TRUE(v.equivalent()) << c.name << ": " << v.describe();
}

INSTANTIATE_TEST_SUITE_P(Cases, Retiming6LutBackward, ::testing::ValuesIn(k_backward_cases),
                         [](const ::testing::TestParamInfo<CASE>& c) { return std::string(c.param.name); });

// A register that always loads its synchronous data does not store what
// its data input carries: no backward push through that input.
TEST(Retiming6LutEdit, AlwaysLoadingRegisterIsNotFoundThroughItsDataInput)
{
    const BUILD b = [](RTM6_NET& n) {
        CDB_ATOM_NODE* c0 = n.lut("c0", {n.input("i0"), n.input("i1")}, 0x8);
        CDB_ATOM_NODE* r0 = n.reg("r0", RTM6_NET::out(c0));
        n.control(r0, DB_SYNCH_LOAD, nullptr)->set_vcc();
        n.control(r0, DB_SYNCH_DATA, n.input("i2"));
        n.output(RTM6_NET::out(r0), "o0");
    };
    RTM6_RUN run(build(b));
    RETIME_REG reg;
    EXPECT_EQ(run.rtm().backward_push_get_reg(register_term(run), reg, true), nullptr);
}

// An equal register on the same driver is reused and keeps its name; a
// neighbour storing the inverse, or with other controls, is not equal.
TEST(Retiming6LutEdit, EqualRegisterOnTheSameDriverIsReused)
{
    if (!abc_is_available()) GTEST_SKIP() << "berkeley-abc is not installed";
    for (int neighbour = 0; neighbour < 3; ++neighbour) {
        const BUILD b = [neighbour](RTM6_NET& n) {
            CDB_ATOM_OTERM* i0 = n.input("i0");
            CDB_ATOM_NODE* r1 = n.reg("r1", i0);
            if (neighbour == 1) RTM6_NET::in(r1, DB_DATAIN)->set_invert();
            if (neighbour == 2) n.control(r1, DB_CLOCK_ENABLE, n.input("e"));
            n.output(RTM6_NET::out(r1), "o1");
            CDB_ATOM_NODE* c0 = n.lut("c0", {i0, n.input("i1")}, 0x8);
            n.output(RTM6_NET::out(n.reg("r0", RTM6_NET::out(c0))), "o0");
        };
        RTM6_RUN run(build(b));
        RTM6_NET::in(run.find("c0"), DB_DATA_A)->set_global(3);
        ASSERT_TRUE(run.push_backward(register_term(run), run.find("c0")));
        CDB_ATOM_NODE* r1 = run.find("r1");
        ASSERT_NE(r1, nullptr);
        CDB_ATOM_ITERM* a = RTM6_NET::in(run.find("c0"), DB_DATA_A);
        const bool reused = a->get_source() == RTM6_NET::out(r1);
        EXPECT_EQ(reused, neighbour == 0) << neighbour;
        EXPECT_EQ(count_registers(run.netlist()), neighbour == 0 ? 2 : 3);
        // Reused or new, each register on c0 is one of this iteration's.
        int new_registers = 0;
        for (int port : {DB_DATA_A, DB_DATA_B}) {
            CDB_ATOM_NODE* reg = RTM6_NET::in(run.find("c0"), port)->get_source()->get_my_node();
            new_registers += run.rtm().get_new_registers().contains(reg) ? 1 : 0;
            if (!reused || port == DB_DATA_B) {
                EXPECT_EQ(reg->get_instance_name()->get_short_hpath().rfind("r0", 0), 0u);
            }
        }
        EXPECT_EQ(new_registers, 2);
        // The term's global setting went to the new register's data input.
        EXPECT_EQ(a->get_global(), 0);
        if (!reused) {
            EXPECT_EQ(RTM6_NET::in(a->get_source()->get_my_node(), DB_DATAIN)->get_global(), 3);
        }
        const SEQ_VERDICT v = check(b, run, rtm6_name("rtm6_reuse_", neighbour));
        EXPECT_TRUE(v.equivalent()) << v.describe();
    }
}

namespace {

// r0 and r1 in front of c0; the variants invert c0's input from r1 and
// r0's own data input.
BUILD registers_into_cell(bool invert_lut_input, bool invert_register_input, uint64_t truth)
{
    return [=](RTM6_NET& n) {
        CDB_ATOM_NODE* r0 = n.reg("r0", n.input("i0"));
        CDB_ATOM_NODE* r1 = n.reg("r1", n.input("i1"));
        if (invert_register_input) RTM6_NET::in(r0, DB_DATAIN)->set_invert();
        CDB_ATOM_NODE* c0 = n.lut("c0", {RTM6_NET::out(r0), RTM6_NET::out(r1)}, truth);
        if (invert_lut_input) RTM6_NET::in(c0, DB_DATA_B)->set_invert();
        n.output(RTM6_NET::out(c0), "o0");
    };
}

}  // namespace

TEST(Retiming6LutEdit, ForwardPushKeepsInversionsAndPowerUpValue)
{
    if (!abc_is_available()) GTEST_SKIP() << "berkeley-abc is not installed";
    for (int variant = 0; variant < 4; ++variant) {
        // NOR powers up to 1 from two registers at 0.
        const BUILD b = registers_into_cell(variant & 1, variant & 2, variant == 0 ? 0x1 : 0x8);
        RTM6_RUN run(build(b));
        ASSERT_TRUE(run.push_forward(run.find("c0"))) << variant;
        EXPECT_EQ(run.find("r0"), nullptr);
        EXPECT_EQ(count_registers(run.netlist()), 1);
        const SEQ_VERDICT v = check(b, run, rtm6_name("rtm6_fwd_", variant));
        EXPECT_TRUE(v.equivalent()) << variant << ": " << v.describe();
    }
}

TEST(Retiming6LutEdit, BackwardThenForwardAcrossTheSameCell)
{
    if (!abc_is_available()) GTEST_SKIP() << "berkeley-abc is not installed";
    const BUILD b = [](RTM6_NET& n) {
        and_into_register(n, 0x7);
        RTM6_NET::in(seq_find(n.netlist(), "c0"), DB_DATA_B)->set_invert();
    };
    RTM6_RUN run(build(b));
    ASSERT_TRUE(run.push_backward(register_term(run), run.find("c0")));
    EXPECT_EQ(count_registers(run.netlist()), 2);
    run.rtm().set_backwards(false);
    ASSERT_TRUE(run.push_forward(run.find("c0")));
    EXPECT_EQ(count_registers(run.netlist()), 1);
    const SEQ_VERDICT v = check(b, run, "rtm6_bwd_fwd");
    EXPECT_TRUE(v.equivalent()) << v.describe();
}

// With sload pushes on, registers with a real synchronous load pushed
// forward across a LUT make one duplicate of it, fed by their
// synchronous data.
TEST(Retiming6LutEdit, SloadPushDuplicatesTheLutOnce)
{
    if (!abc_is_available()) GTEST_SKIP() << "berkeley-abc is not installed";
    const BUILD b = [](RTM6_NET& n) {
        CDB_ATOM_OTERM* load = n.input("ld");
        CDB_ATOM_NODE* r0 = n.reg("r0", n.input("i0"));
        CDB_ATOM_NODE* r1 = n.reg("r1", n.input("i1"));
        n.control(r0, DB_SYNCH_LOAD, load);
        n.control(r1, DB_SYNCH_LOAD, load);
        n.control(r0, DB_SYNCH_DATA, n.input("s0"))->set_invert();
        n.control(r1, DB_SYNCH_DATA, n.input("s1"));
        CDB_ATOM_NODE* c0 = n.lut("c0", {RTM6_NET::out(r0), RTM6_NET::out(r1)}, 0x6);
        n.output(RTM6_NET::out(c0), "o0");
    };
    RTM6_RUN run(build(b));
    run.rtm().set_backwards(false);
    RETIME_REG reg;
    EXPECT_FALSE(run.rtm().get_input_register(RTM6_NET::in(run.find("c0"), DB_DATA_A), reg));
    run.rtm().set_sload_push(true);
    ASSERT_TRUE(run.push_forward(run.find("c0")));
    CDB_ATOM_NODE* duplicate = run.rtm().get_duplicate(run.find("c0"));
    ASSERT_NE(duplicate, nullptr);
    int cells = 0;
    for (CDB_ATOM_NODE* node : run.netlist()) cells += node->is_lcell_comb() ? 1 : 0;
    EXPECT_EQ(cells, 2);
    const SEQ_VERDICT v = check(b, run, "rtm6_sload_push");
    EXPECT_TRUE(v.equivalent()) << v.describe();
}

// In skew mode a moved register refreshes the mobilities of its
// neighbours: a backward push raises those of the other registers on the
// new register's driver, a forward push those of the registers that share
// a reader with the new register. Mobilities that failed moves lowered
// come back to 1.
TEST(Retiming6LutEdit, MovedRegistersRefreshTheirNeighboursMobilitiesInSkewMode)
{
    if (!abc_is_available()) GTEST_SKIP() << "berkeley-abc is not installed";
    MORV_PARAMETER_MAP skew;
    MORV_ALGORITHM_BASE::parse_algorithm_params(skew, "SKEW_RTM=1");
    // r1 shares i0 with c0 but is enabled, so the push creates a register
    // beside it instead of reusing it.
    const BUILD backward = [](RTM6_NET& n) {
        CDB_ATOM_OTERM* i0 = n.input("i0");
        CDB_ATOM_NODE* r1 = n.reg("r1", i0);
        n.control(r1, DB_CLOCK_ENABLE, n.input("e"));
        n.output(RTM6_NET::out(r1), "o1");
        CDB_ATOM_NODE* c0 = n.lut("c0", {i0, n.input("i1")}, 0x8);
        n.output(RTM6_NET::out(n.reg("r0", RTM6_NET::out(c0))), "o0");
    };
    RTM6_RUN bwd(build(backward), CDB_FAMILY_BRK, &skew);
    MORV_OPT_SKEW* opt = bwd.rtm().get_opt_skew();
    ASSERT_NE(opt, nullptr);
    opt->reduce_bwd_mobility(bwd.find("r1"), 0.2);
    opt->reduce_fwd_mobility(bwd.find("r1"), 0.2);
    ASSERT_TRUE(bwd.push_backward(register_term(bwd), bwd.find("c0")));
    EXPECT_DOUBLE_EQ(opt->get_bwd_mobility(bwd.find("r1")), 1.0);
    EXPECT_DOUBLE_EQ(opt->get_fwd_mobility(bwd.find("r1")), 0.2);  // r1 reads nothing the new registers feed
    const SEQ_VERDICT vb = check(backward, bwd, "rtm6_skew_bwd");
    EXPECT_TRUE(vb.equivalent()) << vb.describe();

    // r2 feeds c1 beside the register that lands on c0's output.
    const BUILD forward = [](RTM6_NET& n) {
        CDB_ATOM_NODE* r0 = n.reg("r0", n.input("i0"));
        CDB_ATOM_NODE* r1 = n.reg("r1", n.input("i1"));
        CDB_ATOM_NODE* r2 = n.reg("r2", n.input("i2"));
        CDB_ATOM_NODE* c0 = n.lut("c0", {RTM6_NET::out(r0), RTM6_NET::out(r1)}, 0x8);
        CDB_ATOM_NODE* c1 = n.lut("c1", {RTM6_NET::out(c0), RTM6_NET::out(r2)}, 0x6);
        n.output(RTM6_NET::out(c1), "o0");
    };
    RTM6_RUN fwd(build(forward), CDB_FAMILY_BRK, &skew);
    opt = fwd.rtm().get_opt_skew();
    opt->reduce_fwd_mobility(fwd.find("r2"), 0.2);
    fwd.rtm().set_backwards(false);
    ASSERT_TRUE(fwd.push_forward(fwd.find("c0")));
    EXPECT_DOUBLE_EQ(opt->get_fwd_mobility(fwd.find("r2")), 1.0);
    const SEQ_VERDICT vf = check(forward, fwd, "rtm6_skew_fwd");
    EXPECT_TRUE(vf.equivalent()) << vf.describe();
}

}  // namespace retiming_6lut_edit_test
