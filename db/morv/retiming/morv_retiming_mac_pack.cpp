// The DSP atoms' own registers: describing a packed register as a register
// record, packing a record into an atom's output register, unpacking input
// and output registers, and the control terms a packed register leaves
// behind.

#include <algorithm>
#include <string>

#include "cdb/cdb_atom_netlist.h"
#include "cut/cut_block_util.h"
#include "hdb/hdb_instance_name.h"

#include "morv/core/family/morv_family_traits.h"
#include "morv/core/morv_api.h"
#include "morv/core/morv_assert.h"
#include "morv/core/morv_debug_stream.h"
#include "morv/log/morv_log.h"
#include "morv/netlist/morv_atom_query.h"
#include "morv/netlist/morv_cdb_interface.h"
#include "morv/netlist/morv_net_util.h"
#include "morv/netlist/morv_nt.h"
#include "morv/retiming/morv_retiming.h"
#include "morv/retiming/morv_retiming_mac.h"

namespace {

bool is_open(const CDB_ATOM_ITERM* iterm)
{
    return iterm == nullptr || !iterm->is_connected();
}

// Equal in what a register's behaviour depends on.
bool same_signal(const RETIME_SIGNAL& a, const RETIME_SIGNAL& b)
{
    return a.source == b.source && a.is_gnd == b.is_gnd && a.is_vcc == b.is_vcc && a.global_type == b.global_type &&
           a.inverted == b.inverted && a.delay_chain_index == b.delay_chain_index;
}

// An enable without driver or constant loads every cycle, as one tied to VCC.
RETIME_SIGNAL loads_always_when_open(RETIME_SIGNAL enable)
{
    if (!morv_mac_signal_has_value(enable)) enable.is_vcc = true;
    return enable;
}

}  // namespace

RETIME_REG MORV_RETIMING::describe_mac_register(CDB_ATOM_NODE* mac, int clock_index, int clear_index,
                                                CDB_ATOM_OTERM* regout)
{
    RETIME_REG reg;
    reg.signals[RETIME_CLOCK] = capture_mac_signal(mac->get_input_term_by_type(DB_CLOCK, clock_index));
    reg.signals[RETIME_CLOCK_ENABLE] = capture_mac_signal(mac->get_input_term_by_type(DB_CLOCK_ENABLE, clock_index));
    if (clear_index != CUT_MAC_NO_CLEAR)
        reg.signals[RETIME_CLEAR] = capture_mac_signal(mac->get_input_term_by_type(DB_CLEAR, clear_index));
    reg.clear_low = true;
    reg.kardel_region = -1;
    reg.regout = regout;
    reg.name = regout != nullptr ? regout->get_instance_name() : nullptr;
    return reg;
}

void MORV_RETIMING::remove_unused_mac_controls(CDB_ATOM_NODE* mac, int clock_index, int clear_index)
{
    if (clock_index >= 0 && !is_mac_clock_used(mac, clock_index)) {
        for (int port : {DB_CLOCK, DB_CLOCK_ENABLE})
            if (CDB_ATOM_ITERM* iterm = mac->get_input_term_by_type(port, clock_index)) m_net_util->delete_iterm(iterm);
    }
    if (clear_index >= 0 && !is_mac_clear_used(mac, clear_index)) {
        if (CDB_ATOM_ITERM* iterm = mac->get_input_term_by_type(DB_CLEAR, clear_index)) m_net_util->delete_iterm(iterm);
    }
}

void MORV_RETIMING::record_mac_nt(const MORV_NT_NODE_ID_LIST& from, const MORV_NT_NODE_ID& to, int type)
{
    MORV_NT* nt = m_fsyn_api->get_fsyn_nt();
    if (nt == nullptr || from.empty()) return;
    nt->record_operation_from_many(&from, to, type, m_operation_text);
}

// ------------------------------------------------------------ output register slots

