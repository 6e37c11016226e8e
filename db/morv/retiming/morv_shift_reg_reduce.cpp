// Shortening a RAM-based shift register by one stage, with an ordinary
// register put on its input or output side so that the total delay stays.
// A short one (at most four stages) becomes a chain of registers; a longer
// one keeps its RAMs and gets a counter that wraps a state earlier.

#include <string>

#include "cdb/cdb_atom_netlist.h"
#include "cut/cut_block_util.h"

#include "morv/core/morv_api.h"
#include "morv/core/morv_assert.h"
#include "morv/core/morv_debug_stream.h"
#include "morv/core/morv_expert.h"
#include "morv/netlist/morv_cdb_interface.h"
#include "morv/netlist/morv_chip_map.h"
#include "morv/netlist/morv_net_util.h"
#include "morv/retiming/morv_shift_reg_internal.h"
#include "morv/retiming/morv_shift_reg_sim.h"

namespace {

// A AND B AND NOT C: the next address bit while counting, and its complement
// for a bit held inverted.
constexpr uint64_t k_next_state_mask = 0x1010101010101010ull;
constexpr uint64_t k_next_state_inverted_mask = 0xEFEFEFEFEFEFEFEFull;
// Incrementer cells: the first gives NOT D and carries D, a middle one
// gives D XOR carry-in and carries D AND carry-in, the last passes the carry.
constexpr uint64_t k_carry_first_mask = 0x00000000000000FFull;
constexpr uint64_t k_carry_middle_mask = 0x0000FFFF000000FFull;
constexpr uint64_t k_carry_last_mask = 0x0000FFFF00000000ull;
constexpr int k_data_ports[] = {DB_DATA_A, DB_DATA_B, DB_DATA_C, DB_DATA_D, DB_DATA_E, DB_DATA_F, DB_DATA_G};

// The 6-input mask, in reversed bit order, that is 0 exactly when its first
// m inputs read c and ignores the others.
uint64_t comparator_mask(int m, unsigned c)
{
    uint64_t mask = 0;
    const unsigned rows = 1u << m;
    for (unsigned k = 0; k < 64; ++k)
        if ((k % rows) != c) mask |= 1ull << (63 - k);
    return mask;
}

// A counter the design also reads elsewhere cannot be rebuilt: the reader
// would see the shorter count.
bool counter_is_read_outside(const std::set<CDB_ATOM_NODE*, DETERMINISTIC_LESS<CDB_ATOM_NODE*>>& set)
{
    for (CDB_ATOM_NODE* node : set) {
        if (node->is_ram()) continue;
        for (auto out = node->begin_oterm(); out != node->end_oterm(); ++out)
            for (auto it = (*out)->begin_iterm_fanout(); it != (*out)->end_iterm_fanout(); ++it)
                if (set.count((*it)->get_my_node()) == 0) return true;
    }
    return false;
}

std::vector<CDB_ATOM_NODE*> rams_of(const std::set<CDB_ATOM_NODE*, DETERMINISTIC_LESS<CDB_ATOM_NODE*>>& set)
{
    std::vector<CDB_ATOM_NODE*> rams;
    for (CDB_ATOM_NODE* node : set)
        if (node->is_ram()) rams.push_back(node);
    return rams;
}

// The port rules give every RAM of a shift register a clocked read address
// and a registered read output: a word reaches the read data two cycles
// after the state that reads its slot.
constexpr int k_read_registers = 2;

// Cycles from a word's write to the read data that returns it, the same at
// every state of the cycle, or 0 when they differ or a read slot is never
// written in the cycle. A read at the slot the same state writes returns
// that word on a RAM that reads new data and the one a cycle before on one
// that reads old data.
int read_delay(const MORV_SHIFT_REG_SIMULATION& simulation, bool old_data)
{
    const std::vector<unsigned>& write = simulation.get_write_addresses();
    const std::vector<unsigned>& read = simulation.get_read_addresses();
    const int first = simulation.get_equiv_state();
    const int length = simulation.get_length();
    int delay = 0;
    for (int i = first; i < first + length; ++i) {
        int lag = old_data ? 1 : 0;
        const int last_lag = lag + length - 1;
        for (; lag <= last_lag; ++lag) {
            const int j = first + ((i - first - lag) % length + length) % length;
            if (write[size_t(j)] == read[size_t(i)]) break;
        }
        if (lag > last_lag || (delay != 0 && delay != lag + k_read_registers)) return 0;
        delay = lag + k_read_registers;
    }
    return delay;
}

// The delay of every RAM of the set, or 0 when they differ.
int group_read_delay(const std::set<CDB_ATOM_NODE*, DETERMINISTIC_LESS<CDB_ATOM_NODE*>>& set,
                     const MORV_SHIFT_REG_SIMULATION& simulation)
{
    int delay = -1;
    for (CDB_ATOM_NODE* ram : rams_of(set)) {
        const int own = read_delay(simulation, CUT_RAM_UTIL::ram_mode_is(ram, 1, CDB_RAM_FLAG_READ_OLD_DATA));
        if (delay >= 0 && own != delay) return 0;
        delay = own;
    }
    return delay < 0 ? 0 : delay;
}

// A clear phase whose addresses already run through the cycle (a counter
// free from power-up, with the clear timed apart): the RAM then returns
// what was written a length before from the first state on, and zeros
// before that, as a chain of registers does.
bool phase_walks_the_cycle(const MORV_SHIFT_REG_SIMULATION& simulation)
{
    const std::vector<unsigned>& write = simulation.get_write_addresses();
    const std::vector<unsigned>& read = simulation.get_read_addresses();
    const size_t length = static_cast<size_t>(simulation.get_length());
    for (size_t k = 0; k < static_cast<size_t>(simulation.get_equiv_state()); ++k) {
        if (k + length >= write.size() || k + length >= read.size()) return false;
        if (write[k] != write[k + length] || read[k] != read[k + length]) return false;
    }
    return true;
}

}  // namespace

