// The records of the skew-driven engine: construction, comparison and the
// bookkeeping of one operation's registers and initial conditions.
#include "morv/rtm/morv_rtm_types.h"

#include "cdb/cdb_atom_netlist.h"

#include "morv/core/morv_assert.h"

MORV_NET_UTIL* MORV_RTM_SIGNAL::m_net_util = nullptr;
MORV_NET_UTIL* MORV_RTM_REG::m_net_util = nullptr;

// A constant keeps the value the register reads and drops the inversion
// bit: keeping the tie as read and the bit beside it would have every user
// that folds both (the demuxer's mask, the commit's re-tie) apply the
// inversion a second time.
MORV_RTM_SIGNAL::MORV_RTM_SIGNAL(int port_type, CDB_ATOM_ITERM* iterm) : m_port_type(port_type)
{
    if (iterm == nullptr || !iterm->is_connected()) return;
    MORV_ASSERT_TEXT(m_net_util, "m_net_util");
    m_net_util->save_iterm_properties(iterm, &m_iterm_properties);
    if (iterm->is_vcc() || iterm->is_gnd()) {
        m_is_vcc = iterm->is_logical_vcc();
        m_is_gnd = !m_is_vcc;
        m_iterm_properties.inverted = false;
        return;
    }
    m_src_oterm = iterm->get_source();
    MORV_ASSERT_TEXT(m_src_oterm, "m_src_oterm");
}

MORV_OWNER<MORV_RTM_SIGNAL> MORV_RTM_SIGNAL::clone() const
{
    MORV_OWNER<MORV_RTM_SIGNAL> copy(MORV_NEW(MORV_RTM_SIGNAL, *this));
    MORV_ASSERT_TEXT(copy, "new_signal");
    return copy;
}

bool MORV_RTM_SIGNAL::is_same_signal(CDB_ATOM_ITERM* iterm_1, CDB_ATOM_ITERM* iterm_2)
{
    const bool open_1 = iterm_1 == nullptr || !iterm_1->is_connected();
    const bool open_2 = iterm_2 == nullptr || !iterm_2->is_connected();
    if (open_1 || open_2) return open_1 && open_2;
    const bool const_1 = iterm_1->is_vcc() || iterm_1->is_gnd();
    const bool const_2 = iterm_2->is_vcc() || iterm_2->is_gnd();
    if (const_1 || const_2) return const_1 && const_2 && iterm_1->is_logical_vcc() == iterm_2->is_logical_vcc();
    MORV_ASSERT_TEXT(iterm_1->get_source(), "oterm_1");
    return iterm_1->get_source() == iterm_2->get_source();
}

bool MORV_RTM_SIGNAL::is_equivalent(const MORV_RTM_SIGNAL& other) const
{
    return m_port_type == other.m_port_type && m_src_oterm == other.m_src_oterm && m_is_vcc == other.m_is_vcc &&
           m_is_gnd == other.m_is_gnd && m_iterm_properties.inverted == other.m_iterm_properties.inverted &&
           m_iterm_properties.global_setting == other.m_iterm_properties.global_setting &&
           m_iterm_properties.boundary_port_id == other.m_iterm_properties.boundary_port_id;
}

// ------------------------------------------------------------ MORV_RTM_REG

MORV_RTM_REG::MORV_RTM_REG()
{
    MORV_ASSERT_TEXT(m_net_util, "m_net_util");
}

MORV_RTM_REG::MORV_RTM_REG(CDB_ATOM_NODE* node, const MORV_RTM_PORT_LIST* secondary_signals,
                           const MORV_RTM_PACK_INFO& pack_info)
    : m_node(node), m_pack_info(pack_info)
{
    MORV_ASSERT_TEXT(m_net_util, "m_net_util");
    MORV_ASSERT_TEXT(node, "node");
    MORV_ASSERT_TEXT(secondary_signals, "secondary_signals");
    init_secondary_signals(secondary_signals);
}

MORV_RTM_REG::~MORV_RTM_REG()
{
    for (const auto& [type, signal] : m_secondary_signals_map) MORV_ASSERT_TEXT(signal, "signal");
}

