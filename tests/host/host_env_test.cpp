#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <sstream>

#include "bpm/bpm_boundary_port_manager.h"
#include "cdb/cdb_atom_netlist.h"
#include "dev/dev_device.h"
#include "hdb/hdb_options.h"
#include "host_compile.h"
#include "host_env.h"
#include "host_fitter.h"
#include "host_grid.h"
#include "host_settings.h"
#include "hut/hut_util.h"
#include "io/blif_reader.h"
#include "msg/msg.h"

namespace host_env_test {

using namespace morv_host;

namespace {

const char* k_small = R"(.model small
.inputs clk a b c d
.outputs y z
.latch n1 q1 re clk 0
.latch n2 q2 re clk 0
.names a b c n1
110 1
001 1
.names q1 d n2
10 1
.names q1 q2 y
11 1
.names q2 a z
01 1
.end
)";

// A compile of one netlist: design plus environment, quiet.
struct FIXTURE
{
    explicit FIXTURE(const std::string& text, int family = CDB_FAMILY_BRK)
    {
        msg_set_quiet(true);
        BLIF_READER reader(family);
        design = std::make_unique<HOST_DESIGN>(family, reader.read_text(text, "test.blif"));
        env = std::make_unique<HOST_ENV>(*design);
    }
    explicit FIXTURE(const char* bench_file, int family)
    {
        msg_set_quiet(true);
        BLIF_READER reader(family);
        design = std::make_unique<HOST_DESIGN>(family, reader.read_file(bench_file));
        env = std::make_unique<HOST_ENV>(*design);
    }
    CDB_ATOM_NODE* by_name(const std::string& name)
    {
        for (CDB_ATOM_NODE* n : *design->netlist()) {
            if (n->get_instance_name() && n->get_instance_name()->get_short_hpath() == name) return n;
            for (auto ot = n->begin_oterm(); ot != n->end_oterm(); ++ot)
                if ((*ot)->get_instance_name() && (*ot)->get_instance_name()->get_short_hpath() == name) return n;
        }
        return nullptr;
    }
    std::string native()
    {
        std::ostringstream s;
        cdb_write_native_netlist(*design->netlist(), s);
        return s.str();
    }
    std::unique_ptr<HOST_DESIGN> design;
    std::unique_ptr<HOST_ENV> env;  // destroyed first
    ~FIXTURE() { env.reset(); }
};

TEST(HostSnapshots, IdsArePositionsAndClearedStatesKeepTheirPlace)
{
    FIXTURE f(k_small);
    ASSERT_NE(f.env->get_fsyn_expert(), nullptr);
    const std::string before = f.native();
    CDB_ATOM_NODE* old_node = f.by_name("y");
    ASSERT_NE(old_node, nullptr);
    const uint32_t y_id = old_node->get_id();

    EXPECT_EQ(f.env->save_state(), 0);
    f.design->netlist()->delete_node(f.by_name("z"));
    const std::string edited = f.native();
    EXPECT_EQ(f.env->save_state(), 1);
    EXPECT_EQ(f.env->save_state(), 2);
    ASSERT_EQ(f.env->snapshots().get_number_of_snapshots(), 3);

    f.env->clear_state(1);
    EXPECT_EQ(f.env->snapshots().get_snapshot_at_position(1)->m_id, -1);
    EXPECT_EQ(f.env->snapshots().get_number_of_snapshots(), 3);
    // A new state goes on top; the cleared one keeps its position.
    EXPECT_EQ(f.env->save_state(), 3);
    f.env->clear_state(1);  // clearing twice changes nothing

    // Restoring gives back the saved netlist, made of new objects.
    f.env->restore_state(0);
    EXPECT_EQ(f.native(), before);
    CDB_ATOM_NODE* restored = f.env->get_node(static_cast<int>(y_id));
    ASSERT_NE(restored, nullptr);
    EXPECT_NE(f.by_name("z"), nullptr);
    f.env->restore_state(2);
    EXPECT_EQ(f.native(), edited);
    EXPECT_EQ(f.by_name("z"), nullptr);

    // A cleared position no longer holds its state.
    EXPECT_THROW(f.env->restore_state(1), MSG_INTERNAL_ERROR_EXCEPTION);
    f.env->clear_all_states();
    for (int p = 0; p < f.env->snapshots().get_number_of_snapshots(); ++p)
        EXPECT_EQ(f.env->snapshots().get_snapshot_at_position(p)->m_id, -1);
}

// Every restore builds the names anew; the names the restores before it
// built are no longer anyone's and go, or a compile of many iterations
// would hold a copy of all names per restore. The netlist's record of
// copies follows the restored names, and forgets the copies made after the
// restored state.
TEST(HostSnapshots, RestoresKeepOneCopyOfTheNames)
{
    FIXTURE f(k_small);
    ASSERT_NE(f.env->get_fsyn_expert(), nullptr);
    CDB_ATOM_NETLIST* netlist = f.design->netlist();
    auto out_name = [&](const char* name) {
        return f.by_name(name)->get_output_term_by_type(DB_COMB_OUT)->get_instance_name();
    };
    netlist->add_new_atom_to_created_from_map(out_name("y"), out_name("n1"));
    const int before = f.env->save_state();
    CDB_ATOM_NODE* copy = f.env->duplicate_node(f.by_name("n1"), DB_COMB_OUT);
    ASSERT_NE(copy, nullptr);
    HDB_INSTANCE_NAME* copy_name = copy->get_output_term_by_type(DB_COMB_OUT)->get_instance_name();
    const std::string copy_path = copy_name->get_short_hpath();
    netlist->add_new_atom_to_created_from_map(copy_name, out_name("n1"));
    const int after = f.env->save_state();

    const int held = HUT_UTIL::count_restored_name_mgrs();
    for (int i = 0; i < 20; ++i) {
        const int id = f.env->save_state();
        f.env->restore_state(id);
        f.env->clear_state(id);
        EXPECT_LE(HUT_UTIL::count_restored_name_mgrs(), held + 1);
    }
    f.env->restore_state(after);
    ASSERT_EQ(netlist->get_created_from_map().size(), 2u);
    EXPECT_EQ(netlist->get_created_from_map()[0].first, out_name("y"));
    EXPECT_EQ(netlist->get_created_from_map()[1].second, out_name("n1"));
    EXPECT_EQ(netlist->get_created_from_map()[1].first, out_name(copy_path.c_str()));

    f.env->restore_state(before);
    ASSERT_EQ(netlist->get_created_from_map().size(), 1u);
    EXPECT_EQ(netlist->get_created_from_map()[0].first, out_name("y"));
    EXPECT_EQ(netlist->get_created_from_map()[0].second, out_name("n1"));
    EXPECT_LE(HUT_UTIL::count_restored_name_mgrs(), held + 1);
}

TEST(HostDuplicate, CloneKeepsEverythingButNameAndFanout)
{
    FIXTURE f(k_small);
    CDB_ATOM_NODE* n1 = f.by_name("n1");
    ASSERT_NE(n1, nullptr);
    n1->set_location(3, 4, 2);
    CDB_ATOM_ASSIGNMENTS a;
    a.kardel_region = 5;
    a.locked_x1 = 1;
    a.locked_y1 = 1;
    a.locked_x2 = 6;
    a.locked_y2 = 6;
    n1->set_assignments(a);
    n1->get_input_term_by_type(DB_DATA_B)->set_invert();
    n1->set_bit(28);
    n1->get_output_term_by_type(DB_COMB_OUT)->set_invert_observable(true);
    const int fanout_before = n1->get_output_term_by_type(DB_COMB_OUT)->get_number_of_fanout();

    EXPECT_EQ(f.env->duplicate_node(n1, DB_REG_OUT), nullptr);  // no such output
    CDB_ATOM_NODE* d = f.env->duplicate_node(n1, DB_COMB_OUT);
    ASSERT_NE(d, nullptr);
    EXPECT_NE(d->get_id(), n1->get_id());
    EXPECT_EQ(d->get_netlist(), f.design->netlist());
    EXPECT_EQ(d->get_atom_type(), n1->get_atom_type());
    EXPECT_EQ(d->get_lutmask().get_value(), n1->get_lutmask().get_value());
    EXPECT_EQ(d->get_bits(), n1->get_bits());
    EXPECT_EQ(d->get_mode(), n1->get_mode());
    EXPECT_EQ(d->get_location(), n1->get_location());
    EXPECT_EQ(d->get_assignments(), n1->get_assignments());
    ASSERT_NE(d->get_instance_name(), nullptr);
    EXPECT_NE(d->get_instance_name()->get_short_hpath(), n1->get_instance_name()->get_short_hpath());
    EXPECT_EQ(f.env->get_origin(d->get_id()), n1->get_id());

    // Same inputs, same term settings, same drivers.
    std::vector<CDB_ATOM_ITERM*> a_terms(n1->begin_iterm(), n1->end_iterm()), b_terms(d->begin_iterm(), d->end_iterm());
    ASSERT_EQ(a_terms.size(), b_terms.size());
    for (size_t i = 0; i < a_terms.size(); ++i) {
        EXPECT_EQ(a_terms[i]->get_any_usage_as(), b_terms[i]->get_any_usage_as());
        EXPECT_EQ(a_terms[i]->get_port_index(), b_terms[i]->get_port_index());
        EXPECT_EQ(a_terms[i]->get_property_word(), b_terms[i]->get_property_word());
        EXPECT_EQ(a_terms[i]->get_source(), b_terms[i]->get_source());
    }
    // Same function on every input row; the clone drives nothing yet.
    for (unsigned row = 0; row < 64; ++row) {
        unsigned in[9] = {};
        for (int k = 0; k < 6; ++k) in[k] = (row >> k) & 1;
        EXPECT_EQ(d->evaluate_output(DB_COMB_OUT, in), n1->evaluate_output(DB_COMB_OUT, in)) << row;
    }
    CDB_ATOM_OTERM* out = d->get_output_term_by_type(DB_COMB_OUT);
    ASSERT_NE(out, nullptr);
    EXPECT_FALSE(out->has_fanout());
    EXPECT_TRUE(out->is_invert_observable());
    EXPECT_EQ(n1->get_output_term_by_type(DB_COMB_OUT)->get_number_of_fanout(), fanout_before);
    EXPECT_TRUE(f.design->netlist()->verify());
    EXPECT_EQ(f.env->count_notes("duplicate_node"), 1);
}

// A six-input cell's mask that reads input F must not leave the clone with a
// spare, unconnected F in F's own slot: the copied F term would land among
// the unordered terms, and the clone would read F as a floating 0.
TEST(HostDuplicate, CloneOfACellReadingInputFReadsTheSameF)
{
    const char* six = R"(.model six
.inputs a b c d e f
.outputs y w
.names a b c d e f y
111111 1
000001 1
.names y a w
11 1
.end
)";
    FIXTURE f(six);
    CDB_ATOM_NODE* y = f.by_name("y");
    ASSERT_NE(y, nullptr);
    CDB_ATOM_ITERM* y_f = y->get_input_term_by_type(DB_DATA_F);
    ASSERT_TRUE(y_f != nullptr && y_f->is_connected());

