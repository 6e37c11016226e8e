#include "morv/netlist/morv_chip_map.h"

#include "cdb/cdb_atom_netlist.h"
#include "msg/msg.h"

#include "morv/core/family/morv_family_traits.h"
#include "morv/core/morv_api.h"
#include "morv/core/morv_assert.h"
#include "morv/core/morv_debug_stream.h"
#include "morv/core/morv_expert.h"
#include "morv/netlist/morv_net_util.h"

namespace {

// Cells of one ALE are four sub-locations apart in pairs: sub-location s
// of an ALE shares it with (s + s mod 2 + 2) mod 4.
constexpr int ALE_SUB_LOCATIONS = 4;

}  // namespace

MORV_CHIP_MAP::MORV_CHIP_MAP(MORV_API* api, int nx, int ny)
    : m_api(api), m_cdb_interface(nullptr), m_nx(nx), m_ny(ny), m_lab_capacity(-1)
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

// The copy holds every atom where the original has it.
MORV_CHIP_MAP::MORV_CHIP_MAP(const MORV_CHIP_MAP& other)
    : m_api(other.m_api), m_cdb_interface(other.m_cdb_interface), m_nx(other.m_nx), m_ny(other.m_ny),
      m_lab_capacity(other.m_lab_capacity)
{
    if (other.m_location_id_to_lab_map == nullptr) return;
    create_maps();
    other.for_each_placed_node([this](int node_id, const MORV_LOC& location) {
        verify_location(location);
        place(node_id, location);
    });
}

MORV_CHIP_MAP::MORV_CHIP_MAP(const MORV_CHIP_MAP_IMAGE& image)
    : m_api(image.m_api), m_cdb_interface(image.m_cdb_interface), m_nx(image.m_nx), m_ny(image.m_ny),
      m_lab_capacity(image.m_lab_capacity)
{
    if (!image.m_has_maps) return;
    create_maps();
    for (const auto& [node_id, location] : image.m_placed) {
        verify_location(location);
        place(node_id, location);
    }
}

MORV_CHIP_MAP_IMAGE MORV_CHIP_MAP::get_image() const
{
    MORV_CHIP_MAP_IMAGE image;
    image.m_api = m_api;
    image.m_cdb_interface = m_cdb_interface;
    image.m_nx = m_nx;
    image.m_ny = m_ny;
    image.m_lab_capacity = m_lab_capacity;
    image.m_has_maps = m_location_id_to_lab_map != nullptr;
    if (m_atom_id_to_lab_map != nullptr) image.m_placed.reserve(m_atom_id_to_lab_map->size());
    for_each_placed_node(
        [&image](int node_id, const MORV_LOC& location) { image.m_placed.emplace_back(node_id, location); });
    return image;
}

MORV_CHIP_MAP::~MORV_CHIP_MAP() = default;

void MORV_CHIP_MAP::create_maps()
{
    MORV_ASSERT(m_atom_id_to_lab_map == NULL);
    m_atom_id_to_lab_map = MORV_MAKE_OWNER(ATOM_INDEX);
    MORV_ASSERT(m_location_id_to_lab_map == NULL);
    m_location_id_to_lab_map = MORV_MAKE_OWNER(LAB_INDEX);
    MORV_ASSERT(m_atom_id_to_lab_map);
    MORV_ASSERT(m_location_id_to_lab_map);
}

void MORV_CHIP_MAP::verify_location(const MORV_LOC& location) const
{
    const bool ok = location.x >= 0 && location.x < m_nx && location.y >= 0 && location.y < m_ny;
    MORV_ASSERT_TEXT(ok, "verify_location( location )");
}

bool MORV_CHIP_MAP::is_pre_placement() const
{
    MORV_EXPERT* expert = m_api->get_fsyn_expert();
    return expert != nullptr && expert->is_fsyn_running_pre_placement_fsyn();
}

const MORV_CHIP_MAP::LAB* MORV_CHIP_MAP::find_lab(const MORV_LOC& location) const
{
    MORV_ASSERT(m_location_id_to_lab_map);
    auto found = m_location_id_to_lab_map->find(location_id(location.x, location.y));
    return found == m_location_id_to_lab_map->end() ? nullptr : found->second.get();
}

void MORV_CHIP_MAP::set_node_location(int node_id, MORV_LOC location)
{
    verify_location(location);
    MORV_ASSERT(m_location_id_to_lab_map);
    remove_node(node_id);
    // An open sub-location stays open: the placer picks the position, and a
    // position the map made up would pair the atom with an ALE partner it
    // will not have.
    place(node_id, location);
}

