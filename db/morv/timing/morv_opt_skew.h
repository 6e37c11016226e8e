#pragma once

// Optimal clock skews: for every register, DSP (MAC) block and RAM-based
// shift register, the clock offset that balances the criticality of the
// paths into it against the paths out of it, found by passes of small steps
// written into the timing data and re-timed after each pass. A positive
// skew (a later clock) stands for a backward retiming move, a negative one
// for a forward move; the best figure of merit seen while the skews apply is
// what retiming could reach at best.
//
// Users: both retiming engines (the candidate heap and the mobilities turn
// the skews into moves) and the retiming-aware resynthesis runs, which time
// an iteration against skewed slacks and take the skews off again before
// the iteration is judged (MORV_RTM_AWARE_SKEWS).
//
// The work is done on the timing object's current back end: on the analyser
// the skews are interconnect delays of the clock edges of the timing
// netlist (morv_opt_skew.cpp); on the estimator they are clock offsets of
// the register outputs (morv_opt_skew_estimator.cpp). The step of an
// element comes from the slack ratios of its two sides
// (morv_opt_skew_step.cpp); the heap and mobilities live in
// morv_opt_skew_heap.cpp.

#include <cstdint>
#include <map>
#include <memory>
#include <queue>
#include <unordered_map>
#include <utility>
#include <vector>

#include "mem_alloc_sys.h"

class MORV_API;
class MORV_TIMING;
class MORV_NET_UTIL;
class MORV_SHIFT_REG_MANAGER;
class CDB_ATOM_NODE;
class CDB_ATOM_ITERM;
class CDB_ATOM_OTERM;
class TDB_EDGE;
class TDB_NETLIST;

// One element of the candidate heap.
struct MORV_SKEW_CANDIDATE
{
    CDB_ATOM_NODE* node;
    int32_t skew;     // the element's skew when the heap was built
    int32_t is_ram;   // 0 or 1
    bool is_limited;  // its input or its output side was critical
};

// The heap order: RAMs on top, then the larger absolute skew, then the
// larger atom id.
struct MORV_SKEW_CANDIDATE_ORDER
{
    bool operator()(const MORV_SKEW_CANDIDATE& a, const MORV_SKEW_CANDIDATE& b) const;
};

class MORV_OPT_SKEW
{
public:
    using CANDIDATE_HEAP =
        std::priority_queue<MORV_SKEW_CANDIDATE, std::vector<MORV_SKEW_CANDIDATE>, MORV_SKEW_CANDIDATE_ORDER>;

    explicit MORV_OPT_SKEW(MORV_API* api);
    ~MORV_OPT_SKEW();
    MORV_OPT_SKEW(const MORV_OPT_SKEW&) = delete;
    MORV_OPT_SKEW& operator=(const MORV_OPT_SKEW&) = delete;

    // Computes the skews with the elements whose smallest side ratio is
    // below sr_threshold counting as critical, and answers the best figure
    // of merit seen (never less than the one before the call). With
    // restore_clock_delays the timing data is put back as it was afterwards;
    // without, the skews stay applied until restore_skews or the back end
    // rewrites them. single_pass: one pass at gain 10 without re-timing.
    int compute_optimal_skews(double sr_threshold, bool restore_clock_delays, bool single_pass);
    // Takes the skews the last computation left applied off the timing
    // data: each clock edge it changed back to its delays before the call,
    // or the estimator offsets it gave taken off again. Answers whether
    // anything changed (timing is then due for a refresh).
    bool restore_skews();
    bool has_applied_skews() const { return !m_applied_edges.empty() || !m_applied_offsets.empty(); }

    // The node's skew of the last computation, CDB_ILLEGAL_TSM_DELAY when it
    // has none (neither a register nor an element that took a step).
    int get_skew(int node_id) const;

