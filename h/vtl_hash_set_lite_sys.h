#pragma once
// VTL_HASH_SET_LITE: the set form of VTL_HASH_LITE (pooled nodes holding
// only a key, prime bucket counts, growth by one half, checked iterators).

#include <cstdint>

#include "vtl_hash_lite_sys.h"

template <typename K>
struct VTL_HASH_SET_LITE_NODE
{
    K first{};
    VTL_HASH_SET_LITE_NODE* m_next = nullptr;
};

template <typename K, typename H = VTL_HASH_KEY<K>>
class VTL_HASH_SET_LITE : public VTL_HASH_LITE_TABLE<VTL_HASH_SET_LITE_NODE<K>, K, H, true>
{
    using BASE = VTL_HASH_LITE_TABLE<VTL_HASH_SET_LITE_NODE<K>, K, H, true>;

public:
    using NODE = VTL_HASH_SET_LITE_NODE<K>;
    using typename BASE::const_iterator;
    using typename BASE::iterator;

    explicit VTL_HASH_SET_LITE(uint32_t pool_chunk = BASE::s_DEFAULT_POOL_CHUNK) : BASE(pool_chunk) {}
    VTL_HASH_SET_LITE(const VTL_HASH_SET_LITE& other) : BASE(other.pool_chunk()) { *this = other; }

    // Clears, then inserts every key of the source in its iteration order.
    VTL_HASH_SET_LITE& operator=(const VTL_HASH_SET_LITE& other)
    {
        if (this == &other) return *this;
        this->clear();
        for (const NODE& node : other) insert(node.first);
        return *this;
    }

    // True when the key was not in the set before.
    bool insert(const K& key)
    {
        bool added = false;
        this->insert_node(key, &added);
        return added;
    }
};
