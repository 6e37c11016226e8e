#include "tdb/tdb_netlist.h"

#include <algorithm>
#include <cstdio>
#include <cstddef>
#include <new>
#include <type_traits>
#include <unordered_map>

#include "fio/fio.h"
#include "msg/msg.h"

#define TDB_ASSERT(cond) MSG_ASSERT(cond, "TDB")

// ---------------------------------------------------------------- delays

TDB_NETLIST* TDB_DELAY::owner() const
{
    static_assert(std::is_standard_layout_v<TDB_EDGE> && offsetof(TDB_EDGE, m_delay) == 0);
    return reinterpret_cast<const TDB_EDGE*>(this)->m_src->m_netlist;
}

int TDB_DELAY::value(int kind, int which, int transition) const
{
    if (!(m_spread & (1u << kind))) return m_value[kind];
    return owner()->spread_values(reinterpret_cast<const TDB_EDGE*>(this)->m_id)[kind][which][transition];
}

int TDB_DELAY::get_delay(int kind, int which, int transition) const
{
    if (which != TDB_MAX && which != TDB_MIN) return TDB_ILLEGAL_DELAY;
    if (transition < 0 || transition > 2) return TDB_ILLEGAL_DELAY;
    if (m_spread == 0) {
        if (kind == TDB_DELAY_IC || kind == TDB_DELAY_CELL) return m_value[kind];
        return kind == TDB_DELAY_TOTAL ? m_value[0] + m_value[1] : TDB_ILLEGAL_DELAY;
    }
    auto one = [&](int k, int t) { return value(k, which, t); };
    auto pick = [&](int k) {
        if (transition == 0 || transition == 1) return one(k, transition);
        return which == TDB_MAX ? std::max(one(k, 0), one(k, 1)) : std::min(one(k, 0), one(k, 1));
    };
    if (kind == TDB_DELAY_IC || kind == TDB_DELAY_CELL) return pick(kind);
    if (kind != TDB_DELAY_TOTAL) return TDB_ILLEGAL_DELAY;
    if (transition == 0 || transition == 1) return one(0, transition) + one(1, transition);
    int a = one(0, 0) + one(1, 0), b = one(0, 1) + one(1, 1);
    return which == TDB_MAX ? std::max(a, b) : std::min(a, b);
}

bool TDB_DELAY::set_delay(int kind, int max_0, int max_1, int min_0, int min_1)
{
    if (kind != TDB_DELAY_IC && kind != TDB_DELAY_CELL) return false;
    if (value(kind, TDB_MAX, 0) == max_0 && value(kind, TDB_MAX, 1) == max_1 && value(kind, TDB_MIN, 0) == min_0 &&
        value(kind, TDB_MIN, 1) == min_1)
        return true;
    TDB_NETLIST* netlist = owner();
    const uint8_t bit = (uint8_t)(1u << kind);
    if (max_0 == max_1 && max_0 == min_0 && max_0 == min_1) {
        m_value[kind] = max_0;
        m_spread &= (uint8_t)~bit;
        if (m_spread == 0) netlist->drop_spread_values(reinterpret_cast<const TDB_EDGE*>(this)->m_id);
    } else {
        TDB_NETLIST::SPREAD_VALUES& v = netlist->spread_values(reinterpret_cast<const TDB_EDGE*>(this)->m_id);
        v[kind][TDB_MAX][0] = max_0;
        v[kind][TDB_MAX][1] = max_1;
        v[kind][TDB_MIN][0] = min_0;
        v[kind][TDB_MIN][1] = min_1;
        m_spread |= bit;
    }
    netlist->notify_delays_changed();
    return true;
}

// ---------------------------------------------------------------- node

CDB_ATOM_OTERM* TDB_NODE::get_oterm(bool through_internal) const
{
    const TDB_NODE* n = this;
    // Internal chains are acyclic in a built netlist; the bound keeps a
    // hand-made cycle from hanging the walk.
    for (int steps = 0; steps < 64; ++steps) {
        if (n->m_oterm || !through_internal || n->m_num_fanout != 1) return n->m_oterm;
        const TDB_EDGE* e = n->m_edges[0];
        const TDB_NODE* next = e->get_dst_node();
        if (e->get_iterm() || next->m_atom_id != m_atom_id) return nullptr;
        n = next;
    }
    return nullptr;
}

