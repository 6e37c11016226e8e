#pragma once

// The netlist checks' picture of one netlist state: every atom, and each
// register stage of a DSP block, as a node with its clock colour and its
// inbound connections, the register chains that continue a clock-domain
// crossing, and the synchronizers found by walking back from each clocked
// atom. Two such pictures, related through
// node tracking, tell whether a flow touched what it must leave alone.

#include <cstdint>
#include <iosfwd>
#include <map>
#include <optional>
#include <set>
#include <string>

#include "morv/netlist/morv_nt.h"

class CDB_ATOM_NETLIST;
class CDB_ATOM_NODE;
class CDB_ATOM_ITERM;
class CDB_ATOM_OTERM;
class MORV_NET_UTIL;

// The checks' own log in front of the leveled logger: text passes only
// while the log's level is within its threshold, so without a debug switch
// the checks write nothing (they still count and fail).
class MORV_DRC_LOG
{
public:
    static constexpr int s_LEVEL = 2;
    // The threshold the debug switches give.
    MORV_DRC_LOG();
    explicit MORV_DRC_LOG(int threshold) : m_threshold(threshold) {}

    bool is_on() const { return s_LEVEL <= m_threshold; }
    // Hands one finished message to the leveled logger at level.
    void write(int level, const std::string& text) const;

private:
    int m_threshold;
};

// The port type of the connections that join a DSP block to the nodes of
// its register stages; no host port has it.
constexpr int MORV_DRC_INTERNAL_MAC_PORT = -1;

struct MORV_DRC_SOURCE_TRAITS
{
    static const char* port_name(int port_type);
};
struct MORV_DRC_DEST_TRAITS
{
    static const char* port_name(int port_type);
};

// A terminal of an atom, ordered by atom id, then index, then port type.
template <typename TRAITS>
struct MORV_DRC_SIGNAL_ENDPOINT
{
    MORV_NT_NODE_ID m_id;
    int m_index = 0;
    int m_port_type = 0;

    bool operator<(const MORV_DRC_SIGNAL_ENDPOINT& o) const
    {
        if (m_id < o.m_id || o.m_id < m_id) return m_id < o.m_id;
        if (m_index != o.m_index) return m_index < o.m_index;
        return m_port_type < o.m_port_type;
    }
    bool operator==(const MORV_DRC_SIGNAL_ENDPOINT& o) const = default;
    const char* port_name() const { return TRAITS::port_name(m_port_type); }
};

using MORV_DRC_SOURCE = MORV_DRC_SIGNAL_ENDPOINT<MORV_DRC_SOURCE_TRAITS>;
using MORV_DRC_DEST = MORV_DRC_SIGNAL_ENDPOINT<MORV_DRC_DEST_TRAITS>;

std::ostream& operator<<(std::ostream& out, const MORV_DRC_SOURCE& endpoint);
std::ostream& operator<<(std::ostream& out, const MORV_DRC_DEST& endpoint);

// Whether an input port type is one of the asynchronous ones (clocks,
// clears, asynchronous loads and their kin on every block type).
bool morv_drc_is_async_port(int input_port_type);

// One connection into an atom.
struct MORV_DRC_INBOUND
{
    MORV_DRC_SOURCE m_source;
    MORV_DRC_DEST m_dest;
    uint64_t m_lut_mask = 0;  // the driver's mask when its source is not registered
    bool m_registered = false;
    bool m_async = false;
};

std::ostream& operator<<(std::ostream& out, const MORV_DRC_INBOUND& inbound);

enum MORV_DRC_MARK : int
{
    MORV_DRC_MARK_NONE = 0,
    MORV_DRC_MARK_REACHED = 1,
    MORV_DRC_MARK_RECONVERGENT = 2,
    MORV_DRC_MARK_ASYNC = 3
};

struct MORV_DRC_NODE
{
    MORV_NT_NODE_ID m_id;
    bool m_dont_touch = false;  // in the combinational fan-in of an asynchronous input
    int m_mark = MORV_DRC_MARK_NONE;
    std::optional<MORV_DRC_SOURCE> m_clock;  // the signal on its clock input
    std::map<MORV_DRC_DEST, MORV_DRC_INBOUND> m_inbound;
    std::optional<MORV_NT_NODE_ID> m_successor;  // the one atom continuing a chain
    bool m_chain_member = false;                 // a wire register of its predecessor
};

std::ostream& operator<<(std::ostream& out, const MORV_DRC_NODE& node);

