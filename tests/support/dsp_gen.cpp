#include "dsp_gen.h"

#include <algorithm>
#include <map>
#include <vector>

#include "cdb/cdb_atom_node.h"
#include "cut/cut_block_util.h"
#include "hdb/hdb_instance_name.h"
#include "io/blif_reader.h"

namespace {

std::string indexed(const char* prefix, int a, int b)
{
    std::string s(prefix);
    s += std::to_string(a);
    s += '_';
    s += std::to_string(b);
    return s;
}

int mode_for(int mults)
{
    if (mults == 1) return CUT_MAC_MODE_SIMPLE_MULTIPLIER;
    return mults == 2 ? CUT_MAC_MODE_TWO_MULTIPLIERS_ADDER : CUT_MAC_MODE_FOUR_MULTIPLIERS_ADDER;
}

class DSP_GENERATOR
{
public:
    explicit DSP_GENERATOR(const DSP_GEN_OPTIONS& o) : m_o(o), m_netlist(std::make_unique<CDB_ATOM_NETLIST>(o.m_family))
    {
        m_netlist->set_name_mgr(new HDB_NAME_MGR("top"), true);
    }

    std::unique_ptr<CDB_ATOM_NETLIST> run()
    {
        m_clock = input("clk");
        if (m_o.m_clear) m_reset = input("rst");
        CDB_ATOM_NODE* out = add(CDB_KIND_MAC_OUT, "d_o");
        m_blocks.push_back(out);
        CUT_MAC_UTIL::set_mode(out, mode_for(m_o.m_mults));
        int width = 0;
        for (int m = 0; m < m_o.m_mults; ++m) width = std::max(width, add_mult(m, out));
        const int extra = m_o.m_mults == 1 ? 0 : (m_o.m_mults == 2 ? 1 : 2);
        width += extra;
        if (m_o.m_packed_output) {
            slot_controls(out, m_o.m_output_clock_slot);
            CUT_MAC_UTIL::set_output_port_clock(out, DB_DATA_OUT, m_o.m_output_clock_slot);
            if (m_reset) CUT_MAC_UTIL::set_output_port_clear(out, DB_DATA_OUT, m_o.m_output_clock_slot);
        }
        for (CDB_ATOM_NODE* block : m_blocks) {
            if (m_o.m_slot_controls || m_o.m_gated_slot) slot_controls(block, 0);
            if (m_o.m_gated_slot && block->get_input_term_by_type(DB_CLOCK_ENABLE, 0) == nullptr)
                pin("g")->insert_fanout(block->add_input_term(DB_CLOCK_ENABLE, 0));
            foreign_clocks(block);
        }
        std::vector<CDB_ATOM_OTERM*> bits;
        for (int k = 0; k < width; ++k) {
            bits.push_back(out->add_output_term(DB_DATA_OUT, name(indexed("d_o_q", 0, k)), k));
            if (m_o.m_output_invert && k % 2 == 1) CUT_MAC_UTIL::set_output_prog_invert(out, DB_DATA_OUT, k, true);
        }
        if (m_o.m_tapped_bit >= 0) bits.at(static_cast<size_t>(m_o.m_tapped_bit))->insert_fanout(output("t"));
        for (int level = 0; level < m_o.m_logic_levels; ++level) bits = logic_level(level, bits);
        for (int k = 0; k < static_cast<int>(bits.size()); ++k) {
            CDB_ATOM_OTERM* q = bits[static_cast<size_t>(k)];
            if (m_o.m_fanout_registers) q = add_register(indexed("rq", 0, k), q, k);
            q->insert_fanout(output(indexed("o", 0, k)));
        }
        return std::move(m_netlist);
    }

private:
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
    // `bit`: the register's operand or output bit where the options make
    // one bit's registers differ, -1 elsewhere.
    CDB_ATOM_OTERM* add_register(const std::string& n, CDB_ATOM_OTERM* d, int bit = -1)
    {
        CDB_ATOM_NODE* reg = add(CDB_KIND_REGISTER, n);
        if (reg->is_register()) {
            d->insert_fanout(reg->add_input_term(DB_DATAIN));
        } else {  // UVO: the packed register takes its data through the cell's LUT
            d->insert_fanout(reg->add_input_term(DB_DATA_A));
            reg->set_lutmask(blif_family_lutmask(m_o.m_family, 1, 0x2));
        }
        m_clock->insert_fanout(reg->add_input_term(DB_CLOCK));
        if (m_reset) m_reset->insert_fanout(reg->add_input_term(DB_CLEAR));
        if (bit >= 0 && bit == m_o.m_enabled_bit) pin("en")->insert_fanout(reg->add_input_term(DB_CLOCK_ENABLE));
        if (bit >= 0 && bit == m_o.m_loaded_bit) {
            pin("sl")->insert_fanout(reg->add_input_term(DB_SYNCH_LOAD));
            pin("sd")->insert_fanout(reg->add_input_term(DB_SYNCH_DATA));
        }
        return reg->add_output_term(DB_REG_OUT, reg->get_instance_name());
    }
    // An input pin made on first use.
    CDB_ATOM_OTERM* pin(const std::string& n)
    {
        CDB_ATOM_OTERM*& made = m_pins[n];
        if (made == nullptr) made = input(n);
        return made;
    }
    // Clock and clear of one slot, on the design's clock and reset.
    void slot_controls(CDB_ATOM_NODE* mac, int slot)
    {
        if (mac->get_input_term_by_type(DB_CLOCK, slot) == nullptr)
            m_clock->insert_fanout(mac->add_input_term(DB_CLOCK, slot));
        if (m_reset && mac->get_input_term_by_type(DB_CLEAR, slot) == nullptr)
            m_reset->insert_fanout(mac->add_input_term(DB_CLEAR, slot));
    }
    // Other registers' clocks in free slots, cleared by the design's reset,
    // so that only a register without a clear misses a clear slot. Slot 0
    // is left alone: the host takes a block's clock from there.
    void foreign_clocks(CDB_ATOM_NODE* mac)
    {
        int left = m_o.m_foreign_clocks;
        for (int slot = 1; slot < 4 && left > 0; ++slot) {
            if (mac->get_input_term_by_type(DB_CLOCK, slot) != nullptr) continue;
            --left;
            std::string clock = "k";
            clock += std::to_string(slot);
            pin(clock)->insert_fanout(mac->add_input_term(DB_CLOCK, slot));
            if (m_reset && mac->get_input_term_by_type(DB_CLEAR, slot) == nullptr)
                m_reset->insert_fanout(mac->add_input_term(DB_CLEAR, slot));
        }
    }

