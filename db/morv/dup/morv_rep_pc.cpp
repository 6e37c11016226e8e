// The post-clustering mode: before placement a critical LUT cell or register
// gets a local copy in each other cluster its fanouts live in, so that the
// placer never has to stretch its net across those clusters.

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <set>
#include <utility>
#include <vector>

#include "cdb/cdb_atom_netlist.h"

#include "morv/core/morv_api.h"
#include "morv/core/morv_assert.h"
#include "morv/core/morv_debug_stream.h"
#include "morv/core/morv_env.h"
#include "morv/core/morv_expert.h"
#include "morv/dup/morv_rep.h"
#include "morv/netlist/morv_atom_query.h"
#include "morv/netlist/morv_cluster_map.h"
#include "morv/netlist/morv_net_util.h"
#include "morv/timing/morv_timing.h"

namespace {

bool is_pc_node(const CDB_ATOM_NODE* node)
{
    return node != nullptr && (node->is_lcell_comb() || node->is_lcell_ff());
}

const char* node_kind(const CDB_ATOM_NODE* node)
{
    return node->is_lcell_comb() ? "COMB" : "FF";
}

}  // namespace

int MORV_REP::post_clustering_do_iter()
{
    MORV_ASSERT_TEXT(m_fsyn_api->get_fsyn_expert()->is_fsyn_running(POST_CLUSTERING_FSYN_FLOW),
                     "m_fsyn_api->get_fsyn_expert()->is_fsyn_running(POST_CLUSTERING_FSYN_FLOW)");
    pc_dump_cluster_map("before");
    m_pc_stats = MORV_REP_PC_STATS();
    m_num_ops = 0;

    std::vector<std::pair<double, CDB_ATOM_NODE*>> heap;
    for (CDB_ATOM_NODE* node : *m_atom_netlist)
        if (is_pc_node(node)) heap.emplace_back(pc_node_criticality(node), node);
    // Most critical first; equal criticalities take the higher atom id first.
    std::sort(heap.begin(), heap.end(), [](const auto& a, const auto& b) {
        if (a.first != b.first) return a.first > b.first;
        return a.second->get_id() > b.second->get_id();
    });
    MORV_DEBUG_STREAM::print(2, "PC: NODES IN QUEUE: %d", static_cast<int>(heap.size()));

    bool stop = m_pc_max_ops == 0;
    for (size_t i = 0; i < heap.size() && !stop; ++i) {
        const auto& [criticality, node] = heap[i];
        if (!(criticality > 1.0 - m_slack_ratio_threshold)) continue;
        MORV_DEBUG_STREAM::print(2, "PC: CONSIDERING NODE <%d> criticality <%f>", morv_atom_id(node), criticality);
        m_num_ops += pc_duplicate_node(node);
        if (m_pc_max_ops >= 1 && m_num_ops >= m_pc_max_ops) stop = true;
    }
    if (m_num_ops == m_pc_max_ops)
        MORV_DEBUG_STREAM::print(2, "Warning: PC_REP early exit. Hit max operations per iteration (%d)", m_pc_max_ops);
    pc_print_stats();
    pc_dump_cluster_map("after");
    return m_num_ops;
}

double MORV_REP::pc_node_criticality(CDB_ATOM_NODE* node)
{
    CDB_ATOM_OTERM* oterm = node->get_output_term_by_type(node->is_lcell_comb() ? DB_COMB_OUT : DB_REG_OUT);
    double criticality = 0.0;
    if (oterm == nullptr) return criticality;
    for (auto it = oterm->begin_iterm_fanout(); it != oterm->end_iterm_fanout(); ++it)
        criticality = std::max(criticality, 1.0 - m_fsyn_timing->get_slack_ratio(*it));
    return criticality;
}

void MORV_REP::pc_dump_cluster_map(const char* when) const
{
    const MORV_CLUSTER_MAP* cluster_map = m_fsyn_api->get_fsyn_cluster_map();
    if (cluster_map == nullptr) return;
    char path[128];
    std::snprintf(path, sizeof path, "fsyn_cluster_map_%d_%d_%s.txt", m_curr_pass, m_curr_iter, when);
    cluster_map->print(path);
}