    CDB_ATOM_NODE* d = f.env->duplicate_node(y, DB_COMB_OUT);
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(std::distance(d->begin_iterm(), d->end_iterm()), std::distance(y->begin_iterm(), y->end_iterm()));
    for (int port = DB_DATA_A; port <= DB_DATA_F; ++port) {
        CDB_ATOM_ITERM* from = y->get_input_term_by_type(port);
        CDB_ATOM_ITERM* to = d->get_input_term_by_type(port);
        ASSERT_NE(to, nullptr) << port;
        EXPECT_EQ(to->get_source(), from->get_source()) << port;
        EXPECT_EQ(to->get_property_word(), from->get_property_word()) << port;
    }
    EXPECT_EQ(d->get_lutmask(), y->get_lutmask());
    EXPECT_TRUE(f.design->netlist()->verify());
}

// An adder's mask is two 16-bit halves: a clone keeps both, whether they
// sit in a 6-input cell's LUT mask or in the MRL adder cell's own mask.
TEST(HostDuplicate, AdderCellsKeepBothHalvesOfTheirMask)
{
    FIXTURE f(std::string(k_small), CDB_FAMILY_MRL);
    CDB_ATOM_NODE* adder = cdb_create_atom(CDB_FAMILY_MRL, CDB_KIND_HSADDER, nullptr);
    adder->set_chip_db_entry(f.design->chip_entry());
    f.design->netlist()->add_node(adder);
    adder->add_output_term(DB_HSADDER_SUM_0);
    adder->set_sum_lutmask(CDB_LUTMASK(5, 0xBEEFCAFEull));
    CDB_ATOM_NODE* copy = f.env->duplicate_node(adder, DB_HSADDER_SUM_0);
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(copy->get_adder_lutmask(), 0xBEEFCAFEull);
    CDB_ATOM_NODE* n1 = f.by_name("n1");
    n1->set_sum_lutmask(CDB_LUTMASK(5, 0xBEEFCAFEull));
    CDB_ATOM_NODE* cell = f.env->duplicate_node(n1, DB_COMB_OUT);
    ASSERT_NE(cell, nullptr);
    EXPECT_EQ(cell->get_lutmask(), n1->get_lutmask());
    EXPECT_EQ(cell->get_adder_lutmask(), 0xBEEFCAFEull);
}

