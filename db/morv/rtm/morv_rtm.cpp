// The run loop of the skew-driven engine: critical set, candidates from the
// engine's own skew analyser, one planned move per candidate, the report
// step that commits legal plans, and the demux and split passes.
#include "morv/rtm/morv_rtm.h"

#include <cmath>
#include <cstdlib>

#include "cdb/cdb_atom_netlist.h"
#include "cut/cut_block_util.h"

#include "morv/core/family/morv_family_traits.h"
#include "morv/core/morv_api.h"
#include "morv/core/morv_assert.h"
#include "morv/core/morv_debug_stream.h"
#include "morv/core/morv_expert.h"
#include "morv/rtm/morv_rtm_demuxer.h"
#include "morv/rtm/morv_rtm_splitter.h"
#include "morv/timing/morv_opt_skew.h"
#include "morv/timing/morv_timing.h"

namespace {

constexpr double k_default_srt = 0.125;
constexpr double k_mobility_rate = 0.2;

const char* const k_failure_texts[MORV_RTM_FAILURE_REASON_END] = {"NO FAILURE",
                                                                  "COMB_NO_GOOD",
                                                                  "NO RETIMEABLE FANOUT",
                                                                  "REG_INCOMPATIBLE_SIGNALS",
                                                                  "REG_INCOMPATIBLE_TIMING_CONSTRAINTS",
                                                                  "NO_REG_ON_INPUT",
                                                                  "BAD_IC",
                                                                  "NO_REG_ON_OUTPUT",
                                                                  "REG_NO_GOOD",
                                                                  "MULTI_OUTPUTS",
                                                                  "ALREADY PROCESSED CARRY CHAIN",
                                                                  "NO MAC SECONDARY SIGNAL",
                                                                  "REGISTERED MAC OUT",
                                                                  "REGISTERED MAC MULT",
                                                                  "UNRETIMEABLE MAC OUT",
                                                                  "UNRETIMEABLE MAC MULT"};

}  // namespace

const char* morv_rtm_failure_reason_text(int reason)
{
    MORV_ASSERT_TEXT(reason >= 0 && reason < MORV_RTM_FAILURE_REASON_END, "failure_reason");
    return k_failure_texts[reason];
}

const char* morv_rtm_direction_text(int direction)
{
    switch (direction) {
    case MORV_RTM_BACKWARD: return "BACKWARD";
    case MORV_RTM_FORWARD: return "FORWARD";
    default: return "UNDEFINED";
    }
}

MORV_RTM::MORV_RTM(MORV_API* api, const MORV_PARAMETER_MAP* params)
    : MORV_ALGORITHM_BASE(api, params), m_net_util(nullptr), m_mirror_lutmasks(true),
      m_outcome_counts(MORV_RTM_FAILURE_REASON_END, 0)
{
    MORV_DEBUG_STREAM::print(100, " * NEW * MORV_RTM Created.");
    m_net_util = m_fsyn_api->get_fsyn_net_util();
    MORV_ASSERT_TEXT(m_net_util, "m_net_util");
    if (m_slack_ratio_threshold == s_UNSET_DOUBLE) m_slack_ratio_threshold = k_default_srt;
    // The moves are judged on estimated timing while the registers they add
    // are placed only at the pass end: a pass the placement makes slower is
    // undone, as for classic retiming.
    m_judge_passes_after_placement = true;
    m_opt_skew = MORV_MAKE_OWNER(MORV_OPT_SKEW, m_fsyn_api);
    MORV_ASSERT_TEXT(m_opt_skew, "m_opt_skew");
    // The demuxer's masks follow the family's row order.
    m_mirror_lutmasks = morv_family_traits(m_fsyn_api->get_base_family_code()).m_mask_bits_reversed;
    m_retimeable_iterms = {DB_DATA_A, DB_DATA_B, DB_DATA_C, DB_DATA_D, DB_DATA_E, DB_DATA_F};
    m_extra_critical_iterms = {DB_CARRY_IN};
    m_retimeable_oterms = {DB_COMB_OUT, DB_SUM_OUT};
    m_register_secondary_signals = {DB_CLOCK, DB_CLOCK_ENABLE, DB_SYNCH_LOAD, DB_SYNCH_DATA, DB_SYNCH_CLEAR, DB_CLEAR};
    m_register_asynchronous_signals = {DB_ASYNCH_LOAD};
    m_mac_out_data_iterms = {DB_DATA_A, DB_DATA_B, DB_DATA_C, DB_DATA_D};
    m_mac_mult_data_iterms = {DB_DATA_A, DB_DATA_B};
    MORV_RTM_SIGNAL::m_net_util = m_net_util;
    MORV_RTM_REG::m_net_util = m_net_util;
}

