#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "cfg/cfg.h"
#include "msg/msg.h"

#include "morv/core/morv_api.h"
#include "morv/core/morv_debug_stream.h"
#include "morv/core/stats/morv_qor_stats.h"
#include "morv/core/stats/morv_stats.h"
#include "morv_probe_expert.h"
#include "morv_test_util.h"

namespace morv_stats_test {

namespace {

std::vector<std::string> read_lines(const char* path)
{
    std::vector<std::string> lines;
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

// Logger lines that reached the host channel since the last clear.
std::vector<std::string> logged_lines()
{
    std::vector<std::string> lines;
    for (const auto& line : msg_vdebug_lines()) lines.push_back(line.text);
    return lines;
}

bool has_line(const std::vector<std::string>& lines, const std::string& text)
{
    for (const auto& line : lines)
        if (line == text) return true;
    return false;
}

class MorvStatsTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        cfg_clear_all();
        msg_set_quiet(true);
        std::remove("fsyn_qor_stats.csv");
    }
    void TearDown() override { cfg_clear_all(); }
};

TEST_F(MorvStatsTest, ReportPrintsEveryRecordAndATotalWithoutDividingByZero)
{
    MORV_TEST_HOST host(6);
    host.build_chain(2);
    MORV_GATE_ENV env(&host.cmp);
    MORV_PROBE_EXPERT expert(&env);
    MORV_STATS_MGR* stats = expert.get_fsyn_api()->get_fsyn_stats();

    stats->note_node_added();  // outside any run: not counted
    MORV_STATS* first = stats->start_algorithm("RTM");
    stats->note_node_added();
    stats->note_node_added();
    stats->note_node_deleted();
    stats->note_node_modified();
    stats->note_timing_analysis(true, true, true, 2, 1);
    stats->end_algorithm();
    stats->note_node_deleted();  // between runs: not counted
    MORV_STATS* second = stats->start_algorithm("TEST");
    stats->note_timing_analysis(false, false, false, 1, 0);
    stats->end_algorithm();
    EXPECT_EQ(first->m_atoms_added, std::make_pair(2, 2));
    EXPECT_EQ(first->m_atoms_deleted, std::make_pair(1, 1));
    EXPECT_EQ(second->m_atoms_deleted, std::make_pair(0, 0));
    EXPECT_EQ(second->m_timing_analyses, std::make_pair(1, 1));

    // Figures chosen so that the total's ratio compares the first start with the last end.
    first->m_start_fom = 200;
    first->m_end_fom = 150;
    second->m_start_fom = 0;
    second->m_end_fom = 100;
    first->m_start_cpu = 10.0;
    first->m_end_cpu = 14.0;
    second->m_start_cpu = 14.0;
    second->m_end_cpu = 14.2;

    msg_clear_vdebug_lines();
    stats->print_statistics();
    const std::vector<std::string> lines = logged_lines();
    EXPECT_TRUE(has_line(lines, "\tOutputting FSYN Statistics"));
    EXPECT_TRUE(has_line(lines, "Start Algorithm RTM"));
    EXPECT_TRUE(has_line(lines, "\t(complete) num atoms added / deleted / modified: 2 / 1 / 1"));
    EXPECT_TRUE(has_line(lines, "\t(restored) num timing anal / icp / post-icp: 0 / 1  / 1"));
    EXPECT_TRUE(has_line(lines, "   fom ratio (< 1 is good) is 0.75 [200 -> 150]"));
    EXPECT_TRUE(has_line(lines, "   WARNING: (complete) num ICP failures: 1"));
    EXPECT_TRUE(has_line(
        lines, "   (complete) timing anal / icp / post-icp / all [seconds]: 0(  0%) / 2( 50%) / 1( 25%) / 3( 75%)"));
    EXPECT_TRUE(has_line(lines, "\tnum seconds in algorithm is: 4 seconds"));
    // The short run: a zero start figure and zero seconds print neutral values.
    EXPECT_TRUE(has_line(lines, "   fom ratio (< 1 is good) is 1 [0 -> 0]"));
    EXPECT_TRUE(has_line(
        lines, "   (restored) timing anal / icp / post-icp / all [seconds]: 0(  0%) / 0(  0%) / 0(  0%) / 0(  0%)"));
    EXPECT_TRUE(has_line(lines, "Start Algorithm TOTAL"));
    EXPECT_TRUE(has_line(lines, "   fom ratio (< 1 is good) is 0.5 [200 -> 100]"));
    EXPECT_TRUE(has_line(lines, "\t(complete) num timing anal / icp / post-icp: 1 / 1 / 1"));
    EXPECT_EQ(lines.back(), "End Algorithm TOTAL");

    msg_clear_vdebug_lines();
    stats->delete_records();
    stats->print_statistics();
    EXPECT_TRUE(has_line(logged_lines(), "   fom ratio (< 1 is good) is 1 [0 -> 0]"));
}

TEST_F(MorvStatsTest, QorFileHoldsTheRowsOfTwoAlgorithmRunsInTheLateFlow)
{
    MORV_TEST_HOST host(6);
    host.build_chain(3);
    MORV_GATE_ENV env(&host.cmp);
    cfg_set_value("fsyn_dump_qor_stats", "on");
    {
        MORV_PROBE_EXPERT expert(&env);
        MORV_QOR_STAT_MGR* qor = expert.get_fsyn_api()->get_fsyn_qor_stat_mgr();
        ASSERT_NE(qor, nullptr);
        qor->begin_late_flow();
        qor->begin_algorithm("RTM", 3);
        qor->increment_int(MORV_QOR_NODES_ADDED);
        qor->add_double(MORV_QOR_ICP_TIME, 12.5);
        qor->end_algorithm();
        qor->begin_algorithm("TEST", 4);
        qor->end_algorithm();
        qor->end_late_flow();

        EXPECT_EQ(internal_error_of([&] { qor->increment_int(MORV_QOR_ICP_TIME); }),
                  "m_stats[id].m_type == MORV_QOR_STAT_TYPE_INT");
        EXPECT_EQ(internal_error_of([&] { qor->set_delay(MORV_QOR_FOM_GAIN, 1); }),
                  "m_stats[id].m_type == MORV_QOR_STAT_TYPE_DELAY");
    }
    const std::vector<std::string> rows = read_lines("fsyn_qor_stats.csv");
    ASSERT_EQ(rows.size(), 1u + 2u * 14u + 3u);
    const std::string no_timing = std::to_string(MORV_TIMING::s_NO_VALID_FOM);
    EXPECT_EQ(rows[0], "Late,,Initial FOM," + no_timing + ",DLY");
    EXPECT_EQ(rows[1], "Late,RTM(3),Initial FOM," + no_timing + ",DLY");
    EXPECT_EQ(rows[2], "Late,RTM(3),Final FOM," + no_timing + ",DLY");
    EXPECT_EQ(rows[3], "Late,RTM(3),FOM Gain,0,DBL");
    EXPECT_EQ(rows[4], "Late,RTM(3),Nodes Added,1,INT");
    EXPECT_EQ(rows[13], "Late,RTM(3),ICP Time,12.5,DBL");
    EXPECT_EQ(rows[15], "Late,TEST(4),Initial FOM," + no_timing + ",DLY");
    // Every write resets: the second run starts from zero.
    EXPECT_EQ(rows[18], "Late,TEST(4),Nodes Added,0,INT");
    EXPECT_EQ(rows[27], "Late,TEST(4),ICP Time,0,DBL");
    EXPECT_EQ(rows[29], "Late,,Final FOM," + no_timing + ",DLY");
    EXPECT_EQ(rows[30], "Late,,FOM Gain,0,DBL");
    EXPECT_EQ(rows[31].rfind("Late,,Total Flow Time,", 0), 0u);
}

TEST_F(MorvStatsTest, EarlyFlowStartCountsAtomsAndPercentagesOfAnEmptyNetlistAreZero)
{
    cfg_set_value("fsyn_dump_qor_stats", "on");
    {
        MORV_TEST_HOST host(6);
        MORV_GATE_ENV env(&host.cmp);
        MORV_PROBE_EXPERT expert(&env);
        MORV_QOR_STAT_MGR* qor = expert.get_fsyn_api()->get_fsyn_qor_stat_mgr();
        qor->begin_early_flow(true);
        qor->end_early_flow();
    }
    {
        MORV_TEST_HOST host(6);
        host.build_chain(4);
        MORV_GATE_ENV env(&host.cmp);
        MORV_PROBE_EXPERT expert(&env);
        expert.get_fsyn_api()->get_fsyn_qor_stat_mgr()->begin_early_flow(false);
    }
    const std::vector<std::string> rows = read_lines("fsyn_qor_stats.csv");
    // Start: ids 0 and 3..6, 19..22; end: 1, 2, 18.
    ASSERT_EQ(rows.size(), 9u + 3u + 9u);
    EXPECT_EQ(rows[1], "SYN-Early,,CDB Nodes,0,INT");
    EXPECT_EQ(rows[2], "SYN-Early,,DONT_TOUCH[DUP] Nodes,0,DBL");
    EXPECT_EQ(rows[5], "SYN-Early,,Critical Nodes (SR < 0.01),0,DBL");
    EXPECT_EQ(rows[13], "FIT-Early,,CDB Nodes,4,INT");
    // Without a timing netlist every fanout reads 1.0: nothing is critical.
    EXPECT_EQ(rows[20], "FIT-Early,,Critical Nodes (SR < 0.5),0,DBL");
}

}  // namespace

}  // namespace morv_stats_test
