#include <gtest/gtest.h>

#include <set>
#include <string>

#include "mem/mem.h"
#include "morv/core/morv_msgs.h"
#include "msg/msg.h"

namespace test_morv_msgs {

namespace {

struct EXPECTED_MSG
{
    char kind;
    const char* id;
    const char* text;  // before the '/'
};

// The component's messages as users and filters know them.
const EXPECTED_MSG s_expected[] = {
    {'E', "EMORV_FSYN_READ_LOG_IS_UNSUCCESSFUL",
     "Physical Synthesis was unable to reproduce operations performed on the %1!s! device, and then on the %2!s! "
     "device after the design has been migrated.  Please recompile this circuit for the %1!s! device with all Physical "
     "Synthesis options turned off."},
    {'E', "EMORV_FSYN_LOG_FILE_NOT_PRESENT",
     "Physical Synthesis was unable to find the log file required to perform Physical Synthesis on %1!s!.  Please "
     "recompile this circuit for the %2!s! device.  Then migrate to the %1!s! device."},
    {'E', "EMORV_FSYN_LOG_CREATED_FROM_WRONG_VELMORA_REVISION",
     "The Physical Synthesis Log file was created using a different Velmora II revision from the one currently "
     "running.  Please recompile the original revision using the current Velmora II revision."},
    {'E', "EMORV_FSYN_LOG_FILE_DAMAGED", "Physical Synthesis cannot replay the log file %1!s!: %2!s!"},
    {'W', "WMORV_FSYN_LOG_NODE_STILL_HAS_FANOUT",
     "The replayed log deletes node %1!s!, which still drives other nodes here: the node is kept"},
    {'W', "WMORV_FSYN_LOG_NODE_CHANGED_SINCE_RECORDING",
     "Node %1!s! differs from the node the replayed log was recorded from: the replay rebuilds the recorded logic and "
     "the change made to the design since then is lost"},
    {'E', "EMORV_FSYN_INVALID_OPTIMIZATION_SIGNATURE_CIRCUIT_MATCH",
     "The supplied Physical Synthesis optimization signature is not valid for this circuit."},
    {'I', "IMORV_PHYSICAL_SYNTHESIS_START", "Starting physical synthesis optimizations for %1!s!"},
    {'I', "IMORV_PHYSICAL_SYNTHESIS_END",
     "Physical synthesis optimizations for %1!s! complete: elapsed CPU time is %2!s!"},
    {'I', "IMORV_PHYSICAL_SYNTHESIS_ALGO_START", "Starting physical synthesis algorithm %1!s!"},
    {'I', "IMORV_PHYSICAL_SYNTHESIS_ALGO_END_SLACK",
     "Physical synthesis algorithm %1!s! complete: estimated slack improvement of %2!d! ps"},
    {'I', "IMORV_PHYSICAL_SYNTHESIS_ALGO_END_AREA",
     "Physical synthesis algorithm %1!s! complete: estimated area improvement of %2!d! combinational logic elements "
     "and %3!d! registers"},
    {'I', "IMORV_PHYSICAL_SYNTHESIS_ALGO_END_SHORT", "Physical synthesis algorithm %1!s! complete"},
    {'I', "IMORV_PHYSICAL_SYNTHESIS_ALGO_PROGRESS",
     "Algorithm %1!s! is on pass %2!d! of %3!d! and iteration %4!d! of %5!d!"},
    {'I', "IMORV_FSYN_EARLY_FSYN_ASYNC_PIPELINING_INFO", "Automatic asynchronous signal pipelining - Evaluation Phase"},
    {'I', "IMORV_FSYN_EARLY_FSYN_ASYNC_PIPELINING_CHECKING_SIGNAL", "Asynchronous signal %1!s!"},
    {'I', "IMORV_FSYN_EARLY_FSYN_ASYNC_PIPELINING_FOUND_SIGNALS",
     "Found %1!d! asynchronous signals of which %2!d! will be pipelined"},
    {'I', "IMORV_FSYN_EARLY_FSYN_ASYNC_PIPELINING_NON_CRITICAL_SIGNAL", "Signal not critical. No action is required"},
    {'I', "IMORV_FSYN_EARLY_FSYN_ASYNC_PIPELINING_CRITICAL_SIGNAL", "Signal is critical"},
    {'I', "IMORV_FSYN_EARLY_FSYN_ASYNC_PIPELINING_USER_REQUESTED",
     "Pipelining requested by user assignment. No timing check will be performed"},
    {'I', "IMORV_FSYN_EARLY_FSYN_ASYNC_PIPELINING_ILLEGAL_FANOUT_SIGNAL",
     "Signal fans out to non asynchronous inputs at node %1!s!. No action will be taken"},
    {'I', "IMORV_FSYN_EARLY_FSYN_ASYNC_PIPELINING_DONT_TOUCH",
     "Netlist optimizations are not allowed on this signal (either by user assignment or because of partition "
     "boundaries). No action will be taken"},
    {'I', "IMORV_FSYN_EARLY_FSYN_ASYNC_PIPELINING_NOT_GCLK",
     "Synchronization register's clock is not a global signal. No action will be taken"},
    {'I', "IMORV_FSYN_EARLY_FSYN_ASYNC_PIPELINING_NO_SYNC_REGISTER",
     "No synchronization register generates this signal. No action will be taken."},
    {'I', "IMORV_FSYN_EARLY_FSYN_ASYNC_PIPELINING_SIGNAL_WILL_BE_PIPELINED",
     "The signal will be pipelined in the Execution Phase"},
    {'I', "IMORV_FSYN_LATE_FSYN_ASYNC_PIPELINING_INFO", "Automatic asynchronous signal pipelining - Execution Phase"},
    {'I', "IMORV_FSYN_LATE_FSYN_ASYNC_PIPELINING_CURRENT_SIGNAL", "Pipelining signal %1!s!"},
    {'I', "IMORV_FSYN_LATE_FSYN_ASYNC_PIPELINING_REGISTER_REACH", "Register reach: %1!d!"},
    {'I', "IMORV_FSYN_LATE_FSYN_ASYNC_PIPELINING_OVERRIDDEN_REGISTER_REACH",
     "Computed register reach of %1!d! overridden to %2!d! by user assignment"},
    {'I', "IMORV_FSYN_LATE_FSYN_ASYNC_PIPELINING_REGISTERS_AND_STAGES", "Inserted %1!d! registers on %2!d! stages"},
    {'I', "IMORV_FSYN_LOGIC_TO_MEMORY_MAPPING_MEMORY_COUNT", "Logic to memory mapping created %1!d! memory blocks"},
    {'I', "IMORV_FSYN_LOGIC_TO_MEMORY_MAPPING_MEMORY_NAME", "Created memory %1!s!"},
    {'E', "EMORV_FSYN_LOGIC_TO_MEMORY_MAPPING_MIF_NOT_WRITTEN",
     "Logic to memory mapping cannot write the memory initialization file %1!s!; the logic it would replace is kept"},
    {'I', "IMORV_MORV_TURN_OFF_FIT_FSYN_FOR_IWAP",
     "Turning off physical synthesis to increase netlist reuse for \"Rebrisk\"."},
    {'W', "WMORV_CANNOT_RUN_FSYN_WHEN_TDC_IS_OFF",
     "Can't perform netlist optimizations when timing-driven compilation is turned off"},
    {'W', "WMORV_CANNOT_RUN_FSYN_WHEN_USING_POST_FITTING_NETLISTS",
     "Can't perform netlist optimizations during compilations that start from post-fitting results"},
    {'W', "WMORV_CANNOT_RUN_FSYN_WHEN_FAST_FIT_IS_ON",
     "Can't perform fitting netlist optimizations during fast fit compilation"},
    {'W', "WMORV_FSYN_CANNOT_RUN_TOO_MANY_BA_NODES",
     "Design has %1!d! percent of logic elements back-annotated -- can't perform fitter netlist optimizations when "
     "more than %2!d! percent of LEs are back-annotated"},
    {'W', "WMORV_FSYN_CANNOT_RUN_NO_AREA_FSYN_FOR_MIGRATION_FLOW",
     "Can't perform physical synthesis for fitting when a Fermlock II migration device is selected"},
    {'W', "WMORV_PHYSICAL_SYNTHESIS_SKIPPED_DUE_TO_TIMING_NETLIST",
     "Physical synthesis is skipping optimizations because it could not initialize the timing netlist"},
    {'W', "WMORV_FSYN_DEMOTING_GLOBAL_SIGNAL",
     "Automatic asynchronous signal pipelining is demoting global signal %1!s!"},
    {'W', "WMORV_FSYN_ASYNC_PIPELINING_DISABLE_DESTINATION_CHECK",
     "Checks on destinations of asynchronous signal %1!s! have been disabled by user assignment. The design may not "
     "behave as expected."},
    {'W', "WMORV_FSYN_MALFORMED_DELAY_FILE", "Ignoring delay file %1!s!: %2!s!"},
    {'W', "WMORV_FSYN_LOG_FILE_NOT_CHECKED",
     "The log file %1!s! is of an earlier form that cannot be checked for dropped, repeated or moved records; it is "
     "replayed as it is"},
    {'W', "WMORV_FSYN_DELAY_FILE_NOT_WRITTEN", "The delay file was not written and is left as it was: %1!s!"},
    {'E', "EMORV_FSYN_LOG_FILE_NOT_FOUND", "Physical Synthesis cannot find the log file to replay: %1!s!"},
    {'I', "IMORV_FSYN_LOG_FILE_LOOKED_FOR", "The log file to replay was looked for: %1!s!"},
    {'E', "EMORV_FSYN_LOG_FILE_OF_THIS_FAMILY",
     "Physical Synthesis cannot replay the log file %1!s!: it was recorded on a device of this family, and a log "
     "replays only on the migration device of the other family"},
    {'E', "EMORV_FSYN_LOG_ENTRY_NOT_REPRODUCED", "Physical Synthesis cannot reproduce the log file %1!s!: %2!s!"},
    {'W', "WMORV_FSYN_DELAY_FILE_DELAY_BOUNDED",
     "Delay file %1!s!: the delay of %2!d! ps is longer than the device's longest connection and is read as %3!d! "
     "ps%4!s!"},
};

MSG_KIND kind_of(char letter)
{
    return letter == 'I' ? MSG_KIND::INFO : letter == 'W' ? MSG_KIND::WARNING : MSG_KIND::ERROR;
}

long long live_morv_objects()
{
    return mem_get_tag_stats("MORV").live_objects;
}

class MsgsTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        msg_set_quiet(true);
        msg_clear_posted_messages();
        m_live_before = live_morv_objects();
    }
    void TearDown() override
    {
        // Every built message was deleted again.
        EXPECT_EQ(live_morv_objects(), m_live_before);
        msg_clear_posted_messages();
    }

