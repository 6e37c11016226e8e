#pragma once

// The flow driver: one subclass per supported device family, or the no-op
// driver for every other family. The driver owns the run's facade and the
// interactive-tool link.

#include <map>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

#include "mem_alloc_sys.h"
#include "morv/core/morv_expert_interface.h"
#include "morv/core/morv_slack_ratio_map.h"
#include "morv/netlist/morv_deterministic.h"
#include "vtl_hash_sys.h"

class MORV_ENV;
class MORV_API;
class MORV_TIMING;
class MORV_PLUMRIX;
class MORV_ALGORITHM_BASE;
struct MORV_USER_OPTION_COLUMN;
struct MORV_FAMILY_TRAITS;
struct MORV_DEFAULT_LISTS;
struct MORV_EFFORT_LISTS;
struct MORV_RUN_LIST;
struct MORV_PARAM_COMPILE;
class CDB_ATOM_NODE;
class CDB_ATOM_ITERM;
class MSG_POST;

// Algorithm ids: index into MORV_EXPERT::s_FSYN_ALGORITHM_SHORT_NAMES.
enum e_fsyn_algorithm : int
{
    RTM_ALGORITHM = 0,
    REMUX_ALGORITHM = 1,
    RWR_ALGORITHM = 2,
    REG_PACK_ALGORITHM = 3,
    REP_ALGORITHM = 4,
    TEST_ALGORITHM = 5,
    REG_UNPACK_ALGORITHM = 6,
    BDD_SYN_ALGORITHM = 7,
    RAM_MAP_ALGORITHM = 8,
    PIPE_ASYNC_ALGORITHM = 9,
    RESPLIT_ALGORITHM = 10,
    LIR_ALGORITHM = 11,
    INV_PUSH_ALGORITHM = 12,
    RESYN_ALGORITHM = 13,
    SAVE_RESTORE_ALGORITHM = 14,
    UTIL_ALGORITHM = 15,
    MANUAL_ALGORITHM = 16,
    PIPELINE_ALGORITHM = 17,
    ALGORITHM_END = 18
};

// Flow types held in m_flow_type; -1 until the mode has been chosen.
enum e_fsyn_flow_type : int
{
    FSYN_FLOW_TYPE_UNSET = -1,
    FSYN_USER_OPTION_FLOW = 0,
    FSYN_TEST_STRING_FLOW = 1,
    FSYN_REPLAY_LOG_FLOW = 2,
    FSYN_SWEEPER_ONLY_FLOW = 3,
    FSYN_DEFAULT_LIR_FLOW = 4,
    FSYN_TUNE_STRINGS_FLOW = 5,
    FSYN_FLAT_FLOW = 6
};

// Slack ratio of every input term when the early flow ended (the facade
// fills and compares it).
typedef MORV_SLACK_RATIO_MAP MORV_EXPERT_SLACK_RATIO_MAP;

// The run's parameter map: KEY=VALUE pairs of one algorithm run.
typedef std::map<std::string, std::string> MORV_PARAMETER_MAP;

// One entry of the run list: an algorithm id and its parsed parameters
// (with the parameter string as written). The algorithm object keeps a
// pointer to m_parameters while it runs.
struct MORV_ALGORITHM_RUN
{
    int m_algorithm = ALGORITHM_END;
    MORV_PARAMETER_MAP m_parameters;
    std::string m_parameter_string;
};

class MORV_EXPERT : public MORV_EXPERT_INTERFACE
{
public:
    static const char* const s_FSYN_ALGORITHM_SHORT_NAMES[ALGORITHM_END + 1];
    static const char* get_fsyn_flow_name(e_fsyn_flow flow);

    static MORV_OWNER<MORV_EXPERT_INTERFACE> allocate_new_expert(MORV_ENV* env);
    static bool is_early_fsyn_flow(e_fsyn_flow flow)
    {
        return flow == SYN_EARLY_FSYN_FLOW || flow == FIT_EARLY_FSYN_FLOW;
    }
    static bool is_pre_placement_fsyn_flow(e_fsyn_flow flow)
    {
        return flow >= SYN_EARLY_FSYN_FLOW && flow <= CLUSTER_RETRY_FSYN_FLOW;
    }

    // Process-wide: number of flow drivers constructed.
    static int m_instantiation;
    static bool m_TOO_MANY_BA_NODES_issued;

    explicit MORV_EXPERT(MORV_ENV* env);
    ~MORV_EXPERT() override;