// ---------------------------------------------------------------- iterator

TDB_EDGE_COMPOUND_ITER::TDB_EDGE_COMPOUND_ITER(const TDB_NODE* node, int selector) : m_node(node), m_selector(selector)
{
    if (!node) m_list = 3;
    skip_empty();
}

// The list'th kind of the walk (empty when the selector leaves it out).
static TDB_EDGE_RANGE iter_list(const TDB_NODE* node, int list, int selector)
{
    static const int BITS[3] = {TDB_SELECT_DATA_FANIN, TDB_SELECT_CLOCK_FANIN, TDB_SELECT_FANOUT};
    if (!(selector & BITS[list])) return {nullptr, 0};
    return list == 0 ? node->fanin() : list == 1 ? node->clkin() : node->fanout();
}

void TDB_EDGE_COMPOUND_ITER::skip_empty()
{
    while (m_list < 3) {
        if (m_pos < iter_list(m_node, m_list, m_selector).size()) return;
        ++m_list;
        m_pos = 0;
    }
}

TDB_EDGE* TDB_EDGE_COMPOUND_ITER::get() const
{
    if (done()) return nullptr;
    return iter_list(m_node, m_list, m_selector)[m_pos];
}

TDB_EDGE_COMPOUND_ITER& TDB_EDGE_COMPOUND_ITER::operator++()
{
    if (!done()) {
        ++m_pos;
        skip_empty();
    }
    return *this;
}

TDB_EDGE* TDB_EDGE_COMPOUND_ITER::next()
{
    TDB_EDGE* e = get();
    ++*this;
    return e;
}

// ---------------------------------------------------------------- storage

#if defined(__SANITIZE_ADDRESS__)
#define TDB_OBJECT_POOL 0
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TDB_OBJECT_POOL 0
#endif
#endif
#ifndef TDB_OBJECT_POOL
#define TDB_OBJECT_POOL 1
#endif

namespace {

// Nodes and edges come by the hundred thousand: outside sanitizer builds
// they are carved from blocks (no allocator header per object) and freed
// ones are reused. Sanitizer builds allocate each on its own, so that a
// stale pointer is still caught.
template <typename T>
class OBJECT_POOL
{
public:
    static_assert(std::is_trivially_destructible_v<T>);
    OBJECT_POOL() = default;
    OBJECT_POOL(const OBJECT_POOL&) = delete;
    OBJECT_POOL& operator=(const OBJECT_POOL&) = delete;
    ~OBJECT_POOL()
    {
        for (void* b : m_blocks) ::operator delete(b);
    }
    T* make()
    {
#if TDB_OBJECT_POOL
        void* p = m_free;
        if (p) {
            m_free = *static_cast<void**>(p);
        } else {
            if (m_left == 0) {
                m_next = static_cast<char*>(::operator new(sizeof(T) * BLOCK));
                m_blocks.push_back(m_next);
                m_left = BLOCK;
            }
            p = m_next;
            m_next += sizeof(T);
            --m_left;
        }
        return ::new (p) T();
#else
        return new T();
#endif
    }
    void destroy(T* t)
    {
#if TDB_OBJECT_POOL
        *reinterpret_cast<void**>(t) = m_free;
        m_free = t;
#else
        delete t;
#endif
    }

private:
    static constexpr size_t BLOCK = 1024;
    std::vector<void*> m_blocks;
    char* m_next = nullptr;
    size_t m_left = 0;
    void* m_free = nullptr;
};

}  // namespace

// Node and edge blocks, the block the builder's edge arrays come from, and
// the index of nodes by their output term (open addressing over node ids,
// keyed by the node's term pointer, which is compared and never followed).
class TDB_NETLIST::STORE
{
public:
    explicit STORE(const TDB_NETLIST* netlist) : m_netlist(netlist) {}
    OBJECT_POOL<TDB_NODE> nodes;
    OBJECT_POOL<TDB_EDGE> edges;
    // By edge id: the delays of the few edges whose values differ by bound or transition.
    struct SPREAD
    {
        SPREAD_VALUES values;
    };
    std::unordered_map<int, SPREAD> spread;

