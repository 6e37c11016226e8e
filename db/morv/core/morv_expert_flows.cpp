// The flow functions: for each flow point the host calls, prepare netlist
// and timing, build and run the run list of the flow mode, and clean up.

#include <string>

#include "cdb/cdb_atom_netlist.h"
#include "cfg/cfg.h"
#include "cmp/cmp_facade.h"
#include "msg/msg.h"

#include "morv/core/algorithm/morv_algorithm_base.h"
#include "morv/core/family/morv_family_traits.h"
#include "morv/core/morv_api.h"
#include "morv/core/morv_debug_stream.h"
#include "morv/core/morv_env.h"
#include "morv/core/morv_expert.h"
#include "morv/core/morv_msgs.h"
#include "morv/core/stats/morv_qor_stats.h"
#include "morv/log/morv_log.h"
#include "morv/netlist/morv_legalizer.h"
#include "morv/timing/morv_timing.h"

namespace {

[[noreturn]] void flow_error(const char* text, int line)
{
    MSG_INTERNAL_ERROR::report(text, "MORV", __FILE__, line);
}

}  // namespace

MORV_EXPERT::FLOW_SPAN::FLOW_SPAN(MORV_EXPERT& expert, e_fsyn_flow fsyn_flow_id, bool tells_host)
    : m_expert(expert), m_flow(fsyn_flow_id), m_host_told(!tells_host)
{
    m_expert.m_fsyn_flow_is_running[m_flow] = true;
}

MORV_EXPERT::FLOW_SPAN::~FLOW_SPAN()
{
    stop_running();
    if (m_host_told) return;
    // Only reached while an exception unwinds: that exception is the one the
    // host must see, not one the notification might raise.
    try {
        end_flow();
    } catch (...) {}
}

void MORV_EXPERT::FLOW_SPAN::stop_running()
{
    m_expert.m_fsyn_flow_is_running[m_flow] = false;
}

void MORV_EXPERT::FLOW_SPAN::end_flow()
{
    m_host_told = true;
    m_expert.m_morv_env->end_of_fsyn_flow();
}

void MORV_EXPERT::write_migration_log_start()
{
    if (!m_fsyn_api->is_fsyn_write_log_required()) return;
    MORV_LOG* log = m_fsyn_api->get_fsyn_log();
    if (log == nullptr) flow_error("m_fsyn_log", __LINE__);
    log->set_max_node_id_at_start(static_cast<int32_t>(CDB_ATOM_NODE::s_next_id) - 1);
    // The last merge took every chunk: this flow writes into a new one.
    log->ensure_open_chunk();
    // Edits announced between flows are written before this flow's records.
    if (log->get_pending_entry_count() != 0) log->write_pending_entries();
    MORV_DEBUG_STREAM::print(2, "Migration log: revision entry %u", MORV_LOG::peek_entry_id());
    log->write_marker(LOGDB_FSYN_LOG_OPERATION_REVISION_NUMBER);
}

void MORV_EXPERT::write_migration_log_end()
{
    if (!m_fsyn_api->is_fsyn_write_log_required()) return;
    MORV_LOG* log = m_fsyn_api->get_fsyn_log();
    if (log == nullptr) flow_error("m_fsyn_log", __LINE__);
    // Edits made outside an algorithm's iterations (the flow's own sweeps and
    // legalisation) belong to this flow too.
    if (log->get_pending_entry_count() != 0) log->write_pending_entries();
    MORV_DEBUG_STREAM::print(2, "Migration log: end-of-log entry %u", MORV_LOG::peek_entry_id());
    log->write_marker(LOGDB_FSYN_LOG_OPERATION_END_OF_LOG);
    log->get_log_file()->close();
}

void MORV_EXPERT::merge_migration_log()
{
    if (!m_fsyn_api->is_fsyn_write_log_required()) return;
    MORV_LOG* log = m_fsyn_api->get_fsyn_log();
    if (log == nullptr) flow_error("m_fsyn_log", __LINE__);
    log->merge_log_files(migration_log_name());
    MORV_LOG::delete_chunk_files();
}

std::string MORV_EXPERT::migration_log_name() const
{
    std::string final_name = "db/";
    final_name += m_morv_env->get_cmp()->get_compile_base_name();
    final_name += ".cmp.psl";
    return final_name;
}

