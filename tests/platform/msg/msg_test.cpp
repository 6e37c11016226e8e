#include <gtest/gtest.h>

#include "mem/mem.h"
#include "msg/msg.h"

namespace msg_test {

namespace {

class MsgTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        msg_set_quiet(true);
        msg_clear_posted_messages();
        msg_clear_vdebug_lines();
    }
};

TEST_F(MsgTest, ExpandsPlaceholdersWithRepeatsAndMissingArguments)
{
    MSG_E msg;
    msg.fill_args("Compile for the %1!s! device, then %2!s!; again %1!s!./EMORV_X", "A", "B");
    EXPECT_EQ(msg.get_text(), "Compile for the A device, then B; again A.");
    EXPECT_EQ(msg.get_id(), "EMORV_X");

    MSG_W missing;
    missing.fill_args("has %1!d! of %2!d! percent/WMORV_Y", 5);
    EXPECT_EQ(missing.get_text(), "has 5 of  percent");

    MSG_I none;
    none.fill_args("%3!s!%0!s!%1!x! 100% sure/IMORV_Z");
    EXPECT_EQ(none.get_text(), "%1!x! 100% sure");
}

TEST_F(MsgTest, IdFollowsLastSlashAndNumbersFillEitherForm)
{
    MSG_I msg;
    msg.fill_args("path a/b is %1!s! and %2!d!/IMORV_P", 12, std::string("text"));
    EXPECT_EQ(msg.get_id(), "IMORV_P");
    EXPECT_EQ(msg.get_text(), "path a/b is 12 and text");
    MSG_I no_id;
    no_id.fill_args("no id here", nullptr);
    EXPECT_EQ(no_id.get_id(), "");
    EXPECT_EQ(no_id.get_text(), "no id here");
}

TEST_F(MsgTest, PostRecordsKindIdTextAndSeverity)
{
    MSG_I* info = new MSG_I();
    info->fill_args("Created memory %1!s!/IMORV_MEM", "ram0");
    info->set_severity_level(1);
    info->post();
    delete info;
    MSG_W* warn = mem_new_wrapper<MSG_W>("MORV", __FILE__, __LINE__);
    warn->fill_args("careful/WMORV_W");
    warn->post(nullptr);
    mem_delete_wrapper(static_cast<MSG_BASE*>(warn));
    MSG_E err;
    err.fill_args("bad/EMORV_E");
    err.post();

    const auto& posted = msg_posted_messages();
    ASSERT_EQ(posted.size(), 3u);
    EXPECT_EQ(posted[0].kind, MSG_KIND::INFO);
    EXPECT_EQ(posted[0].id, "IMORV_MEM");
    EXPECT_EQ(posted[0].text, "Created memory ram0");
    EXPECT_EQ(posted[0].severity_level, 1);
    EXPECT_EQ(posted[1].kind, MSG_KIND::WARNING);
    EXPECT_EQ(posted[2].kind, MSG_KIND::ERROR);
    EXPECT_EQ(mem_get_tag_stats("MORV").live_objects, 0);
    msg_clear_posted_messages();
    EXPECT_TRUE(msg_posted_messages().empty());
}

TEST_F(MsgTest, QuietHidesInformationButNeverWarningsOrErrors)
{
    MSG_I info;
    info.fill_args("Placed %1!d! atoms/IMORV_PL", 12);
    MSG_W warning;
    warning.fill_args("Design has %1!d! percent/WMORV_BA", 90);
    MSG_E error;
    error.fill_args("Bad %1!s!/EMORV_BAD", "value");
    const long errors_before = msg_posted_error_count();
    for (bool quiet : {false, true}) {
        msg_set_quiet(quiet);
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        info.post();
        warning.post();
        error.post();
        const std::string err = testing::internal::GetCapturedStderr();
        const std::string out = testing::internal::GetCapturedStdout();
        EXPECT_EQ(out, quiet ? "" : "Info (IMORV_PL): Placed 12 atoms\n") << quiet;
        EXPECT_EQ(err, "Warning (WMORV_BA): Design has 90 percent\nError (EMORV_BAD): Bad value\n") << quiet;
    }
    // The count survives clearing the record: a caller compares it before and after its work.
    msg_clear_posted_messages();
    EXPECT_EQ(msg_posted_error_count(), errors_before + 2);
    // Shown-always information still goes to the standard output under quiet.
    info.set_always_shown(true);
    testing::internal::CaptureStdout();
    info.post();
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Info (IMORV_PL): Placed 12 atoms\n");
}

