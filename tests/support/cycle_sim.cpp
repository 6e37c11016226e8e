#include "cycle_sim.h"

#include <algorithm>
#include <random>
#include <stdexcept>

#include "cdb/cdb_atom_netlist.h"
#include "io/blif_reader.h"

namespace {

const int k_register_ports[] = {DB_DATAIN,     DB_CLOCK_ENABLE, DB_SYNCH_CLEAR, DB_SYNCH_LOAD,
                                DB_SYNCH_DATA, DB_CLEAR,        DB_ASYNCH_LOAD, DB_ASYNCH_DATA};

std::string name_of(const CDB_ATOM_NODE* node)
{
    return node->get_instance_name() ? node->get_instance_name()->get_short_hpath()
                                     : "atom " + std::to_string(node->get_id());
}

constexpr uint8_t BLOCK_UNKNOWN = 2;
constexpr uint8_t BLOCK_BUSY = 3;

bool drives_only_clocks(const CDB_ATOM_OTERM* o)
{
    bool any = false;
    for (auto it = o->begin_iterm_fanout(); it != o->end_iterm_fanout(); ++it) {
        const CDB_ATOM_ITERM* t = *it;
        if (!t->is_used_as(DB_CLOCK) && !t->is_used_as(DB_RAM_CLK0) && !t->is_used_as(DB_RAM_CLK1)) return false;
        any = true;
    }
    return any;
}

// As the writer reads a clock: a driven net, else never clocked.
bool clocked(const CDB_ATOM_ITERM* clock)
{
    return clock != nullptr && clock->is_connected() && clock->is_driven();
}

bool holds_register(const CDB_ATOM_NODE* node)
{
    return node->is_register() || (node->is_lcell() && node->get_output_term_by_type(DB_REG_OUT) != nullptr);
}

}  // namespace

CYCLE_SIM::CYCLE_SIM(const CDB_ATOM_NETLIST& netlist)
{
    std::vector<const CDB_ATOM_NODE*> input_pins;
    std::vector<const CDB_ATOM_ITERM*> output_terms;
    for (CDB_ATOM_NODE* node : netlist) {
        if (node->is_ram() || node->is_mac_mult() || node->is_mac_out()) {
            BLOCK block;
            block.m_function = cut_block_function(node);
            block.m_state.assign(block.m_function.registers.size(), 0);
            block.m_value.assign(block.m_function.gates.size(), BLOCK_UNKNOWN);
            m_blocks.push_back(std::move(block));
        }
        if (holds_register(node)) m_registers.push_back(REGISTER{node, 0});
        if (!node->is_pin()) continue;
        if (CDB_ATOM_OTERM* o = node->get_output_term_by_type(DB_DATA_OUT); o && !drives_only_clocks(o)) {
            input_pins.push_back(node);
            m_input_names.push_back(name_of(node));
        }
        if (CDB_ATOM_ITERM* in = node->get_input_term_by_type(DB_DATAIN)) {
            output_terms.push_back(in);
            m_output_names.push_back(blif_output_port_name(name_of(node)));
        }
    }
    m_input_value.assign(input_pins.size(), 0);
    m_state.assign(m_registers.size(), 0);
    add_slots(netlist);

    std::unordered_map<const CDB_ATOM_NODE*, int> register_index, input_index;
    for (size_t i = 0; i < m_registers.size(); ++i) register_index[m_registers[i].node] = static_cast<int>(i);
    for (size_t i = 0; i < input_pins.size(); ++i) input_index[input_pins[i]] = static_cast<int>(i);
    for (BLOCK& b : m_blocks)
        for (const CUT_GATE& g : b.m_function.gates)
            b.m_reads.push_back(g.op == CUT_GATE_INPUT ? resolve(g.term, g.value) : READ{});
    for (size_t b = 0; b < m_blocks.size(); ++b)
        for (const CUT_BLOCK_OUTPUT& o : m_blocks[b].m_function.outputs) {
            SLOT& slot = m_slots[static_cast<size_t>(slot_of(o.term))];
            slot.kind = KIND::BLOCK;
            slot.index = static_cast<int>(b);
            slot.gate = o.gate;
        }
    for (SLOT& slot : m_slots) {
        if (slot.kind == KIND::BLOCK) continue;
        const CDB_ATOM_NODE* node = slot.oterm->get_my_node();
        if (node->is_pin()) {
            auto it = input_index.find(node);
            slot.kind = it != input_index.end() ? KIND::INPUT : KIND::CONSTANT;
            slot.index = it != input_index.end() ? it->second : 0;
        } else {
            plan_slot(slot, register_index);
        }
    }
    for (REGISTER& r : m_registers) plan_register(r);
    for (const CDB_ATOM_ITERM* t : output_terms) m_output_reads.push_back(resolve(t, 0));
}

