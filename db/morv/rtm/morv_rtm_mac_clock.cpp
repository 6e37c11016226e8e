// Choosing the DSP clock, enable and clear slots a register packed into a
// DSP block uses.
#include <algorithm>

#include "cdb/cdb_atom_netlist.h"
#include "cut/cut_block_util.h"

#include "morv/core/morv_api.h"
#include "morv/core/morv_assert.h"
#include "morv/netlist/morv_atom_query.h"
#include "morv/netlist/morv_cdb_interface.h"
#include "morv/rtm/morv_rtm.h"

namespace {

bool is_absent(const MORV_RTM_SIGNAL* signal)
{
    return signal == nullptr || (signal->get_src_oterm() == nullptr && !signal->is_vcc() && !signal->is_gnd());
}

// The design matches a slot that carries the same source (or the same
// constant, or is open like the register's input); here the slot must also
// read it with the same inversion and global routing: one that differs would
// clock, enable or clear the packed register on the opposite level or from
// another network.
bool carries(CDB_ATOM_ITERM* slot, const MORV_RTM_SIGNAL* signal)
{
    if (is_absent(signal)) return !morv_iterm_connected(slot);
    if (!morv_iterm_connected(slot)) return false;
    if (!slot->is_driven()) return signal->get_src_oterm() == nullptr && slot->is_logical_vcc() == signal->is_vcc();
    return slot->get_source() == signal->get_src_oterm() && slot->is_inverted() == signal->is_inverted() &&
           slot->get_global() == signal->get_iterm_properties().global_setting;
}

// The design lets a register without an enable take any slot whose clock
// carries its own, whatever that slot's enable; here it takes only a slot
// that is always enabled (its enable open, or tied high; an absent or open
// enable floats high, and so does one tied to VCC). A register that loads
// every cycle packed behind a slot enable would hold where it loaded.
bool enable_fits(CDB_ATOM_ITERM* slot, const MORV_RTM_SIGNAL* enable)
{
    const bool always = is_absent(enable) || enable->is_vcc();
    if (always) return !morv_iterm_connected(slot) || (!slot->is_driven() && slot->is_logical_vcc());
    return carries(slot, enable);
}

// The design lets a register without a clear take only an empty clear slot,
// which the packing then ties to VCC; here it also takes a slot whose clear
// is tied to VCC already, as a register whose clear is tied to VCC does.
// Neither ever clears, so they share the slot the first of them made
// instead of using up one of the four for each.
bool clear_fits(CDB_ATOM_ITERM* slot, const MORV_RTM_SIGNAL* clear)
{
    const bool never = is_absent(clear) || clear->is_vcc();
    if (never) return morv_iterm_connected(slot) && !slot->is_driven() && slot->is_logical_vcc();
    return carries(slot, clear);
}

}  // namespace

void MORV_RTM::make_mac_slot(CDB_ATOM_NODE* node, int index, bool clock)
{
    MORV_CDB_INTERFACE* cdb = m_fsyn_api->get_fsyn_cdb_interface();
    const int width = std::max(CUT_MAC_UTIL::get_input_port_width(node, DB_CLOCK), index + 1);
    CDB_ATOM_ITERM* made = nullptr;
    if (!clock) {
        cdb->set_input_port_width(node, DB_CLEAR, width);
        cdb->create_input_term(nullptr, made, node, DB_CLEAR, index);
        return;
    }
    MORV_ASSERT_TEXT(node->get_input_term_by_type(DB_CLOCK_ENABLE, index) == nullptr, "!ena_iterm");
    cdb->set_input_port_width(node, DB_CLOCK, width);
    cdb->set_input_port_width(node, DB_CLOCK_ENABLE, width);
    cdb->create_input_term(nullptr, made, node, DB_CLOCK, index);
    cdb->create_input_term(nullptr, made, node, DB_CLOCK_ENABLE, index);
}

