#include "morv/netlist/morv_region_map.h"

#include <algorithm>
#include <climits>
#include <set>

#include "cdb/cdb_atom_netlist.h"
#include "dev/dev_device.h"
#include "gen/gen.h"

#include "morv/core/family/morv_family_traits.h"
#include "morv/core/morv_api.h"
#include "morv/core/morv_assert.h"
#include "morv/core/morv_debug_stream.h"
#include "morv/core/morv_env.h"
#include "morv/core/morv_expert.h"
#include "morv/netlist/morv_chip_map.h"

namespace {

// Floating regions have no rectangle: they are filed under the whole plane.
const MORV_REGION_COORDINATES WHOLE_PLANE = {0, 0, INT_MAX, INT_MAX};

bool is_region_lab_block(int block_type)
{
    return block_type == DEV_BLOCK_LAB || block_type == DEV_BLOCK_LAB_499 || block_type == DEV_BLOCK_LAB_589 ||
           block_type == DEV_BLOCK_LAB_590;
}

bool is_expert_in_late_flow(MORV_API* api)
{
    MORV_EXPERT* expert = api->get_fsyn_expert();
    return expert != nullptr && expert->is_fsyn_running(LATE_FSYN_FLOW);
}

}  // namespace

// ------------------------------------------------------------------ regions

MORV_REGION::MORV_REGION(MORV_ENV* env, MORV_API* fsyn_api)
    : m_env(env), m_fsyn_api(fsyn_api),
      m_elements_per_lab(morv_family_traits(fsyn_api->get_base_family_code()).m_region_elements_per_lab)
{}

MORV_REGION::~MORV_REGION() = default;

void MORV_REGION::count_node(CDB_ATOM_NODE* node, int sign)
{
    const bool every_atom_a_lut =
        morv_family_traits(m_fsyn_api->get_base_family_code()).m_lab_lut_count == MORV_LAB_LUTS_EVERY_ATOM;
    if (every_atom_a_lut || node->is_lcell_comb()) m_lut_count += sign;
    else m_ff_count += sign;
}

void MORV_REGION::print_contents()
{
    if (m_lut_capacity == -1) m_lut_capacity = m_ff_capacity = get_capacity();
    MORV_DEBUG_STREAM::print(100, "Contains %d  luts and %d registers out of a possible %d elements", m_lut_count,
                             m_ff_count, m_ff_capacity + m_lut_capacity);
    MORV_DEBUG_STREAM::print(100, "Fraction of luts used is %g",
                             static_cast<double>(static_cast<float>(m_lut_count) / static_cast<float>(m_lut_capacity)));
    MORV_DEBUG_STREAM::print(100, "Fraction of ffs used is %g",
                             static_cast<double>(static_cast<float>(m_ff_count) / static_cast<float>(m_ff_capacity)));
    MORV_DEBUG_STREAM::print(100, "\n\n");
}

void MORV_REGION_LOCKED::set_corners(int xmin, int xmax, int ymin, int ymax)
{
    MORV_ASSERT(xmin != MORV_OPEN && xmax != MORV_OPEN && ymin != MORV_OPEN && ymax != MORV_OPEN);
    m_xmin = xmin;
    m_xmax = xmax;
    m_ymin = ymin;
    m_ymax = ymax;
    m_lut_capacity = m_ff_capacity = -1;
    reset_counts();
}

void MORV_REGION_LOCKED::compute_capacity()
{
    MORV_ASSERT(m_xmin != MORV_OPEN && m_xmax != MORV_OPEN && m_ymin != MORV_OPEN && m_ymax != MORV_OPEN);
    m_lut_capacity = m_ff_capacity = get_capacity();
}

bool MORV_REGION_LOCKED::is_same_region(const MORV_REGION* other) const
{
    if (other->get_kind() != MORV_REGION_KIND_LOCKED) return false;
    return static_cast<const MORV_REGION_LOCKED*>(other)->get_corners() == get_corners();
}

// Positions beyond the grid hold no block: only the part of the rectangle
// on the grid is visited, however far the user's corners reach.
int MORV_REGION_LOCKED::get_capacity() const
{
    if (m_xmin > m_xmax) return 0;
    const int x_last = std::min(m_xmax, m_env->get_grid_nx() - 1);
    const int y_last = std::min(m_ymax, m_env->get_grid_ny() - 1);
    int labs = 0;
    for (int x = std::max(m_xmin, 0); x <= x_last; ++x)
        for (int y = std::max(m_ymin, 0); y <= y_last; ++y)
            if (is_region_lab_block(m_env->get_block_type(x, y, 0))) ++labs;
    return m_elements_per_lab * labs;
}

