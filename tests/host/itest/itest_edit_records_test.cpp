// iTEst's records after single edits through the facade on a small
// hand-made design whose every domain has a worse path elsewhere, so that
// the edits below estimate instead of falling back: marks and deletions,
// copies of register outputs, removed and new edges and their domains, the
// restriction around an edited node, walks over shared edges, and the
// rebuilds of the timing netlist after which only a full analysis will do.

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "cdb/cdb_atom_netlist.h"
#include "cfg/cfg.h"
#include "gen/gen.h"
#include "hdb/hdb_instance_name.h"
#include "host_env.h"
#include "io/blif_reader.h"
#include "msg/msg.h"
#include "tdb/tdb_netlist.h"
#include "tdc/tdc_accessories.h"

#include "morv/core/algorithm/morv_algorithm_base.h"
#include "morv/core/morv_api.h"
#include "morv/core/morv_expert.h"
#include "morv/netlist/morv_cdb_interface.h"
#include "morv/timing/morv_timing.h"
#include "morv/timing/morv_timing_ite.h"
#include "itest_regions.h"
#include "test_compile_setup.h"

namespace itest_edit_records_test {

using namespace morv_host;

namespace {

constexpr uint64_t k_BRK_BUFFER = 0x5555555555555555ull;

// in0 -> p1..p5 -> q5, out1: the worst TSU and TPD paths; q2 -> k1..k5 ->
// q2, out2: the worst clock and TCO paths. x = q1 & in0 feeds y, which feeds
// register q1 and out0, so x -> y lies in all four domains. q3 -> z -> q3 is
// a short clock-only loop; w = in0 -> v -> out3 a short TPD-only one.
const char* const k_DESIGN = R"(.model records
.inputs clk in0
.outputs out0 out1 out2 out3
.latch y q1 re clk 0
.latch p5 q5 re clk 0
.latch k5 q2 re clk 0
.latch z q3 re clk 0
.names in0 p1
1 1
.names p1 p2
1 1
.names p2 p3
1 1
.names p3 p4
1 1
.names p4 p5
1 1
.names q2 q3 k1
11 1
.names k1 k2
1 1
.names k2 k3
1 1
.names k3 k4
1 1
.names k4 k5
1 1
.names q1 in0 x
11 1
.names x y
1 1
.names q3 z
1 1
.names in0 w
1 1
.names w v
1 1
.names y out0
1 1
.names p5 out1
1 1
.names k5 out2
1 1
.names v out3
1 1
.end
)";

// r0 -> a1 .. a5 -> r1 is the worst clock path; a2 also feeds b -> r2, and
// a4 feeds r3 too.
const char* const k_FORK_DESIGN = R"(.model fork
.inputs clk in0
.outputs out0
.latch in0 r0 re clk 0
.latch a5 r1 re clk 0
.latch b r2 re clk 0
.latch a4 r3 re clk 0
.names r0 a1
1 1
.names a1 a2
1 1
.names a2 a3
1 1
.names a3 a4
1 1
.names a4 a5
1 1
.names a2 b
1 1
.names r1 r2 o
11 1
.names o out0
1 1
.end
)";

struct COMPILE
{
    // `latch`: the register of that name is built as a latch. `compare`:
    // each estimate is compared with a full analysis.
    explicit COMPILE(const char* latch = nullptr, const char* text = k_DESIGN, bool compare = true)
    {
        msg_set_quiet(true);
        if (compare) cfg_set_value("fsyn_ite_do_sr_compare", "on");
        BLIF_READER reader(CDB_FAMILY_BRK);
        design = std::make_unique<HOST_DESIGN>(CDB_FAMILY_BRK, reader.read_text(text, "records.blif"));
        if (latch != nullptr) make_latch(node(latch));
        env = std::make_unique<HOST_ENV>(*design);
        set_clock_below_critical_path(*env);
        MORV_EXPERT* expert = dynamic_cast<MORV_EXPERT*>(env->get_fsyn_expert());
        api = expert->get_fsyn_api();
        timing = api->get_fsyn_timing();
        DRIVER_FLAGS::run_only(expert, FIT_EARLY_FSYN_FLOW);
        timing->sync_timing_netlist(false, true);
        timing->perform_pre_placement_timing_analysis(false);
        timing->set_use_itest(true);
        timing->perform_pre_placement_timing_analysis(false);
        ite = timing->get_itest();
    }
    ~COMPILE() { cfg_unset("fsyn_ite_do_sr_compare"); }

    static void make_latch(CDB_ATOM_NODE* reg)
    {
        ASSERT_NE(reg, nullptr);
        auto* info = new CDB_ATOM_LATCH_INFO();
        info->is_latch = true;
        reg->set_latch_info(info);
    }

    CDB_ATOM_NODE* node(const std::string& name) const
    {
        for (CDB_ATOM_NODE* n : *design->netlist())
            if (n->get_instance_name()->get_short_hpath() == name) return n;
        return nullptr;
    }
    CDB_ATOM_OTERM* out(const std::string& name) const
    {
        CDB_ATOM_NODE* n = node(name);
        if (n == nullptr) return nullptr;
        CDB_ATOM_OTERM* o = n->get_output_term_by_type(DB_COMB_OUT);
        return o != nullptr ? o : n->get_output_term_by_type(DB_REG_OUT);
    }
    static TDB_NETLIST* netlist() { return tdc_get_accessories()->get_tdb_netlist(); }
    TDB_NODE* tnode(const std::string& name) const { return netlist()->get_tdb_node_from_oterm(out(name)); }
    // The edge from the node of `from`'s term to the node `to` (through a
    // term node of `to`'s input when there is one).
    TDB_EDGE* edge(const std::string& from, const std::string& to) const
    {
        TDB_NODE* src = tnode(from);
        if (src == nullptr) return nullptr;
        CDB_ATOM_NODE* dst = node(to);
        for (TDB_EDGE* e : src->fanout()) {
            const CDB_ATOM_ITERM* iterm = e->get_iterm();
            if (iterm != nullptr && iterm->get_my_node() == dst) return e;
        }
        return nullptr;
    }

