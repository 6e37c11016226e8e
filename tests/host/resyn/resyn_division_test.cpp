// RESYN Boolean division, acceptance and LUT masks on hand-made intervals.

#include <algorithm>
#include <fstream>
#include <random>

#include "log_capture.h"
#include "resyn_test_support.h"

namespace resyn_division_test {

using namespace resyn_test;

namespace {

const char* const k_pair = ".model pair\n.inputs a b\n.outputs y\n.names a b y\n11 1\n.end\n";

std::unique_ptr<CDB_ATOM_NETLIST> pair_netlist(int family)
{
    const std::string path = "resyn_division.blif";
    std::ofstream(path) << k_pair;
    return read_blif(path, family);
}

// A RESYN whose cofactor order the test chooses.
class MASK_RESYN : public TEST_RESYN
{
public:
    MASK_RESYN(MORV_API* api, const MORV_PARAMETER_MAP* params, bool swap) : TEST_RESYN(api, params), m_swap(swap) {}
    bool swaps_cofactors() override { return m_swap; }

private:
    bool m_swap;
};

// The division state of one root: n variables of the given ratios, the
// root's solution at sr and area, noise 0.02 (stage 0.1).
struct DIVISION : public ::testing::Test
{
    DIVISION() : c(pair_netlist(CDB_FAMILY_BRK), CDB_FAMILY_BRK), r(c.api, &params)
    {
        r.set_root_state(0.0, 0.1);
        r.divide_enabled = true;
    }

    void start(const std::vector<double>& ratios, double sr, double area)
    {
        r.add_vars(ratios);
        soln.sr = sr;
        soln.area = area;
        r.set_solution_state(&soln, 0, 0, 0, 0.0);
    }
    BDD_JBDD v(int i) { return r.get_bdd_mgr()->ithvar(i); }
    // x0 & x1 & ... of the first n variables.
    BDD_JBDD conj(int n)
    {
        BDD_JBDD f = r.get_bdd_mgr()->true_bdd();
        for (int i = 0; i < n; ++i) f = f & v(i);
        return f;
    }

