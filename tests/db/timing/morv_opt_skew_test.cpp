// Optimal skews on hand-made netlists: the step rule at its boundaries, the
// registers around carry chains, the block ratios, the exits and tuning of
// the passes, which elements may move, the estimator's offsets, the
// candidate heap and the mobilities, and taking the skews off again.

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <string>
#include <vector>

#include "cut/cut_block_util.h"
#include "nevra/nevra_estimator.h"
#include "tdb/tdb_netlist.h"
#include "tdc/tdc_accessories.h"

#include "morv/core/morv_env.h"
#include "morv/retiming/morv_shift_reg_manager.h"
#include "morv/timing/morv_opt_skew.h"
#include "log_capture.h"
#include "timing_fixture.h"

// The inside of a computation, for the cases a real analysis cannot set up.
struct MORV_OPT_SKEW_PROBE
{
    // Skews and ratio caches sized for the netlist, as at a pass's start.
    static void prepare(MORV_OPT_SKEW& skews)
    {
        skews.start_computation();
        skews.reset_slack_ratio_caches();
    }
    static void set_ratios(MORV_OPT_SKEW& skews, const CDB_ATOM_NODE* node, double in, double out)
    {
        skews.m_input_sr_map[node->get_id() - skews.m_id_base] = in;
        skews.m_output_sr_map[node->get_id() - skews.m_id_base] = out;
    }
    static void set_skew(MORV_OPT_SKEW& skews, const CDB_ATOM_NODE* node, int skew)
    {
        *skews.skew_slot(node->get_id()) = skew;
    }
    // One step of the estimator pass at the clock term (a shift register
    // when sr).
    static void estimator_step(MORV_OPT_SKEW& skews, CDB_ATOM_NODE* node, const CDB_ATOM_ITERM* clock, int delta,
                               bool sr)
    {
        MORV_OPT_SKEW::ELEMENT kind = skews.classify(node, true);
        kind.is_sr = sr;
        skews.apply_estimator_step(node, kind, clock, delta);
    }
    static size_t mobility_entries(const MORV_OPT_SKEW& skews)
    {
        return skews.m_fwd_mobility.size() + skews.m_bwd_mobility.size();
    }
    static int chain_walks(const MORV_OPT_SKEW& skews) { return skews.m_chain_walks; }
};

namespace morv_opt_skew_test {

namespace {

using PROBE = MORV_OPT_SKEW_PROBE;

class OptSkewTest : public MORV_CLEAN_STATE_TEST
{};

// A netlist of a family with the pieces the skew tests need.
class SKEW_NETLIST : public TIMING_NETLIST
{
public:
    explicit SKEW_NETLIST(int family, int period_ps = 1000) : TIMING_NETLIST(family)
    {
        tdc_get_accessories()->set_default_clock_period_ps(period_ps);
        clock = input_pin();
    }

    CDB_ATOM_OTERM* luts(CDB_ATOM_OTERM* from, int levels)
    {
        for (int i = 0; i < levels; ++i) from = lut({from});
        return from;
    }
    CDB_ATOM_NODE* output_pin(CDB_ATOM_OTERM* d)
    {
        CDB_ATOM_NODE* pin = cdb_create_output_pin(family());
        pin->set_chip_db_entry(&host().chip_entry);
        netlist()->add_node(pin);
        d->insert_fanout(pin->get_input_term_by_type(DB_DATAIN));
        return pin;
    }
    // A register of the family; in UVO a logic cell whose LUT feeds it.
    CDB_ATOM_OTERM* flop(CDB_ATOM_OTERM* d)
    {
        if (family() != CDB_FAMILY_UVO) return reg(d, clock);
        CDB_ATOM_NODE* cell = atom(CDB_KIND_REGISTER);
        d->insert_fanout(cell->add_input_term(DB_DATA_A));
        clock->insert_fanout(cell->add_input_term(DB_CLOCK));
        return cell->add_output_term(DB_REG_OUT);
    }
    // in -> q[0] -> first LUT levels -> q[1] -> second LUT levels -> q[2] -> out.
    void build_stages(int first, int second)
    {
        q.push_back(flop(input_pin()));
        q.push_back(flop(luts(q[0], first)));
        q.push_back(flop(luts(q[1], second)));
        output_pin(q[2]);
    }
    CDB_ATOM_NODE* node(size_t i) const { return q[i]->get_my_node(); }
    // A clocked block with its clock on the given clock input.
    CDB_ATOM_NODE* block(int kind, int clock_port = DB_CLOCK, int clock_index = 0)
    {
        CDB_ATOM_NODE* b = atom(kind);
        clock->insert_fanout(b->add_input_term(clock_port, clock_index));
        return b;
    }
    // Every clock edge of the analyser's timing netlist with its four delays.
    std::vector<std::vector<int>> clock_edge_delays() const
    {
        std::vector<std::vector<int>> out;
        for (const TDB_EDGE* e : tdc_get_accessories()->get_tdb_netlist()->edge_table())
            if (e != nullptr && e->is_clock()) {
                const TDB_DELAY* d = e->get_delay();
                out.push_back({e->get_id(), d->get_delay(0, TDB_MAX, 0), d->get_delay(0, TDB_MAX, 1),
                               d->get_delay(0, TDB_MIN, 0), d->get_delay(0, TDB_MIN, 1)});
            }
        return out;
    }
    void use_estimator()
    {
        TIMING_DRIVER_FLAGS::set_estimator(expert(), true);
        timing()->select_timing_mode(MORV_ENV::where_does_early_fsyn_run(env().get_cmp()));
        timing()->sync_timing_netlist(true, true);
        timing()->run_estimator_timing_analysis();
    }

