#include "cdb/cdb_native_format.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <memory>
#include <sstream>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "cdb/cdb_atom_netlist.h"
#include "cdb/cdb_native_checks.h"
#include "fio/fio.h"

// Reaches the fields that the public setters guard (raw masks, ids, the
// property word), so that reading restores exactly what was written.
class CDB_NATIVE_READER_ACCESS
{
public:
    static void set_id(CDB_ATOM_NODE* n, uint32_t id) { n->m_id = id; }
    static void set_raw_masks(CDB_ATOM_NODE* n, const CDB_LUTMASK& m, uint64_t aux)
    {
        n->store_lutmask(m);
        n->set_aux_mask(aux);
    }
    static uint64_t get_aux(const CDB_ATOM_NODE* n) { return n->aux_mask(); }
    static void set_oterm_slot(CDB_ATOM_NODE* n, size_t slot, CDB_ATOM_OTERM* t)
    {
        if (n->m_terms.out().size() <= slot) n->m_terms.resize_out(slot + 1);
        n->m_terms.out()[slot] = t;
    }
    static void set_iterm_raw(CDB_ATOM_ITERM* t, uint32_t prop, int dc_index, int literal)
    {
        t->m_prop = prop;
        t->m_delay_chain_index = static_cast<int16_t>(dc_index);
        t->m_literal_index = static_cast<uint16_t>(literal);
    }
    static void clear_driven_state(CDB_ATOM_ITERM* t)
    {
        if ((t->m_prop & 3u) == 1u) t->m_prop &= ~3u;
    }
};

namespace {

// KESTLIN has no logic cell or RAM block of its own: its netlists hold RZK
// ones, which the writer names by their family. Any other atom must be of
// the netlist's family, whose code reads it with that family's rules.
bool family_may_hold(int netlist_family, int atom_family, int kind)
{
    if (atom_family == netlist_family) return true;
    return netlist_family == CDB_FAMILY_KESTLIN && atom_family == CDB_FAMILY_RZK &&
           (kind == CDB_KIND_LCELL_COMB || kind == CDB_KIND_RAM);
}
constexpr const char* HEADER = "morv-atom-netlist 1";
constexpr std::string_view UTF8_BOM = "\xEF\xBB\xBF";

void append_quoted(std::string& out, std::string_view s)
{
    out += '"';
    for (char c : s) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (c == '\n') {
            out += "\\n";
        } else {
            out += c;
        }
    }
    out += '"';
}

// A field written in hexadecimal.
struct HEX
{
    uint64_t value;
};

template <typename T>
void append_num(std::string& out, T v)
{
    char buf[32];
    auto r = std::to_chars(buf, buf + sizeof buf, v);
    out.append(buf, r.ptr);
}
void append_num(std::string& out, HEX v)
{
    char buf[32];
    auto r = std::to_chars(buf, buf + sizeof buf, v.value, 16);
    out.append(buf, r.ptr);
}
// " <v>" for each value, in order.
template <typename... T>
void append_fields(std::string& out, T... v)
{
    ((out += ' ', append_num(out, v)), ...);
}
}  // namespace

namespace {

// Local numbers of names: by the manager's dense ids for the names of the
// first manager met (a design's names all come from one), in a map for any
// other; a map entry per name would cost more than the design's names.
class NAME_NUMBERS
{
public:
    // Gives n the number k when it has none yet; true when it did so.
    bool number(const HDB_INSTANCE_NAME* n, size_t k)
    {
        if (m_mgr == nullptr) m_mgr = n->get_name_mgr();
        if (n->get_name_mgr() != m_mgr) return m_others.emplace(n, k).second;
        if (n->get_id() >= m_by_id.size())
            m_by_id.resize(std::max<size_t>(n->get_id() + 1, m_mgr->get_name_count()), NONE);
        if (m_by_id[n->get_id()] != NONE) return false;
        m_by_id[n->get_id()] = static_cast<uint32_t>(k);
        return true;
    }
    size_t of(const HDB_INSTANCE_NAME* n) const
    {
        return n->get_name_mgr() == m_mgr ? m_by_id[n->get_id()] : m_others.at(n);
    }

private:
    static constexpr uint32_t NONE = UINT32_MAX;
    const HDB_NAME_MGR* m_mgr = nullptr;
    std::vector<uint32_t> m_by_id;
    std::unordered_map<const HDB_INSTANCE_NAME*, size_t> m_others;
};

}  // namespace

