// DSP moves of the skew-driven engine: a multiplier's input registers move
// through it onto its product, product registers move through the output
// stage and back, the output stage's register moves onto its fanouts and
// back, and logic-cell registers enter a DSP block. Like the logic-cell
// moves they only plan; the commit packs and unpacks.
#include <utility>

#include "cdb/cdb_atom_netlist.h"
#include "cut/cut_block_util.h"

#include "morv/core/morv_api.h"
#include "morv/core/morv_assert.h"
#include "morv/core/morv_debug_stream.h"
#include "morv/core/morv_env.h"
#include "morv/netlist/morv_atom_query.h"
#include "morv/retiming/morv_retiming_mac.h"
#include "morv/rtm/morv_rtm.h"
#include "morv/rtm/morv_rtm_internal.h"

// ---------------------------------------------------------------- eligibility

bool MORV_RTM::is_blocked_mac(CDB_ATOM_NODE* node) const
{
    if (m_moved_nodes.count(morv_atom_id(node)) != 0) return true;
    MORV_RTM_MAC_SLICE slice;
    if (!find_mac_slice(node, &slice)) return true;
    return slice.m_mode == CUT_MAC_MODE_MULTIPLY_ACCUMULATE || slice.m_mode == CUT_MAC_MODE_DYNAMIC;
}

bool MORV_RTM::has_dynamic_control(CDB_ATOM_NODE* node) const
{
    for (int type : {MORV_MAC_CONTROL_PORT_0, MORV_MAC_CONTROL_PORT_1, MORV_MAC_MULT_CONTROL_PORT_0,
                     MORV_MAC_MULT_CONTROL_PORT_1}) {
        if (!node->implements(type)) continue;
        CDB_ATOM_ITERM* iterm = node->get_input_term_by_type(type, 0);
        if (iterm == nullptr || iterm->get_source() == nullptr) continue;
        CDB_ATOM_NODE* driver = iterm->get_source()->get_my_node();
        if (driver->begin_iterm() == driver->end_iterm()) continue;
        if (!iterm->is_logical_vcc() && !iterm->is_logical_gnd()) return true;
    }
    return false;
}

bool MORV_RTM::has_scan_chain(CDB_ATOM_NODE* node) const
{
    for (int type : m_mac_mult_data_iterms)
        if (CUT_MAC_UTIL::get_scan_in_mult(node, type) != nullptr ||
            CUT_MAC_UTIL::get_scan_out_mult(node, type) != nullptr)
            return true;
    return false;
}

// A register moved across a stage must not cross another register of the
// stage (an input register behind a pipeline one, say), whose controls it
// would then take; nor a programmable output inversion, across which the
// power-up value would change.
bool MORV_RTM::crosses_only_plain_stages(CDB_ATOM_NODE* node) const
{
    const MORV_RTM_PORT_LIST& types = node->is_mac_mult() ? m_mac_mult_data_iterms : m_mac_out_data_iterms;
    for (int type : types)
        if (CUT_MAC_UTIL::is_pipeline_registered(node, type)) return false;
    if (node->is_mac_out())
        for (int type : types)
            if (CUT_MAC_UTIL::is_input_port_registered(node, type)) return false;
    return true;
}

// Product registers moved across the output stage delay every reader of
// the products, so the output stage must be the only one; and an inverted
// product bit would power up high behind its register.
bool MORV_RTM::products_feed_only(const MORV_RTM_MAC_SLICE& slice) const
{
    for (CDB_ATOM_NODE* mult : slice.m_mac_mults) {
        for (int index = 0; index < 2 * m_mac_port_width; ++index) {
            CDB_ATOM_OTERM* oterm = mult->get_output_term_by_type(DB_DATA_OUT, index);
            if (oterm == nullptr) continue;
            if (CUT_MAC_UTIL::is_output_prog_invert(mult, DB_DATA_OUT, index)) return false;
            for (auto it = oterm->begin_iterm_fanout(); it != oterm->end_iterm_fanout(); ++it)
                if ((*it)->get_my_node() != slice.m_mac_out) return false;
        }
    }
    return true;
}

