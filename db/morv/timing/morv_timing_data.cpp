#include "morv/timing/morv_timing_data.h"

#include <algorithm>
#include <tuple>
#include <vector>

#include "morv/core/family/morv_family_traits.h"
#include "morv/core/morv_debug_stream.h"
#include "morv/timing/morv_timing_data_rows.h"

// ------------------------------------------------------------------ records

bool MORV_IC_TIMING_ELEMENT::operator==(const MORV_IC_TIMING_ELEMENT& other) const
{
    return m_src_atom_type == other.m_src_atom_type && m_src_port_type == other.m_src_port_type &&
           m_dst_atom_type == other.m_dst_atom_type && m_dst_port_type == other.m_dst_port_type;
}

bool MORV_IC_TIMING_ELEMENT::operator<(const MORV_IC_TIMING_ELEMENT& other) const
{
    return std::tie(m_src_atom_type, m_src_port_type, m_dst_atom_type, m_dst_port_type) <
           std::tie(other.m_src_atom_type, other.m_src_port_type, other.m_dst_atom_type, other.m_dst_port_type);
}

bool MORV_CELL_TIMING_ELEMENT::operator==(const MORV_CELL_TIMING_ELEMENT& other) const
{
    return m_atom_type == other.m_atom_type && m_variant == other.m_variant &&
           m_input_port_type == other.m_input_port_type && m_output_port_type == other.m_output_port_type &&
           m_output_port_type_2 == other.m_output_port_type_2;
}

bool MORV_CELL_TIMING_ELEMENT::operator<(const MORV_CELL_TIMING_ELEMENT& other) const
{
    return std::tie(m_atom_type, m_input_port_type, m_output_port_type, m_output_port_type_2, m_variant) <
           std::tie(other.m_atom_type, other.m_input_port_type, other.m_output_port_type, other.m_output_port_type_2,
                    other.m_variant);
}

bool MORV_REG_MICRO_TIMING_ELEMENT::operator==(const MORV_REG_MICRO_TIMING_ELEMENT& other) const
{
    return m_atom_type == other.m_atom_type && m_port_type == other.m_port_type;
}

bool MORV_REG_MICRO_TIMING_ELEMENT::operator<(const MORV_REG_MICRO_TIMING_ELEMENT& other) const
{
    return std::tie(m_atom_type, m_port_type) < std::tie(other.m_atom_type, other.m_port_type);
}

// ------------------------------------------------------------------ families

MORV_TIMING_DATA_FAMILY_ENUM MORV_TIMING_DATA::get_timing_family_from_dev_family(DEV_FAMILY_ENUM family)
{
    const int timing_family = morv_family_traits(family).m_timing.m_timing_data_family;
    if (timing_family > MORV_TIMING_DATA_FAMILY_NONE && timing_family < MORV_TIMING_DATA_FAMILY_COUNT)
        return static_cast<MORV_TIMING_DATA_FAMILY_ENUM>(timing_family);
    morv_debug("Table timing model: unknown family - using constant timing model");
    return MORV_TIMING_DATA_FAMILY_NONE;
}

MORV_TIMING_DATA_DEVICE_ENUM MORV_TIMING_DATA::get_timing_device_from_dev_device(DEV_DEVICE_ENUM device)
{
    if (device == 23 || device == 24) return MORV_TIMING_DATA_DEVICE_SPECIFIC;
    morv_debug("Table timing model: no device-specific timing information");
    return MORV_TIMING_DATA_DEVICE_NONE;
}

// ------------------------------------------------------------------ tables

namespace {

bool has_tables(MORV_TIMING_DATA_FAMILY_ENUM family)
{
    return family > MORV_TIMING_DATA_FAMILY_NONE && family < MORV_TIMING_DATA_FAMILY_COUNT;
}

std::vector<MORV_IC_TIMING_ELEMENT>* ic_table(MORV_TIMING_DATA_FAMILY_ENUM family, bool variant)
{
    if (!has_tables(family)) return nullptr;
    MORV_TIMING_DATA_TABLES& tables = morv_timing_data_tables(family);
    return family == MORV_TIMING_DATA_FAMILY_OBRAN && !variant ? &tables.ic_alt : &tables.ic;
}

// Every getter sorts: a reader may have written rows out of order.
template <typename ROW>
ROW* sorted(std::vector<ROW>* rows)
{
    if (rows == nullptr || rows->empty()) return nullptr;
    std::sort(rows->begin(), rows->end());
    return rows->data();
}

}  // namespace

