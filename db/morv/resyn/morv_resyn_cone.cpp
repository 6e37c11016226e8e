// The cone of one RESYN root: its LUT function over cone variables, grown
// by collapsing the most critical fan-in nodes into it within the
// expansion, variable and literal limits.

#include <algorithm>
#include <string>
#include <vector>

#include "cdb/cdb_atom_netlist.h"
#include "hdb/hdb_instance_name.h"

#include "morv/core/morv_api.h"
#include "morv/core/morv_assert.h"
#include "morv/core/morv_debug_stream.h"
#include "morv/core/morv_env.h"
#include "morv/core/morv_expert.h"
#include "morv/resyn/morv_resyn.h"
#include "morv/timing/morv_timing.h"

namespace {

// The data input a register-feedback cell reads from its own register.
constexpr int k_feedback_input = 2;

}  // namespace

// The function one data input brings into the cone. A driven input is its
// source's variable, complemented when the term reads it complemented; a
// tied input is the constant it reads; an input nothing drives reads what
// the host evaluator gives it. Dropping the last from the product instead
// would OR the mask over both of its values.
BDD_JBDD MORV_RESYN::input_bdd(CDB_ATOM_ITERM* iterm, double sr_to_base, bool behind_duplicate,
                               RESYN_VAR*& last_source_var)
{
    if (iterm == nullptr || !iterm->is_connected())
        return s_UNCONNECTED_INPUT_VALUE ? m_bdd_mgr->true_bdd() : m_bdd_mgr->false_bdd();
    CDB_ATOM_OTERM* source = iterm->get_source();
    if (source == nullptr) return iterm->is_logical_vcc() ? m_bdd_mgr->true_bdd() : m_bdd_mgr->false_bdd();
    RESYN_VAR tmpl;
    tmpl.oterm = source;
    tmpl.bp_id = m_fsyn_api->get_assigned_boundary_port_id(iterm);
    tmpl.sr = m_fsyn_api->get_fsyn_timing()->get_slack_ratio(iterm);
    auto record = m_oterms.find(source);
    if (record != m_oterms.end()) tmpl.sr += record->second.sr_new - record->second.sr;
    tmpl.sr_to_base = sr_to_base + m_stage_sr;
    tmpl.behind_duplicate = behind_duplicate;
    tmpl.is_input = true;
    m_net_util->save_iterm_properties(iterm, &tmpl.props);
    RESYN_VAR* var = get_or_create_var(tmpl);
    last_source_var = var;
    if (m_dot_file != nullptr) dot_edge_line(var->var_index, m_dot_parent, tmpl.sr);
    return iterm->reads_complemented() ? !var->bdd : var->bdd;
}

// The register output a feedback cell reads on its third input. It takes
// its estimates from the highest data input with a source (it is never
// expanded, so only its slack ratio matters); without one it counts as a
// direct input that is not critical.
BDD_JBDD MORV_RESYN::register_feedback_bdd(CDB_ATOM_NODE* node, const RESYN_VAR* last_source_var, double sr_to_base,
                                           bool behind_duplicate)
{
    CDB_ATOM_ITERM* third = node->get_input_term_by_type(DB_DATA_A + k_feedback_input);
    MORV_ASSERT_TEXT(third == nullptr || !third->is_connected(), "input_connected[2] == false");
    CDB_ATOM_OTERM* reg_out = node->get_output_term_by_type(DB_REG_OUT);
    MORV_ASSERT_TEXT(reg_out, "oterm");
    RESYN_VAR tmpl;
    tmpl.oterm = reg_out;
    tmpl.bp_id = -1;
    tmpl.sr = 1.0;
    tmpl.sr_to_base = sr_to_base + m_stage_sr;
    if (last_source_var != nullptr) {
        tmpl.sr = last_source_var->sr;
        tmpl.sr_to_base = last_source_var->sr_to_base;
        tmpl.props = last_source_var->props;
    }
    tmpl.behind_duplicate = behind_duplicate;
    tmpl.is_input = false;
    RESYN_VAR* var = get_or_create_var(tmpl);
    // Never expanded, so drawn as not critical.
    if (m_dot_file != nullptr) dot_edge_line(var->var_index, m_dot_parent, 1.0);
    return var->bdd;
}