    // ---- exported interface ----
    bool do_physical_synthesis(e_fsyn_flow fsyn_flow_id) override;
    bool will_fsyn_run(e_fsyn_flow fsyn_flow_id) override;
    bool has_fsyn_run(e_fsyn_flow fsyn_flow_id) override;
    bool will_fsyn_pipeline_net(CDB_ATOM_OTERM* src_oterm) override;
    void save_early_netlist_incase_vpr_fails() override;
    void restore_early_netlist() override;
    void discard_early_netlist() override;
    bool is_fsyn_running_in_migration_replay_log_mode() override;
    bool get_init_info_for_ble_dup_struct_from_sap(int a, int b, int* c, int* d, int* e, int* f, int g) override;
    bool load_ble_dup_struct(int* a, int* b, int** c, int d) override;
    void reset_fsyn_chip_map() override;
    void clear_fsyn_rdb_table() override;
    void clear_fsyn_log() override;
    void reset_fsyn_cluster_map() override;
    void set_atom_preferred_cluster(int atom_id, int cluster, int ale) override;
    int get_atom_preferred_cluster(int atom_id) override;
    int get_clustered_companion_node(int atom_id) override;
    void set_atoms_preferred_location(int atom_id, int x, int y, int sub, int index) override;
    bool get_atoms_preferred_location(int atom_id, int* x, int* y, int* sub, int* index) override;
    void fix_tdb_netlist_for_virtual_nodes() override;
    void set_vpr_retry_state(FSYN_VPR_RETRY_STATE state) override { m_vpr_retry_state = state; }
    FSYN_VPR_RETRY_STATE get_vpr_retry_state() override { return m_vpr_retry_state; }
    bool is_atom_modified_for_icp(int atom_id) override;

    // ---- family hooks, in slot order ----
    virtual void find_and_set_which_algorithms_are_to_run();
    virtual bool is_fsyn_allowed_in_flat_flow() = 0;
    virtual void set_user_option_algorithms_to_run() = 0;
    virtual bool run_fsyn_replay_log_flow();
    virtual bool run_fsyn_flat_flow(e_fsyn_flow fsyn_flow_id) = 0;
    virtual void add_cluster_retry_fsyn_algorithms() = 0;
    virtual void add_syn_early_fsyn_algorithms() = 0;
    virtual void add_fit_early_fsyn_algorithms(e_fsyn_flow fsyn_flow_id) = 0;
    virtual void add_late_fsyn_algorithms_for_circuit_characteristic() = 0;
    virtual void add_late_fsyn_algorithms() = 0;
    virtual bool check_if_log_file_exists();
    virtual bool tune_stability_threshold() { return true; }
    virtual void run_netlist_sweeper() = 0;
    virtual bool create_and_run_algorithm(int algorithm_id, MORV_PARAMETER_MAP& parameters) = 0;

    // ---- non-virtual queries ----
    bool use_xicp() const { return m_use_xicp; }
    bool enable_nevra() const { return m_enable_nevra; }
    MORV_ALGORITHM_BASE* get_current_algorithm() const { return m_current_algorithm.get(); }
    MORV_API* get_fsyn_api() const { return m_fsyn_api.get(); }
    MORV_PLUMRIX* get_fsyn_plumrix() const { return m_fsyn_plumrix.get(); }
    MORV_TIMING* get_fsyn_timing() const { return m_fsyn_timing; }
    MORV_ENV* get_morv_env() const { return m_morv_env; }
    int get_flow_type() const { return m_flow_type; }
    // The effort of the compile; the LATE flow may have lowered it.
    int get_effort() const { return m_opx_physical_synthesis_effort; }
    // Registers may be duplicated as well as logic.
    bool allows_register_duplication() const { return m_opx_register_duplication; }
    // The early timing model moved no more than the family allows.
    bool is_early_timing_model_stable(double stability) const;
    int get_early_netlist_state_id() const { return m_early_netlist_state_id; }

    bool can_any_fsyn_flow_run() const;
    bool is_fsyn_running(e_fsyn_flow fsyn_flow_id) const;
    bool is_fsyn_running_early_fsyn() const;
    bool is_fsyn_running_pre_placement_fsyn() const;
    bool is_fsyn_running_on_a_flat_flow() const { return m_fsyn_flat_flow; }

    void add_virtual_node(int id);
    void remove_virtual_node(int id);
    void clear_virtual_nodes();
    bool is_virtual_node(CDB_ATOM_NODE* node) const;

    bool is_device_supported_by_fsyn() const;

