#include "morv/netlist/morv_atom_save_restore.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <unordered_set>
#include <vector>

#include "bpm/bpm_boundary_port_manager.h"
#include "cdb/cdb_atom_netlist.h"
#include "cdb/cdb_atom_netlist_pdb.h"
#include "cdb/cdb_db_entries.h"
#include "cmp/cmp_facade.h"
#include "fio/fio.h"
#include "hdb/hdb_action_pt_instance.h"
#include "hdb/hdb_instance_name.h"
#include "hut/hut_util.h"
#include "msg/msg.h"
#include "pdb/pdb_archive.h"

#include "mem_alloc_sys.h"
#include "morv/core/morv_assert.h"
#include "morv/core/morv_debug_stream.h"
#include "morv/core/morv_env.h"

namespace {

// Deletes one segment file; false (after a message) when it is still there.
bool delete_segment(const std::string& base_name, PDB_SEGMENT_KIND kind)
{
    PDB_ARCHIVE archive(gen_generate_pdb_filename(base_name, ""));
    const std::string file = archive.get_segment_file_name(kind);
    FIO_FILE_SYSTEM::remove_if_exists(FIO_PATH(file));
    if (FIO_FILE_SYSTEM::exists(FIO_PATH(file))) {
        morv_debug("Failed to delete %s", file.c_str());
        return false;
    }
    morv_debug("Deleted %s", file.c_str());
    return true;
}

std::string segment_file(const std::string& base_name, PDB_SEGMENT_KIND kind)
{
    return PDB_ARCHIVE(gen_generate_pdb_filename(base_name, "")).get_segment_file_name(kind);
}

// A saved state that cannot be written is the environment's (a full disk, a
// folder without permission), for the user to mend: named with its folder.
[[noreturn]] void fail_saved_state(const std::string& file, const std::string& reason)
{
    throw FIO_WRITE_ERROR(FIO_PATH(file).fullpath(), reason);
}

// Appends the level unless it is listed; true when it was appended.
bool list_level(std::vector<HDB_HIERARCHY*>& list, std::unordered_set<const HDB_HIERARCHY*>& listed,
                HDB_HIERARCHY* level, const char* kind)
{
    if (!listed.insert(level).second) return false;
    morv_debug("INSERTING (%s: {%08x})", kind, level->get_id());
    list.push_back(level);
    return true;
}

// The restored atoms lie in the levels of the name manager restored with
// them: the hierarchy entry's list would otherwise keep naming the levels
// of the manager the restore replaced. Each level is listed once, in the
// order the node list first reaches it, the levels below a level right
// after it.
void rebuild_atom_hierarchy_list(CMP_FACADE* cmp, const CDB_ATOM_NETLIST* netlist)
{
    CDB_CMP_ENTRY* cap = cmp->get_cmp_entry();
    MORV_ASSERT_TEXT(cap != nullptr, "cap!=0");
    CDB_DB_ENTRIES* db_entries = cap->get_db_entries();
    MORV_ASSERT_TEXT(db_entries != nullptr, "db_entries!=0");
    CDB_HIERARCHY_DB_ENTRY* h_db_entry = db_entries->get_hierarchy_db_entry(0);
    MORV_ASSERT_TEXT(h_db_entry != nullptr, "h_db_entry!=0");
    std::vector<HDB_HIERARCHY*>& list = h_db_entry->get_atom_hierarchy_list();
    // The design deletes every level of the list; here the list only lets go
    // of them (each still printed as deleted). Name managers own their
    // levels: these are the replaced manager's, which the host frees with
    // it, so a delete here would free them a second time.
    for (const HDB_HIERARCHY* level : list) morv_debug("DELETING (HIERARCHY: {%08x})", level->get_id());
    list.clear();
    std::unordered_set<const HDB_HIERARCHY*> listed;
    for (const CDB_ATOM_NODE* node : *netlist) {
        HDB_HIERARCHY* level = node->get_atom_hierarchy();
        if (level == nullptr || !list_level(list, listed, level, "HIERARCHY")) continue;
        for (HDB_HIERARCHY* below : level->get_hierarchy_subtree_list())
            list_level(list, listed, below, "SUB_HIERARCHY");
    }
    for (const HDB_HIERARCHY* level : list) morv_debug("DB_ENTRY.HIERARCHY: {%08x}", level->get_id());
}

}  // namespace

