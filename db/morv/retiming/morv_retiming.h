#pragma once

// Classic register retiming ("RTM"): the family-independent object. It holds
// the run's parameters and switches, the register and signal records every
// push compares, the figure of merit and lower-bound test the run driver
// asks between iterations, and the small netlist edits every push is made
// of. Everything that depends on a family's cell architecture is a pure
// hook implemented by the family branches.
//
// Every ordered container of nodes or terms is ordered by
// DETERMINISTIC_LESS, and the hash sets iterate in insertion order, so no
// walk of this object depends on addresses.

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "cdb/cdb_types.h"
#include "mem_alloc_sys.h"
#include "morv/core/algorithm/morv_algorithm_base.h"
#include "morv/netlist/morv_deterministic.h"
#include "morv/netlist/morv_nt.h"

class MORV_NET_UTIL;
class MORV_OPT_SKEW;
class CDB_ATOM_NODE;
class CDB_ATOM_ITERM;
class CDB_ATOM_OTERM;
class CDB_LUTMASK;
class HDB_INSTANCE_NAME;

// A set that answers membership by hashing and iterates in insertion order.
// An erased element leaves a hole the iteration skips until the next clear.
template <typename T>
class RETIME_HASH_SET
{
public:
    class const_iterator
    {
    public:
        const_iterator(const std::vector<T>* order, size_t at) : m_order(order), m_at(at) { skip(); }
        T operator*() const { return (*m_order)[m_at]; }
        const_iterator& operator++()
        {
            ++m_at;
            skip();
            return *this;
        }
        bool operator!=(const const_iterator& other) const { return m_at != other.m_at; }
        bool operator==(const const_iterator& other) const { return m_at == other.m_at; }

    private:
        void skip()
        {
            while (m_at < m_order->size() && (*m_order)[m_at] == nullptr) ++m_at;
        }
        const std::vector<T>* m_order;
        size_t m_at;
    };

    // True when the element was not in the set before.
    bool insert(T element)
    {
        if (!m_position.emplace(element, m_order.size()).second) return false;
        m_order.push_back(element);
        return true;
    }
    bool erase(T element)
    {
        auto found = m_position.find(element);
        if (found == m_position.end()) return false;
        m_order[found->second] = nullptr;
        m_position.erase(found);
        return true;
    }
    bool contains(T element) const { return m_position.count(element) != 0; }
    size_t size() const { return m_position.size(); }
    bool empty() const { return m_position.empty(); }
    void clear()
    {
        m_order.clear();
        m_position.clear();
    }
    const_iterator begin() const { return const_iterator(&m_order, 0); }
    const_iterator end() const { return const_iterator(&m_order, m_order.size()); }

private:
    std::vector<T> m_order;
    std::unordered_map<T, size_t> m_position;
};

// One control input of a register. A signal whose term is absent or not
// connected keeps every field at its initial value. A constant is kept as
// its logical value (is_gnd / is_vcc); inverted is the term's own bit.
struct RETIME_SIGNAL
{
    CDB_ATOM_OTERM* source = nullptr;
    bool is_gnd = false;
    bool is_vcc = false;
    int global_type = 0;
    bool inverted = false;
    bool delay_chain_connected = false;
    bool use_delay_chain = false;
    bool user_delay_chain = false;
    int delay_chain_index = 0;
    int boundary_port_id = -1;

    bool operator==(const RETIME_SIGNAL& other) const = default;
};

// The five control inputs of a register, in this order.
enum RETIME_CONTROL : int
{
    RETIME_CLEAR = 0,
    RETIME_SYNCH_CLEAR,
    RETIME_SYNCH_LOAD,
    RETIME_CLOCK,
    RETIME_CLOCK_ENABLE,
    RETIME_NUM_CONTROLS
};

// The input port type of each control, by RETIME_CONTROL.
extern const int k_retime_control_ports[RETIME_NUM_CONTROLS];

// The description of one register that a push moves or creates.
struct RETIME_REG
{
    RETIME_SIGNAL signals[RETIME_NUM_CONTROLS];
    bool clear_low = true;  // powers up (and clears) to 0
    bool secondary_clear_low = true;
    HDB_INSTANCE_NAME* name = nullptr;  // of the register output
    int kardel_region = -1;
    // The rectangle (x1, y1, x2, y2) the register is locked to, all -1 when
    // free; over the registers a push replaces, the one they all share.
    int locked[4] = {-1, -1, -1, -1};
    CDB_ATOM_OTERM* regout = nullptr;
};

// ref keeps its locked region only when other shares it.
void morv_retiming_share_locked_region(RETIME_REG& ref, const RETIME_REG& other);

// An input term that is to receive a register.
struct RETIME_ITERM
{
    int slack = 0;  // ps
    CDB_ATOM_ITERM* iterm = nullptr;
    RETIME_REG reg;
    bool initial_condition = false;
};

// Terms with an initial condition first; between two driven terms the
// smaller source atom id, then the larger slack; last the terms' own order.
struct RETIME_ITERM_LESS
{
    bool operator()(const RETIME_ITERM& a, const RETIME_ITERM& b) const;
};

