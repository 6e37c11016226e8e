#include "morv/core/morv_api.h"

#include <algorithm>
#include <cstdlib>
#include <string>
#include <unordered_map>

#include "cdb/cdb_atom_netlist.h"
#include "cfg/cfg.h"
#include "cmp/cmp_facade.h"
#include "dev/dev_device.h"
#include "gen/gen.h"
#include "hdb/hdb_action_pt_instance.h"
#include "hdb/hdb_instance_name.h"
#include "hdb/hdb_options.h"
#include "msg/msg.h"

#include "mem_alloc_sys.h"
#include "morv/core/family/morv_family_traits.h"
#include "morv/core/morv_assert.h"
#include "morv/core/morv_debug_stream.h"
#include "morv/core/morv_env.h"
#include "morv/core/morv_expert.h"
#include "morv/core/morv_setting_ids.h"
#include "morv/resyn/morv_remux.h"
#include "fio/fio.h"
#include "cut/cut_morlin_legalizer.h"
#include "morv/core/stats/morv_qor_stats.h"
#include "morv/core/stats/morv_stats.h"
#include "morv/log/morv_log.h"
#include "morv/netlist/morv_cdb_interface.h"
#include "morv/netlist/morv_chip_map.h"
#include "morv/netlist/morv_cluster_map.h"
#include "morv/netlist/morv_inst_asgn_mgr.h"
#include "morv/netlist/morv_net_util_family.h"
#include "morv/netlist/morv_nt.h"
#include "morv/netlist/morv_region_map.h"
#include "morv/netlist/morv_save_restore.h"
#include "morv/timing/morv_timing.h"

namespace {

// A copy of a family's change log bound to api; null for a family without one.
MORV_OWNER<MORV_LOG> copy_family_log(int base_family, const MORV_LOG& log, MORV_API* api)
{
    const MORV_FAMILY_TRAITS& traits = morv_family_traits(base_family);
    return traits.m_copy_log != nullptr ? traits.m_copy_log(log, api) : nullptr;
}

// Atom names containing "__Z", counted up to six.
int count_name_pattern(const CDB_ATOM_NETLIST* netlist)
{
    int count = 0;
    for (const CDB_ATOM_NODE* node : *netlist) {
        const HDB_INSTANCE_NAME* name = node->get_instance_name();
        if (name != nullptr && name->get_short_hpath().find("__Z") != std::string::npos && ++count > 5) break;
    }
    return count;
}

}  // namespace

MORV_API::MORV_API(MORV_EXPERT* expert, MORV_ENV* env)
    : m_fsyn_expert(expert), m_morv_env(env), m_atom_netlist(nullptr), m_taint(0), m_enable_netlist_dump(false),
      m_dump_qor_stats(false), m_enable_debug_checkpoints(false), m_debug_checkpoint_stop_late(false),
      m_debug_checkpoint_stop_count(0), m_family(DEV_FAMILY_INVALID), m_base_family(DEV_FAMILY_INVALID),
      m_device_enum(DEV_DEVICE_INVALID), m_min_used_for_overuse(1), m_plumrix_enabled(false),
      m_plumrix_dump_every_iteration(false), m_plumrix_dump_every_algorithm(false), m_plumrix_dump_post_route(false),
      m_le_overuse_ratio(0.95), m_ff_overuse_ratio(0.95), m_placer_seed(0)
{
    try {
        build_services();
    } catch (...) {
        release_services();
        throw;
    }
}

