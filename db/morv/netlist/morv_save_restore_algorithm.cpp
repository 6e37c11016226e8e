#include "morv/netlist/morv_save_restore_algorithm.h"

#include <cstdlib>

#include "morv/core/morv_api.h"
#include "morv/core/morv_assert.h"
#include "morv/core/morv_debug_stream.h"
#include "morv/netlist/morv_save_restore.h"
#include "morv/timing/morv_timing.h"

MORV_SAVE_RESTORE::MORV_SAVE_RESTORE(MORV_API* api, const MORV_PARAMETER_MAP* params)
    : MORV_ALGORITHM_BASE(api, params), m_net_util(nullptr), m_tables(api->get_save_restore_tables())
{
    MORV_DEBUG_STREAM::print(100, "MORV_SAVE_RESTORE Created.");
    m_net_util = m_fsyn_api->get_fsyn_net_util();
    MORV_ASSERT(m_net_util);
    MORV_ASSERT(m_cdb_interface);
    const std::string best = m_params ? get_algorithm_param(*m_params, "BEST") : std::string();
    if (!best.empty()) m_best = std::atoi(best.c_str()) != 0;
}

MORV_SAVE_RESTORE::~MORV_SAVE_RESTORE()
{
    MORV_DEBUG_STREAM::print(100, "MORV_SAVE_RESTORE Destroyed");
}

void MORV_SAVE_RESTORE::set_default_algorithm_parameters(int& num_passes, int& icp_at_end, double& fom_to_accept,
                                                         int& restore_netlist)
{
    if (num_passes == s_UNSET_INT) num_passes = 1;
    if (icp_at_end == s_UNSET_INT) icp_at_end = 0;
    if (fom_to_accept == s_UNSET_DOUBLE) fom_to_accept = -999999.0;
    if (restore_netlist == s_UNSET_INT) restore_netlist = 1;
}

void MORV_SAVE_RESTORE::set_default_pass_parameters(int pass, int& num_iters, int& hill_climb_iters)
{
    (void)pass;
    if (num_iters == s_UNSET_INT) num_iters = 1;
    if (hill_climb_iters == s_UNSET_INT) hill_climb_iters = num_iters;
    if (m_slack_ratio_threshold == s_UNSET_DOUBLE) m_slack_ratio_threshold = 0.125;
}

int MORV_SAVE_RESTORE::save_netlist(bool overwrite)
{
    const double fom = static_cast<double>(m_fsyn_timing->get_figure_of_merit(false));
    const int id = m_fsyn_api->save_state();
    int entry = 0;
    if (overwrite) {
        if (m_tables.empty()) {
            m_tables.m_saved_netlists.push_back(0);
            m_tables.m_saved_foms.push_back(0.0);
        }
        m_tables.m_saved_netlists[0] = id;
        m_tables.m_saved_foms[0] = fom;
    } else {
        m_tables.m_saved_netlists.push_back(id);
        m_tables.m_saved_foms.push_back(fom);
        entry = m_tables.size();
    }
    MORV_DEBUG_STREAM::print(1, "MORV_SAVE_RESTORE: Saving netlist with FOM %f in save slot %d, entry %d.", fom, id,
                             entry);
    return entry;
}

void MORV_SAVE_RESTORE::restore_netlist(int netlist)
{
    MORV_ASSERT(netlist >= 0 && netlist < m_tables.size());
    const int id = m_tables.m_saved_netlists[netlist];
    MORV_DEBUG_STREAM::print(1, "MORV_SAVE_RESTORE: Restoring netlist with FOM %f in save slot %d, entry %d.",
                             m_tables.m_saved_foms[netlist], id, netlist);
    MORV_ASSERT_TEXT(id != MORV_SAVE_RESTORE_TABLES::INVALID_NETLIST, "m_saved_netlists[netlist] != INVALID_NETLIST");
    // An id is only good while this compile's snapshot manager holds its state.
    MORV_ASSERT(m_fsyn_api->holds_saved_state(id));
    m_fsyn_api->restore_state(id);
    m_tables.m_saved_netlists[netlist] = MORV_SAVE_RESTORE_TABLES::INVALID_NETLIST;
    const bool icp_ok = m_fsyn_api->run_timing_analysis(false, false, 0.0, false, false, false);
    MORV_ASSERT(icp_ok);
}

// The tables are emptied, and the states they still name are cleared: once
// forgotten, nothing would restore them, yet their files would stay on disk
// until the end of the compile.
void MORV_SAVE_RESTORE::clean_up()
{
    MORV_DEBUG_STREAM::print(1, "MORV_SAVE_RESTORE: cleaning up netlists.");
    m_fsyn_api->clear_save_restore_states();
}

int MORV_SAVE_RESTORE::do_iter()
{
    if (m_tables.empty()) {
        // BEST compares with earlier saves: there must be one. The flow
        // driver runs no run list that would come here (morv_run_list.h).
        MORV_ASSERT(!m_best);
        save_netlist(false);
        return 0;
    }
    if (!m_best) {
        save_netlist(false);
        restore_netlist(0);
        save_netlist(true);
        return 0;
    }
    const int present = m_fsyn_timing->get_figure_of_merit(false);
    int better = -1;
    for (int i = 0; i < m_tables.size(); ++i)
        if (m_tables.m_saved_netlists[i] != MORV_SAVE_RESTORE_TABLES::INVALID_NETLIST &&
            m_tables.m_saved_foms[i] > present)
            better = i;
    if (better >= 0) restore_netlist(better);
    clean_up();
    save_netlist(true);
    return 0;
}
