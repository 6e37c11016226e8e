#include "io/blif_writer.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <ostream>
#include <stdexcept>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "cdb/cdb_atom_netlist.h"
#include "cut/cut_atom_util.h"
#include "cut/cut_block_function.h"
#include "fio/fio.h"
#include "io/blif_parser.h"
#include "io/blif_reader.h"
#include "io/blif_str_cat.h"
#include "io/blif_table_cover.h"

namespace {

// What an input of a cell sees: a net (possibly complemented) or a constant.
struct SIGNAL
{
    int net = -1;
    unsigned invert = 0;
    unsigned constant = 0;  // value when net < 0
};

// Most slots a written function reads: a logic cell's (those of
// evaluate_output) or a register's next state (below).
constexpr int k_max_vars = CDB_ATOM_NODE::EVALUATE_INPUT_COUNT;

// Slots of the register next-state function.
enum REG_SLOT
{
    R_D,
    R_ENA,
    R_SCLR,
    R_SLOAD,
    R_SDATA,
    R_CLR,
    R_ALOAD,
    R_ADATA,
    R_Q,
    R_COUNT
};
constexpr int k_reg_ports[R_COUNT - 1] = {DB_DATAIN,     DB_CLOCK_ENABLE, DB_SYNCH_CLEAR, DB_SYNCH_LOAD,
                                          DB_SYNCH_DATA, DB_CLEAR,        DB_ASYNCH_LOAD, DB_ASYNCH_DATA};
static_assert(R_COUNT <= k_max_vars);

// The written name behind an instance name; "n<id>" for an atom without one.
std::string written_base(const HDB_INSTANCE_NAME* name, const CDB_ATOM_NODE* node)
{
    return blif_written_name(name ? name->get_short_hpath() : str_cat("n", std::to_string(node->get_id())));
}

class WRITER
{
public:
    WRITER(const CDB_ATOM_NETLIST& netlist, std::ostream& out, const std::string& model, const std::string& label)
        : m_netlist(netlist), m_out(out), m_model(model), m_label(label)
    {}

    void run()
    {
        name_nets();
        m_out << ".model " << blif_written_name(m_model) << "\n";
        write_port_list(".inputs", m_input_ports);
        write_port_list(".outputs", m_output_port_names);
        for (CDB_ATOM_NODE* node : m_netlist) write_node(node);
        for (size_t i = 0; i < m_output_pins.size(); ++i) write_output_pin(m_output_pins[i], m_output_port_names[i]);
        m_out << ".end\n";
    }

    // Names the nets only, which is where ports are found that cannot be written.
    void name_ports() { name_nets(); }

private:
    [[noreturn]] void fail(const std::string& what) const { throw BLIF_ERROR(m_label, 0, what); }

    // ---------------------------------------------------------------- names

    int new_net(std::string_view name)
    {
        m_net_names.push_back(keep(name));
        return static_cast<int>(m_net_names.size()) - 1;
    }

    // A new net named base, or base with the first free "~<n>" suffix.
    int new_unique_net(std::string_view base)
    {
        std::string name(base);
        if (name_used(name)) {
            unsigned& n = m_suffix[name];
            do {
                name = str_cat(base, "~", std::to_string(++n));
            } while (name_used(name));
        }
        const int net = new_net(name);
        use_name(net);
        return net;
    }

    // Net names are kept once, in blocks that never move.
    std::string_view keep(std::string_view s)
    {
        if (s.size() > m_chars_left) {
            m_chars_left = std::max<size_t>(size_t(1) << 16, s.size());
            m_char_blocks.push_back(std::make_unique<char[]>(m_chars_left));
            m_next_char = m_char_blocks.back().get();
        }
        std::copy(s.begin(), s.end(), m_next_char);
        const std::string_view kept(m_next_char, s.size());
        m_next_char += s.size();
        m_chars_left -= s.size();
        return kept;
    }

