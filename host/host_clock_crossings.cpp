#include "host_clock_crossings.h"

#include <algorithm>
#include <unordered_map>
#include <vector>

#include "cdb/cdb_atom_netlist.h"

namespace {

using HOST_CLOCK_SET = std::vector<const CDB_ATOM_OTERM*>;

const CDB_ATOM_OTERM* host_clock_of(const CDB_ATOM_NODE* node)
{
    const CDB_ATOM_ITERM* clock = node->get_input_term_by_type(DB_CLOCK);
    return clock != nullptr ? clock->get_source() : nullptr;
}

void host_add_clock(HOST_CLOCK_SET& set, const CDB_ATOM_OTERM* clock)
{
    if (std::find(set.begin(), set.end(), clock) == set.end()) set.push_back(clock);
}

// The clocks that launch the data reaching each combinational atom, each
// atom's set built once from its drivers' after theirs, without recursion
// (a cone may be a chain of any length); a combinational loop reads as
// launched by nothing.
class HOST_LAUNCH_CLOCKS
{
public:
    const HOST_CLOCK_SET& of_inputs(const CDB_ATOM_NODE* root)
    {
        std::vector<std::pair<const CDB_ATOM_NODE*, bool>> stack{{root, false}};
        while (!stack.empty()) {
            auto [node, expanded] = stack.back();
            if (expanded) {
                stack.pop_back();
                m_sets[node] = collect(node);
                continue;
            }
            if (m_sets.count(node) != 0) {
                stack.pop_back();
                continue;
            }
            stack.back().second = true;
            m_sets[node];  // in progress: a loop back to it reads it empty
            for_each_data_driver(node, [&](const CDB_ATOM_NODE* driver) {
                if (host_clock_of(driver) == nullptr && m_sets.count(driver) == 0) stack.push_back({driver, false});
            });
        }
        return m_sets[root];
    }

private:
    template <typename F>
    static void for_each_data_driver(const CDB_ATOM_NODE* node, F f)
    {
        for (auto it = node->begin_iterm(); it != node->end_iterm(); ++it) {
            const CDB_ATOM_ITERM* iterm = *it;
            if (iterm->get_any_usage_as() == DB_CLOCK || iterm->get_source() == nullptr) continue;
            if (const CDB_ATOM_NODE* driver = iterm->get_source()->get_my_node()) f(driver);
        }
    }
    HOST_CLOCK_SET collect(const CDB_ATOM_NODE* node) const
    {
        HOST_CLOCK_SET set;
        for_each_data_driver(node, [&](const CDB_ATOM_NODE* driver) {
            if (const CDB_ATOM_OTERM* clock = host_clock_of(driver)) host_add_clock(set, clock);
            else
                for (const CDB_ATOM_OTERM* c : m_sets.at(driver)) host_add_clock(set, c);
        });
        return set;
    }

    std::unordered_map<const CDB_ATOM_NODE*, HOST_CLOCK_SET> m_sets;
};

// Adds the clocked atoms of another clock than own that launch into node's
// data inputs, walking back through combinational atoms.
void host_add_launchers(const CDB_ATOM_NODE* node, const CDB_ATOM_OTERM* own, std::unordered_set<uint32_t>& out)
{
    std::vector<const CDB_ATOM_NODE*> stack{node};
    std::unordered_set<const CDB_ATOM_NODE*> seen{node};
    while (!stack.empty()) {
        const CDB_ATOM_NODE* at = stack.back();
        stack.pop_back();
        for (auto it = at->begin_iterm(); it != at->end_iterm(); ++it) {
            const CDB_ATOM_ITERM* iterm = *it;
            if (iterm->get_any_usage_as() == DB_CLOCK || iterm->get_source() == nullptr) continue;
            const CDB_ATOM_NODE* driver = iterm->get_source()->get_my_node();
            if (driver == nullptr || !seen.insert(driver).second) continue;
            const CDB_ATOM_OTERM* clock = host_clock_of(driver);
            if (clock == nullptr) stack.push_back(driver);
            else if (clock != own) out.insert(driver->get_id());
        }
    }
}

}  // namespace

std::unordered_set<uint32_t> host_clock_crossing_registers(const CDB_ATOM_NETLIST& netlist)
{
    std::unordered_set<uint32_t> crossing;
    HOST_CLOCK_SET clocks;
    for (const CDB_ATOM_NODE* node : netlist)
        if (const CDB_ATOM_OTERM* clock = host_clock_of(node)) host_add_clock(clocks, clock);
    if (clocks.size() < 2) return crossing;
    HOST_LAUNCH_CLOCKS launch;
    for (const CDB_ATOM_NODE* node : netlist) {
        const CDB_ATOM_OTERM* own = host_clock_of(node);
        if (own == nullptr) continue;
        const HOST_CLOCK_SET& from = launch.of_inputs(node);
        if (std::none_of(from.begin(), from.end(), [&](const CDB_ATOM_OTERM* c) { return c != own; })) continue;
        crossing.insert(node->get_id());
        host_add_launchers(node, own, crossing);
    }
    return crossing;
}
