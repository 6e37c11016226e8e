#pragma once
// Atom utilities: an atom's name in messages, latch information and the
// netlist dumper.

#include <iosfwd>
#include <string>

#include "cdb/cdb_types.h"

class CDB_ATOM_NETLIST;
class CDB_ATOM_NODE;

// "atom ID 'short hpath'" (the name part only when the atom has one).
std::string cut_atom_label(const CDB_ATOM_NODE* node);

// Latch information of an atom; null when it has none.
CDB_ATOM_LATCH_INFO* cut_get_atom_latch_info(const CDB_ATOM_NODE* node);
// Attaches info to the atom, which takes ownership (null removes it).
void cut_set_atom_latch_info(CDB_ATOM_NODE* node, CDB_ATOM_LATCH_INFO* info);
// The atom's latch description is coherent: it marks a latch, names an
// output the atom has and an enable input it has with an enable mode, and
// every other role it names is an input of the atom. False without one.
bool cut_sanity_check_atom_latch_info(const CDB_ATOM_NODE* node);

class CUT_ATOM_DUMPER
{
public:
    // Writes the netlist in the native text form to file_name; false with a
    // message in *error (when given) when the file cannot be written.
    static bool dump_current_atom_netlist(const CDB_ATOM_NETLIST* netlist, const std::string& file_name,
                                          std::string* error = nullptr);
    // One atom in a short readable form (debugging).
    static void dump_atom(const CDB_ATOM_NODE* node, std::ostream& out);
};
