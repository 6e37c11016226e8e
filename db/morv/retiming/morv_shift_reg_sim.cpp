#include "morv/retiming/morv_shift_reg_sim.h"

#include <map>
#include <string>

#include "cdb/cdb_atom_node.h"

#include "morv/core/morv_assert.h"
#include "morv/core/morv_debug_stream.h"
#include "morv/netlist/morv_net_util.h"

bool MORV_SHIFT_REG_SIMULATION::simulate(const NODE_SET& set)
{
    m_sim_signals.clear();
    m_sim_signals.resize(4);
    m_read_addresses.clear();
    m_write_addresses.clear();
    std::vector<CDB_ATOM_OTERM*> regouts;
    for (CDB_ATOM_NODE* node : set) {
        if (!m_net_util->is_ff(node)) continue;
        CDB_ATOM_OTERM* regout = node->get_output_term_by_type(DB_REG_OUT);
        MORV_ASSERT_TEXT(regout, "regout");
        set_value(regout, 0, false);
        MORV_DEBUG_STREAM::print(100, "state[%d] = %s", static_cast<int>(regouts.size()),
                                 MORV_NET_UTIL::get_hpath_name(node).c_str());
        regouts.push_back(regout);
    }
    return run_states(regouts) && read_addresses(set);
}

// Steps until a state vector repeats; the table of states doubles as it fills.
bool MORV_SHIFT_REG_SIMULATION::run_states(const std::vector<CDB_ATOM_OTERM*>& regouts)
{
    std::map<std::vector<bool>, int> seen;
    seen.emplace(std::vector<bool>(regouts.size(), false), 0);
    for (int s = 1;; ++s) {
        if (static_cast<int>(m_sim_signals.size()) < s + 1) m_sim_signals.resize(static_cast<size_t>(2 * s));
        std::vector<bool> state;
        std::string line = "state " + std::to_string(s) + " is";
        for (CDB_ATOM_OTERM* regout : regouts) {
            state.push_back(get_value(regout, s));
            line += state.back() ? " 1" : " 0";
        }
        MORV_DEBUG_STREAM::print(100, "%s", line.c_str());
        auto found = seen.find(state);
        if (found != seen.end()) {
            m_last_state = s;
            m_equiv_state = found->second;
            MORV_DEBUG_STREAM::print(100, "state %d is equivalent to state %d", s, found->second);
            return true;
        }
        seen.emplace(std::move(state), s);
        if (2 * s > MAX_STATES) return false;
    }
}

unsigned MORV_SHIFT_REG_SIMULATION::address_at(CDB_ATOM_NODE* ram, int port_type, int state)
{
    unsigned address = 0;
    for (int i = 0; i < 32; ++i) {
        CDB_ATOM_ITERM* bit = ram->get_input_term_by_type(port_type, i);
        if (bit == nullptr) break;
        if (get_input_value(bit, state)) address |= 1u << i;
    }
    return address;
}

bool MORV_SHIFT_REG_SIMULATION::read_addresses(const NODE_SET& set)
{
    bool first = true;
    for (CDB_ATOM_NODE* ram : set) {
        if (!ram->is_ram()) continue;
        for (int t = 0; t < m_last_state; ++t) {
            const unsigned write = address_at(ram, DB_RAM_PORTA_ADDRESS, t);
            const unsigned read = address_at(ram, DB_RAM_PORTB_ADDRESS, t);
            if (first) {
                m_write_addresses.push_back(write);
                m_read_addresses.push_back(read);
            } else if (m_write_addresses[static_cast<size_t>(t)] != write ||
                       m_read_addresses[static_cast<size_t>(t)] != read) {
                MORV_DEBUG_STREAM::print(100, "ABORTING, RAM addresses don't match for all RAMs");
                return false;
            }
        }
        first = false;
    }
    return true;
}

void MORV_SHIFT_REG_SIMULATION::set_value(CDB_ATOM_OTERM* oterm, int state, bool value)
{
    m_sim_signals[static_cast<size_t>(state)][oterm] = value;
}

