#include "morv/rammap/morv_ram_cluster_growth.h"

#include <algorithm>
#include <set>
#include <unordered_set>
#include <vector>

#include "cdb/cdb_atom_node.h"
#include "cdb/cdb_types.h"

#include "morv/core/morv_assert.h"
#include "morv/core/morv_debug_stream.h"
#include "morv/core/morv_global.h"
#include "morv/netlist/morv_cluster.h"
#include "morv/rammap/morv_ram_cluster_cost.h"
#include "morv/rammap/morv_ram_cluster_legalizer.h"
#include "morv/rammap/morv_ram_cluster_manager.h"
#include "morv/rammap/morv_ram_internal.h"
#include "morv/rammap/morv_ram_map_util.h"

namespace {

using NODE_SET = std::set<CDB_ATOM_NODE*, DETERMINISTIC_LESS<CDB_ATOM_NODE*>>;

void debug_line(const char* text)
{
    if (s_morv_ram_map_debug) MORV_DEBUG_STREAM::print(100, "%s", text);
}

bool is_member(MORV_CLUSTER* cluster, CDB_ATOM_NODE* node)
{
    bool member = false;
    morv_ram_for_each_data_oterm(node, [&](CDB_ATOM_OTERM* o) {
        member = member || (cluster->has_node_info(o) && cluster->get_node_info(o).is_included());
    });
    return member;
}

void print_token(MORV_CLUSTER* cluster)
{
    if (!s_morv_ram_map_debug) return;
    MORV_CLUSTER_COST_BY_SIZE cost;
    cost.compute_size(cluster)->print();
}

// The boundary oterms of a side in the cluster's order.
std::vector<CDB_ATOM_OTERM*> boundary(MORV_CLUSTER* cluster, int side)
{
    cluster->update_distances();
    std::vector<CDB_ATOM_OTERM*> found;
    if (side == MORV_GRAB_OUTPUTS) {
        for (auto it = cluster->begin_included(); it != cluster->end_included(); ++it)
            if (cluster->get_node_info(*it).is_true_output()) found.push_back(*it);
    } else {
        for (auto it = cluster->begin_inputs(); it != cluster->end_inputs(); ++it)
            if (cluster->get_node_info(*it).is_true_input()) found.push_back(*it);
    }
    return found;
}

// The one sink of the oterm outside the cluster when it may join and reads
// nothing the cluster does not know; none otherwise. A boundary read by
// more than one outside node is not crossed: taking every reader of a
// shared address bit at once joins all the cones behind it, which on a
// design of several ROMs over one address grows past every RAM block and
// leaves nothing to map.
std::vector<CDB_ATOM_NODE*> grabbable_sinks(MORV_RAM_MAP_AREA_CLUSTER_MANAGER* manager, MORV_CLUSTER* cluster,
                                            CDB_ATOM_OTERM* oterm, int side)
{
    const MORV_CLUSTER_NODE_INFO& info = cluster->get_node_info(oterm);
    if (oterm->get_number_of_fanout() - info.get_buried_fanout_count() != 1) return {};
    MORV_RAM_MAP_UTIL* util = MORV_RAM_MAP_UTIL::get_instance();
    std::vector<CDB_ATOM_NODE*> sinks;
    std::unordered_set<CDB_ATOM_NODE*> taken;
    for (auto it = oterm->begin_iterm_fanout(); it != oterm->end_iterm_fanout(); ++it) {
        CDB_ATOM_NODE* node = (*it)->get_my_node();
        if (taken.count(node) || is_member(cluster, node)) continue;
        if (!manager->can_pack(node) || (side == MORV_GRAB_OUTPUTS && util->is_ff(node))) return {};
        if (MORV_CLUSTER::is_register_control_port(node, (*it)->get_any_usage_as())) return {};
        taken.insert(node);
        sinks.push_back(node);
    }
    for (CDB_ATOM_NODE* sink : sinks) {
        bool brings_input = false;
        morv_ram_for_each_driven_data_iterm(sink, [&](CDB_ATOM_ITERM* iterm) {
            CDB_ATOM_OTERM* source = iterm->get_source();
            brings_input = brings_input || (!cluster->has_node_info(source) && !taken.count(source->get_my_node()));
        });
        if (brings_input) return {};
    }
    if (!sinks.empty()) MORV_DEBUG_STREAM::print(100, "Need to add %d inputs to add node (%s)", 0, "LEGAL");
    return sinks;
}

}  // namespace

bool morv_fits_max_bits(MORV_RAM_MAP_AREA_CLUSTER_MANAGER* manager, MORV_CLUSTER* cluster)
{
    MORV_CLUSTER_COST_BY_SIZE cost;
    const auto token = cost.compute_size(cluster);
    return token->m_inputs < 20 && manager->m_max_bits >= token->get_bits();
}

