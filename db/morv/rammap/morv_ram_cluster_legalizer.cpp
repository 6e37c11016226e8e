#include "morv/rammap/morv_ram_cluster_legalizer.h"

#include <algorithm>
#include <bit>
#include <cstdint>

#include "cdb/cdb_atom_netlist.h"
#include "cdb/cdb_atom_node.h"
#include "cdb/cdb_types.h"

#include "morv/core/morv_api.h"
#include "morv/core/morv_assert.h"
#include "morv/core/morv_debug_stream.h"
#include "morv/core/morv_env.h"
#include "morv/core/morv_global.h"
#include "morv/netlist/morv_atom_query.h"
#include "morv/netlist/morv_cluster.h"
#include "morv/rammap/morv_ram_cluster_cost.h"
#include "morv/rammap/morv_ram_cluster_growth.h"
#include "morv/rammap/morv_ram_cluster_manager.h"
#include "morv/rammap/morv_ram_internal.h"
#include "morv/rammap/morv_ram_map_util.h"

namespace {

const MORV_CLUSTER_NODE_INFO* info_of(MORV_CLUSTER* cluster, CDB_ATOM_OTERM* oterm)
{
    return cluster && cluster->has_node_info(oterm) ? &cluster->get_node_info(oterm) : nullptr;
}

bool is_included(MORV_CLUSTER* cluster, CDB_ATOM_OTERM* oterm)
{
    const MORV_CLUSTER_NODE_INFO* info = info_of(cluster, oterm);
    return info && info->is_included();
}

bool is_illegal_true_input(const MORV_CLUSTER_NODE_INFO& info)
{
    return info.is_true_input() && !info.is_legal_input();
}

bool is_illegal_true_output(const MORV_CLUSTER_NODE_INFO& info)
{
    return info.is_true_output() && !info.is_legal_output();
}

// The illegal true inputs or outputs of a cluster, taken before a loop
// changes it.
std::vector<CDB_ATOM_OTERM*> illegal_boundary(MORV_CLUSTER* cluster, bool inputs)
{
    cluster->update_distances();
    std::vector<CDB_ATOM_OTERM*> found;
    auto take = [&](auto begin, auto end) {
        for (auto it = begin; it != end; ++it) {
            const MORV_CLUSTER_NODE_INFO& info = cluster->get_node_info(*it);
            if (inputs ? is_illegal_true_input(info) : is_illegal_true_output(info)) found.push_back(*it);
        }
    };
    if (inputs) take(cluster->begin_inputs(), cluster->end_inputs());
    else take(cluster->begin_outputs(), cluster->end_outputs());
    return found;
}

int membership_size(const MORV_CLUSTER* cluster)
{
    return static_cast<int>(cluster->get_added_oterms().size());
}

}  // namespace

// ---------------------------------------------------------------- per-pass state

MORV_RAM_MAP_AREA_CLUSTER_MANAGER* MORV_CLUSTER_RAM_LEGALIZER::manager() const
{
    MORV_ASSERT_TEXT(m_cluster_manager, "m_cluster_manager");
    return m_cluster_manager->as_area_cluster_manager();
}

void MORV_CLUSTER_RAM_LEGALIZER::reset()
{
    MORV_ENV* env = MORV_RAM_MAP_UTIL::get_instance()->get_api()->get_morv_env();
    const int max_id = env ? env->get_max_atom_id() : -1;
    if (static_cast<int>(m_atom_states.size()) < max_id + 1) m_atom_states.resize(max_id + 1);
    // Stamping a new pass forgets every record at once.
    ++m_pass;
    m_expected_input_increase = 0;
}

MORV_CLUSTER_RAM_LEGALIZER::ATOM_STATE& MORV_CLUSTER_RAM_LEGALIZER::state_of(CDB_ATOM_NODE* node)
{
    const size_t id = node->get_id();
    if (id >= m_atom_states.size()) m_atom_states.resize(id + 1);
    ATOM_STATE& state = m_atom_states[id];
    if (state.m_pass != m_pass) state = ATOM_STATE{m_pass, 0, UNSEEN, UNSEEN};
    return state;
}

bool MORV_CLUSTER_RAM_LEGALIZER::is_input_legalizable(CDB_ATOM_OTERM* oterm) const
{
    auto found = m_input_cache.find(oterm);
    return found == m_input_cache.end() || found->second;
}