    // ---- steps and side ratios (morv_opt_skew_step.cpp)
    int compute_skew_step(CDB_ATOM_NODE* node, double sr_threshold);
    // The step of an element whose input side has ratio a and output side b.
    static int skew_step(double a, double b, double sr_threshold);
    // Either side of the register or block is critical.
    bool is_skew_limited(CDB_ATOM_NODE* node, double sr_threshold);
    // Registers and logic cells, cached per pass.
    double get_input_slack_ratio(CDB_ATOM_NODE* node);
    double get_output_slack_ratio(CDB_ATOM_NODE* node);
    double get_ram_input_slack_ratio(CDB_ATOM_NODE* node);
    double get_ram_output_slack_ratio(CDB_ATOM_NODE* node);
    double get_mac_input_slack_ratio(CDB_ATOM_NODE* node);
    double get_mac_output_slack_ratio(CDB_ATOM_NODE* node);

    // ---- candidate heap and mobilities (morv_opt_skew_heap.cpp)
    void build_candidate_heap(double sr_threshold);
    CANDIDATE_HEAP& get_candidate_heap() { return m_candidate_heap; }
    double get_fwd_mobility(const CDB_ATOM_NODE* node) const;
    double get_bwd_mobility(const CDB_ATOM_NODE* node) const;
    double reduce_fwd_mobility(const CDB_ATOM_NODE* node, double rate);
    double reduce_bwd_mobility(const CDB_ATOM_NODE* node, double rate);
    double reset_fwd_mobility(const CDB_ATOM_NODE* node);
    double reset_bwd_mobility(const CDB_ATOM_NODE* node);

    // Null until a computation for a family with RAM-based shift registers.
    MORV_SHIFT_REG_MANAGER* get_shift_reg_manager() const { return m_shift_reg_manager.get(); }

    // Tuning, read by compute_optimal_skews only: gain on every step,
    // average step (ps) below which the passes may stop, the reported
    // retiming beta, first pass at which that exit may apply.
    double m_alpha = 10.0;
    double m_exit = 20.0;
    double m_beta = 0.3;
    int32_t m_min_passes = 4;

private:
    friend struct MORV_OPT_SKEW_PROBE;  // tests

    // What one pass knows.
    struct PASS
    {
        int phase;
        int pass;
        bool restore;
        bool pre_placement;
        double sr_threshold;
        double alpha;
        float sum = 0.0f;  // of the absolute steps
        int count = 0;     // non-zero steps
        int worst = 0;     // largest absolute step
        void add(int delta);
    };
    using PASS_BODY = void (MORV_OPT_SKEW::*)(PASS& pass);

    // An analyser clock edge's four interconnect delays before the call.
    struct EDGE_DELAYS
    {
        int edge_id;
        int values[4];  // MAX rise, MAX fall, MIN rise, MIN fall
    };
    // What this object gave one estimator term: added, or set absolutely.
    struct OFFSET_RECORD
    {
        int values[4] = {0, 0, 0, 0};
        bool set = false;
    };
    // The kind of a clock term's node as the passes see it.
    struct ELEMENT
    {
        bool is_reg = false;
        bool is_mac = false;
        bool is_sr = false;
    };

    // ---- passes (morv_opt_skew.cpp)
    void start_computation();
    int run_phases(PASS_BODY body, double sr_threshold, bool restore, bool single_pass);
    bool run_one_pass(PASS_BODY body, PASS& pass, bool single_pass, int& best_fom, int& last_fom);
    void tdc_pass(PASS& pass);
    void record_initial_delays(size_t position, const TDB_EDGE* edge);
    void write_edge_delay(TDB_EDGE* edge, int d);
    bool write_edge_delays(TDB_EDGE* edge, const EDGE_DELAYS& delays);
    void keep_applied_edges();
    bool restore_edges();
    void report_skews() const;
    ELEMENT classify(CDB_ATOM_NODE* node, bool pre_placement);
    // The step of an element the pass may move (0 when it may not), times
    // the gain and the mobility of its direction.
    bool element_delta(CDB_ATOM_NODE* node, const ELEMENT& kind, const PASS& pass, int& delta);
    bool is_register_element(CDB_ATOM_NODE* node) const;
    bool is_clock_term(const CDB_ATOM_ITERM* iterm) const;
    int* skew_slot(uint32_t node_id);