    void reconnect(CDB_ATOM_ITERM* sink, CDB_ATOM_OTERM* from)
    {
        MORV_CDB_INTERFACE* cdb = api->get_fsyn_cdb_interface();
        api->modify_edge(sink, true);
        cdb->disconnect_fanin(sink, CDB_NET_ITERM::UNCONNECTED);
        if (from != nullptr) cdb->insert_fanin(sink, from);
        api->modify_edge(sink, false);
    }
    // A buffer LUT named `name` fed by `from`; without sinks.
    CDB_ATOM_NODE* buffer(const std::string& name, CDB_ATOM_OTERM* from)
    {
        MORV_CDB_INTERFACE* cdb = api->get_fsyn_cdb_interface();
        HDB_INSTANCE_NAME* iname =
            design->action_point().get_name_mgr()->find_or_create_path(name, HDB_INAME_FLAG_SYNTHESIZED);
        CDB_ATOM_NODE* lut = cdb->create_lcell_comb_brk(nullptr, iname);
        CDB_ATOM_ITERM* in = nullptr;
        CDB_ATOM_OTERM* o = nullptr;
        cdb->create_input_term(nullptr, in, lut, DB_DATA_A, 0);
        cdb->create_oterm(nullptr, o, lut, DB_COMB_OUT, iname);
        cdb->set_lutmask(lut, CDB_LUTMASK(6, k_BRK_BUFFER), 0);
        api->node_added(lut, from->get_my_node(), MORV_MODIFICATION_CREATE, MORV_MODIFICATION_CODE);
        cdb->insert_fanin(in, from);
        api->modify_edge(in, false);
        return lut;
    }
    // A buffer between `from` and the input of `sink` it feeds.
    CDB_ATOM_NODE* insert(const std::string& name, const std::string& from, const std::string& sink)
    {
        CDB_ATOM_ITERM* in = input_from(sink, from);
        CDB_ATOM_NODE* b = buffer(name, out(from));
        reconnect(in, b->get_output_term_by_type(DB_COMB_OUT));
        return b;
    }
    CDB_ATOM_ITERM* input_from(const std::string& sink, const std::string& from) const
    {
        CDB_ATOM_NODE* n = node(sink);
        CDB_ATOM_OTERM* o = out(from);
        for (auto it = n->begin_iterm(); it != n->end_iterm(); ++it)
            if ((*it)->get_source() == o) return *it;
        return nullptr;
    }

    // The estimation of the edits so far; true when it estimated.
    bool update()
    {
        const long estimates = ite->get_num_estimates();
        timing->perform_pre_placement_timing_analysis(false);
        return ite->get_num_estimates() > estimates;
    }
    double full_fom() const { return tdc_get_accessories()->get_figure_of_merit(); }

    std::unique_ptr<HOST_DESIGN> design;
    std::unique_ptr<HOST_ENV> env;
    MORV_API* api = nullptr;
    MORV_TIMING* timing = nullptr;
    MORV_TIMING_ITE* ite = nullptr;
};

// How often the record update looked at every old node or edge id because
// the marks had not foreseen a deletion.
long full_deletion_scans()
{
    long calls = 0;
    for (const GEN_PROFILE_BINS::BIN& bin : GEN_PROFILE_BINS::instance().get_bins())
        if (bin.name == "fsyn_ite_scan_all_old_nodes" || bin.name == "fsyn_ite_scan_all_old_edges")
            calls += static_cast<long>(bin.calls);
    return calls;
}

std::vector<int> domains_of(const MORV_TIMING_ITE* ite, const TDB_EDGE* e)
{
    MORV_BIT_VECTOR bits;
    bits.init(static_cast<uint64_t>(ite->get_num_domains()));
    ite->get_edge_domains(e->get_id(), bits);
    std::vector<int> out;
    for (int d = 0; d < ite->get_num_domains(); ++d)
        if (bits.test(static_cast<uint64_t>(d))) out.push_back(d);
    return out;
}

}  // namespace

// ---------------------------------------------------------------- worst path

// a4 moved from a3 to r0, then a3 deleted: a2 -> a3 leaves the worst path
// with a3, while a2 lives on through b and nothing marked reaches it. r0 ->
// a1 -> a2 keep their old worst slack unless the region reaches back from
// a2 to the keepers. The estimate must match the analyser on every edge.
TEST(ItestWorstPath, AnEdgeTakenOffTheWorstPathReTimesTheConeOfItsDriver)
{
    COMPILE c(nullptr, k_FORK_DESIGN);
    const TDB_EDGE* a1_a2 = c.edge("a1", "a2");
    ASSERT_NE(a1_a2, nullptr);
    const int old_slack = a1_a2->get_slack();
    c.reconnect(c.input_from("a4", "a3"), c.out("r0"));
    c.api->delete_node(c.node("a3"));
    EXPECT_TRUE(c.update()) << c.ite->get_last_fallback_reason();
    const MORV_TIMING_ITE_COMPARISON& cmp = c.ite->get_last_comparison();
    EXPECT_EQ(cmp.m_slack_diffs, 0);
    EXPECT_EQ(cmp.m_sr_diffs, 0);
    EXPECT_NEAR(c.ite->get_figure_of_merit(), c.full_fom(), 1e-6);
    // The old worst path's upstream edge was relaxed, not left as it was.
    EXPECT_GT(c.edge("a1", "a2")->get_slack(), old_slack);
}

// o's input from r2 moved to r0: r0 starts clock paths only, yet through o
// it now reaches out0, a clock-to-output path the records hold no edge of
// for r0. Only a full analysis can time it.
TEST(ItestWorstPath, ARegisterThatStartsPathsOfANewKindMakesAFullAnalysis)
{
    COMPILE c(nullptr, k_FORK_DESIGN);
    c.reconnect(c.input_from("o", "r2"), c.out("r0"));
    EXPECT_FALSE(c.update());
    ASSERT_NE(c.ite->get_last_fallback_reason(), nullptr);
    EXPECT_STREQ(c.ite->get_last_fallback_reason(), "an edit extends a domain over existing edges");
    EXPECT_NEAR(c.ite->get_figure_of_merit(), c.full_fom(), 1e-6);
}

