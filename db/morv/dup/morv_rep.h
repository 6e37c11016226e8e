#pragma once

// Register and logic duplication. A cell that drives critical connections to
// sinks far apart can only sit near some of them; a copy placed where its
// critical sinks and its own inputs are closest takes those sinks over.
// After placement (the timing-driven mode) each critical connection scores
// the LABs around its sink and its driver's inputs; before placement (the
// post-clustering mode) a critical cell gets a copy in each other cluster
// its fanouts live in.
//
// Files: the object, its parameters, the candidate list and the usage grid
// (morv_rep.cpp), the search for a location (morv_rep_try.cpp), the edit
// (morv_rep_perform.cpp), the post-clustering mode (morv_rep_pc.cpp) and
// the family classes (morv_rep_family.*).

#include <cstdint>
#include <functional>
#include <set>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "mem_alloc_sys.h"
#include "morv/core/algorithm/morv_algorithm_base.h"
#include "morv/netlist/morv_deterministic.h"

class CDB_ATOM_ITERM;
class CDB_ATOM_NODE;
class CDB_ATOM_OTERM;
class MORV_NET_UTIL;

// An input of the host's I/O atom whose driver must stay a single cell: the
// I/O register's data path reads it. The stand-in builds no such input.
constexpr int MORV_REP_IO_REGISTER_INPUT = 20;

// One input term of the netlist, listed for one timing-driven iteration.
struct MORV_REP_CANDIDATE
{
    bool processed = false;
    CDB_ATOM_ITERM* iterm = nullptr;
    int slack = 0;  // ps, clamped to +-1e9
    double slack_ratio = 0.0;
    int gain = 0;  // ps credited to the connection once decided
    int x = -1;    // LAB of the driver of iterm, -1 without one
    int y = -1;
    int delay = 0;  // ps from that driver to the duplicated cell's location
    int drive = 0;  // the driver's FL value
};

// An input term's timing, read once per iteration, and its record.
struct MORV_REP_RATED_ITERM
{
    double slack_ratio = 1.0;
    int slack = 0;
    int candidate = -1;  // index in the records; -1 not listed, -2 being listed
};

// Placement defaults of a family.
struct MORV_REP_DEFAULTS
{
    int max_moves;
    int min_le_usage;
    double le_usage_penalty;
    int min_lab_input_usage;
    double lab_input_usage_penalty;
    double lab_wide_input_penalty;
};

// A LAB-grid location.
struct MORV_REP_XY
{
    int x = -1;
    int y = -1;
    bool operator==(const MORV_REP_XY& o) const { return x == o.x && y == o.y; }
    bool operator!=(const MORV_REP_XY& o) const { return !(*this == o); }
};

// The rectangle a duplicate may go to.
struct MORV_REP_REGION
{
    int min_x = -1;
    int min_y = -1;
    int max_x = -1;
    int max_y = -1;
};

// The best location found for a copy so far.
struct MORV_REP_BEST
{
    double score = 0.0;
    int gain = 0;
    MORV_REP_XY at;
};

// How try_duplication walks a region.
struct MORV_REP_MOVES
{
    double scaling = 1.0;
    int extra = 0;
    int count = 0;
};

// A signal entering a bin of the usage grid: its source and the bin.
struct MORV_REP_SIGNAL_KEY
{
    const CDB_ATOM_OTERM* oterm;
    size_t bin;
    bool operator==(const MORV_REP_SIGNAL_KEY& o) const { return oterm == o.oterm && bin == o.bin; }
};

struct MORV_REP_SIGNAL_KEY_HASH
{
    size_t operator()(const MORV_REP_SIGNAL_KEY& k) const
    {
        return std::hash<const void*>()(k.oterm) ^ (k.bin * 0x9E3779B97F4A7C15ull);
    }
};

// The timing-driven mode's counters of one iteration, written to the debug
// log at its end: why the critical connections kept their driver.
struct MORV_REP_TD_STATS
{
    int critical = 0;                // connections below the slack-ratio threshold
    int register_not_allowed = 0;    // ... driven by a register, register duplication off
    int excluded = 0;                // ... whose driver or connection may not be copied
    int no_region = 0;               // ... without a feasible region
    int no_better_location = 0;      // ... where no location scored above the threshold
    int failed_edits = 0;            // ... whose copy the netlist refused
    int duplicated = 0;              // ... given a copy
    int locations_refused = 0;       // locations that take no logic cell
    int locations_without_gain = 0;  // locations scoring 0
    int locations_scored = 0;        // locations scoring above 0
};

// The post-clustering mode's counters of one iteration.
struct MORV_REP_PC_STATS
{
    int attempted = 0;
    int success = 0;
    int failed_common_inputs = 0;
    int failed_lab_full = 0;
    int failed_strict_check = 0;
    int failed_not_plain_lcell = 0;
};

class MORV_REP : public MORV_ALGORITHM_BASE
{
public:
    static constexpr int s_MAX_SLACK = 1000000000;
    static constexpr int s_NO_THRESHOLD = 1000000;

