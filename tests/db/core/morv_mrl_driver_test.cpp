// The MRL flow driver: its own mode selection (a flat compile remaps LUT
// inputs without change log or sweeper), its replay of a migration log with
// the legalisation after it, and the refusal of a POST CLUSTERING test-string
// part while the experimental ICP is on.

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "cdb/cdb_atom_netlist.h"
#include "cfg/cfg.h"
#include "msg/msg.h"

#include "morv/core/family/morv_expert_family.h"
#include "morv/core/morv_api.h"
#include "morv/core/morv_debug_stream.h"
#include "morv/core/morv_expert.h"
#include "morv/log/morv_log.h"
#include "morv/netlist/morv_cdb_interface.h"
#include "morv_probe_expert.h"
#include "morv_test_env.h"
#include "morv_test_util.h"

namespace morv_mrl_driver_test {

namespace {

// The MRL driver with its replay's second half opened.
class MRL_PROBE : public MORV_EXPERT_MRL
{
public:
    using MORV_EXPERT::finish_legalizing_replay;
    using MORV_EXPERT_MRL::MORV_EXPERT_MRL;
    bool algorithm_enabled(int id) const { return m_algorithm_list[id]; }
    int count_enabled_algorithms() const
    {
        int n = 0;
        for (int id = 0; id < ALGORITHM_END; ++id) n += m_algorithm_list[id] ? 1 : 0;
        return n;
    }
    const std::string& early_part() const { return m_test_string_early; }
};

// A compile of a family with these settings on (and a test string); the
// environment is made when first asked for, after the test's own setup.
struct COMPILE
{
    explicit COMPILE(int family, const std::vector<int>& settings_on = {}, const char* test_string = nullptr)
        : host(family)
    {
        for (int id : settings_on) host.ap.get_options().set_bool(id, true);
        if (test_string != nullptr) host.ap.get_options().set_string(634, test_string);
    }
    MORV_GATE_ENV& gate()
    {
        if (!env) env = std::make_unique<MORV_GATE_ENV>(&host.cmp);
        return *env;
    }
    MRL_PROBE& mrl()
    {
        if (!probe) probe = std::make_unique<MRL_PROBE>(&gate());
        return *probe;
    }
    MORV_EXPERT* driver() { return dynamic_cast<MORV_EXPERT*>(gate().get_fsyn_expert()); }
    // The flow points 0..4 that will run, as 0s and 1s, SYN_EARLY first.
    static std::string flows(MORV_EXPERT* expert)
    {
        std::string text;
        for (int flow = SYN_EARLY_FSYN_FLOW; flow <= LATE_FSYN_FLOW; ++flow)
            text += expert->will_fsyn_run(static_cast<e_fsyn_flow>(flow)) ? '1' : '0';
        return text;
    }
    MORV_TEST_HOST host;
    std::unique_ptr<MORV_GATE_ENV> env;
    std::unique_ptr<MRL_PROBE> probe;
};

std::vector<std::string> vdebug_texts()
{
    std::vector<std::string> texts;
    for (const MSG_VDEBUG_LINE& line : msg_vdebug_lines()) texts.push_back(line.text);
    return texts;
}

class MorvMrlDriverTest : public MORV_CLEAN_STATE_TEST
{
protected:
    void TearDown() override
    {
        DMGR_UTILITY::set_current_device(nullptr);
        MORV_CLEAN_STATE_TEST::TearDown();
    }
};

}  // namespace

TEST_F(MorvMrlDriverTest, FlatCompileRemapsLutInputsWithoutLogOrSweeper)
{
    // A migration compile keeps a change log, which the flat compile drops.
    COMPILE compile(24);
    morv_install_migration_device(24, 601);
    MRL_PROBE& mrl = compile.mrl();
    EXPECT_EQ(mrl.get_flow_type(), FSYN_DEFAULT_LIR_FLOW);
    EXPECT_EQ(COMPILE::flows(&mrl), "01000");
    EXPECT_TRUE(mrl.algorithm_enabled(LIR_ALGORITHM));
    EXPECT_EQ(mrl.count_enabled_algorithms(), 1);
    EXPECT_TRUE(mrl.is_fsyn_running_on_a_flat_flow());
    MORV_API* api = mrl.get_fsyn_api();
    EXPECT_FALSE(api->is_netlist_sweeper_enabled());
    ASSERT_NE(api->get_fsyn_log(), nullptr);
    EXPECT_FALSE(api->get_fsyn_cdb_interface()->is_logging());
    EXPECT_EQ(api->get_fsyn_cdb_interface()->get_fsyn_log(), nullptr);
    const std::vector<std::string> lines = vdebug_texts();
    std::vector<std::string> said;
    for (const std::string& text : lines)
        if (text == "Enabling FSYN - LIR for flat flow" || text == "Disabling log operations" ||
            text == "Disabling the netlist sweeper")
            said.push_back(text);
    EXPECT_EQ(said, (std::vector<std::string>{"Enabling FSYN - LIR for flat flow", "Disabling log operations",
                                              "Disabling the netlist sweeper"}));

    // Without timing-driven compilation, or with the switch, nothing runs.
    COMPILE no_tdc(24);
    no_tdc.gate().m_tdc_on = false;
    EXPECT_EQ(COMPILE::flows(&no_tdc.mrl()), "00000");
    EXPECT_FALSE(no_tdc.mrl().is_fsyn_running_on_a_flat_flow());
    cfg_set_value("fsyn_disable_lir_in_flat_flow", "on");
    COMPILE switched(24);
    EXPECT_EQ(COMPILE::flows(&switched.mrl()), "00000");
    EXPECT_TRUE(switched.mrl().get_fsyn_api()->is_netlist_sweeper_enabled());
}

TEST_F(MorvMrlDriverTest, ModesFromSettingsTestStringsAndSwitches)
{
    struct CASE
    {
        std::vector<int> settings;
        const char* test_string;
        const char* switch_on;
        int flow_type;
        const char* flows;
    } cases[] = {
        {{662}, nullptr, nullptr, FSYN_USER_OPTION_FLOW, "00001"},  // duplication alone: LATE only
        {{665}, nullptr, nullptr, FSYN_USER_OPTION_FLOW, "01001"},
        {{660}, nullptr, nullptr, FSYN_USER_OPTION_FLOW, "01001"},
        {{664}, nullptr, nullptr, FSYN_USER_OPTION_FLOW, "01001"},
        // MRL reads neither fitting setting: a flat compile.
        {{659, 663}, nullptr, nullptr, FSYN_DEFAULT_LIR_FLOW, "01000"},
        {{}, "TEST()|TEST()", nullptr, FSYN_TEST_STRING_FLOW, "01001"},
        {{}, "|TEST()", nullptr, FSYN_TEST_STRING_FLOW, "00001"},
        // Only EARLY and LATE parts enable a flow point.
        {{}, "||TEST()|", nullptr, FSYN_TEST_STRING_FLOW, "00000"},
        {{}, "|TEST()||", nullptr, FSYN_TEST_STRING_FLOW, "00000"},
        {{662}, "TEST()|", nullptr, FSYN_TEST_STRING_FLOW, "01000"},
        {{}, nullptr, "fsyn_netlist_sweeper", FSYN_SWEEPER_ONLY_FLOW, "00001"},
        {{662}, nullptr, "fsyn_enable_debug_checkpoints", FSYN_USER_OPTION_FLOW, "00000"},
    };
    for (const CASE& c : cases) {
        cfg_clear_all();
        if (c.switch_on != nullptr) cfg_set_value(c.switch_on, "on");
        COMPILE compile(24, c.settings, c.test_string);
        MRL_PROBE& mrl = compile.mrl();
        const std::string label =
            std::string(c.test_string ? c.test_string : "") + " " + (c.switch_on ? c.switch_on : "");
        EXPECT_EQ(mrl.get_flow_type(), c.flow_type) << label;
        EXPECT_EQ(COMPILE::flows(&mrl), c.flows) << label;
        EXPECT_FALSE(mrl.is_fsyn_running_on_a_flat_flow() && c.flow_type != FSYN_DEFAULT_LIR_FLOW) << label;
    }
    // The settings enable their algorithms as the family's table says.
    cfg_clear_all();
    COMPILE retiming(24, {664});
    EXPECT_TRUE(retiming.mrl().algorithm_enabled(RTM_ALGORITHM));
    EXPECT_FALSE(retiming.mrl().algorithm_enabled(PIPE_ASYNC_ALGORITHM));
    COMPILE pipelining(24, {665});
    EXPECT_TRUE(pipelining.mrl().algorithm_enabled(PIPE_ASYNC_ALGORITHM));
    EXPECT_FALSE(pipelining.mrl().algorithm_enabled(LIR_ALGORITHM)) << "not a flat compile";

    // No POST CLUSTERING part runs on MRL, so none is refused.
    EXPECT_EQ(count_posted("EMORV_FSYN_POST_CLUSTERING_WITH_XICP"), 0);

    // Tune strings: FIT_EARLY and LATE, the early part from its switch, and
    // every algorithm may run as named there.
    cfg_clear_all();
    cfg_set_value("fsyn_tune_strings", "on");
    cfg_set_value("fsyn_tune_work_string_early", "TEST(NP=1)");
    COMPILE tune(24);
    EXPECT_EQ(tune.mrl().get_flow_type(), FSYN_TUNE_STRINGS_FLOW);
    EXPECT_EQ(COMPILE::flows(&tune.mrl()), "01001");
    EXPECT_EQ(tune.mrl().early_part(), "TEST(NP=1)");
    EXPECT_EQ(tune.mrl().count_enabled_algorithms(), ALGORITHM_END);

    // A log to replay comes first.
    cfg_clear_all();
    COMPILE replay(24, {662}, "TEST()");
    morv_install_migration_device(24, 601);
    replay.host.ap.get_options().set_string(661, "replay.psl");
    EXPECT_EQ(replay.mrl().get_flow_type(), FSYN_REPLAY_LOG_FLOW);
    EXPECT_EQ(COMPILE::flows(&replay.mrl()), "01000");
}

TEST_F(MorvMrlDriverTest, ReplayFailsWithoutTheLogAndRefusesADamagedOne)
{
    COMPILE compile(24);
    morv_install_migration_device(24, 601);
    const char* name = "mrl_replay.psl";
    std::remove(name);
    compile.host.ap.get_options().set_string(661, name);
    MORV_EXPERT* mrl = compile.driver();
    ASSERT_EQ(mrl->get_flow_type(), FSYN_REPLAY_LOG_FLOW);
    msg_clear_posted_messages();
    EXPECT_FALSE(mrl->run_fsyn_replay_log_flow());
    EXPECT_EQ(count_posted("EMORV_FSYN_LOG_FILE_NOT_PRESENT"), 1);
    EXPECT_EQ(count_posted("EMORV_FSYN_READ_LOG_IS_UNSUCCESSFUL"), 1);
    std::ofstream(name) << "\n";
    msg_clear_posted_messages();
    EXPECT_FALSE(mrl->run_fsyn_replay_log_flow());
    EXPECT_EQ(count_posted("EMORV_FSYN_LOG_FILE_DAMAGED"), 1);
    EXPECT_EQ(count_posted("EMORV_FSYN_READ_LOG_IS_UNSUCCESSFUL"), 1);
    std::remove(name);
}

// The replay marks every atom that existed when it started as older than
// the log, and nothing newer: the first atom made after is the first new one.
TEST_F(MorvMrlDriverTest, TheReplayFlowMarksTheAtomsBeforeItAsOlderThanTheLog)
{
    COMPILE compile(24);
    morv_install_migration_device(24, 601);
    const char* name = "mrl_replay_start.psl";
    std::ofstream(name) << "\n";
    compile.host.ap.get_options().set_string(661, name);
    MORV_EXPERT* mrl = compile.driver();
    ASSERT_EQ(mrl->get_flow_type(), FSYN_REPLAY_LOG_FLOW);
    const int64_t next_id_before = CDB_ATOM_NODE::s_next_id;
    (void)mrl->do_physical_synthesis(FIT_EARLY_FSYN_FLOW);
    const MORV_LOG* log = mrl->get_fsyn_api()->get_fsyn_log();
    ASSERT_NE(log, nullptr);
    EXPECT_EQ(log->get_max_node_id_at_start(), next_id_before - 1);
    std::remove(name);
}

TEST_F(MorvMrlDriverTest, ReplayedNetlistIsLegalisedDumpedAndRemapped)
{
    cfg_set_value("fsyn_enable_netlist_dump", "on");
    cfg_set_value("fsyn_debug_msg", "on");
    std::remove("mrl_replay_debug.txt");
    MORV_DEBUG_STREAM::get_stream().reset("mrl_replay_debug.txt");
    COMPILE compile(24);
    CDB_ATOM_NODE* reg = cdb_create_atom(24, CDB_KIND_REGISTER);
    reg->set_chip_db_entry(&compile.host.chip_entry);
    compile.host.netlist->add_node(reg);
    compile.driver();  // the environment's own facade saves the states of the remapping run
    MRL_PROBE& mrl = compile.mrl();
    MORV_API* api = mrl.get_fsyn_api();
    api->set_netlist_sweeper_enabled(true);
    msg_clear_posted_messages();
    EXPECT_TRUE(mrl.finish_legalizing_replay());
    EXPECT_EQ(api->get_stored_fl_id(reg), api->get_fl_id_from_atom_properties(reg)) << "the register was legalised";
    EXPECT_TRUE(std::filesystem::exists("top.post_fsyn_legalizer"));
    EXPECT_FALSE(api->is_netlist_sweeper_enabled());
    EXPECT_EQ(count_posted("WMORV_FSYN_NOT_AVAILABLE_YET"), 0) << "no adder to restore; LIR runs";
    MORV_DEBUG_STREAM::get_stream().reset();
    std::ifstream debug("mrl_replay_debug.txt");
    std::string line;
    bool tan = false;
    while (std::getline(debug, line)) tan = tan || line == "Performin TAN for LIR";
    EXPECT_TRUE(tan);

    // Without LUT-input remapping after a migration the sweeper stays on.
    cfg_set_value("fsyn_disable_lir_after_migration", "on");
    api->set_netlist_sweeper_enabled(true);
    msg_clear_posted_messages();
    EXPECT_TRUE(mrl.finish_legalizing_replay());
    EXPECT_TRUE(api->is_netlist_sweeper_enabled());
    EXPECT_EQ(count_posted("WMORV_FSYN_NOT_AVAILABLE_YET"), 0) << "each warned once already";
}

TEST_F(MorvMrlDriverTest, PostClusteringTestStringWithXicpIsRefusedNamingTheSwitch)
{
    COMPILE brk(6, {}, "TEST()|TEST()|TEST()");
    MORV_EXPERT* driver = brk.driver();
    EXPECT_EQ(count_posted("EMORV_FSYN_POST_CLUSTERING_WITH_XICP"), 1);
    bool names_switch = false;
    for (const MSG_POSTED_MESSAGE& m : msg_posted_messages())
        names_switch = names_switch || m.text.find("fsyn_disable_experimental_icp") != std::string::npos;
    EXPECT_TRUE(names_switch);
    EXPECT_EQ(COMPILE::flows(driver), "01001");

    msg_clear_posted_messages();
    cfg_set_value("fsyn_disable_experimental_icp", "on");
    COMPILE without_xicp(6, {}, "TEST()|TEST()|TEST()");
    EXPECT_EQ(COMPILE::flows(without_xicp.driver()), "01101");
    EXPECT_EQ(count_posted("EMORV_FSYN_POST_CLUSTERING_WITH_XICP"), 0);
}

}  // namespace morv_mrl_driver_test
