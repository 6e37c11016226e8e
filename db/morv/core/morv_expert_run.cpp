// Run lists of the flow driver: filling them from test strings, tune strings
// or the family's lists, and running them one algorithm at a time.

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iterator>
#include <string>

#include "cfg/cfg.h"
#include "cdb/cdb_atom_netlist.h"
#include "cmp/cmp_facade.h"
#include "msg/msg.h"

#include "mem_alloc_sys.h"
#include "morv/core/algorithm/morv_algorithm_base.h"
#include "morv/core/algorithm/morv_algorithm_params.h"
#include "morv/core/morv_api.h"
#include "morv/core/morv_debug_stream.h"
#include "morv/core/morv_env.h"
#include "morv/core/family/morv_family_traits.h"
#include "morv/core/morv_expert.h"
#include "morv/core/morv_setting_ids.h"
#include "morv/core/morv_scope_guard.h"
#include "morv/core/morv_msgs.h"
#include "morv/core/stats/morv_qor_stats.h"
#include "morv/core/morv_run_list.h"
#include "morv/core/stats/morv_stats.h"
#include "morv/core/algorithm/morv_test.h"
#include "morv/netlist/morv_save_restore_algorithm.h"
#include "morv/resyn/morv_inv_push.h"
#include "morv/resyn/morv_lir.h"
#include "morv/resyn/morv_remux.h"
#include "morv/debug/morv_plumrix.h"
#include "morv/log/morv_log.h"
#include "morv/netlist/morv_inst_asgn_mgr.h"
#include "morv/netlist/morv_legalizer.h"
#include "morv/netlist/morv_net_util.h"
#include "morv/timing/morv_timing.h"

namespace {

[[noreturn]] void run_error(const char* text, int line)
{
    MSG_INTERNAL_ERROR::report(text, "MORV", __FILE__, line);
}

// A test or tune string the user (or a developer switch) got wrong is bad
// input, not a fault of the component: say what and where.
void post_malformed_string(const char* what, const std::string& text, const MORV_TEST_STRING_ERROR& error)
{
    MSG_E* msg = new MSG_E();
    msg->fill_args("Physical synthesis %1!s! \"%2!s!\" is malformed at character %3!d! (run \"%4!s!\"): %5!s!. No "
                   "physical synthesis algorithm runs from it./EMORV_FSYN_MALFORMED_TEST_STRING",
                   what, msg_cut_word(text), static_cast<int>(error.m_position + 1), msg_cut_word(error.m_run),
                   error.m_reason);
    morv_send_msg(msg);
}

// A run the family cannot build is the user's choice, not a fault of the
// component: say which run, which family and why.
void post_refused_run(const char* what, const std::string& text, const std::string& run, const std::string& reason)
{
    MSG_E* msg = new MSG_E();
    msg->fill_args("Physical synthesis %1!s! \"%2!s!\" names run \"%3!s!\", which this device cannot run: %4!s!. No "
                   "physical synthesis algorithm runs from it./EMORV_FSYN_ALGORITHM_NOT_IN_FAMILY",
                   what, text, run, reason);
    morv_send_msg(msg);
}

// The string was checked before the compile, in the order the flow points
// run; a point left out after all (a part the family does not run, a
// placement that failed before POST CLUSTERING) can still leave a BEST
// restore with nothing to restore.
void post_nothing_saved(const char* what, const std::string& part, const char* flow_point,
                        const MORV_TEST_STRING_ERROR& error)
{
    MSG_E* msg = new MSG_E();
    msg->fill_args("Physical synthesis %1!s! part \"%2!s!\" of the %3!s! flow point names run \"%4!s!\", which "
                   "restores a netlist saved before it, but no run has saved one in this compile. No physical "
                   "synthesis algorithm runs from this part./EMORV_FSYN_NOTHING_SAVED_TO_RESTORE",
                   what, msg_cut_word(part), flow_point, msg_cut_word(error.m_run));
    morv_send_msg(msg);
}

// The stage tag of the tool link around one algorithm run.
std::string plumrix_stage_tag(const char* stage, const std::string& short_name, int number)
{
    return morv_plx_breakpoint_name(std::strcmp(stage, "PRE") == 0 ? "PRE-%s(%d)" : "POST-%s(%d)", short_name.c_str(),
                                    number);
}

}  // namespace

