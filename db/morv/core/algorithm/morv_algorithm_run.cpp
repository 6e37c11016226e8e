// The pass and iteration run driver of every algorithm: passes of
// iterations, a sweep and a re-timing after each productive iteration, the
// best netlist kept by figure of merit, and the closing decision whether
// the run's result is kept at all.

#include <cstdio>
#include <string>

#include "cfg/cfg.h"
#include "gen/gen.h"
#include "msg/msg.h"

#include "morv/core/algorithm/morv_algorithm_base.h"
#include "morv/core/family/morv_family_traits.h"
#include "morv/core/morv_api.h"
#include "morv/core/morv_debug_stream.h"
#include "morv/core/morv_expert.h"
#include "morv/core/morv_msgs.h"
#include "morv/core/morv_scope_guard.h"
#include "morv/debug/morv_plumrix.h"
#include "morv/log/morv_log.h"
#include "morv/netlist/morv_netlist_sweeper.h"
#include "morv/netlist/morv_region_map.h"
#include "morv/timing/morv_timing.h"

int MORV_ALGORITHM_BASE::s_run_counter = 0;

namespace {

[[noreturn]] void driver_error(const char* text, int line)
{
    MSG_INTERNAL_ERROR::report(text, "MORV", __FILE__, line);
}

const char* const ASTERISKS_48 = "************************************************";
const char* const ASTERISKS_51 = "***************************************************";

// Seconds of wall-clock time between two progress messages.
const double PROGRESS_INTERVAL = 3600.0;

const char* flow_tag_of(const MORV_EXPERT* expert)
{
    if (expert == nullptr) return "LATE";
    if (expert->is_fsyn_running(SYN_EARLY_FSYN_FLOW)) return "SYN_EARLY";
    if (expert->is_fsyn_running(FIT_EARLY_FSYN_FLOW)) return "FIT_EARLY";
    if (expert->is_fsyn_running(POST_CLUSTERING_FSYN_FLOW)) return "PC";
    if (expert->is_fsyn_running(CLUSTER_RETRY_FSYN_FLOW)) return "CR";
    return "LATE";
}

bool first_running_flow_is_cluster_retry(const MORV_EXPERT* expert)
{
    if (expert == nullptr) return false;
    for (int flow = 0; flow < NUM_FSYN_FLOWS; ++flow)
        if (expert->is_fsyn_running(static_cast<e_fsyn_flow>(flow))) return flow == CLUSTER_RETRY_FSYN_FLOW;
    return false;
}

// Figures are rounded half up to whole picoseconds for the summary.
int rounded(double fom)
{
    return static_cast<int>(fom + 0.5);
}

void send(MSG_POST* msg, const MORV_EXPERT* expert)
{
    morv_send_msg(msg, expert != nullptr && expert->are_messages_suppressed());
}

}  // namespace

void MORV_ALGORITHM_BASE::save_initial_netlist()
{
    m_curr_best_netlist = m_fsyn_api->save_state();
    if (!(m_curr_best_netlist >= 0)) driver_error("m_curr_best_netlist >= 0", __LINE__);
    m_init_netlist = m_curr_best_netlist;
    m_init_fom = compute_figure_of_merit();
    m_best_fom = m_init_fom;
    m_judged_from_start = false;
    MORV_DEBUG_STREAM::print(1, "Initial FOM = %f", m_init_fom);
    MORV_DEBUG_STREAM::print(1, "Current netlist saved at %d", m_curr_best_netlist);
}

bool MORV_ALGORITHM_BASE::check_if_netlist_improved(bool placed)
{
    const double cur = compute_figure_of_merit();
    MORV_DEBUG_STREAM::print(1, "Current FOM = %f", cur);
    const int worst = placed ? compute_worst_slack() : m_best_worst_slack;
    if (!is_iteration_better(cur, worst, placed)) return false;
    m_best_fom = cur;
    m_best_worst_slack = worst;
    if (m_curr_best_netlist != m_init_netlist) m_fsyn_api->clear_state(m_curr_best_netlist);
    m_curr_best_netlist = m_fsyn_api->save_state();
    if (!(m_curr_best_netlist > 0)) driver_error("m_curr_best_netlist > 0", __LINE__);
    return true;
}

