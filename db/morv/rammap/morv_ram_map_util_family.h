#pragma once

// The RAM utility of each family that maps logic into RAM: its RAM block,
// its register test and its cell factories.

#include "morv/rammap/morv_ram_map_util_4lut.h"
#include "morv/rammap/morv_ram_map_util_6lut.h"

#define MORV_RAM_MAP_UTIL_FAMILY(NAME, BRANCH)                                                                         \
    class NAME : public BRANCH                                                                                         \
    {                                                                                                                  \
    public:                                                                                                            \
        using BRANCH::BRANCH;                                                                                          \
        bool counts_outputs_in_gain() const override;                                                                  \
        CDB_ATOM_NODE* create_ram_atom(HDB_INSTANCE_NAME* name, const std::string& file_name,                          \
                                       const CDB_RAM_FLAG_SET& flags) override;                                        \
        bool is_ff(CDB_ATOM_NODE* node) const override;                                                                \
        int get_ram_block_bits() const override;                                                                       \
        CDB_ATOM_NODE* create_lut_cell(MEM_SEGMENT* segment, HDB_INSTANCE_NAME* name) override;                        \
        CDB_ATOM_NODE* create_register_cell(MEM_SEGMENT* segment, HDB_INSTANCE_NAME* name) override;                   \
    };

MORV_RAM_MAP_UTIL_FAMILY(MORV_RAM_MAP_UTIL_TEV, MORV_RAM_MAP_UTIL_4LUT)
MORV_RAM_MAP_UTIL_FAMILY(MORV_RAM_MAP_UTIL_ZEP, MORV_RAM_MAP_UTIL_4LUT)
MORV_RAM_MAP_UTIL_FAMILY(MORV_RAM_MAP_UTIL_OBR, MORV_RAM_MAP_UTIL_6LUT)
MORV_RAM_MAP_UTIL_FAMILY(MORV_RAM_MAP_UTIL_KESTLIN, MORV_RAM_MAP_UTIL_6LUT)
MORV_RAM_MAP_UTIL_FAMILY(MORV_RAM_MAP_UTIL_RZK, MORV_RAM_MAP_UTIL_6LUT)
#undef MORV_RAM_MAP_UTIL_FAMILY

// BRK alone among the 6-input families uses block type 3.
class MORV_RAM_MAP_UTIL_BRK : public MORV_RAM_MAP_UTIL_6LUT
{
public:
    using MORV_RAM_MAP_UTIL_6LUT::MORV_RAM_MAP_UTIL_6LUT;
    bool counts_outputs_in_gain() const override;
    CDB_ATOM_NODE* create_ram_atom(HDB_INSTANCE_NAME* name, const std::string& file_name,
                                   const CDB_RAM_FLAG_SET& flags) override;
    bool is_ff(CDB_ATOM_NODE* node) const override;
    int get_ram_block_bits() const override;
    bool uses_block_type_3() const override { return true; }
    CDB_ATOM_NODE* create_lut_cell(MEM_SEGMENT* segment, HDB_INSTANCE_NAME* name) override;
    CDB_ATOM_NODE* create_register_cell(MEM_SEGMENT* segment, HDB_INSTANCE_NAME* name) override;
};
