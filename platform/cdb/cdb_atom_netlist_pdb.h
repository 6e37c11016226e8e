#pragma once
// Atom netlists in archives: one netlist segment holds one netlist.

#include <string>

#include "pdb/pdb_archive.h"

class CDB_ATOM_NETLIST;
class HDB_NAME_MGR;

// Writes the netlist into the segment writer (commit is the caller's).
void pdb_write_ptr(PDB_SEGMENT_WRITER& writer, const CDB_ATOM_NETLIST* netlist);
// Reads a netlist, entirely new objects with the saved ids; names are found
// or created in mgr (null: the netlist gets its own manager). Throws
// PDB_DATABASE_EXCEPTION on damaged content; out is set only on success.
void pdb_read_ptr(PDB_SEGMENT_READER& reader, CDB_ATOM_NETLIST*& out, HDB_NAME_MGR* mgr = nullptr);

// Whole-archive helpers: write answers false and read null (with a message
// in *error when given) instead of throwing.
bool cdb_save_netlist_to_pdb(const CDB_ATOM_NETLIST* netlist, const std::string& base_name,
                             std::string* error = nullptr);
CDB_ATOM_NETLIST* cdb_restore_netlist_from_pdb(const std::string& base_name, HDB_NAME_MGR* mgr,
                                               std::string* error = nullptr);