bool MORV_SHIFT_REG_MANAGER::reduce_shift_register(CDB_ATOM_NODE* node, bool on_output)
{
    MORV_ASSERT_TEXT(node != nullptr && node->is_ram(), "node->is_ram()");
    MORV_ASSERT_TEXT(m_initialized, "m_initialized");
    if (m_scripted_reduction) {
        m_nodes_to_remove.insert(m_nodes_to_remove.end(), m_scripted_unused.begin(), m_scripted_unused.end());
        return true;
    }
    MORV_ASSERT_TEXT(is_node_shift_register(node) >= 1, "is_node_shift_register(node)");
    const int id = find_node_group(node);
    if (m_valid_sr_ids.count(id) == 0) return false;
    NODE_SET set = working_set(id);
    MORV_SHIFT_REG_SIMULATION simulation(m_net_util);
    SIGNALS signals;
    const int length = evaluate(set, simulation, signals);
    MORV_DEBUG_STREAM::print(100, "shift register length = %d", length);
    MORV_ASSERT_TEXT(length, "length");
    if (length >= 5 && counter_is_read_outside(set)) {
        MORV_DEBUG_STREAM::print(100, "counter outputs to non-working set nodes, not reduced");
        return false;
    }
    // The design reduces a group whatever its read delay; here registers
    // and a shorter counter both keep the delay the counter's length gives,
    // so a RAM whose read at the slot being written does not return the old
    // word, or whose slots are not written once a cycle, is left alone.
    const int delay = group_read_delay(set, simulation);
    if (delay != length + k_read_registers - simulation.get_offset()) {
        MORV_DEBUG_STREAM::print(100, "offset=%d, read delay %d, not reduced", simulation.get_offset(), delay);
        return false;
    }
    // Registers in place of the RAM would hand on what was written during
    // a clear phase whose addresses the cycle never reads back.
    if (length < 5 && !phase_walks_the_cycle(simulation)) {
        MORV_DEBUG_STREAM::print(100, "clear phase before the cycle, not converted");
        return false;
    }
    if (length >= 5 && !can_rebuild(set)) {
        MORV_DEBUG_STREAM::print(100, "counter not in a form the reduction rebuilds, not reduced");
        return false;
    }
    const int y = rebuild_one_stage_shorter(set, simulation, signals, on_output);
    MORV_DEBUG_STREAM::print(100, "shift register reduction to %d", id);
    if (y == 0) return true;
    MORV_SHIFT_REG_SIMULATION new_simulation(m_net_util);
    SIGNALS new_signals;
    const int new_length = evaluate(set, new_simulation, new_signals);
    MORV_DEBUG_STREAM::print(100, "new shift register length = %d", new_length);
    if (new_length != y) m_api->dump_atom_netlist(".broken");
    MORV_ASSERT_TEXT(new_length == y, "length == y");
    MORV_ASSERT_TEXT(simulation.get_offset() == new_simulation.get_offset(),
                     "simulation.get_offset() == new_simulation.get_offset()");
    return true;
}

