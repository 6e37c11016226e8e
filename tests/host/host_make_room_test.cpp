// Room for a copy in a full LAB: which member leaves, where it goes, and when
// none may.

#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "dev/dev_device.h"
#include "fixture_netlist.h"
#include "host_env.h"
#include "host_grid.h"
#include "host_make_room.h"

namespace host_make_room_test {

using namespace morv_host;

namespace {

std::string numbered(const char* stem, int i)
{
    return stem + std::to_string(i);
}

// A LAB full of LUTs m0.. that each read the pin a and drive the pin o<i>,
// plus the register r in the same LAB and a copy cp placed nowhere yet. The
// LAB and its four neighbours take logic.
struct FULL_LAB
{
    FULL_LAB()
    {
        FIXTURE_NETLIST f(CDB_FAMILY_BRK);
        CDB_ATOM_OTERM* a = f.input("a");
        const int capacity = DEV_DEVICE(DEV_FAMILY_BRENNOCK).get_lab_capacity();
        for (int i = 0; i < capacity; ++i)
            members.push_back(f.output(numbered("o", i), f.lut(numbered("m", i), {a}, 0x1))->get_input_term(0));
        reg = f.reg("r", a, f.input("clk"))->get_my_node();
        copy = f.lut("cp", {a}, 0x2)->get_my_node();
        f.output("oc", copy->get_output_term(0));
        design = std::make_unique<HOST_DESIGN>(CDB_FAMILY_BRK, f.release());
        const DEV_DEVICE& dev = device();
        for (x = 4; x + 1 < dev.get_nx(); ++x)
            for (y = 2; y + 1 < dev.get_ny(); ++y)
                if (all_lab(dev)) {
                    place();
                    return;
                }
        ADD_FAILURE() << "no LAB with four LAB neighbours";
    }
    bool all_lab(const DEV_DEVICE& dev) const
    {
        for (auto [dx, dy] : {std::pair{0, 0}, {1, 0}, {-1, 0}, {0, 1}, {0, -1}})
            if (host_site_class_at(dev, x + dx, y + dy) != HOST_SITE_LAB) return false;
        return true;
    }
    // The pins sit three LABs left of the full LAB.
    void place()
    {
        occupancy = std::make_unique<HOST_OCCUPANCY>(device());
        for (CDB_ATOM_NODE* n : *design->netlist()) {
            if (n == copy) continue;
            if (n->is_pin()) n->set_location(x - 3, y, 0);
            else n->set_location(x, y, n == reg ? 0 : member_index(n));
            occupancy->add(n, n->get_lab_x(), n->get_lab_y());
        }
    }
    int member_index(const CDB_ATOM_NODE* n) const
    {
        for (size_t i = 0; i < members.size(); ++i)
            if (members[i]->get_source()->get_my_node() == n) return static_cast<int>(i);
        return -1;
    }
    CDB_ATOM_NODE* member(int i) const { return members[static_cast<size_t>(i)]->get_source()->get_my_node(); }
    const DEV_DEVICE& device() { return *design->device(); }
    // Member i's input from a has 100 * i ps of slack, its output
    // 50 * i + 20; nothing else is timed.
    HOST_ITERM_SLACK slacks() const
    {
        return [this](const CDB_ATOM_ITERM* iterm) {
            for (size_t i = 0; i < members.size(); ++i)
                if (members[i] == iterm) return 50 * static_cast<int>(i) + 20;
            const int i = member_index(iterm->get_my_node());
            return i >= 0 ? 100 * i : INT_MAX;
        };
    }
    HOST_ROOM_MAKER maker(int floor, const std::vector<unsigned>& newcomers = {})
    {
        std::vector<unsigned> ids = newcomers;
        ids.push_back(copy->get_id());
        return HOST_ROOM_MAKER(*design->netlist(), device(), slacks(), floor, ids);
    }