// r3's input moved from a4 to the pin in0: r3 ends clock paths only, yet
// now a setup path from the pin. Only a full analysis can time it.
TEST(ItestWorstPath, ARegisterThatEndsPathsOfANewKindMakesAFullAnalysis)
{
    COMPILE c(nullptr, k_FORK_DESIGN);
    CDB_ATOM_NODE* r0 = c.node("r0");
    CDB_ATOM_OTERM* pin = nullptr;
    for (auto it = r0->begin_iterm(); it != r0->end_iterm(); ++it)
        if ((*it)->get_source() != nullptr && (*it)->get_source()->get_my_node() != c.node("clk"))
            pin = (*it)->get_source();
    ASSERT_NE(pin, nullptr);
    c.reconnect(c.input_from("r3", "a4"), pin);
    EXPECT_FALSE(c.update());
    ASSERT_NE(c.ite->get_last_fallback_reason(), nullptr);
    EXPECT_STREQ(c.ite->get_last_fallback_reason(), "an edit extends a domain over existing edges");
    EXPECT_NEAR(c.ite->get_figure_of_merit(), c.full_fom(), 1e-6);
}

// ---------------------------------------------------------------- marking

TEST(ItestMarking, ADeletionOutweighsAMarkWhicheverComesFirst)
{
    COMPILE c;
    CDB_ATOM_NODE* y = c.node("y");
    CDB_ATOM_NODE* v = c.node("v");
    c.ite->mark_node_for_analysis(y, false);
    c.ite->mark_node_for_analysis(y, true);
    EXPECT_FALSE(c.ite->is_marked_for_analysis(static_cast<int>(y->get_id())));
    EXPECT_TRUE(c.ite->is_marked_deleted(static_cast<int>(y->get_id())));
    c.ite->mark_node_for_analysis(v, true);
    c.ite->mark_node_for_analysis(v, false);
    EXPECT_FALSE(c.ite->is_marked_for_analysis(static_cast<int>(v->get_id())));
    // The next estimation empties both sets (neither atom was edited).
    c.ite->perform_timing_estimation();
    EXPECT_FALSE(c.ite->is_marked_deleted(static_cast<int>(y->get_id())));
    c.ite->mark_node_for_analysis(v, false);
    EXPECT_TRUE(c.ite->is_marked_for_analysis(static_cast<int>(v->get_id())));
}

// A -> B -> C copied in one interval and B deleted before the estimation:
// C must still get A's roles through the chain's root.
TEST(ItestMarking, ACopyOfACopyTakesTheRolesOfTheFirstTermEvenWhenTheMiddleOneIsGone)
{
    COMPILE c;
    CDB_ATOM_NODE* a = c.node("q2");
    const TDB_NODE* a_keeper = MORV_TIMING_ITE::get_keeper_of_node(c.tnode("q2"));
    CDB_ATOM_NODE* b = c.api->duplicate_oterm(a, DB_REG_OUT, true);
    ASSERT_NE(b, nullptr);
    c.api->node_added(b, a, MORV_MODIFICATION_DUPLICATE, MORV_MODIFICATION_CODE);
    CDB_ATOM_NODE* cc = c.api->duplicate_oterm(b, DB_REG_OUT, true);
    ASSERT_NE(cc, nullptr);
    c.api->node_added(cc, b, MORV_MODIFICATION_DUPLICATE, MORV_MODIFICATION_CODE);
    // C takes one of A's sinks, so that it is timed at all.
    c.reconnect(c.input_from("k1", "q2"), cc->get_output_term_by_type(DB_REG_OUT));
    EXPECT_EQ(c.ite->get_num_oterm_copies(), 2u);
    c.api->delete_node(b);
    c.update();
    EXPECT_EQ(c.ite->get_num_oterm_copies(), 0u);
    const TDB_NODE* c_keeper = MORV_TIMING_ITE::get_keeper_of_node(
        c.netlist()->get_tdb_node_from_oterm(cc->get_output_term_by_type(DB_REG_OUT)));
    ASSERT_NE(c_keeper, nullptr);
    int roles = 0;
    for (int d = 0; d < c.ite->get_num_domains(); ++d) {
        MORV_TIMING_ITE_DOMAIN_INFO* domain = c.ite->get_domain(d);
        if (!domain->m_keeper_types.contains(a_keeper->get_id())) continue;
        ++roles;
        EXPECT_TRUE(domain->m_keeper_types.contains(c_keeper->get_id())) << "domain " << d;
        if (domain->m_keeper_types.contains(c_keeper->get_id())) {
            EXPECT_EQ(domain->keeper_type(c_keeper->get_id()), domain->keeper_type(a_keeper->get_id()));
        }
    }
    EXPECT_GT(roles, 0);
    EXPECT_NEAR(c.ite->get_figure_of_merit(), c.full_fom(), 1.0);
}

TEST(ItestMarking, ACopyWhoseAtomWasDeletedIsSkipped)
{
    COMPILE c;
    CDB_ATOM_NODE* a = c.node("q3");
    CDB_ATOM_NODE* b = c.api->duplicate_oterm(a, DB_REG_OUT, true);
    ASSERT_NE(b, nullptr);
    c.api->node_added(b, a, MORV_MODIFICATION_DUPLICATE, MORV_MODIFICATION_CODE);
    c.api->delete_node(b);
    EXPECT_TRUE(c.update());
    EXPECT_EQ(c.ite->get_num_oterm_copies(), 0u);
    EXPECT_DOUBLE_EQ(c.ite->get_figure_of_merit(), c.full_fom());
}

// ---------------------------------------------------------- record update

TEST(ItestRecordUpdate, WithoutEditsTheEstimateIsTheFullAnalysis)
{
    COMPILE c;
    const int edges = c.netlist()->get_edge_id_bound(), nodes = c.netlist()->get_node_id_bound();
    EXPECT_TRUE(c.ite->perform_timing_estimation());
    EXPECT_TRUE(c.ite->get_nodes_for_analysis().empty());
    EXPECT_EQ(c.netlist()->get_edge_id_bound(), edges);
    EXPECT_EQ(c.netlist()->get_node_id_bound(), nodes);
    EXPECT_EQ(c.ite->get_estimation_stats().m_analysed_edges, 0);
    c.timing->perform_timing_analysis();
    EXPECT_DOUBLE_EQ(c.ite->get_figure_of_merit(), c.full_fom());
}