// The slots an output register with this record would take: a slot whose
// clock and enable (clear) already carry the record's wins, the last one
// found; else the lowest empty one. False when either is missing, which
// must be known before a push edits anything.
bool MORV_RETIMING::find_mac_register_slots(CDB_ATOM_NODE* mac, const RETIME_REG& reg, int& clock_slot, int& clear_slot,
                                            int& empty_clock, int& empty_clear)
{
    RETIME_SIGNAL clear = reg.signals[RETIME_CLEAR];
    if (!morv_mac_signal_has_value(clear)) clear.is_vcc = true;
    const RETIME_SIGNAL enable = loads_always_when_open(reg.signals[RETIME_CLOCK_ENABLE]);
    clock_slot = clear_slot = empty_clock = empty_clear = -1;
    const int slots = get_num_mac_clock_ports();
    for (int k = 0; k < slots; ++k) {
        CDB_ATOM_ITERM* clk = mac->get_input_term_by_type(DB_CLOCK, k);
        CDB_ATOM_ITERM* ena = mac->get_input_term_by_type(DB_CLOCK_ENABLE, k);
        CDB_ATOM_ITERM* clr = mac->get_input_term_by_type(DB_CLEAR, k);
        // A slot whose enable is still in use is not free, even without a clock.
        if (empty_clock < 0 && is_open(clk) && is_open(ena)) empty_clock = k;
        if (empty_clear < 0 && is_open(clr)) empty_clear = k;
        if (same_signal(capture_mac_signal(clk), reg.signals[RETIME_CLOCK]) &&
            same_signal(loads_always_when_open(capture_mac_signal(ena)), enable) && !is_open(clk))
            clock_slot = k;
        if (!is_open(clr) && same_signal(capture_mac_signal(clr), clear)) clear_slot = k;
    }
    return (clock_slot >= 0 || empty_clock >= 0) && (clear_slot >= 0 || empty_clear >= 0);
}

bool MORV_RETIMING::has_mac_output_slot(CDB_ATOM_NODE* mac, const RETIME_REG& reg)
{
    int clock_slot, clear_slot, empty_clock, empty_clear;
    if (find_mac_register_slots(mac, reg, clock_slot, clear_slot, empty_clock, empty_clear)) return true;
    if (clock_slot < 0 && empty_clock < 0)
        MORV_DEBUG_STREAM::print(100, "MAC: Didn't Find an existing Clk Port that works");
    else MORV_DEBUG_STREAM::print(100, "MAC: Didn't Find an existing Clear Port that works");
    return false;
}

