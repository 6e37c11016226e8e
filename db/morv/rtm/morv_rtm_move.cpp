// Logic-cell moves of the skew-driven engine: a register moves forward
// behind the LCELL_COMB (or carry chain) it feeds, or backward in front of
// the one that drives it. A move only plans: it fills an operation with the
// registers to take out and to create, and the report step commits it.
#include <utility>

#include "cdb/cdb_atom_netlist.h"

#include "morv/core/morv_api.h"
#include "morv/core/morv_assert.h"
#include "morv/core/morv_debug_stream.h"
#include "morv/core/morv_env.h"
#include "morv/rtm/morv_rtm.h"
#include "morv/rtm/morv_rtm_internal.h"

namespace {

// What the term's port reads of its source: the inversion bit and the
// port's polarity together.
bool reads_inverted(const CDB_ATOM_ITERM* iterm)
{
    return iterm->reads_complemented();
}

}  // namespace

int MORV_RTM::data_output_type(CDB_ATOM_NODE* node) const
{
    return m_net_util->is_lcell_part_of_a_carry_chain(node) ? DB_SUM_OUT : DB_COMB_OUT;
}

bool MORV_RTM::has_fanout(CDB_ATOM_NODE* node, int output_type) const
{
    CDB_ATOM_OTERM* oterm = node->get_output_term_by_type(output_type);
    return oterm != nullptr && oterm->has_fanout();
}

MORV_RTM_CHAIN MORV_RTM::collect_carry_chain(CDB_ATOM_NODE* node) const
{
    MORV_RTM_CHAIN chain;
    CDB_ATOM_NODE* head = m_net_util->get_carry_chain_head(node);
    if (head == nullptr) {
        chain.push_back(node);
        return chain;
    }
    for (CDB_ATOM_NODE* at = head; at != nullptr; at = m_net_util->get_next_node_in_carry_chain(at))
        chain.push_back(at);
    return chain;
}

// ---------------------------------------------------------------- eligibility

bool MORV_RTM::is_retimeable_register(CDB_ATOM_NODE* node) const
{
    if (node == nullptr || !node->is_lcell_ff()) return false;
    for (int type : m_register_asynchronous_signals) {
        CDB_ATOM_ITERM* iterm = node->get_input_term_by_type(type, 0);
        if (iterm != nullptr && iterm->is_connected() && !iterm->is_logical_gnd()) return false;
    }
    // The design accepts a register whose synchronous load, when connected,
    // is VCC; here only a load that never acts (open, or tied to logical GND)
    // is accepted, and the others go to the demuxer. By the register rule a
    // load that acts takes the synchronous data, not the data input, so a
    // move across the data input's logic would move the wrong input.
    CDB_ATOM_ITERM* sload = node->get_input_term_by_type(DB_SYNCH_LOAD, 0);
    if (sload != nullptr && sload->is_connected() && !sload->is_logical_gnd()) return false;
    // The design accepts a register whose data input is open; here it is
    // refused. Its bypass hands the fanouts the data input's source or
    // constant, and an open input has neither: the bypass would stop on an
    // internal error where the netlist is valid.
    CDB_ATOM_ITERM* datain = node->get_input_term_by_type(DB_DATAIN, 0);
    if (datain == nullptr || !datain->is_connected()) return false;
    for (auto it = node->begin_iterm(); it != node->end_iterm(); ++it) {
        CDB_ATOM_ITERM* iterm = *it;
        if (!iterm->is_connected()) continue;
        const int global = iterm->get_global();
        if (global != 0 && global != 2 && global != 4) return false;
    }
    CDB_ATOM_OTERM* regout = node->get_output_term_by_type(DB_REG_OUT);
    for (int type : m_register_secondary_signals) {
        CDB_ATOM_ITERM* iterm = node->get_input_term_by_type(type, 0);
        if (iterm == nullptr || iterm->get_source() == nullptr) continue;
        if (iterm->get_source() == regout || iterm->get_source() == datain->get_source()) return false;
    }
    return regout == nullptr || !m_fsyn_api->is_oterm_dont_touch(regout, AMM_OP_FITTER_FSYN_RETIME);
}

