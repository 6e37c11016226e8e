#pragma once

// The latch-legaliser stress test of the utility algorithm: random edits to
// every latch of a structured-ASIC netlist (swapped inputs, clear, preset,
// data and enable removed, dominance switched), each followed by the checks
// a legal latch must pass, and a count of the latch kinds met on the way.

#include <array>
#include <cstdint>
#include <string>

#include "morv/core/algorithm/morv_algorithm_base.h"

class MORV_API;
class MORV_NET_UTIL;
class MORV_CDB_INTERFACE;
class CDB_ATOM_NODE;
class CDB_ATOM_ITERM;
struct CDB_ATOM_LATCH_INFO;

// Every bit set of the latch type (seven bits) has a counter.
constexpr int LLT_LATCH_TYPE_ARRAY_SIZE = 128;

enum MORV_LLT_TYPE_BIT : int
{
    MORV_LLT_ENABLE = 1,
    MORV_LLT_ENABLE_HIGH = 2,
    MORV_LLT_CLEAR = 4,
    MORV_LLT_CLEAR_HIGH = 8,
    MORV_LLT_PRESET = 16,
    MORV_LLT_PRESET_HIGH = 32,
    MORV_LLT_CLEAR_DOMINANT = 64,
};

class MORV_UTIL_LATCH_TEST
{
public:
    MORV_UTIL_LATCH_TEST(MORV_API* api, MORV_NET_UTIL* net_util, MORV_CDB_INTERFACE* cdb_interface,
                         const MORV_PARAMETER_MAP& params);

    // Edits and checks every latch; the number of latches.
    int run(int seed);
    // One line per possible latch type with the number of latches of that type met.
    void report_coverage() const;
    int get_count(int latch_type) const { return m_counts[latch_type]; }

    // "en1 clr0 prs1 clr_dom" and the like, absent parts blank.
    static std::string describe_type(int latch_type);

private:
    void read_knobs(const MORV_PARAMETER_MAP& params);
    void test_latch(CDB_ATOM_NODE* node);
    int number_of_moves();
    void make_move(CDB_ATOM_NODE* node);
    bool swap_inputs(CDB_ATOM_NODE* node);
    bool remove_set_or_reset(CDB_ATOM_NODE* node, bool clear);
    bool remove_data_and_enable(CDB_ATOM_NODE* node);
    bool switch_dominance(CDB_ATOM_NODE* node);
    void write_mask(CDB_ATOM_NODE* node, uint64_t rows);
    void disconnect(CDB_ATOM_ITERM* iterm);
    void check_latch(CDB_ATOM_NODE* node) const;
    int classify(CDB_ATOM_NODE* node) const;

    MORV_API* m_api;
    MORV_NET_UTIL* m_net_util;
    MORV_CDB_INTERFACE* m_cdb_interface;
    bool m_random_moves = true;
    int m_num_moves = 8;
    double m_prob_port_swap = 1.0;
    double m_prob_clear_remove = 0.1;
    double m_prob_preset_remove = 0.1;
    double m_prob_data_enable_remove = 0.1;
    double m_prob_dominance_switch = 0.0;
    bool m_seeded = false;
    std::array<int, LLT_LATCH_TYPE_ARRAY_SIZE> m_counts{};
};
