#include "morv/retiming/morv_retiming.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "cdb/cdb_atom_netlist.h"
#include "cfg/cfg.h"
#include "tdc/tdc_accessories.h"

#include "morv/core/morv_api.h"
#include "morv/core/morv_assert.h"
#include "morv/core/morv_debug_stream.h"
#include "morv/core/family/morv_family_traits.h"
#include "morv/core/morv_expert.h"
#include "morv/netlist/morv_cdb_interface.h"
#include "morv/netlist/morv_net_util.h"
#include "morv/netlist/morv_nt.h"
#include "morv/resyn/morv_remux.h"
#include "morv/timing/morv_opt_skew.h"
#include "morv/timing/morv_timing.h"

namespace {

const char* enabled_text(bool on)
{
    return on ? "ENABLED" : "DISABLED";
}

}  // namespace

MORV_RETIMING::MORV_RETIMING(MORV_API* api, const MORV_PARAMETER_MAP* params) : MORV_ALGORITHM_BASE(api, params)
{
    MORV_ASSERT_TEXT(api, "fsyn_api");
    MORV_ASSERT_TEXT(api->peek_fsyn_net_util(), "m_fsyn_net_util");
    m_net_util = api->peek_fsyn_net_util();
    MORV_ASSERT_TEXT(m_net_util, "m_net_util");
    read_mac_settings();
    log_status_lines();
    m_ram_retiming_enabled = cfg_is_on("fsyn_enable_ram_retiming");
    read_parameters();
    m_xicp_modify_dest_node_on_modify_edge = true;
    m_xicp_run_init_virtual_icp_tan = true;
    m_judge_passes_after_placement = true;
}

MORV_RETIMING::~MORV_RETIMING() = default;

void MORV_RETIMING::read_mac_settings()
{
    const int base_family = m_fsyn_api->get_base_family_code();
    MORV_EXPERT* expert = m_fsyn_api->get_fsyn_expert();
    const bool pre_placement = expert != nullptr && expert->is_fsyn_running_pre_placement_fsyn();
    if (pre_placement || cfg_is_on("fsyn_enable_late_mac_retiming")) {
        const MORV_MAC_RETIMING mac = morv_rtm_mac_retiming(base_family);
        m_mac_retiming_enabled = mac != MORV_MAC_RETIMING_NONE;
        if (mac == MORV_MAC_RETIMING_BACKWARD) m_mac_forward_pushes = false;
        if (mac == MORV_MAC_RETIMING_NONE)
            MORV_DEBUG_STREAM::print(100, "MAC_RETIMING is unsupported family for this family");
    }
    if (morv_rtm_demuxes_sload(base_family)) m_sload_demuxing = true;
    if (cfg_is_on("fsyn_enable_sload_push")) {
        m_sload_push = true;
        MORV_DEBUG_STREAM::print(1, "SLOAD Push is enabled!");
    }
    if (cfg_is_on("fsyn_disable_sload_demuxing")) m_sload_demuxing = false;
    if (cfg_is_on("fsyn_disable_mac_retiming")) m_mac_retiming_enabled = false;
    if (cfg_is_on("fsyn_disable_mac_retiming_back_pushes")) m_mac_backward_pushes = false;
    if (cfg_is_on("fsyn_disable_mac_retiming_fwd_pushes")) m_mac_forward_pushes = false;
}

void MORV_RETIMING::log_status_lines() const
{
    MORV_DEBUG_STREAM::print(100, "sload demuxing is %s", enabled_text(m_sload_demuxing));
    MORV_DEBUG_STREAM::print(100, "MAC_RETIMING is %s", enabled_text(m_mac_retiming_enabled));
    MORV_DEBUG_STREAM::print(100, "MAC_RETIMING BACKWARD PUSHES are is %s", enabled_text(m_mac_backward_pushes));
    MORV_DEBUG_STREAM::print(100, "MAC_RETIMING FORWARD PUSHES are %s", enabled_text(m_mac_forward_pushes));
}

// The table's order; only the value 1 switches NO_LB and SKEW_RTM on, and
// the GREEDY match is case-sensitive.
void MORV_RETIMING::read_parameters()
{
    std::string value;
    double beta = 0.3, alpha = 0.249, exit = 20.0;
    int min_passes = 4;
    if (read_param(m_params, MORV_RTM_PARAM_BETA, value)) beta = std::atof(value.c_str());
    if (read_param(m_params, MORV_RTM_PARAM_ALPHA, value)) alpha = std::atof(value.c_str());
    if (read_param(m_params, MORV_RTM_PARAM_EXIT, value)) exit = std::atof(value.c_str());
    if (read_param(m_params, MORV_RTM_PARAM_MIN_PASSES, value)) min_passes = std::atoi(value.c_str());
    if (read_param(m_params, MORV_RTM_PARAM_SKEW_THRESHOLD, value)) m_skew_threshold = std::atoi(value.c_str());
    m_fsyn_api->set_retiming_lower_bound_params(alpha, exit, beta);
    if (read_param(m_params, MORV_RTM_PARAM_CLOSE, value)) m_pclose = std::atoi(value.c_str());
    if (read_param(m_params, MORV_RTM_PARAM_MAX_AGE, value)) {
        m_max_age = std::atoi(value.c_str());
        MORV_DEBUG_STREAM::print(1, "Maximum register age set to %d", m_max_age);
    }
    if (read_param(m_params, MORV_RTM_PARAM_GREEDY_ITERS, value)) {
        m_greedy_iterations = std::atoi(value.c_str());
        MORV_DEBUG_STREAM::print(1, "Greedy iters set to %d", m_greedy_iterations);
    }
    if (read_param(m_params, MORV_RTM_PARAM_NO_LB, value)) m_no_lb = std::atoi(value.c_str()) == 1;
    if (cfg_is_on("fsyn_retime_side_clocks")) {
        m_retime_side_clocks = true;
        MORV_DEBUG_STREAM::print(1, "Retiming of side clocks enabled!");
    }
    if (cfg_is_on("fsyn_disable_location_copying")) {
        m_disable_location_copying = true;
        MORV_DEBUG_STREAM::print(1, "Copying of locations for side clocks disabled!");
    }
    if (read_param(m_params, MORV_RTM_PARAM_SKEW_MODE, value) && std::atoi(value.c_str()) == 1)
        start_skew_mode(alpha, exit, beta, min_passes);
    if (read_param(m_params, MORV_RTM_PARAM_ALGORITHM, value) && value.find("GREEDY") != std::string::npos) {
        m_greedy = true;
        MORV_DEBUG_STREAM::print(2, "RTM greedy algorithm is on");
    }
}

