// The cone of a base node as one BDD: the node's own function over
// variables for its input signals, grown by substituting the functions of
// the LUTs that drive its most critical inputs. Every variable carries the
// slack its signal would have if it fed the base node directly.

#include <algorithm>

#include "cdb/cdb_atom_netlist.h"

#include "morv/core/family/morv_family_traits.h"
#include "morv/core/morv_api.h"
#include "morv/core/morv_assert.h"
#include "morv/core/morv_debug_stream.h"
#include "morv/core/morv_env.h"
#include "morv/netlist/morv_chip_map.h"
#include "morv/resyn/morv_bdd_syn.h"
#include "morv/timing/morv_timing.h"

namespace {

int slack_or_unbounded(int slack)
{
    const int limit = MORV_BDD_SYN::s_SLACK_LIMIT;
    return slack < -limit || slack > limit ? limit : slack;
}

// What the LUT of one node reads: per data input a literal, or a fixed
// value, and its mask with bit r the value of row r.
struct LUT_INPUTS
{
    std::vector<BDD_JBDD> literal;
    std::vector<int> fixed;  // -1: the literal; 0 or 1: the value read
    uint64_t rows = 0;
};

// The mask as a BDD, by Shannon expansion from the highest input down: the
// same function as the sum of the mask's minterms.
BDD_JBDD mask_function(BDD_JBDD_MGR& mgr, const LUT_INPUTS& in, int i, unsigned row)
{
    if (i == 0) return ((in.rows >> row) & 1u) != 0 ? mgr.true_bdd() : mgr.false_bdd();
    const int k = i - 1;
    if (in.fixed[k] == 0) return mask_function(mgr, in, k, row);
    if (in.fixed[k] == 1) return mask_function(mgr, in, k, row | (1u << k));
    BDD_JBDD low = mask_function(mgr, in, k, row);
    BDD_JBDD high = mask_function(mgr, in, k, row | (1u << k));
    if (low == high) return low;
    return in.literal[k].Ite(high, low);
}

}  // namespace

bool MORV_BDD_SYN::is_tracing()
{
    const MORV_DEBUG_STREAM& stream = MORV_DEBUG_STREAM::get_stream();
    return stream.is_enabled() && stream.get_threshold() >= 100;
}

uint64_t MORV_BDD_SYN::get_row_mask(uint64_t mask) const
{
    if (!morv_family_traits(m_base_family).m_mask_bits_reversed) return mask;
    const unsigned last = (1u << m_num_data_ports) - 1u;
    uint64_t rows = 0;
    for (unsigned row = 0; row <= last; ++row)
        if ((mask >> (last - row)) & 1u) rows |= uint64_t(1) << row;
    return rows;
}

BDD_JBDD MORV_BDD_SYN::build_node_bdd(MORV_BDD_SYN_ITERM_SRC& r, CDB_ATOM_NODE* base_node, int dup)
{
    CDB_ATOM_NODE* node = r.oterm != nullptr ? r.oterm->get_my_node() : nullptr;
    MORV_ASSERT_TEXT(node, "node");
    ++r.times_expanded;
    r.uses = 0;
    LUT_INPUTS in;
    in.rows = get_row_mask(m_net_util->get_lutmask(node));
    int best = m_slack_bound;
    double best_ratio = 0.0;
    in.literal.resize(m_num_data_ports);
    // An input without a connection reads 0, as the host evaluates it.
    in.fixed.assign(m_num_data_ports, 0);
    // A LUT reading its carry-in at C leaves term C unread: C reads the
    // carry-in, or 0 when there is none.
    for (int i = 0; i < m_num_data_ports; ++i) {
        const int port = m_net_util->get_lut_read_port(node, m_data_port_types[i]);
        CDB_ATOM_ITERM* iterm = node->get_input_term_by_type(port);
        if (iterm == nullptr || !iterm->is_connected()) continue;
        CDB_ATOM_OTERM* source = iterm->is_driven() ? iterm->get_source() : nullptr;
        const int bp = m_has_boundary_ports ? m_fsyn_api->get_assigned_boundary_port_id(iterm) : -1;
        const double sr = std::max(m_fsyn_timing->get_slack_ratio(iterm), r.slack_ratio);
        const int sl = std::max(slack_or_unbounded(m_fsyn_timing->get_slack(iterm)), r.init_slack);
        if (sl > best) {
            best = sl;
            best_ratio = sr;
        }
        const int d1 = get_connection_delay(source, node);
        m_conn_delay_sum += d1;
        ++m_conn_delay_count;
        const int d2 = get_connection_delay(source, base_node);
        const int curr = r.path_delay - d2 + d1 + sl;
        const int path = m_avg_lut_delay + r.path_delay + d1;
        MORV_ITERM_PROPERTIES props;
        m_net_util->save_iterm_properties(iterm, &props);
        const bool vcc = source == nullptr && iterm->is_vcc();
        const bool gnd = source == nullptr && iterm->is_gnd();
        MORV_BDD_SYN_ITERM_SRC* var = get_iterm_src(source, bp, sr, sl, curr, path, true, props, dup, vcc, gnd);
        // The variable stands for the source: an inverted input, or a port
        // that indexes the mask complemented, reads its complement.
        const bool complemented = iterm->is_inverted() != !node->is_lut_index_direct(port);
        in.literal[i] = complemented ? !var->bdd : var->bdd;
        in.fixed[i] = -1;
    }
    if (uses_register_feedback(node)) {
        MORV_ASSERT_TEXT(in.fixed[2] != -1, "!input_oterms[2]");
        CDB_ATOM_OTERM* reg_out = node->get_output_term_by_type(DB_REG_OUT);
        const int curr = m_fast_logic_level_delay + r.path_delay + best - get_connection_delay(reg_out, base_node);
        MORV_BDD_SYN_ITERM_SRC* var = get_iterm_src(reg_out, -1, best_ratio, best, curr, r.path_delay + m_avg_lut_delay,
                                                    false, MORV_ITERM_PROPERTIES(), 0, false, false);
        in.literal[2] = var->bdd;
        in.fixed[2] = -1;
    }
    return mask_function(*m_bdd_mgr, in, m_num_data_ports, 0u);
}

