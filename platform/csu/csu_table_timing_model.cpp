#include "csu/csu_table_timing_model.h"

#include <algorithm>
#include <string>
#include <tuple>

#include "cdb/cdb_atom_netlist.h"
#include "dev/dev_device.h"
#include "msg/msg.h"
#include "tdb/tdb_atom_builder.h"

#define CSU_ASSERT(cond) MSG_ASSERT(cond, "CSU")

// ---------------------------------------------------------------- records

bool CSU_IC_TIMING_ELEMENT::operator==(const CSU_IC_TIMING_ELEMENT& o) const
{
    return !(*this < o) && !(o < *this);
}

bool CSU_IC_TIMING_ELEMENT::operator<(const CSU_IC_TIMING_ELEMENT& o) const
{
    return std::tie(m_src_atom_type, m_src_port_type, m_dst_atom_type, m_dst_port_type) <
           std::tie(o.m_src_atom_type, o.m_src_port_type, o.m_dst_atom_type, o.m_dst_port_type);
}

bool CSU_CELL_TIMING_ELEMENT::operator==(const CSU_CELL_TIMING_ELEMENT& o) const
{
    return !(*this < o) && !(o < *this);
}

bool CSU_CELL_TIMING_ELEMENT::operator<(const CSU_CELL_TIMING_ELEMENT& o) const
{
    return std::tie(m_atom_type, m_input_port_type, m_output_port_type, m_output_port_type_2, m_variant) <
           std::tie(o.m_atom_type, o.m_input_port_type, o.m_output_port_type, o.m_output_port_type_2, o.m_variant);
}

bool CSU_REG_MICRO_TIMING_ELEMENT::operator==(const CSU_REG_MICRO_TIMING_ELEMENT& o) const
{
    return m_atom_type == o.m_atom_type && m_port_type == o.m_port_type;
}

bool CSU_REG_MICRO_TIMING_ELEMENT::operator<(const CSU_REG_MICRO_TIMING_ELEMENT& o) const
{
    return std::tie(m_atom_type, m_port_type) < std::tie(o.m_atom_type, o.m_port_type);
}

// ---------------------------------------------------------------- source

namespace {
const CSU_TIMING_DATA_SOURCE* s_source = nullptr;

// A row of the sorted table with the key, or null.
template <typename ROW>
const ROW* find_row(const std::vector<ROW>& rows, const ROW& key)
{
    auto it = std::lower_bound(rows.begin(), rows.end(), key);
    return it != rows.end() && *it == key ? &*it : nullptr;
}
}  // namespace

void csu_set_timing_data_source(const CSU_TIMING_DATA_SOURCE* source)
{
    s_source = source;
}

const CSU_TIMING_DATA_SOURCE* csu_get_timing_data_source()
{
    return s_source;
}

// ---------------------------------------------------------------- model

template <typename TYPES>
CSU_TABLE_TIMING_MODEL<TYPES>::CSU_TABLE_TIMING_MODEL() = default;

template <typename TYPES>
CSU_TABLE_TIMING_MODEL<TYPES>::~CSU_TABLE_TIMING_MODEL() = default;

template <typename TYPES>
bool CSU_TABLE_TIMING_MODEL<TYPES>::initialize(int dev_family, int dev_device, bool name_pattern, bool ic_variant,
                                               bool verbose)
{
    m_name_pattern = name_pattern;
    m_ic.clear();
    m_cell.clear();
    m_reg_micro.clear();
    m_initialized = true;
    const CSU_TIMING_DATA_SOURCE* source = csu_get_timing_data_source();
    if (source == nullptr) return false;
    m_timing_family = source->get_timing_family(dev_family);
    const int device = source->get_timing_device(dev_device);
    m_ic = source->get_ic_rows(m_timing_family, device, ic_variant);
    m_cell = source->get_cell_rows(m_timing_family, device);
    m_reg_micro = source->get_reg_micro_rows(m_timing_family, device);
    m_ic_constant = source->get_ic_constant_delay(m_timing_family, device, ic_variant);
    // The source hands out sorted tables; a copy that is not would answer wrongly.
    std::sort(m_ic.begin(), m_ic.end());
    std::sort(m_cell.begin(), m_cell.end());
    std::sort(m_reg_micro.begin(), m_reg_micro.end());
    if (verbose) {
        const std::string line = "Table timing model: family " + std::to_string(m_timing_family) + ", " +
                                 std::to_string(m_ic.size()) + " interconnect, " + std::to_string(m_cell.size()) +
                                 " cell and " + std::to_string(m_reg_micro.size()) + " register rows";
        msg_local_vdebug("CSU", line.c_str());
    }
    return !m_ic.empty();
}

template <typename TYPES>
CSU_IC_TIMING_ELEMENT CSU_TABLE_TIMING_MODEL<TYPES>::get_ic_delay(const CSU_IC_TIMING_ELEMENT& key) const
{
    if (const CSU_IC_TIMING_ELEMENT* row = find_row(m_ic, key)) return *row;
    CSU_IC_TIMING_ELEMENT answer = key;
    answer.m_delay = answer.m_delay_2 = m_ic_constant;
    return answer;
}

