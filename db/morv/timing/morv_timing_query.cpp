// The questions every optimisation asks: slack and slack ratio of a
// connection, the figure of merit and the guardband. They answer from the
// current back end and never re-analyse by themselves; only a netlist the
// run has not timed yet is timed once, by the first slack query.

#include <cmath>

#include "cdb/cdb_atom_netlist.h"
#include "msg/msg.h"
#include "nevra/nevra_estimator.h"
#include "tdc/tdc_accessories.h"

#include "morv/core/family/morv_family_traits.h"
#include "morv/core/morv_api.h"
#include "morv/core/morv_assert.h"
#include "morv/core/morv_debug_stream.h"
#include "morv/core/morv_env.h"
#include "morv/core/morv_expert.h"
#include "morv/timing/morv_slack_source.h"
#include "morv/timing/morv_timing.h"

namespace {

// The raw ratio a slack-ratio skew of x lands on 0.125.
constexpr double SKEWED_RATIO = 0.125;

// The figure of merit before any analysis: no valid timing data, which the
// callers know as 0x7fffffff rather than a figure this bad.
constexpr double NO_ANALYSIS = -2147483647.0;

}  // namespace

int MORV_TIMING::get_slack(CDB_ATOM_ITERM* iterm)
{
    MORV_ASSERT_TEXT(iterm, "iterm");
    CDB_ATOM_NODE* atom_node = iterm->get_my_node();
    MORV_ASSERT_TEXT(atom_node, "atom_node");
    int scripted = 0;
    if (m_slack_source != nullptr && m_slack_source->find_slack(iterm, &scripted)) return scripted;
    if (const SNAPSHOT_ANSWER* answer = snapshot_answer(iterm)) return answer->m_slack;
    if (m_timing_snapshot != nullptr && m_timing_mode == MORV_TIMING_MODE_NEVRA) return s_NO_PATH;
    if (m_timing_mode == MORV_TIMING_MODE_NEVRA) return m_nevra->get_slack_of_connection(iterm);
    if (m_timing_mode != MORV_TIMING_MODE_TDC) {
        MSG_INTERNAL_ERROR::report("Invalid timing mode", "MORV", __FILE__, __LINE__);
        return -1;
    }
    if (reads_timing_as_annotated())
        return m_tdc_utility->get_annotated_slack(atom_node, iterm->get_any_usage_as(), iterm->get_port_index());
    return m_tdc_utility->get_slack(atom_node, iterm->get_any_usage_as(), iterm->get_port_index());
}

// Asked before the run first timed the netlist (statistics and slack
// records at the start of a flow, an algorithm's threshold, RAM packing),
// the query times it once as the run driver does: synchronised, which
// attaches the host's handle, then analysed, with the early model before
// placement. Answering "unconstrained" instead would pass every connection
// off as uncritical. Only an atom netlist the host cannot build a timing
// netlist of is left unanalysed: it has no connection to time, and the
// handle answers so.
void MORV_TIMING::time_netlist_before_first_query()
{
    const bool pre_placement = is_pre_placement();
    MORV_DEBUG_STREAM::print(1, "Timing the netlist for its first slack query");
    if (pre_placement) compute_area_compensation();
    if (!sync_timing_netlist(true, !pre_placement || !m_use_itest)) return;
    if (tdc_get_accessories()->get_tdb_netlist() == nullptr) return;
    if (pre_placement) perform_early_timing_analysis(false, m_fsyn_api->uses_delay_model());
    else perform_timing_analysis();
}

// Both slack queries: the handle exists (timed first when the run has not),
// and the answer is read as annotated when iTEst's estimate stands for the
// analysis it saves or, after placement without iTEst, when the last
// analysis answers also after edits: the caller analyses when it wants
// fresh timing, and a query that re-analysed would cost an optimisation one
// full analysis per edit. Otherwise the host brings a changed netlist's
// figures up to date first.
bool MORV_TIMING::reads_timing_as_annotated()
{
    if (m_tdc_utility == nullptr) time_netlist_before_first_query();
    MORV_ASSERT_TEXT(m_tdc_utility, "m_tdc_utility");
    return is_itest_answering() || answers_from_last_analysis();
}

bool MORV_TIMING::answers_from_last_analysis() const
{
    return !m_use_itest && !is_pre_placement() && m_tdc_utility->has_analysis();
}

