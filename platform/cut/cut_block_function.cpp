#include "cut/cut_block_function.h"

#include <algorithm>
#include <set>
#include <string>

#include "cdb/cdb_atom_netlist.h"
#include "cut/cut_atom_util.h"
#include "cut/cut_block_util.h"
#include "cut/cut_mif_reader.h"

namespace {

using BUS = std::vector<int>;

// The controls of one register of the block.
struct CONTROLS
{
    const CDB_ATOM_ITERM* clock = nullptr;
    int ena = -1;
    int clr = -1;
};

class BUILDER
{
public:
    explicit BUILDER(const CDB_ATOM_NODE* node) : m_node(node) {}

    CUT_BLOCK_FUNCTION take() { return std::move(m_f); }

    // One gate per constant value, shared by every reader.
    int constant(unsigned v)
    {
        int& g = m_constant[v & 1u];
        if (g < 0) g = push(CUT_GATE_CONST, -1, -1, -1, v & 1u);
        return g;
    }

    // Absent terms read their floating value.
    int input(int port, int index, unsigned floating)
    {
        const int g = push(CUT_GATE_INPUT, -1, -1, -1, floating);
        m_f.gates[g].term = m_node->get_input_term_by_type(port, index);
        return g;
    }

    // A clear input in a register's polarity, per the clear rule of the kind.
    // A clear acting at 0 floats high (inactive) and needs no inversion.
    int clear(int port, int index)
    {
        const bool acts_low = cdb_clear_active_value(m_node->get_kind(), port) == 0;
        const int v = input(port, index, acts_low ? 1u : 0u);
        return acts_low ? v : gate(CUT_GATE_NOT, v);
    }

    BUS inputs(int port, int width)
    {
        BUS bus;
        for (int k = 0; k < width; ++k) bus.push_back(input(port, k, 0));
        return bus;
    }

    int reg(int d, const CONTROLS& c)
    {
        CUT_BLOCK_REGISTER r;
        r.d = d;
        r.ena = c.ena;
        r.clr = c.clr;
        r.clock = c.clock;
        m_f.registers.push_back(r);
        return push(CUT_GATE_STATE, -1, -1, -1, static_cast<unsigned>(m_f.registers.size() - 1));
    }

    BUS regs(const BUS& d, const CONTROLS& c)
    {
        BUS q;
        for (int g : d) q.push_back(reg(g, c));
        return q;
    }

    // Folds constant operands away where the result is plain.
    int gate(int op, int a, int b = -1, int c = -1)
    {
        if (is_const(a) && (b < 0 || is_const(b)) && (c < 0 || is_const(c)))
            return constant(cut_gate_value(op, val(a), val(b), val(c)));
        if (op == CUT_GATE_AND && (is_const(a) || is_const(b))) {
            const int k = is_const(a) ? a : b, other = is_const(a) ? b : a;
            return val(k) ? other : constant(0);
        }
        if (op == CUT_GATE_XOR && c < 0 && (is_const(a) || is_const(b))) {
            const int k = is_const(a) ? a : b, other = is_const(a) ? b : a;
            return val(k) ? gate(CUT_GATE_NOT, other) : other;
        }
        return push(op, a, b, c, 0);
    }

    // Ripple sum of two buses, kept to `width` bits.
    BUS add(const BUS& x, const BUS& y, int width)
    {
        BUS sum;
        int carry = constant(0);
        for (int i = 0; i < width; ++i) {
            const int a = i < int(x.size()) ? x[i] : constant(0);
            const int b = i < int(y.size()) ? y[i] : constant(0);
            sum.push_back(gate(CUT_GATE_XOR, a, b, carry));
            carry = gate(CUT_GATE_MAJ, a, b, carry);
        }
        return sum;
    }

    // Shift-and-add product, kept to `width` bits.
    BUS multiply(const BUS& a, const BUS& b, int width)
    {
        BUS acc(static_cast<size_t>(width), constant(0));
        for (size_t j = 0; j < b.size() && int(j) < width; ++j) {
            BUS partial(j, constant(0));
            for (int ai : a) partial.push_back(gate(CUT_GATE_AND, ai, b[j]));
            acc = add(acc, partial, width);
        }
        return acc;
    }

    int gate_count() const { return static_cast<int>(m_f.gates.size()); }