bool MORV_CLUSTER_RAM_LEGALIZER::is_output_legalizable(CDB_ATOM_OTERM* oterm) const
{
    auto found = m_output_cache.find(oterm);
    return found == m_output_cache.end() || found->second;
}

// ---------------------------------------------------------------- walks

bool MORV_CLUSTER_RAM_LEGALIZER::can_legalize_input(MORV_CLUSTER* cluster, CDB_ATOM_OTERM* oterm, bool counting)
{
    MORV_ASSERT_TEXT(oterm, "oterm");
    if (cluster) cluster->update_distances();
    return walk_backward(cluster, oterm, counting);
}

bool MORV_CLUSTER_RAM_LEGALIZER::walk_backward(MORV_CLUSTER* cluster, CDB_ATOM_OTERM* oterm, bool counting)
{
    if (!is_input_legalizable(oterm)) return false;
    CDB_ATOM_NODE* node = oterm->get_my_node();
    if (!manager()->can_pack(node)) {
        refuse_input(oterm);
        return false;
    }
    MORV_RAM_MAP_UTIL* util = MORV_RAM_MAP_UTIL::get_instance();
    if (util->is_ff(node)) {
        ATOM_STATE& state = state_of(node);
        if (state.m_visits++ == 0 && cluster && !is_included(cluster, oterm)) ++m_expected_input_increase;
        return true;
    }
    if (!util->is_lut(node)) MSG_INTERNAL_ERROR::report("shouldn't be here", "MORV", __FILE__, __LINE__);
    const bool ok = walk_fanin_node(cluster, node, counting);
    if (!ok) refuse_input(oterm);
    return ok;
}

bool MORV_CLUSTER_RAM_LEGALIZER::walk_fanin_node(MORV_CLUSTER* cluster, CDB_ATOM_NODE* node, bool counting)
{
    {
        ATOM_STATE& state = state_of(node);
        ++state.m_visits;
        // A node still open sits on a loop without a register.
        if (state.m_backward == OPEN || state.m_backward == FAILED) return false;
        if (state.m_backward == PASSED) return true;
        state.m_backward = OPEN;
    }
    bool ok = true;
    for (auto it = node->begin_iterm(); ok && it != node->end_iterm(); ++it) {
        CDB_ATOM_OTERM* source = (*it)->get_source();
        if (!source) continue;
        const MORV_CLUSTER_NODE_INFO* info = info_of(cluster, source);
        if (info && info->is_legal_input()) continue;
        ok = walk_backward(cluster, source, counting);
    }
    state_of(node).m_backward = ok ? PASSED : FAILED;  // the walk may have grown the records
    return ok;
}

bool MORV_CLUSTER_RAM_LEGALIZER::propagate_output_arrivals(MORV_CLUSTER* cluster, CDB_ATOM_OTERM* oterm, bool counting)
{
    MORV_ASSERT_TEXT(oterm, "oterm");
    if (cluster) cluster->update_distances();
    return walk_forward(cluster, oterm, counting);
}

bool MORV_CLUSTER_RAM_LEGALIZER::walk_forward(MORV_CLUSTER* cluster, CDB_ATOM_OTERM* oterm, bool counting)
{
    if (!is_output_legalizable(oterm)) return false;
    // A register's output is a registered boundary of its own.
    if (MORV_RAM_MAP_UTIL::get_instance()->is_ff(oterm->get_my_node())) return true;
    bool ok = true;
    for (auto fanout = oterm->begin_iterm_fanout(); ok && fanout != oterm->end_iterm_fanout(); ++fanout)
        ok = walk_fanout_node(cluster, *fanout, counting);
    if (!ok) refuse_output(oterm);
    return ok;
}

bool MORV_CLUSTER_RAM_LEGALIZER::walk_fanout_node(MORV_CLUSTER* cluster, CDB_ATOM_ITERM* iterm, bool counting)
{
    CDB_ATOM_NODE* node = iterm->get_my_node();
    if (cluster) {
        CDB_ATOM_OTERM* member = nullptr;
        morv_ram_for_each_data_oterm(node, [&](CDB_ATOM_OTERM* o) { member = member ? member : o; });
        if (member && is_included(cluster, member)) return true;
    }
    if (!manager()->can_pack(node)) return false;
    MORV_RAM_MAP_UTIL* util = MORV_RAM_MAP_UTIL::get_instance();
    if (util->is_ff(node)) return !MORV_CLUSTER::is_register_control_port(node, iterm->get_any_usage_as());
    if (!util->is_lut(node)) MSG_INTERNAL_ERROR::report("shouldn't be here", "MORV", __FILE__, __LINE__);
    {
        ATOM_STATE& state = state_of(node);
        if (state.m_forward == OPEN || state.m_forward == FAILED) return false;
        if (state.m_forward == PASSED) return true;
        state.m_forward = OPEN;
    }
    bool ok = true;
    morv_ram_for_each_data_oterm(node, [&](CDB_ATOM_OTERM* o) { ok = ok && walk_forward(cluster, o, counting); });
    state_of(node).m_forward = ok ? PASSED : FAILED;
    return ok;
}

