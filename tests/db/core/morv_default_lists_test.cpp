// The default algorithm lists of every family, flow point and effort as the
// family drivers build them, compared run by run with the lists they must
// be; and the rules that change them: the xICP marks, the density prologue,
// the effort adaptation by circuit characteristic and the OBRAN LAB overuse
// cut-off.

#include <gtest/gtest.h>

#include <cmath>
#include <initializer_list>
#include <memory>
#include <string>

#include "cfg/cfg.h"
#include "dev/dev_device.h"
#include "msg/msg.h"

#include "morv/core/algorithm/morv_algorithm_base.h"
#include "morv/core/family/morv_expert_family.h"
#include "morv/core/morv_api.h"
#include "morv/core/morv_expert.h"
#include "morv/netlist/morv_chip_map.h"
#include "morv_probe_expert.h"
#include "morv_test_env.h"
#include "morv_test_util.h"

namespace morv_default_lists_test {

namespace {

constexpr int BRK = 6, ZEPLA = 9, TEV = 10, MRL = 24, KESTLIN = 34, RZK = 41, OBRAN = 42, UVO = 47;
constexpr int FAST = 81, NORMAL = 65, EXTRA = 152, INVALID = 100;

// ---------------------------------------------------------------- the lists, as written down

std::string join(std::initializer_list<std::string> runs)
{
    std::string text;
    for (const std::string& run : runs) text += (text.empty() ? "" : "; ") + run;
    return text;
}
std::string pa(const char* p = "")
{
    return std::string("PIPE_ASYNC(") + p + ")";
}
std::string rtm(const char* p = "")
{
    return std::string("RTM(") + p + ")";
}
std::string resyn(const char* p = "")
{
    return std::string("RESYN(") + p + ")";
}
std::string rep(const char* p)
{
    return std::string("REP(") + p + ")";
}
std::string resplit(const char* p)
{
    return std::string("RESPLIT(") + p + ")";
}
std::string run(const char* name, const char* p)
{
    return std::string(name) + "(" + p + ")";
}

const char* R10 = "SKEW_RTM=1:NP=1:NI=10:HCI=10:NO_LB=1:HC_CUT=4:MAX_AGE=4";
const char* R15 = "SKEW_RTM=1:NP=1:NI=15:HCI=15:NO_LB=1:HC_CUT=8:MAX_AGE=4";
const char* R10F = "NO_LB=1:NI=10:SKEW_RTM=1:HCI=10:NP=1:SRT=0.125:HC_CUT=4:MAX_AGE=4";
const char* SF = "ASR=0.12:NI=4:HCI=4:AB=4:DSR=0.015";
const char* R10P5 = "SKEW_RTM=1:NP=1:NI=10:HCI=10:NO_LB=1:REG_PACK=1:HC_CUT=4:MAX_AGE=4:EFFORT=0.5";
const char* R15P5 = "SKEW_RTM=1:NP=1:NI=15:HCI=15:NO_LB=1:REG_PACK=1:HC_CUT=8:MAX_AGE=4:EFFORT=0.5";
const char* R5 = "SKEW_RTM=1:NP=1:NI=5:HCI=5:NO_LB=1";
const char* R5P = "SKEW_RTM=1:NP=1:NI=5:HCI=5:NO_LB=1:REG_PACK=1";
const char* R5F = "NO_LB=1:NI=5:SKEW_RTM=1:HCI=5:NP=1:SRT=0.125";
const char* S20 = "ASR=0.20:NI=3:HCI=2:AB=4:DSR=0.03";
const char* R10S = "NO_LB=1:NI=10:SKEW_RTM=1:HCI=10:NP=1:SRT=0.125";

const std::string CLUSTER_RETRY = join(
    {resplit("NI=2:NP=2:AGG=1:FOM=-50000"), run("RAM_MAP", "NI=1:FOM=-50000"), resplit("NI=2:NP=2:AGG=1:FOM=-50000")});
const std::string LATE_EXTRA_A = join({pa("EFFORT=0.4"), rtm(R15P5), resyn("MV=12:ML=10000:EFFORT=0.5"),
                                       rep("NP=1:NI=4:EFFORT=0.4"), resplit("NI=2:NP=2:EFFORT=0.5")});
const std::string LATE_NORMAL_A = join(
    {pa("EFFORT=0.4"), rtm(R10P5), resyn("EFFORT=0.5"), rep("NP=1:NI=1:EFFORT=0.5"), resplit("NI=2:NP=2:EFFORT=0.2")});
const std::string EARLY_EXTRA = join({rtm(R15), resyn("MV=12:ML=10000"), rtm(R15)});
const std::string EARLY_FAST_6 = join({rtm(R10F), resyn(SF)});
const std::string EARLY_NORMAL_6 = join({rtm(R10), resyn()});
const std::string TEV_LATE_BASE = join({pa("EFFORT=0.4"), rtm(R5P), resyn(), rep("NP=1:NI=1")});
const std::string NOT_SUPPORTED = "internal error: This flow is not supported.";
const std::string NOT_HERE = "internal error: We shouldn't be here.";
const std::string BAD_EFFORT = "internal error: m_opx_physical_synthesis_effort == OPX_ENUM_VALUE_EXTRA";

// One flow point of one family: its lists at FAST, NORMAL and EXTRA, or one
// list for every effort (an invalid effort included).
struct POINT
{
    int family;
    const char* point;
    std::string fast, normal, extra;
    bool any_effort = false;
};

POINT any(int family, const char* point, const std::string& list)
{
    return POINT{family, point, list, list, list, true};
}

// Variants of a compile that change the lists.
struct VARIANT
{
    bool xicp_off = false;
    bool early_at_fit = false;
    bool density = false;
};

// The run list a hook builds at this flow point and effort, as
// "NAME(parameters); ...", or the internal error it raised. A LUT-input
// remapping run that the hook ran at once comes first, marked "ran".
std::string list_of(int family, const char* point, int effort, const VARIANT& variant = VARIANT())
{
    cfg_clear_all();
    cfg_set_value("fsyn_reg_unpack_for_all_families", "on");
    if (variant.xicp_off) cfg_set_value("fsyn_disable_experimental_icp", "on");
    if (variant.early_at_fit) cfg_set_value("ssyn_fsyn", "off");
    if (variant.density) cfg_set_value("fsyn_for_density", "on");
    MORV_TEST_HOST host(family);
    for (int id : {659, 660, 662, 663, 664, 665}) host.ap.get_options().set_bool(id, true);
    host.ap.get_options().set_enum(696, effort);
    MORV_GATE_ENV env(&host.cmp);
    auto* expert = dynamic_cast<MORV_EXPERT*>(env.get_fsyn_expert());
    msg_clear_posted_messages();
    const int runs_before = MORV_ALGORITHM_BASE::get_run_counter();
    const std::string point_name = point;
    const std::string error = internal_error_of([&] {
        if (point_name == "SYN_EARLY") expert->add_syn_early_fsyn_algorithms();
        else if (point_name == "FIT_EARLY") expert->add_fit_early_fsyn_algorithms(FIT_EARLY_FSYN_FLOW);
        else if (point_name == "CLUSTER_RETRY") expert->add_cluster_retry_fsyn_algorithms();
        else if (point_name == "CHARACTERISTIC") expert->add_late_fsyn_algorithms_for_circuit_characteristic();
        else expert->add_late_fsyn_algorithms();
    });
    if (error != "<no internal error>") return "internal error: " + error;
    std::string text;
    if (MORV_ALGORITHM_BASE::get_run_counter() != runs_before) text = "ran LIR(NP=1:NI=1); ";
    std::string runs;
    for (const MORV_ALGORITHM_RUN& r : expert->get_algorithm_runs())
        runs += (runs.empty() ? "" : "; ") +
                run(MORV_EXPERT::s_FSYN_ALGORITHM_SHORT_NAMES[r.m_algorithm], r.m_parameter_string.c_str());
    return text + runs;
}

void expect_point(const POINT& p, const VARIANT& variant = VARIANT())
{
    const std::string invalid = p.any_effort ? p.normal : BAD_EFFORT;
    const std::pair<int, const std::string*> efforts[] = {
        {FAST, &p.fast}, {NORMAL, &p.normal}, {0, &p.normal}, {EXTRA, &p.extra}, {INVALID, &invalid}};
    for (const auto& [effort, expected] : efforts)
        EXPECT_EQ(list_of(p.family, p.point, effort, variant), *expected)
            << "family " << p.family << " " << p.point << " effort " << effort << " xICP off " << variant.xicp_off
            << " early at FIT_EARLY " << variant.early_at_fit;
}

class MorvDefaultListsTest : public MORV_CLEAN_STATE_TEST
{};

}  // namespace

TEST_F(MorvDefaultListsTest, FamiliesWithoutASynEarlyList)
{
    for (int family : {BRK, TEV, UVO, MRL}) expect_point(any(family, "SYN_EARLY", NOT_SUPPORTED));
    expect_point({BRK, "FIT_EARLY", join({pa(), rtm(R10F), resyn(SF)}), join({pa(), rtm(R10), resyn()}),
                  join({pa(), rtm(R15), resyn("MV=12:ML=10000"), rtm(R15)})});
    expect_point({BRK, "LATE", pa("EFFORT=0.4"), LATE_NORMAL_A, LATE_EXTRA_A});
    expect_point({TEV, "FIT_EARLY", join({pa(), rtm(R5F), resyn(S20)}), join({pa(), rtm(R5), resyn()}),
                  join({pa(), rtm(R10S), resyn("MV=12:ML=10000"), rtm(R10S)})});
    expect_point(
        {TEV, "LATE", pa("EFFORT=0.1"), join({TEV_LATE_BASE, resplit("NI=2:NP=2:EFFORT=0.2")}),
         join({pa("EFFORT=0.4"), rtm("SKEW_RTM=1:NP=1:NI=10:HCI=10:NO_LB=1:REG_PACK=1"),
               resyn("MV=12:ML=10000:EFFORT=0.5"), rep("NP=1:NI=4:EFFORT=0.4"), resplit("NI=2:NP=2:EFFORT=0.5")})});
    expect_point(any(UVO, "FIT_EARLY",
                     join({rtm("NP=2:SRT=0.15:NI=8:HCI=4"), rtm("NP=2:SRT=0.075:NI=15:HCI=2"), resyn(),
                           rtm("NP=3:SRT=0.125:NI=9:HCI=2"), rtm("NP=3:SRT=0.05:NI=8:HCI=2"), resyn()})));
    expect_point({UVO, "LATE", join({pa("EFFORT=0.1"), rep("EFFORT=0.125:NI=1"), resplit("EFFORT=0.2:NI=1:NP=2")}),
                  join({pa("EFFORT=0.4"), run("BDD_SYN", "I=1:SRB=0.15:SRE=0.06:AAB=1.34:AAE=1.67"),
                        rep("NI=2:EFFORT=0.4"), run("REG_UNPACK", "")}),
                  join({pa("EFFORT=0.6"), rtm("EFFORT=0.75"), run("RWR", "NI=2:EFFORT=0.1725:ICP_AT_END=0"),
                        rep("NI=4:EFFORT=0.25"), run("REG_UNPACK", "EFFORT=0.75"), rtm("ALG=GREEDY:NI=4:EFFORT=0.75"),
                        run("RWR", "NI=2:EFFORT=0.1725:ICP_AT_END=0"), rep("NI=2:EFFORT=0.25"),
                        run("REG_UNPACK", "EFFORT=0.1"), rtm("ALG=GREEDY:NI=4:EFFORT=0.1"),
                        run("RWR", "NI=2:EFFORT=0.1725:ICP_AT_END=0"), resplit("NI=2:NP=2:EFFORT=0.2")})});
    // MRL runs LUT-input remapping at once, then builds the rest; no effort counts.
    expect_point(any(MRL, "FIT_EARLY",
                     "ran LIR(NP=1:NI=1); " + join({pa(), rtm(), resyn(), rtm("HCI=2"), run("LIR", "NP=1:NI=1"),
                                                    run("INV_PUSH", "NP=5:SRT=0.20")})));
    expect_point(any(MRL, "LATE", pa("EFFORT=0.4")));
}

TEST_F(MorvDefaultListsTest, FamiliesWithTheEarlyListAtEitherPoint)
{
    struct EARLY
    {
        int family;
        std::string fast, normal, extra;
    };
    const EARLY early[] = {
        {ZEPLA, join({rtm(R5F), resyn(S20)}), join({rtm(R5), resyn()}), EARLY_EXTRA},
        {KESTLIN, EARLY_FAST_6, EARLY_NORMAL_6, EARLY_EXTRA},
        {RZK, EARLY_FAST_6, join({EARLY_NORMAL_6, rtm(R10), resyn()}), EARLY_EXTRA},
        {OBRAN, join({rtm("NO_LB=1:NI=10:SKEW_RTM=1:HCI=10:NP=1:SRT=0.125:HC_CUT=4:MAX_AGE=4:SRT=0.200"), resyn(SF)}),
         join({rtm("SKEW_RTM=1:NP=1:NI=10:HCI=10:NO_LB=1:HC_CUT=4:MAX_AGE=4:SRT=0.200"), resyn(), rtm(R10), resyn()}),
         EARLY_EXTRA},
    };
    VARIANT at_fit;
    at_fit.early_at_fit = true;
    for (const EARLY& e : early) {
        // The early list runs where the early flow runs; PIPE_ASYNC stays at FIT_EARLY.
        expect_point({e.family, "SYN_EARLY", e.fast, e.normal, e.extra});
        expect_point(any(e.family, "FIT_EARLY", pa()));
        expect_point(any(e.family, "SYN_EARLY", ""), at_fit);
        expect_point({e.family, "FIT_EARLY", join({pa(), e.fast}), join({pa(), e.normal}), join({pa(), e.extra})},
                     at_fit);
    }
    // Without xICP the NORMAL early lists of RZK and OBRAN lose their second pair.
    VARIANT no_xicp;
    no_xicp.xicp_off = true;
    expect_point({RZK, "SYN_EARLY", EARLY_FAST_6, EARLY_NORMAL_6, EARLY_EXTRA}, no_xicp);
    EXPECT_EQ(list_of(OBRAN, "SYN_EARLY", NORMAL, no_xicp),
              join({rtm("SKEW_RTM=1:NP=1:NI=10:HCI=10:NO_LB=1:HC_CUT=4:MAX_AGE=4:SRT=0.200"), resyn()}));
}

TEST_F(MorvDefaultListsTest, LateListsWithTheXicpMarks)
{
    expect_point(
        {ZEPLA, "LATE", pa("EFFORT=0.1"), TEV_LATE_BASE,
         join({pa("EFFORT=0.4"), rtm(R15P5), resyn("MV=12:ML=10000:EFFORT=0.5"), rep("NP=1:NI=4:EFFORT=0.4")})});
    expect_point({KESTLIN, "LATE", pa("EFFORT=0.4"), LATE_NORMAL_A, LATE_EXTRA_A});
    // xICP on (the default): the marked runs are left out.
    expect_point({RZK, "LATE", pa("EFFORT=0.4"), join({pa("EFFORT=0.4"), rtm(R10P5), rep("NP=1:NI=1:EFFORT=0.5")}),
                  LATE_EXTRA_A});
    expect_point({OBRAN, "LATE", join({pa("EFFORT=0.4"), rep("NP=1:NI=1:EFFORT=0.5")}),
                  join({pa("EFFORT=0.4"), rtm(R10P5), rep("NP=1:NI=1:EFFORT=0.5")}), LATE_EXTRA_A});
    VARIANT no_xicp;
    no_xicp.xicp_off = true;
    const std::string normal_x = join({pa("EFFORT=0.4"), rtm(R10P5), resyn("EFFORT=0.5"), rep("NP=1:NI=1:EFFORT=0.5"),
                                       resplit("NI=2:NP=2:EFFORT=0.2")});
    expect_point({RZK, "LATE", pa("EFFORT=0.4"), normal_x, LATE_EXTRA_A}, no_xicp);
    expect_point({OBRAN, "LATE", join({pa("EFFORT=0.4"), rep("NP=1:NI=1:EFFORT=0.5"), resplit("NI=2:NP=2:EFFORT=0.2")}),
                  normal_x, LATE_EXTRA_A},
                 no_xicp);
}

TEST_F(MorvDefaultListsTest, CircuitCharacteristicAndClusterRetryLists)
{
    // The circuit-characteristic list is entered at NORMAL only.
    EXPECT_EQ(list_of(BRK, "CHARACTERISTIC", NORMAL), LATE_NORMAL_A);
    EXPECT_EQ(list_of(KESTLIN, "CHARACTERISTIC", NORMAL), LATE_NORMAL_A);
    EXPECT_EQ(list_of(TEV, "CHARACTERISTIC", NORMAL), TEV_LATE_BASE);
    EXPECT_EQ(list_of(ZEPLA, "CHARACTERISTIC", NORMAL), TEV_LATE_BASE);
    for (int family : {RZK, OBRAN}) {
        EXPECT_EQ(list_of(family, "CHARACTERISTIC", NORMAL),
                  join({pa("EFFORT=0.4"), resyn("EFFORT=0.5"), rep("NP=1:NI=1:EFFORT=0.5")}));
        VARIANT no_xicp;
        no_xicp.xicp_off = true;
        EXPECT_EQ(list_of(family, "CHARACTERISTIC", NORMAL, no_xicp), LATE_NORMAL_A);
    }
    EXPECT_EQ(list_of(UVO, "CHARACTERISTIC", NORMAL),
              join({pa("EFFORT=0.4"), rtm(), run("RWR", ""), rep("NI=3:EFFORT=0.175"), run("REG_UNPACK", ""),
                    run("RWR", "NI=2:EFFORT=1.5"), resplit("NP=2:NI=1:EFFORT=0.2")}));
    EXPECT_EQ(list_of(MRL, "CHARACTERISTIC", NORMAL), pa("EFFORT=0.4"));
    for (int family : {BRK, TEV, ZEPLA, KESTLIN, RZK, OBRAN}) expect_point(any(family, "CLUSTER_RETRY", CLUSTER_RETRY));
    for (int family : {UVO, MRL}) expect_point(any(family, "CLUSTER_RETRY", NOT_HERE));
}

TEST_F(MorvDefaultListsTest, DensityPutsTheClusterRetryListAtTheHeadOfFitEarly)
{
    VARIANT density;
    density.density = true;
    EXPECT_EQ(list_of(BRK, "FIT_EARLY", FAST, density), join({CLUSTER_RETRY, pa(), rtm(R10F), resyn(SF)}));
    EXPECT_EQ(list_of(ZEPLA, "FIT_EARLY", NORMAL, density), join({CLUSTER_RETRY, pa()}));
    // The families without a cluster-retry list have no prologue either.
    EXPECT_EQ(list_of(UVO, "FIT_EARLY", NORMAL, density).find("RESPLIT"), std::string::npos);
    EXPECT_EQ(list_of(MRL, "FIT_EARLY", NORMAL, density).find("RESPLIT"), std::string::npos);
}

TEST_F(MorvDefaultListsTest, EntriesOfAlgorithmsThatMayNotRunAreLeftOut)
{
    // With only register retiming on, BRK's NORMAL LATE list is its one RTM run.
    MORV_TEST_HOST host(BRK);
    host.ap.get_options().set_bool(664, true);
    MORV_GATE_ENV env(&host.cmp);
    auto* expert = dynamic_cast<MORV_EXPERT*>(env.get_fsyn_expert());
    expert->add_late_fsyn_algorithms();
    ASSERT_EQ(expert->get_num_algorithm_runs(), 1);
    EXPECT_EQ(expert->get_algorithm_runs()[0].m_algorithm, RTM_ALGORITHM);
    EXPECT_EQ(expert->get_algorithm_runs()[0].m_parameter_string, R10P5);
    // The duplicated key of OBRAN's FAST string is passed as written; the
    // parameter map keeps the first value.
    MORV_TEST_HOST obran_host(OBRAN);
    obran_host.ap.get_options().set_bool(664, true);
    obran_host.ap.get_options().set_enum(696, FAST);
    MORV_GATE_ENV obran_env(&obran_host.cmp);
    auto* obran = dynamic_cast<MORV_EXPERT*>(obran_env.get_fsyn_expert());
    obran->add_syn_early_fsyn_algorithms();
    ASSERT_EQ(obran->get_num_algorithm_runs(), 1);
    EXPECT_EQ(obran->get_algorithm_runs()[0].m_parameters.at("SRT"), "0.125");
}

}  // namespace morv_default_lists_test
