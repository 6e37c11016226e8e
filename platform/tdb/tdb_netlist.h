#pragma once
// Stand-in timing netlist: the graph the timing analyser works on.
//
// Nodes: one per output term of a combinational cell; registers (and the
// register parts of cells, RAM and DSP blocks) are keeper nodes (flag
// 0x8000; latches 0x10000) that carry the register output, with data and
// synchronous-control inputs as fan-in edges and exactly one clock-input
// edge; an input pin is a keeper with one internal edge to the node that
// carries the pin's output; an output pin is a keeper that carries the
// pin's pad term, which has no fan-out. Pins carry the keeper bit 0x4000
// with 0x20000 (input) or 0x40000 (output).
//
// Edges: one per connected input term and output it reaches (its iterm is
// set and is_for_tdc is true), plus internal edges without an iterm. Every
// edge carries a delay record: kind 0 interconnect, kind 1 cell delay from
// the edge's input pin, kind 4 = kind 0 + kind 1 (derived on query); each
// for TDB_MAX / TDB_MIN and two transitions.
//
// Ids are int32, never reused in a run; a refresh gives new nodes and edges
// ids above every id handed out before, and a netlist that replaces another
// starts above the ids of the one it replaces. Tables span the ids of this
// netlist only: entry i is id base + i (null for a free id), so that
// rebuilds do not make every later table longer.

#include <cstdint>
#include <string>
#include <vector>

class CDB_ATOM_NODE;
class CDB_ATOM_ITERM;
class CDB_ATOM_OTERM;
class CDB_ATOM_NETLIST;
class FIO_PATH;

constexpr int TDB_MAX = 0;
constexpr int TDB_MIN = 1;
constexpr int TDB_NO_PATH = 0x7fffffff;
constexpr int TDB_ILLEGAL_DELAY = (int)0x80000001;

// Delay kinds of the record.
enum TDB_DELAY_KIND : int
{
    TDB_DELAY_IC = 0,
    TDB_DELAY_CELL = 1,
    TDB_DELAY_TOTAL = 4
};

// Node flags.
enum TDB_NODE_FLAG : uint32_t
{
    TDB_NODE_PIN = 0x4000,  // keeper bit of input and output pins
    TDB_NODE_REGISTER = 0x8000,
    TDB_NODE_LATCH = 0x10000,
    TDB_NODE_KEEPER_MASK = 0x1c000,
    TDB_NODE_INPUT_PIN = 0x20000,
    TDB_NODE_OUTPUT_PIN = 0x40000,
};

// Edge iterator selector bits (TDB_EDGE_COMPOUND_ITER, TDB_NODE ranges).
enum TDB_EDGE_SELECT : int
{
    TDB_SELECT_DATA_FANIN = 1,
    TDB_SELECT_CLOCK_FANIN = 2,
    TDB_SELECT_FANOUT = 8,
    TDB_SELECT_ALL_FANIN = 7,
};

class TDB_NODE;
class TDB_NETLIST;

class TDB_DELAY
{
public:
    // kind 0, 1 or 4; which TDB_MAX or TDB_MIN; transition 0 or 1, or 2 for
    // the larger (TDB_MAX) / smaller (TDB_MIN) of the two. Unknown kinds
    // answer TDB_ILLEGAL_DELAY.
    int get_delay(int kind, int which, int transition) const;
    // Sets the four values of kind 0 or 1 (MAX rise, MAX fall, MIN rise,
    // MIN fall); false for another kind. The netlist learns of the change.
    bool set_delay(int kind, int max_0, int max_1, int min_0, int min_1);
    bool set_delay(int kind, int value) { return set_delay(kind, value, value, value, value); }

private:
    friend class TDB_NETLIST;
    friend class TDB_EDGE;
    int m_values[2][2][2] = {};  // [kind 0/1][which][transition]
    TDB_NETLIST* m_owner = nullptr;
};

