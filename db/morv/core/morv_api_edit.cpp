// The facade's edit notifications and may-modify queries: every change to
// the netlist is announced here once, in a fixed order, so that timing,
// the host's bookkeeping, the change log, the statistics and the maps stay
// in step; and every algorithm asks here whether it may change an atom.

#include "morv/core/morv_api.h"

#include <vector>

#include "bpm/bpm_boundary_port_manager.h"
#include "cdb/cdb_atom_netlist.h"
#include "cfg/cfg.h"

#include "morv/core/algorithm/morv_algorithm_base.h"
#include "morv/core/family/morv_family_traits.h"
#include "morv/core/morv_assert.h"
#include "morv/core/morv_debug_stream.h"
#include "morv/core/morv_env.h"
#include "morv/core/morv_expert.h"
#include "morv/core/stats/morv_qor_stats.h"
#include "morv/core/stats/morv_stats.h"
#include "morv/debug/morv_plumrix.h"
#include "morv/log/morv_log.h"
#include "morv/netlist/morv_cdb_interface.h"
#include "morv/netlist/morv_chip_map.h"
#include "morv/netlist/morv_inst_asgn_mgr.h"
#include "morv/netlist/morv_net_util.h"
#include "morv/netlist/morv_region_map.h"
#include "morv/timing/morv_timing.h"

namespace {

// Edit trace lines are built only when the logger shows level 100.
bool tracing()
{
    const MORV_DEBUG_STREAM& stream = MORV_DEBUG_STREAM::get_stream();
    return stream.is_enabled() && stream.get_threshold() >= 100;
}

void trace_node(const char* what, CDB_ATOM_NODE* node)
{
    if (!tracing()) return;
    MORV_DEBUG_STREAM::print(100, "%s node %s (id %d)", what, MORV_NET_UTIL::get_hpath_name(node).c_str(),
                             static_cast<int>(node->get_id()));
}

}  // namespace

// ------------------------------------------------------------------ taint

void MORV_API::taint(CDB_ATOM_NODE* node)
{
    MORV_ASSERT(m_fsyn_net_util);
    const bool combinational =
        node != nullptr && m_fsyn_net_util->is_lcell(node) && !m_fsyn_net_util->is_register_present(node);
    m_taint |= combinational ? MORV_TAINT_COMBINATIONAL : MORV_TAINT_REGISTER_OR_OTHER;
    if (node == nullptr) {
        m_morv_env->set_full_taint();
        MORV_DEBUG_STREAM::print(1, "WARNING: Full taint in FSYN.");
        MORV_ASSERT(m_fsyn_timing);
        m_fsyn_timing->set_mode_switched(true);
    }
    m_morv_env->set_taint_change_set(std::vector<unsigned>());
}

// ------------------------------------------------------------------ notifications

void MORV_API::node_added(CDB_ATOM_NODE* new_node, CDB_ATOM_NODE* from_node, int kind, int code, bool,
                          const int* partition_id)
{
    MORV_ASSERT(new_node);
    trace_node("Adding", new_node);
    MORV_ASSERT(m_morv_env);
    taint(new_node);
    m_morv_env->node_added(new_node, 0);
    bind_to_partition(new_node, from_node, partition_id);
    if (m_fsyn_cdb_interface->is_logging())
        m_fsyn_cdb_interface->get_fsyn_log()->log_insert_atom(new_node, from_node, kind == MORV_MODIFICATION_DUPLICATE);
    m_morv_env->copy_node_assignments(from_node, new_node, 0, 0);
    if (m_kardel_index.is_valid() && can_model_kardel_region(new_node))
        m_kardel_index.add(new_node, m_morv_env->get_node_kardel_region(new_node));
    m_morv_env->record_node_modification(new_node, from_node, kind, code);
    if (m_fsyn_stats != nullptr) m_fsyn_stats->note_node_added();
    if (m_dump_qor_stats) m_fsyn_qor_stat_mgr->increment_int(MORV_QOR_NODES_ADDED);
    m_fsyn_region_map->node_added(new_node);
    m_fsyn_timing->mark_node_changed(new_node, false);
    m_modified_atoms_for_icp.insert(static_cast<int>(new_node->get_id()));
}

