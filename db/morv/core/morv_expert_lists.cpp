// The family default lists at each flow point of a user-option compile, and
// the family rules around them: the LATE effort adapted by how far timing
// moved since the early flow, the LAB overuse cut-off, and the stability of
// the early timing model before the early flow.

#include <cmath>
#include <cstdlib>

#include "cfg/cfg.h"
#include "msg/msg.h"

#include "morv/core/family/morv_default_lists.h"
#include "morv/core/family/morv_family_traits.h"
#include "morv/core/morv_api.h"
#include "morv/core/morv_assert.h"
#include "morv/core/morv_debug_stream.h"
#include "morv/core/morv_env.h"
#include "morv/core/morv_expert.h"
#include "morv/core/morv_setting_ids.h"
#include "morv/netlist/morv_chip_map.h"
#include "morv/timing/morv_timing.h"

namespace {

[[noreturn]] void lists_error(const char* text, int line)
{
    MSG_INTERNAL_ERROR::report(text, "MORV", __FILE__, line);
}

}  // namespace

void MORV_EXPERT::append_run_list(const MORV_RUN_LIST& list)
{
    const bool dont_resplit = cfg_is_on("fsyn_tune_dont_repslit", false);
    for (int i = 0; i < list.m_count; ++i) {
        const MORV_LIST_RUN& run = list.m_runs[i];
        if ((run.m_conditions & MORV_LIST_RUN_WITHOUT_XICP) != 0 && m_use_xicp) continue;
        if ((run.m_conditions & MORV_LIST_RUN_WITH_XICP) != 0 && !m_use_xicp) continue;
        if ((run.m_conditions & MORV_LIST_RUN_RESPLIT_ALLOWED) != 0 && dont_resplit) continue;
        insert_algorithm(run.m_algorithm, run.m_parameters);
    }
}

const MORV_RUN_LIST& MORV_EXPERT::list_for_effort(const MORV_EFFORT_LISTS& lists) const
{
    if (lists.m_any_effort) return lists.m_normal;
    switch (m_opx_physical_synthesis_effort) {
    case MORV_EFFORT_FAST: return lists.m_fast;
    case 0:
    case MORV_EFFORT_NORMAL: return lists.m_normal;
    case MORV_EFFORT_EXTRA: return lists.m_extra;
    default: lists_error("m_opx_physical_synthesis_effort == OPX_ENUM_VALUE_EXTRA", __LINE__);
    }
}

void MORV_EXPERT::add_cluster_retry_list(const MORV_DEFAULT_LISTS& lists)
{
    if (!lists.m_cluster_retry) lists_error("We shouldn't be here.", __LINE__);
    append_run_list(MORV_CLUSTER_RETRY_LIST);
}

void MORV_EXPERT::add_syn_early_list(const MORV_DEFAULT_LISTS& lists)
{
    if (!lists.m_syn_early) lists_error("This flow is not supported.", __LINE__);
    if (MORV_ENV::where_does_early_fsyn_run(m_morv_env->get_cmp()) == SYN_EARLY_FSYN_FLOW)
        append_run_list(list_for_effort(lists.m_early));
}

void MORV_EXPERT::add_fit_early_list(const MORV_DEFAULT_LISTS& lists)
{
    // LUT-input remapping runs on its own, and the host hears of the
    // changed netlist before the rest of the list is even built.
    if (lists.m_lir_first && may_algorithm_run(LIR_ALGORITHM)) {
        insert_algorithm(LIR_ALGORITHM, "NP=1:NI=1");
        run_flow();
        m_morv_env->refresh_after_netlist_change();
    }
    if (lists.m_density_prologue && m_for_density) add_cluster_retry_fsyn_algorithms();
    append_run_list(lists.m_fit_early_head);
    const bool ran_at_syn_early =
        lists.m_syn_early && MORV_ENV::where_does_early_fsyn_run(m_morv_env->get_cmp()) == SYN_EARLY_FSYN_FLOW;
    if (!ran_at_syn_early) append_run_list(list_for_effort(lists.m_early));
}

