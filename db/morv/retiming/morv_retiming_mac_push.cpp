// Register pushes across DSP slices: backward from an atom's packed output
// register (or the registers its output feeds) onto its data inputs,
// forward from a multiplier's input registers (or the pipeline registers
// behind the multipliers) into an output register, and the unpacking of an
// output block's register onto its fanouts. Every refusal comes before the
// first edit, so a refused push leaves the netlist as it was.

#include <string>
#include <vector>

#include "cdb/cdb_atom_netlist.h"
#include "cut/cut_block_util.h"
#include "hdb/hdb_instance_name.h"

#include "morv/core/family/morv_family_traits.h"
#include "morv/core/morv_api.h"
#include "morv/core/morv_assert.h"
#include "morv/core/morv_debug_stream.h"
#include "morv/netlist/morv_atom_query.h"
#include "morv/netlist/morv_cdb_interface.h"
#include "morv/netlist/morv_net_util.h"
#include "morv/netlist/morv_nt.h"
#include "morv/retiming/morv_retiming.h"
#include "morv/retiming/morv_retiming_mac.h"

namespace {

std::string push_text(const char* head, const CDB_ATOM_NODE* node)
{
    std::string text = head;
    text += " across <";
    text += std::to_string(node->get_id());
    text += ">";
    return text;
}

bool has_synch_control(const RETIME_REG& reg)
{
    return morv_mac_signal_has_value(reg.signals[RETIME_SYNCH_CLEAR]) ||
           morv_mac_signal_has_value(reg.signals[RETIME_SYNCH_LOAD]);
}

// Clear, clock and enable equal in driver, constant, global setting,
// inversion and delay chain.
bool same_secondary_signals(const RETIME_REG& a, const RETIME_REG& b)
{
    for (int control : {RETIME_CLEAR, RETIME_CLOCK, RETIME_CLOCK_ENABLE}) {
        const RETIME_SIGNAL& x = a.signals[control];
        const RETIME_SIGNAL& y = b.signals[control];
        if (x.source != y.source || x.is_gnd != y.is_gnd || x.is_vcc != y.is_vcc || x.global_type != y.global_type ||
            x.inverted != y.inverted || x.delay_chain_connected != y.delay_chain_connected ||
            x.use_delay_chain != y.use_delay_chain || x.user_delay_chain != y.user_delay_chain ||
            x.delay_chain_index != y.delay_chain_index)
            return false;
    }
    return true;
}

// An enable left open loads every cycle.
void enable_always_when_open(RETIME_REG& reg)
{
    RETIME_SIGNAL& ena = reg.signals[RETIME_CLOCK_ENABLE];
    if (ena.source == nullptr && !ena.is_gnd) ena.is_vcc = true;
}

// The multipliers driving the atom's data ports, in atom order.
RETIME_NODE_SET driving_mults(CDB_ATOM_NODE* mac)
{
    RETIME_NODE_SET mults;
    for (auto it = mac->begin_iterm(); it != mac->end_iterm(); ++it) {
        const int port = (*it)->get_any_usage_as();
        CDB_ATOM_OTERM* source = (*it)->get_source();
        if (port >= DB_DATA_A && port <= DB_DATA_D && source != nullptr && source->get_my_node()->is_mac_mult())
            mults.insert(source->get_my_node());
    }
    return mults;
}

}  // namespace

// A slice of one multiplier passes its output through the output block
// only when no other multiplier adds into that block: a register moved
// through the slice would otherwise delay the other products too.
bool MORV_RETIMING::is_single_mult_slice(RETIME_MAC_SLICE* slice)
{
    if (slice->m_mac_mults.size() != 1) return false;
    const RETIME_NODE_SET mults = driving_mults(slice->m_mac_out);
    return mults.size() == 1 && *mults.begin() == slice->m_mac_mults.front();
}

