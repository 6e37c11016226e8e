#pragma once

// The RAM-based shift-register manager: which RAM blocks, with the counter
// logic that addresses them, form a shift register, and the shortening of
// one by a stage so that retiming can move a register across it. The
// optimal-skew analysis owns one for the families with such shift
// registers and asks it which RAMs belong to one; classic retiming reduces
// them and deletes what a reduction left unused.
//
// A shift register's RAMs write through port A and read through port B at
// addresses that a counter of ordinary registers and cells gives; RAMs whose
// counters share a register form one group and are measured and reduced
// together. Every cell made here is an OBRAN atom with that family's LUT
// mask bit order (the only family that has such shift registers).

#include <cstdint>
#include <map>
#include <set>
#include <vector>

#include "morv/netlist/morv_deterministic.h"

class MORV_API;
class MORV_NET_UTIL;
class MORV_CDB_INTERFACE;
class CDB_ATOM_NETLIST;
class CDB_ATOM_NODE;
class CDB_ATOM_ITERM;
class CDB_ATOM_OTERM;
class CDB_LUTMASK;
class MORV_SHIFT_REG_SIMULATION;
struct MORV_SIGNAL;

class MORV_SHIFT_REG_MANAGER
{
public:
    explicit MORV_SHIFT_REG_MANAGER(MORV_API* api);
    // Nodes still queued are an internal error, left with the facade for the
    // flow driver to report; not while an error unwinds through here, which
    // is the one to report.
    ~MORV_SHIFT_REG_MANAGER();
    MORV_SHIFT_REG_MANAGER(const MORV_SHIFT_REG_MANAGER&) = delete;
    MORV_SHIFT_REG_MANAGER& operator=(const MORV_SHIFT_REG_MANAGER&) = delete;

    // Groups the netlist's RAMs into shift registers; called at the start of
    // every skew computation. Always true.
    bool initialize();
    // The id (> 0) of the shift register the RAM belongs to, 0 when none.
    int is_node_shift_register(CDB_ATOM_NODE* node);
    // Shortens the RAM's shift register by a stage and puts a register
    // before its write data (on_output false) or after its read data. True
    // when the netlist changed.
    bool reduce_shift_register(CDB_ATOM_NODE* node, bool on_output);
    // Deletes what the reductions queued and forgets the grouping; answers
    // how many nodes it deleted.
    int remove_queued_nodes();

    // Tests: the RAM belongs to shift register sr_id (> 0) from the next
    // initialize on; 0 takes it out again.
    void script_shift_register(const CDB_ATOM_NODE* ram, int sr_id);
    // Tests: every later reduction succeeds and queues these atoms, as a
    // real one queues the counter logic it leaves unused.
    void script_reduction(std::vector<uint32_t> unused_atom_ids);

private:
    using NODE_SET = std::set<CDB_ATOM_NODE*, DETERMINISTIC_LESS<CDB_ATOM_NODE*>>;
    // The clock and clear every register of a group shares.
    struct SIGNALS;

    // ---- grouping (union-find over ids; id 0 stands for "no shift register")
    void make_group(int id);
    int find_group(int id);
    void merge_groups(int a, int b);
    int find_node_group(const CDB_ATOM_NODE* node);
    bool create_support_set(NODE_SET& visited, CDB_ATOM_NODE* node, int id);
    bool group_ram(CDB_ATOM_NODE* ram, int id);
    NODE_SET working_set(int id);
    // Every input the simulation reads is driven from inside the set.
    bool is_closed(const NODE_SET& set) const;

    // ---- length evaluation
    int evaluate(const NODE_SET& set, MORV_SHIFT_REG_SIMULATION& simulation, SIGNALS& signals);
    bool check_clock_and_clear(const NODE_SET& set, SIGNALS& signals) const;
    bool check_register_controls(CDB_ATOM_NODE* reg, SIGNALS& signals) const;
    bool check_ram_ports(const NODE_SET& set) const;
    bool check_one_ram(CDB_ATOM_NODE* ram) const;
    bool fans_out_only_to_working_set(CDB_ATOM_NODE* node, const NODE_SET& set) const;
    bool check_addresses(const NODE_SET& set, MORV_SHIFT_REG_SIMULATION& simulation) const;
    bool check_clear_phase(const NODE_SET& set, MORV_SHIFT_REG_SIMULATION& simulation) const;
    bool check_offset(const MORV_SHIFT_REG_SIMULATION& simulation, int offset) const;

