// The host's entry at each flow point: framing (messages, banner, profiler
// bin, numeric locale, checks), the gate that can stop physical synthesis,
// timing preparation and the dispatch to the flow functions; plus the
// post-route point and the delay back-annotation file.

#include <algorithm>
#include <clocale>
#include <cmath>
#include <cstdio>
#include <string>

#include "cdb/cdb_atom_netlist.h"
#include "cfg/cfg.h"
#include "cmp/cmp_facade.h"
#include "fio/fio.h"
#include "gen/gen.h"
#include "msg/msg.h"

#include "mem_alloc_sys.h"
#include "morv/core/morv_api.h"
#include "morv/core/morv_assert.h"
#include "morv/core/morv_debug_stream.h"
#include "morv/core/morv_env.h"
#include "morv/core/morv_expert.h"
#include "morv/core/morv_msgs.h"
#include "morv/core/morv_scope_guard.h"
#include "morv/core/stats/morv_stats.h"
#include "morv/debug/morv_drc.h"
#include "morv/debug/morv_plumrix.h"
#include "morv/netlist/morv_nt.h"
#include "morv/netlist/morv_region_map.h"
#include "morv/timing/morv_timing.h"

namespace {
const char* const BANNER_LINE = "***************************************";

// Runs the flow with the numeric locale "C" and puts the caller's locale
// back however the flow ends (an internal error unwinds through here).
class MORV_NUMERIC_LOCALE_GUARD
{
public:
    MORV_NUMERIC_LOCALE_GUARD()
    {
        // The runtime may reuse the buffer it returns: copy before changing.
        const char* current = std::setlocale(LC_NUMERIC, nullptr);
        m_saved = current ? current : "C";
        std::setlocale(LC_NUMERIC, "C");
    }
    ~MORV_NUMERIC_LOCALE_GUARD() { restore(); }
    void restore()
    {
        if (m_restored) return;
        std::setlocale(LC_NUMERIC, m_saved.c_str());
        m_restored = true;
    }
    MORV_NUMERIC_LOCALE_GUARD(const MORV_NUMERIC_LOCALE_GUARD&) = delete;
    MORV_NUMERIC_LOCALE_GUARD& operator=(const MORV_NUMERIC_LOCALE_GUARD&) = delete;

private:
    std::string m_saved;
    bool m_restored = false;
};

void post_warning(MORV_MSG_ID id, bool io_only)
{
    if (!io_only) morv_send_msg(morv_new_msg(id));
}
}  // namespace

std::string MORV_EXPERT::get_target_for_flow(e_fsyn_flow fsyn_flow_id) const
{
    return fsyn_flow_id == CLUSTER_RETRY_FSYN_FLOW ? "fitting" : "speed";
}