void MORV_REP::pc_print_stats() const
{
    MORV_DEBUG_STREAM::print(2, "PC REP STATS");
    MORV_DEBUG_STREAM::print(2, "------------");
    MORV_DEBUG_STREAM::print(2, "   Attempted: %d", m_pc_stats.attempted);
    MORV_DEBUG_STREAM::print(2, "   Success: %d", m_pc_stats.success);
    MORV_DEBUG_STREAM::print(2, "   Failed (common inputs): %d", m_pc_stats.failed_common_inputs);
    MORV_DEBUG_STREAM::print(2, "   Failed (LAB full): %d", m_pc_stats.failed_lab_full);
    MORV_DEBUG_STREAM::print(2, "   Failed (strict check): %d", m_pc_stats.failed_strict_check);
    MORV_DEBUG_STREAM::print(2, "   Failed (not plain lcell): %d", m_pc_stats.failed_not_plain_lcell);
    MORV_DEBUG_STREAM::print(2, "------------");
}

int MORV_REP::pc_duplicate_node(CDB_ATOM_NODE* source)
{
    if (source->is_lcell_comb() &&
        (m_fsyn_net_util->is_in_arithmetic_mode(source) || m_fsyn_net_util->is_lcell_part_of_a_carry_chain(source))) {
        ++m_pc_stats.attempted;
        ++m_pc_stats.failed_not_plain_lcell;
        return 0;
    }
    const MORV_CLUSTER_MAP* cluster_map = m_fsyn_api->get_fsyn_cluster_map();
    const int src_cluster = cluster_map != nullptr ? cluster_map->get_cluster_id(source) : -1;
    MORV_ASSERT_TEXT(src_cluster >= 0, "src_cluster >= 0");
    std::vector<std::pair<CDB_ATOM_NODE*, int>> operations;
    for (auto ot = source->begin_oterm(); ot != source->end_oterm(); ++ot) {
        for (auto it = (*ot)->begin_iterm_fanout(); it != (*ot)->end_iterm_fanout(); ++it) {
            CDB_ATOM_NODE* fanout = (*it)->get_my_node();
            if (!is_pc_node(fanout)) continue;
            const int dst_cluster = cluster_map->get_cluster_id(fanout);
            MORV_ASSERT_TEXT(dst_cluster >= 0, "dst_cluster >= 0");
            if (dst_cluster != src_cluster) operations.emplace_back(fanout, dst_cluster);
        }
    }
    int done = 0;
    std::set<int> served;
    for (const auto& [dst_node, dst_cluster] : operations) {
        if (served.count(dst_cluster) != 0) {
            MORV_DEBUG_STREAM::print(2, "   NODE <%d> already duplicated in cluster <%d>", morv_atom_id(source),
                                     dst_cluster);
            continue;
        }
        if (!pc_try_operation(source, src_cluster, dst_node, dst_cluster)) continue;
        ++done;
        served.insert(dst_cluster);
    }
    return done;
}

bool MORV_REP::pc_try_operation(CDB_ATOM_NODE* source, int src_cluster, CDB_ATOM_NODE* dst_node, int dst_cluster)
{
    MORV_DEBUG_STREAM::print(2, "   CANDIDATE OPERATION: <%d> (%d) [ %s ] -> <%d> (%d) [ %s ]", morv_atom_id(source),
                             src_cluster, node_kind(source), morv_atom_id(dst_node), dst_cluster, node_kind(dst_node));
    ++m_pc_stats.attempted;
    if (!pc_has_common_inputs(source, dst_cluster)) {
        MORV_DEBUG_STREAM::print(2, "   FAILURE: common inputs!");
        ++m_pc_stats.failed_common_inputs;
        return false;
    }
    if (!pc_has_room(source, dst_cluster)) {
        MORV_DEBUG_STREAM::print(2, "   FAILURE: LAB full!");
        ++m_pc_stats.failed_lab_full;
        return false;
    }
    int ale = -1;
    if (m_pc_strict_checks && !pc_find_ale(source, dst_cluster, &ale)) {
        MORV_DEBUG_STREAM::print(2, "   FAILURE: Strict checks!");
        ++m_pc_stats.failed_strict_check;
        return false;
    }
    MORV_DEBUG_STREAM::print(2, "   SUCCESS!");
    ++m_pc_stats.success;
    return pc_perform_duplication(source, dst_cluster, ale);
}

