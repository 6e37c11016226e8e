#pragma once
// The host's names for the component's physical-synthesis project settings.
// A settings line or --set may give either the name or the number; the
// numbers stay the settings' identity (morv/core/morv_setting_ids.h).

#include <string>
#include <vector>

namespace morv_host {

struct HOST_SETTING_NAME
{
    const char* name;
    int id;
    bool optimisation;   // one of the on/off settings --optimize turns on
    const char* effect;  // what the setting selects, for --help
};

const std::vector<HOST_SETTING_NAME>& host_setting_names();

// The id of a named setting; -1 when no setting has that name.
int host_setting_id_of_name(const std::string& name);

// The --help section listing every name with its number and effect.
std::string host_setting_names_help();

}  // namespace morv_host
