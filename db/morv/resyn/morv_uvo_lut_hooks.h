#pragma once

// The UVO logic cell joins a 4-input LUT and a register that may read the
// LUT's input C. Both resynthesis algorithms rewire such cells the same way;
// these are the hooks they share.

class CDB_ATOM_ITERM;
class CDB_ATOM_NODE;
class CDB_ATOM_OTERM;
class MORV_CDB_INTERFACE;
class MORV_NET_UTIL;

// When the register still reads the term at LUT position 2, only the LUT lets
// go of it and true is returned; otherwise the caller frees the input.
bool uvo_release_register_shared_input(MORV_CDB_INTERFACE* cdb_interface, CDB_ATOM_ITERM* iterm, int position);
// Leaves register feedback mode so that all four inputs feed the LUT; true
// when the node has exactly three inputs to offer.
bool uvo_prepare_base_node(MORV_CDB_INTERFACE* cdb_interface, MORV_NET_UTIL* net_util, CDB_ATOM_NODE* base_node,
                           int available_inputs);
bool uvo_is_resynthesizable_node(MORV_NET_UTIL* net_util, CDB_ATOM_NODE* node);
bool uvo_lut_feeds_register(MORV_NET_UTIL* net_util, CDB_ATOM_OTERM* oterm);
// The data ports left to the LUT once the register takes its share of input C.
int uvo_available_inputs(MORV_NET_UTIL* net_util, CDB_ATOM_NODE* node, int num_data_ports);
// The current device's delay from the LUT input port to the combinational output.
int uvo_lut_delay(int port);
