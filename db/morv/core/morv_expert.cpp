#include "morv/core/morv_expert.h"

#include <cstdio>
#include <string>

#include "cdb/cdb_atom_netlist.h"
#include "cfg/cfg.h"
#include "gen/gen.h"
#include "msg/msg.h"
#include "tdb/tdb_netlist.h"

#include "mem_alloc_sys.h"
#include "morv/core/algorithm/morv_algorithm_base.h"
#include "morv/core/morv_api.h"
#include "morv/core/morv_debug_stream.h"
#include "morv/core/morv_env.h"
#include "morv/core/morv_env_timing.h"
#include "morv/core/morv_global.h"
#include "morv/core/morv_msgs.h"
#include "morv/core/family/morv_family_traits.h"
#include "morv/debug/morv_plumrix.h"
#include "morv/dup/morv_pipe_async.h"
#include "morv/log/morv_log.h"
#include "morv/netlist/morv_chip_map.h"
#include "morv/netlist/morv_cluster_map.h"
#include "morv/timing/morv_timing.h"

namespace {

[[noreturn]] void expert_error(const char* text, int line)
{
    MSG_INTERNAL_ERROR::report(text, "MORV", __FILE__, line);
}

const char* const NOP_ERROR = "ERROR - Invalid operation called for MORV_EXPERT_NOP.";

// Zeroes both delay values of every edge of a timing node; the edge count.
int zero_edge_delays(TDB_NODE* tdb_node)
{
    int edges = 0;
    for (TDB_EDGE_COMPOUND_ITER it(tdb_node, 7); !it.done(); ++it) {
        TDB_EDGE* tdb_edge = *it;
        if (tdb_edge == nullptr) expert_error("tdb_edge", __LINE__);
        TDB_DELAY* delay = tdb_edge->get_delay();
        if (delay == nullptr) expert_error("delay", __LINE__);
        delay->set_delay(0, 0);
        delay->set_delay(1, 0);
        ++edges;
    }
    return edges;
}

}  // namespace

const char* const MORV_EXPERT::s_FSYN_ALGORITHM_SHORT_NAMES[ALGORITHM_END + 1] = {
    "RTM",          "REMUX",   "RWR",        "REG_PACK", "REP", "TEST",     "REG_UNPACK",
    "BDD_SYN",      "RAM_MAP", "PIPE_ASYNC", "RESPLIT",  "LIR", "INV_PUSH", "RESYN",
    "SAVE_RESTORE", "UTIL",    "MANUAL",     "PIPELINE", ""};

// The table is ordered by id; keep the SAVE_RESTORE/UTIL order consistent with the ids above.
static_assert(SAVE_RESTORE_ALGORITHM == 14 && UTIL_ALGORITHM == 15, "algorithm ids");

int MORV_EXPERT::m_instantiation = 0;
bool MORV_EXPERT::m_TOO_MANY_BA_NODES_issued = false;

const char* MORV_EXPERT::get_fsyn_flow_name(e_fsyn_flow flow)
{
    switch (flow) {
    case SYN_EARLY_FSYN_FLOW: return "SYN_EARLY";
    case FIT_EARLY_FSYN_FLOW: return "FIT_EARLY";
    case POST_CLUSTERING_FSYN_FLOW: return "POST_CLUSTERING";
    case CLUSTER_RETRY_FSYN_FLOW: return "CLUSTER_RETRY";
    case LATE_FSYN_FLOW: return "LATE";
    case VERY_LATE_FSYN_FLOW: return "";
    default: return nullptr;
    }
}

MORV_OWNER<MORV_EXPERT_INTERFACE> MORV_EXPERT::allocate_new_expert(MORV_ENV* env)
{
    const MORV_FAMILY_TRAITS& traits = morv_family_traits(env->get_base_family_code());
    if (traits.m_make_driver != nullptr) return traits.m_make_driver(env);
    return MORV_MAKE_OWNER(MORV_EXPERT_NOP);
}

