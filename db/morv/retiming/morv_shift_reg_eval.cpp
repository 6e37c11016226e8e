// Whether a group of RAMs and their counter is a shift register, and how
// long: structural checks of ports, clocks and clears, then a simulation of
// the counter from the all-zero state and a check of the addresses it gives.

#include <string>

#include "cdb/cdb_atom_netlist.h"
#include "cut/cut_block_util.h"

#include "morv/core/morv_api.h"
#include "morv/core/morv_assert.h"
#include "morv/core/morv_debug_stream.h"
#include "morv/netlist/morv_net_util.h"
#include "morv/retiming/morv_shift_reg_internal.h"
#include "morv/retiming/morv_shift_reg_sim.h"

namespace {

// The control inputs a RAM port's register uses, as the RAM model has them:
// a data output has a register (and so a clock and clear) only when its
// port is registered, and the address registers are never cleared.
int port_clock(const CDB_ATOM_NODE* ram, int port_type)
{
    const bool output = port_type == DB_RAM_PORTA_DATAOUT || port_type == DB_RAM_PORTB_DATAOUT;
    const int port = port_type == DB_RAM_PORTA_DATAOUT ? 0 : 1;
    if (output && !CUT_RAM_UTIL::ram_mode_is(ram, port, CDB_RAM_FLAG_OUTPUT_REGISTERED)) return DB_MAX_INPUT_PORT_TYPE;
    return CUT_RAM_UTIL::get_physical_port_clock(ram, port_type);
}

int port_clear(const CDB_ATOM_NODE* ram, int port_type)
{
    if (port_type == DB_RAM_PORTA_ADDRESS || port_type == DB_RAM_PORTB_ADDRESS) return DB_MAX_INPUT_PORT_TYPE;
    if (port_clock(ram, port_type) == DB_MAX_INPUT_PORT_TYPE) return DB_MAX_INPUT_PORT_TYPE;
    return CUT_RAM_UTIL::get_physical_port_clear(ram, port_type);
}

bool is_logical_vcc(const CDB_ATOM_ITERM* iterm)
{
    return iterm->get_source() == nullptr && iterm->is_logical_vcc();
}

// Present, connected and not tied to logical GND.
bool is_enabled(const CDB_ATOM_ITERM* iterm)
{
    return iterm != nullptr && iterm->is_connected() && !(iterm->get_source() == nullptr && iterm->is_logical_gnd());
}

// Every address bit comes from the counter: a constant bit would leave the
// rebuilt counter without its register.
bool addresses_driven(const CDB_ATOM_NODE* ram)
{
    bool any_write = false;
    for (auto it = ram->begin_iterm(); it != ram->end_iterm(); ++it) {
        const CDB_ATOM_ITERM* iterm = *it;
        const bool write = iterm->is_used_as(DB_RAM_PORTA_ADDRESS);
        if (!write && !iterm->is_used_as(DB_RAM_PORTB_ADDRESS)) continue;
        if (iterm->get_source() == nullptr) return false;
        any_write = any_write || write;
    }
    return any_write;
}

void report_mismatch(const char* what, const MORV_SIGNAL& group, const MORV_SIGNAL& node)
{
    MORV_DEBUG_STREAM::print(100, "%s", what);
    group.print();
    node.print();
}

// The first present signal sets the group's; every later one must equal it.
bool agree(MORV_SIGNAL& group, bool& has, const MORV_SIGNAL& node)
{
    if (!has) {
        group = node;
        has = true;
        return true;
    }
    return group == node;
}

}  // namespace

int MORV_SHIFT_REG_MANAGER::is_node_shift_register(CDB_ATOM_NODE* node)
{
    MORV_ASSERT_TEXT(node != nullptr && node->is_ram(), "node->is_ram()");
    MORV_ASSERT_TEXT(m_initialized, "m_initialized");
    auto scripted = m_scripted_active.find(node->get_id());
    if (scripted != m_scripted_active.end()) return scripted->second;
    const int id = find_node_group(node);
    if (m_valid_sr_ids.count(id) == 0) return 0;
    auto cached = m_sr_results.find(id);
    if (cached != m_sr_results.end()) return cached->second;
    const NODE_SET set = working_set(id);
    MORV_DEBUG_STREAM::print(100, "\n\nEvaluating shift register ID %d", id);
    for (CDB_ATOM_NODE* member : set) MORV_DEBUG_STREAM::print(100, "%d is in set", static_cast<int>(member->get_id()));
    MORV_SHIFT_REG_SIMULATION simulation(m_net_util);
    SIGNALS signals;
    const int length = evaluate(set, simulation, signals);
    const int result = length != 0 ? id : 0;
    // A group whose counter reads from outside is no shift register at all.
    if (result == 0 && !is_closed(set)) m_valid_sr_ids.erase(id);
    m_sr_results[id] = result;
    return result;
}

