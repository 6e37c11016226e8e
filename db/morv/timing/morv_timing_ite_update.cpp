// Bringing iTEst's domain records up to date with an edited timing netlist.
// The host keeps the ids of nodes and edges that still stand for the same
// terms and numbers new ones above every earlier id, so every id below the
// old bounds is old and every id at or above them is new. Removed ids leave
// the domains, new keepers inherit the roles of their terms, new edges get
// their domains, and around the marked nodes the domains of a node's
// incoming and outgoing edges are made the same set.

#include <algorithm>
#include <deque>
#include <limits>

#include "cdb/cdb_atom_netlist.h"
#include "gen/gen.h"
#include "hdb/hdb_instance_name.h"
#include "tdb/tdb_netlist.h"

#include "morv/core/morv_api.h"
#include "morv/core/morv_assert.h"
#include "morv/core/morv_debug_stream.h"
#include "morv/timing/morv_timing_ite.h"

void MORV_TIMING_ITE::report_latch(const TDB_NODE* node)
{
    if (m_debug)
        MORV_DEBUG_STREAM::print(1, "iTEst: TDB node %d is a latch! aborting timing estimation", node->get_id());
    m_latch_analysis_needed = true;
}

void MORV_TIMING_ITE::build_list_of_tdb_nodes_for_analysis()
{
    GEN_PROFILER profile("fsyn_ite_build_list_of_tdb_nodes_for_analysis");
    MORV_ASSERT_TEXT(m_nodes_for_analysis.empty(), "m_nodes_for_analysis.size() == 0");
    if (m_debug) MORV_DEBUG_STREAM::print(2, "iTEst: mapping CDB atoms for analysis to TDB nodes for analysis");
    for (int atom_id : m_atoms_marked_for_analysis) {
        // An atom deleted without its mark has no terms left to time.
        const CDB_ATOM_NODE* atom = m_fsyn_api->get_node(atom_id);
        if (atom == nullptr) continue;
        if (m_debug) {
            const HDB_INSTANCE_NAME* name = atom->get_instance_name();
            MORV_DEBUG_STREAM::print(2, "iTEst:    for CDB atom %d (%s)", atom_id,
                                     name != nullptr ? name->get_short_hpath().c_str() : "<unnamed>");
        }
        for (auto it = atom->begin_oterm(); it != atom->end_oterm(); ++it) {
            const CDB_ATOM_OTERM* oterm = *it;
            if (m_debug)
                MORV_DEBUG_STREAM::print(2, "iTEst:       oterm [port: %s (%d), literal index: %d]",
                                         cdb_output_port_name(oterm->get_usage()), oterm->get_usage(),
                                         oterm->get_port_index());
            TDB_NODE* node = m_tdb_netlist->get_tdb_node_from_oterm(oterm);
            if (node == nullptr) continue;
            if (node->is_latch()) {
                report_latch(node);
                return;
            }
            if (!node->is_keeper() && node->fanin_edges_size() == 1 && node->fanin()[0]->get_src_node()->is_keeper())
                node = node->fanin()[0]->get_src_node();
            if (m_debug) MORV_DEBUG_STREAM::print(2, "iTEst:          TDB node %d", node->get_id());
            m_nodes_for_analysis.push_back(node->get_id());
        }
    }
}

void MORV_TIMING_ITE::get_edge_domains(int edge_id, MORV_BIT_VECTOR& domains) const
{
    const int entry = get_edge_domain(edge_id);
    if (entry == EDGE_DOMAIN_NONE || entry == EDGE_DOMAIN_UNKNOWN) return;
    if (entry != EDGE_DOMAIN_SHARED) {
        domains.set(static_cast<uint64_t>(entry));
        return;
    }
    const MORV_BIT_VECTOR* shared = get_shared_edge_domains(edge_id);
    MORV_ASSERT_TEXT(shared != nullptr, "m_shared_edge_hash.exists( edge_id )");
    MORV_ASSERT_TEXT(shared->size() == domains.size(), "m_num_bits == other_bit_vec.m_num_bits");
    domains |= *shared;
}

