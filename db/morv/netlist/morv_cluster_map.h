#pragma once

// The host's LAB clustering as the run sees it: which cluster each atom
// belongs to and each atom's ALE index inside its cluster.

#include <map>
#include <set>
#include <vector>

class MORV_API;
class CDB_ATOM_NODE;

class MORV_CLUSTER_MAP_CLUSTER
{
public:
    explicit MORV_CLUSTER_MAP_CLUSTER(int id) : m_id(id) {}

    bool add_node(int node_id, int ale_id);
    int get_id() const { return m_id; }
    std::vector<int> get_node_ids() const { return std::vector<int>(m_nodes.begin(), m_nodes.end()); }
    int get_ale_id(int node_id) const;
    int get_ale_companion(int node_id) const;

private:
    int m_id;
    std::set<int> m_nodes;
    std::map<int, int> m_node_id_to_ale_id_map;
};

class MORV_CLUSTER_MAP
{
public:
    explicit MORV_CLUSTER_MAP(MORV_API* fsyn_api);
    MORV_CLUSTER_MAP(const MORV_CLUSTER_MAP& other);
    MORV_CLUSTER_MAP& operator=(const MORV_CLUSTER_MAP&) = delete;
    ~MORV_CLUSTER_MAP();

    void add_node_to_cluster(CDB_ATOM_NODE* node, int cluster_id, int ale_id);
    int get_cluster_id(CDB_ATOM_NODE* node) const;
    int get_cluster_id(int node_id) const;
    int get_ale_id(int node_id) const;
    int get_companion_node(int node_id, bool use_packing_map) const;
    std::vector<int> get_cluster_node_ids(int cluster_id) const;
    int get_number_of_clusters() const { return static_cast<int>(m_clusters.size()); }
    void set_register_packing(int ff_id, int lut_id);

private:
    MORV_API* m_fsyn_api;
    std::map<int, int> m_node_id_to_cluster_id_map;
    std::map<int, MORV_CLUSTER_MAP_CLUSTER*> m_clusters;
    std::map<int, int> m_ff_to_lut_register_packing_map;
    std::map<int, int> m_lut_to_ff_register_packing_map;
};