    std::vector<CDB_ATOM_OTERM*> q;
};

// Classic retiming's gain: steps that settle within the few passes on the
// short clock periods here (the default gain of 10 overshoots them).
constexpr double RETIMING_ALPHA = 0.249;

int count_lines(const MORV_LOG_CAPTURE& log, const std::string& text)
{
    const std::vector<std::string> lines = log.lines();
    return static_cast<int>(std::count_if(lines.begin(), lines.end(),
                                          [&](const std::string& l) { return l.find(text) != std::string::npos; }));
}

}  // namespace

// ------------------------------------------------------------------ the step

TEST(OptSkewStep, ValuesAtTheBoundaries)
{
    // A critical input side against an all but free output side.
    EXPECT_EQ(MORV_OPT_SKEW::skew_step(0.0, 0.99, 0.125), 990);
    // The output side the more critical: an earlier clock.
    EXPECT_EQ(MORV_OPT_SKEW::skew_step(0.2, 0.1, 0.125), -59);
    // An unconstrained side moves nothing.
    EXPECT_EQ(MORV_OPT_SKEW::skew_step(0.0, 1.0, 0.125), 0);
    EXPECT_EQ(MORV_OPT_SKEW::skew_step(1.0, 0.0, 0.125), 0);
    // Neither side below the threshold; the threshold itself is not below.
    EXPECT_EQ(MORV_OPT_SKEW::skew_step(0.2, 0.9, 0.125), 0);
    EXPECT_EQ(MORV_OPT_SKEW::skew_step(0.125, 0.9, 0.125), 0);
    EXPECT_EQ(MORV_OPT_SKEW::skew_step(0.124, 0.9, 0.125), 400);
    // Half way critical: the imbalance counts a 32nd.
    EXPECT_EQ(MORV_OPT_SKEW::skew_step(0.5, 0.9, 0.6), 12);
}

TEST_F(OptSkewTest, RegistersAroundACarryChainMoveWithTheirGroupWhenItDecides)
{
    SKEW_NETLIST t(CDB_FAMILY_BRK);
    // Two chains of two cells; registers on the first chain's sum outputs
    // and in front of the second chain's cells.
    auto chain = [&](CDB_ATOM_OTERM* a0, CDB_ATOM_OTERM* a1, std::vector<CDB_ATOM_OTERM*>& sums) {
        CDB_ATOM_OTERM* carry = nullptr;
        for (CDB_ATOM_OTERM* a : {a0, a1}) {
            CDB_ATOM_NODE* cell = t.atom(CDB_KIND_LCELL_COMB);
            a->insert_fanout(cell->add_input_term(DB_DATA_A));
            if (carry != nullptr) carry->insert_fanout(cell->add_input_term(DB_CARRY_IN));
            sums.push_back(cell->add_output_term(DB_SUM_OUT));
            carry = cell->add_output_term(DB_CARRY_OUT);
        }
    };
    std::vector<CDB_ATOM_OTERM*> sums, fed_sums;
    CDB_ATOM_OTERM* in = t.input_pin();
    chain(in, in, sums);
    CDB_ATOM_NODE* on_sum0 = t.reg(sums[0], t.clock)->get_my_node();
    CDB_ATOM_NODE* on_sum1 = t.reg(sums[1], t.clock)->get_my_node();
    CDB_ATOM_OTERM* feeds0 = t.reg(in, t.clock);
    CDB_ATOM_OTERM* feeds1 = t.reg(in, t.clock);
    chain(feeds0, feeds1, fed_sums);
    t.analyse();
    MORV_OPT_SKEW skews(t.api());
    auto step = [&](CDB_ATOM_NODE* reg, std::vector<std::pair<CDB_ATOM_NODE*, std::pair<double, double>>> ratios) {
        PROBE::prepare(skews);
        for (const auto& [node, r] : ratios) PROBE::set_ratios(skews, node, r.first, r.second);
        return skews.compute_skew_step(reg, 0.5);
    };
    // Group input ratio below the group output ratio: the register's own.
    EXPECT_EQ(step(on_sum0, {{on_sum0, {0.2, 0.6}}, {on_sum1, {0.05, 0.3}}}), MORV_OPT_SKEW::skew_step(0.2, 0.6, 0.5));
    // Equal: the group's, here no imbalance at all.
    EXPECT_EQ(step(on_sum0, {{on_sum0, {0.1, 0.4}}, {on_sum1, {0.3, 0.1}}}), 0);
    // Above: as if fed by no chain; it feeds none either, so its own.
    EXPECT_EQ(step(on_sum0, {{on_sum0, {0.3, 0.6}}, {on_sum1, {0.4, 0.05}}}), MORV_OPT_SKEW::skew_step(0.3, 0.6, 0.5));
    EXPECT_NE(MORV_OPT_SKEW::skew_step(0.3, 0.6, 0.5), MORV_OPT_SKEW::skew_step(0.3, 0.05, 0.5));
    // A chain fed by the register: the group's unless its output side is the
    // less critical one.
    CDB_ATOM_NODE* f0 = feeds0->get_my_node();
    CDB_ATOM_NODE* f1 = feeds1->get_my_node();
    CDB_ATOM_NODE* feeder = f0;
    EXPECT_EQ(step(feeder, {{f0, {0.2, 0.6}}, {f1, {0.05, 0.02}}}), MORV_OPT_SKEW::skew_step(0.05, 0.02, 0.5));
    EXPECT_EQ(step(feeder, {{f0, {0.2, 0.6}}, {f1, {0.05, 0.1}}}), MORV_OPT_SKEW::skew_step(0.2, 0.6, 0.5));
    EXPECT_EQ(step(feeder, {{f0, {0.2, 0.6}}, {f1, {0.05, 0.05}}}), 0);
    EXPECT_NE(MORV_OPT_SKEW::skew_step(0.05, 0.02, 0.5), MORV_OPT_SKEW::skew_step(0.2, 0.6, 0.5));
}

// Each register on a chain's sum outputs groups with the others through
// the chain's head; the head is found once per chain and pass, not once
// per register.
TEST_F(OptSkewTest, ARegisteredChainIsWalkedToItsHeadOncePerPass)
{
    for (int length : {3, 40}) {
        SCOPED_TRACE(length);
        SKEW_NETLIST t(CDB_FAMILY_BRK);
        CDB_ATOM_OTERM* in = t.input_pin();
        CDB_ATOM_OTERM* carry = nullptr;
        std::vector<CDB_ATOM_NODE*> registers;
        for (int i = 0; i < length; ++i) {
            CDB_ATOM_NODE* cell = t.atom(CDB_KIND_LCELL_COMB);
            in->insert_fanout(cell->add_input_term(DB_DATA_A));
            if (carry != nullptr) carry->insert_fanout(cell->add_input_term(DB_CARRY_IN));
            registers.push_back(t.reg(cell->add_output_term(DB_SUM_OUT), t.clock)->get_my_node());
            carry = cell->add_output_term(DB_CARRY_OUT);
        }
        t.analyse();
        MORV_OPT_SKEW skews(t.api());
        for (int pass = 1; pass <= 2; ++pass) {
            PROBE::prepare(skews);
            auto output_ratio = [](size_t i) { return 0.2 + 0.01 * static_cast<double>(i); };
            for (size_t i = 0; i < registers.size(); ++i) PROBE::set_ratios(skews, registers[i], 0.1, output_ratio(i));
            for (size_t i = 0; i < registers.size(); ++i) {
                // The group's input side is the more critical one: each
                // register keeps its own ratios.
                EXPECT_EQ(skews.compute_skew_step(registers[i], 0.5),
                          MORV_OPT_SKEW::skew_step(0.1, output_ratio(i), 0.5));
            }
            EXPECT_EQ(PROBE::chain_walks(skews), pass);
        }
    }
}

TEST_F(OptSkewTest, BlocksCountOnlyTheirListedPorts)
{
    SKEW_NETLIST t(CDB_FAMILY_BRK, 300);
    CDB_ATOM_OTERM* far = t.luts(t.reg(t.input_pin(), t.clock), 3);
    // A RAM read through its address only: no input side, no step.
    CDB_ATOM_NODE* ram = t.block(CDB_KIND_RAM, DB_RAM_CLK0);
    far->insert_fanout(ram->add_input_term(DB_RAM_PORTA_ADDRESS));
    t.reg(ram->add_output_term(DB_RAM_PORTA_DATAOUT), t.clock);
    // A MAC whose output port has width 0 although a term of it has fanout.
    CDB_ATOM_NODE* mac = t.block(CDB_KIND_MAC_OUT);
    far->insert_fanout(mac->add_input_term(DB_DATA_A));
    t.reg(t.luts(mac->add_output_term(DB_DATA_OUT), 3), t.clock);
    CUT_MAC_UTIL::set_output_port_width(mac, DB_DATA_OUT, 0);
    t.analyse();

    MORV_OPT_SKEW skews(t.api());
    PROBE::prepare(skews);
    EXPECT_EQ(skews.get_ram_input_slack_ratio(ram), 1.0);
    EXPECT_LT(skews.get_ram_output_slack_ratio(ram), 1.0);
    EXPECT_EQ(skews.compute_skew_step(ram, 0.9), 0);
    EXPECT_LT(skews.get_mac_input_slack_ratio(mac), 1.0);
    EXPECT_EQ(skews.get_mac_output_slack_ratio(mac), 1.0);
    CUT_MAC_UTIL::set_output_port_width(mac, DB_DATA_OUT, 1);
    EXPECT_LT(skews.get_mac_output_slack_ratio(mac), 1.0);
    // With its write data the RAM has an input side.
    far->insert_fanout(ram->add_input_term(DB_RAM_PORTA_DATAIN));
    t.analyse();
    EXPECT_LT(skews.get_ram_input_slack_ratio(ram), 1.0);
    // The register queries refuse blocks.
    EXPECT_EQ(internal_error_of([&] { skews.get_input_slack_ratio(ram); }),
              "m_fsyn_api->get_fsyn_net_util()->is_ff(node) || node->is_lcell()");
    EXPECT_EQ(internal_error_of([&] { skews.get_mac_input_slack_ratio(ram); }),
              "node->is_mac_mult() || node->is_mac_out()");
}

// ------------------------------------------------------------------ the passes

TEST_F(OptSkewTest, TheMiddleRegisterOfAnUnevenPipelineTakesALaterClock)
{
    // In UVO the register is the logic cell that carries it.
    for (int family : {CDB_FAMILY_BRK, CDB_FAMILY_UVO}) {
        SKEW_NETLIST t(family);
        t.build_stages(3, 1);
        t.analyse();
        const int fom0 = t.timing()->get_figure_of_merit(false);
        MORV_OPT_SKEW skews(t.api());
        skews.m_alpha = RETIMING_ALPHA;
        const int best = skews.compute_optimal_skews(0.125, false, false);
        EXPECT_GT(skews.get_skew(t.node(1)->get_id()), 0) << family;
        EXPECT_LT(skews.get_skew(t.node(0)->get_id()), 0) << family;
        EXPECT_GT(best, fom0) << family;
        // Logic cells without a register and pins have no skew.
        EXPECT_EQ(skews.get_skew(t.clock->get_my_node()->get_id()), CDB_ILLEGAL_TSM_DELAY) << family;
        const CDB_ATOM_NODE* lut = (*t.node(1)->begin_iterm())->get_source()->get_my_node();
        EXPECT_EQ(skews.get_skew(lut->get_id()), CDB_ILLEGAL_TSM_DELAY) << family;
    }
}

TEST_F(OptSkewTest, AUvoRegistersInputSideHasItsLutOnlyWhenTheLutFeedsIt)
{
    SKEW_NETLIST t(CDB_FAMILY_UVO);
    t.build_stages(3, 1);
    t.analyse();
    CDB_ATOM_NODE* middle = t.node(1);
    MORV_OPT_SKEW skews(t.api());
    PROBE::prepare(skews);
    EXPECT_LT(skews.get_input_slack_ratio(middle), 0.125);
    // A synchronous load tied high takes the LUT out of the register's path.
    middle->add_input_term(DB_SYNCH_LOAD)->set_logical_vcc();
    PROBE::prepare(skews);
    EXPECT_EQ(skews.get_input_slack_ratio(middle), 1.0);
}

TEST_F(OptSkewTest, ANetlistWithoutRegistersStillMeasuresAfterPassThree)
{
    SKEW_NETLIST t(CDB_FAMILY_BRK);
    t.output_pin(t.luts(t.input_pin(), 2));
    t.analyse();
    const int fom0 = t.timing()->get_figure_of_merit(false);
    MORV_LOG_CAPTURE log(1);
    MORV_OPT_SKEW skews(t.api());
    EXPECT_EQ(skews.compute_optimal_skews(0.125, true, false), fom0);
    EXPECT_EQ(count_lines(log, "pass="), 0);
    EXPECT_EQ(count_lines(log, "Figure of merit is"), 2);
    skews.build_candidate_heap(0.125);
    EXPECT_TRUE(skews.get_candidate_heap().empty());
}

TEST_F(OptSkewTest, TheReportListsLargeSkewsAndCountsAll)
{
    SKEW_NETLIST t(CDB_FAMILY_BRK);
    t.build_stages(3, 1);
    CDB_ATOM_NODE* idle = t.flop(t.input_pin())->get_my_node();  // no fanout: skew 0
    t.analyse();
    MORV_LOG_CAPTURE log(100);
    MORV_OPT_SKEW skews(t.api());
    skews.m_alpha = RETIMING_ALPHA;
    skews.compute_optimal_skews(0.125, true, false);
    ASSERT_EQ(skews.get_skew(idle->get_id()), 0);
    EXPECT_EQ(count_lines(log, "**** ALL SKEWS ****"), 1);
    EXPECT_EQ(count_lines(log, "(TYPE:FF)"), 3);
    EXPECT_EQ(count_lines(log, "NODE <" + std::to_string(idle->get_id()) + ">"), 0);
    EXPECT_EQ(count_lines(log, "NUMBER OF NODES: 4"), 1);
}

TEST_F(OptSkewTest, ThePassesEndOnAFallingFigureOrSmallSteps)
{
    SKEW_NETLIST t(CDB_FAMILY_BRK);
    t.build_stages(3, 1);
    t.analyse();
    const int fom0 = t.timing()->get_figure_of_merit(false);
    {
        // Steps far too large: the figure measured after pass 3 falls, which
        // alone ends the passes here, with the figure before the call.
        MORV_LOG_CAPTURE log(1);
        MORV_OPT_SKEW skews(t.api());
        skews.m_alpha = 1000.0;
        skews.m_exit = 0.0;
        EXPECT_EQ(skews.compute_optimal_skews(0.125, true, false), fom0);
        EXPECT_EQ(count_lines(log, "Figure of merit is"), 2);
        EXPECT_EQ(count_lines(log, "pass=004"), 0);
    }
    {
        // Small steps end the passes from the given pass on.
        MORV_LOG_CAPTURE log(1);
        MORV_OPT_SKEW skews(t.api());
        skews.m_alpha = RETIMING_ALPHA;
        skews.m_exit = 1e9;
        skews.m_min_passes = 2;
        skews.compute_optimal_skews(0.125, true, false);
        EXPECT_EQ(count_lines(log, " pass=002"), 1);
        EXPECT_EQ(count_lines(log, "pass=003"), 0);
        // No figure measured but the one before.
        EXPECT_EQ(count_lines(log, "Figure of merit is"), 1);
    }
    {
        // All five passes: the figure is measured before and after pass 3
        // only, and the best of the two returned.
        MORV_LOG_CAPTURE log(1);
        MORV_OPT_SKEW skews(t.api());
        skews.m_alpha = RETIMING_ALPHA;
        skews.m_exit = 0.0;
        EXPECT_GT(skews.compute_optimal_skews(0.125, true, false), fom0);
        EXPECT_EQ(count_lines(log, "*pass=003"), 1);
        EXPECT_EQ(count_lines(log, " pass=004"), 1);
        EXPECT_EQ(count_lines(log, "Figure of merit is"), 2);
        EXPECT_EQ(count_lines(log, "lb_ret_params(alpha=0.249000, exit=0.000000, beta=0.300000)"), 1);
        // Each pass asks the timing of the pass before: the steps shrink.
        std::vector<std::string> steps;
        for (const std::string& line : log.lines())
            if (line.find("pass=00") != std::string::npos) steps.push_back(line.substr(line.find(':')));
        ASSERT_EQ(steps.size(), 5u);
        EXPECT_NE(steps[0], steps[1]);
    }
}

TEST_F(OptSkewTest, ASinglePassMovesAtGainTenAndLeavesTheCallersGain)
{
    SKEW_NETLIST t(CDB_FAMILY_BRK);
    t.build_stages(3, 1);
    t.analyse();
    const int fom0 = t.timing()->get_figure_of_merit(false);
    MORV_OPT_SKEW reference(t.api());
    PROBE::prepare(reference);
    const int step = reference.compute_skew_step(t.node(1), 0.125);
    ASSERT_GT(step, 0);

    MORV_OPT_SKEW skews(t.api());
    skews.m_alpha = 0.249;  // classic retiming's gain
    const long analyses = tdc_get_accessories()->get_num_analyses();
    EXPECT_EQ(skews.compute_optimal_skews(0.125, false, true), fom0);
    EXPECT_EQ(tdc_get_accessories()->get_num_analyses(), analyses);
    EXPECT_EQ(skews.get_skew(t.node(1)->get_id()), static_cast<int>(step * 10.0));
    EXPECT_EQ(skews.m_alpha, 0.249);
    // A normal call uses the caller's gain.
    skews.restore_skews();
    skews.compute_optimal_skews(0.125, true, false);
    EXPECT_LT(skews.get_skew(t.node(1)->get_id()), static_cast<int>(step * 10.0));
}

TEST_F(OptSkewTest, ARestoreGivesEveryClockEdgeItsDelaysBack)
{
    SKEW_NETLIST t(CDB_FAMILY_BRK);
    t.build_stages(3, 1);
    t.analyse();
    // A clock edge whose minimum and maximum delays differ gets both back.
    for (TDB_EDGE* e : tdc_get_accessories()->get_tdb_netlist()->edge_table())
        if (e != nullptr && e->is_clock() && e->get_dst_node()->get_atom_id() == static_cast<int>(t.node(2)->get_id()))
            e->get_delay()->set_delay(0, 40, 35, 20, 25);
    t.timing()->perform_timing_analysis();
    const int fom0 = t.timing()->get_figure_of_merit(false);
    const std::vector<std::vector<int>> before = t.clock_edge_delays();

    MORV_OPT_SKEW skews(t.api());
    skews.m_alpha = RETIMING_ALPHA;
    EXPECT_GE(skews.compute_optimal_skews(0.125, true, false), fom0);
    EXPECT_EQ(t.clock_edge_delays(), before);
    EXPECT_GT(skews.get_skew(t.node(1)->get_id()), 0);  // the skews stay known
    EXPECT_FALSE(skews.has_applied_skews());
    t.timing()->perform_timing_analysis();
    EXPECT_EQ(t.timing()->get_figure_of_merit(false), fom0);

    // Left applied, they come off on request, from before the first of two calls.
    skews.compute_optimal_skews(0.125, false, false);
    skews.compute_optimal_skews(0.125, false, false);
    EXPECT_NE(t.clock_edge_delays(), before);
    EXPECT_TRUE(skews.restore_skews());
    EXPECT_EQ(t.clock_edge_delays(), before);
    EXPECT_TRUE(t.timing()->is_refresh_pending());
    EXPECT_FALSE(skews.restore_skews());
}

TEST_F(OptSkewTest, ProtectedRegistersKeepSkewZero)
{
    SKEW_NETLIST t(CDB_FAMILY_BRK);
    t.build_stages(3, 1);
    CDB_ATOM_ASSIGNMENTS dont_touch;
    dont_touch.dont_touch = true;
    t.node(1)->set_assignments(dont_touch);
    t.analyse();
    TDB_EDGE* clock_edge = nullptr;
    for (TDB_EDGE* e : tdc_get_accessories()->get_tdb_netlist()->edge_table())
        if (e != nullptr && e->is_clock() && e->get_dst_node()->get_atom_id() == static_cast<int>(t.node(1)->get_id()))
            clock_edge = e;
    ASSERT_NE(clock_edge, nullptr);
    clock_edge->get_delay()->set_delay(0, 40, 35, 20, 25);
    MORV_OPT_SKEW skews(t.api());
    skews.m_alpha = RETIMING_ALPHA;
    skews.compute_optimal_skews(0.125, false, false);
    EXPECT_EQ(skews.get_skew(t.node(1)->get_id()), 0);
    EXPECT_NE(skews.get_skew(t.node(0)->get_id()), 0);
    // Its clock edge takes no step, but one delay in every place.
    EXPECT_EQ(clock_edge->get_min_ic_delay(), 40);
    EXPECT_EQ(clock_edge->get_delay()->get_delay(0, TDB_MAX, 1), 40);
}

TEST_F(OptSkewTest, MacBlocksMoveOnlyBeforePlacement)
{
    SKEW_NETLIST t(CDB_FAMILY_BRK, 600);
    CDB_ATOM_NODE* mac = t.block(CDB_KIND_MAC_OUT);
    t.luts(t.reg(t.input_pin(), t.clock), 3)->insert_fanout(mac->add_input_term(DB_DATA_A));
    t.reg(mac->add_output_term(DB_DATA_OUT), t.clock);
    t.analyse();
    MORV_OPT_SKEW skews(t.api());
    skews.m_alpha = RETIMING_ALPHA;
    skews.compute_optimal_skews(0.125, true, false);
    EXPECT_EQ(skews.get_skew(mac->get_id()), CDB_ILLEGAL_TSM_DELAY);
    t.run_only(FIT_EARLY_FSYN_FLOW);
    skews.compute_optimal_skews(0.125, true, false);
    EXPECT_GT(skews.get_skew(mac->get_id()), 0);
    // ... unless protected from skew retiming.
    CDB_ATOM_ASSIGNMENTS dont_touch;
    dont_touch.dont_touch = true;
    mac->set_assignments(dont_touch);
    skews.compute_optimal_skews(0.125, true, false);
    EXPECT_EQ(skews.get_skew(mac->get_id()), CDB_ILLEGAL_TSM_DELAY);
}

TEST_F(OptSkewTest, ShiftRegisterRamsMoveOnlyForTheirFamilyBeforePlacementWithTheSwitchOn)
{
    for (int family : {CDB_FAMILY_OBRAN, CDB_FAMILY_BRK}) {
        SKEW_NETLIST t(family, 600);
        CDB_ATOM_NODE* ram = t.block(CDB_KIND_RAM, DB_RAM_CLK0);
        t.luts(t.reg(t.input_pin(), t.clock), 3)->insert_fanout(ram->add_input_term(DB_RAM_PORTA_DATAIN));
        t.reg(ram->add_output_term(DB_RAM_PORTB_DATAOUT), t.clock);
        t.analyse();
        t.run_only(FIT_EARLY_FSYN_FLOW);
        MORV_OPT_SKEW skews(t.api());
        skews.m_alpha = RETIMING_ALPHA;
        std::string warnings = not_available_warnings_of([&] { skews.compute_optimal_skews(0.125, true, false); });
        EXPECT_EQ(skews.get_skew(ram->get_id()), CDB_ILLEGAL_TSM_DELAY);
        if (family != CDB_FAMILY_OBRAN) {
            EXPECT_EQ(skews.get_shift_reg_manager(), nullptr);
            EXPECT_EQ(warnings, "");
            continue;
        }
        EXPECT_EQ(warnings, "");
        ASSERT_NE(skews.get_shift_reg_manager(), nullptr);
        skews.get_shift_reg_manager()->script_shift_register(ram, 1);
        skews.compute_optimal_skews(0.125, true, false);
        EXPECT_GT(skews.get_skew(ram->get_id()), 0);
        t.run_only(LATE_FSYN_FLOW);
        skews.compute_optimal_skews(0.125, true, false);
        EXPECT_EQ(skews.get_skew(ram->get_id()), CDB_ILLEGAL_TSM_DELAY);
        t.run_only(FIT_EARLY_FSYN_FLOW);
        cfg_set_value("fsyn_shift_reg_opts", "off");
        skews.compute_optimal_skews(0.125, true, false);
        EXPECT_EQ(skews.get_shift_reg_manager(), nullptr);
        EXPECT_EQ(skews.get_skew(ram->get_id()), CDB_ILLEGAL_TSM_DELAY);
    }
}

// ------------------------------------------------------------------ the estimator

TEST_F(OptSkewTest, EstimatorOffsetsGoToTheRegistersOfEachClockAndShiftRegistersAreSetWhole)
{
    SKEW_NETLIST t(CDB_FAMILY_BRK);
    CDB_ATOM_OTERM* clock1 = t.input_pin();
    CDB_ATOM_NODE* mac = t.block(CDB_KIND_MAC_MULT, DB_CLOCK, 0);
    CDB_ATOM_ITERM* mac_clock0 = mac->get_input_term_by_type(DB_CLOCK, 0);
    CDB_ATOM_ITERM* mac_clock1 = mac->add_input_term(DB_CLOCK, 1);
    clock1->insert_fanout(mac_clock1);
    t.reg(t.input_pin(), t.clock)->insert_fanout(mac->add_input_term(DB_DATA_A));
    CDB_ATOM_OTERM* observable_a = mac->add_output_term(DB_MAC_OBSERVABLE_DATAA);
    CDB_ATOM_OTERM* data_out = mac->add_output_term(DB_DATA_OUT);
    t.reg(data_out, t.clock);
    CUT_MAC_UTIL::set_input_port_clock(mac, DB_DATA_A, 1);
    CUT_MAC_UTIL::set_output_port_clock(mac, DB_DATA_OUT, 0);
    CDB_ATOM_NODE* ram = t.block(CDB_KIND_RAM, DB_RAM_CLK0);
    CDB_ATOM_OTERM* observable_in = ram->add_output_term(DB_RAM_OBSERVABLE_PORTA_DATAIN);
    CDB_ATOM_OTERM* ram_out = ram->add_output_term(DB_RAM_PORTB_DATAOUT);
    t.reg(ram_out, t.clock);
    t.use_estimator();
    MORV_TIMING::NEVRA* nevra = t.timing()->get_nevra();

    MORV_OPT_SKEW skews(t.api());
    PROBE::prepare(skews);
    PROBE::estimator_step(skews, mac, mac_clock1, 7, false);
    EXPECT_EQ(*nevra->get_clock_offsets(observable_a), std::vector<int>({7, 7, 7, 7}));
    EXPECT_EQ(nevra->get_clock_offsets(data_out), nullptr);
    PROBE::estimator_step(skews, mac, mac_clock0, -5, false);
    PROBE::estimator_step(skews, mac, mac_clock0, -5, false);
    EXPECT_EQ(*nevra->get_clock_offsets(data_out), std::vector<int>({-10, -10, -10, -10}));
    EXPECT_EQ(*nevra->get_clock_offsets(observable_a), std::vector<int>({7, 7, 7, 7}));

    PROBE::set_skew(skews, ram, -40);
    PROBE::estimator_step(skews, ram, ram->get_input_term_by_type(DB_RAM_CLK0), -40, true);
    EXPECT_EQ(*nevra->get_clock_offsets(observable_in), std::vector<int>({0, 0, 0, 0}));
    EXPECT_EQ(*nevra->get_clock_offsets(ram_out), std::vector<int>({0, 0, -40, -40}));
    PROBE::set_skew(skews, ram, 25);
    PROBE::estimator_step(skews, ram, ram->get_input_term_by_type(DB_RAM_CLK0), 65, true);
    EXPECT_EQ(*nevra->get_clock_offsets(observable_in), std::vector<int>({25, 25, 0, 0}));
    EXPECT_EQ(*nevra->get_clock_offsets(ram_out), std::vector<int>({0, 0, 0, 0}));

    // A restoring computation leaves no offset at all.
    skews.compute_optimal_skews(0.125, true, false);
    EXPECT_EQ(nevra->get_num_clock_offsets(), 0u);
    t.timing()->switch_to_tdc_mode(false);
}

TEST_F(OptSkewTest, TheEstimatorPassesAgreeWithTheAnalysersOnTheSameDelays)
{
    // Before placement the early model gives the analyser the estimator's
    // delays: the two back ends time alike in ZEPLA.
    std::vector<int> skew[2];
    for (bool estimator : {false, true}) {
        SKEW_NETLIST t(CDB_FAMILY_ZEPLA);
        t.build_stages(3, 1);
        t.run_only(FIT_EARLY_FSYN_FLOW);
        t.analyse();
        if (estimator) t.use_estimator();
        else t.timing()->perform_pre_placement_timing_analysis(false);
        const int fom0 = t.timing()->get_figure_of_merit(false);
        MORV_OPT_SKEW skews(t.api());
        skews.m_alpha = RETIMING_ALPHA;
        EXPECT_GE(skews.compute_optimal_skews(0.125, true, false), fom0);
        for (size_t i = 0; i < 3; ++i) skew[estimator].push_back(skews.get_skew(t.node(i)->get_id()));
        if (estimator) t.timing()->switch_to_tdc_mode(false);
    }
    EXPECT_EQ(skew[0], skew[1]);
    EXPECT_GT(skew[0][1], 0);
}

// ------------------------------------------------------------------ heap and mobilities

TEST_F(OptSkewTest, TheHeapGivesRamsFirstThenTheLargestSkews)
{
    SKEW_NETLIST t(CDB_FAMILY_BRK);
    CDB_ATOM_NODE* a = t.reg(t.input_pin(), t.clock)->get_my_node();
    CDB_ATOM_NODE* b = t.reg(t.input_pin(), t.clock)->get_my_node();
    CDB_ATOM_NODE* c = t.reg(t.input_pin(), t.clock)->get_my_node();
    CDB_ATOM_NODE* ram = t.block(CDB_KIND_RAM, DB_RAM_CLK0);
    t.analyse();
    MORV_OPT_SKEW skews(t.api());
    skews.build_candidate_heap(0.125);
    EXPECT_TRUE(skews.get_candidate_heap().empty());  // nothing computed yet
    PROBE::prepare(skews);
    PROBE::set_skew(skews, a, -80);
    PROBE::set_skew(skews, b, 80);
    PROBE::set_skew(skews, c, 900);
    PROBE::set_skew(skews, ram, 5);
    skews.build_candidate_heap(0.125);
    std::vector<const CDB_ATOM_NODE*> order;
    for (MORV_OPT_SKEW::CANDIDATE_HEAP& heap = skews.get_candidate_heap(); !heap.empty(); heap.pop())
        order.push_back(heap.top().node);
    EXPECT_EQ(order, (std::vector<const CDB_ATOM_NODE*>{ram, c, b, a}));
}

TEST_F(OptSkewTest, TheHeapJudgesCriticalityOnTheTimingItIsBuiltOn)
{
    SKEW_NETLIST t(CDB_FAMILY_BRK);
    t.build_stages(3, 1);
    t.analyse();
    MORV_OPT_SKEW skews(t.api());
    skews.compute_optimal_skews(0.125, true, false);
    auto first_limited = [&] {
        skews.build_candidate_heap(0.125);
        for (MORV_OPT_SKEW::CANDIDATE_HEAP& heap = skews.get_candidate_heap(); !heap.empty(); heap.pop())
            if (heap.top().node == t.node(0)) return heap.top().is_limited;
        return false;
    };
    EXPECT_TRUE(first_limited());
    // The long stage now starts at the input pin: the first register
    // drives nothing.
    t.q[0]->get_first_fanout()->insert_fanin(t.node(0)->get_input_term_by_type(DB_DATAIN)->get_source());
    t.analyse();
    EXPECT_FALSE(first_limited());
}

TEST_F(OptSkewTest, MobilitiesShrinkByTheirRateAndComeBackWhole)
{
    SKEW_NETLIST t(CDB_FAMILY_BRK);
    CDB_ATOM_NODE* reg = t.reg(t.input_pin(), t.clock)->get_my_node();
    MORV_OPT_SKEW skews(t.api());
    EXPECT_EQ(skews.get_fwd_mobility(reg), 1.0);
    EXPECT_EQ(PROBE::mobility_entries(skews), 0u);  // asking adds nothing
    EXPECT_DOUBLE_EQ(skews.reduce_fwd_mobility(reg, 0.2), 0.2);
    EXPECT_DOUBLE_EQ(skews.reduce_fwd_mobility(reg, 0.2), 0.04);
    EXPECT_DOUBLE_EQ(skews.get_fwd_mobility(reg), 0.04);
    EXPECT_EQ(skews.get_bwd_mobility(reg), 1.0);
    EXPECT_EQ(skews.reset_fwd_mobility(reg), 1.0);
    EXPECT_EQ(skews.get_fwd_mobility(reg), 1.0);
    EXPECT_EQ(internal_error_of([&] { skews.reduce_bwd_mobility(nullptr, 0.2); }), "node");
}

TEST_F(OptSkewTest, TheHeapLeavesOutARegisterDeletedSinceTheComputation)
{
    SKEW_NETLIST t(CDB_FAMILY_BRK);
    t.build_stages(3, 1);
    CDB_ATOM_NODE* extra = t.reg(t.input_pin(), t.clock)->get_my_node();
    const uint32_t extra_id = extra->get_id();
    t.analyse();
    MORV_OPT_SKEW skews(t.api());
    skews.compute_optimal_skews(0.125, true, false);
    t.api()->delete_node(extra);
    skews.build_candidate_heap(0.125);
    MORV_OPT_SKEW::CANDIDATE_HEAP& heap = skews.get_candidate_heap();
    EXPECT_EQ(heap.size(), 3u);
    for (; !heap.empty(); heap.pop()) EXPECT_NE(heap.top().node->get_id(), extra_id);
}

TEST_F(OptSkewTest, TheHeapLeavesOutALogicCellThatLostItsRegister)
{
    SKEW_NETLIST t(CDB_FAMILY_UVO);
    t.build_stages(3, 1);
    t.analyse();
    MORV_OPT_SKEW skews(t.api());
    skews.compute_optimal_skews(0.125, true, false);
    t.q[1]->remove_all_fanouts();
    skews.build_candidate_heap(0.125);
    MORV_OPT_SKEW::CANDIDATE_HEAP& heap = skews.get_candidate_heap();
    EXPECT_EQ(heap.size(), 2u);
    for (; !heap.empty(); heap.pop()) EXPECT_NE(heap.top().node, t.node(1));
}

// ------------------------------------------------------------------ retiming-aware iterations

TEST_F(OptSkewTest, ARetimingAwareIterationTakesItsSkewsOffOnEitherBackEnd)
{
    for (bool estimator : {false, true}) {
        SKEW_NETLIST t(CDB_FAMILY_ZEPLA);
        t.build_stages(3, 1);
        t.run_only(FIT_EARLY_FSYN_FLOW);
        t.analyse();
        if (estimator) t.use_estimator();
        const int fom0 = t.timing()->get_figure_of_merit(false);
        const std::vector<std::vector<int>> edges = t.clock_edge_delays();
        {
            MORV_RTM_AWARE_SKEWS skews(t.api(), 0.125);
            EXPECT_TRUE(skews.get_opt_skew().has_applied_skews()) << estimator;
            EXPECT_NE(t.timing()->get_figure_of_merit(false), fom0) << estimator;
        }
        EXPECT_TRUE(t.timing()->is_refresh_pending());
        t.timing()->update_timing();
        EXPECT_EQ(t.timing()->get_figure_of_merit(false), fom0) << estimator;
        // Taken off once only.
        MORV_OPT_SKEW again(t.api());
        again.compute_optimal_skews(0.125, false, false);
        EXPECT_TRUE(again.restore_skews());
        EXPECT_FALSE(again.restore_skews());
        t.timing()->update_timing();
        EXPECT_EQ(t.timing()->get_figure_of_merit(false), fom0) << estimator;
        EXPECT_EQ(t.clock_edge_delays(), edges);
        if (!estimator) continue;
        for (const auto& q : t.q) {
            const std::vector<int>* offsets = t.timing()->get_nevra()->get_clock_offsets(q);
            if (offsets != nullptr) {
                EXPECT_EQ(*offsets, std::vector<int>({0, 0, 0, 0}));
            }
        }
        t.timing()->switch_to_tdc_mode(false);
    }
}

// Skews left applied belong to the netlist they were computed on: a saved
// netlist brought back carries none of them, whatever the back end, and
// taking them off afterwards finds nothing to take off.
TEST_F(OptSkewTest, ARestoredNetlistKeepsNoSkewOfTheNetlistItReplaced)
{
    for (bool estimator : {false, true}) {
        SKEW_NETLIST t(CDB_FAMILY_ZEPLA);
        t.build_stages(3, 1);
        t.run_only(FIT_EARLY_FSYN_FLOW);
        t.analyse();
        if (estimator) t.use_estimator();
        const int fom0 = t.timing()->get_figure_of_merit(false);
        auto offsets = [&t, estimator] { return estimator ? t.timing()->get_nevra()->get_num_clock_offsets() : 0u; };
        const int saved = t.api()->save_state();
        MORV_OPT_SKEW skews(t.api());
        skews.compute_optimal_skews(0.125, false, false);
        ASSERT_TRUE(skews.has_applied_skews()) << estimator;
        ASSERT_NE(t.timing()->get_figure_of_merit(false), fom0) << estimator;

        ASSERT_TRUE(t.api()->restore_state(saved));
        t.timing()->sync_timing_netlist(true, true);
        t.timing()->update_timing();
        EXPECT_EQ(t.timing()->get_figure_of_merit(false), fom0) << estimator;
        EXPECT_EQ(offsets(), 0u);
        EXPECT_FALSE(skews.restore_skews()) << estimator;
        EXPECT_EQ(offsets(), 0u);
        t.timing()->update_timing();
        EXPECT_EQ(t.timing()->get_figure_of_merit(false), fom0) << estimator;
        if (estimator) t.timing()->switch_to_tdc_mode(false);
    }
}

}  // namespace morv_opt_skew_test
