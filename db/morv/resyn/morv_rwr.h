#pragma once

// Local rewiring of cascaded LUTs: for a LUT node_b whose critical input is
// driven by another LUT node_a, inputs are exchanged between the two so that
// a critical signal that reaches node_b through node_a enters node_b
// directly, and both masks are recomputed from the pair's truth table. A
// node_a with other loads is duplicated first so that only the copy feeding
// node_b changes. One LUT level comes off a critical path without moving
// anything but a few connections.
//
// The searches (morv_rwr_search.cpp) fill one best record per candidate
// node_b; the executor performs them best first, each node at most once per
// iteration. The swap itself lives in morv_rwr_swap.cpp, the family hooks in
// morv_rwr_family.{h,cpp}.

#include <cstdint>
#include <functional>
#include <set>

#include "mem_alloc_sys.h"
#include "morv/core/algorithm/morv_algorithm_base.h"

class MORV_NET_UTIL;
class MORV_RWR_TRUTH_TABLE;
class CDB_ATOM_NODE;
class CDB_ATOM_ITERM;
class CDB_ATOM_OTERM;

// One proposed rewiring; a plain value, copied freely. Also the
// local-optimisation record.
struct MORV_RWR_SWAP : MORV_LOCAL_OPT_INFO
{
    static constexpr int s_MAX_PAIRS = 5;

    int improvement = 0;
    CDB_ATOM_NODE* node_a = nullptr;
    CDB_ATOM_NODE* node_b = nullptr;
    // Pair k exchanges input port_a[k] of node_a with input port_b[k] of node_b.
    int port_a[s_MAX_PAIRS] = {};
    int port_b[s_MAX_PAIRS] = {};
    int port_ab;  // node_b's input driven by node_a
    CDB_ATOM_ITERM* iterm_ab = nullptr;
    int delay_ab = 0;
    int slack_ab;
    double slack_ratio_ab = 1.0;
    bool dup = false;
    int min_gain = 0;
    double score = 0.0;
    uint64_t new_mask_a = 0;
    uint64_t new_mask_b = 0;
    int num_swaps = 0;

    MORV_RWR_SWAP();
};

// Best score first; equal scores by node_a's atom id, then node_b's.
struct MORV_RWR_SWAP_ORDER
{
    bool operator()(const MORV_RWR_SWAP& a, const MORV_RWR_SWAP& b) const;
};

class MORV_RWR : public MORV_ALGORITHM_BASE
{
public:
    // A slack counts only strictly inside this bound.
    static constexpr int s_VALID_SLACK = 1000000000;
    static constexpr int s_DUP_PENALTY_SLACK = 50000;
    static constexpr double s_DUP_PENALTY_RATIO = 0.05;
    static constexpr double s_REJECTED_SCORE = -0.01;
    static constexpr int s_GREEDY = 1;
    static constexpr int s_RECURSIVE = 0;

    MORV_RWR(MORV_API* api, const MORV_PARAMETER_MAP* params);
    ~MORV_RWR() override;

    // ---- local-optimisation protocol ----
    void init_iteration_for_local_optimization() override;
    void fini_iteration_for_local_optimization() override {}
    // The best rewiring (a MORV_RWR_SWAP) that moves local_iterm's signal,
    // by the RECURSIVE search whatever ALG says; null when there is none.
    MORV_OWNER<MORV_LOCAL_OPT_INFO> evaluate_local_optimization(CDB_ATOM_ITERM* local_iterm) override;
    // opt_info must be a MORV_RWR_SWAP.
    bool perform_local_optimization(CDB_ATOM_ITERM* local_iterm, const MORV_LOCAL_OPT_INFO* opt_info,
                                    std::set<int>* touched_ids) override;
    void cleanup_local_optimization(MORV_OWNER<MORV_LOCAL_OPT_INFO>& opt_info) override;

    // ---- algorithm ----
    std::string get_short_name() override { return "RWR"; }
    std::string get_description() override { return "local logic rewiring"; }
    void set_default_algorithm_parameters(int& num_passes, int& icp_at_end, double& fom_to_accept,
                                          int& restore_netlist) override;
    void set_default_pass_parameters(int pass, int& num_iters, int& hill_climb_iters) override;
    int do_iter() override;

    // ---- family hooks ----
    virtual bool is_rewire_candidate(CDB_ATOM_NODE* node) = 0;
    virtual bool get_lutmask_flag(CDB_ATOM_NODE* node) = 0;
    virtual int get_ale_input_count(CDB_ATOM_NODE* node) = 0;
    virtual bool is_excluded_node(CDB_ATOM_NODE* node) = 0;
    virtual bool is_swappable_oterm(CDB_ATOM_OTERM* oterm) = 0;
    virtual bool is_excluded_port_a(CDB_ATOM_NODE* node, int port) = 0;
    virtual bool is_excluded_port_b(CDB_ATOM_NODE* node, int port) = 0;
    virtual bool needs_duplication(MORV_RWR_SWAP* swap) = 0;
    virtual bool is_lcell_a_lut(CDB_ATOM_NODE* node) = 0;
    virtual int get_max_lut_size() = 0;
    virtual bool is_duplication_blocked(CDB_ATOM_NODE* node) = 0;
    virtual int get_ports_feeding_lutout(CDB_ATOM_NODE* node, int* feeds_lutout) = 0;
    virtual bool can_duplicate_node(CDB_ATOM_NODE* node) = 0;

