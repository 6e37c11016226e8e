// The facade's delay estimates: routing delays between LABs, bounds on a
// connection's delay from the locked regions of its ends, and how stable
// the early timing model is.

#include <algorithm>
#include <array>
#include <cmath>
#include <vector>

#include "cdb/cdb_atom_netlist.h"
#include "dev/dev_device.h"
#include "tdb/tdb_netlist.h"
#include "tdc/tdc_accessories.h"

#include "morv/core/family/morv_family_traits.h"
#include "morv/core/morv_api.h"
#include "morv/core/morv_assert.h"
#include "morv/core/morv_debug_stream.h"
#include "morv/core/morv_env.h"
#include "morv/core/morv_expert.h"
#include "morv/netlist/morv_net_util.h"
#include "morv/timing/morv_timing.h"
#include "morv_bit_vector.h"

namespace {

// Corners of a locked rectangle: x1, y1, x2, y2.
enum CORNER : int
{
    X1 = 0,
    Y1 = 1,
    X2 = 2,
    Y2 = 3
};

// The values of a coordinate range that the bound samples: its two ends.
std::vector<int> range_ends(int from, int to)
{
    if (to - from < 2) {
        std::vector<int> all;
        for (int v = from; v <= to; ++v) all.push_back(v);
        return all;
    }
    return {from, to};
}

// The two closest coordinates of two ranges (equal when they overlap).
void closest_pair(int a_from, int a_to, int b_from, int b_to, int* a, int* b)
{
    if (a_to < b_from) {
        *a = a_to;
        *b = b_from;
    } else if (b_to < a_from) {
        *a = a_from;
        *b = b_to;
    } else {
        *a = *b = std::max(a_from, b_from);
    }
}

bool rectangles_overlap(const int* a, const int* b)
{
    return !(a[X2] < b[X1] || b[X2] < a[X1] || a[Y2] < b[Y1] || b[Y2] < a[Y1]);
}

constexpr int EARLY_STABILITY_ANALYSES = 4;

}  // namespace

void MORV_API::set_pre_placement_delay_factors(double factor_a, double factor_b, int hop_count)
{
    m_pre_placement_delay_factor_a = factor_a;
    m_pre_placement_delay_factor_b = factor_b;
    m_pre_placement_hop_count = hop_count;
}

// The host answers in seconds; the delay is rounded to the picosecond it
// stands for (a truncation would turn 350 ps stored as 3.4999e-10 s into
// 349).
int MORV_API::get_routing_delay(int x1, int y1, int x2, int y2, int drive_strength)
{
    int delay_in_pico_seconds = 0;
    if (is_pre_placement()) {
        delay_in_pico_seconds = static_cast<int>(m_pre_placement_delay_factor_a * m_pre_placement_delay_factor_b *
                                                 m_pre_placement_hop_count);
    } else {
        if (morv_family_traits(m_base_family).m_fl_cells) MORV_ASSERT(drive_strength > -1);
        else MORV_ASSERT(drive_strength == -1);
        const double seconds = m_morv_env->get_routing_delay(x1, y1, x2, y2, drive_strength);
        delay_in_pico_seconds = static_cast<int>(std::lround(seconds * 1e12));
    }
    MORV_ASSERT(delay_in_pico_seconds >= 0);
    return delay_in_pico_seconds;
}

// Locked regions constrain logic cells and registers of the families that
// have placement regions.
bool MORV_API::get_locked_rectangle(CDB_ATOM_NODE* node, int* corners)
{
    if (!morv_family_traits(m_base_family).m_placement_regions || !is_lcell_or_ff(node)) return false;
    return m_morv_env->get_node_locked_region(node, &corners[X1], &corners[Y1], &corners[X2], &corners[Y2]);
}

int MORV_API::get_point_to_point_delay(int default_delay, CDB_ATOM_ITERM* iterm)
{
    MORV_ASSERT(iterm);
    CDB_ATOM_NODE* sink = iterm->get_my_node();
    CDB_ATOM_OTERM* source_oterm = iterm->get_source();
    // An input without a driver is no connection: nothing bounds it.
    if (sink == nullptr || source_oterm == nullptr || source_oterm->get_my_node() == nullptr) return default_delay;
    CDB_ATOM_NODE* source = source_oterm->get_my_node();
    const std::pair<int, int> key(static_cast<int>(sink->get_id()), static_cast<int>(source->get_id()));
    auto cached = m_p2p_delay_cache.find(key);
    if (cached == m_p2p_delay_cache.end())
        cached = m_p2p_delay_cache.emplace(key, compute_p2p_bounds(sink, source)).first;
    const MORV_P2P_DELAY_BOUNDS& bounds = cached->second;
    if (bounds.m_has_lower && bounds.m_lower > default_delay) return bounds.m_lower;
    if (bounds.m_has_upper) return std::min(bounds.m_upper, default_delay);
    return default_delay;
}

