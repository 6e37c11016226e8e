// The retiming figure of merit on a real design: the average criticality of
// every timed input term plus the timing object's figure, and one term
// without valid timing left out of both the sum and the count.

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>

#include "cdb/cdb_atom_netlist.h"
#include "host_env.h"
#include "io/blif_reader.h"
#include "msg/msg.h"

#include "morv/core/morv_api.h"
#include "morv/core/morv_expert.h"
#include "morv/timing/morv_timing.h"
#include "retiming_test_leaf.h"
#include "scripted_slack.h"
#include "test_compile_setup.h"

namespace retiming_fom_test {

namespace {

using namespace morv_host;

class RetimingObject : public ::testing::Test
{};

// The figure as the timing object's ratios give it, term by term.
double direct_figure(CDB_ATOM_NETLIST& netlist, MORV_TIMING* timing, double trade, double* criticality)
{
    double sum = 0.0;
    long count = 0;
    for (CDB_ATOM_NODE* node : netlist) {
        for (auto it = node->begin_iterm(); it != node->end_iterm(); ++it) {
            const double s = timing->get_slack_ratio(*it);
            if (s == -1.0) continue;
            sum += 1.0 - std::pow(1.0 - s, 8);
            ++count;
        }
    }
    *criticality = sum / static_cast<double>(count + 1) * trade;
    return *criticality + timing->get_figure_of_merit(false);
}

}  // namespace

TEST_F(RetimingObject, FigureOfMeritOnFriscMatchesTheSlackRatiosAndIgnoresAnUntimedTerm)
{
    msg_set_quiet(true);
    BLIF_READER reader(CDB_FAMILY_BRK);
    HOST_DESIGN design(CDB_FAMILY_BRK, reader.read_file(std::string(MORV_BENCH_DIR) + "/mcnc_k4/frisc.blif"));
    HOST_ENV env(design);
    set_clock_below_critical_path(env);
    MORV_EXPERT* expert = dynamic_cast<MORV_EXPERT*>(env.get_fsyn_expert());
    DRIVER_FLAGS::run_only(expert, LATE_FSYN_FLOW);
    MORV_API* api = expert->get_fsyn_api();
    MORV_TIMING* timing = api->get_fsyn_timing();
    timing->sync_timing_netlist(false, true);
    timing->perform_timing_analysis();
    const double trade = 1.0;
    TEST_RETIMING_LEAF rtm(api, nullptr, trade);

    double criticality = 0.0;
    const double fom = rtm.compute_figure_of_merit();
    EXPECT_NEAR(fom, direct_figure(*design.netlist(), timing, trade, &criticality), 1e-9);
    ASSERT_GT(criticality, 0.0);

    // The most critical driven term loses its timing.
    CDB_ATOM_ITERM* chosen = nullptr;
    for (CDB_ATOM_NODE* node : *design.netlist())
        for (auto it = node->begin_iterm(); it != node->end_iterm(); ++it)
            if ((*it)->get_source() != nullptr &&
                (chosen == nullptr || timing->get_slack_ratio(*it) < timing->get_slack_ratio(chosen)))
                chosen = *it;
    ASSERT_NE(chosen, nullptr);
    SCRIPTED_SLACK_SOURCE untimed(timing);
    untimed.set_slack_ratio(chosen, -1.0);
    double criticality_without = 0.0;
    const double fom_without = rtm.compute_figure_of_merit();
    EXPECT_NEAR(fom_without, direct_figure(*design.netlist(), timing, trade, &criticality_without), 1e-9);
    EXPECT_LT(std::fabs(fom_without - fom), 0.01 * std::fabs(fom));
    // Also the criticality part alone, which the figure's integer part could hide.
    EXPECT_LT(std::fabs(criticality_without - criticality), 0.01 * criticality);
}

}  // namespace retiming_fom_test
