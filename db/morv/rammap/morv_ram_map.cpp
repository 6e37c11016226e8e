// The RAM-mapping algorithm: parameters, the family's RAM utility and one
// iteration around the cluster manager's RAM flow.

#include "morv/rammap/morv_ram_map.h"

#include "cfg/cfg.h"

#include "morv/core/family/morv_family_traits.h"
#include "morv/core/morv_api.h"
#include "morv/core/morv_assert.h"
#include "morv/core/morv_debug_stream.h"
#include "morv/core/morv_expert.h"
#include "morv/core/morv_msgs.h"
#include "morv/rammap/morv_ram_cluster_growth.h"
#include "morv/rammap/morv_ram_cluster_manager.h"
#include "morv/rammap/morv_ram_map_util.h"

MORV_RAM_MAP::MORV_RAM_MAP(MORV_API* api, const MORV_PARAMETER_MAP* params) : MORV_ALGORITHM_BASE(api, params)
{
    MORV_ASSERT_TEXT(m_fsyn_api, "m_fsyn_api");
    m_net_util = m_fsyn_api->peek_fsyn_net_util();
    MORV_ASSERT_TEXT(m_net_util, "m_net_util");
    m_fsyn_cdb_interface = m_cdb_interface;
    MORV_ASSERT_TEXT(m_fsyn_cdb_interface, "m_fsyn_cdb_interface");
    MORV_DEBUG_STREAM::print(2, "MORV_RAM_MAP Created.");
}

MORV_RAM_MAP::~MORV_RAM_MAP()
{
    MORV_DEBUG_STREAM::print(2, "MORV_RAM_MAP Destroyed");
}

void MORV_RAM_MAP::set_default_algorithm_parameters(int& num_passes, int& icp_at_end, double& fom_to_accept,
                                                    int& restore_netlist)
{
    if (num_passes == s_UNSET_INT) num_passes = 1;
    if (icp_at_end == s_UNSET_INT) icp_at_end = 0;
    if (fom_to_accept == s_UNSET_DOUBLE) fom_to_accept = 0.0;
    if (restore_netlist == s_UNSET_INT) restore_netlist = 1;
}

void MORV_RAM_MAP::set_default_pass_parameters(int, int& num_iters, int& hill_climb_iters)
{
    if (num_iters == s_UNSET_INT) num_iters = 10;
    if (hill_climb_iters == s_UNSET_INT) hill_climb_iters = num_iters;
    if (m_slack_ratio_threshold == s_UNSET_DOUBLE)
        m_slack_ratio_threshold = cfg_is_on("fsyn_ram_map_use_aggressive_srt", false) ? 0.0 : 0.125;
}

namespace {

// A run that builds nothing says why, once per run: the user asked for it.
void morv_ram_map_say_nothing_built(MORV_API* api, const char* reason)
{
    MORV_DEBUG_STREAM::print(1, "RAM_MAP: %s; no RAM is built.", reason);
    MSG_I* msg = new MSG_I();
    msg->fill_args("Logic to memory mapping builds no memory blocks on the %1!s! family: "
                   "%2!s!/IMORV_FSYN_LOGIC_TO_MEMORY_MAPPING_NOT_RUN",
                   morv_family_traits(api->get_base_family_code()).m_name, reason);
    const MORV_EXPERT* expert = api->get_fsyn_expert();
    morv_send_msg(msg, expert != nullptr && expert->are_messages_suppressed());
}

}  // namespace

MORV_OWNER<MORV_RAM_MAP_UTIL> MORV_RAM_MAP::create_ram_map_util(MORV_API* api)
{
    MORV_OWNER<MORV_RAM_MAP_UTIL> util = MORV_RAM_MAP_UTIL::create_for_family(api);
    if (!util) morv_ram_map_say_nothing_built(api, "the family has no RAM utility");
    return util;
}

bool MORV_RAM_MAP::may_map() const
{
    // Every RAM edit would stop the compile half-way when the change log
    // is written, so nothing is started.
    if (m_fsyn_api->is_fsyn_logging_on()) {
        morv_ram_map_say_nothing_built(m_fsyn_api, "change logging is on and RAM mapping cannot be logged");
        return false;
    }
    return true;
}

int MORV_RAM_MAP::do_iter()
{
    if (!may_map()) return 0;
    MORV_OWNER<MORV_RAM_MAP_UTIL> util = create_ram_map_util(m_fsyn_api);
    if (!util) return 0;
    util->prepare_cluster_carry_chains();
    if (util->get_ram_count(MORV_RAM_COUNT_SMALL) < 1 && util->get_ram_count(MORV_RAM_COUNT_MEDIUM) < 1) {
        MORV_DEBUG_STREAM::print(2, "No free RAMs.");
        return 0;
    }
    int mapped = 0;
    {
        MORV_RAM_MAP_AREA_CLUSTER_MANAGER manager(m_slack_ratio_threshold);
        MORV_CLUSTER_RAM_FLOW* flow = manager.get_ram_flow();
        MORV_ASSERT_TEXT(flow, "m_flow");
        mapped = flow->run();
    }
    return mapped;
}
