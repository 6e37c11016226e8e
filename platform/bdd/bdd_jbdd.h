#pragma once
// Binary decision diagrams: managers as objects (any number alive at once)
// and reference-counted function handles bound to one manager.
//
// A manager keeps one node per distinct function up to negation: an edge to
// a node may be complemented. What the handles tell of a function does not
// depend on that:
//   - level() and variable() describe the top node, the same for f and !f;
//   - low_child() and high_child() are the cofactors of the function itself
//     by its top variable (for !f the negated cofactors of f);
//   - node_index() is equal for equal functions of one manager and differs
//     for different ones, f and !f included; it stays the same while a handle
//     to the function lives, through garbage collection and reordering;
//   - size() counts internal nodes, so f and !f have the same size and the
//     constants have size 0;
//   - get_cut_nodes() returns distinct functions.
// The constants have level var_count() (below every variable), variable -1,
// and are their own children.
//
// The manager never reorders on its own. Variable i is made by the first
// ithvar(i) or nithvar(i) (together with any smaller number not yet made), at
// the bottom of the order, so until the caller swaps levels a variable's
// number is its level. Swapping two adjacent levels is done in place and
// every live handle keeps its function and its node index.
//
// Memory: dead nodes are collected between operations (when the table runs
// short, or on garbage_collect), never while a handle refers to them; the
// table grows when an operation needs more room. A handle may outlive its
// manager: it can then still be copied, compared and destroyed, but not used
// in operations.

#include <cstdio>
#include <vector>

#include "bdd/bdd_kernel.h"

class BDD_JBDD_MGR;

class BDD_JBDD
{
public:
    BDD_JBDD() = default;                  // empty: equal only to another empty handle
    explicit BDD_JBDD(BDD_JBDD_MGR* mgr);  // the constant false of mgr
    BDD_JBDD(const BDD_JBDD& other) : m_kernel(other.m_kernel), m_edge(other.m_edge) { acquire(); }
    BDD_JBDD(BDD_JBDD&& other) noexcept : m_kernel(other.m_kernel), m_edge(other.m_edge) { other.m_kernel = nullptr; }
    BDD_JBDD& operator=(const BDD_JBDD& other);
    BDD_JBDD& operator=(BDD_JBDD&& other) noexcept;
    ~BDD_JBDD() { release(); }

    bool operator==(const BDD_JBDD& other) const
    {
        return m_kernel == other.m_kernel && (!m_kernel || m_edge == other.m_edge);
    }
    bool operator!=(const BDD_JBDD& other) const { return !(*this == other); }

    BDD_JBDD operator!() const;
    BDD_JBDD operator&(const BDD_JBDD& g) const;
    BDD_JBDD operator|(const BDD_JBDD& g) const;
    BDD_JBDD operator^(const BDD_JBDD& g) const;
    BDD_JBDD& operator&=(const BDD_JBDD& g) { return *this = *this & g; }
    BDD_JBDD& operator|=(const BDD_JBDD& g) { return *this = *this | g; }
    BDD_JBDD& operator^=(const BDD_JBDD& g) { return *this = *this ^ g; }

    BDD_JBDD Ite(const BDD_JBDD& g, const BDD_JBDD& h) const;  // this ? g : h
    BDD_JBDD Compose(const BDD_JBDD& g, int var) const;        // g in place of var
    // Generalised cofactor: agrees with this function wherever c holds and
    // takes elsewhere the value at the nearest point of c, where a variable
    // weighs the more the higher it stands in the present order. By the
    // constant false it is false; by a literal it is the plain cofactor.
    BDD_JBDD Constrain(const BDD_JBDD& c) const;
    // Quantify the variables of cube's support (a cube of positive literals
    // is the usual argument), or one variable.
    BDD_JBDD Exist(const BDD_JBDD& cube) const;
    BDD_JBDD Exist(int var) const;
    BDD_JBDD ForAll(const BDD_JBDD& cube) const;
    BDD_JBDD ForAll(int var) const;