int& MORV_TIMING_ITE::edge_domain_entry(int edge_id)
{
    const int64_t index = static_cast<int64_t>(edge_id) - m_edge_id_base;
    if (index < 0 || index >= static_cast<int64_t>(m_edge_domain_vec.size()))
        MSG_INTERNAL_ERROR::report("invalid vector<T> subscript", "MORV", __FILE__, __LINE__);
    return m_edge_domain_vec[static_cast<size_t>(index)];
}

// The line is fitted from the full analysis's values before the domain
// loses or gains an edge.
void MORV_TIMING_ITE::remove_edge_from_domain(int domain_id, int edge_id, int src_id, int dst_id)
{
    MORV_TIMING_ITE_DOMAIN_INFO* domain = get_domain(domain_id);
    if (!domain->m_ready_for_estimation) compute_sr_lr_approximation_for_domain(domain);
    auto it = domain->m_edge_slack_ratios.find(edge_id);
    const int slack = it != domain->m_edge_slack_ratios.end() ? it->second->m_slack : ITE_NO_SLACK;
    if (slack != ITE_NO_SLACK) {
        if (src_id < 0 || dst_id < 0) {
            if (slack <= domain->m_wc_slack) m_worst_path_lost = true;
        } else {
            widen_region_at(*domain, src_id, slack, true);
            widen_region_at(*domain, dst_id, slack, false);
        }
    }
    domain->m_edge_slack_ratios.erase(edge_id);
    drop_edge_note(domain_id, edge_id);
    domain->m_lost_edges = true;
    if (edge_id == domain->m_wc_slack_edge) domain->m_wc_slack_known = false;
    if (edge_id == domain->m_raw_sr_low_edge || edge_id == domain->m_raw_sr_high_edge)
        domain->m_raw_sr_extremes_known = false;
    // A shared edge still in other domains takes their least values now.
    m_touched_edges.push_back(edge_id);
}

// The edge's slack was the least at this end: the slacks upstream of its
// source (downstream of its sink) came from paths through it, and only
// re-timing from the node can raise them. Paths start at a keeper: nothing
// upstream of one as a source came from them.
void MORV_TIMING_ITE::widen_region_at(const MORV_TIMING_ITE_DOMAIN_INFO& domain, int node_id, int slack, bool src_side)
{
    const MORV_TIMING_ITE_NODE_SLACKS& least = src_side ? domain.m_src_node_min_slack : domain.m_dst_node_min_slack;
    const int32_t* known = least.find(node_id);
    if (known != nullptr && slack > *known) return;
    const TDB_NODE* node = m_tdb_netlist->find_node(node_id);
    // A marked atom's walks start at its nodes already.
    if (node == nullptr || (src_side && node->is_keeper()) || m_atoms_marked_for_analysis.contains(node->get_atom_id()))
        return;
    if (!m_widened_node_set.insert(node_id)) return;
    m_widened_nodes.push_back(node_id);
    if (m_debug)
        MORV_DEBUG_STREAM::print(2, "iTEst:    node %d is re-timed: an edge of its least slack left domain %d", node_id,
                                 domain.m_id);
}

void MORV_TIMING_ITE::add_new_edge_to_domain(int domain_id, int edge_id)
{
    MORV_TIMING_ITE_DOMAIN_INFO* domain = get_domain(domain_id);
    if (!domain->m_ready_for_estimation) compute_sr_lr_approximation_for_domain(domain);
    // Unconstrained until the estimation times it; no ratio joins the line.
    auto* record = new (m_edge_sr_mem_pool->allocate(sizeof(MORV_TIMING_ITE_EDGE_SLACK_RATIOS)))
        MORV_TIMING_ITE_EDGE_SLACK_RATIOS();
    record->m_slack = ITE_NO_SLACK;
    record->m_raw_slack_ratio = std::numeric_limits<float>::quiet_NaN();
    record->m_slack_ratio = 1.0f;
    record->m_tightened_slack_ratio = 1.0f;
    domain->m_edge_slack_ratios[edge_id] = record;
    drop_edge_note(domain_id, edge_id);
    m_touched_edges.push_back(edge_id);
}

