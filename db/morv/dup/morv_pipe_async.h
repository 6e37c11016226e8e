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
// the evaluation of the early flow (morv_pipe_async_eval.cpp), the report
// rows and table (morv_pipe_async_report.cpp).

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
    // The execution phase of the LATE flow is not built yet: nothing is
    // changed in any flow.
    int do_iter() override { return 0; }
    void finish_pass() override {}
    void finish_algorithm() override {}
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
    std::vector<MSG_POST*> m_pending_warnings;
    // Sources met by the running evaluation, with the pass's port type.
    std::set<PIPE_ASYNC_OTERM> m_seen;
    // The dump switch, read once per destination test.
    bool m_dump_non_async_fanouts = false;
};
