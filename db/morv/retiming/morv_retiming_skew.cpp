// The skew-driven loop of classic retiming: instead of walking the critical
// cells in topological order, an iteration asks the optimal-skew analysis
// which registers want a later clock (moved backward) or an earlier one
// (moved forward), and tries them largest skew first. A RAM with a skew is a
// RAM-based shift register: the shift-register manager shortens it by a
// stage instead. A register whose move fails loses mobility in that
// direction, so the analysis asks less of it next time.

#include <cstdint>
#include <cstdlib>
#include <set>

#include "cdb/cdb_atom_netlist.h"
#include "cut/cut_block_util.h"

#include "morv/core/morv_api.h"
#include "morv/core/morv_assert.h"
#include "morv/core/morv_debug_stream.h"
#include "morv/netlist/morv_atom_query.h"
#include "morv/netlist/morv_net_util.h"
#include "morv/retiming/morv_retiming.h"
#include "morv/retiming/morv_shift_reg_manager.h"
#include "morv/timing/morv_opt_skew.h"
#include "morv/timing/morv_timing.h"

// Shift registers shortened during one call, per side: each is shortened at
// most once per side and iteration, however many of its RAMs are popped.
struct MORV_RETIMING::SKEW_SHORTENED
{
    std::set<int> on_output;
    std::set<int> on_input;
};

namespace {

// The slice's registered inputs and output as the multiplier sees them.
struct MAC_REGISTERS
{
    bool inputs = false;
    bool output = false;
};

MAC_REGISTERS mac_registers_of(const CDB_ATOM_NODE* mult)
{
    MAC_REGISTERS r;
    r.inputs = CUT_MAC_UTIL::is_input_port_registered(mult, DB_DATA_A) ||
               CUT_MAC_UTIL::is_input_port_registered(mult, DB_DATA_B);
    r.output = CUT_MAC_UTIL::is_output_port_registered(mult, DB_DATA_OUT);
    return r;
}

}  // namespace

int MORV_RETIMING::skew_retime(const RETIME_HASH_SET<CDB_ATOM_NODE*>& crit)
{
    MORV_ASSERT_TEXT(m_opt_skew.get(), "m_opt_skew");
    compute_skew_candidates();
    return retime_skew_candidates(crit);
}

// Greedy for the pass's first GI iterations: one pass of the analysis, at
// its fixed single-pass gain, without re-timing between steps.
void MORV_RETIMING::compute_skew_candidates()
{
    const bool single_pass = m_curr_iter < m_greedy_iterations;
    m_lb_fom = m_opt_skew->compute_optimal_skews(m_slack_ratio_threshold, true, single_pass);
    if (!m_no_lb) MORV_DEBUG_STREAM::print(1, "** SKEW Retiming LB FOM = %d", m_lb_fom);
    m_opt_skew->build_candidate_heap(m_slack_ratio_threshold);
}

int MORV_RETIMING::retime_skew_candidates(const RETIME_HASH_SET<CDB_ATOM_NODE*>& crit)
{
    MORV_OPT_SKEW::CANDIDATE_HEAP& heap = m_opt_skew->get_candidate_heap();
    SKEW_SHORTENED shortened;
    int count = 0;
    while (!heap.empty()) {
        const MORV_SKEW_CANDIDATE candidate = heap.top();
        heap.pop();
        MORV_ASSERT_TEXT(candidate.node, "node_skew.node");
        MORV_DEBUG_STREAM::print(
            100, "   NODE <%d> SKEW <%d> B_MOBILITY <%.2f> F_MOBILITY <%.2f>", morv_atom_id(candidate.node),
            candidate.skew, m_opt_skew->get_bwd_mobility(candidate.node), m_opt_skew->get_fwd_mobility(candidate.node));
        if (std::llabs(static_cast<int64_t>(candidate.skew)) < m_skew_threshold) {
            MORV_DEBUG_STREAM::print(100, "Skew too little. Not retiming.");
            continue;
        }
        if (!candidate.is_limited) {
            MORV_DEBUG_STREAM::print(100, "Node non critical. Not retiming.");
            continue;
        }
        count += candidate.skew < 0 ? skew_forward_move(candidate.node, crit, shortened)
                                    : skew_backward_move(candidate.node, crit, shortened);
    }
    return count;
}

// A successful shortening edits the netlist and counts as a modification
// although the push that was to follow it is not made: an iteration whose
// only edits are shortenings must still reach the run driver's checks.
int MORV_RETIMING::shorten_shift_register(CDB_ATOM_NODE* ram, bool on_output, SKEW_SHORTENED& shortened)
{
    MORV_SHIFT_REG_MANAGER* manager = m_opt_skew->get_shift_reg_manager();
    MORV_ASSERT_TEXT(manager, "manager");
    const int sr_id = manager->is_node_shift_register(ram);
    MORV_ASSERT_TEXT(sr_id > 0, "sr_id > 0");
    MORV_DEBUG_STREAM::print(1, on_output ? "Reducing shift register on output" : "Reducing shift register on input");
    std::set<int>& done = on_output ? shortened.on_output : shortened.on_input;
    if (!done.insert(sr_id).second) return 0;
    return manager->reduce_shift_register(ram, on_output) ? 1 : 0;
}

