#include "morv/netlist/morv_inst_asgn_mgr.h"

#include "morv/core/morv_assert.h"

MORV_INST_ASGN_MGR::MORV_INST_ASGN_MGR(MORV_API* fsyn_api) : m_fsyn_api(fsyn_api)
{
    MORV_ASSERT(m_fsyn_api);
}

void MORV_INST_ASGN_MGR::initialize()
{
    m_flag_mask = 0;
    m_initialized = true;
}
