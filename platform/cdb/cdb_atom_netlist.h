#pragma once
// The atom netlist: everything a user of the atom database needs comes in
// through this header.
//
// Typical use:
//   HDB_NAME_MGR names("top");
//   CDB_ATOM_NETLIST netlist(CDB_FAMILY_BRK);
//   netlist.set_name_mgr(&names);
//   HDB_INSTANCE_NAME* n = names.find_or_create_path("u1", HDB_INAME_FLAG_FROM_NETLIST);
//   CDB_ATOM_NODE* lut = cdb_create_atom(CDB_FAMILY_BRK, CDB_KIND_LCELL_COMB, n);
//   netlist.add_node(lut);
//   CDB_ATOM_ITERM* a = lut->add_input_term(DB_DATA_A);
//   CDB_ATOM_OTERM* y = lut->add_output_term(DB_COMB_OUT, n);
//   lut->set_lutmask(CDB_LUTMASK(6, mask));       // raw bits, family order
//   some_oterm->insert_fanout(a);                   // connect
//   a->set_logical_vcc();                           // or tie to a constant
//   for (auto it = netlist.begin_node_list(); it != netlist.end_node_list(); ++it) { CDB_ATOM_NODE* n = *it; ... }
//   lut->evaluate_output(DB_COMB_OUT, values);      // LUT function in the family's bit order
//
// The node list keeps creation (insertion) order. Deleting a node other
// than the one the walk stands on is safe; to delete the current node,
// advance the iterator first. Nodes appended during a walk are reached by it.

#include <cstdint>
#include <iterator>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "cdb/cdb_atom_node.h"
#include "cdb/cdb_atom_terms.h"
#include "cdb/cdb_lutmask.h"
#include "cdb/cdb_types.h"
#include "hdb/hdb_instance_name.h"

class CDB_ATOM_NETLIST
{
public:
    class node_iterator
    {
    public:
        using iterator_category = std::forward_iterator_tag;
        using value_type = CDB_ATOM_NODE*;
        using difference_type = std::ptrdiff_t;
        using pointer = CDB_ATOM_NODE**;
        using reference = CDB_ATOM_NODE*;
        node_iterator() = default;
        explicit node_iterator(CDB_ATOM_NODE* n) : m_node(n) {}
        CDB_ATOM_NODE* operator*() const { return m_node; }
        node_iterator& operator++()
        {
            m_node = m_node->get_next_in_list();
            return *this;
        }
        node_iterator operator++(int)
        {
            auto r = *this;
            ++*this;
            return r;
        }
        bool operator==(const node_iterator& o) const { return m_node == o.m_node; }
        bool operator!=(const node_iterator& o) const { return m_node != o.m_node; }

    private:
        CDB_ATOM_NODE* m_node = nullptr;
    };

    explicit CDB_ATOM_NETLIST(int family = CDB_FAMILY_NONE);
    // Deletes its nodes when it owns them (the default), else only lets go of them.
    ~CDB_ATOM_NETLIST();
    CDB_ATOM_NETLIST(const CDB_ATOM_NETLIST&) = delete;
    CDB_ATOM_NETLIST& operator=(const CDB_ATOM_NETLIST&) = delete;

    int get_family() const { return m_family; }
    void set_family(int family) { m_family = family; }

    node_iterator begin_node_list() const { return node_iterator(m_head); }
    node_iterator end_node_list() const { return node_iterator(); }
    node_iterator begin() const { return begin_node_list(); }
    node_iterator end() const { return end_node_list(); }
    size_t get_node_count() const { return m_count; }

    // Appends node (internal error when it is in a netlist already or its id is taken here).
    void add_node(CDB_ATOM_NODE* node);
    // Takes node out of the list without disconnecting or deleting it.
    void remove_node(CDB_ATOM_NODE* node);
    // Disconnects every input and every fanout of its outputs (the sinks
    // keep their terms, unconnected), takes it out and frees it.
    void delete_node(CDB_ATOM_NODE* node);
    // Deletes every node.
    void clear();