    // Posts through the component's path and returns what the host recorded.
    MSG_POSTED_MESSAGE post(MSG_POST* msg)
    {
        EXPECT_NE(msg, nullptr);
        size_t before = msg_posted_messages().size();
        morv_send_msg(msg);
        EXPECT_EQ(msg_posted_messages().size(), before + 1);
        return msg_posted_messages().back();
    }

    long long m_live_before = 0;
};

TEST_F(MsgsTest, EveryMessageHasItsTextIdAndKind)
{
    ASSERT_EQ(int(MORV_MSG_COUNT), 50);
    ASSERT_EQ(sizeof(s_expected) / sizeof(s_expected[0]), 50u);
    std::set<std::string> ids;
    for (const EXPECTED_MSG& expected : s_expected) {
        SCOPED_TRACE(expected.id);
        const MORV_MSG_DEF* def = morv_find_msg_def(expected.id);
        ASSERT_NE(def, nullptr);
        EXPECT_EQ(def->kind, kind_of(expected.kind));
        EXPECT_EQ(def->id[0], expected.kind);
        EXPECT_EQ(std::string(def->text_and_id), std::string(expected.text) + "/" + expected.id);
        EXPECT_TRUE(ids.insert(def->id).second);
    }
    for (int i = 0; i < MORV_MSG_COUNT; ++i)
        EXPECT_TRUE(ids.count(morv_msg_def(MORV_MSG_ID(i)).id)) << morv_msg_def(MORV_MSG_ID(i)).id;
    EXPECT_EQ(morv_find_msg_def("IMORV_NO_SUCH_MESSAGE"), nullptr);
}