const std::string& MORV_EXPERT::get_test_string_part(e_fsyn_flow fsyn_flow_id) const
{
    switch (fsyn_flow_id) {
    case SYN_EARLY_FSYN_FLOW:
    case FIT_EARLY_FSYN_FLOW: return m_test_string_early;
    case POST_CLUSTERING_FSYN_FLOW: return m_test_string_post_clustering;
    case CLUSTER_RETRY_FSYN_FLOW: return m_test_string_cluster_retry;
    case LATE_FSYN_FLOW: return m_test_string_late;
    default: run_error("fsyn_flow_id <= LATE_FSYN_FLOW", __LINE__);
    }
}

bool MORV_EXPERT::may_algorithm_run(int algorithm_id) const
{
    return algorithm_id >= 0 && algorithm_id < ALGORITHM_END && m_algorithm_list[algorithm_id];
}

unsigned MORV_EXPERT::get_inst_asgn_flag_mask(int algorithm_id) const
{
    if (algorithm_id < 0 || algorithm_id >= ALGORITHM_END) run_error("algorithm_id < ALGORITHM_END", __LINE__);
    return m_inst_asgn_flag_mask[algorithm_id];
}

void MORV_EXPERT::insert_algorithm(int algorithm_id, const std::string& parameters)
{
    // The family lists name every algorithm; this is where they are filtered.
    if (!may_algorithm_run(algorithm_id)) return;
    append_algorithm_run(algorithm_id, parameters);
}

void MORV_EXPERT::append_algorithm_run(int algorithm_id, const std::string& parameters)
{
    MORV_ALGORITHM_RUN run;
    run.m_algorithm = algorithm_id;
    run.m_parameter_string = parameters;
    MORV_ALGORITHM_BASE::parse_algorithm_params(run.m_parameters, parameters);
    m_algorithm_runs.push_back(std::move(run));
}

int MORV_EXPERT::extract_algorithm(std::string* text, std::string* parameters)
{
    std::string name;
    if (!morv_cut_first_run(text, &name, parameters)) return ALGORITHM_END;
    const int ret_val = morv_find_algorithm_id(name);
    if (ret_val == ALGORITHM_END) run_error("ret_val != ALGORITHM_END", __LINE__);
    return ret_val;
}

void MORV_EXPERT::extract_test_string(std::string text)
{
    std::string parameters;
    for (int id = extract_algorithm(&text, &parameters); id != ALGORITHM_END;
         id = extract_algorithm(&text, &parameters))
        append_algorithm_run(id, parameters);
}

bool MORV_EXPERT::check_runs_for_family(const char* what, const std::string& text, const std::string& part,
                                        const char* flow_point)
{
    const MORV_FAMILY_TRAITS& family = morv_family_traits(m_fsyn_api->get_base_family_code());
    // Asynchronous pipelining evaluates before placement and pipelines after
    // it; between the two it has nothing to do.
    const bool between_early_and_late =
        flow_point != nullptr && std::strcmp(flow_point, "EARLY") != 0 && std::strcmp(flow_point, "LATE") != 0;
    std::string rest = part;
    std::string name, parameters;
    while (morv_cut_first_run(&rest, &name, &parameters)) {
        MORV_PARAMETER_MAP map;
        MORV_ALGORITHM_BASE::parse_algorithm_params(map, parameters);
        const int id = morv_find_algorithm_id(name);
        std::string reason = morv_family_algorithm_refusal(family, id, map);
        if (reason.empty() && id == PIPE_ASYNC_ALGORITHM && between_early_and_late)
            reason = name + " runs at the EARLY and LATE flow points only, not in the " + flow_point + " part (the " +
                     family.m_name + " family)";
        if (reason.empty()) continue;
        post_refused_run(what, text, name + "(" + parameters + ")", reason);
        return false;
    }
    return true;
}

