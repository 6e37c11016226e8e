// The skew-driven engine's DSP moves on generated slices of 1, 2 and 4
// multipliers: registers through the multiplier and the output stage in
// both directions, logic-cell registers entering a block, unpacking onto
// logic cells; the clock-slot choice; the refusals. Every committed move is
// proved by ABC and co-simulated from the all-zero state against the
// unedited design.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "log_capture.h"
#include "cdb/cdb_atom_netlist.h"
#include "cdb/cdb_atom_node.h"
#include "cut/cut_block_util.h"
#include "dev/dev_device.h"
#include "io/blif_reader.h"
#include "logdb/logdb_fsyn_log_entry.h"
#include "morv/log/morv_log.h"
#include "morv/retiming/morv_retiming_mac.h"
#include "morv/timing/morv_opt_skew.h"

#include "dsp_gen.h"
#include "rtm_test_run.h"
#include "seq_harness.h"
#include "tdc/tdc_accessories.h"
#include "test_files.h"

namespace rtm_mac_move_test {

namespace {

using DESIGN_EDIT = std::function<void(CDB_ATOM_NETLIST&)>;

std::unique_ptr<CDB_ATOM_NETLIST> edited(const DSP_GEN_OPTIONS& o, const DESIGN_EDIT& edit)
{
    std::unique_ptr<CDB_ATOM_NETLIST> design = dsp_generate(o);
    if (edit) edit(*design);
    return design;
}

// The generated design, edited alike in the reference and in the copy the
// engine moves registers in.
struct MAC_MOVE_CASE
{
    explicit MAC_MOVE_CASE(const DSP_GEN_OPTIONS& o, const DESIGN_EDIT& edit = nullptr, DEV_DEVICE* device = nullptr)
        : reference(edited(o, edit)), run(std::make_unique<RTM_RUN>(edited(o, edit), o.m_family, device))
    {
        refresh();
    }
    // What every iteration starts with: fresh slices, no node moved yet,
    // every node critical.
    void refresh()
    {
        MORV_RTM& rtm = run->rtm();
        rtm.clear_iteration_state();
        rtm.generate_mac_slice_info();
        for (CDB_ATOM_NODE* node : run->netlist()) rtm.critical_nodes().insert(static_cast<int>(node->get_id()));
    }
    CDB_ATOM_NODE* node(const std::string& name)
    {
        CDB_ATOM_NODE* found = run->find(name);
        EXPECT_NE(found, nullptr) << name;
        return found;
    }
    // The record the engine's candidate list holds for a DSP block or a
    // logic-cell register, retimed; the iteration's state is left as the
    // move left it.
    int retime(CDB_ATOM_NODE* mover, int direction)
    {
        const bool lcell = mover->is_lcell_ff();
        std::unique_ptr<MORV_RTM_REG> reg =
            lcell ? std::make_unique<MORV_RTM_REG>(mover, &run->rtm().get_register_secondary_signals())
                  : std::make_unique<MORV_RTM_REG>();
        reg->m_node = mover;
        if (lcell) reg->m_ref_oterm = mover->get_output_term_by_type(DB_REG_OUT);
        reg->m_type = lcell ? MORV_RTM_REG_LCELL : (mover->is_mac_out() ? MORV_RTM_REG_MAC_OUT : MORV_RTM_REG_MAC_MULT);
        reg->m_direction = direction;
        return run->rtm().retime_register(reg.get());
    }
    int move_mac(const std::string& name, int direction)
    {
        const int moves = retime(node(name), direction);
        refresh();
        return moves;
    }
    int move_lcell(CDB_ATOM_NODE* reg_node, int direction)
    {
        const int moves = retime(reg_node, direction);
        refresh();
        return moves;
    }
    int outcome(int reason) const { return run->rtm().get_outcome_counts().at(static_cast<size_t>(reason)); }
    void expect_equivalent(const std::string& tag)
    {
        const SEQ_VERDICT v = seq_check(*reference, run->netlist(), tag, true, 200, 7);
        EXPECT_TRUE(v.equivalent()) << tag << ": " << v.describe();
    }

