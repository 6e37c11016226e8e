#include "shreg_gen.h"

#include <map>
#include <sstream>

#include "cdb/cdb_atom_netlist.h"
#include "cdb/cdb_atom_node.h"
#include "cdb/cdb_native_format.h"
#include "cut/cut_block_util.h"
#include "hdb/hdb_instance_name.h"
#include "io/blif_reader.h"

namespace {

int bits_for(int values)
{
    int n = 1;
    while ((1 << n) < values) ++n;
    return n;
}

// The counter, state by state: address c and, with a clear phase, the
// flag p that the phase is over.
struct COUNTER_STATE
{
    unsigned c = 0;
    bool p = false;
};

// Cell j of an incrementer chain over `bits` bits: the first gives NOT D
// and carries D, a middle one D XOR carry-in and carries D AND carry-in,
// the last one passes its carry-in on.
uint64_t incrementer_mask(int j, int bits)
{
    if (j == 0) return 0x00000000000000FFull;
    return j < bits ? 0x0000FFFF000000FFull : 0x0000FFFF00000000ull;
}

unsigned cycle_of(const SHREG_LAYOUT& s)
{
    return static_cast<unsigned>(s.m_cycle > 0 ? s.m_cycle : s.m_clear_phase + 1);
}

COUNTER_STATE next_state(const SHREG_LAYOUT& s, COUNTER_STATE st)
{
    const unsigned e = static_cast<unsigned>(s.m_clear_phase);
    if (e == 0) return {st.c + 1 >= static_cast<unsigned>(s.m_length) ? 0u : st.c + 1, false};
    // e states of clear phase (c = 0 .. e-1), then a cycle c = e .. e + cycle - 1.
    if (st.p && st.c + 1 >= e + cycle_of(s)) return {e, true};
    return {st.c + 1, st.p || st.c + 1 >= e};
}

unsigned read_address(const SHREG_LAYOUT& s, COUNTER_STATE st)
{
    const unsigned offset = static_cast<unsigned>(s.m_offset);
    const unsigned e = static_cast<unsigned>(s.m_clear_phase);
    if (e == 0) return (st.c + offset) % static_cast<unsigned>(s.m_length);
    if (st.c < e) return st.c + offset;
    return e + (st.c - e + offset) % cycle_of(s);
}

class SHREG_BUILDER
{
public:
    explicit SHREG_BUILDER(CDB_ATOM_NETLIST& netlist) : m_netlist(netlist) {}