// A copy that needs a signal the cluster does not have yet would cost the
// cluster an input it may not have. A signal made inside the cluster costs
// none: the cluster's sources leave it out, as it does not enter the LAB, but
// the copy reads it through the LAB's local lines.
bool MORV_REP::pc_has_common_inputs(CDB_ATOM_NODE* source, int dst_cluster)
{
    const MORV_CLUSTER_MAP* cluster_map = m_fsyn_api->get_fsyn_cluster_map();
    for (auto it = source->begin_iterm(); it != source->end_iterm(); ++it) {
        CDB_ATOM_OTERM* oterm = *it != nullptr ? (*it)->get_source() : nullptr;
        if (oterm == nullptr) continue;
        MORV_DEBUG_STREAM::print(2, "   SOURCE <%d , %d>", morv_atom_id(oterm->get_my_node()),
                                 oterm->get_any_usage_as());
        const bool common = cluster_map->is_cluster_source(oterm, dst_cluster) ||
                            cluster_map->get_cluster_id(oterm->get_my_node()) == dst_cluster;
        MORV_DEBUG_STREAM::print(2, common ? "      Common" : "      NOT Common");
        if (!common) return false;
    }
    return true;
}

bool MORV_REP::pc_has_room(CDB_ATOM_NODE* source, int dst_cluster) const
{
    const MORV_CLUSTER_MAP* cluster_map = m_fsyn_api->get_fsyn_cluster_map();
    int combs = 0, ffs = 0;
    for (int id : cluster_map->get_cluster_node_ids(dst_cluster)) {
        const CDB_ATOM_NODE* member = m_fsyn_api->get_node(id);
        if (member == nullptr) continue;
        if (member->is_lcell_comb()) ++combs;
        else if (member->is_lcell_ff()) ++ffs;
    }
    const int capacity = static_cast<int>(std::trunc(m_pc_lab_size * m_pc_max_lab_usage));
    return (source->is_lcell_comb() ? combs : ffs) < capacity;
}

// The destination LAB's ALEs, numbered locally in member order: the LUT
// and the register half of each. False when the members use more ALEs than
// a LAB has, which the two vectors cannot describe.
bool MORV_REP::pc_fill_lab_vectors(int dst_cluster, std::vector<int>* lab_combs, std::vector<int>* lab_ffs,
                                   std::vector<int>* ale_of_local)
{
    MORV_ASSERT_TEXT(lab_combs, "lab_combs");
    MORV_ASSERT_TEXT(lab_ffs, "lab_ffs");
    const size_t size = static_cast<size_t>(m_pc_lab_size);
    lab_combs->assign(size, -1);
    lab_ffs->assign(size, -1);
    ale_of_local->assign(size, -1);
    MORV_ASSERT_TEXT(lab_combs->size() == (unsigned)m_pc_lab_size, "lab_combs->size() == (unsigned)m_pc_lab_size");
    const MORV_CLUSTER_MAP* cluster_map = m_fsyn_api->get_fsyn_cluster_map();
    std::map<int, int> local_of_key;
    int next_local = 0;
    for (int id : cluster_map->get_cluster_node_ids(dst_cluster)) {
        const CDB_ATOM_NODE* local_node = m_fsyn_api->get_node(id);
        MORV_ASSERT_TEXT(local_node, "local_node");
        const int key = cluster_map->get_ale_id(id);
        int local_ale_id = next_local;
        if (key == -1) ++next_local;
        else if (auto found = local_of_key.find(key); found != local_of_key.end()) local_ale_id = found->second;
        else local_of_key[key] = next_local++;
        if (local_ale_id < 0 || local_ale_id >= m_pc_lab_size) return false;
        std::vector<int>* half = local_node->is_lcell_comb() ? lab_combs : lab_ffs;
        if (local_node->is_lcell_comb())
            MORV_ASSERT_TEXT((*lab_combs)[local_ale_id] == -1, "(*lab_combs)[local_ale_id] == -1");
        else MORV_ASSERT_TEXT((*lab_ffs)[local_ale_id] == -1, "(*lab_ffs)[local_ale_id] == -1");
        (*half)[static_cast<size_t>(local_ale_id)] = id;
        (*ale_of_local)[static_cast<size_t>(local_ale_id)] = key;
    }
    return true;
}

bool MORV_REP::pc_find_ale(CDB_ATOM_NODE* source, int dst_cluster, int* ale_ret)
{
    MORV_ASSERT_TEXT(ale_ret, "ale_id_ret");
    std::vector<int> lab_combs, lab_ffs, ale_of_local;
    if (!pc_fill_lab_vectors(dst_cluster, &lab_combs, &lab_ffs, &ale_of_local)) return false;
    const MORV_CLUSTER_MAP* cluster_map = m_fsyn_api->get_fsyn_cluster_map();
    const bool source_is_ff = source->is_lcell_ff();
    for (size_t i = 0; i < lab_combs.size(); ++i) {
        const int occupant = source_is_ff ? lab_combs[i] : lab_ffs[i];
        const int other = source_is_ff ? lab_ffs[i] : lab_combs[i];
        if (occupant == -1 || other != -1) continue;
        CDB_ATOM_NODE* packable_node = m_fsyn_api->get_node(occupant);
        MORV_ASSERT_TEXT(packable_node, "packable_node");
        CDB_ATOM_NODE* comb_node = source_is_ff ? packable_node : source;
        CDB_ATOM_NODE* ff_node = source_is_ff ? source : packable_node;
        if (!pc_is_packable_pair(comb_node, ff_node)) continue;
        *ale_ret = cluster_map->get_ale_id(occupant);
        MORV_DEBUG_STREAM::print(2, "   found packable pair: <%d> <-> <%d>", morv_atom_id(comb_node),
                                 morv_atom_id(ff_node));
        return true;
    }
    return false;
}