void MORV_CHIP_MAP::place_new_node_near(int node_id, const MORV_LOC& near)
{
    MORV_LOC target;
    target.x = near.x == 0 ? 1 : near.x;
    if (target.x == m_nx - 1) --target.x;
    target.y = near.y == 0 ? 1 : near.y;
    if (target.y == m_ny - 1) --target.y;
    set_node_location(node_id, target);
}

void MORV_CHIP_MAP::place(int node_id, MORV_LOC location)
{
    const int id = location_id(location.x, location.y);
    MORV_OWNER<LAB>& slot = (*m_location_id_to_lab_map)[id];
    if (slot == nullptr) slot = MORV_MAKE_OWNER(LAB);
    LAB* lab = slot.get();
    lab->m_atoms.emplace(node_id, location);
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
    auto entry = found->second->m_atoms.find(node_id);
    if (entry == found->second->m_atoms.end()) {
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
    LAB* lab = found->second;
    lab->m_atoms.erase(node_id);
    m_atom_id_to_lab_map->erase(found);
    return true;
}

void MORV_CHIP_MAP::clear()
{
    MORV_ASSERT(m_atom_id_to_lab_map);
    for (auto& lab : *m_location_id_to_lab_map) lab.second->m_atoms.clear();
    m_atom_id_to_lab_map->clear();
}

int MORV_CHIP_MAP::get_num_luts_in_lab(MORV_LOC location) const
{
    verify_location(location);
    const LAB* lab = find_lab(location);
    if (lab == nullptr) return 0;
    const MORV_LAB_LUT_COUNT rule = morv_family_traits(m_api->get_base_family_code()).m_lab_lut_count;
    if (rule == MORV_LAB_LUTS_EVERY_ATOM) return static_cast<int>(lab->m_atoms.size());
    if (rule != MORV_LAB_LUTS_COMB_CELLS) {
        MSG_INTERNAL_ERROR::report("Error -- unknown family code", "MORV", __FILE__, __LINE__);
    }
    int luts = 0;
    for (const auto& atom : lab->m_atoms) {
        CDB_ATOM_NODE* node = m_api->get_node(atom.first);
        MORV_ASSERT(node);
        if (node->is_lcell_comb()) ++luts;
    }
    return luts;
}

bool MORV_CHIP_MAP::get_nodes_in_lab(MORV_LOC location, std::vector<int>* nodes_in_lab) const
{
    verify_location(location);
    MORV_ASSERT(nodes_in_lab);
    const LAB* lab = find_lab(location);
    if (lab == nullptr) return false;
    for (const auto& atom : lab->m_atoms) nodes_in_lab->push_back(atom.first);
    return !nodes_in_lab->empty();
}

int MORV_CHIP_MAP::get_node_at_location(MORV_LOC location) const
{
    verify_location(location);
    if (location.sub_loc < 0) {
        MORV_DEBUG_STREAM::print(0, "Warning - cannot get node at specific location with invalid sub location");
        return MORV_OPEN;
    }
    const LAB* lab = find_lab(location);
    if (lab == nullptr) return MORV_OPEN;
    for (const auto& atom : lab->m_atoms)
        if (atom.second.sub_loc == location.sub_loc) return atom.first;
    return MORV_OPEN;
}

int MORV_CHIP_MAP::get_number_of_used_labs() const
{
    if (m_location_id_to_lab_map == nullptr) return 0;
    MORV_NET_UTIL* net_util = m_api->get_fsyn_net_util();
    int used = 0;
    for (const auto& lab : *m_location_id_to_lab_map) {
        for (const auto& atom : lab.second->m_atoms) {
            // An atom the host has dropped since it was placed holds nothing.
            CDB_ATOM_NODE* node = m_api->get_node(atom.first);
            if (node != nullptr && (node->is_lcell_comb() || net_util->is_ff(node))) {
                ++used;
                break;
            }
        }
    }
    return used;
}

int MORV_CHIP_MAP::get_number_of_placed_nodes() const
{
    return m_atom_id_to_lab_map ? static_cast<int>(m_atom_id_to_lab_map->size()) : 0;
}

// ------------------------------------------------------------------ ALE partners

int MORV_CHIP_MAP::find_ale_partner_node(int node_id) const
{
    return is_pre_placement() ? find_ale_partner_in_carry_chain(node_id) : find_ale_partner_after_placement(node_id);
}

int MORV_CHIP_MAP::find_ale_partner_after_placement(int node_id) const
{
    CDB_ATOM_NODE* node = m_api->get_node(node_id);
    MORV_ASSERT(node);
    int partner = MORV_OPEN;
    MORV_LOC location;
    int partner_sub_loc = MORV_OPEN;
    if (!m_api->get_fsyn_net_util()->is_lcell(node)) {
        MORV_DEBUG_STREAM::print(0, "Warning - cannot query ale clustering for non-lcell nodes");
    } else if (!get_node_location(node_id, &location)) {
        MORV_DEBUG_STREAM::print(0, "Warning - cannot query ale clustering without a valid location for the "
                                    "reference node");
    } else if (location.sub_loc < 0) {
        MORV_DEBUG_STREAM::print(0, "Warning - cannot query ale clustering without an exact sublocation for the "
                                    "reference node");
    } else {
        const int ale = location.sub_loc / ALE_SUB_LOCATIONS;
        const int within = location.sub_loc % ALE_SUB_LOCATIONS;
        MORV_DEBUG_STREAM::print(100, "location sub_loc %d gets ale index %d and ale subloc %d", location.sub_loc, ale,
                                 within);
        partner_sub_loc = (within + within % 2 + 2) % ALE_SUB_LOCATIONS;
        MORV_DEBUG_STREAM::print(100, "find lut sub loc %d", partner_sub_loc);
        partner = get_node_at_location(MORV_LOC{location.x, location.y, ale * ALE_SUB_LOCATIONS + partner_sub_loc, -1});
    }
    MORV_DEBUG_STREAM::print(100, "node id at find lut sub loc %d", partner);
    return partner;
}

CDB_ATOM_NODE* MORV_CHIP_MAP::previous_in_carry_chain(CDB_ATOM_NODE* node) const
{
    CDB_ATOM_ITERM* in = node->get_input_term_by_type(DB_CARRY_IN);
    if (in == nullptr || !in->is_connected()) in = node->get_input_term_by_type(DB_SHARE_IN);
    if (in == nullptr || !in->is_connected() || in->get_source() == nullptr) return nullptr;
    CDB_ATOM_NODE* previous = in->get_source()->get_my_node();
    MORV_ASSERT_TEXT(previous, "node");
    return previous;
}

CDB_ATOM_NODE* MORV_CHIP_MAP::next_in_carry_chain(CDB_ATOM_NODE* node) const
{
    CDB_ATOM_OTERM* out = node->get_output_term_by_type(DB_CARRY_OUT);
    if (out == nullptr || !out->has_fanout()) out = node->get_output_term_by_type(DB_SHARE_OUT);
    if (out == nullptr || !out->has_fanout()) return nullptr;
    return out->get_first_fanout()->get_my_node();
}

// Cells pair up two by two from the chain's head: an even position goes
// with the next cell, an odd one with the previous.
int MORV_CHIP_MAP::find_ale_partner_in_carry_chain(int node_id) const
{
    CDB_ATOM_NODE* node = m_api->get_node(node_id);
    MORV_ASSERT(node);
    MORV_NET_UTIL* net_util = m_api->get_fsyn_net_util();
    MORV_ASSERT_TEXT(net_util, "net_util");
    // Only cells that carry a LUT can be in a chain; the chain test takes no
    // other (a register is a logic cell too in some families).
    const bool lut_cell = node->is_lcell_comb() || node->is_lcell_hsadder() || node->is_lcell();
    if (!net_util->is_lcell(node) || !lut_cell || !net_util->is_lcell_part_of_a_carry_chain(node)) return MORV_OPEN;

    // A chain that led back into itself would never reach a head.
    const size_t steps_allowed = m_api->get_atom_netlist()->get_node_count();
    CDB_ATOM_NODE* head = node;
    size_t steps = 0;
    for (CDB_ATOM_NODE* previous = previous_in_carry_chain(head); previous != nullptr;
         previous = previous_in_carry_chain(head)) {
        head = previous;
        MORV_ASSERT_TEXT(++steps <= steps_allowed, "carry chain without a head");
    }

    std::vector<int> chain;
    int ref_idx = -1;
    for (CDB_ATOM_NODE* cell = head; cell != nullptr && chain.size() <= steps_allowed;) {
        if (cell == node) ref_idx = static_cast<int>(chain.size());
        chain.push_back(static_cast<int>(cell->get_id()));
        // The partner of an even position is the next cell: one more step.
        if (ref_idx >= 0 && (ref_idx % 2 == 1 || static_cast<int>(chain.size()) > ref_idx + 1)) break;
        cell = next_in_carry_chain(cell);
    }
    MORV_ASSERT(ref_idx >= 0);
    if (ref_idx % 2 == 1) return chain[ref_idx - 1];
    return ref_idx + 1 < static_cast<int>(chain.size()) ? chain[ref_idx + 1] : MORV_OPEN;
}
