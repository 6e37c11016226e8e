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

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <memory>
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

// The delays of one edge (it exists only as part of its edge).
class TDB_DELAY
{
public:
    TDB_DELAY(const TDB_DELAY&) = delete;
    TDB_DELAY& operator=(const TDB_DELAY&) = delete;
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
    TDB_DELAY() = default;
    int value(int kind, int which, int transition) const;
    TDB_NETLIST* owner() const;
    // A kind almost always has one value for both bounds and transitions:
    // that value is kept here, and a kind whose four values differ (its bit
    // in m_spread) keeps them with the netlist.
    int m_value[2] = {0, 0};  // [kind 0/1]
    uint8_t m_spread = 0;
    // The edge's clock flag, in the delay's spare byte so that an edge
    // takes 56 bytes.
    bool m_edge_is_clock = false;
};

class TDB_EDGE
{
public:
    int get_id() const { return m_id; }
    TDB_NODE* get_src_node() const { return m_src; }
    TDB_NODE* get_dst_node() const { return m_dst; }
    // True for every edge that stands for a connected input term.
    bool is_for_tdc() const { return m_iterm != nullptr; }
    bool is_clock() const { return m_delay.m_edge_is_clock; }
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
    friend class TDB_DELAY;
    TDB_DELAY m_delay;  // first: the delay finds its edge at its own address
    int m_id = -1;
    int m_src_pos = -1;  // position in the source's fan-out list
    int m_dst_pos = -1;  // position in the destination's fan-in or clock list
    int m_slack = TDB_NO_PATH;
    float m_slack_ratio = 1.0f;
    TDB_NODE* m_src = nullptr;
    TDB_NODE* m_dst = nullptr;
    CDB_ATOM_ITERM* m_iterm = nullptr;
};

// One kind of a node's edges (fan-out, data fan-in or clock fan-in): a view
// into the node's edge array, valid until the node's edges change.
class TDB_EDGE_RANGE
{
public:
    using iterator = TDB_EDGE* const*;
    TDB_EDGE_RANGE(iterator first, uint32_t count) : m_first(first), m_count(count) {}
    iterator begin() const { return m_first; }
    iterator end() const { return m_first + m_count; }
    size_t size() const { return m_count; }
    bool empty() const { return m_count == 0; }
    TDB_EDGE* operator[](size_t i) const { return m_first[i]; }
    TDB_EDGE* front() const { return m_first[0]; }
    TDB_EDGE* back() const { return m_first[m_count - 1]; }

private:
    iterator m_first;
    uint32_t m_count;
};

class TDB_NODE
{
public:
    using EDGE_ITER = TDB_EDGE_RANGE::iterator;

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
    EDGE_ITER begin_fanin() const { return fanin().begin(); }
    EDGE_ITER end_fanin() const { return fanin().end(); }
    int get_num_of_fanin() const { return (int)m_num_fanin; }
    int fanin_edges_size() const { return (int)m_num_fanin; }
    EDGE_ITER begin_fanout() const { return fanout().begin(); }
    EDGE_ITER end_fanout() const { return fanout().end(); }
    int get_num_of_fanout() const { return (int)m_num_fanout; }
    int fanout_edges_size() const { return (int)m_num_fanout; }
    // A keeper's clock-input edges (one for a register).
    EDGE_ITER begin_clkin() const { return clkin().begin(); }
    EDGE_ITER end_clkin() const { return clkin().end(); }
    int get_num_of_clkin() const { return (int)m_num_clkin; }
    TDB_EDGE_RANGE fanout() const { return {m_edges, m_num_fanout}; }
    TDB_EDGE_RANGE fanin() const { return {m_edges + m_num_fanout, m_num_fanin}; }
    TDB_EDGE_RANGE clkin() const { return {m_edges + m_num_fanout + m_num_fanin, m_num_clkin}; }

private:
    friend class TDB_NETLIST;
    friend class TDB_ATOM_NODES;
    friend class TDB_DELAY;
    TDB_NETLIST* m_netlist = nullptr;
    int m_id = -1;
    int m_atom_id = -1;
    int m_port_type = -1;  // of the carried output term (or of the keeper's role)
    int m_port_index = 0;
    uint32_t m_flags = 0;
    int m_tco = 0;
    int m_tsu = 0;
    int m_next_of_atom = -1;  // the atom's next node id (creation order), -1 at the end
    CDB_ATOM_ITERM* m_iterm = nullptr;
    CDB_ATOM_OTERM* m_oterm = nullptr;
    // The edges in one array, fan-out first, then data fan-in, then clock
    // fan-in: most nodes never grow after the build, so one exactly sized
    // block beats three vectors. Positions in an edge are relative to the
    // start of their kind, so that a kind moving along keeps them valid.
    TDB_EDGE** m_edges = nullptr;
    uint32_t m_num_fanout = 0;
    uint32_t m_num_fanin = 0;
    uint32_t m_edge_capacity = 0;
    // Narrow, so that a node takes 80 bytes: a keeper has one clock input
    // (the builder never gives it more), and roles are the builder's few kinds.
    uint16_t m_num_clkin = 0;
    int8_t m_role = 0;
    bool m_edges_on_heap = false;  // m_edges is the node's own allocation, not the netlist's block
};

