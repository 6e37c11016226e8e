// Which flow points run, and in which mode, decided once per compile when
// the family's flow driver is constructed.

#include <string>
#include <vector>

#include "cfg/cfg.h"
#include "cmp/cmp_facade.h"
#include "idu/idu_partition_manager.h"
#include "msg/msg.h"

#include "morv/core/family/morv_family_traits.h"
#include "morv/core/morv_api.h"
#include "morv/core/morv_assert.h"
#include "morv/core/morv_debug_stream.h"
#include "morv/core/morv_env.h"
#include "morv/core/morv_expert.h"
#include "morv/core/morv_msgs.h"
#include "morv/core/morv_setting_ids.h"
#include "morv/netlist/morv_cdb_interface.h"
#include "morv/netlist/morv_inst_asgn_mgr.h"

namespace {
// Project settings read by the mode selection.
// A migration to one of these families keeps the fitter flows from running.
bool migrates_to_family_without_fitter_flows(const MORV_API& api)
{
    int count = 0;
    const MORV_FAMILY_TRAITS* families = morv_family_traits_table(&count);
    for (int i = 0; i < count; ++i)
        if (families[i].m_migration_stops_fitter_flows && api.has_migratable_part_of_family(families[i].m_base_family))
            return true;
    return false;
}
}  // namespace

void MORV_EXPERT::find_and_set_which_algorithms_are_to_run()
{
    for (int flow = SYN_EARLY_FSYN_FLOW; flow <= LATE_FSYN_FLOW; ++flow) m_fsyn_flow_is_enabled[flow] = false;

    if (!is_device_supported_by_fsyn()) return;
    const MORV_FAMILY_TRAITS& family = morv_family_traits(m_fsyn_api->get_base_family_code());

    read_flow_mode_inputs();
    warn_read_log_ignored(family);
    choose_flow_mode(family);
    apply_family_and_migration_rules(family);
    apply_developer_flow_switches();
    check_if_fsyn_flow_can_be_run();
}

void MORV_EXPERT::read_flow_mode_inputs()
{
    // An optimisation is on for the project, or because some instance
    // switches it on.
    const MORV_INST_ASGN_MGR* inst_asgn_mgr = m_fsyn_api->get_inst_asgn_mgr();
    auto user_setting = [&](int option, MORV_INSTANCE_ASSIGNMENT_ENUM bit) {
        return m_fsyn_api->get_bool_option(option) || (inst_asgn_mgr != nullptr && inst_asgn_mgr->is_option_used(bit));
    };
    m_opx_comb_logic = user_setting(MORV_SETTING_COMB_LOGIC, MORV_INST_ASGN_COMB_LOGIC);
    m_opx_comb_logic_for_fitting =
        user_setting(MORV_SETTING_COMB_LOGIC_FOR_FITTING, MORV_INST_ASGN_COMB_LOGIC_FOR_FITTING);
    m_opx_logic_to_memory = user_setting(MORV_SETTING_LOGIC_TO_MEMORY, MORV_INST_ASGN_LOGIC_TO_MEMORY);
    m_opx_async_pipelining = user_setting(MORV_SETTING_ASYNC_PIPELINING, MORV_INST_ASGN_ASYNC_PIPELINING);
    m_opx_register_duplication = user_setting(MORV_SETTING_REGISTER_DUPLICATION, MORV_INST_ASGN_REGISTER_DUPLICATION);
    m_opx_register_retiming = user_setting(MORV_SETTING_REGISTER_RETIMING, MORV_INST_ASGN_REGISTER_RETIMING);
    m_opx_physical_synthesis_effort = m_fsyn_api->get_enum_option(MORV_SETTING_EFFORT);

    m_opx_physical_synthesis_read_log = read_replay_log_name();
    m_opx_fsyn_test_string = m_fsyn_api->get_string_option(MORV_SETTING_TEST_STRING);

    m_sweeper_only = cfg_is_on("fsyn_netlist_sweeper", false);
    m_tune_strings = cfg_is_on("fsyn_tune_strings", false);
    m_for_density = cfg_is_on("fsyn_for_density", false);
}