    // ---- run lists, test and tune strings (morv_expert_run.cpp) ----
    // The four parts of the test string as parsed for this compile.
    const std::string& get_test_string_part(e_fsyn_flow fsyn_flow_id) const;
    int get_num_algorithm_runs() const { return static_cast<int>(m_algorithm_runs.size()); }
    const std::vector<MORV_ALGORITHM_RUN>& get_algorithm_runs() const { return m_algorithm_runs; }
    bool may_algorithm_run(int algorithm_id) const;
    unsigned get_inst_asgn_flag_mask(int algorithm_id) const;
    // The flat flow runs without messages to the user.
    bool are_messages_suppressed() const { return m_fsyn_flat_flow; }
    // Posts, once per compile and name, the warning that `what` is not built
    // yet and is skipped: a run must not pretend to have done it.
    void warn_not_available(const std::string& what);

protected:
    void insert_algorithm(int algorithm_id, const std::string& parameters);
    void append_algorithm_run(int algorithm_id, const std::string& parameters);
    int extract_algorithm(std::string* text, std::string* parameters);
    void extract_test_string(std::string text);
    void parse_test_string();
    // Whether the family can run every run of one part of a test or tune
    // string at its flow point (null: a tune string's); posts the error
    // naming the first it cannot (what: "test string" or "tune string";
    // text: the whole string as given).
    bool check_runs_for_family(const char* what, const std::string& text, const std::string& part,
                               const char* flow_point);
    // Whether every BEST restore of SAVE_RESTORE in the part about to run
    // finds a netlist saved before it in this compile; posts the error
    // naming the first that would not.
    bool check_saved_before_best_restores(const char* what, const std::string& part, e_fsyn_flow fsyn_flow_id);
    // What this compile offers the values of a string's runs (its name, an
    // atom the user keeps that may be copied), for the checks before they run.
    MORV_PARAM_COMPILE compile_for_run_checks() const;
    void decode_and_parse_test_string();
    void run_fsyn_test_string_flow(e_fsyn_flow fsyn_flow_id);
    void run_fsyn_tune_string_flow(e_fsyn_flow fsyn_flow_id);
    void run_fsyn_user_option_flow(e_fsyn_flow fsyn_flow_id);
    void run_flow();
    // Runs the algorithm and releases it, also when the run throws.
    bool run_single_algorithm(MORV_OWNER<MORV_ALGORITHM_BASE> algorithm);

    // ---- default lists and family rules (morv_expert_lists.cpp) ----
    void add_cluster_retry_list(const MORV_DEFAULT_LISTS& lists);
    void add_syn_early_list(const MORV_DEFAULT_LISTS& lists);
    void add_fit_early_list(const MORV_DEFAULT_LISTS& lists);
    void add_late_list(const MORV_DEFAULT_LISTS& lists);
    // Appends the runs of the list that the xICP flag and the switches keep.
    void append_run_list(const MORV_RUN_LIST& list);
    // The list of the present effort (0 counts as NORMAL); any other value
    // is an internal error.
    const MORV_RUN_LIST& list_for_effort(const MORV_EFFORT_LISTS& lists) const;
    // Lowers NORMAL to FAST when timing barely moved since the early flow;
    // true when it moved so far that the circuit-characteristic list
    // replaces the LATE list.
    bool adapt_late_effort(const MORV_DEFAULT_LISTS& lists);
    bool is_lab_overuse_cutoff_in_force(const MORV_DEFAULT_LISTS& lists);
    bool check_early_timing_model_stability();

    // ---- flow dispatch (morv_expert_dispatch.cpp) ----
    // The gate: whether any flow may run; may disable flows and algorithms.
    bool check_if_fsyn_flow_can_be_run();
    // "fitting" for CLUSTER_RETRY, "speed" for every other flow.
    std::string get_target_for_flow(e_fsyn_flow fsyn_flow_id) const;
    // Writes "fsyn_delays.txt": one line per driven input term.
    void back_annotate_delays();
    // Interconnect delay into iterm in picoseconds (0 when unrouted).
    int get_interconnection_delay_on_iterm(CDB_ATOM_ITERM* iterm);

    // ---- flow functions (morv_expert_flows.cpp) ----
    // A flow function's span: the flow counts as running from construction
    // to stop_running, and the host hears end_of_fsyn_flow at end_flow. An
    // exception that passes does both, so no flag outlives the flow.
    class FLOW_SPAN
    {
    public:
        FLOW_SPAN(MORV_EXPERT& expert, e_fsyn_flow fsyn_flow_id, bool tells_host);
        ~FLOW_SPAN();
        void stop_running();
        void end_flow();
        FLOW_SPAN(const FLOW_SPAN&) = delete;
        FLOW_SPAN& operator=(const FLOW_SPAN&) = delete;