void MORV_RETIMING::add_mac_output_register(CDB_ATOM_NODE* mac, const RETIME_REG& reg_in)
{
    MORV_ASSERT_TEXT(morv_is_mac_atom(mac), "mac && (mac->is_mac_mult() || mac->is_mac_out())");
    MORV_ASSERT_TEXT(m_mac_retiming_enabled, "m_mac_retiming_enabled");
    RETIME_REG reg = reg_in;
    MORV_ASSERT_TEXT(morv_mac_signal_has_value(reg.signals[RETIME_CLOCK]) &&
                         morv_mac_signal_has_value(reg.signals[RETIME_CLOCK_ENABLE]),
                     "clock_and_ena_used");
    // Clears act at logical 0: a register without one is held by VCC.
    if (!morv_mac_signal_has_value(reg.signals[RETIME_CLEAR])) reg.signals[RETIME_CLEAR].is_vcc = true;
    int clk_port, clear_port, empty_clock, empty_clear;
    find_mac_register_slots(mac, reg, clk_port, clear_port, empty_clock, empty_clear);
    if (clk_port < 0) {
        MORV_DEBUG_STREAM::print(100, "MAC: Didn't Find an existing Clk Port that works");
        MORV_ASSERT_TEXT(empty_clock >= 0, "empty_clock_port >= 0");
        if (mac->get_input_term_by_type(DB_CLOCK, empty_clock) == nullptr) {
            for (int port : {DB_CLOCK, DB_CLOCK_ENABLE}) {
                const int width = std::max(CUT_MAC_UTIL::get_input_port_width(mac, port), empty_clock + 1);
                m_cdb_interface->set_input_port_width(mac, port, width);
            }
        }
        connect_register_input(mac, reg.signals[RETIME_CLOCK], DB_CLOCK, empty_clock);
        connect_register_input(mac, reg.signals[RETIME_CLOCK_ENABLE], DB_CLOCK_ENABLE, empty_clock);
        clk_port = empty_clock;
    }
    if (clear_port < 0) {
        MORV_DEBUG_STREAM::print(100, "MAC: Didn't Find an existing Clear Port that works");
        MORV_ASSERT_TEXT(empty_clear >= 0, "empty_clear_port >= 0");
        if (mac->get_input_term_by_type(DB_CLEAR, empty_clear) == nullptr) {
            const int width = std::max(CUT_MAC_UTIL::get_input_port_width(mac, DB_CLEAR), empty_clear + 1);
            m_cdb_interface->set_input_port_width(mac, DB_CLEAR, width);
        }
        connect_register_input(mac, reg.signals[RETIME_CLEAR], DB_CLEAR, empty_clear);
        clear_port = empty_clear;
    }
    MORV_ASSERT_TEXT(clk_port >= 0, "clk_port >= 0");
    MORV_ASSERT_TEXT(clear_port >= 0, "clear_port >= 0");
    m_cdb_interface->set_output_port_clock(mac, DB_DATA_OUT, clk_port);
    m_cdb_interface->set_output_port_clear(mac, DB_DATA_OUT, clear_port);
    m_fsyn_api->modify_node(mac);
    const int width = CUT_MAC_UTIL::get_output_port_width(mac, DB_DATA_OUT);
    for (int bit = 0; bit < width; ++bit) {
        CDB_ATOM_OTERM* regout = mac->get_output_term_by_type(DB_DATA_OUT, bit);
        MORV_ASSERT_TEXT(regout, "regout");
        if (reg.regout == nullptr) continue;
        m_fsyn_api->copy_oterm_timing_assignment(reg.regout, regout);
        MORV_DEBUG_STREAM::print(100, "MAC: copying timing constraint to output register {%s}",
                                 MORV_NET_UTIL::get_hpath_name(regout).c_str());
    }
}

void MORV_RETIMING::add_mac_mult_output_registers(CDB_ATOM_NODE* mac, const RETIME_REG& reg)
{
    MORV_DEBUG_STREAM::print(100, "MAC: adding output registers to {%s}", MORV_NET_UTIL::get_hpath_name(mac).c_str());
    add_mac_output_register(mac, reg);
}

void MORV_RETIMING::add_mac_out_output_registers(CDB_ATOM_NODE* mac, RETIME_MAC_SLICE* slice, const RETIME_REG& reg)
{
    MORV_ASSERT_TEXT(mac && slice, "slice");
    MORV_DEBUG_STREAM::print(100, "MAC: adding output registers to {%s}",
                             MORV_NET_UTIL::get_hpath_name(slice->m_mac_out).c_str());
    add_mac_output_register(slice->m_mac_out, reg);
}

// ------------------------------------------------------------ unpacking

bool MORV_RETIMING::is_packed_input_read(CDB_ATOM_NODE* mult, int port_type)
{
    const int observable = CUT_MAC_UTIL::get_observable_port_type(port_type, false, false);
    for (auto it = mult->begin_oterm(); it != mult->end_oterm(); ++it)
        if ((*it)->get_usage() == observable && (*it)->has_fanout()) return true;
    return false;
}