int MORV_SHIFT_REG_MANAGER::rebuild_one_stage_shorter(NODE_SET& set, const MORV_SHIFT_REG_SIMULATION& simulation,
                                                      const SIGNALS& signals, bool on_output)
{
    const int length = simulation.get_length();
    const int offset_count = simulation.get_offset();
    MORV_ASSERT_TEXT(offset_count == 2 || offset_count == 0, "offset_count == 2 || offset_count == 0");
    const int target = length - 2;
    MORV_DEBUG_STREAM::print(100, "\n\ntarget_state = %d", target);
    if (target < 3) {
        MORV_DEBUG_STREAM::print(100, "converting fully to shift register");
        // The design makes as many registers as the counter's length; here
        // the RAM's delay: the length, and two more where the read is at
        // the slot being written and returns the old word.
        convert_fully(set, length + k_read_registers - offset_count, signals);
        return 0;
    }
    bool ok = rebuild_counter(set, target, offset_count);
    ok = toggle_clear_counter(set, length) && ok;
    CDB_ATOM_NODE* loc_node = nullptr;
    for (CDB_ATOM_NODE* member : set)
        if (loc_node == nullptr && m_net_util->is_ff(member)) loc_node = member;
    MORV_ASSERT_TEXT(loc_node, "loc_node");
    add_new_stage(set, loc_node, signals, on_output);
    MORV_DEBUG_STREAM::print(100, "reduction: %sok\n\n", ok ? "" : "not ");
    MORV_ASSERT_TEXT(ok, "ok");
    reduce_working_set(set);
    return length - 1;
}

// Each RAM bit becomes a chain of `length` registers (the RAM's delay) from
// the RAM's data source to the consumers of its read data; the RAM is left
// without readers.
void MORV_SHIFT_REG_MANAGER::convert_fully(const NODE_SET& set, int length, const SIGNALS& signals)
{
    for (CDB_ATOM_NODE* ram : rams_of(set))
        for (int bit = 0;; ++bit) {
            CDB_ATOM_ITERM* d = ram->get_input_term_by_type(DB_RAM_PORTA_DATAIN, bit);
            CDB_ATOM_OTERM* q = ram->get_output_term_by_type(DB_RAM_PORTB_DATAOUT, bit);
            if (d == nullptr && q == nullptr) break;
            if (q == nullptr) continue;
            CDB_ATOM_NODE* reg = create_shred_register(ram, signals);
            CDB_ATOM_OTERM* out = reg->get_output_term_by_type(DB_REG_OUT);
            m_net_util->adopt_fanouts(out, q);
            CDB_ATOM_ITERM* data = reg->get_input_term_by_type(DB_DATAIN);
            if (d != nullptr && d->get_source() != nullptr) {
                connect(d->get_source(), data);
                if (d->is_inverted())
                    m_fsyn_cdb_interface->set_iterm_properties(data, true, 0, false, false, -1, false);
            } else if (d != nullptr) {
                copy_tie(d, data);
            }
            for (int k = 1; k < length; ++k) {
                CDB_ATOM_NODE* next = create_shred_register(ram, signals);
                CDB_ATOM_OTERM* next_out = next->get_output_term_by_type(DB_REG_OUT);
                m_net_util->adopt_fanouts(next_out, out);
                connect(out, next->get_input_term_by_type(DB_DATAIN));
                out = next_out;
            }
        }
}