template <typename TYPES>
const CSU_IC_TIMING_ELEMENT& CSU_TABLE_TIMING_MODEL<TYPES>::get_ic_timing_data(int row) const
{
    CSU_ASSERT(row >= 0 && row < get_ic_timing_data_size());
    return m_ic[static_cast<size_t>(row)];
}

template <typename TYPES>
void CSU_TABLE_TIMING_MODEL<TYPES>::modify_ic_timing_data(int row, int delay)
{
    CSU_ASSERT(row >= 0 && row < get_ic_timing_data_size());
    m_ic[static_cast<size_t>(row)].m_delay = delay;
    m_ic[static_cast<size_t>(row)].m_delay_2 = delay;
}

template <typename TYPES>
int CSU_TABLE_TIMING_MODEL<TYPES>::get_ic_delay(ITERM* iterm)
{
    if (iterm == nullptr || iterm->get_my_node() == nullptr) return 0;
    const OTERM* driver = iterm->get_source();
    if (driver == nullptr || driver->get_my_node() == nullptr) return 0;
    CSU_IC_TIMING_ELEMENT key{driver->get_my_node()->get_atom_type(),
                              driver->get_any_usage_as(),
                              iterm->get_my_node()->get_atom_type(),
                              iterm->get_any_usage_as(),
                              0,
                              0};
    return get_ic_delay(key).m_delay_2;
}

template <typename TYPES>
int CSU_TABLE_TIMING_MODEL<TYPES>::device_cell_delay(const NODE* node, int input_port, int output_port) const
{
    const TDB_DEVICE_DELAY_MODEL device(DMGR_UTILITY::get_current_device());
    return device.cell_delay(node, input_port, output_port);
}

template <typename TYPES>
int CSU_TABLE_TIMING_MODEL<TYPES>::device_register_delay(const NODE* node, bool tco) const
{
    const TDB_DEVICE_DELAY_MODEL device(DMGR_UTILITY::get_current_device());
    return tco ? device.tco(node, nullptr) : device.tsu(node, nullptr);
}

template <typename TYPES>
int CSU_TABLE_TIMING_MODEL<TYPES>::get_cell_delay(const NODE* node, int input_port, int output_port, int output_port_2,
                                                  bool)
{
    CSU_ASSERT(node);
    const CSU_CELL_TIMING_ELEMENT key{node->get_atom_type(), -1, input_port, output_port, output_port_2, 0};
    if (const CSU_CELL_TIMING_ELEMENT* row = find_row(m_cell, key)) return row->m_delay;
    const int to = output_port == DB_MAX_OUTPUT_PORT_TYPE ? output_port_2 : output_port;
    return device_cell_delay(node, input_port, to);
}

template <typename TYPES>
int CSU_TABLE_TIMING_MODEL<TYPES>::get_cell_delay(const NODE* node, const ITERM* iterm, const OTERM* oterm,
                                                  const OTERM* oterm_2, bool max_delay)
{
    return get_cell_delay(node, iterm ? iterm->get_any_usage_as() : DB_MAX_INPUT_PORT_TYPE,
                          oterm ? oterm->get_any_usage_as() : DB_MAX_OUTPUT_PORT_TYPE,
                          oterm_2 ? oterm_2->get_any_usage_as() : DB_MAX_OUTPUT_PORT_TYPE, max_delay);
}

template <typename TYPES>
const CSU_REG_MICRO_TIMING_ELEMENT* CSU_TABLE_TIMING_MODEL<TYPES>::find_reg_micro(const NODE* node,
                                                                                  int output_port) const
{
    CSU_ASSERT(node);
    return find_row(m_reg_micro, CSU_REG_MICRO_TIMING_ELEMENT{node->get_atom_type(), output_port, 0, 0});
}

template <typename TYPES>
int CSU_TABLE_TIMING_MODEL<TYPES>::get_reg_micro_tsu_delay(const NODE* node, int output_port, bool)
{
    const CSU_REG_MICRO_TIMING_ELEMENT* row = find_reg_micro(node, output_port);
    return row ? row->m_tsu : device_register_delay(node, false);
}

template <typename TYPES>
int CSU_TABLE_TIMING_MODEL<TYPES>::get_reg_micro_tsu_delay(const OTERM* oterm, bool max_delay)
{
    CSU_ASSERT(oterm && oterm->get_my_node());
    return get_reg_micro_tsu_delay(oterm->get_my_node(), oterm->get_any_usage_as(), max_delay);
}

template <typename TYPES>
int CSU_TABLE_TIMING_MODEL<TYPES>::get_reg_micro_tco_delay(const NODE* node, int output_port, bool)
{
    const CSU_REG_MICRO_TIMING_ELEMENT* row = find_reg_micro(node, output_port);
    return row ? row->m_tco : device_register_delay(node, true);
}

template <typename TYPES>
int CSU_TABLE_TIMING_MODEL<TYPES>::get_reg_micro_tco_delay(const OTERM* oterm, bool max_delay)
{
    CSU_ASSERT(oterm && oterm->get_my_node());
    return get_reg_micro_tco_delay(oterm->get_my_node(), oterm->get_any_usage_as(), max_delay);
}

template class CSU_TABLE_TIMING_MODEL<CSU_ATOM_NETLIST_TYPES>;

#undef CSU_ASSERT
