#pragma once
// MORV_SIMPLE_HASH_SET: the set form of MORV_SIMPLE_HASH (same probing,
// growth, load limit and checked iterators; the slots hold only keys).

#include "morv_simple_hash.h"

template <typename K, typename FUNCS = MORV_SIMPLE_HASH_FUNCS<K>>
class MORV_SIMPLE_HASH_SET : public MORV_SIMPLE_HASH_TABLE<K, K, FUNCS, true>
{
    using BASE = MORV_SIMPLE_HASH_TABLE<K, K, FUNCS, true>;

public:
    using BASE::BASE;

    // True when the key was not in the set before.
    bool insert(const K& key)
    {
        bool added = false;
        this->insert_entry(key, &added);
        return added;
    }
};