    std::unique_ptr<CDB_ATOM_NETLIST> reference;
    std::unique_ptr<RTM_RUN> run;
};

DSP_GEN_OPTIONS options(int mults)
{
    DSP_GEN_OPTIONS o;
    o.m_mults = mults;
    o.m_width_a = 3;
    o.m_width_b = 3;
    o.m_logic_levels = 0;
    o.m_fanout_registers = false;
    return o;
}

std::string tag_of(const char* what, int mults)
{
    std::string tag(what);
    tag += "_";
    tag += std::to_string(mults);
    return tag;
}

bool output_registered(CDB_ATOM_NODE* node)
{
    return CUT_MAC_UTIL::is_output_port_registered(node, DB_DATA_OUT);
}

bool inputs_registered(CDB_ATOM_NODE* node)
{
    return CUT_MAC_UTIL::is_input_port_registered(node, DB_DATA_A) &&
           CUT_MAC_UTIL::is_input_port_registered(node, DB_DATA_B);
}

// The register a pin's path comes from.
CDB_ATOM_NODE* register_before(CDB_ATOM_ITERM* iterm)
{
    CDB_ATOM_OTERM* source = iterm->get_source();
    return source == nullptr ? nullptr : source->get_my_node();
}

// Slot 1 of the first multiplier on the clock with an enable from pin
// "a0_0"; the ports named read their register there.
void second_slot(CDB_ATOM_NETLIST& netlist, int port_1, int port_2)
{
    CDB_ATOM_NODE* mult = seq_find(netlist, "d_m0");
    seq_find(netlist, "clk")->get_output_term_by_type(DB_DATA_OUT)->insert_fanout(mult->add_input_term(DB_CLOCK, 1));
    seq_find(netlist, "a0_0")
        ->get_output_term_by_type(DB_DATA_OUT)
        ->insert_fanout(mult->add_input_term(DB_CLOCK_ENABLE, 1));
    for (int port : {port_1, port_2}) CUT_MAC_UTIL::set_input_port_clock(mult, port, 1);
}

// A buffer "w" between operand A bit 1 of the first multiplier and its
// register.
void wire_in_front(CDB_ATOM_NETLIST& netlist, int family)
{
    CDB_ATOM_ITERM* pin = seq_find(netlist, "d_m0")->get_input_term_by_type(DB_DATA_A, 1);
    CDB_ATOM_OTERM* q = pin->get_source();
    pin->disconnect_from_source(CDB_NET_ITERM::UNCONNECTED);
    CDB_ATOM_NODE* wire =
        cdb_create_atom(family, CDB_KIND_LCELL_COMB, netlist.get_name_mgr()->create_unique_name("w", 0));
    netlist.add_node(wire);
    q->insert_fanout(wire->add_input_term(DB_DATA_A));
    wire->set_lutmask(blif_family_lutmask(family, 1, 0x2));
    wire->add_output_term(DB_COMB_OUT, wire->get_instance_name())->insert_fanout(pin);
}

class RtmMacMove : public ::testing::Test
{
protected:
    void SetUp() override { msg_set_quiet(true); }
};

// ------------------------------------------------------------ the output stage

TEST_F(RtmMacMove, OutputStageRegisterLeavesOntoItsFanoutsAndComesBack)
{
    for (int mults : {1, 2, 4}) {
        DSP_GEN_OPTIONS o = options(mults);
        o.m_packed_output = true;
        MAC_MOVE_CASE c(o);
        CDB_ATOM_NODE* out = c.node("d_o");
        MORV_LOG_CAPTURE log(2);
        ASSERT_EQ(c.move_mac("d_o", MORV_RTM_FORWARD), 1) << mults;
        EXPECT_FALSE(output_registered(out));
        c.expect_equivalent(tag_of("out_fwd", mults));
        // The output pins now read plain registers; one of them enters the
        // block again and takes every other with it.
        CDB_ATOM_ITERM* pin = c.node(std::string("o0_0") + BLIF_OUTPUT_PIN_SUFFIX)->get_input_term_by_type(DB_DATAIN);
        CDB_ATOM_NODE* reg = register_before(pin);
        ASSERT_TRUE(reg && reg->is_lcell_ff());
        ASSERT_EQ(c.move_lcell(reg, MORV_RTM_BACKWARD), 1) << mults;
        EXPECT_TRUE(output_registered(out));
        EXPECT_EQ(register_before(pin), out);
        c.expect_equivalent(tag_of("out_bwd", mults));
        const std::vector<std::string> lines = log.lines();
        std::string unpacking = rtm_name("Unpacking output registers from MAC < ", out->get_id());
        unpacking += " >";
        EXPECT_NE(std::find(lines.begin(), lines.end(), unpacking), lines.end());
    }
}

// Products registered in the multipliers move behind the output stage, and
// the output stage's register moves back into every multiplier.
TEST_F(RtmMacMove, PipelineRegistersCrossTheOutputStageBothWays)
{
    for (int mults : {1, 2, 4}) {
        DSP_GEN_OPTIONS o = options(mults);
        o.m_external_inputs = false;
        o.m_mult_outputs = true;
        MAC_MOVE_CASE c(o);
        ASSERT_EQ(c.move_mac("d_m0", MORV_RTM_FORWARD), 1) << mults;
        EXPECT_TRUE(output_registered(c.node("d_o")));
        for (int m = 0; m < mults; ++m) EXPECT_FALSE(output_registered(c.node(rtm_name("d_m", m))));
        c.expect_equivalent(tag_of("pipe_fwd", mults));
        ASSERT_EQ(c.move_mac("d_o", MORV_RTM_BACKWARD), 1) << mults;
        EXPECT_FALSE(output_registered(c.node("d_o")));
        for (int m = 0; m < mults; ++m) EXPECT_TRUE(output_registered(c.node(rtm_name("d_m", m))));
        c.expect_equivalent(tag_of("pipe_bwd", mults));
    }
}

// ------------------------------------------------------------ the multiplier

// Input registers move onto the product and back; then they leave the
// block onto logic cells and re-enter it.
TEST_F(RtmMacMove, InputRegistersCrossTheMultiplierLeaveAndReenter)
{
    for (int mults : {1, 2, 4}) {
        DSP_GEN_OPTIONS o = options(mults);
        o.m_external_inputs = false;
        o.m_packed_inputs = true;
        MAC_MOVE_CASE c(o);
        CDB_ATOM_NODE* mult = c.node("d_m0");
        ASSERT_EQ(c.move_mac("d_m0", MORV_RTM_FORWARD), 1) << mults;
        EXPECT_TRUE(output_registered(mult));
        EXPECT_FALSE(CUT_MAC_UTIL::is_input_port_registered(mult, DB_DATA_A));
        EXPECT_EQ(mult->get_output_term_by_type(DB_MAC_OBSERVABLE_DATAA, 0), nullptr);
        c.expect_equivalent(tag_of("in_fwd", mults));

        ASSERT_EQ(c.move_mac("d_m0", MORV_RTM_BACKWARD), 1) << mults;
        EXPECT_FALSE(output_registered(mult));
        EXPECT_TRUE(inputs_registered(mult));
        EXPECT_NE(mult->get_output_term_by_type(DB_MAC_OBSERVABLE_DATAB, 2), nullptr);
        c.expect_equivalent(tag_of("pipe_back", mults));

        ASSERT_EQ(c.move_mac("d_m0", MORV_RTM_BACKWARD), 1) << mults;
        EXPECT_FALSE(CUT_MAC_UTIL::is_input_port_registered(mult, DB_DATA_A));
        EXPECT_EQ(CUT_MAC_UTIL::get_input_port_clock(mult, DB_DATA_B), -1);
        EXPECT_EQ(CUT_MAC_UTIL::get_input_port_clear(mult, DB_DATA_B), -1);
        EXPECT_EQ(mult->get_output_term_by_type(DB_MAC_OBSERVABLE_DATAB, 2), nullptr);
        c.expect_equivalent(tag_of("unpack", mults));

        CDB_ATOM_NODE* reg = register_before(mult->get_input_term_by_type(DB_DATA_A, 1));
        ASSERT_TRUE(reg && reg->is_lcell_ff());
        ASSERT_EQ(c.move_lcell(reg, MORV_RTM_FORWARD), 1) << mults;
        EXPECT_TRUE(inputs_registered(mult));
        c.expect_equivalent(tag_of("reenter", mults));
    }
}

// A port whose register reads another slot than slot 0: the record, and so
// the registers that replace it, take that slot's enable.
TEST_F(RtmMacMove, UnpackedRegistersKeepTheirOwnSlotsControls)
{
    DSP_GEN_OPTIONS o = options(1);
    o.m_external_inputs = false;
    o.m_packed_inputs = true;
    MAC_MOVE_CASE c(o, [](CDB_ATOM_NETLIST& n) { second_slot(n, DB_DATA_A, DB_DATA_B); });
    CDB_ATOM_NODE* mult = c.node("d_m0");
    ASSERT_EQ(c.move_mac("d_m0", MORV_RTM_BACKWARD), 1);
    CDB_ATOM_NODE* reg = register_before(mult->get_input_term_by_type(DB_DATA_B, 0));
    ASSERT_TRUE(reg && reg->is_lcell_ff());
    ASSERT_NE(reg->get_input_term_by_type(DB_CLOCK_ENABLE), nullptr);
    EXPECT_EQ(reg->get_input_term_by_type(DB_CLOCK_ENABLE)->get_source(),
              c.node("a0_0")->get_output_term_by_type(DB_DATA_OUT));
    c.expect_equivalent("own_slot");
}

// ------------------------------------------------------------ logic registers entering

// A register behind a non-inverting wire is taken out where it really
// drives, the wire's input; a register without a clear gets a clear slot
// tied inactive.
TEST_F(RtmMacMove, RegistersEnterThroughAWireAndWithoutAClear)
{
    for (bool clear : {true, false}) {
        DSP_GEN_OPTIONS o = options(2);
        o.m_clear = clear;
        MAC_MOVE_CASE c(o, [&o](CDB_ATOM_NETLIST& n) { wire_in_front(n, o.m_family); });
        const std::string tag = clear ? "wire_clear" : "wire_no_clear";
        CDB_ATOM_NODE* mult = c.node("d_m0");
        CDB_ATOM_NODE* wire = c.node("w");
        CDB_ATOM_ITERM* wire_in = wire->get_input_term_by_type(DB_DATA_A);
        CDB_ATOM_NODE* behind = register_before(wire_in);
        ASSERT_TRUE(behind && behind->is_lcell_ff());
        CDB_ATOM_NODE* first = register_before(mult->get_input_term_by_type(DB_DATA_A, 0));
        ASSERT_EQ(c.move_lcell(first, MORV_RTM_FORWARD), 1) << tag;
        EXPECT_TRUE(inputs_registered(mult));
        EXPECT_EQ(wire_in->get_source(), behind->get_input_term_by_type(DB_DATAIN)->get_source());
        EXPECT_EQ(register_before(mult->get_input_term_by_type(DB_DATA_A, 1)), wire);
        const int clear_slot = CUT_MAC_UTIL::get_input_port_clear(mult, DB_DATA_A);
        ASSERT_GE(clear_slot, 0);
        CDB_ATOM_ITERM* slot_clear = mult->get_input_term_by_type(DB_CLEAR, clear_slot);
        ASSERT_NE(slot_clear, nullptr);
        EXPECT_EQ(slot_clear->is_driven(), clear) << tag;
        if (!clear) {
            EXPECT_TRUE(slot_clear->is_logical_vcc());
        }
        c.expect_equivalent(tag);
    }
}

// An inverted data pin between the register and the block would make the
// packed register power up to the other value: refused. Unpacking in front
// of the inverted pin keeps the block's reading.
TEST_F(RtmMacMove, InvertedPinsAndProgrammableInversion)
{
    DSP_GEN_OPTIONS o = options(1);
    o.m_inverted_pin = true;
    MAC_MOVE_CASE entering(o);
    CDB_ATOM_NODE* mult = entering.node("d_m0");
    CDB_ATOM_NODE* reg = register_before(mult->get_input_term_by_type(DB_DATA_A, 1));
    EXPECT_EQ(entering.move_lcell(reg, MORV_RTM_FORWARD), 0);
    EXPECT_EQ(entering.outcome(MORV_RTM_NO_REG_ON_INPUT), 1);
    EXPECT_FALSE(CUT_MAC_UTIL::is_input_port_registered(mult, DB_DATA_A));

    o.m_external_inputs = false;
    o.m_packed_inputs = true;
    MAC_MOVE_CASE leaving(o);
    ASSERT_EQ(leaving.move_mac("d_m0", MORV_RTM_BACKWARD), 1);
    leaving.expect_equivalent("unpack_inverted_pin");

    // Output inversion: the register leaving the block holds the inverted
    // bits and powers up high on them; registers behind inverted bits
    // cannot enter.
    DSP_GEN_OPTIONS p = options(2);
    p.m_packed_output = true;
    p.m_output_invert = true;
    MAC_MOVE_CASE out(p);
    ASSERT_EQ(out.move_mac("d_o", MORV_RTM_FORWARD), 1);
    out.expect_equivalent("out_invert_fwd");
    CDB_ATOM_ITERM* pin = out.node(std::string("o0_0") + BLIF_OUTPUT_PIN_SUFFIX)->get_input_term_by_type(DB_DATAIN);
    CDB_ATOM_NODE* q = register_before(pin);
    ASSERT_TRUE(q && q->is_lcell_ff());
    EXPECT_EQ(out.move_lcell(q, MORV_RTM_BACKWARD), 0);
    EXPECT_EQ(out.outcome(MORV_RTM_NO_REG_ON_OUTPUT), 1);
    EXPECT_FALSE(output_registered(out.node("d_o")));
}

// ------------------------------------------------------------ refusals

TEST_F(RtmMacMove, AccumulatingAndDynamicSlicesAreNeverMoved)
{
    for (int mode : {CUT_MAC_MODE_MULTIPLY_ACCUMULATE, CUT_MAC_MODE_DYNAMIC}) {
        DSP_GEN_OPTIONS o = options(2);
        o.m_mult_outputs = true;
        o.m_packed_output = true;
        MAC_MOVE_CASE c(o);
        CUT_MAC_UTIL::set_mode(c.node("d_o"), mode);
        c.refresh();
        EXPECT_EQ(c.move_mac("d_o", MORV_RTM_FORWARD), 0);
        EXPECT_EQ(c.move_mac("d_o", MORV_RTM_BACKWARD), 0);
        EXPECT_EQ(c.move_mac("d_m0", MORV_RTM_FORWARD), 0);
        EXPECT_EQ(c.move_mac("d_m1", MORV_RTM_BACKWARD), 0);
        CDB_ATOM_NODE* reg = register_before(c.node("d_m0")->get_input_term_by_type(DB_DATA_A, 0));
        EXPECT_EQ(c.move_lcell(reg, MORV_RTM_FORWARD), 0);
        EXPECT_EQ(c.outcome(MORV_RTM_UNRETIMEABLE_MAC_OUT), 1) << mode;
        EXPECT_EQ(c.outcome(MORV_RTM_UNRETIMEABLE_MAC_MULT), 3) << mode;
        EXPECT_TRUE(output_registered(c.node("d_o")));
        EXPECT_TRUE(output_registered(c.node("d_m0")));
    }
}

// A control input a cell drives makes the block dynamic: the retimeable
// tests refuse it, the movable ones do not; a constant or a pin is no such
// signal.
TEST_F(RtmMacMove, DynamicControlsAndTheFourTests)
{
    DSP_GEN_OPTIONS o = options(2);
    MAC_MOVE_CASE c(o);
    MORV_RTM& rtm = c.run->rtm();
    CDB_ATOM_NODE* mult = c.node("d_m0");
    CDB_ATOM_NODE* out = c.node("d_o");
    EXPECT_TRUE(rtm.is_retimeable_mac_mult(mult) && rtm.is_movable_mac_mult(mult));
    EXPECT_TRUE(rtm.is_retimeable_mac_out(out) && rtm.is_movable_mac_out(out));
    CDB_ATOM_ITERM* control = mult->add_input_term(MORV_MAC_MULT_CONTROL_PORT_0, 0);
    control->set_logical_vcc();
    EXPECT_TRUE(rtm.is_retimeable_mac_mult(mult));
    c.node("clk")->get_output_term_by_type(DB_DATA_OUT)->insert_fanout(control);
    EXPECT_TRUE(rtm.is_retimeable_mac_mult(mult));
    control->disconnect_from_source(CDB_NET_ITERM::UNCONNECTED);
    c.node("ra1_0")->get_output_term_by_type(DB_REG_OUT)->insert_fanout(control);
    EXPECT_FALSE(rtm.is_retimeable_mac_mult(mult));
    EXPECT_TRUE(rtm.is_movable_mac_mult(mult));
    CDB_ATOM_NODE* reg = register_before(mult->get_input_term_by_type(DB_DATA_A, 0));
    EXPECT_EQ(c.move_lcell(reg, MORV_RTM_FORWARD), 0);
    EXPECT_EQ(c.outcome(MORV_RTM_UNRETIMEABLE_MAC_MULT), 1);

    CDB_ATOM_ITERM* out_control = out->add_input_term(MORV_MAC_CONTROL_PORT_0, 0);
    c.node("ra1_1")->get_output_term_by_type(DB_REG_OUT)->insert_fanout(out_control);
    EXPECT_FALSE(rtm.is_retimeable_mac_out(out));
    EXPECT_TRUE(rtm.is_movable_mac_out(out));
}

// Multipliers chained by a scan path shift their operands into each other:
// neither end of the chain is retimed or moved, so a register in front of
// one stays where it is.
TEST_F(RtmMacMove, ScanChainedMultipliersAreNeitherRetimedNorMoved)
{
    DSP_GEN_OPTIONS o = options(2);
    MAC_MOVE_CASE c(o);
    MORV_RTM& rtm = c.run->rtm();
    CDB_ATOM_NODE* first = c.node("d_m0");
    CDB_ATOM_NODE* second = c.node("d_m1");
    ASSERT_TRUE(rtm.is_retimeable_mac_mult(second) && rtm.is_movable_mac_mult(second));
    first->add_output_term(DB_MAC_SCANOUT_A)->insert_fanout(second->add_input_term(DB_MAC_SCANIN_A, 0));
    for (CDB_ATOM_NODE* mult : {first, second}) {
        EXPECT_FALSE(rtm.is_retimeable_mac_mult(mult));
        EXPECT_FALSE(rtm.is_movable_mac_mult(mult));
    }
    CDB_ATOM_NODE* reg = register_before(second->get_input_term_by_type(DB_DATA_A, 0));
    ASSERT_NE(reg, nullptr);
    EXPECT_EQ(c.move_lcell(reg, MORV_RTM_FORWARD), 0);
    EXPECT_EQ(c.outcome(MORV_RTM_UNRETIMEABLE_MAC_MULT), 1);
}

// ------------------------------------------------------------ refusals, a row each
//
// A refused move makes one operation, which fails with the row's reason,
// and leaves the netlist as it was, term for term; the registers it
// queues for the demuxer are the row's. Every block's slot 0 carries the
// clock and reset, so that choosing a slot makes none. Movers: a block, or
// the plain register ra0_0 entering the first multiplier forward, or rq0_0
// entering the output block backward.

void untouchable(CDB_ATOM_NETLIST& netlist, const char* name)
{
    CDB_ATOM_NODE* node = seq_find(netlist, name);
    CDB_ATOM_ASSIGNMENTS assignments = node->get_assignments();
    assignments.dont_touch = true;
    node->set_assignments(assignments);
}

struct MAC_REFUSAL
{
    const char* m_mover;
    int m_direction;
    int m_reason;  // MORV_RTM_NO_FAILURE: no operation at all
    void (*m_shape)(DSP_GEN_OPTIONS&);
    void (*m_edit)(CDB_ATOM_NETLIST&);
    std::vector<std::string> m_demuxed;
    const char* m_timed = nullptr;  // a register under a timing assignment of its own
};

void no_edit(CDB_ATOM_NETLIST&) {}

void packed_only(DSP_GEN_OPTIONS& o)
{
    o.m_external_inputs = false;
    o.m_packed_inputs = true;
}

TEST_F(RtmMacMove, EachRefusalLeavesTheNetlistAlone)
{
    using O = DSP_GEN_OPTIONS;
    using N = CDB_ATOM_NETLIST;
    const int FWD = MORV_RTM_FORWARD, BWD = MORV_RTM_BACKWARD;
    // clang-format off
    const MAC_REFUSAL rows[] = {
        // A plain register entering a multiplier.
        {"ra0_0", FWD, MORV_RTM_REGISTERED_MAC_MULT, [](O& o) { o.m_packed_inputs = o.m_packed_b_only = true; },
         no_edit, {}},
        {"ra0_0", FWD, MORV_RTM_REG_INCOMPATIBLE_SIGNALS, [](O& o) { o.m_enabled_bit = 1; },
         no_edit, {"ra0_0", "ra0_1", "ra0_2", "rb0_0", "rb0_1", "rb0_2"}},
        {"ra0_0", FWD, MORV_RTM_REG_INCOMPATIBLE_TIMING_CONSTRAINTS, [](O&) {}, no_edit, {}, "ra0_2"},
        {"ra0_0", FWD, MORV_RTM_NO_MAC_SECONDARY_SIGNAL, [](O& o) { o.m_gated_slot = true; o.m_foreign_clocks = 3; },
         no_edit, {}},
        {"ra0_0", FWD, MORV_RTM_REG_NO_GOOD, [](O& o) { o.m_loaded_bit = 1; }, no_edit, {"ra0_1"}},
        // A plain register entering the output block.
        {"rq0_0", BWD, MORV_RTM_REGISTERED_MAC_OUT, [](O& o) { o.m_packed_output = true; }, no_edit, {}},
        {"rq0_0", BWD, MORV_RTM_UNRETIMEABLE_MAC_OUT, [](O&) {}, [](N& n) { untouchable(n, "d_o"); }, {}},
        // A block that may not change is refused as such, registered or not.
        {"rq0_0", BWD, MORV_RTM_UNRETIMEABLE_MAC_OUT, [](O& o) { o.m_packed_output = true; },
         [](N& n) { untouchable(n, "d_o"); }, {}},
        {"rq0_0", BWD, MORV_RTM_NO_REG_ON_OUTPUT, [](O& o) { o.m_tapped_bit = 1; }, no_edit, {}},
        {"rq0_0", BWD, MORV_RTM_REG_NO_GOOD, [](O& o) { o.m_loaded_bit = 1; }, no_edit, {"rq0_1"}},
        {"rq0_0", BWD, MORV_RTM_NO_MAC_SECONDARY_SIGNAL, [](O& o) { o.m_gated_slot = true; o.m_foreign_clocks = 3; },
         no_edit, {}},
        {"rq0_0", BWD, MORV_RTM_REG_INCOMPATIBLE_SIGNALS, [](O& o) { o.m_enabled_bit = 1; }, no_edit, {}},
        {"rq0_0", BWD, MORV_RTM_REG_INCOMPATIBLE_TIMING_CONSTRAINTS, [](O&) {}, no_edit, {}, "rq0_2"},
        // A multiplier's registers: none to move; a block that may not
        // change; a product register missing, in another block that may not
        // change, or on other controls; a product read outside.
        {"d_m0", FWD, MORV_RTM_NO_FAILURE, [](O&) {}, no_edit, {}},
        {"d_m0", FWD, MORV_RTM_UNRETIMEABLE_MAC_MULT, packed_only,
         [](N& n) { untouchable(n, "d_m0"); }, {}},
        {"d_m0", BWD, MORV_RTM_UNRETIMEABLE_MAC_MULT, packed_only,
         [](N& n) { untouchable(n, "d_m0"); }, {}},
        {"d_m0", BWD, MORV_RTM_UNRETIMEABLE_MAC_MULT, [](O& o) { o.m_mult_outputs = true; },
         [](N& n) { untouchable(n, "d_m0"); }, {}},
        {"d_m0", FWD, MORV_RTM_NO_REG_ON_INPUT, [](O& o) { o.m_mult_outputs = true; },
         [](N& n) { CUT_MAC_UTIL::set_output_port_clock(seq_find(n, "d_m1"), DB_DATA_OUT, -1); }, {}},
        {"d_m0", FWD, MORV_RTM_UNRETIMEABLE_MAC_MULT, [](O& o) { o.m_mult_outputs = true; },
         [](N& n) { untouchable(n, "d_m1"); }, {}},
        {"d_m0", FWD, MORV_RTM_REG_INCOMPATIBLE_SIGNALS, [](O& o) { o.m_mult_outputs = true; o.m_foreign_clocks = 1; },
         [](N& n) { CUT_MAC_UTIL::set_output_port_clock(seq_find(n, "d_m1"), DB_DATA_OUT, 1); }, {}},
        {"d_m0", FWD, MORV_RTM_UNRETIMEABLE_MAC_OUT, [](O& o) { o.m_mult_outputs = true; o.m_tapped_product = 0; },
         no_edit, {}},
        // The output block's register: none; a product read outside; a
        // multiplier that may not change, or whose product is registered.
        {"d_o", FWD, MORV_RTM_NO_REG_ON_OUTPUT, [](O&) {}, no_edit, {}},
        {"d_o", BWD, MORV_RTM_NO_REG_ON_OUTPUT, [](O&) {}, no_edit, {}},
        {"d_o", BWD, MORV_RTM_UNRETIMEABLE_MAC_MULT, [](O& o) { o.m_packed_output = true; o.m_tapped_product = 0; },
         no_edit, {}},
        {"d_o", BWD, MORV_RTM_UNRETIMEABLE_MAC_MULT, [](O& o) { o.m_packed_output = true; },
         [](N& n) { untouchable(n, "d_m1"); }, {}},
        {"d_o", BWD, MORV_RTM_REGISTERED_MAC_OUT, [](O& o) { o.m_packed_output = true; o.m_mult_outputs = true; },
         no_edit, {}},
    };
    // clang-format on
    for (const MAC_REFUSAL& row : rows) {
        std::string what = std::string(row.m_mover) + (row.m_direction == FWD ? " forward: " : " backward: ");
        what += morv_rtm_failure_reason_text(row.m_reason);
        SCOPED_TRACE(what);
        DSP_GEN_OPTIONS o = options(2);
        o.m_fanout_registers = true;
        o.m_slot_controls = true;
        row.m_shape(o);
        MAC_MOVE_CASE c(o, row.m_edit);
        tdc_get_accessories()->clear_timing_assignments();
        if (row.m_timed != nullptr) {
            CDB_ATOM_OTERM* regout = c.node(row.m_timed)->get_output_term_by_type(DB_REG_OUT);
            tdc_get_accessories()->set_timing_assignment(regout->get_instance_name()->get_short_hpath(), "MULTICYCLE",
                                                         "2");
        }
        const std::string before = native_text(c.run->netlist());
        EXPECT_EQ(c.retime(c.node(row.m_mover), row.m_direction), 0);
        tdc_get_accessories()->clear_timing_assignments();
        std::vector<int> expected(MORV_RTM_FAILURE_REASON_END, 0);
        if (row.m_reason != MORV_RTM_NO_FAILURE) expected[static_cast<size_t>(row.m_reason)] = 1;
        EXPECT_EQ(c.run->rtm().get_outcome_counts(), expected);
        EXPECT_EQ(native_text(c.run->netlist()), before);
        std::set<int> demuxed;
        for (const std::string& name : row.m_demuxed) demuxed.insert(static_cast<int>(c.node(name)->get_id()));
        EXPECT_EQ(c.run->rtm().nodes_to_demux(), demuxed);
    }
}

// With DSP moves off, DSP records are still listed but make no operation
// and lose their mobility; a plain register finds no block it may enter,
// either way. Switched on, the same register enters.
TEST_F(RtmMacMove, SwitchedOffDspMovesMakeNoOperation)
{
    DSP_GEN_OPTIONS o = options(2);
    o.m_fanout_registers = true;
    o.m_mult_outputs = true;
    MAC_MOVE_CASE c(o);
    MORV_RTM& rtm = c.run->rtm();
    rtm.set_enable_mac_moves(false);
    const std::string before = native_text(c.run->netlist());
    MORV_RTM_REG_LIST list;
    rtm.add_candidate(&list, c.node("d_m0"), -200, true);
    rtm.add_candidate(&list, c.node("d_o"), 200, true);
    ASSERT_EQ(list.size(), 2u);
    const double fwd = rtm.get_opt_skew()->get_fwd_mobility(c.node("d_m0"));
    const double bwd = rtm.get_opt_skew()->get_bwd_mobility(c.node("d_o"));
    EXPECT_EQ(rtm.retime_registers(&list), 0);
    EXPECT_EQ(rtm.get_outcome_counts(), std::vector<int>(MORV_RTM_FAILURE_REASON_END, 0));
    EXPECT_DOUBLE_EQ(rtm.get_opt_skew()->get_fwd_mobility(c.node("d_m0")), fwd * 0.2);
    EXPECT_DOUBLE_EQ(rtm.get_opt_skew()->get_bwd_mobility(c.node("d_o")), bwd * 0.2);
    EXPECT_EQ(c.retime(c.node("ra0_0"), MORV_RTM_FORWARD), 0);
    EXPECT_EQ(c.retime(c.node("rq0_0"), MORV_RTM_BACKWARD), 0);
    EXPECT_EQ(c.outcome(MORV_RTM_NO_RETIMEABLE_FANOUT), 2);
    EXPECT_EQ(native_text(c.run->netlist()), before);
    rtm.set_enable_mac_moves(true);
    c.refresh();
    EXPECT_EQ(c.move_mac("d_m0", MORV_RTM_FORWARD), 1);
    EXPECT_EQ(c.move_lcell(c.node("ra0_0"), MORV_RTM_FORWARD), 1);
    c.expect_equivalent("switched_on");
}

// Inputs partly registered: the multiplier makes no move; two ports whose
// registers differ in their controls cannot become one register.
TEST_F(RtmMacMove, PartialAndDisagreeingInputRegisters)
{
    DSP_GEN_OPTIONS o = options(1);
    o.m_external_inputs = false;
    o.m_packed_inputs = true;
    o.m_mult_outputs = true;
    MAC_MOVE_CASE partial(o);
    CDB_ATOM_NODE* mult = partial.node("d_m0");
    CUT_MAC_UTIL::set_input_port_clock(mult, DB_DATA_B, -1);
    MORV_LOG_CAPTURE log(2);
    EXPECT_EQ(partial.move_mac("d_m0", MORV_RTM_BACKWARD), 0);
    const std::vector<std::string> lines = log.lines();
    EXPECT_NE(std::find(lines.begin(), lines.end(), "   Input: < PARTIALLY REGISTERED >"), lines.end());
    EXPECT_NE(std::find(lines.begin(), lines.end(), "   - Nothing to do here"), lines.end());

    o.m_mult_outputs = false;
    MAC_MOVE_CASE disagree(o, [](CDB_ATOM_NETLIST& n) { second_slot(n, DB_DATA_B, DB_DATA_B); });
    CDB_ATOM_NODE* m = disagree.node("d_m0");
    EXPECT_EQ(disagree.move_mac("d_m0", MORV_RTM_FORWARD), 0);
    EXPECT_EQ(disagree.outcome(MORV_RTM_REG_INCOMPATIBLE_SIGNALS), 1);
    EXPECT_TRUE(inputs_registered(m));
    EXPECT_FALSE(output_registered(m));
}

// A port bit whose observable output is missing, or read by something,
// cannot be moved: refused, no internal error.
TEST_F(RtmMacMove, RegisteredBitWithoutAFreeObservableOutput)
{
    DSP_GEN_OPTIONS o = options(1);
    o.m_external_inputs = false;
    o.m_packed_inputs = true;
    MAC_MOVE_CASE c(o);
    CDB_ATOM_NODE* mult = c.node("d_m0");
    mult->delete_output_term(mult->get_output_term_by_type(DB_MAC_OBSERVABLE_DATAA, 1));
    EXPECT_EQ(c.move_mac("d_m0", MORV_RTM_BACKWARD), 0);
    EXPECT_EQ(c.move_mac("d_m0", MORV_RTM_FORWARD), 0);
    EXPECT_EQ(c.outcome(MORV_RTM_NO_REG_ON_INPUT), 2);
    EXPECT_TRUE(inputs_registered(mult));
}

// A register without an enable entering a block whose clock slot carries
// its clock with a real enable takes another slot: packed into the gated
// slot it would load only when that enable is high.
TEST_F(RtmMacMove, AlwaysEnabledRegisterEntersAnotherSlotThanAGatedOne)
{
    DSP_GEN_OPTIONS o = options(2);
    MAC_MOVE_CASE c(o, [](CDB_ATOM_NETLIST& n) {
        CDB_ATOM_NODE* mult = seq_find(n, "d_m0");
        seq_find(n, "clk")->get_output_term_by_type(DB_DATA_OUT)->insert_fanout(mult->add_input_term(DB_CLOCK, 0));
        seq_find(n, "a0_1")
            ->get_output_term_by_type(DB_DATA_OUT)
            ->insert_fanout(mult->add_input_term(DB_CLOCK_ENABLE, 0));
    });
    CDB_ATOM_NODE* mult = c.node("d_m0");
    CDB_ATOM_NODE* reg = register_before(mult->get_input_term_by_type(DB_DATA_B, 0));
    ASSERT_EQ(c.move_lcell(reg, MORV_RTM_FORWARD), 1);
    c.expect_equivalent("gated_slot");
    ASSERT_EQ(CUT_MAC_UTIL::get_input_port_clock(mult, DB_DATA_A), 1);
    EXPECT_TRUE(mult->get_input_term_by_type(DB_CLOCK_ENABLE, 1)->is_logical_vcc());
}

// The output stage's own input registers stand between the products and
// its register: moves across the stage are refused.
TEST_F(RtmMacMove, OutputStageWithInputRegistersIsNotCrossed)
{
    DSP_GEN_OPTIONS o = options(2);
    o.m_external_inputs = false;
    o.m_mult_outputs = true;
    MAC_MOVE_CASE c(o, [](CDB_ATOM_NETLIST& n) {
        CDB_ATOM_NODE* out = seq_find(n, "d_o");
        seq_find(n, "clk")->get_output_term_by_type(DB_DATA_OUT)->insert_fanout(out->add_input_term(DB_CLOCK, 0));
        CUT_MAC_UTIL::set_input_port_clock(out, DB_DATA_B, 0);
    });
    EXPECT_EQ(c.move_mac("d_m0", MORV_RTM_FORWARD), 0);
    EXPECT_EQ(c.outcome(MORV_RTM_UNRETIMEABLE_MAC_OUT), 1);
    EXPECT_FALSE(output_registered(c.node("d_o")));
    EXPECT_TRUE(output_registered(c.node("d_m1")));
}

// With the change log on, the observable outputs a packed input register
// gets are written to it as made terms.
TEST_F(RtmMacMove, ObservableOutputsAreLogged)
{
    DSP_GEN_OPTIONS o = options(1);
    o.m_external_inputs = false;
    o.m_packed_inputs = true;
    std::ofstream("rtm_migration_device.txt") << "family 6\nmigratable_part 2401\n";
    DEV_DEVICE* device = DEV_DEVICE::load_from_file("rtm_migration_device.txt");
    std::remove("rtm_migration_device.txt");
    MAC_MOVE_CASE c(o, nullptr, device);
    MORV_LOG* log = c.run->api()->get_fsyn_log();
    ASSERT_NE(log, nullptr);
    ASSERT_TRUE(c.run->api()->is_fsyn_logging_on());
    ASSERT_EQ(c.move_mac("d_m0", MORV_RTM_FORWARD), 1);
    ASSERT_EQ(c.move_mac("d_m0", MORV_RTM_BACKWARD), 1);  // packs the inputs again
    int made = 0;
    for (const LOGDB_FSYN_LOG_ENTRY* record : log->get_all_pending_entries()) {
        const char* kind = logdb_fsyn_log_entry_kind_name(record->m_type);
        made += kind != nullptr && std::string(kind) == "CREATE_OTERM" ? 1 : 0;
    }
    EXPECT_GE(made, o.m_width_a + o.m_width_b);
    c.expect_equivalent("logged_pack");
}

}  // namespace

// ------------------------------------------------------------ slot choice

namespace {

class RtmMacSlot : public ::testing::Test
{
protected:
    void SetUp() override
    {
        msg_set_quiet(true);
        DSP_GEN_OPTIONS o = options(1);
        m_case = std::make_unique<MAC_MOVE_CASE>(o);
        m_out = m_case->node("d_o");
        m_clk = m_case->node("clk")->get_output_term_by_type(DB_DATA_OUT);
        m_other = m_case->node("a0_1")->get_output_term_by_type(DB_DATA_OUT);
        m_reg = register_before(m_case->node("d_m0")->get_input_term_by_type(DB_DATA_A, 0));
    }
    void slot(int index, CDB_ATOM_OTERM* clock, CDB_ATOM_OTERM* enable)
    {
        clock->insert_fanout(m_out->add_input_term(DB_CLOCK, index));
        if (enable != nullptr) enable->insert_fanout(m_out->add_input_term(DB_CLOCK_ENABLE, index));
    }
    MORV_RTM_PACK_INFO assign(bool* ok)
    {
        MORV_RTM_REG record(m_reg, &m_case->run->rtm().get_register_secondary_signals());
        *ok = m_case->run->rtm().assign_mac_clock(m_out, &record);
        return record.m_pack_info;
    }

