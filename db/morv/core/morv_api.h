#pragma once

// The per-run facade. The flow driver creates exactly one; it owns every
// per-run service and is what algorithms, sweepers and maps hold to reach them.

#include <iosfwd>
#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

#include "mem_alloc_sys.h"
#include "morv/core/morv_kardel_index.h"
#include "morv/core/morv_slack_ratio_map.h"
#include "morv/netlist/morv_deterministic.h"
#include "morv/netlist/morv_save_restore.h"

class MORV_EXPERT;
class MORV_ENV;
struct MORV_ICP_RESULT;
class MORV_CHIP_MAP;
class MORV_CLUSTER_MAP;
class MORV_NET_UTIL;
class MORV_STATS_MGR;
class MORV_QOR_STAT_MGR;
class MORV_REGION_MAP;
class MORV_CDB_INTERFACE;
class MORV_INST_ASGN_MGR;
class MORV_LOG;
class MORV_NT;
class MORV_TIMING;
class MORV_SAVE_RESTORE_SNAPSHOT;
class CDB_ATOM_NETLIST;
class CDB_ATOM_NODE;
class HDB_INSTANCE_NAME;
class CDB_ATOM_ITERM;
class CDB_ATOM_OTERM;
class BPM_BOUNDARY_PORT_MANAGER;
class TDC_UTILITY;
class MORV_BIT_VECTOR;
class PLDM;
class DEV_DEVICE;
class DEV_DIE_INFO;
class DEV_FL_INFO;
class DUVO_DIE_INFO;
class DUVO_PLACE_INFO;
class CUT_ATOM_MORLIN_LEGALIZER;
enum AMM_OP : int;

// A cached bound on the delay of one connection between two atoms.
struct MORV_P2P_DELAY_BOUNDS
{
    int m_lower = 0;
    int m_upper = 0;
    bool m_has_lower = false;
    bool m_has_upper = false;
};

// Where an atom's locked register neighbours sit: coordinate sums over
// their regions' corners and how many corners were summed.
struct MORV_LOCKED_LOCATION_ESTIMATE
{
    int m_x_sum = 0;
    int m_y_sum = 0;
    int m_count = 0;
};

// Bits of MORV_API::m_taint: what changed since timing was last brought in
// step. A register (or any other non-combinational) change makes the next
// re-synchronisation rebuild timing from scratch.
constexpr unsigned MORV_TAINT_COMBINATIONAL = 0x1;
constexpr unsigned MORV_TAINT_REGISTER_OR_OTHER = 0x2;

class MORV_API
{
public:
    MORV_API(MORV_EXPERT* expert, MORV_ENV* env);
    ~MORV_API();
    MORV_API(const MORV_API&) = delete;
    MORV_API& operator=(const MORV_API&) = delete;

    // ---- asserting accessors ----
    MORV_NET_UTIL* get_fsyn_net_util() const;
    // Null for a family without one (the facade warned when it was built).
    MORV_NET_UTIL* peek_fsyn_net_util() const { return m_fsyn_net_util.get(); }
    MORV_TIMING* get_fsyn_timing() const;
    MORV_NT* get_fsyn_nt() const;
    // The facade's registry of demuxed nodes; null once the facade is torn down.
    std::set<int>* get_demuxed_nodes() const { return m_demuxed_nodes.get(); }
    MORV_CDB_INTERFACE* get_fsyn_cdb_interface() const;

