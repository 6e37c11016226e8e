#include "morv/core/algorithm/morv_algorithm_base.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <vector>

#include "cdb/cdb_atom_netlist.h"
#include "cfg/cfg.h"
#include "msg/msg.h"

#include "morv/core/morv_api.h"
#include "morv/core/morv_assert.h"
#include "morv/core/morv_debug_stream.h"
#include "morv/timing/morv_timing.h"

MORV_ALGORITHM_BASE::MORV_ALGORITHM_BASE(MORV_API* api, const MORV_PARAMETER_MAP* params)
    : m_fsyn_api(api), m_cdb_interface(nullptr), m_atom_netlist(nullptr), m_params(params),
      m_timing_mode(MORV_TIMING_MODE_DEFAULT), m_xicp_modify_dest_node_on_modify_edge(false),
      m_xicp_run_init_virtual_icp_tan(false), m_judge_passes_after_placement(false),
      m_slack_ratio_threshold(s_UNSET_DOUBLE), m_slack_ratio_threshold_percent(s_UNSET_DOUBLE),
      m_effort(s_DEFAULT_EFFORT), m_reg_pack(false), m_curr_pass(0), m_curr_iter(0), m_fsyn_timing(nullptr),
      m_enable_ite(false), m_use_new_timing_flow(false), m_num_passes(s_UNSET_INT), m_icp_at_end(s_UNSET_INT),
      m_fom_to_accept(s_UNSET_DOUBLE), m_restore_netlist(s_UNSET_INT), m_use_timing_snapshots(false),
      m_num_iters(s_UNSET_INT), m_hill_climb_iters(s_UNSET_INT), m_given_num_iters(s_UNSET_INT),
      m_given_hill_climb_iters(s_UNSET_INT), m_hill_climb_cut(s_UNSET_INT), m_init_netlist(-1), m_init_fom(0.0),
      m_curr_best_netlist(-1), m_best_fom(0.0), m_best_worst_slack(0), m_pass_start_netlist(-1), m_pass_start_fom(0.0),
      m_pass_start_worst_slack(0), m_judged_from_start(false), m_init_worst_slack(0), m_started_placed(false)
{
    MORV_ASSERT(m_fsyn_api);
    m_cdb_interface = m_fsyn_api->get_fsyn_cdb_interface();
    MORV_ASSERT_TEXT(m_cdb_interface, "m_fsyn_cdb_interface");
    m_atom_netlist = m_fsyn_api->get_atom_netlist();

    m_fsyn_timing = m_fsyn_api->get_fsyn_timing();
    MORV_ASSERT_TEXT(m_fsyn_timing, "m_fsyn_timing");
    const int fom = m_fsyn_timing->get_figure_of_merit(false);
    if (fom == MORV_TIMING::s_NO_VALID_FOM) {
        // Virtual dispatch is not available yet: this is always the base name.
        MORV_DEBUG_STREAM::print(0, "Warning: FSYN Algorithm %s does not see valid timing data -- FOM %f",
                                 MORV_ALGORITHM_BASE::get_short_name().c_str(), static_cast<double>(fom));
    }

    std::string value;
    if (read_param(m_params, MORV_PARAM_NUM_PASSES, value)) m_num_passes = std::atoi(value.c_str());
    if (read_param(m_params, MORV_PARAM_NUM_ITERS, value)) m_num_iters = std::atoi(value.c_str());
    if (read_param(m_params, MORV_PARAM_ICP_AT_END, value)) m_icp_at_end = std::atoi(value.c_str()) == 1 ? 1 : 0;
    if (read_param(m_params, MORV_PARAM_FOM_TO_ACCEPT, value)) {
        if (value.find(MORV_PARAM_SMALL_DOUBLE_TEXT) != std::string::npos) m_fom_to_accept = s_SMALL_DOUBLE;
        else m_fom_to_accept = std::atof(value.c_str());
    }
    if (read_param(m_params, MORV_PARAM_RESTORE_NETLIST, value))
        m_restore_netlist = std::atoi(value.c_str()) == 1 ? 1 : 0;
    if (read_param(m_params, MORV_PARAM_HILL_CLIMB_ITERS, value)) m_hill_climb_iters = std::atoi(value.c_str());
    if (read_param(m_params, MORV_PARAM_HILL_CLIMB_CUT, value)) m_hill_climb_cut = std::atoi(value.c_str());
    m_given_num_iters = m_num_iters;
    m_given_hill_climb_iters = m_hill_climb_iters;
    if (read_param(m_params, MORV_PARAM_SLACK_RATIO_THRESHOLD_PERCENT, value))
        m_slack_ratio_threshold_percent = std::atof(value.c_str());
    MORV_DEBUG_STREAM::print(2, "slack_ratio_threshold_percent: %f", m_slack_ratio_threshold_percent);

    if (read_param(m_params, MORV_PARAM_SLACK_RATIO_THRESHOLD, value))
        m_slack_ratio_threshold = std::atof(value.c_str());
    else if (m_slack_ratio_threshold_percent != s_UNSET_DOUBLE)
        m_slack_ratio_threshold = compute_slack_ratio_threshold(m_slack_ratio_threshold_percent);

    if (read_param(m_params, MORV_PARAM_EFFORT, value)) m_effort = static_cast<float>(std::atof(value.c_str()));
    MORV_DEBUG_STREAM::print(1, "Parameter EFFORT=%f", static_cast<double>(m_effort));
    if (read_param(m_params, MORV_PARAM_REG_PACK, value)) m_reg_pack = std::atoi(value.c_str()) == 1;

    m_enable_ite = cfg_is_on("fsyn_enable_ite", false);
    m_use_new_timing_flow = cfg_is_on("fsyn_use_new_timing_flow", false);
    m_use_timing_snapshots = cfg_is_on("fsyn_enable_timing_snapshots", false);
}