MORV_BDD_SYN_ITERM_SRC* MORV_BDD_SYN::get_iterm_src(CDB_ATOM_OTERM* source, int bp_id, double slack_ratio,
                                                    int init_slack, int curr_slack, int path_delay, bool real_input,
                                                    const MORV_ITERM_PROPERTIES& props, int dup, bool is_vcc,
                                                    bool is_gnd)
{
    // VCC and GND have no source term: they must not share one variable.
    const std::pair<CDB_ATOM_OTERM*, int> key{source, source != nullptr ? bp_id : 2 * bp_id + (is_vcc ? 0 : 1)};
    auto found = m_var_map.find(key);
    if (found != m_var_map.end()) {
        MORV_BDD_SYN_ITERM_SRC* var = found->second;
        if (var->uses != 0) {
            ++var->uses;
            return var;
        }
        // Its driver was absorbed; the signal enters the cone anew.
        var->slack_ratio = slack_ratio;
        var->init_slack = init_slack;
        var->curr_slack = curr_slack;
        var->path_delay = path_delay;
        var->uses = 1;
        return var;
    }
    MORV_OWNER<MORV_BDD_SYN_ITERM_SRC> var = MORV_MAKE_OWNER(MORV_BDD_SYN_ITERM_SRC);
    var->oterm = source;
    var->bp_id = bp_id;
    var->slack_ratio = slack_ratio;
    var->init_slack = init_slack;
    var->curr_slack = curr_slack;
    var->path_delay = path_delay;
    var->has_iterm_properties = real_input;
    var->iterm_properties = props;
    var->uses = 1;
    var->is_vcc = is_vcc;
    var->is_gnd = is_gnd;
    if (source != nullptr) {
        MORV_ASSERT_TEXT(!is_gnd && !is_vcc, "!is_gnd && !is_vcc");
        var->fanout = std::max(source->get_number_of_fanout(), 1);
        if (lut_feeds_register(source)) ++var->fanout;
    } else {
        MORV_ASSERT_TEXT(is_gnd != is_vcc, "(is_gnd && !is_vcc) || (is_vcc && !is_gnd)");
        var->fanout = 1;
    }
    var->fanout += dup;
    var->var_index = static_cast<int>(m_vars.size());
    var->bdd = m_bdd_mgr->ithvar(var->var_index);
    MORV_BDD_SYN_ITERM_SRC* raw = var.get();
    m_var_map[key] = raw;
    m_vars.push_back(std::move(var));
    return raw;
}

// ---------------------------------------------------------------- expansion

BDD_JBDD MORV_BDD_SYN::expand_cone(BDD_JBDD f, CDB_ATOM_NODE* base_node, int* expansions, int* duplications)
{
    int e = 0;
    int d = 0;
    if (f.size() < m_max_bdd_nodes) {
        while (static_cast<int>(m_vars.size()) < m_max_bdd_vars && e < m_max_expansions) {
            MORV_BDD_SYN_ITERM_SRC* v = choose_expansion(f);
            if (v == nullptr) break;
            MORV_DEBUG_STREAM::print(100, "  expanding %d {", e);
            if (is_tracing()) MORV_DEBUG_STREAM::print(100, "    name: %s", get_oterm_name(v->oterm).c_str());
            MORV_DEBUG_STREAM::print(100, "    slack ratio: %f", v->slack_ratio);
            MORV_DEBUG_STREAM::print(100, "    init slack: %d", v->init_slack);
            MORV_DEBUG_STREAM::print(100, "    curr slack: %d", v->curr_slack);
            int dup = 0;
            if (v->times_expanded == 0 && v->fanout > v->uses) {
                // The driver has sinks outside the cone: it will be duplicated.
                dup = v->fanout - v->uses;
                ++d;
            }
            const BDD_JBDD g = build_node_bdd(*v, base_node, dup);
            f = f.Compose(g, v->var_index);
            MORV_DEBUG_STREAM::print(100, "  }");
            ++e;
            if (f.size() >= m_max_bdd_nodes) break;
        }
    }
    MORV_DEBUG_STREAM::print(100, "  expanded: %d", e);
    MORV_DEBUG_STREAM::print(100, "  duplicated: %d", d);
    *expansions = e;
    *duplications = d;
    return f;
}

