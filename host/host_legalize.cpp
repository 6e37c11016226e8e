#include "host_legalize.h"

#include <algorithm>

#include "cdb/cdb_atom_netlist.h"
#include "dev/dev_device.h"
#include "host_grid.h"

namespace morv_host {

namespace {

// Where a new atom should go: its origin, else the middle of its placed
// neighbours, else the middle of the chip.
void aim(const CDB_ATOM_NETLIST& netlist, const DEV_DEVICE& dev, const CDB_ATOM_NODE* n, uint32_t origin_id, int& tx,
         int& ty)
{
    if (const CDB_ATOM_NODE* origin = origin_id ? netlist.get_node_by_id(origin_id) : nullptr;
        origin && origin->get_lab_x() >= 0) {
        tx = origin->get_lab_x();
        ty = origin->get_lab_y();
        return;
    }
    long sx = 0, sy = 0, count = 0;
    auto take = [&](const CDB_ATOM_NODE* o) {
        if (o && o != n && o->get_lab_x() >= 0) {
            sx += o->get_lab_x();
            sy += o->get_lab_y();
            ++count;
        }
    };
    for (auto it = n->begin_iterm(); it != n->end_iterm(); ++it)
        if ((*it)->get_source()) take((*it)->get_source()->get_my_node());
    for (auto ot = n->begin_oterm(); ot != n->end_oterm(); ++ot)
        for (auto f = (*ot)->begin_iterm_fanout(); f != (*ot)->end_iterm_fanout(); ++f) take((*f)->get_my_node());
    if (count > 0) {
        tx = static_cast<int>((sx + count / 2) / count);
        ty = static_cast<int>((sy + count / 2) / count);
    } else {
        tx = dev.get_nx() / 2;
        ty = dev.get_ny() / 2;
    }
}

}  // namespace

HOST_LEGALIZE_RESULT legalize_atoms(CDB_ATOM_NETLIST& netlist, const DEV_DEVICE& dev, bool legalize,
                                    const std::function<uint32_t(uint32_t)>& origin_of,
                                    const HOST_PREFERRED_LAB& preferred_of)
{
    HOST_LEGALIZE_RESULT r;
    HOST_OCCUPANCY occ(dev);
    std::vector<CDB_ATOM_NODE*> placed_atoms, unplaced, displaced;
    for (CDB_ATOM_NODE* n : netlist) (n->get_lab_x() >= 0 ? placed_atoms : unplaced).push_back(n);
    if (legalize)
        std::stable_sort(placed_atoms.begin(), placed_atoms.end(),
                         [](const CDB_ATOM_NODE* a, const CDB_ATOM_NODE* b) { return a->get_id() < b->get_id(); });
    for (CDB_ATOM_NODE* n : placed_atoms) {
        if (legalize && !occ.has_room(n, n->get_lab_x(), n->get_lab_y(), nullptr)) displaced.push_back(n);
        else occ.add(n, n->get_lab_x(), n->get_lab_y());
    }
    auto place_near = [&](CDB_ATOM_NODE* n, int tx, int ty) {
        int x = -1, y = -1, sub = -1;
        if (!occ.find_nearest(n, tx, ty, x, y, sub)) return false;
        n->set_location(x, y, sub);
        occ.add(n, x, y);
        r.changed.push_back(n->get_id());
        return true;
    };
    for (CDB_ATOM_NODE* n : displaced) {
        const int tx = std::clamp(n->get_lab_x(), 0, std::max(0, dev.get_nx() - 1));
        const int ty = std::clamp(n->get_lab_y(), 0, std::max(0, dev.get_ny() - 1));
        // Nowhere to go: leave it where it was rather than unplace it.
        if (place_near(n, tx, ty)) ++r.moved;
        else occ.add(n, n->get_lab_x(), n->get_lab_y());
    }
    for (CDB_ATOM_NODE* n : unplaced) {
        int tx = -1, ty = -1;
        const bool preferred = preferred_of && preferred_of(n->get_id(), tx, ty) && tx >= 0 && ty >= 0 &&
                               tx < dev.get_nx() && ty < dev.get_ny();
        if (!preferred) aim(netlist, dev, n, origin_of ? origin_of(n->get_id()) : 0, tx, ty);
        if (place_near(n, tx, ty)) ++r.placed;  // on a full device the atom stays unplaced
    }
    return r;
}

}  // namespace morv_host