// Both ends locked: the delay lies between the nearest and the farthest
// points of the two rectangles. The farthest pair is a pair of corners; the
// nearest pair need not be (rectangles side by side share a range on one
// axis), so it is sampled as well. Rectangles that overlap give no lower
// bound. One end locked: the other end is estimated at the mean position of
// its locked register neighbours, when it has more than one.
MORV_P2P_DELAY_BOUNDS MORV_API::compute_p2p_bounds(CDB_ATOM_NODE* sink, CDB_ATOM_NODE* source)
{
    MORV_P2P_DELAY_BOUNDS bounds;
    int s[4] = {-1, -1, -1, -1};
    int t[4] = {-1, -1, -1, -1};
    const bool source_locked = get_locked_rectangle(source, s);
    const bool sink_locked = get_locked_rectangle(sink, t);
    // Without a delay model there is nothing to sample.
    if ((!source_locked && !sink_locked) || m_pldm == nullptr) return bounds;
    if (source_locked && sink_locked) {
        int min_delay_in_ps = 0x7fffffff;
        int max_delay_in_ps = 0;
        auto sample = [&](int xs, int ys, int xt, int yt) {
            const int delay = m_pldm->get_point_to_point_delay(xs, ys, xt, yt);
            min_delay_in_ps = std::min(min_delay_in_ps, delay);
            max_delay_in_ps = std::max(max_delay_in_ps, delay);
        };
        for (int xs : range_ends(s[X1], s[X2]))
            for (int ys : range_ends(s[Y1], s[Y2]))
                for (int xt : range_ends(t[X1], t[X2]))
                    for (int yt : range_ends(t[Y1], t[Y2])) sample(xs, ys, xt, yt);
        int xs = 0, xt = 0, ys = 0, yt = 0;
        closest_pair(s[X1], s[X2], t[X1], t[X2], &xs, &xt);
        closest_pair(s[Y1], s[Y2], t[Y1], t[Y2], &ys, &yt);
        sample(xs, ys, xt, yt);
        MORV_ASSERT(min_delay_in_ps <= max_delay_in_ps);
        bounds.m_upper = max_delay_in_ps;
        bounds.m_has_upper = true;
        if (!rectangles_overlap(s, t)) {
            bounds.m_lower = min_delay_in_ps;
            bounds.m_has_lower = true;
        }
        return bounds;
    }
    const int* rectangle = source_locked ? s : t;
    CDB_ATOM_NODE* other = source_locked ? sink : source;
    const size_t other_id = other->get_id();
    if (other_id >= m_locked_location_estimates.size()) return bounds;
    const MORV_LOCKED_LOCATION_ESTIMATE& estimate = m_locked_location_estimates[other_id];
    if (estimate.m_count <= 2) return bounds;
    const int average_x = estimate.m_x_sum / estimate.m_count;
    const int average_y = estimate.m_y_sum / estimate.m_count;
    const int centre_x = (rectangle[X1] + rectangle[X2]) / 2;
    const int centre_y = (rectangle[Y1] + rectangle[Y2]) / 2;
    bounds.m_lower = source_locked ? m_pldm->get_point_to_point_delay(centre_x, centre_y, average_x, average_y)
                                   : m_pldm->get_point_to_point_delay(average_x, average_y, centre_x, centre_y);
    bounds.m_has_lower = true;
    return bounds;
}

void MORV_API::add_locked_neighbour(int atom_id, const int* neighbour_corners)
{
    MORV_LOCKED_LOCATION_ESTIMATE& estimate = m_locked_location_estimates[static_cast<size_t>(atom_id)];
    estimate.m_x_sum += neighbour_corners[X1] + neighbour_corners[X2];
    estimate.m_y_sum += neighbour_corners[Y1] + neighbour_corners[Y2];
    estimate.m_count += 2;
}

