// Whether a divided cone beats the root's current logic, the solution
// record of one that does, and LUT masks of functions over an ordered
// support.

#include <vector>

#include "cdb/cdb_atom_netlist.h"

#include "morv/core/morv_debug_stream.h"
#include "morv/resyn/morv_resyn.h"

bool MORV_RESYN::accept_division()
{
    int divisors = 0;
    for (const MORV_OWNER<RESYN_VAR>& var : m_vars)
        if (var->oterm == nullptr) ++divisors;
    const double new_sr = get_min_support_slack_ratio(m_div_data->cover);
    if (!is_improvement(divisors, new_sr, true)) return false;
    build_solution(divisors, new_sr);
    return true;
}

bool MORV_RESYN::is_improvement(int divisors, double new_sr, bool print) const
{
    const double s = m_soln->sr;
    const double a = m_soln->area;
    const double n = m_noise_sr;
    if (m_num_duplicated - m_num_expanded + divisors > m_area_bound) return false;
    const double new_area = (divisors + 1) + m_input_area;
    if (new_sr > s + n) {
        if (print)
            MORV_DEBUG_STREAM::print(100, "improved timing %.3f -> %.3f, area %.3f -> %.3f", s, new_sr, a, new_area);
        return true;
    }
    if (new_sr > s - n && a - 0.01 > new_area) {
        if (print)
            MORV_DEBUG_STREAM::print(100, "improved area %.3f -> %.3f, timing %.3f -> %.3f", a, new_area, s, new_sr);
        return true;
    }
    return false;
}

void MORV_RESYN::build_solution(int divisors, double new_sr)
{
    RESYN_SOLN& soln = *m_soln;
    soln.area = divisors + m_input_area + 1.0;
    soln.sr = new_sr;
    soln.inputs.clear();
    soln.luts.clear();
    soln.cuts_path = false;
    for (const MORV_OWNER<RESYN_VAR>& var : m_vars) {
        if (var->oterm == nullptr) continue;
        soln.inputs.push_back(RESYN_SOLN_INPUT{var->oterm, var->is_input, var->props, var->bp_id, var->in_support});
        if (var->expanded || var->in_support) continue;
        soln.cuts_path = true;
        MORV_DEBUG_STREAM::print(100, "cutting path from %s", get_oterm_name(var->oterm).c_str());
    }
    for (const MORV_OWNER<RESYN_VAR>& var : m_vars)
        if (var->oterm == nullptr) soln.luts.push_back(make_solution_lut(var->bdd));
    soln.luts.push_back(make_solution_lut(m_div_data->cover));
}

RESYN_SOLN_LUT MORV_RESYN::make_solution_lut(const BDD_JBDD& f)
{
    RESYN_SOLN_LUT lut;
    lut.inputs = f.build_support();
    bdd_to_lutmask(f, lut.inputs, 0, lut.mask, 0);
    return lut;
}

// Input k of the LUT reads support[k]; with swapped cofactors a set input
// bit selects the function's low child, as the reversed-mask families read
// their masks.
void MORV_RESYN::bdd_to_lutmask(BDD_JBDD f, const std::vector<int>& support, int k, uint64_t& mask, int index)
{
    if (k >= m_num_data_ports) {
        if (f == m_bdd_mgr->true_bdd()) mask |= uint64_t{1} << index;
        return;
    }
    BDD_JBDD lo = f;
    BDD_JBDD hi = f;
    const bool constant = f == m_bdd_mgr->true_bdd() || f == m_bdd_mgr->false_bdd();
    if (!constant && k < static_cast<int>(support.size()) && f.variable() == support[static_cast<size_t>(k)]) {
        lo = f.low_child();
        hi = f.high_child();
        if (swaps_cofactors()) std::swap(lo, hi);
    }
    bdd_to_lutmask(lo, support, k + 1, mask, index);
    bdd_to_lutmask(hi, support, k + 1, mask, index + (1 << k));
}
