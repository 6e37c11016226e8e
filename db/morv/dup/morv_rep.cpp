// The duplication object: parameters, the candidate list, the duplication
// threshold and the usage grid of the timing-driven iteration.

#include "morv/dup/morv_rep.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <utility>

#include "cdb/cdb_atom_netlist.h"
#include "dev/dev_device.h"

#include "morv/core/morv_api.h"
#include "morv/core/morv_assert.h"
#include "morv/core/morv_debug_stream.h"
#include "morv/netlist/morv_chip_map.h"
#include "morv/netlist/morv_net_util.h"
#include "morv/timing/morv_timing.h"

namespace {

// A parameter's text, or "" when absent; an empty value counts as absent.
std::string param(const MORV_PARAMETER_MAP* params, const char* key)
{
    return params != nullptr ? MORV_ALGORITHM_BASE::get_algorithm_param(*params, key) : std::string();
}

int clamp_to_max_slack(int slack)
{
    return std::clamp(slack, -MORV_REP::s_MAX_SLACK, MORV_REP::s_MAX_SLACK);
}

}  // namespace

MORV_REP::MORV_REP(MORV_API* api, const MORV_PARAMETER_MAP* params, bool allow_register_duplication)
    : MORV_ALGORITHM_BASE(api, params), m_allow_register_duplication(allow_register_duplication)
{
    m_fsyn_net_util = m_fsyn_api->peek_fsyn_net_util();
    MORV_ASSERT_TEXT(m_fsyn_net_util, "m_fsyn_net_util");
    if (const MORV_CHIP_MAP* chip_map = m_fsyn_api->get_fsyn_chip_map()) {
        m_chip_width = chip_map->get_nx();
        m_chip_height = chip_map->get_ny();
    }
    MORV_DEBUG_STREAM::print(100, "max chip size x, y: %d, %d", m_chip_width, m_chip_height);
}

MORV_REP::~MORV_REP()
{
    free_iteration_data();
}

std::string MORV_REP::get_description()
{
    return m_allow_register_duplication ? "logic and register replication" : "logic replication";
}

void MORV_REP::init_parameters(const MORV_REP_DEFAULTS& defaults)
{
    m_max_moves = defaults.max_moves;
    m_min_le_usage = defaults.min_le_usage;
    m_le_usage_penalty = defaults.le_usage_penalty;
    m_min_lab_input_usage = defaults.min_lab_input_usage;
    m_lab_input_usage_penalty = defaults.lab_input_usage_penalty;
    m_lab_wide_input_penalty = defaults.lab_wide_input_penalty;
    parse_parameters();
    log_parameters();
}

void MORV_REP::parse_parameters()
{
    std::string v;
    if (!(v = param(m_params, "MM")).empty()) m_max_moves = std::atoi(v.c_str());
    if (!(v = param(m_params, "LM")).empty()) m_min_le_usage = std::atoi(v.c_str());
    if (!(v = param(m_params, "LP")).empty()) m_le_usage_penalty = std::atof(v.c_str());
    if (!(v = param(m_params, "IM")).empty()) m_min_lab_input_usage = std::atoi(v.c_str());
    if (!(v = param(m_params, "IP")).empty()) m_lab_input_usage_penalty = std::atof(v.c_str());
    if (!(v = param(m_params, "WP")).empty()) m_lab_wide_input_penalty = std::atof(v.c_str());
    if (!(v = param(m_params, "PC_MODE")).empty()) {
        m_pc_mode = std::atoi(v.c_str()) == 1;
        MORV_DEBUG_STREAM::print(2, "REP is running in POST CLUSTERING MODE ! ! !");
    }
    if (!(v = param(m_params, "PC_MAX_OPS")).empty()) m_pc_max_ops = std::atoi(v.c_str());
    if (!(v = param(m_params, "PC_MAX_LAB_USAGE")).empty()) m_pc_max_lab_usage = std::atof(v.c_str());
    if (!(v = param(m_params, "PC_STRICT_CHECKS")).empty()) m_pc_strict_checks = std::atoi(v.c_str()) == 1;
}