bool morv_evaluate_cluster(MORV_RAM_MAP_AREA_CLUSTER_MANAGER* manager, MORV_CLUSTER* cluster)
{
    MORV_DEBUG_STREAM::print(100, "Evaluating cluster...");
    MORV_CLUSTER_COST_BY_SIZE cost;
    const auto token = cost.compute_size(cluster);
    if (s_morv_ram_map_debug) token->print();
    const int score = token->get_score(MORV_RAM_MAP_UTIL::get_instance()->counts_outputs_in_gain());
    if (score < manager->m_best_score) return false;
    manager->m_best_cluster = cluster->get_added_oterms();
    manager->m_best_score = score;
    MORV_DEBUG_STREAM::print(100, "This is the best cluster I've seen so far.");
    if (s_morv_ram_map_debug) cluster->print();
    return true;
}

bool morv_grab_neighbours(MORV_RAM_MAP_AREA_CLUSTER_MANAGER* manager, MORV_CLUSTER* cluster, int side)
{
    MORV_CLUSTER_RAM_LEGALIZER* legalizer = manager->get_ram_legalizer();
    bool ok = true;
    for (bool grew = true; grew && ok;) {
        NODE_SET sinks;
        for (CDB_ATOM_OTERM* oterm : boundary(cluster, side))
            for (CDB_ATOM_NODE* sink : grabbable_sinks(manager, cluster, oterm, side)) sinks.insert(sink);
        grew = !sinks.empty();
        for (CDB_ATOM_NODE* sink : sinks) cluster->add_node(sink);
        cluster->update_distances();
        for (CDB_ATOM_NODE* sink : sinks) {
            std::vector<CDB_ATOM_OTERM*> outputs;
            morv_ram_for_each_data_oterm(sink, [&](CDB_ATOM_OTERM* o) { outputs.push_back(o); });
            for (CDB_ATOM_OTERM* o : outputs) {
                cluster->update_distances();
                const MORV_CLUSTER_NODE_INFO& info = cluster->get_node_info(o);
                if (info.is_true_output() && !info.is_legal_output() && !legalizer->legalize_output(cluster, o)) {
                    ok = false;
                    break;
                }
            }
            if (!ok) break;
        }
    }
    const bool legal = legalizer->legalize(cluster);
    return ok && legal;
}

int morv_expand_mffc(MORV_RAM_MAP_AREA_CLUSTER_MANAGER* manager, MORV_CLUSTER* cluster)
{
    MORV_RAM_MAP_UTIL* util = MORV_RAM_MAP_UTIL::get_instance();
    NODE_SET tried;
    int total = 0;
    for (;;) {
        cluster->update_distances();
        std::vector<CDB_ATOM_NODE*> found;
        for (auto it = cluster->begin_inputs(); it != cluster->end_inputs(); ++it) {
            if (!cluster->get_node_info(*it).is_true_input()) continue;
            CDB_ATOM_NODE* node = (*it)->get_my_node();
            if (!tried.insert(node).second) continue;
            if (!manager->can_pack(node) || util->is_ff(node)) continue;
            bool buried = true;
            morv_ram_for_each_data_oterm(node, [&](CDB_ATOM_OTERM* o) {
                if (!cluster->has_node_info(o)) {
                    buried = false;
                    return;
                }
                const MORV_CLUSTER_NODE_INFO& info = cluster->get_node_info(o);
                buried = buried && !info.is_included() && info.get_buried_fanout_count() >= 1 &&
                         info.get_buried_fanout_count() == o->get_number_of_fanout();
            });
            if (buried) found.push_back(node);
        }
        if (found.empty()) break;
        for (CDB_ATOM_NODE* node : found) cluster->add_node(node);
        total += static_cast<int>(found.size());
    }
    cluster->update_distances();
    MORV_DEBUG_STREAM::print(100, "  %d node(s) added when expanding MFFC", total);
    return total;
}

namespace {

// Members on the input side whose inputs a RAM would rather not spend
// address bits on; one oterm per node.
std::vector<CDB_ATOM_OTERM*> pure_inputs(MORV_CLUSTER* cluster, const std::set<CDB_ATOM_OTERM*>& protected_oterms)
{
    std::vector<CDB_ATOM_OTERM*> found;
    const CDB_ATOM_NODE* last = nullptr;
    for (auto it = cluster->begin_included(); it != cluster->end_included(); ++it) {
        CDB_ATOM_NODE* node = (*it)->get_my_node();
        if (node == last) continue;
        last = node;
        if (protected_oterms.count(*it) || cluster->get_node_info(*it).get_min_input_distance() != 0) continue;
        bool fed_by_buried_member = false;
        morv_ram_for_each_driven_data_iterm(node, [&](CDB_ATOM_ITERM* iterm) {
            const MORV_CLUSTER_NODE_INFO& source = cluster->get_node_info(iterm->get_source());
            fed_by_buried_member = fed_by_buried_member || (source.is_included() && !source.is_true_output() &&
                                                            source.get_buried_fanout_count() >= 1);
        });
        if (fed_by_buried_member) continue;
        MORV_DEBUG_STREAM::print(100, "node %d is a pure input", static_cast<int>(node->get_id()));
        found.push_back(*it);
    }
    return found;
}

// Inputs the node alone reads weigh 1, shared ones less.
double input_weight(MORV_CLUSTER* cluster, CDB_ATOM_NODE* node)
{
    double weight = 0.0;
    morv_ram_for_each_driven_data_iterm(node, [&](CDB_ATOM_ITERM* iterm) {
        const int readers = cluster->get_node_info(iterm->get_source()).get_buried_fanout_count();
        if (readers > 0) weight += 1.0 / readers;
    });
    return weight;
}

}  // namespace

