// What iTEst records between two analyses: the atoms to re-time, the atoms
// deleted, and the output terms that received a copy of another term's
// timing assignments. At the start of an estimation the copies are carried
// into the domains, so that a copied term is a keeper of the same domains,
// in the same role, as the first term of its chain of copies.

#include <cstdint>

#include "cdb/cdb_atom_netlist.h"
#include "gen/gen.h"
#include "hdb/hdb_instance_name.h"
#include "tdb/tdb_netlist.h"
#include "tdc/tdc_accessories.h"

#include "morv/core/morv_api.h"
#include "morv/core/morv_assert.h"
#include "morv/core/morv_debug_stream.h"
#include "morv/timing/morv_timing_ite.h"

namespace {
const char* instance_name(const CDB_ATOM_NODE* node)
{
    const HDB_INSTANCE_NAME* name = node != nullptr ? node->get_instance_name() : nullptr;
    return name != nullptr ? name->get_short_hpath().c_str() : "<unnamed>";
}

// The term of the atom with the info's port type and index; null when gone.
CDB_ATOM_OTERM* find_oterm(const CDB_ATOM_NODE* atom, const MORV_TIMING_ITE_OTERM_INFO& info)
{
    for (auto it = atom->begin_oterm(); it != atom->end_oterm(); ++it) {
        CDB_ATOM_OTERM* oterm = *it;
        if (static_cast<int16_t>(oterm->get_usage()) == info.m_port_type &&
            oterm->get_port_index() == info.m_literal_index)
            return oterm;
    }
    return nullptr;
}
}  // namespace

MORV_TIMING_ITE_OTERM_INFO MORV_TIMING_ITE::oterm_info_of(const CDB_ATOM_OTERM* oterm)
{
    MORV_TIMING_ITE_OTERM_INFO info;
    info.m_atom_id = static_cast<int32_t>(oterm->get_my_node()->get_id());
    info.m_port_type = static_cast<int16_t>(oterm->get_usage());
    info.m_literal_index = oterm->get_port_index();
    return info;
}

// Deleted wins: a deleted atom stays out of the analysis until the sets are
// emptied at the end of the next estimation.
void MORV_TIMING_ITE::mark_node_for_analysis(CDB_ATOM_NODE* node, bool deleted)
{
    MORV_ASSERT_TEXT(node != nullptr, "node != NULL");
    const int id = static_cast<int>(node->get_id());
    // Its nodes and edges stand as before the first edit of the atom.
    if (!m_deleted_atoms.contains(id) && !m_atoms_marked_for_analysis.contains(id) && !m_driver_atoms.contains(id))
        note_deletion_candidates(node);
    if (deleted) {
        m_deleted_atoms.insert(id);
        const bool was_marked = m_atoms_marked_for_analysis.erase(id);
        if (m_debug)
            MORV_DEBUG_STREAM::print(2,
                                     was_marked ? "iTEst: marking node %d (%p) as deleted and removing node previously "
                                                  "marked for analysis"
                                                : "iTEst: marking node %d (%p) as deleted",
                                     id, static_cast<void*>(node));
        return;
    }
    if (m_deleted_atoms.contains(id)) {
        if (m_debug)
            MORV_DEBUG_STREAM::print(2, "iTEst: not marking node %d (%p) for analysis because it has been deleted", id,
                                     static_cast<void*>(node));
        return;
    }
    m_atoms_marked_for_analysis.insert(id);
    if (m_debug) MORV_DEBUG_STREAM::print(2, "iTEst: marking node %d (%p) for analysis", id, static_cast<void*>(node));
}

void MORV_TIMING_ITE::mark_driver_for_analysis(CDB_ATOM_NODE* node)
{
    MORV_ASSERT_TEXT(node != nullptr, "node != NULL");
    const int id = static_cast<int>(node->get_id());
    if (m_deleted_atoms.contains(id) || m_atoms_marked_for_analysis.contains(id)) return;
    // Its edges stand as before the first edit, as a marked atom's.
    if (!m_driver_atoms.insert(id)) return;
    note_deletion_candidates(node);
    if (m_debug)
        MORV_DEBUG_STREAM::print(2, "iTEst: marking node %d (%p) as the driver of a removed connection", id,
                                 static_cast<void*>(node));
}

// The atom's timing nodes and edges as they stand before the edit, when the
// netlist is still the one the records describe.
void MORV_TIMING_ITE::note_deletion_candidates(const CDB_ATOM_NODE* atom)
{
    const TDB_NETLIST* netlist = tdc_get_accessories()->get_tdb_netlist();
    if (netlist == nullptr || m_records_netlist == nullptr || is_timing_netlist_replaced(netlist)) return;
    for (int node_id : netlist->get_atom_nodes(static_cast<int>(atom->get_id()))) {
        const TDB_NODE* tnode = netlist->find_node(node_id);
        if (tnode == nullptr) continue;
        m_deletion_candidate_nodes.push_back(node_id);
        for (TDB_EDGE_RANGE range : {tnode->fanout(), tnode->fanin(), tnode->clkin()})
            for (const TDB_EDGE* edge : range)
                m_deletion_candidate_edges.push_back(
                    {edge->get_id(), edge->get_src_node()->get_id(), edge->get_dst_node()->get_id()});
    }
}

