// Growth of a logic-to-RAM cluster from every seed the mapping would try,
// and a walk of its own that checks each legal cluster's registers.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "cdb/cdb_atom_netlist.h"
#include "cdb/cdb_atom_node.h"

#include "morv/netlist/morv_cluster.h"
#include "morv/rammap/morv_ram_cluster_cost.h"
#include "morv/rammap/morv_ram_cluster_growth.h"
#include "morv/rammap/morv_ram_cluster_legalizer.h"
#include "morv/rammap/morv_ram_cluster_manager.h"
#include "morv/rammap/morv_ram_map_util.h"

// The members of a cluster, by node.
inline std::set<CDB_ATOM_NODE*> cluster_nodes(MORV_CLUSTER* cluster)
{
    std::set<CDB_ATOM_NODE*> nodes;
    cluster->update_distances();
    for (auto it = cluster->begin_included(); it != cluster->end_included(); ++it) nodes.insert((*it)->get_my_node());
    return nodes;
}

// Checks, without the cluster's records, that a RAM's one register stage
// can take the members: registers on a loop of members are state bits; every
// path from a true input (a driving register counts) or a state bit to a
// true output or a state bit crosses exactly one register, the state bit
// counting once. Answers what is wrong, or "".
class REGISTER_WALK
{
public:
    explicit REGISTER_WALK(const std::set<CDB_ATOM_NODE*>& members) : m_members(members) {}

    std::string check()
    {
        for (CDB_ATOM_NODE* node : m_members)
            if (node->is_register() && reaches(node, node)) m_states.insert(node);
        for (CDB_ATOM_NODE* node : m_members)
            for (auto it = node->begin_iterm(); it != node->end_iterm(); ++it) {
                CDB_ATOM_OTERM* source = (*it)->get_source();
                if (!source || !is_data(node, *it) || m_members.count(source->get_my_node())) continue;
                const int start = source->get_my_node()->is_register() ? 1 : 0;
                if (!check_from(node, start, start, "true input of")) return m_error;
            }
        for (CDB_ATOM_NODE* state : m_states)
            for (CDB_ATOM_NODE* sink : sinks(state))
                if (!check_from(sink, 1, 0, "state bit feeding")) return m_error;
        return "";
    }

private:
    static bool is_data(CDB_ATOM_NODE* node, CDB_ATOM_ITERM* iterm)
    {
        return !MORV_CLUSTER::is_register_control_port(node, iterm->get_any_usage_as());
    }

    std::vector<CDB_ATOM_NODE*> sinks(CDB_ATOM_NODE* node) const
    {
        std::vector<CDB_ATOM_NODE*> found;
        for (auto ot = node->begin_oterm(); ot != node->end_oterm(); ++ot) {
            if (!MORV_CLUSTER::is_data_oterm(node, *ot)) continue;
            for (auto it = (*ot)->begin_iterm_fanout(); it != (*ot)->end_iterm_fanout(); ++it)
                if (m_members.count((*it)->get_my_node()) && is_data((*it)->get_my_node(), *it))
                    found.push_back((*it)->get_my_node());
        }
        return found;
    }

    bool leaves(CDB_ATOM_NODE* node) const
    {
        for (auto ot = node->begin_oterm(); ot != node->end_oterm(); ++ot) {
            if (!MORV_CLUSTER::is_data_oterm(node, *ot)) continue;
            for (auto it = (*ot)->begin_iterm_fanout(); it != (*ot)->end_iterm_fanout(); ++it)
                if (!m_members.count((*it)->get_my_node()) || !is_data((*it)->get_my_node(), *it)) return true;
        }
        return false;
    }

    bool reaches(CDB_ATOM_NODE* from, CDB_ATOM_NODE* to)
    {
        std::set<CDB_ATOM_NODE*> seen;
        std::vector<CDB_ATOM_NODE*> stack = sinks(from);
        while (!stack.empty()) {
            CDB_ATOM_NODE* node = stack.back();
            stack.pop_back();
            if (node == to) return true;
            if (!seen.insert(node).second) continue;
            for (CDB_ATOM_NODE* next : sinks(node)) stack.push_back(next);
        }
        return false;
    }

    // Registers counted when the path ends at a true output / at a state
    // bit's data input, from a node on: all values over every path.
    struct ENDS
    {
        std::set<int> outputs, states;
    };

