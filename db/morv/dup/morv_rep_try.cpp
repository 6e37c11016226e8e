// One critical connection of the timing-driven mode: whether its driver may
// be duplicated, the region a copy may go to, and the score of each LAB of
// that region.

#include <algorithm>
#include <cmath>

#include "cdb/cdb_atom_netlist.h"
#include "hdb/hdb_instance_name.h"

#include "morv/core/morv_api.h"
#include "morv/core/morv_assert.h"
#include "morv/core/morv_debug_stream.h"
#include "morv/core/morv_env.h"
#include "morv/dup/morv_rep.h"
#include "morv/netlist/morv_net_util.h"

namespace {

// Plain signals and the one global kind a LAB input may carry; the other
// global kinds are routed on networks of their own.
bool is_local_global_setting(const CDB_ATOM_ITERM* iterm)
{
    const int global = iterm->get_global();
    return global == 0 || global == 2;
}

bool drives_io_register_input(const CDB_ATOM_OTERM* oterm)
{
    for (auto it = oterm->begin_iterm_fanout(); it != oterm->end_iterm_fanout(); ++it) {
        const CDB_ATOM_NODE* sink = (*it)->get_my_node();
        if ((*it)->is_used_as(MORV_REP_IO_REGISTER_INPUT) && sink != nullptr && sink->is_pin()) return true;
    }
    return false;
}

}  // namespace

std::string MORV_REP::iterm_label(CDB_ATOM_ITERM* iterm)
{
    std::string name;
    const CDB_ATOM_NODE* node = iterm->get_my_node();
    if (node != nullptr && node->get_instance_name() != nullptr) name = node->get_instance_name()->get_hpath_to_root();
    name += ":port-";
    name += std::to_string(iterm->get_any_usage_as());
    return name;
}

bool MORV_REP::is_excluded_connection(CDB_ATOM_ITERM* iterm)
{
    if (!is_local_global_setting(iterm)) return true;
    CDB_ATOM_OTERM* oterm = iterm->get_source();
    CDB_ATOM_NODE* source = oterm != nullptr ? oterm->get_my_node() : nullptr;
    if (source == nullptr || !is_duplicable_node(source)) return true;
    if (m_fsyn_net_util->is_lcell_in_a_chain(source)) return true;
    if (m_fsyn_api->is_oterm_dont_touch(oterm, AMM_OP_FITTER_FSYN_DUPLICATE)) return true;
    return !is_duplicable_oterm(oterm) || drives_io_register_input(oterm);
}

int MORV_REP::try_duplication(CDB_ATOM_ITERM* iterm, int upstream_gain, int slack)
{
    MORV_DEBUG_STREAM::print(100, "attempting to find duplication for: %s", iterm_label(iterm).c_str());
    if (is_excluded_connection(iterm)) {
        ++m_td_stats.excluded;
        return upstream_gain;
    }
    CDB_ATOM_NODE* source = iterm->get_source()->get_my_node();
    compute_locations(iterm);
    MORV_REP_REGION region;
    if (!compute_feasible_region(source, &region)) {
        ++m_td_stats.no_region;
        return upstream_gain;
    }
    const MORV_REP_MOVES moves = compute_moves(region);
    MORV_DEBUG_STREAM::print(100, "feasible region: (%d, %d) (%d, %d)", region.min_x, region.min_y, region.max_x,
                             region.max_y);
    MORV_DEBUG_STREAM::print(100, "trying %d moves, scaling %f", moves.count, moves.scaling);
    MORV_REP_BEST best{0.0, upstream_gain, m_src};
    for (int i = 0; i < moves.count; ++i)
        try_location(get_move_location(region, moves, i), upstream_gain, slack, &best);
    if (best.score > 0.0)
        MORV_DEBUG_STREAM::print(100, "final duplication score, slack delta: %f, %d", best.score,
                                 best.gain - upstream_gain);
    if (!(best.score > m_threshold_double) || best.at == m_src) {
        ++m_td_stats.no_better_location;
        return upstream_gain;
    }
    log_duplication(m_driver_is_register_output);
    if (!perform_duplication(source, iterm, best.at.x, best.at.y, best.gain)) {
        ++m_td_stats.failed_edits;
        return upstream_gain;
    }
    ++m_num_ops;
    ++m_td_stats.duplicated;
    return best.gain;
}