TEST(HostGround, OneCellPerPartitionKeptAndFoundAgain)
{
    FIXTURE f(k_small);
    f.env->prepare_gnd_lcell(-1);
    CDB_ATOM_NODE* g = f.env->get_gnd_lcell(-1);
    ASSERT_NE(g, nullptr);
    EXPECT_EQ(f.env->get_gnd_lcell(-1), g);
    EXPECT_TRUE(f.env->must_keep_node(g));
    EXPECT_FALSE(f.env->can_modify_atom(static_cast<int>(g->get_id()), AMM_OP_FITTER_FSYN_REMOVE));
    unsigned zeros[9] = {}, ones[9] = {1, 1, 1, 1, 1, 1, 1, 1, 1};
    EXPECT_EQ(g->evaluate_output(DB_COMB_OUT, zeros), 0u);
    EXPECT_EQ(g->evaluate_output(DB_COMB_OUT, ones), 0u);

    CDB_ATOM_NODE* p2 = f.env->get_partition_gnd_lcell(2);
    ASSERT_NE(p2, nullptr);
    EXPECT_NE(p2, g);
    EXPECT_EQ(p2->get_assignments().partition_id, 2);
    EXPECT_EQ(f.env->get_partition_gnd_lcell(2), p2);
    EXPECT_EQ(f.env->count_notes("ground_cell_created"), 2);

    // After a restore the cell is a new object with the same id, and is reused.
    f.env->get_fsyn_expert();
    const uint32_t gid = g->get_id();
    f.env->save_state();
    f.env->restore_state(0);
    CDB_ATOM_NODE* again = f.env->get_gnd_lcell(-1);
    EXPECT_EQ(again->get_id(), gid);
    EXPECT_EQ(f.env->count_notes("ground_cell_created"), 2);
    // A deleted cell is made anew rather than handed out dangling.
    f.env->delete_node(again);
    CDB_ATOM_NODE* fresh = f.env->get_gnd_lcell(-1);
    ASSERT_NE(fresh, nullptr);
    EXPECT_NE(fresh->get_id(), gid);
}

