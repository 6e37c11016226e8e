#include <gtest/gtest.h>

#include <set>
#include <unordered_map>

#include "net_util_fixture.h"

namespace morv_deterministic_test {

namespace {

class DeterministicOrderTest : public MORV_CLEAN_STATE_TEST
{};

TEST_F(DeterministicOrderTest, NodesAndTermsOrderByIdsNotAddresses)
{
    NET_UTIL_NETLIST n(CDB_FAMILY_BRK);
    CDB_ATOM_NODE* first = n.atom(CDB_KIND_LCELL_COMB, "first");
    CDB_ATOM_NODE* second = n.atom(CDB_KIND_LCELL_COMB, "second");
    std::set<CDB_ATOM_NODE*, DETERMINISTIC_LESS<CDB_ATOM_NODE*>> up{second, first};
    std::set<CDB_ATOM_NODE*, DETERMINISTIC_GREATER<CDB_ATOM_NODE*>> down{first, second};
    EXPECT_EQ(*up.begin(), first);
    EXPECT_EQ(*down.begin(), second);
    EXPECT_EQ(internal_error_of([&] { DETERMINISTIC_LESS<CDB_ATOM_NODE*>()(first, nullptr); }), "node_a && node_b");

    // Output terms: node id first, then usage, then index.
    CDB_ATOM_OTERM* second_comb = second->add_output_term(DB_COMB_OUT);
    CDB_ATOM_OTERM* first_sum = first->add_output_term(DB_SUM_OUT);
    CDB_ATOM_OTERM* first_carry = first->add_output_term(DB_CARRY_OUT);
    MORV_OTERM_SET oterms{second_comb, first_sum, first_carry};
    EXPECT_EQ(std::vector<CDB_ATOM_OTERM*>(oterms.begin(), oterms.end()),
              (std::vector<CDB_ATOM_OTERM*>{first_carry, first_sum, second_comb}));
    DETERMINISTIC_LESS<CDB_ATOM_OTERM*> oless;
    EXPECT_FALSE(oless(first_sum, first_sum));

    // Input terms: a term without usage sorts after every used one of its node.
    CDB_ATOM_ITERM* data_b = first->add_input_term(DB_DATA_B);
    CDB_ATOM_ITERM* clear = first->add_input_term(DB_DATA_A);
    clear->clear_usage_as(DB_DATA_A);
    DETERMINISTIC_LESS<CDB_ATOM_ITERM*> iless;
    EXPECT_TRUE(iless(data_b, clear));
    EXPECT_FALSE(iless(clear, data_b));
    EXPECT_EQ(internal_error_of([&] { iless(data_b, nullptr); }), "iterm_a && iterm_b");
}

TEST_F(DeterministicOrderTest, SetsOfOutputsCompareElementByElement)
{
    NET_UTIL_NETLIST n(CDB_FAMILY_TEV);
    CDB_ATOM_OTERM* a = n.atom(CDB_KIND_LCELL_COMB, "a")->add_output_term(DB_COMB_OUT);
    CDB_ATOM_OTERM* b = n.atom(CDB_KIND_LCELL_COMB, "b")->add_output_term(DB_COMB_OUT);
    CDB_ATOM_OTERM* c = n.atom(CDB_KIND_LCELL_COMB, "c")->add_output_term(DB_COMB_OUT);
    DETERMINISTIC_LESS<MORV_OTERM_SET> less;
    const MORV_OTERM_SET ab{a, b}, ac{a, c}, a_only{a}, bc{b, c};
    EXPECT_TRUE(less(ab, ac));
    EXPECT_FALSE(less(ac, ab));
    EXPECT_TRUE(less(a_only, ab));  // a prefix runs out first
    EXPECT_FALSE(less(ab, a_only));
    EXPECT_TRUE(less(ac, bc));  // the first difference decides, not the sizes
    EXPECT_FALSE(less(ab, ab));
    MORV_OTERM_SET_SET groups{bc, a_only, ab};
    EXPECT_EQ(*groups.begin(), a_only);
    EXPECT_EQ(*groups.rbegin(), bc);
}

TEST_F(DeterministicOrderTest, CanonicalKeysSurviveTheTermsTheyName)
{
    NET_UTIL_NETLIST n(CDB_FAMILY_MRL);
    CDB_ATOM_NODE* node = n.atom(CDB_KIND_LCELL_COMB, "node");
    CDB_ATOM_ITERM* iterm = node->add_input_term(DB_DATA_C);
    CDB_ATOM_OTERM* oterm = node->add_output_term(DB_COMB_OUT);
    const MORV_CANONICAL_ITERM ikey(iterm);
    const MORV_CANONICAL_OTERM okey(oterm);
    EXPECT_EQ(ikey.m_atom_id, static_cast<int>(node->get_id()));
    EXPECT_EQ(ikey.m_port_type, DB_DATA_C);
    EXPECT_EQ(okey.m_port_type, DB_COMB_OUT);
    std::unordered_map<MORV_CANONICAL_ITERM, int, MORV_CANONICAL_ITERM_HASH> by_key{{ikey, 7}};
    // A rebuilt term of the same node, usage and index finds the same entry.
    node->delete_input_term(iterm);
    EXPECT_EQ(by_key.at(MORV_CANONICAL_ITERM(node->add_input_term(DB_DATA_C))), 7);
    EXPECT_TRUE(MORV_CANONICAL_ITERM::of(node->add_input_term(DB_DATA_A)) < ikey);
    CDB_ATOM_ITERM free_term(nullptr, DB_DATA_A);
    EXPECT_EQ(internal_error_of([&] { MORV_CANONICAL_ITERM key(&free_term); }), "iterm->get_my_node()");
}

}  // namespace

}  // namespace morv_deterministic_test