    // The names taken: open addressing over keys, a net (>= 0) or the
    // complement of an output port's index (< 0); as many names as atoms.
    static constexpr int32_t FREE = INT32_MIN;
    std::string_view name_of_key(int32_t key) const
    {
        return key >= 0 ? m_net_names[static_cast<size_t>(key)]
                        : std::string_view(m_output_port_names[static_cast<size_t>(~key)]);
    }
    size_t slot_of(std::string_view name) const { return std::hash<std::string_view>()(name) & (m_used.size() - 1); }
    bool name_used(std::string_view name) const
    {
        if (m_used.empty()) return false;
        for (size_t i = slot_of(name); m_used[i] != FREE; i = (i + 1) & (m_used.size() - 1))
            if (name_of_key(m_used[i]) == name) return true;
        return false;
    }
    void use_name(int32_t key)
    {
        if ((m_used_count + 1) * 2 > m_used.size()) {
            std::vector<int32_t> old(std::max<size_t>(64, m_used.size() * 2), FREE);
            old.swap(m_used);
            for (int32_t k : old)
                if (k != FREE) place_key(k);
        }
        place_key(key);
        ++m_used_count;
    }
    void place_key(int32_t key)
    {
        size_t i = slot_of(name_of_key(key));
        while (m_used[i] != FREE) i = (i + 1) & (m_used.size() - 1);
        m_used[i] = key;
    }

    // The net of an output term, -1 when it has none. An atom's terms take
    // consecutive nets in slot order (a pin only its input port's), so one
    // entry per atom finds them.
    int find_net(const CDB_ATOM_OTERM* o) const
    {
        const CDB_ATOM_NODE* node = o ? o->get_my_node() : nullptr;
        if (!node || node->get_id() < m_id_base || node->get_id() - m_id_base >= m_first_net.size()) return -1;
        const int first = m_first_net[node->get_id() - m_id_base];
        if (first < 0) return -1;
        if (node->is_pin()) return node->get_output_term_by_type(DB_DATA_OUT) == o ? first : -1;
        int k = 0;
        for (auto it = node->begin_oterm(); it != node->end_oterm(); ++it) {
            if (*it == o) return first + k;
            if (!listed_before(node, it)) ++k;
        }
        return -1;
    }
    // A term a node lists twice takes its net at the first listing.
    static bool listed_before(const CDB_ATOM_NODE* node, CDB_ATOM_NODE::oterm_iterator at)
    {
        for (auto it = node->begin_oterm(); it != at; ++it)
            if (*it == *at) return true;
        return false;
    }
    void set_first_net(const CDB_ATOM_NODE* node, int net) { m_first_net[node->get_id() - m_id_base] = net; }

    // Ports first: their names are fixed. An output port whose driver would
    // carry the same name simply is that net; any other net wanting a port's
    // name gets a suffix.
    void name_nets()
    {
        std::unordered_map<std::string, const CDB_ATOM_OTERM*> port_driver;
        if (m_netlist.get_node_count() > 0) {
            m_id_base = m_netlist.get_min_id_bound();
            m_first_net.assign(m_netlist.get_max_id() - m_id_base + 1, -1);
        }
        for (CDB_ATOM_NODE* node : m_netlist) {
            if (!node->is_pin()) continue;
            std::string name = node->get_instance_name() ? node->get_instance_name()->get_short_hpath()
                                                         : str_cat("pin", std::to_string(node->get_id()));
            if (node->get_output_term_by_type(DB_DATA_OUT) != nullptr) {
                std::string port = blif_written_name(name);
                if (name_used(port)) fail("input port name '" + port + "' is used twice");
                const int net = new_net(port);
                use_name(net);
                set_first_net(node, net);
                m_input_ports.push_back(port);
            }
            if (CDB_ATOM_ITERM* in = node->get_input_term_by_type(DB_DATAIN)) {
                std::string port = blif_written_name(blif_output_port_name(name));
                if (!m_output_ports.insert(port).second) fail("output port name '" + port + "' is used twice");
                m_output_pins.push_back(in);
                m_output_port_names.push_back(port);
                bool plain = in->is_driven() && !in->is_inverted() && in->is_active_high();
                port_driver[port] = plain ? in->get_source() : nullptr;
            }
        }
        for (const std::string& port : m_output_port_names) {
            if (!name_used(port)) continue;
            // Same name as an input port: legal only when the output is that input.
            const CDB_ATOM_OTERM* d = port_driver[port];
            const int net = find_net(d);
            if (net < 0 || m_net_names[net] != port)
                fail("port name '" + port + "' is both an input and an output that is not driven by it");
        }
        for (size_t i = 0; i < m_output_port_names.size(); ++i) use_name(~static_cast<int32_t>(i));

        for (CDB_ATOM_NODE* node : m_netlist) {
            bool first = true;
            for (auto it = node->begin_oterm(); it != node->end_oterm(); ++it) {
                CDB_ATOM_OTERM* o = *it;
                // A pin's only net is its input port's; its pad stands for the
                // .outputs entry and must not claim a name the other nets want.
                if (node->is_pin()) {
                    if (find_net(o) < 0 && o->has_fanout())
                        fail(cut_atom_label(node) + ": pin output " + o->get_wysiwyg_port_name() +
                             " cannot be written");
                    continue;
                }
                if (listed_before(node, it)) continue;
                HDB_INSTANCE_NAME* n = o->get_instance_name() ? o->get_instance_name() : node->get_instance_name();
                std::string base = written_base(n, node);
                auto pd = port_driver.find(base);
                int net;
                if (pd != port_driver.end() && pd->second == o && m_output_ports.count(base) &&
                    !m_claimed.count(base)) {
                    m_claimed.insert(base);
                    net = new_net(base);
                } else {
                    net = new_unique_net(base);
                }
                if (first) set_first_net(node, net);
                first = false;
            }
        }
    }