void cdb_write_native_netlist(const CDB_ATOM_NETLIST& netlist, std::ostream& os)
{
    // The text goes out a megabyte at a time: a large design's text is
    // bigger than its netlist.
    constexpr size_t CHUNK = size_t(1) << 20;
    std::string out;
    out.reserve(CHUNK + 4096);
    auto spill = [&] {
        if (out.size() < CHUNK) return;
        os << out;
        out.clear();
    };
    out += HEADER;
    out += "\nfamily";
    append_fields(out, netlist.get_family());
    out += '\n';

    // Names in first-use order, numbered locally so that the text does not
    // depend on the manager's ids.
    NAME_NUMBERS name_index;
    std::vector<const HDB_INSTANCE_NAME*> names;
    auto note = [&](const HDB_INSTANCE_NAME* n) {
        if (n && name_index.number(n, names.size())) names.push_back(n);
    };
    for (CDB_ATOM_NODE* node : netlist) {
        note(node->get_instance_name());
        for (auto it = node->begin_oterm(); it != node->end_oterm(); ++it) note((*it)->get_instance_name());
    }
    std::string root = "top";
    if (netlist.get_name_mgr()) root = netlist.get_name_mgr()->get_root()->get_short_hpath();
    else if (!names.empty()) root = names[0]->get_name_mgr()->get_root()->get_short_hpath();
    out += "root ";
    append_quoted(out, root);
    out += '\n';
    for (size_t i = 0; i < names.size(); ++i) {
        out += "name";
        append_fields(out, i, HEX{names[i]->get_flags()});
        out += ' ';
        append_quoted(out, names[i]->is_root() ? std::string_view() : std::string_view(names[i]->get_short_hpath()));
        out += '\n';
        spill();
    }
    auto append_name_ref = [&](const HDB_INSTANCE_NAME* n) {
        if (n == nullptr) {
            out += '-';
        } else {
            append_num(out, name_index.of(n));
        }
    };

    for (CDB_ATOM_NODE* node : netlist) {
        out += "node";
        append_fields(out, node->get_id(), node->get_family(), node->get_atom_type());
        out += ' ';
        append_name_ref(node->get_instance_name());
        out += '\n';
        if (node->get_bits()) {
            out += "  bits";
            append_fields(out, HEX{node->get_bits()});
            out += '\n';
        }
        // A line of its own, so that files written before the flag read unchanged.
        if (node->is_user_lcell()) out += "  user\n";
        if (node->get_mode()) {
            out += "  mode";
            append_fields(out, node->get_mode());
            out += '\n';
        }
        if (!(node->get_location() == CDB_ATOM_LOCATION())) {
            const CDB_ATOM_LOCATION& l = node->get_location();
            out += "  loc";
            append_fields(out, l.x, l.y, l.sub_loc, l.sub_loc2);
            out += '\n';
        }
        if (!node->get_assignments().is_default()) {
            const CDB_ATOM_ASSIGNMENTS& a = node->get_assignments();
            out += "  asgn";
            append_fields(out, a.partition_id, a.kardel_region, a.locked_x1, a.locked_y1, a.locked_x2, a.locked_y2,
                          int(a.dont_touch), int(a.must_keep), int(a.back_annotated));
            out += '\n';
        }
        if (node->get_lutmask() != CDB_LUTMASK()) {
            out += "  mask";
            append_fields(out, node->get_lutmask().get_num_inputs(), HEX{node->get_lutmask().get_value()});
            out += '\n';
        }
        if (uint64_t aux = CDB_NATIVE_READER_ACCESS::get_aux(node)) {
            out += "  aux";
            append_fields(out, HEX{aux});
            out += '\n';
        }
        if (const CDB_ATOM_LATCH_INFO* li = node->get_latch_info()) {
            out += "  latch";
            append_fields(out, int(li->is_latch), li->clear_port, li->preset_port, li->feedback_port, li->enable_port,
                          li->enable_mode, li->output_port, li->data_port, li->data_port_2, li->kind);
            out += '\n';
        }
        if (const auto* params = node->get_block_params()) {
            for (const auto& [key, value] : *params) {
                out += "  param";
                append_fields(out, key.first, key.second, value);
                out += '\n';
            }
        }
        for (int slot = 0; slot < node->get_input_count(); ++slot) {
            CDB_ATOM_ITERM* t = node->get_input_term(slot);
            if (t == nullptr) continue;
            out += "  in";
            append_fields(out, slot);
            out += ' ';
            if (t->get_usage_count() == 0) out += '-';
            for (int u = 0; u < t->get_usage_count(); ++u) {
                if (u) out += ',';
                append_num(out, t->get_usage(u));
            }
            append_fields(out, t->get_port_index(), t->get_literal_index(), HEX{t->get_property_word()},
                          t->get_delay_chain_index(DB_DELAY_CHAIN_INPUT));
            out += '\n';
        }
        for (int slot = 0; slot < node->get_output_count(); ++slot) {
            CDB_ATOM_OTERM* t = node->get_output_term(slot);
            if (t == nullptr) continue;
            out += "  out";
            append_fields(out, slot, t->get_usage(), t->get_port_index(), t->get_host_index());
            out += ' ';
            append_name_ref(t->get_instance_name());
            out += '\n';
            // A line of its own, so that files written before the flag read unchanged.
            if (t->is_invert_observable()) {
                out += "  invobs";
                append_fields(out, slot);
                out += '\n';
            }
        }
        spill();
    }
    // Fanout lists last, in order, so that reading rebuilds the same order.
    for (CDB_ATOM_NODE* node : netlist) {
        for (int slot = 0; slot < node->get_output_count(); ++slot) {
            CDB_ATOM_OTERM* t = node->get_output_term(slot);
            if (t == nullptr || !t->has_fanout()) continue;
            out += "fanout";
            append_fields(out, node->get_id(), slot);
            out += " :";
            for (auto it = t->begin_iterm_fanout(); it != t->end_iterm_fanout(); ++it) {
                CDB_ATOM_ITERM* sink = *it;
                CDB_ATOM_NODE* sn = sink->get_my_node();
                int sslot = -1;
                for (int s = 0; sn && s < sn->get_input_count(); ++s)
                    if (sn->get_input_term(s) == sink) sslot = s;
                out += ' ';
                append_num(out, sn ? sn->get_id() : 0u);
                out += '.';
                append_num(out, sslot);
            }
            out += '\n';
        }
        spill();
    }
    out += "end\n";
    os << out;
}

