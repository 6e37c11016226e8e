#pragma once

// The incremental timing estimator (iTEst). After one full analysis by the
// host's analyser it keeps, per timing sub-domain, the slack of every edge
// and a line from slack to slack ratio, computes the figure of merit itself
// and annotates the host's timing netlist, which it otherwise only reads.
// The timing front end owns the engine while iTEst is in use, tells it of
// every netlist edit and reads its figure of merit.
//
// Sub-domains and their edges are identified by the host's ids; tables
// indexed by node or edge id span the timing netlist's id range (its base to
// its bound), as the netlist's own tables do.

#include <cstdint>
#include <deque>
#include <utility>
#include <vector>

#include "mem_alloc_sys.h"
#include "morv_bit_vector.h"
#include "morv_simple_hash.h"
#include "morv_simple_hash_set.h"
#include "morv_simple_mem_pool.h"
#include "tdb/tdb_netlist.h"
#include "vtl_hash_lite_sys.h"

class MORV_API;
class CDB_ATOM_NODE;
class CDB_ATOM_OTERM;
class TDB_NETLIST;
class TDB_NODE;
class TDB_EDGE;
class TDB_UTILITY;
struct TDC_SUB_DOMAIN_DATA;

// An unbounded slack (no constraining path).
constexpr int ITE_NO_SLACK = 2147483647;
// Entries of the edge-domain map besides a domain id.
constexpr int EDGE_DOMAIN_NONE = 2147483647;
constexpr int EDGE_DOMAIN_SHARED = 2147483646;
constexpr int EDGE_DOMAIN_UNKNOWN = 2147483645;
// Ends a group's list of core clock domains shorter than the limit.
constexpr int ITE_NO_DOMAIN = 2147483647;
constexpr int FSYN_TIMING_ITE_MAX_DOMAIN_GROUP_CLOCK_DOMAINS = 4;

enum e_morv_ite_domain_type : int
{
    ITE_DOMAIN_CLOCK = 0,
    ITE_DOMAIN_TSU = 1,
    ITE_DOMAIN_TCO = 2,
    ITE_DOMAIN_TPD = 3
};

// What a keeper does in a domain.
enum e_morv_ite_keeper_type : int
{
    DKT_SRC = 1,
    DKT_DST = 2,
    DKT_BOTH = 3
};

// "SRC", "DST", "SRC+DST", or "UNKNOWN" for anything else (traces).
const char* morv_ite_keeper_type_name(int type);

using MORV_TIMING_ITE_HASH_FUNCS = MORV_SIMPLE_HASH_FUNCS<int>;

// An output term by its atom, port type and literal index, not its address.
struct MORV_TIMING_ITE_OTERM_INFO
{
    int32_t m_atom_id = 0;
    int32_t m_port_type = 0;
    int32_t m_literal_index = 0;
};

struct MORV_TIMING_ITE_OTERM_INFO_HASH_FUNCS
{
    static uint64_t hash(const MORV_TIMING_ITE_OTERM_INFO* k)
    {
        return static_cast<uint64_t>(static_cast<int64_t>(k->m_atom_id) * 4095 +
                                     static_cast<int64_t>(k->m_port_type) * 41 + k->m_literal_index);
    }
    static bool equal(const MORV_TIMING_ITE_OTERM_INFO* a, const MORV_TIMING_ITE_OTERM_INFO* b)
    {
        return a->m_atom_id == b->m_atom_id && a->m_port_type == b->m_port_type &&
               a->m_literal_index == b->m_literal_index;
    }
};

struct MORV_TIMING_ITE_OTERM_INFO_VALUE_FUNCS
{
    static uint64_t hash(const MORV_TIMING_ITE_OTERM_INFO& k)
    {
        return MORV_TIMING_ITE_OTERM_INFO_HASH_FUNCS::hash(&k);
    }
    static bool equal(const MORV_TIMING_ITE_OTERM_INFO& a, const MORV_TIMING_ITE_OTERM_INFO& b)
    {
        return MORV_TIMING_ITE_OTERM_INFO_HASH_FUNCS::equal(&a, &b);
    }
};

// One copy of an output term's timing assignments. The new term is kept by
// its atom id, port type and index, not its address: the atom may be
// deleted before the copy is carried into the domains.
struct MORV_TIMING_ITE_OTERM_COPY_INFO
{
    MORV_TIMING_ITE_OTERM_INFO m_src_info;
    MORV_TIMING_ITE_OTERM_INFO m_new_info;
};

// One edge in one domain. The records live in the engine's edge pool.
struct MORV_TIMING_ITE_EDGE_SLACK_RATIOS
{
    int32_t m_slack = ITE_NO_SLACK;
    float m_raw_sr_adjustment = 0.0f;
    float m_raw_slack_ratio = 0.0f;  // NaN: no ratio, out of the line
    float m_slack_ratio = 0.0f;
    float m_tightened_slack_ratio = 0.0f;
};

using MORV_TIMING_ITE_INT_SET = MORV_SIMPLE_HASH_SET<int, MORV_TIMING_ITE_HASH_FUNCS>;
using MORV_TIMING_ITE_INT_MAP = MORV_SIMPLE_HASH<int, int, MORV_TIMING_ITE_HASH_FUNCS>;
using MORV_TIMING_ITE_EDGE_MAP = MORV_SIMPLE_HASH<int, MORV_TIMING_ITE_EDGE_SLACK_RATIOS*, MORV_TIMING_ITE_HASH_FUNCS>;
using MORV_TIMING_ITE_OTERM_MAP =
    MORV_SIMPLE_HASH<const MORV_TIMING_ITE_OTERM_INFO*, int, MORV_TIMING_ITE_OTERM_INFO_HASH_FUNCS>;