using RETIME_ITERM_SET = std::set<RETIME_ITERM, RETIME_ITERM_LESS>;
using RETIME_NODE_SET = std::set<CDB_ATOM_NODE*, DETERMINISTIC_LESS<CDB_ATOM_NODE*>>;
using RETIME_ITERM_ORDERED_SET = std::set<CDB_ATOM_ITERM*, DETERMINISTIC_LESS<CDB_ATOM_ITERM*>>;

// One DSP block as retiming sees it: the multipliers that drive the output
// block's data ports (1 to 4, ascending atom id), the output block and its
// mode. It holds plain pointers and lives for one iteration.
struct RETIME_MAC_SLICE
{
    std::vector<CDB_ATOM_NODE*> m_mac_mults;
    CDB_ATOM_NODE* m_mac_out = nullptr;
    int m_mode = 0;  // CUT_MAC_MODE_ENUM
};

// A multiplier and one of its operand ports, ordered by atom id and port.
struct RETIME_MAC_PORT_LESS
{
    bool operator()(const std::pair<CDB_ATOM_NODE*, int>& a, const std::pair<CDB_ATOM_NODE*, int>& b) const;
};
using RETIME_MAC_PORT_SET = std::set<std::pair<CDB_ATOM_NODE*, int>, RETIME_MAC_PORT_LESS>;
// The RAM atoms of one logical RAM whose port A output is registered, in
// netlist order; they are unpacked together, at most once per iteration.
struct MORV_RAM_SLICE
{
    std::string name;
    std::vector<CDB_ATOM_NODE*> nodes;
    bool unpacked = false;
};

// Parameter keys of retiming, read in this order.
#define MORV_RTM_PARAM_BETA "PBETA"
#define MORV_RTM_PARAM_ALPHA "PALPHA"
#define MORV_RTM_PARAM_EXIT "PEXIT"
#define MORV_RTM_PARAM_MIN_PASSES "SMINPASS"
#define MORV_RTM_PARAM_SKEW_THRESHOLD "STHR"
#define MORV_RTM_PARAM_CLOSE "PCLOSE"
#define MORV_RTM_PARAM_MAX_AGE "MAX_AGE"
#define MORV_RTM_PARAM_GREEDY_ITERS "GI"
#define MORV_RTM_PARAM_NO_LB "NO_LB"
#define MORV_RTM_PARAM_SKEW_MODE "SKEW_RTM"
#define MORV_RTM_PARAM_ALGORITHM "ALG"

class MORV_RETIMING : public MORV_ALGORITHM_BASE
{
public:
    // Node-tracking kind "not set" for m_fsyn_nt_op_type.
    static constexpr int s_NT_OP_UNSET = 13;
    static constexpr int s_DELAY_CHAIN = DB_DELAY_CHAIN_INPUT;

    MORV_RETIMING(MORV_API* api, const MORV_PARAMETER_MAP* params);
    ~MORV_RETIMING() override;

    // ---- algorithm base slots
    std::string get_short_name() override { return "RTM"; }
    std::string get_description() override { return "register retiming"; }
    void set_default_algorithm_parameters(int& num_passes, int& icp_at_end, double& fom_to_accept,
                                          int& restore_netlist) override;
    void set_default_pass_parameters(int pass, int& num_iters, int& hill_climb_iters) override = 0;
    void finish_algorithm() override;
    double compute_figure_of_merit() override;
    bool is_fom_close_to_optimal() override;
    bool use_itest() override { return true; }

    // ---- family hooks, in slot order
    virtual void collect_carry_chain_cone(CDB_ATOM_NODE* node, RETIME_NODE_SET& cone) = 0;
    virtual void collect_fanin_cone(CDB_ATOM_NODE* node, int port_type, RETIME_NODE_SET& cone, int depth) = 0;
    virtual void queue_for_demux(CDB_ATOM_NODE* node) = 0;
    virtual int run_demuxer() = 0;
    virtual bool is_lutout_feeding_regout(CDB_ATOM_NODE* node) = 0;
    virtual bool get_lutout_register(CDB_ATOM_NODE* node, RETIME_REG& reg) = 0;
    virtual CDB_ATOM_OTERM* get_secondary_output_term(CDB_ATOM_NODE* node) = 0;
    virtual CDB_ATOM_OTERM* get_hsadder_output_term(CDB_ATOM_NODE* node) = 0;
    virtual CDB_ATOM_OTERM* backward_push_get_reg(CDB_ATOM_ITERM* iterm, RETIME_REG& reg, bool flag) = 0;
    virtual bool create_input_registers(CDB_ATOM_NODE* node, RETIME_REG& reg, bool& carry_low_ret,
                                        bool& share_low_ret) = 0;
    virtual void get_forward_push_ports(CDB_ATOM_NODE* node, int& count, int* port_types) = 0;
    virtual bool is_free_data_input(CDB_ATOM_NODE* node, CDB_ATOM_ITERM* iterm, int port_type) = 0;
    virtual bool is_excluded_iterm(CDB_ATOM_ITERM* iterm) = 0;
    virtual bool get_input_register(CDB_ATOM_ITERM* iterm, RETIME_REG& reg) = 0;
    virtual bool create_output_registers(CDB_ATOM_NODE* node, RETIME_REG& reg, bool& carry_low_ret,
                                         bool& share_low_ret) = 0;
    virtual bool is_push_allowed(CDB_ATOM_NODE* node) = 0;
    virtual bool has_extra_input(CDB_ATOM_NODE* node) = 0;
    // A wire LUT whose output complements what its input term reads; the
    // term's inversion bit is the caller's to fold in.
    virtual bool is_inverting_wire_lut(CDB_ATOM_NODE* node);
    virtual bool is_register_complex(CDB_ATOM_NODE* node, bool flag) = 0;
    virtual bool has_register_feedback(CDB_ATOM_NODE* node) = 0;
    virtual void add_retime_iterm(const RETIME_REG& reg, CDB_ATOM_NODE* node, int port_type,
                                  bool initial_condition) = 0;
    virtual bool is_inverter_lut(CDB_ATOM_NODE* node) = 0;
    virtual bool is_retimeable_iterm(CDB_ATOM_ITERM* iterm) = 0;
    virtual void remove_register(CDB_ATOM_NODE* node) = 0;
    virtual void disconnect_register(CDB_ATOM_ITERM* iterm) = 0;
    virtual void add_register_on_output(CDB_ATOM_OTERM* oterm, const RETIME_REG& reg) = 0;
    virtual void insert_register(const RETIME_ITERM& retime_iterm) = 0;
    // Afterwards the term is driven by a new inverting cell that reads the
    // term's former source.
    virtual void insert_inverter_lcell(CDB_ATOM_ITERM* iterm) = 0;
    virtual void insert_buffer_lcell(CDB_ATOM_ITERM* iterm) = 0;
    virtual void delete_node(CDB_ATOM_NODE* node) = 0;
    virtual bool has_critical_input(CDB_ATOM_NODE* node) = 0;
    virtual bool oslack_less_islack(CDB_ATOM_NODE* node, double margin, bool forward) = 0;

