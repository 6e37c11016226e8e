#pragma once

// Which cells of each kardel region come last in netlist order, kept current
// across the component's edits so that moving a new node into a region does
// not walk the whole netlist each time.
//
// Netlist order is creation order, and atom ids grow with it and are never
// reused, so the last cell of a region is its cell with the largest id.

#include <cstdint>
#include <map>
#include <unordered_map>

class CDB_ATOM_NODE;

class MORV_KARDEL_INDEX
{
public:
    bool is_valid() const { return m_valid; }
    // Forgets every region; the next query rebuilds from the netlist.
    void invalidate()
    {
        m_cells.clear();
        m_valid = false;
    }
    void mark_valid() { m_valid = true; }
    // Region -1 (none) is ignored.
    void add(CDB_ATOM_NODE* node, int region);
    void remove(const CDB_ATOM_NODE* node, int region);
    // The region's last cell other than `except`, or null.
    CDB_ATOM_NODE* last_cell(int region, const CDB_ATOM_NODE* except) const;

private:
    std::unordered_map<int, std::map<uint64_t, CDB_ATOM_NODE*>> m_cells;
    bool m_valid = false;
};
