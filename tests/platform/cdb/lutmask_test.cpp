#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "cdb/cdb_atom_netlist.h"

namespace lutmask_test {

namespace {

// Reference: evaluate a mask as a function of its inputs.
bool row_value(const CDB_LUTMASK& m, unsigned row)
{
    return m.get_bit(static_cast<int>(row));
}

TEST(CdbLutmask, SetValueKeepsOnlyTheRowsOfTheInputCount)
{
    CDB_LUTMASK m(4, 0xffffffffffffffffull);
    EXPECT_EQ(m.get_value(), 0xffffu);
    EXPECT_TRUE(m.is_vcc());
    EXPECT_EQ(CDB_LUTMASK(6, ~0ull).get_value(), ~0ull);
    EXPECT_EQ(CDB_LUTMASK::full_mask(2), 0xfu);
}

TEST(CdbLutmask, MirrorReversesRowsAndIsAnInvolution)
{
    CDB_LUTMASK m(4, 0x0001);
    m.mirror_mask();
    EXPECT_EQ(m.get_value(), 0x8000u);
    CDB_LUTMASK r(6, 0x0123456789abcdefull);
    CDB_LUTMASK copy = r;
    r.mirror_mask();
    for (unsigned k = 0; k < 64; ++k) EXPECT_EQ(r.get_bit(k), copy.get_bit(63 - k));
    r.mirror_mask();
    EXPECT_EQ(r, copy);
}

TEST(CdbLutmask, InvertInputComplementsThatInputOnly)
{
    // f = a AND NOT b over 3 inputs.
    CDB_LUTMASK m(3, 0);
    for (unsigned r = 0; r < 8; ++r) m.set_bit(r, (r & 1) && !(r & 2));
    CDB_LUTMASK g = m;
    g.invert_input(1);  // g = a AND b
    for (unsigned r = 0; r < 8; ++r) EXPECT_EQ(row_value(g, r), (r & 1) && (r & 2)) << r;
    g.invert_input(1);
    EXPECT_EQ(g, m);
}

TEST(CdbLutmask, SwitchInputsExchangesVariables)
{
    // f = a AND NOT c over 3 inputs; switching a and c gives c AND NOT a.
    CDB_LUTMASK m(3, 0);
    for (unsigned r = 0; r < 8; ++r) m.set_bit(r, (r & 1) && !(r & 4));
    m.switch_inputs(0, 2);
    for (unsigned r = 0; r < 8; ++r) EXPECT_EQ(row_value(m, r), (r & 4) && !(r & 1)) << r;
}

TEST(CdbLutmask, WireIndependenceAndComplement)
{
    CDB_LUTMASK wire_c(4, 0xf0f0);  // rows with bit 2 set
    int which = -1;
    EXPECT_TRUE(wire_c.is_wire(&which));
    EXPECT_EQ(which, 2);
    EXPECT_FALSE((~wire_c).is_wire());  // an inverter is not a wire
    EXPECT_TRUE(wire_c.is_independent_of(0));
    EXPECT_TRUE(wire_c.is_independent_of(3));
    EXPECT_FALSE(wire_c.is_independent_of(2));
    EXPECT_EQ((~wire_c).get_value(), 0x0f0fu);
    EXPECT_NE(wire_c, ~wire_c);
    EXPECT_FALSE(CDB_LUTMASK(4, 0x8888).is_wire());  // a AND b... depends on two inputs
}

TEST(CdbLutmask, CofactorFixesOneInputAndKeepsTheOthers)
{
    // f = (a AND b) OR c over 3 inputs: a = 1 gives b OR c, a = 0 gives c.
    CDB_LUTMASK m(3, 0);
    for (unsigned r = 0; r < 8; ++r) m.set_bit(r, ((r & 1) && (r & 2)) || (r & 4));
    const CDB_LUTMASK high = m.cofactor(0, true);
    const CDB_LUTMASK low = m.cofactor(0, false);
    for (unsigned r = 0; r < 8; ++r) {
        EXPECT_EQ(row_value(high, r), (r & 2) || (r & 4)) << r;
        EXPECT_EQ(row_value(low, r), (r & 4) != 0) << r;
    }
    EXPECT_EQ(high.get_num_inputs(), 3);
    EXPECT_TRUE(high.is_independent_of(0));
    EXPECT_EQ(CDB_LUTMASK(6, ~0ull).cofactor(5, false), CDB_LUTMASK(6, ~0ull));
    // An input the mask does not have leaves it as it is.
    EXPECT_EQ(m.cofactor(3, true), m);
    EXPECT_EQ(m.cofactor(-1, false), m);
}

// ------------------------------------------------------------------ evaluation in both bit orders

struct CELL_FIXTURE
{
    HDB_NAME_MGR names;
    CDB_ATOM_NETLIST netlist;
    CDB_ATOM_NODE* make(int family)
    {
        CDB_ATOM_NODE* n = cdb_create_atom(family, CDB_KIND_LCELL_COMB, nullptr);
        netlist.add_node(n);
        return n;
    }
};

TEST(CdbEvaluate, SixInputNormalModeReadsBitKForMrlAndBit63MinusKForBrk)
{
    CELL_FIXTURE f;
    const uint64_t mask = 0x0000000000000002ull;   // only bit 1
    unsigned in[9] = {1, 0, 0, 0, 0, 0, 0, 0, 0};  // row 1: a = 1
    for (int fam : {CDB_FAMILY_BRK, CDB_FAMILY_KESTLIN, CDB_FAMILY_RZK, CDB_FAMILY_OBRAN, CDB_FAMILY_MRL}) {
        CDB_ATOM_NODE* n = f.make(fam);
        n->set_lutmask(CDB_LUTMASK(6, mask));
        bool reversed = fam != CDB_FAMILY_MRL;
        EXPECT_EQ(n->evaluate_output(DB_COMB_OUT, in), reversed ? 0u : 1u) << fam;
        unsigned in62[9] = {0, 1, 1, 1, 1, 1, 0, 0, 0};  // row 62 = 63 - 1
        EXPECT_EQ(n->evaluate_output(DB_COMB_OUT, in62), reversed ? 1u : 0u) << fam;
        // A mirrored mask gives the other order's answer.
        CDB_LUTMASK m(6, mask);
        m.mirror_mask();
        n->set_lutmask(m);
        EXPECT_EQ(n->evaluate_output(DB_COMB_OUT, in), reversed ? 1u : 0u) << fam;
    }
}

TEST(CdbEvaluate, ExtendedModeSelectsQuarterAndThirdInputPerFamily)
{
    CELL_FIXTURE f;
    CDB_ATOM_NODE* brk = f.make(CDB_FAMILY_BRK);
    CDB_ATOM_NODE* mrl = f.make(CDB_FAMILY_MRL);
    CDB_ATOM_NODE* drv = cdb_create_atom(CDB_FAMILY_BRK, CDB_KIND_IO, nullptr);
    f.netlist.add_node(drv);
    CDB_ATOM_OTERM* o = drv->add_output_term(DB_DATA_OUT);
    for (CDB_ATOM_NODE* n : {brk, mrl}) o->insert_fanout(n->add_input_term(DB_DATA_G));
    ASSERT_TRUE(brk->is_in_extended_mode());
    // e = 1, f = 0, a = 1, c = 1 (kd = 5), g = 0 (kg = 1).
    unsigned in[9] = {1, 0, 1, 0, 1, 0, 0, 0, 0};
    // BRK: quarter 3 - (0 + 1) = 2, index 15 - kd = 10 -> bit 42.
    brk->set_lutmask(CDB_LUTMASK(6, 1ull << 42));
    EXPECT_EQ(brk->evaluate_output(DB_COMB_OUT, in), 1u);
    // MRL: quarter 2f + e = 1, e = 1 takes kg = 1 -> bit 17.
    mrl->set_lutmask(CDB_LUTMASK(6, 1ull << 17));
    EXPECT_EQ(mrl->evaluate_output(DB_COMB_OUT, in), 1u);
    mrl->set_lutmask(CDB_LUTMASK(6, 1ull << 21));  // kd would be wrong for MRL here
    EXPECT_EQ(mrl->evaluate_output(DB_COMB_OUT, in), 0u);
}

TEST(CdbEvaluate, SumAndCarryWithAndWithoutShareIn)
{
    CELL_FIXTURE f;
    CDB_ATOM_NODE* n = f.make(CDB_FAMILY_MRL);
    // Low half: L = a; upper half all ones, so (1 - H) = 0: a full adder of a and carry in.
    n->set_sum_lutmask(CDB_LUTMASK(5, 0xffff0000u | 0xaaaau));
    for (unsigned a = 0; a < 2; ++a)
        for (unsigned cin = 0; cin < 2; ++cin) {
            unsigned in[9] = {a, 0, 0, 0, 0, 0, 0, cin, 0};
            EXPECT_EQ(n->evaluate_output(DB_SUM_OUT, in), (a + cin) & 1u);
            EXPECT_EQ(n->evaluate_output(DB_CARRY_OUT, in), (a + cin) >= 2 ? 1u : 0u);
        }
    // With share in connected, the share value replaces the upper-half term.
    CDB_ATOM_NODE* drv = cdb_create_atom(CDB_FAMILY_MRL, CDB_KIND_IO, nullptr);
    f.netlist.add_node(drv);
    drv->add_output_term(DB_DATA_OUT)->insert_fanout(n->add_input_term(DB_SHARE_IN));
    unsigned in[9] = {1, 0, 0, 0, 0, 0, 0, 1, 1};
    EXPECT_EQ(n->evaluate_output(DB_SUM_OUT, in), 1u);  // 1 + 1 + 1
    EXPECT_EQ(n->evaluate_output(DB_CARRY_OUT, in), 1u);
    // BRK reads each half at 15 - k: share out of row 0 is bit 15 of the upper half.
    CDB_ATOM_NODE* b = f.make(CDB_FAMILY_BRK);
    b->set_sum_lutmask(CDB_LUTMASK(5, 0x80000000u));
    unsigned zero[9] = {};
    EXPECT_EQ(b->evaluate_output(DB_SHARE_OUT, zero), 1u);
}

// A 6-input combinational cell has one mask: the adder halves are its bits
// 0..15 and 32..47, what the comb-out reads around them stays.
TEST(CdbEvaluate, SixInputCellsKeepTheAdderHalvesInTheirOneMask)
{
    CELL_FIXTURE f;
    CDB_ATOM_NODE* n = f.make(CDB_FAMILY_BRK);
    n->set_lutmask(CDB_LUTMASK(6, 0x123456789ABCDEF0ull));
    n->set_sum_lutmask(CDB_LUTMASK(5, 0xBEEFCAFEull));
    EXPECT_EQ(n->get_lutmask(), CDB_LUTMASK(6, 0x1234BEEF9ABCCAFEull));
    EXPECT_EQ(n->get_adder_lutmask(), 0xBEEFCAFEull);
    EXPECT_EQ(n->get_adder_lutmask(false), 0x0000BEEF0000CAFEull) << "the halves where the mask holds them";
    EXPECT_EQ(n->get_output_lutmask(DB_SUM_OUT), CDB_LUTMASK(5, 0xBEEFCAFEull));
    EXPECT_EQ(n->get_output_lutmask(DB_SHARE_OUT), CDB_LUTMASK(5, 0xBEEFCAFEull));
    // A whole mask written later is the adder's too.
    n->set_lutmask(CDB_LUTMASK(6, 0x0000000100000002ull));
    EXPECT_EQ(n->get_adder_lutmask(), 0x00010002ull);
    CDB_ATOM_OTERM* sum = n->add_output_term(DB_SUM_OUT);
    sum->set_lutmask(CDB_LUTMASK(5, 0xFFFF0000ull));
    EXPECT_EQ(n->get_lutmask(), CDB_LUTMASK(6, 0x0000FFFF00000000ull));
    // Row 0 of the sum (no share-in, carry-in 0): L = 0 and 1 - H = 0.
    unsigned zero[9] = {};
    EXPECT_EQ(n->evaluate_output(DB_SUM_OUT, zero), 0u);
    // The MRL adder cell has no comb-out: its adder mask stands alone.
    CDB_ATOM_NODE* hs = cdb_create_atom(CDB_FAMILY_MRL, CDB_KIND_HSADDER, nullptr);
    f.netlist.add_node(hs);
    hs->set_lutmask(CDB_LUTMASK(4, 0x1234));
    hs->set_sum_lutmask(CDB_LUTMASK(5, 0xBEEFCAFEull));
    EXPECT_EQ(hs->get_lutmask(), CDB_LUTMASK(4, 0x1234));
    EXPECT_EQ(hs->get_adder_lutmask(), 0xBEEFCAFEull);
    EXPECT_EQ(hs->get_adder_lutmask(false), 0x0000BEEF0000CAFEull);
}

TEST(CdbEvaluate, FourInputCellsUseBit29AndUvoUsesBit28)
{
    CELL_FIXTURE f;
    CDB_ATOM_NODE* z = f.make(CDB_FAMILY_ZEPLA);
    ASSERT_TRUE(z->test_bit(29));             // factory: third input is datac
    z->set_lutmask(CDB_LUTMASK(4, 1u << 4));  // row c = 1
    unsigned c_only[9] = {0, 0, 1, 0, 0, 0, 0, 0, 0};
    unsigned cin_only[9] = {0, 0, 0, 0, 0, 0, 0, 1, 0};
    EXPECT_EQ(z->evaluate_output(DB_COMB_OUT, c_only), 1u);
    EXPECT_EQ(z->evaluate_output(DB_COMB_OUT, cin_only), 0u);
    z->clear_bit(29);
    EXPECT_EQ(z->evaluate_output(DB_COMB_OUT, cin_only), 1u);
    z->set_carry_lutmask(CDB_LUTMASK(4, 0x80));  // a & b & cin
    unsigned all[9] = {1, 1, 0, 0, 0, 0, 0, 1, 0};
    EXPECT_EQ(z->evaluate_output(DB_CARRY_OUT, all), 1u);
    // Back to an empty carry mask, and a mask again after that.
    z->set_carry_lutmask(CDB_LUTMASK(4, 0));
    EXPECT_EQ(z->get_carry_lutmask().get_value(), 0u);
    EXPECT_EQ(z->evaluate_output(DB_CARRY_OUT, all), 0u);
    z->set_carry_lutmask(CDB_LUTMASK(4, 0x80));
    EXPECT_EQ(z->get_carry_lutmask().get_value(), 0x80u);

    CDB_ATOM_NODE* u = f.make(CDB_FAMILY_UVO);
    EXPECT_TRUE(u->is_lcell());
    EXPECT_FALSE(u->is_lcell_comb() || u->is_ff() || u->is_lcell_ff());
    u->set_lutmask(CDB_LUTMASK(4, 1u << 4));
    EXPECT_EQ(u->evaluate_output(DB_REG_OUT, c_only), 1u);
    u->set_bit(28);
    EXPECT_EQ(u->evaluate_output(DB_COMB_OUT, cin_only), 1u);
    EXPECT_EQ(u->evaluate_output(DB_SUM_OUT, cin_only), 0xffffffffu);
}

TEST(CdbEvaluate, MaskDependingOnInputFCreatesTheInputOnce)
{
    CELL_FIXTURE f;
    CDB_ATOM_NODE* n = f.make(CDB_FAMILY_BRK);
    n->set_lutmask(CDB_LUTMASK(6, 0xffffffff00000000ull));  // independent of F in either order? no: depends on F
    CDB_ATOM_ITERM* fterm = n->get_input_term_by_type(DB_DATA_F);
    ASSERT_NE(fterm, nullptr);
    EXPECT_FALSE(fterm->is_connected());
    n->set_lutmask(CDB_LUTMASK(6, 0xffffffff00000000ull));
    int count = 0;
    for (auto it = n->begin_iterm(); it != n->end_iterm(); ++it) count += (*it)->is_used_as(DB_DATA_F);
    EXPECT_EQ(count, 1);
    CDB_ATOM_NODE* m = f.make(CDB_FAMILY_BRK);
    m->set_lutmask(CDB_LUTMASK(6, 0xaaaaaaaaaaaaaaaaull));
    EXPECT_EQ(m->get_input_term_by_type(DB_DATA_F), nullptr);
}

TEST(CdbRegisterSemantics, NextStateAndAsynchronousOverrides)
{
    CDB_REGISTER_INPUTS in;
    in.d = 1;
    EXPECT_EQ(cdb_register_next_state(in, 0), 1u);
    in.ena = 0;
    EXPECT_EQ(cdb_register_next_state(in, 0), 0u);  // holds
    EXPECT_EQ(cdb_register_next_state(in, 1), 1u);
    in.ena = 1;
    in.sload = 1;
    in.sdata = 0;
    EXPECT_EQ(cdb_register_next_state(in, 1), 0u);
    in.sdata = 1;
    in.sclr = 1;
    EXPECT_EQ(cdb_register_next_state(in, 1), 0u);  // clear wins over load
    unsigned v = 7;
    EXPECT_FALSE(cdb_register_async_value(in, &v));
    in.aload = 1;
    in.adata = 1;
    EXPECT_TRUE(cdb_register_async_value(in, &v));
    EXPECT_EQ(v, 1u);
    in.clr = 0;  // the clear acts at 0
    EXPECT_TRUE(cdb_register_async_value(in, &v));
    EXPECT_EQ(v, 0u);
    CDB_ATOM_NODE* r = cdb_create_atom(CDB_FAMILY_OBRAN, CDB_KIND_REGISTER, nullptr);
    EXPECT_TRUE(r->floats_high(DB_CLOCK_ENABLE));
    EXPECT_FALSE(r->floats_high(DB_SYNCH_CLEAR));
    EXPECT_TRUE(r->floats_high(DB_CLEAR));  // a missing clear is inactive
    EXPECT_TRUE(r->is_ff());
    EXPECT_EQ(r->get_mode(), DEV_PHYS_IMPL_REGISTER_MODE);
    delete r;
}

}  // namespace

// Registers and DSP clears act at 0 (a missing one floats high and never
// acts), RAM clears at 1 (a missing one floats low).
TEST(CdbRegisterSemantics, ClearRuleOfEachAtomKind)
{
    struct CASE
    {
        int family, kind, port;
        unsigned active;
    };
    const CASE cases[] = {
        {CDB_FAMILY_BRK, CDB_KIND_REGISTER, DB_CLEAR, 0u},  {CDB_FAMILY_RZK, CDB_KIND_REGISTER, DB_CLEAR, 0u},
        {CDB_FAMILY_UVO, CDB_KIND_UVO_LCELL, DB_CLEAR, 0u}, {CDB_FAMILY_BRK, CDB_KIND_MAC_MULT, DB_CLEAR, 0u},
        {CDB_FAMILY_BRK, CDB_KIND_MAC_OUT, DB_CLEAR, 0u},   {CDB_FAMILY_BRK, CDB_KIND_RAM, DB_RAM_CLR0, 1u},
        {CDB_FAMILY_BRK, CDB_KIND_RAM, DB_RAM_CLR1, 1u}};
    for (const CASE& c : cases) {
        SCOPED_TRACE("kind " + std::to_string(c.kind) + " port " + std::to_string(c.port));
        std::unique_ptr<CDB_ATOM_NODE> node(cdb_create_atom(c.family, c.kind, nullptr));
        ASSERT_NE(node, nullptr);
        EXPECT_EQ(cdb_clear_active_value(c.kind, c.port), c.active);
        EXPECT_TRUE(cdb_clear_acts(c.kind, c.port, c.active));
        EXPECT_FALSE(cdb_clear_acts(c.kind, c.port, 1u - c.active));
        EXPECT_EQ(node->floats_high(c.port), c.active == 0) << "a missing clear never acts";
    }
    EXPECT_EQ(cdb_clear_active_value(CDB_KIND_LCELL_COMB, DB_CLEAR), CDB_NOT_A_CLEAR);
    EXPECT_EQ(cdb_clear_active_value(CDB_KIND_RAM, DB_CLEAR), CDB_NOT_A_CLEAR);
    EXPECT_FALSE(cdb_clear_acts(CDB_KIND_LCELL_COMB, DB_CLEAR, 0));
    CDB_REGISTER_INPUTS in;  // every input at its floating value
    unsigned forced = 7;
    EXPECT_FALSE(cdb_register_async_value(in, &forced));
    EXPECT_EQ(cdb_register_next_state(in, 1), 0u);
}

// The shared adder adds A + B + carry-in and C + D + that carry: sum0, sum1
// and carry-out are the three bits of A + B + cin + 2 (C + D), whatever
// mask the cell holds; its carry slot reads the chain input.
TEST(CdbEvaluate, SharedAdderOutputsOverEveryInputRow)
{
    std::unique_ptr<CDB_ATOM_NODE> hs(cdb_create_atom(CDB_FAMILY_MRL, CDB_KIND_HSADDER, nullptr));
    hs->set_lutmask(CDB_LUTMASK(4, 0x1234));
    hs->set_sum_lutmask(CDB_LUTMASK(5, 0xBEEFCAFEull));
    for (unsigned r = 0; r < 32; ++r) {
        unsigned in[CDB_ATOM_NODE::EVALUATE_INPUT_COUNT] = {r & 1u, (r >> 1) & 1u, (r >> 2) & 1u, (r >> 3) & 1u};
        in[CDB_ATOM_NODE::EVALUATE_CARRY_SLOT] = (r >> 4) & 1u;
        const unsigned total = in[0] + in[1] + in[CDB_ATOM_NODE::EVALUATE_CARRY_SLOT] + 2 * (in[2] + in[3]);
        EXPECT_EQ(hs->evaluate_output(DB_HSADDER_SUM_0, in), total & 1u) << r;
        EXPECT_EQ(hs->evaluate_output(DB_HSADDER_SUM_1, in), (total >> 1) & 1u) << r;
        EXPECT_EQ(hs->evaluate_output(DB_CHAIN_OUT_0, in), total >> 2) << r;
        in[4] = in[5] = in[8] = 1;  // E, F and share-in are no inputs of the adder
        EXPECT_EQ(hs->evaluate_output(DB_HSADDER_SUM_0, in), total & 1u) << r;
    }
    unsigned zero[CDB_ATOM_NODE::EVALUATE_INPUT_COUNT] = {};
    EXPECT_EQ(hs->evaluate_output(DB_SUM_OUT, zero), CDB_ATOM_NODE::NO_LUT_VALUE);
    EXPECT_EQ(hs->get_evaluate_input_port(CDB_ATOM_NODE::EVALUATE_CARRY_SLOT), DB_CHAIN_IN_0);
    for (int port : {DB_DATA_A, DB_DATA_D, DB_CHAIN_IN_0, DB_CHAIN_IN_1}) EXPECT_TRUE(hs->implements(port)) << port;
    for (int port : {DB_DATA_E, DB_CARRY_IN, DB_SHARE_IN}) EXPECT_FALSE(hs->implements(port)) << port;
    for (int port : {DB_HSADDER_SUM_0, DB_HSADDER_SUM_1, DB_CHAIN_OUT_0}) EXPECT_TRUE(hs->implements_output(port));
    EXPECT_FALSE(hs->implements_output(DB_SUM_OUT));
    std::unique_ptr<CDB_ATOM_NODE> comb(cdb_create_atom(CDB_FAMILY_MRL, CDB_KIND_LCELL_COMB, nullptr));
    EXPECT_EQ(comb->get_evaluate_input_port(CDB_ATOM_NODE::EVALUATE_CARRY_SLOT), DB_CARRY_IN);
}

}  // namespace lutmask_test