void MORV_API::build_services()
{
    MORV_ASSERT_TEXT(m_morv_env, "morv_env");

    // Only an absent setting gives 0: -1 is a seed like any other.
    const std::optional<int> seed = find_int_option(MORV_SETTING_PLACER_SEED);
    m_placer_seed = seed ? *seed : 0;
    m_random_state = static_cast<uint64_t>(static_cast<int64_t>(m_placer_seed));

    m_atom_netlist = m_morv_env->get_atom_netlist();
    MORV_ASSERT_TEXT(m_atom_netlist, "Error!  Could not get the atom netlist!");

    m_base_family = m_morv_env->get_base_family_code();
    MORV_ASSERT(m_base_family != DEV_FAMILY_INVALID);
    m_name_pattern = count_name_pattern(m_atom_netlist) > 5;

    // Timing comes first: every later service may cache it.
    m_fsyn_timing = MORV_MAKE_OWNER(MORV_TIMING, this);

    DEV_DEVICE* current_device = DMGR_UTILITY::get_current_device();
    MORV_ASSERT(current_device);
    DEV_BASIC_INFO* dev_basic_info = current_device->get_basic_info();
    MORV_ASSERT(dev_basic_info);
    m_device_enum = dev_basic_info->get_device_enum();
    MORV_ASSERT(m_device_enum != DEV_DEVICE_INVALID);

    const bool write_log = is_fsyn_write_log_required();
    const MORV_FAMILY_TRAITS& traits = morv_family_traits(m_base_family);
    if ((write_log || is_fsyn_read_log_required()) && traits.m_make_log != nullptr)
        m_fsyn_log = traits.m_make_log(this);

    // A replay run keeps its log for reading only.
    m_fsyn_cdb_interface = MORV_MAKE_OWNER(MORV_CDB_INTERFACE, write_log ? m_fsyn_log.get() : nullptr);

    if (traits.m_make_net_util != nullptr) m_fsyn_net_util = traits.m_make_net_util(m_atom_netlist, this);
    if (m_fsyn_net_util == nullptr)
        MORV_DEBUG_STREAM::print(1, "WARNING: No MORV_NET_UTIL available for this family!!!");
    if (m_fsyn_log != nullptr) m_fsyn_log->set_net_util(m_fsyn_net_util.get());

    m_fsyn_stats = MORV_MAKE_OWNER(MORV_STATS_MGR, this);

    if (cfg_is_on("fsyn_dump_qor_stats", false)) {
        m_fsyn_qor_stat_mgr = MORV_MAKE_OWNER(MORV_QOR_STAT_MGR, this);
        m_dump_qor_stats = true;
    }

    m_fsyn_region_map = MORV_MAKE_OWNER(MORV_REGION_MAP, m_morv_env, this);

    m_inst_asgn_mgr = MORV_MAKE_OWNER(MORV_INST_ASGN_MGR, this);
    m_inst_asgn_mgr->initialize();

    // Point-to-point delays come from the part's delay model, when it has one.
    const int part = m_morv_env->get_part();
    if (PLDM::is_part_supported(part)) m_pldm = MORV_MAKE_OWNER(PLDM, part);
    else MORV_DEBUG_STREAM::print(1, "WARNING: Not instantiating PLDM for this family!!!");
    m_disable_ll_timing = cfg_is_on("fsyn_disable_ll_timing", false);

    m_enable_netlist_dump = cfg_is_on("fsyn_enable_netlist_dump", false);
    m_enable_debug_checkpoints = cfg_is_on("fsyn_enable_debug_checkpoints", false);
    m_debug_checkpoint_stop_late = cfg_is_on("fsyn_debug_checkpoint_stop_late", false);
    m_debug_checkpoint_stop_count = cfg_get_int_value("fsyn_debug_checkpoint_stop_count", 0);

    m_fsyn_nt = MORV_MAKE_OWNER(MORV_NT);

    read_plumrix_switches();
    read_overuse_ratio();

    if (m_fsyn_expert != nullptr && m_fsyn_expert->use_xicp()) MORV_DEBUG_STREAM::print(1, "FSYN is using xICP");
    else MORV_DEBUG_STREAM::print(1, "FSYN is using old ICP");

    m_fsyn_timing->init_tdc_timing();
    reset_fsyn_cluster_map();
    m_demuxed_nodes = MORV_REMUX::create_demuxed_nodes();
}

void MORV_API::read_plumrix_switches()
{
    if (!cfg_is_on("fsyn_enable_plumrix", false)) return;
    m_plumrix_enabled = true;
    MORV_DEBUG_STREAM::print(1, "Plumrix is enabled.");
    if (cfg_is_on("fsyn_dump_plumrix_netlist_after_every_iteration", false)) {
        m_plumrix_dump_every_iteration = true;
        MORV_DEBUG_STREAM::print(1, "Plumrix dumps enabled for every iteration.");
    }
    if (cfg_is_on("fsyn_plumrix_dump_algorithm_netlists", false)) {
        m_plumrix_dump_every_algorithm = true;
        MORV_DEBUG_STREAM::print(1, "Plumrix dumps enabled for every algorithm.");
    }
    if (cfg_is_on("fsyn_plumrix_dump_post_route_netlist", false)) {
        m_plumrix_dump_post_route = true;
        MORV_DEBUG_STREAM::print(1, "Plumrix dump enabled for post routing netlist.");
    }
}

