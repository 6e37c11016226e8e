#include "morv/netlist/morv_region_map.h"

#include "morv/core/morv_assert.h"

MORV_REGION_MAP::MORV_REGION_MAP(MORV_ENV* env, MORV_API* fsyn_api) : m_env(env), m_fsyn_api(fsyn_api)
{
    MORV_ASSERT(m_env);
    MORV_ASSERT(m_fsyn_api);
}

// The map holds no regions until the region logic collects them, so there
// is nothing to count yet.
void MORV_REGION_MAP::node_added(CDB_ATOM_NODE* node)
{
    MORV_ASSERT(node);
}

void MORV_REGION_MAP::node_deleted(CDB_ATOM_NODE* node)
{
    MORV_ASSERT(node);
}

bool MORV_REGION_MAP::is_node_locked_by_region(CDB_ATOM_NODE* node) const
{
    MORV_ASSERT(node);
    return false;
}