// A register moved between the multipliers and the output block delays
// every reader of the products, so the output block must be the only one.
bool MORV_RETIMING::mults_feed_only_mac_out(RETIME_MAC_SLICE* slice)
{
    for (CDB_ATOM_NODE* mult : slice->m_mac_mults) {
        for (auto out = mult->begin_oterm(); out != mult->end_oterm(); ++out) {
            if ((*out)->get_any_usage_as() != DB_DATA_OUT) continue;
            for (auto it = (*out)->begin_iterm_fanout(); it != (*out)->end_iterm_fanout(); ++it)
                if ((*it)->get_my_node() != slice->m_mac_out)
                    return morv_mac_refuse("MAC: a product is read outside the output block");
        }
    }
    return true;
}

// ------------------------------------------------------------ backward

int MORV_RETIMING::mac_backward_push(CDB_ATOM_NODE* mac)
{
    MORV_ASSERT_TEXT(morv_is_mac_atom(mac), "mac && (mac->is_mac_mult() || mac->is_mac_out())");
    MORV_ASSERT_TEXT(m_retime_backwards, "m_retime_backwards");
    MORV_ASSERT_TEXT(m_mac_retiming_enabled, "m_mac_retiming_enabled");
    if (!is_retimeable_mac(mac)) return 0;
    RETIME_MAC_SLICE* slice = find_mac_slice(mac);
    MORV_ASSERT_TEXT(slice, "slice");
    const int shape = mac_slice_shape();
    if (shape != MORV_MAC_SLICE_ATOM) {
        if (mac->is_mac_mult()) return 0;
        for (CDB_ATOM_NODE* mult : slice->m_mac_mults)
            if (!is_retimeable_mac(mult)) return 0;
        if (shape == MORV_MAC_SLICE_ONE_MULT && !is_single_mult_slice(slice))
            return morv_mac_refuse("MAC: other multipliers add into the output block");
    }
    if (mac->is_mac_out() && !mults_feed_only_mac_out(slice)) return 0;
    reset_push();
    m_operation_text = push_text("PUSHBACK MAC OUTPUT", mac);
    RETIME_REG reg;
    const bool packed = CUT_MAC_UTIL::is_output_port_registered(mac, DB_DATA_OUT);
    if (packed ? !take_packed_output_register(mac, reg, false) : !collect_mac_fanout_registers(mac, reg)) return 0;
    // The atoms whose inputs take the register.
    std::vector<CDB_ATOM_NODE*> targets;
    if (shape == MORV_MAC_SLICE_ALL_MULTS || shape == MORV_MAC_SLICE_ONE_MULT) targets = slice->m_mac_mults;
    else targets.push_back(mac);
    RETIME_NODE_SET receiving;
    for (CDB_ATOM_NODE* target : targets)
        for (CDB_ATOM_NODE* mult : driving_mults(target)) receiving.insert(mult);
    for (CDB_ATOM_NODE* mult : receiving)
        if (!has_mac_output_slot(mult, reg)) return 0;
    // The first edit.
    if (packed) take_packed_output_register(mac, reg, true);
    m_consumed_register_ids.assign(1, MORV_NT_NODE_ID(morv_atom_id(mac), MORV_NT_NODE_ID::PACKED_OUTPUT_REG));
    m_fsyn_nt_op_type = MORV_NT_TYPE_UNPACK_OUTPUT;
    RETIME_NODE_SET mults;
    for (CDB_ATOM_NODE* target : targets) register_mac_inputs(target, mults, reg);
    for (CDB_ATOM_NODE* mult : mults) add_mac_output_register(mult, reg);
    prepare_commit();
    commit();
    return 1;
}