void expect_legal(FIXTURE& f)
{
    const DEV_DEVICE& dev = *f.design->device();
    std::map<std::pair<int, int>, std::pair<int, int>> lab;  // combs, regs
    std::map<std::pair<int, int>, int> io;
    for (CDB_ATOM_NODE* n : *f.design->netlist()) {
        ASSERT_GE(n->get_lab_x(), 0) << "atom " << n->get_id() << " is unplaced";
        const int cls = host_site_class_of_block(dev.get_block_type(n->get_lab_x(), n->get_lab_y()));
        EXPECT_EQ(cls, host_site_class_of(n)) << "atom " << n->get_id() << " on the wrong kind of block";
        auto key = std::make_pair(n->get_lab_x(), n->get_lab_y());
        if (n->is_pin()) ++io[key];
        else if (n->is_register()) ++lab[key].second;
        else ++lab[key].first;
    }
    for (const auto& [k, v] : lab) {
        EXPECT_LE(v.first, dev.get_lab_capacity());
        EXPECT_LE(v.second, dev.get_lab_capacity());
    }
    for (const auto& [k, v] : io) EXPECT_LE(v, HOST_IO_SLOTS);
}

std::vector<CDB_ATOM_LOCATION> locations(FIXTURE& f)
{
    std::vector<CDB_ATOM_LOCATION> v;
    for (CDB_ATOM_NODE* n : *f.design->netlist()) v.push_back(n->get_location());
    return v;
}

TEST(HostPlacement, LegalCompleteAndDeterministicOnABenchmark)
{
    const std::string file = std::string(MORV_BENCH_DIR) + "/iscas89_k6/s5378.blif";
    if (!std::ifstream(file)) GTEST_SKIP() << file << " is not present";
    FIXTURE f(file.c_str(), CDB_FAMILY_BRK);
    HOST_CLUSTERING c = cluster_netlist(*f.env);
    HOST_PLACEMENT p = place_netlist(*f.env, c, 11, {0.3});
    ASSERT_TRUE(p.ok) << p.error;
    expect_legal(f);
    const auto first = locations(f);
    EXPECT_TRUE(f.env->is_placed());

    place_netlist(*f.env, c, 11, {0.3});
    EXPECT_EQ(locations(f), first) << "same seed, different placement";
    place_netlist(*f.env, c, 12, {0.3});
    EXPECT_NE(locations(f), first);

    // Clusters respect capacity and hold every logic atom once.
    std::set<uint32_t> seen;
    for (const auto& cl : c.clusters)
        for (uint32_t id : cl) EXPECT_TRUE(seen.insert(id).second);
    EXPECT_EQ(static_cast<int>(seen.size()) + c.io_atoms, static_cast<int>(f.design->netlist()->get_node_count()));
}

