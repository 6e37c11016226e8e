// The family rules that change what runs: the LATE effort adapted by how far
// timing moved since the early flow, the OBRAN LAB overuse cut-off and the
// UVO stability check of the early timing model.

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "cdb/cdb_atom_netlist.h"
#include "cfg/cfg.h"
#include "msg/msg.h"

#include "morv/core/family/morv_expert_family.h"
#include "morv/core/morv_api.h"
#include "morv/core/morv_expert.h"
#include "morv/netlist/morv_chip_map.h"
#include "morv_probe_expert.h"
#include "morv_test_env.h"
#include "morv_test_util.h"

namespace morv_family_rules_test {

namespace {

constexpr int FAST = 81, NORMAL = 65, EXTRA = 152;

// A family driver whose early slack-ratio record a test can write.
template <int FAMILY>
class RULES_PROBE : public MORV_EXPERT_FAMILY<FAMILY>
{
public:
    using MORV_EXPERT_FAMILY<FAMILY>::MORV_EXPERT_FAMILY;
    // Every driven input recorded with this ratio.
    void record_early_ratios(double ratio)
    {
        this->m_fsyn_api->store_slack_ratios(this->m_early_slack_ratios.get());
        for (auto& entry : *this->m_early_slack_ratios) entry.second = ratio;
    }
    void forget_early_ratios() { this->m_early_slack_ratios->clear(); }
    // The LATE list's algorithms and first parameter strings, "NAME(p); ...".
    std::string late_list()
    {
        this->add_late_fsyn_algorithms();
        std::string text;
        for (const MORV_ALGORITHM_RUN& r : this->get_algorithm_runs())
            text += std::string(text.empty() ? "" : "; ") + MORV_EXPERT::s_FSYN_ALGORITHM_SHORT_NAMES[r.m_algorithm] +
                    "(" + r.m_parameter_string + ")";
        this->m_algorithm_runs.clear();
        return text;
    }
};

struct COMPILE
{
    COMPILE(int family, int effort) : host(family)
    {
        for (int id : {659, 660, 662, 663, 664, 665}) host.ap.get_options().set_bool(id, true);
        host.ap.get_options().set_enum(696, effort);
    }
    MORV_TEST_HOST host;
};

bool vdebug_has(const std::string& text)
{
    for (const MSG_VDEBUG_LINE& line : msg_vdebug_lines())
        if (line.text.find(text) != std::string::npos) return true;
    return false;
}

class MorvFamilyRulesTest : public MORV_CLEAN_STATE_TEST
{};

}  // namespace

// Without timing every present slack ratio is 1.0: the recorded ratio r sets
// the characteristic, |r - 1| when every input is recorded.
TEST_F(MorvFamilyRulesTest, LateEffortFollowsTheCircuitCharacteristicAtNormalOnly)
{
    const std::string uvo_fast = "PIPE_ASYNC(EFFORT=0.1); REP(EFFORT=0.125:NI=1); RESPLIT(EFFORT=0.2:NI=1:NP=2)";
    const std::string uvo_normal =
        "PIPE_ASYNC(EFFORT=0.4); BDD_SYN(I=1:SRB=0.15:SRE=0.06:AAB=1.34:AAE=1.67); REP(NI=2:EFFORT=0.4); REG_UNPACK()";
    const std::string uvo_characteristic = "PIPE_ASYNC(EFFORT=0.4); RTM(); RWR(); REP(NI=3:EFFORT=0.175); "
                                           "REG_UNPACK(); RWR(NI=2:EFFORT=1.5); RESPLIT(NP=2:NI=1:EFFORT=0.2)";
    struct CASE
    {
        int effort;
        double recorded;  // negative: nothing recorded
        std::string list;
        int effort_after;
    } cases[] = {
        {NORMAL, 0.95, uvo_fast, FAST},              // 0.05 below 0.15: FAST for the rest of the compile
        {NORMAL, 0.85, uvo_normal, NORMAL},          // 0.15 is not below 0.15
        {NORMAL, 0.3, uvo_normal, NORMAL},           // 0.7 is not above 0.7
        {NORMAL, 0.2, uvo_characteristic, NORMAL},   // 0.8 above 0.7
        {NORMAL, -1.0, uvo_characteristic, NORMAL},  // unrecorded inputs count 0.0: 1.0
        {0, 0.95, uvo_normal, 0},                    // effort 0 is never adapted
        {EXTRA, -1.0, std::string(), EXTRA},         // nor is EXTRA
    };
    for (const CASE& c : cases) {
        COMPILE compile(47, c.effort);
        compile.host.build_chain(4);
        MORV_TEST_ENV env(&compile.host.cmp);
        RULES_PROBE<47> uvo(&env);
        if (c.recorded < 0) uvo.forget_early_ratios();
        else uvo.record_early_ratios(c.recorded);
        const std::string list = uvo.late_list();
        if (!c.list.empty()) {
            EXPECT_EQ(list, c.list) << c.effort << " " << c.recorded;
        }
        EXPECT_EQ(uvo.get_effort(), c.effort_after) << c.effort << " " << c.recorded;
    }

    // TEV's thresholds 0.0 and 1.0 are never passed by a characteristic of
    // at most 1.0: its LATE list (with the RESPLIT its circuit-characteristic
    // list lacks) stays. OBRAN lowers the effort below 0.12.
    COMPILE tev(10, NORMAL);
    tev.host.build_chain(3);
    MORV_TEST_ENV tev_env(&tev.host.cmp);
    RULES_PROBE<10> tev_driver(&tev_env);
    tev_driver.forget_early_ratios();
    EXPECT_NE(tev_driver.late_list().find("RESPLIT(NI=2:NP=2:EFFORT=0.2)"), std::string::npos);
    EXPECT_EQ(tev_driver.get_effort(), NORMAL);
    COMPILE obran(42, NORMAL);
    obran.host.build_chain(3);
    MORV_GATE_ENV obran_env(&obran.host.cmp);
    RULES_PROBE<42> obran_driver(&obran_env);
    obran_driver.record_early_ratios(0.9);
    obran_driver.late_list();
    EXPECT_EQ(obran_driver.get_effort(), FAST);
    // A netlist without a driven input has no characteristic: nothing adapts.
    COMPILE empty(47, NORMAL);
    MORV_TEST_ENV empty_env(&empty.host.cmp);
    RULES_PROBE<47> empty_driver(&empty_env);
    EXPECT_EQ(empty_driver.late_list(), uvo_normal);
    EXPECT_EQ(empty_driver.get_effort(), NORMAL);
}

// 1000 LABs available (20000 LEs): 841 used leave 159 free, fewer than 160,
// so they count as overused; 840 used leave 160 and do not.
TEST_F(MorvFamilyRulesTest, ObranCutsItsLateListWhenNearlyEveryLabIsUsed)
{
    const std::string cutoff = "PIPE_ASYNC(EFFORT=0.4); RESPLIT(NI=2:NP=1:EFFORT=0.2)";
    struct CASE
    {
        int used;
        int effort;
        const char* switch_key;
        const char* switch_value;
        std::string list_start;
        const char* line;
    } cases[] = {
        {841, NORMAL, nullptr, nullptr, cutoff, "LABs Used: 841, LABs Avail: 1000, labs_overused ? 1"},
        {841, FAST, nullptr, nullptr, cutoff, "labs_overused ? 1"},
        {840, NORMAL, nullptr, nullptr, "PIPE_ASYNC(EFFORT=0.4); RTM(",
         "LABs Used: 840, LABs Avail: 1000, labs_overused ? 0"},
        {841, 0, nullptr, nullptr, "PIPE_ASYNC(EFFORT=0.4); RTM(", "labs_overused ? 1"},
        {841, EXTRA, nullptr, nullptr, "PIPE_ASYNC(EFFORT=0.4); RTM(SKEW_RTM=1:NP=1:NI=15", "labs_overused ? 1"},
        {841, NORMAL, "fsyn_tune_dont_repslit", "on", "PIPE_ASYNC(EFFORT=0.4)", "labs_overused ? 1"},
        {841, NORMAL, "fsyn_disable_experimental_icp", "on", "PIPE_ASYNC(EFFORT=0.4); RESPLIT(NI=2:NP=2:EFFORT=0.2)",
         "labs_overused ? 1"},
        {841, NORMAL, "fsyn_use_late_fsyn_overuse_cutoff", "off", "PIPE_ASYNC(EFFORT=0.4); RTM(", "labs_overused ? 1"},
    };
    for (const CASE& c : cases) {
        cfg_clear_all();
        if (c.switch_key != nullptr) cfg_set_value(c.switch_key, c.switch_value);
        COMPILE compile(42, c.effort);
        MORV_GATE_ENV env(&compile.host.cmp);
        env.m_resource_count = 20000;
        env.m_grid_nx = 30;
        env.m_grid_ny = 30;
        RULES_PROBE<42> obran(&env);
        obran.forget_early_ratios();
        MORV_CHIP_MAP* chip_map = obran.get_fsyn_api()->get_fsyn_chip_map();
        ASSERT_NE(chip_map, nullptr);
        for (int i = 0; i < c.used; ++i) {
            CDB_ATOM_NODE* lut = cdb_create_atom(42, CDB_KIND_LCELL_COMB);
            compile.host.netlist->add_node(lut);
            MORV_LOC lab;
            lab.x = i / 30;
            lab.y = i % 30;
            chip_map->set_node_location(static_cast<int>(lut->get_id()), lab);
        }
        msg_clear_vdebug_lines();
        const std::string list = obran.late_list();
        EXPECT_EQ(list.substr(0, c.list_start.size()), c.list_start) << c.used << " " << c.effort << " " << list;
        if (c.list_start == "PIPE_ASYNC(EFFORT=0.4)") {
            EXPECT_EQ(list, c.list_start);
        }
        EXPECT_TRUE(vdebug_has(c.line)) << c.used << " " << c.effort;
    }
}

TEST_F(MorvFamilyRulesTest, UvoSkipsTheEarlyFlowOnlyWhenTheEarlyTimingModelMovesTooMuch)
{
    COMPILE compile(47, NORMAL);
    compile.host.build_chain(3);
    MORV_TEST_ENV env(&compile.host.cmp);
    RULES_PROBE<47> uvo(&env);
    // The comparison is strict: exactly the threshold still runs.
    EXPECT_TRUE(uvo.is_early_timing_model_stable(0.038));
    EXPECT_FALSE(uvo.is_early_timing_model_stable(0.0381));
    EXPECT_TRUE(uvo.is_early_timing_model_stable(std::numeric_limits<double>::quiet_NaN()));
    cfg_set_value("fsyn_tune_stability_threshold_value", "0.5");
    EXPECT_FALSE(uvo.is_early_timing_model_stable(0.2)) << "the value counts only with its switch";
    cfg_set_value("fsyn_tune_stability_threshold", "on");
    EXPECT_TRUE(uvo.is_early_timing_model_stable(0.5));
    EXPECT_FALSE(uvo.is_early_timing_model_stable(0.51));
    cfg_clear_all();

    // The measurement runs and finds the model stable.
    msg_clear_posted_messages();
    EXPECT_TRUE(uvo.tune_stability_threshold());
    EXPECT_EQ(count_posted("WMORV_FSYN_NOT_AVAILABLE_YET"), 0);
    EXPECT_TRUE(vdebug_has("CTO: CIRCUIT CHARACTERISTIC AVG_S_W_AVG_SR_DIFF"));
    // A threshold below anything measured skips the early flow.
    cfg_set_value("fsyn_tune_stability_threshold", "on");
    cfg_set_value("fsyn_tune_stability_threshold_value", "-1");
    msg_clear_vdebug_lines();
    EXPECT_FALSE(uvo.tune_stability_threshold());
    EXPECT_TRUE(vdebug_has("Stability of early timing model is 0.000000. Skipping EARLY FSYN."));

    // A DSP block skips the measurement.
    CDB_ATOM_NODE* mac = cdb_create_atom(47, CDB_KIND_MAC_MULT);
    compile.host.netlist->add_node(mac);
    msg_clear_vdebug_lines();
    EXPECT_TRUE(uvo.tune_stability_threshold());
    EXPECT_TRUE(vdebug_has("Skipping stability check. There are MACs in the netlist."));
    EXPECT_FALSE(vdebug_has("CTO: CIRCUIT CHARACTERISTIC"));

    // Every other family runs the early flow without measuring.
    COMPILE brk(6, NORMAL);
    MORV_TEST_ENV brk_env(&brk.host.cmp);
    RULES_PROBE<6> brk_driver(&brk_env);
    msg_clear_vdebug_lines();
    EXPECT_TRUE(brk_driver.tune_stability_threshold());
    EXPECT_FALSE(vdebug_has("CTO: CIRCUIT CHARACTERISTIC"));
}

}  // namespace morv_family_rules_test
