// RAM slices through the host's fitter: slices of one logical RAM share a
// block of a kind that holds them, a slice too large for a small block goes
// to a larger one, and a placed, timed ROM still writes out as the logic it
// stands for.

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "dev/dev_device.h"
#include "host_env.h"
#include "host_fitter.h"
#include "host_grid.h"
#include "msg/msg.h"
#include "tdb/tdb_netlist.h"

#include "rammap_rams.h"
#include "rammap_run.h"
#include "seq_harness.h"

namespace ram_place_test {

using namespace morv_host;

namespace {

constexpr uint64_t k_columns[] = {0xB4, 0x3C, 0x81};

// Three address registers on i0..i2, then per column either a ROM slice of
// the logical RAM "rom" or a LUT and a register with the same clock and
// enable; `wide` adds a placeholder slice of 4096 words of 3 bits.
RAMMAP_BUILD rom_design(bool as_ram, bool wide = false)
{
    return [=](FIXTURE_NETLIST& f) {
        CDB_ATOM_OTERM* clk = f.input("clk");
        CDB_ATOM_OTERM* en = f.input("en");
        std::vector<CDB_ATOM_OTERM*> address;
        for (int k = 0; k < 3; ++k) address.push_back(f.reg(indexed("a", k), f.input(indexed("i", k)), clk));
        for (size_t j = 0; j < std::size(k_columns); ++j) {
            if (!as_ram) {
                f.output(indexed("o", j),
                         f.reg(indexed("q", j), f.lut(indexed("f", j), address, k_columns[j]), clk, en));
                continue;
            }
            CDB_ATOM_NODE* rom = add_ram_slice(f, indexed("rom|s", j), 3, 1, clk);
            for (int k = 0; k < 3; ++k) address[k]->insert_fanout(rom->add_input_term(DB_RAM_PORTA_ADDRESS, k));
            en->insert_fanout(rom->add_input_term(DB_RAM_CLK0_ENA));
            CDB_ATOM_ITERM* clear = rom->add_input_term(DB_RAM_CLR0);
            clear->set_vcc();
            clear->set_invert();
            std::vector<bool> column;
            for (int a = 0; a < 8; ++a) column.push_back((k_columns[j] >> a) & 1u);
            static_cast<CDB_ATOM_RAM*>(rom)->set_content(column);
            f.output(indexed("o", j), rom->add_output_term(DB_RAM_PORTA_DATAOUT, rom->get_instance_name()));
        }
        if (wide) {
            CDB_ATOM_NODE* big = add_ram_slice(f, "big|s0", 12, 3, clk);
            address[0]->insert_fanout(big->add_input_term(DB_RAM_PORTA_ADDRESS, 0));
        }
    };
}

struct PLACED
{
    explicit PLACED(int family, const RAMMAP_BUILD& build)
    {
        msg_set_quiet(true);
        FIXTURE_NETLIST f(family);
        build(f);
        design = std::make_unique<HOST_DESIGN>(family, f.release());
        env = std::make_unique<HOST_ENV>(*design);
        result = place_netlist(*env, cluster_netlist(*env), 7, {0.3});
    }
    std::vector<CDB_ATOM_NODE*> rams(const std::string& logical) const
    {
        std::vector<CDB_ATOM_NODE*> found;
        for (CDB_ATOM_NODE* n : *design->netlist())
            if (n->is_ram() && CUT_RAM_UTIL::get_logical_name_str(n) == logical) found.push_back(n);
        return found;
    }
    const DEV_DEVICE& device() const { return *design->device(); }