    // ---- plain getters ----
    MORV_EXPERT* get_fsyn_expert() const { return m_fsyn_expert; }
    MORV_CHIP_MAP* get_fsyn_chip_map() const { return m_fsyn_chip_map.get(); }
    MORV_CLUSTER_MAP* get_fsyn_cluster_map() const { return m_fsyn_cluster_map.get(); }
    MORV_REGION_MAP* get_fsyn_region_map() const { return m_fsyn_region_map.get(); }
    MORV_LOG* get_fsyn_log() const { return m_fsyn_log.get(); }
    MORV_STATS_MGR* get_fsyn_stats() const { return m_fsyn_stats.get(); }
    MORV_QOR_STAT_MGR* get_fsyn_qor_stat_mgr() const { return m_fsyn_qor_stat_mgr.get(); }
    MORV_INST_ASGN_MGR* get_inst_asgn_mgr() const { return m_inst_asgn_mgr.get(); }
    CDB_ATOM_NETLIST* get_atom_netlist() const { return m_atom_netlist; }
    MORV_ENV* get_morv_env() const { return m_morv_env; }
    int get_base_family_code() const { return m_base_family; }
    int get_device_enum() const { return m_device_enum; }
    int get_placer_seed() const { return m_placer_seed; }
    // The run's random state: seeded with the placer seed (sign-extended),
    // advanced by the timing object's delay perturbations.
    uint64_t get_random_state() const { return m_random_state; }
    void set_random_state(uint64_t state) { m_random_state = state; }
    // More than five atom names contain "__Z" (only handed on to the host's
    // table timing model).
    bool has_name_pattern() const { return m_name_pattern; }
    // Pre-placement timing may use the part's point-to-point delay model,
    // unless fsyn_disable_ll_timing keeps it out.
    bool uses_delay_model() const { return m_pldm != nullptr && !m_disable_ll_timing; }
    unsigned get_taint() const { return m_taint; }
    void set_taint_bits(unsigned bits) { m_taint |= bits; }
    void reset_taint() { m_taint = 0; }

    bool is_netlist_dump_enabled() const { return m_enable_netlist_dump; }
    bool dump_qor_stats() const { return m_dump_qor_stats; }
    bool are_debug_checkpoints_enabled() const { return m_enable_debug_checkpoints; }
    bool is_debug_checkpoint_stop_late() const { return m_debug_checkpoint_stop_late; }
    int get_debug_checkpoint_stop_count() const { return m_debug_checkpoint_stop_count; }
    bool is_plumrix_enabled() const { return m_plumrix_enabled; }
    bool is_plumrix_dump_every_iteration() const { return m_plumrix_dump_every_iteration; }
    bool is_plumrix_dump_every_algorithm() const { return m_plumrix_dump_every_algorithm; }
    bool is_plumrix_dump_post_route() const { return m_plumrix_dump_post_route; }
    double get_le_overuse_ratio() const { return m_le_overuse_ratio; }
    double get_ff_overuse_ratio() const { return m_ff_overuse_ratio; }
    // The run driver sweeps after productive iterations only while this is
    // on; a flow mode that must not sweep switches it off.
    bool is_netlist_sweeper_enabled() const { return m_netlist_sweeper_enabled; }
    void set_netlist_sweeper_enabled(bool enabled) { m_netlist_sweeper_enabled = enabled; }
    // Both ratios unknown again (the cluster-retry flow starts over).
    void clear_overuse_ratios() { m_le_overuse_ratio = m_ff_overuse_ratio = -1.0; }
    // The retiming lower bound's alpha, exit and beta as the retiming
    // constructor stores them from its parameters.
    void set_retiming_lower_bound_params(double alpha, double exit, double beta)
    {
        m_lb_ret_alpha = alpha;
        m_lb_ret_exit = exit;
        m_lb_ret_beta = beta;
    }
    double get_retiming_lb_alpha() const { return m_lb_ret_alpha; }
    double get_retiming_lb_exit() const { return m_lb_ret_exit; }
    double get_retiming_lb_beta() const { return m_lb_ret_beta; }

    // ---- maps ----
    void reset_fsyn_cluster_map();
    void reset_fsyn_chip_map(bool register_nodes);

