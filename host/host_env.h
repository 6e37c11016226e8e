#pragma once
// The stand-in compiler's environment: everything the component asks of its
// host, implemented over the stand-in atom netlist, device and timing
// analyser. One HOST_DESIGN holds what a compile owns below the environment
// (facade, action point, database entries, the netlist); HOST_ENV derives
// from MORV_ENV and answers the host operations.

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <optional>
#include <string_view>
#include <unordered_set>
#include <unordered_map>
#include <vector>

#include "cdb/cdb_atom_netlist.h"
#include "cdb/cdb_db_entries.h"
#include "cmp/cmp_facade.h"
#include "hdb/hdb_action_pt_instance.h"
#include "morv/core/morv_env.h"
#include "morv/netlist/morv_save_restore.h"

class BPM_BOUNDARY_PORT_MANAGER;
class DEV_DEVICE;
class TDB_NETLIST;
class TDC_ACCESSORIES;

namespace morv_host {

// The results folder of the fitter stage: where the component's tables go.
constexpr const char* HOST_RESULTS_FOLDER = "Fitter";
// The project's and the compile's name: the component names its files after it.
constexpr const char* HOST_COMPILE_NAME = "morv_fit";

// What a compile owns below the environment, its device included. The
// device is lent to the process's current-device slot while the design's
// compile runs; with two designs alive each keeps its own.
class HOST_DESIGN
{
public:
    // Takes the netlist (and the name manager it uses, when given) and the
    // device (the family's default device when none is given).
    HOST_DESIGN(int family, std::unique_ptr<CDB_ATOM_NETLIST> netlist, std::unique_ptr<HDB_NAME_MGR> names = nullptr,
                DEV_DEVICE* device = nullptr);
    ~HOST_DESIGN();
    HOST_DESIGN(const HOST_DESIGN&) = delete;
    HOST_DESIGN& operator=(const HOST_DESIGN&) = delete;

    CMP_FACADE& cmp() { return m_cmp; }
    HDB_ACTION_PT_INSTANCE& action_point() { return m_action_point; }
    HDB_OPTION_SET& options() { return m_action_point.get_options(); }
    CDB_ATOM_NETLIST* netlist() { return m_netlist.get(); }
    CDB_CHIP_DB_ENTRY* chip_entry() { return &m_chip_entry; }
    DEV_DEVICE* device() { return m_device.get(); }
    // Makes this design's device the process's current device.
    void make_device_current();
    int family() const { return m_family; }

    // A compile with partitions or boundary ports has a boundary-port
    // manager: made on first call and made the active one, which the next
    // environment picks up. Null until then.
    BPM_BOUNDARY_PORT_MANAGER* install_boundary_port_manager();
    BPM_BOUNDARY_PORT_MANAGER* boundary_port_manager() { return m_bpm.get(); }

private:
    int m_family;
    CMP_FACADE m_cmp;
    HDB_ACTION_PT_INSTANCE m_action_point;
    CDB_CMP_ENTRY m_cmp_entry;
    CDB_DB_ENTRIES m_db_entries;
    CDB_CHIP_DB_ENTRY m_chip_entry;
    CDB_HIERARCHY_DB_ENTRY m_hierarchy_entry;
    std::unique_ptr<HDB_NAME_MGR> m_names;
    std::unique_ptr<CDB_ATOM_NETLIST> m_netlist;
    std::unique_ptr<DEV_DEVICE> m_device;
    std::unique_ptr<BPM_BOUNDARY_PORT_MANAGER> m_bpm;
};

// Snapshots are numbered by their stack position, so that restore_state(id)
// finds snapshot id at position id; a cleared snapshot keeps its place.
class HOST_SNAPSHOT_MGR : public MORV_SAVE_RESTORE_MGR
{
public:
    MORV_SAVE_RESTORE_SNAPSHOT* create_snapshot() override;
};

// Gate answers of the host; tests and settings change them.
struct HOST_GATES
{
    bool tdc_on = true;
    bool fast_fit_on = false;
    bool reusing_post_fit_netlist = false;
    bool late_tune_allowed = true;
    bool discard_result = false;
    bool fake_auto_device = false;
};

// A notification the component made that has no other observable effect.
// A compile makes one per edit: the kind is a literal, never a copy.
struct HOST_NOTE
{
    std::string_view what;
    int64_t a = -1;
    int64_t b = -1;
    int64_t c = -1;
    int64_t d = -1;
};

class HOST_ENV : public MORV_ENV
{
public:
    explicit HOST_ENV(HOST_DESIGN& design, int partition_id = 0);
    ~HOST_ENV() override;

    HOST_DESIGN& design() { return m_design; }
    HOST_GATES& gates() { return m_gates; }
    HOST_SNAPSHOT_MGR& snapshots() { return m_snapshots; }

    // ---- recorded notifications: how many of each kind, and the last one.
    // A compile makes one per edit, so no list of them is kept.
    int count_notes(std::string_view what) const;
    // Null when none of the kind was made.
    const HOST_NOTE* last_note(std::string_view what) const;
    void clear_notes() { m_notes.clear(); }