void MORV_API::read_overuse_ratio()
{
    const char* overuse_text = cfg_get_value("fsyn_overuse_ratio");
    const double overuse = overuse_text ? std::atof(overuse_text) : 0.0;
    if (overuse == 0.0) return;
    m_le_overuse_ratio = overuse;
    m_ff_overuse_ratio = overuse;
    MORV_DEBUG_STREAM::print(1, "FSYN is setting overuse ratio to %f", overuse);
}

MORV_API::~MORV_API()
{
    MORV_ASSERT(m_fsyn_region_map);
    release_services();
}

void MORV_API::release_services()
{
    m_atom_legalizer.reset();
    m_pldm.reset();
    m_fsyn_chip_map.reset();
    m_fsyn_cluster_map.reset();
    m_fsyn_net_util.reset();
    m_fsyn_log.reset();
    m_fsyn_cdb_interface.reset();
    m_fsyn_nt.reset();
    m_fsyn_region_map.reset();
    m_fsyn_qor_stat_mgr.reset();
    if (m_fsyn_stats != nullptr) m_fsyn_stats->delete_records();
    m_fsyn_stats.reset();
    m_inst_asgn_mgr.reset();
    m_fsyn_timing.reset();
    m_morv_env = nullptr;
    m_demuxed_nodes.reset();
    m_modified_atoms_for_icp.clear();
}

MORV_NET_UTIL* MORV_API::get_fsyn_net_util() const
{
    MORV_ASSERT(m_fsyn_net_util);
    return m_fsyn_net_util.get();
}

MORV_TIMING* MORV_API::get_fsyn_timing() const
{
    MORV_ASSERT(m_fsyn_timing);
    return m_fsyn_timing.get();
}

MORV_NT* MORV_API::get_fsyn_nt() const
{
    MORV_ASSERT(m_fsyn_nt);
    return m_fsyn_nt.get();
}

MORV_CDB_INTERFACE* MORV_API::get_fsyn_cdb_interface() const
{
    MORV_ASSERT(m_fsyn_cdb_interface);
    return m_fsyn_cdb_interface.get();
}

void MORV_API::reset_fsyn_cluster_map()
{
    m_fsyn_cluster_map.reset();
    m_fsyn_cluster_map = MORV_MAKE_OWNER(MORV_CLUSTER_MAP, this);
}

void MORV_API::reset_fsyn_chip_map(bool register_nodes)
{
    m_fsyn_chip_map.reset();
    m_fsyn_chip_map = MORV_MAKE_OWNER(MORV_CHIP_MAP, this, m_morv_env->get_grid_nx(), m_morv_env->get_grid_ny());
    if (!register_nodes) return;
    // An unsupported family leaves the chip map without maps; nothing can be entered then.
    if (m_fsyn_chip_map->get_lab_capacity() == -1) return;
    for (CDB_ATOM_NODE* node : *m_atom_netlist)
        m_fsyn_chip_map->set_node_location(static_cast<int>(node->get_id()), MORV_LOC{0, 0, 0, -1});
}

// Settings by id, resource counts and the ICP call live in morv_api_settings.cpp.

bool MORV_API::is_atom_modified_for_icp(int atom_id) const
{
    return m_modified_atoms_for_icp.count(atom_id) != 0;
}

// ------------------------------------------------------------------ states

int MORV_API::save_state()
{
    MORV_ASSERT(m_morv_env);
    MORV_DEBUG_STREAM::print(1, "Saving Present State...");
    const double start = gen_get_sec_cpu();
    const int id = m_morv_env->save_state();
    MORV_DEBUG_STREAM::print(1, "Total CPU time to save state = %i secs", static_cast<int>(gen_get_sec_cpu() - start));
    return id;
}

