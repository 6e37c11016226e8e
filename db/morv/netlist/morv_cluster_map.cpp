#include "morv/netlist/morv_cluster_map.h"

#include "cdb/cdb_atom_netlist.h"

#include "mem_alloc_sys.h"
#include "morv/core/morv_assert.h"

bool MORV_CLUSTER_MAP_CLUSTER::add_node(int node_id, int ale_id)
{
    if (!m_nodes.insert(node_id).second) return false;
    m_node_id_to_ale_id_map[node_id] = ale_id;
    return true;
}

int MORV_CLUSTER_MAP_CLUSTER::get_ale_id(int node_id) const
{
    MORV_ASSERT(m_nodes.find(node_id) != m_nodes.end());
    auto found = m_node_id_to_ale_id_map.find(node_id);
    MORV_ASSERT(found != m_node_id_to_ale_id_map.end());
    return found->second;
}

int MORV_CLUSTER_MAP_CLUSTER::get_ale_companion(int node_id) const
{
    auto found = m_node_id_to_ale_id_map.find(node_id);
    if (found == m_node_id_to_ale_id_map.end() || found->second < 0) return -1;
    for (const auto& entry : m_node_id_to_ale_id_map)
        if (entry.first != node_id && entry.second == found->second) return entry.first;
    return -1;
}

MORV_CLUSTER_MAP::MORV_CLUSTER_MAP(MORV_API* fsyn_api) : m_fsyn_api(fsyn_api)
{
    MORV_ASSERT(fsyn_api);
}

MORV_CLUSTER_MAP::MORV_CLUSTER_MAP(const MORV_CLUSTER_MAP& other)
    : m_fsyn_api(other.m_fsyn_api), m_node_id_to_cluster_id_map(other.m_node_id_to_cluster_id_map),
      m_ff_to_lut_register_packing_map(other.m_ff_to_lut_register_packing_map),
      m_lut_to_ff_register_packing_map(other.m_lut_to_ff_register_packing_map)
{
    for (const auto& entry : other.m_clusters) {
        const MORV_CLUSTER_MAP_CLUSTER* cluster = entry.second;
        MORV_ASSERT(cluster);
        MORV_CLUSTER_MAP_CLUSTER* new_cluster = MORV_NEW(MORV_CLUSTER_MAP_CLUSTER, *cluster);
        MORV_ASSERT(new_cluster);
        m_clusters.emplace(entry.first, new_cluster);
    }
}

MORV_CLUSTER_MAP::~MORV_CLUSTER_MAP()
{
    for (auto& entry : m_clusters) MORV_DELETE(entry.second);
}

void MORV_CLUSTER_MAP::add_node_to_cluster(CDB_ATOM_NODE* node, int cluster_id, int ale_id)
{
    MORV_ASSERT(node);
    auto found = m_clusters.find(cluster_id);
    MORV_CLUSTER_MAP_CLUSTER* cluster = nullptr;
    if (found == m_clusters.end()) {
        cluster = MORV_NEW(MORV_CLUSTER_MAP_CLUSTER, cluster_id);
        MORV_ASSERT(cluster);
        m_clusters.emplace(cluster_id, cluster);
    } else {
        cluster = found->second;
    }
    const int node_id = static_cast<int>(node->get_id());
    cluster->add_node(node_id, ale_id);
    m_node_id_to_cluster_id_map[node_id] = cluster_id;
}

int MORV_CLUSTER_MAP::get_cluster_id(CDB_ATOM_NODE* node) const
{
    MORV_ASSERT(node);
    return get_cluster_id(static_cast<int>(node->get_id()));
}

int MORV_CLUSTER_MAP::get_cluster_id(int node_id) const
{
    auto found = m_node_id_to_cluster_id_map.find(node_id);
    return found == m_node_id_to_cluster_id_map.end() ? -1 : found->second;
}

int MORV_CLUSTER_MAP::get_ale_id(int node_id) const
{
    const int cluster_id = get_cluster_id(node_id);
    if (cluster_id == -1) return -1;
    auto found = m_clusters.find(cluster_id);
    MORV_ASSERT(m_clusters.find(cluster_id) != m_clusters.end());
    return found->second->get_ale_id(node_id);
}

int MORV_CLUSTER_MAP::get_companion_node(int node_id, bool use_packing_map) const
{
    if (use_packing_map) {
        auto ff = m_ff_to_lut_register_packing_map.find(node_id);
        if (ff != m_ff_to_lut_register_packing_map.end()) return ff->second;
        auto lut = m_lut_to_ff_register_packing_map.find(node_id);
        if (lut != m_lut_to_ff_register_packing_map.end()) return lut->second;
        return -1;
    }
    const int cluster_id = get_cluster_id(node_id);
    if (cluster_id == -1) return -1;
    auto found = m_clusters.find(cluster_id);
    MORV_ASSERT(m_clusters.find(cluster_id) != m_clusters.end());
    return found->second->get_ale_companion(node_id);
}

std::vector<int> MORV_CLUSTER_MAP::get_cluster_node_ids(int cluster_id) const
{
    auto found = m_clusters.find(cluster_id);
    MORV_ASSERT(m_clusters.find(cluster_id) != m_clusters.end());
    return found->second->get_node_ids();
}

void MORV_CLUSTER_MAP::set_register_packing(int ff_id, int lut_id)
{
    m_ff_to_lut_register_packing_map[ff_id] = lut_id;
    m_lut_to_ff_register_packing_map[lut_id] = ff_id;
}