    void build(const SHREG_LAYOUT& s)
    {
        if (m_clock == nullptr) m_clock = input("clk");
        const int n = bits_for(s.m_clear_phase > 0 ? s.m_clear_phase + static_cast<int>(cycle_of(s)) : s.m_length);
        std::vector<CDB_ATOM_NODE*> regs;
        for (int k = 0; k < n; ++k) regs.push_back(counter_register(s, shreg_text(s.m_name, "_c", k)));
        if (s.m_clear_phase > 0) regs.push_back(counter_register(s, shreg_text(s.m_name, "_p")));
        // Next-state and read-address cells read every counter register.
        for (int k = 0; k < static_cast<int>(regs.size()); ++k) {
            CDB_ATOM_NODE* cell = lut(shreg_text(s.m_name, "_n", k), regs, n, [&](COUNTER_STATE st) {
                const COUNTER_STATE next = next_state(s, st);
                return k < n ? ((next.c >> k) & 1u) != 0 : next.p;
            });
            cell->get_output_term_by_type(DB_COMB_OUT)
                ->insert_fanout(regs[size_t(k)]->get_input_term_by_type(DB_DATAIN));
        }
        std::vector<CDB_ATOM_OTERM*> read;
        for (int k = 0; k < n; ++k)
            read.push_back(lut(shreg_text(s.m_name, "_r", k), regs, n, [&](COUNTER_STATE st) {
                               return ((read_address(s, st) >> k) & 1u) != 0;
                           })->get_output_term_by_type(DB_COMB_OUT));
        CDB_ATOM_OTERM* clear = nullptr;
        if (s.m_clear_phase > 0) clear = regs.back()->get_output_term_by_type(DB_REG_OUT);
        if (s.m_clear_counter) clear = clear_counter(s);
        for (int r = 0; r < s.m_rams; ++r) ram(s, r, regs, read, n, clear);
        if (s.m_outside_bit)
            regs[0]->get_output_term_by_type(DB_REG_OUT)->insert_fanout(output(shreg_text(s.m_name, "_seen")));
    }

private:
    HDB_INSTANCE_NAME* name(const std::string& n) { return m_netlist.get_name_mgr()->create_unique_name(n, 0); }
    CDB_ATOM_NODE* add(int kind, const std::string& n)
    {
        CDB_ATOM_NODE* node = cdb_create_atom(CDB_FAMILY_OBRAN, kind, name(n));
        m_netlist.add_node(node);
        return node;
    }
    CDB_ATOM_OTERM* input(const std::string& n)
    {
        CDB_ATOM_NODE* pin = add(CDB_KIND_IO, n);
        return pin->add_output_term(DB_DATA_OUT, pin->get_instance_name());
    }
    CDB_ATOM_ITERM* output(const std::string& n)
    {
        CDB_ATOM_NODE* pin = cdb_create_output_pin(CDB_FAMILY_OBRAN, name(n + BLIF_OUTPUT_PIN_SUFFIX));
        m_netlist.add_node(pin);
        return pin->get_input_term_by_type(DB_DATAIN);
    }

    CDB_ATOM_NODE* counter_register(const SHREG_LAYOUT& s, const std::string& n)
    {
        CDB_ATOM_NODE* reg = add(CDB_KIND_REGISTER, n);
        reg->add_input_term(DB_DATAIN);
        m_clock->insert_fanout(reg->add_input_term(DB_CLOCK));
        if (s.m_register_clear == "vcc") reg->add_input_term(DB_CLEAR)->set_vcc();
        if (s.m_register_clear == "gnd") reg->add_input_term(DB_CLEAR)->set_gnd();
        reg->add_output_term(DB_REG_OUT, reg->get_instance_name());
        return reg;
    }

    // A cell of the counter registers' values (bit k of the row is register
    // k; the last register is the phase flag when there is one).
    template <typename FN>
    CDB_ATOM_NODE* lut(const std::string& n, const std::vector<CDB_ATOM_NODE*>& regs, int bits, FN fn)
    {
        CDB_ATOM_NODE* cell = add(CDB_KIND_LCELL_COMB, n);
        const int k = static_cast<int>(regs.size());
        uint64_t truth = 0;
        for (unsigned row = 0; row < (1u << k); ++row) {
            COUNTER_STATE st;
            st.c = row & ((1u << bits) - 1u);
            st.p = ((row >> bits) & 1u) != 0;
            if (fn(st)) truth |= 1ull << row;
        }
        for (int i = 0; i < k; ++i)
            regs[size_t(i)]->get_output_term_by_type(DB_REG_OUT)->insert_fanout(cell->add_input_term(DB_DATA_A + i));
        cell->set_lutmask(blif_family_lutmask(CDB_FAMILY_OBRAN, k, truth));
        cell->add_output_term(DB_COMB_OUT, cell->get_instance_name());
        return cell;
    }

