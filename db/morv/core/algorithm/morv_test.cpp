#include "morv/core/algorithm/morv_test.h"

#include "cdb/cdb_atom_netlist.h"

#include "morv/core/morv_api.h"
#include "morv/core/morv_assert.h"
#include "morv/core/morv_debug_stream.h"

MORV_TEST::MORV_TEST(MORV_API* api, const MORV_PARAMETER_MAP* params)
    : MORV_ALGORITHM_BASE(api, params), m_net_util(nullptr)
{
    MORV_DEBUG_STREAM::print(100, "MORV_TEST Created.");
    m_net_util = m_fsyn_api->get_fsyn_net_util();
    MORV_ASSERT(m_net_util);
}

MORV_TEST::~MORV_TEST()
{
    MORV_DEBUG_STREAM::print(100, "MORV_TEST Destroyed");
}

void MORV_TEST::set_default_algorithm_parameters(int& num_passes, int& icp_at_end, double& fom_to_accept,
                                                 int& restore_netlist)
{
    if (num_passes == s_UNSET_INT) num_passes = 1;
    if (icp_at_end == s_UNSET_INT) icp_at_end = 0;
    if (fom_to_accept == s_UNSET_DOUBLE) fom_to_accept = 0.0;
    if (restore_netlist == s_UNSET_INT) restore_netlist = 1;
}

void MORV_TEST::set_default_pass_parameters(int pass, int& num_iters, int& hill_climb_iters)
{
    (void)pass;
    if (num_iters == s_UNSET_INT) num_iters = 10;
    if (hill_climb_iters == s_UNSET_INT) hill_climb_iters = num_iters;
    if (m_slack_ratio_threshold == s_UNSET_DOUBLE) m_slack_ratio_threshold = 0.125;
}

int MORV_TEST::do_iter()
{
    CDB_ATOM_NETLIST* atom_netlist = m_fsyn_api->get_atom_netlist();
    MORV_ASSERT_TEXT(atom_netlist, "m_atom_netlist");
    for (auto it = atom_netlist->begin_node_list(); it != atom_netlist->end_node_list(); ++it) {
        CDB_ATOM_NODE* node = *it;
        MORV_ASSERT(node);
    }
    return 0;
}
