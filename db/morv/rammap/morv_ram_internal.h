#pragma once

// What the RAM mapping files share: the walks over a node's data terms.

#include "cdb/cdb_atom_node.h"

#include "morv/netlist/morv_cluster.h"

// The data outputs of a node that drive something.
template <typename F>
void morv_ram_for_each_data_oterm(CDB_ATOM_NODE* node, F&& visit)
{
    for (auto it = node->begin_oterm(); it != node->end_oterm(); ++it)
        if ((*it)->has_fanout() && MORV_CLUSTER::is_data_oterm(node, *it)) visit(*it);
}

// The driven data inputs of a node (a register's controls excluded).
template <typename F>
void morv_ram_for_each_driven_data_iterm(CDB_ATOM_NODE* node, F&& visit)
{
    for (auto it = node->begin_iterm(); it != node->end_iterm(); ++it)
        if ((*it)->get_source() && !MORV_CLUSTER::is_register_control_port(node, (*it)->get_any_usage_as())) visit(*it);
}