class TDB_EDGE
{
public:
    int get_id() const { return m_id; }
    TDB_NODE* get_src_node() const { return m_src; }
    TDB_NODE* get_dst_node() const { return m_dst; }
    // True for every edge that stands for a connected input term.
    bool is_for_tdc() const { return m_iterm != nullptr; }
    bool is_clock() const { return m_is_clock; }
    CDB_ATOM_ITERM* get_iterm() const { return m_iterm; }
    TDB_DELAY* get_delay() { return &m_delay; }
    const TDB_DELAY* get_delay() const { return &m_delay; }
    int get_max_ic_delay() const { return m_delay.get_delay(TDB_DELAY_IC, TDB_MAX, 2); }
    int get_min_ic_delay() const { return m_delay.get_delay(TDB_DELAY_IC, TDB_MIN, 2); }
    int get_max_cell_delay() const { return m_delay.get_delay(TDB_DELAY_CELL, TDB_MAX, 2); }
    // Data delay: larger transition of kind 4 at TDB_MAX.
    int get_data_delay() const { return m_delay.get_delay(TDB_DELAY_TOTAL, TDB_MAX, 2); }
    // Clock delay at TDB_MAX (larger, MAX) or TDB_MIN (smaller, MIN).
    int get_clock_delay(int which) const { return m_delay.get_delay(TDB_DELAY_TOTAL, which, 2); }

    int get_slack() const { return m_slack; }
    float get_slack_ratio() const { return m_slack_ratio; }
    void set_slack(int slack) { m_slack = slack; }
    void set_slack_ratio(float ratio) { m_slack_ratio = ratio; }

private:
    friend class TDB_NETLIST;
    int m_id = -1;
    bool m_is_clock = false;
    TDB_NODE* m_src = nullptr;
    TDB_NODE* m_dst = nullptr;
    CDB_ATOM_ITERM* m_iterm = nullptr;
    int m_src_pos = -1;  // position in the source's fan-out list
    int m_dst_pos = -1;  // position in the destination's fan-in or clock list
    int m_slack = TDB_NO_PATH;
    float m_slack_ratio = 1.0f;
    TDB_DELAY m_delay;
};

class TDB_NODE
{
public:
    using EDGE_ITER = std::vector<TDB_EDGE*>::const_iterator;

    int get_id() const { return m_id; }
    int get_atom_id() const { return m_atom_id; }
    CDB_ATOM_ITERM* get_iterm() const { return m_iterm; }
    CDB_ATOM_OTERM* get_oterm() const { return m_oterm; }
    // through_internal false: the node's own term, as above. True: a node
    // without a term of its own (an input pin's keeper) answers the term of
    // the node that its single internal fan-out edge (no iterm, same atom)
    // reaches, repeatedly; null when the chain ends without a term. An
    // output pin's keeper carries its pad term itself.
    CDB_ATOM_OTERM* get_oterm(bool through_internal) const;
    uint32_t get_flags() const { return m_flags; }
    bool is_keeper() const { return (m_flags & TDB_NODE_KEEPER_MASK) != 0; }
    bool is_reg() const { return (m_flags & TDB_NODE_REGISTER) != 0; }
    bool is_latch() const { return (m_flags & TDB_NODE_LATCH) != 0; }
    bool is_input_pin() const { return (m_flags & TDB_NODE_INPUT_PIN) != 0; }
    bool is_output_pin() const { return (m_flags & TDB_NODE_OUTPUT_PIN) != 0; }
    int get_tco() const { return m_tco; }
    int get_role() const { return m_role; }
    int get_port_type() const { return m_port_type; }
    int get_tsu() const { return m_tsu; }