    // Entries read by address: the select tree, noted as a table when it
    // is more than a constant.
    int table(const std::vector<bool>& entries, const BUS& address)
    {
        BUS words;
        for (bool e : entries) words.push_back(constant(e ? 1u : 0u));
        const int first = gate_count();
        const int read = select(words, address);
        if (read >= first) m_f.tables.push_back({read, first, address, entries});
        return read;
    }

    // The word of `words` that the address selects (bit 0 picks within pairs).
    int select(BUS words, const BUS& address)
    {
        for (int sel : address) {
            BUS next;
            for (size_t k = 0; k + 1 < words.size(); k += 2)
                next.push_back(gate(CUT_GATE_MUX, sel, words[k], words[k + 1]));
            words.swap(next);
        }
        return words.empty() ? constant(0) : words[0];
    }

    void output(int port, const BUS& bus)
    {
        for (size_t k = 0; k < bus.size(); ++k)
            if (const CDB_ATOM_OTERM* o = m_node->get_output_term_by_type(port, static_cast<int>(k)))
                m_f.outputs.push_back({o, bus[k]});
    }

    // Every output with fanout needs a function.
    void check_outputs() const
    {
        for (auto it = m_node->begin_oterm(); it != m_node->end_oterm(); ++it) {
            if (!(*it)->has_fanout()) continue;
            bool found = false;
            for (const CUT_BLOCK_OUTPUT& o : m_f.outputs) found = found || o.term == *it;
            if (!found)
                throw CUT_BLOCK_ERROR(cut_atom_label(m_node) + ": output " + (*it)->get_wysiwyg_port_name() +
                                      " has no function in the model");
        }
    }

private:
    int push(int op, int a, int b, int c, unsigned value)
    {
        CUT_GATE g;
        g.op = op;
        g.a = a;
        g.b = b;
        g.c = c;
        g.value = value;
        m_f.gates.push_back(g);
        return static_cast<int>(m_f.gates.size()) - 1;
    }
    bool is_const(int g) const { return g >= 0 && m_f.gates[g].op == CUT_GATE_CONST; }
    unsigned val(int g) const { return g < 0 ? 0u : m_f.gates[g].value; }