// The node of a deleted buffer leaves every per-node map, and a second
// estimation after it (the id still below the bound) finds nothing to clean.
TEST(ItestRecordUpdate, ADeletedNodeLeavesThePerNodeMaps)
{
    COMPILE c;
    const int id = c.tnode("z")->get_id();
    bool known = false;
    for (int d = 0; d < c.ite->get_num_domains(); ++d)
        known = known || c.ite->get_domain(d)->m_src_node_min_slack.contains(id) ||
                c.ite->get_domain(d)->m_dst_node_min_slack.contains(id);
    ASSERT_TRUE(known);
    c.reconnect(c.input_from("q3", "z"), c.out("q3"));
    c.api->delete_node(c.node("z"));
    GEN_PROFILE_BINS::instance().clear();
    EXPECT_TRUE(c.update()) << c.ite->get_last_fallback_reason();
    // The deleted atom was marked: its node and edges are found among the
    // marks, a miscount would send the update through every old id.
    EXPECT_EQ(full_deletion_scans(), 0);
    for (int d = 0; d < c.ite->get_num_domains(); ++d) {
        EXPECT_FALSE(c.ite->get_domain(d)->m_src_node_min_slack.contains(id)) << d;
        EXPECT_FALSE(c.ite->get_domain(d)->m_dst_node_min_slack.contains(id)) << d;
    }
    c.api->modify_node(c.node("v"));
    EXPECT_TRUE(c.update()) << c.ite->get_last_fallback_reason();
    EXPECT_NEAR(c.ite->get_figure_of_merit(), c.full_fom(), 1.0);
}

// x's pin input moved to register q2: x now brings {clock, TCO} but passes
// on {clock, TSU, TCO, TPD}. Its fan-out keeps the common domains, and the
// restriction carries on through y: y -> q1 keeps only the clock domain (a
// shared entry become single), y -> out0 only TCO.
TEST(ItestRecordUpdate, TheRestrictionAroundAnEditedNodeKeepsTheCommonDomainsDownstream)
{
    COMPILE c;
    TDB_EDGE* xy = c.edge("x", "y");
    ASSERT_EQ(domains_of(c.ite, xy), (std::vector<int>{0, 1, 2, 3}));
    std::vector<const TDB_EDGE*> y_out;
    for (const TDB_EDGE* e : c.tnode("y")->fanout()) y_out.push_back(e);
    ASSERT_EQ(y_out.size(), 2u);
    CDB_ATOM_ITERM* pin_input = nullptr;
    CDB_ATOM_NODE* x = c.node("x");
    for (auto it = x->begin_iterm(); it != x->end_iterm(); ++it)
        if ((*it)->get_source() != c.out("q1")) pin_input = *it;
    ASSERT_NE(pin_input, nullptr);
    c.reconnect(pin_input, c.out("q2"));
    ASSERT_TRUE(c.update()) << c.ite->get_last_fallback_reason();
    EXPECT_EQ(domains_of(c.ite, xy), (std::vector<int>{0, 2}));
    for (const TDB_EDGE* e : y_out) {
        const std::vector<int> d = domains_of(c.ite, e);
        ASSERT_EQ(d.size(), 1u) << e->get_id();
        EXPECT_NE(c.ite->get_edge_domain(e->get_id()), EDGE_DOMAIN_SHARED);
        EXPECT_EQ(c.ite->get_shared_edge_domains(e->get_id()), nullptr);
        EXPECT_TRUE(d[0] == 0 || d[0] == 2);
        EXPECT_FALSE(c.ite->get_domain(1)->m_edge_slack_ratios.contains(e->get_id()));
        EXPECT_FALSE(c.ite->get_domain(3)->m_edge_slack_ratios.contains(e->get_id()));
    }
    EXPECT_NEAR(c.ite->get_figure_of_merit(), c.full_fom(), 1.0);
}

namespace {

// k_DESIGN with the buffer y2 between y and its sinks q1 and out0.
std::string design_with_y2()
{
    std::string text = k_DESIGN;
    const auto swap = [&](const std::string& from, const std::string& to) {
        const size_t at = text.find(from);
        ASSERT_NE(at, std::string::npos) << from;
        text.replace(at, from.size(), to);
    };
    swap(".latch y q1", ".latch y2 q1");
    swap(".names y out0", ".names y2 out0");
    swap(".end", ".names y y2\n1 1\n.end");
    return text;
}

// x's pin input moved to register q2, as above.
void move_x_to_q2(COMPILE& c)
{
    CDB_ATOM_NODE* x = c.node("x");
    for (auto it = x->begin_iterm(); it != x->end_iterm(); ++it)
        if ((*it)->get_source() != c.out("q1")) {
            c.reconnect(*it, c.out("q2"));
            return;
        }
    ADD_FAILURE() << "x reads only q1";
}

}  // namespace

// A new buffer b between y and y2 in the same edit: y -> b and b -> y2 are
// new, with no slack of their own, so their leaving a domain re-times
// nothing and only the restriction itself goes on past y, through b and
// then y2, which reads nothing else. A restriction that stopped one node
// after the node it changed would leave y2's edges in all four domains.
TEST(ItestRecordUpdate, TheRestrictionCarriesOnPastNewEdgesWithoutSlack)
{
    const std::string text = design_with_y2();
    COMPILE c(nullptr, text.c_str());
    c.insert("b", "y", "y2");
    move_x_to_q2(c);
    ASSERT_TRUE(c.update()) << c.ite->get_last_fallback_reason();
    EXPECT_EQ(domains_of(c.ite, c.edge("y", "b")), (std::vector<int>{0, 2}));
    EXPECT_EQ(domains_of(c.ite, c.edge("b", "y2")), (std::vector<int>{0, 2}));
    const std::vector<int> to_q1 = domains_of(c.ite, c.edge("y2", "q1"));
    const std::vector<int> to_out0 = domains_of(c.ite, c.edge("y2", "out0"));
    ASSERT_EQ(to_q1.size(), 1u);
    ASSERT_EQ(to_out0.size(), 1u);
    EXPECT_NE(to_q1[0], to_out0[0]);
    EXPECT_TRUE(to_q1[0] == 0 || to_q1[0] == 2);
    EXPECT_TRUE(to_out0[0] == 0 || to_out0[0] == 2);
    EXPECT_EQ(c.ite->get_last_comparison().m_slack_diffs, 0);
    EXPECT_NEAR(c.ite->get_figure_of_merit(), c.full_fom(), 1.0);
}