bool cdb_write_native_netlist_file(const CDB_ATOM_NETLIST& netlist, const std::string& path, std::string* error)
{
    std::ofstream f(path, std::ios::binary);
    if (!f) {
        if (error) *error = "cannot open \"" + path + "\" for writing";
        return false;
    }
    cdb_write_native_netlist(netlist, f);
    f.flush();
    if (!f) {
        if (error) *error = "error while writing \"" + path + "\"";
        return false;
    }
    return true;
}

// ---------------------------------------------------------------- reader

namespace {
struct PARSE_ERROR
{
    std::string message;
    int line = 0;  // 0: the line being read
};

// Atom ids index tables from 0 to the largest id, here and in the
// component, so a file's ids must stay near its atom count: at most this
// many per atom, or any id below this floor, or any id the process has
// handed out already (a snapshot of this process reads back its own ids).
constexpr uint64_t NATIVE_IDS_PER_ATOM = 64;
constexpr uint64_t NATIVE_ID_FLOOR = uint64_t(1) << 20;
// The component keeps atom ids in ints.
constexpr uint64_t NATIVE_MAX_ID = 0x7fffffff;

size_t count_native_node_lines(std::string_view text)
{
    size_t count = 0;
    for (size_t pos = text.find("\nnode "); pos != std::string_view::npos; pos = text.find("\nnode ", pos + 1)) ++count;
    return count;
}

// node_lines: the file's node lines, or, for a text handed over a line at a
// time, those read so far (a bound that only grows as the reading goes on).
uint32_t native_id_limit(uint64_t node_lines, uint32_t first_free_id)
{
    const uint64_t by_count = NATIVE_IDS_PER_ATOM * node_lines;
    const uint64_t limit = std::max({by_count, NATIVE_ID_FLOOR, uint64_t(first_free_id) - 1});
    return static_cast<uint32_t>(std::min(limit, NATIVE_MAX_ID));
}

// True when w is exactly one number (nothing before or after it).
template <typename T>
bool parse_whole(std::string_view w, T& v, int base = 10)
{
    auto r = std::from_chars(w.data(), w.data() + w.size(), v, base);
    return r.ec == std::errc() && r.ptr == w.data() + w.size();
}

class LINE_TOKENS
{
public:
    explicit LINE_TOKENS(std::string_view line) : m_line(line) {}

    bool at_end()
    {
        skip_space();
        return m_pos >= m_line.size();
    }
    std::string_view word()
    {
        skip_space();
        size_t start = m_pos;
        while (m_pos < m_line.size() && m_line[m_pos] != ' ' && m_line[m_pos] != '\t') ++m_pos;
        if (start == m_pos) throw PARSE_ERROR{"missing field"};
        return m_line.substr(start, m_pos - start);
    }
    template <typename T>
    T number(int base = 10)
    {
        std::string_view w = word();
        T v{};
        if (!parse_whole(w, v, base)) throw PARSE_ERROR{"bad number \"" + std::string(w) + "\""};
        return v;
    }
    std::string quoted()
    {
        skip_space();
        if (m_pos >= m_line.size() || m_line[m_pos] != '"') throw PARSE_ERROR{"expected a quoted string"};
        ++m_pos;
        std::string s;
        while (m_pos < m_line.size() && m_line[m_pos] != '"') {
            char c = m_line[m_pos++];
            if (c == '\\') {
                if (m_pos >= m_line.size()) break;
                char n = m_line[m_pos++];
                s += n == 'n' ? '\n' : n;
            } else {
                s += c;
            }
        }
        if (m_pos >= m_line.size()) throw PARSE_ERROR{"unterminated string"};
        ++m_pos;
        return s;
    }
    void expect(std::string_view w)
    {
        if (word() != w) throw PARSE_ERROR{"expected \"" + std::string(w) + "\""};
    }
    void done()
    {
        if (!at_end()) throw PARSE_ERROR{"unexpected text at end of line"};
    }

private:
    void skip_space()
    {
        while (m_pos < m_line.size() && (m_line[m_pos] == ' ' || m_line[m_pos] == '\t' || m_line[m_pos] == '\r'))
            ++m_pos;
    }
    std::string_view m_line;
    size_t m_pos = 0;
};

class NATIVE_READER
{
public:
    // id_limit 0: the bound grows with the node lines read so far.
    NATIVE_READER(HDB_NAME_MGR* mgr, bool own_snapshot, uint32_t id_limit,
                  const CDB_NATIVE_ASSIGNMENT_CHECK& check_assignments)
        : m_mgr(mgr), m_own_snapshot(own_snapshot), m_id_limit(id_limit), m_check_assignments(check_assignments)
    {}

