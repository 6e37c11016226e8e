// Keeping timing in step with the netlist: the record of edits since the
// last synchronisation, the synchronisation of each back end, and the
// dispatch of a timing update to the cheapest route.

#include <memory>

#include "cdb/cdb_atom_netlist.h"
#include "cfg/cfg.h"
#include "nevra/nevra_estimator.h"
#include "tdc/tdc_accessories.h"

#include "morv/core/family/morv_family_traits.h"
#include "morv/core/morv_api.h"
#include "morv/core/morv_assert.h"
#include "morv/core/morv_debug_stream.h"
#include "morv/core/morv_env.h"
#include "morv/core/morv_expert.h"
#include "morv/core/morv_msgs.h"
#include "morv/timing/morv_table_timing_model.h"
#include "morv/timing/morv_timing.h"
#include "morv/timing/morv_timing_ite.h"

// ------------------------------------------------------------------ bookkeeping

void MORV_TIMING::mark_node_changed(CDB_ATOM_NODE* node, bool deleted)
{
    MORV_ASSERT_TEXT(node, "node");
    MORV_ENV* morv_env = m_fsyn_api->get_morv_env();
    MORV_ASSERT_TEXT(morv_env, "morv_env");
    MORV_ASSERT_TEXT(!morv_env->is_stitched_node(static_cast<int>(node->get_id())),
                     "!morv_env->is_stitched_node(node->get_id())");
    m_taint_change_set.push_back(node->get_id());
    m_changed_nodes.insert(static_cast<int>(node->get_id()));
    m_estimate_current = false;
    m_edited_since_restore = true;
    if (m_use_itest && m_itest) m_itest->mark_node_for_analysis(node, deleted);
    m_refresh_pending = true;
}

// Under smart tainting a changed connection costs an append; which end it
// marks is decided once, at the next synchronisation.
void MORV_TIMING::mark_iterm_changed(CDB_ATOM_ITERM* iterm, bool disconnected)
{
    MORV_ASSERT_TEXT(iterm, "iterm");
    CDB_ATOM_NODE* sink = iterm->get_my_node();
    MORV_ASSERT_TEXT(sink, "node");
    m_estimate_current = false;
    m_edited_since_restore = true;
    CDB_ATOM_OTERM* driver = iterm->get_source();
    CDB_ATOM_NODE* source = driver != nullptr ? driver->get_my_node() : nullptr;
    if (m_use_smart_tainting) {
        if (source != nullptr)
            m_changed_connections.emplace_back(static_cast<int>(sink->get_id()), static_cast<int>(source->get_id()));
        else mark_node_changed(sink, false);
    } else {
        mark_node_changed(sink, false);
        if (source != nullptr) mark_node_changed(source, false);
    }
    if (m_use_itest && m_itest && disconnected) {
        m_itest->mark_node_for_analysis(sink, false);
        if (source != nullptr) m_itest->mark_driver_for_analysis(source);
    }
}

// A connection whose ends are both unrecorded marks its sink, or its source
// when the sink is stitched in from another partition.
void MORV_TIMING::resolve_changed_connections()
{
    MORV_ENV* morv_env = m_fsyn_api->get_morv_env();
    for (size_t i = 0; i < m_changed_connections.size(); ++i) {
        const auto [sink_id, source_id] = m_changed_connections[i];
        if (m_changed_nodes.count(sink_id) || m_changed_nodes.count(source_id)) continue;
        CDB_ATOM_NODE* node = m_fsyn_api->get_node(sink_id);
        if (node != nullptr && morv_env->is_stitched_node(sink_id)) {
            node = m_fsyn_api->get_node(source_id);
            MORV_ASSERT_TEXT(node == nullptr || !morv_env->is_stitched_node(source_id),
                             "!morv_env->is_stitched_node(node->get_id())");
        }
        // Both ends gone: the deletions are recorded already.
        if (node != nullptr) mark_node_changed(node, false);
    }
    m_changed_connections.clear();
}

// ------------------------------------------------------------------ synchronisation