void MORV_TIMING_ITE::update_new_nodes_and_edges()
{
    GEN_PROFILER profile("fsyn_ite_update_new_nodes_and_edges");
    const int old_nodes = m_num_node_ids, old_edges = m_num_edge_ids;
    m_num_node_ids = m_tdb_netlist->get_node_id_bound();
    m_num_edge_ids = m_tdb_netlist->get_edge_id_bound();
    m_deleted_node_flags.resize(static_cast<size_t>(m_num_node_ids - m_node_id_base), 0);
    m_edge_domain_vec.resize(static_cast<size_t>(m_num_edge_ids - m_edge_id_base), EDGE_DOMAIN_UNKNOWN);
    if (!m_edge_notes.empty()) m_edge_notes.resize(m_edge_domain_vec.size());
    if (m_debug) {
        MORV_DEBUG_STREAM::print(2, "iTEst: updating %d new nodes, id range [%d, %d]", m_num_node_ids - old_nodes,
                                 old_nodes, m_num_node_ids - 1);
        MORV_DEBUG_STREAM::print(2, "iTEst: updating %d new edges, id range [%d, %d]", m_num_edge_ids - old_edges,
                                 old_edges, m_num_edge_ids - 1);
    }
    // What the old id ranges lost: the live counts then, less what is live
    // in them now.
    int new_nodes = 0, new_edges = 0;
    for (int id = old_nodes; id < m_num_node_ids; ++id) new_nodes += m_tdb_netlist->find_node(id) != nullptr;
    for (int id = old_edges; id < m_num_edge_ids; ++id)
        new_edges += (*m_tdb_edges)[static_cast<size_t>(id - m_edge_id_base)] != nullptr;
    update_old_nodes_for_deletions(old_nodes, m_live_nodes - (m_tdb_netlist->get_num_nodes() - new_nodes));
    update_new_nodes_and_domains(old_nodes);
    if (m_latch_analysis_needed) return;
    // The new edges' domains come from the live edges around them, which
    // the deletions leave alone; found first, an edit that only a full
    // analysis can time is known before the deletions fit any line.
    determine_new_edge_domains(old_edges);
    if (m_latch_analysis_needed || m_domains_grow) return;
    update_old_edges_for_deletions(old_edges, m_live_edges - (m_tdb_netlist->get_num_edges() - new_edges));
    m_live_nodes = m_tdb_netlist->get_num_nodes();
    m_live_edges = m_tdb_netlist->get_num_edges();
    update_new_edges_and_domains(old_edges);
    check_domain_consistency_on_marked_nodes();
}

void MORV_TIMING_ITE::check_domain_consistency_on_marked_nodes()
{
    GEN_PROFILER profile("fsyn_ite_check_domain_consistency_on_marked_nodes");
    // Nodes the restriction widens the region at are checked in turn.
    size_t first = 0;
    while (first < m_nodes_for_analysis.size() || !m_widened_nodes.empty()) {
        const size_t end = m_nodes_for_analysis.size();
        check_domain_consistency_from(first);
        first = end;
        m_nodes_for_analysis.insert(m_nodes_for_analysis.end(), m_widened_nodes.begin(), m_widened_nodes.end());
        m_widened_nodes.clear();
    }
}

namespace {
void sort_unique(std::vector<int>& ids)
{
    std::sort(ids.begin(), ids.end());
    ids.erase(std::unique(ids.begin(), ids.end()), ids.end());
}
}  // namespace

// The marked atoms' nodes as they stood at the marks are where deletions
// happen; only when they do not account for every node the old range lost
// (deleted: that count) are all old ids scanned.
void MORV_TIMING_ITE::update_old_nodes_for_deletions(int old_nodes, int deleted)
{
    GEN_PROFILER profile("fsyn_ite_update_old_nodes_for_deletions");
    sort_unique(m_deletion_candidate_nodes);
    int found = 0;
    for (int id : m_deletion_candidate_nodes) {
        if (id < m_node_id_base || id >= old_nodes || m_tdb_netlist->find_node(id) != nullptr) continue;
        ++found;
        remove_deleted_node(id);
    }
    if (found == deleted) return;
    // Its own section: a profile that shows it names an edit whose
    // deletions the marks did not foresee.
    GEN_PROFILER full_scan("fsyn_ite_scan_all_old_nodes");
    for (int id = m_node_id_base; id < old_nodes; ++id)
        if (m_tdb_netlist->find_node(id) == nullptr) remove_deleted_node(id);
}

