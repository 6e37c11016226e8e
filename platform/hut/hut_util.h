#pragma once
// Saving and restoring the compile's action point (its name hierarchy) in
// an archive with one hierarchy segment.

#include <string>

#include "pdb/pdb_archive.h"

class HDB_ACTION_PT_INSTANCE;
class HDB_NAME_MGR;

class HUT_UTIL
{
public:
    // Writes the action point's names (every name, its flags, in id order)
    // to base_name's hierarchy segment. False when cap has no name manager
    // or the write fails, with the reason in `error` when given (else printed).
    static bool save_cap_inst_to_pdb(const HDB_ACTION_PT_INSTANCE* cap, const std::string& base_name,
                                     std::string* error = nullptr);
    // Builds a new name manager from the archive (same paths, flags and ids)
    // and installs it on cap. The previous manager is left alone: atoms of
    // the old netlist still point into it. Managers made here are owned by
    // HUT_UTIL until release_restored_name_mgrs (or process exit). False,
    // with cap unchanged, when the archive is missing or damaged.
    static bool restore_cap_inst_from_pdb(HDB_ACTION_PT_INSTANCE* cap, const std::string& base_name,
                                          PDB_FILE_TYPE file_type = PDB_FILE_TYPE_DEFAULT);
    // The same for a bare manager; the caller owns the result (null on failure).
    static bool save_name_mgr_to_pdb(const HDB_NAME_MGR* mgr, const std::string& base_name,
                                     std::string* error = nullptr);
    static HDB_NAME_MGR* restore_name_mgr_from_pdb(const std::string& base_name, std::string* error = nullptr);
    // Deletes every manager restore_cap_inst_from_pdb made, except keep.
    static void release_restored_name_mgrs(const HDB_NAME_MGR* keep = nullptr);
    // Deletes the managers restore_cap_inst_from_pdb installed on cap that
    // cap no longer uses. The caller vouches that nothing points into them
    // any more: a compile restores many times, and each restore would
    // otherwise keep a whole copy of the names.
    static void release_superseded_name_mgrs(const HDB_ACTION_PT_INSTANCE* cap);
    // Managers restore_cap_inst_from_pdb made that are still held.
    static int count_restored_name_mgrs();
};
