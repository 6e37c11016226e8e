#pragma once
// The machinery behind BDD_JBDD_MGR and BDD_JBDD: the node store with its
// per-variable unique tables, the computed cache, reference counts and
// garbage collection, in-place level swaps and the read-only walks. Callers
// use bdd_jbdd.h; this header is visible only so that handle copies stay
// inline.
//
// Functions are edges with complement bits: an edge is a node index shifted
// left by one, with bit 0 set when the edge stands for the negation of the
// node's function. Node 0 is the constant one, so edge 0 is true and edge 1
// false. The high edge stored in a node is never complemented, which makes
// every function's representation unique.

#include <cstdint>
#include <cstdio>
#include <vector>

namespace bdd_detail {

using EDGE = uint32_t;
constexpr EDGE EDGE_TRUE = 0;
constexpr EDGE EDGE_FALSE = 1;

constexpr uint16_t VAR_CONST = 0xFFFF;  // variable of the constant node
constexpr uint16_t VAR_FREE = 0xFFFE;   // marks a node on the free list
constexpr int MAX_VARS = 0xFFFE;
constexpr uint16_t REF_MAX = 0xFFFF;  // a count that reached it never drops again
constexpr uint32_t LEVEL_CONST = 0xFFFFFFFFu;

inline EDGE edge_not(EDGE e)
{
    return e ^ 1u;
}
inline uint32_t edge_index(EDGE e)
{
    return e >> 1;
}
inline EDGE edge_regular(EDGE e)
{
    return e & ~1u;
}
inline bool edge_constant(EDGE e)
{
    return e <= EDGE_FALSE;
}

struct BDD_NODE
{
    EDGE hi;  // never complemented
    EDGE lo;
    uint32_t next;  // unique-table chain, or the free list
    uint16_t var;
    uint16_t ref;  // parents plus handles, saturating at REF_MAX
};

struct BDD_STATS
{
    long long capacity = 0;   // node slots
    long long allocated = 0;  // nodes in the unique tables, dead ones included
    long long dead = 0;       // allocated nodes that nothing references
    long long cache_entries = 0;
    long long collections = 0;
    long long growths = 0;
    long long nodes_freed = 0;  // by collections and swaps together
};

class BDD_KERNEL
{
public:
    BDD_KERNEL(int initial_nodes, int cache_entries, int growth_step, bool verbose);
    ~BDD_KERNEL();
    BDD_KERNEL(const BDD_KERNEL&) = delete;
    BDD_KERNEL& operator=(const BDD_KERNEL&) = delete;

    // ---- references and lifetime
    void inc_ref(EDGE e)
    {
        BDD_NODE& n = m_nodes[edge_index(e)];
        if (n.ref == REF_MAX) return;
        if (n.ref++ == 0) --m_dead;
    }
    void dec_ref(EDGE e)
    {
        BDD_NODE& n = m_nodes[edge_index(e)];
        if (n.ref == REF_MAX) return;
        if (--n.ref == 0) ++m_dead;
    }
    // Handles keep the kernel alive after its manager is gone, so that a
    // handle destroyed late does not touch freed memory.
    void add_handle() { ++m_handles; }
    bool drop_handle() { return --m_handles == 0 && m_orphaned; }
    bool orphan()
    {
        m_orphaned = true;
        return m_handles == 0;
    }
    bool is_orphaned() const { return m_orphaned; }

    // ---- variables and levels
    EDGE var_edge(int var);  // creates the missing variables up to var, each at the bottom
    int var_count() const { return static_cast<int>(m_level2var.size()); }
    int level_of_var(int var) const;
    int var_at_level(int level) const;

    // ---- one edge
    uint32_t level(EDGE e) const { return m_var2level[m_nodes[edge_index(e)].var]; }
    int variable(EDGE e) const;
    EDGE high(EDGE e) const { return m_nodes[edge_index(e)].hi ^ (e & 1u); }
    EDGE low(EDGE e) const { return m_nodes[edge_index(e)].lo ^ (e & 1u); }

    // ---- operations; each first does the pending housekeeping
    EDGE apply_and(EDGE f, EDGE g);
    EDGE apply_or(EDGE f, EDGE g) { return edge_not(apply_and(edge_not(f), edge_not(g))); }
    EDGE apply_xor(EDGE f, EDGE g);
    EDGE apply_ite(EDGE f, EDGE g, EDGE h);
    EDGE apply_exist(EDGE f, EDGE vars);  // every variable of vars' support
    EDGE apply_compose(EDGE f, EDGE g, int var);
    EDGE apply_constrain(EDGE f, EDGE c);

