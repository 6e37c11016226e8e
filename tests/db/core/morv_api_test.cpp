#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>

#include "cdb/cdb_native_format.h"
#include "cfg/cfg.h"
#include "dev/dev_device.h"
#include "fio/fio.h"
#include "mem/mem.h"
#include "msg/msg.h"
#include "thr/thr.h"

#include "morv/core/morv_api.h"
#include "morv/core/morv_expert.h"
#include "morv/core/stats/morv_qor_stats.h"
#include "morv/resyn/morv_remux.h"
#include "morv/log/morv_log.h"
#include "morv/netlist/morv_atom_save_restore.h"
#include "morv/netlist/morv_cdb_interface.h"
#include "morv/netlist/morv_chip_map.h"
#include "morv/netlist/morv_cluster_map.h"
#include "morv/netlist/morv_net_util_family.h"
#include "morv/netlist/morv_nt.h"
#include "morv/netlist/morv_save_restore.h"
#include "morv/timing/morv_timing.h"
#include "morv_test_env.h"
#include "morv_test_util.h"

namespace morv_api_test {

namespace {

class MorvApiTest : public MORV_CLEAN_STATE_TEST
{
protected:
    static MORV_API* api_of(MORV_TEST_ENV& env)
    {
        auto* expert = dynamic_cast<MORV_EXPERT*>(env.get_fsyn_expert());
        return expert ? expert->get_fsyn_api() : nullptr;
    }
};

TEST_F(MorvApiTest, TeardownReleasesEveryTrackedObject)
{
    MORV_TEST_HOST host(6);
    const std::vector<int> ids = host.build_chain(5);
    MORV_TEST_ENV env(&host.cmp);
    const MEM_TAG_STATS before = mem_get_tag_stats("MORV");
    MORV_API* api = api_of(env);
    ASSERT_NE(api, nullptr);
    api->reset_fsyn_chip_map(true);
    api->add_node_to_cluster(env.get_node(ids.front()), 3, 0);
    const int id = api->save_state();
    EXPECT_GT(mem_get_tag_stats("MORV").live_objects, before.live_objects);
    EXPECT_NE(api->get_demuxed_nodes(), nullptr);
    env.clear_state(id);
    env.free_fsyn_expert();
    const MEM_TAG_STATS after = mem_get_tag_stats("MORV");
    EXPECT_EQ(after.live_objects, before.live_objects);
    EXPECT_EQ(after.live_bytes, before.live_bytes);
}

// A folder in the place of the QoR file makes the file impossible to open;
// the compile must stop with an error naming it, and nothing the half-built
// flow driver and facade allocated may stay behind.
TEST_F(MorvApiTest, UnwritableQorFileIsAUserErrorAndLeavesNothingAllocated)
{
    const std::filesystem::path blocker = MORV_QOR_STAT_MGR::s_FILE_NAME;
    std::filesystem::remove(blocker);  // the file of an earlier test
    std::filesystem::create_directory(blocker);
    cfg_set_value("fsyn_dump_qor_stats", "on");
    MORV_TEST_HOST host(6);
    host.build_chain(4);
    MORV_TEST_ENV env(&host.cmp);
    const MEM_TAG_STATS before = mem_get_tag_stats("MORV");
    std::string error;
    try {
        env.get_fsyn_expert();
    } catch (const FIO_WRITE_ERROR& e) {
        error = e.what();
    } catch (const std::exception& e) {
        error = std::string("unexpected: ") + e.what();
    }
    EXPECT_EQ(error.rfind("cannot write file 'fsyn_qor_stats.csv'", 0), 0u) << error;
    EXPECT_EQ(env.peek_fsyn_expert(), nullptr);
    const MEM_TAG_STATS after = mem_get_tag_stats("MORV");
    EXPECT_EQ(after.live_objects, before.live_objects);
    EXPECT_EQ(after.live_bytes, before.live_bytes);

    // Once the place is writable the same compile gets its statistics file.
    std::filesystem::remove(blocker);
    MORV_API* api = api_of(env);
    ASSERT_NE(api, nullptr);
    EXPECT_NE(api->get_fsyn_qor_stat_mgr(), nullptr);
    env.free_fsyn_expert();
    std::filesystem::remove(blocker);
}

TEST_F(MorvApiTest, ConstructionBuildsTheFamilyServices)
{
    MORV_TEST_HOST host(47);
    host.build_chain(2);
    MORV_TEST_ENV env(&host.cmp);
    MORV_API* api = api_of(env);
    ASSERT_NE(api, nullptr);
    EXPECT_EQ(api->get_fsyn_net_util()->get_max_lut_inputs(), 4);
    EXPECT_NE(dynamic_cast<MORV_NET_UTIL_UVO*>(api->get_fsyn_net_util()), nullptr);
    EXPECT_EQ(api->get_fsyn_log(), nullptr);
    EXPECT_FALSE(api->get_fsyn_cdb_interface()->is_logging());
    EXPECT_EQ(api->get_fsyn_chip_map(), nullptr);
    EXPECT_NE(api->get_fsyn_cluster_map(), nullptr);
    EXPECT_NE(api->get_fsyn_region_map(), nullptr);
    EXPECT_NE(api->get_fsyn_stats(), nullptr);
    EXPECT_EQ(api->get_fsyn_qor_stat_mgr(), nullptr);
    EXPECT_EQ(api->get_placer_seed(), 0);
    EXPECT_EQ(api->get_fsyn_timing()->get_timing_mode(), MORV_TIMING_MODE_TDC);

    MORV_TEST_HOST brk(6);
    brk.ap.get_options().set_int(566, 17);
    MORV_TEST_ENV brk_env(&brk.cmp);
    MORV_API* brk_api = api_of(brk_env);
    EXPECT_EQ(brk_api->get_fsyn_net_util()->get_max_lut_inputs(), 6);
    EXPECT_NE(dynamic_cast<MORV_NET_UTIL_BRK*>(brk_api->get_fsyn_net_util()), nullptr);
    EXPECT_EQ(brk_api->get_placer_seed(), 17);
}

// A part the delay model does not know gets no model, and the developer's
// channel hears so at level 1; a known part gets one without the line.
TEST_F(MorvApiTest, DelayModelOnlyForAPartItKnows)
{
    struct UNKNOWN_PART_ENV : MORV_TEST_ENV
    {
        using MORV_TEST_ENV::MORV_TEST_ENV;
        int get_part() override { return DEV_PART_INVALID; }
    };
    auto warnings = [] {
        const std::vector<MSG_VDEBUG_LINE>& lines = msg_vdebug_lines();
        return std::count_if(lines.begin(), lines.end(), [](const MSG_VDEBUG_LINE& line) {
            return line.module == "MORV" && line.text == "WARNING: Not instantiating PLDM for this family!!!";
        });
    };
    msg_set_vdebug_capture(true);
    MORV_TEST_HOST host(6);
    {
        msg_clear_vdebug_lines();
        UNKNOWN_PART_ENV env(&host.cmp);
        EXPECT_EQ(api_of(env)->get_pldm(), nullptr);
        EXPECT_EQ(warnings(), 1);
    }
    msg_clear_vdebug_lines();
    MORV_TEST_ENV env(&host.cmp);
    EXPECT_NE(api_of(env)->get_pldm(), nullptr);
    EXPECT_EQ(warnings(), 0);
}

TEST_F(MorvApiTest, ReplayOptionGivesAReadOnlyLog)
{
    MORV_TEST_HOST host(6);
    host.ap.get_options().set_string(661, "old.map.psl");
    MORV_TEST_ENV env(&host.cmp);
    MORV_API* api = api_of(env);
    EXPECT_TRUE(api->is_fsyn_read_log_required());
    EXPECT_FALSE(api->is_fsyn_write_log_required());
    ASSERT_NE(api->get_fsyn_log(), nullptr);
    EXPECT_NE(dynamic_cast<MORV_LOG_BRK*>(api->get_fsyn_log()), nullptr);
    EXPECT_FALSE(api->get_fsyn_cdb_interface()->is_logging());
    EXPECT_EQ(api->get_fsyn_cdb_interface()->get_fsyn_log(), nullptr);

    MORV_TEST_HOST off(24);
    off.ap.get_options().set_string(661, "OFF");
    MORV_TEST_ENV off_env(&off.cmp);
    EXPECT_FALSE(api_of(off_env)->is_fsyn_read_log_required());
    EXPECT_EQ(api_of(off_env)->get_fsyn_log(), nullptr);
}

TEST_F(MorvApiTest, MigrationPairGetsTheFamilyLogWithLoggingOnAndItsFileOpen)
{
    struct CASE
    {
        int family;
        int migratable_part;
        bool brennock_log;
    } cases[] = {{6, 2401, true}, {24, 601, false}};
    for (const CASE& c : cases) {
        MORV_TEST_HOST host(c.family);
        // A compile that asks for something: MRL's flat compile keeps no log.
        host.ap.get_options().set_bool(662, true);
        morv_install_migration_device(c.family, c.migratable_part);
        MORV_TEST_ENV env(&host.cmp);
        MORV_API* api = api_of(env);
        ASSERT_NE(api, nullptr);
        ASSERT_TRUE(api->is_fsyn_write_log_required()) << c.family;
        MORV_LOG* log = api->get_fsyn_log();
        ASSERT_NE(log, nullptr) << c.family;
        EXPECT_EQ(dynamic_cast<MORV_LOG_BRK*>(log) != nullptr, c.brennock_log) << c.family;
        EXPECT_EQ(dynamic_cast<MORV_LOG_MRL*>(log) != nullptr, !c.brennock_log) << c.family;
        EXPECT_TRUE(api->get_fsyn_cdb_interface()->is_logging());
        EXPECT_EQ(api->get_fsyn_cdb_interface()->get_fsyn_log(), log);
        EXPECT_EQ(log->get_net_util(), api->get_fsyn_net_util());
        // The flow driver opens the log for writing as soon as it exists.
        EXPECT_TRUE(log->get_log_file()->is_write_enabled());
        env.free_fsyn_expert();
        DMGR_UTILITY::set_current_device(nullptr);
    }
}

TEST_F(MorvApiTest, SwitchesAndRatios)
{
    for (const char* text : {"0", "abc"}) {
        cfg_set_value("fsyn_overuse_ratio", text);
        MORV_TEST_HOST host(10);
        MORV_TEST_ENV env(&host.cmp);
        EXPECT_DOUBLE_EQ(api_of(env)->get_le_overuse_ratio(), 0.95) << text;
        EXPECT_DOUBLE_EQ(api_of(env)->get_ff_overuse_ratio(), 0.95) << text;
    }
    cfg_set_value("fsyn_overuse_ratio", "0.8");
    cfg_set_value("fsyn_dump_plumrix_netlist_after_every_iteration", "on");
    cfg_set_value("fsyn_plumrix_dump_post_route_netlist", "on");
    cfg_set_value("fsyn_dump_qor_stats", "on");
    {
        MORV_TEST_HOST host(10);
        MORV_TEST_ENV env(&host.cmp);
        MORV_API* api = api_of(env);
        EXPECT_DOUBLE_EQ(api->get_le_overuse_ratio(), 0.8);
        EXPECT_FALSE(api->is_plumrix_enabled());
        EXPECT_FALSE(api->is_plumrix_dump_every_iteration());
        EXPECT_FALSE(api->is_plumrix_dump_post_route());
        EXPECT_NE(api->get_fsyn_qor_stat_mgr(), nullptr);
        EXPECT_TRUE(api->dump_qor_stats());
    }
    cfg_set_value("fsyn_enable_plumrix", "on");
    MORV_TEST_HOST host(10);
    MORV_TEST_ENV env(&host.cmp);
    MORV_API* api = api_of(env);
    EXPECT_TRUE(api->is_plumrix_enabled());
    EXPECT_TRUE(api->is_plumrix_dump_every_iteration());
    EXPECT_FALSE(api->is_plumrix_dump_every_algorithm());
    EXPECT_TRUE(api->is_plumrix_dump_post_route());
}

TEST_F(MorvApiTest, ChipMapResetRegistersEveryAtom)
{
    MORV_TEST_HOST host(6);
    std::vector<int> ids = host.build_chain(4);
    MORV_TEST_ENV env(&host.cmp);
    MORV_API* api = api_of(env);
    api->reset_fsyn_chip_map(true);
    MORV_CHIP_MAP* chip_map = api->get_fsyn_chip_map();
    ASSERT_NE(chip_map, nullptr);
    EXPECT_EQ(chip_map->get_nx(), 8);
    EXPECT_EQ(chip_map->get_ny(), 6);
    EXPECT_EQ(chip_map->get_lab_capacity(), 32);
    EXPECT_EQ(chip_map->get_number_of_placed_nodes(), 4);
    MORV_LOC loc;
    ASSERT_TRUE(chip_map->get_node_location(ids[3], &loc));
    EXPECT_EQ(loc, (MORV_LOC{0, 0, 0, -1}));
    api->reset_fsyn_chip_map(false);
    EXPECT_EQ(api->get_fsyn_chip_map()->get_number_of_placed_nodes(), 0);
}

// The netlist's structure by atom id: name and the ids driving each input.
std::map<int, std::pair<std::string, std::vector<int>>> structure_of(CDB_ATOM_NETLIST* netlist)
{
    std::map<int, std::pair<std::string, std::vector<int>>> result;
    for (CDB_ATOM_NODE* node : *netlist) {
        auto& entry = result[static_cast<int>(node->get_id())];
        entry.first = MORV_NET_UTIL::get_hpath_name(node);
        for (auto it = node->begin_iterm(); it != node->end_iterm(); ++it) {
            CDB_ATOM_OTERM* source = (*it)->get_source();
            entry.second.push_back(source ? static_cast<int>(source->get_my_node()->get_id()) : -1);
        }
    }
    return result;
}

std::string native_text_of(const CDB_ATOM_NETLIST& netlist)
{
    std::ostringstream out;
    cdb_write_native_netlist(netlist, out);
    return out.str();
}

std::string text_of_file(const std::string& path)
{
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// A saved state keeps each atom's chip-database entry by atom, not by id
// slot: ids are never reused, and a long compile spends many per atom.
TEST_F(MorvApiTest, ASavedStateHoldsTheChipEntriesOfItsAtomsOnly)
{
    MORV_TEST_HOST host(6);
    const std::vector<int> ids = host.build_chain(4);
    CDB_CHIP_DB_ENTRY other_entry;
    host.netlist->get_node_by_id(static_cast<uint32_t>(ids[2]))->set_chip_db_entry(&other_entry);
    // Many ids spent on atoms that are gone again.
    for (int id : host.build_chain(500, "spent")) host.netlist->delete_node(host.netlist->get_node_by_id(id));
    MORV_TEST_ENV env(&host.cmp);
    MORV_API* api = api_of(env);
    const int id = api->save_state();
    const MORV_SAVE_RESTORE_SNAPSHOT* snapshot = env.m_snapshots.get_snapshot_at_position(id);
    EXPECT_EQ(snapshot->m_chip_entry_of.size(), host.netlist->get_node_count());
    EXPECT_EQ(snapshot->m_chip_entries.size(), 2u);

    for (CDB_ATOM_NODE* node : *host.netlist) node->set_chip_db_entry(&other_entry);
    ASSERT_TRUE(api->restore_state(id));
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(host.netlist->get_node_by_id(static_cast<uint32_t>(ids[i]))->get_chip_db_entry(),
                  i == 2 ? &other_entry : &host.chip_entry)
            << i;
}

TEST_F(MorvApiTest, SaveModifyRestoreGivesBackTheNetlistWithNewObjects)
{
    MORV_TEST_HOST host(6);
    std::vector<int> ids = host.build_chain(5);
    MORV_TEST_ENV env(&host.cmp);
    MORV_API* api = api_of(env);
    api->reset_fsyn_chip_map(false);
    api->get_fsyn_chip_map()->set_node_location(ids[2], MORV_LOC{3, 4, 1, -1});
    api->get_fsyn_nt()->record_operation(ids[0], ids[1], MORV_NT_TYPE_DUPLICATE, "REPLICATION");
    api->add_node_to_cluster(env.get_node(ids[1]), 2, 0);

    const auto saved_structure = structure_of(host.netlist.get());
    const std::string saved_native = native_text_of(*host.netlist);
    api->get_fsyn_nt()->dump_to_file("nt_saved.txt");
    std::set<CDB_ATOM_NODE*> old_nodes(host.netlist->begin(), host.netlist->end());

    const int id = api->save_state();
    MORV_ATOM_SAVE_RESTORE* files = env.m_snapshots.get_snapshot_at_position(id)->m_atom_save_restore.get();
    ASSERT_NE(files, nullptr);
    const std::string netlist_file = files->get_netlist_archive_name();
    EXPECT_TRUE(FIO_FILE_SYSTEM::exists(FIO_PATH(netlist_file + ".cdb")));

    // Modify: drop the middle of the chain, add a stray atom, move a location.
    host.netlist->delete_node(env.get_node(ids[2]));
    old_nodes.erase(nullptr);
    host.build_chain(1, "stray");
    api->get_fsyn_chip_map()->set_node_location(ids[2], MORV_LOC{1, 1, 0, -1});
    api->get_fsyn_nt()->record_operation(ids[3], ids[4], MORV_NT_TYPE_SPLIT, "SPLIT");
    api->add_node_to_cluster(env.get_node(ids[3]), 4, 0);
    EXPECT_NE(structure_of(host.netlist.get()), saved_structure);

    EXPECT_TRUE(api->restore_state(id));
    EXPECT_EQ(structure_of(host.netlist.get()), saved_structure);
    EXPECT_EQ(native_text_of(*host.netlist), saved_native);
    api->get_fsyn_nt()->dump_to_file("nt_restored.txt");
    EXPECT_EQ(text_of_file("nt_restored.txt"), text_of_file("nt_saved.txt"));
    EXPECT_EQ(api->get_fsyn_cluster_map()->get_cluster_id(ids[1]), 2);
    EXPECT_LT(api->get_fsyn_cluster_map()->get_cluster_id(ids[3]), 0);
    EXPECT_EQ(env.m_assimilated_calls, 1);
    for (CDB_ATOM_NODE* node : *host.netlist) {
        EXPECT_EQ(old_nodes.count(node), 0u) << "restored atoms are new objects";
        EXPECT_EQ(node->get_chip_db_entry(), &host.chip_entry);
    }
    MORV_LOC loc;
    ASSERT_TRUE(api->get_fsyn_chip_map()->get_node_location(ids[2], &loc));
    EXPECT_EQ(loc, (MORV_LOC{3, 4, 1, -1}));
    EXPECT_EQ(api->get_fsyn_nt()->get_number_of_operations(), 1);
    EXPECT_EQ(api->get_taint() & 0x2u, 0x2u);

    // A restored state is dropped with its files.
    EXPECT_EQ(env.m_snapshots.get_snapshot_at_position(id)->m_id, -1);
    EXPECT_EQ(env.m_snapshots.get_snapshot_at_position(id)->m_atom_save_restore, nullptr);
    EXPECT_FALSE(FIO_FILE_SYSTEM::exists(FIO_PATH(netlist_file + ".cdb")));
    EXPECT_THROW(api->restore_state(-1), MSG_INTERNAL_ERROR_EXCEPTION);
}

// Every iteration saves a state and drops the one before: a dropped state
// must not keep its copy of the timing factors or of the atoms' entries, or
// a compile grows with its iterations.
TEST_F(MorvApiTest, ADroppedStateFreesItsShareAndTheOthersStayRestorable)
{
    cfg_set_value("fsyn_enable_experimental_icp", "on");
    MORV_TEST_HOST host(6);
    host.build_chain(5);
    MORV_TEST_ENV env(&host.cmp);
    MORV_API* api = api_of(env);
    ASSERT_TRUE(api->get_fsyn_expert()->use_xicp());
    MORV_TIMING* timing = api->get_fsyn_timing();
    // The live table is shared by the states saved since it was made, so a
    // new value means a new table, as learning makes it.
    auto learn = [timing](int64_t changed_key, int64_t changed_sum) {
        timing->clear_adjustment_factors();
        MORV_TIMING::ADJUSTMENT_FACTORS::LIST connections;
        for (int64_t key = 0; key < 100; ++key)
            connections.emplace_back(key, MORV_ADJUSTMENT_FACTOR{}).second.m_sum =
                key == changed_key ? changed_sum : key;
        const_cast<MORV_TIMING::ADJUSTMENT_FACTORS&>(timing->get_adjustment_factors())
            .assign({}, std::move(connections));
    };
    auto sum_of = [timing](int64_t key) { return timing->get_adjustment_factors().find(key)->second.m_sum; };
    learn(7, 7);
    const int dropped = api->save_state();
    learn(7, -7);
    const int kept = api->save_state();
    timing->clear_adjustment_factors();
    EXPECT_EQ(timing->count_adjustment_factor_tables(), 3);
    env.clear_state(dropped);
    EXPECT_EQ(timing->count_saved_adjustment_factors(), 1);
    EXPECT_EQ(timing->count_adjustment_factor_tables(), 2);
    EXPECT_TRUE(env.m_snapshots.get_snapshot_at_position(dropped)->m_chip_entries.empty());
    EXPECT_TRUE(env.m_snapshots.get_snapshot_at_position(dropped)->m_chip_entry_of.empty());
    EXPECT_FALSE(env.m_snapshots.get_snapshot_at_position(kept)->m_chip_entries.empty());
    EXPECT_TRUE(api->restore_state(kept));
    EXPECT_EQ(timing->get_adjustment_factors().size(), 100u);
    EXPECT_EQ(sum_of(7), -7);
    EXPECT_EQ(sum_of(8), 8);
    EXPECT_EQ(timing->count_saved_adjustment_factors(), 0);  // restored, so dropped
    EXPECT_EQ(timing->count_adjustment_factor_tables(), 1);
}

}  // namespace

}  // namespace morv_api_test