MORV_PARAM_COMPILE MORV_EXPERT::compile_for_run_checks() const
{
    MORV_PARAM_COMPILE compile;
    compile.m_project_name = m_fsyn_api->get_project_name();
    CDB_ATOM_NETLIST* netlist = m_morv_env->get_atom_netlist();
    const MORV_NET_UTIL* util = m_fsyn_api->get_fsyn_net_util();
    if (netlist == nullptr || util == nullptr) return compile;
    for (CDB_ATOM_NODE* node : *netlist) {
        if (node == nullptr || !(util->is_lut(node) || util->is_ff(node)) || !m_morv_env->must_keep_node(node))
            continue;
        if (!m_morv_env->can_modify_atom(static_cast<int>(node->get_id()), AMM_OP_FITTER_FSYN_DUPLICATE)) continue;
        compile.m_has_copyable_kept_atom = true;
        break;
    }
    return compile;
}

bool MORV_EXPERT::check_saved_before_best_restores(const char* what, const std::string& part, e_fsyn_flow fsyn_flow_id)
{
    bool saved = !m_fsyn_api->get_save_restore_tables().empty();
    MORV_TEST_STRING_ERROR error;
    if (morv_check_best_restores(part, &saved, &error)) return true;
    post_nothing_saved(what, part, get_fsyn_flow_name(fsyn_flow_id), error);
    return false;
}

void MORV_EXPERT::parse_test_string()
{
    MORV_TEST_STRING_PARTS parts;
    parts.m_cluster_retry = m_test_string_cluster_retry;
    if (morv_split_test_string(m_opx_fsyn_test_string, &parts) > 3)
        run_error("Too many pipe characters in the FSYN string!", __LINE__);
    m_test_string_early = parts.m_early;
    m_test_string_cluster_retry = parts.m_cluster_retry;
    m_test_string_post_clustering = parts.m_post_clustering;
    m_test_string_late = parts.m_late;
}

void MORV_EXPERT::decode_and_parse_test_string()
{
    if (m_opx_fsyn_test_string.empty()) run_error("m_opx_fsyn_test_string != \"\"", __LINE__);
    const std::string saved = m_opx_fsyn_test_string;
    const bool magic = cfg_is_on("fsyn_magic_decoder_ring", false);
    const bool signature = MORV_API::is_optimization_signature(saved);
    if (signature) {
        MORV_DEBUG_STREAM::print(1, "FSYN Optimization Signature = %s", saved.c_str());
        if (!MORV_API::decode_optimization_signature(saved, &m_opx_fsyn_test_string)) {
            morv_send_msg(morv_new_msg(MORV_MSG_EMORV_FSYN_INVALID_OPTIMIZATION_SIGNATURE_CIRCUIT_MATCH));
            // The parts stay empty: no flow point is enabled by a rejected signature.
            m_opx_fsyn_test_string = saved;
            return;
        }
    } else if (magic) {
        MORV_DEBUG_STREAM::print(1, "FSYN Optimization Signature = %s",
                                 MORV_API::encode_optimization_signature(saved).c_str());
    }

    // The design stops on an internal error at an unknown run name, a run
    // the family may not run or a fourth '|', and lets text after ')',
    // unknown keys and unreadable values pass. Here the whole string is
    // checked before it is parsed: each of these is the user's error, named
    // with its place, and nothing runs. A typo is not our fault, and a run
    // met only at its flow point would stop the compile halfway or be
    // dropped in silence.
    MORV_TEST_STRING_ERROR error;
    const MORV_PARAM_COMPILE compile = compile_for_run_checks();
    if (!morv_check_test_string(m_opx_fsyn_test_string, &error, &compile)) {
        post_malformed_string("test string", m_opx_fsyn_test_string, error);
        // The parts stay empty: no flow point is enabled by a rejected string.
        m_opx_fsyn_test_string = saved;
        return;
    }
    parse_test_string();
    std::string* parts[] = {&m_test_string_early, &m_test_string_cluster_retry, &m_test_string_post_clustering,
                            &m_test_string_late};
    const char* const flow_points[] = {"EARLY", "CLUSTER RETRY", "POST CLUSTERING", "LATE"};
    for (size_t p = 0; p < std::size(parts); ++p) {
        if (check_runs_for_family("test string", saved, *parts[p], flow_points[p])) continue;
        // Nothing runs from a string that names a run the family cannot build.
        for (std::string* cleared : parts) cleared->clear();
        m_opx_fsyn_test_string = saved;
        return;
    }
    // A decoded signature keeps its runs to itself unless the decoder switch is on.
    if (!signature || magic) {
        MORV_DEBUG_STREAM::print(1, "FSYN EARLY = %s", m_test_string_early.c_str());
        MORV_DEBUG_STREAM::print(1, "FSYN CLUSTER RETRY = %s", m_test_string_cluster_retry.c_str());
        MORV_DEBUG_STREAM::print(1, "FSYN POST CLUSTERING = %s", m_test_string_post_clustering.c_str());
        MORV_DEBUG_STREAM::print(1, "FSYN LATE  = %s", m_test_string_late.c_str());
    }
    m_opx_fsyn_test_string = saved;
}

