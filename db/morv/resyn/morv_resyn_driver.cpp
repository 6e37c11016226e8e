// One RESYN iteration: its slack-ratio threshold and area bound, the
// evaluation of the candidate roots, the marking and the final cut-off.

#include <algorithm>
#include <cstdlib>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include "cdb/cdb_atom_netlist.h"
#include "cfg/cfg.h"
#include "cfg/cfg_known_keys.h"
#include "hdb/hdb_instance_name.h"
#include "msg/msg.h"

#include "morv/core/morv_api.h"
#include "morv/core/morv_assert.h"
#include "morv/core/morv_debug_stream.h"
#include "morv/core/morv_expert.h"
#include "morv/core/morv_msgs.h"
#include "morv/resyn/morv_resyn.h"
#include "morv/timing/morv_opt_skew.h"
#include "morv/timing/morv_timing.h"

namespace {

const char* const k_resyn_cutoff_switch = "fsyn_cutoff_resyn_msr";

std::string full_name(CDB_ATOM_NODE* node)
{
    HDB_INSTANCE_NAME* name = node->get_instance_name();
    return name != nullptr ? name->get_hpath_to_root() : std::to_string(node->get_id());
}

// Index of the quantile among n sorted values. The fraction comes from the
// user's test string: a negative or too large one takes the first or the
// last value instead of reading past the array.
size_t resyn_quantile_index(size_t n, double fraction)
{
    const double position = static_cast<double>(n) * fraction;
    if (position >= static_cast<double>(n)) return n - 1;
    if (position > 0.0) return static_cast<size_t>(position);
    return 0;
}

}  // namespace

double MORV_RESYN::get_quantile_fraction(int iter) const
{
    if (m_num_iterations <= 1) return m_area_fr_bgn;
    return m_area_fr_bgn + (m_area_fr_end - m_area_fr_bgn) * iter / (m_num_iterations - 1);
}

int MORV_RESYN::get_iteration_area_bound(int iter) const
{
    if (m_num_iterations <= 1) return m_area_bound_bgn;
    const double bound =
        m_area_bound_bgn + static_cast<double>(m_area_bound_end - m_area_bound_bgn) * iter / (m_num_iterations - 1);
    return static_cast<int>(bound);
}

int MORV_RESYN::do_iter()
{
    // The skews apply while the iteration reads slacks and come off when it
    // returns, before the run driver judges it.
    MORV_OWNER<MORV_RTM_AWARE_SKEWS> skews;
    if (m_rtm_aware) {
        skews = MORV_MAKE_OWNER(MORV_RTM_AWARE_SKEWS, m_fsyn_api, m_slack_ratio_threshold);
        MORV_ASSERT_TEXT(skews, "fsyn_opt_skew");
    }
    const int iter = m_curr_iter;
    const double fraction = get_quantile_fraction(iter);
    const double quantile = get_slack_ratio_quantile(fraction);
    m_sr_threshold = quantile;
    if (m_sr_threshold > m_area_sr_max) m_sr_threshold = m_area_sr_max;
    if (m_sr_threshold < m_area_sr_min) m_sr_threshold = m_area_sr_min;
    MORV_DEBUG_STREAM::print(100, "using a slack ratio threshold of %.3f", m_sr_threshold);
    set_zero_ratio_ties(quantile, fraction);
    m_area_bound = get_iteration_area_bound(iter);
    MORV_DEBUG_STREAM::print(100, "using an area bound of %d", m_area_bound);

    build_oterm_records();
    evaluate_candidates();
    const int implemented = select_solutions();
    free_iteration_records();
    return implemented;
}

double MORV_RESYN::get_slack_ratio_quantile(double fraction)
{
    MORV_TIMING* timing = m_fsyn_api->get_fsyn_timing();
    std::vector<double> ratios;
    for (CDB_ATOM_NODE* node : *m_fsyn_api->get_atom_netlist()) {
        if (!is_lut_node(node)) continue;
        double worst = 1.0;
        for (auto it = node->begin_iterm(); it != node->end_iterm(); ++it)
            if ((*it)->is_connected()) worst = std::min(worst, timing->get_slack_ratio(*it));
        ratios.push_back(worst);
    }
    if (ratios.empty()) return 0.0;
    const size_t index = resyn_quantile_index(ratios.size(), fraction);
    std::nth_element(ratios.begin(), ratios.begin() + static_cast<long>(index), ratios.end());
    return ratios[index];
}

int MORV_RESYN::get_min_data_input_slack(CDB_ATOM_NODE* node)
{
    MORV_TIMING* timing = m_fsyn_api->get_fsyn_timing();
    int min_slack = 1000000000;
    for (int k = 0; k < m_num_data_ports; ++k) {
        CDB_ATOM_ITERM* iterm = node->get_input_term_by_type(DB_DATA_A + k);
        if (iterm != nullptr && iterm->get_source() != nullptr)
            min_slack = std::min(min_slack, timing->get_slack(iterm));
    }
    return min_slack;
}