    // count edge slots from the shared block; null when a node that large
    // should have an allocation of its own.
    TDB_EDGE** take_edge_slots(size_t count)
    {
        if (count > SLOT_BLOCK / 8) return nullptr;
        if (m_slots_left < count) {
            m_slot_blocks.push_back(std::make_unique<TDB_EDGE*[]>(SLOT_BLOCK));
            m_next_slot = m_slot_blocks.back().get();
            m_slots_left = SLOT_BLOCK;
        }
        TDB_EDGE** r = m_next_slot;
        m_next_slot += count;
        m_slots_left -= count;
        return r;
    }

    int find(const CDB_ATOM_OTERM* oterm) const
    {
        if (m_index.empty()) return -1;
        for (size_t i = slot_of(oterm);; i = (i + 1) & mask()) {
            const int id = m_index[i];
            if (id < 0 || key_of(id) == oterm) return id;
        }
    }
    // The node now stands for the term (replacing any other node).
    void assign(const CDB_ATOM_OTERM* oterm, int id)
    {
        if ((m_count + 1) * 2 > m_index.size()) rehash(std::max<size_t>(16, m_index.size() * 2));
        size_t i = slot_of(oterm);
        while (m_index[i] >= 0 && key_of(m_index[i]) != oterm) i = (i + 1) & mask();
        if (m_index[i] < 0) ++m_count;
        m_index[i] = id;
    }
    // Drops the term's entry when it names this node.
    void erase(const CDB_ATOM_OTERM* oterm, int id);

private:
    static constexpr size_t SLOT_BLOCK = size_t(1) << 15;
    size_t mask() const { return m_index.size() - 1; }
    size_t slot_of(const CDB_ATOM_OTERM* oterm) const
    {
        uint64_t x = (uint64_t)(uintptr_t)oterm;
        x ^= x >> 33;
        x *= 0xff51afd7ed558ccdull;
        x ^= x >> 33;
        return (size_t)x & mask();
    }
    const CDB_ATOM_OTERM* key_of(int id) const { return m_netlist->find_node(id)->m_oterm; }
    void rehash(size_t slots)
    {
        std::vector<int> old(slots, -1);
        old.swap(m_index);
        for (int id : old)
            if (id >= 0) {
                size_t i = slot_of(key_of(id));
                while (m_index[i] >= 0) i = (i + 1) & mask();
                m_index[i] = id;
            }
    }

    const TDB_NETLIST* m_netlist;
    std::vector<std::unique_ptr<TDB_EDGE*[]>> m_slot_blocks;
    TDB_EDGE** m_next_slot = nullptr;
    size_t m_slots_left = 0;
    std::vector<int> m_index;  // node ids, -1 for a free slot; a power of two long
    size_t m_count = 0;
};

void TDB_NETLIST::STORE::erase(const CDB_ATOM_OTERM* oterm, int id)
{
    if (m_index.empty()) return;
    size_t i = slot_of(oterm);
    while (m_index[i] >= 0 && m_index[i] != id) i = (i + 1) & mask();
    if (m_index[i] < 0 || key_of(id) != oterm) return;
    // Shift later entries of the run back, so that no search stops early.
    for (size_t j = (i + 1) & mask(); m_index[j] >= 0; j = (j + 1) & mask()) {
        const size_t home = slot_of(key_of(m_index[j]));
        const bool stays = i <= j ? (home > i && home <= j) : (home > i || home <= j);
        if (stays) continue;
        m_index[i] = m_index[j];
        i = j;
    }
    m_index[i] = -1;
    --m_count;
}

// ---------------------------------------------------------------- netlist

TDB_NETLIST::TDB_NETLIST(int first_node_id, int first_edge_id) : m_store(std::make_unique<STORE>(this))
{
    m_node_base = std::max(first_node_id, 0);
    m_edge_base = std::max(first_edge_id, 0);
}

