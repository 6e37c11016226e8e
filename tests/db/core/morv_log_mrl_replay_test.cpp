#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "bpm/bpm_boundary_port_manager.h"
#include "cdb/cdb_atom_netlist.h"
#include "cut/cut_atom_util.h"
#include "cut/cut_cell_util.h"
#include "logdb/logdb_fsyn_log_file.h"
#include "logdb/logdb_text.h"
#include "thr/thr.h"

#include "morv/core/morv_api.h"
#include "log_capture.h"
#include "morv/log/morv_log.h"
#include "morv_test_env.h"
#include "morv_log_replay_host.h"
#include "morv_test_util.h"

namespace morv_log_mrl_replay_test {

namespace {

const char* const BRK_REVISION = LOG_BRK_REVISION;
const char* const END = LOG_END;

struct REPLAY : MORV_LOG_CHAIN_REPLAY
{
    explicit REPLAY(const std::string& log_name) : MORV_LOG_CHAIN_REPLAY(24, log_name) {}
};

class MorvLogMrlReplayTest : public MORV_CLEAN_STATE_TEST
{};

std::string unchanged_slots(size_t count)
{
    std::string text;
    for (size_t i = 0; i < count; ++i) text += i == 0 ? "\"UNCHANGED\"" : " \"UNCHANGED\"";
    return text;
}

// ------------------------------------------------------------------ a stored log is user input

TEST_F(MorvLogMrlReplayTest, ADamagedLogIsRefusedBeforeItsFirstEditWithTheFileAndOffset)
{
    // Each log starts with a good edit (lut1's DATA_A inverted), then goes wrong.
    const std::string first_edit = "15 1 1 \"lut1\" 11 0";
    struct BAD
    {
        std::vector<std::string> lines;
        const char* reason;
    };
    const std::vector<BAD> bad_logs = {
        {{BRK_REVISION, first_edit}, "cut short"},
        {{BRK_REVISION, first_edit, "28 2 1 \"lut1\" [\"lut0\"]", END}, "1 slots, not 11"},
        {{BRK_REVISION, first_edit, "29 2 9 \"reg0\" [\"UNCHANGED\" \"UNCHANGED\"]", END}, "not 9"},
        {{BRK_REVISION, first_edit, "27 2 1 \"lut1\" [11] [\"lut0\"] 0x0 [8] [\"lut1\"] 0 \"\" 0", END},
         "input slot 11"},
        {{BRK_REVISION, first_edit, "15 2 1 \"\" 11 0", END}, "empty name"},
        {{BRK_REVISION, first_edit, "28 2 1 \"lut1\" [\"\" " + unchanged_slots(10) + "]", END}, "empty source name"},
        {{BRK_REVISION, first_edit, "8 2 1 \"lut1\" 7 0x1 0", END}, "LUT-mask kind"},
        {{BRK_REVISION, first_edit, "2 2 7 \"new\" \"\" 1 0", END}, "empty name"},
    };
    for (const BAD& bad : bad_logs) {
        REPLAY run("mrl_damaged.psl");
        const std::string before = run.netlist_text();
        EXPECT_FALSE(run.replay(bad.lines)) << bad.reason;
        EXPECT_EQ(run.netlist_text(), before) << bad.reason;
        const std::string text = run.posted_text("EMORV_FSYN_LOG_FILE_DAMAGED");
        EXPECT_NE(text.find("mrl_damaged.psl: offset "), std::string::npos) << text;
        EXPECT_NE(text.find(bad.reason), std::string::npos) << text;
    }
}

TEST_F(MorvLogMrlReplayTest, ChangedBytesAndACutAnywhereAreRefusedAndTheNetlistStays)
{
    REPLAY run("mrl_bytes.psl");
    run.write({BRK_REVISION, "15 1 1 \"lut1\" 11 0", "15 2 2 \"lut2\" 11 0", END});
    std::ifstream in(run.name, std::ios::binary);
    const std::string good((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const std::string before = run.netlist_text();
    for (size_t at = 1; at < good.size(); at += 7) {
        for (bool cut : {true, false}) {
            std::string bad = good;
            if (cut) bad.resize(at);
            else bad[at] = static_cast<char>(bad[at] ^ 0x5a);
            std::ofstream(run.name, std::ios::binary | std::ios::trunc) << bad;
            msg_clear_posted_messages();
            EXPECT_FALSE(run.log()->reproduce_log()) << at << " " << cut;
            EXPECT_EQ(count_posted("EMORV_FSYN_LOG_FILE_DAMAGED"), 1) << at << " " << cut;
            ASSERT_EQ(run.netlist_text(), before) << at << " " << cut;
        }
    }
}

// ------------------------------------------------------------------ rebuilding a stored cell

TEST_F(MorvLogMrlReplayTest, AStoredCellIsRebuiltAsAMorlinCellInPlaceOfTheOneThatBearsItsOutput)
{
    REPLAY run("mrl_rebuild.psl");
    ASSERT_TRUE(run.replay(
        {BRK_REVISION, "27 1 1 \"lut1\" [0 1] [\"lut0\" \"VCC\"] 0x6666666666666666 [8] [\"lut1\"] 0 \"\" 0", END}))
        << run.netlist_text();
    CDB_ATOM_NODE* rebuilt = run.node("lut1");
    ASSERT_NE(rebuilt, nullptr);
    EXPECT_EQ(rebuilt->get_atom_type(), CDB_ATOM_MORLIN_LCELL_COMB_ENUM);
    EXPECT_NE(static_cast<int>(rebuilt->get_id()), run.ids[1]);
    EXPECT_EQ(run.api->get_node(run.ids[1]), nullptr);
    EXPECT_EQ(run.data_a("lut2")->get_source(), rebuilt->get_output_term_by_type(DB_COMB_OUT));
    EXPECT_EQ(rebuilt->get_input_term_by_type(DB_DATA_A)->get_source()->get_my_node(), run.node("lut0"));

    // A stored node deleted later in the same log is replayed all the same.
    REPLAY later("mrl_rebuild_later.psl");
    EXPECT_TRUE(later.replay({BRK_REVISION, "27 1 1 \"lut1\" [0] [\"lut0\"] 0xaaaaaaaaaaaaaaaa [8] [\"lut1\"] 0 \"\" 0",
                              "3 2 1 \"lut1\" [\"lut1\"] 0", END}))
        << later.netlist_text();
}

TEST_F(MorvLogMrlReplayTest, AnOutputOrSourceThatIsNotHereFailsTheEntryBeforeAnyEdit)
{
    const std::vector<std::string> bad = {
        // The first output moves lut1's fanouts, the second is not here.
        "27 1 1 \"lut1\" [0] [\"lut0\"] 0x0 [8 7] [\"lut1\" \"no_such_output\"] 0 \"\" 0",
        "27 1 1 \"lut1\" [0 1] [\"lut0\" \"no_such_term\"] 0x0 [8] [\"lut1\"] 0 \"\" 0",
        "27 1 1 \"lut1\" [0] [\"lut0\"] 0x0 [8] [\"lut1\"] 0 \"nowhere\" 0",
        // Kinds a morlin cell cannot be rebuilt from.
        "27 1 1 \"lut1\" [0] [\"lut0\"] 0x0 [8] [\"lut1\"] 3 \"\" 0",
        "27 1 1 \"lut1\" [0] [\"lut0\"] 0x0 [8] [\"lut1\"] 2 \"\" 0",
    };
    for (const std::string& state : bad) {
        REPLAY run("mrl_missing.psl");
        const std::string before = run.netlist_text();
        EXPECT_FALSE(run.replay({BRK_REVISION, state, END})) << state;
        EXPECT_EQ(run.netlist_text(), before) << state;
        // The name still stands for the node it stood for.
        run.log()->index_nodes_by_name_id();
        EXPECT_EQ(run.log()->find_node_by_logged_name("lut1"), run.node("lut1")) << state;
    }
    // A share output may come from nothing.
    REPLAY run("mrl_missing.psl");
    EXPECT_TRUE(run.replay(
        {BRK_REVISION, "27 1 1 \"lut1\" [0] [\"lut0\"] 0xaaaaaaaaaaaaaaaa [8 251] [\"lut1\" \"lut1_share\"] 0 \"\" 0",
         END}))
        << run.netlist_text();
}

// The names the replay looked up anywhere, having not found them around the
// cell it replaced.
std::vector<std::string> sought_by_name(const MORV_LOG_CAPTURE& capture)
{
    const std::string before = "Warning:  the iterm ";
    const std::string after = " could not be found through a traversal";
    std::vector<std::string> names;
    for (const std::string& line : capture.lines())
        if (line.rfind(before, 0) == 0 && line.size() > before.size() + after.size() &&
            line.compare(line.size() - after.size(), after.size(), after) == 0)
            names.push_back(line.substr(before.size(), line.size() - before.size() - after.size()));
    return names;
}

// A rebuilt input takes the source that bears its logged name next to the
// cell it replaces, or up to five levels back through registers and clock
// buffers, before an output of that name anywhere else.
TEST_F(MorvLogMrlReplayTest, ASourceIsSoughtAroundTheReplacedCellBeforeAnywhereElse)
{
    {
        // A later output also named lut0 holds that name in the index, and
        // lut1 reads itself.
        REPLAY run("mrl_search_near.psl");
        CDB_ATOM_NODE* decoy = run.add_atom(CDB_KIND_LCELL_COMB, "decoy");
        run.add_output_pin("out1", decoy->add_output_term(DB_COMB_OUT, run.host->names.find_or_create_path("lut0", 0)));
        CDB_ATOM_NODE* lut1 = run.node("lut1");
        lut1->add_input_term(DB_DATA_B)->insert_fanin(lut1->get_output_term_by_type(DB_COMB_OUT));
        const MORV_LOG_CAPTURE capture(100);
        ASSERT_TRUE(
            run.replay({BRK_REVISION,
                        "27 1 1 \"lut1\" [0 1] [\"lut0\" \"lut1\"] 0x6666666666666666 [8] [\"lut1\"] 0 \"\" 0", END}))
            << run.netlist_text();
        // The old lut1 is gone, though the new one took its input from it.
        CDB_ATOM_NODE* rebuilt = run.node("lut1");
        ASSERT_NE(static_cast<int>(rebuilt->get_id()), run.ids[1]) << run.netlist_text();
        EXPECT_EQ(run.data_a("lut1")->get_source()->get_my_node(), run.node("lut0")) << run.netlist_text();
        EXPECT_EQ(rebuilt->get_input_term_by_type(DB_DATA_B)->get_source(),
                  rebuilt->get_output_term_by_type(DB_COMB_OUT))
            << run.netlist_text();
        EXPECT_TRUE(sought_by_name(capture).empty());
    }
    // src reads the registers far1 <- far2 <- ... <- far5 (far4 five levels
    // back from lut0, far5 six) and the clock buffer clk_buf.
    REPLAY run("mrl_search_far.psl");
    CDB_ATOM_NODE* previous = run.node("src");
    for (int i = 1; i <= 5; ++i) {
        CDB_ATOM_NODE* reg = run.add_register("far" + std::to_string(i));
        previous->add_input_term(DB_DATAIN)->insert_fanin(reg->get_output_term_by_type(DB_REG_OUT));
        previous = reg;
    }
    CDB_ATOM_NODE* clkbuf = run.add_atom(CDB_KIND_CLKBUF, "clk_buf");
    clkbuf->add_input_term(DB_CLKBUF_IN)->insert_fanin(run.node("src")->get_output_term_by_type(DB_REG_OUT));
    CDB_ATOM_OTERM* clock = clkbuf->add_output_term(DB_CLKBUF_OUT, run.host->names.find_or_create_path("clk_buf", 0));
    run.node("reg0")->add_input_term(DB_CLOCK)->insert_fanin(clock);
    const std::string before = run.netlist_text();
    {
        const MORV_LOG_CAPTURE capture(100);
        EXPECT_FALSE(
            run.replay({BRK_REVISION, "27 1 0 \"lut0\" [0 1] [\"src\" \"no_such\"] 0x0 [8] [\"lut0\"] 0 \"\" 0", END}));
        EXPECT_EQ(run.netlist_text(), before);
        EXPECT_EQ(sought_by_name(capture), std::vector<std::string>{"no_such"});
        const std::vector<std::string> lines = capture.lines();
        EXPECT_NE(std::find(lines.begin(), lines.end(), "Unable to find the iterm source no_such"), lines.end());
    }
    // lut1's search stops at the cell lut0, and the extended input's lookup by name is no miss.
    const MORV_LOG_CAPTURE capture(100);
    ASSERT_TRUE(run.replay(
        {BRK_REVISION,
         "27 1 0 \"lut0\" [0 1 2 3 6] [\"src\" \"far4\" \"clk_buf\" \"far5\" \"lut2\"] 0x0 [8] [\"lut0\"] 0 \"\" 0",
         "27 2 1 \"lut1\" [0 1] [\"lut0\" \"src\"] 0x0 [8] [\"lut1\"] 0 \"\" 0", END}))
        << run.netlist_text();
    EXPECT_EQ(sought_by_name(capture), (std::vector<std::string>{"far5", "src"}));
    const CDB_ATOM_NODE* lut0 = run.node("lut0");
    const auto source_of = [&](int port) { return lut0->get_input_term_by_type(port)->get_source()->get_my_node(); };
    EXPECT_EQ(source_of(DB_DATA_B), run.node("far4"));
    EXPECT_EQ(source_of(DB_DATA_C), clkbuf);
    EXPECT_EQ(source_of(DB_DATA_D), run.node("far5"));
    EXPECT_EQ(source_of(DB_DATA_G), run.node("lut2"));
}

// The output next to the cell that bears the logged name wins over a clock
// buffer of that name that a nearer input does not drive and over an output
// of that name a level further, and an open input of a searched cell is
// stepped over.
TEST_F(MorvLogMrlReplayTest, ANearerOutputOfTheNameBeatsAClockBufferThatDoesNotHangOffTheSource)
{
    REPLAY run("mrl_search_clock_name.psl");
    CDB_ATOM_NODE* lut0 = run.node("lut0");
    lut0->add_input_term(DB_DATA_C);
    CDB_ATOM_NODE* near = run.add_atom(CDB_KIND_LCELL_COMB, "near");
    near->add_output_term(DB_COMB_OUT, run.host->names.find_or_create_path("ck", 0));
    // Read after the open input C.
    lut0->add_input_term(DB_DATA_D)->insert_fanin(near->get_output_term_by_type(DB_COMB_OUT));
    // lut0 reads the register hop, which reads a farther output named ck.
    CDB_ATOM_NODE* far = run.add_atom(CDB_KIND_LCELL_COMB, "far");
    CDB_ATOM_NODE* hop = run.add_register("hop");
    hop->add_input_term(DB_DATAIN)->insert_fanin(
        far->add_output_term(DB_COMB_OUT, run.host->names.find_or_create_path("ck", 0)));
    lut0->add_input_term(DB_DATA_E)->insert_fanin(hop->get_output_term_by_type(DB_REG_OUT));
    // Made last, the buffer holds the name ck in the index; lut2 drives it.
    CDB_ATOM_NODE* clkbuf = run.add_atom(CDB_KIND_CLKBUF, "ck_buf");
    clkbuf->add_input_term(DB_CLKBUF_IN)->insert_fanin(run.node("lut2")->get_output_term_by_type(DB_COMB_OUT));
    CDB_ATOM_OTERM* clock = clkbuf->add_output_term(DB_CLKBUF_OUT, run.host->names.find_or_create_path("ck", 0));
    run.node("reg0")->add_input_term(DB_CLOCK)->insert_fanin(clock);
    // lut2, found by name only, keeps the search going past the first level.
    ASSERT_TRUE(run.replay(
        {BRK_REVISION, "27 1 0 \"lut0\" [0 1 2] [\"src\" \"ck\" \"lut2\"] 0x0 [8] [\"lut0\"] 0 \"\" 0", END}))
        << run.netlist_text();
    const CDB_ATOM_NODE* rebuilt = run.node("lut0");
    EXPECT_EQ(rebuilt->get_input_term_by_type(DB_DATA_A)->get_source()->get_my_node(), run.node("src"));
    EXPECT_EQ(rebuilt->get_input_term_by_type(DB_DATA_B)->get_source()->get_my_node(), near) << run.netlist_text();
    EXPECT_EQ(rebuilt->get_input_term_by_type(DB_DATA_C)->get_source()->get_my_node(), run.node("lut2"));
}

// An input on a boundary port reads across a partition's edge: the search
// neither matches its source nor goes on through it, nor does it go on
// through a high-speed adder; those sources are looked up by name instead.
TEST_F(MorvLogMrlReplayTest, TheSearchGoesThroughNeitherAnInputOnABoundaryPortNorAHighSpeedAdder)
{
    // Made before the replay's environment, which fetches it once.
    BPM_BOUNDARY_PORT_MANAGER bpm(nullptr);
    bpm_drl_set_active_boundary_port_manager(&bpm);
    REPLAY run("mrl_search_port.psl");
    bpm.rebind(&run.host->ap);
    // lut0 reads the register across through its input B, across reads far.
    CDB_ATOM_NODE* across = run.add_register("across");
    CDB_ATOM_NODE* far = run.add_register("far");
    across->add_input_term(DB_DATAIN)->insert_fanin(far->get_output_term_by_type(DB_REG_OUT));
    CDB_ATOM_ITERM* b = run.node("lut0")->add_input_term(DB_DATA_B);
    b->insert_fanin(across->get_output_term_by_type(DB_REG_OUT));
    ASSERT_TRUE(bpm.assign_port_id(b, bpm.create_port("edge")));
    // lut0's input D reads the adder add, which reads the register behind.
    CDB_ATOM_NODE* adder = run.add_atom(CDB_KIND_HSADDER, "add");
    CDB_ATOM_NODE* behind = run.add_register("behind");
    adder->add_input_term(DB_DATA_A)->insert_fanin(behind->get_output_term_by_type(DB_REG_OUT));
    run.node("lut0")->add_input_term(DB_DATA_D)->insert_fanin(
        adder->add_output_term(DB_HSADDER_SUM_0, run.host->names.find_or_create_path("sum0", 0)));
    const MORV_LOG_CAPTURE capture(100);
    ASSERT_TRUE(run.replay(
        {BRK_REVISION, "27 1 0 \"lut0\" [0 1 2 3] [\"src\" \"across\" \"far\" \"behind\"] 0x0 [8] [\"lut0\"] 0 \"\" 0",
         END}))
        << run.netlist_text();
    EXPECT_EQ(sought_by_name(capture), (std::vector<std::string>{"across", "far", "behind"}));
    const CDB_ATOM_NODE* rebuilt = run.node("lut0");
    EXPECT_EQ(rebuilt->get_input_term_by_type(DB_DATA_B)->get_source()->get_my_node(), across);
    EXPECT_EQ(rebuilt->get_input_term_by_type(DB_DATA_C)->get_source()->get_my_node(), far);
    EXPECT_EQ(rebuilt->get_input_term_by_type(DB_DATA_D)->get_source()->get_my_node(), behind);
}

TEST_F(MorvLogMrlReplayTest, AnInputIndexOutsideTheTableFailsTheEntryUnchanged)
{
    REPLAY run("mrl_index.psl");
    run.log()->index_nodes_by_name_id();
    const std::string before = run.netlist_text();
    for (int32_t slot : {11, 64, -1}) {
        LOGDB_FSYN_LOG_ENTRY_STORE_NODE_INFO entry(1);
        entry.m_node_name = "lut1";
        entry.m_input_ports = {0, slot};
        entry.m_sources = {"lut0", "lut0"};
        entry.m_output_ports = {DB_COMB_OUT};
        entry.m_output_port_name = {"lut1"};
        EXPECT_FALSE(run.log()->reproduce_store_node_info(&entry)) << slot;
        EXPECT_EQ(run.netlist_text(), before) << slot;
    }
}

TEST_F(MorvLogMrlReplayTest, ALatchTakesItsRolesButNotAConstantEnable)
{
    REPLAY run("mrl_latch.psl");
    // Inputs: A from lut0, B tied to VCC and logged as the enable, C from
    // lut0 as the clear.
    ASSERT_TRUE(run.replay({BRK_REVISION,
                            "27 1 1 \"lut1\" [0 1 2 1 2] [\"lut0\" \"VCC\" \"lut0\" \"ENABLE1\" \"CLEAR\"] "
                            "0xcacacacacacacaca [8] [\"lut1\"] 4 \"\" 0",
                            END}))
        << run.netlist_text();
    const CDB_ATOM_LATCH_INFO* info = cut_get_atom_latch_info(run.node("lut1"));
    ASSERT_NE(info, nullptr);
    EXPECT_TRUE(info->is_latch);
    EXPECT_EQ(info->enable_port, DB_MAX_INPUT_PORT_TYPE);
    EXPECT_EQ(info->clear_port, DB_DATA_C);
}

TEST_F(MorvLogMrlReplayTest, AConstantDriverIsIndexedWhenHereAndMadeWhenNot)
{
    REPLAY run("mrl_constant.psl");
    const std::string before = run.netlist_text();
    EXPECT_TRUE(run.replay({BRK_REVISION, "27 1 0 \"lut0\" [] [] 0x0 [8] [\"lut0\"] 0 \"\" 1", END}));
    EXPECT_EQ(run.netlist_text(), before);

    // Not here: a ground cell under the logged output's name, which a
    // connection then uses.
    ASSERT_TRUE(run.replay({BRK_REVISION, "27 1 0 \"gnd_cell\" [] [] 0x0 [8] [\"gnd_out\"] 0 \"\" 1",
                            "28 2 1 \"lut2\" [\"gnd_out\" " + unchanged_slots(10) + "]", END}))
        << run.netlist_text();
    const CDB_ATOM_OTERM* source = run.data_a("lut2")->get_source();
    ASSERT_NE(source, nullptr) << run.netlist_text();
    EXPECT_EQ(replay_short_name(source->get_instance_name()), "gnd_out");
    EXPECT_EQ(source->get_my_node()->get_atom_type(), CDB_ATOM_MORLIN_LCELL_COMB_ENUM);
}

// ------------------------------------------------------------------ connections and clock buffers

TEST_F(MorvLogMrlReplayTest, ConnectionsFollowTheSlotsAndNotGndTiesOnlyInOldLogs)
{
    {
        REPLAY run("mrl_connect.psl");
        ASSERT_TRUE(run.replay({BRK_REVISION, "28 1 1 \"lut1\" [\"src\" " + unchanged_slots(10) + "]", END}))
            << run.netlist_text();
        EXPECT_EQ(run.data_a("lut1")->get_source()->get_my_node(), run.node("src"));
        // lut0, read by nothing now, went with the sweep.
        EXPECT_EQ(run.node("lut0"), nullptr);
        // A missing node is no failure; a missing source is, before any edit.
        EXPECT_TRUE(run.replay({BRK_REVISION, "28 3 9 \"ghost\" [\"src\" " + unchanged_slots(10) + "]", END}));
        const std::string before = run.netlist_text();
        EXPECT_FALSE(run.replay(
            {BRK_REVISION, "28 4 2 \"lut2\" [\"src\" \"UNCHANGED\" \"no_such\" " + unchanged_slots(8) + "]", END}));
        EXPECT_EQ(run.netlist_text(), before);
        // So is an input the cell lacks (lut2 has no input B).
        EXPECT_FALSE(run.replay({BRK_REVISION, "28 4 2 \"lut2\" [\"src\" \"lut1\" " + unchanged_slots(9) + "]", END}));
        EXPECT_EQ(run.netlist_text(), before);
    }
    {
        // "GND" ties the input low, not high.
        REPLAY run("mrl_gnd.psl");
        run.node("lut2")->add_input_term(DB_DATA_B);
        ASSERT_TRUE(
            run.replay({BRK_REVISION, "28 1 2 \"lut2\" [\"UNCHANGED\" \"GND\" " + unchanged_slots(9) + "]", END}))
            << run.netlist_text();
        const CDB_ATOM_ITERM* data_b = run.node("lut2")->get_input_term_by_type(DB_DATA_B);
        EXPECT_TRUE(data_b->is_gnd());
        EXPECT_FALSE(data_b->is_vcc());
    }
    for (const char* version : {"7.2", "6.0"}) {
        REPLAY run("mrl_not_gnd.psl");
        const std::string revision = std::string("43 0 \"") + version + "\" 6";
        const bool old = std::string(version) == "6.0";
        EXPECT_EQ(run.replay({revision, "28 1 2 \"lut2\" [\"~GND\" " + unchanged_slots(10) + "]", END}), old)
            << version << run.netlist_text();
        // In a newer log "~GND" names no source: the entry fails before
        // its first slot connects; an old log ties B and connects A.
        REPLAY both("mrl_not_gnd_second.psl");
        both.node("lut2")->add_input_term(DB_DATA_B);
        const std::string before = both.netlist_text();
        EXPECT_EQ(both.replay({revision, "28 1 2 \"lut2\" [\"src\" \"~GND\" " + unchanged_slots(9) + "]", END}), old);
        if (old) {
            EXPECT_EQ(both.data_a("lut2")->get_source()->get_my_node(), both.node("src"));
        } else {
            EXPECT_EQ(both.netlist_text(), before) << version;
        }
        // A disconnection takes the input off its source.
        ASSERT_TRUE(both.replay({revision, "28 2 2 \"lut2\" [\"DISCONNECT\" " + unchanged_slots(10) + "]", END}));
        EXPECT_FALSE(both.data_a("lut2")->is_connected()) << version << both.netlist_text();
    }
}

// The slots of a latch's connection record are its roles, not its LUT
// inputs: 2 the enable (D here), 3 the feedback (C), 4 the one other input,
// its data (A). A role the latch lacks, a slot past the roles or a second
// candidate for the data input fails the entry before any edit.
TEST_F(MorvLogMrlReplayTest, ALatchConnectionTakesThePortOfItsRole)
{
    struct ROW
    {
        std::vector<std::pair<size_t, std::string>> slots;
        bool second_data_input;
        // Sources of A, C and D afterwards; empty for a failed entry.
        std::vector<std::string> sources;
    };
    const std::vector<ROW> rows = {
        {{{2, "lut2"}, {4, "lut1"}}, false, {"lut1", "lat", "lut2"}},
        {{{3, "lut2"}}, false, {"lut0", "lut2", "src"}},
        {{{0, "lut1"}}, false, {}},
        {{{1, "lut1"}}, false, {}},
        {{{5, "lut1"}}, false, {}},
        {{{4, "lut1"}}, true, {}},
    };
    for (const ROW& row : rows) {
        REPLAY run("mrl_latch_connect.psl");
        CDB_ATOM_NODE* lat = run.add_atom(CDB_KIND_LCELL_COMB, "lat");
        CDB_ATOM_OTERM* q = lat->add_output_term(DB_COMB_OUT, run.host->names.find_or_create_path("lat", 0));
        lat->add_input_term(DB_DATA_A)->insert_fanin(run.node("lut0")->get_output_term_by_type(DB_COMB_OUT));
        lat->add_input_term(DB_DATA_C)->insert_fanin(q);
        lat->add_input_term(DB_DATA_D)->insert_fanin(run.node("src")->get_output_term_by_type(DB_REG_OUT));
        if (row.second_data_input)
            lat->add_input_term(DB_DATA_B)->insert_fanin(run.node("src")->get_output_term_by_type(DB_REG_OUT));
        auto* info = new CDB_ATOM_LATCH_INFO();
        info->set_full_latch_info(DB_DATA_A, DB_MAX_INPUT_PORT_TYPE, DB_DATA_D, DB_DATA_C, DB_COMB_OUT, 0);
        info->enable_mode = CDB_LATCH_ENABLE_MODE_NON_INVERTED;
        cut_set_atom_latch_info(lat, info);
        lat->set_lutmask(CDB_LUTMASK(6, 0xe4e4e4e4e4e4e4e4ull));
        run.add_output_pin("out1", q);
        std::vector<std::string> slots(11, "\"UNCHANGED\"");
        for (const auto& [slot, source] : row.slots) slots[slot] = "\"" + source + "\"";
        std::string record = "28 1 70 \"lat\" [";
        for (size_t i = 0; i < slots.size(); ++i) record += (i == 0 ? "" : " ") + slots[i];
        record += "]";
        const std::string before = run.netlist_text();
        const MORV_LOG_CAPTURE capture(100);
        const bool replayed = run.replay({BRK_REVISION, record, END});
        ASSERT_EQ(replayed, !row.sources.empty()) << record << "\n" << run.netlist_text();
        if (!replayed) {
            EXPECT_EQ(run.netlist_text(), before) << record;
            const std::vector<std::string> lines = capture.lines();
            const bool two =
                std::find(lines.begin(), lines.end(), "Found two possible data inputs on a latch") != lines.end();
            EXPECT_EQ(two, row.second_data_input || row.slots[0].first < 4) << record;
            continue;
        }
        std::vector<std::string> sources;
        for (int port : {DB_DATA_A, DB_DATA_C, DB_DATA_D})
            sources.push_back(replay_short_name(lat->get_input_term_by_type(port)->get_source()->get_instance_name()));
        EXPECT_EQ(sources, row.sources) << record << "\n" << run.netlist_text();
    }
}

// A register the log inserted is made as a morlin register and takes the
// connections logged for it and for its sinks.
TEST_F(MorvLogMrlReplayTest, AnInsertedRegisterIsAMorlinRegisterBetweenItsLoggedNeighbours)
{
    REPLAY run("mrl_insert_reg.psl");
    ASSERT_TRUE(run.replay(
        {BRK_REVISION, "2 1 70 \"reg1\" \"reg0\" 0 0", "6 2 70 \"reg1\" 18 0", "6 3 70 \"reg1\" 6 0",
         "7 4 70 \"reg1\" \"reg1\" 9",
         // Slot 1 is the data input, slot 5 the clock.
         "29 5 70 \"reg1\" [\"UNCHANGED\" \"lut2\" " + unchanged_slots(3) + " \"src\" " + unchanged_slots(3) + "]",
         "29 6 9 \"reg0\" [\"UNCHANGED\" \"reg1\" " + unchanged_slots(7) + "]", END}))
        << run.netlist_text();
    CDB_ATOM_NODE* inserted = run.node("reg1");
    ASSERT_NE(inserted, nullptr) << run.netlist_text();
    EXPECT_EQ(inserted->get_atom_type(), CDB_ATOM_MORLIN_LCELL_FF_ENUM);
    EXPECT_EQ(inserted->get_input_term_by_type(DB_DATAIN)->get_source()->get_my_node(), run.node("lut2"));
    EXPECT_EQ(inserted->get_input_term_by_type(DB_CLOCK)->get_source()->get_my_node(), run.node("src"));
    EXPECT_EQ(run.node("reg0")->get_input_term_by_type(DB_DATAIN)->get_source()->get_my_node(), inserted);
}

TEST_F(MorvLogMrlReplayTest, ARegisterWithAVccSynchronousLoadFailsItsConnections)
{
    REPLAY run("mrl_sload.psl");
    CDB_ATOM_ITERM* sload = run.node("reg0")->add_input_term(DB_SYNCH_LOAD);
    sload->set_vcc();
    const std::string before = run.netlist_text();
    EXPECT_FALSE(
        run.replay({BRK_REVISION, "29 1 9 \"reg0\" [\"UNCHANGED\" \"lut0\" " + unchanged_slots(7) + "]", END}));
    EXPECT_EQ(run.netlist_text(), before);
}

TEST_F(MorvLogMrlReplayTest, AClockBufferIsReusedOrMadeAndAMissingSourceMakesNone)
{
    REPLAY run("mrl_clkbuf.psl");
    const std::string before = run.netlist_text();
    EXPECT_FALSE(run.replay({BRK_REVISION, "44 1 70 \"clk_buf\" \"lut0\" \"clk_buf\" \"no_such_enable\" 1", END}));
    EXPECT_EQ(run.netlist_text(), before);

    // Made from a cell: the cell's sinks now read the buffer.
    ASSERT_TRUE(run.replay({BRK_REVISION, "44 1 70 \"clk_buf\" \"lut0\" \"clk_buf\" \"\" 1", END}))
        << run.netlist_text();
    CDB_ATOM_NODE* clkbuf = run.node("clk_buf");
    ASSERT_NE(clkbuf, nullptr) << run.netlist_text();
    EXPECT_EQ(clkbuf->get_atom_type(), CDB_ATOM_MORLIN_CLKBUF_ENUM);
    EXPECT_EQ(run.data_a("lut1")->get_source()->get_my_node(), clkbuf);

    // The same buffer under another name is found, not made again.
    const size_t with_buffer = run.host->netlist->get_node_count();
    EXPECT_TRUE(run.replay({BRK_REVISION, "44 1 70 \"other_buf\" \"lut0\" \"other_buf\" \"\" 1", END}));
    EXPECT_EQ(run.host->netlist->get_node_count(), with_buffer);
    EXPECT_EQ(run.log()->find_oterm_by_logged_name("other_buf"), clkbuf->get_output_term_by_type(DB_CLKBUF_OUT));
}

// Of several buffers of the same clock from the same source, a logged clock
// stands for the last that feeds more than signal probes, or for the first
// when none does; a connection to the logged name then reads that buffer.
TEST_F(MorvLogMrlReplayTest, AConfirmedClockIsTheLastMatchingBufferThatFeedsMoreThanProbes)
{
    struct ROW
    {
        std::vector<bool> feeds_probes_only;
        size_t taken;
    };
    const std::vector<ROW> rows = {
        {{false, true}, 0}, {{true, false}, 1}, {{false, false}, 1}, {{true, true}, 0}, {{true, false, true}, 1},
    };
    for (const ROW& row : rows) {
        REPLAY run("mrl_clkbuf_probes.psl");
        for (size_t i = 0; i < row.feeds_probes_only.size(); ++i) {
            const std::string id = std::to_string(i);
            CDB_ATOM_NODE* buffer = run.add_atom(CDB_KIND_CLKBUF, "buf" + id);
            CUT_CLKBUF_UTIL::set_clock_type(buffer, CUT_CLOCK_TYPE_REGIONAL);
            buffer->add_input_term(DB_CLKBUF_IN)->insert_fanin(run.node("src")->get_output_term_by_type(DB_REG_OUT));
            CDB_ATOM_OTERM* clock =
                buffer->add_output_term(DB_CLKBUF_OUT, run.host->names.find_or_create_path("buf" + id, 0));
            CDB_ATOM_NODE* probe = run.add_atom(CDB_KIND_IO, "probe" + id);
            CDB_ATOM_ITERM* probe_in = probe->add_input_term(DB_DATAIN);
            probe_in->set_signal_probe(true);
            probe_in->insert_fanin(clock);
            if (!row.feeds_probes_only[i]) {
                CDB_ATOM_NODE* reg = run.add_register("reg_on" + id);
                reg->add_input_term(DB_CLOCK)->insert_fanin(clock);
                run.add_output_pin("reg_out" + id, reg->get_output_term_by_type(DB_REG_OUT));
            }
        }
        // Another clock type from the same source is no match.
        CDB_ATOM_NODE* other_type = run.add_atom(CDB_KIND_CLKBUF, "global_buf");
        other_type->add_input_term(DB_CLKBUF_IN)->insert_fanin(run.node("src")->get_output_term_by_type(DB_REG_OUT));
        run.node("reg0")->add_input_term(DB_CLOCK)->insert_fanin(
            other_type->add_output_term(DB_CLKBUF_OUT, run.host->names.find_or_create_path("global_buf", 0)));
        const size_t nodes = run.host->netlist->get_node_count();
        ASSERT_TRUE(run.replay({BRK_REVISION, "44 1 70 \"tvii_clk\" \"src\" \"tvii_clk\" \"\" 1",
                                "28 2 1 \"lut1\" [\"tvii_clk\" " + unchanged_slots(10) + "]", END}))
            << run.netlist_text();
        const std::string what = ::testing::PrintToString(row.feeds_probes_only);
        const CDB_ATOM_OTERM* clock = run.data_a("lut1")->get_source();
        ASSERT_NE(clock, nullptr) << what << "\n" << run.netlist_text();
        EXPECT_EQ(replay_short_name(clock->get_instance_name()), "buf" + std::to_string(row.taken))
            << what << "\n"
            << run.netlist_text();
        // No buffer was made; lut0, read by nothing now, went with the sweep.
        EXPECT_EQ(run.host->netlist->get_node_count(), nodes - 1) << what << "\n" << run.netlist_text();
    }
}

TEST_F(MorvLogMrlReplayTest, TheNodeRemoverRunsAfterASuccessfulReplayToo)
{
    REPLAY run("mrl_sweep.psl");
    // A cell that nothing reads.
    HDB_INSTANCE_NAME* name = run.host->names.find_or_create_path("dangling", 0);
    CDB_ATOM_NODE* dangling = cdb_create_atom(24, CDB_KIND_LCELL_COMB, name);
    dangling->set_chip_db_entry(&run.host->chip_entry);
    run.host->netlist->add_node(dangling);
    dangling->add_output_term(DB_COMB_OUT, name);
    EXPECT_TRUE(run.replay({BRK_REVISION, END}));
    EXPECT_EQ(run.node("dangling"), nullptr) << run.netlist_text();
}

}  // namespace

}  // namespace morv_log_mrl_replay_test
