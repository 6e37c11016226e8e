// iTEst's slack preparation and per-domain estimation on timing netlists
// made by hand: relaxing a region's stored slacks, arrival and required
// times at registers and pins with their clock trees, the normalisation of
// the domain ratios, the internal errors of an inconsistent region, and a
// chain long enough that a recursive walk would exhaust the stack.

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "tdb/tdb_netlist.h"
#include "tdc/tdc_accessories.h"

#include "morv/timing/morv_timing_ite.h"
#include "timing_fixture.h"

namespace morv_timing_ite_estimate_test {

namespace {

using MorvTimingIteEstimate = MORV_CLEAN_STATE_TEST;

constexpr float k_NAN = std::numeric_limits<float>::quiet_NaN();

TDC_SUB_DOMAIN_DATA domain_data(int id, std::vector<TDC_SUB_DOMAIN_EDGE> edges)
{
    TDC_SUB_DOMAIN_DATA d;
    d.m_sub_domain_id = id;
    d.m_type = ITE_DOMAIN_CLOCK;
    d.m_group_key = 0;
    d.m_requirement = 1000;
    d.m_edges = std::move(edges);
    return d;
}

struct CRAFTED
{
    CRAFTED() : ite(morv_create_timing_ite(t.api())) {}

    TDB_NODE* reg(int tco, int tsu)
    {
        CDB_ATOM_NODE* atom = t.atom(CDB_KIND_REGISTER);
        TDB_NODE* node = tdb.add_node(static_cast<int>(atom->get_id()), TDB_NODE_REGISTER,
                                      atom->add_output_term(DB_REG_OUT, nullptr));
        tdb.set_node_timing(node, tco, tsu);
        return node;
    }
    TDB_NODE* pin(uint32_t direction)
    {
        CDB_ATOM_NODE* atom = t.atom(CDB_KIND_LCELL_COMB);
        return tdb.add_node(static_cast<int>(atom->get_id()), TDB_NODE_PIN | direction,
                            atom->add_output_term(DB_COMB_OUT, nullptr));
    }
    TDB_NODE* lut()
    {
        CDB_ATOM_NODE* atom = t.atom(CDB_KIND_LCELL_COMB);
        return tdb.add_node(static_cast<int>(atom->get_id()), 0, atom->add_output_term(DB_COMB_OUT, nullptr));
    }
    TDB_EDGE* edge(TDB_NODE* from, TDB_NODE* to, int delay) { return tdb.add_edge(from, to, nullptr, false, delay, 0); }
    // A clock-tree edge with its own earliest delay.
    TDB_EDGE* tree(TDB_NODE* from, TDB_NODE* to, int max, int min)
    {
        TDB_EDGE* e = tdb.add_edge(from, to, nullptr, false, 0, 0);
        e->get_delay()->set_delay(TDB_DELAY_IC, max, max, min, min);
        return e;
    }
    TDB_EDGE* clock(TDB_NODE* from, TDB_NODE* reg, int delay)
    {
        return tdb.add_edge(from, reg, nullptr, true, delay, 0);
    }
    void build(const std::vector<TDC_SUB_DOMAIN_DATA>& data)
    {
        ite->attach_tdb_netlist(&tdb);
        ite->build_domains(&data);
        ite->build_edge_domains();
        for (int d = 0; d < ite->get_num_domains(); ++d) {
            ite->get_domain(d)->m_do_analysis = false;
            ite->compute_sr_lr_approximation_for_domain(ite->get_domain(d));
        }
    }
    // Marks the edges as the domain's region around the start node.
    void region(int domain_id, const TDB_NODE* start, const std::vector<const TDB_EDGE*>& edges)
    {
        MORV_TIMING_ITE_DOMAIN_INFO* d = ite->get_domain(domain_id);
        for (const TDB_EDGE* e : edges) ite->add_domain_analysis_edge(d, e, e->get_src_node());
        if (start != nullptr) d->m_analysis_start_nodes.insert(start->get_id());
    }
    void estimate()
    {
        for (int d = 0; d < ite->get_num_domains(); ++d)
            if (ite->get_domain(d)->m_do_analysis) ite->fsyn_ite_do_slack_preparation_adjustments(ite->get_domain(d));
        ite->fsyn_ite_do_timing_estimation();
    }
    int slack(int domain_id, const TDB_EDGE* e)
    {
        return ite->get_domain(domain_id)->edge_record(e->get_id())->m_slack;
    }
    int node_map(const MORV_TIMING_ITE_NODE_SLACKS& map, const TDB_NODE* n)
    {
        const int32_t* value = map.find(n->get_id());
        return value == nullptr ? -1 : *value;
    }