    // Null for an id never used here or whose node was deleted or removed.
    CDB_ATOM_NODE* get_node_by_id(uint32_t id) const;
    // Largest id in use here; 0 when empty.
    uint32_t get_max_id() const;
    // No id in use here is below this one (0 when empty): with get_max_id,
    // the range a table by atom id needs.
    uint32_t get_min_id_bound() const { return m_count == 0 ? 0 : m_id_base; }

    // Moves every node of other to the end of this list (in other's order);
    // other is left empty. An id present in both is an internal error.
    void assimilate(CDB_ATOM_NETLIST* other);
    void set_own_all_nodes(bool own) { m_own_nodes = own; }
    bool get_own_all_nodes() const { return m_own_nodes; }

    // Names of this netlist's atoms (not owned unless set with owned true).
    HDB_NAME_MGR* get_name_mgr() const { return m_name_mgr; }
    void set_name_mgr(HDB_NAME_MGR* mgr, bool owned = false);
    // The name manager, created (owned, root "top") when there is none.
    HDB_NAME_MGR* get_or_create_name_mgr();

    // Record of output names made from other names during the run (new, origin).
    void add_new_atom_to_created_from_map(HDB_INSTANCE_NAME* new_name, HDB_INSTANCE_NAME* from_name);
    const std::vector<std::pair<HDB_INSTANCE_NAME*, HDB_INSTANCE_NAME*>>& get_created_from_map() const
    {
        return m_created_from;
    }
    // Points every record at the name of the same path in names (a manager
    // restored from an archive) and drops the records whose names it does
    // not hold: those atoms came after the restored state.
    void rebind_created_from(const HDB_NAME_MGR& names);

    // Checks every node's fanin and fanout links; false on the first broken one.
    bool verify() const;

private:
    int m_family;
    CDB_ATOM_NODE* m_head = nullptr;
    CDB_ATOM_NODE* m_tail = nullptr;
    size_t m_count = 0;
    std::vector<CDB_ATOM_NODE*> m_by_id;  // index = id - m_id_base
    uint32_t m_id_base = 0;
    mutable uint32_t m_max_id = 0;  // upper bound, tightened lazily
    bool m_own_nodes = true;
    HDB_NAME_MGR* m_name_mgr = nullptr;
    bool m_own_name_mgr = false;
    std::vector<std::pair<HDB_INSTANCE_NAME*, HDB_INSTANCE_NAME*>> m_created_from;
};

// The masks of every output term of a netlist's logic cells as they were
// when the cache was made: a timing estimator reads them through the cache
// while the netlist may be edited. While a cache lives it is the current
// one (get_current); deleting it clears that.
class CDB_ATOM_LUTMASK_CACHE
{
public:
    explicit CDB_ATOM_LUTMASK_CACHE(const CDB_ATOM_NETLIST* netlist);
    ~CDB_ATOM_LUTMASK_CACHE();
    CDB_ATOM_LUTMASK_CACHE(const CDB_ATOM_LUTMASK_CACHE&) = delete;
    CDB_ATOM_LUTMASK_CACHE& operator=(const CDB_ATOM_LUTMASK_CACHE&) = delete;

    // The segment is accepted and ignored like every segment here; the caller deletes the cache.
    static CDB_ATOM_LUTMASK_CACHE* init_lutmask_cache(const CDB_ATOM_NETLIST* netlist, MEM_SEGMENT* segment = nullptr);
    static CDB_ATOM_LUTMASK_CACHE* get_current() { return s_current; }

    // The cached mask of the node's output of that type; a node or output
    // that was not cached answers its live mask.
    CDB_LUTMASK get_lutmask(const CDB_ATOM_NODE* node, int output_port_type = DB_COMB_OUT) const;
    bool is_cached(const CDB_ATOM_NODE* node, int output_port_type = DB_COMB_OUT) const;
    size_t size() const { return m_masks.size(); }

private:
    static uint64_t key(uint32_t id, int port) { return (uint64_t(id) << 32) | uint32_t(port); }
    std::unordered_map<uint64_t, CDB_LUTMASK> m_masks;
    CDB_ATOM_LUTMASK_CACHE* m_previous;
    static CDB_ATOM_LUTMASK_CACHE* s_current;
};

// Native text format (see cdb_native_format.h for the grammar).
#include "cdb/cdb_native_format.h"
