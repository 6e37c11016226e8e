// The facade's placement helpers: clusters onto the chip map, which LAB
// locations a logic cell may take, and where an atom sits on the grid and on
// the device.

#include "cdb/cdb_atom_netlist.h"
#include "cut/cut_block_util.h"
#include "dev/dev_device.h"

#include "morv/core/family/morv_family_traits.h"
#include "morv/core/morv_api.h"
#include "morv/core/morv_assert.h"
#include "morv/core/morv_debug_stream.h"
#include "morv/core/morv_env.h"
#include "morv/core/morv_expert.h"
#include "morv/netlist/morv_chip_map.h"
#include "morv/netlist/morv_cluster_map.h"

namespace {

// LAB blocks a logic cell may always go to; DEV_BLOCK_LAB_590 (a
// memory-capable LAB) only while the occupied-location grid leaves it free.
bool is_plain_lab_block(int block_type)
{
    return block_type == DEV_BLOCK_LAB || block_type == DEV_BLOCK_LAB_499 || block_type == DEV_BLOCK_LAB_500 ||
           block_type == DEV_BLOCK_LAB_538 || block_type == DEV_BLOCK_LAB_589;
}

// An atom that makes a memory-capable LAB unusable for logic: a memory
// placed there uses the LAB as memory.
bool occupies_memory_lab(const CDB_ATOM_NODE* node)
{
    return node != nullptr && node->is_ram();
}

}  // namespace

bool MORV_API::is_pre_placement() const
{
    return m_fsyn_expert != nullptr && m_fsyn_expert->is_fsyn_running_pre_placement_fsyn();
}

void MORV_API::add_node_to_cluster(CDB_ATOM_NODE* node, int cluster_id, int ale_id)
{
    MORV_ASSERT_TEXT(node, "atom_node");
    if (m_fsyn_cluster_map != nullptr) m_fsyn_cluster_map->add_node_to_cluster(node, cluster_id, ale_id);
}

// Clusters go one per LAB, row by row from (1, 1), leaving the border rows
// and columns free. Atoms the host has dropped since clustering stay out;
// atoms made since clustering belong to no cluster and keep the LAB they
// were given, so that a later edit of the flow can place its cells by them.
void MORV_API::download_clustering_to_chip_map()
{
    if (m_fsyn_cluster_map == nullptr) return;
    MORV_DEBUG_STREAM::print(2, "Dowloading Clustering info onto the Chip Map");
    const int nx = m_morv_env->get_grid_nx();
    const int ny = m_morv_env->get_grid_ny();
    MORV_OWNER<MORV_CHIP_MAP> previous = std::move(m_fsyn_chip_map);
    m_fsyn_chip_map = MORV_MAKE_OWNER(MORV_CHIP_MAP, this, nx, ny);
    if (m_fsyn_chip_map->get_lab_capacity() == -1) return;
    place_clusters_on_chip_map(nx, ny);
    if (previous == nullptr) return;
    MORV_LOC clustered;
    previous->for_each_placed_node([&](int node_id, const MORV_LOC& location) {
        // (0, 0) is the empty location of an atom entered before placement.
        const bool empty = location.x == 0 && location.y == 0;
        if (empty || location.x == MORV_OPEN || location.y == MORV_OPEN || get_node(node_id) == nullptr) return;
        if (m_fsyn_chip_map->get_node_location(node_id, &clustered)) return;
        m_fsyn_chip_map->set_node_location(node_id, MORV_LOC{location.x, location.y, MORV_OPEN, MORV_OPEN});
    });
}

void MORV_API::place_clusters_on_chip_map(int nx, int ny)
{
    int x = 1;
    int y = 1;
    for (MORV_CLUSTER_MAP_CLUSTER* cluster : m_fsyn_cluster_map->get_clusters()) {
        MORV_ASSERT_TEXT(cluster, "cluster");
        for (int node_id : cluster->get_node_ids())
            if (get_node(node_id) != nullptr) m_fsyn_chip_map->set_node_location(node_id, MORV_LOC{x, y, -1, -1});
        if (++x == nx - 1) {
            x = 1;
            ++y;
        }
    }
    MORV_ASSERT(y < ny - 1 || (y == ny - 1 && x == 1));
}