// The packed output register as the record to push back; with `edit` the
// atom gives it up.
bool MORV_RETIMING::take_packed_output_register(CDB_ATOM_NODE* mac, RETIME_REG& reg, bool edit)
{
    const int iclock = CUT_MAC_UTIL::get_output_port_clock(mac, DB_DATA_OUT);
    const int iclear = CUT_MAC_UTIL::get_output_port_clear(mac, DB_DATA_OUT);
    if (edit) {
        m_cdb_interface->set_output_port_clock(mac, DB_DATA_OUT, CUT_MAC_NO_CLOCK);
        m_cdb_interface->set_output_port_clear(mac, DB_DATA_OUT, CUT_MAC_NO_CLEAR);
        remove_unused_mac_controls(mac, iclock, iclear);
        m_fsyn_api->modify_node(mac);
        return true;
    }
    if (mac_oslack_less_islack(mac, DB_MAX_INPUT_PORT_TYPE, -m_mac_slack_threshold, true))
        return morv_mac_refuse("MAC: Not enough output slack to warrant backward push across MAC [1]");
    if (mac->is_mac_mult() && CUT_MAC_UTIL::is_input_port_registered(mac, DB_DATA_A) &&
        CUT_MAC_UTIL::is_input_port_registered(mac, DB_DATA_B))
        return morv_mac_refuse("MAC: Cannot perform backwards push because input register is present");
    MORV_ASSERT_TEXT(iclock >= 0, "iclock >= 0");
    reg = describe_mac_register(mac, iclock, iclear, mac->get_output_term_by_type(DB_DATA_OUT, 0));
    // A slot without an enable term loads every cycle; the record must say so
    // before it becomes another atom's output register.
    enable_always_when_open(reg);
    MORV_DEBUG_STREAM::print(100, "MAC: got a packed OUTPUT-REGISTER to push back {%s}",
                             reg.name != nullptr ? reg.name->get_short_hpath().c_str() : "");
    return true;
}

// The registers the atom's output bits feed, all compatible, gathered for
// removal.
bool MORV_RETIMING::collect_mac_fanout_registers(CDB_ATOM_NODE* mac, RETIME_REG& reg)
{
    const int width = CUT_MAC_UTIL::get_output_port_width(mac, DB_DATA_OUT);
    bool found = false;
    for (int bit = 0; bit < width && !found; ++bit) {
        CDB_ATOM_OTERM* out = mac->get_output_term_by_type(DB_DATA_OUT, bit);
        if (out != nullptr && out->has_fanout()) found = first_fanout_register(out, reg, true);
    }
    if (!found) return morv_mac_refuse("MAC: NO fanout reg");
    if (!reg.clear_low) return morv_mac_refuse("MAC: output regs don't clear low -- cant handle yet!");
    if (morv_mac_signal_has_value(reg.signals[RETIME_SYNCH_CLEAR]))
        return morv_mac_refuse("MAC: SCLEAR on output register so I can't push back");
    MORV_NT_NODE_ID_LIST gathered;
    MORV_DEBUG_STREAM::print(100, "MAC_NT: GATHERING REGS that are packed backwards into the MAC OUT OUTPUT");
    MORV_DEBUG_STREAM::print(100, "Hold on... is this a mac OUT? %d or a mac MULT? %d", mac->is_mac_out() ? 1 : 0,
                             mac->is_mac_mult() ? 1 : 0);
    for (int bit = 0; bit < width; ++bit) {
        CDB_ATOM_OTERM* out = mac->get_output_term_by_type(DB_DATA_OUT, bit);
        if (out == nullptr || !out->has_fanout()) continue;
        if (!all_fanouts_compatible(mac, out, reg)) return morv_mac_refuse("MAC: output register incompatibility");
        if (CUT_MAC_UTIL::is_output_prog_invert(mac, DB_DATA_OUT, bit))
            return morv_mac_refuse("MAC: programmable invert at MAC output (before REG)");
        for (auto it = out->begin_iterm_fanout(); it != out->end_iterm_fanout(); ++it)
            gathered.emplace_back(morv_atom_id((*it)->get_my_node()));
    }
    MORV_DEBUG_STREAM::print(100, "MAC_NT: GATHERED REGS that are packed backwards into the MAC OUT OUTPUT");
    MORV_DEBUG_STREAM::print(100, "MAC_NT: TRACKING REGS that are packed backwards into the MAC OUT OUTPUT");
    record_mac_nt(gathered, MORV_NT_NODE_ID(morv_atom_id(mac), MORV_NT_NODE_ID::PACKED_OUTPUT_REG),
                  MORV_NT_TYPE_PACK_OUTPUT);
    MORV_DEBUG_STREAM::print(100, "MAC_NT: TRACKED REGS that are packed backwards into the MAC OUT OUTPUT");
    enable_always_when_open(reg);
    return true;
}

