#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "cfg/cfg.h"
#include "mem/mem.h"
#include "morv/core/morv_assert.h"
#include "morv/core/morv_global.h"
#include "msg/msg.h"

namespace test_morv_global {

namespace {

// The checks of the state at load run in a freshly started copy of this
// program ("threadsafe" death tests re-execute it), so no other test has
// touched the process-wide objects yet.
class GlobalLoadTest : public ::testing::Test
{
protected:
    void SetUp() override { GTEST_FLAG_SET(death_test_style, "threadsafe"); }
};

int check_state_at_load()
{
    const MORV_DEBUG_STREAM& stream = MORV_DEBUG_STREAM::get_stream();
    bool ok = mem_get_tag_stats("MORV").registered;
    ok = ok && std::string(stream.get_file_name()) == "fsyn_debug_dump.txt";
    ok = ok && stream.get_threshold() == 1 && !stream.is_enabled() && !stream.is_vdebug_on() &&
         !stream.is_fstream_on() && !stream.is_file_open();
    ok = ok && s_morv_critical_async_sources.empty() && s_morv_pipe_async_report_rows.empty();
    ok = ok && !s_morv_ram_map_debug;
    ok = ok && s_morv_cluster_map_node_type_names[0] == "UNDEF" && s_morv_cluster_map_node_type_names[1] == "COMB" &&
         s_morv_cluster_map_node_type_names[2] == "FF";
    return ok ? 0 : 1;
}

TEST_F(GlobalLoadTest, ObjectsStartInTheirLoadState)
{
    EXPECT_EXIT(std::_Exit(check_state_at_load()), ::testing::ExitedWithCode(0), "");
}

TEST_F(GlobalLoadTest, UnloadClosesAWrittenDebugFileWithItsLines)
{
    std::remove("unload_written.txt");
    EXPECT_EXIT(
        {
            MORV_DEBUG_STREAM& stream = MORV_DEBUG_STREAM::get_stream();
            stream.reset("unload_written.txt");
            stream.set_enabled(true);
            stream.set_fstream(true);
            MORV_DEBUG_STREAM::print(0, "last words %d", 7);
            std::exit(3);  // runs the teardown of every process-wide object
        },
        ::testing::ExitedWithCode(3), "");
    std::ifstream in("unload_written.txt");
    std::string line;
    ASSERT_TRUE(std::getline(in, line));
    EXPECT_EQ(line, "last words 7");
}

TEST_F(GlobalLoadTest, UnloadWithoutAnyRunCreatesNoFile)
{
    std::remove("fsyn_debug_dump.txt");
    EXPECT_EXIT(std::exit(4), ::testing::ExitedWithCode(4), "");
    EXPECT_FALSE(std::ifstream("fsyn_debug_dump.txt").good());
}

TEST(Global, RamMapDebugFlagIsReadOnlyAtLoad)
{
    bool at_load = s_morv_ram_map_debug;
    cfg_set_value("fsyn_ram_map_debug", at_load ? "off" : "on");
    EXPECT_EQ(s_morv_ram_map_debug, at_load);
    cfg_unset("fsyn_ram_map_debug");
}

TEST(Global, AsyncSourcesAreKeyedByNodeAlone)
{
    PIPE_ASYNC_OTERM_SET& sources = s_morv_critical_async_sources;
    sources.clear();
    EXPECT_TRUE(sources.insert({7, 9}).second);
    EXPECT_FALSE(sources.insert({7, 8}).second);  // another output of the same node
    EXPECT_TRUE(sources.insert({3, 9}).second);
    EXPECT_EQ(sources.begin()->m_node_id, 3u);
    EXPECT_EQ(sources.count({7, 0}), 1u);
    sources.clear();
}

TEST(Global, AssertReportsConditionModuleFileAndLine)
{
    int line = 0;
    try {
        line = __LINE__ + 1;
        MORV_ASSERT(1 + 1 == 3);
        FAIL() << "MORV_ASSERT returned";
    } catch (const MSG_INTERNAL_ERROR_EXCEPTION& error) {
        EXPECT_EQ(error.get_condition(), "1 + 1 == 3");
        EXPECT_EQ(error.get_module(), "MORV");
        EXPECT_NE(error.get_file().find("test_morv_global.cpp"), std::string::npos);
        EXPECT_EQ(error.get_line(), line);
    }
    try {
        MORV_ASSERT_TEXT(false, "msg_i_algo_end");
        FAIL() << "MORV_ASSERT_TEXT returned";
    } catch (const MSG_INTERNAL_ERROR_EXCEPTION& error) {
        EXPECT_EQ(error.get_condition(), "msg_i_algo_end");
    }
    EXPECT_NO_THROW(MORV_ASSERT(2 > 1));
}

}  // namespace

}  // namespace test_morv_global