MORV_BDD_SYN_ITERM_SRC* MORV_BDD_SYN::choose_expansion(const BDD_JBDD& f)
{
    MORV_BDD_SYN_ITERM_SRC* best = nullptr;
    int best_slack = s_SLACK_LIMIT;
    const int duplication_limit = m_slack_bound + m_avg_logic_level_delay / 2;
    for (int var : f.build_support()) {
        MORV_BDD_SYN_ITERM_SRC* v = m_vars[var].get();
        if (v->curr_slack >= best_slack) continue;
        if (v->times_expanded == 0 && v->fanout > v->uses && v->curr_slack >= duplication_limit) continue;
        if (v->oterm == nullptr || m_fsyn_api->is_oterm_dont_touch(v->oterm, AMM_OP_FITTER_FSYN_DUPLICATE)) continue;
        if (!v->oterm->is_used_as(DB_COMB_OUT)) continue;
        CDB_ATOM_NODE* driver = v->oterm->get_my_node();
        if (m_done_nodes.count(static_cast<int>(driver->get_id())) != 0 || !is_resynthesizable_node(driver)) continue;
        best = v;
        best_slack = v->curr_slack;
    }
    return best;
}

int MORV_BDD_SYN::get_slack_bound(const BDD_JBDD& f) const
{
    const std::vector<int> support = f.build_support();
    if (support.empty()) {
        MORV_DEBUG_STREAM::print(100, "  warning: no support set!");
        return s_SLACK_LIMIT;
    }
    int bound = s_SLACK_LIMIT;
    for (int var : support) bound = std::min(bound, m_vars[var]->curr_slack);
    return bound;
}

int MORV_BDD_SYN::get_connection_delay(CDB_ATOM_OTERM* source, CDB_ATOM_NODE* node) const
{
    MORV_ASSERT_TEXT(node, "node_to");
    if (source == nullptr) return 0;
    CDB_ATOM_NODE* from = source->get_my_node();
    MORV_ASSERT_TEXT(from, "node_fr");
    const MORV_CHIP_MAP* map = m_fsyn_api->get_fsyn_chip_map();
    int x1 = MORV_OPEN, y1 = MORV_OPEN, x2 = MORV_OPEN, y2 = MORV_OPEN;
    if (map != nullptr && map->get_node_xy(static_cast<int>(from->get_id()), &x1, &y1) &&
        map->get_node_xy(static_cast<int>(node->get_id()), &x2, &y2) && x1 != MORV_OPEN && y1 != MORV_OPEN &&
        x2 != MORV_OPEN && y2 != MORV_OPEN)
        return m_fsyn_api->get_routing_delay(x1, y1, x2, y2, m_fsyn_api->get_oterm_fl_value(source));
    return m_avg_routing_delay;
}

bool MORV_BDD_SYN::has_redundant_signals(const BDD_JBDD& f)
{
    for (const auto& v : m_vars)
        if (v->oterm != nullptr && v->times_expanded == 0) v->in_support = false;
    for (int var : f.build_support()) m_vars[var]->in_support = true;
    bool redundant = false;
    for (const auto& v : m_vars) {
        if (v->oterm == nullptr || v->times_expanded != 0 || v->in_support) continue;
        if (is_tracing()) MORV_DEBUG_STREAM::print(100, "  redundant signal: %s ", get_oterm_name(v->oterm).c_str());
        redundant = true;
    }
    return redundant;
}

void MORV_BDD_SYN::clear_vars()
{
    m_var_map.clear();
    m_vars.clear();
}

std::string MORV_BDD_SYN::get_oterm_name(CDB_ATOM_OTERM* oterm)
{
    MORV_ASSERT_TEXT(oterm, "oterm");
    return MORV_NET_UTIL::get_hpath_name(oterm);
}

std::string MORV_BDD_SYN::get_node_name(CDB_ATOM_NODE* node)
{
    MORV_ASSERT_TEXT(node, "node");
    return MORV_NET_UTIL::get_hpath_name(node);
}
