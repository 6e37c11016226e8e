#pragma once

// Questions about an atom and its terms that every pass asks, safe on a
// term or a port the atom does not have.

#include "cdb/cdb_atom_node.h"

// The input exists and is connected, to a source or to a constant.
inline bool morv_iterm_connected(const CDB_ATOM_ITERM* iterm)
{
    return iterm != nullptr && iterm->is_connected();
}

// The input exists and reads a real signal: neither unconnected nor a constant.
inline bool morv_iterm_driven(const CDB_ATOM_ITERM* iterm)
{
    return iterm != nullptr && iterm->is_driven();
}

// The input reads a real signal through its inversion.
inline bool morv_iterm_driven_inverted(const CDB_ATOM_ITERM* iterm)
{
    return morv_iterm_driven(iterm) && iterm->is_inverted();
}

inline bool morv_input_connected(const CDB_ATOM_NODE* node, int input_port_type)
{
    return morv_iterm_connected(node->get_input_term_by_type(input_port_type));
}

inline bool morv_input_driven(const CDB_ATOM_NODE* node, int input_port_type)
{
    return morv_iterm_driven(node->get_input_term_by_type(input_port_type));
}

// The output exists and drives something.
inline bool morv_oterm_has_fanout(const CDB_ATOM_OTERM* oterm)
{
    return oterm != nullptr && oterm->has_fanout();
}

inline bool morv_output_has_fanout(const CDB_ATOM_NODE* node, int output_port_type)
{
    return morv_oterm_has_fanout(node->get_output_term_by_type(output_port_type));
}

// The atom's id as messages and tables print it.
inline int morv_atom_id(const CDB_ATOM_NODE* node)
{
    return static_cast<int>(node->get_id());
}

// The id of the atom the output belongs to.
inline int morv_oterm_atom_id(const CDB_ATOM_OTERM* oterm)
{
    return morv_atom_id(oterm->get_my_node());
}

// A part of a DSP block: a multiplier or a MAC output. False for null.
inline bool morv_is_mac_atom(const CDB_ATOM_NODE* node)
{
    return node != nullptr && (node->is_mac_mult() || node->is_mac_out());
}

// Stands for no input port: one past the last input port type.
inline constexpr int MORV_NO_INPUT_PORT = DB_MAX_INPUT_PORT_TYPE;