// ------------------------------------------------------------ forward

bool MORV_RETIMING::mac_forward_push(CDB_ATOM_NODE* mac)
{
    MORV_ASSERT_TEXT(morv_is_mac_atom(mac), "mac && (mac->is_mac_mult() || mac->is_mac_out())");
    MORV_ASSERT_TEXT(!m_retime_backwards, "!m_retime_backwards");
    MORV_ASSERT_TEXT(m_mac_retiming_enabled, "m_mac_retiming_enabled");
    MORV_DEBUG_STREAM::print(100, "forward_push (): curr_node %s", MORV_NET_UTIL::get_hpath_name(mac).c_str());
    RETIME_MAC_SLICE* slice = find_mac_slice(mac);
    if (slice == nullptr) return morv_mac_refuse("MAC: no slice");
    const int shape = mac_slice_shape();
    if ((shape == MORV_MAC_SLICE_ONE_MULT && mac->is_mac_out()) || shape == MORV_MAC_SLICE_ALL_MULTS) return false;
    if (!is_retimeable_mac(mac)) return false;
    const bool through = shape == MORV_MAC_SLICE_ONE_MULT;
    CDB_ATOM_NODE* target = mac;
    if (through) {
        MORV_ASSERT_TEXT(slice->m_mac_mults.size() == 1, "slice->m_mac_mults.size() == 1");
        MORV_ASSERT_TEXT(mac == slice->m_mac_mults.front(), "mac == curr_mac_mult");
        if (!is_retimeable_mac(slice->m_mac_out)) return false;
        if (!is_single_mult_slice(slice)) return morv_mac_refuse("MAC: other multipliers add into the output block");
        target = slice->m_mac_out;
    }
    if ((through || mac->is_mac_out()) && !mults_feed_only_mac_out(slice)) return false;
    if (CUT_MAC_UTIL::is_output_port_registered(target, DB_DATA_OUT))
        return morv_mac_refuse("MAC: Cannot forward push across MAC_MULT since output registers are occupied");
    reset_push();
    m_operation_text = push_text("FORWARD PUSH MAC", mac);
    RETIME_REG reg;
    if (mac->is_mac_mult() ? !gather_mac_input_registers(mac, reg, through)
                           : !gather_mac_pipeline_registers(slice, reg))
        return false;
    if (!has_mac_output_slot(target, reg)) return false;
    if (!mac_powers_up_to_zero(mac))
        return morv_mac_refuse("MAC: Cannot forward push across MAC because the block's output is not 0 at power-up");
    // The first edit.
    if (!through && mac->is_mac_mult()) add_mac_mult_output_registers(mac, reg);
    else add_mac_out_output_registers(mac, slice, reg);
    if (mac->is_mac_mult()) unregister_mac_mult_inputs(mac, slice->m_mac_mults, through);
    else unregister_mac_mult_outputs(mac, slice->m_mac_mults, true);
    prepare_commit();
    commit();
    return true;
}

