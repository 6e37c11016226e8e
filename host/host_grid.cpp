#include "host_grid.h"

#include <cstdlib>

#include "cdb/cdb_atom_node.h"
#include "dev/dev_device.h"

namespace morv_host {

PACK_KIND host_pack_kind(const CDB_ATOM_NODE* n)
{
    if (n->is_pin() || n->is_clkbuf()) return PACK_KIND::IO;
    if (n->is_lcell()) return PACK_KIND::LCELL;
    if (n->is_lcell_comb() || n->is_lcell_hsadder()) return PACK_KIND::COMB;
    if (n->is_register()) return PACK_KIND::REG;
    return PACK_KIND::SOLO;
}

int host_site_class_of(const CDB_ATOM_NODE* n)
{
    if (n->is_pin() || n->is_clkbuf()) return HOST_SITE_IO;
    if (n->is_ram()) return HOST_SITE_RAM;
    if (n->is_mac_mult() || n->is_mac_out()) return HOST_SITE_DSP;
    return HOST_SITE_LAB;
}

int host_site_class_of_block(int t)
{
    if (dev_is_usable_lab_type(t)) return HOST_SITE_LAB;
    if (t == DEV_BLOCK_IO) return HOST_SITE_IO;
    if (t == DEV_BLOCK_RAM) return HOST_SITE_RAM;
    if (t == DEV_BLOCK_DSP) return HOST_SITE_DSP;
    return -1;
}

HOST_OCCUPANCY::HOST_OCCUPANCY(const DEV_DEVICE& device)
    : m_dev(device), m_nx(device.get_nx()), m_ny(device.get_ny()), m_cap(device.get_lab_capacity()),
      m_cells(static_cast<size_t>(m_nx) * m_ny)
{}

void HOST_OCCUPANCY::add(const CDB_ATOM_NODE* node, int x, int y)
{
    if (x < 0 || y < 0 || x >= m_nx || y >= m_ny) return;
    CELL& c = m_cells[static_cast<size_t>(x) * m_ny + y];
    switch (host_pack_kind(node)) {
    case PACK_KIND::COMB: ++c.combs; break;
    case PACK_KIND::REG: ++c.regs; break;
    case PACK_KIND::LCELL:
        ++c.combs;
        ++c.regs;
        break;
    default: ++c.others; break;
    }
}

bool HOST_OCCUPANCY::has_room(const CDB_ATOM_NODE* node, int x, int y, int* sub) const
{
    if (x < 0 || y < 0 || x >= m_nx || y >= m_ny) return false;
    const int cls = host_site_class_of(node);
    if (host_site_class_of_block(m_dev.get_block_type(x, y, 0)) != cls) return false;
    const CELL& c = m_cells[static_cast<size_t>(x) * m_ny + y];
    int slot = -1;
    switch (host_pack_kind(node)) {
    case PACK_KIND::COMB:
        if (c.combs < m_cap && c.others == 0) slot = c.combs;
        break;
    case PACK_KIND::REG:
        if (c.regs < m_cap && c.others == 0) slot = c.regs;
        break;
    case PACK_KIND::LCELL:
        if (c.combs < m_cap && c.regs < m_cap && c.others == 0) slot = c.combs;
        break;
    case PACK_KIND::IO:
        if (c.others < HOST_IO_SLOTS) slot = c.others;
        break;
    case PACK_KIND::SOLO:
        if (c.combs == 0 && c.regs == 0 && c.others == 0) slot = 0;
        break;
    }
    if (slot < 0) return false;
    if (sub) *sub = slot;
    return true;
}

bool HOST_OCCUPANCY::find_nearest(const CDB_ATOM_NODE* node, int tx, int ty, int& x, int& y, int& sub) const
{
    const int rmax = m_nx + m_ny;
    for (int r = 0; r <= rmax; ++r)
        for (int dx = -r; dx <= r; ++dx) {
            const int dy = r - std::abs(dx);
            for (int sign : {1, -1}) {
                if (sign < 0 && dy == 0) break;
                const int cx = tx + dx, cy = ty + sign * dy;
                if (has_room(node, cx, cy, &sub)) {
                    x = cx;
                    y = cy;
                    return true;
                }
            }
        }
    return false;
}

}  // namespace morv_host
