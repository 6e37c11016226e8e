// The UVO demuxer: registers whose enable, synchronous clear or synchronous
// load is critical become plain registers behind LUT muxes. The masks are
// checked against the register rule exhaustively; every rebuilt netlist is
// proved against the untouched one by ABC and co-simulation.
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "cdb/cdb_atom_netlist.h"
#include "cdb/cdb_types.h"

#include "log_capture.h"
#include "morv/retiming/morv_retiming_family.h"
#include "retiming_seq_run.h"
#include "scripted_slack.h"
#include "seq_gen.h"
#include "seq_harness.h"
#include "test_files.h"
#include "uvo_net.h"

namespace retiming_uvo_demux_test {

namespace {

class UVO_DEMUX_LEAF : public MORV_RETIMING_UVO
{
public:
    UVO_DEMUX_LEAF(MORV_API* api, const MORV_PARAMETER_MAP* params) : MORV_RETIMING_UVO(api, params) {}
    struct COUNTS
    {
        int inverters = 0;
    };
    const COUNTS& counts() const { return m_counts; }
    // Every connected input is critical.
    void make_everything_critical() { m_slack_ratio_threshold = 2.0; }
    void make_live(CDB_ATOM_NODE* node) { m_live_nodes.insert(node); }
    void set_forward() { m_retime_backwards = false; }
    // What the demux pass does after the demuxer.
    int demux_pass() { return run_demux_pass(); }
    using MORV_RETIMING_UVO::create_control_mux;

private:
    COUNTS m_counts;
};

struct DEMUX_CASE
{
    explicit DEMUX_CASE(const BUILD& b)
        : reference(build(b)), run(CDB_FAMILY_UVO, build(b), "", nullptr), slacks(run.api()->get_fsyn_timing())
    {
        slacks.set_default(10000, 1.0);
        place_every_node(run.api(), run.netlist());
        for (CDB_ATOM_NODE* node : run.netlist()) leaf().make_live(node);
    }
    UVO_DEMUX_LEAF& leaf() { return run.leaf(); }
    CDB_ATOM_NODE* node(const char* name) { return seq_find(run.netlist(), name); }
    void expect_equivalent(const std::string& tag)
    {
        const SEQ_VERDICT v = seq_check(*reference, run.netlist(), tag, true, 200);
        EXPECT_TRUE(v.equivalent()) << tag << ": " << v.describe();
    }