// Several starts keep the placement that times best; the first start is
// the single anneal of the same seed, so they can only do as well or better.
TEST(HostPlacement, MoreStartsNeverTimeWorseAndStayDeterministic)
{
    const std::string file = std::string(MORV_BENCH_DIR) + "/iscas89_k6/s1423.blif";
    if (!std::ifstream(file)) GTEST_SKIP() << file << " is not present";
    FIXTURE f(file.c_str(), CDB_FAMILY_BRK);
    f.env->set_clock_period_ps(1000);
    HOST_CLUSTERING c = cluster_netlist(*f.env);
    HOST_PLACEMENT one = place_netlist(*f.env, c, 5, {0.2});
    ASSERT_TRUE(one.ok) << one.error;
    EXPECT_EQ(one.starts, 1);
    f.env->analyse_timing();
    const int single = f.env->get_worst_slack();

    // The budget decides how many of the allowed starts run.
    HOST_PLACEMENT capped = place_netlist(*f.env, c, 5, {0.2, 3, 0});
    EXPECT_EQ(capped.starts, 1);
    HOST_PLACEMENT three = place_netlist(*f.env, c, 5, {0.2, 3, 1e12});
    ASSERT_TRUE(three.ok) << three.error;
    EXPECT_EQ(three.starts, 3);
    EXPECT_GT(three.moves, one.moves * 2);
    expect_legal(f);
    f.env->analyse_timing();
    EXPECT_GE(f.env->get_worst_slack(), single);
    const auto best = locations(f);
    place_netlist(*f.env, c, 5, {0.2, 3, 1e12});
    EXPECT_EQ(locations(f), best);
}

TEST(HostIcp, NewAtomsGoNextToTheirOrigin)
{
    FIXTURE f(k_small);
    HOST_CLUSTERING c = cluster_netlist(*f.env);
    ASSERT_TRUE(place_netlist(*f.env, c, 1, {0.5}).ok);
    CDB_ATOM_NODE* n1 = f.by_name("n1");
    const CDB_ATOM_LOCATION home = n1->get_location();

    CDB_ATOM_NODE* dup = f.env->duplicate_node(n1, DB_COMB_OUT);
    dup->set_location(CDB_ATOM_LOCATION());  // as a host would see a fresh atom
    // A new atom tied to its origin through a created-from record.
    CDB_ATOM_NODE* made = cdb_create_atom(CDB_FAMILY_BRK, CDB_KIND_LCELL_COMB);
    CDB_ATOM_OTERM* made_out = made->add_output_term(DB_COMB_OUT);
    f.design->netlist()->add_node(made);
    f.env->record_created_from(made_out, f.by_name("n2")->get_output_term_by_type(DB_COMB_OUT));
    const CDB_ATOM_LOCATION n2_home = f.by_name("n2")->get_location();

    MORV_ICP_RESULT r = f.env->run_icp(false, false, 1.0);
    EXPECT_EQ(r.m_status, 1);
    EXPECT_EQ(r.m_moved_atoms, 2);
    auto dist = [](const CDB_ATOM_LOCATION& a, const CDB_ATOM_LOCATION& b) {
        return std::abs(a.x - b.x) + std::abs(a.y - b.y);
    };
    EXPECT_LE(dist(dup->get_location(), home), 1);
    EXPECT_LE(dist(made->get_location(), n2_home), 1);
    expect_legal(f);

    f.env->set_icp_failure(true);
    EXPECT_NE(f.env->run_icp(false, false, 1.0).m_status, 1);
    EXPECT_EQ(f.env->get_icp_calls(), 2);
}

TEST(HostIcp, FullLabsSpillToTheNearestLabWithRoom)
{
    FIXTURE f(k_small);
    HOST_CLUSTERING c = cluster_netlist(*f.env);
    ASSERT_TRUE(place_netlist(*f.env, c, 1, {0.5}).ok);
    CDB_ATOM_NODE* n1 = f.by_name("n1");
    const int cap = f.design->device()->get_lab_capacity();
    for (int i = 0; i < cap + 3; ++i) {
        CDB_ATOM_NODE* d = f.env->duplicate_node(n1, DB_COMB_OUT);
        d->set_location(CDB_ATOM_LOCATION());
    }
    f.env->run_icp(false, false, 1.0);
    expect_legal(f);
}