MORV_EXPERT::MORV_EXPERT(MORV_ENV* env) : m_morv_env(env)
{
    m_early_slack_ratios = MORV_MAKE_OWNER(MORV_EXPERT_SLACK_RATIO_MAP, 61);
    if (m_morv_env == nullptr) expert_error("m_morv_env", __LINE__);

    ++m_instantiation;
    morv_debug("Creating MORV_EXPERT");

    MORV_DEBUG_STREAM::configure_from_switches();

    m_fsyn_api = MORV_MAKE_OWNER(MORV_API, this, env);
    m_fsyn_timing = m_fsyn_api->get_fsyn_timing();
    if (m_fsyn_timing == nullptr) expert_error("m_fsyn_timing", __LINE__);

    m_fsyn_plumrix = MORV_MAKE_OWNER(MORV_PLUMRIX, m_fsyn_api.get());
    m_fsyn_plumrix->initialize();

    if (m_fsyn_api->is_fsyn_write_log_required()) {
        MORV_LOG* log = m_fsyn_api->get_fsyn_log();
        if (log == nullptr) expert_error("m_fsyn_log", __LINE__);
        log->get_log_file()->init(true);
    }

    m_dump_instance_assignments = cfg_is_on("fsyn_dump_instance_assignments", false);
    m_use_xicp = cfg_is_on("fsyn_enable_experimental_icp", false);
    m_enable_nevra = cfg_is_on("fsyn_enable_nevra", false);
}

MORV_EXPERT::~MORV_EXPERT()
{
    if (m_fsyn_plumrix == nullptr) expert_error("m_fsyn_plumrix", __LINE__);
    m_fsyn_plumrix->shutdown();
    m_fsyn_plumrix.reset();

    if (m_fsyn_api == nullptr) expert_error("m_fsyn_api", __LINE__);
    m_fsyn_api.reset();
    m_fsyn_timing = nullptr;
    morv_debug("Destroyed MORV_EXPERT");

    m_virtual_nodes.clear();
    m_early_slack_ratios.reset();
    m_algorithm_runs.clear();
}

void MORV_EXPERT::check_flow_id(int fsyn_flow_id) const
{
    if (!(fsyn_flow_id >= 0 && fsyn_flow_id < NUM_FSYN_FLOWS))
        expert_error("fsyn_flow_id >= 0 && fsyn_flow_id < NUM_FSYN_FLOWS", __LINE__);
}

// do_physical_synthesis and the gate live in morv_expert_dispatch.cpp.

bool MORV_EXPERT::will_fsyn_run(e_fsyn_flow fsyn_flow_id)
{
    check_flow_id(fsyn_flow_id);
    if (fsyn_flow_id == CLUSTER_RETRY_FSYN_FLOW && get_vpr_retry_state() == 2) return false;
    return m_fsyn_flow_is_enabled[fsyn_flow_id];
}

bool MORV_EXPERT::has_fsyn_run(e_fsyn_flow fsyn_flow_id)
{
    check_flow_id(fsyn_flow_id);
    return m_fsyn_flow_has_run[fsyn_flow_id];
}

bool MORV_EXPERT::will_fsyn_pipeline_net(CDB_ATOM_OTERM* src_oterm)
{
    if (src_oterm == nullptr) expert_error("src_oterm", __LINE__);
    const char* name = s_FSYN_ALGORITHM_SHORT_NAMES[PIPE_ASYNC_ALGORITHM];
    const bool named_in_test_string =
        m_test_string_late.find(name) != std::string::npos && m_test_string_early.find(name) != std::string::npos;
    if (named_in_test_string || m_algorithm_list[PIPE_ASYNC_ALGORITHM])
        return MORV_PIPE_ASYNC::static_is_critical_asynchronous_source(src_oterm);
    return false;
}

void MORV_EXPERT::save_early_netlist_incase_vpr_fails()
{
    if (m_fsyn_api == nullptr) expert_error("m_fsyn_api", __LINE__);
    m_early_netlist_state_id = m_fsyn_api->save_state();
    m_migration_log_size_at_early_save =
        m_fsyn_api->is_fsyn_write_log_required() ? MORV_LOG::get_log_file_size(migration_log_name()) : -1;
}

