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
// Delays come from a delay model. The device's model (the default):
// interconnect 0 until both ends have a LAB location, then the device's
// routing delay (clock inputs: the global clock network delay); cell and
// register delays from the device's timing model. The timing estimator
// gives its own (table) model, which does not follow placement.
//
// refresh(changed atom ids) keeps the nodes and edges that still stand for
// the same terms (their ids unchanged), removes the rest and adds new ones
// with ids above every id used before.

#include <memory>
#include <vector>

#include "tdb/tdb_netlist.h"

class CDB_ATOM_NETLIST;
class CDB_ATOM_NODE;
class CDB_ATOM_ITERM;
class CDB_ATOM_OTERM;
class DEV_DEVICE;

// Where the builder takes its delays from. Ports follow the host's
// numbering; an input pin's buffer runs from DB_MAX_INPUT_PORT_TYPE (the
// pad, no input term) to the pin's output, an output pin's from its data
// input to DB_PAD_OUT.
class TDB_DELAY_MODEL
{
public:
    virtual ~TDB_DELAY_MODEL() = default;
    // The connection into iterm from the atom src (clock: a clock input).
    virtual int ic_delay(CDB_ATOM_ITERM* iterm, const CDB_ATOM_NODE* src, const CDB_ATOM_NODE* dst,
                         bool is_clock) const = 0;
    // True when interconnect delays change only with locations (a refresh
    // of unplaced atoms then keeps the delays written on their edges).
    virtual bool ic_follows_placement() const = 0;
    // Through the atom from an input port to an output port.
    virtual int cell_delay(const CDB_ATOM_NODE* atom, int from_port, int to_port) const = 0;
    // Clock-to-output and setup of the register carrying q (a clocked
    // block's capture register: q is the block's first output, or null).
    virtual int tco(const CDB_ATOM_NODE* atom, const CDB_ATOM_OTERM* q) const = 0;
    virtual int tsu(const CDB_ATOM_NODE* atom, const CDB_ATOM_OTERM* q) const = 0;
};

// The device's delay model (see the header comment).
class TDB_DEVICE_DELAY_MODEL : public TDB_DELAY_MODEL
{
public:
    explicit TDB_DEVICE_DELAY_MODEL(const DEV_DEVICE* device);
    int ic_delay(CDB_ATOM_ITERM* iterm, const CDB_ATOM_NODE* src, const CDB_ATOM_NODE* dst,
                 bool is_clock) const override;
    bool ic_follows_placement() const override { return true; }
    int cell_delay(const CDB_ATOM_NODE* atom, int from_port, int to_port) const override;
    int tco(const CDB_ATOM_NODE* atom, const CDB_ATOM_OTERM* q) const override;
    int tsu(const CDB_ATOM_NODE* atom, const CDB_ATOM_OTERM* q) const override;

private:
    const DEV_DEVICE* m_device;
};

class TDB_ATOM_BUILDER
{
public:
    // Delays from the device's model.
    TDB_ATOM_BUILDER(TDB_NETLIST* tdb, const CDB_ATOM_NETLIST* atoms, const DEV_DEVICE* device);
    // Delays from the given model (not owned; it outlives the builder).
    TDB_ATOM_BUILDER(TDB_NETLIST* tdb, const CDB_ATOM_NETLIST* atoms, const TDB_DELAY_MODEL* delays);

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

    // Interconnect delay the model gives the connection into iterm now.
    int model_ic_delay(CDB_ATOM_ITERM* iterm, const CDB_ATOM_NODE* src, const CDB_ATOM_NODE* dst, bool is_clock) const;

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
    void refresh_fanout_delays(const CDB_ATOM_NODE* atom);

    TDB_NETLIST* m_tdb;
    const CDB_ATOM_NETLIST* m_atoms;
    std::unique_ptr<TDB_DEVICE_DELAY_MODEL> m_own_delays;  // with the device constructor
    const TDB_DELAY_MODEL* m_delays;
};