// The register's controls come from its record, read at its own slots
// when it is a DSP register.
bool MORV_RTM::assign_mac_clock(CDB_ATOM_NODE* node, MORV_RTM_REG* reg)
{
    check_mac_node(node);
    MORV_ASSERT_TEXT(reg && reg->m_node, "reg");
    const MORV_RTM_SIGNAL* clock = reg->get_secondary_signal(DB_CLOCK);
    MORV_ASSERT_TEXT(!is_absent(clock), "reg_clock_iterm");
    const MORV_RTM_SIGNAL* enable = reg->get_secondary_signal(DB_CLOCK_ENABLE);
    const MORV_RTM_SIGNAL* clear = reg->get_secondary_signal(DB_CLEAR);
    int clock_slot = -1, clear_slot = -1, empty_clock = -1, empty_clear = -1;
    for (int i = 0; i < s_MAC_NUMBER_OF_CLOCKS; ++i) {
        CDB_ATOM_ITERM* slot_clock = node->get_input_term_by_type(DB_CLOCK, i);
        CDB_ATOM_ITERM* slot_enable = node->get_input_term_by_type(DB_CLOCK_ENABLE, i);
        if (morv_iterm_connected(slot_clock)) {
            if (carries(slot_clock, clock) && enable_fits(slot_enable, enable)) clock_slot = i;
        } else if (empty_clock < 0 && !morv_iterm_connected(slot_enable) &&
                   (slot_clock != nullptr || slot_enable == nullptr)) {
            // The design takes any slot whose clock is open; here its enable
            // must be open too, and a slot without a clock term must have no
            // enable term. Making the slot makes both terms (an enable term
            // already there is an internal error), and packing would feed
            // an enable left connected a second time.
            empty_clock = i;
        }
        CDB_ATOM_ITERM* slot_clear = node->get_input_term_by_type(DB_CLEAR, i);
        if (morv_iterm_connected(slot_clear)) {
            if (clear_fits(slot_clear, clear)) clear_slot = i;
        } else if (empty_clear < 0) {
            empty_clear = i;
        }
    }
    if (clock_slot < 0 && empty_clock >= 0) {
        if (node->get_input_term_by_type(DB_CLOCK, empty_clock) == nullptr) make_mac_slot(node, empty_clock, true);
        clock_slot = empty_clock;
    }
    if (clear_slot < 0 && empty_clear >= 0) {
        if (node->get_input_term_by_type(DB_CLEAR, empty_clear) == nullptr) make_mac_slot(node, empty_clear, false);
        clear_slot = empty_clear;
    }
    if (clock_slot < 0 || clear_slot < 0) return false;
    reg->m_pack_info = MORV_RTM_PACK_INFO{clock_slot, clear_slot, DB_MAX_INPUT_PORT_TYPE, DB_MAX_OUTPUT_PORT_TYPE};
    return true;
}

void MORV_RTM::add_register_to_pack_into_mac(MORV_RTM_OP* retiming_operation, CDB_ATOM_NODE* node, MORV_RTM_REG* reg)
{
    check_mac_node(node);
    MORV_ASSERT_TEXT(retiming_operation, "retiming_operation");
    MORV_ASSERT_TEXT(reg, "reg");
    if (CUT_MAC_UTIL::is_output_port_registered(node, DB_DATA_OUT)) {
        retiming_operation->m_failure_reason = MORV_RTM_REGISTERED_MAC_OUT;
        return;
    }
    MORV_OWNER<MORV_RTM_REG> to_pack = reg->clone();
    MORV_ASSERT_TEXT(to_pack, "reg_to_pack");
    if (!assign_mac_clock(node, to_pack.get())) {
        retiming_operation->m_failure_reason = MORV_RTM_NO_MAC_SECONDARY_SIGNAL;
        return;
    }
    to_pack->m_pack_info.m_output_type = DB_DATA_OUT;
    to_pack->m_mac_oterm = get_mac_output_ref_oterm(node);
    MORV_ASSERT_TEXT(to_pack->m_mac_oterm, "ref_oterm");
    retiming_operation->add_register_to_pack(std::move(to_pack));
}
