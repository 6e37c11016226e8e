// DSP retiming through the real family classes (BRK, ZEPLA, OBRAN) on
// generated DSP slices: slice discovery and eligibility, the slack sides,
// every push (backward from the packed output register and from fanout
// registers, forward in input, through and pipeline modes, the output
// block's unpacking, the LUT push that absorbs a packed input register),
// output-register slot choice, and refusals that must leave the netlist
// byte for byte as it was. Every edited netlist is proved by ABC and
// co-simulated from the all-zero power-up state against the unedited one.
#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <memory>
#include <sstream>
#include <string>

#include "cdb/cdb_atom_netlist.h"
#include "cdb/cdb_native_format.h"
#include "cfg/cfg.h"
#include "cut/cut_block_util.h"
#include "io/blif_reader.h"
#include "msg/msg.h"

#include "dsp_gen.h"
#include "morv/core/family/morv_family_traits.h"
#include "morv/retiming/morv_retiming_family.h"
#include "morv/retiming/morv_retiming_mac.h"
#include "retiming_seq_run.h"
#include "scripted_slack.h"
#include "seq_gen.h"
#include "seq_harness.h"
#include "test_files.h"

namespace retiming_mac_test {

namespace {

template <typename FAMILY>
class MAC_LEAF : public FAMILY
{
public:
    MAC_LEAF(MORV_API* api, const MORV_PARAMETER_MAP* params) : FAMILY(api, params)
    {
        const int family = api->get_base_family_code();
        this->m_mac_retiming_enabled = true;
        this->m_mac_forward_pushes = morv_rtm_mac_retiming(family) == MORV_MAC_RETIMING_BOTH;
    }
    struct COUNTS
    {
        int inverters = 0;
    };
    const COUNTS& counts() const { return m_counts; }
    using FAMILY::describe_mac_register;
    void set_backwards(bool on) { this->m_retime_backwards = on; }
    void set_skew(bool on) { this->m_skew_mode = on; }
    void set_srt(double srt) { this->m_slack_ratio_threshold = srt; }
    void touch(CDB_ATOM_ITERM* iterm) { this->m_touched_iterms.insert(iterm); }
    // Every slack test passes: pushes are judged only by their effect.
    void permissive()
    {
        set_srt(-1.0);
        set_skew(true);
    }
    // The core's steps around a visit: the live set and fresh slices.
    void prepare(bool backwards)
    {
        set_backwards(backwards);
        this->topological_sort();
    }

private:
    COUNTS m_counts;
};

CDB_ATOM_NODE* find(const CDB_ATOM_NETLIST& netlist, const char* name)
{
    CDB_ATOM_NODE* node = seq_find(netlist, name);
    EXPECT_NE(node, nullptr) << name;
    return node;
}

// A generated design twice: the reference and the one the leaf edits.
template <typename FAMILY>
struct MAC_CASE
{
    explicit MAC_CASE(const DSP_GEN_OPTIONS& o)
        : reference(dsp_generate(o)), run(o.m_family, dsp_generate(o), "", nullptr),
          slacks(run.api()->get_fsyn_timing())
    {
        slacks.set_default(10000, 1.0);
        place_every_node(run.api(), run.netlist());
    }
    MAC_LEAF<FAMILY>& leaf() { return run.leaf(); }
    CDB_ATOM_NODE* node(const char* name) { return find(run.netlist(), name); }
    void expect_equivalent(const std::string& tag)
    {
        const SEQ_VERDICT v = seq_check(*reference, run.netlist(), tag, true, 300, 11);
        EXPECT_TRUE(v.equivalent()) << tag << ": " << v.describe();
    }

