// How the 6-LUT hooks find and judge registers: the forward-push filter and
// its reasons, global controls and feedback, the wire-LUT case of the
// backward search, the slack comparison, the demux queue and the push
// permission.

#include <algorithm>

#include "log_capture.h"
#include "retiming_6lut_bench.h"
#include "scripted_slack.h"

#include "cut/cut_block_util.h"
#include "morv/timing/morv_timing.h"

namespace retiming_6lut_query_test {

namespace {

std::unique_ptr<CDB_ATOM_NETLIST> build(const std::function<void(RTM6_NET&)>& b)
{
    RTM6_NET n;
    b(n);
    return n.take();
}

bool logged(const MORV_LOG_CAPTURE& log, const std::string& text)
{
    const std::vector<std::string> lines = log.lines();
    return std::any_of(lines.begin(), lines.end(),
                       [&](const std::string& line) { return line.find(text) != std::string::npos; });
}

// Register r<k> from i<k> into cell c<k>; the caller adds what makes r<k> special.
CDB_ATOM_NODE* register_into_cell(RTM6_NET& n, int k)
{
    CDB_ATOM_NODE* r = n.reg(rtm6_name("r", k), n.input(rtm6_name("i", k)));
    n.output(RTM6_NET::out(n.lut(rtm6_name("c", k), {RTM6_NET::out(r)}, 0x1)), rtm6_name("o", k));
    return r;
}

void filter_netlist(RTM6_NET& n)
{
    n.output(RTM6_NET::out(n.lut("c0", {RTM6_NET::out(n.lut("l0", {n.input("i0")}, 0x2))}, 0x1)), "o0");
    n.control(register_into_cell(n, 1), DB_SYNCH_LOAD, n.input("ld"));  // a real load
    n.control(register_into_cell(n, 2), DB_ASYNCH_LOAD, n.input("al"));
    CDB_ATOM_NODE* r3 = register_into_cell(n, 3);  // its data input a constant
    RTM6_NET::in(r3, DB_DATAIN)->disconnect_from_source(CDB_NET_ITERM::UNCONNECTED);
    RTM6_NET::in(r3, DB_DATAIN)->set_vcc();
    CDB_ATOM_NODE* r4 = register_into_cell(n, 4);  // always loads a driven synchronous data
    RTM6_NET::in(r4, DB_DATAIN)->disconnect_from_source(CDB_NET_ITERM::UNCONNECTED);
    RTM6_NET::in(r4, DB_DATAIN)->set_gnd();
    n.control(r4, DB_SYNCH_LOAD, nullptr)->set_vcc();
    n.control(r4, DB_SYNCH_DATA, n.input("sd"));
    CDB_ATOM_NODE* r5 = register_into_cell(n, 5);  // enables itself
    n.control(r5, DB_CLOCK_ENABLE, RTM6_NET::out(r5));
}

}  // namespace

TEST(Retiming6LutQuery, ForwardPushFilterGivesItsReasons)
{
    RTM6_RUN run(build(filter_netlist));
    TEST_RETIMING_6LUT_LEAF& rtm = run.rtm();
    const auto candidate = [&](int k) {
        return rtm.is_forward_push_candidate(RTM6_NET::in(run.find(rtm6_name("c", k)), DB_DATA_A));
    };
    MORV_LOG_CAPTURE log(100);
    EXPECT_FALSE(candidate(0));
    EXPECT_TRUE(logged(log, "FP: NON-LCELL"));
    EXPECT_FALSE(candidate(1));
    EXPECT_TRUE(logged(log, "FP: REG-COMPLEX on chain"));
    rtm.set_sload_push(true);
    EXPECT_TRUE(candidate(1));
    EXPECT_FALSE(candidate(2));
    EXPECT_TRUE(logged(log, "FP: REG-COMPLEX"));
    const size_t lines = log.lines().size();
    EXPECT_FALSE(candidate(3));
    EXPECT_TRUE(candidate(4));
    EXPECT_FALSE(candidate(5));
    EXPECT_EQ(log.lines().size(), lines);  // constant data and feedback refuse silently
    RETIME_REG reg;
    EXPECT_TRUE(rtm.get_input_register(RTM6_NET::in(run.find("c4"), DB_DATA_A), reg));
    EXPECT_EQ(reg.regout, RTM6_NET::out(run.find("r4")));
}

TEST(Retiming6LutQuery, GlobalControlsAndFeedback)
{
    RTM6_RUN run(build(filter_netlist));
    TEST_RETIMING_6LUT_LEAF& rtm = run.rtm();
    EXPECT_TRUE(rtm.is_register_complex(run.find("r1"), false));
    EXPECT_TRUE(rtm.is_register_complex(run.find("r2"), false));
    EXPECT_FALSE(rtm.is_register_complex(run.find("r4"), false));  // load tied to VCC
    EXPECT_FALSE(rtm.is_register_complex(run.find("c0"), true));   // not a register
    EXPECT_TRUE(rtm.has_register_feedback(run.find("r5")));
    EXPECT_FALSE(rtm.has_register_feedback(run.find("r4")));
    EXPECT_EQ(rtm.get_effective_data_input(run.find("r4")), RTM6_NET::in(run.find("r4"), DB_SYNCH_DATA));
    EXPECT_EQ(rtm.get_effective_data_input(run.find("r1")), RTM6_NET::in(run.find("r1"), DB_DATAIN));
}

// A wire LUT between a cell and a register passes the register on when it
// is the wire's one fanout; its inversions count in the power-up value.
TEST(Retiming6LutQuery, BackwardSearchThroughWireLut)
{
    for (int fanouts : {1, 2}) {
        for (bool inverting : {false, true}) {
            RTM6_RUN run(build([=](RTM6_NET& n) {
                CDB_ATOM_NODE* w = n.lut("w", {n.input("i0")}, inverting ? 0x1 : 0x2);
                n.output(RTM6_NET::out(n.reg("r0", RTM6_NET::out(w))), "o0");
                if (fanouts == 2) n.output(RTM6_NET::out(w), "o1");
            }));
            RETIME_REG reg;
            CDB_ATOM_OTERM* found = run.rtm().backward_push_get_reg(RTM6_NET::in(run.find("w"), DB_DATA_A), reg, true);
            if (fanouts == 2) {
                EXPECT_EQ(found, nullptr);
                continue;
            }
            EXPECT_EQ(found, RTM6_NET::out(run.find("r0")));
            EXPECT_EQ(reg.clear_low, !inverting);
        }
    }
}

TEST(Retiming6LutQuery, SlackComparisonAndDemuxQueue)
{
    RTM6_RUN run(build([](RTM6_NET& n) {
        CDB_ATOM_NODE* r0 = n.reg("r0", n.input("i0"));
        n.control(r0, DB_CLOCK_ENABLE, n.input("e"));
        n.output(RTM6_NET::out(n.lut("c0", {RTM6_NET::out(r0)}, 0x1)), "o0");
    }));
    TEST_RETIMING_6LUT_LEAF& rtm = run.rtm();
    CDB_ATOM_NODE* r0 = run.find("r0");
    CDB_ATOM_ITERM* data = RTM6_NET::in(r0, DB_DATAIN);
    CDB_ATOM_ITERM* enable = RTM6_NET::in(r0, DB_CLOCK_ENABLE);
    CDB_ATOM_ITERM* fanout = RTM6_NET::in(run.find("c0"), DB_DATA_A);
    SCRIPTED_SLACK_SOURCE slack(run.api()->get_fsyn_timing());
    slack.set_default(1000, 0.9);
    slack.set(data, 100, 0.5);
    slack.set(fanout, 100, 0.3);
    rtm.set_srt(0.4);
    EXPECT_TRUE(rtm.oslack_less_islack(r0, 0.0, false));
    EXPECT_FALSE(rtm.oslack_less_islack(r0, 0.25, false));
    rtm.set_backwards(true);
    EXPECT_TRUE(rtm.oslack_less_islack(r0, 0.0, true));  // output 0.3 below 0.4
    rtm.set_srt(0.2);
    EXPECT_FALSE(rtm.oslack_less_islack(r0, 0.0, true));
    rtm.set_backwards(false);
    EXPECT_TRUE(rtm.oslack_less_islack(r0, 0.5, true));  // input 0.5 not below 0.2
    rtm.touch(data);                                     // counts 1.0
    rtm.set_srt(2.0);
    EXPECT_TRUE(rtm.oslack_less_islack(r0, 0.6, true));
    EXPECT_FALSE(rtm.oslack_less_islack(run.find("c0"), 0.0, false));

    // Queued when the enable is critical and the data input is not.
    rtm.set_srt(0.4);
    slack.set(enable, 10, 0.1);
    slack.set(data, 10, 0.9);
    rtm.queue_for_demux(r0);
    EXPECT_TRUE(rtm.get_demux_queue().contains(r0));
    RTM6_RUN again(build([](RTM6_NET& n) {
        CDB_ATOM_NODE* r = n.reg("r0", n.input("i0"));
        n.control(r, DB_CLOCK_ENABLE, n.input("e"));
        n.output(RTM6_NET::out(r), "o0");
    }));
    SCRIPTED_SLACK_SOURCE all_critical(again.api()->get_fsyn_timing());
    all_critical.set_default(10, 0.1);
    again.rtm().set_srt(0.4);
    again.rtm().queue_for_demux(again.find("r0"));
    EXPECT_TRUE(again.rtm().get_demux_queue().empty());  // its data input is critical too
    again.rtm().touch(RTM6_NET::in(again.find("r0"), DB_DATAIN));
    again.rtm().queue_for_demux(again.find("r0"));
    EXPECT_TRUE(again.rtm().get_demux_queue().contains(again.find("r0")));
}

TEST(Retiming6LutQuery, PushPermission)
{
    RTM6_RUN run(build([](RTM6_NET& n) {
        CDB_ATOM_NODE* inv = n.lut("inv", {n.input("i0")}, 0x1);
        n.output(RTM6_NET::out(n.lut("c0", {RTM6_NET::out(inv), n.input("i1")}, 0x6)), "o0");
        n.lut("dead", {n.input("i2")}, 0x2);
    }));
    TEST_RETIMING_6LUT_LEAF& rtm = run.rtm();
    EXPECT_TRUE(rtm.is_push_allowed(run.find("c0")));
    EXPECT_FALSE(rtm.is_push_allowed(run.find("inv")));
    rtm.set_backwards(true);
    EXPECT_FALSE(rtm.is_push_allowed(run.find("dead")));  // no fanout, no current register
    rtm.set_backwards(false);
    EXPECT_TRUE(rtm.is_push_allowed(run.find("dead")));
}

// The family test leaf's constants: input A is the slow LUT input of every
// 6-LUT family's device, and the largest critical slack is four rotations.
TEST(Retiming6LutQuery, FamilyLeafConstants)
{
    for (int family : {CDB_FAMILY_BRK, CDB_FAMILY_KESTLIN, CDB_FAMILY_RZK, CDB_FAMILY_OBRAN}) {
        RTM6_NET n(family);
        n.output(n.input("i0"), "o0");
        RTM6_RUN run(n.take(), family);
        EXPECT_GT(run.rtm().get_rotation_delay(), 0) << family;
        EXPECT_EQ(run.rtm().get_max_critical_slack(), 4 * run.rtm().get_rotation_delay()) << family;
        EXPECT_EQ(run.rtm().get_num_combinations(), 64);
    }
}

// A multiplier's packed input register stands behind its port A and B
// inputs while MAC retiming is on; its output is the port's observable bit.
TEST(Retiming6LutQuery, MultiplierInputRegister)
{
    RTM6_RUN run(build([](RTM6_NET& n) {
        CDB_ATOM_NODE* mult = n.add(CDB_KIND_MAC_MULT, "m0");
        CDB_ATOM_OTERM* clk = n.input("mclk");
        clk->insert_fanout(mult->add_input_term(DB_CLOCK, 0));
        for (int port : {DB_DATA_A, DB_DATA_B})
            for (int bit = 0; bit < 2; ++bit)
                n.input(rtm6_name("x", port * 10 + bit))->insert_fanout(mult->add_input_term(port, bit));
        RTM6_NET::in(mult, DB_DATA_A)->set_invert();
        CUT_MAC_UTIL::set_input_port_clock(mult, DB_DATA_A, 0);
        CUT_MAC_UTIL::set_input_port_clock(mult, DB_DATA_B, CUT_MAC_NO_CLOCK);
        for (int bit = 0; bit < 2; ++bit)
            mult->add_output_term(CUT_MAC_UTIL::get_observable_port_type(DB_DATA_A),
                                  n.netlist().get_name_mgr()->create_unique_name(rtm6_name("obs", bit), 0), bit);
        n.output(mult->add_output_term(DB_DATA_OUT, n.netlist().get_name_mgr()->create_unique_name("p", 0)), "o0");
    }));
    TEST_RETIMING_6LUT_LEAF& rtm = run.rtm();
    CDB_ATOM_NODE* mult = run.find("m0");
    RETIME_REG reg;
    EXPECT_EQ(rtm.backward_push_get_reg(mult->get_input_term_by_type(DB_DATA_A, 1), reg, true), nullptr);
    rtm.set_mac_retiming(true);
    CDB_ATOM_OTERM* found = rtm.backward_push_get_reg(mult->get_input_term_by_type(DB_DATA_A, 1), reg, true);
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(found->get_port_index(), 1);
    EXPECT_TRUE(reg.clear_low);
    EXPECT_EQ(reg.signals[RETIME_CLOCK].source, RTM6_NET::in(mult, DB_CLOCK)->get_source());
    ASSERT_NE(rtm.backward_push_get_reg(mult->get_input_term_by_type(DB_DATA_A, 0), reg, true), nullptr);
    EXPECT_FALSE(reg.clear_low);  // the port's term is inverted
    EXPECT_EQ(rtm.backward_push_get_reg(mult->get_input_term_by_type(DB_DATA_B, 0), reg, true), nullptr);
    CUT_MAC_UTIL::set_mode(mult, CUT_MAC_MODE_DYNAMIC);
    EXPECT_EQ(rtm.backward_push_get_reg(mult->get_input_term_by_type(DB_DATA_A, 1), reg, true), nullptr);
}

// The fanin cones stop at depth 5 and at anything that is not a LUT.
TEST(Retiming6LutQuery, FaninConeOfLuts)
{
    RTM6_RUN run(build([](RTM6_NET& n) {
        CDB_ATOM_OTERM* signal = RTM6_NET::out(n.reg("r0", n.input("i0")));
        for (int k = 0; k < 8; ++k) signal = RTM6_NET::out(n.lut(rtm6_name("l", k), {signal}, 0x2));
        n.output(signal, "o0");
    }));
    RETIME_NODE_SET cone;
    run.rtm().collect_fanin_cone(run.find("l7"), DB_DATA_A, cone, 0);
    EXPECT_EQ(cone.size(), 5u);
    EXPECT_TRUE(cone.count(run.find("l2")) && !cone.count(run.find("l1")));
    cone.clear();
    run.rtm().collect_fanin_cone(run.find("l2"), DB_DATA_A, cone, 0);
    EXPECT_EQ(cone.size(), 2u);  // l1 and l0, not the register
}

}  // namespace retiming_6lut_query_test