bool MORV_API::can_lcell_go_to_location(int x, int y)
{
    if (is_pre_placement()) return true;
    const int block_type = m_morv_env->get_block_type(x, y, 0);
    if (block_type != DEV_BLOCK_LAB_590) return is_plain_lab_block(block_type);
    if (!m_has_occupied_location_grid) init_occupied_location_grid();
    if (x < 0 || y < 0 || m_occupied_grid_ny <= 0) return true;
    const size_t at = static_cast<size_t>(x) * static_cast<size_t>(m_occupied_grid_ny) + static_cast<size_t>(y);
    return at >= m_occupied_location_grid.size() || m_occupied_location_grid[at] == 0;
}

void MORV_API::init_occupied_location_grid()
{
    if (m_has_occupied_location_grid) return;
    const MORV_CHIP_MAP* chip_map = m_fsyn_chip_map.get();
    const int nx = chip_map != nullptr ? chip_map->get_nx() : m_morv_env->get_grid_nx();
    const int ny = chip_map != nullptr ? chip_map->get_ny() : m_morv_env->get_grid_ny();
    m_occupied_grid_ny = ny;
    m_occupied_location_grid.assign(static_cast<size_t>(nx > 0 ? nx : 0) * static_cast<size_t>(ny > 0 ? ny : 0), 0);
    m_has_occupied_location_grid = true;
    if (chip_map == nullptr) return;
    chip_map->for_each_placed_node([&](int node_id, const MORV_LOC& location) {
        if (!occupies_memory_lab(get_node(node_id))) return;
        MORV_ASSERT(location.x >= 0 && location.x < nx);
        MORV_ASSERT(location.y >= 0 && location.y < ny);
        m_occupied_location_grid[static_cast<size_t>(location.x) * static_cast<size_t>(ny) +
                                 static_cast<size_t>(location.y)] = 1;
    });
}

void MORV_API::free_occupied_location_grid()
{
    m_occupied_location_grid.clear();
    m_occupied_location_grid.shrink_to_fit();
    m_has_occupied_location_grid = false;
}

void MORV_API::get_block_location(CDB_ATOM_NODE* node, int* x, int* y)
{
    MORV_ASSERT_TEXT(!is_pre_placement(), "!pre_placement_fsyn");
    MORV_ASSERT(node && x && y);
    *x = *y = -1;
    if (m_fsyn_chip_map == nullptr) return;
    const bool mult_at_mac_out = morv_family_traits(m_base_family).m_mac_block_from_mac_out;
    CDB_ATOM_NODE* located = node;
    if (mult_at_mac_out && node->is_mac_mult()) {
        CDB_ATOM_NODE* mac_out = CUT_MAC_UTIL::get_mac_out_from_mac_mult(node);
        if (mac_out != nullptr) located = mac_out;
    }
    MORV_LOC location;
    if (!m_fsyn_chip_map->get_node_location(static_cast<int>(located->get_id()), &location)) return;
    *x = location.x;
    *y = location.y;
    if (mult_at_mac_out || !(node->is_mac_mult() || node->is_mac_out()) || location.sub_loc < 0) return;
    DUVO_PLACE_INFO* place_info = get_duvo_place_info();
    MORV_ASSERT_TEXT(place_info, "duvo_place_info");
    const DUVO_PLACE_BLOCK* block =
        place_info->get_place_block(place_info->get_global_id(0, location.x, location.y, location.sub_loc));
    if (block == nullptr) return;
    *x = block->x;
    *y = block->y;
}

void MORV_API::get_node_device_location(CDB_ATOM_NODE* node, int* location_ret)
{
    MORV_ASSERT(node);
    MORV_ASSERT(location_ret);
    DUVO_DIE_INFO* die_info = get_duvo_die_info();
    MORV_ASSERT_TEXT(die_info, "dev_die_info");
    CDB_LOCATION_INDEX index;
    node->get_location_index(die_info, &index);
    location_ret[0] = index[CDB_LOCATION_X];
    location_ret[1] = index[CDB_LOCATION_Y];
    location_ret[2] = index[CDB_LOCATION_SUB_LOC2] != -1 ? index[CDB_LOCATION_SUB_LOC2] : index[CDB_LOCATION_SUB_LOC];
}
