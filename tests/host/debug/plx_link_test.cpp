// The tool link against a scripted tool on a socket: what set-up, uploads,
// commands and shutdown put on the wire, and how it survives the tool.

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "log_capture.h"
#include "plx_link_run.h"
#include "plx_tool.h"

#include "morv/netlist/morv_chip_map.h"
#include "morv/netlist/morv_net_util.h"

namespace plx_link_test {

namespace {

using SCRIPT = std::vector<std::vector<uint8_t>>;

std::vector<uint8_t> header(uint32_t code)
{
    return {static_cast<uint8_t>(code), static_cast<uint8_t>(code >> 8), static_cast<uint8_t>(code >> 16),
            static_cast<uint8_t>(code >> 24)};
}

bool has_text(const std::vector<PLX_PACKET>& packets, const std::string& text)
{
    const std::vector<std::string> texts = plx_texts(packets);
    return std::find(texts.begin(), texts.end(), text) != texts.end();
}

int count_code(const std::vector<PLX_PACKET>& packets, uint32_t code)
{
    return static_cast<int>(
        std::count_if(packets.begin(), packets.end(), [&](const PLX_PACKET& p) { return p.code == code; }));
}

// Node records by atom id, and edge records by destination, of the first upload.
struct UPLOAD
{
    std::map<uint32_t, PLX_PACKET> nodes;
    std::multimap<uint32_t, PLX_PACKET> edges;
    std::vector<uint32_t> order;  // codes of the upload, start and end excluded
};

UPLOAD first_upload(const std::vector<PLX_PACKET>& packets)
{
    UPLOAD upload;
    bool inside = false;
    for (const PLX_PACKET& p : packets) {
        if (p.code == 0) inside = true;
        else if (p.code == 1 && inside) break;
        else if (inside && p.code == 2) upload.nodes[p.u32(32)] = p;
        else if (inside && p.code == 3) upload.edges.emplace(p.u32(4), p);
        if (inside && p.code != 0) upload.order.push_back(p.code);
    }
    return upload;
}

class RECORDING_COMMAND : public MORV_PLUMRIX_FUNCTIONOID
{
public:
    void invoke(int command_id, std::string argument) override { calls.emplace_back(command_id, argument); }
    std::vector<std::pair<int, std::string>> calls;
};

class PlxLink : public ::testing::Test
{
protected:
    void TearDown() override { EXPECT_EQ(MORV_PLUMRIX::get_interface_users(), 0); }
};

}  // namespace

TEST_F(PlxLink, SetUpAnnouncesSizesCommandsAndTablesAndShutdownClosesTheSession)
{
    PLX_SWITCHES on;
    PLX_FAKE_TOOL tool(PLX_TEST_SOCKET, {}, false);
    {
        PLX_RUN run;
        EXPECT_TRUE(run.link()->is_connected());
        EXPECT_TRUE(MORV_PLUMRIX::is_interface_set_up());
        EXPECT_FALSE(run.link()->is_run_all());
    }
    EXPECT_EQ(MORV_PLUMRIX::get_interface(), nullptr);
    EXPECT_FALSE(MORV_PLUMRIX::is_interface_set_up());
    bool complete = false;
    const std::vector<PLX_PACKET> packets = plx_parse(tool.received(), &complete);
    ASSERT_TRUE(complete);
    ASSERT_GE(packets.size(), 10u);
    EXPECT_EQ(packets[0].code, 6u);
    EXPECT_EQ(packets[0].text(), "Connected to named pipe.");
    EXPECT_EQ(packets[1].code, 7u);
    EXPECT_EQ(packets[2].code, 12u);
    EXPECT_EQ(packets[2].u32(0), 4u);
    EXPECT_EQ(packets[3].u32(0), 112u);
    EXPECT_EQ(packets[4].u32(0), 40u);
    EXPECT_EQ(packets[5].text(), "Initializing FSYN Plumrix.");
    const char* names[] = {"run", "nodeinfo", "runall"};
    for (uint32_t c = 0; c < 3; ++c) {
        EXPECT_EQ(packets[6 + c].code, 5u);
        EXPECT_EQ(packets[6 + c].text(0, 32), names[c]);
        EXPECT_EQ(packets[6 + c].u32(288), c);
    }
    EXPECT_EQ(packets[7].text(32), "Displays an atom dump of the specified node id");
    EXPECT_EQ(count_code(packets, 8), 3);
    EXPECT_EQ(count_code(packets, 9), 316 + 3017 + 4150);
    const size_t n = packets.size();
    EXPECT_EQ(packets[n - 4].text(), "Closing the FSYN Plumrix interface.");
    EXPECT_EQ(packets[n - 3].code, 4u);
    EXPECT_EQ(packets[n - 2].code, 10u);
    EXPECT_EQ(packets[n - 1].text(), "Closing connection to named pipe.");
}

TEST_F(PlxLink, UploadCarriesEachAtomsEdgesThenItsNode)
{
    PLX_SWITCHES on;
    PLX_FAKE_TOOL tool(PLX_TEST_SOCKET, {plx_command(0, "")});
    std::map<std::string, int> ids;
    uint64_t lut_mask = 0;
    {
        PLX_RUN run;
        ASSERT_TRUE(run.api()->refresh_timing_and_print_dont_touch_statistics());  // builds the timing netlist
        for (const char* name : {"a", "b", "g", "r", "dead"}) ids[name] = run.id(name);
        CDB_ATOM_NODE* g = run.find("g");
        CDB_ATOM_NODE* r = run.find("r");
        run.slack().set(g->get_input_term_by_type(DB_DATA_A), -30, 0.25);
        run.slack().set(g->get_input_term_by_type(DB_DATA_B), 40, 0.75);
        run.slack().set(r->get_input_term_by_type(DB_DATAIN), 15, 0.5);
        run.api()->modify_node(g);
        run.api()->modify_node(g);
        run.link()->note_node_visited(ids["r"]);
        lut_mask = run.api()->get_fsyn_net_util()->get_lutmask(g);
        run.link()->breakpoint("PRE-TEST(0)");
        EXPECT_TRUE(run.link()->is_connected());
    }
    const std::vector<PLX_PACKET> packets = plx_parse(tool.received());
    EXPECT_TRUE(has_text(packets, "Breakpoint 'PRE-TEST(0)'..."));
    const UPLOAD upload = first_upload(packets);
    ASSERT_EQ(upload.nodes.size(), 7u);  // a, b, clk, g, r, o, dead
    // Edges of an atom come right before its node record.
    for (size_t i = 0; i + 1 < upload.order.size(); ++i)
        if (upload.order[i] == 3) {
            EXPECT_NE(upload.order[i + 1], 1u);
        }

    const PLX_PACKET& a = upload.nodes.at(static_cast<uint32_t>(ids["a"]));
    EXPECT_EQ(a.text(0, 32), "a");
    EXPECT_EQ(a.i32(40), 2);  // the I/O kind
    EXPECT_EQ(a.i32(44), INT_MAX);
    EXPECT_EQ(a.f64(48), 2.0);
    EXPECT_EQ(a.u32(72), 0xDEADBEEFu);

    const PLX_PACKET& g = upload.nodes.at(static_cast<uint32_t>(ids["g"]));
    EXPECT_EQ(g.i32(40), 0);
    EXPECT_EQ(g.i32(44), -30);
    EXPECT_EQ(g.f64(48), 0.25);
    EXPECT_EQ(g.i32(56), 15);
    EXPECT_EQ(g.f64(64), 0.5);
    EXPECT_EQ(g.u32(72) | static_cast<uint64_t>(g.u32(76)) << 32, lut_mask);
    EXPECT_EQ(g.u32(84), 2u);
    EXPECT_EQ(g.u32(88), 0u);

    const PLX_PACKET& r = upload.nodes.at(static_cast<uint32_t>(ids["r"]));
    EXPECT_EQ(r.i32(40), 1);
    EXPECT_EQ(r.u32(76), 0xDEADBEEFu);
    EXPECT_EQ(r.u32(88), 1u);
    EXPECT_GE(r.i32(104), 0);  // tsu and tco of its register output
    EXPECT_GE(r.i32(108), 0);
    EXPECT_EQ(g.i32(104), -1);
    EXPECT_EQ(g.i32(108), -1);

    // Without a fanout the least fanout ratio stays 1.0.
    const PLX_PACKET& dead = upload.nodes.at(static_cast<uint32_t>(ids["dead"]));
    EXPECT_EQ(dead.i32(56), INT_MAX);
    EXPECT_EQ(dead.f64(64), 1.0);
    // Its one edge: no chosen output, so the output type is unknown and no delay.
    auto dead_edges = upload.edges.equal_range(static_cast<uint32_t>(ids["dead"]));
    ASSERT_EQ(std::distance(dead_edges.first, dead_edges.second), 1);
    EXPECT_EQ(dead_edges.first->second.u32(24), 4149u);
    EXPECT_EQ(dead_edges.first->second.i32(12), -1);

    auto g_edges = upload.edges.equal_range(static_cast<uint32_t>(ids["g"]));
    ASSERT_EQ(std::distance(g_edges.first, g_edges.second), 2);
    for (auto it = g_edges.first; it != g_edges.second; ++it) {
        const PLX_PACKET& e = it->second;
        const bool from_a = e.u32(0) == static_cast<uint32_t>(ids["a"]);
        EXPECT_TRUE(from_a || e.u32(0) == static_cast<uint32_t>(ids["b"]));
        EXPECT_EQ(e.i32(8), from_a ? -30 : 40);
        EXPECT_EQ(e.f64(16), from_a ? 0.25 : 0.75);
        EXPECT_EQ(e.u32(24), static_cast<uint32_t>(DB_DATA_OUT));
        EXPECT_EQ(e.u32(28), static_cast<uint32_t>(from_a ? DB_DATA_A : DB_DATA_B));
        // The timing edge from the driver into the input was found.
        EXPECT_GE(e.i32(12), 0);
        EXPECT_LT(e.i32(12), INT_MAX);
        EXPECT_EQ(e.body[34], 0);
        EXPECT_EQ(e.body[35], 0);
    }
}

// While a flow up to LATE runs, a node record is located by the chip map
// (all -1 for an atom it does not hold); outside them by the device: x, y
// and the second sub-location, or the first when there is no second.
TEST_F(PlxLink, NodeRecordsAreLocatedByTheChipMapInAFlowAndByTheDeviceOutsideOne)
{
    struct CASE
    {
        int flow;  // -1: none runs
        std::vector<int> g, r, dead;
    };
    const std::vector<int> none = {-1, -1, -1};
    const CASE cases[] = {{-1, {3, 4, 5}, {6, 7, 6}, none},
                          {VERY_LATE_FSYN_FLOW, {3, 4, 5}, {6, 7, 6}, none},
                          {LATE_FSYN_FLOW, {1, 2, 3}, none, none},
                          {SYN_EARLY_FSYN_FLOW, {1, 2, 3}, none, none}};
    for (const CASE& k : cases) {
        PLX_SWITCHES on;
        PLX_FAKE_TOOL tool(PLX_TEST_SOCKET, {plx_command(0, "")});
        std::map<std::string, uint32_t> ids;
        {
            PLX_RUN run;
            for (const char* name : {"g", "r", "dead"}) ids[name] = static_cast<uint32_t>(run.id(name));
            run.find("g")->set_location(3, 4, 5, -1);
            run.find("r")->set_location(6, 7, 1, 6);
            run.api()->get_fsyn_chip_map()->set_node_location(run.id("g"), MORV_LOC{1, 2, 3, -1});
            DRIVER_FLAGS::run_only(run.api()->get_fsyn_expert(), k.flow);
            run.link()->breakpoint("WHERE");
        }
        const UPLOAD upload = first_upload(plx_parse(tool.received()));
        for (const auto& [name, want] :
             {std::pair<std::string, std::vector<int>>{"g", k.g}, {"r", k.r}, {"dead", k.dead}}) {
            const PLX_PACKET& p = upload.nodes.at(ids[name]);
            EXPECT_EQ(std::vector<int>({p.i32(92), p.i32(96), p.i32(100)}), want) << name << " in flow " << k.flow;
        }
    }
}

TEST_F(PlxLink, CommandsOfAnInteractiveBreakpoint)
{
    PLX_SWITCHES on;
    // Atoms take ids in the order the netlist is built: a, b, clk, g.
    const int g_id = static_cast<int>(CDB_ATOM_NODE::s_next_id) + 3;
    std::string g_argument = std::to_string(g_id);
    g_argument += "\x04junk";
    SCRIPT script;
    script.push_back(header(9));  // unknown, skipped four bytes at a time
    script.push_back(header(1234));
    script.push_back(plx_command(1, "abc"));
    script.push_back(plx_command(1, "999999"));
    script.push_back(plx_command(3, "arg\x04tail"));
    script.push_back(plx_command(4, "gone"));
    script.push_back(plx_command(77, ""));
    script.push_back(plx_command(1, g_argument));
    script.push_back(plx_command(0, ""));
    PLX_FAKE_TOOL tool(PLX_TEST_SOCKET, script);
    RECORDING_COMMAND command;
    {
        PLX_RUN run;
        // Made after the compile, which sets the logger up.
        MORV_LOG_CAPTURE log(1);
        ASSERT_EQ(run.id("g"), g_id);
        EXPECT_EQ(run.link()->register_command("retime", "one retiming step", &command), 3);
        EXPECT_EQ(run.link()->register_command("resyn", "one resynthesis step", &command), 4);
        run.link()->unregister_command(4);
        run.link()->unregister_command(42);
        run.link()->breakpoint("MANUAL_0");
        EXPECT_TRUE(run.link()->is_connected());
        EXPECT_FALSE(run.link()->is_run_all());
        const std::vector<std::string> lines = log.lines();
        EXPECT_EQ(std::count(lines.begin(), lines.end(), "PLUMRIX: WARNING - Received unknown packet header."), 2);
        EXPECT_NE(std::find(lines.begin(), lines.end(), "PLUMRIX: Error - Unrecognized command sent from Plumrix."),
                  lines.end());
    }
    ASSERT_EQ(command.calls.size(), 1u);
    EXPECT_EQ(command.calls[0], std::make_pair(3, std::string("arg")));
    EXPECT_EQ(std::fopen(MORV_PLX_NODE_DUMP_FILE, "r"), nullptr);

    const std::vector<PLX_PACKET> packets = plx_parse(tool.received());
    const std::vector<std::string> texts = plx_texts(packets);
    const std::vector<std::string> wanted = {
        "Could not unregister command.  Command not found.",
        "A node ID is required.",
        "An error occured while trying to find the atom with id 999999.",
        "Received unrecognized command.",
        "Received unrecognized command.",
        "NOTE - The above information describes node " + std::to_string(g_id) + " in the netlist:",
        "         MANUAL_0",
        "       It is not accurate for other netlists.\n",
    };
    auto at = texts.begin();
    for (const std::string& text : wanted) {
        at = std::find(at, texts.end(), text);
        ASSERT_NE(at, texts.end()) << text;
    }
    int registered = 0;
    for (const PLX_PACKET& p : packets) {
        if (p.code == 5 && p.u32(288) >= 3) ++registered;
        if (p.code == 15) {
            EXPECT_EQ(p.u32(0), 4u);
        }
        if (p.code == 11) {
            EXPECT_EQ(p.long_text().rfind("atom " + std::to_string(g_id) + " | type", 0), 0u) << p.long_text();
            EXPECT_NE(p.long_text().find("\n  inputs\n    dataa | <- "), std::string::npos) << p.long_text();
        }
    }
    EXPECT_EQ(registered, 2);
    EXPECT_EQ(count_code(packets, 15), 1);
    EXPECT_EQ(count_code(packets, 11), 1);
    // One waiting and one busy per command read, and busy once more at the end.
    EXPECT_EQ(count_code(packets, 10), 7 + 1);
    // Busy on connecting and after every command read.
    EXPECT_EQ(count_code(packets, 7), 1 + 7);
}

TEST_F(PlxLink, RunAllStopsReadingAndAToolThatHangsUpEndsTheBreakpoint)
{
    PLX_SWITCHES on;
    PLX_FAKE_TOOL tool(PLX_TEST_SOCKET, {plx_command(2, "")});
    {
        PLX_RUN run;
        MORV_LOG_CAPTURE log(1);
        run.link()->breakpoint("A");
        EXPECT_TRUE(run.link()->is_run_all());
        run.link()->breakpoint("B");  // uploads without reading
        EXPECT_TRUE(run.link()->is_connected());
        // A second link of the process reads: the tool has hung up.
        MORV_PLUMRIX second(run.api());
        second.initialize();
        EXPECT_EQ(MORV_PLUMRIX::get_interface_users(), 2);
        second.breakpoint("C");
        EXPECT_FALSE(second.is_connected());
        EXPECT_FALSE(run.link()->is_connected());
        const std::vector<std::string> lines = log.lines();
        EXPECT_NE(std::find(lines.begin(), lines.end(),
                            "MORV_PLUMRIX: Warning - An error occured while trying to read the pipe."),
                  lines.end());
        second.shutdown();
    }
    const std::vector<PLX_PACKET> packets = plx_parse(tool.received());
    EXPECT_EQ(count_code(packets, 1), 3);
    EXPECT_TRUE(has_text(packets, "FSYN flow latching onto old interface.\n"));
}

TEST_F(PlxLink, TwoLinksShareOneInterfaceAndALaterSetUpConnectsAgain)
{
    PLX_SWITCHES on;
    {
        PLX_FAKE_TOOL tool(PLX_TEST_SOCKET, {}, false);
        {
            PLX_RUN run;
            MORV_PLUMRIX second(run.api());
            second.initialize();
            EXPECT_EQ(MORV_PLUMRIX::get_interface_users(), 2);
            second.shutdown();
            EXPECT_TRUE(run.link()->is_connected());
            EXPECT_EQ(MORV_PLUMRIX::get_interface_users(), 1);
        }
        const std::vector<PLX_PACKET> packets = plx_parse(tool.received());
        EXPECT_EQ(count_code(packets, 8), 3);  // tables once
        EXPECT_EQ(count_code(packets, 5), 3);  // commands once
        EXPECT_EQ(count_code(packets, 4), 1);
        EXPECT_TRUE(has_text(packets, "FSYN flow latching onto old interface.\n"));
    }
    // The interface went with the last link: the next compile connects to
    // its own tool and announces everything again.
    PLX_FAKE_TOOL tool(PLX_TEST_SOCKET, {}, false);
    {
        PLX_RUN run;
        EXPECT_TRUE(run.link()->is_connected());
    }
    const std::vector<PLX_PACKET> packets = plx_parse(tool.received());
    EXPECT_EQ(count_code(packets, 8), 3);
    EXPECT_FALSE(has_text(packets, "FSYN flow latching onto old interface.\n"));
}

TEST_F(PlxLink, WithoutAToolTheLinkStaysSilentAndTheRunGoesOn)
{
    PLX_SWITCHES on;
    PLX_RUN run;
    MORV_LOG_CAPTURE log(1);
    // Set up again under the capture: the last link's shutdown took the interface.
    run.link()->shutdown();
    EXPECT_EQ(MORV_PLUMRIX::get_interface(), nullptr);
    run.link()->initialize();
    EXPECT_FALSE(run.link()->is_connected());
    run.link()->breakpoint("X");
    EXPECT_EQ(run.link()->register_command("c", "d", nullptr), 3);
    const std::vector<std::string> lines = log.lines();
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "PLUMRIX: WARNING - Could not find Plumrix pipe on try 2."), 1);
}

TEST_F(PlxLink, FileModeWritesTheWholeSessionAndNeverReads)
{
    PLX_SWITCHES on(true);
    {
        PLX_RUN run;
        EXPECT_TRUE(run.link()->is_connected());
        EXPECT_TRUE(run.link()->is_run_all());
        run.link()->breakpoint("POST-TEST(0)");
    }
    std::FILE* file = std::fopen(MORV_PLX_SESSION_FILE, "rb");
    ASSERT_NE(file, nullptr);
    std::vector<uint8_t> bytes;
    for (int c = std::fgetc(file); c != EOF; c = std::fgetc(file)) bytes.push_back(static_cast<uint8_t>(c));
    std::fclose(file);
    std::remove(MORV_PLX_SESSION_FILE);
    bool complete = false;
    const std::vector<PLX_PACKET> packets = plx_parse(bytes, &complete);
    EXPECT_TRUE(complete);
    ASSERT_FALSE(packets.empty());
    EXPECT_EQ(packets[0].code, 7u);
    EXPECT_EQ(count_code(packets, 9), 316 + 3017 + 4150);
    EXPECT_EQ(count_code(packets, 2), 7);
    EXPECT_EQ(count_code(packets, 10), 1);  // only the closing one
}

}  // namespace plx_link_test
