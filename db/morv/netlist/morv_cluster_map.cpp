#include "morv/netlist/morv_cluster_map.h"

#include <vector>

#include "cdb/cdb_atom_netlist.h"
#include "fio/fio.h"

#include "morv/core/morv_api.h"
#include "morv/core/morv_assert.h"
#include "morv/core/morv_debug_stream.h"
#include "morv/core/morv_global.h"
#include "morv/core/morv_scope_guard.h"

namespace {

const char* type_name(MORV_CLUSTER_MAP_NODE_TYPE type)
{
    return s_morv_cluster_map_node_type_names[type].c_str();
}

// One line of a printout: to the stream with the tail after it, or as it is
// through the logger at level 2.
void print_line(FILE* stream, const char* tail, const char* format, ...) MORV_PRINTF_FORMAT(3, 4);
void print_line(FILE* stream, const char* tail, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    char text[MORV_DEBUG_STREAM::s_LINE_LIMIT + 1];
    morv_format_line(text, format, args);
    va_end(args);
    if (stream != nullptr) std::fprintf(stream, "%s%s", text, tail);
    else MORV_DEBUG_STREAM::print(2, "%s", text);
}

}  // namespace

// ------------------------------------------------------------------ one cluster

MORV_CLUSTER_MAP_CLUSTER::MORV_CLUSTER_MAP_CLUSTER(const MORV_CLUSTER_MAP_CLUSTER& other)
    : m_id(other.m_id), m_nodes(other.m_nodes), m_node_types(other.m_node_types),
      m_node_id_to_ale_id_map(other.m_node_id_to_ale_id_map)
{
    for (const MORV_CLUSTER_MAP_SOURCE* source : other.m_sources) {
        MORV_OWNER<MORV_CLUSTER_MAP_SOURCE> copy = MORV_MAKE_OWNER(MORV_CLUSTER_MAP_SOURCE, *source);
        m_sources.insert(copy.release());
    }
}

MORV_CLUSTER_MAP_CLUSTER::MORV_CLUSTER_MAP_CLUSTER(const MORV_CLUSTER_MAP_IMAGE& image, size_t index)
    : m_id(image.m_clusters[index].m_id)
{
    const MORV_CLUSTER_MAP_IMAGE::CLUSTER& cluster = image.m_clusters[index];
    for (size_t i = cluster.m_first_node; i < cluster.m_first_node + cluster.m_node_count; ++i) {
        const MORV_CLUSTER_MAP_IMAGE::NODE& node = image.m_nodes[i];
        m_nodes.insert(m_nodes.end(), node.m_node_id);
        m_node_types.emplace_hint(m_node_types.end(), node.m_node_id, node.m_type);
        m_node_id_to_ale_id_map.emplace_hint(m_node_id_to_ale_id_map.end(), node.m_node_id, node.m_ale_id);
    }
    for (size_t i = cluster.m_first_source; i < cluster.m_first_source + cluster.m_source_count; ++i) {
        MORV_OWNER<MORV_CLUSTER_MAP_SOURCE> copy = MORV_MAKE_OWNER(MORV_CLUSTER_MAP_SOURCE, image.m_sources[i]);
        m_sources.insert(m_sources.end(), copy.release());
    }
}

// The three per-node maps always hold the same nodes: a node enters and
// leaves all three together.
void MORV_CLUSTER_MAP_CLUSTER::add_to_image(MORV_CLUSTER_MAP_IMAGE& image) const
{
    MORV_ASSERT(m_node_types.size() == m_nodes.size() && m_node_id_to_ale_id_map.size() == m_nodes.size());
    MORV_CLUSTER_MAP_IMAGE::CLUSTER cluster;
    cluster.m_id = m_id;
    cluster.m_first_node = image.m_nodes.size();
    cluster.m_node_count = m_nodes.size();
    cluster.m_first_source = image.m_sources.size();
    cluster.m_source_count = m_sources.size();
    auto type = m_node_types.begin();
    auto ale = m_node_id_to_ale_id_map.begin();
    for (int node_id : m_nodes) {
        MORV_ASSERT(type->first == node_id && ale->first == node_id);
        image.m_nodes.push_back({node_id, type->second, ale->second});
        ++type;
        ++ale;
    }
    for (const MORV_CLUSTER_MAP_SOURCE* source : m_sources) image.m_sources.push_back(*source);
    image.m_clusters.push_back(cluster);
}

MORV_CLUSTER_MAP_CLUSTER::~MORV_CLUSTER_MAP_CLUSTER()
{
    delete_sources();
}

void MORV_CLUSTER_MAP_CLUSTER::delete_sources()
{
    for (MORV_CLUSTER_MAP_SOURCE* source : m_sources) MORV_DELETE(source);
    m_sources.clear();
}

