// The truth table of a LUT pair: exchanges, first-fit decomposition and the
// two bit orders, on the pairs the rewiring searches meet, and a property
// run over seeded random pairs checked exhaustively against the original
// function.

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

#include "morv_test_util.h"
#include "morv/resyn/morv_rwr_truth_table.h"

namespace morv_rwr_truth_table_test {

namespace {

constexpr int NONE = MORV_RWR_TRUTH_TABLE::s_NO_SHARED;

bool mask_output(uint64_t mask, int c, bool reversed)
{
    return ((mask >> (reversed ? 63 - c : c)) & 1u) != 0;
}

// The pair's output after node_a and node_b take the given combinations,
// node_b's input port_ab reading node_a's output (inverted when told).
bool pair_output(uint64_t mask_a, uint64_t mask_b, int port_ab, int i, int j, bool reversed, bool invert_ab = false)
{
    const int a = (mask_output(mask_a, i, reversed) ? 1 : 0) ^ (invert_ab ? 1 : 0);
    return mask_output(mask_b, (j & ~(1 << port_ab)) | (a << port_ab), reversed);
}

TEST(RwrTruthTable, AndPairSplitsAfterMovingACriticalInputButTheOrPairDoesNot)
{
    // node_a = AND of its four inputs, node_b = input 0 (node_a) AND input 1.
    MORV_RWR_TRUTH_TABLE table(0x8000, 0x8888, 0, NONE, NONE, 4, 16, false);
    table.swap_ports(3, 1);
    uint64_t mask_a = 0;
    uint64_t mask_b = 0;
    ASSERT_TRUE(table.decompose(mask_a, mask_b));
    EXPECT_EQ(mask_a, 0x8000u);
    EXPECT_EQ(mask_b, 0x8888u);

    // node_b = input 0 OR input 1: three row classes.
    MORV_RWR_TRUTH_TABLE or_table(0x8000, 0xeeee, 0, NONE, NONE, 4, 16, false);
    or_table.swap_ports(3, 1);
    EXPECT_FALSE(or_table.decompose(mask_a, mask_b));
}

TEST(RwrTruthTable, OneRowClassGivesAConstantDriverAndAMaskBlindToIt)
{
    // node_b ignores node_a altogether (input 1 only).
    MORV_RWR_TRUTH_TABLE table(0x1234, 0xcccc, 0, NONE, NONE, 4, 16, false);
    uint64_t mask_a = 1;
    uint64_t mask_b = 0;
    ASSERT_TRUE(table.decompose(mask_a, mask_b));
    EXPECT_EQ(mask_a, 0u);
    for (int j = 0; j < 16; ++j) EXPECT_EQ((mask_b >> j) & 1u, (mask_b >> (j ^ 1)) & 1u) << j;
    EXPECT_EQ(mask_b, 0xccccu);
}

TEST(RwrTruthTable, SwappingTwiceRestoresEveryEntryAndTheAbPortCannotMove)
{
    MORV_RWR_TRUTH_TABLE table(0x6a5c3f01e7d2b498ull, 0x0123456789abcdefull, 2, 1, 4, 6, 64, true);
    const MORV_RWR_TRUTH_TABLE original = table;
    table.swap_ports(5, 3);
    bool moved = false;
    for (int i = 0; i < 64 && !moved; ++i)
        for (int j = 0; j < 64 && !moved; ++j) moved = table.entry(i, j) != original.entry(i, j);
    EXPECT_TRUE(moved);
    table.swap_ports(5, 3);
    for (int i = 0; i < 64; ++i)
        for (int j = 0; j < 64; ++j) ASSERT_EQ(table.entry(i, j), original.entry(i, j)) << i << " " << j;
    EXPECT_EQ(internal_error_of([&] { table.swap_ports(0, 2); }), "port_b >= 0 && port_b <= 5 && port_b != m_port_ab");
    EXPECT_EQ(internal_error_of([&] { table.swap_ports(6, 0); }), "port_a >= 0 && port_a <= 5");
}

TEST(RwrTruthTable, SharedCopiesThatDisagreeImposeNothing)
{
    // Input 1 of node_a and input 2 of node_b carry one signal.
    MORV_RWR_TRUTH_TABLE table(0x8000, 0x8888, 0, 1, 2, 4, 16, false);
    for (int i = 0; i < 16; ++i)
        for (int j = 0; j < 16; ++j) {
            const bool disagree = ((i >> 1) & 1) != ((j >> 2) & 1);
            if (disagree) EXPECT_EQ(table.get_entry(i, j), 3u);
            else EXPECT_EQ(table.get_entry(i, j), 1u + pair_output(0x8000, 0x8888, 0, i, j, false));
        }
}

TEST(RwrTruthTable, ReversedFamiliesGetTheSameSplitInMirroredBitOrder)
{
    // The 6-input AND pair: node_a ANDs all six, node_b ANDs inputs 0 and 1.
    auto mirror = [](uint64_t m) {
        uint64_t r = 0;
        for (int c = 0; c < 64; ++c)
            if ((m >> c) & 1u) r |= uint64_t(1) << (63 - c);
        return r;
    };
    const uint64_t and6 = uint64_t(1) << 63;
    uint64_t and2 = 0;
    for (int c = 0; c < 64; ++c)
        if ((c & 3) == 3) and2 |= uint64_t(1) << c;
    uint64_t plain_a = 0, plain_b = 0, rev_a = 0, rev_b = 0;
    MORV_RWR_TRUTH_TABLE plain(and6, and2, 0, NONE, NONE, 6, 64, false);
    MORV_RWR_TRUTH_TABLE reversed(mirror(and6), mirror(and2), 0, NONE, NONE, 6, 64, true);
    plain.swap_ports(5, 1);
    reversed.swap_ports(5, 1);
    ASSERT_TRUE(plain.decompose(plain_a, plain_b));
    ASSERT_TRUE(reversed.decompose(rev_a, rev_b));
    EXPECT_EQ(plain_a, and6);
    EXPECT_EQ(plain_b, and2);
    EXPECT_EQ(rev_a, mirror(plain_a));
    EXPECT_EQ(rev_b, mirror(plain_b));
}

TEST(RwrTruthTable, AnInvertedAbInputIsFoldedIntoBothMasks)
{
    // node_b = NOT(node_a) OR input 1, node_a = AND of four inputs.
    MORV_RWR_TRUTH_TABLE table(0x8000, 0xeeee, 0, NONE, NONE, 4, 16, false, true);
    for (int i = 0; i < 16; ++i)
        for (int j = 0; j < 16; ++j)
            ASSERT_EQ(table.get_entry(i, j), 1u + pair_output(0x8000, 0xeeee, 0, i, j, false, true));
    table.swap_ports(3, 1);
    uint64_t mask_a = 0;
    uint64_t mask_b = 0;
    ASSERT_TRUE(table.decompose(mask_a, mask_b));
    // After the exchange node_a holds inputs 0..2 and node_b's old input 1.
    for (int i = 0; i < 16; ++i)
        for (int j = 0; j < 16; ++j) {
            const int old_i = (i & 7) | (((j >> 1) & 1) << 3);
            const int old_j = (j & ~2) | (((i >> 3) & 1) << 1);
            ASSERT_EQ(pair_output(mask_a, mask_b, 0, i, j, false, true),
                      pair_output(0x8000, 0xeeee, 0, old_i, old_j, false, true))
                << i << " " << j;
        }
}

// ---------------------------------------------------------------- property run

// One input of the random pair: a signal (>= 0), a constant or nothing,
// with its inversion.
enum : int
{
    GND = -1,
    VCC = -2,
    OPEN = -3
};
struct INPUT
{
    int signal = OPEN;
    bool inverted = false;
};

int input_value(const INPUT& in, unsigned values)
{
    if (in.signal == OPEN) return 0;  // an unconnected input floats low whatever its inversion
    const int raw = in.signal == GND ? 0 : in.signal == VCC ? 1 : static_cast<int>((values >> in.signal) & 1u);
    return raw ^ (in.inverted ? 1 : 0);
}

struct PAIR
{
    int k = 4;
    bool reversed = false;
    uint64_t mask_a = 0;
    uint64_t mask_b = 0;
    int port_ab = 0;
    bool invert_ab = false;
    INPUT a[6];
    INPUT b[6];