// ---------------------------------------------------------------- legality

bool MORV_CLUSTER_RAM_LEGALIZER::is_legal(MORV_CLUSTER* cluster)
{
    cluster->update_distances();
    bool legal = true;
    if (cluster->has_combinational_loop()) {
        MORV_DEBUG_STREAM::print(100, "Cluster has a loop without a register.");
        legal = false;
    }
    for (auto it = cluster->begin_inputs(); it != cluster->end_inputs(); ++it) {
        if (!is_illegal_true_input(cluster->get_node_info(*it))) continue;
        MORV_DEBUG_STREAM::print(100, "Input ID %d is not registered.", morv_oterm_atom_id(*it));
        legal = false;
    }
    for (auto it = cluster->begin_included(); it != cluster->end_included(); ++it) {
        const MORV_CLUSTER_NODE_INFO& info = cluster->get_node_info(*it);
        if (is_illegal_true_output(info)) {
            MORV_DEBUG_STREAM::print(100, "Output ID %d is not registered.", morv_oterm_atom_id(*it));
            legal = false;
        }
        if (info.is_feedback_register() && !info.is_registered_state()) {
            MORV_DEBUG_STREAM::print(100, "State ID %d is not registered.", morv_oterm_atom_id(*it));
            legal = false;
        }
    }
    const unsigned address = static_cast<unsigned>(reinterpret_cast<uintptr_t>(cluster));
    MORV_DEBUG_STREAM::print(100, legal ? "Cluster %X is legal." : "Cluster %X is not legal.", address);
    return legal;
}

// ---------------------------------------------------------------- stepwise legalisation

// The pulls below go as deep as the logic they take in (a long register
// chain is pulled in one register at a time), so they keep their open steps
// on a stack of their own instead of the call stack. A step is entered,
// hands out the boundaries it must legalise first one at a time, and ends
// when the last of them is done or one of them failed; a failure ends every
// open step, innermost first.

// Every open step has walked the whole cluster again, so a pull this deep
// costs more than any RAM it could make: it fails like a cluster grown too
// big, the boundary where it stopped not refused.
bool MORV_CLUSTER_RAM_LEGALIZER::too_deep(const std::vector<PULL_STEP>& open)
{
    if (static_cast<int>(open.size()) < s_MAX_PULL_DEPTH) return false;
    MORV_DEBUG_STREAM::print(100, "Legalization pulls in logic deeper than %d steps, giving up", s_MAX_PULL_DEPTH);
    return true;
}

bool MORV_CLUSTER_RAM_LEGALIZER::legalize_input(MORV_CLUSTER* cluster, CDB_ATOM_OTERM* oterm)
{
    MORV_ASSERT_TEXT(oterm, "oterm");
    std::vector<PULL_STEP> open;
    bool ok = enter_input(cluster, oterm, open);
    while (!open.empty()) {
        PULL_STEP& step = open.back();
        CDB_ATOM_OTERM* next = ok ? next_input(cluster, step, ok) : nullptr;
        if (next) {
            ok = enter_input(cluster, next, open);
            continue;
        }
        CDB_ATOM_OTERM* done = step.m_oterm;
        open.pop_back();
        if (!ok) fail_input(done);
    }
    return ok;
}

