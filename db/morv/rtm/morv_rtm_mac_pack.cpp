// The commit's DSP edits: a register packed into a DSP port takes a clock
// and clear slot fed from the register's own controls, and its outputs
// stand for the register in timing; an unpacked port loses its register
// and the observable outputs that stood for it.
#include <algorithm>
#include <set>
#include <vector>

#include "cdb/cdb_atom_netlist.h"
#include "cut/cut_block_util.h"

#include "morv/core/morv_api.h"
#include "morv/core/morv_assert.h"
#include "morv/core/morv_debug_stream.h"
#include "morv/log/morv_log.h"
#include "morv/netlist/morv_atom_query.h"
#include "morv/netlist/morv_cdb_interface.h"
#include "morv/rtm/morv_rtm.h"

namespace {

const char* mult_data_port_name(int port_type)
{
    return port_type == DB_DATA_A ? "DATA_A" : "DATA_B";
}

}  // namespace

// The slot's term, made (with the port widened) when the block has none.
CDB_ATOM_ITERM* MORV_RTM::mac_slot_term(CDB_ATOM_NODE* node, int port_type, int index)
{
    if (CDB_ATOM_ITERM* iterm = node->get_input_term_by_type(port_type, index)) return iterm;
    const int width = std::max(CUT_MAC_UTIL::get_input_port_width(node, port_type), index + 1);
    m_cdb_interface->set_input_port_width(node, port_type, width);
    CDB_ATOM_ITERM* made = nullptr;
    m_cdb_interface->create_input_term(nullptr, made, node, port_type, index);
    MORV_ASSERT_TEXT(made, "new_iterm");
    return made;
}

// An absent control feeds the inactive level: VCC, both for an enable
// (always loading) and for a clear, which acts at logical 0.
void MORV_RTM::feed_mac_control(CDB_ATOM_ITERM* iterm, const MORV_RTM_SIGNAL* signal)
{
    if (signal != nullptr && signal->get_src_oterm() != nullptr) {
        m_net_util->insert_fanout(signal->get_src_oterm(), iterm);
        m_net_util->restore_iterm_properties(signal->get_iterm_properties(), iterm);
        return;
    }
    if (signal != nullptr && signal->is_gnd()) m_cdb_interface->set_iterm_logical_gnd(iterm);
    else m_cdb_interface->set_iterm_logical_vcc(iterm);
    m_fsyn_api->modify_edge(iterm, false);
}

void MORV_RTM::connect_mac_clock(CDB_ATOM_NODE* node, MORV_RTM_REG* reg)
{
    const MORV_RTM_PACK_INFO& info = reg->m_pack_info;
    MORV_ASSERT_TEXT(info.m_clock_index >= 0 && info.m_clock_index < m_mac_number_of_clocks,
                     "clock_index >= 0 && clock_index < m_mac_number_of_clocks");
    // A record that came from a DSP port without a clear keeps none.
    MORV_ASSERT_TEXT(info.m_clear_index >= -1 && info.m_clear_index < m_mac_number_of_clocks,
                     "clear_index >= 0 && clear_index < m_mac_number_of_clocks");
    const bool input = info.m_input_type != DB_MAX_INPUT_PORT_TYPE;
    CDB_ATOM_ITERM* clock = mac_slot_term(node, DB_CLOCK, info.m_clock_index);
    if (!clock->is_connected()) {
        const MORV_RTM_SIGNAL* source = reg->get_secondary_signal(DB_CLOCK);
        MORV_ASSERT_TEXT(source && source->get_src_oterm(), "src_oterm");
        feed_mac_control(clock, source);
        CDB_ATOM_ITERM* enable = mac_slot_term(node, DB_CLOCK_ENABLE, info.m_clock_index);
        if (enable->is_connected()) m_net_util->disconnect_iterm(enable, CDB_NET_ITERM::UNCONNECTED);
        feed_mac_control(enable, reg->get_secondary_signal(DB_CLOCK_ENABLE));
    }
    if (input) m_cdb_interface->set_input_port_clock(node, info.m_input_type, info.m_clock_index);
    else m_cdb_interface->set_output_port_clock(node, info.m_output_type, info.m_clock_index);
    if (info.m_clear_index >= 0) {
        CDB_ATOM_ITERM* clear = mac_slot_term(node, DB_CLEAR, info.m_clear_index);
        if (!clear->is_connected()) feed_mac_control(clear, reg->get_secondary_signal(DB_CLEAR));
    }
    if (input) m_cdb_interface->set_input_port_clear(node, info.m_input_type, info.m_clear_index);
    else m_cdb_interface->set_output_port_clear(node, info.m_output_type, info.m_clear_index);
}

void MORV_RTM::pack_registers(MORV_RTM_OP* op)
{
    for (MORV_OWNER<MORV_RTM_REG>& reg : op->m_regs_to_pack) {
        MORV_ASSERT_TEXT(reg, "reg");
        if (reg->m_mac_iterm != nullptr) {
            pack_input_register(reg->m_mac_iterm->get_my_node(), reg.get());
            continue;
        }
        MORV_ASSERT_TEXT(reg->m_mac_oterm, "m_mac_oterm");
        pack_output_register(reg->m_mac_oterm->get_my_node(), reg.get());
    }
}

