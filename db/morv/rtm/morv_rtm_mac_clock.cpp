// Choosing the DSP clock, enable and clear slots a register packed into a
// DSP block uses.
#include <algorithm>

#include "cdb/cdb_atom_netlist.h"
#include "cut/cut_block_util.h"

#include "morv/core/morv_api.h"
#include "morv/core/morv_assert.h"
#include "morv/netlist/morv_cdb_interface.h"
#include "morv/rtm/morv_rtm.h"

namespace {

bool is_connected(const CDB_ATOM_ITERM* iterm)
{
    return iterm != nullptr && iterm->is_connected();
}

// The same signal read the same way: a slot whose net reaches the block
// complemented (through its inversion bit or an active-low port) would
// clock, enable or clear the packed register on the opposite level.
bool carries(CDB_ATOM_ITERM* slot, CDB_ATOM_ITERM* reg_term)
{
    if (!MORV_RTM_SIGNAL::is_same_signal(slot, reg_term)) return false;
    if (!is_connected(slot) || !slot->is_driven()) return true;
    return slot->reads_complemented() == reg_term->reads_complemented();
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

bool MORV_RTM::assign_mac_clock(CDB_ATOM_NODE* node, MORV_RTM_REG* reg)
{
    check_mac_node(node);
    MORV_ASSERT_TEXT(reg && reg->m_node, "reg");
    CDB_ATOM_ITERM* clock = reg->m_node->get_input_term_by_type(DB_CLOCK);
    MORV_ASSERT_TEXT(clock, "reg_clock_iterm");
    CDB_ATOM_ITERM* enable = reg->m_node->get_input_term_by_type(DB_CLOCK_ENABLE);
    CDB_ATOM_ITERM* clear = reg->m_node->get_input_term_by_type(DB_CLEAR);
    int clock_slot = -1, clear_slot = -1, empty_clock = -1, empty_clear = -1;
    for (int i = 0; i < s_MAC_NUMBER_OF_CLOCKS; ++i) {
        CDB_ATOM_ITERM* slot_clock = node->get_input_term_by_type(DB_CLOCK, i);
        if (is_connected(slot_clock)) {
            CDB_ATOM_ITERM* slot_enable = node->get_input_term_by_type(DB_CLOCK_ENABLE, i);
            MORV_ASSERT_TEXT(is_connected(slot_enable), "ena_iterm && ena_iterm->is_connected()");
            if (carries(slot_clock, clock) && (!is_connected(enable) || carries(slot_enable, enable))) clock_slot = i;
        } else if (empty_clock < 0) {
            empty_clock = i;
        }
        CDB_ATOM_ITERM* slot_clear = node->get_input_term_by_type(DB_CLEAR, i);
        if (is_connected(slot_clear)) {
            if (carries(slot_clear, clear)) clear_slot = i;
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