bool MORV_EXPERT::early_fsyn_flow(e_fsyn_flow fsyn_flow_id)
{
    FLOW_SPAN span(*this, fsyn_flow_id, true);
    m_fsyn_api->reset_fsyn_chip_map(true);

    write_migration_log_start();
    if (m_fsyn_api->is_fsyn_write_log_required()) {
        MORV_DEBUG_STREAM::print(2, "Migration log: pre-placement entry %u", MORV_LOG::peek_entry_id());
        m_fsyn_api->get_fsyn_log()->write_marker(LOGDB_FSYN_LOG_OPERATION_PRE_PLACEMENT_FLOW);
    }

    m_morv_env->set_full_taint();
    m_morv_env->build_timing_netlist(m_fsyn_timing, false, true, true, false, true, true);
    if (morv_family_traits(m_fsyn_api->get_base_family_code()).m_chle_lib) {
        MORV_DEBUG_STREAM::print(1, "*** Initializing chle lib ***");
        m_morv_env->initialize_chle_lib();
    }
    (void)m_fsyn_api->run_timing_analysis(true, false, 1.0, false, false, false);
    if (m_sweeper_only) {
        run_netlist_sweeper();
        (void)m_fsyn_api->run_timing_analysis(true, false, 1.0, false, false, false);
    }

    const bool allowed = tune_stability_threshold();
    MORV_QOR_STAT_MGR* qor = m_fsyn_api->dump_qor_stats() ? m_fsyn_api->get_fsyn_qor_stat_mgr() : nullptr;
    if (qor != nullptr) qor->begin_early_flow(fsyn_flow_id == SYN_EARLY_FSYN_FLOW);

    bool result = true;
    if (allowed) {
        switch (m_flow_type) {
        case FSYN_USER_OPTION_FLOW:
            save_early_fsyn_netlist();
            run_fsyn_user_option_flow(fsyn_flow_id);
            break;
        case FSYN_TEST_STRING_FLOW:
            save_early_fsyn_netlist();
            run_fsyn_test_string_flow(fsyn_flow_id);
            break;
        case FSYN_REPLAY_LOG_FLOW:
            save_early_fsyn_netlist();
            if (MORV_LOG* log = m_fsyn_api->get_fsyn_log())
                log->set_max_node_id_at_start(static_cast<int32_t>(CDB_ATOM_NODE::s_next_id) - 1);
            result = run_fsyn_replay_log_flow();
            break;
        case FSYN_SWEEPER_ONLY_FLOW: break;
        case FSYN_DEFAULT_LIR_FLOW: run_fsyn_default_lir_flow(); break;
        case FSYN_TUNE_STRINGS_FLOW:
            save_early_fsyn_netlist();
            run_fsyn_tune_string_flow(fsyn_flow_id);
            break;
        case FSYN_FLAT_FLOW: run_fsyn_flat_flow(fsyn_flow_id); break;
        default: flow_error("Unrecognized FSYN flow", __LINE__);
        }
    }

    if (m_flow_type != FSYN_REPLAY_LOG_FLOW) m_fsyn_api->store_slack_ratios(m_early_slack_ratios.get());
    write_migration_log_end();
    if (qor != nullptr) qor->end_early_flow();
    span.stop_running();

    // Slacks answered from a stored timing snapshot would outlive the flow
    // that took it; the next flow must start from a real analysis.
    if (m_fsyn_timing->is_using_timing_snapshot()) {
        MORV_DEBUG_STREAM::print(1, "Forcing rebuild and timing analysis prior to quitting Early-FSYN, since we're "
                                    "currently using a cache.");
        m_fsyn_timing->end_timing_snapshot();
    }
    m_fsyn_api->reset_fsyn_chip_map(false);
    span.end_flow();
    return result;
}

bool MORV_EXPERT::early_fsyn_esr_only_flow(e_fsyn_flow fsyn_flow_id)
{
    if (m_flow_type == FSYN_REPLAY_LOG_FLOW) flow_error("m_flow_type != FSYN_REPLAY_LOG_FLOW", __LINE__);
    if (fsyn_flow_id != FIT_EARLY_FSYN_FLOW) flow_error("fsyn_flow_id == FIT_EARLY_FSYN_FLOW", __LINE__);
    FLOW_SPAN span(*this, fsyn_flow_id, false);
    m_morv_env->set_full_taint();
    m_morv_env->build_timing_netlist(m_fsyn_timing, false, true, true, false, true, true);
    (void)m_fsyn_api->run_timing_analysis(true, false, 1.0, false, false, false);
    m_fsyn_api->store_slack_ratios(m_early_slack_ratios.get());
    span.stop_running();
    return true;
}

