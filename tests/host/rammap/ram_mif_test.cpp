// The memory-initialisation file of a mapped cluster: its exact text, words
// of any width, checked writes that leave nothing behind when they fail,
// and the process-wide numbering of the files, each read back by the
// stand-in reader into the columns it was written from.

#include <fcntl.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "cmp/cmp_facade.h"
#include "cut/cut_mif_reader.h"
#include "hdb/hdb_action_pt_instance.h"

#include "morv/core/morv_env.h"
#include "morv/rammap/morv_ram_mif.h"
#include "rammap_run.h"

namespace ram_mif_test {

namespace {

std::string file_text(const std::string& path)
{
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

bool exists(const std::string& path)
{
    return std::ifstream(path).good();
}

std::vector<MORV_RAM_COLUMN> random_columns(int width, int depth, uint64_t seed)
{
    std::mt19937_64 rng(seed);
    std::vector<MORV_RAM_COLUMN> columns(static_cast<size_t>(width), MORV_RAM_COLUMN(static_cast<size_t>(depth)));
    for (MORV_RAM_COLUMN& column : columns)
        for (size_t a = 0; a < column.size(); ++a) column[a] = rng() & 1u;
    return columns;
}

void expect_read_back(const std::string& path, const std::vector<MORV_RAM_COLUMN>& columns)
{
    const int width = static_cast<int>(columns.size());
    const int depth = static_cast<int>(columns[0].size());
    const CUT_MIF_CONTENTS c = cut_read_mif_file(path, width, depth);
    for (int k = 0; k < width; ++k) EXPECT_EQ(c.column(k), columns[static_cast<size_t>(k)]) << path << " bit " << k;
}

}  // namespace

// Width 2, depth 2, column 0 holding 0 then 1 and column 1 holding 1 then
// 1: words 2 and 3, in the exact text the RAM atoms load.
TEST(RamMif, WritesTheExactTextReadBack)
{
    const std::vector<MORV_RAM_COLUMN> columns = {{false, true}, {true, true}};
    ASSERT_TRUE(morv_write_mif_file("example.mif", 2, 2, columns));
    EXPECT_EQ(file_text("example.mif"),
              "-- [PROTO] RAM Mapping Generated Memory Initialization File\nWIDTH=2;\nDEPTH=2;\n\n"
              "ADDRESS_RADIX=UNS;\nDATA_RADIX=UNS;\n\nCONTENT BEGIN\n    0  :  2;\n    1  :  3;\nEND;\n");
    EXPECT_EQ(cut_read_mif_file("example.mif", 2, 2).words, (std::vector<uint64_t>{2, 3}));
    EXPECT_FALSE(exists("example.mif.partial"));

    const std::vector<MORV_RAM_COLUMN> zeros(3, MORV_RAM_COLUMN(4, false));
    ASSERT_TRUE(morv_write_mif_file("example.mif", 3, 4, zeros));  // an earlier file is replaced whole
    EXPECT_NE(file_text("example.mif").find("WIDTH=3;\nDEPTH=4;"), std::string::npos);
    EXPECT_NE(file_text("example.mif").find("    3  :  0;\nEND;\n"), std::string::npos);
    expect_read_back("example.mif", zeros);
}

// Words of 64, 65, 100 and 200 bits do not wrap: their decimal text is the
// whole number, and the reader gets every bit back.
TEST(RamMif, WordsWiderThan64BitsKeepEveryBit)
{
    std::vector<MORV_RAM_COLUMN> ones(100, MORV_RAM_COLUMN{true});
    EXPECT_EQ(morv_mif_word(ones, 0), "1267650600228229401496703205375");  // 2^100 - 1
    ones.resize(64);
    EXPECT_EQ(morv_mif_word(ones, 0), "18446744073709551615");
    std::vector<MORV_RAM_COLUMN> top(65, MORV_RAM_COLUMN{false});
    top[64][0] = true;
    EXPECT_EQ(morv_mif_word(top, 0), "18446744073709551616");
    std::vector<MORV_RAM_COLUMN> sparse(100, MORV_RAM_COLUMN{false});
    sparse[0][0] = sparse[30][0] = sparse[99][0] = true;  // 2^99 + 2^30 + 1, groups of nine digits with zeros
    EXPECT_EQ(morv_mif_word(sparse, 0), "633825300114114700749425344513");
    EXPECT_EQ(morv_mif_word(std::vector<MORV_RAM_COLUMN>(100, MORV_RAM_COLUMN{false}), 0), "0");

    for (int width : {1, 63, 64, 65, 100, 200}) {
        const std::vector<MORV_RAM_COLUMN> columns = random_columns(width, 16, static_cast<uint64_t>(width));
        const std::string path = indexed("wide", width) + ".mif";
        ASSERT_TRUE(morv_write_mif_file(path, width, 16, columns)) << width;
        expect_read_back(path, columns);
    }
    // One bit too many for the width is refused.
    std::ofstream("over.mif") << "WIDTH=65;\nDEPTH=1;\nADDRESS_RADIX=UNS;\nDATA_RADIX=UNS;\nCONTENT BEGIN\n"
                                 "0 : 36893488147419103232;\nEND;\n";
    try {
        cut_read_mif_file("over.mif");
        ADD_FAILURE() << "a 66-bit word was read as 65 bits";
    } catch (const CUT_MIF_ERROR& e) {
        EXPECT_NE(std::string(e.what()).find("over.mif:6: word 36893488147419103232 at address 0 does not fit"),
                  std::string::npos)
            << e.what();
    }
}

// A folder that cannot be written and a device that is full both answer
// false, and nothing that could pass for the file is left.
TEST(RamMif, FailedWriteReportsFailureAndLeavesNothing)
{
    const std::vector<MORV_RAM_COLUMN> columns = random_columns(4, 8, 3);
    EXPECT_FALSE(morv_write_mif_file("no_such_folder/x.0.rmp.mif", 4, 8, columns));
    EXPECT_FALSE(exists("no_such_folder/x.0.rmp.mif"));
    // Opened without creating: where the device is missing, no file is made.
    const int full_fd = ::open("/dev/full", O_WRONLY | O_CLOEXEC);
    ASSERT_GE(full_fd, 0) << "/dev/full: " << std::strerror(errno);
    std::FILE* full = ::fdopen(full_fd, "w");
    ASSERT_NE(full, nullptr);
    EXPECT_FALSE(morv_write_mif(full, 4, 8, columns));
    std::fclose(full);
    // A file name that is a folder: the finished text cannot take its place.
    std::filesystem::create_directories("taken.mif");
    EXPECT_FALSE(morv_write_mif_file("taken.mif", 4, 8, columns));
    EXPECT_FALSE(exists("taken.mif.partial"));
}

// One counter for the process, whatever the project: each name takes its
// value and moves it on, and is registered as a generated source file.
TEST(RamMif, FileNamesCountAcrossProjects)
{
    const int first = morv_ram_counter();
    EXPECT_EQ(morv_next_mif_file_name("alpha"), "db/alpha." + std::to_string(first) + ".rmp.mif");
    EXPECT_EQ(morv_next_mif_file_name("beta"), "db/beta." + std::to_string(first + 1) + ".rmp.mif");
    EXPECT_EQ(morv_ram_counter(), first + 2);

    RAMMAP_RUN run(CDB_FAMILY_BRK, [](FIXTURE_NETLIST& f) { f.output("o", f.input("i")); });
    const std::string name = run.util()->make_mif_file_name();
    std::string expected("db/");
    expected.append(run.api()->get_project_name()).append(".").append(std::to_string(first + 2)).append(".rmp.mif");
    EXPECT_EQ(name, expected);
    const auto& files = run.api()->get_morv_env()->get_cmp()->get_action_point_instance()->get_source_files();
    ASSERT_FALSE(files.empty());
    EXPECT_EQ(files.back()->name, name);
    EXPECT_EQ(files.back()->kind, 12);
}

}  // namespace ram_mif_test