TEST_F(MsgsTest, EveryMessagePostsUnderItsIdAndKind)
{
    for (int i = 0; i < MORV_MSG_COUNT; ++i) {
        const MORV_MSG_DEF& def = morv_msg_def(MORV_MSG_ID(i));
        MSG_POSTED_MESSAGE posted = post(morv_new_msg(MORV_MSG_ID(i), "A", "B", "C", "D", "E"));
        EXPECT_EQ(posted.id, def.id);
        EXPECT_EQ(posted.kind, def.kind);
        EXPECT_EQ(posted.text.find('!'), std::string::npos) << def.id;  // no placeholder left
    }
}

TEST_F(MsgsTest, RepeatedArgumentIsExpandedEachTime)
{
    MSG_POSTED_MESSAGE posted =
        post(morv_new_msg(MORV_MSG_EMORV_FSYN_READ_LOG_IS_UNSUCCESSFUL, "Fermlock II", "Talvane II"));
    EXPECT_EQ(posted.kind, MSG_KIND::ERROR);
    EXPECT_EQ(posted.text,
              "Physical Synthesis was unable to reproduce operations performed on the Fermlock II device, and then on "
              "the Talvane II device after the design has been migrated.  Please recompile this circuit for the "
              "Fermlock II device with all Physical Synthesis options turned off.");
}

