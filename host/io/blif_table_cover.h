#pragma once
// How a constant table read by address nets (a ROM slice's column: entry a
// for address a) is written shortest: one cover over every address bit, or
// covers of the low bits (each planned the same way) selected by a cover
// over the high ones, identical parts sharing one cover.

#include <map>
#include <utility>
#include <vector>

// The parts the high `select_bits` address bits select (part s holds the
// entries whose high bits are s), each once, and part s's index among them.
struct BLIF_TABLE_PARTS
{
    std::vector<std::vector<bool>> distinct;
    std::vector<int> part_of;
};
BLIF_TABLE_PARTS blif_table_parts(const std::vector<bool>& entries, int select_bits);

// True when every entry is the same (the table is a constant).
bool blif_table_is_constant(const std::vector<bool>& entries);
// Drops the high address bits the table does not depend on (whose halves
// are the same), so that no cover reads them.
std::vector<bool> blif_table_without_free_high_bits(std::vector<bool> entries);

class BLIF_TABLE_PLANNER
{
public:
    // The high address bits the shortest form selects with first (0: one
    // cover), once the high bits the table does not depend on are dropped;
    // its lines (headers and rows) in `lines` when asked. The entries are
    // 2^n of them.
    int best_select_bits(const std::vector<bool>& entries, int* lines = nullptr);

    // Largest select taken at one level: its cover reads the select bits
    // and one net per distinct part.
    static constexpr int k_max_select_bits = 3;

private:
    std::pair<int, int> plan(const std::vector<bool>& table);  // lines, select bits
    std::map<std::vector<bool>, std::pair<int, int>> m_plans;
};