bool MORV_RTM::is_retimeable_mac_mult(CDB_ATOM_NODE* node) const
{
    if (is_blocked_mac(node) || has_scan_chain(node) || has_dynamic_control(node)) return false;
    return !m_fsyn_api->is_atom_dont_touch(morv_atom_id(node), AMM_OP_FITTER_FSYN_RETIME);
}

bool MORV_RTM::is_movable_mac_mult(CDB_ATOM_NODE* node) const
{
    if (is_blocked_mac(node) || has_scan_chain(node)) return false;
    return !m_fsyn_api->is_atom_dont_touch(morv_atom_id(node), AMM_OP_FITTER_FSYN_RETIME);
}

bool MORV_RTM::is_retimeable_mac_out(CDB_ATOM_NODE* node) const
{
    if (is_blocked_mac(node) || has_dynamic_control(node)) return false;
    return !m_fsyn_api->is_atom_dont_touch(morv_atom_id(node), AMM_OP_FITTER_FSYN_RETIME);
}

bool MORV_RTM::is_movable_mac_out(CDB_ATOM_NODE* node) const
{
    return !is_blocked_mac(node);
}

// ---------------------------------------------------------------- common steps

void MORV_RTM::print_mac_registration(CDB_ATOM_NODE* node) const
{
    int registered = 0;
    for (int type : m_mac_mult_data_iterms) registered += CUT_MAC_UTIL::is_input_port_registered(node, type) ? 1 : 0;
    const char* input = "< UNREGISTERED >";
    if (registered == static_cast<int>(m_mac_mult_data_iterms.size())) input = "< FULLY REGISTERED >";
    else if (registered > 0) input = "< PARTIALLY REGISTERED >";
    MORV_DEBUG_STREAM::print(2, "   Input: %s", input);
    MORV_DEBUG_STREAM::print(2, "   Output: %s",
                             CUT_MAC_UTIL::is_output_port_registered(node, DB_DATA_OUT) ? "< REGISTERED >"
                                                                                        : "< UNREGISTERED >");
}

int MORV_RTM::report_mac_move(MORV_OWNER<MORV_RTM_OP> op, CDB_ATOM_NODE* node)
{
    if (!process_retiming_operation(std::move(op))) return 0;
    m_moved_nodes.insert(morv_atom_id(node));
    return 1;
}

// ---------------------------------------------------------------- input registers

// Every connected bit of a registered port stands for one register output,
// its observable term. A bit without one cannot be described, and the
// observable terms of a register that something reads cannot go away, so
// either refuses the move.
MORV_RTM_REG* MORV_RTM::collect_mac_port_registers(MORV_RTM_OP* op, CDB_ATOM_NODE* node, int port_type,
                                                   bool with_clones)
{
    const int obs_type = CUT_MAC_UTIL::get_observable_port_type(port_type);
    MORV_ASSERT_TEXT(obs_type != DB_MAX_OUTPUT_PORT_TYPE, "obs_type != ::DB_MAX_OUTPUT_PORT_TYPE");
    MORV_RTM_REG* record = nullptr;
    for (int index = 0; index < m_mac_port_width; ++index) {
        CDB_ATOM_ITERM* iterm = node->get_input_term_by_type(port_type, index);
        if (!morv_iterm_connected(iterm)) continue;
        CDB_ATOM_OTERM* obs = node->get_output_term_by_type(obs_type, index);
        if (obs == nullptr || obs->has_fanout()) {
            op->m_failure_reason = MORV_RTM_NO_REG_ON_INPUT;
            return nullptr;
        }
        if (record == nullptr) {
            MORV_RTM_PACK_INFO slots;
            slots.m_clock_index = CUT_MAC_UTIL::get_input_port_clock(node, port_type);
            slots.m_clear_index = CUT_MAC_UTIL::get_input_port_clear(node, port_type);
            slots.m_input_type = port_type;
            MORV_OWNER<MORV_RTM_REG> made(MORV_NEW(MORV_RTM_REG, node, &m_register_secondary_signals, slots));
            MORV_ASSERT_TEXT(made, "reg");
            made->m_type = MORV_RTM_REG_MAC_MULT;
            made->m_ref_oterm = obs;
            made->m_mac_iterm = iterm;
            record = made.get();
            op->add_register_to_unpack(std::move(made));
        }
        if (with_clones) add_clone(op, record, iterm, nullptr);
    }
    if (record == nullptr) op->m_failure_reason = MORV_RTM_NO_REG_ON_INPUT;
    return record;
}

