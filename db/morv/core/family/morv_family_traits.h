#pragma once

// Everything the component knows about a device family, in one table keyed
// by the host's base family code (the DEV_FAMILY_* constants). Code asks the
// table a question ("does this family keep a change log?") instead of
// comparing family codes, so adding or changing a family touches one row.
// The classes of a family (flow driver, net utility, change log) are still
// classes of their own; the table only says which one a family gets.

#include "mem_alloc_sys.h"

#include <map>
#include <string>
#include <vector>

class MORV_ALGORITHM_BASE;
class MORV_API;
class MORV_ENV;
class MORV_EXPERT_INTERFACE;
class MORV_LOG;
class MORV_NET_UTIL;
class MORV_NETLIST_SWEEPER;
class CDB_ATOM_NETLIST;
struct MORV_DEFAULT_LISTS;

// One column of the user-option table: which algorithms a family's project
// settings may switch on beyond those every family has.
struct MORV_USER_OPTION_COLUMN
{
    bool m_ram_map;                  // RAM_MAP from the logic-to-memory setting
    bool m_resplit_for_fitting;      // RESPLIT also from the fitting setting (mask 48, else 32)
    bool m_reg_unpack_needs_switch;  // REG_UNPACK only with fsyn_reg_unpack_for_all_families
    bool m_lut_input_algorithms;     // LIR and INV_PUSH from the combinational-logic setting
    bool m_save_restore;             // SAVE_RESTORE always
};

// Which atoms of a LAB are its LUTs (chip-map LUT counts, region contents).
enum MORV_LAB_LUT_COUNT : int
{
    MORV_LAB_LUTS_UNKNOWN = 0,     // a family without a chip map: asking is an error
    MORV_LAB_LUTS_COMB_CELLS = 1,  // the combinational cells; registers count apart
    MORV_LAB_LUTS_EVERY_ATOM = 2,  // every atom: a logic cell holds LUT and register both
};

// How a family's flow driver answers the replay-log hooks.
enum MORV_REPLAY_HOOK : int
{
    MORV_REPLAY_NONE = 0,         // the flow driver's base answers (an internal error)
    MORV_REPLAY_SHARED = 1,       // the shared replay of a stored change log
    MORV_REPLAY_OWN = 2,          // the replay that legalises the netlist and remaps LUT inputs after
    MORV_REPLAY_UNREACHABLE = 3,  // never chosen by the mode selection; an internal error
};

// What a family's flow driver does differently from the others.
struct MORV_FAMILY_DRIVER_TRAITS
{
    const char* m_class_name;
    // The class built for each algorithm id; null: invalid id; "": nothing is
    // built; "-": nothing, with the REG_UNPACK line; "!": not supported.
    const char* const* m_algorithm_class_names;
    MORV_USER_OPTION_COLUMN m_user_options;
    bool m_sets_xicp;     // the constructor turns the experimental ICP on
    bool m_sets_nevra;    // the constructor turns the timing estimator on
    bool m_new_retiming;  // RTM may be the skew-driven engine
    MORV_REPLAY_HOOK m_replay;
    const char* m_unreachable_replay_text;  // the internal error of MORV_REPLAY_UNREACHABLE
    // The log-file check's message: the device the log is replayed on and
    // the one it was recorded on; null: the base check (an internal error).
    const char* m_replay_target_device;
    const char* m_replay_source_device;
    // The family's default lists and the rules around them.
    const MORV_DEFAULT_LISTS* m_default_lists;
    // The family chooses its flow mode itself: user options without the
    // fitting settings, and LUT-input remapping when nothing is asked for.
    bool m_own_mode_selection;
};

// The registers whose clock the retiming lower bound shifts.
enum MORV_LB_REGISTER_KIND : int
{
    MORV_LB_REGISTER_NONE = 0,       // none: the family has no retiming bound
    MORV_LB_REGISTER_LCELL_FF = 1,   // the logic-cell registers (is_lcell_ff)
    MORV_LB_REGISTER_FF = 2,         // the stand-alone registers (is_ff)
    MORV_LB_REGISTER_LOGIC_CELL = 3  // every logic cell: each may carry a register
};

// How the retiming lower bound reshapes interconnect delays before
// placement by slack ratio r: a delay is scaled by t * 2k + (1 - k), with
// t = 1 - (1 - r)^power, or by t * dsp_spread * k + (1 - dsp_offset * k)
// next to a DSP block. k halves from pass to pass and starts again at
// 0.25 after every fourth.
struct MORV_LB_SHAPE
{
    double m_power;
    double m_k;
    double m_dsp_spread;
    double m_dsp_offset;
};

