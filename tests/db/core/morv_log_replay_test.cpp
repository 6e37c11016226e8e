#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "cdb/cdb_atom_netlist.h"
#include "cfg/cfg.h"
#include "cut/cut_atom_util.h"
#include "cut/cut_block_util.h"
#include "cut/cut_cell_util.h"
#include "logdb/logdb_fsyn_log_file.h"
#include "logdb/logdb_record_stream.h"
#include "logdb/logdb_text.h"

#include "morv/core/morv_api.h"
#include "morv/log/morv_log.h"
#include "morv_test_env.h"
#include "morv_log_replay_host.h"
#include "morv_test_util.h"
#include "log_records.h"

namespace morv_log_replay_test {

namespace {

const char* const MRL_REVISION = LOG_MRL_REVISION;
const char* const END = LOG_END;

struct REPLAY : MORV_LOG_CHAIN_REPLAY
{
    explicit REPLAY(const std::string& log_name) : MORV_LOG_CHAIN_REPLAY(6, log_name) {}
};

using REPLAY_ON = MORV_LOG_CHAIN_REPLAY;

class MorvLogReplayTest : public MORV_CLEAN_STATE_TEST
{};

// ------------------------------------------------------------------ a stored log is user input

TEST_F(MorvLogReplayTest, ADamagedLogIsRefusedBeforeItsFirstEditWithTheFileAndOffset)
{
    // Each log starts with a good edit (lut1's DATA_A inverted), then goes wrong.
    const std::string first_edit = "15 1 1 \"lut1\" 11 0";
    struct BAD
    {
        std::vector<std::string> lines;
        const char* reason;
    };
    std::vector<BAD> bad_logs = {
        {{MRL_REVISION, first_edit}, "cut short"},
        {{MRL_REVISION, first_edit, "28 2 1 \"lut1\" [\"lut0\"]", END}, "1 slots, not 11"},
        {{MRL_REVISION, first_edit, "29 2 9 \"reg0\" [\"UNCHANGED\" \"UNCHANGED\"]", END}, "not 9"},
        {{MRL_REVISION, first_edit, "27 2 1 \"lut1\" [11] [\"lut0\"] 0x0 [8] [\"lut1\"] 0 \"\" 0", END},
         "input slot 11"},
        {{MRL_REVISION, first_edit, "15 2 1 \"\" 11 0", END}, "empty name"},
        {{MRL_REVISION, first_edit,
          "28 2 1 \"lut1\" [\"\" \"UNCHANGED\" \"UNCHANGED\" \"UNCHANGED\" \"UNCHANGED\" "
          "\"UNCHANGED\" \"UNCHANGED\" \"UNCHANGED\" \"UNCHANGED\" \"UNCHANGED\" \"UNCHANGED\"]",
          END},
         "empty source name"},
        {{MRL_REVISION, first_edit, "8 2 1 \"lut1\" 7 0x1 0", END}, "LUT-mask kind"},
        {{MRL_REVISION, first_edit, "2 2 7 \"new\" \"\" 1 0", END}, "empty name"},
    };
    // Every name a handler looks a node, term, port or partition up by is
    // refused when empty, also when the record's other name is present: a
    // check that wanted both names empty would let a half-named record in.
    const std::vector<std::string> half_named = {
        "3 2 1 \"lut1\" [\"\"] 0",           // deleted node's output
        "7 2 1 \"lut1\" \"\" 8",             // created output
        "23 2 1 \"lut1\" \"\" \"lut1\"",     // boundary port moved from
        "23 2 1 \"lut1\" \"lut1\" \"\"",     // boundary port moved to
        "24 2 1 \"lut1\" 11 0 \"\"",         // boundary port set
        "38 2 1 \"lut1\" \"\"",              // assignments copied from
        "39 2 \"\" \"lut1\" \"lut1\"",       // timing copied from
        "39 2 \"lut1\" \"lut1\" \"\"",       // timing copied to
        "44 2 1 \"\" \"\" \"lut1\" \"\" 0",  // clock buffer's source
        "44 2 1 \"\" \"lut0\" \"\" \"\" 0",  // clock buffer's output
        "45 2 \"top\" \"\"",                 // partition
    };
    for (const std::string& line : half_named)
        bad_logs.push_back({{MRL_REVISION, first_edit, line, END}, "empty name"});
    for (const BAD& bad : bad_logs) {
        REPLAY run("replay_damaged.psl");
        const std::string before = run.netlist_text();
        EXPECT_FALSE(run.replay(bad.lines)) << bad.reason;
        EXPECT_EQ(run.netlist_text(), before) << bad.reason;
        const std::string text = run.posted_text("EMORV_FSYN_LOG_FILE_DAMAGED");
        EXPECT_NE(text.find("replay_damaged.psl: offset "), std::string::npos) << text;
        EXPECT_NE(text.find(bad.reason), std::string::npos) << text;
    }
}

TEST_F(MorvLogReplayTest, ChangedBytesAndACutAnywhereAreRefusedAndTheNetlistStays)
{
    REPLAY run("replay_bytes.psl");
    run.write({MRL_REVISION, "15 1 1 \"lut1\" 11 0", "15 2 2 \"lut2\" 11 0", END});
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

// ------------------------------------------------------------------ the driver

TEST_F(MorvLogReplayTest, AnEmptyLogAndSkippedKindsChangeNothing)
{
    REPLAY run("replay_empty.psl");
    const std::string before = run.netlist_text();
    // A written log of no records still holds its closing record.
    std::ofstream(run.name, std::ios::binary | std::ios::trunc) << logdb_encode_chained_record(nullptr, 0, 0, 0);
    EXPECT_TRUE(run.log()->reproduce_log());
    EXPECT_EQ(run.netlist_text(), before);
    // A file of no bytes is what a full disk or a killed copy leaves.
    EXPECT_FALSE(run.replay({}));
    EXPECT_NE(
        run.posted_text("EMORV_FSYN_LOG_FILE_DAMAGED").find("replay_empty.psl: offset 0: the file holds no record"),
        std::string::npos);
    EXPECT_EQ(run.netlist_text(), before);
    // Kinds written and never replayed.
    EXPECT_TRUE(run.replay({MRL_REVISION, "1 1", "12 2 1 \"lut1\" 11 0 8 3", "13 3 1 \"lut1\" 11 0 8 1",
                            "18 4 1 \"lut1\" 11 0", "20 5 1 \"lut1\" 8 \"other\"", END}));
    EXPECT_EQ(run.netlist_text(), before);
}

// With dumps on, the netlist is written before the replay and again after
// it, the second one being what the replay made.
TEST_F(MorvLogReplayTest, WithDumpsOnTheNetlistIsWrittenBeforeAndAfterTheReplay)
{
    cfg_set_value("fsyn_enable_netlist_dump", "on");
    REPLAY run("replay_dump.psl");
    const std::string project = run.env->get_project_name();
    for (const char* suffix : {".pre_log", ".post_log"}) std::remove((project + suffix).c_str());
    EXPECT_TRUE(run.replay({MRL_REVISION, "15 1 1 \"lut1\" 11 0", END}));
    for (const char* suffix : {".pre_log", ".post_log"}) {
        EXPECT_TRUE(std::ifstream(project + suffix).good()) << suffix;
        std::remove((project + suffix).c_str());
    }
    cfg_set_value("fsyn_enable_netlist_dump", "off");
}

TEST_F(MorvLogReplayTest, StoredStatesReplayOnlyUnderTheirRevision)
{
    const std::string state = "27 5 1 \"lut1\" [0] [\"lut0\"] 0x5555555555555555 [8] [\"lut1\"] 0 \"\" 0";
    {
        // No revision record: the log counts as "5.1".
        REPLAY run("replay_revision.psl");
        EXPECT_FALSE(run.replay({state, END}));
        EXPECT_EQ(count_posted("EMORV_FSYN_LOG_CREATED_FROM_WRONG_VELMORA_REVISION"), 1);
    }
    {
        REPLAY run("replay_revision.psl");
        EXPECT_TRUE(run.replay({MRL_REVISION, state, END}));
        EXPECT_EQ(run.log()->get_log_version(), "7.2");
        EXPECT_FALSE(run.replay({MRL_REVISION, "43 9 \"6.0\" 24", state, END}));
        EXPECT_EQ(count_posted("EMORV_FSYN_LOG_CREATED_FROM_WRONG_VELMORA_REVISION"), 1);
    }
    {
        // A high-speed adder's state is rebuilt as the pair of cells that
        // takes over its output.
        REPLAY run("replay_revision.psl");
        const std::string adder = "27 5 1 \"lut1\" [0] [\"lut0\"] 0x0 [437] [\"lut1\"] 3 \"\" 0";
        EXPECT_TRUE(run.replay({MRL_REVISION, adder, END}));
        EXPECT_EQ(run.node("lut1"), nullptr) << run.netlist_text();
        ASSERT_NE(run.node("lut1_HS_ADDER_NODE1"), nullptr) << run.netlist_text();
        EXPECT_EQ(run.data_a("lut2")->get_source()->get_my_node(), run.node("lut1_HS_ADDER_NODE1"));
    }
}

TEST_F(MorvLogReplayTest, AFailingEntryStopsTheReplayAndKeepsUnusedClockBuffers)
{
    for (bool fail : {false, true}) {
        REPLAY run("replay_stop.psl");
        HDB_INSTANCE_NAME* clk_name = run.host->names.find_or_create_path("clkbuf0", 0);
        CDB_ATOM_NODE* clkbuf = CUT_CLKBUF_UTIL::create_clkbuf_atom(nullptr, 0, 6, clk_name);
        clkbuf->set_chip_db_entry(&run.host->chip_entry);
        run.host->netlist->add_node(clkbuf);
        clkbuf->add_output_term(DB_CLKBUF_OUT, clk_name);
        std::vector<std::string> lines = {MRL_REVISION, "15 1 1 \"lut1\" 11 0"};
        if (fail) lines.push_back("15 2 1 \"no_such_node\" 11 0");
        lines.push_back("15 3 2 \"lut2\" 11 0");
        lines.push_back(END);
        EXPECT_EQ(run.replay(lines), !fail);
        ASSERT_NE(run.node("lut2"), nullptr) << run.netlist_text();
        EXPECT_TRUE(run.data_a("lut1")->is_inverted());
        EXPECT_EQ(run.data_a("lut2")->is_inverted(), !fail);
        EXPECT_EQ(run.node("clkbuf0") != nullptr, fail);
    }
}

// ------------------------------------------------------------------ inserted and deleted nodes

// A log edited and sealed again reads as whole: what it lacks shows only as
// the replay goes. The user is told which record of which file stopped it.
TEST_F(MorvLogReplayTest, ARecordThatCannotBeReproducedIsNamedWithItsFileAndOffset)
{
    auto slots = [](const std::vector<std::string>& set, size_t count) {
        std::string text = "[";
        for (size_t i = 0; i < count; ++i)
            text.append(i == 0 ? "" : " ")
                .append("\"")
                .append(i < set.size() && !set[i].empty() ? set[i] : "UNCHANGED")
                .append("\"");
        return text + "]";
    };
    // Register newreg made from reg0 with its data and clock inputs and its
    // output, read by the pin out0 in place of reg0.
    const std::vector<std::string> made = {"2 1 50 \"newreg\" \"reg0\" 0 0", "6 2 50 \"newreg\" 18 0",
                                           "6 3 50 \"newreg\" 6 0", "7 4 50 \"newreg\" \"newreg\" 9"};
    const std::string read_by_pin = "30 5 9 \"out0\" " + slots({"", "", "newreg"}, 16);
    const std::string data_only = "29 6 50 \"newreg\" " + slots({"", "lut2"}, 9);
    const std::string data_and_clock = "29 6 50 \"newreg\" " + slots({"", "lut2", "", "", "", "src"}, 9);
    struct CASE
    {
        bool makes_register;
        std::vector<std::string> body;
        const char* expected;  // null: the replay succeeds
    };
    const std::vector<CASE> cases = {
        {false,
         {"28 1 1 \"lut1\" " + slots({"made_later"}, 11)},
         "ADD_REMOVE_CONNECTION_LCELL_COMB record of node lut1: it names the source made_later, which does not exist"},
        {false, {"15 1 1 \"no_such_node\" 11 0"}, "record of node no_such_node: it names the node no_such_node"},
        {true,
         {read_by_pin},
         "INSERT_ATOM record of node newreg: it makes register newreg, which drives other nodes but has no data input"},
        {true, {read_by_pin, data_only}, "register newreg, which drives other nodes but has no clock"},
        {true, {read_by_pin, data_and_clock}, nullptr},
        {true, {}, nullptr},  // a register that drives nothing is swept with what it lacks
    };
    for (const CASE& c : cases) {
        std::vector<std::string> lines = {MRL_REVISION};
        if (c.makes_register) lines.insert(lines.end(), made.begin(), made.end());
        lines.insert(lines.end(), c.body.begin(), c.body.end());
        lines.push_back(END);
        REPLAY run("replay_named.psl");
        EXPECT_EQ(run.replay(lines), c.expected == nullptr) << lines[1];
        const std::string text = run.posted_text("EMORV_FSYN_LOG_ENTRY_NOT_REPRODUCED");
        if (c.expected == nullptr) {
            EXPECT_EQ(text, "") << lines[1];
            const CDB_ATOM_OTERM* pin_source = run.node("out0")->get_input_term_by_type(DB_DATAIN)->get_source();
            EXPECT_EQ(pin_source->get_my_node(), run.node(c.body.empty() ? "reg0" : "newreg")) << run.netlist_text();
            continue;
        }
        EXPECT_NE(text.find("replay_named.psl: offset "), std::string::npos) << text;
        EXPECT_NE(text.find(c.expected), std::string::npos) << text;
        EXPECT_EQ(count_posted("EMORV_FSYN_LOG_ENTRY_NOT_REPRODUCED"), 1) << text;
    }
}

TEST_F(MorvLogReplayTest, InsertedNodesAreAnnouncedAtTheEndAndADeletedPendingNodeBeforeIt)
{
    REPLAY run("replay_insert.psl");
    // A missing source fails the entry.
    EXPECT_FALSE(run.replay({MRL_REVISION, "2 1 50 \"copy\" \"no_such_term\" 1 0", END}));
    EXPECT_EQ(run.node("copy"), nullptr);

    // Inserted after the last flush point: announced when the replay ends.
    run.env->m_events.clear();
    ASSERT_TRUE(run.replay({MRL_REVISION, "2 1 50 \"copy\" \"lut0\" 1 0", "2 2 51 \"copy_reg\" \"reg0\" 0 0", END}));
    CDB_ATOM_NODE* copy = run.node("copy");
    CDB_ATOM_NODE* copy_reg = run.node("copy_reg");
    ASSERT_NE(copy, nullptr);
    ASSERT_NE(copy_reg, nullptr);
    EXPECT_TRUE(copy->is_lcell_comb());
    ASSERT_NE(copy_reg->get_input_term_by_type(DB_CLEAR), nullptr);
    EXPECT_TRUE(copy_reg->get_input_term_by_type(DB_CLEAR)->is_vcc());
    int announced = 0;
    for (const std::string& event : run.env->m_events)
        announced += event == std::string("node_added ").append(std::to_string(copy->get_id())) ||
                     event == std::string("node_added ").append(std::to_string(copy_reg->get_id()));
    EXPECT_EQ(announced, 2);
    EXPECT_EQ(run.log()->get_pending_insert_count(), 0u);

    // A copy reaches the host as a duplicate filed under its output's port
    // type; port type 0 would file it under no output the node has.
    run.env->m_events.clear();
    ASSERT_TRUE(run.replay({MRL_REVISION, "2 1 52 \"dup\" \"lut0\" 1 1", "7 2 52 \"dup\" \"dup\" 8", END}));
    CDB_ATOM_NODE* dup = run.node("dup");
    ASSERT_NE(dup, nullptr);
    const std::string origin = std::to_string(run.node("lut0")->get_id());
    const std::string copied = "record " + std::to_string(dup->get_id()) + " " + origin + " " +
                               std::to_string(MORV_MODIFICATION_DUPLICATE) + " " + std::to_string(DB_COMB_OUT);
    EXPECT_EQ(std::count(run.env->m_events.begin(), run.env->m_events.end(), copied), 1) << copied;

    // A name that stands for a node already is no new node.
    EXPECT_FALSE(run.replay({MRL_REVISION, "2 1 50 \"copy\" \"lut0\" 1 0", END}));

    // After the first delete, a node inserted and deleted again: it is
    // announced before it goes, and nothing announces it once freed.
    ASSERT_TRUE(run.replay({MRL_REVISION, "3 1 9 \"reg0\" [\"reg0\"] 0", "2 2 60 \"twin\" \"lut0\" 1 0",
                            "7 3 60 \"twin\" \"twin\" 8", "3 4 60 \"twin\" [\"twin\"] 0", END}));
    EXPECT_EQ(run.node("twin"), nullptr);
    EXPECT_EQ(run.node("reg0"), nullptr);
}

TEST_F(MorvLogReplayTest, ACellThatStillDrivesIsKeptWithAWarningNamingIt)
{
    REPLAY run("replay_delete.psl");
    EXPECT_TRUE(run.replay({MRL_REVISION, "3 1 1 \"lut1\" [\"lut1\"] 0", END}));
    EXPECT_NE(run.node("lut1"), nullptr);
    EXPECT_NE(run.posted_text("WMORV_FSYN_LOG_NODE_STILL_HAS_FANOUT").find("lut1"), std::string::npos);
    // Without fanout it goes; a register's sinks are tied to GND.
    EXPECT_TRUE(run.replay({MRL_REVISION, "3 1 9 \"reg0\" [\"reg0\"] 0", "3 2 2 \"lut2\" [\"lut2\"] 0", END}));
    EXPECT_EQ(run.node("lut2"), nullptr);
    EXPECT_EQ(run.node("reg0"), nullptr);
    EXPECT_FALSE(run.node("lut1")->get_output_term_by_type(DB_COMB_OUT)->has_fanout());
    CDB_ATOM_ITERM* pin_input = run.node("out0")->get_input_term_by_type(DB_DATAIN);
    EXPECT_TRUE(pin_input->is_gnd());
    EXPECT_FALSE(pin_input->is_vcc());
}

// A deleted node's name is free again within the same log: a lookup table
// that kept the freed node under it would refuse the new one as a twin.
TEST_F(MorvLogReplayTest, ADeletedNodesNameMayBeInsertedAgain)
{
    REPLAY run("replay_rename.psl");
    ASSERT_TRUE(run.replay({MRL_REVISION, "3 1 9 \"reg0\" [\"reg0\"] 0", "3 2 2 \"lut2\" [\"lut2\"] 0",
                            "2 3 61 \"lut2\" \"lut1\" 1 0", "40 4 61 \"lut2\"", END}))
        << run.netlist_text();
    ASSERT_NE(run.node("lut2"), nullptr);
    EXPECT_TRUE(run.node("lut2")->is_user_lcell());
}

// ------------------------------------------------------------------ term handlers

TEST_F(MorvLogReplayTest, TermEntriesFailOnAMissingNodeOrTermAndRegistersMayLackOne)
{
    REPLAY run("replay_terms.psl");
    const std::string before = run.netlist_text();
    for (const char* missing :
         {"15 1 1 \"ghost\" 11 0", "14 1 1 \"lut1\" 12 0", "9 1 1 \"ghost\" 11 0 12", "16 1 1 \"lut1\" 13 0 3",
          "26 1 1 \"ghost\" 11 0 1 0 0 0 0 0", "40 1 1 \"ghost\"", "41 1 1 \"lut1\" 9", "8 1 1 \"reg0\" 0 0x1 0",
          "45 1 \"part\" \"part\"", "6 1 1 \"lut1\" 11 3", "19 1 1 \"ghost\" 11",
          "24 1 1 \"lut1\" 11 0 \"no_such_port\"", "38 1 1 \"lut1\" \"ghost\"", "38 1 1 \"ghost\" \"lut1\"",
          // lut2 has no input B to tie, and its input A must stay as it was.
          "28 1 2 \"lut2\" [\"src\" \"VCC\" \"UNCHANGED\" \"UNCHANGED\" \"UNCHANGED\" \"UNCHANGED\" \"UNCHANGED\" "
          "\"UNCHANGED\" \"UNCHANGED\" \"UNCHANGED\" \"UNCHANGED\"]"}) {
        EXPECT_FALSE(run.replay({"43 0 \"7.2\" 24", missing, END})) << missing;
        EXPECT_EQ(run.netlist_text(), before) << missing;
    }
    // A register of this family without the logged term is left as it is.
    EXPECT_TRUE(run.replay({MRL_REVISION, "19 1 9 \"reg0\" 30", "25 2 9 \"reg0\" 30 0", END}));
    EXPECT_EQ(run.netlist_text(), before);
    // Clearing an inversion that is not there, or a global setting already
    // there, changes nothing.
    EXPECT_TRUE(run.replay({MRL_REVISION, "14 1 1 \"lut1\" 11 0", "16 2 1 \"lut1\" 11 0 0", END}));
    EXPECT_EQ(run.netlist_text(), before);
    EXPECT_TRUE(run.replay({MRL_REVISION, "16 1 1 \"lut1\" 11 0 3", END}));
    EXPECT_EQ(run.data_a("lut1")->get_global(), 3);
    // An inversion that is there is cleared.
    EXPECT_TRUE(run.replay({MRL_REVISION, "15 1 1 \"lut1\" 11 0", END}));
    ASSERT_TRUE(run.data_a("lut1")->is_inverted());
    EXPECT_TRUE(run.replay({MRL_REVISION, "14 1 1 \"lut1\" 11 0", END}));
    EXPECT_FALSE(run.data_a("lut1")->is_inverted());
    // Assignments go from the second node named to the first.
    CDB_ATOM_ASSIGNMENTS kept;
    kept.dont_touch = true;
    run.node("lut0")->set_assignments(kept);
    EXPECT_TRUE(run.replay({MRL_REVISION, "38 1 1 \"lut1\" \"lut0\"", END}));
    EXPECT_TRUE(run.node("lut1")->get_assignments().dont_touch);
}

TEST_F(MorvLogReplayTest, CreateIntermReplacesTheTermAndOldRevisionsIgnoreTheIndex)
{
    REPLAY run("replay_iterm.psl");
    CDB_ATOM_ITERM* old_term = run.data_a("lut1");
    ASSERT_TRUE(old_term->is_driven());
    // Under "5.1" (no revision record) index 3 is read as 0.
    EXPECT_TRUE(run.replay({"6 1 1 \"lut1\" 11 3", END}));
    CDB_ATOM_ITERM* new_term = run.data_a("lut1");
    ASSERT_NE(new_term, nullptr);
    EXPECT_FALSE(new_term->is_connected());
    EXPECT_FALSE(run.node("lut0")->get_output_term_by_type(DB_COMB_OUT)->has_fanout());
    // Under "7.2" an ordered input takes no other index than 0.
    EXPECT_FALSE(run.replay({MRL_REVISION, "6 1 1 \"lut1\" 11 3", END}));
    EXPECT_TRUE(run.replay({MRL_REVISION, "6 1 1 \"lut1\" 12 0", END}));
    EXPECT_NE(run.node("lut1")->get_input_term_by_type(DB_DATA_B), nullptr);
}

// ------------------------------------------------------------------ a RAM block's terms

// ram0 reads lut0 on its data input and lut1 on its write enable; its
// data outputs 0 and 1 ("ram0~q0", "ram0~q1") drive output pins.
CDB_ATOM_NODE* add_ram(REPLAY& run)
{
    CDB_ATOM_NODE* ram = run.add_atom(CDB_KIND_RAM, "ram0");
    ram->add_input_term(DB_RAM_PORTA_DATAIN)->insert_fanin(run.node("lut0")->get_output_term_by_type(DB_COMB_OUT));
    ram->add_input_term(DB_RAM_PORTA_WE)->insert_fanin(run.node("lut1")->get_output_term_by_type(DB_COMB_OUT));
    for (int bit = 0; bit < 2; ++bit) {
        const std::string name = "ram0~q" + std::to_string(bit);
        CDB_ATOM_OTERM* out =
            ram->add_output_term(DB_RAM_PORTA_DATAOUT, run.host->names.find_or_create_path(name, 0), bit);
        run.add_output_pin("pin_q" + std::to_string(bit), out);
    }
    return ram;
}

// The connection list of a block: "DISCONNECT" only disconnects, "VCC"
// only ties (each handled as the other would leave the data input driven
// and the enable floating).
TEST_F(MorvLogReplayTest, ABlocksConnectionListDisconnectsAndTies)
{
    REPLAY run("replay_ram_connect.psl");
    CDB_ATOM_NODE* ram = add_ram(run);
    ASSERT_TRUE(run.replay({MRL_REVISION, "31 1 90 \"ram0\" [\"DISCONNECT\" \"VCC\"] [78 85] [0 0]", END}))
        << run.netlist_text();
    const CDB_ATOM_ITERM* data = ram->get_input_term_by_type(DB_RAM_PORTA_DATAIN);
    const CDB_ATOM_ITERM* enable = ram->get_input_term_by_type(DB_RAM_PORTA_WE);
    EXPECT_FALSE(data->is_connected());
    EXPECT_EQ(data->get_source(), nullptr);
    EXPECT_TRUE(enable->is_vcc());
    EXPECT_EQ(enable->get_source(), nullptr);
}

// A removed output's name names nothing afterwards: moving a boundary port
// from it fails instead of reading the freed term.
TEST_F(MorvLogReplayTest, ARemovedOutputIsNoLongerFoundByItsName)
{
    REPLAY run("replay_ram_output.psl");
    CDB_ATOM_NODE* ram = add_ram(run);
    ASSERT_TRUE(run.replay({MRL_REVISION, "2 1 70 \"probe\" \"ram0~q1\" 1 0", END}));
    EXPECT_FALSE(run.replay({MRL_REVISION, "21 1 90 \"ram0\" 40 1", "23 2 90 \"ram0\" \"ram0~q1\" \"lut0\"", END}));
    EXPECT_EQ(ram->get_output_term_by_type(DB_RAM_PORTA_DATAOUT, 1), nullptr);
    EXPECT_NE(ram->get_output_term_by_type(DB_RAM_PORTA_DATAOUT, 0), nullptr);
    EXPECT_EQ(run.node("copy"), nullptr);
}

// A deleted register's combinational sinks have their state stored first
// in the log the replay writes, before they read GND.
TEST_F(MorvLogReplayTest, ADeletedRegistersSinkCellIsStoredBeforeItIsTied)
{
    REPLAY run("replay_reg_sinks.psl");
    ASSERT_TRUE(run.replay({MRL_REVISION, "3 1 90 \"src\" [\"src\"] 0", END})) << run.netlist_text();
    const std::vector<std::string> lines = pending_record_lines(*run.log());
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].rfind("STORE_NODE_INFO ", 0), 0u) << lines[0];
    EXPECT_NE(lines[0].find(" \"lut0\" "), std::string::npos) << lines[0];
}

// A register's data input logged as ground reads the ground cell the host
// keeps; without one it is tied to the constant itself.
TEST_F(MorvLogReplayTest, ARegistersGroundedDataInputReadsTheHostsGroundCell)
{
    for (bool with_cell : {false, true}) {
        REPLAY run("replay_reg_gnd.psl");
        if (with_cell) {
            CDB_ATOM_NODE* gnd = run.add_atom(CDB_KIND_LCELL_COMB, "gnd_cell");
            gnd->add_output_term(DB_COMB_OUT, run.host->names.find_or_create_path("gnd_cell", 0));
            gnd->set_lutmask(CDB_LUTMASK(6, 0));
            run.env->m_gnd_lcell = gnd;
        }
        // Slot 1 of a register's list is its data input.
        ASSERT_TRUE(run.replay({MRL_REVISION, "29 1 9 \"reg0\" " + slot_list(9, {{1, "GND"}}), END}))
            << with_cell << "\n"
            << run.netlist_text();
        ASSERT_NE(run.node("reg0"), nullptr) << run.netlist_text();
        const CDB_ATOM_ITERM* data = run.node("reg0")->get_input_term_by_type(DB_DATAIN);
        if (with_cell) {
            ASSERT_NE(data->get_source(), nullptr) << run.netlist_text();
            EXPECT_EQ(data->get_source()->get_my_node(), run.node("gnd_cell"));
        } else {
            EXPECT_TRUE(data->is_gnd()) << run.netlist_text();
        }
    }
}

// A DSP block's register and width settings reach the block of that name,
// and no other kind of node takes them; cleared and copied assignments
// reach any node.
TEST_F(MorvLogReplayTest, DspPortSettingsAndClearedAssignmentsReachTheNamedNode)
{
    REPLAY run("replay_mac.psl");
    CDB_ATOM_NODE* mac = run.add_atom(CDB_KIND_MAC_MULT, "mac0");
    mac->add_input_term(DB_DATA_A)->insert_fanin(run.node("lut0")->get_output_term_by_type(DB_COMB_OUT));
    run.add_output_pin("pin_m", mac->add_output_term(DB_DATA_OUT, run.host->names.find_or_create_path("mac0", 0)));
    ASSERT_TRUE(run.replay({MRL_REVISION, "32 1 80 \"mac0\" 2 5", "33 2 80 \"mac0\" 2 3", "34 3 80 \"mac0\" 11 1",
                            "35 4 80 \"mac0\" 11 2", "36 5 80 \"mac0\" 12 9", END}))
        << run.netlist_text();
    EXPECT_EQ(CUT_MAC_UTIL::get_output_port_clock(mac, DB_DATA_OUT), 5);
    EXPECT_EQ(CUT_MAC_UTIL::get_output_port_clear(mac, DB_DATA_OUT), 3);
    EXPECT_EQ(CUT_MAC_UTIL::get_input_port_clock(mac, DB_DATA_A), 1);
    EXPECT_EQ(CUT_MAC_UTIL::get_input_port_clear(mac, DB_DATA_A), 2);
    EXPECT_EQ(CUT_MAC_UTIL::get_input_port_width(mac, DB_DATA_B), 9);
    // The widths and slots of the other ports stay.
    EXPECT_EQ(CUT_MAC_UTIL::get_input_port_clock(mac, DB_DATA_B), CUT_MAC_NO_CLOCK);
    EXPECT_EQ(CUT_MAC_UTIL::get_input_port_width(mac, DB_DATA_A), 1);

    const std::string before = run.netlist_text();
    for (const char* wrong : {"32 1 1 \"lut1\" 2 5", "36 1 1 \"lut1\" 11 4", "34 1 1 \"ghost\" 11 1"})
        EXPECT_FALSE(run.replay({MRL_REVISION, wrong, END})) << wrong;
    EXPECT_EQ(run.netlist_text(), before);

    CDB_ATOM_ASSIGNMENTS kept;
    kept.dont_touch = true;
    run.node("lut1")->set_assignments(kept);
    EXPECT_FALSE(run.replay({MRL_REVISION, "37 1 1 \"ghost\"", END}));
    EXPECT_TRUE(run.node("lut1")->get_assignments().dont_touch);
    EXPECT_TRUE(run.replay({MRL_REVISION, "37 1 1 \"lut1\"", END}));
    EXPECT_FALSE(run.node("lut1")->get_assignments().dont_touch);

    // A copy's timing assignments come from the output it was made from; a
    // name this netlist lacks is passed over.
    const auto created_from = [&] { return run.host->netlist->get_created_from_map(); };
    const size_t known = created_from().size();
    EXPECT_TRUE(run.replay({MRL_REVISION, "39 1 \"reg0\" \"reg0\" \"ghost\"", END}));
    EXPECT_EQ(created_from().size(), known);
    EXPECT_TRUE(run.replay({MRL_REVISION, "39 1 \"reg0\" \"reg0\" \"lut2\"", END}));
    ASSERT_EQ(created_from().size(), known + 1);
    EXPECT_EQ(replay_short_name(created_from().back().first), "lut2");
    EXPECT_EQ(replay_short_name(created_from().back().second), "reg0");
}

// ------------------------------------------------------------------ writers, the file and a replay

bool has_line(const std::vector<std::string>& lines, const std::string& line)
{
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

// Both copies of the chain compute the same: lut0 and lut1 pass DATA_A on
// (the brennock family numbers the mask's rows the other way round), lut2
// computes DATA_A xor DATA_B with src on DATA_B, and reg0 has a clock from
// src on the global network.
void add_setting_terms(REPLAY_ON& run)
{
    if (run.family == 6)
        for (const char* wire : {"lut0", "lut1"}) run.node(wire)->set_lutmask(CDB_LUTMASK(6, 0x5555555555555555ull));
    CDB_ATOM_OTERM* src = run.node("src")->get_output_term_by_type(DB_REG_OUT);
    run.node("lut2")->add_input_term(DB_DATA_B)->insert_fanin(src);
    run.node("lut2")->set_lutmask(CDB_LUTMASK(6, 0x6666666666666666ull));
    CDB_ATOM_ITERM* clock = run.node("reg0")->add_input_term(DB_CLOCK);
    clock->insert_fanin(src);
    clock->set_global(3);
}

// The writers of single settings on a compile of one family, through the
// merged log file and a replay on the other family's copy of the netlist:
// the file gives back what each wrote, the replay repeats a cleared global
// setting, a ground tie and a mask written through the cell's own setter,
// and passes over the kinds that are written only.
TEST_F(MorvLogReplayTest, SettingWritersReachTheFileAndTheOtherFamilysReplay)
{
    const std::string final_name = "db/top.cmp.psl";
    std::filesystem::create_directories("db");
    MORV_LOG::delete_chunk_files();
    std::filesystem::remove(final_name);
    std::vector<std::string> written;
    // The cell's own function of DATA_A alone, by its own evaluator.
    auto function_of_a = [](CDB_ATOM_NODE* lut) {
        std::string rows;
        for (unsigned a = 0; a < 2; ++a) {
            unsigned in[CDB_ATOM_NODE::EVALUATE_INPUT_COUNT] = {};
            in[0] = a;
            rows += std::to_string(lut->evaluate_output(DB_COMB_OUT, in));
        }
        return rows;
    };
    std::string inverted_a;
    {
        REPLAY_ON source(6, "source_unused.psl", true);
        add_setting_terms(source);
        MORV_LOG* log = source.log();
        log->clear_pending_entries();
        CDB_ATOM_NODE* lut0 = source.node("lut0");
        CDB_ATOM_NODE* lut1 = source.node("lut1");
        CDB_ATOM_NODE* lut2 = source.node("lut2");
        CDB_ATOM_NODE* reg0 = source.node("reg0");
        CDB_ATOM_ITERM* a1 = source.data_a("lut1");
        // A mask written through the cell's own setter: DATA_A inverted (in
        // this family's bit order, the last row is all inputs low); the
        // cell's state before the change is stored first, as the editing
        // layer does.
        log->store_node_info_before_change(lut0);
        lut0->set_lutmask(CDB_LUTMASK(6, 0xaaaaaaaaaaaaaaaaull), 1);
        inverted_a = function_of_a(lut0);
        ASSERT_EQ(inverted_a, "10");
        log->log_set_lutmask_via_node(lut0, lut0->get_lutmask(), 1);
        log->log_clear_global(reg0->get_input_term_by_type(DB_CLOCK));
        log->log_connect_to_gnd(lut2->get_input_term_by_type(DB_DATA_B));
        log->log_clear_usage_as(a1, DB_DATA_C);
        log->log_set_delay_chain_index(a1, DB_DELAY_CHAIN_INPUT, 5);
        log->log_set_user_delay_chain(a1, DB_DELAY_CHAIN_INPUT, true);
        log->log_set_instance_name(lut1, DB_COMB_OUT, "renamed");
        const int b_slot = MORV_LOG::get_connection_slot(DB_DATA_B, lut2->get_atom_type());
        written = {
            log_line("SET_LUTMASK", lut0, "2 0xaaaaaaaaaaaaaaaa 1"),
            log_line("CLEAR_GLOBAL", reg0, "6 0"),
            log_line("ADD_REMOVE_CONNECTION_LCELL_COMB", lut2,
                     slot_list(static_cast<size_t>(MORV_LOG::get_connection_slot_count(lut2->get_atom_type())),
                               {{static_cast<size_t>(b_slot), "GND"}})),
            log_line("CLEAR_USAGE_AS", lut1, "13 0"),
            log_line("SET_DELAY_CHAIN_INDEX", lut1, "11 0 8 5"),
            log_line("SET_USER_DELAY_CHAIN", lut1, "11 0 8 1"),
            log_line("SET_INSTANCE_NAME", lut1, "8 \"renamed\""),
        };
        // As the flow driver closes a flow's part of the log.
        log->ensure_open_chunk();
        log->write_pending_entries();
        log->write_marker(LOGDB_FSYN_LOG_OPERATION_END_OF_LOG);
        log->get_log_file()->close();
        log->merge_log_files(final_name);
        MORV_LOG::delete_chunk_files();
        ASSERT_EQ(MORV_LOG::settle_final_files(true), "");
    }
    const std::vector<std::string> read_back = file_lines(final_name);
    for (const std::string& line : written) EXPECT_TRUE(has_line(read_back, line)) << line;

    REPLAY_ON target(24, final_name);
    add_setting_terms(target);
    ASSERT_TRUE(target.log()->reproduce_log()) << target.netlist_text();
    EXPECT_EQ(count_posted("WMORV_FSYN_LOG_NODE_CHANGED_SINCE_RECORDING"), 0);
    // The clock is off the global network, lut2 reads only lut1 now, lut0
    // inverts what it reads.
    EXPECT_EQ(target.node("reg0")->get_input_term_by_type(DB_CLOCK)->get_global(), 0);
    CDB_ATOM_NODE* lut2 = target.node("lut2");
    ASSERT_NE(lut2, nullptr) << target.netlist_text();
    const CDB_ATOM_ITERM* b2 = lut2->get_input_term_by_type(DB_DATA_B);
    EXPECT_TRUE(b2 == nullptr || !b2->is_driven() || b2->is_gnd()) << target.netlist_text();
    EXPECT_EQ(target.data_a("lut2")->get_source()->get_my_node(), target.node("lut1"));
    EXPECT_EQ(function_of_a(lut2), "01") << target.netlist_text();
    EXPECT_EQ(function_of_a(target.node("lut0")), inverted_a) << target.netlist_text();
    // Written only: lut1 keeps its name, its input's usage and delay chain.
    const CDB_ATOM_ITERM* a1 = target.data_a("lut1");
    ASSERT_NE(a1, nullptr);
    EXPECT_EQ(a1->get_source()->get_my_node(), target.node("lut0"));
    EXPECT_TRUE(a1->is_used_as(DB_DATA_A));
    EXPECT_FALSE(a1->has_user_delay_chain(DB_DELAY_CHAIN_INPUT));
    EXPECT_EQ(target.node("renamed"), nullptr);
}

// ------------------------------------------------------------------ LUT masks between the families

// Both families' evaluators agree on every input row once a mask recorded on
// one is converted for the other.
TEST_F(MorvLogReplayTest, AConvertedMaskComputesTheSameFunctionOnTheOtherFamily)
{
    const uint64_t masks[] = {0x0123456789abcdefull, 0xf0d0e0c0f0f0f0full, 0x8000000000000001ull};
    for (uint64_t mask : masks) {
        for (int mrl_first = 0; mrl_first < 2; ++mrl_first) {
            const int from_family = mrl_first ? 24 : 6;
            const int to_family = mrl_first ? 6 : 24;
            auto from = std::unique_ptr<CDB_ATOM_NODE>(cdb_create_atom(from_family, CDB_KIND_LCELL_COMB, nullptr));
            auto to = std::unique_ptr<CDB_ATOM_NODE>(cdb_create_atom(to_family, CDB_KIND_LCELL_COMB, nullptr));
            for (int port = DB_DATA_A; port <= DB_DATA_F; ++port) {
                from->add_input_term(port);
                to->add_input_term(port);
            }
            from->set_lutmask(CDB_LUTMASK(6, mask));
            to->set_lutmask(MORV_LOG::convert_lutmask_bit_order(mask, false, false));
            for (unsigned row = 0; row < 64; ++row) {
                unsigned in[CDB_ATOM_NODE::EVALUATE_INPUT_COUNT] = {};
                for (int k = 0; k < 6; ++k) in[k] = (row >> k) & 1u;
                ASSERT_EQ(from->evaluate_output(DB_COMB_OUT, in), to->evaluate_output(DB_COMB_OUT, in))
                    << std::hex << mask << " row " << row << " from " << from_family;
            }
        }
    }
}

TEST_F(MorvLogReplayTest, ArithmeticAndExtendedMasksConvertOnlyTheirLutInputs)
{
    const uint64_t mask = 0x0000abcd00001234ull;
    // Arithmetic: each 16-bit half reversed on its own, the rest dropped.
    const CDB_LUTMASK arithmetic = MORV_LOG::convert_lutmask_bit_order(mask, false, true);
    CDB_LUTMASK low(4, 0x1234);
    CDB_LUTMASK high(4, 0xabcd);
    low.mirror_mask();
    high.mirror_mask();
    EXPECT_EQ(arithmetic.get_value(), (high.get_value() << 32) | low.get_value());
    // Extended: inputs 0 to 3 complemented, E and F left in place.
    const CDB_LUTMASK extended = MORV_LOG::convert_lutmask_bit_order(mask, true, false);
    for (unsigned row = 0; row < 64; ++row)
        EXPECT_EQ(extended.get_bit(static_cast<int>(row ^ 0xfu)), CDB_LUTMASK(6, mask).get_bit(static_cast<int>(row)));
}

// ------------------------------------------------------------------ brennock rebuilding

TEST_F(MorvLogReplayTest, AStoredCellIsRebuiltInPlaceOfTheOneThatBearsItsOutput)
{
    REPLAY run("replay_rebuild.psl");
    // A source that is not here fails the entry before any cell is made.
    const size_t nodes = run.host->netlist->get_node_count();
    EXPECT_FALSE(run.replay(
        {MRL_REVISION, "27 1 1 \"lut1\" [0 1] [\"lut0\" \"no_such_term\"] 0x0 [8] [\"lut1\"] 0 \"\" 0", END}));
    EXPECT_EQ(run.host->netlist->get_node_count(), nodes);

    ASSERT_TRUE(run.replay(
        {MRL_REVISION, "27 1 1 \"lut1\" [0 1] [\"lut0\" \"VCC\"] 0x6666666666666666 [8] [\"lut1\"] 0 \"\" 0", END}))
        << run.netlist_text();
    CDB_ATOM_NODE* rebuilt = run.node("lut1");
    ASSERT_NE(rebuilt, nullptr);
    EXPECT_NE(static_cast<int>(rebuilt->get_id()), run.ids[1]);
    EXPECT_EQ(run.api->get_node(run.ids[1]), nullptr);
    EXPECT_EQ(run.data_a("lut2")->get_source(), rebuilt->get_output_term_by_type(DB_COMB_OUT));
    EXPECT_EQ(rebuilt->get_input_term_by_type(DB_DATA_A)->get_source()->get_my_node(), run.node("lut0"));
    // The tie to VCC is folded into the mask by the sweep after the replay.
    const CDB_ATOM_ITERM* data_b = rebuilt->get_input_term_by_type(DB_DATA_B);
    EXPECT_TRUE(data_b == nullptr || !data_b->is_driven()) << run.netlist_text();
    EXPECT_FALSE(rebuilt->get_lutmask().is_gnd() || rebuilt->get_lutmask().is_vcc());
}

TEST_F(MorvLogReplayTest, ALatchIsRebuiltWithItsRolesAndAConstantDriverIsOnlyIndexed)
{
    REPLAY run("replay_latch.psl");
    // Inputs: A from lut0, B from lut0 (the enable), C tied to VCC (a clear
    // that is not entered).
    ASSERT_TRUE(run.replay({MRL_REVISION,
                            "27 1 1 \"lut1\" [0 1 2 1 2] [\"lut0\" \"lut0\" \"VCC\" \"ENABLE1\" \"CLEAR\"] "
                            "0xcacacacacacacaca [8] [\"lut1\"] 4 \"\" 0",
                            END}))
        << run.netlist_text();
    CDB_ATOM_NODE* latch = run.node("lut1");
    ASSERT_NE(latch, nullptr);
    const CDB_ATOM_LATCH_INFO* info = cut_get_atom_latch_info(latch);
    ASSERT_NE(info, nullptr);
    EXPECT_TRUE(info->is_latch);
    EXPECT_EQ(info->enable_port, DB_DATA_B);
    EXPECT_EQ(info->enable_mode, CDB_LATCH_ENABLE_MODE_NON_INVERTED);
    EXPECT_EQ(info->clear_port, DB_MAX_INPUT_PORT_TYPE);

    // The constant driver's output is here: nothing is rebuilt.
    const std::string before = run.netlist_text();
    EXPECT_TRUE(run.replay({MRL_REVISION, "27 1 0 \"lut0\" [] [] 0x0 [8] [\"lut0\"] 0 \"\" 1", END}));
    EXPECT_EQ(run.netlist_text(), before);
}

TEST_F(MorvLogReplayTest, AClockBufferIsReusedOrMadeAndAMissingSourceMakesNone)
{
    REPLAY run("replay_clkbuf.psl");
    const size_t nodes = run.host->netlist->get_node_count();
    EXPECT_FALSE(run.replay({MRL_REVISION, "44 1 70 \"clk_buf\" \"no_such_clock\" \"clk_buf\" \"\" 1", END}));
    EXPECT_EQ(run.host->netlist->get_node_count(), nodes);

    ASSERT_TRUE(run.replay({MRL_REVISION, "44 1 70 \"clk_buf\" \"lut0\" \"clk_buf\" \"\" 1",
                            "29 2 9 \"reg0\" [\"UNCHANGED\" "
                            "\"clk_buf\" \"UNCHANGED\" "
                            "\"UNCHANGED\" \"UNCHANGED\" "
                            "\"UNCHANGED\" \"UNCHANGED\" "
                            "\"UNCHANGED\" \"UNCHANGED\"]",
                            END}))
        << run.netlist_text();
    CDB_ATOM_NODE* clkbuf = run.node("clk_buf");
    ASSERT_NE(clkbuf, nullptr);
    EXPECT_TRUE(clkbuf->is_clkbuf());
    EXPECT_EQ(clkbuf->get_input_term_by_type(DB_CLKBUF_IN)->get_source()->get_my_node(), run.node("lut0"));
    EXPECT_EQ(run.node("reg0")->get_input_term_by_type(DB_DATAIN)->get_source()->get_my_node(), clkbuf);

    // The same buffer under another name is found, not made again.
    const size_t with_buffer = run.host->netlist->get_node_count();
    EXPECT_TRUE(run.replay({MRL_REVISION, "44 1 70 \"other_buf\" \"lut0\" \"other_buf\" \"\" 1", END}));
    EXPECT_EQ(run.host->netlist->get_node_count(), with_buffer);
}

}  // namespace

}  // namespace morv_log_replay_test