void CYCLE_SIM::add_slots(const CDB_ATOM_NETLIST& netlist)
{
    for (CDB_ATOM_NODE* node : netlist)
        for (auto it = node->begin_oterm(); it != node->end_oterm(); ++it) {
            m_slot_of[*it] = static_cast<int>(m_slots.size());
            m_slots.push_back(SLOT{*it});
        }
    m_value.assign(m_slots.size(), BLOCK_UNKNOWN);
}

int CYCLE_SIM::slot_of(const CDB_ATOM_OTERM* o) const
{
    auto it = m_slot_of.find(o);
    if (it == m_slot_of.end()) throw std::runtime_error("an output outside the netlist is read");
    return it->second;
}

// As the writer reads an input: unconnected floats, connected but undriven
// is the constant it is tied to, else the driver's value, complemented
// where the input reads it so.
CYCLE_SIM::READ CYCLE_SIM::resolve(const CDB_ATOM_ITERM* t, unsigned floating) const
{
    if (t == nullptr || !t->is_connected()) return READ{-1, static_cast<uint8_t>(floating & 1u), 0};
    if (!t->is_driven()) return READ{-1, static_cast<uint8_t>(t->is_logical_vcc() ? 1 : 0), 0};
    return READ{slot_of(t->get_source()), 0, static_cast<uint8_t>(t->reads_complemented() ? 1 : 0)};
}

void CYCLE_SIM::plan_slot(SLOT& slot, const std::unordered_map<const CDB_ATOM_NODE*, int>& register_index)
{
    const CDB_ATOM_NODE* node = slot.oterm->get_my_node();
    if (node->is_ram() || node->is_mac_mult() || node->is_mac_out()) {
        slot.kind = KIND::NO_FUNCTION;
    } else if (slot.oterm->is_used_as(DB_REG_OUT) && holds_register(node)) {
        // A register without a driven clock keeps its power-up value.
        const bool is_clocked = clocked(node->get_input_term_by_type(DB_CLOCK));
        slot.kind = is_clocked ? KIND::REGISTER : KIND::CONSTANT;
        slot.index = is_clocked ? register_index.at(node) : 0;
    } else if (node->is_clkbuf()) {
        slot.kind = KIND::CLKBUF;
        slot.first_read = m_reads.size();
        m_reads.push_back(resolve(node->get_input_term_by_type(DB_CLKBUF_IN), 0));
    } else {
        slot.kind = KIND::LOGIC;
        slot.first_read = m_reads.size();
        add_lut_reads(node);
    }
}

void CYCLE_SIM::add_lut_reads(const CDB_ATOM_NODE* node)
{
    for (int k = 0; k < CDB_ATOM_NODE::EVALUATE_INPUT_COUNT; ++k)
        m_reads.push_back(resolve(node->get_input_term_by_type(node->get_evaluate_input_port(k)), 0));
}

void CYCLE_SIM::plan_register(REGISTER& r)
{
    r.first_read = m_reads.size();
    for (int port : k_register_ports)
        m_reads.push_back(resolve(r.node->get_input_term_by_type(port), r.node->floats_high(port) ? 1u : 0u));
    if (!r.node->is_register()) add_lut_reads(r.node);
}

void CYCLE_SIM::set_input(size_t i, unsigned value)
{
    m_input_value.at(i) = value & 1u;
    invalidate();
}

