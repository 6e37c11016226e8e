// Support of the iTEst engine: the cleanup that ends every estimation, the
// lookups between timing-netlist keepers and atom output terms, and the
// developer dumps of the domain records and of the timing netlist.

#include <cmath>
#include <cstdio>
#include <string>

#include "cdb/cdb_atom_netlist.h"
#include "fio/fio.h"
#include "msg/msg.h"
#include "tdb/tdb_netlist.h"
#include "tdc/tdc_accessories.h"

#include "morv/core/morv_api.h"
#include "morv/core/morv_assert.h"
#include "morv/core/morv_debug_stream.h"
#include "morv/timing/morv_timing_ite.h"

void MORV_TIMING_ITE::fsyn_ite_post_timing_estimation_cleanup()
{
    m_domain_bit_vec_pool.reset();
    end_walks();
    morv_ite_clear_keeping_room(m_node_clock_delay_hash[TDB_MAX]);
    morv_ite_clear_keeping_room(m_node_clock_delay_hash[TDB_MIN]);
    m_touched_edges.clear();
    m_has_edge_timing_data_array = false;
    if (m_debug) MORV_DEBUG_STREAM::print(2, "iTEst: Clearing domains analysis information.");
    for (MORV_TIMING_ITE_DOMAIN_INFO& domain : m_domain_info) clear_domain_analysis(domain);
    // The next regions start empty.
    if (++m_region_serial == 0) {
        for (EDGE_NOTE& note : m_edge_notes) note.m_region_serial = 0;
        m_region_serial = 1;
    }
    if (m_debug) MORV_DEBUG_STREAM::print(2, "iTEst: Clearing list of atoms marked for analysis.");
    m_atoms_marked_for_analysis.clear();
    m_deleted_atoms.clear();
    m_driver_atoms.clear();
    m_deletion_candidate_nodes.clear();
    m_deletion_candidate_edges.clear();
    m_widened_nodes.clear();
    m_widened_node_set.clear();
    m_nodes_for_analysis = std::vector<int>();
}

void MORV_TIMING_ITE::clear_domain_analysis(MORV_TIMING_ITE_DOMAIN_INFO& domain) const
{
    if (domain.m_do_analysis) {
        // Regions of a domain are alike in size from one edit to the next:
        // the room stays, so that the next one does not grow from scratch.
        morv_ite_clear_keeping_room(domain.m_analysis_src_keepers);
        morv_ite_clear_keeping_room(domain.m_analysis_edges);
        morv_ite_clear_keeping_room(domain.m_analysis_start_nodes);
    } else {
        MORV_ASSERT_TEXT(domain.m_analysis_src_keepers.size() == 0, "domain_info->m_analysis_src_keepers.size() == 0");
        MORV_ASSERT_TEXT(domain.m_analysis_edges.size() == 0, "domain_info->m_analysis_edges.size() == 0");
        MORV_ASSERT_TEXT(domain.m_analysis_start_nodes.size() == 0, "domain_info->m_analysis_start_nodes.size() == 0");
    }
    domain.m_do_analysis = false;
    domain.m_region_records.clear();
    domain.m_region_records_built = false;
    domain.m_edge_order.clear();
    domain.m_edge_order_records.clear();
    domain.m_edge_order_built = false;
}

// Back through single fan-ins to the keeper the node belongs to.
TDB_NODE* MORV_TIMING_ITE::get_keeper_of_node(TDB_NODE* node)
{
    TDB_NODE* keeper = node;
    while (!keeper->is_keeper()) {
        MORV_ASSERT_TEXT(keeper->fanin_edges_size() == 1, "keeper->fanin_edges_size() == 1");
        keeper = keeper->fanin()[0]->get_src_node();
    }
    MORV_ASSERT_TEXT(keeper->get_atom_id() == node->get_atom_id(), "keeper->get_atom_id() == node->get_atom_id()");
    return keeper;
}

// The keeper's own output term, else the first found forward through single
// fan-outs (an input pin's term sits on the node its internal edge reaches).
CDB_ATOM_OTERM* MORV_TIMING_ITE::get_keeper_oterm(const TDB_NODE* keeper)
{
    MORV_ASSERT_TEXT(keeper->is_keeper(), "keeper->is_keeper()");
    const TDB_NODE* oterm_node = keeper;
    CDB_ATOM_OTERM* oterm = oterm_node->get_oterm(false);
    while (oterm == nullptr) {
        MORV_ASSERT_TEXT(oterm_node->fanout_edges_size() == 1, "oterm != NULL");
        oterm_node = oterm_node->fanout()[0]->get_dst_node();
        oterm = oterm_node->get_oterm(false);
    }
    MORV_ASSERT_TEXT(oterm_node->get_atom_id() == keeper->get_atom_id(),
                     "oterm_node->get_atom_id() == keeper->get_atom_id()");
    return oterm;
}

namespace {
const char* keeper_type_name(const MORV_TIMING_ITE_INT_MAP& types, int node_id)
{
    auto it = types.find(node_id);
    return it == types.end() ? "UNKNOWN" : morv_ite_keeper_type_name(it->second);
}
}  // namespace