    void write_port_list(const char* keyword, const std::vector<std::string>& names)
    {
        if (names.empty()) return;
        m_out << keyword;
        size_t column = 0;
        for (const std::string& n : names) {
            if (column > 0 && column + n.size() > 100) {
                m_out << " \\\n";
                column = 0;
            }
            m_out << ' ' << n;
            column += n.size() + 1;
        }
        m_out << "\n";
    }

    // ---------------------------------------------------------------- signals

    SIGNAL signal_of(const CDB_ATOM_ITERM* t, unsigned floating) const
    {
        SIGNAL s;
        if (t == nullptr || !t->is_connected()) {
            s.constant = floating;
            return s;
        }
        if (!t->is_driven()) {
            s.constant = t->is_logical_vcc() ? 1 : 0;
            return s;
        }
        s.net = find_net(t->get_source());
        if (s.net < 0)
            fail(cut_atom_label(t->get_my_node()) + " reads " + t->get_wysiwyg_port_name() +
                 " from outside the netlist");
        s.invert = t->reads_complemented() ? 1u : 0u;
        return s;
    }

    int net_of(const CDB_ATOM_OTERM* o) const
    {
        const int net = find_net(o);
        if (net < 0) throw std::out_of_range("output term without a net");
        return net;
    }

    // ---------------------------------------------------------------- covers

    // Writes `.names` for out = f(slot values). Slots read nets or constants;
    // the cover lists the distinct nets the function depends on, so constant
    // functions come out with no inputs.
    template <typename F>
    void write_function(int out, const SIGNAL* slots, int count, F&& f)
    {
        int vars[k_max_vars];
        int slot_var[k_max_vars];
        int nvars = 0;
        for (int i = 0; i < count; ++i) {
            slot_var[i] = -1;
            if (slots[i].net < 0) continue;
            for (int v = 0; v < nvars; ++v)
                if (vars[v] == slots[i].net) slot_var[i] = v;
            if (slot_var[i] < 0) {
                slot_var[i] = nvars;
                vars[nvars++] = slots[i].net;
            }
        }
        const unsigned rows = 1u << nvars;
        uint8_t value[1u << k_max_vars];
        unsigned in[k_max_vars];
        for (unsigned r = 0; r < rows; ++r) {
            for (int i = 0; i < count; ++i)
                in[i] = slot_var[i] < 0 ? slots[i].constant : (((r >> slot_var[i]) & 1u) ^ slots[i].invert);
            value[r] = static_cast<uint8_t>(f(in) & 1u);
        }
        int kept[k_max_vars];
        int nkept = 0;
        for (int v = 0; v < nvars; ++v) {
            bool depends = false;
            for (unsigned r = 0; r < rows && !depends; ++r)
                if (!((r >> v) & 1u) && value[r] != value[r | (1u << v)]) depends = true;
            if (depends) kept[nkept++] = v;
        }
        m_out << ".names";
        for (int k = 0; k < nkept; ++k) m_out << ' ' << m_net_names[vars[kept[k]]];
        m_out << ' ' << m_net_names[out] << "\n";
        // Rows over the kept inputs only (the others are fixed at 0).
        unsigned ones = 0;
        const unsigned kept_rows = 1u << nkept;
        auto full_row = [&](unsigned kr) {
            unsigned r = 0;
            for (int k = 0; k < nkept; ++k)
                if ((kr >> k) & 1u) r |= 1u << kept[k];
            return r;
        };
        for (unsigned kr = 0; kr < kept_rows; ++kr) ones += value[full_row(kr)];
        if (nkept == 0) {
            if (ones) m_out << "1\n";
            return;
        }
        // The smaller of ON-set and OFF-set.
        unsigned listed = ones * 2 <= kept_rows ? 1u : 0u;
        std::string line(static_cast<size_t>(nkept) + 2, ' ');
        line[nkept + 1] = static_cast<char>('0' + listed);
        for (unsigned kr = 0; kr < kept_rows; ++kr) {
            if (value[full_row(kr)] != listed) continue;
            for (int k = 0; k < nkept; ++k) line[k] = ((kr >> k) & 1u) ? '1' : '0';
            m_out << line << "\n";
        }
    }

