#pragma once

// The run's timing object. The facade creates it first among its services;
// every algorithm, the run driver and the flow driver reach timing only
// through it. It answers from one of two back ends, chosen per flow stage:
// the host's timing analyser (TDC mode) or the host's timing estimator over
// the component's table timing model (estimator mode), and keeps the back
// end in step with every netlist edit the facade announces.

#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "mem_alloc_sys.h"
#include "morv/core/morv_expert_interface.h"
#include "vtl_hash_sys.h"

class MORV_API;
class MORV_EXPERT;
class MORV_NET_UTIL;
class MORV_TIMING_ITE;
class MORV_SLACK_SOURCE;
class MORV_TABLE_TIMING_MODEL;
class TDC_UTILITY;
class TDB_EDGE;
class MORV_BIT_VECTOR;
struct MORV_DELAY_RECORD;
class CDB_ATOM_NODE;
class CDB_ATOM_ITERM;
class CDB_ATOM_OTERM;
struct CSU_ATOM_NETLIST_TYPES;
template <typename TYPES>
class NEVRA_ESTIMATOR;

enum e_morv_timing_mode : int
{
    MORV_TIMING_MODE_DEFAULT = -1,  // also "undefined"
    MORV_TIMING_MODE_TDC = 0,
    MORV_TIMING_MODE_NEVRA = 1
};

// A delay a back end did not compute or does not support.
constexpr int CDB_ILLEGAL_TSM_DELAY = static_cast<int>(0x80000001u);

// A per-connection delay read back or computed from placement.
struct MORV_TIMING_ITERM_BA_DELAY
{
    CDB_ATOM_OTERM* m_driver;
    int32_t m_delay;
};

// A learned delay correction of the virtual analysis: the sink and driver
// ends it was learned on, and a sum of corrections over a count. The sum is
// 64 bits wide: a class entry adds up the corrections of every fan-out of
// one driver.
struct MORV_ADJUSTMENT_FACTOR
{
    int32_t m_sink_id_or_type = 0;
    int32_t m_sink_port_usage = 0;
    int32_t m_sink_port_index = 0;
    int32_t m_driver_id = 0;
    int32_t m_driver_port_usage = 0;
    int32_t m_driver_port_index = 0;
    int64_t m_sum = 0;
    int32_t m_count = 0;
};

// The learned corrections by key: the connections' in one block sorted by
// key (a netlist has one per connection, too many for a node each), the
// classes' (negative keys, few) in another, both walked in key order.
class MORV_ADJUSTMENT_TABLE
{
public:
    using ENTRY = std::pair<int64_t, MORV_ADJUSTMENT_FACTOR>;
    using LIST = std::vector<ENTRY, MORV_ALLOCATOR<ENTRY>>;

    class const_iterator
    {
    public:
        const ENTRY& operator*() const { return *m_at; }
        const ENTRY* operator->() const { return m_at; }
        const_iterator& operator++();
        bool operator==(const const_iterator& other) const { return m_at == other.m_at; }
        bool operator!=(const const_iterator& other) const { return m_at != other.m_at; }

    private:
        friend class MORV_ADJUSTMENT_TABLE;
        const_iterator(const MORV_ADJUSTMENT_TABLE* table, const ENTRY* at) : m_table(table), m_at(at) {}
        const MORV_ADJUSTMENT_TABLE* m_table;
        const ENTRY* m_at;
    };

    const_iterator begin() const;
    const_iterator end() const { return const_iterator(this, nullptr); }
    const_iterator find(int64_t key) const;
    bool empty() const { return m_classes.empty() && m_connections.empty(); }
    size_t size() const { return m_classes.size() + m_connections.size(); }
    // Each list sorted by key, each key once.
    void assign(LIST&& classes, LIST&& connections);

private:
    LIST m_classes;
    LIST m_connections;
};

class MORV_TIMING
{
public:
    static constexpr int s_NO_VALID_FOM = 0x7fffffff;
    // The slack or delay answered for a connection without a constraining path.
    static constexpr int s_NO_PATH = 0x7fffffff;
    // Per-connection keys are non-negative, class keys negative: the two
    // kinds share one table without meeting.
    using ADJUSTMENT_FACTORS = MORV_ADJUSTMENT_TABLE;
    using BACKANNOTATED_DELAYS = std::unordered_map<CDB_ATOM_ITERM*, MORV_TIMING_ITERM_BA_DELAY>;
    // The file the back-annotation call writes and the early model reads.
    static constexpr const char* s_DELAY_FILE_NAME = "fsyn_delays.txt";
    using NEVRA = NEVRA_ESTIMATOR<CSU_ATOM_NETLIST_TYPES>;

