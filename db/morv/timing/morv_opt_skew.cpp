// The skew passes and their analyser back end: every clock edge of the
// timing netlist takes its element's step in its interconnect delay, the
// analyser re-times after each pass, and the edges get their delays back
// when the caller asks for a restore.

#include "morv/timing/morv_opt_skew.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdlib>

#include "cdb/cdb_atom_netlist.h"
#include "cfg/cfg.h"
#include "gen/gen.h"
#include "tdb/tdb_netlist.h"
#include "tdc/tdc_accessories.h"

#include "morv/core/family/morv_family_traits.h"
#include "morv/core/morv_api.h"
#include "morv/core/morv_assert.h"
#include "morv/core/morv_debug_stream.h"
#include "morv/core/morv_env.h"
#include "morv/core/morv_expert.h"
#include "morv/netlist/morv_net_util.h"
#include "morv/retiming/morv_shift_reg_manager.h"
#include "morv/timing/morv_timing.h"
#include "morv/timing/morv_timing_ite.h"

namespace {

constexpr int MAX_PASSES = 5;
// A single pass moves at this gain whatever the caller tuned for its
// other calls.
constexpr double SINGLE_PASS_ALPHA = 10.0;
// The figure of merit is measured after every fourth pass.
constexpr int FOM_PERIOD = 4;
// A figure this much below the last one measured ends the passes.
constexpr int FOM_DROP_LIMIT = 10;

// Toward zero, within the int32 range.
int truncate_ps(double value)
{
    if (!(value > static_cast<double>(INT_MIN + 1))) return INT_MIN + 1;
    if (value > static_cast<double>(INT_MAX)) return INT_MAX;
    return static_cast<int>(value);
}

int clamp_ps(int64_t value)
{
    return static_cast<int>(std::clamp<int64_t>(value, INT_MIN + 1, INT_MAX));
}

}  // namespace

// ------------------------------------------------------------------ lifecycle

MORV_OPT_SKEW::MORV_OPT_SKEW(MORV_API* api) : m_fsyn_api(api)
{
    MORV_ASSERT_TEXT(m_fsyn_api, "m_fsyn_api");
    m_fsyn_timing = m_fsyn_api->get_fsyn_timing();
    MORV_ASSERT_TEXT(m_fsyn_timing, "m_fsyn_timing");
    m_fsyn_net_util = m_fsyn_api->peek_fsyn_net_util();
    MORV_ASSERT_TEXT(m_fsyn_net_util, "m_fsyn_net_util");
    const MORV_FAMILY_TRAITS& family = morv_family_traits(m_fsyn_api->get_base_family_code());
    m_one_cell_holds_lut_and_ff = family.m_one_cell_holds_lut_and_ff;
    m_ram_shift_registers = family.m_timing.m_ram_shift_registers;
}

MORV_OPT_SKEW::~MORV_OPT_SKEW() = default;

void MORV_OPT_SKEW::PASS::add(int delta)
{
    if (delta == 0) return;
    const int size = delta < 0 ? -delta : delta;
    sum += static_cast<float>(size);
    ++count;
    worst = std::max(worst, size);
}

// ------------------------------------------------------------------ computation

int MORV_OPT_SKEW::compute_optimal_skews(double sr_threshold, bool restore_clock_delays, bool single_pass)
{
    GEN_PROFILER section("Compute Optimal Skews");
    if (m_fsyn_timing->get_timing_mode() == MORV_TIMING_MODE_NEVRA) {
        MORV_ASSERT_TEXT(m_fsyn_timing->get_nevra() != nullptr, "nevra != NULL");
        start_computation();
        MORV_DEBUG_STREAM::print(2, "Computing Optimal Skews (for NEVRA)");
        return run_phases(&MORV_OPT_SKEW::estimator_pass, sr_threshold, restore_clock_delays, single_pass);
    }
    start_computation();
    MORV_DEBUG_STREAM::print(2, "Computing Optimal Skews");
    TDC_ACCESSORIES* accessories = tdc_get_accessories();
    m_tdb_netlist = accessories != nullptr ? accessories->get_tdb_netlist() : nullptr;
    MORV_ASSERT_TEXT(m_tdb_netlist != nullptr, "tdb_netlist != NULL");
    if (m_tdb_netlist->get_vec_of_edges() == nullptr) {
        MORV_DEBUG_STREAM::print(100, "Recreating the TDB_NETLIST vector of edges.\n");
        m_tdb_netlist->create_vec_of_edges();
        MORV_ASSERT_TEXT(m_tdb_netlist->get_vec_of_edges() != nullptr, "tdb_vec_of_edges != NULL");
    }
    m_edge_record.assign(m_tdb_netlist->get_vec_of_edges()->size(), -1);
    m_initial_edges.clear();
    const int best = run_phases(&MORV_OPT_SKEW::tdc_pass, sr_threshold, restore_clock_delays, single_pass);
    if (!restore_clock_delays) keep_applied_edges();
    m_tdb_netlist = nullptr;
    m_edge_record.clear();
    m_initial_edges.clear();
    return best;
}