    std::vector<CDB_ATOM_ITERM*> members;  // the output pins' inputs, one per member
    CDB_ATOM_NODE* reg = nullptr;
    CDB_ATOM_NODE* copy = nullptr;
    std::unique_ptr<HOST_DESIGN> design;
    std::unique_ptr<HOST_OCCUPANCY> occupancy;
    int x = 0, y = 0;
};

}  // namespace

// The member whose input keeps the most slack leaves for a neighbouring LAB
// and the copy takes its slot; the LAB is full again once the copy is in.
TEST(HostMakeRoom, TheMemberWithMostSlackLeftMovesNextDoor)
{
    FULL_LAB lab;
    const int last = static_cast<int>(lab.members.size()) - 1;
    CDB_ATOM_NODE* leaver = lab.member(last);
    ASSERT_FALSE(lab.occupancy->has_room(lab.copy, lab.x, lab.y, nullptr));
    HOST_ROOM_MAKER room = lab.maker(0);
    int sub = -1;
    std::vector<unsigned> moved;
    ASSERT_TRUE(room.make_room(*lab.occupancy, lab.copy, lab.x, lab.y, &sub, &moved));
    EXPECT_EQ(moved, std::vector<unsigned>{leaver->get_id()});
    EXPECT_EQ(sub, last);
    EXPECT_EQ(std::abs(leaver->get_lab_x() - lab.x) + std::abs(leaver->get_lab_y() - lab.y), 1);
    EXPECT_TRUE(lab.occupancy->has_room(lab.copy, lab.x, lab.y, nullptr));
    lab.occupancy->add(lab.copy, lab.x, lab.y);
    EXPECT_FALSE(lab.occupancy->has_room(lab.member(0), lab.x, lab.y, nullptr));
    for (int i = 0; i < last; ++i) EXPECT_EQ(lab.member(i)->get_lab_x(), lab.x) << i;
    EXPECT_EQ(lab.reg->get_lab_x(), lab.x);
}

// What a member keeps: the least over its connections of the slack less the
// longer route, as both pins sit in one place that of its output for m5
// (270 ps) and of its input for m0 (0 ps). One LAB nearer the pins shortens
// both routes; one farther lengthens them by the same hop.
TEST(HostMakeRoom, SlackLeftIsTheSlackLessTheLongerRoute)
{
    FULL_LAB lab;
    HOST_ROOM_MAKER room = lab.maker(0);
    const DEV_DEVICE& dev = lab.device();
    const int px = lab.x - 3, py = lab.y;
    const int hop = dev.get_routing_delay_ps(px, py, lab.x + 1, lab.y) - dev.get_routing_delay_ps(px, py, lab.x, lab.y);
    EXPECT_GT(hop, 0);
    EXPECT_EQ(room.slack_left(lab.member(5), lab.x + 1, lab.y), 270 - hop);
    EXPECT_EQ(room.slack_left(lab.member(5), lab.x - 1, lab.y), 270 + hop);
    EXPECT_EQ(room.slack_left(lab.member(5), lab.x, lab.y), 270);
    EXPECT_EQ(room.slack_left(lab.member(0), lab.x + 1, lab.y), -hop);
    EXPECT_EQ(room.slack_left(lab.reg, lab.x + 1, lab.y), INT_MAX);
}

// None leaves when each would be left below the floor, nor when nothing is
// timed; a newcomer never leaves, and neither does a register for a LUT.
TEST(HostMakeRoom, MembersStayBelowTheFloorAndNewcomersAndOtherKindsNeverLeave)
{
    FULL_LAB lab;
    const int last = static_cast<int>(lab.members.size()) - 1;
    std::vector<unsigned> moved;
    int sub = -1;
    for (int floor : {100 * last + 1000, INT_MAX}) {
        HOST_ROOM_MAKER room = lab.maker(floor);
        EXPECT_FALSE(room.make_room(*lab.occupancy, lab.copy, lab.x, lab.y, &sub, &moved)) << floor;
        EXPECT_TRUE(moved.empty());
        EXPECT_FALSE(lab.occupancy->has_room(lab.copy, lab.x, lab.y, nullptr));
    }
    // The floor itself is allowed; a first LAB shows where the member goes.
    FULL_LAB probe;
    HOST_ROOM_MAKER probing = probe.maker(0, {probe.member(last)->get_id()});
    ASSERT_TRUE(probing.make_room(*probe.occupancy, probe.copy, probe.x, probe.y, &sub, &moved));
    const CDB_ATOM_NODE* went = probe.member(last - 1);
    const int floor = lab.maker(0).slack_left(lab.member(last - 1), went->get_lab_x(), went->get_lab_y());
    moved.clear();
    HOST_ROOM_MAKER room = lab.maker(floor, {lab.member(last)->get_id()});
    ASSERT_TRUE(room.make_room(*lab.occupancy, lab.copy, lab.x, lab.y, &sub, &moved));
    EXPECT_EQ(moved, std::vector<unsigned>{lab.member(last - 1)->get_id()});
    EXPECT_EQ(lab.member(last - 1)->get_lab_x(), went->get_lab_x());
    EXPECT_EQ(lab.member(last - 1)->get_lab_y(), went->get_lab_y());
    EXPECT_EQ(lab.reg->get_lab_x(), lab.x);
    EXPECT_EQ(lab.reg->get_lab_y(), lab.y);
}

}  // namespace host_make_room_test
