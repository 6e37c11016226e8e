#pragma once

// The one object through which the host and the component see each other.
//
// The host derives its environment from MORV_ENV for one compile and partition.
// The component supplies construction, a handful of accessors, the creation of
// the flow driver and the saving, restoring and dropping of netlist states;
// every pure operation below is the host's. Operations are declared in slot
// order; trailing defaulted arguments cover callers that pass fewer values.

#include <string>
#include <vector>

#include "mem_alloc_sys.h"
#include "morv/core/morv_expert_interface.h"

class CMP_FACADE;
class CDB_ATOM_NETLIST;
class CDB_ATOM_NODE;
class CDB_ATOM_OTERM;
class CDB_CHIP_DB_ENTRY;
class CDB_ATOM_BOUNDARY_PORT;
class BPM_BOUNDARY_PORT_MANAGER;
class TDC_UTILITY;
class MORV_TIMING;
class MORV_SAVE_RESTORE_MGR;

// The host's modification-operation code, handed to the don't-touch queries.
enum AMM_OP : int
{
    AMM_OP_FITTER_FSYN_RETIME = 5,
    AMM_OP_FITTER_FSYN_SKEW_RETIME = 6,
    AMM_OP_FITTER_FSYN_DUPLICATE = 7,
    AMM_OP_FITTER_FSYN_REMOVE = 8,
    AMM_OP_FITTER_FSYN_LOG_REMOVE = 9,  // a replay deletes a cell it replaced, or its sources
    AMM_OP_FITTER_FSYN_RESYNTHESIS = 10,
    AMM_OP_FITTER_FSYN_COLLAPSE = 11,
    AMM_OP_FITTER_FSYN_RAM_REMOVE = 12,
    AMM_OP_FITTER_FSYN_PIPELINE_ASYNC = 13,
    AMM_OP_PARTITION_LOCK_TEST = 22,
    // An atom replaced by a copy that takes over its fanouts, the original
    // deleted; asked only by the utility algorithm's don't-touch test.
    AMM_OP_FITTER_FSYN_REPLACE = 33
};

// Kinds of the host's modification records (record_node_modification);
// additions pass the caller's kind, 0 for a plain creation.
enum MORV_MODIFICATION_KIND : int
{
    MORV_MODIFICATION_CREATE = 0,
    MORV_MODIFICATION_DELETE = 1,
    MORV_MODIFICATION_MODIFY = 2,
    MORV_MODIFICATION_DUPLICATE = 3,
    MORV_MODIFICATION_MERGE = 6
};
// The ordinary code of a modification record, and the one of a merge.
constexpr int MORV_MODIFICATION_CODE = 4149;
constexpr int MORV_MERGE_MODIFICATION_CODE = 9;

// Result of the host's placement-and-timing call.
struct MORV_ICP_RESULT
{
    int m_first_seconds = 0;   // CPU seconds of the placement stage
    int m_second_seconds = 0;  // CPU seconds of the timing stage
    int m_moved_atoms = 0;
    int m_figure_of_merit = 0;
    int m_status = 0;  // 1 on success
};

class MORV_ENV
{
public:
    MORV_ENV(CMP_FACADE* cmp, int partition_id);

    static MORV_ENV* get_env() { return s_env; }
    static e_fsyn_flow where_does_early_fsyn_run(CMP_FACADE* cmp);

    // Drops every saved state of the snapshot manager, position by position.
    void clear_all_states();

    MORV_SAVE_RESTORE_MGR* get_save_restore_mgr() const { return m_save_restore_mgr; }
    void set_save_restore_mgr(MORV_SAVE_RESTORE_MGR* mgr) { m_save_restore_mgr = mgr; }
    int get_partition_id() const { return m_partition_id; }
    MORV_EXPERT_INTERFACE* peek_fsyn_expert() const { return m_fsyn_expert.get(); }