    // ---- the iteration (morv_retiming_iter.cpp)
    int do_iter() override;
    void topological_sort();
    RETIME_HASH_SET<CDB_ATOM_NODE*>& build_critical_set(RETIME_HASH_SET<CDB_ATOM_NODE*>& set);
    int retime_critical_nodes(std::vector<CDB_ATOM_NODE*> list);
    int run_demux_pass();

    // ---- the skew-driven loop (morv_retiming_skew.cpp)
    // The moves the optimal skews ask for, over the iteration's critical
    // set; answers the number of modifications.
    int skew_retime(const RETIME_HASH_SET<CDB_ATOM_NODE*>& crit);
    // One push of a cell or DSP block in the direction m_retime_backwards.
    int retime_node(CDB_ATOM_NODE* node);

    // ---- register pushes (morv_retiming_push.cpp)
    // Both take a carry chain's head (or a cell outside a chain); true when
    // the push was committed.
    bool backward_push(CDB_ATOM_NODE* node);
    bool forward_push(CDB_ATOM_NODE* node);
    bool collect_output_register(CDB_ATOM_NODE* node, RETIME_REG& reg_ret);
    bool first_fanout_register(CDB_ATOM_OTERM* oterm, RETIME_REG& reg, bool mac_check);
    bool all_fanouts_compatible(CDB_ATOM_NODE* node, CDB_ATOM_OTERM* oterm, RETIME_REG& ref);
    bool collect_input_register(CDB_ATOM_NODE* node, RETIME_REG& reg);
    bool is_register_compatible(RETIME_REG& a, RETIME_REG& b);
    void alias_regout(CDB_ATOM_OTERM* new_oterm, CDB_ATOM_OTERM* old_oterm);
    CDB_ATOM_OTERM* resolve_regout(CDB_ATOM_OTERM* oterm);
    void reset_push();
    void prepare_commit();
    void commit();

    // ---- RAM output registers (morv_retiming_ram.cpp)
    void build_ram_slices();
    void add_ram_to_slice(CDB_ATOM_NODE* node);
    bool is_ram_output_critical(CDB_ATOM_NODE* node);
    bool unpack_ram_slice(MORV_RAM_SLICE* slice);
    bool unpack_ram_output_registers(CDB_ATOM_NODE* node);
    const std::map<std::string, MORV_RAM_SLICE>& get_ram_slices() const { return m_rams; }

    // ---- DSP slices and push eligibility (morv_retiming_mac_slice.cpp)
    void build_mac_slices();
    RETIME_MAC_SLICE* find_mac_slice(CDB_ATOM_NODE* mac);
    const std::vector<RETIME_MAC_SLICE>& get_mac_slices() const { return m_mac_slices; }
    bool is_retimeable_mac(CDB_ATOM_NODE* mac);
    bool is_retimeable_mac_mult(CDB_ATOM_NODE* mac);
    bool is_retimeable_mac_out(CDB_ATOM_NODE* mac);
    bool mac_oslack_less_islack(CDB_ATOM_NODE* mac, int port_type, double margin, bool use_threshold);
    double get_mac_output_slack_ratio(CDB_ATOM_NODE* mac);
    double get_mac_input_slack_ratio(CDB_ATOM_NODE* mac, int port_type);
    bool has_critical_mac_input(CDB_ATOM_NODE* mac);
    bool is_mac_output_critical(CDB_ATOM_NODE* mac);
    bool is_mac_clock_used(CDB_ATOM_NODE* mac, int clock_index);
    bool is_mac_clear_used(CDB_ATOM_NODE* mac, int clear_index);
    int get_num_mac_out_data_ports();
    int get_num_mac_clock_ports();
    // One visit of the core to a DSP atom: the pushes of the iteration's
    // direction, in order. The output block is unpacked only when its
    // output is critical, which the main loop asks (ask_output_critical)
    // and the single-node entry does not. Answers the pushes done.
    int retime_mac_node(CDB_ATOM_NODE* mac, bool ask_output_critical);

