#include "cfg/cfg.h"

#include <map>
#include <memory>

#include "cfg/cfg_file.h"

namespace {

// Values are held by unique_ptr so that the pointer handed out by
// cfg_get_value stays put when other keys are added.
using CFG_STORE = std::map<std::string, std::unique_ptr<std::string>, std::less<>>;

// Never destroyed: static destructors of other modules may still read
// settings during exit.
CFG_STORE& store()
{
    static CFG_STORE* s_store = new CFG_STORE;
    return *s_store;
}

}  // namespace

const char* cfg_get_value(const char* name)
{
    if (!name) return nullptr;
    auto it = store().find(std::string_view(name));
    return it == store().end() ? nullptr : it->second->c_str();
}

bool cfg_is_on(const char* name, bool default_value)
{
    const char* value = cfg_get_value(name);
    if (!value) return default_value;
    return cfg_parse_switch(value).value_or(false);
}

int cfg_get_int_value(const char* name, int default_value)
{
    const char* value = cfg_get_value(name);
    if (!value) return default_value;
    return cfg_parse_int(value).value_or(default_value);
}

void cfg_set_value(const char* name, const char* value)
{
    if (!name) return;
    auto& slot = store()[name];
    if (slot) *slot = value ? value : "";
    else slot = std::make_unique<std::string>(value ? value : "");
}

void cfg_unset(const char* name)
{
    if (!name) return;
    auto it = store().find(std::string_view(name));
    if (it != store().end()) store().erase(it);
}

void cfg_clear_all()
{
    store().clear();
}

void cfg_load_file(const char* path)
{
    const std::string file = path ? path : "";
    std::string error;
    const bool opened = cfg_read_settings_file(
        file,
        [](const CFG_FILE_LINE& line) {
            if (!line.has_equals) throw CFG_ERROR(line.where + ": expected key=value, got \"" + line.text + "\"");
            if (line.key.empty()) throw CFG_ERROR(line.where + ": empty key");
            cfg_set_value(line.key.c_str(), line.value.c_str());
        },
        CFG_FILE_BLANKS, &error);
    if (!opened) throw CFG_ERROR(file + ": cannot read the settings file: " + error);
}