// Two ports' registers become one register behind the multiplier: they
// must agree in controls and timing, or the move is refused.
MORV_RTM_REG* MORV_RTM::collect_mac_input_registers(MORV_RTM_OP* op, CDB_ATOM_NODE* node, bool with_clones)
{
    MORV_RTM_REG* first = nullptr;
    for (int type : m_mac_mult_data_iterms) {
        if (!CUT_MAC_UTIL::is_input_port_registered(node, type)) {
            op->m_failure_reason = MORV_RTM_NO_REG_ON_INPUT;
            continue;
        }
        MORV_RTM_REG* record = collect_mac_port_registers(op, node, type, with_clones);
        if (record == nullptr) continue;
        if (first == nullptr) {
            first = record;
            continue;
        }
        int why = 0;
        if (!check_register_compatibility(first, record, &why))
            op->m_failure_reason = why == MORV_RTM_WHY_SIGNALS ? MORV_RTM_REG_INCOMPATIBLE_SIGNALS
                                                               : MORV_RTM_REG_INCOMPATIBLE_TIMING_CONSTRAINTS;
    }
    return op->is_legal() ? first : nullptr;
}

void MORV_RTM::plan_mac_input_pack(MORV_RTM_OP* op, CDB_ATOM_NODE* node, const MORV_RTM_REG* reg)
{
    for (int type : m_mac_mult_data_iterms) {
        MORV_ASSERT_TEXT(!CUT_MAC_UTIL::is_input_port_registered(node, type),
                         "!CUT_MAC_UTIL::is_input_port_registered(node, type)");
        for (int index = 0; index < m_mac_port_width; ++index) {
            CDB_ATOM_ITERM* iterm = node->get_input_term_by_type(type, index);
            if (!morv_iterm_connected(iterm)) continue;
            MORV_OWNER<MORV_RTM_REG> copy = reg->clone();
            copy->m_type = reg->m_type;
            copy->m_mac_iterm = iterm;
            copy->m_pack_info = MORV_RTM_PACK_INFO{reg->m_pack_info.m_clock_index, reg->m_pack_info.m_clear_index, type,
                                                   DB_MAX_OUTPUT_PORT_TYPE};
            op->add_register_to_pack(std::move(copy));
            break;
        }
    }
}

// ---------------------------------------------------------------- MAC_MULT

int MORV_RTM::try_forward_move_mac_mult(MORV_RTM_REG* reg)
{
    CDB_ATOM_NODE* node = reg->m_node;
    MORV_ASSERT_TEXT(node && node->is_mac_mult(), "node->is_mac_mult()");
    MORV_DEBUG_STREAM::print(2, "Trying FWD move on MAC_MULT < %d >", morv_atom_id(node));
    print_mac_registration(node);
    MORV_OWNER<MORV_RTM_OP> op = MORV_MAKE_OWNER(MORV_RTM_OP, reg);
    MORV_ASSERT_TEXT(op, "retiming_operation");
    if (CUT_MAC_UTIL::is_output_port_registered(node, DB_DATA_OUT)) {
        MORV_DEBUG_STREAM::print(2, "   -Trying to push output register forward");
        push_mac_outputs_forward(op.get(), node);
    } else if (CUT_MAC_UTIL::is_input_port_registered(node, DB_DATA_A) &&
               CUT_MAC_UTIL::is_input_port_registered(node, DB_DATA_B)) {
        MORV_DEBUG_STREAM::print(2, "   - Trying to push input register forward");
        push_mac_inputs_forward(op.get(), node);
    } else {
        MORV_DEBUG_STREAM::print(2, "   - Nothing to do here");
        return 0;
    }
    return report_mac_move(std::move(op), node);
}

