// Adjacent-level swaps: every live handle keeps its function and its index,
// the tables stay canonical, and the order-dependent answers follow the new
// order.

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "bdd/bdd_jbdd.h"
#include "bdd_truth_table.h"
#include "msg/msg.h"

namespace bdd_reorder_test {

using namespace bdd_test;

namespace {

struct KEPT
{
    TT t;
    BDD_JBDD f;
    unsigned index;
};

class BddReorderTest : public ::testing::Test
{
protected:
    BDD_JBDD_MGR mgr{64, 256, 64, false, false};
    std::mt19937 rng{777};
    std::vector<int> order;  // the expected variable at each level

    std::vector<KEPT> make_functions(int n, int count)
    {
        std::vector<KEPT> kept;
        for (int i = 0; i < count; ++i) {
            TT t = tt_random(n, rng);
            BDD_JBDD f = build(mgr, t);
            // Derived functions share nodes with the others.
            if (i % 3 == 2) {
                t = tt_apply(t, kept.back().t, [](int a, int b) { return a != b; });
                f = f ^ kept.back().f;
            }
            kept.push_back({t, f, f.node_index()});
        }
        order.clear();
        for (int v = 0; v < n; ++v) order.push_back(v);
        return kept;
    }

    void swap_at(int level)
    {
        mgr.swap_adjacent_variables(mgr.variable_at(level + 1), mgr.variable_at(level));
        std::swap(order[size_t(level)], order[size_t(level) + 1]);
    }