// w's only input disconnected: w -> v leaves its last domain. The engine
// hands the estimate to a full analysis (its records cannot tell dead logic
// from paths of other domains), so what the test can check is the end
// result: the edge unconstrained, as the analyser leaves an edge of no domain.
TEST(ItestRecordUpdate, AnEdgeLeftInNoDomainEndsUnconstrained)
{
    COMPILE c;
    TDB_EDGE* wv = c.edge("w", "v");
    ASSERT_EQ(c.ite->get_edge_domain(wv->get_id()), 3);
    c.reconnect(c.node("w")->get_input_term_by_type(DB_DATA_A), nullptr);
    c.update();
    wv = c.edge("w", "v");
    ASSERT_NE(wv, nullptr);
    EXPECT_EQ(wv->get_slack(), ITE_NO_SLACK);
    EXPECT_FLOAT_EQ(wv->get_slack_ratio(), 1.0f);
    EXPECT_DOUBLE_EQ(c.ite->get_figure_of_merit(), c.full_fom());
}

// ------------------------------------------------------ new-edge domains

TEST(ItestNewEdges, ABufferOnASingleDomainEdgeGetsThatDomain)
{
    COMPILE c;
    c.insert("b", "z", "q3");
    ASSERT_TRUE(c.update()) << c.ite->get_last_fallback_reason();
    EXPECT_EQ(c.ite->get_edge_domain(c.edge("z", "b")->get_id()), 0);
    EXPECT_EQ(c.ite->get_edge_domain(c.edge("b", "q3")->get_id()), 0);
    EXPECT_NEAR(c.ite->get_figure_of_merit(), c.full_fom(), 1.0);
}

TEST(ItestNewEdges, AChainOfNewBuffersBetweenKeepersIsDeterminedInOneGo)
{
    COMPILE c;
    c.insert("b1", "q3", "z");
    c.insert("b2", "b1", "z");
    c.insert("b3", "b2", "z");
    ASSERT_TRUE(c.update()) << c.ite->get_last_fallback_reason();
    for (auto [from, to] :
         std::vector<std::pair<const char*, const char*>>{{"q3", "b1"}, {"b1", "b2"}, {"b2", "b3"}, {"b3", "z"}}) {
        const TDB_EDGE* e = c.edge(from, to);
        ASSERT_NE(e, nullptr) << from << "->" << to;
        EXPECT_EQ(c.ite->get_edge_domain(e->get_id()), 0) << from << "->" << to;
        EXPECT_TRUE(c.ite->get_domain(0)->m_edge_slack_ratios.contains(e->get_id()));
    }
    EXPECT_NEAR(c.ite->get_figure_of_merit(), c.full_fom(), 1.0);
}

// The buffer replaces x -> y, which lies in all four domains: the old edge
// leaves every one of them, the new ones join all four; a buffer without
// sinks gets no domain.
TEST(ItestNewEdges, ABufferOnASharedEdgeTakesItsPlaceInEveryDomainAndADanglingOneHasNone)
{
    COMPILE c;
    const int old_id = c.edge("x", "y")->get_id();
    ASSERT_EQ(c.ite->get_edge_domain(old_id), EDGE_DOMAIN_SHARED);
    c.insert("b", "x", "y");
    c.buffer("dangling", c.out("q3"));
    GEN_PROFILE_BINS::instance().clear();
    ASSERT_TRUE(c.update()) << c.ite->get_last_fallback_reason();
    // The replaced edge is among the marked atoms' edges: no scan of every id.
    EXPECT_EQ(full_deletion_scans(), 0);
    const TDB_EDGE* xb = c.edge("x", "b");
    const TDB_EDGE* by = c.edge("b", "y");
    EXPECT_EQ(domains_of(c.ite, xb), (std::vector<int>{0, 1, 2, 3}));
    EXPECT_EQ(domains_of(c.ite, by), (std::vector<int>{0, 1, 2, 3}));
    for (int d = 0; d < c.ite->get_num_domains(); ++d) {
        EXPECT_TRUE(c.ite->get_domain(d)->m_edge_slack_ratios.contains(by->get_id())) << d;
        EXPECT_FALSE(c.ite->get_domain(d)->m_edge_slack_ratios.contains(old_id)) << d;
    }
    EXPECT_EQ(c.ite->get_edge_domain(old_id), EDGE_DOMAIN_NONE);
    EXPECT_EQ(c.ite->get_shared_edge_domains(old_id), nullptr);
    const TDB_EDGE* dangling = c.edge("q3", "dangling");
    ASSERT_NE(dangling, nullptr);
    EXPECT_EQ(c.ite->get_edge_domain(dangling->get_id()), EDGE_DOMAIN_NONE);
    EXPECT_NEAR(c.ite->get_figure_of_merit(), c.full_fom(), 1.0);
}

// ------------------------------------------------------------------ walks

// Two buffers on one path through the shared edge x -> y, both marked: the
// walks from each must re-time every domain of the path (the buffers add
// delay in all four), to the analyser's slacks.
TEST(ItestWalks, TwoMarkedNodesOnOnePathThroughASharedEdgeMatchTheFullAnalysis)
{
    COMPILE c;
    c.insert("b1", "q1", "x");
    c.insert("b2", "y", "out0");
    ASSERT_TRUE(c.update()) << c.ite->get_last_fallback_reason();
    EXPECT_GE(c.ite->get_estimation_stats().m_domains, 3);
    EXPECT_EQ(c.ite->get_last_comparison().m_slack_diffs, 0);
    EXPECT_EQ(c.ite->get_last_comparison().m_sr_diffs, 0);
    EXPECT_NEAR(c.ite->get_figure_of_merit(), c.full_fom(), 1.0);
}

// ---------------------------------------------------------------- rebuilds

TEST(ItestRebuild, AnUpdateAfterARestoreIsAFullAnalysis)
{
    COMPILE c;
    const int saved = c.api->save_state();
    c.insert("b", "z", "q3");
    ASSERT_TRUE(c.update()) << c.ite->get_last_fallback_reason();
    c.api->restore_state(saved);
    c.timing->sync_timing_netlist(false, true);
    const long fallbacks = c.ite->get_num_fallbacks();
    c.api->modify_node(c.node("v"));
    EXPECT_FALSE(c.update());
    EXPECT_EQ(c.ite->get_num_fallbacks(), fallbacks + 1);
    EXPECT_STREQ(c.ite->get_last_fallback_reason(), "timing netlist rebuilt");
    EXPECT_DOUBLE_EQ(c.ite->get_figure_of_merit(), c.full_fom());
}

