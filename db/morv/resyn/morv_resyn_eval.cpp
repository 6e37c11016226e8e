// Which nodes RESYN resynthesizes: per-output slack-ratio estimates, the
// candidate roots evaluated through their fan-in, the stage slack ratio of
// a root, and the marking of the solutions that stay in use.

#include <algorithm>

#include "cdb/cdb_atom_netlist.h"

#include "morv/core/morv_api.h"
#include "morv/core/morv_assert.h"
#include "morv/core/morv_debug_stream.h"
#include "morv/core/morv_env.h"
#include "morv/core/family/morv_family_traits.h"
#include "morv/resyn/morv_resyn.h"
#include "morv/timing/morv_timing.h"

namespace {

// Global settings a root or a collapsed node may have on its inputs.
bool is_plain_global_setting(const CDB_ATOM_ITERM* iterm)
{
    const int setting = iterm->get_global();
    return setting == 0 || setting == 2 || setting == 4;
}

}  // namespace

void MORV_RESYN::build_oterm_records()
{
    MORV_TIMING* timing = m_fsyn_api->get_fsyn_timing();
    for (CDB_ATOM_NODE* node : *m_fsyn_api->get_atom_netlist()) {
        if (!is_lut_node(node)) continue;
        for (auto out = node->begin_oterm(); out != node->end_oterm(); ++out) {
            CDB_ATOM_OTERM* oterm = *out;
            if (oterm->is_used_as(DB_REG_OUT)) continue;
            RESYN_OTERM record;
            record.oterm = oterm;
            for (auto in = node->begin_iterm(); in != node->end_iterm(); ++in) {
                CDB_ATOM_ITERM* iterm = *in;
                if (iterm->get_usage_count() == 0 || !node->does_iterm_reach_oterm(oterm, iterm)) continue;
                record.sr = std::min(record.sr, timing->get_slack_ratio(iterm));
            }
            record.sr_new = record.sr;
            m_oterms.emplace(oterm, record);
        }
    }
}

bool MORV_RESYN::is_candidate_root(CDB_ATOM_NODE* node)
{
    MORV_ASSERT_TEXT(node, "node");
    if (!is_resynthesizable_node(node)) return false;
    if (m_fsyn_api->is_atom_dont_touch(static_cast<int>(node->get_id()), AMM_OP_FITTER_FSYN_RESYNTHESIS)) return false;
    for (auto in = node->begin_iterm(); in != node->end_iterm(); ++in)
        if ((*in)->is_connected() && !is_plain_global_setting(*in)) return false;
    for (int k = 0; k < m_num_data_ports; ++k) {
        CDB_ATOM_ITERM* iterm = node->get_input_term_by_type(DB_DATA_A + k);
        if (iterm != nullptr && iterm->is_connected()) return true;
    }
    return false;
}

void MORV_RESYN::evaluate_candidates()
{
    // Evaluation never adds nodes, so the walk sees the netlist it started on.
    for (CDB_ATOM_NODE* node : *m_fsyn_api->get_atom_netlist()) {
        if (!is_candidate_root(node)) continue;
        double sr = 0.0;
        double area = 0.0;
        evaluate_node(node, nullptr, true, sr, area);
    }
}

RESYN_OTERM* MORV_RESYN::evaluate_oterm(CDB_ATOM_OTERM* oterm)
{
    MORV_ASSERT_TEXT(oterm, "oterm");
    auto found = m_oterms.find(oterm);
    if (found == m_oterms.end()) return nullptr;
    RESYN_OTERM* record = &found->second;
    if (record->visited) return record;
    record->visited = true;
    CDB_ATOM_NODE* node = oterm->get_my_node();
    if (node == nullptr) return record;
    double sr = 0.0;
    double area = 0.0;
    if (oterm->is_used_as(DB_COMB_OUT) && is_candidate_root(node)) evaluate_node(node, nullptr, false, sr, area);
    else evaluate_node(node, oterm, false, sr, area);
    record->sr_new = sr;
    const double cap = morv_family_traits(m_fsyn_api->get_base_family_code()).m_timing.m_resyn_gain_cap;
    if (cap > 0.0) record->sr_new = std::min(record->sr_new, record->sr + cap);
    int fanout = oterm->get_number_of_fanout();
    if (lut_feeds_register(oterm)) fanout += 1;
    record->area_share = area / std::max(fanout, 1);
    return record;
}