    explicit MORV_TIMING(MORV_API* fsyn_api);
    ~MORV_TIMING();
    MORV_TIMING(const MORV_TIMING&) = delete;
    MORV_TIMING& operator=(const MORV_TIMING&) = delete;

    // ---- lifecycle and modes (morv_timing.cpp)
    void init_tdc_timing();
    void select_timing_mode(e_fsyn_flow flow);
    void switch_to_tdc_mode(bool rebuild);
    // -1 returns to the default mode; true when the mode changed.
    bool set_timing_mode(int mode);
    void acquire_tdc_utility();
    void rebuild_tdc_utility();

    // ---- change bookkeeping and updates (morv_timing_sync.cpp)
    void mark_node_changed(CDB_ATOM_NODE* node, bool deleted);
    void mark_iterm_changed(CDB_ATOM_ITERM* iterm, bool disconnected);
    bool is_node_changed(int node_id) const { return m_changed_nodes.count(node_id) != 0; }
    // True when a timing netlist exists afterwards (always in estimator mode).
    bool sync_timing_netlist(bool incremental, bool refresh);
    void set_use_itest(bool use_itest);
    // iTEst estimates on the analyser's timing netlist, which a flow timed
    // by the estimator does not keep: there it cannot be used. False then,
    // with one warning per run naming the setting and the family.
    bool can_use_itest();
    // iTEst serves only the new timing flow (fsyn_use_new_timing_flow):
    // asked for without it, one warning per run names both settings.
    void refuse_itest_without_new_timing_flow();
    void update_timing();
    void perform_pre_placement_timing_analysis(bool use_locked_estimates);
    void run_estimator_timing_analysis();
    void run_itest_estimation();

    // ---- full analysis and reports (morv_timing_analysis.cpp)
    // The full analysis by the current back end.
    void perform_timing_analysis();
    // Writes the host's timing netlist when fsyn_enable_tdb_netlist_dump is on.
    void dump_tdb_netlist(const std::string& file_name) const;
    void print_slack_ratio_histogram();
    // The lines of the histogram: counts of bins 0..19 (slack-ratio steps of
    // 0.05) over the constrained connections, bin 20 over all of them.
    static std::vector<std::string> format_slack_ratio_histogram(const int (&counts)[21], int constrained, int total);
    void dump_timing();

    // ---- early timing model (morv_timing_early.cpp)
    // Estimated interconnect delay of the connection into iterm, in ps.
    int get_early_delay(CDB_ATOM_ITERM* iterm);
    void perform_early_timing_analysis(bool perturb, bool use_locked_estimates);
    void compute_area_compensation();
    double get_area_compensation() const { return m_timing_model_area_compensation; }
    double get_early_clock_buffer_delay();
    // Reads "fsyn_delays.txt" once per run: a missing file is no error, a
    // malformed one is ignored with one warning naming file and line.
    void read_backannotated_delays();
    // Reads the file when fsyn_read_backannotated_delays asks for it and no
    // delays are held yet.
    void read_backannotated_delays_when_asked();
    const BACKANNOTATED_DELAYS& get_backannotated_delays() const { return m_backannotated_delays; }
    // The delay held for the connection into iterm while it keeps the driver
    // it had, else estimate; an estimate of 0 (inside a cluster) stays 0.
    int backannotated_delay_or(CDB_ATOM_ITERM* iterm, int estimate) const;

    // ---- placement-based delay adjustment (morv_timing_placement.cpp)
    void compute_placement_delays();
    void create_adjustment_factors();
    void clear_adjustment_factors();
    void perform_virtual_icp_timing_analysis();
    // The key of a connection's own entry, and of its class of connections.
    static int64_t get_adjustment_connection_key(int64_t sink_id, int port_index, int port_usage);
    int64_t get_adjustment_class_key(CDB_ATOM_ITERM* iterm) const;