    std::unique_ptr<CDB_ATOM_NETLIST> reference;
    RETIMING_SEQ_RUN<MAC_LEAF<FAMILY>> run;
    SCRIPTED_SLACK_SOURCE slacks;
};

class RetimingMac : public ::testing::Test
{
protected:
    void SetUp() override
    {
        cfg_clear_all();
        msg_set_quiet(true);
    }
    void TearDown() override { cfg_clear_all(); }
};

bool output_registered(const CDB_ATOM_NODE* mac)
{
    return CUT_MAC_UTIL::is_output_port_registered(mac, DB_DATA_OUT);
}

int count_register_outputs(const CDB_ATOM_NETLIST& netlist)
{
    int n = 0;
    for (CDB_ATOM_NODE* node : netlist) n += node->get_output_term_by_type(DB_REG_OUT) != nullptr ? 1 : 0;
    return n;
}

// ------------------------------------------------------------ the sample designs

TEST_F(RetimingMac, SampleDesignsAreTheGeneratorsOwn)
{
    const struct
    {
        int family;
        const char* name;
    } samples[] = {
        {CDB_FAMILY_BRK, "brk"}, {CDB_FAMILY_ZEPLA, "zepla"}, {CDB_FAMILY_OBRAN, "obran"}, {CDB_FAMILY_UVO, "uvo"}};
    for (const auto& s : samples) {
        const std::string text = canonical_ids(native_text(*dsp_generate(dsp_sample_options(s.family))));
        std::string path = MORV_SOURCE_DIR;
        path += "/designs/dsp_mac_";
        path += s.name;
        path += ".txt";
        EXPECT_TRUE(sample_design_is_current(path, text));
    }
}

// ------------------------------------------------------------ slices and eligibility

TEST_F(RetimingMac, SlicesScanTheFamilysPorts)
{
    DSP_GEN_OPTIONS o;
    o.m_mults = 2;
    MAC_CASE<MORV_RETIMING_BRK> brk(o);
    brk.leaf().prepare(true);
    ASSERT_EQ(brk.leaf().get_mac_slices().size(), 1u);
    EXPECT_EQ(brk.leaf().get_mac_slices()[0].m_mac_mults.size(), 2u);
    EXPECT_EQ(brk.leaf().find_mac_slice(brk.node("d_m1")), brk.leaf().find_mac_slice(brk.node("d_o")));

    // ZEPLA reads port 11 only: the multiplier on port 12 stays outside.
    o.m_family = CDB_FAMILY_ZEPLA;
    MAC_CASE<MORV_RETIMING_ZEPLA> zepla(o);
    const std::string zepla_before = native_text(zepla.run.netlist());
    zepla.leaf().prepare(true);
    ASSERT_EQ(zepla.leaf().get_mac_slices().size(), 1u);
    ASSERT_EQ(zepla.leaf().get_mac_slices()[0].m_mac_mults.size(), 1u);
    EXPECT_EQ(zepla.leaf().get_mac_slices()[0].m_mac_mults[0], zepla.node("d_m0"));
    EXPECT_EQ(zepla.leaf().find_mac_slice(zepla.node("d_m1")), nullptr);
    EXPECT_FALSE(zepla.leaf().is_retimeable_mac(zepla.node("d_m1")));
    // Nor may a register move through the one multiplier while another adds in.
    EXPECT_FALSE(zepla.leaf().mac_backward_push(zepla.node("d_o")));
    EXPECT_TRUE(native_text(zepla.run.netlist()) == zepla_before);
}

TEST_F(RetimingMac, ControlInputsDecideEligibility)
{
    DSP_GEN_OPTIONS o;
    MAC_CASE<MORV_RETIMING_BRK> c(o);
    c.leaf().prepare(false);
    CDB_ATOM_NODE* mult = c.node("d_m0");
    CDB_ATOM_NODE* out = c.node("d_o");
    ASSERT_TRUE(c.leaf().is_retimeable_mac(mult));
    ASSERT_TRUE(c.leaf().is_retimeable_mac(out));
    CDB_ATOM_OTERM* clk = c.node("clk")->get_output_term_by_type(DB_DATA_OUT);
    CDB_ATOM_OTERM* cell = c.node("ra0_0")->get_output_term_by_type(DB_REG_OUT);
    // A multiplier's control tied to a constant is no signal, nor is one a
    // pin drives; one a cell drives is.
    CDB_ATOM_ITERM* control = mult->add_input_term(MORV_MAC_MULT_CONTROL_PORT_0, 0);
    control->set_logical_vcc();
    EXPECT_TRUE(c.leaf().is_retimeable_mac(mult));
    control->set_logical_gnd();
    EXPECT_TRUE(c.leaf().is_retimeable_mac(mult));
    clk->insert_fanout(control);
    EXPECT_TRUE(c.leaf().is_retimeable_mac(mult));
    control->disconnect_from_source(CDB_NET_ITERM::UNCONNECTED);
    cell->insert_fanout(control);
    EXPECT_FALSE(c.leaf().is_retimeable_mac(mult));
    // On the output block any driver refuses, a constant too.
    CDB_ATOM_ITERM* out_control = out->add_input_term(MORV_MAC_CONTROL_PORT_1, 0);
    out_control->set_logical_vcc();
    EXPECT_FALSE(c.leaf().is_retimeable_mac(out));
}

TEST_F(RetimingMac, SlackSidesAndCriticality)
{
    DSP_GEN_OPTIONS o;
    o.m_external_inputs = false;
    o.m_packed_inputs = true;
    o.m_fanout_registers = false;
    MAC_CASE<MORV_RETIMING_BRK> c(o);
    c.leaf().prepare(false);
    c.leaf().set_srt(0.125);
    CDB_ATOM_NODE* mult = c.node("d_m0");
    CDB_ATOM_NODE* out = c.node("d_o");
    // A ratio equal to the threshold is a critical input but not a critical output.
    for (auto it = mult->begin_oterm(); it != mult->end_oterm(); ++it)
        for (auto f = (*it)->begin_iterm_fanout(); f != (*it)->end_iterm_fanout(); ++f) c.slacks.set(*f, 0, 0.125);
    EXPECT_TRUE(c.leaf().has_critical_mac_input(mult));
    EXPECT_FALSE(c.leaf().is_mac_output_critical(out));
    for (auto it = out->begin_oterm(); it != out->end_oterm(); ++it)
        for (auto f = (*it)->begin_iterm_fanout(); f != (*it)->end_iterm_fanout(); ++f) c.slacks.set(*f, 0, 0.125);
    EXPECT_FALSE(c.leaf().is_mac_output_critical(out));
    c.leaf().set_skew(true);
    EXPECT_TRUE(c.leaf().is_mac_output_critical(out));
    c.leaf().set_skew(false);
    // A touched term counts as 1.0 on both sides.
    CDB_ATOM_ITERM* a0 = mult->get_input_term_by_type(DB_DATA_A, 0);
    c.slacks.set(a0, 0, 0.01);
    EXPECT_DOUBLE_EQ(c.leaf().get_mac_input_slack_ratio(mult, DB_DATA_A), 0.01);
    c.leaf().touch(a0);
    EXPECT_DOUBLE_EQ(c.leaf().get_mac_input_slack_ratio(mult, DB_DATA_A), 1.0);
    // Both registered, a multiplier passes forward and fails backward without timing.
    o.m_mult_outputs = true;
    MAC_CASE<MORV_RETIMING_BRK> both(o);
    both.leaf().prepare(false);
    EXPECT_TRUE(both.leaf().mac_oslack_less_islack(both.node("d_m0"), DB_MAX_INPUT_PORT_TYPE, 0.05, true));
    both.leaf().set_backwards(true);
    EXPECT_FALSE(both.leaf().mac_oslack_less_islack(both.node("d_m0"), DB_MAX_INPUT_PORT_TYPE, -0.05, true));
}

// ------------------------------------------------------------ backward pushes

TEST_F(RetimingMac, BackwardFromThePackedOutputRegister)
{
    // BRK: the output block's register goes into the multipliers' output registers.
    DSP_GEN_OPTIONS o;
    o.m_packed_output = true;
    o.m_fanout_registers = false;
    MAC_CASE<MORV_RETIMING_BRK> brk(o);
    brk.leaf().prepare(true);
    brk.leaf().permissive();
    const int registers = count_register_outputs(brk.run.netlist());
    ASSERT_EQ(brk.leaf().mac_backward_push(brk.node("d_o")), 1);
    EXPECT_FALSE(output_registered(brk.node("d_o")));
    EXPECT_TRUE(output_registered(brk.node("d_m0")));
    EXPECT_TRUE(output_registered(brk.node("d_m1")));
    EXPECT_EQ(count_register_outputs(brk.run.netlist()), registers);
    brk.expect_equivalent("mac_brk_back_packed");

    // OBRAN: started at a multiplier nothing happens; at the output block
    // every multiplier's inputs take registers of their own.
    o.m_family = CDB_FAMILY_OBRAN;
    MAC_CASE<MORV_RETIMING_OBRAN> obran(o);
    obran.leaf().prepare(true);
    obran.leaf().permissive();
    EXPECT_EQ(obran.leaf().mac_backward_push(obran.node("d_m0")), 0);
    ASSERT_EQ(obran.leaf().mac_backward_push(obran.node("d_o")), 1);
    EXPECT_FALSE(output_registered(obran.node("d_o")));
    EXPECT_FALSE(output_registered(obran.node("d_m0")));
    EXPECT_GT(count_register_outputs(obran.run.netlist()), registers);
    obran.expect_equivalent("mac_obran_back_packed");
}

TEST_F(RetimingMac, BackwardFromFanoutRegistersWithoutAClear)
{
    // The record has no clear: the multipliers' new output registers take a
    // clear slot tied to VCC, which never clears.
    DSP_GEN_OPTIONS o;
    o.m_logic_levels = 0;
    o.m_clear = false;
    MAC_CASE<MORV_RETIMING_BRK> c(o);
    c.leaf().prepare(true);
    c.leaf().permissive();
    ASSERT_EQ(c.leaf().mac_backward_push(c.node("d_o")), 1);
    for (const char* name : {"d_m0", "d_m1"}) {
        CDB_ATOM_NODE* mult = c.node(name);
        ASSERT_TRUE(output_registered(mult));
        const int clear = CUT_MAC_UTIL::get_output_port_clear(mult, DB_DATA_OUT);
        ASSERT_GE(clear, 0);
        CDB_ATOM_ITERM* term = mult->get_input_term_by_type(DB_CLEAR, clear);
        ASSERT_NE(term, nullptr);
        EXPECT_TRUE(term->is_logical_vcc());
    }
    c.expect_equivalent("mac_brk_back_fanout");
}

TEST_F(RetimingMac, ZeplaBackwardThroughTheOneMultiplier)
{
    DSP_GEN_OPTIONS o;
    o.m_family = CDB_FAMILY_ZEPLA;
    o.m_mults = 1;
    o.m_packed_output = true;
    o.m_fanout_registers = false;
    o.m_inverted_pin = true;
    MAC_CASE<MORV_RETIMING_ZEPLA> c(o);
    c.leaf().prepare(true);
    c.leaf().permissive();
    EXPECT_EQ(c.leaf().mac_backward_push(c.node("d_m0")), 0);
    ASSERT_EQ(c.leaf().mac_backward_push(c.node("d_o")), 1);
    c.expect_equivalent("mac_zepla_back");
}

// ------------------------------------------------------------ forward pushes

TEST_F(RetimingMac, ForwardInputModeFromPackedAndExternalRegisters)
{
    for (bool packed : {true, false}) {
        DSP_GEN_OPTIONS o;
        o.m_packed_inputs = packed;
        o.m_external_inputs = !packed;
        o.m_inverted_pin = packed;  // an inverted pin sits in front of the packed register
        MAC_CASE<MORV_RETIMING_BRK> c(o);
        c.leaf().prepare(false);
        c.leaf().permissive();
        ASSERT_TRUE(c.leaf().mac_forward_push(c.node("d_m0"))) << packed;
        EXPECT_TRUE(output_registered(c.node("d_m0")));
        EXPECT_FALSE(CUT_MAC_UTIL::is_input_port_registered(c.node("d_m0"), DB_DATA_A));
        c.expect_equivalent(packed ? "mac_fwd_packed" : "mac_fwd_external");
    }
}

TEST_F(RetimingMac, ForwardPipelineAndThroughModes)
{
    DSP_GEN_OPTIONS o;
    o.m_external_inputs = false;
    o.m_mult_outputs = true;
    MAC_CASE<MORV_RETIMING_BRK> pipe(o);
    pipe.leaf().prepare(false);
    pipe.leaf().permissive();
    ASSERT_TRUE(pipe.leaf().mac_forward_push(pipe.node("d_o")));
    EXPECT_TRUE(output_registered(pipe.node("d_o")));
    EXPECT_FALSE(output_registered(pipe.node("d_m0")));
    EXPECT_FALSE(output_registered(pipe.node("d_m1")));
    pipe.expect_equivalent("mac_fwd_pipeline");

    DSP_GEN_OPTIONS z;
    z.m_family = CDB_FAMILY_ZEPLA;
    z.m_mults = 1;
    z.m_external_inputs = false;
    z.m_packed_inputs = true;
    MAC_CASE<MORV_RETIMING_ZEPLA> through(z);
    through.leaf().prepare(false);
    through.leaf().permissive();
    EXPECT_FALSE(through.leaf().mac_forward_push(through.node("d_o")));
    ASSERT_TRUE(through.leaf().mac_forward_push(through.node("d_m0")));
    EXPECT_TRUE(output_registered(through.node("d_o")));
    EXPECT_FALSE(output_registered(through.node("d_m0")));
    EXPECT_FALSE(CUT_MAC_UTIL::is_input_port_registered(through.node("d_m0"), DB_DATA_B));
    through.expect_equivalent("mac_fwd_through");
}

TEST_F(RetimingMac, RefusalsLeaveTheNetlistAsItWas)
{
    // Through mode with the output block's only slot on another clock.
    DSP_GEN_OPTIONS z;
    z.m_family = CDB_FAMILY_ZEPLA;
    z.m_mults = 1;
    z.m_external_inputs = false;
    z.m_packed_inputs = true;
    z.m_clear = false;
    MAC_CASE<MORV_RETIMING_ZEPLA> taken(z);
    CDB_ATOM_NODE* out = taken.node("d_o");
    CDB_ATOM_ITERM* other_clock = out->add_input_term(DB_CLOCK, 0);
    taken.node("a0_0")->get_output_term_by_type(DB_DATA_OUT)->insert_fanout(other_clock);
    CUT_MAC_UTIL::set_pipeline_clock(out, DB_DATA_A, 0);
    const std::string before = native_text(taken.run.netlist());
    taken.leaf().prepare(false);
    taken.leaf().permissive();
    EXPECT_FALSE(taken.leaf().mac_forward_push(taken.node("d_m0")));
    EXPECT_TRUE(native_text(taken.run.netlist()) == before);

    // Constant-1 bits on both operands behind external registers: the product
    // at power-up is not 0, which the new output register could not hold.
    DSP_GEN_OPTIONS o;
    o.m_vcc_bits = 1;
    MAC_CASE<MORV_RETIMING_BRK> ones(o);
    const std::string ones_before = native_text(ones.run.netlist());
    ones.leaf().prepare(false);
    ones.leaf().permissive();
    EXPECT_FALSE(ones.leaf().mac_forward_push(ones.node("d_m0")));
    EXPECT_TRUE(native_text(ones.run.netlist()) == ones_before);

    // Operand bits of different enables refuse; a dynamic-mode block never unpacks.
    DSP_GEN_OPTIONS p;
    p.m_external_inputs = false;
    p.m_packed_inputs = true;
    p.m_packed_output = true;
    MAC_CASE<MORV_RETIMING_BRK> enables(p);
    CDB_ATOM_NODE* mult = enables.node("d_m0");
    enables.node("clk")->get_output_term_by_type(DB_DATA_OUT)->insert_fanout(mult->add_input_term(DB_CLOCK, 1));
    enables.node("a0_1")->get_output_term_by_type(DB_DATA_OUT)->insert_fanout(mult->add_input_term(DB_CLOCK_ENABLE, 1));
    CUT_MAC_UTIL::set_input_port_clock(mult, DB_DATA_B, 1);
    CUT_MAC_UTIL::set_mode(enables.node("d_o"), CUT_MAC_MODE_DYNAMIC);
    const std::string enables_before = native_text(enables.run.netlist());
    enables.leaf().prepare(false);
    enables.leaf().permissive();
    EXPECT_FALSE(enables.leaf().mac_forward_push(mult));
    EXPECT_FALSE(enables.leaf().mac_out_forward_push(enables.node("d_o")));
    EXPECT_TRUE(native_text(enables.run.netlist()) == enables_before);
}

// An output pin that reads bit 0 of the atom's output of that type.
void read_outside(CDB_ATOM_NETLIST& netlist, CDB_ATOM_NODE* mac, int output_type)
{
    std::string name = "seen";
    name += BLIF_OUTPUT_PIN_SUFFIX;
    CDB_ATOM_NODE* pin =
        cdb_create_output_pin(netlist.get_family(), netlist.get_name_mgr()->create_unique_name(name, 0));
    netlist.add_node(pin);
    mac->get_output_term_by_type(output_type, 0)->insert_fanout(pin->get_input_term_by_type(DB_DATAIN));
}

TEST_F(RetimingMac, RegistersReadOutsideTheBlockStay)
{
    // A register that an outside reader also sees: a product's in pipeline
    // mode and in the backward push at the output block, and a packed
    // operand's at its observable output in the forward pushes (input
    // mode on BRK, through mode on ZEPLA).
    const struct
    {
        const char* tag;
        int family;
        bool backward;
        const char* start;
        int read;  // the output of d_m0 read outside
    } cases[] = {
        {"pipeline", CDB_FAMILY_BRK, false, "d_o", DB_DATA_OUT},
        {"backward", CDB_FAMILY_BRK, true, "d_o", DB_DATA_OUT},
        {"input_mode", CDB_FAMILY_BRK, false, "d_m0", DB_MAC_OBSERVABLE_DATAB},
        {"through_mode", CDB_FAMILY_ZEPLA, false, "d_m0", DB_MAC_OBSERVABLE_DATAA},
    };
    for (const auto& k : cases) {
        DSP_GEN_OPTIONS o;
        o.m_family = k.family;
        o.m_mults = k.family == CDB_FAMILY_ZEPLA ? 1 : 2;
        const bool packed_operands = k.read != DB_DATA_OUT;
        o.m_external_inputs = k.backward;
        o.m_packed_inputs = packed_operands;
        o.m_mult_outputs = !k.backward && !packed_operands;
        o.m_packed_output = k.backward;
        auto run = [&](auto& c) {
            read_outside(c.run.netlist(), c.node("d_m0"), k.read);
            c.leaf().prepare(k.backward);
            c.leaf().permissive();
            const std::string before = native_text(c.run.netlist());
            if (k.backward) EXPECT_EQ(c.leaf().mac_backward_push(c.node(k.start)), 0) << k.tag;
            else EXPECT_FALSE(c.leaf().mac_forward_push(c.node(k.start))) << k.tag;
            EXPECT_TRUE(native_text(c.run.netlist()) == before) << k.tag;
        };
        if (k.family == CDB_FAMILY_ZEPLA) {
            MAC_CASE<MORV_RETIMING_ZEPLA> c(o);
            run(c);
        } else {
            MAC_CASE<MORV_RETIMING_BRK> c(o);
            run(c);
        }
    }
}

TEST_F(RetimingMac, ConstantOnesOnOneOperandStillMove)
{
    DSP_GEN_OPTIONS o;
    o.m_vcc_bits = 1;
    MAC_CASE<MORV_RETIMING_BRK> c(o);
    // Operand B's constant bit goes to 0: only A keeps one.
    CDB_ATOM_NODE* mult = c.node("d_m0");
    mult->get_input_term_by_type(DB_DATA_B, o.m_width_b - 1)->set_logical_gnd();
    c.reference = dsp_generate(o);
    find(*c.reference, "d_m0")->get_input_term_by_type(DB_DATA_B, o.m_width_b - 1)->set_logical_gnd();
    c.leaf().prepare(false);
    c.leaf().permissive();
    ASSERT_TRUE(c.leaf().mac_forward_push(mult));
    c.expect_equivalent("mac_fwd_one_constant");
}

// A backward push across the LUT in front of a packed input register takes
// every packed input register of the slice: the LUT's inputs get the
// register of the bit it drives, the other bits registers of their own.
template <typename FAMILY>
void expect_lut_push(const DSP_GEN_OPTIONS& o, const std::string& tag)
{
    MAC_CASE<FAMILY> c(o);
    c.leaf().prepare(true);
    c.leaf().permissive();
    ASSERT_TRUE(c.leaf().backward_push(c.node("f0"))) << tag;
    for (const RETIME_MAC_SLICE& slice : c.leaf().get_mac_slices())
        for (CDB_ATOM_NODE* mult : slice.m_mac_mults)
            for (int port : {DB_DATA_A, DB_DATA_B})
                EXPECT_FALSE(CUT_MAC_UTIL::is_input_port_registered(mult, port)) << tag << " " << port;
    EXPECT_EQ(c.node("d_m0")->get_output_term_by_type(DB_MAC_OBSERVABLE_DATAA, 0), nullptr) << tag;
    c.expect_equivalent(tag);
}

TEST_F(RetimingMac, LutPushTakesThePackedInputRegisters)
{
    DSP_GEN_OPTIONS o;
    o.m_external_inputs = false;
    o.m_packed_inputs = true;
    o.m_front_lut = true;
    o.m_inverted_pin = true;
    expect_lut_push<MORV_RETIMING_BRK>(o, "mac_lut_push_brk");
    DSP_GEN_OPTIONS z = o;
    z.m_family = CDB_FAMILY_ZEPLA;
    z.m_mults = 1;
    expect_lut_push<MORV_RETIMING_ZEPLA>(z, "mac_lut_push_zepla");

    // A multiplier with an input of another kind keeps its registers, and
    // so does one whose packed register something reads at an observable
    // output: nothing could stand for it there once it left.
    for (bool read : {false, true}) {
        MAC_CASE<MORV_RETIMING_BRK> other(o);
        CDB_ATOM_NODE* mult = other.node("d_m1");
        if (read) read_outside(other.run.netlist(), mult, DB_MAC_OBSERVABLE_DATAB);
        else mult->add_input_term(MORV_MAC_MULT_CONTROL_PORT_1, 0)->set_logical_gnd();
        other.leaf().prepare(true);
        other.leaf().permissive();
        const std::string before = native_text(other.run.netlist());
        EXPECT_FALSE(other.leaf().backward_push(other.node("f0"))) << read;
        EXPECT_TRUE(native_text(other.run.netlist()) == before) << read;
    }
}

// ------------------------------------------------------------ unpacking and slots

TEST_F(RetimingMac, OutputBlockUnpacksWithProgrammableInversion)
{
    DSP_GEN_OPTIONS o;
    o.m_packed_output = true;
    o.m_output_invert = true;
    o.m_fanout_registers = false;
    MAC_CASE<MORV_RETIMING_BRK> c(o);
    c.leaf().prepare(false);
    c.leaf().permissive();
    ASSERT_TRUE(c.leaf().mac_out_forward_push(c.node("d_o")));
    EXPECT_FALSE(output_registered(c.node("d_o")));
    // The slot's controls went with the last register that used them.
    EXPECT_EQ(c.node("d_o")->get_input_term_by_type(DB_CLOCK, 0), nullptr);
    c.expect_equivalent("mac_unpack_inverted");
}

TEST_F(RetimingMac, OutputRegisterSlotsAreReusedOrWidened)
{
    DSP_GEN_OPTIONS o;
    o.m_packed_output = true;
    o.m_output_clock_slot = 1;
    o.m_fanout_registers = false;
    MAC_CASE<MORV_RETIMING_BRK> c(o);
    c.leaf().prepare(true);
    c.leaf().permissive();
    CDB_ATOM_NODE* out = c.node("d_o");
    RETIME_REG reg = c.leaf().describe_mac_register(out, 1, 1, nullptr);
    reg.signals[RETIME_CLOCK_ENABLE].is_vcc = true;  // the slot has no enable term: it always loads
    // A multiplier whose slot 1 carries the same clock takes slot 1.
    CDB_ATOM_NODE* m0 = c.node("d_m0");
    c.node("clk")->get_output_term_by_type(DB_DATA_OUT)->insert_fanout(m0->add_input_term(DB_CLOCK, 1));
    c.node("rst")->get_output_term_by_type(DB_DATA_OUT)->insert_fanout(m0->add_input_term(DB_CLEAR, 1));
    c.leaf().add_mac_output_register(m0, reg);
    EXPECT_EQ(CUT_MAC_UTIL::get_output_port_clock(m0, DB_DATA_OUT), 1);
    EXPECT_EQ(CUT_MAC_UTIL::get_output_port_clear(m0, DB_DATA_OUT), 1);
    // Slots 0 to 2 taken by other clocks: the lowest free one, 3, after widening.
    CDB_ATOM_NODE* m1 = c.node("d_m1");
    for (int slot = 0; slot < 3; ++slot) {
        CDB_ATOM_ITERM* clock = m1->add_input_term(DB_CLOCK, slot);
        c.node("a1_0")->get_output_term_by_type(DB_DATA_OUT)->insert_fanout(clock);
        clock->set_invert();
        c.node("a1_1")->get_output_term_by_type(DB_DATA_OUT)->insert_fanout(m1->add_input_term(DB_CLEAR, slot));
    }
    c.leaf().add_mac_output_register(m1, reg);
    EXPECT_EQ(CUT_MAC_UTIL::get_output_port_clock(m1, DB_DATA_OUT), 3);
    EXPECT_EQ(CUT_MAC_UTIL::get_output_port_clear(m1, DB_DATA_OUT), 3);
    EXPECT_GE(CUT_MAC_UTIL::get_input_port_width(m1, DB_CLOCK), 4);
    EXPECT_GE(CUT_MAC_UTIL::get_input_port_width(m1, DB_CLOCK_ENABLE), 4);
}

// ------------------------------------------------------------ the core's visits

TEST_F(RetimingMac, IterationsPushThroughTheBlock)
{
    DSP_GEN_OPTIONS o = dsp_sample_options(CDB_FAMILY_BRK);
    MAC_CASE<MORV_RETIMING_BRK> c(o);
    c.leaf().permissive();
    c.leaf().set_srt(0.5);
    // The block's inputs are critical, its outputs not: a backward visit moves
    // the packed output register in front of the block.
    for (const char* name : {"d_m0", "d_m1", "d_o"}) {
        CDB_ATOM_NODE* mac = c.node(name);
        for (auto it = mac->begin_iterm(); it != mac->end_iterm(); ++it) c.slacks.set(*it, 0, 0.0);
    }
    c.leaf().prepare(true);
    RETIME_HASH_SET<CDB_ATOM_NODE*> crit;
    c.leaf().build_critical_set(crit);
    EXPECT_TRUE(crit.contains(c.node("d_o")));
    EXPECT_GE(c.leaf().retime_mac_node(c.node("d_o"), true), 1);
    EXPECT_FALSE(output_registered(c.node("d_o")));
    c.expect_equivalent("mac_visit_backward");
}

}  // namespace

}  // namespace retiming_mac_test