// The mask as a multiplexer tree over the inputs' functions, input 0 at
// the leaves. Families that hold combination c in bit 63 - c see every
// input bit complemented, so their cofactors swap.
BDD_JBDD MORV_RESYN::mask_to_bdd(CDB_ATOM_NODE* node, const std::vector<BDD_JBDD>& inputs)
{
    const uint64_t mask = m_net_util->get_lutmask(node);
    const int n = static_cast<int>(inputs.size());
    const bool swap = swaps_cofactors();
    std::vector<BDD_JBDD> level;
    level.reserve(size_t{1} << n);
    for (uint64_t m = 0; m < (uint64_t{1} << n); ++m)
        level.push_back((mask >> m) & 1u ? m_bdd_mgr->true_bdd() : m_bdd_mgr->false_bdd());
    for (int k = 0; k < n; ++k) {
        std::vector<BDD_JBDD> next;
        next.reserve(level.size() / 2);
        for (size_t j = 0; j + 1 < level.size(); j += 2) {
            const BDD_JBDD& one = swap ? level[j] : level[j + 1];
            const BDD_JBDD& zero = swap ? level[j + 1] : level[j];
            next.push_back(one == zero ? one : inputs[static_cast<size_t>(k)].Ite(one, zero));
        }
        level.swap(next);
    }
    return level.front();
}

BDD_JBDD MORV_RESYN::build_node_bdd(CDB_ATOM_NODE* node, double sr_to_base, bool behind_duplicate, int parent)
{
    MORV_ASSERT_TEXT(node, "node");
    m_dot_parent = parent;
    if (m_dot_file != nullptr) dot_node_line(parent);
    std::vector<BDD_JBDD> inputs;
    inputs.reserve(static_cast<size_t>(m_num_data_ports));
    RESYN_VAR* last_source_var = nullptr;
    // A LUT reading its carry-in at C leaves term C unread; an absent
    // carry-in reads 0 there.
    for (int k = 0; k < m_num_data_ports; ++k) {
        const int port = m_net_util->get_lut_read_port(node, DB_DATA_A + k);
        CDB_ATOM_ITERM* iterm = node->get_input_term_by_type(port);
        if (port == DB_CARRY_IN && (iterm == nullptr || !iterm->is_connected())) {
            inputs.push_back(m_bdd_mgr->false_bdd());
            continue;
        }
        inputs.push_back(input_bdd(iterm, sr_to_base, behind_duplicate, last_source_var));
    }
    if (uses_register_feedback(node))
        inputs[k_feedback_input] = register_feedback_bdd(node, last_source_var, sr_to_base, behind_duplicate);
    return mask_to_bdd(node, inputs);
}

RESYN_VAR* MORV_RESYN::get_or_create_var(const RESYN_VAR& tmpl)
{
    auto found = m_var_set.find({tmpl.oterm, tmpl.bp_id});
    if (found != m_var_set.end()) {
        RESYN_VAR* var = found->second;
        var->sr_to_base = std::max(var->sr_to_base, tmpl.sr_to_base);
        var->sr = std::min(var->sr, tmpl.sr);
        var->refs += 1;
        return var;
    }
    MORV_OWNER<RESYN_VAR> var = MORV_MAKE_OWNER(RESYN_VAR, tmpl);
    var->expanded = false;
    var->fanout = 1;
    if (var->oterm != nullptr)
        var->fanout = var->oterm->get_number_of_fanout() + (lut_feeds_register(var->oterm) ? 1 : 0);
    var->refs = 1;
    var->var_index = static_cast<int>(m_vars.size());
    var->bdd = m_bdd_mgr->ithvar(var->var_index);
    RESYN_VAR* result = var.get();
    m_var_set.emplace(std::make_pair(tmpl.oterm, tmpl.bp_id), result);
    m_vars.push_back(std::move(var));
    return result;
}

// Whether a support variable may be collapsed at the given score.
bool MORV_RESYN::is_expandable(const RESYN_VAR* var, double score)
{
    if (var->expanded || var->behind_duplicate) return false;
    if (var->fanout > var->refs && score > m_root_sr + m_duplicate_sr) return false;
    MORV_ASSERT_TEXT(var->oterm, "oterm");
    if (m_fsyn_api->is_oterm_dont_touch(var->oterm, AMM_OP_FITTER_FSYN_DUPLICATE)) return false;
    CDB_ATOM_NODE* node = var->oterm->get_my_node();
    if (node == nullptr) return false;
    for (auto in = node->begin_iterm(); in != node->end_iterm(); ++in) {
        const int setting = (*in)->get_global();
        if ((*in)->is_connected() && setting != 0 && setting != 2 && setting != 4) return false;
    }
    return var->oterm->is_used_as(DB_COMB_OUT) && is_resynthesizable_node(node);
}

