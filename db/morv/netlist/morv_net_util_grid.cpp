// Routing delay samples of the LAB grid: what a typical connection between
// neighbouring logic locations costs, for algorithms that estimate a new
// connection before it is placed.

#include <optional>
#include <vector>

#include "cdb/cdb_atom_node.h"

#include "morv/core/family/morv_family_traits.h"
#include "morv/core/morv_api.h"
#include "morv/core/morv_assert.h"
#include "morv/core/morv_env.h"
#include "morv/netlist/morv_chip_map.h"
#include "morv/netlist/morv_net_util.h"
#include "morv/netlist/morv_net_util_family.h"

namespace {

struct GRID_SUM
{
    long long sum = 0;
    int count = 0;
};

// Adds the delays from (x, y) to the 3×3 block round it; a location off the
// grid or closed to logic cells ends its row.
void add_neighbour_delays(MORV_API* api, const MORV_CHIP_MAP& map, int x, int y, int drive, GRID_SUM& total)
{
    for (int nx = x - 1; nx <= x + 1; ++nx) {
        for (int ny = y - 1; ny <= y + 1; ++ny) {
            const bool on_grid = nx >= 0 && ny >= 0 && nx < map.get_nx() && ny < map.get_ny();
            if (!on_grid || !api->can_lcell_go_to_location(nx, ny)) break;
            total.sum += api->get_routing_delay(x, y, nx, ny, drive);
            ++total.count;
        }
    }
}

// Without a chip map (no placed flow has made one) there is no grid: every
// sample answers 0.
const MORV_CHIP_MAP* chip_map_of(MORV_API* api)
{
    MORV_ASSERT(api);
    return api->get_fsyn_chip_map();
}

// The output an MRL sample location is measured from: the comb-out of a
// combinational cell or the reg-out of a register cell placed there first.
CDB_ATOM_OTERM* sample_output(MORV_API* api, const MORV_CHIP_MAP& map, int x, int y, bool* has_node)
{
    MORV_LOC location;
    location.x = x;
    location.y = y;
    std::vector<int> atoms;
    *has_node = false;
    if (!map.get_nodes_in_lab(location, &atoms) || atoms.empty()) return nullptr;
    CDB_ATOM_NODE* node = api->get_morv_env()->get_node(atoms.front());
    MORV_ASSERT_TEXT(node, "sample_node");
    *has_node = true;
    if (node->is_lcell_comb()) return node->get_output_term_by_type(DB_COMB_OUT);
    if (node->is_register()) return node->get_output_term_by_type(DB_REG_OUT);
    *has_node = false;
    return nullptr;
}

int drive_strength_of(MORV_API* api, CDB_ATOM_OTERM* output)
{
    if (!morv_family_traits(api->get_base_family_code()).m_fl_cells) return -1;
    return api->get_morv_env()->get_oterm_fl_id(output);
}

// Visits the locations that can hold a logic cell, column by column, until
// one gives an answer; 0 when none does or there is no grid.
template <class VISIT>
int first_logic_location_answer(MORV_API* api, VISIT visit)
{
    const MORV_CHIP_MAP* grid = chip_map_of(api);
    if (grid == nullptr) return 0;
    for (int x = 0; x < grid->get_nx(); ++x) {
        for (int y = 0; y < grid->get_ny(); ++y) {
            if (!api->can_lcell_go_to_location(x, y)) continue;
            if (const std::optional<int> answer = visit(*grid, x, y)) return *answer;
        }
    }
    return 0;
}

}  // namespace

int MORV_NET_UTIL::grid_average_neighbour_delay() const
{
    return first_logic_location_answer(m_api, [&](const MORV_CHIP_MAP& map, int x, int y) -> std::optional<int> {
        GRID_SUM around;
        add_neighbour_delays(m_api, map, x, y, -1, around);
        if (around.count != 9) return std::nullopt;
        return static_cast<int>(around.sum / 9);
    });
}

int MORV_NET_UTIL::grid_sample_location_delay() const
{
    return first_logic_location_answer(m_api, [&](const MORV_CHIP_MAP&, int x, int y) -> std::optional<int> {
        const int delay = m_api->get_routing_delay(x, y, x, y, -1);
        MORV_ASSERT_TEXT(delay >= 0, "delay_in_pico_seconds >= 0");
        return delay;
    });
}

// The average over the first ten sampled locations that hold a logic cell,
// each measured with its own output's drive strength.
int MORV_NET_UTIL_MRL::get_average_neighbour_delay() const
{
    GRID_SUM total;
    int sampled = 0;
    return first_logic_location_answer(m_api, [&](const MORV_CHIP_MAP& map, int x, int y) -> std::optional<int> {
        bool has_node = false;
        CDB_ATOM_OTERM* output = sample_output(m_api, map, x, y, &has_node);
        if (!has_node) return std::nullopt;
        if (output != nullptr && output->has_fanout()) {
            const int before = total.count;
            add_neighbour_delays(m_api, map, x, y, drive_strength_of(m_api, output), total);
            if (total.count > before) ++sampled;
        }
        if (sampled <= 9) return std::nullopt;
        return static_cast<int>(total.sum / total.count);
    });
}

int MORV_NET_UTIL_MRL::get_sample_location_delay() const
{
    return first_logic_location_answer(m_api, [&](const MORV_CHIP_MAP& map, int x, int y) -> std::optional<int> {
        bool has_node = false;
        CDB_ATOM_OTERM* output = sample_output(m_api, map, x, y, &has_node);
        if (output == nullptr) return std::nullopt;
        return m_api->get_routing_delay(x, y, x, y, drive_strength_of(m_api, output));
    });
}