void MORV_RTM::push_mac_inputs_forward(MORV_RTM_OP* op, CDB_ATOM_NODE* node)
{
    if (!is_retimeable_mac_mult(node) || !is_movable_mac_mult(node) || !crosses_only_plain_stages(node)) {
        op->m_failure_reason = MORV_RTM_UNRETIMEABLE_MAC_MULT;
        return;
    }
    MORV_RTM_REG* record = collect_mac_input_registers(op, node, false);
    if (record != nullptr) add_register_to_pack_into_mac(op, node, record);
}

void MORV_RTM::push_mac_outputs_forward(MORV_RTM_OP* op, CDB_ATOM_NODE* node)
{
    MORV_RTM_MAC_SLICE slice;
    MORV_ASSERT_TEXT(find_mac_slice(node, &slice), "find_mac_slice(node, &mac_slice)");
    CDB_ATOM_NODE* mac_out = slice.m_mac_out;
    MORV_ASSERT_TEXT(mac_out && mac_out->is_mac_out(), "mac_out->is_mac_out()");
    MORV_RTM_REG* first = nullptr;
    for (CDB_ATOM_NODE* mult : slice.m_mac_mults) {
        if (!is_movable_mac_mult(mult)) {
            op->m_failure_reason = MORV_RTM_UNRETIMEABLE_MAC_MULT;
            continue;
        }
        MORV_RTM_REG* record = add_mac_output_register_to_unpack(op, mult);
        if (record == nullptr) {
            op->m_failure_reason = MORV_RTM_NO_REG_ON_INPUT;
            continue;
        }
        int why = 0;
        if (first == nullptr) first = record;
        else if (!check_register_compatibility(first, record, &why))
            op->m_failure_reason = why == MORV_RTM_WHY_SIGNALS ? MORV_RTM_REG_INCOMPATIBLE_SIGNALS
                                                               : MORV_RTM_REG_INCOMPATIBLE_TIMING_CONSTRAINTS;
    }
    if (first == nullptr) {
        MORV_ASSERT_TEXT(!op->is_legal(), "!retiming_operation->is_legal()");
        return;
    }
    if (!is_retimeable_mac_out(mac_out) || !crosses_only_plain_stages(mac_out) || !products_feed_only(slice)) {
        op->m_failure_reason = MORV_RTM_UNRETIMEABLE_MAC_OUT;
        return;
    }
    if (op->is_legal()) add_register_to_pack_into_mac(op, mac_out, first);
}

int MORV_RTM::try_backward_move_mac_mult(MORV_RTM_REG* reg)
{
    CDB_ATOM_NODE* node = reg->m_node;
    MORV_ASSERT_TEXT(node && node->is_mac_mult(), "node->is_mac_mult()");
    MORV_DEBUG_STREAM::print(2, "Trying BWD move on MAC_MULT < %d >", morv_atom_id(node));
    print_mac_registration(node);
    const bool full = CUT_MAC_UTIL::is_input_port_registered(node, DB_DATA_A) &&
                      CUT_MAC_UTIL::is_input_port_registered(node, DB_DATA_B);
    const bool partial = CUT_MAC_UTIL::is_input_port_registered(node, DB_DATA_A) ||
                         CUT_MAC_UTIL::is_input_port_registered(node, DB_DATA_B);
    MORV_OWNER<MORV_RTM_OP> op = MORV_MAKE_OWNER(MORV_RTM_OP, reg);
    MORV_ASSERT_TEXT(op, "retiming_operation");
    if (full) {
        MORV_DEBUG_STREAM::print(2, "   - Trying to unpack input registers");
        if (is_retimeable_mac_mult(node)) collect_mac_input_registers(op.get(), node, true);
        else op->m_failure_reason = MORV_RTM_UNRETIMEABLE_MAC_MULT;
    } else if (CUT_MAC_UTIL::is_output_port_registered(node, DB_DATA_OUT) && !partial) {
        MORV_DEBUG_STREAM::print(2, "   - Trying to push back pipeline register");
        if (is_retimeable_mac_mult(node) && is_movable_mac_mult(node) && crosses_only_plain_stages(node)) {
            if (MORV_RTM_REG* record = add_mac_output_register_to_unpack(op.get(), node))
                plan_mac_input_pack(op.get(), node, record);
        } else {
            op->m_failure_reason = MORV_RTM_UNRETIMEABLE_MAC_MULT;
        }
    } else {
        MORV_DEBUG_STREAM::print(2, "   - Nothing to do here");
        return 0;
    }
    return report_mac_move(std::move(op), node);
}