bool MORV_RTM::is_retimeable_comb(CDB_ATOM_NODE* node) const
{
    if (m_moved_nodes.count(static_cast<int>(node->get_id())) != 0) return false;
    if (m_net_util->is_in_extended_mode(node)) return false;
    if (node->is_lcell_comb() && !m_net_util->is_lcell_part_of_a_carry_chain(node)) {
        int connected = 0;
        for (int type : m_retimeable_iterms) {
            CDB_ATOM_ITERM* iterm = node->get_input_term_by_type(type, 0);
            if (iterm != nullptr && iterm->is_connected()) ++connected;
        }
        if (connected <= 1) return false;
    }
    return !m_fsyn_api->is_atom_dont_touch(static_cast<int>(node->get_id()), AMM_OP_FITTER_FSYN_RETIME);
}

// The relation is read off the cell's own function, with the input term's
// inversion bit folded in, so that a wire is inverting exactly when its
// output is the complement of its source.
int MORV_RTM::is_wire_lut(CDB_ATOM_NODE* node, bool* inverted_ret) const
{
    if (node == nullptr || !node->is_lcell_comb() || m_net_util->is_lcell_part_of_a_carry_chain(node) ||
        m_net_util->is_in_extended_mode(node))
        return 0;
    int wire_type = 0;
    int position = -1;
    for (size_t i = 0; i < m_retimeable_iterms.size(); ++i) {
        CDB_ATOM_ITERM* iterm = node->get_input_term_by_type(m_retimeable_iterms[i], 0);
        if (iterm == nullptr || !iterm->is_connected()) continue;
        if (wire_type != 0) return 0;
        wire_type = m_retimeable_iterms[i];
        position = static_cast<int>(i);
    }
    CDB_ATOM_ITERM* extra = node->get_input_term_by_type(DB_DATA_G, 0);
    if (wire_type == 0 || (extra != nullptr && extra->is_connected())) return 0;
    unsigned in[MORV_EVALUATE_INPUT_COUNT] = {};
    const unsigned low = node->evaluate_output(DB_COMB_OUT, in);
    in[position] = 1;
    const unsigned high = node->evaluate_output(DB_COMB_OUT, in);
    if (low > 1 || high > 1 || low == high) return 0;
    if (inverted_ret != nullptr)
        *inverted_ret = (high == 0) != reads_inverted(node->get_input_term_by_type(wire_type, 0));
    return wire_type;
}

// The design steps over a wire whenever the wire is the register's one
// fanout; here the crossed term must also be the wire's one fanout. The
// register is bypassed on the wire's input, the term it really drives, so
// any other reader of the wire would read the register's input a cycle
// early; with one fanout each, nothing outside the move changes.
CDB_ATOM_NODE* MORV_RTM::find_source_register(CDB_ATOM_ITERM* iterm, bool* inverted_ret,
                                              CDB_ATOM_ITERM** reg_fanout_ret) const
{
    MORV_ASSERT_TEXT(iterm, "iterm");
    bool inverted = false;
    CDB_ATOM_ITERM* reg_fanout = iterm;
    CDB_ATOM_OTERM* source = iterm->get_source();
    if (source == nullptr) return nullptr;
    CDB_ATOM_NODE* node = source->get_my_node();
    bool wire_inverted = false;
    if (const int wire_type = is_wire_lut(node, &wire_inverted);
        wire_type != 0 && source->get_number_of_fanout() == 1) {
        CDB_ATOM_ITERM* wire_in = node->get_input_term_by_type(wire_type, 0);
        CDB_ATOM_OTERM* wire_source = wire_in->get_source();
        if (wire_source != nullptr && wire_source->get_number_of_fanout() == 1) {
            node = wire_source->get_my_node();
            inverted = wire_inverted;
            reg_fanout = wire_in;
        }
    }
    if (!node->is_lcell_ff()) return nullptr;
    if (inverted_ret != nullptr) *inverted_ret = inverted;
    if (reg_fanout_ret != nullptr) *reg_fanout_ret = reg_fanout;
    return node;
}

