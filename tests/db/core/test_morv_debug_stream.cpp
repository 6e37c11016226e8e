#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "cfg/cfg.h"
#include "morv/core/morv_debug_stream.h"
#include "msg/msg.h"

namespace test_morv_debug_stream {

namespace {

std::vector<std::string> read_lines(const std::string& path)
{
    std::vector<std::string> lines;
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

bool file_exists(const std::string& path)
{
    return std::ifstream(path).good();
}

std::vector<std::string> channel_texts()
{
    std::vector<std::string> texts;
    for (const MSG_VDEBUG_LINE& line : msg_vdebug_lines()) {
        EXPECT_EQ(line.module, "MORV");
        texts.push_back(line.text);
    }
    return texts;
}

// Every test writes to a file of its own and starts from the state at load.
class DebugStreamTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_file =
            std::string("debug_stream_") + ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".txt";
        std::remove(m_file.c_str());
        cfg_unset("fsyn_debug_msg");
        cfg_unset("fsyn_debug_msg_full");
        cfg_unset("tst_regtest_mode");
        MORV_DEBUG_STREAM::get_stream().reset(m_file.c_str());
        msg_clear_vdebug_lines();
        msg_set_quiet(true);
        msg_clear_posted_messages();
    }
    void TearDown() override
    {
        MORV_DEBUG_STREAM::get_stream().reset();
        cfg_unset("fsyn_debug_msg");
        cfg_unset("fsyn_debug_msg_full");
        cfg_unset("tst_regtest_mode");
    }

    void print_every_level()
    {
        MORV_DEBUG_STREAM::print(0, "level %d", 0);
        MORV_DEBUG_STREAM::print(1, "level %d", 1);
        MORV_DEBUG_STREAM::print(2, "level %d", 2);
        MORV_DEBUG_STREAM::print(100, "level %d", 100);
    }

    std::string m_file;
};

TEST_F(DebugStreamTest, NothingPrintsBeforeConfiguration)
{
    const MORV_DEBUG_STREAM& stream = MORV_DEBUG_STREAM::get_stream();
    EXPECT_FALSE(stream.is_enabled());
    EXPECT_EQ(stream.get_threshold(), 1);
    print_every_level();
    EXPECT_TRUE(channel_texts().empty());
    EXPECT_FALSE(file_exists(m_file));
    EXPECT_FALSE(stream.is_file_open());
}

TEST_F(DebugStreamTest, DefaultConfigurationReachesOnlyTheHostChannel)
{
    MORV_DEBUG_STREAM::configure_from_switches();
    print_every_level();
    std::vector<std::string> expected = {"Initializing MORV DEBUG with level 1, vdebug 1, fstream 0", "level 0",
                                         "level 1"};
    EXPECT_EQ(channel_texts(), expected);
    EXPECT_FALSE(file_exists(m_file));
}

TEST_F(DebugStreamTest, DetailSwitchWritesLevelsUpToTwoToTheFile)
{
    cfg_set_value("fsyn_debug_msg", "on");
    MORV_DEBUG_STREAM::configure_from_switches();
    EXPECT_EQ(MORV_DEBUG_STREAM::get_stream().get_threshold(), 2);
    print_every_level();
    EXPECT_EQ(read_lines(m_file), (std::vector<std::string>{"level 0", "level 1", "level 2"}));
    std::vector<std::string> expected = {"Initializing MORV DEBUG with level 2, vdebug 1, fstream 1", "level 0",
                                         "level 1"};
    EXPECT_EQ(channel_texts(), expected);
}

TEST_F(DebugStreamTest, FullSwitchWinsAndTracesEverything)
{
    cfg_set_value("fsyn_debug_msg", "on");
    cfg_set_value("fsyn_debug_msg_full", "1");
    MORV_DEBUG_STREAM::configure_from_switches();
    print_every_level();
    MORV_DEBUG_STREAM::print(101, "beyond the trace level");
    EXPECT_EQ(read_lines(m_file), (std::vector<std::string>{"level 0", "level 1", "level 2", "level 100"}));
    EXPECT_EQ(channel_texts().front(), "Initializing MORV DEBUG with level 100, vdebug 1, fstream 1");
    EXPECT_EQ(channel_texts().size(), 3u);
}

TEST_F(DebugStreamTest, RegressionModeTurnsOnTheFileAtLevelOne)
{
    cfg_set_value("tst_regtest_mode", "on");
    MORV_DEBUG_STREAM::configure_from_switches();
    print_every_level();
    EXPECT_EQ(read_lines(m_file), (std::vector<std::string>{"level 0", "level 1"}));
    EXPECT_EQ(channel_texts().front(), "Initializing MORV DEBUG with level 1, vdebug 1, fstream 1");
}

TEST_F(DebugStreamTest, PercentPairsReachTheChannelReducedAndTheFileUnchanged)
{
    cfg_set_value("fsyn_debug_msg", "on");
    MORV_DEBUG_STREAM::configure_from_switches();
    msg_clear_vdebug_lines();
    MORV_DEBUG_STREAM::print(1, "%s", "50%% done");
    MORV_DEBUG_STREAM::print(1, "100%% sure");                 // formats to a single '%'
    MORV_DEBUG_STREAM::print(1, "%s", "3%%%% and 7% and %d");  // no expansion on the channel
    EXPECT_EQ(read_lines(m_file), (std::vector<std::string>{"50%% done", "100% sure", "3%%%% and 7% and %d"}));
    EXPECT_EQ(channel_texts(), (std::vector<std::string>{"50% done", "100% sure", "3%% and 7% and %d"}));
}

TEST_F(DebugStreamTest, LongLinesAreCutAtTheLineLimit)
{
    cfg_set_value("fsyn_debug_msg", "on");
    MORV_DEBUG_STREAM::configure_from_switches();
    msg_clear_vdebug_lines();
    const int limit = MORV_DEBUG_STREAM::s_LINE_LIMIT;
    std::string long_text(5000, 'x');
    long_text[limit - 1] = 'y';  // last kept character
    MORV_DEBUG_STREAM::print(1, "%s", long_text.c_str());
    std::string exact(limit, 'e');
    MORV_DEBUG_STREAM::print(2, "%s", exact.c_str());
    std::string one_short(limit - 1, 's');
    MORV_DEBUG_STREAM::print(2, "%s", one_short.c_str());
    MORV_DEBUG_STREAM::print(2, "%s", (one_short + "ab").c_str());

    std::vector<std::string> lines = read_lines(m_file);
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0], long_text.substr(0, limit));
    EXPECT_EQ(lines[1], exact);
    EXPECT_EQ(lines[2], one_short);
    EXPECT_EQ(lines[3], one_short + "a");
    ASSERT_EQ(channel_texts().size(), 1u);
    EXPECT_EQ(channel_texts()[0], long_text.substr(0, limit));
}

