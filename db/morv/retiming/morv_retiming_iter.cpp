// One classic retiming iteration: order the netlist along its critical
// connections, push each critical cell in the pass's direction, then split,
// demux and clean up what blocked the pushes.
#include <unordered_map>
#include <unordered_set>
#include <utility>

#include "cdb/cdb_atom_netlist.h"

#include "morv/core/morv_api.h"
#include "morv/core/morv_assert.h"
#include "morv/core/morv_debug_stream.h"
#include "morv/core/morv_env.h"
#include "morv/core/morv_expert.h"
#include "morv/debug/morv_plumrix.h"
#include "morv/netlist/morv_net_util.h"
#include "morv/retiming/morv_retiming.h"
#include "morv/retiming/morv_shift_reg_manager.h"
#include "morv/timing/morv_opt_skew.h"
#include "morv/timing/morv_timing.h"

int MORV_RETIMING::do_iter()
{
    topological_sort();
    RETIME_HASH_SET<CDB_ATOM_NODE*> critical;
    build_critical_set(critical);
    int count = 0;
    if (m_skew_mode) {
        count = skew_retime(critical);
        m_fsyn_timing->mark_refresh_pending();
    } else {
        std::vector<CDB_ATOM_NODE*> list;
        list.reserve(critical.size());
        for (CDB_ATOM_NODE* node : critical) list.push_back(node);
        count = retime_critical_nodes(std::move(list));
    }
    count += run_demux_pass();
    if (count > 0) {
        MORV_DEBUG_STREAM::print(100, "RTM circuit modifications: %d", count);
        m_icp_at_end_pending = false;
        if (MORV_ENV* env = m_fsyn_api->get_morv_env()) env->registers_retimed();
    }
    return count;
}

void MORV_RETIMING::topological_sort()
{
    m_new_registers.clear();
    m_touched_iterms.clear();
    m_live_nodes.clear();
    m_split_set.clear();
    m_demux_queue.clear();
    m_registers_to_check.clear();
    m_wire_luts.clear();
    forget_register_origins();
    m_register_age.clear();
    for (CDB_ATOM_NODE* node : *m_atom_netlist) m_live_nodes.insert(node);
    MORV_ENV* env = m_fsyn_api->get_morv_env();
    m_visit_state.assign(env != nullptr ? static_cast<size_t>(env->get_max_atom_id()) + 1 : 0, 0);
    m_topological_order.clear();
    MORV_DEBUG_STREAM::print(100, "RTM topologically sorting netlist");
    for (CDB_ATOM_NODE* node : *m_atom_netlist) {
        if (node->get_id() < m_visit_state.size() && m_visit_state[node->get_id()] != 0) continue;
        visit_critical(node);
    }
    MORV_DEBUG_STREAM::print(100, "RTM done topologically sorting netlist");
    if (m_mac_retiming_enabled) build_mac_slices();
    if (m_ram_retiming_enabled) build_ram_slices();
}

namespace {

struct VISIT_FRAME
{
    CDB_ATOM_NODE* node;
    std::vector<CDB_ATOM_NODE*> successors;
    size_t next = 0;
};

}  // namespace

// Depth-first post-order along connections of slack ratio at most SRT,
// kept on an explicit stack: critical paths can be far deeper than the
// call stack.
void MORV_RETIMING::visit_critical(CDB_ATOM_NODE* root)
{
    auto state = [this](CDB_ATOM_NODE* node) -> uint32_t& {
        if (node->get_id() >= m_visit_state.size()) m_visit_state.resize(node->get_id() + 1, 0);
        return m_visit_state[node->get_id()];
    };
    auto open = [&](CDB_ATOM_NODE* node) {
        VISIT_FRAME frame{node, {}, 0};
        for (auto out = node->begin_oterm(); out != node->end_oterm(); ++out)
            for (auto it = (*out)->begin_iterm_fanout(); it != (*out)->end_iterm_fanout(); ++it)
                if (m_fsyn_timing->get_slack_ratio(*it) <= m_slack_ratio_threshold)
                    frame.successors.push_back((*it)->get_my_node());
        state(node) = 1;
        return frame;
    };
    std::vector<VISIT_FRAME> stack;
    stack.push_back(open(root));
    while (!stack.empty()) {
        VISIT_FRAME& top = stack.back();
        if (top.next < top.successors.size()) {
            CDB_ATOM_NODE* next = top.successors[top.next++];
            if (state(next) == 0) stack.push_back(open(next));
            continue;
        }
        state(top.node) = 2;
        m_topological_order.push_back(top.node);
        stack.pop_back();
    }
}

bool MORV_RETIMING::is_critical_candidate(CDB_ATOM_NODE* node) const
{
    if (m_net_util->is_lcell(node)) return true;
    if (m_mac_retiming_enabled && (node->is_mac_out() || node->is_mac_mult())) return true;
    return m_ram_retiming_enabled && node->is_ram();
}