    // ---- virtual operations, in slot order ----
    virtual ~MORV_ENV();
    virtual void build_timing_netlist(MORV_TIMING* timing, bool a, bool b, bool c, bool d, bool e, bool f) = 0;
    virtual CDB_ATOM_NETLIST* get_atom_netlist() { return m_atom_netlist; }
    virtual BPM_BOUNDARY_PORT_MANAGER* get_boundary_port_manager() { return m_bpm; }
    virtual CMP_FACADE* get_cmp() { return m_cmp; }
    virtual void reset_timing_netlist() = 0;
    virtual std::string get_atom_name(int atom_id) = 0;
    virtual CDB_ATOM_NODE* get_node(int atom_id) = 0;
    virtual int get_max_atom_id() = 0;
    virtual void node_added(CDB_ATOM_NODE* node, int flag = 0) = 0;
    virtual void delete_node(CDB_ATOM_NODE* node) = 0;
    // The node's output of the given port type is duplicated; the new node or null.
    virtual CDB_ATOM_NODE* duplicate_node(CDB_ATOM_NODE* node, int output_port_type, int a = 0, int b = 0,
                                          int c = 1) = 0;
    virtual void copy_node_assignments(CDB_ATOM_NODE* from, CDB_ATOM_NODE* to, int a = 0, int b = 0) = 0;
    virtual void clear_node_assignments(CDB_ATOM_NODE* node) = 0;
    virtual bool is_fake_auto_device() { return false; }
    virtual int get_grid_nx() = 0;
    virtual int get_grid_ny() = 0;
    virtual int get_resource_count(int atom_type) = 0;
    virtual int get_block_type(int x, int y, int sub_loc = 0) = 0;
    virtual int get_family_code() { return m_family_code; }
    virtual int get_base_family_code() { return m_base_family_code; }
    virtual CDB_CHIP_DB_ENTRY* get_chip_db_entry() { return m_chip_db_entry; }
    virtual std::string get_project_name();
    virtual void set_progress(int value) = 0;
    virtual bool is_tdc_on() = 0;
    virtual bool is_fast_fit_on() = 0;
    virtual void netlist_assimilated() = 0;
    virtual void set_taint_change_set(const std::vector<unsigned>& node_ids) = 0;
    // RAM compatibility of two existing RAM atoms (used by logic-to-RAM mapping).
    virtual bool can_share_ram_block(int representative_ram_id, int ram_id) = 0;
    virtual void set_full_taint() = 0;
    // How many RAM atoms like this one a block of the given kind (256, 257, 258) holds.
    virtual int get_rams_per_block(int block_kind, int ram_atom_id) = 0;
    virtual void discard_timing_netlist() = 0;
    virtual bool is_reusing_post_fit_netlist() = 0;
    virtual void set_tdc_utility(TDC_UTILITY* utility) = 0;
    virtual bool is_atom_dont_touch(int atom_id, AMM_OP op) = 0;
    virtual bool can_modify_oterm(CDB_ATOM_OTERM* oterm, AMM_OP op, int a = 0, int b = 0, int c = 0, int d = 0) = 0;
    // reason, when given, receives the host's refusal reason code.
    virtual bool can_modify_atom(int atom_id, AMM_OP op, int* reason = nullptr, int a = 0, int b = 0, int c = 0) = 0;
    virtual void end_early_netlist_save() = 0;
    virtual void save_early_netlist() = 0;
    virtual bool is_late_tune_allowed() = 0;
    virtual void begin_early_netlist_save() = 0;
    virtual MORV_EXPERT_INTERFACE* get_fsyn_expert();
    virtual void free_fsyn_expert();
    virtual bool is_atom_back_annotated(CDB_ATOM_NODE* node) = 0;
    virtual int get_node_kardel_region(CDB_ATOM_NODE* node) = 0;
    virtual bool get_node_locked_region(CDB_ATOM_NODE* node, int* x1, int* y1, int* x2, int* y2) = 0;
    // Locks the node to the rectangle, its other assignments unchanged.
    virtual void set_node_locked_region(CDB_ATOM_NODE* node, int x1, int y1, int x2, int y2) = 0;
    virtual bool can_collapse_node(CDB_ATOM_NODE* node, const std::vector<CDB_ATOM_NODE*>& nodes) = 0;
    virtual int get_floating_region_lab_count(int region_id) = 0;
    virtual bool must_keep_node(CDB_ATOM_NODE* node) = 0;
    virtual CDB_ATOM_NODE* get_gnd_lcell(int partition) = 0;
    virtual CDB_ATOM_NODE* get_partition_gnd_lcell(int partition) = 0;
    virtual void prepare_gnd_lcell(int partition) = 0;
    virtual CDB_ATOM_NODE* get_boundary_port_source(CDB_ATOM_BOUNDARY_PORT* port, int* atom_type,
                                                    int* output_port_type);
    virtual CDB_ATOM_NODE* get_blackbox_source(CDB_ATOM_OTERM* oterm, int* atom_type, int* output_port_type);
    virtual bool is_stitched_node(int node_id)
    {
        (void)node_id;
        return false;
    }
    virtual MORV_ICP_RESULT run_icp(bool full, bool second, double multiplier, bool fourth = false,
                                    bool routing_estimate = false, bool sixth = false,
                                    bool post_clustering = false) = 0;
    // Seconds between two LAB locations for the given drive strength (-1: default).
    virtual double get_routing_delay(int x1, int y1, int x2, int y2, int drive_strength = -1) = 0;
    virtual void get_progress_range(int* start, int* end) = 0;
    virtual int get_oterm_fl_id(CDB_ATOM_OTERM* oterm) = 0;
    virtual void initialize_chle_lib() = 0;
    virtual void refresh_after_netlist_change() = 0;
    virtual int get_figure_of_merit(bool legacy = false) = 0;
    virtual void registers_retimed() = 0;
    virtual int save_state();
    // The host's own restore wraps the protected restore_state(int, int) below.
    virtual void restore_state(int state_id) = 0;
    virtual void clear_state(int state_id);
    virtual void record_node_modification(CDB_ATOM_NODE* node, CDB_ATOM_NODE* other, int kind, int code) = 0;
    virtual void clear_rdb_table() = 0;
    virtual void end_of_fsyn_flow() = 0;
    virtual int get_current_partition_id() { return m_current_partition_id; }
    virtual int get_part() = 0;
    virtual bool should_discard_fsyn_result() = 0;
    virtual void record_created_from(CDB_ATOM_OTERM* new_oterm, CDB_ATOM_OTERM* source_oterm) = 0;
    virtual void post_restore_state() {}
    virtual void pre_restore_state() {}

protected:
    // Reads saved state state_id back; file_type is the host's archive type.
    void restore_state(int state_id, int file_type);

    MORV_ENV(const MORV_ENV&) = delete;
    MORV_ENV& operator=(const MORV_ENV&) = delete;

private:
    CMP_FACADE* m_cmp;
    CDB_ATOM_NETLIST* m_atom_netlist;
    BPM_BOUNDARY_PORT_MANAGER* m_bpm;
    CDB_CHIP_DB_ENTRY* m_chip_db_entry;
    MORV_OWNER<MORV_EXPERT_INTERFACE> m_fsyn_expert;
    MORV_SAVE_RESTORE_MGR* m_save_restore_mgr;
    int m_partition_id;
    int m_family_code;
    int m_base_family_code;
    int m_current_partition_id;

    static MORV_ENV* s_env;
};
