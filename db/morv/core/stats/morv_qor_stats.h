#pragma once

// Writer of the quality-of-results file "fsyn_qor_stats.csv"; exists only
// while "fsyn_dump_qor_stats" is on. At the start and end of the early
// flow, the LATE flow and every algorithm run it writes the statistics
// that belong to that point, one row each, and resets them.

#include <fstream>
#include <string>

class MORV_API;

enum MORV_QOR_STAT_TYPE : int
{
    MORV_QOR_STAT_TYPE_INT = 0,
    MORV_QOR_STAT_TYPE_DOUBLE = 1,
    MORV_QOR_STAT_TYPE_DELAY = 2
};

// Points at which a statistic is written (its stage mask).
enum MORV_QOR_STAGE : int
{
    MORV_QOR_STAGE_ALGORITHM_START = 1,
    MORV_QOR_STAGE_ALGORITHM_END = 2,
    MORV_QOR_STAGE_EARLY_START = 4,
    MORV_QOR_STAGE_EARLY_END = 8,
    MORV_QOR_STAGE_LATE_START = 16,
    MORV_QOR_STAGE_LATE_END = 32
};

// Statistic ids: index into the table.
enum MORV_QOR_STAT_ID : int
{
    MORV_QOR_INITIAL_FOM = 0,
    MORV_QOR_FINAL_FOM = 1,
    MORV_QOR_FOM_GAIN = 2,
    MORV_QOR_CDB_NODES = 3,
    MORV_QOR_DONT_TOUCH_DUP_NODES = 4,
    MORV_QOR_DONT_TOUCH_RET_NODES = 5,
    MORV_QOR_DONT_TOUCH_NODES = 6,
    MORV_QOR_NODES_ADDED = 7,
    MORV_QOR_NODES_DELETED = 8,
    MORV_QOR_NODES_MODIFIED = 9,
    MORV_QOR_TIMING_ANALYSIS_CALLS = 10,
    MORV_QOR_POST_ICP_CALLS = 11,
    MORV_QOR_ICP_CALLS = 12,
    MORV_QOR_ICP_FAILURES = 13,
    MORV_QOR_TOTAL_TIME_IN_ALGORITHM = 14,
    MORV_QOR_TIMING_ANALYSIS_TIME = 15,
    MORV_QOR_ICP_TIME = 16,
    MORV_QOR_POST_ICP_TIME = 17,
    MORV_QOR_TOTAL_FLOW_TIME = 18,
    MORV_QOR_CRITICAL_NODES_001 = 19,
    MORV_QOR_CRITICAL_NODES_005 = 20,
    MORV_QOR_CRITICAL_NODES_01 = 21,
    MORV_QOR_CRITICAL_NODES_05 = 22
};

struct MORV_QOR_STAT
{
    char m_name[32];
    int m_id;
    int m_stage_mask;
    int m_type;
    void* m_data;  // int or double by type; allocated by the manager
};

class MORV_QOR_STAT_MGR
{
public:
    static constexpr int s_NUM_STATS = 23;
    static constexpr const char* s_FILE_NAME = "fsyn_qor_stats.csv";

    explicit MORV_QOR_STAT_MGR(MORV_API* fsyn_api);
    ~MORV_QOR_STAT_MGR();
    MORV_QOR_STAT_MGR(const MORV_QOR_STAT_MGR&) = delete;
    MORV_QOR_STAT_MGR& operator=(const MORV_QOR_STAT_MGR&) = delete;

    void begin_early_flow(bool syn_early);
    void end_early_flow();
    void begin_late_flow();
    void end_late_flow();
    void begin_algorithm(const std::string& short_name, int run_number);
    void end_algorithm();
    // Older names of the two calls above.
    void start_algorithm_record(const char* short_name, int run_number) { begin_algorithm(short_name, run_number); }
    void end_algorithm_record() { end_algorithm(); }

    void increment_int(int id);
    int get_int(int id) const;
    void add_double(int id, double value);
    void set_double(int id, double value);
    double get_double(int id) const;
    void set_delay(int id, int value);

    // Writes the row of one statistic and resets its value.
    void write_stat(int id);

    const char* get_file_name() const { return s_FILE_NAME; }
    static const MORV_QOR_STAT& get_stat(int id);

private:
    enum POINT_KIND
    {
        POINT_FLOW,
        POINT_ALGORITHM
    };
    // The process-wide values: the first manager allocates them, the last frees them.
    static void allocate_values();
    static void free_values();
    void begin_point(POINT_KIND kind, int stage_bit);
    void end_point(POINT_KIND kind, int stage_bit);
    void write_stage(int stage_bit);
    void count_atoms();
    MORV_QOR_STAT& checked(int id, int type) const;
    int present_figure_of_merit() const;

    int m_algorithm_start_fom = 0;
    int m_flow_start_fom = 0;
    MORV_API* m_fsyn_api;
    std::string m_algorithm_column;
    std::string m_stage_column;
    std::ofstream m_logfile;
};