bool MORV_CLUSTER_MAP_CLUSTER::add_node(CDB_ATOM_NODE* node, int ale_id)
{
    MORV_ASSERT(node);
    const int node_id = static_cast<int>(node->get_id());
    if (!m_nodes.insert(node_id).second) return false;
    MORV_CLUSTER_MAP_NODE_TYPE type = MORV_CLUSTER_MAP_NODE_UNDEF;
    if (node->is_lcell_comb()) type = MORV_CLUSTER_MAP_NODE_COMB;
    else if (node->is_lcell_ff()) type = MORV_CLUSTER_MAP_NODE_FF;
    m_node_types[node_id] = type;
    m_node_id_to_ale_id_map[node_id] = ale_id;
    add_sources_of(node);
    drop_inside_sources();
    return true;
}

void MORV_CLUSTER_MAP_CLUSTER::add_sources_of(CDB_ATOM_NODE* node)
{
    for (auto it = node->begin_iterm(); it != node->end_iterm(); ++it) {
        CDB_ATOM_ITERM* iterm = *it;
        if (iterm == nullptr || iterm->get_source() == nullptr) continue;
        CDB_ATOM_OTERM* driver = iterm->get_source();
        MORV_CLUSTER_MAP_SOURCE key;
        key.m_node_id = static_cast<int>(driver->get_my_node()->get_id());
        key.m_port_type = driver->get_any_usage_as();
        auto held = m_sources.find(&key);
        if (held != m_sources.end()) {
            MORV_ASSERT_TEXT(*held, "old_source");
            ++(*held)->m_count;
            continue;
        }
        MORV_OWNER<MORV_CLUSTER_MAP_SOURCE> source = MORV_MAKE_OWNER(MORV_CLUSTER_MAP_SOURCE, key);
        MORV_ASSERT_TEXT(source, "source");
        m_sources.insert(source.release());
    }
}

void MORV_CLUSTER_MAP_CLUSTER::drop_inside_sources()
{
    std::vector<MORV_CLUSTER_MAP_SOURCE*> inside;
    for (MORV_CLUSTER_MAP_SOURCE* source : m_sources)
        if (m_nodes.count(source->m_node_id) != 0) inside.push_back(source);
    for (MORV_CLUSTER_MAP_SOURCE* source : inside) {
        auto delete_iter = m_sources.find(source);
        MORV_ASSERT(delete_iter != m_sources.end());
        m_sources.erase(delete_iter);
        MORV_DELETE(source);
    }
}

bool MORV_CLUSTER_MAP_CLUSTER::remove_node(int node_id, MORV_API* api)
{
    if (m_nodes.erase(node_id) == 0) return false;
    m_node_types.erase(node_id);
    m_node_id_to_ale_id_map.erase(node_id);
    delete_sources();
    for (int member : m_nodes) {
        CDB_ATOM_NODE* node = api->get_node(member);
        if (node != nullptr) add_sources_of(node);
    }
    drop_inside_sources();
    return true;
}

bool MORV_CLUSTER_MAP_CLUSTER::is_source(CDB_ATOM_OTERM* oterm) const
{
    MORV_ASSERT(oterm);
    CDB_ATOM_NODE* node = oterm->get_my_node();
    MORV_ASSERT(node);
    MORV_CLUSTER_MAP_SOURCE key;
    key.m_node_id = static_cast<int>(node->get_id());
    key.m_port_type = oterm->get_any_usage_as();
    return m_sources.count(&key) != 0;
}

MORV_CLUSTER_MAP_NODE_TYPE MORV_CLUSTER_MAP_CLUSTER::get_node_type(int node_id) const
{
    auto found = m_node_types.find(node_id);
    MORV_ASSERT(m_node_types.find(node_id) != m_node_types.end());
    return found->second;
}

