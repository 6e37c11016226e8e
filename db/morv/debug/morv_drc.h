#pragma once

// Netlist checks around each flow: a reference is taken at the start of a
// flow and the netlist is verified against it after a successful flow.

class MORV_API;

void morv_drc_reference(MORV_API* fsyn_api, const char* flow_name);
void morv_drc_verify(MORV_API* fsyn_api, const char* flow_name);
