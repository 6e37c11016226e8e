#include "morv/resyn/morv_bdd_syn.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "cdb/cdb_atom_netlist.h"
#include "cut/cut_atom_util.h"
#include "tdc/tdc_accessories.h"

#include "morv/core/family/morv_family_traits.h"
#include "morv/core/morv_api.h"
#include "morv/core/morv_assert.h"
#include "morv/core/morv_debug_stream.h"
#include "morv/core/morv_env.h"
#include "morv/log/morv_log.h"
#include "morv/netlist/morv_cdb_interface.h"
#include "morv/timing/morv_opt_skew.h"
#include "morv/timing/morv_timing.h"

bool MORV_BDD_SYN_SCORE_LESS::operator()(const MORV_BDD_SYN_SCORE& a, const MORV_BDD_SYN_SCORE& b) const
{
    MORV_ASSERT_TEXT(a.node && b.node, "node_a && node_b");
    if (a.score != b.score) return a.score > b.score;
    return a.node->get_id() < b.node->get_id();
}

// ---------------------------------------------------------------- construction

MORV_BDD_SYN::MORV_BDD_SYN(MORV_API* api, const MORV_PARAMETER_MAP* params)
    : MORV_ALGORITHM_BASE(api, params), m_net_util(nullptr), m_base_family(0)
{
    MORV_ASSERT_TEXT(m_fsyn_api, "m_fsyn_api");
    m_net_util = m_fsyn_api->get_fsyn_net_util();
    MORV_ASSERT_TEXT(m_net_util, "m_net_util");
    if (morv_family_has_bdd_lower_bound(morv_family_traits(m_fsyn_api->get_base_family_code()))) {
        // The bound walks the analyser's edges; under the timing estimator
        // (before placement) there are none to walk, and no bound is taken.
        if (m_fsyn_timing->get_timing_mode() == MORV_TIMING_MODE_TDC) {
            m_lb_fom = m_fsyn_timing->get_bdd_lower_bound_fom();
            m_has_lb_fom = true;
            MORV_DEBUG_STREAM::print(1, "BDD_SYN LB FOM = %d", m_lb_fom);
        } else {
            MORV_DEBUG_STREAM::print(1, "BDD_SYN LB FOM: none under the timing estimator");
        }
    }
    m_has_boundary_ports =
        m_fsyn_api->get_morv_env() != nullptr && m_fsyn_api->get_morv_env()->get_boundary_port_manager() != nullptr;
    if (read_int_param(s_PARAM_RTM_AWARE, 0) == 1) {
        MORV_DEBUG_STREAM::print(2, "**********************************");
        MORV_DEBUG_STREAM::print(2, "* Running in RETIMING AWARE MODE *");
        MORV_DEBUG_STREAM::print(2, "**********************************");
        m_rtm_aware = true;
    }
}

MORV_BDD_SYN::~MORV_BDD_SYN()
{
    // The records hold handles into the manager: they go first.
    m_var_map.clear();
    m_vars.clear();
    m_bdd_mgr.reset();
    MORV_DEBUG_STREAM::print(100, "MORV_BDD_SYN Destroyed");
}

int MORV_BDD_SYN::read_int_param(const char* key, int dflt) const
{
    if (m_params == nullptr) return dflt;
    const std::string value = get_algorithm_param(*m_params, key);
    return value.empty() ? dflt : std::atoi(value.c_str());
}

double MORV_BDD_SYN::read_double_param(const char* key, double dflt) const
{
    if (m_params == nullptr) return dflt;
    const std::string value = get_algorithm_param(*m_params, key);
    return value.empty() ? dflt : std::atof(value.c_str());
}

