#include "morv/rammap/morv_ram_cluster_cost.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "cdb/cdb_atom_node.h"
#include "cdb/cdb_types.h"

#include "morv/core/morv_debug_stream.h"
#include "morv/netlist/morv_cluster.h"
#include "morv/rammap/morv_ram_map_util.h"

int64_t MORV_CLUSTER_COST_BY_SIZE::TOKEN_BY_SIZE::get_bits() const
{
    // A cluster of 20 inputs or more fits nowhere: more bits than any
    // limit, without a shift that could overflow.
    if (m_inputs >= 20) return std::numeric_limits<int64_t>::max();
    return static_cast<int64_t>(m_outputs) << std::max(m_inputs, 0);
}

int MORV_CLUSTER_COST_BY_SIZE::TOKEN_BY_SIZE::get_score(bool counts_outputs) const
{
    return m_comb_nodes - m_carryout_nodes - m_carryin_nodes - (counts_outputs ? m_outputs : 0);
}

void MORV_CLUSTER_COST_BY_SIZE::TOKEN_BY_SIZE::print() const
{
    MORV_DEBUG_STREAM::print(100, "Token cost:");
    MORV_DEBUG_STREAM::print(100, "  %6d inputs", m_inputs);
    MORV_DEBUG_STREAM::print(100, "  %6d outputs", m_outputs);
    MORV_DEBUG_STREAM::print(100, "  %6d nodes", m_nodes);
    MORV_DEBUG_STREAM::print(100, "  %6d comb nodes", m_comb_nodes);
    MORV_DEBUG_STREAM::print(100, "  %6d carryin nodes", m_carryin_nodes);
    MORV_DEBUG_STREAM::print(100, "  %6d carryout nodes", m_carryout_nodes);
    if (m_inputs > 20) {
        MORV_DEBUG_STREAM::print(100, "    many bits");
        return;
    }
    // 20 inputs still print, from the double rather than the shift.
    const double bits = std::ldexp(static_cast<double>(m_outputs), m_inputs);
    MORV_DEBUG_STREAM::print(100, "  %6.0lf bits", bits);
    const int logic = m_comb_nodes - m_carryout_nodes - m_carryin_nodes;
    if (logic > 0) MORV_DEBUG_STREAM::print(100, "  %6.2lf bits / comb_node", bits / logic);
}

MORV_CLUSTER_COST::TOKEN* MORV_CLUSTER_COST_BY_SIZE::compute_token(MORV_CLUSTER* cluster)
{
    return compute_size(cluster).release();
}

namespace {

void count_members(MORV_CLUSTER* cluster, MORV_CLUSTER_COST_BY_SIZE::TOKEN_BY_SIZE& token)
{
    MORV_RAM_MAP_UTIL* util = MORV_RAM_MAP_UTIL::get_instance();
    const CDB_ATOM_NODE* last = nullptr;
    for (auto it = cluster->begin_included(); it != cluster->end_included(); ++it) {
        CDB_ATOM_NODE* node = (*it)->get_my_node();
        if (node == last) continue;  // oterms of a node are neighbours in the order
        last = node;
        ++token.m_nodes;
        if (util->is_lut(node)) ++token.m_comb_nodes;
    }
}

void count_boundary(MORV_CLUSTER* cluster, MORV_CLUSTER_COST_BY_SIZE::TOKEN_BY_SIZE& token)
{
    MORV_RAM_MAP_UTIL* util = MORV_RAM_MAP_UTIL::get_instance();
    for (auto it = cluster->begin_inputs(); it != cluster->end_inputs(); ++it) {
        ++token.m_inputs;
        if ((*it)->get_usage() == 0) ++token.m_carryin_nodes;
    }
    for (auto it = cluster->begin_outputs(); it != cluster->end_outputs(); ++it) {
        if (cluster->is_input_fed_output_register(*it)) continue;
        ++token.m_outputs;
        if ((*it)->get_usage() != 0) continue;
        ++token.m_carryout_nodes;
        if (util->has_carry_chain_parity(*it)) ++token.m_carryout_nodes;
    }
}

}  // namespace

MORV_OWNER<MORV_CLUSTER_COST_BY_SIZE::TOKEN_BY_SIZE> MORV_CLUSTER_COST_BY_SIZE::compute_size(MORV_CLUSTER* cluster)
{
    MORV_OWNER<TOKEN_BY_SIZE> token = MORV_MAKE_OWNER(TOKEN_BY_SIZE);
    cluster->update_distances();
    const bool mode = cluster->get_boundary_mode();
    cluster->set_boundary_mode(true);
    count_members(cluster, *token);
    count_boundary(cluster, *token);
    if (cluster->is_state_candidate_free()) {
        // Counted without the state rules of mode 1, a cluster may need fewer
        // address bits; every output counts then.
        cluster->set_boundary_mode(false);
        int inputs = 0, outputs = 0;
        for (auto it = cluster->begin_inputs(); it != cluster->end_inputs(); ++it) ++inputs;
        for (auto it = cluster->begin_outputs(); it != cluster->end_outputs(); ++it) ++outputs;
        if (inputs < token->m_inputs) {
            token->m_inputs = inputs;
            token->m_outputs = outputs;
        }
    }
    cluster->set_boundary_mode(mode);
    return token;
}
