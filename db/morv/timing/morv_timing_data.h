#pragma once

// The exported per-family timing tables: typical interconnect delays between
// atom ports, cell delays through atoms and register micro-timing, for the
// host's table timing model. The host reads them through these static
// operations; nothing inside the component calls them.
//
// Every getter sorts its table in place before answering, so the tables are
// writable process-wide data; a reader that changes rows works on a copy.

#include <cstdint>

#include "dev/dev_device.h"

struct MORV_IC_TIMING_ELEMENT
{
    int32_t m_src_atom_type;
    int32_t m_src_port_type;
    int32_t m_dst_atom_type;
    int32_t m_dst_port_type;
    int32_t m_delay;
    int32_t m_delay_2;  // equal to m_delay in every row; table models read this one

    // The key is the two ports; the delays do not take part.
    bool operator==(const MORV_IC_TIMING_ELEMENT& other) const;
    bool operator<(const MORV_IC_TIMING_ELEMENT& other) const;
    MORV_IC_TIMING_ELEMENT& operator=(const MORV_IC_TIMING_ELEMENT& other) = default;
};

struct MORV_CELL_TIMING_ELEMENT
{
    int32_t m_atom_type;
    int32_t m_variant;           // -1 in most rows, else 0 to 29
    int32_t m_input_port_type;   // 3016: no port
    int32_t m_output_port_type;  // 4149: no port
    int32_t m_output_port_type_2;
    int32_t m_delay;  // may be negative

    bool operator==(const MORV_CELL_TIMING_ELEMENT& other) const;
    // By atom type, ports, and last the variant.
    bool operator<(const MORV_CELL_TIMING_ELEMENT& other) const;
    MORV_CELL_TIMING_ELEMENT& operator=(const MORV_CELL_TIMING_ELEMENT& other) = default;
};

struct MORV_REG_MICRO_TIMING_ELEMENT
{
    int32_t m_atom_type;
    int32_t m_port_type;
    int32_t m_tsu;  // may be negative
    int32_t m_tco;

    bool operator==(const MORV_REG_MICRO_TIMING_ELEMENT& other) const;
    bool operator<(const MORV_REG_MICRO_TIMING_ELEMENT& other) const;
    MORV_REG_MICRO_TIMING_ELEMENT& operator=(const MORV_REG_MICRO_TIMING_ELEMENT& other) = default;
};

enum MORV_TIMING_DATA_FAMILY_ENUM : int
{
    MORV_TIMING_DATA_FAMILY_NONE = 0,  // constant model
    MORV_TIMING_DATA_FAMILY_44 = 1,
    MORV_TIMING_DATA_FAMILY_UVO = 2,
    MORV_TIMING_DATA_FAMILY_BRK = 3,
    MORV_TIMING_DATA_FAMILY_OBRAN = 4,
    MORV_TIMING_DATA_FAMILY_RZK = 5,
    MORV_TIMING_DATA_FAMILY_43 = 6,
    MORV_TIMING_DATA_FAMILY_TEV = 7,
    MORV_TIMING_DATA_FAMILY_ZEPLA = 8,
    MORV_TIMING_DATA_FAMILY_MRL = 9,
    MORV_TIMING_DATA_FAMILY_KESTLIN = 10,
    MORV_TIMING_DATA_FAMILY_ZEPLA_II = 11,
    MORV_TIMING_DATA_FAMILY_COUNT = 12
};

enum MORV_TIMING_DATA_DEVICE_ENUM : int
{
    MORV_TIMING_DATA_DEVICE_NONE = 0,
    MORV_TIMING_DATA_DEVICE_SPECIFIC = 1
};

class MORV_TIMING_DATA
{
public:
    static MORV_TIMING_DATA_FAMILY_ENUM get_timing_family_from_dev_family(DEV_FAMILY_ENUM family);
    static MORV_TIMING_DATA_DEVICE_ENUM get_timing_device_from_dev_device(DEV_DEVICE_ENUM device);

    // Sorted tables; null for a family without one. The bool picks one of
    // the two interconnect tables of family 4 and nothing elsewhere; the
    // timing device selects nothing (one set of tables per family).
    static MORV_IC_TIMING_ELEMENT* get_ic_timing_model_data(MORV_TIMING_DATA_FAMILY_ENUM family,
                                                            MORV_TIMING_DATA_DEVICE_ENUM device, bool variant);
    static MORV_CELL_TIMING_ELEMENT* get_cell_timing_model_data(MORV_TIMING_DATA_FAMILY_ENUM family,
                                                                MORV_TIMING_DATA_DEVICE_ENUM device);
    static MORV_REG_MICRO_TIMING_ELEMENT* get_reg_micro_timing_model_data(MORV_TIMING_DATA_FAMILY_ENUM family,
                                                                          MORV_TIMING_DATA_DEVICE_ENUM device);
    static int get_ic_timing_model_data_size(MORV_TIMING_DATA_FAMILY_ENUM family, MORV_TIMING_DATA_DEVICE_ENUM device,
                                             bool variant);
    static int get_cell_timing_model_data_size(MORV_TIMING_DATA_FAMILY_ENUM family,
                                               MORV_TIMING_DATA_DEVICE_ENUM device);
    static int get_reg_micro_timing_model_data_size(MORV_TIMING_DATA_FAMILY_ENUM family,
                                                    MORV_TIMING_DATA_DEVICE_ENUM device);
    // Delays of a family without a table (or of a key a table lacks).
    static int get_ic_timing_model_constant_delay(MORV_TIMING_DATA_FAMILY_ENUM family,
                                                  MORV_TIMING_DATA_DEVICE_ENUM device, bool variant);
    static int get_cell_timing_model_constant_delay(MORV_TIMING_DATA_FAMILY_ENUM family,
                                                    MORV_TIMING_DATA_DEVICE_ENUM device);
    static bool is_timing_model_available() { return true; }
};
