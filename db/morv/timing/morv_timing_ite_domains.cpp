// iTEst's domain records from the host's per-sub-domain results: the edges
// with their slacks and ratios, the keepers that launch and capture the
// domain's paths, the least slack per node, the groups with their core
// clock domains, and the map from edge to domain(s).

#include <algorithm>
#include <cstdint>
#include <limits>
#include <new>

#include "cdb/cdb_atom_netlist.h"
#include "gen/gen.h"
#include "msg/msg.h"
#include "tdb/tdb_netlist.h"
#include "tdc/tdc_analysis.h"

#include "morv/core/morv_assert.h"
#include "morv/core/morv_debug_stream.h"
#include "morv/timing/morv_timing_internal.h"
#include "morv/timing/morv_timing_ite.h"

namespace {
constexpr size_t k_POOL_BLOCK_BYTES = 4096;
// Scratch flags of a node besides its keeper-type bits.
constexpr unsigned char k_SRC_SEEN = 4;
constexpr unsigned char k_DST_SEEN = 8;
}  // namespace

void MORV_TIMING_ITE::build_domains(const std::vector<TDC_SUB_DOMAIN_DATA>* sub_domain_data)
{
    GEN_PROFILER profile("fsyn_ite_build_domains");
    m_num_domains = sub_domain_data != nullptr ? static_cast<int>(sub_domain_data->size()) : 0;
    m_domain_info.clear();
    m_domain_info.resize(static_cast<size_t>(m_num_domains));
    MORV_ASSERT_TEXT(m_oterm_info_mem_pool == nullptr, "m_oterm_info_mem_pool == NULL");
    MORV_ASSERT_TEXT(m_edge_sr_mem_pool == nullptr, "m_edge_sr_mem_pool == NULL");
    m_oterm_info_mem_pool = MORV_MAKE_OWNER(MORV_SIMPLE_MEM_POOL, k_POOL_BLOCK_BYTES);
    m_edge_sr_mem_pool = MORV_MAKE_OWNER(MORV_SIMPLE_MEM_POOL, k_POOL_BLOCK_BYTES);
    // The edge-domain map and the per-edge notes fill as the edges come,
    // not in passes over every domain's records afterwards.
    MORV_ASSERT_TEXT(m_edge_domain_vec.size() == 0, "m_edge_domain_vec.size() == 0");
    MORV_ASSERT_TEXT(m_shared_edge_hash.size() == 0, "m_shared_edge_hash.size() == 0");
    const size_t num_edges = static_cast<size_t>(std::max(0, m_num_edge_ids - m_edge_id_base));
    m_edge_domain_vec.assign(num_edges, EDGE_DOMAIN_NONE);
    m_edge_notes.assign(num_edges, EDGE_NOTE());
    m_region_serial = 1;
    NODE_SCRATCH scratch;
    const size_t num_nodes = static_cast<size_t>(std::max(0, m_num_node_ids - m_node_id_base));
    scratch.m_notes.assign(num_nodes, NODE_NOTE{0, 0, 0});
    scratch.m_keeper_infos.assign(num_nodes, nullptr);
    int group = -1;
    int previous_key = 0;
    for (int i = 0; i < m_num_domains; ++i)
        build_domain(i, (*sub_domain_data)[static_cast<size_t>(i)], group, previous_key, scratch);
    m_num_domain_groups = group + 1;
    build_domain_group_clock_domains();
    if (m_debug) trace_group_clock_domains();
}

void MORV_TIMING_ITE::build_domain(int index, const TDC_SUB_DOMAIN_DATA& data, int& group, int& previous_key,
                                   NODE_SCRATCH& scratch)
{
    MORV_TIMING_ITE_DOMAIN_INFO& domain = m_domain_info[static_cast<size_t>(index)];
    domain.m_id = index;
    domain.m_type = data.m_type;
    domain.m_not_core_1 = data.m_not_core_1;
    domain.m_not_core_2 = data.m_not_core_2;
    domain.m_requirement = data.m_requirement;
    domain.m_wc_slack = ITE_NO_SLACK;
    domain.m_min_slack_ratio = 1.0f;
    domain.m_max_slack_ratio = 0.0f;
    domain.m_full_min_slack_ratio = domain.m_sr_lr_slope = domain.m_sr_lr_intercept = MORV_ITE_NAN;
    domain.m_ready_for_estimation = false;
    // The build scans every record, as the first estimation would to find
    // the worst slack and the extreme raw ratios with their edges.
    domain.m_wc_slack_known = domain.m_raw_sr_extremes_known = true;
    domain.m_wc_slack_edge = domain.m_raw_sr_low_edge = domain.m_raw_sr_high_edge = -1;
    domain.m_raw_sr_low = std::numeric_limits<float>::infinity();
    domain.m_raw_sr_high = -std::numeric_limits<float>::infinity();
    const uint64_t n = data.m_edges.size();
    domain.m_edge_slack_ratios.reserve(n);
    domain.m_oterm_keeper_ids.reserve(n / 50);
    domain.m_keeper_types.reserve(n / 50);
    // Adjacent entries with equal keys share a group.
    if (index == 0 || data.m_group_key != previous_key) ++group;
    previous_key = data.m_group_key;
    domain.m_group = group;
    for (const TDC_SUB_DOMAIN_EDGE& edge : data.m_edges)
        add_domain_edge(domain, edge.m_edge_id, edge.m_slack, edge.m_slack_ratio, scratch);
    fold_node_scratch(domain, scratch);
    domain.m_full_min_slack_ratio = domain.m_min_slack_ratio;
    if (m_debug) {
        MORV_DEBUG_STREAM::print(2, "iTEst: domain %d oterm keeper id hash stats:", domain.m_id);
        domain.m_oterm_keeper_ids.print_statistics();
    }
    domain.m_do_analysis = true;
    MORV_ASSERT_TEXT(domain.m_id == data.m_sub_domain_id,
                     "domain_info->m_id == (int) sub_domain_data->m_sub_domain_id");
}

