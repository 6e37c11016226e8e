#pragma once

#include <cstdint>
#include <unordered_set>

class CDB_ATOM_NETLIST;

// Atom ids of the registers at a crossing between clock domains: every
// clocked atom whose data inputs, through combinational cells, start at a
// clocked atom of another clock, and every such launching atom. A host keeps
// them out of retiming: moving either end puts logic into a synchroniser or
// splits the register that launches it. Empty when the netlist has one clock
// or none.
std::unordered_set<uint32_t> host_clock_crossing_registers(const CDB_ATOM_NETLIST& netlist);
