#pragma once
// VTL_HASH: chained hash map with prime bucket counts and growth by one half.
// Each node is allocated on its own through the tracking allocator; new keys
// go to the head of their chain, so a chain holds its keys in reverse order
// of insertion. Iteration walks bucket by bucket, each chain from its head.

#include <cstdint>
#include <cstring>
#include <type_traits>
#include <utility>

#include "mem_alloc_sys.h"
#include "vtl/vtl.h"

// ---------------------------------------------------------------- key hashing
//
// Bucket = hash mod bucket count, in unsigned 32-bit arithmetic.
// 32-bit integers and enums hash to themselves; 64-bit integers and pointers
// fold their halves as ((upper >> 1) xor (lower << 1)); any other key type
// supplies `uint32_t vtl_hash_key(const K&)` found by argument lookup.

inline uint32_t vtl_hash_fold_64(uint64_t key)
{
    uint32_t upper = static_cast<uint32_t>(key >> 32);
    uint32_t lower = static_cast<uint32_t>(key);
    return (upper >> 1) ^ (lower << 1);
}

template <typename K, typename = void>
struct VTL_HASH_KEY
{
    uint32_t operator()(const K& key) const { return vtl_hash_key(key); }
};

template <typename K>
struct VTL_HASH_KEY<K, std::enable_if_t<std::is_integral_v<K> || std::is_enum_v<K>>>
{
    uint32_t operator()(K key) const
    {
        if constexpr (sizeof(K) > 4) return vtl_hash_fold_64(static_cast<uint64_t>(key));
        else return static_cast<uint32_t>(key);
    }
};

template <typename K>
struct VTL_HASH_KEY<K, std::enable_if_t<std::is_pointer_v<K>>>
{
    uint32_t operator()(K key) const
    {
        return vtl_hash_fold_64(static_cast<uint64_t>(reinterpret_cast<uintptr_t>(key)));
    }
};

// Multiplicative spread for dense int keys (edge and domain ids), whose
// identity hash would fill neighbouring buckets only.
template <typename K>
struct VTL_HASH_KEY_MULTIPLY
{
    uint32_t operator()(K key) const { return static_cast<uint32_t>(key) * 16777619u; }
};

// Both chained tables iterate alike: the head of the first non-empty bucket
// at or after `bucket`, its index in *found; none: null and bucket_count.
// A table without a bucket array yet is empty.
template <typename NODE>
NODE* vtl_hash_first_node_from(NODE* const* buckets, uint32_t bucket_count, uint32_t bucket, uint32_t* found)
{
    if (buckets)
        for (; bucket < bucket_count; ++bucket)
            if (buckets[bucket]) {
                *found = bucket;
                return buckets[bucket];
            }
    *found = bucket_count;
    return nullptr;
}

// Both chained tables grow alike: every node of the old bucket array moves
// to the head of its chain in new_buckets (new_count null heads); back links,
// where the node has them, are rebuilt.
template <typename H, typename NODE>
void vtl_hash_rehash_chains(NODE* const* buckets, uint32_t bucket_count, NODE** new_buckets, uint32_t new_count)
{
    for (uint32_t b = 0; b < bucket_count; ++b) {
        NODE* node = buckets[b];
        while (node) {
            NODE* next = node->m_next;
            uint32_t nb = H()(node->first) % new_count;
            node->m_next = new_buckets[nb];
            if constexpr (requires(NODE * n) { n->m_prev; }) {
                node->m_prev = nullptr;
                if (node->m_next) node->m_next->m_prev = node;
            }
            new_buckets[nb] = node;
            node = next;
        }
    }
}

// ---------------------------------------------------------------- VTL_HASH

template <typename K, typename V, typename H = VTL_HASH_KEY<K>>
class VTL_HASH
{
public:
    struct NODE
    {
        K first;
        V second;
        NODE* m_next;
        NODE* m_prev;
    };

    template <bool CONST>
    class ITERATOR_T
    {
    public:
        using TABLE = std::conditional_t<CONST, const VTL_HASH, VTL_HASH>;
        using NODE_T = std::conditional_t<CONST, const NODE, NODE>;

        ITERATOR_T() = default;
        ITERATOR_T(TABLE* table, uint32_t bucket, NODE* node) : m_table(table), m_bucket(bucket), m_node(node) {}
        template <bool OTHER, typename = std::enable_if_t<CONST && !OTHER>>
        ITERATOR_T(const ITERATOR_T<OTHER>& other)
            : m_table(other.table()), m_bucket(other.bucket()), m_node(other.node())
        {}

        TABLE* table() const { return m_table; }
        uint32_t bucket() const { return m_bucket; }
        NODE* node() const { return m_node; }

        NODE_T& operator*() const { return *m_node; }
        NODE_T* operator->() const { return m_node; }
        ITERATOR_T& operator++()
        {
            m_node = m_node->m_next;
            if (!m_node) m_node = m_table->first_node_from(m_bucket + 1, &m_bucket);
            return *this;
        }
        bool operator==(const ITERATOR_T& other) const { return m_node == other.m_node; }
        bool operator!=(const ITERATOR_T& other) const { return m_node != other.m_node; }

    private:
        TABLE* m_table = nullptr;
        uint32_t m_bucket = 0;
        NODE* m_node = nullptr;
    };
    using iterator = ITERATOR_T<false>;
    using const_iterator = ITERATOR_T<true>;

    // The bucket count is rounded up to a prime.
    explicit VTL_HASH(uint32_t bucket_count = 61) : m_bucket_count(vtl_hash_lite_get_next_prime(bucket_count)) {}