// How timing treats a family.
struct MORV_FAMILY_TIMING_TRAITS
{
    double m_slack_ratio_skew;    // the analyser's raw ratio that slack-ratio queries answer as 0.125
    int m_guardband_late_ps;      // slack below which a connection is critical, in the LATE flow
    int m_guardband_ps;           // ... before it
    int m_syn_early_clock_type;   // clock-buffer atom type timing clock ports during SYN_EARLY; -1: the real source
    bool m_alm_internal_delay;    // internal delays only for ALM cells, averaged over its half-cells
    bool m_migration_fixes_seed;  // a migratable part of this family keeps timing off the placer seed
    int m_timing_data_family;     // the exported timing tables' family (MORV_TIMING_DATA_FAMILY_ENUM); 0: none
    MORV_LB_REGISTER_KIND m_lb_register;  // registers the retiming lower bound shifts
    MORV_LB_SHAPE m_lb_shape;             // the retiming lower bound's delay shaping
    bool m_ram_shift_registers;  // RAM blocks may form shift registers, which take optimal skews before placement
    // The most Boolean-division resynthesis may expect an output's slack
    // ratio to improve by resynthesizing its node; 0: no cap.
    double m_resyn_gain_cap;
};

struct MORV_FAMILY_TRAITS
{
    int m_base_family;  // the key: a DEV_FAMILY_* constant
    const char* m_name;

    // ---- cells
    int m_le_type;                     // WYSIWYG type of the logic elements counted for overuse
    int m_ff_type;                     // ... and of the registers
    int m_lut_size;                    // LUT inputs: 4 or 6; 0 for a family without a driver
    bool m_mask_bits_reversed;         // masks read at bit 63 - k (16-bit halves at 15 - k)
    bool m_one_cell_holds_lut_and_ff;  // a logic cell carries both LUT and register
    bool m_free_luts;                  // LUT cells may stand outside carry chains
    bool m_qfbk_cells;                 // cells with the register fed back into the LUT

    // ---- placement
    int m_lab_capacity;                  // atoms per LAB in the chip map of the placed flows; -1: no chip map
    MORV_LAB_LUT_COUNT m_lab_lut_count;  // which atoms of a LAB count as its LUTs
    int m_region_elements_per_lab;       // elements a LAB adds to a placement region's capacity
    bool m_placement_regions;            // locked and floating regions constrain the placement
    bool m_occupied_location_grid;       // the run driver keeps the occupied-location grid around iterations
    bool m_fl_cells;                     // structured-ASIC cells: FL ids, routing delays by drive strength
    bool m_mac_block_from_mac_out;       // a MAC multiplier sits where its MAC output does

    // ---- flows
    bool m_early_flow_at_synthesis;       // the early flow may run at SYN_EARLY
    bool m_fitting_flows;                 // user settings reach the cluster-retry flow; the density rule applies
    bool m_late_flow;                     // the LATE flow may run
    bool m_drc;                           // the netlist checks around a flow are supported
    bool m_back_annotation;               // atoms may count as back-annotated
    bool m_routing_estimate;              // ICP may use the routing estimate
    bool m_chle_lib;                      // the early flow initialises the host's cell library
    bool m_migration_stops_fitter_flows;  // a migratable part of this family turns the fitter flows off

    // ---- change log
    int m_migration_partner;  // the family a migration log pairs with; DEV_FAMILY_INVALID: no change log

    // ---- the family's classes; null where the family has none
    MORV_OWNER<MORV_EXPERT_INTERFACE> (*m_make_driver)(MORV_ENV* env);
    MORV_OWNER<MORV_NET_UTIL> (*m_make_net_util)(CDB_ATOM_NETLIST* netlist, MORV_API* api);
    MORV_OWNER<MORV_LOG> (*m_make_log)(MORV_API* api);
    MORV_OWNER<MORV_LOG> (*m_copy_log)(const MORV_LOG& log, MORV_API* api);
    MORV_OWNER<MORV_NETLIST_SWEEPER> (*m_make_sweeper)(MORV_API* api);
    const MORV_FAMILY_DRIVER_TRAITS* m_driver;

    // ---- timing
    MORV_FAMILY_TIMING_TRAITS m_timing;
};

// The row of a base family; a code without a row gets the row of a family the
// component knows nothing about (no classes, every rule off).
const MORV_FAMILY_TRAITS& morv_family_traits(int base_family);
// Whether the code has a row of its own.
bool morv_is_known_family(int base_family);
// Every row, for tests and reports; count receives their number.
const MORV_FAMILY_TRAITS* morv_family_traits_table(int* count);

// A family keeps a change log when it has a migration partner.
inline bool morv_family_keeps_change_log(const MORV_FAMILY_TRAITS& traits)
{
    return traits.m_make_log != nullptr;
}

// Debug checkpoints of the family count only where their caller allows it,
// and the stop point cannot save the family's netlist (it only dumps it).
bool morv_family_checkpoints_opt_in(const MORV_FAMILY_TRAITS& traits);

// The family whose device cannot build every cell the front end reads: its
// netlist is legalised once, before the first flow works on it.
bool morv_family_legalizes_entering_netlist(const MORV_FAMILY_TRAITS& traits);

