// The free RAM count: the device's RAM sites by kind, less the blocks the
// netlist's RAMs take, slices of one logical RAM packed together.

#include <gtest/gtest.h>

#include <array>
#include <fstream>
#include <string>

#include "dev/dev_device.h"

#include "rammap_rams.h"
#include "rammap_run.h"

namespace free_ram_count_test {

namespace {

using COUNTS = std::array<int, 4>;

COUNTS counts(MORV_RAM_MAP_UTIL* util)
{
    util->count_free_rams();
    return {util->get_ram_count(0), util->get_ram_count(1), util->get_ram_count(2), util->get_ram_count(3)};
}

// Five RAM columns of 82 sites on the built-in BRK device, every fourth
// site medium.
const COUNTS k_brk_device = {310, 100, 0, 0};

// RAM slices given as (path, address bits, width, clock 1 or 2).
struct SLICE
{
    const char* path;
    int address_bits;
    int width;
    int clock;
};

RAMMAP_BUILD rams(std::vector<SLICE> slices)
{
    return [=](FIXTURE_NETLIST& f) {
        CDB_ATOM_OTERM* clocks[2] = {f.input("clk1"), f.input("clk2")};
        for (const SLICE& s : slices) add_ram_slice(f, s.path, s.address_bits, s.width, clocks[s.clock - 1]);
    };
}

DEV_DEVICE* device_from(const std::string& text)
{
    const std::string path = "ram_device.txt";
    std::ofstream(path) << text;
    return DEV_DEVICE::load_from_file(path.c_str());
}

}  // namespace

TEST(FreeRamCount, NoRamsLeavesTheDeviceCounts)
{
    RAMMAP_RUN brk(CDB_FAMILY_BRK, rams({}));
    EXPECT_EQ(counts(brk.util()), k_brk_device);
    // Four columns of 70 sites.
    RAMMAP_RUN obran(CDB_FAMILY_OBRAN, rams({}));
    EXPECT_EQ(counts(obran.util()), (COUNTS{212, 68, 0, 0}));
}

// 1024 x 2 bits: two to a 4096-bit block.
TEST(FreeRamCount, ThreeCompatibleRamsTwoPerSmallBlockTakeTwo)
{
    RAMMAP_RUN run(CDB_FAMILY_BRK, rams({{"mem|s0", 10, 2, 1}, {"mem|s1", 10, 2, 1}, {"mem|s2", 10, 2, 1}}));
    EXPECT_EQ(counts(run.util()), (COUNTS{308, 100, 0, 0}));
    // Counting again starts from the device.
    EXPECT_EQ(counts(run.util()), (COUNTS{308, 100, 0, 0}));
}

// Slices share a block only with slices of the same logical RAM, depth and clock.
TEST(FreeRamCount, SharingByLogicalNameDepthAndClock)
{
    RAMMAP_RUN run(CDB_FAMILY_BRK, rams({{"mem|a", 10, 2, 1},
                                         {"other|b", 10, 2, 1},
                                         {"mem|c", 10, 2, 1},
                                         {"mem|d", 9, 2, 1},
                                         {"mem|e", 10, 2, 2}}));
    EXPECT_EQ(counts(run.util()), (COUNTS{306, 100, 0, 0}));
}

// 4096 x 2 bits fits no small block: three such slices take two medium ones.
TEST(FreeRamCount, TooWideForSmallBlocksGoesToMedium)
{
    RAMMAP_RUN run(CDB_FAMILY_BRK, rams({{"big|s0", 12, 2, 1}, {"big|s1", 12, 2, 1}, {"big|s2", 12, 2, 1}}));
    EXPECT_EQ(counts(run.util()), (COUNTS{310, 98, 0, 0}));
}

// 65536 bits fit only a large block; without one nothing is left free, and
// later sets are not counted.
TEST(FreeRamCount, SetThatFitsNowhereZeroesEveryCounter)
{
    RAMMAP_RUN none(CDB_FAMILY_BRK, rams({{"huge|s0", 16, 1, 1}, {"mem|s0", 10, 2, 1}}));
    EXPECT_EQ(counts(none.util()), (COUNTS{0, 0, 0, 0}));
    // Every other site large: 41 large blocks per column, one taken.
    RAMMAP_RUN large(CDB_FAMILY_BRK, rams({{"huge|s0", 16, 1, 1}, {"mem|s0", 10, 2, 1}}),
                     device_from("family 6\nram_kinds 256 258\n"));
    EXPECT_EQ(counts(large.util()), (COUNTS{204, 0, 204, 0}));
    // Too big for a large block as well.
    RAMMAP_RUN too_big(CDB_FAMILY_BRK, rams({{"huge|s0", 17, 1, 1}}), device_from("family 6\nram_kinds 258\n"));
    EXPECT_EQ(counts(too_big.util()), (COUNTS{0, 0, 0, 0}));
}

}  // namespace free_ram_count_test
