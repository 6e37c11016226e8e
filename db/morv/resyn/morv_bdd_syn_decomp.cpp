// Cut-and-encode decomposition of the cone function: the variables with
// slack to spare are sifted to the top of the order, a cut level is chosen,
// the distinct sub-functions below it are encoded by new LUTs over the
// bound set, and the function is replaced by its image over the codes and
// the free variables, until what is left fits one LUT. Critical variables
// stay below the cut and so feed the final LUT directly.

#include <algorithm>
#include <cmath>
#include <limits>

#include "morv/core/family/morv_family_traits.h"
#include "morv/core/morv_assert.h"
#include "morv/core/morv_debug_stream.h"
#include "morv/resyn/morv_bdd_syn.h"

bool MORV_BDD_SYN::decompose(BDD_JBDD f, int available_inputs)
{
    int k = f.support_size();
    for (;;) {
        if (k <= available_inputs && is_bdd_legal(f)) break;
        // The variables that can afford one more logic level.
        std::vector<MORV_BDD_SYN_ITERM_SRC*> list;
        for (int var : f.build_support())
            if (m_vars[var]->curr_slack - m_curr_logic_level_delay >= m_slack_bound) list.push_back(m_vars[var].get());
        const int m = std::min(static_cast<int>(list.size()), m_num_data_ports);
        if (m >= 2) sift_vars(f, m, list);
        const int c = choose_cut(f, k, m, available_inputs);
        if (c < 2) return false;
        f = decompose_at_cut(f, c);
        k = f.support_size();
    }
    MORV_OWNER<MORV_BDD_SYN_ITERM_SRC> root = MORV_MAKE_OWNER(MORV_BDD_SYN_ITERM_SRC);
    root->var_index = static_cast<int>(m_vars.size());
    root->slack_ratio = 1.0;
    root->init_slack = s_SLACK_LIMIT;
    root->curr_slack = s_SLACK_LIMIT;
    for (int var : f.build_support()) {
        const MORV_BDD_SYN_ITERM_SRC& v = *m_vars[var];
        root->slack_ratio = std::min(root->slack_ratio, v.slack_ratio);
        root->init_slack = std::min(root->init_slack, v.init_slack);
        root->curr_slack = std::min(root->curr_slack, v.curr_slack);
    }
    root->bdd = f;
    MORV_DEBUG_STREAM::print(100, "  final slack ratio: %f", root->slack_ratio);
    MORV_DEBUG_STREAM::print(100, "  final init slack: %d", root->init_slack);
    MORV_DEBUG_STREAM::print(100, "  final curr slack: %d", root->curr_slack);
    m_vars.push_back(std::move(root));
    return true;
}

// ---------------------------------------------------------------- ordering

void MORV_BDD_SYN::sift_vars(const BDD_JBDD& f, int m, const std::vector<MORV_BDD_SYN_ITERM_SRC*>& list)
{
    MORV_ASSERT_TEXT(m >= 2, "max_lut_size >= 2");
    MORV_DEBUG_STREAM::print(100, "  reorder bgn size: %d", f.size());
    const int n = static_cast<int>(list.size());
    for (int i = 0; i < n; ++i) move_var(m_bdd_mgr->level_of_var(list[i]->var_index), i);
    int moves = 0;
    do {
        moves = 0;
        for (const MORV_BDD_SYN_ITERM_SRC* v : list) {
            m_bdd_mgr->garbage_collect();
            const int p = m_bdd_mgr->level_of_var(v->var_index);
            int best = p;
            double best_cost = get_order_cost(f, m, n);
            m_bdd_mgr->begin_reorder();
            auto step = [&](int towards) {
                const int level = m_bdd_mgr->level_of_var(v->var_index);
                m_bdd_mgr->swap_adjacent_variables(v->var_index, m_bdd_mgr->variable_at(level + towards));
                const double cost = get_order_cost(f, m, n);
                if (cost < best_cost) {
                    best = level + towards;
                    best_cost = cost;
                }
            };
            while (m_bdd_mgr->level_of_var(v->var_index) > 0) step(-1);
            while (m_bdd_mgr->level_of_var(v->var_index) < n - 1) step(1);
            m_bdd_mgr->end_reorder();
            if (best != p) {
                ++moves;
                MORV_DEBUG_STREAM::print(100, "  sift %d -> %d: %f", p, best, best_cost);
            }
            move_var(n - 1, best);
        }
    } while (moves > 0);
    MORV_DEBUG_STREAM::print(100, "  reorder end size: %d", f.size());
}

double MORV_BDD_SYN::get_order_cost(const BDD_JBDD& f, int m, int n) const
{
    const double size = f.size();
    double widths = 0.0;
    for (int c = 2; c <= m; ++c) widths += get_cut_width(f, c);
    const int d = static_cast<int>(std::trunc(static_cast<double>(m_curr_logic_level_delay) * n / (m - 1)));
    int s = 0;
    double a = 0.0;
    for (int i = 0; i < m; ++i) {
        const int margin = m_vars[m_bdd_mgr->variable_at(i)]->curr_slack - m_slack_bound;
        s += std::min(d, margin);
        if (i >= 1) a += s;
    }
    // Without any slack margin no order is better than another.
    if (a <= 0.0) return std::numeric_limits<double>::infinity();
    return widths * widths * size / a;
}