void MORV_TIMING_ITE::remove_deleted_node(int id)
{
    unsigned char& flag = m_deleted_node_flags[static_cast<size_t>(id - m_node_id_base)];
    if (flag) return;
    for (MORV_TIMING_ITE_DOMAIN_INFO& domain : m_domain_info) {
        domain.m_src_node_min_slack.erase(id);
        domain.m_dst_node_min_slack.erase(id);
    }
    flag = 1;
}

void MORV_TIMING_ITE::update_new_nodes_and_domains(int old_nodes)
{
    GEN_PROFILER profile("fsyn_ite_update_new_nodes_and_domains");
    for (int id = old_nodes; id < m_num_node_ids; ++id) {
        const TDB_NODE* node = m_tdb_netlist->find_node(id);
        if (node == nullptr || !node->is_keeper()) continue;
        if (m_debug)
            MORV_DEBUG_STREAM::print(
                2, "iTEst:    new node %d is a keeper; search for domains corresponding to the oterm", id);
        const CDB_ATOM_OTERM* oterm = get_keeper_oterm(node);
        MORV_ASSERT_TEXT(oterm != nullptr, "oterm != NULL");
        const MORV_TIMING_ITE_OTERM_INFO info = oterm_info_of(oterm);
        if (m_debug)
            MORV_DEBUG_STREAM::print(2, "iTEst:       atom id %d, oterm [port type: %s (%d), literal index: %d]",
                                     info.m_atom_id, cdb_output_port_name(info.m_port_type), info.m_port_type,
                                     info.m_literal_index);
        for (MORV_TIMING_ITE_DOMAIN_INFO& domain : m_domain_info) {
            auto it = domain.m_oterm_keeper_ids.find(&info);
            if (it == domain.m_oterm_keeper_ids.end() || domain.m_keeper_types.contains(id)) continue;
            const int type = domain.keeper_type(it->second);
            MORV_ASSERT_TEXT(type == DKT_SRC || type == DKT_DST || type == DKT_BOTH,
                             "domain_keeper_type == DKT_SRC || domain_keeper_type == DKT_DST || domain_keeper_type == "
                             "DKT_BOTH");
            domain.m_keeper_types[id] = type;
            if (m_debug)
                MORV_DEBUG_STREAM::print(2,
                                         "iTEst:       adding non-dup-oterm keeper %d to domain %d as %s (src keeper "
                                         "is %d)",
                                         id, domain.m_id, morv_ite_keeper_type_name(type), it->second);
        }
    }
}

void MORV_TIMING_ITE::update_old_edges_for_deletions(int old_edges, int deleted)
{
    GEN_PROFILER profile("fsyn_ite_update_old_edges_for_deletions");
    const std::vector<TDB_EDGE*>& table = *m_tdb_edges;
    // Most candidates outlive the edit (the fan-out of a marked atom's
    // nodes): only those gone are ordered and taken once.
    std::vector<DELETION_CANDIDATE_EDGE>& candidates = m_deletion_candidate_edges;
    candidates.erase(std::remove_if(candidates.begin(), candidates.end(),
                                    [&](const DELETION_CANDIDATE_EDGE& edge) {
                                        return edge.m_id < m_edge_id_base || edge.m_id >= old_edges ||
                                               table[static_cast<size_t>(edge.m_id - m_edge_id_base)] != nullptr;
                                    }),
                     candidates.end());
    std::sort(candidates.begin(), candidates.end(),
              [](const DELETION_CANDIDATE_EDGE& a, const DELETION_CANDIDATE_EDGE& b) { return a.m_id < b.m_id; });
    candidates.erase(std::unique(candidates.begin(), candidates.end(),
                                 [](const DELETION_CANDIDATE_EDGE& a, const DELETION_CANDIDATE_EDGE& b) {
                                     return a.m_id == b.m_id;
                                 }),
                     candidates.end());
    int found = 0;
    for (const DELETION_CANDIDATE_EDGE& edge : candidates) {
        ++found;
        remove_deleted_edge(edge);
    }
    if (found == deleted) return;
    GEN_PROFILER full_scan("fsyn_ite_scan_all_old_edges");
    for (int id = m_edge_id_base; id < old_edges; ++id)
        if (table[static_cast<size_t>(id - m_edge_id_base)] == nullptr) remove_deleted_edge({id, -1, -1});
}