// Records made after the engine is gone would read a stale net utility;
// an engine made since keeps its own.
MORV_RTM::~MORV_RTM()
{
    MORV_DEBUG_STREAM::print(100, " * NEW * MORV_RTM Destroyed");
    MORV_ASSERT_TEXT(m_opt_skew, "m_opt_skew");
    m_opt_skew.reset();
    if (MORV_RTM_SIGNAL::m_net_util == m_net_util) MORV_RTM_SIGNAL::m_net_util = nullptr;
    if (MORV_RTM_REG::m_net_util == m_net_util) MORV_RTM_REG::m_net_util = nullptr;
}

void MORV_RTM::set_default_algorithm_parameters(int& num_passes, int& icp_at_end, double& fom_to_accept,
                                                int& restore_netlist)
{
    m_icp_pending = true;
    if (num_passes == s_UNSET_INT) num_passes = 4;
    if (icp_at_end == s_UNSET_INT) icp_at_end = 1;
    if (fom_to_accept == s_UNSET_DOUBLE) fom_to_accept = 1e-10;
    // The design leaves RESTORE_NETLIST at 0 when unset; here it is 1: the
    // initial netlist is restored when the passes leave the figure of merit
    // worse. Without it a pass the placement makes slower would be kept and
    // the user handed a circuit slower than the one given.
    if (restore_netlist == s_UNSET_INT) restore_netlist = 1;
}

void MORV_RTM::set_default_pass_parameters(int pass, int& num_iters, int& hill_climb_iters)
{
    if (m_slack_ratio_threshold == s_UNSET_DOUBLE) m_slack_ratio_threshold = k_default_srt;
    if (num_iters == s_UNSET_INT) num_iters = pass == 1 ? 48 : 16;
    if (hill_climb_iters == s_UNSET_INT) hill_climb_iters = pass <= 1 ? 8 : 2;
}

void MORV_RTM::finish_algorithm()
{
    if (!m_icp_pending) return;
    const bool icp_ok = m_fsyn_api->run_timing_analysis(false, false, 1.0, false, true, false);
    MORV_ASSERT_TEXT(icp_ok, "icp_ok");
    m_icp_pending = false;
}

void MORV_RTM::clear_iteration_state()
{
    m_moved_nodes.clear();
    m_processed_carry_chains.clear();
    m_nodes_to_demux.clear();
    m_nodes_to_split.clear();
    m_critical_nodes.clear();
    m_regout_parent.clear();
    m_fanout_surveys.clear();
}

int MORV_RTM::do_iter()
{
    clear_iteration_state();
    generate_mac_slice_info();
    build_critical_set();
    MORV_RTM_REG_LIST list;
    build_list_of_registers_to_retime(&list);
    const int moves = retime_registers(&list);
    MORV_DEBUG_STREAM::print(2, "Pure retiming operations: %d", moves);
    const int repaired = run_demux_and_split();
    list.clear();
    m_fsyn_timing->mark_refresh_pending();
    return moves + repaired;
}

bool MORV_RTM::is_critical_node(const CDB_ATOM_NODE* node) const
{
    MORV_ASSERT_TEXT(node, "node");
    return m_critical_nodes.count(static_cast<int>(node->get_id())) != 0;
}

bool MORV_RTM::is_critical_lut(CDB_ATOM_NODE* node) const
{
    for (const MORV_RTM_PORT_LIST* list : {&m_retimeable_iterms, &m_extra_critical_iterms}) {
        for (int type : *list) {
            CDB_ATOM_ITERM* iterm = node->get_input_term_by_type(type, 0);
            if (iterm == nullptr || !iterm->is_connected()) continue;
            if (m_fsyn_timing->get_slack_ratio(iterm) < m_slack_ratio_threshold) return true;
        }
    }
    return false;
}