    CDB_ATOM_NETLIST* read(CDB_NATIVE_LINES& lines, std::string& error_out, const std::string& file)
    {
        auto netlist = std::make_unique<CDB_ATOM_NETLIST>();
        if (m_mgr == nullptr) m_mgr = netlist->get_or_create_name_mgr();
        else netlist->set_name_mgr(m_mgr, false);
        bool seen_end = false;
        uint32_t max_id = 0;
        // Each node is created with a fresh id and then given its stored one;
        // the ids spent that way must go back, or every snapshot restore would
        // grow the tables sized by the highest id.
        const uint32_t first_free_id = CDB_ATOM_NODE::s_next_id;
        uint64_t node_lines = 0;
        try {
            std::string_view line;
            while (lines.next(line)) {
                ++m_line_no;
                // Lines may end in CR LF, and the first may begin with a byte-order mark.
                if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
                if (m_line_no == 1 && line.starts_with(UTF8_BOM)) line.remove_prefix(UTF8_BOM.size());
                if (seen_end) {
                    if (LINE_TOKENS(line).at_end()) continue;
                    throw PARSE_ERROR{"text after \"end\""};
                }
                if (m_line_no == 1) {
                    if (line != HEADER)
                        throw PARSE_ERROR{std::string("not a native atom netlist (expected \"") + HEADER + "\")"};
                    continue;
                }
                LINE_TOKENS tok(line);
                if (tok.at_end() || line[line.find_first_not_of(" \t")] == '#') continue;
                std::string_view kw = tok.word();
                if (kw == "family") {
                    netlist->set_family(tok.number<int>());
                    m_family_line = m_line_no;
                } else if (kw == "root") {
                    std::string root = tok.quoted();
                    (void)root;  // the reading manager keeps its own root
                } else if (kw == "name") {
                    size_t k = tok.number<size_t>();
                    uint32_t flags = tok.number<uint32_t>(16);
                    std::string path = tok.quoted();
                    if (k != m_names.size()) throw PARSE_ERROR{"name numbers must count up from 0"};
                    HDB_INSTANCE_NAME* n = path.empty() ? m_mgr->get_root() : m_mgr->find_or_create_path(path, flags);
                    if (n == nullptr) throw PARSE_ERROR{"cannot create name \"" + path + "\""};
                    n->set_flags(flags);
                    m_names.push_back(n);
                } else if (kw == "node") {
                    finish_node();
                    uint32_t id = tok.number<uint32_t>();
                    int family = tok.number<int>();
                    int type = tok.number<int>();
                    HDB_INSTANCE_NAME* name = name_ref(tok);
                    if (id == 0) throw PARSE_ERROR{"atom id 0 is not valid"};
                    const uint32_t id_limit =
                        m_id_limit != 0 ? m_id_limit : native_id_limit(++node_lines, first_free_id);
                    if (id > id_limit)
                        throw PARSE_ERROR{"atom id " + std::to_string(id) + " is out of range (at most " +
                                          std::to_string(id_limit) + " in this file)"};
                    if (netlist->get_node_by_id(id))
                        throw PARSE_ERROR{"atom id " + std::to_string(id) + " appears twice"};
                    CDB_ATOM_NODE* n = cdb_create_atom_of_type(family, type);
                    if (n == nullptr)
                        throw PARSE_ERROR{"unknown atom type " + std::to_string(type) + " of family " +
                                          std::to_string(family)};
                    CDB_NATIVE_READER_ACCESS::set_id(n, id);
                    if (m_family_line != 0 && !family_may_hold(netlist->get_family(), family, n->get_kind()))
                        throw PARSE_ERROR{"atom " + std::to_string(id) + " is of family " + std::to_string(family) +
                                          ", the netlist of family " + std::to_string(netlist->get_family()) +
                                          " (line " + std::to_string(m_family_line) + ")"};
                    if (name != nullptr && !m_own_snapshot && n->is_pin()) take_pin_name(name, id);
                    n->set_instance_name(name != nullptr || m_own_snapshot ? name : name_of_unnamed(id));
                    netlist->add_node(n);
                    if (id > max_id) max_id = id;
                    m_node = n;
                    m_node_line = m_line_no;
                    if (!m_own_snapshot) m_node_lines.emplace_back(id, m_line_no);
                    m_node_mask_line = 0;
                } else if (kw == "fanout") {
                    finish_node();
                    read_fanout(tok, *netlist);
                } else if (kw == "end") {
                    finish_node();
                    seen_end = true;
                } else {
                    if (m_node == nullptr) throw PARSE_ERROR{"\"" + std::string(kw) + "\" outside a node"};
                    read_property(kw, tok);
                }
                tok.done();
            }
            if (!seen_end) throw PARSE_ERROR{"missing \"end\" (file truncated?)"};
            // Every term written as driven must have been connected by a fanout line.
            for (CDB_ATOM_NODE* n : *netlist)
                for (auto it = n->begin_iterm(); it != n->end_iterm(); ++it)
                    if ((*it)->is_driven() && (*it)->get_source() == nullptr)
                        throw PARSE_ERROR{"input " + std::to_string(n->get_id()) +
                                          " is marked driven but appears in no fanout list"};
            if (m_unmasked_line != 0)
                throw PARSE_ERROR{"LUT cell " + std::to_string(m_unmasked_id) + " has no mask", m_unmasked_line};
            if (!m_own_snapshot) check_nodes(*netlist, max_id);
        } catch (const PARSE_ERROR& e) {
            error_out = file + ":" + std::to_string(e.line != 0 ? e.line : m_line_no) + ": " + e.message;
            CDB_ATOM_NODE::s_next_id = first_free_id;  // the partial netlist dies with its nodes
            return nullptr;
        }
        CDB_ATOM_NODE::s_next_id = std::max(first_free_id, max_id + 1);
        return netlist.release();
    }

private:
    HDB_INSTANCE_NAME* name_ref(LINE_TOKENS& tok)
    {
        std::string_view w = tok.word();
        if (w == "-") return nullptr;
        size_t k = 0;
        if (!parse_whole(w, k) || k >= m_names.size())
            throw PARSE_ERROR{"unknown name reference \"" + std::string(w) + "\""};
        return m_names[k];
    }