    // Registers counting up from NOT (L - 2) to all ones, where they stay,
    // through an incrementer chain; a bit whose start value is 1 is held
    // inverted so that power-up at 0 stands for it. The register behind the
    // chain's end turns 1 once the count is full: read inverted it keeps the
    // RAM's output clear on for the first L - 1 states.
    CDB_ATOM_OTERM* clear_counter(const SHREG_LAYOUT& s)
    {
        const int b = bits_for(s.m_length - 1);
        const unsigned start = ~static_cast<unsigned>(s.m_length - 2) & ((1u << b) - 1u);
        std::vector<CDB_ATOM_NODE*> regs;
        std::vector<CDB_ATOM_OTERM*> count;
        for (int k = 0; k < b; ++k) {
            regs.push_back(counter_register(s, shreg_text(s.m_name, "_k", k)));
            CDB_ATOM_OTERM* out = regs.back()->get_output_term_by_type(DB_REG_OUT);
            if (((start >> k) & 1u) != 0) out = inverter(shreg_text(s.m_name, "_ki", k), out);
            count.push_back(out);
        }
        std::vector<CDB_ATOM_NODE*> chain;
        for (int j = 0; j <= b; ++j) {
            CDB_ATOM_NODE* cell = add(CDB_KIND_LCELL_COMB, shreg_text(s.m_name, "_kc", j));
            CDB_ATOM_ITERM* carry_in = cell->add_input_term(DB_CARRY_IN);
            if (j < b) count[size_t(j)]->insert_fanout(cell->add_input_term(DB_DATA_D));
            if (j > 0) chain.back()->get_output_term_by_type(DB_CARRY_OUT)->insert_fanout(carry_in);
            cell->set_lutmask(CDB_LUTMASK(6, incrementer_mask(j, b)));
            cell->add_output_term(DB_SUM_OUT, name(shreg_text(s.m_name, "_kc", j, "_sum")));
            cell->add_output_term(DB_CARRY_OUT, name(shreg_text(s.m_name, "_kc", j, "_carry")));
            chain.push_back(cell);
        }
        CDB_ATOM_OTERM* full = chain.back()->get_output_term_by_type(DB_SUM_OUT);
        for (int k = 0; k < b; ++k) {
            // Count + 1, or all ones again once full; inverted where held so.
            const bool held_inverted = ((start >> k) & 1u) != 0;
            CDB_ATOM_NODE* cell = add(CDB_KIND_LCELL_COMB, shreg_text(s.m_name, "_kn", k));
            chain[size_t(k)]->get_output_term_by_type(DB_SUM_OUT)->insert_fanout(cell->add_input_term(DB_DATA_A));
            full->insert_fanout(cell->add_input_term(DB_DATA_B));
            cell->set_lutmask(blif_family_lutmask(CDB_FAMILY_OBRAN, 2, held_inverted ? 0x1 : 0xE));
            cell->add_output_term(DB_COMB_OUT, cell->get_instance_name())
                ->insert_fanout(regs[size_t(k)]->get_input_term_by_type(DB_DATAIN));
        }
        CDB_ATOM_NODE* done = counter_register(s, shreg_text(s.m_name, "_kd"));
        full->insert_fanout(done->get_input_term_by_type(DB_DATAIN));
        return done->get_output_term_by_type(DB_REG_OUT);
    }

    CDB_ATOM_OTERM* inverter(const std::string& n, CDB_ATOM_OTERM* from)
    {
        CDB_ATOM_NODE* cell = add(CDB_KIND_LCELL_COMB, n);
        from->insert_fanout(cell->add_input_term(DB_DATA_A));
        cell->set_lutmask(blif_family_lutmask(CDB_FAMILY_OBRAN, 1, 0x1));
        return cell->add_output_term(DB_COMB_OUT, cell->get_instance_name());
    }

    // With logic asked for: a register, then a chain of buffer cells.
    CDB_ATOM_OTERM* logic(const SHREG_LAYOUT& s, const std::string& base, CDB_ATOM_OTERM* from)
    {
        if (s.m_logic == 0) return from;
        CDB_ATOM_NODE* reg = add(CDB_KIND_REGISTER, shreg_text(base, "_reg"));
        from->insert_fanout(reg->add_input_term(DB_DATAIN));
        m_clock->insert_fanout(reg->add_input_term(DB_CLOCK));
        CDB_ATOM_OTERM* out = reg->add_output_term(DB_REG_OUT, reg->get_instance_name());
        for (int k = 0; k < s.m_logic; ++k) {
            CDB_ATOM_NODE* cell = add(CDB_KIND_LCELL_COMB, shreg_text(base, "_l", k));
            out->insert_fanout(cell->add_input_term(DB_DATA_A));
            cell->set_lutmask(blif_family_lutmask(CDB_FAMILY_OBRAN, 1, 0x2));
            out = cell->add_output_term(DB_COMB_OUT, cell->get_instance_name());
        }
        return out;
    }

