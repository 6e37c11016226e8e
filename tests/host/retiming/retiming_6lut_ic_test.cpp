// Power-up values chosen by the 6-LUT initial-condition searches: the plan
// a search makes, and pushes built on it proved equivalent.

#include <functional>

#include <algorithm>

#include "log_capture.h"
#include "retiming_6lut_bench.h"

namespace retiming_6lut_ic_test {

namespace {

using BUILD = std::function<void(RTM6_NET&)>;

std::unique_ptr<CDB_ATOM_NETLIST> build(const BUILD& b)
{
    RTM6_NET n;
    b(n);
    return n.take();
}

void and_into_register(RTM6_NET& n, bool register_powers_up_to_one)
{
    CDB_ATOM_NODE* c0 = n.lut("c0", {n.input("i0"), n.input("i1")}, 0x8);
    CDB_ATOM_NODE* r0 = n.reg("r0", RTM6_NET::out(c0));
    if (register_powers_up_to_one) RTM6_NET::in(r0, DB_DATAIN)->set_invert();
    n.output(RTM6_NET::out(r0), "o0");
}

std::vector<bool> planned_clear_lows(TEST_RETIMING_6LUT_LEAF& rtm)
{
    std::vector<bool> lows;
    for (const RETIME_ITERM& plan : rtm.get_planned_iterms()) lows.push_back(plan.reg.clear_low);
    return lows;
}

// Two arithmetic cells of one chain, each sum into a register with the
// same controls; cell 1 and cell 2 share the driver of their input A.
void share_pair(RTM6_NET& n)
{
    CDB_ATOM_OTERM* shared = n.input("a");
    CDB_ATOM_OTERM* carry = nullptr;
    for (int b = 0; b < 2; ++b) {
        CDB_ATOM_NODE* cell = n.add(CDB_KIND_LCELL_COMB, rtm6_name("c", b));
        int input = 0;
        for (int port : {DB_DATA_A, DB_DATA_B, DB_DATA_C, DB_DATA_D, DB_DATA_F}) {
            CDB_ATOM_ITERM* t = cell->add_input_term(port);
            (port == DB_DATA_A ? shared : n.input(rtm6_name("x", b * 10 + input++)))->insert_fanout(t);
        }
        cell->set_sum_lutmask(CDB_LUTMASK(5, b == 0 ? 0x96696996u : 0x6996c33cu));
        CDB_ATOM_ITERM* cin = cell->add_input_term(DB_CARRY_IN);
        if (carry != nullptr) carry->insert_fanout(cin);
        CDB_ATOM_OTERM* sum =
            cell->add_output_term(DB_SUM_OUT, n.netlist().get_name_mgr()->create_unique_name(rtm6_name("s", b), 0));
        carry =
            cell->add_output_term(DB_CARRY_OUT, n.netlist().get_name_mgr()->create_unique_name(rtm6_name("co", b), 0));
        CDB_ATOM_NODE* r = n.reg(rtm6_name("r", b), sum);
        if (b == 1) RTM6_NET::in(r, DB_DATAIN)->set_invert();
        n.output(RTM6_NET::out(r), rtm6_name("o", b));
    }
}

}  // namespace

// The all-zero combination comes first: an AND behind a register at 0
// gets two registers at 0, behind a register at 1 two registers at 1.
TEST(Retiming6LutIc, AndGetsTheFewestRegistersAtOne)
{
    for (bool one : {false, true}) {
        RTM6_RUN run(build([one](RTM6_NET& n) { and_into_register(n, one); }));
        RETIME_REG reg;
        ASSERT_NE(run.rtm().backward_push_get_reg(RTM6_NET::in(run.find("r0"), DB_DATAIN), reg, true), nullptr);
        EXPECT_EQ(reg.clear_low, !one);
        bool carry = true, share = true;
        ASSERT_TRUE(run.rtm().create_input_registers(run.find("c0"), reg, carry, share));
        EXPECT_EQ(planned_clear_lows(run.rtm()), std::vector<bool>(2, !one));
    }
}

TEST(Retiming6LutIc, ConstantCellOppositeToThePowerUpValueFails)
{
    RTM6_RUN run(build([](RTM6_NET& n) {
        CDB_ATOM_NODE* c0 = n.lut("c0", {n.input("i0")}, 0x0);
        CDB_ATOM_NODE* r0 = n.reg("r0", RTM6_NET::out(c0));
        RTM6_NET::in(r0, DB_DATAIN)->set_invert();
        n.output(RTM6_NET::out(r0), "o0");
    }));
    RETIME_REG reg;
    ASSERT_NE(run.rtm().backward_push_get_reg(RTM6_NET::in(run.find("r0"), DB_DATAIN), reg, true), nullptr);
    bool carry = true, share = true;
    EXPECT_FALSE(run.rtm().create_input_registers(run.find("c0"), reg, carry, share));
    EXPECT_TRUE(run.rtm().get_planned_iterms().empty());
}

// In extended mode G takes part in the search and gets a register too.
TEST(Retiming6LutIc, ExtendedModeSearchesWithInputG)
{
    if (!abc_is_available()) GTEST_SKIP() << "berkeley-abc is not installed";
    for (uint64_t mask : {0x0123456789abcdefULL, 0xfffffffffffffffeULL, 0x8000000000000000ULL}) {
        const BUILD b = [mask](RTM6_NET& n) {
            CDB_ATOM_NODE* c0 = n.add(CDB_KIND_LCELL_COMB, "c0");
            for (int port = DB_DATA_A; port <= DB_DATA_G; ++port)
                n.input(rtm6_name("i", port))->insert_fanout(c0->add_input_term(port));
            RTM6_NET::in(c0, DB_DATA_C)->set_invert();
            c0->set_lutmask(CDB_LUTMASK(6, mask));
            c0->add_output_term(DB_COMB_OUT, c0->get_instance_name());
            CDB_ATOM_NODE* r0 = n.reg("r0", RTM6_NET::out(c0));
            RTM6_NET::in(r0, DB_DATAIN)->set_invert();
            n.output(RTM6_NET::out(r0), "o0");
        };
        RTM6_RUN run(build(b));
        ASSERT_TRUE(run.push_backward(RTM6_NET::in(run.find("r0"), DB_DATAIN), run.find("c0")));
        EXPECT_TRUE(RTM6_NET::in(run.find("c0"), DB_DATA_G)->get_source()->get_my_node()->is_register());
        std::unique_ptr<CDB_ATOM_NETLIST> before = build(b);
        const SEQ_VERDICT v = seq_check(*before, run.netlist(), "rtm6_ext", true, 200);
        EXPECT_TRUE(v.equivalent()) << std::hex << mask << ": " << v.describe();
    }
}

// Both cells of a share-ALE pair are planned together; the second is not
// searched again when reached.
TEST(Retiming6LutIc, ShareAlePairIsPlannedTogether)
{
    if (!abc_is_available()) GTEST_SKIP() << "berkeley-abc is not installed";
    RTM6_RUN run(build(share_pair));
    TEST_RETIMING_6LUT_LEAF& rtm = run.rtm();
    RETIME_REG reg;
    ASSERT_NE(rtm.backward_push_get_reg(RTM6_NET::in(run.find("r0"), DB_DATAIN), reg, true), nullptr);
    bool carry = true, share = true;
    ASSERT_TRUE(rtm.create_input_registers(run.find("c0"), reg, carry, share));
    const std::vector<RETIME_ITERM> plans(rtm.get_planned_iterms().begin(), rtm.get_planned_iterms().end());
    EXPECT_EQ(plans.size(), 10u);
    RETIME_REG next;
    ASSERT_NE(rtm.backward_push_get_reg(RTM6_NET::in(run.find("r1"), DB_DATAIN), next, true), nullptr);
    {
        MORV_LOG_CAPTURE log(100);
        EXPECT_TRUE(rtm.create_input_registers(run.find("c1"), next, carry, share));
        const std::vector<std::string> lines = log.lines();
        EXPECT_TRUE(std::any_of(lines.begin(), lines.end(), [](const std::string& line) {
            return line.find("because it should have been already done") != std::string::npos;
        }));
    }
    EXPECT_EQ(rtm.get_planned_iterms().size(), 10u);
    rtm.set_consumed({run.find("r0"), run.find("r1")});
    for (const RETIME_ITERM& plan : plans) rtm.mark_new_register_iterm(plan.iterm);
    for (const RETIME_ITERM& plan : plans) rtm.insert_register(plan);
    for (const char* r : {"r0", "r1"}) {
        CDB_ATOM_NODE* node = run.find(r);
        rtm.remove_register(node);
        rtm.drop_register(node);
    }
    std::unique_ptr<CDB_ATOM_NETLIST> before = build(share_pair);
    const SEQ_VERDICT v = seq_check(*before, run.netlist(), "rtm6_share_pair", true, 200);
    EXPECT_TRUE(v.equivalent()) << v.describe();
}

TEST(Retiming6LutIc, ForwardPushAcrossAChainCellWithUsedCombOutIsRefused)
{
    RTM6_RUN run(build([](RTM6_NET& n) {
        share_pair(n);
        CDB_ATOM_NODE* c0 = seq_find(n.netlist(), "c0");
        n.output(c0->add_output_term(DB_COMB_OUT, n.netlist().get_name_mgr()->create_unique_name("cb", 0)), "o9");
    }));
    RETIME_REG reg = run.rtm().describe_register(run.find("r0"));
    bool carry = true, share = true;
    EXPECT_FALSE(run.rtm().create_output_registers(run.find("c0"), reg, carry, share));
}

// Two inputs of the first cell on one input of the second: no pairing.
TEST(Retiming6LutIc, ShareAlePairWithTwoInputsOnOneFails)
{
    RTM6_RUN run(build([](RTM6_NET& n) {
        share_pair(n);
        CDB_ATOM_NODE* c0 = seq_find(n.netlist(), "c0");
        CDB_ATOM_OTERM* a = RTM6_NET::in(c0, DB_DATA_A)->get_source();
        a->insert_fanout(RTM6_NET::in(c0, DB_DATA_B));
    }));
    RETIME_REG reg;
    ASSERT_NE(run.rtm().backward_push_get_reg(RTM6_NET::in(run.find("r0"), DB_DATAIN), reg, true), nullptr);
    bool carry = true, share = true;
    EXPECT_FALSE(run.rtm().create_input_registers(run.find("c0"), reg, carry, share));
    EXPECT_TRUE(run.rtm().get_planned_iterms().empty());
}

}  // namespace retiming_6lut_ic_test
