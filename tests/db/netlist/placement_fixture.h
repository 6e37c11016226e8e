#pragma once
// A facade of one family whose flow driver can claim to be inside a given
// flow, over a netlist of hand-made cells, for the placement model's tests.

#include <string>

#include "cdb/cdb_atom_netlist.h"
#include "hdb/hdb_instance_name.h"

#include "morv/core/morv_api.h"
#include "morv/netlist/morv_chip_map.h"
#include "morv/core/morv_expert.h"
#include "../core/morv_test_env.h"
#include "atom_assignments.h"
#include "morv_test_util.h"

// Sets the running flags of any flow driver (the env's own, which the
// tests must use: states are saved through it).
class PLACEMENT_FLOW_FLAGS : public MORV_EXPERT
{
public:
    // Only the given flow runs (none for -1).
    static void run_only(MORV_EXPERT* expert, int flow)
    {
        bool(&running)[NUM_FSYN_FLOWS] = expert->*(&PLACEMENT_FLOW_FLAGS::m_fsyn_flow_is_running);
        for (int f = 0; f < NUM_FSYN_FLOWS; ++f) running[f] = f == flow;
    }
};

class PLACEMENT_NETLIST
{
public:
    explicit PLACEMENT_NETLIST(int family)
        : m_host(family), m_env(&m_host.cmp), m_expert(dynamic_cast<MORV_EXPERT*>(m_env.get_fsyn_expert()))
    {
        api()->reset_fsyn_chip_map(false);
    }

    MORV_API* api() { return m_expert->get_fsyn_api(); }
    MORV_CHIP_MAP* chip_map() { return api()->get_fsyn_chip_map(); }
    MORV_TEST_ENV& env() { return m_env; }
    MORV_EXPERT* expert() { return m_expert; }
    void run_only(int flow) { PLACEMENT_FLOW_FLAGS::run_only(m_expert, flow); }
    CDB_ATOM_NETLIST* netlist() { return m_host.netlist.get(); }
    int family() const { return m_host.cmp.get_base_family_code(); }

    CDB_ATOM_NODE* atom(int kind)
    {
        std::string name("n");
        name.append(std::to_string(m_count++));
        CDB_ATOM_NODE* node = cdb_create_atom(family(), kind, m_host.names.find_or_create_path(name, 0));
        node->set_chip_db_entry(&m_host.chip_entry);
        netlist()->add_node(node);
        return node;
    }
    CDB_ATOM_NODE* lut() { return atom(CDB_KIND_LCELL_COMB); }
    CDB_ATOM_NODE* reg() { return atom(CDB_KIND_REGISTER); }
    CDB_ATOM_NODE* pin() { return atom(CDB_KIND_IO); }
    static int id(const CDB_ATOM_NODE* node) { return static_cast<int>(node->get_id()); }

    // from's output of that port type drives to's input of that port type.
    static void connect(CDB_ATOM_NODE* from, int output_port, CDB_ATOM_NODE* to, int input_port)
    {
        CDB_ATOM_OTERM* out = from->get_output_term_by_type(output_port);
        if (out == nullptr) out = from->add_output_term(output_port);
        CDB_ATOM_ITERM* in = to->get_input_term_by_type(input_port);
        if (in == nullptr) in = to->add_input_term(input_port);
        out->insert_fanout(in);
    }
    static void lock(CDB_ATOM_NODE* node, int x1, int y1, int x2, int y2)
    {
        assign_locked_region(node, x1, y1, x2, y2);
    }
    static void kardel(CDB_ATOM_NODE* node, int region)
    {
        CDB_ATOM_ASSIGNMENTS a = node->get_assignments();
        a.kardel_region = region;
        node->set_assignments(a);
    }
    void place(CDB_ATOM_NODE* node, int x, int y, int sub = -1)
    {
        chip_map()->set_node_location(id(node), MORV_LOC{x, y, sub, -1});
    }

private:
    MORV_TEST_HOST m_host;
    MORV_TEST_ENV m_env;
    MORV_EXPERT* m_expert;
    int m_count = 0;
};
