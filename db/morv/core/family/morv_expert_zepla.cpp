#include "morv/core/family/morv_expert_zepla.h"

const char* const MORV_EXPERT_ZEPLA::s_ALGORITHM_CLASS_NAMES[ALGORITHM_END] = {
    "MORV_RETIMING_ZEPLA",        // RTM
    nullptr,                      // REMUX
    "MORV_RWR_ZEPLA",             // RWR
    nullptr,                      // REG_PACK
    "MORV_REP_ZEPLA",             // REP
    "MORV_TEST",                  // TEST
    "-",                          // REG_UNPACK
    "MORV_BDD_SYN_ZEPLA",         // BDD_SYN
    "MORV_RAM_MAP",               // RAM_MAP
    "MORV_PIPE_ASYNC",            // PIPE_ASYNC
    "MORV_RESPLIT",               // RESPLIT
    "",                           // LIR
    "",                           // INV_PUSH
    "MORV_RESYN_ZEPLA",           // RESYN
    "MORV_SAVE_RESTORE",          // SAVE_RESTORE
    "MORV_UTIL",                  // UTIL
    "MORV_MANUAL",                // MANUAL
    nullptr,                      // PIPELINE
};

MORV_EXPERT_ZEPLA::MORV_EXPERT_ZEPLA(MORV_ENV* env) : MORV_EXPERT(env)
{
    find_and_set_which_algorithms_are_to_run();
    finish_family_construction(true, true);
}

void MORV_EXPERT_ZEPLA::set_user_option_algorithms_to_run() { apply_user_option_table({true, true, true, false, true}); }

bool MORV_EXPERT_ZEPLA::create_and_run_algorithm(int algorithm_id, MORV_PARAMETER_MAP& parameters)
{
    return create_and_run_from_table(s_ALGORITHM_CLASS_NAMES, algorithm_id, parameters);
}