void MORV_EXPERT::run_flow_type(e_fsyn_flow fsyn_flow_id)
{
    switch (m_flow_type) {
    case FSYN_TEST_STRING_FLOW: run_fsyn_test_string_flow(fsyn_flow_id); break;
    case FSYN_TUNE_STRINGS_FLOW: run_fsyn_tune_string_flow(fsyn_flow_id); break;
    case FSYN_USER_OPTION_FLOW: run_fsyn_user_option_flow(fsyn_flow_id); break;
    case FSYN_FLAT_FLOW: run_fsyn_flat_flow(fsyn_flow_id); break;
    default: break;
    }
}

bool MORV_EXPERT::post_clustering_fsyn_flow()
{
    FLOW_SPAN span(*this, POST_CLUSTERING_FSYN_FLOW, true);
    MORV_DEBUG_STREAM::print(1, "FSYN EXPERT doing pre-work preparation");
    write_migration_log_start();
    if (m_use_xicp) flow_error("This flow is not supported with xICP! Help!", __LINE__);
    const bool full_icp = cfg_is_on("fsyn_force_init_full_icp", false);
    const bool pre_icp_ok = m_fsyn_api->run_timing_analysis(full_icp, false, 1.0, false, false, false);
    if (!pre_icp_ok) flow_error("pre_icp_ok", __LINE__);
    if (m_sweeper_only) run_netlist_sweeper();

    // No family adds a list after clustering: user-option mode runs only
    // what the run list already holds.
    if (m_flow_type == FSYN_USER_OPTION_FLOW) run_flow();
    else run_flow_type(POST_CLUSTERING_FSYN_FLOW);

    MORV_DEBUG_STREAM::print(1, "MORV_EXPERT doing post-work cleanup");
    const bool post_icp_ok = m_fsyn_api->run_timing_analysis(true, false, 1.0, true, false, false);
    if (!post_icp_ok) flow_error("post_icp_ok", __LINE__);
    write_migration_log_end();
    span.stop_running();
    span.end_flow();
    return true;
}

bool MORV_EXPERT::cluster_retry_fsyn_flow()
{
    FLOW_SPAN span(*this, CLUSTER_RETRY_FSYN_FLOW, true);
    m_fsyn_api->reset_fsyn_chip_map(true);
    m_fsyn_api->clear_overuse_ratios();
    MORV_DEBUG_STREAM::print(1, "FSYN EXPERT doing pre-work preparation");
    write_migration_log_start();
    const bool full_icp = cfg_is_on("fsyn_force_init_full_icp", false);
    (void)m_fsyn_api->run_timing_analysis(full_icp, false, 1.0, false, false, false);
    if (m_sweeper_only) run_netlist_sweeper();

    run_flow_type(CLUSTER_RETRY_FSYN_FLOW);

    MORV_DEBUG_STREAM::print(1, "MORV_EXPERT doing post-work cleanup");
    write_migration_log_end();
    span.stop_running();
    span.end_flow();
    return true;
}

bool MORV_EXPERT::late_fsyn_flow()
{
    FLOW_SPAN span(*this, LATE_FSYN_FLOW, true);
    MORV_DEBUG_STREAM::print(1, "FSYN EXPERT doing pre-work preparation");
    m_fsyn_api->set_progress_percent(0);
    write_migration_log_start();

    const bool full_icp = m_use_xicp || cfg_is_on("fsyn_force_init_full_icp", false);
    const bool pre_icp_ok = m_fsyn_api->run_timing_analysis(full_icp, m_use_xicp, 1.0, false, false, false);
    if (!pre_icp_ok) flow_error("pre_icp_ok", __LINE__);

    MORV_QOR_STAT_MGR* qor = m_fsyn_api->dump_qor_stats() ? m_fsyn_api->get_fsyn_qor_stat_mgr() : nullptr;
    if (qor != nullptr) qor->begin_late_flow();

    if (m_sweeper_only) {
        run_netlist_sweeper();
        const bool icp_ok = m_fsyn_api->run_timing_analysis(m_use_xicp, m_use_xicp, 1.0, false, false, false);
        if (!icp_ok) flow_error("icp_ok", __LINE__);
    }

    run_flow_type(LATE_FSYN_FLOW);

    MORV_DEBUG_STREAM::print(1, "MORV_EXPERT doing post-work cleanup");
    const bool post_icp_ok = m_fsyn_api->run_timing_analysis(true, m_use_xicp, 1.0, true, false, false);
    if (!post_icp_ok) flow_error("post_icp_ok", __LINE__);
    m_fsyn_api->set_progress_percent(100);

    write_migration_log_end();
    span.stop_running();
    if (qor != nullptr) qor->end_late_flow();
    span.end_flow();
    return true;
}