// After placement, a pass of one iteration timed on its placement is judged
// as a placed pass is, worst slack first: the worst slack is the clock the
// design reaches, and judged by its figure the iteration, and so the pass,
// would be undone before the pass could be judged. The iterations of a longer
// pass keep to the figure of merit, which picks the netlist the pass ends on:
// measured on the bench designs, picking by worst slack there leaves later
// algorithms a netlist with more paths near the worst one, which they
// improve less.
bool MORV_ALGORITHM_BASE::is_iteration_better(double fom, int worst, bool placed) const
{
    if (!placed) return fom >= m_best_fom + m_fom_to_accept;
    MORV_DEBUG_STREAM::print(1, "Current worst slack = %d, best worst slack = %d", worst, m_best_worst_slack);
    return is_placed_result_kept(fom, worst, m_best_fom, m_best_worst_slack, m_fom_to_accept);
}

int MORV_ALGORITHM_BASE::sweep_family_netlist(MORV_API* api)
{
    if (morv_family_traits(api->get_base_family_code()).m_make_sweeper == nullptr)
        driver_error("Unsupported family", __LINE__);
    return morv_make_netlist_sweeper(api)->sweep();
}

void MORV_ALGORITHM_BASE::run_netlist_sweeper()
{
    const int operations = sweep_family_netlist(m_fsyn_api);
    MORV_DEBUG_STREAM::print(2, "Netlist sweeper performed %d operations", operations);
    m_fsyn_api->debug_checkpoint(__FILE__, __LINE__);
}

void MORV_ALGORITHM_BASE::print_summary()
{
    MORV_DEBUG_STREAM::print(1, "***************** %s Summary *******************", get_short_name().c_str());
    MORV_DEBUG_STREAM::print(1, "Initial FOM    = %f", m_init_fom);
    MORV_DEBUG_STREAM::print(1, "Final best FOM = %f", m_best_fom);
    MORV_DEBUG_STREAM::print(1, "%s", ASTERISKS_51);
}

struct MORV_ALGORITHM_BASE::RUN_STATE
{
    std::string short_name;
    const char* name = nullptr;
    MORV_EXPERT* expert = nullptr;
    const char* flow_tag = nullptr;
    bool late_running = false;
    // The experimental timing path of the LATE flow.
    bool late_xicp = false;
    int start_le_count = 0;
    int start_ff_count = 0;
    bool iter_netlist_dump = false;
    bool fail_if_icp_fails = false;
    std::string post_suffix;
    // Profiler section names, built once rather than per pass and iteration.
    std::string pass_section;
    std::string iter_section;
    double last_progress = 0;
    int total_ops = 0;
};

bool MORV_ALGORITHM_BASE::run_algorithm()
{
    RUN_STATE run;
    run.short_name = get_short_name();
    run.name = run.short_name.c_str();
    GEN_PROFILER run_section(run.name);
    prepare_run(run);
    m_curr_pass = 0;
    while (m_curr_pass < m_num_passes) {
        if (m_fsyn_api->fsyn_debug_stopped() || is_fom_close_to_optimal()) break;
        if (run_pass(run)) break;
        ++m_curr_pass;
    }
    finish_run(run);
    return true;
}

