#pragma once

// The base of every optimisation algorithm. One object lives for one
// algorithm run: the family's factory builds it with the run's facade and
// parameter map, the run driver drives its passes and iterations, and the
// factory deletes it. The base holds what every algorithm shares and a
// default body for every virtual operation.

#include <map>
#include <set>
#include <string>

#include "mem_alloc_sys.h"
#include "morv/core/morv_expert.h"  // MORV_PARAMETER_MAP

class MORV_API;
class MORV_EXPERT;
class MORV_CDB_INTERFACE;
class MORV_TIMING;
class CDB_ATOM_NETLIST;
class CDB_ATOM_ITERM;

// Keys of the parameter map shared by every algorithm.
#define MORV_PARAM_NUM_PASSES "NP"
#define MORV_PARAM_NUM_ITERS "NI"
#define MORV_PARAM_ICP_AT_END "ICP_AT_END"
#define MORV_PARAM_FOM_TO_ACCEPT "FOM"
#define MORV_PARAM_RESTORE_NETLIST "RESTORE_NETLIST"
#define MORV_PARAM_HILL_CLIMB_ITERS "HCI"
#define MORV_PARAM_HILL_CLIMB_CUT "HC_CUT"
#define MORV_PARAM_SLACK_RATIO_THRESHOLD_PERCENT "SRT_PER"
#define MORV_PARAM_SLACK_RATIO_THRESHOLD "SRT"
#define MORV_PARAM_EFFORT "EFFORT"
#define MORV_PARAM_REG_PACK "REG_PACK"

// A FOM value holding this text anywhere means "the smallest margin".
#define MORV_PARAM_SMALL_DOUBLE_TEXT "SMALL_DOUBLE"

// What an algorithm's evaluate_local_optimization found for one input
// term; the caller holds it through perform_local_optimization and hands it
// back to cleanup_local_optimization. Each algorithm derives its own.
struct MORV_LOCAL_OPT_INFO
{
    MORV_LOCAL_OPT_INFO() = default;
    MORV_LOCAL_OPT_INFO(const MORV_LOCAL_OPT_INFO&) = default;
    MORV_LOCAL_OPT_INFO& operator=(const MORV_LOCAL_OPT_INFO&) = default;
    virtual ~MORV_LOCAL_OPT_INFO() = default;
};

class MORV_ALGORITHM_BASE
{
public:
    // Value of an integer parameter the string did not set.
    static constexpr int s_UNSET_INT = -1;
    // Value of a floating parameter the string did not set.
    static constexpr double s_UNSET_DOUBLE = -1.0;
    // What "SMALL_DOUBLE" stands for as a FOM margin.
    static constexpr double s_SMALL_DOUBLE = 1e-10;
    static constexpr float s_DEFAULT_EFFORT = 1.0f;

    // Base defaults of set_default_algorithm_parameters / set_default_pass_parameters.
    static constexpr int s_DEFAULT_NUM_PASSES = 1;
    static constexpr int s_DEFAULT_ICP_AT_END = 1;
    static constexpr double s_DEFAULT_FOM_TO_ACCEPT = 0.0;
    static constexpr int s_DEFAULT_RESTORE_NETLIST = 1;
    static constexpr int s_DEFAULT_NUM_ITERS = 10;
    static constexpr int s_DEFAULT_HILL_CLIMB_ITERS = 0;

    MORV_ALGORITHM_BASE(MORV_API* api, const MORV_PARAMETER_MAP* params);
    MORV_ALGORITHM_BASE(const MORV_ALGORITHM_BASE&) = delete;
    MORV_ALGORITHM_BASE& operator=(const MORV_ALGORITHM_BASE&) = delete;