bool MORV_SHIFT_REG_MANAGER::collect_address_registers(const NODE_SET& set, std::vector<CDB_ATOM_NODE*>& address)
{
    const std::vector<CDB_ATOM_NODE*> rams = rams_of(set);
    MORV_ASSERT_TEXT(!rams.empty(), "ram");
    for (int i = 0;; ++i) {
        CDB_ATOM_ITERM* bit = rams.front()->get_input_term_by_type(DB_RAM_PORTA_ADDRESS, i);
        if (bit == nullptr) break;
        if (bit->get_source() == nullptr) continue;
        CDB_ATOM_NODE* driver = bit->get_source()->get_my_node();
        if (!m_net_util->is_ff(driver)) {
            MORV_DEBUG_STREAM::print(100, "bad, write address %d is not driven by a register", i);
            return false;
        }
        if (static_cast<int>(address.size()) <= i) address.resize(static_cast<size_t>(i) + 1, nullptr);
        address[static_cast<size_t>(i)] = driver;
    }
    return !address.empty();
}

// Looked at before any edit, so that a counter of another form is left
// whole instead of half rebuilt.
bool MORV_SHIFT_REG_MANAGER::can_rebuild(const NODE_SET& set)
{
    std::vector<CDB_ATOM_NODE*> address, clear_regs;
    if (!collect_address_registers(set, address)) return false;
    for (CDB_ATOM_NODE* reg : address)
        if (reg == nullptr) return false;
    return collect_clear_counter(set, clear_regs);
}

bool MORV_SHIFT_REG_MANAGER::rebuild_counter(NODE_SET& set, int target, int offset)
{
    std::vector<CDB_ATOM_NODE*> address;
    if (!collect_address_registers(set, address)) return false;
    for (CDB_ATOM_NODE* reg : address)
        if (reg == nullptr) return false;  // a constant bit: refused at evaluation already
    CDB_ATOM_OTERM* compare = build_comparator(set, address, target);
    const std::vector<CDB_ATOM_NODE*> chain = build_carry_chain(set, address);
    build_next_state(set, address, compare, chain, offset);
    std::vector<CDB_ATOM_OTERM*> read_sources, write_sources;
    for (size_t k = 0; k < address.size(); ++k) {
        CDB_ATOM_OTERM* the_oterm = address[k]->get_output_term_by_type(DB_REG_OUT);
        MORV_ASSERT_TEXT(the_oterm, "the_oterm");
        if (k == 1 && offset == 2) the_oterm = insert_inverter_after(&set, the_oterm);
        read_sources.push_back(the_oterm);
        write_sources.push_back(offset == 2 ? build_write_source(set, address[k], the_oterm, k == 0) : the_oterm);
    }
    rewire_addresses(set, write_sources, read_sources);
    return true;
}

// Output 1 exactly when the address registers do not hold `target`: up to
// five bits in the first cell, four more in each later one, which also
// reads the previous cell.
CDB_ATOM_OTERM* MORV_SHIFT_REG_MANAGER::build_comparator(NODE_SET& set, const std::vector<CDB_ATOM_NODE*>& address,
                                                         int target)
{
    const int n = static_cast<int>(address.size());
    CDB_ATOM_OTERM* previous = nullptr;
    for (int i = 0; i < n;) {
        CDB_ATOM_NODE* cell = create_shred_lcell(address[0]);
        set.insert(cell);
        int port = 0;
        if (previous != nullptr) connect(previous, new_iterm(cell, k_data_ports[port++]));
        const int m = std::min(n - i, previous == nullptr ? 5 : 4);
        for (int b = 0; b < m; ++b)
            connect(address[size_t(i + b)]->get_output_term_by_type(DB_REG_OUT), new_iterm(cell, k_data_ports[port++]));
        const unsigned bits = static_cast<unsigned>(target >> i);
        const unsigned c = previous == nullptr ? bits % (1u << m) : (bits * 2u) % (1u << (m + 1));
        set_mask(cell, CDB_LUTMASK(6, comparator_mask(port, c)));
        previous = cell->get_output_term_by_type(DB_COMB_OUT);
        MORV_ASSERT_TEXT(previous, "combout");
        i += m;
    }
    return previous;
}