    // ---- DSP register pushes (morv_retiming_mac_push.cpp, morv_retiming_mac_pack.cpp)
    int mac_backward_push(CDB_ATOM_NODE* mac);
    bool mac_forward_push(CDB_ATOM_NODE* mac);
    bool mac_out_forward_push(CDB_ATOM_NODE* mac);
    void register_mac_inputs(CDB_ATOM_NODE* mac, RETIME_NODE_SET& mults, const RETIME_REG& reg);
    void add_mac_output_register(CDB_ATOM_NODE* mac, const RETIME_REG& reg);
    void add_mac_mult_output_registers(CDB_ATOM_NODE* mac, const RETIME_REG& reg);
    void add_mac_out_output_registers(CDB_ATOM_NODE* mac, RETIME_MAC_SLICE* slice, const RETIME_REG& reg);
    void unregister_mac_mult_inputs(CDB_ATOM_NODE* mac, const std::vector<CDB_ATOM_NODE*>& mults, bool all);
    void unregister_mac_mult_outputs(CDB_ATOM_NODE* mac, const std::vector<CDB_ATOM_NODE*>& mults, bool all);
    bool collect_mac_slice_input_registers(CDB_ATOM_NODE* mac);
    bool collect_mac_mult_input_registers(CDB_ATOM_NODE* mult);
    void retime_mac_input_port(CDB_ATOM_NODE* mult, int port_type);
    void unregister_mac_input_port(CDB_ATOM_NODE* mult, int port_type);
    // Something reads the port's packed input register at its observable
    // outputs. The design takes the register out of the block and removes
    // those outputs whoever reads them; here such a register refuses the
    // push: its readers would be left undriven, since nothing the push makes
    // stands for the register's value there.
    bool is_packed_input_read(CDB_ATOM_NODE* mult, int port_type);
    // The packed input register of a multiplier operand, seen at the port's
    // observable output of the same bit; null when the port has none or may
    // not give it up. branch names the caller in the log lines.
    CDB_ATOM_OTERM* get_packed_input_register(CDB_ATOM_ITERM* iterm, RETIME_REG& reg, const char* branch);
    bool collect_mac_input_register(CDB_ATOM_NODE* mult, RETIME_REG& reg, int port_type);
    bool mac_inputs_have_slack(CDB_ATOM_NODE* mult, int port_type);

    // ---- single steps for the manual-operations driver
    // (morv_retiming_single.cpp); each answers whether it did anything.
    bool single_backward_push(uint32_t atom_id);
    bool single_forward_push(uint32_t atom_id);
    bool single_demux(uint32_t atom_id);
    bool single_split(uint32_t atom_id);

    // ---- node splitting (morv_retiming_split.cpp)
    int split_nodes();
    // The copies a split would make, counted up to `limit` (a traced run
    // counts them all, as its trace names every register read).
    int count_split_copies(const std::vector<CDB_ATOM_ITERM*>& fanouts, int limit);
    int split_node(CDB_ATOM_NODE* node, const std::vector<CDB_ATOM_ITERM*>& fanouts);

    // ---- register records (morv_retiming_records.cpp)
    RETIME_REG describe_register(CDB_ATOM_NODE* node);
    RETIME_SIGNAL capture_signal(CDB_ATOM_NODE* node, int port_type);
    RETIME_SIGNAL capture_mac_signal(CDB_ATOM_ITERM* iterm);
    // The term's source, constant and properties, connected or not; the
    // boundary port is left unset.
    static RETIME_SIGNAL read_term_signal(CDB_ATOM_ITERM* iterm);

    // ---- wire LUTs and inputs (morv_retiming_query.cpp)
    // A cell with one connected LUT input, driven, whose function (ties,
    // an absent carry-in and all, as written) passes that input on or
    // complements what it reads; its input, or null for any other cell.
    CDB_ATOM_ITERM* find_wire_input(CDB_ATOM_NODE* node, bool* complements_ret);
    bool is_wire_lut(CDB_ATOM_NODE* node);
    CDB_ATOM_ITERM* get_wire_lut_input(CDB_ATOM_NODE* node);
    // A wire LUT whose output is the complement of its input's source.
    bool inverts_its_source(CDB_ATOM_NODE* node);
    // A cell of at most one connected LUT input, no carry or extra input,
    // that outputs 1 whatever its driven input, if any, reads.
    bool holds_constant_one(CDB_ATOM_NODE* node);
    // A cell with no carry or extra input and at most one connected LUT
    // input: true, with that input (null when none) in *in_ret.
    bool has_lone_lut_input(CDB_ATOM_NODE* node, CDB_ATOM_ITERM** in_ret);
    int count_connected_data_inputs(CDB_ATOM_NODE* node);
    bool has_carry_connection(CDB_ATOM_NODE* node);
    bool feeds_control_of(CDB_ATOM_NODE* node, CDB_ATOM_NODE* src_node);