// The design takes any register the term (or the wire behind it) reaches,
// and reports the wire's inversion alone; here the term reached must be the
// register's data input, and its polarity is folded in. A register read at
// a control does not hold the cell's value, and a register that loads its
// data inverted holds the complement: the power-up value required at the
// crossed output must count both.
CDB_ATOM_NODE* MORV_RTM::find_destination_register(CDB_ATOM_ITERM* iterm, bool* inverted_ret) const
{
    MORV_ASSERT_TEXT(iterm, "iterm");
    bool inverted = false;
    CDB_ATOM_ITERM* at = iterm;
    bool wire_inverted = false;
    CDB_ATOM_NODE* node = at->get_my_node();
    if (is_wire_lut(node, &wire_inverted) != 0) {
        CDB_ATOM_OTERM* combout = node->get_output_term_by_type(DB_COMB_OUT);
        if (combout == nullptr || combout->get_number_of_fanout() != 1) return nullptr;
        at = combout->get_first_fanout();
        inverted = wire_inverted;
        node = at->get_my_node();
    }
    if (!node->is_lcell_ff() || !at->is_used_as(DB_DATAIN)) return nullptr;
    if (inverted_ret != nullptr) *inverted_ret = inverted != reads_inverted(at);
    return node;
}

bool MORV_RTM::check_register_compatibility(const MORV_RTM_REG* reg_1, const MORV_RTM_REG* reg_2, int* why_ret) const
{
    MORV_ASSERT_TEXT(reg_1 && reg_2, "reg");
    if (!MORV_RTM_REG::have_same_secondary_signals(reg_1, reg_2, &m_register_secondary_signals)) {
        if (why_ret != nullptr) *why_ret = MORV_RTM_WHY_SIGNALS;
        return false;
    }
    MORV_ASSERT_TEXT(reg_1->m_ref_oterm && reg_2->m_ref_oterm, "m_ref_oterm");
    const int answer = m_fsyn_api->compare_oterms_for_timing(find_regout_root(reg_1->m_ref_oterm),
                                                             find_regout_root(reg_2->m_ref_oterm));
    if (answer == MORV_RTM_TIMING_ALIKE_EXACT || answer == MORV_API::s_TIMING_EQUIVALENT) return true;
    if (why_ret != nullptr) *why_ret = MORV_RTM_WHY_TIMING;
    return false;
}

// ---------------------------------------------------------------- queues

void MORV_RTM::queue_register_for_demux(CDB_ATOM_NODE* node)
{
    if (node == nullptr || !node->is_lcell_ff()) return;
    MORV_DEBUG_STREAM::print(100, "Adding register to demux: %d", static_cast<int>(node->get_id()));
    m_nodes_to_demux.insert(static_cast<int>(node->get_id()));
}

void MORV_RTM::queue_node_for_split(CDB_ATOM_NODE* node)
{
    MORV_ASSERT_TEXT(node && node->is_lcell_comb(), "node->is_lcell_comb()");
    MORV_DEBUG_STREAM::print(100, "Adding node to split: %d", static_cast<int>(node->get_id()));
    m_nodes_to_split.insert(static_cast<int>(node->get_id()));
}

void MORV_RTM::queue_input_registers_for_demux(CDB_ATOM_NODE* node)
{
    for (int type : m_retimeable_iterms) {
        CDB_ATOM_ITERM* iterm = node->get_input_term_by_type(type, 0);
        if (iterm == nullptr || !iterm->is_connected()) continue;
        queue_register_for_demux(find_source_register(iterm, nullptr));
    }
}

// ---------------------------------------------------------------- records

MORV_OWNER<MORV_RTM_REG> MORV_RTM::new_lcell_record(CDB_ATOM_NODE* node) const
{
    MORV_OWNER<MORV_RTM_REG> record = MORV_MAKE_OWNER(MORV_RTM_REG, node, &m_register_secondary_signals);
    MORV_ASSERT_TEXT(record, "reg");
    record->m_type = MORV_RTM_REG_LCELL;
    record->m_ref_oterm = node->get_output_term_by_type(DB_REG_OUT);
    MORV_ASSERT_TEXT(record->m_ref_oterm, "m_ref_oterm");
    return record;
}

void MORV_RTM::add_clone(MORV_RTM_OP* op, const MORV_RTM_REG* reg, CDB_ATOM_ITERM* iterm, CDB_ATOM_OTERM* oterm)
{
    MORV_OWNER<MORV_RTM_REG> copy = reg->clone();
    copy->m_type = MORV_RTM_REG_LCELL;
    copy->m_add_on_iterm = iterm;
    copy->m_add_on_oterm = oterm;
    op->add_register_to_add(std::move(copy));
}

