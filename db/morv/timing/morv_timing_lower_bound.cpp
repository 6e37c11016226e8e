// Lower-bound figures of merit: how good the figure of merit could become
// at best under retiming or BDD resynthesis. Answered by experiment: the
// interconnect delays of the host's timing netlist are rewritten the way the
// optimisation could change them, analysed a few times, and the best legacy
// figure of merit is kept; the initial delays and a fresh analysis come back
// at the end.

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <unordered_map>
#include <vector>

#include "cdb/cdb_atom_netlist.h"
#include "tdb/tdb_netlist.h"

#include "morv/core/family/morv_family_traits.h"
#include "morv/core/morv_api.h"
#include "morv/core/morv_assert.h"
#include "morv/core/morv_debug_stream.h"
#include "morv/core/morv_env.h"
#include "morv/netlist/morv_atom_query.h"
#include "morv/netlist/morv_net_util.h"
#include "morv/timing/morv_timing.h"
#include "morv/timing/morv_timing_internal.h"

namespace {

// The answer when DSP blocks are timed: their registers cannot be retimed.
constexpr int DSP_LOWER_BOUND = 1000;
constexpr int RETIMING_PASSES = 80;
constexpr int BDD_PASSES = 8;
// A register's clock moves by at most this much earlier.
constexpr int64_t MIN_CLOCK_DELAY = -50000;
// A slack beyond this is no constraint the skew estimate follows.
constexpr int SKEW_SLACK_LIMIT = 10000;
// Below this slack ratio a connection is critical to the BDD bound.
constexpr float BDD_CRITICAL_RATIO = 0.05f;

int current_delay(const TDB_EDGE* edge)
{
    return edge->get_delay()->get_delay(TDB_DELAY_IC, TDB_MAX, 2);
}

bool is_one_of(int port, std::initializer_list<int> ports)
{
    return std::find(ports.begin(), ports.end(), port) != ports.end();
}

// A DSP block at the end of any timing edge: retiming stops there.
bool ends_at_dsp_block(const std::vector<TDB_EDGE*>& edges)
{
    for (const TDB_EDGE* edge : edges)
        if (edge != nullptr && edge->is_for_tdc() && morv_is_mac_atom(edge->get_iterm()->get_my_node())) return true;
    return false;
}

}  // namespace

// What one pass of the BDD bound moves: per input, the delay change and the
// delay at the start of the pass.
struct MORV_TIMING::BDD_BOUND
{
    std::unordered_map<CDB_ATOM_ITERM*, int64_t> m_adjustment;
    std::unordered_map<CDB_ATOM_ITERM*, int> m_delay;
};

// What one pass of the retiming bound keeps.
struct MORV_TIMING::RETIMING_BOUND
{
    std::vector<int> m_initial;  // by position in the edge vector
    std::vector<int> m_early;
    std::vector<int> m_next;  // the delays of the pass
    MORV_LB_SHAPE m_shape;
    double m_k = 0.0;
    bool m_pre_placement = false;
    // The clock offsets of the pass.
    int64_t m_sum = 0;
    int m_count = 0;
    int m_worst = 0;
};

bool MORV_TIMING::is_lb_register(CDB_ATOM_NODE* node) const
{
    switch (morv_family_traits(m_fsyn_api->get_base_family_code()).m_timing.m_lb_register) {
    case MORV_LB_REGISTER_LCELL_FF: return node->is_lcell_ff();
    case MORV_LB_REGISTER_FF: return node->is_ff();
    case MORV_LB_REGISTER_LOGIC_CELL: return node->is_lcell();
    case MORV_LB_REGISTER_NONE: break;
    }
    return false;
}

