#pragma once

// The host's LAB clustering as the run sees it: which cluster each atom
// belongs to, each cluster's cells with their kind and ALE index, the
// output terms outside a cluster that drive its inputs (its sources), and
// which register is packed with which LUT.

#include <cstddef>
#include <cstdio>
#include <map>
#include <set>
#include <vector>

#include "mem_alloc_sys.h"

class MORV_API;
class CDB_ATOM_NODE;
class CDB_ATOM_OTERM;

enum MORV_CLUSTER_MAP_NODE_TYPE : int
{
    MORV_CLUSTER_MAP_NODE_UNDEF = 0,
    MORV_CLUSTER_MAP_NODE_COMB = 1,
    MORV_CLUSTER_MAP_NODE_FF = 2
};

// One external source of a cluster: an output term outside it and how many
// of the cluster's input terms it drives.
struct MORV_CLUSTER_MAP_SOURCE
{
    int m_node_id = -1;
    int m_port_type = -1;
    int m_count = 1;
};

struct MORV_CLUSTER_MAP_SOURCE_LESS
{
    bool operator()(const MORV_CLUSTER_MAP_SOURCE* a, const MORV_CLUSTER_MAP_SOURCE* b) const
    {
        if (a->m_node_id != b->m_node_id) return a->m_node_id < b->m_node_id;
        return a->m_port_type < b->m_port_type;
    }
};

struct MORV_CLUSTER_MAP_IMAGE;

class MORV_CLUSTER_MAP_CLUSTER
{
public:
    typedef std::set<MORV_CLUSTER_MAP_SOURCE*, MORV_CLUSTER_MAP_SOURCE_LESS> SOURCE_SET;

    explicit MORV_CLUSTER_MAP_CLUSTER(int id) : m_id(id) {}
    MORV_CLUSTER_MAP_CLUSTER(const MORV_CLUSTER_MAP_CLUSTER& other);
    MORV_CLUSTER_MAP_CLUSTER& operator=(const MORV_CLUSTER_MAP_CLUSTER&) = delete;
    ~MORV_CLUSTER_MAP_CLUSTER();

    // False (and nothing changes) when the node is in the cluster already.
    bool add_node(CDB_ATOM_NODE* node, int ale_id);
    // Takes the node out; the sources are recomputed from the members that
    // remain (members the host no longer has are skipped). False when the
    // node was not a member.
    bool remove_node(int node_id, MORV_API* api);
    bool is_source(CDB_ATOM_OTERM* oterm) const;
    int get_number_of_nodes_of_type(MORV_CLUSTER_MAP_NODE_TYPE type) const;
    int get_id() const { return m_id; }
    std::vector<int> get_node_ids() const { return std::vector<int>(m_nodes.begin(), m_nodes.end()); }
    bool has_node(int node_id) const { return m_nodes.count(node_id) != 0; }
    int get_ale_id(int node_id) const;
    // The lowest other member with the same ALE index; -1 when none.
    int get_ale_companion(int node_id) const;
    MORV_CLUSTER_MAP_NODE_TYPE get_node_type(int node_id) const;
    const SOURCE_SET& get_sources() const { return m_sources; }
    // To the stream, or through the logger (level 2) when it is null.
    void print(FILE* stream) const;
    // Appends the cluster to an image; rebuilds cluster `index` of one.
    void add_to_image(MORV_CLUSTER_MAP_IMAGE& image) const;
    MORV_CLUSTER_MAP_CLUSTER(const MORV_CLUSTER_MAP_IMAGE& image, size_t index);

private:
    // Counts the node's driven inputs as sources, then drops every source
    // driven from inside the cluster.
    void add_sources_of(CDB_ATOM_NODE* node);
    void drop_inside_sources();
    void delete_sources();

    int m_id;
    std::set<int> m_nodes;
    SOURCE_SET m_sources;  // owned
    std::map<int, MORV_CLUSTER_MAP_NODE_TYPE> m_node_types;
    std::map<int, int> m_node_id_to_ale_id_map;
};

struct MORV_CLUSTER_MAP_IMAGE;

class MORV_CLUSTER_MAP
{
public:
    explicit MORV_CLUSTER_MAP(MORV_API* fsyn_api);
    MORV_CLUSTER_MAP(const MORV_CLUSTER_MAP& other);
    // The map an image was taken of, as its copy would be.
    explicit MORV_CLUSTER_MAP(const MORV_CLUSTER_MAP_IMAGE& image);
    MORV_CLUSTER_MAP_IMAGE get_image() const;
    MORV_CLUSTER_MAP& operator=(const MORV_CLUSTER_MAP&) = delete;
    ~MORV_CLUSTER_MAP();

    // A node already in another cluster leaves it first, so that no node is
    // counted in two clusters.
    void add_node_to_cluster(CDB_ATOM_NODE* node, int cluster_id, int ale_id);
    int get_cluster_id(CDB_ATOM_NODE* node) const;
    int get_cluster_id(int node_id) const;
    int get_ale_id(int node_id) const;
    int get_companion_node(int node_id, bool use_packing_map) const;
    std::vector<int> get_cluster_node_ids(int cluster_id) const;
    bool are_in_same_cluster(CDB_ATOM_NODE* node_1, CDB_ATOM_NODE* node_2) const;
    bool is_cluster_source(CDB_ATOM_OTERM* oterm, int cluster_id) const;
    // In ascending cluster id; the map keeps them.
    std::vector<MORV_CLUSTER_MAP_CLUSTER*> get_clusters() const;
    int get_number_of_clusters() const { return static_cast<int>(m_clusters.size()); }
    // A register and a LUT packed together, in either order.
    void set_register_packing(CDB_ATOM_NODE* node_1, CDB_ATOM_NODE* node_2);
    // Every cluster into the file at path, or through the logger when null.
    void print(const char* path) const;
    void clear();

private:
    const MORV_CLUSTER_MAP_CLUSTER* find_cluster(int cluster_id) const;

    MORV_API* m_fsyn_api;
    std::map<int, int> m_node_id_to_cluster_id_map;
    std::map<int, MORV_OWNER<MORV_CLUSTER_MAP_CLUSTER>> m_clusters;
    std::map<int, int> m_ff_to_lut_register_packing_map;
    std::map<int, int> m_lut_to_ff_register_packing_map;
};

// A cluster map as a saved state keeps it: the same content in flat lists,
// each in the order of the map it stands for, in a fraction of the room.
struct MORV_CLUSTER_MAP_IMAGE
{
    template <typename T>
    using LIST = std::vector<T, MORV_ALLOCATOR<T>>;
    // A cluster's members are nodes[first_node, first_node + node_count),
    // its sources likewise.
    struct CLUSTER
    {
        int m_id = -1;
        size_t m_first_node = 0;
        size_t m_node_count = 0;
        size_t m_first_source = 0;
        size_t m_source_count = 0;
    };
    struct NODE
    {
        int m_node_id = -1;
        MORV_CLUSTER_MAP_NODE_TYPE m_type = MORV_CLUSTER_MAP_NODE_UNDEF;
        int m_ale_id = -1;
    };

    MORV_API* m_fsyn_api = nullptr;
    LIST<std::pair<int, int>> m_node_id_to_cluster_id;
    LIST<std::pair<int, int>> m_ff_to_lut_register_packing;
    LIST<std::pair<int, int>> m_lut_to_ff_register_packing;
    LIST<CLUSTER> m_clusters;
    LIST<NODE> m_nodes;
    LIST<MORV_CLUSTER_MAP_SOURCE> m_sources;
};