void MORV_TIMING_ITE::dump_domain_info() const
{
    if (!m_debug) return;
    for (const MORV_TIMING_ITE_DOMAIN_INFO& domain : m_domain_info) {
        MORV_DEBUG_STREAM::print(
            2,
            "iTEst: domain info (id = %d, domain group = %d, requirement = %d, type = %d, io = %d, inter-clock = %d)",
            domain.m_id, domain.m_group, domain.m_requirement, domain.m_type, domain.m_not_core_1 ? 1 : 0,
            domain.m_not_core_2 ? 1 : 0);
        MORV_DEBUG_STREAM::print(2, "   oterms:");
        for (const auto& entry : domain.m_oterm_keeper_ids)
            MORV_DEBUG_STREAM::print(2,
                                     "      atom node %d, oterm [port: %s (%d), literal index: %d] -> keeper %d -> "
                                     "domain keeper type %s",
                                     entry.first->m_atom_id, cdb_output_port_name(entry.first->m_port_type),
                                     entry.first->m_port_type, entry.first->m_literal_index, entry.second,
                                     keeper_type_name(domain.m_keeper_types, entry.second));
        MORV_DEBUG_STREAM::print(2, "   edges:");
        for (const auto& [edge_id, record] : domain.m_edge_slack_ratios) {
            const float ratio = record->m_raw_slack_ratio;
            MORV_DEBUG_STREAM::print(2, "      edge %d, slack = %d, slack ratio (relaxed) = %f [%s] %s", edge_id,
                                     record->m_slack, static_cast<double>(ratio),
                                     std::isnan(ratio) ? "invalid" : "valid",
                                     m_shared_edge_hash.contains(edge_id) ? "[shared]" : "");
        }
    }
}

void MORV_TIMING_ITE::dump_domain_analysis_info() const
{
    if (!m_debug) return;
    for (const MORV_TIMING_ITE_DOMAIN_INFO& d : m_domain_info) {
        MORV_DEBUG_STREAM::print(2,
                                 "iTEst: domain for analysis (id = %d, domain group = %d, analyze = %d, requirement = "
                                 "%d ps, type = %d, io = %d, inter-clock=%d, # source keepers = %d, edges = %d)",
                                 d.m_id, d.m_group, d.m_do_analysis ? 1 : 0, d.m_requirement, d.m_type,
                                 d.m_not_core_1 ? 1 : 0, d.m_not_core_2 ? 1 : 0,
                                 static_cast<int>(d.m_analysis_src_keepers.size()),
                                 static_cast<int>(d.m_analysis_edges.size()));
        if (d.m_do_analysis) {
            // Timing nodes have no names of their own: the id stands for both.
            MORV_DEBUG_STREAM::print(2, "        start nodes:");
            for (int id : d.m_analysis_start_nodes)
                MORV_DEBUG_STREAM::print(2, "           %d (%d) (start node)", id, id);
            MORV_DEBUG_STREAM::print(2, "        source keepers:");
            for (int id : d.m_analysis_src_keepers)
                MORV_DEBUG_STREAM::print(2, "           %d (%d) (src keeper)", id, id);
            MORV_DEBUG_STREAM::print(2, "        edges:");
            for (int id : d.m_analysis_edges) MORV_DEBUG_STREAM::print(2, "           %d (edge analyze)", id);
        }
        MORV_DEBUG_STREAM::print(2, "        slack ratio linear regression parameters: m = %f, b = %f",
                                 static_cast<double>(d.m_sr_lr_slope), static_cast<double>(d.m_sr_lr_intercept));
        MORV_DEBUG_STREAM::print(2,
                                 "        calculated slack ratio parameters: all edges modified = %d, min raw sr = %f, "
                                 "max raw sr = %f, min domain sr = %f",
                                 d.m_all_edges_modified ? 1 : 0, static_cast<double>(d.m_min_slack_ratio),
                                 static_cast<double>(d.m_max_slack_ratio),
                                 static_cast<double>(d.m_full_min_slack_ratio));
        MORV_DEBUG_STREAM::print(2, "        edge slack ratios:");
        for (const auto& entry : d.m_edge_slack_ratios) {
            const MORV_TIMING_ITE_EDGE_SLACK_RATIOS* r = entry.second;
            MORV_DEBUG_STREAM::print(
                2, "           edge %d: (slack, raw sr, raw sr adjust, domain sr, tightened sr) = (%d, %f, %f, %f, %f)",
                entry.first, r->m_slack, static_cast<double>(r->m_raw_slack_ratio),
                static_cast<double>(r->m_raw_sr_adjustment), static_cast<double>(r->m_slack_ratio),
                static_cast<double>(r->m_tightened_slack_ratio));
        }
    }
}

// Files "<n>_before_<desc>_tdb_netlist" and "<n>_after_<desc>_tdb_netlist";
// an after-dump carries the number of the before-dump preceding it.
void MORV_TIMING_ITE::dump_tdb_netlist(const char* desc, bool before, bool after)
{
    if (!m_debug_dump_tdb_netlists) return;
    MORV_ASSERT_TEXT(desc != nullptr, "desc != NULL");
    MORV_ASSERT_TEXT(before != after, "before ^ after");
    if (before) ++s_tdb_netlist_dump_count;
    if (!m_dump_tdb_netlists) return;
    char file_name[512];
    std::snprintf(file_name, sizeof(file_name), "%d_%s_%s_tdb_netlist", s_tdb_netlist_dump_count,
                  before ? "before" : "after", desc);
    MORV_DEBUG_STREAM::print(2, "iTEst: dumping current TDB netlist to %s", file_name);
    MORV_ASSERT_TEXT(m_fsyn_api->get_fsyn_timing() != nullptr, "m_fsyn_api->get_fsyn_timing()");
    TDB_NETLIST* netlist = tdc_get_accessories()->get_tdb_netlist();
    MORV_ASSERT_TEXT(netlist != nullptr, "tdb_netlist");
    // A debug file that cannot be written must not pass unnoticed.
    if (!netlist->dump_to_file(FIO_PATH(file_name), false))
        MORV_DEBUG_STREAM::print(0, "Warning: could not write the TDB netlist dump %s", file_name);
}
