// BDD resynthesis up to a checked decomposition, on small netlists: node
// scores, the threshold ramp, the walk over the candidates, the cone BDD
// against the host's evaluation (inverted, unconnected, constant and
// register-feedback inputs, every bit order), expansion limits, sifting,
// cut widths, cut choice and the encoding.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "log_capture.h"
#include "bdd_syn_fixture.h"

namespace bdd_syn_test {

using namespace bdd_syn_test;

namespace {

// Writes a BLIF file into the test's folder and gives its path.
std::string write_blif(const std::string& name, const std::string& body)
{
    std::ofstream(name) << body;
    return name;
}

// z reads a (through a chain of four LUTs, so it is critical) and three
// primary inputs; y reads four chains of equal length; w reads two inputs.
const char* k_scores_blif = ".model scores\n.inputs a b c d p q r s\n.outputs z y w\n"
                            ".names a b a1\n10 1\n.names a1 c a2\n10 1\n.names a2 d a3\n10 1\n.names a3 b a4\n10 1\n"
                            ".names a4 b c d z\n1000 1\n0111 1\n"
                            ".names p q p1\n11 1\n.names p1 q p2\n11 1\n.names q r q1\n11 1\n.names q1 r q2\n11 1\n"
                            ".names r s r1\n11 1\n.names r1 s r2\n11 1\n.names s p s1\n11 1\n.names s1 p s2\n11 1\n"
                            ".names p2 q2 r2 s2 y\n1111 1\n0000 1\n"
                            ".names a4 c w\n10 1\n.end\n";

// The cone of `base` as the per-node flow builds it, before decomposition.
template <typename SYN>
BDD_JBDD build_cone(SYN& syn, CDB_ATOM_NODE* base, int* expansions = nullptr, int* duplications = nullptr)
{
    MORV_BDD_SYN_ITERM_SRC root;
    syn.make_root_record(base, &root);
    BDD_JBDD f = syn.build_node_bdd(root, base, 0);
    syn.m_slack_bound = syn.get_slack_bound(f) + 1;
    int e = 0, d = 0;
    f = syn.expand_cone(f, base, &e, &d);
    if (expansions) *expansions = e;
    if (duplications) *duplications = d;
    return f;
}

template <typename SYN>
std::string cone_against_host(SYN& syn, CDB_ATOM_NODE* base, const BDD_JBDD& f)
{
    std::vector<const MORV_BDD_SYN_ITERM_SRC*> records;
    for (const auto& v : syn.m_vars) records.push_back(v.get());
    return compare_cone_with_host(base, f, records, syn.m_bdd_mgr->true_bdd());
}

}  // namespace

// ---------------------------------------------------------------- scores and the walk

TEST(BddSyn, OneDominatingInputOutranksEvenlyCriticalOnesAndTheAverageCountsEveryAvailableInput)
{
    BDD_COMPILE c(write_blif("scores.blif", k_scores_blif), CDB_FAMILY_BRK);
    TEST_BDD_SYN_6LUT syn(c.api);
    syn.m_slack_ratio_curr = 1.0;  // every connected input counts as critical
    MORV_BDD_SYN_SCORE z, y, w;
    ASSERT_TRUE(syn.score_node(c.node_named("z"), &z));
    ASSERT_TRUE(syn.score_node(c.node_named("y"), &y));
    ASSERT_TRUE(syn.score_node(c.node_named("w"), &w));
    EXPECT_GT(z.score, y.score);
    EXPECT_EQ(w.available_inputs, 6);
    // w has two connected inputs of six available.
    CDB_ATOM_NODE* wn = c.node_named("w");
    double lo = 1.0, hi = 0.0, sum = 0.0;
    for (int port : {DB_DATA_A, DB_DATA_B, DB_DATA_C, DB_DATA_D, DB_DATA_E, DB_DATA_F}) {
        CDB_ATOM_ITERM* t = wn->get_input_term_by_type(port);
        if (t == nullptr || !t->is_connected()) continue;
        const double cr = 1.0 - c.timing->get_slack_ratio(t);
        lo = std::min(lo, cr);
        hi = std::max(hi, cr);
        sum += cr;
    }
    EXPECT_DOUBLE_EQ(w.score, std::pow(hi, 4.0) * (hi - sum / 6 + 0.01));
    (void)lo;
    std::remove("scores.blif");
}

namespace {
// A branch that says every node reads its own register back.
class FEEDBACK_SYN : public TEST_BDD_SYN_6LUT
{
public:
    using TEST_BDD_SYN_6LUT::TEST_BDD_SYN_6LUT;
    bool uses_register_feedback(CDB_ATOM_NODE* /*node*/) override { return feedback; }
    bool feedback = false;
};
}  // namespace

TEST(BddSyn, RegisterFeedbackAddsTheLeastCriticalInputOnce)
{
    BDD_COMPILE c(write_blif("scores.blif", k_scores_blif), CDB_FAMILY_BRK);
    FEEDBACK_SYN syn(c.api);
    syn.m_slack_ratio_curr = 1.0;
    CDB_ATOM_NODE* z = c.node_named("z");
    MORV_BDD_SYN_SCORE plain, fed;
    ASSERT_TRUE(syn.score_node(z, &plain));
    syn.feedback = true;
    ASSERT_TRUE(syn.score_node(z, &fed));
    double lo = 1.0, hi = 0.0, sum = 0.0;
    for (int port : {DB_DATA_A, DB_DATA_B, DB_DATA_C, DB_DATA_D}) {
        const double cr = 1.0 - c.timing->get_slack_ratio(z->get_input_term_by_type(port));
        lo = std::min(lo, cr);
        hi = std::max(hi, cr);
        sum += cr;
    }
    EXPECT_DOUBLE_EQ(plain.score, std::pow(hi, 4.0) * (hi - sum / 6 + 0.01));
    EXPECT_DOUBLE_EQ(fed.score, std::pow(hi, 4.0) * (hi - (sum + lo) / 6 + 0.01));
    std::remove("scores.blif");
}

TEST(BddSyn, TheThresholdsRampOverTheIterationsAndOneIterationRunsAtTheStart)
{
    BDD_COMPILE c(write_blif("scores.blif", k_scores_blif), CDB_FAMILY_BRK);
    TEST_BDD_SYN_6LUT syn(c.api);
    const double sr[] = {0.18, 0.14, 0.10, 0.06};
    const double area[] = {1.01, 1.51, 2.01, 2.51};
    for (int pass = 0; pass < 4; ++pass) {
        EXPECT_NEAR(syn.ramp(0.18, 0.06, pass), sr[pass], 1e-12);
        EXPECT_NEAR(syn.ramp(1.01, 2.51, pass), area[pass], 1e-12);
    }
    MORV_PARAMETER_MAP one{{"I", "1"}, {"SRB", "1.0"}};
    TEST_BDD_SYN_6LUT single(c.api, &one);
    EXPECT_EQ(single.ramp(0.18, 0.06, 0), 0.18);
    MORV_LOG_CAPTURE log(100);
    single.do_iter();
    EXPECT_EQ(single.m_slack_ratio_curr, 1.0);
    int candidates = -1;
    for (const std::string& line : log.lines()) std::sscanf(line.c_str(), "num syn nodes: %d", &candidates);
    EXPECT_GT(candidates, 0);
    std::remove("scores.blif");
}

TEST(BddSyn, DoneNodesAreSkippedAndEqualScoresGoByNodeId)
{
    BDD_COMPILE c(write_blif("scores.blif", k_scores_blif), CDB_FAMILY_BRK);
    CDB_ATOM_NODE* y = c.node_named("y");
    CDB_ATOM_NODE* z = c.node_named("z");
    MORV_BDD_SYN_SCORE_LESS less;
    const MORV_BDD_SYN_SCORE a{z, 0.5, 6}, b{y, 0.5, 6};
    EXPECT_EQ(less(a, b), z->get_id() < y->get_id());
    EXPECT_EQ(less(b, a), y->get_id() < z->get_id());
    EXPECT_TRUE(less(MORV_BDD_SYN_SCORE{y, 0.6, 6}, MORV_BDD_SYN_SCORE{z, 0.5, 6}));

    MORV_PARAMETER_MAP all{{"SRB", "1.0"}};
    TEST_BDD_SYN_6LUT syn(c.api, &all);
    syn.m_done_nodes.insert(static_cast<int>(z->get_id()));
    MORV_LOG_CAPTURE log(100);
    syn.do_iter();
    int candidates = -1, walked = 0;
    bool z_seen = false;
    for (const std::string& line : log.lines()) {
        std::sscanf(line.c_str(), "num syn nodes: %d", &candidates);
        walked += line.rfind("syn node ", 0) == 0;
        z_seen = z_seen || line == "  name: " + MORV_NET_UTIL::get_hpath_name(z);
    }
    EXPECT_GT(candidates, 1);
    EXPECT_EQ(walked, candidates - 1);
    EXPECT_FALSE(z_seen);
    EXPECT_TRUE(syn.m_done_nodes.empty());
    std::remove("scores.blif");
}

// ---------------------------------------------------------------- cone and expansion

TEST(BddSyn, EveryBitOrderReadsTheMaskAsTheHostEvaluatesIt)
{
    const std::string blif = write_blif("order.blif", ".model order\n.inputs a b c d e f\n.outputs z\n"
                                                      ".names a b c d e f z\n1-0-1- 1\n01--01 1\n-1100- 1\n.end\n");
    for (int family : {CDB_FAMILY_BRK, CDB_FAMILY_KESTLIN, CDB_FAMILY_RZK, CDB_FAMILY_OBRAN, CDB_FAMILY_MRL}) {
        BDD_COMPILE c(blif, family);
        TEST_BDD_SYN_6LUT syn(c.api);
        CDB_ATOM_NODE* z = c.node_named("z");
        const BDD_JBDD f = build_cone(syn, z);
        EXPECT_EQ(f.support_size(), 6) << family;
        EXPECT_EQ(cone_against_host(syn, z, f), "") << family;
        syn.clear_vars();
    }
    BDD_COMPILE c4(write_blif("order4.blif", ".model order4\n.inputs a b c d\n.outputs z\n"
                                             ".names a b c d z\n1-0- 1\n01-1 1\n.end\n"),
                   CDB_FAMILY_ZEPLA);
    TEST_BDD_SYN_4LUT syn4(c4.api);
    CDB_ATOM_NODE* z4 = c4.node_named("z");
    const BDD_JBDD f4 = build_cone(syn4, z4);
    EXPECT_EQ(cone_against_host(syn4, z4, f4), "");
    std::remove("order.blif");
    std::remove("order4.blif");
}

TEST(BddSyn, InvertedUnconnectedConstantAndFedBackInputsBuildTheFunctionTheHostEvaluates)
{
    // n1 drives z through an input that is inverted below; n2 reads a both
    // plainly and inverted; z's input d is cut off and e tied to VCC; q
    // is a register fed from z.
    const std::string blif = write_blif("edits.blif", ".model edits\n.inputs a b c d e clk\n.outputs z\n"
                                                      ".names a b n1\n10 1\n01 1\n"
                                                      ".names a c n2\n11 1\n00 1\n"
                                                      ".names n1 n2 q d e z\n1-0-- 1\n-1-1- 1\n0--11 1\n11--0 1\n"
                                                      ".latch z q re clk 2\n.end\n");
    for (int family : {CDB_FAMILY_BRK, CDB_FAMILY_MRL}) {
        BDD_COMPILE c(blif, family, false, [](CDB_ATOM_NETLIST& netlist) {
            for (CDB_ATOM_NODE* node : netlist) {
                if (!node->is_lcell_comb()) continue;
                const std::string name = short_name(node);
                if (name == "z") {
                    node->get_input_term_by_type(DB_DATA_A)->set_invert();
                    node->get_input_term_by_type(DB_DATA_D)->disconnect_from_source(CDB_NET_ITERM::UNCONNECTED);
                    node->get_input_term_by_type(DB_DATA_E)->disconnect_from_source(CDB_NET_ITERM::UNCONNECTED);
                    node->get_input_term_by_type(DB_DATA_E)->set_vcc();
                }
                if (name == "n2") {
                    CDB_ATOM_ITERM* second = node->get_input_term_by_type(DB_DATA_B);
                    CDB_ATOM_OTERM* a = node->get_input_term_by_type(DB_DATA_A)->get_source();
                    second->disconnect_from_source(CDB_NET_ITERM::UNCONNECTED);
                    second->insert_fanin(a);
                    second->set_invert();
                }
            }
        });
        TEST_BDD_SYN_6LUT syn(c.api);
        CDB_ATOM_NODE* z = c.node_named("z");
        int e = 0;
        const BDD_JBDD f = build_cone(syn, z, &e);
        EXPECT_GE(e, 1) << family;
        EXPECT_EQ(cone_against_host(syn, z, f), "") << family;
        bool vcc = false;
        for (const auto& v : syn.m_vars) {
            if (v->is_vcc) {
                vcc = true;
                EXPECT_EQ(v->fanout, 1);
                EXPECT_EQ(v->times_expanded, 0);
            }
        }
        EXPECT_TRUE(vcc) << family;
        syn.clear_vars();
    }
    std::remove("edits.blif");
}

TEST(BddSyn, OneSourceOnTwoInputsIsOneVariableAndExpansionCountsItsDuplicates)
{
    // z reads n twice; m has a sink outside the cone (o).
    const std::string blif = write_blif("uses.blif", ".model uses\n.inputs a b c d\n.outputs z o\n"
                                                     ".names a b n\n11 1\n.names c d m\n10 1\n"
                                                     ".names n m c z\n1-1 1\n01- 1\n.names m d o\n11 1\n.end\n");
    BDD_COMPILE c(blif, CDB_FAMILY_BRK, false, [](CDB_ATOM_NETLIST& netlist) {
        for (CDB_ATOM_NODE* node : netlist)
            if (node->is_lcell_comb() && short_name(node) == "z") {
                CDB_ATOM_ITERM* third = node->get_input_term_by_type(DB_DATA_C);
                third->disconnect_from_source(CDB_NET_ITERM::UNCONNECTED);
                third->insert_fanin(node->get_input_term_by_type(DB_DATA_A)->get_source());
            }
    });
    CDB_ATOM_NODE* z = c.node_named("z");
    {
        TEST_BDD_SYN_6LUT syn(c.api);
        syn.m_max_expansions = 0;
        MORV_BDD_SYN_ITERM_SRC root;
        syn.make_root_record(z, &root);
        syn.build_node_bdd(root, z, 0);
        ASSERT_EQ(syn.m_vars.size(), 2u);
        EXPECT_EQ(syn.m_vars[0]->uses, 2);
        EXPECT_EQ(syn.m_vars[1]->uses, 1);
        EXPECT_EQ(syn.m_vars[1]->fanout, 2);  // m also drives o
        syn.clear_vars();
    }
    {
        // Room for every duplication: both drivers are absorbed, and only m
        // (which also drives o) is duplicated, its inputs counting the copy.
        TEST_BDD_SYN_6LUT syn(c.api);
        syn.m_avg_logic_level_delay = 1000000000;
        int e = 0, d = 0;
        const BDD_JBDD f = build_cone(syn, z, &e, &d);
        EXPECT_EQ(cone_against_host(syn, z, f), "");
        EXPECT_EQ(e, 2);
        EXPECT_EQ(d, 1);
        CDB_ATOM_OTERM* d_pin = c.node_named("o")->get_input_term_by_type(DB_DATA_B)->get_source();
        bool found = false;
        for (const auto& v : syn.m_vars)
            if (v->oterm == d_pin) {
                found = true;
                EXPECT_EQ(v->fanout, 3);  // m, o and the copy of m
            }
        EXPECT_TRUE(found);
        syn.clear_vars();
    }
    {
        TEST_BDD_SYN_6LUT syn(c.api);
        syn.m_max_bdd_nodes = 1;
        int e = -1;
        build_cone(syn, z, &e);
        EXPECT_EQ(e, 0);
        syn.clear_vars();
        syn.m_max_bdd_nodes = 32;
        syn.m_max_expansions = 1;
        build_cone(syn, z, &e);
        EXPECT_LE(e, 1);
        syn.clear_vars();
    }
    std::remove("uses.blif");
}

// ---------------------------------------------------------------- ordering and cuts

namespace {

// Records for six plain variables with the given slacks.
void make_records(TEST_BDD_SYN_6LUT& syn, const std::vector<int>& slacks)
{
    syn.clear_vars();
    for (size_t i = 0; i < slacks.size(); ++i) {
        MORV_OWNER<MORV_BDD_SYN_ITERM_SRC> v = MORV_MAKE_OWNER(MORV_BDD_SYN_ITERM_SRC);
        v->var_index = static_cast<int>(i);
        v->bdd = syn.m_bdd_mgr->ithvar(v->var_index);
        v->curr_slack = slacks[i];
        v->init_slack = slacks[i];
        v->slack_ratio = 0.5;
        syn.m_vars.push_back(std::move(v));
    }
}

BDD_JBDD random_function(BDD_JBDD_MGR& mgr, int vars, std::mt19937& rng)
{
    BDD_JBDD f = mgr.false_bdd();
    for (unsigned row = 0; row < (1u << vars); ++row) {
        if (rng() % 2 == 0) continue;
        BDD_JBDD cube = mgr.true_bdd();
        for (int v = 0; v < vars; ++v) cube &= ((row >> v) & 1) ? mgr.ithvar(v) : mgr.nithvar(v);
        f |= cube;
    }
    return f;
}

// Distinct cofactors of f by every value of the variables on levels 0 .. c-1.
int brute_force_width(BDD_JBDD_MGR& mgr, const BDD_JBDD& f, int c)
{
    std::set<unsigned> seen;
    for (unsigned bits = 0; bits < (1u << c); ++bits) {
        BDD_JBDD g = f;
        for (int l = 0; l < c; ++l)
            g = g.Compose(((bits >> l) & 1) ? mgr.true_bdd() : mgr.false_bdd(), mgr.variable_at(l));
        seen.insert(g.node_index());
    }
    return static_cast<int>(seen.size());
}

}  // namespace

TEST(BddSyn, SiftingKeepsCriticalVariablesBelowTheWindowAndTheIdentityOrderComesBack)
{
    BDD_COMPILE c(write_blif("scores.blif", k_scores_blif), CDB_FAMILY_BRK);
    TEST_BDD_SYN_6LUT syn(c.api);
    std::mt19937 rng(7);
    for (int round = 0; round < 20; ++round) {
        // Variables 1, 3 and 4 have slack to spare.
        make_records(syn, {100, 5000, 120, 7000, 6000, 90});
        syn.m_slack_bound = 90;
        syn.m_curr_logic_level_delay = 400;
        const BDD_JBDD f = random_function(*syn.m_bdd_mgr, 6, rng);
        const unsigned index = f.node_index();
        std::vector<MORV_BDD_SYN_ITERM_SRC*> list = {syn.m_vars[1].get(), syn.m_vars[3].get(), syn.m_vars[4].get()};
        syn.sift_vars(f, 3, list);
        for (int v : {1, 3, 4}) EXPECT_LT(syn.m_bdd_mgr->level_of_var(v), 3);
        for (int v : {0, 2, 5}) EXPECT_GE(syn.m_bdd_mgr->level_of_var(v), 3);
        EXPECT_EQ(f.node_index(), index);
        syn.restore_identity_order();
        for (int v = 0; v < syn.m_bdd_mgr->var_count(); ++v) EXPECT_EQ(syn.m_bdd_mgr->level_of_var(v), v);
    }
    // Without any slack margin no position is better: the list order stays.
    make_records(syn, {100, 5000, 120, 7000, 6000, 90});
    syn.m_slack_bound = 90;
    syn.m_curr_logic_level_delay = 0;
    const BDD_JBDD f = random_function(*syn.m_bdd_mgr, 6, rng);
    EXPECT_TRUE(std::isinf(syn.get_order_cost(f, 3, 3)) || syn.get_order_cost(f, 3, 3) > 0.0);
    std::vector<MORV_BDD_SYN_ITERM_SRC*> list = {syn.m_vars[4].get(), syn.m_vars[1].get(), syn.m_vars[3].get()};
    syn.sift_vars(f, 3, list);
    EXPECT_EQ(syn.m_bdd_mgr->level_of_var(4), 0);
    EXPECT_EQ(syn.m_bdd_mgr->level_of_var(1), 1);
    EXPECT_EQ(syn.m_bdd_mgr->level_of_var(3), 2);
    syn.restore_identity_order();
    syn.clear_vars();
    std::remove("scores.blif");
}

TEST(BddSyn, CutWidthsMatchBruteForceInEveryOrder)
{
    BDD_COMPILE c(write_blif("scores.blif", k_scores_blif), CDB_FAMILY_BRK);
    TEST_BDD_SYN_6LUT syn(c.api);
    make_records(syn, {0, 0, 0, 0, 0, 0, 0});
    std::mt19937 rng(11);
    for (int round = 0; round < 30; ++round) {
        const BDD_JBDD f = random_function(*syn.m_bdd_mgr, 7, rng);
        syn.move_var(static_cast<int>(rng() % 7), static_cast<int>(rng() % 7));
        for (int cut = 1; cut <= 6; ++cut)
            EXPECT_EQ(syn.get_cut_width(f, cut), brute_force_width(*syn.m_bdd_mgr, f, cut)) << round << " " << cut;
    }
    syn.restore_identity_order();
    // A bound set the function ignores has one cut node: no cut is chosen.
    const BDD_JBDD x5 = syn.m_bdd_mgr->ithvar(5);
    EXPECT_EQ(syn.get_cut_width(x5, 2), 1);
    EXPECT_EQ(syn.choose_cut(x5, 7, 3, 6), 0);
    syn.clear_vars();
    std::remove("scores.blif");
}

TEST(BddSyn, AWidthThreeCutTakesTwoEncodingsAndTheSpareCodeRepeatsTheThirdNode)
{
    BDD_COMPILE c(write_blif("scores.blif", k_scores_blif), CDB_FAMILY_BRK);
    TEST_BDD_SYN_6LUT syn(c.api);
    make_records(syn, {500, 500, 100, 100});
    syn.m_curr_logic_level_delay = 50;
    BDD_JBDD_MGR& m = *syn.m_bdd_mgr;
    const BDD_JBDD x0 = m.ithvar(0), x1 = m.ithvar(1), y0 = m.ithvar(2), y1 = m.ithvar(3);
    // Cofactors by (x0, x1): 00 -> 0, 01 and 10 -> y1, 11 -> y0.
    const BDD_JBDD f = (x0 & x1 & y0) | ((x0 ^ x1) & y1);
    const std::vector<BDD_JBDD> cuts = f.get_cut_nodes(2);
    ASSERT_EQ(cuts.size(), 3u);
    const BDD_JBDD image = syn.decompose_at_cut(f, 2);
    ASSERT_EQ(syn.m_vars.size(), 6u);
    const int e0 = syn.m_vars[4]->var_index, e1 = syn.m_vars[5]->var_index;
    EXPECT_EQ(syn.m_vars[4]->curr_slack, 450);
    // Code 3 (both encodings 1) gives the third cut node.
    const BDD_JBDD code3 = image.Compose(m.true_bdd(), e0).Compose(m.true_bdd(), e1);
    EXPECT_TRUE(code3 == cuts[2]);
    const BDD_JBDD back = image.Compose(syn.m_vars[5]->bdd, e1).Compose(syn.m_vars[4]->bdd, e0);
    EXPECT_TRUE(back == f);
    syn.clear_vars();
    std::remove("scores.blif");
}

namespace {
// The best cut by the documented score, with the two extra codes of a
// full bound set or without them.
int expected_cut(const std::vector<int>& widths, int k, int m, int available, bool extra)
{
    int best = 0, best_score = 0;
    for (int c = 2; c <= m; ++c) {
        int w = widths[c];
        if (extra && c == 6) w += 2;
        if (w < 2) continue;
        const double bits = static_cast<double>(std::log(static_cast<float>(w))) / std::log(2.0);
        const int e = MORV_NET_UTIL::ceil_log2(static_cast<uint64_t>(w));
        if (e >= c) continue;
        const int b = k + e - c <= available ? m : c;
        const int score = static_cast<int>(b * 1000.0 / bits + 0.000001);
        if (score > best_score) best = c, best_score = score;
    }
    return best;
}
}  // namespace

TEST(BddSyn, ReversedFamiliesScoreASixVariableBoundSetWithTwoMoreNodes)
{
    const std::string blif = write_blif("scores.blif", k_scores_blif);
    EXPECT_EQ(static_cast<int>(6 * 1000.0 / (static_cast<double>(std::log(2.0f)) / std::log(2.0)) + 0.000001), 5999);
    int chosen[2] = {0, 0};
    int i = 0;
    for (int family : {CDB_FAMILY_BRK, CDB_FAMILY_MRL}) {
        BDD_COMPILE c(blif, family);
        TEST_BDD_SYN_6LUT syn(c.api);
        make_records(syn, {0, 0, 0, 0, 0, 0, 0});
        BDD_JBDD_MGR& m = *syn.m_bdd_mgr;
        // g of the six top variables, times x6: one cut node and x6 at c = 6.
        BDD_JBDD g = (m.ithvar(0) & m.ithvar(3)) ^ (m.ithvar(1) | m.ithvar(4)) ^ (m.ithvar(2) & !m.ithvar(5));
        const BDD_JBDD f = g & m.ithvar(6);
        std::vector<int> widths(7, 0);
        for (int cut = 2; cut <= 6; ++cut) widths[cut] = syn.get_cut_width(f, cut);
        chosen[i] = syn.choose_cut(f, 7, 6, 6);
        EXPECT_EQ(chosen[i], expected_cut(widths, 7, 6, 6, family == CDB_FAMILY_BRK)) << family;
        ++i;
        syn.clear_vars();
    }
    EXPECT_NE(chosen[0], chosen[1]);
    std::remove("scores.blif");
}

// ---------------------------------------------------------------- construction and the driver

TEST(BddSyn, ParametersOverrideOnlyTheirOwnDefaults)
{
    BDD_COMPILE c(write_blif("scores.blif", k_scores_blif), CDB_FAMILY_BRK);
    MORV_PARAMETER_MAP params{{"SRB", "0.3"}, {"ME", "2"}, {"MN", ""}};
    TEST_BDD_SYN_6LUT syn(c.api, &params);
    EXPECT_EQ(syn.m_max_expansions, 2);
    EXPECT_EQ(syn.m_max_bdd_nodes, MORV_BDD_SYN::s_DEFAULT_MAX_BDD_NODES);
    EXPECT_EQ(syn.m_max_iterations, MORV_BDD_SYN::s_DEFAULT_MAX_ITERATIONS);
    EXPECT_EQ(syn.m_slack_ratio_factor, MORV_BDD_SYN::s_DEFAULT_SLACK_RATIO_FACTOR);
    EXPECT_EQ(syn.m_num_data_ports, 6);
    EXPECT_EQ(syn.m_avg_logic_level_delay,
              syn.m_avg_lut_delay + c.api->get_fsyn_net_util()->get_average_neighbour_delay());
    syn.do_iter();
    EXPECT_EQ(syn.m_slack_ratio_curr, 0.3);
    std::remove("scores.blif");
}

TEST(BddSyn, TheLowerBoundStopsEveryFamilyButMrl)
{
    BDD_COMPILE brk(write_blif("scores.blif", k_scores_blif), CDB_FAMILY_BRK);
    TEST_BDD_SYN_6LUT syn(brk.api);
    const int bound = brk.timing->get_bdd_lower_bound_fom();
    EXPECT_EQ(syn.is_fom_close_to_optimal(), brk.timing->get_figure_of_merit(true) > bound + 50);
    BDD_COMPILE mrl("scores.blif", CDB_FAMILY_MRL);
    TEST_BDD_SYN_6LUT mrl_syn(mrl.api);
    EXPECT_FALSE(mrl_syn.is_fom_close_to_optimal());
    std::remove("scores.blif");
}

TEST(BddSyn, RetimingAwareIterationsTakeTheirSkewsOffBeforeTheyReturn)
{
    BDD_COMPILE c(source("bench/iscas89_k6/s1423.blif"), CDB_FAMILY_BRK);
    const int fom = c.timing->get_figure_of_merit(false);
    MORV_PARAMETER_MAP params{{"RTM_AWARE", "1"}, {"SRT", "0.125"}};
    MORV_LOG_CAPTURE log(2);
    TEST_BDD_SYN_6LUT syn(c.api, &params);
    syn.do_iter();
    bool banner = false;
    for (const std::string& line : log.lines()) banner = banner || line == "* Running in RETIMING AWARE MODE *";
    EXPECT_TRUE(banner);
    c.timing->perform_pre_placement_timing_analysis(false);
    EXPECT_EQ(c.timing->get_figure_of_merit(false), fom);
}

TEST(BddSyn, AnInputTheMaskIgnoresIsARedundantSignal)
{
    BDD_COMPILE c(write_blif("redundant.blif", ".model redundant\n.inputs a b c\n.outputs z y\n"
                                               ".names a b z\n1- 1\n.names a c y\n11 1\n.end\n"),
                  CDB_FAMILY_BRK);
    TEST_BDD_SYN_6LUT syn(c.api);
    for (const char* name : {"z", "y"}) {
        MORV_BDD_SYN_ITERM_SRC root;
        CDB_ATOM_NODE* node = c.node_named(name);
        syn.make_root_record(node, &root);
        const BDD_JBDD f = syn.build_node_bdd(root, node, 0);
        EXPECT_EQ(syn.has_redundant_signals(f), std::string(name) == "z") << name;
        syn.clear_vars();
    }
    std::remove("redundant.blif");
}

TEST(BddSyn, ConnectionDelaysComeFromTheChipMapOnceAtomsArePlaced)
{
    const std::string blif = write_blif("scores.blif", k_scores_blif);
    for (bool placed : {false, true}) {
        BDD_COMPILE c(blif, CDB_FAMILY_BRK, placed);
        TEST_BDD_SYN_6LUT syn(c.api);
        CDB_ATOM_NODE* z = c.node_named("z");
        CDB_ATOM_OTERM* a4 = z->get_input_term_by_type(DB_DATA_A)->get_source();
        EXPECT_EQ(syn.get_connection_delay(nullptr, z), 0);
        int x1 = -1, y1 = -1, x2 = -1, y2 = -1;
        const MORV_CHIP_MAP* map = c.api->get_fsyn_chip_map();
        const bool located = map != nullptr &&
                             map->get_node_xy(static_cast<int>(a4->get_my_node()->get_id()), &x1, &y1) &&
                             map->get_node_xy(static_cast<int>(z->get_id()), &x2, &y2) && x1 >= 0 && x2 >= 0;
        EXPECT_EQ(located, placed);
        const int expected = located ? c.api->get_routing_delay(x1, y1, x2, y2, c.api->get_oterm_fl_value(a4))
                                     : c.api->get_fsyn_net_util()->get_average_neighbour_delay();
        EXPECT_EQ(syn.get_connection_delay(a4, z), expected) << placed;
    }
    std::remove("scores.blif");
}

TEST(BddSyn, TheBranchesFreeAnInputOfEverySettingAndCommitMasksTheirWay)
{
    const std::string blif = write_blif("scores.blif", k_scores_blif);
    for (int family : {CDB_FAMILY_BRK, CDB_FAMILY_ZEPLA}) {
        BDD_COMPILE c(blif, family);
        std::unique_ptr<MORV_BDD_SYN> syn = make_test_syn(c.api);
        CDB_ATOM_NODE* z = c.node_named("z");
        CDB_ATOM_ITERM* a = z->get_input_term_by_type(DB_DATA_A);
        a->set_invert();
        a->set_global(3);
        a->set_connected_to_delay_chain(8, true);
        syn->disconnect_lut_input(a, 0);
        EXPECT_FALSE(a->is_connected()) << family;
        EXPECT_FALSE(a->is_inverted()) << family;
        EXPECT_EQ(a->get_global(), 0) << family;
        EXPECT_FALSE(a->is_connected_to_delay_chain(8)) << family;
        EXPECT_EQ(z->get_input_term_by_type(DB_DATA_A), a) << family;  // the term stays on the node

        CDB_ATOM_NODE* y = c.node_named("y");
        y->clear_bit(CDB_ATOM_BIT_FOUR_INPUT_COMB);
        const int size = cdb_family_lut_size(family);
        syn->commit_lut_node(y, CDB_LUTMASK(size, 0x6996));
        EXPECT_EQ(y->get_lutmask().get_value(), 0x6996u) << family;
        EXPECT_EQ(y->test_bit(CDB_ATOM_BIT_FOUR_INPUT_COMB), size == 4) << family;
    }
    std::remove("scores.blif");
}

}  // namespace bdd_syn_test