bool MORV_API::restore_state(int saveid)
{
    MORV_ASSERT(saveid >= 0);
    MORV_ASSERT(m_morv_env);
    const double start = gen_get_sec_cpu();
    m_morv_env->restore_state(saveid);
    // The restored netlist has other atoms (and the host may have moved regions).
    m_kardel_index.invalidate();
    // No edit is announced for a restore, yet every figure of the timing
    // object describes the netlist that was just replaced: the next update
    // must time the restored one (iTEst finds its records stale and runs a
    // full analysis). Clock offsets given to the replaced netlist go with it.
    if (m_fsyn_timing != nullptr) {
        m_fsyn_timing->note_netlist_restored();
        (void)m_fsyn_timing->restore_timing_snapshot(saveid);
    }
    clear_state(saveid);
    MORV_DEBUG_STREAM::print(1, "Total CPU time to restore netlist = %i secs",
                             static_cast<int>(gen_get_sec_cpu() - start));
    return true;
}

void MORV_API::clear_state(int saveid)
{
    MORV_ASSERT(saveid >= 0);
    MORV_ASSERT(m_morv_env);
    m_morv_env->clear_state(saveid);
}

void MORV_API::take_snapshot(MORV_SAVE_RESTORE_SNAPSHOT* snapshot_ret)
{
    MORV_ASSERT(snapshot_ret);
    MORV_ASSERT(m_morv_env);
    // A map that was never created is saved as absent.
    if (m_fsyn_chip_map) snapshot_ret->m_chip_map = MORV_MAKE_OWNER(MORV_CHIP_MAP_IMAGE, m_fsyn_chip_map->get_image());
    if (m_fsyn_cluster_map)
        snapshot_ret->m_cluster_map = MORV_MAKE_OWNER(MORV_CLUSTER_MAP_IMAGE, m_fsyn_cluster_map->get_image());

    if (m_fsyn_log != nullptr) {
        MORV_OWNER<MORV_LOG> log_to_save = copy_family_log(m_base_family, *m_fsyn_log, this);
        MORV_ASSERT(log_to_save);
        log_to_save->get_log_file()->close();
        snapshot_ret->m_log = std::move(log_to_save);
        m_fsyn_log->start_new_log_chunk();
    }

    MORV_STATS* current = m_fsyn_stats ? m_fsyn_stats->get_current_record() : nullptr;
    snapshot_ret->m_stats = current ? MORV_MAKE_OWNER(MORV_STATS, *current) : MORV_MAKE_OWNER(MORV_STATS);

    // The snapshot keeps the tracking as it is; the facade goes on with a copy.
    MORV_ASSERT(m_fsyn_nt);
    MORV_OWNER<MORV_NT> continued = MORV_MAKE_OWNER(MORV_NT, *m_fsyn_nt);
    snapshot_ret->m_nt = std::move(m_fsyn_nt);
    m_fsyn_nt = std::move(continued);

    MORV_ASSERT(m_atom_netlist);
    save_chip_entries(snapshot_ret);
    if (m_fsyn_timing != nullptr) m_fsyn_timing->save_timing_snapshot(snapshot_ret->m_id);

    if (m_fsyn_expert != nullptr && m_fsyn_expert->use_xicp()) {
        snapshot_ret->m_modified_atoms_for_icp = MORV_MAKE_OWNER(std::set<int>, m_modified_atoms_for_icp);
        m_fsyn_timing->save_adjustment_factors(snapshot_ret->m_id);
    }
}

// By atom, not by id slot: ids are never reused, so the highest id of a
// long compile is many times the atom count.
void MORV_API::save_chip_entries(MORV_SAVE_RESTORE_SNAPSHOT* snapshot) const
{
    snapshot->m_chip_entry_of.reserve(m_atom_netlist->get_node_count());
    // Few distinct entries as a rule, but a host may give each atom its own.
    std::unordered_map<const CDB_CHIP_DB_ENTRY*, uint32_t> index_of;
    for (CDB_ATOM_NODE* node : *m_atom_netlist) {
        CDB_CHIP_DB_ENTRY* chip_entry = node->get_chip_db_entry();
        MORV_ASSERT(chip_entry);
        auto& entries = snapshot->m_chip_entries;
        const auto [known, added] = index_of.emplace(chip_entry, static_cast<uint32_t>(entries.size()));
        if (added) entries.push_back(chip_entry);
        snapshot->m_chip_entry_of.push_back({node->get_id(), known->second});
    }
    std::sort(snapshot->m_chip_entry_of.begin(), snapshot->m_chip_entry_of.end(),
              [](const auto& a, const auto& b) { return a.m_atom_id < b.m_atom_id; });
}

