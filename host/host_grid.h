#pragma once
// Which atoms go where on the device grid, and how full each location is.
// Shared by the placer's adapter and by the environment's incremental
// placement so that both agree on capacities.

#include <cstddef>
#include <string>
#include <vector>

#include "host_cluster.h"

class CDB_ATOM_NODE;
class DEV_DEVICE;

namespace morv_host {

enum HOST_SITE_CLASS : int
{
    HOST_SITE_LAB = 0,
    HOST_SITE_IO = 1,
    HOST_SITE_RAM = 2,  // a small RAM block; any RAM block for an atom
    HOST_SITE_DSP = 3,
    HOST_SITE_RAM_MEDIUM = 4,
    HOST_SITE_RAM_LARGE = 5,
    HOST_SITE_CLASSES = 6
};

// I/O cells one I/O location holds.
constexpr int HOST_IO_SLOTS = 4;

PACK_KIND host_pack_kind(const CDB_ATOM_NODE* node);
// Site class an atom needs (a LAB for logic and for unknown blocks).
int host_site_class_of(const CDB_ATOM_NODE* node);
// Site class of a device block type, -1 when nothing is placed there.
int host_site_class_of_block(int block_type);
// Site class of a location: RAM sites by the kind of their block.
int host_site_class_at(const DEV_DEVICE& device, int x, int y);
// The RAM block kind (DEV_RAM_BLOCK_*) of a RAM site class, 0 for another class.
int host_ram_kind_of_class(int site_class);
// What the device makes of the atom's locked region (its corners checked
// already): empty when the region lies on the grid and holds a site of the
// atom's kind, else what is wrong. `whose` names the atom ("'r0'", "atom 5").
std::string host_check_region_on_device(const CDB_ATOM_NODE& atom, const std::string& whose, const DEV_DEVICE& device);
// I/O cells the device holds: HOST_IO_SLOTS at each I/O location.
size_t host_io_cells(const DEV_DEVICE& device);

// RAMs share a block when they are slices of one logical RAM: same
// logical name, depth and clock.
bool host_rams_share_block(const CDB_ATOM_NODE* a, const CDB_ATOM_NODE* b);
// How many slices like `ram` a block of the kind holds; 0 when one does not fit.
int host_rams_per_block(const DEV_DEVICE& device, int kind, const CDB_ATOM_NODE* ram);

class HOST_OCCUPANCY
{
public:
    explicit HOST_OCCUPANCY(const DEV_DEVICE& device);
    void add(const CDB_ATOM_NODE* node, int x, int y);
    // Undoes an add of a logic cell or register (what makes room in a LAB).
    void remove(const CDB_ATOM_NODE* node, int x, int y);
    // Is there room for node at (x, y); sub receives the slot it would take.
    bool has_room(const CDB_ATOM_NODE* node, int x, int y, int* sub) const;
    // Nearest location to (tx, ty) by Manhattan distance with room for node
    // (ties: scan order, deterministic); false when the device is full.
    bool find_nearest(const CDB_ATOM_NODE* node, int tx, int ty, int& x, int& y, int& sub) const;

private:
    struct CELL
    {
        int combs = 0, regs = 0, others = 0;
        const CDB_ATOM_NODE* ram = nullptr;  // the first RAM slice of a RAM site
    };
    bool ram_has_room(const CDB_ATOM_NODE* node, int x, int y, const CELL& c) const;
    const DEV_DEVICE& m_dev;
    int m_nx, m_ny, m_cap;
    std::vector<CELL> m_cells;
};

}  // namespace morv_host
