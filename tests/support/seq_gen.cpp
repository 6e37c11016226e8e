#include "seq_gen.h"

#include <algorithm>
#include <random>
#include <vector>

#include "cdb/cdb_atom_node.h"
#include "cut/cut_block_util.h"
#include "hdb/hdb_instance_name.h"
#include "io/blif_reader.h"

namespace {

// A one-letter prefix and a number ("i3"), built without the operator+ of
// a literal and a temporary, which GCC 12 misreads at -O2 (-Wrestrict).
std::string numbered(char prefix, int k)
{
    std::string s(1, prefix);
    s += std::to_string(k);
    return s;
}

class GENERATOR
{
public:
    GENERATOR(const SEQ_GEN_OPTIONS& o, uint64_t seed)
        : m_o(o), m_rng(seed), m_netlist(std::make_unique<CDB_ATOM_NETLIST>(o.m_family))
    {
        m_netlist->set_name_mgr(new HDB_NAME_MGR("top"), true);
        m_lut_size = cdb_family_lut_size(o.m_family);
    }

    std::unique_ptr<CDB_ATOM_NETLIST> run()
    {
        for (int i = 0; i < m_o.m_inputs; ++i) m_pool.push_back(input(numbered('i', i)));
        m_clock = input("clk");
        if (m_o.m_clears) m_reset = input("rst");
        if (m_o.m_enables) m_shared_enable = m_pool[pick(m_pool.size())];
        int cells = 0, regs = 0;
        while (cells < m_o.m_cells || regs < m_o.m_registers) {
            const bool reg = regs < m_o.m_registers && (cells >= m_o.m_cells || chance(3));
            if (reg) {
                m_pool.push_back(add_register(numbered('r', regs++)));
                continue;
            }
            cells += add_cells(cells);
        }
        if (m_o.m_rams && m_o.m_ram_atoms <= 1) add_ram(name("m0"));
        for (int k = 0; m_o.m_rams && m_o.m_ram_atoms > 1 && k < m_o.m_ram_atoms; ++k)
            add_ram(m_netlist->get_name_mgr()->find_or_create_path(numbered('a', k).insert(0, "m0|"), 0));
        if (m_o.m_dsps) add_dsp("d0");
        for (int k = 0; k < m_o.m_outputs; ++k) {
            // Later signals first, so that most of the logic is observed.
            const size_t at = m_pool.size() - 1 - pick(std::min<size_t>(m_pool.size(), 6));
            connect(m_pool[at], output(numbered('o', k)));
        }
        return std::move(m_netlist);
    }

private:
    size_t pick(size_t n) { return static_cast<size_t>(m_rng() % n); }
    bool chance(int one_in) { return m_rng() % static_cast<uint64_t>(one_in) == 0; }
    HDB_INSTANCE_NAME* name(const std::string& n) { return m_netlist->get_name_mgr()->create_unique_name(n, 0); }

    CDB_ATOM_NODE* add(int kind, const std::string& n)
    {
        CDB_ATOM_NODE* node = cdb_create_atom(m_o.m_family, kind, name(n));
        m_netlist->add_node(node);
        return node;
    }
    CDB_ATOM_OTERM* input(const std::string& n)
    {
        CDB_ATOM_NODE* pin = add(CDB_KIND_IO, n);
        return pin->add_output_term(DB_DATA_OUT, pin->get_instance_name());
    }
    CDB_ATOM_ITERM* output(const std::string& n)
    {
        CDB_ATOM_NODE* pin = cdb_create_output_pin(m_o.m_family, name(n + BLIF_OUTPUT_PIN_SUFFIX));
        m_netlist->add_node(pin);
        return pin->get_input_term_by_type(DB_DATAIN);
    }
    // Connects a driver, now and then through an inversion bit.
    void connect(CDB_ATOM_OTERM* driver, CDB_ATOM_ITERM* sink, bool may_invert = false)
    {
        driver->insert_fanout(sink);
        if (may_invert && m_o.m_inversions && chance(3)) sink->set_invert();
    }
    // A data input from the pool, or now and then a constant tie: a
    // physical GND read through its inversion bit, or plain GND.
    void data(CDB_ATOM_ITERM* sink)
    {
        if (m_o.m_constant_ties && chance(8)) {
            sink->set_gnd();
            if (chance(2)) sink->set_invert();
            return;
        }
        connect(m_pool[pick(m_pool.size())], sink, true);
    }
    CDB_ATOM_OTERM* named_output(CDB_ATOM_NODE* node, int port)
    {
        return node->add_output_term(
            port, name(node->get_instance_name()->get_short_hpath() + "_" + cdb_output_port_name(port)));
    }

