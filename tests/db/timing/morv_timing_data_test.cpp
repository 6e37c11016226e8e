// The exported timing tables: sizes, order, the rows they are known by, and
// the records' comparisons.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "msg/msg.h"

#include "morv/timing/morv_timing_data.h"

namespace morv_timing_data_test {

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

TEST(MorvTimingData, TablesAreSortedAndKnownByTheirFirstMiddleAndLastRows)
{
    auto ic = [](int f) { return MORV_TIMING_DATA::get_ic_timing_model_data(fam(f), NO_DEVICE, true); };
    auto ic_n = [](int f) { return MORV_TIMING_DATA::get_ic_timing_model_data_size(fam(f), NO_DEVICE, true); };
    auto same = [](const MORV_IC_TIMING_ELEMENT& row, MORV_IC_TIMING_ELEMENT want) {
        return row == want && row.m_delay == want.m_delay && row.m_delay_2 == want.m_delay_2;
    };
    EXPECT_TRUE(same(ic(3)[0], {0, 0, 0, 2, 0, 0}));
    EXPECT_TRUE(same(ic(3)[ic_n(3) - 1], {251, 135, 0, 15, 4039, 4039}));
    EXPECT_TRUE(same(ic(5)[0], {145, 0, 145, 2, 0, 0}));
    EXPECT_TRUE(same(ic(5)[ic_n(5) - 1], {215, 259, 155, 6, 253, 253}));
    EXPECT_TRUE(same(ic(8)[0], {2, 0, 2, 2, 0, 0}));
    EXPECT_TRUE(same(ic(8)[ic_n(8) - 1], {234, 2, 229, 8, 0, 0}));
    for (auto [f, middle] : {std::pair<int, MORV_IC_TIMING_ELEMENT>{3, {245, 2, 0, 16, 1229, 1229}},
                             {5, {152, 21, 178, 33, 1142, 1142}},
                             {8, {224, 21, 227, 33, 1136, 1136}}})
        EXPECT_TRUE(std::binary_search(ic(f), ic(f) + ic_n(f), middle) &&
                    same(*std::lower_bound(ic(f), ic(f) + ic_n(f), middle), middle))
            << f;

    // Every table is in ascending order with unique keys, on every call.
    for (int f = 1; f < MORV_TIMING_DATA_FAMILY_COUNT; ++f) {
        for (bool variant : {true, false}) {
            MORV_IC_TIMING_ELEMENT* rows = MORV_TIMING_DATA::get_ic_timing_model_data(fam(f), NO_DEVICE, variant);
            const int n = MORV_TIMING_DATA::get_ic_timing_model_data_size(fam(f), NO_DEVICE, variant);
            EXPECT_TRUE(std::adjacent_find(rows, rows + n, [](auto& a, auto& b) { return !(a < b); }) == rows + n) << f;
            for (int i = 0; i < n; ++i) EXPECT_EQ(rows[i].m_delay, rows[i].m_delay_2);
            EXPECT_EQ(MORV_TIMING_DATA::get_ic_timing_model_data(fam(f), NO_DEVICE, variant), rows);
        }
        MORV_CELL_TIMING_ELEMENT* cells = MORV_TIMING_DATA::get_cell_timing_model_data(fam(f), NO_DEVICE);
        const int nc = MORV_TIMING_DATA::get_cell_timing_model_data_size(fam(f), NO_DEVICE);
        EXPECT_TRUE(nc == 0 || std::is_sorted(cells, cells + nc)) << f;
        EXPECT_TRUE(nc == 0 || std::adjacent_find(cells, cells + nc) == cells + nc) << f;
    }
}

// The first and last rows of the cell and register tables, every field
// compared (the records' == looks at the keys only). TEV's carry-in to
// carry-out and ZEPLA's register are ports the stand-in device times itself:
// those rows carry its numbers, 55 ps and tsu 110 / tco 230 ps.
TEST(MorvTimingData, CellAndRegisterTablesAreKnownByTheirFirstAndLastRowsWithTheirDelays)
{
    struct CELL_CASE
    {
        int family;
        bool last;
        std::vector<int> row;  // type, variant, input, output, second output, delay
    };
    const CELL_CASE cells[] = {
        {3, false, {0, -1, 2, 4149, 0, 35}},
        {3, true, {250, -1, 67, 4149, 21, 0}},
        {7, false, {257, -1, 2, 4149, 0, 55}},
        {7, true, {264, -1, 6, 4149, 21, -5395}},
    };
    for (const CELL_CASE& k : cells) {
        const MORV_CELL_TIMING_ELEMENT* rows = MORV_TIMING_DATA::get_cell_timing_model_data(fam(k.family), NO_DEVICE);
        const int n = MORV_TIMING_DATA::get_cell_timing_model_data_size(fam(k.family), NO_DEVICE);
        const MORV_CELL_TIMING_ELEMENT& r = rows[k.last ? n - 1 : 0];
        EXPECT_EQ(std::vector<int>({r.m_atom_type, r.m_variant, r.m_input_port_type, r.m_output_port_type,
                                    r.m_output_port_type_2, r.m_delay}),
                  k.row)
            << "cell family " << k.family << (k.last ? " last" : " first");
    }
    struct REG_CASE
    {
        int family;
        bool last;
        std::vector<int> row;  // type, port, tsu, tco
    };
    const REG_CASE regs[] = {
        {3, false, {0, 8, 1125, 0}},
        {3, true, {249, 127, 22, 138}},
        {8, false, {3, 9, 110, 230}},
        {8, true, {236, 132, 0, 5353}},
    };
    for (const REG_CASE& k : regs) {
        const MORV_REG_MICRO_TIMING_ELEMENT* rows =
            MORV_TIMING_DATA::get_reg_micro_timing_model_data(fam(k.family), NO_DEVICE);
        const int n = MORV_TIMING_DATA::get_reg_micro_timing_model_data_size(fam(k.family), NO_DEVICE);
        const MORV_REG_MICRO_TIMING_ELEMENT& r = rows[k.last ? n - 1 : 0];
        EXPECT_EQ(std::vector<int>({r.m_atom_type, r.m_port_type, r.m_tsu, r.m_tco}), k.row)
            << "register family " << k.family << (k.last ? " last" : " first");
    }
}

TEST(MorvTimingData, AGetterSortsRowsAReaderPutOutOfOrder)
{
    MORV_IC_TIMING_ELEMENT* rows = MORV_TIMING_DATA::get_ic_timing_model_data(fam(7), NO_DEVICE, true);
    const int n = MORV_TIMING_DATA::get_ic_timing_model_data_size(fam(7), NO_DEVICE, true);
    std::swap(rows[0], rows[n - 1]);
    rows = MORV_TIMING_DATA::get_ic_timing_model_data(fam(7), NO_DEVICE, true);
    EXPECT_TRUE(std::is_sorted(rows, rows + n));
}

TEST(MorvTimingData, FamilyFourHasTwoInterconnectTablesAndFamiliesTwoAndSixShareOne)
{
    EXPECT_NE(MORV_TIMING_DATA::get_ic_timing_model_data(fam(4), NO_DEVICE, true),
              MORV_TIMING_DATA::get_ic_timing_model_data(fam(4), NO_DEVICE, false));
    EXPECT_EQ(MORV_TIMING_DATA::get_ic_timing_model_data(fam(2), NO_DEVICE, true),
              MORV_TIMING_DATA::get_ic_timing_model_data(fam(6), NO_DEVICE, true));
    EXPECT_EQ(MORV_TIMING_DATA::get_cell_timing_model_data(fam(9), NO_DEVICE), nullptr);
}

TEST(MorvTimingData, FamiliesAndDevicesOutsideTheTablesGetTheConstantModelWithAMessage)
{
    msg_set_vdebug_capture(true);
    msg_clear_vdebug_lines();
    EXPECT_EQ(MORV_TIMING_DATA::get_timing_family_from_dev_family(DEV_FAMILY_INVALID), MORV_TIMING_DATA_FAMILY_NONE);
    EXPECT_EQ(MORV_TIMING_DATA::get_timing_family_from_dev_family(DEV_FAMILY_ZEPLA_II),
              MORV_TIMING_DATA_FAMILY_ZEPLA_II);
    EXPECT_EQ(MORV_TIMING_DATA::get_timing_device_from_dev_device(static_cast<DEV_DEVICE_ENUM>(24)),
              MORV_TIMING_DATA_DEVICE_SPECIFIC);
    EXPECT_EQ(MORV_TIMING_DATA::get_timing_device_from_dev_device(static_cast<DEV_DEVICE_ENUM>(60)),
              MORV_TIMING_DATA_DEVICE_NONE);
    std::string text;
    for (const MSG_VDEBUG_LINE& line : msg_vdebug_lines()) text += line.text + "\n";
    EXPECT_NE(text.find("Table timing model: unknown family - using constant timing model"), std::string::npos);
    EXPECT_NE(text.find("Table timing model: no device-specific timing information"), std::string::npos);
    msg_set_vdebug_capture(false);

    EXPECT_EQ(MORV_TIMING_DATA::get_ic_timing_model_data(fam(0), NO_DEVICE, true), nullptr);
    EXPECT_EQ(MORV_TIMING_DATA::get_reg_micro_timing_model_data(fam(0), NO_DEVICE), nullptr);
    EXPECT_EQ(MORV_TIMING_DATA::get_ic_timing_model_constant_delay(fam(0), NO_DEVICE, true), 500);
    EXPECT_EQ(MORV_TIMING_DATA::get_cell_timing_model_constant_delay(fam(0), NO_DEVICE), 250);
    EXPECT_EQ(MORV_TIMING_DATA::get_cell_timing_model_constant_delay(fam(3), NO_DEVICE), 0);
}

TEST(MorvTimingData, KeysCompareWithoutTheirDelaysAndVariantsSortLast)
{
    const MORV_IC_TIMING_ELEMENT a{1, 8, 2, 11, 100, 100}, b{1, 8, 2, 11, 900, 900};
    EXPECT_TRUE(a == b);
    EXPECT_FALSE(a < b);
    EXPECT_FALSE(b < a);
    const MORV_CELL_TIMING_ELEMENT low{5, -1, 11, 4149, 8, 70}, high{5, 3, 11, 4149, 8, 20},
        port{5, -1, 12, 4149, 8, 0};
    EXPECT_TRUE(low < high);
    EXPECT_TRUE(high < port);  // the ports decide before the variant
    EXPECT_FALSE(low == high);
}

}  // namespace morv_timing_data_test