bool MORV_EXPERT::do_physical_synthesis(e_fsyn_flow fsyn_flow_id)
{
    check_flow_id(fsyn_flow_id);

    if (fsyn_flow_id == BACK_ANNOTATE_FSYN_FLOW) {
        m_fsyn_flow_has_run[fsyn_flow_id] = true;
        back_annotate_delays();
        return true;
    }
    if (fsyn_flow_id == VERY_LATE_FSYN_FLOW) {
        if (cfg_is_on("very_late_fsyn", false)) return false;
        if (m_fsyn_api->is_plumrix_enabled() && m_fsyn_api->is_plumrix_dump_post_route()) {
            m_fsyn_flow_has_run[fsyn_flow_id] = true;
            show_post_route_netlist_to_tool_link();
            return true;
        }
    }

    const char* name = get_fsyn_flow_name(fsyn_flow_id);
    const std::string flow_name = name ? name : "";
    m_fsyn_api->forget_kardel_regions();

    if (fsyn_flow_id == CLUSTER_RETRY_FSYN_FLOW && m_fsyn_api->is_fsyn_write_log_required()) {
        morv_send_msg(morv_new_msg(MORV_MSG_WMORV_FSYN_CANNOT_RUN_NO_AREA_FSYN_FOR_MIGRATION_FLOW));
        return true;
    }

    const bool use_drc = cfg_is_on("fsyn_use_drc", false);
    if (use_drc) morv_drc_reference(m_fsyn_api.get(), flow_name.c_str());

    const std::string target = get_target_for_flow(fsyn_flow_id);
    morv_send_msg(new_msg_physical_synthesis_start(target.c_str()), m_fsyn_flat_flow);

    const double start_cpu = gen_get_sec_cpu();
    MORV_NUMERIC_LOCALE_GUARD numeric_locale;
    GEN_PROFILER flow_bin(flow_name.c_str());
    print_flow_banner(flow_name);

    MORV_ASSERT(m_fsyn_flow_is_enabled[fsyn_flow_id]);
    m_fsyn_api->dump_atom_netlist(".pre_" + flow_name);
    MORV_ASSERT(m_fsyn_api->check_bp_info());

    const bool ok = run_gated_flow(fsyn_flow_id);

    const int elapsed = static_cast<int>(gen_get_sec_cpu() - start_cpu + 0.5);
    MORV_DEBUG_STREAM::print(1, "FSYN elapsed cpu time: %d", elapsed);
    const std::string elapsed_text = gen_format_elapsed_time(elapsed);
    morv_send_msg(new_msg_physical_synthesis_end(target.c_str(), elapsed_text.c_str()), m_fsyn_flat_flow);

    numeric_locale.restore();

    if (use_drc) {
        if (ok) {
            MORV_DEBUG_STREAM::print(100, "***** FSYN SUCCESSFUL SO FAR. DOING DRC VERIFICATION *****");
            morv_drc_verify(m_fsyn_api.get(), flow_name.c_str());
        } else {
            MORV_DEBUG_STREAM::print(100, "***** FSYN UNSUCCESSFUL, DRC WILL NOT RUN *****");
        }
    }

    const bool result = m_morv_env->should_discard_fsyn_result() ? false : ok;
    if (fsyn_flow_id == LATE_FSYN_FLOW) forget_late_flow_state();
    return result;
}

void MORV_EXPERT::show_post_route_netlist_to_tool_link()
{
    m_morv_env->set_full_taint();
    m_fsyn_timing->sync_timing_netlist(false, true);
    m_fsyn_timing->rebuild_tdc_utility();
    m_morv_env->set_tdc_utility(m_fsyn_timing->get_tdc_utility());
    m_fsyn_timing->rebuild_tdc_utility();
    if (m_fsyn_plumrix->is_connected()) m_fsyn_plumrix->breakpoint("POST-ROUTE");
}

void MORV_EXPERT::print_flow_banner(const std::string& flow_name) const
{
    const char* mode_text = m_flow_type == FSYN_FLAT_FLOW ? "(FLAT MODE)" : "";
    MORV_DEBUG_STREAM::print(1, "%s", BANNER_LINE);
    MORV_DEBUG_STREAM::print(1, "%s", "");
    MORV_DEBUG_STREAM::print(1, "\t  Welcome to %s%sFSYN!!! %s", flow_name.c_str(), flow_name.empty() ? "" : "-",
                             mode_text);
    MORV_DEBUG_STREAM::print(1, "%s", "");
    MORV_DEBUG_STREAM::print(1, "%s", BANNER_LINE);
}

