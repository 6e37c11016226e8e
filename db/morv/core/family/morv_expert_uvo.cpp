#include "morv/core/family/morv_expert_uvo.h"

const char* const MORV_EXPERT_UVO::s_ALGORITHM_CLASS_NAMES[ALGORITHM_END] = {
    "MORV_RETIMING_UVO",          // RTM
    nullptr,                      // REMUX
    "MORV_RWR_UVO",               // RWR
    nullptr,                      // REG_PACK
    "MORV_REP_UVO",               // REP
    "MORV_TEST",                  // TEST
    "MORV_REG_UNPACK",            // REG_UNPACK
    "MORV_BDD_SYN_UVO",           // BDD_SYN
    "MORV_RAM_MAP",               // RAM_MAP
    "MORV_PIPE_ASYNC",            // PIPE_ASYNC
    "MORV_RESPLIT",               // RESPLIT
    "",                           // LIR
    "",                           // INV_PUSH
    "MORV_RESYN_UVO",             // RESYN
    "MORV_SAVE_RESTORE",          // SAVE_RESTORE
    "MORV_UTIL",                  // UTIL
    "MORV_MANUAL",                // MANUAL
    nullptr,                      // PIPELINE
};

MORV_EXPERT_UVO::MORV_EXPERT_UVO(MORV_ENV* env) : MORV_EXPERT(env)
{
    find_and_set_which_algorithms_are_to_run();
    finish_family_construction(false, false);
}

void MORV_EXPERT_UVO::set_user_option_algorithms_to_run() { apply_user_option_table({false, false, false, false, false}); }

bool MORV_EXPERT_UVO::create_and_run_algorithm(int algorithm_id, MORV_PARAMETER_MAP& parameters)
{
    return create_and_run_from_table(s_ALGORITHM_CLASS_NAMES, algorithm_id, parameters);
}