// n + 1 incrementer cells: cell k's sum-out is bit k of the address plus
// one, the last cell's is 1 when every address bit is 1.
std::vector<CDB_ATOM_NODE*> MORV_SHIFT_REG_MANAGER::build_carry_chain(NODE_SET& set,
                                                                      const std::vector<CDB_ATOM_NODE*>& address)
{
    const size_t n = address.size();
    std::vector<CDB_ATOM_NODE*> chain;
    for (size_t j = 0; j <= n; ++j) {
        CDB_ATOM_NODE* cell = create_shred_lcell(address[0]);
        set.insert(cell);
        CDB_ATOM_ITERM* carry_in = new_iterm(cell, DB_CARRY_IN);
        MORV_ASSERT_TEXT(cell->get_output_term_by_type(DB_SUM_OUT), "sumout");
        MORV_ASSERT_TEXT(cell->get_output_term_by_type(DB_CARRY_OUT), "carryout");
        if (j < n) {
            CDB_ATOM_OTERM* previous_reg_out = address[j]->get_output_term_by_type(DB_REG_OUT);
            MORV_ASSERT_TEXT(previous_reg_out, "previous_reg_out");
            connect(previous_reg_out, new_iterm(cell, DB_DATA_D));
        }
        if (j > 0) {
            CDB_ATOM_OTERM* previous_carry_out = chain.back()->get_output_term_by_type(DB_CARRY_OUT);
            MORV_ASSERT_TEXT(previous_carry_out, "previous_carry_out");
            connect(previous_carry_out, carry_in);
        }
        const uint64_t mask = j == 0 ? k_carry_first_mask : j < n ? k_carry_middle_mask : k_carry_last_mask;
        set_mask(cell, CDB_LUTMASK(6, mask));
        chain.push_back(cell);
    }
    return chain;
}

// The next address is address + 1 while the address differs from the
// target and is not all ones, else 0: the counter wraps a state earlier.
void MORV_SHIFT_REG_MANAGER::build_next_state(NODE_SET& set, const std::vector<CDB_ATOM_NODE*>& address,
                                              CDB_ATOM_OTERM* compare, const std::vector<CDB_ATOM_NODE*>& chain,
                                              int offset)
{
    MORV_ASSERT_TEXT(compare, "prev_out");
    CDB_ATOM_OTERM* end_chain_out = chain.back()->get_output_term_by_type(DB_SUM_OUT);
    MORV_ASSERT_TEXT(end_chain_out, "end_chain_out");
    for (size_t k = 0; k < address.size(); ++k) {
        CDB_ATOM_NODE* cell = create_shred_lcell(address[0]);
        set.insert(cell);
        CDB_ATOM_OTERM* chain_out = chain[k]->get_output_term_by_type(DB_SUM_OUT);
        MORV_ASSERT_TEXT(chain_out, "chain_out");
        connect(chain_out, new_iterm(cell, DB_DATA_A));
        connect(compare, new_iterm(cell, DB_DATA_B));
        connect(end_chain_out, new_iterm(cell, DB_DATA_C));
        // With offset 2 register 1 holds its bit inverted, so that the
        // all-zero power-up state stands for address 2.
        const bool inverted = k == 1 && offset == 2;
        set_mask(cell, CDB_LUTMASK(6, inverted ? k_next_state_inverted_mask : k_next_state_mask));
        CDB_ATOM_ITERM* datain = address[k]->get_input_term_by_type(DB_DATAIN);
        MORV_ASSERT_TEXT(datain, "datain");
        disconnect(datain);
        connect(cell->get_output_term_by_type(DB_COMB_OUT), datain);
    }
}

