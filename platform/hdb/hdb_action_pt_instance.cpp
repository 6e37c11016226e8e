#include "hdb/hdb_action_pt_instance.h"

#include <filesystem>

#include "hdb/hdb_instance_name.h"
#include "msg/msg.h"

HDB_OPTION_SET& HDB_ACTION_PT_INSTANCE::edit_instance_options(const HDB_INSTANCE_NAME* inst)
{
    MSG_ASSERT(inst, "HDB");
    return edit_instance_options(inst->get_short_hpath());
}

HDB_OPTION_SET& HDB_ACTION_PT_INSTANCE::edit_instance_options(const std::string& short_path)
{
    return m_instance_options[short_path];
}

const HDB_OPTION_SET* HDB_ACTION_PT_INSTANCE::get_instance_options(const HDB_INSTANCE_NAME* inst) const
{
    return inst ? get_instance_options(inst->get_short_hpath()) : nullptr;
}

const HDB_OPTION_SET* HDB_ACTION_PT_INSTANCE::get_instance_options(const std::string& short_path) const
{
    auto it = m_instance_options.find(short_path);
    return it == m_instance_options.end() ? nullptr : &it->second;
}

void HDB_ACTION_PT_INSTANCE::clear_instance_options(const HDB_INSTANCE_NAME* inst)
{
    if (inst) m_instance_options.erase(inst->get_short_hpath());
}

void HDB_ACTION_PT_INSTANCE::clear_all_instance_options()
{
    m_instance_options.clear();
}

HDB_SOURCE_FILE* HDB_ACTION_PT_INSTANCE::create_source_file(const std::string& name, int kind)
{
    // A generated file goes into the project's folders, which the project
    // has from its start; the stand-in makes them when the first file is
    // registered. A folder that cannot be made shows when the file is written.
    const std::filesystem::path folder = std::filesystem::path(name).parent_path();
    if (!folder.empty()) {
        std::error_code ec;
        std::filesystem::create_directories(folder, ec);
    }
    m_source_files.push_back(std::make_unique<HDB_SOURCE_FILE>(HDB_SOURCE_FILE{name, kind}));
    return m_source_files.back().get();
}

HDB_INSTANCE_NAME* HDB_ACTION_PT_INSTANCE::get_instance_name(std::string_view text) const
{
    return m_name_mgr != nullptr ? m_name_mgr->find_name(text) : nullptr;
}
