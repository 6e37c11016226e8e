// iTEst's line from slack to raw slack ratio per domain: a least-squares fit
// over the domain's edges as the last full analysis left them, and per edge
// its distance from the line, so that an edge whose slack does not change
// keeps its ratio exactly.

#include <algorithm>
#include <cmath>
#include <limits>

#include "gen/gen.h"
#include "msg/msg.h"

#include "morv/core/morv_assert.h"
#include "morv/core/morv_debug_stream.h"
#include "morv/timing/morv_timing_ite.h"

void MORV_TIMING_ITE_LINE_SUMS::add(double x, double y)
{
    m_n += 1.0;
    m_x += x;
    m_y += y;
    m_xx += x * x;
    m_xy += x * y;
}

bool MORV_TIMING_ITE_LINE_SUMS::fit(float& slope, float& intercept) const
{
    if (m_n == 0.0) {
        // No point, no line.
        slope = intercept = std::numeric_limits<float>::quiet_NaN();
        return true;
    }
    const double d = m_n * m_xx - m_x * m_x;
    if (d == 0.0) {
        slope = 0.0f;
        intercept = static_cast<float>(m_y / m_n);
        return false;
    }
    slope = static_cast<float>((m_n * m_xy - m_x * m_y) / d);
    intercept = static_cast<float>((m_y * m_xx - m_x * m_xy) / d);
    return true;
}

// An edge a core clock domain shares with another core clock domain of its
// group stays out of that domain's line when there are others.
bool MORV_TIMING_ITE::is_edge_shared_with_other_core_clock_domain(const MORV_TIMING_ITE_DOMAIN_INFO* domain,
                                                                  int edge_id) const
{
    if (!domain->is_core_clock_domain()) return false;
    // An edge of this domain alone (the usual case) is in no other.
    const size_t index = static_cast<size_t>(static_cast<int64_t>(edge_id) - m_edge_id_base);
    if (index < m_edge_domain_vec.size() && m_edge_domain_vec[index] == domain->m_id) return false;
    for (int id : get_group_clock_domains(domain->m_group).m_domains) {
        if (id == ITE_NO_DOMAIN) break;
        if (id != domain->m_id && m_domain_info[static_cast<size_t>(id)].m_edge_slack_ratios.contains(edge_id))
            return true;
    }
    return false;
}

void MORV_TIMING_ITE::compute_sr_lr_params_for_domain(MORV_TIMING_ITE_DOMAIN_INFO* domain) const
{
    GEN_PROFILER profile("fsyn_ite_compute_sr_lr_params_for_domain");
    MORV_TIMING_ITE_LINE_SUMS all, some;
    for (const auto& [edge_id, record] : domain->m_edge_slack_ratios) {
        if (std::isnan(record->m_raw_slack_ratio)) continue;
        const double x = record->m_slack;
        const double y = record->m_raw_slack_ratio;
        all.add(x, y);
        if (!is_edge_shared_with_other_core_clock_domain(domain, edge_id)) some.add(x, y);
    }
    const bool use_some = some.m_n > 0.0;
    const MORV_TIMING_ITE_LINE_SUMS& used = use_some ? some : all;
    if (m_debug)
        MORV_DEBUG_STREAM::print(2, "iTEst: domain %d sr lr approx using %s edges (%d / %d edges)", domain->m_id,
                                 use_some ? "SOME" : "ALL", static_cast<int>(used.m_n),
                                 static_cast<int>(domain->m_edge_slack_ratios.size()));
    if (used.fit(domain->m_sr_lr_slope, domain->m_sr_lr_intercept)) return;
    // One slack value fixes no slope. The line was designed flat there
    // (slope 0 through the mean ratio), but a flat line keeps every ratio of
    // the domain where it was however far its slacks move (a domain of one
    // edge is common between clocks and at pins): estimates then missed the
    // analyser's ratios on 48 edges in 22 of 1,000 generated edits. The
    // analyser's ratio rises by 1 / (requirement - min(0, worst slack)) per
    // unit of slack; the line takes that slope through the mean point.
    const double x = used.m_x / used.m_n;
    const double span = std::max(domain->m_requirement, 1) - std::min(0.0, static_cast<double>(domain->m_wc_slack));
    domain->m_sr_lr_slope = static_cast<float>(1.0 / span);
    domain->m_sr_lr_intercept = static_cast<float>(used.m_y / used.m_n - x / span);
}