    // ---- reduction
    int rebuild_one_stage_shorter(NODE_SET& set, const MORV_SHIFT_REG_SIMULATION& simulation, const SIGNALS& signals,
                                  bool on_output);
    void convert_fully(const NODE_SET& set, int length, const SIGNALS& signals);
    // The counter and the clear counter have the form the rebuild knows.
    bool can_rebuild(const NODE_SET& set);
    bool rebuild_counter(NODE_SET& set, int target, int offset);
    bool collect_address_registers(const NODE_SET& set, std::vector<CDB_ATOM_NODE*>& address);
    void rewire_addresses(const NODE_SET& set, const std::vector<CDB_ATOM_OTERM*>& write_sources,
                          const std::vector<CDB_ATOM_OTERM*>& read_sources);
    CDB_ATOM_OTERM* build_comparator(NODE_SET& set, const std::vector<CDB_ATOM_NODE*>& address, int target);
    std::vector<CDB_ATOM_NODE*> build_carry_chain(NODE_SET& set, const std::vector<CDB_ATOM_NODE*>& address);
    void build_next_state(NODE_SET& set, const std::vector<CDB_ATOM_NODE*>& address, CDB_ATOM_OTERM* compare,
                          const std::vector<CDB_ATOM_NODE*>& chain, int offset);
    CDB_ATOM_OTERM* build_write_source(NODE_SET& set, CDB_ATOM_NODE* address_reg, CDB_ATOM_OTERM* read_source,
                                       bool bit0);
    bool toggle_clear_counter(NODE_SET& set, int length);
    bool collect_clear_counter(const NODE_SET& set, std::vector<CDB_ATOM_NODE*>& clear_regs);
    CDB_ATOM_NODE* register_behind(CDB_ATOM_NODE* node);
    void add_new_stage(const NODE_SET& set, CDB_ATOM_NODE* loc_node, const SIGNALS& signals, bool on_output);
    bool reduce_working_set(NODE_SET& set);
    void queue_unused(const NODE_SET& old_set, const NODE_SET& new_set);

    // ---- netlist helpers
    CDB_ATOM_NODE* create_shred_lcell(CDB_ATOM_NODE* base_node);
    CDB_ATOM_NODE* create_shred_register(CDB_ATOM_NODE* base_node, const SIGNALS& signals);
    CDB_ATOM_NODE* duplicate_register(CDB_ATOM_NODE* reg);
    CDB_ATOM_OTERM* insert_inverter_after(NODE_SET* set, CDB_ATOM_OTERM* oterm);
    void insert_inverter_before(NODE_SET* set, CDB_ATOM_ITERM* iterm);
    CDB_ATOM_ITERM* get_single_data_input(CDB_ATOM_NODE* node) const;
    CDB_ATOM_ITERM* new_iterm(CDB_ATOM_NODE* node, int port_type);
    void place_and_announce(CDB_ATOM_NODE* node, CDB_ATOM_NODE* base_node);
    void connect(CDB_ATOM_OTERM* source, CDB_ATOM_ITERM* iterm);
    void disconnect(CDB_ATOM_ITERM* iterm);
    void set_mask(CDB_ATOM_NODE* node, const CDB_LUTMASK& mask);
    // A source-less input's tie and inversion, copied as they are.
    void copy_tie(const CDB_ATOM_ITERM* from, CDB_ATOM_ITERM* to);

    std::map<int, int> m_sr_parent;
    std::map<int, int> m_sr_rank;
    std::map<uint32_t, int> m_node_sr_id;  // by atom id; 0 excludes the node's group
    std::set<int> m_valid_sr_ids;
    std::map<int, int> m_sr_results;
    std::vector<uint32_t> m_nodes_to_remove;  // atom ids, in queue order
    bool m_scripted_reduction = false;
    std::vector<uint32_t> m_scripted_unused;
    std::map<uint32_t, int> m_scripted_sr_ids;  // by atom id
    std::map<uint32_t, int> m_scripted_active;  // the scripted ids of the last initialize
    CDB_ATOM_NETLIST* m_atom_netlist = nullptr;
    MORV_NET_UTIL* m_net_util;
    MORV_CDB_INTERFACE* m_fsyn_cdb_interface;
    MORV_API* m_api;
    bool m_initialized = false;
    // The exceptions in flight when the manager was made.
    int m_uncaught_at_construction;
};