// Steps shared by both back ends: every register starts at skew 0, the
// shift-register manager regroups the RAMs.
void MORV_OPT_SKEW::start_computation()
{
    MORV_ENV* env = m_fsyn_api->get_morv_env();
    CDB_ATOM_NETLIST* atom_netlist = m_fsyn_api->get_atom_netlist();
    MORV_ASSERT_TEXT(atom_netlist, "atom_netlist");
    m_id_base = atom_netlist->get_min_id_bound();
    const int64_t max_id = env != nullptr ? env->get_max_atom_id() : -1;
    const int64_t size = max_id >= static_cast<int64_t>(m_id_base) ? max_id - m_id_base + 1 : 0;
    m_skews.assign(static_cast<size_t>(size), CDB_ILLEGAL_TSM_DELAY);

    if (m_ram_shift_registers && cfg_is_on("fsyn_shift_reg_opts", true)) {
        if (!m_shift_reg_manager) m_shift_reg_manager = MORV_MAKE_OWNER(MORV_SHIFT_REG_MANAGER, m_fsyn_api);
        MORV_ASSERT_TEXT(m_shift_reg_manager, "m_shift_reg_manager");
        m_shift_reg_manager->initialize();
    } else {
        m_shift_reg_manager.reset();
    }
    for (CDB_ATOM_NODE* node : *atom_netlist) {
        MORV_ASSERT_TEXT(node, "node");
        if (is_register_element(node)) *skew_slot(node->get_id()) = 0;
    }
}

int MORV_OPT_SKEW::run_phases(PASS_BODY body, double sr_threshold, bool restore, bool single_pass)
{
    const int fom0 = m_fsyn_timing->get_figure_of_merit(false);
    int best_fom = fom0;
    int last_fom = fom0;
    MORV_DEBUG_STREAM::print(1, "lb_ret_params(alpha=%f, exit=%f, beta=%f)", m_alpha, m_exit, m_beta);
    MORV_DEBUG_STREAM::print(1, "Skew min passes = %d", m_min_passes);
    const MORV_EXPERT* expert = m_fsyn_api->get_fsyn_expert();
    const bool pre_placement = expert != nullptr && expert->is_fsyn_running_pre_placement_fsyn();
    const int max_passes = single_pass ? 1 : MAX_PASSES;
    const double alpha = single_pass ? SINGLE_PASS_ALPHA : m_alpha;
    m_feeding_chain_sr.clear();
    m_fed_chain_sr.clear();
    for (int phase = 0; phase < 2; ++phase) {
        const int passes = phase == 0 ? max_passes : 1;
        for (int pass = 0; pass < passes; ++pass) {
            PASS one{phase, pass, restore, pre_placement, sr_threshold, alpha};
            if (!run_one_pass(body, one, single_pass, best_fom, last_fom)) break;
        }
    }
    report_skews();
    return best_fom;
}