void MORV_BDD_SYN::init_family(const char* family_word, int lut_size, int avg_lut_delay, int fast_logic_level_delay)
{
    MORV_DEBUG_STREAM::print(100, "MORV_BDD_SYN created.");
    m_base_family = m_fsyn_api->get_base_family_code();
    MORV_DEBUG_STREAM::print(100, "family: %s", family_word);
    m_max_iterations = read_int_param(s_PARAM_MAX_ITERATIONS, s_DEFAULT_MAX_ITERATIONS);
    MORV_DEBUG_STREAM::print(100, "max iterations: %d", m_max_iterations);
    m_slack_ratio_bgn = read_double_param(s_PARAM_SLACK_RATIO_BGN, s_DEFAULT_SLACK_RATIO_BGN);
    MORV_DEBUG_STREAM::print(100, "slack ratio bgn: %f", m_slack_ratio_bgn);
    m_slack_ratio_end = read_double_param(s_PARAM_SLACK_RATIO_END, s_DEFAULT_SLACK_RATIO_END);
    MORV_DEBUG_STREAM::print(100, "slack ratio end: %f", m_slack_ratio_end);
    m_max_bdd_nodes = read_int_param(s_PARAM_MAX_BDD_NODES, s_DEFAULT_MAX_BDD_NODES);
    MORV_DEBUG_STREAM::print(100, "max bdd nodes: %d", m_max_bdd_nodes);
    m_max_bdd_vars = read_int_param(s_PARAM_MAX_BDD_VARS, s_DEFAULT_MAX_BDD_VARS);
    MORV_DEBUG_STREAM::print(100, "max bdd vars: %d", m_max_bdd_vars);
    m_max_expansions = read_int_param(s_PARAM_MAX_EXPANSIONS, s_DEFAULT_MAX_EXPANSIONS);
    MORV_DEBUG_STREAM::print(100, "max expansions: %d", m_max_expansions);
    m_slack_ratio_factor = read_double_param(s_PARAM_SLACK_RATIO_FACTOR, s_DEFAULT_SLACK_RATIO_FACTOR);
    MORV_DEBUG_STREAM::print(100, "slack ratio factor: %f", m_slack_ratio_factor);
    m_area_accept_bgn = read_double_param(s_PARAM_AREA_ACCEPT_BGN, s_DEFAULT_AREA_ACCEPT_BGN);
    MORV_DEBUG_STREAM::print(100, "area accept bgn: %f", m_area_accept_bgn);
    m_area_accept_end = read_double_param(s_PARAM_AREA_ACCEPT_END, s_DEFAULT_AREA_ACCEPT_END);
    MORV_DEBUG_STREAM::print(100, "area accept end: %f", m_area_accept_end);

    m_num_data_ports = lut_size;
    m_data_port_types.clear();
    for (int i = 0; i < lut_size; ++i) m_data_port_types.push_back(DB_DATA_A + i);
    MORV_DEBUG_STREAM::print(100, "max lut size: %d", m_num_data_ports);
    m_avg_routing_delay = m_net_util->get_average_neighbour_delay();
    MORV_DEBUG_STREAM::print(100, "average routing delay: %d ps", m_avg_routing_delay);
    m_avg_lut_delay = avg_lut_delay;
    MORV_DEBUG_STREAM::print(100, "average lut delay: %d ps", m_avg_lut_delay);
    m_avg_logic_level_delay = m_avg_lut_delay + m_avg_routing_delay;
    MORV_DEBUG_STREAM::print(100, "avg logic level delay: %d ps", m_avg_logic_level_delay);
    m_fast_logic_level_delay = fast_logic_level_delay;
    MORV_DEBUG_STREAM::print(100, "fast logic level delay: %d ps", m_fast_logic_level_delay);
    m_bdd_mgr = MORV_MAKE_OWNER(BDD_JBDD_MGR, 100, 1000, 1000, false, false);
    m_bdd_mgr->disable_reorder();
}

// ---------------------------------------------------------------- algorithm base operations

void MORV_BDD_SYN::set_default_algorithm_parameters(int& num_passes, int& icp_at_end, double& fom_to_accept,
                                                    int& restore_netlist)
{
    if (num_passes == s_UNSET_INT) num_passes = 1;
    if (icp_at_end == s_UNSET_INT) icp_at_end = 0;
    if (fom_to_accept == s_UNSET_DOUBLE) fom_to_accept = 0.0;
    if (restore_netlist == s_UNSET_INT) restore_netlist = 1;
}

void MORV_BDD_SYN::set_default_pass_parameters(int /*pass*/, int& num_iters, int& hill_climb_iters)
{
    if (num_iters == s_UNSET_INT) num_iters = m_max_iterations;
    if (hill_climb_iters == s_UNSET_INT) hill_climb_iters = num_iters;
    m_pass = 0;
}