void MORV_ALGORITHM_BASE::prepare_run(RUN_STATE& run)
{
    run.expert = m_fsyn_api->get_fsyn_expert();
    MORV_DEBUG_STREAM::print(1, "Starting FSYN %s", run.name);
    send(new_msg_physical_synthesis_algo_start(get_description().c_str()), run.expert);

    run.flow_tag = flow_tag_of(run.expert);
    run.late_running = run.expert != nullptr && run.expert->is_fsyn_running(LATE_FSYN_FLOW);
    run.late_xicp = run.expert != nullptr && run.expert->use_xicp() && run.late_running;
    run.start_le_count = m_fsyn_api->get_used_le_count();
    run.start_ff_count = m_fsyn_api->get_used_ff_count();
    run.iter_netlist_dump = cfg_is_on("fsyn_enable_iter_netlist_dump", false);

    run.post_suffix = morv_sprintf(".%d_post_%s_%s", s_run_counter, run.flow_tag, run.name);
    m_fsyn_api->dump_atom_netlist(morv_sprintf(".%d_pre_%s_%s", s_run_counter, run.flow_tag, run.name));

    m_timing_snapshot_missed = false;
    m_fsyn_timing->set_keep_timing_snapshots(m_use_timing_snapshots);
    save_initial_netlist();
    m_started_placed = run.late_running;
    if (m_started_placed) m_init_worst_slack = compute_worst_slack();
    m_best_worst_slack = m_init_worst_slack;

    set_default_algorithm_parameters(m_num_passes, m_icp_at_end, m_fom_to_accept, m_restore_netlist);
    MORV_DEBUG_STREAM::print(1, "Algorithm %s Parameters:", run.name);
    MORV_DEBUG_STREAM::print(1, "NP: %d", m_num_passes);
    MORV_DEBUG_STREAM::print(1, "ICP_AT_END: %s", m_icp_at_end == 1 ? "YES" : "NO");
    MORV_DEBUG_STREAM::print(1, "FOM (to accept): %g", m_fom_to_accept);
    MORV_DEBUG_STREAM::print(1, "RESTORE_NETLIST (if icp worse): %s", m_restore_netlist == 1 ? "YES" : "NO");
    print_behaviors();

    // An algorithm that asks for it starts the experimental timing path of
    // the LATE flow from the virtual analysis, with corrections learned now.
    if (run.late_xicp && xicp_run_init_virtual_icp_tan()) {
        m_fsyn_timing->create_adjustment_factors();
        m_fsyn_timing->perform_virtual_icp_timing_analysis();
    }
    switch_incremental_estimator(run);

    run.fail_if_icp_fails = cfg_is_on("fsyn_fail_if_icp_fails", false);
    run.pass_section = run.short_name + " pass";
    run.iter_section = run.short_name + " iteration";
    run.last_progress = gen_get_sec_wallclock();
    run.total_ops = 0;
}

// In the early flows of the new timing flow the incremental estimator
// serves the algorithms that ask for it; a switch either way re-times in
// full. A flow timed by the timing estimator has nothing for it to work on:
// it stays off there, and the timing costs nothing extra. Outside the new
// timing flow the switch is left aside, and the user is told so.
void MORV_ALGORITHM_BASE::switch_incremental_estimator(const RUN_STATE& run)
{
    if (run.expert == nullptr || !run.expert->is_fsyn_running_early_fsyn()) return;
    if (!m_use_new_timing_flow) {
        if (m_enable_ite && use_itest()) m_fsyn_timing->refuse_itest_without_new_timing_flow();
        return;
    }
    const bool wanted = m_enable_ite && use_itest() && m_fsyn_timing->can_use_itest();
    if (wanted == m_fsyn_timing->is_itest_enabled()) return;
    m_fsyn_timing->set_use_itest(wanted);
    m_fsyn_timing->request_full_update();
    (void)m_fsyn_api->run_timing_analysis(true, false, 1.0, false, false, false);
}

bool MORV_ALGORITHM_BASE::run_timing(const RUN_STATE& run, bool full, bool second, double multiplier, bool fourth,
                                     bool fifth, bool sixth)
{
    const bool icp_ok = m_fsyn_api->run_timing_analysis(full, second, multiplier, fourth, fifth, sixth);
    if (run.fail_if_icp_fails && !icp_ok) driver_error("icp_ok", __LINE__);
    return icp_ok;
}

// The design lets every restore with the switch on skip the timing. A
// netlist the run timed with the analyser, or changed after its last
// estimate before saving it, has no snapshot here: it is timed again, as
// without the switch, and the log says so once per run.
bool MORV_ALGORITHM_BASE::is_answered_by_timing_snapshot()
{
    if (!m_use_timing_snapshots) return false;
    if (m_fsyn_timing->is_using_timing_snapshot()) return true;
    if (!m_timing_snapshot_missed) {
        m_timing_snapshot_missed = true;
        MORV_DEBUG_STREAM::print(1, "No timing snapshot answers for the restored netlist; timing it again");
    }
    return false;
}

// The host's restore consumes a saved state; dropping it here as well keeps a
// restore that only copies from leaving states behind.
void MORV_ALGORITHM_BASE::restore_and_drop(int save_id)
{
    m_fsyn_api->restore_state(save_id);
    m_fsyn_api->clear_state(save_id);
}