// The observable outputs stand for the packed register; they go with it,
// each removal in the change log so that a replay removes it too. None of
// them is read: the pushes refuse a register read there before they edit.
void MORV_RETIMING::unregister_mac_input_port(CDB_ATOM_NODE* mult, int port_type)
{
    MORV_ASSERT_TEXT(mult && mult->is_mac_mult(), "mac && mac->is_mac_mult()");
    MORV_ASSERT_TEXT(CUT_MAC_UTIL::is_input_port_registered(mult, port_type),
                     "CUT_MAC_UTIL::is_input_port_registered( mac, iport )");
    MORV_ASSERT_TEXT(m_mac_retiming_enabled, "m_mac_retiming_enabled");
    const int clock_index = CUT_MAC_UTIL::get_input_port_clock(mult, port_type);
    const int clear_index = CUT_MAC_UTIL::get_input_port_clear(mult, port_type);
    m_cdb_interface->set_input_port_clock(mult, port_type, CUT_MAC_NO_CLOCK);
    m_cdb_interface->set_input_port_clear(mult, port_type, CUT_MAC_NO_CLEAR);
    const int observable = CUT_MAC_UTIL::get_observable_port_type(port_type, false, false);
    const int width = CUT_MAC_UTIL::get_input_port_width(mult, port_type);
    for (int bit = 0; bit < width; ++bit) {
        CDB_ATOM_OTERM* oterm = mult->get_output_term_by_type(observable, bit);
        if (oterm == nullptr) continue;
        MORV_ASSERT_TEXT(!oterm->has_fanout(), "!obs_oterm->has_fanout()");
        if (is_logging()) m_cdb_interface->get_fsyn_log()->log_remove_unordered_fanout_term(mult, observable, bit);
        mult->delete_output_term(oterm);
    }
    MORV_ASSERT_TEXT(clock_index != CUT_MAC_NO_CLOCK, "clock_index != CUT_MAC_NO_CLOCK");
    remove_unused_mac_controls(mult, clock_index, clear_index);
}

void MORV_RETIMING::unregister_mac_mult_inputs(CDB_ATOM_NODE* mac, const std::vector<CDB_ATOM_NODE*>& mults, bool all)
{
    if (!all) MORV_ASSERT_TEXT(mac->is_mac_mult(), "mac->is_mac_mult()");
    for (CDB_ATOM_NODE* mult : mults) {
        if (!all && mult != mac) continue;
        for (int port : {DB_DATA_A, DB_DATA_B})
            if (CUT_MAC_UTIL::is_input_port_registered(mult, port)) unregister_mac_input_port(mult, port);
        m_fsyn_api->modify_node(mult);
    }
}

void MORV_RETIMING::unregister_mac_mult_outputs(CDB_ATOM_NODE* mac, const std::vector<CDB_ATOM_NODE*>& mults, bool all)
{
    if (!all) MORV_ASSERT_TEXT(mac->is_mac_mult(), "mac->is_mac_mult()");
    for (CDB_ATOM_NODE* mult : mults) {
        if (!all && mult != mac) continue;
        const int clock_index = CUT_MAC_UTIL::get_output_port_clock(mult, DB_DATA_OUT);
        const int clear_index = CUT_MAC_UTIL::get_output_port_clear(mult, DB_DATA_OUT);
        m_cdb_interface->set_output_port_clock(mult, DB_DATA_OUT, CUT_MAC_NO_CLOCK);
        m_cdb_interface->set_output_port_clear(mult, DB_DATA_OUT, CUT_MAC_NO_CLEAR);
        remove_unused_mac_controls(mult, clock_index, clear_index);
        m_fsyn_api->modify_node(mult);
    }
}

// ------------------------------------------------------------ backward: the inputs

