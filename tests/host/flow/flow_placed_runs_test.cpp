// Runs after placement are judged by the clock the design reaches: a run
// that raises the figure of merit (summed over the clock and the I/O) while
// it lowers the placed worst slack is undone.

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "flow_fit.h"
#include "test_build.h"

namespace flow_placed_runs_test {

namespace {

const std::string k_bench = MORV_BENCH_DIR;

// The worst slack and LUT count of the summary row of a step, or false.
bool step_row(const std::string& table, const std::string& step, int& luts, int& slack)
{
    std::istringstream lines(table);
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        std::string name;
        int atoms = 0, registers = 0;
        if (fields >> name && name == step && fields >> atoms >> luts >> registers >> slack) return true;
    }
    return false;
}

// On s9234.1 at seed 1 BDD resynthesis raises the figure of merit through
// slack off the worst path (-6310 to -6120) while the worst slack falls from
// -1860 to -1910 ps, 7 LUTs more: the slower result must not be kept. The
// smallest design found that shows it; about two seconds in Release, so the
// sanitizer build leaves it out.
TEST(FlowPlacedRuns, AResynthesisThatSlowsThePlacedDesignIsUndone)
{
    if (k_small_designs_only) GTEST_SKIP() << "a benchmark-sized compile; Release runs it";
    std::string log;
    const int status = fit({"-q", "--family", "BRK", "--seed", "1", "--clock-period", "1980", "--test-string",
                            "BDD_SYN()", "-o", "s9234_bdd.out.blif", k_bench + "/iscas89_k6/s9234.1.blif"},
                           &log);
    ASSERT_EQ(status, 0) << log;
    int placed_luts = 0, placed_slack = 0, final_luts = 0, final_slack = 0;
    ASSERT_TRUE(step_row(log, "placement", placed_luts, placed_slack)) << log;
    ASSERT_TRUE(step_row(log, "back-annotation", final_luts, final_slack)) << log;
    EXPECT_GE(final_slack, placed_slack) << log;
    EXPECT_LE(final_luts, placed_luts) << log;
}

}  // namespace

}  // namespace flow_placed_runs_test
