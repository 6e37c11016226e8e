#pragma once
// The compiler facade: what the running compile tells the component about
// itself. The stand-in compiler and tests fill it with the setters.

#include <string>

#include "rdb/rdb.h"

class CDB_CMP_ENTRY;
class HDB_ACTION_PT_INSTANCE;

class CMP_FACADE
{
public:
    // Device family numbers (the base family code selects per-family code).
    int get_base_family_code() const { return m_base_family_code; }
    int get_family_code() const { return m_family_code; }
    void set_base_family_code(int code) { m_base_family_code = code; }
    void set_family_code(int code) { m_family_code = code; }

    const char* get_project_name() const { return m_project_name.c_str(); }
    void set_project_name(const std::string& name) { m_project_name = name; }
    // Base name of the compile's files ("db/<base>.cmp.psl" and so on).
    const char* get_compile_base_name() const { return m_compile_base_name.c_str(); }
    void set_compile_base_name(const std::string& name) { m_compile_base_name = name; }
    // Project directory ("." unless set).
    const char* get_project_directory() const { return m_project_directory.c_str(); }
    void set_project_directory(const std::string& dir) { m_project_directory = dir; }

    bool is_check_io_only() const { return m_check_io_only; }
    void set_check_io_only(bool on) { m_check_io_only = on; }
    bool is_limited_fsyn_mode() const { return m_limited_fsyn_mode; }
    void set_limited_fsyn_mode(bool on) { m_limited_fsyn_mode = on; }

    HDB_ACTION_PT_INSTANCE* get_action_point_instance() const { return m_action_point; }
    void set_action_point_instance(HDB_ACTION_PT_INSTANCE* ap) { m_action_point = ap; }
    CDB_CMP_ENTRY* get_cmp_entry() const { return m_cmp_entry; }
    void set_cmp_entry(CDB_CMP_ENTRY* entry) { m_cmp_entry = entry; }

    // The compile's report: the tables its stages file.
    RDB_REPORT* get_report() { return &m_report; }

private:
    int m_base_family_code = -1;
    int m_family_code = -1;
    std::string m_project_name;
    std::string m_compile_base_name;
    std::string m_project_directory = ".";
    bool m_check_io_only = false;
    bool m_limited_fsyn_mode = false;
    HDB_ACTION_PT_INSTANCE* m_action_point = nullptr;
    CDB_CMP_ENTRY* m_cmp_entry = nullptr;
    RDB_REPORT m_report;
};