    int add_cells(int index)
    {
        const std::string n = numbered('c', index);
        if (m_o.m_chains && chance(5)) return add_chain(n);
        if (m_o.m_wire_luts && chance(6)) return add_lut(n, 1, chance(2) ? 0x1 : 0x2);
        if (m_lut_size == 6 && chance(6)) return add_extended(n);
        const int k = 1 + static_cast<int>(pick(std::min(m_lut_size, 4)));
        return add_lut(n, k, m_rng());
    }

    int add_lut(const std::string& n, int k, uint64_t truth)
    {
        CDB_ATOM_NODE* cell = add(CDB_KIND_LCELL_COMB, n);
        for (int i = 0; i < k; ++i) data(cell->add_input_term(DB_DATA_A + i));
        cell->set_lutmask(blif_family_lutmask(m_o.m_family, k, truth));
        m_pool.push_back(cell->add_output_term(DB_COMB_OUT, cell->get_instance_name()));
        return 1;
    }

    // Every input of a 6-input cell in extended mode is connected.
    int add_extended(const std::string& n)
    {
        CDB_ATOM_NODE* cell = add(CDB_KIND_LCELL_COMB, n);
        for (int port = DB_DATA_A; port <= DB_DATA_G; ++port)
            connect(m_pool[pick(m_pool.size())], cell->add_input_term(port), true);
        cell->set_lutmask(CDB_LUTMASK(6, m_rng()));
        m_pool.push_back(cell->add_output_term(DB_COMB_OUT, cell->get_instance_name()));
        return 1;
    }

    int add_chain(const std::string& n)
    {
        const int length = 2 + static_cast<int>(pick(3));
        if (m_o.m_family == CDB_FAMILY_MRL && chance(2)) return add_adder_chain(n, length);
        if (m_o.m_family == CDB_FAMILY_UVO) return add_lut(n, 3, m_rng());
        CDB_ATOM_OTERM* carry = nullptr;
        for (int b = 0; b < length; ++b) {
            CDB_ATOM_NODE* cell = add(CDB_KIND_LCELL_COMB, n + "_" + std::to_string(b));
            if (m_lut_size == 4) add_carry_cell(cell, carry);
            else add_arithmetic_cell(cell, carry);
            CDB_ATOM_ITERM* cin = cell->add_input_term(DB_CARRY_IN);
            if (carry) carry->insert_fanout(cin);
            carry = named_output(cell, DB_CARRY_OUT);
        }
        return length;
    }

    // A 4-input cell reads A to D on its comb-out and A, B and the carry-in
    // on its carry-out; a head's carry mask does not read the carry-in.
    void add_carry_cell(CDB_ATOM_NODE* cell, CDB_ATOM_OTERM* carry_in)
    {
        for (int i = 0; i < 4; ++i) data(cell->add_input_term(DB_DATA_A + i));
        cell->set_lutmask(CDB_LUTMASK(4, m_rng() & 0xffff));
        uint64_t carry = m_rng() & 0xff;
        if (carry_in == nullptr) carry = (carry & 0xf) | ((carry & 0xf) << 4);
        cell->set_carry_lutmask(CDB_LUTMASK(4, carry | (carry << 8)));
        m_pool.push_back(cell->add_output_term(DB_COMB_OUT, cell->get_instance_name()));
    }

