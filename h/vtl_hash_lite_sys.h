#pragma once
// VTL_HASH_LITE: chained hash map whose nodes come from a node pool and go
// back to a free list when erased; the pool is released as a whole.
// Bucket counts are primes; the table starts sized for 48 entries and grows
// by one half when the entry count passes the load factor.
//
// Iterators remember the bucket count they were made under: one used after
// the table grew (or was cleared) would walk freed or moved chains, so it is
// an internal error instead.

#include <algorithm>
#include <cstdint>
#include <type_traits>
#include <utility>

#include "mem_alloc_sys.h"
#include "msg/msg.h"
#include "vtl/vtl.h"
#include "vtl_hash_sys.h"

// Shared machinery of the lite map and the lite set. NODE has a key member
// `first`, a `m_next` link and, for maps, a value member `second`.
template <typename NODE, typename K, typename H, bool IS_SET>
class VTL_HASH_LITE_TABLE
{
public:
    static constexpr uint32_t s_INITIAL_ENTRIES = 48;
    static constexpr uint32_t s_DEFAULT_POOL_CHUNK = 512;

    template <bool CONST>
    class ITERATOR_T
    {
    public:
        using TABLE = std::conditional_t<CONST, const VTL_HASH_LITE_TABLE, VTL_HASH_LITE_TABLE>;
        using NODE_T = std::conditional_t<CONST, const NODE, NODE>;

        ITERATOR_T() = default;
        ITERATOR_T(TABLE* table, uint32_t bucket, NODE* node)
            : m_table(table), m_bucket_cnt(table ? table->bucket_count() : 0), m_epoch(table ? table->m_epoch : 0),
              m_bucket(bucket), m_node(node)
        {}
        template <bool OTHER, typename = std::enable_if_t<CONST && !OTHER>>
        ITERATOR_T(const ITERATOR_T<OTHER>& other)
            : m_table(other.m_table), m_bucket_cnt(other.m_bucket_cnt), m_epoch(other.m_epoch),
              m_bucket(other.m_bucket), m_node(other.m_node)
        {}

        NODE_T& operator*() const
        {
            check();
            return *m_node;
        }
        NODE_T* operator->() const
        {
            check();
            return m_node;
        }
        ITERATOR_T& operator++()
        {
            check();
            m_node = m_node->m_next;
            if (!m_node) m_node = m_table->first_node_from(m_bucket + 1, &m_bucket);
            return *this;
        }
        bool operator==(const ITERATOR_T& other) const { return m_node == other.m_node; }
        bool operator!=(const ITERATOR_T& other) const { return m_node != other.m_node; }

        void check() const
        {
            if (m_table == nullptr || m_bucket_cnt != m_table->bucket_count() || m_epoch != m_table->m_epoch) {
                if constexpr (IS_SET)
                    MSG_INTERNAL_ERROR::report("(m_set != 0) && (m_bucket_cnt == m_set->bucket_count())", "MORV",
                                               __FILE__, __LINE__);
                else
                    MSG_INTERNAL_ERROR::report("(m_hash != 0) && (m_bucket_cnt == m_hash->bucket_count())", "MORV",
                                               __FILE__, __LINE__);
            }
        }

    private:
        friend class VTL_HASH_LITE_TABLE;
        template <bool>
        friend class ITERATOR_T;

        TABLE* m_table = nullptr;
        uint32_t m_bucket_cnt = 0;
        uint64_t m_epoch = 0;  // also catches a clear that kept the bucket count
        uint32_t m_bucket = 0;
        NODE* m_node = nullptr;
    };
    using iterator = ITERATOR_T<false>;
    using const_iterator = ITERATOR_T<true>;

    explicit VTL_HASH_LITE_TABLE(uint32_t pool_chunk) : m_pool_chunk(pool_chunk) { set_initial_size(); }
    ~VTL_HASH_LITE_TABLE() { clear(); }
    VTL_HASH_LITE_TABLE(const VTL_HASH_LITE_TABLE&) = delete;
    VTL_HASH_LITE_TABLE& operator=(const VTL_HASH_LITE_TABLE&) = delete;

    uint32_t size() const { return m_count; }
    bool empty() const { return m_count == 0; }
    uint32_t bucket_count() const { return m_bucket_count; }

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

    // Drops every node, the free list, the pool and the bucket array, and
    // returns to the size for 48 entries; the next insertion starts afresh.
    void clear()
    {
        free_nodes();
        MORV_DELETE(m_pool);
        m_pool = nullptr;
        morv_mem_free(m_buckets);
        m_buckets = nullptr;
        set_initial_size();
    }

    // Destroys every node (values included) and hands the pool's memory
    // back; bucket array and bucket count stay.
    void free_nodes()
    {
        if (m_buckets) {
            for (uint32_t b = 0; b < m_bucket_count; ++b) {
                destroy_chain(m_buckets[b]);
                m_buckets[b] = nullptr;
            }
        }
        destroy_chain(m_free_list);
        m_free_list = nullptr;
        if (m_pool) m_pool->release_all();
        m_count = 0;
        ++m_epoch;
    }

protected:
    uint32_t pool_chunk() const { return m_pool_chunk; }

    // Find-or-add; *added tells which. A new node holds the key and a
    // value-initialised value.
    NODE* insert_node(const K& key, bool* added)
    {
        if (!m_buckets) create_buckets_and_pool();
        uint32_t bucket = H()(key) % m_bucket_count;
        for (NODE* node = m_buckets[bucket]; node; node = node->m_next)
            if (node->first == key) {
                *added = false;
                return node;
            }
        NODE* node = allocate_node(key);
        node->m_next = m_buckets[bucket];
        m_buckets[bucket] = node;
        ++m_count;
        *added = true;
        if (m_count > m_grow_threshold) grow();
        return node;
    }