// Scratch files of this process: an interrupted compile removes them.
std::vector<std::string> MORV_ATOM_SAVE_RESTORE::get_saved_files() const
{
    return {get_boundary_port_file_name(), segment_file(get_netlist_archive_name(), PDB_SEGMENT_NETLIST),
            segment_file(get_hierarchy_archive_name(), PDB_SEGMENT_HIERARCHY)};
}

MORV_ATOM_SAVE_RESTORE::MORV_ATOM_SAVE_RESTORE(MORV_ENV* env, int netlist_id, int partition_id)
    : m_env(env), m_netlist_id(netlist_id), m_partition_id(partition_id)
{
    MORV_ASSERT(m_env);
}

std::string MORV_ATOM_SAVE_RESTORE::get_netlist_archive_name() const
{
    return morv_sprintf("morv_atom_save_restore_netlist_p%d_%d", m_partition_id, m_netlist_id);
}

std::string MORV_ATOM_SAVE_RESTORE::get_hierarchy_archive_name() const
{
    return morv_sprintf("morv_atom_save_restore_hdb_p%d_%d", m_partition_id, m_netlist_id);
}

std::string MORV_ATOM_SAVE_RESTORE::get_boundary_port_file_name() const
{
    CMP_FACADE* cmp = m_env->get_cmp();
    MORV_ASSERT(cmp);
    char buffer[512];
    std::snprintf(buffer, sizeof buffer, "morv_%s_p%d_%d", cmp->get_compile_base_name(), m_partition_id, m_netlist_id);
    return buffer;
}

bool MORV_ATOM_SAVE_RESTORE::save(int netlist_id)
{
    MORV_ASSERT(netlist_id >= 0);
    // The files of a first save would never be deleted: the object remembers
    // one id only.
    MORV_ASSERT(m_netlist_id < 0);
    morv_debug("MORV_ATOM_SAVE_RESTORE: saving atom netlist to DISK!");
    m_netlist_id = netlist_id;
    for (const std::string& file : get_saved_files()) fio_remove_on_interrupt(file);

    if (BPM_BOUNDARY_PORT_MANAGER* bpm = m_env->get_boundary_port_manager()) {
        errno = 0;
        if (!bpm->save(get_boundary_port_file_name()))
            fail_saved_state(get_boundary_port_file_name(), errno != 0 ? std::strerror(errno) : "write failed");
    }

    morv_debug("Getting the reference to the atom netlist");
    CDB_ATOM_NETLIST* cdb_atom_netlist = m_env->get_atom_netlist();
    MORV_ASSERT(cdb_atom_netlist != NULL);

    const std::string netlist_name = get_netlist_archive_name();
    morv_debug("MORV_ATOM_SAVE_RESTORE: writing to {%s}", netlist_name.c_str());
    std::string error;
    if (!cdb_save_netlist_to_pdb(cdb_atom_netlist, gen_generate_pdb_filename(netlist_name, ""), &error))
        fail_saved_state(segment_file(netlist_name, PDB_SEGMENT_NETLIST), error);

    CMP_FACADE* cmp = m_env->get_cmp();
    HDB_ACTION_PT_INSTANCE* cap_inst = cmp ? cmp->get_action_point_instance() : nullptr;
    MORV_ASSERT(cap_inst);
    const std::string hierarchy_name = get_hierarchy_archive_name();
    if (!HUT_UTIL::save_cap_inst_to_pdb(cap_inst, gen_generate_pdb_filename(hierarchy_name, ""), &error))
        fail_saved_state(segment_file(hierarchy_name, PDB_SEGMENT_HIERARCHY), error);
    return true;
}