// The gate, the timing refresh and the flow function itself.
bool MORV_EXPERT::run_gated_flow(e_fsyn_flow fsyn_flow_id)
{
    bool ok = check_if_fsyn_flow_can_be_run();
    if (!ok) return false;
    if (!m_fsyn_api->refresh_timing_and_print_dont_touch_statistics()) {
        if (m_morv_env->should_discard_fsyn_result()) return false;
        morv_send_msg(morv_new_msg(MORV_MSG_WMORV_PHYSICAL_SYNTHESIS_SKIPPED_DUE_TO_TIMING_NETLIST));
        MORV_ASSERT(m_fsyn_api->check_bp_info());
        return true;
    }
    MORV_STATS_MGR* stats = m_fsyn_api->get_fsyn_stats();
    if (stats != nullptr) stats->delete_records();
    // The regions live for this flow only, also when it ends in an error.
    MORV_REGION_MAP* regions = m_fsyn_api->get_fsyn_region_map();
    regions->initialize(m_morv_env->get_atom_netlist());
    MORV_SCOPE_GUARD clear_regions([regions] { regions->clear(); });
    m_fsyn_timing->select_timing_mode(fsyn_flow_id);
    ok = run_flow_function(fsyn_flow_id);
    // SYN_EARLY hands on to the synthesis that follows it: no rebuild there.
    m_fsyn_timing->switch_to_tdc_mode(fsyn_flow_id != SYN_EARLY_FSYN_FLOW);
    clear_regions.run_now();
    if (stats != nullptr) stats->print_statistics();
    merge_migration_log();
    if (ok) MORV_ASSERT(m_fsyn_api->check_bp_info());
    return ok;
}

// The design sets a flow point's has-run flag as soon as the host calls it;
// here it is set where the flow function starts, past every gate. The host
// reports from the flags where physical synthesis ran, and a point the
// gates stopped (fast fit, no timing netlist, a migration's cluster retry)
// or one that had nothing to run (SYN_EARLY when the early flow is at
// FIT_EARLY, FIT_EARLY's timing refresh after it ran at SYN_EARLY) ran none.
bool MORV_EXPERT::run_flow_function(e_fsyn_flow fsyn_flow_id)
{
    switch (fsyn_flow_id) {
    case SYN_EARLY_FSYN_FLOW:
    case FIT_EARLY_FSYN_FLOW: {
        const e_fsyn_flow where = MORV_ENV::where_does_early_fsyn_run(m_morv_env->get_cmp());
        // After the early flow ran at SYN_EARLY, FIT_EARLY runs it again only for these.
        const bool again = m_algorithm_list[PIPE_ASYNC_ALGORITHM] || m_for_density;
        if (fsyn_flow_id != where && fsyn_flow_id != FIT_EARLY_FSYN_FLOW) return true;
        if (fsyn_flow_id != where && !again) return early_fsyn_esr_only_flow(FIT_EARLY_FSYN_FLOW);
        m_fsyn_flow_has_run[fsyn_flow_id] = true;
        return early_fsyn_flow(fsyn_flow_id);
    }
    case CLUSTER_RETRY_FSYN_FLOW: m_fsyn_flow_has_run[fsyn_flow_id] = true; return cluster_retry_fsyn_flow();
    case POST_CLUSTERING_FSYN_FLOW: m_fsyn_flow_has_run[fsyn_flow_id] = true; return post_clustering_fsyn_flow();
    case LATE_FSYN_FLOW: m_fsyn_flow_has_run[fsyn_flow_id] = true; return late_fsyn_flow();
    default: MSG_INTERNAL_ERROR::report("Invalid FSYN flow id.", "MORV", __FILE__, __LINE__);
    }
}

void MORV_EXPERT::forget_late_flow_state()
{
    reset_fsyn_chip_map();
    m_fsyn_api->get_fsyn_nt()->clear();
    m_fsyn_timing->clear_adjustment_factors();
    m_early_slack_ratios = MORV_MAKE_OWNER(MORV_EXPERT_SLACK_RATIO_MAP, 61);
}

