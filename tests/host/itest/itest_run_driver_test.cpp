// The run driver's switch to iTEst in an early flow: under the analyser it
// switches the engine on for an algorithm that asks for it; under the
// timing estimator, which keeps no timing netlist for iTEst, it leaves the
// engine uncreated and the estimator's timing as it was, and says so once
// per compile, naming the setting and the family. Outside the new timing
// flow the engine stays off, and that too is said once, naming both
// settings.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "cfg/cfg.h"
#include "host_env.h"
#include "io/blif_reader.h"
#include "msg/msg.h"
#include "nevra/nevra_estimator.h"
#include "tdb/tdb_netlist.h"

#include "morv/core/algorithm/morv_algorithm_base.h"
#include "morv/core/morv_api.h"
#include "morv/core/morv_env.h"
#include "morv/core/morv_expert.h"
#include "morv/timing/morv_timing.h"
#include "morv_test_util.h"
#include "test_compile_setup.h"

namespace itest_run_driver_test {

using namespace morv_host;

namespace {

constexpr const char* k_REFUSAL = "WMORV_FSYN_ITEST_NOT_WITH_NEVRA";
constexpr const char* k_FLOW_REFUSAL = "WMORV_FSYN_ITEST_WITHOUT_NEW_TIMING_FLOW";

// What the probe's iterations were given: whether the engine existed, and
// the node-id base of the estimator's timing graph (-1 without one).
struct NOTES
{
    std::vector<bool> m_engine;
    std::vector<int> m_graph_base;
};

// Asks for iTEst (unless told not to) and notes, in each iteration, what
// timing it was given.
class PROBE_ALGORITHM : public MORV_ALGORITHM_BASE
{
public:
    PROBE_ALGORITHM(MORV_API* api, const MORV_PARAMETER_MAP* params, bool asks)
        : MORV_ALGORITHM_BASE(api, params), m_asks(asks)
    {}
    ~PROBE_ALGORITHM() override {}
    std::string get_short_name() override { return "PROBE"; }
    bool use_itest() override { return m_asks; }
    void set_default_algorithm_parameters(int& np, int& icp_at_end, double& fom, int& restore) override
    {
        np = 1;
        icp_at_end = 0;
        fom = 0.0;
        restore = 0;
    }
    void set_default_pass_parameters(int, int& ni, int& hci) override
    {
        ni = 1;
        hci = 1;
    }
    int do_iter() override
    {
        m_notes.m_engine.push_back(m_fsyn_timing->get_itest() != nullptr);
        const MORV_TIMING::NEVRA* nevra = m_fsyn_timing->get_nevra();
        m_notes.m_graph_base.push_back(nevra != nullptr ? nevra->get_timing_graph()->get_node_id_base() : -1);
        return 0;
    }

    NOTES m_notes;
    bool m_asks;
};

struct EARLY_COMPILE
{
    EARLY_COMPILE(int family, bool estimator)
    {
        msg_set_quiet(true);
        cfg_set_value("fsyn_enable_ite", "on");
        cfg_set_value("fsyn_use_new_timing_flow", "on");
        cfg_set_value("fsyn_disable_netlist_sweeper", "on");
        BLIF_READER reader(family);
        design = std::make_unique<HOST_DESIGN>(
            family, reader.read_file(std::string(MORV_SOURCE_DIR) + "/designs/pipeline.blif"));
        env = std::make_unique<HOST_ENV>(*design);
        set_clock_below_critical_path(*env);
        MORV_EXPERT* expert = dynamic_cast<MORV_EXPERT*>(env->get_fsyn_expert());
        api = expert->get_fsyn_api();
        timing = api->get_fsyn_timing();
        const e_fsyn_flow early = MORV_ENV::where_does_early_fsyn_run(env->get_cmp());
        DRIVER_FLAGS::run_only(expert, early);
        DRIVER_FLAGS::set_estimator(expert, estimator);
        timing->select_timing_mode(early);
        timing->sync_timing_netlist(true, true);
        timing->perform_pre_placement_timing_analysis(false);
        msg_clear_posted_messages();
    }
    ~EARLY_COMPILE() { cfg_clear_all(); }

