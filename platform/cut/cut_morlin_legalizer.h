#pragma once
// The structured-ASIC (MRL) atom legaliser of the utility library: the part
// that names each logic cell's FL cell. An atom's FL cell follows from its
// properties (a LUT cell, a flip-flop, a latch); the id the legaliser last
// stored for an atom travels with the atom (copies, saved netlists).

class CDB_ATOM_NODE;
class DEV_FL_INFO;

class CUT_ATOM_MORLIN_LEGALIZER
{
public:
    // The FL records of the current device; a device without them (any
    // family but MRL) names no cell.
    CUT_ATOM_MORLIN_LEGALIZER();
    explicit CUT_ATOM_MORLIN_LEGALIZER(const DEV_FL_INFO* fl_info) : m_fl_info(fl_info) {}

    // The cell the atom's properties call for: the LUT cell for a
    // combinational cell, the latch cell for a register whose latch
    // description marks a latch, the flip-flop cell for any other register;
    // DEV_ILLEGAL_FL_ID for other atoms or without FL records.
    int get_fl_id_from_atom_properties(const CDB_ATOM_NODE* node) const;
    // DEV_ILLEGAL_FL_ID when none was stored.
    int get_stored_fl_id(const CDB_ATOM_NODE* node) const;
    void set_fl_id(CDB_ATOM_NODE* node, int fl_id) const;

private:
    int find_cell(const char* name) const;

    const DEV_FL_INFO* m_fl_info;
};