// The flows merged into the compile's log since the save are undone with
// the netlist: a replay must not repeat them.
void MORV_EXPERT::restore_early_netlist()
{
    if (m_fsyn_api == nullptr) expert_error("m_fsyn_api", __LINE__);
    if (m_early_netlist_state_id != -1) {
        m_fsyn_api->restore_state(m_early_netlist_state_id);
        m_fsyn_timing->sync_timing_netlist(false, true);
        m_fsyn_flow_is_enabled[FIT_EARLY_FSYN_FLOW] = false;
        if (m_migration_log_size_at_early_save >= 0)
            MORV_LOG::cut_log_file(migration_log_name(), m_migration_log_size_at_early_save);
    }
    m_early_netlist_state_id = -1;
    m_migration_log_size_at_early_save = -1;
}

void MORV_EXPERT::discard_early_netlist()
{
    if (m_fsyn_api == nullptr) expert_error("m_fsyn_api", __LINE__);
    if (m_early_netlist_state_id != -1) {
        m_fsyn_api->clear_state(m_early_netlist_state_id);
        m_early_netlist_state_id = -1;
    }
    m_migration_log_size_at_early_save = -1;
}

bool MORV_EXPERT::is_fsyn_running_in_migration_replay_log_mode()
{
    return m_fsyn_api->is_fsyn_read_log_required();
}

bool MORV_EXPERT::get_init_info_for_ble_dup_struct_from_sap(int, int, int*, int*, int*, int*, int)
{
    expert_error(NOP_ERROR, __LINE__);
}

bool MORV_EXPERT::load_ble_dup_struct(int*, int*, int**, int)
{
    expert_error(NOP_ERROR, __LINE__);
}

void MORV_EXPERT::reset_fsyn_chip_map()
{
    // The chip map exists only once a flow has created it.
    MORV_CHIP_MAP* chip_map = m_fsyn_api->get_fsyn_chip_map();
    if (chip_map != nullptr) chip_map->clear();
}

void MORV_EXPERT::clear_fsyn_rdb_table()
{
    m_morv_env->clear_rdb_table();
}

void MORV_EXPERT::clear_fsyn_log()
{
    m_fsyn_api->prepare_migration_log_file();
}

void MORV_EXPERT::reset_fsyn_cluster_map()
{
    m_fsyn_api->reset_fsyn_cluster_map();
}

void MORV_EXPERT::set_atom_preferred_cluster(int atom_id, int cluster, int ale)
{
    CDB_ATOM_NODE* node = m_morv_env->get_node(atom_id);
    if (node == nullptr) expert_error("node", __LINE__);
    m_fsyn_api->add_node_to_cluster(node, cluster, ale);
}

int MORV_EXPERT::get_atom_preferred_cluster(int atom_id)
{
    CDB_ATOM_NODE* node = m_morv_env->get_node(atom_id);
    if (node == nullptr) expert_error("node", __LINE__);
    MORV_CLUSTER_MAP* cluster_map = m_fsyn_api->get_fsyn_cluster_map();
    if (cluster_map == nullptr) return -1;
    return cluster_map->get_cluster_id(node);
}

int MORV_EXPERT::get_clustered_companion_node(int atom_id)
{
    MORV_CLUSTER_MAP* cluster_map = m_fsyn_api->get_fsyn_cluster_map();
    if (cluster_map == nullptr) expert_error("cluster_map", __LINE__);
    return cluster_map->get_companion_node(atom_id, true);
}

void MORV_EXPERT::set_atoms_preferred_location(int atom_id, int x, int y, int sub, int index)
{
    MORV_CHIP_MAP* chip_map = m_fsyn_api->get_fsyn_chip_map();
    if (chip_map == nullptr) return;
    chip_map->set_node_location(atom_id, MORV_LOC{x, y, sub, index});
}

bool MORV_EXPERT::get_atoms_preferred_location(int atom_id, int* x, int* y, int* sub, int* index)
{
    MORV_CHIP_MAP* chip_map = m_fsyn_api->get_fsyn_chip_map();
    if (chip_map == nullptr) return false;
    return chip_map->get_atoms_preferred_location(atom_id, x, y, sub, index);
}