    private:
        MORV_EXPERT& m_expert;
        e_fsyn_flow m_flow;
        bool m_host_told;
    };
    bool early_fsyn_flow(e_fsyn_flow fsyn_flow_id);
    bool early_fsyn_esr_only_flow(e_fsyn_flow fsyn_flow_id);
    // The work of the chosen flow type at a flow point after the early ones;
    // the other types (replay, sweeper only, default LIR) do nothing there.
    void run_flow_type(e_fsyn_flow fsyn_flow_id);
    bool post_clustering_fsyn_flow();
    bool cluster_retry_fsyn_flow();
    bool late_fsyn_flow();
    void save_early_fsyn_netlist();
    bool run_fsyn_default_lir_flow();
    void print_log_error();
    void write_migration_log_start();
    void write_migration_log_end();
    // Merges the call's chunks into the compile's log file, removes them.
    void merge_migration_log();
    // "db/" + the compile's name + ".cmp.psl".
    std::string migration_log_name() const;

    // ---- shared bodies of the family hooks (morv_expert_run.cpp) ----
    // One column of the user-option table: how a family differs from the rest.
    void apply_user_option_table(const MORV_USER_OPTION_COLUMN& column);
    // The family factory: class_names[id] names the class built for id;
    // null: invalid id; "": nothing is built; "-": nothing, with the
    // REG_UNPACK line; "!": the family does not support it.
    bool create_and_run_from_table(const char* const* class_names, int algorithm_id, MORV_PARAMETER_MAP& parameters);
    void run_family_netlist_sweeper();
    void run_shared_flat_flow(e_fsyn_flow fsyn_flow_id);
    // Constructor steps after the mode selection: chip map and timing flags.
    void finish_family_construction(bool set_xicp, bool set_nevra);
    void legalize_entering_netlist();
    // The replay log of a migration compile; the device names of the message.
    bool check_replay_log_file(const char* target_device, const char* source_device);
    // Where the missing log was looked for, to detail the error with; null
    // when the name is empty.
    MSG_POST* new_replay_log_looked_for(const std::string& name);
    bool run_shared_replay_log_flow();

    // Steps of do_physical_synthesis.
    void show_post_route_netlist_to_tool_link();
    void print_flow_banner(const std::string& flow_name) const;
    bool run_gated_flow(e_fsyn_flow fsyn_flow_id);
    bool run_flow_function(e_fsyn_flow fsyn_flow_id);
    void forget_late_flow_state();
    bool pass_flow_gate_checks(bool* pipe_async_only, bool* skip_to_limited_mode);
    bool too_many_back_annotated_nodes(bool io_only);
    // Steps of the mode selection, in order.
    void read_flow_mode_inputs();
    void choose_flow_mode(const MORV_FAMILY_TRAITS& family);
    void choose_test_string_flows();
    void choose_user_option_flows(const MORV_FAMILY_TRAITS& family);
    void apply_family_and_migration_rules(const MORV_FAMILY_TRAITS& family);
    void apply_developer_flow_switches();
    // The mode selection of a family that chooses its own (MRL), in steps.
    void find_and_set_own_algorithms_to_run();
    void read_own_flow_mode_inputs();
    void choose_own_flow_mode();
    void choose_flat_lir_mode();
    // A test string's POST CLUSTERING part cannot run with the experimental
    // ICP on: the user hears which switch avoids it, and the part is dropped.
    void refuse_post_clustering_with_xicp();
    // One warning for a non-empty test-string part of a flow point the
    // family does not run (test-string mode only).
    void warn_test_string_part_not_run(const char* flow_point, const std::string& part,
                                       const MORV_FAMILY_TRAITS& family);
    // False, with an error naming the missing switches, when tune-string
    // mode lacks a string or threshold its flows will read.
    bool tune_strings_are_complete() const;
    // One warning when a replay log is named on a family that replays none.
    void warn_read_log_ignored(const MORV_FAMILY_TRAITS& family);
    // The file the replay-log setting names when a replay is asked for, else empty.
    std::string read_replay_log_name() const;
    // The replay of a migration log that legalises the netlist after.
    bool run_legalizing_replay_log_flow();
    bool finish_legalizing_replay();
    virtual const char* get_family_class_name() const = 0;