bool MORV_BDD_SYN::is_fom_close_to_optimal()
{
    TDC_ACCESSORIES* accessories = tdc_get_accessories();
    if (accessories != nullptr && accessories->is_analysis_running()) {
        MORV_DEBUG_STREAM::print(2, "LB TEST: DISABLED, STA is running");
        return false;
    }
    if (!m_has_lb_fom) return false;
    return m_fsyn_timing->get_figure_of_merit(true) > m_lb_fom + s_LB_FOM_MARGIN;
}

// ---------------------------------------------------------------- iteration

double MORV_BDD_SYN::ramp(double bgn, double end, int pass) const
{
    // A single iteration has nothing to ramp over: it runs at the start value.
    if (m_max_iterations <= 1) return bgn;
    return bgn + (end - bgn) * pass / (m_max_iterations - 1);
}

int MORV_BDD_SYN::do_iter()
{
    // The skews come off when this goes out of scope, before the run driver judges the iteration.
    MORV_OWNER<MORV_RTM_AWARE_SKEWS> skews;
    if (m_rtm_aware) skews = MORV_MAKE_OWNER(MORV_RTM_AWARE_SKEWS, m_fsyn_api, m_slack_ratio_threshold);

    m_slack_ratio_curr = ramp(m_slack_ratio_bgn, m_slack_ratio_end, m_pass);
    m_area_accept_curr = ramp(m_area_accept_bgn, m_area_accept_end, m_pass);
    MORV_DEBUG_STREAM::print(100, "slack ratio curr: %f", m_slack_ratio_curr);
    MORV_DEBUG_STREAM::print(100, "area accept curr: %f", m_area_accept_curr);
    ++m_pass;

    score_nodes();
    MORV_DEBUG_STREAM::print(100, "num syn nodes: %d", static_cast<int>(m_syn_nodes.size()));
    m_decomp_tried = 0;
    m_decomp_succeeded = 0;
    int tried = 0;
    int succeeded = 0;
    for (const MORV_BDD_SYN_SCORE& entry : m_syn_nodes) {
        if (m_done_nodes.count(static_cast<int>(entry.node->get_id())) != 0) continue;
        MORV_DEBUG_STREAM::print(100, "syn node %d {", tried);
        if (resynthesize_node(entry)) {
            m_fsyn_api->debug_checkpoint(__FILE__, __LINE__);
            ++succeeded;
        }
        ++tried;
        MORV_DEBUG_STREAM::print(100, "}");
    }
    print_iteration_counters(tried, succeeded);
    m_syn_nodes.clear();
    m_done_nodes.clear();
    return m_decomp_succeeded;
}

void MORV_BDD_SYN::print_iteration_counters(int tried, int succeeded) const
{
    MORV_DEBUG_STREAM::print(100, "resynthesis ops tried: %d", tried);
    MORV_DEBUG_STREAM::print(100, "resynthesis ops succeeded: %d", succeeded);
    MORV_DEBUG_STREAM::print(100, "decomp tried: %d", m_decomp_tried);
    MORV_DEBUG_STREAM::print(100, "decomp succeeded: %d", m_decomp_succeeded);
    const double ratio = m_decomp_tried > 0 ? static_cast<double>(m_decomp_succeeded) / m_decomp_tried : 0.0;
    MORV_DEBUG_STREAM::print(100, "decomp ratio: %f", ratio);
}

// ---------------------------------------------------------------- scores

void MORV_BDD_SYN::score_nodes()
{
    for (CDB_ATOM_NODE* node : *m_atom_netlist) {
        MORV_BDD_SYN_SCORE entry;
        if (score_node(node, &entry)) m_syn_nodes.insert(entry);
    }
}