MORV_OWNER<MORV_RTM_REG> MORV_RTM_REG::clone() const
{
    MORV_ASSERT_TEXT(m_node, "m_node");
    MORV_OWNER<MORV_RTM_REG> copy(MORV_NEW(MORV_RTM_REG));
    MORV_ASSERT_TEXT(copy, "reg_clone");
    copy->m_node = m_node;
    copy->m_ref_oterm = m_ref_oterm;
    for (const auto& [type, signal] : m_secondary_signals_map) {
        MORV_ASSERT_TEXT(signal, "reg_signal");
        MORV_OWNER<MORV_RTM_SIGNAL> signal_copy = signal->clone();
        MORV_ASSERT_TEXT(signal_copy, "reg_signal_clone");
        copy->m_secondary_signals_map[signal_copy->get_port_type()] = std::move(signal_copy);
    }
    return copy;
}

// A DSP block carries up to four clocks, enables and clears; its register
// uses one clock slot (with the enable of the same slot) and one clear
// slot. Reading slot 0 for every DSP register would describe, compare and
// later re-create a register on another slot with the wrong nets.
CDB_ATOM_ITERM* MORV_RTM_REG::control_iterm(int port_type) const
{
    if (!m_node->is_mac_mult() && !m_node->is_mac_out()) return m_node->get_input_term_by_type(port_type, 0);
    int slot = 0;
    if (port_type == DB_CLOCK || port_type == DB_CLOCK_ENABLE) slot = m_pack_info.m_clock_index;
    else if (port_type == DB_CLEAR) slot = m_pack_info.m_clear_index;
    return slot < 0 ? nullptr : m_node->get_input_term_by_type(port_type, slot);
}

void MORV_RTM_REG::init_secondary_signals(const MORV_RTM_PORT_LIST* secondary_signals)
{
    MORV_ASSERT_TEXT(secondary_signals, "secondary_signals");
    MORV_ASSERT_TEXT(m_node, "m_node");
    MORV_ASSERT_TEXT(m_node->is_lcell_ff() || m_node->is_mac_mult() || m_node->is_mac_out(),
                     "m_node->is_lcell_ff() || m_node->is_mac_mult() || m_node->is_mac_out()");
    for (int type : *secondary_signals)
        if (m_node->implements(type)) add_secondary_signal(type, control_iterm(type));
}

void MORV_RTM_REG::add_secondary_signal(int port_type, CDB_ATOM_ITERM* iterm)
{
    MORV_ASSERT_TEXT(m_secondary_signals_map.find(port_type) == m_secondary_signals_map.end(),
                     "m_secondary_signals_map.find(type) == m_secondary_signals_map.end()");
    MORV_OWNER<MORV_RTM_SIGNAL> signal(MORV_NEW(MORV_RTM_SIGNAL, port_type, iterm));
    MORV_ASSERT_TEXT(signal, "reg_signal");
    m_secondary_signals_map[port_type] = std::move(signal);
}

const MORV_RTM_SIGNAL* MORV_RTM_REG::get_secondary_signal(int port_type) const
{
    auto found = m_secondary_signals_map.find(port_type);
    return found == m_secondary_signals_map.end() ? nullptr : found->second.get();
}

bool MORV_RTM_REG::have_same_secondary_signals(const MORV_RTM_REG* reg_1, const MORV_RTM_REG* reg_2,
                                               const MORV_RTM_PORT_LIST* input_ports)
{
    MORV_ASSERT_TEXT(reg_1, "reg_1");
    MORV_ASSERT_TEXT(reg_2, "reg_2");
    MORV_ASSERT_TEXT(input_ports, "input_ports");
    for (int type : *input_ports) {
        const MORV_RTM_SIGNAL* signal_1 = reg_1->get_secondary_signal(type);
        const MORV_RTM_SIGNAL* signal_2 = reg_2->get_secondary_signal(type);
        if (signal_1 == nullptr && signal_2 == nullptr) continue;
        if (signal_1 == nullptr || signal_2 == nullptr) return false;
        if (!signal_1->is_equivalent(*signal_2)) return false;
    }
    return true;
}

bool MORV_RTM_REG::is_bypassed_iterm(CDB_ATOM_ITERM* iterm) const
{
    return m_bypass_all_fanouts || m_bypassed_iterms.count(iterm) != 0;
}

HDB_INSTANCE_NAME* MORV_RTM_REG::get_instance_name() const
{
    MORV_ASSERT_TEXT(m_ref_oterm, "m_ref_oterm");
    HDB_INSTANCE_NAME* name = m_ref_oterm->get_instance_name();
    MORV_ASSERT_TEXT(name, "instance_name");
    return name;
}

