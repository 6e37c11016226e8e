// Saved states on disk and the SAVE_RESTORE algorithm.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "../core/morv_probe_expert.h"
#include "../core/morv_test_env.h"
#include "morv_test_util.h"
#include "log_capture.h"
#include "cfg/cfg.h"
#include "fio/fio.h"
#include "hdb/hdb_instance_name.h"
#include "msg/msg.h"

#include "morv/core/morv_api.h"
#include "morv/core/morv_expert.h"
#include "morv/netlist/morv_atom_save_restore.h"
#include "morv/netlist/morv_save_restore.h"
#include "morv/netlist/morv_save_restore_algorithm.h"
#include "morv/timing/morv_timing.h"

namespace morv_save_restore_test {

namespace {

int atoms_of(CDB_ATOM_NETLIST* netlist)
{
    int n = 0;
    for (CDB_ATOM_NODE* node : *netlist) n += node != nullptr;
    return n;
}

class MorvSaveRestoreTest : public MORV_CLEAN_STATE_TEST
{
protected:
    void SetUp() override
    {
        MORV_CLEAN_STATE_TEST::SetUp();
        // Every timing analysis then reaches the host, which records it.
        cfg_set_value("fsyn_disable_experimental_icp", "on");
        start();
    }
    void TearDown() override
    {
        env.reset();
        MORV_CLEAN_STATE_TEST::TearDown();
    }
    // A compile of a 3-LUT chain.
    void start()
    {
        env.reset();
        host = std::make_unique<MORV_TEST_HOST>(6);
        host->build_chain(3);
        env = std::make_unique<MORV_GATE_ENV>(&host->cmp);
        api = dynamic_cast<MORV_EXPERT*>(env->get_fsyn_expert())->get_fsyn_api();
    }
    std::unique_ptr<MORV_SAVE_RESTORE> algorithm(const std::string& parameters)
    {
        MORV_ALGORITHM_BASE::parse_algorithm_params(params, parameters);
        return std::make_unique<MORV_SAVE_RESTORE>(api, &params);
    }
    int atoms() const { return atoms_of(host->netlist.get()); }
    void grow() { host->build_chain(1, ("grown" + std::to_string(grown++) + "_").c_str()); }
    int present_fom() { return api->get_fsyn_timing()->get_figure_of_merit(false); }
    int live_states() const
    {
        int live = 0;
        for (int i = 0; i < env->m_snapshots.get_number_of_snapshots(); ++i)
            if (env->m_snapshots.get_snapshot_at_position(i)->m_id != -1) ++live;
        return live;
    }
    MORV_SAVE_RESTORE_TABLES& tables() { return api->get_save_restore_tables(); }

