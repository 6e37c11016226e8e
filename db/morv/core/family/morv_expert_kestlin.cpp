#include "morv/core/family/morv_expert_kestlin.h"

#include "msg/msg.h"

const char* const MORV_EXPERT_KESTLIN::s_ALGORITHM_CLASS_NAMES[ALGORITHM_END] = {
    "MORV_RETIMING_KESTLIN",      // RTM
    "MORV_REMUX",                 // REMUX
    "MORV_RWR_KESTLIN",           // RWR
    nullptr,                      // REG_PACK
    "MORV_REP_KESTLIN",           // REP
    "MORV_TEST",                  // TEST
    "MORV_REG_UNPACK",            // REG_UNPACK
    "MORV_BDD_SYN_KESTLIN",       // BDD_SYN
    "MORV_RAM_MAP",               // RAM_MAP
    "MORV_PIPE_ASYNC",            // PIPE_ASYNC
    "MORV_RESPLIT",               // RESPLIT
    "",                           // LIR
    "",                           // INV_PUSH
    "MORV_RESYN_KESTLIN",         // RESYN
    "MORV_SAVE_RESTORE",          // SAVE_RESTORE
    "MORV_UTIL",                  // UTIL
    "MORV_MANUAL",                // MANUAL
    nullptr,                      // PIPELINE
};

MORV_EXPERT_KESTLIN::MORV_EXPERT_KESTLIN(MORV_ENV* env) : MORV_EXPERT(env)
{
    find_and_set_which_algorithms_are_to_run();
    finish_family_construction(true, true);
}

void MORV_EXPERT_KESTLIN::set_user_option_algorithms_to_run() { apply_user_option_table({true, true, true, false, false}); }

bool MORV_EXPERT_KESTLIN::run_fsyn_replay_log_flow()
{
    MSG_INTERNAL_ERROR::report("We shouldn't get here.", "MORV", __FILE__, __LINE__);
}

bool MORV_EXPERT_KESTLIN::check_if_log_file_exists() { return check_replay_log_file("Talvane II", "Fermlock II"); }

bool MORV_EXPERT_KESTLIN::create_and_run_algorithm(int algorithm_id, MORV_PARAMETER_MAP& parameters)
{
    return create_and_run_from_table(s_ALGORITHM_CLASS_NAMES, algorithm_id, parameters);
}
