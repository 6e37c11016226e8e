#pragma once
// The compile's action point: project options, the chip's options,
// per-instance options, the name manager and the generated source files.

#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "hdb/hdb_options.h"

class HDB_INSTANCE_NAME;
class HDB_NAME_MGR;

// A file the compile generated and registered with the project.
struct HDB_SOURCE_FILE
{
    std::string name;
    int kind;
};

class HDB_ACTION_PT_INSTANCE
{
public:
    HDB_ACTION_PT_INSTANCE() = default;
    HDB_ACTION_PT_INSTANCE(const HDB_ACTION_PT_INSTANCE&) = delete;
    HDB_ACTION_PT_INSTANCE& operator=(const HDB_ACTION_PT_INSTANCE&) = delete;

    HDB_OPTION_SET& get_options() { return m_options; }
    const HDB_OPTION_SET& get_options() const { return m_options; }
    HDB_OPTION_SET& get_chip() { return m_chip_options; }
    const HDB_OPTION_SET& get_chip() const { return m_chip_options; }

    // Options of one instance, keyed by the instance's hierarchy path (its
    // short path): a restored netlist re-creates its name objects, and its
    // instances must keep their options. get_instance_options answers
    // nullptr when the instance has none (also for a null name).
    HDB_OPTION_SET& edit_instance_options(const HDB_INSTANCE_NAME* inst);
    HDB_OPTION_SET& edit_instance_options(const std::string& short_path);
    const HDB_OPTION_SET* get_instance_options(const HDB_INSTANCE_NAME* inst) const;
    const HDB_OPTION_SET* get_instance_options(const std::string& short_path) const;
    void clear_instance_options(const HDB_INSTANCE_NAME* inst);
    void clear_all_instance_options();
    bool has_instance_options() const { return !m_instance_options.empty(); }

    HDB_NAME_MGR* get_name_mgr() const { return m_name_mgr; }
    // The instance name of that text (a short path, or a path from the
    // root); null when there is none or no name manager.
    HDB_INSTANCE_NAME* get_instance_name(std::string_view text) const;
    void set_name_mgr(HDB_NAME_MGR* name_mgr) { m_name_mgr = name_mgr; }

    // Registers a generated file; the record lives as long as this object.
    HDB_SOURCE_FILE* create_source_file(const std::string& name, int kind);
    const std::vector<std::unique_ptr<HDB_SOURCE_FILE>>& get_source_files() const { return m_source_files; }

private:
    HDB_OPTION_SET m_options;
    HDB_OPTION_SET m_chip_options;
    std::unordered_map<std::string, HDB_OPTION_SET> m_instance_options;
    HDB_NAME_MGR* m_name_mgr = nullptr;
    std::vector<std::unique_ptr<HDB_SOURCE_FILE>> m_source_files;
};
