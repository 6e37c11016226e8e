// What the 4-LUT and 6-LUT retiming benches share: minimal netlists built
// the same way twice (same names) so that a test edits one copy through the
// hooks and proves it against the other with the sequential harness, and
// the pushes made of the hooks the way the core makes them.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "bpm/bpm_boundary_port_manager.h"
#include "cdb/cdb_atom_netlist.h"
#include "cdb/cdb_lutmask.h"
#include "hdb/hdb_instance_name.h"
#include "host_env.h"
#include "io/blif_reader.h"
#include "msg/msg.h"

#include "morv/core/morv_api.h"
#include "morv/core/morv_expert.h"
#include "morv/netlist/morv_cdb_interface.h"
#include "log_records.h"
#include "retiming_seq_run.h"
#include "seq_gen.h"
#include "seq_harness.h"

class RTM_LUT_NET
{
public:
    explicit RTM_LUT_NET(int family) : m_family(family), m_netlist(std::make_unique<CDB_ATOM_NETLIST>(family))
    {
        m_netlist->set_name_mgr(new HDB_NAME_MGR("top"), true);
        m_clock = input("clk");
    }
    CDB_ATOM_NODE* add(int kind, const std::string& n)
    {
        CDB_ATOM_NODE* node = cdb_create_atom(m_family, kind, m_netlist->get_name_mgr()->create_unique_name(n, 0));
        m_netlist->add_node(node);
        return node;
    }
    CDB_ATOM_OTERM* input(const std::string& n)
    {
        CDB_ATOM_NODE* pin = add(CDB_KIND_IO, n);
        return pin->add_output_term(DB_DATA_OUT, pin->get_instance_name());
    }
    void output(CDB_ATOM_OTERM* driver, const std::string& n)
    {
        CDB_ATOM_NODE* pin = cdb_create_output_pin(
            m_family, m_netlist->get_name_mgr()->create_unique_name(n + BLIF_OUTPUT_PIN_SUFFIX, 0));
        m_netlist->add_node(pin);
        driver->insert_fanout(pin->get_input_term_by_type(DB_DATAIN));
    }
    CDB_ATOM_NODE* reg(const std::string& n, CDB_ATOM_OTERM* data)
    {
        CDB_ATOM_NODE* r = add(CDB_KIND_REGISTER, n);
        CDB_ATOM_ITERM* d = r->add_input_term(DB_DATAIN);
        if (data != nullptr) data->insert_fanout(d);
        m_clock->insert_fanout(r->add_input_term(DB_CLOCK));
        r->add_output_term(DB_REG_OUT, r->get_instance_name());
        return r;
    }
    static CDB_ATOM_OTERM* out(CDB_ATOM_NODE* node)
    {
        CDB_ATOM_OTERM* o = node->get_output_term_by_type(DB_COMB_OUT);
        return o != nullptr ? o : node->get_output_term_by_type(DB_REG_OUT);
    }
    static CDB_ATOM_ITERM* in(CDB_ATOM_NODE* node, int port) { return node->get_input_term_by_type(port); }
    CDB_ATOM_ITERM* control(CDB_ATOM_NODE* r, int port, CDB_ATOM_OTERM* driver)
    {
        CDB_ATOM_ITERM* t = r->add_input_term(port);
        if (driver != nullptr) driver->insert_fanout(t);
        return t;
    }
    std::unique_ptr<CDB_ATOM_NETLIST> take() { return std::move(m_netlist); }
    CDB_ATOM_NETLIST& netlist() { return *m_netlist; }

protected:
    int family() const { return m_family; }
    // A LUT cell over the inputs given (first = A); a null driver leaves the
    // input to the caller.
    CDB_ATOM_NODE* lut_cell(const std::string& n, const std::vector<CDB_ATOM_OTERM*>& ins, const CDB_LUTMASK& mask)
    {
        CDB_ATOM_NODE* cell = add(CDB_KIND_LCELL_COMB, n);
        for (size_t k = 0; k < ins.size(); ++k) {
            CDB_ATOM_ITERM* t = cell->add_input_term(DB_DATA_A + static_cast<int>(k));
            if (ins[k] != nullptr) ins[k]->insert_fanout(t);
        }
        cell->set_lutmask(mask);
        cell->add_output_term(DB_COMB_OUT, cell->get_instance_name());
        return cell;
    }

private:
    int m_family;
    std::unique_ptr<CDB_ATOM_NETLIST> m_netlist;
    CDB_ATOM_OTERM* m_clock = nullptr;
};

