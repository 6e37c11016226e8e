#include "morv/rammap/morv_ram_cluster_manager.h"

#include "cdb/cdb_atom_node.h"
#include "cdb/cdb_types.h"

#include "morv/core/morv_api.h"
#include "morv/core/morv_assert.h"
#include "morv/core/morv_debug_stream.h"
#include "morv/core/morv_env.h"
#include "morv/core/morv_global.h"
#include "morv/netlist/morv_cluster.h"
#include "morv/rammap/morv_ram_cluster_cost.h"
#include "morv/rammap/morv_ram_cluster_growth.h"
#include "morv/rammap/morv_ram_cluster_legalizer.h"
#include "morv/rammap/morv_ram_map_util.h"
#include "morv/timing/morv_timing.h"

// ---------------------------------------------------------------- framework bases

MORV_RAM_MAP_AREA_CLUSTER_MANAGER* MORV_CLUSTER_MANAGER::as_area_cluster_manager()
{
    MSG_INTERNAL_ERROR::report("Not an AREA CLUSTER MANAGER", "MORV", __FILE__, __LINE__);
}

MORV_CLUSTER_LEGALIZER* MORV_CLUSTER_MANAGER::get_legalizer() const
{
    MORV_ASSERT_TEXT(m_legalizer, "m_legalizer");
    return m_legalizer;
}

MORV_CLUSTER_COST* MORV_CLUSTER_MANAGER::get_cost_function() const
{
    MORV_ASSERT_TEXT(m_cost_function, "m_cost_function");
    return m_cost_function;
}

MORV_CLUSTER_FLOW* MORV_CLUSTER_MANAGER::get_flow() const
{
    MORV_ASSERT_TEXT(m_flow, "m_flow");
    return m_flow;
}

bool MORV_CLUSTER_COST::TOKEN::compare(const TOKEN* /*other*/) const
{
    MORV_DEBUG_STREAM::print(100, "WARNING: Default comparator was called.");
    return false;
}

void MORV_CLUSTER_COST::TOKEN::print() const
{
    MORV_DEBUG_STREAM::print(100, "WARNING: Default print was called.");
}

MORV_CLUSTER_COST_BY_SIZE* MORV_CLUSTER_COST::as_cost_by_size()
{
    MSG_INTERNAL_ERROR::report("Not a CLUSTER_COST_BY_SIZE", "MORV", __FILE__, __LINE__);
}

// ---------------------------------------------------------------- area manager

MORV_RAM_MAP_AREA_CLUSTER_MANAGER::MORV_RAM_MAP_AREA_CLUSTER_MANAGER(double slack_ratio_threshold)
    : m_slack_ratio_threshold(slack_ratio_threshold)
{
    MORV_ASSERT_TEXT(MORV_RAM_MAP_UTIL::has_instance(), "m_instance");
    m_own_legalizer = MORV_MAKE_OWNER(MORV_CLUSTER_RAM_LEGALIZER);
    m_own_cost_function = MORV_MAKE_OWNER(MORV_CLUSTER_COST_BY_SIZE);
    m_own_flow = MORV_MAKE_OWNER(MORV_CLUSTER_RAM_FLOW);
    m_legalizer = m_own_legalizer.get();
    m_cost_function = m_own_cost_function.get();
    m_flow = m_own_flow.get();
    m_legalizer->m_cluster_manager = this;
    m_cost_function->m_cluster_manager = this;
    m_flow->m_cluster_manager = this;
}

MORV_RAM_MAP_AREA_CLUSTER_MANAGER::~MORV_RAM_MAP_AREA_CLUSTER_MANAGER()
{
    MORV_ASSERT_TEXT(m_legalizer, "m_legalizer");
    MORV_ASSERT_TEXT(m_cost_function, "m_cost_function");
}

MORV_CLUSTER_RAM_LEGALIZER* MORV_RAM_MAP_AREA_CLUSTER_MANAGER::get_ram_legalizer() const
{
    MORV_ASSERT_TEXT(m_own_legalizer, "m_legalizer");
    return m_own_legalizer.get();
}

MORV_CLUSTER_COST_BY_SIZE* MORV_RAM_MAP_AREA_CLUSTER_MANAGER::get_cost_by_size() const
{
    MORV_ASSERT_TEXT(m_own_cost_function, "m_cost_function");
    return m_own_cost_function.get();
}

MORV_CLUSTER_RAM_FLOW* MORV_RAM_MAP_AREA_CLUSTER_MANAGER::get_ram_flow() const
{
    MORV_ASSERT_TEXT(m_own_flow, "m_flow");
    return m_own_flow.get();
}