// The new node lives where its origin lives: same chip entry, same
// partition unless the caller names one.
void MORV_API::bind_to_partition(CDB_ATOM_NODE* new_node, CDB_ATOM_NODE* old_node, const int* partition_id)
{
    MORV_ASSERT(new_node);
    MORV_ASSERT(old_node);
    MORV_ASSERT(m_morv_env);
    new_node->set_chip_db_entry(old_node->get_chip_db_entry());
    BPM_BOUNDARY_PORT_MANAGER* bpm = m_morv_env->get_boundary_port_manager();
    if (bpm == nullptr) return;
    bpm->add_atom_to_partition(new_node->get_id(), partition_id ? *partition_id : bpm->get_partition_id(old_node));
}

void MORV_API::delete_node(CDB_ATOM_NODE* node)
{
    MORV_ASSERT_TEXT(node, "You are trying to delete an invalid atom_id!");
    MORV_ASSERT(m_morv_env);
    m_fsyn_timing->mark_node_changed(node, true);
    for (auto it = node->begin_iterm(); it != node->end_iterm(); ++it)
        if ((*it)->get_source() != nullptr) modify_edge(*it, true);
    for (auto ot = node->begin_oterm(); ot != node->end_oterm(); ++ot)
        for (auto fanout = (*ot)->begin_iterm_fanout(); fanout != (*ot)->end_iterm_fanout(); ++fanout)
            modify_edge(*fanout, true);
    trace_node("Deleting", node);
    m_morv_env->record_node_modification(node, nullptr, MORV_MODIFICATION_DELETE, MORV_MODIFICATION_CODE);
    m_fsyn_region_map->node_deleted(node);
    if (m_kardel_index.is_valid()) m_kardel_index.remove(node, m_morv_env->get_node_kardel_region(node));
    HDB_INSTANCE_NAME* iname = node->get_instance_name();
    MORV_ASSERT(iname);
    iname->set_flag(HDB_INAME_FLAG_DELETED_ATOM);
    if (m_fsyn_chip_map != nullptr) m_fsyn_chip_map->remove_node(static_cast<int>(node->get_id()));
    taint(node);
    if (m_fsyn_cdb_interface->is_logging()) m_fsyn_cdb_interface->get_fsyn_log()->log_delete_atom(node);
    // The host frees the atom: nothing may hold its address from here on.
    m_morv_env->delete_node(node);
    if (m_fsyn_stats != nullptr) m_fsyn_stats->note_node_deleted();
    if (m_dump_qor_stats) m_fsyn_qor_stat_mgr->increment_int(MORV_QOR_NODES_DELETED);
}

void MORV_API::modify_edge(CDB_ATOM_ITERM* iterm, bool disconnected)
{
    MORV_ASSERT(iterm);
    CDB_ATOM_NODE* sink = iterm->get_my_node();
    MORV_ASSERT(sink);
    if (tracing()) {
        const int sink_id = static_cast<int>(sink->get_id());
        if (CDB_ATOM_OTERM* source = iterm->get_source()) {
            MORV_DEBUG_STREAM::print(
                100,
                "Modifying edge from oterm (%d, %d) of (id %d) feeding iterm (%d, %d) of (id %d) (disconnected=%d)",
                MORV_MODIFICATION_CODE, source->get_port_index(), static_cast<int>(source->get_my_node()->get_id()),
                iterm->get_any_usage_as(), iterm->get_port_index(), sink_id, disconnected ? 1 : 0);
        } else {
            MORV_DEBUG_STREAM::print(100, "Modifying const edge feeding iterm (%d, %d) of (id %d) (disconnected=%d)",
                                     iterm->get_any_usage_as(), iterm->get_port_index(), sink_id, disconnected ? 1 : 0);
        }
    }
    taint(sink);
    m_fsyn_timing->mark_iterm_changed(iterm, disconnected);
    if (disconnected) return;
    MORV_ALGORITHM_BASE* algorithm = m_fsyn_expert ? m_fsyn_expert->get_current_algorithm() : nullptr;
    if (algorithm == nullptr || algorithm->xicp_modify_dest_node_on_modify_edge())
        m_modified_atoms_for_icp.insert(static_cast<int>(sink->get_id()));
}

void MORV_API::note_modified_for_tool_link(CDB_ATOM_NODE* node)
{
    if (!m_plumrix_enabled || m_fsyn_expert == nullptr) return;
    if (MORV_PLUMRIX* plumrix = m_fsyn_expert->get_fsyn_plumrix())
        plumrix->note_node_modified(static_cast<int>(node->get_id()));
}