// What the edge says of its two nodes is gathered per node first and goes
// into the domain's maps once per node: a register's many fan-outs then
// cost array steps, not map lookups.
void MORV_TIMING_ITE::add_domain_edge(MORV_TIMING_ITE_DOMAIN_INFO& domain, int edge_id, int slack, float ratio,
                                      NODE_SCRATCH& scratch)
{
    const TDB_EDGE* edge = tdb_edge(edge_id);
    MORV_ASSERT_TEXT(edge != nullptr, "edge != NULL");
    auto* record = new (m_edge_sr_mem_pool->allocate(sizeof(MORV_TIMING_ITE_EDGE_SLACK_RATIOS)))
        MORV_TIMING_ITE_EDGE_SLACK_RATIOS();
    record->m_slack = slack;
    record->m_raw_slack_ratio = record->m_slack_ratio = ratio;
    domain.m_edge_slack_ratios[edge_id] = record;
    add_edge_domain(edge_id, domain.m_id, record);
    if (slack < domain.m_wc_slack) {
        domain.m_wc_slack = slack;
        domain.m_wc_slack_edge = edge_id;
    }
    if (ratio < domain.m_raw_sr_low) {
        domain.m_raw_sr_low = ratio;
        domain.m_raw_sr_low_edge = edge_id;
    }
    if (ratio > domain.m_raw_sr_high) {
        domain.m_raw_sr_high = ratio;
        domain.m_raw_sr_high_edge = edge_id;
    }
    if (ratio > domain.m_max_slack_ratio) domain.m_max_slack_ratio = ratio;
    if (ratio < domain.m_min_slack_ratio) domain.m_min_slack_ratio = ratio;
    // Outside the core clock domains a keeper only launches or only captures
    // per edge; a keeper doing both still ends as both through the OR.
    const bool not_core = !domain.is_core_clock_domain();
    note_node(scratch, edge->get_src_node(), k_SRC_SEEN, not_core ? DKT_SRC : DKT_BOTH, slack);
    note_node(scratch, edge->get_dst_node(), k_DST_SEEN, not_core ? DKT_DST : DKT_BOTH, slack);
}

void MORV_TIMING_ITE::note_node(NODE_SCRATCH& scratch, const TDB_NODE* node, unsigned char end, int keeper_type,
                                int slack) const
{
    const size_t i = static_cast<size_t>(node->get_id() - m_node_id_base);
    MORV_ASSERT_TEXT(i < scratch.m_notes.size(), "node_id < m_num_node_ids");
    NODE_NOTE& note = scratch.m_notes[i];
    if (note.m_flags == 0) scratch.m_touched.push_back(static_cast<int>(i));
    int32_t& least = end == k_SRC_SEEN ? note.m_src_min : note.m_dst_min;
    least = (note.m_flags & end) == 0 ? slack : std::min(least, slack);
    note.m_flags = static_cast<unsigned char>(note.m_flags | end | (node->is_keeper() ? keeper_type : 0));
}

void MORV_TIMING_ITE::fold_node_scratch(MORV_TIMING_ITE_DOMAIN_INFO& domain, NODE_SCRATCH& scratch)
{
    // The counts are known here, so no map grows while it fills.
    uint64_t num_keepers = 0;
    for (int i : scratch.m_touched) num_keepers += (scratch.m_notes[static_cast<size_t>(i)].m_flags & DKT_BOTH) != 0;
    domain.m_src_node_min_slack.init(m_node_id_base, m_num_node_ids);
    domain.m_dst_node_min_slack.init(m_node_id_base, m_num_node_ids);
    domain.m_oterm_keeper_ids.reserve(num_keepers);
    domain.m_keeper_types.reserve(num_keepers);
    for (int i : scratch.m_touched) {
        NODE_NOTE& note = scratch.m_notes[static_cast<size_t>(i)];
        const int node_id = m_node_id_base + i;
        if (note.m_flags & k_SRC_SEEN) domain.m_src_node_min_slack[node_id] = note.m_src_min;
        if (note.m_flags & k_DST_SEEN) domain.m_dst_node_min_slack[node_id] = note.m_dst_min;
        if (note.m_flags & DKT_BOTH) add_keeper(domain, node_id, note.m_flags & DKT_BOTH, scratch);
        note.m_flags = 0;
    }
    scratch.m_touched.clear();
}