// With offset 2 the write address trails the read address by two cycles:
// two copies of the address register in a row.
CDB_ATOM_OTERM* MORV_SHIFT_REG_MANAGER::build_write_source(NODE_SET& set, CDB_ATOM_NODE* address_reg,
                                                           CDB_ATOM_OTERM* read_source, bool bit0)
{
    CDB_ATOM_OTERM* previous = read_source;
    for (int copy = 0; copy < 2; ++copy) {
        CDB_ATOM_NODE* first_reg_node = duplicate_register(address_reg);
        MORV_ASSERT_TEXT(first_reg_node, "first_reg_node");
        set.insert(first_reg_node);
        for (int control : {DB_SYNCH_LOAD, DB_SYNCH_CLEAR}) {
            CDB_ATOM_ITERM* iterm = first_reg_node->get_input_term_by_type(control);
            if (iterm != nullptr && iterm->is_connected()) disconnect(iterm);
        }
        CDB_ATOM_OTERM* first_regout = first_reg_node->get_output_term_by_type(DB_REG_OUT);
        MORV_ASSERT_TEXT(first_regout, "first_regout");
        CDB_ATOM_ITERM* first_datain = first_reg_node->get_input_term_by_type(DB_DATAIN);
        MORV_ASSERT_TEXT(first_datain, "first_datain");
        if (first_datain->is_connected()) disconnect(first_datain);
        connect(previous, first_datain);
        previous = first_regout;
        if (bit0 && copy == 0) {
            insert_inverter_before(&set, first_datain);
            previous = insert_inverter_after(&set, first_regout);
        }
    }
    return previous;
}

void MORV_SHIFT_REG_MANAGER::rewire_addresses(const NODE_SET& set, const std::vector<CDB_ATOM_OTERM*>& write_sources,
                                              const std::vector<CDB_ATOM_OTERM*>& read_sources)
{
    for (CDB_ATOM_NODE* ram : rams_of(set))
        for (auto it = ram->begin_iterm(); it != ram->end_iterm(); ++it) {
            CDB_ATOM_ITERM* iterm = *it;
            const bool write = iterm->is_used_as(DB_RAM_PORTA_ADDRESS);
            if (!write && !iterm->is_used_as(DB_RAM_PORTB_ADDRESS)) continue;
            const std::vector<CDB_ATOM_OTERM*>& sources = write ? write_sources : read_sources;
            const size_t index = static_cast<size_t>(iterm->get_port_index());
            if (index >= sources.size()) continue;
            if (iterm->is_connected()) disconnect(iterm);
            connect(sources[index], iterm);
        }
}

// The counter that times the RAM clear runs to L - 2 where it ran to L - 3
// before: the registers of the bits where the two differ start from the
// opposite value.
bool MORV_SHIFT_REG_MANAGER::toggle_clear_counter(NODE_SET& set, int length)
{
    std::vector<CDB_ATOM_NODE*> clear_regs;
    if (!collect_clear_counter(set, clear_regs)) return false;
    const unsigned toggles = static_cast<unsigned>(length - 2) ^ static_cast<unsigned>(length - 3);
    const int len = static_cast<int>(clear_regs.size());
    for (int i = 0; i < len && i < 32; ++i) {
        if (((toggles >> i) & 1u) == 0) continue;
        CDB_ATOM_NODE* reg = clear_regs[size_t(len - 1 - i)];
        MORV_DEBUG_STREAM::print(100, "toggling clear[%d] = %d", len - 1 - i, static_cast<int>(reg->get_id()));
        CDB_ATOM_ITERM* datain = reg->get_input_term_by_type(DB_DATAIN);
        MORV_ASSERT_TEXT(datain && datain->get_source(), "data && data->get_source()");
        insert_inverter_before(&set, datain);
        insert_inverter_after(&set, reg->get_output_term_by_type(DB_REG_OUT));
    }
    return true;
}

