// Garbage collection under pressure, table growth, several managers at
// once and handle lifetimes. Run under AddressSanitizer, a node freed while
// a handle still needs it shows up as a wrong function or a bad read.

#include <gtest/gtest.h>

#include <memory>
#include <random>

#include "bdd/bdd_jbdd.h"
#include "bdd_truth_table.h"
#include "msg/msg.h"

namespace bdd_memory_test {

using namespace bdd_test;

namespace {

TEST(BddMemoryTest, CollectionUnderPressureKeepsEveryLiveHandle)
{
    BDD_JBDD_MGR mgr(16, 64, 16, false, false);
    std::mt19937 rng(99);
    const int n = 11;
    std::vector<std::pair<TT, BDD_JBDD>> kept;
    for (int round = 0; round < 150; ++round) {
        TT ta = tt_random(n, rng), tb = tt_random(n, rng);
        BDD_JBDD a = build(mgr, ta), b = build(mgr, tb);
        BDD_JBDD mix = (a & b) | (a ^ !b);  // intermediate results die at once
        if (round % 4 == 0)
            kept.emplace_back(tt_apply(ta, tb, [](int x, int y) { return (x && y) || (x != !y); }), mix);
        if (round % 7 == 0) kept.emplace_back(ta, a);
        if (round % 25 == 24) {
            mgr.garbage_collect();
            kept.erase(kept.begin());
        }
    }
    bdd_detail::BDD_STATS s = mgr.get_stats();
    EXPECT_GT(s.collections, 1);
    EXPECT_GT(s.growths, 1);
    EXPECT_GT(s.nodes_freed, s.capacity);  // the table was reused, not just grown
    for (const auto& [t, f] : kept) ASSERT_EQ(tt_of(mgr, f, n), t);
    mgr.garbage_collect();
    for (const auto& [t, f] : kept) ASSERT_EQ(tt_of(mgr, f, n), t);
}

TEST(BddMemoryTest, OneOperationMayOutgrowTheTable)
{
    // A single operation far larger than the table: its unreferenced
    // intermediate results must survive until it ends.
    BDD_JBDD_MGR mgr(16, 64, 16, false, false);
    std::mt19937 rng(5);
    TT ta = tt_random(12, rng), tb = tt_random(12, rng);
    BDD_JBDD a = build(mgr, ta), b = build(mgr, tb);
    mgr.garbage_collect();
    BDD_JBDD r = a.Ite(b, (!a) ^ b);
    TT want(12);
    for (size_t x = 0; x < want.rows(); ++x) want.bits[x] = ta.bits[x] ? tb.bits[x] : uint8_t(ta.bits[x] == tb.bits[x]);
    EXPECT_EQ(tt_of(mgr, r, 12), want);
}

TEST(BddMemoryTest, NodeIndexIsStableWhileTheHandleLives)
{
    BDD_JBDD_MGR mgr(16, 64, 16, false, false);
    std::mt19937 rng(3);
    TT t = tt_random(9, rng);
    BDD_JBDD f = build(mgr, t);
    unsigned index = f.node_index();
    for (int i = 0; i < 40; ++i) build(mgr, tt_random(9, rng));  // garbage
    mgr.garbage_collect();
    EXPECT_EQ(f.node_index(), index);
    EXPECT_EQ(build(mgr, t).node_index(), index);
}

TEST(BddMemoryTest, DroppedFunctionsAreReclaimed)
{
    BDD_JBDD_MGR mgr(16, 64, 16, false, false);
    std::mt19937 rng(8);
    {
        std::vector<BDD_JBDD> all;
        for (int i = 0; i < 30; ++i) all.push_back(build(mgr, tt_random(10, rng)));
        EXPECT_GT(mgr.get_stats().allocated, 100);
    }
    mgr.garbage_collect();
    EXPECT_EQ(mgr.get_stats().allocated, 10);  // the projections of the ten variables
}

TEST(BddMemoryTest, SeveralManagersWorkSideBySide)
{
    std::mt19937 rng(21);
    std::vector<std::unique_ptr<BDD_JBDD_MGR>> mgrs;
    for (int i = 0; i < 3; ++i) mgrs.push_back(std::make_unique<BDD_JBDD_MGR>(16 << i, 64, 16, false, false));
    std::vector<std::vector<std::pair<TT, BDD_JBDD>>> kept(3);
    for (int round = 0; round < 60; ++round) {
        TT t = tt_random(8, rng);
        for (int i = 0; i < 3; ++i) {
            BDD_JBDD f = build(*mgrs[size_t(i)], t);
            if (round % 3 == i) kept[size_t(i)].emplace_back(t, f);
        }
        if (round % 10 == 0) {
            BDD_JBDD_MGR& m = *mgrs[size_t(round % 3)];
            m.swap_adjacent_variables(m.variable_at(round % 7), m.variable_at(round % 7 + 1));
        }
    }
    mgrs[1]->garbage_collect();
    mgrs[1].reset();  // one manager goes; the others are untouched
    for (int i : {0, 2})
        for (const auto& [t, f] : kept[size_t(i)]) ASSERT_EQ(tt_of(*mgrs[size_t(i)], f, 8), t);
    // Handles of different managers never mix.
    BDD_JBDD a = mgrs[0]->ithvar(0), b = mgrs[2]->ithvar(0);
    EXPECT_FALSE(a == b);
    EXPECT_THROW(a & b, MSG_INTERNAL_ERROR_EXCEPTION);
    EXPECT_THROW(a.Ite(a, b), MSG_INTERNAL_ERROR_EXCEPTION);
    EXPECT_THROW(mgrs[0]->fprint_bdds_as_dot(stderr, {b}), MSG_INTERNAL_ERROR_EXCEPTION);
}

TEST(BddMemoryTest, HandlesMayOutliveTheirManager)
{
    auto mgr = std::make_unique<BDD_JBDD_MGR>(16, 64, 16, false, false);
    BDD_JBDD f = mgr->ithvar(0) & mgr->ithvar(1);
    BDD_JBDD g = f;
    mgr.reset();
    BDD_JBDD h = g;  // copying and comparing still work
    EXPECT_TRUE(h == f);
    EXPECT_THROW(f & g, MSG_INTERNAL_ERROR_EXCEPTION);
    EXPECT_THROW(f.size(), MSG_INTERNAL_ERROR_EXCEPTION);
    // The last of them frees the manager's memory (a leak or a double free
    // shows under the sanitizer).
}

TEST(BddMemoryTest, EmptyHandles)
{
    BDD_JBDD_MGR mgr(16, 64, 16, false, false);
    BDD_JBDD empty, other;
    EXPECT_TRUE(empty == other);
    EXPECT_TRUE(empty.is_empty());
    EXPECT_FALSE(empty == mgr.false_bdd());
    EXPECT_TRUE(BDD_JBDD(&mgr) == mgr.false_bdd());
    EXPECT_THROW(!empty, MSG_INTERNAL_ERROR_EXCEPTION);
    EXPECT_THROW(empty & mgr.true_bdd(), MSG_INTERNAL_ERROR_EXCEPTION);
    EXPECT_THROW(mgr.true_bdd() | empty, MSG_INTERNAL_ERROR_EXCEPTION);
    EXPECT_THROW(empty.node_index(), MSG_INTERNAL_ERROR_EXCEPTION);
    EXPECT_THROW(BDD_JBDD(nullptr), MSG_INTERNAL_ERROR_EXCEPTION);
    BDD_JBDD x = mgr.ithvar(0);
    x = empty;  // assignment releases the old function
    EXPECT_TRUE(x.is_empty());
    x = std::move(other);
    EXPECT_TRUE(x.is_empty());
}

}  // namespace

}  // namespace bdd_memory_test