    // ---- lower-bound figures of merit (morv_timing_lower_bound.cpp)
    // 1000 when a timing edge ends at a DSP block.
    int get_retiming_lower_bound_fom();
    int get_bdd_lower_bound_fom();
    bool is_lb_register(CDB_ATOM_NODE* node) const;
    int get_register_skew_estimate(CDB_ATOM_NODE* node);
    CDB_ATOM_ITERM* get_least_critical_sibling_input(CDB_ATOM_ITERM* iterm);

    // ---- queries (morv_timing_query.cpp, morv_timing_delay.cpp)
    int get_slack(CDB_ATOM_ITERM* iterm);
    double get_slack_ratio(CDB_ATOM_ITERM* iterm);
    // A back end's raw ratio as the queries answer it: the pre-placement
    // curve, the remap of the analyser's ratios around the skew, the clamp.
    static double adjust_slack_ratio(double raw, bool pre_placement, bool remap, double skew);
    int get_figure_of_merit(bool force_legacy);
    int get_guardband_slack() const;
    // The cell kinds the delay model has LUT delays for; the ALM families
    // answer only the 6-input one.
    static constexpr int s_CELL_KIND_4LUT = 7;
    static constexpr int s_CELL_KIND_6LUT = 499;
    static constexpr int s_CELL_KIND_6LUT_500 = 500;
    int get_internal_delay(int cell_kind, int input_port, int output_port) const;
    int get_connection_delay(CDB_ATOM_ITERM* iterm) const;
    int get_oterm_to_oterm_delay(CDB_ATOM_OTERM* src_oterm, CDB_ATOM_OTERM* dst_oterm) const;
    int get_max_delay_to_node(CDB_ATOM_OTERM* src_oterm, CDB_ATOM_NODE* dst_node) const;
    void get_average_annotated_delays(int& avg, int& comb_avg) const;
    int get_fl_lut_delay() const;
    // Slack, slack ratio and guardband answered before the back end (not
    // owned; null for none).
    void set_slack_source(const MORV_SLACK_SOURCE* source) { m_slack_source = source; }
    const MORV_SLACK_SOURCE* get_slack_source() const { return m_slack_source; }

    // ---- state
    int get_timing_mode() const { return m_timing_mode; }
    int get_default_timing_mode() const { return m_default_timing_mode; }
    double get_sr_skew() const { return m_sr_skew; }
    // A caller that reads the estimator's own graph gets it timed: a
    // snapshot answering for a restored netlist leaves the graph as it was
    // before the restore.
    NEVRA* get_nevra();
    MORV_TABLE_TIMING_MODEL* get_table_timing_model() const { return m_table_timing_model.get(); }
    MORV_TIMING_ITE* get_itest() const { return m_itest.get(); }
    // Attached and replaced by the host through MORV_ENV::build_timing_netlist.
    void set_tdc_utility(TDC_UTILITY* utility) { m_tdc_utility = utility; }
    TDC_UTILITY* get_tdc_utility() const { return m_tdc_utility; }
    // The next synchronisation rebuilds the host's timing netlist in full.
    void set_mode_switched(bool on) { m_mode_switched = on; }
    bool is_mode_switched() const { return m_mode_switched; }
    // Set by the facade after the host's placement-and-timing call.
    void set_fom_from_env(bool on) { m_fom_from_env = on; }
    bool is_fom_from_env() const { return m_fom_from_env; }
    bool is_itest_enabled() const { return m_use_itest; }
    bool is_itest_current() const { return m_itest_is_current; }
    bool is_refresh_pending() const { return m_refresh_pending; }
    // Timing data changed outside the netlist (clock skews): the next update analyses.
    void mark_refresh_pending()
    {
        m_refresh_pending = true;
        m_itest_annotated = false;
    }
    // Delays of the timing netlist were written outside an update: iTEst's
    // figures no longer describe it until the next one.
    void note_timing_delays_changed() { m_itest_annotated = false; }
    // A saved netlist replaced the current one: the estimator's clock
    // offsets were given to registers of the replaced netlist, by term, so
    // they go; the count tells a skew computation whose offsets these were.
    void note_netlist_restored();
    uint64_t get_netlist_restores() const { return m_netlist_restores; }
    // Slack queries read iTEst's figures as annotated, without the host
    // analysing again.
    bool is_itest_answering() const;
    // True when a slack query reads the last analysis as it stands.
    bool answers_from_last_analysis() const;
    // The run driver switched timing engines: the next update analyses in full.
    void request_full_update();
    // Timing snapshots (morv_timing_snapshot.cpp). While the run keeps
    // them, each saved netlist keeps what the slack queries answered for it
    // when they described it; restoring the netlist puts those answers back
    // instead of timing it again. Only the estimator's figures can be kept:
    // the analyser's timing netlist is read by the algorithms directly.
    void set_keep_timing_snapshots(bool on);
    void save_timing_snapshot(int snapshot_id);
    // True when the snapshot now answers the queries for the restored netlist.
    bool restore_timing_snapshot(int snapshot_id);
    void drop_timing_snapshot(int snapshot_id);
    int count_timing_snapshots() const { return static_cast<int>(m_saved_timing_snapshots.size()); }
    // True while slack queries answer from a snapshot, until the next
    // synchronisation or analysis.
    bool is_using_timing_snapshot() const { return m_timing_snapshot != nullptr; }
    // Gives the back end the timing the restore went without, so that it
    // describes the netlist again, and stops answering from the snapshot.
    void end_timing_snapshot();
    const std::vector<unsigned>& get_taint_change_set() const { return m_taint_change_set; }
    const std::vector<std::pair<int, int>>& get_changed_connections() const { return m_changed_connections; }
    double get_figure_of_merit_value() const { return m_figure_of_merit; }

