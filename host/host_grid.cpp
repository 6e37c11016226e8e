#include "host_grid.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <utility>

#include "cdb/cdb_atom_node.h"
#include "cdb/cdb_native_checks.h"
#include "cdb/cdb_types.h"
#include "cut/cut_block_util.h"
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

int host_site_class_at(const DEV_DEVICE& device, int x, int y)
{
    const int cls = host_site_class_of_block(device.get_block_type(x, y, 0));
    if (cls != HOST_SITE_RAM) return cls;
    switch (device.get_ram_block_kind(x, y)) {
    case DEV_RAM_BLOCK_MEDIUM: return HOST_SITE_RAM_MEDIUM;
    case DEV_RAM_BLOCK_LARGE: return HOST_SITE_RAM_LARGE;
    default: return HOST_SITE_RAM;
    }
}

namespace {

// What a site of the class is called, as the user reads it.
const char* site_class_name(int site_class)
{
    switch (site_class) {
    case HOST_SITE_LAB: return "LAB";
    case HOST_SITE_IO: return "I/O cell";
    case HOST_SITE_DSP: return "DSP block";
    default: return "RAM block";
    }
}

}  // namespace

// A region reaching past the device's grid holds sites that are not there,
// and one without a site of the atom's kind (a LAB for logic, an I/O cell
// for a pin) has no place for it: the user meant another device or other
// corners.
std::string host_check_region_on_device(const CDB_ATOM_NODE& atom, const std::string& whose, const DEV_DEVICE& device)
{
    const CDB_ATOM_ASSIGNMENTS& a = atom.get_assignments();
    if (a.locked_x2 >= device.get_nx() || a.locked_y2 >= device.get_ny())
        return cdb_locked_region_text(a) + " of " + whose + " reaches past the device's grid (0, 0) - (" +
               std::to_string(device.get_nx() - 1) + ", " + std::to_string(device.get_ny() - 1) + ")";
    const int needed = host_site_class_of(&atom);
    for (int x = a.locked_x1; x <= a.locked_x2; ++x)
        for (int y = a.locked_y1; y <= a.locked_y2; ++y) {
            const int site = host_site_class_at(device, x, y);
            // An atom's RAM takes a block of any size.
            if (site == needed || (needed == HOST_SITE_RAM && host_ram_kind_of_class(site) != 0)) return {};
        }
    return cdb_locked_region_text(a) + " of " + whose + " holds no " + site_class_name(needed) +
           " of the device, and the atom needs one";
}

size_t host_io_cells(const DEV_DEVICE& device)
{
    size_t cells = 0;
    for (int x = 0; x < device.get_nx(); ++x)
        for (int y = 0; y < device.get_ny(); ++y)
            if (host_site_class_at(device, x, y) == HOST_SITE_IO) cells += HOST_IO_SLOTS;
    return cells;
}

int host_ram_kind_of_class(int site_class)
{
    switch (site_class) {
    case HOST_SITE_RAM: return DEV_RAM_BLOCK_SMALL;
    case HOST_SITE_RAM_MEDIUM: return DEV_RAM_BLOCK_MEDIUM;
    case HOST_SITE_RAM_LARGE: return DEV_RAM_BLOCK_LARGE;
    default: return 0;
    }
}

namespace {

// The port-A clock of a RAM as a driver and an inversion.
std::pair<const CDB_ATOM_OTERM*, bool> ram_clock(const CDB_ATOM_NODE* ram)
{
    const CDB_ATOM_ITERM* clock = ram->get_input_term_by_type(DB_RAM_CLK0);
    if (clock == nullptr) return {nullptr, false};
    return {clock->get_source(), clock->is_inverted()};
}

}  // namespace

bool host_rams_share_block(const CDB_ATOM_NODE* a, const CDB_ATOM_NODE* b)
{
    if (!a || !b || !a->is_ram() || !b->is_ram()) return false;
    return CUT_RAM_UTIL::get_logical_name_str(a) == CUT_RAM_UTIL::get_logical_name_str(b) &&
           CUT_RAM_UTIL::get_slice_depth(a, 0) == CUT_RAM_UTIL::get_slice_depth(b, 0) && ram_clock(a) == ram_clock(b);
}

int host_rams_per_block(const DEV_DEVICE& device, int kind, const CDB_ATOM_NODE* ram)
{
    if (ram == nullptr || !ram->is_ram()) return 0;
    const long long block_bits = device.get_ram_block_bits(kind);
    const long long slice_bits =
        CUT_RAM_UTIL::get_slice_depth(ram, 0) * std::max(CUT_RAM_UTIL::get_slice_width(ram, 0), 1);
    return static_cast<int>(std::min<long long>(block_bits / std::max(slice_bits, 1LL), INT_MAX));
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
    default:
        if (c.ram == nullptr && node->is_ram()) c.ram = node;
        ++c.others;
        break;
    }
}

void HOST_OCCUPANCY::remove(const CDB_ATOM_NODE* node, int x, int y)
{
    if (x < 0 || y < 0 || x >= m_nx || y >= m_ny) return;
    CELL& c = m_cells[static_cast<size_t>(x) * m_ny + y];
    const PACK_KIND kind = host_pack_kind(node);
    if (kind == PACK_KIND::COMB || kind == PACK_KIND::LCELL) c.combs = std::max(0, c.combs - 1);
    if (kind == PACK_KIND::REG || kind == PACK_KIND::LCELL) c.regs = std::max(0, c.regs - 1);
}

// Slices share a RAM block up to what its kind holds, and only with slices
// that may share one.
bool HOST_OCCUPANCY::ram_has_room(const CDB_ATOM_NODE* node, int x, int y, const CELL& c) const
{
    if (c.others >= host_rams_per_block(m_dev, m_dev.get_ram_block_kind(x, y), node)) return false;
    return c.others == 0 || host_rams_share_block(c.ram, node);
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
        if (node->is_ram()) {
            if (ram_has_room(node, x, y, c)) slot = c.others;
        } else if (c.combs == 0 && c.regs == 0 && c.others == 0) slot = 0;
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