TDB_NETLIST::~TDB_NETLIST()
{
    for (TDB_EDGE* e : m_edges)
        if (e) m_store->edges.destroy(e);
    for (TDB_NODE* n : m_nodes)
        if (n) {
            release_edges(n);
            m_store->nodes.destroy(n);
        }
}

TDB_EDGE* TDB_NETLIST::find_edge(int id) const
{
    return id >= m_edge_base && id < get_edge_id_bound() ? m_edges[(size_t)(id - m_edge_base)] : nullptr;
}

std::vector<TDB_EDGE*>* TDB_NETLIST::create_vec_of_edges()
{
    m_has_edge_vec = true;
    return &m_edges;
}

TDB_NODE* TDB_NETLIST::get_tdb_node_from_oterm(const CDB_ATOM_OTERM* oterm) const
{
    if (!oterm) return nullptr;
    return find_node(m_store->find(oterm));
}

TDB_ATOM_NODES TDB_NETLIST::get_atom_nodes(int atom_id) const
{
    if (atom_id < m_atom_base || atom_id >= get_atom_id_bound()) return {this, -1};
    return {this, m_atom_heads[(size_t)(atom_id - m_atom_base)]};
}

void TDB_NETLIST::reserve_atom_ids(int lo, int hi)
{
    if (lo < 0 || hi < lo) return;
    atom_head(hi);
    atom_head(lo);
}

void TDB_NETLIST::reserve(int nodes, int edges)
{
    if (nodes > 0) m_nodes.reserve(m_nodes.size() + (size_t)nodes);
    if (edges > 0) m_edges.reserve(m_edges.size() + (size_t)edges);
}

int& TDB_NETLIST::atom_head(int atom_id)
{
    if (m_atom_heads.empty()) {
        m_atom_base = atom_id;
    } else if (atom_id < m_atom_base) {
        m_atom_heads.insert(m_atom_heads.begin(), (size_t)(m_atom_base - atom_id), -1);
        m_atom_base = atom_id;
    }
    const size_t slot = (size_t)(atom_id - m_atom_base);
    if (slot >= m_atom_heads.size()) m_atom_heads.resize(slot + 1, -1);
    return m_atom_heads[slot];
}

TDB_NODE* TDB_NETLIST::add_node(int atom_id, uint32_t flags, CDB_ATOM_OTERM* oterm, int port_type, int port_index,
                                int role, bool index_oterm)
{
    TDB_NODE* n = m_store->nodes.make();
    n->m_netlist = this;
    n->m_id = get_node_id_bound();
    n->m_atom_id = atom_id;
    n->m_flags = flags;
    n->m_oterm = oterm;
    n->m_port_type = port_type;
    n->m_port_index = port_index;
    TDB_ASSERT(role >= INT8_MIN && role <= INT8_MAX);
    n->m_role = (int8_t)role;
    m_nodes.push_back(n);
    ++m_num_nodes;
    if (atom_id >= 0) {
        // Appended, so that the atom's nodes stay in creation order.
        int* link = &atom_head(atom_id);
        while (*link >= 0) link = &find_node(*link)->m_next_of_atom;
        *link = n->m_id;
    }
    if (oterm && index_oterm) m_store->assign(oterm, n->m_id);
    ++m_structure_version;
    return n;
}

void TDB_NETLIST::set_node_timing(TDB_NODE* node, int tco, int tsu)
{
    if (node->m_tco == tco && node->m_tsu == tsu) return;
    node->m_tco = tco;
    node->m_tsu = tsu;
    notify_delays_changed();
}

void TDB_NETLIST::reserve_edges(TDB_NODE* node, int count)
{
    if (node->m_edges || count <= 0) return;
    node->m_edges = m_store->take_edge_slots((size_t)count);
    node->m_edges_on_heap = node->m_edges == nullptr;
    if (node->m_edges_on_heap) node->m_edges = new TDB_EDGE*[(size_t)count];
    node->m_edge_capacity = (uint32_t)count;
}

