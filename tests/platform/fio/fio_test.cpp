#include <gtest/gtest.h>

#include <filesystem>
#include <cstdio>
#include <fstream>
#include <string>

#include "fio/fio.h"

TEST(FioTest, ExistsAndRemoveIfExists)
{
    FIO_PATH path("fio_test_file.txt");
    FIO_FILE_SYSTEM::remove_if_exists(path);
    EXPECT_FALSE(FIO_FILE_SYSTEM::exists(path));
    EXPECT_FALSE(FIO_FILE_SYSTEM::remove_if_exists(path));
    std::ofstream("fio_test_file.txt") << "x";
    EXPECT_TRUE(FIO_FILE_SYSTEM::exists(path));
    EXPECT_TRUE(FIO_FILE_SYSTEM::remove_if_exists(path));
    EXPECT_FALSE(FIO_FILE_SYSTEM::exists(path));
}

TEST(FioTest, FullpathIsAbsoluteAndNormal)
{
    FIO_PATH p("a/../b/./c.txt");
    std::filesystem::path full(p.fullpath());
    EXPECT_TRUE(full.is_absolute());
    EXPECT_EQ(full, (std::filesystem::current_path() / "b/c.txt").lexically_normal());
    EXPECT_EQ((FIO_PATH("db") / FIO_PATH("x.psl")).str(), "db/x.psl");
}

// A file the caller cannot open for writing is reported with its name and
// the reason; appending keeps what is there, the plain open replaces it.
TEST(FioTest, OpenersForWritingNameTheFileTheyCannotOpen)
{
    std::filesystem::create_directory("fio_blocked.txt");
    std::ofstream stream;
    try {
        fio_open_for_writing(stream, FIO_PATH("fio_blocked.txt"), true);
        FAIL() << "a folder opened as a file";
    } catch (const FIO_WRITE_ERROR& e) {
        EXPECT_EQ(e.get_path(), "fio_blocked.txt");
        EXPECT_EQ(std::string(e.what()).rfind("cannot write file 'fio_blocked.txt': ", 0), 0u) << e.what();
    }
    EXPECT_THROW(fio_fopen_for_writing(FIO_PATH("fio_blocked.txt")), FIO_WRITE_ERROR);
    std::filesystem::remove("fio_blocked.txt");

    fio_open_for_writing(stream, FIO_PATH("fio_written.txt"), false);
    stream << "first\n";
    stream.close();
    fio_open_for_writing(stream, FIO_PATH("fio_written.txt"), true);
    stream << "second\n";
    stream.close();
    std::FILE* file = fio_fopen_for_writing(FIO_PATH("fio_replaced.txt"));
    std::fputs("only\n", file);
    std::fclose(file);
    std::ifstream appended("fio_written.txt");
    std::string a, b;
    std::getline(appended, a);
    std::getline(appended, b);
    EXPECT_EQ(a + "," + b, "first,second");
    fio_open_for_writing(stream, FIO_PATH("fio_written.txt"), false);
    stream.close();
    EXPECT_EQ(std::filesystem::file_size("fio_written.txt"), 0u);
    std::filesystem::remove("fio_written.txt");
    std::filesystem::remove("fio_replaced.txt");
}