void MORV_REP::log_parameters() const
{
    MORV_DEBUG_STREAM::print(100, "parameter max moves = %d", m_max_moves);
    MORV_DEBUG_STREAM::print(100, "parameter min LE usage = %d", m_min_le_usage);
    MORV_DEBUG_STREAM::print(100, "parameter LE usage penalty = %f", m_le_usage_penalty);
    MORV_DEBUG_STREAM::print(100, "parameter min lab input usage = %d", m_min_lab_input_usage);
    MORV_DEBUG_STREAM::print(100, "parameter lab input usage penalty = %f", m_lab_input_usage_penalty);
    MORV_DEBUG_STREAM::print(100, "parameter lab wide input penalty = %f", m_lab_wide_input_penalty);
    if (m_pc_max_ops < 0) MORV_DEBUG_STREAM::print(2, "PC REP: max operations per iteration: INFINITY");
    else MORV_DEBUG_STREAM::print(2, "PC REP: max operations per iteration: %d", m_pc_max_ops);
    MORV_DEBUG_STREAM::print(2, "PC REP: max LAB usage: %f", m_pc_max_lab_usage);
    MORV_DEBUG_STREAM::print(2, "PC REP STRICT CHECKS are set to %s", m_pc_strict_checks ? "TRUE" : "FALSE");
}

void MORV_REP::set_default_algorithm_parameters(int& num_passes, int& icp_at_end, double& fom_to_accept,
                                                int& restore_netlist)
{
    if (num_passes == s_UNSET_INT) num_passes = 1;
    if (icp_at_end == s_UNSET_INT) icp_at_end = 0;
    if (fom_to_accept == s_UNSET_DOUBLE) fom_to_accept = 0.0;
    if (restore_netlist == s_UNSET_INT) restore_netlist = 1;
}

void MORV_REP::set_default_pass_parameters(int, int& num_iters, int& hill_climb_iters)
{
    if (num_iters == s_UNSET_INT) num_iters = 2;
    if (hill_climb_iters == s_UNSET_INT) hill_climb_iters = num_iters;
    if (m_slack_ratio_threshold == s_UNSET_DOUBLE) m_slack_ratio_threshold = 0.125;
}

int MORV_REP::do_iter()
{
    return m_pc_mode ? post_clustering_do_iter() : timing_driven_do_iter();
}

void MORV_REP::set_threshold(double threshold)
{
    m_threshold_double = threshold;
    m_threshold = static_cast<int>(threshold);
}

void MORV_REP::set_chip_size(int width, int height)
{
    m_chip_width = width;
    m_chip_height = height;
}

void MORV_REP::set_usage_grid_size(int nx, int ny)
{
    // A grid of 0 bins one way could not hold a single node.
    m_grid_nx = std::max(1, nx);
    m_grid_ny = std::max(1, ny);
}

// ---------------------------------------------------------------- iteration

int MORV_REP::timing_driven_do_iter()
{
    m_num_ops = 0;
    m_td_stats = MORV_REP_TD_STATS();
    collect_critical_iterms();
    compute_delay_threshold();
    build_usage_grids();
    for (MORV_REP_CANDIDATE& record : m_candidates)
        if (!record.processed) process_candidate(&record);
    print_td_stats();
    free_iteration_data();
    return m_num_ops;
}