void MORV_BDD_SYN::move_var(int from_level, int to_level)
{
    if (from_level == to_level) return;
    m_bdd_mgr->garbage_collect();
    const int var = m_bdd_mgr->variable_at(from_level);
    const int towards = to_level < from_level ? -1 : 1;
    m_bdd_mgr->begin_reorder();
    for (int level = from_level; level != to_level; level += towards)
        m_bdd_mgr->swap_adjacent_variables(var, m_bdd_mgr->variable_at(level + towards));
    m_bdd_mgr->end_reorder();
}

void MORV_BDD_SYN::restore_identity_order()
{
    const int count = m_bdd_mgr->var_count();
    for (int i = 0; i < count; ++i) move_var(m_bdd_mgr->level_of_var(i), i);
}

// ---------------------------------------------------------------- cuts

int MORV_BDD_SYN::get_cut_width(const BDD_JBDD& f, int c) const
{
    return static_cast<int>(f.get_cut_nodes(c).size());
}

int MORV_BDD_SYN::choose_cut(const BDD_JBDD& f, int k, int m, int available_inputs)
{
    if (m < 2) return 0;
    // A bound set that fills a whole LUT of the families that read masks in
    // reverse order costs two more codes.
    const bool wide_costs_more = morv_family_traits(m_base_family).m_mask_bits_reversed;
    const int wide_bound_set = 6;
    int best = 0;
    int best_score = 0;
    for (int c = 2; c <= m; ++c) {
        int w = get_cut_width(f, c);
        MORV_DEBUG_STREAM::print(100, "  cut size %d: %d", c, w);
        if (wide_costs_more && c == wide_bound_set) w += 2;
        // One cut node means the function ignores the bound set: nothing to encode.
        if (w < 2) continue;
        const double bits = static_cast<double>(std::log(static_cast<float>(w))) / std::log(2.0);
        const int e = MORV_NET_UTIL::ceil_log2(static_cast<uint64_t>(w));
        if (e >= c) continue;
        const bool fits = k + e - c <= available_inputs;
        if (!is_lut_function_legal(f, c, fits)) continue;
        const int b = fits ? m : c;
        const int score = static_cast<int>(b * 1000.0 / bits + 0.000001);
        if (score > best_score) {
            best = c;
            best_score = score;
        }
    }
    MORV_DEBUG_STREAM::print(100, "  best cut: %d", best);
    return best;
}

BDD_JBDD MORV_BDD_SYN::decompose_at_cut(const BDD_JBDD& f, int c)
{
    const std::vector<BDD_JBDD> cuts = f.get_cut_nodes(c);
    const int w = static_cast<int>(cuts.size());
    const int e = MORV_NET_UTIL::ceil_log2(static_cast<uint64_t>(w));
    double slack_ratio = 1.0;
    int init_slack = s_SLACK_LIMIT;
    int curr_slack = s_SLACK_LIMIT;
    for (int level = 0; level < c; ++level) {
        const MORV_BDD_SYN_ITERM_SRC& v = *m_vars[m_bdd_mgr->variable_at(level)];
        slack_ratio = std::min(slack_ratio, v.slack_ratio);
        init_slack = std::min(init_slack, v.init_slack);
        curr_slack = std::min(curr_slack, v.curr_slack);
    }
    const int cut_slack = curr_slack - m_curr_logic_level_delay;
    MORV_DEBUG_STREAM::print(100, "  cut slack ratio: %f", slack_ratio);
    MORV_DEBUG_STREAM::print(100, "  cut init slack: %d", init_slack);
    MORV_DEBUG_STREAM::print(100, "  cut curr slack: %d", cut_slack);
    std::vector<int> codes;
    for (int j = 0; j < e; ++j) {
        MORV_OWNER<MORV_BDD_SYN_ITERM_SRC> v = MORV_MAKE_OWNER(MORV_BDD_SYN_ITERM_SRC);
        v->var_index = static_cast<int>(m_vars.size());
        v->slack_ratio = slack_ratio;
        v->init_slack = init_slack;
        v->curr_slack = cut_slack;
        v->bdd = get_encoding_function(f, c, j, cuts);
        codes.push_back(v->var_index);
        m_vars.push_back(std::move(v));
    }
    // Cut node i gets the code i; the spare codes repeat the last cut node.
    BDD_JBDD image = m_bdd_mgr->false_bdd();
    for (int i = 0; i < (1 << e); ++i) {
        BDD_JBDD code = m_bdd_mgr->true_bdd();
        for (int j = 0; j < e; ++j) code &= ((i >> j) & 1) ? m_bdd_mgr->ithvar(codes[j]) : m_bdd_mgr->nithvar(codes[j]);
        image |= cuts[std::min(i, w - 1)] & code;
    }
    return image;
}

BDD_JBDD MORV_BDD_SYN::get_encoding_function(const BDD_JBDD& g, int c, int j, const std::vector<BDD_JBDD>& cuts)
{
    const bool constant = g == m_bdd_mgr->true_bdd() || g == m_bdd_mgr->false_bdd();
    const int level = constant ? c + 1 : g.level();
    if (level >= c) {
        const int i = static_cast<int>(std::find(cuts.begin(), cuts.end(), g) - cuts.begin());
        return ((i >> j) & 1) ? m_bdd_mgr->true_bdd() : m_bdd_mgr->false_bdd();
    }
    const BDD_JBDD low = get_encoding_function(g.low_child(), c, j, cuts);
    const BDD_JBDD high = get_encoding_function(g.high_child(), c, j, cuts);
    return m_bdd_mgr->ithvar(g.variable()).Ite(high, low);
}
