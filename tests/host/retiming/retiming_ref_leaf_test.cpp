// The reference family leaf on its own: the register it finds behind a
// cell's output and in front of its inputs, the power-up values its search
// chooses, and its register edits, which must keep every netlist
// sequentially equivalent when a push is made by hand through them.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "cdb/cdb_atom_netlist.h"
#include "host_env.h"
#include "io/blif_reader.h"
#include "msg/msg.h"

#include "morv/core/morv_api.h"
#include "morv/core/morv_expert.h"
#include "morv/netlist/morv_net_util.h"
#include "retiming_ref_leaf.h"
#include "seq_gen.h"
#include "seq_harness.h"
#include "test_build.h"

namespace retiming_ref_leaf_test {

namespace {

using namespace morv_host;

std::unique_ptr<CDB_ATOM_NETLIST> read_blif(const std::string& text)
{
    return BLIF_READER(CDB_FAMILY_BRK).read_text(text, "leaf.blif");
}

// A netlist under a compile of its own with the reference leaf on it.
class LEAF_RUN
{
public:
    explicit LEAF_RUN(std::unique_ptr<CDB_ATOM_NETLIST> netlist)
    {
        msg_set_quiet(true);
        m_design = std::make_unique<HOST_DESIGN>(CDB_FAMILY_BRK, std::move(netlist));
        m_env = std::make_unique<HOST_ENV>(*m_design);
        m_api = dynamic_cast<MORV_EXPERT*>(m_env->get_fsyn_expert())->get_fsyn_api();
        m_leaf = std::make_unique<RETIMING_REF_LEAF>(m_api, nullptr);
        m_leaf->set_srt(0.1);
    }
    CDB_ATOM_NETLIST& netlist() { return *m_design->netlist(); }
    RETIMING_REF_LEAF& leaf() { return *m_leaf; }
    MORV_NET_UTIL* util() { return m_api->get_fsyn_net_util(); }
    CDB_ATOM_NODE* node(const std::string& name)
    {
        CDB_ATOM_NODE* n = seq_find(netlist(), name);
        EXPECT_NE(n, nullptr) << name;
        return n;
    }
    // The cell's register on its data input, found through its output.
    CDB_ATOM_ITERM* input_of(const std::string& name, int port) { return node(name)->get_input_term_by_type(port); }

private:
    std::unique_ptr<HOST_DESIGN> m_design;
    std::unique_ptr<HOST_ENV> m_env;
    MORV_API* m_api = nullptr;
    std::unique_ptr<RETIMING_REF_LEAF> m_leaf;
};

// Registers r1 (behind an AND), r2 (behind a buffer wire LUT), r3 (behind
// an inverter wire LUT), and two registers in front of a NAND.
const char* k_small = R"(.model small
.inputs clk a b c
.outputs o1 o2 o3 o4
.names a b n1
11 1
.latch n1 r1 re clk 0
.names r1 o1
1 1
.names a c n2
10 1
.names n2 w2
1 1
.latch w2 r2 re clk 0
.names r2 o2
1 1
.names b c n3
01 1
.names n3 w3
0 1
.latch w3 r3 re clk 0
.names r3 o3
1 1
.latch a q1 re clk 0
.latch b q2 re clk 0
.names q1 q2 nand
11 0
.names nand o4
1 1
.end
)";

// The register fed by the cell's output, as the engine reaches it.
CDB_ATOM_OTERM* register_behind(LEAF_RUN& run, const std::string& cell, RETIME_REG& reg)
{
    CDB_ATOM_OTERM* comb = run.node(cell)->get_output_term_by_type(DB_COMB_OUT);
    return run.leaf().backward_push_get_reg(*comb->begin_iterm_fanout(), reg, true);
}

}  // namespace

TEST(RetimingRefLeaf, FindsTheRegisterBehindAnOutputDirectlyOrThroughAWireLut)
{
    LEAF_RUN run(read_blif(k_small));
    RETIME_REG reg;
    CDB_ATOM_OTERM* r1 = register_behind(run, "n1", reg);
    ASSERT_NE(r1, nullptr);
    EXPECT_EQ(r1->get_my_node(), run.node("r1"));
    EXPECT_TRUE(reg.clear_low);
    EXPECT_EQ(reg.signals[RETIME_CLOCK].source, run.node("clk")->get_output_term_by_type(DB_DATA_OUT));

    CDB_ATOM_OTERM* r2 = register_behind(run, "n2", reg);
    ASSERT_NE(r2, nullptr);
    EXPECT_EQ(r2->get_my_node(), run.node("r2"));
    EXPECT_TRUE(reg.clear_low);
    // Through an inverter the cell must give 1 for the register's 0.
    CDB_ATOM_OTERM* r3 = register_behind(run, "n3", reg);
    ASSERT_NE(r3, nullptr);
    EXPECT_FALSE(reg.clear_low);
    // So must a cell whose register reads it complemented.
    run.input_of("r1", DB_DATAIN)->set_invert();
    ASSERT_NE(register_behind(run, "n1", reg), nullptr);
    EXPECT_FALSE(reg.clear_low);
}