void MORV_REP::print_td_stats() const
{
    const MORV_REP_TD_STATS& s = m_td_stats;
    MORV_DEBUG_STREAM::print(100, "REP STATS");
    MORV_DEBUG_STREAM::print(100, "------------");
    MORV_DEBUG_STREAM::print(100, "   Critical connections: %d", s.critical);
    MORV_DEBUG_STREAM::print(100, "   Register drivers, register duplication off: %d", s.register_not_allowed);
    MORV_DEBUG_STREAM::print(100, "   Excluded drivers or connections: %d", s.excluded);
    MORV_DEBUG_STREAM::print(100, "   No feasible region: %d", s.no_region);
    MORV_DEBUG_STREAM::print(100, "   No location above the threshold (%d ps): %d", m_threshold, s.no_better_location);
    MORV_DEBUG_STREAM::print(100, "   Failed duplications: %d", s.failed_edits);
    MORV_DEBUG_STREAM::print(100, "   Duplicated: %d", s.duplicated);
    MORV_DEBUG_STREAM::print(100, "   Locations refused by the device: %d", s.locations_refused);
    MORV_DEBUG_STREAM::print(100, "   Locations without gain above the threshold: %d", s.locations_without_gain);
    MORV_DEBUG_STREAM::print(100, "   Locations scoring above 0: %d", s.locations_scored);
    MORV_DEBUG_STREAM::print(100, "------------");
}

void MORV_REP::free_iteration_data()
{
    m_candidates.clear();
    m_candidates.shrink_to_fit();
    m_rated_iterms.clear();
    m_iterm_base.clear();
    m_expanded_oterms.clear();
    m_gaining_nodes.clear();
    m_fanin_records.clear();
    m_node_locations.clear();
    m_le_usage.clear();
    m_lab_input_usage.clear();
}

namespace {

// A term with its slack ratio and its deterministic order (atom id, port
// type, port index) packed into one key, so that sorting reads no terms.
struct RATED_ITERM
{
    double ratio;
    uint64_t key;
    CDB_ATOM_ITERM* iterm;
    size_t slot;
};

RATED_ITERM rate(CDB_ATOM_ITERM* iterm, double ratio, size_t slot)
{
    const uint64_t id = iterm->get_my_node()->get_id();
    const uint64_t usage = static_cast<uint64_t>(iterm->get_any_usage_as()) & 0xffff;
    const uint64_t index = static_cast<uint64_t>(iterm->get_port_index()) & 0xffff;
    return RATED_ITERM{ratio, (id << 32) | (usage << 16) | index, iterm, slot};
}

constexpr size_t NO_SLOT = static_cast<size_t>(-1);

// Most critical first; equal ratios in the deterministic order of terms.
void sort_by_slack_ratio(std::vector<RATED_ITERM>* iterms)
{
    std::sort(iterms->begin(), iterms->end(), [](const RATED_ITERM& a, const RATED_ITERM& b) {
        if (a.ratio != b.ratio) return a.ratio < b.ratio;
        return a.key < b.key;
    });
}

}  // namespace

void MORV_REP::collect_critical_iterms()
{
    load_node_locations();
    rate_iterms();
    std::vector<RATED_ITERM> iterms;
    iterms.reserve(m_rated_iterms.size());
    for (CDB_ATOM_NODE* node : *m_atom_netlist) {
        size_t slot = m_iterm_base[node->get_id()];
        for (auto it = node->begin_iterm(); it != node->end_iterm(); ++it, ++slot)
            if (*it != nullptr) iterms.push_back(rate(*it, m_rated_iterms[slot].slack_ratio, slot));
    }
    sort_by_slack_ratio(&iterms);
    m_candidates.clear();
    m_candidates.reserve(iterms.size());
    for (const RATED_ITERM& rated : iterms) add_iterm(rated.iterm, rated.slot);
}

// Each term's slack and ratio are asked once: a term's cone is listed before
// it and the analysis would otherwise walk its edges again there.
void MORV_REP::rate_iterms()
{
    m_rated_iterms.clear();
    m_iterm_base.clear();
    for (CDB_ATOM_NODE* node : *m_atom_netlist) {
        const size_t id = node->get_id();
        if (id >= m_iterm_base.size()) m_iterm_base.resize(id + 1 + id / 2, NO_SLOT);
        m_iterm_base[id] = m_rated_iterms.size();
        for (auto it = node->begin_iterm(); it != node->end_iterm(); ++it) {
            MORV_REP_RATED_ITERM& rated = m_rated_iterms.emplace_back();
            if (*it == nullptr) continue;
            rated.slack_ratio = m_fsyn_timing->get_slack_ratio(*it);
            rated.slack = clamp_to_max_slack(m_fsyn_timing->get_slack(*it));
        }
    }
}

