#include <gtest/gtest.h>

#include <random>

#include "net_util_fixture.h"

namespace morv_net_util_eval_test {

namespace {

class NetUtilEvaluateTest : public MORV_CLEAN_STATE_TEST
{
protected:
    std::mt19937_64 m_random{20240611};
};

// The input values of row r: bit k of r is position k.
void row_values(unsigned row, unsigned* in)
{
    for (int k = 0; k < MORV_EVALUATE_INPUT_COUNT; ++k) in[k] = (row >> k) & 1u;
}

typedef unsigned (MORV_NET_UTIL::*EVALUATE)(CDB_ATOM_NODE*, const unsigned*) const;

// Compares one output against the host's evaluator over every input vector.
void expect_same_as_host(MORV_NET_UTIL* util, CDB_ATOM_NODE* node, int output, EVALUATE evaluate)
{
    unsigned in[MORV_EVALUATE_INPUT_COUNT];
    for (unsigned row = 0; row < (1u << MORV_EVALUATE_INPUT_COUNT); ++row) {
        row_values(row, in);
        ASSERT_EQ((util->*evaluate)(node, in), node->evaluate_output(output, in))
            << "family " << node->get_family() << " output " << output << " row " << row;
    }
}

const EVALUATE kComb = &MORV_NET_UTIL::evaluate_comb_out;
const EVALUATE kSum = &MORV_NET_UTIL::evaluate_sum_out;
const EVALUATE kCarry = &MORV_NET_UTIL::evaluate_carry_out;
const EVALUATE kShare = &MORV_NET_UTIL::evaluate_share_out;

TEST_F(NetUtilEvaluateTest, SixInputCellsMatchTheHostInEveryMode)
{
    for (int family : {CDB_FAMILY_BRK, CDB_FAMILY_MRL, CDB_FAMILY_KESTLIN, CDB_FAMILY_RZK, CDB_FAMILY_OBRAN}) {
        NET_UTIL_NETLIST n(family);
        MORV_NET_UTIL* u = n.util();
        for (int trial = 0; trial < 8; ++trial) {
            CDB_ATOM_NODE* normal = n.atom(CDB_KIND_LCELL_COMB, numbered("normal", trial));
            normal->set_lutmask(CDB_LUTMASK(6, m_random()));
            n.load(normal, DB_COMB_OUT);
            expect_same_as_host(u, normal, DB_COMB_OUT, kComb);

            CDB_ATOM_NODE* extended = n.atom(CDB_KIND_LCELL_COMB, numbered("extended", trial));
            extended->set_lutmask(CDB_LUTMASK(6, m_random()));
            n.drive(extended, DB_DATA_G);
            n.load(extended, DB_COMB_OUT);
            ASSERT_TRUE(u->is_in_extended_mode(extended));
            expect_same_as_host(u, extended, DB_COMB_OUT, kComb);

            for (bool share_in : {false, true}) {
                CDB_ATOM_NODE* adder = n.atom(CDB_KIND_LCELL_COMB, numbered(share_in ? "shared" : "adder", trial));
                adder->set_sum_lutmask(CDB_LUTMASK(5, m_random()));
                for (int out : {DB_SUM_OUT, DB_CARRY_OUT, DB_SHARE_OUT}) n.load(adder, out);
                if (share_in) n.drive(adder, DB_SHARE_IN);
                expect_same_as_host(u, adder, DB_SUM_OUT, kSum);
                expect_same_as_host(u, adder, DB_CARRY_OUT, kCarry);
                expect_same_as_host(u, adder, DB_SHARE_OUT, kShare);
            }
        }
    }
}

TEST_F(NetUtilEvaluateTest, FourInputCellsMatchTheHostWithAndWithoutTheThirdInput)
{
    for (int family : {CDB_FAMILY_TEV, CDB_FAMILY_ZEPLA, CDB_FAMILY_UVO}) {
        NET_UTIL_NETLIST n(family);
        MORV_NET_UTIL* u = n.util();
        // The flag that swaps DB_DATA_C for the carry-in as third LUT variable.
        const int flag = family == CDB_FAMILY_UVO ? CDB_ATOM_BIT_LUTMASK_FLAG : CDB_ATOM_BIT_FOUR_INPUT_COMB;
        for (int trial = 0; trial < 8; ++trial) {
            CDB_ATOM_NODE* cell = n.atom(CDB_KIND_LCELL_COMB, numbered("cell", trial));
            cell->set_lutmask(CDB_LUTMASK(4, m_random()));
            cell->set_carry_lutmask(CDB_LUTMASK(4, m_random()));
            n.load(cell, DB_COMB_OUT);
            n.load(cell, DB_CARRY_OUT);
            if (trial % 2 == 0) cell->set_bit(flag);
            else cell->clear_bit(flag);
            expect_same_as_host(u, cell, DB_COMB_OUT, kComb);
            expect_same_as_host(u, cell, DB_CARRY_OUT, kCarry);
        }
    }
    // A UVO cell whose LUT only feeds its register evaluates through the reg-out.
    NET_UTIL_NETLIST uvo(CDB_FAMILY_UVO);
    CDB_ATOM_NODE* cell = uvo.atom(CDB_KIND_LCELL_COMB, "registered");
    cell->set_lutmask(CDB_LUTMASK(4, 0x6996));
    uvo.load(cell, DB_REG_OUT);
    unsigned in[MORV_EVALUATE_INPUT_COUNT] = {1, 0, 0, 0};
    EXPECT_EQ(uvo.util()->evaluate_comb_out(cell, in), cell->evaluate_output(DB_REG_OUT, in));
}

TEST_F(NetUtilEvaluateTest, BitOrderAndAdderEdgeCases)
{
    // Mask 1: the reversed order sets the row of all ones, the direct order the row of all zeros.
    NET_UTIL_NETLIST brk(CDB_FAMILY_BRK);
    NET_UTIL_NETLIST mrl(CDB_FAMILY_MRL);
    CDB_ATOM_NODE* b = brk.atom(CDB_KIND_LCELL_COMB, "b");
    CDB_ATOM_NODE* m = mrl.atom(CDB_KIND_LCELL_COMB, "m");
    for (CDB_ATOM_NODE* node : {b, m}) node->set_lutmask(CDB_LUTMASK(6, 1));
    brk.load(b, DB_COMB_OUT);
    mrl.load(m, DB_COMB_OUT);
    const MORV_PORT_VALUES ones{{DB_DATA_A, 1}, {DB_DATA_B, 1}, {DB_DATA_C, 1},
                                {DB_DATA_D, 1}, {DB_DATA_E, 1}, {DB_DATA_F, 1}};
    const MORV_PORT_VALUES zeros{};
    EXPECT_EQ(brk.util()->evaluate_comb_out(b, ones), 1u);
    EXPECT_EQ(brk.util()->evaluate_comb_out(b, zeros), 0u);
    EXPECT_EQ(mrl.util()->evaluate_comb_out(m, ones), 0u);
    EXPECT_EQ(mrl.util()->evaluate_comb_out(m, zeros), 1u);

    // Adder with mask 0 and no share-in: the complemented upper operand is 1.
    CDB_ATOM_NODE* adder = brk.atom(CDB_KIND_LCELL_COMB, "adder");
    brk.load(adder, DB_SUM_OUT);
    brk.load(adder, DB_CARRY_OUT);
    EXPECT_EQ(brk.util()->evaluate_sum_out(adder, MORV_PORT_VALUES{{DB_CARRY_IN, 0}}), 1u);
    EXPECT_EQ(brk.util()->evaluate_carry_out(adder, MORV_PORT_VALUES{{DB_CARRY_IN, 0}}), 0u);
    EXPECT_EQ(brk.util()->evaluate_sum_out(adder, MORV_PORT_VALUES{{DB_CARRY_IN, 1}}), 0u);
    EXPECT_EQ(brk.util()->evaluate_carry_out(adder, MORV_PORT_VALUES{{DB_CARRY_IN, 1}}), 1u);

    // An output that drives nothing has no value.
    CDB_ATOM_NODE* idle = brk.atom(CDB_KIND_LCELL_COMB, "idle");
    idle->add_output_term(DB_COMB_OUT);
    EXPECT_EQ(brk.util()->evaluate_comb_out(idle, zeros), MORV_NO_LUT_VALUE);
    EXPECT_EQ(brk.util()->evaluate_share_out(idle, zeros), MORV_NO_LUT_VALUE);
    EXPECT_EQ(internal_error_of([&] {
                  brk.util()->evaluate_comb_out(idle, MORV_PORT_VALUES{{DB_CLOCK, 1}});
              }),
              "Not an input of a LUT evaluation");
}

TEST_F(NetUtilEvaluateTest, MaskGettersPickTheOutputThatIsUsed)
{
    // A BRK arithmetic cell whose comb-out is used too answers its own mask,
    // MRL answers the spread adder mask. The adder halves are bits 0..15 and
    // 32..47 of the cell's one mask.
    for (int family : {CDB_FAMILY_BRK, CDB_FAMILY_MRL}) {
        NET_UTIL_NETLIST n(family);
        CDB_ATOM_NODE* cell = n.atom(CDB_KIND_LCELL_COMB, "cell");
        cell->set_lutmask(CDB_LUTMASK(6, 0x123456789ABCDEF0ull));
        cell->set_sum_lutmask(CDB_LUTMASK(5, 0xBEEFCAFEull));
        n.load(cell, DB_SUM_OUT);
        EXPECT_EQ(n.util()->get_lutmask(cell), 0x0000BEEF0000CAFEull) << family;
        n.load(cell, DB_COMB_OUT);
        EXPECT_EQ(n.util()->get_lutmask(cell),
                  family == CDB_FAMILY_BRK ? 0x1234BEEF9ABCCAFEull : 0x0000BEEF0000CAFEull);
        // Only the share-out used: MRL too answers the whole mask.
        CDB_ATOM_NODE* share = n.atom(CDB_KIND_LCELL_COMB, "share");
        share->set_lutmask(CDB_LUTMASK(6, 0x123456789ABCDEF0ull));
        n.load(share, DB_SHARE_OUT);
        EXPECT_EQ(n.util()->get_lutmask(share), 0x123456789ABCDEF0ull) << family;
    }
    // The adder mask is read through the editing interface, which refuses a 4-input cell.
    NET_UTIL_NETLIST mrl(CDB_FAMILY_MRL);
    CDB_ATOM_NODE* alien = cdb_create_atom(CDB_FAMILY_TEV, CDB_KIND_LCELL_COMB, nullptr);
    mrl.netlist()->add_node(alien);
    mrl.load(alien, DB_SUM_OUT);
    EXPECT_EQ(internal_error_of([&] { mrl.util()->get_lutmask(alien); }), "Function called for an illegal family");
    // 4-input cells: a comb-out without fanout has no function.
    NET_UTIL_NETLIST tev(CDB_FAMILY_TEV);
    CDB_ATOM_NODE* cell = tev.atom(CDB_KIND_LCELL_COMB, "cell");
    cell->set_lutmask(CDB_LUTMASK(4, 0x8888));
    cell->set_carry_lutmask(CDB_LUTMASK(4, 0xE8));
    cell->add_output_term(DB_CARRY_OUT);
    EXPECT_EQ(tev.util()->get_lutmask(cell), 0xE8u);  // no comb-out: the carry mask
    cell->add_output_term(DB_COMB_OUT);
    EXPECT_EQ(tev.util()->get_lutmask(cell), 0u);
    tev.load(cell, DB_COMB_OUT);
    EXPECT_EQ(tev.util()->get_lutmask(cell), 0x8888u);
    EXPECT_EQ(tev.util()->get_carry_lutmask(cell), 0xE8u);
    // UVO: the register cascade leaves the reg-out without a LUT function.
    NET_UTIL_NETLIST uvo(CDB_FAMILY_UVO);
    CDB_ATOM_NODE* u = uvo.atom(CDB_KIND_LCELL_COMB, "u");
    u->set_lutmask(CDB_LUTMASK(4, 0x00FF));
    u->add_output_term(DB_REG_OUT);
    EXPECT_EQ(uvo.util()->get_lcell_lutmask(u), 0x00FFu);
    uvo.drive(u, DB_REG_CASCADE_IN);
    EXPECT_EQ(uvo.util()->get_lcell_lutmask(u), 0u);
    EXPECT_EQ(uvo.util()->get_lutmask(u), 0x00FFu);
}

}  // namespace

}  // namespace morv_net_util_eval_test