void MORV_RETIMING::start_skew_mode(double alpha, double exit, double beta, int min_passes)
{
    m_skew_mode = true;
    MORV_DEBUG_STREAM::print(1, "*********************************");
    MORV_DEBUG_STREAM::print(1, "* Retiming running in SKEW mode *");
    MORV_DEBUG_STREAM::print(1, "*********************************");
    MORV_DEBUG_STREAM::print(1, "Skew threshold = %d", m_skew_threshold);
    m_opt_skew = MORV_MAKE_OWNER(MORV_OPT_SKEW, m_fsyn_api);
    MORV_ASSERT_TEXT(m_opt_skew.get(), "m_opt_skew");
    m_opt_skew->m_alpha = alpha;
    m_opt_skew->m_exit = exit;
    m_opt_skew->m_beta = beta;
    m_opt_skew->m_min_passes = min_passes;
}

bool MORV_RETIMING::is_logging() const
{
    return m_cdb_interface->is_logging() && m_cdb_interface->get_fsyn_log() != nullptr;
}

// ------------------------------------------------------------ base slots

void MORV_RETIMING::set_default_algorithm_parameters(int& num_passes, int& icp_at_end, double& fom_to_accept,
                                                     int& restore_netlist)
{
    MORV_EXPERT* expert = m_fsyn_api->get_fsyn_expert();
    if (num_passes == s_UNSET_INT) num_passes = 4;
    if (icp_at_end == s_UNSET_INT) icp_at_end = expert != nullptr && expert->is_fsyn_running_early_fsyn() ? 0 : 1;
    if (fom_to_accept == s_UNSET_DOUBLE) fom_to_accept = 1e-10;
    // The design leaves RESTORE_NETLIST at 0 when unset; here it is 1: the
    // initial netlist is restored when the passes leave the figure of merit
    // worse. Registers added by a pass are placed only at its end; with no
    // restore by default a pass the placement makes slower would be kept and
    // the user would get a circuit worse than the one retiming was given.
    if (restore_netlist == s_UNSET_INT) restore_netlist = 1;
    m_icp_at_end_pending = true;
    const bool no_bound = !morv_rtm_has_lower_bound(m_fsyn_api->get_base_family_code()) || m_skew_mode || m_no_lb ||
                          m_fsyn_timing->get_timing_mode() == MORV_TIMING_MODE_NEVRA;
    m_lb_fom = no_bound ? 0 : m_fsyn_timing->get_retiming_lower_bound_fom();
    MORV_DEBUG_STREAM::print(1, "** Retiming LB FOM = %d", m_lb_fom);
    MORV_REMUX::clear_demuxed_nodes(m_fsyn_api);
}

void MORV_RETIMING::finish_algorithm()
{
    if (cfg_is_on("fsyn_dump_node_tracking")) {
        MORV_NT* nt = m_fsyn_api->get_fsyn_nt();
        const std::string file = "fsyn_node_tracking_" + std::to_string(get_run_counter()) + ".txt";
        nt->dump_to_file(file.c_str());
    }
    if (m_icp_at_end_pending) {
        const bool icp_ok = m_fsyn_api->run_timing_analysis(false, false, 1.0, false, true, false);
        MORV_ASSERT_TEXT(icp_ok, "icp_ok");
        m_icp_at_end_pending = false;
    }
}

// A term without valid timing (slack ratio -1.0) stays out of the sum and
// the count: 1 - 2^8 = -255 would swamp the average and make the run driver
// reject a good iteration.
double MORV_RETIMING::compute_figure_of_merit()
{
    double sum = 0.0;
    long count = 0;
    for (CDB_ATOM_NODE* node : *m_atom_netlist) {
        for (auto it = node->begin_iterm(); it != node->end_iterm(); ++it) {
            const double ratio = m_fsyn_timing->get_slack_ratio(*it);
            if (ratio < 0.0) continue;
            sum += 1.0 - std::pow(1.0 - ratio, 8);
            ++count;
        }
    }
    const int timing_fom = m_fsyn_timing->get_figure_of_merit(false);
    return sum / static_cast<double>(count + 1) * m_trade + timing_fom;
}

bool MORV_RETIMING::is_fom_close_to_optimal()
{
    if (tdc_get_accessories()->is_analysis_running()) {
        MORV_DEBUG_STREAM::print(2, "LB TEST: DISABLED, STA is running");
        return false;
    }
    if (m_no_lb) {
        MORV_DEBUG_STREAM::print(2, "LB TEST: DISABLED");
        return false;
    }
    bool close = false;
    if (morv_rtm_has_lower_bound(m_fsyn_api->get_base_family_code()))
        close = m_fsyn_timing->get_figure_of_merit(true) > int64_t(m_lb_fom) - m_pclose;
    MORV_DEBUG_STREAM::print(2, "LB TEST: FOM close to optimal = %s", close ? "TRUE" : "FALSE");
    return close;
}
