#pragma once

// The rows of the exported timing tables, made once per timing family.

#include <vector>

#include "morv/timing/morv_timing_data.h"

struct MORV_TIMING_DATA_TABLES
{
    std::vector<MORV_IC_TIMING_ELEMENT> ic;      // the interconnect table (family 4: the bool-true one)
    std::vector<MORV_IC_TIMING_ELEMENT> ic_alt;  // family 4's second interconnect table
    std::vector<MORV_CELL_TIMING_ELEMENT> cell;
    std::vector<MORV_REG_MICRO_TIMING_ELEMENT> reg_micro;
};

// The process-wide tables of a timing family (1 to 11), made on first use;
// writable, unsorted until a getter sorts them. Family 6 shares family 2's
// interconnect table.
MORV_TIMING_DATA_TABLES& morv_timing_data_tables(MORV_TIMING_DATA_FAMILY_ENUM family);