void TDB_NETLIST::grow_edges(TDB_NODE* node)
{
    const uint32_t used = node->m_num_fanout + node->m_num_fanin + node->m_num_clkin;
    const uint32_t capacity = std::max<uint32_t>(4, node->m_edge_capacity * 2);
    TDB_EDGE** edges = new TDB_EDGE*[capacity];
    if (used > 0) std::copy(node->m_edges, node->m_edges + used, edges);
    release_edges(node);
    node->m_edges = edges;
    node->m_edges_on_heap = true;
    node->m_edge_capacity = capacity;
}

void TDB_NETLIST::release_edges(TDB_NODE* node)
{
    if (node->m_edges_on_heap) delete[] node->m_edges;
    node->m_edges = nullptr;
    node->m_edges_on_heap = false;
    node->m_edge_capacity = 0;
}

namespace {

// Kinds: 0 fan-out, 1 data fan-in, 2 clock fan-in.
uint32_t kind_count(const TDB_NODE* node, int kind)
{
    return kind == 0 ? (uint32_t)node->get_num_of_fanout()
                     : (uint32_t)(kind == 1 ? node->get_num_of_fanin() : node->get_num_of_clkin());
}

}  // namespace

void TDB_NETLIST::add_count(TDB_NODE* node, int kind, int delta)
{
    if (kind == 0) {
        node->m_num_fanout += (uint32_t)delta;
    } else if (kind == 1) {
        node->m_num_fanin += (uint32_t)delta;
    } else {
        TDB_ASSERT(delta < 0 || node->m_num_clkin < UINT16_MAX);
        node->m_num_clkin = (uint16_t)(node->m_num_clkin + delta);
    }
}

// The edge goes to the end of its kind; the kinds after it move up by one slot.
void TDB_NETLIST::add_to_list(TDB_NODE* node, TDB_EDGE* edge, int kind)
{
    const uint32_t used = node->m_num_fanout + node->m_num_fanin + node->m_num_clkin;
    if (used == node->m_edge_capacity) grow_edges(node);
    TDB_EDGE** a = node->m_edges;
    const uint32_t at = kind == 0 ? node->m_num_fanout : kind == 1 ? node->m_num_fanout + node->m_num_fanin : used;
    std::copy_backward(a + at, a + used, a + used + 1);
    a[at] = edge;
    (kind == 0 ? edge->m_src_pos : edge->m_dst_pos) = (int)kind_count(node, kind);
    add_count(node, kind, 1);
}

// Removal is O(1) within the kind: its last edge takes the removed one's
// slot (the order stays a function of the edit sequence, so walks stay
// deterministic); the kinds after it move down by one slot.
void TDB_NETLIST::remove_from_list(TDB_NODE* node, int kind, int pos)
{
    const uint32_t count = kind_count(node, kind);
    TDB_ASSERT(pos >= 0 && (uint32_t)pos < count);
    const uint32_t used = node->m_num_fanout + node->m_num_fanin + node->m_num_clkin;
    const uint32_t first = kind == 0 ? 0 : kind == 1 ? node->m_num_fanout : node->m_num_fanout + node->m_num_fanin;
    TDB_EDGE** a = node->m_edges;
    TDB_EDGE* last = a[first + count - 1];
    a[first + (uint32_t)pos] = last;
    (kind == 0 ? last->m_src_pos : last->m_dst_pos) = pos;
    std::copy(a + first + count, a + used, a + first + count - 1);
    add_count(node, kind, -1);
}

TDB_EDGE* TDB_NETLIST::add_edge(TDB_NODE* src, TDB_NODE* dst, CDB_ATOM_ITERM* iterm, bool is_clock, int ic_delay,
                                int cell_delay)
{
    TDB_ASSERT(src && dst);
    TDB_ASSERT(!is_clock || dst->is_keeper());
    TDB_EDGE* e = m_store->edges.make();
    e->m_id = get_edge_id_bound();
    e->m_src = src;
    e->m_dst = dst;
    e->m_iterm = iterm;
    e->m_delay.m_edge_is_clock = is_clock;
    e->m_delay.m_value[TDB_DELAY_IC] = ic_delay;
    e->m_delay.m_value[TDB_DELAY_CELL] = cell_delay;
    add_to_list(src, e, 0);
    add_to_list(dst, e, is_clock ? 2 : 1);
    m_edges.push_back(e);
    ++m_num_edges;
    ++m_structure_version;
    return e;
}

