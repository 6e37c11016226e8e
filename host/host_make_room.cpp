#include "host_make_room.h"

#include <algorithm>
#include <unordered_set>

#include "cdb/cdb_atom_netlist.h"
#include "dev/dev_device.h"
#include "host_grid.h"

namespace morv_host {

HOST_ROOM_MAKER::HOST_ROOM_MAKER(const CDB_ATOM_NETLIST& netlist, const DEV_DEVICE& device,
                                 HOST_ITERM_SLACK slack_of, int floor_ps, const std::vector<unsigned>& newcomers)
    : m_device(device), m_slack_of(std::move(slack_of)), m_floor(floor_ps), m_ny(device.get_ny()),
      m_members(static_cast<size_t>(device.get_nx()) * static_cast<size_t>(device.get_ny()))
{
    const std::unordered_set<unsigned> skip(newcomers.begin(), newcomers.end());
    for (CDB_ATOM_NODE* n : netlist) {
        const int x = n->get_lab_x(), y = n->get_lab_y();
        if (x < 0 || y < 0 || x >= device.get_nx() || y >= m_ny || skip.count(n->get_id()) != 0) continue;
        const PACK_KIND kind = host_pack_kind(n);
        if (kind == PACK_KIND::COMB || kind == PACK_KIND::REG || kind == PACK_KIND::LCELL)
            m_members[lab(x, y)].push_back(n);
    }
}

size_t HOST_ROOM_MAKER::lab(int x, int y) const
{
    return static_cast<size_t>(x) * static_cast<size_t>(m_ny) + static_cast<size_t>(y);
}

int HOST_ROOM_MAKER::slack_left(const CDB_ATOM_NODE* member, int x, int y) const
{
    const int ox = member->get_lab_x(), oy = member->get_lab_y();
    long long least = INT_MAX;
    auto take = [&](const CDB_ATOM_ITERM* iterm, const CDB_ATOM_NODE* other, bool into_member) {
        if (other == nullptr || other == member || other->get_lab_x() < 0) return;
        const int slack = m_slack_of(iterm);
        if (slack == INT_MAX) return;
        const int ax = other->get_lab_x(), ay = other->get_lab_y();
        const int before = into_member ? m_device.get_routing_delay_ps(ax, ay, ox, oy)
                                       : m_device.get_routing_delay_ps(ox, oy, ax, ay);
        const int after = into_member ? m_device.get_routing_delay_ps(ax, ay, x, y)
                                      : m_device.get_routing_delay_ps(x, y, ax, ay);
        least = std::min(least, static_cast<long long>(slack) - (after - before));
    };
    for (auto it = member->begin_iterm(); it != member->end_iterm(); ++it)
        if ((*it)->get_source() != nullptr) take(*it, (*it)->get_source()->get_my_node(), true);
    for (auto ot = member->begin_oterm(); ot != member->end_oterm(); ++ot)
        for (auto f = (*ot)->begin_iterm_fanout(); f != (*ot)->end_iterm_fanout(); ++f)
            take(*f, (*f)->get_my_node(), false);
    return static_cast<int>(std::max<long long>(least, INT_MIN));
}

// Every member of the copy's kind is tried where the copy would push it; the
// one whose connections keep the most slack leaves.
bool HOST_ROOM_MAKER::make_room(HOST_OCCUPANCY& occupancy, const CDB_ATOM_NODE* copy, int x, int y, int* sub,
                                std::vector<unsigned>* moved)
{
    if (m_floor == INT_MAX || x < 0 || y < 0 || lab(x, y) >= m_members.size()) return false;
    std::vector<CDB_ATOM_NODE*>& members = m_members[lab(x, y)];
    const PACK_KIND kind = host_pack_kind(copy);
    CDB_ATOM_NODE* best = nullptr;
    int best_left = m_floor, best_x = -1, best_y = -1;
    for (CDB_ATOM_NODE* m : members) {
        if (host_pack_kind(m) != kind) continue;
        occupancy.remove(m, x, y);
        occupancy.add(copy, x, y);
        int nx = -1, ny = -1, nsub = -1;
        const bool found = occupancy.find_nearest(m, x, y, nx, ny, nsub) && (nx != x || ny != y);
        occupancy.remove(copy, x, y);
        occupancy.add(m, x, y);
        if (!found) continue;
        const int left = slack_left(m, nx, ny);
        if (left < best_left || (best != nullptr && left == best_left)) continue;
        best = m;
        best_left = left;
        best_x = nx;
        best_y = ny;
    }
    if (best == nullptr) return false;
    const int freed = best->get_sub_location();
    occupancy.remove(best, x, y);
    int nsub = -1;
    occupancy.has_room(best, best_x, best_y, &nsub);
    occupancy.add(best, best_x, best_y);
    best->set_location(best_x, best_y, nsub);
    members.erase(std::find(members.begin(), members.end(), best));
    m_members[lab(best_x, best_y)].push_back(best);
    moved->push_back(best->get_id());
    *sub = freed >= 0 ? freed : 0;
    return true;
}

}  // namespace morv_host