// The least slack per timing node in one domain, in an array by node id
// from the netlist's id base: an estimation reads and writes it for every
// node of its region, which a hash lookup made the larger part of the
// estimate's cost. An id above the array grows it (new nodes take ids above
// every earlier one); one below the base has no entry.
class MORV_TIMING_ITE_NODE_SLACKS
{
public:
    // Empties the table for the ids from id_base up to id_bound.
    void init(int id_base, int id_bound);
    // Null when the node has no entry.
    const int32_t* find(int node_id) const
    {
        const size_t i = index(node_id);
        return i < m_values.size() && m_values[i] != k_ABSENT ? &m_values[i] : nullptr;
    }
    int32_t* find(int node_id)
    {
        return const_cast<int32_t*>(static_cast<const MORV_TIMING_ITE_NODE_SLACKS*>(this)->find(node_id));
    }
    bool contains(int node_id) const { return find(node_id) != nullptr; }
    // ITE_NO_SLACK for a node without an entry.
    int value_or_no_slack(int node_id) const;
    // The node's entry, made with 0 when it has none.
    int32_t& operator[](int node_id);
    bool erase(int node_id);
    size_t size() const { return m_size; }

private:
    static constexpr int32_t k_ABSENT = INT32_MIN;
    size_t index(int node_id) const { return static_cast<size_t>(static_cast<int64_t>(node_id) - m_base); }
    int m_base = 0;
    size_t m_size = 0;
    std::vector<int32_t> m_values;
};

// A value per timing node for one estimation, in an array by node id from
// the netlist's id base, emptied through the entries it holds: the clock
// delays of the registers a region reaches are asked for at every edge
// into or out of them.
class MORV_TIMING_ITE_NODE_MEMO
{
public:
    void set_base(int id_base) { m_base = id_base; }
    // Null when the node has no value.
    const int32_t* find(int node_id) const
    {
        const size_t i = index(node_id);
        return i < m_values.size() && m_values[i] != k_ABSENT ? &m_values[i] : nullptr;
    }
    void set(int node_id, int32_t value);
    size_t size() const { return m_held.size(); }
    void clear_keeping_capacity();

private:
    static constexpr int32_t k_ABSENT = INT32_MIN;
    size_t index(int node_id) const { return static_cast<size_t>(static_cast<int64_t>(node_id) - m_base); }
    int m_base = 0;
    std::vector<int32_t> m_values;
    std::vector<size_t> m_held;
};

// One timing sub-domain of the host's last full analysis.
struct MORV_TIMING_ITE_DOMAIN_INFO
{
    int32_t m_type = ITE_DOMAIN_CLOCK;
    int32_t m_id = ITE_NO_DOMAIN;
    int32_t m_group = 0;
    // Both clear: a core clock domain of its group.
    bool m_not_core_1 = false;  // input or output domain
    bool m_not_core_2 = false;  // inter-clock domain
    int32_t m_requirement = 0;
    MORV_TIMING_ITE_OTERM_MAP m_oterm_keeper_ids;
    MORV_TIMING_ITE_INT_MAP m_keeper_types;
    MORV_TIMING_ITE_NODE_SLACKS m_src_node_min_slack;
    MORV_TIMING_ITE_NODE_SLACKS m_dst_node_min_slack;
    // The domain's edges and their records. The edges are its keys, not a
    // set of their own: a second table of the same keys cost a hash
    // insertion per edge in every full analysis, and was in step with this
    // one entry for entry (same inserts and erasures, same slots), so its
    // order of iteration is this table's.
    MORV_TIMING_ITE_EDGE_MAP m_edge_slack_ratios;
    int32_t m_wc_slack = ITE_NO_SLACK;
    float m_min_slack_ratio = 1.0f;
    float m_max_slack_ratio = 0.0f;
    float m_full_min_slack_ratio;
    bool m_all_edges_modified = false;
    float m_sr_lr_slope;
    float m_sr_lr_intercept;
    // The raw ratio of a zero slack: the line's value at 0 when the fit's
    // worst slack was negative (the analyser normalised by it), else 0.
    float m_zero_slack_raw_sr = 0.0f;
    bool m_ready_for_estimation = false;
    MORV_TIMING_ITE_INT_SET m_analysis_start_nodes;
    MORV_TIMING_ITE_INT_SET m_analysis_src_keepers;
    MORV_TIMING_ITE_INT_SET m_analysis_edges;
    bool m_do_analysis = false;
    // An edit took edges out: the worst slack is recomputed at the next
    // figure of merit even when no region of the domain is re-timed.
    bool m_lost_edges = false;
    // What the last scan of all records found: the edge of the worst slack,
    // and the least and greatest raw ratio (NaN left out) with their edges.
    // While an estimation leaves those edges alone, its own region's records
    // are all that can move the extremes, so the whole domain is not
    // scanned again. An edge id of -1: no such record.
    bool m_wc_slack_known = false;
    int32_t m_wc_slack_edge = -1;
    bool m_raw_sr_extremes_known = false;
    float m_raw_sr_low = 0.0f;
    float m_raw_sr_high = 0.0f;
    int32_t m_raw_sr_low_edge = -1;
    int32_t m_raw_sr_high_edge = -1;
    // The records of m_analysis_edges, collected once per estimation for the
    // passes over the region after its timing (see region_records).
    std::vector<std::pair<int, MORV_TIMING_ITE_EDGE_SLACK_RATIOS*>> m_region_records;
    bool m_region_records_built = false;
    // The estimation's order of the region's edges (build_edge_rev_topo_order),
    // taken by the preparation's walk over the same region.
    std::vector<TDB_EDGE*> m_edge_order;
    std::vector<MORV_TIMING_ITE_EDGE_SLACK_RATIOS*> m_edge_order_records;
    bool m_edge_order_built = false;

    MORV_TIMING_ITE_DOMAIN_INFO();
    bool is_core_clock_domain() const { return !m_not_core_1 && !m_not_core_2; }
    // The record of an edge the domain must hold (internal error otherwise).
    MORV_TIMING_ITE_EDGE_SLACK_RATIOS* edge_record(int edge_id) const;
    // Whether the node is a keeper of the domain with the role bit (DKT_SRC
    // or DKT_DST) among its roles.
    bool has_keeper_role(int node_id, int role) const;
    // The roles of a keeper the domain must hold (internal error otherwise).
    int keeper_type(int keeper_id) const;
};