void MORV_REP::add_iterm(CDB_ATOM_ITERM* iterm, size_t slot)
{
    if (m_rated_iterms[slot].candidate != -1) return;
    m_rated_iterms[slot].candidate = -2;
    add_fanin_iterms(iterm);
    MORV_ASSERT(m_candidates.size() < m_candidates.capacity());
    MORV_REP_CANDIDATE& record = m_candidates.emplace_back();
    record.iterm = iterm;
    record.slack = m_rated_iterms[slot].slack;
    record.slack_ratio = m_rated_iterms[slot].slack_ratio;
    m_rated_iterms[slot].candidate = static_cast<int>(m_candidates.size() - 1);
}

// False for a node made during the iteration: its terms were never rated.
bool MORV_REP::get_iterm_slot(const CDB_ATOM_NODE* node, size_t* base) const
{
    const size_t id = node->get_id();
    if (id >= m_iterm_base.size() || m_iterm_base[id] == NO_SLOT) return false;
    *base = m_iterm_base[id];
    return true;
}

MORV_REP_CANDIDATE* MORV_REP::find_candidate(const CDB_ATOM_ITERM* iterm)
{
    const CDB_ATOM_NODE* node = iterm->get_my_node();
    size_t slot = 0;
    if (node == nullptr || !get_iterm_slot(node, &slot)) return nullptr;
    for (auto it = node->begin_iterm(); it != node->end_iterm(); ++it, ++slot) {
        if (*it != iterm) continue;
        const int index = m_rated_iterms[slot].candidate;
        return index >= 0 ? &m_candidates[static_cast<size_t>(index)] : nullptr;
    }
    return nullptr;
}

// The inputs of the driver's combinational cone come before the connection
// they feed, so that their gains are known when it is scored.
void MORV_REP::add_fanin_iterms(CDB_ATOM_ITERM* iterm)
{
    CDB_ATOM_OTERM* oterm = iterm->get_source();
    CDB_ATOM_NODE* node = oterm != nullptr ? oterm->get_my_node() : nullptr;
    if (node == nullptr || !is_duplicable_node(node) || is_register_output(oterm)) return;
    // Every sink of a net has the same cone: list it once.
    const size_t id = node->get_id();
    if (id >= m_expanded_oterms.size()) m_expanded_oterms.resize(id + 1 + id / 2, 0);
    const uint32_t bit = 1u << (static_cast<unsigned>(oterm->get_any_usage_as()) & 31u);
    if ((m_expanded_oterms[id] & bit) != 0) return;
    m_expanded_oterms[id] |= bit;
    size_t slot = 0;
    if (!get_iterm_slot(node, &slot)) return;
    std::vector<RATED_ITERM> fanins;
    for (auto it = node->begin_iterm(); it != node->end_iterm(); ++it, ++slot)
        if (*it != nullptr && m_fsyn_net_util->does_iterm_reach_oterm(node, oterm, *it))
            fanins.push_back(rate(*it, m_rated_iterms[slot].slack_ratio, slot));
    sort_by_slack_ratio(&fanins);
    for (const RATED_ITERM& rated : fanins) add_iterm(rated.iterm, rated.slot);
}

void MORV_REP::compute_delay_threshold()
{
    std::vector<int> delays;
    for (const MORV_REP_CANDIDATE& record : m_candidates) {
        if (!(record.slack_ratio < m_slack_ratio_threshold)) continue;
        CDB_ATOM_OTERM* source = record.iterm->get_source();
        if (source == nullptr || source->get_my_node() == nullptr) continue;
        int sx = -1, sy = -1, dx = -1, dy = -1;
        get_location(source->get_my_node(), &sx, &sy);
        get_location(record.iterm->get_my_node(), &dx, &dy);
        delays.push_back(routing_delay(sx, sy, dx, dy, drive_of(source)));
    }
    if (delays.empty()) {
        set_threshold(1e6);
        return;
    }
    double sum = 0.0;
    for (int d : delays) sum += d;
    const double average = sum / static_cast<double>(delays.size());
    double deviation = 0.0;
    for (int d : delays) deviation += std::fabs(d - average);
    deviation /= static_cast<double>(delays.size());
    MORV_DEBUG_STREAM::print(100, "avg point-to-point delay: %f", average);
    MORV_DEBUG_STREAM::print(100, "avg delay deviation: %f", deviation);
    set_threshold(0.5 * deviation + 1.0);
}

