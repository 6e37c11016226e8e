#pragma once

// Folding of retiming's control muxes back into register controls. Retiming
// turns a register's enable, synchronous clear and synchronous load into a
// LUT mux in front of its data input and records the mux in the facade's
// registry of demuxed nodes; REMUX visits the recorded muxes, recognises the
// enable / clear / load pattern in the mask and, where timing allows and the
// register's controls are free, wires the mux inputs to the register's ports
// again. The mux is left without fanout for the sweep to remove.
//
// The registry belongs to one facade: it is created and deleted with it, so
// two facades in one process never share or free each other's set.

#include <cstdint>
#include <map>
#include <set>
#include <string>

#include "cdb/cdb_types.h"

#include "mem_alloc_sys.h"
#include "morv/core/algorithm/morv_algorithm_base.h"

class MORV_NET_UTIL;
class CDB_ATOM_NODE;
class CDB_ATOM_ITERM;
class CDB_ATOM_OTERM;

typedef std::set<int> MORV_DEMUXED_NODE_SET;

// Why a registered mux was not folded.
enum MORV_REMUX_FAILURE : int
{
    MORV_REMUX_UNAVAILABLE_ITERMS = 0,
    MORV_REMUX_CRITICAL_MUX = 1,
    MORV_REMUX_NO_COMBOUT = 2,
    MORV_REMUX_MULTIPLE_FANOUT = 3,
    MORV_REMUX_NO_FANOUT_TO_DATAIN = 4,
    MORV_REMUX_NO_REG_ON_FANOUT = 5,
    MORV_REMUX_LUTMASK_CHECK = 6,
    MORV_REMUX_WRONG_FEEDBACK = 7,
    MORV_REMUX_FAILURE_COUNT = 8
};

struct MORV_REMUX_STATS
{
    MORV_REMUX_STATS();
    void add_failure(int reason);
    std::map<int, int> m_fail_counts;
    int m_failures = 0;
    int m_successes = 0;
};

// The recognised mux: input port types of the mux LUT, or no port.
struct MORV_REMUX_PATTERN
{
    int datain = DB_MAX_INPUT_PORT_TYPE;
    int feedback = DB_MAX_INPUT_PORT_TYPE;
    int ena = DB_MAX_INPUT_PORT_TYPE;
    bool ena_inverted = false;
    int sclr = DB_MAX_INPUT_PORT_TYPE;
    bool sclr_inverted = false;
    int sload = DB_MAX_INPUT_PORT_TYPE;
    bool sload_inverted = false;
    int sdata = DB_MAX_INPUT_PORT_TYPE;
    // "E'.-.L" and the like.
    std::string text() const;
};

constexpr int MORV_REMUX_LUT_INPUTS = 6;

class MORV_REMUX : public MORV_ALGORITHM_BASE
{
public:
    MORV_REMUX(MORV_API* api, const MORV_PARAMETER_MAP* params);
    ~MORV_REMUX() override;

    std::string get_short_name() override { return "REMUX"; }
    std::string get_description() override { return "remux algorithm"; }
    void set_default_algorithm_parameters(int& num_passes, int& icp_at_end, double& fom_to_accept,
                                          int& restore_netlist) override;
    void set_default_pass_parameters(int pass, int& num_iters, int& hill_climb_iters) override;
    int do_iter() override;

    // ---- the registry of a facade
    static MORV_OWNER<MORV_DEMUXED_NODE_SET> create_demuxed_nodes();
    static void add_demuxed_node(MORV_API* api, int node_id);
    static bool is_demuxed_node(MORV_API* api, CDB_ATOM_NODE* node);
    // At the start of each retiming run.
    static void clear_demuxed_nodes(MORV_API* api);

    // ---- steps, public for the tests
    // A connected data input's slack ratio is below the threshold; the
    // setting that switches the check off is read once per iteration.
    bool is_critical_mux(CDB_ATOM_NODE* mux);
    // The register whose data input the mux alone drives, else null.
    CDB_ATOM_NODE* get_register_behind(CDB_ATOM_NODE* mux) const;
    // When it succeeds, *reg_out (if given) is the register behind the mux.
    bool analyse_mux(CDB_ATOM_NODE* mux_node, MORV_REMUX_PATTERN* pm, CDB_ATOM_NODE** reg_out = nullptr);
    bool recognise_pattern(CDB_ATOM_NODE* mux, MORV_REMUX_PATTERN* pm) const;
    bool are_control_inputs_free(CDB_ATOM_NODE* reg, const MORV_REMUX_PATTERN& pm) const;
    void fold(CDB_ATOM_NODE* mux, CDB_ATOM_NODE* reg, const MORV_REMUX_PATTERN& pm);
    void print_report() const;
    const MORV_REMUX_STATS& get_stats() const { return m_stats; }
    bool is_mirroring() const { return m_mirror_lutmask; }

private:
    void add_failure(int reason, CDB_ATOM_NODE* mux);
    // The mux input feeding back the output of the register it drives, -1 for none.
    int find_feedback_input(CDB_ATOM_NODE* mux) const;
    // Connects the mux input's source to the register port (created when
    // missing) and copies the input's settings. invert: -1 keeps the copied
    // inversion; 0 or 1 is the control's polarity, which the register then
    // reads on top of what the mux input read.
    void move_input(CDB_ATOM_NODE* mux, int mux_port, CDB_ATOM_NODE* reg, int reg_port, int invert,
                    const char* names[4]);

    bool m_mirror_lutmask;
    MORV_NET_UTIL* m_net_util;
    MORV_REMUX_STATS m_stats;
};