int MORV_SHIFT_REG_MANAGER::evaluate(const NODE_SET& set, MORV_SHIFT_REG_SIMULATION& simulation, SIGNALS& signals)
{
    const bool ok = is_closed(set) && check_clock_and_clear(set, signals) && check_ram_ports(set) &&
                    simulation.simulate(set) && check_addresses(set, simulation);
    if (!ok) MORV_DEBUG_STREAM::print(100, "ABORTED!");
    const int length = ok ? simulation.get_length() : 0;
    MORV_DEBUG_STREAM::print(100, "SHIFT REGISTER OF LENGTH %d\n\n", length);
    return length;
}

bool MORV_SHIFT_REG_MANAGER::check_clock_and_clear(const NODE_SET& set, SIGNALS& signals) const
{
    for (CDB_ATOM_NODE* node : set) {
        if (node->is_ram()) {
            for (int port : {DB_RAM_CLK0, DB_RAM_CLK1}) {
                CDB_ATOM_ITERM* clock = node->get_input_term_by_type(port);
                if (clock == nullptr) continue;
                const MORV_SIGNAL signal(clock);
                if (agree(signals.clock, signals.has_clock, signal)) continue;
                report_mismatch("INCOMPATIBLE CLOCK SIGNAL", signals.clock, signal);
                return false;
            }
        } else if (m_net_util->is_ff(node) && !check_register_controls(node, signals)) {
            return false;
        }
    }
    return true;
}

// A clear tied to logical VCC never acts and is ignored; one tied to logical
// GND holds the register at 0, which no counter survives.
bool MORV_SHIFT_REG_MANAGER::check_register_controls(CDB_ATOM_NODE* reg, SIGNALS& signals) const
{
    CDB_ATOM_ITERM* clock = reg->get_input_term_by_type(DB_CLOCK);
    if (clock != nullptr && !is_logical_vcc(clock)) {
        const MORV_SIGNAL signal(clock);
        if (!agree(signals.clock, signals.has_clock, signal)) {
            report_mismatch("INCOMPATIBLE CLOCK SIGNAL", signals.clock, signal);
            return false;
        }
    }
    CDB_ATOM_ITERM* clear = reg->get_input_term_by_type(DB_CLEAR);
    if (clear == nullptr || is_logical_vcc(clear)) return true;
    const MORV_SIGNAL signal(clear);
    const bool held = clear->get_source() == nullptr && clear->is_logical_gnd();
    if (!held && agree(signals.clear, signals.has_clear, signal)) return true;
    const std::string what = "INCOMPATIBLE CLEAR SIGNAL on " + std::to_string(reg->get_id());
    report_mismatch(what.c_str(), signals.clear, signal);
    return false;
}

bool MORV_SHIFT_REG_MANAGER::check_ram_ports(const NODE_SET& set) const
{
    for (CDB_ATOM_NODE* node : set) {
        if (!node->is_ram()) continue;
        if (!check_one_ram(node)) return false;
        CDB_ATOM_ITERM* clear = node->get_input_term_by_type(DB_RAM_CLR0);
        if (clear == nullptr) clear = node->get_input_term_by_type(DB_RAM_CLR1);
        if (clear == nullptr || clear->get_source() == nullptr) continue;
        if (!fans_out_only_to_working_set(clear->get_source()->get_my_node(), set)) {
            MORV_DEBUG_STREAM::print(100, "clear outputs to non-working set nodes");
            return false;
        }
    }
    return true;
}

// Every rule is tested, so that the trace names every reason at once.
bool MORV_SHIFT_REG_MANAGER::check_one_ram(CDB_ATOM_NODE* ram) const
{
    bool ok = true;
    auto rule = [&ok](bool holds, const char* text) {
        if (holds) return;
        MORV_DEBUG_STREAM::print(100, "%s", text);
        ok = false;
    };
    const CDB_ATOM_ITERM* a_we = ram->get_input_term_by_type(DB_RAM_PORTA_WE);
    const CDB_ATOM_ITERM* b_re = ram->get_input_term_by_type(DB_RAM_PORTB_RE);
    rule(a_we != nullptr && is_logical_vcc(a_we), "port_a_we must be true!");
    rule(b_re != nullptr && is_logical_vcc(b_re), "port_b_re must be true!");
    rule(!is_enabled(ram->get_input_term_by_type(DB_RAM_PORTA_RE)), "port_a_re must be false!");
    rule(!is_enabled(ram->get_input_term_by_type(DB_RAM_PORTB_WE)), "port_b_we must be false!");
    constexpr int none = DB_MAX_INPUT_PORT_TYPE;
    rule(port_clock(ram, DB_RAM_PORTB_DATAOUT) != none, "port b is not clocked and needs to be");
    rule(port_clock(ram, DB_RAM_PORTB_ADDRESS) != none, "port b address is not clocked and needs to be");
    rule(port_clear(ram, DB_RAM_PORTB_ADDRESS) == none, "port b address is cleared and shouldn't be");
    rule(port_clear(ram, DB_RAM_PORTA_ADDRESS) == none, "port a address is clear and shouldn't be");
    rule(port_clock(ram, DB_RAM_PORTA_DATAOUT) == none, "port a address is clocked and shouldn't be");
    rule(port_clear(ram, DB_RAM_PORTA_DATAOUT) == none, "port a address is clear and shouldn't be");
    rule(addresses_driven(ram), "address bits must all come from the counter");
    return ok;
}