    // ---- placement (morv_api_place.cpp) ----
    // Does nothing without a cluster map.
    void add_node_to_cluster(CDB_ATOM_NODE* node, int cluster_id, int ale_id);
    // A new chip map with one LAB per cluster, in raster order from (1, 1);
    // atoms in no cluster keep their LAB of the chip map it replaces.
    void download_clustering_to_chip_map();
    // Before placement every location; after it the usable LAB blocks, a
    // memory-capable one only while no atom of the grid's kind occupies it.
    bool can_lcell_go_to_location(int x, int y);
    void init_occupied_location_grid();
    void free_occupied_location_grid();
    bool has_occupied_location_grid() const { return m_has_occupied_location_grid; }
    // The node's LAB after placement (-1, -1 when it has none); a DSP block
    // answers the LAB of its block.
    void get_block_location(CDB_ATOM_NODE* node, int* x, int* y);
    // x, y and sub-location on the device.
    void get_node_device_location(CDB_ATOM_NODE* node, int* location_ret);

    // ---- delay estimates (morv_api_delay.cpp) ----
    // Picoseconds between two LABs; drive_strength -1 except in families
    // with FL cells, where it is the driver's FL value.
    int get_routing_delay(int x1, int y1, int x2, int y2, int drive_strength);
    // default_delay, bounded by the connection's locked regions.
    int get_point_to_point_delay(int default_delay, CDB_ATOM_ITERM* iterm);
    // Marks the locked logic cells and registers in locked (sized to the
    // atom ids) and estimates where their register neighbours sit.
    void compute_locked_location_estimates(MORV_BIT_VECTOR* locked);
    void clear_locked_location_estimates() { m_locked_location_estimates.clear(); }
    const std::vector<MORV_LOCKED_LOCATION_ESTIMATE>& get_locked_location_estimates() const
    {
        return m_locked_location_estimates;
    }
    PLDM* get_pldm() const { return m_pldm.get(); }
    void set_pre_placement_delay_factors(double factor_a, double factor_b, int hop_count);
    // Early timing-model stability: every driven input's present slack
    // ratio, the weighted change since, and the mean change over four early
    // analyses.
    void store_slack_ratios(MORV_SLACK_RATIO_MAP* slack_ratios);
    // Inputs the map lacks are left out, and with nothing to weigh the
    // difference is 0; with missing_counts_zero they count as a stored ratio
    // of 0.0, and with nothing to weigh the difference is not a number.
    double get_weighted_slack_ratio_difference(const MORV_SLACK_RATIO_MAP& slack_ratios,
                                               bool missing_counts_zero = false);
    double get_early_timing_model_stability();

    // ---- device data (morv_api_device.cpp) ----
    DEV_DEVICE* get_device();
    DEV_DIE_INFO* get_device_die_info();
    DUVO_DIE_INFO* get_duvo_die_info();
    DUVO_PLACE_INFO* get_duvo_place_info();
    DEV_FL_INFO* get_device_fl_info();
    // FL cells of structured-ASIC families (an internal error elsewhere,
    // except the two values that answer -1).
    int get_fl_id_from_atom_properties(CDB_ATOM_NODE* node);
    int get_stored_fl_id(CDB_ATOM_NODE* node);
    void set_fl_id(CDB_ATOM_NODE* node, int fl_id);
    int get_fl_cell_value(CDB_ATOM_NODE* node);
    int get_oterm_fl_value(CDB_ATOM_OTERM* oterm);
    int get_fl_cell_record_type(CDB_ATOM_NODE* node);
    CUT_ATOM_MORLIN_LEGALIZER* get_atom_legalizer();
    int count_mac_nodes() const;