TEST(ItestRebuild, AnUpdateAfterARegisterEditIsAFullAnalysis)
{
    COMPILE c;
    c.api->modify_node(c.node("q3"));
    c.api->set_taint_bits(MORV_TAINT_REGISTER_OR_OTHER);
    c.timing->sync_timing_netlist(false, true);
    const long fallbacks = c.ite->get_num_fallbacks();
    EXPECT_FALSE(c.update());
    EXPECT_EQ(c.ite->get_num_fallbacks(), fallbacks + 1);
    EXPECT_STREQ(c.ite->get_last_fallback_reason(), "timing netlist rebuilt");
    EXPECT_DOUBLE_EQ(c.ite->get_figure_of_merit(), c.full_fom());
}

// Through the run driver: pass 0 lengthens the worst clock path, the
// iteration is worse and the pass restores the netlist it started with;
// the re-timing after the restore must be a full analysis (the restore
// rebuilt the timing netlist under the records), not the estimate of the
// worse netlist. Pass 1 then edits a short path: its estimate must match a
// full analysis on every edge.
class ROLLBACK_ALGORITHM : public MORV_ALGORITHM_BASE
{
public:
    ROLLBACK_ALGORITHM(COMPILE& c, const MORV_PARAMETER_MAP* params) : MORV_ALGORITHM_BASE(c.api, params), m_c(c) {}
    ~ROLLBACK_ALGORITHM() override {}
    std::string get_short_name() override { return "ROLLBACK"; }
    bool use_itest() override { return true; }
    void set_default_algorithm_parameters(int& np, int& icp_at_end, double& fom, int& restore) override
    {
        np = 2;
        icp_at_end = 0;  // re-timed after every iteration
        fom = 0.0;
        restore = 0;
    }
    void set_default_pass_parameters(int, int& ni, int& hci) override
    {
        ni = 1;
        hci = 0;
    }
    int do_iter() override
    {
        m_before = {m_c.ite->get_num_estimates(), m_c.ite->get_num_fallbacks()};
        if (get_curr_pass() == 0) m_c.insert("slow", "k2", "k3");
        else m_c.insert("fast", "w", "v");
        return 1;
    }
    void finish_pass() override
    {
        const double full = m_c.full_fom();
        m_fom_matches.push_back(m_c.ite->get_figure_of_merit() == full &&
                                m_c.timing->get_figure_of_merit_value() == full);
        m_foms.push_back(compute_figure_of_merit());
        m_init_foms.push_back(m_init_fom);
        m_estimated.push_back(m_c.ite->get_num_estimates() > m_before.first);
        m_fell_back.push_back(m_c.ite->get_num_fallbacks() > m_before.second);
        m_reasons.push_back(m_c.ite->get_last_fallback_reason() ? m_c.ite->get_last_fallback_reason() : "");
        m_comparisons.push_back(m_c.ite->get_last_comparison());
        m_has_slow.push_back(m_c.node("slow") != nullptr);
    }

    COMPILE& m_c;
    std::pair<long, long> m_before{0, 0};
    std::vector<bool> m_fom_matches, m_estimated, m_fell_back, m_has_slow;
    std::vector<double> m_foms, m_init_foms;
    std::vector<std::string> m_reasons;
    std::vector<MORV_TIMING_ITE_COMPARISON> m_comparisons;
};

TEST(ItestRebuild, AWorseIterationRestoredByTheRunDriverIsFollowedByAFullAnalysisThenEstimates)
{
    cfg_set_value("fsyn_enable_ite", "on");
    cfg_set_value("fsyn_use_new_timing_flow", "on");
    cfg_set_value("fsyn_disable_netlist_sweeper", "on");
    {
        COMPILE c;
        MORV_PARAMETER_MAP params;
        ROLLBACK_ALGORITHM algorithm(c, &params);
        algorithm.run_algorithm();
        ASSERT_EQ(algorithm.m_estimated.size(), 2u);
        // Pass 0: the worse netlist was estimated, then restored and analysed.
        EXPECT_FALSE(algorithm.m_has_slow[0]);
        EXPECT_TRUE(algorithm.m_estimated[0]);
        EXPECT_TRUE(algorithm.m_fell_back[0]);
        EXPECT_EQ(algorithm.m_reasons[0], "timing netlist rebuilt");
        EXPECT_TRUE(algorithm.m_fom_matches[0]);
        // The netlist the run began with is back, and so is its figure.
        EXPECT_DOUBLE_EQ(algorithm.m_foms[0], algorithm.m_init_foms[0]);
        // Pass 1: an estimate on the restored netlist's records.
        EXPECT_TRUE(algorithm.m_estimated[1]);
        EXPECT_FALSE(algorithm.m_fell_back[1]);
        EXPECT_EQ(algorithm.m_comparisons[1].m_slack_diffs, 0);
        EXPECT_EQ(algorithm.m_comparisons[1].m_sr_diffs, 0);
        EXPECT_TRUE(algorithm.m_fom_matches[1]);
        EXPECT_NE(c.node("fast"), nullptr);
    }
    cfg_unset("fsyn_disable_netlist_sweeper");
    cfg_unset("fsyn_use_new_timing_flow");
    cfg_unset("fsyn_enable_ite");
}

// ------------------------------------------------------------------ cost

