#pragma once
// Incremental placement of atoms around an existing placement: atoms that
// sit where they no longer fit move to the nearest location with room, and
// atoms without a location go next to what they were made from or to the
// middle of their placed neighbours.

#include <cstdint>
#include <functional>
#include <vector>

class CDB_ATOM_NETLIST;
class DEV_DEVICE;

namespace morv_host {

struct HOST_LEGALIZE_RESULT
{
    int moved = 0;                  // placed atoms that had to move
    int placed = 0;                 // atoms without a location that got one
    std::vector<unsigned> changed;  // ids of every atom whose location changed
};

// Where the component asks a new atom to go: true with the LAB in x, y.
using HOST_PREFERRED_LAB = std::function<bool(uint32_t atom_id, int& x, int& y)>;

// origin_of: the atom a new atom was made from, 0 when none. preferred_of,
// when given, wins over the origin: the component that made the atom knows
// which LAB it belongs next to (a register moved across a cell sits by that
// cell, not where the register it replaces was). With `legalize` false only
// atoms without a location are placed. Older atoms keep their place: the
// newest ones are the ones that crowd in.
HOST_LEGALIZE_RESULT legalize_atoms(CDB_ATOM_NETLIST& netlist, const DEV_DEVICE& device, bool legalize,
                                    const std::function<uint32_t(uint32_t)>& origin_of,
                                    const HOST_PREFERRED_LAB& preferred_of = {});

}  // namespace morv_host
