// The incremental timing estimator up to its full analysis: the figure of
// merit with its weights, the domain records from crafted sub-domain data,
// the slack-ratio line, tightening, annotation of shared edges, the
// comparison with a full analysis, keeper lookups, the timing-netlist dumps
// and switching iTEst on through the timing front end.

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <limits>
#include <string>
#include <vector>

#include "cfg/cfg.h"
#include "tdb/tdb_netlist.h"
#include "tdc/tdc_accessories.h"

#include "morv/timing/morv_timing_ite.h"
#include "log_capture.h"
#include "timing_fixture.h"

namespace morv_timing_ite_test {

namespace {

using MorvTimingIte = MORV_CLEAN_STATE_TEST;

constexpr float k_NAN = std::numeric_limits<float>::quiet_NaN();

TDC_SUB_DOMAIN_DATA domain_data(int id, int type, int key, std::vector<TDC_SUB_DOMAIN_EDGE> edges, bool io = false,
                                bool inter_clock = false)
{
    TDC_SUB_DOMAIN_DATA d;
    d.m_sub_domain_id = id;
    d.m_type = type;
    d.m_group_key = key;
    d.m_not_core_1 = io;
    d.m_not_core_2 = inter_clock;
    d.m_requirement = 1000;
    d.m_edges = std::move(edges);
    return d;
}

// An engine over a timing netlist made by hand: registers (keepers with
// their own output terms) and LUT nodes between them.
struct CRAFTED
{
    CRAFTED() : ite(morv_create_timing_ite(t.api())) {}

    TDB_NODE* reg()
    {
        CDB_ATOM_NODE* atom = t.atom(CDB_KIND_REGISTER);
        CDB_ATOM_OTERM* q = atom->add_output_term(DB_REG_OUT, nullptr);
        return tdb.add_node(static_cast<int>(atom->get_id()), TDB_NODE_REGISTER, q);
    }
    TDB_NODE* lut()
    {
        CDB_ATOM_NODE* atom = t.atom(CDB_KIND_LCELL_COMB);
        CDB_ATOM_OTERM* y = atom->add_output_term(DB_COMB_OUT, nullptr);
        return tdb.add_node(static_cast<int>(atom->get_id()), 0, y);
    }
    int edge(TDB_NODE* from, TDB_NODE* to) { return tdb.add_edge(from, to, nullptr, false, 10, 0)->get_id(); }
    void build(const std::vector<TDC_SUB_DOMAIN_DATA>& data)
    {
        ite->attach_tdb_netlist(&tdb);
        ite->build_domains(&data);
        ite->build_edge_domains();
    }
    MORV_TIMING_ITE_DOMAIN_INFO* domain(int id) { return ite->get_domain(id); }
    MORV_TIMING_ITE_EDGE_SLACK_RATIOS* record(int domain_id, int edge_id)
    {
        return domain(domain_id)->edge_record(edge_id);
    }