    // ---- term edits (morv_retiming_edit.cpp)
    void apply_saved_invert(CDB_ATOM_ITERM* iterm);
    void disconnect_iterm(CDB_ATOM_ITERM* iterm);
    void disconnect_iterm_and_port(CDB_ATOM_ITERM* iterm);
    // The term no longer serves as port_type (logged); bindings keyed by
    // its usage must go before.
    void clear_iterm_usage(CDB_ATOM_ITERM* iterm, int port_type);
    // Moves the term onto new_source, keeping its inversion bit.
    void move_iterm(CDB_ATOM_ITERM* iterm, CDB_ATOM_OTERM* new_source);
    // Puts a new one-input cell, placed at base_node, between the term and its
    // source; the cell's input takes the term's properties but its inversion and
    // boundary port, which stay with the term.
    void wire_cell_in_front_of(CDB_ATOM_ITERM* iterm, CDB_ATOM_NODE* base_node, CDB_ATOM_NODE* cell,
                               const CDB_LUTMASK& mask);
    void copy_iterm_connection(CDB_ATOM_ITERM* siterm, CDB_ATOM_ITERM* fiterm);
    void connect_register_input(CDB_ATOM_NODE* node, const RETIME_SIGNAL& signal, int port_type, int index);
    void invert_iterm(CDB_ATOM_ITERM* iterm);
    void invert_fanouts(CDB_ATOM_OTERM* oterm, const std::vector<CDB_ATOM_ITERM*>& iterms);

    // ---- placement and tracking (morv_retiming_query.cpp)
    void copy_location(CDB_ATOM_NODE* loc_node, CDB_ATOM_NODE* new_node);
    void record_tracking(CDB_ATOM_NODE* new_node, int operation_kind);

    // ---- queries (morv_retiming_query.cpp)
    bool is_input_critical(CDB_ATOM_NODE* node, int port_type);
    int get_iterm_slack(CDB_ATOM_ITERM* iterm);
    bool next_input_subset(uint32_t* current_index);
    CDB_LUTMASK get_lutmask_4(CDB_ATOM_NODE* node);

    // ---- helpers of the family hooks (morv_retiming_helpers.cpp)
    CDB_ATOM_NODE* find_reference_lcell(CDB_ATOM_ITERM* iterm);
    void reset_neighbour_mobilities(CDB_ATOM_NODE* node);
    bool is_critical_by_slack(CDB_ATOM_NODE* node);
    bool can_demux_enable(CDB_ATOM_NODE* node);
    // The input a register takes its next value from when neither clear nor
    // a real synchronous load acts: DB_SYNCH_DATA when the synchronous load
    // is tied to logical VCC (the register always loads), else the data
    // input. Null when that term does not exist.
    CDB_ATOM_ITERM* get_effective_data_input(CDB_ATOM_NODE* node) const;
    bool is_sload_always(CDB_ATOM_NODE* node) const;
    // The value an input sees when what drives it holds reg_value.
    static unsigned seen_value(CDB_ATOM_ITERM* iterm, unsigned reg_value);
    // Sets a term to a logical constant with its inversion bit clear.
    void tie_to_constant(CDB_ATOM_ITERM* iterm, bool vcc);
    // Reconnects term to what source_iterm reads (its source exclusive-or
    // its inversion bit, or its constant; an unconnected input reads 0),
    // keeping term's own inversion on top.
    void reconnect_to_value_of(CDB_ATOM_ITERM* term, CDB_ATOM_ITERM* source_iterm);
    // A LUT or register data input takes an inversion on its own bit; any
    // other input gets an inverter cell in front.
    void invert_value_of(CDB_ATOM_ITERM* iterm);

