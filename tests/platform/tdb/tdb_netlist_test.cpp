// Timing netlist edits: after any sequence of node and edge additions and
// removals, each node's fan-out, data fan-in and clock fan-in lists, the
// nodes of each atom and the nodes found by output term must be what the
// documented list rules give (appended; a removed edge's slot taken by the
// last edge of its list).

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <memory>
#include <random>
#include <vector>

#include "cdb/cdb_atom_terms.h"
#include "tdb/tdb_netlist.h"

namespace tdb_netlist_test {

namespace {

struct REF_NODE
{
    int atom = 0;
    bool keeper = false;
    std::vector<int> fanout, fanin, clkin;  // edge ids
};

struct REF_EDGE
{
    int src = 0, dst = 0;
    bool clock = false;
};

// The same edits on plain vectors and maps.
class REFERENCE
{
public:
    std::map<int, REF_NODE> nodes;
    std::map<int, REF_EDGE> edges;
    std::map<int, std::vector<int>> atoms;
    std::map<const CDB_ATOM_OTERM*, int> by_term;
    std::map<int, const CDB_ATOM_OTERM*> term_of;

    void add_node(int id, int atom, bool keeper, const CDB_ATOM_OTERM* term, bool indexed)
    {
        nodes[id] = {atom, keeper, {}, {}, {}};
        atoms[atom].push_back(id);
        term_of[id] = term;
        if (term && indexed) by_term[term] = id;
    }
    void add_edge(int id, int src, int dst, bool clock)
    {
        edges[id] = {src, dst, clock};
        nodes[src].fanout.push_back(id);
        (clock ? nodes[dst].clkin : nodes[dst].fanin).push_back(id);
    }
    void remove_edge(int id)
    {
        const REF_EDGE e = edges.at(id);
        swap_out(nodes[e.src].fanout, id);
        swap_out(e.clock ? nodes[e.dst].clkin : nodes[e.dst].fanin, id);
        edges.erase(id);
    }
    void remove_node(int id)
    {
        REF_NODE& n = nodes.at(id);
        while (!n.fanin.empty()) remove_edge(n.fanin.back());
        while (!n.clkin.empty()) remove_edge(n.clkin.back());
        while (!n.fanout.empty()) remove_edge(n.fanout.back());
        auto it = by_term.find(term_of[id]);
        if (it != by_term.end() && it->second == id) by_term.erase(it);
        std::vector<int>& of_atom = atoms[n.atom];
        of_atom.erase(std::find(of_atom.begin(), of_atom.end(), id));
        nodes.erase(id);
    }

private:
    static void swap_out(std::vector<int>& list, int id)
    {
        auto it = std::find(list.begin(), list.end(), id);
        ASSERT_NE(it, list.end());
        *it = list.back();
        list.pop_back();
    }
};

std::vector<int> ids_of(const TDB_EDGE_RANGE& edges)
{
    std::vector<int> out;
    for (const TDB_EDGE* e : edges) out.push_back(e->get_id());
    return out;
}

void expect_same(const TDB_NETLIST& tdb, const REFERENCE& ref,
                 const std::vector<std::unique_ptr<CDB_ATOM_OTERM>>& terms)
{
    ASSERT_EQ(tdb.get_num_nodes(), (int)ref.nodes.size());
    ASSERT_EQ(tdb.get_num_edges(), (int)ref.edges.size());
    for (const auto& [id, r] : ref.nodes) {
        const TDB_NODE* n = tdb.find_node(id);
        ASSERT_NE(n, nullptr);
        ASSERT_EQ(ids_of(n->fanout()), r.fanout) << "node " << id;
        ASSERT_EQ(ids_of(n->fanin()), r.fanin) << "node " << id;
        ASSERT_EQ(ids_of(n->clkin()), r.clkin) << "node " << id;
        ASSERT_EQ(n->get_num_of_fanout(), (int)r.fanout.size());
        // The compound walk: data fan-in, clock fan-in, then fan-out.
        std::vector<int> walk, want = r.fanin;
        want.insert(want.end(), r.clkin.begin(), r.clkin.end());
        want.insert(want.end(), r.fanout.begin(), r.fanout.end());
        for (TDB_EDGE_COMPOUND_ITER it(n, TDB_SELECT_ALL_FANIN | TDB_SELECT_FANOUT); !it.done(); ++it)
            walk.push_back((*it)->get_id());
        ASSERT_EQ(walk, want) << "node " << id;
    }
    for (const auto& [id, r] : ref.edges) {
        const TDB_EDGE* e = tdb.find_edge(id);
        ASSERT_NE(e, nullptr);
        ASSERT_EQ(e->get_src_node()->get_id(), r.src);
        ASSERT_EQ(e->get_dst_node()->get_id(), r.dst);
    }
    for (const auto& [atom, ids] : ref.atoms) ASSERT_EQ(tdb.get_atom_nodes(atom).to_vector(), ids) << "atom " << atom;
    for (const auto& t : terms) {
        auto it = ref.by_term.find(t.get());
        const TDB_NODE* found = tdb.get_tdb_node_from_oterm(t.get());
        ASSERT_EQ(found ? found->get_id() : -1, it == ref.by_term.end() ? -1 : it->second);
    }
}

}  // namespace

TEST(TdbNetlistEdits, RandomEditsKeepListsAtomsAndTermIndexInStep)
{
    std::vector<std::unique_ptr<CDB_ATOM_OTERM>> terms;
    for (int i = 0; i < 40; ++i) terms.push_back(std::make_unique<CDB_ATOM_OTERM>(nullptr, DB_COMB_OUT));
    for (unsigned seed = 1; seed <= 6; ++seed) {
        std::mt19937 rng(seed);
        auto pick = [&rng](int n) { return (int)(rng() % (unsigned)n); };
        // The first netlist starts at id 0, as the first one of a process does.
        TDB_NETLIST tdb(100 * (int)(seed - 1), 7 * (int)seed);
        REFERENCE ref;
        std::vector<int> live_nodes;
        for (int step = 0; step < 1500; ++step) {
            const int op = pick(100);
            if (op < 20 || live_nodes.size() < 2) {
                const int atom = 5 + pick(12);
                const bool keeper = pick(3) == 0;
                CDB_ATOM_OTERM* term = pick(4) == 0 ? nullptr : terms[(size_t)pick((int)terms.size())].get();
                const bool indexed = pick(5) != 0;
                TDB_NODE* n = tdb.add_node(atom, keeper ? (uint32_t)TDB_NODE_REGISTER : 0u, term, -1, 0, 0, indexed);
                // Some nodes start in the shared block, sized too small on purpose.
                if (pick(2) == 0) tdb.reserve_edges(n, 1 + pick(3));
                ref.add_node(n->get_id(), atom, keeper, term, indexed);
                live_nodes.push_back(n->get_id());
            } else if (op < 70) {
                // Self-loops and many edges into and out of a few hub nodes included.
                const int src = pick(4) == 0 ? live_nodes[0] : live_nodes[(size_t)pick((int)live_nodes.size())];
                const int dst = pick(6) == 0 ? src : live_nodes[(size_t)pick((int)live_nodes.size())];
                const bool clock = ref.nodes[dst].keeper && pick(2) == 0;
                TDB_EDGE* e = tdb.add_edge(tdb.find_node(src), tdb.find_node(dst), nullptr, clock, 0, 0);
                ref.add_edge(e->get_id(), src, dst, clock);
            } else if (op < 92 && !ref.edges.empty()) {
                auto it = ref.edges.begin();
                std::advance(it, pick((int)ref.edges.size()));
                const int id = it->first;
                tdb.remove_edge(tdb.find_edge(id));
                ref.remove_edge(id);
            } else if (live_nodes.size() > 2) {
                const size_t k = (size_t)pick((int)live_nodes.size());
                const int id = live_nodes[k];
                live_nodes.erase(live_nodes.begin() + (long)k);
                tdb.remove_node(tdb.find_node(id));
                ref.remove_node(id);
            }
            if (step % 50 == 0) expect_same(tdb, ref, terms);
            if (HasFatalFailure()) return;
        }
        expect_same(tdb, ref, terms);
    }
}

// Removing an edge from the middle of a list moves that list's last edge
// into its slot; the neighbouring lists of the node keep their order.
TEST(TdbNetlistEdits, RemovalSwapsInTheLastEdgeOfTheSameList)
{
    TDB_NETLIST tdb;
    TDB_NODE* hub = tdb.add_node(1, TDB_NODE_REGISTER, nullptr);
    TDB_NODE* other = tdb.add_node(2, 0, nullptr);
    tdb.reserve_edges(hub, 8);
    std::vector<TDB_EDGE*> out, in;
    for (int i = 0; i < 4; ++i) out.push_back(tdb.add_edge(hub, other, nullptr, false, 0, 0));
    for (int i = 0; i < 3; ++i) in.push_back(tdb.add_edge(other, hub, nullptr, false, 0, 0));
    TDB_EDGE* clk = tdb.add_edge(other, hub, nullptr, true, 0, 0);
    tdb.remove_edge(out[1]);
    EXPECT_EQ(ids_of(hub->fanout()), (std::vector<int>{out[0]->get_id(), out[3]->get_id(), out[2]->get_id()}));
    EXPECT_EQ(ids_of(hub->fanin()), (std::vector<int>{in[0]->get_id(), in[1]->get_id(), in[2]->get_id()}));
    EXPECT_EQ(ids_of(hub->clkin()), std::vector<int>{clk->get_id()});
    tdb.remove_edge(in[0]);
    EXPECT_EQ(ids_of(hub->fanin()), (std::vector<int>{in[2]->get_id(), in[1]->get_id()}));
    // The moved edges still know their slots: removing them works.
    tdb.remove_edge(out[3]);
    tdb.remove_edge(in[2]);
    EXPECT_EQ(ids_of(hub->fanout()), (std::vector<int>{out[0]->get_id(), out[2]->get_id()}));
    EXPECT_EQ(ids_of(hub->fanin()), std::vector<int>{in[1]->get_id()});
    EXPECT_EQ(ids_of(hub->clkin()), std::vector<int>{clk->get_id()});
}

namespace {

// The documented answer of get_delay from the eight values [kind][which][transition].
int expected_delay(const int (&v)[2][2][2], int kind, int which, int transition)
{
    auto pick = [&](int a, int b) { return which == TDB_MAX ? std::max(a, b) : std::min(a, b); };
    if (kind == TDB_DELAY_TOTAL) {
        const int a = v[0][which][0] + v[1][which][0], b = v[0][which][1] + v[1][which][1];
        return transition == 2 ? pick(a, b) : transition == 0 ? a : b;
    }
    return transition == 2 ? pick(v[kind][which][0], v[kind][which][1]) : v[kind][which][transition];
}

struct COUNTING_LISTENER : TDB_NETLIST_LISTENER
{
    int delays = 0;
    void on_delays_changed() override { ++delays; }
    void on_structure_changed() override {}
};

}  // namespace

// Bounds and transitions may differ per kind: every query answers from the
// values last set, whether they are all alike or not, also after the edge
// went back to one value and after removed edges made room for new ones.
TEST(TdbNetlistEdits, DelaysOfEachBoundAndTransition)
{
    TDB_NETLIST tdb;
    COUNTING_LISTENER listener;
    tdb.set_listener(&listener);
    TDB_NODE* a = tdb.add_node(1, 0, nullptr);
    TDB_NODE* b = tdb.add_node(2, 0, nullptr);
    std::mt19937 rng(7);
    std::vector<TDB_EDGE*> edges;
    std::map<int, std::vector<int>> values;  // edge id -> the eight values
    for (int i = 0; i < 8; ++i) {
        TDB_EDGE* e = tdb.add_edge(a, b, nullptr, false, 10 + i, 20 + i);
        edges.push_back(e);
        values[e->get_id()] = {10 + i, 10 + i, 10 + i, 10 + i, 20 + i, 20 + i, 20 + i, 20 + i};
    }
    for (int round = 0; round < 200; ++round) {
        const size_t k = rng() % edges.size();
        TDB_EDGE* e = edges[k];
        if (round % 17 == 16) {
            // Removed and replaced: the new edge starts from its own delays.
            values.erase(e->get_id());
            tdb.remove_edge(e);
            e = edges[k] = tdb.add_edge(a, b, nullptr, false, 5, 6);
            values[e->get_id()] = {5, 5, 5, 5, 6, 6, 6, 6};
        } else {
            const int kind = (int)(rng() % 2);
            const bool alike = rng() % 3 == 0;
            int v[4];
            for (int& x : v) x = alike ? 40 : (int)(rng() % 100) - 20;
            const int before = listener.delays;
            const bool same = std::equal(v, v + 4, values[e->get_id()].begin() + 4 * kind);
            ASSERT_TRUE(e->get_delay()->set_delay(kind, v[0], v[1], v[2], v[3]));
            EXPECT_EQ(listener.delays, before + (same ? 0 : 1));
            std::copy(v, v + 4, values[e->get_id()].begin() + 4 * kind);
        }
        for (TDB_EDGE* x : edges) {
            const std::vector<int>& s = values[x->get_id()];
            const int v[2][2][2] = {{{s[0], s[1]}, {s[2], s[3]}}, {{s[4], s[5]}, {s[6], s[7]}}};
            for (int kind : {TDB_DELAY_IC, TDB_DELAY_CELL, TDB_DELAY_TOTAL})
                for (int which : {TDB_MAX, TDB_MIN})
                    for (int t = 0; t < 3; ++t)
                        ASSERT_EQ(x->get_delay()->get_delay(kind, which, t), expected_delay(v, kind, which, t))
                            << "round " << round << " kind " << kind << " which " << which << " transition " << t;
        }
    }
    EXPECT_EQ(edges[0]->get_delay()->get_delay(3, TDB_MAX, 0), TDB_ILLEGAL_DELAY);
    EXPECT_EQ(edges[0]->get_delay()->get_delay(TDB_DELAY_IC, 2, 0), TDB_ILLEGAL_DELAY);
    EXPECT_EQ(edges[0]->get_delay()->get_delay(TDB_DELAY_IC, TDB_MAX, 3), TDB_ILLEGAL_DELAY);
    EXPECT_FALSE(edges[0]->get_delay()->set_delay(TDB_DELAY_TOTAL, 1));
    tdb.set_listener(nullptr);
}

// Node id 0 (the first node of a process) is a node like any other in the
// index by term: found among many, dropped with the node without losing the
// others, and its term free for another node.
TEST(TdbNetlistEdits, NodeIdZeroInTheTermIndex)
{
    TDB_NETLIST tdb(0, 0);
    std::vector<std::unique_ptr<CDB_ATOM_OTERM>> terms;
    for (int i = 0; i < 200; ++i) terms.push_back(std::make_unique<CDB_ATOM_OTERM>(nullptr, DB_COMB_OUT));
    std::vector<TDB_NODE*> nodes;
    for (int i = 0; i < 200; ++i) nodes.push_back(tdb.add_node(i, 0, terms[(size_t)i].get()));
    ASSERT_EQ(nodes[0]->get_id(), 0);
    for (int i = 0; i < 200; ++i) ASSERT_EQ(tdb.get_tdb_node_from_oterm(terms[(size_t)i].get()), nodes[(size_t)i]);
    // Entries after node 0's in a run move back past it when others leave.
    for (int i = 1; i < 200; i += 2) tdb.remove_node(nodes[(size_t)i]);
    for (int i = 0; i < 200; ++i)
        ASSERT_EQ(tdb.get_tdb_node_from_oterm(terms[(size_t)i].get()), i % 2 ? nullptr : nodes[(size_t)i]);
    tdb.remove_node(nodes[0]);
    EXPECT_EQ(tdb.get_tdb_node_from_oterm(terms[0].get()), nullptr);
    for (int i = 2; i < 200; i += 2) ASSERT_EQ(tdb.get_tdb_node_from_oterm(terms[(size_t)i].get()), nodes[(size_t)i]);
    TDB_NODE* again = tdb.add_node(0, 0, terms[0].get());
    EXPECT_EQ(tdb.get_tdb_node_from_oterm(terms[0].get()), again);
    EXPECT_TRUE(tdb.get_atom_nodes(0).to_vector() == std::vector<int>{again->get_id()});
}

}  // namespace tdb_netlist_test
