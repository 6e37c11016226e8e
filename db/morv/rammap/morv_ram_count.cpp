// Free RAM blocks by kind: the device's RAM sites less the blocks the
// netlist's RAMs already take, RAMs that may share a block counted together.

#include <vector>

#include "cdb/cdb_atom_netlist.h"
#include "dev/dev_device.h"

#include "morv/core/morv_api.h"
#include "morv/core/morv_assert.h"
#include "morv/core/morv_debug_stream.h"
#include "morv/core/morv_env.h"
#include "morv/core/morv_global.h"
#include "morv/rammap/morv_ram_map_util.h"

namespace {

// RAMs of one compatibility set: the first one met stands for them all.
struct RAM_SET
{
    int m_representative;
    int m_size;
};

bool ram_map_debug()
{
    return s_morv_ram_map_debug;
}

std::vector<RAM_SET> compatibility_sets(CDB_ATOM_NETLIST* netlist, MORV_ENV* env)
{
    std::vector<RAM_SET> sets;
    for (CDB_ATOM_NODE* node : *netlist) {
        if (!node->is_ram()) continue;
        const int id = static_cast<int>(node->get_id());
        bool placed = false;
        for (RAM_SET& set : sets) {
            if (!env->can_share_ram_block(set.m_representative, id)) continue;
            ++set.m_size;
            if (ram_map_debug()) MORV_DEBUG_STREAM::print(100, "%d is equal to %d", id, set.m_representative);
            placed = true;
            break;
        }
        if (placed) continue;
        if (ram_map_debug()) MORV_DEBUG_STREAM::print(100, "%d is unique", id);
        sets.push_back({id, 1});
    }
    return sets;
}

// Takes the blocks the set needs from the counter when the kind holds
// such RAMs and enough blocks are left.
bool take_blocks(MORV_ENV* env, const RAM_SET& set, int kind, int& counter)
{
    const int capacity = env->get_rams_per_block(kind, set.m_representative);
    if (capacity == 0) return false;
    const int needed = (set.m_size - 1) / capacity + 1;
    if (counter < needed) return false;
    counter -= needed;
    return true;
}

}  // namespace

void MORV_RAM_MAP_UTIL::count_free_rams()
{
    for (int& count : m_ram_counts) count = 0;
    MORV_ASSERT_TEXT(m_fsyn_api->get_device_die_info(), "dev_die_info");
    MORV_ASSERT_TEXT(m_fsyn_api->get_duvo_die_info(), "duvo_die_info");
    const DUVO_PLACE_INFO* place_info = m_fsyn_api->get_duvo_place_info();
    MORV_ASSERT_TEXT(place_info, "place_info");
    m_ram_counts[MORV_RAM_COUNT_SMALL] = place_info->get_num_elements(DEV_RAM_BLOCK_SMALL);
    m_ram_counts[MORV_RAM_COUNT_MEDIUM] = place_info->get_num_elements(DEV_RAM_BLOCK_MEDIUM);
    m_ram_counts[MORV_RAM_COUNT_LARGE] = place_info->get_num_elements(DEV_RAM_BLOCK_LARGE);
    for (int i = 0; i < MORV_RAM_COUNT_SLOTS; ++i)
        MORV_DEBUG_STREAM::print(2, "TEST: ram_count[%d] = %d", i, m_ram_counts[i]);

    MORV_ENV* env = m_fsyn_api->get_morv_env();
    MORV_ASSERT_TEXT(env, "env");
    const std::vector<RAM_SET> sets = compatibility_sets(m_fsyn_api->get_atom_netlist(), env);
    for (size_t i = 0; i < sets.size(); ++i) {
        const RAM_SET& set = sets[i];
        if (ram_map_debug()) MORV_DEBUG_STREAM::print(100, "ram compat set[%d] = %d in size", int(i), set.m_size);
        if (take_blocks(env, set, DEV_RAM_BLOCK_SMALL, m_ram_counts[MORV_RAM_COUNT_SMALL])) continue;
        if (take_blocks(env, set, DEV_RAM_BLOCK_MEDIUM, m_ram_counts[MORV_RAM_COUNT_MEDIUM])) continue;
        if (take_blocks(env, set, DEV_RAM_BLOCK_LARGE, m_ram_counts[MORV_RAM_COUNT_LARGE])) continue;
        // Existing RAMs that fit nowhere leave nothing to map into.
        m_ram_counts[MORV_RAM_COUNT_SMALL] = m_ram_counts[MORV_RAM_COUNT_MEDIUM] = m_ram_counts[MORV_RAM_COUNT_LARGE] =
            0;
        break;
    }
    for (int i = 0; i < MORV_RAM_COUNT_SLOTS; ++i)
        MORV_DEBUG_STREAM::print(100, "TEST: ram_count[%d] = %d", i, m_ram_counts[i]);
}

void MORV_RAM_MAP_UTIL::consume_ram(int kind)
{
    if (kind == 0 && m_ram_counts[MORV_RAM_COUNT_SMALL] > 0) {
        --m_ram_counts[MORV_RAM_COUNT_SMALL];
        return;
    }
    MORV_ASSERT_TEXT(kind == 0 || kind == 1, "mapped invalid ram type");
    MORV_ASSERT_TEXT(m_ram_counts[MORV_RAM_COUNT_MEDIUM] > 0, "m_ram_counts[CDB_RAM_BLOCK_TYPE_MEDIUM] > 0");
    --m_ram_counts[MORV_RAM_COUNT_MEDIUM];
}