// False when the phase ends after this pass.
bool MORV_OPT_SKEW::run_one_pass(PASS_BODY body, PASS& pass, bool single_pass, int& best_fom, int& last_fom)
{
    reset_slack_ratio_caches();
    (this->*body)(pass);
    if (!single_pass) {
        if (pass.pre_placement) {
            m_fsyn_timing->mark_refresh_pending();
            m_fsyn_timing->update_timing();
        } else {
            m_fsyn_timing->perform_timing_analysis();
        }
    }
    const float average = pass.count > 0 ? pass.sum / static_cast<float>(pass.count) : 0.0f;
    if (pass.phase == 0 && pass.count > 0)
        MORV_DEBUG_STREAM::print(1, "%cpass=%03d: clock_off(avg) = %f, clock_off(worst) = %d",
                                 pass.pass % FOM_PERIOD == FOM_PERIOD - 1 ? '*' : ' ', pass.pass,
                                 static_cast<double>(average), pass.worst);
    if (pass.pass % FOM_PERIOD == FOM_PERIOD - 1) {
        const int fom = m_fsyn_timing->get_figure_of_merit(false);
        best_fom = std::max(best_fom, fom);
        if (static_cast<int64_t>(fom) < static_cast<int64_t>(last_fom) - FOM_DROP_LIMIT) return false;
        last_fom = fom;
    }
    return !(pass.count > 0 && static_cast<double>(average) < m_exit && pass.pass >= m_min_passes);
}

// ------------------------------------------------------------------ elements

MORV_OPT_SKEW::ELEMENT MORV_OPT_SKEW::classify(CDB_ATOM_NODE* node, bool pre_placement)
{
    ELEMENT kind;
    kind.is_reg = is_register_element(node);
    kind.is_mac = node->is_mac_mult() || node->is_mac_out();
    kind.is_sr =
        pre_placement && m_shift_reg_manager && node->is_ram() && m_shift_reg_manager->is_node_shift_register(node) > 0;
    return kind;
}

bool MORV_OPT_SKEW::element_delta(CDB_ATOM_NODE* node, const ELEMENT& kind, const PASS& pass, int& delta)
{
    if (!kind.is_reg && !(kind.is_mac && pass.pre_placement) && !kind.is_sr) return false;
    if (kind.is_reg) {
        CDB_ATOM_OTERM* regout = node->get_output_term_by_type(DB_REG_OUT);
        if (regout == nullptr || m_fsyn_api->is_oterm_dont_touch(regout, AMM_OP_FITTER_FSYN_RETIME)) return false;
    } else if (m_fsyn_api->is_atom_dont_touch(static_cast<int>(node->get_id()), AMM_OP_FITTER_FSYN_SKEW_RETIME)) {
        return false;
    }
    const int step = compute_skew_step(node, pass.sr_threshold);
    const int s = truncate_ps(step * pass.alpha);
    const double mobility = s > 0 ? get_bwd_mobility(node) : get_fwd_mobility(node);
    delta = truncate_ps(mobility * s);
    return true;
}

// A register of the family: its own atom, or (where one cell holds LUT and
// register) a logic cell that carries one.
bool MORV_OPT_SKEW::is_register_element(CDB_ATOM_NODE* node) const
{
    if (m_fsyn_net_util->is_ff(node)) return true;
    return m_one_cell_holds_lut_and_ff && m_fsyn_net_util->is_lcell(node) && m_fsyn_net_util->is_register_present(node);
}

bool MORV_OPT_SKEW::is_clock_term(const CDB_ATOM_ITERM* iterm) const
{
    return iterm != nullptr &&
           (iterm->is_used_as(DB_CLOCK) || iterm->is_used_as(DB_RAM_CLK0) || iterm->is_used_as(DB_RAM_CLK1));
}

int* MORV_OPT_SKEW::skew_slot(uint32_t node_id)
{
    MORV_ASSERT_TEXT(node_id >= m_id_base && node_id - m_id_base < m_skews.size(), "node->get_id() < m_skews.size()");
    return &m_skews[node_id - m_id_base];
}

int MORV_OPT_SKEW::get_skew(int node_id) const
{
    if (node_id < static_cast<int64_t>(m_id_base) || static_cast<size_t>(node_id - m_id_base) >= m_skews.size())
        return CDB_ILLEGAL_TSM_DELAY;
    return m_skews[static_cast<size_t>(node_id - m_id_base)];
}

// ------------------------------------------------------------------ analyser pass