    // ---------------------------------------------------------------- atoms

    void write_node(const CDB_ATOM_NODE* node)
    {
        if (node->is_pin()) return;  // ports, written apart
        if (node->is_register()) {
            write_register(node, SIGNAL{}, true);
            return;
        }
        if (node->is_clkbuf()) {
            CDB_ATOM_OTERM* o = node->get_output_term_by_type(DB_CLKBUF_OUT);
            if (!o) return;
            SIGNAL in = signal_of(node->get_input_term_by_type(DB_CLKBUF_IN), 0);
            write_function(net_of(o), &in, 1, [](const unsigned* v) { return v[0]; });
            return;
        }
        if (node->get_kind() == CDB_KIND_LCELL_COMB || node->is_lcell() || node->is_lcell_hsadder()) {
            write_logic_cell(node);
            return;
        }
        if (node->is_ram() || node->is_mac_mult() || node->is_mac_out()) {
            write_block(node);
            return;
        }
        fail(cut_atom_label(node) + ": atom of unknown kind cannot be written as BLIF");
    }

    // A RAM or DSP block from its block function: gates as covers, its
    // registers as latches under the register rule.
    void write_block(const CDB_ATOM_NODE* node)
    {
        CUT_BLOCK_FUNCTION f;
        try {
            f = cut_block_function(node);
        } catch (const CUT_BLOCK_ERROR& e) {
            fail(e.what());
        }
        const std::string base = written_base(node->get_instance_name(), node);
        std::vector<int> q(f.registers.size());
        for (size_t r = 0; r < q.size(); ++r) q[r] = new_unique_net(str_cat(base, "~q", std::to_string(r)));
        std::vector<SIGNAL> sig(f.gates.size());
        for (size_t g = 0; g < f.gates.size(); ++g) {
            if (const CUT_BLOCK_TABLE* t = table_written_at(f, sig, g)) {
                // The gates of the table's select tree stand for it: only
                // its inputs and constants, which write nothing, are kept.
                for (; g < static_cast<size_t>(t->gate); ++g)
                    if (f.gates[g].op == CUT_GATE_INPUT || f.gates[g].op == CUT_GATE_CONST)
                        sig[g] = block_gate(f, sig, q, g, base);
                sig[g] = write_table(*t, sig, base);
                continue;
            }
            sig[g] = block_gate(f, sig, q, g, base);
        }
        for (size_t r = 0; r < q.size(); ++r) write_block_register(f.registers[r], sig, q[r]);
        for (const CUT_BLOCK_OUTPUT& o : f.outputs)
            write_function(net_of(o.term), &sig[o.gate], 1, [](const unsigned* v) { return v[0]; });
    }

    // The table whose gates start at g, when its address reads distinct
    // nets: then it is written as covers (an address bit of constant value
    // leaves the gates as they are).
    static const CUT_BLOCK_TABLE* table_written_at(const CUT_BLOCK_FUNCTION& f, const std::vector<SIGNAL>& sig,
                                                   size_t g)
    {
        for (const CUT_BLOCK_TABLE& t : f.tables) {
            if (t.first_gate != static_cast<int>(g)) continue;
            std::unordered_set<int> nets;
            for (int a : t.address)
                if (sig[a].net < 0 || !nets.insert(sig[a].net).second) return nullptr;
            return &t;
        }
        return nullptr;
    }

