#pragma once

// Per-algorithm statistics: one record per algorithm run of the compile,
// printed with their total at the end of every flow. Each counter is a
// pair: the first counts everything, the second only what survived the
// netlist restores (a snapshot restore rolls it back).

#include <string>
#include <utility>
#include <vector>

#include "mem_alloc_sys.h"

class MORV_API;

struct MORV_STATS
{
    std::string m_name;
    std::pair<int, int> m_atoms_added{0, 0};
    std::pair<int, int> m_atoms_deleted{0, 0};
    std::pair<int, int> m_atoms_modified{0, 0};
    std::pair<int, int> m_timing_analyses{0, 0};
    std::pair<int, int> m_timing_analysis_seconds{0, 0};
    std::pair<int, int> m_icp_runs{0, 0};
    std::pair<int, int> m_icp_seconds{0, 0};
    std::pair<int, int> m_post_icp_runs{0, 0};
    std::pair<int, int> m_post_icp_seconds{0, 0};
    std::pair<int, int> m_icp_failures{0, 0};
    int m_start_fom = 0;
    int m_end_fom = 0;
    double m_start_cpu = 0.0;
    double m_end_cpu = 0.0;

    // The restored half of every counter goes back to the saved record's.
    void restore_counters_from(const MORV_STATS& saved);
    // Adds both halves of every counter of other.
    void add_counters_from(const MORV_STATS& other);
    // Prints the record through the logger at level 1.
    void print() const;
};

class MORV_STATS_MGR
{
public:
    explicit MORV_STATS_MGR(MORV_API* fsyn_api);
    ~MORV_STATS_MGR();
    MORV_STATS_MGR(const MORV_STATS_MGR&) = delete;
    MORV_STATS_MGR& operator=(const MORV_STATS_MGR&) = delete;

    // A new current record with the present figure of merit and CPU time.
    MORV_STATS* start_algorithm(const char* name);
    // Closes the current record (if any) with the present figure and time.
    void end_algorithm();
    // Older names of the two calls above.
    MORV_STATS* start_record(const char* name) { return start_algorithm(name); }
    void end_record() { end_algorithm(); }

    // Counted only while an algorithm runs.
    void note_node_added();
    void note_node_deleted();
    void note_node_modified();  // also register merges
    void note_timing_analysis(bool full, bool second_flag, bool failed, int first_seconds, int second_seconds);

    // "Outputting FSYN Statistics": every record, then their total.
    void print_statistics() const;

    MORV_STATS* get_current_record() const { return m_current; }
    int get_number_of_records() const { return static_cast<int>(m_records.size()); }
    void delete_records();

private:
    int current_figure_of_merit() const;

    MORV_API* m_fsyn_api;
    std::vector<MORV_OWNER<MORV_STATS>> m_records;  // in order of creation
    MORV_STATS* m_current = nullptr;
};