    // ---- state, for the run driver's later parts and the tests
    int get_max_age() const { return m_max_age; }
    int get_greedy_iterations() const { return m_greedy_iterations; }
    int get_skew_threshold() const { return m_skew_threshold; }
    int get_pclose() const { return m_pclose; }
    int get_lb_fom() const { return m_lb_fom; }
    bool is_greedy() const { return m_greedy; }
    bool is_skew_mode() const { return m_skew_mode; }
    bool is_no_lb() const { return m_no_lb; }
    bool is_icp_at_end_pending() const { return m_icp_at_end_pending; }
    bool is_mac_retiming_enabled() const { return m_mac_retiming_enabled; }
    bool are_mac_forward_pushes_enabled() const { return m_mac_forward_pushes; }
    bool are_mac_backward_pushes_enabled() const { return m_mac_backward_pushes; }
    bool is_sload_demuxing() const { return m_sload_demuxing; }
    bool is_sload_push() const { return m_sload_push; }
    bool is_ram_retiming_enabled() const { return m_ram_retiming_enabled; }
    bool is_retime_side_clocks() const { return m_retime_side_clocks; }
    bool is_location_copying_disabled() const { return m_disable_location_copying; }
    int get_created_node_count() const { return m_created_node_count; }
    // Fanout terms read to count the copies of splits, over the run.
    long get_split_fanouts_read() const { return m_split_fanouts_read; }
    // Carry-chain cones collected for the critical sets, over the run.
    int get_chain_cones_collected() const { return m_chain_cones_collected; }
    MORV_OPT_SKEW* get_opt_skew() const { return m_opt_skew.get(); }
    const RETIME_HASH_SET<CDB_ATOM_ITERM*>& get_touched_iterms() const { return m_touched_iterms; }
    const RETIME_HASH_SET<CDB_ATOM_NODE*>& get_live_nodes() const { return m_live_nodes; }
    const RETIME_ITERM_SET& get_planned_iterms() const { return insert_set1; }
    const std::map<CDB_ATOM_OTERM*, RETIME_REG, DETERMINISTIC_LESS<CDB_ATOM_OTERM*>>& get_output_registers() const
    {
        return m_output_registers;
    }
    const RETIME_HASH_SET<CDB_ATOM_NODE*>& get_demux_queue() const { return m_demux_queue; }
    const RETIME_HASH_SET<CDB_ATOM_NODE*>& get_new_registers() const { return m_new_registers; }

protected:
    // The single way a connection is re-created on a term: a constant as
    // its logical value with the inversion bit clear, otherwise the source
    // (when there is one) with the inversion bit; never a constant and an
    // inversion bit on top of it. The properties follow the connection.
    void recreate_connection(CDB_ATOM_ITERM* iterm, const RETIME_SIGNAL& signal);
    // The delay-chain reset and global clear that follow an inversion.
    void clear_inverted_term_routing(CDB_ATOM_ITERM* iterm);
    // Every setting of delay chain 8 off the term, logged.
    void reset_term_delay_chain(CDB_ATOM_ITERM* iterm);
    // Toggles the inversion bit, logged.
    void toggle_invert(CDB_ATOM_ITERM* iterm);
    // An inverter in front of a tied term is the opposite tie: true when the
    // term was flipped so, and no cell is needed.
    bool flip_tied_term(CDB_ATOM_ITERM* iterm);
    // The node an inverter cell in front of the term is named and placed
    // after: the term's own when it is a logic cell of the family's kind,
    // else its source's when that is one.
    static CDB_ATOM_NODE* inverter_base_node(CDB_ATOM_ITERM* iterm, bool (CDB_ATOM_NODE::*is_logic_cell)() const);