void MORV_EXPERT::run_fsyn_test_string_flow(e_fsyn_flow fsyn_flow_id)
{
    MORV_DEBUG_STREAM::print(1, "Physical Synthesis running in Test String Mode");
    std::string part;
    if (is_early_fsyn_flow(fsyn_flow_id)) {
        if (fsyn_flow_id == MORV_ENV::where_does_early_fsyn_run(m_morv_env->get_cmp())) part = m_test_string_early;
    } else if (fsyn_flow_id == POST_CLUSTERING_FSYN_FLOW) {
        part = m_test_string_post_clustering;
    } else if (fsyn_flow_id == CLUSTER_RETRY_FSYN_FLOW) {
        part = m_test_string_cluster_retry;
    } else {
        if (fsyn_flow_id != LATE_FSYN_FLOW) run_error("fsyn_flow_id == LATE_FSYN_FLOW", __LINE__);
        part = m_test_string_late;
        if (cfg_is_on("fsyn_use_routing_estimate", false))
            (void)m_fsyn_api->run_timing_analysis(false, false, 1.0, false, true, false);
    }
    if (!check_saved_before_best_restores("test string", part, fsyn_flow_id)) part.clear();
    extract_test_string(part);
    run_flow();
}

void MORV_EXPERT::run_fsyn_tune_string_flow(e_fsyn_flow fsyn_flow_id)
{
    std::string test_string;
    if (is_early_fsyn_flow(fsyn_flow_id)) {
        const char* value = cfg_get_value("fsyn_tune_work_string_early");
        test_string = value != nullptr ? value : "";
        if (test_string.empty()) run_error("test_string.length()", __LINE__);
        MORV_DEBUG_STREAM::print(1, "FSYN TUNE: Running early string %s", test_string.c_str());
    } else if (fsyn_flow_id == LATE_FSYN_FLOW && will_fsyn_run(FIT_EARLY_FSYN_FLOW) &&
               m_morv_env->is_late_tune_allowed()) {
        const double ratio = m_fsyn_api->get_weighted_slack_ratio_difference(*m_early_slack_ratios);
        MORV_DEBUG_STREAM::print(1, "FSYN TUNE: Enabled!");
        const char* fast_text = cfg_get_value("fsyn_tune_fast_threshold");
        const char* slow_text = cfg_get_value("fsyn_tune_slow_threshold");
        const std::string fast_threshold_string = fast_text != nullptr ? fast_text : "";
        const std::string slow_threshold_string = slow_text != nullptr ? slow_text : "";
        if (fast_threshold_string.empty() || slow_threshold_string.empty())
            run_error("fast_threshold_string.length() && slow_threshold_string.length()", __LINE__);
        const double fast = std::atof(fast_threshold_string.c_str());
        const double slow = std::atof(slow_threshold_string.c_str());
        MORV_DEBUG_STREAM::print(1, "FSYN TUNE: Thresholds are (%f, %f)", fast, slow);
        const int effort = m_opx_physical_synthesis_effort;
        const char* key = nullptr;
        if ((fast > ratio && effort == MORV_EFFORT_NORMAL) || effort == MORV_EFFORT_FAST)
            key = "fsyn_tune_work_string_fast";
        else if (ratio > slow && effort == MORV_EFFORT_NORMAL) key = "fsyn_tune_work_string_normal_late";
        else if (effort != MORV_EFFORT_EXTRA) key = "fsyn_tune_work_string_normal";
        else key = "fsyn_tune_work_string_extra";
        const char* value = cfg_get_value(key);
        test_string = value != nullptr ? value : "";
        if (test_string.empty()) run_error("test_string.length()", __LINE__);
        MORV_DEBUG_STREAM::print(1, "FSYN TUNE: Running late string %s", test_string.c_str());
    }
    test_string = morv_tune_string_to_test_string(test_string);
    MORV_TEST_STRING_ERROR error;
    const MORV_PARAM_COMPILE compile = compile_for_run_checks();
    if (!morv_check_test_string_part(test_string, &error, 0, &compile)) {
        post_malformed_string("tune string", test_string, error);
        test_string.clear();
    } else if (!check_runs_for_family("tune string", test_string, test_string, nullptr) ||
               !check_saved_before_best_restores("tune string", test_string, fsyn_flow_id)) {
        test_string.clear();
    }
    extract_test_string(test_string);
    run_flow();
}

