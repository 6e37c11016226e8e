// The recursive operations. Each recursion reads the nodes it needs into
// locals before it recurses: a new node may move the store.

#include <algorithm>
#include <utility>
#include <vector>

#include "bdd/bdd_kernel.h"

namespace bdd_detail {

namespace {

// Cache keys of the operations other than if-then-else, whose third operand
// is an edge (top bit clear).
constexpr uint32_t TAG_AND = 0x81000000u;
constexpr uint32_t TAG_XOR = 0x82000000u;
constexpr uint32_t TAG_EXIST = 0x83000000u;
constexpr uint32_t TAG_CONSTRAIN = 0x84000000u;
constexpr uint32_t TAG_COMPOSE = 0x85000000u;  // | variable

}  // namespace

// ------------------------------------------------------------------ entry points

EDGE BDD_KERNEL::apply_and(EDGE f, EDGE g)
{
    prepare_op();
    return and_rec(f, g);
}

EDGE BDD_KERNEL::apply_xor(EDGE f, EDGE g)
{
    prepare_op();
    return xor_rec(f, g);
}

EDGE BDD_KERNEL::apply_ite(EDGE f, EDGE g, EDGE h)
{
    prepare_op();
    return ite_rec(f, g, h);
}

EDGE BDD_KERNEL::apply_exist(EDGE f, EDGE vars)
{
    prepare_op();
    return exist_rec(f, positive_cube(vars));
}

EDGE BDD_KERNEL::apply_compose(EDGE f, EDGE g, int var)
{
    prepare_op();
    if (var < 0 || var >= var_count()) return f;  // a variable not yet made is in no support
    return compose_rec(f, g, uint16_t(var), m_var2level[size_t(var)]);
}

EDGE BDD_KERNEL::apply_constrain(EDGE f, EDGE c)
{
    prepare_op();
    return constrain_rec(f, c);
}

// ------------------------------------------------------------------ and, xor, ite

// By value: a recursion on the cofactors may move the store.
BDD_KERNEL::SPLIT BDD_KERNEL::split(EDGE f, EDGE g) const
{
    const BDD_NODE& nf = m_nodes[edge_index(f)];
    const BDD_NODE& ng = m_nodes[edge_index(g)];
    uint32_t lf = m_var2level[nf.var], lg = m_var2level[ng.var];
    SPLIT s{lf <= lg ? nf.var : ng.var, f, f, g, g};
    if (lf <= lg) s.f1 = nf.hi ^ (f & 1u), s.f0 = nf.lo ^ (f & 1u);
    if (lg <= lf) s.g1 = ng.hi ^ (g & 1u), s.g0 = ng.lo ^ (g & 1u);
    return s;
}

EDGE BDD_KERNEL::and_rec(EDGE f, EDGE g)
{
    if (f == g) return f;
    if (f == edge_not(g)) return EDGE_FALSE;
    if (f > g) std::swap(f, g);
    if (f == EDGE_TRUE) return g;
    if (f == EDGE_FALSE) return EDGE_FALSE;
    EDGE r;
    if (cache_find(f, g, TAG_AND, r)) return r;
    const SPLIT s = split(f, g);
    EDGE t = and_rec(s.f1, s.g1);
    EDGE e = and_rec(s.f0, s.g0);
    r = make_node(s.var, t, e);
    cache_store(f, g, TAG_AND, r);
    return r;
}

// The complement bits come out in front: f ^ !g = !(f ^ g).
EDGE BDD_KERNEL::xor_rec(EDGE f, EDGE g)
{
    EDGE flip = (f ^ g) & 1u;
    f = edge_regular(f);
    g = edge_regular(g);
    if (f == g) return EDGE_FALSE ^ flip;
    if (f > g) std::swap(f, g);
    if (f == EDGE_TRUE) return edge_not(g) ^ flip;
    EDGE r;
    if (cache_find(f, g, TAG_XOR, r)) return r ^ flip;
    const SPLIT s = split(f, g);
    EDGE t = xor_rec(s.f1, s.g1);
    EDGE e = xor_rec(s.f0, s.g0);
    r = make_node(s.var, t, e);
    cache_store(f, g, TAG_XOR, r);
    return r ^ flip;
}

EDGE BDD_KERNEL::ite_rec(EDGE f, EDGE g, EDGE h)
{
    if (f == EDGE_TRUE) return g;
    if (f == EDGE_FALSE) return h;
    if (g == f) g = EDGE_TRUE;
    else if (g == edge_not(f)) g = EDGE_FALSE;
    if (h == f) h = EDGE_FALSE;
    else if (h == edge_not(f)) h = EDGE_TRUE;
    if (g == h) return g;
    if (g == EDGE_TRUE) return edge_not(and_rec(edge_not(f), edge_not(h)));
    if (g == EDGE_FALSE) return and_rec(edge_not(f), h);
    if (h == EDGE_FALSE) return and_rec(f, g);
    if (h == EDGE_TRUE) return edge_not(and_rec(f, edge_not(g)));
    if (g == edge_not(h)) return xor_rec(f, h);
    if (f & 1u) {  // condition regular
        f = edge_not(f);
        std::swap(g, h);
    }
    EDGE flip = g & 1u;  // then-branch regular
    g ^= flip;
    h ^= flip;
    EDGE r;
    if (cache_find(f, g, h, r)) return r ^ flip;
    const BDD_NODE nf = m_nodes[edge_index(f)];
    const BDD_NODE ng = m_nodes[edge_index(g)];
    const BDD_NODE nh = m_nodes[edge_index(h)];
    uint32_t lf = m_var2level[nf.var], lg = m_var2level[ng.var], lh = m_var2level[nh.var];
    uint32_t top = std::min(lf, std::min(lg, lh));
    uint16_t var = m_level2var[top];
    EDGE f1 = f, f0 = f, g1 = g, g0 = g, h1 = h, h0 = h;
    if (lf == top) f1 = nf.hi, f0 = nf.lo;
    if (lg == top) g1 = ng.hi, g0 = ng.lo;
    if (lh == top) h1 = nh.hi ^ (h & 1u), h0 = nh.lo ^ (h & 1u);
    EDGE t = ite_rec(f1, g1, h1);
    EDGE e = ite_rec(f0, g0, h0);
    r = make_node(var, t, e);
    cache_store(f, g, h, r);
    return r ^ flip;
}

// ------------------------------------------------------------------ quantification

// The conjunction of the variables in the support of vars: the form the
// quantification walks, whatever cube (or function) the caller passed.
EDGE BDD_KERNEL::positive_cube(EDGE vars)
{
    bool positive = true;
    for (EDGE e = vars; !edge_constant(e) && positive; e = m_nodes[edge_index(e)].hi)
        positive = (e & 1u) == 0 && m_nodes[edge_index(e)].lo == EDGE_FALSE;
    if (positive && vars != EDGE_FALSE) return vars;
    std::vector<int> vs = support(vars);
    EDGE cube = EDGE_TRUE;
    for (auto it = vs.rbegin(); it != vs.rend(); ++it) cube = make_node(uint16_t(*it), cube, EDGE_FALSE);
    return cube;
}

EDGE BDD_KERNEL::exist_rec(EDGE f, EDGE cube)
{
    if (edge_constant(f)) return f;
    const BDD_NODE nf = m_nodes[edge_index(f)];
    uint32_t lf = m_var2level[nf.var];
    while (!edge_constant(cube) && level(cube) < lf) cube = m_nodes[edge_index(cube)].hi;
    if (cube == EDGE_TRUE) return f;
    EDGE r;
    if (cache_find(f, cube, TAG_EXIST, r)) return r;
    EDGE f1 = nf.hi ^ (f & 1u), f0 = nf.lo ^ (f & 1u);
    if (level(cube) == lf) {
        EDGE rest = m_nodes[edge_index(cube)].hi;
        r = exist_rec(f1, rest);
        if (r != EDGE_TRUE) r = edge_not(and_rec(edge_not(r), edge_not(exist_rec(f0, rest))));
    } else {
        EDGE t = exist_rec(f1, cube);
        EDGE e = exist_rec(f0, cube);
        r = make_node(nf.var, t, e);
    }
    cache_store(f, cube, TAG_EXIST, r);
    return r;
}

// ------------------------------------------------------------------ compose, constrain

// f with g in place of var; f and !f give complementary results, so only the
// regular edge is cached.
EDGE BDD_KERNEL::compose_rec(EDGE f, EDGE g, uint16_t var, uint32_t var_level)
{
    if (edge_constant(f)) return f;
    const BDD_NODE nf = m_nodes[edge_index(f)];
    uint32_t lf = m_var2level[nf.var];
    if (lf > var_level) return f;
    EDGE flip = f & 1u;
    f ^= flip;
    EDGE r;
    if (cache_find(f, g, TAG_COMPOSE | var, r)) return r ^ flip;
    if (nf.var == var) {
        r = ite_rec(g, nf.hi, nf.lo);
    } else {
        EDGE t = compose_rec(nf.hi, g, var, var_level);
        EDGE e = compose_rec(nf.lo, g, var, var_level);
        bool below = (edge_constant(t) || level(t) > lf) && (edge_constant(e) || level(e) > lf);
        r = below ? make_node(nf.var, t, e) : ite_rec(m_var_edges[nf.var], t, e);
    }
    cache_store(f, g, TAG_COMPOSE | var, r);
    return r ^ flip;
}

// The generalised cofactor: f at the point of c nearest to the argument, the
// distance weighting a variable the more the higher it stands in the order.
// Constraining by false gives false.
EDGE BDD_KERNEL::constrain_rec(EDGE f, EDGE c)
{
    if (c == EDGE_FALSE) return EDGE_FALSE;
    if (c == EDGE_TRUE || edge_constant(f)) return f;
    if (f == c) return EDGE_TRUE;
    if (f == edge_not(c)) return EDGE_FALSE;
    EDGE flip = f & 1u;
    f ^= flip;
    EDGE r;
    if (cache_find(f, c, TAG_CONSTRAIN, r)) return r ^ flip;
    const SPLIT s = split(f, c);  // g1, g0: the cofactors of c
    if (s.g0 == EDGE_FALSE) {
        r = constrain_rec(s.f1, s.g1);
    } else if (s.g1 == EDGE_FALSE) {
        r = constrain_rec(s.f0, s.g0);
    } else {
        EDGE t = constrain_rec(s.f1, s.g1);
        EDGE e = constrain_rec(s.f0, s.g0);
        r = make_node(s.var, t, e);
    }
    cache_store(f, c, TAG_CONSTRAIN, r);
    return r ^ flip;
}

}  // namespace bdd_detail