    // ---- settings by id, resources, flow-gate queries, ICP ----
    int get_int_option(int id) const;  // -1 when absent
    // The setting as stored: an absent setting differs from every value.
    std::optional<int> find_int_option(int id) const;
    bool get_bool_option(int id) const;                                       // false when absent
    int get_enum_option(int id) const;                                        // 0 when absent
    std::string get_string_option(int id) const;                              // empty when absent
    int get_instance_int_option(HDB_INSTANCE_NAME* inst_name, int id) const;  // -1 when absent
    std::optional<bool> find_instance_bool_option(const HDB_INSTANCE_NAME* inst_name, int id) const;
    int get_family_code();
    bool is_fsyn_read_log_required() const;
    // The replay-log setting is present and not "OFF", whatever the family.
    bool is_read_log_setting_given() const;
    bool is_fsyn_write_log_required() const;
    // The same rule under the name the change log's callers use.
    bool is_fsyn_logging_on() const { return is_fsyn_write_log_required(); }
    bool has_migratable_part_of_family(int family) const;
    bool has_migration_target_device() const;
    void prepare_migration_log_file();
    int get_device_le_type() const;
    int get_device_ff_type() const;
    int get_device_le_count() const;
    int get_device_ff_count() const;
    int get_used_le_count() const;
    int get_used_ff_count() const;
    bool are_les_overused() const;
    bool are_ffs_overused() const;
    bool are_all_partitions_locked() const;
    float get_back_annotated_fraction() const;
    void set_progress_percent(int percent);
    bool run_timing_analysis(bool full, bool second_flag, double multiplier, bool fourth_flag,
                             bool want_routing_estimate, bool sixth_flag);
    void stress_icp_preferred_locations();
    // The atoms the stress took out of the map get the locations the ICP
    // placed them at, as a placer reports what it placed.
    void relocate_stressed_atoms();
    // Synchronises timing before a flow; false when no timing netlist could be built.
    bool refresh_timing_and_print_dont_touch_statistics();
    // ICP calls of the whole process; drives the progress bar.
    static int s_icp_call_count;

    // ---- edit notifications (morv_api_edit.cpp) ----
    // Every netlist change is announced here once: a disconnection before it
    // is made, a connection or creation after.
    // With no node the whole netlist is tainted.
    void taint(CDB_ATOM_NODE* node);
    // new_node was made (by the caller) from from_node; kind and code go to
    // the host's record (MORV_MODIFICATION_*); partition_id may be null.
    void node_added(CDB_ATOM_NODE* new_node, CDB_ATOM_NODE* from_node, int kind, int code, bool flag = true,
                    const int* partition_id = nullptr);
    // Announces and performs the deletion: the node is gone afterwards.
    void delete_node(CDB_ATOM_NODE* node);
    void modify_edge(CDB_ATOM_ITERM* iterm, bool disconnected);
    void modify_node(CDB_ATOM_NODE* node);
    // Two registers merged into kept; anything else is ignored.
    void merge_nodes(CDB_ATOM_NODE* kept, CDB_ATOM_NODE* merged);
    bool is_atom_modified_for_icp(int atom_id) const;
    void note_atom_modified_for_icp(int atom_id) { m_modified_atoms_for_icp.insert(atom_id); }

    // ---- may-modify queries (morv_api_edit.cpp) ----
    CDB_ATOM_NODE* get_node(int atom_id) const;
    // True: op must not change the term's driver (or the atom).
    bool is_oterm_dont_touch(CDB_ATOM_OTERM* oterm, AMM_OP op);
    bool is_atom_dont_touch(int atom_id, AMM_OP op);
    bool is_migration_sensitive_node(CDB_ATOM_NODE* node);
    bool has_connected_secondary_iterm(CDB_ATOM_NODE* node, bool count_kind_9);
    bool is_lut_outside_carry_chain(CDB_ATOM_NODE* node);
    bool is_lcell_or_ff(CDB_ATOM_NODE* node);
    void print_dont_touch_statistics(AMM_OP op);