// The caller takes the cluster over and hands it back to delete_cluster.
MORV_CLUSTER* MORV_RAM_MAP_AREA_CLUSTER_MANAGER::create_cluster(CDB_ATOM_NODE* seed)
{
    MORV_OWNER<MORV_CLUSTER> cluster = MORV_MAKE_OWNER(MORV_CLUSTER, this);
    cluster->add_node(seed);
    cluster->update_distances();
    ++m_cluster_count;
    return cluster.release();
}

void MORV_RAM_MAP_AREA_CLUSTER_MANAGER::delete_cluster(MORV_CLUSTER* cluster)
{
    if (cluster) MORV_DELETE(cluster);
}

bool MORV_RAM_MAP_AREA_CLUSTER_MANAGER::can_pack(CDB_ATOM_NODE* node)
{
    if (m_mapped_nodes.count(node)) return false;
    MORV_RAM_MAP_UTIL* util = MORV_RAM_MAP_UTIL::get_instance();
    if (util->is_ff(node) && MORV_REGISTER_TYPE(node) != m_register_type) return false;
    auto cached = m_can_pack_cache.find(node);
    if (cached != m_can_pack_cache.end()) return cached->second;
    const bool answer = util->is_packable_node(node) && !has_critical_connection(node);
    m_can_pack_cache[node] = answer;
    return answer;
}

bool MORV_RAM_MAP_AREA_CLUSTER_MANAGER::has_critical_connection(CDB_ATOM_NODE* node) const
{
    MORV_TIMING* timing = MORV_RAM_MAP_UTIL::get_instance()->get_timing();
    for (auto it = node->begin_iterm(); it != node->end_iterm(); ++it) {
        CDB_ATOM_ITERM* iterm = *it;
        if (!iterm->get_source() || MORV_CLUSTER::is_register_control_port(node, iterm->get_any_usage_as())) continue;
        const double ratio = timing->get_slack_ratio(iterm);
        if (ratio < m_slack_ratio_threshold) {
            if (s_morv_ram_map_debug)
                MORV_DEBUG_STREAM::print(100, "Critical input (%f) found on node %d.", ratio, int(node->get_id()));
            return true;
        }
    }
    for (auto ot = node->begin_oterm(); ot != node->end_oterm(); ++ot) {
        CDB_ATOM_OTERM* oterm = *ot;
        if (!oterm->has_fanout() || !MORV_CLUSTER::is_data_oterm(node, oterm)) continue;
        for (auto fanout = oterm->begin_iterm_fanout(); fanout != oterm->end_iterm_fanout(); ++fanout) {
            const double ratio = timing->get_slack_ratio(*fanout);
            if (ratio < m_slack_ratio_threshold) {
                if (s_morv_ram_map_debug)
                    MORV_DEBUG_STREAM::print(100, "Critical input (%f) of output found on node %d.", ratio,
                                             int(node->get_id()));
                return true;
            }
        }
    }
    return false;
}

// ---------------------------------------------------------------- packable nodes

namespace {

bool has_global_input(const CDB_ATOM_NODE* node, const CDB_ATOM_ITERM* iterm)
{
    if (iterm->get_global() == 0) return false;
    if (!node->is_register()) return true;
    const int usage = iterm->get_any_usage_as();
    return usage != DB_ASYNCH_LOAD && usage != DB_CLEAR && usage != DB_CLOCK && usage != DB_CLOCK_ENABLE;
}

}  // namespace

bool MORV_RAM_MAP_UTIL::is_packable_node(CDB_ATOM_NODE* node) const
{
    if (!is_ff(node) && !is_lut(node)) return false;
    const int id = static_cast<int>(node->get_id());
    if (m_fsyn_api->is_atom_dont_touch(id, AMM_OP_FITTER_FSYN_RETIME)) {
        if (s_morv_ram_map_debug) MORV_DEBUG_STREAM::print(100, "Node %d is DONT_TOUCH", id);
        return false;
    }
    const int partition = m_fsyn_api->get_atom_partition_id(node);
    if (partition != -1 && partition != 0) return false;
    for (auto it = node->begin_iterm(); it != node->end_iterm(); ++it) {
        if (has_global_input(node, *it)) {
            if (s_morv_ram_map_debug) MORV_DEBUG_STREAM::print(100, "Global input found on node %d.", id);
            return false;
        }
        if (m_fsyn_api->get_assigned_boundary_port_id(*it) != -1) {
            if (s_morv_ram_map_debug) MORV_DEBUG_STREAM::print(100, "Boundary port found on node %d.", id);
            return false;
        }
    }
    if (is_shared_arithmetic_node(node)) {
        if (s_morv_ram_map_debug) MORV_DEBUG_STREAM::print(100, "node %d is in shared arithmetic mode", id);
        return false;
    }
    return true;
}