// The node ids of one atom in creation order.
class TDB_ATOM_NODES
{
public:
    class iterator
    {
    public:
        using iterator_category = std::forward_iterator_tag;
        using value_type = int;
        using difference_type = std::ptrdiff_t;
        using pointer = const int*;
        using reference = int;
        iterator(const TDB_NETLIST* netlist, int id) : m_netlist(netlist), m_id(id) {}
        int operator*() const { return m_id; }
        iterator& operator++();
        bool operator==(const iterator& o) const { return m_id == o.m_id; }
        bool operator!=(const iterator& o) const { return m_id != o.m_id; }

    private:
        const TDB_NETLIST* m_netlist;
        int m_id;
    };
    TDB_ATOM_NODES(const TDB_NETLIST* netlist, int first) : m_netlist(netlist), m_first(first) {}
    iterator begin() const { return {m_netlist, m_first}; }
    iterator end() const { return {m_netlist, -1}; }
    bool empty() const { return m_first < 0; }
    size_t size() const;
    std::vector<int> to_vector() const { return std::vector<int>(begin(), end()); }

private:
    static int next_of(const TDB_NETLIST* netlist, int id);
    const TDB_NETLIST* m_netlist;
    int m_first;
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

    // ---- queries of physical synthesis
    TDB_NODE* find_node(int id) const;  // null for a free id
    TDB_EDGE* find_edge(int id) const;
    // The edge table (entry i is edge id get_edge_id_base() + i, null for
    // a free id); null until create_vec_of_edges, which every analysis of
    // the netlist calls. Growing the netlist keeps it in step.
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
    int get_atom_id_bound() const { return m_atom_base + (int)m_atom_heads.size(); }
    int get_num_edges() const { return m_num_edges; }
    TDB_NODE* get_tdb_node_from_oterm(const CDB_ATOM_OTERM* oterm) const;
    int get_atom_node_id_from_tdb_node(const TDB_NODE* node) const { return node ? node->get_atom_id() : -1; }
    // Node ids of an atom, in creation order (empty when none).
    TDB_ATOM_NODES get_atom_nodes(int atom_id) const;
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
    // Room for this many edges (all kinds) at a node without edges yet,
    // taken from the netlist's shared block (a builder that knows the
    // degrees); a node that outgrows it moves to an allocation of its own.
    void reserve_edges(TDB_NODE* node, int count);
    // Room for this many more nodes and edges in the id tables.
    void reserve(int nodes, int edges);
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
    size_t get_atom_table_size() const { return m_atom_heads.size(); }
    // Counts structural edits (node or edge added or removed).
    uint64_t get_structure_version() const { return m_structure_version; }

private:
    friend class TDB_DELAY;
    class STORE;
    // The four values of each kind of an edge whose values differ.
    using SPREAD_VALUES = int[2][2][2];         // [kind 0/1][which][transition]
    SPREAD_VALUES& spread_values(int edge_id);  // made when missing
    void drop_spread_values(int edge_id);
    int& atom_head(int atom_id);
    void add_to_list(TDB_NODE* node, TDB_EDGE* edge, int kind);
    static void add_count(TDB_NODE* node, int kind, int delta);
    void remove_from_list(TDB_NODE* node, int kind, int pos);
    void grow_edges(TDB_NODE* node);
    void release_edges(TDB_NODE* node);
    void unlink_from_atom(TDB_NODE* node);
    int m_node_base = 0;
    int m_edge_base = 0;
    std::vector<TDB_NODE*> m_nodes;  // id - m_node_base
    std::vector<TDB_EDGE*> m_edges;  // id - m_edge_base
    // First node id by atom id - m_atom_base (-1 for none); the nodes of an
    // atom chain through their m_next_of_atom. Atom ids are issued
    // process-wide, so the table spans the ids of this netlist's atoms, not
    // every id ever issued.
    std::vector<int> m_atom_heads;
    int m_atom_base = 0;
    std::unique_ptr<STORE> m_store;  // node and edge blocks, the edge-array block, the term index
    int m_num_nodes = 0;
    int m_num_edges = 0;
    bool m_has_edge_vec = false;
    uint64_t m_structure_version = 0;
    TDB_NETLIST_LISTENER* m_listener = nullptr;
};

inline TDB_NODE* TDB_NETLIST::find_node(int id) const
{
    return id >= m_node_base && id < get_node_id_bound() ? m_nodes[(size_t)(id - m_node_base)] : nullptr;
}

inline int TDB_ATOM_NODES::next_of(const TDB_NETLIST* netlist, int id)
{
    return netlist->find_node(id)->m_next_of_atom;
}

inline TDB_ATOM_NODES::iterator& TDB_ATOM_NODES::iterator::operator++()
{
    m_id = next_of(m_netlist, m_id);
    return *this;
}

inline size_t TDB_ATOM_NODES::size() const
{
    size_t n = 0;
    for (auto it = begin(); it != end(); ++it) ++n;
    return n;
}

// Register micro-timing.
class TDB_UTILITY
{
public:
    TDB_UTILITY() = default;
    int get_tsu_delay(const TDB_NODE* node) const { return node ? node->get_tsu() : 0; }
    int get_tco_delay(const TDB_NODE* node) const { return node ? node->get_tco() : 0; }
};
