// The retiming lower bound of every bundled sequential design after its
// compile (early flows, placement, LATE with the test algorithm), for every
// family: reported at level 1 and never below the placed figure of merit.
// Each row is printed as "retiming bound: <design> <family> FOM <f> bound <b>".

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "cdb/cdb_atom_netlist.h"
#include "cfg/cfg.h"
#include "host_compile.h"
#include "host_env.h"
#include "io/blif_reader.h"
#include "msg/msg.h"
#include "tdc/tdc_accessories.h"

#include "morv/core/morv_api.h"
#include "morv/core/morv_debug_stream.h"
#include "morv/core/morv_expert.h"
#include "morv/core/morv_setting_ids.h"
#include "morv/timing/morv_timing.h"

namespace flow_timing_test {

using namespace morv_host;

namespace {

const char* const DESIGNS[] = {"adder_tree", "counter", "pipeline"};

struct FAMILY
{
    const char* name;
    int code;
};

class FlowRetimingBound : public ::testing::TestWithParam<FAMILY>
{
protected:
    void SetUp() override
    {
        cfg_clear_all();
        msg_set_quiet(true);
    }
    void TearDown() override
    {
        MORV_DEBUG_STREAM::get_stream().reset();
        std::remove("retiming_bound_log.txt");
        cfg_clear_all();
    }
};

}  // namespace

TEST_P(FlowRetimingBound, EveryDesignsBoundIsReportedAndNeverBelowItsFigureOfMerit)
{
    const FAMILY family = GetParam();
    for (const char* name : DESIGNS) {
        SCOPED_TRACE(std::string(family.name) + " " + name);
        BLIF_READER reader(family.code);
        HOST_DESIGN design(family.code, reader.read_file(std::string(MORV_SOURCE_DIR) + "/designs/" + name + ".blif"));
        design.options().set_string(MORV_SETTING_TEST_STRING, "TEST()|TEST()");
        HOST_ENV env(design);
        FIT_OPTIONS options;
        options.family = family.name;
        std::ostringstream log;
        run_compile(env, options, log);

        auto* expert = dynamic_cast<MORV_EXPERT*>(env.get_fsyn_expert());
        ASSERT_NE(expert, nullptr);
        MORV_TIMING* timing = expert->get_fsyn_api()->get_fsyn_timing();
        MORV_DEBUG_STREAM& stream = MORV_DEBUG_STREAM::get_stream();
        stream.reset("retiming_bound_log.txt");
        stream.set_enabled(true);
        stream.set_fstream(true);
        stream.set_threshold(1);
        const int fom = timing->get_figure_of_merit(true);
        const int bound = timing->get_retiming_lower_bound_fom();
        stream.reset();
        EXPECT_GE(bound, fom);
        std::ifstream in("retiming_bound_log.txt");
        std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        EXPECT_NE(text.find("RTM_LB_FOM: curr=" + std::to_string(fom) + " lb=" + std::to_string(bound)),
                  std::string::npos)
            << text;
        std::printf("retiming bound: %s %s FOM %d bound %d\n", name, family.name, fom, bound);
    }
}

INSTANTIATE_TEST_SUITE_P(Families, FlowRetimingBound,
                         ::testing::Values(FAMILY{"BRK", CDB_FAMILY_BRK}, FAMILY{"ZEPLA", CDB_FAMILY_ZEPLA},
                                           FAMILY{"TEV", CDB_FAMILY_TEV}, FAMILY{"MRL", CDB_FAMILY_MRL},
                                           FAMILY{"KESTLIN", CDB_FAMILY_KESTLIN}, FAMILY{"RZK", CDB_FAMILY_RZK},
                                           FAMILY{"OBRAN", CDB_FAMILY_OBRAN}, FAMILY{"UVO", CDB_FAMILY_UVO}),
                         [](const ::testing::TestParamInfo<FAMILY>& param) { return std::string(param.param.name); });

}  // namespace flow_timing_test
