#pragma once
// Builds and refreshes a TDB_NETLIST from an atom netlist.
//
// Per atom (in node-list order):
//  - input pin: a keeper, and a node carrying its output with an internal
//    edge (input buffer delay) between them;
//  - output pin: a keeper (its iterm is the pin's data input) whose fan-in
//    is the pin's data with the output buffer delay; it carries the pin's
//    pad term (DB_PAD_OUT) when there is one, and that term never makes a
//    node of its own nor turns the atom into an input pin;
//  - register: a keeper carrying the register output; every connected
//    non-clock input is a fan-in edge, the first clock input the clock edge;
//  - logic cell: one node per combinational output term; LUT, carry and
//    share inputs feed each with the pin's cell delay; a packed register
//    (UVO) is a keeper fed by the LUT node (or by the LUT inputs directly
//    when the LUT has no output of its own) and by the register controls;
//  - RAM and DSP blocks with a clock: a capture keeper for all inputs and a
//    launch keeper per output term; without a clock, one node per output
//    fed by every input;
//  - clock buffers and anything else: one node per output fed by every input.
// Interconnect delays: 0 until both ends have a LAB location; then the
// device's routing delay (clock inputs: the global clock network delay).
//
// refresh(changed atom ids) keeps the nodes and edges that still stand for
// the same terms (their ids unchanged), removes the rest and adds new ones
// with ids above every id used before.

#include <vector>

#include "tdb/tdb_netlist.h"

class CDB_ATOM_NETLIST;
class CDB_ATOM_NODE;
class DEV_DEVICE;

class TDB_ATOM_BUILDER
{
public:
    TDB_ATOM_BUILDER(TDB_NETLIST* tdb, const CDB_ATOM_NETLIST* atoms, const DEV_DEVICE* device);

    // The timing netlist must be empty.
    void build_all();
    // Changed, added and deleted atom ids; the atoms that lose a driver node
    // are refreshed as well. Returns the number of atoms refreshed.
    int refresh(const std::vector<unsigned>& changed_atom_ids);
    // Recomputes every interconnect delay from the current locations (after
    // placement; before it, every delay returns to 0).
    void refresh_interconnect_delays();
    // The same for the edges at these atoms only (the atoms that moved).
    void refresh_interconnect_delays(const std::vector<unsigned>& atom_ids);

    // Interconnect delay the model gives an input connection now.
    int model_ic_delay(const CDB_ATOM_NODE* src, const CDB_ATOM_NODE* dst, bool is_clock) const;

private:
    // One flag per atom id of a range.
    struct ATOM_ID_FLAGS
    {
        long lo = 0;
        std::vector<char> flags;
        // True when the id was not marked before (ids outside the range never are).
        bool mark(long id)
        {
            if (id < lo || id - lo >= (long)flags.size() || flags[id - lo]) return false;
            flags[id - lo] = 1;
            return true;
        }
    };
    struct NODE_PLAN;
    struct EDGE_PLAN;
    void node_plans(const CDB_ATOM_NODE* atom, std::vector<NODE_PLAN>& out) const;
    void edge_plans(const CDB_ATOM_NODE* atom, std::vector<EDGE_PLAN>& out) const;
    TDB_NODE* add_planned_node(unsigned atom_id, const NODE_PLAN& plan);
    void add_planned_edge(const CDB_ATOM_NODE* dst_atom, const EDGE_PLAN& plan);
    void reconcile_nodes(const CDB_ATOM_NODE* atom, unsigned atom_id, std::vector<unsigned>& queue,
                         ATOM_ID_FLAGS& queued);
    void reconcile_edges(const CDB_ATOM_NODE* atom);

    TDB_NETLIST* m_tdb;
    const CDB_ATOM_NETLIST* m_atoms;
    const DEV_DEVICE* m_device;
};