    // ---- per-atom assignments and regions (tests and the settings file)
    void set_floating_region_lab_count(int region_id, int labs) { m_floating_labs[region_id] = labs; }
    // Where the settings first lock an atom to the rectangle (a file and
    // line, or the option), so that what the fitter finds wrong with the
    // rectangle names the line to change; "" when nothing does.
    void note_locked_region_origin(int x1, int y1, int x2, int y2, const std::string& where)
    {
        m_locked_region_origin.emplace(std::array<int, 4>{x1, y1, x2, y2}, where);
    }
    std::string locked_region_origin(int x1, int y1, int x2, int y2) const;
    // The atoms the user locked, taken before physical synthesis runs: what
    // it makes from them carries their lock, but only theirs must hold.
    void note_user_locks();
    bool is_user_locked(uint32_t atom_id) const { return m_user_locked.count(atom_id) != 0; }
    // The host refuses every collapse that touches the atom.
    void veto_collapse(uint32_t atom_id) { m_collapse_vetoes.insert(atom_id); }
    // Node the new node was made from (duplicate, created-from record), 0 when none.
    uint32_t get_origin(uint32_t atom_id) const;

    // ---- placement support
    // Failure injection: the next run_icp calls report failure.
    void set_icp_failure(bool fail) { m_icp_fails = fail; }
    int get_icp_calls() const { return m_icp_calls; }
    // Places every atom without a location next to its origin or its placed
    // neighbours, else in the nearest LAB with room; returns how many.
    int place_unplaced_atoms();
    // Makes the placement legal again: atoms on a block of the wrong kind or
    // beyond a location's capacity (newest atoms first) move to the nearest
    // location with room, then unplaced atoms are placed; returns how many moved.
    int legalize_placement();
    // True when the netlist has locations (placement has happened).
    bool is_placed() const { return m_placed; }
    void set_placed(bool placed) { m_placed = placed; }
    // Tells the component where a placed atom is (nothing for an unplaced one).
    static void hand_location(MORV_EXPERT_INTERFACE* expert, const CDB_ATOM_NODE& node);

    // ---- timing
    // Clock period of every clock, in ps.
    void set_clock_period_ps(int ps) { m_clock_period_ps = ps; }
    int get_clock_period_ps() const { return m_clock_period_ps; }
    // Full or incremental (pending taint) refresh, then analysis; the figure
    // of merit.
    double analyse_timing();
    int get_worst_slack() const;  // after analyse_timing; 0x7fffffff when nothing is constrained
    // The clock period that worst slack is measured against (a clock may
    // have its own); 0 when nothing is constrained.
    int get_worst_slack_period_ps() const { return m_worst_slack_period_ps; }
    // The critical path's delay, measured against a period nothing reaches
    // (the clock is left at that period); 0 when nothing is constrained.
    int measure_unoptimised_critical_path_ps();
    TDB_NETLIST* get_tdb_netlist();
    // The process's analyser, pointed at this compile's netlist.
    TDC_ACCESSORIES* accessories();
    // The timing-utility handle the component last handed over (null: none).
    TDC_UTILITY* get_component_tdc_utility() const { return m_component_utility; }

    // ---- progress
    // Progress lines on the terminal (host_progress.h) during the compile.
    void set_progress_bar(bool on) { m_progress_bar = on; }
    bool shows_progress() const { return m_progress_bar; }
    int get_progress() const { return m_progress; }