void MORV_RESYN::evaluate_node(CDB_ATOM_NODE* node, CDB_ATOM_OTERM* oterm, bool is_root, double& out_sr,
                               double& out_area)
{
    MORV_ASSERT_TEXT(node, "node");
    if (oterm != nullptr) {
        MORV_TIMING* timing = m_fsyn_api->get_fsyn_timing();
        out_area = 1.0;
        out_sr = 1.0;
        for (auto in = node->begin_iterm(); in != node->end_iterm(); ++in) {
            CDB_ATOM_ITERM* iterm = *in;
            if (iterm->get_source() == nullptr || !node->does_iterm_reach_oterm(oterm, iterm)) continue;
            double s = timing->get_slack_ratio(iterm);
            if (RESYN_OTERM* r = evaluate_oterm(iterm->get_source())) {
                s += r->sr_new - r->sr;
                out_area += r->area_share;
            }
            out_sr = std::min(out_sr, s);
        }
        return;
    }
    auto found = m_solns.find(node->get_id());
    if (found == m_solns.end()) {
        RESYN_SOLN fresh;
        fresh.node = node;
        found = m_solns.emplace(node->get_id(), fresh).first;
        evaluate_root_solution(node, &found->second);
    }
    RESYN_SOLN& soln = found->second;
    if (!is_root) soln.root_candidate = false;
    out_sr = soln.sr;
    out_area = soln.area;
}

// Estimates a node's own solution and resynthesizes it when it is critical.
void MORV_RESYN::evaluate_root_solution(CDB_ATOM_NODE* node, RESYN_SOLN* solution)
{
    MORV_TIMING* timing = m_fsyn_api->get_fsyn_timing();
    double area = 1.0;
    double best = 1.0;
    double measured = 1.0;
    int min_slack = 1000000000;
    for (int k = 0; k < m_num_data_ports; ++k) {
        CDB_ATOM_ITERM* iterm = node->get_input_term_by_type(DB_DATA_A + k);
        if (iterm == nullptr || iterm->get_source() == nullptr) continue;
        const double ratio = timing->get_slack_ratio(iterm);
        double s = ratio;
        if (RESYN_OTERM* r = evaluate_oterm(iterm->get_source())) {
            s += r->sr_new - r->sr;
            area += r->area_share;
        }
        best = std::min(best, s);
        measured = std::min(measured, ratio);
        min_slack = std::min(min_slack, timing->get_slack(iterm));
    }
    // The fan-in evaluations above set the per-root members for their own
    // nodes; this node's values are set only now.
    m_root_sr = best;
    solution->area = area;
    solution->sr = best;
    solution->pre_sr = best;
    m_soln = solution;
    m_stage_sr = compute_stage_slack_ratio(node);
    if (m_stage_sr < 0.01) m_stage_sr = m_default_stage_sr;
    m_duplicate_sr = m_stage_sr * m_duplicate_fr;
    m_noise_sr = m_stage_sr * m_noise_fr;
    MORV_DEBUG_STREAM::print(100, "using a stage/duplicate/noise sr of %.3f/%.3f/%.3f", m_stage_sr, m_duplicate_sr,
                             m_noise_sr);
    const bool tie = !(m_sr_threshold > m_root_sr) && admits_zero_ratio_tie(measured, min_slack);
    if (!(m_sr_threshold > m_root_sr) && !tie) return;
    if (m_use_guardband_slack && min_slack >= m_guardband_slack) return;
    // The LATE flow's cut-off reads pre_sr; for a tie the estimate counts
    // the gains of fan-in roots of the same chain of ties and would call
    // logic measured at 0 uncritical.
    if (tie) solution->pre_sr = measured;
    resynthesize_root(node);
}