void MORV_TIMING_ITE::compute_sr_lr_approximation_for_domain(MORV_TIMING_ITE_DOMAIN_INFO* domain) const
{
    MORV_ASSERT_TEXT(domain != nullptr, "domain_info != NULL");
    MORV_ASSERT_TEXT(!domain->m_ready_for_estimation, "!domain_info->m_ready_for_estimation");
    ++m_line_fits;
    compute_sr_lr_params_for_domain(domain);
    if (!domain->m_edge_slack_ratios.empty() &&
        (std::isnan(domain->m_sr_lr_slope) || std::isnan(domain->m_sr_lr_intercept))) {
        MORV_DEBUG_STREAM::print(
            2, "iTEst: WARNING! SR LR approximation in domain (id = %d, requirement = %d) is totally screwed (NaNs!).",
            domain->m_id, domain->m_requirement);
        MSG_INTERNAL_ERROR::report("iTEst: SR LR approximation not computed correctly", "MORV", __FILE__, __LINE__);
    }
    if (m_debug) {
        MORV_DEBUG_STREAM::print(
            2, "iTEst: domain SR LR parameters (id = %d, requirement %d, sr lr params: slope = %f, intercept = %f)",
            domain->m_id, domain->m_requirement, static_cast<double>(domain->m_sr_lr_slope),
            static_cast<double>(domain->m_sr_lr_intercept));
        if (m_debug_compute_sr_lr_r2) {
            const float r2 = compute_sr_lr_r2(domain);
            MORV_DEBUG_STREAM::print(2, "        R^2 coefficient = %f", static_cast<double>(r2));
            if (r2 < 0.9f)
                MORV_DEBUG_STREAM::print(
                    2,
                    "iTEst: WARNING! Potential issue with SR LR approximation in domain (id = %d, requirement %d, "
                    "R^2 = %f).",
                    domain->m_id, domain->m_requirement, static_cast<double>(r2));
        }
    }
    compute_raw_slack_ratio_adjustments_for_domain(domain);
    domain->m_zero_slack_raw_sr =
        domain->m_wc_slack < 0 && domain->m_sr_lr_intercept > 0.0f && domain->m_sr_lr_intercept < 1.0f
            ? domain->m_sr_lr_intercept
            : 0.0f;
    domain->m_ready_for_estimation = true;
}

// Over the edges the line may use (those with a ratio and not shared with
// another core clock domain), in single precision.
float MORV_TIMING_ITE::compute_sr_lr_r2(const MORV_TIMING_ITE_DOMAIN_INFO* domain) const
{
    float sum_y = 0.0f;
    int n = 0;
    auto usable = [&](int edge_id, const MORV_TIMING_ITE_EDGE_SLACK_RATIOS* record) {
        return !std::isnan(record->m_raw_slack_ratio) && !is_edge_shared_with_other_core_clock_domain(domain, edge_id);
    };
    for (const auto& [edge_id, record] : domain->m_edge_slack_ratios) {
        if (!usable(edge_id, record)) continue;
        sum_y += record->m_raw_slack_ratio;
        ++n;
    }
    const float mean = n > 0 ? sum_y / static_cast<float>(n) : 0.0f;
    float ss_tot = 0.0f, ss_reg = 0.0f;
    for (const auto& [edge_id, record] : domain->m_edge_slack_ratios) {
        if (!usable(edge_id, record)) continue;
        const float dy = record->m_raw_slack_ratio - mean;
        const float dr = domain->m_sr_lr_slope * static_cast<float>(record->m_slack) + domain->m_sr_lr_intercept - mean;
        ss_tot += dy * dy;
        ss_reg += dr * dr;
    }
    return ss_tot > 0.0001f ? ss_reg / ss_tot : 1.0f;
}

void MORV_TIMING_ITE::compute_raw_slack_ratio_adjustments_for_domain(MORV_TIMING_ITE_DOMAIN_INFO* domain)
{
    GEN_PROFILER profile("fsyn_ite_compute_raw_slack_ratio_adjustments_for_domain");
    for (auto& entry : domain->m_edge_slack_ratios) {
        MORV_TIMING_ITE_EDGE_SLACK_RATIOS* record = entry.second;
        record->m_raw_sr_adjustment =
            record->m_raw_slack_ratio -
            (domain->m_sr_lr_slope * static_cast<float>(record->m_slack) + domain->m_sr_lr_intercept);
    }
}