bool MORV_ALGORITHM_BASE::run_pass(RUN_STATE& run)
{
    GEN_PROFILER pass_profile(run.pass_section.c_str());
    m_num_iters = m_given_num_iters;
    m_hill_climb_iters = m_given_hill_climb_iters;
    set_default_pass_parameters(m_curr_pass, m_num_iters, m_hill_climb_iters);
    MORV_DEBUG_STREAM::print(1, "Pass %d Parameters:", m_curr_pass);
    MORV_DEBUG_STREAM::print(1, "NI: %d", m_num_iters);
    MORV_DEBUG_STREAM::print(1, "HCI: %d", m_hill_climb_iters);
    MORV_DEBUG_STREAM::print(1, "HC_CUT: %d", m_hill_climb_cut);
    MORV_DEBUG_STREAM::print(1, "SRT: %f", m_slack_ratio_threshold);
    MORV_DEBUG_STREAM::print(1, "EFFORT: %f", static_cast<double>(m_effort));

    m_curr_iter = 0;
    bool keep_going = true;
    int worse = 0;
    save_pass_start();
    const int ops_before = run.total_ops;
    while (m_curr_iter < m_num_iters && keep_going) keep_going = run_iteration(run, worse);

    MORV_DEBUG_STREAM::print(1, "Pass %d is terminated", m_curr_pass);
    const bool last = end_pass(run, worse, run.total_ops - ops_before);
    finish_pass();
    return last;
}

bool MORV_ALGORITHM_BASE::run_iteration(RUN_STATE& run, int& worse)
{
    MORV_DEBUG_STREAM::print(1, "%s", ASTERISKS_48);
    MORV_DEBUG_STREAM::print(1, "%s(%d) running Pass %d Iter %d", run.name, s_run_counter, m_curr_pass, m_curr_iter);
    MORV_DEBUG_STREAM::print(1, "%s", ASTERISKS_48);
    const double now = gen_get_sec_wallclock();
    if (now - run.last_progress >= PROGRESS_INTERVAL) {
        run.last_progress = now;
        send(new_msg_physical_synthesis_algo_progress(get_description().c_str(), m_curr_pass + 1, m_num_passes,
                                                      m_curr_iter + 1, m_num_iters),
             run.expert);
    }

    // The occupied-location grid lives for one iteration in the families
    // that keep it, so that it never describes an older placement.
    const bool keeps_grid = morv_family_traits(m_fsyn_api->get_base_family_code()).m_occupied_location_grid;
    if (keeps_grid) m_fsyn_api->init_occupied_location_grid();
    MORV_SCOPE_GUARD free_grid([this, keeps_grid] {
        if (keeps_grid) m_fsyn_api->free_occupied_location_grid();
    });
    m_fsyn_api->debug_checkpoint(__FILE__, __LINE__);
    m_fsyn_api->get_fsyn_region_map()->recount_region_contents(m_fsyn_api->get_atom_netlist());
    int ops = 0;
    {
        GEN_PROFILER iter_profile(run.iter_section.c_str());
        ops = do_iter();
    }
    free_grid.run_now();
    if (!m_fsyn_api->check_bp_info()) driver_error("m_fsyn_api->check_bp_info()", __LINE__);
    m_fsyn_api->debug_checkpoint(__FILE__, __LINE__);
    MORV_DEBUG_STREAM::print(0, "do_iter: alg=%s, pass=%d, iter=%d, ops=%d", run.name, m_curr_pass, m_curr_iter, ops);

    const bool keep_going = ops != 0 && judge_productive_iteration(run, worse);

    if (m_fsyn_api->is_plumrix_enabled() && m_fsyn_api->is_plumrix_dump_every_iteration()) {
        const std::string tag =
            morv_plx_breakpoint_name("POST-%s_%d_%d", run.short_name.c_str(), m_curr_pass, m_curr_iter);
        MORV_PLUMRIX* plx = run.expert != nullptr ? run.expert->get_fsyn_plumrix() : nullptr;
        if (plx == nullptr) driver_error("plx", __LINE__);
        if (plx->is_connected()) plx->breakpoint(tag.c_str());
    }

    if (run.iter_netlist_dump)
        m_fsyn_api->dump_atom_netlist(
            morv_sprintf(".%d_%d_%d_post_%s_%s", s_run_counter, m_curr_pass, m_curr_iter, run.flow_tag, run.name));

    MORV_DEBUG_STREAM::print(1, "Algorithm %s end of pass %d iter %d (ops %d) (code %s) (FOM %s) %d", run.name,
                             m_curr_pass, m_curr_iter, ops, keep_going ? "CONTINUE" : "TERMINATE",
                             worse == 0 ? "BETTER" : "WORSE", worse);
    MORV_DEBUG_STREAM::print(1, "%s", ASTERISKS_48);
    run.total_ops += ops;
    ++m_curr_iter;
    return keep_going;
}

