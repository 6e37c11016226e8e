#pragma once
// Input and output terms of atoms. Terms are allocated one by one and keep
// their address while their node lives. A driver's fanout is an intrusive
// doubly-linked list through its sinks, so insert and remove are O(1).

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <string>

#include "cdb/cdb_lutmask.h"
#include "cdb/cdb_types.h"

class CDB_ATOM_NODE;
class CDB_ATOM_ITERM;
class CDB_ATOM_OTERM;
class HDB_INSTANCE_NAME;

// Terms are small and numerous: outside sanitizer builds they come from
// fixed-size free lists (no per-block allocator header). Sanitizer builds
// use plain new/delete so that a stale term pointer is still caught.
void* cdb_term_alloc(size_t bytes);
void cdb_term_free(void* p, size_t bytes);

// ---------------------------------------------------------------- input terms

// Connection view of an input term: driven by an output term, tied to the
// physical VCC or GND, or unconnected.
class CDB_NET_ITERM
{
public:
    // Values passed to disconnect_from_source.
    enum CONNECT_STATE : int
    {
        CONNECT_GND = 0,
        CONNECT_VCC = 1,
        UNCONNECTED = 2
    };

    // Driven or tied to a constant.
    bool is_connected() const { return state() != ST_UNCONNECTED; }
    bool is_driven() const { return state() == ST_DRIVEN; }
    // Physical constants (before inversion and port polarity).
    bool is_vcc() const { return state() == ST_VCC; }
    bool is_gnd() const { return state() == ST_GND; }
    // Leaves the source's fanout list first when driven.
    void set_vcc();
    void set_gnd();
    // Leaves the source (if any) and ends in the given state.
    void disconnect_from_source(int connect_state);

    bool is_inverted() const { return (m_prop & P_INVERT) != 0; }
    void set_invert() { m_prop |= P_INVERT; }
    void clear_invert() { m_prop &= ~P_INVERT; }
    void set_invert(bool on) { on ? set_invert() : clear_invert(); }

    // A term of a signal probe: it observes its source without being a
    // real fanout of it, so walks that count real fanouts pass it over.
    bool is_signal_probe() const { return (m_prop & P_SIGNAL_PROBE) != 0; }
    void set_signal_probe(bool on)
    {
        if (on) m_prop |= P_SIGNAL_PROBE;
        else m_prop &= ~uint32_t(P_SIGNAL_PROBE);
    }

protected:
    enum STATE : uint32_t
    {
        ST_UNCONNECTED = 0,
        ST_DRIVEN = 1,
        ST_GND = 2,
        ST_VCC = 3
    };
    enum PROP : uint32_t
    {
        P_STATE_MASK = 0x3,
        P_INVERT = 0x4,
        P_ACTIVE_LOW = 0x8,
        P_GLOBAL_SHIFT = 4,  // 5 bits, signed
        P_GLOBAL_MASK = 0x1f0,
        P_DC_CONNECTED = 0x200,
        P_INDEX_SHIFT = 10,  // 16 bits: unordered port index
        P_INDEX_MASK = 0x3fffc00,
        P_DC_USE = 0x4000000,
        P_DC_USER = 0x8000000,
        P_SIGNAL_PROBE = 0x10000000,
    };
    STATE state() const { return static_cast<STATE>(m_prop & P_STATE_MASK); }
    void set_state(STATE s) { m_prop = (m_prop & ~P_STATE_MASK) | s; }

    CDB_ATOM_NODE* m_node = nullptr;
    CDB_ATOM_OTERM* m_source = nullptr;
    CDB_ATOM_ITERM* m_next_fanout = nullptr;
    CDB_ATOM_ITERM* m_prev_fanout = nullptr;
    uint32_t m_prop = 0;

    friend class CDB_ATOM_OTERM;
    friend class CDB_NET_OTERM;
};

class CDB_ATOM_ITERM : public CDB_NET_ITERM
{
public:
    static constexpr int MAX_USAGES = 4;

    // A term of node used as port_type (node may be null for a free term).
    CDB_ATOM_ITERM(CDB_ATOM_NODE* node, int port_type);
    // Leaves the source's fanout list; does not touch the node's slots.
    ~CDB_ATOM_ITERM();
    CDB_ATOM_ITERM(const CDB_ATOM_ITERM&) = delete;
    static void* operator new(size_t bytes) { return cdb_term_alloc(bytes); }
    static void operator delete(void* p, size_t bytes) { cdb_term_free(p, bytes); }
    CDB_ATOM_ITERM& operator=(const CDB_ATOM_ITERM&) = delete;