    std::unique_ptr<CDB_ATOM_NETLIST> reference;
    RETIMING_SEQ_RUN<UVO_DEMUX_LEAF> run;
    SCRIPTED_SLACK_SOURCE slacks;
};

enum CONTROL_TIE
{
    NONE,
    SIGNAL,
    INVERTED,
    TIED_GND,
    TIED_VCC
};

void tie(UVO_NET& n, CDB_ATOM_NODE* cell, int port, CONTROL_TIE how, const std::string& pin)
{
    if (how == NONE) return;
    CDB_ATOM_ITERM* term = cell->add_input_term(port);
    if (how == TIED_GND) term->set_gnd();
    if (how == TIED_VCC) term->set_vcc();
    if (how == SIGNAL || how == INVERTED) n.input(pin)->insert_fanout(term);
    if (how == INVERTED) term->set_invert();
}

struct CONTROLS
{
    CONTROL_TIE enable = NONE;
    CONTROL_TIE sclear = NONE;
    CONTROL_TIE sload = NONE;
    bool sdata_shared = false;     // the synchronous data is the DB_DATA_C term
    bool lut_reads_carry = false;  // node bit 28: the LUT reads its carry-in at C
};

// r0: a counter bit (A = own register, B = i0) with the controls given,
// read by an output and by a LUT of its own.
void control_register(UVO_NET& n, const CONTROLS& c)
{
    CDB_ATOM_NODE* r0 = n.cell("r0", {nullptr, n.input("i0"), n.input("i1")}, 0x9696, false, true);
    UVO_NET::q(r0)->insert_fanout(UVO_NET::in(r0, DB_DATA_A));
    tie(n, r0, DB_CLOCK_ENABLE, c.enable, "ena");
    tie(n, r0, DB_SYNCH_CLEAR, c.sclear, "sclr");
    tie(n, r0, DB_SYNCH_LOAD, c.sload, "sld");
    if (c.sload != NONE) {
        if (c.sdata_shared) UVO_NET::in(r0, DB_DATA_C)->set_usage_as(DB_SYNCH_DATA);
        else n.input("sd")->insert_fanout(r0->add_input_term(DB_SYNCH_DATA));
    }
    if (c.lut_reads_carry) r0->set_bit(CDB_ATOM_BIT_LUTMASK_FLAG);
    n.output(UVO_NET::q(r0), "o0");
    CDB_ATOM_NODE* reader = n.lut("reader", {UVO_NET::q(r0), n.input("i2")}, 0x6);
    n.output(UVO_NET::comb(reader), "o1");
}

int count_lines(const std::vector<std::string>& lines, const std::string& text)
{
    int n = 0;
    for (const std::string& line : lines) n += line.find(text) != std::string::npos ? 1 : 0;
    return n;
}

struct CONTROL_CASE
{
    const char* name;
    CONTROLS controls;
    int edits;      // what the demuxer reports
    int sload_mux;  // "SUCCESS: created sload_mux" lines
    int demuxing;   // "DEMUXING {" lines
};

const CONTROL_CASE k_cases[] = {
    {"enable_and_clear", {SIGNAL, SIGNAL, NONE, false}, 1, 0, 1},
    {"enable_only", {SIGNAL, NONE, NONE, false}, 1, 0, 1},
    {"clear_only", {NONE, SIGNAL, NONE, false}, 1, 0, 1},
    {"inverted_enable_and_clear", {INVERTED, INVERTED, NONE, false}, 1, 0, 1},
    // A clear at GND never acts: the enable alone goes into the mux.
    {"clear_tied_gnd", {SIGNAL, TIED_GND, NONE, false}, 1, 0, 1},
    // A clear at VCC clears whenever the enable lets it.
    {"clear_tied_vcc", {SIGNAL, TIED_VCC, NONE, false}, 1, 0, 1},
    // An enable at GND holds the register: nothing to demux.
    {"enable_tied_gnd", {TIED_GND, SIGNAL, NONE, false}, 0, 0, 0},
    // An enable at VCC with no clear leaves no control.
    {"enable_tied_vcc", {TIED_VCC, NONE, NONE, false}, 0, 0, 0},
    {"sload", {NONE, NONE, SIGNAL, false}, 1, 1, 0},
    {"inverted_sload", {NONE, NONE, INVERTED, false}, 1, 1, 0},
    {"sload_sharing_data_c", {NONE, NONE, SIGNAL, true}, 1, 1, 0},
    // The mux must select with DB_DATA_C, not the carry-in the LUT read.
    {"sload_lut_reading_carry", {NONE, NONE, SIGNAL, false, true}, 1, 1, 0},
    // Queued by both rules: both muxes in one visit.
    {"sload_enable_and_clear", {SIGNAL, SIGNAL, SIGNAL, false}, 2, 1, 1},
};

}  // namespace

TEST(RetimingUvoDemuxMasks, MuxCellAndRegisterFollowTheRegisterRule)
{
    for (unsigned v = 0; v < 16; ++v) {
        const unsigned a = v & 1u, b = (v >> 1) & 1u, c = (v >> 2) & 1u, d = (v >> 3) & 1u;
        auto mask_bit = [v](uint64_t mask) { return static_cast<unsigned>((mask >> v) & 1u); };
        CDB_REGISTER_INPUTS in;
        // Control mux: A = data, B = q, C = enable, D = synchronous clear.
        in.d = a;
        in.ena = c;
        in.sclr = d;
        EXPECT_EQ(mask_bit(morv_retiming_uvo_control_mask(true, true)), cdb_register_next_value(in, b)) << v;
        in.sclr = 0;
        EXPECT_EQ(mask_bit(morv_retiming_uvo_control_mask(false, true)), cdb_register_next_value(in, b)) << v;
        in.ena = 1;
        in.sclr = d;
        EXPECT_EQ(mask_bit(morv_retiming_uvo_control_mask(true, false)), cdb_register_next_value(in, b)) << v;
        // Load mux: A = LUT, B = synchronous data, C = load (or its complement).
        CDB_REGISTER_INPUTS load;
        load.d = a;
        load.sdata = b;
        load.sload = c;
        EXPECT_EQ(mask_bit(morv_retiming_uvo_sload_mask(false)), cdb_register_next_value(load, 0)) << v;
        load.sload = 1u - c;
        EXPECT_EQ(mask_bit(morv_retiming_uvo_sload_mask(true)), cdb_register_next_value(load, 0)) << v;
    }
}

void check_demux(const CONTROL_CASE& c)
{
    DEMUX_CASE u([&](UVO_NET& n) { control_register(n, c.controls); });
    MORV_LOG_CAPTURE log(100);
    u.leaf().make_everything_critical();
    CDB_ATOM_NODE* r0 = u.node("r0");
    // Only a register whose data is not critical has its enable and clear
    // demuxed (unless it has synchronous data).
    if (c.controls.sload == NONE)
        for (int port : {DB_DATA_A, DB_DATA_B, DB_DATA_C}) u.slacks.set_slack_ratio(UVO_NET::in(r0, port), 5.0);
    u.leaf().queue_for_demux(r0);
    EXPECT_LE(u.leaf().get_demux_queue().size(), 1u) << c.name;
    EXPECT_GE(u.leaf().demux_pass(), c.edits) << c.name;
    const std::vector<std::string> lines = log.lines();
    EXPECT_EQ(count_lines(lines, "SUCCESS: created sload_mux"), c.sload_mux) << c.name;
    EXPECT_EQ(count_lines(lines, "DEMUXING {"), c.demuxing) << c.name;
    if (c.sload_mux > 0) {
        const bool inverted = c.controls.sload == INVERTED;
        EXPECT_EQ(r0->get_lutmask().get_value() & 0xffffu, morv_retiming_uvo_sload_mask(inverted)) << c.name;
        EXPECT_FALSE(r0->get_input_term_by_type(DB_SYNCH_LOAD) != nullptr &&
                     r0->get_input_term_by_type(DB_SYNCH_LOAD)->is_connected())
            << c.name;
    }
    u.expect_equivalent(std::string("uvo_demux_") + c.name);
}

TEST(RetimingUvoDemux, DemuxedCircuitsAreEquivalent)
{
    if (!abc_is_available()) GTEST_SKIP() << "berkeley-abc is not installed";
    for (const CONTROL_CASE& c : k_cases) check_demux(c);
}

TEST(RetimingUvoDemuxQueue, RulesQueueOnceAndAnEmptyQueueDoesNothing)
{
    DEMUX_CASE u([](UVO_NET& n) { control_register(n, {SIGNAL, SIGNAL, SIGNAL, false}); });
    {
        MORV_LOG_CAPTURE log(100);
        EXPECT_EQ(u.leaf().run_demuxer(), 0);
        EXPECT_EQ(log.lines(), std::vector<std::string>{"Running the Demuxa"});
    }
    CDB_ATOM_NODE* r0 = u.node("r0");
    // Nothing critical: nothing queued.
    u.leaf().queue_for_demux(r0);
    EXPECT_TRUE(u.leaf().get_demux_queue().empty());
    MORV_LOG_CAPTURE log(100);
    u.leaf().make_everything_critical();
    u.leaf().queue_for_demux(r0);
    u.leaf().queue_for_demux(r0);
    EXPECT_EQ(u.leaf().get_demux_queue().size(), 1u);
    EXPECT_EQ(count_lines(log.lines(), "to be demuxed"), 2);
    EXPECT_EQ(count_lines(log.lines(), "to be SLOAD_demuxed"), 2);
    // A node that is not a logic cell is ignored.
    u.leaf().queue_for_demux(u.node("i0"));
    EXPECT_EQ(u.leaf().get_demux_queue().size(), 1u);
}

// The control mux alone never drops a synchronous load that is a real
// signal: the register would lose its synchronous data path.
TEST(RetimingUvoDemuxQueue, ControlMuxRefusesARemainingLoad)
{
    DEMUX_CASE u([](UVO_NET& n) { control_register(n, {SIGNAL, SIGNAL, SIGNAL, false}); });
    const int cells = static_cast<int>(u.run.netlist().get_node_count());
    EXPECT_FALSE(u.leaf().create_control_mux(u.node("r0")));
    EXPECT_EQ(static_cast<int>(u.run.netlist().get_node_count()), cells);
    EXPECT_TRUE(u.node("r0")->get_input_term_by_type(DB_SYNCH_LOAD)->is_connected());
}

namespace {

// c = A xor C holds a register; r0, with an enable, feeds A. With `qfbk` c
// is in QFBK mode with DB_DATA_C free: C reads c's own register, which
// loads sd on every clock. Otherwise C reads r1 through a term that is c's
// synchronous data as well, loaded while ld is high.
void unequal_input_registers(UVO_NET& n, bool qfbk)
{
    CDB_ATOM_NODE* r0 = n.reg("r0", n.input("i0"));
    n.input("ena")->insert_fanout(r0->add_input_term(DB_CLOCK_ENABLE));
    CDB_ATOM_OTERM* c_source = qfbk ? nullptr : UVO_NET::q(n.reg("r1", n.input("i1")));
    CDB_ATOM_NODE* c = n.cell("c", {UVO_NET::q(r0), nullptr, c_source}, 0x5A5A, true, true);
    if (qfbk) {
        c->set_bit(CDB_ATOM_BIT_QFBK_MODE);
        c->add_input_term(DB_SYNCH_LOAD)->set_vcc();
        n.input("sd")->insert_fanout(c->add_input_term(DB_SYNCH_DATA));
    } else {
        UVO_NET::in(c, DB_DATA_C)->set_usage_as(DB_SYNCH_DATA);
        n.input("ld")->insert_fanout(c->add_input_term(DB_SYNCH_LOAD));
    }
    n.output(UVO_NET::comb(c), "o0");
    n.output(UVO_NET::q(c), "o1");
}

}  // namespace

// A cell whose input registers differ in their enables takes no forward
// push and stays as it was. The register in front of A waits for the
// demuxer; the synchronous data term is no LUT data from a register in
// front (it is the cell's own register input), so the cell itself waits in
// its place: its load is what the demuxer takes apart. A cell in QFBK mode
// keeps its load, and once r0's enable is gone the push goes through.
TEST(RetimingUvoDemuxQueue, ForwardPushOverUnequalRegistersQueuesTheCellForItsSynchronousData)
{
    if (!abc_is_available()) GTEST_SKIP() << "berkeley-abc is not installed";
    for (bool qfbk : {true, false}) {
        const std::string tag = qfbk ? "unequal_inputs_qfbk" : "unequal_inputs_shared_sdata";
        DEMUX_CASE u([qfbk](UVO_NET& n) { unequal_input_registers(n, qfbk); });
        u.leaf().set_forward();
        CDB_ATOM_NODE* c = u.node("c");
        const std::string untouched = native_text(u.run.netlist());
        EXPECT_FALSE(u.leaf().forward_push(c)) << tag;
        EXPECT_EQ(native_text(u.run.netlist()), untouched) << tag;
        std::vector<CDB_ATOM_NODE*> queued;
        for (CDB_ATOM_NODE* node : u.leaf().get_demux_queue()) queued.push_back(node);
        EXPECT_EQ(queued, (std::vector<CDB_ATOM_NODE*>{u.node("r0"), c})) << tag;
        MORV_LOG_CAPTURE log(100);
        EXPECT_EQ(u.leaf().run_demuxer(), qfbk ? 1 : 2) << tag;
        EXPECT_EQ(count_lines(log.lines(), "SUCCESS: created sload_mux"), qfbk ? 0 : 1) << tag;
        EXPECT_EQ(count_lines(log.lines(), "DEMUXING {"), 1) << tag;
        u.expect_equivalent(tag);
        if (!qfbk) continue;
        // With r0's enable in a mux the two registers match.
        ASSERT_TRUE(u.leaf().forward_push(c));
        u.leaf().demux_pass();
        u.expect_equivalent(tag + "_pushed");
    }
}

namespace {

// Counters and shift chains whose registers have enables, synchronous
// clears and synchronous loads from deep cones, beside one register whose
// enable is tied to GND and one whose clear is tied to VCC.
std::unique_ptr<CDB_ATOM_NETLIST> control_register_design()
{
    UVO_NET n;
    CDB_ATOM_OTERM* enable = deep_cone(n, "ena", 8);
    CDB_ATOM_OTERM* clear = deep_cone(n, "clr", 8);
    CDB_ATOM_OTERM* load = deep_cone(n, "ld", 8);
    // A 4-bit counter: bit k toggles when every lower bit is 1.
    CDB_ATOM_OTERM* carry = nullptr;
    for (int k = 0; k < 4; ++k) {
        const std::string name = "cnt" + std::to_string(k);
        CDB_ATOM_NODE* bit = n.cell(name, {nullptr, carry}, carry != nullptr ? 0x6666 : 0x5555, false, true);
        UVO_NET::q(bit)->insert_fanout(UVO_NET::in(bit, DB_DATA_A));
        enable->insert_fanout(bit->add_input_term(DB_CLOCK_ENABLE));
        clear->insert_fanout(bit->add_input_term(DB_SYNCH_CLEAR));
        n.output(UVO_NET::q(bit), name + "_o");
        CDB_ATOM_NODE* next = carry != nullptr ? n.lut(name + "_c", {carry, UVO_NET::q(bit)}, 0x8)
                                               : n.lut(name + "_c", {UVO_NET::q(bit)}, 0xAAAA);
        carry = UVO_NET::comb(next);
    }
    // A shift chain that loads parallel data.
    CDB_ATOM_OTERM* previous = n.input("sin");
    for (int k = 0; k < 4; ++k) {
        const std::string name = "sh" + std::to_string(k);
        CDB_ATOM_NODE* stage = n.cell(name, {previous}, 0xAAAA, false, true);
        load->insert_fanout(stage->add_input_term(DB_SYNCH_LOAD));
        n.input("pd" + std::to_string(k))->insert_fanout(stage->add_input_term(DB_SYNCH_DATA));
        if (k % 2 == 1) enable->insert_fanout(stage->add_input_term(DB_CLOCK_ENABLE));
        previous = UVO_NET::q(stage);
        n.output(previous, name + "_o");
    }
    CDB_ATOM_NODE* held = n.cell("held", {clear}, 0xAAAA, false, true);
    held->add_input_term(DB_CLOCK_ENABLE)->set_gnd();
    enable->insert_fanout(held->add_input_term(DB_SYNCH_CLEAR));
    n.output(UVO_NET::q(held), "held_o");
    CDB_ATOM_NODE* cleared = n.cell("cleared", {load}, 0xAAAA, false, true);
    cleared->add_input_term(DB_SYNCH_CLEAR)->set_vcc();
    enable->insert_fanout(cleared->add_input_term(DB_CLOCK_ENABLE));
    n.output(UVO_NET::q(cleared), "cleared_o");
    return n.take();
}

}  // namespace

// The design morv-fit reads from designs/ctrl_regs_uvo.txt.
TEST(RetimingUvoDemuxDesign, SampleDesignIsTheGeneratorsOwn)
{
    const std::string text = canonical_ids(native_text(*control_register_design()));
    const std::string path = std::string(MORV_SOURCE_DIR) + "/designs/ctrl_regs_uvo.txt";
    EXPECT_TRUE(sample_design_is_current(path, text));
}

}  // namespace retiming_uvo_demux_test