void MORV_EXPERT::add_late_list(const MORV_DEFAULT_LISTS& lists)
{
    if (lists.m_adapts_effort && adapt_late_effort(lists)) {
        add_late_fsyn_algorithms_for_circuit_characteristic();
        return;
    }
    if (lists.m_lab_overuse_cutoff && is_lab_overuse_cutoff_in_force(lists)) {
        append_run_list(lists.m_late_cutoff);
        return;
    }
    append_run_list(list_for_effort(lists.m_late));
}

bool MORV_EXPERT::adapt_late_effort(const MORV_DEFAULT_LISTS& lists)
{
    // An input the early record lacks counts as a ratio of 0.0; with nothing
    // to weigh the characteristic is not a number and nothing adapts.
    const double characteristic = m_fsyn_api->get_weighted_slack_ratio_difference(*m_early_slack_ratios, true);
    MORV_DEBUG_STREAM::print(2, "FSYN LATE: circuit characteristic S_W_AVG_SR_DIFF = %f", characteristic);
    if (m_opx_physical_synthesis_effort != MORV_EFFORT_NORMAL) return false;
    if (characteristic < lists.m_low_threshold) {
        m_opx_physical_synthesis_effort = MORV_EFFORT_FAST;
        return false;
    }
    return characteristic > lists.m_high_threshold;
}

bool MORV_EXPERT::is_lab_overuse_cutoff_in_force(const MORV_DEFAULT_LISTS& lists)
{
    const int available = m_fsyn_api->get_device_le_count() / lists.m_les_per_lab;
    const MORV_CHIP_MAP* chip_map = m_fsyn_api->get_fsyn_chip_map();
    MORV_ASSERT(chip_map);
    const int used = chip_map->get_number_of_used_labs();
    const bool overused = lists.m_overuse_free_lab_fraction * available > static_cast<double>(available - used);
    MORV_DEBUG_STREAM::print(1, "FSYN Overuse Cutoff: LABs Used: %d, LABs Avail: %d, labs_overused ? %d", used,
                             available, overused ? 1 : 0);
    const int effort = m_opx_physical_synthesis_effort;
    return cfg_is_on("fsyn_use_late_fsyn_overuse_cutoff", true) && overused &&
           (effort == MORV_EFFORT_FAST || effort == MORV_EFFORT_NORMAL);
}

bool MORV_EXPERT::is_early_timing_model_stable(double stability) const
{
    const MORV_FAMILY_DRIVER_TRAITS* driver = morv_family_traits(m_fsyn_api->get_base_family_code()).m_driver;
    MORV_ASSERT(driver && driver->m_default_lists);
    const MORV_DEFAULT_LISTS* lists = driver->m_default_lists;
    double threshold = lists->m_early_stability_threshold;
    if (cfg_is_on("fsyn_tune_stability_threshold", false)) {
        const char* value = cfg_get_value("fsyn_tune_stability_threshold_value");
        threshold = std::atof(value != nullptr ? value : "");
    }
    return !(stability > threshold);
}

bool MORV_EXPERT::check_early_timing_model_stability()
{
    if (m_fsyn_api->count_mac_nodes() >= 1) {
        MORV_DEBUG_STREAM::print(1, "Skipping stability check. There are MACs in the netlist.");
        return true;
    }
    const double stability = m_fsyn_api->get_early_timing_model_stability();
    if (!is_early_timing_model_stable(stability)) {
        MORV_DEBUG_STREAM::print(1, "Stability of early timing model is %f. Skipping EARLY FSYN.", stability);
        return false;
    }
    // The early flow starts from unperturbed early delays.
    if (m_fsyn_timing->get_tdc_utility() != nullptr) m_fsyn_timing->perform_early_timing_analysis(false, false);
    return true;
}
