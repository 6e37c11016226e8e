#pragma once

// Asynchronous-signal pipelining. A reset made by a synchroniser register on
// a global clock and spread to the asynchronous inputs of registers all
// over the chip often sets the clock period: its net is replaced by a tree
// of registers clocked like the synchroniser. The early flow decides which
// sources are critical and safe to pipeline and records them process-wide
// (no netlist edit); the host may then ask whether a net will be pipelined;
// the LATE flow pipelines each recorded source and files the report table.
//
// Files: the object, its parameters and the query (morv_pipe_async.cpp),
// the evaluation of the early flow (morv_pipe_async_eval.cpp), the
// execution of the LATE flow: selection, reach, demotion and chain
// (morv_pipe_async_exec.cpp), the new registers and their legal places
// (morv_pipe_async_reg.cpp), the register tree (morv_pipe_async_tree.cpp),
// the report rows and table (morv_pipe_async_report.cpp).

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "mem_alloc_sys.h"
#include "morv/core/algorithm/morv_algorithm_base.h"
#include "morv/core/morv_global.h"

class CDB_ATOM_ITERM;
class CDB_ATOM_NODE;
class CDB_ATOM_OTERM;
class MORV_NET_UTIL;
class MSG_BASE;
class MSG_POST;

// The short hierarchical name of the output, or of its atom when the output
// has none; "" without either.
std::string morv_pipe_async_hpath(const CDB_ATOM_OTERM* oterm);

// The smallest slack of a source starts here.
constexpr int MORV_PIPE_ASYNC_INFINITY = 1073741824;

// A destination of the source being pipelined: the atom, the usage of the
// input the source feeds, and its LAB (-1 when it has none).
struct DST_REG
{
    CDB_ATOM_NODE* node = nullptr;
    int port_type = 0;
    int x = -1;
    int y = -1;
};

// A pipeline register to create (node null) or created.
struct PIPE_REG
{
    int x = -1;
    int y = -1;
    std::vector<DST_REG> children;
    int distance = 0;
    CDB_ATOM_NODE* node = nullptr;
};

// The source being pipelined in the LATE flow.
struct ASYNC_SOURCE
{
    CDB_ATOM_OTERM* src_oterm = nullptr;  // clock_buf_oterm when there is a buffer, else sync_reg_oterm
    CDB_ATOM_NODE* sync_reg = nullptr;
    CDB_ATOM_OTERM* sync_reg_oterm = nullptr;
    CDB_ATOM_NODE* clock_buf = nullptr;
    CDB_ATOM_OTERM* clock_buf_oterm = nullptr;
    std::vector<DST_REG> dst_regs;
};

// A LAB of the grid the register tree is laid on.
struct LOCATION_CELL
{
    bool has_dst_regs = false;
    bool covered = false;
    std::vector<DST_REG> dst_regs;
};

// A box of LABs, bounds inclusive.
struct BOUNDING_BOX
{
    int min_x = MORV_PIPE_ASYNC_INFINITY;
    int max_x = -1;
    int min_y = MORV_PIPE_ASYNC_INFINITY;
    int max_y = -1;
};

// Atom ids that share one pipeline register (one DSP block).
using PIPE_ASYNC_CLIQUE = std::set<uint32_t>;

class MORV_PIPE_ASYNC : public MORV_ALGORITHM_BASE
{
public:
    // What the object is doing.
    enum STATE : uint32_t
    {
        STATE_EVALUATED = 0,  // the early flow's evaluation is done
        STATE_READY = 1,      // a source is ready to pipeline
        STATE_IDLE = 3
    };

    // Input port types that count as asynchronous inputs of a destination.
    static const std::vector<int> s_async_port_types;
    // The sources the early flow chose for the LATE flow, and the report
    // rows of every source looked at: both outlive the objects.
    static inline PIPE_ASYNC_OTERM_SET& s_critical_async_sources = s_morv_critical_async_sources;
    static inline PIPE_ASYNC_REPORT_ROWS& s_report_rows = s_morv_pipe_async_report_rows;

    MORV_PIPE_ASYNC(MORV_API* api, const MORV_PARAMETER_MAP* params);
    ~MORV_PIPE_ASYNC() override;

    // ---- the algorithm (morv_pipe_async.cpp)
    std::string get_short_name() override { return "PIPE_ASYNC"; }
    std::string get_description() override { return "automatic asynchronous signal pipelining"; }
    void set_default_algorithm_parameters(int& num_passes, int& icp_at_end, double& fom_to_accept,
                                          int& restore_netlist) override;
    void set_default_pass_parameters(int pass, int& num_iters, int& hill_climb_iters) override;
    int do_iter() override;
    void finish_pass() override {}
    void finish_algorithm() override;
    bool reports_estimated_improvement() override { return false; }
    bool is_fom_close_to_optimal() override { return false; }
    bool use_itest() override { return false; }

