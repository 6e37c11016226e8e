#include "morv/debug/morv_plumrix_tables.h"

#include <cstring>

#include "cdb/cdb_types.h"

#include "morv/debug/morv_plumrix_interface.h"

namespace {

constexpr const char* UNKNOWN = "Unknown";
constexpr const char* UNNAMED_INPUT = "in";
constexpr const char* UNNAMED_OUTPUT = "out";

constexpr int FAMILIES_IN_HOST_ORDER[] = {CDB_FAMILY_BRK,     CDB_FAMILY_ZEPLA, CDB_FAMILY_TEV,   CDB_FAMILY_MRL,
                                          CDB_FAMILY_KESTLIN, CDB_FAMILY_RZK,   CDB_FAMILY_OBRAN, CDB_FAMILY_UVO};
constexpr const char* KIND_NAMES[CDB_KIND_COUNT] = {"LCELL_COMB", "FF",       "LCELL_HSADDER", "LCELL", "IO",
                                                    "RAM",        "MAC_MULT", "MAC_OUT",       "CLKBUF"};

std::string unnamed(int index)
{
    std::string name("TYPE_");
    name += std::to_string(index);
    return name;
}

// The first family, in the host's order, that makes atoms of the type.
std::string cell_type_name(int type)
{
    for (int family : FAMILIES_IN_HOST_ORDER) {
        const CDB_FAMILY_INFO* info = cdb_get_family_info(family);
        if (info == nullptr) continue;
        for (int kind = 0; kind < CDB_KIND_COUNT; ++kind) {
            if (info->atom_type[kind] != type) continue;
            std::string name(info->name);
            name += '_';
            name += KIND_NAMES[kind];
            return name;
        }
    }
    return unnamed(type);
}

std::string table_port_name(const char* name, const char* fallback, int index)
{
    return std::strcmp(name, fallback) == 0 ? unnamed(index) : std::string(name);
}

}  // namespace

int morv_plx_table_size(uint32_t table_id)
{
    switch (table_id) {
    case MORV_PLX_CELL_TYPE_TABLE: return MORV_PLX_CELL_TYPE_ENTRIES;
    case MORV_PLX_INPUT_PORT_TABLE: return MORV_PLX_INPUT_PORT_ENTRIES;
    case MORV_PLX_OUTPUT_PORT_TABLE: return MORV_PLX_OUTPUT_PORT_ENTRIES;
    default: return 0;
    }
}

std::string morv_plx_table_name(uint32_t table_id, int index)
{
    if (index == morv_plx_table_size(table_id) - 1) return UNKNOWN;
    switch (table_id) {
    case MORV_PLX_CELL_TYPE_TABLE: return cell_type_name(index);
    case MORV_PLX_INPUT_PORT_TABLE: return table_port_name(cdb_input_port_name(index), UNNAMED_INPUT, index);
    case MORV_PLX_OUTPUT_PORT_TABLE: return table_port_name(cdb_output_port_name(index), UNNAMED_OUTPUT, index);
    default: return unnamed(index);
    }
}
