#pragma once

// The cycle-by-cycle simulation of a shift register's counter: the
// registers of the group start at 0 and step until their values repeat a
// state seen before; the RAM addresses of every state are read off on the
// way. Values are memoised per state and output, so each output is worked
// out once per state.

#include <set>
#include <unordered_map>
#include <vector>

#include "morv/netlist/morv_deterministic.h"

class CDB_ATOM_NODE;
class CDB_ATOM_ITERM;
class CDB_ATOM_OTERM;
class MORV_NET_UTIL;

class MORV_SHIFT_REG_SIMULATION
{
public:
    using NODE_SET = std::set<CDB_ATOM_NODE*, DETERMINISTIC_LESS<CDB_ATOM_NODE*>>;
    // Beyond this many states the counter is not taken for a shift register.
    static constexpr int MAX_STATES = 2000;

    explicit MORV_SHIFT_REG_SIMULATION(MORV_NET_UTIL* net_util) : m_net_util(net_util) {}

    // Runs the counter of the set; false when it does not repeat within the
    // bound or when two RAMs of the set see different addresses.
    bool simulate(const NODE_SET& set);

    bool get_value(CDB_ATOM_OTERM* oterm, int state);
    bool get_register_value(CDB_ATOM_OTERM* oterm, int state);
    bool get_comb_value(CDB_ATOM_OTERM* oterm, int state);
    bool get_input_value(CDB_ATOM_ITERM* iterm, int state);
    void set_value(CDB_ATOM_OTERM* oterm, int state, bool value);

    int get_last_state() const { return m_last_state; }
    int get_equiv_state() const { return m_equiv_state; }
    int get_length() const { return m_last_state - m_equiv_state; }
    int get_offset() const { return m_offset; }
    void set_offset(int offset) { m_offset = offset; }
    const std::vector<unsigned>& get_read_addresses() const { return m_read_addresses; }
    const std::vector<unsigned>& get_write_addresses() const { return m_write_addresses; }

private:
    // The value of an input of the node, or of its port when the node has
    // no such input (an absent port takes the atom's floating value).
    bool port_value(CDB_ATOM_NODE* node, int port_type, int state);
    bool run_states(const std::vector<CDB_ATOM_OTERM*>& regouts);
    bool read_addresses(const NODE_SET& set);
    unsigned address_at(CDB_ATOM_NODE* ram, int port_type, int state);

    std::vector<std::unordered_map<const CDB_ATOM_OTERM*, bool>> m_sim_signals;
    MORV_NET_UTIL* m_net_util;
    std::vector<unsigned> m_read_addresses;
    std::vector<unsigned> m_write_addresses;
    int m_last_state = 0;
    int m_equiv_state = 0;
    int m_offset = 0;
};