// ---------------------------------------------------------------- usage grid

void MORV_REP::build_usage_grids()
{
    init_usage_grid_size();
    const size_t bins = static_cast<size_t>(m_grid_nx) * static_cast<size_t>(m_grid_ny);
    m_le_usage.assign(bins, 0);
    m_lab_input_usage.assign(bins, 0);
    m_entering_signals.clear();
    m_lab_wide_signals.clear();
    m_entering_signals.reserve(m_candidates.size());
    for (CDB_ATOM_NODE* node : *m_atom_netlist) add_node_usage(node);
}

void MORV_REP::add_node_usage(CDB_ATOM_NODE* node)
{
    int x = -1, y = -1, bx = 0, by = 0;
    if (!get_location(node, &x, &y) || !get_bin(x, y, &bx, &by)) return;
    const size_t bin = bin_index(bx, by);
    ++m_le_usage[bin];
    for (auto it = node->begin_iterm(); it != node->end_iterm(); ++it) {
        CDB_ATOM_ITERM* iterm = *it;
        if (iterm == nullptr) continue;
        const int port_type = iterm->get_any_usage_as();
        if (is_lab_wide_input_type(port_type)) m_lab_wide_signals.insert(wide_key(port_type, bin));
        CDB_ATOM_OTERM* source = iterm->get_source();
        if (source == nullptr || source->get_my_node() == nullptr) continue;
        int sx = -1, sy = -1, sbx = 0, sby = 0;
        if (get_location(source->get_my_node(), &sx, &sy) && get_bin(sx, sy, &sbx, &sby) && sbx == bx && sby == by)
            continue;
        if (m_entering_signals[MORV_REP_SIGNAL_KEY{source, bin}]++ == 0) ++m_lab_input_usage[bin];
    }
}

bool MORV_REP::get_bin(int x, int y, int* bx, int* by) const
{
    if (x < 0 || y < 0 || m_chip_width <= 0 || m_chip_height <= 0) return false;
    *bx = std::min(m_grid_nx - 1, x * m_grid_nx / m_chip_width);
    *by = std::min(m_grid_ny - 1, y * m_grid_ny / m_chip_height);
    return true;
}

size_t MORV_REP::bin_index(int bx, int by) const
{
    return static_cast<size_t>(bx) * static_cast<size_t>(m_grid_ny) + static_cast<size_t>(by);
}

uint64_t MORV_REP::wide_key(int port_type, size_t bin)
{
    return (static_cast<uint64_t>(bin) << 16) | static_cast<uint64_t>(port_type & 0xFFFF);
}

// The chip map's locations, read once per iteration into an array by atom id.
void MORV_REP::load_node_locations()
{
    m_node_locations.clear();
    const MORV_CHIP_MAP* chip_map = m_fsyn_api->get_fsyn_chip_map();
    if (chip_map == nullptr) return;
    chip_map->for_each_placed_node([this](int node_id, const MORV_LOC& location) {
        if (node_id < 0) return;
        if (static_cast<size_t>(node_id) >= m_node_locations.size())
            m_node_locations.resize(static_cast<size_t>(node_id) + 1 + m_node_locations.size() / 2);
        m_node_locations[static_cast<size_t>(node_id)] = MORV_REP_XY{location.x, location.y};
    });
}

void MORV_REP::note_node_location(const CDB_ATOM_NODE* node, int x, int y)
{
    const size_t id = node->get_id();
    if (id >= m_node_locations.size()) m_node_locations.resize(id + 1 + m_node_locations.size() / 2);
    m_node_locations[id] = MORV_REP_XY{x, y};
}