    // ---- duplication, dumps, checks, partitions, logs (morv_api_netlist.cpp) ----
    // The new node (announced by the caller as a duplication) or null.
    CDB_ATOM_NODE* duplicate_oterm(CDB_ATOM_NODE* node, int output_port_type, bool flag);
    bool copy_oterm_timing_assignment(CDB_ATOM_OTERM* from, CDB_ATOM_OTERM* to);
    bool copy_oterm_timing_assignment(HDB_INSTANCE_NAME* from, HDB_INSTANCE_NAME* to);
    // s_TIMING_EQUIVALENT (2) when timing treats the two outputs alike, else
    // s_TIMING_DIFFERENT (5).
    int compare_oterms_for_timing(CDB_ATOM_OTERM* oterm_a, CDB_ATOM_OTERM* oterm_b) const;
    static constexpr int s_TIMING_EQUIVALENT = 2;
    static constexpr int s_TIMING_DIFFERENT = 5;
    // Writes the netlist to the project name + suffix when netlist dumping is on.
    void dump_atom_netlist(const std::string& suffix) const;
    // Every logic cell checked; the findings go to "fsyn_check_atom_netlist.txt"
    // in the project directory. True when there was none.
    bool check_atom_netlist();
    std::string get_project_name() const;
    std::string get_project_path() const;
    // Partitions and boundary ports: -1 or "" (and no change) without a
    // boundary-port manager.
    int get_atom_partition_id(CDB_ATOM_NODE* atom) const;
    int get_boundary_port_id(CDB_ATOM_OTERM* oterm) const;
    int get_assigned_boundary_port_id(CDB_ATOM_OTERM* oterm) const;
    int get_assigned_boundary_port_id(CDB_ATOM_ITERM* iterm) const;
    std::string get_boundary_port_name(CDB_ATOM_OTERM* oterm) const;
    std::string get_boundary_port_name(int port_id) const;
    std::string get_atom_partition_name(CDB_ATOM_NODE* node) const;
    std::string get_partition_name(int partition_id) const;
    void move_boundary_port_id(CDB_ATOM_OTERM* src_oterm, CDB_ATOM_OTERM* dst_oterm);
    // -1 clears.
    void set_boundary_port_id(CDB_ATOM_OTERM* oterm, int port_id);
    void set_boundary_port_id(CDB_ATOM_ITERM* iterm, int port_id);
    void copy_boundary_port_binding(CDB_ATOM_OTERM* existing, CDB_ATOM_OTERM* replacement);
    bool check_boundary_port_node(CDB_ATOM_NODE* node) const;
    // The boundary-port manager's self-check under "vnid_debug_ini"; true otherwise.
    bool check_bp_info() const;
    void ignore_partition_bp_info(int partition_id);
    void set_node_kardel_region(CDB_ATOM_NODE* node, int kdr_id);
    // Locks a node just made to the rectangle and counts it in its region;
    // after placement it moves, on the chip map, to the rectangle's point
    // nearest to where it was made.
    void lock_new_node_to_region(CDB_ATOM_NODE* node, int x1, int y1, int x2, int y2);
    // The host may change region assignments between flows: the next
    // region query reads them afresh.
    void forget_kardel_regions() { m_kardel_index.invalidate(); }

    // ---- states and snapshots ----
    int save_state();
    bool restore_state(int save_id);
    void clear_state(int save_id);
    void take_snapshot(MORV_SAVE_RESTORE_SNAPSHOT* snapshot);
    void restore_snapshot(MORV_SAVE_RESTORE_SNAPSHOT* snapshot);
    void delete_snapshot(MORV_SAVE_RESTORE_SNAPSHOT* snapshot);
    // True when the environment's snapshot manager still holds state save_id.
    bool holds_saved_state(int save_id) const;
    // The SAVE_RESTORE algorithm's saved netlists of this compile.
    MORV_SAVE_RESTORE_TABLES& get_save_restore_tables() { return m_save_restore_tables; }
    // The end of the compile: the states the tables still hold are cleared
    // (their files deleted) and the tables emptied.
    void clear_save_restore_states();