// ---------------------------------------------------------------- MAC_OUT

// The register moves past the programmable output inversion, so an
// inverted bit's new register holds the complement and powers up high.
int MORV_RTM::try_forward_move_mac_out(MORV_RTM_REG* reg)
{
    CDB_ATOM_NODE* node = reg->m_node;
    MORV_ASSERT_TEXT(node && node->is_mac_out(), "node->is_mac_out()");
    MORV_DEBUG_STREAM::print(2, "Trying FWD move on MAC_OUT < %d >", morv_atom_id(node));
    if (!is_movable_mac_out(node)) return 0;
    MORV_OWNER<MORV_RTM_OP> op = MORV_MAKE_OWNER(MORV_RTM_OP, reg);
    MORV_ASSERT_TEXT(op, "retiming_operation");
    MORV_RTM_REG* record = add_mac_output_register_to_unpack(op.get(), node);
    if (record != nullptr) {
        for (int index = 0; index < 2 * m_mac_port_width; ++index) {
            CDB_ATOM_OTERM* oterm = node->get_output_term_by_type(DB_DATA_OUT, index);
            if (oterm == nullptr || !oterm->has_fanout()) continue;
            MORV_OWNER<MORV_RTM_REG> copy = record->clone();
            copy->m_type = MORV_RTM_REG_LCELL;
            copy->m_add_on_oterm = oterm;
            copy->m_ref_oterm = oterm;
            if (CUT_MAC_UTIL::is_output_prog_invert(node, DB_DATA_OUT, index)) copy->m_ic = MORV_RTM_REG_IC_HIGH;
            op->add_register_to_add(std::move(copy));
        }
    }
    return report_mac_move(std::move(op), node);
}

int MORV_RTM::try_backward_move_mac_out(MORV_RTM_REG* reg)
{
    CDB_ATOM_NODE* node = reg->m_node;
    MORV_ASSERT_TEXT(node && node->is_mac_out(), "node->is_mac_out()");
    MORV_DEBUG_STREAM::print(2, "Trying BWD move on MAC_OUT < %d >", morv_atom_id(node));
    MORV_OWNER<MORV_RTM_OP> op = MORV_MAKE_OWNER(MORV_RTM_OP, reg);
    MORV_ASSERT_TEXT(op, "retiming_operation");
    MORV_RTM_MAC_SLICE slice;
    if (!is_retimeable_mac_out(node) || !crosses_only_plain_stages(node)) {
        op->m_failure_reason = MORV_RTM_UNRETIMEABLE_MAC_OUT;
    } else if (MORV_RTM_REG* record = add_mac_output_register_to_unpack(op.get(), node)) {
        MORV_ASSERT_TEXT(find_mac_slice(node, &slice), "find_mac_slice(node, &mac_slice)");
        if (!products_feed_only(slice)) op->m_failure_reason = MORV_RTM_UNRETIMEABLE_MAC_MULT;
        for (CDB_ATOM_NODE* mult : slice.m_mac_mults) {
            if (!op->is_legal()) break;
            if (!is_retimeable_mac_mult(mult) || !crosses_only_plain_stages(mult))
                op->m_failure_reason = MORV_RTM_UNRETIMEABLE_MAC_MULT;
            else add_register_to_pack_into_mac(op.get(), mult, record);
        }
    }
    return report_mac_move(std::move(op), node);
}

