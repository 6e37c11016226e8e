// The incremental timing estimator up to its full analysis: the figure of
// merit with its weights, the domain records from crafted sub-domain data,
// the slack-ratio line, tightening, annotation of shared edges, the
// comparison with a full analysis, keeper lookups, the timing-netlist dumps
// and switching iTEst on through the timing front end.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <limits>
#include <string>
#include <utility>
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

bool has_line(const std::vector<std::string>& lines, const std::string& line)
{
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

int count_starting(const std::vector<std::string>& lines, const std::string& start)
{
    return static_cast<int>(
        std::count_if(lines.begin(), lines.end(), [&](const std::string& l) { return l.rfind(start, 0) == 0; }));
}

// The value printed after `prefix` on the first line starting with it; NaN
// when there is none.
double printed_value(const std::vector<std::string>& lines, const std::string& prefix)
{
    for (const std::string& l : lines)
        if (l.rfind(prefix, 0) == 0) return std::stod(l.substr(prefix.size()));
    return std::nan("");
}

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
// an estimate of an edge whose slack moves (slope x slack + intercept + the
// edge's adjustment) is the ratio the analyser gives it: the ratio moves by
// the slack's change over that span. Requirement 1000 ps in every case.
TEST_F(MorvTimingIte, EqualSlacksTakeTheAnalysersSlopeThroughTheMeanAndNanEdgesStayOut)
{
    struct CASE
    {
        const char* what;
        int type;
        std::vector<std::pair<int, float>> points;  // slack, raw ratio of e1, e2, ...
        float slope, intercept;
        int moved_slack;     // e1's new slack
        double moved_ratio;  // what the analyser gives it
    };
    const CASE cases[] = {
        // Worst slack -5 (an edge without a ratio): span 1005; mean (300, 0.3).
        {"two ratios at one slack",
         ITE_DOMAIN_CLOCK,
         {{300, 0.2f}, {300, 0.4f}, {-5, k_NAN}},
         1.0f / 1005.0f,
         0.3f - 300.0f / 1005.0f,
         400,
         0.2 + 100.0 / 1005.0},
        // A passing edge: ratio = slack / 1000.
        {"one passing edge", ITE_DOMAIN_TSU, {{250, 0.25f}}, 0.001f, 0.0f, 400, 0.4},
        // A failing edge: ratio = (slack + 250) / 1250.
        {"one failing edge", ITE_DOMAIN_TCO, {{-250, 0.0f}}, 1.0f / 1250.0f, 0.2f, 0, 0.2},
    };
    for (const CASE& k : cases) {
        LOOP c;
        const int ids[] = {c.e1, c.e2, c.e3};
        std::vector<TDC_SUB_DOMAIN_EDGE> edges;
        for (size_t i = 0; i < k.points.size(); ++i) edges.push_back({ids[i], k.points[i].first, k.points[i].second});
        c.build({domain_data(0, k.type, 0, edges, k.type != ITE_DOMAIN_CLOCK)});
        MORV_TIMING_ITE_DOMAIN_INFO* d = c.domain(0);
        c.ite->compute_sr_lr_approximation_for_domain(d);
        EXPECT_FLOAT_EQ(d->m_sr_lr_slope, k.slope) << k.what;
        EXPECT_NEAR(d->m_sr_lr_intercept, k.intercept, 1e-6) << k.what;
        const MORV_TIMING_ITE_EDGE_SLACK_RATIOS* e1 = c.record(0, c.e1);
        EXPECT_NEAR(d->m_sr_lr_slope * static_cast<float>(e1->m_slack) + d->m_sr_lr_intercept + e1->m_raw_sr_adjustment,
                    k.points[0].second, 1e-6)
            << k.what << ": an unmoved edge keeps its ratio";
        EXPECT_NEAR(d->m_sr_lr_slope * static_cast<float>(k.moved_slack) + d->m_sr_lr_intercept +
                        e1->m_raw_sr_adjustment,
                    k.moved_ratio, 1e-6)
            << k.what;
    }
    LOOP c;
    c.build({domain_data(0, ITE_DOMAIN_CLOCK, 0, {{c.e1, 300, 0.2f}, {c.e2, 300, 0.4f}, {c.e3, -5, k_NAN}})});
    c.ite->compute_sr_lr_approximation_for_domain(c.domain(0));
    EXPECT_NEAR(c.record(0, c.e1)->m_raw_sr_adjustment, -0.1, 1e-6);
    EXPECT_NEAR(c.record(0, c.e2)->m_raw_sr_adjustment, 0.1, 1e-6);
    EXPECT_TRUE(std::isnan(c.record(0, c.e3)->m_raw_sr_adjustment));
    // The failing domain's line crosses 0 slack at 0.2.
    LOOP failing;
    failing.build({domain_data(0, ITE_DOMAIN_TCO, 0, {{failing.e1, -250, 0.0f}}, true)});
    failing.ite->compute_sr_lr_approximation_for_domain(failing.domain(0));
    EXPECT_NEAR(failing.domain(0)->m_zero_slack_raw_sr, 0.2, 1e-6);
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

// R^2 of the line over the points it may use, traced with the line when
// both switches are on; below 0.9 a warning follows. Points by hand:
// (0, 0), (100, 0.3), (200, 0.2) fit 0.001 x + 0.0667; SS_reg = 0.02 and
// SS_tot = 0.04667 give 3/7. Exact points give 1, and so do constant ratios
// (SS_tot 0).
TEST_F(MorvTimingIte, TheLinesRSquaredIsTracedAndAPoorFitWarned)
{
    struct CASE
    {
        const char* what;
        std::vector<std::pair<int, float>> points;
        bool trace, r2_switch;
        double r2;  // NaN: no R^2 line
        bool warned;
    };
    const double none = std::nan("");
    const CASE cases[] = {
        {"scattered", {{0, 0.0f}, {100, 0.3f}, {200, 0.2f}}, true, true, 3.0 / 7.0, true},
        {"on the line", {{0, 0.1f}, {400, 0.3f}, {1000, 0.6f}}, true, true, 1.0, false},
        {"constant ratios", {{10, 0.5f}, {900, 0.5f}}, true, true, 1.0, false},
        {"switch off", {{0, 0.0f}, {100, 0.3f}, {200, 0.2f}}, true, false, none, false},
        {"not tracing", {{0, 0.0f}, {100, 0.3f}, {200, 0.2f}}, false, true, none, false},
    };
    for (const CASE& k : cases) {
        cfg_set_value("fsyn_ite_debug_full", k.trace ? "on" : "off");
        cfg_set_value("fsyn_ite_debug_compute_sr_lr_r2", k.r2_switch ? "on" : "off");
        LOOP c;
        MORV_LOG_CAPTURE log(2);
        c.ite = morv_create_timing_ite(c.t.api());
        const int ids[] = {c.e1, c.e2, c.e3};
        std::vector<TDC_SUB_DOMAIN_EDGE> edges;
        for (size_t i = 0; i < k.points.size(); ++i) edges.push_back({ids[i], k.points[i].first, k.points[i].second});
        c.build({domain_data(0, ITE_DOMAIN_CLOCK, 0, edges)});
        c.ite->compute_sr_lr_approximation_for_domain(c.domain(0));
        const std::vector<std::string> lines = log.lines();
        const double r2 = printed_value(lines, "        R^2 coefficient = ");
        if (std::isnan(k.r2)) {
            EXPECT_TRUE(std::isnan(r2)) << k.what;
        } else {
            EXPECT_NEAR(r2, k.r2, 1e-5) << k.what;
        }
        EXPECT_EQ(count_starting(lines, "iTEst: WARNING! Potential issue with SR LR approximation in domain (id = 0, "
                                        "requirement 1000, R^2 = 0.4285"),
                  k.warned ? 1 : 0)
            << k.what;
    }
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

// ------------------------------------------------------------------ copies and record updates

// A copy of r1's term to a register b is carried into the domains where r1
// is a keeper; once b's term is gone (b itself stands, with a term of
// another port) the copy is skipped.
TEST_F(MorvTimingIte, ACopyToATermThatIsGoneChangesNoDomain)
{
    for (bool gone : {false, true}) {
        cfg_set_value("fsyn_ite_debug_full", "on");
        LOOP c;
        MORV_LOG_CAPTURE log(2);
        c.ite = morv_create_timing_ite(c.t.api());
        c.build({domain_data(0, ITE_DOMAIN_CLOCK, 0, {{c.e1, 20, 0.2f}, {c.e2, 40, 0.4f}}),
                 domain_data(1, ITE_DOMAIN_TCO, 1, {{c.e3, 50, 0.5f}}, true)});
        CDB_ATOM_NODE* b = c.t.atom(CDB_KIND_REGISTER);
        b->add_output_term(DB_COMB_OUT, nullptr);
        CDB_ATOM_OTERM* b_q = b->add_output_term(DB_REG_OUT, nullptr);
        const int b_keeper = c.tdb.add_node(static_cast<int>(b->get_id()), TDB_NODE_REGISTER, b_q)->get_id();
        c.ite->track_oterm_copy(c.r1->get_oterm(false), b_q);
        const MORV_TIMING_ITE_OTERM_INFO b_info = MORV_TIMING_ITE::oterm_info_of(b_q);
        if (gone) b->delete_output_term(b_q);
        const size_t keys = c.domain(0)->m_oterm_keeper_ids.size();
        c.ite->update_domain_information_from_copied_oterms();
        EXPECT_EQ(c.ite->get_num_oterm_copies(), 0u) << gone;
        EXPECT_EQ(c.domain(0)->m_oterm_keeper_ids.size(), keys + (gone ? 0 : 1)) << gone;
        EXPECT_EQ(c.domain(0)->m_oterm_keeper_ids.contains(&b_info), !gone);
        if (!gone) {
            EXPECT_EQ(c.domain(0)->m_oterm_keeper_ids[&b_info], b_keeper);
            EXPECT_EQ(c.domain(0)->keeper_type(b_keeper), DKT_BOTH);
        }
        EXPECT_EQ(c.domain(0)->m_keeper_types.contains(b_keeper), !gone);
        // r1 is no keeper of domain 1: nothing there either way.
        EXPECT_FALSE(c.domain(1)->m_keeper_types.contains(b_keeper)) << gone;
        EXPECT_EQ(has_line(log.lines(), "iTEst:       atom/oterm has been deleted"), gone);
    }
}

// A keeper node new since the last analysis whose term a domain knows takes
// the role the term's keeper has there, unless it has one already; a new
// keeper of a term no domain knows, and a new node that is no keeper, get
// none. Domain 0 (clock) gives r1 and r2 both roles, domain 1 (setup) r1
// the source role, domain 2 (clock-to-output) r2 the source role.
TEST_F(MorvTimingIte, ANewKeeperNodeOfAKnownTermInheritsItsRoles)
{
    cfg_set_value("fsyn_ite_debug_full", "on");
    LOOP c;
    MORV_LOG_CAPTURE log(2);
    c.ite = morv_create_timing_ite(c.t.api());
    c.build({domain_data(0, ITE_DOMAIN_CLOCK, 0, {{c.e1, 20, 0.2f}, {c.e2, 40, 0.4f}}),
             domain_data(1, ITE_DOMAIN_TSU, 0, {{c.e1, 30, 0.3f}}, true),
             domain_data(2, ITE_DOMAIN_TCO, 1, {{c.e3, 50, 0.5f}}, true)});
    const int r1_again = c.tdb.add_node(c.r1->get_atom_id(), TDB_NODE_REGISTER, c.r1->get_oterm(false))->get_id();
    const int r2_again = c.tdb.add_node(c.r2->get_atom_id(), TDB_NODE_REGISTER, c.r2->get_oterm(false))->get_id();
    const int stranger = c.reg()->get_id();
    const int lut = c.lut()->get_id();
    c.domain(2)->m_keeper_types[r2_again] = DKT_DST;  // a role of its own already
    std::vector<size_t> keys;
    for (int d = 0; d < 3; ++d) keys.push_back(c.domain(d)->m_oterm_keeper_ids.size());

    c.ite->update_new_nodes_and_edges();
    EXPECT_FALSE(c.ite->is_latch_analysis_needed());
    struct ROLE
    {
        int domain, node, type;  // 0: none
    };
    const ROLE roles[] = {{0, r1_again, DKT_BOTH},
                          {0, r2_again, DKT_BOTH},
                          {1, r1_again, DKT_SRC},
                          {1, r2_again, 0},
                          {2, r1_again, 0},
                          {2, r2_again, DKT_DST},
                          {0, stranger, 0},
                          {1, stranger, 0},
                          {2, stranger, 0},
                          {0, lut, 0},
                          {1, lut, 0},
                          {2, lut, 0}};
    for (const ROLE& r : roles) {
        const MORV_TIMING_ITE_DOMAIN_INFO* d = c.domain(r.domain);
        EXPECT_EQ(d->m_keeper_types.contains(r.node) ? d->keeper_type(r.node) : 0, r.type)
            << "node " << r.node << " in domain " << r.domain;
    }
    // The term map still names the keepers of the last analysis.
    for (int d = 0; d < 3; ++d) EXPECT_EQ(c.domain(d)->m_oterm_keeper_ids.size(), keys[static_cast<size_t>(d)]) << d;
    const std::vector<std::string> lines = log.lines();
    EXPECT_EQ(count_starting(lines, "iTEst:    new node "), 3);  // r1_again, r2_again, stranger
    EXPECT_TRUE(has_line(lines, "iTEst:       adding non-dup-oterm keeper " + std::to_string(r1_again) +
                                    " to domain 1 as SRC (src keeper is " + std::to_string(c.r1->get_id()) + ")"));

    // A source keeper without a valid role is an internal error.
    LOOP bad;
    bad.build({domain_data(0, ITE_DOMAIN_CLOCK, 0, {{bad.e1, 20, 0.2f}})});
    bad.tdb.add_node(bad.r1->get_atom_id(), TDB_NODE_REGISTER, bad.r1->get_oterm(false));
    bad.domain(0)->m_keeper_types[bad.r1->get_id()] = 4;
    EXPECT_EQ(internal_error_of([&] { bad.ite->update_new_nodes_and_edges(); }),
              "domain_keeper_type == DKT_SRC || domain_keeper_type == DKT_DST || domain_keeper_type == DKT_BOTH");
}

// An edge made and removed again between two analyses leaves a new id with
// an empty table entry: in no domain, no record, no line fitted.
TEST_F(MorvTimingIte, ANewEdgeIdWithAnEmptyEntryIsInNoDomain)
{
    cfg_set_value("fsyn_ite_debug_full", "on");
    LOOP c;
    MORV_LOG_CAPTURE log(2);
    c.ite = morv_create_timing_ite(c.t.api());
    c.build({domain_data(0, ITE_DOMAIN_CLOCK, 0, {{c.e1, 20, 0.2f}, {c.e2, 40, 0.4f}, {c.e3, 60, 0.6f}})});
    const int first = c.edge(c.r2, c.l1);
    const int second = c.edge(c.l2, c.r2);
    for (int id : {first, second}) c.tdb.remove_edge(c.tdb.find_edge(id));
    const long fits = c.ite->get_line_fits();
    c.ite->update_new_nodes_and_edges();
    for (int id : {first, second}) {
        EXPECT_EQ(c.ite->get_edge_domain(id), EDGE_DOMAIN_NONE) << id;
        EXPECT_FALSE(c.domain(0)->m_edge_slack_ratios.contains(id)) << id;
        EXPECT_TRUE(has_line(log.lines(), "iTEst:    new edge " + std::to_string(id) + " is in no domain")) << id;
    }
    EXPECT_TRUE(has_line(log.lines(), "iTEst: updating 2 new edges, id range [" + std::to_string(first) + ", " +
                                          std::to_string(second) + "]"));
    EXPECT_EQ(c.domain(0)->m_edge_slack_ratios.size(), 3u);
    EXPECT_EQ(c.ite->get_line_fits(), fits);
    EXPECT_FALSE(c.domain(0)->m_ready_for_estimation);
}

// ------------------------------------------------------------------ dumps

namespace {
// e1 (r1 -> l1) is in the clock domain 0 and the setup domain 1, without a
// ratio there; e2 (l1 -> r2) in domain 0 alone. In the clock domain r1 and
// r2 have both roles, in the setup domain r1 starts paths.
struct DUMPED : LOOP
{
    DUMPED()
    {
        cfg_set_value("fsyn_ite_debug_full", "on");
        ite = morv_create_timing_ite(t.api());
        build({domain_data(0, ITE_DOMAIN_CLOCK, 0, {{e1, 20, 0.2f}, {e2, 40, 0.4f}}),
               domain_data(1, ITE_DOMAIN_TSU, 0, {{e1, 30, k_NAN}}, true)});
    }
    std::string keeper_line(const TDB_NODE* keeper, const char* type) const
    {
        return "      atom node " + std::to_string(keeper->get_atom_id()) + ", oterm [port: q (" +
               std::to_string(DB_REG_OUT) + "), literal index: 0] -> keeper " + std::to_string(keeper->get_id()) +
               " -> domain keeper type " + type;
    }
};
}  // namespace

TEST_F(MorvTimingIte, TheDomainDumpListsEachDomainsKeepersAndEdges)
{
    DUMPED c;
    MORV_LOG_CAPTURE log(2);
    c.ite->dump_domain_info();
    const std::vector<std::string> lines = log.lines();
    const std::string e1 = std::to_string(c.e1), e2 = std::to_string(c.e2);
    const std::vector<std::string> wanted = {
        "iTEst: domain info (id = 0, domain group = 0, requirement = 1000, type = 0, io = 0, inter-clock = 0)",
        "   oterms:",
        c.keeper_line(c.r1, "SRC+DST"),
        c.keeper_line(c.r2, "SRC+DST"),
        "   edges:",
        "      edge " + e1 + ", slack = 20, slack ratio (relaxed) = 0.200000 [valid] [shared]",
        "      edge " + e2 + ", slack = 40, slack ratio (relaxed) = 0.400000 [valid] ",
        "iTEst: domain info (id = 1, domain group = 0, requirement = 1000, type = 1, io = 1, inter-clock = 0)",
        c.keeper_line(c.r1, "SRC"),
        "      edge " + e1 + ", slack = 30, slack ratio (relaxed) = nan [invalid] [shared]",
    };
    for (const std::string& line : wanted) EXPECT_TRUE(has_line(lines, line)) << line;
    EXPECT_EQ(lines.size(), 12u);
    // A keeper whose role is gone is UNKNOWN.
    c.domain(1)->m_keeper_types.erase(c.r1->get_id());
    MORV_LOG_CAPTURE again(2);
    c.ite->dump_domain_info();
    EXPECT_TRUE(has_line(again.lines(), c.keeper_line(c.r1, "UNKNOWN")));
}

// Domain 0 is analysed from r1 over e1 after its line (0.01 x + 0 through
// both points) and the tightening by the least ratio 0.2: e1 0, e2 0.25.
// Domain 1 is not analysed and has no line yet.
TEST_F(MorvTimingIte, TheAnalysisDumpListsTheRegionLineAndRecordsOfEachDomain)
{
    DUMPED c;
    c.ite->compute_sr_lr_approximation_for_domain(c.domain(0));
    c.ite->fsyn_ite_tighten_slack_ratios();
    MORV_TIMING_ITE_DOMAIN_INFO* d0 = c.domain(0);
    d0->m_analysis_start_nodes.insert(c.r1->get_id());
    d0->m_analysis_src_keepers.insert(c.r1->get_id());
    d0->m_analysis_edges.insert(c.e1);
    c.domain(1)->m_do_analysis = false;
    MORV_LOG_CAPTURE log(2);
    c.ite->dump_domain_analysis_info();
    const std::vector<std::string> lines = log.lines();
    const std::string r1 = std::to_string(c.r1->get_id()), e1 = std::to_string(c.e1), e2 = std::to_string(c.e2);
    const std::vector<std::string> wanted = {
        "iTEst: domain for analysis (id = 0, domain group = 0, analyze = 1, requirement = 1000 ps, type = 0, io = 0, "
        "inter-clock=0, # source keepers = 1, edges = 1)",
        "        start nodes:",
        "           " + r1 + " (" + r1 + ") (start node)",
        "        source keepers:",
        "           " + r1 + " (" + r1 + ") (src keeper)",
        "        edges:",
        "           " + e1 + " (edge analyze)",
        "        slack ratio linear regression parameters: m = 0.010000, b = 0.000000",
        "        calculated slack ratio parameters: all edges modified = 0, min raw sr = 0.200000, max raw sr = "
        "0.400000, min domain sr = 0.200000",
        "        edge slack ratios:",
        "           edge " + e1 +
            ": (slack, raw sr, raw sr adjust, domain sr, tightened sr) = (20, 0.200000, 0.000000, 0.200000, 0.000000)",
        "           edge " + e2 +
            ": (slack, raw sr, raw sr adjust, domain sr, tightened sr) = (40, 0.400000, 0.000000, 0.400000, 0.250000)",
        "iTEst: domain for analysis (id = 1, domain group = 0, analyze = 0, requirement = 1000 ps, type = 1, io = 1, "
        "inter-clock=0, # source keepers = 0, edges = 0)",
        "        slack ratio linear regression parameters: m = nan, b = nan",
    };
    for (const std::string& line : wanted) EXPECT_TRUE(has_line(lines, line)) << line;
    // Domain 1 lists no region.
    EXPECT_EQ(count_starting(lines, "        start nodes:"), 1);
}

// The dumps run after a full analysis (both) and an estimation (the
// analysis one) when the dump switch is on, and print only while tracing.
TEST_F(MorvTimingIte, TheDomainDumpSwitchPrintsOnlyWhileTracing)
{
    struct CASE
    {
        const char* dump;
        const char* full;
        const char* filter;
        bool printed;
    };
    const CASE cases[] = {
        {"on", "on", "off", true}, {"on", "off", "off", false}, {"on", "on", "on", false}, {"off", "on", "off", false}};
    for (const CASE& k : cases) {
        const std::string what = std::string("dump ") + k.dump + ", full " + k.full + ", filter " + k.filter;
        cfg_set_value("fsyn_ite_debug_dump_domain_info", k.dump);
        cfg_set_value("fsyn_ite_debug_full", k.full);
        cfg_set_value("fsyn_ite_debug_filter", k.filter);
        ITEST_PIPELINE p(10000);
        // Made after the compile, which sets the logger up.
        MORV_LOG_CAPTURE log(2);
        p.ite()->perform_full_timing_analysis();
        const int domains = p.ite()->get_num_domains();
        ASSERT_GT(domains, 0) << what;
        EXPECT_TRUE(p.ite()->perform_timing_estimation()) << what;
        const std::vector<std::string> lines = log.lines();
        EXPECT_EQ(count_starting(lines, "iTEst: domain info (id = "), k.printed ? domains : 0) << what;
        EXPECT_EQ(count_starting(lines, "iTEst: domain for analysis (id = "), k.printed ? 2 * domains : 0) << what;
    }
}

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