void MORV_EXPERT::run_fsyn_user_option_flow(e_fsyn_flow fsyn_flow_id)
{
    const e_fsyn_flow early = MORV_ENV::where_does_early_fsyn_run(m_morv_env->get_cmp());
    // Each flow point may end with a manual run, each with a switch of its own.
    auto add_manual_run = [this](const char* after) {
        MORV_DEBUG_STREAM::print(100, "Running manual FSYN after %s.", after);
        m_algorithm_list[MANUAL_ALGORITHM] = true;
        insert_algorithm(MANUAL_ALGORITHM, "");
    };
    switch (fsyn_flow_id) {
    case SYN_EARLY_FSYN_FLOW:
    case FIT_EARLY_FSYN_FLOW:
        if (fsyn_flow_id == SYN_EARLY_FSYN_FLOW) add_syn_early_fsyn_algorithms();
        else add_fit_early_fsyn_algorithms(fsyn_flow_id);
        if (cfg_is_on("fsyn_manual_after_early", false) && early == fsyn_flow_id) add_manual_run("early");
        break;
    case CLUSTER_RETRY_FSYN_FLOW:
        add_cluster_retry_fsyn_algorithms();
        if (cfg_is_on("fsyn_manual_after_cluster_retry", false)) add_manual_run("cluster retry");
        break;
    case LATE_FSYN_FLOW:
        if (cfg_is_on("fsyn_use_routing_estimate", false)) {
            const bool pre_icp_ok = m_fsyn_api->run_timing_analysis(false, false, 1.0, false, true, false);
            if (!pre_icp_ok) run_error("pre_icp_ok", __LINE__);
        }
        add_late_fsyn_algorithms();
        if (cfg_is_on("fsyn_manual_after_late", false)) add_manual_run("late");
        break;
    default: break;
    }
    run_flow();
}

void MORV_EXPERT::run_flow()
{
    MORV_INST_ASGN_MGR* inst_asgn_mgr = m_fsyn_api->get_inst_asgn_mgr();
    // Runs are taken by index: an algorithm never appends to the list it runs from.
    for (size_t i = 0; i < m_algorithm_runs.size(); ++i) {
        MORV_ALGORITHM_RUN& alg_run = m_algorithm_runs[i];
        const unsigned mask = m_inst_asgn_flag_mask[alg_run.m_algorithm];
        MORV_DEBUG_STREAM::print(1, "Setting instance assignment flag mask to 0x%X.", mask);
        if (inst_asgn_mgr != nullptr) inst_asgn_mgr->set_flag_mask(mask);
        if (inst_asgn_mgr != nullptr && m_dump_instance_assignments) inst_asgn_mgr->dump();
        if (!m_algorithm_list[alg_run.m_algorithm]) run_error("m_algorithm_list[alg_run.m_algorithm]", __LINE__);
        if (!create_and_run_algorithm(alg_run.m_algorithm, alg_run.m_parameters)) {
            MORV_DEBUG_STREAM::print(0, "Error:  The algorithm %d failed!!!", alg_run.m_algorithm);
            run_error("Error - algorithm failed!", __LINE__);
        }
    }
    m_algorithm_runs.clear();
    MORV_DEBUG_STREAM::print(1, "Setting instance assignment flag mask to 0x%X.", 0u);
    if (inst_asgn_mgr != nullptr) inst_asgn_mgr->set_flag_mask(0);
}