bool MORV_EXPERT::check_if_fsyn_flow_can_be_run()
{
    bool can_run = false;
    if (can_any_fsyn_flow_run()) {
        bool pipe_async_only = true;
        bool skip_to_limited_mode = false;
        can_run = pass_flow_gate_checks(&pipe_async_only, &skip_to_limited_mode);
        if (!can_run && !skip_to_limited_mode) {
            if (pipe_async_only && m_algorithm_list[PIPE_ASYNC_ALGORITHM] && m_flow_type == FSYN_USER_OPTION_FLOW) {
                // Only the back-annotation test failed: asynchronous
                // pipelining alone may still run.
                for (int id = 0; id < ALGORITHM_END; ++id) m_algorithm_list[id] = false;
                m_algorithm_list[PIPE_ASYNC_ALGORITHM] = true;
                can_run = true;
            } else {
                for (int flow = 0; flow < NUM_FSYN_FLOWS; ++flow) m_fsyn_flow_is_enabled[flow] = false;
            }
        }
    } else {
        for (int flow = 0; flow < NUM_FSYN_FLOWS; ++flow) m_fsyn_flow_is_enabled[flow] = false;
    }

    CMP_FACADE* cmp = m_morv_env->get_cmp();
    if (cmp != nullptr && cmp->is_limited_fsyn_mode()) {
        for (int id = 0; id < ALGORITHM_END; ++id)
            if (id != PIPE_ASYNC_ALGORITHM && id != LIR_ALGORITHM) m_algorithm_list[id] = false;
    }

    MORV_DEBUG_STREAM::print(1, "FSYN FLOW can%s be run.", can_run ? "" : "not");
    return can_run;
}

// The host conditions under which no flow may run. pipe_async_only stays set
// when only the back-annotation test failed; skip_to_limited_mode is set when
// fast fit turned every flow off itself.
bool MORV_EXPERT::pass_flow_gate_checks(bool* pipe_async_only, bool* skip_to_limited_mode)
{
    bool can_run = true;
    CMP_FACADE* cmp = m_morv_env->get_cmp();
    MORV_ASSERT(cmp);
    const bool io_only = cmp->is_check_io_only();
    const bool no_replay_log = m_opx_physical_synthesis_read_log.empty();
    // Each of these also takes away the allowance for asynchronous pipelining.
    auto refuse = [&](const char* line) {
        can_run = false;
        *pipe_async_only = false;
        MORV_DEBUG_STREAM::print(1, "%s", line);
    };

    if (io_only) refuse("Fitter is running in Check I/O's only mode.  FSYN will not be run.");
    if (m_morv_env->get_boundary_port_manager() == nullptr && too_many_back_annotated_nodes(io_only)) can_run = false;
    if (m_fsyn_api->are_all_partitions_locked()) refuse("All partitions are locked post-fit!  FSYN will not be run");
    if (!m_morv_env->is_tdc_on() && no_replay_log) {
        refuse("FSYN detects tdc is not on.  FSYN will not be run.");
        post_warning(MORV_MSG_WMORV_CANNOT_RUN_FSYN_WHEN_TDC_IS_OFF, io_only);
    }
    if (m_morv_env->is_reusing_post_fit_netlist()) {
        refuse("FSYN detects re-using post-fitting netlists (Prevox, incremental Lumivex, ECO). FSYN will not be "
               "run.");
        post_warning(MORV_MSG_WMORV_CANNOT_RUN_FSYN_WHEN_USING_POST_FITTING_NETLISTS, io_only);
    }
    // Fast fit turns every flow off itself; the allowance no longer matters.
    if (m_morv_env->is_fast_fit_on() && no_replay_log) {
        can_run = false;
        MORV_DEBUG_STREAM::print(1, "FSYN detects that fast-fit is on.  FSYN will not be run.");
        post_warning(MORV_MSG_WMORV_CANNOT_RUN_FSYN_WHEN_FAST_FIT_IS_ON, io_only);
        for (int flow = 0; flow < NUM_FSYN_FLOWS; ++flow) m_fsyn_flow_is_enabled[flow] = false;
        *skip_to_limited_mode = true;
    }
    return can_run;
}

