#pragma once

// Writes the chip's atom netlist and the design hierarchy to archive files,
// reads them back in place of the live netlist, and deletes the files when
// the saved state is dropped.

#include <string>
#include <vector>

class MORV_ENV;

class MORV_ATOM_SAVE_RESTORE
{
public:
    MORV_ATOM_SAVE_RESTORE(MORV_ENV* env, int netlist_id, int partition_id);
    ~MORV_ATOM_SAVE_RESTORE();
    MORV_ATOM_SAVE_RESTORE(const MORV_ATOM_SAVE_RESTORE&) = delete;
    MORV_ATOM_SAVE_RESTORE& operator=(const MORV_ATOM_SAVE_RESTORE&) = delete;

    bool save(int netlist_id);
    bool restore(int file_type);

    int get_netlist_id() const { return m_netlist_id; }
    std::string get_netlist_archive_name() const;
    std::string get_hierarchy_archive_name() const;
    // File of the boundary-port manager's own data.
    std::string get_boundary_port_file_name() const;
    // Every file a save writes.
    std::vector<std::string> get_saved_files() const;

private:
    MORV_ENV* m_env;
    int m_netlist_id;
    int m_partition_id;
};
