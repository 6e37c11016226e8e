#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <fcntl.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "cfg/cfg.h"
#include "msg/msg.h"

#include "morv/debug/morv_plumrix.h"
#include "morv/debug/morv_plumrix_interface.h"
#include "morv/debug/morv_plumrix_tables.h"

namespace morv_plumrix_interface_test {

namespace {

using BYTES = std::vector<uint8_t>;

void le32(BYTES& b, uint32_t v)
{
    for (int i = 0; i < 4; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

void le64(BYTES& b, uint64_t v)
{
    for (int i = 0; i < 8; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

void f64(BYTES& b, double d)
{
    uint64_t v = 0;
    std::memcpy(&v, &d, sizeof(v));
    le64(b, v);
}

void field(BYTES& b, const std::string& text, size_t size)
{
    for (size_t i = 0; i < size; ++i) b.push_back(i < text.size() ? static_cast<uint8_t>(text[i]) : 0);
}

// An interface on one end of a socket pair; the test plays the tool on the other.
class PLX_WIRE : public ::testing::Test
{
protected:
    void SetUp() override
    {
        cfg_clear_all();
        MORV_PLUMRIX_INTERFACE::set_timing({1, 0, 10});
        ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, m_sv), 0);
        ::fcntl(m_sv[1], F_SETFL, O_NONBLOCK);
        m_link = std::make_unique<MORV_PLUMRIX_INTERFACE>();
        m_link->adopt_socket(m_sv[0]);
    }
    void TearDown() override
    {
        m_link.reset();
        if (m_sv[1] >= 0) ::close(m_sv[1]);
        MORV_PLUMRIX_INTERFACE::set_timing(MORV_PLX_TIMING());
        cfg_clear_all();
    }
    BYTES drain()
    {
        BYTES out;
        uint8_t buffer[4096];
        for (;;) {
            const ssize_t n = ::recv(m_sv[1], buffer, sizeof(buffer), 0);
            if (n <= 0) break;
            out.insert(out.end(), buffer, buffer + n);
        }
        return out;
    }
    void tool_sends(const BYTES& bytes)
    {
        ASSERT_EQ(::send(m_sv[1], bytes.data(), bytes.size(), 0), (ssize_t)bytes.size());
    }
    void tool_hangs_up()
    {
        ::close(m_sv[1]);
        m_sv[1] = -1;
    }

    int m_sv[2] = {-1, -1};
    std::unique_ptr<MORV_PLUMRIX_INTERFACE> m_link;
};

BYTES code_only(uint32_t code)
{
    BYTES b;
    le32(b, code);
    return b;
}

}  // namespace

TEST_F(PLX_WIRE, EveryPacketLayoutByteByByte)
{
    m_link->send_text("slack %d", -12);
    BYTES text = code_only(6);
    field(text, "slack -12", 256);
    EXPECT_EQ(drain(), text);

    m_link->send_register_command(7, "retime", "one step");
    BYTES reg = code_only(5);
    field(reg, "retime", 32);
    field(reg, "one step", 256);
    le32(reg, 7);
    EXPECT_EQ(drain(), reg);

    m_link->send_unregister_command(0x01020304);
    EXPECT_EQ(drain(), (BYTES{15, 0, 0, 0, 4, 3, 2, 1}));

    m_link->send_netlist_start("PRE-TEST(3)");
    BYTES start = code_only(0);
    field(start, "PRE-TEST(3)", 32);
    EXPECT_EQ(drain(), start);

    m_link->send_table_start(4150, 2);
    EXPECT_EQ(drain(), (BYTES{8, 0, 0, 0, 0x36, 0x10, 0, 0, 2, 0, 0, 0}));

    m_link->send_table_entry(4149, "Unknown", 2);
    BYTES entry = code_only(9);
    le32(entry, 4149);
    field(entry, "Unknown", 32);
    le32(entry, 2);
    EXPECT_EQ(drain(), entry);

    m_link->send_record_sizes();
    EXPECT_EQ(drain(), (BYTES{12, 0, 0, 0, 4, 0, 0, 0, 13, 0, 0, 0, 112, 0, 0, 0, 14, 0, 0, 0, 40, 0, 0, 0}));

    for (uint32_t code : {1u, 4u, 7u, 10u}) {
        m_link->send_code(static_cast<MORV_PLX_PACKET>(code));
        EXPECT_EQ(drain(), code_only(code));
    }
}

TEST_F(PLX_WIRE, NodeAndEdgeRecordsAreLittleEndianWithZeroedPadding)
{
    MORV_PLX_NODE_RECORD node;
    node.name = "a_forty_character_name_of_some_register";
    node.name += "X";  // 40 characters
    node.atom_id = 0x11223344;
    node.cell_type = 1;
    node.category = 1;
    node.input_slack = -5;
    node.input_slack_ratio = 0.25;
    node.fanout_slack = 700;
    node.fanout_slack_ratio = 0.5;
    node.lut_mask = 0x0123456789ABCDEFull;
    node.comb_dont_touch_retime = 1;
    node.reg_dont_touch_duplicate = 1;
    node.modification_count = 3;
    node.visit_count = 9;
    node.x = 4;
    node.y = -1;
    node.sub_loc = 2;
    node.tsu = 80;
    node.tco = -1;
    m_link->send_node(node);
    ASSERT_EQ(node.name.size(), 40u);
    BYTES expected = code_only(2);
    field(expected, "..." + node.name.substr(12), 32);
    le32(expected, 0x11223344);
    le32(expected, 1);
    le32(expected, 1);
    le32(expected, static_cast<uint32_t>(-5));
    f64(expected, 0.25);
    le32(expected, 700);
    le32(expected, 0);  // padding
    f64(expected, 0.5);
    le64(expected, 0x0123456789ABCDEFull);
    expected.insert(expected.end(), {1, 0, 0, 1});
    le32(expected, 3);
    le32(expected, 9);
    for (int v : {4, -1, 2, 80, -1}) le32(expected, static_cast<uint32_t>(v));
    EXPECT_EQ(drain(), expected);

    MORV_PLX_EDGE_RECORD edge;
    edge.source_id = 5;
    edge.destination_id = 6;
    edge.slack = -100;
    edge.delay = 2147483647;
    edge.slack_ratio = 1.5;
    edge.output_port_type = 4149;
    edge.input_port_type = 11;
    edge.inverted = 1;
    edge.port_predicate = 1;
    edge.source_registered = 0;
    edge.input_registered = 1;
    m_link->send_edge(edge);
    BYTES e = code_only(3);
    le32(e, 5);
    le32(e, 6);
    le32(e, static_cast<uint32_t>(-100));
    le32(e, 2147483647);
    f64(e, 1.5);
    le32(e, 4149);
    le32(e, 11);
    e.insert(e.end(), {1, 1, 0, 1, 0, 0, 0, 0});
    EXPECT_EQ(drain(), e);
}

TEST_F(PLX_WIRE, LongTextsGoInChunksOfThirtyOneCharacters)
{
    const std::string s31(31, 'a');
    const std::string s32 = s31 + "b";
    struct CASE
    {
        std::string text;
        std::vector<std::string> chunks;
    };
    for (const CASE& c : {CASE{"", {""}}, CASE{s31, {s31}}, CASE{s32, {s31, "b"}}}) {
        m_link->send_long_text(c.text);
        BYTES expected = code_only(11);
        le32(expected, static_cast<uint32_t>(c.text.size()));
        for (const std::string& chunk : c.chunks) field(expected, chunk, 32);
        EXPECT_EQ(drain(), expected) << c.text.size();
    }
}

TEST_F(PLX_WIRE, TextsAndNamesAreCutToTheirFields)
{
    m_link->send_text("%s", std::string(300, 'x').c_str());
    const BYTES text = drain();
    ASSERT_EQ(text.size(), 4u + 256u);
    EXPECT_EQ(text.back(), 'x');  // a full field carries no terminator

    EXPECT_EQ(morv_plx_short_name(std::string(31, 'n')), std::string(31, 'n'));
    const std::string forty = "0123456789abcdefghijklmnopqrstuvwxyzABCD";
    EXPECT_EQ(morv_plx_short_name(forty), "..." + forty.substr(12));
    EXPECT_EQ(morv_plx_short_name(forty).size(), 31u);

    EXPECT_THROW(m_link->send_netlist_start(std::string(32, 'n')), MSG_INTERNAL_ERROR_EXCEPTION);
    EXPECT_THROW(m_link->send_register_command(3, std::string(32, 'c'), ""), MSG_INTERNAL_ERROR_EXCEPTION);
    EXPECT_THROW(m_link->send_register_command(3, "c", std::string(256, 'd')), MSG_INTERNAL_ERROR_EXCEPTION);
}

TEST_F(PLX_WIRE, ACommandSplitAcrossWritesIsReadWhole)
{
    BYTES unknown = code_only(9);
    BYTES command = unknown;
    const BYTES run = [] {
        BYTES b = code_only(0);
        le32(b, 1);
        field(b, "12\x04junk", 32);
        return b;
    }();
    command.insert(command.end(), run.begin(), run.end());
    // The tool writes one byte at a time while the component reads.
    std::thread tool([&] {
        for (uint8_t byte : command) {
            ::send(m_sv[1], &byte, 1, 0);
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
    });
    uint32_t id = 99;
    std::string argument;
    const bool read = m_link->read_command(&id, &argument);
    tool.join();
    ASSERT_TRUE(read);
    EXPECT_EQ(id, 1u);
    EXPECT_EQ(argument, "12\x04junk");
    EXPECT_TRUE(m_link->is_connected());
}

TEST_F(PLX_WIRE, AnArgumentWithoutTerminatorIsCutAtThirtyOneCharacters)
{
    BYTES b = code_only(0);
    le32(b, 5);
    b.insert(b.end(), 32, 'z');
    tool_sends(b);
    uint32_t id = 0;
    std::string argument;
    ASSERT_TRUE(m_link->read_command(&id, &argument));
    EXPECT_EQ(argument, std::string(31, 'z'));
}

TEST_F(PLX_WIRE, EndOfStreamInsideAPacketIsAFailedRead)
{
    // Every cut of a command, the empty stream included, fails and closes.
    BYTES whole = code_only(0);
    le32(whole, 0);
    field(whole, "run", 32);
    for (size_t cut = 0; cut < whole.size(); ++cut) {
        if (!m_link) SetUp();
        tool_sends(BYTES(whole.begin(), whole.begin() + static_cast<long>(cut)));
        tool_hangs_up();
        uint32_t id = 0;
        std::string argument;
        EXPECT_FALSE(m_link->read_command(&id, &argument)) << cut;
        EXPECT_FALSE(m_link->is_connected()) << cut;
        TearDown();
    }
}

TEST_F(PLX_WIRE, OneInstancePerProcess)
{
    EXPECT_EQ(MORV_PLUMRIX_INTERFACE::get_instance(), m_link.get());
    EXPECT_THROW(MORV_PLUMRIX_INTERFACE(), MSG_INTERNAL_ERROR_EXCEPTION);
    m_link.reset();
    EXPECT_EQ(MORV_PLUMRIX_INTERFACE::get_instance(), nullptr);
}

TEST_F(PLX_WIRE, DisconnectSaysSoAndLeavesTheLinkSilent)
{
    m_link->disconnect();
    BYTES expected = code_only(10);
    BYTES text = code_only(6);
    field(text, "Closing connection to named pipe.", 256);
    expected.insert(expected.end(), text.begin(), text.end());
    EXPECT_EQ(drain(), expected);
    EXPECT_FALSE(m_link->is_connected());
    m_link->send_text("dropped");
    m_link->disconnect();
}

// No tool ever listens at a file or folder: the link says so at once,
// without its ten tries a second apart, and the compile goes on.
TEST(PlxEndpoint, AFileOrFolderInTheSocketsPlaceIsNamedAndNotWaitedFor)
{
    std::filesystem::create_directories("endpoint_folder");
    std::ofstream("endpoint_file") << "x";
    const std::pair<const char*, const char*> cases[] = {{"endpoint_folder", "is a folder"},
                                                         {"endpoint_file", "is a file"},
                                                         {"endpoint_file/socket", "is below a file"}};
    for (const auto& [endpoint, what] : cases) {
        cfg_set_value("fsyn_plumrix_endpoint", endpoint);
        msg_clear_posted_messages();
        MORV_PLUMRIX_INTERFACE link;
        const auto start = std::chrono::steady_clock::now();
        link.connect();
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5)) << endpoint;
        EXPECT_FALSE(link.is_connected());
        std::string said;
        for (const MSG_POSTED_MESSAGE& m : msg_posted_messages())
            if (m.id == "WMORV_FSYN_PLUMRIX_ENDPOINT_NOT_A_SOCKET") said += m.text;
        EXPECT_NE(said.find(std::string(endpoint) + " " + what), std::string::npos) << said;
    }
    // A missing endpoint is a tool not started yet: tried, and not warned about.
    MORV_PLUMRIX_INTERFACE::set_timing({2, 0, 10});
    cfg_set_value("fsyn_plumrix_endpoint", "endpoint_missing");
    msg_clear_posted_messages();
    {
        MORV_PLUMRIX_INTERFACE link;
        link.connect();
        EXPECT_FALSE(link.is_connected());
    }
    EXPECT_TRUE(msg_posted_messages().empty());
    MORV_PLUMRIX_INTERFACE::set_timing(MORV_PLX_TIMING());
    cfg_clear_all();
}

TEST(PlxTables, NameTablesEndInUnknownAndNameEveryNumber)
{
    EXPECT_EQ(morv_plx_table_size(0), 316);
    EXPECT_EQ(morv_plx_table_size(1), 3017);
    EXPECT_EQ(morv_plx_table_size(2), 4150);
    for (uint32_t table = 0; table < 3; ++table) {
        const int size = morv_plx_table_size(table);
        EXPECT_EQ(morv_plx_table_name(table, size - 1), "Unknown");
        for (int i = 0; i < size - 1; ++i) {
            const std::string name = morv_plx_table_name(table, i);
            ASSERT_FALSE(name.empty());
            ASSERT_LE(name.size(), 31u);
        }
    }
    EXPECT_EQ(morv_plx_table_name(1, 11), "dataa");
    EXPECT_EQ(morv_plx_table_name(1, 3), "TYPE_3");
    EXPECT_EQ(morv_plx_table_name(2, 9), "q");
    EXPECT_EQ(morv_plx_table_name(0, 0), "BRK_LCELL_COMB");
}

TEST(PlxNames, BreakpointNamesFallBackWhenTheyDoNotFit)
{
    EXPECT_EQ(morv_plx_breakpoint_name("PRE-%s(%d)", "RTM", 12), "PRE-RTM(12)");
    // 25 characters already make 32 with the stage and number.
    const std::string name25(25, 'A');
    EXPECT_EQ(morv_plx_breakpoint_name("PRE-%s(%d)", name25.c_str(), 1), "ALGO_SHORT_NAME_TOO_LONG");
    EXPECT_EQ(morv_plx_breakpoint_name("POST-%s(%d)", std::string(24, 'A').c_str(), 1), "ALGO_SHORT_NAME_TOO_LONG");
    EXPECT_EQ(morv_plx_breakpoint_name("PRE-%s(%d)", std::string(24, 'A').c_str(), 1).size(), 31u);
    EXPECT_EQ(morv_plx_breakpoint_name("POST-%s_%d_%d", "REP", 0, 2), "POST-REP_0_2");
    EXPECT_EQ(morv_plx_breakpoint_name("POST-%s_%d_%d", std::string(21, 'B').c_str(), 10, 10),
              "ALGO_SHORT_NAME_TOO_LONG");
    EXPECT_EQ(morv_plx_breakpoint_name("POST-%s_%d_%d", std::string(20, 'B').c_str(), 1, 2).size(), 29u);
    // A name of numbers only: each conversion reads its own argument.
    EXPECT_EQ(morv_plx_breakpoint_name("MANUAL_%d", 0), "MANUAL_0");
    EXPECT_EQ(morv_plx_breakpoint_name("MANUAL_%d", 17), "MANUAL_17");
}

TEST(PlxNames, DumpTabsBecomeIndentAndSeparators)
{
    EXPECT_EQ(morv_plx_format_dump("atom 3\ttype 0\n\tinputs\n\t\tdataa\t<- 1.q\n"),
              "atom 3 | type 0\n  inputs\n    dataa | <- 1.q\n");
    EXPECT_EQ(morv_plx_format_dump(""), "");
    EXPECT_EQ(morv_plx_format_dump("no newline"), "no newline\n");
}

}  // namespace morv_plumrix_interface_test