int MORV_RESYN::get_zero_ratio_slack_quantile(double fraction)
{
    MORV_TIMING* timing = m_fsyn_api->get_fsyn_timing();
    std::vector<std::pair<double, int>> keys;
    for (CDB_ATOM_NODE* node : *m_fsyn_api->get_atom_netlist()) {
        if (!is_lut_node(node)) continue;
        double worst = 1.0;
        for (auto it = node->begin_iterm(); it != node->end_iterm(); ++it)
            if ((*it)->is_connected()) worst = std::min(worst, timing->get_slack_ratio(*it));
        keys.emplace_back(worst, get_min_data_input_slack(node));
    }
    if (keys.empty()) return std::numeric_limits<int>::min();
    const size_t index = resyn_quantile_index(keys.size(), fraction);
    std::nth_element(keys.begin(), keys.begin() + static_cast<long>(index), keys.end());
    return keys[index].second;
}

// Slack ratios stop at 0, so once the fraction's worth of LUTs or more
// have none left the quantile is 0 and the strict test admits no root: in
// the iterations where timing is worst. The ratio cannot rank those ties;
// their slack can. Roots measured at 0 are admitted up to the slack of the
// quantile LUT, so that about the fraction's worth of LUTs is worked on.
void MORV_RESYN::set_zero_ratio_ties(double quantile, double fraction)
{
    m_admit_zero_ties = quantile <= 0.0 && m_sr_threshold <= 0.0;
    if (!m_admit_zero_ties) return;
    m_zero_tie_slack = get_zero_ratio_slack_quantile(fraction);
    MORV_DEBUG_STREAM::print(100, "admitting roots of slack ratio 0 with a slack of at most %d", m_zero_tie_slack);
}

// The cut-off switch as a number; an absent one is the default, a value
// that is not a number is the user's error, reported once.
void MORV_RESYN::read_cutoff(double& cutoff, bool& valid)
{
    cutoff = s_DEFAULT_CUTOFF_MSR;
    valid = true;
    const char* text = cfg_get_value(k_resyn_cutoff_switch);
    if (text == nullptr) return;
    const CFG_KNOWN_KEY* key = cfg_find_known_key(k_resyn_cutoff_switch);
    MORV_ASSERT_TEXT(key, "cfg_find_known_key(fsyn_cutoff_resyn_msr)");
    const std::string fault = cfg_check_value(*key, text);
    if (fault.empty()) {
        cutoff = std::atof(text);
        return;
    }
    valid = false;
    if (m_cutoff_error_reported) return;
    m_cutoff_error_reported = true;
    MSG_E* msg = new MSG_E();
    msg->fill_args("Developer switch %1!s! %2!s!; RESYN implements no solution./EMORV_FSYN_RESYN_BAD_CUTOFF",
                   k_resyn_cutoff_switch, fault);
    morv_send_msg(msg);
}

bool MORV_RESYN::passes_cutoff()
{
    double cutoff = 0.0;
    bool valid = true;
    read_cutoff(cutoff, valid);
    double pre_sr = 1.0;
    double post_sr = 1.0;
    for (const auto& entry : m_solns) {
        const RESYN_SOLN& soln = entry.second;
        if (!soln.selected || soln.luts.empty()) continue;
        pre_sr = std::min(pre_sr, soln.pre_sr);
        post_sr = std::min(post_sr, soln.sr);
    }
    MORV_DEBUG_STREAM::print(1, "RESYN CUTOFF: minimum pre-RESYN slack ratio is %f", pre_sr);
    MORV_DEBUG_STREAM::print(1, "RESYN CUTOFF: minimum post-RESYN slack ratio is %f", post_sr);
    if (!valid) return false;
    MORV_EXPERT* expert = m_fsyn_api->get_fsyn_expert();
    if (expert == nullptr || !expert->is_fsyn_running(LATE_FSYN_FLOW)) return true;
    if (pre_sr < cutoff) return true;
    MORV_DEBUG_STREAM::print(1, "RESYN CUTOFF: Will not execute (exceeds minimum slack ratio of %f)", cutoff);
    return false;
}

int MORV_RESYN::implement_selected_solutions()
{
    int selected = 0;
    int total = 0;
    if (passes_cutoff()) {
        for (auto& entry : m_solns) {
            RESYN_SOLN& soln = entry.second;
            if (soln.luts.empty()) continue;
            ++total;
            if (!soln.selected) continue;
            implement_solution(soln);
            ++selected;
            if (!soln.cuts_path) continue;
            MORV_DEBUG_STREAM::print(100, "resynthesis of %s cut a path.", full_name(soln.node).c_str());
            const int partition = m_fsyn_api->get_atom_partition_id(soln.node);
            if (partition == -1) continue;
            MORV_DEBUG_STREAM::print(100, "ignoring partition info for %d.", partition);
            m_fsyn_api->ignore_partition_bp_info(partition);
        }
    }
    MORV_DEBUG_STREAM::print(100, "selected %d of %d nodes for implementation", selected, total);
    return selected;
}