// ---------------------------------------------------------------- forward

int MORV_RTM::try_forward_move(MORV_RTM_REG* reg)
{
    MORV_ASSERT_TEXT(reg && reg->m_node && reg->m_ref_oterm, "reg");
    std::vector<CDB_ATOM_NODE*> targets;
    for (auto it = reg->m_ref_oterm->begin_iterm_fanout(); it != reg->m_ref_oterm->end_iterm_fanout(); ++it)
        targets.push_back((*it)->get_my_node());
    int count = 0;
    for (CDB_ATOM_NODE* node : targets) {
        if (!is_critical_node(node)) continue;
        MORV_OWNER<MORV_RTM_OP> op = MORV_MAKE_OWNER(MORV_RTM_OP, reg);
        MORV_ASSERT_TEXT(op, "retiming_operation");
        if (node->is_lcell_comb()) {
            MORV_DEBUG_STREAM::print(2, "   Trying FWD move across node < %d >", static_cast<int>(node->get_id()));
            if (is_retimeable_comb(node)) cross_chain(op.get(), node);
            else op->m_failure_reason = MORV_RTM_COMB_NO_GOOD;
        } else if (m_enable_mac_moves && node->is_mac_mult()) {
            MORV_DEBUG_STREAM::print(2, "   Trying FWD ff move into MAC < %d >", static_cast<int>(node->get_id()));
            forward_move_into_mac(op.get(), node);
        } else {
            op->m_failure_reason = MORV_RTM_NO_RETIMEABLE_FANOUT;
        }
        if (process_retiming_operation(std::move(op))) {
            m_moved_nodes.insert(static_cast<int>(node->get_id()));
            ++count;
        }
    }
    return count;
}

// The design crosses any chain whose head has not been tried; here a chain
// is also refused when a carry or share output leads anywhere but the next
// cell, when a chain cell's other output (comb beside sum) has fanout, or
// when the head's carry or share input is driven. Registers move only on
// the cells' data inputs and outputs, so a reader of a carry or share output
// outside the chain, or a driver into the head, would be a cycle off.
bool MORV_RTM::cross_chain(MORV_RTM_OP* op, CDB_ATOM_NODE* node)
{
    const MORV_RTM_CHAIN chain = collect_carry_chain(node);
    if (chain.size() >= 2) {
        op->m_carry_chain_head = chain.front();
        if (!m_processed_carry_chains.insert(static_cast<int>(chain.front()->get_id())).second) {
            op->m_failure_reason = MORV_RTM_ALREADY_PROCESSED_CARRY_CHAIN;
            return false;
        }
    }
    for (size_t i = 0; i < chain.size(); ++i) {
        CDB_ATOM_NODE* cell = chain[i];
        CDB_ATOM_NODE* next = i + 1 < chain.size() ? chain[i + 1] : nullptr;
        if (cell != node && !is_retimeable_comb(cell)) op->m_failure_reason = MORV_RTM_COMB_NO_GOOD;
        for (int type : {DB_CARRY_OUT, DB_SHARE_OUT}) {
            CDB_ATOM_OTERM* out = cell->get_output_term_by_type(type);
            if (out == nullptr) continue;
            for (auto it = out->begin_iterm_fanout(); it != out->end_iterm_fanout(); ++it)
                if ((*it)->get_my_node() != next) op->m_failure_reason = MORV_RTM_COMB_NO_GOOD;
        }
        // Power-up values are computed for the data output (the sum) alone:
        // registers moved onto or off the other output would take the sum's.
        const int other = data_output_type(cell) == DB_SUM_OUT ? DB_COMB_OUT : DB_SUM_OUT;
        if (chain.size() >= 2 && has_fanout(cell, other)) op->m_failure_reason = MORV_RTM_COMB_NO_GOOD;
    }
    for (int type : {DB_CARRY_IN, DB_SHARE_IN}) {
        CDB_ATOM_ITERM* iterm = chain.front()->get_input_term_by_type(type, 0);
        if (iterm != nullptr && iterm->is_driven()) op->m_failure_reason = MORV_RTM_COMB_NO_GOOD;
    }
    if (!op->is_legal()) return false;
    const bool forward = op->m_reg->m_direction == MORV_RTM_FORWARD;
    for (CDB_ATOM_NODE* cell : chain) {
        if (!op->is_legal()) break;
        if (forward) forward_node_step(op, cell, op->m_reg);
        else backward_node_step(op, cell, op->m_reg);
    }
    if (!op->is_legal()) return false;
    if (forward) {
        forward_initial_conditions(op, chain);
        return true;
    }
    if (!backward_initial_conditions(op, chain)) op->m_failure_reason = MORV_RTM_BAD_IC;
    return op->is_legal();
}