    // Delay corrections of the virtual analysis, and the copies netlist
    // snapshots keep by snapshot id. The table changes only when it is
    // learned or cleared, so the snapshots taken between two such changes
    // share one copy, and a snapshot's copy goes with the snapshot.
    const ADJUSTMENT_FACTORS& get_adjustment_factors() const { return *m_adjustment_factors; }
    void save_adjustment_factors(int snapshot_id);
    // False (the table unchanged) when nothing is saved under the id.
    bool restore_adjustment_factors(int snapshot_id);
    void drop_saved_adjustment_factors(int snapshot_id);
    int count_saved_adjustment_factors() const { return static_cast<int>(m_saved_adjustment_factors.size()); }
    // Distinct tables held, the live one among them.
    int count_adjustment_factor_tables() const;

private:
    void log_mode(int mode) const;
    bool is_pre_placement() const;
    void perturb_characteristic_delays();
    bool is_in_migration_chain() const;
    bool sync_estimator(bool incremental);
    void resolve_changed_connections();
    void full_tdc_analysis();
    // Makes sure a timing handle exists; true when a slack query reads the
    // figures as annotated.
    bool reads_timing_as_annotated();
    void time_netlist_before_first_query();
    double raw_slack_ratio(CDB_ATOM_ITERM* iterm);
    int get_estimated_connection_delay(CDB_ATOM_ITERM* iterm) const;
    void dump_edge_timing(const TDB_EDGE* edge) const;
    // The analyser's edges, the vector recreated when the host dropped it;
    // the texts are the internal errors and the trace line.
    std::vector<TDB_EDGE*>& tdb_edges(const char* netlist_text, const char* edges_text,
                                      const char* recreating_text) const;
    static void set_edge_ic_delay(TDB_EDGE* edge, int delay);
    int locked_location_delay(CDB_ATOM_ITERM* iterm, int delay, const MORV_BIT_VECTOR& locked);
    void match_delay_record(const MORV_DELAY_RECORD& record, int64_t max_atom_id, BACKANNOTATED_DELAYS& matched) const;
    void warn_delay_file(const std::string& path, int line, const std::string& reason) const;
    // The routed delay no connection of the device exceeds (ps); INT32_MAX
    // when the device does not say.
    int longest_connection_delay() const;
    // Appends the connection's correction (its learning order in m_count)
    // and adds it to its class's.
    void learn_adjustment_factor(CDB_ATOM_ITERM* iterm, int64_t diff, ADJUSTMENT_FACTORS::LIST& connections,
                                 std::map<int64_t, MORV_ADJUSTMENT_FACTOR>& classes) const;
    int apply_adjustment_factors(CDB_ATOM_ITERM* iterm, int delay) const;
    static std::shared_ptr<ADJUSTMENT_FACTORS> make_adjustment_factors();
    struct RETIMING_BOUND;
    struct BDD_BOUND;
    int64_t retiming_bound_delay(TDB_EDGE* edge, size_t position, int pass, RETIMING_BOUND& bound);
    void retiming_bound_pass(std::vector<TDB_EDGE*>& edges, int phase, int pass, RETIMING_BOUND& bound);
    void move_slack_to_sibling(CDB_ATOM_ITERM* iterm, BDD_BOUND& bound);

