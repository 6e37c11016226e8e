// Retiming on UVO, whose registers live inside logic cells: each push is
// made by the core through the UVO hooks on a small netlist, and the edited
// netlist is proved against the untouched one by ABC and co-simulated from
// the all-zero power-up state. The cases are the ones where a register is
// packed, unpacked, reused or made to power up at 1, and where an inversion
// bit or a constant tie must be read once.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "cdb/cdb_atom_netlist.h"
#include "cdb/cdb_lutmask.h"
#include "hdb/hdb_instance_name.h"
#include "io/blif_reader.h"

#include "dsp_gen.h"
#include "morv/retiming/morv_retiming_family.h"
#include "retiming_seq_run.h"
#include "scripted_slack.h"
#include "seq_gen.h"
#include "seq_harness.h"
#include "test_files.h"
#include "uvo_net.h"

namespace retiming_uvo_test {

namespace {

class UVO_LEAF : public MORV_RETIMING_UVO
{
public:
    UVO_LEAF(MORV_API* api, const MORV_PARAMETER_MAP* params) : MORV_RETIMING_UVO(api, params)
    {
        m_mac_retiming_enabled = true;
    }
    struct COUNTS
    {
        int inverters = 0;
    };
    const COUNTS& counts() const { return m_counts; }
    // Every slack test passes: pushes are judged only by their effect.
    void prepare(bool backwards)
    {
        m_retime_backwards = backwards;
        m_slack_ratio_threshold = -1.0;
        m_skew_mode = true;
        topological_sort();
    }
    // What the demux pass does with the registers a push left without readers.
    void sweep()
    {
        forget_register_origins();
        std::vector<CDB_ATOM_NODE*> registers(m_registers_to_check.begin(), m_registers_to_check.end());
        m_registers_to_check.clear();
        for (CDB_ATOM_NODE* node : registers) {
            CDB_ATOM_OTERM* regout = node->get_output_term_by_type(DB_REG_OUT);
            if (regout != nullptr && !regout->has_fanout()) delete_node(node);
        }
    }
    // Inputs of slack ratio 0.5 or less are critical.
    void prepare_critical_forward()
    {
        m_retime_backwards = false;
        m_slack_ratio_threshold = 0.5;
        topological_sort();
    }
    void clear_plans() { insert_set1.clear(); }
    bool left_as_wire_lut(CDB_ATOM_NODE* node) const { return m_wire_luts.count(node) != 0; }
    using MORV_RETIMING::describe_register;

private:
    COUNTS m_counts;
};

// A built netlist twice: the reference and the one the leaf edits.
struct UVO_CASE
{
    explicit UVO_CASE(const BUILD& b)
        : reference(build(b)), run(CDB_FAMILY_UVO, build(b), "", nullptr), slacks(run.api()->get_fsyn_timing())
    {
        slacks.set_default(10000, 1.0);
        place_every_node(run.api(), run.netlist());
    }
    UVO_LEAF& leaf() { return run.leaf(); }
    CDB_ATOM_NODE* node(const char* name) { return seq_find(run.netlist(), name); }
    void expect_equivalent(const std::string& tag)
    {
        const SEQ_VERDICT v = seq_check(*reference, run.netlist(), tag, true, 200);
        EXPECT_TRUE(v.equivalent()) << tag << ": " << v.describe();
    }

