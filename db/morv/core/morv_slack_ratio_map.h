#pragma once

// Slack ratios of input terms by their canonical key, as the early flow
// leaves them for the late one: one sorted block, since a record of every
// input of a netlist is too many entries for a node each.

#include <cstddef>
#include <utility>
#include <vector>

#include "mem_alloc_sys.h"
#include "morv/netlist/morv_deterministic.h"

class MORV_SLACK_RATIO_MAP
{
public:
    using ENTRY = std::pair<MORV_CANONICAL_ITERM, double>;
    using LIST = std::vector<ENTRY, MORV_ALLOCATOR<ENTRY>>;
    using iterator = LIST::iterator;
    using const_iterator = LIST::const_iterator;

    // The size hint of a hash table, which a sorted block does not need.
    explicit MORV_SLACK_RATIO_MAP(size_t = 0) {}

    // The ratios may be changed in place, never the keys, which keep the
    // block sorted.
    iterator begin() { return m_entries.begin(); }
    iterator end() { return m_entries.end(); }
    const_iterator begin() const { return m_entries.begin(); }
    const_iterator end() const { return m_entries.end(); }
    const_iterator find(const MORV_CANONICAL_ITERM& key) const;
    size_t count(const MORV_CANONICAL_ITERM& key) const { return find(key) != end() ? 1 : 0; }
    size_t size() const { return m_entries.size(); }
    bool empty() const { return m_entries.empty(); }
    void clear() { LIST().swap(m_entries); }
    // Find-or-insert one key (0 for a new one). A new key moves the entries
    // after it: fill a whole map with assign.
    double& operator[](const MORV_CANONICAL_ITERM& key);
    // Replaces the content by the entries, in any order, each key once.
    void assign(LIST&& entries);

private:
    LIST m_entries;
};