struct MORV_TIMING_ITE_DOMAIN_GROUP_CLOCK_DOMAINS
{
    int32_t m_domains[FSYN_TIMING_ITE_MAX_DOMAIN_GROUP_CLOCK_DOMAINS] = {ITE_NO_DOMAIN, ITE_NO_DOMAIN, ITE_NO_DOMAIN,
                                                                         ITE_NO_DOMAIN};
};

// The figures of one comparison against a full analysis.
struct MORV_TIMING_ITE_COMPARISON
{
    int m_num_edges = 0;
    int m_slack_diffs = 0;
    int64_t m_max_abs_slack_diff = 0;
    int64_t m_sum_abs_slack_diff = 0;
    int m_filtered_slack_diffs = 0;
    int64_t m_filtered_max_abs_slack_diff = 0;
    int64_t m_filtered_sum_abs_slack_diff = 0;
    int m_sr_diffs = 0;
    double m_max_abs_sr_diff = 0.0;
    double m_sum_abs_sr_diff = 0.0;
};

// One edge while a domain is estimated (by edge id - the id base).
struct MORV_TIMING_ITE_EDGE_TIMING_DATA
{
    TDB_EDGE* m_edge = nullptr;
    int32_t m_required_time = 0;  // at the edge's source end
    int32_t m_arrival_time = 0;   // at the edge's sink end
    bool m_in_analysis = false;
};

// The counters of one estimation.
struct MORV_TIMING_ITE_ESTIMATION_STATS
{
    int m_domains = 0;
    int m_src_keepers = 0;
    int m_marked_edges = 0;
    int m_analysed_edges = 0;
};

// A domain's raw slack ratios: min(0, least), max(1, greatest), min(1, least).
struct MORV_TIMING_ITE_RAW_SR_BOUNDS
{
    float m_min = 0.0f;
    float m_max = 1.0f;
    float m_real_min = 1.0f;
};

// The least-squares line of a domain and the sums it came from.
struct MORV_TIMING_ITE_LINE_SUMS
{
    double m_n = 0.0, m_x = 0.0, m_y = 0.0, m_xx = 0.0, m_xy = 0.0;
    void add(double x, double y);
    // slope and intercept; false, with slope 0 and the mean ratio, when
    // every x is equal
    bool fit(float& slope, float& intercept) const;
};

class MORV_TIMING_ITE
{
public:
    explicit MORV_TIMING_ITE(MORV_API* fsyn_api);
    ~MORV_TIMING_ITE();
    MORV_TIMING_ITE(const MORV_TIMING_ITE&) = delete;
    MORV_TIMING_ITE& operator=(const MORV_TIMING_ITE&) = delete;

    // ---- driver (morv_timing_ite.cpp)
    void perform_full_timing_analysis();
    // True when the estimate was computed, false when a full analysis
    // replaced it; the figure of merit is valid either way.
    bool perform_timing_estimation();
    // How the estimations since construction ended, and why the last one
    // that fell back did (null while none has).
    long get_num_estimates() const { return m_num_estimates; }
    long get_num_fallbacks() const { return m_num_fallbacks; }
    const char* get_last_fallback_reason() const { return m_last_fallback_reason; }
    // Edits between analyses: the estimation re-times the logic around them.
    void mark_node_for_analysis(CDB_ATOM_NODE* node, bool deleted);
    // The atom drove a connection that an edit took away; its own timing
    // stands. The paths the connection carried are re-timed from the sink's
    // side, and the atom's fan-in cone only when the connection held the
    // least slack of the atom's output (see widen_region_at): walking its
    // whole fan-out cone, as a marked atom's, re-timed thousands of edges of
    // a driver of wide fan-out that nothing had changed.
    void mark_driver_for_analysis(CDB_ATOM_NODE* node);
    void track_oterm_copy(CDB_ATOM_OTERM* src_oterm, CDB_ATOM_OTERM* new_oterm);
    double get_figure_of_merit() const { return m_figure_of_merit; }
    void update_figure_of_merit();
    // Slack weight of a worst-case slack in the figure of merit.
    static double slack_weight(int slack);

    // ---- marks and copies between analyses (morv_timing_ite_marking.cpp)
    void update_domain_information_from_copied_oterms();
    bool is_marked_for_analysis(int atom_id) const { return m_atoms_marked_for_analysis.contains(atom_id); }
    bool is_marked_deleted(int atom_id) const { return m_deleted_atoms.contains(atom_id); }
    bool is_marked_as_driver(int atom_id) const { return m_driver_atoms.contains(atom_id); }
    size_t get_num_oterm_copies() const { return m_oterm_copies.size(); }
    static MORV_TIMING_ITE_OTERM_INFO oterm_info_of(const CDB_ATOM_OTERM* oterm);

    // ---- record update after edits (morv_timing_ite_update.cpp)
    void build_list_of_tdb_nodes_for_analysis();
    void update_new_nodes_and_edges();
    const std::vector<int>& get_nodes_for_analysis() const { return m_nodes_for_analysis; }
    bool is_latch_analysis_needed() const { return m_latch_analysis_needed; }
    // The domains of an edge as a vector of m_num_domains bits.
    void get_edge_domains(int edge_id, MORV_BIT_VECTOR& domains) const;

    // ---- domains of new edges (morv_timing_ite_new_edges.cpp)
    void determine_edge_domains(TDB_EDGE* edge);

    // ---- what an estimation re-times (morv_timing_ite_walk.cpp)
    void prepare_for_timing_estimation();
    void build_domain_analysis_info();