// The netlist under a compile of its own, every node placed, edited
// through a branch's test leaf; a forward push looks at the data inputs up
// to LAST_DATA_PORT.
template <typename LEAF, int DEFAULT_FAMILY, int LAST_DATA_PORT>
class RTM_LUT_RUN
{
public:
    // With boundary_ports the compile has a boundary-port manager (made
    // before the environment, which fetches it once).
    explicit RTM_LUT_RUN(std::unique_ptr<CDB_ATOM_NETLIST> netlist, int family = DEFAULT_FAMILY,
                         const MORV_PARAMETER_MAP* params = nullptr, bool boundary_ports = false)
    {
        msg_set_quiet(true);
        m_design = std::make_unique<morv_host::HOST_DESIGN>(family, std::move(netlist));
        if (boundary_ports) m_design->install_boundary_port_manager();
        m_env = std::make_unique<morv_host::HOST_ENV>(*m_design);
        m_api = dynamic_cast<MORV_EXPERT*>(m_env->get_fsyn_expert())->get_fsyn_api();
        place_every_node(m_api, *m_design->netlist());
        m_rtm = std::make_unique<LEAF>(m_api, params);
        for (CDB_ATOM_NODE* node : *m_design->netlist()) m_rtm->make_live(node);
    }
    ~RTM_LUT_RUN()
    {
        if (m_log == nullptr) return;
        m_api->get_fsyn_cdb_interface()->set_logging(false);
        m_api->get_fsyn_cdb_interface()->set_fsyn_log(nullptr);
    }
    RTM_LUT_RUN(const RTM_LUT_RUN&) = delete;
    RTM_LUT_RUN& operator=(const RTM_LUT_RUN&) = delete;
    // From now on the edits write a change log of the run's own.
    TEST_CHANGE_LOG& log_changes()
    {
        m_log = std::make_unique<TEST_CHANGE_LOG>(m_api);
        m_api->get_fsyn_cdb_interface()->set_fsyn_log(m_log.get());
        m_api->get_fsyn_cdb_interface()->set_logging(true);
        return *m_log;
    }
    CDB_ATOM_NETLIST& netlist() { return *m_design->netlist(); }
    CDB_ATOM_NODE* find(const std::string& name) { return seq_find(netlist(), name); }
    LEAF& rtm() { return *m_rtm; }
    MORV_API* api() { return m_api; }
    morv_host::HOST_DESIGN& design() { return *m_design; }
    // A boundary port assigned to the term (a run made with boundary ports).
    int assign_port(CDB_ATOM_ITERM* term, const std::string& port)
    {
        const int id = m_design->boundary_port_manager()->create_port(port);
        m_api->set_boundary_port_id(term, id);
        return id;
    }
    int port_of(CDB_ATOM_ITERM* term) { return term != nullptr ? m_api->get_assigned_boundary_port_id(term) : -1; }

    // A backward push of the register fed through `term` across `cell`, as
    // the core commits it; false when a hook refuses. With `keep_removed`
    // the pushed register stays, without fanout, for the demux pass to
    // delete.
    bool push_backward(CDB_ATOM_ITERM* term, CDB_ATOM_NODE* cell, bool keep_removed = false)
    {
        RETIME_REG reg;
        CDB_ATOM_OTERM* regout = m_rtm->backward_push_get_reg(term, reg, true);
        if (regout == nullptr) return false;
        m_rtm->set_consumed({regout->get_my_node()});
        bool carry_low = true, share_low = true;
        m_rtm->clear_plans();
        if (!m_rtm->create_input_registers(cell, reg, carry_low, share_low)) return false;
        const std::vector<RETIME_ITERM> plans(m_rtm->get_planned_iterms().begin(), m_rtm->get_planned_iterms().end());
        for (const RETIME_ITERM& plan : plans) m_rtm->mark_new_register_iterm(plan.iterm);
        for (const RETIME_ITERM& plan : plans) m_rtm->insert_register(plan);
        CDB_ATOM_NODE* reg_node = regout->get_my_node();
        m_rtm->remove_register(reg_node);
        if (!keep_removed) m_rtm->drop_register(reg_node);
        return true;
    }
    // A forward push of the registers on the cell's data inputs across it.
    bool push_forward(CDB_ATOM_NODE* cell)
    {
        m_rtm->clear_plans();
        std::vector<CDB_ATOM_ITERM*> inputs;
        RETIME_REG reg;
        for (int port = DB_DATA_A; port <= LAST_DATA_PORT; ++port) {
            CDB_ATOM_ITERM* t = cell->get_input_term_by_type(port);
            if (t == nullptr || !t->is_driven()) continue;
            if (!m_rtm->get_input_register(t, reg)) return false;
            inputs.push_back(t);
        }
        bool carry_low = true, share_low = true;
        if (inputs.empty() || !m_rtm->create_output_registers(cell, reg, carry_low, share_low)) return false;
        std::vector<CDB_ATOM_NODE*> pushed;
        for (CDB_ATOM_ITERM* t : inputs)
            if (std::find(pushed.begin(), pushed.end(), t->get_source()->get_my_node()) == pushed.end())
                pushed.push_back(t->get_source()->get_my_node());
        m_rtm->set_consumed(pushed);
        for (CDB_ATOM_ITERM* t : inputs) m_rtm->disconnect_register(t);
        const auto outputs = m_rtm->get_output_registers();
        for (const auto& [oterm, out_reg] : outputs) m_rtm->add_register_on_output(oterm, out_reg);
        for (CDB_ATOM_NODE* r : pushed) {
            CDB_ATOM_OTERM* q = r->get_output_term_by_type(DB_REG_OUT);
            if (q != nullptr && !q->has_fanout()) m_rtm->drop_register(r);
        }
        return true;
    }

private:
    std::unique_ptr<morv_host::HOST_DESIGN> m_design;
    std::unique_ptr<morv_host::HOST_ENV> m_env;
    MORV_API* m_api = nullptr;
    std::unique_ptr<LEAF> m_rtm;
    std::unique_ptr<TEST_CHANGE_LOG> m_log;
};