void MORV_RTM::forward_node_step(MORV_RTM_OP* op, CDB_ATOM_NODE* node, MORV_RTM_REG* reg)
{
    bool demux_queued = false;
    for (int type : m_retimeable_iterms) {
        CDB_ATOM_ITERM* iterm = node->get_input_term_by_type(type, 0);
        if (iterm == nullptr || !iterm->is_connected()) continue;
        bool inverted = false;
        CDB_ATOM_ITERM* reg_fanout = nullptr;
        CDB_ATOM_NODE* source = find_source_register(iterm, &inverted, &reg_fanout);
        if (source == nullptr) {
            op->m_failure_reason = MORV_RTM_NO_REG_ON_INPUT;
            continue;
        }
        if (!is_retimeable_register(source)) {
            op->m_failure_reason = MORV_RTM_REG_NO_GOOD;
            queue_register_for_demux(source);
            continue;
        }
        MORV_OWNER<MORV_RTM_REG> record = new_lcell_record(source);
        // What the cell reads at power-up: the register's low value through
        // the wire and this term's own inversion.
        const bool high = inverted != reads_inverted(iterm);
        op->set_iterm_ic(iterm, high ? MORV_RTM_REG_IC_HIGH : MORV_RTM_REG_IC_LOW);
        record->m_bypassed_iterms.insert(reg_fanout);
        int why = 0;
        const bool compatible = check_register_compatibility(reg, record.get(), &why);
        op->add_register_to_remove(std::move(record));
        if (compatible) continue;
        if (why == MORV_RTM_WHY_SIGNALS) {
            op->m_failure_reason = MORV_RTM_REG_INCOMPATIBLE_SIGNALS;
            if (!demux_queued) queue_input_registers_for_demux(node);
            demux_queued = true;
        } else {
            op->m_failure_reason = MORV_RTM_REG_INCOMPATIBLE_TIMING_CONSTRAINTS;
        }
    }
    if (!op->is_legal()) return;
    int outputs = 0;
    for (int type : m_retimeable_oterms) {
        if (!has_fanout(node, type)) continue;
        add_clone(op, reg, nullptr, node->get_output_term_by_type(type));
        ++outputs;
    }
    if (outputs >= 2) op->m_failure_reason = MORV_RTM_MULTI_OUTPUTS;
}

// ---------------------------------------------------------------- backward

int MORV_RTM::try_backward_move(MORV_RTM_REG* reg)
{
    MORV_ASSERT_TEXT(reg && reg->m_node, "reg");
    CDB_ATOM_ITERM* datain = reg->m_node->get_input_term_by_type(DB_DATAIN, 0);
    if (datain == nullptr || datain->get_source() == nullptr) return 0;
    CDB_ATOM_NODE* node = datain->get_source()->get_my_node();
    if (!is_critical_node(node)) return 0;
    MORV_OWNER<MORV_RTM_OP> op = MORV_MAKE_OWNER(MORV_RTM_OP, reg);
    MORV_ASSERT_TEXT(op, "retiming_operation");
    if (node->is_lcell_comb()) {
        MORV_DEBUG_STREAM::print(2, "   Trying BWD move across node < %d >", static_cast<int>(node->get_id()));
        if (is_retimeable_comb(node)) cross_chain(op.get(), node);
        else op->m_failure_reason = MORV_RTM_COMB_NO_GOOD;
    } else if (m_enable_mac_moves && node->is_mac_out()) {
        MORV_DEBUG_STREAM::print(2, "   Trying BWD ff move into MAC < %d >", static_cast<int>(node->get_id()));
        backward_move_into_mac(op.get(), node);
    } else {
        op->m_failure_reason = MORV_RTM_NO_RETIMEABLE_FANOUT;
    }
    if (!process_retiming_operation(std::move(op))) return 0;
    m_moved_nodes.insert(static_cast<int>(node->get_id()));
    return 1;
}

