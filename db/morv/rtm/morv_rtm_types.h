#pragma once

// The records the skew-driven retiming engine plans its moves with: a
// register's control signal, a register taking part in a move, one
// retiming operation and one DSP slice. They point into the atom netlist
// and never own a netlist object; the records they hold are theirs.

#include <list>
#include <map>
#include <set>
#include <vector>

#include "cdb/cdb_types.h"
#include "mem_alloc_sys.h"
#include "morv/netlist/morv_deterministic.h"
#include "morv/netlist/morv_net_util.h"

class CDB_ATOM_NODE;
class CDB_ATOM_ITERM;
class CDB_ATOM_OTERM;
class HDB_INSTANCE_NAME;

// One control input of a register. A constant is held as the value the
// port reads (inversion bit and port polarity included) with the saved
// inversion bit cleared, so that every user applies the tie exactly once.
class MORV_RTM_SIGNAL
{
public:
    // Absent (no source, no constant, default properties) when the term is
    // missing or not connected.
    MORV_RTM_SIGNAL(int port_type, CDB_ATOM_ITERM* iterm);

    MORV_OWNER<MORV_RTM_SIGNAL> clone() const;
    MORV_ITERM_PROPERTIES get_iterm_properties() const { return m_iterm_properties; }
    // Unconnected on both, the same constant on both, or the same source.
    static bool is_same_signal(CDB_ATOM_ITERM* iterm_1, CDB_ATOM_ITERM* iterm_2);

    int get_port_type() const { return m_port_type; }
    CDB_ATOM_OTERM* get_src_oterm() const { return m_src_oterm; }
    bool is_vcc() const { return m_is_vcc; }
    bool is_gnd() const { return m_is_gnd; }
    bool is_inverted() const { return m_iterm_properties.inverted; }
    // Equal for the purpose of merging registers: the delay chain is routing
    // and does not count.
    bool is_equivalent(const MORV_RTM_SIGNAL& other) const;

    static MORV_NET_UTIL* m_net_util;

private:
    int m_port_type = DB_MAX_INPUT_PORT_TYPE;
    CDB_ATOM_OTERM* m_src_oterm = nullptr;
    bool m_is_vcc = false;
    bool m_is_gnd = false;
    MORV_ITERM_PROPERTIES m_iterm_properties;
};

enum MORV_RTM_REG_TYPE : int
{
    MORV_RTM_REG_NONE = 0,
    MORV_RTM_REG_LCELL = 1,
    MORV_RTM_REG_MAC_OUT = 2,
    MORV_RTM_REG_MAC_MULT = 4
};

enum MORV_RTM_REG_INITIAL_CONDITION_ENUM : int
{
    MORV_RTM_REG_IC_NONE = 0,
    MORV_RTM_REG_IC_HIGH = 1,
    MORV_RTM_REG_IC_LOW = 2
};

struct MORV_RTM_PACK_INFO
{
    int m_clock_index = -1;
    int m_clear_index = -1;
    int m_input_type = DB_MAX_INPUT_PORT_TYPE;
    int m_output_type = DB_MAX_OUTPUT_PORT_TYPE;
};

using MORV_RTM_PORT_LIST = std::vector<int>;

class MORV_RTM_REG
{
public:
    MORV_RTM_REG();
    // A logic-cell register reads its controls at index 0; a DSP register
    // at the clock and clear slots of `pack_info` (none: the absent signal).
    MORV_RTM_REG(CDB_ATOM_NODE* node, const MORV_RTM_PORT_LIST* secondary_signals,
                 const MORV_RTM_PACK_INFO& pack_info = MORV_RTM_PACK_INFO());
    ~MORV_RTM_REG();
    MORV_RTM_REG(const MORV_RTM_REG&) = delete;
    MORV_RTM_REG& operator=(const MORV_RTM_REG&) = delete;

    // Same node, reference term and signals (deep copies); everything else
    // at its initial value.
    MORV_OWNER<MORV_RTM_REG> clone() const;
    void init_secondary_signals(const MORV_RTM_PORT_LIST* secondary_signals);
    void add_secondary_signal(int port_type, CDB_ATOM_ITERM* iterm);
    const MORV_RTM_SIGNAL* get_secondary_signal(int port_type) const;
    static bool have_same_secondary_signals(const MORV_RTM_REG* reg_1, const MORV_RTM_REG* reg_2,
                                            const MORV_RTM_PORT_LIST* input_ports);
    bool is_bypassed_iterm(CDB_ATOM_ITERM* iterm) const;
    HDB_INSTANCE_NAME* get_instance_name() const;
    MORV_RTM_PACK_INFO get_pack_info() const { return m_pack_info; }
    // The term the register reads a control from: index 0 of a logic
    // cell, the clock or clear slot of a DSP register.
    CDB_ATOM_ITERM* get_control_iterm(int port_type) const { return control_iterm(port_type); }