// Input and through modes: the registers of ports A and B, packed or
// external, equal in their controls.
bool MORV_RETIMING::gather_mac_input_registers(CDB_ATOM_NODE* mac, RETIME_REG& reg, bool through)
{
    MORV_DEBUG_STREAM::print(100, "MAC: MAC_MULT packed input register status DATA_A/DATA_B: %d/%d",
                             CUT_MAC_UTIL::is_input_port_registered(mac, DB_DATA_A) ? 1 : 0,
                             CUT_MAC_UTIL::is_input_port_registered(mac, DB_DATA_B) ? 1 : 0);
    RETIME_REG port_regs[2];
    MORV_NT_NODE_ID_LIST gathered[2];
    for (int p = 0; p < 2; ++p) {
        const int port = p == 0 ? DB_DATA_A : DB_DATA_B;
        if (!gather_mac_operand_register(mac, port, port_regs[p], gathered[p])) return false;
        if (p == 1 && !same_secondary_signals(port_regs[0], port_regs[1]))
            return morv_mac_refuse(
                "MAC: Cannot forward push across MAC_MULT because of unmatching clear, clock or enable");
    }
    for (const RETIME_REG& r : port_regs) {
        if (!r.clear_low) return morv_mac_refuse("MAC: input regs don't clear low -- cant handle yet!");
        if (has_synch_control(r)) return morv_mac_refuse("MAC: SCLEAR on input register so I can't push forward");
    }
    reg = port_regs[0];
    enable_always_when_open(reg);
    const int id = morv_atom_id(mac);
    for (int p = 0; p < 2; ++p) {
        const int kind = p == 0 ? MORV_NT_NODE_ID::PACKED_INPUT_REG_A : MORV_NT_NODE_ID::PACKED_INPUT_REG_B;
        if (gathered[p].empty()) continue;
        MORV_DEBUG_STREAM::print(100,
                                 "MAC_NT: TRACKING REGS that may be packed forwards from outside to MAC MULT INPUT");
        record_mac_nt(gathered[p], MORV_NT_NODE_ID(id, kind), MORV_NT_TYPE_PACK_INPUT);
        MORV_DEBUG_STREAM::print(100,
                                 "MAC_NT: TRACKED REGS that may be packed forwards from outside to MAC MULT INPUT");
    }
    MORV_DEBUG_STREAM::print(100,
                             "MAC_NT: GATHERING REGS that are packed forwards from MAC MULT INPUT to MAC MULT OUTPUT");
    const MORV_NT_NODE_ID_LIST inputs = {MORV_NT_NODE_ID(id, MORV_NT_NODE_ID::PACKED_INPUT_REG_A),
                                         MORV_NT_NODE_ID(id, MORV_NT_NODE_ID::PACKED_INPUT_REG_B)};
    MORV_DEBUG_STREAM::print(
        100, "MAC_NT: GATHERED&TRACKING REGS that are packed forwards from MAC MULT INPUT to MAC MULT OUTPUT");
    record_mac_nt(inputs, MORV_NT_NODE_ID(id, MORV_NT_NODE_ID::PACKED_OUTPUT_REG), MORV_NT_TYPE_REPACK_I_O);
    MORV_DEBUG_STREAM::print(100,
                             "MAC_NT: TRACKED REGS that are packed forwards from MAC MULT INPUT to MAC MULT OUTPUT");
    if (through) {
        RETIME_MAC_SLICE* slice = find_mac_slice(mac);
        MORV_DEBUG_STREAM::print(
            100, "MAC_NT: TRACKING A REG that is packed forwards from MAC MULT OUTPUT to MAC OUT OUTPUT");
        record_mac_nt({MORV_NT_NODE_ID(id, MORV_NT_NODE_ID::PACKED_OUTPUT_REG)},
                      MORV_NT_NODE_ID(morv_atom_id(slice->m_mac_out), MORV_NT_NODE_ID::PACKED_OUTPUT_REG),
                      MORV_NT_TYPE_REPACK_O_O);
        MORV_DEBUG_STREAM::print(
            100, "MAC_NT: TRACKED A REG that is packed forwards from MAC MULT OUTPUT to MAC OUT OUTPUT");
    }
    return true;
}

