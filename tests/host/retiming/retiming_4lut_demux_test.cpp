// Demuxing register controls on ZEPLA: the mux masks against the register
// rule, and each mux built on a minimal netlist proved equivalent to the
// register it replaces.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "cdb/cdb_types.h"
#include "retiming_4lut_bench.h"
#include "test_files.h"

namespace retiming_4lut_demux_test {

namespace {

void expect_equivalent(const CDB_ATOM_NETLIST& before, RTM4_RUN& run, const std::string& tag)
{
    const SEQ_VERDICT verdict = seq_check(before, run.netlist(), tag, true, 300);
    EXPECT_TRUE(verdict.equivalent()) << tag << ": " << verdict.describe();
}

unsigned bit(uint64_t mask, unsigned a, unsigned b, unsigned c, unsigned d)
{
    return static_cast<unsigned>(mask >> (a + 2 * b + 4 * c + 8 * d)) & 1u;
}

enum CONTROL_TIE
{
    ABSENT,
    DRIVEN,
    DRIVEN_INVERTED,
    LOGICAL_GND,
    LOGICAL_VCC
};

void tie(RTM4_NET& net, CDB_ATOM_NODE* r, int port, CONTROL_TIE how, CDB_ATOM_OTERM* driver)
{
    if (how == ABSENT) return;
    CDB_ATOM_ITERM* t = net.control(r, port, how == DRIVEN || how == DRIVEN_INVERTED ? driver : nullptr);
    if (how == DRIVEN_INVERTED) t->set_invert();
    if (how == LOGICAL_GND) t->set_logical_gnd();
    if (how == LOGICAL_VCC) t->set_logical_vcc();
}

struct REG_SHAPE
{
    CONTROL_TIE enable = ABSENT, sclear = ABSENT, sload = ABSENT, sdata = ABSENT;
    bool data_inverted = false;
    bool data_gnd = false;
    bool data_open = false;  // the data term is there, unconnected
};

// d, e, s, l, v -> r(data d, enable e, synchronous clear s, load l, data v) -> o
std::unique_ptr<CDB_ATOM_NETLIST> register_with(const REG_SHAPE& shape)
{
    RTM4_NET net;
    CDB_ATOM_OTERM* d = net.input("d");
    CDB_ATOM_NODE* r = net.reg("r", shape.data_gnd || shape.data_open ? nullptr : d);
    if (shape.data_gnd) RTM4_NET::in(r, DB_DATAIN)->set_logical_gnd();
    if (shape.data_inverted) RTM4_NET::in(r, DB_DATAIN)->set_invert();
    tie(net, r, DB_CLOCK_ENABLE, shape.enable, net.input("e"));
    tie(net, r, DB_SYNCH_CLEAR, shape.sclear, net.input("s"));
    tie(net, r, DB_SYNCH_LOAD, shape.sload, net.input("l"));
    tie(net, r, DB_SYNCH_DATA, shape.sdata, net.input("v"));
    net.output(RTM4_NET::out(r), "o");
    return net.take();
}

}  // namespace

// next = ena ? (sclr ? 0 : (sload ? sdata : d)) : q for every value of the
// mux inputs; an absent enable is 1 and an absent clear 0, and an input the
// mux does not have reads 0.
TEST(Retiming4LutDemux, MasksFollowTheRegisterRule)
{
    for (int shape = 0; shape < 4; ++shape) {
        const bool clear = (shape & 1) != 0, enable = (shape & 2) != 0;
        const uint64_t mask = morv_retiming_4lut_control_mask(clear, enable);
        for (unsigned v = 0; v < 16; ++v) {
            CDB_REGISTER_INPUTS in;
            in.d = v & 1u;
            const unsigned q = enable ? (v >> 1) & 1u : 0u;
            in.ena = enable ? (v >> 2) & 1u : 1u;
            in.sclr = clear ? (v >> 3) & 1u : 0u;
            const unsigned b = enable ? q : 0u, c = enable ? in.ena : 0u, d = clear ? in.sclr : 0u;
            if ((!enable && (v & 6u)) || (!clear && (v & 8u))) continue;
            EXPECT_EQ(bit(mask, in.d, b, c, d), cdb_register_next_state(in, q)) << shape << " " << v;
        }
    }
    for (bool inverted : {false, true}) {
        const uint64_t mask = morv_retiming_4lut_sload_mask(inverted);
        for (unsigned v = 0; v < 8; ++v) {
            CDB_REGISTER_INPUTS in;
            in.d = v & 1u;
            in.sdata = (v >> 1) & 1u;
            const unsigned pin = (v >> 2) & 1u;
            in.sload = inverted ? pin ^ 1u : pin;
            EXPECT_EQ(bit(mask, in.d, in.sdata, pin, 0), cdb_register_next_state(in, 0)) << inverted << " " << v;
        }
    }
}

// Every control shape the control mux takes, the clear tied to logical GND
// (absent) and to logical VCC (a constant-1 input) among them, and
// inverted data and controls, each proved equivalent. A register that
// never loads reads 0 from an open data input whatever its synchronous
// data: the mux's data input is a constant 0, not that data.
TEST(Retiming4LutDemux, ControlMuxKeepsTheRegisterFunction)
{
    const REG_SHAPE shapes[] = {
        {DRIVEN, DRIVEN, ABSENT, ABSENT, false, false},
        {DRIVEN, ABSENT, ABSENT, ABSENT, true, false},
        {LOGICAL_VCC, DRIVEN, ABSENT, DRIVEN, false, false},
        {DRIVEN_INVERTED, DRIVEN_INVERTED, ABSENT, ABSENT, true, false},
        {DRIVEN, LOGICAL_GND, ABSENT, ABSENT, false, false},
        {DRIVEN, LOGICAL_VCC, ABSENT, ABSENT, false, false},
        {LOGICAL_GND, DRIVEN, ABSENT, ABSENT, false, false},
        {DRIVEN, DRIVEN, LOGICAL_GND, DRIVEN, false, true},
        {DRIVEN, ABSENT, ABSENT, DRIVEN, false, false, true},
        {DRIVEN, DRIVEN, LOGICAL_GND, DRIVEN, false, false, true},
    };
    int k = 0;
    for (const REG_SHAPE& shape : shapes) {
        const std::string tag = "control_" + std::to_string(k++);
        const auto before = register_with(shape);
        RTM4_RUN run(register_with(shape));
        CDB_ATOM_NODE* r = run.find("r");
        ASSERT_TRUE(run.rtm().create_control_mux(r)) << tag;
        CDB_ATOM_ITERM* data = RTM4_NET::in(r, DB_DATAIN);
        EXPECT_FALSE(data->is_inverted()) << tag;
        EXPECT_FALSE(RTM4_NET::in(r, DB_SYNCH_CLEAR) != nullptr && RTM4_NET::in(r, DB_SYNCH_CLEAR)->is_connected());
        expect_equivalent(*before, run, tag);
    }
}

// A control's boundary port goes with its driver onto the mux input; when
// the control was inverted, an inverter cell comes in front of that input,
// which then reads the inverter and stands for no port. The register's
// controls keep none: also one tied to a constant (its mux input reads a
// constant cell, or, for an enable tied high, there is none) and the
// synchronous data of a register that never loads, which no mux input reads.
TEST(Retiming4LutDemux, ControlMuxInputsTakeTheBoundaryPortsOfTheControlsTheyRead)
{
    const struct
    {
        CONTROL_TIE enable, sclear, sdata;
    } rows[] = {{DRIVEN, DRIVEN, ABSENT},          {DRIVEN_INVERTED, DRIVEN, ABSENT}, {DRIVEN, DRIVEN_INVERTED, ABSENT},
                {DRIVEN_INVERTED, ABSENT, ABSENT}, {DRIVEN, LOGICAL_VCC, DRIVEN},     {LOGICAL_VCC, DRIVEN, ABSENT}};
    int k = 0;
    for (const auto& row : rows) {
        const std::string tag = "ports_" + std::to_string(k++);
        const REG_SHAPE shape{row.enable, row.sclear, ABSENT, row.sdata, false, false};
        const auto before = register_with(shape);
        RTM4_RUN run(register_with(shape), CDB_FAMILY_ZEPLA, nullptr, true);
        CDB_ATOM_NODE* r = run.find("r");
        struct
        {
            int control, mux_input;  // mux_input -1: none reads the control
            CONTROL_TIE tie;
            int port;
        } ports[] = {{DB_CLOCK_ENABLE, DB_DATA_C, row.enable, -1},
                     {DB_SYNCH_CLEAR, DB_DATA_D, row.sclear, -1},
                     {DB_SYNCH_DATA, -1, row.sdata, -1}};
        for (auto& c : ports)
            if (c.tie != ABSENT) c.port = run.assign_port(RTM4_NET::in(r, c.control), "p|" + std::to_string(c.control));
        ASSERT_TRUE(run.rtm().create_control_mux(r)) << tag;
        CDB_ATOM_NODE* mux = RTM4_NET::in(r, DB_DATAIN)->get_source()->get_my_node();
        for (const auto& c : ports) {
            if (c.tie == ABSENT) continue;
            EXPECT_EQ(run.port_of(RTM4_NET::in(r, c.control)), -1) << tag << " " << c.control;
            if (c.mux_input < 0) continue;
            EXPECT_EQ(run.port_of(RTM4_NET::in(mux, c.mux_input)), c.tie == DRIVEN ? c.port : -1)
                << tag << " " << c.control;
        }
        expect_equivalent(*before, run, tag);
    }
}

// A refused register is left as it was, by the control mux and by the
// demuxer, which counts nothing for it: a clear tied low is no control, a
// live load is the load mux's, and a don't-touch register output refuses
// every mux.
TEST(Retiming4LutDemux, ControlMuxRefusals)
{
    const struct
    {
        const char* tag;
        REG_SHAPE shape;
        bool dont_touch;
        bool load_mux;  // the demuxer builds the load mux
    } rows[] = {
        {"gnd_clear_only", {ABSENT, LOGICAL_GND, ABSENT, ABSENT, false, false}, false, false},
        {"live_load", {DRIVEN, DRIVEN, DRIVEN, DRIVEN, false, false}, false, true},
        {"dont_touch", {DRIVEN, DRIVEN, ABSENT, ABSENT, false, false}, true, false},
        {"dont_touch_live_load", {DRIVEN, DRIVEN, DRIVEN, DRIVEN, false, false}, true, false},
    };
    for (const auto& row : rows) {
        for (bool whole_demuxer : {false, true}) {
            if (whole_demuxer && row.load_mux) continue;
            SCOPED_TRACE(std::string(row.tag) + (whole_demuxer ? " demuxer" : " control mux"));
            RTM4_RUN run(register_with(row.shape));
            CDB_ATOM_NODE* r = run.find("r");
            CDB_ATOM_ASSIGNMENTS assignments = r->get_assignments();
            assignments.dont_touch = row.dont_touch;
            r->set_assignments(assignments);
            const std::string untouched = native_text(run.netlist());
            if (whole_demuxer) {
                run.rtm().queue(r);
                EXPECT_EQ(run.rtm().run_demuxer(), 0);
            } else {
                EXPECT_FALSE(run.rtm().create_control_mux(r));
            }
            EXPECT_EQ(native_text(run.netlist()), untouched);
        }
    }
}

// The data input's inversion and the load's inversion each count
// once, the load's in the mask.
TEST(Retiming4LutDemux, SloadMuxKeepsTheRegisterFunction)
{
    const REG_SHAPE shapes[] = {
        {ABSENT, ABSENT, DRIVEN, DRIVEN, false, false},
        {ABSENT, ABSENT, DRIVEN_INVERTED, DRIVEN, true, false},
        {DRIVEN, DRIVEN, DRIVEN, DRIVEN_INVERTED, true, false},
        {ABSENT, ABSENT, DRIVEN, DRIVEN, false, true},
    };
    int k = 0;
    for (const REG_SHAPE& shape : shapes) {
        const std::string tag = "sload_" + std::to_string(k++);
        const auto before = register_with(shape);
        RTM4_RUN run(register_with(shape));
        CDB_ATOM_NODE* r = run.find("r");
        ASSERT_TRUE(run.rtm().create_sload_mux(r)) << tag;
        CDB_ATOM_NODE* mux = RTM4_NET::in(r, DB_DATAIN)->get_source()->get_my_node();
        EXPECT_FALSE(RTM4_NET::in(mux, DB_DATA_C)->is_inverted());
        EXPECT_EQ(mux->get_lutmask().get_value() & 0xffff,
                  morv_retiming_4lut_sload_mask(shape.sload == DRIVEN_INVERTED));
        expect_equivalent(*before, run, tag);
        // Then its enable and clear, as the demuxer does.
        if (shape.enable != ABSENT) {
            ASSERT_TRUE(run.rtm().create_control_mux(r));
            expect_equivalent(*before, run, tag + "_control");
        }
    }
    RTM4_RUN tied(register_with({ABSENT, ABSENT, LOGICAL_VCC, DRIVEN, false, false}));
    EXPECT_FALSE(tied.rtm().create_sload_mux(tied.find("r")));
}

TEST(Retiming4LutDemux, ConstantGeneratorSharedByTwoMuxes)
{
    const auto build = [] {
        RTM4_NET net;
        CDB_ATOM_OTERM* e = net.input("e");
        for (const char* name : {"r0", "r1"}) {
            CDB_ATOM_NODE* r = net.reg(name, nullptr);
            RTM4_NET::in(r, DB_DATAIN)->set_logical_gnd();
            net.control(r, DB_CLOCK_ENABLE, e);
            net.output(RTM4_NET::out(r), std::string("o") + name);
        }
        return net.take();
    };
    const auto before = build();
    RTM4_RUN run(build());
    CDB_ATOM_NODE* r0 = run.find("r0");
    CDB_ATOM_NODE* r1 = run.find("r1");
    for (CDB_ATOM_NODE* r : {r0, r1}) run.rtm().queue(r);
    EXPECT_EQ(run.rtm().run_demuxer(), 2);
    CDB_ATOM_NODE* mux0 = RTM4_NET::in(r0, DB_DATAIN)->get_source()->get_my_node();
    CDB_ATOM_NODE* mux1 = RTM4_NET::in(r1, DB_DATAIN)->get_source()->get_my_node();
    ASSERT_NE(mux0, mux1);
    CDB_ATOM_OTERM* zero = RTM4_NET::in(mux0, DB_DATA_A)->get_source();
    ASSERT_NE(zero, nullptr);
    EXPECT_EQ(RTM4_NET::in(mux1, DB_DATA_A)->get_source(), zero);
    EXPECT_EQ(zero->get_my_node()->get_lutmask().get_value() & 0xffff, 0u);
    expect_equivalent(*before, run, "shared_generator");
}

namespace {

// r0 (enable e0) and r1 (enable e1, or none) on the same clock feed c = A xor B.
std::unique_ptr<CDB_ATOM_NETLIST> registers_of_two_enables(int family, bool second_enable)
{
    RTM4_NET net(family);
    CDB_ATOM_NODE* r0 = net.reg("r0", net.input("d0"));
    CDB_ATOM_NODE* r1 = net.reg("r1", net.input("d1"));
    net.control(r0, DB_CLOCK_ENABLE, net.input("e0"));
    if (second_enable) net.control(r1, DB_CLOCK_ENABLE, net.input("e1"));
    net.output(RTM4_NET::out(net.lut("c", {RTM4_NET::out(r0), RTM4_NET::out(r1)}, 0x6666)), "o");
    return net.take();
}

}  // namespace

// A LUT whose input registers differ in their enables takes no forward
// push: nothing changes, and every input is plain LUT data, so the
// registers themselves (not the LUT) wait for the demuxer. Once their
// enables are muxes the push goes through.
TEST(Retiming4LutDemux, ForwardPushOverUnequalEnablesQueuesTheRegistersForTheDemuxer)
{
    for (int family : {CDB_FAMILY_ZEPLA, CDB_FAMILY_TEV})
        for (bool second_enable : {true, false}) {
            const std::string tag = "unequal_enables_" + std::to_string(family) + (second_enable ? "_two" : "_one");
            const auto before = registers_of_two_enables(family, second_enable);
            RTM4_RUN run(registers_of_two_enables(family, second_enable), family);
            run.rtm().set_backwards(false);
            CDB_ATOM_NODE* c = run.find("c");
            const std::string untouched = native_text(run.netlist());
            EXPECT_FALSE(run.rtm().forward_push(c)) << tag;
            EXPECT_EQ(native_text(run.netlist()), untouched) << tag;
            std::vector<CDB_ATOM_NODE*> queued;
            for (CDB_ATOM_NODE* node : run.rtm().get_demux_queue()) queued.push_back(node);
            EXPECT_EQ(queued, (std::vector<CDB_ATOM_NODE*>{run.find("r0"), run.find("r1")})) << tag;
            EXPECT_EQ(run.rtm().run_demux_pass(), second_enable ? 2 : 1) << tag;
            expect_equivalent(*before, run, tag + "_demuxed");
            ASSERT_TRUE(run.rtm().forward_push(c)) << tag;
            expect_equivalent(*before, run, tag + "_pushed");
        }
}

}  // namespace retiming_4lut_demux_test