void MORV_API::restore_chip_entries(const MORV_SAVE_RESTORE_SNAPSHOT& snapshot)
{
    const auto& saved = snapshot.m_chip_entry_of;
    for (CDB_ATOM_NODE* node : *m_atom_netlist) {
        const auto found = std::lower_bound(saved.begin(), saved.end(), node->get_id(),
                                            [](const auto& entry, uint32_t id) { return entry.m_atom_id < id; });
        MORV_ASSERT_TEXT(found != saved.end() && found->m_atom_id == node->get_id(), "chip_entry");
        node->set_chip_db_entry(snapshot.m_chip_entries[found->m_entry]);
    }
}

void MORV_API::restore_snapshot(MORV_SAVE_RESTORE_SNAPSHOT* snapshot)
{
    MORV_ASSERT(snapshot);
    m_kardel_index.invalidate();
    // A snapshot without a chip map was taken before any flow created one.
    m_fsyn_chip_map = snapshot->m_chip_map ? MORV_MAKE_OWNER(MORV_CHIP_MAP, *snapshot->m_chip_map) : nullptr;
    MORV_ASSERT(snapshot->m_cluster_map);
    m_fsyn_cluster_map = MORV_MAKE_OWNER(MORV_CLUSTER_MAP, *snapshot->m_cluster_map);

    if (m_fsyn_log != nullptr) {
        MORV_LOG* log_to_restore = snapshot->m_log.get();
        MORV_ASSERT(log_to_restore);
        MORV_OWNER<MORV_LOG> restored = copy_family_log(m_base_family, *log_to_restore, this);
        MORV_ASSERT(restored);
        m_fsyn_log = std::move(restored);
        m_fsyn_cdb_interface->set_fsyn_log(m_fsyn_log.get());
    }

    MORV_STATS* stats_to_restore = snapshot->m_stats.get();
    MORV_ASSERT(stats_to_restore);
    MORV_STATS* current = m_fsyn_stats ? m_fsyn_stats->get_current_record() : nullptr;
    if (current != nullptr) current->restore_counters_from(*stats_to_restore);

    MORV_ASSERT(snapshot->m_nt);
    m_fsyn_nt = MORV_MAKE_OWNER(MORV_NT, *snapshot->m_nt);

    MORV_ASSERT(m_atom_netlist);
    restore_chip_entries(*snapshot);

    if (m_fsyn_expert != nullptr && m_fsyn_expert->use_xicp()) {
        m_fsyn_timing->restore_adjustment_factors(snapshot->m_id);
        MORV_ASSERT(snapshot->m_modified_atoms_for_icp);
        m_modified_atoms_for_icp = *snapshot->m_modified_atoms_for_icp;
    }
}

void MORV_API::delete_snapshot(MORV_SAVE_RESTORE_SNAPSHOT* snapshot_ret)
{
    MORV_ASSERT(snapshot_ret);
    if (m_fsyn_timing != nullptr) {
        m_fsyn_timing->drop_saved_adjustment_factors(snapshot_ret->m_id);
        m_fsyn_timing->drop_timing_snapshot(snapshot_ret->m_id);
    }
    snapshot_ret->release_facade_share();
}

bool MORV_API::holds_saved_state(int save_id) const
{
    MORV_SAVE_RESTORE_MGR* mgr = m_morv_env ? m_morv_env->get_save_restore_mgr() : nullptr;
    if (mgr == nullptr || save_id < 0 || save_id >= mgr->get_number_of_snapshots()) return false;
    const MORV_SAVE_RESTORE_SNAPSHOT* snapshot = mgr->get_snapshot_at_position(save_id);
    return snapshot->m_id == save_id && snapshot->m_atom_save_restore != nullptr;
}

void MORV_API::clear_save_restore_states()
{
    for (int id : m_save_restore_tables.m_saved_netlists)
        if (id != MORV_SAVE_RESTORE_TABLES::INVALID_NETLIST && holds_saved_state(id)) clear_state(id);
    m_save_restore_tables.clear();
}