bool MORV_RTM::is_critical_mac(CDB_ATOM_NODE* node) const
{
    const MORV_RTM_PORT_LIST& types = node->is_mac_mult() ? m_mac_mult_data_iterms : m_mac_out_data_iterms;
    for (int type : types) {
        if (CUT_MAC_UTIL::is_input_port_registered(node, type)) continue;
        for (int index = 0; index < m_mac_port_width; ++index) {
            CDB_ATOM_ITERM* iterm = node->get_input_term_by_type(type, index);
            if (iterm == nullptr) continue;
            if (m_fsyn_timing->get_slack_ratio(iterm) < m_slack_ratio_threshold) return true;
        }
    }
    return false;
}

void MORV_RTM::build_critical_set()
{
    for (CDB_ATOM_NODE* node : *m_atom_netlist) {
        bool critical = false;
        if (node->is_lcell_comb()) critical = is_critical_lut(node);
        else if (node->is_mac_mult() || node->is_mac_out()) critical = is_critical_mac(node);
        if (critical) m_critical_nodes.insert(static_cast<int>(node->get_id()));
    }
    MORV_DEBUG_STREAM::print(2, "Built Set of Critical Nodes : %d", static_cast<int>(m_critical_nodes.size()));
}

void MORV_RTM::build_list_of_registers_to_retime(MORV_RTM_REG_LIST* list)
{
    MORV_ASSERT_TEXT(list, "list");
    MORV_ASSERT_TEXT(list->empty(), "list->empty()");
    MORV_DEBUG_STREAM::print(2, "Building list of registers to retime...");
    m_opt_skew->compute_optimal_skews(m_slack_ratio_threshold, true, false);
    m_opt_skew->build_candidate_heap(m_slack_ratio_threshold);
    MORV_OPT_SKEW::CANDIDATE_HEAP& heap = m_opt_skew->get_candidate_heap();
    while (!heap.empty()) {
        const MORV_SKEW_CANDIDATE entry = heap.top();
        heap.pop();
        add_candidate(list, entry.node, entry.skew, entry.is_limited);
    }
}

void MORV_RTM::add_candidate(MORV_RTM_REG_LIST* list, CDB_ATOM_NODE* node, int skew, bool critical)
{
    MORV_ASSERT_TEXT(node, "node");
    MORV_DEBUG_STREAM::print(100, "   MORV_RTM: NODE <%d> SKEW <%d> B_MOBILITY <%.2f> F_MOBILITY <%.2f>",
                             static_cast<int>(node->get_id()), skew, m_opt_skew->get_bwd_mobility(node),
                             m_opt_skew->get_fwd_mobility(node));
    if (std::abs(static_cast<double>(skew)) < m_skew_threshold) {
        MORV_DEBUG_STREAM::print(100, "Skew too little. Not retiming.");
        return;
    }
    if (!critical) {
        MORV_DEBUG_STREAM::print(100, "Node non critical. Not retiming.");
        return;
    }
    const int direction = skew < 0 ? MORV_RTM_FORWARD : MORV_RTM_BACKWARD;
    MORV_OWNER<MORV_RTM_REG> reg;
    if (node->is_lcell_ff()) {
        if (!is_retimeable_register(node)) {
            queue_register_for_demux(node);
            return;
        }
        reg = MORV_MAKE_OWNER(MORV_RTM_REG, node, &m_register_secondary_signals);
        reg->m_type = MORV_RTM_REG_LCELL;
        reg->m_ref_oterm = node->get_output_term_by_type(DB_REG_OUT);
    } else if (node->is_mac_out() || node->is_mac_mult()) {
        reg = MORV_MAKE_OWNER(MORV_RTM_REG);
        reg->m_node = node;
        reg->m_type = node->is_mac_out() ? MORV_RTM_REG_MAC_OUT : MORV_RTM_REG_MAC_MULT;
    } else {
        return;
    }
    MORV_ASSERT_TEXT(reg, "reg");
    reg->m_direction = direction;
    list->push_back(std::move(reg));
}