bool MORV_TIMING::sync_timing_netlist(bool incremental, bool refresh)
{
    // From here the back end describes the netlist again.
    end_timing_snapshot();
    const bool full_rebuild = m_mode_switched;
    if (m_mode_switched) {
        m_mode_switched = false;
        incremental = false;
    }
    if (m_timing_mode == MORV_TIMING_MODE_NEVRA) return sync_estimator(incremental);
    if (m_timing_mode != MORV_TIMING_MODE_TDC) {
        MSG_INTERNAL_ERROR::report("Invalid timing mode", "MORV", __FILE__, __LINE__);
        return false;
    }
    MORV_ENV* morv_env = m_fsyn_api->get_morv_env();
    MORV_ASSERT_TEXT(morv_env, "morv_env");
    if (cfg_is_on("fsyn_disable_ia2t", false)) incremental = false;
    MORV_DEBUG_STREAM::print(1, "INCREMENTAL IS %s", incremental ? "ON" : "OFF");
    if (!incremental && m_fsyn_api->get_taint() >= MORV_TAINT_REGISTER_OR_OTHER) {
        MORV_DEBUG_STREAM::print(1, "Registered have changed so TAN will be forced to rebuild from scratch.");
        morv_env->discard_timing_netlist();
        m_tdc_utility = nullptr;
    }
    resolve_changed_connections();
    // A timing netlist refreshed with changes carries iTEst's figures only
    // once it estimated them.
    if (full_rebuild || !m_taint_change_set.empty() || m_tdc_utility == nullptr) m_itest_annotated = false;
    if (full_rebuild) {
        MORV_DEBUG_STREAM::print(1, "Forcing full rebuild");
        morv_env->set_full_taint();
        morv_env->build_timing_netlist(this, false, false, true, true, true, true);
    } else if (!m_taint_change_set.empty()) {
        for (int id : m_changed_nodes) MORV_DEBUG_STREAM::print(100, "changed_node: %d", id);
        MORV_DEBUG_STREAM::print(1, "TAINT_CHANGE_SET SIZE IS %d", static_cast<int>(m_changed_nodes.size()));
        morv_env->set_taint_change_set(m_taint_change_set);
        morv_env->build_timing_netlist(this, false, false, !incremental, refresh, true, true);
    } else {
        MORV_DEBUG_STREAM::print(1, "TAINT_CHANGE_SET SIZE IS %d", 0);
        MORV_DEBUG_STREAM::print(1, "Refresh is not necessary: no nodes changed");
        morv_env->build_timing_netlist(this, false, false, false, true, true, true);
    }
    m_fsyn_api->reset_taint();
    m_taint_change_set.clear();
    m_changed_nodes.clear();
    return m_tdc_utility != nullptr;
}

// The stand-in estimator refreshes from the atoms named, so it is handed the
// recorded nodes and the sinks of the recorded connections; without a list
// (after a mode switch or when not incremental) it rebuilds.
bool MORV_TIMING::sync_estimator(bool incremental)
{
    MORV_ASSERT_TEXT(m_nevra != nullptr, "m_nevra != NULL");
    if (incremental && m_changed_connections.empty() && m_taint_change_set.empty()) {
        MORV_DEBUG_STREAM::print(1, "No changes; not syncing NEVRA to atom netlist");
        return true;
    }
    MORV_DEBUG_STREAM::print(1, "Syncing NEVRA to changed atom netlist");
    m_estimate_current = false;
    std::vector<unsigned> changed = m_taint_change_set;
    for (const auto& [sink_id, source_id] : m_changed_connections) changed.push_back(static_cast<unsigned>(sink_id));
    m_nevra->sync_to_netlist(m_fsyn_api->get_atom_netlist(), 0, incremental ? &changed : nullptr);
    // The estimate no longer describes the netlist. (Only node changes say
    // so otherwise, and here connections are not resolved into nodes.)
    m_refresh_pending = true;
    m_changed_connections.clear();
    m_taint_change_set.clear();
    m_changed_nodes.clear();
    return true;
}

// ------------------------------------------------------------------ updates

void MORV_TIMING::set_use_itest(bool use_itest)
{
    m_itest.reset();
    m_use_itest = false;
    m_itest_done_full_timing_analysis = false;
    m_itest_annotated = false;
    if (!use_itest) return;
    // Incremental refreshes are what iTEst's estimates rest on.
    if (cfg_is_on("fsyn_disable_ia2t", false)) {
        MSG_E* msg = new MSG_E();
        msg->fill_args("The incremental timing estimator (fsyn_enable_ite) cannot run while incremental timing "
                       "analysis is disabled (fsyn_disable_ia2t=on); turn one of the two switches off. Timing stays "
                       "with full analyses./EMORV_FSYN_ITEST_WITHOUT_IA2T");
        morv_send_msg(msg);
        return;
    }
    m_itest = morv_create_timing_ite(m_fsyn_api);
    m_use_itest = true;
}