void MORV_RETIMING::register_mac_inputs(CDB_ATOM_NODE* mac, RETIME_NODE_SET& mults, const RETIME_REG& reg)
{
    MORV_NT_NODE_ID_LIST gathered;
    for (auto it = mac->begin_iterm(); it != mac->end_iterm(); ++it) {
        CDB_ATOM_ITERM* iterm = *it;
        if (!iterm->is_connected()) continue;
        const int port = iterm->get_any_usage_as();
        if (port == DB_CLEAR || port == DB_CLOCK || port == DB_CLOCK_ENABLE) continue;
        MORV_ASSERT_TEXT(!CUT_MAC_UTIL::is_input_port_registered(mac, port) &&
                             !CUT_MAC_UTIL::is_pipeline_registered(mac, port),
                         "!CUT_MAC_UTIL::is_input_port_registered( mac_to_register, iport ) && "
                         "!CUT_MAC_UTIL::is_pipeline_registered( mac_to_register, iport )");
        if (port < DB_DATA_A || port > DB_DATA_D) continue;
        CDB_ATOM_OTERM* source = iterm->get_source();
        if (source != nullptr && source->get_my_node()->is_mac_mult()) {
            MORV_DEBUG_STREAM::print(
                100, "MAC_NT: GATHERING A REG that is packed backwards from MAC OUT OUTPUT to MAC MULT OUTPUT");
            if (mults.insert(source->get_my_node()).second)
                gathered.emplace_back(static_cast<int>(source->get_my_node()->get_id()),
                                      MORV_NT_NODE_ID::PACKED_OUTPUT_REG);
            MORV_DEBUG_STREAM::print(
                100, "MAC_NT: GATHERED A REG that is packed backwards from MAC OUT OUTPUT to MAC MULT OUTPUT");
            continue;
        }
        if (iterm->is_logical_gnd()) continue;
        RETIME_ITERM element;
        element.slack = 0;
        element.iterm = iterm;
        element.reg = reg;
        // An inverted pin must see 0 from the new register at power-up.
        if (iterm->is_inverted()) element.reg.clear_low = !element.reg.clear_low;
        insert_set0.insert(element);
    }
    if (gathered.empty()) return;
    MORV_NT* nt = m_fsyn_api->get_fsyn_nt();
    if (nt != nullptr)
        nt->record_operation_to_many(
            MORV_NT_NODE_ID(static_cast<int>(mac->get_id()), MORV_NT_NODE_ID::PACKED_OUTPUT_REG), &gathered,
            MORV_NT_TYPE_REPACK_O_O, m_operation_text);
}

// ------------------------------------------------------------ the LUT push group

// The packed input register of a multiplier port, seen at the port's
// observable output of the same bit.
CDB_ATOM_OTERM* MORV_RETIMING::get_packed_input_register(CDB_ATOM_ITERM* iterm, RETIME_REG& reg, const char* branch)
{
    CDB_ATOM_NODE* mac = iterm->get_my_node();
    const int port = iterm->get_any_usage_as();
    if ((port != DB_DATA_A && port != DB_DATA_B) || CUT_MAC_UTIL::get_mode(mac) == CUT_MAC_MODE_DYNAMIC) {
        MORV_DEBUG_STREAM::print(100, "%s: backward_push_get_reg is failing because of DYNAMIC mode", branch);
        return nullptr;
    }
    if (CUT_MAC_UTIL::get_scan_in_mult(mac, port) != nullptr || CUT_MAC_UTIL::get_scan_out_mult(mac, port) != nullptr) {
        MORV_DEBUG_STREAM::print(100, "%s: backward_push_get_reg is failing because of SCAN chains", branch);
        return nullptr;
    }
    const int iclock = CUT_MAC_UTIL::get_input_port_clock(mac, port);
    if (!CUT_MAC_UTIL::is_input_port_registered(mac, port) || iclock == CUT_MAC_NO_CLOCK) {
        MORV_DEBUG_STREAM::print(100, "%s: backward_push_get_reg is failing because MAC input has no register", branch);
        return nullptr;
    }
    MORV_ASSERT_TEXT(iclock >= 0, "iclock >= 0");
    reg = RETIME_REG();
    reg.signals[RETIME_CLOCK] = capture_mac_signal(mac->get_input_term_by_type(DB_CLOCK, iclock));
    reg.signals[RETIME_CLOCK_ENABLE] = capture_mac_signal(mac->get_input_term_by_type(DB_CLOCK_ENABLE, iclock));
    const int iclear = CUT_MAC_UTIL::get_input_port_clear(mac, port);
    if (iclear != CUT_MAC_NO_CLEAR)
        reg.signals[RETIME_CLEAR] = capture_mac_signal(mac->get_input_term_by_type(DB_CLEAR, iclear));
    reg.clear_low = !iterm->is_inverted();
    reg.regout = mac->get_output_term_by_type(CUT_MAC_UTIL::get_observable_port_type(port), iterm->get_port_index());
    if (reg.regout == nullptr) return nullptr;
    reg.name = reg.regout->get_instance_name();
    MORV_DEBUG_STREAM::print(100, "%s: backward_push_get_reg is actually returning a register {%s}", branch,
                             reg.name != nullptr ? reg.name->get_short_hpath().c_str() : "");
    return reg.regout;
}