bool MORV_EXPERT::run_single_algorithm(MORV_OWNER<MORV_ALGORITHM_BASE> owned)
{
    // The algorithm lives for this run only, however the run ends.
    m_current_algorithm = std::move(owned);
    MORV_SCOPE_GUARD release_algorithm([this] { m_current_algorithm.reset(); });
    MORV_ALGORITHM_BASE* algorithm = m_current_algorithm.get();
    const int number = algorithm != nullptr ? MORV_ALGORITHM_BASE::get_run_counter() : -1;
    const std::string short_name = algorithm != nullptr ? algorithm->get_short_name() : std::string();

    if (algorithm != nullptr && m_fsyn_timing->set_timing_mode(algorithm->get_timing_mode())) {
        MORV_DEBUG_STREAM::print(2, "Timing mode changed - refreshing timing data structures.");
        const bool icp_ok = m_fsyn_api->run_timing_analysis(false, false, 1.0, false, false, false);
        if (!icp_ok) run_error("icp_ok", __LINE__);
    }

    const bool plumrix_stages = m_fsyn_api->is_plumrix_enabled() && m_fsyn_api->is_plumrix_dump_every_algorithm();
    if (plumrix_stages && m_fsyn_plumrix->is_connected())
        m_fsyn_plumrix->breakpoint(plumrix_stage_tag("PRE", short_name, number).c_str());

    MORV_QOR_STAT_MGR* qor = m_fsyn_api->dump_qor_stats() ? m_fsyn_api->get_fsyn_qor_stat_mgr() : nullptr;
    if (qor != nullptr) qor->start_algorithm_record(short_name.c_str(), number);

    bool ok = true;
    if (algorithm != nullptr) {
        MORV_STATS_MGR* stats = m_fsyn_api->get_fsyn_stats();
        if (stats != nullptr) stats->start_record(short_name.c_str());
        const bool force_restore = cfg_is_on("fsyn_force_restore", false);
        int saved = -1;
        if (force_restore) {
            saved = m_fsyn_api->save_state();
            if (saved == -1) run_error("fsyn_expert_init_netlist != MORV_OPEN", __LINE__);
        }
        ok = algorithm->run_algorithm();
        if (ok && !m_fsyn_api->check_bp_info()) run_error("m_fsyn_api->check_bp_info()", __LINE__);
        if (force_restore) {
            m_fsyn_api->restore_state(saved);
            const bool icp_ok = m_fsyn_api->run_timing_analysis(false, false, 1.0, false, false, false);
            if (!icp_ok) run_error("icp_ok", __LINE__);
        }
        if (stats != nullptr) stats->end_record();
    }

    if (qor != nullptr) qor->end_algorithm_record();

    if (plumrix_stages && m_fsyn_plumrix->is_connected())
        m_fsyn_plumrix->breakpoint(plumrix_stage_tag("POST", short_name, number).c_str());

    // What the algorithm's destructor found wrong ends the compile here.
    release_algorithm.run_now();
    m_fsyn_api->report_deferred_internal_error();
    return ok;
}

// ------------------------------------------------------------ family hook bodies

void MORV_EXPERT::apply_user_option_table(const MORV_USER_OPTION_COLUMN& column)
{
    const bool comb = m_opx_comb_logic;
    const bool comb_for_fitting = m_opx_comb_logic_for_fitting;
    const bool reg_dup = m_opx_register_duplication;
    const bool retiming = m_opx_register_retiming;
    auto set = [this](int id, bool enabled, unsigned mask) {
        m_algorithm_list[id] = enabled;
        m_inst_asgn_flag_mask[id] = mask;
    };
    set(RTM_ALGORITHM, retiming, 4);
    set(RWR_ALGORITHM, comb, 32);
    set(REP_ALGORITHM, reg_dup || comb, 33);
    const bool unpack = reg_dup || retiming;
    set(REG_UNPACK_ALGORITHM,
        column.m_reg_unpack_needs_switch ? unpack && cfg_is_on("fsyn_reg_unpack_for_all_families", false) : unpack, 5);
    set(BDD_SYN_ALGORITHM, comb, 32);
    if (column.m_ram_map) set(RAM_MAP_ALGORITHM, m_opx_logic_to_memory, 2);
    set(PIPE_ASYNC_ALGORITHM, m_opx_async_pipelining, 8);
    if (column.m_resplit_for_fitting) set(RESPLIT_ALGORITHM, comb || comb_for_fitting, 48);
    else set(RESPLIT_ALGORITHM, comb, 32);
    if (column.m_lut_input_algorithms) {
        set(LIR_ALGORITHM, comb, 32);
        set(INV_PUSH_ALGORITHM, comb, 32);
    }
    set(RESYN_ALGORITHM, comb, 32);
    if (column.m_save_restore) set(SAVE_RESTORE_ALGORITHM, true, 0);
}

