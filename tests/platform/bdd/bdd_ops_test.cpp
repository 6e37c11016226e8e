// Every operation against truth-table arithmetic on random functions of up
// to 12 variables.

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <set>

#include "bdd/bdd_jbdd.h"
#include "bdd_truth_table.h"

namespace bdd_ops_test {

using namespace bdd_test;

namespace {

struct RANDOM_PAIR
{
    TT tf, tg;
    BDD_JBDD f, g;
};

class BddOpsTest : public ::testing::Test
{
protected:
    BDD_JBDD_MGR mgr{100, 1000, 1000, false, false};
    std::mt19937 rng{12345};

    RANDOM_PAIR random_pair(int n)
    {
        RANDOM_PAIR p{tt_random(n, rng), tt_random(n, rng), {}, {}};
        p.f = build(mgr, p.tf);
        p.g = build(mgr, p.tg);
        return p;
    }
};

TEST_F(BddOpsTest, BuildingIsCanonicalAndReadsBack)
{
    for (int round = 0; round < 40; ++round) {
        int n = 1 + round % 12;
        TT t = tt_random(n, rng);
        BDD_JBDD f = build(mgr, t);
        ASSERT_EQ(tt_of(mgr, f, n), t) << "n=" << n;
        // The same function reached another way is the same handle.
        BDD_JBDD h = mgr.false_bdd();
        for (size_t a = 0; a < t.rows(); ++a) {
            if (!t.bits[a]) continue;
            BDD_JBDD cube = mgr.true_bdd();
            for (int v = 0; v < n; ++v) cube &= ((a >> v) & 1u) ? mgr.ithvar(v) : mgr.nithvar(v);
            h |= cube;
        }
        EXPECT_TRUE(h == f);
        EXPECT_EQ(h.node_index(), f.node_index());
        EXPECT_NE((!f).node_index(), f.node_index());
        EXPECT_TRUE((!!f) == f);
    }
}

TEST_F(BddOpsTest, BooleanOperatorsAgreeWithTruthTables)
{
    for (int round = 0; round < 60; ++round) {
        int n = 1 + round % 12;
        RANDOM_PAIR p = random_pair(n);
        EXPECT_EQ(tt_of(mgr, !p.f, n), tt_not(p.tf));
        EXPECT_EQ(tt_of(mgr, p.f & p.g, n), tt_apply(p.tf, p.tg, [](int a, int b) { return a && b; }));
        EXPECT_EQ(tt_of(mgr, p.f | p.g, n), tt_apply(p.tf, p.tg, [](int a, int b) { return a || b; }));
        EXPECT_EQ(tt_of(mgr, p.f ^ p.g, n), tt_apply(p.tf, p.tg, [](int a, int b) { return a != b; }));
        EXPECT_EQ(tt_of(mgr, (!p.f) ^ p.g, n), tt_apply(p.tf, p.tg, [](int a, int b) { return a == b; }));
        EXPECT_EQ(tt_of(mgr, (!p.f) & (!p.g), n), tt_apply(p.tf, p.tg, [](int a, int b) { return !a && !b; }));
        BDD_JBDD a = p.f, o = p.f, x = p.f;
        a &= p.g;
        o |= p.g;
        x ^= p.g;
        EXPECT_TRUE(a == (p.f & p.g));
        EXPECT_TRUE(o == (p.f | p.g));
        EXPECT_TRUE(x == (p.f ^ p.g));
        EXPECT_EQ((p.f == p.g), (p.tf == p.tg));
        EXPECT_EQ((p.f != p.g), !(p.tf == p.tg));
    }
}

TEST_F(BddOpsTest, IteAgreesWithTruthTables)
{
    for (int round = 0; round < 60; ++round) {
        int n = 1 + round % 12;
        RANDOM_PAIR p = random_pair(n);
        TT th = tt_random(n, rng);
        BDD_JBDD h = build(mgr, th);
        // Operands related to each other take the shortcut paths.
        for (const BDD_JBDD& cond : {p.f, !p.g, p.f ^ h}) {
            TT tc = tt_of(mgr, cond, n);
            for (const auto& [g2, h2] :
                 {std::pair{p.g, h}, std::pair{!h, h}, std::pair{cond, h}, std::pair{p.g, !cond}}) {
                TT tg2 = tt_of(mgr, g2, n), th2 = tt_of(mgr, h2, n), want(n);
                for (size_t r = 0; r < want.rows(); ++r) want.bits[r] = tc.bits[r] ? tg2.bits[r] : th2.bits[r];
                ASSERT_EQ(tt_of(mgr, cond.Ite(g2, h2), n), want);
            }
        }
    }
}

TEST_F(BddOpsTest, QuantificationAgreesWithTruthTables)
{
    for (int round = 0; round < 60; ++round) {
        int n = 1 + round % 12;
        TT tf = tt_random(n, rng);
        BDD_JBDD f = build(mgr, tf);
        int v = int(rng() % unsigned(n));
        TT ex = tt_apply(tt_cofactor(tf, v, 0), tt_cofactor(tf, v, 1), [](int a, int b) { return a || b; });
        TT fa = tt_apply(tt_cofactor(tf, v, 0), tt_cofactor(tf, v, 1), [](int a, int b) { return a && b; });
        EXPECT_EQ(tt_of(mgr, f.Exist(v), n), ex);
        EXPECT_EQ(tt_of(mgr, f.ForAll(v), n), fa);
        EXPECT_TRUE(f.Exist(mgr.ithvar(v)) == f.Exist(v));
        // A cube of several variables; given with a negative literal it
        // still names the same variables.
        BDD_JBDD cube = mgr.true_bdd(), mixed = mgr.true_bdd();
        TT te = tf, ta = tf;
        for (int u = 0; u < n; ++u) {
            if (rng() % 3 != 0) continue;
            cube &= mgr.ithvar(u);
            mixed &= (u % 2) ? mgr.nithvar(u) : mgr.ithvar(u);
            te = tt_apply(tt_cofactor(te, u, 0), tt_cofactor(te, u, 1), [](int a, int b) { return a || b; });
            ta = tt_apply(tt_cofactor(ta, u, 0), tt_cofactor(ta, u, 1), [](int a, int b) { return a && b; });
        }
        EXPECT_EQ(tt_of(mgr, f.Exist(cube), n), te);
        EXPECT_EQ(tt_of(mgr, f.ForAll(cube), n), ta);
        EXPECT_TRUE(f.Exist(mixed) == f.Exist(cube));
        EXPECT_TRUE(f.ForAll(mixed) == f.ForAll(cube));
    }
}

TEST_F(BddOpsTest, ComposeAgreesWithTruthTables)
{
    for (int round = 0; round < 60; ++round) {
        int n = 1 + round % 12;
        RANDOM_PAIR p = random_pair(n);
        int v = int(rng() % unsigned(n));
        TT want(n);
        for (size_t a = 0; a < want.rows(); ++a) {
            size_t b = p.tg.bits[a] ? (a | (size_t(1) << v)) : (a & ~(size_t(1) << v));
            want.bits[a] = p.tf.bits[b];
        }
        const BDD_JBDD composed = p.f.Compose(p.g, v);
        EXPECT_EQ(tt_of(mgr, composed, n), want);
        // Canonical too: the very node that building the function gives.
        EXPECT_TRUE(composed == build(mgr, want)) << round;
        EXPECT_EQ(tt_of(mgr, (!p.f).Compose(p.g, v), n), tt_not(want));
    }
}

// Constrain is f at the nearest point of c, the distance weighting the
// variable on level l by 2^(n - 1 - l).
TT tt_constrain(BDD_JBDD_MGR& mgr, const TT& f, const TT& c)
{
    int n = f.n;
    auto key = [&](size_t a) {
        size_t k = 0;
        for (int v = 0; v < n; ++v)
            if ((a >> v) & 1u) k |= size_t(1) << (n - 1 - mgr.level_of_var(v));
        return k;
    };
    TT r(n);
    for (size_t a = 0; a < r.rows(); ++a) {
        size_t best = a, best_d = SIZE_MAX;
        for (size_t b = 0; b < r.rows(); ++b) {
            if (!c.bits[b]) continue;
            size_t d = key(a) ^ key(b);
            if (d < best_d) best_d = d, best = b;
        }
        r.bits[a] = best_d == SIZE_MAX ? 0 : f.bits[best];
    }
    return r;
}

TEST_F(BddOpsTest, ConstrainIsTheValueAtTheNearestPointOfTheCareSet)
{
    for (int round = 0; round < 40; ++round) {
        int n = 1 + round % 9;
        RANDOM_PAIR p = random_pair(n);
        BDD_JBDD r = p.f.Constrain(p.g);
        EXPECT_EQ(tt_of(mgr, r, n), tt_constrain(mgr, p.tf, p.tg))
            << "n=" << n << " f=" << testing::PrintToString(p.tf) << " c=" << testing::PrintToString(p.tg);
        EXPECT_TRUE((!p.f).Constrain(p.g) == (p.tg == TT(n, 0) ? mgr.false_bdd() : !r));
        // By a literal it is the plain cofactor.
        int v = int(rng() % unsigned(n));
        EXPECT_EQ(tt_of(mgr, p.f.Constrain(mgr.ithvar(v)), n), tt_cofactor(p.tf, v, 1));
        EXPECT_EQ(tt_of(mgr, p.f.Constrain(mgr.nithvar(v)), n), tt_cofactor(p.tf, v, 0));
    }
}

TEST_F(BddOpsTest, SupportSizeAndChildrenAgreeWithBruteForce)
{
    for (int round = 0; round < 40; ++round) {
        int n = 1 + round % 10;
        TT tf = tt_random(n, rng);
        BDD_JBDD f = build(mgr, tf);
        std::vector<int> support = tt_support(mgr, tf);
        EXPECT_EQ(f.build_support(), support);
        EXPECT_EQ(f.support_size(), int(support.size()));
        EXPECT_EQ(f.size(), tt_node_count(mgr, tf));
        EXPECT_EQ((!f).size(), f.size());
        if (support.empty()) {
            EXPECT_EQ(f.variable(), -1);
            continue;
        }
        int top = support.front();
        EXPECT_EQ(f.variable(), top);
        EXPECT_EQ(f.level(), mgr.level_of_var(top));
        for (const BDD_JBDD& g : {f, !f}) {
            TT tg = tt_of(mgr, g, n);
            EXPECT_EQ(tt_of(mgr, g.low_child(), n), tt_cofactor(tg, top, 0));
            EXPECT_EQ(tt_of(mgr, g.high_child(), n), tt_cofactor(tg, top, 1));
        }
    }
}

TEST_F(BddOpsTest, CutNodesAreTheDistinctCofactorsOfTheBoundSet)
{
    for (int round = 0; round < 40; ++round) {
        int n = 1 + round % 12;
        TT tf = tt_random(n, rng);
        BDD_JBDD f = rng() % 2 ? build(mgr, tf) : !build(mgr, tt_not(tf));
        for (int cut = 0; cut <= n + 1; ++cut) {
            std::vector<BDD_JBDD> nodes = f.get_cut_nodes(cut);
            std::set<TT> got;
            for (const BDD_JBDD& g : nodes) {
                EXPECT_GE(g.level(), std::min(cut, mgr.var_count()));
                got.insert(tt_of(mgr, g, n));
            }
            EXPECT_EQ(got.size(), nodes.size()) << "duplicates at cut " << cut;
            EXPECT_EQ(got, tt_cut_functions(mgr, tf, cut)) << "cut " << cut;
            std::vector<BDD_JBDD> again = f.get_cut_nodes(cut);
            EXPECT_TRUE(again == nodes);
        }
    }
}

TEST_F(BddOpsTest, CutNodeOrderFollowsTheGraphNotTheNodeNumbers)
{
    // The same function built in two managers after different histories
    // gives the cut nodes in the same order.
    BDD_JBDD_MGR other(16, 64, 16, false, false);
    for (int i = 0; i < 50; ++i) build(other, tt_random(8, rng));
    for (int round = 0; round < 20; ++round) {
        TT tf = tt_random(8, rng);
        BDD_JBDD a = build(mgr, tf), b = build(other, tf);
        for (int cut = 1; cut <= 8; ++cut) {
            std::vector<BDD_JBDD> ca = a.get_cut_nodes(cut), cb = b.get_cut_nodes(cut);
            ASSERT_EQ(ca.size(), cb.size());
            for (size_t i = 0; i < ca.size(); ++i) EXPECT_EQ(tt_of(mgr, ca[i], 8), tt_of(other, cb[i], 8));
        }
    }
}

}  // namespace

}  // namespace bdd_ops_test
