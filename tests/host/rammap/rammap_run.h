// A fixture netlist handed to the host with the family's RAM utility made
// for it, and the cycle simulation the cell builders are checked with.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "cdb/cdb_atom_netlist.h"
#include "cdb/cdb_lutmask.h"
#include "host_env.h"
#include "io/blif_reader.h"
#include "msg/msg.h"

#include "cycle_sim.h"
#include "fixture_netlist.h"
#include "morv/core/morv_api.h"
#include "morv/core/morv_expert.h"
#include "morv/rammap/morv_ram_map_util.h"
#include "retiming_seq_run.h"

using RAMMAP_BUILD = std::function<void(FIXTURE_NETLIST&)>;

// "a" and 3 make "a3" (appended: GCC 12 warns falsely on literal + string at -O3).
inline std::string indexed(const char* prefix, long long index)
{
    std::string name(prefix);
    name.append(std::to_string(index));
    return name;
}

// a + b on one carry chain of the family's arithmetic cells: the sum bits,
// then the last carry out. The 6-input families' cells are the fixture's;
// a 4-input cell in arithmetic mode reads its carry-in as the third mask
// input and names its carry output name + "_cout_" + bit.
inline std::vector<CDB_ATOM_OTERM*> carry_chain(FIXTURE_NETLIST& f, const std::string& name,
                                                const std::vector<CDB_ATOM_OTERM*>& a,
                                                const std::vector<CDB_ATOM_OTERM*>& b)
{
    if (cdb_family_lut_size(f.family()) == 6) return f.adder(name, a, b);
    std::vector<CDB_ATOM_OTERM*> sum;
    CDB_ATOM_OTERM* carry = nullptr;
    for (size_t i = 0; i < a.size(); ++i) {
        sum.push_back(f.lut(name + "_" + std::to_string(i), {a[i], b[i]}, 0));
        CDB_ATOM_NODE* cell = sum.back()->get_my_node();
        cell->clear_bit(CDB_ATOM_BIT_FOUR_INPUT_COMB);
        cell->set_lutmask(CDB_LUTMASK(4, 0x9696));        // a ^ b ^ cin
        cell->set_carry_lutmask(CDB_LUTMASK(4, 0xE8E8));  // majority
        if (carry != nullptr) carry->insert_fanout(cell->add_input_term(DB_CARRY_IN));
        carry = cell->add_output_term(
            DB_CARRY_OUT, f.netlist().get_name_mgr()->find_or_create_path(name + "_cout_" + std::to_string(i), 0));
    }
    sum.push_back(carry);
    return sum;
}

class RAMMAP_RUN
{
public:
    RAMMAP_RUN(int family, const RAMMAP_BUILD& build, DEV_DEVICE* device = nullptr)
        : RAMMAP_RUN(family, built(family, build), device)
    {}
    RAMMAP_RUN(int family, std::unique_ptr<CDB_ATOM_NETLIST> netlist, DEV_DEVICE* device = nullptr)
    {
        msg_set_quiet(true);
        m_design = std::make_unique<morv_host::HOST_DESIGN>(family, std::move(netlist), nullptr, device);
        m_env = std::make_unique<morv_host::HOST_ENV>(*m_design);
        m_api = dynamic_cast<MORV_EXPERT*>(m_env->get_fsyn_expert())->get_fsyn_api();
        place_every_node(m_api, *m_design->netlist());
        m_util = MORV_RAM_MAP_UTIL::create_for_family(m_api);
    }
    ~RAMMAP_RUN() { m_util.reset(); }

    CDB_ATOM_NETLIST& netlist() { return *m_design->netlist(); }
    MORV_API* api() { return m_api; }
    MORV_RAM_MAP_UTIL* util() { return m_util.get(); }
    CDB_ATOM_NODE* node(const std::string& name)
    {
        for (CDB_ATOM_NODE* n : netlist())
            if (n->get_instance_name()->get_short_hpath() == name) return n;
        ADD_FAILURE() << "no node " << name;
        return nullptr;
    }
    // The data input of the output cell of that port.
    CDB_ATOM_ITERM* output_term(const std::string& port)
    {
        return node(port + BLIF_OUTPUT_PIN_SUFFIX)->get_input_term_by_type(DB_DATAIN);
    }
    int count_nodes_with_suffix(const std::string& suffix)
    {
        int n = 0;
        for (CDB_ATOM_NODE* node : netlist()) {
            const std::string name = node->get_instance_name()->get_short_hpath();
            n += name.size() >= suffix.size() && name.find(suffix) != std::string::npos;
        }
        return n;
    }

private:
    static std::unique_ptr<CDB_ATOM_NETLIST> built(int family, const RAMMAP_BUILD& build)
    {
        FIXTURE_NETLIST f(family);
        build(f);
        return f.release();
    }

    std::unique_ptr<morv_host::HOST_DESIGN> m_design;
    std::unique_ptr<morv_host::HOST_ENV> m_env;
    MORV_API* m_api = nullptr;
    MORV_OWNER<MORV_RAM_MAP_UTIL> m_util;
};

// Named access to a cycle simulation.
class RAMMAP_SIM
{
public:
    explicit RAMMAP_SIM(const CDB_ATOM_NETLIST& netlist) : m_sim(netlist) {}
    void set(const std::string& input, unsigned value) { m_sim.set_input(index(m_sim.input_names(), input), value); }
    unsigned get(const std::string& output) { return m_sim.output(index(m_sim.output_names(), output)); }
    void clock() { m_sim.clock(); }

private:
    static size_t index(const std::vector<std::string>& names, const std::string& name)
    {
        for (size_t i = 0; i < names.size(); ++i)
            if (names[i] == name) return i;
        throw std::runtime_error("no port " + name);
    }
    CYCLE_SIM m_sim;
};