    // Data fan-in edges (a keeper's clock input is not among them).
    EDGE_ITER begin_fanin() const { return m_fanin.begin(); }
    EDGE_ITER end_fanin() const { return m_fanin.end(); }
    int get_num_of_fanin() const { return (int)m_fanin.size(); }
    int fanin_edges_size() const { return (int)m_fanin.size(); }
    EDGE_ITER begin_fanout() const { return m_fanout.begin(); }
    EDGE_ITER end_fanout() const { return m_fanout.end(); }
    int get_num_of_fanout() const { return (int)m_fanout.size(); }
    int fanout_edges_size() const { return (int)m_fanout.size(); }
    // A keeper's clock-input edges (one for a register).
    EDGE_ITER begin_clkin() const { return m_clkin.begin(); }
    EDGE_ITER end_clkin() const { return m_clkin.end(); }
    int get_num_of_clkin() const { return (int)m_clkin.size(); }
    const std::vector<TDB_EDGE*>& fanin() const { return m_fanin; }
    const std::vector<TDB_EDGE*>& fanout() const { return m_fanout; }
    const std::vector<TDB_EDGE*>& clkin() const { return m_clkin; }

private:
    friend class TDB_NETLIST;
    int m_id = -1;
    int m_atom_id = -1;
    int m_port_type = -1;  // of the carried output term (or of the keeper's role)
    int m_port_index = 0;
    int m_role = 0;
    uint32_t m_flags = 0;
    int m_tco = 0;
    int m_tsu = 0;
    CDB_ATOM_ITERM* m_iterm = nullptr;
    CDB_ATOM_OTERM* m_oterm = nullptr;
    std::vector<TDB_EDGE*> m_fanin, m_fanout, m_clkin;
};

// Walks the edges of one node chosen by selector bits (TDB_EDGE_SELECT):
// data fan-in, then clock fan-in, then fan-out.
class TDB_EDGE_COMPOUND_ITER
{
public:
    TDB_EDGE_COMPOUND_ITER(const TDB_NODE* node, int selector);
    bool done() const { return m_list >= 3; }
    TDB_EDGE* get() const;
    TDB_EDGE* operator*() const { return get(); }
    TDB_EDGE_COMPOUND_ITER& operator++();
    // Style of the host: while (TDB_EDGE* e = it.next()) ...
    TDB_EDGE* next();

private:
    void skip_empty();
    const TDB_NODE* m_node;
    int m_selector;
    int m_list = 0;
    size_t m_pos = 0;
};

// Something that listens to delay edits (the analyser's dirty flag).
class TDB_NETLIST_LISTENER
{
public:
    virtual ~TDB_NETLIST_LISTENER() = default;
    virtual void on_delays_changed() = 0;
    virtual void on_structure_changed() = 0;
};

class TDB_NETLIST
{
public:
    // Ids start at the given bounds (a rebuilt netlist continues the ids of
    // the one it replaces).
    explicit TDB_NETLIST(int first_node_id = 0, int first_edge_id = 0);
    ~TDB_NETLIST();
    TDB_NETLIST(const TDB_NETLIST&) = delete;
    TDB_NETLIST& operator=(const TDB_NETLIST&) = delete;

    // ---- queries of the Parts
    TDB_NODE* find_node(int id) const;  // null for a free id
    TDB_EDGE* find_edge(int id) const;
    // The edge table (entry i is edge id get_edge_id_base() + i, null for
    // a free id); null until create_vec_of_edges. Growing the netlist keeps
    // it in step.
    std::vector<TDB_EDGE*>* get_vec_of_edges() { return m_has_edge_vec ? &m_edges : nullptr; }
    std::vector<TDB_EDGE*>* create_vec_of_edges();
    void discard_vec_of_edges() { m_has_edge_vec = false; }
    // Every node id lies in [get_node_id_base(), get_node_id_bound()); edges alike.
    int get_node_id_base() const { return m_node_base; }
    int get_node_id_bound() const { return m_node_base + (int)m_nodes.size(); }
    int get_edge_id_base() const { return m_edge_base; }
    int get_edge_id_bound() const { return m_edge_base + (int)m_edges.size(); }
    int get_num_nodes() const { return m_num_nodes; }
    // Every atom id with nodes lies in [get_atom_id_base(), get_atom_id_bound()).
    int get_atom_id_base() const { return m_atom_base; }
    int get_atom_id_bound() const { return m_atom_base + (int)m_atom_nodes.size(); }
    int get_num_edges() const { return m_num_edges; }
    TDB_NODE* get_tdb_node_from_oterm(const CDB_ATOM_OTERM* oterm) const;
    int get_atom_node_id_from_tdb_node(const TDB_NODE* node) const { return node ? node->get_atom_id() : -1; }
    // Nodes of an atom, in creation order (empty when none).
    const std::vector<int>& get_atom_nodes(int atom_id) const;
    // Nodes and edges in id order, entry i for id base + i (null for a free id).
    const std::vector<TDB_NODE*>& node_table() const { return m_nodes; }
    const std::vector<TDB_EDGE*>& edge_table() const { return m_edges; }
    // Writes one line per node and edge; false when the file cannot be written.
    bool dump_to_file(const FIO_PATH& path, bool with_delays) const;
    bool dump_to_file(const char* path, bool with_delays) const;