    void read_property(std::string_view kw, LINE_TOKENS& tok)
    {
        CDB_ATOM_NODE* n = m_node;
        if (kw == "bits") {
            n->set_bits(tok.number<uint64_t>(16));
        } else if (kw == "user") {
            n->set_user_lcell(true);
        } else if (kw == "mode") {
            n->set_mode(tok.number<int>());
        } else if (kw == "loc") {
            CDB_ATOM_LOCATION l;
            l.x = tok.number<int>();
            l.y = tok.number<int>();
            l.sub_loc = tok.number<int>();
            l.sub_loc2 = tok.number<int>();
            n->set_location(l);
        } else if (kw == "asgn") {
            CDB_ATOM_ASSIGNMENTS a;
            a.partition_id = tok.number<int>();
            a.kardel_region = tok.number<int>();
            a.locked_x1 = tok.number<int>();
            a.locked_y1 = tok.number<int>();
            a.locked_x2 = tok.number<int>();
            a.locked_y2 = tok.number<int>();
            a.dont_touch = tok.number<int>() != 0;
            a.must_keep = tok.number<int>() != 0;
            a.back_annotated = tok.number<int>() != 0;
            n->set_assignments(a);
            if (!m_own_snapshot) check_assignments(n);
        } else if (kw == "mask") {
            int inputs = tok.number<int>();
            uint64_t v = tok.number<uint64_t>(16);
            if (inputs < 0 || inputs > 6) throw PARSE_ERROR{"mask input count out of range"};
            if (!m_own_snapshot) check_mask(n, inputs, v);
            CDB_NATIVE_READER_ACCESS::set_raw_masks(n, CDB_LUTMASK(inputs, v), CDB_NATIVE_READER_ACCESS::get_aux(n));
        } else if (kw == "aux") {
            // Nothing would read it: such a cell's adder halves are part of its LUT mask.
            if (n->keeps_adder_in_lutmask())
                throw PARSE_ERROR{"a 6-input combinational cell has no separate adder mask"};
            CDB_NATIVE_READER_ACCESS::set_raw_masks(n, n->get_lutmask(), tok.number<uint64_t>(16));
        } else if (kw == "latch") {
            auto* li = new CDB_ATOM_LATCH_INFO();
            n->set_latch_info(li);
            li->is_latch = tok.number<int>() != 0;
            li->clear_port = tok.number<int>();
            li->preset_port = tok.number<int>();
            li->feedback_port = tok.number<int>();
            li->enable_port = tok.number<int>();
            li->enable_mode = tok.number<int>();
            li->output_port = tok.number<int>();
            // Files written before the latch structure was kept end here.
            if (!tok.at_end()) {
                li->data_port = tok.number<int>();
                li->data_port_2 = tok.number<int>();
                li->kind = tok.number<int>();
            }
        } else if (kw == "param") {
            int key = tok.number<int>();
            int port = tok.number<int>();
            n->set_block_param(key, port, tok.number<int>());
        } else if (kw == "in") {
            int slot = tok.number<int>();
            std::string_view usages = tok.word();
            int index = tok.number<int>();
            int literal = tok.number<int>();
            uint32_t prop = tok.number<uint32_t>(16);
            int dc = tok.number<int>();
            if (slot < 0 || slot > CDB_NATIVE_MAX_SLOT)
                throw PARSE_ERROR{"input slot " + std::to_string(slot) + " is out of range (0 to " +
                                  std::to_string(CDB_NATIVE_MAX_SLOT) + ")"};
            if (n->get_input_term(slot)) throw PARSE_ERROR{"input slot " + std::to_string(slot) + " appears twice"};
            auto* t = new CDB_ATOM_ITERM(n, DB_MAX_INPUT_PORT_TYPE);
            n->set_input_term(slot, t);
            if (usages != "-") {
                size_t p = 0;
                while (p <= usages.size()) {
                    size_t c = usages.find(',', p);
                    std::string_view u = usages.substr(p, c == std::string_view::npos ? std::string_view::npos : c - p);
                    int port = 0;
                    if (!parse_whole(u, port) || port < 0 || port >= DB_MAX_INPUT_PORT_TYPE ||
                        t->get_usage_count() >= CDB_ATOM_ITERM::MAX_USAGES || t->is_used_as(port))
                        throw PARSE_ERROR{"bad port usage list \"" + std::string(usages) + "\""};
                    t->set_usage_as(port);
                    if (c == std::string_view::npos) break;
                    p = c + 1;
                }
            }
            CDB_NATIVE_READER_ACCESS::set_iterm_raw(t, prop, dc, literal);
            if (t->get_port_index() != index) throw PARSE_ERROR{"port index disagrees with the property word"};
            if (!m_own_snapshot) check(cdb_native_check_input(n, t));
            // Kept as written until the fanout lines connect it; checked at the end.
        } else if (kw == "out") {
            int slot = tok.number<int>();
            int usage = tok.number<int>();
            int index = tok.number<int>();
            int host = tok.number<int>();
            HDB_INSTANCE_NAME* name = name_ref(tok);
            if (slot < 0 || slot > CDB_NATIVE_MAX_SLOT)
                throw PARSE_ERROR{"output slot " + std::to_string(slot) + " is out of range (0 to " +
                                  std::to_string(CDB_NATIVE_MAX_SLOT) + ")"};
            if (usage < 0 || usage >= DB_MAX_OUTPUT_PORT_TYPE) throw PARSE_ERROR{"output port type out of range"};
            if (n->get_output_term(slot)) throw PARSE_ERROR{"output slot " + std::to_string(slot) + " appears twice"};
            if (!m_own_snapshot) check(cdb_native_check_output(n, usage, index));
            auto* t = new CDB_ATOM_OTERM(n, usage);
            t->set_port_index(index);
            t->set_host_index(host);
            t->set_instance_name(name);
            CDB_NATIVE_READER_ACCESS::set_oterm_slot(n, static_cast<size_t>(slot), t);
        } else if (kw == "invobs") {
            int slot = tok.number<int>();
            CDB_ATOM_OTERM* t = slot >= 0 && slot < n->get_output_count() ? n->get_output_term(slot) : nullptr;
            if (t == nullptr) throw PARSE_ERROR{"invobs names no output slot"};
            t->set_invert_observable(true);
        } else {
            throw PARSE_ERROR{"unknown keyword \"" + std::string(kw) + "\""};
        }
    }

