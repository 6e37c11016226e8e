// In-place exchange of two adjacent levels.
//
// Call x the variable of the upper level and y that of the lower. A node of x
// without a child on y does not change at all: with x one level lower it is
// still ordered. A node of x with a child on y is rewritten in its own slot as
// a node of y over two nodes of x, found or made:
//     x ? (y ? f11 : f10) : (y ? f01 : f00)  =  y ? (x ? f11 : f01) : (x ? f10 : f00)
// so it keeps its index and its function, and every handle and parent that
// points at it stays right. Its high edge stays regular because f11 is. The
// nodes of y that lose their last parent in the process are freed at once;
// dead nodes of x that test y are freed first, since they would be out of
// order afterwards. Only the nodes of the two levels are touched.

#include "bdd/bdd_kernel.h"

#include "msg/msg.h"

namespace bdd_detail {

void BDD_KERNEL::swap_levels(int upper)
{
    MSG_ASSERT(upper >= 0 && upper + 1 < var_count(), "BDD");
    uint16_t x = m_level2var[size_t(upper)];
    uint16_t y = m_level2var[size_t(upper) + 1];
    m_swap_moved.clear();
    m_swap_dying.clear();
    detach_dependents(x, y, m_swap_moved, m_swap_dying);
    for (uint32_t n : m_swap_moved) rebuild_dependent(n, x, y, m_swap_dying);
    for (uint32_t n : m_swap_dying) {
        const BDD_NODE node = m_nodes[n];
        if (node.var != y || node.ref != 0) continue;
        table_remove(y, n);
        --m_dead;
        dec_ref(node.hi);
        dec_ref(node.lo);
        free_node(n);
        ++m_stats.nodes_freed;
    }
    m_level2var[size_t(upper)] = y;
    m_level2var[size_t(upper) + 1] = x;
    m_var2level[y] = uint32_t(upper);
    m_var2level[x] = uint32_t(upper) + 1;
    // Cached results name only functions, which the swap keeps, except those
    // that depend on the order (constrain) and those that name freed nodes.
    m_cache_stale = true;
}

// Takes the nodes of x that test y out of x's table: live ones into moved,
// dead ones freed.
void BDD_KERNEL::detach_dependents(uint16_t x, uint16_t y, std::vector<uint32_t>& moved, std::vector<uint32_t>& dying)
{
    SUBTABLE& t = m_tables[x];
    for (uint32_t& head : t.buckets) {
        uint32_t* link = &head;
        while (uint32_t n = *link) {
            BDD_NODE& node = m_nodes[n];
            if (m_nodes[edge_index(node.hi)].var != y && m_nodes[edge_index(node.lo)].var != y) {
                link = &node.next;
                continue;
            }
            *link = node.next;
            --t.count;
            if (node.ref != 0) {
                moved.push_back(n);
                continue;
            }
            --m_dead;
            release_child(node.hi, y, dying);
            release_child(node.lo, y, dying);
            free_node(n);
            ++m_stats.nodes_freed;
        }
    }
}

void BDD_KERNEL::rebuild_dependent(uint32_t n, uint16_t x, uint16_t y, std::vector<uint32_t>& dying)
{
    EDGE f1 = m_nodes[n].hi, f0 = m_nodes[n].lo;
    EDGE f11 = f1, f10 = f1, f01 = f0, f00 = f0;
    if (m_nodes[edge_index(f1)].var == y) f11 = high(f1), f10 = low(f1);
    if (m_nodes[edge_index(f0)].var == y) f01 = high(f0), f00 = low(f0);
    EDGE t = make_node(x, f11, f01);
    EDGE e = make_node(x, f10, f00);
    inc_ref(t);
    inc_ref(e);
    release_child(f1, y, dying);
    release_child(f0, y, dying);
    BDD_NODE& node = m_nodes[n];  // make_node may have moved the store
    node.var = y;
    node.hi = t;
    node.lo = e;
    table_insert(y, n);
}

void BDD_KERNEL::release_child(EDGE e, uint16_t y, std::vector<uint32_t>& dying)
{
    dec_ref(e);
    const BDD_NODE& child = m_nodes[edge_index(e)];
    if (child.ref == 0 && child.var == y) dying.push_back(edge_index(e));
}

}  // namespace bdd_detail