    std::unique_ptr<CDB_ATOM_NETLIST> reference;
    RETIMING_SEQ_RUN<UVO_LEAF> run;
    SCRIPTED_SLACK_SOURCE slacks;
};

int count_lcells(CDB_ATOM_NETLIST& netlist)
{
    int n = 0;
    for (CDB_ATOM_NODE* node : netlist) n += node->is_lcell() ? 1 : 0;
    return n;
}

// A register a push took away leaves no output behind in its cell, read by nothing.
void expect_no_unread_register(CDB_ATOM_NETLIST& netlist)
{
    for (CDB_ATOM_NODE* node : netlist) {
        const CDB_ATOM_OTERM* q = UVO_NET::q(node);
        EXPECT_TRUE(q == nullptr || q->has_fanout()) << node->get_instance_name()->get_short_hpath();
    }
}

// c0 = f(i0, i1) into a register cell r0 (mask reg_mask) and the output.
void lut_into_register(UVO_NET& n, uint64_t truth, uint64_t reg_mask)
{
    CDB_ATOM_NODE* c0 = n.lut("c0", {n.input("i0"), n.input("i1")}, truth);
    n.output(UVO_NET::q(n.reg("r0", UVO_NET::comb(c0), reg_mask)), "o0");
}

// Two cells of a carry chain over the operands (a0, b0, a1, b1), each LUT
// the sum of its operands and the carry-in; the first cell holds a register
// of its sum when `first_reg`.
std::vector<CDB_ATOM_NODE*> adder_chain(UVO_NET& n, const std::string& base, const std::vector<CDB_ATOM_OTERM*>& ops,
                                        bool first_reg)
{
    CDB_ATOM_NODE* c0 = n.cell(base + "0", {ops[0], ops[1]}, 0x96, true, first_reg);
    CDB_ATOM_NODE* c1 = n.lut(base + "1", {ops[2], ops[3]}, 0x96);
    for (CDB_ATOM_NODE* c : {c0, c1}) {
        c->set_bit(CDB_ATOM_BIT_LUTMASK_FLAG);
        c->set_carry_lutmask(CDB_LUTMASK(4, 0xE8));
    }
    c0->add_output_term(DB_CARRY_OUT, c0->get_instance_name())->insert_fanout(c1->add_input_term(DB_CARRY_IN));
    return {c0, c1};
}

struct CASE
{
    const char* name;
    BUILD build;
    int min_new_cells;  // at least this many logic cells more after the push
};

const CASE k_backward_cases[] = {
    {"and_into_register_cell", [](UVO_NET& n) { lut_into_register(n, 0x8, 0xAAAA); }, 1},
    // The register cell stores NOT c0: the register powers up as 1, so AND
    // needs both inputs at 1 and the new register cells store complements.
    {"inverting_register_cell", [](UVO_NET& n) { lut_into_register(n, 0x8, 0x5555); }, 1},
    // The LUT feeds its own packed register: the push takes it.
    {"own_packed_register",
     [](UVO_NET& n) {
         CDB_ATOM_NODE* c0 = n.cell("c0", {n.input("i0"), n.input("i1")}, 0x6, false, true);
         n.output(UVO_NET::q(c0), "o0");
     },
     1},
    // The LUT reads NOT i0: the register holds the index bit through the
    // inversion, not the LUT's value.
    {"inverted_lut_input",
     [](UVO_NET& n) {
         lut_into_register(n, 0xE, 0xAAAA);
         UVO_NET::in(seq_find(n.netlist(), "c0"), DB_DATA_A)->set_invert();
     },
     1},
    // B is a physical VCC read through its inversion bit (logical GND); the
    // register powers up as 1, so AND needs B at 1: B's new register holds
    // the constant, whose inversion is counted once.
    {"inverted_constant",
     [](UVO_NET& n) {
         CDB_ATOM_NODE* c0 = n.lut("c0", {n.input("i0"), nullptr}, 0x8);
         CDB_ATOM_ITERM* b = UVO_NET::in(c0, DB_DATA_B);
         b->set_vcc();
         b->set_invert();
         n.output(UVO_NET::q(n.reg("r0", UVO_NET::comb(c0), 0x5555)), "o0");
     },
     1},
    // The same with the register powering up as 0: AND reads B at 0 while
    // B is logical VCC.
    {"inverted_constant_register_at_zero",
     [](UVO_NET& n) {
         CDB_ATOM_NODE* c0 = n.lut("c0", {n.input("i0"), nullptr}, 0x8);
         CDB_ATOM_ITERM* b = UVO_NET::in(c0, DB_DATA_B);
         b->set_gnd();
         b->set_invert();
         n.output(UVO_NET::q(n.reg("r0", UVO_NET::comb(c0))), "o0");
     },
     1},
    // A and B read the same pin: one new register cell serves both.
    {"two_fanouts_one_register_cell",
     [](UVO_NET& n) {
         CDB_ATOM_OTERM* i0 = n.input("i0");
         CDB_ATOM_NODE* c0 = n.lut("c0", {i0, i0, n.input("i1")}, 0x80);
         n.output(UVO_NET::q(n.reg("r0", UVO_NET::comb(c0))), "o0");
     },
     0},
    // The same from a LUT: the register is packed into the source cell.
    {"two_fanouts_packed_into_source",
     [](UVO_NET& n) {
         CDB_ATOM_NODE* s0 = n.lut("s0", {n.input("i0"), n.input("i2")}, 0x6);
         CDB_ATOM_NODE* c0 = n.lut("c0", {UVO_NET::comb(s0), UVO_NET::comb(s0), n.input("i1")}, 0x80);
         n.output(UVO_NET::q(n.reg("r0", UVO_NET::comb(c0))), "o0");
         n.output(UVO_NET::comb(s0), "o1");
     },
     0},
    // A at 1 and B at 0 from one source: one register powers up as 1, the
    // other as 0; neither may turn the source's LUT around under the other.
    {"one_source_both_power_up_values",
     [](UVO_NET& n) {
         CDB_ATOM_NODE* s0 = n.lut("s0", {n.input("i0"), n.input("i2")}, 0x6);
         CDB_ATOM_NODE* c0 = n.lut("c0", {UVO_NET::comb(s0), UVO_NET::comb(s0), n.input("i1")}, 0x02);
         n.output(UVO_NET::q(n.reg("r0", UVO_NET::comb(c0), 0x5555)), "o0");
         n.output(UVO_NET::comb(s0), "o1");
     },
     0},
    // r0 loads its synchronous data on every clock out of QFBK mode; its LUT
    // reads DB_DATA_C from elsewhere.
    {"sload_tied_high",
     [](UVO_NET& n) {
         CDB_ATOM_NODE* c0 = n.lut("c0", {n.input("i0"), n.input("i1")}, 0x6);
         CDB_ATOM_NODE* r0 = n.cell("r0", {nullptr, nullptr, n.input("i2")}, 0xF0F0, true, true);
         r0->add_input_term(DB_SYNCH_LOAD)->set_vcc();
         UVO_NET::comb(c0)->insert_fanout(r0->add_input_term(DB_SYNCH_DATA));
         n.output(UVO_NET::q(r0), "o0");
         n.output(UVO_NET::comb(r0), "o1");
     },
     0},
    // The same register in QFBK mode: its synchronous data becomes DB_DATA_C
    // of a LUT that ignores DB_DATA_C.
    {"sload_tied_high_qfbk",
     [](UVO_NET& n) {
         CDB_ATOM_NODE* c0 = n.lut("c0", {n.input("i0"), n.input("i1")}, 0x6);
         CDB_ATOM_NODE* r0 = n.cell("r0", {n.input("i2"), n.input("i3")}, 0x8888, true, true);
         r0->set_bit(CDB_ATOM_BIT_QFBK_MODE);
         r0->add_input_term(DB_SYNCH_LOAD)->set_vcc();
         UVO_NET::comb(c0)->insert_fanout(r0->add_input_term(DB_SYNCH_DATA));
         n.output(UVO_NET::q(r0), "o0");
         n.output(UVO_NET::comb(r0), "o1");
     },
     0},
    // A and B from one LUT, both at 1 (r0 powers up as 1): the register
    // packed into the source stores its complemented LUT, and the source's
    // other readers read it back through an inverter.
    {"power_up_one_packed_into_source",
     [](UVO_NET& n) {
         CDB_ATOM_NODE* s0 = n.lut("s0", {n.input("i0"), n.input("i2")}, 0x6);
         CDB_ATOM_NODE* c0 = n.lut("c0", {UVO_NET::comb(s0), UVO_NET::comb(s0), n.input("i1")}, 0x80);
         n.output(UVO_NET::q(n.reg("r0", UVO_NET::comb(c0), 0x5555)), "o0");
         n.output(UVO_NET::comb(s0), "o1");
     },
     0},
};

class RetimingUvoBackward : public ::testing::TestWithParam<CASE>
{};

}  // namespace

TEST_P(RetimingUvoBackward, PushedCircuitIsEquivalent)
{
    if (!abc_is_available()) GTEST_SKIP() << "berkeley-abc is not installed";
    const CASE& c = GetParam();
    UVO_CASE u(c.build);
    const int cells = count_lcells(u.run.netlist());
    u.leaf().prepare(true);
    ASSERT_TRUE(u.leaf().backward_push(u.node("c0"))) << c.name;
    u.leaf().sweep();
    expect_no_unread_register(u.run.netlist());
    EXPECT_GE(count_lcells(u.run.netlist()), cells + c.min_new_cells) << c.name;
    u.expect_equivalent(std::string("uvo_bwd_") + c.name);
}

INSTANTIATE_TEST_SUITE_P(Cases, RetimingUvoBackward, ::testing::ValuesIn(k_backward_cases),
                         [](const ::testing::TestParamInfo<CASE>& c) { return std::string(c.param.name); });

// The details the equivalence alone does not show.
TEST(RetimingUvo, BackwardPushEditsTheCellsAsLaidOut)
{
    if (!abc_is_available()) GTEST_SKIP() << "berkeley-abc is not installed";
    {
        // Two readers of one pin with equal registers share one new cell.
        UVO_CASE u(k_backward_cases[6].build);
        const int cells = count_lcells(u.run.netlist());
        u.leaf().prepare(true);
        ASSERT_TRUE(u.leaf().backward_push(u.node("c0")));
        u.leaf().sweep();
        CDB_ATOM_NODE* c0 = u.node("c0");
        EXPECT_EQ(UVO_NET::in(c0, DB_DATA_A)->get_source(), UVO_NET::in(c0, DB_DATA_B)->get_source());
        // r0 gave up its register: two new register cells (A and B share one, C has one).
        EXPECT_EQ(count_lcells(u.run.netlist()), cells + 2);
    }
    {
        // From a LUT both take the register packed into it.
        UVO_CASE u(k_backward_cases[7].build);
        u.leaf().prepare(true);
        ASSERT_TRUE(u.leaf().backward_push(u.node("c0")));
        CDB_ATOM_NODE* c0 = u.node("c0");
        EXPECT_EQ(UVO_NET::in(c0, DB_DATA_A)->get_source(), UVO_NET::q(u.node("s0")));
        EXPECT_EQ(UVO_NET::in(c0, DB_DATA_B)->get_source(), UVO_NET::q(u.node("s0")));
    }
    {
        // A register that powers up as 1 packed into its source: its LUT is
        // complemented and A reads the packed register through its
        // inversion. The source's other readers, B among them, now read it
        // through one new inverter, and B's own register comes after that.
        UVO_CASE u(k_backward_cases[11].build);
        const uint64_t mask = u.node("s0")->get_lutmask().get_value() & 0xffff;
        u.leaf().prepare(true);
        ASSERT_TRUE(u.leaf().backward_push(u.node("c0")));
        u.leaf().sweep();
        CDB_ATOM_NODE* s0 = u.node("s0");
        CDB_ATOM_ITERM* a = UVO_NET::in(u.node("c0"), DB_DATA_A);
        CDB_ATOM_ITERM* b = UVO_NET::in(u.node("c0"), DB_DATA_B);
        EXPECT_EQ(s0->get_lutmask().get_value() & 0xffff, ~mask & 0xffff);
        EXPECT_EQ(a->get_source(), UVO_NET::q(s0));
        EXPECT_TRUE(a->is_inverted());
        ASSERT_TRUE(b->is_driven());
        EXPECT_TRUE(b->get_source()->is_used_as(DB_REG_OUT));
        EXPECT_NE(b->get_source(), UVO_NET::q(s0));
        EXPECT_EQ(UVO_NET::comb(s0)->get_number_of_fanout_nodes(), 1);
        u.expect_equivalent("uvo_bwd_power_up_one_packed_detail");
    }
    {
        // A new register of a constant term holds the logical value once.
        UVO_CASE u(k_backward_cases[4].build);
        u.leaf().prepare(true);
        ASSERT_TRUE(u.leaf().backward_push(u.node("c0")));
        CDB_ATOM_ITERM* b = UVO_NET::in(u.node("c0"), DB_DATA_B);
        ASSERT_TRUE(b->is_driven());
        CDB_ATOM_NODE* held = b->get_source()->get_my_node();
        CDB_ATOM_ITERM* data = UVO_NET::in(held, DB_DATA_A);
        ASSERT_NE(data, nullptr);
        EXPECT_TRUE(data->is_logical_gnd());
        EXPECT_EQ(held->get_lutmask().get_value() & 0xffff, 0x5555u);
    }
    {
        // QFBK: the synchronous data becomes DB_DATA_C, the mode bits flip.
        UVO_CASE u(k_backward_cases[10].build);
        u.leaf().prepare(true);
        ASSERT_TRUE(u.leaf().backward_push(u.node("c0")));
        CDB_ATOM_NODE* r0 = u.node("r0");
        EXPECT_FALSE(r0->test_bit(CDB_ATOM_BIT_QFBK_MODE));
        EXPECT_TRUE(r0->test_bit(CDB_ATOM_BIT_FOUR_INPUT_COMB));
        CDB_ATOM_ITERM* c = UVO_NET::in(r0, DB_DATA_C);
        ASSERT_NE(c, nullptr);
        EXPECT_FALSE(c->is_used_as(DB_SYNCH_DATA));
        // Its LUT reads three inputs now: no wire LUT.
        EXPECT_FALSE(u.leaf().left_as_wire_lut(r0));
    }
    {
        // Out of QFBK mode the synchronous data term serves nothing any
        // more, and r0 is left passing DB_DATA_C alone.
        UVO_CASE u(k_backward_cases[9].build);
        u.leaf().prepare(true);
        ASSERT_TRUE(u.leaf().backward_push(u.node("c0")));
        EXPECT_EQ(UVO_NET::in(u.node("r0"), DB_SYNCH_DATA), nullptr);
        EXPECT_TRUE(u.leaf().left_as_wire_lut(u.node("r0")));
    }
}

namespace {

// An insertion in front of the term asked for directly, with r0's register.
RETIME_ITERM insertion(UVO_CASE& u, CDB_ATOM_ITERM* term)
{
    RETIME_ITERM entry;
    entry.iterm = term;
    entry.reg = u.leaf().describe_register(u.node("r0"));
    entry.initial_condition = true;
    return entry;
}

// c0 reads the sum of a carry chain whose first cell holds a register, with
// an enable of its own when `enable` (A); a tie to VCC through its inversion
// bit (B); the register of k, a cell of `k_mask` over a tie to VCC (C); and
// the LUT of q0, in QFBK mode, whose register takes that LUT or, when
// `sload`, its synchronous data (D). With `k_reads_b` k's LUT reads an
// input at B in place of the tie. r0 is the register whose like is inserted.
// With `d_reads_idle` c0's D reads p, a cell whose register output nothing
// reads any more (as a push that took its register away leaves it).
BUILD insertion_sources(uint64_t k_mask, bool enable, bool sload, bool k_reads_b = false, bool d_reads_idle = false)
{
    return [=](UVO_NET& n) {
        const std::vector<CDB_ATOM_NODE*> s =
            adder_chain(n, "s", {n.input("a0"), n.input("b0"), n.input("a1"), n.input("b1")}, true);
        if (enable) n.input("en")->insert_fanout(s[0]->add_input_term(DB_CLOCK_ENABLE));
        n.output(UVO_NET::q(s[0]), "s0");
        CDB_ATOM_NODE* k =
            k_reads_b ? n.cell("k", {nullptr, n.input("kb")}, k_mask, false, true) : n.reg("k", nullptr, k_mask);
        if (!k_reads_b) UVO_NET::in(k, DB_DATA_A)->set_vcc();
        CDB_ATOM_NODE* q0 = n.cell("q0", {n.input("i2"), n.input("i3")}, 0x8, true, true);
        q0->set_bit(CDB_ATOM_BIT_QFBK_MODE);
        if (sload) {
            q0->add_input_term(DB_SYNCH_LOAD)->set_vcc();
            n.input("i4")->insert_fanout(q0->add_input_term(DB_SYNCH_DATA));
        }
        n.output(UVO_NET::q(q0), "q");
        CDB_ATOM_OTERM* d = UVO_NET::comb(q0);
        if (d_reads_idle) d = UVO_NET::comb(n.cell("p", {n.input("p0"), n.input("p1")}, 0x6, true, true));
        CDB_ATOM_NODE* c0 = n.lut("c0", {UVO_NET::comb(s[1]), nullptr, UVO_NET::q(k), d}, 0x8000);
        UVO_NET::in(c0, DB_DATA_B)->set_gnd();
        UVO_NET::in(c0, DB_DATA_B)->set_invert();
        n.output(UVO_NET::comb(c0), "o0");
        n.output(UVO_NET::q(n.reg("r0", n.input("i1"))), "o1");
    };
}

struct INSERT_CASE
{
    const char* name;
    BUILD build;
    int port;            // c0's input that gets the register
    const char* reused;  // the cell whose register it reads afterwards; null: a new cell
};

}  // namespace

// Where an inserted register comes from: a register of VCC the cell reads
// already, a chain cell whose registers match, the register a QFBK cell's
// LUT feeds; a new register cell otherwise. The term reads it without its
// delay chain, and a tie reads it without its inversion bit.
TEST(RetimingUvo, InsertedRegisterReusesOrPacksOnlyWhatHoldsTheSameValue)
{
    const INSERT_CASE cases[] = {
        {"register_of_a_vcc_tie", insertion_sources(0xAAAA, false, false), DB_DATA_B, "k"},
        {"register_of_the_complemented_tie", insertion_sources(0x5555, false, false), DB_DATA_B, nullptr},
        {"register_of_all_ones_over_an_input", insertion_sources(0xFFFF, false, false, true), DB_DATA_B, "k"},
        {"register_of_a_cell_that_passes_its_input", insertion_sources(0xCCCC, false, false, true), DB_DATA_B, nullptr},
        {"chain_with_an_equal_register", insertion_sources(0xAAAA, false, false), DB_DATA_A, "s1"},
        {"chain_with_a_register_of_another_enable", insertion_sources(0xAAAA, true, false), DB_DATA_A, nullptr},
        {"qfbk_register_of_its_lut", insertion_sources(0xAAAA, false, false), DB_DATA_D, "q0"},
        {"qfbk_register_of_its_synchronous_data", insertion_sources(0xAAAA, false, true), DB_DATA_D, nullptr},
        {"cell_whose_register_output_nothing_reads", insertion_sources(0xAAAA, false, false, false, true), DB_DATA_D,
         "p"},
    };
    for (const INSERT_CASE& c : cases) {
        SCOPED_TRACE(c.name);
        UVO_CASE u(c.build);
        u.leaf().prepare(true);
        CDB_ATOM_ITERM* term = UVO_NET::in(u.node("c0"), c.port);
        term->set_connected_to_delay_chain(DB_DELAY_CHAIN_INPUT, true);
        u.leaf().insert_register(insertion(u, term));
        ASSERT_TRUE(term->is_driven() && term->get_source()->is_used_as(DB_REG_OUT));
        CDB_ATOM_NODE* reg = term->get_source()->get_my_node();
        EXPECT_FALSE(term->is_inverted() || term->is_connected_to_delay_chain(DB_DELAY_CHAIN_INPUT));
        if (c.reused != nullptr) {
            EXPECT_EQ(reg, u.node(c.reused));
        } else {
            EXPECT_NE(reg->get_instance_name()->get_short_hpath().find("_RTM0"), std::string::npos);
            EXPECT_FALSE(UVO_NET::in(reg, DB_DATA_A)->is_connected_to_delay_chain(DB_DELAY_CHAIN_INPUT));
        }
    }
}

// A forward push hangs the register on the cell's output: packed into a
// cell without one, or, when the cell's LUT already feeds its register,
// after unpacking that one into a new register cell.
TEST(RetimingUvo, ForwardPushesPackAndUnpack)
{
    if (!abc_is_available()) GTEST_SKIP() << "berkeley-abc is not installed";
    // OR reads NOT r0: at power-up it sees 1, so the new register powers up
    // as 1 (complemented LUT, inverted readers).
    const BUILD inverted = [](UVO_NET& n) {
        CDB_ATOM_NODE* r0 = n.reg("r0", n.input("i0"));
        CDB_ATOM_NODE* r1 = n.reg("r1", n.input("i1"));
        CDB_ATOM_NODE* c0 = n.lut("c0", {UVO_NET::q(r0), UVO_NET::q(r1)}, 0xE);
        UVO_NET::in(c0, DB_DATA_A)->set_invert();
        n.output(UVO_NET::comb(c0), "o0");
    };
    {
        UVO_CASE u(inverted);
        u.leaf().prepare(false);
        ASSERT_TRUE(u.leaf().forward_push(u.node("c0")));
        u.leaf().sweep();
        expect_no_unread_register(u.run.netlist());
        CDB_ATOM_NODE* c0 = u.node("c0");
        ASSERT_NE(UVO_NET::q(c0), nullptr);
        EXPECT_TRUE(UVO_NET::q(c0)->has_fanout());
        EXPECT_EQ(c0->get_lutmask().get_value() & 0xffff, 0xFFF1u);
        u.expect_equivalent("uvo_fwd_inverted_input");
    }
    // c0's LUT feeds its own register as well as its output: two registers
    // behind it afterwards, the old one unpacked into a new cell.
    const BUILD packed = [](UVO_NET& n) {
        CDB_ATOM_NODE* r0 = n.reg("r0", n.input("i0"));
        CDB_ATOM_NODE* r1 = n.reg("r1", n.input("i1"));
        CDB_ATOM_NODE* c0 = n.cell("c0", {UVO_NET::q(r0), UVO_NET::q(r1)}, 0x6, true, true);
        n.output(UVO_NET::comb(c0), "o0");
        n.output(UVO_NET::q(c0), "o1");
    };
    {
        UVO_CASE u(packed);
        const int cells = count_lcells(u.run.netlist());
        u.leaf().prepare(false);
        ASSERT_TRUE(u.leaf().forward_push(u.node("c0")));
        u.leaf().sweep();
        expect_no_unread_register(u.run.netlist());
        EXPECT_EQ(count_lcells(u.run.netlist()), cells + 1);
        u.expect_equivalent("uvo_fwd_unpack");
    }
}

// Two cells of a carry chain, each reading the carry-in in place of
// DB_DATA_C: the carry-out of the first decides where the second's search
// starts.
TEST(RetimingUvo, CarryChainBackwardPushFollowsTheCarryOffset)
{
    if (!abc_is_available()) GTEST_SKIP() << "berkeley-abc is not installed";
    const BUILD chain = [](UVO_NET& n) {
        CDB_ATOM_NODE* c0 = n.lut("c0", {n.input("i0"), n.input("i1")}, 0x96);
        CDB_ATOM_NODE* c1 = n.lut("c1", {n.input("i2"), n.input("i3")}, 0x96);
        for (CDB_ATOM_NODE* c : {c0, c1}) {
            c->set_bit(CDB_ATOM_BIT_LUTMASK_FLAG);
            c->set_carry_lutmask(CDB_LUTMASK(4, 0xE8));
        }
        CDB_ATOM_OTERM* carry = c0->add_output_term(DB_CARRY_OUT, c0->get_instance_name());
        carry->insert_fanout(c1->add_input_term(DB_CARRY_IN));
        // The sum bits through inverting register cells: they power up as 1.
        n.output(UVO_NET::q(n.reg("r0", UVO_NET::comb(c0), 0x5555)), "o0");
        n.output(UVO_NET::q(n.reg("r1", UVO_NET::comb(c1), 0x5555)), "o1");
    };
    UVO_CASE u(chain);
    u.leaf().prepare(true);
    ASSERT_TRUE(u.leaf().backward_push(u.node("c0")));
    u.leaf().sweep();
    u.expect_equivalent("uvo_bwd_carry_chain");
}

// A forward critical set takes, with a critical cell of a carry chain,
// what feeds A and B of every cell of the chain, from its head on, through
// logic cells' LUT outputs four levels deep: not a register output (of a
// packed cell either), not what feeds C, not the fifth level.
TEST(RetimingUvo, CriticalChainCellBringsTheChainsOperandCones)
{
    const BUILD b = [](UVO_NET& n) {
        CDB_ATOM_NODE* pk = n.cell("pk", {n.input("p0"), n.input("p1")}, 0x6, true, true);
        CDB_ATOM_NODE* pq = n.cell("pq", {n.input("p2"), n.input("p3")}, 0x6, true, true);
        n.output(UVO_NET::q(pk), "pk_o");
        n.output(UVO_NET::comb(pq), "pq_o");
        CDB_ATOM_NODE* x = n.lut("x", {UVO_NET::comb(pk), UVO_NET::q(pq)}, 0x6);
        CDB_ATOM_NODE* rb = n.reg("rb", n.input("ib"));
        const std::vector<CDB_ATOM_NODE*> s =
            adder_chain(n, "s", {deep_cone(n, "a", 5), UVO_NET::q(rb), n.input("a1"), UVO_NET::comb(x)}, false);
        CDB_ATOM_NODE* side = n.lut("side", {n.input("k0"), n.input("k1")}, 0x8);
        UVO_NET::comb(side)->insert_fanout(s[0]->add_input_term(DB_DATA_C));
        n.output(UVO_NET::comb(s[0]), "s0_o");
        n.output(UVO_NET::comb(s[1]), "s1_o");
    };
    UVO_CASE u(b);
    u.slacks.set_slack_ratio(UVO_NET::in(u.node("s1"), DB_DATA_A), 0.0);
    u.leaf().prepare_critical_forward();
    RETIME_HASH_SET<CDB_ATOM_NODE*> set;
    u.leaf().build_critical_set(set);
    EXPECT_EQ(u.leaf().get_chain_cones_collected(), 1);
    std::vector<std::string> members;
    for (CDB_ATOM_NODE* node : set) members.push_back(node->get_instance_name()->get_short_hpath());
    std::sort(members.begin(), members.end());
    EXPECT_EQ(members, (std::vector<std::string>{"a_l1", "a_l2", "a_l3", "a_l4", "pk", "s1", "x"}));
}

// The initial-value search outside carry chains walks combinations by the
// number of ones: 0x8000 finds combination 0, 0xFFFF none for a register
// at 0.
TEST(RetimingUvo, InitialValueSearchEdgeCases)
{
    const BUILD four = [](UVO_NET& n) {
        CDB_ATOM_NODE* c0 = n.lut("c0", {n.input("i0"), n.input("i1"), n.input("i2"), n.input("i3")}, 0x8000);
        n.output(UVO_NET::q(n.reg("r0", UVO_NET::comb(c0))), "o0");
    };
    UVO_CASE u(four);
    u.leaf().prepare(true);
    CDB_ATOM_NODE* c0 = u.node("c0");
    RETIME_REG reg;
    reg.clear_low = true;
    bool carry_low = true, share_low = true;
    ASSERT_TRUE(u.leaf().create_input_registers(c0, reg, carry_low, share_low));
    ASSERT_EQ(u.leaf().get_planned_iterms().size(), 4u);
    for (const RETIME_ITERM& plan : u.leaf().get_planned_iterms()) EXPECT_TRUE(plan.reg.clear_low);
    u.leaf().clear_plans();
    c0->set_lutmask(CDB_LUTMASK(4, 0xFFFF));
    EXPECT_FALSE(u.leaf().create_input_registers(c0, reg, carry_low, share_low));
    // A register at 1 on 0x8000 needs every input at 1.
    c0->set_lutmask(CDB_LUTMASK(4, 0x8000));
    reg.clear_low = false;
    ASSERT_TRUE(u.leaf().create_input_registers(c0, reg, carry_low, share_low));
    for (const RETIME_ITERM& plan : u.leaf().get_planned_iterms()) EXPECT_FALSE(plan.reg.clear_low);
}

// What the hooks answer without editing: the pass defaults, the device's
// rotation delay, a wire LUT's register and a two-input LUT's none, and the
// register part stripped only from a cell that keeps another output.
TEST(RetimingUvo, QueriesAndTheRegisterPart)
{
    const BUILD b = [](UVO_NET& n) {
        CDB_ATOM_NODE* c0 = n.lut("c0", {n.input("i0"), n.input("i1")}, 0x8);
        n.output(UVO_NET::q(n.reg("r0", UVO_NET::comb(c0), 0x5555)), "o0");
        n.cell("lone", {n.input("i2")}, 0xAAAA, false, true);
        n.output(UVO_NET::q(n.cell("r2", {UVO_NET::comb(c0), n.input("i3")}, 0x8, false, true)), "o2");
    };
    UVO_CASE u(b);
    UVO_LEAF& leaf = u.leaf();
    int iters = -1, hci = -1;
    leaf.set_default_pass_parameters(1, iters, hci);
    EXPECT_EQ(iters, 48);
    EXPECT_EQ(hci, 8);
    EXPECT_FALSE(leaf.is_retiming_backwards());
    EXPECT_DOUBLE_EQ(leaf.get_slack_ratio_threshold(), 0.21);
    iters = hci = -1;
    leaf.set_default_pass_parameters(2, iters, hci);
    EXPECT_EQ(iters, 16);
    EXPECT_EQ(hci, 2);
    EXPECT_GT(leaf.get_family_constants().rotation_delay, 0);
    EXPECT_EQ(leaf.get_max_critical_slack(), static_cast<int>(leaf.get_family_constants().rotation_delay * 4.0f));

    RETIME_REG reg;
    CDB_ATOM_ITERM* r0_in = UVO_NET::in(u.node("r0"), DB_DATA_A);
    EXPECT_EQ(leaf.backward_push_get_reg(r0_in, reg, true), UVO_NET::q(u.node("r0")));
    EXPECT_FALSE(reg.clear_low);  // an inverting wire LUT
    r0_in->set_invert();
    ASSERT_NE(leaf.backward_push_get_reg(r0_in, reg, true), nullptr);
    EXPECT_TRUE(reg.clear_low);  // and its input's inversion on top
    EXPECT_EQ(leaf.backward_push_get_reg(UVO_NET::in(u.node("r2"), DB_DATA_A), reg, true), nullptr);

    CDB_ATOM_NODE* lone = u.node("lone");
    const std::string before = native_text(u.run.netlist());
    leaf.delete_node(lone);
    EXPECT_TRUE(native_text(u.run.netlist()) == before);
    EXPECT_NE(UVO_NET::q(lone), nullptr);
}

// The DSP sample: a push across the LUT in front of a multiplier takes the
// multiplier's packed input register.
TEST(RetimingUvo, LutPushTakesTheMultipliersPackedInputRegister)
{
    if (!abc_is_available()) GTEST_SKIP() << "berkeley-abc is not installed";
    const DSP_GEN_OPTIONS o = dsp_sample_options(CDB_FAMILY_UVO);
    std::unique_ptr<CDB_ATOM_NETLIST> reference = dsp_generate(o);
    RETIMING_SEQ_RUN<UVO_LEAF> run(o.m_family, dsp_generate(o), "", nullptr);
    SCRIPTED_SLACK_SOURCE slacks(run.api()->get_fsyn_timing());
    slacks.set_default(10000, 1.0);
    place_every_node(run.api(), run.netlist());
    run.leaf().prepare(true);
    CDB_ATOM_NODE* f0 = seq_find(run.netlist(), "f0");
    ASSERT_NE(f0, nullptr);
    RETIME_REG reg;
    CDB_ATOM_ITERM* operand = UVO_NET::comb(f0)->get_first_fanout();
    ASSERT_TRUE(operand->get_my_node()->is_mac_mult());
    ASSERT_NE(run.leaf().backward_push_get_reg(operand, reg, true), nullptr);
    ASSERT_TRUE(run.leaf().backward_push(f0));
    const SEQ_VERDICT v = seq_check(*reference, run.netlist(), "uvo_mac_lut_push", true, 300, 11);
    EXPECT_TRUE(v.equivalent()) << v.describe();
}

// A register on an output that must power up at 1: a chain cell packs it
// and complements its LUT while its carry function stays; a DSP block,
// which has no LUT to complement, gets a register cell that stores the
// complement, and its readers read through one inverter.
TEST(RetimingUvo, RegisterOnOutputPowersUpAtOneWithoutTouchingOtherFunctions)
{
    const BUILD chain = [](UVO_NET& n) {
        CDB_ATOM_NODE* c0 = n.lut("c0", {n.input("i0"), n.input("i1")}, 0x96);
        CDB_ATOM_NODE* c1 = n.lut("c1", {n.input("i2"), n.input("i3")}, 0x96);
        for (CDB_ATOM_NODE* c : {c0, c1}) {
            c->set_bit(CDB_ATOM_BIT_LUTMASK_FLAG);
            c->set_carry_lutmask(CDB_LUTMASK(4, 0xE8));
        }
        c0->add_output_term(DB_CARRY_OUT, c0->get_instance_name())->insert_fanout(c1->add_input_term(DB_CARRY_IN));
        n.output(UVO_NET::comb(c0), "o0");
        n.output(UVO_NET::comb(c1), "o1");
    };
    UVO_CASE u(chain);
    u.leaf().prepare(false);
    CDB_ATOM_NODE* c0 = u.node("c0");
    RETIME_REG reg;
    reg.signals[RETIME_CLOCK].source = seq_find(u.run.netlist(), "clk")->get_output_term_by_type(DB_DATA_OUT);
    reg.clear_low = false;
    u.leaf().add_register_on_output(UVO_NET::comb(c0), reg);
    EXPECT_EQ(c0->get_lutmask().get_value() & 0xffff, 0xFFFFu & ~0x96u);
    EXPECT_EQ(c0->get_carry_lutmask().get_value() & 0xffff, 0xE8u);
    ASSERT_NE(UVO_NET::q(c0), nullptr);
    EXPECT_TRUE(UVO_NET::q(c0)->has_fanout());

    const DSP_GEN_OPTIONS o = dsp_sample_options(CDB_FAMILY_UVO);
    RETIMING_SEQ_RUN<UVO_LEAF> run(o.m_family, dsp_generate(o), "", nullptr);
    place_every_node(run.api(), run.netlist());
    run.leaf().prepare(false);
    CDB_ATOM_NODE* mac = seq_find(run.netlist(), "d_o");
    ASSERT_NE(mac, nullptr);
    CDB_ATOM_OTERM* bit = nullptr;
    for (auto it = mac->begin_oterm(); it != mac->end_oterm() && bit == nullptr; ++it)
        if ((*it)->has_fanout()) bit = *it;
    ASSERT_NE(bit, nullptr);
    const int readers = bit->get_number_of_fanout();
    reg.signals[RETIME_CLOCK].source = seq_find(run.netlist(), "clk")->get_output_term_by_type(DB_DATA_OUT);
    u.leaf().clear_plans();
    run.leaf().add_register_on_output(bit, reg);
    ASSERT_EQ(bit->get_number_of_fanout(), 1);
    CDB_ATOM_NODE* cell = bit->get_first_fanout()->get_my_node();
    EXPECT_EQ(cell->get_lutmask().get_value() & 0xffff, 0x5555u);
    CDB_ATOM_OTERM* q = UVO_NET::q(cell);
    ASSERT_NE(q, nullptr);
    ASSERT_EQ(q->get_number_of_fanout(), 1);
    CDB_ATOM_NODE* inverter = q->get_first_fanout()->get_my_node();
    EXPECT_EQ(inverter->get_lutmask().get_value() & 0xffff, 0x5555u);
    EXPECT_EQ(UVO_NET::comb(inverter)->get_number_of_fanout(), readers);
}

namespace {

// Backward pushes that insert registers in front of a cell, each behind a
// deep cone that makes it worth a push: "vand" reads two ties to VCC and a
// pin through delay chain 8; "sd" reads the sum of a carry chain that
// holds no register, "ed" that of a chain whose first cell holds one with
// an enable; "fand" reads a tie to VCC and "vk", a register whose LUT is all
// ones; "qd" reads the LUT of "q0", in QFBK mode; "lr" loads its
// synchronous data "ll" on every clock.
std::unique_ptr<CDB_ATOM_NETLIST> insert_register_design()
{
    UVO_NET n;
    CDB_ATOM_NODE* vand = n.lut("vand", {deep_cone(n, "va", 6), nullptr, nullptr, n.input("vd")}, 0x8000);
    UVO_NET::in(vand, DB_DATA_B)->set_vcc();
    UVO_NET::in(vand, DB_DATA_C)->set_vcc();
    UVO_NET::in(vand, DB_DATA_D)->set_connected_to_delay_chain(DB_DELAY_CHAIN_INPUT, true);
    UVO_NET::in(vand, DB_DATA_D)->set_delay_chain_index(DB_DELAY_CHAIN_INPUT, 3);
    n.output(UVO_NET::q(n.reg("vr", UVO_NET::comb(vand))), "vr_o");

    for (const std::string base : {"s", "e"}) {
        const bool held = base == "e";
        const std::vector<CDB_ATOM_NODE*> chain = adder_chain(
            n, base + "c",
            {deep_cone(n, base + "a", 6), n.input(base + "b0"), n.input(base + "a1"), n.input(base + "b1")}, held);
        n.output(UVO_NET::comb(chain[0]), base + "c0_o");
        if (held) {
            n.input("en")->insert_fanout(chain[0]->add_input_term(DB_CLOCK_ENABLE));
            n.output(UVO_NET::q(chain[0]), "ec0_q_o");
        }
        CDB_ATOM_NODE* sum = n.lut(base + "d", {UVO_NET::comb(chain[1]), n.input(base + "x")}, 0x6);
        n.output(UVO_NET::q(n.reg(base + "r", UVO_NET::comb(sum))), base + "r_o");
    }

    // vk is made after the cone: insertions go by source id, and the tie
    // must find vk before C takes a register in front of it.
    CDB_ATOM_OTERM* fa = deep_cone(n, "fa", 6);
    CDB_ATOM_NODE* fand = n.lut("fand", {fa, nullptr, UVO_NET::q(n.cell("vk", {}, 0xFFFF, false, true))}, 0x80);
    UVO_NET::in(fand, DB_DATA_B)->set_vcc();
    n.output(UVO_NET::q(n.reg("fr", UVO_NET::comb(fand))), "fr_o");

    CDB_ATOM_NODE* q0 = n.cell("q0", {deep_cone(n, "qa", 6), n.input("qb")}, 0x6, true, true);
    q0->set_bit(CDB_ATOM_BIT_QFBK_MODE);
    n.output(UVO_NET::q(q0), "q0_o");
    CDB_ATOM_NODE* qd = n.lut("qd", {UVO_NET::comb(q0), n.input("qx")}, 0x6);
    n.output(UVO_NET::q(n.reg("qr", UVO_NET::comb(qd))), "qr_o");

    CDB_ATOM_NODE* ll = n.lut("ll", {deep_cone(n, "la", 6), n.input("lb")}, 0x6);
    CDB_ATOM_NODE* lr = n.cell("lr", {nullptr, nullptr, n.input("lc")}, 0xF0F0, true, true);
    lr->add_input_term(DB_SYNCH_LOAD)->set_vcc();
    UVO_NET::comb(ll)->insert_fanout(lr->add_input_term(DB_SYNCH_DATA));
    n.output(UVO_NET::q(lr), "lr_o");
    n.output(UVO_NET::comb(lr), "lr_c_o");
    return n.take();
}

}  // namespace

// The design morv-fit reads from designs/insert_regs_uvo.txt.
TEST(RetimingUvoInsertDesign, SampleDesignIsTheGeneratorsOwn)
{
    const std::string text = canonical_ids(native_text(*insert_register_design()));
    const std::string path = std::string(MORV_SOURCE_DIR) + "/designs/insert_regs_uvo.txt";
    EXPECT_TRUE(sample_design_is_current(path, text));
}

}  // namespace retiming_uvo_test