    // ---- virtual operations, in slot order ----
    virtual ~MORV_ALGORITHM_BASE() = 0;
    virtual void init_iteration_for_local_optimization();
    virtual void fini_iteration_for_local_optimization();
    // The base finds nothing (null) and performs nothing (false).
    virtual MORV_OWNER<MORV_LOCAL_OPT_INFO> evaluate_local_optimization(CDB_ATOM_ITERM* local_iterm);
    virtual bool perform_local_optimization(CDB_ATOM_ITERM* local_iterm, const MORV_LOCAL_OPT_INFO* opt_info,
                                            std::set<int>* touched_ids);
    virtual void cleanup_local_optimization(MORV_OWNER<MORV_LOCAL_OPT_INFO>& opt_info);
    virtual std::string get_short_name() { return "UNKNOWN_ALGO"; }
    virtual std::string get_description() { return get_short_name(); }
    virtual void set_default_algorithm_parameters(int& num_passes, int& icp_at_end, double& fom_to_accept,
                                                  int& restore_netlist);
    virtual void set_default_pass_parameters(int pass, int& num_iters, int& hill_climb_iters);
    // Number of netlist changes made; 0 ends the pass.
    virtual int do_iter();
    virtual void finish_pass() {}
    virtual void finish_algorithm() {}
    // Higher is better.
    virtual double compute_figure_of_merit();
    // The worst slack of the netlist as the last analysis timed it.
    virtual int compute_worst_slack();
    virtual bool reports_estimated_improvement() { return true; }
    virtual bool is_fom_close_to_optimal() { return false; }
    virtual bool use_itest() { return false; }

    // ---- parameter map ----
    // The value stored under key, or "" when absent.
    static std::string get_algorithm_param(const MORV_PARAMETER_MAP& params, const std::string& key);
    // True with the value when params holds key with a value; an absent key
    // and a key with an empty value read the same.
    static bool read_param(const MORV_PARAMETER_MAP* params, const char* key, std::string& value);
    // Clears params and fills it from "K=V:K=V..."; blanks round keys and
    // values are trimmed and the first value of a repeated key wins.
    // Returns the number of pairs found (repeats included).
    static int parse_algorithm_params(MORV_PARAMETER_MAP& params, const std::string& text);
    // Removes leading and trailing ' ' (only the blank character).
    static std::string trim_spaces(const std::string& text);

    // The slack ratio below which the given fraction of the timed inputs
    // of logic cells and registers lie; -1.0 when no input is timed.
    double compute_slack_ratio_threshold(double fraction);
    void print_behaviors();

    // ---- run driver (morv_algorithm_run.cpp) ----
    // Drives the passes and iterations of one run; keeps the best netlist by
    // figure of merit and may restore the one the run began with.
    bool run_algorithm();
    void save_initial_netlist();
    // Keeps the netlist as the best so far when the iteration beat it; placed:
    // the iteration is its pass's only one, timed on its placement after
    // placement.
    bool check_if_netlist_improved(bool placed);
    bool is_iteration_better(double fom, int worst, bool placed) const;
    void run_netlist_sweeper();
    void print_summary();
    // Sweeps the netlist with the sweeper of the facade's base family; the
    // number of operations performed.
    static int sweep_family_netlist(MORV_API* api);
    // Numbers algorithm runs for the whole process.
    static int get_run_counter() { return s_run_counter; }

