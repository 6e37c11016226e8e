#pragma once
// What an atom of each kind can hold, as the native reader checks a file
// handed in from outside (a snapshot the process saved itself is taken as
// it was). Each check answers an empty text when the value fits, else what
// is wrong; the reader puts the file and line in front.

#include <cstdint>
#include <string>

class CDB_ATOM_ITERM;
class CDB_ATOM_NETLIST;
class CDB_ATOM_NODE;
struct CDB_ATOM_ASSIGNMENTS;

// Slots of either kind are numbered 0 .. CDB_NATIVE_MAX_SLOT.
constexpr int CDB_NATIVE_MAX_SLOT = 0xfffe;

// An output term of `usage` and `index` about to join the node.
std::string cdb_native_check_output(const CDB_ATOM_NODE* node, int usage, int index);
// An input term that joined the node with its usages and index set.
std::string cdb_native_check_input(const CDB_ATOM_NODE* node, const CDB_ATOM_ITERM* term);
// The node within the whole netlist (its outputs and bits against its
// terms and connections).
std::string cdb_native_check_node(const CDB_ATOM_NODE* node);

// "the locked region (X1, Y1) - (X2, Y2)" of the assignments.
std::string cdb_locked_region_text(const CDB_ATOM_ASSIGNMENTS& a);
// A locked region's corners, as a settings file's locked_region= and a
// native asgn line give them: none negative (a -1 is no corner) and none
// past the other. `whose` names the atom in the answer ("'r0'", "atom 5").
std::string cdb_check_locked_corners(const CDB_ATOM_ASSIGNMENTS& a, const std::string& whose);

// An atom on a combinational loop of logic cells, or null. A latch's
// feedback input (the input its latch record names) closes no loop: that
// is how a latch holds its value.
const CDB_ATOM_NODE* cdb_native_find_loop(const CDB_ATOM_NETLIST& netlist, uint32_t max_id);