bool MORV_SHIFT_REG_MANAGER::fans_out_only_to_working_set(CDB_ATOM_NODE* node, const NODE_SET& set) const
{
    for (auto out = node->begin_oterm(); out != node->end_oterm(); ++out)
        for (auto it = (*out)->begin_iterm_fanout(); it != (*out)->end_iterm_fanout(); ++it)
            if (set.count((*it)->get_my_node()) == 0) return false;
    if (!node->is_lcell_comb()) return true;
    for (auto it = node->begin_iterm(); it != node->end_iterm(); ++it)
        if ((*it)->get_source() != nullptr && !fans_out_only_to_working_set((*it)->get_source()->get_my_node(), set))
            return false;
    return true;
}

bool MORV_SHIFT_REG_MANAGER::check_addresses(const NODE_SET& set, MORV_SHIFT_REG_SIMULATION& simulation) const
{
    const int last = simulation.get_last_state();
    const int equiv = simulation.get_equiv_state();
    MORV_DEBUG_STREAM::print(100, "last_state = %d, equiv_state = %d", last, equiv);
    bool ok = true;
    if (equiv != 0 && last != 2 * equiv + 1) {
        MORV_DEBUG_STREAM::print(100, "Clear behaviour is not correct.");
        ok = false;
    }
    if (equiv != 0 && !check_clear_phase(set, simulation)) ok = false;
    const std::vector<unsigned>& writes = simulation.get_write_addresses();
    for (int k = 1; k < equiv; ++k) {
        if (writes[static_cast<size_t>(k)] - static_cast<unsigned>(k) == writes[0]) continue;
        MORV_DEBUG_STREAM::print(100, "wr_add <-> offset + k");
        MORV_DEBUG_STREAM::print(100, "at %d, wr_add = %d, expect %d\n", k, static_cast<int>(writes[size_t(k)]),
                                 static_cast<int>(writes[0]) + k);
        ok = false;
    }
    bool found = false;
    for (int offset : {2, 0}) {
        simulation.set_offset(offset);
        if ((found = check_offset(simulation, offset))) break;
    }
    if (!found) return false;
    if (ok) MORV_DEBUG_STREAM::print(100, "offset=%d is ok", simulation.get_offset());
    return ok;
}

// The read address at a state of the cycle is the write address `offset`
// states later, wrapping inside the cycle.
bool MORV_SHIFT_REG_MANAGER::check_offset(const MORV_SHIFT_REG_SIMULATION& simulation, int offset) const
{
    const int last = simulation.get_last_state();
    const int equiv = simulation.get_equiv_state();
    const int length = last - equiv;
    const std::vector<unsigned>& writes = simulation.get_write_addresses();
    const std::vector<unsigned>& reads = simulation.get_read_addresses();
    bool ok = true;
    for (int i = equiv; i < last; ++i) {
        int j = i + offset;
        if (j >= last) j = equiv + (j - equiv) % length;
        if (writes[static_cast<size_t>(j)] == reads[static_cast<size_t>(i)]) continue;
        if (ok) MORV_DEBUG_STREAM::print(100, "wr_add <-> re_add condition does not hold for offset=%d", offset);
        MORV_DEBUG_STREAM::print(100, "address=%d, wr_add=%x, address=%d, re_add=%x", j, writes[size_t(j)], i,
                                 reads[size_t(i)]);
        ok = false;
    }
    return ok;
}

// During the clear phase port B's output clear holds (1), through the
// cycle it is off.
bool MORV_SHIFT_REG_MANAGER::check_clear_phase(const NODE_SET& set, MORV_SHIFT_REG_SIMULATION& sim) const
{
    const MORV_SHIFT_REG_SIMULATION& simulation = sim;
    const int last = simulation.get_last_state();
    const int equiv = simulation.get_equiv_state();
    for (CDB_ATOM_NODE* ram : set) {
        if (!ram->is_ram()) continue;
        const int clear = port_clear(ram, DB_RAM_PORTB_DATAOUT);
        if (clear == DB_MAX_INPUT_PORT_TYPE) continue;
        CDB_ATOM_ITERM* iterm = ram->get_input_term_by_type(clear);
        auto value = [&](int state) {
            return iterm != nullptr ? sim.get_input_value(iterm, state) : ram->floats_high(clear);
        };
        for (int s = 0; s < equiv; ++s) {
            if (value(s)) continue;
            MORV_DEBUG_STREAM::print(100, "Clear bit is zero at state %d for node %d", s,
                                     static_cast<int>(ram->get_id()));
            return false;
        }
        for (int s = equiv; s < last; ++s) {
            if (!value(s)) continue;
            MORV_DEBUG_STREAM::print(100, "Clear bit is non-zero at state %d for node %d", s,
                                     static_cast<int>(ram->get_id()));
            return false;
        }
    }
    return true;
}