TEST(HostSettings, AssignmentsReachTheAtomsAndErrorsNameTheLine)
{
    FIXTURE f(k_small);
    std::ofstream("assign.txt") << "# per-atom settings\n566=9\nfsyn_debug_msg=off\ndont_touch=n1\n"
                                   "locked_region=q2 1 2 3 4\nback_annotated=y\nfloating_region=3 12\n";
    HOST_SETTINGS s;
    s.load_file("assign.txt");
    EXPECT_TRUE(s.has_option(566));
    s.apply_options_and_switches(f.design->options());
    EXPECT_EQ(HDB_INT_OPTION::get_int_option(&f.design->options(), 566).value_or(-1), 9);
    s.apply_assignments(*f.env);
    const int n1 = static_cast<int>(f.by_name("n1")->get_id());
    EXPECT_TRUE(f.env->is_atom_dont_touch(n1, AMM_OP_FITTER_FSYN_DUPLICATE));
    int reason = 0;
    EXPECT_FALSE(f.env->can_modify_atom(n1, AMM_OP_FITTER_FSYN_RETIME, &reason));
    EXPECT_NE(reason, 0);
    int x1, y1, x2, y2;
    ASSERT_TRUE(f.env->get_node_locked_region(f.by_name("q2"), &x1, &y1, &x2, &y2));
    EXPECT_EQ(std::vector<int>({x1, y1, x2, y2}), std::vector<int>({1, 2, 3, 4}));
    EXPECT_TRUE(f.env->is_atom_back_annotated(f.by_name("y")));
    EXPECT_EQ(f.env->get_floating_region_lab_count(3), 12);

    // Assignments follow a copy and go with a clear (the partition stays).
    CDB_ATOM_NODE* z = f.by_name("z");
    f.env->copy_node_assignments(f.by_name("q2"), z);
    EXPECT_TRUE(f.env->get_node_locked_region(z, &x1, &y1, &x2, &y2));
    f.env->clear_node_assignments(z);
    EXPECT_FALSE(f.env->get_node_locked_region(z, &x1, &y1, &x2, &y2));

    std::ofstream("bad_assign.txt") << "dont_touch=n1\n\nlocked_region=nobody 1 1 2 2\n";
    HOST_SETTINGS bad;
    bad.load_file("bad_assign.txt");
    try {
        bad.apply_assignments(*f.env);
        ADD_FAILURE() << "unknown atom accepted";
    } catch (const HOST_INPUT_ERROR& e) {
        EXPECT_NE(std::string(e.what()).find("bad_assign.txt:3"), std::string::npos) << e.what();
        EXPECT_NE(std::string(e.what()).find("nobody"), std::string::npos);
    }
    HOST_SETTINGS reversed;
    reversed.add("locked_region", "q1 5 5 1 1", "cli");
    EXPECT_THROW(reversed.apply_assignments(*f.env), HOST_INPUT_ERROR);
}