    TIMING_NETLIST t{CDB_FAMILY_BRK};
    TDB_NETLIST tdb;
    MORV_OWNER<MORV_TIMING_ITE> ite;
};

// r1 -> l1 -> r2 and r2 -> l2 -> r1: four edges.
struct LOOP : CRAFTED
{
    LOOP()
    {
        r1 = reg();
        r2 = reg();
        l1 = lut();
        l2 = lut();
        e1 = edge(r1, l1);
        e2 = edge(l1, r2);
        e3 = edge(r2, l2);
        e4 = edge(l2, r1);
    }
    TDB_NODE *r1, *r2, *l1, *l2;
    int e1, e2, e3, e4;
};

}  // namespace

// ------------------------------------------------------------------ figure of merit

TEST_F(MorvTimingIte, TheSlackWeightsBendAt250500And2000)
{
    EXPECT_DOUBLE_EQ(MORV_TIMING_ITE::slack_weight(-100), -100.0);
    EXPECT_DOUBLE_EQ(MORV_TIMING_ITE::slack_weight(0), 0.0);
    EXPECT_DOUBLE_EQ(MORV_TIMING_ITE::slack_weight(250), 125.0);
    EXPECT_DOUBLE_EQ(MORV_TIMING_ITE::slack_weight(251), 125.25);
    EXPECT_DOUBLE_EQ(MORV_TIMING_ITE::slack_weight(500), 187.5);
    EXPECT_DOUBLE_EQ(MORV_TIMING_ITE::slack_weight(501), 187.5625);
    EXPECT_DOUBLE_EQ(MORV_TIMING_ITE::slack_weight(2000), 281.25);
    EXPECT_DOUBLE_EQ(MORV_TIMING_ITE::slack_weight(2256), 282.25);
    // The stand-in analyser weighs alike.
    for (int s : {-7, 0, 249, 250, 499, 500, 1999, 2000, 123456})
        EXPECT_DOUBLE_EQ(MORV_TIMING_ITE::slack_weight(s), tdc_slack_weight(s)) << s;
}

TEST_F(MorvTimingIte, GroupsSumTheirClockDomainsAndEachOtherTypeAddsItsLeastWeightOnce)
{
    LOOP c;
    // Group 0: two clock domains (worst 100 ps); group 1: only a TSU domain;
    // two TCO domains; no TPD domain.
    c.build({domain_data(0, ITE_DOMAIN_CLOCK, 0, {{c.e1, 300, 0.3f}}),
             domain_data(1, ITE_DOMAIN_CLOCK, 0, {{c.e2, 100, 0.1f}}, false, true),
             domain_data(2, ITE_DOMAIN_TSU, 1, {{c.e3, 600, 0.6f}}, true),
             domain_data(3, ITE_DOMAIN_TCO, 2, {{c.e4, 2000, 0.9f}}, true),
             domain_data(4, ITE_DOMAIN_TCO, 2, {{c.e1, 250, 0.2f}}, true)});
    c.ite->update_figure_of_merit();
    EXPECT_DOUBLE_EQ(c.ite->get_figure_of_merit(), 50.0 + (187.5 + 6.25) + 125.0);
}

TEST_F(MorvTimingIte, WithoutSubDomainsTheFigureIsZeroAndTypesWithoutDomainsTraceNan)
{
    cfg_set_value("fsyn_ite_debug_full", "on");
    LOOP c;
    MORV_LOG_CAPTURE log(2);
    c.ite = morv_create_timing_ite(c.t.api());
    c.build({});
    EXPECT_EQ(c.ite->get_num_domains(), 0);
    EXPECT_EQ(c.ite->get_num_domain_groups(), 0);
    for (int e : {c.e1, c.e2, c.e3, c.e4}) EXPECT_EQ(c.ite->get_edge_domain(e), EDGE_DOMAIN_NONE);
    c.ite->update_figure_of_merit();
    EXPECT_EQ(c.ite->get_figure_of_merit(), 0.0);
    int nan_lines = 0;
    for (const std::string& line : log.lines())
        if (line.find("FOM T") != std::string::npos && line.find("nan") != std::string::npos) ++nan_lines;
    EXPECT_EQ(nan_lines, 3);
}

TEST_F(MorvTimingIte, ADomainLeftWithoutEdgesAddsNothing)
{
    LOOP c;
    c.build({domain_data(0, ITE_DOMAIN_CLOCK, 0, {{c.e1, 100, 0.1f}}),
             domain_data(1, ITE_DOMAIN_CLOCK, 1, {{c.e2, -40, 0.0f}}),
             domain_data(2, ITE_DOMAIN_TCO, 2, {{c.e3, -300, 0.0f}}, true)});
    c.ite->update_figure_of_merit();
    EXPECT_DOUBLE_EQ(c.ite->get_figure_of_merit(), 50.0 - 40.0 - 300.0);
    // Edits empty the second clock group and the TCO domain: neither may
    // weigh its unbounded slack (millions) into the figure.
    for (int id : {1, 2}) {
        c.domain(id)->m_edge_slack_ratios.clear();
        c.domain(id)->m_do_analysis = true;
        // The records changed behind the engine's back: its last scan is void.
        c.domain(id)->m_wc_slack_known = false;
    }
    c.ite->update_figure_of_merit();
    EXPECT_EQ(c.domain(1)->m_wc_slack, ITE_NO_SLACK);
    EXPECT_DOUBLE_EQ(c.ite->get_figure_of_merit(), 50.0);
}

TEST_F(MorvTimingIte, AnUnknownDomainTypeIsAnInternalError)
{
    LOOP c;
    c.build({domain_data(0, 7, 0, {{c.e1, 100, 0.1f}})});
    EXPECT_EQ(internal_error_of([&] { c.ite->update_figure_of_merit(); }), "ERROR: Unsupported domain type.");
}

// ------------------------------------------------------------------ domain build

TEST_F(MorvTimingIte, OnlyAdjacentEqualKeysShareAGroup)
{
    LOOP c;
    c.build({domain_data(0, ITE_DOMAIN_CLOCK, 5, {{c.e1, 1, 0.1f}}),
             domain_data(1, ITE_DOMAIN_CLOCK, 5, {}, false, true), domain_data(2, ITE_DOMAIN_CLOCK, 3, {}),
             domain_data(3, ITE_DOMAIN_CLOCK, 5, {})});
    EXPECT_EQ(c.ite->get_num_domain_groups(), 3);
    EXPECT_EQ(c.domain(0)->m_group, 0);
    EXPECT_EQ(c.domain(1)->m_group, 0);
    EXPECT_EQ(c.domain(2)->m_group, 1);
    EXPECT_EQ(c.domain(3)->m_group, 2);
    // Group 0 lists its one core domain, then the terminator.
    const MORV_TIMING_ITE_DOMAIN_GROUP_CLOCK_DOMAINS& g0 = c.ite->get_group_clock_domains(0);
    EXPECT_EQ(g0.m_domains[0], 0);
    EXPECT_EQ(g0.m_domains[1], ITE_NO_DOMAIN);
    // A domain without edges keeps its starting values.
    EXPECT_EQ(c.domain(2)->m_wc_slack, ITE_NO_SLACK);
    EXPECT_EQ(c.domain(2)->m_min_slack_ratio, 1.0f);
    EXPECT_EQ(c.domain(2)->m_max_slack_ratio, 0.0f);
    EXPECT_EQ(internal_error_of([&] { c.ite->get_group_clock_domains(3); }), "invalid vector<T> subscript");
    EXPECT_EQ(internal_error_of([&] { c.ite->get_domain(4); }), "invalid vector<T> subscript");
}

// a -> b -> c -> a is a loop of LUTs entered from r1 through d; c feeds
// r2. Domain 0 (an I/O domain: its keepers only launch or only capture)
// runs r1 -> d -> a -> b -> c -> r2; domain 1 holds d -> a alone, so no
// keeper has a role in it. Every node of the loop reaches what any of them
// reaches, whichever the walk enters first, and a node's cone is walked once
// for all the questions of one estimation.
TEST_F(MorvTimingIte, TheConesOfALoopShareWhatTheyReachAndEachIsWalkedOnce)
{
    CRAFTED c;
    TDB_NODE* r1 = c.reg();
    TDB_NODE* r2 = c.reg();
    TDB_NODE* d = c.lut();
    TDB_NODE* a = c.lut();
    TDB_NODE* b = c.lut();
    TDB_NODE* l = c.lut();
    const int r1_d = c.edge(r1, d), d_a = c.edge(d, a), a_b = c.edge(a, b), b_l = c.edge(b, l);
    c.edge(l, a);
    const int l_r2 = c.edge(l, r2);
    c.build({domain_data(0, ITE_DOMAIN_TSU, 0,
                         {{r1_d, 5, 0.5f}, {d_a, 5, 0.5f}, {a_b, 5, 0.5f}, {b_l, 5, 0.5f}, {l_r2, 5, 0.5f}}, true),
             domain_data(1, ITE_DOMAIN_TSU, 0, {{d_a, 9, 0.9f}}, true)});
    MORV_TIMING_ITE& ite = *c.ite;
    ite.begin_cone_memo();
    const long before = ite.get_cone_evaluations();
    EXPECT_TRUE(ite.reaches_keeper_in(b, {0}, true));
    EXPECT_EQ(ite.get_cone_evaluations() - before, 3);  // b, l, a
    EXPECT_TRUE(ite.reaches_keeper_in(a, {0}, true));
    EXPECT_FALSE(ite.reaches_keeper_in(l, {1}, true));
    EXPECT_EQ(ite.get_cone_evaluations() - before, 3);
    EXPECT_TRUE(ite.reaches_keeper_in(d, {1, 0}, true));
    EXPECT_EQ(ite.get_cone_evaluations() - before, 4);
    // Backward, r1 launches domain 0's paths; r2 launches none.
    EXPECT_TRUE(ite.reaches_keeper_in(l, {0}, false));
    EXPECT_EQ(ite.get_cone_evaluations() - before, 8);  // l, b, a, d
    EXPECT_FALSE(ite.reaches_keeper_in(a, {1}, false));
    EXPECT_EQ(ite.get_cone_evaluations() - before, 8);
}

TEST_F(MorvTimingIte, AGroupListsAtMostFourCoreClockDomains)
{
    LOOP c;
    std::vector<TDC_SUB_DOMAIN_DATA> data;
    for (int i = 0; i < 4; ++i) data.push_back(domain_data(i, ITE_DOMAIN_CLOCK, 0, {}));
    // Flags set: not core, whatever the type.
    data.push_back(domain_data(4, ITE_DOMAIN_CLOCK, 0, {}, false, true));
    data.push_back(domain_data(5, ITE_DOMAIN_TSU, 0, {}, true));
    c.build(data);
    const MORV_TIMING_ITE_DOMAIN_GROUP_CLOCK_DOMAINS& g = c.ite->get_group_clock_domains(0);
    EXPECT_EQ(std::vector<int>(g.m_domains, g.m_domains + 4), (std::vector<int>{0, 1, 2, 3}));

    LOOP fifth;
    data.push_back(domain_data(6, ITE_DOMAIN_TPD, 0, {}));
    EXPECT_EQ(internal_error_of([&] { fifth.build(data); }),
              "num_clock_domains < FSYN_TIMING_ITE_MAX_DOMAIN_GROUP_CLOCK_DOMAINS");
}

TEST_F(MorvTimingIte, KeeperTypesAreOredAndNodesKeepTheirLeastSlack)
{
    LOOP c;
    c.build({domain_data(0, ITE_DOMAIN_CLOCK, 0, {{c.e1, 40, 0.4f}, {c.e2, 20, 0.2f}, {c.e4, 70, 0.7f}}),
             domain_data(1, ITE_DOMAIN_CLOCK, 0, {{c.e2, 30, 0.3f}, {c.e3, 50, 0.5f}}, false, true),
             domain_data(2, ITE_DOMAIN_TCO, 1, {{c.e1, 60, 0.6f}}, true)});
    MORV_TIMING_ITE_DOMAIN_INFO* core = c.domain(0);
    EXPECT_EQ(core->m_keeper_types[c.r1->get_id()], DKT_BOTH);
    EXPECT_EQ(core->m_keeper_types[c.r2->get_id()], DKT_BOTH);
    EXPECT_FALSE(core->m_keeper_types.contains(c.l1->get_id()));
    // r2 captures e2 and launches e3 in a flagged domain: SRC | DST.
    EXPECT_EQ(c.domain(1)->m_keeper_types[c.r2->get_id()], DKT_BOTH);
    EXPECT_FALSE(c.domain(1)->m_keeper_types.contains(c.r1->get_id()));
    EXPECT_EQ(c.domain(2)->m_keeper_types[c.r1->get_id()], DKT_SRC);
    EXPECT_EQ(core->m_oterm_keeper_ids.size(), 2u);
    MORV_TIMING_ITE_OTERM_INFO r1_info;
    r1_info.m_atom_id = c.r1->get_atom_id();
    r1_info.m_port_type = DB_REG_OUT;
    EXPECT_EQ(core->m_oterm_keeper_ids[&r1_info], c.r1->get_id());

    EXPECT_EQ(core->m_src_node_min_slack[c.l1->get_id()], 20);
    EXPECT_EQ(core->m_dst_node_min_slack[c.l1->get_id()], 40);
    EXPECT_EQ(core->m_wc_slack, 20);
    EXPECT_FLOAT_EQ(core->m_min_slack_ratio, 0.2f);
    EXPECT_FLOAT_EQ(core->m_max_slack_ratio, 0.7f);
    EXPECT_FLOAT_EQ(core->m_full_min_slack_ratio, 0.2f);
    EXPECT_TRUE(core->m_do_analysis);
    EXPECT_FALSE(core->m_ready_for_estimation);
    EXPECT_TRUE(std::isnan(core->m_sr_lr_slope));
}

TEST_F(MorvTimingIte, AnEdgeInThreeDomainsSharesOneVectorWithThreeBits)
{
    LOOP c;
    c.build({domain_data(0, ITE_DOMAIN_CLOCK, 0, {{c.e1, 1, 0.1f}, {c.e2, 1, 0.1f}}),
             domain_data(1, ITE_DOMAIN_TSU, 0, {{c.e1, 1, 0.1f}}, true),
             domain_data(2, ITE_DOMAIN_TCO, 1, {{c.e3, 1, 0.1f}}, true),
             domain_data(3, ITE_DOMAIN_TPD, 2, {{c.e1, 1, 0.1f}}, true)});
    EXPECT_EQ(c.ite->get_edge_domain(c.e1), EDGE_DOMAIN_SHARED);
    EXPECT_EQ(c.ite->get_edge_domain(c.e2), 0);
    EXPECT_EQ(c.ite->get_edge_domain(c.e3), 2);
    EXPECT_EQ(c.ite->get_edge_domain(c.e4), EDGE_DOMAIN_NONE);
    const MORV_BIT_VECTOR* shared = c.ite->get_shared_edge_domains(c.e1);
    ASSERT_NE(shared, nullptr);
    EXPECT_EQ(shared->size(), 4u);
    EXPECT_EQ(shared->to_string(), "[ 0 1 3 ]");
    EXPECT_EQ(c.ite->get_shared_edge_domains(c.e2), nullptr);
}

TEST_F(MorvTimingIte, BadSubDomainDataIsAnInternalError)
{
    LOOP c;
    EXPECT_EQ(internal_error_of([&] {
                  c.build({domain_data(0, ITE_DOMAIN_CLOCK, 0, {{c.e4 + 1, 1, 0.1f}})});
              }),
              "invalid vector<T> subscript");
    LOOP removed;
    removed.tdb.remove_edge(removed.tdb.find_edge(removed.e2));
    EXPECT_EQ(internal_error_of([&] {
                  removed.build({domain_data(0, ITE_DOMAIN_CLOCK, 0, {{removed.e2, 1, 0.1f}})});
              }),
              "edge != NULL");
    LOOP misnumbered;
    EXPECT_EQ(internal_error_of([&] { misnumbered.build({domain_data(1, ITE_DOMAIN_CLOCK, 0, {})}); }),
              "domain_info->m_id == (int) sub_domain_data->m_sub_domain_id");
}

// ------------------------------------------------------------------ slack-ratio line

TEST_F(MorvTimingIte, TheLineThroughExactPointsLeavesNoAdjustment)
{
    LOOP c;
    // ratio = 0.0005 x slack + 0.1
    c.build({domain_data(0, ITE_DOMAIN_CLOCK, 0, {{c.e1, 0, 0.1f}, {c.e2, 400, 0.3f}, {c.e3, 1000, 0.6f}})});
    MORV_TIMING_ITE_DOMAIN_INFO* d = c.domain(0);
    c.ite->compute_sr_lr_approximation_for_domain(d);
    EXPECT_NEAR(d->m_sr_lr_slope, 0.0005, 1e-7);
    EXPECT_NEAR(d->m_sr_lr_intercept, 0.1, 1e-6);
    for (int e : {c.e1, c.e2, c.e3}) EXPECT_NEAR(c.record(0, e)->m_raw_sr_adjustment, 0.0, 1e-6) << e;
    EXPECT_TRUE(d->m_ready_for_estimation);
    EXPECT_EQ(internal_error_of([&] { c.ite->compute_sr_lr_approximation_for_domain(d); }),
              "!domain_info->m_ready_for_estimation");
    EXPECT_EQ(internal_error_of([&] { c.ite->compute_sr_lr_approximation_for_domain(nullptr); }),
              "domain_info != NULL");
}

// One slack value fixes no slope: the line takes the analyser's own,
// 1 / (requirement - min(0, worst slack)), through the mean point, so that
// the ratios still follow the slacks once they move.
TEST_F(MorvTimingIte, EqualSlacksTakeTheAnalysersSlopeThroughTheMeanAndNanEdgesStayOut)
{
    LOOP c;
    c.build({domain_data(0, ITE_DOMAIN_CLOCK, 0, {{c.e1, 300, 0.2f}, {c.e2, 300, 0.4f}, {c.e3, -5, k_NAN}})});
    MORV_TIMING_ITE_DOMAIN_INFO* d = c.domain(0);
    c.ite->compute_sr_lr_approximation_for_domain(d);
    // The worst slack, -5, widens the span to 1005.
    EXPECT_FLOAT_EQ(d->m_sr_lr_slope, 1.0f / 1005.0f);
    EXPECT_NEAR(d->m_sr_lr_intercept, 0.3 - 300.0 / 1005.0, 1e-6);
    EXPECT_NEAR(c.record(0, c.e1)->m_raw_sr_adjustment, -0.1, 1e-6);
    EXPECT_NEAR(c.record(0, c.e2)->m_raw_sr_adjustment, 0.1, 1e-6);
    EXPECT_TRUE(std::isnan(c.record(0, c.e3)->m_raw_sr_adjustment));
    // A single passing edge: its ratio is slack / requirement, exactly the
    // line, and a failing one is the zero of its own line.
    LOOP one;
    one.build({domain_data(0, ITE_DOMAIN_TSU, 0, {{one.e1, 250, 0.25f}}, true),
               domain_data(1, ITE_DOMAIN_TCO, 1, {{one.e2, -250, 0.0f}}, true)});
    for (int id : {0, 1}) one.ite->compute_sr_lr_approximation_for_domain(one.domain(id));
    EXPECT_FLOAT_EQ(one.domain(0)->m_sr_lr_slope, 0.001f);
    EXPECT_NEAR(one.domain(0)->m_sr_lr_intercept, 0.0, 1e-6);
    EXPECT_FLOAT_EQ(one.domain(1)->m_sr_lr_slope, 1.0f / 1250.0f);
    EXPECT_NEAR(one.domain(1)->m_sr_lr_intercept, 0.2, 1e-6);
    EXPECT_NEAR(one.domain(1)->m_zero_slack_raw_sr, 0.2, 1e-6);
    // Constant ratios: R^2 is 1.
    LOOP flat;
    flat.build({domain_data(0, ITE_DOMAIN_CLOCK, 0, {{flat.e1, 10, 0.5f}, {flat.e2, 900, 0.5f}})});
    flat.ite->compute_sr_lr_approximation_for_domain(flat.domain(0));
    EXPECT_EQ(flat.ite->compute_sr_lr_r2(flat.domain(0)), 1.0f);
}

TEST_F(MorvTimingIte, CoreDomainsFitOnEdgesTheyDoNotShareUnlessAllAreShared)
{
    cfg_set_value("fsyn_ite_debug_full", "on");
    LOOP c;
    MORV_LOG_CAPTURE log(2);
    c.ite = morv_create_timing_ite(c.t.api());
    // Domain 0 shares e3 with core domain 1; e3 lies off domain 0's line.
    // Domain 1 shares everything, so it fits on ALL; domain 2 is flagged and
    // never excludes an edge.
    c.build({domain_data(0, ITE_DOMAIN_CLOCK, 0, {{c.e1, 0, 0.0f}, {c.e2, 100, 0.1f}, {c.e3, 200, 0.9f}}),
             domain_data(1, ITE_DOMAIN_CLOCK, 0, {{c.e3, 200, 0.5f}}),
             domain_data(2, ITE_DOMAIN_CLOCK, 0, {{c.e3, 200, 0.5f}, {c.e1, 0, 0.1f}}, false, true)});
    EXPECT_TRUE(c.ite->is_edge_shared_with_other_core_clock_domain(c.domain(0), c.e3));
    EXPECT_FALSE(c.ite->is_edge_shared_with_other_core_clock_domain(c.domain(0), c.e1));
    EXPECT_FALSE(c.ite->is_edge_shared_with_other_core_clock_domain(c.domain(2), c.e3));
    for (int id : {0, 1, 2}) c.ite->compute_sr_lr_approximation_for_domain(c.domain(id));
    EXPECT_NEAR(c.domain(0)->m_sr_lr_slope, 0.001, 1e-7);
    EXPECT_NEAR(c.domain(0)->m_sr_lr_intercept, 0.0, 1e-6);
    EXPECT_NEAR(c.record(0, c.e3)->m_raw_sr_adjustment, 0.7, 1e-6);
    // Domain 1's single point takes the analyser's slope, 1 / 1000.
    EXPECT_FLOAT_EQ(c.domain(1)->m_sr_lr_slope, 0.001f);
    EXPECT_NEAR(c.domain(1)->m_sr_lr_intercept, 0.3, 1e-6);
    EXPECT_NEAR(c.domain(2)->m_sr_lr_slope, 0.002, 1e-7);
    int some = 0, all = 0;
    for (const std::string& line : log.lines()) {
        some += line.find("using SOME edges (2 / 3 edges)") != std::string::npos;
        all += line.find("using ALL edges (1 / 1 edges)") != std::string::npos;
    }
    EXPECT_EQ(some, 1);
    EXPECT_EQ(all, 1);
}

TEST_F(MorvTimingIte, ADomainWhoseEdgesAllLackARatioIsAnInternalError)
{
    LOOP c;
    c.build({domain_data(0, ITE_DOMAIN_CLOCK, 0, {{c.e1, 10, k_NAN}, {c.e2, 20, k_NAN}}),
             domain_data(1, ITE_DOMAIN_CLOCK, 1, {})});
    EXPECT_EQ(internal_error_of([&] { c.ite->compute_sr_lr_approximation_for_domain(c.domain(0)); }),
              "iTEst: SR LR approximation not computed correctly");
    // Without edges the line stays NaN silently.
    c.ite->compute_sr_lr_approximation_for_domain(c.domain(1));
    EXPECT_TRUE(std::isnan(c.domain(1)->m_sr_lr_slope));
}

// ------------------------------------------------------------------ tightening and annotation

TEST_F(MorvTimingIte, TighteningMapsTheGlobalMinimumToZero)
{
    struct CASE
    {
        float gmin;
        float in, out;
    };
    // gmin 0.2: 0.2 -> 0, 0.6 -> 0.5, 1 stays; 0 and 1 leave every ratio.
    for (const CASE& k : {CASE{0.2f, 0.6f, 0.5f}, CASE{0.2f, 0.2f, 0.0f}, CASE{0.2f, 1.0f, 1.0f},
                          CASE{0.0f, 0.6f, 0.6f}, CASE{1.0f, 1.0f, 1.0f}}) {
        LOOP c;
        c.build({domain_data(0, ITE_DOMAIN_CLOCK, 0, {{c.e1, 5, k.gmin}, {c.e2, 9, k.in}})});
        c.ite->fsyn_ite_tighten_slack_ratios();
        EXPECT_FLOAT_EQ(c.ite->get_global_min_domain_sr(), k.gmin);
        EXPECT_NEAR(c.record(0, c.e2)->m_tightened_slack_ratio, k.out, 1e-6) << k.gmin << " " << k.in;
    }
    // A ratio below the minimum (an estimated one) clamps to 0.
    LOOP below;
    below.build({domain_data(0, ITE_DOMAIN_CLOCK, 0, {{below.e1, 5, 0.2f}, {below.e2, 9, 0.4f}})});
    below.record(0, below.e2)->m_slack_ratio = 0.1f;
    below.ite->fsyn_ite_tighten_slack_ratios();
    EXPECT_EQ(below.record(0, below.e2)->m_tightened_slack_ratio, 0.0f);
    // A NaN minimum (a domain never analysed) means no tightening.
    LOOP nan;
    nan.build({domain_data(0, ITE_DOMAIN_CLOCK, 0, {{nan.e1, 5, 0.3f}})});
    nan.domain(0)->m_full_min_slack_ratio = k_NAN;
    nan.ite->fsyn_ite_tighten_slack_ratios();
    EXPECT_EQ(nan.ite->get_global_min_domain_sr(), 1.0f);
    EXPECT_EQ(nan.record(0, nan.e1)->m_tightened_slack_ratio, 0.3f);
}

TEST_F(MorvTimingIte, AnUnchangedMinimumRetightensOnlyTheAnalysedEdges)
{
    LOOP c;
    c.build({domain_data(0, ITE_DOMAIN_CLOCK, 0, {{c.e1, 5, 0.2f}, {c.e2, 9, 0.6f}, {c.e3, 9, 0.6f}}),
             domain_data(1, ITE_DOMAIN_CLOCK, 1, {{c.e4, 5, 0.6f}})});
    c.ite->fsyn_ite_tighten_slack_ratios();
    for (int id : {0, 1}) c.domain(id)->m_do_analysis = false;
    c.domain(0)->m_do_analysis = true;
    c.domain(0)->m_analysis_edges.insert(c.e2);
    for (int e : {c.e2, c.e3}) c.record(0, e)->m_slack_ratio = 0.8f;
    c.record(1, c.e4)->m_slack_ratio = 0.8f;
    c.ite->fsyn_ite_tighten_slack_ratios();
    EXPECT_FLOAT_EQ(c.record(0, c.e2)->m_tightened_slack_ratio, 0.75f);
    EXPECT_FLOAT_EQ(c.record(0, c.e3)->m_tightened_slack_ratio, 0.5f);
    EXPECT_FLOAT_EQ(c.record(1, c.e4)->m_tightened_slack_ratio, 0.5f);
    c.domain(0)->m_all_edges_modified = true;
    c.ite->fsyn_ite_tighten_slack_ratios();
    EXPECT_FLOAT_EQ(c.record(0, c.e3)->m_tightened_slack_ratio, 0.75f);
}

TEST_F(MorvTimingIte, ASharedEdgeTakesItsLeastSlackAndLeastRatioFromDifferentDomains)
{
    LOOP c;
    c.build({domain_data(0, ITE_DOMAIN_CLOCK, 0, {{c.e1, 100, 0.7f}, {c.e2, 50, 0.5f}}),
             domain_data(1, ITE_DOMAIN_TSU, 0, {{c.e1, 300, 0.4f}}, true)});
    c.ite->fsyn_ite_tighten_slack_ratios();
    c.ite->fsyn_ite_annotate_slacks_and_slack_ratios();
    const TDB_EDGE* shared = c.tdb.find_edge(c.e1);
    EXPECT_EQ(shared->get_slack(), 100);
    EXPECT_FLOAT_EQ(shared->get_slack_ratio(), 0.0f);  // 0.4 is the global minimum
    EXPECT_EQ(c.tdb.find_edge(c.e2)->get_slack(), 50);
    EXPECT_NEAR(c.tdb.find_edge(c.e2)->get_slack_ratio(), 1.0 / 6.0, 1e-6);
}

// e1 lies in four domains, each of which lists it for the shared pass: it
// is written once, with the least of the four slacks and of the four ratios.
TEST_F(MorvTimingIte, AnEdgeOfFourDomainsIsWrittenOncePerAnnotation)
{
    LOOP c;
    c.build({domain_data(0, ITE_DOMAIN_CLOCK, 0, {{c.e1, 400, 0.9f}, {c.e2, 50, 0.5f}}),
             domain_data(1, ITE_DOMAIN_TSU, 0, {{c.e1, 300, 0.8f}}, true),
             domain_data(2, ITE_DOMAIN_TCO, 0, {{c.e1, 200, 0.6f}}, true),
             domain_data(3, ITE_DOMAIN_TPD, 0, {{c.e1, 700, 0.7f}}, true)});
    c.ite->fsyn_ite_tighten_slack_ratios();
    const long before = c.ite->get_shared_edge_annotations();
    c.ite->fsyn_ite_annotate_slacks_and_slack_ratios();
    EXPECT_EQ(c.ite->get_shared_edge_annotations() - before, 1);
    const TDB_EDGE* shared = c.tdb.find_edge(c.e1);
    EXPECT_EQ(shared->get_slack(), 200);
    // Tightened by the global least ratio 0.5: (0.6 - 0.5) / (1 - 0.5).
    EXPECT_NEAR(shared->get_slack_ratio(), 0.2, 1e-6);
}

// ------------------------------------------------------------------ on a real analysis

namespace {
// A pipeline timed by the front end with iTEst on.
struct ITEST_PIPELINE
{
    explicit ITEST_PIPELINE(int period_ps)
    {
        t.build_pipeline();
        tdc_get_accessories()->set_default_clock_period_ps(period_ps);
        t.analyse();
        t.timing()->set_use_itest(true);
        t.timing()->update_timing();
    }
    MORV_TIMING_ITE* ite() { return t.timing()->get_itest(); }