bool MORV_SHIFT_REG_SIMULATION::get_value(CDB_ATOM_OTERM* oterm, int state)
{
    MORV_ASSERT_TEXT(state < (int)m_sim_signals.size(), "state < (int)m_sim_signals.size()");
    auto& memo = m_sim_signals[static_cast<size_t>(state)];
    auto found = memo.find(oterm);
    if (found != memo.end()) return found->second;
    bool value = false;
    switch (oterm->get_any_usage_as()) {
    case DB_REG_OUT: value = get_register_value(oterm, state); break;
    case DB_CARRY_OUT:
    case DB_SUM_OUT:
    case DB_COMB_OUT:
    case DB_SHARE_OUT: value = get_comb_value(oterm, state); break;
    default: MORV_ASSERT_TEXT(false, "unknown oterm type");
    }
    m_sim_signals[static_cast<size_t>(state)][oterm] = value;
    return value;
}

bool MORV_SHIFT_REG_SIMULATION::port_value(CDB_ATOM_NODE* node, int port_type, int state)
{
    CDB_ATOM_ITERM* iterm = node->get_input_term_by_type(port_type);
    return iterm != nullptr ? get_input_value(iterm, state) : node->floats_high(port_type);
}

// Asynchronous clear and load are not modelled: every register starts at 0.
bool MORV_SHIFT_REG_SIMULATION::get_register_value(CDB_ATOM_OTERM* oterm, int state)
{
    MORV_ASSERT_TEXT(oterm && oterm->get_any_usage_as() == ::DB_REG_OUT,
                     "oterm && oterm->get_any_usage_as() == ::DB_REG_OUT");
    MORV_ASSERT_TEXT(state > 0, "state > 0");
    CDB_ATOM_NODE* node = oterm->get_my_node();
    MORV_ASSERT_TEXT(node, "node");
    const int before = state - 1;
    if (!port_value(node, DB_CLOCK_ENABLE, before)) return get_value(oterm, before);
    if (port_value(node, DB_SYNCH_CLEAR, before)) return false;
    if (port_value(node, DB_SYNCH_LOAD, before)) return port_value(node, DB_SYNCH_DATA, before);
    return port_value(node, DB_DATAIN, before);
}

bool MORV_SHIFT_REG_SIMULATION::get_comb_value(CDB_ATOM_OTERM* oterm, int state)
{
    CDB_ATOM_NODE* node = oterm->get_my_node();
    unsigned in[CDB_ATOM_NODE::EVALUATE_INPUT_COUNT] = {};
    for (int k = 0; k < CDB_ATOM_NODE::EVALUATE_INPUT_COUNT; ++k)
        if (node->implements(CDB_ATOM_NODE::EVALUATE_INPUT_PORTS[k]))
            in[k] = port_value(node, CDB_ATOM_NODE::EVALUATE_INPUT_PORTS[k], state) ? 1u : 0u;
    unsigned value = 0;
    switch (oterm->get_any_usage_as()) {
    case DB_COMB_OUT: value = m_net_util->evaluate_comb_out(node, in); break;
    case DB_SUM_OUT: value = m_net_util->evaluate_sum_out(node, in); break;
    case DB_CARRY_OUT: value = m_net_util->evaluate_carry_out(node, in); break;
    case DB_SHARE_OUT: value = m_net_util->evaluate_share_out(node, in); break;
    default: MORV_DEBUG_STREAM::print(100, "Shouldn't get here"); return false;
    }
    // An output that drives nothing has no value of its own; it reads 0.
    return value != 0 && value != MORV_NO_LUT_VALUE;
}

bool MORV_SHIFT_REG_SIMULATION::get_input_value(CDB_ATOM_ITERM* iterm, int state)
{
    MORV_ASSERT_TEXT(state < (int)m_sim_signals.size(), "state < (int)m_sim_signals.size()");
    if (CDB_ATOM_OTERM* source = iterm->get_source()) return get_value(source, state) != iterm->is_inverted();
    if (iterm->is_logical_vcc()) return true;
    if (iterm->is_logical_gnd()) return false;
    MORV_ASSERT_TEXT(!iterm->is_connected(), "!iterm->is_connected()");
    return iterm->get_my_node()->floats_high(iterm->get_any_usage_as());
}
