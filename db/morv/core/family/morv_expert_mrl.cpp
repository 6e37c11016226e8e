#include "morv/core/family/morv_expert_mrl.h"

const char* const MORV_EXPERT_MRL::s_ALGORITHM_CLASS_NAMES[ALGORITHM_END] = {
    "MORV_RETIMING_MRL",          // RTM
    "MORV_REMUX",                 // REMUX
    "MORV_RWR_MRL",               // RWR
    nullptr,                      // REG_PACK
    "MORV_REP_MRL",               // REP
    "MORV_TEST",                  // TEST
    "MORV_REG_UNPACK",            // REG_UNPACK
    "MORV_BDD_SYN_MRL",           // BDD_SYN
    "!",                          // RAM_MAP
    "MORV_PIPE_ASYNC",            // PIPE_ASYNC
    "MORV_RESPLIT",               // RESPLIT
    "MORV_LIR",                   // LIR
    "MORV_INV_PUSH",              // INV_PUSH
    "MORV_RESYN_MRL",             // RESYN
    "MORV_SAVE_RESTORE",          // SAVE_RESTORE
    "MORV_UTIL",                  // UTIL
    "MORV_MANUAL",                // MANUAL
    nullptr,                      // PIPELINE
};

MORV_EXPERT_MRL::MORV_EXPERT_MRL(MORV_ENV* env) : MORV_EXPERT(env)
{
    find_and_set_which_algorithms_are_to_run();
    finish_family_construction(true, false);
}

void MORV_EXPERT_MRL::set_user_option_algorithms_to_run() { apply_user_option_table({false, false, true, true, false}); }

bool MORV_EXPERT_MRL::run_fsyn_replay_log_flow() { family_hook_missing("run_fsyn_replay_log_flow"); }

bool MORV_EXPERT_MRL::check_if_log_file_exists() { return check_replay_log_file("Fermlock II", "Talvane II"); }

bool MORV_EXPERT_MRL::create_and_run_algorithm(int algorithm_id, MORV_PARAMETER_MAP& parameters)
{
    return create_and_run_from_table(s_ALGORITHM_CLASS_NAMES, algorithm_id, parameters);
}