bool MORV_ATOM_SAVE_RESTORE::restore(int file_type)
{
    MORV_ASSERT(m_netlist_id >= 0);

    CMP_FACADE* cmp = m_env->get_cmp();
    HDB_ACTION_PT_INSTANCE* cap_inst = cmp ? cmp->get_action_point_instance() : nullptr;
    MORV_ASSERT(cap_inst);
    const bool hdb_read_file_success = HUT_UTIL::restore_cap_inst_from_pdb(
        cap_inst, gen_generate_pdb_filename(get_hierarchy_archive_name(), ""), static_cast<PDB_FILE_TYPE>(file_type));
    MORV_ASSERT(hdb_read_file_success);

    CDB_ATOM_NETLIST* cdb_atom_netlist = m_env->get_atom_netlist();
    MORV_ASSERT(cdb_atom_netlist != NULL);

    // Read first: a damaged archive must leave the live netlist untouched.
    const std::string netlist_name = get_netlist_archive_name();
    morv_debug("MORV_ATOM_SAVE_RESTORE: reading from {%s}", netlist_name.c_str());
    std::string error;
    CDB_ATOM_NETLIST* saved_atom_netlist =
        cdb_restore_netlist_from_pdb(gen_generate_pdb_filename(netlist_name, ""), cap_inst->get_name_mgr(), &error);
    MORV_ASSERT_TEXT(saved_atom_netlist != NULL, error.c_str());

    morv_debug("MORV_ATOM_SAVE_RESTORE: restoring atom netlist from DISK!");
    {
        CDB_ATOM_NETLIST old_nodes(cdb_atom_netlist->get_family());
        old_nodes.assimilate(cdb_atom_netlist);
        old_nodes.set_own_all_nodes(true);
    }

    morv_debug("Assimilating saved atom netlist");
    cdb_atom_netlist->assimilate(saved_atom_netlist);
    cdb_atom_netlist->set_own_all_nodes(true);
    m_env->netlist_assimilated();

    if (BPM_BOUNDARY_PORT_MANAGER* bpm = m_env->get_boundary_port_manager()) {
        const bool bpm_loaded = bpm->load(get_boundary_port_file_name());
        MORV_ASSERT(bpm_loaded);
        HDB_ACTION_PT_INSTANCE* restored_cap_inst = cmp->get_action_point_instance();
        MORV_ASSERT(restored_cap_inst);
        bpm->rebind(restored_cap_inst);
    }

    saved_atom_netlist->set_own_all_nodes(false);
    delete saved_atom_netlist;
    rebuild_atom_hierarchy_list(cmp, cdb_atom_netlist);
    return true;
}

MORV_ATOM_SAVE_RESTORE::~MORV_ATOM_SAVE_RESTORE()
{
    morv_debug("Destroying MORV_ATOM_SAVE_RESTORE");
    if (m_netlist_id >= 0) {
        BPM_BOUNDARY_PORT_MANAGER* bpm = m_env->get_boundary_port_manager();
        if (bpm != nullptr && !bpm->remove(get_boundary_port_file_name()))
            morv_debug("Failed to delete the boundary-port data");
        morv_debug("DELETING netlist from DISK");
        const bool netlist_deleted = delete_segment(get_netlist_archive_name(), PDB_SEGMENT_NETLIST);
        const bool hierarchy_deleted = delete_segment(get_hierarchy_archive_name(), PDB_SEGMENT_HIERARCHY);
        if (!netlist_deleted) morv_debug("Failed to delete the saved netlist archive");
        if (!hierarchy_deleted) morv_debug("Failed to delete the saved hierarchy archive");
        for (const std::string& file : get_saved_files()) fio_forget_on_interrupt(file);
    }
    morv_debug("MORV_ATOM_SAVE_RESTORE DESTROYED...Yes!");
}