int morv_trim_inputs(MORV_RAM_MAP_AREA_CLUSTER_MANAGER* manager, MORV_CLUSTER* cluster, int capacity)
{
    MORV_CLUSTER_RAM_LEGALIZER* legalizer = manager->get_ram_legalizer();
    std::set<CDB_ATOM_OTERM*> protected_oterms;
    int removed = 0;
    for (;;) {
        cluster->update_distances();
        const std::vector<CDB_ATOM_OTERM*> candidates = pure_inputs(cluster, protected_oterms);
        MORV_CLUSTER_COST_BY_SIZE cost;
        const auto token = cost.compute_size(cluster);
        if (s_morv_ram_map_debug) token->print();
        if (token->m_inputs < 20 && capacity >= token->get_bits()) break;
        // The last member stays: an empty cluster is no candidate.
        if (token->m_nodes <= 1) break;
        CDB_ATOM_OTERM* chosen = nullptr;
        double best = 0.0;
        for (CDB_ATOM_OTERM* oterm : candidates) {
            const double weight = input_weight(cluster, oterm->get_my_node());
            if (weight > best) {
                best = weight;
                chosen = oterm;
            }
        }
        if (!chosen) break;
        CDB_ATOM_NODE* node = chosen->get_my_node();
        ++removed;
        // Legality reads no distance: a refused removal is undone without
        // walking the cluster again.
        if (cluster->try_remove_node(node, [&] { return legalizer->is_legal(cluster); })) continue;
        morv_ram_for_each_data_oterm(node, [&](CDB_ATOM_OTERM* o) { protected_oterms.insert(o); });
    }
    MORV_DEBUG_STREAM::print(100, "  %d node(s) removed when trimming inputs", removed);
    return removed;
}

MORV_CLUSTER* MORV_CLUSTER_RAM_FLOW::grow_cluster(CDB_ATOM_NODE* seed)
{
    MORV_ASSERT_TEXT(seed, "node");
    bool driven = false;
    morv_ram_for_each_driven_data_iterm(seed, [&](CDB_ATOM_ITERM*) { driven = true; });
    if (!driven) return nullptr;
    MORV_RAM_MAP_AREA_CLUSTER_MANAGER* manager = m_cluster_manager->as_area_cluster_manager();
    MORV_CLUSTER_RAM_LEGALIZER* legalizer = manager->get_ram_legalizer();
    const int capacity = MORV_RAM_MAP_UTIL::get_instance()->get_ram_block_bits();
    manager->m_best_score = -1024;
    MORV_CLUSTER* cluster = manager->create_cluster(seed);
    if (!legalizer->legalize(cluster)) {
        if (s_morv_ram_map_debug) {
            cluster->print();
            legalizer->is_legal(cluster);
        }
        return cluster;
    }
    MORV_ASSERT_TEXT(legalizer->is_legal(cluster), "m_cluster_manager->get_legalizer()->is_legal(cluster)");
    print_token(cluster);
    morv_evaluate_cluster(manager, cluster);
    debug_line("Grabbing Outputs");
    bool ok = morv_grab_neighbours(manager, cluster, MORV_GRAB_OUTPUTS);
    if (ok) {
        debug_line("Expanding MFFC");
        morv_expand_mffc(manager, cluster);
        debug_line("Trimming Inputs");
        morv_trim_inputs(manager, cluster, capacity);
        ok = legalizer->legalize(cluster);
    }
    if (ok) {
        morv_evaluate_cluster(manager, cluster);
        debug_line("Grabbing Inputs");
        ok = morv_grab_neighbours(manager, cluster, MORV_GRAB_INPUTS);
        if (ok) {
            morv_evaluate_cluster(manager, cluster);
            morv_expand_mffc(manager, cluster);
            morv_trim_inputs(manager, cluster, capacity);
            ok = legalizer->legalize(cluster) && morv_evaluate_cluster(manager, cluster);
        }
    }
    if (!ok) {
        debug_line("Last cluster is worse than earlier ones or illegal!!");
        MORV_DEBUG_STREAM::print(100, "Restoring best cluster...");
        cluster->pop_to_stack(manager->m_best_cluster);
        morv_expand_mffc(manager, cluster);
        morv_trim_inputs(manager, cluster, capacity);
        legalizer->legalize(cluster);
    }
    print_token(cluster);
    return cluster;
}