void MORV_EXPERT::choose_flow_mode(const MORV_FAMILY_TRAITS& family)
{
    const bool any_user_setting = m_opx_comb_logic || m_opx_comb_logic_for_fitting || m_opx_logic_to_memory ||
                                  m_opx_async_pipelining || m_opx_register_duplication || m_opx_register_retiming;
    if (!m_opx_physical_synthesis_read_log.empty()) {
        m_flow_type = FSYN_REPLAY_LOG_FLOW;
        m_fsyn_flow_is_enabled[FIT_EARLY_FSYN_FLOW] = true;
    } else if (!m_opx_fsyn_test_string.empty()) {
        m_flow_type = FSYN_TEST_STRING_FLOW;
        choose_test_string_flows();
    } else if (any_user_setting) {
        m_flow_type = FSYN_USER_OPTION_FLOW;
        choose_user_option_flows(family);
    } else if (m_sweeper_only) {
        m_flow_type = FSYN_SWEEPER_ONLY_FLOW;
        m_fsyn_flow_is_enabled[SYN_EARLY_FSYN_FLOW] = true;
        m_fsyn_flow_is_enabled[FIT_EARLY_FSYN_FLOW] = true;
    } else if (m_tune_strings) {
        m_flow_type = FSYN_TUNE_STRINGS_FLOW;
        const bool complete = tune_strings_are_complete();
        m_fsyn_flow_is_enabled[SYN_EARLY_FSYN_FLOW] = complete;
        m_fsyn_flow_is_enabled[FIT_EARLY_FSYN_FLOW] = complete;
        m_fsyn_flow_is_enabled[LATE_FSYN_FLOW] = complete;
        for (int id = 0; id < ALGORITHM_END; ++id) m_algorithm_list[id] = true;
    } else if (is_fsyn_allowed_in_flat_flow() && !cfg_is_on("fsyn_disable_fsyn_in_flat_flow", false)) {
        MORV_DEBUG_STREAM::print(1, "Warning: FSYN will be run on a FLAT compile ! ! ! ");
        m_flow_type = FSYN_FLAT_FLOW;
        for (int id = 0; id < ALGORITHM_END; ++id) m_algorithm_list[id] = true;
    }
}

void MORV_EXPERT::choose_test_string_flows()
{
    const e_fsyn_flow early_flow = MORV_ENV::where_does_early_fsyn_run(m_morv_env->get_cmp());
    decode_and_parse_test_string();
    if (!m_test_string_early.empty()) m_fsyn_flow_is_enabled[early_flow] = true;
    if (!m_test_string_post_clustering.empty()) m_fsyn_flow_is_enabled[POST_CLUSTERING_FSYN_FLOW] = true;
    if (!m_test_string_cluster_retry.empty()) m_fsyn_flow_is_enabled[CLUSTER_RETRY_FSYN_FLOW] = true;
    if (!m_test_string_late.empty()) m_fsyn_flow_is_enabled[LATE_FSYN_FLOW] = true;
    for (int id = 0; id < ALGORITHM_END; ++id) m_algorithm_list[id] = true;
}

void MORV_EXPERT::choose_user_option_flows(const MORV_FAMILY_TRAITS& family)
{
    const e_fsyn_flow early_flow = MORV_ENV::where_does_early_fsyn_run(m_morv_env->get_cmp());
    if (m_opx_comb_logic || m_opx_async_pipelining || m_opx_register_duplication || m_opx_register_retiming)
        m_fsyn_flow_is_enabled[LATE_FSYN_FLOW] = true;
    if (m_opx_async_pipelining) m_fsyn_flow_is_enabled[FIT_EARLY_FSYN_FLOW] = true;
    if (m_opx_comb_logic || m_opx_register_retiming) {
        m_fsyn_flow_is_enabled[early_flow] = true;
        m_fsyn_flow_is_enabled[FIT_EARLY_FSYN_FLOW] = true;
    }
    if ((m_opx_comb_logic_for_fitting || m_opx_logic_to_memory) && family.m_fitting_flows)
        m_fsyn_flow_is_enabled[CLUSTER_RETRY_FSYN_FLOW] = true;
    set_user_option_algorithms_to_run();
}