// One location of the region: skipped where no logic cell may go, else
// scored against the best so far. A full LAB is scored like any other: the
// placer makes room there for what timing asks for.
void MORV_REP::try_location(MORV_REP_XY at, int upstream_gain, int slack, MORV_REP_BEST* best)
{
    if (at.x < 0 || at.y < 0 || !m_fsyn_api->can_lcell_go_to_location(at.x, at.y)) {
        ++m_td_stats.locations_refused;
        return;
    }
    int new_gain = 0;
    const double score = score_location(at.x, at.y, upstream_gain, slack, &new_gain);
    ++(score > 0.0 ? m_td_stats.locations_scored : m_td_stats.locations_without_gain);
    if (!(score > best->score)) return;
    *best = MORV_REP_BEST{score, new_gain, at};
    MORV_DEBUG_STREAM::print(100, "curr duplication score, slack delta: %f, %d", score, new_gain - upstream_gain);
}

void MORV_REP::log_duplication(bool register_driver) const
{
    MORV_DEBUG_STREAM::print(100,
                             register_driver ? "performing register duplication" : "performing combintl duplication");
    if (m_src == m_dst)
        MORV_DEBUG_STREAM::print(100, "same src/dst but duplicating anyway: (%d, %d)", m_src.x, m_src.y);
}

void MORV_REP::compute_locations(CDB_ATOM_ITERM* iterm)
{
    CDB_ATOM_OTERM* oterm = iterm->get_source();
    get_location(oterm->get_my_node(), &m_src.x, &m_src.y);
    get_location(iterm->get_my_node(), &m_dst.x, &m_dst.y);
    m_src_drive = drive_of(oterm);
    m_current_delay = routing_delay(m_src.x, m_src.y, m_dst.x, m_dst.y, m_src_drive);
    for (MORV_REP_CANDIDATE* record : m_fanin_records) {
        record->x = record->y = -1;
        record->delay = record->drive = 0;
        CDB_ATOM_OTERM* fanin_source = record->iterm->get_source();
        if (!is_local_global_setting(record->iterm) || fanin_source == nullptr || !fanin_source->get_my_node())
            continue;
        get_location(fanin_source->get_my_node(), &record->x, &record->y);
        record->drive = drive_of(fanin_source);
        record->delay = routing_delay(record->x, record->y, m_src.x, m_src.y, record->drive);
    }
}

// The sink and the driver's inputs with a LAB of margin, inside the
// driver's locked region when it has one. A free driver answers the region
// query with corners of -1, which must not be clamped into.
bool MORV_REP::compute_feasible_region(CDB_ATOM_NODE* source, MORV_REP_REGION* region) const
{
    MORV_REP_REGION r{m_dst.x, m_dst.y, m_dst.x, m_dst.y};
    for (const MORV_REP_CANDIDATE* record : m_fanin_records) {
        if (record->x < 0 || record->y < 0) continue;
        r.min_x = std::min(r.min_x, record->x);
        r.min_y = std::min(r.min_y, record->y);
        r.max_x = std::max(r.max_x, record->x);
        r.max_y = std::max(r.max_y, record->y);
    }
    if (r.min_x >= 1) --r.min_x;
    if (r.max_x < m_chip_width - 1) ++r.max_x;
    if (r.min_y >= 1) --r.min_y;
    if (r.max_y < m_chip_height - 1) ++r.max_y;
    MORV_REP_REGION locked;
    if (m_fsyn_api->get_morv_env()->get_node_locked_region(source, &locked.min_x, &locked.min_y, &locked.max_x,
                                                           &locked.max_y)) {
        r.min_x = std::clamp(r.min_x, locked.min_x, std::max(locked.min_x, locked.max_x));
        r.max_x = std::clamp(r.max_x, locked.min_x, std::max(locked.min_x, locked.max_x));
        r.min_y = std::clamp(r.min_y, locked.min_y, std::max(locked.min_y, locked.max_y));
        r.max_y = std::clamp(r.max_y, locked.min_y, std::max(locked.min_y, locked.max_y));
    }
    *region = r;
    if (r.min_x < 0 || r.min_y < 0 || r.min_x > r.max_x || r.min_y > r.max_y) return false;
    return r.max_x < m_chip_width && r.max_y < m_chip_height;
}