    // ---- estimator (morv_opt_skew_estimator.cpp)
    void estimator_pass(PASS& pass);
    void apply_estimator_step(CDB_ATOM_NODE* node, const ELEMENT& kind, const CDB_ATOM_ITERM* clock, int delta);
    void add_offset(const CDB_ATOM_OTERM* oterm, int delta);
    void set_offset(const CDB_ATOM_OTERM* oterm, int capture, int launch);
    bool restore_offsets();

    // ---- side ratios (morv_opt_skew_step.cpp)
    void reset_slack_ratio_caches();
    void register_side_ratios(CDB_ATOM_NODE* node, double& a, double& b);
    bool feeding_chain_ratios(CDB_ATOM_NODE* node, double& a, double& b);
    bool fed_chain_ratios(CDB_ATOM_NODE* node, double& a, double& b);
    std::pair<double, double> chain_group_ratios(CDB_ATOM_NODE* head, bool feeding);
    bool is_chain_cell(CDB_ATOM_NODE* node) const;
    CDB_ATOM_NODE* chain_head_of(CDB_ATOM_NODE* cell);
    double uncached_input_slack_ratio(CDB_ATOM_NODE* node);
    double fanout_slack_ratio(const CDB_ATOM_OTERM* oterm, double ratio);

    MORV_API* m_fsyn_api;
    MORV_TIMING* m_fsyn_timing;
    MORV_NET_UTIL* m_fsyn_net_util;
    bool m_one_cell_holds_lut_and_ff;  // the family's registers live in its logic cells
    bool m_ram_shift_registers;        // the family's RAMs may form shift registers

    // Per node, from m_id_base on (the netlist's ids at the computation).
    uint32_t m_id_base = 0;
    std::vector<int32_t, MORV_ALLOCATOR<int32_t>> m_skews;
    std::vector<double, MORV_ALLOCATOR<double>> m_input_sr_map;
    std::vector<double, MORV_ALLOCATOR<double>> m_output_sr_map;
    // Ratios of the registers around a carry chain, by chain head id, per pass.
    std::unordered_map<uint32_t, std::pair<double, double>> m_feeding_chain_sr;
    std::unordered_map<uint32_t, std::pair<double, double>> m_fed_chain_sr;
    // The head of each chain met in the pass, by cell id: found once per
    // chain rather than once per register around it.
    std::unordered_map<uint32_t, CDB_ATOM_NODE*> m_chain_heads;
    int m_chain_walks = 0;  // chains walked back to their head (tests)

    CANDIDATE_HEAP m_candidate_heap;
    std::map<int32_t, double> m_fwd_mobility;
    std::map<int32_t, double> m_bwd_mobility;
    MORV_OWNER<MORV_SHIFT_REG_MANAGER> m_shift_reg_manager;

    // The analyser's edges during a computation and the initial delays of
    // its clock edges, by edge position.
    TDB_NETLIST* m_tdb_netlist = nullptr;
    std::vector<int> m_edge_record;  // position -> index in m_initial_edges, -1 none
    std::vector<EDGE_DELAYS> m_initial_edges;
    // What the last computation left applied, for restore_skews.
    std::unordered_map<int, EDGE_DELAYS> m_applied_edges;  // by edge id: the delays before the first skew
    std::unordered_map<const CDB_ATOM_OTERM*, OFFSET_RECORD> m_applied_offsets;
    const void* m_offsets_estimator = nullptr;  // the estimator they were given to
    uint64_t m_offsets_restores = 0;            // the timing's netlist restores when they were given
};

// A retiming-aware iteration: the skews of the run's slack-ratio threshold
// apply from construction, and come off again at destruction, before the
// iteration is judged, so that they neither flatter the figure of merit the
// run driver compares nor pile up over iterations.
class MORV_RTM_AWARE_SKEWS
{
public:
    MORV_RTM_AWARE_SKEWS(MORV_API* api, double sr_threshold);
    ~MORV_RTM_AWARE_SKEWS();
    MORV_RTM_AWARE_SKEWS(const MORV_RTM_AWARE_SKEWS&) = delete;
    MORV_RTM_AWARE_SKEWS& operator=(const MORV_RTM_AWARE_SKEWS&) = delete;

    MORV_OPT_SKEW& get_opt_skew() { return *m_opt_skew; }

private:
    MORV_OWNER<MORV_OPT_SKEW> m_opt_skew;
};