// False when the step failed on entry; true when it is done or left open.
bool MORV_CLUSTER_RAM_LEGALIZER::enter_input(MORV_CLUSTER* cluster, CDB_ATOM_OTERM* oterm, std::vector<PULL_STEP>& open)
{
    if (s_morv_ram_map_debug) MORV_DEBUG_STREAM::print(100, "Legalizing input %d", morv_oterm_atom_id(oterm));
    if (too_deep(open)) return input_failed(oterm);
    CDB_ATOM_NODE* node = oterm->get_my_node();
    if (!manager()->can_pack(node)) {
        refuse_input(oterm);
        return input_failed(oterm);
    }
    cluster->update_distances();
    const MORV_CLUSTER_NODE_INFO* info = info_of(cluster, oterm);
    if (info && !info->is_included() && info->get_buried_fanout_count() != 0) {
        MORV_ASSERT_TEXT(!info->is_legal_input(), "!node_info.is_legal_input()");
        if (!is_input_legalizable(oterm)) {
            if (s_morv_ram_map_debug)
                MORV_DEBUG_STREAM::print(100, "Cache says %d is not legalizable", morv_oterm_atom_id(oterm));
            return input_failed(oterm);
        }
        cluster->add_node(node);
        cluster->update_distances();
        // A cluster that merely grew too big says nothing about the boundary.
        if (!morv_fits_max_bits(manager(), cluster)) return input_failed(oterm);
    }
    PULL_STEP step{oterm, {}, 0};
    morv_ram_for_each_driven_data_iterm(node,
                                        [&](CDB_ATOM_ITERM* iterm) { step.m_next.push_back(iterm->get_source()); });
    if (step.m_next.empty()) {
        refuse_input(oterm);
        return input_failed(oterm);
    }
    open.push_back(std::move(step));
    return true;
}

// The next fan-in of the step still to legalise, or null when none is left
// (ok false when one cannot be).
CDB_ATOM_OTERM* MORV_CLUSTER_RAM_LEGALIZER::next_input(MORV_CLUSTER* cluster, PULL_STEP& step, bool& ok)
{
    while (step.m_at < step.m_next.size()) {
        CDB_ATOM_OTERM* source = step.m_next[step.m_at++];
        cluster->update_distances();
        const MORV_CLUSTER_NODE_INFO* info = info_of(cluster, source);
        if (!info || !is_illegal_true_input(*info)) continue;
        if (is_input_legalizable(source)) return source;
        if (s_morv_ram_map_debug)
            MORV_DEBUG_STREAM::print(100, "Cache says %d (fanin of %d) is not legalizable", morv_oterm_atom_id(source),
                                     morv_oterm_atom_id(step.m_oterm));
        ok = false;
        return nullptr;
    }
    return nullptr;
}

// A step whose fan-in failed: what the netlist forbids is cached.
void MORV_CLUSTER_RAM_LEGALIZER::fail_input(CDB_ATOM_OTERM* oterm)
{
    refuse_input(oterm);
    input_failed(oterm);
}

bool MORV_CLUSTER_RAM_LEGALIZER::input_failed(CDB_ATOM_OTERM* oterm)
{
    if (s_morv_ram_map_debug) MORV_DEBUG_STREAM::print(100, "Input %d is not legalizable!", morv_oterm_atom_id(oterm));
    return false;
}

bool MORV_CLUSTER_RAM_LEGALIZER::legalize_output(MORV_CLUSTER* cluster, CDB_ATOM_OTERM* oterm)
{
    MORV_ASSERT_TEXT(oterm, "oterm");
    std::vector<PULL_STEP> open;
    bool ok = enter_output(cluster, oterm, open);
    while (!open.empty()) {
        PULL_STEP& step = open.back();
        CDB_ATOM_OTERM* next = ok ? next_output(cluster, step) : nullptr;
        if (next) {
            ok = enter_output(cluster, next, open);
            continue;
        }
        CDB_ATOM_OTERM* done = step.m_oterm;
        open.pop_back();
        if (!ok) output_failed(done);
    }
    return ok;
}