    const CDB_ATOM_NODE* m_node;
    CUT_BLOCK_FUNCTION m_f;
    int m_constant[2] = {-1, -1};  // the gates of constants 0 and 1, once built
};

// ---------------------------------------------------------------- RAM

// Clock, enable and clear of the register on a RAM port type.
CONTROLS ram_controls(BUILDER& b, const CDB_ATOM_NODE* ram, int port_type, bool cleared)
{
    CONTROLS c;
    const int clock = CUT_RAM_UTIL::get_physical_port_clock(ram, port_type);
    const int ena = CUT_RAM_UTIL::get_physical_port_clock_enable(ram, port_type);
    const int clr = CUT_RAM_UTIL::get_physical_port_clear(ram, port_type);
    if (clock != DB_MAX_INPUT_PORT_TYPE) c.clock = ram->get_input_term_by_type(clock);
    c.ena = ena == DB_MAX_INPUT_PORT_TYPE ? b.constant(1) : b.input(ena, 0, 1);
    c.clr = (cleared && clr != DB_MAX_INPUT_PORT_TYPE) ? b.clear(clr, 0) : b.constant(1);
    return c;
}

// One register per bit of every word, written through port A.
std::vector<BUS> ram_contents(BUILDER& b, const CDB_ATOM_NODE* ram, const BUS& address, int width)
{
    const BUS data = b.inputs(DB_RAM_PORTA_DATAIN, width);
    const int we = b.input(DB_RAM_PORTA_WE, 0, 0);
    const CONTROLS write = ram_controls(b, ram, DB_RAM_PORTA_WE, false);
    // Built once and shared by every word's decode.
    const int enabled = b.gate(CUT_GATE_AND, we, write.ena);
    BUS inverted;
    for (int bit : address) inverted.push_back(b.gate(CUT_GATE_NOT, bit));
    std::vector<BUS> words;
    for (unsigned w = 0; w < (1u << address.size()); ++w) {
        int hit = enabled;
        for (size_t i = 0; i < address.size(); ++i)
            hit = b.gate(CUT_GATE_AND, hit, ((w >> i) & 1u) ? address[i] : inverted[i]);
        CONTROLS c = write;
        c.ena = hit;
        words.push_back(b.regs(data, c));
    }
    return words;
}

BUS ram_read(BUILDER& b, const std::vector<BUS>& words, const BUS& address, int width)
{
    BUS out;
    for (int bit = 0; bit < width; ++bit) {
        BUS column;
        for (const BUS& w : words) column.push_back(w[bit]);
        out.push_back(b.select(column, address));
    }
    return out;
}

// The register behind a read-only slice: port A's clock, the builder's
// enable (or port A's), and port A's clear under the RAM clear rule.
CONTROLS rom_controls(BUILDER& b, const CDB_ATOM_NODE* rom)
{
    CONTROLS c;
    c.clock = rom->get_input_term_by_type(DB_RAM_CLK0);
    if (rom->get_input_term_by_type(DB_RAM_CLK0_ENA) != nullptr) c.ena = b.input(DB_RAM_CLK0_ENA, 0, 1);
    else if (rom->get_input_term_by_type(DB_RAM_ENA0) != nullptr) c.ena = b.input(DB_RAM_ENA0, 0, 1);
    else c.ena = b.constant(1);
    c.clr = rom->get_input_term_by_type(DB_RAM_CLR0) != nullptr ? b.clear(DB_RAM_CLR0, 0) : b.constant(1);
    return c;
}

// The slice's entries: from its memory-initialisation file when it names
// one, else its own contents.
std::vector<bool> rom_column(const CDB_ATOM_RAM* rom)
{
    const CDB_RECONFIG_INFO info = rom->get_reconfig_info();
    if (info.m_mif_file_usage == 0 || info.m_mif_file_name.empty()) return rom->get_content();
    try {
        const int width = CUT_RAM_UTIL::get_logical_width(rom, 0);
        const int depth = CUT_RAM_UTIL::get_logical_depth(rom, 0);
        const CUT_MIF_CONTENTS mif = cut_read_mif_file(info.m_mif_file_name, width, depth);
        const int bit = std::max(CUT_RAM_UTIL::get_first_bit_number(rom, 0), 0);
        if (bit >= mif.width)
            throw CUT_MIF_ERROR(info.m_mif_file_name + ": holds " + std::to_string(mif.width) + " bits, not bit " +
                                std::to_string(bit));
        return mif.column(bit);
    } catch (const CUT_MIF_ERROR& e) {
        throw CUT_BLOCK_ERROR(cut_atom_label(rom) + ": " + e.what());
    }
}

// A slice with contents of its own and no write enable: on an enabled
// clock edge its data output takes the entry its address selects.
// Observable address outputs show the address as registered alongside.
CUT_BLOCK_FUNCTION rom_function(const CDB_ATOM_RAM* rom, int bits, bool contents)
{
    BUILDER b(rom);
    const BUS address = b.inputs(DB_RAM_PORTA_ADDRESS, bits);
    const std::vector<bool> column = contents ? rom_column(rom) : std::vector<bool>();
    std::vector<bool> entries;
    for (size_t a = 0; a < (size_t{1} << bits); ++a) entries.push_back(a < column.size() && column[a]);
    const CONTROLS c = rom_controls(b, rom);
    b.output(DB_RAM_PORTA_DATAOUT, {b.reg(b.table(entries, address), c)});
    if (cut_output_terms_width(rom, DB_RAM_OBSERVABLE_PORTA_ADDRESS) > 0)
        b.output(DB_RAM_OBSERVABLE_PORTA_ADDRESS, b.regs(address, c));
    b.check_outputs();
    return b.take();
}

CUT_BLOCK_FUNCTION ram_function(const CDB_ATOM_NODE* ram, bool contents)
{
    BUILDER b(ram);
    const int bits = std::max(CUT_RAM_UTIL::get_address_width(ram, 0), CUT_RAM_UTIL::get_address_width(ram, 1));
    const auto* loaded_ram = static_cast<const CDB_ATOM_RAM*>(ram);
    const bool loaded = loaded_ram->has_content() || loaded_ram->get_reconfig_info().m_mif_file_usage != 0;
    const bool rom = loaded && ram->get_input_term_by_type(DB_RAM_PORTA_WE) == nullptr;
    const int limit = rom ? CUT_BLOCK_MAX_ROM_ADDRESS_BITS : CUT_BLOCK_MAX_RAM_ADDRESS_BITS;
    if (bits > limit)
        throw CUT_BLOCK_ERROR(cut_atom_label(ram) + ": a RAM of " + std::to_string(bits) +
                              " address bits is deeper than the " + std::to_string(limit) + " the model holds");
    if (rom) return rom_function(loaded_ram, bits, contents);
    const int width =
        std::max({cut_input_terms_width(ram, DB_RAM_PORTA_DATAIN), cut_output_terms_width(ram, DB_RAM_PORTA_DATAOUT),
                  cut_output_terms_width(ram, DB_RAM_PORTB_DATAOUT)});
    const BUS address_a = b.inputs(DB_RAM_PORTA_ADDRESS, bits);
    BUS address_b = b.inputs(DB_RAM_PORTB_ADDRESS, bits);
    const bool b_clocked = CUT_RAM_UTIL::get_physical_port_clock(ram, DB_RAM_PORTB_ADDRESS) != DB_MAX_INPUT_PORT_TYPE;
    const bool b_old_data = b_clocked && CUT_RAM_UTIL::ram_mode_is(ram, 1, CDB_RAM_FLAG_READ_OLD_DATA);
    if (b_clocked && !b_old_data) address_b = b.regs(address_b, ram_controls(b, ram, DB_RAM_PORTB_ADDRESS, false));
    const std::vector<BUS> words = ram_contents(b, ram, address_a, width);
    const int outputs[2] = {DB_RAM_PORTA_DATAOUT, DB_RAM_PORTB_DATAOUT};
    for (int port = 0; port < 2; ++port) {
        if (cut_output_terms_width(ram, outputs[port]) == 0) continue;
        BUS out = ram_read(b, words, port == 0 ? address_a : address_b, width);
        // Old data: the read register takes the word before the edge's
        // write lands, where an address register reads after it.
        if (port == 1 && b_old_data) out = b.regs(out, ram_controls(b, ram, DB_RAM_PORTB_ADDRESS, false));
        if (CUT_RAM_UTIL::ram_mode_is(ram, port, CDB_RAM_FLAG_OUTPUT_REGISTERED))
            out = b.regs(out, ram_controls(b, ram, outputs[port], true));
        b.output(outputs[port], out);
    }
    b.check_outputs();
    return b.take();
}

// ---------------------------------------------------------------- DSP

CONTROLS mac_controls(BUILDER& b, int clock_slot, int clear_slot, const CDB_ATOM_NODE* mac)
{
    CONTROLS c;
    c.clock = mac->get_input_term_by_type(DB_CLOCK, clock_slot);
    c.ena = b.input(DB_CLOCK_ENABLE, clock_slot, 1);
    c.clr = clear_slot < 0 ? b.constant(1) : b.clear(DB_CLEAR, clear_slot);
    return c;
}

// A data port through its packed input and pipeline registers.
BUS mac_data(BUILDER& b, const CDB_ATOM_NODE* mac, int port)
{
    BUS bus = b.inputs(port, CUT_MAC_UTIL::get_input_port_width(mac, port));
    if (CUT_MAC_UTIL::is_input_port_registered(mac, port))
        bus = b.regs(bus, mac_controls(b, CUT_MAC_UTIL::get_input_port_clock(mac, port),
                                       CUT_MAC_UTIL::get_input_port_clear(mac, port), mac));
    if (CUT_MAC_UTIL::is_pipeline_registered(mac, port))
        bus = b.regs(bus, mac_controls(b, CUT_MAC_UTIL::get_pipeline_clock(mac, port),
                                       CUT_MAC_UTIL::get_pipeline_clear(mac, port), mac));
    return bus;
}

// Data ports a MAC_OUT adds in each mode it can express; empty otherwise.
std::vector<int> mac_out_ports(int mode)
{
    switch (mode) {
    case CUT_MAC_MODE_SIMPLE_MULTIPLIER: return {DB_DATA_A};
    case CUT_MAC_MODE_TWO_MULTIPLIERS_ADDER:
    case CUT_MAC_MODE_36_BIT_ADDER: return {DB_DATA_A, DB_DATA_B};
    case CUT_MAC_MODE_FOUR_MULTIPLIERS_ADDER: return {DB_DATA_A, DB_DATA_B, DB_DATA_C, DB_DATA_D};
    default: return {};
    }
}

CUT_BLOCK_FUNCTION mac_function(const CDB_ATOM_NODE* mac)
{
    const int mode = CUT_MAC_UTIL::get_mode(mac);
    const std::vector<int> ports = mac_out_ports(mode);
    if (ports.empty())
        throw CUT_BLOCK_ERROR(cut_atom_label(mac) + ": DSP mode " + std::to_string(mode) +
                              " cannot be modelled (modes 0, 3, 5 and 7 can)");
    BUILDER b(mac);
    const int width = CUT_MAC_UTIL::get_output_port_width(mac, DB_DATA_OUT);
    BUS result;
    if (mac->is_mac_mult()) {
        result = b.multiply(mac_data(b, mac, DB_DATA_A), mac_data(b, mac, DB_DATA_B), width);
    } else {
        result = BUS(static_cast<size_t>(width), b.constant(0));
        for (int port : ports) result = b.add(result, mac_data(b, mac, port), width);
    }
    if (CUT_MAC_UTIL::is_output_port_registered(mac, DB_DATA_OUT))
        result = b.regs(result, mac_controls(b, CUT_MAC_UTIL::get_output_port_clock(mac, DB_DATA_OUT),
                                             CUT_MAC_UTIL::get_output_port_clear(mac, DB_DATA_OUT), mac));
    for (int bit = 0; bit < width; ++bit)
        if (CUT_MAC_UTIL::is_output_prog_invert(mac, DB_DATA_OUT, bit)) result[bit] = b.gate(CUT_GATE_NOT, result[bit]);
    b.output(DB_DATA_OUT, result);
    b.check_outputs();
    return b.take();
}

}  // namespace

