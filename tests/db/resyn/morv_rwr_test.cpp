// The rewiring algorithm on small hand-built pairs: scores and penalties
// under stand-in timing, the executor's order and limits, swap execution
// with ties, new terms, duplication and placement, the local-optimisation
// protocol's refusals and the family hooks that differ.

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "log_capture.h"
#include "../netlist/net_util_fixture.h"
#include "msg/msg.h"
#include "morv/netlist/morv_chip_map.h"
#include "morv/resyn/morv_rwr_family.h"

namespace morv_rwr_test {

namespace {

// Stand-in timing: slacks and ratios by (node, port), the rest defaulted;
// no routing delay unless told.
template <typename BASE>
class RWR_PROBE : public BASE
{
public:
    RWR_PROBE(MORV_API* api, const MORV_PARAMETER_MAP* params, int level_delay) : BASE(api, params)
    {
        this->m_level_delay = level_delay;
        int iters = MORV_ALGORITHM_BASE::s_UNSET_INT;
        int hill = MORV_ALGORITHM_BASE::s_UNSET_INT;
        this->set_default_pass_parameters(0, iters, hill);
    }
    void set(CDB_ATOM_NODE* node, int port, int slack, double ratio)
    {
        m_slacks[{node, port}] = slack;
        m_ratios[{node, port}] = ratio;
    }
    int get_input_slack(CDB_ATOM_NODE* node, int port) override
    {
        if (node->get_input_term_by_type(port) == nullptr) return MORV_RWR::s_VALID_SLACK;
        auto it = m_slacks.find({node, port});
        return it != m_slacks.end() ? it->second : m_default_slack;
    }
    double get_input_slack_ratio(CDB_ATOM_NODE* node, int port) override
    {
        if (node->get_input_term_by_type(port) == nullptr) return 1.0;
        auto it = m_ratios.find({node, port});
        return it != m_ratios.end() ? it->second : 0.9;
    }
    int estimate_routing_delay(CDB_ATOM_ITERM*, CDB_ATOM_NODE*) override { return 0; }
    bool is_duplication_blocked(CDB_ATOM_NODE* node) override
    {
        return m_block_duplication || BASE::is_duplication_blocked(node);
    }
    int get_term_slack(CDB_ATOM_ITERM*) override { return m_term_slack; }
    void set_dup_delay(int delay) { this->m_dup_delay = delay; }