    // One run of the probe; its notes of the one iteration.
    NOTES run(bool asks = true) const
    {
        MORV_PARAMETER_MAP params;
        PROBE_ALGORITHM probe(api, &params, asks);
        probe.run_algorithm();
        return probe.m_notes;
    }

    std::unique_ptr<HOST_DESIGN> design;
    std::unique_ptr<HOST_ENV> env;
    MORV_API* api = nullptr;
    MORV_TIMING* timing = nullptr;
};

std::vector<std::string> refusals(const char* id = k_REFUSAL)
{
    std::vector<std::string> texts;
    for (const MSG_POSTED_MESSAGE& m : msg_posted_messages())
        if (m.id == id) texts.push_back(m.text);
    return texts;
}

}  // namespace

// Two runs under the estimator: neither creates the engine nor rebuilds
// the estimator's timing graph (a rebuild numbers its nodes anew), and the
// compile is told once.
TEST(ItestRunDriver, UnderTheEstimatorTheEngineStaysOffAndTheSettingIsNamedOnce)
{
    EARLY_COMPILE c(CDB_FAMILY_BRK, true);
    ASSERT_EQ(c.timing->get_timing_mode(), MORV_TIMING_MODE_NEVRA);
    const int graph_base = c.timing->get_nevra()->get_timing_graph()->get_node_id_base();
    for (int run = 0; run < 2; ++run) {
        const NOTES probe = c.run();
        ASSERT_EQ(probe.m_engine.size(), 1u) << run;
        EXPECT_FALSE(probe.m_engine[0]) << run;
        EXPECT_EQ(probe.m_graph_base[0], graph_base) << run;
    }
    const std::vector<std::string> texts = refusals();
    ASSERT_EQ(texts.size(), 1u);
    EXPECT_NE(texts[0].find("fsyn_enable_ite"), std::string::npos) << texts[0];
    EXPECT_NE(texts[0].find("BRK"), std::string::npos) << texts[0];
    EXPECT_FALSE(c.timing->is_itest_enabled());
}

// The same family timed by the analyser: the engine serves the run, and
// nothing is said.
TEST(ItestRunDriver, UnderTheAnalyserTheEngineServesTheRunWithoutAWord)
{
    EARLY_COMPILE c(CDB_FAMILY_BRK, false);
    ASSERT_EQ(c.timing->get_timing_mode(), MORV_TIMING_MODE_TDC);
    const NOTES probe = c.run();
    ASSERT_EQ(probe.m_engine.size(), 1u);
    EXPECT_TRUE(probe.m_engine[0]);
    EXPECT_TRUE(refusals().empty());
    // The run driver switches it off again at the end of the run.
    EXPECT_FALSE(c.timing->is_itest_enabled());
}

// Outside the new timing flow the engine stays off under the analyser too:
// a run that asks for it is told once, naming both settings; a run that
// does not ask, or one without the setting, hears nothing.
TEST(ItestRunDriver, OutsideTheNewTimingFlowTheEngineStaysOffAndTheSettingIsNamedOnce)
{
    EARLY_COMPILE c(CDB_FAMILY_BRK, false);
    cfg_set_value("fsyn_use_new_timing_flow", "off");
    EXPECT_FALSE(c.run(false).m_engine.at(0));
    cfg_set_value("fsyn_enable_ite", "off");
    EXPECT_FALSE(c.run().m_engine.at(0));
    EXPECT_TRUE(refusals(k_FLOW_REFUSAL).empty());
    cfg_set_value("fsyn_enable_ite", "on");
    for (int run = 0; run < 2; ++run) EXPECT_FALSE(c.run().m_engine.at(0)) << run;
    const std::vector<std::string> texts = refusals(k_FLOW_REFUSAL);
    ASSERT_EQ(texts.size(), 1u);
    EXPECT_NE(texts[0].find("fsyn_enable_ite=on"), std::string::npos) << texts[0];
    EXPECT_NE(texts[0].find("fsyn_use_new_timing_flow=on"), std::string::npos) << texts[0];
    EXPECT_TRUE(refusals().empty());
}

}  // namespace itest_run_driver_test