// ------------------------------------------------------------ MORV_RTM_OP

void MORV_RTM_OP::add_register_to_remove(MORV_OWNER<MORV_RTM_REG> reg)
{
    MORV_ASSERT_TEXT(reg, "reg");
    m_regs_to_remove.push_back(std::move(reg));
}

void MORV_RTM_OP::add_register_to_pack(MORV_OWNER<MORV_RTM_REG> reg)
{
    MORV_ASSERT_TEXT(reg, "reg");
    m_regs_to_pack.push_back(std::move(reg));
}

void MORV_RTM_OP::add_register_to_unpack(MORV_OWNER<MORV_RTM_REG> reg)
{
    MORV_ASSERT_TEXT(reg, "reg");
    m_regs_to_unpack.push_back(std::move(reg));
}

void MORV_RTM_OP::add_register_to_add(MORV_OWNER<MORV_RTM_REG> reg)
{
    MORV_ASSERT_TEXT(reg, "reg");
    MORV_RTM_REG* added = reg.get();
    m_regs_to_add.push_back(std::move(reg));
    if (added->m_add_on_iterm != nullptr) {
        MORV_ASSERT_TEXT(added->m_add_on_oterm == nullptr, "add_on_oterm == NULL");
        m_iterm_to_reg_map[MORV_CANONICAL_ITERM(added->m_add_on_iterm)] = added;
        return;
    }
    MORV_ASSERT_TEXT(added->m_add_on_oterm, "add_on_oterm");
    m_oterm_to_reg_map[MORV_CANONICAL_OTERM(added->m_add_on_oterm)] = added;
}

MORV_RTM_REG* MORV_RTM_OP::get_register_added_on_iterm(CDB_ATOM_ITERM* iterm) const
{
    MORV_ASSERT_TEXT(iterm, "iterm");
    auto found = m_iterm_to_reg_map.find(MORV_CANONICAL_ITERM(iterm));
    return found == m_iterm_to_reg_map.end() ? nullptr : found->second;
}

MORV_RTM_REG* MORV_RTM_OP::get_register_added_on_oterm(CDB_ATOM_OTERM* oterm) const
{
    MORV_ASSERT_TEXT(oterm, "oterm");
    auto found = m_oterm_to_reg_map.find(MORV_CANONICAL_OTERM(oterm));
    return found == m_oterm_to_reg_map.end() ? nullptr : found->second;
}

void MORV_RTM_OP::set_node_ic(CDB_ATOM_NODE* node, MORV_RTM_REG_INITIAL_CONDITION_ENUM value)
{
    MORV_ASSERT_TEXT(node, "node");
    MORV_ASSERT_TEXT(m_node_to_ic_map.find(node) == m_node_to_ic_map.end(),
                     "m_node_to_ic_map.find(node) == m_node_to_ic_map.end()");
    m_node_to_ic_map[node] = value;
}

MORV_RTM_REG_INITIAL_CONDITION_ENUM MORV_RTM_OP::get_node_ic(CDB_ATOM_NODE* node) const
{
    auto found = m_node_to_ic_map.find(node);
    return found == m_node_to_ic_map.end() ? MORV_RTM_REG_IC_NONE : found->second;
}

void MORV_RTM_OP::set_iterm_ic(CDB_ATOM_ITERM* iterm, MORV_RTM_REG_INITIAL_CONDITION_ENUM value)
{
    MORV_ASSERT_TEXT(iterm, "iterm");
    const MORV_CANONICAL_ITERM key(iterm);
    MORV_ASSERT_TEXT(m_iterm_to_ic_map.find(key) == m_iterm_to_ic_map.end(),
                     "m_iterm_to_ic_map.find(can_iterm) == m_iterm_to_ic_map.end()");
    m_iterm_to_ic_map[key] = value;
}

MORV_RTM_REG_INITIAL_CONDITION_ENUM MORV_RTM_OP::get_iterm_ic(CDB_ATOM_ITERM* iterm) const
{
    MORV_ASSERT_TEXT(iterm, "iterm");
    auto found = m_iterm_to_ic_map.find(MORV_CANONICAL_ITERM(iterm));
    return found == m_iterm_to_ic_map.end() ? MORV_RTM_REG_IC_NONE : found->second;
}
