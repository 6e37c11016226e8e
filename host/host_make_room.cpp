#include "host_make_room.h"

#include <algorithm>
#include <unordered_set>

#include "cdb/cdb_atom_netlist.h"
#include "dev/dev_device.h"
#include "host_grid.h"

namespace morv_host {

HOST_ROOM_MAKER::HOST_ROOM_MAKER(const CDB_ATOM_NETLIST& netlist, const DEV_DEVICE& device, HOST_ITERM_SLACK slack_of,
                                 int floor_ps, const std::vector<unsigned>& newcomers)
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
        const int before =
            into_member ? m_device.get_routing_delay_ps(ax, ay, ox, oy) : m_device.get_routing_delay_ps(ox, oy, ax, ay);
        const int after =
            into_member ? m_device.get_routing_delay_ps(ax, ay, x, y) : m_device.get_routing_delay_ps(x, y, ax, ay);
        least = std::min(least, static_cast<long long>(slack) - (after - before));
    };
    for (auto it = member->begin_iterm(); it != member->end_iterm(); ++it)
        if ((*it)->get_source() != nullptr) take(*it, (*it)->get_source()->get_my_node(), true);
    for (auto ot = member->begin_oterm(); ot != member->end_oterm(); ++ot)
        for (auto f = (*ot)->begin_iterm_fanout(); f != (*ot)->end_iterm_fanout(); ++f)
            take(*f, (*f)->get_my_node(), false);
    return static_cast<int>(std::max<long long>(least, INT_MIN));
}

// Where a member of the copy's kind goes when the copy takes its slot: the
// nearest LAB with room once the copy is in. Every member of that kind goes
// to the same place, so the search runs once.
bool HOST_ROOM_MAKER::destination(HOST_OCCUPANCY& occupancy, const CDB_ATOM_NODE* member, const CDB_ATOM_NODE* copy,
                                  int x, int y, int* dx, int* dy) const
{
    occupancy.remove(member, x, y);
    occupancy.add(copy, x, y);
    int sub = -1;
    const bool found = occupancy.find_nearest(member, x, y, *dx, *dy, sub) && (*dx != x || *dy != y);
    occupancy.remove(copy, x, y);
    occupancy.add(member, x, y);
    return found;
}

// The member whose connections keep the most slack there leaves.
bool HOST_ROOM_MAKER::make_room(HOST_OCCUPANCY& occupancy, const CDB_ATOM_NODE* copy, int x, int y, int* sub,
                                std::vector<unsigned>* moved)
{
    if (m_floor == INT_MAX || x < 0 || y < 0 || lab(x, y) >= m_members.size()) return false;
    std::vector<CDB_ATOM_NODE*>& members = m_members[lab(x, y)];
    const PACK_KIND kind = host_pack_kind(copy);
    auto same_kind = [kind](const CDB_ATOM_NODE* m) { return host_pack_kind(m) == kind; };
    const auto first = std::find_if(members.begin(), members.end(), same_kind);
    int dx = -1, dy = -1;
    if (first == members.end() || !destination(occupancy, *first, copy, x, y, &dx, &dy)) return false;
    CDB_ATOM_NODE* best = nullptr;
    int best_left = m_floor;
    for (CDB_ATOM_NODE* m : members) {
        if (!same_kind(m)) continue;
        const int left = slack_left(m, dx, dy);
        if (left < best_left || (best != nullptr && left == best_left)) continue;
        best = m;
        best_left = left;
    }
    if (best == nullptr) return false;
    const int freed = best->get_sub_location();
    occupancy.remove(best, x, y);
    int dsub = -1;
    occupancy.has_room(best, dx, dy, &dsub);
    occupancy.add(best, dx, dy);
    best->set_location(dx, dy, dsub);
    members.erase(std::find(members.begin(), members.end(), best));
    m_members[lab(dx, dy)].push_back(best);
    moved->push_back(best->get_id());
    *sub = freed >= 0 ? freed : 0;
    return true;
}

}  // namespace morv_host
