// A netlist under a compile of its own, retimed pass by pass through a
// family leaf: iteration by iteration, with slacks given afresh before each
// (scripted, or from the timing object's own analysis), the way the run
// driver calls do_iter. The leaf counts its inverter cells (counts()), so
// that cells the iterations add besides them are node splits.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <string>

#include "cdb/cdb_atom_netlist.h"
#include "host_env.h"
#include "msg/msg.h"

#include "morv/core/morv_api.h"
#include "morv/core/morv_expert.h"
#include "morv/netlist/morv_chip_map.h"
#include "morv/timing/morv_timing.h"
#include "retiming_ref_leaf.h"
#include "scripted_slack.h"

// Every node at a location of the run's chip map, row by row, for the
// families whose hooks place new cells next to the nodes they come from.
inline void place_every_node(MORV_API* api, CDB_ATOM_NETLIST& netlist)
{
    if (api->get_fsyn_chip_map() == nullptr) api->reset_fsyn_chip_map(false);
    MORV_CHIP_MAP* map = api->get_fsyn_chip_map();
    const int columns = std::max(1, map->get_nx() - 2), rows = std::max(1, map->get_ny() - 2);
    int k = 0;
    for (CDB_ATOM_NODE* node : netlist) {
        const MORV_LOC at{1 + k % columns, 1 + (k / columns) % rows, MORV_OPEN, MORV_OPEN};
        map->set_node_location(static_cast<int>(node->get_id()), at);
        ++k;
    }
}

using RETIMING_SLACK_SCRIPT = std::function<void(CDB_ATOM_NETLIST&, SCRIPTED_SLACK_SOURCE&)>;

template <typename LEAF>
class RETIMING_SEQ_RUN
{
public:
    // A null script takes the slacks of the timing object's full analysis.
    RETIMING_SEQ_RUN(int family, std::unique_ptr<CDB_ATOM_NETLIST> netlist, const std::string& params = "",
                     RETIMING_SLACK_SCRIPT script = script_unit_delay_slacks)
        : m_script(std::move(script))
    {
        msg_set_quiet(true);
        m_design = std::make_unique<morv_host::HOST_DESIGN>(family, std::move(netlist));
        m_env = std::make_unique<morv_host::HOST_ENV>(*m_design);
        m_api = dynamic_cast<MORV_EXPERT*>(m_env->get_fsyn_expert())->get_fsyn_api();
        MORV_ALGORITHM_BASE::parse_algorithm_params(m_params, params);
        m_leaf = std::make_unique<LEAF>(m_api, &m_params);
    }
    ~RETIMING_SEQ_RUN() { m_slacks.reset(); }

    CDB_ATOM_NETLIST& netlist() { return *m_design->netlist(); }
    LEAF& leaf() { return *m_leaf; }
    MORV_API* api() { return m_api; }
    int iterations() const { return m_iterations; }
    int splits() const { return m_splits; }
    // What the last iteration reported.
    int last_modifications() const { return m_last_modifications; }
    int retimed_notes() const { return m_env->count_notes("registers_retimed"); }

    // One pass of at most `iterations` iterations; stops at the first that
    // changes nothing. The host hears of every modifying iteration once.
    void run_pass(int pass, int iterations)
    {
        int num_iters = -1, hill_climb = -1;
        m_leaf->set_default_pass_parameters(pass, num_iters, hill_climb);
        for (int i = 0; i < iterations; ++i) {
            give_slacks();
            const int cells = count_cells();
            const int inverters = m_leaf->counts().inverters;
            const int told = m_env->count_notes("registers_retimed");
            const int modifications = m_leaf->do_iter();
            m_last_modifications = modifications;
            ++m_iterations;
            m_splits += count_cells() - cells - (m_leaf->counts().inverters - inverters);
            EXPECT_EQ(m_env->count_notes("registers_retimed") - told, modifications > 0 ? 1 : 0);
            if (modifications == 0) break;
        }
    }

private:
    void give_slacks()
    {
        m_slacks.reset();
        if (!m_script) {
            MORV_TIMING* timing = m_api->get_fsyn_timing();
            timing->set_mode_switched(true);
            timing->sync_timing_netlist(false, true);
            timing->perform_timing_analysis();
            return;
        }
        m_slacks = std::make_unique<SCRIPTED_SLACK_SOURCE>(m_api->get_fsyn_timing());
        m_script(netlist(), *m_slacks);
    }
    int count_cells()
    {
        int cells = 0;
        for (CDB_ATOM_NODE* node : netlist()) cells += node->is_lcell_comb() ? 1 : 0;
        return cells;
    }

    RETIMING_SLACK_SCRIPT m_script;
    std::unique_ptr<morv_host::HOST_DESIGN> m_design;
    std::unique_ptr<morv_host::HOST_ENV> m_env;
    MORV_API* m_api = nullptr;
    MORV_PARAMETER_MAP m_params;
    std::unique_ptr<LEAF> m_leaf;
    std::unique_ptr<SCRIPTED_SLACK_SOURCE> m_slacks;
    int m_iterations = 0;
    int m_splits = 0;
    int m_last_modifications = 0;
};