// The measured ratio, not the estimate: the estimate of a root in a chain
// of ties rises above 0 with its resynthesized fan-in, which would leave
// all but the first root of the chain out.
bool MORV_RESYN::admits_zero_ratio_tie(double measured_sr, int min_slack) const
{
    return m_admit_zero_ties && measured_sr <= 0.0 && min_slack <= m_zero_tie_slack;
}

double MORV_RESYN::compute_stage_slack_ratio(CDB_ATOM_NODE* node)
{
    MORV_TIMING* timing = m_fsyn_api->get_fsyn_timing();
    double ratio[6] = {};
    int slack[6] = {};
    int count = 0;
    for (int k = 0; k < m_num_data_ports && k < 6; ++k) {
        CDB_ATOM_ITERM* iterm = node->get_input_term_by_type(DB_DATA_A + k);
        if (iterm == nullptr) continue;
        ratio[count] = timing->get_slack_ratio(iterm);
        slack[count] = timing->get_slack(iterm);
        ++count;
    }
    double sr1 = 1.01;
    int slack1 = 0;
    for (int i = 0; i < count; ++i)
        if (ratio[i] < sr1) {
            sr1 = ratio[i];
            slack1 = slack[i];
        }
    double sr2 = 1.01;
    int slack2 = 0;
    for (int i = 0; i < count; ++i)
        if (ratio[i] > sr1 + 0.005 && ratio[i] < sr2) {
            sr2 = ratio[i];
            slack2 = slack[i];
        }
    if (sr1 < 0.9 && sr2 < 0.9 && slack1 < slack2)
        return (sr2 - sr1) * m_stage_delay / static_cast<double>(slack2 - slack1);
    return 0.0;
}

int MORV_RESYN::select_solutions()
{
    mark_root_solutions();
    while (!m_oterm_queue.empty()) {
        RESYN_OTERM* record = m_oterm_queue.front();
        m_oterm_queue.pop_front();
        mark_from_oterm(record);
    }
    return implement_selected_solutions();
}

void MORV_RESYN::mark_root_solutions()
{
    for (auto& entry : m_solns)
        if (entry.second.root_candidate) mark_solution(&entry.second);
}

void MORV_RESYN::mark_solution(RESYN_SOLN* solution)
{
    solution->selected = true;
    if (!solution->luts.empty()) {
        for (const RESYN_SOLN_INPUT& input : solution->inputs)
            if (input.used) queue_oterm(input.oterm);
        return;
    }
    for (int k = 0; k < m_num_data_ports; ++k) {
        CDB_ATOM_ITERM* iterm = solution->node->get_input_term_by_type(DB_DATA_A + k);
        if (iterm != nullptr && iterm->get_source() != nullptr) queue_oterm(iterm->get_source());
    }
}

void MORV_RESYN::queue_oterm(CDB_ATOM_OTERM* oterm)
{
    MORV_ASSERT_TEXT(oterm, "oterm");
    auto found = m_oterms.find(oterm);
    if (found == m_oterms.end() || found->second.queued) return;
    found->second.queued = true;
    m_oterm_queue.push_back(&found->second);
}

void MORV_RESYN::mark_from_oterm(RESYN_OTERM* record)
{
    CDB_ATOM_OTERM* oterm = record->oterm;
    MORV_ASSERT_TEXT(oterm, "oterm");
    CDB_ATOM_NODE* node = oterm->get_my_node();
    if (node == nullptr) return;
    if (oterm->is_used_as(DB_COMB_OUT)) {
        auto found = m_solns.find(node->get_id());
        if (found != m_solns.end()) {
            if (!found->second.selected) mark_solution(&found->second);
            return;
        }
    }
    for (auto in = node->begin_iterm(); in != node->end_iterm(); ++in) {
        CDB_ATOM_ITERM* iterm = *in;
        if (iterm->get_source() != nullptr && node->does_iterm_reach_oterm(oterm, iterm))
            queue_oterm(iterm->get_source());
    }
}

void MORV_RESYN::free_iteration_records()
{
    m_oterm_queue.clear();
    m_oterms.clear();
    m_solns.clear();
    m_soln = nullptr;
}