    MORV_RTM_REG_TYPE m_type = MORV_RTM_REG_NONE;
    MORV_RTM_REG_INITIAL_CONDITION_ENUM m_ic = MORV_RTM_REG_IC_NONE;
    int m_direction = 0;  // 0 undefined, 1 backward, 2 forward
    CDB_ATOM_NODE* m_node = nullptr;
    CDB_ATOM_ITERM* m_add_on_iterm = nullptr;
    CDB_ATOM_ITERM* m_mac_iterm = nullptr;
    CDB_ATOM_OTERM* m_add_on_oterm = nullptr;
    CDB_ATOM_OTERM* m_mac_oterm = nullptr;
    MORV_RTM_PACK_INFO m_pack_info;
    std::set<CDB_ATOM_ITERM*, DETERMINISTIC_LESS<CDB_ATOM_ITERM*>> m_bypassed_iterms;
    bool m_bypass_all_fanouts = false;
    std::map<int, MORV_OWNER<MORV_RTM_SIGNAL>> m_secondary_signals_map;
    CDB_ATOM_OTERM* m_ref_oterm = nullptr;

    static MORV_NET_UTIL* m_net_util;

private:
    // The term a control of this register is read from.
    CDB_ATOM_ITERM* control_iterm(int port_type) const;
};

using MORV_RTM_REG_LIST = std::list<MORV_OWNER<MORV_RTM_REG>>;

class MORV_RTM_OP
{
public:
    explicit MORV_RTM_OP(MORV_RTM_REG* reg) : m_reg(reg) {}
    MORV_RTM_OP(const MORV_RTM_OP&) = delete;
    MORV_RTM_OP& operator=(const MORV_RTM_OP&) = delete;

    bool is_legal() const { return m_failure_reason == 0; }
    void add_register_to_remove(MORV_OWNER<MORV_RTM_REG> reg);
    void add_register_to_add(MORV_OWNER<MORV_RTM_REG> reg);
    void add_register_to_pack(MORV_OWNER<MORV_RTM_REG> reg);
    void add_register_to_unpack(MORV_OWNER<MORV_RTM_REG> reg);
    MORV_RTM_REG* get_register_added_on_iterm(CDB_ATOM_ITERM* iterm) const;
    MORV_RTM_REG* get_register_added_on_oterm(CDB_ATOM_OTERM* oterm) const;
    void set_node_ic(CDB_ATOM_NODE* node, MORV_RTM_REG_INITIAL_CONDITION_ENUM value);
    MORV_RTM_REG_INITIAL_CONDITION_ENUM get_node_ic(CDB_ATOM_NODE* node) const;
    void set_iterm_ic(CDB_ATOM_ITERM* iterm, MORV_RTM_REG_INITIAL_CONDITION_ENUM value);
    MORV_RTM_REG_INITIAL_CONDITION_ENUM get_iterm_ic(CDB_ATOM_ITERM* iterm) const;

    int m_failure_reason = 0;
    MORV_RTM_REG* m_reg = nullptr;
    MORV_RTM_REG_LIST m_regs_to_remove;
    MORV_RTM_REG_LIST m_regs_to_add;
    MORV_RTM_REG_LIST m_regs_to_pack;
    MORV_RTM_REG_LIST m_regs_to_unpack;
    std::map<MORV_CANONICAL_ITERM, MORV_RTM_REG*> m_iterm_to_reg_map;
    std::map<MORV_CANONICAL_OTERM, MORV_RTM_REG*> m_oterm_to_reg_map;
    std::map<CDB_ATOM_NODE*, MORV_RTM_REG_INITIAL_CONDITION_ENUM, DETERMINISTIC_LESS<CDB_ATOM_NODE*>> m_node_to_ic_map;
    std::map<MORV_CANONICAL_ITERM, MORV_RTM_REG_INITIAL_CONDITION_ENUM> m_iterm_to_ic_map;
    CDB_ATOM_NODE* m_carry_chain_head = nullptr;
};

struct MORV_RTM_MAC_SLICE
{
    std::vector<CDB_ATOM_NODE*> m_mac_mults;  // ascending atom id
    CDB_ATOM_NODE* m_mac_out = nullptr;
    int m_mode = 0;
};