    bool evaluate(unsigned values) const
    {
        int i = 0;
        int j = 0;
        for (int p = 0; p < k; ++p) i |= input_value(a[p], values) << p;
        for (int p = 0; p < k; ++p)
            if (p != port_ab) j |= input_value(b[p], values) << p;
        return pair_output(mask_a, mask_b, port_ab, i, j, reversed, invert_ab);
    }
    // The first signal of node_a that node_b reads alike.
    void shared(int* shared_a, int* shared_b) const
    {
        *shared_a = *shared_b = NONE;
        for (int p = 0; p < k; ++p) {
            if (a[p].signal < 0) continue;
            for (int q = 0; q < k; ++q) {
                if (q == port_ab || b[q].signal != a[p].signal || b[q].inverted != a[p].inverted) continue;
                *shared_a = p;
                *shared_b = q;
                return;
            }
        }
    }
};

// A mask that reads a few of the k inputs, in the pair's bit order.
uint64_t sparse_mask(std::mt19937_64& random, int k, bool reversed)
{
    const int used = 1 + static_cast<int>(random() % 3);
    int inputs[3];
    for (int u = 0; u < used; ++u) inputs[u] = static_cast<int>(random() % k);
    const uint64_t table = random();
    uint64_t mask = 0;
    for (int c = 0; c < (1 << k); ++c) {
        int index = 0;
        for (int u = 0; u < used; ++u) index |= ((c >> inputs[u]) & 1) << u;
        if ((table >> index) & 1u) mask |= uint64_t(1) << (reversed ? 63 - c : c);
    }
    return mask;
}

INPUT random_input(std::mt19937_64& random, int signals)
{
    INPUT in;
    const int pick = static_cast<int>(random() % 10);
    in.signal = pick < 6 ? static_cast<int>(random() % signals) : pick == 6 ? GND : pick == 7 ? VCC : OPEN;
    in.inverted = random() % 4 == 0;
    return in;
}

TEST(RwrTruthTable, RandomPairsKeepTheirFunctionThroughEveryDecomposition)
{
    std::mt19937_64 random(20261207);
    const int signals = 7;  // few signals, so that inputs share them often
    int decomposed = 0;
    int with_shared = 0;
    for (int n = 0; n < 10000; ++n) {
        PAIR pair;
        pair.k = n % 3 == 0 ? 4 : 6;
        pair.reversed = pair.k == 6 && n % 2 == 0;
        pair.mask_a = sparse_mask(random, pair.k, pair.reversed);
        pair.mask_b = sparse_mask(random, pair.k, pair.reversed);
        pair.port_ab = static_cast<int>(random() % pair.k);
        pair.invert_ab = random() % 3 == 0;
        for (int p = 0; p < pair.k; ++p) {
            pair.a[p] = random_input(random, signals);
            pair.b[p] = random_input(random, signals);
        }
        const PAIR original = pair;
        int shared_a = NONE;
        int shared_b = NONE;
        pair.shared(&shared_a, &shared_b);
        with_shared += shared_a != NONE ? 1 : 0;
        MORV_RWR_TRUTH_TABLE table(pair.mask_a, pair.mask_b, pair.port_ab, shared_a, shared_b, pair.k, 1 << pair.k,
                                   pair.reversed, pair.invert_ab);
        const int exchanges = 1 + static_cast<int>(random() % 4);
        for (int e = 0; e < exchanges; ++e) {
            const int pa = static_cast<int>(random() % pair.k);
            int pb = static_cast<int>(random() % pair.k);
            if (pb == pair.port_ab) pb = (pb + 1) % pair.k;
            table.swap_ports(pa, pb);
            std::swap(pair.a[pa], pair.b[pb]);
            PAIR rewired = pair;
            if (!table.decompose(rewired.mask_a, rewired.mask_b)) continue;
            ++decomposed;
            for (unsigned values = 0; values < (1u << signals); ++values)
                ASSERT_EQ(rewired.evaluate(values), original.evaluate(values))
                    << "pair " << n << " exchange " << e << " values " << values;
        }
    }
    EXPECT_GT(decomposed, 5000);
    EXPECT_GT(with_shared, 2000);
}

}  // namespace

}  // namespace morv_rwr_truth_table_test