    TIMING_NETLIST t{CDB_FAMILY_BRK};
};
}  // namespace

TEST_F(MorvTimingIte, SwitchedOnWithoutTheIa2tSwitchItMatchesTheAnalyser)
{
    ITEST_PIPELINE p(10000);
    ASSERT_TRUE(p.t.timing()->is_itest_enabled());
    ASSERT_NE(p.ite(), nullptr);
    EXPECT_GT(p.ite()->get_num_domains(), 0);
    // Nothing is left marked for an analysis once the full analysis is done.
    for (int d = 0; d < p.ite()->get_num_domains(); ++d) EXPECT_FALSE(p.ite()->get_domain(d)->m_do_analysis) << d;
    EXPECT_FALSE(p.ite()->is_debug());
    EXPECT_DOUBLE_EQ(p.ite()->get_figure_of_merit(), tdc_get_accessories()->get_figure_of_merit());
    EXPECT_DOUBLE_EQ(p.t.timing()->get_figure_of_merit_value(), p.ite()->get_figure_of_merit());
    EXPECT_EQ(p.ite()->compare_with_full_timing_analysis().m_slack_diffs, 0);
    EXPECT_EQ(count_posted("EMORV_FSYN_ITEST_WITHOUT_IA2T"), 0);
}

TEST_F(MorvTimingIte, AnExplicitIa2tSwitchKeepsItestOffWithAnErrorNamingBoth)
{
    cfg_set_value("fsyn_disable_ia2t", "on");
    TIMING_NETLIST t(CDB_FAMILY_BRK);
    const long errors = msg_posted_error_count();
    t.timing()->set_use_itest(true);
    EXPECT_FALSE(t.timing()->is_itest_enabled());
    EXPECT_EQ(t.timing()->get_itest(), nullptr);
    EXPECT_EQ(msg_posted_error_count(), errors + 1);
    const std::string& text = msg_posted_messages().back().text;
    EXPECT_NE(text.find("fsyn_disable_ia2t"), std::string::npos);
    EXPECT_NE(text.find("fsyn_enable_ite"), std::string::npos);
}

TEST_F(MorvTimingIte, AnEstimationAfterAMarkRetimesWithoutTheAnalyserAndMatchesIt)
{
    ITEST_PIPELINE p(10000);
    const long before = tdc_get_accessories()->get_num_analyses();
    msg_clear_posted_messages();
    for (int round = 0; round < 2; ++round) {
        p.t.timing()->mark_node_changed(p.t.y1->get_my_node(), false);
        p.t.timing()->sync_timing_netlist(true, true);
        p.t.timing()->update_timing();
    }
    EXPECT_EQ(tdc_get_accessories()->get_num_analyses(), before);
    EXPECT_EQ(count_posted("WMORV_FSYN_NOT_AVAILABLE_YET"), 0);
    EXPECT_FALSE(p.t.timing()->is_refresh_pending());
    const double estimate = p.ite()->get_figure_of_merit();
    p.ite()->perform_full_timing_analysis();
    EXPECT_DOUBLE_EQ(estimate, p.ite()->get_figure_of_merit());
}

TEST_F(MorvTimingIte, TheComparisonCountsAnUnboundedSideApartWithoutOverflow)
{
    cfg_set_value("fsyn_ite_do_sr_compare_detail", "on");
    ITEST_PIPELINE p(20);  // every path fails
    MORV_TIMING_ITE* ite = p.ite();
    int negative_edge = -1;
    for (int d = 0; d < ite->get_num_domains() && negative_edge < 0; ++d)
        for (const auto& entry : ite->get_domain(d)->m_edge_slack_ratios)
            if (entry.second->m_slack < 0 && ite->get_edge_domain(entry.first) == d) {
                negative_edge = entry.first;
                entry.second->m_slack = ITE_NO_SLACK;
                entry.second->m_tightened_slack_ratio = 1.0f;
                break;
            }
    ASSERT_GE(negative_edge, 0);
    const int full_slack = tdc_get_accessories()->get_tdb_netlist()->find_edge(negative_edge)->get_slack();
    ite->fsyn_ite_annotate_slacks_and_slack_ratios();
    const MORV_TIMING_ITE_COMPARISON c = ite->compare_with_full_timing_analysis();
    EXPECT_EQ(c.m_slack_diffs, 1);
    EXPECT_EQ(c.m_max_abs_slack_diff, static_cast<int64_t>(ITE_NO_SLACK) - full_slack);
    EXPECT_EQ(c.m_filtered_slack_diffs, 0);
    EXPECT_EQ(c.m_filtered_max_abs_slack_diff, 0);
    EXPECT_EQ(c.m_sr_diffs, 1);
    // The comparison ends with iTEst's values on the netlist again.
    EXPECT_EQ(tdc_get_accessories()->get_tdb_netlist()->find_edge(negative_edge)->get_slack(), ITE_NO_SLACK);
}

TEST_F(MorvTimingIte, CleanupEmptiesAnalysedDomainsAndRefusesLeftoversElsewhere)
{
    LOOP c;
    c.build({domain_data(0, ITE_DOMAIN_CLOCK, 0, {{c.e1, 5, 0.2f}}), domain_data(1, ITE_DOMAIN_CLOCK, 1, {})});
    c.domain(0)->m_analysis_edges.insert(c.e1);
    c.domain(0)->m_analysis_start_nodes.insert(c.r1->get_id());
    c.ite->fsyn_ite_post_timing_estimation_cleanup();
    EXPECT_TRUE(c.domain(0)->m_analysis_edges.empty());
    EXPECT_FALSE(c.domain(0)->m_do_analysis);
    c.ite->check_idle_state();
    c.domain(1)->m_analysis_src_keepers.insert(c.r1->get_id());
    EXPECT_EQ(internal_error_of([&] { c.ite->fsyn_ite_post_timing_estimation_cleanup(); }),
              "domain_info->m_analysis_src_keepers.size() == 0");
}

// ------------------------------------------------------------------ keeper lookups

TEST_F(MorvTimingIte, KeeperLookupsFollowSingleChainsWithinOneAtom)
{
    CRAFTED c;
    // An input pin: a keeper without a term, whose internal edge reaches
    // the node carrying the pin's output; behind it a LUT.
    CDB_ATOM_NODE* pin_atom = c.t.atom(CDB_KIND_IO);
    CDB_ATOM_OTERM* pin_out = pin_atom->add_output_term(DB_DATA_OUT, nullptr);
    const int pin_id = static_cast<int>(pin_atom->get_id());
    TDB_NODE* pin = c.tdb.add_node(pin_id, TDB_NODE_PIN | TDB_NODE_INPUT_PIN, nullptr);
    TDB_NODE* mid = c.tdb.add_node(pin_id, 0, nullptr);
    TDB_NODE* out = c.tdb.add_node(pin_id, 0, pin_out);
    c.edge(pin, mid);
    c.edge(mid, out);
    EXPECT_EQ(MORV_TIMING_ITE::get_keeper_oterm(pin), pin_out);
    EXPECT_EQ(MORV_TIMING_ITE::get_keeper_of_node(out), pin);
    EXPECT_EQ(MORV_TIMING_ITE::get_keeper_of_node(pin), pin);
    EXPECT_EQ(internal_error_of([&] { MORV_TIMING_ITE::get_keeper_oterm(mid); }), "keeper->is_keeper()");

    TDB_NODE* lut = c.lut();
    c.edge(out, lut);
    EXPECT_EQ(internal_error_of([&] { MORV_TIMING_ITE::get_keeper_of_node(lut); }),
              "keeper->get_atom_id() == node->get_atom_id()");
    TDB_NODE* two_fanins = c.lut();
    c.edge(lut, two_fanins);
    c.edge(out, two_fanins);
    EXPECT_EQ(internal_error_of([&] { MORV_TIMING_ITE::get_keeper_of_node(two_fanins); }),
              "keeper->fanin_edges_size() == 1");

    // A keeper whose chain leaves its atom, or forks, before a term.
    TDB_NODE* lone = c.tdb.add_node(pin_id, TDB_NODE_REGISTER, nullptr);
    c.edge(lone, lut);
    EXPECT_EQ(internal_error_of([&] { MORV_TIMING_ITE::get_keeper_oterm(lone); }),
              "oterm_node->get_atom_id() == keeper->get_atom_id()");
    TDB_NODE* forked = c.tdb.add_node(pin_id, TDB_NODE_REGISTER, nullptr);
    c.edge(forked, lut);
    c.edge(forked, two_fanins);
    EXPECT_EQ(internal_error_of([&] { MORV_TIMING_ITE::get_keeper_oterm(forked); }), "oterm != NULL");
}

// ------------------------------------------------------------------ dumps

TEST_F(MorvTimingIte, TimingNetlistDumpsAreNumberedByTheirBeforeDumpAndTheFilterOnlyStopsTheFiles)
{
    namespace fs = std::filesystem;
    cfg_set_value("fsyn_ite_debug_dump_tdb_netlists", "on");
    cfg_set_value("fsyn_ite_debug_filter", "on");
    ITEST_PIPELINE filtered(10000);
    MORV_TIMING_ITE::reset_tdb_netlist_dump_count();
    filtered.ite()->perform_full_timing_analysis();
    EXPECT_EQ(MORV_TIMING_ITE::get_tdb_netlist_dump_count(), 2);
    EXPECT_FALSE(fs::exists("1_before_full_annotate_tdb_netlist"));

    cfg_set_value("fsyn_ite_debug_filter", "off");
    MORV_OWNER<MORV_TIMING_ITE> ite = morv_create_timing_ite(filtered.t.api());
    ite->perform_full_timing_analysis();
    EXPECT_TRUE(fs::exists("3_before_full_annotate_tdb_netlist"));
    EXPECT_TRUE(fs::exists("4_before_full_annotate_tdb_netlist"));
    ite->dump_tdb_netlist("ite", true, false);
    ite->dump_tdb_netlist("ite", false, true);
    EXPECT_TRUE(fs::exists("5_before_ite_tdb_netlist"));
    EXPECT_TRUE(fs::exists("5_after_ite_tdb_netlist"));
    // The estimation dumps before and after; the comparison's dump of the
    // real analysis is a before-dump too.
    EXPECT_TRUE(ite->perform_timing_estimation());
    EXPECT_TRUE(fs::exists("6_before_ite_tdb_netlist"));
    EXPECT_TRUE(fs::exists("6_after_ite_tdb_netlist"));
    ite->compare_with_full_timing_analysis();
    EXPECT_TRUE(fs::exists("7_before_real_tdb_netlist"));
    EXPECT_EQ(internal_error_of([&] { ite->dump_tdb_netlist("ite", true, true); }), "before ^ after");
    EXPECT_EQ(internal_error_of([&] { ite->dump_tdb_netlist(nullptr, true, false); }), "desc != NULL");
}

}  // namespace morv_timing_ite_test
