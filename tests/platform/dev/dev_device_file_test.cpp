// Device files: what they override, and that every value out of its kind or
// range is an error naming file and line instead of a quietly different device.

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <fstream>
#include <memory>

#include "dev/dev_device.h"

namespace dev_device_file_test {

namespace {

std::string write_file(const std::string& name, const std::string& text)
{
    std::ofstream(name, std::ios::binary) << text;
    return name;
}

std::string error_of(const std::string& path)
{
    try {
        delete DEV_DEVICE::load_from_file(path.c_str());
    } catch (const std::runtime_error& e) {
        return e.what();
    }
    return "accepted";
}

std::string error_of_text(const std::string& text)
{
    return error_of(write_file("dev_case.txt", text));
}

TEST(DevDeviceFile, OverridesTheBuiltInDevice)
{
    const std::string good = write_file("dev_good.txt", "# small test device\n"
                                                        "family 24\n"
                                                        "part 2403\n"
                                                        "grid 12 10\n"
                                                        "lab_capacity 8\n"
                                                        "ram_column 4\n"
                                                        "block 6 6 590   # a memory LAB\n"
                                                        "migratable_part 4200\n"
                                                        "migratable_part 2601\n"
                                                        "bool 125 1\n"
                                                        "resource 270 0\n"
                                                        "delay per_hop 77\n");
    std::unique_ptr<DEV_DEVICE> dev(DEV_DEVICE::load_from_file(good.c_str()));
    EXPECT_EQ(dev->get_family(), DEV_FAMILY_MORLIN);
    EXPECT_EQ(dev->get_part(), 2403);
    EXPECT_EQ(dev->get_nx(), 12);
    EXPECT_EQ(dev->get_ny(), 10);
    EXPECT_EQ(dev->get_lab_capacity(), 8);
    EXPECT_EQ(dev->get_block_type(4, 3), DEV_BLOCK_RAM);
    EXPECT_EQ(dev->get_block_type(6, 6), 590);
    EXPECT_EQ(dev->get_timing_model().per_hop, 77);
    EXPECT_EQ(dev->get_resource_count(270), dev->get_le_count());
    ASSERT_TRUE(dev->get_migration_info());
    // Migration parts may belong to families without a built-in device.
    EXPECT_EQ(DEV_PART_MANAGER::get_family_of(dev->get_migration_info()->get_migratable_parts()[1]), 26);
    bool b = false;
    EXPECT_TRUE(dev->get_basic_info()->get_bool(125, &b));
    EXPECT_TRUE(b);
    EXPECT_FALSE(dev->get_basic_info()->get_bool(126, &b));

    // Line ends of every system; blocks checked against the grid that is
    // final at the end of the file, whatever the order of the lines.
    dev.reset(DEV_DEVICE::load_from_file(write_file("dev_cr.txt", "family 9\r\nblock 60 2 7\rgrid 70 5\r").c_str()));
    EXPECT_EQ(dev->get_family(), DEV_FAMILY_ZEPLA);
    EXPECT_EQ(dev->get_nx(), 70);
    EXPECT_EQ(dev->get_block_type(60, 2), DEV_BLOCK_LAB);
}

TEST(DevDeviceFile, ValuesOutOfKindOrRangeNameFileAndLine)
{
    struct CASE
    {
        const char* text;
        const char* error;
    } cases[] = {
        {"grid 10 10\nbogus 3\n", "dev_case.txt:2: unknown key 'bogus'"},
        {"grid 10\n", "dev_case.txt:1: 'grid' takes NX NY, found 1 word(s)"},
        {"family 7\n", "dev_case.txt:1: unknown family 7"},
        {"delay lut_z 3\n", "dev_case.txt:1: unknown delay 'lut_z'"},
        // A capacity that does not fit an int used to wrap to 0.
        {"lab_capacity 4294967296\n",
         "dev_case.txt:1: lab_capacity must be a whole number from 1 to 1024, found '4294967296'"},
        {"lab_capacity 0\n", "dev_case.txt:1: lab_capacity must be"},
        {"grid 4096 4096\nlab_capacity 1000\n", "dev_case.txt:2: a 4096 x 4096 grid of LABs of 1000 has more slots"},
        {"part 999\n", "dev_case.txt:1: part 999 is not a part of family 6 (its parts are 600 .. 699)"},
        {"part -1\n", "dev_case.txt:1: part must be a whole number from 0"},
        {"device_enum -1\n", "dev_case.txt:1: device_enum must be"},
        {"device_enum 12x\n", "dev_case.txt:1: device_enum must be a whole number from 0 to 2147483647, found '12x'"},
        {"bool 125 2\n", "dev_case.txt:1: bool value must be a whole number from 0 to 1, found '2'"},
        {"bool 125 yes\n", "dev_case.txt:1: bool value must be"},
        {"block 5 5 999\n", "dev_case.txt:1: unknown block type 999"},
        {"grid 10 10\n\nblock 20 5 7\n", "dev_case.txt:3: block 20 5 is outside the 10 x 10 grid"},
        {"block 8 8 7\ngrid 5 5\n", "dev_case.txt:1: block 8 8 is outside the 5 x 5 grid"},
        {"name a b\n", "dev_case.txt:1: 'name' takes one word, found 2 word(s)"},
        {"delay tco 100 ps\n", "dev_case.txt:1: 'delay' takes NAME PICOSECONDS, found 3 word(s)"},
        {"delay tco -5\n", "dev_case.txt:1: delay must be a whole number from 0 to 1000000"},
        {"resource 3 -2\n", "dev_case.txt:1: resource count must be"},
        {"migration_target x\n", "dev_case.txt:1: migration_target must be"},
        {"lab_type 2\n", "dev_case.txt:1: not a LAB block type: 2"},
        {"ram_column 0\n", "dev_case.txt:1: column must be a whole number from 1 to 82"},
        // Lines that a later line would quietly undo.
        {"grid 10 10\nfamily 24\n", "dev_case.txt:2: 'family' must come before every other key"},
        {"ram_column 4\ngrid 10 10\n", "dev_case.txt:2: 'grid' must come before 'ram_column' and 'dsp_column'"},
        {"lab_capacity 8\nlab_capacity 9\n", "dev_case.txt:2: 'lab_capacity' is given twice (first on line 1)"},
        {"delay tco 1\ndelay tsu 2\ndelay tco 3\n", "dev_case.txt:3: 'delay tco' is given twice (first on line 1)"},
        {"ram_column 4\ndsp_column 4\n", "dev_case.txt:2: 'column 4' is given twice (first on line 1)"},
        {"block 1 1 7\nblock 01 1 2\n", "dev_case.txt:2: 'block 1 1' is given twice (first on line 1)"},
    };
    for (const CASE& c : cases) {
        const std::string error = error_of_text(c.text);
        EXPECT_EQ(error.rfind(c.error, 0), 0u) << c.text << "\n" << error;
    }
}

TEST(DevDeviceFile, PathsThatAreNotReadableFiles)
{
    EXPECT_EQ(error_of("no_such_device_file.txt"),
              "no_such_device_file.txt: cannot read the device file: cannot open: No such file or directory");
    ::mkdir("dev_folder", 0755);
    EXPECT_EQ(error_of("dev_folder"), "dev_folder: cannot read the device file: is a folder, not a file");
}

}  // namespace

}  // namespace dev_device_file_test