namespace {

// The head of each carry chain met, by cell: a chain is walked once however
// many of its cells ask.
using CHAIN_HEADS = std::unordered_map<const CDB_ATOM_NODE*, CDB_ATOM_NODE*>;

CDB_ATOM_NODE* chain_head_of(MORV_NET_UTIL* net_util, CDB_ATOM_NODE* cell, CHAIN_HEADS& heads)
{
    const auto found = heads.find(cell);
    if (found != heads.end()) return found->second;
    CDB_ATOM_NODE* head = net_util->get_carry_chain_head(cell);
    for (CDB_ATOM_NODE* at = head; at != nullptr && heads.emplace(at, head).second;
         at = net_util->get_next_node_in_carry_chain(at)) {}
    return head;
}

}  // namespace

// A forward iteration adds the cone of each chain with a critical cell. The
// cone is the chain's, whichever cell asks: it is collected at the first
// critical cell of the chain only, since a chain of L critical cells would
// otherwise collect it L times.
RETIME_HASH_SET<CDB_ATOM_NODE*>& MORV_RETIMING::build_critical_set(RETIME_HASH_SET<CDB_ATOM_NODE*>& set)
{
    MORV_DEBUG_STREAM::print(100, "Going through critical nodes in %s topological order",
                             m_retime_backwards ? "reverse" : "forward");
    std::vector<CDB_ATOM_NODE*> order(m_topological_order);
    if (m_retime_backwards) order.assign(m_topological_order.rbegin(), m_topological_order.rend());
    CHAIN_HEADS chain_heads;
    std::unordered_set<const CDB_ATOM_NODE*> coned_chains;
    for (CDB_ATOM_NODE* n : order) {
        if (n == nullptr || !is_critical_candidate(n)) continue;
        if ((m_net_util->is_lut(n) || m_net_util->is_lcell_hsadder(n)) && has_critical_input(n)) {
            set.insert(n);
            if (m_net_util->is_lcell_part_of_a_carry_chain(n) && !m_retime_backwards &&
                coned_chains.insert(chain_head_of(m_net_util, n, chain_heads)).second) {
                RETIME_NODE_SET cone;
                collect_carry_chain_cone(n, cone);
                ++m_chain_cones_collected;
                for (CDB_ATOM_NODE* member : cone) set.insert(member);
            }
        }
        if (m_mac_retiming_enabled && (n->is_mac_out() || n->is_mac_mult()) && has_critical_input(n)) set.insert(n);
        else if (m_mac_retiming_enabled && !m_retime_backwards && n->is_mac_out() && is_mac_output_critical(n))
            set.insert(n);
        if (m_ram_retiming_enabled && !m_retime_backwards && n->is_ram() && is_ram_output_critical(n)) set.insert(n);
        queue_for_demux(n);
    }
    MORV_DEBUG_STREAM::print(100, "returning critical node set of %d nodes", static_cast<int>(set.size()));
    return set;
}

int MORV_RETIMING::retime_critical_nodes(std::vector<CDB_ATOM_NODE*> list)
{
    int count = 0;
    MORV_EXPERT* expert = m_fsyn_api->get_fsyn_expert();
    MORV_PLUMRIX* plumrix = expert != nullptr ? expert->get_fsyn_plumrix() : nullptr;
    for (CDB_ATOM_NODE* n : list) {
        // A node an earlier push deleted has left the live set: nothing of it may be read.
        if (!m_live_nodes.contains(n)) continue;
        if (m_fsyn_api->is_plumrix_enabled() && plumrix != nullptr && plumrix->is_enabled())
            plumrix->note_node_visited(static_cast<int>(n->get_id()));
        if (m_net_util->is_lcell(n) && push_cell(n)) ++count;
        if (m_mac_retiming_enabled && (n->is_mac_out() || n->is_mac_mult())) count += retime_mac_node(n, true);
        if (n->is_ram() && m_ram_retiming_enabled && !m_retime_backwards && unpack_ram_at_node(n)) ++count;
    }
    return count;
}

bool MORV_RETIMING::push_cell(CDB_ATOM_NODE* cell)
{
    // A push that finds no register of its own must not reuse the
    // description an earlier cell's push left behind.
    m_has_current_register = false;
    CDB_ATOM_NODE* head =
        m_net_util->is_lcell_part_of_a_carry_chain(cell) ? m_net_util->get_carry_chain_head(cell) : cell;
    if (!(m_retime_backwards ? backward_push(head) : forward_push(head))) return false;
    m_fsyn_api->debug_checkpoint(__FILE__, __LINE__);
    return true;
}

int MORV_RETIMING::run_demux_pass()
{
    int count = m_retime_backwards || m_skew_mode ? split_nodes() : 0;
    count += run_demuxer();
    forget_register_origins();
    // Copied first: deleting a register must not disturb the walk.
    std::vector<CDB_ATOM_NODE*> registers(m_registers_to_check.begin(), m_registers_to_check.end());
    m_registers_to_check.clear();
    for (CDB_ATOM_NODE* reg : registers) {
        MORV_ASSERT_TEXT(reg, "node");
        CDB_ATOM_OTERM* regout = reg->get_output_term_by_type(DB_REG_OUT);
        if (regout == nullptr || regout->has_fanout()) continue;
        ++count;
        delete_node(reg);
    }
    MORV_SHIFT_REG_MANAGER* manager = m_opt_skew ? m_opt_skew->get_shift_reg_manager() : nullptr;
    // What the shortened shift registers left unused goes now; its deletion
    // is an edit like any other.
    if (manager != nullptr) count += manager->remove_queued_nodes();
    return count;
}