    // ---- shared by the families whose registers stand beside their LUT
    // cells (morv_retiming_helpers.cpp, morv_retiming_edit.cpp)
    // The node's short hierarchy path for a log line ("?" when unnamed);
    // valid until the next call on the same thread.
    static const char* path_of(CDB_ATOM_NODE* node);
    // A copy of the term's fanouts, for edits that move them.
    static std::vector<CDB_ATOM_ITERM*> fanouts_of(CDB_ATOM_OTERM* oterm);
    // Equal signals on every control and the same power-up value.
    static bool same_controls(const RETIME_REG& a, const RETIME_REG& b);
    // The constant a register on a constant term must hold: the term's
    // logical value, complemented when the register powers up to 1 (the
    // term then reads the register through an inversion).
    static bool constant_data_value(CDB_ATOM_ITERM* iterm, bool clear_low);
    // The slack comparison of a register: its data input's slack ratio
    // against the least over its output's fanouts, plus the margin, with
    // the pass's threshold shortcut. A family whose cells compare other
    // inputs keeps its own oslack_less_islack.
    bool register_oslack_less_islack(CDB_ATOM_NODE* node, double margin, bool threshold);
    // The record of a register as the value the cell in front of it must
    // produce: a data-input inversion, or the inversion of a wire LUT on the
    // way (extra_invert), flips its power-up value.
    RETIME_REG describe_pushed_register(CDB_ATOM_NODE* reg_node, bool extra_invert);
    // A register made for model (named from base_name when there is one)
    // with its data input, which joins the touched terms, and its output.
    CDB_ATOM_NODE* create_new_register(CDB_ATOM_NODE* model, HDB_INSTANCE_NAME* base_name, CDB_ATOM_ITERM*& data,
                                       CDB_ATOM_OTERM*& out);
    // An inserted register joins the kardel region of the register it comes
    // from. The design sets the source's region whenever it differs, none
    // (-1) included; here a source in no region leaves the register where it
    // is: a region is joined by copying the assignments of a node in it, -1
    // has no such node (the facade stops on it), and a reused register would
    // lose its own region. A new register is in none anyway.
    void take_source_kardel_region(CDB_ATOM_NODE* reg_node, const RETIME_REG& source);
    // A register made from registers that share a locked region is locked
    // to it as well: the user placed them there, and the lock would go
    // without a word with the registers that held it.
    void take_source_locked_region(CDB_ATOM_NODE* reg_node, const RETIME_REG& source);
    // The mux cell's input of that port (setting the mask may have made it
    // already), among the touched terms.
    CDB_ATOM_ITERM* create_mux_input(CDB_ATOM_NODE* mux, int port_type);
    // to reads from's driver with from's saved properties, the inversion bit
    // only with keep_invert; with move_port from's boundary port goes to to,
    // else to stands for none and from keeps its own.
    void take_driver_of(CDB_ATOM_ITERM* from, CDB_ATOM_ITERM* to, bool keep_invert, bool move_port = true);
    // A new register holds the constant term's value (data ties to it) and
    // the term reads the register, its inversion bit cleared where the
    // design keeps it: the constant carried its inversion in its logical
    // value.
    void hold_constant_in_register(CDB_ATOM_ITERM* term, CDB_ATOM_ITERM* data, CDB_ATOM_OTERM* out, bool clear_low);
    // What every register a push creates takes from its record: the clear,
    // synchronous clear, clock and enable (an enable at VCC stays
    // unconnected), the pushed register's timing assignments, its origin
    // (record_register_origin), a place among the new registers and the
    // next age.
    void finish_new_register(CDB_ATOM_NODE* reg_node, const RETIME_REG& reg);
    // The term reads an equal register a push made or found earlier; a
    // constant term, whose value that register holds, drops its inversion.
    void take_reused_register(CDB_ATOM_ITERM* term, CDB_ATOM_NODE* reg_node);
    // The new register's output stands for the pushed register's output, or
    // for what that one stands for when it is new itself.
    void record_register_origin(CDB_ATOM_OTERM* new_out, CDB_ATOM_OTERM* pushed_out);
    // The origins name the outputs of pushed registers, which a push only
    // removes: they live on without fanout until the demux pass deletes
    // them. The ordered map compares its keys through their atoms, and its
    // answers are compared for timing, so it must not hold a deleted output
    // even for a lookup. It is therefore forgotten at the start of every
    // iteration and in the demux pass before the first register is deleted;
    // only the pushes and the node splits of the iteration, which come
    // before, consult it.
    void forget_register_origins();
    // Steps of the constructor.
    void read_mac_settings();
    void read_parameters();
    void start_skew_mode(double alpha, double exit, double beta, int min_passes);
    void log_status_lines() const;
    bool is_logging() const;
    // Steps of the pushes and the iteration.
    bool passes_age_test(CDB_ATOM_NODE* reg_node);
    bool reuses_secondary_signal(const RETIME_REG& ref) const;
    bool check_fanout_register(CDB_ATOM_ITERM* fiterm, RETIME_REG& ref, bool& first);
    bool read_input_registers(CDB_ATOM_NODE* node, const int* ports, int count, RETIME_REG& ref, bool& mismatch,
                              int& connected);
    bool rewalk_input_registers(CDB_ATOM_NODE* node, const int* ports, int count, RETIME_REG& ref);
    void queue_input_sources_for_demux(CDB_ATOM_NODE* node, const int* ports, int count);
    CDB_ATOM_ITERM* forward_port_term(CDB_ATOM_NODE* node, int port_type);
    void clear_forward_collection();
    void visit_critical(CDB_ATOM_NODE* root);
    // Pushes a logic cell, or the carry chain it is in from its head, in the
    // direction m_retime_backwards; true when the push was committed.
    bool push_cell(CDB_ATOM_NODE* cell);
    bool is_critical_candidate(CDB_ATOM_NODE* node) const;
    CDB_ATOM_NODE* make_split_copy(CDB_ATOM_NODE* node, const char* node_text, const char* oterm_text);
    // Steps of the single-step operations.
    CDB_ATOM_NODE* find_single_step_atom(uint32_t atom_id);
    bool accepts_single_step(CDB_ATOM_NODE* node);
    bool report_single_step(int operations);
    bool single_push(uint32_t atom_id, bool backwards);
    // Steps of the skew-driven loop. The skews and the candidate heap of an
    // iteration come from compute_skew_candidates, which tests replace to
    // choose the candidates themselves.
    struct SKEW_SHORTENED;
    static constexpr double s_SKEW_FAILURE_RATE = 0.2;  // mobility kept after a failed move
    virtual void compute_skew_candidates();
    int retime_skew_candidates(const RETIME_HASH_SET<CDB_ATOM_NODE*>& crit);
    int skew_forward_move(CDB_ATOM_NODE* node, const RETIME_HASH_SET<CDB_ATOM_NODE*>& crit, SKEW_SHORTENED& shortened);
    int skew_backward_move(CDB_ATOM_NODE* node, const RETIME_HASH_SET<CDB_ATOM_NODE*>& crit, SKEW_SHORTENED& shortened);
    std::vector<CDB_ATOM_NODE*> skew_forward_list(CDB_ATOM_NODE* node);
    int push_skew_target(CDB_ATOM_NODE* node, const RETIME_HASH_SET<CDB_ATOM_NODE*>& crit);
    int shorten_shift_register(CDB_ATOM_NODE* ram, bool on_output, SKEW_SHORTENED& shortened);
    void skew_move_failed(CDB_ATOM_NODE* node, bool backward);
    // Steps of DSP retiming.
    int mac_slice_shape() const;
    bool mac_out_inputs_allow_backward_push(CDB_ATOM_NODE* mac);
    RETIME_REG describe_mac_register(CDB_ATOM_NODE* mac, int clock_index, int clear_index, CDB_ATOM_OTERM* regout);
    void remove_unused_mac_controls(CDB_ATOM_NODE* mac, int clock_index, int clear_index);
    bool find_mac_register_slots(CDB_ATOM_NODE* mac, const RETIME_REG& reg, int& clock_slot, int& clear_slot,
                                 int& empty_clock, int& empty_clear);
    bool has_mac_output_slot(CDB_ATOM_NODE* mac, const RETIME_REG& reg);
    bool mac_powers_up_to_zero(CDB_ATOM_NODE* mac);
    bool is_single_mult_slice(RETIME_MAC_SLICE* slice);
    bool mults_feed_only_mac_out(RETIME_MAC_SLICE* slice);
    bool take_packed_output_register(CDB_ATOM_NODE* mac, RETIME_REG& reg, bool edit);
    bool gather_mac_input_registers(CDB_ATOM_NODE* mac, RETIME_REG& reg, bool through);
    bool gather_mac_operand_register(CDB_ATOM_NODE* mac, int port_type, RETIME_REG& reg,
                                     MORV_NT_NODE_ID_LIST& gathered);
    bool gather_mac_pipeline_registers(RETIME_MAC_SLICE* slice, RETIME_REG& reg);
    bool collect_mac_fanout_registers(CDB_ATOM_NODE* mac, RETIME_REG& reg);
    void record_mac_nt(const MORV_NT_NODE_ID_LIST& from, const MORV_NT_NODE_ID& to, int type);
    // Steps of RAM retiming.
    bool unpack_ram_at_node(CDB_ATOM_NODE* node);
    RETIME_REG describe_ram_output_register(CDB_ATOM_NODE* node, CDB_ATOM_OTERM* oterm);
    RETIME_SIGNAL capture_ram_clear(CDB_ATOM_NODE* node, int port_type);