void MORV_EXPERT::fix_tdb_netlist_for_virtual_nodes()
{
    if (!cfg_is_on("fsyn_fix_tdb_netlist_for_virtual_nodes", false)) return;
    if (m_virtual_nodes.empty()) return;
    MORV_DEBUG_STREAM::print(1, "Fixing timing for virtual nodes");
    // Looked up before the trace of the first node: only a set with nodes
    // needs the timing netlist at all.
    TDB_NETLIST* tdb_netlist = morv_env_get_tdb_netlist();
    for (int id : m_virtual_nodes) {
        MORV_DEBUG_STREAM::print(100, "   Fixing timing on virtual node <%d>", id);
        if (tdb_netlist == nullptr) expert_error("tdb_netlist", __LINE__);
        // The trace keeps one count per virtual node, 0 when its atom is gone.
        CDB_ATOM_NODE* node = m_morv_env->get_node(id);
        int edges = 0;
        if (node != nullptr) {
            for (auto it = node->begin_oterm(); it != node->end_oterm(); ++it) {
                TDB_NODE* tdb_node = tdb_netlist->get_tdb_node_from_oterm(*it);
                if (tdb_node == nullptr) continue;
                edges += zero_edge_delays(tdb_node);
            }
        }
        MORV_DEBUG_STREAM::print(100, "      Edges modified: %d", edges);
    }
}

bool MORV_EXPERT::is_atom_modified_for_icp(int atom_id)
{
    return m_fsyn_api->is_atom_modified_for_icp(atom_id);
}

// find_and_set_which_algorithms_are_to_run lives in morv_expert_mode.cpp.

bool MORV_EXPERT::run_fsyn_replay_log_flow()
{
    expert_error("The replay log flow is being used with an incorrect family", __LINE__);
}

bool MORV_EXPERT::check_if_log_file_exists()
{
    expert_error("This function should never be called for this family", __LINE__);
}

void MORV_EXPERT::warn_not_available(const std::string& what)
{
    for (const std::string& reported : m_not_available_reported)
        if (reported == what) return;
    m_not_available_reported.push_back(what);
    MSG_W* msg = new MSG_W();
    msg->fill_args("%1!s! is not available yet in this build and is skipped./WMORV_FSYN_NOT_AVAILABLE_YET", what);
    morv_send_msg(msg);
}

bool MORV_EXPERT::can_any_fsyn_flow_run() const
{
    for (int flow = SYN_EARLY_FSYN_FLOW; flow <= LATE_FSYN_FLOW; ++flow)
        if (m_fsyn_flow_is_enabled[flow]) return true;
    return false;
}

bool MORV_EXPERT::is_fsyn_running(e_fsyn_flow fsyn_flow_id) const
{
    check_flow_id(fsyn_flow_id);
    return m_fsyn_flow_is_running[fsyn_flow_id];
}

bool MORV_EXPERT::is_fsyn_running_early_fsyn() const
{
    return m_fsyn_flow_is_running[SYN_EARLY_FSYN_FLOW] || m_fsyn_flow_is_running[FIT_EARLY_FSYN_FLOW];
}

bool MORV_EXPERT::is_fsyn_running_pre_placement_fsyn() const
{
    for (int flow = SYN_EARLY_FSYN_FLOW; flow <= CLUSTER_RETRY_FSYN_FLOW; ++flow)
        if (m_fsyn_flow_is_running[flow]) return true;
    return false;
}

void MORV_EXPERT::add_virtual_node(int id)
{
    MORV_DEBUG_STREAM::print(100, "Adding virtual node <%d> to set", id);
    m_virtual_nodes.insert(id);
}

void MORV_EXPERT::remove_virtual_node(int id)
{
    MORV_DEBUG_STREAM::print(100, "Removing virtual node <%d> from set", id);
    m_virtual_nodes.erase(id);
}

void MORV_EXPERT::clear_virtual_nodes()
{
    MORV_DEBUG_STREAM::print(100, "Clearing virtual nodes set");
    m_virtual_nodes.clear();
}

