#include "morv/core/stats/morv_stats.h"

#include "gen/gen.h"

#include "mem_alloc_sys.h"
#include "morv/core/morv_api.h"
#include "morv/core/morv_assert.h"
#include "morv/core/morv_debug_stream.h"
#include "morv/timing/morv_timing.h"

namespace {
void add_pair(std::pair<int, int>& into, const std::pair<int, int>& from)
{
    into.first += from.first;
    into.second += from.second;
}

void bump(std::pair<int, int>& counter, int amount)
{
    counter.first += amount;
    counter.second += amount;
}

// Share of part in total, in percent; the caller guarantees total != 0.
double percent_of(int part, int total)
{
    return static_cast<double>(part) * 100.0 / static_cast<double>(total);
}

void print_times(const char* column, int seconds, int timing, int icp, int post_icp)
{
    const int all = timing + icp + post_icp;
    if (seconds != 0) {
        MORV_DEBUG_STREAM::print(1,
                                 "   %s timing anal / icp / post-icp / all [seconds]: %d(%3.0f%%%%) / %d(%3.0f%%%%) / "
                                 "%d(%3.0f%%%%) / %d(%3.0f%%%%)",
                                 column, timing, percent_of(timing, seconds), icp, percent_of(icp, seconds), post_icp,
                                 percent_of(post_icp, seconds), all, percent_of(all, seconds));
    } else {
        MORV_DEBUG_STREAM::print(1,
                                 "   %s timing anal / icp / post-icp / all [seconds]: %d(%3.0f%%%%) / %d(%3.0f%%%%) / "
                                 "%d(%3.0f%%%%) / %d(%3.0f%%%%)",
                                 column, 0, 0.0, 0, 0.0, 0, 0.0, 0, 0.0);
    }
}
}  // namespace

void MORV_STATS::restore_counters_from(const MORV_STATS& saved)
{
    m_atoms_added.second = saved.m_atoms_added.second;
    m_atoms_deleted.second = saved.m_atoms_deleted.second;
    m_atoms_modified.second = saved.m_atoms_modified.second;
    m_timing_analyses.second = saved.m_timing_analyses.second;
    m_timing_analysis_seconds.second = saved.m_timing_analysis_seconds.second;
    m_icp_runs.second = saved.m_icp_runs.second;
    m_icp_seconds.second = saved.m_icp_seconds.second;
    m_post_icp_runs.second = saved.m_post_icp_runs.second;
    m_post_icp_seconds.second = saved.m_post_icp_seconds.second;
    m_icp_failures.second = saved.m_icp_failures.second;
}

void MORV_STATS::add_counters_from(const MORV_STATS& other)
{
    add_pair(m_atoms_added, other.m_atoms_added);
    add_pair(m_atoms_deleted, other.m_atoms_deleted);
    add_pair(m_atoms_modified, other.m_atoms_modified);
    add_pair(m_timing_analyses, other.m_timing_analyses);
    add_pair(m_timing_analysis_seconds, other.m_timing_analysis_seconds);
    add_pair(m_icp_runs, other.m_icp_runs);
    add_pair(m_icp_seconds, other.m_icp_seconds);
    add_pair(m_post_icp_runs, other.m_post_icp_runs);
    add_pair(m_post_icp_seconds, other.m_post_icp_seconds);
    add_pair(m_icp_failures, other.m_icp_failures);
}