    // ---- editing (the builder and tests)
    // role: the builder's kind of node (kept for matching on refresh);
    // index_oterm false keeps the oterm out of get_tdb_node_from_oterm.
    TDB_NODE* add_node(int atom_id, uint32_t flags, CDB_ATOM_OTERM* oterm, int port_type = -1, int port_index = 0,
                       int role = 0, bool index_oterm = true);
    TDB_EDGE* add_edge(TDB_NODE* src, TDB_NODE* dst, CDB_ATOM_ITERM* iterm, bool is_clock, int ic_delay,
                       int cell_delay);
    void remove_edge(TDB_EDGE* edge);
    // Removes the node with every edge at it.
    void remove_node(TDB_NODE* node);
    void set_node_iterm(TDB_NODE* node, CDB_ATOM_ITERM* iterm) { node->m_iterm = iterm; }
    void set_node_timing(TDB_NODE* node, int tco, int tsu);
    // Sets the interconnect delay of kind 0 (all four values) without a
    // change notice when unchanged.
    void set_ic_delay(TDB_EDGE* edge, int delay) { edge->get_delay()->set_delay(TDB_DELAY_IC, delay); }
    void set_listener(TDB_NETLIST_LISTENER* listener) { m_listener = listener; }
    void notify_delays_changed();
    // Sizes the atom table for the atom ids lo..hi at once (a builder that
    // knows its netlist's range), so that no later id shifts the table.
    void reserve_atom_ids(int lo, int hi);
    // Slots the atom table holds (it follows the netlist's id range).
    size_t get_atom_table_size() const { return m_atom_nodes.size(); }
    // Counts structural edits (node or edge added or removed).
    uint64_t get_structure_version() const { return m_structure_version; }

private:
    static const std::vector<int> s_no_nodes;
    std::vector<int>& atom_slot(int atom_id);
    int m_node_base = 0;
    int m_edge_base = 0;
    std::vector<TDB_NODE*> m_nodes;  // id - m_node_base
    std::vector<TDB_EDGE*> m_edges;  // id - m_edge_base
    // Node ids by atom id - m_atom_base. Atom ids are issued process-wide, so
    // the table spans the ids of this netlist's atoms, not every id ever issued.
    std::vector<std::vector<int>> m_atom_nodes;
    int m_atom_base = 0;
    class OTERM_MAP;
    OTERM_MAP* m_oterm_map;
    int m_num_nodes = 0;
    int m_num_edges = 0;
    bool m_has_edge_vec = false;
    uint64_t m_structure_version = 0;
    TDB_NETLIST_LISTENER* m_listener = nullptr;
};

// Register micro-timing.
class TDB_UTILITY
{
public:
    TDB_UTILITY() = default;
    int get_tsu_delay(const TDB_NODE* node) const { return node ? node->get_tsu() : 0; }
    int get_tco_delay(const TDB_NODE* node) const { return node ? node->get_tco() : 0; }
};