// One operand: the packed register of the port, or the registers driving
// its bits from outside.
bool MORV_RETIMING::gather_mac_operand_register(CDB_ATOM_NODE* mac, int port, RETIME_REG& reg,
                                                MORV_NT_NODE_ID_LIST& gathered)
{
    if (CUT_MAC_UTIL::is_input_port_registered(mac, port)) {
        if (!mac_oslack_less_islack(mac, port, m_mac_slack_threshold, true))
            return morv_mac_refuse("MAC: Not enough input slack to warrant forward push across MAC [1]");
        if (is_packed_input_read(mac, port))
            return morv_mac_refuse("MAC: a packed input register is read at its observable outputs");
        const int iclock = CUT_MAC_UTIL::get_input_port_clock(mac, port);
        MORV_ASSERT_TEXT(iclock >= 0, "iclock >= 0");
        CDB_ATOM_OTERM* regout =
            mac->get_output_term_by_type(CUT_MAC_UTIL::get_observable_port_type(port, false, false), 0);
        reg = describe_mac_register(mac, iclock, CUT_MAC_UTIL::get_input_port_clear(mac, port), regout);
        MORV_DEBUG_STREAM::print(100, "MAC: got a packed INPUT-REGISTER to push forward {%s}",
                                 reg.name != nullptr ? reg.name->get_short_hpath().c_str() : "");
        return true;
    }
    if (!collect_mac_input_register(mac, reg, port))
        return morv_mac_refuse("MAC: Cannot forward push across MAC_MULT because couldn't gather input regs");
    if (!mac_inputs_have_slack(mac, port))
        return morv_mac_refuse("MAC: Not enough input slack to warrant forward push across MAC [2]");
    MORV_DEBUG_STREAM::print(100, "MAC_NT: GATHERING REGS that may be packed forwards from outside to MAC MULT INPUT");
    for (auto it = mac->begin_iterm(); it != mac->end_iterm(); ++it) {
        CDB_ATOM_ITERM* iterm = *it;
        if (iterm->get_any_usage_as() != port || iterm->get_source() == nullptr || !iterm->is_driven()) continue;
        gathered.emplace_back(morv_atom_id(iterm->get_source()->get_my_node()));
    }
    MORV_DEBUG_STREAM::print(100, "MAC_NT: GATHERED REGS that may be packed forwards from outside to MAC MULT INPUT");
    for (int p : {DB_DATA_A, DB_DATA_B}) {
        for (auto it = mac->begin_iterm(); it != mac->end_iterm(); ++it) {
            if ((*it)->get_any_usage_as() == p && (*it)->is_inverted())
                return morv_mac_refuse(
                    "MAC: Cannot forward push across MAC because input regs are external to MAC and at "
                    "least one MAC input is inverted");
        }
    }
    return true;
}

// Pipeline mode: every multiplier's output register, equal in controls.
bool MORV_RETIMING::gather_mac_pipeline_registers(RETIME_MAC_SLICE* slice, RETIME_REG& reg)
{
    for (CDB_ATOM_NODE* mult : slice->m_mac_mults) {
        if (!CUT_MAC_UTIL::is_output_port_registered(mult, DB_DATA_OUT))
            return morv_mac_refuse(
                "MAC: Cannot forward push across MAC_OUT since there exist some input ports which are not registered");
        if (!mac_oslack_less_islack(mult, DB_MAX_INPUT_PORT_TYPE, m_mac_slack_threshold, true))
            return morv_mac_refuse("MAC: Not enough input slack to warrant forward push across MAC [3]");
    }
    CDB_ATOM_NODE* first = slice->m_mac_mults.front();
    const int iclock = CUT_MAC_UTIL::get_output_port_clock(first, DB_DATA_OUT);
    MORV_ASSERT_TEXT(iclock >= 0, "iclock >= 0");
    reg = describe_mac_register(first, iclock, CUT_MAC_UTIL::get_output_port_clear(first, DB_DATA_OUT),
                                first->get_output_term_by_type(DB_DATA_OUT, 0));
    MORV_NT_NODE_ID_LIST gathered;
    for (CDB_ATOM_NODE* mult : slice->m_mac_mults) {
        const int curr_iclock = CUT_MAC_UTIL::get_output_port_clock(mult, DB_DATA_OUT);
        MORV_ASSERT_TEXT(curr_iclock >= 0, "curr_iclock >= 0");
        const RETIME_REG other =
            describe_mac_register(mult, curr_iclock, CUT_MAC_UTIL::get_output_port_clear(mult, DB_DATA_OUT), nullptr);
        if (!same_secondary_signals(reg, other))
            return morv_mac_refuse(
                "MAC: Cannot forward push across mac_mult because of unmatching secondary signal (clear, "
                "clock or enable)");
        MORV_DEBUG_STREAM::print(
            100, "MAC_NT: GATHERING A REG that is packed forwards from MAC MULT OUTPUT to MAC OUT OUTPUT");
        gathered.emplace_back(morv_atom_id(mult), MORV_NT_NODE_ID::PACKED_OUTPUT_REG);
        MORV_DEBUG_STREAM::print(
            100, "MAC_NT: GATHERED A REG that is packed forwards from MAC MULT OUTPUT to MAC OUT OUTPUT");
    }
    enable_always_when_open(reg);
    MORV_DEBUG_STREAM::print(100, "MAC: got a packed PIPELINE-REGISTER to push forward {%s}",
                             reg.name != nullptr ? reg.name->get_short_hpath().c_str() : "");
    record_mac_nt(gathered, MORV_NT_NODE_ID(morv_atom_id(slice->m_mac_out), MORV_NT_NODE_ID::PACKED_OUTPUT_REG),
                  MORV_NT_TYPE_REPACK_O_O);
    return true;
}