    SIGNAL write_table(const CUT_BLOCK_TABLE& t, const std::vector<SIGNAL>& sig, const std::string& base)
    {
        std::vector<SIGNAL> address;
        for (int a : t.address) address.push_back(sig[a]);
        BLIF_TABLE_PLANNER planner;
        std::map<std::vector<bool>, SIGNAL> written;
        return write_table_part(planner, written, address, t.entries, str_cat(base, "~rom"));
    }

    // Entries over the low address bits (as many as the entries need), in
    // the planner's shortest form; identical parts share their net.
    SIGNAL write_table_part(BLIF_TABLE_PLANNER& planner, std::map<std::vector<bool>, SIGNAL>& written,
                            const std::vector<SIGNAL>& address, const std::vector<bool>& table, const std::string& name)
    {
        const std::vector<bool> entries = blif_table_without_free_high_bits(table);
        SIGNAL s;
        if (blif_table_is_constant(entries)) {
            s.constant = entries[0] ? 1u : 0u;
            return s;
        }
        if (auto known = written.find(entries); known != written.end()) return known->second;
        const int select_bits = planner.best_select_bits(entries);
        s.net = new_unique_net(name);
        if (select_bits == 0)
            write_function(s.net, address.data(), bits_of(entries), [&entries](const unsigned* v) {
                size_t a = 0;
                for (int k = 0; k < bits_of(entries); ++k) a |= size_t{v[k] & 1u} << k;
                return entries[a] ? 1u : 0u;
            });
        else write_select(s.net, planner, written, address, entries, select_bits, name);
        written.emplace(entries, s);
        return s;
    }

    static int bits_of(const std::vector<bool>& entries)
    {
        int n = 0;
        while ((size_t{1} << n) < entries.size()) ++n;
        return n;
    }

    // out = part s of the entries, s being the high `select_bits` address
    // bits: one row per part that is not 0, the other parts' columns free.
    void write_select(int out, BLIF_TABLE_PLANNER& planner, std::map<std::vector<bool>, SIGNAL>& written,
                      const std::vector<SIGNAL>& address, const std::vector<bool>& entries, int select_bits,
                      const std::string& name)
    {
        const int low = bits_of(entries) - select_bits;
        const std::vector<SIGNAL> low_address(address.begin(), address.begin() + low);
        const BLIF_TABLE_PARTS parts = blif_table_parts(entries, select_bits);
        std::vector<SIGNAL> part_signal;
        for (size_t p = 0; p < parts.distinct.size(); ++p)
            part_signal.push_back(write_table_part(planner, written, low_address, parts.distinct[p],
                                                   str_cat(name, "~", std::to_string(p))));
        std::vector<int> columns;  // the nets after the select bits, each once
        std::vector<int> column_of(part_signal.size(), -1);
        for (size_t p = 0; p < part_signal.size(); ++p) {
            if (part_signal[p].net < 0) continue;
            auto at = std::find(columns.begin(), columns.end(), part_signal[p].net);
            column_of[p] = static_cast<int>(at - columns.begin());
            if (at == columns.end()) columns.push_back(part_signal[p].net);
        }
        m_out << ".names";
        for (int k = low; k < low + select_bits; ++k) m_out << ' ' << m_net_names[address[k].net];
        for (int net : columns) m_out << ' ' << m_net_names[net];
        m_out << ' ' << m_net_names[out] << "\n";
        std::string row(static_cast<size_t>(select_bits) + columns.size() + 2, '-');
        row[row.size() - 2] = ' ';
        row.back() = '1';
        for (size_t s = 0; s < parts.part_of.size(); ++s) {
            const int p = parts.part_of[s];
            if (part_signal[p].net < 0 && part_signal[p].constant == 0) continue;
            std::string line = row;
            for (int j = 0; j < select_bits; ++j)
                line[j] = (((s >> j) & 1u) ^ address[low + j].invert) != 0 ? '1' : '0';
            if (column_of[p] >= 0) line[select_bits + column_of[p]] = '1';
            m_out << line << "\n";
        }
    }

