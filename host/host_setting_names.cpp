#include "host_setting_names.h"

#include "morv/core/morv_setting_ids.h"

#include <string>

namespace morv_host {

const std::vector<HOST_SETTING_NAME>& host_setting_names()
{
    static const std::string k_effort = "the lists' effort: " + std::to_string(MORV_EFFORT_FAST) + " fast, " +
                                        std::to_string(MORV_EFFORT_NORMAL) + " normal, " +
                                        std::to_string(MORV_EFFORT_EXTRA) + " extra (as --effort)";
    // The six on/off settings come first, in the order --help lists them.
    static const std::vector<HOST_SETTING_NAME> k_names = {
        {"physical_synthesis_combinational", MORV_SETTING_COMB_LOGIC, true,
         "resynthesis (BDD_SYN, RWR, RESYN; on MRL also LIR, INV_PUSH), duplication (REP), resplitting (RESPLIT)"},
        {"physical_synthesis_fitting", MORV_SETTING_COMB_LOGIC_FOR_FITTING, true,
         "fanout resplitting (RESPLIT) when the design does not fit (not on MRL, UVO)"},
        {"physical_synthesis_ram_mapping", MORV_SETTING_LOGIC_TO_MEMORY, true,
         "logic-to-RAM mapping (RAM_MAP) when the design does not fit (not on MRL, UVO)"},
        {"physical_synthesis_async_pipelining", MORV_SETTING_ASYNC_PIPELINING, true,
         "pipelining of synchronised asynchronous resets (PIPE_ASYNC)"},
        {"physical_synthesis_register_duplication", MORV_SETTING_REGISTER_DUPLICATION, true,
         "register and logic duplication (REP)"},
        {"physical_synthesis_register_retiming", MORV_SETTING_REGISTER_RETIMING, true, "register retiming (RTM)"},
        {"physical_synthesis_effort", MORV_SETTING_EFFORT, false, k_effort.c_str()},
        {"physical_synthesis_test_string", MORV_SETTING_TEST_STRING, false,
         "run these algorithms instead of the default lists (as --test-string)"},
        {"physical_synthesis_replay_log", MORV_SETTING_READ_LOG, false,
         "replay this stored change log on a migration device"},
    };
    return k_names;
}

int host_setting_id_of_name(const std::string& name)
{
    for (const HOST_SETTING_NAME& n : host_setting_names())
        if (name == n.name) return n.id;
    return -1;
}

std::string host_setting_names_help()
{
    std::string text = "settings by name (--set NAME=VALUE or NAME=VALUE in a settings file; the number works too):\n";
    for (const HOST_SETTING_NAME& n : host_setting_names()) {
        text += std::string("  ") + n.name + " (" + std::to_string(n.id) + (n.optimisation ? ", on/off" : "") + ")\n";
        text += std::string("      ") + n.effect + "\n";
    }
    return text;
}

}  // namespace morv_host