enum MORV_DRC_CLASS : int
{
    MORV_DRC_TRIVIAL = 0,
    MORV_DRC_NON_RECONVERGENT = 1,
    MORV_DRC_RECONVERGENT = 2,
    MORV_DRC_CLASS_COUNT = 3
};

const char* morv_drc_class_name(int strength_class);

struct MORV_DRC_SYNCHRONIZER
{
    MORV_NT_NODE_ID m_source;
    MORV_NT_NODE_ID m_dest;
    // Filled for a reference synchronizer mapped onto the new netlist.
    std::optional<MORV_NT_NODE_ID> m_from_source;
    std::optional<MORV_NT_NODE_ID> m_from_dest;
    MORV_DRC_SOURCE m_colour;
    int m_stages = 0;

    // The ids it was mapped from take no part in the order.
    bool operator<(const MORV_DRC_SYNCHRONIZER& o) const;
};

std::ostream& operator<<(std::ostream& out, const MORV_DRC_SYNCHRONIZER& sync);

class MORV_DRC_SYNCHRONIZER_REGISTRY
{
public:
    using SET = std::set<MORV_DRC_SYNCHRONIZER>;

    // Puts sync into the set of its class and out of the other two.
    void add(const MORV_DRC_SYNCHRONIZER& sync, int strength_class);
    const SET& get(int strength_class) const { return m_classes[strength_class]; }
    size_t size() const;

private:
    SET m_classes[MORV_DRC_CLASS_COUNT];
};

std::ostream& operator<<(std::ostream& out, const MORV_DRC_SYNCHRONIZER_REGISTRY& registry);

// The snapshot of one netlist state.
class MORV_DRC_INST_SET
{
public:
    using NODE_MAP = std::map<MORV_NT_NODE_ID, MORV_DRC_NODE>;

    // Builds every node of the netlist and registers its synchronizers.
    MORV_DRC_INST_SET(const CDB_ATOM_NETLIST* netlist, const MORV_NET_UTIL* net_util,
                      MORV_DRC_SYNCHRONIZER_REGISTRY* registry, const MORV_DRC_LOG& log);

    const NODE_MAP& get_nodes() const { return m_nodes; }
    const MORV_DRC_NODE* find(const MORV_NT_NODE_ID& id) const;
    const std::set<MORV_DRC_SOURCE>& get_globals() const { return m_globals; }
    size_t get_global_count() const { return m_globals.size(); }

private:
    struct SEARCH;

    void add_node(CDB_ATOM_NODE* atom);
    void add_connection(MORV_DRC_NODE& node, CDB_ATOM_ITERM* iterm);
    void add_mac_clock(MORV_DRC_NODE& node, CDB_ATOM_NODE* mac);
    void add_mac_stages(MORV_DRC_NODE& block, CDB_ATOM_NODE* mac);
    MORV_DRC_NODE& add_mac_stage(MORV_DRC_NODE& block, CDB_ATOM_NODE* mac, int kind, int clock_slot, int clear_slot);
    void choose_successor(MORV_DRC_NODE& node, CDB_ATOM_NODE* atom);
    void mark_chain_members();
    int count_stages(const MORV_NT_NODE_ID& dest, const MORV_DRC_SOURCE& colour) const;
    void search_from(MORV_DRC_NODE& root);
    void search(MORV_DRC_NODE& root, int mark);
    void reach_registered(SEARCH& search, const MORV_DRC_NODE& from, MORV_DRC_NODE& source, int mark);
    void register_synchronizer(const MORV_DRC_NODE& source, const MORV_DRC_NODE& root, int strength_class);

    const MORV_NET_UTIL* m_net_util;
    MORV_DRC_SYNCHRONIZER_REGISTRY* m_registry;
    const MORV_DRC_LOG& m_log;
    NODE_MAP m_nodes;
    std::set<MORV_DRC_SOURCE> m_globals;
    std::set<MORV_NT_NODE_ID> m_chain_ids;  // wire registers met while the nodes are built
};

std::ostream& operator<<(std::ostream& out, const MORV_DRC_INST_SET& snapshot);

// A wire LUT: a combinational cell passing its one connected LUT input on
// unchanged. A wire register: a register copying its one data input.
bool morv_drc_is_wire_lut(const CDB_ATOM_NODE* atom, const MORV_NET_UTIL* net_util, const MORV_DRC_LOG& log);
bool morv_drc_is_wire_register(const CDB_ATOM_NODE* atom, const MORV_DRC_LOG& log);