    std::unique_ptr<MORV_TEST_HOST> host;
    std::unique_ptr<MORV_GATE_ENV> env;
    MORV_API* api = nullptr;
    MORV_PARAMETER_MAP params;
    int grown = 0;
};

TEST_F(MorvSaveRestoreTest, NamesParametersAndDefaults)
{
    auto plain = algorithm("");
    EXPECT_EQ(plain->get_short_name(), "SAVE_RESTORE");
    EXPECT_EQ(plain->get_description(), "evaluation");
    EXPECT_FALSE(plain->is_best());
    EXPECT_FALSE(algorithm("BEST=")->is_best());
    EXPECT_FALSE(algorithm("BEST=0")->is_best());
    EXPECT_TRUE(algorithm("BEST=1")->is_best());
    EXPECT_TRUE(algorithm("BEST=2")->is_best());

    int np = -1, icp = -1, restore = -1, ni = -1, hci = -1;
    double fom = -1.0;
    plain->set_default_algorithm_parameters(np, icp, fom, restore);
    plain->set_default_pass_parameters(0, ni, hci);
    EXPECT_EQ(std::vector<int>({np, icp, restore, ni, hci}), std::vector<int>({1, 0, 1, 1, 1}));
    EXPECT_EQ(fom, -999999.0);
    EXPECT_EQ(plain->get_slack_ratio_threshold(), 0.125);
    ni = 4;
    plain->set_default_pass_parameters(0, ni, hci = -1);
    EXPECT_EQ(hci, 4);
}

TEST_F(MorvSaveRestoreTest, WithoutBestEveryIterationReturnsToTheFirstNetlist)
{
    MORV_LOG_CAPTURE log(1);
    auto first = algorithm("");
    EXPECT_EQ(first->do_iter(), 0);
    EXPECT_EQ(tables().size(), 1);
    EXPECT_EQ(live_states(), 1);
    EXPECT_NE(log.lines().back().find("in save slot 0, entry 1."), std::string::npos) << log.lines().back();

    grow();
    const int icp_calls = env->m_icp_calls;
    EXPECT_EQ(algorithm("")->do_iter(), 0);
    EXPECT_EQ(atoms(), 3);  // the first netlist is back
    // The restored netlist is timed afresh, without the full placement.
    EXPECT_EQ(env->m_icp_calls, icp_calls + 1);
    EXPECT_FALSE(env->m_last_icp_full);
    EXPECT_FALSE(env->m_last_icp_second);
    EXPECT_EQ(env->m_last_icp_multiplier, 0.0);
    ASSERT_EQ(tables().size(), 2);
    // Entry 1 keeps the grown netlist, entry 0 a fresh save of the first.
    EXPECT_EQ(live_states(), 2);
    grow();
    algorithm("")->do_iter();
    EXPECT_EQ(atoms(), 3);
    EXPECT_EQ(tables().size(), 3);
    EXPECT_EQ(live_states(), 3);

    // Entry 1 holds the netlist with one atom grown: BEST finds it when its
    // figure alone beats the present one.
    const int present = present_fom();
    tables().m_saved_foms = {present - 1.0, present + 1.0, present - 1.0};
    algorithm("BEST=1")->do_iter();
    EXPECT_EQ(atoms(), 4);
    EXPECT_EQ(tables().size(), 1);  // cleaned up, then the present netlist saved as entry 0
    EXPECT_EQ(live_states(), 1);    // the forgotten entries went with their files
}

TEST_F(MorvSaveRestoreTest, BestRestoresTheLastBetterEntryNotTheBestFigure)
{
    auto plain = algorithm("");
    plain->do_iter();  // entry 0 (3 atoms)
    grow();
    plain->do_iter();  // entry 1: 4 atoms; entry 0 again 3 atoms, which are in place
    grow();
    grow();
    plain->do_iter();  // entry 2: 5 atoms
    ASSERT_EQ(tables().size(), 3);
    const int present = present_fom();
    tables().m_saved_foms = {present + 50.0, present + 1.0, present + 0.0};  // entry 2 only ties
    MORV_LOG_CAPTURE log(1);
    algorithm("BEST=1")->do_iter();
    EXPECT_EQ(atoms(), 4);
    bool restored_entry_1 = false;
    for (const std::string& line : log.lines())
        restored_entry_1 |=
            line.rfind("MORV_SAVE_RESTORE: Restoring netlist", 0) == 0 && line.find("entry 1.") != std::string::npos;
    EXPECT_TRUE(restored_entry_1);
}

TEST_F(MorvSaveRestoreTest, BestWithNothingBetterRestoresNothingAndKeepsOneEntry)
{
    EXPECT_EQ(internal_error_of([&] { algorithm("BEST=1")->do_iter(); }), "!m_best");
    algorithm("")->do_iter();
    grow();
    algorithm("")->do_iter();
    grow();
    tables().m_saved_foms.assign(2, present_fom() - 1.0);
    algorithm("BEST=1")->do_iter();
    EXPECT_EQ(atoms(), 4);
    EXPECT_EQ(tables().size(), 1);
    EXPECT_EQ(live_states(), 1);

    // The one entry left beats the present netlist: it comes back.
    grow();
    tables().m_saved_foms[0] = present_fom() + 1.0;
    algorithm("BEST=1")->do_iter();
    EXPECT_EQ(atoms(), 4);
}

TEST_F(MorvSaveRestoreTest, OnlyStatesThisCompileStillHoldsAreRestored)
{
    algorithm("")->do_iter();
    const int id = tables().m_saved_netlists[0];
    // Restored and dropped elsewhere: the entry must not be restored again.
    tables().m_saved_netlists[0] = MORV_SAVE_RESTORE_TABLES::INVALID_NETLIST;
    EXPECT_EQ(internal_error_of([&] { algorithm("")->do_iter(); }), "m_saved_netlists[netlist] != INVALID_NETLIST");
    // An id whose state was cleared by its owner is refused before the host is asked.
    tables().m_saved_netlists = {id};
    tables().m_saved_foms = {0.0};
    api->clear_state(id);
    EXPECT_EQ(internal_error_of([&] { algorithm("")->do_iter(); }), "m_fsyn_api->holds_saved_state(id)");
    EXPECT_FALSE(api->holds_saved_state(-1));
    EXPECT_FALSE(api->holds_saved_state(99));
}

// Cleaning up clears every state the tables still name, so that no file of
// a forgotten save stays on disk until the end of the compile; an id just past
// the last snapshot is simply not held.
TEST_F(MorvSaveRestoreTest, CleaningUpClearsTheStatesTheTablesName)
{
    algorithm("")->do_iter();
    grow();
    algorithm("")->do_iter();
    const std::vector<int> ids = tables().m_saved_netlists;
    ASSERT_EQ(ids.size(), 2u);
    for (int id : ids) EXPECT_TRUE(api->holds_saved_state(id));
    EXPECT_FALSE(api->holds_saved_state(env->m_snapshots.get_number_of_snapshots()));

    api->clear_save_restore_states();
    EXPECT_TRUE(tables().empty());
    EXPECT_EQ(live_states(), 0);
    for (int id : ids) EXPECT_FALSE(api->holds_saved_state(id));
}

// A second compile in the process starts with empty tables: nothing of the
// first compile's saved netlists can be restored into it, and the first
// compile's files are gone when it ends.
TEST_F(MorvSaveRestoreTest, TablesAndTheirFilesEndWithTheCompile)
{
    algorithm("")->do_iter();
    grow();
    algorithm("")->do_iter();
    ASSERT_EQ(tables().size(), 2);
    std::vector<std::string> files;
    for (int i = 0; i < env->m_snapshots.get_number_of_snapshots(); ++i) {
        MORV_SAVE_RESTORE_SNAPSHOT* snapshot = env->m_snapshots.get_snapshot_at_position(i);
        if (snapshot->m_id != -1) files.push_back(snapshot->m_atom_save_restore->get_netlist_archive_name() + ".cdb");
    }
    ASSERT_EQ(files.size(), 2u);
    for (const std::string& file : files) EXPECT_TRUE(FIO_FILE_SYSTEM::exists(FIO_PATH(file))) << file;

    env->free_fsyn_expert();  // the end of the compile, whoever owns the states
    EXPECT_EQ(live_states(), 0);
    for (const std::string& file : files) EXPECT_FALSE(FIO_FILE_SYSTEM::exists(FIO_PATH(file))) << file;

    start();
    EXPECT_TRUE(tables().empty());
    EXPECT_EQ(internal_error_of([&] { algorithm("BEST=1")->do_iter(); }), "!m_best");
}

// The atoms of a restored netlist lie in the levels of the names restored
// with them. The hierarchy entry lists those levels, each once, in the
// order the node list reaches them, the levels below a level right after
// it: cpu|alu (with cpu|alu|mul below it) from the first atom, cpu|regs
// from the second, the top (cpu and io below it not yet listed) from the
// third; the last two atoms reach listed levels.
TEST_F(MorvSaveRestoreTest, ARestoreListsTheLevelsItsAtomsReachOnceInTheOrderReached)
{
    env.reset();
    host = std::make_unique<MORV_TEST_HOST>(6);
    for (const char* prefix : {"cpu|alu|add", "cpu|regs|r", "glue", "io|pin", "cpu|alu|mul|m"})
        host->build_chain(1, prefix);
    env = std::make_unique<MORV_GATE_ENV>(&host->cmp);
    api = dynamic_cast<MORV_EXPERT*>(env->get_fsyn_expert())->get_fsyn_api();
    std::vector<HDB_HIERARCHY*>& list = host->hierarchy_entry.get_atom_hierarchy_list();
    list = host->names.get_hierarchies();  // the order they were made: top, cpu, cpu|alu, cpu|regs, io, cpu|alu|mul
    ASSERT_EQ(list.size(), 6u);
    const int id = api->save_state();
    host->build_chain(1, "late|x");

    msg_clear_vdebug_lines();
    ASSERT_TRUE(api->restore_state(id));
    std::vector<std::string> paths;
    for (const HDB_HIERARCHY* level : list) {
        paths.push_back(level->get_instance_name()->get_short_hpath());
        EXPECT_EQ(level->get_instance_name()->get_name_mgr(), host->ap.get_name_mgr()) << paths.back();
    }
    EXPECT_NE(host->ap.get_name_mgr(), &host->names);
    EXPECT_EQ(paths, (std::vector<std::string>{"cpu|alu", "cpu|alu|mul", "cpu|regs", "top", "cpu", "io"}));
    std::vector<std::string> lines;
    for (const MSG_VDEBUG_LINE& line : msg_vdebug_lines())
        if (line.text.find("HIERARCHY") != std::string::npos) lines.push_back(line.text);
    // Names keep their ids: top 0, cpu 1, cpu|alu 2, cpu|regs 4, io 7, cpu|alu|mul 9.
    EXPECT_EQ(
        lines,
        (std::vector<std::string>{
            "DELETING (HIERARCHY: {00000000})", "DELETING (HIERARCHY: {00000001})", "DELETING (HIERARCHY: {00000002})",
            "DELETING (HIERARCHY: {00000004})", "DELETING (HIERARCHY: {00000007})", "DELETING (HIERARCHY: {00000009})",
            "INSERTING (HIERARCHY: {00000002})", "INSERTING (SUB_HIERARCHY: {00000009})",
            "INSERTING (HIERARCHY: {00000004})", "INSERTING (HIERARCHY: {00000000})",
            "INSERTING (SUB_HIERARCHY: {00000001})", "INSERTING (SUB_HIERARCHY: {00000007})",
            "DB_ENTRY.HIERARCHY: {00000002}", "DB_ENTRY.HIERARCHY: {00000009}", "DB_ENTRY.HIERARCHY: {00000004}",
            "DB_ENTRY.HIERARCHY: {00000000}", "DB_ENTRY.HIERARCHY: {00000001}", "DB_ENTRY.HIERARCHY: {00000007}"}));

    // A compile whose database has no hierarchy entry cannot list them.
    const int again = api->save_state();
    host->db_entries.set_hierarchy_db_entry(0, nullptr);
    EXPECT_EQ(internal_error_of([&] { api->restore_state(again); }), "h_db_entry!=0");
    host->db_entries.set_hierarchy_db_entry(0, &host->hierarchy_entry);
}

TEST_F(MorvSaveRestoreTest, AnAtomStateIsSavedOnceOnly)
{
    MORV_ATOM_SAVE_RESTORE files(env.get(), -1, 0);
    EXPECT_EQ(internal_error_of([&] { files.save(-1); }), "netlist_id >= 0");
    EXPECT_TRUE(files.save(7));
    EXPECT_EQ(internal_error_of([&] { files.save(8); }), "m_netlist_id < 0");
    EXPECT_EQ(files.get_netlist_id(), 7);
}

}  // namespace

}  // namespace morv_save_restore_test