    // A cell's mask is its function: one line, over as many inputs as the
    // cell's LUT has (the host evaluates every row of that LUT, so a
    // narrower mask computes something else there), and no bit beyond the
    // rows of those inputs. A constant function is a mask like any other.
    void check_mask(CDB_ATOM_NODE* n, int inputs, uint64_t value)
    {
        const std::string atom = "atom " + std::to_string(n->get_id());
        if (n->get_lut_size() == 0) throw PARSE_ERROR{atom + " is not a LUT cell and has no mask"};
        if (m_node_mask_line != 0)
            throw PARSE_ERROR{"second mask of " + atom + " (the first is on line " + std::to_string(m_node_mask_line) +
                              ")"};
        if (needs_mask(n) && inputs != n->get_lut_size())
            throw PARSE_ERROR{"mask of " + std::to_string(inputs) + " inputs on " + atom + ", a " +
                              std::to_string(n->get_lut_size()) + "-input LUT cell"};
        if ((value & ~CDB_LUTMASK::full_mask(inputs)) != 0)
            throw PARSE_ERROR{"mask value is wider than " + std::to_string(inputs) + " inputs allow"};
        m_node_mask_line = m_line_no;
    }

    // The combinational and UVO logic cells compute with their mask alone;
    // the MRL adder computes without one.
    static bool needs_mask(const CDB_ATOM_NODE* n)
    {
        return n->get_kind() == CDB_KIND_LCELL_COMB || n->get_kind() == CDB_KIND_UVO_LCELL;
    }