MORV_REP_MOVES MORV_REP::compute_moves(const MORV_REP_REGION& region) const
{
    MORV_REP_MOVES moves;
    const int area = (region.max_x - region.min_x + 1) * (region.max_y - region.min_y + 1);
    if (area <= m_max_moves) {
        moves.count = area;
        return moves;
    }
    moves.scaling = static_cast<double>(area) / static_cast<double>(m_max_moves);
    moves.extra = static_cast<int>(m_fanin_records.size()) + 1;
    moves.count = m_max_moves + moves.extra;
    return moves;
}

// Small regions are walked LAB by LAB; in a large one the sink and the
// inputs' LABs come first, then a sample of the region at a fixed stride.
MORV_REP_XY MORV_REP::get_move_location(const MORV_REP_REGION& region, const MORV_REP_MOVES& moves, int i) const
{
    const int h = region.max_y - region.min_y + 1;
    int k = i;
    if (moves.scaling > 1.0) {
        if (i == 0) return m_dst;
        if (i < moves.extra) {
            const MORV_REP_CANDIDATE* record = m_fanin_records[static_cast<size_t>(i - 1)];
            return MORV_REP_XY{record->x, record->y};
        }
        k = static_cast<int>(std::floor((i - moves.extra) * moves.scaling));
    }
    return MORV_REP_XY{region.min_x + k / h, region.min_y + k % h};
}

double MORV_REP::score_location(int x, int y, int upstream_gain, int slack, int* new_gain_ret)
{
    long long min_slack = s_MAX_SLACK;
    long long min_arrival = s_MAX_SLACK;
    for (const MORV_REP_CANDIDATE* record : m_fanin_records) {
        min_slack = std::min<long long>(min_slack, record->slack);
        const long long arrival = static_cast<long long>(record->slack) + record->delay + record->gain -
                                  routing_delay(record->x, record->y, x, y, record->drive);
        min_arrival = std::min(min_arrival, arrival);
    }
    const long long fanin_gain = m_driver_is_register_output ? 0 : min_arrival - min_slack;
    const long long new_gain = fanin_gain + m_current_delay - routing_delay(x, y, m_dst.x, m_dst.y, m_src_drive);
    *new_gain_ret = static_cast<int>(std::clamp<long long>(new_gain, -s_MAX_SLACK, s_MAX_SLACK));
    const long long improvement = new_gain - upstream_gain;
    if (improvement <= m_threshold) return 0.0;
    if (m_driver_is_register_output && min_arrival < slack) return 0.0;
    return get_location_factor(x, y) * static_cast<double>(improvement);
}

// Crowded LABs and LABs short of inputs score less.
double MORV_REP::get_location_factor(int x, int y)
{
    int bx = 0, by = 0;
    if (!get_bin(x, y, &bx, &by)) return 1.0;
    const size_t bin = bin_index(bx, by);
    int inputs = m_lab_input_usage[bin];
    const int les = m_le_usage[bin] + 1;
    double factor = 1.0;
    for (const MORV_REP_CANDIDATE* record : m_fanin_records) {
        CDB_ATOM_OTERM* source = record->iterm->get_source();
        if (source == nullptr) continue;
        int sx = -1, sy = -1, sbx = 0, sby = 0;
        if (get_location(source->get_my_node(), &sx, &sy) && get_bin(sx, sy, &sbx, &sby) && sbx == bx && sby == by)
            continue;
        if (m_entering_signals.count(MORV_REP_SIGNAL_KEY{source, bin}) != 0) continue;
        ++inputs;
        const int port_type = record->iterm->get_any_usage_as();
        if (is_lab_wide_input_type(port_type) && m_lab_wide_signals.count(wide_key(port_type, bin)) != 0)
            factor *= m_lab_wide_input_penalty;
    }
    if (les > m_min_le_usage) factor *= std::pow(m_le_usage_penalty, les - m_min_le_usage);
    if (inputs > m_min_lab_input_usage) factor *= std::pow(m_lab_input_usage_penalty, inputs - m_min_lab_input_usage);
    return factor;
}