int MORV_RTM::retime_registers(MORV_RTM_REG_LIST* list)
{
    MORV_DEBUG_STREAM::print(2, "Beginning Retiming Operations...");
    int count = 0;
    m_fanout_surveys.clear();
    m_surveys_allowed = true;
    for (MORV_OWNER<MORV_RTM_REG>& reg : *list) {
        MORV_ASSERT_TEXT(reg, "reg");
        const int moves = retime_register(reg.get());
        if (moves == 0) reduce_mobility(reg.get());
        count += moves;
    }
    m_surveys_allowed = false;
    m_fanout_surveys.clear();
    return count;
}

int MORV_RTM::retime_register(MORV_RTM_REG* reg)
{
    MORV_ASSERT_TEXT(reg, "reg");
    MORV_DEBUG_STREAM::print(2, "NODE < %d > moving < %s >", reg->m_node ? static_cast<int>(reg->m_node->get_id()) : 0,
                             morv_rtm_direction_text(reg->m_direction));
    switch (reg->m_type) {
    case MORV_RTM_REG_LCELL: return retime_lcell_register(reg);
    case MORV_RTM_REG_MAC_OUT:
    case MORV_RTM_REG_MAC_MULT: return retime_mac_register(reg);
    case MORV_RTM_REG_NONE: MORV_ASSERT_TEXT(false, "Hey! This is not a good MORV_RTM_REG_TYPE ! ! !"); return 0;
    default: MORV_ASSERT_TEXT(false, "Unknown MORV_RTM_REG_TYPE"); return 0;
    }
}

int MORV_RTM::retime_lcell_register(MORV_RTM_REG* reg)
{
    if (reg->m_direction == MORV_RTM_FORWARD) return try_forward_move(reg);
    if (reg->m_direction == MORV_RTM_BACKWARD) return try_backward_move(reg);
    return 0;
}

int MORV_RTM::retime_mac_register(MORV_RTM_REG* reg)
{
    if (!m_enable_mac_moves) return 0;
    const bool mult = reg->m_type == MORV_RTM_REG_MAC_MULT;
    if (reg->m_direction == MORV_RTM_FORWARD)
        return mult ? try_forward_move_mac_mult(reg) : try_forward_move_mac_out(reg);
    if (reg->m_direction == MORV_RTM_BACKWARD)
        return mult ? try_backward_move_mac_mult(reg) : try_backward_move_mac_out(reg);
    return 0;
}

void MORV_RTM::reduce_mobility(const MORV_RTM_REG* reg)
{
    if (reg->m_direction == MORV_RTM_FORWARD) m_opt_skew->reduce_fwd_mobility(reg->m_node, k_mobility_rate);
    else if (reg->m_direction == MORV_RTM_BACKWARD) m_opt_skew->reduce_bwd_mobility(reg->m_node, k_mobility_rate);
}

bool MORV_RTM::process_retiming_operation(MORV_OWNER<MORV_RTM_OP> operation)
{
    MORV_ASSERT_TEXT(operation, "retiming_operation");
    const int reason = operation->m_failure_reason;
    ++m_outcome_counts.at(static_cast<size_t>(reason));
    if (reason != MORV_RTM_NO_FAILURE) {
        MORV_DEBUG_STREAM::print(2, "      FAILURE REASON: %s", morv_rtm_failure_reason_text(reason));
        return false;
    }
    MORV_DEBUG_STREAM::print(2, "      SUCCESS!");
    commit(operation.get());
    return true;
}

void MORV_RTM::commit(MORV_RTM_OP* op)
{
    // What the surveys read is about to change.
    m_fanout_surveys.clear();
    remove_registers(op);
    add_registers(op);
    pack_registers(op);
    unpack_registers(op);
    m_fsyn_api->taint(nullptr);
    merge_carry_chain_inputs(op);
    m_fsyn_api->debug_checkpoint(__FILE__, __LINE__);
}

int MORV_RTM::run_demux_and_split()
{
    MORV_RTM_DEMUXER demuxer(m_fsyn_api, m_mirror_lutmasks);
    MORV_RTM_SPLITTER splitter(m_fsyn_api);
    splitter.m_register_secondary_signals = m_register_secondary_signals;
    splitter.m_register_asynchronous_signals = m_register_asynchronous_signals;
    const int demuxed = demuxer.run(m_nodes_to_demux);
    const int split = splitter.run(m_nodes_to_split);
    return demuxed + split;
}