// The iteration's records go into the current chunk, so that a snapshot
// taken next starts from an empty pending log.
void MORV_ALGORITHM_BASE::write_pending_log_entries()
{
    if (!m_fsyn_api->is_fsyn_write_log_required()) return;
    MORV_LOG* log = m_fsyn_api->get_fsyn_log();
    if (log == nullptr) driver_error("m_fsyn_log", __LINE__);
    log->write_pending_entries();
}

bool MORV_ALGORITHM_BASE::judge_productive_iteration(RUN_STATE& run, int& worse)
{
    if (!cfg_is_on("fsyn_disable_netlist_sweeper", false) && m_fsyn_api->is_netlist_sweeper_enabled()) {
        GEN_PROFILER sweep_profile("Netlist sweeper");
        run_netlist_sweeper();
        if (!m_fsyn_api->check_bp_info()) driver_error("m_fsyn_api->check_bp_info()", __LINE__);
    } else {
        MORV_DEBUG_STREAM::print(1, "Netlist sweeper is disabled for all algorithms");
    }
    const bool per_iteration = m_icp_at_end != 1;
    bool ok = true;
    if (per_iteration || m_num_iters > 1)
        ok = run_timing(run, per_iteration, per_iteration, m_effort, false, per_iteration, false);
    write_pending_log_entries();
    bool keep_going = true;
    if (!ok) {
        worse = -1;
        keep_going = false;
    } else if (check_if_netlist_improved(per_iteration && m_num_iters == 1 && is_judged_by_worst_slack())) {
        worse = 0;
    } else {
        ++worse;
        keep_going = worse < m_hill_climb_iters;
        if (m_hill_climb_cut != -1 && m_hill_climb_cut <= m_curr_iter) {
            MORV_DEBUG_STREAM::print(2, "HC_CUT triggered");
            keep_going = false;
        }
    }
    if (is_fom_close_to_optimal()) keep_going = false;
    return keep_going;
}

bool MORV_ALGORITHM_BASE::end_pass(RUN_STATE& run, int worse, int pass_ops)
{
    bool last = m_curr_pass == m_num_passes - 1;
    // At a debug stop the checkpoint's netlist becomes the best one; a stop
    // that saved none (-1) keeps the netlist as it is.
    const bool stopped = m_fsyn_api->fsyn_debug_stopped();
    const int checkpoint_id = stopped ? m_fsyn_api->get_debug_checkpoint_save_id() : -1;
    if (checkpoint_id >= 0) {
        if (m_curr_best_netlist != m_init_netlist) m_fsyn_api->clear_state(m_curr_best_netlist);
        m_curr_best_netlist = checkpoint_id;
        MORV_DEBUG_STREAM::print(100, "DEBUG: Restoring netlist from checkpoint!");
    }
    const bool best_is_initial = m_init_netlist == m_curr_best_netlist;
    bool restored = false;
    if (stopped ? checkpoint_id >= 0 : worse != 0) {
        restore_and_drop(m_curr_best_netlist);
        restored = true;
        m_curr_best_netlist = m_fsyn_api->save_state();
        if (best_is_initial) m_init_netlist = m_curr_best_netlist;
        if (!(m_curr_best_netlist > 0)) driver_error("m_curr_best_netlist > 0", __LINE__);
    }
    if (stopped) run_netlist_sweeper();

    bool ok = true;
    if (restored || (run.total_ops > 0 && m_icp_at_end == 1)) {
        const bool full = run.late_xicp || (last && m_icp_at_end == 1 && !best_is_initial);
        const bool fourth = run.late_xicp || full || m_icp_at_end != 1;
        const bool fifth = m_reg_pack && full;
        bool use_snapshot = restored && is_answered_by_timing_snapshot();
        if (run.late_running) use_snapshot = use_snapshot && !full;
        if (use_snapshot) MORV_DEBUG_STREAM::print(1, "Skipping ICP/timing analysis; using timing snapshot on restore");
        else ok = run_timing(run, full, full, m_effort, false, fourth, fifth);
    }
    if (ok && !stopped && pass_ops > 0 && m_pass_start_netlist >= 0) ok = keep_or_restore_pass_start(run);
    drop_pass_start();

    if (!last && is_fom_close_to_optimal()) {
        if (m_icp_at_end == 1 && !best_is_initial) ok = run_timing(run, true, true, m_effort, false, true, m_reg_pack);
        last = true;
    }
    if (last || stopped) keep_or_restore_initial(run, ok);
    return last;
}

