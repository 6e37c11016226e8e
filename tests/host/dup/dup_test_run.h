// A fixture netlist under a compile of its own, inside the LATE flow (or the
// post-clustering flow), with a chip map the test places atoms on and a
// slack source the test scripts, so that it chooses what is critical.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "cdb/cdb_atom_netlist.h"
#include "cycle_sim.h"
#include "fixture_netlist.h"
#include "host_env.h"
#include "msg/msg.h"
#include "scripted_slack.h"
#include "seq_gen.h"
#include "test_compile_setup.h"

#include "morv/core/morv_api.h"
#include "morv/core/morv_expert.h"
#include "morv/netlist/morv_chip_map.h"

// "prefix<k>", built by appending: GCC 12 misreads the operator+ of a
// literal and a temporary at -O3 (-Wrestrict).
inline std::string numbered(const char* prefix, int k)
{
    std::string name(prefix);
    name += std::to_string(k);
    return name;
}

class DUP_RUN
{
public:
    explicit DUP_RUN(FIXTURE_NETLIST& fixture, int flow = LATE_FSYN_FLOW)
        : DUP_RUN(fixture.family(), fixture.release(), flow)
    {}
    DUP_RUN(int family, std::unique_ptr<CDB_ATOM_NETLIST> netlist, int flow)
    {
        msg_set_quiet(true);
        m_design = std::make_unique<morv_host::HOST_DESIGN>(family, std::move(netlist));
        m_env = std::make_unique<morv_host::HOST_ENV>(*m_design);
        m_expert = dynamic_cast<MORV_EXPERT*>(m_env->get_fsyn_expert());
        m_api = m_expert->get_fsyn_api();
        DRIVER_FLAGS::run_only(m_expert, flow);
        if (flow == LATE_FSYN_FLOW) {
            m_env->set_placed(true);
            m_api->reset_fsyn_chip_map(false);
        } else {
            m_expert->reset_fsyn_cluster_map();
        }
        m_slack = std::make_unique<SCRIPTED_SLACK_SOURCE>(m_api->get_fsyn_timing());
        m_slack->set_default(5000, 0.9);
        m_slack->set_guardband_slack(0);
    }

    CDB_ATOM_NETLIST& netlist() { return *m_design->netlist(); }
    MORV_API* api() { return m_api; }
    MORV_EXPERT* expert() { return m_expert; }
    morv_host::HOST_ENV& env() { return *m_env; }
    SCRIPTED_SLACK_SOURCE& slack() { return *m_slack; }

    CDB_ATOM_NODE* find(const std::string& name) { return seq_find(netlist(), name); }
    void place(CDB_ATOM_NODE* node, int x, int y)
    {
        m_api->get_fsyn_chip_map()->set_node_location(static_cast<int>(node->get_id()), MORV_LOC{x, y, -1, -1});
        node->set_location(x, y);
    }
    // Every atom not placed yet goes to (x, y).
    void place_rest(int x, int y)
    {
        MORV_LOC location;
        for (CDB_ATOM_NODE* node : netlist())
            if (!m_api->get_fsyn_chip_map()->get_node_location(static_cast<int>(node->get_id()), &location))
                place(node, x, y);
    }
    MORV_LOC location_of(const CDB_ATOM_NODE* node)
    {
        MORV_LOC location;
        m_api->get_fsyn_chip_map()->get_node_location(static_cast<int>(node->get_id()), &location);
        return location;
    }
    void cluster(CDB_ATOM_NODE* node, int cluster, int ale)
    {
        m_expert->set_atom_preferred_cluster(static_cast<int>(node->get_id()), cluster, ale);
    }
    // Output values over cycles of pseudo-random inputs from the zero state.
    std::vector<unsigned> trace(int cycles)
    {
        CYCLE_SIM sim(netlist());
        std::vector<unsigned> values;
        uint32_t state = 12345;
        for (int c = 0; c < cycles; ++c) {
            for (size_t i = 0; i < sim.input_names().size(); ++i) {
                state = state * 1103515245u + 12345u;
                sim.set_input(i, (state >> 16) & 1u);
            }
            for (size_t o = 0; o < sim.output_names().size(); ++o) values.push_back(sim.output(o));
            sim.clock();
        }
        return values;
    }

private:
    std::unique_ptr<morv_host::HOST_DESIGN> m_design;
    std::unique_ptr<morv_host::HOST_ENV> m_env;
    MORV_EXPERT* m_expert = nullptr;
    MORV_API* m_api = nullptr;
    std::unique_ptr<SCRIPTED_SLACK_SOURCE> m_slack;
};
