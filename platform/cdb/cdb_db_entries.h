#pragma once
// The compile's database entries: action-point entry -> entries ->
// chip entry per partition -> atom netlist, and hierarchy entries -> the
// levels of the design hierarchy the atoms lie in. Every link is a plain
// pointer that may be null; none of these objects owns what it points to.

#include <unordered_map>
#include <vector>

class CDB_ATOM_NETLIST;
class HDB_HIERARCHY;

class CDB_CHIP_DB_ENTRY
{
public:
    CDB_ATOM_NETLIST* get_atom_netlist() const { return m_atom_netlist; }
    void set_atom_netlist(CDB_ATOM_NETLIST* netlist) { m_atom_netlist = netlist; }

private:
    CDB_ATOM_NETLIST* m_atom_netlist = nullptr;
};

// The levels of the design hierarchy that the atoms lie in. The name
// manager owns the levels: a restored netlist lies in the levels of the
// manager restored with it, and whoever restores it lists those.
class CDB_HIERARCHY_DB_ENTRY
{
public:
    std::vector<HDB_HIERARCHY*>& get_atom_hierarchy_list() { return m_atom_hierarchies; }

private:
    std::vector<HDB_HIERARCHY*> m_atom_hierarchies;
};

class CDB_DB_ENTRIES
{
public:
    // Null when the partition has no chip entry.
    CDB_CHIP_DB_ENTRY* get_chip_db_entry(int partition_id) const;
    void set_chip_db_entry(int partition_id, CDB_CHIP_DB_ENTRY* entry);  // null removes it
    // Null when there is no hierarchy entry of that index.
    CDB_HIERARCHY_DB_ENTRY* get_hierarchy_db_entry(int index) const;
    void set_hierarchy_db_entry(int index, CDB_HIERARCHY_DB_ENTRY* entry);  // null removes it

private:
    std::unordered_map<int, CDB_CHIP_DB_ENTRY*> m_chip_entries;
    std::unordered_map<int, CDB_HIERARCHY_DB_ENTRY*> m_hierarchy_entries;
};

class CDB_CMP_ENTRY
{
public:
    CDB_DB_ENTRIES* get_db_entries() const { return m_db_entries; }
    void set_db_entries(CDB_DB_ENTRIES* entries) { m_db_entries = entries; }

private:
    CDB_DB_ENTRIES* m_db_entries = nullptr;
};