// How much later the register's clock could come: the slack its output
// has to spare beyond what its inputs have. 0 when either side is
// unconstrained.
int MORV_TIMING::get_register_skew_estimate(CDB_ATOM_NODE* node)
{
    MORV_ASSERT_TEXT(m_fsyn_net_util, "m_fsyn_net_util");
    MORV_ASSERT_TEXT(m_fsyn_net_util->is_ff(node) || node->is_lcell(),
                     "m_fsyn_net_util->is_ff(node) || node->is_lcell()");
    std::vector<int> ports = {DB_DATAIN, DB_CLOCK_ENABLE, DB_SYNCH_CLEAR, DB_SYNCH_LOAD, DB_SYNCH_DATA};
    if (morv_family_traits(m_fsyn_api->get_base_family_code()).m_one_cell_holds_lut_and_ff) {
        // The register of a logic cell: its LUT inputs feed it too, unless
        // it loads synchronously or from the cascade.
        ports = {DB_CLOCK_ENABLE, DB_SYNCH_CLEAR, DB_SYNCH_LOAD, DB_SYNCH_DATA};
        const CDB_ATOM_ITERM* cascade = node->get_input_term_by_type(DB_REG_CASCADE_IN);
        if (!m_fsyn_net_util->is_sload_tied_to_vcc(node) && (cascade == nullptr || !cascade->is_connected()))
            ports.insert(ports.end(), {DB_DATA_A, DB_DATA_B, DB_DATA_C, DB_DATA_D});
    }
    int64_t slack_in = MORV_TIMING::s_NO_PATH;
    double ratio_in = 1.0;
    for (auto it = node->begin_iterm(); it != node->end_iterm(); ++it) {
        CDB_ATOM_ITERM* iterm = *it;
        if (iterm == nullptr || iterm->get_source() == nullptr ||
            std::find(ports.begin(), ports.end(), iterm->get_any_usage_as()) == ports.end())
            continue;
        slack_in = std::min<int64_t>(slack_in, get_slack(iterm));
        ratio_in = std::min(ratio_in, get_slack_ratio(iterm));
    }
    if (ratio_in >= 1.0) return 0;
    const CDB_ATOM_OTERM* regout = node->get_output_term_by_type(DB_REG_OUT);
    MORV_ASSERT_TEXT(regout, "regout");
    if (!regout->has_fanout()) return 0;
    int64_t slack_out = MORV_TIMING::s_NO_PATH;
    double ratio_out = 1.0;
    for (auto it = regout->begin_iterm_fanout(); it != regout->end_iterm_fanout(); ++it) {
        slack_out = std::min<int64_t>(slack_out, get_slack(*it));
        ratio_out = std::min(ratio_out, get_slack_ratio(*it));
    }
    if (slack_out > SKEW_SLACK_LIMIT || slack_in > SKEW_SLACK_LIMIT || ratio_out >= 1.0) return 0;
    return morv_timing_clamp_to_int(slack_out - slack_in);
}

// ------------------------------------------------------------------ retiming bound

// A register's clock edge moves by its skew estimate (the retiming the
// estimate stands for); before placement the other delays are reshaped by
// slack ratio, or return to their early estimates every fourth pass.
int64_t MORV_TIMING::retiming_bound_delay(TDB_EDGE* edge, size_t position, int pass, RETIMING_BOUND& bound)
{
    CDB_ATOM_ITERM* iterm = edge->get_iterm();
    CDB_ATOM_NODE* sink = iterm->get_my_node();
    const int port = iterm->get_any_usage_as();
    int64_t delay = current_delay(edge);
    if (is_lb_register(sink) && port == DB_CLOCK) {
        CDB_ATOM_OTERM* regout = sink->get_output_term_by_type(DB_REG_OUT);
        if (regout == nullptr || m_fsyn_api->is_oterm_dont_touch(regout, AMM_OP_FITTER_FSYN_RETIME)) return delay;
        const int offset = static_cast<int>(std::trunc(get_register_skew_estimate(sink) * m_lb_ret_alpha));
        delay = std::max<int64_t>(delay + offset, MIN_CLOCK_DELAY);
        if (offset != 0) {
            bound.m_sum += std::abs(offset);
            ++bound.m_count;
            bound.m_worst = std::max(bound.m_worst, std::abs(offset));
        }
        return delay;
    }
    if (!bound.m_pre_placement || iterm->is_global() ||
        is_one_of(port, {DB_CLOCK, DB_RAM_CLK0, DB_CLKBUF_IN, DB_RAM_OBSERVABLE_PORTA_DATAIN}))
        return delay;
    if (pass % 4 != 0) {
        const double ratio = std::clamp(static_cast<double>(edge->get_slack_ratio()), 0.0, 1.0);
        const double t = 1.0 - std::pow(1.0 - ratio, bound.m_shape.m_power);
        const CDB_ATOM_OTERM* driver = iterm->get_source();
        const bool near_dsp = morv_is_mac_atom(sink) || (driver != nullptr && morv_is_mac_atom(driver->get_my_node()));
        const double k = bound.m_k;
        const double factor = near_dsp ? t * (bound.m_shape.m_dsp_spread * k) + (1.0 - bound.m_shape.m_dsp_offset * k)
                                       : t * (k * 2.0) + (1.0 - k);
        return static_cast<int64_t>(std::trunc(static_cast<double>(delay) * factor));
    }
    if (pass == 0) bound.m_early[position] = get_early_delay(iterm);
    delay = bound.m_early[position];
    if (m_fsyn_net_util != nullptr && m_fsyn_net_util->is_lcell(sink) &&
        is_one_of(port, {DB_CLOCK_ENABLE, DB_SYNCH_CLEAR, DB_SYNCH_LOAD}))
        delay = static_cast<int64_t>(std::trunc(static_cast<double>(delay) * m_lb_ret_beta));
    return delay;
}