// BDD resynthesis stops early near a lower-bound figure of merit, except in
// the one family whose timing the bound does not model.
bool morv_family_has_bdd_lower_bound(const MORV_FAMILY_TRAITS& traits);

// ---- local rewiring
// Distinct signals an ALE may read after a GREEDY rewiring exchange; 0 for
// no limit.
int morv_rwr_ale_signal_limit(int base_family);
// The RECURSIVE rewiring search leaves the unconnected inputs of carry-chain
// cells alone in this device family.
bool morv_rwr_keeps_chain_inputs(int family);

// ---- register unpacking
// How a family separates a register from the LUT it sits with.
enum MORV_REG_UNPACK_FORM : int
{
    MORV_REG_UNPACK_UNSUPPORTED = 0,
    MORV_REG_UNPACK_NOTHING = 1,           // registers are atoms of their own the placer moves freely
    MORV_REG_UNPACK_REPLACE_REGISTER = 2,  // the register is placed again in its LAB
    MORV_REG_UNPACK_SPLIT_CELL = 3,        // the LUT half of a logic cell moves to a new cell
};
MORV_REG_UNPACK_FORM morv_reg_unpack_form(int base_family);

// ---- classic retiming
// Which ways MAC (DSP) retiming may push registers in a family.
enum MORV_MAC_RETIMING : int
{
    MORV_MAC_RETIMING_NONE = 0,  // unsupported: MAC retiming stays off
    MORV_MAC_RETIMING_BOTH = 1,
    MORV_MAC_RETIMING_BACKWARD = 2,  // backward pushes only
};
MORV_MAC_RETIMING morv_rtm_mac_retiming(int base_family);
// How a family's DSP slices are shaped and which atoms a register pushed
// backward across a slice lands on.
enum MORV_MAC_SLICE_SHAPE : int
{
    MORV_MAC_SLICE_NONE = 0,       // no DSP retiming rules
    MORV_MAC_SLICE_ATOM = 1,       // 4 data ports, 4 slots; the pushed atom takes the register
    MORV_MAC_SLICE_ONE_MULT = 2,   // port 11 only, one slot; the register goes through the one multiplier
    MORV_MAC_SLICE_ALL_MULTS = 3,  // 4 data ports, 4 slots; pushes start at the output block
};
MORV_MAC_SLICE_SHAPE morv_rtm_mac_slice_shape(int base_family);
// Registers with a synchronous load are demuxed.
bool morv_rtm_demuxes_sload(int base_family);
// Retiming has a lower bound to stop at in this family.
bool morv_rtm_has_lower_bound(int base_family);
// A forward push ignores a VCC tie on data input D of an arithmetic-mode
// cell: the carry logic holds D there.
bool morv_rtm_ignores_arith_vcc_d(int base_family);
// A forward push ignores constant inputs of a high-speed adder.
bool morv_rtm_ignores_hsadder_constants(int base_family);

// Asynchronous pipelining: whether the family supports it; the asynchronous
// input port types searched for sources, in pass order (empty when
// unsupported); and the data input port of a register it creates (-1 when
// unsupported).
bool morv_pipe_async_supported(int base_family);
std::vector<int> morv_pipe_async_searched_ports(int base_family);
int morv_pipe_async_reg_data_in_port(int base_family);
// DSP blocks are destinations of asynchronous nets.
bool morv_pipe_async_has_dsp_destinations(int base_family);
// A destination in a locked region keeps its source from being pipelined.
bool morv_pipe_async_respects_locked_regions(int base_family);
// Destinations in one DSP block share a pipeline register, and a new
// register's clear is tied inactive.
bool morv_pipe_async_uses_cliques(int base_family);
// A pipeline register is a logic cell whose LUT passes its data input.
bool morv_pipe_async_uses_lcell_register(int base_family);
// The register reach comes from the routing delays of FL cells and is never
// below MORV_PIPE_ASYNC_MIN_FL_REACH (the device family code, not the base).
bool morv_pipe_async_reach_from_routing_delay(int family_code);
constexpr int MORV_PIPE_ASYNC_MIN_FL_REACH = 12;

// Why the family cannot run the algorithm with these parameters, in words
// naming both ("Invalid Algorithm entered: ..." for an id the family's table
// leaves empty, "Unsupported family: ..." for one it refuses); empty when it
// can.
std::string morv_family_algorithm_refusal(const MORV_FAMILY_TRAITS& traits, int algorithm_id,
                                          const std::map<std::string, std::string>& parameters);

// Builds the algorithm class of that name (a name of the driver traits'
// algorithm tables) into out; false when the class is not built yet.
bool morv_make_family_algorithm(const std::string& class_name, MORV_API* api,
                                const std::map<std::string, std::string>* params, MORV_OWNER<MORV_ALGORITHM_BASE>* out);