    // ---- domains (morv_timing_ite_domains.cpp)
    void build_domains(const std::vector<TDC_SUB_DOMAIN_DATA>* sub_domain_data);
    void build_domain_group_clock_domains();
    void build_edge_domains();

    // ---- slack-ratio line (morv_timing_ite_line.cpp)
    bool is_edge_shared_with_other_core_clock_domain(const MORV_TIMING_ITE_DOMAIN_INFO* domain, int edge_id) const;
    void compute_sr_lr_params_for_domain(MORV_TIMING_ITE_DOMAIN_INFO* domain) const;
    void compute_sr_lr_approximation_for_domain(MORV_TIMING_ITE_DOMAIN_INFO* domain) const;
    float compute_sr_lr_r2(const MORV_TIMING_ITE_DOMAIN_INFO* domain) const;
    static void compute_raw_slack_ratio_adjustments_for_domain(MORV_TIMING_ITE_DOMAIN_INFO* domain);

    // ---- tightening, annotation, comparison (morv_timing_ite_annotate.cpp)
    void fsyn_ite_tighten_slack_ratios();
    // Every record of every domain (after a full analysis overwrote them).
    void fsyn_ite_annotate_slacks_and_slack_ratios();
    // What the last estimation changed: the region's records, every record
    // of a domain whose ratios were all renormalised or retightened, and
    // the edges that joined or left a domain.
    void annotate_estimated_slacks_and_slack_ratios();
    MORV_TIMING_ITE_COMPARISON compare_with_full_timing_analysis();
    // Counts the writes of shared edges' values onto the timing netlist.
    long get_shared_edge_annotations() const { return m_shared_edge_annotations; }
    // Count the lines fitted, and the scans of all of a domain's records for
    // its worst slack or its extreme raw ratios, since construction.
    long get_line_fits() const { return m_line_fits; }
    long get_record_scans() const { return m_record_scans; }
    // The comparison that fsyn_ite_do_sr_compare ran after the last estimation.
    const MORV_TIMING_ITE_COMPARISON& get_last_comparison() const { return m_last_comparison; }

    // ---- slack preparation (morv_timing_ite_prepare.cpp)
    // Adds an edge, and its source node when a keeper, to a domain's region.
    void add_domain_analysis_edge(MORV_TIMING_ITE_DOMAIN_INFO* domain, const TDB_EDGE* edge, const TDB_NODE* node);
    // Relaxes the stored slacks of the region so that re-timing it, which
    // only lowers slacks, ends at the new values.
    void fsyn_ite_do_slack_preparation_adjustments(MORV_TIMING_ITE_DOMAIN_INFO* domain);
    // Region nodes, each after every region node downstream of it; a keeper
    // may stand twice: input_side marks its entry as the end of paths.
    // domain: when edges is that domain's region, membership is read from
    // the per-edge notes instead of the set.
    void build_node_rev_topo_order(const MORV_TIMING_ITE_INT_SET& src_keepers, const MORV_TIMING_ITE_INT_SET& edges,
                                   std::vector<TDB_NODE*>& order, std::vector<char>& input_side,
                                   const MORV_TIMING_ITE_DOMAIN_INFO* domain = nullptr);
    void forward_slack_adjustment(MORV_TIMING_ITE_DOMAIN_INFO* domain, const TDB_NODE* node, bool input_side,
                                  int& delta) const;
    void backward_slack_adjustment(MORV_TIMING_ITE_DOMAIN_INFO* domain, const TDB_NODE* node, bool input_side,
                                   int& delta) const;

    // ---- per-domain estimation (morv_timing_ite_estimate.cpp)
    void fsyn_ite_do_timing_estimation();
    void fsyn_ite_do_timing_estimation_for_domain(MORV_TIMING_ITE_DOMAIN_INFO* domain);
    // Region edges from the start nodes, each after every region edge
    // downstream of its sink through non-keepers.
    std::vector<TDB_EDGE*> build_edge_rev_topo_order(const MORV_TIMING_ITE_INT_SET& start_nodes,
                                                     const MORV_TIMING_ITE_INT_SET& edges,
                                                     const MORV_TIMING_ITE_DOMAIN_INFO* domain = nullptr);
    void compute_arrival_times(const MORV_TIMING_ITE_DOMAIN_INFO* domain, const std::vector<TDB_EDGE*>& order);
    void compute_required_times(const MORV_TIMING_ITE_DOMAIN_INFO* domain, const std::vector<TDB_EDGE*>& order);
    // records: the edges' records in the domain, in the order's order (null:
    // looked up).
    void compute_edge_slacks(MORV_TIMING_ITE_DOMAIN_INFO* domain, const std::vector<TDB_EDGE*>& order,
                             const std::vector<MORV_TIMING_ITE_EDGE_SLACK_RATIOS*>* records = nullptr);
    void fsyn_ite_compute_domain_slack_ratios(MORV_TIMING_ITE_DOMAIN_INFO* domain) const;
    MORV_TIMING_ITE_RAW_SR_BOUNDS compute_raw_sr_bounds(MORV_TIMING_ITE_DOMAIN_INFO* domain) const;
    // Clock arrival at a register (launch TDB_MAX, capture TDB_MIN) and the
    // delay of the clock path up to a non-keeper node, memoised per node.
    int get_register_clock_delay(const TDB_NODE* node, int which);
    int get_clock_path_delay(const TDB_NODE* node, int which);
    const MORV_TIMING_ITE_ESTIMATION_STATS& get_estimation_stats() const { return m_estimation_stats; }
    // The timing record of an edge during an estimation (tests).
    const MORV_TIMING_ITE_EDGE_TIMING_DATA& get_edge_timing_data(int edge_id) const;
    // Counts clock-tree nodes whose delay was computed, not read from the memo.
    int get_clock_path_evaluations() const { return m_clock_path_evaluations; }
    // Whether the cone of a non-keeper reaches, through non-keepers, a keeper
    // that ends (forward) or starts (backward) paths of one of the domains.
    // The answers of one estimation's new edges share what each node's cone
    // reaches, from begin_cone_memo on.
    bool reaches_keeper_in(const TDB_NODE* start, const std::vector<int>& domains, bool forward);
    void begin_cone_memo();
    // Counts the nodes whose cone the new-edge checks walked, since construction.
    long get_cone_evaluations() const { return m_cone_evaluations; }