    void operand(CDB_ATOM_NODE* mult, int port, int m, int width)
    {
        const char* pin = port == DB_DATA_A ? "a" : "b";
        const char* reg = port == DB_DATA_A ? "ra" : "rb";
        for (int k = 0; k < width; ++k) {
            CDB_ATOM_ITERM* t = mult->add_input_term(port, k);
            if (k >= width - m_o.m_vcc_bits) {
                t->set_logical_vcc();
                continue;
            }
            CDB_ATOM_OTERM* d = input(indexed(pin, m, k));
            if (m_o.m_front_lut && m == 0 && k == 0 && port == DB_DATA_A) d = front_lut(d, input("f0_in"));
            if (m_o.m_external_inputs) d = add_register(indexed(reg, m, k), d, m == 0 && port == DB_DATA_A ? k : -1);
            d->insert_fanout(t);
            if (m_o.m_inverted_pin && port == DB_DATA_A && k == 0) t->set_invert();
        }
        if (!m_o.m_packed_inputs || (m_o.m_packed_b_only && port == DB_DATA_A)) return;
        slot_controls(mult, 0);
        CUT_MAC_UTIL::set_input_port_clock(mult, port, 0);
        if (m_reset) CUT_MAC_UTIL::set_input_port_clear(mult, port, 0);
        const int observable = CUT_MAC_UTIL::get_observable_port_type(port);
        for (int k = 0; k < width; ++k)
            mult->add_output_term(observable, name(indexed(port == DB_DATA_A ? "d_m_ra" : "d_m_rb", m, k)), k);
    }