bool MORV_REGION_LOCKED::contains(CDB_ATOM_NODE* node) const
{
    int x1 = -1, y1 = -1, x2 = -1, y2 = -1;
    if (!m_env->get_node_locked_region(node, &x1, &y1, &x2, &y2)) return false;
    if (is_expert_in_late_flow(m_fsyn_api)) {
        MORV_CHIP_MAP* chip_map = m_fsyn_api->get_fsyn_chip_map();
        int x = -1, y = -1;
        if (chip_map != nullptr) chip_map->get_node_xy(static_cast<int>(node->get_id()), &x, &y);
        return x >= m_xmin && x <= m_xmax && y >= m_ymin && y <= m_ymax;
    }
    MORV_EXPERT* expert = m_fsyn_api->get_fsyn_expert();
    MORV_ASSERT_TEXT(expert != nullptr && expert->is_fsyn_running_pre_placement_fsyn(),
                     "m_fsyn_api->get_fsyn_expert()->is_fsyn_running_pre_placement_fsyn()");
    return x1 == m_xmin && y1 == m_ymin && x2 == m_xmax && y2 == m_ymax;
}

void MORV_REGION_LOCKED::print()
{
    MORV_DEBUG_STREAM::print(100, "/////////LOCKED REGION/////////");
    MORV_DEBUG_STREAM::print(100, "Opposite corners at (%d,%d) - (%d,%d)", m_xmin, m_ymin, m_xmax, m_ymax);
    print_contents();
}

MORV_REGION_FLOATING::MORV_REGION_FLOATING(MORV_ENV* env, MORV_API* fsyn_api, int region_id)
    : MORV_REGION(env, fsyn_api), m_region_id(region_id)
{}

bool MORV_REGION_FLOATING::is_same_region(const MORV_REGION* other) const
{
    if (other->get_kind() != MORV_REGION_KIND_FLOATING) return false;
    return static_cast<const MORV_REGION_FLOATING*>(other)->get_region_id() == m_region_id;
}

int MORV_REGION_FLOATING::get_capacity() const
{
    return m_elements_per_lab * m_env->get_floating_region_lab_count(m_region_id);
}

bool MORV_REGION_FLOATING::contains(CDB_ATOM_NODE* node) const
{
    return m_env->get_node_kardel_region(node) == m_region_id;
}

void MORV_REGION_FLOATING::print()
{
    MORV_DEBUG_STREAM::print(100, "/////////Floating REGION/////////");
    MORV_DEBUG_STREAM::print(100, "Floating Region with id %d", m_region_id);
    print_contents();
}

// ------------------------------------------------------------------ the map

MORV_REGION_MAP::MORV_REGION_MAP(MORV_ENV* env, MORV_API* fsyn_api) : m_env(env), m_fsyn_api(fsyn_api)
{
    MORV_ASSERT(m_env);
    MORV_ASSERT(m_fsyn_api);
}

MORV_REGION_MAP::~MORV_REGION_MAP()
{
    clear();
}

bool MORV_REGION_MAP::is_late_flow() const
{
    return is_expert_in_late_flow(m_fsyn_api);
}

void MORV_REGION_MAP::clear()
{
    for (const auto& region : m_regions) MORV_ASSERT_TEXT(region, "region");
    m_regions.clear();
    m_rectangle_index.clear();
    m_root_segment.reset();
}

void MORV_REGION_MAP::add_region(MORV_OWNER<MORV_REGION> region, int xmin, int ymin, int xmax, int ymax)
{
    MORV_ASSERT(region);
    MORV_ASSERT(m_root_segment);
    m_regions.push_back(std::move(region));
    const int id = static_cast<int>(m_regions.size());
    const MORV_REGION_COORDINATES rectangle = {xmin, ymin, xmax, ymax};
    m_root_segment->insert(rectangle, id);
    m_rectangle_index[rectangle].push_back(id);
}

bool MORV_REGION_MAP::has_same_region(const MORV_REGION* candidate) const
{
    for (const auto& region : m_regions)
        if (region->get_kind() == candidate->get_kind() && candidate->is_same_region(region.get())) return true;
    return false;
}