void MORV_ALGORITHM_BASE::save_pass_start()
{
    if (!m_judge_passes_after_placement || m_icp_at_end != 1 || m_restore_netlist != 1) return;
    m_pass_start_netlist = m_fsyn_api->save_state();
    if (!(m_pass_start_netlist >= 0)) driver_error("m_pass_start_netlist >= 0", __LINE__);
    m_pass_start_fom = compute_figure_of_merit();
    m_pass_start_worst_slack = compute_worst_slack();
    if (m_curr_pass == 0) {
        m_judged_from_start = true;
        m_init_worst_slack = m_pass_start_worst_slack;
    }
}

void MORV_ALGORITHM_BASE::drop_pass_start()
{
    if (m_pass_start_netlist >= 0) m_fsyn_api->clear_state(m_pass_start_netlist);
    m_pass_start_netlist = -1;
}

// The iterations kept the netlist whose estimate was best, but the estimate
// does not see where the placement puts what they added. The worst slack
// is judged first because it alone sets the clock the design reaches: a
// pass that raises it is a faster circuit even when slack elsewhere paid for
// it, and one that lowers it is slower whatever the figure of merit says.
// Only at an equal worst slack does the figure of merit decide.
bool MORV_ALGORITHM_BASE::is_placed_result_kept(double fom, int worst, double start_fom, int start_worst,
                                                double fom_margin)
{
    if (worst != start_worst) return worst > start_worst;
    return fom >= start_fom + fom_margin;
}

bool MORV_ALGORITHM_BASE::keep_or_restore_pass_start(const RUN_STATE& run)
{
    const double fom = compute_figure_of_merit();
    const int worst = compute_worst_slack();
    MORV_DEBUG_STREAM::print(1, "!!! check pass %d after placement: fom=%0.3f start_fom=%0.3f worst=%d start_worst=%d",
                             m_curr_pass, fom, m_pass_start_fom, worst, m_pass_start_worst_slack);
    if (is_placed_result_kept(fom, worst, m_pass_start_fom, m_pass_start_worst_slack, 0.0)) {
        MORV_DEBUG_STREAM::print(1, "!!!    keeping pass %d", m_curr_pass);
        // Later iterations must beat what the placement gave, not the estimate.
        m_best_fom = fom;
        return true;
    }
    MORV_DEBUG_STREAM::print(1, "!!!    restoring the netlist pass %d started from", m_curr_pass);
    restore_and_drop(m_pass_start_netlist);
    m_pass_start_netlist = -1;
    if (m_curr_best_netlist != m_init_netlist) m_fsyn_api->clear_state(m_curr_best_netlist);
    m_curr_best_netlist = m_fsyn_api->save_state();
    if (!(m_curr_best_netlist > 0)) driver_error("m_curr_best_netlist > 0", __LINE__);
    m_best_fom = m_pass_start_fom;
    if (is_answered_by_timing_snapshot()) {
        MORV_DEBUG_STREAM::print(1, "Skipping ICP/timing analysis; using timing snapshot on restore");
        return true;
    }
    return run_timing(run, run.late_xicp, run.late_xicp, 1.0, false, true, false);
}

// A run whose passes were judged after placement is judged the same way at
// its end: each kept pass raised the worst slack or, at an equal one, the
// figure of merit, and a figure-of-merit test alone would undo a run that
// made the circuit faster. So is any run after placement that asks for a
// gain: there the placed worst slack is the clock the design reaches, and
// the figure of merit also sums the slack of other clocks and of the I/O,
// which a run can raise while it slows the design down. A run that accepts
// a loss (a negative margin) is kept for what it does, not for its timing.
bool MORV_ALGORITHM_BASE::is_judged_by_worst_slack() const
{
    return m_judged_from_start || (m_started_placed && m_fom_to_accept >= 0.0);
}

bool MORV_ALGORITHM_BASE::is_initial_beaten(double fom)
{
    if (!is_judged_by_worst_slack()) return fom >= m_init_fom + m_fom_to_accept;
    const int worst = compute_worst_slack();
    MORV_DEBUG_STREAM::print(1, "!!! worst slack %d, initial worst slack %d", worst, m_init_worst_slack);
    return is_placed_result_kept(fom, worst, m_init_fom, m_init_worst_slack, m_fom_to_accept);
}