    SIGNAL block_gate(const CUT_BLOCK_FUNCTION& f, const std::vector<SIGNAL>& sig, const std::vector<int>& q, size_t g,
                      const std::string& base)
    {
        const CUT_GATE& gate = f.gates[g];
        SIGNAL s;
        switch (gate.op) {
        case CUT_GATE_INPUT: return signal_of(gate.term, gate.value);
        case CUT_GATE_CONST: s.constant = gate.value; return s;
        case CUT_GATE_STATE: s.net = q[gate.value]; return s;
        default: break;
        }
        const SIGNAL ops[3] = {gate.a < 0 ? SIGNAL{} : sig[gate.a], gate.b < 0 ? SIGNAL{} : sig[gate.b],
                               gate.c < 0 ? SIGNAL{} : sig[gate.c]};
        s.net = new_unique_net(str_cat(base, "~g", std::to_string(g)));
        const int op = gate.op;
        write_function(s.net, ops, 3, [op](const unsigned* v) { return cut_gate_value(op, v[0], v[1], v[2]); });
        return s;
    }

    void write_block_register(const CUT_BLOCK_REGISTER& r, const std::vector<SIGNAL>& sig, int q)
    {
        const SIGNAL clock = signal_of(r.clock, 0);
        if (clock.net < 0) {
            write_unclocked_register(q);
            return;
        }
        SIGNAL slots[4] = {sig[r.d], sig[r.ena], sig[r.clr], SIGNAL{}};
        slots[3].net = q;
        const int next = write_next_state(
            q, slots, 4, [](const unsigned* v) { return cut_block_register_next(v[0], v[1], v[2], v[3]); });
        write_latch(next, q, clock);
    }

    // Never clocked: the register keeps its power-up value.
    void write_unclocked_register(int q)
    {
        SIGNAL none;
        write_function(q, &none, 1, [](const unsigned*) { return 0u; });
    }

    // The register's next state as a net of its own beside q; answers the net.
    template <typename F>
    int write_next_state(int q, const SIGNAL* slots, int count, F&& next_state)
    {
        const int next = new_unique_net(str_cat(m_net_names[q], "~next"));
        write_function(next, slots, count, std::forward<F>(next_state));
        return next;
    }

    // Registers power up at 0.
    void write_latch(int next, int q, const SIGNAL& clock)
    {
        m_out << ".latch " << m_net_names[next] << ' ' << m_net_names[q] << (clock.invert ? " fe " : " re ")
              << m_net_names[clock.net] << " 0\n";
    }

    void write_logic_cell(const CDB_ATOM_NODE* node)
    {
        // What a cascaded register loads has no function the writer knows.
        const CDB_ATOM_ITERM* cascade = node->get_input_term_by_type(DB_REG_CASCADE_IN);
        if (cascade != nullptr && cascade->is_connected())
            fail(cut_atom_label(node) + ": the register-cascade input cannot be written as BLIF");
        SIGNAL slots[k_max_vars];
        for (int i = 0; i < k_max_vars; ++i)
            slots[i] = signal_of(node->get_input_term_by_type(node->get_evaluate_input_port(i)), 0);
        const CDB_ATOM_OTERM* reg_out = nullptr;
        int comb_net = -1;
        for (auto it = node->begin_oterm(); it != node->end_oterm(); ++it) {
            const CDB_ATOM_OTERM* o = *it;
            if (o->is_used_as(DB_REG_OUT)) {
                reg_out = o;
                continue;
            }
            int port = o->get_usage();
            unsigned probe[k_max_vars] = {};
            if (node->evaluate_output(port, probe) == CDB_ATOM_NODE::NO_LUT_VALUE) {
                if (o->has_fanout())
                    fail(cut_atom_label(node) + ": output " + o->get_wysiwyg_port_name() + " has no LUT function");
                continue;
            }
            write_function(net_of(o), slots, k_max_vars,
                           [node, port](const unsigned* v) { return node->evaluate_output(port, v); });
            if (port == DB_COMB_OUT) comb_net = net_of(o);
        }
        if (!reg_out) return;
        // A packed register takes its data from the cell's LUT.
        SIGNAL d;
        d.net = comb_net;
        if (d.net < 0) {
            d.net = new_unique_net(str_cat(m_net_names[net_of(reg_out)], "~d"));
            write_function(d.net, slots, k_max_vars,
                           [node](const unsigned* v) { return node->evaluate_output(DB_REG_OUT, v); });
        }
        write_register(node, d, false);
    }

