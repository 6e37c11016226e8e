#include <gtest/gtest.h>

#include <fstream>

#include "cfg/cfg.h"

namespace cfg_test {

namespace {

class CfgTest : public ::testing::Test
{
protected:
    void SetUp() override { cfg_clear_all(); }
    void TearDown() override { cfg_clear_all(); }
};

TEST_F(CfgTest, OnOffSpellingsAndDefaults)
{
    EXPECT_FALSE(cfg_is_on("fsyn_x"));
    EXPECT_TRUE(cfg_is_on("fsyn_x", true));
    for (const char* on : {"on", "ON", "1", "true", "True"}) {
        cfg_set_value("fsyn_x", on);
        EXPECT_TRUE(cfg_is_on("fsyn_x")) << on;
    }
    // A present value that is not an on spelling is off, whatever the default.
    for (const char* off : {"off", "0", "false", "yes", "", "2"}) {
        cfg_set_value("fsyn_x", off);
        EXPECT_FALSE(cfg_is_on("fsyn_x", true)) << off;
    }
    cfg_unset("fsyn_x");
    EXPECT_TRUE(cfg_is_on("fsyn_x", true));
    EXPECT_EQ(cfg_get_value("fsyn_x"), nullptr);
}

TEST_F(CfgTest, IntValues)
{
    EXPECT_EQ(cfg_get_int_value("n", 7), 7);
    cfg_set_value("n", " -42 ");
    EXPECT_EQ(cfg_get_int_value("n", 7), -42);
    for (const char* bad : {"abc", "12x", "", "99999999999"}) {
        cfg_set_value("n", bad);
        EXPECT_EQ(cfg_get_int_value("n", 7), 7) << bad;
    }
}

TEST_F(CfgTest, LoadFileAndReportBadLine)
{
    {
        std::ofstream out("cfg_ok.txt");
        out << "# comment\n\n  fsyn_a = on \nfsyn_b=3\nfsyn_c=\n";
    }
    cfg_load_file("cfg_ok.txt");
    EXPECT_TRUE(cfg_is_on("fsyn_a"));
    EXPECT_EQ(cfg_get_int_value("fsyn_b"), 3);
    ASSERT_NE(cfg_get_value("fsyn_c"), nullptr);
    EXPECT_STREQ(cfg_get_value("fsyn_c"), "");

    {
        std::ofstream out("cfg_bad.txt");
        out << "fsyn_d=1\n\nno equals sign here\n";
    }
    try {
        cfg_load_file("cfg_bad.txt");
        FAIL() << "expected CFG_ERROR";
    } catch (const CFG_ERROR& e) {
        EXPECT_NE(std::string(e.what()).find("cfg_bad.txt:3"), std::string::npos) << e.what();
    }
    EXPECT_THROW(cfg_load_file("cfg_missing_file.txt"), CFG_ERROR);
    {
        std::ofstream out("cfg_nokey.txt");
        out << "=5\n";
    }
    EXPECT_THROW(cfg_load_file("cfg_nokey.txt"), CFG_ERROR);
}

TEST_F(CfgTest, ValuePointerSurvivesOtherInsertions)
{
    cfg_set_value("k0", "v0");
    const char* v = cfg_get_value("k0");
    for (int i = 1; i < 200; ++i) {
        std::string key = "k";
        key += std::to_string(i);
        cfg_set_value(key.c_str(), "x");
    }
    EXPECT_STREQ(v, "v0");
}

}  // namespace

}  // namespace cfg_test