bool MORV_EXPERT::create_and_run_from_table(const char* const* class_names, int algorithm_id,
                                            MORV_PARAMETER_MAP& parameters)
{
    if (algorithm_id < 0 || algorithm_id >= ALGORITHM_END || class_names[algorithm_id] == nullptr)
        run_error("Invalid Algorithm entered", __LINE__);
    const std::string class_name = class_names[algorithm_id];
    if (class_name.empty()) return true;
    if (class_name == "-") {
        MORV_DEBUG_STREAM::print(2, "REG_UNPACK turned off for SorvexII");
        return true;
    }
    if (class_name == "!") run_error("Unsupported family", __LINE__);

    MORV_OWNER<MORV_ALGORITHM_BASE> algorithm;
    if (class_name == "MORV_TEST") {
        algorithm = MORV_MAKE_OWNER(MORV_TEST, m_fsyn_api.get(), &parameters);
    } else if (class_name == "MORV_SAVE_RESTORE") {
        algorithm = MORV_MAKE_OWNER(MORV_SAVE_RESTORE, m_fsyn_api.get(), &parameters);
    } else if (class_name == "MORV_LIR") {
        algorithm = MORV_MAKE_OWNER(MORV_LIR, m_fsyn_api.get(), &parameters);
    } else if (class_name == "MORV_INV_PUSH") {
        algorithm = MORV_MAKE_OWNER(MORV_INV_PUSH, m_fsyn_api.get(), &parameters);
    } else if (class_name == "MORV_REMUX") {
        algorithm = MORV_MAKE_OWNER(MORV_REMUX, m_fsyn_api.get(), &parameters);
    } else if (!morv_make_family_algorithm(class_name, m_fsyn_api.get(), &parameters, &algorithm)) {
        // Algorithms come one by one; naming the missing one beats a run
        // that pretends to have optimised something.
        warn_not_available(std::string("Physical synthesis algorithm ") + s_FSYN_ALGORITHM_SHORT_NAMES[algorithm_id] +
                           " (" + class_name + ")");
        return true;
    }
    // An object that could not be allocated behaves like "nothing to build".
    if (algorithm == nullptr) return true;
    return run_single_algorithm(std::move(algorithm));
}

void MORV_EXPERT::run_family_netlist_sweeper()
{
    const int operations = MORV_ALGORITHM_BASE::sweep_family_netlist(m_fsyn_api.get());
    MORV_DEBUG_STREAM::print(1, "Netlist sweeper performed %d operations", operations);
}

void MORV_EXPERT::run_shared_flat_flow(e_fsyn_flow fsyn_flow_id)
{
    switch (fsyn_flow_id) {
    case SYN_EARLY_FSYN_FLOW:
    case FIT_EARLY_FSYN_FLOW:
    case CLUSTER_RETRY_FSYN_FLOW:
    case LATE_FSYN_FLOW: run_flow(); break;
    default: break;
    }
}