    // ---- searches (morv_rwr_search.cpp) ----
    // The best rewiring with node_b as the driven LUT, into best_swap.
    bool greedy_search(CDB_ATOM_NODE* node_b, MORV_RWR_SWAP* best_swap);
    bool recursive_search(CDB_ATOM_NODE* node_b, MORV_RWR_SWAP* best_swap);
    // Scores an arrangement whose masks are decomposed already.
    void score_swap(MORV_RWR_SWAP& curr);
    // The duplication penalty of node_a (min_gain).
    int duplication_penalty(const MORV_RWR_SWAP& swap);

    // ---- execution (morv_rwr_swap.cpp) ----
    bool do_swap(MORV_RWR_SWAP& swap);
    bool duplicate_to_avoid_fanout(MORV_RWR_SWAP& swap);
    void place_duplicate(CDB_ATOM_NODE* node_a, CDB_ATOM_NODE* dup);
    // Performs m_swaps best first; the number performed.
    int execute_swaps();
    // Adds a record as the candidate scan does.
    void add_swap(const MORV_RWR_SWAP& swap) { m_swaps.insert(swap); }

    // ---- member queries ----
    // Virtual so that tests can stand in for timing and placement.
    virtual int get_input_slack(CDB_ATOM_NODE* node, int port);
    virtual double get_input_slack_ratio(CDB_ATOM_NODE* node, int port);
    virtual int estimate_routing_delay(CDB_ATOM_ITERM* iterm, CDB_ATOM_NODE* node);
    virtual int get_term_slack(CDB_ATOM_ITERM* iterm);

    int get_alg() const { return m_alg; }
    bool is_rtm_aware() const { return m_rtm_aware; }
    double get_cf() const { return m_cf; }
    double get_of() const { return m_of; }
    int get_max_swaps() const { return m_max_swaps; }
    int get_max_dups() const { return m_max_dups; }
    int get_dup_delay() const { return m_dup_delay; }
    int get_level_delay() const { return m_level_delay; }
    int get_rotation_delay() const { return m_rotation_delay; }
    int get_dup_lab_threshold() const { return m_dup_lab_threshold; }
    int get_lut_size() const { return m_lut_size; }
    int get_mask_bits() const { return m_mask_bits; }
    int get_swaps_done() const { return m_swaps_done; }
    int get_dups_done() const { return m_dups_done; }
    size_t get_num_pending_swaps() const { return m_swaps.size(); }

    // ALG's value: GREEDY or RECURSIVE (the latter when both occur), else
    // the family's default.
    static int parse_alg(const std::string& value, int family_default);

protected:
    // The family constructor's part: ALG, delays, threshold and LUT size.
    void set_family_values(int alg_default, int rotation_delay, int level_delay, int dup_lab_threshold, int lut_size);
    // Bodies the family branches share.
    // The term is the comb-out of a LUT cell (an lcell when lcell, else a
    // combinational cell) whose driver may change.
    bool is_plain_comb_out(CDB_ATOM_OTERM* oterm, bool lcell);
    // swap.dup = iterm_ab's source drives more than one input.
    bool source_has_other_loads(MORV_RWR_SWAP* swap);
    // The LUT-to-output delay of a 6-input cell's data input, in ps.
    int lut_delay(int port) const;

    int m_dup_lab_threshold;
    int m_dup_delay;
    int m_rotation_delay;
    int m_level_delay;
    double m_cf;
    double m_of;
    int m_max_swaps;
    int m_max_dups;
    std::set<MORV_RWR_SWAP, MORV_RWR_SWAP_ORDER, MORV_ALLOCATOR<MORV_RWR_SWAP>> m_swaps;
    std::set<int, std::less<int>, MORV_ALLOCATOR<int>> m_touched_ids;
    int m_swaps_done;
    int m_dups_done;
    int m_lut_size;
    int m_mask_bits;
    MORV_NET_UTIL* m_net_util;
    int m_alg;
    bool m_rtm_aware;

private:
    struct SEARCH;
    // Steps 1 and 2 of the set-up: false when node_b may not be rewired.
    bool start_search(CDB_ATOM_NODE* node_b, MORV_RWR_SWAP* best_swap, SEARCH& search);
    // Steps 3 to 9 for one port_ab; false when the port cannot be used.
    bool set_up_port(SEARCH& search, int port_ab, bool greedy);
    // The LUT reads a connected carry-in where it would read input C.
    bool reads_carry_in_in_use(CDB_ATOM_NODE* node) const;
    void find_shared_input(SEARCH& search, int* shared_a, int* shared_b);
    // Exchanges one pair in the table and records it; undo_pair takes it back.
    bool try_pair(SEARCH& search, int port_a, int port_b);
    void undo_pair(SEARCH& search);
    void greedy_step(SEARCH& search, int count_a, int count_b);
    void exhaustive_step(SEARCH& search);
    bool skips_unconnected_chain_input(SEARCH& search, int port_a, int port_b);
    bool sources_equal(const MORV_RWR_SWAP& curr, int k);
    void walk_score_ports(const MORV_RWR_SWAP& curr, CDB_ATOM_NODE* node, bool is_a, int& before, int& after,
                          double& sum, double& min_sr);
    void print_swap(const MORV_RWR_SWAP& swap);
    // Detaches the node's input at port: its signal and settings.
    struct DETACHED;
    void detach_input(CDB_ATOM_NODE* node, int port, DETACHED& out);
    void attach_input(CDB_ATOM_NODE* node, int port, const DETACHED& signal);
    void write_mask(CDB_ATOM_NODE* node, uint64_t value);
};
