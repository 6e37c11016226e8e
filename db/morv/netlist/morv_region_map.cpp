#include "morv/netlist/morv_region_map.h"

#include "morv/core/morv_assert.h"

MORV_REGION_MAP::MORV_REGION_MAP(MORV_ENV* env, MORV_API* fsyn_api) : m_env(env), m_fsyn_api(fsyn_api)
{
    MORV_ASSERT(m_env);
    MORV_ASSERT(m_fsyn_api);
}