namespace {

// Register r0 drives buffer d, which feeds twelve chains d -> gJa -> gJb ->
// gJc -> sJ and the LUT n = d & rt; n reaches register rn through `depth`
// buffers.
// rt2 -> rt makes rt2 a source of the clock domain already.
// With depth 6, d -> n starts d's worst path; with depth 1 it does not.
std::string wide_driver_design(int depth)
{
    // Appended piece by piece: GCC 12 misreads operator+ on temporaries as
    // an overlapping copy.
    std::string t = ".model wide\n.inputs clk in0\n.outputs out0\n";
    t.append(".latch in0 r0 re clk 0\n.latch rt2 rt re clk 0\n.latch in0 rt2 re clk 0\n");
    t.append(".names r0 d\n1 1\n.names d rt n\n11 1\n");
    std::string prev = "n";
    for (int i = 1; i <= depth; ++i) {
        std::string m = "m";
        m.append(std::to_string(i));
        t.append(".names ").append(prev).append(" ").append(m).append("\n1 1\n");
        prev = m;
    }
    t.append(".latch ").append(prev).append(" rn re clk 0\n");
    for (int j = 1; j <= 12; ++j) {
        const std::string n = std::to_string(j);
        t.append(".names d g").append(n).append("a\n1 1\n");
        t.append(".names g").append(n).append("a g").append(n).append("b\n1 1\n");
        t.append(".names g").append(n).append("b g").append(n).append("c\n1 1\n");
        t.append(".latch g").append(n).append("c s").append(n).append(" re clk 0\n");
    }
    t.append(".names rn out0\n1 1\n.end\n");
    return t;
}

// Per domain, the edges of the node's fan-in and fan-out cones up to
// keepers that the domain holds: what re-timing the node takes.
int cone_records(MORV_TIMING_ITE* ite, const TDB_NODE* n)
{
    int count = 0;
    for (const TDB_EDGE* e : cone_edges(n))
        for (int d = 0; d < ite->get_num_domains(); ++d) count += has_record(ite->get_domain(d), e);
    return count;
}

}  // namespace

// n's input from d moves to register rt2. d drives fourteen sinks, and the
// connection it lost was not its worst: nothing upstream of d changes, so
// only n's cones are re-timed, not d's whole fan-out as when the driver of
// a removed connection counted as edited.
TEST(ItestCost, ARemovedConnectionReTimesItsSinksConesNotItsDriversFanOut)
{
    const std::string text = wide_driver_design(1);
    COMPILE c(nullptr, text.c_str());
    c.reconnect(c.input_from("n", "d"), c.out("rt2"));
    ASSERT_TRUE(c.update()) << c.ite->get_last_fallback_reason();
    EXPECT_FALSE(c.ite->is_marked_as_driver(static_cast<int>(c.node("d")->get_id())));
    const int analysed = c.ite->get_estimation_stats().m_analysed_edges;
    EXPECT_GT(analysed, 0);
    EXPECT_LE(analysed, cone_records(c.ite, c.tnode("n")));
    // d's twelve chains alone have 48 edges.
    EXPECT_LT(analysed, 12);
    EXPECT_EQ(c.ite->get_last_comparison().m_slack_diffs, 0);
    EXPECT_EQ(c.ite->get_last_comparison().m_sr_diffs, 0);
    EXPECT_DOUBLE_EQ(c.ite->get_figure_of_merit(), c.full_fom());
}

// The same move when d -> n carried d's least slack: the slacks of r0 -> d
// came from that path, so d's cones are re-timed after all, and the
// estimate is the analyser's.
TEST(ItestCost, ARemovedConnectionOnItsDriversWorstPathReTimesTheDriversCones)
{
    const std::string text = wide_driver_design(6);
    COMPILE c(nullptr, text.c_str());
    const TDB_EDGE* r0_d = c.edge("r0", "d");
    ASSERT_NE(r0_d, nullptr);
    const int old_slack = r0_d->get_slack();
    c.reconnect(c.input_from("n", "d"), c.out("rt2"));
    ASSERT_TRUE(c.update()) << c.ite->get_last_fallback_reason();
    EXPECT_GE(c.ite->get_estimation_stats().m_analysed_edges, 48);
    EXPECT_GT(c.edge("r0", "d")->get_slack(), old_slack);
    EXPECT_EQ(c.ite->get_last_comparison().m_slack_diffs, 0);
    EXPECT_EQ(c.ite->get_last_comparison().m_sr_diffs, 0);
    EXPECT_DOUBLE_EQ(c.ite->get_figure_of_merit(), c.full_fom());
}

// Forty new buffers chained from q3 with no sink: each new edge brings q3's
// domains that its end passes on to nowhere, so each asks whether the cone
// beyond its end reaches a keeper that captures them. The cones are nested;
// walking each again cost the chain's length per edge (820 nodes here), a
// node's answer kept for the estimation costs each node once.
TEST(ItestCost, TheNewEdgeChecksWalkEachNodeOfTheirConesOnce)
{
    COMPILE c;
    const long before = c.ite->get_cone_evaluations();
    CDB_ATOM_OTERM* from = c.out("q3");
    constexpr int k_BUFFERS = 40;
    for (int i = 0; i < k_BUFFERS; ++i) {
        std::string name = "chain";
        name.append(std::to_string(i));
        from = c.buffer(name, from)->get_output_term_by_type(DB_COMB_OUT);
    }
    ASSERT_TRUE(c.update()) << c.ite->get_last_fallback_reason();
    const long walked = c.ite->get_cone_evaluations() - before;
    EXPECT_GE(walked, k_BUFFERS - 1);
    EXPECT_LE(walked, k_BUFFERS);
    const TDB_EDGE* last = c.edge("chain38", "chain39");
    ASSERT_NE(last, nullptr);
    EXPECT_EQ(c.ite->get_edge_domain(last->get_id()), EDGE_DOMAIN_NONE);
    EXPECT_EQ(c.ite->get_last_comparison().m_slack_diffs, 0);
    EXPECT_DOUBLE_EQ(c.ite->get_figure_of_merit(), c.full_fom());
}

// Three register-to-register paths of one clock: ra -> c1 .. c6 -> rb the
// worst, re -> s1 -> rf the best, rc and rg -> m1 -> m2 -> rd between them
// (m1 has two inputs, so that it is not taken for a register's term node);
// rd alone starts no path to the output.
const char* const k_THREE_PATHS_DESIGN = R"(.model three
.inputs clk in0
.outputs out0
.latch in0 ra re clk 0
.latch c6 rb re clk 0
.latch in0 rc re clk 0
.latch in0 rg re clk 0
.latch m2 rd re clk 0
.latch in0 re re clk 0
.latch s1 rf re clk 0
.names ra c1
1 1
.names c1 c2
1 1
.names c2 c3
1 1
.names c3 c4
1 1
.names c4 c5
1 1
.names c5 c6
1 1
.names rc rg m1
11 1
.names m1 m2
1 1
.names re s1
1 1
.names rb rf out0
11 1
.end
)";

