#pragma once

// The test kit run as one step of an algorithm list: the optimisation
// signature check, a timing dump, a stress test of the latch legaliser,
// latch logging, and deliberate damage to
// the netlist's function or its don't-touch rules, so that the checks that
// should catch them can be shown to.

#include <string>
#include <vector>

#include "mem_alloc_sys.h"
#include "morv/core/algorithm/morv_algorithm_base.h"
#include "morv/debug/morv_util_latch_test.h"

class MORV_NET_UTIL;
class CDB_ATOM_NODE;
class CDB_ATOM_ITERM;
class CDB_ATOM_OTERM;

class MORV_UTIL : public MORV_ALGORITHM_BASE
{
public:
    MORV_UTIL(MORV_API* api, const MORV_PARAMETER_MAP* params);
    ~MORV_UTIL() override;

    std::string get_short_name() override { return "UTIL"; }
    std::string get_description() override { return "utility"; }
    int do_iter() override;

    // Exchanges the sources of two distinct data inputs, with sources, of up
    // to count LUTs; the number of LUTs changed.
    int break_functionality(int count);
    // Null unless the latch-legaliser test was asked for.
    const MORV_UTIL_LATCH_TEST* get_latch_test() const { return m_latch_test.get(); }
    int log_latches();
    void recreate_dont_touch_node();

private:
    void read_keywords(const MORV_PARAMETER_MAP& params);
    void check_project(const std::string& required);
    std::vector<CDB_ATOM_NODE*> collect_nodes() const;
    std::vector<CDB_ATOM_ITERM*> collect_swappable_inputs(CDB_ATOM_NODE* node) const;
    uint32_t next_random();
    void move_iterm(CDB_ATOM_ITERM* iterm, CDB_ATOM_OTERM* new_source);
    bool try_break_dont_touch(CDB_ATOM_NODE* node);

    MORV_NET_UTIL* m_net_util = nullptr;
    MORV_OWNER<MORV_UTIL_LATCH_TEST> m_latch_test;
    bool m_dump_timing = false;
    bool m_kill = false;
    bool m_latch_migration = false;
    bool m_break_dont_touch = false;
    bool m_damage_done = false;
    int m_seed = 1;
    int m_break_count = 0;
};
