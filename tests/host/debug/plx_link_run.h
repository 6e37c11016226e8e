// A small fixture netlist under a compile of its own with the tool link
// enabled and pointed at a test's socket, and a slack source the test
// scripts.
#pragma once

#include <memory>
#include <string>

#include "cfg/cfg.h"
#include "fixture_netlist.h"
#include "host_env.h"
#include "msg/msg.h"
#include "scripted_slack.h"
#include "seq_gen.h"
#include "test_compile_setup.h"

#include "morv/core/morv_api.h"
#include "morv/core/morv_expert.h"
#include "morv/debug/morv_plumrix.h"
#include "morv/debug/morv_plumrix_interface.h"

constexpr const char* PLX_TEST_SOCKET = "tool.sock";

// Switches the link on for the compiles made while it lives; the link waits
// briefly instead of the tool's seconds.
class PLX_SWITCHES
{
public:
    explicit PLX_SWITCHES(bool file_mode = false)
    {
        cfg_set_value("fsyn_enable_plumrix", "on");
        cfg_set_value("fsyn_plumrix_endpoint", PLX_TEST_SOCKET);
        if (file_mode) cfg_set_value("fsyn_redirect_plx_to_file", "on");
        MORV_PLUMRIX_INTERFACE::set_timing({2, 1, 5});
    }
    ~PLX_SWITCHES()
    {
        for (const char* key : {"fsyn_enable_plumrix", "fsyn_plumrix_endpoint", "fsyn_redirect_plx_to_file"})
            cfg_unset(key);
        MORV_PLUMRIX_INTERFACE::set_timing(MORV_PLX_TIMING());
    }
    PLX_SWITCHES(const PLX_SWITCHES&) = delete;
    PLX_SWITCHES& operator=(const PLX_SWITCHES&) = delete;
};

// input a, b -> g = a AND b -> register r -> output o; "dead" reads a and drives nothing.
struct PLX_NETLIST
{
    FIXTURE_NETLIST fixture{CDB_FAMILY_BRK};
    PLX_NETLIST()
    {
        CDB_ATOM_OTERM* a = fixture.input("a");
        CDB_ATOM_OTERM* b = fixture.input("b");
        CDB_ATOM_OTERM* clk = fixture.input("clk");
        CDB_ATOM_OTERM* g = fixture.lut("g", {a, b}, 0x8);
        fixture.output("o", fixture.reg("r", g, clk));
        fixture.lut("dead", {a}, 0x1);
    }
};

class PLX_RUN
{
public:
    PLX_RUN() : PLX_RUN(PLX_NETLIST().fixture) {}
    // A compile of a netlist of the test's own, in the fixture's family.
    explicit PLX_RUN(FIXTURE_NETLIST&& built) : PLX_RUN(built.family(), built.release()) {}
    PLX_RUN(int family, std::unique_ptr<CDB_ATOM_NETLIST> netlist)
    {
        msg_set_quiet(true);
        m_design = std::make_unique<morv_host::HOST_DESIGN>(family, std::move(netlist));
        m_env = std::make_unique<morv_host::HOST_ENV>(*m_design);
        m_expert = dynamic_cast<MORV_EXPERT*>(m_env->get_fsyn_expert());
        m_api = m_expert->get_fsyn_api();
        DRIVER_FLAGS::run_only(m_expert, LATE_FSYN_FLOW);
        m_env->set_placed(true);
        m_api->reset_fsyn_chip_map(false);
        m_slack = std::make_unique<SCRIPTED_SLACK_SOURCE>(m_api->get_fsyn_timing());
        m_slack->set_default(5000, 0.9);
        m_slack->set_guardband_slack(0);
    }
    ~PLX_RUN()
    {
        m_slack.reset();
        m_env.reset();
        m_design.reset();
    }
    PLX_RUN(const PLX_RUN&) = delete;
    PLX_RUN& operator=(const PLX_RUN&) = delete;

    CDB_ATOM_NETLIST& netlist() { return *m_design->netlist(); }
    MORV_API* api() { return m_api; }
    MORV_PLUMRIX* link() { return m_expert->get_fsyn_plumrix(); }
    SCRIPTED_SLACK_SOURCE& slack() { return *m_slack; }
    CDB_ATOM_NODE* find(const std::string& name) { return seq_find(netlist(), name); }
    int id(const std::string& name) { return static_cast<int>(find(name)->get_id()); }

private:
    std::unique_ptr<morv_host::HOST_DESIGN> m_design;
    std::unique_ptr<morv_host::HOST_ENV> m_env;
    MORV_EXPERT* m_expert = nullptr;
    MORV_API* m_api = nullptr;
    std::unique_ptr<SCRIPTED_SLACK_SOURCE> m_slack;
};
