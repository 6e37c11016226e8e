// Stored logs are user input: every truncation and every changed byte of a
// log is refused with the file and an offset, never read as a shorter good
// log, and never crashes, hangs or asks for a block above the record bound.
#include <gtest/gtest.h>

#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "logdb/logdb_fsyn_log_file.h"
#include "logdb/logdb_record_stream.h"
#include "logdb/logdb_text.h"
#include "logdb_sample.h"

#if defined(__SANITIZE_ADDRESS__)
// A block above twice the record bound stops the program under the
// sanitizer: the readers below must never ask for one.
extern "C" const char* __asan_default_options()
{
    return "max_allocation_size_mb=32";
}
#endif

namespace logdb_corruption_test {

namespace {

struct SAMPLE
{
    std::string bytes;
    std::vector<std::size_t> boundaries;  // offsets where a record starts, and the end
};

const SAMPLE& sample()
{
    static const SAMPLE s = [] {
        SAMPLE out;
        for (const std::string& line : logdb_sample_lines()) {
            std::string error;
            LOGDB_FSYN_LOG_ENTRY_OWNER r = logdb_record_from_text(line, error);
            out.boundaries.push_back(out.bytes.size());
            out.bytes += logdb_encode_record(*r);
        }
        out.boundaries.push_back(out.bytes.size());
        return out;
    }();
    return s;
}

struct READ
{
    std::size_t records = 0;
    LOGDB_READ_ERROR error;
};

READ read_bytes(const std::string& bytes, const std::string& name = "damaged.kas")
{
    {
        std::ofstream out(name, std::ios::binary | std::ios::trunc);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    }
    LOGDB_FSYN_LOG_FILE file;
    file.set_file_name(name);
    READ r;
    while (file.read_fsyn_log_entry()) ++r.records;
    r.error = file.error();
    return r;
}

void put_u32(std::string& bytes, std::size_t at, uint32_t value)
{
    for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<char>((value >> (8 * i)) & 0xFFU);
}

// One record whose field bytes are changed and whose CRC is made right
// again: damage that only the field checks can find.
std::string resealed(const std::string& line, std::size_t at, const std::string& patch)
{
    std::string error;
    std::string bytes = logdb_encode_record(*logdb_record_from_text(line, error));
    bytes.replace(at, patch.size(), patch);
    put_u32(bytes, bytes.size() - 4, logdb_crc32(bytes.data(), bytes.size() - 4));
    return bytes;
}

std::string u32_bytes(uint32_t value)
{
    std::string s(4, '\0');
    put_u32(s, 0, value);
    return s;
}

}  // namespace

TEST(LogdbCorruption, EveryTruncationIsAPrefixAtABoundaryOrAnError)
{
    const SAMPLE& s = sample();
    std::size_t next_boundary = 0;
    for (std::size_t cut = 0; cut < s.bytes.size(); ++cut) {
        while (s.boundaries[next_boundary] < cut) ++next_boundary;
        const READ r = read_bytes(s.bytes.substr(0, cut));
        if (s.boundaries[next_boundary] == cut) {
            EXPECT_FALSE(r.error.is_set()) << cut << ": " << r.error.to_string();
            EXPECT_EQ(r.records, next_boundary);
        } else {
            ASSERT_TRUE(r.error.is_set()) << "cut at " << cut;
            EXPECT_EQ(r.error.m_file, "damaged.kas");
            EXPECT_EQ(r.error.m_offset, s.boundaries[next_boundary - 1]) << cut;
            EXPECT_EQ(r.records, next_boundary - 1);
        }
    }
}

TEST(LogdbCorruption, EveryChangedByteIsFoundInItsRecord)
{
    const SAMPLE& s = sample();
    std::size_t record = 0;
    for (std::size_t at = 0; at < s.bytes.size(); ++at) {
        while (s.boundaries[record + 1] <= at) ++record;
        for (unsigned char flip : {0x01, 0x80, 0xFF}) {
            std::string bytes = s.bytes;
            bytes[at] = static_cast<char>(bytes[at] ^ flip);
            const READ r = read_bytes(bytes);
            ASSERT_TRUE(r.error.is_set()) << "byte " << at;
            EXPECT_EQ(r.records, record) << "byte " << at;
            EXPECT_GE(r.error.m_offset, s.boundaries[record]);
            EXPECT_LT(r.error.m_offset, s.boundaries[record + 1]);
        }
    }
}

// Counts and lengths of 2^32-1 and other field damage behind a right CRC.
TEST(LogdbCorruption, FieldDamageBehindAGoodCrcIsNamed)
{
    struct CASE
    {
        std::string bytes;
        const char* reason;
    };
    const std::string store = logdb_sample_lines()[2];
    const CASE cases[] = {
        {resealed("43 0 \"7.2\" 6", 16, u32_bytes(0xFFFFFFFFU)), "count 4294967295 runs past"},
        {resealed(store, 16 + 4 + 4 + 2, u32_bytes(0xFFFFFFFFU)), "count 4294967295 runs past"},
        {resealed("3 40 14 \"n1\" [\"n1~out\"] 1", 26, u32_bytes(0x7FFFFFFFU)), "count 2147483647 runs past"},
        {resealed("8 7 12 \"n0\" 1 0x8888 1", 38, std::string(1, '\x02')), "bad boolean value 2"},
        {resealed("8 7 12 \"n0\" 1 0x8888 1", 8, u32_bytes(4)), "unknown record type 4"},
        {resealed("8 7 12 \"n0\" 1 0x8888 1", 8, u32_bytes(47)), "unknown record type 47"},
        {resealed("8 7 12 \"n0\" 1 0x8888 1", 8, u32_bytes(1)), "bytes after the last field"},
        {resealed("8 7 12 \"n0\" 1 0x8888 1", 4, u32_bytes(0xFFFFFFFFU)), "out of range"},
        {resealed("8 7 12 \"n0\" 1 0x8888 1", 4, u32_bytes(4096)), "runs past the end of the file"},
        {resealed("31 28 17 \"ram0\" [\"a\"] [40] [0]", 8, u32_bytes(31)), nullptr},
    };
    for (const CASE& c : cases) {
        const READ r = read_bytes(c.bytes);
        if (c.reason == nullptr) {
            EXPECT_FALSE(r.error.is_set());
            continue;
        }
        ASSERT_TRUE(r.error.is_set()) << c.reason;
        EXPECT_NE(r.error.m_reason.find(c.reason), std::string::npos) << r.error.to_string();
        EXPECT_EQ(r.records, 0U);
    }
}

// Random bytes changed in 2,000 copies, and each copy cut at a random place
// as well: every copy is refused, the good records before the damage read.
TEST(LogdbCorruption, TwoThousandDamagedCopiesAreRefused)
{
    const SAMPLE& s = sample();
    std::mt19937 rng(52);
    for (int copy = 0; copy < 2000; ++copy) {
        std::string bytes = s.bytes;
        const int changes = 1 + static_cast<int>(rng() % 8);
        std::size_t first = bytes.size();
        for (int i = 0; i < changes; ++i) {
            const std::size_t at = rng() % bytes.size();
            bytes[at] = static_cast<char>(bytes[at] ^ (1 + rng() % 255));
            first = std::min(first, at);
        }
        const READ r = read_bytes(bytes);
        ASSERT_TRUE(r.error.is_set()) << "copy " << copy;
        EXPECT_EQ(r.error.m_file, "damaged.kas");
        EXPECT_LE(r.error.m_offset, bytes.size());
        std::size_t before = 0;
        while (s.boundaries[before + 1] <= first) ++before;
        EXPECT_EQ(r.records, before) << "copy " << copy;
    }
}

}  // namespace logdb_corruption_test
