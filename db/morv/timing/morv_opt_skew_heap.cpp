// The order in which the retiming engines try the elements, and their
// memory of failed moves: a mobility per register and direction scales
// every later step of that register in that direction, so a register whose
// moves keep failing asks for ever smaller skews there.

#include <cstdlib>

#include "cdb/cdb_atom_netlist.h"

#include "morv/core/morv_api.h"
#include "morv/core/morv_assert.h"
#include "morv/core/morv_debug_stream.h"
#include "morv/timing/morv_opt_skew.h"
#include "morv/timing/morv_timing.h"

namespace {

constexpr double FULL_MOBILITY = 1.0;

double mobility_of(const std::map<int32_t, double>& mobilities, const CDB_ATOM_NODE* node)
{
    MORV_ASSERT_TEXT(node, "node");
    const auto found = mobilities.find(static_cast<int32_t>(node->get_id()));
    return found == mobilities.end() ? FULL_MOBILITY : found->second;
}

double reduce_mobility(std::map<int32_t, double>& mobilities, const CDB_ATOM_NODE* node, double rate,
                       const char* direction)
{
    MORV_ASSERT_TEXT(node, "node");
    const auto [entry, inserted] = mobilities.emplace(static_cast<int32_t>(node->get_id()), rate);
    if (!inserted) entry->second *= rate;
    MORV_DEBUG_STREAM::print(100, "Reducing %s mobility on node <%d> to <%.2f> (rate = %.2f)", direction,
                             static_cast<int>(node->get_id()), entry->second, rate);
    return entry->second;
}

double reset_mobility(std::map<int32_t, double>& mobilities, const CDB_ATOM_NODE* node)
{
    MORV_ASSERT_TEXT(node, "node");
    mobilities[static_cast<int32_t>(node->get_id())] = FULL_MOBILITY;
    return FULL_MOBILITY;
}

}  // namespace

bool MORV_SKEW_CANDIDATE_ORDER::operator()(const MORV_SKEW_CANDIDATE& a, const MORV_SKEW_CANDIDATE& b) const
{
    if (a.is_ram != b.is_ram) return a.is_ram < b.is_ram;
    const int64_t size_a = std::llabs(static_cast<int64_t>(a.skew));
    const int64_t size_b = std::llabs(static_cast<int64_t>(b.skew));
    if (size_a != size_b) return size_a < size_b;
    return a.node->get_id() < b.node->get_id();
}

// Every element with a skew, registers included whatever their skew; the
// users drop small skews themselves.
void MORV_OPT_SKEW::build_candidate_heap(double sr_threshold)
{
    while (!m_candidate_heap.empty()) m_candidate_heap.pop();
    if (m_skews.empty()) return;
    MORV_ASSERT_TEXT(m_fsyn_api->get_morv_env(), "m_morv_env");
    // The timing may have changed since the last pass cached its ratios.
    reset_slack_ratio_caches();
    std::vector<MORV_SKEW_CANDIDATE> candidates;
    for (size_t i = 0; i < m_skews.size(); ++i) {
        if (m_skews[i] == CDB_ILLEGAL_TSM_DELAY) continue;
        CDB_ATOM_NODE* node = m_fsyn_api->get_node(static_cast<int>(m_id_base + i));
        // Gone since the computation, or (a logic cell that lost its
        // register) no longer an element that takes a skew.
        if (node == nullptr ||
            !(is_register_element(node) || node->is_ram() || node->is_mac_mult() || node->is_mac_out()))
            continue;
        candidates.push_back({node, m_skews[i], node->is_ram() ? 1 : 0, is_skew_limited(node, sr_threshold)});
    }
    m_candidate_heap = CANDIDATE_HEAP(MORV_SKEW_CANDIDATE_ORDER(), std::move(candidates));
}

double MORV_OPT_SKEW::get_fwd_mobility(const CDB_ATOM_NODE* node) const
{
    return mobility_of(m_fwd_mobility, node);
}

double MORV_OPT_SKEW::get_bwd_mobility(const CDB_ATOM_NODE* node) const
{
    return mobility_of(m_bwd_mobility, node);
}

double MORV_OPT_SKEW::reduce_fwd_mobility(const CDB_ATOM_NODE* node, double rate)
{
    return reduce_mobility(m_fwd_mobility, node, rate, "FWD");
}

double MORV_OPT_SKEW::reduce_bwd_mobility(const CDB_ATOM_NODE* node, double rate)
{
    return reduce_mobility(m_bwd_mobility, node, rate, "BWD");
}

double MORV_OPT_SKEW::reset_fwd_mobility(const CDB_ATOM_NODE* node)
{
    return reset_mobility(m_fwd_mobility, node);
}

double MORV_OPT_SKEW::reset_bwd_mobility(const CDB_ATOM_NODE* node)
{
    return reset_mobility(m_bwd_mobility, node);
}