    FSYN_VPR_RETRY_STATE m_vpr_retry_state = 0;
    MORV_OWNER<MORV_API> m_fsyn_api;
    MORV_TIMING* m_fsyn_timing = nullptr;
    MORV_ENV* m_morv_env = nullptr;
    MORV_OWNER<MORV_ALGORITHM_BASE> m_current_algorithm;

    // User options: combinational logic, the same for fitting, logic to
    // memory, asynchronous pipelining, register duplication, retiming.
    bool m_opx_comb_logic = false;
    bool m_opx_comb_logic_for_fitting = false;
    bool m_opx_logic_to_memory = false;
    bool m_opx_async_pipelining = false;
    bool m_opx_register_duplication = false;
    bool m_opx_register_retiming = false;
    int m_opx_physical_synthesis_effort = 0;

    std::string m_opx_fsyn_test_string;
    std::string m_test_string_late;
    std::string m_test_string_early;
    std::string m_test_string_post_clustering;
    std::string m_test_string_cluster_retry;
    std::string m_opx_physical_synthesis_read_log;

    bool m_sweeper_only = false;
    bool m_tune_strings = false;
    bool m_for_density = false;
    int m_flow_type = FSYN_FLOW_TYPE_UNSET;

    std::vector<MORV_ALGORITHM_RUN> m_algorithm_runs;

    bool m_algorithm_list[ALGORITHM_END] = {};
    unsigned m_inst_asgn_flag_mask[ALGORITHM_END] = {};
    bool m_dump_instance_assignments = false;

    bool m_fsyn_flow_is_enabled[NUM_FSYN_FLOWS] = {};
    bool m_fsyn_flow_is_running[NUM_FSYN_FLOWS] = {};
    bool m_fsyn_flow_has_run[NUM_FSYN_FLOWS] = {};

    int m_early_netlist_state_id = -1;
    // The compile's log file when the early netlist was saved: a restore
    // drops what later calls merged into it. -1 when nothing is to drop.
    int64_t m_migration_log_size_at_early_save = -1;

    bool m_use_xicp = false;
    bool m_enable_nevra = false;
    bool m_fsyn_flat_flow = false;
    std::vector<std::string> m_not_available_reported;

    MORV_OWNER<MORV_PLUMRIX> m_fsyn_plumrix;

    MORV_OWNER<MORV_EXPERT_SLACK_RATIO_MAP> m_early_slack_ratios;
    std::set<int> m_virtual_nodes;

private:
    void check_flow_id(int fsyn_flow_id) const;
};

// The driver of every family the component does not support: it holds no
// data and answers every call with "nothing to do" or an internal error.
class MORV_EXPERT_NOP : public MORV_EXPERT_INTERFACE
{
public:
    MORV_EXPERT_NOP();
    ~MORV_EXPERT_NOP() override {}

    bool do_physical_synthesis(e_fsyn_flow fsyn_flow_id) override;
    bool will_fsyn_run(e_fsyn_flow) override { return false; }
    bool has_fsyn_run(e_fsyn_flow) override { return false; }
    bool will_fsyn_pipeline_net(CDB_ATOM_OTERM*) override { return false; }
    void save_early_netlist_incase_vpr_fails() override;
    void restore_early_netlist() override;
    void discard_early_netlist() override;
    bool is_fsyn_running_in_migration_replay_log_mode() override;
    bool get_init_info_for_ble_dup_struct_from_sap(int a, int b, int* c, int* d, int* e, int* f, int g) override;
    bool load_ble_dup_struct(int* a, int* b, int** c, int d) override;
    void reset_fsyn_chip_map() override;
    void clear_fsyn_rdb_table() override;
    void clear_fsyn_log() override;
    void reset_fsyn_cluster_map() override;
    void set_atom_preferred_cluster(int atom_id, int cluster, int ale) override;
    int get_atom_preferred_cluster(int atom_id) override;
    int get_clustered_companion_node(int atom_id) override;
    void set_atoms_preferred_location(int atom_id, int x, int y, int sub, int index) override;
    bool get_atoms_preferred_location(int atom_id, int* x, int* y, int* sub, int* index) override;
    void fix_tdb_netlist_for_virtual_nodes() override;
    void set_vpr_retry_state(FSYN_VPR_RETRY_STATE) override {}
    FSYN_VPR_RETRY_STATE get_vpr_retry_state() override { return 0; }
    bool is_atom_modified_for_icp(int) override { return false; }
};