void MORV_API::note_modified_in_statistics()
{
    if (m_fsyn_stats != nullptr) m_fsyn_stats->note_node_modified();
    if (m_dump_qor_stats) m_fsyn_qor_stat_mgr->increment_int(MORV_QOR_NODES_MODIFIED);
}

void MORV_API::modify_node(CDB_ATOM_NODE* node)
{
    MORV_ASSERT(node);
    trace_node("Modifying", node);
    note_modified_for_tool_link(node);
    taint(node);
    m_morv_env->record_node_modification(node, nullptr, MORV_MODIFICATION_MODIFY, MORV_MODIFICATION_CODE);
    note_modified_in_statistics();
    m_fsyn_timing->mark_node_changed(node, false);
}

void MORV_API::merge_nodes(CDB_ATOM_NODE* kept, CDB_ATOM_NODE* merged)
{
    MORV_ASSERT(kept && merged);
    MORV_ASSERT(m_fsyn_net_util);
    if (kept == merged || !m_fsyn_net_util->is_ff(kept) || !m_fsyn_net_util->is_ff(merged)) return;
    if (tracing())
        MORV_DEBUG_STREAM::print(100, "Merging node %s (id %d) and node %s (id %d)",
                                 MORV_NET_UTIL::get_hpath_name(kept).c_str(), static_cast<int>(kept->get_id()),
                                 MORV_NET_UTIL::get_hpath_name(merged).c_str(), static_cast<int>(merged->get_id()));
    note_modified_for_tool_link(kept);
    taint(kept);
    m_morv_env->record_node_modification(kept, merged, MORV_MODIFICATION_MERGE, MORV_MERGE_MODIFICATION_CODE);
    note_modified_in_statistics();
    m_fsyn_timing->mark_node_changed(kept, false);
    m_fsyn_timing->mark_node_changed(merged, false);
}

// ------------------------------------------------------------------ may-modify queries

// The rules after the host's own answer, cheapest first: the migration rule
// walks fanout and is asked only while a migration log is written.
bool MORV_API::is_protected_beyond_host(CDB_ATOM_NODE* node)
{
    if (m_fsyn_region_map->is_node_locked_by_region(node)) return true;
    if (m_fsyn_expert != nullptr && m_fsyn_expert->is_virtual_node(node)) return true;
    return is_fsyn_write_log_required() && is_migration_sensitive_node(node);
}

bool MORV_API::is_oterm_dont_touch(CDB_ATOM_OTERM* oterm, AMM_OP op)
{
    MORV_ASSERT(oterm);
    MORV_ASSERT(m_morv_env);
    if (!m_morv_env->can_modify_oterm(oterm, op, 0, 0, 0, 0)) return true;
    CDB_ATOM_NODE* node = oterm->get_my_node();
    MORV_ASSERT(node);
    if (is_protected_beyond_host(node)) return true;
    return !m_inst_asgn_mgr->is_oterm_modifiable(oterm);
}

bool MORV_API::is_atom_dont_touch(int atom_id, AMM_OP op)
{
    MORV_ASSERT(m_morv_env);
    CDB_ATOM_NODE* node = m_morv_env->get_node(atom_id);
    if (!m_morv_env->can_modify_atom(atom_id, op, nullptr, 0, 0, 0)) return true;
    // An atom that is not there cannot be changed either.
    if (node == nullptr || is_protected_beyond_host(node)) return true;
    return !m_inst_asgn_mgr->is_node_modifiable(node);
}

bool MORV_API::is_migration_sensitive_node(CDB_ATOM_NODE* node)
{
    MORV_ASSERT(node);
    MORV_ASSERT(m_fsyn_net_util);
    // A combinational cell whose LUT output and arithmetic output are both used.
    auto splits_arithmetic = [this](CDB_ATOM_NODE* cell) {
        return cell->is_lcell_comb() && m_fsyn_net_util->is_connected(cell, DB_COMB_OUT) &&
               (m_fsyn_net_util->is_connected(cell, DB_SUM_OUT) || m_fsyn_net_util->is_connected(cell, DB_CARRY_OUT));
    };
    if (splits_arithmetic(node)) return true;
    for (auto ot = node->begin_oterm(); ot != node->end_oterm(); ++ot)
        for (auto fanout = (*ot)->begin_iterm_fanout(); fanout != (*ot)->end_iterm_fanout(); ++fanout)
            if ((*fanout)->get_my_node() != nullptr && splits_arithmetic((*fanout)->get_my_node())) return true;
    return false;
}

