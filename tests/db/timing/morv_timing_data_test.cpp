// The exported timing tables: sizes, order, the rows they are known by, and
// the records' comparisons.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>

#include "morv/timing/morv_timing_data.h"

namespace {

using FAMILY = MORV_TIMING_DATA_FAMILY_ENUM;
constexpr MORV_TIMING_DATA_DEVICE_ENUM NO_DEVICE = MORV_TIMING_DATA_DEVICE_NONE;

FAMILY fam(int f)
{
    return static_cast<FAMILY>(f);
}

}  // namespace

TEST(MorvTimingData, RowCountsPerFamily)
{
    struct COUNTS
    {
        int family, ic, cell, reg;
    };
    const COUNTS counts[] = {{1, 46, 0, 0},     {2, 144, 0, 0},     {3, 310, 393, 32},  {4, 297, 382, 36},
                             {5, 311, 442, 41}, {6, 144, 0, 0},     {7, 138, 194, 16},  {8, 165, 210, 18},
                             {9, 225, 0, 0},    {10, 270, 414, 39}, {11, 113, 164, 13}, {0, 0, 0, 0}};
    for (const COUNTS& c : counts) {
        SCOPED_TRACE(c.family);
        EXPECT_EQ(MORV_TIMING_DATA::get_ic_timing_model_data_size(fam(c.family), NO_DEVICE, true), c.ic);
        EXPECT_EQ(MORV_TIMING_DATA::get_cell_timing_model_data_size(fam(c.family), NO_DEVICE), c.cell);
        EXPECT_EQ(MORV_TIMING_DATA::get_reg_micro_timing_model_data_size(fam(c.family), NO_DEVICE), c.reg);
    }
    EXPECT_EQ(MORV_TIMING_DATA::get_ic_timing_model_data_size(fam(4), NO_DEVICE, false), 323);
}