// An edge gone from the netlist leaves its domains once; its entry says so.
void MORV_TIMING_ITE::remove_deleted_edge(const DELETION_CANDIDATE_EDGE& edge)
{
    const int id = edge.m_id;
    int& entry = m_edge_domain_vec[static_cast<size_t>(id - m_edge_id_base)];
    if (entry == EDGE_DOMAIN_NONE) return;
    if (entry == EDGE_DOMAIN_SHARED) {
        auto it = m_shared_edge_hash.find(id);
        MORV_ASSERT_TEXT(it != m_shared_edge_hash.end(), "m_shared_edge_hash.exists( edge_id )");
        for (int d = 0; d < m_num_domains; ++d)
            if (it->second.test(static_cast<uint64_t>(d))) remove_edge_from_domain(d, id, edge.m_src_id, edge.m_dst_id);
        if (m_debug)
            MORV_DEBUG_STREAM::print(2, "iTEst:    edge %d has been deleted from domains %s", id,
                                     it->second.to_string().c_str());
        m_shared_edge_hash.erase(it);
    } else {
        remove_edge_from_domain(entry, id, edge.m_src_id, edge.m_dst_id);
        if (m_debug) MORV_DEBUG_STREAM::print(2, "iTEst:    edge %d has been deleted from single domain %d", id, entry);
    }
    entry = EDGE_DOMAIN_NONE;
}

void MORV_TIMING_ITE::determine_new_edge_domains(int old_edges)
{
    GEN_PROFILER profile("fsyn_ite_determine_new_edge_domains");
    begin_cone_memo();
    for (int id = old_edges; id < m_num_edge_ids && !m_domains_grow; ++id) {
        TDB_EDGE* edge = (*m_tdb_edges)[static_cast<size_t>(id - m_edge_id_base)];
        if (edge == nullptr) {
            edge_domain_entry(id) = EDGE_DOMAIN_NONE;
            if (m_debug) MORV_DEBUG_STREAM::print(2, "iTEst:    new edge %d is in no domain", id);
            continue;
        }
        for (const TDB_NODE* end : {edge->get_src_node(), edge->get_dst_node()})
            if (end->is_latch()) {
                report_latch(end);
                return;
            }
        determine_edge_domains(edge);
        MORV_ASSERT_TEXT(edge_domain_entry(id) != EDGE_DOMAIN_UNKNOWN, "edge_domain != EDGE_DOMAIN_UNKNOWN");
    }
}

void MORV_TIMING_ITE::update_new_edges_and_domains(int old_edges)
{
    GEN_PROFILER profile("fsyn_ite_update_new_edges_and_domains");
    for (int id = old_edges; id < m_num_edge_ids; ++id) {
        if ((*m_tdb_edges)[static_cast<size_t>(id - m_edge_id_base)] == nullptr) continue;
        const int entry = edge_domain_entry(id);
        if (entry == EDGE_DOMAIN_NONE) continue;
        if (entry != EDGE_DOMAIN_SHARED) {
            add_new_edge_to_domain(entry, id);
            if (m_debug) MORV_DEBUG_STREAM::print(2, "iTEst:    new edge %d is in single domain %d", id, entry);
            continue;
        }
        const MORV_BIT_VECTOR* shared = get_shared_edge_domains(id);
        MORV_ASSERT_TEXT(shared != nullptr, "m_shared_edge_hash.exists( edge_id )");
        for (int d = 0; d < m_num_domains; ++d)
            if (shared->test(static_cast<uint64_t>(d))) add_new_edge_to_domain(d, id);
        if (m_debug)
            MORV_DEBUG_STREAM::print(2, "iTEst:    new edge %d is in domains %s", id, shared->to_string().c_str());
    }
}

