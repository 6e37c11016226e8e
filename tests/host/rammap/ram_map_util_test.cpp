// The family RAM utilities: the cells a mapped RAM needs, each checked by
// simulating the edited netlist (in the 6-input families' reversed mask
// order and the 4-input families' natural one), and where the edit must
// keep the design's function, by ABC against the design as built.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cdb/cdb_atom_netlist.h"
#include "dev/dev_device.h"

#include "morv/netlist/morv_net_util.h"
#include "morv/rammap/morv_ram_map_util_6lut.h"
#include "morv_test_util.h"
#include "rammap_run.h"
#include "seq_harness.h"

namespace ram_map_util_test {

namespace {

// Four families: both LUT sizes, both register tests.
const int k_families[] = {CDB_FAMILY_BRK, CDB_FAMILY_ZEPLA, CDB_FAMILY_OBRAN, CDB_FAMILY_TEV};
// And the two that share the RZK cells, each with its own register factory.
const int k_all_families[] = {CDB_FAMILY_BRK, CDB_FAMILY_ZEPLA,   CDB_FAMILY_OBRAN,
                              CDB_FAMILY_TEV, CDB_FAMILY_KESTLIN, CDB_FAMILY_RZK};

enum CONTROL_TIE : int
{
    TIE_NONE,  // driven by the input "c"
    TIE_GND,
    TIE_VCC,
};

// q = register of d on clk, its enable or clear tied as asked; outputs o
// (reads q) and probe (a placeholder the test rewires).
RAMMAP_BUILD register_design(int control_port = DB_CLOCK_ENABLE, CONTROL_TIE tie = TIE_NONE)
{
    return [=](FIXTURE_NETLIST& f) {
        CDB_ATOM_OTERM* d = f.input("d");
        CDB_ATOM_OTERM* clk = f.input("clk");
        CDB_ATOM_OTERM* c = f.input("c");
        CDB_ATOM_OTERM* q = f.reg("q", d, clk);
        CDB_ATOM_ITERM* control = q->get_my_node()->add_input_term(control_port);
        if (tie == TIE_NONE) c->insert_fanout(control);
        else if (tie == TIE_GND) control->set_gnd();
        else control->set_vcc();
        f.output("o", q);
        f.output("probe", f.constant("zero", false));
    };
}

// The output probe reads `driver` from now on.
void probe(RAMMAP_RUN& run, CDB_ATOM_OTERM* driver)
{
    CDB_ATOM_ITERM* term = run.output_term("probe");
    term->disconnect_from_source(CDB_NET_ITERM::UNCONNECTED);
    driver->insert_fanout(term);
}

std::string family_tag(int family)
{
    return std::string("rammap_") + cdb_get_family_info(family)->name;
}

}  // namespace

// One instance at a time, its BDD manager made once on request; each
// family's answers on output gain, the VCC data-in fix and block type 3,
// and a block of the device's small size.
TEST(RamMapUtil, InstanceAnswersAndBlockBits)
{
    struct ROW
    {
        int family;
        bool gain, vcc_fix, block_type_3;
        int bits;
    };
    const ROW rows[] = {{CDB_FAMILY_BRK, true, false, true, 4096},     {CDB_FAMILY_ZEPLA, false, true, true, 8192},
                        {CDB_FAMILY_OBRAN, false, false, false, 8192}, {CDB_FAMILY_TEV, true, true, true, 4096},
                        {CDB_FAMILY_RZK, false, false, false, 8192},   {CDB_FAMILY_KESTLIN, false, false, false, 8192}};
    for (const ROW& row : rows) {
        RAMMAP_RUN run(row.family, register_design());
        ASSERT_NE(run.util(), nullptr) << row.family;
        EXPECT_EQ(MORV_RAM_MAP_UTIL::get_instance(), run.util());
        EXPECT_EQ(run.util()->counts_outputs_in_gain(), row.gain) << row.family;
        EXPECT_EQ(run.util()->needs_vcc_data_in_fix(), row.vcc_fix) << row.family;
        EXPECT_EQ(run.util()->uses_block_type_3(), row.block_type_3) << row.family;
        EXPECT_EQ(run.util()->get_ram_block_bits(), row.bits) << row.family;
        EXPECT_EQ(run.api()->get_device()->get_ram_block_bits(DEV_RAM_BLOCK_SMALL), row.bits) << row.family;
        BDD_JBDD_MGR* bdd = run.util()->get_bdd_manager();
        EXPECT_NE(bdd, nullptr);
        EXPECT_EQ(run.util()->get_bdd_manager(), bdd);
        EXPECT_TRUE(run.util()->is_ff(run.node("q")));
        EXPECT_FALSE(run.util()->is_lut(run.node("q")));
    }
    EXPECT_FALSE(MORV_RAM_MAP_UTIL::has_instance());
    EXPECT_EQ(internal_error_of([] { MORV_RAM_MAP_UTIL::get_instance(); }), "m_instance");
    for (int family : {CDB_FAMILY_MRL, CDB_FAMILY_UVO}) {
        RAMMAP_RUN run(family, [](FIXTURE_NETLIST& f) { f.output("o", f.input("i")); });
        EXPECT_EQ(run.util(), nullptr) << family;
    }
}

// The wrapper ANDs the output with the clear-emulation register: a
// register that powers up at 0 reads the same, proved by ABC. Inverted, it
// reads 1 until the first enabled clock edge after power-up or a clear.
TEST(RamMapUtil, ClearEmulationRegisterAndWrapper)
{
    for (int family : k_families) {
        SCOPED_TRACE(family_tag(family));
        RAMMAP_RUN run(family, register_design(DB_CLOCK_ENABLE));
        CDB_ATOM_OTERM* aclr = run.util()->create_aclr_register(run.node("q"));
        ASSERT_NE(aclr, nullptr);
        EXPECT_EQ(run.count_nodes_with_suffix("_REGGED"), 1);
        CDB_ATOM_ITERM* b = run.util()->create_aclr_wrapper(run.output_term("o"), aclr, false);
        ASSERT_NE(b, nullptr);
        EXPECT_TRUE(b->is_used_as(DB_DATA_B));
        EXPECT_EQ(run.count_nodes_with_suffix("_ORER"), 1);
        FIXTURE_NETLIST reference(family);
        register_design(DB_CLOCK_ENABLE)(reference);
        const SEQ_VERDICT v = seq_check(reference.netlist(), run.netlist(), family_tag(family) + "_wrap", true, 200);
        EXPECT_TRUE(v.equivalent()) << v.describe();
    }
    for (int family : k_all_families) {
        SCOPED_TRACE(family_tag(family));
        RAMMAP_RUN run(family, register_design(DB_CLOCK_ENABLE));
        CDB_ATOM_OTERM* aclr = run.util()->create_aclr_register(run.node("q"));
        run.util()->create_aclr_wrapper(run.output_term("o"), aclr, true);
        RAMMAP_SIM sim(run.netlist());
        sim.set("d", 0);
        sim.set("c", 0);
        EXPECT_EQ(sim.get("o"), 1u);
        sim.clock();  // not enabled: still 1
        EXPECT_EQ(sim.get("o"), 1u);
        sim.set("c", 1);
        sim.clock();  // the register loads 0, the emulation register 1
        EXPECT_EQ(sim.get("o"), 0u);
        sim.set("d", 1);
        sim.clock();
        EXPECT_EQ(sim.get("o"), 1u);
    }
}

// Constant controls of the old register come out as the same constant: a
// GND-tied enable never loads and a GND-tied clear holds the register
// cleared, so the emulation register stays 0; VCC ties load on the first
// edge. A connected control is copied as driven.
TEST(RamMapUtil, ClearEmulationRegisterKeepsConstantControls)
{
    struct CASE
    {
        int port;
        CONTROL_TIE tie;
        unsigned after_edge;
    };
    const CASE cases[] = {
        {DB_CLOCK_ENABLE, TIE_GND, 0}, {DB_CLOCK_ENABLE, TIE_VCC, 1}, {DB_CLEAR, TIE_GND, 0}, {DB_CLEAR, TIE_VCC, 1}};
    for (int family : k_all_families)
        for (const CASE& c : cases) {
            SCOPED_TRACE(family_tag(family) + " port " + std::to_string(c.port) + " tie " + std::to_string(c.tie));
            RAMMAP_RUN run(family, register_design(c.port, c.tie));
            CDB_ATOM_OTERM* aclr = run.util()->create_aclr_register(run.node("q"));
            EXPECT_EQ(aclr->get_my_node()->get_atom_type(), run.node("q")->get_atom_type());
            const CDB_ATOM_ITERM* copied = aclr->get_my_node()->get_input_term_by_type(c.port);
            ASSERT_NE(copied, nullptr);
            EXPECT_EQ(copied->is_gnd(), c.tie == TIE_GND);
            EXPECT_EQ(copied->is_vcc(), c.tie == TIE_VCC);
            EXPECT_FALSE(copied->is_inverted());
            probe(run, aclr);
            RAMMAP_SIM sim(run.netlist());
            sim.set("d", 1);
            EXPECT_EQ(sim.get("probe"), 0u);
            sim.clock();
            EXPECT_EQ(sim.get("probe"), c.after_edge);
            sim.clock();
            EXPECT_EQ(sim.get("probe"), c.after_edge);
        }
}

// The 6-input branch leaves out an unconnected control; the 4-input branch
// copies the term as it is.
TEST(RamMapUtil, UnconnectedControlCopiedOnlyByTheFourInputBranch)
{
    for (int family : k_families) {
        SCOPED_TRACE(family_tag(family));
        RAMMAP_RUN run(family, [](FIXTURE_NETLIST& f) {
            CDB_ATOM_OTERM* q = f.reg("q", f.input("d"), f.input("clk"));
            q->get_my_node()->add_input_term(DB_CLEAR);
            f.output("o", q);
        });
        CDB_ATOM_OTERM* aclr = run.util()->create_aclr_register(run.node("q"));
        const bool six = cdb_get_family_info(family)->lut_size == 6;
        const CDB_ATOM_ITERM* clear = aclr->get_my_node()->get_input_term_by_type(DB_CLEAR);
        EXPECT_EQ(clear != nullptr, !six);
        if (clear != nullptr) {
            EXPECT_FALSE(clear->is_connected());
        }
        EXPECT_NE(aclr->get_my_node()->get_input_term_by_type(DB_CLOCK), nullptr);
        EXPECT_TRUE(aclr->get_my_node()->get_input_term_by_type(DB_DATAIN)->is_vcc());
    }
}

// An inverter in front of an output reads as the output's own inversion,
// which it keeps.
TEST(RamMapUtil, InverterLutMatchesAnInvertedRead)
{
    for (int family : k_families)
        for (bool inverted_read : {false, true}) {
            SCOPED_TRACE(family_tag(family) + (inverted_read ? " inverted read" : ""));
            auto build = [=](bool invert) {
                return [=](FIXTURE_NETLIST& f) { f.output("o", f.reg("q", f.input("d"), f.input("clk")), invert); };
            };
            RAMMAP_RUN run(family, build(inverted_read));
            CDB_ATOM_ITERM* a = run.util()->insert_inverter_lut(run.output_term("o"));
            ASSERT_NE(a, nullptr);
            EXPECT_FALSE(a->is_inverted());
            EXPECT_EQ(run.count_nodes_with_suffix("_RTM0"), 1);
            FIXTURE_NETLIST reference(family);
            build(!inverted_read)(reference);
            const SEQ_VERDICT v = seq_check(reference.netlist(), run.netlist(), family_tag(family) + "_inv", true, 100);
            EXPECT_TRUE(v.equivalent()) << v.describe();
        }
}

// Registers with VCC data inputs share one constant LUT and load what they
// loaded before.
TEST(RamMapUtil, VccLutSharedByTwoRegisters)
{
    auto build = [](FIXTURE_NETLIST& f) {
        CDB_ATOM_OTERM* clk = f.input("clk");
        CDB_ATOM_OTERM* en = f.input("en");
        for (const char* name : {"r1", "r2"}) {
            CDB_ATOM_OTERM* q = f.reg(name, f.constant(std::string(name) + "_k", false), clk, en);
            CDB_ATOM_ITERM* data = q->get_my_node()->get_input_term_by_type(DB_DATAIN);
            data->disconnect_from_source(CDB_NET_ITERM::UNCONNECTED);
            data->set_vcc();
            f.output(std::string(name) + "_o", q);
        }
    };
    for (int family : {CDB_FAMILY_ZEPLA, CDB_FAMILY_TEV}) {
        SCOPED_TRACE(family_tag(family));
        RAMMAP_RUN run(family, build);
        CDB_ATOM_OTERM* shared = run.util()->create_vcc_lut(run.node("r1"), nullptr);
        ASSERT_NE(shared, nullptr);
        EXPECT_EQ(run.util()->create_vcc_lut(run.node("r2"), shared), shared);
        EXPECT_EQ(run.count_nodes_with_suffix("_RTM0"), 1);
        EXPECT_EQ(run.node("r2")->get_input_term_by_type(DB_DATAIN)->get_source(), shared);
        FIXTURE_NETLIST reference(family);
        build(reference);
        const SEQ_VERDICT v = seq_check(reference.netlist(), run.netlist(), family_tag(family) + "_vcc", true, 100);
        EXPECT_TRUE(v.equivalent()) << v.describe();
        EXPECT_EQ(internal_error_of([&] { run.util()->create_vcc_lut(run.node("r1"), shared); }),
                  "data_in && data_in->is_vcc()");
    }
}

// A carry input taken over by wire LUTs: one LUT before an odd cell, two
// before an even one, the chain alternating parity through them, and the
// adder cell adding the value the caller puts on the returned input.
TEST(RamMapUtil, CarryOutWireLutsByParity)
{
    auto build = [](FIXTURE_NETLIST& f) {
        std::vector<CDB_ATOM_OTERM*> a, b;
        for (int i = 0; i < 3; ++i) {
            a.push_back(f.input(indexed("a", i)));
            b.push_back(f.input(indexed("b", i)));
        }
        f.input("x");
        const std::vector<CDB_ATOM_OTERM*> sum = f.adder("add", a, b);
        for (size_t i = 0; i < sum.size(); ++i) f.output(indexed("s", i), sum[i]);
    };
    struct CASE
    {
        const char* cell;
        int bit;
        int new_luts;
    };
    for (const CASE& c : {CASE{"add_1", 1, 1}, CASE{"add_2", 2, 2}}) {
        SCOPED_TRACE(c.cell);
        RAMMAP_RUN run(CDB_FAMILY_BRK, build);
        auto* util = dynamic_cast<MORV_RAM_MAP_UTIL_6LUT*>(run.util());
        ASSERT_NE(util, nullptr);
        util->prepare_cluster_carry_chains();
        CDB_ATOM_NODE* target = run.node(c.cell);
        EXPECT_EQ(util->get_carry_chain_parity(target), c.bit % 2);
        CDB_ATOM_ITERM* data_a = util->create_carry_out_wire_lut(target->get_input_term_by_type(DB_CARRY_IN));
        ASSERT_NE(data_a, nullptr);
        EXPECT_EQ(run.count_nodes_with_suffix("_carryout"), c.new_luts);
        EXPECT_EQ(run.count_nodes_with_suffix("_carryout_2"), c.new_luts - 1);
        run.node("x")->get_output_term_by_type(DB_DATA_OUT)->insert_fanout(data_a);
        // Walk the chain from its new head: parities alternate up to the target.
        MORV_NET_UTIL* net_util = run.api()->get_fsyn_net_util();
        CDB_ATOM_NODE* head = target;
        while (CDB_ATOM_NODE* previous = net_util->get_previous_node_in_carry_chain(head)) head = previous;
        int expected = util->get_carry_chain_parity(head), length = 0;
        EXPECT_EQ(expected, 0);
        for (CDB_ATOM_NODE* n = head; n != nullptr; n = util->next_chain_cell(n), ++length) {
            EXPECT_EQ(util->get_carry_chain_parity(n), expected % 2) << n->get_instance_name()->get_short_hpath();
            ++expected;
        }
        EXPECT_EQ(length, c.new_luts + 3 - c.bit);
        RAMMAP_SIM sim(run.netlist());
        for (unsigned row = 0; row < 8; ++row) {
            const unsigned a = row & 1u, b = (row >> 1) & 1u, x = (row >> 2) & 1u;
            sim.set(indexed("a", c.bit), a);
            sim.set(indexed("b", c.bit), b);
            sim.set("x", x);
            EXPECT_EQ(sim.get(indexed("s", c.bit)), a ^ b ^ x) << row;
        }
    }
}

namespace {

// Two 4-input arithmetic cells in one carry chain: add_0 adds a0 and b0,
// add_1 adds a1, b1 and add_0's carry; outputs s0, s1 (sums) and s2 (the
// last carry).
void four_input_adder(FIXTURE_NETLIST& f)
{
    f.input("x");
    const std::vector<CDB_ATOM_OTERM*> sum =
        carry_chain(f, "add", {f.input("a0"), f.input("a1")}, {f.input("b0"), f.input("b1")});
    for (size_t i = 0; i < sum.size(); ++i) f.output(indexed("s", i), sum[i]);
}

}  // namespace

// The 4-input branch's carry cells, in both 4-input families: a carry
// input taken over by one "_carryout" LUT passing on what its data input A
// reads (no parity rule), heading a chain of its own; and a chain cell
// turned into a wire whose combinational output is its carry-in.
TEST(RamMapUtil, FourInputCarryOutAndChainWireLuts)
{
    for (int family : {CDB_FAMILY_ZEPLA, CDB_FAMILY_TEV}) {
        SCOPED_TRACE(family_tag(family));
        {
            RAMMAP_RUN run(family, four_input_adder);
            CDB_ATOM_NODE* add_0 = run.node("add_0");
            CDB_ATOM_NODE* add_1 = run.node("add_1");
            CDB_ATOM_ITERM* data_a = run.util()->create_carry_out_wire_lut(add_1->get_input_term_by_type(DB_CARRY_IN));
            ASSERT_NE(data_a, nullptr);
            EXPECT_EQ(data_a->get_any_usage_as(), DB_DATA_A);
            EXPECT_EQ(run.count_nodes_with_suffix("_carryout"), 1);
            EXPECT_EQ(run.count_nodes_with_suffix("_carryout_2"), 0);
            run.node("x")->get_output_term_by_type(DB_DATA_OUT)->insert_fanout(data_a);
            MORV_NET_UTIL* net_util = run.api()->get_fsyn_net_util();
            CDB_ATOM_NODE* head = net_util->get_previous_node_in_carry_chain(add_1);
            ASSERT_NE(head, nullptr);
            EXPECT_EQ(head, data_a->get_my_node());
            EXPECT_EQ(net_util->get_previous_node_in_carry_chain(head), nullptr);
            EXPECT_FALSE(add_0->get_output_term_by_type(DB_CARRY_OUT)->has_fanout());
            RAMMAP_SIM sim(run.netlist());
            for (unsigned row = 0; row < 32; ++row) {
                const unsigned a0 = row & 1u, b0 = row >> 1 & 1u, a1 = row >> 2 & 1u, b1 = row >> 3 & 1u,
                               x = row >> 4 & 1u;
                sim.set("a0", a0);
                sim.set("b0", b0);
                sim.set("a1", a1);
                sim.set("b1", b1);
                sim.set("x", x);
                EXPECT_EQ(sim.get("s0"), a0 ^ b0) << row;
                EXPECT_EQ(sim.get("s1"), a1 ^ b1 ^ x) << row;
                EXPECT_EQ(sim.get("s2"), (a1 + b1 + x) >> 1) << row;
            }
        }
        {
            RAMMAP_RUN run(family, four_input_adder);
            CDB_ATOM_NODE* add_1 = run.node("add_1");
            CDB_ATOM_OTERM* wire = run.util()->convert_to_carry_chain_wire_lut(add_1);
            ASSERT_NE(wire, nullptr);
            EXPECT_EQ(wire, add_1->get_output_term_by_type(DB_COMB_OUT));
            EXPECT_TRUE(add_1->get_input_term_by_type(DB_DATA_D)->is_vcc());
            EXPECT_EQ(run.api()->get_fsyn_net_util()->get_previous_node_in_carry_chain(add_1), run.node("add_0"));
            RAMMAP_SIM sim(run.netlist());
            for (unsigned row = 0; row < 16; ++row) {
                const unsigned a0 = row & 1u, b0 = row >> 1 & 1u;
                sim.set("a0", a0);
                sim.set("b0", b0);
                sim.set("a1", row >> 2 & 1u);
                sim.set("b1", row >> 3 & 1u);
                EXPECT_EQ(sim.get("s1"), a0 & b0) << row << ": the wire passes the carry on";
                EXPECT_EQ(sim.get("s2"), 0u) << row;
            }
        }
    }
}

}  // namespace ram_map_util_test