    void tie(CDB_ATOM_ITERM* iterm, bool high) { high ? iterm->set_vcc() : iterm->set_gnd(); }

    void ram(const SHREG_LAYOUT& s, int r, const std::vector<CDB_ATOM_NODE*>& regs,
             const std::vector<CDB_ATOM_OTERM*>& read, int n, CDB_ATOM_OTERM* clear_source)
    {
        const std::string base = shreg_text(s.m_name, "_ram", r);
        CDB_ATOM_NODE* ram = add(CDB_KIND_RAM, base);
        for (int k = 0; k < n; ++k) {
            regs[size_t(k)]
                ->get_output_term_by_type(DB_REG_OUT)
                ->insert_fanout(ram->add_input_term(DB_RAM_PORTA_ADDRESS, k));
            read[size_t(k)]->insert_fanout(ram->add_input_term(DB_RAM_PORTB_ADDRESS, k));
        }
        CDB_ATOM_ITERM* d = ram->add_input_term(DB_RAM_PORTA_DATAIN);
        const bool inverted = !s.m_data.empty() && s.m_data[0] == '!';
        const std::string data = inverted ? s.m_data.substr(1) : s.m_data;
        if (data == "d")
            logic(s, shreg_text(s.m_name, "_w", r), input(shreg_text(s.m_name, "_d", r)))->insert_fanout(d);
        else tie(d, data == "vcc");
        if (inverted) d->set_invert();
        if (s.m_port_a_we) tie(ram->add_input_term(DB_RAM_PORTA_WE), true);
        if (s.m_port_b_re) tie(ram->add_input_term(DB_RAM_PORTB_RE), true);
        if (s.m_port_a_re) tie(ram->add_input_term(DB_RAM_PORTA_RE), true);
        if (s.m_port_b_we) tie(ram->add_input_term(DB_RAM_PORTB_WE), true);
        m_clock->insert_fanout(ram->add_input_term(DB_RAM_CLK0));
        m_clock->insert_fanout(ram->add_input_term(DB_RAM_CLK1));
        if (clear_source != nullptr) {
            // The output clear acts at 1: on while the phase flag (or the
            // full clear count) is still 0.
            CDB_ATOM_ITERM* clear = ram->add_input_term(DB_RAM_CLR1);
            clear_source->insert_fanout(clear);
            clear->set_invert();
        }
        if (s.m_port_b_registered) CUT_RAM_UTIL::set_ram_mode(ram, 1, CDB_RAM_FLAG_SET{CDB_RAM_FLAG_OUTPUT_REGISTERED});
        if (s.m_port_a_registered) CUT_RAM_UTIL::set_ram_mode(ram, 0, CDB_RAM_FLAG_SET{CDB_RAM_FLAG_OUTPUT_REGISTERED});
        if (s.m_read_old_data) CUT_RAM_UTIL::set_ram_mode(ram, 1, CDB_RAM_FLAG_SET{CDB_RAM_FLAG_READ_OLD_DATA});
        CDB_ATOM_OTERM* q = ram->add_output_term(DB_RAM_PORTB_DATAOUT, name(shreg_text(base, "_b0")));
        logic(s, shreg_text(s.m_name, "_x", r), q)->insert_fanout(output(shreg_text(s.m_name, "_q", r)));
    }