    TDC_UTILITY* m_tdc_utility = nullptr;
    const MORV_SLACK_SOURCE* m_slack_source = nullptr;
    MORV_OWNER<MORV_TIMING_ITE> m_itest;
    int m_timing_mode = MORV_TIMING_MODE_DEFAULT;
    int m_default_timing_mode = MORV_TIMING_MODE_DEFAULT;
    MORV_API* m_fsyn_api;
    MORV_EXPERT* m_fsyn_expert = nullptr;
    MORV_NET_UTIL* m_fsyn_net_util = nullptr;
    bool m_use_legacy_fom = false;
    bool m_fom_from_env = false;
    double m_figure_of_merit = -2147483647.0;
    double m_clkbuf_delay = -2147483647.0;
    MORV_OWNER<MORV_TABLE_TIMING_MODEL> m_table_timing_model;
    double m_early_delay_scale = 1.0;
    double m_timing_model_area_compensation = 1.0;
    int m_initial_le_count = 1;
    double m_lb_ret_alpha = 0.249;
    double m_lb_ret_exit = 20.0;
    double m_lb_ret_beta = 0.3;
    BACKANNOTATED_DELAYS m_backannotated_delays;
    // The delay file is read at most once per run, also when it was
    // malformed or held nothing.
    bool m_delay_file_read = false;
    // Shared with the snapshots taken since it was last learned or cleared;
    // never changed in place while shared.
    std::shared_ptr<ADJUSTMENT_FACTORS> m_adjustment_factors = make_adjustment_factors();
    std::map<int, std::shared_ptr<ADJUSTMENT_FACTORS>> m_saved_adjustment_factors;
    MORV_OWNER<NEVRA> m_nevra;
    double m_sr_skew = 0.125;
    std::vector<unsigned> m_taint_change_set;
    std::set<int> m_changed_nodes;
    bool m_mode_switched = false;
    bool m_use_itest = false;
    bool m_itest_is_current = false;
    bool m_refresh_pending = false;
    uint64_t m_netlist_restores = 0;
    bool m_itest_done_full_timing_analysis = false;
    // The timing netlist's edges carry iTEst's figures of the current
    // timing (its last update), and nothing changed that netlist since.
    bool m_itest_annotated = false;
    bool m_itest_refusal_warned = false;
    bool m_itest_flow_refusal_warned = false;
    struct TIMING_SNAPSHOT;
    struct SNAPSHOT_ANSWER
    {
        int m_slack;
        float m_slack_ratio;
        int m_delay;  // of the connection, as the estimator's graph had it
    };
    std::shared_ptr<const TIMING_SNAPSHOT> make_timing_snapshot() const;
    // Null while no snapshot answers, or for a term the restored netlist did
    // not hold (which no timing of it answers for either).
    const SNAPSHOT_ANSWER* snapshot_answer(const CDB_ATOM_ITERM* iterm) const;
    int snapshot_figure_of_merit() const;
    bool is_estimate_current() const;
    void leave_timing_snapshot();
    bool m_keep_timing_snapshots = false;
    // The estimate ran after the last synchronisation and no edit or clock
    // offset changed since: it describes the netlist as it stands.
    bool m_estimate_current = false;
    // Consecutive saves of one netlist share one snapshot.
    std::map<int, std::shared_ptr<const TIMING_SNAPSHOT>> m_saved_timing_snapshots;
    std::shared_ptr<const TIMING_SNAPSHOT> m_timing_snapshot;
    std::unordered_map<const CDB_ATOM_ITERM*, SNAPSHOT_ANSWER> m_snapshot_answers;
    bool m_edited_since_restore = false;
    bool m_use_smart_tainting = true;
    std::vector<std::pair<int, int>> m_changed_connections;  // (sink id, source id)
};