void MORV_EXPERT::finish_family_construction(bool set_xicp, bool set_nevra)
{
    const bool no_placed_flow = !m_fsyn_flow_is_enabled[SYN_EARLY_FSYN_FLOW] &&
                                !m_fsyn_flow_is_enabled[FIT_EARLY_FSYN_FLOW] && !m_fsyn_flow_is_enabled[LATE_FSYN_FLOW];
    const bool no_retry = !m_fsyn_flow_is_enabled[CLUSTER_RETRY_FSYN_FLOW] || get_vpr_retry_state() == 2;
    if (!(no_placed_flow && no_retry)) m_fsyn_api->reset_fsyn_chip_map(false);
    if (set_xicp) m_use_xicp = !cfg_is_on("fsyn_disable_experimental_icp", false);
    if (set_nevra) m_enable_nevra = !cfg_is_on("fsyn_disable_nevra", false);
}

// Cells the device cannot build, as read, would be rotated or split by the
// first sweep after an algorithm's iteration: that undoes the algorithm's
// pin choices and makes its figure of merit a verdict on the legaliser.
// Legalised here, before placement, every flow (the plain compile's too)
// starts from cells the device can build. A compile that runs no flow keeps
// its netlist; a replayed log refers to the netlist as read and is
// legalised after its replay.
void MORV_EXPERT::legalize_entering_netlist()
{
    if (!can_any_fsyn_flow_run() || m_flow_type == FSYN_REPLAY_LOG_FLOW) return;
    if (!morv_family_legalizes_entering_netlist(morv_family_traits(m_fsyn_api->get_base_family_code()))) return;
    MORV_LEGALIZER legalizer(m_fsyn_api.get());
    const int legalized = legalizer.legalize_netlist();
    MORV_DEBUG_STREAM::print(2, "Legalized the netlist the compile starts from: %d nodes", legalized);
    m_morv_env->refresh_after_netlist_change();
}

// The compile runs in its project's folder: a relative name is looked for
// there, wherever the user started the compile from.
MSG_POST* MORV_EXPERT::new_replay_log_looked_for(const std::string& name)
{
    if (name.empty()) return nullptr;  // said when the setting was read
    std::error_code ec;
    const std::filesystem::path tried = std::filesystem::absolute(name, ec);
    const std::string shown = ec ? name : tried.string();
    // A name that is there but leads nowhere (a loop of links) says why.
    std::error_code why;
    const bool there = std::filesystem::exists(std::filesystem::status(name, why));
    std::string reason = !there && why && why != std::errc::no_such_file_or_directory
                             ? "cannot read " + shown + ": " + why.message()
                             : "no file " + shown;
    if (std::filesystem::path(name).is_relative())
        reason +=
            " (a relative name is taken from the compile's folder, " + std::filesystem::current_path(ec).string() + ")";
    return morv_new_msg(MORV_MSG_IMORV_FSYN_LOG_FILE_LOOKED_FOR, reason);
}

// The missing log's error, detailed with where the file was looked for:
// with the replay's failure after it, the user reads two errors.
bool MORV_EXPERT::check_replay_log_file(const char* target_device, const char* source_device)
{
    MORV_LOG* log = m_fsyn_api->get_fsyn_log();
    if (log == nullptr) run_error("m_fsyn_log", __LINE__);
    if (log->get_log_file()->file_exists()) return true;
    MSG_E* msg = new MSG_E();
    msg->fill_args("Physical Synthesis was unable to find the log file required to perform Physical Synthesis on "
                   "%1!s!.  Please recompile this circuit for the %2!s! device.  Then migrate to the %1!s! "
                   "device./EMORV_FSYN_LOG_FILE_NOT_PRESENT",
                   target_device, source_device);
    msg->attach_sub_msg(new_replay_log_looked_for(log->get_log_file()->get_file_name()));
    morv_send_msg(msg);
    return false;
}

bool MORV_EXPERT::run_shared_replay_log_flow()
{
    if (m_opx_physical_synthesis_read_log.empty()) run_error("m_opx_physical_synthesis_read_log != \"\"", __LINE__);
    MORV_LOG* log = m_fsyn_api->get_fsyn_log();
    if (log == nullptr) run_error("m_fsyn_log", __LINE__);
    log->get_log_file()->set_file_name(m_opx_physical_synthesis_read_log);
    if (!check_if_log_file_exists()) {
        print_log_error();
        return false;
    }
    if (log->reproduce_log()) return true;
    // A log of this family was refused with its own error: the design's
    // text speaks of a log recorded on the other family.
    if (!log->was_recorded_on_this_family()) print_log_error();
    return false;
}