    // `d` replaces the data input for registers packed into a logic cell.
    void write_register(const CDB_ATOM_NODE* node, const SIGNAL& d, bool own_data_input)
    {
        const CDB_ATOM_OTERM* q_term = node->get_output_term_by_type(DB_REG_OUT);
        if (!q_term) return;
        const int q = net_of(q_term);
        SIGNAL slots[R_COUNT];
        for (int i = 0; i < R_COUNT - 1; ++i) {
            int port = k_reg_ports[i];
            slots[i] = signal_of(node->get_input_term_by_type(port), node->floats_high(port) ? 1u : 0u);
        }
        if (!own_data_input) slots[R_D] = d;
        slots[R_Q].net = q;
        SIGNAL clock = signal_of(node->get_input_term_by_type(DB_CLOCK), 0);
        if (clock.net < 0) {
            write_unclocked_register(q);
            return;
        }
        auto next_state = [](const unsigned* v) {
            CDB_REGISTER_INPUTS in;
            in.d = v[R_D];
            in.ena = v[R_ENA];
            in.sclr = v[R_SCLR];
            in.sload = v[R_SLOAD];
            in.sdata = v[R_SDATA];
            in.clr = v[R_CLR];
            in.aload = v[R_ALOAD];
            in.adata = v[R_ADATA];
            return cdb_register_next_value(in, v[R_Q]);
        };
        const int next = is_plain_data(slots) ? slots[R_D].net : write_next_state(q, slots, R_COUNT, next_state);
        write_latch(next, q, clock);
    }

    // The next state is the data net itself: every control at its inactive
    // constant value and the data input uncomplemented.
    static bool is_plain_data(const SIGNAL* s)
    {
        auto is_const = [&](int slot, unsigned v) { return s[slot].net < 0 && s[slot].constant == v; };
        const bool clear_idle = s[R_CLR].net < 0 && !cdb_clear_acts(CDB_KIND_REGISTER, DB_CLEAR, s[R_CLR].constant);
        return s[R_D].net >= 0 && !s[R_D].invert && is_const(R_ENA, 1) && is_const(R_SCLR, 0) && is_const(R_SLOAD, 0) &&
               clear_idle && is_const(R_ALOAD, 0);
    }

    void write_output_pin(const CDB_ATOM_ITERM* in, const std::string& port)
    {
        SIGNAL s = signal_of(in, 0);
        if (s.net >= 0 && !s.invert && m_net_names[s.net] == port) return;
        // No net carries the port's name here: other nets were kept off it.
        write_function(new_net(port), &s, 1, [](const unsigned* v) { return v[0]; });
    }

    const CDB_ATOM_NETLIST& m_netlist;
    std::ostream& m_out;
    std::string m_model;
    std::string m_label;
    std::vector<std::string_view> m_net_names;  // views into m_char_blocks
    std::vector<std::unique_ptr<char[]>> m_char_blocks;
    char* m_next_char = nullptr;
    size_t m_chars_left = 0;
    std::vector<int> m_first_net;  // by atom id - m_id_base: the net of its first output term, -1 none
    uint32_t m_id_base = 0;
    std::vector<int32_t> m_used;
    size_t m_used_count = 0;
    std::unordered_map<std::string, unsigned> m_suffix;
    std::unordered_set<std::string> m_output_ports;
    std::unordered_set<std::string> m_claimed;
    std::vector<std::string> m_input_ports;
    std::vector<const CDB_ATOM_ITERM*> m_output_pins;
    std::vector<std::string> m_output_port_names;
};

}  // namespace

void blif_write_netlist(const CDB_ATOM_NETLIST& netlist, std::ostream& out, const std::string& model_name)
{
    WRITER(netlist, out, model_name, "<" + model_name + ">").run();
}

void blif_check_port_names(const CDB_ATOM_NETLIST& netlist, const std::string& label)
{
    std::ostream nowhere(nullptr);
    WRITER(netlist, nowhere, "", label).name_ports();
}

void blif_write_netlist_file(const CDB_ATOM_NETLIST& netlist, const std::string& path, const std::string& model_name)
{
    FIO_REPLACING_FILE file;
    std::string error;
    if (!file.open(path, error)) throw BLIF_ERROR(path, 0, error);
    blif_write_netlist_file(netlist, file, model_name);
    if (!file.commit(error)) throw BLIF_ERROR(path, 0, error);
}

void blif_write_netlist_file(const CDB_ATOM_NETLIST& netlist, FIO_REPLACING_FILE& file, const std::string& model_name)
{
    WRITER(netlist, file.stream(), model_name, file.get_target()).run();
    std::string error;
    if (!file.finish(error)) throw BLIF_ERROR(file.get_target(), 0, error);
}