    int m_push_max_age = -1;
    int m_max_age = 0;
    std::map<int, int> m_register_age;
    bool m_saved_invert = false;
    double m_trade = 0.0;
    int m_max_critical_slack = 0;
    bool m_greedy = false;
    bool m_mac_retiming_enabled = false;
    bool m_mac_forward_pushes = true;
    bool m_mac_backward_pushes = true;
    double m_mac_slack_threshold = 0.05;
    bool m_retime_backwards = true;
    RETIME_ITERM_SET m_insert_list0;
    RETIME_ITERM_SET m_insert_list1;
    RETIME_HASH_SET<CDB_ATOM_NODE*> m_remove_set;
    RETIME_HASH_SET<CDB_ATOM_ITERM*> m_new_register_iterms;
    RETIME_ITERM_SET insert_set0;
    RETIME_ITERM_SET insert_set1;
    RETIME_HASH_SET<CDB_ATOM_NODE*> delete_set0;
    int m_created_node_count = 0;
    long m_split_fanouts_read = 0;
    int m_chain_cones_collected = 0;
    RETIME_HASH_SET<CDB_ATOM_ITERM*> m_touched_iterms;
    RETIME_HASH_SET<CDB_ATOM_NODE*> m_live_nodes;
    RETIME_HASH_SET<CDB_ATOM_NODE*> m_split_set;
    RETIME_HASH_SET<CDB_ATOM_NODE*> m_demux_queue;
    RETIME_HASH_SET<CDB_ATOM_NODE*> m_inverted_nodes;
    RETIME_HASH_SET<CDB_ATOM_NODE*> m_new_registers;
    std::map<CDB_ATOM_OTERM*, CDB_ATOM_OTERM*, DETERMINISTIC_LESS<CDB_ATOM_OTERM*>> m_regout_alias;
    bool m_has_current_register = false;
    RETIME_REG m_current_register;
    MORV_NET_UTIL* m_net_util = nullptr;
    int m_num_lut_inputs = 4;
    bool m_icp_at_end_pending = false;
    std::vector<uint32_t> m_visit_state;
    std::vector<RETIME_MAC_SLICE> m_mac_slices;
    std::vector<CDB_ATOM_NODE*> m_topological_order;
    RETIME_MAC_PORT_SET m_mac_pending;
    RETIME_HASH_SET<CDB_ATOM_ITERM*> m_mac_iterms;
    RETIME_ITERM_ORDERED_SET m_iterms_to_disconnect;
    std::map<CDB_ATOM_OTERM*, RETIME_REG, DETERMINISTIC_LESS<CDB_ATOM_OTERM*>> m_output_registers;
    RETIME_NODE_SET m_registers_to_check;
    // Cells a register removal left as wire LUTs in this iteration.
    RETIME_NODE_SET m_wire_luts;
    int m_lb_fom = 0;
    int m_pclose = 100;
    bool m_no_lb = false;
    bool m_sload_push = false;
    bool m_retime_side_clocks = false;
    bool m_disable_location_copying = false;
    bool m_ram_retiming_enabled = false;
    std::map<std::string, MORV_RAM_SLICE> m_rams;
    MORV_NT_NODE_ID_LIST m_consumed_register_ids;
    std::string m_operation_text = "NOPE";
    int m_fsyn_nt_op_type = s_NT_OP_UNSET;
    bool m_skew_mode = false;
    int m_skew_threshold = 100;
    MORV_OWNER<MORV_OPT_SKEW> m_opt_skew;
    bool m_sload_demuxing = false;
    int m_greedy_iterations = 0;
};