MORV_ALGORITHM_BASE::~MORV_ALGORITHM_BASE() {}

void MORV_ALGORITHM_BASE::init_iteration_for_local_optimization()
{
    morv_debug("Warning - init_iteration_for_local_optimization() is not defined for this algorithm (see default "
               "virtual function in morv_expert_sys)");
}

void MORV_ALGORITHM_BASE::fini_iteration_for_local_optimization()
{
    morv_debug("Warning - fini_iteration_for_local_optimization() is not defined for this algorithm (see default "
               "virtual function in morv_expert_sys)");
}

MORV_OWNER<MORV_LOCAL_OPT_INFO> MORV_ALGORITHM_BASE::evaluate_local_optimization(CDB_ATOM_ITERM*)
{
    morv_debug("Warning - evaluate_local_optimization() is not defined for this algorithm (see default virtual "
               "function in morv_expert_sys)");
    return MORV_OWNER<MORV_LOCAL_OPT_INFO>();
}

bool MORV_ALGORITHM_BASE::perform_local_optimization(CDB_ATOM_ITERM*, const MORV_LOCAL_OPT_INFO*, std::set<int>*)
{
    morv_debug("Warning - perform_local_optimization() is not defined for this algorithm (see default virtual "
               "function in morv_expert_sys)");
    return false;
}

void MORV_ALGORITHM_BASE::cleanup_local_optimization(MORV_OWNER<MORV_LOCAL_OPT_INFO>&)
{
    morv_debug("Warning - cleanup_local_optimization() is not defined for this algorithm (see default virtual "
               "function in morv_expert_sys)");
}

void MORV_ALGORITHM_BASE::set_default_algorithm_parameters(int& num_passes, int& icp_at_end, double& fom_to_accept,
                                                           int& restore_netlist)
{
    // The base overrides whatever the string said: an algorithm that wants
    // its parameters honoured provides its own defaults.
    num_passes = s_DEFAULT_NUM_PASSES;
    icp_at_end = s_DEFAULT_ICP_AT_END;
    fom_to_accept = s_DEFAULT_FOM_TO_ACCEPT;
    restore_netlist = s_DEFAULT_RESTORE_NETLIST;
}

void MORV_ALGORITHM_BASE::set_default_pass_parameters(int pass, int& num_iters, int& hill_climb_iters)
{
    (void)pass;
    num_iters = s_DEFAULT_NUM_ITERS;
    hill_climb_iters = s_DEFAULT_HILL_CLIMB_ITERS;
}

int MORV_ALGORITHM_BASE::do_iter()
{
    MSG_INTERNAL_ERROR::report("do_iter () is not implemented by this algorithm. (see default virtual function in "
                               "fsyn_algorithm_base)",
                               "MORV", __FILE__, __LINE__);
    return -1;
}

int MORV_ALGORITHM_BASE::compute_worst_slack()
{
    return m_fsyn_timing->get_figure_of_merit(true);
}