bool MORV_CLUSTER_RAM_LEGALIZER::enter_output(MORV_CLUSTER* cluster, CDB_ATOM_OTERM* oterm,
                                              std::vector<PULL_STEP>& open)
{
    if (s_morv_ram_map_debug) MORV_DEBUG_STREAM::print(100, "Legalizing output %d", morv_oterm_atom_id(oterm));
    if (too_deep(open)) return output_failed(oterm);
    cluster->update_distances();
    const MORV_CLUSTER_NODE_INFO* info = info_of(cluster, oterm);
    PULL_STEP step{oterm, {}, 0};
    if (info && !info->is_included()) {
        // An input that cannot be registered behind it: register it ahead,
        // through the outputs of the members it feeds.
        for (auto fanout = oterm->begin_iterm_fanout(); fanout != oterm->end_iterm_fanout(); ++fanout)
            morv_ram_for_each_data_oterm((*fanout)->get_my_node(), [&](CDB_ATOM_OTERM* o) {
                const MORV_CLUSTER_NODE_INFO* sink = info_of(cluster, o);
                if (sink && is_illegal_true_output(*sink)) step.m_next.push_back(o);
            });
        open.push_back(std::move(step));
        return true;
    }
    if (!info || !is_illegal_true_output(*info)) return true;
    if (!is_output_legalizable(oterm)) {
        if (s_morv_ram_map_debug)
            MORV_DEBUG_STREAM::print(100, "Cache says %d is not legalizable", morv_oterm_atom_id(oterm));
        return output_failed(oterm);
    }
    std::vector<CDB_ATOM_NODE*> added;
    if (!add_fanouts(cluster, oterm, added)) return output_failed(oterm);
    for (CDB_ATOM_NODE* next : added) {
        MORV_ASSERT_TEXT(manager()->can_pack(next), "m_cluster_manager->can_pack(next_node)");
        morv_ram_for_each_data_oterm(next, [&](CDB_ATOM_OTERM* o) { step.m_next.push_back(o); });
    }
    step.m_members = true;
    open.push_back(std::move(step));
    return true;
}

// The next output of the step still illegal, or null when none is left.
CDB_ATOM_OTERM* MORV_CLUSTER_RAM_LEGALIZER::next_output(MORV_CLUSTER* cluster, PULL_STEP& step)
{
    while (step.m_at < step.m_next.size()) {
        CDB_ATOM_OTERM* o = step.m_next[step.m_at++];
        cluster->update_distances();
        const MORV_CLUSTER_NODE_INFO& info = cluster->get_node_info(o);
        if (step.m_members) MORV_ASSERT_TEXT(info.is_included(), "node_info.is_included()");
        if (is_illegal_true_output(info)) return o;
    }
    return nullptr;
}

bool MORV_CLUSTER_RAM_LEGALIZER::output_failed(CDB_ATOM_OTERM* oterm)
{
    if (s_morv_ram_map_debug) MORV_DEBUG_STREAM::print(100, "Output %d is not legalizable!", morv_oterm_atom_id(oterm));
    return false;
}

// The sinks of the oterm outside the cluster join it; a sink that cannot
// join refuses the oterm as an output boundary.
bool MORV_CLUSTER_RAM_LEGALIZER::add_fanouts(MORV_CLUSTER* cluster, CDB_ATOM_OTERM* oterm,
                                             std::vector<CDB_ATOM_NODE*>& added)
{
    MORV_RAM_MAP_UTIL* util = MORV_RAM_MAP_UTIL::get_instance();
    std::vector<CDB_ATOM_NODE*> sinks;
    for (auto fanout = oterm->begin_iterm_fanout(); fanout != oterm->end_iterm_fanout(); ++fanout) {
        CDB_ATOM_NODE* next = (*fanout)->get_my_node();
        CDB_ATOM_OTERM* member = nullptr;
        morv_ram_for_each_data_oterm(next, [&](CDB_ATOM_OTERM* o) { member = member ? member : o; });
        if (member && is_included(cluster, member)) continue;
        const bool joins =
            manager()->can_pack(next) &&
            !(util->is_ff(next) && MORV_CLUSTER::is_register_control_port(next, (*fanout)->get_any_usage_as()));
        bool refused = false;
        if (joins && util->is_lut(next))
            morv_ram_for_each_data_oterm(next,
                                         [&](CDB_ATOM_OTERM* o) { refused = refused || !is_output_legalizable(o); });
        if (!joins || refused) {
            if (refused && s_morv_ram_map_debug)
                MORV_DEBUG_STREAM::print(100, "Cache says %d (fanout of %d) is not legalizable",
                                         static_cast<int>(next->get_id()), morv_oterm_atom_id(oterm));
            refuse_output(oterm);
            return false;
        }
        if (std::find(sinks.begin(), sinks.end(), next) == sinks.end()) sinks.push_back(next);
    }
    for (CDB_ATOM_NODE* next : sinks) {
        cluster->add_node(next);
        cluster->update_distances();
        added.push_back(next);
        if (!morv_fits_max_bits(manager(), cluster)) return false;
    }
    return true;
}