    // ---- host operations of MORV_ENV
    void build_timing_netlist(MORV_TIMING* timing, bool a, bool b, bool c, bool d, bool e, bool f) override;
    void reset_timing_netlist() override;
    std::string get_atom_name(int atom_id) override;
    CDB_ATOM_NODE* get_node(int atom_id) override;
    int get_max_atom_id() override;
    void node_added(CDB_ATOM_NODE* node, int flag = 0) override;
    void delete_node(CDB_ATOM_NODE* node) override;
    CDB_ATOM_NODE* duplicate_node(CDB_ATOM_NODE* node, int output_port_type, int a = 0, int b = 0, int c = 1) override;
    void copy_node_assignments(CDB_ATOM_NODE* from, CDB_ATOM_NODE* to, int a = 0, int b = 0) override;
    void clear_node_assignments(CDB_ATOM_NODE* node) override;
    bool is_fake_auto_device() override { return m_gates.fake_auto_device; }
    int get_grid_nx() override;
    int get_grid_ny() override;
    int get_resource_count(int atom_type) override;
    int get_block_type(int x, int y, int sub_loc = 0) override;
    void set_progress(int value) override;
    bool is_tdc_on() override { return m_gates.tdc_on; }
    bool is_fast_fit_on() override { return m_gates.fast_fit_on; }
    void netlist_assimilated() override;
    void set_taint_change_set(const std::vector<unsigned>& node_ids) override;
    bool can_share_ram_block(int representative_ram_id, int ram_id) override;
    void set_full_taint() override;
    int get_rams_per_block(int block_kind, int ram_atom_id) override;
    void discard_timing_netlist() override;
    bool is_reusing_post_fit_netlist() override { return m_gates.reusing_post_fit_netlist; }
    void set_tdc_utility(TDC_UTILITY* utility) override;
    bool is_atom_dont_touch(int atom_id, AMM_OP op) override;
    bool can_modify_oterm(CDB_ATOM_OTERM* oterm, AMM_OP op, int a = 0, int b = 0, int c = 0, int d = 0) override;
    bool can_modify_atom(int atom_id, AMM_OP op, int* reason = nullptr, int a = 0, int b = 0, int c = 0) override;
    // True for a register at a clock-domain crossing, or a copy made of one.
    bool is_clock_crossing_register(uint32_t atom_id);
    void end_early_netlist_save() override { note("end_early_netlist_save"); }
    void save_early_netlist() override { note("save_early_netlist"); }
    bool is_late_tune_allowed() override { return m_gates.late_tune_allowed; }
    void begin_early_netlist_save() override { note("begin_early_netlist_save"); }
    bool is_atom_back_annotated(CDB_ATOM_NODE* node) override;
    int get_node_kardel_region(CDB_ATOM_NODE* node) override;
    bool get_node_locked_region(CDB_ATOM_NODE* node, int* x1, int* y1, int* x2, int* y2) override;
    void set_node_locked_region(CDB_ATOM_NODE* node, int x1, int y1, int x2, int y2) override;
    bool can_collapse_node(CDB_ATOM_NODE* node, const std::vector<CDB_ATOM_NODE*>& nodes) override;
    int get_floating_region_lab_count(int region_id) override;
    bool must_keep_node(CDB_ATOM_NODE* node) override;
    CDB_ATOM_NODE* get_gnd_lcell(int partition) override;
    CDB_ATOM_NODE* get_partition_gnd_lcell(int partition) override;
    void prepare_gnd_lcell(int partition) override;
    MORV_ICP_RESULT run_icp(bool full, bool second, double multiplier, bool fourth = false,
                            bool routing_estimate = false, bool sixth = false, bool post_clustering = false) override;
    double get_routing_delay(int x1, int y1, int x2, int y2, int drive_strength = -1) override;
    void get_progress_range(int* start, int* end) override;
    int get_oterm_fl_id(CDB_ATOM_OTERM* oterm) override;
    void initialize_chle_lib() override { note("initialize_chle_lib"); }
    void refresh_after_netlist_change() override;
    int get_figure_of_merit(bool legacy = false) override;
    void registers_retimed() override { note("registers_retimed"); }
    void restore_state(int state_id) override;
    void record_node_modification(CDB_ATOM_NODE* node, CDB_ATOM_NODE* other, int kind, int code) override;
    void clear_rdb_table() override { note("clear_rdb_table"); }
    void end_of_fsyn_flow() override;
    int get_part() override;
    bool should_discard_fsyn_result() override { return m_gates.discard_result; }
    void record_created_from(CDB_ATOM_OTERM* new_oterm, CDB_ATOM_OTERM* source_oterm) override;
    void post_restore_state() override;

    using MORV_ENV::restore_state;

private:
    // The kind is a literal: it outlives every note.
    void note(const char* what, int64_t a = -1, int64_t b = -1, int64_t c = -1, int64_t d = -1);
    int place_atoms(bool legalize);
    CDB_ATOM_NODE* ground_cell(int partition, bool create);
    void ensure_timing();
    // Puts each copy made after placement on the LAB the component chose for
    // it (the nearest LAB with room when that one is full); the ids moved.
    std::vector<unsigned> adopt_copy_locations();
    class HOST_ROOM_MAKER room_maker(const std::vector<unsigned>& copies);
    void hand_locations_back(const std::vector<unsigned>& ids);
    double run_analysis();

    HOST_DESIGN& m_design;
    HOST_GATES m_gates;
    HOST_SNAPSHOT_MGR m_snapshots;
    struct NOTE_TALLY
    {
        int count = 0;
        HOST_NOTE last;
    };
    std::map<std::string_view, NOTE_TALLY> m_notes;
    std::map<int, int> m_floating_labs;
    std::map<std::array<int, 4>, std::string> m_locked_region_origin;
    std::map<int, uint32_t> m_ground_cells;  // partition -> atom id (ids survive restores)
    std::set<uint32_t> m_collapse_vetoes;
    std::unordered_map<uint32_t, uint32_t> m_origin;  // new atom -> atom it was made from
    std::unordered_set<uint32_t> m_user_locked;
    // The registers at clock-domain crossings, found at the first retiming
    // question (host_clock_crossings.h); copies answer as their origin.
    std::optional<std::unordered_set<uint32_t>> m_crossing_registers;
    // Copies made after placement whose LAB the component has still to say.
    std::vector<uint32_t> m_placed_copies;
    bool m_icp_fails = false;
    int m_icp_calls = 0;
    bool m_placed = false;
    int m_progress = 0;
    bool m_progress_bar = false;
    int m_clock_period_ps = 10000;

    bool m_full_taint = true;
    bool m_analysed = false;
    int m_worst_slack = 0x7fffffff;
    int m_worst_slack_period_ps = 0;
    std::vector<unsigned> m_taint;
    TDC_UTILITY* m_component_utility = nullptr;
};

}  // namespace morv_host
