#include "morv/core/family/morv_expert_family.h"

#include "morv/core/family/morv_default_lists.h"

#include "cfg/cfg.h"
#include "msg/msg.h"

template <int FAMILY>
const MORV_FAMILY_DRIVER_TRAITS& MORV_EXPERT_FAMILY<FAMILY>::driver()
{
    return *morv_family_traits(FAMILY).m_driver;
}

template <int FAMILY>
const MORV_DEFAULT_LISTS& MORV_EXPERT_FAMILY<FAMILY>::lists()
{
    return *driver().m_default_lists;
}

template <int FAMILY>
MORV_EXPERT_FAMILY<FAMILY>::MORV_EXPERT_FAMILY(MORV_ENV* env) : MORV_EXPERT(env)
{
    find_and_set_which_algorithms_are_to_run();
    finish_family_construction(driver().m_sets_xicp, driver().m_sets_nevra);
    refuse_post_clustering_with_xicp();
    legalize_entering_netlist();
}

template <int FAMILY>
void MORV_EXPERT_FAMILY<FAMILY>::find_and_set_which_algorithms_are_to_run()
{
    if (driver().m_own_mode_selection) find_and_set_own_algorithms_to_run();
    else MORV_EXPERT::find_and_set_which_algorithms_are_to_run();
}

template <int FAMILY>
const char* MORV_EXPERT_FAMILY<FAMILY>::get_family_class_name() const
{
    return driver().m_class_name;
}

template <int FAMILY>
void MORV_EXPERT_FAMILY<FAMILY>::set_user_option_algorithms_to_run()
{
    apply_user_option_table(driver().m_user_options);
}

template <int FAMILY>
bool MORV_EXPERT_FAMILY<FAMILY>::run_fsyn_replay_log_flow()
{
    switch (driver().m_replay) {
    case MORV_REPLAY_SHARED: return run_shared_replay_log_flow();
    case MORV_REPLAY_OWN: return run_legalizing_replay_log_flow();
    case MORV_REPLAY_UNREACHABLE:
        MSG_INTERNAL_ERROR::report(driver().m_unreachable_replay_text, "MORV", __FILE__, __LINE__);
    default: return MORV_EXPERT::run_fsyn_replay_log_flow();
    }
}

template <int FAMILY>
bool MORV_EXPERT_FAMILY<FAMILY>::check_if_log_file_exists()
{
    if (driver().m_replay_target_device == nullptr) return MORV_EXPERT::check_if_log_file_exists();
    return check_replay_log_file(driver().m_replay_target_device, driver().m_replay_source_device);
}

template <int FAMILY>
bool MORV_EXPERT_FAMILY<FAMILY>::run_fsyn_flat_flow(e_fsyn_flow fsyn_flow_id)
{
    run_shared_flat_flow(fsyn_flow_id);
    return true;
}

template <int FAMILY>
void MORV_EXPERT_FAMILY<FAMILY>::add_cluster_retry_fsyn_algorithms()
{
    add_cluster_retry_list(lists());
}

template <int FAMILY>
void MORV_EXPERT_FAMILY<FAMILY>::add_syn_early_fsyn_algorithms()
{
    add_syn_early_list(lists());
}

template <int FAMILY>
void MORV_EXPERT_FAMILY<FAMILY>::add_fit_early_fsyn_algorithms(e_fsyn_flow)
{
    add_fit_early_list(lists());
}

template <int FAMILY>
void MORV_EXPERT_FAMILY<FAMILY>::add_late_fsyn_algorithms_for_circuit_characteristic()
{
    append_run_list(lists().m_late_characteristic);
}

template <int FAMILY>
void MORV_EXPERT_FAMILY<FAMILY>::add_late_fsyn_algorithms()
{
    add_late_list(lists());
}

template <int FAMILY>
bool MORV_EXPERT_FAMILY<FAMILY>::tune_stability_threshold()
{
    return !lists().m_checks_early_stability || check_early_timing_model_stability();
}

template <int FAMILY>
void MORV_EXPERT_FAMILY<FAMILY>::run_netlist_sweeper()
{
    run_family_netlist_sweeper();
}

template <int FAMILY>
bool MORV_EXPERT_FAMILY<FAMILY>::create_and_run_algorithm(int algorithm_id, MORV_PARAMETER_MAP& parameters)
{
    if (driver().m_new_retiming && algorithm_id == RTM_ALGORITHM && cfg_is_on("fsyn_enable_new_retiming", false)) {
        const char* const names[1] = {"MORV_RTM"};
        return create_and_run_from_table(names, 0, parameters);
    }
    return create_and_run_from_table(driver().m_algorithm_class_names, algorithm_id, parameters);
}

template class MORV_EXPERT_FAMILY<DEV_FAMILY_BRENNOCK>;
template class MORV_EXPERT_FAMILY<DEV_FAMILY_ZEPLA>;
template class MORV_EXPERT_FAMILY<DEV_FAMILY_TEV>;
template class MORV_EXPERT_FAMILY<DEV_FAMILY_MORLIN>;
template class MORV_EXPERT_FAMILY<DEV_FAMILY_KESTLIN>;
template class MORV_EXPERT_FAMILY<DEV_FAMILY_RZK>;
template class MORV_EXPERT_FAMILY<DEV_FAMILY_OBRAN>;
template class MORV_EXPERT_FAMILY<DEV_FAMILY_UVO>;