// ---------------------------------------------------------------- logic registers entering

// The register bypassed is the one the wire reads when the path passes a
// wire, as in the logic-cell moves; an inverted path or an inverted data
// pin would change what the packed register powers up to, so it is
// refused.
void MORV_RTM::into_mac_input_bit(MORV_RTM_OP* op, CDB_ATOM_NODE* node, int port_type, CDB_ATOM_ITERM* iterm,
                                  bool* first, bool* demux_queued)
{
    bool inverted = false;
    CDB_ATOM_ITERM* reg_fanout = nullptr;
    CDB_ATOM_NODE* source = find_source_register(iterm, &inverted, &reg_fanout);
    if (source == nullptr || inverted || iterm->reads_complemented()) {
        op->m_failure_reason = MORV_RTM_NO_REG_ON_INPUT;
        return;
    }
    if (!is_retimeable_register(source)) {
        op->m_failure_reason = MORV_RTM_REG_NO_GOOD;
        queue_register_for_demux(source);
        return;
    }
    MORV_RTM_REG* reg = op->m_reg;
    if (*first) {
        *first = false;
        MORV_OWNER<MORV_RTM_REG> copy = reg->clone();
        copy->m_type = MORV_RTM_REG_LCELL;
        copy->m_mac_iterm = iterm;
        copy->m_pack_info = reg->m_pack_info;
        if (assign_mac_clock(node, copy.get())) {
            copy->m_pack_info.m_input_type = port_type;
            op->add_register_to_pack(std::move(copy));
        } else {
            op->m_failure_reason = MORV_RTM_NO_MAC_SECONDARY_SIGNAL;
        }
    }
    MORV_OWNER<MORV_RTM_REG> record = new_lcell_record(source);
    record->m_bypassed_iterms.insert(reg_fanout);
    int why = 0;
    const bool compatible = check_register_compatibility(reg, record.get(), &why);
    op->add_register_to_remove(std::move(record));
    if (compatible) return;
    if (why != MORV_RTM_WHY_SIGNALS) {
        op->m_failure_reason = MORV_RTM_REG_INCOMPATIBLE_TIMING_CONSTRAINTS;
        return;
    }
    op->m_failure_reason = MORV_RTM_REG_INCOMPATIBLE_SIGNALS;
    if (*demux_queued) return;
    *demux_queued = true;
    for (int type : m_mac_mult_data_iterms) {
        for (int index = 0; index < m_mac_port_width; ++index) {
            CDB_ATOM_ITERM* bit = node->get_input_term_by_type(type, index);
            if (morv_iterm_connected(bit) && !bit->is_logical_gnd())
                queue_register_for_demux(find_source_register(bit, nullptr));
        }
    }
}

void MORV_RTM::forward_move_into_mac(MORV_RTM_OP* op, CDB_ATOM_NODE* node)
{
    MORV_ASSERT_TEXT(op && node && node->is_mac_mult(), "node->is_mac_mult()");
    if (!is_retimeable_mac_mult(node) || !crosses_only_plain_stages(node)) {
        op->m_failure_reason = MORV_RTM_UNRETIMEABLE_MAC_MULT;
        return;
    }
    bool demux_queued = false;
    for (int type : m_mac_mult_data_iterms) {
        if (CUT_MAC_UTIL::is_input_port_registered(node, type)) {
            op->m_failure_reason = MORV_RTM_REGISTERED_MAC_MULT;
            continue;
        }
        bool first = true;
        for (int index = 0; index < m_mac_port_width; ++index) {
            CDB_ATOM_ITERM* iterm = node->get_input_term_by_type(type, index);
            if (!morv_iterm_connected(iterm) || iterm->is_logical_gnd()) continue;
            into_mac_input_bit(op, node, type, iterm, &first, &demux_queued);
        }
    }
}

