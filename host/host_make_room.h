#pragma once
// Room for a copy in a full LAB. The component puts a copy where its
// critical sinks and inputs are closest, and those LABs are the ones the
// clustering filled. As an incremental placer would, the member of the LAB
// that loses least by leaving goes to the nearest LAB with room, provided
// every connection it has keeps enough slack where it lands.

#include <climits>
#include <functional>
#include <vector>

class CDB_ATOM_ITERM;
class CDB_ATOM_NETLIST;
class CDB_ATOM_NODE;
class DEV_DEVICE;

namespace morv_host {

class HOST_OCCUPANCY;

// Slack of the connection into an atom's input, INT_MAX when unknown.
using HOST_ITERM_SLACK = std::function<int(const CDB_ATOM_ITERM*)>;

class HOST_ROOM_MAKER
{
public:
    // Members are the placed atoms that are not in `newcomers` (atom ids):
    // a newcomer never makes room for another. `floor_ps`: the least slack
    // a moved member's connections may be left with; INT_MAX (nothing
    // timed) moves no member.
    HOST_ROOM_MAKER(const CDB_ATOM_NETLIST& netlist, const DEV_DEVICE& device, HOST_ITERM_SLACK slack_of, int floor_ps,
                    const std::vector<unsigned>& newcomers);

    // Moves one member of LAB (x, y) out so that `copy` fits there: true
    // with the member's new location set, occupancy updated for the member
    // (not for the copy), the slot the copy takes in sub and the member's
    // id appended to moved.
    bool make_room(HOST_OCCUPANCY& occupancy, const CDB_ATOM_NODE* copy, int x, int y, int* sub,
                   std::vector<unsigned>* moved);

    // The least slack the member's connections keep when it moves from its
    // LAB to (x, y); INT_MAX when none is timed.
    int slack_left(const CDB_ATOM_NODE* member, int x, int y) const;

private:
    size_t lab(int x, int y) const;
    bool destination(HOST_OCCUPANCY& occupancy, const CDB_ATOM_NODE* member, const CDB_ATOM_NODE* copy, int x, int y,
                     int* dx, int* dy) const;

    const DEV_DEVICE& m_device;
    HOST_ITERM_SLACK m_slack_of;
    int m_floor;
    int m_ny;
    std::vector<std::vector<CDB_ATOM_NODE*>> m_members;  // by LAB, x * height + y
};

}  // namespace morv_host