void MORV_EXPERT::apply_family_and_migration_rules(const MORV_FAMILY_TRAITS& family)
{
    if (migrates_to_family_without_fitter_flows(*m_fsyn_api)) {
        MORV_DEBUG_STREAM::print(1, "Disabling FIT-EARLY, CLUSTER-RETRY, and LATE, because TIII <-> DWX migration is "
                                    "selected.");
        m_fsyn_flow_is_enabled[FIT_EARLY_FSYN_FLOW] = false;
        m_fsyn_flow_is_enabled[CLUSTER_RETRY_FSYN_FLOW] = false;
        m_fsyn_flow_is_enabled[LATE_FSYN_FLOW] = false;
    }

    if (!family.m_late_flow) {
        MORV_DEBUG_STREAM::print(1, "Disabling LATE for Talvane");
        m_fsyn_flow_is_enabled[LATE_FSYN_FLOW] = false;
        warn_test_string_part_not_run("LATE", m_test_string_late, family);
    }

    // A replay or a test string says exactly what runs: turning the mode
    // into user options here would make the flows skip it without a word.
    const bool explicit_mode = m_flow_type == FSYN_REPLAY_LOG_FLOW || m_flow_type == FSYN_TEST_STRING_FLOW;
    if (m_for_density && family.m_fitting_flows && !explicit_mode) {
        m_flow_type = FSYN_USER_OPTION_FLOW;
        m_fsyn_flow_is_enabled[FIT_EARLY_FSYN_FLOW] = true;
        m_algorithm_list[RAM_MAP_ALGORITHM] = true;
        m_algorithm_list[RESPLIT_ALGORITHM] = true;
    }
}

void MORV_EXPERT::apply_developer_flow_switches()
{
    if (cfg_is_on("fsyn_enable_debug_checkpoints", false) && !cfg_is_on("fsyn_debug_checkpoint_stop_late", false))
        m_fsyn_flow_is_enabled[LATE_FSYN_FLOW] = false;

    if (cfg_is_on("fsyn_disable_late_fsyn", false)) {
        m_fsyn_flow_is_enabled[LATE_FSYN_FLOW] = false;
        MORV_DEBUG_STREAM::print(1, "Warning: Late FSYN disabled by INI.  This will negatively impact QoR (I hope).");
    }

    IDU_PARTITION_MANAGER* partition_manager = IDU_PARTITION_MANAGER::get_instance(1, 0, 0);
    MORV_ASSERT(partition_manager != NULL);
    IDU_PROJECT_INFO* project_info = partition_manager->get_project_info();
    MORV_ASSERT(project_info != NULL);
    bool turned_off_for_reuse = false;
    if (project_info->get_effective_incremental_reuse_mode() > 0 && cfg_is_on("iwap_disable_fit_fsyn", true)) {
        morv_send_msg(morv_new_msg(MORV_MSG_IMORV_MORV_TURN_OFF_FIT_FSYN_FOR_IWAP));
        turned_off_for_reuse = true;
    }

    const bool disable_fit_fsyn = cfg_is_on("fsyn_disable_fit_fsyn", false);
    if (disable_fit_fsyn || turned_off_for_reuse) {
        for (int flow = FIT_EARLY_FSYN_FLOW; flow < NUM_FSYN_FLOWS; ++flow) m_fsyn_flow_is_enabled[flow] = false;
        if (disable_fit_fsyn)
            MORV_DEBUG_STREAM::print(1,
                                     "Warning: Fit-FSYN disabled by INI.  This will negatively impact QoR (I hope).");
    }
}

// ------------------------------------------------------------------ a family's own selection

// The selection of a family that is a migration target (MRL): the fitting
// settings, density, migration rules and the early-flow placement do not
// apply, and a compile that asks for nothing remaps LUT inputs.
void MORV_EXPERT::find_and_set_own_algorithms_to_run()
{
    m_fsyn_flow_is_enabled[SYN_EARLY_FSYN_FLOW] = false;
    m_fsyn_flow_is_enabled[FIT_EARLY_FSYN_FLOW] = false;
    m_fsyn_flow_is_enabled[LATE_FSYN_FLOW] = false;
    read_own_flow_mode_inputs();
    choose_own_flow_mode();
    if (cfg_is_on("fsyn_enable_debug_checkpoints", false) && !cfg_is_on("fsyn_debug_checkpoint_stop_late", false))
        m_fsyn_flow_is_enabled[LATE_FSYN_FLOW] = false;
    check_if_fsyn_flow_can_be_run();
}

void MORV_EXPERT::read_own_flow_mode_inputs()
{
    m_opx_async_pipelining = m_fsyn_api->get_bool_option(MORV_SETTING_ASYNC_PIPELINING);
    m_opx_register_duplication = m_fsyn_api->get_bool_option(MORV_SETTING_REGISTER_DUPLICATION);
    m_opx_register_retiming = m_fsyn_api->get_bool_option(MORV_SETTING_REGISTER_RETIMING);
    m_opx_comb_logic = m_fsyn_api->get_bool_option(MORV_SETTING_COMB_LOGIC);
    m_opx_physical_synthesis_effort = m_fsyn_api->get_enum_option(MORV_SETTING_EFFORT);
    m_opx_physical_synthesis_read_log = read_replay_log_name();
    m_opx_fsyn_test_string = m_fsyn_api->get_string_option(MORV_SETTING_TEST_STRING);
    m_sweeper_only = cfg_is_on("fsyn_netlist_sweeper", false);
    m_tune_strings = cfg_is_on("fsyn_tune_strings", false);
}