    std::vector<int> build_support() const;  // top level first, in the present order
    int support_size() const;
    int size() const;
    int level() const;
    int variable() const;
    BDD_JBDD low_child() const;
    BDD_JBDD high_child() const;
    // The distinct functions at level cut_level or below that the top node
    // reaches through levels 0 .. cut_level - 1, constants included, in the
    // order of a depth-first walk that takes the low branch first.
    std::vector<BDD_JBDD> get_cut_nodes(int cut_level) const;
    unsigned node_index() const;

    bool is_empty() const { return m_kernel == nullptr; }

private:
    friend class BDD_JBDD_MGR;
    BDD_JBDD(bdd_detail::BDD_KERNEL* kernel, bdd_detail::EDGE edge) : m_kernel(kernel), m_edge(edge) { acquire(); }
    void acquire()
    {
        if (!m_kernel) return;
        m_kernel->inc_ref(m_edge);
        m_kernel->add_handle();
    }
    void release()
    {
        if (!m_kernel) return;
        m_kernel->dec_ref(m_edge);
        if (m_kernel->drop_handle()) bdd_detail::delete_kernel(m_kernel);
        m_kernel = nullptr;
    }
    bdd_detail::BDD_KERNEL* usable() const;                            // the kernel, checked
    bdd_detail::BDD_KERNEL* usable_with(const BDD_JBDD& other) const;  // the same for both

    bdd_detail::BDD_KERNEL* m_kernel = nullptr;
    bdd_detail::EDGE m_edge = 0;
};

class BDD_JBDD_MGR
{
public:
    // initial_nodes: node slots to start with; cache_entries: the smallest
    // computed-cache size (it grows with the node table); growth_step: the
    // fewest slots added when the table grows (it at least doubles);
    // auto_reorder: a request for reordering by the manager itself, which
    // this package does not do (it says so once on stderr); verbose: one line
    // on stderr per collection and growth.
    BDD_JBDD_MGR(int initial_nodes, int cache_entries, int growth_step, bool auto_reorder, bool verbose);
    ~BDD_JBDD_MGR();
    BDD_JBDD_MGR(const BDD_JBDD_MGR&) = delete;
    BDD_JBDD_MGR& operator=(const BDD_JBDD_MGR&) = delete;

    // The manager never reorders by itself; kept for callers that say so.
    void disable_reorder() {}

    BDD_JBDD true_bdd() { return BDD_JBDD(m_kernel, bdd_detail::EDGE_TRUE); }
    BDD_JBDD false_bdd() { return BDD_JBDD(m_kernel, bdd_detail::EDGE_FALSE); }
    BDD_JBDD ithvar(int var) { return BDD_JBDD(m_kernel, m_kernel->var_edge(var)); }
    BDD_JBDD nithvar(int var) { return BDD_JBDD(m_kernel, bdd_detail::edge_not(m_kernel->var_edge(var))); }

    int var_count() const { return m_kernel->var_count(); }
    int variable_at(int level) const { return m_kernel->var_at_level(level); }  // -1 outside the order
    int level_of_var(int var) const { return m_kernel->level_of_var(var); }     // -1 for a variable not made

    void garbage_collect() { m_kernel->collect_garbage(); }

    // Swaps are valid at any time; begin and end bracket a caller's series
    // of them and may not nest.
    void begin_reorder();
    void swap_adjacent_variables(int var_a, int var_b);  // the two must stand on adjacent levels
    void end_reorder();

    // The functions in dot form: one graph, a labelled arrow f<i> to each.
    void fprint_bdds_as_dot(FILE* fp, const std::vector<BDD_JBDD>& bdds);

    bdd_detail::BDD_STATS get_stats() const { return m_kernel->stats(); }

private:
    friend class BDD_JBDD;
    bdd_detail::BDD_KERNEL* m_kernel;
    bool m_in_reorder = false;
};