    VTL_HASH(const VTL_HASH& other) : m_bucket_count(other.m_bucket_count) { *this = other; }

    VTL_HASH(VTL_HASH&& other)
    noexcept
        : m_bucket_count(other.m_bucket_count), m_count(other.m_count), m_buckets(other.m_buckets),
          m_collision_count(other.m_collision_count)
    {
        other.m_count = 0;
        other.m_buckets = nullptr;
        other.m_collision_count = 0;
    }

    ~VTL_HASH()
    {
        clear();
        morv_mem_free(m_buckets);
    }

    VTL_HASH& operator=(const VTL_HASH& other)
    {
        if (this == &other) return *this;
        clear();
        if (m_bucket_count != other.m_bucket_count) {
            morv_mem_free(m_buckets);
            m_buckets = nullptr;
            m_bucket_count = other.m_bucket_count;
        }
        for (const NODE& node : other) (*this)[node.first] = node.second;
        return *this;
    }

    VTL_HASH& operator=(VTL_HASH&& other) noexcept
    {
        if (this == &other) return *this;
        clear();
        morv_mem_free(m_buckets);
        m_bucket_count = other.m_bucket_count;
        m_count = other.m_count;
        m_buckets = other.m_buckets;
        m_collision_count = other.m_collision_count;
        other.m_count = 0;
        other.m_buckets = nullptr;
        other.m_collision_count = 0;
        return *this;
    }

    // Find-or-insert; a new key gets a value-initialised value.
    V& operator[](const K& key)
    {
        if (!m_buckets) m_buckets = morv_mem_alloc_pointer_array<NODE>(m_bucket_count);
        uint32_t bucket = H()(key) % m_bucket_count;
        for (NODE* node = m_buckets[bucket]; node; node = node->m_next)
            if (node->first == key) return node->second;

        NODE* node = static_cast<NODE*>(morv_mem_alloc(sizeof(NODE)));
        try {
            ::new (node) NODE{key, V(), nullptr, nullptr};
        } catch (...) {
            morv_mem_free(node);
            throw;
        }
        NODE* head = m_buckets[bucket];
        if (head) {
            head->m_prev = node;
            ++m_collision_count;
        }
        node->m_next = head;
        m_buckets[bucket] = node;
        ++m_count;
        grow_if_needed();
        return node->second;
    }

    iterator find(const K& key)
    {
        uint32_t bucket = 0;
        NODE* node = find_node(key, &bucket);
        return node ? iterator(this, bucket, node) : end();
    }
    const_iterator find(const K& key) const
    {
        uint32_t bucket = 0;
        NODE* node = find_node(key, &bucket);
        return node ? const_iterator(this, bucket, node) : end();
    }
    bool contains(const K& key) const
    {
        uint32_t bucket = 0;
        return find_node(key, &bucket) != nullptr;
    }

    // Frees every node; the bucket array keeps its size. The collision
    // count is a statistic of the bucket layout, so only a rehash resets it.
    void clear()
    {
        if (!m_buckets) return;
        for (uint32_t b = 0; b < m_bucket_count; ++b) {
            NODE* node = m_buckets[b];
            while (node) {
                NODE* next = node->m_next;
                node->~NODE();
                morv_mem_free(node);
                node = next;
            }
            m_buckets[b] = nullptr;
        }
        m_count = 0;
    }

    uint32_t size() const { return m_count; }
    bool empty() const { return m_count == 0; }
    uint32_t bucket_count() const { return m_bucket_count; }
    uint32_t collision_count() const { return m_collision_count; }

    iterator begin()
    {
        uint32_t bucket = 0;
        NODE* node = first_node_from(0, &bucket);
        return iterator(this, bucket, node);
    }
    iterator end() { return iterator(this, m_bucket_count, nullptr); }
    const_iterator begin() const
    {
        uint32_t bucket = 0;
        NODE* node = first_node_from(0, &bucket);
        return const_iterator(this, bucket, node);
    }
    const_iterator end() const { return const_iterator(this, m_bucket_count, nullptr); }

private:
    NODE* find_node(const K& key, uint32_t* bucket) const
    {
        if (!m_buckets) return nullptr;
        *bucket = H()(key) % m_bucket_count;
        for (NODE* node = m_buckets[*bucket]; node; node = node->m_next)
            if (node->first == key) return node;
        return nullptr;
    }

    NODE* first_node_from(uint32_t bucket, uint32_t* found) const
    {
        return vtl_hash_first_node_from(m_buckets, m_bucket_count, bucket, found);
    }

    // Grows once (count / 4) * 5 exceeds the bucket count: a mean chain
    // length of about 1.25 keeps lookups short without rehashing often.
    void grow_if_needed()
    {
        uint64_t wanted = uint64_t(m_count / 4) * 5;
        if (wanted <= m_bucket_count) return;
        uint32_t new_count =
            vtl_hash_50_percent_increase_size(static_cast<uint32_t>(wanted > UINT32_MAX ? UINT32_MAX : wanted));
        if (new_count <= m_bucket_count) return;  // saturated: keep the chains
        NODE** new_buckets = morv_mem_alloc_pointer_array<NODE>(new_count);
        vtl_hash_rehash_chains<H>(m_buckets, m_bucket_count, new_buckets, new_count);
        morv_mem_free(m_buckets);
        m_buckets = new_buckets;
        m_bucket_count = new_count;
        m_collision_count = 0;
    }

    uint32_t m_bucket_count;
    uint32_t m_count = 0;
    NODE** m_buckets = nullptr;  // created on first insertion
    uint32_t m_collision_count = 0;
};
