#pragma once
// Term questions the MRL legaliser's cell rules share.

#include "cdb/cdb_atom_node.h"

// The cell has the output and it drives something.
inline bool cut_morlin_output_has_fanout(const CDB_ATOM_NODE* node, int port_type)
{
    const CDB_ATOM_OTERM* term = node->get_output_term_by_type(port_type);
    return term != nullptr && term->has_fanout();
}
