// What a replay does with the stored prior state of a node: it rebuilds the
// node as a whole node of the compile, also when the node it replaces was
// made by the replay itself in an earlier batch, and it says when the node
// here is no longer the logic the recording stored.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cdb/cdb_atom_netlist.h"

#include "morv/core/morv_api.h"
#include "morv/log/morv_log.h"
#include "morv_log_replay_host.h"
#include "morv_test_env.h"
#include "morv_test_util.h"

namespace morv_log_replay_state_test {

namespace {

const char* const k_changed = "WMORV_FSYN_LOG_NODE_CHANGED_SINCE_RECORDING";
// The slots after the first of a cell's connection record, untouched.
const std::string k_ten_unchanged = [] {
    std::string text;
    for (int slot = 1; slot < 11; ++slot) text += " \"UNCHANGED\"";
    return text;
}();

// A replay on either family of a log of the other.
struct FAMILY_CASE
{
    int family;
    const char* revision;
};
const FAMILY_CASE k_families[] = {{6, LOG_MRL_REVISION}, {24, LOG_BRK_REVISION}};

class MorvLogReplayStateTest : public MORV_CLEAN_STATE_TEST
{};

}  // namespace

// A node the replay inserts after a flow's first deletion waits for its
// announcement; a later batch rebuilds it from its stored state. The rebuilt cell takes its origin's chip entry, so the
// origin must be a whole node of the compile by then.
TEST_F(MorvLogReplayStateTest, ACellRebuiltOverANodeOfAnEarlierBatchIsAWholeNode)
{
    for (const FAMILY_CASE& c : k_families) {
        for (bool batch_marker : {true, false}) {
            MORV_LOG_CHAIN_REPLAY run(c.family, "replay_state_batches.psl");
            // The first deletion names nothing here; copy is inserted after it.
            std::vector<std::string> lines = {c.revision, "3 1 9 \"ghost\" [\"ghost\"] 0",
                                              "2 2 60 \"copy\" \"lut0\" 1 0", "7 3 60 \"copy\" \"copy\" 8",
                                              "28 4 3 \"lut2\" [\"copy\"" + k_ten_unchanged + "]"};
            if (batch_marker) lines.push_back("1 5");
            lines.push_back("27 6 60 \"copy\" [0] [\"lut0\"] 0x5555555555555555 [8] [\"copy\"] 0 \"\" 0");
            lines.push_back(LOG_END);
            ASSERT_TRUE(run.replay(lines)) << c.family << run.netlist_text();
            CDB_ATOM_NODE* rebuilt = run.node("copy");
            ASSERT_NE(rebuilt, nullptr) << c.family;
            EXPECT_EQ(rebuilt->get_input_term_by_type(DB_DATA_A)->get_source()->get_my_node(), run.node("lut0"));
            EXPECT_EQ(run.data_a("lut2")->get_source(), rebuilt->get_output_term_by_type(DB_COMB_OUT));
            for (CDB_ATOM_NODE* node : *run.host->netlist)
                EXPECT_EQ(node->get_chip_db_entry(), &run.host->chip_entry)
                    << c.family << " " << batch_marker << " " << replay_short_name(node->get_instance_name());
            EXPECT_EQ(run.log()->get_pending_insert_count(), 0u);
        }
    }
}

// The chain's cells are wires of DATA_A in the replaying family's order;
// the other family logs that wire in its own order (0x5555...).
TEST_F(MorvLogReplayStateTest, ARebuildOverOtherLogicThanTheStoredStateIsNamedInOneWarning)
{
    struct STATE
    {
        const char* what;
        const char* sources;
        const char* mask;
        int warnings;
    };
    const STATE states[] = {
        {"the stored logic", "[0] [\"lut0\"]", "0x5555555555555555", 0},
        {"another function", "[0] [\"lut0\"]", "0xaaaaaaaaaaaaaaaa", 1},
        {"another source", "[0] [\"src\"]", "0x5555555555555555", 1},
        {"another input", "[0 1] [\"lut0\" \"src\"]", "0x5555555555555555", 1},
        // A constant on an input the function does not read changes nothing.
        {"a constant input", "[0 1] [\"lut0\" \"VCC\"]", "0x5555555555555555", 0},
    };
    for (const FAMILY_CASE& c : k_families) {
        for (const STATE& state : states) {
            MORV_LOG_CHAIN_REPLAY run(c.family, "replay_state_changed.psl");
            const std::string line =
                std::string("27 1 1 \"lut1\" ") + state.sources + " " + state.mask + " [8] [\"lut1\"] 0 \"\" 0";
            ASSERT_TRUE(run.replay({c.revision, line, LOG_END})) << c.family << " " << state.what;
            EXPECT_EQ(count_posted(k_changed), state.warnings) << c.family << " " << state.what;
            if (state.warnings != 0) {
                EXPECT_NE(run.posted_text(k_changed).find("Node lut1 differs"), std::string::npos)
                    << run.posted_text(k_changed);
            }
            // The replay still rebuilds what the log holds.
            EXPECT_EQ(run.data_a("lut2")->get_source()->get_my_node(), run.node("lut1")) << state.what;
        }
    }
}

}  // namespace morv_log_replay_state_test