    // ---- cleanup, keeper lookups, dumps (morv_timing_ite_support.cpp)
    void fsyn_ite_post_timing_estimation_cleanup();
    static TDB_NODE* get_keeper_of_node(TDB_NODE* node);
    static CDB_ATOM_OTERM* get_keeper_oterm(const TDB_NODE* keeper);
    void dump_domain_info() const;
    void dump_domain_analysis_info() const;
    void dump_tdb_netlist(const char* desc, bool before, bool after);
    // The counter shared by every timing-netlist dump of the process.
    static int get_tdb_netlist_dump_count() { return s_tdb_netlist_dump_count; }
    static void reset_tdb_netlist_dump_count() { s_tdb_netlist_dump_count = 0; }

    // ---- state (tests and the front end)
    int get_num_domains() const { return m_num_domains; }
    int get_num_domain_groups() const { return m_num_domain_groups; }
    MORV_TIMING_ITE_DOMAIN_INFO* get_domain(int id);
    const MORV_TIMING_ITE_DOMAIN_GROUP_CLOCK_DOMAINS& get_group_clock_domains(int group) const;
    // The single domain of an edge, or EDGE_DOMAIN_NONE / EDGE_DOMAIN_SHARED.
    int get_edge_domain(int edge_id) const;
    // The domains of a shared edge; null for an edge not shared.
    const MORV_BIT_VECTOR* get_shared_edge_domains(int edge_id) const;
    float get_global_min_domain_sr() const { return m_global_min_domain_sr; }
    bool is_debug() const { return m_debug; }
    // The timing netlist to read and annotate, and its id ranges (done by
    // each analysis; tests with a hand-made netlist call it themselves).
    void attach_tdb_netlist(TDB_NETLIST* netlist);
    void reset();
    void check_idle_state() const;

private:
    using EDGE_BIT_VECTOR_MAP = MORV_SIMPLE_HASH<int, MORV_BIT_VECTOR>;
    // (node, row of its domains in m_walk_rows)
    using WALK_STACK = std::vector<std::pair<TDB_NODE*, size_t>>;
    // driver
    bool is_timing_netlist_replaced(const TDB_NETLIST* netlist) const;
    bool fall_back_to_full_analysis(const char* why);
    // marks and copies
    void carry_copy_into_domains(const MORV_TIMING_ITE_OTERM_INFO& root, const MORV_TIMING_ITE_OTERM_INFO& new_info,
                                 int keeper);
    // record update
    void report_latch(const TDB_NODE* node);
    int& edge_domain_entry(int edge_id);
    // src_id, dst_id: the edge's end nodes (-1 when unknown).
    void remove_edge_from_domain(int domain_id, int edge_id, int src_id = -1, int dst_id = -1);
    void widen_region_at(const MORV_TIMING_ITE_DOMAIN_INFO& domain, int node_id, int slack, bool src_side);
    void add_new_edge_to_domain(int domain_id, int edge_id);
    void note_deletion_candidates(const CDB_ATOM_NODE* atom);
    void update_old_nodes_for_deletions(int old_nodes, int deleted);
    void remove_deleted_node(int id);
    void update_new_nodes_and_domains(int old_nodes);
    void update_old_edges_for_deletions(int old_edges, int deleted);
    struct DELETION_CANDIDATE_EDGE
    {
        int m_id;
        int m_src_id;
        int m_dst_id;
    };
    void remove_deleted_edge(const DELETION_CANDIDATE_EDGE& edge);
    void check_domain_consistency_from(size_t first);
    void determine_new_edge_domains(int old_edges);
    void update_new_edges_and_domains(int old_edges);
    void check_domain_consistency_on_marked_nodes();
    void restrict_edges(TDB_EDGE_RANGE edges, bool fanin, const MORV_BIT_VECTOR& allowed,
                        std::deque<const TDB_NODE*>& nodes_to_check);
    bool restrict_edge(TDB_EDGE* edge, const MORV_BIT_VECTOR& allowed);
    void annotate_unconstrained(TDB_EDGE* edge) const;
    // domains of new edges
    void collect_unknown_edge_region(TDB_NODE* start, MORV_TIMING_ITE_INT_SET& source_nodes,
                                     MORV_TIMING_ITE_INT_SET& unknown_edges);
    void determine_region_domains(const MORV_TIMING_ITE_INT_SET& source_nodes,
                                  const MORV_TIMING_ITE_INT_SET& unknown_edges);
    void add_fanin_domains(const TDB_NODE* node, const EDGE_BIT_VECTOR_MAP& region, MORV_BIT_VECTOR& domains) const;
    void add_region_edge_domains(const TDB_EDGE* edge, const EDGE_BIT_VECTOR_MAP& region,
                                 MORV_BIT_VECTOR& domains) const;
    void add_fanout_domains(const TDB_NODE* node, const EDGE_BIT_VECTOR_MAP& region, MORV_BIT_VECTOR& domains) const;
    void cut_to_fanout_domains(const TDB_NODE* node, const MORV_BIT_VECTOR& out, MORV_BIT_VECTOR& domains) const;
    void annotate_edge_domains(int edge_id, const MORV_BIT_VECTOR& domains);
    // domains the records cannot gain (morv_timing_ite_growth.cpp)
    // in: the domains the edge's source brings; out: those its destination
    // passes on.
    void check_domain_growth(const TDB_EDGE* edge, const MORV_BIT_VECTOR& in, const MORV_BIT_VECTOR& out);
    size_t cone_keeper_domains(const TDB_NODE* start, bool forward);
    size_t new_cone_row();
    void set_cone_row(const TDB_NODE* node, int direction, size_t row);
    size_t cone_row_of(const TDB_NODE* node, int direction) const;
    size_t keeper_cone_row(const TDB_NODE* keeper, int direction);
    void or_cone_row(size_t into, size_t from);
    void trace_region(const MORV_TIMING_ITE_INT_SET& source_nodes, const MORV_TIMING_ITE_INT_SET& unknown_edges,
                      const std::vector<TDB_EDGE*>& order) const;
    // walks
    void fill_node_domains(const TDB_NODE* node, MORV_BIT_VECTOR& domains);
    void begin_walks();
    void end_walks();
    size_t new_walk_row();
    static uint64_t domain_bit(int domain) { return uint64_t(1) << (domain % 64); }
    bool enter_node(const TDB_NODE* node, size_t row, bool forward);
    void walk_from_node(TDB_NODE* start, const MORV_BIT_VECTOR& start_domains, bool forward);
    void walk_edges(TDB_EDGE_RANGE edges, size_t row, bool forward, WALK_STACK& stack);

