#include "morv/core/morv_env.h"
#include "morv/core/morv_env_timing.h"

#include "cdb/cdb_db_entries.h"
#include "cfg/cfg.h"
#include "cmp/cmp_facade.h"
#include "dev/dev_device.h"
#include "msg/msg.h"
#include "thr/thr.h"

#include "morv/core/morv_api.h"
#include "morv/core/family/morv_family_traits.h"
#include "mem_alloc_sys.h"
#include "morv/core/morv_debug_stream.h"
#include "morv/core/morv_expert.h"
#include "morv/netlist/morv_atom_save_restore.h"
#include "morv/netlist/morv_save_restore.h"

MORV_ENV* MORV_ENV::s_env = nullptr;

namespace {

[[noreturn]] void env_error(const char* text, int line)
{
    MSG_INTERNAL_ERROR::report(text, "MORV", __FILE__, line);
}

MORV_API* api_of(MORV_EXPERT_INTERFACE* expert)
{
    MORV_EXPERT* full = dynamic_cast<MORV_EXPERT*>(expert);
    return full ? full->get_fsyn_api() : nullptr;
}

}  // namespace

MORV_ENV::MORV_ENV(CMP_FACADE* cmp, int partition_id)
    : m_cmp(cmp), m_atom_netlist(nullptr), m_bpm(nullptr), m_chip_db_entry(nullptr), m_save_restore_mgr(nullptr),
      m_partition_id(partition_id), m_family_code(-1), m_base_family_code(-1), m_current_partition_id(0)
{
    s_env = this;
    // A constructor that fails never runs the destructor: the static must not
    // keep pointing at the half-built object.
    auto fail = [this](const char* text, int line) {
        if (s_env == this) s_env = nullptr;
        env_error(text, line);
    };
    msg_local_vdebug("MORV", "Setting up MORV_ENV...");
    if (m_cmp == nullptr) fail("m_cmp != NULL", __LINE__);

    m_base_family_code = m_cmp->get_base_family_code();
    m_family_code = m_cmp->get_family_code();

    CDB_CMP_ENTRY* cmp_action_point_instance = m_cmp->get_cmp_entry();
    if (cmp_action_point_instance == nullptr) fail("cmp_action_point_instance != NULL", __LINE__);
    CDB_DB_ENTRIES* db_entries = cmp_action_point_instance->get_db_entries();
    if (db_entries == nullptr) fail("db_entries != NULL", __LINE__);
    m_chip_db_entry = db_entries->get_chip_db_entry(partition_id);
    if (m_chip_db_entry == nullptr) fail("m_chip_db_entry != NULL", __LINE__);
    m_atom_netlist = m_chip_db_entry->get_atom_netlist();
    if (m_atom_netlist == nullptr) fail("m_atom_netlist != NULL", __LINE__);

    // The boundary-port manager lives in a library the host loads on demand;
    // a null manager only means the compile has no incremental partitions.
    THR_DRL_LIBRARY* library = thr_drl_load(THR_DRL_BPM_LIBRARY);
    if (library == nullptr) fail(thr_drl_get_error(), __LINE__);
    THR_DRL_FUNCTION function = thr_drl_find_function(library, "bpm_drl_get_active_boundary_port_manager");
    if (function == nullptr) fail(thr_drl_get_error(), __LINE__);
    m_bpm = reinterpret_cast<BPM_DRL_GET_ACTIVE_BOUNDARY_PORT_MANAGER_FN>(function)();

    msg_local_vdebug("MORV", "Finished setting up MORV_ENV.");
}

MORV_ENV::~MORV_ENV()
{
    m_fsyn_expert.reset();
    // A newer environment may have been constructed meanwhile; it must stay reachable.
    if (s_env == this) s_env = nullptr;
}

e_fsyn_flow MORV_ENV::where_does_early_fsyn_run(CMP_FACADE* cmp)
{
    const bool ssyn_fsyn = cfg_is_on("ssyn_fsyn", true);
    const int base = cmp ? cmp->get_base_family_code() : DEV_FAMILY_INVALID;
    if (!morv_family_traits(base).m_early_flow_at_synthesis) return FIT_EARLY_FSYN_FLOW;
    if (!ssyn_fsyn || !morv_env_is_early_timing_enabled()) return FIT_EARLY_FSYN_FLOW;
    return SYN_EARLY_FSYN_FLOW;
}