bool MORV_CLUSTER_RAM_LEGALIZER::register_states(MORV_CLUSTER* cluster)
{
    cluster->update_distances();
    std::vector<CDB_ATOM_OTERM*> states;
    for (auto it = cluster->begin_included(); it != cluster->end_included(); ++it) {
        const MORV_CLUSTER_NODE_INFO& info = cluster->get_node_info(*it);
        if (!info.is_feedback_register() || info.is_registered_state()) continue;
        MORV_DEBUG_STREAM::print(100, "State ID %d is not registered -- must register.", morv_oterm_atom_id(*it));
        states.push_back(*it);
    }
    for (CDB_ATOM_OTERM* state : states)
        if (!legalize_input(cluster, state) || !morv_fits_max_bits(manager(), cluster)) return false;
    return true;
}

// ---------------------------------------------------------------- forced legalisation

int MORV_CLUSTER_RAM_LEGALIZER::expected_input_increase(MORV_CLUSTER* cluster)
{
    reset();
    for (CDB_ATOM_OTERM* input : illegal_boundary(cluster, true))
        if (!can_legalize_input(cluster, input, true)) return -1;
    return m_expected_input_increase;
}

bool MORV_CLUSTER_RAM_LEGALIZER::forced_input_fits(MORV_CLUSTER* cluster, int increase)
{
    MORV_CLUSTER_COST_BY_SIZE cost;
    const auto token = cost.compute_size(cluster);
    const int inputs = token->m_inputs + increase;
    if (inputs < s_MAX_INPUTS && (static_cast<int64_t>(token->m_outputs) << inputs) < s_MAX_FORCED_BITS) return true;
    MORV_DEBUG_STREAM::print(100, "Won't fit into 4 KALBs, setting to illegal");
    return false;
}

// Inputs no walk can register are registered ahead, through the outputs.
// Answers -1 when the cluster outgrew its limits, else whether it changed.
int MORV_CLUSTER_RAM_LEGALIZER::core_inputs(MORV_CLUSTER* cluster, bool& changed)
{
    reset();
    std::vector<CDB_ATOM_OTERM*> recorded;
    cluster->update_distances();
    bool any_input = false;
    for (auto it = cluster->begin_inputs(); it != cluster->end_inputs(); ++it)
        any_input = any_input || cluster->get_node_info(*it).is_true_input();
    if (!any_input) return -1;
    for (CDB_ATOM_OTERM* input : illegal_boundary(cluster, true)) {
        if (is_input_legalizable(input) && can_legalize_input(cluster, input, true)) continue;
        recorded.push_back(input);
        refuse_input(input);
    }
    for (CDB_ATOM_OTERM* input : recorded) {
        cluster->update_distances();
        if (!cluster->has_node_info(input) || !is_illegal_true_input(cluster->get_node_info(input))) continue;
        MORV_DEBUG_STREAM::print(100, "Input ID %d CANNOT be legalized. Forcing legalization of output.",
                                 morv_oterm_atom_id(input));
        const int before = membership_size(cluster);
        legalize_output(cluster, input);
        changed = changed || membership_size(cluster) != before;
        if (!morv_fits_max_bits(manager(), cluster)) return -1;
    }
    return 0;
}

bool MORV_CLUSTER_RAM_LEGALIZER::core_outputs(MORV_CLUSTER* cluster, bool& changed)
{
    MORV_RAM_MAP_UTIL* util = MORV_RAM_MAP_UTIL::get_instance();
    std::vector<CDB_ATOM_OTERM*> recorded;
    reset();
    for (CDB_ATOM_OTERM* output : illegal_boundary(cluster, false)) {
        if (is_output_legalizable(output) && propagate_output_arrivals(cluster, output, true)) continue;
        recorded.push_back(output);
        refuse_output(output);
    }
    for (CDB_ATOM_OTERM* output : recorded) {
        cluster->update_distances();
        if (!cluster->has_node_info(output) || !is_illegal_true_output(cluster->get_node_info(output)) ||
            util->is_ff(output->get_my_node()))
            continue;
        MORV_DEBUG_STREAM::print(100, "Output ID %d CANNOT be legalized. Forcing legalization of input.",
                                 morv_oterm_atom_id(output));
        reset();
        if (!can_legalize_input(cluster, output, true)) return false;
        if (s_morv_ram_map_debug)
            MORV_DEBUG_STREAM::print(100, "Expected input increase is %d", m_expected_input_increase);
        if (!forced_input_fits(cluster, m_expected_input_increase)) return false;
        const int before = membership_size(cluster);
        legalize_input(cluster, output);
        changed = changed || membership_size(cluster) != before;
    }
    return true;
}