int MORV_CLUSTER_MAP_CLUSTER::get_number_of_nodes_of_type(MORV_CLUSTER_MAP_NODE_TYPE type) const
{
    int count = 0;
    for (int node_id : m_nodes)
        if (get_node_type(node_id) == type) ++count;
    return count;
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

void MORV_CLUSTER_MAP_CLUSTER::print(FILE* stream) const
{
    const int combs = get_number_of_nodes_of_type(MORV_CLUSTER_MAP_NODE_COMB);
    const int ffs = get_number_of_nodes_of_type(MORV_CLUSTER_MAP_NODE_FF);
    print_line(stream, "\n", " ---------------");
    print_line(stream, " \n", " - CLUSTER: %d - (COMB: %d - FF: %d)", m_id, combs, ffs);
    print_line(stream, "\n", " ---------------");
    print_line(stream, "\n", " ---------");
    print_line(stream, "\n", " - NODES -");
    print_line(stream, "\n", " ---------");
    for (int node_id : m_nodes) {
        auto type = m_node_types.find(node_id);
        MORV_ASSERT(type != m_node_types.end());
        auto ale = m_node_id_to_ale_id_map.find(node_id);
        MORV_ASSERT(ale != m_node_id_to_ale_id_map.end());
        print_line(stream, " \n", "   %d (%s) (ale_id: %d)", node_id, type_name(type->second), ale->second);
    }
    print_line(stream, "\n", " -----------");
    print_line(stream, "\n", " - SOURCES -");
    print_line(stream, "\n", " -----------");
    for (const MORV_CLUSTER_MAP_SOURCE* source : m_sources) {
        char text[64];
        std::snprintf(text, sizeof(text), "%s(%d - %d)", "", source->m_node_id, source->m_port_type);
        print_line(stream, "\n", "   %s", text);
    }
}

// ------------------------------------------------------------------ the map

MORV_CLUSTER_MAP::MORV_CLUSTER_MAP(MORV_API* fsyn_api) : m_fsyn_api(fsyn_api)
{
    MORV_ASSERT_TEXT(fsyn_api, "fsyn_api");
}

MORV_CLUSTER_MAP::MORV_CLUSTER_MAP(const MORV_CLUSTER_MAP& other)
    : m_fsyn_api(other.m_fsyn_api), m_node_id_to_cluster_id_map(other.m_node_id_to_cluster_id_map),
      m_ff_to_lut_register_packing_map(other.m_ff_to_lut_register_packing_map),
      m_lut_to_ff_register_packing_map(other.m_lut_to_ff_register_packing_map)
{
    for (const auto& entry : other.m_clusters) {
        const MORV_CLUSTER_MAP_CLUSTER* cluster = entry.second.get();
        MORV_ASSERT(cluster);
        MORV_OWNER<MORV_CLUSTER_MAP_CLUSTER> new_cluster = MORV_MAKE_OWNER(MORV_CLUSTER_MAP_CLUSTER, *cluster);
        MORV_ASSERT(new_cluster);
        m_clusters.emplace(entry.first, std::move(new_cluster));
    }
}

MORV_CLUSTER_MAP::MORV_CLUSTER_MAP(const MORV_CLUSTER_MAP_IMAGE& image)
    : m_fsyn_api(image.m_fsyn_api),
      m_node_id_to_cluster_id_map(image.m_node_id_to_cluster_id.begin(), image.m_node_id_to_cluster_id.end()),
      m_ff_to_lut_register_packing_map(image.m_ff_to_lut_register_packing.begin(),
                                       image.m_ff_to_lut_register_packing.end()),
      m_lut_to_ff_register_packing_map(image.m_lut_to_ff_register_packing.begin(),
                                       image.m_lut_to_ff_register_packing.end())
{
    for (size_t i = 0; i < image.m_clusters.size(); ++i)
        m_clusters.emplace_hint(m_clusters.end(), image.m_clusters[i].m_id,
                                MORV_MAKE_OWNER(MORV_CLUSTER_MAP_CLUSTER, image, i));
}

MORV_CLUSTER_MAP_IMAGE MORV_CLUSTER_MAP::get_image() const
{
    MORV_CLUSTER_MAP_IMAGE image;
    image.m_fsyn_api = m_fsyn_api;
    image.m_node_id_to_cluster_id.assign(m_node_id_to_cluster_id_map.begin(), m_node_id_to_cluster_id_map.end());
    image.m_ff_to_lut_register_packing.assign(m_ff_to_lut_register_packing_map.begin(),
                                              m_ff_to_lut_register_packing_map.end());
    image.m_lut_to_ff_register_packing.assign(m_lut_to_ff_register_packing_map.begin(),
                                              m_lut_to_ff_register_packing_map.end());
    image.m_clusters.reserve(m_clusters.size());
    image.m_nodes.reserve(m_node_id_to_cluster_id_map.size());
    for (const auto& entry : m_clusters) {
        MORV_ASSERT(entry.second && entry.second->get_id() == entry.first);
        entry.second->add_to_image(image);
    }
    return image;
}

MORV_CLUSTER_MAP::~MORV_CLUSTER_MAP()
{
    clear();
}

void MORV_CLUSTER_MAP::clear()
{
    m_clusters.clear();
    m_node_id_to_cluster_id_map.clear();
    m_ff_to_lut_register_packing_map.clear();
    m_lut_to_ff_register_packing_map.clear();
}

const MORV_CLUSTER_MAP_CLUSTER* MORV_CLUSTER_MAP::find_cluster(int cluster_id) const
{
    auto found = m_clusters.find(cluster_id);
    MORV_ASSERT(m_clusters.find(cluster_id) != m_clusters.end());
    return found->second.get();
}

// A node added to a second cluster leaves the first, whose sources are
// worked out again from the cells it keeps. The cluster map was designed to
// leave it recorded in both, with only the node-to-cluster map naming the
// second; but a cell sits in one LAB, and the first cluster would go on
// counting it among its cells and leaving out the sources it drives, and
// laying the clusters onto the chip map would put it in the LAB of
// whichever of the two has the higher id.
void MORV_CLUSTER_MAP::add_node_to_cluster(CDB_ATOM_NODE* node, int cluster_id, int ale_id)
{
    MORV_ASSERT(node);
    const int node_id = static_cast<int>(node->get_id());
    const int previous = get_cluster_id(node_id);
    if (previous != -1 && previous != cluster_id) {
        auto old_cluster = m_clusters.find(previous);
        if (old_cluster != m_clusters.end()) old_cluster->second->remove_node(node_id, m_fsyn_api);
    }
    MORV_OWNER<MORV_CLUSTER_MAP_CLUSTER>& cluster = m_clusters[cluster_id];
    if (cluster == nullptr) cluster = MORV_MAKE_OWNER(MORV_CLUSTER_MAP_CLUSTER, cluster_id);
    MORV_ASSERT(cluster);
    cluster->add_node(node, ale_id);
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
    return find_cluster(cluster_id)->get_ale_id(node_id);
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
    return find_cluster(cluster_id)->get_ale_companion(node_id);
}

std::vector<int> MORV_CLUSTER_MAP::get_cluster_node_ids(int cluster_id) const
{
    return find_cluster(cluster_id)->get_node_ids();
}

bool MORV_CLUSTER_MAP::are_in_same_cluster(CDB_ATOM_NODE* node_1, CDB_ATOM_NODE* node_2) const
{
    MORV_ASSERT(node_1);
    MORV_ASSERT(node_2);
    const int cluster_1 = get_cluster_id(node_1);
    const int cluster_2 = get_cluster_id(node_2);
    return cluster_1 != -1 && cluster_2 != -1 && cluster_1 == cluster_2;
}

bool MORV_CLUSTER_MAP::is_cluster_source(CDB_ATOM_OTERM* oterm, int cluster_id) const
{
    return find_cluster(cluster_id)->is_source(oterm);
}

std::vector<MORV_CLUSTER_MAP_CLUSTER*> MORV_CLUSTER_MAP::get_clusters() const
{
    std::vector<MORV_CLUSTER_MAP_CLUSTER*> clusters;
    clusters.reserve(m_clusters.size());
    for (const auto& entry : m_clusters) {
        MORV_CLUSTER_MAP_CLUSTER* cluster = entry.second.get();
        MORV_ASSERT(cluster);
        clusters.push_back(cluster);
    }
    return clusters;
}

void MORV_CLUSTER_MAP::set_register_packing(CDB_ATOM_NODE* node_1, CDB_ATOM_NODE* node_2)
{
    MORV_ASSERT(node_1);
    MORV_ASSERT(node_2);
    CDB_ATOM_NODE* lut = node_1;
    CDB_ATOM_NODE* ff = node_2;
    if (node_1->is_lcell_comb()) {
        MORV_ASSERT(node_2->is_lcell_ff());
    } else {
        MORV_ASSERT(node_1->is_lcell_ff());
        MORV_ASSERT(node_2->is_lcell_comb());
        lut = node_2;
        ff = node_1;
    }
    const int ff_id = static_cast<int>(ff->get_id());
    const int lut_id = static_cast<int>(lut->get_id());
    MORV_ASSERT(m_ff_to_lut_register_packing_map.find(ff_id) == m_ff_to_lut_register_packing_map.end());
    MORV_ASSERT(m_lut_to_ff_register_packing_map.find(lut_id) == m_lut_to_ff_register_packing_map.end());
    m_ff_to_lut_register_packing_map[ff_id] = lut_id;
    m_lut_to_ff_register_packing_map[lut_id] = ff_id;
}

// A dump the component writes by its own name: a file that cannot be
// written is an I/O error naming it, as for the component's other files.
void MORV_CLUSTER_MAP::print(const char* path) const
{
    FILE* fp = path != nullptr ? fio_fopen_for_writing(FIO_PATH(path)) : nullptr;
    MORV_SCOPE_GUARD close_file([fp] {
        if (fp != nullptr) std::fclose(fp);
    });
    for (const auto& entry : m_clusters) {
        MORV_ASSERT_TEXT(entry.second, "cluster");
        entry.second->print(fp);
    }
}