// From the register that drives the first RAM's clear back along the clear
// counter's carry chain; the list runs from the chain's end to its start.
bool MORV_SHIFT_REG_MANAGER::collect_clear_counter(const NODE_SET& set, std::vector<CDB_ATOM_NODE*>& clear_regs)
{
    const std::vector<CDB_ATOM_NODE*> rams = rams_of(set);
    CDB_ATOM_ITERM* clear = rams.front()->get_input_term_by_type(DB_RAM_CLR0);
    if (clear == nullptr) clear = rams.front()->get_input_term_by_type(DB_RAM_CLR1);
    if (clear == nullptr || clear->get_source() == nullptr) return true;
    CDB_ATOM_NODE* reg = clear->get_source()->get_my_node();
    if (!m_net_util->is_ff(reg)) {
        MORV_DEBUG_STREAM::print(100, "bad, the RAM clear is not driven by a register");
        return false;
    }
    CDB_ATOM_ITERM* data = reg->get_input_term_by_type(DB_DATAIN);
    MORV_ASSERT_TEXT(data && data->get_source(), "data && data->get_source()");
    CDB_ATOM_NODE* current = data->get_source()->get_my_node();
    while (current != nullptr) {
        CDB_ATOM_ITERM* carry_in = current->get_input_term_by_type(DB_CARRY_IN);
        if (carry_in == nullptr) {
            CDB_ATOM_ITERM* current_iterm = current->is_lcell_comb() ? get_single_data_input(current) : nullptr;
            if (current_iterm == nullptr) {
                MORV_DEBUG_STREAM::print(100, "bad, not a single input node when getting clear");
                return false;
            }
            MORV_ASSERT_TEXT(current_iterm->get_source(), "current_iterm->get_source()");
            current = current_iterm->get_source()->get_my_node();
            continue;
        }
        if (current->get_input_term_by_type(DB_DATA_D) != nullptr) {
            CDB_ATOM_NODE* found = register_behind(current);
            if (found == nullptr) {
                MORV_DEBUG_STREAM::print(100, "bad, non reg, non single when getting clear");
                return false;
            }
            clear_regs.push_back(found);
        }
        current = carry_in->get_source() != nullptr ? carry_in->get_source()->get_my_node() : nullptr;
    }
    return true;
}

// The register behind a carry cell's data input D, through single-input cells.
CDB_ATOM_NODE* MORV_SHIFT_REG_MANAGER::register_behind(CDB_ATOM_NODE* node)
{
    CDB_ATOM_ITERM* datad = node->get_input_term_by_type(DB_DATA_D);
    MORV_ASSERT_TEXT(datad->get_source(), "datad->get_source()");
    CDB_ATOM_NODE* current = datad->get_source()->get_my_node();
    while (!m_net_util->is_ff(current)) {
        CDB_ATOM_ITERM* reg_iterm = current->is_lcell_comb() ? get_single_data_input(current) : nullptr;
        if (reg_iterm == nullptr) return nullptr;
        MORV_ASSERT_TEXT(reg_iterm->get_source(), "reg_iterm->get_source()");
        current = reg_iterm->get_source()->get_my_node();
    }
    return current;
}

// The stage taken out of the RAMs goes back as a register on one side: on
// the write data (input side) or on the read data (output side).
void MORV_SHIFT_REG_MANAGER::add_new_stage(const NODE_SET& set, CDB_ATOM_NODE* loc_node, const SIGNALS& signals,
                                           bool on_output)
{
    for (CDB_ATOM_NODE* ram : rams_of(set)) {
        std::vector<CDB_ATOM_ITERM*> inputs;
        std::vector<CDB_ATOM_OTERM*> outputs;
        for (auto it = ram->begin_iterm(); it != ram->end_iterm(); ++it)
            if ((*it)->is_used_as(DB_RAM_PORTA_DATAIN)) inputs.push_back(*it);
        for (auto it = ram->begin_oterm(); it != ram->end_oterm(); ++it)
            if ((*it)->is_used_as(DB_RAM_PORTB_DATAOUT)) outputs.push_back(*it);
        if (!on_output) {
            for (CDB_ATOM_ITERM* input : inputs) {
                CDB_ATOM_NODE* reg = create_shred_register(loc_node, signals);
                CDB_ATOM_ITERM* data = reg->get_input_term_by_type(DB_DATAIN);
                const bool inverted = input->is_inverted();
                if (input->get_source() != nullptr) {
                    connect(input->get_source(), data);
                    if (inverted) m_fsyn_cdb_interface->set_iterm_properties(data, true, 0, false, false, -1, false);
                    disconnect(input);
                    m_net_util->clear_invert(input);
                } else {
                    // A tied bit keeps its value: the register holds it.
                    copy_tie(input, data);
                    disconnect(input);
                    m_net_util->clear_invert(input);
                }
                connect(reg->get_output_term_by_type(DB_REG_OUT), input);
            }
            continue;
        }
        for (CDB_ATOM_OTERM* output : outputs) {
            CDB_ATOM_NODE* reg = create_shred_register(loc_node, signals);
            m_net_util->adopt_fanouts(reg->get_output_term_by_type(DB_REG_OUT), output);
            connect(output, reg->get_input_term_by_type(DB_DATAIN));
        }
    }
}

