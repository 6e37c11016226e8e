// A log the file object writes is checked as a whole: with every record's
// own check still right, a record dropped, repeated, moved or changed, and a
// file cut at any record boundary, are refused with the offset of the first
// record out of place. Appending after close goes on with the same log, and
// logs of the earlier plain form read and append as before.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "fio/fio.h"
#include "logdb/logdb_fsyn_log_file.h"
#include "logdb/logdb_record_stream.h"
#include "logdb/logdb_text.h"
#include "logdb_sample.h"

namespace logdb_chain_test {

namespace {

std::string bytes_of(const std::string& name)
{
    std::ifstream in(name, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void put_bytes(const std::string& name, const std::string& bytes)
{
    std::ofstream out(name, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// The sample log as the file object writes it, split into its records (the
// closing record last), by the length each record states.
std::vector<std::string> written_sample()
{
    LOGDB_FSYN_LOG_FILE file;
    file.set_file_name("chain_sample.kas");
    file.delete_file();
    file.init(true);
    for (const std::string& line : logdb_sample_lines()) {
        std::string error;
        LOGDB_FSYN_LOG_ENTRY_OWNER record = logdb_record_from_text(line, error);
        EXPECT_TRUE(file.write_fsyn_log_entry(record.get())) << line;
    }
    file.close();
    EXPECT_TRUE(file.write_error().empty());
    const std::string bytes = bytes_of("chain_sample.kas");
    std::vector<std::string> records;
    for (std::size_t at = 0; at + LOGDB_RECORD_PREFIX_BYTES <= bytes.size();) {
        const uint32_t length = logdb_read_u32(reinterpret_cast<const unsigned char*>(bytes.data()) + at + 4);
        records.push_back(bytes.substr(at, length));
        at += length;
    }
    return records;
}

std::string joined(const std::vector<std::string>& records)
{
    std::string all;
    for (const std::string& r : records) all += r;
    return all;
}

struct READ
{
    std::vector<std::string> lines;
    LOGDB_READ_ERROR error;
    bool chained = false;
};

READ read_back(const std::string& bytes)
{
    put_bytes("chain_damaged.kas", bytes);
    LOGDB_FSYN_LOG_FILE file;
    file.set_file_name("chain_damaged.kas");
    READ r;
    while (LOGDB_FSYN_LOG_ENTRY_OWNER record = file.read_fsyn_log_entry())
        r.lines.push_back(logdb_record_to_text(*record));
    r.error = file.error();
    r.chained = file.is_chained();
    return r;
}

// The offset where record `index` starts.
std::size_t offset_of(const std::vector<std::string>& records, std::size_t index)
{
    std::size_t at = 0;
    for (std::size_t i = 0; i < index; ++i) at += records[i].size();
    return at;
}

void reseal(std::string& record)
{
    const uint32_t crc = logdb_crc32(record.data(), record.size() - 4);
    for (int i = 0; i < 4; ++i) record[record.size() - 4 + i] = static_cast<char>((crc >> (8 * i)) & 0xFFU);
}

}  // namespace

TEST(LogdbChain, TheWrittenLogReadsBackWholeAndEveryCutIsRefused)
{
    const std::vector<std::string> records = written_sample();
    ASSERT_EQ(records.size(), logdb_sample_lines().size() + 1);
    const READ whole = read_back(joined(records));
    EXPECT_FALSE(whole.error.is_set()) << whole.error.to_string();
    EXPECT_TRUE(whole.chained);
    EXPECT_EQ(whole.lines, logdb_sample_lines());
    // Cut at every record boundary, the closing record's own start included.
    for (std::size_t keep = 1; keep < records.size(); ++keep) {
        const std::vector<std::string> head(records.begin(), records.begin() + static_cast<std::ptrdiff_t>(keep));
        const READ r = read_back(joined(head));
        ASSERT_TRUE(r.error.is_set()) << "cut after " << keep << " records";
        EXPECT_EQ(r.error.m_offset, offset_of(records, keep)) << keep;
        EXPECT_NE(r.error.m_reason.find("without its closing record"), std::string::npos) << r.error.m_reason;
    }
    // Nothing may follow the closing record, not even a good record.
    const READ extra = read_back(joined(records) + records[3]);
    ASSERT_TRUE(extra.error.is_set());
    EXPECT_EQ(extra.error.m_offset, offset_of(records, records.size()));
}

// Every single drop, repeat, swap with the next and move to the end, and a
// field changed behind a good CRC in every record: each is refused at the
// first record out of place, and the records before it read.
TEST(LogdbChain, RecordsDroppedRepeatedMovedOrChangedAreRefused)
{
    const std::vector<std::string> records = written_sample();
    const std::size_t n = records.size();
    int cases = 0;
    const auto expect_refused = [&](const std::vector<std::string>& damaged, std::size_t first_bad, const char* what) {
        ++cases;
        const READ r = read_back(joined(damaged));
        ASSERT_TRUE(r.error.is_set()) << what << " at record " << first_bad;
        EXPECT_EQ(r.error.m_offset, offset_of(damaged, first_bad)) << what << " " << r.error.to_string();
        // The closing record is no record of the log.
        EXPECT_EQ(r.lines.size(), std::min(first_bad, n - 1)) << what;
    };
    for (std::size_t i = 0; i < n; ++i) {
        std::vector<std::string> dropped = records;
        dropped.erase(dropped.begin() + static_cast<std::ptrdiff_t>(i));
        // Dropping the closing record leaves a log that is cut short: refused at its end.
        expect_refused(dropped, i, "drop");
        std::vector<std::string> repeated = records;
        repeated.insert(repeated.begin() + static_cast<std::ptrdiff_t>(i), records[i]);
        expect_refused(repeated, i + 1, "repeat");
        if (i + 1 < n) {
            std::vector<std::string> swapped = records;
            std::swap(swapped[i], swapped[i + 1]);
            expect_refused(swapped, i, "swap");
        }
        if (i + 1 < n) {
            std::vector<std::string> moved = records;
            const std::string r = moved[i];
            moved.erase(moved.begin() + static_cast<std::ptrdiff_t>(i));
            moved.push_back(r);
            expect_refused(moved, i, "move to the end");
        }
        // The entry id of record i, changed and resealed: the record reads,
        // its successor does not follow it.
        std::vector<std::string> edited = records;
        edited[i][12] = static_cast<char>(edited[i][12] ^ 0x01);
        reseal(edited[i]);
        expect_refused(edited, i + 1 < n ? i + 1 : i, "edit");
    }
    EXPECT_EQ(cases, 5 * static_cast<int>(n) - 2);
}

// A write after close goes on with the same log; a log of the earlier plain
// form reads as before, unchecked, and goes on in that form.
TEST(LogdbChain, AppendingGoesOnWithTheLogItFinds)
{
    const std::vector<std::string> lines = logdb_sample_lines();
    LOGDB_FSYN_LOG_FILE file;
    file.set_file_name("chain_append.kas");
    file.delete_file();
    file.init(true);
    std::string error;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        ASSERT_TRUE(file.write_fsyn_log_entry(logdb_record_from_text(lines[i], error).get()));
        if (i % 10 == 9) file.close();
    }
    file.close();
    READ r = read_back(bytes_of("chain_append.kas"));
    EXPECT_FALSE(r.error.is_set()) << r.error.to_string();
    EXPECT_EQ(r.lines, lines);

    std::string plain;
    for (const std::string& line : lines) plain += logdb_encode_record(*logdb_record_from_text(line, error));
    put_bytes("chain_plain.kas", plain);
    LOGDB_FSYN_LOG_FILE old;
    old.set_file_name("chain_plain.kas");
    old.init(true);
    ASSERT_TRUE(old.write_fsyn_log_entry(logdb_record_from_text(lines[1], error).get()));
    old.close();
    r = read_back(bytes_of("chain_plain.kas"));
    EXPECT_FALSE(r.error.is_set()) << r.error.to_string();
    EXPECT_FALSE(r.chained);
    ASSERT_EQ(r.lines.size(), lines.size() + 1);
    EXPECT_EQ(r.lines.back(), lines[1]);

    // A plain log appended to a new file becomes a checked one.
    LOGDB_FSYN_LOG_FILE merged;
    merged.init(true);
    merged.set_file_name("chain_merged.kas");
    merged.delete_file();
    EXPECT_TRUE(merged.append_file("chain_plain.kas")) << merged.append_error();
    EXPECT_FALSE(merged.append_file("chain_no_such.kas"));
    EXPECT_NE(merged.append_error().find("chain_no_such.kas"), std::string::npos) << merged.append_error();
    merged.close();
    r = read_back(bytes_of("chain_merged.kas"));
    EXPECT_FALSE(r.error.is_set()) << r.error.to_string();
    EXPECT_TRUE(r.chained);
    EXPECT_EQ(r.lines.size(), lines.size() + 1);
}

}  // namespace logdb_chain_test