    TDB_EDGE* tdb_edge(int edge_id) const;
    int edge_index(int edge_id) const;
    // Per timing node, what the edges of the domain being built say of it.
    struct NODE_NOTE
    {
        int32_t m_src_min;      // least slack of its fan-out edges
        int32_t m_dst_min;      // least slack of its fan-in edges
        unsigned char m_flags;  // keeper-type bits, fan-out seen, fan-in seen
    };
    struct NODE_SCRATCH
    {
        std::vector<NODE_NOTE> m_notes;  // by node id - m_node_id_base
        // A keeper's output term, looked up once for all domains of the
        // build (by node id - m_node_id_base; null: not looked up yet).
        std::vector<const MORV_TIMING_ITE_OTERM_INFO*> m_keeper_infos;
        std::vector<int> m_touched;  // positions in m_notes
    };
    void build_domain(int index, const TDC_SUB_DOMAIN_DATA& data, int& group, int& previous_key, NODE_SCRATCH& scratch);
    void add_domain_edge(MORV_TIMING_ITE_DOMAIN_INFO& domain, int edge_id, int slack, float ratio,
                         NODE_SCRATCH& scratch);
    void note_node(NODE_SCRATCH& scratch, const TDB_NODE* node, unsigned char end, int keeper_type, int slack) const;
    void fold_node_scratch(MORV_TIMING_ITE_DOMAIN_INFO& domain, NODE_SCRATCH& scratch);
    void add_keeper(MORV_TIMING_ITE_DOMAIN_INFO& domain, int node_id, int types, NODE_SCRATCH& scratch);
    void trace_group_clock_domains() const;
    void add_edge_domain(int edge_id, int domain, MORV_TIMING_ITE_EDGE_SLACK_RATIOS* record);
    void tighten_domain(MORV_TIMING_ITE_DOMAIN_INFO& domain, bool changed, bool need, float gmin);
    void annotate_shared_edges(std::vector<int>& shared_edges);
    void annotate_shared_edge(int edge_id);
    void clear_domain_analysis(MORV_TIMING_ITE_DOMAIN_INFO& domain) const;
    void recompute_wc_slack(MORV_TIMING_ITE_DOMAIN_INFO& domain) const;
    // The domain's region records (built from m_analysis_edges on first use).
    const std::vector<std::pair<int, MORV_TIMING_ITE_EDGE_SLACK_RATIOS*>>&
    region_records(MORV_TIMING_ITE_DOMAIN_INFO& domain) const;
    // The record of an edge in one domain (null when the edge is not in
    // it) and whether the edge is in the domain's region. The per-edge note
    // answers for one domain of the edge (its single one, or the first asked
    // of a shared edge), not the domain's hash.
    struct RECORD_CACHE_ENTRY
    {
        MORV_TIMING_ITE_EDGE_SLACK_RATIOS* m_record = nullptr;
        bool m_in_region = false;
    };
    RECORD_CACHE_ENTRY cached_record(const MORV_TIMING_ITE_DOMAIN_INFO* domain, int edge_id) const;
    RECORD_CACHE_ENTRY cached_record(const MORV_TIMING_ITE_DOMAIN_INFO* domain, const TDB_EDGE* edge) const
    {
        return cached_record(domain, edge->get_id());
    }
    // The record the domain must hold (internal error otherwise).
    MORV_TIMING_ITE_EDGE_SLACK_RATIOS* required_record(const MORV_TIMING_ITE_DOMAIN_INFO* domain, int edge_id) const;
    // The edge joined the region of the domain (noted when its note names it).
    void note_region_edge(int domain_id, int edge_id);
    // The edge left the domain: a note naming it is dropped.
    void drop_edge_note(int domain_id, int edge_id);
    // Whether the edge is in the set, the domain's region when domain names it.
    bool in_edge_set(const MORV_TIMING_ITE_INT_SET& edges, const MORV_TIMING_ITE_DOMAIN_INFO* domain,
                     const TDB_EDGE* edge) const
    {
        if (domain != nullptr && &edges == &domain->m_analysis_edges) return cached_record(domain, edge).m_in_region;
        return edges.contains(edge->get_id());
    }
    static void scan_raw_sr_extremes(MORV_TIMING_ITE_DOMAIN_INFO& domain);
    void annotate_record(int edge_id, const MORV_TIMING_ITE_EDGE_SLACK_RATIOS* record, std::vector<int>& shared_edges);
    void run_front_end_full_analysis() const;
    // Slack of the edge's record, the sum saturating at ITE_NO_SLACK.
    static int add_slack(int slack, int delta);
    MORV_TIMING_ITE_EDGE_TIMING_DATA& timing_data(int edge_id, const char* what);
    void begin_node_walk();
    // Marks the node visited; false when it was already.
    bool visit_node(const TDB_NODE* node);
    void begin_edge_timing_data();
    void trace_estimation_stats() const;
    // One edge of a region node as the preparation reads it: its record in
    // the domain (null: none) and whether it is in the domain's region.
    struct REGION_LINK
    {
        MORV_TIMING_ITE_EDGE_SLACK_RATIOS* m_record;
        TDB_EDGE* m_edge;
        bool m_in_region;
    };
    // Links of one kind of a node from m_first on, and the least slack of
    // those outside the region, which the preparation leaves alone: its
    // passes read only the region's records.
    struct LINK_GROUP
    {
        uint32_t m_first = 0;
        uint32_t m_count = 0;
        int32_t m_fixed = ITE_NO_SLACK;
    };
    // A node of the preparation's order with its data fan-in, clock fan-in
    // and fan-out links. A keeper stands once per side it has in the region,
    // with the links of that side.
    struct REGION_NODE
    {
        const TDB_NODE* m_node = nullptr;
        bool m_input_side = false;
        LINK_GROUP m_fanin;
        LINK_GROUP m_clkin;
        LINK_GROUP m_fanout;
    };
    void add_links(const MORV_TIMING_ITE_DOMAIN_INFO* domain, TDB_EDGE_RANGE edges, std::vector<REGION_LINK>& links,
                   LINK_GROUP& group) const;
    // One node of a single-node adjustment with the records of its links.
    REGION_NODE node_with_links(MORV_TIMING_ITE_DOMAIN_INFO* domain, const TDB_NODE* node, bool input_side,
                                std::vector<REGION_LINK>& links) const;
    void add_fanin_links(const MORV_TIMING_ITE_DOMAIN_INFO* domain, REGION_NODE& region_node,
                         std::vector<REGION_LINK>& links) const;
    // trace: every link is read and printed, not only the region's.
    static int least_link_slack(const REGION_LINK* links, const LINK_GROUP& group, bool trace);
    void adjust_links(const REGION_LINK* links, const LINK_GROUP& group, int delta, const char* kind) const;
    // The region of the domain in reverse topological order from its source
    // keepers, as build_node_rev_topo_order and build_edge_rev_topo_order
    // give it, with every node's links and every ordered edge's record.
    void build_region(MORV_TIMING_ITE_DOMAIN_INFO* domain);
    void forward_adjust(MORV_TIMING_ITE_DOMAIN_INFO* domain, const REGION_NODE& region_node, REGION_LINK* links,
                        int& delta) const;
    void backward_adjust(MORV_TIMING_ITE_DOMAIN_INFO* domain, const REGION_NODE& region_node, REGION_LINK* links,
                         int& delta) const;
    void refresh_node_slacks(MORV_TIMING_ITE_DOMAIN_INFO* domain, const std::vector<REGION_NODE>& nodes,
                             const REGION_LINK* links) const;
    // The node's time in the pass with the serial m_node_time_serial,
    // CDB_ILLEGAL_TSM_DELAY when the pass has not set it yet.
    int32_t* node_time(const TDB_NODE* node);
    void begin_node_times();
    // The base times at a keeper: a register's launch or capture, else 0 or
    // the domain's requirement.
    int keeper_arrival_time(const TDB_NODE* source);
    int keeper_required_time(const MORV_TIMING_ITE_DOMAIN_INFO* domain, const TDB_NODE* sink);