bool MORV_CLUSTER_RAM_LEGALIZER::core_legalize(MORV_CLUSTER* cluster)
{
    // Every pass that goes on has grown the cluster, so the loop ends.
    for (;;) {
        bool changed = false;
        if (core_inputs(cluster, changed) < 0) return false;
        if (!core_outputs(cluster, changed)) return false;
        if (!register_states(cluster)) return false;
        if (changed) continue;
        const int increase = expected_input_increase(cluster);
        if (increase < 0) return false;
        if (increase > 0 && !forced_input_fits(cluster, increase)) return false;
        reset();
        for (CDB_ATOM_OTERM* output : illegal_boundary(cluster, false))
            if (!propagate_output_arrivals(cluster, output, true)) return false;
        return true;
    }
}

bool MORV_CLUSTER_RAM_LEGALIZER::legalize_all(MORV_CLUSTER* cluster, bool inputs)
{
    for (;;) {
        const std::vector<CDB_ATOM_OTERM*> pending = illegal_boundary(cluster, inputs);
        if (pending.empty()) return true;
        CDB_ATOM_OTERM* first = pending.front();
        if (!(inputs ? legalize_input(cluster, first) : legalize_output(cluster, first))) return false;
        if (!morv_fits_max_bits(manager(), cluster)) return false;
        cluster->update_distances();
        // A step that left its boundary as it was would repeat for ever.
        if (cluster->has_node_info(first)) {
            const MORV_CLUSTER_NODE_INFO& info = cluster->get_node_info(first);
            if (inputs ? is_illegal_true_input(info) : is_illegal_true_output(info)) return false;
        }
    }
}

bool MORV_CLUSTER_RAM_LEGALIZER::legalize(MORV_CLUSTER* cluster)
{
    if (is_legal(cluster)) return true;
    MORV_DEBUG_STREAM::print(100, "Starting forced legalization...");
    const bool core = core_legalize(cluster);
    if (!core) MORV_DEBUG_STREAM::print(100, "Cluster CANNOT be legalized. Give up!");
    MORV_DEBUG_STREAM::print(100, "Done forced legalization.");
    if (!core) {
        register_states(cluster);
        return false;
    }
    const MORV_OTERM_SET membership = cluster->get_added_oterms();
    MORV_DEBUG_STREAM::print(100, "Legalizing all inputs...");
    bool legal = legalize_all(cluster, true) && is_legal(cluster);
    if (!legal) {
        cluster->pop_to_stack(membership);
        MORV_DEBUG_STREAM::print(100, "Legalizing all outputs...");
        legal = legalize_all(cluster, false) && is_legal(cluster);
    }
    MORV_DEBUG_STREAM::print(100, "Done final legalization.");
    return legal;
}

// ---------------------------------------------------------------- register signatures

uint64_t MORV_CLUSTER_RAM_LEGALIZER::register_signature(CDB_ATOM_NODE* node)
{
    return signature(node, false);
}

uint64_t MORV_CLUSTER_RAM_LEGALIZER::fanout_register_signature(CDB_ATOM_NODE* node)
{
    return signature(node, true);
}

uint64_t MORV_CLUSTER_RAM_LEGALIZER::signature(CDB_ATOM_NODE* node, bool fanout)
{
    MORV_ASSERT_TEXT(node, "node");
    const int id = static_cast<int>(node->get_id());
    auto found = m_register_signatures.find(id);
    if (found != m_register_signatures.end()) return found->second;
    MORV_RAM_MAP_UTIL* util = MORV_RAM_MAP_UTIL::get_instance();
    if (util->is_ff(node)) return m_register_signatures[id] = uint64_t{1} << (id % 64);
    if (!util->is_lut(node)) return m_register_signatures[id] = ~uint64_t{0};
    // Met again before it is done, the node sits on a loop without a
    // register: every bit, so that no boundary is taken there.
    m_register_signatures[id] = ~uint64_t{0};
    uint64_t mask = 0;
    if (fanout) {
        morv_ram_for_each_data_oterm(node, [&](CDB_ATOM_OTERM* o) {
            for (auto it = o->begin_iterm_fanout(); it != o->end_iterm_fanout(); ++it)
                mask |= signature((*it)->get_my_node(), true);
        });
    } else {
        for (auto it = node->begin_iterm(); it != node->end_iterm(); ++it) {
            CDB_ATOM_OTERM* source = (*it)->get_source();
            if (source && source->has_fanout() && (*it)->get_usage_count() > 0)
                mask |= signature(source->get_my_node(), false);
        }
    }
    return m_register_signatures[id] = mask;
}

