#include "morv/core/family/morv_expert_brk.h"

#include "cfg/cfg.h"

const char* const MORV_EXPERT_BRK::s_ALGORITHM_CLASS_NAMES[ALGORITHM_END] = {
    "MORV_RETIMING_BRK",          // RTM
    "MORV_REMUX",                 // REMUX
    "MORV_RWR_BRK",               // RWR
    nullptr,                      // REG_PACK
    "MORV_REP_BRK",               // REP
    "MORV_TEST",                  // TEST
    "MORV_REG_UNPACK",            // REG_UNPACK
    "MORV_BDD_SYN_BRK",           // BDD_SYN
    "MORV_RAM_MAP",               // RAM_MAP
    "MORV_PIPE_ASYNC",            // PIPE_ASYNC
    "MORV_RESPLIT",               // RESPLIT
    "",                           // LIR
    "",                           // INV_PUSH
    "MORV_RESYN_BRK",             // RESYN
    "MORV_SAVE_RESTORE",          // SAVE_RESTORE
    "MORV_UTIL",                  // UTIL
    "MORV_MANUAL",                // MANUAL
    nullptr,                      // PIPELINE
};

MORV_EXPERT_BRK::MORV_EXPERT_BRK(MORV_ENV* env) : MORV_EXPERT(env)
{
    find_and_set_which_algorithms_are_to_run();
    finish_family_construction(true, true);
}

void MORV_EXPERT_BRK::set_user_option_algorithms_to_run() { apply_user_option_table({true, true, true, false, true}); }

bool MORV_EXPERT_BRK::run_fsyn_replay_log_flow() { return run_shared_replay_log_flow(); }

bool MORV_EXPERT_BRK::check_if_log_file_exists() { return check_replay_log_file("Talvane II", "Fermlock II"); }

bool MORV_EXPERT_BRK::create_and_run_algorithm(int algorithm_id, MORV_PARAMETER_MAP& parameters)
{
    // Only this family can swap in the skew-driven retiming engine.
    if (algorithm_id == RTM_ALGORITHM && cfg_is_on("fsyn_enable_new_retiming", false)) {
        const char* const names[1] = {"MORV_RTM"};
        return create_and_run_from_table(names, 0, parameters);
    }
    return create_and_run_from_table(s_ALGORITHM_CLASS_NAMES, algorithm_id, parameters);
}