double MORV_TIMING::raw_slack_ratio(CDB_ATOM_ITERM* iterm)
{
    CDB_ATOM_NODE* atom_node = iterm->get_my_node();
    if (const SNAPSHOT_ANSWER* answer = snapshot_answer(iterm)) return static_cast<double>(answer->m_slack_ratio);
    if (m_timing_snapshot != nullptr && m_timing_mode == MORV_TIMING_MODE_NEVRA) return 1.0;
    if (m_timing_mode == MORV_TIMING_MODE_NEVRA)
        return static_cast<double>(m_nevra->get_slack_ratio_of_connection(iterm));
    if (reads_timing_as_annotated())
        return m_tdc_utility->get_annotated_slack_ratio(atom_node, iterm->get_any_usage_as(), iterm->get_port_index());
    return m_tdc_utility->get_slack_ratio(atom_node, iterm->get_any_usage_as(), iterm->get_port_index());
}

double MORV_TIMING::get_slack_ratio(CDB_ATOM_ITERM* iterm)
{
    MORV_ASSERT_TEXT(iterm, "iterm");
    MORV_ASSERT_TEXT(iterm->get_my_node(), "atom_node");
    double scripted = 0.0;
    if (m_slack_source != nullptr && m_slack_source->find_slack_ratio(iterm, &scripted)) return scripted;
    if (m_timing_mode != MORV_TIMING_MODE_TDC && m_timing_mode != MORV_TIMING_MODE_NEVRA) {
        MSG_INTERNAL_ERROR::report("Invalid timing mode", "MORV", __FILE__, __LINE__);
        return -1.0;
    }
    return adjust_slack_ratio(raw_slack_ratio(iterm), is_pre_placement(), m_timing_mode == MORV_TIMING_MODE_TDC,
                              m_sr_skew);
}

double MORV_TIMING::adjust_slack_ratio(double r, bool pre_placement, bool remap, double skew)
{
    // Before placement the ratios are pulled down, the critical ones most.
    if (pre_placement) r = 0.2098 * r * r + 0.7818 * r;
    // The analyser's ratios are remapped so that a raw ratio of the skew
    // lands on 0.125: the families with reversed LUT inputs see more of the
    // critical end.
    if (remap) r = r < skew ? r / skew * SKEWED_RATIO : (r - skew) / (1.0 - skew) * (1.0 - SKEWED_RATIO) + SKEWED_RATIO;
    if (r < 0.0) return 0.0;
    if (r > 1.0) return 1.0;
    return r;
}

int MORV_TIMING::get_figure_of_merit(bool force_legacy)
{
    int fom = s_NO_VALID_FOM;
    if (m_timing_mode == MORV_TIMING_MODE_TDC) {
        if (m_use_legacy_fom || force_legacy) {
            // Where iTEst's estimate stands for the analysis it saved, the
            // worst slack is the one it estimated: asking the host would
            // analyse the netlist the estimate was to spare.
            if (m_tdc_utility != nullptr)
                fom = is_itest_answering() ? m_tdc_utility->get_annotated_worst_slack()
                                           : m_tdc_utility->get_legacy_figure_of_merit(force_legacy);
            MORV_DEBUG_STREAM::print(1, "Using LEGACY FOM");
        } else if (m_fom_from_env) {
            MORV_ENV* env = m_fsyn_api->get_morv_env();
            MORV_ASSERT_TEXT(env, "morv_env");
            fom = env->get_figure_of_merit(false);
        } else if (m_figure_of_merit != NO_ANALYSIS) {
            fom = static_cast<int>(std::trunc(m_figure_of_merit));
        }
    } else if (m_timing_mode == MORV_TIMING_MODE_NEVRA) {
        // A restored netlist's figure is the one its snapshot kept.
        fom = m_timing_snapshot != nullptr ? snapshot_figure_of_merit() : m_nevra->get_figure_of_merit();
    } else {
        MSG_INTERNAL_ERROR::report("Invalid timing mode", "MORV", __FILE__, __LINE__);
    }
    MORV_DEBUG_STREAM::print(1, "Figure of merit is (FOM= %d )", fom);
    return fom;
}

int MORV_TIMING::get_guardband_slack() const
{
    int scripted = 0;
    if (m_slack_source != nullptr && m_slack_source->find_guardband_slack(&scripted)) return scripted;
    const bool late = m_fsyn_expert != nullptr && m_fsyn_expert->is_fsyn_running(LATE_FSYN_FLOW);
    const MORV_FAMILY_TIMING_TRAITS& family = morv_family_traits(m_fsyn_api->get_base_family_code()).m_timing;
    return late ? family.m_guardband_late_ps : family.m_guardband_ps;
}
