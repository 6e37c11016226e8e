// The early flows of public benchmarks with the incremental timing
// estimator on, under the settings the figures are taken with (every
// physical-synthesis setting, the new timing flow, the analyser in place of
// the timing estimator): iTEst times the iterations, so the host analyses
// fewer times than with it off, and the netlist the flows leave is proved
// equivalent to the one read.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "abc_equiv.h"
#include "cfg/cfg.h"
#include "gen/gen.h"
#include "host_env.h"
#include "host_options.h"
#include "host_settings.h"
#include "io/blif_reader.h"
#include "io/blif_writer.h"
#include "msg/msg.h"
#include "tdc/tdc_accessories.h"

#include "morv/core/morv_expert.h"
#include "morv/core/morv_setting_ids.h"
#include "test_build.h"

namespace flow_itest_test {

using namespace morv_host;

namespace {

struct EARLY_FLOWS
{
    long analyses = 0;   // the host's timing analyses during the flows
    long estimates = 0;  // iTEst's estimations (each either estimated or fell back)
};

long profiler_calls(const char* name)
{
    long calls = 0;
    for (const GEN_PROFILE_BINS::BIN& bin : GEN_PROFILE_BINS::instance().get_bins())
        if (bin.name == name) calls += static_cast<long>(bin.calls);
    return calls;
}

void apply_settings(HOST_DESIGN& design, bool itest)
{
    cfg_clear_all();
    HOST_SETTINGS settings;
    for (const char* id : {"659", "660", "662", "663", "664", "665"}) settings.add(id, "on", "test");
    settings.add("fsyn_use_new_timing_flow", "on", "test");
    settings.add("fsyn_disable_nevra", "on", "test");
    settings.add("fsyn_enable_ite", itest ? "on" : "off", "test");
    settings.apply_options_and_switches(design.options());
    design.options().set_int(MORV_SETTING_PLACER_SEED, 1);
    design.options().set_enum(MORV_SETTING_EFFORT, effort_setting_value(FIT_EFFORT::NORMAL));
}

// Both early flows of the design, clocked at 90 % of its unoptimised
// critical path; the result is written to `output`.
EARLY_FLOWS run_early_flows(const std::string& path, int family, bool itest, const std::string& output)
{
    msg_set_quiet(true);
    BLIF_READER reader(family);
    reader.set_pack_registers(true);
    HOST_DESIGN design(family, reader.read_file(path));
    apply_settings(design, itest);
    EARLY_FLOWS r;
    {
        HOST_ENV env(design);
        env.design().make_device_current();
        const int64_t critical = env.measure_unoptimised_critical_path_ps();
        env.set_clock_period_ps(critical > 0 ? std::max(100, static_cast<int>((critical * 9 / 10 + 5) / 10 * 10))
                                             : 10000);
        MORV_EXPERT_INTERFACE* expert = env.get_fsyn_expert();
        GEN_PROFILE_BINS::instance().clear();
        const long before = tdc_get_accessories()->get_num_analyses();
        for (e_fsyn_flow flow : {SYN_EARLY_FSYN_FLOW, FIT_EARLY_FSYN_FLOW})
            if (expert->will_fsyn_run(flow)) (void)expert->do_physical_synthesis(flow);
        r.analyses = tdc_get_accessories()->get_num_analyses() - before;
        r.estimates = profiler_calls("fsyn_ite_perform_timing_estimation");
    }
    blif_write_netlist_file(*design.netlist(), output, "top");
    cfg_clear_all();
    return r;
}

class FlowItest : public ::testing::TestWithParam<int>
{
protected:
    void TearDown() override { cfg_clear_all(); }
};

}  // namespace

TEST_P(FlowItest, EarlyFlowsTimedByItestAnalyseLessAndStayEquivalent)
{
    const int family = GetParam();
    std::vector<std::string> designs = {"s298", "tseng", "diffeq"};
    if (k_small_designs_only) designs.resize(1);
    for (const std::string& name : designs) {
        const std::string source = std::string(MORV_BENCH_DIR) + "/mcnc_k4/" + name + ".blif";
        const std::string label = name + " family " + std::to_string(family);
        const std::string output = name + "_" + std::to_string(family) + "_itest.out.blif";
        const EARLY_FLOWS off = run_early_flows(source, family, false, name + "_" + std::to_string(family) + ".blif");
        const EARLY_FLOWS on = run_early_flows(source, family, true, output);
        std::printf("%s: host analyses %ld with iTEst off, %ld on; %ld estimates\n", label.c_str(), off.analyses,
                    on.analyses, on.estimates);
        EXPECT_EQ(off.estimates, 0) << label;
        EXPECT_GT(on.estimates, 0) << label;
        // Each iteration iTEst times is one analysis fewer.
        EXPECT_LT(on.analyses, off.analyses) << label;
        if (!abc_is_available()) continue;
        const ABC_RESULT r = abc_check_equivalence(source, output, true, 300);
        EXPECT_TRUE(r.is_equivalent()) << label << ": " << abc_verdict_name(r.m_verdict) << "\n" << r.m_output;
    }
}

INSTANTIATE_TEST_SUITE_P(Families, FlowItest, ::testing::Values(CDB_FAMILY_MRL, CDB_FAMILY_UVO));

}  // namespace flow_itest_test