void TDB_NETLIST::remove_edge(TDB_EDGE* e)
{
    TDB_ASSERT(e && find_edge(e->m_id) == e);
    remove_from_list(e->m_src, 0, e->m_src_pos);
    remove_from_list(e->m_dst, e->is_clock() ? 2 : 1, e->m_dst_pos);
    m_edges[(size_t)(e->m_id - m_edge_base)] = nullptr;
    if (e->m_delay.m_spread) drop_spread_values(e->m_id);
    --m_num_edges;
    ++m_structure_version;
    m_store->edges.destroy(e);
}

void TDB_NETLIST::unlink_from_atom(TDB_NODE* n)
{
    if (n->m_atom_id < m_atom_base || n->m_atom_id >= get_atom_id_bound()) return;
    int* link = &m_atom_heads[(size_t)(n->m_atom_id - m_atom_base)];
    while (*link >= 0 && *link != n->m_id) link = &find_node(*link)->m_next_of_atom;
    if (*link == n->m_id) *link = n->m_next_of_atom;
    n->m_next_of_atom = -1;
}

void TDB_NETLIST::remove_node(TDB_NODE* n)
{
    TDB_ASSERT(n && find_node(n->m_id) == n);
    while (n->m_num_fanin > 0) remove_edge(n->fanin().back());
    while (n->m_num_clkin > 0) remove_edge(n->clkin().back());
    while (n->m_num_fanout > 0) remove_edge(n->fanout().back());
    if (n->m_oterm) m_store->erase(n->m_oterm, n->m_id);
    unlink_from_atom(n);
    m_nodes[(size_t)(n->m_id - m_node_base)] = nullptr;
    --m_num_nodes;
    ++m_structure_version;
    release_edges(n);
    m_store->nodes.destroy(n);
}

TDB_NETLIST::SPREAD_VALUES& TDB_NETLIST::spread_values(int edge_id)
{
    return m_store->spread[edge_id].values;
}

void TDB_NETLIST::drop_spread_values(int edge_id)
{
    m_store->spread.erase(edge_id);
}

void TDB_NETLIST::notify_delays_changed()
{
    if (m_listener) m_listener->on_delays_changed();
}

bool TDB_NETLIST::dump_to_file(const FIO_PATH& path, bool with_delays) const
{
    return dump_to_file(path.str().c_str(), with_delays);
}

bool TDB_NETLIST::dump_to_file(const char* path, bool with_delays) const
{
    FILE* f = std::fopen(path, "w");
    if (!f) return false;
    std::fprintf(f, "tdb_netlist nodes %d edges %d\n", m_num_nodes, m_num_edges);
    for (const TDB_NODE* n : m_nodes)
        if (n)
            std::fprintf(f, "node %d atom %d port %d flags 0x%x fanin %d clkin %d fanout %d\n", n->m_id, n->m_atom_id,
                         n->m_port_type, (unsigned)n->m_flags, n->get_num_of_fanin(), n->get_num_of_clkin(),
                         n->get_num_of_fanout());
    for (const TDB_EDGE* e : m_edges) {
        if (!e) continue;
        std::fprintf(f, "edge %d %d -> %d%s%s slack %d sr %.4f", e->m_id, e->m_src->m_id, e->m_dst->m_id,
                     e->is_clock() ? " clock" : "", e->is_for_tdc() ? " tdc" : "", e->m_slack,
                     (double)e->m_slack_ratio);
        if (with_delays)
            std::fprintf(f, " ic %d/%d cell %d/%d", e->get_max_ic_delay(), e->get_min_ic_delay(),
                         e->get_max_cell_delay(), e->m_delay.get_delay(TDB_DELAY_CELL, TDB_MIN, 2));
        std::fprintf(f, "\n");
    }
    return std::fclose(f) == 0;
}

#undef TDB_ASSERT
#undef TDB_OBJECT_POOL