bool MORV_REP::get_location(CDB_ATOM_NODE* node, int* x, int* y) const
{
    *x = *y = -1;
    if (node == nullptr || node->get_id() >= m_node_locations.size()) return false;
    const MORV_REP_XY& location = m_node_locations[node->get_id()];
    if (location.x < 0 || location.y < 0) return false;
    *x = location.x;
    *y = location.y;
    return true;
}

int MORV_REP::routing_delay(int x1, int y1, int x2, int y2, int drive)
{
    if (x1 < 0 || y1 < 0 || x2 < 0 || y2 < 0) return 0;
    return m_fsyn_api->get_routing_delay(x1, y1, x2, y2, drive);
}

int MORV_REP::drive_of(CDB_ATOM_OTERM* oterm)
{
    return m_fsyn_api->get_oterm_fl_value(oterm);
}

// ---------------------------------------------------------------- candidates

void MORV_REP::process_candidate(MORV_REP_CANDIDATE* record)
{
    const bool critical = record->slack_ratio < m_slack_ratio_threshold;
    // A connection that is not tried only passes on what its driver's inputs
    // gained, which is nothing unless one of them gained.
    if (!critical && !has_gaining_inputs(record->iterm)) {
        record->gain = 0;
        record->processed = true;
        return;
    }
    collect_fanin_records(record->iterm);
    const int upstream_gain = get_upstream_gain();
    const bool may_duplicate = !m_driver_is_register_output || m_allow_register_duplication;
    if (critical) ++m_td_stats.critical;
    if (critical && !may_duplicate) ++m_td_stats.register_not_allowed;
    if (critical && may_duplicate) record->gain = try_duplication(record->iterm, upstream_gain, record->slack);
    else record->gain = upstream_gain;
    record->processed = true;
    note_gain(record);
    m_fanin_records.clear();
}

bool MORV_REP::has_gaining_inputs(const CDB_ATOM_ITERM* iterm) const
{
    const CDB_ATOM_OTERM* source = iterm->get_source();
    return source != nullptr && m_gaining_nodes.count(source->get_my_node()) != 0;
}

void MORV_REP::note_gain(const MORV_REP_CANDIDATE* record)
{
    if (record->gain != 0) m_gaining_nodes.insert(record->iterm->get_my_node());
}

void MORV_REP::collect_fanin_records(CDB_ATOM_ITERM* iterm)
{
    m_fanin_records.clear();
    m_driver_is_register_output = false;
    CDB_ATOM_OTERM* oterm = iterm->get_source();
    CDB_ATOM_NODE* node = oterm != nullptr ? oterm->get_my_node() : nullptr;
    if (node == nullptr || !is_duplicable_node(node)) return;
    m_driver_is_register_output = is_register_output(oterm);
    size_t slot = 0;
    const bool rated = get_iterm_slot(node, &slot);
    for (auto it = node->begin_iterm(); it != node->end_iterm(); ++it, ++slot) {
        if (*it == nullptr || !m_fsyn_net_util->does_iterm_reach_oterm(node, oterm, *it)) continue;
        const int index = rated ? m_rated_iterms[slot].candidate : -1;
        MORV_ASSERT_TEXT(index >= 0, "find_idx != m_iterms_by_ptr.end ()");
        m_fanin_records.push_back(&m_candidates[static_cast<size_t>(index)]);
    }
}

// What the driver's inputs already gained: the connection keeps it when it
// is not duplicated itself.
int MORV_REP::get_upstream_gain() const
{
    if (m_driver_is_register_output) return 0;
    long long with_gain = s_MAX_SLACK;
    long long without = s_MAX_SLACK;
    for (const MORV_REP_CANDIDATE* record : m_fanin_records) {
        with_gain = std::min<long long>(with_gain, static_cast<long long>(record->slack) + record->gain);
        without = std::min<long long>(without, record->slack);
    }
    return static_cast<int>(with_gain - without);
}
