#pragma once
// A timing-data source of a few hand-written rows for BRK atoms, standing in
// for the component's exported tables in the host-library tests.

#include <vector>

#include "cdb/cdb_types.h"
#include "csu/csu_table_timing_model.h"

class TEST_TIMING_TABLES : public CSU_TIMING_DATA_SOURCE
{
public:
    // Out of order on purpose: the model must sort its copy.
    std::vector<CSU_IC_TIMING_ELEMENT> ic = {
        {CDB_ATOM_BRK_LCELL_COMB_ENUM, DB_COMB_OUT, CDB_ATOM_BRK_LCELL_FF_ENUM, DB_DATAIN, 90, 90},
        {CDB_ATOM_BRK_LCELL_FF_ENUM, DB_REG_OUT, CDB_ATOM_BRK_LCELL_COMB_ENUM, DB_DATA_A, 310, 310},
        {CDB_ATOM_BRK_LCELL_FF_ENUM, DB_REG_OUT, CDB_ATOM_BRK_LCELL_COMB_ENUM, DB_DATA_B, 320, 320},
        {CDB_ATOM_BRK_LCELL_COMB_ENUM, DB_COMB_OUT, CDB_ATOM_BRK_LCELL_COMB_ENUM, DB_DATA_A, 250, 250},
        {CDB_ATOM_BRK_IO_ENUM, DB_DATA_OUT, CDB_ATOM_BRK_LCELL_FF_ENUM, DB_CLOCK, 600, 600},
    };
    std::vector<CSU_CELL_TIMING_ELEMENT> cell = {
        {CDB_ATOM_BRK_LCELL_COMB_ENUM, -1, DB_DATA_C, DB_MAX_OUTPUT_PORT_TYPE, DB_COMB_OUT, 999},
        {CDB_ATOM_BRK_LCELL_COMB_ENUM, -1, DB_DATA_A, DB_MAX_OUTPUT_PORT_TYPE, DB_COMB_OUT, 777},
    };
    std::vector<CSU_REG_MICRO_TIMING_ELEMENT> reg = {{CDB_ATOM_BRK_EC_ENUM, 40, 11, 22},
                                                     {CDB_ATOM_BRK_LCELL_FF_ENUM, DB_REG_OUT, 55, 66}};
    int constant = 435;

    int get_timing_family(int dev_family) const override { return dev_family == 6 ? 3 : 0; }
    int get_timing_device(int) const override { return 0; }
    std::vector<CSU_IC_TIMING_ELEMENT> get_ic_rows(int family, int, bool) const override
    {
        return family == 3 ? ic : std::vector<CSU_IC_TIMING_ELEMENT>{};
    }
    std::vector<CSU_CELL_TIMING_ELEMENT> get_cell_rows(int family, int) const override
    {
        return family == 3 ? cell : std::vector<CSU_CELL_TIMING_ELEMENT>{};
    }
    std::vector<CSU_REG_MICRO_TIMING_ELEMENT> get_reg_micro_rows(int family, int) const override
    {
        return family == 3 ? reg : std::vector<CSU_REG_MICRO_TIMING_ELEMENT>{};
    }
    int get_ic_constant_delay(int family, int, bool) const override { return family == 3 ? constant : 500; }
};

// Installs the source for one test and removes it after.
struct TEST_TIMING_TABLES_INSTALLED
{
    TEST_TIMING_TABLES tables;
    TEST_TIMING_TABLES_INSTALLED() { csu_set_timing_data_source(&tables); }
    ~TEST_TIMING_TABLES_INSTALLED() { csu_set_timing_data_source(nullptr); }
};
