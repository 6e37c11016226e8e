#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "abc_equiv.h"
#include "flow_fit.h"
#include "host_compile.h"
#include "morv_test_util.h"
#include "msg/msg.h"

namespace flow_test_string_test {

namespace {

const std::string k_design = std::string(MORV_SOURCE_DIR) + "/designs/pipeline.blif";

TEST(FlowTestString, EarlyAndLateRunsKeepTheDesignEquivalent)
{
    for (const char* family : {"BRK", "ZEPLA", "MRL", "OBRAN"}) {
        const std::string output = std::string("pipeline_") + family + ".out.blif";
        std::string log;
        const int status =
            fit({"-q", "--family", family, "--test-string", "TEST(NP=2:NI=3)|TEST()", "-o", output, k_design}, &log);
        ASSERT_EQ(status, 0) << family << "\n" << log;
        // One run at the early point, one at LATE, each with its closing message.
        EXPECT_EQ(count_posted("IMORV_PHYSICAL_SYNTHESIS_ALGO_START"), 2) << family;
        EXPECT_EQ(count_posted("IMORV_PHYSICAL_SYNTHESIS_ALGO_END_SLACK"), 2) << family;
        EXPECT_EQ(count_posted("EMORV_FSYN_MALFORMED_TEST_STRING"), 0) << family;
        if (!abc_is_available()) continue;
        ABC_RESULT r = abc_check_equivalence(k_design, output, true);
        EXPECT_TRUE(r.is_equivalent()) << family << ": " << abc_verdict_name(r.m_verdict) << "\n" << r.m_output;
    }
}

TEST(FlowTestString, MalformedStringIsAUserErrorThatStopsTheCompile)
{
    std::string log;
    const int status = fit({"-q", "--test-string", "TEST(NP=1);NOPE()", "-o", "pipeline_bad.out.blif", k_design}, &log);
    EXPECT_EQ(status, 1) << log;
    EXPECT_EQ(count_posted("EMORV_FSYN_MALFORMED_TEST_STRING"), 1);
    EXPECT_EQ(count_posted("IMORV_PHYSICAL_SYNTHESIS_ALGO_START"), 0);
    EXPECT_NE(log.find("no output is written"), std::string::npos) << log;
    EXPECT_FALSE(std::ifstream("pipeline_bad.out.blif").good());
}

// Every algorithm a family's table names is built, and each one named here
// runs once, in order, with no warning that something was skipped.
TEST(FlowTestString, EveryAlgorithmOfTheStringRunsAndNoneIsSkipped)
{
    std::string log;
    const int status =
        fit({"-q", "--test-string", "RAM_MAP(NP=1);TEST();RAM_MAP()", "-o", "pipeline_rtm.out.blif", k_design}, &log);
    EXPECT_EQ(status, 0) << log;
    EXPECT_EQ(count_posted("WMORV_FSYN_NOT_AVAILABLE_YET"), 0);
    EXPECT_EQ(count_posted("IMORV_PHYSICAL_SYNTHESIS_ALGO_START"), 3);
}

// A slot of the algorithm list that no family fills is no algorithm to run:
// the compile stops before any run, names it and writes nothing.
TEST(FlowTestString, AnAlgorithmNoFamilyBuildsStopsTheCompile)
{
    std::string log;
    const int status =
        fit({"-q", "--test-string", "TEST();REG_PACK()", "-o", "pipeline_pack.out.blif", k_design}, &log);
    EXPECT_EQ(status, 1) << log;
    std::string error;
    for (const MSG_POSTED_MESSAGE& m : msg_posted_messages())
        if (m.kind == MSG_KIND::ERROR) error += m.text;
    EXPECT_NE(error.find("Invalid Algorithm entered"), std::string::npos) << error;
    EXPECT_NE(error.find("REG_PACK"), std::string::npos) << error;
    EXPECT_EQ(count_posted("IMORV_PHYSICAL_SYNTHESIS_ALGO_START"), 0);
    EXPECT_FALSE(std::ifstream("pipeline_pack.out.blif").good());
}

}  // namespace

}  // namespace flow_test_string_test