bool MORV_SHIFT_REG_MANAGER::reduce_working_set(NODE_SET& set)
{
    MORV_DEBUG_STREAM::print(100, "working set is originally size %d", static_cast<int>(set.size()));
    int id = -1;
    for (CDB_ATOM_NODE* node : set) {
        auto entry = m_node_sr_id.find(node->get_id());
        if (id < 0 && entry != m_node_sr_id.end()) id = find_group(entry->second);
    }
    for (CDB_ATOM_NODE* node : set) m_node_sr_id.erase(node->get_id());
    NODE_SET new_set;
    for (CDB_ATOM_NODE* ram : rams_of(set)) {
        m_node_sr_id[ram->get_id()] = id;
        new_set.insert(ram);
        for (auto it = ram->begin_iterm(); it != ram->end_iterm(); ++it) {
            CDB_ATOM_ITERM* iterm = *it;
            const bool counter = iterm->is_used_as(DB_RAM_PORTA_ADDRESS) || iterm->is_used_as(DB_RAM_PORTB_ADDRESS) ||
                                 iterm->is_used_as(DB_RAM_CLR0) || iterm->is_used_as(DB_RAM_CLR1);
            if (!counter || iterm->get_source() == nullptr) continue;
            const bool ok = create_support_set(new_set, iterm->get_source()->get_my_node(), id);
            MORV_ASSERT_TEXT(ok, "create_support_set(new_set, iterm->get_source()->get_my_node(), id)");
        }
    }
    queue_unused(set, new_set);
    set.swap(new_set);
    MORV_DEBUG_STREAM::print(100, "working set reduced to size %d", static_cast<int>(set.size()));
    return true;
}

// The old counter logic no RAM reads any more goes, except what still
// feeds logic outside it: a counter bit the design also uses elsewhere
// stays, and so does everything it reads.
void MORV_SHIFT_REG_MANAGER::queue_unused(const NODE_SET& old_set, const NODE_SET& new_set)
{
    NODE_SET unused;
    for (CDB_ATOM_NODE* node : old_set)
        if (new_set.count(node) == 0) unused.insert(node);
    std::vector<CDB_ATOM_NODE*> kept;
    for (CDB_ATOM_NODE* node : unused) {
        bool outside = false;
        for (auto out = node->begin_oterm(); out != node->end_oterm() && !outside; ++out)
            for (auto it = (*out)->begin_iterm_fanout(); it != (*out)->end_iterm_fanout() && !outside; ++it)
                outside = unused.count((*it)->get_my_node()) == 0;
        if (outside) kept.push_back(node);
    }
    for (CDB_ATOM_NODE* node : kept) unused.erase(node);
    while (!kept.empty()) {
        CDB_ATOM_NODE* node = kept.back();
        kept.pop_back();
        for (auto it = node->begin_iterm(); it != node->end_iterm(); ++it) {
            CDB_ATOM_NODE* driver = (*it)->get_source() != nullptr ? (*it)->get_source()->get_my_node() : nullptr;
            if (driver == nullptr || unused.erase(driver) == 0) continue;
            kept.push_back(driver);
        }
    }
    for (CDB_ATOM_NODE* node : unused) m_nodes_to_remove.push_back(node->get_id());
}