    int m_default_slack = 5000;
    int m_term_slack = 100000;
    bool m_block_duplication = false;

private:
    std::map<std::pair<CDB_ATOM_NODE*, int>, int> m_slacks;
    std::map<std::pair<CDB_ATOM_NODE*, int>, double> m_ratios;
};

// The value a node's LUT output takes for the given source values; an input
// driven by another LUT of the netlist is evaluated through it.
unsigned evaluate(MORV_NET_UTIL* util, CDB_ATOM_NODE* node, const std::map<CDB_ATOM_OTERM*, unsigned>& values)
{
    MORV_PORT_VALUES inputs;
    for (int port = DB_DATA_A; port < DB_DATA_A + util->get_max_lut_inputs(); ++port) {
        CDB_ATOM_ITERM* iterm = node->get_input_term_by_type(port);
        unsigned v = 0;
        if (iterm != nullptr && iterm->is_driven()) {
            auto it = values.find(iterm->get_source());
            v = it != values.end() ? it->second : evaluate(util, iterm->get_source()->get_my_node(), values);
            v ^= iterm->is_inverted() ? 1u : 0u;
        } else if (iterm != nullptr && iterm->is_connected()) {
            v = iterm->is_logical_vcc() ? 1u : 0u;
        }
        inputs.emplace_back(port, v);
    }
    return util->evaluate_comb_out(node, inputs);
}

// node_b's output over every combination of the sources.
std::vector<unsigned> truth_of(MORV_NET_UTIL* util, CDB_ATOM_NODE* node_b, const std::vector<CDB_ATOM_OTERM*>& sources)
{
    std::vector<unsigned> out;
    for (unsigned c = 0; c < (1u << sources.size()); ++c) {
        std::map<CDB_ATOM_OTERM*, unsigned> values;
        for (size_t s = 0; s < sources.size(); ++s) values[sources[s]] = (c >> s) & 1u;
        out.push_back(evaluate(util, node_b, values));
    }
    return out;
}

// node_a ANDs four sources; node_b ANDs node_a (input A) with a fifth (input B).
struct AND_PAIR
{
    explicit AND_PAIR(NET_UTIL_NETLIST& net)
    {
        a = net.atom(CDB_KIND_LCELL_COMB, "a");
        b = net.atom(CDB_KIND_LCELL_COMB, "b");
        for (int k = 0; k < 4; ++k) sources.push_back(net.drive(a, DB_DATA_A + k)->get_source());
        a->set_lutmask(CDB_LUTMASK(4, 0x8000));
        a_out = a->add_output_term(DB_COMB_OUT);
        a_out->insert_fanout(b->add_input_term(DB_DATA_A));
        sources.push_back(net.drive(b, DB_DATA_B)->get_source());
        b->set_lutmask(CDB_LUTMASK(4, 0x8888));
        net.load(b, DB_COMB_OUT);
    }
    CDB_ATOM_NODE* a;
    CDB_ATOM_NODE* b;
    CDB_ATOM_OTERM* a_out;
    std::vector<CDB_ATOM_OTERM*> sources;
};

class Rwr : public MORV_CLEAN_STATE_TEST
{
protected:
    // Input D of node_a and input A of node_b critical, the rest not.
    template <typename PROBE>
    void make_d_critical(PROBE& rwr, const AND_PAIR& pair)
    {
        rwr.set(pair.b, DB_DATA_A, -100, 0.01);
        rwr.set(pair.a, DB_DATA_D, -100, 0.01);
        for (int port : {DB_DATA_A, DB_DATA_B, DB_DATA_C}) rwr.set(pair.a, port, 500, 0.6);
        rwr.set(pair.b, DB_DATA_B, 800, 0.9);
    }
    MORV_PARAMETER_MAP m_params;
};

TEST_F(Rwr, TheCriticalInputMovesOntoNodeBAndThePairKeepsItsFunction)
{
    NET_UTIL_NETLIST net(CDB_FAMILY_ZEPLA);
    AND_PAIR pair(net);
    // node_b also reads a signal its mask ignores: the swap drops it.
    CDB_ATOM_ITERM* ignored = net.drive(pair.b, DB_DATA_C);
    pair.sources.push_back(ignored->get_source());
    RWR_PROBE<MORV_RWR_ZEPLA> rwr(net.api(), &m_params, 300);
    make_d_critical(rwr, pair);
    const std::vector<unsigned> before = truth_of(net.util(), pair.b, pair.sources);
    CDB_ATOM_OTERM* d_source = pair.a->get_input_term_by_type(DB_DATA_D)->get_source();

    MORV_RWR_SWAP best;
    ASSERT_TRUE(rwr.recursive_search(pair.b, &best));
    EXPECT_EQ(best.node_a, pair.a);
    EXPECT_EQ(best.port_ab, DB_DATA_A);
    EXPECT_FALSE(best.dup);
    EXPECT_EQ(best.improvement, 300);
    EXPECT_GT(best.score, 0.0);
    ASSERT_TRUE(rwr.do_swap(best));

    // D's signal now enters node_b on a term of its own with its usage.
    bool d_on_b = false;
    for (int port = DB_DATA_B; port <= DB_DATA_D; ++port) {
        CDB_ATOM_ITERM* iterm = pair.b->get_input_term_by_type(port);
        if (iterm == nullptr || iterm->get_source() != d_source) continue;
        d_on_b = true;
        EXPECT_TRUE(iterm->is_used_as(port));
    }
    EXPECT_TRUE(d_on_b);
    EXPECT_EQ(pair.a->get_input_term_by_type(DB_DATA_D) == nullptr ||
                  pair.a->get_input_term_by_type(DB_DATA_D)->get_source() != d_source,
              true);
    EXPECT_EQ(truth_of(net.util(), pair.b, pair.sources), before);
    CDB_ATOM_OTERM* ignored_source = pair.sources.back();
    for (CDB_ATOM_NODE* node : {pair.a, pair.b})
        for (int k = 0; k < 4; ++k) {
            CDB_ATOM_ITERM* iterm = node->get_input_term_by_type(DB_DATA_A + k);
            EXPECT_TRUE(iterm == nullptr || iterm->get_source() != ignored_source) << node->get_id() << " " << k;
        }
    (void)ignored;
    // No input is left that the new masks ignore.
    for (CDB_ATOM_NODE* node : {pair.a, pair.b})
        for (int k = 0; k < 4; ++k) {
            CDB_ATOM_ITERM* iterm = node->get_input_term_by_type(DB_DATA_A + k);
            if (iterm != nullptr && iterm->is_connected()) {
                EXPECT_FALSE(node->get_lutmask().is_independent_of(k)) << node->get_id() << " " << k;
            }
        }
}

TEST_F(Rwr, ScoresRejectTheSameSourceOnBothSidesAndArrangementsWithoutGain)
{
    NET_UTIL_NETLIST net(CDB_FAMILY_ZEPLA);
    AND_PAIR pair(net);
    RWR_PROBE<MORV_RWR_ZEPLA> rwr(net.api(), &m_params, 300);
    make_d_critical(rwr, pair);
    MORV_RWR_SWAP curr;
    curr.node_a = pair.a;
    curr.node_b = pair.b;
    curr.port_ab = DB_DATA_A;
    curr.delay_ab = 300;
    curr.num_swaps = 1;
    curr.port_a[0] = DB_DATA_D;
    curr.port_b[0] = DB_DATA_B;
    rwr.score_swap(curr);
    EXPECT_EQ(curr.improvement, 300);
    EXPECT_GT(curr.score, 0.0);

    // Moving a non-critical input gains nothing: the worst slack stays.
    curr.port_a[0] = DB_DATA_A;
    rwr.score_swap(curr);
    EXPECT_EQ(curr.score, MORV_RWR::s_REJECTED_SCORE);

    // node_b's input B driven by node_a's source of D: nothing would move.
    pair.sources[3]->insert_fanout(pair.b->get_input_term_by_type(DB_DATA_B));
    curr.port_a[0] = DB_DATA_D;
    rwr.score_swap(curr);
    EXPECT_EQ(curr.score, MORV_RWR::s_REJECTED_SCORE);
    // Two unconnected sides count as the same source too.
    curr.port_a[0] = DB_DATA_D;
    curr.port_b[0] = DB_DATA_C;
    pair.a->get_input_term_by_type(DB_DATA_D)->disconnect_from_source(CDB_NET_ITERM::UNCONNECTED);
    rwr.score_swap(curr);
    EXPECT_EQ(curr.score, MORV_RWR::s_REJECTED_SCORE);
}

TEST_F(Rwr, SlacksTimingCouldNotComputeNeitherBlockNorCountTowardsAGain)
{
    NET_UTIL_NETLIST net(CDB_FAMILY_ZEPLA);
    AND_PAIR pair(net);
    RWR_PROBE<MORV_RWR_ZEPLA> rwr(net.api(), &m_params, 300);
    make_d_critical(rwr, pair);
    MORV_RWR_SWAP curr;
    curr.node_a = pair.a;
    curr.node_b = pair.b;
    curr.port_ab = DB_DATA_A;
    curr.delay_ab = 300;
    curr.num_swaps = 1;
    curr.port_a[0] = DB_DATA_D;
    curr.port_b[0] = DB_DATA_B;
    // An input that stays on node_a and one that moves from node_b to
    // node_a, each with the unconstrained marker as its slack: were they
    // counted, the worst slack would be theirs and no exchange could gain.
    rwr.set(pair.a, DB_DATA_A, -MORV_RWR::s_VALID_SLACK, 0.5);
    rwr.score_swap(curr);
    EXPECT_EQ(curr.improvement, 300);
    EXPECT_GT(curr.score, 0.0);
    rwr.set(pair.a, DB_DATA_A, 500, 0.6);
    rwr.set(pair.b, DB_DATA_B, -MORV_RWR::s_VALID_SLACK, 0.5);
    curr.score = 0.0;
    curr.improvement = 0;
    rwr.score_swap(curr);
    EXPECT_EQ(curr.improvement, 300);
    EXPECT_GT(curr.score, 0.0);
    // One picosecond inside the marker is a real slack, and the worst.
    rwr.set(pair.a, DB_DATA_A, 1 - MORV_RWR::s_VALID_SLACK, 0.5);
    rwr.score_swap(curr);
    EXPECT_EQ(curr.score, MORV_RWR::s_REJECTED_SCORE);
}

TEST_F(Rwr, ASwapDropsAnInputNodeBsNewMaskIgnoresThoughTheExchangeNeverTouchedIt)
{
    NET_UTIL_NETLIST net(CDB_FAMILY_ZEPLA);
    AND_PAIR pair(net);
    CDB_ATOM_ITERM* ignored = net.drive(pair.b, DB_DATA_C);
    pair.sources.push_back(ignored->get_source());
    RWR_PROBE<MORV_RWR_ZEPLA> rwr(net.api(), &m_params, 300);
    const std::vector<unsigned> before = truth_of(net.util(), pair.b, pair.sources);
    // node_a's D moves onto node_b's free D; node_b keeps reading C.
    MORV_RWR_SWAP swap;
    swap.node_a = pair.a;
    swap.node_b = pair.b;
    swap.port_ab = DB_DATA_A;
    swap.iterm_ab = pair.b->get_input_term_by_type(DB_DATA_A);
    swap.num_swaps = 1;
    swap.port_a[0] = DB_DATA_D;
    swap.port_b[0] = DB_DATA_D;
    swap.new_mask_a = 0x8080;  // A & B & C
    swap.new_mask_b = 0x8800;  // a & B & D
    ASSERT_TRUE(rwr.do_swap(swap));
    EXPECT_EQ(pair.b->get_input_term_by_type(DB_DATA_D)->get_source(), pair.sources[3]);
    CDB_ATOM_ITERM* c = pair.b->get_input_term_by_type(DB_DATA_C);
    EXPECT_TRUE(c == nullptr || !c->is_connected());
    EXPECT_EQ(pair.sources.back()->get_number_of_fanout(), 0);
    CDB_ATOM_ITERM* d = pair.a->get_input_term_by_type(DB_DATA_D);
    EXPECT_TRUE(d == nullptr || !d->is_connected());
    EXPECT_EQ(truth_of(net.util(), pair.b, pair.sources), before);
}

TEST_F(Rwr, ASignalBothLutsReadLetsTheCriticalCopyLeaveNodeA)
{
    // node_a = (!y & z) | (y & !z & x) | (y & z & !x) and node_b = a & x & v & w
    // read x alike. Taken apart, the rows of node_a's other inputs give four
    // patterns; as one signal only two remain, so x can leave node_a.
    NET_UTIL_NETLIST net(CDB_FAMILY_ZEPLA);
    CDB_ATOM_NODE* a = net.atom(CDB_KIND_LCELL_COMB, "a");
    CDB_ATOM_NODE* b = net.atom(CDB_KIND_LCELL_COMB, "b");
    CDB_ATOM_OTERM* y = net.drive(a, DB_DATA_A)->get_source();
    CDB_ATOM_OTERM* z = net.drive(a, DB_DATA_B)->get_source();
    CDB_ATOM_OTERM* x = net.drive(a, DB_DATA_D)->get_source();
    a->set_lutmask(CDB_LUTMASK(4, 0x66cc));
    a->add_output_term(DB_COMB_OUT)->insert_fanout(b->add_input_term(DB_DATA_A));
    net.drive(b, DB_DATA_B, x);
    CDB_ATOM_OTERM* v = net.drive(b, DB_DATA_C)->get_source();
    CDB_ATOM_OTERM* w = net.drive(b, DB_DATA_D)->get_source();
    b->set_lutmask(CDB_LUTMASK(4, 0x8000));
    net.load(b, DB_COMB_OUT);
    RWR_PROBE<MORV_RWR_ZEPLA> rwr(net.api(), &m_params, 300);
    rwr.set(b, DB_DATA_A, -100, 0.01);
    rwr.set(a, DB_DATA_D, -100, 0.01);
    rwr.set(a, DB_DATA_A, 500, 0.6);
    rwr.set(a, DB_DATA_B, 500, 0.6);
    rwr.set(b, DB_DATA_B, 800, 0.9);
    rwr.set(b, DB_DATA_C, 800, 0.9);
    rwr.set(b, DB_DATA_D, 800, 0.9);
    const std::vector<CDB_ATOM_OTERM*> sources = {y, z, x, v, w};
    const std::vector<unsigned> before = truth_of(net.util(), b, sources);

    MORV_RWR_SWAP best;
    ASSERT_TRUE(rwr.recursive_search(b, &best));
    ASSERT_TRUE(rwr.do_swap(best));
    // The critical connection no longer passes through node_a.
    CDB_ATOM_ITERM* d = a->get_input_term_by_type(DB_DATA_D);
    EXPECT_TRUE(d == nullptr || d->get_source() != x);
    EXPECT_EQ(truth_of(net.util(), b, sources), before);
}

TEST_F(Rwr, ARecordOverALutAnEarlierSwapRewroteIsSkipped)
{
    // node_a feeds two LUTs; a swap with each is recorded, each from the
    // LUTs that were: after the first, the second's masks are stale.
    NET_UTIL_NETLIST net(CDB_FAMILY_ZEPLA);
    AND_PAIR pair(net);
    CDB_ATOM_NODE* b2 = net.atom(CDB_KIND_LCELL_COMB, "b2");
    pair.a_out->insert_fanout(b2->add_input_term(DB_DATA_A));
    net.drive(b2, DB_DATA_B);
    b2->set_lutmask(CDB_LUTMASK(4, 0x8888));
    net.load(b2, DB_COMB_OUT);
    RWR_PROBE<MORV_RWR_ZEPLA> rwr(net.api(), &m_params, 300);
    ASSERT_GE(rwr.get_max_swaps(), 2);
    MORV_RWR_SWAP first;
    first.node_a = pair.a;
    first.node_b = pair.b;
    first.port_ab = DB_DATA_A;
    first.iterm_ab = pair.b->get_input_term_by_type(DB_DATA_A);
    first.new_mask_a = 0x8000;
    first.new_mask_b = 0x8888;
    first.score = 5.0;
    MORV_RWR_SWAP second = first;
    second.node_b = b2;
    second.iterm_ab = b2->get_input_term_by_type(DB_DATA_A);
    second.score = 4.0;
    rwr.add_swap(first);
    rwr.add_swap(second);
    EXPECT_EQ(rwr.execute_swaps(), 1);

    // node_b reads two LUTs: the same holds for a shared node_b.
    AND_PAIR other(net);
    other.a_out->insert_fanout(pair.b->get_input_term_by_type(DB_DATA_B));
    second = first;
    second.node_a = other.a;
    second.iterm_ab = pair.b->get_input_term_by_type(DB_DATA_B);
    second.score = 4.0;
    rwr.add_swap(first);
    rwr.add_swap(second);
    EXPECT_EQ(rwr.execute_swaps(), 1);
}

TEST_F(Rwr, OnlySwapsThatCopyNodeACountAgainstTheDuplicationLimit)
{
    NET_UTIL_NETLIST net(CDB_FAMILY_ZEPLA);
    AND_PAIR plain(net);
    AND_PAIR shared(net);
    net.load(shared.a, DB_COMB_OUT);  // shared.a has a second load
    AND_PAIR shared2(net);
    net.load(shared2.a, DB_COMB_OUT);
    net.env().m_duplicate = [&](CDB_ATOM_NODE* node, int port) {
        CDB_ATOM_NODE* dup = net.atom(node->get_kind(), numbered("copy", static_cast<int>(node->get_id())));
        dup->set_bits(node->get_bits());
        dup->set_lutmask(node->get_lutmask());
        for (int k = 0; k < 4; ++k)
            if (CDB_ATOM_ITERM* in = node->get_input_term_by_type(DB_DATA_A + k))
                if (in->get_source() != nullptr) dup->add_input_term(DB_DATA_A + k)->insert_fanin(in->get_source());
        dup->add_output_term(port);
        return dup;
    };
    RWR_PROBE<MORV_RWR_ZEPLA> rwr(net.api(), &m_params, 300);
    ASSERT_EQ(rwr.get_max_dups(), 1);
    ASSERT_GE(rwr.get_max_swaps(), 3);
    // An unchanged pair: the masks the LUTs already have.
    auto record = [](const AND_PAIR& pair, bool dup, double score) {
        MORV_RWR_SWAP swap;
        swap.node_a = pair.a;
        swap.node_b = pair.b;
        swap.port_ab = DB_DATA_A;
        swap.iterm_ab = pair.b->get_input_term_by_type(DB_DATA_A);
        swap.new_mask_a = 0x8000;
        swap.new_mask_b = 0x8888;
        swap.dup = dup;
        swap.score = score;
        return swap;
    };
    // The executor: a plain swap first leaves the one copy to the next.
    rwr.add_swap(record(plain, false, 5.0));
    rwr.add_swap(record(shared, true, 4.0));
    EXPECT_EQ(rwr.execute_swaps(), 2);
    EXPECT_NE(shared.b->get_input_term_by_type(DB_DATA_A)->get_source(), shared.a_out);

    // The protocol: one copy per iteration, then the limit's refusal.
    rwr.init_iteration_for_local_optimization();
    std::set<int> touched;
    MORV_RWR_SWAP first = record(shared2, true, 1.0);
    EXPECT_TRUE(rwr.perform_local_optimization(first.iterm_ab, &first, &touched));
    EXPECT_EQ(rwr.get_dups_done(), 1);
    MORV_RWR_SWAP second = record(plain, true, 1.0);
    MORV_LOG_CAPTURE log(100);
    EXPECT_FALSE(rwr.perform_local_optimization(second.iterm_ab, &second, &touched));
    const std::vector<std::string> lines = log.lines();
    EXPECT_NE(std::find(lines.begin(), lines.end(),
                        "MORV_RWR: Warning - could not perform requested optimization; reached max dups to try"),
              lines.end());
}

TEST_F(Rwr, TheDuplicationPenaltyCountsLutsPerLabAndTheFiftyThousandRule)
{
    NET_UTIL_NETLIST net(CDB_FAMILY_ZEPLA);
    AND_PAIR pair(net);
    net.load(pair.a, DB_COMB_OUT);  // node_a has a second load
    RWR_PROBE<MORV_RWR_ZEPLA> rwr(net.api(), &m_params, 300);
    make_d_critical(rwr, pair);
    rwr.set_dup_delay(250);  // the stand-in grid has none
    net.api()->reset_fsyn_chip_map(false);
    MORV_CHIP_MAP* map = net.api()->get_fsyn_chip_map();
    const MORV_LOC lab{2, 3, MORV_OPEN, MORV_OPEN};
    map->set_node_location(static_cast<int>(pair.a->get_id()), lab);
    MORV_RWR_SWAP swap;
    swap.node_a = pair.a;
    swap.iterm_ab = pair.b->get_input_term_by_type(DB_DATA_A);
    swap.slack_ab = -100;
    // Twelve LUTs in the LAB: below the threshold of 13.
    for (int n = 0; n < 11; ++n)
        map->set_node_location(static_cast<int>(net.atom(CDB_KIND_LCELL_COMB, numbered("fill", n))->get_id()), lab);
    EXPECT_EQ(rwr.duplication_penalty(swap), 0);
    map->set_node_location(static_cast<int>(net.atom(CDB_KIND_LCELL_COMB, "fill_last")->get_id()), lab);
    ASSERT_EQ(map->get_num_luts_in_lab(lab), 13);
    // The other load keeps enough slack: no penalty; a tight one: the delay.
    rwr.m_term_slack = 100000;
    EXPECT_EQ(rwr.duplication_penalty(swap), 0);
    rwr.m_term_slack = -50;
    EXPECT_EQ(rwr.duplication_penalty(swap), 250);

    // In the search: a critical ab connection (ratio 0.01) keeps the LAB
    // penalty; above 0.05 the 50000 ps rule makes keeping inputs on node_a lose.
    MORV_RWR_SWAP best;
    rwr.recursive_search(pair.b, &best);
    EXPECT_TRUE(best.node_a == nullptr || best.min_gain == rwr.get_dup_delay());
    rwr.set(pair.b, DB_DATA_A, -100, 0.1);
    EXPECT_FALSE(rwr.recursive_search(pair.b, &best));
}

TEST_F(Rwr, DuplicationKeepsTheOldDriverAndPlacesTheCopyInItsLab)
{
    NET_UTIL_NETLIST net(CDB_FAMILY_ZEPLA);
    AND_PAIR pair(net);
    CDB_ATOM_OTERM* other = net.load(pair.a, DB_COMB_OUT);
    CDB_ATOM_ITERM* other_sink = other->get_last_fanout();
    RWR_PROBE<MORV_RWR_ZEPLA> rwr(net.api(), &m_params, 300);
    make_d_critical(rwr, pair);
    net.api()->reset_fsyn_chip_map(false);
    MORV_CHIP_MAP* map = net.api()->get_fsyn_chip_map();
    map->set_node_location(static_cast<int>(pair.a->get_id()), MORV_LOC{4, 5, MORV_OPEN, MORV_OPEN});
    const std::vector<unsigned> before = truth_of(net.util(), pair.b, pair.sources);

    MORV_RWR_SWAP best;
    ASSERT_TRUE(rwr.recursive_search(pair.b, &best));
    ASSERT_TRUE(best.dup);
    // A host that cannot duplicate: nothing changes.
    MORV_RWR_SWAP refused = best;
    EXPECT_FALSE(rwr.do_swap(refused));
    EXPECT_EQ(pair.b->get_input_term_by_type(DB_DATA_A)->get_source(), pair.a_out);
    EXPECT_EQ(pair.a->get_input_term_by_type(DB_DATA_D)->get_source(), pair.sources[3]);

    net.env().m_duplicate = [&](CDB_ATOM_NODE* node, int port) {
        CDB_ATOM_NODE* dup = net.atom(node->get_kind(), "a_dup");
        dup->set_bits(node->get_bits());
        dup->set_lutmask(node->get_lutmask());
        for (int k = 0; k < 4; ++k)
            if (CDB_ATOM_ITERM* in = node->get_input_term_by_type(DB_DATA_A + k))
                if (in->get_source() != nullptr) dup->add_input_term(DB_DATA_A + k)->insert_fanin(in->get_source());
        dup->add_output_term(port);
        return dup;
    };
    // A family that blocks the copy refuses the swap before anything changes.
    const size_t atoms = net.netlist()->get_node_count();
    rwr.m_block_duplication = true;
    MORV_RWR_SWAP blocked = best;
    EXPECT_FALSE(rwr.do_swap(blocked));
    EXPECT_EQ(net.netlist()->get_node_count(), atoms);
    EXPECT_EQ(pair.a->get_lutmask().get_value(), 0x8000u);
    EXPECT_EQ(pair.b->get_input_term_by_type(DB_DATA_A)->get_source(), pair.a_out);
    EXPECT_EQ(pair.a->get_input_term_by_type(DB_DATA_D)->get_source(), pair.sources[3]);
    rwr.m_block_duplication = false;

    MORV_RWR_SWAP copy = best;
    ASSERT_TRUE(rwr.do_swap(copy));
    ASSERT_NE(copy.node_a, pair.a);
    EXPECT_EQ(best.node_a, pair.a);
    // The old driver keeps its mask and its other load; the copy feeds node_b.
    EXPECT_EQ(pair.a->get_lutmask().get_value(), 0x8000u);
    EXPECT_EQ(other_sink->get_source(), pair.a_out);
    EXPECT_EQ(pair.b->get_input_term_by_type(DB_DATA_A)->get_source()->get_my_node(), copy.node_a);
    EXPECT_EQ(copy.node_a->get_lutmask().get_value(), copy.new_mask_a & 0xffff);
    MORV_LOC where;
    ASSERT_TRUE(map->get_node_location(static_cast<int>(copy.node_a->get_id()), &where));
    EXPECT_EQ(where.x, 4);
    EXPECT_EQ(where.y, 5);
    EXPECT_EQ(truth_of(net.util(), pair.b, pair.sources), before);
}

TEST_F(Rwr, ConstantTiesMoveAsTiesWithTheirInversion)
{
    NET_UTIL_NETLIST net(CDB_FAMILY_ZEPLA);
    AND_PAIR pair(net);
    RWR_PROBE<MORV_RWR_ZEPLA> rwr(net.api(), &m_params, 300);
    // node_a's input C is a tie to GND read inverted (logical 1); node_b's
    // input B a tie to VCC.
    CDB_ATOM_ITERM* c = pair.a->get_input_term_by_type(DB_DATA_C);
    c->disconnect_from_source(CDB_NET_ITERM::UNCONNECTED);
    c->set_gnd();
    c->set_invert();
    CDB_ATOM_ITERM* b_in = pair.b->get_input_term_by_type(DB_DATA_B);
    b_in->disconnect_from_source(CDB_NET_ITERM::UNCONNECTED);
    b_in->set_vcc();
    MORV_RWR_SWAP swap;
    swap.node_a = pair.a;
    swap.node_b = pair.b;
    swap.port_ab = DB_DATA_A;
    swap.iterm_ab = pair.b->get_input_term_by_type(DB_DATA_A);
    swap.num_swaps = 1;
    swap.port_a[0] = DB_DATA_C;
    swap.port_b[0] = DB_DATA_B;
    swap.new_mask_a = 0x8000;  // both read logical 1 either way
    swap.new_mask_b = 0x8888;
    ASSERT_TRUE(rwr.do_swap(swap));
    CDB_ATOM_ITERM* moved_to_b = pair.b->get_input_term_by_type(DB_DATA_B);
    ASSERT_NE(moved_to_b, nullptr);
    EXPECT_TRUE(moved_to_b->is_gnd());
    EXPECT_TRUE(moved_to_b->is_inverted());
    EXPECT_EQ(moved_to_b->get_source(), nullptr);
    CDB_ATOM_ITERM* moved_to_a = pair.a->get_input_term_by_type(DB_DATA_C);
    ASSERT_NE(moved_to_a, nullptr);
    EXPECT_TRUE(moved_to_a->is_vcc());
    EXPECT_FALSE(moved_to_a->is_inverted());
}

TEST_F(Rwr, AlgPicksRecursiveWhenBothWordsOccurAndTheFamiliesKeepTheirDefaults)
{
    EXPECT_EQ(MORV_RWR::parse_alg("GREEDY", MORV_RWR::s_RECURSIVE), MORV_RWR::s_GREEDY);
    EXPECT_EQ(MORV_RWR::parse_alg("RECURSIVE", MORV_RWR::s_GREEDY), MORV_RWR::s_RECURSIVE);
    EXPECT_EQ(MORV_RWR::parse_alg("GREEDY_RECURSIVE", MORV_RWR::s_GREEDY), MORV_RWR::s_RECURSIVE);
    EXPECT_EQ(MORV_RWR::parse_alg("RECURSIVE+GREEDY", MORV_RWR::s_GREEDY), MORV_RWR::s_RECURSIVE);
    EXPECT_EQ(MORV_RWR::parse_alg("greedy", MORV_RWR::s_RECURSIVE), MORV_RWR::s_RECURSIVE);

    NET_UTIL_NETLIST brk(CDB_FAMILY_BRK);
    MORV_RWR_BRK greedy(brk.api(), &m_params);
    EXPECT_EQ(greedy.get_alg(), MORV_RWR::s_GREEDY);
    EXPECT_EQ(greedy.get_lut_size(), 6);
    EXPECT_EQ(greedy.get_mask_bits(), 64);
    m_params["ALG"] = "RECURSIVE";
    m_params["RTM_AWARE"] = "1";
    m_params["CF"] = "4.5";
    MORV_RWR_BRK recursive(brk.api(), &m_params);
    EXPECT_EQ(recursive.get_alg(), MORV_RWR::s_RECURSIVE);
    EXPECT_TRUE(recursive.is_rtm_aware());
    EXPECT_EQ(recursive.get_cf(), 4.5);
    EXPECT_EQ(recursive.get_of(), 0.9);

    NET_UTIL_NETLIST uvo(CDB_FAMILY_UVO);
    MORV_RWR_UVO uvo_rwr(uvo.api(), nullptr);
    EXPECT_EQ(uvo_rwr.get_alg(), MORV_RWR::s_RECURSIVE);
    EXPECT_EQ(uvo_rwr.get_dup_lab_threshold(), 8);
    EXPECT_EQ(greedy.get_dup_lab_threshold(), 13);
}

TEST_F(Rwr, SevenAtomsAllowOneRewiringAndEqualScoresGoByAtomIds)
{
    NET_UTIL_NETLIST net(CDB_FAMILY_ZEPLA);
    AND_PAIR first(net);  // 9 atoms: 2 LUTs, 5 sources, node_b's sink ...
    ASSERT_EQ(net.netlist()->get_node_count(), 8u);
    net.netlist()->delete_node(first.b->get_output_term_by_type(DB_COMB_OUT)->get_first_fanout()->get_my_node());
    ASSERT_EQ(net.netlist()->get_node_count(), 7u);
    RWR_PROBE<MORV_RWR_ZEPLA> rwr(net.api(), &m_params, 300);
    EXPECT_EQ(rwr.get_max_swaps(), 1);
    EXPECT_EQ(rwr.get_max_dups(), 1);

    // Equal scores: the lower node_a id first, then the lower node_b id.
    MORV_RWR_SWAP_ORDER order;
    MORV_RWR_SWAP x;
    MORV_RWR_SWAP y;
    x.node_a = y.node_b = first.a;
    x.node_b = y.node_a = first.b;
    x.score = y.score = 2.0;
    EXPECT_EQ(order(x, y), first.a->get_id() < first.b->get_id());
    EXPECT_NE(order(x, y), order(y, x));
    y.score = 3.0;
    EXPECT_TRUE(order(y, x));

    // Two records over the same pair: one is performed, the other skipped.
    MORV_RWR_SWAP keep;
    keep.node_a = first.a;
    keep.node_b = first.b;
    keep.port_ab = DB_DATA_A;
    keep.iterm_ab = first.b->get_input_term_by_type(DB_DATA_A);
    keep.new_mask_a = 0x8000;
    keep.new_mask_b = 0x8888;
    keep.score = 5.0;
    MORV_RWR_SWAP other = keep;
    other.score = 4.0;
    rwr.add_swap(keep);
    rwr.add_swap(other);
    EXPECT_EQ(rwr.get_num_pending_swaps(), 2u);
    EXPECT_EQ(rwr.execute_swaps(), 1);
    EXPECT_EQ(rwr.get_num_pending_swaps(), 0u);
}

TEST_F(Rwr, TheProtocolRefusesTouchedNodesAndSpentLimitsWithItsTexts)
{
    NET_UTIL_NETLIST net(CDB_FAMILY_ZEPLA);
    AND_PAIR pair(net);
    // Seven atoms: one rewiring per iteration.
    net.netlist()->delete_node(pair.b->get_output_term_by_type(DB_COMB_OUT)->get_first_fanout()->get_my_node());
    RWR_PROBE<MORV_RWR_ZEPLA> rwr(net.api(), &m_params, 300);
    ASSERT_EQ(rwr.get_max_swaps(), 1);
    make_d_critical(rwr, pair);
    MORV_LOG_CAPTURE log(100);
    msg_clear_vdebug_lines();
    // A caller of the protocol knows the algorithm only as an algorithm.
    MORV_ALGORITHM_BASE& algorithm = rwr;
    algorithm.init_iteration_for_local_optimization();
    CDB_ATOM_ITERM* critical = pair.b->get_input_term_by_type(DB_DATA_A);
    MORV_OWNER<MORV_LOCAL_OPT_INFO> info = algorithm.evaluate_local_optimization(critical);
    ASSERT_TRUE(info);
    std::set<int> touched = {static_cast<int>(pair.a->get_id())};
    EXPECT_FALSE(algorithm.perform_local_optimization(critical, info.get(), &touched));
    touched.clear();
    // Every limit is at least 1: spend them first.
    EXPECT_TRUE(algorithm.perform_local_optimization(critical, info.get(), &touched));
    EXPECT_EQ(touched.size(), 2u);
    EXPECT_EQ(rwr.get_swaps_done(), 1);
    touched.clear();
    EXPECT_FALSE(algorithm.perform_local_optimization(critical, info.get(), &touched));
    algorithm.cleanup_local_optimization(info);
    EXPECT_FALSE(info);
    EXPECT_TRUE(msg_vdebug_lines().empty()) << msg_vdebug_lines().front().text;
    EXPECT_EQ(internal_error_of([&] { algorithm.cleanup_local_optimization(info); }), "opt_info");
    EXPECT_EQ(internal_error_of([&] { algorithm.evaluate_local_optimization(nullptr); }), "local_iterm");
    const MORV_LOCAL_OPT_INFO foreign;
    EXPECT_EQ(internal_error_of([&] { algorithm.perform_local_optimization(critical, &foreign, &touched); }),
              "opt_info");

    std::vector<std::string> expected = {
        "MORV_RWR: Warning - could not perform requested optimization; touched_id violation",
        "MORV_RWR: will perform requested optimization", "MORV_RWR: done swap!",
        "MORV_RWR: Warning - could not perform requested optimization; reached max swaps to try"};
    std::vector<std::string> seen;
    for (const std::string& line : log.lines())
        if (line.rfind("MORV_RWR:", 0) == 0) seen.push_back(line);
    EXPECT_EQ(seen, expected);
}

TEST_F(Rwr, AnEmptyNetlistRewiresNothing)
{
    NET_UTIL_NETLIST net(CDB_FAMILY_TEV);
    MORV_RWR_TEV rwr(net.api(), &m_params);
    MORV_LOG_CAPTURE log(100);
    EXPECT_EQ(rwr.do_iter(), 0);
    std::vector<std::string> lines = log.lines();
    EXPECT_NE(std::find(lines.begin(), lines.end(), "RWR: swaps tried: 0"), lines.end());
    EXPECT_NE(std::find(lines.begin(), lines.end(), "RWR: dups tried: 0"), lines.end());
}

TEST_F(Rwr, AFourInputCellWithoutTheFlagGetsItOnItsFirstNewMask)
{
    NET_UTIL_NETLIST net(CDB_FAMILY_ZEPLA);
    AND_PAIR pair(net);
    RWR_PROBE<MORV_RWR_ZEPLA> rwr(net.api(), &m_params, 300);
    pair.a->clear_bit(CDB_ATOM_BIT_FOUR_INPUT_COMB);
    EXPECT_FALSE(rwr.get_lutmask_flag(pair.a));
    EXPECT_TRUE(pair.a->test_bit(CDB_ATOM_BIT_FOUR_INPUT_COMB));
    EXPECT_FALSE(rwr.get_lutmask_flag(pair.a));
    // With its carry-in connected the cell keeps reading it: the flag says so.
    pair.b->clear_bit(CDB_ATOM_BIT_FOUR_INPUT_COMB);
    net.drive(pair.b, DB_CARRY_IN);
    EXPECT_TRUE(rwr.get_lutmask_flag(pair.b));
    EXPECT_FALSE(pair.b->test_bit(CDB_ATOM_BIT_FOUR_INPUT_COMB));
}

TEST_F(Rwr, UvoRegisterControlAndCascadeInputsNarrowWhatMovesAndWhatDuplicates)
{
    NET_UTIL_NETLIST net(CDB_FAMILY_UVO);
    MORV_RWR_UVO rwr(net.api(), &m_params);
    CDB_ATOM_NODE* cell = net.atom(CDB_KIND_UVO_LCELL, "cell");
    int ports[6] = {};
    ASSERT_EQ(rwr.get_ports_feeding_lutout(cell, ports), 4);
    EXPECT_EQ(std::vector<int>(ports, ports + 4), (std::vector<int>{DB_DATA_A, DB_DATA_B, DB_DATA_D, DB_DATA_C}));
    EXPECT_FALSE(rwr.is_duplication_blocked(cell));
    EXPECT_TRUE(rwr.can_duplicate_node(cell));

    net.drive(cell, DB_REG_CONTROL);
    ASSERT_EQ(rwr.get_ports_feeding_lutout(cell, ports), 3);
    EXPECT_EQ(std::vector<int>(ports, ports + 3), (std::vector<int>{DB_DATA_B, DB_DATA_D, DB_DATA_C}));
    EXPECT_TRUE(rwr.is_duplication_blocked(cell));

    net.drive(cell, DB_REG_CASCADE_IN);
    EXPECT_FALSE(rwr.can_duplicate_node(cell));
    cell->set_bit(CDB_ATOM_BIT_LUTMASK_FLAG);
    EXPECT_EQ(rwr.get_ports_feeding_lutout(cell, ports), 2);
    EXPECT_TRUE(rwr.get_lutmask_flag(cell));
}

}  // namespace

}  // namespace morv_rwr_test