    void expect_intact(const std::vector<KEPT>& kept, int n)
    {
        for (size_t l = 0; l < order.size(); ++l) {
            ASSERT_EQ(mgr.variable_at(int(l)), order[l]);
            ASSERT_EQ(mgr.level_of_var(order[l]), int(l));
        }
        for (const KEPT& k : kept) {
            ASSERT_EQ(tt_of(mgr, k.f, n), k.t);
            ASSERT_EQ(k.f.node_index(), k.index);
        }
    }
};

TEST_F(BddReorderTest, RandomSwapsKeepEveryLiveFunction)
{
    const int n = 10;
    std::vector<KEPT> kept = make_functions(n, 30);
    mgr.begin_reorder();
    for (int step = 0; step < 300; ++step) {
        swap_at(int(rng() % (n - 1)));
        if (step % 10 == 0) expect_intact(kept, n);
        if (step % 37 == 0) kept.erase(kept.begin() + long(rng() % kept.size()));  // a handle dies mid-way
    }
    mgr.end_reorder();
    expect_intact(kept, n);
    mgr.garbage_collect();
    expect_intact(kept, n);
}

TEST_F(BddReorderTest, TablesStayCanonicalAfterSwaps)
{
    const int n = 9;
    std::vector<KEPT> kept = make_functions(n, 20);
    for (int step = 0; step < 60; ++step) swap_at(int(rng() % (n - 1)));
    for (const KEPT& k : kept) {
        // Built again from scratch under the new order: the very same node.
        EXPECT_EQ(build(mgr, k.t).node_index(), k.index);
        EXPECT_EQ(k.f.size(), tt_node_count(mgr, k.t));
    }
    for (size_t i = 1; i < kept.size(); ++i) {
        TT both = tt_apply(kept[i].t, kept[i - 1].t, [](int a, int b) { return a && b; });
        EXPECT_EQ(tt_of(mgr, kept[i].f & kept[i - 1].f, n), both);
    }
}

TEST_F(BddReorderTest, OrderDependentAnswersFollowTheNewOrder)
{
    const int n = 8;
    std::vector<KEPT> kept = make_functions(n, 12);
    TT tc = tt_random(n, rng);
    BDD_JBDD c = build(mgr, tc);
    for (KEPT& k : kept) k.f.Constrain(c);  // fills the cache under the old order
    for (int step = 0; step < 40; ++step) {
        swap_at(int(rng() % (n - 1)));
        if (step % 8 != 7) continue;
        for (const KEPT& k : kept) {
            ASSERT_EQ(k.f.build_support(), tt_support(mgr, k.t));
            int cut = 1 + int(rng() % n);
            std::set<TT> got;
            for (const BDD_JBDD& g : k.f.get_cut_nodes(cut)) got.insert(tt_of(mgr, g, n));
            ASSERT_EQ(got, tt_cut_functions(mgr, k.t, cut));
            // Constrain depends on the order: a result cached before the
            // swaps must not come back.
            TT want(n);
            for (size_t a = 0; a < want.rows(); ++a) {
                size_t best = 0, best_d = SIZE_MAX;
                for (size_t b = 0; b < want.rows(); ++b) {
                    if (!tc.bits[b]) continue;
                    size_t d = 0;
                    for (int v = 0; v < n; ++v)
                        if (((a ^ b) >> v) & 1u) d |= size_t(1) << (n - 1 - mgr.level_of_var(v));
                    if (d < best_d) best_d = d, best = b;
                }
                want.bits[a] = best_d == SIZE_MAX ? 0 : k.t.bits[best];
            }
            ASSERT_EQ(tt_of(mgr, k.f.Constrain(c), n), want);
        }
    }
}

TEST_F(BddReorderTest, SiftingAVariableThroughAllLevelsAndBackRestoresTheSizes)
{
    const int n = 10;
    std::vector<KEPT> kept = make_functions(n, 15);
    std::vector<int> sizes;
    for (const KEPT& k : kept) sizes.push_back(k.f.size());
    for (int v = 0; v < n; ++v) {
        mgr.begin_reorder();
        int start = mgr.level_of_var(v);
        for (int l = start; l > 0; --l) swap_at(l - 1);
        for (int l = 0; l < n - 1; ++l) swap_at(l);
        for (int l = n - 1; l > start; --l) swap_at(l - 1);
        mgr.end_reorder();
        ASSERT_EQ(mgr.level_of_var(v), start);
    }
    expect_intact(kept, n);
    for (size_t i = 0; i < kept.size(); ++i) EXPECT_EQ(kept[i].f.size(), sizes[i]);
}

TEST_F(BddReorderTest, SwapsLeakNothingAndFreeNothingLive)
{
    const int n = 10;
    {
        std::vector<KEPT> kept = make_functions(n, 25);
        for (int step = 0; step < 200; ++step) swap_at(int(rng() % (n - 1)));
        mgr.garbage_collect();
        long long live = mgr.get_stats().allocated;
        expect_intact(kept, n);
        EXPECT_GT(live, n);
    }
    // With every handle gone only the variables' own nodes remain: a count
    // kept too high by a swap would keep nodes alive here.
    mgr.garbage_collect();
    EXPECT_EQ(mgr.get_stats().allocated, n);
    EXPECT_EQ(mgr.get_stats().dead, 0);
}

TEST_F(BddReorderTest, SwapNeedsAdjacentVariables)
{
    mgr.ithvar(3);
    EXPECT_THROW(mgr.swap_adjacent_variables(0, 2), MSG_INTERNAL_ERROR_EXCEPTION);
    EXPECT_THROW(mgr.swap_adjacent_variables(1, 1), MSG_INTERNAL_ERROR_EXCEPTION);
    EXPECT_THROW(mgr.swap_adjacent_variables(3, 4), MSG_INTERNAL_ERROR_EXCEPTION);
    mgr.swap_adjacent_variables(2, 1);
    EXPECT_EQ(mgr.variable_at(1), 2);
    EXPECT_EQ(mgr.variable_at(2), 1);
    mgr.begin_reorder();
    EXPECT_THROW(mgr.begin_reorder(), MSG_INTERNAL_ERROR_EXCEPTION);
    mgr.end_reorder();
    EXPECT_THROW(mgr.end_reorder(), MSG_INTERNAL_ERROR_EXCEPTION);
}

TEST_F(BddReorderTest, NewVariablesGoBelowAReorderedOrder)
{
    mgr.ithvar(2);
    mgr.swap_adjacent_variables(0, 1);
    BDD_JBDD f = mgr.ithvar(4) & mgr.ithvar(0);
    EXPECT_EQ(mgr.variable_at(0), 1);
    EXPECT_EQ(mgr.level_of_var(4), 4);
    EXPECT_EQ(mgr.level_of_var(3), 3);
    EXPECT_EQ(f.build_support(), (std::vector<int>{0, 4}));
    EXPECT_EQ(mgr.level_of_var(5), -1);
    EXPECT_EQ(mgr.variable_at(5), -1);
}

}  // namespace

namespace {

// A swap frees the dead nodes of the two levels and leaves cached results
// naming them: the next operation of any kind must not answer from them.
TEST(BddCacheTest, AnOperationAfterASwapNeverAnswersFromFreedNodes)
{
    for (int op = 0; op < 2; ++op) {
        BDD_JBDD_MGR mgr(64, 256, 16, false, false);
        BDD_JBDD x0 = mgr.ithvar(0), x1 = mgr.ithvar(1), x2 = mgr.ithvar(2);
        BDD_JBDD g = x0 & x1 & x2;
        // Both give x0 & x1.
        const TT want = tt_apply(tt_var(3, 0), tt_var(3, 1), [](int a, int b) { return a && b; });
        auto run = [&] { return op == 0 ? x0 & x1 : g.Exist(2); };
        {
            BDD_JBDD dropped = run();  // cached, then dead: its top node tests x0, then x1
            ASSERT_EQ(tt_of(mgr, dropped, 3), want);
        }
        mgr.swap_adjacent_variables(0, 1);  // frees the dead node
        for (int i = 0; i < 4; ++i) (void)mgr.ithvar(3 + i);
        EXPECT_EQ(tt_of(mgr, run(), 3), want) << (op == 0 ? "and" : "exist");
    }
}

}  // namespace

}  // namespace bdd_reorder_test