    MORV_REP(MORV_API* api, const MORV_PARAMETER_MAP* params, bool allow_register_duplication);
    ~MORV_REP() override;

    // ---- the algorithm (morv_rep.cpp)
    std::string get_short_name() override { return "REP"; }
    std::string get_description() override;
    void set_default_algorithm_parameters(int& num_passes, int& icp_at_end, double& fom_to_accept,
                                          int& restore_netlist) override;
    void set_default_pass_parameters(int pass, int& num_iters, int& hill_climb_iters) override;
    int do_iter() override;
    void finish_pass() override {}
    void finish_algorithm() override {}
    bool reports_estimated_improvement() override { return true; }
    bool is_fom_close_to_optimal() override { return false; }
    bool use_itest() override { return false; }

    // ---- family hooks (morv_rep_family.cpp)
    virtual bool is_duplicable_node(CDB_ATOM_NODE* node) = 0;
    virtual bool is_register_output(CDB_ATOM_OTERM* oterm) = 0;
    virtual bool is_lab_wide_input_type(int port_type) = 0;
    virtual bool is_duplicable_oterm(CDB_ATOM_OTERM* oterm) = 0;
    virtual void init_usage_grid_size() = 0;

    // ---- timing-driven iteration (morv_rep.cpp)
    int timing_driven_do_iter();
    void collect_critical_iterms();
    void rate_iterms();
    void add_iterm(CDB_ATOM_ITERM* iterm, size_t slot);
    void add_fanin_iterms(CDB_ATOM_ITERM* iterm);
    bool get_iterm_slot(const CDB_ATOM_NODE* node, size_t* base) const;
    MORV_REP_CANDIDATE* find_candidate(const CDB_ATOM_ITERM* iterm);
    void compute_delay_threshold();
    void build_usage_grids();
    void add_node_usage(CDB_ATOM_NODE* node);
    void process_candidate(MORV_REP_CANDIDATE* record);
    void collect_fanin_records(CDB_ATOM_ITERM* iterm);
    int get_upstream_gain() const;
    bool has_gaining_inputs(const CDB_ATOM_ITERM* iterm) const;
    void note_gain(const MORV_REP_CANDIDATE* record);
    void free_iteration_data();
    void print_td_stats() const;

    // ---- one critical connection (morv_rep_try.cpp)
    int try_duplication(CDB_ATOM_ITERM* iterm, int upstream_gain, int slack);
    bool is_excluded_connection(CDB_ATOM_ITERM* iterm);
    void compute_locations(CDB_ATOM_ITERM* iterm);
    // False when no location is left to try.
    bool compute_feasible_region(CDB_ATOM_NODE* source, MORV_REP_REGION* region) const;
    MORV_REP_MOVES compute_moves(const MORV_REP_REGION& region) const;
    MORV_REP_XY get_move_location(const MORV_REP_REGION& region, const MORV_REP_MOVES& moves, int i) const;
    void try_location(MORV_REP_XY at, int upstream_gain, int slack, MORV_REP_BEST* best);
    double score_location(int x, int y, int upstream_gain, int slack, int* new_gain_ret);
    double get_location_factor(int x, int y);

    // ---- the edit (morv_rep_perform.cpp)
    bool perform_duplication(CDB_ATOM_NODE* source, CDB_ATOM_ITERM* iterm, int x, int y, int gain);
    void adopt_fanouts(CDB_ATOM_OTERM* old_oterm, CDB_ATOM_OTERM* new_oterm, CDB_ATOM_ITERM* iterm, int gain);
    // Moves a sink to a new driver, announced and logged.
    void move_iterm(CDB_ATOM_ITERM* iterm, CDB_ATOM_OTERM* new_source);

    // ---- post-clustering mode (morv_rep_pc.cpp)
    int post_clustering_do_iter();
    double pc_node_criticality(CDB_ATOM_NODE* node);
    int pc_duplicate_node(CDB_ATOM_NODE* source);
    bool pc_try_operation(CDB_ATOM_NODE* source, int src_cluster, CDB_ATOM_NODE* dst_node, int dst_cluster);
    bool pc_has_common_inputs(CDB_ATOM_NODE* source, int dst_cluster);
    bool pc_has_room(CDB_ATOM_NODE* source, int dst_cluster) const;
    // The ALE a duplicate may share in the destination cluster, -1 for none;
    // false when the cluster cannot be described by the two ALE vectors.
    bool pc_find_ale(CDB_ATOM_NODE* source, int dst_cluster, int* ale_ret);
    bool pc_fill_lab_vectors(int dst_cluster, std::vector<int>* lab_combs, std::vector<int>* lab_ffs,
                             std::vector<int>* ale_of_local);
    bool pc_is_packable_pair(CDB_ATOM_NODE* comb, CDB_ATOM_NODE* ff) const;
    bool pc_perform_duplication(CDB_ATOM_NODE* source, int dst_cluster, int ale);
    void pc_dump_cluster_map(const char* when) const;
    void pc_print_stats() const;

