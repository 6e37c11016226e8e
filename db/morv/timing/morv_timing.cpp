#include "morv/timing/morv_timing.h"

#include "cdb/cdb_atom_netlist.h"
#include "msg/msg.h"

#include "morv/core/morv_api.h"
#include "morv/core/morv_assert.h"
#include "morv/core/morv_debug_stream.h"
#include "morv/core/morv_env.h"
#include "morv/timing/morv_timing_utility.h"

MORV_TIMING::MORV_TIMING(MORV_API* fsyn_api) : m_fsyn_api(fsyn_api), m_morv_env(nullptr)
{
    MORV_ASSERT(m_fsyn_api);
    m_morv_env = m_fsyn_api->get_morv_env();
}

MORV_TIMING::~MORV_TIMING() {}

void MORV_TIMING::init_tdc_timing()
{
    m_timing_mode = MORV_TIMING_MODE_TDC;
    m_default_timing_mode = MORV_TIMING_MODE_TDC;
}

bool MORV_TIMING::set_timing_mode(int mode)
{
    int wanted = mode;
    if (mode == MORV_TIMING_MODE_DEFAULT) wanted = m_default_timing_mode;
    else if (mode != MORV_TIMING_MODE_TDC && mode != MORV_TIMING_MODE_NEVRA)
        MSG_INTERNAL_ERROR::report("Invalid timing mode", "MORV", __FILE__, __LINE__);
    if (wanted == MORV_TIMING_MODE_TDC) MORV_DEBUG_STREAM::print(2, "MORV timing is using TDC for timing analysis");
    else if (wanted == MORV_TIMING_MODE_NEVRA)
        MORV_DEBUG_STREAM::print(2, "MORV timing is using NEVRA for timing analysis");
    else MORV_DEBUG_STREAM::print(2, "MORV timing is using an undefined default mode for timing analysis");
    const bool changed = wanted != m_timing_mode;
    m_timing_mode = wanted;
    return changed;
}

bool MORV_TIMING::sync_timing_netlist(bool incremental, bool refresh)
{
    MORV_ASSERT_TEXT(m_morv_env, "morv_env");
    if (!incremental && m_fsyn_api->get_taint() >= 2) {
        MORV_DEBUG_STREAM::print(1, "Registered have changed so TAN will be forced to rebuild from scratch.");
        m_morv_env->discard_timing_netlist();
        m_tdc_utility = nullptr;
        m_full_recompute = true;
    }
    if (m_full_recompute || m_mode_switched) {
        MORV_DEBUG_STREAM::print(1, "Forcing full rebuild");
        m_morv_env->set_full_taint();
        m_morv_env->build_timing_netlist(this, false, false, true, true, true, true);
    } else if (!m_taint_change_set.empty()) {
        for (int id : m_changed_nodes) MORV_DEBUG_STREAM::print(100, "changed_node: %d", id);
        MORV_DEBUG_STREAM::print(1, "TAINT_CHANGE_SET SIZE IS %d", static_cast<int>(m_changed_nodes.size()));
        m_morv_env->set_taint_change_set(m_taint_change_set);
        m_morv_env->build_timing_netlist(this, false, false, !incremental, refresh, true, true);
    } else {
        MORV_DEBUG_STREAM::print(1, "TAINT_CHANGE_SET SIZE IS %d", 0);
        MORV_DEBUG_STREAM::print(1, "Refresh is not necessary: no nodes changed");
        m_morv_env->build_timing_netlist(this, false, false, false, true, true, true);
    }
    m_full_recompute = false;
    m_mode_switched = false;
    m_fsyn_api->reset_taint();
    m_taint_change_set.clear();
    m_changed_nodes.clear();
    m_changed_edges.clear();
    return m_tdc_utility != nullptr;
}

void MORV_TIMING::acquire_tdc_utility()
{
    MORV_ASSERT_TEXT(m_morv_env, "morv_env");
    m_morv_env->build_timing_netlist(this, true, false, false, true, true, true);
    MORV_ASSERT(m_tdc_utility);
}

void MORV_TIMING::perform_timing_analysis()
{
    MORV_ASSERT(m_tdc_utility);
    morv_timing_utility_analyse(m_tdc_utility);
    m_fom_from_env = false;
}

double MORV_TIMING::get_slack_ratio(CDB_ATOM_ITERM* iterm)
{
    MORV_ASSERT(iterm);
    // Without a timing netlist no connection is constrained.
    if (m_tdc_utility == nullptr) return 1.0;
    double ratio = morv_timing_utility_slack_ratio(m_tdc_utility, iterm);
    if (ratio < 0.0) ratio = 0.0;
    if (ratio > 1.0) ratio = 1.0;
    return ratio;
}

int MORV_TIMING::get_figure_of_merit(bool force_legacy)
{
    if (m_timing_mode != MORV_TIMING_MODE_TDC && m_timing_mode != MORV_TIMING_MODE_NEVRA)
        MSG_INTERNAL_ERROR::report("Invalid timing mode", "MORV", __FILE__, __LINE__);
    int fom = s_NO_VALID_FOM;
    if (m_fom_from_env && !force_legacy) {
        fom = m_morv_env->get_figure_of_merit(false);
    } else if (m_tdc_utility != nullptr) {
        if (force_legacy) MORV_DEBUG_STREAM::print(1, "Using LEGACY FOM");
        fom = morv_timing_utility_figure_of_merit(m_tdc_utility);
    }
    MORV_DEBUG_STREAM::print(1, "Figure of merit is (FOM= %ld )", static_cast<long>(fom));
    return fom;
}

void MORV_TIMING::mark_node_changed(CDB_ATOM_NODE* node, bool deleted)
{
    (void)deleted;
    MORV_ASSERT(node);
    MORV_ASSERT_TEXT(m_morv_env, "morv_env");
    MORV_ASSERT(!m_morv_env->is_stitched_node(node->get_id()));
    m_taint_change_set.push_back(node->get_id());
    m_changed_nodes.insert(static_cast<int>(node->get_id()));
}

void MORV_TIMING::mark_iterm_changed(CDB_ATOM_ITERM* iterm, bool disconnected)
{
    (void)disconnected;
    MORV_ASSERT(iterm);
}
