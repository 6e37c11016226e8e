// Static timing analysis on hand-built timing graphs with hand-computed
// slacks, ratios and figures of merit.

#include <gtest/gtest.h>

#include <map>

#include "msg/msg.h"
#include "tdc/tdc_analysis.h"

namespace tdc_analysis_test {

namespace {

struct GRAPH
{
    TDB_NETLIST tdb;
    TDC_ANALYSIS sta{&tdb};
    std::map<std::string, int> periods;
    int default_period = 1000;
    TDC_ANALYSIS_SETTINGS settings;

    GRAPH()
    {
        sta.set_clock_namer([](const TDB_NODE* n) {
            std::string name = "c";
            name += std::to_string(n->get_atom_id());
            return name;
        });
        settings.clock_period_ps = [this](const std::string& name) {
            auto it = periods.find(name);
            return it == periods.end() ? default_period : it->second;
        };
        settings.tpd_requirement_ps = 1000;
    }
    // A clock: input pin keeper (atom id) driving a clock net node.
    TDB_NODE* clock(int atom)
    {
        TDB_NODE* pin = tdb.add_node(atom, TDB_NODE_PIN | TDB_NODE_INPUT_PIN, nullptr);
        TDB_NODE* net = tdb.add_node(atom, 0, nullptr);
        tdb.add_edge(pin, net, nullptr, false, 0, 0);
        return net;
    }
    TDB_NODE* reg(int atom, TDB_NODE* clk, int tco, int tsu, int clock_delay = 0)
    {
        TDB_NODE* r = tdb.add_node(atom, TDB_NODE_REGISTER, nullptr);
        tdb.set_node_timing(r, tco, tsu);
        tdb.add_edge(clk, r, nullptr, true, clock_delay, 0);
        return r;
    }
    TDB_NODE* comb(int atom) { return tdb.add_node(atom, 0, nullptr); }
    TDB_EDGE* edge(TDB_NODE* a, TDB_NODE* b, int ic, int cell) { return tdb.add_edge(a, b, nullptr, false, ic, cell); }
    double run(bool collect = true) { return sta.run(settings, collect); }
    const TDC_SUB_DOMAIN_DATA* domain(int type, int launch, int capture) const
    {
        for (const TDC_SUB_DOMAIN_DATA& d : sta.get_sub_domain_data())
            if (d.m_type == type && d.m_launch_clock == launch && d.m_capture_clock == capture) return &d;
        return nullptr;
    }
};

}  // namespace

TEST(TdcSlackWeight, PiecewiseValues)
{
    EXPECT_DOUBLE_EQ(tdc_slack_weight(-100), -100.0);
    EXPECT_DOUBLE_EQ(tdc_slack_weight(0), 0.0);
    EXPECT_DOUBLE_EQ(tdc_slack_weight(250), 125.0);
    EXPECT_DOUBLE_EQ(tdc_slack_weight(500), 187.5);
    EXPECT_DOUBLE_EQ(tdc_slack_weight(2000), 281.25);
    EXPECT_DOUBLE_EQ(tdc_slack_weight(2256), 282.25);
}

TEST(TdcAnalysis, PipelineSlacksRatiosAndFigureOfMerit)
{
    GRAPH g;
    TDB_NODE* clk = g.clock(1);
    TDB_NODE* r1 = g.reg(2, clk, 100, 50);
    TDB_NODE* r2 = g.reg(3, clk, 100, 50);
    TDB_NODE* r3 = g.reg(4, clk, 100, 50);
    TDB_NODE* l1 = g.comb(5);
    TDB_NODE* l2 = g.comb(6);
    TDB_EDGE* e1 = g.edge(r1, l1, 10, 200);
    TDB_EDGE* e2 = g.edge(l1, l2, 20, 300);
    TDB_EDGE* e3 = g.edge(l2, r2, 30, 0);
    TDB_EDGE* e4 = g.edge(r3, r2, 100, 0);
    double fom = g.run();
    // Arrival at r2 through the LUTs: 100 + 210 + 320 + 30 = 660; required 1000 - 50 = 950.
    EXPECT_EQ(e1->get_slack(), 290);
    EXPECT_EQ(e2->get_slack(), 290);
    EXPECT_EQ(e3->get_slack(), 290);
    EXPECT_EQ(e4->get_slack(), 750);
    // Raw ratios 0.29 and 0.75; the least (0.29) is tightened to 0.
    EXPECT_FLOAT_EQ(e1->get_slack_ratio(), 0.0f);
    EXPECT_NEAR(e4->get_slack_ratio(), (0.75 - 0.29) / 0.71, 1e-6);
    EXPECT_DOUBLE_EQ(fom, 125.0 + 0.25 * 40);
    EXPECT_EQ(g.sta.get_worst_slack(), 290);
    ASSERT_EQ(g.sta.get_clocks().size(), 1u);
    EXPECT_EQ(g.sta.get_clocks()[0].m_name, "c1");
    EXPECT_EQ(g.sta.get_clocks()[0].m_num_registers, 3);
    // Clock edges and the pin's internal edge lie in no domain.
    EXPECT_EQ(r2->clkin()[0]->get_slack(), TDB_NO_PATH);
    EXPECT_FLOAT_EQ(r2->clkin()[0]->get_slack_ratio(), 1.0f);
    // Sub-domain data: one core domain holding the four data edges with
    // their untightened ratios.
    ASSERT_EQ(g.sta.get_sub_domain_data().size(), 1u);
    const TDC_SUB_DOMAIN_DATA& d = g.sta.get_sub_domain_data()[0];
    EXPECT_EQ(d.m_type, TDC_DOMAIN_CLOCK);
    EXPECT_EQ(d.m_requirement, 1000);
    EXPECT_FALSE(d.m_not_core_1 || d.m_not_core_2);
    EXPECT_EQ(d.m_edges.size(), 4u);
    for (const TDC_SUB_DOMAIN_EDGE& x : d.m_edges)
        EXPECT_FLOAT_EQ(x.m_slack_ratio, x.m_edge_id == e4->get_id() ? 0.75f : 0.29f);
}

TEST(TdcAnalysis, ReconvergentConeTakesTheSlowerBranch)
{
    GRAPH g;
    TDB_NODE* clk = g.clock(1);
    TDB_NODE* r1 = g.reg(2, clk, 0, 0);
    TDB_NODE* r2 = g.reg(3, clk, 0, 0);
    TDB_NODE *a = g.comb(4), *b = g.comb(5), *c = g.comb(6);
    TDB_EDGE* ra = g.edge(r1, a, 0, 100);
    TDB_EDGE* rb = g.edge(r1, b, 0, 300);
    TDB_EDGE* ac = g.edge(a, c, 0, 50);
    TDB_EDGE* bc = g.edge(b, c, 0, 50);
    TDB_EDGE* cr = g.edge(c, r2, 0, 0);
    g.run();
    EXPECT_EQ(cr->get_slack(), 650);
    EXPECT_EQ(bc->get_slack(), 650);
    EXPECT_EQ(rb->get_slack(), 650);
    EXPECT_EQ(ac->get_slack(), 850);
    EXPECT_EQ(ra->get_slack(), 850);
    // Ratios 0.65 and 0.85, tightened by 0.65.
    EXPECT_FLOAT_EQ(cr->get_slack_ratio(), 0.0f);
    EXPECT_NEAR(ra->get_slack_ratio(), 0.2 / 0.35, 1e-6);
}

TEST(TdcAnalysis, NegativeSlackNormalisesTheDomainAndCountsInFull)
{
    GRAPH g;
    TDB_NODE* clk = g.clock(1);
    TDB_NODE* r1 = g.reg(2, clk, 0, 0);
    TDB_NODE* r2 = g.reg(3, clk, 0, 0);
    TDB_NODE* r3 = g.reg(4, clk, 0, 0);
    TDB_EDGE* slow = g.edge(r1, r2, 0, 1500);  // slack -500, r = -0.5
    TDB_EDGE* fast = g.edge(r1, r3, 0, 250);   // slack 750, r = 0.75
    double fom = g.run();
    EXPECT_EQ(slow->get_slack(), -500);
    EXPECT_FLOAT_EQ(slow->get_slack_ratio(), 0.0f);
    // m = -0.5: (0.75 + 0.5) / 1.5; g = 0, so no tightening.
    EXPECT_NEAR(fast->get_slack_ratio(), 1.25 / 1.5, 1e-6);
    EXPECT_DOUBLE_EQ(fom, -500.0);
}

TEST(TdcAnalysis, ClockPathsLaunchLateAndCaptureEarly)
{
    GRAPH g;
    TDB_NODE* clk = g.clock(1);
    TDB_NODE* r1 = g.reg(2, clk, 0, 0);
    TDB_NODE* r2 = g.reg(3, clk, 0, 0);
    // Launch clock edge 120 (MAX); capture clock edge MAX 120 / MIN 80.
    r1->clkin()[0]->get_delay()->set_delay(TDB_DELAY_IC, 120, 120, 120, 120);
    r2->clkin()[0]->get_delay()->set_delay(TDB_DELAY_IC, 120, 110, 80, 90);
    TDB_EDGE* e = g.edge(r1, r2, 0, 400);
    g.run();
    // Arrival 120 + 400; required 1000 + 80.
    EXPECT_EQ(e->get_slack(), 1080 - 520);
    // A delay edit marks the analysis out of date.
    EXPECT_TRUE(g.sta.is_current());
    e->get_delay()->set_delay(TDB_DELAY_IC, 100);
    EXPECT_FALSE(g.sta.is_current());
    g.run();
    EXPECT_EQ(e->get_slack(), 1080 - 620);
}

TEST(TdcAnalysis, TwoClocksUseTheTightestEdgeDistance)
{
    GRAPH g;
    g.periods["c1"] = 1000;
    g.periods["c10"] = 1500;
    TDB_NODE* clk1 = g.clock(1);
    TDB_NODE* clk2 = g.clock(10);
    TDB_NODE* r1 = g.reg(2, clk1, 0, 0);
    TDB_NODE* r2 = g.reg(3, clk2, 0, 0);
    TDB_NODE* r3 = g.reg(4, clk2, 0, 0);
    TDB_EDGE* cross = g.edge(r1, r2, 0, 300);
    TDB_EDGE* core = g.edge(r2, r3, 0, 100);
    double fom = g.run();
    EXPECT_EQ(cross->get_slack(), 500 - 300);  // gcd(1000, 1500) = 500
    EXPECT_EQ(core->get_slack(), 1400);
    ASSERT_EQ(g.sta.get_clocks().size(), 2u);
    const TDC_SUB_DOMAIN_DATA* inter = g.domain(TDC_DOMAIN_CLOCK, 0, 1);
    const TDC_SUB_DOMAIN_DATA* same = g.domain(TDC_DOMAIN_CLOCK, 1, 1);
    ASSERT_TRUE(inter && same);
    EXPECT_TRUE(inter->m_not_core_2);
    EXPECT_FALSE(same->m_not_core_1 || same->m_not_core_2);
    EXPECT_EQ(inter->m_group_key, same->m_group_key);
    // Core domain first in its group.
    EXPECT_LT(same->m_sub_domain_id, inter->m_sub_domain_id);
    // One group (capture clock 2) with worst slack 200.
    EXPECT_DOUBLE_EQ(fom, tdc_slack_weight(200));
    EXPECT_EQ(g.sta.get_clock_worst_slack(1), 200);
    EXPECT_EQ(g.sta.get_clock_worst_slack(0), TDB_NO_PATH);
}

TEST(TdcAnalysis, InputAndOutputPathsUseTheirDelays)
{
    GRAPH g;
    g.settings.input_delay_ps = 100;
    g.settings.output_delay_ps = 200;
    g.settings.tpd_requirement_ps = 700;
    TDB_NODE* clk = g.clock(1);
    TDB_NODE* in = g.tdb.add_node(20, TDB_NODE_PIN | TDB_NODE_INPUT_PIN, nullptr);
    TDB_NODE* in_net = g.comb(20);
    g.edge(in, in_net, 0, 500);
    TDB_NODE* out = g.tdb.add_node(21, TDB_NODE_PIN | TDB_NODE_OUTPUT_PIN, nullptr);
    TDB_NODE* lut = g.comb(22);
    TDB_NODE* r = g.reg(23, clk, 50, 30);
    TDB_EDGE* in_lut = g.edge(in_net, lut, 0, 100);
    TDB_EDGE* lut_out = g.edge(lut, out, 0, 0);
    TDB_EDGE* in_reg = g.edge(in_net, r, 0, 0);
    TDB_EDGE* reg_out = g.edge(r, out, 0, 300);
    double fom = g.run();
    // Pin to pin: arrival 600, requirement 700.
    EXPECT_EQ(in_lut->get_slack(), 100);
    EXPECT_EQ(lut_out->get_slack(), 100);
    // Input to register: 1000 - 100 - 30 - 500.
    EXPECT_EQ(in_reg->get_slack(), 370);
    // Register to output: 1000 - 200 - (50 + 300).
    EXPECT_EQ(reg_out->get_slack(), 450);
    ASSERT_TRUE(g.domain(TDC_DOMAIN_TPD, -1, -1));
    ASSERT_TRUE(g.domain(TDC_DOMAIN_TSU, -1, 0));
    ASSERT_TRUE(g.domain(TDC_DOMAIN_TCO, 0, -1));
    EXPECT_EQ(g.domain(TDC_DOMAIN_TSU, -1, 0)->m_requirement, 900);
    EXPECT_TRUE(g.domain(TDC_DOMAIN_TCO, 0, -1)->m_not_core_1);
    // The internal pin edge lies in both the TPD and the TSU domain: least slack.
    EXPECT_EQ(in->fanout()[0]->get_slack(), 100);
    // No clock domain: the three I/O types add their least weights.
    EXPECT_DOUBLE_EQ(fom, tdc_slack_weight(100) + tdc_slack_weight(370) + tdc_slack_weight(450));
}

TEST(TdcAnalysis, CutSourceLaunchesNothingButStillCaptures)
{
    GRAPH g;
    TDB_NODE* clk = g.clock(1);
    TDB_NODE* r1 = g.reg(2, clk, 100, 50);
    TDB_NODE* r2 = g.reg(3, clk, 100, 50);
    TDB_NODE* r3 = g.reg(4, clk, 100, 50);
    TDB_NODE* l = g.comb(5);
    TDB_EDGE* slow = g.edge(r1, l, 0, 700);
    TDB_EDGE* shared = g.edge(l, r2, 0, 0);
    TDB_EDGE* fast = g.edge(r3, l, 0, 100);
    TDB_EDGE* back = g.edge(r2, r1, 0, 0);
    g.run();
    EXPECT_EQ(shared->get_slack(), 150);  // 1000 - 50 - (100 + 700)
    g.settings.is_cut_source = [&](const TDB_NODE* k) { return k == r1; };
    g.run();
    // Only r3's path reaches the LUT now; r1 still captures from r2.
    EXPECT_EQ(slow->get_slack(), TDB_NO_PATH);
    EXPECT_FLOAT_EQ(slow->get_slack_ratio(), 1.0f);
    EXPECT_EQ(shared->get_slack(), 750);
    EXPECT_EQ(fast->get_slack(), 750);
    EXPECT_EQ(back->get_slack(), 850);
    EXPECT_EQ(g.sta.get_worst_slack(), 750);
}

TEST(TdcAnalysis, CombinationalLoopIsCutWithOneWarning)
{
    msg_set_quiet(true);
    msg_clear_posted_messages();
    GRAPH g;
    TDB_NODE* clk = g.clock(1);
    TDB_NODE* r1 = g.reg(2, clk, 0, 0);
    TDB_NODE* r2 = g.reg(3, clk, 0, 0);
    TDB_NODE *a = g.comb(4), *b = g.comb(5);
    g.edge(r1, a, 0, 100);
    g.edge(a, b, 0, 100);
    g.edge(b, a, 0, 100);  // loop a -> b -> a
    TDB_EDGE* out = g.edge(b, r2, 0, 0);
    g.run();
    EXPECT_EQ(g.sta.get_num_cut_loop_edges(), 1);
    EXPECT_EQ(out->get_slack(), 800);
    int warnings = 0;
    for (const MSG_POSTED_MESSAGE& m : msg_posted_messages()) warnings += m.id == "WTDC_COMBINATIONAL_LOOP";
    EXPECT_EQ(warnings, 1);
    // No structural change: no new levelisation and no new warning.
    g.run();
    EXPECT_EQ(g.sta.get_num_levelisations(), 1);
    msg_clear_posted_messages();
}

TEST(TdcAnalysis, UnconstrainedGraphHasNoDomains)
{
    GRAPH g;
    TDB_NODE *a = g.comb(1), *b = g.comb(2);
    TDB_EDGE* e = g.edge(a, b, 5, 5);
    EXPECT_DOUBLE_EQ(g.run(), 0.0);
    EXPECT_TRUE(g.sta.get_sub_domain_data().empty());
    EXPECT_EQ(e->get_slack(), TDB_NO_PATH);
    EXPECT_EQ(g.sta.get_worst_slack(), TDB_NO_PATH);
}

}  // namespace tdc_analysis_test