void MORV_API::compute_locked_location_estimates(MORV_BIT_VECTOR* locked)
{
    MORV_ASSERT(locked);
    TDB_NETLIST* tdb_netlist = tdc_get_accessories()->get_tdb_netlist();
    MORV_ASSERT(tdb_netlist != NULL);
    std::vector<TDB_EDGE*>* tdb_vec_of_edges = tdb_netlist->get_vec_of_edges();
    if (tdb_vec_of_edges == nullptr) {
        MORV_DEBUG_STREAM::print(100, "Recreating the TDB_NETLIST vector of edges.\n");
        tdb_vec_of_edges = tdb_netlist->create_vec_of_edges();
    }
    MORV_ASSERT(tdb_vec_of_edges != NULL);

    MORV_ASSERT(!m_locked_location_estimates.size());
    const size_t atom_slots = static_cast<size_t>(m_morv_env->get_max_atom_id()) + 1;
    m_locked_location_estimates.assign(atom_slots, MORV_LOCKED_LOCATION_ESTIMATE());
    locked->init(atom_slots);
    // The rectangle of every locked atom, by atom id.
    std::vector<std::array<int, 4>> rectangles(atom_slots, std::array<int, 4>{-1, -1, -1, -1});
    for (CDB_ATOM_NODE* node : *m_atom_netlist)
        if (node->get_id() < atom_slots && get_locked_rectangle(node, rectangles[node->get_id()].data()))
            locked->set(node->get_id());

    for (TDB_EDGE* edge : *tdb_vec_of_edges) {
        if (edge == nullptr || !edge->is_for_tdc()) continue;
        const int sink_id = edge->get_dst_node()->get_atom_id();
        const int source_id = edge->get_src_node()->get_atom_id();
        if (sink_id < 0 || source_id < 0 || static_cast<size_t>(sink_id) >= atom_slots ||
            static_cast<size_t>(source_id) >= atom_slots)
            continue;
        CDB_ATOM_NODE* sink = get_node(sink_id);
        CDB_ATOM_NODE* source = get_node(source_id);
        if (sink == nullptr || source == nullptr || !m_fsyn_net_util->is_ff(sink) || !m_fsyn_net_util->is_ff(source))
            continue;
        if (locked->test(static_cast<uint64_t>(sink_id))) add_locked_neighbour(source_id, rectangles[sink_id].data());
        if (locked->test(static_cast<uint64_t>(source_id))) add_locked_neighbour(sink_id, rectangles[source_id].data());
    }
}

// ------------------------------------------------------------------ early timing-model stability

void MORV_API::store_slack_ratios(MORV_SLACK_RATIO_MAP* slack_ratios)
{
    MORV_ASSERT(slack_ratios);
    slack_ratios->clear();
    // An input without a driver has no slack.
    auto driven_inputs = [this](auto visit) {
        for (CDB_ATOM_NODE* node : *m_atom_netlist)
            for (auto it = node->begin_iterm(); it != node->end_iterm(); ++it)
                if ((*it)->get_source() != nullptr) visit(*it);
    };
    size_t count = 0;
    driven_inputs([&count](CDB_ATOM_ITERM*) { ++count; });
    MORV_SLACK_RATIO_MAP::LIST entries;
    entries.reserve(count);
    driven_inputs([&](CDB_ATOM_ITERM* iterm) {
        entries.emplace_back(MORV_CANONICAL_ITERM::of(iterm), m_fsyn_timing->get_slack_ratio(iterm));
    });
    slack_ratios->assign(std::move(entries));
}

// Each input weighs (1 - the smaller of its two ratios)^8: a change on a
// critical connection counts, one far from critical barely does.
double MORV_API::get_weighted_slack_ratio_difference(const MORV_SLACK_RATIO_MAP& slack_ratios, bool missing_counts_zero)
{
    double weighted_sum = 0.0;
    double weight_sum = 0.0;
    for (CDB_ATOM_NODE* node : *m_atom_netlist) {
        for (auto it = node->begin_iterm(); it != node->end_iterm(); ++it) {
            CDB_ATOM_ITERM* iterm = *it;
            if (iterm->get_source() == nullptr) continue;
            auto found = slack_ratios.find(MORV_CANONICAL_ITERM::of(iterm));
            if (found == slack_ratios.end() && !missing_counts_zero) continue;
            const double old_ratio = found != slack_ratios.end() ? found->second : 0.0;
            const double new_ratio = m_fsyn_timing->get_slack_ratio(iterm);
            const double weight = std::pow(1.0 - std::min(old_ratio, new_ratio), 8);
            weighted_sum += weight * std::fabs(old_ratio - new_ratio);
            weight_sum += weight;
        }
    }
    if (weight_sum > 0.0) return weighted_sum / weight_sum;
    return missing_counts_zero ? std::nan("") : 0.0;
}

// How far the slack ratios move under the early model's perturbed delays.
double MORV_API::get_early_timing_model_stability()
{
    MORV_SLACK_RATIO_MAP stored(61);
    store_slack_ratios(&stored);
    double total = 0.0;
    for (int i = 0; i < EARLY_STABILITY_ANALYSES; ++i) {
        if (m_fsyn_timing->get_tdc_utility() != nullptr)
            m_fsyn_timing->perform_early_timing_analysis(true, uses_delay_model());
        const double difference = get_weighted_slack_ratio_difference(stored);
        MORV_DEBUG_STREAM::print(1, "CTO: CIRCUIT CHARACTERISTIC S_W_AVG_SR_DIFF = %f", difference);
        total += difference;
    }
    const double average = total / EARLY_STABILITY_ANALYSES;
    MORV_DEBUG_STREAM::print(1, "CTO: CIRCUIT CHARACTERISTIC AVG_S_W_AVG_SR_DIFF = %f", average);
    return average;
}
