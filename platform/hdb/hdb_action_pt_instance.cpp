#include "hdb/hdb_action_pt_instance.h"

HDB_OPTION_SET& HDB_ACTION_PT_INSTANCE::edit_instance_options(const HDB_INSTANCE_NAME* inst) {
    return m_instance_options[inst];
}

const HDB_OPTION_SET* HDB_ACTION_PT_INSTANCE::get_instance_options(const HDB_INSTANCE_NAME* inst) const {
    auto it = m_instance_options.find(inst);
    return it == m_instance_options.end() ? nullptr : &it->second;
}

void HDB_ACTION_PT_INSTANCE::clear_instance_options(const HDB_INSTANCE_NAME* inst) { m_instance_options.erase(inst); }

void HDB_ACTION_PT_INSTANCE::clear_all_instance_options() { m_instance_options.clear(); }

HDB_SOURCE_FILE* HDB_ACTION_PT_INSTANCE::create_source_file(const std::string& name, int kind) {
    m_source_files.push_back(std::make_unique<HDB_SOURCE_FILE>(HDB_SOURCE_FILE{name, kind}));
    return m_source_files.back().get();
}