    // A 6-input arithmetic cell: A to D and F connected, its sum and
    // carry-out used; the sum's second addend reads F in place of D. A
    // head's adder halves do not matter beside an unconnected carry-in,
    // which reads 0.
    void add_arithmetic_cell(CDB_ATOM_NODE* cell, CDB_ATOM_OTERM*)
    {
        for (int port : {DB_DATA_A, DB_DATA_B, DB_DATA_C, DB_DATA_D, DB_DATA_F}) data(cell->add_input_term(port));
        cell->set_sum_lutmask(CDB_LUTMASK(5, m_rng() & 0xffffffffu));
        m_pool.push_back(named_output(cell, DB_SUM_OUT));
    }

    int add_adder_chain(const std::string& n, int length)
    {
        CDB_ATOM_OTERM* carry = nullptr;
        for (int b = 0; b < length; ++b) {
            CDB_ATOM_NODE* adder = add(CDB_KIND_HSADDER, n + "_" + std::to_string(b));
            for (int port = DB_DATA_A; port <= DB_DATA_D; ++port) data(adder->add_input_term(port));
            CDB_ATOM_ITERM* cin = adder->add_input_term(DB_CHAIN_IN_0);
            if (carry) carry->insert_fanout(cin);
            m_pool.push_back(named_output(adder, DB_HSADDER_SUM_0));
            m_pool.push_back(named_output(adder, DB_HSADDER_SUM_1));
            carry = named_output(adder, DB_CHAIN_OUT_0);
        }
        m_pool.push_back(carry);
        return length;
    }

    // A control input: a pool signal, or a constant through an inversion bit.
    void control(CDB_ATOM_NODE* reg, int port, bool active)
    {
        CDB_ATOM_ITERM* t = reg->add_input_term(port);
        if (m_o.m_constant_ties && chance(3)) {
            t->set_gnd();
            if (active) t->set_invert();
            return;
        }
        connect(m_pool[pick(m_pool.size())], t, true);
    }

    CDB_ATOM_OTERM* add_register(const std::string& n)
    {
        CDB_ATOM_NODE* reg = add(CDB_KIND_REGISTER, n);
        if (reg->is_register()) {
            data(reg->add_input_term(DB_DATAIN));
        } else {  // UVO: the packed register takes its data through the cell's LUT
            data(reg->add_input_term(DB_DATA_A));
            reg->set_lutmask(blif_family_lutmask(m_o.m_family, 1, 0x2));
        }
        m_clock->insert_fanout(reg->add_input_term(DB_CLOCK));
        if (m_o.m_register_controls >= 0) {
            chosen_controls(reg);
        } else {
            random_controls(reg);
        }
        if (m_reset && chance(3)) connect(m_reset, reg->add_input_term(DB_CLEAR), true);
        return reg->add_output_term(DB_REG_OUT, reg->get_instance_name());
    }

    void random_controls(CDB_ATOM_NODE* reg)
    {
        if (m_o.m_enables && chance(2)) {
            CDB_ATOM_ITERM* ena = reg->add_input_term(DB_CLOCK_ENABLE);
            if (chance(3)) {
                ena->set_gnd();
                ena->set_invert();  // enabled for ever, through its inversion bit
            } else {
                connect(m_shared_enable, ena, true);
            }
        }
        if (m_o.m_synch_controls && chance(3)) control(reg, DB_SYNCH_CLEAR, false);
        if (m_o.m_synch_controls && chance(3)) {
            control(reg, DB_SYNCH_LOAD, false);
            data(reg->add_input_term(DB_SYNCH_DATA));
        }
    }

