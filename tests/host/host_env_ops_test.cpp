#include <gtest/gtest.h>

#include <map>

#include "cdb/cdb_atom_netlist.h"
#include "dev/dev_device.h"
#include "host_env.h"
#include "host_fitter.h"
#include "host_grid.h"
#include "io/blif_reader.h"
#include "morv/core/morv_api.h"
#include "morv/core/morv_expert.h"
#include "msg/msg.h"
#include "tdc/tdc_accessories.h"

namespace host_env_ops_test {

using namespace morv_host;

namespace {

const char* k_pipe = R"(.model pipe
.inputs clk a b c d
.outputs y
.latch n1 q1 re clk 0
.latch n2 q2 re clk 0
.names a b c n1
110 1
001 1
.names q1 d n2
10 1
.names q1 q2 y
11 1
.end
)";

struct ENV_FIXTURE
{
    explicit ENV_FIXTURE(int family = CDB_FAMILY_BRK)
    {
        msg_set_quiet(true);
        BLIF_READER reader(family);
        design = std::make_unique<HOST_DESIGN>(family, reader.read_text(k_pipe, "pipe.blif"));
        env = std::make_unique<HOST_ENV>(*design);
    }
    ~ENV_FIXTURE() { env.reset(); }
    CDB_ATOM_NODE* with_output(int port_type, const std::string& name = "")
    {
        for (CDB_ATOM_NODE* n : *design->netlist())
            if (CDB_ATOM_OTERM* o = n->get_output_term_by_type(port_type))
                if (name.empty() || (o->get_instance_name() && o->get_instance_name()->get_short_hpath() == name))
                    return n;
        return nullptr;
    }
    const HOST_NOTE* last(const std::string& what) const { return env->last_note(what); }
    std::unique_ptr<HOST_DESIGN> design;
    std::unique_ptr<HOST_ENV> env;
};

TEST(HostEnvOps, FreeNodeAnswersNoRegionWithEveryCornerCleared)
{
    ENV_FIXTURE f;
    CDB_ATOM_NODE* n = f.with_output(DB_COMB_OUT, "n1");
    ASSERT_NE(n, nullptr);
    int x1 = 7, y1 = 7, x2 = 7, y2 = 7;
    EXPECT_FALSE(f.env->get_node_locked_region(n, &x1, &y1, &x2, &y2));
    EXPECT_EQ(std::vector<int>({x1, y1, x2, y2}), std::vector<int>({-1, -1, -1, -1}));
    x1 = 7;
    EXPECT_FALSE(f.env->get_node_locked_region(nullptr, &x1, nullptr, nullptr, nullptr));
    EXPECT_EQ(x1, -1);
}

TEST(HostEnvOps, StructuredCellIdsOnlyWhereTheDeviceHasThem)
{
    ENV_FIXTURE brk;
    EXPECT_EQ(brk.env->get_oterm_fl_id(brk.with_output(DB_COMB_OUT)->get_output_term_by_type(DB_COMB_OUT)),
              DEV_ILLEGAL_FL_ID);

    ENV_FIXTURE mrl(CDB_FAMILY_MRL);
    const DEV_FL_INFO* fl = mrl.design->device()->get_fl_info();
    ASSERT_NE(fl, nullptr);
    CDB_ATOM_NODE* reg = mrl.with_output(DB_REG_OUT);
    ASSERT_NE(reg, nullptr);
    CDB_ATOM_OTERM* q = reg->get_output_term_by_type(DB_REG_OUT);
    const int ff = mrl.env->get_oterm_fl_id(q);
    ASSERT_GE(ff, 0);
    EXPECT_STREQ(fl->get_cell_name(ff), "FL_FF");
    // Every output answers a cell: a pin's output drives routing like a LUT.
    for (CDB_ATOM_NODE* n : *mrl.design->netlist())
        for (auto o = n->begin_oterm(); o != n->end_oterm(); ++o) {
            const int id = mrl.env->get_oterm_fl_id(*o);
            EXPECT_GE(id, 0) << "atom " << n->get_id();
            if (!(*o)->is_registered()) {
                EXPECT_STREQ(fl->get_cell_name(id), "FL_LUT");
            }
        }
    CDB_ATOM_LATCH_INFO info;
    info.is_latch = true;
    reg->set_latch_info(new CDB_ATOM_LATCH_INFO(info));
    EXPECT_STREQ(fl->get_cell_name(mrl.env->get_oterm_fl_id(q)), "FL_LATCH");
    EXPECT_GT(mrl.env->get_routing_delay(0, 0, 3, 3, mrl.env->get_oterm_fl_id(q)), 0.0);
}

TEST(HostEnvOps, ModificationRecordsKeepKindAndCode)
{
    ENV_FIXTURE f;
    CDB_ATOM_NODE* kept = f.with_output(DB_COMB_OUT, "n1");
    CDB_ATOM_NODE* merged = f.with_output(DB_COMB_OUT, "n2");
    f.env->record_node_modification(kept, merged, 6, 9);
    const HOST_NOTE* n = f.last("record_node_modification");
    ASSERT_NE(n, nullptr);
    EXPECT_EQ(n->a, kept->get_id());
    EXPECT_EQ(n->b, merged->get_id());
    EXPECT_EQ(n->c, 6);
    EXPECT_EQ(n->d, 9);
    f.env->node_added(merged, 0);
    EXPECT_EQ(f.last("node_added")->b, 0);
}

TEST(HostEnvOps, NotesCountEveryCallAndKeepTheLastOfEachKind)
{
    ENV_FIXTURE f;
    CDB_ATOM_NODE* kept = f.with_output(DB_COMB_OUT, "n1");
    CDB_ATOM_NODE* merged = f.with_output(DB_COMB_OUT, "n2");
    for (int code = 1; code <= 1000; ++code) f.env->record_node_modification(kept, merged, 6, code);
    f.env->set_taint_change_set({1, 2, 3});
    EXPECT_EQ(f.env->count_notes("record_node_modification"), 1000);
    EXPECT_EQ(f.last("record_node_modification")->d, 1000);
    EXPECT_EQ(f.last("record_node_modification")->what, "record_node_modification");
    EXPECT_EQ(f.env->count_notes("set_taint_change_set"), 1);
    EXPECT_EQ(f.last("set_taint_change_set")->a, 3);
    EXPECT_EQ(f.env->count_notes("registers_retimed"), 0);
    EXPECT_EQ(f.last("registers_retimed"), nullptr);
    f.env->clear_notes();
    EXPECT_EQ(f.env->count_notes("record_node_modification"), 0);
    EXPECT_EQ(f.last("set_taint_change_set"), nullptr);
}

// A created atom is lost unless the host takes it into the netlist.
TEST(HostEnvOps, AnAddedAtomJoinsTheNetlistOnce)
{
    ENV_FIXTURE f;
    CDB_ATOM_NETLIST* netlist = f.design->netlist();
    const size_t before = netlist->get_node_count();
    CDB_ATOM_NODE* made = cdb_create_atom(CDB_FAMILY_BRK, CDB_KIND_LCELL_COMB, nullptr);
    f.env->node_added(made, 0);
    EXPECT_EQ(made->get_netlist(), netlist);
    EXPECT_EQ(netlist->get_node_count(), before + 1);
    EXPECT_EQ(f.env->get_node(static_cast<int>(made->get_id())), made);
    EXPECT_EQ(made->get_chip_db_entry(), f.design->chip_entry());
    f.env->node_added(made, 0);  // already in: stays once
    EXPECT_EQ(netlist->get_node_count(), before + 1);

    CDB_ATOM_NETLIST other(CDB_FAMILY_BRK);
    CDB_ATOM_NODE* elsewhere = cdb_create_atom(CDB_FAMILY_BRK, CDB_KIND_LCELL_COMB, nullptr);
    other.add_node(elsewhere);
    EXPECT_THROW(f.env->node_added(elsewhere, 0), MSG_INTERNAL_ERROR_EXCEPTION);
    EXPECT_EQ(netlist->get_node_count(), before + 1);
}

TEST(HostEnvOps, ThirdBuildFlagRebuildsFromScratch)
{
    ENV_FIXTURE f;
    TDC_ACCESSORIES* acc = f.env->accessories();
    f.env->build_timing_netlist(nullptr, true, false, false, true, true, true);
    const int builds = acc->get_num_full_builds();
    // Nothing changed and no rebuild asked: the timing netlist stays.
    f.env->build_timing_netlist(nullptr, false, false, false, true, true, true);
    EXPECT_EQ(acc->get_num_full_builds(), builds);
    f.env->build_timing_netlist(nullptr, false, false, true, true, true, true);
    EXPECT_EQ(acc->get_num_full_builds(), builds + 1);
    EXPECT_EQ(f.last("build_timing_netlist")->a, 0b111100);

    // The handle the component hands back is kept until timing is discarded.
    f.env->set_tdc_utility(acc->get_tdc_utility());
    EXPECT_EQ(f.env->get_component_tdc_utility(), acc->get_tdc_utility());
    f.env->discard_timing_netlist();
    EXPECT_EQ(f.env->get_component_tdc_utility(), nullptr);
}

TEST(HostEnvOps, LegacyFigureIsTheWorstSlack)
{
    ENV_FIXTURE f;
    f.env->set_clock_period_ps(60);
    f.env->set_full_taint();
    const int legacy = f.env->get_figure_of_merit(true);
    EXPECT_EQ(legacy, f.env->get_worst_slack());
    EXPECT_LT(legacy, 0);
    f.env->set_clock_period_ps(100000);
    f.env->set_full_taint();
    EXPECT_GT(f.env->get_figure_of_merit(true), 0);
}

TEST(HostEnvOps, DontTouchFollowsTheModificationRules)
{
    ENV_FIXTURE f;
    CDB_ATOM_NODE* n1 = f.with_output(DB_COMB_OUT, "n1");
    const int id = static_cast<int>(n1->get_id());
    EXPECT_FALSE(f.env->is_atom_dont_touch(id, AMM_OP_FITTER_FSYN_DUPLICATE));
    CDB_ATOM_ASSIGNMENTS a;
    a.dont_touch = true;
    n1->set_assignments(a);
    EXPECT_TRUE(f.env->is_atom_dont_touch(id, AMM_OP_FITTER_FSYN_DUPLICATE));
    const int atoms = static_cast<int>(f.design->netlist()->get_node_count());
    EXPECT_EQ(f.env->duplicate_node(n1, DB_COMB_OUT), nullptr);
    EXPECT_EQ(static_cast<int>(f.design->netlist()->get_node_count()), atoms);

    // The ground cell may be retimed through but never removed.
    const int g = static_cast<int>(f.env->get_gnd_lcell(-1)->get_id());
    EXPECT_TRUE(f.env->is_atom_dont_touch(g, AMM_OP_FITTER_FSYN_REMOVE));
    EXPECT_FALSE(f.env->is_atom_dont_touch(g, AMM_OP_FITTER_FSYN_RETIME));
    EXPECT_FALSE(f.env->is_atom_dont_touch(f.env->get_max_atom_id() + 1, AMM_OP_FITTER_FSYN_REMOVE));
}

// Logic per LAB within capacity and every atom on a block of its kind.
void expect_legal(ENV_FIXTURE& f)
{
    const DEV_DEVICE& dev = *f.design->device();
    std::map<std::pair<int, int>, int> combs;
    for (CDB_ATOM_NODE* n : *f.design->netlist()) {
        ASSERT_GE(n->get_lab_x(), 0);
        EXPECT_EQ(host_site_class_of_block(dev.get_block_type(n->get_lab_x(), n->get_lab_y())), host_site_class_of(n));
        if (n->is_lcell_comb()) ++combs[{n->get_lab_x(), n->get_lab_y()}];
    }
    for (const auto& [lab, count] : combs) EXPECT_LE(count, dev.get_lab_capacity());
}

TEST(HostEnvOps, IcpMovesCrowdingDuplicatesAndKeepsTheOriginals)
{
    ENV_FIXTURE f;
    HOST_CLUSTERING c = cluster_netlist(*f.env);
    ASSERT_TRUE(place_netlist(*f.env, c, 1, {0.5}).ok);
    std::map<uint32_t, CDB_ATOM_LOCATION> before;
    for (CDB_ATOM_NODE* n : *f.design->netlist()) before[n->get_id()] = n->get_location();
    CDB_ATOM_NODE* n1 = f.with_output(DB_COMB_OUT, "n1");
    const int cap = f.design->device()->get_lab_capacity();
    std::vector<CDB_ATOM_NODE*> dups;
    for (int i = 0; i < cap + 2; ++i) dups.push_back(f.env->duplicate_node(n1, DB_COMB_OUT));

    TDC_ACCESSORIES* acc = f.env->accessories();
    f.env->analyse_timing();
    const int builds = acc->get_num_full_builds();
    MORV_ICP_RESULT r = f.env->run_icp(false, false, 1.0);
    ASSERT_EQ(r.m_status, 1);
    expect_legal(f);
    EXPECT_EQ(acc->get_num_full_builds(), builds);  // not full: incremental
    for (const auto& [id, loc] : before) EXPECT_EQ(f.env->get_node(static_cast<int>(id))->get_location(), loc) << id;
    int moved = 0;
    for (CDB_ATOM_NODE* d : dups) {
        if (d->get_location() == n1->get_location()) continue;
        ++moved;
        EXPECT_LE(std::abs(d->get_lab_x() - n1->get_lab_x()) + std::abs(d->get_lab_y() - n1->get_lab_y()), 2);
    }
    EXPECT_GE(moved, 2);
    EXPECT_EQ(r.m_moved_atoms, moved);

    // A legal placement stays put; a full call rebuilds timing.
    EXPECT_EQ(f.env->run_icp(true, false, 1.0).m_moved_atoms, 0);
    EXPECT_EQ(acc->get_num_full_builds(), builds + 1);
}

// After placement a new atom goes to the LAB the component asked for, not
// to its origin or its neighbours: a register retiming moved across a cell
// belongs next to that cell, where the component's timing estimate put it.
// An atom the component gave no location still goes by its neighbours.
TEST(HostEnvOps, IcpPlacesANewAtomWhereTheComponentAskedForIt)
{
    ENV_FIXTURE f;
    HOST_CLUSTERING c = cluster_netlist(*f.env);
    ASSERT_TRUE(place_netlist(*f.env, c, 1, {0.5}).ok);
    const DEV_DEVICE& dev = *f.design->device();
    const int mx = dev.get_nx() / 2, my = dev.get_ny() / 2;
    int px = -1, py = -1;  // the logic LAB farthest from the middle, where nothing else would put an atom
    for (int x = 0; x < dev.get_nx(); ++x)
        for (int y = 0; y < dev.get_ny(); ++y)
            if (host_site_class_of_block(dev.get_block_type(x, y)) == HOST_SITE_LAB &&
                (px < 0 || std::abs(x - mx) + std::abs(y - my) > std::abs(px - mx) + std::abs(py - my))) {
                px = x;
                py = y;
            }
    ASSERT_GE(px, 0);
    ASSERT_GT(std::abs(px - mx) + std::abs(py - my), 2);

    CDB_ATOM_NODE* asked = cdb_create_atom(CDB_FAMILY_BRK, CDB_KIND_LCELL_COMB, nullptr);
    CDB_ATOM_NODE* free_atom = cdb_create_atom(CDB_FAMILY_BRK, CDB_KIND_LCELL_COMB, nullptr);
    f.env->node_added(asked, 0);
    f.env->node_added(free_atom, 0);
    auto* expert = dynamic_cast<MORV_EXPERT*>(f.env->get_fsyn_expert());
    ASSERT_NE(expert, nullptr);
    expert->get_fsyn_api()->reset_fsyn_chip_map(false);  // as a flow of the component makes it
    expert->set_atoms_preferred_location(static_cast<int>(asked->get_id()), px, py, -1, -1);
    ASSERT_EQ(f.env->run_icp(false, false, 1.0).m_status, 1);
    EXPECT_EQ(asked->get_lab_x(), px);
    EXPECT_EQ(asked->get_lab_y(), py);
    ASSERT_GE(free_atom->get_lab_x(), 0);
    EXPECT_LE(std::abs(free_atom->get_lab_x() - mx) + std::abs(free_atom->get_lab_y() - my), 2);
    expect_legal(f);
}

}  // namespace

}  // namespace host_env_ops_test