    // ---- broken invariants found in a destructor (morv_api_debug.cpp) ----
    // A destructor must not throw, and the host's internal-error service
    // does: an algorithm that is to end the compile from its destructor
    // leaves the report here, and the flow driver makes it once the
    // algorithm is gone. Only the first one left is kept.
    void defer_internal_error(const char* condition, const char* file, int line);
    // Makes the report left, if any; does not return then.
    void report_deferred_internal_error();

    // ---- debug checkpoints and the optimisation signature (morv_api_debug.cpp) ----
    // Counts a checkpoint; true when it is the stop point and the netlist was
    // saved. In a family whose checkpoints are opt-in only callers that allow
    // it count.
    bool debug_checkpoint(const char* file, int line, bool allow_in_morlin = false);
    // Checkpoints on, the stop count reached, in the stopping flow.
    bool fsyn_debug_stopped() const;
    // The stop point's saved netlist; -1 when the stop saved none (stop count
    // 0, or a family whose netlist cannot be saved there).
    int get_debug_checkpoint_save_id() const;
    int get_debug_checkpoint_count() const { return m_debug_checkpoint_count; }
    // A checksummed text form of a test string, and back. decode answers false
    // (and leaves decoded empty) for any text that is not a well-formed
    // signature: too short, an odd number of digits, a character other than
    // 0-9 and A-F, or a bad checksum.
    static std::string encode_optimization_signature(const std::string& text);
    static bool is_optimization_signature(const std::string& text);
    static bool decode_optimization_signature(const std::string& signature, std::string* decoded);

private:
    // Each atom's chip-database entry, into and out of a saved state.
    void save_chip_entries(MORV_SAVE_RESTORE_SNAPSHOT* snapshot) const;
    void restore_chip_entries(const MORV_SAVE_RESTORE_SNAPSHOT& snapshot);
    // One LAB per cluster, in raster order from (1, 1), on the new chip map.
    void place_clusters_on_chip_map(int nx, int ny);
    void bind_to_partition(CDB_ATOM_NODE* new_node, CDB_ATOM_NODE* old_node, const int* partition_id);
    void note_modified_for_tool_link(CDB_ATOM_NODE* node);
    void note_modified_in_statistics();
    bool is_protected_beyond_host(CDB_ATOM_NODE* node);
    bool check_logic_cell(CDB_ATOM_NODE* node, std::ostream& out);
    BPM_BOUNDARY_PORT_MANAGER* get_boundary_port_manager() const;
    TDC_UTILITY* timing_assignment_utility() const;
    // Releases the services in teardown order; also what a constructor that
    // fails half way runs, so a partly built facade goes as a whole one does.
    void release_services();
    void build_services();
    void read_plumrix_switches();
    void read_overuse_ratio();
    // Steps of run_timing_analysis.
    bool run_timing_without_placement(bool full, bool late);
    void refresh_timing_after_icp(bool routing_estimate, bool post_clustering);
    void record_icp_statistics(bool full, bool second_flag, bool success, const MORV_ICP_RESULT& result);
    // Cells that can lend a new node their region's assignments.
    bool can_model_kardel_region(CDB_ATOM_NODE* cell) const;
    MORV_KARDEL_INDEX& kardel_index();
    // Steps of the placement helpers.
    bool is_pre_placement() const;
    void assert_fl_family(const char* text) const;
    MORV_P2P_DELAY_BOUNDS compute_p2p_bounds(CDB_ATOM_NODE* sink, CDB_ATOM_NODE* source);
    bool get_locked_rectangle(CDB_ATOM_NODE* node, int* corners);
    void add_locked_neighbour(int atom_id, const int* neighbour_corners);