    // ---- state, readable by tests
    bool allows_register_duplication() const { return m_allow_register_duplication; }
    bool is_pc_mode() const { return m_pc_mode; }
    int get_max_moves() const { return m_max_moves; }
    int get_min_le_usage() const { return m_min_le_usage; }
    double get_le_usage_penalty() const { return m_le_usage_penalty; }
    int get_min_lab_input_usage() const { return m_min_lab_input_usage; }
    double get_lab_input_usage_penalty() const { return m_lab_input_usage_penalty; }
    double get_lab_wide_input_penalty() const { return m_lab_wide_input_penalty; }
    int get_pc_max_ops() const { return m_pc_max_ops; }
    double get_pc_max_lab_usage() const { return m_pc_max_lab_usage; }
    bool get_pc_strict_checks() const { return m_pc_strict_checks; }
    int get_threshold() const { return m_threshold; }
    double get_threshold_double() const { return m_threshold_double; }
    int get_grid_nx() const { return m_grid_nx; }
    int get_grid_ny() const { return m_grid_ny; }
    int get_chip_width() const { return m_chip_width; }
    int get_chip_height() const { return m_chip_height; }
    const MORV_REP_PC_STATS& get_pc_stats() const { return m_pc_stats; }
    const MORV_REP_TD_STATS& get_td_stats() const { return m_td_stats; }
    // The current iteration's candidates in processing order.
    std::vector<MORV_REP_CANDIDATE>& get_candidates() { return m_candidates; }
    void set_threshold(double threshold);
    void set_chip_size(int width, int height);

protected:
    // The family constructor's part: defaults, then the parameters over them.
    void init_parameters(const MORV_REP_DEFAULTS& defaults);
    void set_usage_grid_size(int nx, int ny);

    MORV_NET_UTIL* m_fsyn_net_util = nullptr;

private:
    void parse_parameters();
    void log_parameters() const;
    // Bin of a LAB location; false without a location.
    bool get_bin(int x, int y, int* bx, int* by) const;
    size_t bin_index(int bx, int by) const;
    bool get_location(CDB_ATOM_NODE* node, int* x, int* y) const;
    void load_node_locations();
    void note_node_location(const CDB_ATOM_NODE* node, int x, int y);
    int routing_delay(int x1, int y1, int x2, int y2, int drive);
    int drive_of(CDB_ATOM_OTERM* oterm);
    // "<hierarchical name>:port-<port type>" of an input, for the trace.
    static std::string iterm_label(CDB_ATOM_ITERM* iterm);
    void log_duplication(bool register_driver) const;

    static uint64_t wide_key(int port_type, size_t bin);

    bool m_allow_register_duplication;
    int m_chip_width = 0;
    int m_chip_height = 0;

    int m_max_moves = 100;
    int m_min_le_usage = 25;
    double m_le_usage_penalty = 0.8;
    int m_min_lab_input_usage = 30;
    double m_lab_input_usage_penalty = 0.9;
    double m_lab_wide_input_penalty = 0.6;
    bool m_pc_mode = false;
    int m_pc_max_ops = -1;
    double m_pc_max_lab_usage = 1.0;
    bool m_pc_strict_checks = false;

    int m_num_ops = 0;
    int m_threshold = s_NO_THRESHOLD;
    double m_threshold_double = 1e6;

    // The usage grid.
    int m_grid_nx = 0;
    int m_grid_ny = 0;
    std::vector<int> m_le_usage;
    std::vector<int> m_lab_input_usage;
    std::unordered_map<MORV_REP_SIGNAL_KEY, int, MORV_REP_SIGNAL_KEY_HASH> m_entering_signals;  // -> sinks
    std::unordered_set<uint64_t> m_lab_wide_signals;  // wide_key (port type, bin)

    // Reserved for every input term up front, so that records never move.
    std::vector<MORV_REP_CANDIDATE> m_candidates;
    // Every input term's timing and record, the terms of a node side by side
    // from its slot in m_iterm_base (by atom id) in the node's term order.
    std::vector<MORV_REP_RATED_ITERM> m_rated_iterms;
    std::vector<size_t> m_iterm_base;
    // Outputs whose combinational fan-in is listed already: by atom id, one
    // bit per output port type (the types of a logic cell differ mod 32).
    std::vector<uint32_t> m_expanded_oterms;
    // Nodes with an input whose record gained slack.
    std::unordered_set<const CDB_ATOM_NODE*> m_gaining_nodes;
    // LAB of each atom by id for the iteration, -1 without one.
    std::vector<MORV_REP_XY> m_node_locations;
    std::vector<MORV_REP_CANDIDATE*> m_fanin_records;
    bool m_driver_is_register_output = false;

    // Where the connection being tried starts and ends, and what it costs now.
    MORV_REP_XY m_src;
    MORV_REP_XY m_dst;
    int m_src_drive = -1;
    int m_current_delay = 0;

    MORV_REP_TD_STATS m_td_stats;
    int m_pc_lab_size = 16;
    MORV_REP_PC_STATS m_pc_stats;
};