// Secondary inputs are told by their global-network type: 0 none, 2 and 4
// the ordinary clock and data networks; type 9 counts only when asked.
bool MORV_API::has_connected_secondary_iterm(CDB_ATOM_NODE* node, bool count_kind_9)
{
    MORV_ASSERT(node);
    for (auto it = node->begin_iterm(); it != node->end_iterm(); ++it) {
        if (!(*it)->is_connected()) continue;
        const int kind = (*it)->get_global();
        if (kind == 0 || kind == 2 || kind == 4) continue;
        if (kind == 9 && !count_kind_9) continue;
        return true;
    }
    return false;
}

bool MORV_API::is_lut_outside_carry_chain(CDB_ATOM_NODE* node)
{
    MORV_ASSERT(node);
    MORV_ASSERT(m_fsyn_net_util);
    const MORV_FAMILY_TRAITS& family = morv_family_traits(m_base_family);
    if (!family.m_free_luts) return false;
    const bool candidate = family.m_one_cell_holds_lut_and_ff ? m_fsyn_net_util->is_lcell(node) : node->is_lcell_comb();
    return candidate && !m_fsyn_net_util->is_lcell_part_of_a_carry_chain(node);
}

bool MORV_API::is_lcell_or_ff(CDB_ATOM_NODE* node)
{
    MORV_ASSERT(node);
    MORV_ASSERT(m_fsyn_net_util);
    if (morv_family_traits(m_base_family).m_one_cell_holds_lut_and_ff) return m_fsyn_net_util->is_lcell(node);
    return node->is_lcell_comb() || m_fsyn_net_util->is_ff(node);
}

void MORV_API::print_dont_touch_statistics(AMM_OP op)
{
    MORV_ASSERT(m_atom_netlist);
    MORV_ASSERT(m_fsyn_net_util);
    const bool verbose = cfg_is_on("FSYN_PRINT_ATOM_MOD_STATS_VERBOSE", false);
    int atoms = 0, refused_atoms = 0, lcells = 0, refused_lcells = 0, registers = 0, refused_registers = 0;
    for (CDB_ATOM_NODE* node : *m_atom_netlist) {
        const int id = static_cast<int>(node->get_id());
        const bool refused = m_morv_env->is_atom_dont_touch(id, op);
        ++atoms;
        refused_atoms += refused;
        if (refused && verbose) {
            int reason = 0;
            m_morv_env->can_modify_atom(id, op, &reason, 0, 0, 0);
            MORV_DEBUG_STREAM::print(100, " ... cannot modify %d: %s: %d", id, m_morv_env->get_atom_name(id).c_str(),
                                     reason);
        }
        if (!m_fsyn_net_util->is_lcell(node)) continue;
        ++lcells;
        refused_lcells += refused;
        bool registered = false;
        for (auto ot = node->begin_oterm(); ot != node->end_oterm() && !registered; ++ot)
            registered = (*ot)->is_registered();
        if (!registered) continue;
        ++registers;
        refused_registers += refused;
    }
    MORV_DEBUG_STREAM::print(100, "Results: %d / %d atoms : %d / %d lcells : %d / %d registers", refused_atoms, atoms,
                             refused_lcells, lcells, refused_registers, registers);
}

bool MORV_API::refresh_timing_and_print_dont_touch_statistics()
{
    MORV_ASSERT(m_fsyn_timing);
    if (!m_fsyn_timing->sync_timing_netlist(true, true)) return false;
    m_fsyn_timing->perform_timing_analysis();
    m_morv_env->set_tdc_utility(m_fsyn_timing->get_tdc_utility());
    if (cfg_is_on("FSYN_PRINT_ATOM_MOD_STATS_FOR_DUPLICATION", false)) {
        MORV_DEBUG_STREAM::print(100, "FSYN Don't Touch Algorithm: Duplication");
        print_dont_touch_statistics(AMM_OP_FITTER_FSYN_DUPLICATE);
    }
    if (cfg_is_on("FSYN_PRINT_ATOM_MOD_STATS_FOR_RETIMING", false)) {
        MORV_DEBUG_STREAM::print(100, "FSYN Don't Touch Algorithm: Retiming");
        print_dont_touch_statistics(AMM_OP_FITTER_FSYN_RETIME);
    }
    return true;
}

CDB_ATOM_NODE* MORV_API::get_node(int atom_id) const
{
    MORV_ASSERT(m_morv_env);
    return m_morv_env->get_node(atom_id);
}