    CDB_ATOM_NODE* get_my_node() const { return m_node; }
    void set_my_node(CDB_ATOM_NODE* node) { m_node = node; }
    // Driving output term; null when unconnected or tied to a constant.
    CDB_ATOM_OTERM* get_source() const { return m_source; }
    // Next sink of the same driver, null at the end.
    CDB_ATOM_ITERM* get_next_fanout() const { return m_next_fanout; }
    CDB_ATOM_ITERM* get_prev_fanout() const { return m_prev_fanout; }
    // Connects to oterm (appended to its fanout list); same as oterm->insert_fanout(this).
    void insert_fanin(CDB_ATOM_OTERM* oterm);

    // Port usages: a term may serve several port types at once.
    bool is_used_as(int port_type) const;
    // First usage, DB_MAX_INPUT_PORT_TYPE when none.
    int get_any_usage_as() const;
    int get_usage_count() const;
    int get_usage(int i) const { return m_usage[i] == NO_USAGE ? int(DB_MAX_INPUT_PORT_TYPE) : int(m_usage[i]); }
    // Internal error when MAX_USAGES are in use already.
    void set_usage_as(int port_type);
    void clear_usage_as(int port_type);

    // 16-bit unordered port index and literal index.
    int get_port_index() const { return static_cast<int>((m_prop & P_INDEX_MASK) >> P_INDEX_SHIFT); }
    void set_port_index(int index);
    int get_literal_index() const { return m_literal_index; }
    void set_literal_index(int index) { m_literal_index = static_cast<uint16_t>(index); }

    // The logical value is the complement of the physical one: inversion XOR (port active low).
    bool reads_complemented() const { return is_inverted() ^ !is_active_high(); }
    // Logical constants: physical constant XOR reads_complemented.
    bool is_logical_vcc() const;
    bool is_logical_gnd() const;
    // Tie to the physical constant that reads as logical 1 / 0.
    void set_logical_vcc();
    void set_logical_gnd();

    // Port polarity of this input (true unless the port inverts).
    bool is_active_high() const { return (m_prop & P_ACTIVE_LOW) == 0; }
    void set_active_high(bool high)
    {
        if (high) m_prop &= ~uint32_t(P_ACTIVE_LOW);
        else m_prop |= P_ACTIVE_LOW;
    }

    // 5-bit signed global-network setting (-16 .. 15); only the low 5 bits are stored.
    int get_global() const;
    void set_global(int value);
    bool is_global() const { return get_global() != 0; }

    // Delay chain: only DB_DELAY_CHAIN_INPUT (8) exists; other types read as
    // unset and writes to them are ignored.
    bool is_connected_to_delay_chain(int chain) const;
    void set_connected_to_delay_chain(int chain, bool on);
    bool use_delay_chain(int chain) const;
    int get_delay_chain_index(int chain) const;  // -1 when unset
    // Setting an index makes the chain used.
    void set_delay_chain_index(int chain, int index);
    bool has_user_delay_chain(int chain) const;
    void set_user_delay_chain(int chain, bool on);
    // Clears connected, use, user and index.
    void reset_delay_chain(int chain);

    // Name of the first usage ("dataa", "clk", ...).
    const char* get_wysiwyg_port_name() const { return cdb_input_port_name(get_any_usage_as()); }

    // Raw property word (connection state, inversion, polarity, global,
    // delay-chain flags, port index, signal probe), for the native format
    // and archives.
    uint32_t get_property_word() const { return m_prop; }

private:
    static constexpr uint16_t NO_USAGE = 0xffff;
    uint16_t m_usage[MAX_USAGES] = {NO_USAGE, NO_USAGE, NO_USAGE, NO_USAGE};
    uint16_t m_literal_index = 0;
    int16_t m_delay_chain_index = -1;

    friend class CDB_NATIVE_READER_ACCESS;
};

// ---------------------------------------------------------------- output terms

class CDB_NET_OTERM
{
public:
    class fanout_iterator
    {
    public:
        using iterator_category = std::forward_iterator_tag;
        using value_type = CDB_ATOM_ITERM*;
        using difference_type = std::ptrdiff_t;
        using pointer = CDB_ATOM_ITERM**;
        using reference = CDB_ATOM_ITERM*;
        fanout_iterator() = default;
        explicit fanout_iterator(CDB_ATOM_ITERM* t) : m_term(t) {}
        CDB_ATOM_ITERM* operator*() const { return m_term; }
        fanout_iterator& operator++();
        fanout_iterator operator++(int)
        {
            auto r = *this;
            ++*this;
            return r;
        }
        bool operator==(const fanout_iterator& o) const { return m_term == o.m_term; }
        bool operator!=(const fanout_iterator& o) const { return m_term != o.m_term; }

