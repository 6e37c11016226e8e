#pragma once
// Truth-table reference for the BDD tests. Entry a of a table over n
// variables is the value for the assignment whose variable v is bit v of a.
// Functions are read back from a BDD by walking its children, so the
// reference never goes through the operations under test.

#include <cstdint>
#include <ostream>
#include <random>
#include <set>
#include <vector>

#include "bdd/bdd_jbdd.h"

namespace bdd_test {

constexpr int MAX_VARS_WALKED = 64;

struct TT
{
    int n = 0;
    std::vector<uint8_t> bits;  // 2^n entries, 0 or 1

    explicit TT(int vars = 0, uint8_t value = 0) : n(vars), bits(size_t(1) << vars, value) {}
    size_t rows() const { return bits.size(); }
    // Element by element: GCC 12 warns of a bad bound in the memcmp that
    // the vector comparisons inline to.
    bool operator==(const TT& o) const { return compare(o) == 0; }
    bool operator<(const TT& o) const { return compare(o) < 0; }
    int compare(const TT& o) const
    {
        if (bits.size() != o.bits.size()) return bits.size() < o.bits.size() ? -1 : 1;
        for (size_t a = 0; a < bits.size(); ++a)
            if (bits[a] != o.bits[a]) return bits[a] < o.bits[a] ? -1 : 1;
        return 0;
    }
};

// Failure messages show the table, last row first.
inline void PrintTo(const TT& t, std::ostream* os)
{
    for (size_t a = t.rows(); a-- > 0;) *os << int(t.bits[a]);
}

inline TT tt_var(int n, int v)
{
    TT t(n);
    for (size_t a = 0; a < t.rows(); ++a) t.bits[a] = (a >> v) & 1u;
    return t;
}

template <typename OP>
TT tt_apply(const TT& f, const TT& g, OP op)
{
    TT t(f.n);
    for (size_t a = 0; a < t.rows(); ++a) t.bits[a] = uint8_t(op(f.bits[a], g.bits[a]) ? 1 : 0);
    return t;
}

inline TT tt_not(const TT& f)
{
    TT t(f.n);
    for (size_t a = 0; a < t.rows(); ++a) t.bits[a] = uint8_t(1 - f.bits[a]);
    return t;
}

// f with variable v fixed to value (still a table over all n variables).
inline TT tt_cofactor(const TT& f, int v, int value)
{
    TT t(f.n);
    for (size_t a = 0; a < t.rows(); ++a) t.bits[a] = f.bits[value ? (a | (size_t(1) << v)) : (a & ~(size_t(1) << v))];
    return t;
}

inline bool tt_depends_on(const TT& f, int v)
{
    return !(tt_cofactor(f, v, 0) == tt_cofactor(f, v, 1));
}

// A random function over n variables; some variables are left out of the
// support on purpose, and the density varies so that sparse and dense
// functions both occur.
inline TT tt_random(int n, std::mt19937& rng)
{
    TT t(n);
    unsigned used = 0;
    for (int v = 0; v < n; ++v)
        if (rng() % 4 != 0) used |= 1u << v;
    unsigned percent = 5 + rng() % 91;
    std::vector<uint8_t> sub(size_t(1) << n);
    for (auto& b : sub) b = uint8_t(rng() % 100 < percent ? 1 : 0);
    for (size_t a = 0; a < t.rows(); ++a) t.bits[a] = sub[a & used];
    return t;
}

// The value of f for assignment a, by walking its children; -1 when the
// walk does not end at a constant.
inline int eval(BDD_JBDD_MGR& mgr, BDD_JBDD f, size_t a)
{
    for (int steps = 0; f.variable() >= 0; ++steps) {
        if (steps > MAX_VARS_WALKED) return -1;
        f = ((a >> f.variable()) & 1u) ? f.high_child() : f.low_child();
    }
    return f == mgr.true_bdd() ? 1 : f == mgr.false_bdd() ? 0 : -1;
}

inline TT tt_of(BDD_JBDD_MGR& mgr, const BDD_JBDD& f, int n)
{
    TT t(n);
    for (size_t a = 0; a < t.rows(); ++a) t.bits[a] = uint8_t(eval(mgr, f, a));
    return t;
}

// Shannon expansion through if-then-else on the projections, by variable
// number from v upwards.
inline BDD_JBDD build(BDD_JBDD_MGR& mgr, const TT& f, int v = 0, size_t fixed = 0)
{
    if (v == f.n) return f.bits[fixed] ? mgr.true_bdd() : mgr.false_bdd();
    BDD_JBDD hi = build(mgr, f, v + 1, fixed | (size_t(1) << v));
    BDD_JBDD lo = build(mgr, f, v + 1, fixed);
    return mgr.ithvar(v).Ite(hi, lo);
}

// The variables of f's support, top level first, by brute force.
inline std::vector<int> tt_support(BDD_JBDD_MGR& mgr, const TT& f)
{
    std::vector<int> vars;
    for (int level = 0; level < f.n; ++level) {
        int v = mgr.variable_at(level);
        if (tt_depends_on(f, v)) vars.push_back(v);
    }
    return vars;
}

// Every cofactor of f by the variables at levels 0 .. cut - 1, as a set.
inline std::set<TT> tt_cut_functions(BDD_JBDD_MGR& mgr, const TT& f, int cut)
{
    std::set<TT> cur{f};
    for (int level = 0; level < cut && level < f.n; ++level) {
        int v = mgr.variable_at(level);
        std::set<TT> next;
        for (const TT& g : cur) {
            next.insert(tt_cofactor(g, v, 0));
            next.insert(tt_cofactor(g, v, 1));
        }
        cur.swap(next);
    }
    return cur;
}

// Internal nodes of a diagram with complement edges: the distinct
// non-constant cofactors by every prefix of the order, a function and its
// negation counted once.
inline int tt_node_count(BDD_JBDD_MGR& mgr, const TT& f)
{
    std::set<TT> all;
    for (int cut = 0; cut <= f.n; ++cut)
        for (const TT& g : tt_cut_functions(mgr, f, cut)) all.insert(g.bits[0] ? tt_not(g) : g);
    int count = 0;
    for (const TT& g : all) count += (g == TT(f.n, 0)) ? 0 : 1;
    return count;
}

}  // namespace bdd_test