MORV_IC_TIMING_ELEMENT* MORV_TIMING_DATA::get_ic_timing_model_data(MORV_TIMING_DATA_FAMILY_ENUM family,
                                                                   MORV_TIMING_DATA_DEVICE_ENUM, bool variant)
{
    return sorted(ic_table(family, variant));
}

MORV_CELL_TIMING_ELEMENT* MORV_TIMING_DATA::get_cell_timing_model_data(MORV_TIMING_DATA_FAMILY_ENUM family,
                                                                       MORV_TIMING_DATA_DEVICE_ENUM)
{
    return has_tables(family) ? sorted(&morv_timing_data_tables(family).cell) : nullptr;
}

MORV_REG_MICRO_TIMING_ELEMENT* MORV_TIMING_DATA::get_reg_micro_timing_model_data(MORV_TIMING_DATA_FAMILY_ENUM family,
                                                                                 MORV_TIMING_DATA_DEVICE_ENUM)
{
    return has_tables(family) ? sorted(&morv_timing_data_tables(family).reg_micro) : nullptr;
}

int MORV_TIMING_DATA::get_ic_timing_model_data_size(MORV_TIMING_DATA_FAMILY_ENUM family, MORV_TIMING_DATA_DEVICE_ENUM,
                                                    bool variant)
{
    const std::vector<MORV_IC_TIMING_ELEMENT>* rows = ic_table(family, variant);
    return rows ? static_cast<int>(rows->size()) : 0;
}

int MORV_TIMING_DATA::get_cell_timing_model_data_size(MORV_TIMING_DATA_FAMILY_ENUM family, MORV_TIMING_DATA_DEVICE_ENUM)
{
    return has_tables(family) ? static_cast<int>(morv_timing_data_tables(family).cell.size()) : 0;
}

int MORV_TIMING_DATA::get_reg_micro_timing_model_data_size(MORV_TIMING_DATA_FAMILY_ENUM family,
                                                           MORV_TIMING_DATA_DEVICE_ENUM)
{
    return has_tables(family) ? static_cast<int>(morv_timing_data_tables(family).reg_micro.size()) : 0;
}

int MORV_TIMING_DATA::get_ic_timing_model_constant_delay(MORV_TIMING_DATA_FAMILY_ENUM family,
                                                         MORV_TIMING_DATA_DEVICE_ENUM, bool)
{
    switch (family) {
    case MORV_TIMING_DATA_FAMILY_44: return 725;
    case MORV_TIMING_DATA_FAMILY_UVO:
    case MORV_TIMING_DATA_FAMILY_43: return 850;
    case MORV_TIMING_DATA_FAMILY_BRK: return 435;
    case MORV_TIMING_DATA_FAMILY_OBRAN: return 1000;
    case MORV_TIMING_DATA_FAMILY_RZK: return 0;
    case MORV_TIMING_DATA_FAMILY_TEV: return 525;
    case MORV_TIMING_DATA_FAMILY_ZEPLA:
    case MORV_TIMING_DATA_FAMILY_ZEPLA_II: return 740;
    case MORV_TIMING_DATA_FAMILY_MRL: return 100;
    case MORV_TIMING_DATA_FAMILY_KESTLIN: return 620;
    default: return 500;
    }
}

int MORV_TIMING_DATA::get_cell_timing_model_constant_delay(MORV_TIMING_DATA_FAMILY_ENUM family,
                                                           MORV_TIMING_DATA_DEVICE_ENUM)
{
    switch (family) {
    case MORV_TIMING_DATA_FAMILY_BRK:
    case MORV_TIMING_DATA_FAMILY_OBRAN:
    case MORV_TIMING_DATA_FAMILY_RZK:
    case MORV_TIMING_DATA_FAMILY_TEV:
    case MORV_TIMING_DATA_FAMILY_ZEPLA:
    case MORV_TIMING_DATA_FAMILY_KESTLIN:
    case MORV_TIMING_DATA_FAMILY_ZEPLA_II: return 0;
    default: return 250;
    }
}