// Values are forgotten only when next asked for, so that setting every
// input of a cycle costs no more than setting one.
void CYCLE_SIM::refresh()
{
    if (!m_stale) return;
    std::fill(m_value.begin(), m_value.end(), BLOCK_UNKNOWN);
    for (BLOCK& b : m_blocks) std::fill(b.m_value.begin(), b.m_value.end(), BLOCK_UNKNOWN);
    m_stale = false;
}

unsigned CYCLE_SIM::output(size_t i)
{
    refresh();
    return value(m_output_reads.at(i));
}

void CYCLE_SIM::clock()
{
    refresh();
    std::vector<unsigned> next;
    next.reserve(m_registers.size());
    for (size_t r = 0; r < m_registers.size(); ++r) next.push_back(next_state(r));
    std::vector<std::vector<unsigned>> block_next(m_blocks.size());
    for (size_t b = 0; b < m_blocks.size(); ++b) {
        const std::vector<CUT_BLOCK_REGISTER>& regs = m_blocks[b].m_function.registers;
        for (size_t r = 0; r < regs.size(); ++r) {
            // A register without a clock keeps its power-up value.
            const unsigned q = m_blocks[b].m_state[r];
            block_next[b].push_back(!clocked(regs[r].clock)
                                        ? q
                                        : cut_block_register_next(gate_value(b, regs[r].d), gate_value(b, regs[r].ena),
                                                                  gate_value(b, regs[r].clr), q));
        }
    }
    m_state = std::move(next);
    for (size_t b = 0; b < m_blocks.size(); ++b) m_blocks[b].m_state = block_next[b];
    invalidate();
}

std::vector<unsigned> CYCLE_SIM::state() const
{
    std::vector<unsigned> s = m_state;
    for (const BLOCK& b : m_blocks) s.insert(s.end(), b.m_state.begin(), b.m_state.end());
    return s;
}

void CYCLE_SIM::set_state(const std::vector<unsigned>& s)
{
    size_t size = m_registers.size();
    for (const BLOCK& b : m_blocks) size += b.m_state.size();
    if (s.size() != size)
        throw std::runtime_error("a state of " + std::to_string(s.size()) + " registers for " + std::to_string(size));
    size_t k = 0;
    for (unsigned& q : m_state) q = s[k++] & 1u;
    for (BLOCK& b : m_blocks)
        for (unsigned& q : b.m_state) q = s[k++] & 1u;
    invalidate();
}

unsigned CYCLE_SIM::gate_value(size_t block, int gate)
{
    if (gate < 0) return 0;
    BLOCK& b = m_blocks[block];
    if (b.m_value[gate] == BLOCK_BUSY) throw std::runtime_error("combinational loop through a RAM or DSP block");
    if (b.m_value[gate] != BLOCK_UNKNOWN) return b.m_value[gate];
    const CUT_GATE g = b.m_function.gates[gate];
    b.m_value[gate] = BLOCK_BUSY;
    unsigned v = 0;
    switch (g.op) {
    case CUT_GATE_INPUT: v = value(b.m_reads[gate]); break;
    case CUT_GATE_CONST: v = g.value; break;
    case CUT_GATE_STATE: v = b.m_state[g.value]; break;
    default: v = cut_gate_value(g.op, gate_value(block, g.a), gate_value(block, g.b), gate_value(block, g.c)); break;
    }
    m_blocks[block].m_value[gate] = static_cast<uint8_t>(v & 1u);
    return v & 1u;
}

unsigned CYCLE_SIM::value(const READ& r)
{
    return r.slot < 0 ? r.constant : value_of(r.slot) ^ r.invert;
}

unsigned CYCLE_SIM::value_of(int slot)
{
    const size_t s = static_cast<size_t>(slot);
    if (m_value[s] < BLOCK_UNKNOWN) return m_value[s];
    if (m_value[s] == BLOCK_BUSY)
        throw std::runtime_error(name_of(m_slots[s].oterm->get_my_node()) + ": combinational loop");
    m_value[s] = BLOCK_BUSY;
    const unsigned computed = compute(m_slots[s]) & 1u;
    m_value[s] = static_cast<uint8_t>(computed);
    return computed;
}