void MORV_TIMING_ITE::track_oterm_copy(CDB_ATOM_OTERM* src_oterm, CDB_ATOM_OTERM* new_oterm)
{
    MORV_ASSERT_TEXT(src_oterm != nullptr, "src_oterm != NULL");
    MORV_ASSERT_TEXT(new_oterm != nullptr, "new_oterm != NULL");
    MORV_TIMING_ITE_OTERM_COPY_INFO copy;
    copy.m_src_info = oterm_info_of(src_oterm);
    copy.m_new_info = oterm_info_of(new_oterm);
    if (m_debug) {
        const MORV_TIMING_ITE_OTERM_INFO& s = copy.m_src_info;
        const MORV_TIMING_ITE_OTERM_INFO& n = copy.m_new_info;
        MORV_DEBUG_STREAM::print(2,
                                 "iTEst: tracking oterm timing assignment copy %s [atom id: %d, port type: %s (%d), "
                                 "literal index: %d] -> %s "
                                 "[atom id: %d, port type: %s (%d), literal index: %d]",
                                 instance_name(src_oterm->get_my_node()), s.m_atom_id,
                                 cdb_output_port_name(s.m_port_type), s.m_port_type, s.m_literal_index,
                                 instance_name(new_oterm->get_my_node()), n.m_atom_id,
                                 cdb_output_port_name(n.m_port_type), n.m_port_type, n.m_literal_index);
    }
    m_oterm_copies.push_back(copy);
}

void MORV_TIMING_ITE::update_domain_information_from_copied_oterms()
{
    GEN_PROFILER profile("fsyn_ite_update_domain_information_from_copied_oterms");
    if (m_debug) MORV_DEBUG_STREAM::print(2, "iTEst: update_domain_information_from_copied_oterms");
    for (const MORV_TIMING_ITE_OTERM_COPY_INFO& copy : m_oterm_copies) {
        auto root_it = m_oterm_copy_roots.find(copy.m_src_info);
        const MORV_TIMING_ITE_OTERM_INFO root = root_it != m_oterm_copy_roots.end() ? root_it->second : copy.m_src_info;
        m_oterm_copy_roots[copy.m_new_info] = root;
        const MORV_TIMING_ITE_OTERM_INFO& n = copy.m_new_info;
        if (m_debug)
            MORV_DEBUG_STREAM::print(2,
                                     "iTEst:    copied oterm [atom id: %d, port type: %s (%d), literal index: %d] -> "
                                     "src oterm [atom id: %d, port type: %s (%d), literal index: %d]",
                                     n.m_atom_id, cdb_output_port_name(n.m_port_type), n.m_port_type, n.m_literal_index,
                                     root.m_atom_id, cdb_output_port_name(root.m_port_type), root.m_port_type,
                                     root.m_literal_index);
        const CDB_ATOM_NODE* atom = m_fsyn_api->get_node(n.m_atom_id);
        CDB_ATOM_OTERM* new_oterm = atom != nullptr ? find_oterm(atom, n) : nullptr;
        if (new_oterm == nullptr) {
            if (m_debug) MORV_DEBUG_STREAM::print(2, "iTEst:       atom/oterm has been deleted");
            continue;
        }
        TDB_NODE* new_oterm_node = m_tdb_netlist->get_tdb_node_from_oterm(new_oterm);
        MORV_ASSERT_TEXT(new_oterm_node != nullptr, "new_oterm_node != NULL");
        const TDB_NODE* keeper_node = get_keeper_of_node(new_oterm_node);
        MORV_ASSERT_TEXT(keeper_node != nullptr, "keeper_node != NULL");
        carry_copy_into_domains(root, n, keeper_node->get_id());
    }
    m_oterm_copies = std::vector<MORV_TIMING_ITE_OTERM_COPY_INFO>();
}

void MORV_TIMING_ITE::carry_copy_into_domains(const MORV_TIMING_ITE_OTERM_INFO& root,
                                              const MORV_TIMING_ITE_OTERM_INFO& new_info, int keeper)
{
    for (MORV_TIMING_ITE_DOMAIN_INFO& domain : m_domain_info) {
        auto it = domain.m_oterm_keeper_ids.find(&root);
        if (it == domain.m_oterm_keeper_ids.end()) continue;
        const int src_keeper = it->second;
        const int type = domain.keeper_type(src_keeper);
        auto* info = new (m_oterm_info_mem_pool->allocate(sizeof(MORV_TIMING_ITE_OTERM_INFO)))
            MORV_TIMING_ITE_OTERM_INFO(new_info);
        domain.m_oterm_keeper_ids[info] = keeper;
        domain.m_keeper_types[keeper] = type;
        if (!m_debug) continue;
        MORV_DEBUG_STREAM::print(2, "iTEst:    adding keeper %d to domain %d as %s (src keeper is %d)", keeper,
                                 domain.m_id, morv_ite_keeper_type_name(type), src_keeper);
        MORV_DEBUG_STREAM::print(2,
                                 "iTEst:       corresponding atom id %d, oterm [port type: %s (%d), literal index: %d]",
                                 new_info.m_atom_id, cdb_output_port_name(new_info.m_port_type), new_info.m_port_type,
                                 new_info.m_literal_index);
    }
}