    // One control of m_register_controls in the chosen style.
    void chosen_control(CDB_ATOM_NODE* reg, int port)
    {
        CDB_ATOM_ITERM* t = reg->add_input_term(port);
        switch (m_o.m_control_style) {
        case SEQ_CONTROL_STYLE::DRIVEN: m_pool[pick(m_pool.size())]->insert_fanout(t); return;
        case SEQ_CONTROL_STYLE::INVERTED:
            m_pool[pick(m_pool.size())]->insert_fanout(t);
            t->set_invert();
            return;
        case SEQ_CONTROL_STYLE::CONSTANT:
            chance(2) ? t->set_gnd() : t->set_vcc();
            if (chance(2)) t->set_invert();
            return;
        }
    }
    void chosen_controls(CDB_ATOM_NODE* reg)
    {
        if (m_o.m_register_controls & 2) chosen_control(reg, DB_CLOCK_ENABLE);
        if (m_o.m_register_controls & 4) chosen_control(reg, DB_SYNCH_CLEAR);
        if (m_o.m_register_controls & 24) {
            chosen_control(reg, DB_SYNCH_LOAD);
            connect(m_pool[pick(m_pool.size())], reg->add_input_term(DB_SYNCH_DATA), true);
        }
    }

    // Block input terms of a bus, each bit from the pool (or a constant tie).
    void bus(CDB_ATOM_NODE* node, int port, int width)
    {
        for (int k = 0; k < width; ++k) data(node->add_input_term(port, k));
    }
    std::vector<CDB_ATOM_OTERM*> out_bus(CDB_ATOM_NODE* node, int port, int width, const std::string& n)
    {
        std::vector<CDB_ATOM_OTERM*> out;
        for (int k = 0; k < width; ++k) out.push_back(node->add_output_term(port, name(n + std::to_string(k)), k));
        return out;
    }
    void take(const std::vector<CDB_ATOM_OTERM*>& outs) { m_pool.insert(m_pool.end(), outs.begin(), outs.end()); }

    // Port A writes and reads at its address, port B reads at its clocked
    // address; port A's output is registered, port B's now and then.
    void add_ram(HDB_INSTANCE_NAME* ram_name)
    {
        CDB_ATOM_NODE* ram = cdb_create_atom(m_o.m_family, CDB_KIND_RAM, ram_name);
        m_netlist->add_node(ram);
        std::string n = ram_name->get_short_hpath();
        std::replace(n.begin(), n.end(), '|', '_');
        const int bits = 1 + static_cast<int>(pick(2));
        int width = 1 + static_cast<int>(pick(3));
        if (m_o.m_ram_width > 0) width = m_o.m_ram_width;
        bus(ram, DB_RAM_PORTA_ADDRESS, bits);
        bus(ram, DB_RAM_PORTB_ADDRESS, bits);
        bus(ram, DB_RAM_PORTA_DATAIN, width);
        data(ram->add_input_term(DB_RAM_PORTA_WE));
        m_clock->insert_fanout(ram->add_input_term(DB_RAM_CLK0));
        m_clock->insert_fanout(ram->add_input_term(DB_RAM_CLK1));
        if (m_o.m_enables && chance(2)) connect(m_shared_enable, ram->add_input_term(DB_RAM_ENA0), true);
        for (int clear : {DB_RAM_CLR0, DB_RAM_CLR1})
            if (m_reset && chance(2)) connect(m_reset, ram->add_input_term(clear), true);
        CUT_RAM_UTIL::set_ram_mode(ram, 0, CDB_RAM_FLAG_SET{CDB_RAM_FLAG_OUTPUT_REGISTERED});
        bool port_b = chance(2);
        if (m_o.m_ram_port_b_registered >= 0) port_b = m_o.m_ram_port_b_registered != 0;
        if (port_b) CUT_RAM_UTIL::set_ram_mode(ram, 1, CDB_RAM_FLAG_SET{CDB_RAM_FLAG_OUTPUT_REGISTERED});
        take(out_bus(ram, DB_RAM_PORTA_DATAOUT, width, n + "_a"));
        take(out_bus(ram, DB_RAM_PORTB_DATAOUT, width, n + "_b"));
    }