    // A region is all four corners or none; what the device makes of it is
    // the caller's to say.
    void check_assignments(const CDB_ATOM_NODE* n) const
    {
        const CDB_ATOM_ASSIGNMENTS& a = n->get_assignments();
        const bool none = a.locked_x1 == -1 && a.locked_y1 == -1 && a.locked_x2 == -1 && a.locked_y2 == -1;
        if (!none) check(cdb_check_locked_corners(a, "atom " + std::to_string(n->get_id())));
        if (m_check_assignments) check(m_check_assignments(*n));
    }

    static void check(const std::string& wrong)
    {
        if (!wrong.empty()) throw PARSE_ERROR{wrong};
    }

    // A pin is a port of the design, and the port is its name: two pins of
    // one name would be one port (a cell may share the name of the pin it
    // drives).
    void take_pin_name(HDB_INSTANCE_NAME* name, uint32_t id)
    {
        const auto [owner, fresh] = m_pin_names.try_emplace(name, id, m_line_no);
        if (!fresh)
            throw PARSE_ERROR{"pin " + std::to_string(id) + " has the name of pin " +
                              std::to_string(owner->second.first) + " (line " + std::to_string(owner->second.second) +
                              ")"};
    }

    // A name for an atom the file gives none: the system names every atom
    // (edits mark the names of the atoms they delete, new atoms are named
    // after their neighbours), so it gets one no other atom has.
    HDB_INSTANCE_NAME* name_of_unnamed(uint32_t id)
    {
        return m_mgr->create_unique_name("atom~" + std::to_string(id), HDB_INAME_FLAG_SYNTHESIZED);
    }

    // The first LUT cell without a mask is reported once the rest of the
    // file has been checked.
    void finish_node()
    {
        if (m_own_snapshot || m_node == nullptr || m_node_mask_line != 0 || !needs_mask(m_node) || m_unmasked_line != 0)
            return;
        m_unmasked_line = m_node_line;
        m_unmasked_id = m_node->get_id();
    }

    void read_fanout(LINE_TOKENS& tok, CDB_ATOM_NETLIST& netlist)
    {
        uint32_t id = tok.number<uint32_t>();
        int slot = tok.number<int>();
        tok.expect(":");
        CDB_ATOM_NODE* n = netlist.get_node_by_id(id);
        if (n == nullptr) throw PARSE_ERROR{"fanout of unknown atom " + std::to_string(id)};
        CDB_ATOM_OTERM* o = n->get_output_term(slot);
        if (o == nullptr) throw PARSE_ERROR{"fanout of missing output slot " + std::to_string(slot)};
        if (o->has_fanout()) throw PARSE_ERROR{"second fanout list for the same output"};
        while (!tok.at_end()) {
            std::string_view w = tok.word();
            size_t dot = w.find('.');
            uint32_t sid = 0;
            int sslot = -1;
            if (dot == std::string_view::npos || !parse_whole(w.substr(0, dot), sid) ||
                !parse_whole(w.substr(dot + 1), sslot))
                throw PARSE_ERROR{"bad sink \"" + std::string(w) + "\""};
            CDB_ATOM_NODE* sn = netlist.get_node_by_id(sid);
            CDB_ATOM_ITERM* t = sn ? sn->get_input_term(sslot) : nullptr;
            if (t == nullptr) throw PARSE_ERROR{"sink \"" + std::string(w) + "\" does not exist"};
            if (!t->is_driven() || t->get_source())
                throw PARSE_ERROR{"sink \"" + std::string(w) + "\" is not a free driven input"};
            CDB_NATIVE_READER_ACCESS::clear_driven_state(t);
            o->insert_fanout(t);
        }
    }