// A register's synchronous data shares the ALE's LUT input C.
bool MORV_REP::pc_is_packable_pair(CDB_ATOM_NODE* comb_node, CDB_ATOM_NODE* ff_node) const
{
    MORV_ASSERT_TEXT(comb_node && comb_node->is_lcell_comb(), "comb_node->is_lcell_comb()");
    MORV_ASSERT_TEXT(ff_node && ff_node->is_lcell_ff(), "ff_node->is_lcell_ff()");
    const CDB_ATOM_ITERM* sdata = ff_node->get_input_term_by_type(DB_SYNCH_DATA);
    if (sdata == nullptr || !sdata->is_connected()) return true;
    const CDB_ATOM_ITERM* data_c = comb_node->get_input_term_by_type(DB_DATA_C);
    if (data_c == nullptr || !data_c->is_connected()) return true;
    return data_c->get_source() == sdata->get_source() && data_c->is_gnd() == sdata->is_gnd() &&
           data_c->is_vcc() == sdata->is_vcc();
}

bool MORV_REP::pc_perform_duplication(CDB_ATOM_NODE* source, int dst_cluster, int ale)
{
    MORV_DEBUG_STREAM::print(2, "   DUPLICATING NODE <%d> to cluster <%d> ale <%d>", morv_atom_id(source), dst_cluster,
                             ale);
    MORV_ASSERT_TEXT(source->is_lcell_comb() || source->is_lcell_ff(),
                     "src_node->is_lcell_comb() || src_node->is_lcell_ff()");
    const int port = source->is_lcell_comb() ? DB_COMB_OUT : DB_REG_OUT;
    CDB_ATOM_OTERM* src_oterm = source->get_output_term_by_type(port);
    MORV_ASSERT_TEXT(src_oterm, "src_oterm");
    CDB_ATOM_NODE* new_node = m_fsyn_api->duplicate_oterm(source, port, true);
    if (new_node == nullptr) return false;
    MORV_DEBUG_STREAM::print(2, "   CREATED NEW NODE <%d>", morv_atom_id(new_node));
    m_fsyn_api->node_added(new_node, source, MORV_MODIFICATION_DUPLICATE, port, true, nullptr);
    CDB_ATOM_OTERM* new_oterm = new_node->get_output_term_by_type(port);
    MORV_ASSERT_TEXT(new_oterm, "new_oterm");

    MORV_CLUSTER_MAP* cluster_map = m_fsyn_api->get_fsyn_cluster_map();
    MORV_ASSERT_TEXT(cluster_map, "cluster_map");
    std::vector<CDB_ATOM_ITERM*> moved;
    for (auto it = src_oterm->begin_iterm_fanout(); it != src_oterm->end_iterm_fanout(); ++it)
        if ((*it)->get_my_node() != nullptr && cluster_map->get_cluster_id((*it)->get_my_node()) == dst_cluster)
            moved.push_back(*it);
    for (CDB_ATOM_ITERM* iterm : moved) {
        MORV_ASSERT_TEXT(iterm->get_source() == src_oterm, "iterm->get_source() == src_oterm");
        move_iterm(iterm, new_oterm);
        MORV_DEBUG_STREAM::print(2, "      CONNECTING node <%d> to node <%d> in cluster <%d>", morv_atom_id(new_node),
                                 morv_atom_id(iterm->get_my_node()), dst_cluster);
    }
    m_fsyn_api->add_node_to_cluster(new_node, dst_cluster, ale);
    const int companion = cluster_map->get_companion_node(morv_atom_id(new_node), false);
    if (companion >= 0) {
        CDB_ATOM_NODE* companion_node = m_fsyn_api->get_node(companion);
        MORV_ASSERT_TEXT(companion_node, "companion_node");
        cluster_map->set_register_packing(new_node, companion_node);
    }
    return true;
}