    // ---- walks (no housekeeping, no new nodes)
    int count_nodes(EDGE f);
    std::vector<int> support(EDGE f);
    std::vector<EDGE> cut_edges(EDGE f, int cut_level);
    void write_dot(FILE* fp, const std::vector<EDGE>& roots);

    // ---- memory and order
    void collect_garbage();
    void swap_levels(int upper);  // exchanges the variables at levels upper and upper + 1
    BDD_STATS stats() const;

private:
    struct SUBTABLE
    {
        std::vector<uint32_t> buckets;  // chain heads, a power of two of them
        uint32_t count = 0;
    };
    struct CACHE_ENTRY
    {
        uint32_t a, b, c;
        EDGE r;
    };

    // kernel.cpp: store, tables, cache, collection
    uint32_t alloc_node();
    void free_node(uint32_t n);
    void grow_nodes();
    void resize_cache(uint32_t entries);
    void clear_cache();
    void clean_cache();
    void prepare_op();
    EDGE make_node(uint16_t var, EDGE hi, EDGE lo);
    void table_insert(uint16_t var, uint32_t n);
    void table_remove(uint16_t var, uint32_t n);
    void grow_table(SUBTABLE& t);
    void add_var();
    bool cache_find(uint32_t a, uint32_t b, uint32_t c, EDGE& r) const;
    void cache_store(uint32_t a, uint32_t b, uint32_t c, EDGE r);

    // apply.cpp: the recursions
    struct SPLIT
    {  // the cofactors of two functions by the higher of their top variables
        uint16_t var;
        EDGE f1, f0, g1, g0;
    };
    SPLIT split(EDGE f, EDGE g) const;
    EDGE and_rec(EDGE f, EDGE g);
    EDGE xor_rec(EDGE f, EDGE g);
    EDGE ite_rec(EDGE f, EDGE g, EDGE h);
    EDGE exist_rec(EDGE f, EDGE cube);
    EDGE compose_rec(EDGE f, EDGE g, uint16_t var, uint32_t var_level);
    EDGE constrain_rec(EDGE f, EDGE c);
    EDGE positive_cube(EDGE vars);

    // swap.cpp
    void detach_dependents(uint16_t x, uint16_t y, std::vector<uint32_t>& moved, std::vector<uint32_t>& dying);
    void rebuild_dependent(uint32_t n, uint16_t x, uint16_t y, std::vector<uint32_t>& dying);
    void release_child(EDGE e, uint16_t y, std::vector<uint32_t>& dying);

    // walk.cpp
    uint32_t next_epoch();
    bool mark(EDGE e);  // false when already marked in this walk

    BDD_NODE* m_nodes = nullptr;
    uint32_t m_capacity = 0;
    uint32_t m_free_head = 0;
    uint32_t m_free_count = 0;
    uint32_t m_dead = 0;
    uint32_t m_growth_step;
    bool m_verbose;

    std::vector<SUBTABLE> m_tables;     // per variable
    std::vector<uint32_t> m_var2level;  // MAX_VARS + 2 entries; VAR_CONST maps to LEVEL_CONST
    std::vector<uint16_t> m_level2var;
    std::vector<EDGE> m_var_edges;  // the projection of each variable, held for good

    std::vector<CACHE_ENTRY> m_cache;
    uint32_t m_cache_mask = 0;
    uint32_t m_cache_min;
    bool m_cache_stale = false;  // a swap changed the order or freed nodes

    std::vector<uint32_t> m_marks;  // per node: epoch of the last walk that met it, and which edges
    std::vector<uint32_t> m_var_marks;
    uint32_t m_epoch = 0;
    std::vector<uint32_t> m_swap_moved;
    std::vector<uint32_t> m_swap_dying;

    long long m_handles = 0;
    bool m_orphaned = false;
    BDD_STATS m_stats;
};

// Out of line: deleting where a handle's release is inlined makes GCC warn
// of a use after free that cannot happen.
void delete_kernel(BDD_KERNEL* kernel);

}  // namespace bdd_detail