// One pass over the edges: phase 1 puts the initial delays back. Every
// delay of a pass follows the slacks of the analysis before it, so none is
// written until all are known (a slack query after a write would analyse
// the half-changed netlist).
void MORV_TIMING::retiming_bound_pass(std::vector<TDB_EDGE*>& edges, int phase, int pass, RETIMING_BOUND& bound)
{
    bound.m_sum = 0;
    bound.m_count = 0;
    bound.m_worst = 0;
    for (size_t i = 0; i < edges.size(); ++i) {
        TDB_EDGE* edge = edges[i];
        if (edge == nullptr || !edge->is_for_tdc()) continue;
        if (phase == 0 && pass == 0) bound.m_initial[i] = current_delay(edge);
        bound.m_next[i] =
            phase == 1 ? bound.m_initial[i] : morv_timing_clamp_to_int(retiming_bound_delay(edge, i, pass, bound));
    }
    for (size_t i = 0; i < edges.size(); ++i)
        if (edges[i] != nullptr && edges[i]->is_for_tdc()) set_edge_ic_delay(edges[i], bound.m_next[i]);
}

int MORV_TIMING::get_retiming_lower_bound_fom()
{
    std::vector<TDB_EDGE*>& edges =
        tdb_edges("tdb_netlist != NULL", "tdb_vec_of_edges != NULL", MORV_TIMING_RECREATING_EDGES);
    MORV_ASSERT_TEXT(m_timing_mode == MORV_TIMING_MODE_TDC, "m_timing_mode == MORV_TIMING_MODE_TDC");
    const int64_t start = get_figure_of_merit(true);
    int64_t best = start;
    int64_t previous = start;
    MORV_DEBUG_STREAM::print(1, "lb_ret_params(alpha=%f, exit=%f, beta=%f)", m_lb_ret_alpha, m_lb_ret_exit,
                             m_lb_ret_beta);
    // Checked before any delay changes, so that the netlist is left as it was.
    if (ends_at_dsp_block(edges)) return DSP_LOWER_BOUND;
    RETIMING_BOUND bound;
    bound.m_initial.assign(edges.size(), 0);
    bound.m_early.assign(edges.size(), 0);
    bound.m_next.assign(edges.size(), 0);
    bound.m_shape = morv_family_traits(m_fsyn_api->get_base_family_code()).m_timing.m_lb_shape;
    bound.m_k = bound.m_shape.m_k;
    bound.m_pre_placement = is_pre_placement();
    for (int phase = 0; phase < 2; ++phase) {
        const int passes = phase == 0 ? RETIMING_PASSES : 1;
        for (int pass = 0; pass < passes; ++pass) {
            retiming_bound_pass(edges, phase, pass, bound);
            perform_timing_analysis();
            const double average = bound.m_count > 0 ? static_cast<double>(bound.m_sum) / bound.m_count : 0.0;
            if (phase == 0 && bound.m_count > 0)
                MORV_DEBUG_STREAM::print(1, "%cpass=%03d: clock_off(avg) = %f, clock_off(worst) = %d",
                                         pass % 4 == 3 ? '*' : ' ', pass, average, bound.m_worst);
            if (pass % 4 == 3) {
                const int64_t fom = get_figure_of_merit(true);
                best = std::max(best, fom);
                if (fom < previous - 10) break;
                previous = fom;
            }
            if (bound.m_count > 0 && average < m_lb_ret_exit) {
                // The clocks have settled: what they reach counts, also
                // between the passes that measure.
                if (pass % 4 != 3) best = std::max<int64_t>(best, get_figure_of_merit(true));
                break;
            }
            bound.m_k = pass % 4 == 3 ? 0.25 : bound.m_k * 0.5;
        }
    }
    MORV_DEBUG_STREAM::print(1, "RTM_LB_FOM: curr=%d lb=%d", morv_timing_clamp_to_int(start),
                             morv_timing_clamp_to_int(best));
    return morv_timing_clamp_to_int(best);
}

// ------------------------------------------------------------------ BDD bound