    TIMING_NETLIST t{CDB_FAMILY_BRK};
    TDB_NETLIST tdb;
    MORV_OWNER<MORV_TIMING_ITE> ite;
};

// r1 (tco 20) and in feed l1; l1 feeds l2 and r3; l2 feeds r2 (tsu 15) and
// out. r1 and r3 hang on one clock tree: ck -> b1 / b2 -> bm, whose node bm
// has two fan-ins (110 at MAX; 65 at MIN, the larger of 65 and 30); r2 on
// b3, a tree root without fan-in.
struct SITE : CRAFTED
{
    SITE()
    {
        ck = pin(TDB_NODE_INPUT_PIN);
        in = pin(TDB_NODE_INPUT_PIN);
        out = pin(TDB_NODE_OUTPUT_PIN);
        r1 = reg(20, 0);
        r2 = reg(0, 15);
        r3 = reg(0, 0);
        b1 = lut(), b2 = lut(), bm = lut(), b3 = lut(), l1 = lut(), l2 = lut();
        tree(ck, b1, 40, 35);
        tree(ck, b2, 60, 20);
        tree(b1, bm, 30, 30);
        tree(b2, bm, 50, 10);
        clock(bm, r1, 5);
        clock(bm, r3, 5);
        clock(b3, r2, 7);
        r1_l1 = edge(r1, l1, 10);
        in_l1 = edge(in, l1, 200);
        l1_l2 = edge(l1, l2, 10);
        l1_r3 = edge(l1, r3, 10);
        l2_r2 = edge(l2, r2, 10);
        l2_out = edge(l2, out, 10);
        // Domain 0 holds every data edge, domain 1 only r1 -> l1 -> r3; the
        // stored slacks are those of slower delays, every ratio its slack
        // over the requirement.
        build({domain_data(0, {{r1_l1->get_id(), 500, 0.5f},
                               {in_l1->get_id(), 500, 0.5f},
                               {l1_l2->get_id(), 500, 0.5f},
                               {l1_r3->get_id(), 600, 0.6f},
                               {l2_r2->get_id(), 500, 0.5f},
                               {l2_out->get_id(), 510, 0.51f}}),
               domain_data(1, {{r1_l1->get_id(), 700, 0.7f}, {l1_r3->get_id(), 700, 0.7f}})});
    }
    TDB_NODE *ck, *in, *out, *r1, *r2, *r3, *b1, *b2, *bm, *b3, *l1, *l2;
    TDB_EDGE *r1_l1, *in_l1, *l1_l2, *l1_r3, *l2_r2, *l2_out;
};

const MORV_TIMING_ITE_EDGE_TIMING_DATA& data(MORV_TIMING_ITE* ite, const TDB_EDGE* e)
{
    return ite->get_edge_timing_data(e->get_id());
}

}  // namespace

// ------------------------------------------------------------------ arrival and required times

TEST_F(MorvTimingIteEstimate, RegistersAndPinsTimeTheRegionWithEachClockTreeWalkedOnce)
{
    SITE s;
    s.region(0, s.l1, {s.r1_l1, s.in_l1, s.l1_l2, s.l1_r3, s.l2_r2, s.l2_out});
    s.region(1, s.l1, {s.r1_l1, s.l1_r3});
    s.estimate();
    // Domain 0: the input's 200 ps dominate l1's arrival (r1's is 20 + 115 +
    // 10 = 145); r2 captures at 1000 - 15 + 7, out at 1000, r3 at 1000 + 70.
    EXPECT_EQ(s.slack(0, s.l2_r2), 772);
    EXPECT_EQ(s.slack(0, s.l2_out), 780);
    EXPECT_EQ(s.slack(0, s.l1_l2), 772);
    EXPECT_EQ(s.slack(0, s.l1_r3), 860);
    EXPECT_EQ(s.slack(0, s.r1_l1), 827);
    EXPECT_EQ(s.slack(0, s.in_l1), 772);
    EXPECT_EQ(data(s.ite.get(), s.l2_r2).m_arrival_time, 220);
    EXPECT_EQ(data(s.ite.get(), s.l2_r2).m_required_time, 982);
    EXPECT_EQ(data(s.ite.get(), s.l2_out).m_required_time, 990);
    EXPECT_EQ(data(s.ite.get(), s.in_l1).m_arrival_time, 200);
    EXPECT_EQ(data(s.ite.get(), s.in_l1).m_required_time, 772);
    // Domain 1, timed last, never sees the input: l1's arrival is r1's.
    EXPECT_EQ(data(s.ite.get(), s.l1_r3).m_arrival_time, 155);
    EXPECT_EQ(data(s.ite.get(), s.l1_r3).m_required_time, 1060);
    EXPECT_EQ(data(s.ite.get(), s.r1_l1).m_required_time, 1050);
    EXPECT_EQ(s.slack(1, s.r1_l1), 915);
    EXPECT_EQ(s.slack(1, s.l1_r3), 915);
    // b1, b2 and bm once per corner for both domains; b3 has no fan-in.
    EXPECT_EQ(s.ite->get_clock_path_evaluations(), 6);
    const MORV_TIMING_ITE_ESTIMATION_STATS& stats = s.ite->get_estimation_stats();
    EXPECT_EQ(stats.m_domains, 2);
    EXPECT_EQ(stats.m_analysed_edges, 8);
    // The annotation: an edge of both domains takes its least slack.
    EXPECT_EQ(s.r1_l1->get_slack(), 827);
    EXPECT_EQ(s.l2_out->get_slack(), 780);
    // Ratios from the line: slack / requirement, the bounds unchanged.
    EXPECT_NEAR(s.ite->get_domain(0)->edge_record(s.l2_out->get_id())->m_slack_ratio, 0.78, 1e-5);
    s.ite->fsyn_ite_post_timing_estimation_cleanup();
}

TEST_F(MorvTimingIteEstimate, ARegionWithoutTimesOnEitherSideIsAnInternalError)
{
    // l1 -> l2 reaches l2, whose fan-outs lie outside the region.
    SITE required;
    required.region(0, required.l1, {required.r1_l1, required.l1_l2});
    EXPECT_EQ(internal_error_of([&] { required.estimate(); }), "wc_required_time != CDB_ILLEGAL_TSM_DELAY");
    required.ite->fsyn_ite_post_timing_estimation_cleanup();
    // l2 -> r2 is reached only from l1, whose fan-ins lie outside it.
    SITE arrival;
    arrival.region(0, arrival.l2, {arrival.l2_r2});
    arrival.ite->get_domain(0)->m_analysis_src_keepers.insert(arrival.l2->get_id());
    EXPECT_EQ(internal_error_of([&] { arrival.estimate(); }), "wc_base_arrival_time != CDB_ILLEGAL_TSM_DELAY");
    arrival.ite->fsyn_ite_post_timing_estimation_cleanup();
}

// ------------------------------------------------------------------ slack preparation

// r1 -> a -> b -> r2 with r3 -> b outside the region (slack 100, also b's
// worst output); a -> c -> r4 where c -> r4 has no record.
struct RELAX : CRAFTED
{
    RELAX()
    {
        r1 = reg(0, 0), r2 = reg(0, 0), r3 = reg(0, 0), r4 = reg(0, 0);
        a = lut(), b = lut(), c = lut();
        r1_a = edge(r1, a, 10), a_b = edge(a, b, 10), b_r2 = edge(b, r2, 10), r3_b = edge(r3, b, 10);
        a_c = edge(a, c, 10), c_r4 = edge(c, r4, 10);
        build({domain_data(0, {{r1_a->get_id(), 300, 0.3f},
                               {a_b->get_id(), 300, 0.3f},
                               {b_r2->get_id(), 100, 0.1f},
                               {r3_b->get_id(), 100, 0.1f},
                               {a_c->get_id(), 400, 0.4f}})});
        region(0, a, {r1_a, a_b, b_r2, a_c, c_r4});
    }
    TDB_NODE *r1, *r2, *r3, *r4, *a, *b, *c;
    TDB_EDGE *r1_a, *a_b, *b_r2, *r3_b, *a_c, *c_r4;
};

TEST_F(MorvTimingIteEstimate, PreparationUnboundsTheStartNodeAndRaisesOnlyWhatTheRegionHeldDown)
{
    RELAX x;
    MORV_TIMING_ITE_DOMAIN_INFO* d = x.ite->get_domain(0);
    x.ite->fsyn_ite_do_slack_preparation_adjustments(d);
    EXPECT_EQ(x.slack(0, x.r1_a), ITE_NO_SLACK);
    EXPECT_EQ(x.slack(0, x.a_b), ITE_NO_SLACK);
    EXPECT_EQ(x.slack(0, x.a_c), ITE_NO_SLACK);
    // b's worst input stays r3's 100, so nothing downstream of b rises.
    EXPECT_EQ(x.slack(0, x.b_r2), 100);
    EXPECT_EQ(x.slack(0, x.r3_b), 100);
    // c -> r4 has no record: it is neither read nor given one.
    EXPECT_FALSE(d->m_edge_slack_ratios.contains(x.c_r4->get_id()));
    EXPECT_EQ(x.node_map(d->m_src_node_min_slack, x.c), ITE_NO_SLACK);
    EXPECT_EQ(x.node_map(d->m_dst_node_min_slack, x.b), 100);
    EXPECT_EQ(x.node_map(d->m_src_node_min_slack, x.a), ITE_NO_SLACK);
    // r1 stands on its output side only: its worst output is refreshed too.
    EXPECT_EQ(x.node_map(d->m_src_node_min_slack, x.r1), ITE_NO_SLACK);
    EXPECT_EQ(x.node_map(d->m_dst_node_min_slack, x.r2), 100);
}

TEST_F(MorvTimingIteEstimate, AKeeperStandsOnceOnEachSideOfTheOrder)
{
    // r1 -> l1 -> r2 -> l2 -> r1: both registers start and end paths.
    CRAFTED c;
    TDB_NODE *r1 = c.reg(0, 0), *r2 = c.reg(0, 0), *l1 = c.lut(), *l2 = c.lut();
    const TDB_EDGE *e1 = c.edge(r1, l1, 1), *e2 = c.edge(l1, r2, 1), *e3 = c.edge(r2, l2, 1), *e4 = c.edge(l2, r1, 1);
    c.build({domain_data(
        0, {{e1->get_id(), 5, 0.1f}, {e2->get_id(), 5, 0.1f}, {e3->get_id(), 5, 0.1f}, {e4->get_id(), 5, 0.1f}})});
    MORV_TIMING_ITE_INT_SET keepers, edges;
    for (const TDB_NODE* k : {r1, r2}) keepers.insert(k->get_id());
    for (const TDB_EDGE* e : {e1, e2, e3, e4}) edges.insert(e->get_id());
    std::vector<TDB_NODE*> order;
    std::vector<char> input_side;
    c.ite->build_node_rev_topo_order(keepers, edges, order, input_side);
    ASSERT_EQ(order.size(), 6u);
    int r1_sides = 0, r2_sides = 0;
    for (size_t i = 0; i < order.size(); ++i) {
        if (order[i] == r1) r1_sides |= 1 << input_side[i];
        if (order[i] == r2) r2_sides |= 1 << input_side[i];
    }
    EXPECT_EQ(r1_sides, 3);
    EXPECT_EQ(r2_sides, 3);
    // Each non-keeper after every region node downstream of it.
    for (size_t i = 0; i < order.size(); ++i)
        if (order[i] == l1) {
            EXPECT_TRUE(order[i - 1] == r2 && input_side[i - 1] == 1);
        }
}

// The preparation hands the estimation its order of the region's edges:
// it must be the order the estimation would build, with each edge's own
// record beside it, through merging paths, a keeper reached twice and
// keepers that both start and end paths; an edge outside the region stays
// out of it.
TEST_F(MorvTimingIteEstimate, ThePreparationOrdersTheRegionAsTheEstimationWould)
{
    CRAFTED c;
    TDB_NODE *r1 = c.reg(0, 0), *r2 = c.reg(0, 0), *r3 = c.reg(0, 0);
    TDB_NODE *a = c.lut(), *b = c.lut(), *m = c.lut(), *d = c.lut(), *ck = c.pin(TDB_NODE_INPUT_PIN);
    for (TDB_NODE* r : {r1, r2, r3}) c.clock(ck, r, 0);
    const std::vector<const TDB_EDGE*> region = {c.edge(r1, a, 10), c.edge(r1, m, 20), c.edge(a, b, 10),
                                                 c.edge(m, b, 10),  c.edge(b, r2, 10), c.edge(a, r2, 30),
                                                 c.edge(r2, d, 10), c.edge(d, r1, 10)};
    const TDB_EDGE* outside = c.edge(a, r3, 10);
    std::vector<TDC_SUB_DOMAIN_EDGE> records;
    for (const TDB_EDGE* e : region) records.push_back({e->get_id(), 400, 0.4f});
    records.push_back({outside->get_id(), 50, 0.05f});
    c.build({domain_data(0, records)});
    c.region(0, a, region);
    MORV_TIMING_ITE_DOMAIN_INFO* dom = c.ite->get_domain(0);
    const std::vector<TDB_EDGE*> expected =
        c.ite->build_edge_rev_topo_order(dom->m_analysis_src_keepers, dom->m_analysis_edges, dom);
    ASSERT_EQ(expected.size(), region.size());
    c.ite->fsyn_ite_do_slack_preparation_adjustments(dom);
    ASSERT_TRUE(dom->m_edge_order_built);
    EXPECT_EQ(dom->m_edge_order, expected);
    ASSERT_EQ(dom->m_edge_order_records.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i)
        EXPECT_EQ(dom->m_edge_order_records[i], dom->edge_record(expected[i]->get_id())) << "edge " << i;
    // Outside the region, a -> r3 keeps its slack and still bounds a.
    EXPECT_EQ(c.slack(0, outside), 50);
    EXPECT_EQ(c.node_map(dom->m_src_node_min_slack, a), 50);
    // The estimation takes the prepared order and times every region edge.
    c.ite->fsyn_ite_do_timing_estimation();
    EXPECT_EQ(c.ite->get_estimation_stats().m_analysed_edges, static_cast<int>(region.size()));
    EXPECT_EQ(data(c.ite.get(), region[3]).m_arrival_time, 30);    // r1 -> m -> b
    EXPECT_EQ(data(c.ite.get(), region[2]).m_required_time, 980);  // a -> b -> r2
    EXPECT_EQ(data(c.ite.get(), region[5]).m_required_time, 970);  // a -> r2 at 30
    c.ite->fsyn_ite_post_timing_estimation_cleanup();
    EXPECT_FALSE(dom->m_edge_order_built);
    EXPECT_TRUE(dom->m_edge_order.empty());
}

TEST_F(MorvTimingIteEstimate, ASlackThatWouldFallOrADeltaWhereNoneMayBeIsAnInternalError)
{
    RELAX x;
    MORV_TIMING_ITE_DOMAIN_INFO* d = x.ite->get_domain(0);
    int delta = 5;
    EXPECT_EQ(internal_error_of([&] { x.ite->forward_slack_adjustment(d, x.b, false, delta); }), "delta_slack == 0");
    d->m_dst_node_min_slack[x.b->get_id()] = 500;
    delta = 0;
    EXPECT_EQ(internal_error_of([&] { x.ite->forward_slack_adjustment(d, x.b, false, delta); }),
              "cur_wc_input_slack >= old_wc_input_slack");
    d->m_src_node_min_slack[x.b->get_id()] = 500;
    EXPECT_EQ(internal_error_of([&] { x.ite->backward_slack_adjustment(d, x.b, false, delta); }),
              "cur_wc_output_slack >= old_wc_output_slack");
}

// ------------------------------------------------------------------ domain slack ratios

TEST_F(MorvTimingIteEstimate, NormalisationTouchesTheRegionUnlessTheBoundsMove)
{
    RELAX x;
    MORV_TIMING_ITE_DOMAIN_INFO* d = x.ite->get_domain(0);
    auto rec = [&](const TDB_EDGE* e) { return d->edge_record(e->get_id()); };
    d->m_analysis_edges.erase(x.c_r4->get_id());  // a record this step needs
    for (const TDB_EDGE* e : {x.r1_a, x.a_b, x.b_r2, x.r3_b, x.a_c}) rec(e)->m_slack_ratio = 0.77f;
    // Bounds 0 and 1 as the full analysis left them: a NaN ratio in the
    // region gives 1.0, the edges outside keep theirs.
    d->m_min_slack_ratio = 0.0f;
    d->m_max_slack_ratio = 1.0f;
    rec(x.a_b)->m_raw_slack_ratio = k_NAN;
    x.ite->fsyn_ite_compute_domain_slack_ratios(d);
    EXPECT_FALSE(d->m_all_edges_modified);
    EXPECT_EQ(rec(x.a_b)->m_slack_ratio, 1.0f);
    EXPECT_NEAR(rec(x.r1_a)->m_slack_ratio, 0.3, 1e-6);
    EXPECT_EQ(rec(x.r3_b)->m_slack_ratio, 0.77f);
    EXPECT_NEAR(d->m_full_min_slack_ratio, 0.1, 1e-6);
    // A raw ratio below 0 moves the lower bound: every record is redone.
    rec(x.b_r2)->m_raw_slack_ratio = -0.25f;
    x.ite->fsyn_ite_compute_domain_slack_ratios(d);
    EXPECT_TRUE(d->m_all_edges_modified);
    EXPECT_EQ(d->m_min_slack_ratio, -0.25f);
    EXPECT_EQ(rec(x.b_r2)->m_slack_ratio, 0.0f);
    EXPECT_NEAR(rec(x.r3_b)->m_slack_ratio, 0.35 / 1.25, 1e-6);
    EXPECT_EQ(rec(x.a_b)->m_slack_ratio, 1.0f);
    EXPECT_EQ(d->m_full_min_slack_ratio, 0.0f);
}

TEST_F(MorvTimingIteEstimate, AnEqualSlackKeepsTheNodeMapsAndAnEmptyOrderStillRenormalises)
{
    // r1 -> a -> r2 timed at exactly its stored slack: 1000 - 20 = 980.
    CRAFTED c;
    TDB_NODE *ck = c.pin(TDB_NODE_INPUT_PIN), *r1 = c.reg(0, 0), *r2 = c.reg(0, 0), *a = c.lut();
    c.clock(ck, r1, 0);
    c.clock(ck, r2, 0);
    TDB_EDGE *e1 = c.edge(r1, a, 10), *e2 = c.edge(a, r2, 10);
    c.build({domain_data(0, {{e1->get_id(), 980, 0.98f}, {e2->get_id(), 980, 0.98f}}),
             domain_data(1, {{e1->get_id(), 400, 0.2f}, {e2->get_id(), 900, 0.9f}})});
    MORV_TIMING_ITE_DOMAIN_INFO* d = c.ite->get_domain(0);
    c.region(0, nullptr, {e1, e2});
    d->m_dst_node_min_slack[a->get_id()] = 7;  // a marker the estimate must leave alone
    d->edge_record(e2->get_id())->m_raw_slack_ratio = 0.5f;
    c.ite->fsyn_ite_do_timing_estimation();
    EXPECT_EQ(c.slack(0, e2), 980);
    EXPECT_EQ(c.node_map(d->m_dst_node_min_slack, a), 7);
    EXPECT_NEAR(d->edge_record(e2->get_id())->m_raw_slack_ratio, 0.98, 1e-5);
    c.ite->fsyn_ite_post_timing_estimation_cleanup();
    // Domain 1's source keeper r2 reaches nothing in its region, yet the
    // moved raw ratio of e1 renormalises the domain.
    MORV_TIMING_ITE_DOMAIN_INFO* d1 = c.ite->get_domain(1);
    d1->m_do_analysis = true;
    d1->m_analysis_src_keepers.insert(r2->get_id());
    d1->edge_record(e1->get_id())->m_raw_slack_ratio = -1.0f;
    // The record changed behind the engine's back: the extremes its build
    // found are void.
    d1->m_raw_sr_extremes_known = false;
    c.ite->fsyn_ite_do_timing_estimation();
    EXPECT_EQ(c.ite->get_estimation_stats().m_analysed_edges, 0);
    EXPECT_TRUE(d1->m_all_edges_modified);
    EXPECT_NEAR(d1->edge_record(e2->get_id())->m_slack_ratio, 0.95, 1e-6);
    c.ite->fsyn_ite_post_timing_estimation_cleanup();
}

// ------------------------------------------------------------------ long chains

TEST_F(MorvTimingIteEstimate, AFiftyThousandNodeChainIsWalkedWithoutRecursion)
{
    constexpr int k_length = 50000;
    CRAFTED c;
    TDB_NODE *ck = c.pin(TDB_NODE_INPUT_PIN), *r1 = c.reg(0, 0), *r2 = c.reg(0, 0);
    c.tdb.reserve(2 * k_length + 8, 2 * k_length + 8);
    // The capture clock runs through a tree of as many buffers.
    TDB_NODE* buffer = c.lut();
    c.edge(ck, buffer, 1);
    for (int i = 1; i < k_length; ++i) {
        TDB_NODE* next = c.lut();
        c.edge(buffer, next, 1);
        buffer = next;
    }
    c.clock(ck, r1, 1);
    c.clock(buffer, r2, 1);
    std::vector<const TDB_EDGE*> edges;
    std::vector<TDC_SUB_DOMAIN_EDGE> records;
    TDB_NODE* node = r1;
    for (int i = 0; i <= k_length; ++i) {
        TDB_NODE* next = i == k_length ? r2 : c.lut();
        edges.push_back(c.edge(node, next, 1));
        records.push_back({edges.back()->get_id(), 0, 0.0f});
        node = next;
    }
    c.build({domain_data(0, records)});
    c.region(0, edges[1]->get_src_node(), edges);
    c.estimate();
    // Launch 1 + 50,001 ps of logic against 1000 + a 50,001 ps capture.
    for (const TDB_EDGE* e : {edges.front(), edges[k_length / 2], edges.back()}) EXPECT_EQ(c.slack(0, e), 999);
    EXPECT_EQ(c.ite->get_estimation_stats().m_analysed_edges, k_length + 1);
    c.ite->fsyn_ite_post_timing_estimation_cleanup();
}

}  // namespace morv_timing_ite_estimate_test
