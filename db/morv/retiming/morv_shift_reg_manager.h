#pragma once

// The RAM-based shift-register manager: which RAM blocks, with the counter
// logic that addresses them, form a shift register, and the shortening of
// one by a stage so that retiming can move a register across it. The
// optimal-skew analysis owns one for the families with such shift
// registers and asks it which RAMs belong to one; classic retiming reduces
// them and deletes what a reduction left unused.
//
// Recognition and reduction are not built yet: no RAM is a shift register
// (initialize says so once when the netlist has RAMs), and a reduction is
// refused. Tests script the groups a finished recognition would find, and
// reductions that succeed, with the nodes each would leave unused.

#include <cstdint>
#include <map>
#include <vector>

class MORV_API;
class MORV_NET_UTIL;
class MORV_CDB_INTERFACE;
class CDB_ATOM_NETLIST;
class CDB_ATOM_NODE;

class MORV_SHIFT_REG_MANAGER
{
public:
    explicit MORV_SHIFT_REG_MANAGER(MORV_API* api);
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
    std::vector<uint32_t> m_nodes_to_remove;  // atom ids, in queue order
    bool m_scripted_reduction = false;
    std::vector<uint32_t> m_scripted_unused;
    std::map<uint32_t, int> m_scripted_sr_ids;  // by atom id
    std::map<uint32_t, int> m_node_sr_id;       // the grouping of the last initialize
    CDB_ATOM_NETLIST* m_atom_netlist = nullptr;
    MORV_NET_UTIL* m_net_util;
    MORV_CDB_INTERFACE* m_fsyn_cdb_interface;
    MORV_API* m_api;
    bool m_initialized = false;
};