    // Whether the node of src_oterm is a recorded critical source (the port
    // type is not compared).
    static bool static_is_critical_asynchronous_source(CDB_ATOM_OTERM* src_oterm);

    // ---- the evaluation (morv_pipe_async_eval.cpp)
    void find_asynchronous_signals();
    void evaluate_port_type(int port_type);
    // msg, when given, receives the reasons as sub-messages.
    bool is_asynchronous_signal_pipelineable(CDB_ATOM_OTERM* src_oterm, MSG_BASE* msg);
    bool fans_out_only_to_asynchronous_inputs(CDB_ATOM_OTERM* src_oterm, MSG_BASE* msg);
    bool is_asynchronous_fanout(CDB_ATOM_ITERM* fanout);

    // ---- the execution (morv_pipe_async_exec.cpp)
    // Pipelines m_curr_source; the operations made.
    int pipeline_current_source();
    // Fills m_curr_async_source from m_curr_source.
    void fill_current_source();
    void compute_register_reach();
    int get_target_period();
    int compute_reach_from_period(int period);
    bool demote_global();
    int insert_pipeline_register_chain();

    // ---- the new registers (morv_pipe_async_reg.cpp)
    // One register at (x, y) fed by src_oterm, driving dst_iterms instead of it.
    CDB_ATOM_NODE* create_pipeline_register(CDB_ATOM_OTERM* src_oterm, const std::vector<CDB_ATOM_ITERM*>& dst_iterms,
                                            int x, int y);
    CDB_ATOM_NODE* create_pipeline_register_brk(CDB_ATOM_OTERM* src_oterm,
                                                const std::vector<CDB_ATOM_ITERM*>& dst_iterms, int x, int y);
    CDB_ATOM_NODE* create_pipeline_register_uvo(CDB_ATOM_OTERM* src_oterm,
                                                const std::vector<CDB_ATOM_ITERM*>& dst_iterms, int x, int y);
    void legalize_pipe_regs();
    // Whether a new logic cell may stand on (x, y); inside the chip only.
    bool is_acceptable_location(int x, int y);

    // ---- the register tree (morv_pipe_async_tree.cpp)
    void build_potential_cliques();
    void find_all_dest_regs(ASYNC_SOURCE& source, bool with_grid);
    bool add_to_effective_clique(CDB_ATOM_NODE* node);
    int insert_pipeline_register_tree();
    BOUNDING_BOX get_bounding_box_around_dst_regs(const ASYNC_SOURCE& source) const;
    void create_candidate_pipe_regs(const BOUNDING_BOX& box);
    void sort_candidate_pipe_regs(int cx, int cy);
    int assign_pipe_regs_children(int expected);
    BOUNDING_BOX shrink_bounding_box(const BOUNDING_BOX& box) const;
    CDB_ATOM_NODE* create_pipe_reg_for_children(CDB_ATOM_OTERM* src_oterm, const PIPE_REG& candidate);

    // ---- the report (morv_pipe_async_report.cpp)
    static void add_report_row(CDB_ATOM_OTERM* src_oterm, uint32_t stages, uint32_t registers, const std::string& note);
    void write_report_table();
    // The name a debug file made for signal_name may carry: every character
    // a file name cannot hold becomes '_'.
    static std::string file_name_safe(const std::string& signal_name);

