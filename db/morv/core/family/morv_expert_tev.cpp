#include "morv/core/family/morv_expert_tev.h"

const char* const MORV_EXPERT_TEV::s_ALGORITHM_CLASS_NAMES[ALGORITHM_END] = {
    "MORV_RETIMING_TEV",          // RTM
    nullptr,                      // REMUX
    "MORV_RWR_TEV",               // RWR
    nullptr,                      // REG_PACK
    "MORV_REP_TEV",               // REP
    "MORV_TEST",                  // TEST
    "-",                          // REG_UNPACK
    "MORV_BDD_SYN_TEV",           // BDD_SYN
    "MORV_RAM_MAP",               // RAM_MAP
    "MORV_PIPE_ASYNC",            // PIPE_ASYNC
    "MORV_RESPLIT",               // RESPLIT
    "",                           // LIR
    "",                           // INV_PUSH
    "MORV_RESYN_TEV",             // RESYN
    "MORV_SAVE_RESTORE",          // SAVE_RESTORE
    "MORV_UTIL",                  // UTIL
    "MORV_MANUAL",                // MANUAL
    nullptr,                      // PIPELINE
};

MORV_EXPERT_TEV::MORV_EXPERT_TEV(MORV_ENV* env) : MORV_EXPERT(env)
{
    find_and_set_which_algorithms_are_to_run();
    finish_family_construction(true, true);
}

void MORV_EXPERT_TEV::set_user_option_algorithms_to_run() { apply_user_option_table({true, true, true, false, true}); }

bool MORV_EXPERT_TEV::create_and_run_algorithm(int algorithm_id, MORV_PARAMETER_MAP& parameters)
{
    return create_and_run_from_table(s_ALGORITHM_CLASS_NAMES, algorithm_id, parameters);
}