void MORV_REGION_MAP::initialize(CDB_ATOM_NETLIST* netlist)
{
    GEN_PROFILER profile("MORV_REGION_MAP::initialize");
    MORV_ASSERT(m_root_segment == NULL);
    m_root_segment = MORV_MAKE_OWNER(MORV_REGION_SEGMENT, WHOLE_PLANE, 0);
    m_regions.clear();
    if (!morv_family_traits(m_fsyn_api->get_base_family_code()).m_placement_regions) return;
    MORV_ASSERT(netlist);

    // Rectangles and ids met before, made into a region or not: each is
    // judged once, however many nodes name it.
    std::set<MORV_REGION_COORDINATES> rectangles_seen;
    std::set<int> floating_ids_seen;
    for (CDB_ATOM_NODE* node : *netlist) {
        if (node == nullptr) continue;
        MORV_REGION_COORDINATES corners;
        if (m_env->get_node_locked_region(node, &corners.xmin, &corners.ymin, &corners.xmax, &corners.ymax)) {
            MORV_ASSERT_TEXT(corners.xmin != MORV_OPEN && corners.xmax != MORV_OPEN && corners.ymin != MORV_OPEN &&
                                 corners.ymax != MORV_OPEN,
                             "xmin != MORV_OPEN && xmax != MORV_OPEN && ymin != MORV_OPEN && ymax != MORV_OPEN");
            if (rectangles_seen.insert(corners).second) add_locked_region(corners);
            continue;
        }
        const int region_id = m_env->get_node_kardel_region(node);
        if (region_id == MORV_OPEN) continue;
        if (floating_ids_seen.insert(region_id).second) add_floating_region(region_id);
    }
}

// A rectangle without LAB blocks makes no region.
void MORV_REGION_MAP::add_locked_region(const MORV_REGION_COORDINATES& corners)
{
    MORV_OWNER<MORV_REGION_LOCKED> region = MORV_MAKE_OWNER(MORV_REGION_LOCKED, m_env, m_fsyn_api);
    region->set_corners(corners.xmin, corners.xmax, corners.ymin, corners.ymax);
    region->compute_capacity();
    if (region->get_lut_capacity() + region->get_ff_capacity() == 0) return;
    add_region(std::move(region), corners.xmin, corners.ymin, corners.xmax, corners.ymax);
}

// A floating region the host gives no LABs makes no region.
void MORV_REGION_MAP::add_floating_region(int region_id)
{
    MORV_OWNER<MORV_REGION_FLOATING> region = MORV_MAKE_OWNER(MORV_REGION_FLOATING, m_env, m_fsyn_api, region_id);
    const int capacity = region->get_capacity();
    if (capacity == 0) return;
    region->set_capacities(capacity);
    add_region(std::move(region), WHOLE_PLANE.xmin, WHOLE_PLANE.ymin, WHOLE_PLANE.xmax, WHOLE_PLANE.ymax);
}

void MORV_REGION_MAP::get_node_regions(CDB_ATOM_NODE* node, std::vector<int>* out) const
{
    if (m_regions.empty()) return;
    std::vector<int> candidates;
    if (is_late_flow()) {
        int x = -1, y = -1;
        MORV_CHIP_MAP* chip_map = m_fsyn_api->get_fsyn_chip_map();
        if (chip_map != nullptr) chip_map->get_node_xy(static_cast<int>(node->get_id()), &x, &y);
        m_root_segment->lookup(x, y, &candidates);
    } else {
        MORV_REGION_COORDINATES corners;
        if (!m_env->get_node_locked_region(node, &corners.xmin, &corners.ymin, &corners.xmax, &corners.ymax)) return;
        auto found = m_rectangle_index.find(corners);
        if (found == m_rectangle_index.end()) return;
        candidates = found->second;
    }
    for (int id : candidates)
        if (m_regions[static_cast<size_t>(id - 1)]->contains(node)) out->push_back(id - 1);
}

void MORV_REGION_MAP::recount_region_contents(CDB_ATOM_NETLIST* netlist)
{
    for (const auto& region : m_regions) region->reset_counts();
    if (m_regions.empty()) return;
    MORV_ASSERT(netlist);
    std::vector<int> positions;
    for (CDB_ATOM_NODE* node : *netlist) {
        if (node == nullptr) continue;
        positions.clear();
        get_node_regions(node, &positions);
        for (int position : positions) m_regions[static_cast<size_t>(position)]->count_node(node, 1);
    }
}

void MORV_REGION_MAP::node_added(CDB_ATOM_NODE* node)
{
    MORV_ASSERT(node);
    for (const auto& region : m_regions)
        if (region->contains(node)) region->count_node(node, 1);
}

void MORV_REGION_MAP::node_deleted(CDB_ATOM_NODE* node)
{
    MORV_ASSERT(node);
    for (const auto& region : m_regions)
        if (region->contains(node)) region->count_node(node, -1);
}

bool MORV_REGION_MAP::is_node_locked_by_region(CDB_ATOM_NODE* node) const
{
    MORV_ASSERT(node);
    return false;
}