unsigned CYCLE_SIM::compute(const SLOT& slot)
{
    switch (slot.kind) {
    case KIND::CONSTANT: return 0;
    case KIND::INPUT: return m_input_value[static_cast<size_t>(slot.index)];
    case KIND::REGISTER: return m_state[static_cast<size_t>(slot.index)];
    case KIND::BLOCK: return gate_value(static_cast<size_t>(slot.index), slot.gate);
    case KIND::CLKBUF: return value(m_reads[slot.first_read]);
    case KIND::LOGIC: {
        unsigned in[CDB_ATOM_NODE::EVALUATE_INPUT_COUNT];
        for (int k = 0; k < CDB_ATOM_NODE::EVALUATE_INPUT_COUNT; ++k) in[k] = value(m_reads[slot.first_read + k]);
        const unsigned v = slot.oterm->get_my_node()->evaluate_output(slot.oterm->get_usage(), in);
        if (v != CDB_ATOM_NODE::NO_LUT_VALUE) return v;
        break;
    }
    case KIND::NO_FUNCTION: break;
    }
    throw std::runtime_error(name_of(slot.oterm->get_my_node()) + ": output " + slot.oterm->get_wysiwyg_port_name() +
                             " has no function");
}

unsigned CYCLE_SIM::next_state(size_t reg)
{
    const REGISTER& r = m_registers[reg];
    const READ* reads = &m_reads[r.first_read];
    unsigned v[8];
    for (int i = 0; i < 8; ++i) v[i] = value(reads[i]);
    if (!r.node->is_register()) {  // a packed register takes its data from the cell's LUT
        unsigned in[CDB_ATOM_NODE::EVALUATE_INPUT_COUNT];
        for (int k = 0; k < CDB_ATOM_NODE::EVALUATE_INPUT_COUNT; ++k) in[k] = value(reads[8 + k]);
        v[0] = r.node->evaluate_output(DB_REG_OUT, in);
    }
    // k_register_ports lists the ports in the order of the fields.
    const CDB_REGISTER_INPUTS in{v[0], v[1], v[2], v[3], v[4], v[5], v[6], v[7]};
    return cdb_register_next_value(in, m_state[reg]);
}

std::string COSIM_RESULT::describe() const
{
    if (!m_error.empty()) return m_error;
    if (m_agree) return "agree";
    return "first difference at cycle " + std::to_string(m_cycle) + " on output " + m_port;
}

COSIM_RESULT cosimulate(const CDB_ATOM_NETLIST& a, const CDB_ATOM_NETLIST& b, int cycles, uint64_t seed)
{
    COSIM_RESULT result;
    try {
        CYCLE_SIM sa(a), sb(b);
        std::unordered_map<std::string, size_t> b_inputs, b_outputs;
        for (size_t i = 0; i < sb.input_names().size(); ++i) b_inputs[sb.input_names()[i]] = i;
        for (size_t i = 0; i < sb.output_names().size(); ++i) b_outputs[sb.output_names()[i]] = i;
        if (sa.output_names().size() != sb.output_names().size()) throw std::runtime_error("output ports differ");
        std::vector<size_t> out_map;
        for (const std::string& n : sa.output_names()) {
            auto it = b_outputs.find(n);
            if (it == b_outputs.end()) throw std::runtime_error("output " + n + " is missing in the second netlist");
            out_map.push_back(it->second);
        }
        std::mt19937_64 rng(seed);
        for (int cycle = 0; cycle < cycles; ++cycle) {
            for (size_t i = 0; i < sa.input_names().size(); ++i) {
                const unsigned v = static_cast<unsigned>(rng() & 1u);
                sa.set_input(i, v);
                auto it = b_inputs.find(sa.input_names()[i]);
                if (it != b_inputs.end()) sb.set_input(it->second, v);
            }
            for (size_t o = 0; o < out_map.size(); ++o) {
                if (sa.output(o) == sb.output(out_map[o])) continue;
                result.m_agree = false;
                result.m_cycle = cycle;
                result.m_port = sa.output_names()[o];
                return result;
            }
            sa.clock();
            sb.clock();
        }
    } catch (const std::exception& e) {
        result.m_agree = false;
        result.m_error = e.what();
    }
    return result;
}