    std::unique_ptr<HOST_DESIGN> design;
    std::unique_ptr<HOST_ENV> env;
    HOST_PLACEMENT result;
};

}  // namespace

// The three slices of "rom" take one small block, one slice to a slot; the
// timing netlist holds them; the written netlist is the logic they replace.
TEST(RamStandInPlace, SlicesShareABlockAndSurviveTimingAndTheWriter)
{
    for (int family : {CDB_FAMILY_BRK, CDB_FAMILY_ZEPLA}) {
        SCOPED_TRACE(family);
        PLACED placed(family, rom_design(true));
        ASSERT_TRUE(placed.result.ok) << placed.result.error;
        const std::vector<CDB_ATOM_NODE*> slices = placed.rams("rom");
        ASSERT_EQ(slices.size(), 3u);
        std::vector<int> subs;
        for (CDB_ATOM_NODE* s : slices) {
            EXPECT_EQ(s->get_lab_x(), slices[0]->get_lab_x());
            EXPECT_EQ(s->get_lab_y(), slices[0]->get_lab_y());
            EXPECT_EQ(placed.device().get_ram_block_kind(s->get_lab_x(), s->get_lab_y()), DEV_RAM_BLOCK_SMALL);
            subs.push_back(s->get_sub_location());
            EXPECT_FALSE(placed.env->get_tdb_netlist()->get_atom_nodes(static_cast<int>(s->get_id())).empty());
        }
        EXPECT_EQ(subs, (std::vector<int>{0, 1, 2}));
        FIXTURE_NETLIST logic(family);
        rom_design(false)(logic);
        const SEQ_VERDICT v =
            seq_check(logic.netlist(), *placed.design->netlist(), indexed("rom_placed_", family), true, 200);
        EXPECT_TRUE(v.equivalent()) << v.describe();
    }
}

// 12288 bits fit no small block (4096 or 8192 bits) but a medium one.
TEST(RamStandInPlace, SliceTooLargeForASmallBlockTakesAMediumOne)
{
    PLACED placed(CDB_FAMILY_BRK, rom_design(true, true));
    ASSERT_TRUE(placed.result.ok) << placed.result.error;
    const std::vector<CDB_ATOM_NODE*> big = placed.rams("big");
    ASSERT_EQ(big.size(), 1u);
    EXPECT_EQ(placed.device().get_ram_block_kind(big[0]->get_lab_x(), big[0]->get_lab_y()), DEV_RAM_BLOCK_MEDIUM);
    EXPECT_NE(placed.rams("rom")[0]->get_lab_x() * 1000 + placed.rams("rom")[0]->get_lab_y(),
              big[0]->get_lab_x() * 1000 + big[0]->get_lab_y());
}

// A slice no block of the device holds stops placement naming it.
TEST(RamStandInPlace, SliceLargerThanEveryBlockIsRefused)
{
    PLACED placed(CDB_FAMILY_BRK, [](FIXTURE_NETLIST& f) {
        CDB_ATOM_OTERM* clk = f.input("clk");
        CDB_ATOM_NODE* huge = add_ram_slice(f, "huge|s0", 20, 8, clk);
        f.output("o", huge->add_output_term(DB_RAM_PORTA_DATAOUT, huge->get_instance_name()));
    });
    EXPECT_FALSE(placed.result.ok);
    EXPECT_NE(placed.result.error.find("RAM slice huge|s0"), std::string::npos) << placed.result.error;
    EXPECT_NE(placed.result.error.find("fits no RAM block"), std::string::npos) << placed.result.error;
}

// Atoms placed after the fitter (the legaliser's occupancy): a slice joins
// a block holding slices it may share with, up to the block's capacity,
// and never a block of another logical RAM.
TEST(RamStandInPlace, OccupancySharesBlocksOnlyBetweenSharingSlices)
{
    PLACED placed(CDB_FAMILY_BRK, rom_design(true, true));
    ASSERT_TRUE(placed.result.ok) << placed.result.error;
    const DEV_DEVICE& dev = placed.device();
    const std::vector<CDB_ATOM_NODE*> rom = placed.rams("rom");
    CDB_ATOM_NODE* big = placed.rams("big")[0];
    int x = -1, y = -1;
    for (int cx = 0; cx < dev.get_nx() && x < 0; ++cx)
        for (int cy = 0; cy < dev.get_ny() && x < 0; ++cy)
            if (dev.get_ram_block_kind(cx, cy) == DEV_RAM_BLOCK_SMALL) {
                x = cx;
                y = cy;
            }
    ASSERT_GE(x, 0);
    HOST_OCCUPANCY occ(dev);
    int sub = -1;
    EXPECT_FALSE(occ.has_room(big, x, y, &sub)) << "too large for a small block";
    occ.add(rom[0], x, y);
    occ.add(rom[1], x, y);
    EXPECT_TRUE(occ.has_room(rom[2], x, y, &sub));
    EXPECT_EQ(sub, 2);
    // Another logical RAM of the same size does not share.
    PLACED other(CDB_FAMILY_BRK, [](FIXTURE_NETLIST& f) {
        CDB_ATOM_OTERM* clk = f.input("clk");
        CDB_ATOM_NODE* s = add_ram_slice(f, "other|s0", 3, 1, clk);
        f.output("o", s->add_output_term(DB_RAM_PORTA_DATAOUT, s->get_instance_name()));
    });
    EXPECT_FALSE(occ.has_room(other.rams("other")[0], x, y, &sub));
    // A full block takes no further slice.
    const int capacity = host_rams_per_block(dev, DEV_RAM_BLOCK_SMALL, rom[0]);
    for (int k = 2; k < capacity; ++k) occ.add(rom[k % 3], x, y);
    EXPECT_FALSE(occ.has_room(rom[2], x, y, &sub));
}

// Seven slices of 1024 words of 3 bits: a small block (4096 bits on BRK)
// holds one, a medium one five; so they take two medium blocks, five and two.
TEST(RamStandInPlace, SlicesBeyondABlocksCapacitySpreadOverBlocks)
{
    PLACED placed(CDB_FAMILY_BRK, [](FIXTURE_NETLIST& f) {
        CDB_ATOM_OTERM* clk = f.input("clk");
        for (int j = 0; j < 7; ++j) add_ram_slice(f, indexed("w|s", j), 10, 3, clk);
    });
    ASSERT_TRUE(placed.result.ok) << placed.result.error;
    std::map<std::pair<int, int>, int> per_site;
    for (CDB_ATOM_NODE* s : placed.rams("w")) {
        EXPECT_EQ(placed.device().get_ram_block_kind(s->get_lab_x(), s->get_lab_y()), DEV_RAM_BLOCK_MEDIUM);
        ++per_site[{s->get_lab_x(), s->get_lab_y()}];
    }
    std::vector<int> counts;
    for (const auto& [site, count] : per_site) counts.push_back(count);
    std::sort(counts.begin(), counts.end());
    EXPECT_EQ(counts, (std::vector<int>{2, 5}));
}

}  // namespace ram_place_test