bool MORV_BDD_SYN::score_node(CDB_ATOM_NODE* node, MORV_BDD_SYN_SCORE* out)
{
    if (!is_resynthesizable_node(node)) return false;
    if (m_fsyn_api->is_atom_dont_touch(static_cast<int>(node->get_id()), AMM_OP_FITTER_FSYN_RESYNTHESIS)) return false;
    const int n = get_max_lut_size(node);
    bool connected = false;
    bool critical = false;
    double min_c = 1.0, max_c = 0.0, sum = 0.0;
    for (int port : m_data_port_types) {
        CDB_ATOM_ITERM* iterm = node->get_input_term_by_type(port);
        if (iterm == nullptr || !iterm->is_connected()) continue;
        const double sr = m_fsyn_timing->get_slack_ratio(iterm);
        MORV_ASSERT_TEXT(sr >= 0.0 && sr <= 1.0, "sr >= 0.0 && sr <= 1.0");
        critical = critical || sr < m_slack_ratio_curr;
        const double c = 1.0 - sr;
        min_c = connected ? std::min(min_c, c) : c;
        max_c = connected ? std::max(max_c, c) : c;
        sum += c;
        connected = true;
    }
    if (!connected || !critical) return false;
    // The fed-back register counts as one more input of the least critical kind.
    if (uses_register_feedback(node)) sum += min_c;
    const double avg = sum / n;
    MORV_ASSERT_TEXT(avg >= 1.0e-6, "avg_sr >= 1.0e-6");
    out->node = node;
    out->score = std::pow(max_c, m_slack_ratio_factor) * (max_c - avg + 0.01);
    out->available_inputs = n;
    return true;
}

// ---------------------------------------------------------------- one node

void MORV_BDD_SYN::make_root_record(CDB_ATOM_NODE* base_node, MORV_BDD_SYN_ITERM_SRC* root) const
{
    root->oterm = base_node->get_output_term_by_type(DB_COMB_OUT);
    if (root->oterm == nullptr) root->oterm = base_node->get_output_term_by_type(DB_REG_OUT);
    MORV_ASSERT_TEXT(root->oterm != nullptr, "tmp_oterm.oterm != NULL");
    root->slack_ratio = 0.0;
    root->init_slack = -s_SLACK_LIMIT;
    root->curr_slack = -s_SLACK_LIMIT;
    root->path_delay = 0;
    root->fanout = 1;
    root->uses = 1;
    root->times_expanded = 0;
}

bool MORV_BDD_SYN::resynthesize_node(const MORV_BDD_SYN_SCORE& entry)
{
    CDB_ATOM_NODE* base = entry.node;
    if (is_tracing()) MORV_DEBUG_STREAM::print(100, "  name: %s", get_node_name(base).c_str());
    MORV_DEBUG_STREAM::print(100, "  score: %f", entry.score);
    MORV_DEBUG_STREAM::print(100, "  available ports: %d", entry.available_inputs);
    m_conn_delay_sum = 0;
    m_conn_delay_count = 0;

    MORV_BDD_SYN_ITERM_SRC root;
    make_root_record(base, &root);
    BDD_JBDD f = build_node_bdd(root, base, 0);
    m_slack_bound = get_slack_bound(f) + 1;
    MORV_DEBUG_STREAM::print(100, "  slack bound: %d", m_slack_bound);

    int expansions = 0;
    int duplications = 0;
    f = expand_cone(f, base, &expansions, &duplications);
    m_curr_logic_level_delay =
        m_conn_delay_count > 0 ? m_conn_delay_sum / m_conn_delay_count + m_avg_lut_delay : m_avg_logic_level_delay;
    MORV_DEBUG_STREAM::print(100, "  curr logic level delay: %d", m_curr_logic_level_delay);

    bool result = false;
    if (m_has_boundary_ports && has_redundant_signals(f)) {
        MORV_DEBUG_STREAM::print(100, "  there are redundant signals. skipping because of vnid.");
    } else if (expansions >= 1 && get_slack_bound(f) >= m_slack_bound) {
        result = try_decomposition(entry, f, expansions, duplications);
    } else {
        MORV_DEBUG_STREAM::print(100, "  not attempting resynthesis.");
    }
    clear_vars();
    return result;
}

bool MORV_BDD_SYN::try_decomposition(const MORV_BDD_SYN_SCORE& entry, const BDD_JBDD& f, int expansions,
                                     int duplications)
{
    MORV_DEBUG_STREAM::print(100, "  initial bdd size: %d", f.size());
    m_expanded_cone = f;
    bool result = false;
    if (decompose(f, entry.available_inputs)) {
        MORV_DEBUG_STREAM::print(100, "  decomposition succeeded.");
        ++m_decomp_succeeded;
        result = accept_and_commit(entry.node, expansions, duplications, entry.available_inputs);
    } else {
        MORV_DEBUG_STREAM::print(100, "  decomposition failed.");
    }
    m_expanded_cone = BDD_JBDD();
    restore_identity_order();
    ++m_decomp_tried;
    return result;
}

