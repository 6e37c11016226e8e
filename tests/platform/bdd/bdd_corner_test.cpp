// Constants, variables not in the support or not yet made, and the dot form.

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "bdd/bdd_jbdd.h"
#include "bdd_truth_table.h"

namespace bdd_corner_test {

using namespace bdd_test;

namespace {

class BddCornerTest : public ::testing::Test
{
protected:
    BDD_JBDD_MGR mgr{100, 1000, 1000, false, false};
    BDD_JBDD x0 = mgr.ithvar(0), x1 = mgr.ithvar(1), x2 = mgr.ithvar(2);
    BDD_JBDD t = mgr.true_bdd(), f = mgr.false_bdd();
};

TEST_F(BddCornerTest, VariablesAreMadeInOrderOnFirstUse)
{
    BDD_JBDD_MGR fresh(100, 1000, 1000, false, false);
    EXPECT_EQ(fresh.var_count(), 0);
    BDD_JBDD v5 = fresh.nithvar(5);
    EXPECT_EQ(fresh.var_count(), 6);
    for (int v = 0; v < 6; ++v) EXPECT_EQ(fresh.level_of_var(v), v);
    EXPECT_EQ(v5.variable(), 5);
    EXPECT_TRUE(v5.low_child() == fresh.true_bdd());
    EXPECT_TRUE(v5.high_child() == fresh.false_bdd());
    EXPECT_TRUE((!v5) == fresh.ithvar(5));
}

TEST_F(BddCornerTest, ConstantsSitBelowEveryVariable)
{
    for (const BDD_JBDD& c : {t, f}) {
        EXPECT_EQ(c.level(), mgr.var_count());
        EXPECT_EQ(c.variable(), -1);
        EXPECT_TRUE(c.low_child() == c);
        EXPECT_TRUE(c.high_child() == c);
        EXPECT_EQ(c.size(), 0);
        EXPECT_TRUE(c.build_support().empty());
        std::vector<BDD_JBDD> cuts = c.get_cut_nodes(2);
        ASSERT_EQ(cuts.size(), 1u);
        EXPECT_TRUE(cuts[0] == c);
    }
    EXPECT_TRUE((!t) == f);
    EXPECT_NE(t.node_index(), f.node_index());
    EXPECT_EQ(x0.size(), 1);
    EXPECT_EQ(x0.get_cut_nodes(1).size(), 2u);  // both constants
}

TEST_F(BddCornerTest, ComposeCornerCases)
{
    BDD_JBDD g = (x0 & x1) | ((!x0) & x2);
    EXPECT_TRUE(g.Compose(t, 0) == x1);
    EXPECT_TRUE(g.Compose(f, 0) == x2);
    EXPECT_TRUE(g.Compose(x0, 0) == g);       // a variable for itself
    EXPECT_TRUE(g.Compose(x2 ^ x1, 3) == g);  // not in the support
    EXPECT_TRUE(g.Compose(x2, 40) == g);      // not made
    EXPECT_EQ(mgr.var_count(), 3);
    EXPECT_TRUE(t.Compose(x1, 0) == t);
    EXPECT_TRUE(g.Compose(!x0, 0) == (((!x0) & x1) | (x0 & x2)));
    EXPECT_TRUE(g.Compose(x1, 0) == (x1 | x2));  // the substitute may use other support variables
    EXPECT_TRUE(g.Compose(x1 & x2, 2) == (x1 & (x0 | x2)));
}

TEST_F(BddCornerTest, ConstrainCornerCases)
{
    BDD_JBDD g = (x0 & x1) | x2;
    EXPECT_TRUE(g.Constrain(t) == g);
    EXPECT_TRUE(g.Constrain(f) == f);
    EXPECT_TRUE(t.Constrain(x0) == t);
    EXPECT_TRUE(f.Constrain(x1 & x2) == f);
    EXPECT_TRUE(g.Constrain(g) == t);
    EXPECT_TRUE(g.Constrain(!g) == f);
    EXPECT_TRUE(g.Constrain(x0) == (x1 | x2));
    EXPECT_TRUE(g.Constrain(!x2) == (x0 & x1));
    EXPECT_TRUE(x2.Constrain(x0) == x2);  // the care set's variable is not in f
    // A care set over variables above f's: nearest points decide.
    EXPECT_TRUE(x2.Constrain(x0 ^ x2) == !x0);
}

TEST_F(BddCornerTest, QuantifyingAbsentVariablesChangesNothing)
{
    BDD_JBDD g = x0 ^ x2;
    EXPECT_TRUE(g.Exist(1) == g);
    EXPECT_TRUE(g.ForAll(x1) == g);
    EXPECT_TRUE(g.Exist(9) == g);
    EXPECT_EQ(mgr.var_count(), 3);
    EXPECT_TRUE(g.Exist(t) == g);
    EXPECT_TRUE(g.Exist(f) == g);
    EXPECT_TRUE(g.Exist(x0) == t);
    EXPECT_TRUE(g.ForAll(x0) == f);
    EXPECT_TRUE((x0 & x1).ForAll(x0 & x1) == f);
    EXPECT_TRUE((x0 | x1).ForAll(x0) == x1);
}

TEST_F(BddCornerTest, CutLevelsOutsideTheOrder)
{
    BDD_JBDD g = (x0 & x1) ^ x2;
    std::vector<BDD_JBDD> top = g.get_cut_nodes(0);
    ASSERT_EQ(top.size(), 1u);
    EXPECT_TRUE(top[0] == g);
    std::vector<BDD_JBDD> bottom = g.get_cut_nodes(10);
    EXPECT_EQ(bottom.size(), 2u);
    // x0 x1 above the cut: cofactors x2 (00, 01, 10) and !x2 (11).
    std::vector<BDD_JBDD> two = g.get_cut_nodes(2);
    ASSERT_EQ(two.size(), 2u);
    EXPECT_TRUE(two[0] == x2);  // the all-low path comes first
    EXPECT_TRUE(two[1] == !x2);
}

TEST_F(BddCornerTest, DotFormNamesEveryFunctionAndBothLeaves)
{
    BDD_JBDD g = (x0 & x1) ^ x2;
    std::FILE* fp = std::tmpfile();
    ASSERT_NE(fp, nullptr);
    mgr.fprint_bdds_as_dot(fp, {g, x1});
    std::rewind(fp);
    std::string text;
    for (int c; (c = std::fgetc(fp)) != EOF;) text.push_back(char(c));
    std::fclose(fp);
    EXPECT_EQ(text.rfind("digraph", 0), 0u);
    EXPECT_NE(text.find("f0 ->"), std::string::npos);
    EXPECT_NE(text.find("f1 ->"), std::string::npos);
    for (const char* label : {"\"v0\"", "\"v1\"", "\"v2\"", "label=\"1\"", "label=\"0\""})
        EXPECT_NE(text.find(label), std::string::npos) << label;
    // One high and one low arrow per function node, one arrow per root: the
    // graph of g has x0, x1 and x2 / !x2 below (five functions, x1 shared).
    size_t arrows = 0;
    for (size_t p = text.find("->"); p != std::string::npos; p = text.find("->", p + 2)) ++arrows;
    EXPECT_EQ(arrows, 2u + 2u * 5u);
    EXPECT_EQ(text.substr(text.size() - 2), "}\n");
}

}  // namespace

}  // namespace bdd_corner_test