void MORV_EXPERT::choose_own_flow_mode()
{
    if (!m_opx_physical_synthesis_read_log.empty()) {
        m_flow_type = FSYN_REPLAY_LOG_FLOW;
        m_fsyn_flow_is_enabled[FIT_EARLY_FSYN_FLOW] = true;
    } else if (!m_opx_fsyn_test_string.empty()) {
        // Only the EARLY and LATE parts enable a flow point.
        m_flow_type = FSYN_TEST_STRING_FLOW;
        decode_and_parse_test_string();
        m_fsyn_flow_is_enabled[FIT_EARLY_FSYN_FLOW] = !m_test_string_early.empty();
        m_fsyn_flow_is_enabled[LATE_FSYN_FLOW] = !m_test_string_late.empty();
        for (int id = 0; id < ALGORITHM_END; ++id) m_algorithm_list[id] = true;
        const MORV_FAMILY_TRAITS& family = morv_family_traits(m_fsyn_api->get_base_family_code());
        warn_test_string_part_not_run("CLUSTER RETRY", m_test_string_cluster_retry, family);
        warn_test_string_part_not_run("POST CLUSTERING", m_test_string_post_clustering, family);
    } else if (m_opx_async_pipelining || m_opx_register_duplication || m_opx_comb_logic || m_opx_register_retiming) {
        m_flow_type = FSYN_USER_OPTION_FLOW;
        m_fsyn_flow_is_enabled[LATE_FSYN_FLOW] = true;
        if (m_opx_async_pipelining || m_opx_comb_logic || m_opx_register_retiming)
            m_fsyn_flow_is_enabled[FIT_EARLY_FSYN_FLOW] = true;
        set_user_option_algorithms_to_run();
    } else if (m_sweeper_only) {
        m_flow_type = FSYN_SWEEPER_ONLY_FLOW;
        m_fsyn_flow_is_enabled[LATE_FSYN_FLOW] = true;
    } else if (m_tune_strings) {
        m_flow_type = FSYN_TUNE_STRINGS_FLOW;
        const bool complete = tune_strings_are_complete();
        m_fsyn_flow_is_enabled[FIT_EARLY_FSYN_FLOW] = complete;
        m_fsyn_flow_is_enabled[LATE_FSYN_FLOW] = complete;
        const char* early = cfg_get_value("fsyn_tune_work_string_early");
        m_test_string_early = early != nullptr ? early : "";
        // The tune strings name their algorithms as a test string does; a
        // run of one that is not enabled would stop the compile.
        for (int id = 0; id < ALGORITHM_END; ++id) m_algorithm_list[id] = true;
    } else if (!cfg_is_on("fsyn_disable_lir_in_flat_flow", false) && m_morv_env->is_tdc_on()) {
        choose_flat_lir_mode();
    }
}

// LUT-input remapping alone, without a change log and without sweeping.
void MORV_EXPERT::choose_flat_lir_mode()
{
    MORV_DEBUG_STREAM::print(1, "Enabling FSYN - LIR for flat flow");
    MORV_DEBUG_STREAM::print(1, "Disabling log operations");
    MORV_DEBUG_STREAM::print(1, "Disabling the netlist sweeper");
    m_fsyn_flat_flow = true;
    m_fsyn_api->set_netlist_sweeper_enabled(false);
    m_flow_type = FSYN_DEFAULT_LIR_FLOW;
    m_fsyn_flow_is_enabled[FIT_EARLY_FSYN_FLOW] = true;
    m_algorithm_list[LIR_ALGORITHM] = true;
    MORV_CDB_INTERFACE* cdb_interface = m_fsyn_api->get_fsyn_cdb_interface();
    MORV_ASSERT_TEXT(cdb_interface, "m_fsyn_cdb_interface");
    cdb_interface->set_logging(false);
    cdb_interface->set_fsyn_log(nullptr);
}

// A part for a flow point the family does not run would be dropped
// without a word.
void MORV_EXPERT::warn_test_string_part_not_run(const char* flow_point, const std::string& part,
                                                const MORV_FAMILY_TRAITS& family)
{
    if (m_flow_type != FSYN_TEST_STRING_FLOW || part.empty()) return;
    MSG_W* msg = new MSG_W();
    msg->fill_args("The %1!s! part \"%2!s!\" of the physical synthesis test string does not run: the %3!s! family has "
                   "no %1!s! flow point/WMORV_FSYN_TEST_STRING_PART_NOT_RUN",
                   flow_point, part, family.m_name);
    morv_send_msg(msg);
}