    private:
        CDB_ATOM_ITERM* m_term = nullptr;
    };

    // Fanout in connection order. Removing the current sink invalidates the
    // iterator: advance first.
    fanout_iterator begin_iterm_fanout() const { return fanout_iterator(m_first_fanout); }
    fanout_iterator end_iterm_fanout() const { return fanout_iterator(); }
    CDB_ATOM_ITERM* get_first_fanout() const { return m_first_fanout; }
    CDB_ATOM_ITERM* get_last_fanout() const { return m_last_fanout; }
    bool has_fanout() const { return m_first_fanout != nullptr; }
    int get_number_of_fanout() const { return static_cast<int>(m_fanout_count); }
    // Distinct sink nodes.
    int get_number_of_fanout_nodes() const;

    // Connects iterm (appended); it leaves its previous source or constant
    // first. Connecting a term that is already a sink of this term is a no-op.
    void insert_fanout(CDB_ATOM_ITERM* iterm);
    // Disconnects one sink; it ends unconnected. Internal error when iterm is not a sink.
    void remove_fanout(CDB_ATOM_ITERM* iterm);
    // Disconnects every sink (they end unconnected).
    void remove_all_fanouts();
    // Moves every sink of old_term to this term, keeping their order; they
    // go after this term's own sinks, or before them when at_front.
    void adopt_fanouts(CDB_NET_OTERM* old_term, bool at_front = false);

protected:
    CDB_ATOM_NODE* m_node = nullptr;
    CDB_ATOM_ITERM* m_first_fanout = nullptr;
    CDB_ATOM_ITERM* m_last_fanout = nullptr;
    uint32_t m_fanout_count = 0;

    void link_back(CDB_ATOM_ITERM* t);
    void unlink(CDB_ATOM_ITERM* t);
    friend class CDB_NET_ITERM;
    friend class CDB_ATOM_ITERM;
};

class CDB_ATOM_OTERM : public CDB_NET_OTERM
{
public:
    CDB_ATOM_OTERM(CDB_ATOM_NODE* node, int port_type);
    // Disconnects every sink (they stay on their nodes, unconnected).
    ~CDB_ATOM_OTERM();
    CDB_ATOM_OTERM(const CDB_ATOM_OTERM&) = delete;
    static void* operator new(size_t bytes) { return cdb_term_alloc(bytes); }
    static void operator delete(void* p, size_t bytes) { cdb_term_free(p, bytes); }
    CDB_ATOM_OTERM& operator=(const CDB_ATOM_OTERM&) = delete;

    CDB_ATOM_NODE* get_my_node() const { return m_node; }
    void set_my_node(CDB_ATOM_NODE* node) { m_node = node; }

    int get_usage() const { return m_usage; }
    bool is_used_as(int port_type) const { return m_usage == port_type; }
    int get_any_usage_as() const { return m_usage; }
    void set_usage_as(int port_type) { m_usage = static_cast<uint16_t>(port_type); }
    int get_port_index() const { return m_index; }
    void set_port_index(int index) { m_index = static_cast<uint16_t>(index); }

    HDB_INSTANCE_NAME* get_instance_name() const { return m_name; }
    void set_instance_name(HDB_INSTANCE_NAME* name) { m_name = name; }

    // Register output (DB_REG_OUT).
    bool is_registered() const { return m_usage == DB_REG_OUT; }

    // This output's own mask (comb, sum or carry function), kept by the node.
    CDB_LUTMASK get_lutmask() const;
    void set_lutmask(const CDB_LUTMASK& mask);

    // >= 0 for terms read from the input netlist, negative for terms made
    // during the run (the default).
    int get_host_index() const { return m_host_index; }
    void set_host_index(int index) { m_host_index = index; }

    const char* get_wysiwyg_port_name() const { return cdb_output_port_name(m_usage); }

    // The output shows its register's value inverted, so a netlist read
    // elsewhere must invert it back to observe the register.
    bool is_invert_observable() const { return m_invert_observable; }
    void set_invert_observable(bool on) { m_invert_observable = on; }

private:
    // First, so that it fills the base's tail padding.
    int32_t m_host_index = -1;
    HDB_INSTANCE_NAME* m_name = nullptr;
    uint16_t m_usage;
    uint16_t m_index = 0;
    bool m_invert_observable = false;
};
