#pragma once
// Small circuits built straight from atoms for the timing tests (the BLIF
// reader lives in a layer above the platform).

#include <string>
#include <vector>

#include "cdb/cdb_atom_netlist.h"

struct CIRCUIT
{
    HDB_NAME_MGR names{"top"};
    CDB_ATOM_NETLIST atoms{CDB_FAMILY_BRK};
    int counter = 0;

    CIRCUIT() { atoms.set_name_mgr(&names); }
    HDB_INSTANCE_NAME* name(const char* base)
    {
        return names.find_or_create_path(std::string(base) + std::to_string(counter++), 0);
    }
    CDB_ATOM_NODE* add(int kind)
    {
        CDB_ATOM_NODE* n = cdb_create_atom(CDB_FAMILY_BRK, kind, name("a"));
        atoms.add_node(n);
        return n;
    }
    CDB_ATOM_OTERM* input_pin()
    {
        CDB_ATOM_NODE* p = add(CDB_KIND_IO);
        return p->add_output_term(DB_DATA_OUT, name("in"));
    }
    CDB_ATOM_NODE* output_pin(CDB_ATOM_OTERM* d)
    {
        CDB_ATOM_NODE* p = cdb_create_output_pin(CDB_FAMILY_BRK, name("a"));
        atoms.add_node(p);
        d->insert_fanout(p->get_input_term_by_type(DB_DATAIN));
        return p;
    }
    CDB_ATOM_OTERM* reg(CDB_ATOM_OTERM* d, CDB_ATOM_OTERM* clk)
    {
        CDB_ATOM_NODE* r = add(CDB_KIND_REGISTER);
        CDB_ATOM_ITERM* din = r->add_input_term(DB_DATAIN);
        if (d) d->insert_fanout(din);
        clk->insert_fanout(r->add_input_term(DB_CLOCK));
        return r->add_output_term(DB_REG_OUT, name("q"));
    }
    CDB_ATOM_OTERM* lut(const std::vector<CDB_ATOM_OTERM*>& ins)
    {
        CDB_ATOM_NODE* l = add(CDB_KIND_LCELL_COMB);
        for (size_t i = 0; i < ins.size(); ++i) {
            CDB_ATOM_ITERM* t = l->add_input_term(DB_DATA_A + (int)i);
            if (ins[i]) ins[i]->insert_fanout(t);
        }
        return l->add_output_term(DB_COMB_OUT, name("y"));
    }
};