bool MORV_EXPERT::is_virtual_node(CDB_ATOM_NODE* node) const
{
    if (node == nullptr) expert_error("node", __LINE__);
    return m_virtual_nodes.count(static_cast<int>(node->get_id())) != 0;
}

bool MORV_EXPERT::is_device_supported_by_fsyn() const
{
    return morv_family_traits(m_fsyn_api->get_base_family_code()).m_make_driver != nullptr;
}

// ------------------------------------------------------------------ no-op driver

MORV_EXPERT_NOP::MORV_EXPERT_NOP()
{
    msg_local_vdebug("MORV", "***************************************************************");
    msg_local_vdebug("MORV", "*                                                             *");
    msg_local_vdebug("MORV", "*  WARNING: FSYN is not supported for this family.            *");
    msg_local_vdebug("MORV", "*           The no-operation MORV_EXPERT_NOP has been used.   *");
    msg_local_vdebug("MORV", "*                                                             *");
    msg_local_vdebug("MORV", "***************************************************************");
}

bool MORV_EXPERT_NOP::do_physical_synthesis(e_fsyn_flow fsyn_flow_id)
{
    if (fsyn_flow_id == VERY_LATE_FSYN_FLOW && cfg_is_on("fsyn_plumrix_dump_post_route_netlist", false) &&
        !cfg_is_on("very_late_fsyn", false)) {
        msg_local_vdebug("MORV", "WARNING - Plumrix is not supported for the fitter in this family.");
        msg_local_vdebug("MORV", "Post route netlist dump aborted.");
        return false;
    }
    expert_error(NOP_ERROR, __LINE__);
}

void MORV_EXPERT_NOP::save_early_netlist_incase_vpr_fails()
{
    expert_error(NOP_ERROR, __LINE__);
}
void MORV_EXPERT_NOP::restore_early_netlist()
{
    expert_error(NOP_ERROR, __LINE__);
}
void MORV_EXPERT_NOP::discard_early_netlist()
{
    expert_error(NOP_ERROR, __LINE__);
}
bool MORV_EXPERT_NOP::is_fsyn_running_in_migration_replay_log_mode()
{
    expert_error(NOP_ERROR, __LINE__);
}
bool MORV_EXPERT_NOP::get_init_info_for_ble_dup_struct_from_sap(int, int, int*, int*, int*, int*, int)
{
    expert_error(NOP_ERROR, __LINE__);
}
bool MORV_EXPERT_NOP::load_ble_dup_struct(int*, int*, int**, int)
{
    expert_error(NOP_ERROR, __LINE__);
}
void MORV_EXPERT_NOP::reset_fsyn_chip_map()
{
    expert_error(NOP_ERROR, __LINE__);
}
void MORV_EXPERT_NOP::clear_fsyn_rdb_table()
{
    expert_error(NOP_ERROR, __LINE__);
}
void MORV_EXPERT_NOP::clear_fsyn_log()
{
    expert_error(NOP_ERROR, __LINE__);
}
void MORV_EXPERT_NOP::reset_fsyn_cluster_map()
{
    expert_error(NOP_ERROR, __LINE__);
}
void MORV_EXPERT_NOP::set_atom_preferred_cluster(int, int, int)
{
    expert_error(NOP_ERROR, __LINE__);
}
int MORV_EXPERT_NOP::get_atom_preferred_cluster(int)
{
    expert_error(NOP_ERROR, __LINE__);
}
int MORV_EXPERT_NOP::get_clustered_companion_node(int)
{
    expert_error(NOP_ERROR, __LINE__);
}
void MORV_EXPERT_NOP::set_atoms_preferred_location(int, int, int, int, int)
{
    expert_error(NOP_ERROR, __LINE__);
}
bool MORV_EXPERT_NOP::get_atoms_preferred_location(int, int*, int*, int*, int*)
{
    expert_error(NOP_ERROR, __LINE__);
}
void MORV_EXPERT_NOP::fix_tdb_netlist_for_virtual_nodes()
{
    expert_error(NOP_ERROR, __LINE__);
}