// Every output bit the block has, not only the port width, stands for the
// register: a bit left out would keep another timing root.
void MORV_RTM::pack_output_register(CDB_ATOM_NODE* node, MORV_RTM_REG* reg)
{
    MORV_DEBUG_STREAM::print(2, "Packing output registers into MAC < %d >", morv_atom_id(node));
    connect_mac_clock(node, reg);
    for (int index = 0; index < 2 * m_mac_port_width; ++index) {
        CDB_ATOM_OTERM* oterm = node->get_output_term_by_type(DB_DATA_OUT, index);
        if (oterm == nullptr) continue;
        set_regout_parent(oterm, reg->m_ref_oterm);
        m_fsyn_api->copy_oterm_timing_assignment(reg->m_ref_oterm, oterm);
    }
    m_fsyn_api->modify_node(node);
}

// The observable outputs made here are logged like every made term, so
// that a replay of the change log makes them too.
void MORV_RTM::pack_input_register(CDB_ATOM_NODE* node, MORV_RTM_REG* reg)
{
    const int type = reg->m_pack_info.m_input_type;
    MORV_DEBUG_STREAM::print(2, "Packing input registers into MAC < %d > , TYPE < %s >", morv_atom_id(node),
                             mult_data_port_name(type));
    MORV_ASSERT_TEXT(type == DB_DATA_A || type == DB_DATA_B,
                     "pack_info.m_input_type == ::DB_DATA_A || pack_info.m_input_type == ::DB_DATA_B");
    connect_mac_clock(node, reg);
    const int obs_type = CUT_MAC_UTIL::get_observable_port_type(type);
    for (int index = 0; index < m_mac_port_width; ++index) {
        CDB_ATOM_ITERM* iterm = node->get_input_term_by_type(type, index);
        if (iterm == nullptr || !iterm->is_connected()) continue;
        CDB_ATOM_OTERM* obs = node->get_output_term_by_type(obs_type, index);
        if (obs == nullptr) {
            HDB_INSTANCE_NAME* name = m_net_util->make_unique_instance_name(reg->get_instance_name(), "OBS");
            obs = node->add_output_term(obs_type, name, index);
            MORV_ASSERT_TEXT(obs, "obs_oterm");
            if (m_fsyn_api->is_fsyn_logging_on()) m_fsyn_api->get_fsyn_log()->log_create_oterm(node, obs_type, name);
        }
        set_regout_parent(obs, reg->m_ref_oterm);
        m_fsyn_api->copy_oterm_timing_assignment(reg->m_ref_oterm, obs);
    }
    m_fsyn_api->modify_node(node);
}

// A removed term leaves the parent forest: registers that stood for it
// become their own roots.
void MORV_RTM::forget_regouts(const std::set<CDB_ATOM_OTERM*>& oterms)
{
    if (oterms.empty()) return;
    for (auto it = m_regout_parent.begin(); it != m_regout_parent.end();) {
        if (oterms.count(it->first) != 0 || oterms.count(it->second) != 0) it = m_regout_parent.erase(it);
        else ++it;
    }
}

void MORV_RTM::unpack_registers(MORV_RTM_OP* op)
{
    for (MORV_OWNER<MORV_RTM_REG>& reg : op->m_regs_to_unpack) {
        MORV_ASSERT_TEXT(reg, "reg");
        if (reg->m_mac_iterm == nullptr) {
            MORV_ASSERT_TEXT(reg->m_mac_oterm, "m_mac_oterm");
            CDB_ATOM_NODE* node = reg->m_mac_oterm->get_my_node();
            MORV_ASSERT_TEXT(CUT_MAC_UTIL::is_output_port_registered(node, DB_DATA_OUT),
                             "CUT_MAC_UTIL::is_output_port_registered(node, ::DB_DATA_OUT)");
            MORV_DEBUG_STREAM::print(2, "Unpacking output registers from MAC < %d >", morv_atom_id(node));
            m_cdb_interface->set_output_port_clock(node, DB_DATA_OUT, -1);
            m_cdb_interface->set_output_port_clear(node, DB_DATA_OUT, -1);
            m_fsyn_api->modify_node(node);
            continue;
        }
        CDB_ATOM_NODE* node = reg->m_mac_iterm->get_my_node();
        const int type = reg->m_pack_info.m_input_type;
        MORV_ASSERT_TEXT(type != DB_MAX_INPUT_PORT_TYPE, "type != ::DB_MAX_INPUT_PORT_TYPE");
        MORV_ASSERT_TEXT(CUT_MAC_UTIL::is_input_port_registered(node, type),
                         "CUT_MAC_UTIL::is_input_port_registered(node, type)");
        MORV_DEBUG_STREAM::print(2, "Unpacking input registers from MAC < %d > , TYPE < %s >", morv_atom_id(node),
                                 mult_data_port_name(type));
        m_cdb_interface->set_input_port_clock(node, type, -1);
        m_cdb_interface->set_input_port_clear(node, type, -1);
        const int obs_type = CUT_MAC_UTIL::get_observable_port_type(type);
        std::set<CDB_ATOM_OTERM*> removed;
        for (int index = 0; index < m_mac_port_width; ++index) {
            CDB_ATOM_OTERM* obs = node->get_output_term_by_type(obs_type, index);
            if (obs == nullptr) continue;
            if (m_fsyn_api->is_fsyn_logging_on())
                m_fsyn_api->get_fsyn_log()->log_remove_unordered_fanout_term(node, obs_type, index);
            removed.insert(obs);
        }
        forget_regouts(removed);
        for (CDB_ATOM_OTERM* obs : removed) node->delete_output_term(obs);
        m_fsyn_api->modify_node(node);
    }
}