bool MORV_RETIMING::collect_mac_slice_input_registers(CDB_ATOM_NODE* mac)
{
    RETIME_MAC_SLICE* slice = find_mac_slice(mac);
    MORV_ASSERT_TEXT(slice, "slice");
    for (CDB_ATOM_NODE* mult : slice->m_mac_mults)
        if (!collect_mac_mult_input_registers(mult)) return false;
    return true;
}

bool MORV_RETIMING::collect_mac_mult_input_registers(CDB_ATOM_NODE* mult)
{
    MORV_ASSERT_TEXT(mult && mult->is_mac_mult(), "mac && mac->is_mac_mult()");
    for (auto it = mult->begin_iterm(); it != mult->end_iterm(); ++it) {
        const int port = (*it)->get_any_usage_as();
        // The clock, enable and clear terms belong to the packed registers
        // themselves; any other input keeps them where they are.
        if (port == DB_CLOCK || port == DB_CLOCK_ENABLE || port == DB_CLEAR) continue;
        if (port != DB_DATA_A && port != DB_DATA_B) return false;
        if (!CUT_MAC_UTIL::is_input_port_registered(mult, port)) continue;
        if (is_packed_input_read(mult, port))
            return morv_mac_refuse("MAC: a packed input register is read at its observable outputs");
        if (!m_mac_pending.insert({mult, port}).second) continue;
        // The registers that replace a packed one are tracked as made from it.
        const int kind = port == DB_DATA_A ? MORV_NT_NODE_ID::PACKED_INPUT_REG_A : MORV_NT_NODE_ID::PACKED_INPUT_REG_B;
        m_consumed_register_ids.emplace_back(static_cast<int>(mult->get_id()), kind);
    }
    return true;
}

void MORV_RETIMING::retime_mac_input_port(CDB_ATOM_NODE* mult, int port_type)
{
    MORV_ASSERT_TEXT(mult && mult->is_mac_mult(), "mac && mac->is_mac_mult()");
    MORV_ASSERT_TEXT(CUT_MAC_UTIL::is_input_port_registered(mult, port_type),
                     "CUT_MAC_UTIL::is_input_port_registered( mac, iport )");
    MORV_ASSERT_TEXT(m_mac_retiming_enabled, "m_mac_retiming_enabled");
    const int width = CUT_MAC_UTIL::get_input_port_width(mult, port_type);
    for (int bit = 0; bit < width; ++bit) {
        CDB_ATOM_ITERM* mac_iterm = mult->get_input_term_by_type(port_type, bit);
        // An open pin reads 0 before and after: it needs no register.
        if (mac_iterm == nullptr || !mac_iterm->is_connected()) continue;
        RETIME_REG iterm_reg;
        MORV_ASSERT_TEXT(backward_push_get_reg(mac_iterm, iterm_reg, true),
                         "backward_push_get_reg(mac_iterm, &iterm_reg)");
        if (m_mac_iterms.contains(mac_iterm) || mac_iterm->is_logical_gnd()) continue;
        RETIME_ITERM element;
        element.slack = 0;
        element.iterm = mac_iterm;
        element.reg = iterm_reg;
        m_insert_list0.insert(element);
        m_new_register_iterms.insert(mac_iterm);
        MORV_DEBUG_STREAM::print(100, "MAC_MULT: unregistering {%s}.%s_%d", MORV_NET_UTIL::get_hpath_name(mult).c_str(),
                                 mac_iterm->get_wysiwyg_port_name(), bit);
    }
}