// m1's cones hold neither the clock domain's worst slack nor its least or
// greatest ratio: the first estimate after the full analysis finds them from
// the region and from what the build found, without a scan of every record
// of the domain.
TEST(ItestCost, TheFirstEstimateAfterAFullAnalysisScansNoDomainsRecords)
{
    COMPILE c(nullptr, k_THREE_PATHS_DESIGN);
    const long scans = c.ite->get_record_scans();
    c.api->modify_node(c.node("m1"));
    ASSERT_TRUE(c.update()) << c.ite->get_last_fallback_reason();
    EXPECT_GT(c.ite->get_estimation_stats().m_domains, 0);
    EXPECT_EQ(c.ite->get_record_scans() - scans, 0);
    EXPECT_EQ(c.ite->get_last_comparison().m_slack_diffs, 0);
    EXPECT_EQ(c.ite->get_last_comparison().m_sr_diffs, 0);
    EXPECT_DOUBLE_EQ(c.ite->get_figure_of_merit(), c.full_fom());
}

// o's input moves from r2 to r0, a register that cannot start the
// clock-to-output paths it now reaches: a full analysis will time the edit.
// That is found before the removed edge o <- r2 leaves its domains, which
// would fit the domains' lines only for the full analysis to drop them.
TEST(ItestCost, AnEditOnlyAFullAnalysisCanTimeFitsNoLine)
{
    COMPILE c(nullptr, k_FORK_DESIGN);
    const long fits = c.ite->get_line_fits();
    c.reconnect(c.input_from("o", "r2"), c.out("r0"));
    EXPECT_FALSE(c.update());
    EXPECT_STREQ(c.ite->get_last_fallback_reason(), "an edit extends a domain over existing edges");
    EXPECT_EQ(c.ite->get_line_fits() - fits, 0);
    EXPECT_DOUBLE_EQ(c.ite->get_figure_of_merit(), c.full_fom());
}

// ------------------------------------------------------------------ latch

// The latch q3 at each of the three places the estimation looks for one:
// a marked atom's own node, a new edge's end, and a walk from a marked node.
TEST(ItestLatch, AnEstimationMeetingALatchIsAFullAnalysis)
{
    {
        COMPILE c("q3");
        c.api->modify_node(c.node("q3"));
        EXPECT_FALSE(c.update());
        EXPECT_STREQ(c.ite->get_last_fallback_reason(), "latch analysis needed");
        EXPECT_DOUBLE_EQ(c.ite->get_figure_of_merit(), c.full_fom());
    }
    {
        COMPILE c("q3");
        c.reconnect(c.node("v")->get_input_term_by_type(DB_DATA_A), c.out("q3"));
        EXPECT_FALSE(c.update());
        EXPECT_STREQ(c.ite->get_last_fallback_reason(), "latch analysis needed");
        EXPECT_DOUBLE_EQ(c.ite->get_figure_of_merit(), c.full_fom());
    }
    {
        COMPILE c("q3");
        c.api->get_fsyn_cdb_interface()->set_lutmask(c.node("z"), CDB_LUTMASK(6, ~k_BRK_BUFFER), 0);
        c.api->modify_node(c.node("z"));
        EXPECT_FALSE(c.update());
        EXPECT_STREQ(c.ite->get_last_fallback_reason(), "latch analysis needed");
        EXPECT_DOUBLE_EQ(c.ite->get_figure_of_merit(), c.full_fom());
    }
}

// ---------------------------------------------------------------- queries

namespace {

struct ANSWERS
{
    std::vector<int> slacks;
    std::vector<double> ratios;
};

ANSWERS answers(COMPILE& c)
{
    ANSWERS a;
    for (CDB_ATOM_NODE* n : *c.design->netlist())
        for (auto it = n->begin_iterm(); it != n->end_iterm(); ++it) {
            if ((*it)->get_source() == nullptr) continue;
            a.slacks.push_back(c.timing->get_slack(*it));
            a.ratios.push_back(c.timing->get_slack_ratio(*it));
        }
    return a;
}

}  // namespace

// The two buffers of the walk above, estimated without a comparison: the
// queries answer the estimate's figures and the analyser does not run for
// them, and those figures are the ones a full analysis gives afterwards.
// A refreshed timing netlist is the analyser's to answer until the next
// estimate.
TEST(ItestQueries, AfterAnEstimateTheQueriesAnswerItsFiguresWithoutAnotherAnalysis)
{
    COMPILE c(nullptr, k_DESIGN, false);
    c.insert("b1", "q1", "x");
    c.insert("b2", "y", "out0");
    ASSERT_TRUE(c.update()) << c.ite->get_last_fallback_reason();
    ASSERT_TRUE(c.timing->is_itest_answering());
    TDC_ACCESSORIES* accessories = tdc_get_accessories();
    const long analyses = accessories->get_num_analyses();
    const ANSWERS estimated = answers(c);
    const int fom = c.timing->get_figure_of_merit(false);
    EXPECT_EQ(accessories->get_num_analyses(), analyses);
    EXPECT_EQ(fom, static_cast<int>(c.ite->get_figure_of_merit()));

    c.timing->perform_timing_analysis();
    EXPECT_FALSE(c.timing->is_itest_answering());
    EXPECT_EQ(accessories->get_num_analyses(), analyses + 1);
    const ANSWERS full = answers(c);
    ASSERT_EQ(full.slacks.size(), estimated.slacks.size());
    EXPECT_EQ(full.slacks, estimated.slacks);
    // Edge ratios agree to the comparison's 0.001, which the queries' curve
    // before placement and the remap around the skew stretch.
    for (size_t i = 0; i < full.ratios.size(); ++i) EXPECT_NEAR(full.ratios[i], estimated.ratios[i], 2e-3) << i;
    EXPECT_EQ(accessories->get_num_analyses(), analyses + 1);

    // An edit refreshed into the timing netlist: until iTEst times it, the
    // analyser answers, analysing first.
    c.insert("b3", "w", "v");
    c.timing->sync_timing_netlist(true, false);
    EXPECT_FALSE(c.timing->is_itest_answering());
    const long before_query = accessories->get_num_analyses();
    (void)answers(c);
    EXPECT_EQ(accessories->get_num_analyses(), before_query + 1);
    c.update();
    EXPECT_TRUE(c.timing->is_itest_answering());
}

}  // namespace itest_edit_records_test
