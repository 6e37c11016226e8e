#pragma once

// One saved state of physical synthesis (the netlist on disk plus the
// facade's bookkeeping) and the host-supplied stack of them.

#include <cstdint>
#include <set>
#include <vector>

#include "mem_alloc_sys.h"

struct MORV_CHIP_MAP_IMAGE;
struct MORV_CLUSTER_MAP_IMAGE;
class MORV_LOG;
class MORV_NT;
class MORV_ATOM_SAVE_RESTORE;
class CDB_CHIP_DB_ENTRY;
struct MORV_STATS;

class MORV_SAVE_RESTORE_SNAPSHOT
{
public:
    explicit MORV_SAVE_RESTORE_SNAPSHOT(int id);
    // The snapshot owns what it saved: a copy would free it twice.
    MORV_SAVE_RESTORE_SNAPSHOT(const MORV_SAVE_RESTORE_SNAPSHOT&) = delete;
    MORV_SAVE_RESTORE_SNAPSHOT& operator=(const MORV_SAVE_RESTORE_SNAPSHOT&) = delete;
    // Whatever the state still holds goes with it.
    virtual ~MORV_SAVE_RESTORE_SNAPSHOT();

    // Frees the facade's share (everything but the netlist on disk and the
    // entry vector) and leaves those members empty.
    void release_facade_share();

    // The maps as images: a compile keeps several states at once.
    MORV_OWNER<MORV_CHIP_MAP_IMAGE> m_chip_map;
    MORV_OWNER<MORV_CLUSTER_MAP_IMAGE> m_cluster_map;
    MORV_OWNER<MORV_STATS> m_stats;
    MORV_OWNER<MORV_LOG> m_log;
    MORV_OWNER<MORV_ATOM_SAVE_RESTORE> m_atom_save_restore;
    MORV_OWNER<std::set<int>> m_modified_atoms_for_icp;
    MORV_OWNER<MORV_NT> m_nt;
    // Each atom's chip-database entry, atoms by ascending id. A design has
    // few distinct entries: an atom keeps the index of its own among them.
    struct CHIP_ENTRY_OF
    {
        uint32_t m_atom_id;
        uint32_t m_entry;
    };
    std::vector<CHIP_ENTRY_OF> m_chip_entry_of;
    std::vector<CDB_CHIP_DB_ENTRY*> m_chip_entries;
    int m_id;
};

// The netlists the SAVE_RESTORE algorithm saved in one compile: entry i
// holds a save id (INVALID_NETLIST once restored) and the figure of merit of
// the netlist when it was saved. The facade owns them, so they end with the
// compile whose snapshots their ids point into.
struct MORV_SAVE_RESTORE_TABLES
{
    static constexpr int INVALID_NETLIST = -1;

    bool empty() const { return m_saved_netlists.empty(); }
    int size() const { return static_cast<int>(m_saved_netlists.size()); }
    void clear()
    {
        std::vector<int>().swap(m_saved_netlists);
        std::vector<double>().swap(m_saved_foms);
    }

    std::vector<int> m_saved_netlists;
    std::vector<double> m_saved_foms;
};

class MORV_SAVE_RESTORE_MGR
{
public:
    MORV_SAVE_RESTORE_MGR() {}
    MORV_SAVE_RESTORE_MGR(const MORV_SAVE_RESTORE_MGR&) = delete;
    MORV_SAVE_RESTORE_MGR& operator=(const MORV_SAVE_RESTORE_MGR&) = delete;
    virtual ~MORV_SAVE_RESTORE_MGR();
    // The host's manager creates a snapshot, pushes it on the stack and returns it.
    virtual MORV_SAVE_RESTORE_SNAPSHOT* create_snapshot() = 0;

    MORV_SAVE_RESTORE_SNAPSHOT* get_snapshot_at_position(int position) const;
    int get_number_of_snapshots() const { return static_cast<int>(m_snapshots_stack.size()); }

protected:
    std::vector<MORV_SAVE_RESTORE_SNAPSHOT*> m_snapshots_stack;  // owned
};