    CDB_ATOM_NETLIST& m_netlist;
    CDB_ATOM_OTERM* m_clock = nullptr;
};

}  // namespace

std::unique_ptr<CDB_ATOM_NETLIST> shreg_generate(const std::vector<SHREG_LAYOUT>& layouts)
{
    auto netlist = std::make_unique<CDB_ATOM_NETLIST>(CDB_FAMILY_OBRAN);
    netlist->set_name_mgr(new HDB_NAME_MGR("top"), true);
    SHREG_BUILDER builder(*netlist);
    for (const SHREG_LAYOUT& s : layouts) builder.build(s);
    return netlist;
}

SHREG_ADDRESSES shreg_expected_addresses(const SHREG_LAYOUT& layout, int states)
{
    SHREG_ADDRESSES a;
    COUNTER_STATE st;
    for (int t = 0; t < states; ++t) {
        a.write.push_back(st.c);
        a.read.push_back(read_address(layout, st));
        st = next_state(layout, st);
    }
    return a;
}

std::vector<SHREG_LAYOUT> shreg_sample_layouts()
{
    std::vector<SHREG_LAYOUT> layouts;
    for (int length : {4, 7, 10}) {
        SHREG_LAYOUT s;
        s.m_name = shreg_text("s", length);
        s.m_length = length;
        s.m_logic = length == 4 ? 0 : 6;
        layouts.push_back(s);
    }
    SHREG_LAYOUT phase;
    phase.m_name = shreg_text("p", 3);
    phase.m_clear_phase = 3;
    layouts.push_back(phase);
    SHREG_LAYOUT shared;
    shared.m_name = shreg_text("m", 2);
    shared.m_rams = 2;
    shared.m_logic = 6;
    layouts.push_back(shared);
    SHREG_LAYOUT outside;
    outside.m_name = shreg_text("o", 7);
    outside.m_outside_bit = true;
    layouts.push_back(outside);
    SHREG_LAYOUT counted;
    counted.m_name = shreg_text("k", 10);
    counted.m_length = 10;
    counted.m_clear_counter = true;
    counted.m_logic = 6;
    layouts.push_back(counted);
    SHREG_LAYOUT at_write;
    at_write.m_name = shreg_text("z", 7);
    at_write.m_offset = 0;
    at_write.m_read_old_data = true;
    at_write.m_logic = 6;
    layouts.push_back(at_write);
    return layouts;
}

namespace {

// A "<id>" or, in a fanout line, "<id>.<slot>" word with the id mapped.
std::string map_word(const std::map<std::string, std::string>& ids, const std::string& word, bool sink)
{
    const size_t dot = sink ? word.find('.') : std::string::npos;
    const std::string id = dot == std::string::npos ? word : word.substr(0, dot);
    auto found = ids.find(id);
    std::string mapped = found == ids.end() ? id : found->second;
    if (dot != std::string::npos) mapped += word.substr(dot);
    return mapped;
}

}  // namespace

std::string shreg_native_text(const CDB_ATOM_NETLIST& netlist)
{
    std::ostringstream raw;
    cdb_write_native_netlist(netlist, raw);
    const std::string text = raw.str();
    std::map<std::string, std::string> ids;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        std::istringstream words(line);
        std::string head, id;
        if (words >> head >> id && head == "node") ids.emplace(id, std::to_string(ids.size() + 1));
    }
    std::ostringstream out;
    std::istringstream again(text);
    for (std::string line; std::getline(again, line);) {
        std::istringstream words(line);
        std::string head;
        words >> head;
        if (head != "node" && head != "fanout") {
            out << line << "\n";
            continue;
        }
        std::string id, word;
        words >> id;
        std::string rewritten = head;
        rewritten += ' ';
        rewritten += map_word(ids, id, false);
        while (words >> word) {
            rewritten += ' ';
            rewritten += head == "fanout" ? map_word(ids, word, true) : word;
        }
        out << rewritten << "\n";
    }
    return out.str();
}
