#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <string>

#include "cfg/cfg.h"
#include "msg/msg.h"

#include "morv/core/algorithm/morv_algorithm_base.h"
#include "morv/core/family/morv_family_traits.h"
#include "morv/core/morv_api.h"
#include "morv/core/morv_debug_stream.h"
#include "morv/core/morv_expert.h"
#include "morv_test_env.h"
#include "morv_test_util.h"

namespace morv_family_driver_test {

namespace {

bool vdebug_has(const std::string& text)
{
    for (const MSG_VDEBUG_LINE& line : msg_vdebug_lines())
        if (line.text.find(text) != std::string::npos) return true;
    return false;
}

// One compile of a family with the given physical-synthesis settings on.
struct FAMILY_RUN
{
    FAMILY_RUN(int family, std::initializer_list<int> settings_on, const char* test_string = nullptr) : host(family)
    {
        for (int id : settings_on) host.ap.get_options().set_bool(id, true);
        if (test_string != nullptr) host.ap.get_options().set_string(634, test_string);
        env = std::make_unique<MORV_TEST_ENV>(&host.cmp);
        expert = dynamic_cast<MORV_EXPERT*>(env->get_fsyn_expert());
    }
    MORV_TEST_HOST host;
    std::unique_ptr<MORV_TEST_ENV> env;
    MORV_EXPERT* expert = nullptr;
};

class MorvFamilyDriverTest : public MORV_CLEAN_STATE_TEST
{};

// (enabled, mask) of every algorithm id as the family driver set them.
std::string flags_of(const MORV_EXPERT* expert)
{
    std::string text;
    for (int id = 0; id < ALGORITHM_END; ++id) {
        text += MORV_EXPERT::s_FSYN_ALGORITHM_SHORT_NAMES[id];
        text += expert->may_algorithm_run(id) ? "+" : "-";
        text += std::to_string(expert->get_inst_asgn_flag_mask(id)) + " ";
    }
    return text;
}

}  // namespace

TEST_F(MorvFamilyDriverTest, UserOptionTableSetsFlagsAndMasksPerFamily)
{
    const std::initializer_list<int> all = {660, 659, 662, 663, 664, 665};
    const std::string brk_like =
        "RTM+4 REMUX-0 RWR+32 REG_PACK-0 REP+33 TEST-0 REG_UNPACK-5 BDD_SYN+32 RAM_MAP+2 PIPE_ASYNC+8 RESPLIT+48 "
        "LIR-0 INV_PUSH-0 RESYN+32 SAVE_RESTORE+0 UTIL-0 MANUAL-0 PIPELINE-0 ";
    const std::string obran_like =
        "RTM+4 REMUX-0 RWR+32 REG_PACK-0 REP+33 TEST-0 REG_UNPACK-5 BDD_SYN+32 RAM_MAP+2 PIPE_ASYNC+8 RESPLIT+48 "
        "LIR-0 INV_PUSH-0 RESYN+32 SAVE_RESTORE-0 UTIL-0 MANUAL-0 PIPELINE-0 ";
    const std::string uvo =
        "RTM+4 REMUX-0 RWR+32 REG_PACK-0 REP+33 TEST-0 REG_UNPACK+5 BDD_SYN+32 RAM_MAP-0 PIPE_ASYNC+8 RESPLIT+32 "
        "LIR-0 INV_PUSH-0 RESYN+32 SAVE_RESTORE-0 UTIL-0 MANUAL-0 PIPELINE-0 ";
    const std::string mrl =
        "RTM+4 REMUX-0 RWR+32 REG_PACK-0 REP+33 TEST-0 REG_UNPACK-5 BDD_SYN+32 RAM_MAP-0 PIPE_ASYNC+8 RESPLIT+32 "
        "LIR+32 INV_PUSH+32 RESYN+32 SAVE_RESTORE-0 UTIL-0 MANUAL-0 PIPELINE-0 ";
    for (int family : {6, 10, 9, 35}) EXPECT_EQ(flags_of(FAMILY_RUN(family, all).expert), brk_like) << family;
    for (int family : {42, 41, 34}) EXPECT_EQ(flags_of(FAMILY_RUN(family, all).expert), obran_like) << family;
    EXPECT_EQ(flags_of(FAMILY_RUN(47, all).expert), uvo);
    EXPECT_EQ(flags_of(FAMILY_RUN(24, all).expert), mrl);
}

TEST_F(MorvFamilyDriverTest, UserOptionTableFollowsEachSetting)
{
    // 659 alone selects RESPLIT only where the family reads it.
    EXPECT_TRUE(FAMILY_RUN(6, {659}).expert->may_algorithm_run(RESPLIT_ALGORITHM));
    EXPECT_FALSE(FAMILY_RUN(6, {659}).expert->may_algorithm_run(RWR_ALGORITHM));
    EXPECT_FALSE(FAMILY_RUN(47, {659}).expert->may_algorithm_run(RESPLIT_ALGORITHM));
    // 662 alone: REP, and REG_UNPACK only with the all-families switch (UVO always).
    EXPECT_TRUE(FAMILY_RUN(42, {662}).expert->may_algorithm_run(REP_ALGORITHM));
    EXPECT_FALSE(FAMILY_RUN(42, {662}).expert->may_algorithm_run(REG_UNPACK_ALGORITHM));
    EXPECT_TRUE(FAMILY_RUN(47, {662}).expert->may_algorithm_run(REG_UNPACK_ALGORITHM));
    cfg_set_value("fsyn_reg_unpack_for_all_families", "on");
    EXPECT_TRUE(FAMILY_RUN(42, {664}).expert->may_algorithm_run(REG_UNPACK_ALGORITHM));
    EXPECT_TRUE(FAMILY_RUN(24, {664}).expert->may_algorithm_run(RTM_ALGORITHM));
    EXPECT_FALSE(FAMILY_RUN(24, {664}).expert->may_algorithm_run(LIR_ALGORITHM));
}

TEST_F(MorvFamilyDriverTest, FactoryBuildsRunsSkipsOrStopsPerTable)
{
    MORV_PARAMETER_MAP none;
    FAMILY_RUN brk(6, {});
    EXPECT_TRUE(brk.expert->create_and_run_algorithm(LIR_ALGORITHM, none));
    EXPECT_TRUE(brk.expert->create_and_run_algorithm(INV_PUSH_ALGORITHM, none));
    EXPECT_EQ(internal_error_of([&] { brk.expert->create_and_run_algorithm(REG_PACK_ALGORITHM, none); }),
              "Invalid Algorithm entered");
    EXPECT_EQ(internal_error_of([&] { brk.expert->create_and_run_algorithm(PIPELINE_ALGORITHM, none); }),
              "Invalid Algorithm entered");
    EXPECT_EQ(internal_error_of([&] { brk.expert->create_and_run_algorithm(ALGORITHM_END, none); }),
              "Invalid Algorithm entered");
    EXPECT_EQ(internal_error_of([&] { brk.expert->create_and_run_algorithm(-1, none); }), "Invalid Algorithm entered");
    // Algorithms still to come are skipped with a warning naming them, never
    // in silence; RAM mapping is built. Classic retiming is built, and so is
    // the skew-driven engine that the switch asks for (the compile tests run
    // both; this host has no timing netlist to run them on).
    EXPECT_EQ(
        not_available_warnings_of([&] { EXPECT_TRUE(brk.expert->create_and_run_algorithm(RAM_MAP_ALGORITHM, none)); }),
        "");
    cfg_set_value("fsyn_enable_new_retiming", "on");
    const std::string said =
        not_available_warnings_of([&] { brk.expert->create_and_run_algorithm(RTM_ALGORITHM, none); });
    EXPECT_EQ(said.find("is not available yet"), std::string::npos) << said;
    EXPECT_EQ(brk.expert->get_current_algorithm(), nullptr);

    FAMILY_RUN mrl(24, {});
    EXPECT_EQ(internal_error_of([&] { mrl.expert->create_and_run_algorithm(RAM_MAP_ALGORITHM, none); }),
              "Unsupported family");

    FAMILY_RUN obran(42, {});
    EXPECT_EQ(not_available_warnings_of(
                  [&] { EXPECT_TRUE(obran.expert->create_and_run_algorithm(RAM_MAP_ALGORITHM, none)); }),
              "");
    // UVO names RAM mapping in its table but has no RAM utility: the run
    // builds nothing and goes on.
    FAMILY_RUN uvo(47, {});
    EXPECT_EQ(
        not_available_warnings_of([&] { EXPECT_TRUE(uvo.expert->create_and_run_algorithm(RAM_MAP_ALGORITHM, none)); }),
        "");
    FAMILY_RUN zepla(35, {});
    EXPECT_EQ(internal_error_of([&] { zepla.expert->create_and_run_algorithm(REMUX_ALGORITHM, none); }),
              "Invalid Algorithm entered");
}

TEST_F(MorvFamilyDriverTest, RegUnpackIsOffOnTheFourInputFamilies)
{
    // The line is a detail line: it reaches only the debug file.
    std::remove("family_reg_unpack.txt");
    MORV_DEBUG_STREAM::get_stream().reset("family_reg_unpack.txt");
    cfg_set_value("fsyn_debug_msg", "on");
    MORV_PARAMETER_MAP none;
    for (int family : {10, 9}) {
        FAMILY_RUN run(family, {});
        EXPECT_TRUE(run.expert->create_and_run_algorithm(REG_UNPACK_ALGORITHM, none));
    }
    MORV_DEBUG_STREAM::get_stream().reset();
    std::ifstream file("family_reg_unpack.txt");
    std::string line;
    int found = 0;
    while (std::getline(file, line))
        if (line == "REG_UNPACK turned off for SorvexII") ++found;
    EXPECT_EQ(found, 2);
}

// Every algorithm name in a test string on every family, checked when the
// flow is chosen, before any flow point: what the family does not build is
// refused by name, never run as nothing. The oracle is the user's view of
// the families, not the driver tables.
TEST_F(MorvFamilyDriverTest, TestStringRefusesExactlyTheAlgorithmsTheFamilyDoesNotBuild)
{
    enum OUTCOME
    {
        BUILT,
        INVALID,
        UNSUPPORTED
    };
    auto expected = [](const std::string& family, const std::string& algorithm) {
        auto one_of = [&family](std::initializer_list<const char*> names) {
            for (const char* n : names)
                if (family == n) return true;
            return false;
        };
        if (algorithm == "REG_PACK") return INVALID;
        if (algorithm == "LIR" || algorithm == "INV_PUSH") return one_of({"MRL"}) ? BUILT : INVALID;
        if (algorithm == "PIPELINE") return one_of({"OBRAN"}) ? BUILT : INVALID;
        if (algorithm == "REG_UNPACK") return one_of({"ZEPLA", "TEV"}) ? INVALID : BUILT;
        if (algorithm == "REMUX") return one_of({"ZEPLA", "TEV", "UVO"}) ? INVALID : BUILT;
        if (algorithm == "RAM_MAP") return one_of({"MRL"}) ? UNSUPPORTED : BUILT;
        return BUILT;
    };
    int count = 0;
    const MORV_FAMILY_TRAITS* families = morv_family_traits_table(&count);
    for (int f = 0; f < count; ++f) {
        const std::string family = families[f].m_name;
        if (families[f].m_driver == nullptr) continue;
        for (int id = 0; id < ALGORITHM_END; ++id) {
            const std::string name = MORV_EXPERT::s_FSYN_ALGORITHM_SHORT_NAMES[id];
            msg_clear_posted_messages();
            FAMILY_RUN run(families[f].m_base_family, {}, (name + "()").c_str());
            std::string refusal;
            for (const MSG_POSTED_MESSAGE& m : msg_posted_messages())
                if (m.id == "EMORV_FSYN_ALGORITHM_NOT_IN_FAMILY") refusal += m.text;
            const OUTCOME want = expected(family, name);
            const std::string label = family + " " + name + ": " + refusal;
            EXPECT_EQ(refusal.find("Invalid Algorithm entered") != std::string::npos, want == INVALID) << label;
            EXPECT_EQ(refusal.find("Unsupported family") != std::string::npos, want == UNSUPPORTED) << label;
            if (want == BUILT) continue;
            EXPECT_NE(refusal.find(name + "()"), std::string::npos) << label;
            EXPECT_NE(refusal.find("the " + family + " family"), std::string::npos) << label;
            EXPECT_FALSE(run.expert->will_fsyn_run(LATE_FSYN_FLOW)) << label;
        }
    }
}

TEST_F(MorvFamilyDriverTest, TestAlgorithmRunsOnEveryFamily)
{
    MORV_PARAMETER_MAP parameters;
    parameters["NP"] = "2";
    parameters["NI"] = "2";
    for (int family : {6, 9, 10, 24, 34, 35, 41, 42, 47}) {
        FAMILY_RUN run(family, {});
        run.host.build_chain(3);
        const int before = MORV_ALGORITHM_BASE::get_run_counter();
        EXPECT_TRUE(run.expert->create_and_run_algorithm(TEST_ALGORITHM, parameters)) << family;
        EXPECT_EQ(MORV_ALGORITHM_BASE::get_run_counter(), before + 1) << family;
        EXPECT_EQ(run.expert->get_current_algorithm(), nullptr);
    }
}

TEST_F(MorvFamilyDriverTest, SweeperRunnerReportsItsOperations)
{
    for (int family : {6, 24, 47}) {
        FAMILY_RUN run(family, {});
        msg_clear_vdebug_lines();
        run.expert->run_netlist_sweeper();
        EXPECT_TRUE(vdebug_has("Netlist sweeper performed 0 operations")) << family;
    }
}

TEST_F(MorvFamilyDriverTest, ReplayHooksAndLogFileCheck)
{
    EXPECT_EQ(internal_error_of([&] { FAMILY_RUN(42, {}).expert->run_fsyn_replay_log_flow(); }),
              "We shouldn't be here.");
    EXPECT_EQ(internal_error_of([&] { FAMILY_RUN(41, {}).expert->run_fsyn_replay_log_flow(); }),
              "We shouldn't get here.");
    EXPECT_EQ(internal_error_of([&] { FAMILY_RUN(34, {}).expert->run_fsyn_replay_log_flow(); }),
              "We shouldn't get here.");
    EXPECT_EQ(internal_error_of([&] { FAMILY_RUN(10, {}).expert->run_fsyn_replay_log_flow(); }),
              "The replay log flow is being used with an incorrect family");
    EXPECT_EQ(internal_error_of([&] { FAMILY_RUN(9, {}).expert->check_if_log_file_exists(); }),
              "This function should never be called for this family");
    // Without a change log (no migration) the check cannot ask for the file.
    EXPECT_EQ(internal_error_of([&] { FAMILY_RUN(6, {}).expert->check_if_log_file_exists(); }), "m_fsyn_log");
    // The replay flow refuses to start without a read-log name.
    EXPECT_EQ(internal_error_of([&] { FAMILY_RUN(6, {}).expert->run_fsyn_replay_log_flow(); }),
              "m_opx_physical_synthesis_read_log != \"\"");
}

TEST_F(MorvFamilyDriverTest, ChipMapIsBuiltOnlyWhenAFlowNeedsIt)
{
    EXPECT_EQ(FAMILY_RUN(6, {}).expert->get_fsyn_api()->get_fsyn_chip_map(), nullptr);
    EXPECT_NE(FAMILY_RUN(6, {}, "TEST()").expert->get_fsyn_api()->get_fsyn_chip_map(), nullptr);
    // POST_CLUSTERING alone needs no chip map.
    EXPECT_EQ(FAMILY_RUN(6, {}, "|TEST()|").expert->get_fsyn_api()->get_fsyn_chip_map(), nullptr);
}

TEST_F(MorvFamilyDriverTest, TimingFlagsDefaultOnExceptWhereTheFamilyKeepsTheSwitchValues)
{
    // (xICP, estimator) per family with no switch set.
    for (int family : {6, 9, 10, 34, 35, 41, 42}) {
        FAMILY_RUN run(family, {});
        EXPECT_TRUE(run.expert->use_xicp()) << family;
        EXPECT_TRUE(run.expert->enable_nevra()) << family;
    }
    EXPECT_TRUE(FAMILY_RUN(24, {}).expert->use_xicp());
    EXPECT_FALSE(FAMILY_RUN(24, {}).expert->enable_nevra());
    EXPECT_FALSE(FAMILY_RUN(47, {}).expert->use_xicp());
    EXPECT_FALSE(FAMILY_RUN(47, {}).expert->enable_nevra());

    cfg_set_value("fsyn_disable_experimental_icp", "on");
    cfg_set_value("fsyn_disable_nevra", "on");
    cfg_set_value("fsyn_enable_experimental_icp", "on");
    cfg_set_value("fsyn_enable_nevra", "on");
    EXPECT_FALSE(FAMILY_RUN(6, {}).expert->use_xicp());
    EXPECT_FALSE(FAMILY_RUN(6, {}).expert->enable_nevra());
    // MRL leaves the estimator flag as the base constructor set it.
    EXPECT_FALSE(FAMILY_RUN(24, {}).expert->use_xicp());
    EXPECT_TRUE(FAMILY_RUN(24, {}).expert->enable_nevra());
    EXPECT_TRUE(FAMILY_RUN(47, {}).expert->use_xicp());
    EXPECT_TRUE(FAMILY_RUN(47, {}).expert->enable_nevra());
}

TEST_F(MorvFamilyDriverTest, ClusterRetryAloneStillNeedsAChipMap)
{
    FAMILY_RUN run(6, {}, "|TEST()||");
    ASSERT_TRUE(run.expert->will_fsyn_run(CLUSTER_RETRY_FSYN_FLOW));
    EXPECT_FALSE(run.expert->will_fsyn_run(LATE_FSYN_FLOW));
    EXPECT_FALSE(run.expert->will_fsyn_run(FIT_EARLY_FSYN_FLOW));
    EXPECT_NE(run.expert->get_fsyn_api()->get_fsyn_chip_map(), nullptr);
}

TEST_F(MorvFamilyDriverTest, MissingReplayLogIsAUserErrorNamingTheDevicesOfTheFamily)
{
    const char* name = "family_missing_replay.psl";
    std::remove(name);
    auto text_of_posted = [](const std::string& id) {
        for (const MSG_POSTED_MESSAGE& m : msg_posted_messages())
            if (m.id == id) return m.text;
        return std::string();
    };
    auto posted_text = [&] { return text_of_posted("EMORV_FSYN_LOG_FILE_NOT_PRESENT"); };

    MORV_TEST_HOST host(6);
    host.ap.get_options().set_string(661, name);
    MORV_TEST_ENV env(&host.cmp);
    MORV_EXPERT* brk = dynamic_cast<MORV_EXPERT*>(env.get_fsyn_expert());
    ASSERT_NE(brk->get_fsyn_api()->get_fsyn_log(), nullptr);
    msg_clear_posted_messages();
    EXPECT_FALSE(brk->run_fsyn_replay_log_flow());
    EXPECT_NE(posted_text().find("Physical Synthesis on Talvane II.  Please recompile this circuit for the Fermlock "
                                 "II device.  Then migrate to the Talvane II device."),
              std::string::npos);
    // The user is told where the file was looked for, and why there.
    const std::string folder = std::filesystem::current_path().string();
    EXPECT_EQ(text_of_posted("IMORV_FSYN_LOG_FILE_LOOKED_FOR"),
              "The log file to replay was looked for: no file " + folder + "/" + name +
                  " (a relative name is taken from the compile's folder, " + folder + ")");

    // With the file present the check passes and the replay goes on to the log itself.
    std::ofstream(name) << "\n";
    msg_clear_posted_messages();
    EXPECT_TRUE(brk->check_if_log_file_exists());
    EXPECT_EQ(count_posted("EMORV_FSYN_LOG_FILE_NOT_PRESENT"), 0);
    // A file that holds no log is refused before any edit, with the file named.
    msg_clear_posted_messages();
    EXPECT_FALSE(brk->run_fsyn_replay_log_flow());
    EXPECT_EQ(count_posted("EMORV_FSYN_LOG_FILE_DAMAGED"), 1);
    EXPECT_EQ(count_posted("EMORV_FSYN_READ_LOG_IS_UNSUCCESSFUL"), 1);
    std::remove(name);

    MORV_TEST_HOST mrl_host(24);
    mrl_host.ap.get_options().set_string(661, name);
    MORV_TEST_ENV mrl_env(&mrl_host.cmp);
    MORV_EXPERT* mrl = dynamic_cast<MORV_EXPERT*>(mrl_env.get_fsyn_expert());
    ASSERT_NE(mrl->get_fsyn_api()->get_fsyn_log(), nullptr);
    msg_clear_posted_messages();
    EXPECT_FALSE(mrl->check_if_log_file_exists());
    EXPECT_NE(posted_text().find("Physical Synthesis on Fermlock II.  Please recompile this circuit for the Talvane "
                                 "II device.  Then migrate to the Fermlock II device."),
              std::string::npos);
}

}  // namespace morv_family_driver_test