// ---------------------------------------------------------------- caches

void MORV_CLUSTER_RAM_LEGALIZER::pre_cache(const MORV_REGISTER_TYPE& register_type, CDB_ATOM_NETLIST* netlist)
{
    MORV_ASSERT(netlist);
    MORV_RAM_MAP_UTIL* util = MORV_RAM_MAP_UTIL::get_instance();
    for (CDB_ATOM_NODE* node : *netlist) {
        if (!util->is_ff(node) || MORV_REGISTER_TYPE(node) == register_type) continue;
        CDB_ATOM_OTERM* out = node->get_output_term_by_type(DB_REG_OUT);
        if (!out) continue;
        refuse_input(out);
        refuse_output(out);
    }
    for (const bool output : {false, true}) {
        MORV_DEBUG_STREAM::print(100, output ? "Pre-caching output legalizers" : "Pre-caching input legalizers");
        reset();
        for (CDB_ATOM_NODE* node : *netlist)
            morv_ram_for_each_data_oterm(node, [&](CDB_ATOM_OTERM* o) {
                output ? propagate_output_arrivals(nullptr, o, false) : can_legalize_input(nullptr, o, false);
            });
        for (CDB_ATOM_NODE* node : *netlist) {
            if (!util->is_lut(node)) continue;
            morv_ram_for_each_data_oterm(node, [&](CDB_ATOM_OTERM* o) {
                if (!(output ? is_output_legalizable(o) : is_input_legalizable(o))) return;
                const uint64_t reached = output ? fanout_register_signature(node) : register_signature(node);
                if (std::popcount(reached) <= s_MAX_SIGNATURE_BITS) return;
                output ? refuse_output(o) : refuse_input(o);
            });
        }
        m_register_signatures.clear();
    }
}

void MORV_CLUSTER_RAM_LEGALIZER::invalidate_side(MORV_CLUSTER* cluster, const std::vector<CDB_ATOM_OTERM*>& work,
                                                 bool output, std::vector<CDB_ATOM_OTERM*>& next)
{
    std::vector<CDB_ATOM_OTERM*> queued;
    for (CDB_ATOM_OTERM* o : work) {
        if (s_morv_ram_map_debug)
            MORV_DEBUG_STREAM::print(100, output ? "processing (output) %d" : "processing (input) %d",
                                     morv_oterm_atom_id(o));
        if (output ? is_output_legalizable(o) : is_input_legalizable(o)) queued.push_back(o);
    }
    reset();
    for (CDB_ATOM_OTERM* o : queued) {
        const bool allowed =
            output ? propagate_output_arrivals(cluster, o, true) : can_legalize_input(cluster, o, true);
        if (allowed) continue;
        if (s_morv_ram_map_debug)
            MORV_DEBUG_STREAM::print(
                100, output ? "invalidate %d (output), do it recursively" : "invalidate %d (input), do it recursively",
                morv_oterm_atom_id(o));
        CDB_ATOM_NODE* node = o->get_my_node();
        if (output) {
            morv_ram_for_each_driven_data_iterm(node,
                                                [&](CDB_ATOM_ITERM* iterm) { next.push_back(iterm->get_source()); });
            continue;
        }
        for (auto it = o->begin_iterm_fanout(); it != o->end_iterm_fanout(); ++it)
            morv_ram_for_each_data_oterm((*it)->get_my_node(), [&](CDB_ATOM_OTERM* sink) { next.push_back(sink); });
    }
}

void MORV_CLUSTER_RAM_LEGALIZER::invalidate(MORV_CLUSTER* cluster)
{
    cluster->update_distances();
    std::vector<CDB_ATOM_OTERM*> work;
    for (auto it = cluster->begin_included(); it != cluster->end_included(); ++it) work.push_back(*it);
    // Only the neighbours of a fresh refusal are looked at again, and each
    // oterm is refused at most once (a refusal is never taken back): the
    // loop ends.
    while (!work.empty()) {
        std::vector<CDB_ATOM_OTERM*> next;
        invalidate_side(cluster, work, true, next);
        invalidate_side(cluster, work, false, next);
        std::sort(next.begin(), next.end(), DETERMINISTIC_LESS<CDB_ATOM_OTERM*>());
        next.erase(std::unique(next.begin(), next.end()), next.end());
        work.swap(next);
    }
    reset();
}