TEST_F(MsgsTest, FactoriesFillArgumentsInPlaceholderOrder)
{
    EXPECT_EQ(post(new_msg_physical_synthesis_start("LATE")).text,
              "Starting physical synthesis optimizations for LATE");
    EXPECT_EQ(post(new_msg_physical_synthesis_end("LATE", "00:00:05")).text,
              "Physical synthesis optimizations for LATE complete: elapsed CPU time is 00:00:05");
    EXPECT_EQ(post(new_msg_physical_synthesis_algo_progress("retiming", 2, 3, 7, 10)).text,
              "Algorithm retiming is on pass 2 of 3 and iteration 7 of 10");
    EXPECT_EQ(post(new_msg_physical_synthesis_algo_end_slack("rewiring", -12)).text,
              "Physical synthesis algorithm rewiring complete: estimated slack improvement of -12 ps");
    EXPECT_EQ(post(new_msg_physical_synthesis_algo_end_area("sweep", 4, 9)).text,
              "Physical synthesis algorithm sweep complete: estimated area improvement of 4 combinational logic "
              "elements and 9 registers");
    EXPECT_EQ(post(new_msg_fsyn_late_fsyn_async_pipelining_overridden_register_reach(3, 5)).text,
              "Computed register reach of 3 overridden to 5 by user assignment");
    EXPECT_EQ(post(new_msg_fsyn_late_fsyn_async_pipelining_registers_and_stages(6, 2)).text,
              "Inserted 6 registers on 2 stages");
    MSG_POSTED_MESSAGE warning = post(new_msg_fsyn_demoting_global_signal("rst_n"));
    EXPECT_EQ(warning.kind, MSG_KIND::WARNING);
    EXPECT_EQ(warning.id, "WMORV_FSYN_DEMOTING_GLOBAL_SIGNAL");
    EXPECT_EQ(warning.text, "Automatic asynchronous signal pipelining is demoting global signal rst_n");
    EXPECT_EQ(post(new_msg_fsyn_early_fsyn_async_pipelining_dont_touch()).id,
              "IMORV_FSYN_EARLY_FSYN_ASYNC_PIPELINING_DONT_TOUCH");
}

TEST_F(MsgsTest, BackAnnotationWarningAlwaysNamesTheLimitOfEighty)
{
    MSG_POSTED_MESSAGE posted = post(new_msg_fsyn_cannot_run_too_many_ba_nodes(81));
    EXPECT_EQ(posted.kind, MSG_KIND::WARNING);
    EXPECT_EQ(posted.text,
              "Design has 81 percent of logic elements back-annotated -- can't perform fitter netlist optimizations "
              "when more than 80 percent of LEs are back-annotated");
}

TEST_F(MsgsTest, MemoryNameMessageCarriesSeverityOne)
{
    MSG_POSTED_MESSAGE named = post(new_msg_fsyn_logic_to_memory_mapping_memory_name("ram_0"));
    EXPECT_EQ(named.severity_level, 1);
    EXPECT_EQ(named.text, "Created memory ram_0");
    EXPECT_EQ(post(new_msg_fsyn_logic_to_memory_mapping_memory_count(2)).severity_level, 0);
}

TEST_F(MsgsTest, FactoriesAllocateUnderTheComponentTag)
{
    MSG_I* msg = new_msg_physical_synthesis_algo_start("test algorithm");
    ASSERT_NE(msg, nullptr);
    EXPECT_EQ(live_morv_objects(), m_live_before + 1);
    morv_delete_msg(msg);
    EXPECT_EQ(live_morv_objects(), m_live_before);
    EXPECT_TRUE(msg_posted_messages().empty());
}

TEST_F(MsgsTest, SuppressedMessagesAreBuiltAndDeletedWithoutPosting)
{
    morv_send_msg(new_msg_physical_synthesis_algo_start("test algorithm"), true);
    morv_send_msg(new_msg_physical_synthesis_algo_progress("test algorithm", 1, 1, 1, 10), true);
    morv_send_msg(new_msg_physical_synthesis_algo_end_short("test algorithm"), true);
    EXPECT_TRUE(msg_posted_messages().empty());
    morv_send_msg(nullptr);
    morv_send_msg(new_msg_physical_synthesis_algo_end_short("test algorithm"), false);
    ASSERT_EQ(msg_posted_messages().size(), 1u);
    EXPECT_EQ(msg_posted_messages()[0].text, "Physical synthesis algorithm test algorithm complete");
}

}  // namespace

}  // namespace test_morv_msgs
