#include "io/blif_table_cover.h"

#include <algorithm>
#include <functional>

namespace {

int address_bits(size_t entries)
{
    int n = 0;
    while ((size_t{1} << n) < entries) ++n;
    return n;
}

// One cover lists the smaller of its ON-set and OFF-set.
int flat_lines(const std::vector<bool>& entries)
{
    const auto ones = static_cast<size_t>(std::count(entries.begin(), entries.end(), true));
    return 1 + static_cast<int>(std::min(ones, entries.size() - ones));
}

}  // namespace

bool blif_table_is_constant(const std::vector<bool>& entries)
{
    return std::adjacent_find(entries.begin(), entries.end(), std::not_equal_to<>()) == entries.end();
}

std::vector<bool> blif_table_without_free_high_bits(std::vector<bool> entries)
{
    for (size_t half = entries.size() / 2;
         half > 0 && std::equal(entries.begin(), entries.begin() + static_cast<long>(half),
                                entries.begin() + static_cast<long>(half));
         half /= 2)
        entries.resize(half);
    return entries;
}

BLIF_TABLE_PARTS blif_table_parts(const std::vector<bool>& entries, int select_bits)
{
    BLIF_TABLE_PARTS parts;
    const size_t size = entries.size() >> select_bits;
    std::map<std::vector<bool>, int> index;
    for (size_t s = 0; s < (size_t{1} << select_bits); ++s) {
        std::vector<bool> part(entries.begin() + static_cast<long>(s * size),
                               entries.begin() + static_cast<long>((s + 1) * size));
        auto [at, added] = index.emplace(part, static_cast<int>(parts.distinct.size()));
        if (added) parts.distinct.push_back(std::move(part));
        parts.part_of.push_back(at->second);
    }
    return parts;
}

int BLIF_TABLE_PLANNER::best_select_bits(const std::vector<bool>& entries, int* lines)
{
    const std::pair<int, int> p = plan(entries);
    if (lines != nullptr) *lines = p.first;
    return p.second;
}

std::pair<int, int> BLIF_TABLE_PLANNER::plan(const std::vector<bool>& table)
{
    if (blif_table_is_constant(table)) return {0, 0};
    const std::vector<bool> entries = blif_table_without_free_high_bits(table);
    if (auto known = m_plans.find(table); known != m_plans.end()) return known->second;
    std::pair<int, int> best(flat_lines(entries), 0);
    const int n = address_bits(entries.size());
    for (int m = 1; m <= std::min(k_max_select_bits, n - 1); ++m) {
        const BLIF_TABLE_PARTS parts = blif_table_parts(entries, m);
        // The select cover: its header and a row per part that is not 0.
        int lines = 1;
        for (int part : parts.part_of)
            lines += blif_table_is_constant(parts.distinct[part]) && !parts.distinct[part][0] ? 0 : 1;
        for (const std::vector<bool>& part : parts.distinct) lines += plan(part).first;
        if (lines < best.first) best = {lines, m};
    }
    m_plans.emplace(table, best);
    return best;
}