    // ---- accessors
    uint32_t get_state() const { return m_state; }
    int get_slack_threshold() const { return m_slack_threshold; }
    bool is_family_supported() const { return m_family_supported; }
    const std::vector<int>& get_async_port_types() const { return m_async_port_types; }
    int get_reg_data_in_port() const { return m_reg_data_in_port; }
    bool has_late_flow_members() const { return m_curr_async_source != nullptr; }
    int get_register_reach() const { return m_pipeline_register_reach; }
    void set_register_reach(int reach) { m_pipeline_register_reach = reach; }
    const std::vector<std::vector<PIPE_REG>>& get_pipe_regs() const { return m_pipe_regs; }
    int get_pipe_stage() const { return m_pipe_stage; }
    int get_total_registers() const { return m_total_registers; }
    ASYNC_SOURCE* get_current_async_source() const { return m_curr_async_source.get(); }
    // Makes key the source to pipeline, as the selection does.
    void select_source(const PIPE_ASYNC_OTERM& key);
    const std::map<uint32_t, PIPE_ASYNC_CLIQUE*>& get_potential_cliques() const { return m_potential_cliques; }

private:
    void init_asynchronous_port_types();
    void init_reg_data_in_port();
    // Whether node takes asynchronous nets in this evaluation.
    bool is_destination_candidate(CDB_ATOM_NODE* node) const;
    bool is_in_locked_region(CDB_ATOM_NODE* node);
    void evaluate_source(CDB_ATOM_OTERM* source, bool locked, MSG_BASE* phase_msg);
    void drop_locked_source(CDB_ATOM_OTERM* source);
    int get_worst_fanout_slack(CDB_ATOM_OTERM* source) const;
    // The synchroniser register behind src_oterm; false with the reason
    // attached when there is none fit for pipelining.
    bool is_pipelineable_sync_register(CDB_ATOM_OTERM* src_oterm, MSG_BASE* msg);
    bool is_dont_touch(CDB_ATOM_OTERM* src_oterm, MSG_BASE* msg);
    bool is_constant_data_register(CDB_ATOM_NODE* node) const;
    void post_pending_warnings();
    void free_cliques();
    // Execution helpers.
    void drop_vanished_sources();
    bool choose_next_source();
    int get_worst_source_slack(const PIPE_ASYNC_OTERM& key);
    bool has_unplaced_destination();
    void skip_unpipelineable_source();
    void finish_current_source();
    void copy_timing_assignments();
    CDB_ATOM_NODE* create_chain_register(CDB_ATOM_ITERM*& dst_iterm, int x, int y);
    bool get_location(CDB_ATOM_NODE* node, int* x, int* y) const;
    void set_location(CDB_ATOM_NODE* node, int x, int y);
    void connect_like_synchroniser_clock(CDB_ATOM_NODE* reg);
    void move_destinations(CDB_ATOM_OTERM* src_oterm, CDB_ATOM_OTERM* reg_out,
                           const std::vector<CDB_ATOM_ITERM*>& dst_iterms);
    void clear_global_logged(CDB_ATOM_ITERM* iterm);
    void set_global_zero_logged(CDB_ATOM_ITERM* iterm);
    LOCATION_CELL& grid_cell(int x, int y) { return m_location_grid[static_cast<size_t>(x) * m_ny + y]; }
    bool in_grid(int x, int y) const { return x >= 0 && y >= 0 && x < m_nx && y < m_ny; }
    void clear_location_grid();
    void collect_uncovered(const PIPE_REG& candidate, std::vector<DST_REG>& found);
    void take_candidate(PIPE_REG& candidate, std::vector<DST_REG>& found, int& covered);
    void pull_cliques(PIPE_REG& candidate, const std::vector<PIPE_ASYNC_CLIQUE*>& cliques, int& covered);
    void release_effective_cliques();

    MORV_NET_UTIL* m_net_util = nullptr;
    int m_nx = 0;
    int m_ny = 0;
    bool m_family_supported = false;
    uint32_t m_state = STATE_IDLE;
    int m_pipeline_register_reach = 0;
    bool m_global_demotion = true;
    int m_slack_threshold = 250;
    std::vector<int> m_async_port_types;
    int m_reg_data_in_port = -1;
    PIPE_ASYNC_OTERM m_curr_source;
    MORV_OWNER<ASYNC_SOURCE> m_curr_async_source;
    // m_nx by m_ny cells, indexed [x * m_ny + y].
    std::vector<LOCATION_CELL> m_location_grid;
    std::vector<std::vector<PIPE_REG>> m_pipe_regs;
    int m_pipe_stage = 0;
    int m_total_registers = 0;
    MSG_POST* m_msg_i_late_fsyn_info = nullptr;
    MSG_POST* m_msg_i_late_fsyn_current_signal = nullptr;
    // Several keys may share one clique; the store owns each once.
    std::vector<MORV_OWNER<PIPE_ASYNC_CLIQUE>> m_clique_store;
    std::map<uint32_t, PIPE_ASYNC_CLIQUE*> m_potential_cliques;
    std::map<uint32_t, PIPE_ASYNC_CLIQUE*> m_effective_cliques;
    std::vector<MORV_OWNER<PIPE_ASYNC_CLIQUE>> m_effective_clique_store;
    std::vector<MSG_POST*> m_pending_warnings;
    // Sources met by the running evaluation, with the pass's port type.
    std::set<PIPE_ASYNC_OTERM> m_seen;
    // The dump switch, read once per destination test.
    bool m_dump_non_async_fanouts = false;
};