    std::unique_ptr<MAC_MOVE_CASE> m_case;
    CDB_ATOM_NODE* m_out = nullptr;
    CDB_ATOM_OTERM* m_clk = nullptr;
    CDB_ATOM_OTERM* m_other = nullptr;
    CDB_ATOM_NODE* m_reg = nullptr;
};

// A register that loads every cycle fits only a slot that does too: one
// with a real enable, or an inverted clock, is another register's slot.
TEST_F(RtmMacSlot, AlwaysEnabledRegisterTakesOnlyAnAlwaysEnabledSlot)
{
    slot(0, m_clk, m_other);
    slot(1, m_clk, nullptr);
    m_out->get_input_term_by_type(DB_CLOCK, 1)->set_invert();
    bool ok = false;
    MORV_RTM_PACK_INFO info = assign(&ok);
    ASSERT_TRUE(ok);
    EXPECT_EQ(info.m_clock_index, 2);
    ASSERT_NE(m_out->get_input_term_by_type(DB_CLOCK_ENABLE, 2), nullptr);
    EXPECT_GE(CUT_MAC_UTIL::get_input_port_width(m_out, DB_CLOCK), 3);

    m_out->get_input_term_by_type(DB_CLOCK, 1)->set_invert(false);
    info = assign(&ok);
    ASSERT_TRUE(ok);
    EXPECT_EQ(info.m_clock_index, 1);  // no enable term: always loads
    m_out->add_input_term(DB_CLOCK_ENABLE, 3)->set_logical_vcc();
    m_clk->insert_fanout(m_out->add_input_term(DB_CLOCK, 3));
    info = assign(&ok);
    EXPECT_EQ(info.m_clock_index, 3);  // an enable tied high, the last match
}

TEST_F(RtmMacSlot, MatchingSlotTwoAndWideningToSlotThree)
{
    slot(0, m_other, nullptr);
    slot(1, m_other, nullptr);
    slot(2, m_clk, nullptr);
    bool ok = false;
    MORV_RTM_PACK_INFO info = assign(&ok);
    ASSERT_TRUE(ok);
    EXPECT_EQ(info.m_clock_index, 2);
    m_out->get_input_term_by_type(DB_CLOCK, 2)->set_invert();
    info = assign(&ok);
    ASSERT_TRUE(ok);
    EXPECT_EQ(info.m_clock_index, 3);
    ASSERT_NE(m_out->get_input_term_by_type(DB_CLOCK, 3), nullptr);
    ASSERT_NE(m_out->get_input_term_by_type(DB_CLOCK_ENABLE, 3), nullptr);
    EXPECT_GE(CUT_MAC_UTIL::get_input_port_width(m_out, DB_CLOCK_ENABLE), 4);
    m_other->insert_fanout(m_out->get_input_term_by_type(DB_CLOCK, 3));
    info = assign(&ok);
    EXPECT_FALSE(ok);
}

// An enable left at a slot with no clock term keeps that slot taken.
TEST_F(RtmMacSlot, StrayEnableKeepsItsSlot)
{
    m_out->add_input_term(DB_CLOCK_ENABLE, 0);
    bool ok = false;
    MORV_RTM_PACK_INFO info = assign(&ok);
    ASSERT_TRUE(ok);
    EXPECT_EQ(info.m_clock_index, 1);
}

}  // namespace

}  // namespace rtm_mac_move_test