void MORV_RTM::backward_node_step(MORV_RTM_OP* op, CDB_ATOM_NODE* node, MORV_RTM_REG* reg)
{
    const int data_type = data_output_type(node);
    for (int type : m_retimeable_oterms) {
        if (!has_fanout(node, type)) continue;
        // The design crosses every output with fanout and removes the
        // registers behind both; here fanout on the cell's other output
        // refuses the move (MULTI_OUTPUTS). The power-up search meets one
        // required value at the data output; the registers behind the other
        // output would come back with whatever that output then computes.
        if (type != data_type) {
            op->m_failure_reason = MORV_RTM_MULTI_OUTPUTS;
            continue;
        }
        CDB_ATOM_OTERM* oterm = node->get_output_term_by_type(type);
        if (settle_backward_fanouts(op, node, oterm, reg)) continue;
        std::vector<CDB_ATOM_ITERM*> fanouts(oterm->begin_iterm_fanout(), oterm->end_iterm_fanout());
        for (CDB_ATOM_ITERM* fanout : fanouts) backward_fanout_step(op, node, fanout, reg);
    }
    if (!op->is_legal()) return;
    for (int type : m_retimeable_iterms) {
        CDB_ATOM_ITERM* iterm = node->get_input_term_by_type(type, 0);
        if (iterm != nullptr && iterm->is_connected()) add_clone(op, reg, iterm, nullptr);
    }
}

void MORV_RTM::backward_fanout_step(MORV_RTM_OP* op, CDB_ATOM_NODE* node, CDB_ATOM_ITERM* fanout, MORV_RTM_REG* reg)
{
    ++m_fanouts_examined;
    bool inverted = false;
    CDB_ATOM_NODE* dest = find_destination_register(fanout, &inverted);
    if (dest == nullptr) {
        op->m_failure_reason = MORV_RTM_NO_REG_ON_OUTPUT;
        return;
    }
    // The design hands the crossed cell to the demux queue here, which takes
    // only registers, so nothing is queued; here the refused register is
    // queued, as the forward step queues its refused source. The demuxer
    // turns its controls into logic, and the register can move itself in
    // the next iteration, where otherwise it would wait to be a candidate.
    if (!is_retimeable_register(dest)) {
        op->m_failure_reason = MORV_RTM_REG_NO_GOOD;
        queue_register_for_demux(dest);
        return;
    }
    MORV_OWNER<MORV_RTM_REG> record = new_lcell_record(dest);
    const MORV_RTM_REG_INITIAL_CONDITION_ENUM value = inverted ? MORV_RTM_REG_IC_HIGH : MORV_RTM_REG_IC_LOW;
    const MORV_RTM_REG_INITIAL_CONDITION_ENUM known = op->get_node_ic(node);
    if (known == MORV_RTM_REG_IC_NONE) op->set_node_ic(node, value);
    else if (known != value) op->m_failure_reason = MORV_RTM_BAD_IC;
    record->m_bypass_all_fanouts = true;
    int why = 0;
    const bool compatible = check_register_compatibility(reg, record.get(), &why);
    op->add_register_to_remove(std::move(record));
    if (compatible) return;
    queue_node_for_split(node);
    op->m_failure_reason =
        why == MORV_RTM_WHY_SIGNALS ? MORV_RTM_REG_INCOMPATIBLE_SIGNALS : MORV_RTM_REG_INCOMPATIBLE_TIMING_CONSTRAINTS;
}

int MORV_RTM::incompatible_reason(MORV_RTM_REG* reg, const MORV_RTM_REG* record) const
{
    int why = 0;
    if (check_register_compatibility(reg, record, &why)) return MORV_RTM_NO_FAILURE;
    return why == MORV_RTM_WHY_SIGNALS ? MORV_RTM_REG_INCOMPATIBLE_SIGNALS
                                       : MORV_RTM_REG_INCOMPATIBLE_TIMING_CONSTRAINTS;
}