    RESYN_COMPILE c;
    MORV_PARAMETER_MAP params;
    TEST_RESYN r;
    RESYN_SOLN soln;
};

using ResynDivision = DIVISION;
using ResynAccept = DIVISION;

}  // namespace

TEST_F(ResynDivision, AFunctionThatFitsNeedsNoDivisor)
{
    start({0.0, 0.5, 0.5}, 0.0, 1.0);
    const BDD_JBDD f = (v(0) & v(1)) | v(2);
    r.set_interval(f, f, 6);
    MORV_LOG_CAPTURE log(100);
    EXPECT_TRUE(r.divide());
    EXPECT_EQ(r.vars().size(), 3u);
    EXPECT_TRUE(printed(log.lines(), "div. iteration 1, literals 5, vars 3."));
    EXPECT_FALSE(printed(log.lines(), "div. iteration 2"));
}

TEST_F(ResynDivision, LutEstimateAndBothEarlyCutoffsAtTheirBoundaries)
{
    start(std::vector<double>(14, 0.5), 0.0, 100.0);
    // 14 variables on a 6-input root: 3 too many for root and one divisor.
    r.set_interval(conj(14), conj(14), 6);
    EXPECT_EQ(r.estimate_divisor_luts(1), 2);
    EXPECT_EQ(r.estimate_divisor_luts(3), 4);
    r.set_interval(conj(7), conj(7), 6);
    EXPECT_EQ(r.estimate_divisor_luts(1), 1);
    // Area: one LUT more than the bound allows unless an expansion freed one.
    r.set_solution_state(&soln, 0, 0, 0, 0.0);
    EXPECT_FALSE(r.can_still_improve(1, 1.0));
    r.set_solution_state(&soln, 0, 1, 0, 0.0);
    EXPECT_TRUE(r.can_still_improve(1, 1.0));
    r.set_solution_state(&soln, 0, 1, 1, 0.0);
    EXPECT_FALSE(r.can_still_improve(1, 1.0));
    // Timing exactly at s + n is no gain; then only an area saving helps.
    r.set_solution_state(&soln, 10, 0, 0, 0.5);
    soln.sr = 0.2;
    const double at = soln.sr + r.noise_sr();
    EXPECT_TRUE(r.can_still_improve(1, std::nextafter(at, 1.0)));
    soln.area = 2.5 + 0.02;
    EXPECT_TRUE(r.can_still_improve(1, at));
    soln.area = 2.5;
    EXPECT_FALSE(r.can_still_improve(1, at));
    EXPECT_FALSE(r.can_still_improve(1, soln.sr - r.noise_sr()));
    // The run's message and verdict.
    soln.area = 100.0;
    r.set_solution_state(&soln, 0, 0, 0, 0.0);
    MORV_LOG_CAPTURE log(100);
    EXPECT_FALSE(r.divide());
    EXPECT_TRUE(printed(log.lines(), "div. early cutoff."));
}

TEST_F(ResynDivision, DivisionEndsInAFittingChainWhoseCompositionIsTheFunction)
{
    std::mt19937 random(7);
    for (int round = 0; round < 20; ++round) {
        TEST_RESYN t(c.api, &params);
        t.set_root_state(0.0, 0.1);
        t.divide_enabled = true;
        std::vector<double> ratios;
        for (int i = 0; i < 9; ++i) ratios.push_back((random() % 100) / 100.0);
        t.add_vars(ratios);
        RESYN_SOLN s;
        s.sr = -1.0;
        s.area = 100.0;
        t.set_solution_state(&s, 100, 0, 0, 0.0);
        BDD_JBDD f = t.get_bdd_mgr()->false_bdd();
        for (int cube = 0; cube < 5; ++cube) {
            BDD_JBDD p = t.get_bdd_mgr()->true_bdd();
            for (int i = 0; i < 9; ++i) {
                const unsigned pick = random() % 4;
                if (pick == 0) p = p & t.get_bdd_mgr()->ithvar(i);
                if (pick == 1) p = p & t.get_bdd_mgr()->nithvar(i);
            }
            f = f | p;
        }
        t.set_interval(f, f, 4);
        if (!t.divide()) continue;
        BDD_JBDD g = t.div().cover;
        EXPECT_LE(static_cast<int>(g.support_size()), 4) << round;
        // Substitute the divisors back, last first.
        for (int i = static_cast<int>(t.vars().size()) - 1; i >= 9; --i) {
            EXPECT_LE(t.vars()[static_cast<size_t>(i)]->bdd.support_size(), 6) << round;
            g = g.Compose(t.vars()[static_cast<size_t>(i)]->bdd, i);
        }
        EXPECT_TRUE(g == f) << round;
    }
}

TEST_F(ResynDivision, RefinementKeepsTheFirstGain)
{
    std::mt19937 random(11);
    int refined = 0;
    for (int round = 0; round < 40; ++round) {
        TEST_RESYN t(c.api, &params);
        t.set_root_state(0.0, 0.1);
        std::vector<double> ratios;
        for (int i = 0; i < 8; ++i) ratios.push_back((random() % 100) / 100.0);
        t.add_vars(ratios);
        BDD_JBDD f = t.get_bdd_mgr()->false_bdd();
        for (int cube = 0; cube < 4; ++cube) {
            BDD_JBDD p = t.get_bdd_mgr()->true_bdd();
            for (int i = 0; i < 8; ++i)
                if (random() % 2) p = p & t.get_bdd_mgr()->ithvar(i);
            f = f | p;
        }
        // Too wide for a 1-input root, so the gain is what refining keeps.
        t.set_interval(f, f, 1);
        const BDD_JBDD d = f.Constrain(t.get_bdd_mgr()->ithvar(0));
        int cost = 0;
        const BDD_JBDD result = t.refine_divisor(d, cost);
        EXPECT_EQ(cost, t.evaluate_divisor(d, nullptr)) << round;
        EXPECT_GE(t.evaluate_divisor(result, nullptr), cost) << round;
        const std::vector<int> before = d.build_support();
        for (int var : result.build_support())
            EXPECT_NE(std::find(before.begin(), before.end(), var), before.end()) << round;
        if (result != d) ++refined;
    }
    EXPECT_GT(refined, 0);
}

TEST_F(ResynDivision, DontCaresResetOnceTheBoundsReach256Nodes)
{
    // (x0 & x10) | (x1 & x11) | ... in this order has thousands of nodes,
    // and hundreds once a divisor takes one pair out.
    start(std::vector<double>(20, 0.5), 0.0, 100.0);
    BDD_JBDD f = r.get_bdd_mgr()->false_bdd();
    for (int i = 0; i < 10; ++i) f = f | (v(i) & v(i + 10));
    ASSERT_GE(f.size(), 1024);
    r.set_interval(f, f | (v(0) & v(1) & v(2)), 6);
    {
        MORV_LOG_CAPTURE log(100);
        r.apply_divisor(v(0) & v(10));
        EXPECT_TRUE(printed(log.lines(), "div. resetting don't cares."));
        EXPECT_TRUE(r.div().lower == r.div().cover);
        EXPECT_TRUE(r.div().upper == r.div().cover);
    }
    // One bound alone at 256 nodes or more is enough.
    r.set_interval(f, r.get_bdd_mgr()->true_bdd(), 6);
    {
        MORV_LOG_CAPTURE log(100);
        r.apply_divisor(v(0) & v(10));
        EXPECT_TRUE(printed(log.lines(), "div. resetting don't cares."));
    }
    // A small interval keeps its don't cares.
    const BDD_JBDD g = (v(0) & v(1)) | v(2);
    r.set_interval(g, g | v(3), 6);
    MORV_LOG_CAPTURE log(100);
    r.apply_divisor(v(0) & v(1));
    EXPECT_FALSE(printed(log.lines(), "div. resetting don't cares."));
    EXPECT_FALSE(r.div().lower == r.div().upper);
}

// A RESYN whose LUTs accept no function: division can only narrow its
// divisor until nothing gains.
class NO_LUT_RESYN : public TEST_RESYN
{
public:
    using TEST_RESYN::TEST_RESYN;
    bool is_lut_function_legal(BDD_JBDD, const std::vector<int>&) override { return false; }
};

TEST_F(ResynDivision, NoDivisorFailsTheDivision)
{
    NO_LUT_RESYN t(c.api, &params);
    t.set_root_state(0.0, 0.1);
    t.divide_enabled = true;
    t.add_vars({0.5, 0.5, 0.5, 0.5});
    RESYN_SOLN s;
    s.sr = -1.0;
    s.area = 100.0;
    t.set_solution_state(&s, 100, 0, 0, 0.0);
    BDD_JBDD_MGR* m = t.get_bdd_mgr();
    const BDD_JBDD f = (m->ithvar(0) & m->ithvar(1)) | (m->ithvar(2) & m->ithvar(3));
    t.set_interval(f, f, 6);
    MORV_LOG_CAPTURE log(100);
    EXPECT_FALSE(t.divide());
    EXPECT_TRUE(printed(log.lines(), "div. cannot find divisor."));
}

TEST_F(ResynDivision, CriticalVariablesWeighMore)
{
    start({0.0, 0.25, 0.5, 2.0}, 0.0, 1.0);
    r.set_root_state(0.0, 0.1);
    // s = 5 stages of 0.1: at the root 5 + 20, a quarter up 5 + 10, beyond s 5.
    EXPECT_EQ(r.get_knock_weight(0), 25);
    EXPECT_EQ(r.get_knock_weight(1), 15);
    EXPECT_EQ(r.get_knock_weight(2), 5);
    EXPECT_EQ(r.get_knock_weight(3), 5);
}

TEST_F(ResynAccept, ImprovementRulesAtTheirBoundaries)
{
    start({0.5}, 0.2, 1.01);
    const double at = soln.sr + r.noise_sr();
    MORV_LOG_CAPTURE log(100);
    // At s + n: no timing gain; saving exactly 0.01 LUT is no saving.
    EXPECT_FALSE(r.is_improvement(0, at, true));
    soln.area = 1.02;
    EXPECT_TRUE(r.is_improvement(0, at, true));
    EXPECT_TRUE(printed(log.lines(), "improved area 1.020 -> 1.000"));
    soln.area = 1.0;
    EXPECT_TRUE(r.is_improvement(0, std::nextafter(at, 1.0), true));
    EXPECT_TRUE(printed(log.lines(), "improved timing 0.200 -> 0.220, area 1.000 -> 1.000"));
    // Area bound 0: one expansion pays for one divisor, not for two.
    r.set_solution_state(&soln, 0, 1, 0, 0.0);
    EXPECT_TRUE(r.is_improvement(1, 0.9, false));
    EXPECT_FALSE(r.is_improvement(2, 0.9, false));
    r.set_solution_state(&soln, 0, 0, 0, 0.0);
    EXPECT_FALSE(r.is_improvement(1, 0.9, false));
}

TEST_F(ResynAccept, ConstantConesAndSolutionRecords)
{
    CDB_ATOM_NODE* y = nullptr;
    for (CDB_ATOM_NODE* node : *c.design->netlist())
        if (node->is_lcell_comb()) y = node;
    ASSERT_NE(y, nullptr);
    CDB_ATOM_OTERM* a = y->get_input_term_by_type(DB_DATA_A)->get_source();
    CDB_ATOM_OTERM* b = y->get_input_term_by_type(DB_DATA_B)->get_source();
    r.add_vars({0.3, 0.6}, {a, b});
    soln.sr = 0.0;
    soln.area = 5.0;
    r.set_solution_state(&soln, 0, 0, 0, 0.0);
    for (bool one : {true, false}) {
        const BDD_JBDD k = one ? r.get_bdd_mgr()->true_bdd() : r.get_bdd_mgr()->false_bdd();
        r.set_interval(k, k, 6);
        ASSERT_TRUE(r.accept_division()) << one;
        ASSERT_EQ(soln.luts.size(), 1u);
        EXPECT_TRUE(soln.luts[0].inputs.empty());
        EXPECT_EQ(soln.luts[0].mask, one ? ~uint64_t{0} : uint64_t{0});
        // Neither input is read any more: both cut a path.
        EXPECT_TRUE(soln.cuts_path);
        ASSERT_EQ(soln.inputs.size(), 2u);
        EXPECT_FALSE(soln.inputs[0].used);
        soln.sr = 0.0;
    }
    // y = a & divisor(b): one divisor LUT, then the root reading a and it.
    r.mutable_vars()[1]->in_support = true;
    r.mutable_vars()[0]->in_support = true;
    r.append_divisor_var(r.get_bdd_mgr()->nithvar(1));
    const BDD_JBDD f = r.get_bdd_mgr()->ithvar(0) & r.get_bdd_mgr()->ithvar(2);
    r.set_interval(f, f, 6);
    soln.sr = 0.0;
    r.set_solution_state(&soln, 1, 0, 0, 0.0);
    ASSERT_TRUE(r.accept_division());
    ASSERT_EQ(soln.luts.size(), 2u);
    EXPECT_EQ(soln.luts[0].inputs, std::vector<int>{1});
    EXPECT_EQ(soln.luts[1].inputs, (std::vector<int>{0, 2}));
    EXPECT_FALSE(soln.cuts_path);
    EXPECT_DOUBLE_EQ(soln.area, 2.0);
    EXPECT_DOUBLE_EQ(soln.sr, 0.3);
}

TEST_F(ResynAccept, MasksFollowTheCofactorOrder)
{
    for (bool swap : {false, true}) {
        MASK_RESYN m(c.api, &params, swap);
        const BDD_JBDD x0 = m.get_bdd_mgr()->ithvar(0);
        const BDD_JBDD x1 = m.get_bdd_mgr()->ithvar(1);
        uint64_t mask = 0;
        m.bdd_to_lutmask(x0, {0}, 0, mask, 0);
        // Input 0 of a 6-input LUT: bit i set when bit 0 of i is set, or
        // with swapped cofactors when it is clear.
        EXPECT_EQ(mask, swap ? 0x5555555555555555u : 0xAAAAAAAAAAAAAAAAu) << swap;
        mask = 0;
        m.bdd_to_lutmask(x0 & !x1, {0, 1}, 0, mask, 0);
        EXPECT_EQ(mask, swap ? 0x4444444444444444u : 0x2222222222222222u) << swap;
        // A function that skips a listed input is copied across it.
        mask = 0;
        m.bdd_to_lutmask(x1, {0, 1}, 0, mask, 0);
        EXPECT_EQ(mask, swap ? 0x3333333333333333u : 0xCCCCCCCCCCCCCCCCu) << swap;
    }
}

TEST(ResynAccept4, ReversedCofactorMaskOfInputZeroInAFourInputLut)
{
    RESYN_COMPILE c(pair_netlist(CDB_FAMILY_ZEPLA), CDB_FAMILY_ZEPLA);
    MORV_PARAMETER_MAP params;
    for (bool swap : {false, true}) {
        MASK_RESYN m(c.api, &params, swap);
        ASSERT_EQ(m.get_num_data_ports(), 4);
        uint64_t mask = 0;
        m.bdd_to_lutmask(m.get_bdd_mgr()->ithvar(0), {0}, 0, mask, 0);
        EXPECT_EQ(mask, swap ? 0x5555u : 0xAAAAu) << swap;
    }
}

}  // namespace resyn_division_test