void MORV_EXPERT::save_early_fsyn_netlist()
{
    MORV_DEBUG_STREAM::print(1, "SAVING NETLIST for EARLY_FSYN");
    m_morv_env->begin_early_netlist_save();
    m_morv_env->save_early_netlist();
    m_morv_env->end_early_netlist_save();
    MORV_DEBUG_STREAM::print(1, "DONE SAVING NETLIST for EARLY_FSYN");
}

bool MORV_EXPERT::run_fsyn_default_lir_flow()
{
    if (m_fsyn_api->get_base_family_code() == 0) flow_error("m_fsyn_api->get_base_family_code()", __LINE__);
    insert_algorithm(LIR_ALGORITHM, "NP=1:NI=1");
    run_flow();
    m_morv_env->refresh_after_netlist_change();
    return true;
}

void MORV_EXPERT::print_log_error()
{
    // The log was recorded on the source device and fails on this one.
    const MORV_FAMILY_TRAITS& family = morv_family_traits(m_fsyn_api->get_base_family_code());
    if (!morv_family_keeps_change_log(family) || family.m_driver == nullptr)
        flow_error("m_fsyn_api->get_base_family_code() == DEV_FAMILY_BRENNOCK", __LINE__);
    const char* first = family.m_driver->m_replay_source_device;
    const char* second = family.m_driver->m_replay_target_device;
    MSG_E* msg = new MSG_E();
    msg->fill_args("Physical Synthesis was unable to reproduce operations performed on the %1!s! device, and then on "
                   "the %2!s! device after the design has been migrated.  Please recompile this circuit for the %1!s! "
                   "device with all Physical Synthesis options turned off./EMORV_FSYN_READ_LOG_IS_UNSUCCESSFUL",
                   first, second);
    morv_send_msg(msg);
}

// The replay of a migration log on the family it was recorded for, then
// the legalisation the replayed netlist needs and, unless switched off, one
// pass of LUT-input remapping.
bool MORV_EXPERT::run_legalizing_replay_log_flow()
{
    if (!run_shared_replay_log_flow()) return false;
    return finish_legalizing_replay();
}

bool MORV_EXPERT::finish_legalizing_replay()
{
    if (!m_fsyn_api->check_bp_info()) flow_error("m_fsyn_api->check_bp_info()", __LINE__);
    {
        MORV_LEGALIZER legalizer(m_fsyn_api.get());
        legalizer.legalize_netlist();
        if (MORV_LOG* log = m_fsyn_api->get_fsyn_log()) (void)log->restore_hs_adders();
        m_fsyn_api->dump_atom_netlist(".post_fsyn_legalizer");
    }
    if (!m_fsyn_api->check_bp_info()) flow_error("m_fsyn_api->check_bp_info()", __LINE__);
    if (!cfg_is_on("fsyn_disable_lir_after_migration", false)) {
        MORV_DEBUG_STREAM::print(2, "Performin TAN for LIR");
        m_fsyn_api->taint(nullptr);
        (void)m_fsyn_api->run_timing_analysis(false, false, 1.0, false, false, false);
        MORV_DEBUG_STREAM::print(1, "Disabling the netlist sweeper");
        m_fsyn_api->set_netlist_sweeper_enabled(false);
        MORV_PARAMETER_MAP parameters;
        MORV_ALGORITHM_BASE::parse_algorithm_params(parameters, "NP=1:NI=1");
        if (!create_and_run_algorithm(LIR_ALGORITHM, parameters)) flow_error("result", __LINE__);
        m_morv_env->refresh_after_netlist_change();
    }
    if (!m_fsyn_api->check_bp_info()) flow_error("m_fsyn_api->check_bp_info()", __LINE__);
    return true;
}