TEST(RetimingRefLeaf, FindsNoRegisterThatMayNotMove)
{
    LEAF_RUN run(read_blif(k_small));
    RETIME_REG reg;
    // An output pin and a LUT are no registers.
    EXPECT_EQ(run.leaf().backward_push_get_reg(run.input_of("nand", DB_DATA_A), reg, true), nullptr);
    // A register that feeds its own enable.
    CDB_ATOM_NODE* r1 = run.node("r1");
    CDB_ATOM_ITERM* ena = r1->add_input_term(DB_CLOCK_ENABLE);
    r1->get_output_term_by_type(DB_REG_OUT)->insert_fanout(ena);
    EXPECT_EQ(register_behind(run, "n1", reg), nullptr);
    ena->disconnect_from_source(CDB_NET_ITERM::UNCONNECTED);
    EXPECT_NE(register_behind(run, "n1", reg), nullptr);
    // A register whose synchronous load is driven or tied high.
    CDB_ATOM_ITERM* sload = r1->add_input_term(DB_SYNCH_LOAD);
    run.node("a")->get_output_term_by_type(DB_DATA_OUT)->insert_fanout(sload);
    EXPECT_EQ(register_behind(run, "n1", reg), nullptr);
    sload->disconnect_from_source(CDB_NET_ITERM::UNCONNECTED);
    sload->set_logical_vcc();
    EXPECT_EQ(register_behind(run, "n1", reg), nullptr);
    sload->set_logical_gnd();
    EXPECT_NE(register_behind(run, "n1", reg), nullptr);
    // A wire LUT with a second fanout hides its register.
    CDB_ATOM_OTERM* w2 = run.node("w2")->get_output_term_by_type(DB_COMB_OUT);
    w2->insert_fanout(run.node("r3")->add_input_term(DB_CLOCK_ENABLE));
    EXPECT_EQ(register_behind(run, "n2", reg), nullptr);
}

TEST(RetimingRefLeaf, SearchesTheFewestOnesThatGiveThePowerUpValue)
{
    LEAF_RUN run(read_blif(k_small));
    RETIMING_REF_LEAF& leaf = run.leaf();
    RETIME_REG reg;
    bool carry = true, share = true;
    // AND for 0: all inputs at 0; for 1: both at 1.
    ASSERT_NE(register_behind(run, "n1", reg), nullptr);
    leaf.begin_push();
    ASSERT_TRUE(leaf.create_input_registers(run.node("n1"), reg, carry, share));
    ASSERT_EQ(leaf.planned_input_registers().size(), 2u);
    for (const RETIME_ITERM& e : leaf.planned_input_registers()) EXPECT_TRUE(e.reg.clear_low);
    reg.clear_low = false;
    leaf.begin_push();
    ASSERT_TRUE(leaf.create_input_registers(run.node("n1"), reg, carry, share));
    for (const RETIME_ITERM& e : leaf.planned_input_registers()) EXPECT_FALSE(e.reg.clear_low);
    // a AND NOT c for 1: a at 1, c stays at 0.
    leaf.begin_push();
    ASSERT_TRUE(leaf.create_input_registers(run.node("n2"), reg, carry, share));
    for (const RETIME_ITERM& e : leaf.planned_input_registers())
        EXPECT_EQ(e.reg.clear_low, e.iterm->get_source()->get_my_node() != run.node("a"));
    // An input tied high gets a register when it must read 0 (the all-zero
    // combination comes first) and none when it may read 1.
    CDB_ATOM_ITERM* b = run.input_of("n1", DB_DATA_B);
    b->disconnect_from_source(CDB_NET_ITERM::UNCONNECTED);
    b->set_logical_vcc();
    reg.clear_low = true;
    leaf.begin_push();
    ASSERT_TRUE(leaf.create_input_registers(run.node("n1"), reg, carry, share));
    ASSERT_EQ(leaf.planned_input_registers().size(), 2u);
    for (const RETIME_ITERM& e : leaf.planned_input_registers()) EXPECT_TRUE(e.reg.clear_low);
    reg.clear_low = false;
    leaf.begin_push();
    ASSERT_TRUE(leaf.create_input_registers(run.node("n1"), reg, carry, share));
    ASSERT_EQ(leaf.planned_input_registers().size(), 1u);
    EXPECT_EQ(leaf.planned_input_registers().begin()->iterm, run.input_of("n1", DB_DATA_A));
    EXPECT_FALSE(leaf.planned_input_registers().begin()->reg.clear_low);
    // A cell that cannot give the value refuses the push.
    run.node("n1")->set_lutmask(blif_family_lutmask(CDB_FAMILY_BRK, 2, 0x0));
    leaf.begin_push();
    EXPECT_FALSE(leaf.create_input_registers(run.node("n1"), reg, carry, share));
}