bool MORV_TIMING::can_use_itest()
{
    if (m_timing_mode != MORV_TIMING_MODE_NEVRA) return true;
    if (m_itest_refusal_warned) return false;
    m_itest_refusal_warned = true;
    MSG_W* msg = new MSG_W();
    msg->fill_args(
        "Setting fsyn_enable_ite=on has no effect in the early flows of family %1!s!: they are timed by the "
        "timing estimator, and the incremental timing estimator works only with the timing analyser "
        "(fsyn_disable_nevra=on times them with the analyser). It stays off./WMORV_FSYN_ITEST_NOT_WITH_NEVRA",
        morv_family_traits(m_fsyn_api->get_base_family_code()).m_name);
    morv_send_msg(msg);
    return false;
}

void MORV_TIMING::refuse_itest_without_new_timing_flow()
{
    if (m_itest_flow_refusal_warned) return;
    m_itest_flow_refusal_warned = true;
    MSG_W* msg = new MSG_W();
    msg->fill_args("Setting fsyn_enable_ite=on has no effect without fsyn_use_new_timing_flow=on: the incremental "
                   "timing estimator times the early flows only in the new timing flow. It stays off./"
                   "WMORV_FSYN_ITEST_WITHOUT_NEW_TIMING_FLOW");
    morv_send_msg(msg);
}

// Only a mode that analyses with the host's analyser has edges for iTEst
// to annotate.
bool MORV_TIMING::is_itest_answering() const
{
    if (!m_use_itest || !m_itest_annotated || m_timing_mode != MORV_TIMING_MODE_TDC || m_tdc_utility == nullptr)
        return false;
    return !m_itest->is_timing_netlist_replaced(tdc_get_accessories()->get_tdb_netlist());
}

void MORV_TIMING::update_timing()
{
    if (m_use_itest) {
        if (!m_itest_is_current) {
            m_itest->perform_full_timing_analysis();
            m_itest_done_full_timing_analysis = true;
            m_figure_of_merit = m_itest->get_figure_of_merit();
        } else if (m_refresh_pending) {
            run_itest_estimation();
        }
        m_itest_is_current = true;
        m_itest_annotated = true;
    } else if (m_itest_is_current || m_refresh_pending) {
        perform_timing_analysis();
    }
    m_refresh_pending = false;
}

void MORV_TIMING::run_itest_estimation()
{
    MORV_ASSERT_TEXT(m_use_itest, "m_use_itest");
    MORV_ASSERT_TEXT(m_itest_done_full_timing_analysis, "m_itest_done_full_timing_analysis");
    m_itest->perform_timing_estimation();
    m_figure_of_merit = m_itest->get_figure_of_merit();
    m_refresh_pending = false;
    m_itest_is_current = true;
    m_itest_annotated = true;
}

void MORV_TIMING::perform_pre_placement_timing_analysis(bool use_locked_estimates)
{
    MORV_ASSERT_TEXT(m_fsyn_expert != nullptr && m_fsyn_expert->is_fsyn_running_pre_placement_fsyn(),
                     "m_fsyn_expert->is_fsyn_running_pre_placement_fsyn()");
    if (m_timing_mode == MORV_TIMING_MODE_TDC) {
        compute_area_compensation();
        // A host that discarded its timing netlist leaves nothing to time;
        // the run driver re-acquires it.
        if (sync_timing_netlist(true, !m_use_itest)) perform_early_timing_analysis(false, use_locked_estimates);
    } else if (m_timing_mode == MORV_TIMING_MODE_NEVRA) {
        sync_timing_netlist(true, true);
        run_estimator_timing_analysis();
        if (cfg_is_on("fsyn_nevra_dump_timing", false)) m_nevra->dump_timing_data(nullptr);
    } else {
        MSG_INTERNAL_ERROR::report("Invalid timing mode", "MORV", __FILE__, __LINE__);
    }
    if (cfg_is_on("fsyn_print_slack_ratio_histogram", false)) print_slack_ratio_histogram();
}

void MORV_TIMING::run_estimator_timing_analysis()
{
    MORV_ASSERT_TEXT(m_nevra != nullptr, "m_nevra != NULL");
    CDB_ATOM_NETLIST* atom_netlist = m_fsyn_api->get_atom_netlist();
    // The masks hold still for the estimator while it runs.
    const std::unique_ptr<CDB_ATOM_LUTMASK_CACHE> masks(CDB_ATOM_LUTMASK_CACHE::init_lutmask_cache(atom_netlist));
    end_timing_snapshot();
    m_nevra->run_timing_estimation(atom_netlist, nullptr);
    m_estimate_current = true;
}
