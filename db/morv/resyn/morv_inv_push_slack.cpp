// Slack estimation around a proposed inverter push. The proposal records,
// per driver, the slack of its connections into the rewritten nodes and
// that slack plus the connection's delay (the slack available at the
// driver). After the run driver has re-timed, each connection's slack is
// estimated as the driver-side value minus its new delay; the pushed LUT's
// inputs also lose the new largest delay to its sinks. The push is kept when
// the sorted estimates are not worse than the recorded slacks.

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "cdb/cdb_atom_netlist.h"

#include "morv/core/morv_api.h"
#include "morv/core/morv_assert.h"
#include "morv/core/morv_debug_stream.h"
#include "morv/netlist/morv_net_util.h"
#include "morv/resyn/morv_inv_push.h"

namespace {

MORV_DRIVER_KEY driver_key(CDB_ATOM_OTERM* oterm)
{
    return MORV_DRIVER_KEY(static_cast<int>(oterm->get_my_node()->get_id()), oterm->get_any_usage_as(),
                           oterm->get_port_index());
}

// Stores value under key unless a smaller one is there; whether it stored.
bool keep_smaller(MORV_SLACK_MAP* map, const MORV_DRIVER_KEY& key, int value)
{
    auto it = map->find(key);
    if (it != map->end() && it->second <= value) return false;
    (*map)[key] = value;
    return true;
}

// The driver's name for the trace lines, built only while they print.
std::string traced_name(CDB_ATOM_OTERM* oterm)
{
    const MORV_DEBUG_STREAM& stream = MORV_DEBUG_STREAM::get_stream();
    if (!stream.is_enabled() || stream.get_threshold() < 100) return std::string();
    return MORV_NET_UTIL::get_hpath_name(oterm);
}

// The driver of node's data input of that port, with the input; null when
// the input or its driver is missing.
CDB_ATOM_OTERM* driver_of(CDB_ATOM_NODE* node, int port, CDB_ATOM_ITERM** iterm)
{
    *iterm = node->get_input_term_by_type(port, 0);
    if (*iterm == nullptr) return nullptr;
    CDB_ATOM_OTERM* oterm = (*iterm)->get_source();
    if (oterm == nullptr) return nullptr;
    MORV_ASSERT_TEXT(oterm->get_my_node(), "oterm->get_my_node()");
    return oterm;
}

}  // namespace

MORV_INV_PUSH_OP::MORV_INV_PUSH_OP(MORV_INV_PUSH* owner, int id)
    : node_id(id), api(owner->get_fsyn_api()), old_worst_slack(MORV_INV_PUSH::s_NO_PATH), m_owner(owner)
{}

bool MORV_INV_PUSH_OP::account_connection(CDB_ATOM_ITERM* iterm, CDB_ATOM_OTERM* source, int delay, bool into_pushed,
                                          SWEEP* sweep)
{
    MORV_SLACK_MAP& level = into_pushed ? l2_slacks : l1_slacks;
    // Only the pushed LUT's inputs also carry the delay to its sinks.
    const int extra = into_pushed ? sweep->max_sink_delay : 0;
    const MORV_DRIVER_KEY key = driver_key(source);
    const std::string name = traced_name(source);
    if (sweep->recording) {
        const int slack = m_owner->input_slack(iterm);
        if (slack == MORV_INV_PUSH::s_NO_PATH) return true;
        const int value = slack + delay + extra;
        if (keep_smaller(&level, key, value)) {
            if (into_pushed)
                MORV_DEBUG_STREAM::print(100, "L2 Slack for %s set to %d (%d + %d + %d)", name.c_str(), value, slack,
                                         delay, extra);
            else
                MORV_DEBUG_STREAM::print(100, "L1 Slack for %s set to %d (%d + %d)", name.c_str(), value, slack, delay);
        }
        if (keep_smaller(sweep->slacks, key, slack))
            MORV_DEBUG_STREAM::print(100, "   OLD Slack for %s set to %d", name.c_str(), slack);
        sweep->worst = std::min(sweep->worst, slack);
        return true;
    }
    auto kept = level.find(key);
    if (kept == level.end()) return false;
    const int estimate = kept->second - delay - extra;
    if (keep_smaller(sweep->slacks, key, estimate)) {
        if (into_pushed)
            MORV_DEBUG_STREAM::print(100, "Proposed Slack for %s set to %d (%d - %d - %d)", name.c_str(), estimate,
                                     kept->second, delay, extra);
        else
            MORV_DEBUG_STREAM::print(100, "Proposed Slack for %s set to %d (%d - %d)", name.c_str(), estimate,
                                     kept->second, delay);
    }
    sweep->worst = std::min(sweep->worst, estimate);
    return true;
}

void MORV_INV_PUSH_OP::sweep_node(CDB_ATOM_NODE* node, bool into_pushed, CDB_ATOM_OTERM* pushed_out, SWEEP* sweep)
{
    for (int port = DB_DATA_A; port <= DB_DATA_F; ++port) {
        CDB_ATOM_ITERM* iterm = nullptr;
        CDB_ATOM_OTERM* source = driver_of(node, port, &iterm);
        if (source == nullptr) continue;
        const int delay = m_owner->input_delay(iterm);
        // A connection the analysis has no path for has no delay to add or
        // subtract: it takes no part in the estimate.
        if (delay == MORV_INV_PUSH::s_NO_PATH) continue;
        if (!account_connection(iterm, source, delay, into_pushed, sweep)) continue;
        if (source == pushed_out) sweep->max_sink_delay = std::max(sweep->max_sink_delay, delay);
    }
}

int MORV_INV_PUSH_OP::estimate_worst_slack(MORV_SLACK_MAP* slacks)
{
    MORV_ASSERT_TEXT(slacks, "slacks");
    int worst = MORV_INV_PUSH::s_NO_PATH;
    CDB_ATOM_NODE* pushed = api->get_node(node_id);
    CDB_ATOM_OTERM* pushed_out = pushed != nullptr ? pushed->get_output_term_by_type(DB_COMB_OUT, 0) : nullptr;
    if (pushed_out == nullptr) {
        MORV_DEBUG_STREAM::print(100, "WORST SLACK is %d", worst);
        return worst;
    }
    SWEEP sweep{l1_slacks.empty() && l2_slacks.empty(), slacks, worst, 0};
    for (int id : nodes) {
        CDB_ATOM_NODE* node = api->get_node(id);
        if (node != nullptr) sweep_node(node, false, pushed_out, &sweep);
    }
    // The pushed LUT's own inputs last, once the largest delay to its sinks is known.
    sweep_node(pushed, true, nullptr, &sweep);
    MORV_DEBUG_STREAM::print(100, "WORST SLACK is %d", sweep.worst);
    return sweep.worst;
}

int MORV_INV_PUSH::compare_slacks(const MORV_SLACK_MAP& old_slacks, const MORV_SLACK_MAP& new_slacks)
{
    std::vector<int> a;
    std::vector<int> b;
    for (const auto& entry : old_slacks) a.push_back(entry.second);
    for (const auto& entry : new_slacks) b.push_back(entry.second);
    std::sort(a.begin(), a.end());
    std::sort(b.begin(), b.end());
    for (size_t i = 0; i < a.size(); ++i)
        MORV_DEBUG_STREAM::print(100, "slack_vec1[%d] = %d", static_cast<int>(i), a[i]);
    for (size_t i = 0; i < b.size(); ++i)
        MORV_DEBUG_STREAM::print(100, "slack_vec2[%d] = %d", static_cast<int>(i), b[i]);
    if (a < b) return -1;
    if (b < a) return 1;
    return 0;
}