    // Clock, enable and clear slot 0 of a DSP atom.
    void mac_controls(CDB_ATOM_NODE* mac)
    {
        m_clock->insert_fanout(mac->add_input_term(DB_CLOCK, 0));
        if (m_o.m_enables && chance(2)) connect(m_shared_enable, mac->add_input_term(DB_CLOCK_ENABLE, 0), true);
        if (m_reset) connect(m_reset, mac->add_input_term(DB_CLEAR, 0), true);
    }
    // A register on a DSP port now and then, cleared when the slice has a clear.
    int slot() { return chance(2) ? 0 : CUT_MAC_NO_CLOCK; }
    int clear_slot() { return m_reset && chance(2) ? 0 : CUT_MAC_NO_CLEAR; }

    // The chosen clock and clear slots of the output register, each on
    // signals of its own: the enable from another pool signal than slot
    // 0's, the clear from the reset through the inversion bit.
    void output_slots(CDB_ATOM_NODE* out)
    {
        const int clock = m_o.m_dsp_out_clock_slot, clear = m_o.m_dsp_out_clear_slot;
        if (out->get_input_term_by_type(DB_CLOCK, clock) == nullptr)
            m_clock->insert_fanout(out->add_input_term(DB_CLOCK, clock));
        CDB_ATOM_ITERM* slot0_enable = out->get_input_term_by_type(DB_CLOCK_ENABLE, 0);
        CDB_ATOM_OTERM* enable = m_pool[pick(m_pool.size())];
        while (slot0_enable != nullptr && enable == slot0_enable->get_source()) enable = m_pool[pick(m_pool.size())];
        if (out->get_input_term_by_type(DB_CLOCK_ENABLE, clock) == nullptr)
            enable->insert_fanout(out->add_input_term(DB_CLOCK_ENABLE, clock));
        CUT_MAC_UTIL::set_output_port_clock(out, DB_DATA_OUT, clock);
        if (clear >= 0 && m_reset != nullptr) {
            if (out->get_input_term_by_type(DB_CLEAR, clear) == nullptr) {
                CDB_ATOM_ITERM* t = out->add_input_term(DB_CLEAR, clear);
                m_reset->insert_fanout(t);
                t->set_invert();
            }
            CUT_MAC_UTIL::set_output_port_clear(out, DB_DATA_OUT, clear);
        }
    }

    // One or two multipliers of 2 or 3 bit operands into an output block
    // (mode 0 or 3) with packed input, pipeline and output registers and
    // programmable output inversion.
    void add_dsp(const std::string& n)
    {
        const int mults = 1 + static_cast<int>(pick(2));
        CDB_ATOM_NODE* out = add(CDB_KIND_MAC_OUT, n + "_o");
        mac_controls(out);
        CUT_MAC_UTIL::set_mode(out, mults == 1 ? CUT_MAC_MODE_SIMPLE_MULTIPLIER : CUT_MAC_MODE_TWO_MULTIPLIERS_ADDER);
        int width = 0;
        for (int k = 0; k < mults; ++k) {
            CDB_ATOM_NODE* mult = add(CDB_KIND_MAC_MULT, n + "_m" + std::to_string(k));
            mac_controls(mult);
            const int wa = 2 + static_cast<int>(pick(2)), wb = 2 + static_cast<int>(pick(2));
            bus(mult, DB_DATA_A, wa);
            bus(mult, DB_DATA_B, wb);
            for (int port : {DB_DATA_A, DB_DATA_B}) {
                CUT_MAC_UTIL::set_input_port_clock(mult, port, slot());
                CUT_MAC_UTIL::set_input_port_clear(mult, port, clear_slot());
            }
            CUT_MAC_UTIL::set_output_port_clock(mult, DB_DATA_OUT, slot());
            CUT_MAC_UTIL::set_output_port_clear(mult, DB_DATA_OUT, clear_slot());
            const int port = DB_DATA_A + k;
            std::vector<CDB_ATOM_OTERM*> product =
                out_bus(mult, DB_DATA_OUT, wa + wb, mult->get_instance_name()->get_short_hpath() + "_p");
            for (size_t b = 0; b < product.size(); ++b)
                product[b]->insert_fanout(out->add_input_term(port, static_cast<int>(b)));
            CUT_MAC_UTIL::set_pipeline_clock(out, port, slot());
            CUT_MAC_UTIL::set_pipeline_clear(out, port, clear_slot());
            width = std::max(width, wa + wb + mults - 1);
        }
        CUT_MAC_UTIL::set_output_port_clock(out, DB_DATA_OUT, slot());
        CUT_MAC_UTIL::set_output_port_clear(out, DB_DATA_OUT, clear_slot());
        if (m_o.m_dsp_out_clock_slot >= 0) output_slots(out);
        for (int b = 0; b < width; ++b)
            if (m_o.m_inversions && chance(3)) CUT_MAC_UTIL::set_output_prog_invert(out, DB_DATA_OUT, b, true);
        take(out_bus(out, DB_DATA_OUT, width, n + "_o_q"));
    }

