// Boolean division of a collapsed cone: the remaining function is divided
// by LUT-sized divisors, one new variable each, until it fits the root.
// Divisors are chosen to take critical variables out of them, so that the
// critical signals reach the root's own LUT directly.

#include <algorithm>
#include <vector>

#include "morv/core/morv_assert.h"
#include "morv/core/morv_debug_stream.h"
#include "morv/resyn/morv_resyn.h"

namespace {

// The candidates a variable x offers, in the order they are tried.
std::vector<BDD_JBDD> divisor_candidates(const BDD_JBDD& g, const BDD_JBDD& x)
{
    const BDD_JBDD c1 = g.Constrain(x);
    const BDD_JBDD c0 = g.Constrain(!x);
    return {c1, c0, c0 | c1, c0 & c1};
}

}  // namespace

double MORV_RESYN::get_min_support_slack_ratio(const BDD_JBDD& f)
{
    double result = 1.0;
    for (int v : f.build_support()) result = std::min(result, m_vars[static_cast<size_t>(v)]->sr);
    return result;
}

// The interval of the remaining function once y stands for d.
void MORV_RESYN::divided_interval(const BDD_JBDD& d, BDD_JBDD& lower, BDD_JBDD& upper)
{
    const int y = static_cast<int>(m_vars.size());
    lower = m_div_data->lower & (m_bdd_mgr->nithvar(y) ^ d);
    upper = m_div_data->upper | (m_bdd_mgr->ithvar(y) ^ d);
}

int MORV_RESYN::evaluate_divisor(const BDD_JBDD& d, int* support_size)
{
    BDD_JBDD lower;
    BDD_JBDD upper;
    divided_interval(d, lower, upper);
    int cubes = 0;
    int literals = 0;
    const BDD_JBDD cover = compute_cover(lower, upper, cubes, literals);
    if (support_size != nullptr) *support_size = cover.support_size();
    return m_div_data->literals - literals;
}

void MORV_RESYN::apply_divisor(const BDD_JBDD& d)
{
    RESYN_DIV_DATA& div = *m_div_data;
    BDD_JBDD lower;
    BDD_JBDD upper;
    divided_interval(d, lower, upper);
    // A variable the interval admits a function without is dropped.
    for (int v : div.support) {
        const BDD_JBDD e = lower.Exist(v);
        const BDD_JBDD f = upper.ForAll(v);
        if (f == (e | f)) {
            lower = e;
            upper = f;
        }
    }
    int cubes = 0;
    div.cover = compute_cover(lower, upper, cubes, div.literals);
    div.support = div.cover.build_support();
    if (lower.size() < s_DONT_CARE_NODE_LIMIT && upper.size() < s_DONT_CARE_NODE_LIMIT) {
        div.lower = lower;
        div.upper = upper;
        return;
    }
    MORV_DEBUG_STREAM::print(100, "div. resetting don't cares.");
    div.lower = div.cover;
    div.upper = div.cover;
}

// The weight of removing variable v from a divisor: critical variables
// weigh more, so divisors are built from the others.
int MORV_RESYN::get_knock_weight(int v) const
{
    const double s = m_knock_var_mult0 * m_stage_sr;
    if (s == 0.0) return m_knock_var_base;
    const double dv = std::clamp(m_vars[static_cast<size_t>(v)]->sr - m_root_sr, 0.0, s);
    return m_knock_var_base + static_cast<int>((s - dv) * m_knock_var_mult1 / s);
}

BDD_JBDD MORV_RESYN::find_divisor(int& cost)
{
    cost = 0;
    BDD_JBDD g = m_div_data->cover;
    for (;;) {
        const std::vector<int> support = g.build_support();
        if (static_cast<int>(support.size()) <= m_num_data_ports && is_lut_function_legal(g, support))
            return refine_divisor(g, cost);
        int best_score = 0;
        BDD_JBDD best;
        for (int v : support) {
            const int weight = get_knock_weight(v);
            for (const BDD_JBDD& c : divisor_candidates(g, m_bdd_mgr->ithvar(v))) {
                const int score = evaluate_divisor(c, nullptr) * weight;
                if (score <= best_score) continue;
                best_score = score;
                best = c;
            }
        }
        if (best_score < 1) return g;
        g = best;
    }
}