std::string MORV_ENV::get_project_name()
{
    return m_cmp->get_project_name();
}

MORV_EXPERT_INTERFACE* MORV_ENV::get_fsyn_expert()
{
    if (m_fsyn_expert == nullptr) {
        msg_local_vdebug("MORV", "***** MORV_ENV allocating new MORV_EXPERT *****");
        m_fsyn_expert = MORV_EXPERT::allocate_new_expert(this);
    }
    return m_fsyn_expert.get();
}

void MORV_ENV::free_fsyn_expert()
{
    // The netlists SAVE_RESTORE kept end with the compile, files and all.
    if (MORV_API* morv_api = api_of(m_fsyn_expert.get())) morv_api->clear_save_restore_states();
    m_fsyn_expert.reset();
}

CDB_ATOM_NODE* MORV_ENV::get_boundary_port_source(CDB_ATOM_BOUNDARY_PORT*, int*, int*)
{
    env_error("Function (get_boundary_port_source) not implemented for this flow.", __LINE__);
}

CDB_ATOM_NODE* MORV_ENV::get_blackbox_source(CDB_ATOM_OTERM*, int*, int*)
{
    env_error("Function (get_blackbox_source) not implemented for this flow.", __LINE__);
}

int MORV_ENV::save_state()
{
    MORV_API* morv_api = api_of(m_fsyn_expert.get());
    if (morv_api == nullptr) env_error("morv_api", __LINE__);
    MORV_SAVE_RESTORE_SNAPSHOT* snapshot = m_save_restore_mgr ? m_save_restore_mgr->create_snapshot() : nullptr;
    if (snapshot == nullptr) env_error("snapshot", __LINE__);
    const int state_id = snapshot->m_id;

    snapshot->m_atom_save_restore = MORV_MAKE_OWNER(MORV_ATOM_SAVE_RESTORE, this, -1, get_current_partition_id());
    MORV_DEBUG_STREAM::print(1, "Saving state < %d >...", state_id);
    snapshot->m_atom_save_restore->save(state_id);

    morv_api->take_snapshot(snapshot);
    return state_id;
}

void MORV_ENV::restore_state(int state_id, int file_type)
{
    MORV_API* morv_api = api_of(m_fsyn_expert.get());
    if (morv_api == nullptr) env_error("morv_api", __LINE__);
    pre_restore_state();
    MORV_SAVE_RESTORE_SNAPSHOT* snapshot =
        m_save_restore_mgr ? m_save_restore_mgr->get_snapshot_at_position(state_id) : nullptr;
    if (snapshot == nullptr) env_error("snapshot", __LINE__);
    if (snapshot->m_id != state_id) env_error("snapshot->m_id == state_id", __LINE__);
    MORV_DEBUG_STREAM::print(1, "Restoring state < %d >...", state_id);
    if (snapshot->m_atom_save_restore == nullptr) env_error("atom_save_restore", __LINE__);
    snapshot->m_atom_save_restore->restore(file_type);
    morv_api->taint(nullptr);
    morv_api->restore_snapshot(snapshot);
    post_restore_state();
}

void MORV_ENV::clear_state(int state_id)
{
    MORV_API* morv_api = api_of(m_fsyn_expert.get());
    if (morv_api == nullptr) env_error("morv_api", __LINE__);
    MORV_SAVE_RESTORE_SNAPSHOT* snapshot =
        m_save_restore_mgr ? m_save_restore_mgr->get_snapshot_at_position(state_id) : nullptr;
    if (snapshot == nullptr) env_error("snapshot", __LINE__);
    if (snapshot->m_id == -1) return;
    MORV_DEBUG_STREAM::print(1, "Clearing state < %d >...", snapshot->m_id);
    snapshot->m_atom_save_restore.reset();
    std::vector<CDB_CHIP_DB_ENTRY*>().swap(snapshot->m_chip_entries);
    decltype(snapshot->m_chip_entry_of)().swap(snapshot->m_chip_entry_of);
    morv_api->delete_snapshot(snapshot);
    snapshot->m_id = -1;
}

void MORV_ENV::clear_all_states()
{
    if (m_save_restore_mgr == nullptr) return;
    const int n = m_save_restore_mgr->get_number_of_snapshots();
    for (int position = 0; position < n; ++position) clear_state(position);
}