// Frees a data input of the base node before it is rewired, every setting
// cleared and each change announced and logged.
void MORV_BDD_SYN::free_lut_input(CDB_ATOM_ITERM* iterm)
{
    MORV_ASSERT_TEXT(iterm, "iterm");
    MORV_LOG* log = m_cdb_interface->is_logging() ? m_cdb_interface->get_fsyn_log() : nullptr;
    m_net_util->clear_invert(iterm);
    m_cdb_interface->set_iterm_global(iterm, 0);
    m_cdb_interface->set_iterm_connected_to_delay_chain(iterm, false);
    m_fsyn_api->set_boundary_port_id(iterm, -1);
    m_fsyn_api->modify_edge(iterm, true);
    if (log && iterm->get_source() != nullptr) log->log_disconnection(iterm);
    iterm->disconnect_from_source(CDB_NET_ITERM::UNCONNECTED);
}

// ---------------------------------------------------------------- branch hooks

namespace {

bool is_plain_lut(MORV_NET_UTIL* net_util, CDB_ATOM_NODE* node)
{
    MORV_ASSERT_TEXT(node, "node");
    return node->is_lcell_comb() && !net_util->is_lcell_part_of_a_carry_chain(node) &&
           cut_get_atom_latch_info(node) == nullptr;
}

void commit_branch_mask(MORV_API* api, MORV_CDB_INTERFACE* cdb, CDB_ATOM_NODE* node, const CDB_LUTMASK& lutmask)
{
    cdb->set_lutmask(node, lutmask, false);
    api->modify_node(node);
}

}  // namespace

bool MORV_BDD_SYN_4LUT::is_resynthesizable_node(CDB_ATOM_NODE* node)
{
    return is_plain_lut(m_net_util, node);
}

int MORV_BDD_SYN_4LUT::get_max_lut_size(CDB_ATOM_NODE* /*node*/)
{
    return m_num_data_ports;
}

bool MORV_BDD_SYN_4LUT::uses_register_feedback(CDB_ATOM_NODE* node)
{
    MORV_ASSERT_TEXT(node, "node");
    return false;
}

bool MORV_BDD_SYN_4LUT::lut_feeds_register(CDB_ATOM_OTERM* oterm)
{
    MORV_ASSERT_TEXT(oterm, "oterm");
    return false;
}

void MORV_BDD_SYN_4LUT::disconnect_lut_input(CDB_ATOM_ITERM* iterm, int /*position*/)
{
    free_lut_input(iterm);
}

void MORV_BDD_SYN_4LUT::commit_lut_node(CDB_ATOM_NODE* node, const CDB_LUTMASK& lutmask)
{
    MORV_ASSERT_TEXT(node, "node");
    node->set_bit(CDB_ATOM_BIT_FOUR_INPUT_COMB);
    commit_branch_mask(m_fsyn_api, m_cdb_interface, node, lutmask);
}

bool MORV_BDD_SYN_6LUT::is_resynthesizable_node(CDB_ATOM_NODE* node)
{
    return is_plain_lut(m_net_util, node) && !m_net_util->is_in_extended_mode(node);
}

int MORV_BDD_SYN_6LUT::get_max_lut_size(CDB_ATOM_NODE* /*node*/)
{
    return m_num_data_ports;
}

bool MORV_BDD_SYN_6LUT::uses_register_feedback(CDB_ATOM_NODE* node)
{
    MORV_ASSERT_TEXT(node, "node");
    return false;
}

bool MORV_BDD_SYN_6LUT::lut_feeds_register(CDB_ATOM_OTERM* oterm)
{
    MORV_ASSERT_TEXT(oterm, "oterm");
    return false;
}

void MORV_BDD_SYN_6LUT::disconnect_lut_input(CDB_ATOM_ITERM* iterm, int /*position*/)
{
    free_lut_input(iterm);
}

void MORV_BDD_SYN_6LUT::commit_lut_node(CDB_ATOM_NODE* node, const CDB_LUTMASK& lutmask)
{
    MORV_ASSERT_TEXT(node, "node");
    commit_branch_mask(m_fsyn_api, m_cdb_interface, node, lutmask);
}