// The delays are written after the walk: every step of a pass sees the
// timing of the last update, whatever an edge before it took.
void MORV_OPT_SKEW::tdc_pass(PASS& pass)
{
    const std::vector<TDB_EDGE*>& edges = *m_tdb_netlist->get_vec_of_edges();
    std::vector<std::pair<TDB_EDGE*, int>> writes;
    for (size_t position = 0; position < edges.size(); ++position) {
        TDB_EDGE* edge = edges[position];
        if (edge == nullptr || !edge->is_for_tdc() || !is_clock_term(edge->get_iterm())) continue;
        if (pass.phase == 0 && pass.pass == 0) record_initial_delays(position, edge);
        const int record = position < m_edge_record.size() ? m_edge_record[position] : -1;
        const EDGE_DELAYS* initial = record >= 0 ? &m_initial_edges[static_cast<size_t>(record)] : nullptr;
        if (pass.phase == 1 && pass.restore && initial != nullptr) {
            // All four delays as they were, not one value in their place.
            if (write_edge_delays(edge, *initial) && m_fsyn_timing->is_itest_enabled())
                m_fsyn_timing->get_itest()->mark_node_for_analysis(edge->get_iterm()->get_my_node(), false);
            continue;
        }
        int d = edge->get_delay()->get_delay(TDB_DELAY_IC, TDB_MAX, 2);
        CDB_ATOM_NODE* node = edge->get_iterm()->get_my_node();
        int delta = 0;
        if (pass.phase == 0 && initial != nullptr &&
            element_delta(node, classify(node, pass.pre_placement), pass, delta)) {
            d = clamp_ps(static_cast<int64_t>(d) + delta);
            const int initial_delay = std::max(initial->values[0], initial->values[1]);
            *skew_slot(node->get_id()) = clamp_ps(static_cast<int64_t>(d) - initial_delay);
            pass.add(delta);
        }
        writes.emplace_back(edge, d);
    }
    for (const auto& [edge, d] : writes) write_edge_delay(edge, d);
}

void MORV_OPT_SKEW::record_initial_delays(size_t position, const TDB_EDGE* edge)
{
    if (position >= m_edge_record.size()) return;
    m_edge_record[position] = static_cast<int>(m_initial_edges.size());
    const TDB_DELAY* delays = edge->get_delay();
    m_initial_edges.push_back(
        {edge->get_id(),
         {delays->get_delay(TDB_DELAY_IC, TDB_MAX, 0), delays->get_delay(TDB_DELAY_IC, TDB_MAX, 1),
          delays->get_delay(TDB_DELAY_IC, TDB_MIN, 0), delays->get_delay(TDB_DELAY_IC, TDB_MIN, 1)}});
}

void MORV_OPT_SKEW::write_edge_delay(TDB_EDGE* edge, int d)
{
    if (d == edge->get_max_ic_delay() && d == edge->get_min_ic_delay()) return;
    edge->get_delay()->set_delay(TDB_DELAY_IC, d, d, d, d);
    m_fsyn_timing->note_timing_delays_changed();
    if (m_fsyn_timing->is_itest_enabled())
        m_fsyn_timing->get_itest()->mark_node_for_analysis(edge->get_iterm()->get_my_node(), false);
}

bool MORV_OPT_SKEW::write_edge_delays(TDB_EDGE* edge, const EDGE_DELAYS& delays)
{
    TDB_DELAY* now = edge->get_delay();
    if (now->get_delay(TDB_DELAY_IC, TDB_MAX, 0) == delays.values[0] &&
        now->get_delay(TDB_DELAY_IC, TDB_MAX, 1) == delays.values[1] &&
        now->get_delay(TDB_DELAY_IC, TDB_MIN, 0) == delays.values[2] &&
        now->get_delay(TDB_DELAY_IC, TDB_MIN, 1) == delays.values[3])
        return false;
    now->set_delay(TDB_DELAY_IC, delays.values[0], delays.values[1], delays.values[2], delays.values[3]);
    m_fsyn_timing->note_timing_delays_changed();
    return true;
}