TEST(RetimingRefLeaf, CollectsTheRegistersOfAForwardPushAndTheirOutputValue)
{
    LEAF_RUN run(read_blif(k_small));
    RETIMING_REF_LEAF& leaf = run.leaf();
    leaf.set_backwards(false);
    leaf.begin_push();
    RETIME_REG reg;
    ASSERT_TRUE(leaf.get_input_register(run.input_of("nand", DB_DATA_A), reg));
    ASSERT_TRUE(leaf.get_input_register(run.input_of("nand", DB_DATA_B), reg));
    EXPECT_EQ(leaf.consumed_registers().size(), 2u);
    EXPECT_TRUE(leaf.consumed_registers().contains(run.node("q1")));
    EXPECT_EQ(leaf.terms_to_disconnect().size(), 2u);
    bool carry = true, share = true;
    // NAND of two zeros is 1.
    ASSERT_TRUE(leaf.create_output_registers(run.node("nand"), reg, carry, share));
    ASSERT_EQ(leaf.planned_output_registers().size(), 1u);
    EXPECT_FALSE(leaf.planned_output_registers().begin()->second.clear_low);
    // Read complemented, one input is 1 at power-up: NAND still 1; both: 0.
    run.input_of("nand", DB_DATA_A)->set_invert();
    run.input_of("nand", DB_DATA_B)->set_invert();
    leaf.begin_push();
    ASSERT_TRUE(leaf.create_output_registers(run.node("nand"), reg, carry, share));
    EXPECT_TRUE(leaf.planned_output_registers().begin()->second.clear_low);
    // A LUT output and a constant register input are no candidates.
    EXPECT_FALSE(leaf.get_input_register(run.input_of("w2", DB_DATA_A), reg));
    CDB_ATOM_ITERM* d = run.input_of("q1", DB_DATAIN);
    d->disconnect_from_source(CDB_NET_ITERM::UNCONNECTED);
    d->set_logical_vcc();
    EXPECT_FALSE(leaf.is_forward_push_candidate(run.input_of("nand", DB_DATA_A)));
}

namespace {

// A backward push made by hand through the leaf's hooks, in the engine's
// commit order: every fanout of the cell must be a register of one group
// (the engine's rule); false when the leaf or the rule refuses it.
bool push_back_by_hand(LEAF_RUN& run, CDB_ATOM_NODE* cell)
{
    RETIMING_REF_LEAF& leaf = run.leaf();
    leaf.set_backwards(true);
    leaf.begin_push();
    CDB_ATOM_OTERM* comb = cell->get_output_term_by_type(DB_COMB_OUT);
    if (comb == nullptr || !comb->has_fanout() || !leaf.is_push_allowed(cell)) return false;
    RETIME_REG reg, cur;
    std::vector<CDB_ATOM_NODE*> registers;
    for (auto it = comb->begin_iterm_fanout(); it != comb->end_iterm_fanout(); ++it) {
        CDB_ATOM_OTERM* regout = leaf.backward_push_get_reg(*it, registers.empty() ? reg : cur, true);
        if (regout == nullptr) return false;
        if (!registers.empty() && (!leaf.is_register_compatible(reg, cur) || reg.clear_low != cur.clear_low))
            return false;
        registers.push_back(regout->get_my_node());
    }
    bool carry = true, share = true;
    if (!leaf.create_input_registers(cell, reg, carry, share)) return false;
    const RETIME_ITERM_SET planned = leaf.planned_input_registers();
    for (CDB_ATOM_NODE* r : registers) leaf.remove_register(r);
    for (const RETIME_ITERM& e : planned) leaf.insert_register(e);
    return true;
}

bool push_forward_by_hand(LEAF_RUN& run, CDB_ATOM_NODE* cell)
{
    RETIMING_REF_LEAF& leaf = run.leaf();
    leaf.set_backwards(false);
    leaf.begin_push();
    RETIME_REG reg, cur;
    int connected = 0;
    for (int port = DB_DATA_A; port <= DB_DATA_G; ++port) {
        CDB_ATOM_ITERM* t = cell->get_input_term_by_type(port);
        if (t == nullptr || !t->is_connected()) continue;
        if (!leaf.get_input_register(t, connected == 0 ? reg : cur)) return false;
        // The engine's rule: one group of equivalent registers moves.
        if (connected++ > 0 && !leaf.is_register_compatible(reg, cur)) return false;
    }
    bool carry = true, share = true;
    if (connected == 0 || !leaf.is_push_allowed(cell) || !leaf.create_output_registers(cell, reg, carry, share))
        return false;
    const auto terms = leaf.terms_to_disconnect();
    const auto outputs = leaf.planned_output_registers();
    for (CDB_ATOM_ITERM* t : terms) leaf.disconnect_register(t);
    for (const auto& [oterm, out] : outputs) leaf.add_register_on_output(oterm, out);
    return true;
}

int netlist_count()
{
    return k_small_designs_only ? 6 : 40;
}

}  // namespace

