#include <gtest/gtest.h>

#include <sstream>

#include "cfg/cfg.h"
#include "gen/gen.h"

namespace gen_test {

namespace {

TEST(GenTest, ElapsedTimeFormat)
{
    EXPECT_EQ(gen_format_elapsed_time(0), "00:00:00");
    EXPECT_EQ(gen_format_elapsed_time(5), "00:00:05");
    EXPECT_EQ(gen_format_elapsed_time(59), "00:00:59");
    EXPECT_EQ(gen_format_elapsed_time(61), "00:01:01");
    EXPECT_EQ(gen_format_elapsed_time(3600 + 2 * 60 + 3), "01:02:03");
    EXPECT_EQ(gen_format_elapsed_time(100LL * 3600), "100:00:00");
    EXPECT_EQ(gen_format_elapsed_time(-7), "00:00:00");
}

TEST(GenTest, TimersMoveForward)
{
    double cpu0 = gen_get_sec_cpu(), wall0 = gen_get_sec_wallclock();
    volatile double sink = 0;
    for (int i = 0; i < 200000; ++i) sink = sink + i * 0.5;
    EXPECT_GE(gen_get_sec_cpu(), cpu0);
    EXPECT_GE(gen_get_sec_wallclock(), wall0);

    GEN_STOPWATCH sw;
    EXPECT_EQ(sw.get_wall_seconds(), 0.0);
    sw.start();
    sw.stop();
    double first = sw.get_wall_seconds();
    EXPECT_GE(first, 0.0);
    sw.start();
    sw.stop();
    EXPECT_GE(sw.get_wall_seconds(), first);
    sw.reset();
    EXPECT_EQ(sw.get_wall_seconds(), 0.0);
}

TEST(GenTest, ProfilerSectionsNestAndReport)
{
    GEN_PROFILE_BINS& bins = GEN_PROFILE_BINS::instance();
    bins.clear();
    for (int i = 0; i < 3; ++i) {
        GEN_PROFILER outer("FSYN_flow");
        {
            GEN_PROFILER inner("FSYN_timing_icp");
        }
        {
            GEN_PROFILER inner("FSYN_timing_icp");
        }
    }
    {
        GEN_PROFILER alone("FSYN_timing_icp");
    }
    EXPECT_EQ(bins.get_open_depth(), 0);
    ASSERT_NE(bins.find_bin("FSYN_flow"), nullptr);
    EXPECT_EQ(bins.find_bin("FSYN_flow")->calls, 3);
    const GEN_PROFILE_BINS::BIN* nested = bins.find_bin("FSYN_flow/FSYN_timing_icp");
    ASSERT_NE(nested, nullptr);
    EXPECT_EQ(nested->calls, 6);
    EXPECT_EQ(nested->depth, 1);
    EXPECT_EQ(bins.find_bin("FSYN_timing_icp")->calls, 1);
    EXPECT_EQ(bins.find_bin("missing"), nullptr);

    std::ostringstream out;
    bins.print_report(out);
    std::string report = out.str();
    EXPECT_EQ(report.find("FSYN_flow"), 0u);
    EXPECT_NE(report.find("\n  FSYN_timing_icp"), std::string::npos);
    bins.leave();  // unbalanced leave is ignored
    bins.clear();
    EXPECT_TRUE(bins.get_bins().empty());
}

TEST(GenTest, RegtestModeFollowsSetting)
{
    cfg_unset("tst_regtest_mode");
    EXPECT_FALSE(tst_is_regtest_mode());
    cfg_set_value("tst_regtest_mode", "on");
    EXPECT_TRUE(tst_is_regtest_mode());
    cfg_unset("tst_regtest_mode");
}

enum class TEST_FLAG
{
    A = 0,
    B = 3,
    C = 31
};

TEST(GenTest, EnumFlagWord)
{
    GEN_ENUM_FLAG<TEST_FLAG> f;
    EXPECT_EQ(f.get_value(), 0u);
    f.set(TEST_FLAG::B);
    f.set(TEST_FLAG::C);
    EXPECT_TRUE(f.is_set(TEST_FLAG::B));
    EXPECT_FALSE(f.is_set(TEST_FLAG::A));
    EXPECT_EQ(f.get_value(), 0x80000008u);
    f.set(TEST_FLAG::B, false);
    EXPECT_EQ(f.get_value(), 0x80000000u);
}

}  // namespace

}  // namespace gen_test
