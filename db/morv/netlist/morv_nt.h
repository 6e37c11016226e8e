#pragma once

// Node tracking: how netlist nodes turned into other nodes while the
// optimisations ran (a register duplicated, registers merged, a register
// packed into or out of a block's input or output registers, ...). Each
// transformation is an operation from source node ids to destination node
// ids; afterwards the record answers, for a tracked node, the earlier nodes
// it came from (roots) and the final nodes it became (leaves). One record
// spans the early, clustering and late flows of a compile; snapshots copy it.

#include <cstddef>
#include <cstdio>
#include <iosfwd>
#include <map>
#include <string>
#include <vector>

#include "mem_alloc_sys.h"

enum MORV_NT_TYPE : int
{
    MORV_NT_TYPE_NO_TYPE = 0,
    MORV_NT_TYPE_MERGE = 1,
    MORV_NT_TYPE_SPLIT = 2,
    MORV_NT_TYPE_REUSE = 3,
    MORV_NT_TYPE_DUPLICATE = 4,
    MORV_NT_TYPE_PACK_INPUT = 5,
    MORV_NT_TYPE_PACK_OUTPUT = 6,
    MORV_NT_TYPE_UNPACK_INPUT = 7,
    MORV_NT_TYPE_UNPACK_OUTPUT = 8,
    MORV_NT_TYPE_REPACK_I_I = 9,
    MORV_NT_TYPE_REPACK_I_O = 10,
    MORV_NT_TYPE_REPACK_O_I = 11,
    MORV_NT_TYPE_REPACK_O_O = 12,
    MORV_NT_TYPE_END = 13  // ends the list; no type
};

// Printed name of an operation type ("FSYN_NT_MERGE", ...).
const char* morv_nt_type_name(int type);

enum MORV_NT_LR : int
{
    MORV_NT_LR_LEAVES = 0,
    MORV_NT_LR_ROOTS = 1
};

// A tracked node: an atom, or one of the registers packed into it.
struct MORV_NT_NODE_ID
{
    enum KIND : int
    {
        NODE = 0,
        PACKED_INPUT_REG_A = 1,
        PACKED_INPUT_REG_B = 2,
        PACKED_OUTPUT_REG = 3
    };

    // Implicit from an atom id: the atom itself.
    MORV_NT_NODE_ID(int atom_id = -1, int kind = NODE);

    bool operator<(const MORV_NT_NODE_ID& other) const
    {
        return m_atom_id != other.m_atom_id ? m_atom_id < other.m_atom_id : m_kind < other.m_kind;
    }
    bool operator==(const MORV_NT_NODE_ID& other) const = default;

    // "<%d%s>" with brackets, "%d%s" without: the atom id and the kind's suffix.
    std::string to_string(bool brackets) const;

    int m_atom_id;
    int m_kind;
};

// The plain form.
std::ostream& operator<<(std::ostream& out, const MORV_NT_NODE_ID& id);

using MORV_NT_NODE_ID_LIST = std::vector<MORV_NT_NODE_ID, MORV_ALLOCATOR<MORV_NT_NODE_ID>>;
using MORV_NT_OPERATION_ID_LIST = std::vector<int, MORV_ALLOCATOR<int>>;

// Index 0 of the two-way lists: sources; index 1: destinations.
enum MORV_NT_SIDE : int
{
    MORV_NT_SRC = 0,
    MORV_NT_DST = 1
};

struct MORV_NT_OPERATION
{
    int m_id = 0;  // index in the operation vector
    MORV_NT_NODE_ID_LIST m_node_lists[2];
    int m_type = MORV_NT_TYPE_NO_TYPE;
    std::string m_comment;
};

// The operations a tracked node takes part in, in recording order.
struct MORV_NT_NODE
{
    MORV_NT_OPERATION_ID_LIST m_operation_lists[2];  // [MORV_NT_SRC]: as a source, [MORV_NT_DST]: as a destination
};

class MORV_NT_IMPL
{
public:
    using NODE_MAP = std::map<MORV_NT_NODE_ID, MORV_NT_NODE, std::less<MORV_NT_NODE_ID>,
                              MORV_ALLOCATOR<std::pair<const MORV_NT_NODE_ID, MORV_NT_NODE>>>;
    using OPERATION_LIST = std::vector<MORV_NT_OPERATION, MORV_ALLOCATOR<MORV_NT_OPERATION>>;

    int record(const MORV_NT_NODE_ID* src_nodes, size_t num_src, const MORV_NT_NODE_ID* dst_nodes, size_t num_dst,
               bool distinct, int type, std::string&& comment);
    const MORV_NT_NODE* find_node(const MORV_NT_NODE_ID& id) const;
    bool get_leaves_or_roots(const MORV_NT_NODE_ID& id, MORV_NT_NODE_ID_LIST* result, int leaves_or_roots) const;
    void dump(std::FILE* fp) const;
    void clear();

    const NODE_MAP& get_nodes() const { return m_nodes; }
    const OPERATION_LIST& get_operations() const { return m_operations; }

private:
    void add_node_to_operation(const MORV_NT_NODE_ID& id, MORV_NT_OPERATION& operation, int side);

    NODE_MAP m_nodes;
    OPERATION_LIST m_operations;
};

class MORV_NT
{
public:
    MORV_NT();
    // A new implementation holding copies of the nodes and operations.
    MORV_NT(const MORV_NT& other);
    MORV_NT& operator=(const MORV_NT&) = delete;
    ~MORV_NT();

    // Empties the record; the next operation gets id 0.
    void clear();

    // Each returns the new operation's id. The list forms record each
    // distinct id of the list once, in list order; the single form records
    // its two ids as given, also when they are the same node.
    int record_operation(const MORV_NT_NODE_ID& src_node_id, const MORV_NT_NODE_ID& dst_node_id, int type,
                         std::string comment);
    int record_operation_from_many(const MORV_NT_NODE_ID_LIST* src_nodes_id, const MORV_NT_NODE_ID& dst_node_id,
                                   int type, std::string comment);
    int record_operation_to_many(const MORV_NT_NODE_ID& src_node_id, const MORV_NT_NODE_ID_LIST* dst_nodes_id, int type,
                                 std::string comment);

    // Null when the id was never recorded.
    const MORV_NT_NODE* find_node(const MORV_NT_NODE_ID& id) const;

    // The end nodes reached from id forwards (leaves) or backwards (roots),
    // in the order first reached; a node with no operation that way is its
    // own leaf or root. False with an empty result for an untracked id.
    bool get_leaves_or_roots(const MORV_NT_NODE_ID& id, MORV_NT_NODE_ID_LIST* result, int leaves_or_roots) const;

    // Every operation, then every tracked node with its roots and leaves.
    void dump_to_file(const char* file_name) const;

    int get_number_of_operations() const { return static_cast<int>(m_impl->get_operations().size()); }
    const MORV_NT_IMPL& get_impl() const { return *m_impl; }

private:
    MORV_OWNER<MORV_NT_IMPL> m_impl;
};