CDB_ATOM_ITERM* MORV_TIMING::get_least_critical_sibling_input(CDB_ATOM_ITERM* iterm)
{
    MORV_ASSERT_TEXT(iterm, "iterm");
    CDB_ATOM_NODE* node = iterm->get_my_node();
    MORV_ASSERT_TEXT(node != nullptr && (node->is_lcell_comb() || node->is_lcell()),
                     "node->is_lcell_comb() || node->is_lcell()");
    double most = get_slack_ratio(iterm);
    CDB_ATOM_ITERM* sibling = nullptr;
    for (auto it = node->begin_iterm(); it != node->end_iterm(); ++it) {
        CDB_ATOM_ITERM* other = *it;
        // An input without a driver has no delay to take slack into.
        if (other == nullptr || other == iterm || other->get_source() == nullptr) continue;
        const double ratio = get_slack_ratio(other);
        if (ratio > most) {
            most = ratio;
            sibling = other;
        }
    }
    return sibling;
}

namespace {

bool is_free_lut_with_output(MORV_API* api, CDB_ATOM_NODE* node)
{
    return node != nullptr && api->is_lut_outside_carry_chain(node) && node->get_output_term_by_type(DB_COMB_OUT);
}

}  // namespace

// A critical connection into a LUT that feeds another LUT: BDD resynthesis
// could move its signal to a less critical input of the next LUT, so up to
// a quarter of its delay moves over to that sibling.
void MORV_TIMING::move_slack_to_sibling(CDB_ATOM_ITERM* iterm, BDD_BOUND& bound)
{
    CDB_ATOM_NODE* sink = iterm->get_my_node();
    if (!is_free_lut_with_output(m_fsyn_api, sink)) return;
    const CDB_ATOM_OTERM* out = sink->get_output_term_by_type(DB_COMB_OUT);
    CDB_ATOM_ITERM* next = nullptr;
    double least = 1.0;
    for (auto it = out->begin_iterm_fanout(); it != out->end_iterm_fanout(); ++it) {
        const double ratio = get_slack_ratio(*it);
        if (ratio < least) {
            least = ratio;
            next = *it;
        }
    }
    if (next == nullptr || !is_free_lut_with_output(m_fsyn_api, next->get_my_node())) return;
    CDB_ATOM_ITERM* sibling = get_least_critical_sibling_input(next);
    if (sibling == nullptr) return;
    const int64_t quarter = bound.m_delay[iterm] / 4;
    // Slack differences need 64 bits: an unconstrained sibling's slack is the
    // largest 32-bit value.
    int64_t spare = static_cast<int64_t>(get_slack(sibling)) - get_slack(iterm);
    if (get_slack_ratio(sibling) >= 1.0) spare = quarter;
    const int64_t moved = std::min(spare / 4, quarter);
    bound.m_adjustment[iterm] -= moved;
    bound.m_adjustment[sibling] += moved;
}

int MORV_TIMING::get_bdd_lower_bound_fom()
{
    std::vector<TDB_EDGE*>& edges = tdb_edges("tdb_netlist", "tdb_vec_of_edges", MORV_TIMING_RECREATING_EDGES);
    MORV_ASSERT_TEXT(m_timing_mode == MORV_TIMING_MODE_TDC, "m_timing_mode == MORV_TIMING_MODE_TDC");
    int64_t best = get_figure_of_merit(true);
    int64_t previous = best;
    std::vector<int> initial(edges.size(), 0);
    for (int phase = 0; phase < 2; ++phase) {
        const int passes = phase == 0 ? BDD_PASSES : 1;
        for (int pass = 0; pass < passes; ++pass) {
            BDD_BOUND bound;
            for (TDB_EDGE* edge : edges)
                if (edge != nullptr && edge->is_for_tdc()) {
                    bound.m_adjustment[edge->get_iterm()] = 0;
                    bound.m_delay[edge->get_iterm()] = current_delay(edge);
                }
            for (TDB_EDGE* edge : edges)
                if (phase == 0 && edge != nullptr && edge->is_for_tdc() && edge->get_slack_ratio() < BDD_CRITICAL_RATIO)
                    move_slack_to_sibling(edge->get_iterm(), bound);
            for (size_t i = 0; i < edges.size(); ++i) {
                TDB_EDGE* edge = edges[i];
                if (edge == nullptr || !edge->is_for_tdc()) continue;
                if (phase == 0 && pass == 0) initial[i] = current_delay(edge);
                const int64_t delay =
                    phase == 1 ? initial[i] : current_delay(edge) + bound.m_adjustment[edge->get_iterm()];
                set_edge_ic_delay(edge, morv_timing_clamp_to_int(delay));
            }
            perform_timing_analysis();
            const int64_t fom = get_figure_of_merit(true);
            best = std::max(best, fom);
            MORV_DEBUG_STREAM::print(1, "BDD_LB_FOM: curr=%d lb=%d", morv_timing_clamp_to_int(fom),
                                     morv_timing_clamp_to_int(best));
            if (pass >= 4 && fom - previous < 20) break;
            previous = fom;
        }
    }
    return morv_timing_clamp_to_int(best);
}
