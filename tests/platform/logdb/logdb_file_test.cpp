// The log database's file: records come back equal and in order, appending
// keeps order and entry ids, writing follows the init switch, and the text
// form round-trips every kind.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "fio/fio.h"
#include "logdb/logdb_database.h"
#include "logdb/logdb_fsyn_log_file.h"
#include "logdb/logdb_record_stream.h"
#include "logdb/logdb_text.h"
#include "logdb_sample.h"

namespace logdb_file_test {

namespace {

std::vector<LOGDB_FSYN_LOG_ENTRY_OWNER> sample_records()
{
    std::vector<LOGDB_FSYN_LOG_ENTRY_OWNER> records;
    for (const std::string& line : logdb_sample_lines()) {
        std::string error;
        records.push_back(logdb_record_from_text(line, error));
        EXPECT_TRUE(records.back()) << line << ": " << error;
    }
    return records;
}

void write_records(const std::string& name, const std::vector<LOGDB_FSYN_LOG_ENTRY_OWNER>& records)
{
    LOGDB_FSYN_LOG_FILE file;
    file.set_file_name(name);
    file.init(true);
    for (const auto& r : records) ASSERT_TRUE(file.write_fsyn_log_entry(r.get()));
    file.close();
}

std::vector<LOGDB_FSYN_LOG_ENTRY_OWNER> read_all(const std::string& name, LOGDB_READ_ERROR* error = nullptr)
{
    LOGDB_FSYN_LOG_FILE file;
    file.set_file_name(name);
    std::vector<LOGDB_FSYN_LOG_ENTRY_OWNER> records;
    while (LOGDB_FSYN_LOG_ENTRY_OWNER r = file.read_fsyn_log_entry()) records.push_back(std::move(r));
    if (error) *error = file.error();
    return records;
}

std::vector<int32_t> entry_ids(const std::vector<LOGDB_FSYN_LOG_ENTRY_OWNER>& records)
{
    std::vector<int32_t> ids;
    for (const auto& r : records) ids.push_back(r->m_entry_id);
    return ids;
}

}  // namespace

TEST(LogdbRecords, EveryKindRoundTripsThroughFileTextAndClone)
{
    const auto records = sample_records();
    ASSERT_EQ(records.size(), 43U);  // every kind number the log uses
    write_records("every_kind.kas", records);
    LOGDB_READ_ERROR error;
    const auto back = read_all("every_kind.kas", &error);
    EXPECT_FALSE(error.is_set()) << error.to_string();
    ASSERT_EQ(back.size(), records.size());
    const auto lines = logdb_sample_lines();
    for (std::size_t i = 0; i < records.size(); ++i) {
        EXPECT_TRUE(*back[i] == *records[i]) << lines[i];
        EXPECT_EQ(logdb_record_to_text(*back[i]), lines[i]);
        LOGDB_FSYN_LOG_ENTRY_OWNER copy = back[i]->clone();
        EXPECT_EQ(typeid(*copy), typeid(*back[i]));
        EXPECT_TRUE(*copy == *back[i]);
    }
}

TEST(LogdbRecords, EqualitySeesKindEntryIdAndEveryField)
{
    LOGDB_FSYN_LOG_ENTRY_SET_LUTMASK a(7);
    a.m_node_id = 3;
    a.m_lutmask = 0x8888;
    LOGDB_FSYN_LOG_ENTRY_SET_LUTMASK b = a;
    EXPECT_TRUE(a == b);
    b.m_flag = true;
    EXPECT_FALSE(a == b);
    b = a;
    b.m_entry_id = 8;
    EXPECT_FALSE(a == b);
    LOGDB_FSYN_LOG_ENTRY_CLEAR_INVERT c(1);
    LOGDB_FSYN_LOG_ENTRY_SET_INVERT d(1);
    EXPECT_FALSE(c == d);
    LOGDB_FSYN_LOG_ENTRY_ADD_REMOVE_CONNECTION_LCELL_COMB conn(2, 3);
    EXPECT_EQ(conn.m_connection_array, std::vector<std::string>(3, "UNCHANGED"));
}

TEST(LogdbRecords, UnusedKindNumbersHaveNoClass)
{
    for (uint32_t type : {4U, 5U, 22U, 46U, 47U, 0xFFFFFFFFU}) EXPECT_FALSE(logdb_make_fsyn_log_entry(type, 0));
    EXPECT_STREQ(logdb_fsyn_log_entry_kind_name(28), "ADD_REMOVE_CONNECTION_LCELL_COMB");
    EXPECT_STREQ(logdb_fsyn_log_entry_kind_name(0), "END_OF_LOG");
    EXPECT_STREQ(logdb_fsyn_log_entry_kind_name(45), "IGNORE_PARTITION_BP_INFO");
    for (uint32_t type : {46U, 47U, 0xFFFFFFFFU}) EXPECT_EQ(logdb_fsyn_log_entry_kind_name(type), nullptr);
}

// The library writes the current version and the compile's family; logs of
// older versions exist only as tests make them.
TEST(LogdbRecords, RevisionCarriesVersionTextAndBaseFamily)
{
    LOGDB_FSYN_LOG_ENTRY_REVISION_NUMBER current(0, 24);
    EXPECT_EQ(current.get_version(), "7.2");
    EXPECT_EQ(current.get_base_family(), 24U);
    std::vector<LOGDB_FSYN_LOG_ENTRY_OWNER> records;
    for (const char* version : {"5.1", "6.0"}) {
        auto r = LOGDB_FSYN_LOG_ENTRY_OWNER(MEM_NEW("LOGDB", LOGDB_FSYN_LOG_ENTRY_REVISION_NUMBER, 1, 6));
        static_cast<LOGDB_FSYN_LOG_ENTRY_REVISION_NUMBER&>(*r).set_version_for_test(version);
        records.push_back(std::move(r));
    }
    write_records("revisions.kas", records);
    const auto back = read_all("revisions.kas");
    ASSERT_EQ(back.size(), 2U);
    EXPECT_EQ(dynamic_cast<LOGDB_FSYN_LOG_ENTRY_REVISION_NUMBER&>(*back[0]).get_version(), "5.1");
    EXPECT_EQ(dynamic_cast<LOGDB_FSYN_LOG_ENTRY_REVISION_NUMBER&>(*back[1]).get_version(), "6.0");
    EXPECT_EQ(dynamic_cast<LOGDB_FSYN_LOG_ENTRY_REVISION_NUMBER&>(*back[1]).get_base_family(), 6U);
    EXPECT_EQ(logdb_record_to_text(current), "43 0 \"7.2\" 24");
}

// Chunks merged into the final log keep their order and entry ids; a missing
// or damaged source appends nothing and says so.
TEST(LogdbFile, AppendingChunksKeepsOrderAndEntryIds)
{
    auto records = sample_records();
    std::vector<LOGDB_FSYN_LOG_ENTRY_OWNER> first, second;
    for (std::size_t i = 0; i < records.size(); ++i) (i < 10 ? first : second).push_back(std::move(records[i]));
    write_records("chunk0.kas", first);
    write_records("chunk1.kas", second);
    LOGDB_FSYN_LOG_FILE final_log;
    final_log.init(true);
    final_log.set_file_name("final.psl");
    final_log.delete_file();
    EXPECT_TRUE(final_log.append_file("chunk0.kas"));
    EXPECT_TRUE(final_log.append_file("chunk1.kas"));
    EXPECT_FALSE(final_log.append_file("no_such_chunk.kas"));
    std::ofstream("damaged.kas", std::ios::binary) << "not a log";
    EXPECT_FALSE(final_log.append_file("damaged.kas"));
    final_log.close();
    const auto merged = read_all("final.psl");
    std::vector<int32_t> expected;
    for (int32_t i = 0; i < 43; ++i) expected.push_back(i);
    EXPECT_EQ(entry_ids(merged), expected);
    EXPECT_EQ(logdb_record_to_text(*merged[10]), logdb_sample_lines()[10]);
}

TEST(LogdbFile, WritesNeedInitTrueAndNeverTruncate)
{
    LOGDB_FSYN_LOG_ENTRY_END_OF_LOG marker(5);
    LOGDB_FSYN_LOG_FILE replay;
    replay.set_file_name("replay_only.kas");
    replay.delete_file();
    EXPECT_FALSE(replay.write_fsyn_log_entry(&marker));
    replay.init(false);
    EXPECT_FALSE(replay.write_fsyn_log_entry(&marker));
    EXPECT_FALSE(replay.append_file("replay_only.kas"));
    EXPECT_FALSE(replay.file_exists());

    LOGDB_FSYN_LOG_FILE live;
    live.set_file_name("live.kas");
    live.delete_file();
    live.init(true);
    EXPECT_TRUE(live.write_fsyn_log_entry(&marker));
    live.close();
    // A write after close appends; a second init keeps what is there.
    LOGDB_FSYN_LOG_ENTRY_END_OF_LOG_PRINT print(6);
    EXPECT_TRUE(live.write_fsyn_log_entry(&print));
    live.init(true);
    EXPECT_TRUE(live.write_fsyn_log_entry(&marker));
    // Reading flushes what was written and starts at the first record.
    EXPECT_EQ(live.read_fsyn_log_entry()->m_type, LOGDB_FSYN_LOG_OPERATION_END_OF_LOG);
    live.close();
    EXPECT_EQ(entry_ids(read_all("live.kas")), (std::vector<int32_t>{5, 6, 5}));
    EXPECT_TRUE(live.delete_file());
    EXPECT_FALSE(live.file_exists());
    EXPECT_EQ(LOGDB_FSYN_LOG_FILE::get_os_safe_file_name("db/a b.kas"), "db/a b.kas");
}

// The entry id of the next record, -1 when there is none.
int32_t first_id(LOGDB_FSYN_LOG_FILE& file)
{
    LOGDB_FSYN_LOG_ENTRY_OWNER r = file.read_fsyn_log_entry();
    return r ? r->m_entry_id : -1;
}

// A copy names the same file with the same switch and reads from the start;
// assigning a file to itself keeps its place.
TEST(LogdbFile, CopiesReadFromTheStartAndSelfAssignmentKeepsThePlace)
{
    write_records("copied.kas", sample_records());
    LOGDB_FSYN_LOG_FILE file;
    file.set_file_name("copied.kas");
    file.init(true);
    ASSERT_TRUE(file.read_fsyn_log_entry());
    LOGDB_FSYN_LOG_FILE copy(file);
    EXPECT_TRUE(copy.is_write_enabled());
    EXPECT_EQ(first_id(copy), 0);
    LOGDB_FSYN_LOG_FILE assigned;
    assigned = file;
    EXPECT_EQ(assigned.get_file_name(), "copied.kas");
    EXPECT_EQ(first_id(assigned), 0);
    LOGDB_FSYN_LOG_FILE& same = file;
    file = same;
    EXPECT_EQ(first_id(file), 1);
}

TEST(LogdbFile, EndOfFileIsNoErrorAndAMissingFileIsOne)
{
    std::ofstream("empty.kas").close();
    LOGDB_READ_ERROR error;
    EXPECT_TRUE(read_all("empty.kas", &error).empty());
    EXPECT_FALSE(error.is_set());
    read_all("missing.kas", &error);
    EXPECT_TRUE(error.is_set());
    EXPECT_EQ(error.m_file, "missing.kas");
}

TEST(LogdbText, RefusesLinesThatAreNoRecord)
{
    const char* bad[] = {"",
                         "4 0",
                         "43 0 \"7.2\"",
                         "43 0 \"7.2\" 6 7",
                         "43 0 7.2 6",
                         "43 0 \"7.2 6",
                         "43 0 \"\\q\" 6",
                         "8 1 2 \"n\" 0 8888 0",
                         "8 1 2 \"n\" 0 0x8888 2",
                         "21 1 2 \"n\" 5 65536",
                         "43 -1 \"7.2\" -6",
                         "3 1 2 \"n\" [\"a\" 1",
                         "31 1 2 \"r\" [\"a\"] [] []",
                         "31 1 2 \"r\" [\"a\"] [40] []",
                         "31 1 2 \"r\" [\"a\"] [] [0]"};
    for (const char* line : bad) {
        std::string error;
        EXPECT_FALSE(logdb_record_from_text(line, error)) << line;
        EXPECT_FALSE(error.empty()) << line;
    }
}

// Every byte value in a string survives the text form, control characters
// as escapes; masks read in either case of hex up to 16 digits.
TEST(LogdbText, EveryByteOfAStringAndEveryMaskFormRoundTrips)
{
    LOGDB_FSYN_LOG_ENTRY_SET_INSTANCE_NAME named(19);
    for (int c = 0; c < 256; ++c) named.m_new_name += static_cast<char>(c);
    const std::string line = logdb_record_to_text(named);
    EXPECT_NE(line.find("\"\\x00\\x01"), std::string::npos) << line;
    EXPECT_NE(line.find("\\x1f !\\\"#"), std::string::npos) << line;
    EXPECT_NE(line.find("[\\\\]"), std::string::npos) << line;
    EXPECT_NE(line.find("~\\x7f\x80"), std::string::npos) << line;
    EXPECT_NE(line.find("\\t\\n\\x0b\\x0c\\r"), std::string::npos) << line;
    std::string error;
    LOGDB_FSYN_LOG_ENTRY_OWNER back = logdb_record_from_text(line, error);
    ASSERT_TRUE(back) << error;
    EXPECT_TRUE(*back == named);

    const std::pair<const char*, uint64_t> masks[] = {
        {"0x0", 0}, {"0xFFFE", 0xfffe}, {"0xaBcD", 0xabcd}, {"0XffffFFFFffffFFFF", ~uint64_t{0}}};
    for (const auto& [text, value] : masks) {
        const std::string mask_line = std::string("8 7 12 \"n0\" 1 ") + text + " 1";
        LOGDB_FSYN_LOG_ENTRY_OWNER r = logdb_record_from_text(mask_line, error);
        ASSERT_TRUE(r) << mask_line << ": " << error;
        EXPECT_EQ(static_cast<LOGDB_FSYN_LOG_ENTRY_SET_LUTMASK&>(*r).m_lutmask, value) << text;
    }
    for (const char* bad : {"0x", "0x1ffffffffffffffff", "0xfg", "0xG", "1x10", "0y10"}) {
        const std::string mask_line = std::string("8 7 12 \"n0\" 1 ") + bad + " 1";
        EXPECT_FALSE(logdb_record_from_text(mask_line, error)) << bad;
    }
    for (const char* bad : {"\\x4\"", "\\xg1\"", "\\x\""}) {
        const std::string name_line = std::string("20 19 12 \"n0\" 8 \"a") + bad;
        EXPECT_FALSE(logdb_record_from_text(name_line, error)) << name_line;
        EXPECT_NE(error.find("bad escape"), std::string::npos) << error;
    }
    // A good escape that ends the line leaves the string unterminated.
    EXPECT_FALSE(logdb_record_from_text("20 19 12 \"n0\" 8 \"a\\x41", error));
    EXPECT_NE(error.find("unterminated string"), std::string::npos) << error;
}

TEST(LogdbDatabase, RegistersEntriesAfterLoad)
{
    LOGDB_DATABASE::unload_database();
    EXPECT_EQ(LOGDB_DATABASE::get_database(), nullptr);
    LOGDB_DATABASE::load_database();
    LOGDB_DATABASE* db = LOGDB_DATABASE::get_database();
    ASSERT_NE(db, nullptr);
    db->add_entry(LOGDB_DATABASE_ENTRY(4, {"FSYN_LOG_CREATED", "db/top.cmp.psl"}));
    LOGDB_DATABASE::load_database();
    ASSERT_EQ(LOGDB_DATABASE::get_database()->get_entries().size(), 1U);
    EXPECT_EQ(db->get_entries()[0], LOGDB_DATABASE_ENTRY(4, {"FSYN_LOG_CREATED", "db/top.cmp.psl"}));
    LOGDB_DATABASE::unload_database();
}

TEST(LogdbFile, FileSystemMoveReplacesOnlyWhenAsked)
{
    std::ofstream("move_from.kas") << "a";
    std::ofstream("move_to.kas") << "b";
    EXPECT_FALSE(FIO_FILE_SYSTEM::move(FIO_PATH("move_from.kas"), FIO_PATH("move_to.kas"), false, false));
    EXPECT_TRUE(FIO_FILE_SYSTEM::move(FIO_PATH("move_from.kas"), FIO_PATH("move_to.kas"), true, false));
    EXPECT_FALSE(FIO_FILE_SYSTEM::exists(FIO_PATH("move_from.kas")));
    std::ifstream in("move_to.kas");
    std::string text;
    in >> text;
    EXPECT_EQ(text, "a");
    EXPECT_FALSE(FIO_FILE_SYSTEM::move(FIO_PATH("move_from.kas"), FIO_PATH("move_to.kas"), true, false));
}

}  // namespace logdb_file_test
