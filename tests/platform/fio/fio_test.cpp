#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <utility>

#include "fio/fio.h"

namespace fio_test {

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

// Only regular files are read: a device or a named pipe in their place would
// read for ever or wait for a writer that never comes, so each is refused at
// once, named by its kind.
TEST(FioTest, OnlyRegularFilesAreRead)
{
    ::mkfifo("fio_pipe", 0600);
    std::filesystem::create_directory("fio_folder");
    const std::pair<const char*, const char*> refused[] = {
        {"fio_pipe", "is a named pipe, not a regular file"},
        {"/dev/zero", "is a device, not a regular file"},
        {"/dev/null", "is a device, not a regular file"},
        {"fio_folder", "is a folder, not a file"},
        {"fio_absent.txt", "cannot open: No such file or directory"},
    };
    for (const auto& [path, why] : refused) {
        std::string text = "old", error;
        EXPECT_FALSE(fio_read_user_file(path, text, error)) << path;
        EXPECT_EQ(error, why) << path;
        EXPECT_TRUE(text.empty()) << path;
        error.clear();
        EXPECT_FALSE(fio_read_stored_file(path, text, error)) << path;
        EXPECT_EQ(error, why) << path;
        error.clear();
        EXPECT_FALSE(fio_check_user_file(path, error)) << path;
        EXPECT_EQ(error, why) << path;
    }
    std::ofstream("fio_plain.txt") << "a\nb\n";
    std::string text, error;
    EXPECT_TRUE(fio_check_user_file("fio_plain.txt", error)) << error;
    ASSERT_TRUE(fio_read_user_file("fio_plain.txt", text, error)) << error;
    EXPECT_EQ(text, "a\nb\n");
    // A link to a regular file is that file.
    std::error_code ec;
    std::filesystem::create_symlink("fio_plain.txt", "fio_link.txt", ec);
    ASSERT_TRUE(fio_read_user_file("fio_link.txt", text, error)) << error;
    EXPECT_EQ(text, "a\nb\n");
}

// A NUL byte ends a text read where it stands, naming its line by every kind
// of line end; a stored binary file keeps every byte.
TEST(FioTest, NulBytesEndATextReadAtTheirLine)
{
    using namespace std::string_literals;
    const std::pair<std::string, int> cases[] = {
        {"\0abc\n"s, 1},
        {"a\nb\nc\0\n"s, 3},
        {"a\r\nb\r\n\0"s, 3},
        {"a\rb\rc\rd\0"s, 4},
        {"a\r\0\n"s, 2},
        {"a\n\n\n\0"s, 4},
        {std::string(70000, 'x') + "\n\n\0"s, 3},
        {std::string(65535, 'y') + "\r\n\0"s, 2},
    };
    for (const auto& [bytes, line] : cases) {
        std::ofstream("fio_nul.txt", std::ios::binary) << bytes;
        std::string text = "old", error;
        int nul_line = -1;
        EXPECT_FALSE(fio_read_user_file("fio_nul.txt", text, error, &nul_line));
        EXPECT_EQ(nul_line, line) << error;
        EXPECT_EQ(error, "NUL byte in line " + std::to_string(line) + " (is this a text file?)");
        EXPECT_TRUE(text.empty());
        ASSERT_TRUE(fio_read_stored_file("fio_nul.txt", text, error)) << error;
        EXPECT_EQ(text, bytes);
    }
    int nul_line = -1;
    std::string text, error;
    std::ofstream("fio_nul.txt", std::ios::binary) << "no nul\n";
    EXPECT_TRUE(fio_read_user_file("fio_nul.txt", text, error, &nul_line));
    EXPECT_EQ(nul_line, 0);
    EXPECT_FALSE(fio_read_user_file("/dev/zero", text, error, &nul_line));
    EXPECT_EQ(nul_line, 0);
}

}  // namespace fio_test