void MORV_ALGORITHM_BASE::keep_or_restore_initial(const RUN_STATE& run, bool timing_ok)
{
    bool restore_initial = false;
    if (!timing_ok) {
        MORV_DEBUG_STREAM::print(1, "!!!    ICP failed, restoring initial netlist");
        m_best_fom = m_init_fom;
        restore_initial = true;
    } else {
        const double cur = compute_figure_of_merit();
        MORV_DEBUG_STREAM::print(1, "!!! check if restore initial netlist: curr_fom=%0.3f init_fom=%0.3f", cur,
                                 m_init_fom);
        if (!is_initial_beaten(cur) && m_restore_netlist == 1) {
            MORV_DEBUG_STREAM::print(1, "!!!    restoring initial netlist");
            m_best_fom = m_init_fom;
            restore_initial = true;
        } else {
            MORV_DEBUG_STREAM::print(1, "!!!    NOT restoring initial netlist");
            m_best_fom = cur;
            if (m_init_netlist != m_curr_best_netlist) m_fsyn_api->clear_state(m_init_netlist);
            m_init_netlist = -1;
        }
    }
    if (!restore_initial) return;
    if (m_fsyn_api->fsyn_debug_stopped()) {
        // The stop keeps the netlist of the checkpoint.
        if (m_init_netlist != m_curr_best_netlist) m_fsyn_api->clear_state(m_init_netlist);
        m_init_netlist = -1;
        return;
    }
    restore_and_drop(m_init_netlist);
    // The best netlist may be the initial one; it is consumed with it.
    if (m_curr_best_netlist == m_init_netlist) m_curr_best_netlist = -1;
    m_init_netlist = -1;
    if (is_answered_by_timing_snapshot()) {
        MORV_DEBUG_STREAM::print(1, "Skipping ICP/timing analysis; using timing snapshot on restore part 2");
        return;
    }
    const bool icp_ok = m_fsyn_api->run_timing_analysis(run.late_xicp, run.late_xicp, 1.0, false, true, false);
    if (!icp_ok) driver_error("icp_ok", __LINE__);
}

void MORV_ALGORITHM_BASE::finish_run(const RUN_STATE& run)
{
    drop_pass_start();
    finish_algorithm();
    m_fsyn_timing->set_use_itest(false);
    // Only the run's own restores go untimed; the flows time theirs.
    m_fsyn_timing->set_keep_timing_snapshots(false);
    if (m_init_netlist >= 0) m_fsyn_api->clear_state(m_init_netlist);
    if (m_curr_best_netlist >= 0 && m_curr_best_netlist != m_init_netlist) m_fsyn_api->clear_state(m_curr_best_netlist);
    m_init_netlist = -1;
    m_curr_best_netlist = -1;
    print_summary();
    m_fsyn_api->dump_atom_netlist(run.post_suffix);

    int improvement = static_cast<int>(m_best_fom - m_init_fom + 0.5);
    if (improvement < 0) improvement = 0;
    MORV_DEBUG_STREAM::print(1, "FSYN Algo %s Estimated Slack Improvement: (%d - %d) = %d ps", run.name,
                             rounded(m_best_fom), rounded(m_init_fom), improvement);

    MSG_I* msg_i_algo_end = nullptr;
    const std::string description = get_description();
    if (!reports_estimated_improvement()) {
        msg_i_algo_end = new_msg_physical_synthesis_algo_end_short(description.c_str());
    } else if (first_running_flow_is_cluster_retry(run.expert)) {
        int le_reduction = run.start_le_count - m_fsyn_api->get_used_le_count();
        int ff_reduction = run.start_ff_count - m_fsyn_api->get_used_ff_count();
        if (le_reduction < 0) le_reduction = 0;
        if (ff_reduction < 0) ff_reduction = 0;
        msg_i_algo_end = new_msg_physical_synthesis_algo_end_area(description.c_str(), le_reduction, ff_reduction);
    } else {
        msg_i_algo_end = new_msg_physical_synthesis_algo_end_slack(description.c_str(), improvement);
    }
    if (msg_i_algo_end == nullptr) driver_error("msg_i_algo_end", __LINE__);
    send(msg_i_algo_end, run.expert);

    MORV_DEBUG_STREAM::print(1, "Exitting FSYN %s", run.name);
    ++s_run_counter;
}
