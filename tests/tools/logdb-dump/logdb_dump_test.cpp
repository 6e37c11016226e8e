// logdb-dump as the user and the hand-written-log tests run it: text to log
// and back unchanged, damaged logs refused after their good records with the
// file and an offset on the error stream, bad text refused without touching
// the file it would have replaced.
#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <string>

#include "logdb_sample.h"
#include "test_files.h"

namespace logdb_dump_test {

namespace {

struct RUN
{
    int status = -1;
    std::string out, err;
};

RUN run(const std::string& args, const std::string& stdin_file = "")
{
    const std::string err_file = std::filesystem::absolute("logdb_dump.err").string();
    std::string cmd = std::string(LOGDB_DUMP_BINARY) + " " + args + " 2>'" + err_file + "'";
    if (!stdin_file.empty()) cmd += " <'" + stdin_file + "'";
    const COMMAND_RUN c = run_command(cmd);
    RUN r{c.status, c.out, slurp(err_file)};
    std::filesystem::remove(err_file);
    return r;
}

// The sample written as t.kas through the program itself.
std::string write_sample()
{
    write_file("t.txt", logdb_sample_text());
    const RUN w = run("--write t.kas", "t.txt");
    EXPECT_EQ(w.status, 0) << w.err;
    return slurp("t.kas");
}

// The text of the first n records.
std::string first_lines(std::size_t n)
{
    std::string text;
    const auto lines = logdb_sample_lines();
    for (std::size_t i = 0; i < n; ++i) text += lines[i] + "\n";
    return text;
}

bool names_file_and_offset(const std::string& err, const std::string& file)
{
    return err.rfind(file + ": offset ", 0) == 0 && err.find(": ", file.size() + 9) != std::string::npos;
}

}  // namespace

TEST(LogdbDump, WrittenTextDumpsBackUnchanged)
{
    write_sample();
    const RUN d = run("t.kas");
    EXPECT_EQ(d.status, 0) << d.err;
    EXPECT_EQ(d.out, logdb_sample_text());
    EXPECT_EQ(d.err, "");
}

// Cuts at every record boundary and a few bytes into every record: a
// written log ends with its closing record, so even a cut at a boundary is
// an error after the records before it (an empty file is an empty log).
TEST(LogdbDump, TruncatedLogsArePrefixesOrErrors)
{
    const std::string bytes = write_sample();
    std::size_t boundary = 0;
    for (std::size_t record = 0; boundary < bytes.size(); ++record) {
        const std::size_t length = static_cast<unsigned char>(bytes[boundary + 4]) |
                                   static_cast<std::size_t>(static_cast<unsigned char>(bytes[boundary + 5])) << 8;
        write_file("cut.kas", bytes.substr(0, boundary));
        RUN r = run("cut.kas");
        EXPECT_EQ(r.status, boundary == 0 ? 0 : 1) << r.err;
        EXPECT_EQ(r.out, first_lines(record));
        EXPECT_TRUE(boundary == 0 || names_file_and_offset(r.err, "cut.kas")) << r.err;
        for (std::size_t into : {std::size_t{1}, std::size_t{7}, length - 1}) {
            write_file("cut.kas", bytes.substr(0, boundary + into));
            r = run("cut.kas");
            EXPECT_EQ(r.status, 1);
            EXPECT_EQ(r.out, first_lines(record));
            EXPECT_TRUE(names_file_and_offset(r.err, "cut.kas")) << r.err;
        }
        boundary += length;
    }
}

TEST(LogdbDump, CopiesWithChangedBytesExitOne)
{
    const std::string bytes = write_sample();
    std::mt19937 rng(7);
    for (int copy = 0; copy < 40; ++copy) {
        std::string damaged = bytes;
        for (int i = 0; i < 1 + copy % 4; ++i) {
            const std::size_t at = rng() % damaged.size();
            damaged[at] = static_cast<char>(damaged[at] ^ (1 + rng() % 255));
        }
        write_file("changed.kas", damaged);
        const RUN r = run("changed.kas");
        EXPECT_EQ(r.status, 1) << "copy " << copy;
        EXPECT_TRUE(names_file_and_offset(r.err, "changed.kas")) << r.err;
    }
}

TEST(LogdbDump, BadTextAndBadUseChangeNothing)
{
    write_sample();
    const std::string before = slurp("t.kas");
    write_file("bad.txt", "43 0 \"7.2\" 6\n8 1 12 \"n0\" 0 0x8888\n");
    RUN r = run("--write t.kas", "bad.txt");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("stdin: line 2: "), std::string::npos) << r.err;
    EXPECT_EQ(slurp("t.kas"), before);
    EXPECT_FALSE(std::filesystem::exists("t.kas.tmp"));
    r = run("missing.kas");
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(names_file_and_offset(r.err, "missing.kas")) << r.err;
    EXPECT_EQ(run("").status, 2);
    EXPECT_EQ(run("--write").status, 2);
    EXPECT_EQ(run("a.kas b.kas").status, 2);
    write_file("empty.txt", "");
    EXPECT_EQ(run("--write empty.kas", "empty.txt").status, 0);
    // Written with its closing record: a replay takes a file of no bytes at
    // all for one a full disk or a killed copy left.
    EXPECT_GT(std::filesystem::file_size("empty.kas"), 0U);
    r = run("empty.kas");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "");
}

}  // namespace logdb_dump_test