    int add_mult(int m, CDB_ATOM_NODE* out)
    {
        std::string n = "d_m";
        n += std::to_string(m);
        CDB_ATOM_NODE* mult = add(CDB_KIND_MAC_MULT, n);
        m_blocks.push_back(mult);
        operand(mult, DB_DATA_A, m, m_o.m_width_a);
        operand(mult, DB_DATA_B, m, m_o.m_width_b);
        if (m_o.m_mult_outputs) {
            slot_controls(mult, 0);
            CUT_MAC_UTIL::set_output_port_clock(mult, DB_DATA_OUT, 0);
            if (m_reset) CUT_MAC_UTIL::set_output_port_clear(mult, DB_DATA_OUT, 0);
        }
        const int width = m_o.m_width_a + m_o.m_width_b;
        for (int k = 0; k < width; ++k) {
            CDB_ATOM_OTERM* p = mult->add_output_term(DB_DATA_OUT, name(indexed("d_p", m, k)), k);
            p->insert_fanout(out->add_input_term(DB_DATA_A + m, k));
            if (m == 0 && k == m_o.m_tapped_product) p->insert_fanout(output("tp"));
        }
        return width;
    }

    CDB_ATOM_OTERM* front_lut(CDB_ATOM_OTERM* a, CDB_ATOM_OTERM* b)
    {
        CDB_ATOM_NODE* cell = add(CDB_KIND_LCELL_COMB, "f0");
        a->insert_fanout(cell->add_input_term(DB_DATA_A));
        b->insert_fanout(cell->add_input_term(DB_DATA_B));
        cell->set_lutmask(blif_family_lutmask(m_o.m_family, 2, 0x6));
        return cell->add_output_term(DB_COMB_OUT, cell->get_instance_name());
    }

    // Each bit of the level mixes two neighbouring bits of the one before.
    std::vector<CDB_ATOM_OTERM*> logic_level(int level, const std::vector<CDB_ATOM_OTERM*>& in)
    {
        std::vector<CDB_ATOM_OTERM*> out;
        const size_t n = in.size();
        for (size_t k = 0; k < n; ++k) {
            CDB_ATOM_NODE* cell = add(CDB_KIND_LCELL_COMB, indexed("c", level, static_cast<int>(k)));
            in[k]->insert_fanout(cell->add_input_term(DB_DATA_A));
            in[(k + 1) % n]->insert_fanout(cell->add_input_term(DB_DATA_B));
            // XOR on the low bits, AND-OR mixes above, so that no level cancels out.
            cell->set_lutmask(blif_family_lutmask(m_o.m_family, 2, k % 3 == 2 ? 0xe : 0x6));
            out.push_back(cell->add_output_term(DB_COMB_OUT, cell->get_instance_name()));
        }
        return out;
    }

    DSP_GEN_OPTIONS m_o;
    std::unique_ptr<CDB_ATOM_NETLIST> m_netlist;
    CDB_ATOM_OTERM* m_clock = nullptr;
    CDB_ATOM_OTERM* m_reset = nullptr;
    std::vector<CDB_ATOM_NODE*> m_blocks;
    std::map<std::string, CDB_ATOM_OTERM*> m_pins;
};

}  // namespace

std::unique_ptr<CDB_ATOM_NETLIST> dsp_generate(const DSP_GEN_OPTIONS& options)
{
    return DSP_GENERATOR(options).run();
}

DSP_GEN_OPTIONS dsp_sample_options(int family)
{
    DSP_GEN_OPTIONS o;
    o.m_family = family;
    o.m_logic_levels = 3;
    switch (family) {
    case CDB_FAMILY_ZEPLA:
        o.m_mults = 1;
        o.m_width_a = 5;
        o.m_width_b = 5;
        o.m_external_inputs = false;
        o.m_packed_inputs = true;
        break;
    case CDB_FAMILY_OBRAN:
        o.m_width_a = 6;
        o.m_packed_output = true;
        o.m_fanout_registers = false;
        break;
    case CDB_FAMILY_UVO:
        o.m_mults = 3;
        o.m_width_b = 5;
        o.m_external_inputs = false;
        o.m_packed_inputs = true;
        o.m_front_lut = true;
        break;
    default:  // BRK and the like
        o.m_packed_output = true;
        break;
    }
    return o;
}
