#include "hdb/hdb_options.h"

#include "cfg/cfg_file.h"
#include "hdb/hdb_action_pt_instance.h"

namespace {

std::optional<bool> as_bool(const std::string* text)
{
    return text ? cfg_parse_switch(*text) : std::nullopt;
}

std::optional<int> as_int(const std::string* text)
{
    return text ? cfg_parse_int(*text) : std::nullopt;
}

const HDB_OPTION_SET* project_set(const HDB_ACTION_PT_INSTANCE* ap)
{
    return ap ? &ap->get_options() : nullptr;
}

const HDB_OPTION_SET* instance_set(const HDB_ACTION_PT_INSTANCE* ap, const HDB_INSTANCE_NAME* inst)
{
    return ap && inst ? ap->get_instance_options(inst) : nullptr;
}

const std::string* text_of(const HDB_OPTION_SET* options, int id)
{
    return options ? options->find_text(id) : nullptr;
}

}  // namespace

// ---------------------------------------------------------------- HDB_OPTION_SET

void HDB_OPTION_SET::set_bool(int id, bool value)
{
    m_values[id] = value ? "on" : "off";
}
void HDB_OPTION_SET::set_int(int id, int value)
{
    m_values[id] = std::to_string(value);
}
void HDB_OPTION_SET::set_string(int id, const std::string& value)
{
    m_values[id] = value;
}
void HDB_OPTION_SET::unset(int id)
{
    m_values.erase(id);
}
void HDB_OPTION_SET::clear()
{
    m_values.clear();
}
bool HDB_OPTION_SET::has(int id) const
{
    return m_values.count(id) != 0;
}

const std::string* HDB_OPTION_SET::find_text(int id) const
{
    auto it = m_values.find(id);
    return it == m_values.end() ? nullptr : &it->second;
}

void HDB_OPTION_SET::load_file(const char* path)
{
    const std::string file = path ? path : "";
    std::string error;
    const bool opened = cfg_read_settings_file(
        file,
        [this](const CFG_FILE_LINE& line) {
            if (!line.has_equals) throw HDB_OPTION_ERROR(line.where + ": expected id=value, got \"" + line.text + "\"");
            const std::string& id_text = line.key;
            const std::optional<int> id = cfg_parse_int(id_text);
            if (!id || *id < 0 || id_text.front() == '+' || id_text.front() == '-')
                throw HDB_OPTION_ERROR(line.where + ": option id \"" + id_text + "\" is not a number");
            m_values[*id] = line.value;
        },
        CFG_FILE_BLANKS, &error);
    if (!opened) throw HDB_OPTION_ERROR(file + ": cannot read the option settings file: " + error);
}

// ---------------------------------------------------------------- typed readers

std::optional<bool> HDB_BOOL_OPTION::get_bool_option(const HDB_OPTION_SET* options, int id)
{
    return as_bool(text_of(options, id));
}
std::optional<bool> HDB_BOOL_OPTION::get_bool_option(const HDB_ACTION_PT_INSTANCE* ap, int id)
{
    return get_bool_option(project_set(ap), id);
}
std::optional<bool> HDB_BOOL_OPTION::get_bool_option(const HDB_ACTION_PT_INSTANCE* ap, const HDB_INSTANCE_NAME* inst,
                                                     int id)
{
    return get_bool_option(instance_set(ap, inst), id);
}

std::optional<int> HDB_INT_OPTION::get_int_option(const HDB_OPTION_SET* options, int id)
{
    return as_int(text_of(options, id));
}
std::optional<int> HDB_INT_OPTION::get_int_option(const HDB_ACTION_PT_INSTANCE* ap, int id)
{
    return get_int_option(project_set(ap), id);
}
std::optional<int> HDB_INT_OPTION::get_int_option(const HDB_ACTION_PT_INSTANCE* ap, const HDB_INSTANCE_NAME* inst,
                                                  int id)
{
    return get_int_option(instance_set(ap, inst), id);
}

std::optional<int> HDB_ENUM_OPTION::get_enum_option(const HDB_OPTION_SET* options, int id)
{
    return as_int(text_of(options, id));
}
std::optional<int> HDB_ENUM_OPTION::get_enum_option(const HDB_ACTION_PT_INSTANCE* ap, int id)
{
    return get_enum_option(project_set(ap), id);
}
std::optional<int> HDB_ENUM_OPTION::get_enum_option(const HDB_ACTION_PT_INSTANCE* ap, const HDB_INSTANCE_NAME* inst,
                                                    int id)
{
    return get_enum_option(instance_set(ap, inst), id);
}

std::optional<std::string> HDB_STRING_OPTION::get_string_option(const HDB_OPTION_SET* options, int id)
{
    const std::string* text = text_of(options, id);
    if (!text) return std::nullopt;
    return *text;
}
std::optional<std::string> HDB_STRING_OPTION::get_string_option(const HDB_ACTION_PT_INSTANCE* ap, int id)
{
    return get_string_option(project_set(ap), id);
}
std::optional<std::string> HDB_STRING_OPTION::get_string_option(const HDB_ACTION_PT_INSTANCE* ap,
                                                                const HDB_INSTANCE_NAME* inst, int id)
{
    return get_string_option(instance_set(ap, inst), id);
}