    SEQ_GEN_OPTIONS m_o;
    std::mt19937_64 m_rng;
    std::unique_ptr<CDB_ATOM_NETLIST> m_netlist;
    int m_lut_size = 4;
    std::vector<CDB_ATOM_OTERM*> m_pool;
    CDB_ATOM_OTERM* m_clock = nullptr;
    CDB_ATOM_OTERM* m_reset = nullptr;
    CDB_ATOM_OTERM* m_shared_enable = nullptr;
};

// The value of output `o` of the cell with slot k forced to `v` and the
// other slots from row bits.
unsigned eval_row(const CDB_ATOM_NODE* cell, const CDB_ATOM_OTERM* o, unsigned row, int k, unsigned v)
{
    unsigned in[CDB_ATOM_NODE::EVALUATE_INPUT_COUNT];
    for (int i = 0; i < CDB_ATOM_NODE::EVALUATE_INPUT_COUNT; ++i) in[i] = (row >> i) & 1u;
    in[k] = v;
    return cell->evaluate_output(o->get_usage(), in);
}

}  // namespace

std::unique_ptr<CDB_ATOM_NETLIST> seq_generate(const SEQ_GEN_OPTIONS& options, uint64_t seed)
{
    return GENERATOR(options, seed).run();
}

CDB_ATOM_NODE* seq_find(const CDB_ATOM_NETLIST& netlist, const std::string& name)
{
    for (CDB_ATOM_NODE* node : netlist)
        if (node->get_instance_name() && node->get_instance_name()->get_short_hpath() == name) return node;
    return nullptr;
}

std::string seq_find_unconnected_dependence(const CDB_ATOM_NETLIST& netlist)
{
    constexpr int SLOTS = CDB_ATOM_NODE::EVALUATE_INPUT_COUNT;
    for (CDB_ATOM_NODE* cell : netlist) {
        if (cell->is_pin() || cell->is_register() || cell->is_ram() || cell->is_mac_mult() || cell->is_mac_out())
            continue;
        for (auto it = cell->begin_oterm(); it != cell->end_oterm(); ++it) {
            const CDB_ATOM_OTERM* o = *it;
            if (!o->has_fanout() || o->is_used_as(DB_REG_OUT)) continue;
            for (int k = 0; k < SLOTS; ++k) {
                // An adder adds its carry-in whatever its mask: a chain head reads 0 there.
                if (k == CDB_ATOM_NODE::EVALUATE_CARRY_SLOT && (cell->is_lcell_hsadder() || cell->get_lut_size() == 6))
                    continue;
                const CDB_ATOM_ITERM* t = cell->get_input_term_by_type(cell->get_evaluate_input_port(k));
                if (t != nullptr && t->is_connected()) continue;
                for (unsigned row = 0; row < (1u << SLOTS); ++row)
                    if (eval_row(cell, o, row, k, 0) != eval_row(cell, o, row, k, 1))
                        return cell->get_instance_name()->get_short_hpath() + " " + o->get_wysiwyg_port_name();
            }
        }
    }
    return "";
}
