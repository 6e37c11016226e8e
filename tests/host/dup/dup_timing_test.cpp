// The timing-driven mode of duplication on small placed fixtures whose
// critical connections the test scripts.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <string>
#include <tuple>

#include "dup_test_run.h"
#include "log_capture.h"

#include "morv/core/family/morv_family_traits.h"
#include "morv/dup/morv_rep_family.h"

namespace dup_timing_test {

namespace {

const uint64_t AND2 = 0x8;

int count_lines(const MORV_LOG_CAPTURE& log, const std::string& text)
{
    const std::vector<std::string> lines = log.lines();
    return static_cast<int>(std::count_if(
        lines.begin(), lines.end(), [&](const std::string& line) { return line.find(text) != std::string::npos; }));
}

// a, b (through buffers) -> s -> t1 (far away, critical) and t2 (beside s); c feeds both sinks.
// With a register source, s is a register whose data input g reads a and b.
// Downstream, t1 feeds a LUT u and the clock buffer k of a register r
// instead of its output.
struct SPREAD
{
    FIXTURE_NETLIST fixture{CDB_FAMILY_BRK};
    std::unique_ptr<DUP_RUN> run;

    explicit SPREAD(bool register_source = false, bool locked = false, int fillers = 0, bool downstream = false)
    {
        // Buffers, not pins, sit at (10, 10): a LAB holding a pin takes no
        // logic. The user keeps them as they are, so that only s is copied.
        CDB_ATOM_OTERM* a = fixture.lut("ia", {fixture.input("a")}, 0x2);
        CDB_ATOM_OTERM* b = fixture.lut("ib", {fixture.input("b")}, 0x2);
        for (CDB_ATOM_OTERM* buffer : {a, b}) {
            CDB_ATOM_ASSIGNMENTS kept = buffer->get_my_node()->get_assignments();
            kept.dont_touch = true;
            buffer->get_my_node()->set_assignments(kept);
        }
        CDB_ATOM_OTERM* c = fixture.input("c");
        CDB_ATOM_OTERM* s = nullptr;
        if (register_source) {
            CDB_ATOM_OTERM* clk = fixture.input("clk");
            s = fixture.reg("s", fixture.lut("g", {a, b}, AND2), clk);
        } else {
            s = fixture.lut("s", {a, b}, AND2);
        }
        if (locked) FIXTURE_NETLIST::lock_to_region(s->get_my_node(), 3, 3, 6, 6);
        CDB_ATOM_OTERM* t1 = fixture.lut("t1", {s, c}, 0x6);
        if (downstream) {
            fixture.output("o1", fixture.lut("u", {t1}, 0x2));
            fixture.output("or", fixture.reg("r", c, fixture.clock_buffer("k", t1)));
        } else {
            fixture.output("o1", t1);
        }
        fixture.output("o2", fixture.lut("t2", {s, c}, 0xE));
        for (int i = 0; i < fillers; ++i) fixture.output(numbered("f", i), fixture.lut("fl", {c}, 0x1));
        run = std::make_unique<DUP_RUN>(fixture);
    }
    CDB_ATOM_NODE* node(const char* name) { return run->find(name); }
    CDB_ATOM_ITERM* sink(const char* name) { return node(name)->get_input_term_by_type(DB_DATA_A); }
    CDB_ATOM_NODE* driver_of(const char* name) { return sink(name)->get_source()->get_my_node(); }
    // s sits at (2, 2), its inputs at (10, 10), t1 at (12, 12), the rest by s.
    void place(int sx = 2, int sy = 2)
    {
        run->place(node("ia"), 10, 10);
        run->place(node("ib"), 10, 10);
        if (CDB_ATOM_NODE* g = node("g")) run->place(g, 10, 10);
        run->place(node("s"), sx, sy);
        run->place(node("t1"), 12, 12);
        run->place_rest(2, 3);
    }
    void make_critical()
    {
        run->slack().set(sink("t1"), -300, 0.0);
        CDB_ATOM_NODE* cone = node("g") != nullptr ? node("g") : node("s");
        run->slack().set(cone->get_input_term_by_type(DB_DATA_A), -300, 0.0);
        run->slack().set(cone->get_input_term_by_type(DB_DATA_B), -300, 0.0);
    }
    std::unique_ptr<MORV_REP> make_rep(bool registers = false, const MORV_PARAMETER_MAP& params = {})
    {
        m_params = params;
        auto rep = std::make_unique<MORV_REP_BRK>(run->api(), &m_params, registers);
        int ni = -1, hci = -1;
        rep->set_default_pass_parameters(0, ni, hci);
        return rep;
    }

private:
    MORV_PARAMETER_MAP m_params;
};

}  // namespace

TEST(DupTiming, NothingCriticalKeepsTheNetlistAndTheThresholdOfNoDelays)
{
    SPREAD n;
    n.place();
    const size_t atoms = n.run->netlist().get_node_count();
    auto rep = n.make_rep();
    EXPECT_EQ(rep->do_iter(), 0);
    EXPECT_EQ(rep->get_threshold(), 1000000);
    EXPECT_DOUBLE_EQ(rep->get_threshold_double(), 1e6);
    EXPECT_EQ(n.run->netlist().get_node_count(), atoms);
}

// The region query answers corners of -1 for a free node: the copy must
// still be placed, next to the critical sink, and keep the function.
TEST(DupTiming, FreeDriverIsCopiedNearItsFarCriticalSinkAndKeepsTheFunction)
{
    SPREAD n;
    n.place();
    n.make_critical();
    const std::vector<unsigned> before = n.run->trace(64);
    CDB_ATOM_NODE* s = n.node("s");
    MORV_LOG_CAPTURE log(100);
    auto rep = n.make_rep();
    ASSERT_EQ(rep->do_iter(), 1);
    CDB_ATOM_NODE* copy = n.driver_of("t1");
    ASSERT_NE(copy, s);
    EXPECT_EQ(n.driver_of("t2"), s);
    const MORV_LOC at = n.run->location_of(copy);
    EXPECT_GE(at.x, 9);
    EXPECT_LE(at.x, 13);
    EXPECT_GE(at.y, 9);
    EXPECT_LE(at.y, 13);
    EXPECT_EQ(count_lines(log, "performing combintl duplication"), 1);
    EXPECT_EQ(count_lines(log, "feasible region: (9, 9) (13, 13)"), 1);
    EXPECT_EQ(count_lines(log, "adopting iterm: "), 1);
    EXPECT_EQ(n.run->trace(64), before);
    // The stand-in times the copy where the component put it.
    n.run->env().analyse_timing();
    EXPECT_EQ(copy->get_lab_x(), at.x);
    EXPECT_EQ(copy->get_lab_y(), at.y);
}

// A connection routed on a global network of its own gains nothing from a
// nearer driver; the one global kind a LAB input carries is copied as a
// plain signal is.
TEST(DupTiming, ConnectionsOnGlobalNetworksAreNotCopiedForTheLabInputKindIs)
{
    for (const auto& [global, copies] : {std::pair<int, int>{1, 0}, {2, 1}, {3, 0}}) {
        SPREAD n;
        n.place();
        n.make_critical();
        n.sink("t1")->set_global(global);
        auto rep = n.make_rep();
        EXPECT_EQ(rep->do_iter(), copies) << global;
        EXPECT_EQ(n.driver_of("t1") != n.node("s"), copies == 1) << global;
    }
}

TEST(DupTiming, LockedDriverIsCopiedInsideItsRegion)
{
    SPREAD n(false, true);
    n.place(4, 4);
    n.make_critical();
    MORV_LOG_CAPTURE log(100);
    auto rep = n.make_rep();
    ASSERT_EQ(rep->do_iter(), 1);
    EXPECT_EQ(count_lines(log, "feasible region: (6, 6) (6, 6)"), 1);
    const MORV_LOC at = n.run->location_of(n.driver_of("t1"));
    EXPECT_EQ(at.x, 6);
    EXPECT_EQ(at.y, 6);
}

// The threshold comes from the routing delays of the critical connections,
// with the driver on the chip's edge column: a threshold computed without
// the sink's location, or one that reads column 0 as no location, differs.
TEST(DupTiming, ThresholdIsHalfTheMeanDeviationOfTheCriticalDelaysPlusOne)
{
    SPREAD n;
    n.place(0, 2);
    n.make_critical();
    auto rep = n.make_rep();
    rep->collect_critical_iterms();
    rep->compute_delay_threshold();
    MORV_API* api = n.run->api();
    const int drive = api->get_oterm_fl_value(n.sink("t1")->get_source());
    const double in = api->get_routing_delay(10, 10, 0, 2, drive);   // ia -> s and ib -> s
    const double out = api->get_routing_delay(0, 2, 12, 12, drive);  // s -> t1
    ASSERT_NE(in, out) << "the fixture needs two different delays";
    const double mean = (2 * in + out) / 3;
    const double deviation = (2 * std::fabs(in - mean) + std::fabs(out - mean)) / 3;
    EXPECT_DOUBLE_EQ(rep->get_threshold_double(), 0.5 * deviation + 1.0);
    EXPECT_EQ(rep->get_threshold(), static_cast<int>(0.5 * deviation + 1.0));
}

// A register s at (2, 2) clocked by clk drives t at (12, 12); a register w
// clocked by clk2 sits at (7, 7); the pins and outputs share (4, 4), the
// first atom of the netlist (clk) among them. A LAB scores less for every
// cell it holds beyond LM, for every input beyond IM, and by WP for a
// LAB-wide kind of input (the clock) it already carries: a usage grid left
// empty, a lost location or the wrong LAB-wide kinds all change a factor.
TEST(DupTiming, CrowdedLabsAndLabsOfTheSameClockKindScoreLess)
{
    FIXTURE_NETLIST f(CDB_FAMILY_BRK);
    CDB_ATOM_OTERM* clk = f.input("clk");
    CDB_ATOM_OTERM* s = f.reg("s", f.input("d"), clk);
    f.output("o", f.lut("t", {s}, 0x2));
    f.output("ow", f.reg("w", f.input("e"), f.input("clk2")));
    DUP_RUN run(f);
    run.place(run.find("s"), 2, 2);
    run.place(run.find("t"), 12, 12);
    run.place(run.find("w"), 7, 7);
    run.place_rest(4, 4);
    const auto factors = [&](const MORV_PARAMETER_MAP& params) {
        MORV_REP_BRK rep(run.api(), &params, true);
        rep.collect_critical_iterms();
        rep.build_usage_grids();
        rep.collect_fanin_records(run.find("t")->get_input_term_by_type(DB_DATA_A));
        std::map<std::pair<int, int>, double> by_lab;
        for (const auto& xy : {std::pair{9, 9}, {12, 12}, {2, 2}, {7, 7}, {4, 4}})
            by_lab[xy] = rep.get_location_factor(xy.first, xy.second);
        return [by_lab](int x, int y) { return by_lab.at({x, y}); };
    };
    // Cells only (and the clock kind): LM 1, LP 0.5.
    const auto at = factors({{"LM", "1"}, {"LP", "0.5"}, {"IM", "1000"}, {"WP", "0.25"}});
    EXPECT_DOUBLE_EQ(at(9, 9), 1.0);
    EXPECT_DOUBLE_EQ(at(12, 12), 0.5);
    EXPECT_DOUBLE_EQ(at(2, 2), 0.5);
    EXPECT_DOUBLE_EQ(at(7, 7), 0.5 * 0.25) << "w's LAB carries a clock already";
    EXPECT_DOUBLE_EQ(at(4, 4), std::pow(0.5, 6)) << "four pins and two outputs";
    // Inputs only: IM 0, IP 0.5. A copy of s brings d and clk into every LAB
    // but their own and s's; t's LAB already takes s, w's e and clk2, s's d
    // and clk, the pins' LAB t and w.
    const auto by_inputs = factors({{"LM", "1000"}, {"IM", "0"}, {"IP", "0.5"}, {"WP", "1"}});
    EXPECT_DOUBLE_EQ(by_inputs(9, 9), 0.25);
    EXPECT_DOUBLE_EQ(by_inputs(12, 12), 0.125);
    EXPECT_DOUBLE_EQ(by_inputs(2, 2), 0.25);
    EXPECT_DOUBLE_EQ(by_inputs(7, 7), 0.0625);
    EXPECT_DOUBLE_EQ(by_inputs(4, 4), 0.25);
}

// s's inputs are critical, its connection to t1 more so: they are still
// decided before it, since its score takes over what they gained.
TEST(DupTiming, ADriversInputsAreDecidedBeforeTheConnectionItDrives)
{
    SPREAD n;
    n.place();
    n.make_critical();
    for (int port : {DB_DATA_A, DB_DATA_B}) n.run->slack().set(n.node("s")->get_input_term_by_type(port), -100, 0.05);
    auto rep = n.make_rep();
    rep->collect_critical_iterms();
    const MORV_REP_CANDIDATE* connection = rep->find_candidate(n.sink("t1"));
    ASSERT_NE(connection, nullptr);
    for (int port : {DB_DATA_A, DB_DATA_B})
        EXPECT_LT(rep->find_candidate(n.node("s")->get_input_term_by_type(port)), connection) << port;
}

// The gains of one iteration, worked out by hand. s's inputs sit at
// (10, 10), 16 hops from s, and t1 at (12, 12), 20 hops from s, where no
// logic cell may go. A copy in the inputs' LAB gains the intra-LAB route
// over their old one plus the four hops to t1 over s's route: any other LAB
// of the region needs two routes between LABs of four hops or more
// together, and no LAB is crowded enough to score less. What a connection
// that is not tried credits is what its driver's inputs gained: t1 -> u and
// t1 -> k the copy's (c's slack is far above), u -> o1 u's. k is a clock
// buffer, never copied: its input's gain stops there.
TEST(DupTiming, AConnectionDownstreamOfACopyPassesItsGainOn)
{
    SPREAD n(false, false, 0, true);
    n.place();
    n.make_critical();
    auto rep = n.make_rep();
    rep->collect_critical_iterms();
    rep->compute_delay_threshold();
    rep->build_usage_grids();
    for (MORV_REP_CANDIDATE& record : rep->get_candidates())
        if (!record.processed) rep->process_candidate(&record);
    ASSERT_NE(n.driver_of("t1"), n.node("s"));
    MORV_API* api = n.run->api();
    const int drive = api->get_oterm_fl_value(n.sink("t2")->get_source());
    const auto delay = [&](int x1, int y1, int x2, int y2) { return api->get_routing_delay(x1, y1, x2, y2, drive); };
    ASSERT_LT(delay(10, 10, 10, 10) + delay(10, 10, 12, 12), delay(10, 10, 11, 10) + delay(11, 10, 12, 12))
        << "the fixture needs a route inside a LAB faster than one to the next";
    const int gain = delay(10, 10, 2, 2) - delay(10, 10, 10, 10) + delay(2, 2, 12, 12) - delay(10, 10, 12, 12);
    const MORV_LOC at = n.run->location_of(n.driver_of("t1"));
    EXPECT_EQ(at.x, 10);
    EXPECT_EQ(at.y, 10);
    CDB_ATOM_ITERM* k_in = n.node("k")->get_input_term_by_type(DB_CLKBUF_IN);
    CDB_ATOM_OTERM* u_out = n.node("u")->get_output_term_by_type(DB_COMB_OUT);
    ASSERT_EQ(u_out->get_number_of_fanout(), 1);
    const std::map<const CDB_ATOM_ITERM*, int> gains{
        {n.sink("t1"), gain}, {n.sink("u"), gain}, {k_in, gain}, {*u_out->begin_iterm_fanout(), gain}};
    int gaining = 0;
    for (const MORV_REP_CANDIDATE& record : rep->get_candidates()) {
        const auto it = gains.find(record.iterm);
        if (it != gains.end()) ++gaining;
        const std::string name = record.iterm->get_my_node()->get_instance_name()->get_short_hpath() + ":port-" +
                                 std::to_string(record.iterm->get_any_usage_as());
        EXPECT_TRUE(record.processed) << name;
        EXPECT_EQ(record.gain, it != gains.end() ? it->second : 0) << name;
    }
    EXPECT_EQ(gaining, 4);
}

// A second iteration of the same object starts from the netlist the first
// left: t1 now reads the copy at (10, 10) and c, so with IM 0 and IP 0.5
// its LAB scores 0.5 to the power of those two and the copy's two inputs,
// and the copy's LAB 0.5 to the power of the buffers' pins a and b. Its
// candidates are those a new object lists there.
TEST(DupTiming, ASecondIterationSeesOnlyTheNetlistTheFirstLeft)
{
    SPREAD n;
    n.place();
    n.make_critical();
    const MORV_PARAMETER_MAP inputs_only{{"LM", "1000"}, {"IM", "0"}, {"IP", "0.5"}, {"WP", "1"}};
    auto again = n.make_rep(false, inputs_only);
    ASSERT_EQ(again->do_iter(), 1);
    auto fresh = n.make_rep(false, inputs_only);
    for (MORV_REP* rep : {again.get(), fresh.get()}) {
        rep->collect_critical_iterms();
        rep->compute_delay_threshold();
        rep->build_usage_grids();
        rep->collect_fanin_records(n.sink("t1"));
    }
    EXPECT_DOUBLE_EQ(again->get_location_factor(12, 12), 0.0625);
    EXPECT_DOUBLE_EQ(again->get_location_factor(10, 10), 0.25);
    EXPECT_DOUBLE_EQ(again->get_threshold_double(), fresh->get_threshold_double());
    const std::vector<MORV_REP_CANDIDATE>& listed = again->get_candidates();
    ASSERT_EQ(listed.size(), fresh->get_candidates().size());
    for (size_t i = 0; i < listed.size(); ++i) {
        EXPECT_EQ(listed[i].iterm, fresh->get_candidates()[i].iterm) << i;
        EXPECT_EQ(listed[i].slack, fresh->get_candidates()[i].slack) << i;
        EXPECT_FALSE(listed[i].processed) << i;
    }
}

TEST(DupTiming, AllInOneLabHasNoBetterLocation)
{
    SPREAD n;
    n.run->place_rest(5, 5);
    n.make_critical();
    MORV_LOG_CAPTURE log(100);
    auto rep = n.make_rep();
    EXPECT_EQ(rep->do_iter(), 0);
    EXPECT_EQ(count_lines(log, "performing"), 0);
    EXPECT_EQ(n.driver_of("t1"), n.node("s"));
}

TEST(DupTiming, RegisterDriverOnlyWithRegisterDuplicationAndNeverBelowItsInputsSlack)
{
    for (bool allowed : {false, true}) {
        SPREAD n(true);
        n.place();
        n.run->slack().set(n.sink("t1"), -300, 0.0);
        const std::vector<unsigned> before = n.run->trace(64);
        MORV_LOG_CAPTURE log(100);
        auto rep = n.make_rep(allowed);
        EXPECT_EQ(rep->do_iter(), allowed ? 1 : 0) << allowed;
        EXPECT_EQ(count_lines(log, "performing register duplication"), allowed ? 1 : 0);
        EXPECT_EQ(n.driver_of("t1") != n.node("s"), allowed);
        EXPECT_EQ(n.run->trace(64), before);
    }
    // The register's data path is tighter than the connection: moving the
    // copy away from its data input would break that path.
    SPREAD n(true);
    n.place();
    n.run->place(n.node("g"), 2, 2);
    n.run->slack().set(n.sink("t1"), -300, 0.0);
    n.run->slack().set(n.node("s")->get_input_term_by_type(DB_DATAIN), -400, 0.0);
    auto rep = n.make_rep(true);
    EXPECT_EQ(rep->do_iter(), 0);
}

TEST(DupTiming, LargeRegionIsSampledSinkFirstThenTheInputsThenAtAStride)
{
    SPREAD n;
    n.place();
    n.make_critical();
    auto rep = n.make_rep();
    rep->collect_critical_iterms();
    CDB_ATOM_ITERM* sink = n.sink("t1");
    rep->collect_fanin_records(sink);
    rep->compute_locations(sink);
    const MORV_REP_REGION region{1, 1, 6, 20};  // 6 x 20 LABs
    const MORV_REP_MOVES moves = rep->compute_moves(region);
    EXPECT_DOUBLE_EQ(moves.scaling, 1.2);
    EXPECT_EQ(moves.extra, 3);  // two inputs and the sink
    EXPECT_EQ(moves.count, 103);
    EXPECT_EQ(rep->get_move_location(region, moves, 0), (MORV_REP_XY{12, 12}));
    EXPECT_EQ(rep->get_move_location(region, moves, 1), (MORV_REP_XY{10, 10}));
    EXPECT_EQ(rep->get_move_location(region, moves, 3), (MORV_REP_XY{1, 1}));
    // k = floor(5 x 1.2) = 6: the seventh LAB of the first column.
    EXPECT_EQ(rep->get_move_location(region, moves, 8), (MORV_REP_XY{1, 7}));
    // k = floor(99 x 1.2) = 118: the last column.
    EXPECT_EQ(rep->get_move_location(region, moves, 102), (MORV_REP_XY{6, 19}));
    const MORV_REP_MOVES small = rep->compute_moves(MORV_REP_REGION{1, 1, 5, 20});
    EXPECT_DOUBLE_EQ(small.scaling, 1.0);
    EXPECT_EQ(small.extra, 0);
    EXPECT_EQ(small.count, 100);
}

TEST(DupTiming, ParametersKeepFamilyDefaultsForEmptyValuesAndSwitchModesOnlyForOne)
{
    SPREAD n;
    MORV_PARAMETER_MAP params{{"MM", ""}, {"LM", "7"}, {"PC_MODE", "2"}, {"PC_STRICT_CHECKS", "1"}};
    MORV_REP_BRK brk(n.run->api(), &params, true);
    EXPECT_EQ(brk.get_max_moves(), 100);
    EXPECT_EQ(brk.get_min_le_usage(), 7);
    EXPECT_FALSE(brk.is_pc_mode());
    EXPECT_TRUE(brk.get_pc_strict_checks());
    EXPECT_EQ(brk.get_description(), "logic and register replication");
    MORV_PARAMETER_MAP none;
    MORV_REP_MRL mrl(n.run->api(), &none);
    EXPECT_EQ(mrl.get_min_le_usage(), 8);
    EXPECT_DOUBLE_EQ(mrl.get_lab_wide_input_penalty(), 1.0);
    EXPECT_EQ(mrl.get_description(), "logic replication");
    MORV_REP_UVO uvo(n.run->api(), &none);
    EXPECT_EQ(uvo.get_min_lab_input_usage(), 20);
    EXPECT_DOUBLE_EQ(uvo.get_le_usage_penalty(), 0.3);
    // An empty parameter string: one pass of two iterations that may both be
    // worse, the connections below a ratio of 0.125 critical, the
    // timing-driven mode. The worse iterations allowed follow a given NI; a
    // given HCI or SRT stays.
    for (const auto& [text, iters, climbs, ratio] :
         {std::tuple{"", 2, 2, 0.125}, {"NI=5", 5, 5, 0.125}, {"HCI=1:SRT=0.25", 2, 1, 0.25}}) {
        MORV_PARAMETER_MAP given;
        MORV_ALGORITHM_BASE::parse_algorithm_params(given, text);
        MORV_REP_BRK rep(n.run->api(), &given, false);
        int passes = rep.get_num_passes(), icp = rep.get_icp_at_end(), restore = rep.get_restore_netlist();
        double fom = rep.get_fom_to_accept();
        rep.set_default_algorithm_parameters(passes, icp, fom, restore);
        EXPECT_EQ(std::tuple(passes, icp, fom, restore), std::tuple(1, 0, 0.0, 1)) << text;
        int ni = rep.get_num_iters(), hci = rep.get_hill_climb_iters();
        rep.set_default_pass_parameters(0, ni, hci);
        EXPECT_EQ(ni, iters) << text;
        EXPECT_EQ(hci, climbs) << text;
        EXPECT_DOUBLE_EQ(rep.get_slack_ratio_threshold(), ratio) << text;
        EXPECT_FALSE(rep.is_pc_mode());
        EXPECT_EQ(rep.get_pc_max_ops(), -1);
    }
}

TEST(DupTiming, MorlinGridKeepsOneBinOnChipsNarrowerThanTenLabs)
{
    SPREAD n;
    MORV_PARAMETER_MAP none;
    MORV_REP_MRL mrl(n.run->api(), &none);
    mrl.set_chip_size(8, 35);
    mrl.init_usage_grid_size();
    EXPECT_EQ(mrl.get_grid_nx(), 1);
    EXPECT_EQ(mrl.get_grid_ny(), 3);
    MORV_REP_BRK brk(n.run->api(), &none);
    brk.set_chip_size(8, 35);
    brk.init_usage_grid_size();
    EXPECT_EQ(brk.get_grid_nx(), 8);
    EXPECT_EQ(brk.get_grid_ny(), 35);
}

TEST(DupTiming, FactoryPassesTheRegisterDuplicationSettingAndRunsTheFamilyClass)
{
    SPREAD n;
    MORV_PARAMETER_MAP none;
    for (const char* name : {"MORV_REP_BRK", "MORV_REP_ZEPLA", "MORV_REP_MRL", "MORV_REP_TEV", "MORV_REP_KESTLIN",
                             "MORV_REP_RZK", "MORV_REP_OBRAN", "MORV_REP_UVO"}) {
        MORV_OWNER<MORV_ALGORITHM_BASE> algorithm;
        ASSERT_TRUE(morv_make_family_algorithm(name, n.run->api(), &none, &algorithm)) << name;
        ASSERT_NE(algorithm, nullptr);
        EXPECT_EQ(algorithm->get_short_name(), "REP");
        EXPECT_EQ(algorithm->get_description(), "logic replication") << name;
    }
}

// A full LAB is scored like any other: the copy goes to its inputs' LAB,
// full with the two buffers and 18 fillers. With timing, the placer moves
// out a filler (untimed, so it loses nothing) to the nearest LAB with room,
// and tells the component so; the copy stays where the component put it.
// Without an analysis no member may leave: the copy itself goes to the
// nearest LAB with room, and the component learns where it went.
TEST(DupTiming, FullLabMakesRoomForTheCopyOrSendsItNextDoor)
{
    for (const bool timed : {true, false}) {
        SCOPED_TRACE(timed ? "timed" : "untimed");
        SPREAD n(false, false, 18);
        for (CDB_ATOM_NODE* node : n.run->netlist())
            if (node->get_instance_name()->get_short_hpath().rfind("fl", 0) == 0) n.run->place(node, 10, 10);
        n.place();
        n.make_critical();
        if (timed) n.run->env().analyse_timing();
        auto rep = n.make_rep();
        ASSERT_EQ(rep->do_iter(), 1);
        CDB_ATOM_NODE* copy = n.driver_of("t1");
        const MORV_LOC at = n.run->location_of(copy);
        ASSERT_EQ(at.x, 10);
        ASSERT_EQ(at.y, 10);
        n.run->env().analyse_timing();
        int inside = 0, moved = 0;
        for (CDB_ATOM_NODE* node : n.run->netlist()) {
            const int distance = std::abs(node->get_lab_x() - 10) + std::abs(node->get_lab_y() - 10);
            if (distance == 0) {
                ++inside;
                continue;
            }
            if (node != copy && node->get_instance_name()->get_short_hpath().rfind("fl", 0) != 0) continue;
            ++moved;
            EXPECT_EQ(distance, 1);
            EXPECT_EQ(node == copy, !timed);
            // The component's next edit starts from where the atom went.
            const MORV_LOC known = n.run->location_of(node);
            EXPECT_EQ(known.x, node->get_lab_x());
            EXPECT_EQ(known.y, node->get_lab_y());
        }
        EXPECT_EQ(inside, 20);
        EXPECT_EQ(moved, 1);
    }
}

// Why critical connections keep their driver, counted per iteration and
// written to the debug log. s -> t1 is tried over the LABs (9..13, 9..13):
// column 12 holds DSP blocks (5 locations refused) and (11, 12), full with 20
// fillers, is scored like the rest; ia -> s and ib -> s are critical too but
// their drivers are kept as they are.
TEST(DupTiming, IterationCountsWhyCriticalConnectionsKeepTheirDriver)
{
    SPREAD n(false, false, 20);
    for (CDB_ATOM_NODE* node : n.run->netlist())
        if (node->get_instance_name()->get_short_hpath().rfind("fl", 0) == 0) n.run->place(node, 11, 12);
    n.place();
    n.make_critical();
    MORV_LOG_CAPTURE log(100);
    auto rep = n.make_rep();
    ASSERT_EQ(rep->do_iter(), 1);
    const MORV_REP_TD_STATS& stats = rep->get_td_stats();
    EXPECT_EQ(stats.critical, 3);
    EXPECT_EQ(stats.excluded, 2);
    EXPECT_EQ(stats.duplicated, 1);
    EXPECT_EQ(stats.register_not_allowed + stats.no_region + stats.no_better_location + stats.failed_edits, 0);
    EXPECT_EQ(stats.locations_refused, 5);
    EXPECT_EQ(stats.locations_scored + stats.locations_without_gain, 20);
    EXPECT_GT(stats.locations_scored, 0);
    EXPECT_EQ(count_lines(log, "   Critical connections: 3"), 1);
    EXPECT_EQ(count_lines(log, "   Duplicated: 1"), 1);

    // A register driver is counted, not tried, without register duplication;
    // a driver already in its sink's LAB has no better location.
    SPREAD r(true);
    r.place();
    r.run->slack().set(r.sink("t1"), -300, 0.0);
    auto no_registers = r.make_rep(false);
    EXPECT_EQ(no_registers->do_iter(), 0);
    EXPECT_EQ(no_registers->get_td_stats().critical, 1);
    EXPECT_EQ(no_registers->get_td_stats().register_not_allowed, 1);
    SPREAD one_lab;
    one_lab.run->place_rest(5, 5);
    one_lab.make_critical();
    auto rep_one_lab = one_lab.make_rep();
    EXPECT_EQ(rep_one_lab->do_iter(), 0);
    EXPECT_EQ(rep_one_lab->get_td_stats().no_better_location, 1);
}

}  // namespace dup_timing_test