// The pooled info of a keeper's term is made once per build and is the key
// of every domain the keeper has a role in.
void MORV_TIMING_ITE::add_keeper(MORV_TIMING_ITE_DOMAIN_INFO& domain, int node_id, int types, NODE_SCRATCH& scratch)
{
    const MORV_TIMING_ITE_OTERM_INFO*& info = scratch.m_keeper_infos[static_cast<size_t>(node_id - m_node_id_base)];
    if (info == nullptr) {
        const MORV_TIMING_ITE_OTERM_INFO key = oterm_info_of(get_keeper_oterm(m_tdb_netlist->find_node(node_id)));
        info =
            new (m_oterm_info_mem_pool->allocate(sizeof(MORV_TIMING_ITE_OTERM_INFO))) MORV_TIMING_ITE_OTERM_INFO(key);
    }
    domain.m_oterm_keeper_ids[info] = node_id;
    domain.m_keeper_types[node_id] |= types;
}

// Per group, in domain order, the domains with neither flag set.
void MORV_TIMING_ITE::build_domain_group_clock_domains()
{
    MORV_ASSERT_TEXT(!m_has_domain_group_clock_domains, "m_domain_group_clock_domains == NULL");
    m_has_domain_group_clock_domains = true;
    m_domain_group_clock_domains.assign(static_cast<size_t>(m_num_domain_groups), {});
    std::vector<int> counts(static_cast<size_t>(m_num_domain_groups), 0);
    for (const MORV_TIMING_ITE_DOMAIN_INFO& domain : m_domain_info) {
        if (!domain.is_core_clock_domain()) continue;
        int& count = counts[static_cast<size_t>(domain.m_group)];
        MORV_ASSERT_TEXT(count < FSYN_TIMING_ITE_MAX_DOMAIN_GROUP_CLOCK_DOMAINS,
                         "num_clock_domains < FSYN_TIMING_ITE_MAX_DOMAIN_GROUP_CLOCK_DOMAINS");
        m_domain_group_clock_domains[static_cast<size_t>(domain.m_group)].m_domains[count++] = domain.m_id;
    }
}

void MORV_TIMING_ITE::trace_group_clock_domains() const
{
    MORV_DEBUG_STREAM::print(2, "iTEst: domain group core clock domains:");
    for (int g = 0; g < m_num_domain_groups; ++g) {
        MORV_DEBUG_STREAM::print(2, "iTEst:    for domain group %d:", g);
        for (int id : m_domain_group_clock_domains[static_cast<size_t>(g)].m_domains) {
            if (id == ITE_NO_DOMAIN) break;
            MORV_DEBUG_STREAM::print(2, "iTEst:       domain %d (requirement %d)", id,
                                     m_domain_info[static_cast<size_t>(id)].m_requirement);
        }
    }
}

// The entries of the edges of several domains; the build filled the rest.
void MORV_TIMING_ITE::build_edge_domains()
{
    GEN_PROFILER profile("fsyn_ite_build_edge_domains");
    for (const auto& entry : m_shared_edge_hash) {
        MORV_ASSERT_TEXT(entry.first >= m_edge_id_base && entry.first < m_num_edge_ids,
                         "shared_edge_id < m_num_edge_ids");
        m_edge_domain_vec[static_cast<size_t>(entry.first - m_edge_id_base)] = EDGE_DOMAIN_SHARED;
    }
    if (!m_debug) return;
    MORV_DEBUG_STREAM::print(2, "iTEst: shared edges:");
    for (const auto& entry : m_shared_edge_hash) MORV_DEBUG_STREAM::print(2, "      edge %d", entry.first);
}

// The note of an edge of one domain names its record; an edge of several
// has none until a lookup makes one.
void MORV_TIMING_ITE::add_edge_domain(int edge_id, int domain, MORV_TIMING_ITE_EDGE_SLACK_RATIOS* record)
{
    MORV_ASSERT_TEXT(edge_id >= m_edge_id_base && edge_id < m_num_edge_ids, "edge_id < m_num_edge_ids");
    const size_t index = static_cast<size_t>(edge_id - m_edge_id_base);
    int& entry = m_edge_domain_vec[index];
    if (entry == EDGE_DOMAIN_NONE) {
        entry = domain;
        m_edge_notes[index] = {record, domain, 0};
        return;
    }
    m_edge_notes[index] = EDGE_NOTE();
    auto it = m_shared_edge_hash.find(edge_id);
    if (it != m_shared_edge_hash.end()) {
        it->second.set(static_cast<uint64_t>(domain));
        return;
    }
    MORV_BIT_VECTOR& domains = m_shared_edge_hash[edge_id];
    domains.init(static_cast<uint64_t>(m_num_domains));
    domains.set(static_cast<uint64_t>(entry));
    domains.set(static_cast<uint64_t>(domain));
}