    // ---- accessors ----
    MORV_API* get_fsyn_api() const { return m_fsyn_api; }
    const MORV_PARAMETER_MAP* get_params() const { return m_params; }
    int get_timing_mode() const { return m_timing_mode; }
    int get_num_passes() const { return m_num_passes; }
    int get_num_iters() const { return m_num_iters; }
    int get_icp_at_end() const { return m_icp_at_end; }
    double get_fom_to_accept() const { return m_fom_to_accept; }
    int get_restore_netlist() const { return m_restore_netlist; }
    int get_hill_climb_iters() const { return m_hill_climb_iters; }
    int get_hill_climb_cut() const { return m_hill_climb_cut; }
    double get_slack_ratio_threshold() const { return m_slack_ratio_threshold; }
    double get_slack_ratio_threshold_percent() const { return m_slack_ratio_threshold_percent; }
    float get_effort() const { return m_effort; }
    bool get_reg_pack() const { return m_reg_pack; }
    int get_curr_pass() const { return m_curr_pass; }
    int get_curr_iter() const { return m_curr_iter; }
    bool is_ite_enabled() const { return m_enable_ite; }
    bool use_new_timing_flow() const { return m_use_new_timing_flow; }
    bool use_timing_snapshots() const { return m_use_timing_snapshots; }
    bool xicp_modify_dest_node_on_modify_edge() const { return m_xicp_modify_dest_node_on_modify_edge; }
    bool xicp_run_init_virtual_icp_tan() const { return m_xicp_run_init_virtual_icp_tan; }

private:
    // What one run shares between the stages of the run driver.
    struct RUN_STATE;
    void prepare_run(RUN_STATE& run);
    void switch_incremental_estimator(const RUN_STATE& run);
    // Runs pass m_curr_pass; true when it was the run's last.
    bool run_pass(RUN_STATE& run);
    // One iteration; false when the pass ends after it.
    bool run_iteration(RUN_STATE& run, int& worse);
    // Sweep, timing and verdict after an iteration that changed the netlist.
    bool judge_productive_iteration(RUN_STATE& run, int& worse);
    void write_pending_log_entries();
    // Restore and re-time at the end of a pass; true when it was the last.
    bool end_pass(RUN_STATE& run, int worse, int pass_ops);
    // Keeps the run's result or restores the netlist it began with.
    void keep_or_restore_initial(const RUN_STATE& run, bool timing_ok);
    void finish_run(const RUN_STATE& run);
    bool run_timing(const RUN_STATE& run, bool full, bool second, double multiplier, bool fourth, bool fifth,
                    bool sixth);
    void restore_and_drop(int save_id);
    // True when the restored netlist goes untimed because its timing snapshot answers.
    bool is_answered_by_timing_snapshot();
    // Whether this pass is judged again once the pass-end placement has
    // timed it; saves the netlist and figures the pass starts from.
    void save_pass_start();
    // Keeps the placed result of the pass, or brings back the netlist the
    // pass started from when the placement made it worse; the re-timing's
    // success.
    bool keep_or_restore_pass_start(const RUN_STATE& run);
    // Whether a placed result at this figure of merit and worst slack is
    // kept against the figures it started from: the worst slack first, the
    // figure of merit (by at least the margin) only at an equal worst slack.
    static bool is_placed_result_kept(double fom, int worst, double start_fom, int start_worst, double fom_margin);
    // Whether the run's result at this figure of merit beats the netlist it
    // was given, so that the run keeps it.
    bool is_initial_beaten(double fom);
    // Whether the run's end is judged by its placed worst slack first: its
    // passes were, or it runs after placement and asks for a gain.
    bool is_judged_by_worst_slack() const;
    void drop_pass_start();

protected:
    MORV_API* m_fsyn_api;
    MORV_CDB_INTERFACE* m_cdb_interface;
    CDB_ATOM_NETLIST* m_atom_netlist;
    const MORV_PARAMETER_MAP* m_params;
    int m_timing_mode;
    bool m_xicp_modify_dest_node_on_modify_edge;
    bool m_xicp_run_init_virtual_icp_tan;
    // Set by an algorithm whose iterations are judged on estimated timing
    // while the placement of what they add is only legalised at the pass
    // end: with ICP_AT_END and RESTORE_NETLIST on, a pass whose placed
    // result is worse than its start, by figure of merit or by worst slack,
    // is undone.
    bool m_judge_passes_after_placement;
    double m_slack_ratio_threshold;
    double m_slack_ratio_threshold_percent;  // a fraction in [0, 1)
    float m_effort;
    bool m_reg_pack;
    int m_curr_pass;
    int m_curr_iter;
    MORV_TIMING* m_fsyn_timing;
    bool m_enable_ite;
    bool m_use_new_timing_flow;
    int m_num_passes;
    int m_icp_at_end;
    double m_fom_to_accept;
    int m_restore_netlist;
    bool m_use_timing_snapshots;
    bool m_timing_snapshot_missed = false;
    int m_num_iters;
    int m_hill_climb_iters;
    // NI and HCI as the parameter string gave them (unset when it did not):
    // every pass starts from these, so that a default that differs per pass
    // is filled for each pass and not carried over from the one before.
    int m_given_num_iters;
    int m_given_hill_climb_iters;
    int m_hill_climb_cut;
    int m_init_netlist;
    double m_init_fom;
    int m_curr_best_netlist;
    double m_best_fom;
    // The placed worst slack of the best netlist, for iterations judged on it
    // (passes of one iteration timed on its placement; such passes are not
    // judged apart).
    int m_best_worst_slack;
    // The netlist the present pass started from (-1 when not kept) with its
    // figure of merit and worst slack.
    int m_pass_start_netlist;
    double m_pass_start_fom;
    int m_pass_start_worst_slack;
    // The worst slack the run's first judged pass started from; only
    // meaningful when the run judges its passes from the start.
    bool m_judged_from_start;
    int m_init_worst_slack;
    // The run started after placement, with m_init_worst_slack the placed
    // worst slack of the netlist it was given.
    bool m_started_placed;

    static int s_run_counter;
};