void MORV_STATS::print() const
{
    MORV_DEBUG_STREAM::print(1, "Start Algorithm %s", m_name.c_str());
    MORV_DEBUG_STREAM::print(1, "\t(complete) num atoms added / deleted / modified: %d / %d / %d", m_atoms_added.first,
                             m_atoms_deleted.first, m_atoms_modified.first);
    MORV_DEBUG_STREAM::print(1, "\t(restored) num atoms added / deleted / modified: %d / %d / %d", m_atoms_added.second,
                             m_atoms_deleted.second, m_atoms_modified.second);
    MORV_DEBUG_STREAM::print(1, "\t(complete) num timing anal / icp / post-icp: %d / %d / %d", m_timing_analyses.first,
                             m_icp_runs.first, m_post_icp_runs.first);
    MORV_DEBUG_STREAM::print(1, "\t(restored) num timing anal / icp / post-icp: %d / %d  / %d",
                             m_timing_analyses.second, m_icp_runs.second, m_post_icp_runs.second);
    if (m_start_fom != 0) {
        MORV_DEBUG_STREAM::print(1, "   fom ratio (< 1 is good) is %g [%ld -> %ld]",
                                 static_cast<double>(m_end_fom) / static_cast<double>(m_start_fom),
                                 static_cast<long>(m_start_fom), static_cast<long>(m_end_fom));
    } else {
        MORV_DEBUG_STREAM::print(1, "   fom ratio (< 1 is good) is %g [%ld -> %ld]", 1.0, 0L, 0L);
    }
    if (m_icp_failures.first > 0)
        MORV_DEBUG_STREAM::print(1, "   WARNING: (complete) num ICP failures: %d", m_icp_failures.first);
    if (m_icp_failures.second > 0)
        MORV_DEBUG_STREAM::print(1, "   WARNING: (restored) num ICP failures: %d", m_icp_failures.second);

    const int seconds = static_cast<int>(m_end_cpu - m_start_cpu + 0.5);
    print_times("(complete)", seconds, m_timing_analysis_seconds.first, m_icp_seconds.first, m_post_icp_seconds.first);
    print_times("(restored)", seconds, m_timing_analysis_seconds.second, m_icp_seconds.second,
                m_post_icp_seconds.second);
    MORV_DEBUG_STREAM::print(1, "\tnum seconds in algorithm is: %ld seconds", static_cast<long>(seconds));
    MORV_DEBUG_STREAM::print(1, "End Algorithm %s", m_name.c_str());
}

MORV_STATS_MGR::MORV_STATS_MGR(MORV_API* fsyn_api) : m_fsyn_api(fsyn_api)
{
    MORV_ASSERT(m_fsyn_api);
}

MORV_STATS_MGR::~MORV_STATS_MGR()
{
    delete_records();
}

int MORV_STATS_MGR::current_figure_of_merit() const
{
    MORV_TIMING* fsyn_timing = m_fsyn_api->get_fsyn_timing();
    MORV_ASSERT_TEXT(fsyn_timing, "fsyn_timing");
    return fsyn_timing->get_figure_of_merit(false);
}

MORV_STATS* MORV_STATS_MGR::start_algorithm(const char* name)
{
    m_records.push_back(MORV_MAKE_OWNER(MORV_STATS));
    MORV_STATS* record = m_records.back().get();
    record->m_name = name ? name : "";
    m_current = record;
    record->m_start_fom = current_figure_of_merit();
    record->m_start_cpu = gen_get_sec_cpu();
    return record;
}

void MORV_STATS_MGR::end_algorithm()
{
    if (m_current != nullptr) {
        m_current->m_end_fom = current_figure_of_merit();
        m_current->m_end_cpu = gen_get_sec_cpu();
    }
    m_current = nullptr;
}

void MORV_STATS_MGR::note_node_added()
{
    if (m_current != nullptr) bump(m_current->m_atoms_added, 1);
}

void MORV_STATS_MGR::note_node_deleted()
{
    if (m_current != nullptr) bump(m_current->m_atoms_deleted, 1);
}

void MORV_STATS_MGR::note_node_modified()
{
    if (m_current != nullptr) bump(m_current->m_atoms_modified, 1);
}

void MORV_STATS_MGR::note_timing_analysis(bool full, bool second_flag, bool failed, int first_seconds,
                                          int second_seconds)
{
    if (m_current == nullptr) return;
    if (full) {
        bump(m_current->m_icp_runs, 1);
        bump(m_current->m_icp_seconds, first_seconds);
    } else {
        bump(m_current->m_timing_analyses, 1);
        bump(m_current->m_timing_analysis_seconds, first_seconds);
    }
    if (second_flag) {
        bump(m_current->m_post_icp_runs, 1);
        bump(m_current->m_post_icp_seconds, second_seconds);
    }
    if (failed) bump(m_current->m_icp_failures, 1);
}

void MORV_STATS_MGR::print_statistics() const
{
    MORV_DEBUG_STREAM::print(1, "*************************************");
    MORV_DEBUG_STREAM::print(1, "\tOutputting FSYN Statistics");
    MORV_DEBUG_STREAM::print(1, "*************************************");
    MORV_STATS total;
    total.m_name = "TOTAL";
    for (const MORV_OWNER<MORV_STATS>& record : m_records) {
        record->print();
        total.add_counters_from(*record);
    }
    if (!m_records.empty()) {
        total.m_start_fom = m_records.front()->m_start_fom;
        total.m_start_cpu = m_records.front()->m_start_cpu;
        total.m_end_fom = m_records.back()->m_end_fom;
        total.m_end_cpu = m_records.back()->m_end_cpu;
    }
    total.print();
}

void MORV_STATS_MGR::delete_records()
{
    m_records.clear();
    m_current = nullptr;
}
