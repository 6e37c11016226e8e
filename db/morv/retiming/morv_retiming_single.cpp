// Retiming driven one step at a time from outside the iteration: each
// operation checks the atom, fills the containers the iteration would have
// filled and runs exactly one step of the regular machinery.
#include "cdb/cdb_atom_netlist.h"

#include "morv/core/morv_api.h"
#include "morv/core/morv_debug_stream.h"
#include "morv/netlist/morv_net_util.h"
#include "morv/retiming/morv_retiming.h"

namespace {

const char* const k_retime_refusal = "Unable to retime - atom must be an lcell comb or a mac.";
const char* const k_split_refusal = "Unable to split - atom must be an lcell comb or a mac.";

bool is_mac_atom(CDB_ATOM_NODE* node)
{
    return node->is_mac_out() || node->is_mac_mult();
}

}  // namespace

CDB_ATOM_NODE* MORV_RETIMING::find_single_step_atom(uint32_t atom_id)
{
    CDB_ATOM_NODE* node = m_fsyn_api->get_node(static_cast<int>(atom_id));
    if (node == nullptr) MORV_DEBUG_STREAM::print(1, "Atom not found.");
    return node;
}

// A DSP atom is pushed through its slice, which the step builds itself; with
// MAC retiming off there is nothing that may move it.
bool MORV_RETIMING::accepts_single_step(CDB_ATOM_NODE* node)
{
    if (node->is_lcell_comb()) return true;
    if (!is_mac_atom(node) || !m_mac_retiming_enabled) return false;
    build_mac_slices();
    return true;
}

bool MORV_RETIMING::report_single_step(int operations)
{
    MORV_DEBUG_STREAM::print(1, "%d operations performed.", operations);
    return operations > 0;
}

bool MORV_RETIMING::single_push(uint32_t atom_id, bool backwards)
{
    MORV_DEBUG_STREAM::print(
        1, backwards ? "Attempting a single backward push on atom %d." : "Attempting a single forward push on atom %d.",
        static_cast<int>(atom_id));
    CDB_ATOM_NODE* node = find_single_step_atom(atom_id);
    if (node == nullptr) return false;
    if (!accepts_single_step(node)) {
        MORV_DEBUG_STREAM::print(1, "%s", k_retime_refusal);
        return false;
    }
    m_retime_backwards = backwards;
    m_live_nodes.insert(node);
    return report_single_step(retime_node(node));
}

bool MORV_RETIMING::single_backward_push(uint32_t atom_id)
{
    return single_push(atom_id, true);
}

bool MORV_RETIMING::single_forward_push(uint32_t atom_id)
{
    return single_push(atom_id, false);
}

bool MORV_RETIMING::single_demux(uint32_t atom_id)
{
    MORV_DEBUG_STREAM::print(1, "Attempting a single demux on atom %d.", static_cast<int>(atom_id));
    CDB_ATOM_NODE* node = find_single_step_atom(atom_id);
    if (node == nullptr) return false;
    if (!node->is_lcell_ff() && !node->is_ff()) {
        MORV_DEBUG_STREAM::print(1, "Unable to demux - atom must be a register.");
        return false;
    }
    m_live_nodes.insert(node);
    m_demux_queue.insert(node);
    return report_single_step(run_demuxer());
}

bool MORV_RETIMING::single_split(uint32_t atom_id)
{
    MORV_DEBUG_STREAM::print(1, "Attempting a single split node on atom %d.", static_cast<int>(atom_id));
    CDB_ATOM_NODE* node = find_single_step_atom(atom_id);
    if (node == nullptr) return false;
    if (!node->is_lcell_comb() && !is_mac_atom(node)) {
        MORV_DEBUG_STREAM::print(1, "%s", k_split_refusal);
        return false;
    }
    m_live_nodes.insert(node);
    m_split_set.insert(node);
    return report_single_step(split_nodes());
}
