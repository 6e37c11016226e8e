#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "bpm/bpm_boundary_port_manager.h"
#include "cdb/cdb_atom_netlist.h"
#include "cfg/cfg.h"
#include "tdc/tdc_accessories.h"
#include "thr/thr.h"

#include "morv/core/morv_api.h"
#include "morv/log/morv_log.h"
#include "log_records.h"
#include "morv/netlist/morv_net_util.h"
#include "morv/netlist/morv_nt.h"
#include "morv_edit_netlist.h"

namespace morv_api_netlist_test {

namespace {

using MorvApiNetlistTest = MORV_EDIT_NETLIST_TEST;

std::string text_of(const std::string& file)
{
    std::ifstream in(file);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// The host's duplicate: same kind, the same drivers on the same inputs, a
// new name; nothing on its outputs.
CDB_ATOM_NODE* host_duplicate(CDB_ATOM_NETLIST* netlist, HDB_NAME_MGR* names, CDB_ATOM_NODE* node, int port)
{
    if (node->get_output_term_by_type(port) == nullptr) return nullptr;
    const std::string base = node->get_instance_name()->get_short_hpath() + "_dup";
    CDB_ATOM_NODE* copy = cdb_create_atom(node->get_family(), node->get_kind(), names->find_or_create_path(base, 0));
    for (auto it = node->begin_iterm(); it != node->end_iterm(); ++it) {
        CDB_ATOM_ITERM* iterm = copy->add_input_term((*it)->get_any_usage_as());
        if ((*it)->get_source()) iterm->insert_fanin((*it)->get_source());
    }
    for (auto ot = node->begin_oterm(); ot != node->end_oterm(); ++ot)
        copy->add_output_term((*ot)->get_any_usage_as(), names->find_or_create_path(base, 0));
    netlist->add_node(copy);
    return copy;
}

TEST_F(MorvApiNetlistTest, DuplicatingARegisterCarriesItsTimingAndAnnouncesItsInputs)
{
    morv_install_migration_device(CDB_FAMILY_BRK, 2401);
    start();
    env->m_duplicate = [&](CDB_ATOM_NODE* node, int port) {
        return host_duplicate(host->netlist.get(), &host->names, node, port);
    };
    tdc_get_accessories()->set_timing_assignment("r", "MULTICYCLE", "2");
    api->get_fsyn_log()->clear_pending_entries();

    CDB_ATOM_NODE* copy = api->duplicate_oterm(r, DB_REG_OUT, true);
    ASSERT_NE(copy, nullptr);
    const MORV_NT_OPERATION& op = api->get_fsyn_nt()->get_impl().get_operations().back();
    EXPECT_EQ(op.m_type, MORV_NT_TYPE_DUPLICATE);
    EXPECT_EQ(op.m_comment, "REPLICATION");
    EXPECT_EQ(op.m_node_lists[0], (MORV_NT_NODE_ID_LIST{MORV_NT_NODE_ID(nid(r))}));
    EXPECT_EQ(op.m_node_lists[1], (MORV_NT_NODE_ID_LIST{MORV_NT_NODE_ID(nid(copy))}));
    const TDC_TIMING_ASSIGNMENTS* copied = tdc_get_accessories()->get_timing_assignments(out(copy));
    ASSERT_NE(copied, nullptr);
    EXPECT_EQ(api->compare_oterms_for_timing(out(r), out(copy)), 2);
    EXPECT_EQ(api->compare_oterms_for_timing(out(r), out(s0)), 5);
    EXPECT_EQ(env->m_events.front(), "record_created_from " + id(copy));
    EXPECT_TRUE(api->is_atom_modified_for_icp(nid(copy)));  // its input was announced as connected
    // The copy is logged term by term, then where its timing came from.
    const std::vector<std::string> kinds = pending_record_kinds(*api->get_fsyn_log());
    ASSERT_FALSE(kinds.empty());
    EXPECT_EQ(kinds.front(), "CREATE_ITERM");
    EXPECT_EQ(kinds.back(), "COPY_OTERM_TIMING_ASSIGNMENTS");
    EXPECT_NE(std::find(kinds.begin(), kinds.end(), "CREATE_OTERM"), kinds.end());
    EXPECT_EQ(internal_error_of([&] { api->compare_oterms_for_timing(out(r), nullptr); }), "oterm_a && oterm_b");
}

TEST_F(MorvApiNetlistTest, DuplicatingALutRecordsWhereItsOutputCameFrom)
{
    start();
    env->m_duplicate = [&](CDB_ATOM_NODE* node, int port) {
        return host_duplicate(host->netlist.get(), &host->names, node, port);
    };
    CDB_ATOM_NODE* copy = api->duplicate_oterm(mid, DB_COMB_OUT, true);
    ASSERT_NE(copy, nullptr);
    const auto& created = host->netlist->get_created_from_map();
    ASSERT_FALSE(created.empty());
    EXPECT_EQ(created.back().first, out(copy)->get_instance_name());
    EXPECT_EQ(created.back().second, out(mid)->get_instance_name());
    EXPECT_EQ(count_lines_with(trace_lines(), "feeding iterm (13, 0) of (id " + id(copy) + ") (disconnected=0)"), 1);
}

TEST_F(MorvApiNetlistTest, CopyingATimingAssignmentByNameAnswersDoneAndRecordsTheOrigin)
{
    start();
    HDB_INSTANCE_NAME* from = out(mid)->get_instance_name();
    HDB_INSTANCE_NAME* to = r->get_output_term_by_type(DB_REG_OUT)->get_instance_name();
    EXPECT_TRUE(api->copy_oterm_timing_assignment(from, to));
    const auto& created = host->netlist->get_created_from_map();
    ASSERT_FALSE(created.empty());
    EXPECT_EQ(created.back().first, to);
    EXPECT_EQ(created.back().second, from);
}

TEST_F(MorvApiNetlistTest, AFailedDuplicationIsWarnedNullAndNotLogged)
{
    morv_install_migration_device(CDB_FAMILY_BRK, 2401);
    start();
    api->get_fsyn_log()->clear_pending_entries();
    const int operations = api->get_fsyn_nt()->get_number_of_operations();
    EXPECT_EQ(api->duplicate_oterm(r, DB_REG_OUT, true), nullptr);
    // No copy, nothing to record: a record naming no node could not replay.
    EXPECT_EQ(api->get_fsyn_log()->get_pending_entry_count(), 0u);
    EXPECT_EQ(count_lines_with(trace_lines(), "Warning: could not properly duplicate oterm (returning NULL"), 1);
    EXPECT_EQ(api->get_fsyn_nt()->get_number_of_operations(), operations);
}

// Every cell of the base netlist gets an input and a fanout: a, b and c
// read the register, s1 feeds b.
class MorvNetlistCheckTest : public MORV_EDIT_NETLIST_TEST
{
protected:
    void SetUp() override
    {
        MORV_EDIT_NETLIST_TEST::SetUp();
        for (CDB_ATOM_NODE* source : {a, b, c}) connect(r, source, DB_DATA_A);
        connect(s1, b, DB_DATA_B);
    }
};

TEST_F(MorvNetlistCheckTest, AConsistentNetlistPassesWithAnEmptyFileOrNoFileAtAll)
{
    start();
    EXPECT_TRUE(api->check_atom_netlist());
    EXPECT_EQ(text_of("fsyn_check_atom_netlist.txt"), "");

    // A file that cannot be written is reported; the verdict stands.
    host->cmp.set_project_directory("no_such_folder/deeper");
    lut("lonely");
    EXPECT_FALSE(api->check_atom_netlist());
    EXPECT_EQ(count_lines_with(trace_lines(), "fsyn_check_atom_netlist.txt"), 1);
}

TEST_F(MorvNetlistCheckTest, EveryFindingOfEveryLogicCellIsWritten)
{
    CDB_ATOM_NODE* lonely = lut("lonely");  // no input, no fanout
    CDB_ATOM_NODE* tied = lut("tied");
    tied->add_input_term(DB_DATA_B)->set_vcc();
    connect(tied, r, DB_CLOCK);
    CDB_ATOM_NODE* fake_reg = lut("fake_reg");
    fake_reg->add_output_term(DB_REG_OUT, name("fake_q"));
    connect(a, fake_reg, DB_DATA_A);
    connect(fake_reg, s1, DB_DATA_B);
    CDB_ATOM_ITERM loose(nullptr, DB_DATA_A);  // a sink that belongs to no node
    out(b)->insert_fanout(&loose);
    start();

    EXPECT_FALSE(api->check_atom_netlist());
    EXPECT_EQ(lines_of("fsyn_check_atom_netlist.txt"),
              (std::vector<std::string>{
                  "Unable to obtain fanout node for node with id " + id(b),
                  "Node with id " + id(lonely) + " has 0 iterm",
                  "Node with id " + id(lonely) + " has 0 fanout and is removable.",
                  "Data port connected to VCC/GND at node with id " + id(tied),
                  "REG_OUT is not registered at node with id " + id(fake_reg),
              }));
    out(b)->remove_fanout(&loose);

    // A protected cell without fanout is no finding; a sink with a broken
    // input list is, for the cells that feed it.
    CDB_ATOM_ASSIGNMENTS protect;
    protect.dont_touch = true;
    lonely->set_assignments(protect);
    CDB_ATOM_ITERM* stray = connect(c, s0, DB_DATA_B);
    stray->set_my_node(s1);
    EXPECT_FALSE(api->check_atom_netlist());
    stray->set_my_node(s0);
    const std::vector<std::string> again = lines_of("fsyn_check_atom_netlist.txt");
    EXPECT_EQ(count_lines_with(again, "verify_fanin returns false for node with id " + id(mid)), 1);
    EXPECT_EQ(count_lines_with(again, "removable"), 0);

    // A driver with a broken output, for the cells it feeds.
    CDB_ATOM_OTERM* broken = a->add_output_term(DB_SHARE_OUT, name("a_share"));
    broken->set_my_node(b);
    EXPECT_FALSE(api->check_atom_netlist());
    broken->set_my_node(a);
    EXPECT_EQ(count_lines_with(lines_of("fsyn_check_atom_netlist.txt"),
                               "verify_fanout returns false for node with id " + id(mid)),
              1);
}

// Only a family whose cells can feed their register back into the LUT checks
// that mode: such a cell needs both its combinational and its registered
// output. In BRK the mode bit alone is no finding.
TEST_F(MorvNetlistCheckTest, FeedbackModeCellsNeedBothOutputsWhereTheFamilyHasThem)
{
    mid->set_bit(CDB_ATOM_BIT_QFBK_MODE);  // no registered output
    start();
    EXPECT_TRUE(api->check_atom_netlist());

    MORV_TEST_HOST uvo(CDB_FAMILY_UVO);
    const std::vector<int> ids = uvo.build_chain(4, "u");
    MORV_TEST_ENV uvo_env(&uvo.cmp);
    MORV_API* uvo_api = dynamic_cast<MORV_EXPERT*>(uvo_env.get_fsyn_expert())->get_fsyn_api();
    CDB_ATOM_NODE* comb_only = uvo_env.get_node(ids[1]);
    CDB_ATOM_NODE* both = uvo_env.get_node(ids[2]);
    comb_only->set_bit(CDB_ATOM_BIT_QFBK_MODE);
    both->set_bit(CDB_ATOM_BIT_QFBK_MODE);
    both->add_output_term(DB_REG_OUT, uvo.names.find_or_create_path("u2_q", 0));
    // A feedback cell whose only output is the registered one.
    CDB_ATOM_NODE* reg_only =
        cdb_create_atom(CDB_FAMILY_UVO, CDB_KIND_LCELL_COMB, uvo.names.find_or_create_path("q", 0));
    reg_only->set_chip_db_entry(&uvo.chip_entry);
    uvo.netlist->add_node(reg_only);
    reg_only->set_bit(CDB_ATOM_BIT_QFBK_MODE);
    reg_only->add_output_term(DB_REG_OUT, reg_only->get_instance_name())
        ->insert_fanout(uvo_env.get_node(ids[3])->add_input_term(DB_DATA_B));

    EXPECT_FALSE(uvo_api->check_atom_netlist());
    const std::vector<std::string> lines = lines_of("fsyn_check_atom_netlist.txt");
    EXPECT_EQ(count_lines_with(lines, "QFBK mode lcell has no"), 2);
    EXPECT_EQ(count_lines_with(lines, "QFBK mode lcell has no reg_out at node with id " + id(comb_only)), 1);
    EXPECT_EQ(count_lines_with(lines, "QFBK mode lcell has no comb_out at node with id " + id(reg_only)), 1);
}

TEST_F(MorvApiNetlistTest, WithoutABoundaryPortManagerPartitionsAreAbsent)
{
    start();
    EXPECT_EQ(api->get_atom_partition_id(mid), -1);
    EXPECT_EQ(api->get_boundary_port_id(out(mid)), -1);
    EXPECT_EQ(api->get_assigned_boundary_port_id(out(mid)), -1);
    EXPECT_EQ(api->get_assigned_boundary_port_id(s0->get_input_term_by_type(DB_DATA_A)), -1);
    EXPECT_EQ(api->get_boundary_port_name(out(mid)), "");
    EXPECT_EQ(api->get_boundary_port_name(1), "");
    EXPECT_EQ(api->get_atom_partition_name(mid), "");
    EXPECT_EQ(api->get_partition_name(0), "");
    api->set_boundary_port_id(out(mid), 1);
    api->move_boundary_port_id(out(mid), out(s0));
    api->copy_boundary_port_binding(out(mid), out(s0));
    api->ignore_partition_bp_info(0);
    EXPECT_TRUE(api->check_boundary_port_node(mid));
    cfg_set_value("vnid_debug_ini", "on");
    EXPECT_TRUE(api->check_bp_info());
    EXPECT_EQ(internal_error_of([&] { api->get_atom_partition_id(nullptr); }), "atom");
}

TEST_F(MorvApiNetlistTest, TheBoundaryPortManagerAnswersPartitionsAndBindings)
{
    BPM_BOUNDARY_PORT_MANAGER bpm(&host->ap);
    bpm_drl_set_active_boundary_port_manager(&bpm);
    const int port = bpm.create_port("p1|bus0");
    CDB_ATOM_ASSIGNMENTS in_one;
    in_one.partition_id = 1;
    mid->set_assignments(in_one);
    bpm.set_partition_name(1, "core");
    morv_install_migration_device(CDB_FAMILY_BRK, 2401);
    start();
    api->get_fsyn_log()->clear_pending_entries();

    EXPECT_EQ(api->get_atom_partition_id(mid), 1);
    EXPECT_EQ(api->get_atom_partition_name(mid), "core");
    EXPECT_EQ(api->get_partition_name(-1), "");
    api->set_boundary_port_id(out(mid), port);
    EXPECT_EQ(api->get_assigned_boundary_port_id(out(mid)), port);
    EXPECT_EQ(api->get_boundary_port_name(out(mid)), "p1|bus0");
    EXPECT_EQ(api->get_boundary_port_name(-1), "");
    bpm.bind_port_id(out(mid), port);
    api->move_boundary_port_id(out(mid), out(s0));
    EXPECT_EQ(api->get_boundary_port_id(out(mid)), -1);
    EXPECT_EQ(api->get_boundary_port_id(out(s0)), port);
    api->copy_boundary_port_binding(out(s0), out(s1));
    EXPECT_EQ(api->get_boundary_port_id(out(s1)), port);
    EXPECT_TRUE(api->check_boundary_port_node(s1));

    cfg_set_value("vnid_debug_ini", "on");
    EXPECT_TRUE(api->check_bp_info());
    bpm.bind_port_id(out(s0), port);  // one port, two drivers
    EXPECT_FALSE(api->check_bp_info());
    cfg_set_value("vnid_debug_ini", "off");
    EXPECT_TRUE(api->check_bp_info());

    api->ignore_partition_bp_info(1);
    EXPECT_TRUE(bpm.is_partition_ignored(1));
    // The edited cells' prior states come with the records.
    std::vector<std::string> kinds = pending_record_kinds(*api->get_fsyn_log());
    EXPECT_NE(std::find(kinds.begin(), kinds.end(), "STORE_NODE_INFO"), kinds.end());
    kinds.erase(std::remove(kinds.begin(), kinds.end(), "STORE_NODE_INFO"), kinds.end());
    EXPECT_EQ(kinds,
              (std::vector<std::string>{"SET_BOUNDARY_PORT_ID", "MOVE_BOUNDARY_PORT_ID", "IGNORE_PARTITION_BP_INFO"}));
    env.reset();  // before the manager goes
}

// A saved state keeps the bindings as they were; clearing it removes the
// manager's file.
TEST_F(MorvApiNetlistTest, SavedStatesKeepTheBoundaryPortBindings)
{
    BPM_BOUNDARY_PORT_MANAGER bpm(&host->ap);
    bpm_drl_set_active_boundary_port_manager(&bpm);
    const int port = bpm.create_port("p1|bus0");
    start();
    bpm.bind_port_id(out(mid), port);
    const int state = api->save_state();
    const std::string file = "morv_top_p0_" + std::to_string(state);
    EXPECT_TRUE(std::filesystem::exists(file));
    api->move_boundary_port_id(out(mid), out(s0));
    const int mid_id = nid(mid), s0_id = nid(s0);
    ASSERT_TRUE(api->restore_state(state));  // new atoms; the state is cleared
    EXPECT_EQ(api->get_boundary_port_id(out(env->get_node(mid_id))), port);
    EXPECT_EQ(api->get_boundary_port_id(out(env->get_node(s0_id))), -1);
    EXPECT_EQ(bpm.get_port_name(port), "p1|bus0");  // read from the restored names
    EXPECT_FALSE(std::filesystem::exists(file));
    env.reset();  // before the manager goes
}

TEST_F(MorvApiNetlistTest, AKardelRegionIsTakenFromTheLastCellInIt)
{
    CDB_ATOM_ASSIGNMENTS region;
    region.kardel_region = 7;
    region.locked_x1 = 1;
    b->set_assignments(region);
    region.locked_x1 = 2;
    c->set_assignments(region);
    CDB_ATOM_ASSIGNMENTS old;
    old.kardel_region = 3;
    old.must_keep = true;
    s1->set_assignments(old);
    start();
    api->set_node_kardel_region(s1, 7);
    EXPECT_EQ(s1->get_assignments().kardel_region, 7);
    EXPECT_EQ(s1->get_assignments().locked_x1, 2);
    EXPECT_FALSE(s1->get_assignments().must_keep);

    api->set_node_kardel_region(s0, 9);
    EXPECT_TRUE(s0->get_assignments().is_default());
    EXPECT_EQ(count_lines_with(trace_lines(), "Warning: was unable to set node kardel region...leaving region open"),
              1);
    EXPECT_EQ(internal_error_of([&] { api->set_node_kardel_region(s0, -1); }), "kdr_id != -1");
}

// The region index kept across edits picks the same model cell as a walk of
// the whole netlist would, through additions, deletions and region moves.
TEST_F(MorvApiNetlistTest, KardelRegionModelsFollowAddsDeletesAndMoves)
{
    start();
    int next_marker = 100;
    // Each cell carries a marker of its own, so the model a move copied from shows.
    auto place = [&](CDB_ATOM_NODE* n, int region) {
        CDB_ATOM_ASSIGNMENTS given;
        given.kardel_region = region;
        given.locked_x1 = next_marker++;
        n->set_assignments(given);
    };
    auto is_model = [&](CDB_ATOM_NODE* n) {
        return api->get_fsyn_net_util()->is_lcell(n) || api->get_fsyn_net_util()->is_ff(n) || n->is_lcell_comb();
    };
    auto walked_model = [&](int region, CDB_ATOM_NODE* node) {
        CDB_ATOM_NODE* model = nullptr;
        for (CDB_ATOM_NODE* n : *host->netlist)
            if (n != node && is_model(n) && n->get_assignments().kardel_region == region) model = n;
        return model;
    };
    std::vector<CDB_ATOM_NODE*> cells;
    for (CDB_ATOM_NODE* n : *host->netlist)
        if (is_model(n)) cells.push_back(n);
    std::mt19937 rng(11);
    for (CDB_ATOM_NODE* n : cells) place(n, static_cast<int>(rng() % 4) - 1);

    for (int step = 0; step < 300; ++step) {
        const int what = static_cast<int>(rng() % 3);
        CDB_ATOM_NODE* some = cells[rng() % cells.size()];
        if (what == 0) {
            char cell_name[16];
            std::snprintf(cell_name, sizeof cell_name, "k%d", step);
            CDB_ATOM_NODE* n = (rng() % 2) ? lut(cell_name) : reg(cell_name);
            api->node_added(n, some, 0, MORV_MODIFICATION_CODE);  // takes the region of `some`
            place(n, n->get_assignments().kardel_region);
            cells.push_back(n);
        } else if (what == 1 && cells.size() > 4) {
            cells.erase(std::find(cells.begin(), cells.end(), some));
            api->delete_node(some);
        } else {
            const int region = static_cast<int>(rng() % 3);
            CDB_ATOM_NODE* expected = walked_model(region, some);
            const int marker = expected ? expected->get_assignments().locked_x1 : -1;
            api->set_node_kardel_region(some, region);
            ASSERT_EQ(some->get_assignments().locked_x1, marker) << "step " << step;
            if (expected) place(some, region);
        }
        if (step == 150) {
            // The host moves a cell between flows; the next flow reads afresh.
            place(cells[0], 2);
            api->forget_kardel_regions();
        }
    }
}

TEST_F(MorvApiNetlistTest, AMigrationLogStartsFromTheSynthesisLog)
{
    {
        LOGDB_FSYN_LOG_FILE synthesis_log;
        synthesis_log.set_file_name("db/top.map.psl");
        synthesis_log.delete_file();
        synthesis_log.init(true);
        const LOGDB_FSYN_LOG_ENTRY_REVISION_NUMBER revision(0, CDB_FAMILY_BRK);
        ASSERT_TRUE(synthesis_log.write_fsyn_log_entry(&revision));
    }
    const std::string synthesis_entries = text_of("db/top.map.psl");
    std::ofstream("db/top.cmp.psl") << "stale compile entries\n";
    start();
    api->prepare_migration_log_file();  // no migration pair: nothing happens
    EXPECT_EQ(text_of("db/top.cmp.psl"), "stale compile entries\n");
    env.reset();

    morv_install_migration_device(CDB_FAMILY_BRK, 2401);
    start();
    api->get_fsyn_log()->log_set_user_lcell(s0);
    const std::string chunk = api->get_fsyn_log()->get_log_file()->get_file_name();
    api->prepare_migration_log_file();
    EXPECT_EQ(text_of("db/top.cmp.psl"), synthesis_entries);
    EXPECT_EQ(api->get_fsyn_log()->get_pending_entry_count(), 0u);
    EXPECT_TRUE(api->get_fsyn_log()->get_chunk_file_names().empty());
    EXPECT_EQ(chunk.rfind("db/top", 0), 0u);  // the live log keeps its own chunk file
    EXPECT_EQ(api->get_fsyn_log()->get_log_file()->get_file_name(), chunk);

    std::remove("db/top.map.psl");
    api->prepare_migration_log_file();
    EXPECT_FALSE(std::filesystem::exists("db/top.cmp.psl"));
    // A compile without a synthesis-stage log has none to start from.
    EXPECT_EQ(count_lines_with(trace_lines(), "Warning: could not append db/top.map.psl to db/top.cmp.psl"), 0);
    MORV_LOG::delete_chunk_files();
}

TEST_F(MorvApiNetlistTest, NetlistDumpsOnlyWhenSwitchedOn)
{
    start();
    api->dump_atom_netlist(".plain");
    EXPECT_FALSE(std::filesystem::exists("top.plain"));
    env.reset();
    cfg_set_value("fsyn_enable_netlist_dump", "on");
    start();
    api->dump_atom_netlist(".dumped");
    EXPECT_NE(text_of("top.dumped").find("mid"), std::string::npos);
    std::remove("top.dumped");
}

}  // namespace

}  // namespace morv_api_netlist_test
