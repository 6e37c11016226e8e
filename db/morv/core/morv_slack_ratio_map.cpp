#include "morv/core/morv_slack_ratio_map.h"

#include <algorithm>

#include "morv/core/morv_assert.h"

namespace {

bool slack_ratio_entry_before(const MORV_SLACK_RATIO_MAP::ENTRY& entry, const MORV_CANONICAL_ITERM& key)
{
    return entry.first < key;
}

}  // namespace

MORV_SLACK_RATIO_MAP::const_iterator MORV_SLACK_RATIO_MAP::find(const MORV_CANONICAL_ITERM& key) const
{
    const auto found = std::lower_bound(m_entries.begin(), m_entries.end(), key, slack_ratio_entry_before);
    return found != m_entries.end() && found->first == key ? found : m_entries.end();
}

double& MORV_SLACK_RATIO_MAP::operator[](const MORV_CANONICAL_ITERM& key)
{
    auto found = std::lower_bound(m_entries.begin(), m_entries.end(), key, slack_ratio_entry_before);
    if (found == m_entries.end() || found->first != key) found = m_entries.insert(found, ENTRY{key, 0.0});
    return found->second;
}

void MORV_SLACK_RATIO_MAP::assign(LIST&& entries)
{
    std::sort(entries.begin(), entries.end(), [](const ENTRY& a, const ENTRY& b) { return a.first < b.first; });
    for (size_t i = 1; i < entries.size(); ++i) MORV_ASSERT(entries[i - 1].first != entries[i].first);
    m_entries = std::move(entries);
}
