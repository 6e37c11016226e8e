// The asynchronous-pipelining object: its members in both flows, its
// parameters, and the host's question whether a net will be pipelined.

#include "morv/dup/morv_pipe_async.h"

#include "cdb/cdb_atom_node.h"
#include "cdb/cdb_types.h"
#include "cfg/cfg.h"
#include "hdb/hdb_instance_name.h"
#include "msg/msg.h"

#include "morv/core/family/morv_family_traits.h"
#include "morv/core/morv_api.h"
#include "morv/core/morv_assert.h"
#include "morv/core/morv_debug_stream.h"
#include "morv/core/morv_expert.h"
#include "morv/core/morv_msgs.h"
#include "morv/netlist/morv_chip_map.h"

const std::vector<int> MORV_PIPE_ASYNC::s_async_port_types = {DB_CLEAR, 69,  395,         396,
                                                              397,      398, DB_RAM_CLR0, DB_RAM_CLR1};

MORV_PIPE_ASYNC::MORV_PIPE_ASYNC(MORV_API* api, const MORV_PARAMETER_MAP* params) : MORV_ALGORITHM_BASE(api, params)
{
    MORV_DEBUG_STREAM::print(100, "MORV_PIPE_ASYNC Created.");
    m_net_util = m_fsyn_api->peek_fsyn_net_util();
    MORV_ASSERT_TEXT(m_net_util, "m_net_util");
    const MORV_EXPERT* expert = m_fsyn_api->get_fsyn_expert();
    if (expert == nullptr || !expert->is_fsyn_running(LATE_FSYN_FLOW)) return;
    m_curr_async_source = MORV_MAKE_OWNER(ASYNC_SOURCE);
    if (const MORV_CHIP_MAP* chip_map = m_fsyn_api->get_fsyn_chip_map()) {
        m_nx = chip_map->get_nx();
        m_ny = chip_map->get_ny();
    }
    m_location_grid.assign(static_cast<size_t>(m_nx) * static_cast<size_t>(m_ny), LOCATION_CELL());
    build_potential_cliques();
    m_msg_i_late_fsyn_info = morv_new_msg(MORV_MSG_IMORV_FSYN_LATE_FSYN_ASYNC_PIPELINING_INFO);
    MORV_ASSERT_TEXT(m_msg_i_late_fsyn_info, "m_msg_i_late_fsyn_info");
}

MORV_PIPE_ASYNC::~MORV_PIPE_ASYNC()
{
    free_cliques();
    MORV_DEBUG_STREAM::print(100, "MORV_PIPE_ASYNC Destroyed");
    // The signal messages are attached under the phase message and go with it.
    morv_delete_msg(m_msg_i_late_fsyn_info);
    for (MSG_POST* warning : m_pending_warnings) morv_delete_msg(warning);
}

void MORV_PIPE_ASYNC::free_cliques()
{
    m_potential_cliques.clear();
    m_clique_store.clear();
    release_effective_cliques();
}

void MORV_PIPE_ASYNC::set_default_algorithm_parameters(int& num_passes, int& icp_at_end, double& fom_to_accept,
                                                       int& restore_netlist)
{
    if (num_passes == s_UNSET_INT) num_passes = 20;
    if (icp_at_end == s_UNSET_INT) icp_at_end = 1;
    if (fom_to_accept == s_UNSET_DOUBLE) fom_to_accept = -99999.0;
    if (restore_netlist == s_UNSET_INT) restore_netlist = 0;
    m_slack_threshold = cfg_get_int_value("fsyn_pipe_async_slack_threshold", 250);
    m_family_supported = morv_pipe_async_supported(m_fsyn_api->get_base_family_code());
    if (!m_family_supported) MORV_DEBUG_STREAM::print(1, "Asynchronous Pipelining unsupported for this family!");
    init_asynchronous_port_types();
    init_reg_data_in_port();
    const MORV_EXPERT* expert = m_fsyn_api->get_fsyn_expert();
    MORV_ASSERT_TEXT(expert != nullptr &&
                         (expert->is_fsyn_running_early_fsyn() || expert->is_fsyn_running(LATE_FSYN_FLOW)),
                     "m_fsyn_api->get_fsyn_expert()->is_fsyn_running( LATE_FSYN_FLOW )");
    // One pass does all: the evaluation, or every recorded source.
    num_passes = 1;
}

void MORV_PIPE_ASYNC::init_asynchronous_port_types()
{
    MORV_ASSERT_TEXT(m_family_supported, "init_asynchronous_port_types() unsupported for this family!");
    m_async_port_types = s_async_port_types;
}

void MORV_PIPE_ASYNC::init_reg_data_in_port()
{
    m_reg_data_in_port = morv_pipe_async_reg_data_in_port(m_fsyn_api->get_base_family_code());
    MORV_ASSERT_TEXT(m_reg_data_in_port >= 0, "init_reg_data_in_port() unsupported for this family!");
}

void MORV_PIPE_ASYNC::set_default_pass_parameters(int, int& num_iters, int& hill_climb_iters)
{
    if (num_iters == s_UNSET_INT) num_iters = 1;
    if (hill_climb_iters == s_UNSET_INT) hill_climb_iters = num_iters;
    if (m_slack_ratio_threshold == s_UNSET_DOUBLE) m_slack_ratio_threshold = 0.125;
    const MORV_EXPERT* expert = m_fsyn_api->get_fsyn_expert();
    if (expert != nullptr && expert->is_fsyn_running_early_fsyn()) {
        s_critical_async_sources.clear();
        // The rows of an earlier compile name atoms of another netlist.
        s_report_rows.clear();
        find_asynchronous_signals();
        m_state = STATE_EVALUATED;
    } else {
        m_state = STATE_READY;
    }
}

bool MORV_PIPE_ASYNC::static_is_critical_asynchronous_source(CDB_ATOM_OTERM* src_oterm)
{
    MORV_ASSERT_TEXT(src_oterm, "src_oterm");
    CDB_ATOM_NODE* node = src_oterm->get_my_node();
    if (node == nullptr) return false;
    PIPE_ASYNC_OTERM key;
    key.m_node_id = node->get_id();
    if (s_critical_async_sources.count(key) == 0) return false;
    const HDB_INSTANCE_NAME* name = src_oterm->get_instance_name();
    MORV_DEBUG_STREAM::print(100, "static_is_critical_asynchronous_source(): returning true to {%s}",
                             name != nullptr ? name->get_short_hpath().c_str() : "");
    return true;
}
