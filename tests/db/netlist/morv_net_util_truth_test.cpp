// Cell outputs against truth tables written out by hand from the cell
// descriptions (bit order per family, extended-mode quarters, adder halves
// with and without share-in), checked on the net utility and on the host's
// evaluator alike; and both evaluators against each other on arithmetic
// cells of every family in every combination of used outputs.

#include <gtest/gtest.h>

#include <functional>
#include <random>
#include <string>

#include "net_util_fixture.h"

namespace morv_net_util_truth_test {

namespace {

// Positions of the evaluation inputs.
enum POSITION
{
    A,
    B,
    C,
    D,
    E,
    F,
    G,
    CIN,
    SIN
};
constexpr unsigned kRows = 1u << MORV_EVALUATE_INPUT_COUNT;

// Whether the inputs match a pattern written from position a on: '0', '1',
// or '-' for either value.
bool matches(const unsigned* in, const char* pattern)
{
    for (int k = 0; pattern[k] != '\0'; ++k)
        if (pattern[k] != '-' && in[k] != static_cast<unsigned>(pattern[k] - '0')) return false;
    return true;
}

typedef unsigned (MORV_NET_UTIL::*EVALUATE)(CDB_ATOM_NODE*, const unsigned*) const;
typedef std::function<unsigned(const unsigned*)> EXPECTED;

struct OUTPUT
{
    int port;
    EVALUATE evaluate;
};
const OUTPUT kComb{DB_COMB_OUT, &MORV_NET_UTIL::evaluate_comb_out};
const OUTPUT kSum{DB_SUM_OUT, &MORV_NET_UTIL::evaluate_sum_out};
const OUTPUT kCarry{DB_CARRY_OUT, &MORV_NET_UTIL::evaluate_carry_out};
const OUTPUT kShare{DB_SHARE_OUT, &MORV_NET_UTIL::evaluate_share_out};

void row_values(unsigned row, unsigned* in)
{
    for (int k = 0; k < MORV_EVALUATE_INPUT_COUNT; ++k) in[k] = (row >> k) & 1u;
}

// Both evaluators give the expected value on every row.
void expect_table(MORV_NET_UTIL* util, CDB_ATOM_NODE* node, const OUTPUT& out, const EXPECTED& expected,
                  const std::string& what)
{
    unsigned in[MORV_EVALUATE_INPUT_COUNT];
    for (unsigned row = 0; row < kRows; ++row) {
        row_values(row, in);
        const unsigned want = expected(in);
        ASSERT_EQ((util->*out.evaluate)(node, in), want) << what << ": net utility, row " << row;
        ASSERT_EQ(node->evaluate_output(out.port, in), want) << what << ": host, row " << row;
    }
}

// The net utility equals the host on every row (and has no value for an unused output).
int count_rows_unlike_host(MORV_NET_UTIL* util, CDB_ATOM_NODE* node, const OUTPUT& out)
{
    unsigned in[MORV_EVALUATE_INPUT_COUNT];
    int differing = 0;
    for (unsigned row = 0; row < kRows; ++row) {
        row_values(row, in);
        differing += (util->*out.evaluate)(node, in) != node->evaluate_output(out.port, in) ? 1 : 0;
    }
    return differing;
}

bool reversed(int family)
{
    return family != CDB_FAMILY_MRL;
}

unsigned majority(unsigned x, unsigned y, unsigned z)
{
    return x + y + z >= 2 ? 1u : 0u;
}

class NetUtilTruthTest : public MORV_CLEAN_STATE_TEST
{
protected:
    std::mt19937_64 m_random{7};
};

// Normal mode: a reversed family reads the output of row k at bit 63 - k,
// MRL at bit k. Bits 62 and 7 are rows 1 and 56 in reverse, 62 and 7 direct.
TEST_F(NetUtilTruthTest, NormalModeBitOrderPerFamily)
{
    for (int family : kSixInputFamilies) {
        NET_UTIL_NETLIST n(family);
        CDB_ATOM_NODE* cell = n.atom(CDB_KIND_LCELL_COMB, "cell");
        cell->set_lutmask(CDB_LUTMASK(6, (1ull << 62) | (1ull << 7)));
        n.load(cell, DB_COMB_OUT);
        const char* row_62 = reversed(family) ? "100000" : "011111";
        const char* row_7 = reversed(family) ? "000111" : "111000";
        expect_table(
            n.util(), cell, kComb, [&](const unsigned* in) { return matches(in, row_62) || matches(in, row_7); },
            numbered("normal mode, family ", family));
    }
}

// Extended mode, one bit per quarter. Reversed: quarter 3 - (2f + e), index
// 15 - kd when e = 1 and 15 - kg when e = 0. MRL: quarter 2f + e, index kd
// when e = 0 and kg when e = 1.
TEST_F(NetUtilTruthTest, ExtendedModeQuartersAndTheGInput)
{
    for (int family : kSixInputFamilies) {
        NET_UTIL_NETLIST n(family);
        CDB_ATOM_NODE* cell = n.atom(CDB_KIND_LCELL_COMB, "cell");
        n.drive(cell, DB_DATA_G);
        n.load(cell, DB_COMB_OUT);
        // bit: the pattern over a b c d e f g that selects it.
        struct QUARTER_BIT
        {
            int bit;
            const char* pattern;
        };
        const QUARTER_BIT reverse_bits[] = {
            {3, "001111-"},   // quarter 0: e = f = 1, 15 - kd = 3
            {22, "10-1010"},  // quarter 1: e = 0, f = 1, 15 - kg = 6
            {32, "111110-"},  // quarter 2: e = 1, f = 0, 15 - kd = 0
            {63, "00-0000"},  // quarter 3: e = f = 0, 15 - kg = 15
        };
        const QUARTER_BIT direct_bits[] = {
            {5, "101000-"},   // quarter 0: e = f = 0, kd = 5
            {28, "00-1101"},  // quarter 1: e = 1, f = 0, kg = 12
            {41, "100101-"},  // quarter 2: e = 0, f = 1, kd = 9
            {50, "01-0110"},  // quarter 3: e = f = 1, kg = 2
        };
        for (const QUARTER_BIT& q : reversed(family) ? reverse_bits : direct_bits) {
            cell->set_lutmask(CDB_LUTMASK(6, 1ull << q.bit));
            expect_table(
                n.util(), cell, kComb, [&](const unsigned* in) { return matches(in, q.pattern) ? 1u : 0u; },
                numbered("family ", family) + numbered(", bit ", q.bit));
        }
    }
}

// The adder halves, written as the pair of 16-bit words set_sum_lutmask
// takes. Without share-in the sum adds the low-half bit L, the complement
// of the upper-half bit H and the carry-in; with share-in the share value
// takes the place of 1 - H. Reversed halves read bit 15 - k, MRL bit k.
TEST_F(NetUtilTruthTest, AdderHalvesWithAndWithoutShareIn)
{
    for (int family : kSixInputFamilies) {
        NET_UTIL_NETLIST n(family);
        MORV_NET_UTIL* u = n.util();
        const bool rev = reversed(family);
        const std::string name = numbered("family ", family);
        CDB_ATOM_NODE* cell = n.atom(CDB_KIND_LCELL_COMB, "cell");
        for (int out : {DB_SUM_OUT, DB_CARRY_OUT, DB_SHARE_OUT}) n.load(cell, out);

        // Low half bit 15 only, upper half all ones: L alone, 1 - H = 0.
        cell->set_sum_lutmask(CDB_LUTMASK(5, 0xFFFF8000ull));
        const char* low_15 = rev ? "0000" : "1111";
        expect_table(
            u, cell, kSum, [&](const unsigned* in) { return matches(in, low_15) ^ in[CIN]; }, name + " L");
        expect_table(
            u, cell, kCarry, [&](const unsigned* in) { return matches(in, low_15) & in[CIN]; }, name + " L");

        // Upper half bit 14 only, low half 0: 1 - H reads (a, b, c, f); the
        // share-out reads the same half at (a, b, c, d).
        cell->set_sum_lutmask(CDB_LUTMASK(5, 0x40000000ull));
        const char* upper_14 = rev ? "100--0" : "011--1";
        const char* share_14 = rev ? "1000" : "0111";
        expect_table(
            u, cell, kSum, [&](const unsigned* in) { return (1u - matches(in, upper_14)) ^ in[CIN]; }, name + " H");
        expect_table(
            u, cell, kCarry, [&](const unsigned* in) { return (1u - matches(in, upper_14)) & in[CIN]; }, name + " H");
        expect_table(
            u, cell, kShare, [&](const unsigned* in) { return matches(in, share_14) ? 1u : 0u; }, name);

        // With share-in the upper half no longer enters the sum.
        n.drive(cell, DB_SHARE_IN);
        cell->set_sum_lutmask(CDB_LUTMASK(5, 0x12348000ull));
        expect_table(
            u, cell, kSum, [&](const unsigned* in) { return matches(in, low_15) ^ in[SIN] ^ in[CIN]; },
            name + " share-in");
        expect_table(
            u, cell, kCarry, [&](const unsigned* in) { return majority(matches(in, low_15), in[SIN], in[CIN]); },
            name + " share-in");
    }
}

// 4-input cells read bit a + 2b + 4t + 8d, t being c or the carry-in as the
// cell's flag says (TEV and ZEPLA: c while bit 29 is set; UVO: the carry-in
// while bit 28 is set); the carry reads bit a + 2b + 4 carry-in.
TEST_F(NetUtilTruthTest, FourInputCellsAndTheirThirdInput)
{
    for (int family : {CDB_FAMILY_TEV, CDB_FAMILY_ZEPLA, CDB_FAMILY_UVO}) {
        NET_UTIL_NETLIST n(family);
        CDB_ATOM_NODE* cell = n.atom(CDB_KIND_LCELL_COMB, "cell");
        cell->set_lutmask(CDB_LUTMASK(4, 1u << 6));        // a = 0, b = 1, t = 1, d = 0
        cell->set_carry_lutmask(CDB_LUTMASK(4, 1u << 5));  // a = 1, b = 0, carry-in = 1
        n.load(cell, DB_COMB_OUT);
        n.load(cell, DB_CARRY_OUT);
        const std::string name = numbered("family ", family);
        const int flag = family == CDB_FAMILY_UVO ? CDB_ATOM_BIT_LUTMASK_FLAG : CDB_ATOM_BIT_FOUR_INPUT_COMB;
        const bool reads_c_when_set = family != CDB_FAMILY_UVO;
        for (bool set : {true, false}) {
            if (set) cell->set_bit(flag);
            else cell->clear_bit(flag);
            const int third = set == reads_c_when_set ? C : CIN;
            expect_table(
                n.util(), cell, kComb,
                [&](const unsigned* in) { return in[A] == 0 && in[B] == 1 && in[third] == 1 && in[D] == 0 ? 1u : 0u; },
                name + (set ? " flag set" : " flag clear"));
        }
        expect_table(
            n.util(), cell, kCarry,
            [&](const unsigned* in) { return in[A] == 1 && in[B] == 0 && in[CIN] == 1 ? 1u : 0u; }, name);
    }
}

// Every combination of used outputs, with and without share-in and in
// extended mode, on random masks written as a whole and as adder halves.
TEST_F(NetUtilTruthTest, ArithmeticCellsMatchTheHostInEveryCombinationOfUse)
{
    const OUTPUT outputs[] = {kComb, kSum, kCarry, kShare};
    for (int family : kSixInputFamilies) {
        NET_UTIL_NETLIST n(family);
        MORV_NET_UTIL* u = n.util();
        for (unsigned use = 1; use < 16; ++use)
            for (int variant = 0; variant < 4; ++variant) {
                CDB_ATOM_NODE* cell =
                    n.atom(CDB_KIND_LCELL_COMB, numbered("cell", static_cast<int>(use * 4 + variant)));
                cell->set_lutmask(CDB_LUTMASK(6, m_random()));
                cell->set_sum_lutmask(CDB_LUTMASK(5, m_random()));
                if (variant & 1) n.drive(cell, DB_SHARE_IN);
                if (variant & 2) n.drive(cell, DB_DATA_G);
                for (int i = 0; i < 4; ++i)
                    if ((use >> i) & 1u) n.load(cell, outputs[i].port);
                for (int i = 0; i < 4; ++i) {
                    const std::string what = numbered("family ", family) + numbered(" use ", static_cast<int>(use)) +
                                             numbered(" variant ", variant) + numbered(" output ", i);
                    if ((use >> i) & 1u) {
                        EXPECT_EQ(count_rows_unlike_host(u, cell, outputs[i]), 0) << what;
                    } else {
                        const unsigned zeros[MORV_EVALUATE_INPUT_COUNT] = {};
                        EXPECT_EQ((u->*outputs[i].evaluate)(cell, zeros), MORV_NO_LUT_VALUE) << what;
                    }
                }
            }
    }
}

// The measured cases: one cell whose comb mask and adder halves are
// written one after the other.
TEST_F(NetUtilTruthTest, SumAndShareOutReadTheMaskTheHostReads)
{
    for (int family : kSixInputFamilies) {
        NET_UTIL_NETLIST n(family);
        MORV_CDB_INTERFACE* cdb = n.api()->get_fsyn_cdb_interface();
        CDB_ATOM_NODE* both = n.atom(CDB_KIND_LCELL_COMB, "both");
        cdb->set_lutmask(both, CDB_LUTMASK(6, 0xAAAA0000AAAA0000ull), 0);
        cdb->set_sum_lutmask(both, CDB_LUTMASK(5, 0x0000AAAAull), 0);
        n.load(both, DB_COMB_OUT);
        n.load(both, DB_SUM_OUT);
        EXPECT_EQ(count_rows_unlike_host(n.util(), both, kSum), 0) << family;
        EXPECT_EQ(count_rows_unlike_host(n.util(), both, kComb), 0) << family;

        CDB_ATOM_NODE* share = n.atom(CDB_KIND_LCELL_COMB, "share");
        cdb->set_lutmask(share, CDB_LUTMASK(6, 0xAAAA0000AAAA0000ull), 0);
        cdb->set_sum_lutmask(share, CDB_LUTMASK(5, 0xFFFF0000ull), 0);
        n.load(share, DB_SHARE_OUT);
        EXPECT_EQ(count_rows_unlike_host(n.util(), share, kShare), 0) << family;
        // The adder halves are bits 0..15 and 32..47 of the one mask.
        EXPECT_EQ(cdb->get_adder_lutmask(share), 0xFFFF0000ull) << family;
        EXPECT_EQ(share->get_lutmask().get_value(), 0xAAAAFFFFAAAA0000ull) << family;
    }
}

}  // namespace

}  // namespace morv_net_util_truth_test