// The design stops on an internal error when a flow point finds its tune
// string empty; here every switch the chosen flows will read is checked when
// the flow is chosen, and a missing one is the user's error, with no
// algorithm run. Found at its flow point, it would stop the compile halfway.
bool MORV_EXPERT::tune_strings_are_complete() const
{
    std::vector<const char*> needed = {"fsyn_tune_work_string_early"};
    if (m_morv_env->is_late_tune_allowed()) {
        const int effort = m_opx_physical_synthesis_effort;
        if (effort == MORV_EFFORT_NORMAL)
            needed.insert(needed.end(),
                          {"fsyn_tune_fast_threshold", "fsyn_tune_slow_threshold", "fsyn_tune_work_string_fast",
                           "fsyn_tune_work_string_normal_late", "fsyn_tune_work_string_normal"});
        else
            needed.insert(needed.end(), {"fsyn_tune_fast_threshold", "fsyn_tune_slow_threshold",
                                         effort == MORV_EFFORT_FAST    ? "fsyn_tune_work_string_fast"
                                         : effort == MORV_EFFORT_EXTRA ? "fsyn_tune_work_string_extra"
                                                                       : "fsyn_tune_work_string_normal"});
    }
    std::string missing;
    for (const char* key : needed) {
        const char* value = cfg_get_value(key);
        if (value == nullptr || value[0] == '\0') missing += std::string(missing.empty() ? "" : ", ") + key;
    }
    if (missing.empty()) return true;
    MSG_E* msg = new MSG_E();
    msg->fill_args("Physical synthesis tune strings (fsyn_tune_strings=on) at effort %1!d! need the switches %2!s! "
                   "set as well; no physical synthesis algorithm runs/EMORV_FSYN_TUNE_STRINGS_INCOMPLETE",
                   m_opx_physical_synthesis_effort, missing);
    morv_send_msg(msg);
    return false;
}

// Only a family that keeps a change log replays one: the file the setting
// names would otherwise be ignored without a word.
// A replay asked for without a file name would compile without it in
// silence: the compile is failed instead.
std::string MORV_EXPERT::read_replay_log_name() const
{
    if (!m_fsyn_api->is_fsyn_read_log_required()) return std::string();
    std::string name = m_fsyn_api->get_string_option(MORV_SETTING_READ_LOG);
    if (name.empty()) {
        const std::string reason = "setting " + std::to_string(static_cast<int>(MORV_SETTING_READ_LOG)) +
                                   " names no file; give the change log to replay, or OFF for none";
        morv_send_msg(morv_new_msg(MORV_MSG_EMORV_FSYN_LOG_FILE_NOT_FOUND, reason));
    }
    return name;
}

void MORV_EXPERT::warn_read_log_ignored(const MORV_FAMILY_TRAITS& family)
{
    if (morv_family_keeps_change_log(family) || !m_fsyn_api->is_read_log_setting_given()) return;
    const std::string read_log = m_fsyn_api->get_string_option(MORV_SETTING_READ_LOG);
    MSG_W* msg = new MSG_W();
    msg->fill_args("Physical synthesis replays no change log on the %1!s! family: the log file \"%2!s!\" named by "
                   "setting %3!d! is ignored/WMORV_FSYN_READ_LOG_IGNORED",
                   family.m_name, read_log, static_cast<int>(MORV_SETTING_READ_LOG));
    morv_send_msg(msg);
}

void MORV_EXPERT::refuse_post_clustering_with_xicp()
{
    if (m_flow_type != FSYN_TEST_STRING_FLOW || !m_use_xicp || !m_fsyn_flow_is_enabled[POST_CLUSTERING_FSYN_FLOW])
        return;
    m_fsyn_flow_is_enabled[POST_CLUSTERING_FSYN_FLOW] = false;
    MSG_E* msg = new MSG_E();
    msg->fill_args("The POST CLUSTERING part \"%1!s!\" of the physical synthesis test string cannot run while the "
                   "experimental ICP is on: the post-clustering flow of the %2!s! family does not support it; turn the "
                   "switch fsyn_disable_experimental_icp on to run it, or leave the "
                   "part empty./EMORV_FSYN_POST_CLUSTERING_WITH_XICP",
                   m_test_string_post_clustering, morv_family_traits(m_fsyn_api->get_base_family_code()).m_name);
    morv_send_msg(msg);
}
