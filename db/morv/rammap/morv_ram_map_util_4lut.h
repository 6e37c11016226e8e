#pragma once

// The RAM utility of the 4-input families: no carry-chain parity, registers
// whose VCC data inputs need a driver cell, and carry cells written through
// their carry mask.

#include "morv/rammap/morv_ram_map_util.h"

class MORV_RAM_MAP_UTIL_4LUT : public MORV_RAM_MAP_UTIL
{
public:
    using MORV_RAM_MAP_UTIL::MORV_RAM_MAP_UTIL;

    void prepare_cluster_carry_chains() override;
    bool needs_vcc_data_in_fix() const override { return true; }
    bool is_shared_arithmetic_node(CDB_ATOM_NODE*) const override { return false; }
    CDB_ATOM_OTERM* create_aclr_register(CDB_ATOM_NODE* node) override;
    void copy_register_control_input(CDB_ATOM_NODE* new_node, CDB_ATOM_NODE* old_node, int port_type) override;
    CDB_ATOM_ITERM* create_carry_out_wire_lut(CDB_ATOM_ITERM* carry_in) override;
    CDB_ATOM_OTERM* convert_to_carry_chain_wire_lut(CDB_ATOM_NODE* node) override;
    bool is_lut(CDB_ATOM_NODE* node) const override;
    bool uses_block_type_3() const override { return true; }
    bool has_carry_chain_parity(CDB_ATOM_OTERM*) const override { return false; }
};