    MORV_EXPERT* m_fsyn_expert;
    MORV_OWNER<MORV_CHIP_MAP> m_fsyn_chip_map;
    MORV_OWNER<MORV_CLUSTER_MAP> m_fsyn_cluster_map;
    MORV_OWNER<MORV_NET_UTIL> m_fsyn_net_util;
    MORV_OWNER<MORV_STATS_MGR> m_fsyn_stats;
    MORV_OWNER<MORV_QOR_STAT_MGR> m_fsyn_qor_stat_mgr;
    MORV_OWNER<MORV_REGION_MAP> m_fsyn_region_map;
    MORV_OWNER<MORV_CDB_INTERFACE> m_fsyn_cdb_interface;
    MORV_ENV* m_morv_env;
    MORV_OWNER<MORV_INST_ASGN_MGR> m_inst_asgn_mgr;
    CDB_ATOM_NETLIST* m_atom_netlist;
    unsigned m_taint;
    bool m_enable_netlist_dump;
    bool m_dump_qor_stats;
    bool m_enable_debug_checkpoints;
    bool m_debug_checkpoint_stop_late;
    int m_debug_checkpoint_stop_count;
    int m_debug_checkpoint_count = 0;
    int m_debug_checkpoint_save_id = -1;
    struct DEFERRED_INTERNAL_ERROR
    {
        std::string m_condition, m_file;
        int m_line = 0;
    };
    std::optional<DEFERRED_INTERNAL_ERROR> m_deferred_internal_error;
    MORV_SAVE_RESTORE_TABLES m_save_restore_tables;
    std::set<int> m_modified_atoms_for_icp;
    int m_family;
    int m_base_family;
    int m_device_enum;
    int m_min_used_for_overuse;
    MORV_OWNER<MORV_LOG> m_fsyn_log;
    MORV_OWNER<MORV_NT> m_fsyn_nt;
    // The muxes retiming made of register controls, for REMUX to fold back.
    MORV_OWNER<std::set<int>> m_demuxed_nodes;
    MORV_OWNER<MORV_TIMING> m_fsyn_timing;
    bool m_plumrix_enabled;
    bool m_plumrix_dump_every_iteration;
    bool m_plumrix_dump_every_algorithm;
    bool m_plumrix_dump_post_route;
    bool m_netlist_sweeper_enabled = true;
    MORV_KARDEL_INDEX m_kardel_index;
    double m_le_overuse_ratio;
    double m_ff_overuse_ratio;
    double m_lb_ret_alpha = 0.249;
    double m_lb_ret_exit = 20.0;
    double m_lb_ret_beta = 0.3;
    int m_placer_seed;
    uint64_t m_random_state = 0;
    bool m_name_pattern = false;

    // Placement helpers and their caches.
    MORV_OWNER<PLDM> m_pldm;
    bool m_disable_ll_timing = false;  // fsyn_disable_ll_timing: timing does without the delay model
    std::map<std::pair<int, int>, MORV_P2P_DELAY_BOUNDS> m_p2p_delay_cache;  // (sink id, source id)
    // (atom id, saved-info index) of each location the ICP stress removed.
    std::vector<std::pair<int, int>> m_stressed_atoms;
    std::vector<MORV_LOCKED_LOCATION_ESTIMATE> m_locked_location_estimates;  // by atom id
    std::vector<unsigned char> m_occupied_location_grid;                     // x * ny + y, 1 = occupied
    int m_occupied_grid_ny = 0;
    bool m_has_occupied_location_grid = false;
    double m_pre_placement_delay_factor_a = 1.0;
    double m_pre_placement_delay_factor_b = 1.0;
    int m_pre_placement_hop_count = 0;
    DEV_DEVICE* m_device = nullptr;
    DEV_DIE_INFO* m_dev_die_info = nullptr;
    DUVO_DIE_INFO* m_duvo_die_info = nullptr;
    DUVO_PLACE_INFO* m_duvo_place_info = nullptr;
    DEV_FL_INFO* m_device_fl_info = nullptr;
    MORV_OWNER<CUT_ATOM_MORLIN_LEGALIZER> m_atom_legalizer;
};
