#pragma once

// What the family retiming files share: the data inputs a push walks on a
// LUT cell, the text of a pair of power-up bits and the registers' common
// controls.

#include "cdb/cdb_types.h"

#include "morv/retiming/morv_retiming.h"

// The data inputs of a 4-input LUT cell.
inline constexpr int MORV_RETIMING_LUT4_PORTS[] = {DB_DATA_A, DB_DATA_B, DB_DATA_C, DB_DATA_D};
// The data inputs of a 6-input LUT cell, G (extended mode) included.
inline constexpr int MORV_RETIMING_LUT6_PORTS[] = {DB_DATA_A, DB_DATA_B, DB_DATA_C, DB_DATA_D,
                                                   DB_DATA_E, DB_DATA_F, DB_DATA_G};

// Two power-up bits by their index, the higher bit first.
inline constexpr const char* MORV_RETIMING_IC_TEXT[] = {"00", "01", "10", "11"};

// The two registers share their clear and their clock.
inline bool morv_retiming_same_clear_and_clock(const RETIME_REG& a, const RETIME_REG& b)
{
    return a.signals[RETIME_CLEAR] == b.signals[RETIME_CLEAR] && a.signals[RETIME_CLOCK] == b.signals[RETIME_CLOCK];
}
