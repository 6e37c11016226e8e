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
    for (CDB_ATOM_NODE* node : netlist) {
        if (node->is_ram() || node->is_mac_mult() || node->is_mac_out()) {
            BLOCK block;
            block.m_function = cut_block_function(node);
            block.m_state.assign(block.m_function.registers.size(), 0);
            block.m_value.assign(block.m_function.gates.size(), BLOCK_UNKNOWN);
            for (const CUT_BLOCK_OUTPUT& o : block.m_function.outputs)
                m_block_output[o.term] = {m_blocks.size(), o.gate};
            m_blocks.push_back(std::move(block));
        }
        if (holds_register(node)) {
            m_registers.push_back(node);
            m_state[node] = 0;
        }
        if (!node->is_pin()) continue;
        if (CDB_ATOM_OTERM* o = node->get_output_term_by_type(DB_DATA_OUT); o && !drives_only_clocks(o)) {
            m_input_pins.push_back(node);
            m_input_names.push_back(name_of(node));
            m_input_value[node] = 0;
        }
        if (CDB_ATOM_ITERM* in = node->get_input_term_by_type(DB_DATAIN)) {
            m_output_terms.push_back(in);
            m_output_names.push_back(blif_output_port_name(name_of(node)));
        }
    }
}

void CYCLE_SIM::set_input(size_t i, unsigned value)
{
    m_input_value[m_input_pins.at(i)] = value & 1u;
    invalidate();
}

void CYCLE_SIM::invalidate()
{
    m_value.clear();
    for (BLOCK& b : m_blocks) std::fill(b.m_value.begin(), b.m_value.end(), BLOCK_UNKNOWN);
}

unsigned CYCLE_SIM::output(size_t i)
{
    return read(m_output_terms.at(i), 0);
}

void CYCLE_SIM::clock()
{
    std::vector<unsigned> next;
    next.reserve(m_registers.size());
    for (const CDB_ATOM_NODE* r : m_registers) next.push_back(next_state(r));
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
    for (size_t i = 0; i < m_registers.size(); ++i) m_state[m_registers[i]] = next[i];
    for (size_t b = 0; b < m_blocks.size(); ++b) m_blocks[b].m_state = block_next[b];
    invalidate();
}

std::vector<unsigned> CYCLE_SIM::state() const
{
    std::vector<unsigned> s;
    for (const CDB_ATOM_NODE* r : m_registers) s.push_back(m_state.at(r));
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
    for (const CDB_ATOM_NODE* r : m_registers) m_state[r] = s[k++] & 1u;
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
    case CUT_GATE_INPUT: v = read(g.term, g.value); break;
    case CUT_GATE_CONST: v = g.value; break;
    case CUT_GATE_STATE: v = b.m_state[g.value]; break;
    default: v = cut_gate_value(g.op, gate_value(block, g.a), gate_value(block, g.b), gate_value(block, g.c)); break;
    }
    m_blocks[block].m_value[gate] = static_cast<uint8_t>(v & 1u);
    return v & 1u;
}

unsigned CYCLE_SIM::read(const CDB_ATOM_ITERM* t, unsigned floating)
{
    if (t == nullptr || !t->is_connected()) return floating;
    if (!t->is_driven()) return t->is_logical_vcc() ? 1u : 0u;
    return value_of(t->get_source()) ^ (t->reads_complemented() ? 1u : 0u);
}

unsigned CYCLE_SIM::read_port(const CDB_ATOM_NODE* node, int port)
{
    return read(node->get_input_term_by_type(port), node->floats_high(port) ? 1u : 0u);
}

unsigned CYCLE_SIM::value_of(const CDB_ATOM_OTERM* o)
{
    auto it = m_value.find(o);
    if (it != m_value.end()) return it->second;
    if (m_busy[o]) throw std::runtime_error(name_of(o->get_my_node()) + ": combinational loop");
    m_busy[o] = true;
    const unsigned v = compute(o);
    m_busy[o] = false;
    m_value[o] = v;
    return v;
}

unsigned CYCLE_SIM::compute(const CDB_ATOM_OTERM* o)
{
    const CDB_ATOM_NODE* node = o->get_my_node();
    if (auto it = m_block_output.find(o); it != m_block_output.end())
        return gate_value(it->second.first, it->second.second);
    if (node->is_ram() || node->is_mac_mult() || node->is_mac_out())
        throw std::runtime_error(name_of(node) + ": output " + o->get_wysiwyg_port_name() + " has no function");
    if (node->is_pin()) return m_input_value.count(node) ? m_input_value[node] : 0u;
    if (o->is_used_as(DB_REG_OUT) && holds_register(node)) {
        // A register without a driven clock keeps its power-up value.
        return clocked(node->get_input_term_by_type(DB_CLOCK)) ? m_state[node] : 0u;
    }
    if (node->is_clkbuf()) return read(node->get_input_term_by_type(DB_CLKBUF_IN), 0);
    unsigned in[CDB_ATOM_NODE::EVALUATE_INPUT_COUNT];
    for (int k = 0; k < CDB_ATOM_NODE::EVALUATE_INPUT_COUNT; ++k)
        in[k] = read(node->get_input_term_by_type(node->get_evaluate_input_port(k)), 0);
    const unsigned v = node->evaluate_output(o->get_usage(), in);
    if (v == CDB_ATOM_NODE::NO_LUT_VALUE)
        throw std::runtime_error(name_of(node) + ": output " + o->get_wysiwyg_port_name() + " has no function");
    return v;
}

unsigned CYCLE_SIM::next_state(const CDB_ATOM_NODE* node)
{
    unsigned v[8];
    for (int i = 0; i < 8; ++i) v[i] = read_port(node, k_register_ports[i]);
    if (!node->is_register()) {  // a packed register takes its data from the cell's LUT
        unsigned in[CDB_ATOM_NODE::EVALUATE_INPUT_COUNT];
        for (int k = 0; k < CDB_ATOM_NODE::EVALUATE_INPUT_COUNT; ++k)
            in[k] = read(node->get_input_term_by_type(node->get_evaluate_input_port(k)), 0);
        v[0] = node->evaluate_output(DB_REG_OUT, in);
    }
    CDB_REGISTER_INPUTS r;
    r.d = v[0];
    r.ena = v[1];
    r.sclr = v[2];
    r.sload = v[3];
    r.sdata = v[4];
    r.clr = v[5];
    r.aload = v[6];
    r.adata = v[7];
    return cdb_register_next_value(r, m_state[node]);
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
