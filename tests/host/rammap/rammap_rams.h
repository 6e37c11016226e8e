// RAM atoms of a fixture netlist: one slice of a logical RAM (the name's
// parent) with a depth, a width and a port-A clock.
#pragma once

#include <string>

#include "cdb/cdb_atom_netlist.h"
#include "cut/cut_block_util.h"
#include "hdb/hdb_instance_name.h"

#include "fixture_netlist.h"

inline CDB_ATOM_NODE* add_ram_slice(FIXTURE_NETLIST& f, const std::string& path, int address_bits, int width,
                                    CDB_ATOM_OTERM* clock)
{
    HDB_INSTANCE_NAME* name = f.netlist().get_name_mgr()->find_or_create_path(path, 0);
    CDB_ATOM_NODE* ram = cdb_create_atom(f.family(), CDB_KIND_RAM, name);
    f.netlist().add_node(ram);
    CUT_RAM_UTIL::set_address_width(ram, 0, address_bits);
    CUT_RAM_UTIL::set_data_width(ram, 0, width);
    if (clock != nullptr) clock->insert_fanout(ram->add_input_term(DB_RAM_CLK0));
    return ram;
}
