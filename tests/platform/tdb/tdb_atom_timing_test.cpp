// Timing netlist built from atoms: structure, delays before and after
// placement, id stability across refreshes, and incremental refreshes that
// must match a full rebuild.

#include <gtest/gtest.h>

#include <map>
#include <random>
#include <tuple>
#include <vector>

#include "cdb/cdb_atom_netlist.h"
#include "dev/dev_device.h"
#include "msg/msg.h"
#include "tdc/tdc_accessories.h"
#include "../timing_test_circuit.h"

namespace tdb_atom_timing_test {

namespace {

// Slack and ratio of every connected input, by (atom id, port type).
std::map<std::pair<unsigned, int>, std::pair<int, double>> input_timing(TDC_ACCESSORIES& acc, CIRCUIT& c)
{
    std::map<std::pair<unsigned, int>, std::pair<int, double>> out;
    for (CDB_ATOM_NODE* n : c.atoms)
        for (auto it = n->begin_iterm(); it != n->end_iterm(); ++it) {
            int port = (*it)->get_any_usage_as();
            out[{n->get_id(), port}] = {acc.get_tdc_utility()->get_slack(n, port, 0),
                                        acc.get_tdc_utility()->get_slack_ratio(n, port, 0)};
        }
    return out;
}

// The keeper among the atom's timing nodes (null when it has none).
TDB_NODE* keeper_of(const TDB_NETLIST* tdb, const CDB_ATOM_NODE* atom)
{
    for (int id : tdb->get_atom_nodes((int)atom->get_id()))
        if (tdb->find_node(id)->is_keeper()) return tdb->find_node(id);
    return nullptr;
}

class TdbAtomTiming : public ::testing::Test
{
protected:
    void SetUp() override
    {
        msg_set_quiet(true);
        DMGR_UTILITY::set_current_family(DEV_FAMILY_BRENNOCK);
    }
    void TearDown() override { DMGR_UTILITY::set_current_device(nullptr); }
};

}  // namespace

TEST_F(TdbAtomTiming, StructureAndDelaysBeforeAndAfterPlacement)
{
    CIRCUIT c;
    CDB_ATOM_OTERM* clk = c.input_pin();
    CDB_ATOM_OTERM* in = c.input_pin();
    CDB_ATOM_OTERM* q1 = c.reg(in, clk);
    CDB_ATOM_OTERM* y = c.lut({q1, q1});  // A and B from the same register
    CDB_ATOM_OTERM* q2 = c.reg(y, clk);
    c.output_pin(q2);
    TDC_ACCESSORIES acc;
    acc.set_atom_netlist(&c.atoms);
    TDB_NETLIST* tdb = acc.build_timing_netlist();
    ASSERT_TRUE(tdb);
    // Nodes: 2 input pins x 2, 2 registers, 1 LUT, 1 output pin.
    EXPECT_EQ(tdb->get_num_nodes(), 8);
    TDB_NODE* reg1 = tdb->get_tdb_node_from_oterm(q1);
    TDB_NODE* lutn = tdb->get_tdb_node_from_oterm(y);
    ASSERT_TRUE(reg1 && lutn);
    EXPECT_TRUE(reg1->is_reg() && reg1->is_keeper());
    EXPECT_EQ(reg1->get_num_of_clkin(), 1);
    EXPECT_EQ(reg1->get_num_of_fanin(), 1);
    EXPECT_FALSE(lutn->is_keeper());
    EXPECT_EQ(lutn->get_num_of_fanin(), 2);
    const DEV_TIMING_MODEL& m = DMGR_UTILITY::get_current_device()->get_timing_model();
    for (TDB_EDGE* e : lutn->fanin()) {
        EXPECT_TRUE(e->is_for_tdc());
        EXPECT_EQ(e->get_max_ic_delay(), 0);  // before placement
        int port = e->get_iterm()->get_any_usage_as();
        EXPECT_EQ(e->get_max_cell_delay(), m.lut_input[port - DB_DATA_A]);
        EXPECT_EQ(e->get_delay()->get_delay(TDB_DELAY_TOTAL, TDB_MAX, 2), e->get_max_cell_delay());
    }
    // The input pin's internal edge has no input term.
    TDB_NODE* in_net = tdb->get_tdb_node_from_oterm(in);
    ASSERT_EQ(in_net->get_num_of_fanin(), 1);
    EXPECT_FALSE(in_net->fanin()[0]->is_for_tdc());
    EXPECT_TRUE(in_net->fanin()[0]->get_src_node()->is_keeper());
    EXPECT_EQ(tdb->get_atom_node_id_from_tdb_node(lutn), (int)y->get_my_node()->get_id());

    // Place: q1 at (3, 4), the LUT at (6, 8): 7 hops.
    q1->get_my_node()->set_location(3, 4);
    y->get_my_node()->set_location(6, 8);
    q2->get_my_node()->set_location(6, 8);
    clk->get_my_node()->set_location(0, 4);
    acc.refresh_interconnect_delays();
    const DEV_DEVICE* dev = DMGR_UTILITY::get_current_device();
    for (TDB_EDGE* e : lutn->fanin()) {
        EXPECT_EQ(e->get_max_ic_delay(), m.inter_lab_base + 7 * m.per_hop);
        EXPECT_EQ(e->get_max_ic_delay(), dev->get_routing_delay_ps(3, 4, 6, 8));
    }
    TDB_NODE* reg2 = tdb->get_tdb_node_from_oterm(q2);
    EXPECT_EQ(reg2->fanin()[0]->get_max_ic_delay(), m.intra_lab);
    EXPECT_EQ(reg2->clkin()[0]->get_max_ic_delay(), m.clock_network);
    // Point-to-point and host routing delays come from the same model.
    PLDM pldm(dev->get_part());
    EXPECT_EQ(pldm.get_point_to_point_delay(3, 4, 6, 8), dev->get_routing_delay_ps(3, 4, 6, 8));
    EXPECT_NEAR(dev_routing_delay_seconds(3, 4, 6, 8) * 1e12, dev->get_routing_delay_ps(3, 4, 6, 8), 1e-3);

    // The analysis after placement: q1 -> LUT (A) -> q2.
    acc.set_default_clock_period_ps(2000);
    acc.run_tan(*acc.get_tan_parameters(), true);
    int arrival = m.tco + m.clock_network + (m.inter_lab_base + 7 * m.per_hop) + m.lut_input[0] + m.intra_lab;
    int required = 2000 - m.tsu + m.clock_network;
    CDB_ATOM_NODE* reg2_atom = q2->get_my_node();
    EXPECT_EQ(acc.get_tdc_utility()->get_slack(reg2_atom, DB_DATAIN, 0), required - arrival);
    EXPECT_EQ(acc.get_tdc_utility()->get_slack(y->get_my_node(), DB_DATA_A, 0), required - arrival);
    EXPECT_GT(acc.get_tdc_utility()->get_slack(y->get_my_node(), DB_DATA_B, 0), required - arrival);
    EXPECT_EQ(acc.get_tdc_utility()->get_slack(y->get_my_node(), DB_DATA_C, 0), TDB_NO_PATH);
}

TEST_F(TdbAtomTiming, ClockPeriodsComeFromTheClockNetName)
{
    CIRCUIT c;
    CDB_ATOM_OTERM* clk = c.input_pin();
    CDB_ATOM_OTERM* q1 = c.reg(nullptr, clk);
    CDB_ATOM_OTERM* q2 = c.reg(c.lut({q1}), clk);
    (void)q2;
    TDC_ACCESSORIES acc;
    acc.set_atom_netlist(&c.atoms);
    acc.set_collect_sub_domain_data(true);
    std::string clk_name = clk->get_instance_name()->get_short_hpath();
    acc.set_clock_period_ps(clk_name, 1234);
    acc.run_tan(*acc.get_tan_parameters(), true);
    ASSERT_EQ(acc.get_analysis()->get_clocks().size(), 1u);
    EXPECT_EQ(acc.get_analysis()->get_clocks()[0].m_name, clk_name);
    ASSERT_TRUE(acc.get_sub_domain_data());
    EXPECT_EQ((*acc.get_sub_domain_data())[0].m_requirement, 1234);
    acc.release_sub_domain_data();
    EXPECT_EQ(acc.get_sub_domain_data(), nullptr);
}

// Built, the timing netlist hands out no edge table; analysed, it hands out
// every edge the analysis timed.
TEST_F(TdbAtomTiming, TheAnalysisHandsOutTheEdgesItTimed)
{
    CIRCUIT c;
    CDB_ATOM_OTERM* clk = c.input_pin();
    c.reg(c.lut({c.reg(nullptr, clk)}), clk);
    TDC_ACCESSORIES acc;
    acc.set_atom_netlist(&c.atoms);
    TDB_NETLIST* tdb = acc.build_timing_netlist();
    ASSERT_EQ(tdb->get_vec_of_edges(), nullptr);
    acc.run_tan(*acc.get_tan_parameters(), true);
    const std::vector<TDB_EDGE*>* timed = tdb->get_vec_of_edges();
    ASSERT_NE(timed, nullptr);
    EXPECT_EQ(static_cast<int>(timed->size()), tdb->get_edge_id_bound());
    EXPECT_GT(tdb->get_num_edges(), 0);
}

TEST_F(TdbAtomTiming, IdsStayStableAcrossRefreshes)
{
    CIRCUIT c;
    CDB_ATOM_OTERM* clk = c.input_pin();
    CDB_ATOM_OTERM* q1 = c.reg(nullptr, clk);
    CDB_ATOM_OTERM* q2 = c.reg(nullptr, clk);
    CDB_ATOM_OTERM* y1 = c.lut({q1, q2});
    CDB_ATOM_OTERM* y2 = c.lut({y1, q2});
    CDB_ATOM_OTERM* q3 = c.reg(y2, clk);
    TDC_ACCESSORIES acc;
    acc.set_atom_netlist(&c.atoms);
    TDB_NETLIST* tdb = acc.build_timing_netlist();
    tdb->create_vec_of_edges();
    int node_bound = tdb->get_node_id_bound(), edge_bound = tdb->get_edge_id_bound();
    TDB_NODE* y2_node = tdb->get_tdb_node_from_oterm(y2);
    int y2_node_id = y2_node->get_id();
    TDB_EDGE* q3_in = tdb->get_tdb_node_from_oterm(q3)->fanin()[0];
    int q3_in_id = q3_in->get_id();
    std::vector<int> y1_edges;
    for (TDB_EDGE* e : tdb->get_tdb_node_from_oterm(y1)->fanin()) y1_edges.push_back(e->get_id());

    // Delete y1 (y2's A input becomes unconnected) and add a new LUT feeding y2's A.
    unsigned y1_id = y1->get_my_node()->get_id();
    c.atoms.delete_node(y1->get_my_node());
    CDB_ATOM_OTERM* y_new = c.lut({q2, q1});
    y_new->insert_fanout(y2->get_my_node()->get_input_term_by_type(DB_DATA_A));
    acc.set_taint_change_set({y1_id, y_new->get_my_node()->get_id(), y2->get_my_node()->get_id()});
    ASSERT_EQ(acc.build_timing_netlist(), tdb);
    EXPECT_EQ(acc.get_num_refreshes(), 1);
    // Unchanged nodes and edges keep their ids and objects.
    EXPECT_EQ(tdb->find_node(y2_node_id), y2_node);
    EXPECT_EQ(tdb->find_edge(q3_in_id), q3_in);
    // Deleted ids stay free.
    for (int id : y1_edges) EXPECT_EQ(tdb->find_edge(id), nullptr);
    // New nodes and edges lie above the old bounds; the edge table follows.
    TDB_NODE* new_node = tdb->get_tdb_node_from_oterm(y_new);
    ASSERT_TRUE(new_node);
    EXPECT_GE(new_node->get_id(), node_bound);
    for (TDB_EDGE* e : new_node->fanin()) EXPECT_GE(e->get_id(), edge_bound);
    ASSERT_EQ(y2_node->get_num_of_fanin(), 2);
    for (TDB_EDGE* e : y2_node->fanin()) {
        if (e->get_src_node() == new_node) {
            EXPECT_GE(e->get_id(), edge_bound);
        }
    }
    ASSERT_TRUE(tdb->get_vec_of_edges());
    EXPECT_EQ((int)tdb->get_vec_of_edges()->size(), tdb->get_edge_id_bound());

    // A full rebuild continues above the old bounds too.
    int bound_before = tdb->get_edge_id_bound();
    acc.set_full_taint();
    TDB_NETLIST* rebuilt = acc.build_timing_netlist();
    for (TDB_EDGE* e : rebuilt->edge_table()) {
        if (e) {
            EXPECT_GE(e->get_id(), bound_before);
        }
    }
    EXPECT_TRUE(rebuilt->get_vec_of_edges());
}

// A placed driver moves while its sink deletes the input term it fed, and
// the driver comes first in the change set: the driver's fan-out delays
// must not be read before the sink has dropped the edge to the dead term.
TEST_F(TdbAtomTiming, AMovedDriverWhoseSinkDeletedItsTermRefreshesInAnyOrder)
{
    for (bool driver_first : {true, false}) {
        CIRCUIT c;
        CDB_ATOM_OTERM* clk = c.input_pin();
        CDB_ATOM_OTERM* q1 = c.reg(nullptr, clk);
        CDB_ATOM_OTERM* q2 = c.reg(nullptr, clk);
        CDB_ATOM_OTERM* y = c.lut({q1, q2});
        CDB_ATOM_OTERM* q3 = c.reg(y, clk);
        for (CDB_ATOM_NODE* n : c.atoms) n->set_location(2, 2);
        TDC_ACCESSORIES acc;
        acc.set_atom_netlist(&c.atoms);
        TDB_NETLIST* tdb = acc.build_timing_netlist();
        CDB_ATOM_NODE* driver = q1->get_my_node();
        CDB_ATOM_NODE* sink = y->get_my_node();
        CDB_ATOM_ITERM* fed = sink->get_input_term_by_type(DB_DATA_A);
        fed->disconnect_from_source(CDB_NET_ITERM::UNCONNECTED);
        ASSERT_TRUE(sink->remove_input_term(fed));
        delete fed;
        driver->set_location(5, 7);
        const unsigned driver_id = driver->get_id(), sink_id = sink->get_id();
        acc.set_taint_change_set(driver_first ? std::vector<unsigned>{driver_id, sink_id}
                                              : std::vector<unsigned>{sink_id, driver_id});
        ASSERT_EQ(acc.build_timing_netlist(), tdb);
        EXPECT_EQ(tdb->get_tdb_node_from_oterm(q1)->get_num_of_fanout(), 0);
        EXPECT_EQ(tdb->get_tdb_node_from_oterm(y)->get_num_of_fanin(), 1);
        EXPECT_EQ(tdb->get_tdb_node_from_oterm(q3)->get_num_of_fanin(), 1);
    }
}

TEST_F(TdbAtomTiming, IncrementalRefreshMatchesFullAnalysisAfterRandomEdits)
{
    std::mt19937 rng(7);
    CIRCUIT c;
    CDB_ATOM_OTERM* clk = c.input_pin();
    std::vector<CDB_ATOM_OTERM*> drivers;
    for (int i = 0; i < 4; ++i) drivers.push_back(c.input_pin());
    std::vector<CDB_ATOM_OTERM*> regs, luts;
    for (int i = 0; i < 12; ++i) regs.push_back(c.reg(nullptr, clk));
    drivers.insert(drivers.end(), regs.begin(), regs.end());
    for (int i = 0; i < 40; ++i) {
        std::vector<CDB_ATOM_OTERM*> ins;
        for (int k = 0; k < 4; ++k) ins.push_back(drivers[rng() % drivers.size()]);
        luts.push_back(c.lut(ins));
        drivers.push_back(luts.back());
    }
    for (CDB_ATOM_OTERM* q : regs)
        drivers[4 + 12 + rng() % 40]->insert_fanout(q->get_my_node()->get_input_term_by_type(DB_DATAIN));
    for (int i = 0; i < 3; ++i) c.output_pin(luts[rng() % luts.size()]);
    for (CDB_ATOM_NODE* n : c.atoms) n->set_location(1 + (int)(rng() % 20), 1 + (int)(rng() % 20));

    TDC_ACCESSORIES inc;
    inc.set_atom_netlist(&c.atoms);
    inc.set_default_clock_period_ps(3000);
    inc.run_tan(*inc.get_tan_parameters(), true);
    for (int round = 0; round < 25; ++round) {
        std::vector<unsigned> changed;
        int what = (int)(rng() % 4);
        CDB_ATOM_OTERM* lut = luts[rng() % luts.size()];
        CDB_ATOM_NODE* node = lut->get_my_node();
        if (what == 0) {  // rewire one input to an earlier driver (no loop)
            size_t pos = std::find(drivers.begin(), drivers.end(), lut) - drivers.begin();
            CDB_ATOM_ITERM* t = node->get_input_term_by_type(DB_DATA_A + (int)(rng() % 4));
            t->disconnect_from_source(2);
            drivers[rng() % pos]->insert_fanout(t);
            changed.push_back(node->get_id());
        } else if (what == 1) {  // move the atom
            node->set_location(1 + (int)(rng() % 20), 1 + (int)(rng() % 20));
            changed.push_back(node->get_id());
        } else if (what == 2 && luts.size() > 10) {  // delete it; only its own id is announced
            changed.push_back(node->get_id());
            drivers.erase(std::find(drivers.begin(), drivers.end(), lut));
            luts.erase(std::find(luts.begin(), luts.end(), lut));
            c.atoms.delete_node(node);
        } else {  // a new LUT in front of one input of an existing one
            size_t pos = std::find(drivers.begin(), drivers.end(), lut) - drivers.begin();
            CDB_ATOM_OTERM* y = c.lut({drivers[rng() % pos], drivers[rng() % pos]});
            y->get_my_node()->set_location(2, 2);
            CDB_ATOM_ITERM* t = node->get_input_term_by_type(DB_DATA_B);
            t->disconnect_from_source(2);
            y->insert_fanout(t);
            drivers.insert(drivers.begin() + (long)pos, y);
            luts.push_back(y);
            changed.push_back(node->get_id());
            changed.push_back(y->get_my_node()->get_id());
        }
        inc.set_taint_change_set(changed);
        inc.build_timing_netlist();
        double fom_inc = inc.run_tan(*inc.get_tan_parameters(), true).m_figure_of_merit;

        TDC_ACCESSORIES full;
        full.set_atom_netlist(&c.atoms);
        full.set_default_clock_period_ps(3000);
        double fom_full = full.run_tan(*full.get_tan_parameters(), true).m_figure_of_merit;
        ASSERT_DOUBLE_EQ(fom_inc, fom_full) << "round " << round;
        ASSERT_EQ(inc.get_tdb_netlist()->get_num_edges(), full.get_tdb_netlist()->get_num_edges()) << round;
        ASSERT_EQ(input_timing(inc, c), input_timing(full, c)) << "round " << round;
    }
    EXPECT_EQ(inc.get_num_full_builds(), 1);
}

TEST_F(TdbAtomTiming, KeeperTermThroughTheInternalEdge)
{
    CIRCUIT c;
    CDB_ATOM_OTERM* clk = c.input_pin();
    CDB_ATOM_OTERM* in = c.input_pin();
    CDB_ATOM_OTERM* q = c.reg(in, clk);
    CDB_ATOM_NODE* out = c.output_pin(q);
    TDC_ACCESSORIES acc;
    acc.set_atom_netlist(&c.atoms);
    TDB_NETLIST* tdb = acc.build_timing_netlist();
    ASSERT_TRUE(tdb);
    TDB_NODE* in_keeper = keeper_of(tdb, in->get_my_node());
    ASSERT_TRUE(in_keeper && in_keeper->is_input_pin());
    // The pin's keeper carries no term; the internal edge leads to it.
    EXPECT_EQ(in_keeper->get_oterm(false), nullptr);
    EXPECT_EQ(in_keeper->get_oterm(true), in);
    TDB_NODE* reg = tdb->get_tdb_node_from_oterm(q);
    EXPECT_EQ(reg->get_oterm(false), q);
    EXPECT_EQ(reg->get_oterm(true), q);
    // A register's fan-out edge has an input term: a data connection, not
    // an internal edge, so the walk never leaves the atom.
    TDB_NODE* in_net = tdb->get_tdb_node_from_oterm(in);
    EXPECT_EQ(in_net->get_oterm(true), in);
    // The output pin's keeper carries the pad itself: no walk is needed,
    // and the pad makes no node of its own nor an input-pin keeper.
    CDB_ATOM_OTERM* pad = out->get_output_term_by_type(DB_PAD_OUT);
    ASSERT_TRUE(pad);
    TDB_NODE* out_keeper = keeper_of(tdb, out);
    ASSERT_TRUE(out_keeper && out_keeper->is_output_pin());
    EXPECT_FALSE(out_keeper->is_input_pin());
    EXPECT_EQ(out_keeper->get_oterm(false), pad);
    EXPECT_EQ(out_keeper->get_oterm(true), pad);
    EXPECT_EQ(out_keeper->get_port_type(), DB_PAD_OUT);
    EXPECT_EQ(tdb->get_tdb_node_from_oterm(pad), out_keeper);
    EXPECT_EQ(tdb->get_atom_nodes((int)out->get_id()).size(), 1u);
    EXPECT_EQ(out_keeper->get_iterm(), out->get_input_term_by_type(DB_DATAIN));
    EXPECT_EQ(out_keeper->fanin_edges_size(), 1);
    EXPECT_EQ(out_keeper->fanout_edges_size(), 0);
}

namespace {

// Everything an analysis yields that a pad term could disturb.
struct TIMING_PICTURE
{
    int nodes = 0, edges = 0;
    double fom = 0;
    int worst = 0;
    std::map<std::pair<unsigned, int>, std::pair<int, double>> inputs;
    std::vector<std::tuple<int, int, int, int, int, size_t>> domains;
    bool operator==(const TIMING_PICTURE&) const = default;
};

TIMING_PICTURE analyse(TDC_ACCESSORIES& acc, CIRCUIT& c)
{
    TIMING_PICTURE p;
    TAN_RESULT r = acc.run_tan(*acc.get_tan_parameters(), true);
    p.fom = r.m_figure_of_merit;
    p.worst = r.m_worst_slack;
    p.nodes = acc.get_tdb_netlist()->get_num_nodes();
    p.edges = acc.get_tdb_netlist()->get_num_edges();
    p.inputs = input_timing(acc, c);
    for (const TDC_SUB_DOMAIN_DATA& d : *acc.get_sub_domain_data())
        p.domains.emplace_back(d.m_type, d.m_launch_clock, d.m_capture_clock, d.m_requirement, d.m_worst_slack,
                               d.m_edges.size());
    return p;
}

}  // namespace

// Pads come and go on a refresh; the keeper follows them, and the analysis
// (paths, domains, slacks) stays what it is without any pad.
TEST_F(TdbAtomTiming, PadTermsChangeNoTimingAndFollowRefreshes)
{
    CIRCUIT c;
    CDB_ATOM_OTERM* clk = c.input_pin();
    CDB_ATOM_OTERM* in1 = c.input_pin();
    CDB_ATOM_OTERM* in2 = c.input_pin();
    CDB_ATOM_OTERM* q1 = c.reg(in1, clk);
    CDB_ATOM_OTERM* y = c.lut({in2, q1});
    CDB_ATOM_OTERM* q2 = c.reg(y, clk);
    std::vector<CDB_ATOM_NODE*> outs = {c.output_pin(y), c.output_pin(q2)};
    int x = 1;
    for (CDB_ATOM_NODE* n : c.atoms) n->set_location(x, 3 * x % 7), ++x;
    TDC_ACCESSORIES acc;
    acc.set_atom_netlist(&c.atoms);
    acc.set_default_clock_period_ps(900);
    acc.set_collect_sub_domain_data(true);
    TIMING_PICTURE with_pads = analyse(acc, c);
    // Input, output, pin-to-pin and clock paths are all there.
    EXPECT_EQ(with_pads.domains.size(), 4u);
    EXPECT_EQ(with_pads.nodes, 11);

    std::vector<unsigned> out_ids;
    for (CDB_ATOM_NODE* o : outs) {
        out_ids.push_back(o->get_id());
        o->delete_output_term(o->get_output_term_by_type(DB_PAD_OUT));
    }
    acc.set_taint_change_set(out_ids);
    acc.build_timing_netlist();
    EXPECT_EQ(acc.get_num_refreshes(), 1);
    for (CDB_ATOM_NODE* o : outs) {
        ASSERT_TRUE(keeper_of(acc.get_tdb_netlist(), o));
        EXPECT_EQ(keeper_of(acc.get_tdb_netlist(), o)->get_oterm(false), nullptr);  // not the deleted term
    }
    EXPECT_EQ(analyse(acc, c), with_pads);

    for (CDB_ATOM_NODE* o : outs) cdb_add_pad_output(o);
    acc.set_taint_change_set(out_ids);
    acc.build_timing_netlist();
    for (CDB_ATOM_NODE* o : outs) {
        CDB_ATOM_OTERM* pad = o->get_output_term_by_type(DB_PAD_OUT);
        ASSERT_TRUE(keeper_of(acc.get_tdb_netlist(), o));
        EXPECT_EQ(keeper_of(acc.get_tdb_netlist(), o)->get_oterm(false), pad);
        EXPECT_EQ(acc.get_tdb_netlist()->get_tdb_node_from_oterm(pad), keeper_of(acc.get_tdb_netlist(), o));
    }
    EXPECT_EQ(analyse(acc, c), with_pads);
}

TEST(TdbNode, TermWalkStopsAtDataEdgesAndOtherAtoms)
{
    TDB_NETLIST tdb;
    CDB_ATOM_OTERM term(nullptr, DB_COMB_OUT);
    CDB_ATOM_OTERM* term_ptr = &term;
    TDB_NODE* a = tdb.add_node(1, TDB_NODE_PIN | TDB_NODE_INPUT_PIN, nullptr);
    TDB_NODE* b = tdb.add_node(2, 0, term_ptr, -1, 0, 0, false);
    tdb.add_edge(a, b, nullptr, false, 0, 0);
    // The only internal edge reaches another atom: no term.
    EXPECT_EQ(a->get_oterm(true), nullptr);
    TDB_NODE* c = tdb.add_node(3, TDB_NODE_PIN | TDB_NODE_INPUT_PIN, nullptr);
    TDB_NODE* d = tdb.add_node(3, 0, nullptr);
    TDB_NODE* e = tdb.add_node(3, 0, term_ptr, -1, 0, 0, false);
    tdb.add_edge(c, d, nullptr, false, 0, 0);
    tdb.add_edge(d, e, nullptr, false, 0, 0);
    EXPECT_EQ(c->get_oterm(true), term_ptr);  // two internal hops
    tdb.add_edge(d, b, nullptr, false, 0, 0);
    EXPECT_EQ(c->get_oterm(true), nullptr);  // d branches
    // A cycle of termless internal nodes ends without a term.
    TDB_NODE* f = tdb.add_node(4, 0, nullptr);
    TDB_NODE* g = tdb.add_node(4, 0, nullptr);
    tdb.add_edge(f, g, nullptr, false, 0, 0);
    tdb.add_edge(g, f, nullptr, false, 0, 0);
    EXPECT_EQ(f->get_oterm(true), nullptr);
}

// Atom ids are issued process-wide: a process that reads many designs
// reaches ids far above any one netlist's size. The timing netlist of the
// latest design must be sized by that design, and its refreshes must find
// the atoms of its id range (including ones below its first atom).
TEST_F(TdbAtomTiming, SizedByTheNetlistAfterManyReadsInOneProcess)
{
    auto design = [](CIRCUIT& c) {
        CDB_ATOM_OTERM* clk = c.input_pin();
        CDB_ATOM_OTERM* q = c.reg(c.input_pin(), clk);
        for (int i = 0; i < 20; ++i) q = c.reg(c.lut({q, q}), clk);
        c.output_pin(q);
    };
    for (int read = 0; read < 300; ++read) {
        CIRCUIT old;
        design(old);
    }
    CIRCUIT c;
    design(c);
    TDC_ACCESSORIES acc;
    acc.set_atom_netlist(&c.atoms);
    TDB_NETLIST* tdb = acc.build_timing_netlist();
    const size_t atoms = c.atoms.get_node_count();
    EXPECT_LE(tdb->get_atom_table_size(), atoms);
    EXPECT_GE(tdb->get_atom_id_base(), (int)c.atoms.get_min_id_bound());

    // A new atom (id above the range) and an old atom's removal refresh
    // incrementally and leave the table spanning the netlist.
    CDB_ATOM_NODE* first_lut = nullptr;
    for (CDB_ATOM_NODE* n : c.atoms)
        if (n->is_lcell_comb()) {
            first_lut = n;
            break;
        }
    ASSERT_TRUE(first_lut);
    CDB_ATOM_OTERM* extra = c.lut({first_lut->get_output_term_by_type(DB_COMB_OUT)});
    CDB_ATOM_NODE* out = c.output_pin(extra);
    acc.set_taint_change_set({extra->get_my_node()->get_id(), out->get_id()});
    acc.build_timing_netlist();
    EXPECT_EQ(acc.get_num_refreshes(), 1);
    EXPECT_EQ(tdb->get_atom_nodes((int)out->get_id()).size(), 1u);
    EXPECT_LE(tdb->get_atom_table_size(), c.atoms.get_node_count());

    // The refreshed netlist times the same as one built from scratch.
    const int refreshed = acc.run_tan(*acc.get_tan_parameters(), true).m_worst_slack;
    acc.set_full_taint();
    acc.build_timing_netlist();
    EXPECT_EQ(acc.run_tan(*acc.get_tan_parameters(), true).m_worst_slack, refreshed);
    EXPECT_EQ(acc.get_num_analyses(), 2);
}

// Moving atoms re-times only the edges at them, and the delays equal the
// ones a full refresh gives.
TEST_F(TdbAtomTiming, DelayRefreshOfMovedAtomsMatchesAFullRefresh)
{
    CIRCUIT c;
    CDB_ATOM_OTERM* clk = c.input_pin();
    CDB_ATOM_OTERM* q = c.reg(c.input_pin(), clk);
    std::vector<CDB_ATOM_NODE*> chain;
    for (int i = 0; i < 8; ++i) {
        q = c.reg(c.lut({q, q}), clk);
        chain.push_back(q->get_my_node());
    }
    c.output_pin(q);
    int k = 0;
    for (CDB_ATOM_NODE* n : c.atoms) n->set_location(k % 5, (k / 5) % 5), ++k;
    TDC_ACCESSORIES acc;
    acc.set_atom_netlist(&c.atoms);
    TDB_NETLIST* tdb = acc.build_timing_netlist();
    acc.refresh_interconnect_delays();
    std::vector<unsigned> moved;
    for (size_t i = 0; i < chain.size(); i += 3) {
        chain[i]->set_location(9 - (int)i, 7);
        moved.push_back(chain[i]->get_id());
    }
    acc.refresh_interconnect_delays(moved);
    std::vector<int> partial;
    for (TDB_EDGE* e : tdb->edge_table())
        if (e) partial.push_back(e->get_max_ic_delay());
    acc.refresh_interconnect_delays();
    std::vector<int> full;
    for (TDB_EDGE* e : tdb->edge_table())
        if (e) full.push_back(e->get_max_ic_delay());
    EXPECT_EQ(partial, full);
}

}  // namespace tdb_atom_timing_test