    // Unlinks the iterator's node, resets its value, parks it on the free
    // list; returns the iterator to the entry after it.
    iterator erase_at(iterator it)
    {
        it.check();
        if (it.m_table != this || !it.m_node) MSG_INTERNAL_ERROR::report("it.m_node", "MORV", __FILE__, __LINE__);
        iterator next = it;
        ++next;
        NODE* node = it.m_node;
        NODE** link = &m_buckets[it.m_bucket];
        while (*link != node) link = &(*link)->m_next;
        *link = node->m_next;
        if constexpr (!IS_SET) node->second = decltype(node->second)();
        node->m_next = m_free_list;
        m_free_list = node;
        --m_count;
        return next;
    }

    NODE* find_node(const K& key, uint32_t* bucket) const
    {
        if (!m_buckets) return nullptr;
        *bucket = H()(key) % m_bucket_count;
        for (NODE* node = m_buckets[*bucket]; node; node = node->m_next)
            if (node->first == key) return node;
        return nullptr;
    }

private:
    static uint32_t load_numerator() { return vtl_hash_load_factor_to_resize.numerator; }
    static uint32_t load_denominator() { return vtl_hash_load_factor_to_resize.denominator; }

    static uint32_t threshold_for(uint32_t bucket_count)
    {
        return static_cast<uint32_t>(uint64_t(bucket_count) * load_numerator() / load_denominator());
    }

    void set_initial_size()
    {
        uint32_t needed = static_cast<uint32_t>(
            (uint64_t(s_INITIAL_ENTRIES) * load_denominator() + load_numerator() - 1) / load_numerator());
        m_bucket_count = vtl_hash_lite_get_next_prime(needed);
        m_grow_threshold = threshold_for(m_bucket_count);
        ++m_epoch;
    }

    void create_buckets_and_pool()
    {
        m_buckets = morv_mem_alloc_pointer_array<NODE>(m_bucket_count);
        if (!m_pool) {
            VTL_MEM_POOL_SETUP setup;
            setup.alignment = static_cast<uint32_t>(std::max<std::size_t>(4, alignof(NODE)));
            setup.elements_per_chunk = m_pool_chunk;
            setup.min_chunk_bytes = 4096;
            setup.min_alignment = 4;
            setup.max_growth_shift = 7;
            m_pool = MORV_NEW(VTL_MEM_POOL, sizeof(NODE), setup);
        }
    }

    NODE* allocate_node(const K& key)
    {
        if (m_free_list) {
            NODE* node = m_free_list;
            m_free_list = node->m_next;
            node->first = key;  // the value was reset when the node was erased
            return node;
        }
        NODE* node = static_cast<NODE*>(m_pool->allocate());
        ::new (node) NODE();
        node->first = key;
        return node;
    }

    static void destroy_chain(NODE* node)
    {
        while (node) {
            NODE* next = node->m_next;
            node->~NODE();
            node = next;
        }
    }

    void grow()
    {
        uint32_t new_count = vtl_hash_lite_50_percent_increase_size(m_bucket_count);
        if (new_count <= m_bucket_count) {  // saturated: stop trying
            m_grow_threshold = UINT32_MAX;
            return;
        }
        NODE** new_buckets = morv_mem_alloc_pointer_array<NODE>(new_count);
        vtl_hash_rehash_chains<H>(m_buckets, m_bucket_count, new_buckets, new_count);
        morv_mem_free(m_buckets);
        m_buckets = new_buckets;
        m_bucket_count = new_count;
        m_grow_threshold = threshold_for(new_count);
        ++m_epoch;
    }

    NODE* first_node_from(uint32_t bucket, uint32_t* found) const
    {
        return vtl_hash_first_node_from(m_buckets, m_bucket_count, bucket, found);
    }

    uint32_t m_count = 0;
    uint32_t m_bucket_count = 0;
    uint32_t m_grow_threshold = 0;
    NODE** m_buckets = nullptr;  // created on the first insertion
    NODE* m_free_list = nullptr;
    VTL_MEM_POOL* m_pool = nullptr;  // owned
    uint32_t m_pool_chunk;
    uint64_t m_epoch = 0;
};

template <typename K, typename V>
struct VTL_HASH_LITE_NODE
{
    K first{};
    V second{};
    VTL_HASH_LITE_NODE* m_next = nullptr;
};

// The pool chunk is the number of nodes per pool chunk: 256 for small id
// tables, 720 for the cluster table, 512 elsewhere.
template <typename K, typename V, typename H = VTL_HASH_KEY<K>>
class VTL_HASH_LITE : public VTL_HASH_LITE_TABLE<VTL_HASH_LITE_NODE<K, V>, K, H, false>
{
    using BASE = VTL_HASH_LITE_TABLE<VTL_HASH_LITE_NODE<K, V>, K, H, false>;

public:
    using NODE = VTL_HASH_LITE_NODE<K, V>;
    using typename BASE::const_iterator;
    using typename BASE::iterator;

    explicit VTL_HASH_LITE(uint32_t pool_chunk = BASE::s_DEFAULT_POOL_CHUNK) : BASE(pool_chunk) {}

    V& operator[](const K& key)
    {
        bool added = false;
        return this->insert_node(key, &added)->second;
    }

    iterator erase(iterator it) { return this->erase_at(it); }
};