TEST_F(DebugStreamTest, TwoRunsAppendToTheSameFile)
{
    {
        std::ofstream earlier(m_file);
        earlier << "from an earlier process\n";
    }
    cfg_set_value("fsyn_debug_msg", "on");
    MORV_DEBUG_STREAM::configure_from_switches();
    MORV_DEBUG_STREAM::print(1, "run %d", 1);
    EXPECT_TRUE(MORV_DEBUG_STREAM::get_stream().is_file_open());
    // A second flow driver reconfigures the same logger and keeps the file.
    MORV_DEBUG_STREAM::configure_from_switches();
    MORV_DEBUG_STREAM::print(2, "run %d", 2);
    // A reset closes the file; the next run reopens it for appending.
    MORV_DEBUG_STREAM::get_stream().reset(m_file.c_str());
    MORV_DEBUG_STREAM::configure_from_switches();
    MORV_DEBUG_STREAM::print(1, "run %d", 3);
    EXPECT_EQ(read_lines(m_file), (std::vector<std::string>{"from an earlier process", "run 1", "run 2", "run 3"}));
}

TEST_F(DebugStreamTest, FailedOpenDoesNotStopTheRun)
{
    MORV_DEBUG_STREAM::get_stream().reset("no_such_directory/fsyn_debug_dump.txt");
    cfg_set_value("fsyn_debug_msg", "on");
    MORV_DEBUG_STREAM::configure_from_switches();
    msg_clear_vdebug_lines();
    EXPECT_NO_THROW(MORV_DEBUG_STREAM::print(1, "still %s", "logged"));
    EXPECT_NO_THROW(MORV_DEBUG_STREAM::print(2, "goes nowhere"));
    EXPECT_FALSE(MORV_DEBUG_STREAM::get_stream().is_file_open());
    EXPECT_EQ(channel_texts(), (std::vector<std::string>{"still logged"}));
    // The user who asked for the file is told once, with its name.
    ASSERT_EQ(msg_posted_messages().size(), 1u);
    EXPECT_EQ(msg_posted_messages()[0].kind, MSG_KIND::WARNING);
    EXPECT_NE(msg_posted_messages()[0].text.find("no_such_directory/fsyn_debug_dump.txt"), std::string::npos);
}

TEST_F(DebugStreamTest, DirectHostLinesAreFormattedOnce)
{
    morv_debug("%d%% of %s", 5, "a %s b");
    EXPECT_EQ(channel_texts(), (std::vector<std::string>{"5% of a %s b"}));
}

}  // namespace

}  // namespace test_morv_debug_stream