TEST(RetimingRefLeaf, PushesMadeThroughItsEditsKeepGeneratedNetlistsEquivalent)
{
    if (!abc_is_available()) GTEST_SKIP() << "berkeley-abc is not installed";
    int backward = 0, forward = 0, inverters = 0;
    // Generated netlists, then the pipeline design, whose sums feed one register each.
    for (int k = 0; k <= netlist_count(); ++k) {
        const uint64_t seed = 4000 + static_cast<uint64_t>(k);
        SEQ_GEN_OPTIONS o;
        o.m_chains = false;
        o.m_cells = 10 + k % 6;
        o.m_registers = 5 + k % 4;
        const std::string design = std::string(MORV_SOURCE_DIR) + "/designs/pipeline.blif";
        auto make = [&] {
            return k < netlist_count() ? seq_generate(o, seed) : BLIF_READER(CDB_FAMILY_BRK).read_file(design);
        };
        std::unique_ptr<CDB_ATOM_NETLIST> before = make();
        LEAF_RUN run(make());
        std::vector<CDB_ATOM_NODE*> cells(run.netlist().begin(), run.netlist().end());
        for (CDB_ATOM_NODE* cell : cells) {
            if (!cell->is_lcell_comb()) continue;
            if (push_back_by_hand(run, cell)) ++backward;
            else if (push_forward_by_hand(run, cell)) ++forward;
        }
        inverters += run.leaf().counts().inverters;
        const SEQ_VERDICT v = seq_check(*before, run.netlist(), "leaf_" + std::to_string(seed), true, 300, seed);
        ASSERT_TRUE(v.equivalent()) << "seed " << seed << ": " << v.describe();
    }
    EXPECT_GT(backward, 0);
    EXPECT_GT(forward, 0);
    // Some pushes had to make a register power up to 1.
    EXPECT_GT(inverters, 0);
}

TEST(RetimingRefLeaf, RemovingARegisterWithoutFanoutOnlyFreesItsControls)
{
    LEAF_RUN run(read_blif(k_small));
    CDB_ATOM_NODE* r1 = run.node("r1");
    CDB_ATOM_OTERM* out = r1->get_output_term_by_type(DB_REG_OUT);
    std::vector<CDB_ATOM_ITERM*> sinks;
    for (auto it = out->begin_iterm_fanout(); it != out->end_iterm_fanout(); ++it) sinks.push_back(*it);
    for (CDB_ATOM_ITERM* t : sinks) t->disconnect_from_source(CDB_NET_ITERM::UNCONNECTED);
    run.leaf().remove_register(r1);
    EXPECT_FALSE(run.util()->is_connected(r1, DB_CLOCK));
    EXPECT_TRUE(run.util()->is_connected(r1, DB_DATAIN));
    EXPECT_TRUE(run.leaf().registers_to_check().empty());
}

TEST(RetimingRefLeaf, UnitDelaySlacksMarkTheDeepestPathCritical)
{
    LEAF_RUN run(read_blif(k_small));
    EXPECT_EQ(deepest_lut_path(run.netlist()), 2);
}

}  // namespace retiming_ref_leaf_test
