#pragma once

// The RAM utility of the 6-input families. Their carry chains pair cells
// two by two, so each chain cell's parity (its position from the chain's
// first cell, mod 2) is kept, and every cell put into a chain keeps the
// alternation.

#include <map>

#include "morv/rammap/morv_ram_map_util.h"

class MORV_RAM_MAP_UTIL_6LUT : public MORV_RAM_MAP_UTIL
{
public:
    using MORV_RAM_MAP_UTIL::MORV_RAM_MAP_UTIL;

    void prepare_cluster_carry_chains() override;
    bool needs_vcc_data_in_fix() const override { return false; }
    bool is_shared_arithmetic_node(CDB_ATOM_NODE* node) const override;
    CDB_ATOM_OTERM* create_aclr_register(CDB_ATOM_NODE* node) override;
    void copy_register_control_input(CDB_ATOM_NODE* new_node, CDB_ATOM_NODE* old_node, int port_type) override;
    CDB_ATOM_ITERM* create_carry_out_wire_lut(CDB_ATOM_ITERM* carry_in) override;
    CDB_ATOM_OTERM* convert_to_carry_chain_wire_lut(CDB_ATOM_NODE* node) override;
    bool is_lut(CDB_ATOM_NODE* node) const override;
    bool uses_block_type_3() const override { return false; }
    bool has_carry_chain_parity(CDB_ATOM_OTERM* oterm) const override;

    // The parity of a chain cell; -1 for a node without one.
    int get_carry_chain_parity(const CDB_ATOM_NODE* node) const;
    // The next logic cell of the chain, null at its end.
    CDB_ATOM_NODE* next_chain_cell(CDB_ATOM_NODE* cell) const;

private:
    int parity_of(CDB_ATOM_NODE* node) const;
    // One wire LUT in front of the carry input: its carry output drives it.
    CDB_ATOM_NODE* new_carry_wire_lut(CDB_ATOM_NODE* name_node, const char* suffix, uint64_t mask);

    std::map<int, int> m_carry_chain_parity;  // node id -> 0 or 1
};