BDD_JBDD MORV_RESYN::refine_divisor(BDD_JBDD d, int& cost)
{
    int first_support = 0;
    cost = evaluate_divisor(d, &first_support);
    const bool too_wide = m_div_data->available_inputs < first_support;
    for (;;) {
        BDD_JBDD best = d;
        double best_sr = 1.01;
        for (int v : d.build_support()) {
            const double sr_v = std::min(m_vars[static_cast<size_t>(v)]->sr, 1.0);
            if (!(sr_v < best_sr)) continue;
            for (const BDD_JBDD& c : divisor_candidates(d, m_bdd_mgr->ithvar(v))) {
                int support_size = 0;
                const int gain = evaluate_divisor(c, &support_size);
                const bool passes = too_wide ? gain >= cost : support_size <= m_div_data->available_inputs;
                if (!passes) continue;
                best = c;
                best_sr = sr_v;
                break;
            }
        }
        if (best == d) return d;
        d = best;
    }
}

// The LUTs the network will still need besides the root, at iteration i.
int MORV_RESYN::estimate_divisor_luts(int iteration) const
{
    const int lut = m_num_data_ports;
    const int excess = static_cast<int>(m_div_data->support.size()) - m_div_data->available_inputs - lut + 1;
    int k = 1;
    if (excess > 0) k = 1 + (excess + excess % (lut - 1)) / (lut - 1);
    return k - 1 + iteration;
}

// The network can still beat the root's logic with est more LUTs only when
// they would pass acceptance at the slack ratio reached so far.
bool MORV_RESYN::can_still_improve(int est, double min_sr) const
{
    return is_improvement(est, min_sr, false);
}

bool MORV_RESYN::divide()
{
    MORV_ASSERT_TEXT(m_soln, "m_soln");
    RESYN_DIV_DATA& div = *m_div_data;
    int cubes = 0;
    div.cover = compute_cover(div.lower, div.upper, cubes, div.literals);
    div.support = div.cover.build_support();
    double min_sr = get_min_support_slack_ratio(div.cover);
    for (int i = 1;; ++i) {
        MORV_DEBUG_STREAM::print(100, "div. iteration %d, literals %d, vars %d.", i, div.literals,
                                 static_cast<int>(div.support.size()));
        if (static_cast<int>(div.support.size()) <= div.available_inputs &&
            is_lut_function_legal(div.cover, div.support))
            return true;
        if (!can_still_improve(estimate_divisor_luts(i), min_sr)) {
            MORV_DEBUG_STREAM::print(100, "div. early cutoff.");
            return false;
        }
        int cost = 0;
        const BDD_JBDD d = find_divisor(cost);
        if (cost == 0) {
            MORV_DEBUG_STREAM::print(100, "div. cannot find divisor.");
            return false;
        }
        MORV_DEBUG_STREAM::print(100, "div. divisor cost %d.", cost);
        apply_divisor(d);
        min_sr = std::min(min_sr, append_divisor_var(d)->sr);
    }
}

RESYN_VAR* MORV_RESYN::append_divisor_var(const BDD_JBDD& d)
{
    MORV_OWNER<RESYN_VAR> var = MORV_MAKE_OWNER(RESYN_VAR);
    var->var_index = static_cast<int>(m_vars.size());
    var->bdd = d;
    var->sr = get_min_support_slack_ratio(d) - m_stage_sr;
    var->refs = 0;
    var->is_input = false;
    var->in_support = false;
    RESYN_VAR* result = var.get();
    m_vars.push_back(std::move(var));
    return result;
}