RESYN_VAR* MORV_RESYN::choose_expansion_var(const std::vector<int>& support)
{
    RESYN_VAR* best = nullptr;
    double best_score = 1.1;
    for (int index : support) {
        RESYN_VAR* var = m_vars[static_cast<size_t>(index)].get();
        const double score = std::clamp(var->sr + var->sr_to_base, 0.0, 1.0);
        if (score < best_score && is_expandable(var, score)) {
            best = var;
            best_score = score;
        }
    }
    if (best == nullptr) MORV_DEBUG_STREAM::print(100, "no more expandable nodes.");
    return best;
}

std::string MORV_RESYN::get_node_name(CDB_ATOM_NODE* node)
{
    HDB_INSTANCE_NAME* name = node->get_instance_name();
    return name != nullptr ? name->get_hpath_to_root() : std::to_string(node->get_id());
}

std::string MORV_RESYN::get_oterm_name(CDB_ATOM_OTERM* oterm)
{
    HDB_INSTANCE_NAME* name = oterm->get_instance_name();
    if (name != nullptr) return name->get_hpath_to_root();
    return oterm->get_my_node() != nullptr ? get_node_name(oterm->get_my_node()) : std::string("?");
}

// One expansion of the cone in m_cone; false when none is taken.
bool MORV_RESYN::expand_once()
{
    RESYN_VAR* var = choose_expansion_var(m_cone_support);
    if (var == nullptr) return false;
    const bool duplicated = var->fanout > var->refs;
    MORV_DEBUG_STREAM::print(100, "expansion %d {", m_num_expanded + 1);
    MORV_DEBUG_STREAM::print(100, "  name: %s", get_oterm_name(var->oterm).c_str());
    MORV_DEBUG_STREAM::print(100, "  sr: %.3f", var->sr);
    MORV_DEBUG_STREAM::print(100, "  sr to base: %.3f", var->sr_to_base);
    if (duplicated) MORV_DEBUG_STREAM::print(100, "  duplicated");
    // The variable list may grow below; keep what is needed of var first.
    const int index = var->var_index;
    const BDD_JBDD g = build_node_bdd(var->oterm->get_my_node(), var->sr_to_base, duplicated, index);
    const BDD_JBDD h = m_cone.Compose(g, index);
    std::vector<int> support = h.build_support();
    if (static_cast<int>(support.size()) > m_max_vars) {
        MORV_DEBUG_STREAM::print(100, "hit max vars.");
        return false;
    }
    int cubes = 0;
    int literals = 0;
    compute_cover(h, h, cubes, literals);
    if (literals > m_max_literals) {
        MORV_DEBUG_STREAM::print(100, "hit max literals.");
        return false;
    }
    m_cone = h;
    m_cone_support.swap(support);
    m_vars[static_cast<size_t>(index)]->expanded = true;
    if (duplicated) m_num_duplicated += 1;
    m_num_expanded += 1;
    return true;
}

bool MORV_RESYN::resynthesize_root(CDB_ATOM_NODE* root)
{
    MORV_ASSERT_TEXT(root, "node");
    MORV_DEBUG_STREAM::print(100, "resynthesis at %s", get_node_name(root).c_str());
    m_dot_buffer.clear();
    // The root's own inputs are at depth one: nothing to gain from them.
    m_cone = build_node_bdd(root, -m_stage_sr, false, -1);
    m_cone_support = m_cone.build_support();
    m_num_expanded = 0;
    m_num_duplicated = 0;
    while (m_num_expanded < m_max_expansions && expand_once()) {}
    MORV_DEBUG_STREAM::print(100, "expanded: %d", m_num_expanded);
    MORV_DEBUG_STREAM::print(100, "duplicated: %d", m_num_duplicated);
    for (int index : m_cone_support) m_vars[static_cast<size_t>(index)]->in_support = true;
    for (MORV_OWNER<RESYN_VAR>& var : m_vars) var->sr += var->sr_to_base;
    compute_input_area();
    m_div_data->lower = m_cone;
    m_div_data->upper = m_cone;
    m_div_data->available_inputs = get_available_inputs(root);
    const bool result = divide() && accept_division();
    if (result && m_dot_file != nullptr) write_dot_graph();
    clear_vars();
    return result;
}

void MORV_RESYN::compute_input_area()
{
    m_input_area = 0.0;
    for (const MORV_OWNER<RESYN_VAR>& var : m_vars) {
        if (var->oterm == nullptr || var->expanded) continue;
        auto record = m_oterms.find(var->oterm);
        if (record != m_oterms.end()) m_input_area += var->refs * record->second.area_share;
    }
}

void MORV_RESYN::clear_vars()
{
    m_var_set.clear();
    m_vars.clear();
}