// A non-keeper's incoming and outgoing edges must lie in the same domains;
// where they differ both sides keep only the common domains, and the nodes
// beyond a changed edge are examined in turn.
void MORV_TIMING_ITE::check_domain_consistency_from(size_t first)
{
    std::deque<const TDB_NODE*> nodes_to_check;
    MORV_BIT_VECTOR in, out, common;
    const size_t end = m_nodes_for_analysis.size();
    for (size_t i = first; i < end; ++i) {
        const TDB_NODE* start = m_tdb_netlist->find_node(m_nodes_for_analysis[i]);
        MORV_ASSERT_TEXT(start != nullptr, "node != NULL");
        MORV_ASSERT_TEXT(nodes_to_check.empty(), "nodes_to_check.empty()");
        if (!start->is_keeper()) {
            nodes_to_check.push_back(start);
        } else {
            // The mapping stood a keeper in for the node of its term that it
            // alone feeds; that node's domains are checked as a marked one's.
            for (const TDB_EDGE* edge : start->fanout()) {
                const TDB_NODE* term_node = edge->get_dst_node();
                if (!term_node->is_keeper() && term_node->fanin_edges_size() == 1) nodes_to_check.push_back(term_node);
            }
        }
        while (!nodes_to_check.empty()) {
            const TDB_NODE* node = nodes_to_check.front();
            nodes_to_check.pop_front();
            MORV_ASSERT_TEXT(!node->is_keeper(), "!node->is_keeper()");
            in.init(static_cast<uint64_t>(m_num_domains));
            out.init(static_cast<uint64_t>(m_num_domains));
            for (const TDB_EDGE* edge : node->fanin()) get_edge_domains(edge->get_id(), in);
            for (const TDB_EDGE* edge : node->fanout()) get_edge_domains(edge->get_id(), out);
            if (in == out) continue;
            common = in;
            common &= out;
            if (in != common) restrict_edges(node->fanin(), true, common, nodes_to_check);
            if (out != common) restrict_edges(node->fanout(), false, common, nodes_to_check);
        }
    }
}

void MORV_TIMING_ITE::restrict_edges(TDB_EDGE_RANGE edges, bool fanin, const MORV_BIT_VECTOR& allowed,
                                     std::deque<const TDB_NODE*>& nodes_to_check)
{
    for (TDB_EDGE* edge : edges) {
        if (!restrict_edge(edge, allowed)) continue;
        const TDB_NODE* far_end = fanin ? edge->get_src_node() : edge->get_dst_node();
        if (!far_end->is_keeper()) nodes_to_check.push_back(far_end);
    }
}

// True when the edge left a domain. An edge left in no domain is annotated
// as unconstrained, as the analyser annotates an edge of no domain: no
// domain writes it again.
bool MORV_TIMING_ITE::restrict_edge(TDB_EDGE* edge, const MORV_BIT_VECTOR& allowed)
{
    const int id = edge->get_id();
    int& entry = edge_domain_entry(id);
    if (entry == EDGE_DOMAIN_NONE || entry == EDGE_DOMAIN_UNKNOWN) return false;
    if (entry != EDGE_DOMAIN_SHARED) {
        if (allowed.test(static_cast<uint64_t>(entry))) return false;
        remove_edge_from_domain(entry, id, edge->get_src_node()->get_id(), edge->get_dst_node()->get_id());
        entry = EDGE_DOMAIN_NONE;
        annotate_unconstrained(edge);
        m_edge_left_all_domains = true;
        return true;
    }
    auto it = m_shared_edge_hash.find(id);
    MORV_ASSERT_TEXT(it != m_shared_edge_hash.end(), "m_shared_edge_hash.exists( edge_id )");
    MORV_BIT_VECTOR& domains = it->second;
    bool changed = false;
    int left = 0, last = EDGE_DOMAIN_NONE;
    for (int d = 0; d < m_num_domains; ++d) {
        if (!domains.test(static_cast<uint64_t>(d))) continue;
        if (allowed.test(static_cast<uint64_t>(d))) {
            ++left;
            last = d;
            continue;
        }
        remove_edge_from_domain(d, id, edge->get_src_node()->get_id(), edge->get_dst_node()->get_id());
        changed = true;
    }
    if (!changed) return false;
    domains &= allowed;
    if (left > 1) return true;
    // One domain left: an ordinary single-domain edge; none: unconstrained.
    m_shared_edge_hash.erase(it);
    entry = last;
    if (left == 0) {
        annotate_unconstrained(edge);
        m_edge_left_all_domains = true;
    }
    return true;
}

void MORV_TIMING_ITE::annotate_unconstrained(TDB_EDGE* edge) const
{
    edge->set_slack(ITE_NO_SLACK);
    edge->set_slack_ratio(1.0f);
    if (m_debug)
        MORV_DEBUG_STREAM::print(2, "iTEst:    edge %d is in no domain any more: unconstrained", edge->get_id());
}