// What a forward move of the candidate pushes: the cells its register
// feeds, or the DSP block itself.
std::vector<CDB_ATOM_NODE*> MORV_RETIMING::skew_forward_list(CDB_ATOM_NODE* node)
{
    std::vector<CDB_ATOM_NODE*> list;
    if (!morv_is_mac_atom(node)) {
        CDB_ATOM_OTERM* regout = node->get_output_term_by_type(DB_REG_OUT);
        MORV_ASSERT_TEXT(regout, "regout");
        for (auto it = regout->begin_iterm_fanout(); it != regout->end_iterm_fanout(); ++it) {
            CDB_ATOM_NODE* fnode = (*it)->get_my_node();
            MORV_ASSERT_TEXT(fnode, "fnode");
            list.push_back(fnode);
        }
        return list;
    }
    if (node->is_mac_out()) {
        list.push_back(node);
        return list;
    }
    MORV_ASSERT_TEXT(node->is_mac_mult(), "node_skew.node->is_mac_mult()");
    const MAC_REGISTERS mac = mac_registers_of(node);
    RETIME_MAC_SLICE* slice = mac.output ? find_mac_slice(node) : nullptr;
    if (slice != nullptr) list.push_back(slice->m_mac_out);
    if (mac.inputs) list.push_back(node);
    return list;
}

int MORV_RETIMING::skew_forward_move(CDB_ATOM_NODE* node, const RETIME_HASH_SET<CDB_ATOM_NODE*>& crit,
                                     SKEW_SHORTENED& shortened)
{
    m_retime_backwards = false;
    MORV_DEBUG_STREAM::print(100, "Retiming forward");
    int count = 0;
    bool moved = false;
    if (node->is_ram()) {
        count += shorten_shift_register(node, true, shortened);
    } else {
        for (CDB_ATOM_NODE* listed : skew_forward_list(node)) {
            const int n = push_skew_target(listed, crit);
            count += n;
            moved = moved || n > 0;
        }
    }
    if (!moved) skew_move_failed(node, false);
    return count;
}

int MORV_RETIMING::skew_backward_move(CDB_ATOM_NODE* node, const RETIME_HASH_SET<CDB_ATOM_NODE*>& crit,
                                      SKEW_SHORTENED& shortened)
{
    m_retime_backwards = true;
    MORV_DEBUG_STREAM::print(100, "Retiming backward");
    if (node->is_ram()) {
        const int count = shorten_shift_register(node, false, shortened);
        skew_move_failed(node, true);
        return count;
    }
    CDB_ATOM_NODE* target = node;
    if (!morv_is_mac_atom(node)) {
        CDB_ATOM_ITERM* datain = node->get_input_term_by_type(DB_DATAIN);
        CDB_ATOM_OTERM* source = datain != nullptr ? datain->get_source() : nullptr;
        target = source != nullptr ? source->get_my_node() : nullptr;
    } else if (node->is_mac_mult()) {
        // Registered inputs without an output register: the multiplier can
        // only give its input registers up forward.
        const MAC_REGISTERS mac = mac_registers_of(node);
        if (mac.inputs && !mac.output) m_retime_backwards = false;
    }
    const int n = target != nullptr ? push_skew_target(target, crit) : 0;
    if (n < 1) skew_move_failed(node, true);
    return n > 0 ? n : 0;
}

// The refusals every listed or chosen node meets before its push.
int MORV_RETIMING::push_skew_target(CDB_ATOM_NODE* node, const RETIME_HASH_SET<CDB_ATOM_NODE*>& crit)
{
    MORV_ASSERT_TEXT(node, "node");
    if (!node->is_lcell_comb() && !morv_is_mac_atom(node)) {
        MORV_DEBUG_STREAM::print(100, "Not a combinational node or mac");
        return 0;
    }
    if (!crit.contains(node)) {
        MORV_DEBUG_STREAM::print(100, "Combinational node <%d> not critical", morv_atom_id(node));
        return 0;
    }
    return retime_node(node);
}

// A register that could not move and loads synchronously may move once the
// demuxer has taken its synchronous load off.
void MORV_RETIMING::skew_move_failed(CDB_ATOM_NODE* node, bool backward)
{
    if (m_sload_demuxing && m_net_util->is_ff(node)) {
        CDB_ATOM_ITERM* sdata = node->get_input_term_by_type(DB_SYNCH_DATA);
        if (sdata != nullptr && sdata->is_connected()) {
            m_demux_queue.insert(node);
            MORV_DEBUG_STREAM::print(100,
                                     backward ? "Inserted node %d to be demuxed (SLOAD connected, failed bwd push)"
                                              : "Inserted node %d to be demuxed (SLOAD connected, failed fwd push)",
                                     morv_atom_id(node));
        }
    }
    if (backward) m_opt_skew->reduce_bwd_mobility(node, s_SKEW_FAILURE_RATE);
    else m_opt_skew->reduce_fwd_mobility(node, s_SKEW_FAILURE_RATE);
}

int MORV_RETIMING::retime_node(CDB_ATOM_NODE* node)
{
    MORV_ASSERT_TEXT(node, "node");
    MORV_DEBUG_STREAM::print(100, "   OPT SKEW PUSH: %d", morv_atom_id(node));
    int count = 0;
    if (m_net_util->is_lcell(node) && m_live_nodes.contains(node) && push_cell(node)) count = 1;
    if (morv_is_mac_atom(node) && m_mac_retiming_enabled && m_live_nodes.contains(node))
        count += retime_mac_node(node, false);
    return count;
}
