// The intra-LAB pass of fanout resplitting: copies that share one LAB
// divide their sinks between two of them. Each sink a copy drives costs it
// a little speed; the cost model weighs keeping every sink on one copy
// against giving the least critical sinks to the second.

#include <algorithm>
#include <map>
#include <utility>
#include <vector>

#include "cdb/cdb_atom_netlist.h"

#include "morv/core/morv_api.h"
#include "morv/core/morv_assert.h"
#include "morv/core/morv_debug_stream.h"
#include "morv/dup/morv_resplit.h"
#include "morv/netlist/morv_net_util.h"
#include "morv/timing/morv_timing.h"

MORV_RESPLIT_SPLIT MORV_RESPLIT::compute_split(const std::vector<int>& slacks, int smallest, int internal_count,
                                               bool has_external)
{
    const int e = has_external ? 1 : 0;
    const int m = static_cast<int>(slacks.size());
    MORV_RESPLIT_SPLIT split;
    split.one_cost = smallest - 20 * (internal_count + e) - 20;
    split.best_cost = split.one_cost;
    MORV_DEBUG_STREAM::print(100, "ONE_COST: %d", split.one_cost);
    for (int k = 1; k < m; ++k) {
        const int two_cost = slacks[static_cast<size_t>(k)] + 4 * (5 * (k - e - m) - 10);
        const int cap = smallest - 40 - 20 * k;
        MORV_DEBUG_STREAM::print(100, "TWO_COST %d: %d %d", k, cap, two_cost);
        if (std::min(cap, two_cost) > split.best_cost) {
            split.best_cost = std::min(cap, two_cost);
            split.split_point = k;
        }
    }
    MORV_DEBUG_STREAM::print(100, "BEST_COST: %d (%d)", split.best_cost, split.split_point);
    return split;
}

int MORV_RESPLIT::intralab_split()
{
    std::vector<MORV_OTERM_SET> groups;
    find_groups(&groups);
    MORV_DEBUG_STREAM::print(1, ">>> RESPLIT performing intralab fanout splitting! <<<");
    MORV_DEBUG_STREAM::print(100, "DUP_SETS: %d", static_cast<int>(groups.size()));
    if (!passes_cutoff(groups)) return 0;
    m_guardband = m_fsyn_api->get_fsyn_timing()->get_guardband_slack();
    int moved = 0;
    for (const MORV_OTERM_SET& group : groups) moved += intralab_group(group);
    return moved;
}

// The admitted members, each LAB's members together in set order, the LABs
// in the order of their first member.
int MORV_RESPLIT::intralab_group(const MORV_OTERM_SET& group)
{
    CDB_ATOM_OTERM* representative = *group.begin();
    std::vector<std::vector<CDB_ATOM_OTERM*>> labs;
    std::map<std::pair<int, int>, size_t> lab_of;
    for (CDB_ATOM_OTERM* member : group) {
        if (!is_admitted(representative, member, false)) continue;
        int x = -1, y = -1;
        location_of(member->get_my_node(), &x, &y);
        const auto [at, added] = lab_of.emplace(std::make_pair(x, y), labs.size());
        if (added) labs.emplace_back();
        labs[at->second].push_back(member);
    }
    int moved = 0;
    for (const std::vector<CDB_ATOM_OTERM*>& lab : labs)
        if (lab.size() > 1) moved += split_lab(lab);
    return moved;
}

void MORV_RESPLIT::classify_sinks(CDB_ATOM_OTERM* member, int x, int y, MORV_RESPLIT_SINK_SET* internal,
                                  MORV_RESPLIT_SINK_SET* external, bool* critical)
{
    for (auto it = member->begin_iterm_fanout(); it != member->end_iterm_fanout(); ++it) {
        const MORV_RESPLIT_SINK sink = rate_sink(*it);
        MORV_DEBUG_STREAM::print(100, "           - %5lf (%d) at (%d, %d)", sink.slack_ratio, sink.slack, sink.x,
                                 sink.y);
        *critical = *critical || is_critical(sink);
        if (is_chain_sink(sink.iterm)) continue;
        (sink.x == x && sink.y == y ? internal : external)->insert(sink);
    }
}

int MORV_RESPLIT::split_lab(const std::vector<CDB_ATOM_OTERM*>& members)
{
    int x = -1, y = -1;
    location_of(members.front()->get_my_node(), &x, &y);
    MORV_DEBUG_STREAM::print(100, "(%3d, %3d) %s", x, y, MORV_NET_UTIL::get_hpath_name(members.front()).c_str());
    MORV_RESPLIT_SINK_SET internal, external;
    bool critical = false;
    for (size_t i = 0; i < members.size(); ++i) {
        if (i > 0) MORV_DEBUG_STREAM::print(100, "           %s", MORV_NET_UTIL::get_hpath_name(members[i]).c_str());
        classify_sinks(members[i], x, y, &internal, &external, &critical);
    }
    if (!critical || (internal.empty() && external.empty())) return 0;
    int smallest = s_NO_SLACK;
    for (const MORV_RESPLIT_SINK& sink : internal) {
        smallest = std::min(smallest, sink.slack);
        MORV_DEBUG_STREAM::print(100, "ITERM_TO_MOVE: (%d, %d) %f", sink.x, sink.y, sink.slack_ratio);
    }
    for (const MORV_RESPLIT_SINK& sink : external) {
        smallest = std::min(smallest, sink.slack);
        MORV_DEBUG_STREAM::print(100, "EXTERNAL_ITERM_TO_MOVE: (%d, %d) %f", sink.x, sink.y, sink.slack_ratio);
    }
    const int internal_count = static_cast<int>(internal.size());
    // The most critical external sink stands for all of them.
    const MORV_RESPLIT_SINK* representative = nullptr;
    if (!external.empty()) representative = &*internal.insert(*external.begin()).first;
    std::vector<int> slacks;
    slacks.reserve(internal.size());
    for (const MORV_RESPLIT_SINK& sink : internal) slacks.push_back(sink.slack);
    const MORV_RESPLIT_SPLIT split = compute_split(slacks, smallest, internal_count, representative != nullptr);
    return reconnect_lab(members, internal, external, representative, split.split_point);
}

int MORV_RESPLIT::reconnect_lab(const std::vector<CDB_ATOM_OTERM*>& members, const MORV_RESPLIT_SINK_SET& internal,
                                const MORV_RESPLIT_SINK_SET& external, const MORV_RESPLIT_SINK* representative,
                                int split_point)
{
    MORV_ASSERT_TEXT(members.size() > 1 && members[0] && members[1], "target_oterm");
    int moved = 0;
    int p = 0;
    for (const MORV_RESPLIT_SINK& sink : internal) {
        const int copy = p >= split_point ? 2 : 1;
        CDB_ATOM_OTERM* target = members[static_cast<size_t>(copy - 1)];
        ++p;
        if (&sink != representative) {
            MORV_DEBUG_STREAM::print(100, "Connect iterm to %d", copy);
            moved += reconnect(sink.iterm, target) ? 1 : 0;
            continue;
        }
        for (const MORV_RESPLIT_SINK& outside : external) {
            MORV_DEBUG_STREAM::print(100, "Connect external iterm to %d", copy);
            moved += reconnect(outside.iterm, target) ? 1 : 0;
        }
    }
    return moved;
}