CUT_BLOCK_FUNCTION cut_block_function(const CDB_ATOM_NODE* node, bool contents)
{
    if (node->is_ram()) return ram_function(node, contents);
    if (node->is_mac_mult() || node->is_mac_out()) return mac_function(node);
    throw CUT_BLOCK_ERROR(cut_atom_label(node) + ": not a RAM or DSP block");
}

namespace {
// A register's clock, enable or clear: read where a register of the block
// uses it, and changing nothing where none does.
bool is_register_control(const CDB_ATOM_ITERM* term)
{
    for (int port : {DB_CLOCK, DB_CLOCK_ENABLE, DB_CLEAR, DB_RAM_CLK0, DB_RAM_CLK1, DB_RAM_ENA0, DB_RAM_ENA1,
                     DB_RAM_CLR0, DB_RAM_CLR1, DB_RAM_CLK0_ENA})
        if (term->is_used_as(port)) return true;
    return false;
}
}  // namespace

std::string cut_block_unmodelled(const CDB_ATOM_NODE* node)
{
    CUT_BLOCK_FUNCTION f;
    try {
        f = cut_block_function(node, false);
    } catch (const CUT_BLOCK_ERROR& e) {
        return e.what();
    }
    std::set<const CDB_ATOM_ITERM*> read;
    for (const CUT_GATE& g : f.gates)
        if (g.op == CUT_GATE_INPUT) read.insert(g.term);
    for (const CUT_BLOCK_REGISTER& r : f.registers) read.insert(r.clock);
    for (auto it = node->begin_iterm(); it != node->end_iterm(); ++it)
        if ((*it)->is_driven() && read.count(*it) == 0 && !is_register_control(*it))
            return cut_atom_label(node) + ": input of port type " + std::to_string((*it)->get_any_usage_as()) +
                   " index " + std::to_string((*it)->get_port_index()) + " is connected, but the " +
                   (node->is_ram() ? "RAM" : "DSP") + " block's function does not read it";
    return {};
}

unsigned cut_gate_value(int op, unsigned a, unsigned b, unsigned c)
{
    a &= 1u;
    b &= 1u;
    c &= 1u;
    switch (op) {
    case CUT_GATE_NOT: return a ^ 1u;
    case CUT_GATE_AND: return a & b;
    case CUT_GATE_XOR: return a ^ b ^ c;
    case CUT_GATE_MAJ: return (a & b) | (a & c) | (b & c);
    case CUT_GATE_MUX: return a ? c : b;
    default: return 0;
    }
}

unsigned cut_block_register_next(unsigned d, unsigned ena, unsigned clr, unsigned q)
{
    CDB_REGISTER_INPUTS in;
    in.d = d & 1u;
    in.ena = ena & 1u;
    in.clr = clr & 1u;
    return cdb_register_next_value(in, q);
}