// ------------------------------------------------------------ MAC_OUT unpacking

bool MORV_RETIMING::mac_out_forward_push(CDB_ATOM_NODE* mac)
{
    MORV_ASSERT_TEXT(mac && mac->is_mac_out(), "mac && mac->is_mac_out()");
    MORV_ASSERT_TEXT(!m_retime_backwards, "!m_retime_backwards");
    MORV_ASSERT_TEXT(m_mac_retiming_enabled, "m_mac_retiming_enabled");
    reset_push();
    m_operation_text = push_text("PUSHFORWARD MAC OUTPUT", mac);
    RETIME_MAC_SLICE* slice = find_mac_slice(mac);
    MORV_ASSERT_TEXT(slice, "slice");
    if (slice->m_mode == CUT_MAC_MODE_DYNAMIC || slice->m_mode == CUT_MAC_MODE_MULTIPLY_ACCUMULATE)
        return morv_mac_refuse(
            "MAC: couldn't push outpt REGISTER forward to its FANOUTS cause of DYNAMIC_MODE/MULT_ACCUM");
    m_consumed_register_ids.assign(1, MORV_NT_NODE_ID(morv_atom_id(mac), MORV_NT_NODE_ID::PACKED_OUTPUT_REG));
    m_fsyn_nt_op_type = MORV_NT_TYPE_UNPACK_OUTPUT;
    if (!CUT_MAC_UTIL::is_output_port_registered(mac, DB_DATA_OUT)) return false;
    const int iclock = CUT_MAC_UTIL::get_output_port_clock(mac, DB_DATA_OUT);
    const int iclear = CUT_MAC_UTIL::get_output_port_clear(mac, DB_DATA_OUT);
    MORV_ASSERT_TEXT(iclock >= 0, "iclock >= 0");
    const int width = CUT_MAC_UTIL::get_output_port_width(mac, DB_DATA_OUT);
    for (int bit = 0; bit < width; ++bit) {
        CDB_ATOM_OTERM* out = mac->get_output_term_by_type(DB_DATA_OUT, bit);
        if (out == nullptr || !out->has_fanout()) continue;
        RETIME_REG reg = describe_mac_register(mac, iclock, iclear, out);
        // The inversion stays behind the register on the atom, so the new
        // register holds the inverted value: it must power up to 1.
        reg.clear_low = !CUT_MAC_UTIL::is_output_prog_invert(mac, DB_DATA_OUT, bit);
        m_output_registers[out] = reg;
        MORV_DEBUG_STREAM::print(100, "MAC: got a packed OUTPUT-REGISTER to push forward {%s}",
                                 reg.name != nullptr ? reg.name->get_short_hpath().c_str() : "");
    }
    m_cdb_interface->set_output_port_clock(mac, DB_DATA_OUT, CUT_MAC_NO_CLOCK);
    m_cdb_interface->set_output_port_clear(mac, DB_DATA_OUT, CUT_MAC_NO_CLEAR);
    remove_unused_mac_controls(mac, iclock, iclear);
    m_fsyn_api->modify_node(mac);
    prepare_commit();
    MORV_ASSERT_TEXT(m_fsyn_nt_op_type == MORV_NT_TYPE_UNPACK_OUTPUT,
                     "m_fsyn_nt_op_type == MORV_NT_TYPE_UNPACK_OUTPUT");
    commit();
    return true;
}
