// Resynthesis of one node on command, and the dot graphs of accepted
// resyntheses ("resynth.dot").

#include <algorithm>
#include <cstdio>
#include <string>

#include "cdb/cdb_atom_netlist.h"

#include "morv/core/morv_api.h"
#include "morv/core/morv_assert.h"
#include "morv/core/morv_debug_stream.h"
#include "morv/core/morv_env.h"
#include "morv/resyn/morv_resyn.h"
#include "morv/timing/morv_timing.h"

namespace {

// A slack ratio as a label: hundredths, 0 .. 99.
int dot_label(double sr)
{
    return std::clamp(static_cast<int>(sr * 100.0), 0, 99);
}

}  // namespace

bool MORV_RESYN::resynthesize_node(int node_id)
{
    MORV_DEBUG_STREAM::print(1, "Attempting to resynthesize node %d.", node_id);
    MORV_ENV* env = m_fsyn_api->get_morv_env();
    MORV_ASSERT_TEXT(env, "m_morv_env");
    CDB_ATOM_NODE* node = env->get_node(node_id);
    if (node == nullptr) {
        MORV_DEBUG_STREAM::print(1, "Atom not found.");
        return false;
    }
    if (!is_candidate_root(node)) {
        MORV_DEBUG_STREAM::print(1, "Unable to resynthesize. Node checks failed.");
        return false;
    }
    MORV_TIMING* timing = m_fsyn_api->get_fsyn_timing();
    RESYN_SOLN soln;
    soln.node = node;
    soln.area = 1.0;
    m_area_bound = 100;
    m_root_sr = 1.0;
    for (int k = 0; k < m_num_data_ports; ++k)
        if (CDB_ATOM_ITERM* iterm = node->get_input_term_by_type(DB_DATA_A + k))
            m_root_sr = std::min(m_root_sr, timing->get_slack_ratio(iterm));
    soln.sr = m_root_sr;
    soln.pre_sr = m_root_sr;
    m_soln = &soln;
    m_stage_sr = compute_stage_slack_ratio(node);
    if (m_stage_sr < 0.01) m_stage_sr = m_default_stage_sr;
    m_duplicate_sr = m_stage_sr * m_duplicate_fr;
    m_noise_sr = m_stage_sr * m_noise_fr;
    const bool result = resynthesize_root(node);
    if (result) {
        MORV_DEBUG_STREAM::print(1, "Resynthesis operation succeeded, performing timing analysis.");
        implement_solution(soln);
        // The analysis reads the timing netlist: bring it up to the edits.
        timing->sync_timing_netlist(true, true);
        timing->perform_timing_analysis();
        MORV_DEBUG_STREAM::print(1, "Success!");
    } else {
        MORV_DEBUG_STREAM::print(1, "Resyn operation failed.");
    }
    m_soln = nullptr;
    return result;
}

void MORV_RESYN::dot_node_line(int parent)
{
    if (parent < 0) m_dot_buffer += "  o [style = filled, color = lavender];\n";
    else m_dot_buffer += morv_sprintf("  o%d [style = filled, color = lavender];\n", parent);
}

void MORV_RESYN::dot_edge_line(int var, int parent, double sr)
{
    if (parent < 0) m_dot_buffer += morv_sprintf("  o%d -> o ", var);
    else m_dot_buffer += morv_sprintf("  o%d -> o%d ", var, parent);
    m_dot_buffer += morv_sprintf("[label = \"%d\"];\n", dot_label(sr));
}

void MORV_RESYN::write_dot_graph()
{
    std::fprintf(m_dot_file, "digraph G%d {\n", m_dot_graph_count);
    std::fprintf(m_dot_file, "  size = \"7.5,10\";\n");
    std::fprintf(m_dot_file, "  rankdir = LR;\n");
    std::fprintf(m_dot_file, "  x [style = filled, color = salmon];\n");
    std::fprintf(m_dot_file, "  y [style = filled, color = salmon];\n");
    std::fprintf(m_dot_file, "  x -> y [label = \"%d\"];\n", dot_label(m_stage_sr));
    std::fprintf(m_dot_file, "%s", m_dot_buffer.c_str());
    std::fprintf(m_dot_file, "}\n");
    m_dot_graph_count += 1;
}
