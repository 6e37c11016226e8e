#pragma once

// The flow driver's exported interface: what the host calls once it holds an
// environment. Kept free of every other component header so that the host can
// include it with MORV_ENV alone.

class CDB_ATOM_OTERM;

enum e_fsyn_flow : int
{
    SYN_EARLY_FSYN_FLOW = 0,
    FIT_EARLY_FSYN_FLOW = 1,
    POST_CLUSTERING_FSYN_FLOW = 2,
    CLUSTER_RETRY_FSYN_FLOW = 3,
    LATE_FSYN_FLOW = 4,
    VERY_LATE_FSYN_FLOW = 5,
    BACK_ANNOTATE_FSYN_FLOW = 6,
    NUM_FSYN_FLOWS = 7
};

// The host's placement-retry state; only the value 2 means anything here.
typedef int FSYN_VPR_RETRY_STATE;

class MORV_EXPERT_INTERFACE
{
public:
    virtual bool do_physical_synthesis(e_fsyn_flow fsyn_flow_id) = 0;
    virtual bool will_fsyn_run(e_fsyn_flow fsyn_flow_id) = 0;
    virtual bool has_fsyn_run(e_fsyn_flow fsyn_flow_id) = 0;
    virtual bool will_fsyn_pipeline_net(CDB_ATOM_OTERM* src_oterm) = 0;
    virtual void save_early_netlist_incase_vpr_fails() = 0;
    virtual void restore_early_netlist() = 0;
    virtual void discard_early_netlist() = 0;
    virtual bool is_fsyn_running_in_migration_replay_log_mode() = 0;
    virtual bool get_init_info_for_ble_dup_struct_from_sap(int a, int b, int* c, int* d, int* e, int* f, int g) = 0;
    virtual bool load_ble_dup_struct(int* a, int* b, int** c, int d) = 0;
    virtual void reset_fsyn_chip_map() = 0;
    virtual void clear_fsyn_rdb_table() = 0;
    virtual void clear_fsyn_log() = 0;
    virtual void reset_fsyn_cluster_map() = 0;
    virtual void set_atom_preferred_cluster(int atom_id, int cluster, int ale) = 0;
    virtual int get_atom_preferred_cluster(int atom_id) = 0;
    virtual int get_clustered_companion_node(int atom_id) = 0;
    virtual void set_atoms_preferred_location(int atom_id, int x, int y, int sub, int index) = 0;
    virtual bool get_atoms_preferred_location(int atom_id, int* x, int* y, int* sub, int* index) = 0;
    virtual void fix_tdb_netlist_for_virtual_nodes() = 0;
    virtual void set_vpr_retry_state(FSYN_VPR_RETRY_STATE state) = 0;
    virtual FSYN_VPR_RETRY_STATE get_vpr_retry_state() = 0;
    virtual bool is_atom_modified_for_icp(int atom_id) = 0;
    virtual ~MORV_EXPERT_INTERFACE() {}
};