    const ENDS& ends(CDB_ATOM_NODE* node)
    {
        auto done = m_ends.find(node);
        if (done != m_ends.end()) return done->second;
        if (!m_open.insert(node).second) {
            m_loop = true;
            static const ENDS none;
            return none;
        }
        ENDS result;
        if (m_states.count(node)) {
            result.states.insert(1);
        } else {
            const int reg = node->is_register() ? 1 : 0;
            if (leaves(node)) result.outputs.insert(reg);
            for (CDB_ATOM_NODE* sink : sinks(node)) {
                const ENDS& next = ends(sink);
                for (int v : next.outputs) result.outputs.insert(v + reg);
                for (int v : next.states) result.states.insert(v + reg);
            }
        }
        m_open.erase(node);
        return m_ends[node] = result;
    }

    bool check_from(CDB_ATOM_NODE* node, int start_to_output, int start_to_state, const char* what)
    {
        const ENDS& e = ends(node);
        bool ok = !m_loop;
        for (int v : e.outputs) ok = ok && v + start_to_output == 1;
        for (int v : e.states) ok = ok && v + start_to_state == 1;
        if (!ok) m_error = std::string(what) + " " + node->get_instance_name()->get_short_hpath();
        return ok;
    }

    const std::set<CDB_ATOM_NODE*>& m_members;
    std::set<CDB_ATOM_NODE*> m_states;
    std::set<CDB_ATOM_NODE*> m_open;
    std::map<CDB_ATOM_NODE*, ENDS> m_ends;
    bool m_loop = false;
    std::string m_error;
};

// One legal cluster grown from a seed.
struct GROWN_CLUSTER
{
    std::set<CDB_ATOM_NODE*> nodes;
    int inputs = 0;
    int outputs = 0;
    int gain = 0;
    long long bits = 0;
};

// Every seed of every register type, in the mapping's order; each legal
// cluster handed over before it is freed. Answers the number of seeds.
inline int grow_every_seed(CDB_ATOM_NETLIST& netlist, double threshold,
                           const std::function<void(MORV_RAM_MAP_AREA_CLUSTER_MANAGER&, MORV_CLUSTER*)>& legal)
{
    MORV_RAM_MAP_UTIL* util = MORV_RAM_MAP_UTIL::get_instance();
    util->prepare_cluster_carry_chains();
    MORV_RAM_MAP_AREA_CLUSTER_MANAGER manager(threshold);
    MORV_CLUSTER_RAM_LEGALIZER* legalizer = manager.get_ram_legalizer();
    std::set<MORV_REGISTER_TYPE> types;
    for (CDB_ATOM_NODE* node : netlist)
        if (util->is_ff(node)) types.insert(MORV_REGISTER_TYPE(node));
    int seeds = 0;
    for (const MORV_REGISTER_TYPE& type : types) {
        if (type.m_aload.m_oterm || !type.m_aload.m_inverted) continue;  // loads a value: not packed
        manager.m_register_type = type;
        legalizer->pre_cache(type, &netlist);
        manager.m_max_bits = 16384;
        for (CDB_ATOM_NODE* node : netlist) {
            if (!manager.can_pack(node)) continue;
            bool seed = false;
            if (util->is_ff(node)) {
                const CDB_ATOM_ITERM* aload = node->get_input_term_by_type(DB_ASYNCH_LOAD);
                seed = MORV_REGISTER_TYPE(node) == type && !(aload && aload->is_connected());
            } else {
                seed = true;
                for (auto ot = node->begin_oterm(); ot != node->end_oterm(); ++ot)
                    if ((*ot)->has_fanout() && MORV_CLUSTER::is_data_oterm(node, *ot))
                        seed = seed && (legalizer->is_input_legalizable(*ot) || legalizer->is_output_legalizable(*ot));
            }
            if (!seed) continue;
            ++seeds;
            MORV_CLUSTER* cluster = manager.get_ram_flow()->grow_cluster(node);
            if (cluster && legalizer->is_legal(cluster)) legal(manager, cluster);
            manager.delete_cluster(cluster);
        }
    }
    return seeds;
}

inline GROWN_CLUSTER describe(MORV_CLUSTER* cluster)
{
    MORV_CLUSTER_COST_BY_SIZE cost;
    const auto token = cost.compute_size(cluster);
    GROWN_CLUSTER grown;
    grown.nodes = cluster_nodes(cluster);
    grown.inputs = token->m_inputs;
    grown.outputs = token->m_outputs;
    grown.gain = token->get_score(MORV_RAM_MAP_UTIL::get_instance()->counts_outputs_in_gain());
    grown.bits = token->get_bits();
    return grown;
}