// Partitions and ports make the compile incremental: the environment finds
// a boundary-port manager, which holds them.
TEST(HostSettings, PartitionsPortsAndInstanceOptions)
{
    msg_set_quiet(true);
    HOST_SETTINGS plain;
    plain.add("dont_touch", "n1", "cli");
    plain.add("instance_option", "n1 662 on", "cli");
    EXPECT_FALSE(plain.needs_boundary_port_manager());
    {
        BLIF_READER reader(CDB_FAMILY_BRK);
        HOST_DESIGN design(CDB_FAMILY_BRK, reader.read_text(k_small, "test.blif"));
        HOST_ENV env(design);
        EXPECT_EQ(env.get_boundary_port_manager(), nullptr);
    }

    std::ofstream("parts.txt") << "partition=n1 2\npartition=q2 5\npartition_name=2  dsp  core \n"
                                  "boundary_port=q1 part2|q1_port\n"
                                  "instance_option=n1 662 on\ninstance_option=q2 664 off\n";
    HOST_SETTINGS s;
    s.load_file("parts.txt");
    ASSERT_TRUE(s.needs_boundary_port_manager());
    BLIF_READER reader(CDB_FAMILY_BRK);
    HOST_DESIGN design(CDB_FAMILY_BRK, reader.read_text(k_small, "test.blif"));
    design.install_boundary_port_manager();
    HOST_ENV env(design);
    s.apply_assignments(env);
    BPM_BOUNDARY_PORT_MANAGER* bpm = env.get_boundary_port_manager();
    ASSERT_NE(bpm, nullptr);
    EXPECT_EQ(bpm, design.boundary_port_manager());
    CDB_ATOM_NODE* n1 = nullptr;
    CDB_ATOM_OTERM* q1 = nullptr;
    for (CDB_ATOM_NODE* n : *design.netlist())
        for (auto ot = n->begin_oterm(); ot != n->end_oterm(); ++ot) {
            const std::string name = (*ot)->get_instance_name() ? (*ot)->get_instance_name()->get_short_hpath() : "";
            if (name == "n1") n1 = n;
            if (name == "q1") q1 = *ot;
        }
    ASSERT_TRUE(n1 && q1);
    EXPECT_EQ(bpm->get_partition_id(n1), 2);
    EXPECT_EQ(bpm->get_partition_name(2), "dsp  core");
    // Partition 5 has no name but an atom: the manager counts up to it.
    EXPECT_EQ(bpm->get_partition_count(), 6);
    const int port = bpm->create_port("part2|q1_port");
    EXPECT_EQ(bpm->get_bound_port_id(q1), port);
    EXPECT_EQ(bpm->get_assigned_port_id(q1), port);
    EXPECT_EQ(bpm->get_port_name(port), "part2|q1_port");
    HDB_NAME_MGR* names = design.action_point().get_name_mgr();
    EXPECT_EQ(HDB_BOOL_OPTION::get_bool_option(&design.action_point(), names->find_name("n1"), 662),
              std::optional<bool>(true));
    EXPECT_EQ(HDB_BOOL_OPTION::get_bool_option(&design.action_point(), names->find_name("q2"), 664),
              std::optional<bool>(false));

    for (const auto& [key, value] :
         std::vector<std::pair<std::string, std::string>>{{"boundary_port", "nobody p"},
                                                          {"boundary_port", "q1"},
                                                          {"instance_option", "nobody 662 on"},
                                                          {"instance_option", "n1 x on"},
                                                          {"instance_option", "n1 662"},
                                                          {"instance_option", "n1 662 maybe"},
                                                          {"instance_option", "n1 567 on"},
                                                          {"partition_name", "two"}}) {
        HOST_SETTINGS bad;
        bad.add(key, value, "cli");
        EXPECT_THROW(bad.apply_assignments(env), HOST_INPUT_ERROR) << key << "=" << value;
    }
}

TEST(HostNotes, SilentNotificationsAreRecordedAndTimingAnswers)
{
    FIXTURE f(k_small);
    f.env->registers_retimed();
    f.env->refresh_after_netlist_change();
    f.env->clear_rdb_table();
    f.env->record_node_modification(f.by_name("y"), nullptr, 2, 4149);
    EXPECT_EQ(f.env->count_notes("registers_retimed"), 1);
    EXPECT_EQ(f.env->count_notes("refresh_after_netlist_change"), 1);
    EXPECT_EQ(f.env->count_notes("record_node_modification"), 1);

    f.env->set_clock_period_ps(100000);
    const int relaxed = f.env->get_figure_of_merit();
    f.env->set_clock_period_ps(50);
    f.env->set_full_taint();
    EXPECT_LT(f.env->get_figure_of_merit(), relaxed);
    EXPECT_LT(f.env->get_worst_slack(), 0);
    EXPECT_GT(f.env->get_routing_delay(0, 0, 5, 5), f.env->get_routing_delay(0, 0, 1, 0));
    int start = -1, end = -1;
    f.env->get_progress_range(&start, &end);
    EXPECT_LT(start, end);
}

// Two designs alive at once: each keeps its own device, the current-device
// slot only borrows it, and a design that goes away takes its device out of
// the slot instead of leaving it pointing at freed memory.
TEST(HostDesign, TwoDesignsAliveKeepTheirOwnDevices)
{
    FIXTURE a(std::string(k_small), CDB_FAMILY_TEV);
    DEV_DEVICE* a_device = a.design->device();
    const int a_nx = a_device->get_nx();
    {
        FIXTURE b(std::string(k_small), CDB_FAMILY_UVO);
        EXPECT_EQ(DMGR_UTILITY::get_current_device(), b.design->device());
        EXPECT_EQ(a.env->get_grid_nx(), a_nx);
        EXPECT_EQ(a_device->get_family(), CDB_FAMILY_TEV);
        a.design->make_device_current();
        EXPECT_EQ(DMGR_UTILITY::get_current_device(), a_device);
    }
    EXPECT_EQ(DMGR_UTILITY::get_current_device(), a_device);
    {
        FIXTURE c(std::string(k_small), CDB_FAMILY_UVO);
        EXPECT_EQ(DMGR_UTILITY::get_current_device()->get_family(), CDB_FAMILY_UVO);
    }
    // The slot falls back to its default device, not to the one just freed.
    EXPECT_EQ(DMGR_UTILITY::get_current_device()->get_family(), CDB_FAMILY_BRK);
    EXPECT_EQ(a.env->get_grid_nx(), a_nx);
}