    MORV_API* m_fsyn_api;
    // Atoms by id: the host deletes an atom right after marking it.
    MORV_SIMPLE_HASH_SET<int> m_atoms_marked_for_analysis;
    MORV_SIMPLE_HASH_SET<int> m_deleted_atoms;
    // Atoms marked only as drivers of connections taken away.
    MORV_SIMPLE_HASH_SET<int> m_driver_atoms;
    std::vector<int> m_nodes_for_analysis;
    std::vector<MORV_TIMING_ITE_OTERM_COPY_INFO> m_oterm_copies;
    // Copied term -> the first source of its chain of copies.
    MORV_SIMPLE_HASH<MORV_TIMING_ITE_OTERM_INFO, MORV_TIMING_ITE_OTERM_INFO, MORV_TIMING_ITE_OTERM_INFO_VALUE_FUNCS>
        m_oterm_copy_roots;
    // The timing netlist the records describe: a rebuild from scratch
    // renumbers everything, and only a full analysis follows it.
    const TDB_NETLIST* m_records_netlist = nullptr;
    int m_records_node_id_base = 0;
    int m_records_edge_id_base = 0;
    double m_figure_of_merit = 0.0;
    MORV_OWNER<MORV_SIMPLE_MEM_POOL> m_oterm_info_mem_pool;
    MORV_OWNER<MORV_SIMPLE_MEM_POOL> m_edge_sr_mem_pool;
    std::vector<MORV_TIMING_ITE_DOMAIN_INFO> m_domain_info;
    std::vector<MORV_TIMING_ITE_DOMAIN_GROUP_CLOCK_DOMAINS> m_domain_group_clock_domains;
    bool m_has_domain_group_clock_domains = false;
    int m_num_domains = 0;
    int m_num_domain_groups = 0;
    int m_num_edge_ids = 0;
    int m_num_node_ids = 0;
    int m_edge_id_base = 0;
    int m_node_id_base = 0;
    // Old node ids whose deletion the records have taken in (by id - base).
    std::vector<unsigned char> m_deleted_node_flags;
    // The timing nodes of marked atoms and their edges, taken at the mark:
    // where the host deletes nodes and edges. The live counts of the netlist
    // the records last took in tell whether they were all the deletions.
    std::vector<int> m_deletion_candidate_nodes;
    std::vector<DELETION_CANDIDATE_EDGE> m_deletion_candidate_edges;
    // Surviving end nodes of edges that left a domain while their slack was
    // the least at that end: the paths through them changed, so they are
    // re-timed as marked nodes are (added to m_nodes_for_analysis).
    std::vector<int> m_widened_nodes;
    MORV_SIMPLE_HASH_SET<int> m_widened_node_set;
    int m_live_nodes = 0;
    int m_live_edges = 0;
    VTL_HASH_LITE<int, MORV_BIT_VECTOR> m_shared_edge_hash;
    std::vector<int> m_edge_domain_vec;  // by edge id - m_edge_id_base
    float m_global_min_domain_sr;
    MORV_OWNER<MORV_SIMPLE_MEM_POOL> m_domain_bit_vec_pool;
    // The walks' domain sets, m_walk_words words a row: those of the walk
    // under way (its stack's), and those of the fork nodes visited so far,
    // found per direction (backward 0, forward 1) by node id - base (row + 1,
    // 0: not visited) and cleared through the positions touched.
    size_t m_walk_words = 0;
    std::vector<uint64_t> m_walk_rows;
    std::vector<uint64_t> m_walk_fork_rows;
    std::vector<uint32_t> m_walk_fork_row[2];
    std::vector<size_t> m_walk_fork_touched[2];
    // What the cones of nodes reach, for the new edges of one estimation:
    // per direction (backward 0, forward 1) and node id - base, the row + 1
    // in m_cone_rows of the domains whose keepers the cone reaches (0: not
    // known yet); rows of m_cone_words words. m_cone_order: the visit order
    // of a node on the component stack of the walk under way (0: none).
    size_t m_cone_words = 0;
    std::vector<uint64_t> m_cone_rows;
    std::vector<uint32_t> m_cone_row[2];
    std::vector<size_t> m_cone_touched[2];
    std::vector<uint32_t> m_cone_order;
    long m_cone_evaluations = 0;
    long m_shared_edge_annotations = 0;
    mutable long m_line_fits = 0;
    mutable long m_record_scans = 0;
    MORV_TIMING_ITE_NODE_MEMO m_node_clock_delay_hash[2];
    bool m_latch_analysis_needed = false;
    // An edit opened paths of a domain through edges the domain does not
    // hold; the records only ever lose domains, so a full analysis runs.
    bool m_domains_grow = false;
    // An edit took an edge off a domain's worst path and the edge's end
    // nodes are not known (a deletion found by the scan of all ids): the old
    // worst slack could stay on edges upstream of the old path, so a full
    // analysis runs.
    bool m_worst_path_lost = false;
    // The consistency restriction took an edge out of its last domain. The
    // records cannot tell dead logic from paths of a domain the edge never
    // held (a full analysis can still time it), so a full analysis runs.
    bool m_edge_left_all_domains = false;
    long m_num_estimates = 0;
    long m_num_fallbacks = 0;
    const char* m_last_fallback_reason = nullptr;
    // Per edge id - m_edge_id_base: the record of the edge in the domain
    // m_record_domain (-1: not looked up yet). Records are never recreated
    // for an edge and domain between two full analyses, which start the
    // notes afresh; so a note stays right while the edge is in that domain,
    // and it is dropped when the edge leaves it. m_region_serial: the edge
    // is in that domain's region of the estimation with that serial.
    struct EDGE_NOTE
    {
        MORV_TIMING_ITE_EDGE_SLACK_RATIOS* m_record = nullptr;
        int32_t m_record_domain = -1;
        uint32_t m_region_serial = 0;
    };
    mutable std::vector<EDGE_NOTE> m_edge_notes;
    uint32_t m_region_serial = 1;
    // Ids of edges that joined or left a domain in this estimation (an edge
    // may stand more than once); annotated with the region's edges.
    std::vector<int> m_touched_edges;
    // The last tightening rescaled every domain (the global least ratio moved).
    bool m_tightened_all = false;
    bool m_has_edge_timing_data_array = false;
    // Kept between estimations with every m_in_analysis clear (a domain
    // clears its own), so that an estimation need not clear the span.
    std::vector<MORV_TIMING_ITE_EDGE_TIMING_DATA> m_edge_timing_data_array;
    bool m_edge_timing_data_clean = true;
    // Visited flags of a walk by node id - m_node_id_base; the next walk
    // clears only the entries listed, so that a walk costs its own size.
    std::vector<unsigned char> m_node_visited;
    std::vector<size_t> m_node_visited_set;
    // Per node id - m_node_id_base: the base arrival (or required) time of a
    // node, shared by its fan-out (fan-in) edges, valid while the stamp
    // equals the serial of the pass.
    std::vector<int32_t> m_node_time;
    std::vector<uint32_t> m_node_time_stamp;
    uint32_t m_node_time_serial = 0;
    // The preparation's nodes and links, kept between domains for their room.
    std::vector<REGION_NODE> m_region_nodes;
    std::vector<REGION_LINK> m_region_links;
    MORV_TIMING_ITE_ESTIMATION_STATS m_estimation_stats;
    MORV_TIMING_ITE_COMPARISON m_last_comparison;
    int m_clock_path_evaluations = 0;
    MORV_SIMPLE_HASH_SET<int> m_clock_path_on_stack;
    MORV_OWNER<TDB_UTILITY> m_tdb_utility;
    TDB_NETLIST* m_tdb_netlist = nullptr;
    const std::vector<TDB_EDGE*>* m_tdb_edges = nullptr;

    bool m_debug_full;
    bool m_debug_filter;
    bool m_debug_compute_sr_lr_r2;
    bool m_debug_dump_domain_info;
    bool m_do_sr_compare;
    bool m_do_sr_compare_detail;
    bool m_debug_dump_tdb_netlists;
    bool m_debug;              // tracing: the full trace on, the filter off
    bool m_dump_tdb_netlists;  // files: the dump switch on, the filter off

    static int s_tdb_netlist_dump_count;
};

// Empties a table of one estimation and keeps its room: the next
// estimation's table is about as big and need not grow from scratch.
template <typename TABLE>
void morv_ite_clear_keeping_room(TABLE& table)
{
    table.clear_keeping_capacity();
}

// The engine for a run.
MORV_OWNER<MORV_TIMING_ITE> morv_create_timing_ite(MORV_API* api);