void MORV_RTM::into_mac_output_fanout(MORV_RTM_OP* op, CDB_ATOM_NODE* node, CDB_ATOM_OTERM* oterm,
                                      CDB_ATOM_ITERM* fanout, bool* first)
{
    bool inverted = false;
    CDB_ATOM_NODE* dest = find_destination_register(fanout, &inverted);
    if (dest == nullptr || inverted) {
        op->m_failure_reason = MORV_RTM_NO_REG_ON_OUTPUT;
        return;
    }
    // The design hands the block to the demux queue, so nothing is queued;
    // the refused register is queued, as in the logic-cell backward step.
    if (!is_retimeable_register(dest)) {
        op->m_failure_reason = MORV_RTM_REG_NO_GOOD;
        queue_register_for_demux(dest);
        return;
    }
    MORV_RTM_REG* reg = op->m_reg;
    if (*first) {
        *first = false;
        MORV_OWNER<MORV_RTM_REG> copy = reg->clone();
        copy->m_type = MORV_RTM_REG_LCELL;
        copy->m_mac_oterm = oterm;
        copy->m_pack_info = reg->m_pack_info;
        if (assign_mac_clock(node, copy.get())) {
            copy->m_pack_info.m_output_type = DB_DATA_OUT;
            op->add_register_to_pack(std::move(copy));
        } else {
            op->m_failure_reason = MORV_RTM_NO_MAC_SECONDARY_SIGNAL;
        }
    }
    MORV_OWNER<MORV_RTM_REG> record = new_lcell_record(dest);
    record->m_bypass_all_fanouts = true;
    int why = 0;
    const bool compatible = check_register_compatibility(reg, record.get(), &why);
    op->add_register_to_remove(std::move(record));
    if (!compatible)
        op->m_failure_reason = why == MORV_RTM_WHY_SIGNALS ? MORV_RTM_REG_INCOMPATIBLE_SIGNALS
                                                           : MORV_RTM_REG_INCOMPATIBLE_TIMING_CONSTRAINTS;
}

// A register packed in front of a programmable output inversion would
// power up to the complement of the registers it replaces: refused. A
// block that may not change is told as such before what it holds, as
// the block a register enters forward is.
void MORV_RTM::backward_move_into_mac(MORV_RTM_OP* op, CDB_ATOM_NODE* node)
{
    MORV_ASSERT_TEXT(op && node && node->is_mac_out(), "node->is_mac_out()");
    // Packing a register into the block edits the block: a block the user
    // keeps untouched, or whose mode a signal switches while it runs, must
    // refuse it, which the light test (meant for moves that only take the
    // block's own register out) would not.
    if (!is_retimeable_mac_out(node)) {
        op->m_failure_reason = MORV_RTM_UNRETIMEABLE_MAC_OUT;
        return;
    }
    if (CUT_MAC_UTIL::is_output_port_registered(node, DB_DATA_OUT)) {
        op->m_failure_reason = MORV_RTM_REGISTERED_MAC_OUT;
        return;
    }
    bool first = true;
    for (int index = 0; index < 2 * m_mac_port_width; ++index) {
        CDB_ATOM_OTERM* oterm = node->get_output_term_by_type(DB_DATA_OUT, index);
        if (oterm == nullptr || !oterm->has_fanout()) continue;
        if (CUT_MAC_UTIL::is_output_prog_invert(node, DB_DATA_OUT, index)) {
            op->m_failure_reason = MORV_RTM_NO_REG_ON_OUTPUT;
            return;
        }
        std::vector<CDB_ATOM_ITERM*> fanouts(oterm->begin_iterm_fanout(), oterm->end_iterm_fanout());
        for (CDB_ATOM_ITERM* fanout : fanouts) into_mac_output_fanout(op, node, oterm, fanout, &first);
    }
}
