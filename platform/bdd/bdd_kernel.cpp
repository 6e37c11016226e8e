// Node store, unique tables, computed cache and garbage collection.
//
// Collection runs only between operations (at the start of the next one or
// on request): an operation in progress holds unreferenced intermediate
// results, so while it runs the store grows instead.

#include "bdd/bdd_kernel.h"

#include <algorithm>
#include <cstdlib>
#include <new>

#include "msg/msg.h"

namespace bdd_detail {

namespace {

constexpr uint32_t INVALID = 0xFFFFFFFFu;
constexpr uint32_t MAX_NODES = 1u << 30;  // edges must stay below 2^31
constexpr uint32_t MAX_CACHE = 1u << 21;  // 32 MB of cache at most
constexpr uint32_t FIRST_BUCKETS = 8;

uint32_t round_up_pow2(uint32_t n)
{
    uint32_t p = 1;
    while (p < n && p < (1u << 31)) p <<= 1;
    return p;
}

uint32_t pair_hash(EDGE hi, EDGE lo)
{
    uint64_t h = (uint64_t(hi) << 32 | lo) * 0x9E3779B97F4A7C15ull;
    return uint32_t(h >> 32);
}

uint32_t triple_hash(uint32_t a, uint32_t b, uint32_t c)
{
    uint64_t h =
        uint64_t(a) * 0x9E3779B97F4A7C15ull ^ uint64_t(b) * 0xC2B2AE3D27D4EB4Full ^ uint64_t(c) * 0x165667B19E3779F9ull;
    return uint32_t(h >> 32) ^ uint32_t(h);
}

}  // namespace

BDD_KERNEL::BDD_KERNEL(int initial_nodes, int cache_entries, int growth_step, bool verbose)
    : m_growth_step(uint32_t(std::max(growth_step, 16))), m_verbose(verbose), m_var2level(MAX_VARS + 2, LEVEL_CONST),
      m_cache_min(round_up_pow2(uint32_t(std::clamp(cache_entries, 64, int(MAX_CACHE)))))
{
    m_capacity = uint32_t(std::clamp(initial_nodes, 16, int(MAX_NODES)));
    m_nodes = static_cast<BDD_NODE*>(std::malloc(sizeof(BDD_NODE) * m_capacity));
    if (!m_nodes) throw std::bad_alloc();
    m_nodes[0] = BDD_NODE{EDGE_TRUE, EDGE_TRUE, 0, VAR_CONST, REF_MAX};
    for (uint32_t i = m_capacity - 1; i >= 1; --i) free_node(i);
    resize_cache(m_cache_min);
}

BDD_KERNEL::~BDD_KERNEL()
{
    std::free(m_nodes);
}

void delete_kernel(BDD_KERNEL* kernel)
{
    delete kernel;
}

// ------------------------------------------------------------------ store

void BDD_KERNEL::free_node(uint32_t n)
{
    BDD_NODE& node = m_nodes[n];
    node.var = VAR_FREE;
    node.ref = 0;
    node.next = m_free_head;
    m_free_head = n;
    ++m_free_count;
}

uint32_t BDD_KERNEL::alloc_node()
{
    if (m_free_count == 0) grow_nodes();
    uint32_t n = m_free_head;
    m_free_head = m_nodes[n].next;
    --m_free_count;
    return n;
}

void BDD_KERNEL::grow_nodes()
{
    MSG_ASSERT(m_capacity < MAX_NODES, "BDD");
    uint32_t add = std::min(std::max(m_capacity, m_growth_step), MAX_NODES - m_capacity);
    auto* grown = static_cast<BDD_NODE*>(std::realloc(m_nodes, sizeof(BDD_NODE) * (size_t(m_capacity) + add)));
    if (!grown) throw std::bad_alloc();
    m_nodes = grown;
    uint32_t old = m_capacity;
    m_capacity += add;
    for (uint32_t i = m_capacity - 1; i >= old; --i) free_node(i);
    ++m_stats.growths;
    // The cache follows the store: a cache much smaller than the working set
    // makes every operation exponential in practice.
    uint32_t want = std::min(round_up_pow2(m_capacity / 2), MAX_CACHE);
    if (want > m_cache.size()) resize_cache(want);
    if (m_verbose) std::fprintf(stderr, "bdd: grew to %u nodes\n", m_capacity);
}

// ------------------------------------------------------------------ unique tables

EDGE BDD_KERNEL::make_node(uint16_t var, EDGE hi, EDGE lo)
{
    if (hi == lo) return hi;
    EDGE flip = hi & 1u;  // keep the stored high edge regular
    hi ^= flip;
    lo ^= flip;
    SUBTABLE& t = m_tables[var];
    uint32_t b = pair_hash(hi, lo) & uint32_t(t.buckets.size() - 1);
    for (uint32_t n = t.buckets[b]; n; n = m_nodes[n].next) {
        if (m_nodes[n].hi == hi && m_nodes[n].lo == lo) return (n << 1) | flip;
    }
    uint32_t n = alloc_node();
    m_nodes[n] = BDD_NODE{hi, lo, t.buckets[b], var, 0};
    t.buckets[b] = n;
    ++m_dead;  // nothing references it yet
    inc_ref(hi);
    inc_ref(lo);
    if (++t.count > t.buckets.size()) grow_table(t);
    return (n << 1) | flip;
}

void BDD_KERNEL::table_insert(uint16_t var, uint32_t n)
{
    SUBTABLE& t = m_tables[var];
    uint32_t b = pair_hash(m_nodes[n].hi, m_nodes[n].lo) & uint32_t(t.buckets.size() - 1);
    m_nodes[n].next = t.buckets[b];
    t.buckets[b] = n;
    if (++t.count > t.buckets.size()) grow_table(t);
}

void BDD_KERNEL::table_remove(uint16_t var, uint32_t n)
{
    SUBTABLE& t = m_tables[var];
    uint32_t* link = &t.buckets[pair_hash(m_nodes[n].hi, m_nodes[n].lo) & uint32_t(t.buckets.size() - 1)];
    while (*link != n) link = &m_nodes[*link].next;
    *link = m_nodes[n].next;
    --t.count;
}

void BDD_KERNEL::grow_table(SUBTABLE& t)
{
    std::vector<uint32_t> old;
    old.swap(t.buckets);
    t.buckets.assign(old.size() * 2, 0);
    uint32_t mask = uint32_t(t.buckets.size() - 1);
    for (uint32_t head : old) {
        for (uint32_t n = head; n;) {
            uint32_t next = m_nodes[n].next;
            uint32_t b = pair_hash(m_nodes[n].hi, m_nodes[n].lo) & mask;
            m_nodes[n].next = t.buckets[b];
            t.buckets[b] = n;
            n = next;
        }
    }
}

// ------------------------------------------------------------------ variables

void BDD_KERNEL::add_var()
{
    MSG_ASSERT(var_count() < MAX_VARS, "BDD");
    uint16_t v = uint16_t(var_count());
    m_var2level[v] = uint32_t(m_level2var.size());
    m_level2var.push_back(v);
    m_tables.emplace_back();
    m_tables.back().buckets.assign(FIRST_BUCKETS, 0);
    EDGE e = make_node(v, EDGE_TRUE, EDGE_FALSE);
    inc_ref(e);
    m_var_edges.push_back(e);
}

EDGE BDD_KERNEL::var_edge(int var)
{
    MSG_ASSERT(var >= 0 && var < MAX_VARS, "BDD");
    while (var_count() <= var) add_var();
    return m_var_edges[size_t(var)];
}

int BDD_KERNEL::level_of_var(int var) const
{
    return var >= 0 && var < var_count() ? int(m_var2level[size_t(var)]) : -1;
}

int BDD_KERNEL::var_at_level(int level) const
{
    return level >= 0 && level < var_count() ? int(m_level2var[size_t(level)]) : -1;
}

int BDD_KERNEL::variable(EDGE e) const
{
    return edge_constant(e) ? -1 : int(m_nodes[edge_index(e)].var);
}

// ------------------------------------------------------------------ computed cache

void BDD_KERNEL::resize_cache(uint32_t entries)
{
    m_cache.assign(entries, CACHE_ENTRY{INVALID, INVALID, INVALID, 0});
    m_cache_mask = entries - 1;
}

void BDD_KERNEL::clear_cache()
{
    std::fill(m_cache.begin(), m_cache.end(), CACHE_ENTRY{INVALID, INVALID, INVALID, 0});
    m_cache_stale = false;
}

bool BDD_KERNEL::cache_find(uint32_t a, uint32_t b, uint32_t c, EDGE& r) const
{
    const CACHE_ENTRY& e = m_cache[triple_hash(a, b, c) & m_cache_mask];
    if (e.a != a || e.b != b || e.c != c) return false;
    r = e.r;
    return true;
}

void BDD_KERNEL::cache_store(uint32_t a, uint32_t b, uint32_t c, EDGE r)
{
    m_cache[triple_hash(a, b, c) & m_cache_mask] = CACHE_ENTRY{a, b, c, r};
}

// Drops the entries that name a freed node; the rest stay useful.
void BDD_KERNEL::clean_cache()
{
    auto freed = [this](uint32_t e) { return m_nodes[edge_index(e)].var == VAR_FREE; };
    for (CACHE_ENTRY& e : m_cache) {
        if (e.a == INVALID) continue;
        bool c_is_edge = (e.c & 0x80000000u) == 0;
        if (freed(e.a) || freed(e.b) || freed(e.r) || (c_is_edge && freed(e.c))) e.a = INVALID;
    }
}

// ------------------------------------------------------------------ collection

void BDD_KERNEL::prepare_op()
{
    if (m_cache_stale) clear_cache();
    if (m_free_count < m_capacity / 4 && m_dead >= m_capacity / 8) collect_garbage();
}

// One pass from the top level down frees every dead node: a node's children
// sit on lower levels, so a child that dies with its parent is met later in
// the same pass.
void BDD_KERNEL::collect_garbage()
{
    if (m_dead == 0) return;
    uint32_t before = m_free_count;
    for (uint16_t var : m_level2var) {
        SUBTABLE& t = m_tables[var];
        for (uint32_t& head : t.buckets) {
            uint32_t* link = &head;
            while (uint32_t n = *link) {
                BDD_NODE& node = m_nodes[n];
                if (node.ref != 0) {
                    link = &node.next;
                    continue;
                }
                *link = node.next;
                --t.count;
                --m_dead;
                dec_ref(node.hi);
                dec_ref(node.lo);
                free_node(n);
            }
        }
    }
    clean_cache();
    ++m_stats.collections;
    m_stats.nodes_freed += m_free_count - before;
    if (m_verbose)
        std::fprintf(stderr, "bdd: collected %u nodes, %u free of %u\n", m_free_count - before, m_free_count,
                     m_capacity);
}

BDD_STATS BDD_KERNEL::stats() const
{
    BDD_STATS s = m_stats;
    s.capacity = m_capacity;
    s.allocated = m_capacity - 1 - m_free_count;
    s.dead = m_dead;
    s.cache_entries = static_cast<long long>(m_cache.size());
    return s;
}

}  // namespace bdd_detail