// Sub-messages are posted with their parent, each indented one step deeper,
// and are deleted with it (the sanitizer build finds a leak).
TEST_F(MsgTest, SubMessagesPostIndentedUnderTheirParent)
{
    msg_set_quiet(false);
    auto* phase = new MSG_I;
    phase->fill_args("Phase/IMORV_PHASE");
    auto* signal = new MSG_I;
    signal->fill_args("Signal %1!s!/IMORV_SIGNAL", "rst");
    auto* reason = new MSG_I;
    reason->fill_args("Reason/IMORV_REASON");
    signal->attach_sub_msg(reason);
    phase->attach_sub_msg(signal);
    phase->attach_sub_msg(nullptr);
    phase->attach_sub_msg(phase);
    auto* found = new MSG_W;
    found->fill_args("Found %1!d!/WMORV_FOUND", 1);
    phase->attach_sub_msg(found);
    ASSERT_EQ(phase->get_sub_msgs().size(), 2u);
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    phase->post();
    const std::string err = testing::internal::GetCapturedStderr();
    const std::string out = testing::internal::GetCapturedStdout();
    msg_set_quiet(true);
    EXPECT_EQ(out,
              "Info (IMORV_PHASE): Phase\n    Info (IMORV_SIGNAL): Signal rst\n        Info (IMORV_REASON): Reason\n");
    EXPECT_EQ(err, "    Warning (WMORV_FOUND): Found 1\n");
    const std::vector<MSG_POSTED_MESSAGE>& posted = msg_posted_messages();
    ASSERT_EQ(posted.size(), 4u);
    const int depths[] = {0, 1, 2, 1};
    for (size_t i = 0; i < 4; ++i) EXPECT_EQ(posted[i].depth, depths[i]) << posted[i].id;
    delete phase;
}

TEST_F(MsgTest, InternalErrorCarriesItsFourValues)
{
    try {
        MSG_INTERNAL_ERROR::report("m_cmp != NULL", "MORV", "morv_env.cpp", 42);
        FAIL();
    } catch (const MSG_INTERNAL_ERROR_EXCEPTION& e) {
        EXPECT_EQ(e.get_condition(), "m_cmp != NULL");
        EXPECT_EQ(e.get_module(), "MORV");
        EXPECT_EQ(e.get_file(), "morv_env.cpp");
        EXPECT_EQ(e.get_line(), 42);
        EXPECT_STREQ(e.what(), "Internal Error: m_cmp != NULL, MORV, morv_env.cpp, 42");
    }
    int* p = nullptr;
    try {
        MSG_ASSERT(p != nullptr, "CDB");
        FAIL();
    } catch (const std::exception& e) {
        EXPECT_NE(std::string(e.what()).find("p != nullptr, CDB, "), std::string::npos);
    }
    EXPECT_THROW(MSG_INTERNAL_ERROR::report(nullptr, nullptr, nullptr, 0), MSG_INTERNAL_ERROR_EXCEPTION);
}

TEST_F(MsgTest, DebugChannelTakesTextAsData)
{
    msg_local_vdebug("MORV", "50% done %s %d %n");
    msg_local_vdebug(nullptr, nullptr);
    ASSERT_EQ(msg_vdebug_lines().size(), 2u);
    EXPECT_EQ(msg_vdebug_lines()[0].module, "MORV");
    EXPECT_EQ(msg_vdebug_lines()[0].text, "50% done %s %d %n");
    testing::internal::CaptureStderr();
    msg_set_vdebug_printing(true);
    msg_local_vdebug("MORV", "line");
    msg_set_vdebug_printing(false);
    msg_local_vdebug("MORV", "hidden");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "MORV: line\n");
    msg_clear_vdebug_lines();
    EXPECT_TRUE(msg_vdebug_lines().empty());
}

}  // namespace

}  // namespace msg_test