// A second design built while the first compiles (the hook runs once the
// first environment exists) must not take the first compile's device away.
TEST(HostDesign, ACompileKeepsItsDeviceWhileAnotherDesignIsAlive)
{
    const std::string design = std::string(MORV_SOURCE_DIR) + "/designs/counter.blif";
    const char* argv[] = {"morv-fit", "-q", "--family", "TEV", design.c_str()};
    std::unique_ptr<FIXTURE> other;
    std::ostringstream out, err;
    const int rc = fit_main(
        5, argv, out, err, [&](HOST_ENV&) { other = std::make_unique<FIXTURE>(std::string(k_small), CDB_FAMILY_UVO); });
    EXPECT_EQ(rc, 0) << err.str();
    ASSERT_NE(other, nullptr);
    EXPECT_EQ(other->design->device()->get_family(), CDB_FAMILY_UVO);
}

TEST(HostFit, InternalErrorsExitWithTwoAndInputErrorsWithOne)
{
    const std::string design = std::string(MORV_SOURCE_DIR) + "/designs/counter.blif";
    const char* argv[] = {"morv-fit", "-q", design.c_str()};
    std::ostringstream out, err;
    int rc = fit_main(3, argv, out, err,
                      [](HOST_ENV&) { MSG_INTERNAL_ERROR::report("injected != NULL", "HOST", "host_env.cpp", 42); });
    EXPECT_EQ(rc, 2);
    EXPECT_NE(err.str().find("injected != NULL"), std::string::npos) << err.str();
    EXPECT_NE(err.str().find("host_env.cpp:42"), std::string::npos) << err.str();

    std::ofstream("tiny_device.txt") << "grid 3 3\n";  // one LAB, 16 I/O cells
    const std::string adder = std::string(MORV_SOURCE_DIR) + "/designs/adder_tree.blif";
    const char* argv2[] = {"morv-fit", "-q", "--device", "tiny_device.txt", adder.c_str()};
    std::ostringstream out2, err2;
    // Its 23 pins are too many as soon as it is read: no compile begins.
    bool compiled = false;
    EXPECT_EQ(fit_main(5, argv2, out2, err2, [&](HOST_ENV&) { compiled = true; }), 1);
    EXPECT_NE(err2.str().find("adder_tree.blif: the design does not fit the device: 23 I/O cells needed for its "
                              "pins but the device has 16"),
              std::string::npos)
        << err2.str();
    EXPECT_FALSE(compiled);
    // The counter's pins fit; its logic does not, which clustering finds.
    const std::string counter = std::string(MORV_SOURCE_DIR) + "/designs/counter.blif";
    argv2[4] = counter.c_str();
    std::ostringstream out3, err3;
    EXPECT_EQ(fit_main(5, argv2, out3, err3, [&](HOST_ENV&) { compiled = true; }), 1);
    EXPECT_NE(err3.str().find("LABs needed but the device has 1"), std::string::npos) << err3.str();
    EXPECT_TRUE(compiled);
}

}  // namespace

// A migration compile's change log goes into "db/": the project set-up makes
// the folder for it, and only for it.
TEST(HostProjectSetUp, OnlyAMigrationCompileGetsTheDbFolder)
{
    std::filesystem::remove_all("db");
    {
        HOST_DESIGN plain(CDB_FAMILY_BRK, nullptr);
        HOST_ENV env(plain);
        EXPECT_FALSE(std::filesystem::exists("db"));
    }
    std::ofstream("migration_device.txt") << "family 6\nmigratable_part 2401\n";
    HOST_DESIGN migration(CDB_FAMILY_BRK, nullptr, nullptr, DEV_DEVICE::load_from_file("migration_device.txt"));
    std::remove("migration_device.txt");
    HOST_ENV env(migration);
    EXPECT_TRUE(std::filesystem::is_directory("db"));
}

}  // namespace host_env_test
