#include "morv/rtm/morv_rtm.h"

#include "morv/core/family/morv_family_traits.h"
#include "morv/core/morv_api.h"
#include "morv/core/morv_assert.h"

MORV_RTM::MORV_RTM(MORV_API* api) : m_fsyn_api(api), m_net_util(nullptr), m_mirror_lutmasks(false)
{
    MORV_ASSERT_TEXT(m_fsyn_api, "fsyn_api");
    m_net_util = m_fsyn_api->get_fsyn_net_util();
    MORV_ASSERT_TEXT(m_net_util, "m_net_util");
    MORV_RTM_SIGNAL::m_net_util = m_net_util;
    MORV_RTM_REG::m_net_util = m_net_util;
    m_mirror_lutmasks = morv_family_traits(m_fsyn_api->get_base_family_code()).m_mask_bits_reversed;
    m_register_secondary_signals = {DB_CLOCK, DB_CLOCK_ENABLE, DB_SYNCH_LOAD, DB_SYNCH_DATA, DB_SYNCH_CLEAR, DB_CLEAR};
    m_register_asynchronous_signals = {DB_ASYNCH_LOAD};
    m_mac_out_data_iterms = {DB_DATA_A, DB_DATA_B, DB_DATA_C, DB_DATA_D};
}

// Records made after the engine is gone would read a stale net utility;
// an engine made since keeps its own.
MORV_RTM::~MORV_RTM()
{
    if (MORV_RTM_SIGNAL::m_net_util == m_net_util) MORV_RTM_SIGNAL::m_net_util = nullptr;
    if (MORV_RTM_REG::m_net_util == m_net_util) MORV_RTM_REG::m_net_util = nullptr;
}
