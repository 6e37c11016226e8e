// UVO netlists for the retiming tests: every cell is a logic cell, and a
// register is a cell whose LUT passes DB_DATA_A (or its complement) to its
// packed register.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "cdb/cdb_atom_netlist.h"
#include "cdb/cdb_lutmask.h"
#include "hdb/hdb_instance_name.h"
#include "io/blif_reader.h"

class UVO_NET
{
public:
    UVO_NET() : m_netlist(std::make_unique<CDB_ATOM_NETLIST>(CDB_FAMILY_UVO))
    {
        m_netlist->set_name_mgr(new HDB_NAME_MGR("top"), true);
        m_clock = input("clk");
    }
    CDB_ATOM_OTERM* input(const std::string& n)
    {
        CDB_ATOM_NODE* pin = add(CDB_KIND_IO, n);
        return pin->add_output_term(DB_DATA_OUT, pin->get_instance_name());
    }
    void output(CDB_ATOM_OTERM* driver, const std::string& n)
    {
        CDB_ATOM_NODE* pin = cdb_create_output_pin(
            CDB_FAMILY_UVO, m_netlist->get_name_mgr()->create_unique_name(n + BLIF_OUTPUT_PIN_SUFFIX, 0));
        m_netlist->add_node(pin);
        driver->insert_fanout(pin->get_input_term_by_type(DB_DATAIN));
    }
    // A cell over the inputs given (first = DB_DATA_A; null leaves it to the
    // caller); comb: a DB_COMB_OUT, reg: a packed register its LUT feeds.
    CDB_ATOM_NODE* cell(const std::string& n, const std::vector<CDB_ATOM_OTERM*>& ins, uint64_t mask, bool comb,
                        bool reg)
    {
        CDB_ATOM_NODE* c = add(CDB_KIND_LCELL_COMB, n);
        for (size_t k = 0; k < ins.size(); ++k) {
            CDB_ATOM_ITERM* t = c->add_input_term(DB_DATA_A + static_cast<int>(k));
            if (ins[k] != nullptr) ins[k]->insert_fanout(t);
        }
        c->set_lutmask(CDB_LUTMASK(4, mask));
        if (comb) c->add_output_term(DB_COMB_OUT, c->get_instance_name());
        if (reg) {
            m_clock->insert_fanout(c->add_input_term(DB_CLOCK));
            c->add_output_term(DB_REG_OUT, m_netlist->get_name_mgr()->create_unique_name(n + "_q", 0));
        }
        return c;
    }
    CDB_ATOM_NODE* lut(const std::string& n, const std::vector<CDB_ATOM_OTERM*>& ins, uint64_t mask)
    {
        return cell(n, ins, mask, true, false);
    }
    // A register cell: 0xAAAA stores its input, 0x5555 the complement.
    CDB_ATOM_NODE* reg(const std::string& n, CDB_ATOM_OTERM* data, uint64_t mask = 0xAAAA)
    {
        return cell(n, {data}, mask, false, true);
    }
    static CDB_ATOM_OTERM* comb(CDB_ATOM_NODE* node) { return node->get_output_term_by_type(DB_COMB_OUT); }
    static CDB_ATOM_OTERM* q(CDB_ATOM_NODE* node) { return node->get_output_term_by_type(DB_REG_OUT); }
    static CDB_ATOM_ITERM* in(CDB_ATOM_NODE* node, int port) { return node->get_input_term_by_type(port); }
    std::unique_ptr<CDB_ATOM_NETLIST> take() { return std::move(m_netlist); }
    CDB_ATOM_NETLIST& netlist() { return *m_netlist; }

private:
    CDB_ATOM_NODE* add(int kind, const std::string& n)
    {
        CDB_ATOM_NODE* node =
            cdb_create_atom(CDB_FAMILY_UVO, kind, m_netlist->get_name_mgr()->create_unique_name(n, 0));
        m_netlist->add_node(node);
        return node;
    }

    std::unique_ptr<CDB_ATOM_NETLIST> m_netlist;
    CDB_ATOM_OTERM* m_clock = nullptr;
};

// A cone of `depth` LUT levels over the inputs: what drives it is critical.
inline CDB_ATOM_OTERM* deep_cone(UVO_NET& n, const std::string& base, int depth)
{
    CDB_ATOM_OTERM* signal = n.input(base + "_in0");
    for (int k = 0; k < depth; ++k) {
        CDB_ATOM_NODE* level = n.lut(base + "_l" + std::to_string(k),
                                     {signal, n.input(base + "_in" + std::to_string(k + 1))}, k % 2 == 0 ? 0x6 : 0x8);
        signal = UVO_NET::comb(level);
    }
    return signal;
}

using BUILD = std::function<void(UVO_NET&)>;

inline std::unique_ptr<CDB_ATOM_NETLIST> build(const BUILD& b)
{
    UVO_NET n;
    b(n);
    return n.take();
}