bool MORV_EXPERT::too_many_back_annotated_nodes(bool io_only)
{
    const float fraction = m_fsyn_api->get_back_annotated_fraction();
    MORV_DEBUG_STREAM::print(1, "%3.2f%%%% nodes are back annotated!", static_cast<double>(fraction) * 100.0);
    // Compared in the fraction's own precision so that exactly 80 % is not
    // taken for a little more.
    if (!(fraction > 0.8f)) return false;
    const int percent = static_cast<int>(std::lround(static_cast<double>(fraction) * 100.0));
    MORV_DEBUG_STREAM::print(1, "%d%%%% nodes are back annotated!  That is too many!  FSYN will not be run", percent);
    if (!m_TOO_MANY_BA_NODES_issued && !io_only) {
        m_TOO_MANY_BA_NODES_issued = true;
        morv_send_msg(new_msg_fsyn_cannot_run_too_many_ba_nodes(percent));
    }
    return true;
}

// The delay file helps the next compile and is not needed for this one: a
// write that fails (a full disk) is one warning, and never a partial file
// that the next compile would read as fewer connections.
void MORV_EXPERT::back_annotate_delays()
{
    CDB_ATOM_NETLIST* atom_netlist = m_morv_env->get_atom_netlist();
    MORV_ASSERT_TEXT(atom_netlist, "atom_netlist");
    FIO_REPLACING_FILE file;
    std::string error;
    // A place where no file can be made (a folder of that name, no
    // permission) is the user's to mend before the compile runs again.
    if (!file.open("fsyn_delays.txt", error)) {
        const size_t reason_at = error.find("': ");
        throw FIO_WRITE_ERROR("fsyn_delays.txt", reason_at == std::string::npos ? error : error.substr(reason_at + 3));
    }
    char line[160];
    for (auto it = atom_netlist->begin_node_list(); it != atom_netlist->end_node_list(); ++it) {
        CDB_ATOM_NODE* dest_node = *it;
        MORV_ASSERT_TEXT(dest_node, "dest_node");
        for (auto term = dest_node->begin_iterm(); term != dest_node->end_iterm(); ++term) {
            CDB_ATOM_ITERM* iterm = *term;
            CDB_ATOM_OTERM* source = iterm->get_source();
            if (!iterm->is_connected() || source == nullptr) continue;
            CDB_ATOM_NODE* source_node = source->get_my_node();
            const int length = std::snprintf(
                line, sizeof line, "%d ( %d %d ) -> %d ( %d %d ) = %d\n", static_cast<int>(source_node->get_id()),
                source->get_any_usage_as(), source->get_port_index(), static_cast<int>(dest_node->get_id()),
                iterm->get_any_usage_as(), iterm->get_port_index(), get_interconnection_delay_on_iterm(iterm));
            file.stream().write(line, std::min<std::streamsize>(length, static_cast<std::streamsize>(sizeof line) - 1));
        }
    }
    if (!file.commit(error)) morv_send_msg(morv_new_msg(MORV_MSG_WMORV_FSYN_DELAY_FILE_NOT_WRITTEN, error));
}

int MORV_EXPERT::get_interconnection_delay_on_iterm(CDB_ATOM_ITERM* iterm)
{
    MORV_ASSERT(iterm && iterm->is_connected());
    CDB_ATOM_NODE* node = iterm->get_my_node();
    MORV_ASSERT(node);
    // The host routes each connection as one hop between the LABs of its
    // two ends; an end that was never placed has no route and no delay.
    CDB_ATOM_OTERM* source = iterm->get_source();
    if (source == nullptr || source->get_my_node() == nullptr) return 0;
    const CDB_ATOM_NODE* source_node = source->get_my_node();
    if (source_node->get_lab_x() < 0 || source_node->get_lab_y() < 0 || node->get_lab_x() < 0 || node->get_lab_y() < 0)
        return 0;
    const double seconds = m_morv_env->get_routing_delay(source_node->get_lab_x(), source_node->get_lab_y(),
                                                         node->get_lab_x(), node->get_lab_y());
    return static_cast<int>(std::lround(seconds * 1e12));
}
