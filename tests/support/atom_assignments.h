// The host's assignments a test sets on one atom (partition, locked
// region), read and written back whole as the host keeps them. Header
// only, so that the component's own tests, which link no host, share it.
#pragma once

#include "cdb/cdb_atom_node.h"

inline void assign_partition(CDB_ATOM_NODE* node, int partition_id)
{
    CDB_ATOM_ASSIGNMENTS a = node->get_assignments();
    a.partition_id = partition_id;
    node->set_assignments(a);
}

// Locks a node into the grid rectangle (x1, y1)..(x2, y2) of LABs.
inline void assign_locked_region(CDB_ATOM_NODE* node, int x1, int y1, int x2, int y2)
{
    CDB_ATOM_ASSIGNMENTS a = node->get_assignments();
    a.locked_x1 = x1;
    a.locked_y1 = y1;
    a.locked_x2 = x2;
    a.locked_y2 = y2;
    node->set_assignments(a);
}