    // What only the whole netlist shows: each atom with its connections,
    // then loops (the system evaluates logic cells in order of their
    // inputs: a cell that reads itself through logic has no value).
    void check_nodes(const CDB_ATOM_NETLIST& netlist, uint32_t max_id)
    {
        auto line = m_node_lines.begin();
        for (const CDB_ATOM_NODE* n : netlist) {
            const std::string wrong = cdb_native_check_node(n);
            if (!wrong.empty()) throw PARSE_ERROR{wrong, line->second};
            ++line;
        }
        const CDB_ATOM_NODE* on_loop = cdb_native_find_loop(netlist, max_id);
        if (on_loop == nullptr) return;
        for (const auto& [id, node_line] : m_node_lines)
            if (id == on_loop->get_id())
                throw PARSE_ERROR{"atom " + std::to_string(id) +
                                      " is on a combinational loop (it reads its own output through logic cells)",
                                  node_line};
    }

    HDB_NAME_MGR* m_mgr;
    bool m_own_snapshot;
    uint32_t m_id_limit;
    const CDB_NATIVE_ASSIGNMENT_CHECK& m_check_assignments;
    std::vector<HDB_INSTANCE_NAME*> m_names;
    CDB_ATOM_NODE* m_node = nullptr;
    int m_node_line = 0;
    int m_family_line = 0;
    // Each atom's node line, in the file's order, to name the line of a loop.
    std::vector<std::pair<uint32_t, int>> m_node_lines;
    // Each name a pin has taken: the pin and its node line.
    std::unordered_map<const HDB_INSTANCE_NAME*, std::pair<uint32_t, int>> m_pin_names;
    int m_node_mask_line = 0;
    int m_line_no = 0;
    int m_unmasked_line = 0;
    uint32_t m_unmasked_id = 0;
};
}  // namespace

CDB_ATOM_NETLIST* cdb_read_native_netlist(std::istream& in, const std::string& file_name, HDB_NAME_MGR* mgr,
                                          std::string* error, bool own_snapshot)
{
    std::ostringstream buf;
    buf << in.rdbuf();
    return cdb_read_native_netlist_text(buf.view(), file_name, mgr, error, own_snapshot);
}

namespace {
// The lines of a text held whole.
class TEXT_LINES : public CDB_NATIVE_LINES
{
public:
    explicit TEXT_LINES(std::string_view text) : m_text(text) {}
    bool next(std::string_view& line) override
    {
        if (m_pos >= m_text.size()) return false;
        const size_t nl = m_text.find('\n', m_pos);
        line = m_text.substr(m_pos, nl == std::string_view::npos ? std::string_view::npos : nl - m_pos);
        m_pos = nl == std::string_view::npos ? m_text.size() : nl + 1;
        return true;
    }

private:
    std::string_view m_text;
    size_t m_pos = 0;
};
}  // namespace

namespace {
CDB_ATOM_NETLIST* read_native_lines(CDB_NATIVE_LINES& lines, const std::string& file_name, HDB_NAME_MGR* mgr,
                                    std::string* error, bool own_snapshot, uint32_t id_limit,
                                    const CDB_NATIVE_ASSIGNMENT_CHECK& check_assignments = nullptr)
{
    std::string err;
    NATIVE_READER reader(mgr, own_snapshot, id_limit, check_assignments);
    CDB_ATOM_NETLIST* n = reader.read(lines, err, file_name);
    if (n == nullptr && error) *error = err;
    return n;
}
}  // namespace

namespace {
CDB_ATOM_NETLIST* read_native_text(std::string_view text, const std::string& file_name, HDB_NAME_MGR* mgr,
                                   std::string* error, bool own_snapshot,
                                   const CDB_NATIVE_ASSIGNMENT_CHECK& check_assignments)
{
    TEXT_LINES lines(text);
    const uint32_t id_limit = native_id_limit(count_native_node_lines(text), CDB_ATOM_NODE::s_next_id);
    return read_native_lines(lines, file_name, mgr, error, own_snapshot, id_limit, check_assignments);
}
}  // namespace

CDB_ATOM_NETLIST* cdb_read_native_netlist_text(std::string_view text, const std::string& file_name, HDB_NAME_MGR* mgr,
                                               std::string* error, bool own_snapshot)
{
    return read_native_text(text, file_name, mgr, error, own_snapshot, nullptr);
}

CDB_ATOM_NETLIST* cdb_read_native_netlist_lines(CDB_NATIVE_LINES& lines, const std::string& file_name,
                                                HDB_NAME_MGR* mgr, std::string* error, bool own_snapshot)
{
    return read_native_lines(lines, file_name, mgr, error, own_snapshot, 0);
}

CDB_ATOM_NETLIST* cdb_read_native_netlist_file(const std::string& path, HDB_NAME_MGR* mgr, std::string* error,
                                               const CDB_NATIVE_ASSIGNMENT_CHECK& check_assignments)
{
    std::string text, why;
    if (!fio_read_user_file(path, text, why)) {
        if (error) *error = path + ": " + why;
        return nullptr;
    }
    return read_native_text(text, path, mgr, error, false, check_assignments);
}