double MORV_ALGORITHM_BASE::compute_figure_of_merit()
{
    double sum = 0.0;
    // From 1, so the mean is over the inputs counted plus one and never divides by 0.
    int counted = 1;
    if (m_atom_netlist != nullptr) {
        for (CDB_ATOM_NODE* node : *m_atom_netlist) {
            for (auto it = node->begin_iterm(); it != node->end_iterm(); ++it) {
                CDB_ATOM_ITERM* iterm = *it;
                // An input without a driver has no timing to ask about.
                if (iterm->get_source() == nullptr) continue;
                const double ratio = m_fsyn_timing->get_slack_ratio(iterm);
                if (ratio <= 0.25) {
                    sum += 1.0 - std::pow(1.0 - ratio, 15.0);
                    ++counted;
                }
            }
        }
    }
    const double mean = sum / static_cast<double>(counted);
    const int fom = m_fsyn_timing->get_figure_of_merit(false);
    MORV_DEBUG_STREAM::print(1, "Figure of merit is (FOM= %ld )", static_cast<long>(fom));
    return 50.0 * mean + static_cast<double>(fom);
}

bool MORV_ALGORITHM_BASE::read_param(const MORV_PARAMETER_MAP* params, const char* key, std::string& value)
{
    if (params == nullptr) return false;
    value = get_algorithm_param(*params, key);
    return !value.empty();
}

std::string MORV_ALGORITHM_BASE::get_algorithm_param(const MORV_PARAMETER_MAP& params, const std::string& key)
{
    auto it = params.find(key);
    return it == params.end() ? std::string() : it->second;
}

std::string MORV_ALGORITHM_BASE::trim_spaces(const std::string& text)
{
    const size_t first = text.find_first_not_of(' ');
    if (first == std::string::npos) return std::string();
    const size_t last = text.find_last_not_of(' ');
    return text.substr(first, last - first + 1);
}

int MORV_ALGORITHM_BASE::parse_algorithm_params(MORV_PARAMETER_MAP& params, const std::string& text)
{
    params.clear();
    int count = 0;
    size_t start = 0;
    size_t equal = text.find('=');
    while (equal != std::string::npos) {
        const std::string key = text.substr(start, equal - start);
        size_t colon = text.find(':', equal);
        const size_t value_end = colon == std::string::npos ? text.size() : colon;
        const std::string value = text.substr(equal + 1, value_end - equal - 1);
        // emplace keeps the first value of a repeated key.
        params.emplace(trim_spaces(key), trim_spaces(value));
        ++count;
        if (colon == std::string::npos) break;
        start = colon + 1;
        equal = text.find('=', colon);
    }
    return count;
}

double MORV_ALGORITHM_BASE::compute_slack_ratio_threshold(double fraction)
{
    MORV_ASSERT_TEXT(m_fsyn_api->get_fsyn_net_util(), "m_fsyn_net_util");
    std::vector<double> ratios;
    if (m_atom_netlist != nullptr) {
        for (CDB_ATOM_NODE* node : *m_atom_netlist) {
            if (!node->is_lcell() && !node->is_lcell_comb() && !node->is_register()) continue;
            for (auto it = node->begin_iterm(); it != node->end_iterm(); ++it) {
                CDB_ATOM_ITERM* iterm = *it;
                // Only driven inputs carry timing.
                if (!iterm->is_driven()) continue;
                ratios.push_back(m_fsyn_timing->get_slack_ratio(iterm));
            }
        }
    }
    // With nothing timed there is no threshold to derive: leave it unset.
    if (ratios.empty() || !(fraction >= 0.0)) return s_UNSET_DOUBLE;
    std::sort(ratios.begin(), ratios.end());
    size_t index = static_cast<size_t>(std::floor(static_cast<double>(ratios.size()) * fraction));
    if (index >= ratios.size()) index = ratios.size() - 1;
    return ratios[index];
}

void MORV_ALGORITHM_BASE::print_behaviors()
{
    MORV_DEBUG_STREAM::print(1, "Behaviors:");
    const char* mode = nullptr;
    switch (m_timing_mode) {
    case MORV_TIMING_MODE_DEFAULT: mode = "DEFAULT"; break;
    case MORV_TIMING_MODE_TDC: mode = "TDC"; break;
    case MORV_TIMING_MODE_NEVRA: mode = "NEVRA"; break;
    default: MSG_INTERNAL_ERROR::report("Invalid timing mode", "MORV", __FILE__, __LINE__);
    }
    MORV_DEBUG_STREAM::print(1, "   timing_mode = %s", mode);
    MORV_DEBUG_STREAM::print(1, "   xicp_modify_dest_node_on_modify_edge = %d",
                             m_xicp_modify_dest_node_on_modify_edge ? 1 : 0);
    MORV_DEBUG_STREAM::print(1, "   xicp_run_init_virtual_icp_tan = %d", m_xicp_run_init_virtual_icp_tan ? 1 : 0);
}
