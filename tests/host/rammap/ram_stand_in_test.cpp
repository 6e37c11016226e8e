// The stand-in's RAM blocks: site kinds and their bits on the device, the
// device file's kind pattern, the host's sharing and capacity answers, and
// the family RAM atoms.

#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <sstream>
#include <string>

#include "cdb/cdb_native_format.h"
#include "dev/dev_device.h"
#include "host_env.h"

#include "morv/rammap/morv_ram_map_util.h"
#include "morv_test_util.h"
#include "rammap_rams.h"
#include "rammap_run.h"

namespace ram_stand_in_test {

namespace {

std::string device_file_error(const std::string& text)
{
    const std::string path = "ram_kinds_case.txt";
    std::ofstream(path) << text;
    try {
        delete DEV_DEVICE::load_from_file(path.c_str());
    } catch (const std::runtime_error& e) {
        return e.what();
    }
    return "accepted";
}

}  // namespace

TEST(RamStandInDevice, SitesOfThreeKindsWithTheFamilysBits)
{
    DEV_DEVICE brk(DEV_FAMILY_BRENNOCK);
    const int x = brk.get_ram_columns().front();
    EXPECT_EQ(brk.get_ram_block_kind(x, 0), 0);  // the I/O border
    EXPECT_EQ(brk.get_ram_block_kind(x, 1), DEV_RAM_BLOCK_SMALL);
    EXPECT_EQ(brk.get_ram_block_kind(x, 3), DEV_RAM_BLOCK_SMALL);
    EXPECT_EQ(brk.get_ram_block_kind(x, 4), DEV_RAM_BLOCK_MEDIUM);
    EXPECT_EQ(brk.get_ram_block_kind(x, 5), DEV_RAM_BLOCK_SMALL);
    EXPECT_EQ(brk.get_ram_block_kind(x + 1, 4), 0);
    EXPECT_EQ(brk.get_ram_block_bits(DEV_RAM_BLOCK_SMALL), 4096);
    EXPECT_EQ(brk.get_ram_block_bits(DEV_RAM_BLOCK_MEDIUM), 16384);
    EXPECT_EQ(brk.get_ram_block_bits(DEV_RAM_BLOCK_LARGE), 65536);
    EXPECT_EQ(brk.get_ram_block_bits(DEV_BLOCK_RAM), 0);
    DEV_DEVICE obran(DEV_FAMILY_OBRAN);
    EXPECT_EQ(obran.get_ram_block_bits(DEV_RAM_BLOCK_SMALL), 8192);
    const DUVO_PLACE_INFO* place = obran.get_die_info()->get_duvo_die_info()->get_place_info();
    int sites = 0;
    for (int cx = 0; cx < obran.get_nx(); ++cx)
        for (int cy = 0; cy < obran.get_ny(); ++cy) sites += obran.get_block_type(cx, cy) == DEV_BLOCK_RAM;
    EXPECT_EQ(place->get_num_elements(DEV_RAM_BLOCK_SMALL) + place->get_num_elements(DEV_RAM_BLOCK_MEDIUM), sites);
    EXPECT_EQ(place->get_num_elements(DEV_RAM_BLOCK_LARGE), 0);
    EXPECT_EQ(place->get_num_elements(DEV_BLOCK_RAM), 0);
}

TEST(RamStandInDevice, DeviceFileSetsTheKinds)
{
    const std::string path = "ram_kinds_good.txt";
    std::ofstream(path) << "family 42\ngrid 20 10\nram_column 5\nram_kinds 258 257\nblock 9 4 700\n";
    std::unique_ptr<DEV_DEVICE> dev(DEV_DEVICE::load_from_file(path.c_str()));
    EXPECT_EQ(dev->get_ram_kind_pattern(), (std::vector<int>{DEV_RAM_BLOCK_LARGE, DEV_RAM_BLOCK_MEDIUM}));
    EXPECT_EQ(dev->get_ram_block_kind(5, 1), DEV_RAM_BLOCK_LARGE);
    EXPECT_EQ(dev->get_ram_block_kind(5, 2), DEV_RAM_BLOCK_MEDIUM);
    // A RAM site placed by hand takes the kind of its row.
    EXPECT_EQ(dev->get_ram_block_kind(9, 4), DEV_RAM_BLOCK_MEDIUM);
    const DUVO_PLACE_INFO* place = dev->get_die_info()->get_duvo_die_info()->get_place_info();
    EXPECT_EQ(place->get_num_elements(DEV_RAM_BLOCK_LARGE), 4);
    EXPECT_EQ(place->get_num_elements(DEV_RAM_BLOCK_MEDIUM), 5);

    EXPECT_NE(device_file_error("family 6\nram_kinds 256 300\n").find(":2: not a RAM block kind: 300"),
              std::string::npos);
    EXPECT_NE(device_file_error("family 6\nram_kinds\n").find(":2: 'ram_kinds' takes one or more"), std::string::npos);
    EXPECT_NE(device_file_error("family 6\nram_kinds 256\nram_kinds 257\n").find(":3: 'ram_kinds' is given twice"),
              std::string::npos);
}

// Slices of one logical RAM, depth and clock share a block; as many fit
// as its bits hold.
TEST(RamStandInEnv, SharingAndCapacity)
{
    CDB_ATOM_NODE* rams[6] = {};
    RAMMAP_RUN run(CDB_FAMILY_BRK, [&](FIXTURE_NETLIST& f) {
        CDB_ATOM_OTERM* clk = f.input("clk");
        CDB_ATOM_OTERM* clk2 = f.input("clk2");
        rams[0] = add_ram_slice(f, "mem|s0", 8, 1, clk);
        rams[1] = add_ram_slice(f, "mem|s1", 8, 1, clk);
        rams[2] = add_ram_slice(f, "other|s0", 8, 1, clk);
        rams[3] = add_ram_slice(f, "mem|s2", 9, 1, clk);
        rams[4] = add_ram_slice(f, "mem|s3", 8, 1, clk2);
        rams[5] = add_ram_slice(f, "mem|s4", 12, 3, clk);
        f.output("o", clk);
    });
    MORV_ENV* env = run.api()->get_morv_env();
    auto id = [&](int k) { return static_cast<int>(rams[k]->get_id()); };
    EXPECT_TRUE(env->can_share_ram_block(id(0), id(1)));
    EXPECT_FALSE(env->can_share_ram_block(id(0), id(2)));
    EXPECT_FALSE(env->can_share_ram_block(id(0), id(3)));
    EXPECT_FALSE(env->can_share_ram_block(id(0), id(4)));
    const int output_id = static_cast<int>(run.output_term("o")->get_my_node()->get_id());
    EXPECT_FALSE(env->can_share_ram_block(id(0), output_id));
    EXPECT_EQ(env->get_rams_per_block(DEV_RAM_BLOCK_SMALL, id(0)), 16);  // 4096 / 256
    EXPECT_EQ(env->get_rams_per_block(DEV_RAM_BLOCK_LARGE, id(0)), 256);
    EXPECT_EQ(env->get_rams_per_block(DEV_RAM_BLOCK_SMALL, id(5)), 0);  // 4096 x 3 bits
    EXPECT_EQ(env->get_rams_per_block(DEV_RAM_BLOCK_MEDIUM, id(5)), 1);
    EXPECT_EQ(env->get_rams_per_block(DEV_RAM_BLOCK_LARGE, id(5)), 5);
    EXPECT_EQ(env->get_rams_per_block(DEV_BLOCK_RAM, id(0)), 0);
    EXPECT_EQ(env->get_rams_per_block(DEV_RAM_BLOCK_SMALL, output_id), 0);
}

// Each family's RAM atom carries the family's type code and the mode flags
// it was made with.
TEST(RamStandInAtoms, FamilyRamAtomsFromTheUtility)
{
    const std::pair<int, int> rows[] = {
        {CDB_FAMILY_BRK, CDB_ATOM_BRK_EC_ENUM},      {CDB_FAMILY_OBRAN, CDB_ATOM_OBRAN_EC_ENUM},
        {CDB_FAMILY_RZK, CDB_ATOM_RZK_EC_ENUM},      {CDB_FAMILY_KESTLIN, CDB_ATOM_RZK_EC_ENUM},
        {CDB_FAMILY_TEV, CDB_ATOM_SORVEXII_EC_ENUM}, {CDB_FAMILY_ZEPLA, CDB_ATOM_ZEPLA_EC_ENUM}};
    for (const auto& [family, type] : rows) {
        RAMMAP_RUN run(family, [](FIXTURE_NETLIST& f) { f.output("o", f.input("i")); });
        const CDB_RAM_FLAG_SET flags{1, 2, 8, 11, 12, 48};
        CDB_ATOM_NODE* ram = run.util()->create_ram_atom(run.output_term("o")->get_my_node()->get_instance_name(),
                                                         "db/x.0.rmp.mif", flags);
        ASSERT_NE(ram, nullptr);
        EXPECT_TRUE(ram->is_ram());
        EXPECT_EQ(ram->get_atom_type(), type) << family;
        EXPECT_TRUE(CUT_RAM_UTIL::ram_mode_is(ram, 0, flags));
        EXPECT_FALSE(CUT_RAM_UTIL::ram_mode_is(ram, 0, 9));
        delete ram;
    }
}

// The slice description of a data output, the rename flag and the atom
// set-up travel with the atom through the native format; an output of
// another atom carries no description and cannot be given one.
TEST(RamStandInAtoms, SliceInfoAndRenameFlagKeptWithTheAtom)
{
    RAMMAP_RUN run(CDB_FAMILY_ZEPLA, [](FIXTURE_NETLIST& f) {
        CDB_ATOM_NODE* ram = add_ram_slice(f, "rom|s1", 3, 1, f.input("clk"));
        f.output("o", ram->add_output_term(DB_RAM_PORTA_DATAOUT, ram->get_instance_name()));
        ram->add_output_term(DB_RAM_PORTB_DATAOUT, ram->get_instance_name());
    });
    CDB_ATOM_NODE* node = run.node("rom|s1");
    auto* ram = static_cast<CDB_ATOM_RAM*>(node);
    const int inputs = ram->get_input_count();
    ram->create_atom_info();
    EXPECT_EQ(ram->get_input_count(), inputs) << "set-up again keeps the terms";
    CDB_ATOM_OTERM* data = ram->get_output_term_by_type(DB_RAM_PORTA_DATAOUT);
    CDB_ATOM_OTERM* other = ram->get_output_term_by_type(DB_RAM_PORTB_DATAOUT);
    const CDB_RAM_SLICE_INFO info{"rom", "db/p.0.rmp.mif", 3, 8, 0, 7, 1, 0, "top|rom"};
    CDB_RAM_SLICE_INFO read;
    EXPECT_FALSE(ram->get_slice_info(data, read));
    EXPECT_FALSE(ram->is_renamed());
    ram->set_slice_info(data, info);
    ram->set_renamed(true);
    ASSERT_TRUE(ram->get_slice_info(data, read));
    EXPECT_EQ(read, info);
    EXPECT_FALSE(ram->get_slice_info(other, read));
    EXPECT_FALSE(ram->get_slice_info(run.node("clk")->get_output_term_by_type(DB_DATA_OUT), read));
    EXPECT_EQ(
        internal_error_of([&] { ram->set_slice_info(run.node("clk")->get_output_term_by_type(DB_DATA_OUT), info); }),
        "oterm && oterm->get_my_node() == ram");
    // A shorter description replaces a longer one whole.
    CDB_RAM_SLICE_INFO shorter = info;
    shorter.m_logical_name = "r";
    shorter.m_hierarchy.clear();
    ram->set_slice_info(data, shorter);
    ASSERT_TRUE(ram->get_slice_info(data, read));
    EXPECT_EQ(read, shorter);

    std::stringstream text;
    cdb_write_native_netlist(run.netlist(), text);
    std::string error;
    std::unique_ptr<CDB_ATOM_NETLIST> copy(cdb_read_native_netlist(text, "copy.txt", nullptr, &error));
    ASSERT_NE(copy, nullptr) << error;
    for (CDB_ATOM_NODE* n : *copy) {
        if (!n->is_ram()) continue;
        auto* copied = static_cast<CDB_ATOM_RAM*>(n);
        EXPECT_TRUE(copied->is_renamed());
        CDB_RAM_SLICE_INFO again;
        ASSERT_TRUE(copied->get_slice_info(copied->get_output_term_by_type(DB_RAM_PORTA_DATAOUT), again));
        EXPECT_EQ(again, shorter);
    }
}

}  // namespace ram_stand_in_test
