// The retiming object on small hand-built netlists: its parameters,
// switches and base slots (RetimingObject), and the netlist edits and
// queries every push is made of (RetimingEditOps).

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <string>
#include <vector>

#include "cdb/cdb_atom_netlist.h"
#include "cfg/cfg.h"
#include "hdb/hdb_instance_name.h"
#include "tdc/tdc_accessories.h"

#include "morv/core/morv_setting_ids.h"
#include "morv/debug/morv_plumrix.h"
#include "morv/netlist/morv_chip_map.h"
#include "morv/netlist/morv_nt.h"
#include "morv/resyn/morv_remux.h"
#include "morv/timing/morv_opt_skew.h"
#include "morv/timing/morv_timing.h"
#include "log_capture.h"
#include "../netlist/net_util_fixture.h"
#include "../timing/timing_fixture.h"
#include "retiming_test_leaf.h"
#include "scripted_slack.h"

namespace morv_retiming_test {

namespace {

class RetimingObject : public MORV_CLEAN_STATE_TEST
{};
class RetimingEditOps : public MORV_CLEAN_STATE_TEST
{};

MORV_PARAMETER_MAP params_of(const std::string& text)
{
    MORV_PARAMETER_MAP params;
    MORV_ALGORITHM_BASE::parse_algorithm_params(params, text);
    return params;
}

// The lines of the log that contain any of the texts, in order.
std::vector<std::string> lines_with(const std::vector<std::string>& lines, const std::vector<std::string>& texts)
{
    std::vector<std::string> out;
    for (const std::string& line : lines)
        for (const std::string& text : texts)
            if (line.find(text) != std::string::npos) {
                out.push_back(line);
                break;
            }
    return out;
}

// A register with its clock and data driven, in the fixture's netlist.
CDB_ATOM_NODE* add_register(NET_UTIL_NETLIST& n, const std::string& name)
{
    CDB_ATOM_NODE* reg = n.atom(CDB_KIND_REGISTER, name);
    n.drive(reg, DB_DATAIN);
    n.drive(reg, DB_CLOCK);
    reg->add_output_term(DB_REG_OUT, reg->get_instance_name());
    return reg;
}

// The value the port sees from a tied term.
int logical_value(const CDB_ATOM_ITERM* t)
{
    return t->is_logical_vcc() ? 1 : t->is_logical_gnd() ? 0 : -1;
}

}  // namespace

// ------------------------------------------------------------------ object

TEST_F(RetimingObject, ParametersLogInOrderAndStoreTheLowerBoundInTheApi)
{
    NET_UTIL_NETLIST n(CDB_FAMILY_BRK);
    MORV_LOG_CAPTURE log(100);
    const MORV_PARAMETER_MAP params = params_of("MAX_AGE=3:GI=2:SKEW_RTM=1:STHR=150");
    TEST_RETIMING_LEAF rtm(n.api(), &params);
    const std::vector<std::string> texts = {"Maximum register age", "Greedy iters", "*****", "SKEW mode",
                                            "Skew threshold"};
    EXPECT_EQ(lines_with(log.lines(), texts),
              (std::vector<std::string>{"Maximum register age set to 3", "Greedy iters set to 2",
                                        "*********************************", "* Retiming running in SKEW mode *",
                                        "*********************************", "Skew threshold = 150"}));
    EXPECT_DOUBLE_EQ(n.api()->get_retiming_lb_alpha(), 0.249);
    EXPECT_DOUBLE_EQ(n.api()->get_retiming_lb_exit(), 20.0);
    EXPECT_DOUBLE_EQ(n.api()->get_retiming_lb_beta(), 0.3);
    EXPECT_EQ(rtm.get_max_age(), 3);
    EXPECT_EQ(rtm.get_greedy_iterations(), 2);
    EXPECT_EQ(rtm.get_skew_threshold(), 150);
    ASSERT_TRUE(rtm.is_skew_mode());
    ASSERT_NE(rtm.get_opt_skew(), nullptr);
    EXPECT_EQ(rtm.get_opt_skew()->m_min_passes, 4);
    EXPECT_TRUE(rtm.xicp_modify_dest_node_on_modify_edge());
    EXPECT_TRUE(rtm.xicp_run_init_virtual_icp_tan());
    EXPECT_EQ(rtm.get_short_name(), "RTM");
    EXPECT_EQ(rtm.get_description(), "register retiming");
    EXPECT_TRUE(rtm.use_itest());
}

TEST_F(RetimingObject, LowerBoundKeysReachTheApiAndTheSkewCalculator)
{
    NET_UTIL_NETLIST n(CDB_FAMILY_BRK);
    const MORV_PARAMETER_MAP params = params_of("PALPHA=0.5:PEXIT=7:PBETA=0.125:SMINPASS=9:SKEW_RTM=1");
    TEST_RETIMING_LEAF rtm(n.api(), &params);
    EXPECT_DOUBLE_EQ(n.api()->get_retiming_lb_alpha(), 0.5);
    EXPECT_DOUBLE_EQ(n.api()->get_retiming_lb_exit(), 7.0);
    EXPECT_DOUBLE_EQ(n.api()->get_retiming_lb_beta(), 0.125);
    ASSERT_NE(rtm.get_opt_skew(), nullptr);
    EXPECT_DOUBLE_EQ(rtm.get_opt_skew()->m_alpha, 0.5);
    EXPECT_DOUBLE_EQ(rtm.get_opt_skew()->m_exit, 7.0);
    EXPECT_DOUBLE_EQ(rtm.get_opt_skew()->m_beta, 0.125);
    EXPECT_EQ(rtm.get_opt_skew()->m_min_passes, 9);
    // Without skew mode the API still gets them, and no calculator is made.
    const MORV_PARAMETER_MAP classic = params_of("PALPHA=0.75");
    TEST_RETIMING_LEAF plain(n.api(), &classic);
    EXPECT_DOUBLE_EQ(n.api()->get_retiming_lb_alpha(), 0.75);
    EXPECT_EQ(plain.get_opt_skew(), nullptr);
}

TEST_F(RetimingObject, AbsentEmptyAndOtherValuesKeepTheDefaults)
{
    NET_UTIL_NETLIST n(CDB_FAMILY_BRK);
    MORV_LOG_CAPTURE log(100);
    const MORV_PARAMETER_MAP params = params_of("NO_LB=2:SKEW_RTM=2:ALG=greedy:PCLOSE=:MAX_AGE=:STHR=");
    TEST_RETIMING_LEAF rtm(n.api(), &params);
    EXPECT_FALSE(rtm.is_no_lb());
    EXPECT_FALSE(rtm.is_skew_mode());
    EXPECT_FALSE(rtm.is_greedy());
    EXPECT_EQ(rtm.get_pclose(), 100);
    EXPECT_EQ(rtm.get_max_age(), 0);
    EXPECT_EQ(rtm.get_skew_threshold(), 100);
    EXPECT_TRUE(lines_with(log.lines(), {"Maximum register age", "Greedy iters", "greedy"}).empty());

    const MORV_PARAMETER_MAP on = params_of("NO_LB=1:ALG=XGREEDYX:PCLOSE=7");
    TEST_RETIMING_LEAF greedy(n.api(), &on);
    EXPECT_TRUE(greedy.is_no_lb());
    EXPECT_TRUE(greedy.is_greedy());
    EXPECT_EQ(greedy.get_pclose(), 7);
    EXPECT_EQ(lines_with(log.lines(), {"greedy"}), (std::vector<std::string>{"RTM greedy algorithm is on"}));
    TEST_RETIMING_LEAF none(n.api(), nullptr);
    EXPECT_FALSE(none.is_greedy());
}

TEST_F(RetimingObject, MacRetimingFollowsTheFamilyFlowAndSwitches)
{
    // A post-placement flow without the late switch: off, and no message.
    {
        NET_UTIL_NETLIST n(CDB_FAMILY_BRK);
        MORV_LOG_CAPTURE log(100);
        TEST_RETIMING_LEAF rtm(n.api(), nullptr);
        EXPECT_FALSE(rtm.is_mac_retiming_enabled());
        EXPECT_TRUE(rtm.is_sload_demuxing());
        EXPECT_TRUE(lines_with(log.lines(), {"unsupported"}).empty());
        EXPECT_EQ(lines_with(log.lines(), {"MAC_RETIMING"}),
                  (std::vector<std::string>{"MAC_RETIMING is DISABLED", "MAC_RETIMING BACKWARD PUSHES are is ENABLED",
                                            "MAC_RETIMING FORWARD PUSHES are ENABLED"}));
    }
    // Before placement no switch is needed.
    {
        NET_UTIL_NETLIST n(CDB_FAMILY_BRK);
        TIMING_DRIVER_FLAGS::run_only(dynamic_cast<MORV_EXPERT*>(n.env().get_fsyn_expert()), FIT_EARLY_FSYN_FLOW);
        const MORV_PARAMETER_MAP no_lb = params_of("NO_LB=1");
        TEST_RETIMING_LEAF rtm(n.api(), &no_lb);
        EXPECT_TRUE(rtm.is_mac_retiming_enabled());
        // An early flow owes no closing timing analysis.
        int passes = -1, icp = -1, restore = -1;
        double fom = -1.0;
        rtm.set_default_algorithm_parameters(passes, icp, fom, restore);
        EXPECT_EQ(icp, 0);
    }
    cfg_set_value("fsyn_enable_late_mac_retiming", "on");
    for (int family : kNetUtilFamilies) {
        NET_UTIL_NETLIST n(family);
        TEST_RETIMING_LEAF rtm(n.api(), nullptr);
        const bool backward_only =
            family == CDB_FAMILY_KESTLIN || family == CDB_FAMILY_RZK || family == CDB_FAMILY_OBRAN;
        EXPECT_TRUE(rtm.is_mac_retiming_enabled()) << family;
        EXPECT_EQ(rtm.are_mac_forward_pushes_enabled(), !backward_only) << family;
        EXPECT_TRUE(rtm.are_mac_backward_pushes_enabled()) << family;
        EXPECT_EQ(rtm.is_sload_demuxing(), backward_only || family == CDB_FAMILY_BRK) << family;
    }
    cfg_set_value("fsyn_disable_mac_retiming_back_pushes", "on");
    cfg_set_value("fsyn_disable_sload_demuxing", "on");
    cfg_set_value("fsyn_enable_sload_push", "on");
    cfg_set_value("fsyn_enable_ram_retiming", "on");
    cfg_set_value("fsyn_retime_side_clocks", "on");
    cfg_set_value("fsyn_disable_location_copying", "on");
    NET_UTIL_NETLIST n(CDB_FAMILY_OBRAN);
    MORV_LOG_CAPTURE log(100);
    TEST_RETIMING_LEAF rtm(n.api(), nullptr);
    // Backward only, and backward switched off: it does nothing, yet reports "ENABLED".
    EXPECT_TRUE(rtm.is_mac_retiming_enabled());
    EXPECT_FALSE(rtm.are_mac_forward_pushes_enabled());
    EXPECT_FALSE(rtm.are_mac_backward_pushes_enabled());
    EXPECT_FALSE(rtm.is_sload_demuxing());
    EXPECT_TRUE(rtm.is_sload_push());
    EXPECT_TRUE(rtm.is_ram_retiming_enabled());
    EXPECT_TRUE(rtm.is_retime_side_clocks());
    EXPECT_TRUE(rtm.is_location_copying_disabled());
    EXPECT_EQ(lines_with(log.lines(), {"is ENABLED", "SLOAD", "side clocks", "Copying"}),
              (std::vector<std::string>{"SLOAD Push is enabled!", "MAC_RETIMING is ENABLED",
                                        "Retiming of side clocks enabled!",
                                        "Copying of locations for side clocks disabled!"}));
    cfg_set_value("fsyn_disable_mac_retiming", "on");
    TEST_RETIMING_LEAF off(n.api(), nullptr);
    EXPECT_FALSE(off.is_mac_retiming_enabled());
}

TEST_F(RetimingObject, DefaultAlgorithmParametersFillOnlyUnsetValuesAndClearTheDemuxRegistry)
{
    NET_UTIL_NETLIST n(CDB_FAMILY_BRK);
    MORV_REMUX::add_demuxed_node(n.api(), 17);
    MORV_LOG_CAPTURE log(2);
    const MORV_PARAMETER_MAP params = params_of("NO_LB=1");
    TEST_RETIMING_LEAF rtm(n.api(), &params);
    int passes = -1, icp = -1, restore = -1;
    double fom = -1.0;
    EXPECT_FALSE(rtm.is_icp_at_end_pending());
    rtm.set_default_algorithm_parameters(passes, icp, fom, restore);
    EXPECT_EQ(passes, 4);
    EXPECT_EQ(icp, 1);
    EXPECT_DOUBLE_EQ(fom, 1e-10);
    // A run the placement makes slower is undone unless the user says otherwise.
    EXPECT_EQ(restore, 1);
    EXPECT_TRUE(rtm.is_icp_at_end_pending());
    EXPECT_EQ(rtm.get_lb_fom(), 0);
    EXPECT_TRUE(n.api()->get_demuxed_nodes()->empty());
    EXPECT_EQ(lines_with(log.lines(), {"LB FOM", "REMUX: clearing"}),
              (std::vector<std::string>{"** Retiming LB FOM = 0", "REMUX: clearing map"}));
    passes = 2, icp = 0, restore = 0, fom = 0.5;
    rtm.set_default_algorithm_parameters(passes, icp, fom, restore);
    EXPECT_EQ(passes, 2);
    EXPECT_EQ(icp, 0);
    EXPECT_DOUBLE_EQ(fom, 0.5);
    EXPECT_EQ(restore, 0);
}

TEST_F(RetimingObject, LowerBoundTestAnswersOnlyWithAnAnalysisAtRest)
{
    TIMING_NETLIST n(CDB_FAMILY_BRK);
    n.build_pipeline();
    n.analyse();
    MORV_LOG_CAPTURE log(2);
    TEST_RETIMING_LEAF rtm(n.api(), nullptr);
    const int legacy = n.api()->get_fsyn_timing()->get_figure_of_merit(true);
    ASSERT_NE(legacy, MORV_TIMING::s_NO_VALID_FOM);
    // Without NO_LB the bound is the timing object's.
    int np = -1, at_end = -1, keep = -1;
    double accept = -1.0;
    rtm.set_default_algorithm_parameters(np, at_end, accept, keep);
    EXPECT_EQ(rtm.get_lb_fom(), n.api()->get_fsyn_timing()->get_retiming_lower_bound_fom());
    EXPECT_NE(rtm.get_lb_fom(), 0);
    // The figure must beat the bound minus PCLOSE (100).
    rtm.set_lb_fom(legacy + 99);
    EXPECT_TRUE(rtm.is_fom_close_to_optimal());
    rtm.set_lb_fom(legacy + 100);
    EXPECT_FALSE(rtm.is_fom_close_to_optimal());
    rtm.set_lb_fom(legacy);
    tdc_get_accessories()->set_analysis_running(true);
    EXPECT_FALSE(rtm.is_fom_close_to_optimal());
    tdc_get_accessories()->set_analysis_running(false);
    rtm.set_no_lb(true);
    EXPECT_FALSE(rtm.is_fom_close_to_optimal());
    EXPECT_EQ(lines_with(log.lines(), {"LB TEST"}),
              (std::vector<std::string>{"LB TEST: FOM close to optimal = TRUE", "LB TEST: FOM close to optimal = FALSE",
                                        "LB TEST: DISABLED, STA is running", "LB TEST: DISABLED"}));
    // The family without a bound never stops early, and its bound is 0.
    NET_UTIL_NETLIST mrl(CDB_FAMILY_MRL);
    TEST_RETIMING_LEAF mrl_rtm(mrl.api(), nullptr);
    int passes = -1, icp = -1, restore = -1;
    double fom = -1.0;
    mrl_rtm.set_default_algorithm_parameters(passes, icp, fom, restore);
    EXPECT_EQ(mrl_rtm.get_lb_fom(), 0);
    mrl_rtm.set_lb_fom(-1000000);
    EXPECT_FALSE(mrl_rtm.is_fom_close_to_optimal());
}

TEST_F(RetimingObject, FinishingRunsTheOwedTimingAnalysisOnceAndDumpsNodeTracking)
{
    NET_UTIL_NETLIST n(CDB_FAMILY_BRK);
    const MORV_PARAMETER_MAP params = params_of("NO_LB=1");
    TEST_RETIMING_LEAF rtm(n.api(), &params);
    int passes = -1, icp = -1, restore = -1;
    double fom = -1.0;
    rtm.set_default_algorithm_parameters(passes, icp, fom, restore);
    MORV_LOG_CAPTURE log(1);
    const std::string file = "fsyn_node_tracking_" + std::to_string(MORV_ALGORITHM_BASE::get_run_counter()) + ".txt";
    rtm.finish_algorithm();
    EXPECT_FALSE(rtm.is_icp_at_end_pending());
    EXPECT_FALSE(std::filesystem::exists(file));
    rtm.finish_algorithm();
    const std::vector<std::string> icp_lines = lines_with(log.lines(), {"ICP("});
    ASSERT_EQ(icp_lines.size(), 1u);
    // The host's call, or its refusal before placement: either way with two false flags first.
    EXPECT_NE(icp_lines[0].find("ICP(0, 0, "), std::string::npos) << icp_lines[0];
    cfg_set_value("fsyn_dump_node_tracking", "on");
    rtm.finish_algorithm();
    EXPECT_TRUE(std::filesystem::exists(file));
    std::filesystem::remove(file);
}

// One untimed term (ratio -1.0) stays out: the figure keeps to the timed ones.
TEST_F(RetimingObject, FigureOfMeritAveragesTheTimedTermsOnly)
{
    NET_UTIL_NETLIST n(CDB_FAMILY_BRK);
    CDB_ATOM_NODE* lut = n.atom(CDB_KIND_LCELL_COMB, "lut");
    CDB_ATOM_ITERM* a = n.drive(lut, DB_DATA_A);
    CDB_ATOM_ITERM* b = n.drive(lut, DB_DATA_B);
    CDB_ATOM_ITERM* c = n.drive(lut, DB_DATA_C);
    MORV_TIMING* timing = n.api()->get_fsyn_timing();
    SCRIPTED_SLACK_SOURCE slacks(timing);
    slacks.set_default(1000, 1.0);
    slacks.set_slack_ratio(a, 0.5);
    slacks.set_slack_ratio(b, 0.25);
    slacks.set_slack_ratio(c, -1.0);
    TEST_RETIMING_LEAF rtm(n.api(), nullptr, 3.0);
    int terms = 0;
    for (CDB_ATOM_NODE* node : *n.netlist())
        for (auto it = node->begin_iterm(); it != node->end_iterm(); ++it) ++terms;
    const double timed = terms - 1;  // every term but c
    const double sum = (1.0 - std::pow(0.5, 8)) + (1.0 - std::pow(0.75, 8)) + (timed - 2) * 1.0;
    const double expected = sum / (timed + 1) * 3.0 + timing->get_figure_of_merit(false);
    EXPECT_NEAR(rtm.compute_figure_of_merit(), expected, 1e-12);
}

TEST_F(RetimingObject, PlumrixCountsVisitsApartFromModifications)
{
    NET_UTIL_NETLIST n(CDB_FAMILY_BRK);
    MORV_PLUMRIX plumrix(n.api());
    plumrix.note_node_visited(5);
    plumrix.note_node_visited(5);
    EXPECT_EQ(plumrix.get_visit_count(5), 2);
    EXPECT_EQ(plumrix.get_visit_count(6), 0);
    EXPECT_EQ(plumrix.get_modification_count(5), 0);
}

// ------------------------------------------------------------------ records

TEST_F(RetimingEditOps, InsertionOrderPutsInitialConditionsFirstThenSourceIdsThenSlack)
{
    NET_UTIL_NETLIST n(CDB_FAMILY_BRK);
    CDB_ATOM_OTERM* early = n.new_source();
    CDB_ATOM_OTERM* late = n.new_source();
    CDB_ATOM_NODE* lut = n.atom(CDB_KIND_LCELL_COMB, "lut");
    CDB_ATOM_ITERM* a = n.drive(lut, DB_DATA_A, late);
    CDB_ATOM_ITERM* b = n.drive(lut, DB_DATA_B, early);
    CDB_ATOM_ITERM* c = n.drive(lut, DB_DATA_C, early);
    CDB_ATOM_ITERM* open_d = lut->add_input_term(DB_DATA_D);
    CDB_ATOM_ITERM* open_e = lut->add_input_term(DB_DATA_E);
    const auto item = [](CDB_ATOM_ITERM* t, int slack, bool ic) {
        RETIME_ITERM r;
        r.iterm = t, r.slack = slack, r.initial_condition = ic;
        return r;
    };
    RETIME_ITERM_SET set;
    set.insert(item(a, 900, false));
    set.insert(item(b, 100, false));
    set.insert(item(c, 500, false));
    set.insert(item(open_e, 5, false));
    set.insert(item(open_d, 1, false));
    set.insert(item(a, 50, true));
    std::vector<std::pair<CDB_ATOM_ITERM*, int>> order;
    for (const RETIME_ITERM& r : set) order.emplace_back(r.iterm, r.slack);
    // Among the sourced ones: early's (smaller id) first, larger slack first;
    // a term without a source falls back to the terms' own order.
    EXPECT_EQ(order, (std::vector<std::pair<CDB_ATOM_ITERM*, int>>{
                         {a, 50}, {c, 500}, {b, 100}, {a, 900}, {open_d, 1}, {open_e, 5}}));
    // Without sources slack counts for nothing.
    RETIME_ITERM_LESS less;
    EXPECT_TRUE(less(item(open_d, 1, false), item(open_e, 100, false)));
    EXPECT_FALSE(less(item(open_e, 100, false), item(open_d, 1, false)));
}

TEST_F(RetimingEditOps, RegisterDescriptionCapturesEveryControlInItsOrder)
{
    NET_UTIL_NETLIST n(CDB_FAMILY_BRK);
    CDB_ATOM_NODE* reg = add_register(n, "r");
    CDB_ATOM_ITERM* clear = n.drive(reg, DB_CLEAR);
    clear->set_invert();
    clear->set_global(-3);
    clear->set_delay_chain_index(MORV_RETIMING::s_DELAY_CHAIN, 2);
    CDB_ATOM_ITERM* enable = reg->add_input_term(DB_CLOCK_ENABLE);
    enable->set_gnd();
    enable->set_invert();
    reg->add_input_term(DB_SYNCH_LOAD);  // present but open
    CDB_ATOM_NODE* lut = n.atom(CDB_KIND_LCELL_COMB, "lut");
    TEST_RETIMING_LEAF rtm(n.api(), nullptr);
    RETIME_REG d = rtm.describe_register(reg);
    EXPECT_EQ(d.signals[RETIME_CLEAR].source, clear->get_source());
    EXPECT_TRUE(d.signals[RETIME_CLEAR].inverted);
    EXPECT_EQ(d.signals[RETIME_CLEAR].global_type, -3);
    EXPECT_TRUE(d.signals[RETIME_CLEAR].use_delay_chain);
    EXPECT_EQ(d.signals[RETIME_CLEAR].delay_chain_index, 2);
    EXPECT_EQ(d.signals[RETIME_CLOCK].source, reg->get_input_term_by_type(DB_CLOCK)->get_source());
    // An enable tied to GND through its inversion bit is logically VCC.
    EXPECT_TRUE(d.signals[RETIME_CLOCK_ENABLE].is_vcc);
    EXPECT_FALSE(d.signals[RETIME_CLOCK_ENABLE].is_gnd);
    EXPECT_TRUE(d.signals[RETIME_CLOCK_ENABLE].inverted);
    EXPECT_EQ(d.signals[RETIME_SYNCH_LOAD], RETIME_SIGNAL());
    EXPECT_EQ(d.signals[RETIME_SYNCH_CLEAR], RETIME_SIGNAL());
    EXPECT_EQ(d.signals[RETIME_SYNCH_CLEAR].boundary_port_id, -1);
    EXPECT_TRUE(d.clear_low);
    EXPECT_EQ(d.regout, reg->get_output_term_by_type(DB_REG_OUT));
    EXPECT_EQ(d.name, reg->get_instance_name());
    rtm.invert_node(reg);
    EXPECT_FALSE(rtm.describe_register(reg).clear_low);
    EXPECT_EQ(internal_error_of([&] { rtm.describe_register(lut); }), "m_net_util->is_register_present(node)");
    EXPECT_EQ(internal_error_of([&] { rtm.capture_signal(lut, DB_CLEAR); }),
              "node->is_ram() || m_net_util->is_register_present(node)");
    EXPECT_EQ(internal_error_of([&] { rtm.capture_mac_signal(n.drive(lut, DB_DATA_A)); }),
              "iterm->get_my_node()->is_mac_mult() || iterm->get_my_node()->is_mac_out()");
    EXPECT_EQ(rtm.capture_mac_signal(nullptr), RETIME_SIGNAL());
}

// ------------------------------------------------------------------ ties

// The four tie x inversion combinations, at both helpers: the port sees
// what it saw before, and the constant carries no inversion bit.
TEST_F(RetimingEditOps, ConstantsComeBackAsTheirLogicalValueAtBothHelpers)
{
    for (bool vcc : {false, true}) {
        for (bool invert : {false, true}) {
            NET_UTIL_NETLIST n(CDB_FAMILY_BRK);
            CDB_ATOM_NODE* reg = add_register(n, "r");
            CDB_ATOM_ITERM* enable = reg->add_input_term(DB_CLOCK_ENABLE);
            vcc ? enable->set_vcc() : enable->set_gnd();
            enable->set_invert(invert);
            const int seen = logical_value(enable);
            const std::string what = std::string(vcc ? "VCC" : "GND") + (invert ? " inverted" : "");
            TEST_RETIMING_LEAF rtm(n.api(), nullptr);

            CDB_ATOM_NODE* copy = add_register(n, "copy");
            rtm.connect_register_input(copy, rtm.capture_signal(reg, DB_CLOCK_ENABLE), DB_CLOCK_ENABLE, 0);
            CDB_ATOM_ITERM* made = copy->get_input_term_by_type(DB_CLOCK_ENABLE);
            ASSERT_NE(made, nullptr) << what;
            EXPECT_EQ(logical_value(made), seen) << what;
            EXPECT_FALSE(made->is_inverted()) << what;
            EXPECT_TRUE(rtm.get_touched_iterms().contains(made)) << what;

            // Onto a term that was inverted and driven before.
            CDB_ATOM_ITERM* target = n.drive(copy, DB_SYNCH_CLEAR);
            target->set_invert();
            rtm.copy_iterm_connection(enable, target);
            EXPECT_EQ(logical_value(target), seen) << what;
            EXPECT_FALSE(target->is_inverted()) << what;
            EXPECT_EQ(target->get_source(), nullptr) << what;
        }
    }
}

// A signal that is only VCC: the term is made, tied to logical VCC with no
// inversion bit, and bound to the signal's boundary port.
TEST_F(RetimingEditOps, AConstantSignalStillBringsItsBoundaryPort)
{
    NET_UTIL_NETLIST n(CDB_FAMILY_BRK, NET_UTIL_PARTITIONS);
    CDB_ATOM_NODE* reg = add_register(n, "r");
    const int port = n.bpm()->create_port("p|enable");
    TEST_RETIMING_LEAF rtm(n.api(), nullptr);
    RETIME_SIGNAL on;
    on.is_vcc = true;
    on.inverted = true;
    on.boundary_port_id = port;
    rtm.connect_register_input(reg, on, DB_CLOCK_ENABLE, 0);
    CDB_ATOM_ITERM* made = reg->get_input_term_by_type(DB_CLOCK_ENABLE);
    ASSERT_NE(made, nullptr);
    EXPECT_TRUE(made->is_logical_vcc());
    EXPECT_FALSE(made->is_inverted());
    EXPECT_EQ(n.api()->get_assigned_boundary_port_id(made), port);
    EXPECT_EQ(rtm.capture_signal(reg, DB_CLOCK_ENABLE).boundary_port_id, port);
    rtm.disconnect_iterm_and_port(made);
    EXPECT_FALSE(made->is_connected());
    EXPECT_EQ(n.api()->get_assigned_boundary_port_id(made), -1);
}

// A mux input takes a control's driver: with the boundary port when the
// port goes along, else the control keeps it and the input stands for
// none. A term that gives up a usage says so in the change log.
TEST_F(RetimingEditOps, ATakenDriverBringsTheBoundaryPortOnlyWhenAskedAndAClearedUsageIsLogged)
{
    NET_UTIL_NETLIST n(CDB_FAMILY_BRK, NET_UTIL_PARTITIONS | NET_UTIL_LOGGING);
    CDB_ATOM_NODE* reg = add_register(n, "r");
    CDB_ATOM_ITERM* enable = n.drive(reg, DB_CLOCK_ENABLE);
    enable->set_invert();
    const int port = n.bpm()->create_port("p|enable");
    n.api()->set_boundary_port_id(enable, port);
    CDB_ATOM_NODE* mux = n.atom(CDB_KIND_LCELL_COMB, "mux");
    TEST_RETIMING_LEAF rtm(n.api(), nullptr);
    for (bool move : {false, true}) {
        CDB_ATOM_ITERM* to = mux->add_input_term(move ? DB_DATA_D : DB_DATA_C);
        rtm.take_driver_of(enable, to, false, move);
        EXPECT_EQ(to->get_source(), enable->get_source()) << move;
        EXPECT_FALSE(to->is_inverted()) << move;
        EXPECT_EQ(n.api()->get_assigned_boundary_port_id(to), move ? port : -1) << move;
        EXPECT_EQ(n.api()->get_assigned_boundary_port_id(enable), move ? -1 : port) << move;
    }
    n.take_log_entries();
    rtm.clear_iterm_usage(enable, DB_CLOCK_ENABLE);
    EXPECT_FALSE(enable->is_used_as(DB_CLOCK_ENABLE));
    EXPECT_EQ(reg->get_input_term_by_type(DB_CLOCK_ENABLE), nullptr);
    EXPECT_EQ(n.take_log_entries(),
              std::vector<std::string>{log_line("CLEAR_USAGE_AS", reg, std::to_string(DB_CLOCK_ENABLE) + " 0")});
}

TEST_F(RetimingEditOps, DrivenTermsKeepSourceAndInversionBit)
{
    NET_UTIL_NETLIST n(CDB_FAMILY_BRK);
    CDB_ATOM_NODE* reg = add_register(n, "r");
    CDB_ATOM_ITERM* clear = n.drive(reg, DB_CLEAR);
    clear->set_invert();
    clear->set_global(5);
    CDB_ATOM_NODE* copy = add_register(n, "copy");
    TEST_RETIMING_LEAF rtm(n.api(), nullptr);
    rtm.connect_register_input(copy, rtm.capture_signal(reg, DB_CLEAR), DB_CLEAR, 0);
    CDB_ATOM_ITERM* made = copy->get_input_term_by_type(DB_CLEAR);
    EXPECT_EQ(made->get_source(), clear->get_source());
    EXPECT_TRUE(made->is_inverted());
    EXPECT_EQ(made->get_global(), 5);
    // copy: s's bit exclusive-or f's former bit.
    CDB_ATOM_ITERM* plain = n.drive(copy, DB_SYNCH_CLEAR);
    rtm.copy_iterm_connection(clear, plain);
    EXPECT_EQ(plain->get_source(), clear->get_source());
    EXPECT_TRUE(plain->is_inverted());
    CDB_ATOM_ITERM* inverted = n.drive(copy, DB_SYNCH_LOAD);
    inverted->set_invert();
    rtm.copy_iterm_connection(clear, inverted);
    EXPECT_EQ(inverted->get_source(), clear->get_source());
    EXPECT_FALSE(inverted->is_inverted());
    // An empty signal changes nothing, not even a missing term.
    rtm.connect_register_input(copy, RETIME_SIGNAL(), DB_CLOCK_ENABLE, 0);
    EXPECT_EQ(copy->get_input_term_by_type(DB_CLOCK_ENABLE), nullptr);
}

TEST_F(RetimingEditOps, ChangeLogSeesEachWriterBeforeItsEdit)
{
    NET_UTIL_NETLIST n(CDB_FAMILY_BRK, NET_UTIL_LOGGING);
    CDB_ATOM_NODE* reg = add_register(n, "r");
    CDB_ATOM_NODE* lut = n.atom(CDB_KIND_LCELL_COMB, "lut");
    CDB_ATOM_ITERM* a = n.drive(lut, DB_DATA_A);
    a->set_invert();
    CDB_ATOM_OTERM* to = n.new_source();
    TEST_RETIMING_LEAF rtm(n.api(), nullptr);
    n.take_log_entries();
    rtm.move_iterm(a, to);
    // The connection record holds the new source; the inversion follows.
    EXPECT_EQ(n.take_log_entries(), (std::vector<std::string>{log_line("ADD_REMOVE_CONNECTION_LCELL_COMB", lut,
                                                                       slot_list(11, {{0, short_name_of(to)}})),
                                                              log_line("SET_INVERT", lut, "11 0")}));
    EXPECT_TRUE(a->is_inverted());
    rtm.set_saved_invert(false);
    rtm.apply_saved_invert(a);
    EXPECT_EQ(n.take_log_entries(), (std::vector<std::string>{log_line("CLEAR_INVERT", lut, "11 0")}));
    // A new enable term tied to logical VCC: created, tied, then its bit written.
    RETIME_SIGNAL on;
    on.is_vcc = true;
    rtm.connect_register_input(reg, on, DB_CLOCK_ENABLE, 0);
    std::vector<std::string> entries = n.take_log_entries();
    ASSERT_GE(entries.size(), 2u);
    EXPECT_EQ(entries.front(), log_line("CREATE_ITERM", reg, "7 0"));
    EXPECT_EQ(entries[1], log_line("ADD_REMOVE_CONNECTION_LCELL_FF", reg, slot_list(9, {{0, "VCC"}})));
    EXPECT_TRUE(reg->get_input_term_by_type(DB_CLOCK_ENABLE)->is_logical_vcc());
}

// ------------------------------------------------------------------ inversions

TEST_F(RetimingEditOps, OneInverterServesEveryLutTermAndDspInputsToggleTheirBit)
{
    NET_UTIL_NETLIST n(CDB_FAMILY_BRK, NET_UTIL_LOGGING);
    CDB_ATOM_OTERM* o = n.new_source();
    std::vector<CDB_ATOM_ITERM*> terms;
    for (int k = 0; k < 3; ++k) {
        CDB_ATOM_NODE* lut = n.atom(CDB_KIND_LCELL_COMB, numbered("lut", k));
        terms.push_back(n.drive(lut, DB_DATA_A + k, o));
    }
    terms[1]->set_invert();
    terms[2]->set_connected_to_delay_chain(MORV_RETIMING::s_DELAY_CHAIN, true);
    terms[2]->set_delay_chain_index(MORV_RETIMING::s_DELAY_CHAIN, 3);
    terms[2]->set_global(3);
    CDB_ATOM_NODE* mult = n.atom(CDB_KIND_MAC_MULT, "mult");
    terms.push_back(n.drive(mult, DB_DATA_A, o));
    const size_t nodes = n.netlist()->get_node_count();
    TEST_RETIMING_LEAF rtm(n.api(), nullptr);
    n.take_log_entries();
    rtm.invert_fanouts(o, terms);
    EXPECT_EQ(rtm.inverters(), 1);
    EXPECT_EQ(n.netlist()->get_node_count(), nodes + 1);
    CDB_ATOM_OTERM* inv = terms[0]->get_source();
    ASSERT_NE(inv, o);
    for (int k = 0; k < 3; ++k) EXPECT_EQ(terms[k]->get_source(), inv) << k;
    EXPECT_EQ(inv->get_my_node()->get_input_term_by_type(DB_DATA_A)->get_source(), o);
    EXPECT_TRUE(terms[1]->is_inverted());  // each term keeps its own bit
    EXPECT_FALSE(terms[2]->is_connected_to_delay_chain(MORV_RETIMING::s_DELAY_CHAIN));
    EXPECT_FALSE(terms[2]->use_delay_chain(MORV_RETIMING::s_DELAY_CHAIN));
    EXPECT_EQ(terms[2]->get_global(), 0);
    EXPECT_EQ(terms[3]->get_source(), o);
    EXPECT_TRUE(terms[3]->is_inverted());
    const std::vector<std::string> entries = n.take_log_entries();
    EXPECT_NE(std::find(entries.begin(), entries.end(), log_line("SET_INVERT", mult, "11 0")), entries.end());
    CDB_ATOM_NODE* lut2 = terms[2]->get_my_node();
    for (const std::string& entry :
         {log_line("SET_GLOBAL", lut2, "13 0 0"), log_line("RESET_DELAY_CHAIN", lut2, "13 0 8"),
          log_line("SET_CONNECTED_TO_DELAY_CHAIN", lut2, "13 0 8 0")})
        EXPECT_NE(std::find(entries.begin(), entries.end(), entry), entries.end()) << entry;
    // invert_iterm: a DSP multiplier input toggles back without a cell.
    rtm.invert_iterm(terms[3]);
    EXPECT_FALSE(terms[3]->is_inverted());
    EXPECT_EQ(rtm.inverters(), 1);
    rtm.invert_iterm(terms[0]);
    EXPECT_EQ(rtm.inverters(), 2);
    EXPECT_EQ(terms[0]->get_source()->get_my_node()->get_input_term_by_type(DB_DATA_A)->get_source(), inv);
    CDB_ATOM_ITERM* other = n.drive(n.atom(CDB_KIND_LCELL_COMB, "stranger"), DB_DATA_A);
    EXPECT_EQ(internal_error_of([&] { rtm.invert_fanouts(o, {other}); }), "curr_iterm->get_source() == oterm");
}

// ------------------------------------------------------------------ placement and queries

TEST_F(RetimingEditOps, CopiesLandOneStepInsideTheGridEdge)
{
    NET_UTIL_NETLIST n(CDB_FAMILY_BRK);
    n.env().m_grid_nx = 10;
    n.env().m_grid_ny = 10;
    n.api()->reset_fsyn_chip_map(false);
    MORV_CHIP_MAP* map = n.api()->get_fsyn_chip_map();
    TEST_RETIMING_LEAF rtm(n.api(), nullptr);
    const auto place = [&](int x, int y) {
        CDB_ATOM_NODE* reg = add_register(n, numbered("r", x * 10 + y));
        map->set_node_location(static_cast<int>(reg->get_id()), MORV_LOC{x, y, MORV_OPEN, MORV_OPEN});
        CDB_ATOM_NODE* copy = cdb_create_atom(n.family(), CDB_KIND_REGISTER);
        rtm.copy_location(reg, copy);
        MORV_LOC at;
        EXPECT_TRUE(map->get_node_location(static_cast<int>(copy->get_id()), &at));
        EXPECT_EQ(copy->get_netlist(), n.netlist());
        EXPECT_TRUE(rtm.get_live_nodes().contains(copy));
        return std::make_pair(at.x, at.y);
    };
    EXPECT_EQ(place(0, 5), std::make_pair(1, 5));
    EXPECT_EQ(place(9, 9), std::make_pair(8, 8));
    EXPECT_EQ(place(5, 0), std::make_pair(5, 1));
    EXPECT_EQ(place(4, 4), std::make_pair(4, 4));
    EXPECT_EQ(rtm.get_created_node_count(), 4);
    CDB_ATOM_NODE* nowhere = n.atom(CDB_KIND_REGISTER, "nowhere");
    EXPECT_EQ(internal_error_of([&] { rtm.copy_location(nowhere, nowhere); }),
              "x_loc != MORV_OPEN && y_loc != MORV_OPEN");
}

TEST_F(RetimingEditOps, InputSubsetsComeSmallestFirst)
{
    NET_UTIL_NETLIST n4(CDB_FAMILY_ZEPLA);
    TEST_RETIMING_LEAF rtm4(n4.api(), nullptr);
    std::vector<uint32_t> masks;
    uint32_t current = ~0u;
    while (rtm4.next_input_subset(&current)) masks.push_back(current);
    EXPECT_EQ(masks, (std::vector<uint32_t>{0, 1, 2, 4, 8, 3, 5, 6, 9, 10, 12, 7, 11, 13, 14, 15}));
    EXPECT_EQ(current, 16u);
    NET_UTIL_NETLIST n6(CDB_FAMILY_BRK);
    TEST_RETIMING_LEAF rtm6(n6.api(), nullptr);
    std::vector<uint32_t> all;
    current = ~0u;
    while (rtm6.next_input_subset(&current)) all.push_back(current);
    ASSERT_EQ(all.size(), 64u);
    for (size_t i = 1; i < all.size(); ++i) EXPECT_LE(__builtin_popcount(all[i - 1]), __builtin_popcount(all[i])) << i;
    std::sort(all.begin(), all.end());
    EXPECT_EQ(std::unique(all.begin(), all.end()), all.end());
    EXPECT_EQ(internal_error_of([&] { rtm6.next_input_subset(nullptr); }), "current_index");
}

TEST_F(RetimingEditOps, SlackOfATouchedTermIsHalfTheCriticalSlack)
{
    NET_UTIL_NETLIST n(CDB_FAMILY_BRK);
    CDB_ATOM_NODE* lut = n.atom(CDB_KIND_LCELL_COMB, "lut");
    CDB_ATOM_ITERM* a = n.drive(lut, DB_DATA_A);
    CDB_ATOM_ITERM* b = n.drive(lut, DB_DATA_B);
    SCRIPTED_SLACK_SOURCE slacks(n.api()->get_fsyn_timing());
    slacks.set(a, 40, 0.1);
    slacks.set(b, 70, 0.3);
    TEST_RETIMING_LEAF rtm(n.api(), nullptr, 1.0, 301);
    rtm.set_srt(0.2);
    EXPECT_EQ(rtm.get_iterm_slack(a), 40);
    EXPECT_TRUE(rtm.is_input_critical(lut, DB_DATA_A));
    EXPECT_FALSE(rtm.is_input_critical(lut, DB_DATA_B));
    EXPECT_FALSE(rtm.is_input_critical(lut, DB_DATA_C));
    rtm.touch(a);
    EXPECT_EQ(rtm.get_iterm_slack(a), 150);
    EXPECT_FALSE(rtm.is_input_critical(lut, DB_DATA_A));
}

TEST_F(RetimingEditOps, WireLutsHaveOneInputAndNoChainOrExtraInput)
{
    NET_UTIL_NETLIST n(CDB_FAMILY_BRK);
    CDB_ATOM_NODE* wire = n.atom(CDB_KIND_LCELL_COMB, "wire");
    wire->add_input_term(DB_DATA_A);  // open
    CDB_ATOM_ITERM* c = n.drive(wire, DB_DATA_C);
    wire->set_lutmask(CDB_LUTMASK(6, 0xf0f0f0f0f0f0f0f0ull));  // reads C: a buffer or an inverter of it
    CDB_ATOM_NODE* two = n.atom(CDB_KIND_LCELL_COMB, "two");
    n.drive(two, DB_DATA_A);
    n.drive(two, DB_DATA_F);
    CDB_ATOM_NODE* chained = n.atom(CDB_KIND_LCELL_COMB, "chained");
    n.drive(chained, DB_DATA_A);
    n.drive(chained, DB_CARRY_IN);
    TEST_RETIMING_LEAF rtm(n.api(), nullptr);
    EXPECT_TRUE(rtm.is_wire_lut(wire));
    EXPECT_EQ(rtm.get_wire_lut_input(wire), c);
    EXPECT_EQ(rtm.count_connected_data_inputs(wire), 1);
    EXPECT_FALSE(rtm.is_wire_lut(two));
    EXPECT_EQ(rtm.count_connected_data_inputs(two), 2);
    EXPECT_FALSE(rtm.is_wire_lut(chained));
    EXPECT_TRUE(rtm.has_carry_connection(chained));
    EXPECT_EQ(internal_error_of([&] { rtm.get_wire_lut_input(two); }), "is_wire_lut(node)");
    rtm.m_extra_input_ids.insert(wire->get_id());
    EXPECT_FALSE(rtm.is_wire_lut(wire));
}

TEST_F(RetimingEditOps, NodeTrackingRecordsTheConsumedRegisters)
{
    NET_UTIL_NETLIST n(CDB_FAMILY_BRK);
    CDB_ATOM_NODE* made = add_register(n, "made");
    TEST_RETIMING_LEAF rtm(n.api(), nullptr);
    MORV_NT* nt = n.api()->get_fsyn_nt();
    const int before = nt->get_number_of_operations();
    rtm.set_tracking(MORV_RETIMING::s_NT_OP_UNSET, "BWD RTM across <4>", {MORV_NT_NODE_ID(4), MORV_NT_NODE_ID(5)});
    rtm.record_tracking(made, 3);
    rtm.set_tracking(8, "FWD RTM across <6>", {MORV_NT_NODE_ID(6)});
    rtm.record_tracking(made, 3);
    EXPECT_EQ(nt->get_number_of_operations(), before + 2);
}

// ------------------------------------------------------------------ helpers of the family hooks

TEST_F(RetimingEditOps, ReferenceCellIsTheNearestLogicCell)
{
    NET_UTIL_NETLIST n(CDB_FAMILY_BRK);
    CDB_ATOM_NODE* first = n.atom(CDB_KIND_LCELL_COMB, "first");
    CDB_ATOM_NODE* pin = n.atom(CDB_KIND_IO, "pin");
    CDB_ATOM_ITERM* pin_in = n.drive(pin, DB_DATAIN);  // driven by another pin
    TEST_RETIMING_LEAF rtm(n.api(), nullptr);
    // Neither the pin nor its driver is a logic cell, and it feeds none.
    EXPECT_EQ(rtm.find_reference_lcell(pin_in), first);
    CDB_ATOM_NODE* reader = n.atom(CDB_KIND_LCELL_COMB, "reader");
    n.drive(reader, DB_DATA_A, pin->add_output_term(DB_DATA_OUT));
    EXPECT_EQ(rtm.find_reference_lcell(pin_in), reader);
    CDB_ATOM_NODE* driver = n.atom(CDB_KIND_LCELL_COMB, "driver");
    CDB_ATOM_OTERM* driver_out = driver->add_output_term(DB_COMB_OUT);
    pin_in->disconnect_from_source(CDB_NET_ITERM::UNCONNECTED);
    driver_out->insert_fanout(pin_in);
    EXPECT_EQ(rtm.find_reference_lcell(pin_in), driver);
    CDB_ATOM_ITERM* own = n.drive(reader, DB_DATA_B);
    EXPECT_EQ(rtm.find_reference_lcell(own), reader);
}

TEST_F(RetimingEditOps, CriticalBySlackComparesTheWorstSlackAroundTheNode)
{
    NET_UTIL_NETLIST n(CDB_FAMILY_BRK);
    CDB_ATOM_NODE* reg = add_register(n, "r");
    CDB_ATOM_OTERM* q = n.load(reg, DB_REG_OUT);
    CDB_ATOM_NODE* lonely = n.atom(CDB_KIND_REGISTER, "lonely");
    SCRIPTED_SLACK_SOURCE slacks(n.api()->get_fsyn_timing());
    slacks.set_default(500, 0.5);
    slacks.set_guardband_slack(100);
    TEST_RETIMING_LEAF rtm(n.api(), nullptr);
    EXPECT_FALSE(rtm.is_critical_by_slack(reg));
    slacks.set_slack(q->get_first_fanout(), 100);
    EXPECT_TRUE(rtm.is_critical_by_slack(reg));  // 100 - 100 < 1
    slacks.set_slack(q->get_first_fanout(), 101);
    EXPECT_FALSE(rtm.is_critical_by_slack(reg));
    slacks.set_slack(reg->get_input_term_by_type(DB_CLOCK), -3);
    EXPECT_TRUE(rtm.is_critical_by_slack(reg));
    // No connected term: the minimum stays at 2147483647.
    slacks.set_guardband_slack(2147483646);
    EXPECT_FALSE(rtm.is_critical_by_slack(lonely));
}

TEST_F(RetimingEditOps, EnableOptionOnTheSourceOrThePadForbidsTheDemux)
{
    NET_UTIL_NETLIST n(CDB_FAMILY_BRK);
    CDB_ATOM_NODE* reg = add_register(n, "r");
    TEST_RETIMING_LEAF rtm(n.api(), nullptr);
    EXPECT_TRUE(rtm.can_demux_enable(reg));  // no enable
    CDB_ATOM_NODE* lut = n.atom(CDB_KIND_LCELL_COMB, "ena_lut");
    CDB_ATOM_OTERM* lut_out = lut->add_output_term(DB_COMB_OUT, lut->get_instance_name());
    CDB_ATOM_ITERM* enable = n.drive(reg, DB_CLOCK_ENABLE, lut_out);
    HDB_ACTION_PT_INSTANCE* ap = n.env().get_cmp()->get_action_point_instance();
    EXPECT_TRUE(rtm.can_demux_enable(reg));
    ap->edit_instance_options(lut->get_instance_name()).set_bool(MORV_SETTING_RETIMING_NO_DEMUX, true);
    EXPECT_FALSE(rtm.can_demux_enable(reg));
    ap->edit_instance_options(lut->get_instance_name()).set_bool(MORV_SETTING_RETIMING_NO_DEMUX, false);
    EXPECT_TRUE(rtm.can_demux_enable(reg));
    // From an input pin: the option on the pad behind it.
    CDB_ATOM_NODE* pad = n.atom(CDB_KIND_IO, "pad");
    CDB_ATOM_NODE* buffer = n.atom(CDB_KIND_IO, "buffer");
    n.drive(buffer, DB_DATAIN, pad->add_output_term(DB_DATA_OUT));
    enable->disconnect_from_source(CDB_NET_ITERM::UNCONNECTED);
    buffer->add_output_term(DB_DATA_OUT)->insert_fanout(enable);
    EXPECT_TRUE(rtm.can_demux_enable(reg));
    ap->edit_instance_options(pad->get_instance_name()).set_bool(MORV_SETTING_RETIMING_NO_DEMUX, true);
    EXPECT_FALSE(rtm.can_demux_enable(reg));
}

TEST_F(RetimingEditOps, MobilitiesAroundAMovedRegisterResetOnlyInSkewMode)
{
    NET_UTIL_NETLIST n(CDB_FAMILY_BRK);
    CDB_ATOM_OTERM* d = n.new_source();
    CDB_ATOM_NODE* moved = add_register(n, "moved");
    moved->get_input_term_by_type(DB_DATAIN)->disconnect_from_source(CDB_NET_ITERM::UNCONNECTED);
    d->insert_fanout(moved->get_input_term_by_type(DB_DATAIN));
    CDB_ATOM_NODE* sibling = add_register(n, "sibling");
    sibling->get_input_term_by_type(DB_DATAIN)->disconnect_from_source(CDB_NET_ITERM::UNCONNECTED);
    d->insert_fanout(sibling->get_input_term_by_type(DB_DATAIN));
    CDB_ATOM_NODE* reader = n.atom(CDB_KIND_LCELL_COMB, "reader");
    n.drive(reader, DB_DATA_A, moved->get_output_term_by_type(DB_REG_OUT));
    CDB_ATOM_NODE* other = add_register(n, "other");
    n.drive(reader, DB_DATA_B, other->get_output_term_by_type(DB_REG_OUT));
    const MORV_PARAMETER_MAP skew = params_of("SKEW_RTM=1");
    TEST_RETIMING_LEAF rtm(n.api(), &skew);
    MORV_OPT_SKEW* opt = rtm.get_opt_skew();
    opt->reduce_bwd_mobility(sibling, 0.5);
    opt->reduce_fwd_mobility(other, 0.25);
    rtm.reset_neighbour_mobilities(moved);
    EXPECT_DOUBLE_EQ(opt->get_bwd_mobility(sibling), 1.0);
    EXPECT_DOUBLE_EQ(opt->get_fwd_mobility(other), 1.0);
    TEST_RETIMING_LEAF classic(n.api(), nullptr);
    classic.reset_neighbour_mobilities(moved);  // nothing to reset, and no calculator needed
    EXPECT_EQ(classic.get_opt_skew(), nullptr);
}

}  // namespace morv_retiming_test
