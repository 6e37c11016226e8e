#include "morv/netlist/morv_chip_map.h"

#include "msg/msg.h"

#include "mem_alloc_sys.h"
#include "morv/core/family/morv_family_traits.h"
#include "morv/core/morv_api.h"
#include "morv/core/morv_assert.h"
#include "morv/core/morv_debug_stream.h"
#include "morv/core/morv_expert.h"

MORV_CHIP_MAP::MORV_CHIP_MAP(MORV_API* api, int nx, int ny)
    : m_api(api), m_cdb_interface(nullptr), m_nx(nx), m_ny(ny), m_lab_capacity(-1), m_atom_id_to_lab_map(nullptr),
      m_location_id_to_lab_map(nullptr)
{
    MORV_ASSERT(m_api);
    m_cdb_interface = m_api->get_fsyn_cdb_interface();
    MORV_EXPERT* expert = m_api->get_fsyn_expert();
    if (expert != nullptr && expert->is_fsyn_running_pre_placement_fsyn()) {
        m_lab_capacity = 1;
    } else {
        m_lab_capacity = morv_family_traits(m_api->get_base_family_code()).m_lab_capacity;
        if (m_lab_capacity == -1) {
            msg_local_vdebug("MORV", "MORV_CHIP_MAP: Unsupported base family...FSYN will not be run.");
            return;
        }
    }
    create_maps();
}

MORV_CHIP_MAP::MORV_CHIP_MAP(const MORV_CHIP_MAP& other)
    : m_api(other.m_api), m_cdb_interface(other.m_cdb_interface), m_nx(other.m_nx), m_ny(other.m_ny),
      m_lab_capacity(other.m_lab_capacity), m_atom_id_to_lab_map(nullptr), m_location_id_to_lab_map(nullptr)
{
    if (other.m_location_id_to_lab_map == nullptr) return;
    create_maps();
    for (const auto& lab : *other.m_location_id_to_lab_map)
        for (const auto& atom : *lab.second) set_node_location(atom.first, atom.second);
}

MORV_CHIP_MAP::~MORV_CHIP_MAP()
{
    if (m_location_id_to_lab_map != nullptr)
        for (auto& lab : *m_location_id_to_lab_map) MORV_DELETE(lab.second);
    MORV_DELETE(m_location_id_to_lab_map);
    MORV_DELETE(m_atom_id_to_lab_map);
}

void MORV_CHIP_MAP::create_maps()
{
    MORV_ASSERT(m_atom_id_to_lab_map == NULL);
    m_atom_id_to_lab_map = MORV_NEW(LAB_INDEX);
    MORV_ASSERT(m_location_id_to_lab_map == NULL);
    m_location_id_to_lab_map = MORV_NEW(LAB_INDEX);
    MORV_ASSERT(m_atom_id_to_lab_map);
    MORV_ASSERT(m_location_id_to_lab_map);
}

void MORV_CHIP_MAP::verify_location(const MORV_LOC& location) const
{
    const bool ok = location.x >= 0 && location.x < m_nx && location.y >= 0 && location.y < m_ny;
    MORV_ASSERT_TEXT(ok, "verify_location( location )");
}

void MORV_CHIP_MAP::set_node_location(int node_id, MORV_LOC location)
{
    verify_location(location);
    MORV_ASSERT(m_location_id_to_lab_map);
    remove_node(node_id);
    const int id = location_id(location.x, location.y);
    auto found = m_location_id_to_lab_map->find(id);
    LAB_MAP* lab = nullptr;
    if (found == m_location_id_to_lab_map->end()) {
        lab = MORV_NEW(LAB_MAP);
        m_location_id_to_lab_map->emplace(id, lab);
    } else {
        lab = found->second;
    }
    lab->emplace(node_id, location);
    m_atom_id_to_lab_map->emplace(node_id, lab);
}

bool MORV_CHIP_MAP::get_node_location(int node_id, MORV_LOC* location) const
{
    MORV_ASSERT(location);
    if (m_atom_id_to_lab_map == nullptr) {
        *location = MORV_LOC{};
        return false;
    }
    auto found = m_atom_id_to_lab_map->find(node_id);
    if (found == m_atom_id_to_lab_map->end()) {
        *location = MORV_LOC{};
        return false;
    }
    auto entry = found->second->find(node_id);
    if (entry == found->second->end()) {
        MORV_DEBUG_STREAM::print(0, "Error - could not find node id %d in lab map while retrieving sublocation",
                                 node_id);
        MSG_INTERNAL_ERROR::report("Error - could not find node in lab map while retrieving sublocation", "MORV",
                                   __FILE__, __LINE__);
    }
    *location = entry->second;
    const bool inside = location->x >= 0 && location->x < m_nx && location->y >= 0 && location->y < m_ny;
    MORV_ASSERT_TEXT(inside, "Error - retrieved invalid location");
    return true;
}

bool MORV_CHIP_MAP::get_node_xy(int node_id, int* x, int* y) const
{
    MORV_ASSERT(node_id != MORV_OPEN);
    MORV_ASSERT_TEXT(x && y, "x_loc_ptr && y_loc_ptr");
    MORV_LOC location;
    if (get_node_location(node_id, &location)) {
        *x = location.x;
        *y = location.y;
        return true;
    }
    MORV_DEBUG_STREAM::print(0, "Warning - could not find location for node id %d", node_id);
    *x = *y = -1;
    return false;
}

bool MORV_CHIP_MAP::get_atoms_preferred_location(int node_id, int* x, int* y, int* sub_loc, int* saved_info_index) const
{
    MORV_ASSERT_TEXT(x && y && sub_loc && saved_info_index,
                     "x_loc_ptr && y_loc_ptr && sub_loc_ptr && saved_info_index_ptr");
    MORV_LOC location;
    const bool found = get_node_location(node_id, &location);
    if (!found) MORV_DEBUG_STREAM::print(0, "Warning - could not find location for node id %d", node_id);
    *x = location.x;
    *y = location.y;
    *sub_loc = location.sub_loc;
    *saved_info_index = location.saved_info_index;
    return found;
}

bool MORV_CHIP_MAP::remove_node(int node_id)
{
    if (m_atom_id_to_lab_map == nullptr) return false;
    auto found = m_atom_id_to_lab_map->find(node_id);
    if (found == m_atom_id_to_lab_map->end()) return false;
    found->second->erase(node_id);
    m_atom_id_to_lab_map->erase(found);
    return true;
}

void MORV_CHIP_MAP::clear()
{
    MORV_ASSERT(m_atom_id_to_lab_map);
    for (auto& lab : *m_location_id_to_lab_map) lab.second->clear();
    m_atom_id_to_lab_map->clear();
}

bool MORV_CHIP_MAP::get_nodes_in_lab(MORV_LOC location, std::vector<int>* nodes_in_lab) const
{
    verify_location(location);
    MORV_ASSERT(nodes_in_lab);
    auto found = m_location_id_to_lab_map->find(location_id(location.x, location.y));
    if (found == m_location_id_to_lab_map->end()) return false;
    for (const auto& atom : *found->second) nodes_in_lab->push_back(atom.first);
    return !nodes_in_lab->empty();
}

int MORV_CHIP_MAP::get_number_of_placed_nodes() const
{
    return m_atom_id_to_lab_map ? static_cast<int>(m_atom_id_to_lab_map->size()) : 0;
}