// The clock edges this computation left changed remember their delays from
// before it, unless an earlier computation changed them first.
void MORV_OPT_SKEW::keep_applied_edges()
{
    for (const EDGE_DELAYS& initial : m_initial_edges) {
        TDB_EDGE* edge = m_tdb_netlist->find_edge(initial.edge_id);
        if (edge == nullptr || m_applied_edges.count(initial.edge_id) != 0) continue;
        const TDB_DELAY* now = edge->get_delay();
        if (now->get_delay(TDB_DELAY_IC, TDB_MAX, 0) != initial.values[0] ||
            now->get_delay(TDB_DELAY_IC, TDB_MAX, 1) != initial.values[1] ||
            now->get_delay(TDB_DELAY_IC, TDB_MIN, 0) != initial.values[2] ||
            now->get_delay(TDB_DELAY_IC, TDB_MIN, 1) != initial.values[3])
            m_applied_edges.emplace(initial.edge_id, initial);
    }
}

// Edges are found again by id: ids are never reused, so an edge removed
// or a timing netlist rebuilt since the computation is simply not found.
bool MORV_OPT_SKEW::restore_edges()
{
    TDC_ACCESSORIES* accessories = tdc_get_accessories();
    TDB_NETLIST* tdb_netlist = accessories != nullptr ? accessories->get_tdb_netlist() : nullptr;
    bool changed = false;
    for (const auto& [edge_id, delays] : m_applied_edges) {
        TDB_EDGE* edge = tdb_netlist != nullptr ? tdb_netlist->find_edge(edge_id) : nullptr;
        if (edge == nullptr || !is_clock_term(edge->get_iterm()) || !write_edge_delays(edge, delays)) continue;
        changed = true;
        if (m_fsyn_timing->is_itest_enabled())
            m_fsyn_timing->get_itest()->mark_node_for_analysis(edge->get_iterm()->get_my_node(), false);
    }
    m_applied_edges.clear();
    return changed;
}

bool MORV_OPT_SKEW::restore_skews()
{
    const bool edges = restore_edges();
    const bool offsets = restore_offsets();
    if (!edges && !offsets) return false;
    m_fsyn_timing->mark_refresh_pending();
    return true;
}

// ------------------------------------------------------------------ report

void MORV_OPT_SKEW::report_skews() const
{
    const MORV_DEBUG_STREAM& stream = MORV_DEBUG_STREAM::get_stream();
    if (!stream.is_enabled() || stream.get_threshold() < 100) return;
    MORV_DEBUG_STREAM::print(100, "**** ALL SKEWS ****");
    float total = 0.0f;
    int count = 0;
    for (size_t i = 0; i < m_skews.size(); ++i) {
        const int skew = m_skews[i];
        if (skew == CDB_ILLEGAL_TSM_DELAY) continue;
        const int id = static_cast<int>(m_id_base + i);
        CDB_ATOM_NODE* node = m_fsyn_api->get_node(id);
        const int size = std::abs(skew);
        if (size > 1 && node != nullptr) {
            const char* type = node->is_ram() ? "RAM" : node->is_mac_mult() || node->is_mac_out() ? "MAC" : "FF";
            MORV_DEBUG_STREAM::print(100, "NODE <%d> : skew <%d> bwk_mobility <%.2f> fwd_mobility <%.2f> (TYPE:%s)", id,
                                     skew, get_bwd_mobility(node), get_fwd_mobility(node), type);
        }
        total += static_cast<float>(size);
        ++count;
    }
    MORV_DEBUG_STREAM::print(100, "NUMBER OF NODES: %d", count);
    MORV_DEBUG_STREAM::print(100, "AVERAGE SKEW: %f", count > 0 ? static_cast<double>(total / count) : 0.0);
}

// ------------------------------------------------------------------ retiming-aware iterations

MORV_RTM_AWARE_SKEWS::MORV_RTM_AWARE_SKEWS(MORV_API* api, double sr_threshold)
    : m_opt_skew(MORV_MAKE_OWNER(MORV_OPT_SKEW, api))
{
    m_opt_skew->compute_optimal_skews(sr_threshold, false, false);
}

MORV_RTM_AWARE_SKEWS::~MORV_RTM_AWARE_SKEWS()
{
    m_opt_skew->restore_skews();
}
