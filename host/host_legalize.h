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

// origin_of: the atom a new atom was made from, 0 when none. With
// `legalize` false only atoms without a location are placed. Older atoms
// keep their place: the newest ones are the ones that crowd in.
HOST_LEGALIZE_RESULT legalize_atoms(CDB_ATOM_NETLIST& netlist, const DEV_DEVICE& device, bool legalize,
                                    const std::function<uint32_t(uint32_t)>& origin_of);

}  // namespace morv_host
