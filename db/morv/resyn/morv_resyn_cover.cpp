// Sum-of-products covers of a function interval [L, U] with their cube and
// literal counts, cached in a direct-mapped table for the whole run.

#include "morv/resyn/morv_resyn.h"

unsigned MORV_RESYN::cover_cache_bucket(unsigned lower_index, unsigned upper_index)
{
    return ((lower_index * 97u) ^ upper_index) % static_cast<unsigned>(s_COVER_CACHE_SIZE);
}

RESYN_COVER_CACHE& MORV_RESYN::get_cover_cache_entry(const BDD_JBDD& lower, const BDD_JBDD& upper)
{
    return m_cover_cache[cover_cache_bucket(lower.node_index(), upper.node_index())];
}

BDD_JBDD MORV_RESYN::compute_cover(BDD_JBDD lower, BDD_JBDD upper, int& cubes, int& literals)
{
    m_cache_lookups += 1;
    const RESYN_COVER_CACHE& entry = get_cover_cache_entry(lower, upper);
    if (entry.lower == lower && entry.upper == upper) {
        m_cache_hits += 1;
        cubes = entry.cubes;
        literals = entry.literals;
        return entry.cover;
    }
    BDD_JBDD cover;
    if (lower == m_bdd_mgr->false_bdd()) {
        cover = lower;
        cubes = 0;
        literals = 0;
    } else if (upper == m_bdd_mgr->true_bdd()) {
        cover = upper;
        cubes = 1;
        literals = 0;
    } else {
        cover = compute_cover_split(lower, upper, cubes, literals);
    }
    // The recursion may have reused the bucket; it holds this pair now.
    RESYN_COVER_CACHE& stored = get_cover_cache_entry(lower, upper);
    stored.lower = lower;
    stored.upper = upper;
    stored.cover = cover;
    stored.cubes = cubes;
    stored.literals = literals;
    return cover;
}

// Steps 4 to 6 of the recursion: drop the top variable when one cover
// serves both of its values, else cover each cofactor and join them.
BDD_JBDD MORV_RESYN::compute_cover_split(const BDD_JBDD& lower, const BDD_JBDD& upper, int& cubes, int& literals)
{
    const bool lower_on_top = lower.level() <= upper.level();
    const int level = lower_on_top ? lower.level() : upper.level();
    const BDD_JBDD x = m_bdd_mgr->ithvar(lower_on_top ? lower.variable() : upper.variable());
    const BDD_JBDD l0 = lower.level() == level ? lower.low_child() : lower;
    const BDD_JBDD l1 = lower.level() == level ? lower.high_child() : lower;
    const BDD_JBDD u0 = upper.level() == level ? upper.low_child() : upper;
    const BDD_JBDD u1 = upper.level() == level ? upper.high_child() : upper;
    const BDD_JBDD a = l0 | l1;
    const BDD_JBDD b = u0 & u1;
    if (b == (a | b)) return compute_cover(a, b, cubes, literals);
    int c0 = 0;
    int n0 = 0;
    int c1 = 0;
    int n1 = 0;
    const BDD_JBDD cover0 = compute_cover(l0, u0, c0, n0);
    const BDD_JBDD cover1 = compute_cover(l1, u1, c1, n1);
    cubes = c0 + c1;
    const BDD_JBDD both = cover0 | cover1;
    // Only the cubes of a cover that does not contain the other need the
    // literal of x.
    if (both == cover0) literals = n1 + n0 + c0;
    else if (both == cover1) literals = n0 + n1 + c1;
    else literals = n0 + c0 + n1 + c1;
    return x.Ite(cover1, cover0);
}
