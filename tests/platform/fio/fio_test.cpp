#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "fio/fio.h"

TEST(FioTest, ExistsAndRemoveIfExists) {
    FIO_PATH path("fio_test_file.txt");
    FIO_FILE_SYSTEM::remove_if_exists(path);
    EXPECT_FALSE(FIO_FILE_SYSTEM::exists(path));
    EXPECT_FALSE(FIO_FILE_SYSTEM::remove_if_exists(path));
    std::ofstream("fio_test_file.txt") << "x";
    EXPECT_TRUE(FIO_FILE_SYSTEM::exists(path));
    EXPECT_TRUE(FIO_FILE_SYSTEM::remove_if_exists(path));
    EXPECT_FALSE(FIO_FILE_SYSTEM::exists(path));
}

TEST(FioTest, FullpathIsAbsoluteAndNormal) {
    FIO_PATH p("a/../b/./c.txt");
    std::filesystem::path full(p.fullpath());
    EXPECT_TRUE(full.is_absolute());
    EXPECT_EQ(full, (std::filesystem::current_path() / "b/c.txt").lexically_normal());
    EXPECT_EQ((FIO_PATH("db") / FIO_PATH("x.psl")).str(), "db/x.psl");
}
