// The delay file of a compile read back by the next one: its records, the
// faults that make a file unusable, and what the early model takes from
// it, down to two connections between the same pair of atoms.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "cdb/cdb_atom_netlist.h"
#include "msg/msg.h"

#include "morv/timing/morv_delay_file.h"
#include "morv/timing/morv_table_timing_model.h"
#include "log_capture.h"
#include "timing_fixture.h"

namespace morv_delay_file_test {

namespace {

struct READ
{
    bool ok = false;
    std::vector<MORV_DELAY_RECORD> records;
    MORV_DELAY_FILE_FAULT fault;
};

READ read_text(const std::string& text)
{
    std::istringstream in(text);
    READ r;
    r.ok = morv_read_delay_records(
        in, [&r](const MORV_DELAY_RECORD& record) { r.records.push_back(record); }, &r.fault);
    return r;
}

// The parts one after another (GCC 12 in Release misreads operator+ on a
// temporary string as an overlapping copy).
std::string cat(std::initializer_list<std::string_view> parts)
{
    std::string text;
    for (std::string_view part : parts) text.append(part);
    return text;
}

void write_file(const std::string& text)
{
    std::ofstream(MORV_TIMING::s_DELAY_FILE_NAME, std::ios::binary) << text;
}

std::string record(int src, int src_port, int src_index, int dst, int dst_port, int dst_index, int delay)
{
    char line[160];
    std::snprintf(line, sizeof line, "%d ( %d %d ) -> %d ( %d %d ) = %d\n", src, src_port, src_index, dst, dst_port,
                  dst_index, delay);
    return line;
}

// Malformed files of every kind the issue names, each with its line.
struct MALFORMED
{
    const char* what;
    std::string text;
    int line;
};

// The start of an executable, and a number with a NUL in it.
const char BINARY[] = "\x7f"
                      "ELF\x02\x01\x01\0\0\0\x03\x00\x3e\n\x01\x02";
const char NUMBER_WITH_NUL[] = "1\0 ( 8 0 ) -> 2 ( 11 0 ) = 5\n";

std::vector<MALFORMED> malformed_files()
{
    const std::string good = record(1, 8, 0, 2, 11, 0, 100);
    return {
        {"truncated", cat({good, "1 ( 8 0 ) -> 2 ( 11"}), 2},
        {"truncated before the delay", cat({good, good, "1 ( 8 0 ) -> 2 ( 11 0 ) =\n"}), 4},
        {"over-long token", cat({good, std::string(200, '7'), " ( 8 0 ) -> 2 ( 11 0 ) = 5\n"}), 2},
        {"over-long garbage", std::string(100000, 'x'), 1},
        {"negative source id", "-1 ( 8 0 ) -> 2 ( 11 0 ) = 5\n", 1},
        {"negative destination id", cat({good, "1 ( 8 0 ) -> -7 ( 11 0 ) = 5\n"}), 2},
        {"huge id", "99999999999999999999 ( 8 0 ) -> 2 ( 11 0 ) = 5\n", 1},
        {"id beyond 32 bits", "4294967296 ( 8 0 ) -> 2 ( 11 0 ) = 5\n", 1},
        {"port not a number", "1 ( x 0 ) -> 2 ( 11 0 ) = 5\n", 1},
        {"port field missing", "1 ( 8 ) -> 2 ( 11 0 ) = 5\n", 1},
        {"negative port index", "1 ( 8 0 ) -> 2 ( 11 -1 ) = 5\n", 1},
        {"port beyond the host's ports", "1 ( 8 0 ) -> 2 ( 3017 0 ) = 5\n", 1},
        {"extra port field", "1 ( 8 0 0 ) -> 2 ( 11 0 ) = 5\n", 1},
        {"negative delay", "1 ( 8 0 ) -> 2 ( 11 0 ) = -5\n", 1},
        {"delay not a number", "1 ( 8 0 ) -> 2 ( 11 0 ) = 5ps\n", 1},
        {"arrow missing", "1 ( 8 0 ) 2 ( 11 0 ) = 5\n", 1},
        {"binary garbage", std::string(BINARY, sizeof BINARY - 1), 1},
        {"number with a NUL", std::string(NUMBER_WITH_NUL, sizeof NUMBER_WITH_NUL - 1), 1},
    };
}

using MorvDelayFile = MORV_CLEAN_STATE_TEST;

}  // namespace

TEST(MorvDelayFileReader, ReadsRecordsWhateverTheWhitespace)
{
    READ r = read_text("12 ( 8 0 ) -> 34 ( 11 2 ) = 250\n\t7 (  9 1 )\r\n-> 8 ( 18 0 )\n=\n0");
    ASSERT_TRUE(r.ok) << r.fault.m_line << ": " << r.fault.m_reason;
    ASSERT_EQ(r.records.size(), 2u);
    const MORV_DELAY_RECORD& a = r.records[0];
    EXPECT_EQ(a.m_source_id, 12);
    EXPECT_EQ(a.m_source_port, 8);
    EXPECT_EQ(a.m_source_index, 0);
    EXPECT_EQ(a.m_dest_id, 34);
    EXPECT_EQ(a.m_dest_port, 11);
    EXPECT_EQ(a.m_dest_index, 2);
    EXPECT_EQ(a.m_delay, 250);
    EXPECT_EQ(r.records[1].m_source_port, 9);
    EXPECT_EQ(r.records[1].m_source_index, 1);
    EXPECT_EQ(r.records[1].m_delay, 0);
    // The largest values of each field pass.
    r = read_text(record(2147483647, DB_MAX_OUTPUT_PORT_TYPE, 2147483647, 0, DB_MAX_INPUT_PORT_TYPE, 0, 2147483647));
    ASSERT_TRUE(r.ok) << r.fault.m_reason;
    EXPECT_EQ(r.records[0].m_source_id, 2147483647);
    EXPECT_TRUE(read_text("").ok);
    EXPECT_TRUE(read_text(" \n\n").ok);
}

TEST(MorvDelayFileReader, EveryMalformedFileFailsAtItsLine)
{
    for (const MALFORMED& m : malformed_files()) {
        const READ r = read_text(m.text);
        EXPECT_FALSE(r.ok) << m.what;
        EXPECT_EQ(r.fault.m_line, m.line) << m.what << ": " << r.fault.m_reason;
        EXPECT_FALSE(r.fault.m_reason.empty()) << m.what;
    }
}

// Random damage to a good file: the reader either reads it or names a line
// of it, never more records than the file holds.
TEST(MorvDelayFileReader, RandomDamageNeverCrashesTheReader)
{
    std::string good;
    for (int i = 0; i < 40; ++i) good += record(i, 8, 0, i + 1, 11 + i % 6, 0, 100 + i);
    std::mt19937 random(20230514);
    for (int round = 0; round < 3000; ++round) {
        std::string text = good;
        const int edits = 1 + static_cast<int>(random() % 6);
        for (int e = 0; e < edits; ++e) {
            const size_t at = random() % text.size();
            switch (random() % 4) {
            case 0: text[at] = static_cast<char>(random() % 256); break;
            case 1: text.erase(at, 1 + random() % 20); break;
            case 2: text.insert(at, std::string(1 + random() % 300, static_cast<char>(random() % 256))); break;
            default: text.resize(at); break;
            }
            if (text.empty()) text.push_back('x');
        }
        const READ r = read_text(text);
        EXPECT_LE(r.records.size(), 40u + 300u);
        if (!r.ok) {
            EXPECT_GE(r.fault.m_line, 1);
            EXPECT_LE(r.fault.m_line, static_cast<int>(std::count(text.begin(), text.end(), '\n')) + 1);
        }
    }
}

// ------------------------------------------------------------------ read back by the early model

TEST_F(MorvDelayFile, OneCompilesFileMatchesEveryConnectionOfTheNext)
{
    TIMING_NETLIST t(CDB_FAMILY_BRK);
    t.build_pipeline();
    int placed = 1;
    for (CDB_ATOM_NODE* node : *t.netlist()) node->set_location(placed++, 1, 0);
    t.env().m_routing_delay = [](int x1, int, int x2, int, int) { return (100 + 25 * std::abs(x1 - x2)) * 1e-12; };
    std::remove(MORV_TIMING::s_DELAY_FILE_NAME);
    TIMING_DRIVER_FLAGS::back_annotate(t.expert());
    int connections = 0;
    for (CDB_ATOM_NODE* node : *t.netlist())
        for (auto it = node->begin_iterm(); it != node->end_iterm(); ++it)
            connections += (*it)->get_source() != nullptr;

    MORV_LOG_CAPTURE log(2);
    t.timing()->read_backannotated_delays();
    const MORV_TIMING::BACKANNOTATED_DELAYS& delays = t.timing()->get_backannotated_delays();
    EXPECT_EQ(static_cast<int>(delays.size()), connections);
    for (const auto& [iterm, delay] : delays) {
        EXPECT_EQ(delay.m_driver, iterm->get_source());
        EXPECT_EQ(delay.m_delay, TIMING_DRIVER_FLAGS::written_delay(t.expert(), iterm));
    }
    const std::vector<std::string> lines = log.lines();
    EXPECT_NE(std::find(lines.begin(), lines.end(), "Read <" + std::to_string(connections) + "> delays"), lines.end());
    EXPECT_NE(
        std::find(lines.begin(), lines.end(), "Matched <" + std::to_string(connections) + "> delays ( 100.00 % )"),
        lines.end());
    std::remove(MORV_TIMING::s_DELAY_FILE_NAME);
}

TEST_F(MorvDelayFile, TwoConnectionsBetweenTheSameAtomsKeepTheirOwnDelays)
{
    TIMING_NETLIST t(CDB_FAMILY_BRK);
    t.build_pipeline();  // q1 drives both inputs of y1
    const int q1 = static_cast<int>(t.q1->get_my_node()->get_id());
    CDB_ATOM_NODE* y1 = t.y1->get_my_node();
    const int y1_id = static_cast<int>(y1->get_id());
    write_file(record(q1, DB_REG_OUT, 0, y1_id, DB_DATA_A, 0, 311) +
               record(q1, DB_REG_OUT, 0, y1_id, DB_DATA_B, 0, 422) +
               // the wrong driver port, an input y1 does not have, an atom that is gone
               record(q1, DB_COMB_OUT, 0, y1_id, DB_DATA_A, 0, 1) + record(q1, DB_REG_OUT, 0, y1_id, DB_DATA_D, 0, 2) +
               record(q1, DB_REG_OUT, 0, y1_id + 100000, DB_DATA_A, 0, 3));
    // An atom deleted since, below the largest id: read, not matched.
    CDB_ATOM_NODE* gone = t.lut({})->get_my_node();
    const int gone_id = static_cast<int>(gone->get_id());
    t.lut({});
    t.netlist()->delete_node(gone);
    std::ofstream(MORV_TIMING::s_DELAY_FILE_NAME, std::ios::app | std::ios::binary)
        << record(gone_id, DB_COMB_OUT, 0, y1_id, DB_DATA_A, 0, 4)
        << record(q1, DB_REG_OUT, 0, gone_id, DB_DATA_A, 0, 5);
    t.timing()->read_backannotated_delays();
    EXPECT_EQ(count_posted("WMORV_FSYN_MALFORMED_DELAY_FILE"), 0);
    EXPECT_EQ(t.timing()->get_backannotated_delays().size(), 2u);
    EXPECT_EQ(t.timing()->get_early_delay(y1->get_input_term_by_type(DB_DATA_A)), 311);
    EXPECT_EQ(t.timing()->get_early_delay(y1->get_input_term_by_type(DB_DATA_B)), 422);
    std::remove(MORV_TIMING::s_DELAY_FILE_NAME);
}

// A delay no route of the device takes (the file says up to 2^31 - 1 ps)
// is read as the longest there is, said once with the line of the first:
// the timing sums of larger ones overflow.
TEST_F(MorvDelayFile, ADelayLongerThanAnyRouteIsBoundedWithOneWarningNamingItsLine)
{
    const int longest = 100 + 25 * (6 + 4);
    for (const int extra : {0, 1, 2}) {
        TIMING_NETLIST t(CDB_FAMILY_BRK);
        t.build_pipeline();
        t.env().m_grid_nx = 7;
        t.env().m_grid_ny = 5;
        t.env().m_routing_delay = [](int x1, int y1, int x2, int y2, int) {
            return (100 + 25 * (std::abs(x1 - x2) + std::abs(y1 - y2))) * 1e-12;
        };
        const int q1 = static_cast<int>(t.q1->get_my_node()->get_id());
        CDB_ATOM_NODE* y1 = t.y1->get_my_node();
        const int y1_id = static_cast<int>(y1->get_id());
        std::string text = record(q1, DB_REG_OUT, 0, y1_id, DB_DATA_A, 0, longest) +
                           record(q1, DB_REG_OUT, 0, y1_id, DB_DATA_B, 0, 2147483647);
        for (int e = 0; e < extra; ++e) text += record(q1, DB_REG_OUT, 0, y1_id, DB_DATA_D, 0, longest + 1);
        write_file(text);
        msg_clear_posted_messages();
        t.timing()->read_backannotated_delays();
        EXPECT_EQ(count_posted("WMORV_FSYN_DELAY_FILE_DELAY_BOUNDED"), 1);
        for (const MSG_POSTED_MESSAGE& msg : msg_posted_messages()) {
            if (msg.id != "WMORV_FSYN_DELAY_FILE_DELAY_BOUNDED") continue;
            EXPECT_NE(msg.text.find(std::string("/") + MORV_TIMING::s_DELAY_FILE_NAME + ", line 2:"), std::string::npos)
                << msg.text;
            EXPECT_NE(msg.text.find("2147483647 ps"), std::string::npos) << msg.text;
            EXPECT_NE(msg.text.find("read as " + std::to_string(longest) + " ps"), std::string::npos) << msg.text;
            EXPECT_EQ(msg.text.find("more delay") != std::string::npos, extra > 0) << msg.text;
        }
        EXPECT_EQ(t.timing()->get_early_delay(y1->get_input_term_by_type(DB_DATA_A)), longest);
        EXPECT_EQ(t.timing()->get_early_delay(y1->get_input_term_by_type(DB_DATA_B)), longest);
    }
    std::remove(MORV_TIMING::s_DELAY_FILE_NAME);
}

// The fuzz test of the issue: each malformed file gets one warning naming
// file and line, and the early delays stay as they are without a file.
TEST_F(MorvDelayFile, AMalformedFileIsIgnoredWithOneWarningAndChangesNoDelay)
{
    std::vector<int> plain;
    {
        std::remove(MORV_TIMING::s_DELAY_FILE_NAME);
        TIMING_NETLIST t(CDB_FAMILY_BRK);
        t.build_pipeline();
        for (CDB_ATOM_NODE* node : *t.netlist())
            for (auto it = node->begin_iterm(); it != node->end_iterm(); ++it)
                plain.push_back(t.timing()->get_early_delay(*it));
    }
    cfg_set_value("fsyn_read_backannotated_delays", "on");
    for (const MALFORMED& m : malformed_files()) {
        TIMING_NETLIST t(CDB_FAMILY_BRK);
        t.build_pipeline();
        // A good record for a real connection first: it must not survive.
        const CDB_ATOM_NODE* y2 = t.y2->get_my_node();
        write_file(record(static_cast<int>(t.y1->get_my_node()->get_id()), DB_COMB_OUT, 0,
                          static_cast<int>(y2->get_id()), DB_DATA_A, 0, 999) +
                   m.text);
        msg_clear_posted_messages();
        t.analyse();
        t.timing()->perform_early_timing_analysis(false, false);
        t.timing()->perform_early_timing_analysis(false, false);
        EXPECT_EQ(count_posted("WMORV_FSYN_MALFORMED_DELAY_FILE"), 1) << m.what;
        const std::string where = ", line " + std::to_string(m.line + 1) + ":";
        for (const MSG_POSTED_MESSAGE& msg : msg_posted_messages())
            if (msg.id == "WMORV_FSYN_MALFORMED_DELAY_FILE") {
                EXPECT_NE(msg.text.find(std::string("/") + MORV_TIMING::s_DELAY_FILE_NAME + where), std::string::npos)
                    << m.what << ": " << msg.text;
            }
        EXPECT_TRUE(t.timing()->get_backannotated_delays().empty()) << m.what;
        std::vector<int> now;
        for (CDB_ATOM_NODE* node : *t.netlist())
            for (auto it = node->begin_iterm(); it != node->end_iterm(); ++it)
                now.push_back(t.timing()->get_early_delay(*it));
        EXPECT_EQ(now, plain) << m.what;
    }
    std::remove(MORV_TIMING::s_DELAY_FILE_NAME);
}

TEST_F(MorvDelayFile, AMissingFileIsNoErrorAndAFolderIsNoFile)
{
    std::remove(MORV_TIMING::s_DELAY_FILE_NAME);
    {
        TIMING_NETLIST t(CDB_FAMILY_BRK);
        t.build_pipeline();
        t.timing()->read_backannotated_delays();
        EXPECT_EQ(msg_posted_messages().size(), 0u);
    }
    std::filesystem::create_directory(MORV_TIMING::s_DELAY_FILE_NAME);
    {
        TIMING_NETLIST t(CDB_FAMILY_BRK);
        t.build_pipeline();
        t.timing()->read_backannotated_delays();
        EXPECT_EQ(count_posted("WMORV_FSYN_MALFORMED_DELAY_FILE"), 1);
    }
    std::filesystem::remove(MORV_TIMING::s_DELAY_FILE_NAME);
}

}  // namespace morv_delay_file_test
