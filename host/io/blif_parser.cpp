#include "io/blif_parser.h"

#include "cdb/cdb_lutmask.h"
#include "io/blif_str_cat.h"

#include <array>
#include <cstdio>
#include <initializer_list>
#include <unordered_map>

#include "fio/fio.h"
#include "msg/msg.h"

namespace {

// Other tools stop reading at a NUL, even in a comment: the file would not be
// one design to every reader.
const char* const k_nul_in_line = "NUL byte in the line (is this a text file?)";

// What some editors write first in a UTF-8 file; it is no part of the design.
constexpr std::string_view k_utf8_bom = "\xEF\xBB\xBF";

std::string error_text(const std::string& file, int line, const std::string& what)
{
    if (line > 0) return str_cat(file, ":", std::to_string(line), ": ", what);
    return str_cat(file, ": ", what);
}

// Row patterns of the six inputs in the canonical order (input i = bit i of
// the row index).
constexpr std::array<uint64_t, 6> k_var_mask = {0xAAAAAAAAAAAAAAAAull, 0xCCCCCCCCCCCCCCCCull, 0xF0F0F0F0F0F0F0F0ull,
                                                0xFF00FF00FF00FF00ull, 0xFFFF0000FFFF0000ull, 0xFFFFFFFF00000000ull};

struct STRING_HASH
{
    using is_transparent = void;
    size_t operator()(std::string_view s) const noexcept { return std::hash<std::string_view>{}(s); }
};

bool is_blank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\f' || c == '\v';
}

bool is_control(char c)
{
    const auto u = static_cast<unsigned char>(c);
    return (u < ' ' && !is_blank(c)) || u == 127;
}

bool is_one_of(std::string_view word, std::initializer_list<std::string_view> list)
{
    for (std::string_view w : list)
        if (word == w) return true;
    return false;
}

// Directives that are not supported: only flat, unmapped BLIF is read.
bool is_unsupported_directive(std::string_view d)
{
    return is_one_of(d, {".subckt", ".gate", ".mlatch", ".exdc", ".search", ".start_kiss", ".blackbox"});
}

// Timing, wire-load and attribute lines carry nothing a netlist of atoms holds.
bool is_ignored_directive(std::string_view d)
{
    return is_one_of(d, {".default_input_arrival", ".default_output_required", ".default_input_drive",
                         ".default_output_load", ".default_max_input_load", ".input_arrival", ".output_required",
                         ".input_drive", ".output_load", ".max_input_load", ".wire_load_slope", ".wire", ".area",
                         ".delay", ".clock", ".cname", ".attr", ".param"});
}

bool is_known_directive(std::string_view d)
{
    return is_one_of(d, {".model", ".inputs", ".outputs", ".names", ".latch", ".end"}) || is_unsupported_directive(d) ||
           is_ignored_directive(d);
}

std::string hex_byte(char c)
{
    char text[8];
    std::snprintf(text, sizeof text, "0x%02X", static_cast<unsigned>(static_cast<unsigned char>(c)));
    return text;
}

// A word of the file as a message shows it: control characters as '?',
// and cut to a readable length.
std::string word(std::string_view text)
{
    std::string shown;
    const std::string cut = msg_cut_word(text);
    for (size_t i = 0; i < cut.size(); ++i) {
        // A byte-order mark inside the text is invisible on a terminal.
        if (cut.compare(i, k_utf8_bom.size(), k_utf8_bom) == 0) {
            shown += "<byte-order mark>";
            i += k_utf8_bom.size() - 1;
        } else {
            shown += is_control(cut[i]) ? '?' : cut[i];
        }
    }
    return shown;
}

class PARSER
{
public:
    PARSER(std::string_view text, const std::string& file, int max_lut_inputs, const std::string& clock_net)
        : m_text(text), m_max_lut_inputs(max_lut_inputs), m_clock_net(clock_net)
    {
        m_model.m_file = file;
        if (m_text.substr(0, k_utf8_bom.size()) == k_utf8_bom) m_pos = k_utf8_bom.size();
    }

    BLIF_MODEL run()
    {
        std::vector<std::string_view> tokens;
        bool any_words = false;
        while (next_logical_line(tokens)) {
            if (tokens.empty()) continue;
            any_words = true;
            check_words(tokens);
            if (tokens[0][0] == '.') {
                directive(tokens);
            } else {
                cover_row(tokens);
            }
        }
        finish_cover();
        if (!any_words) fail(0, "the file holds no model (it is empty or only comments)");
        if (!m_seen_end) fail(m_next_line - 1, "the file ends without '.end' (is it cut short?)");
        if (!m_seen_model) m_model.m_name = default_model_name();
        if (m_model.m_outputs.empty())
            fail(m_seen_model ? m_model_line : m_end_line,
                 str_cat("model '", word(m_model.m_name), "' declares no outputs"));
        check_written_names();
        clock_clockless_latches();
        order_covers();
        for (size_t i = 0; i < m_model.m_nets.size(); ++i)
            if (m_model.m_nets[i].m_driver == BLIF_DRIVER::NONE) m_model.m_undriven.push_back(static_cast<int>(i));
        return std::move(m_model);
    }

private:
    [[noreturn]] void fail(int line, const std::string& what) const { throw BLIF_ERROR(m_model.m_file, line, what); }

    // No word may hold a control character, and no word after the first may
    // be a directive: that is a lost line break joining two lines.
    void check_words(const std::vector<std::string_view>& t) const
    {
        for (size_t i = 0; i < t.size(); ++i) {
            for (char c : t[i])
                if (is_control(c)) fail(m_line, str_cat("control character ", hex_byte(c), " in '", word(t[i]), "'"));
            if (i > 0 && t[i][0] == '.' && is_known_directive(t[i]))
                fail(m_line, str_cat("'", word(t[i]), "' inside a '", word(t[0]), "' line (is a line break missing?)"));
        }
    }

    // Splits the next logical line (comments removed, continuation lines
    // joined) into tokens. The line number reported for it is that of its
    // first physical line.
    bool next_logical_line(std::vector<std::string_view>& tokens)
    {
        tokens.clear();
        if (m_pos >= m_text.size()) return false;
        m_line = m_next_line;
        m_joined.clear();
        bool joined = false;
        std::string_view logical;
        for (;;) {
            std::string_view phys = fio_next_line(m_text, m_pos);
            ++m_next_line;
            if (phys.find('\0') != std::string_view::npos) fail(m_next_line - 1, k_nul_in_line);
            size_t hash = phys.find('#');
            if (hash != std::string_view::npos) phys = phys.substr(0, hash);
            while (!phys.empty() && is_blank(phys.back())) phys.remove_suffix(1);
            bool more = !phys.empty() && phys.back() == '\\' && m_pos < m_text.size();
            if (!phys.empty() && phys.back() == '\\') phys.remove_suffix(1);
            if (!more && !joined) {
                logical = phys;
                break;
            }
            m_joined.append(phys);
            m_joined.push_back(' ');
            joined = true;
            if (!more) {
                logical = m_joined;
                break;
            }
        }
        size_t i = 0;
        while (i < logical.size()) {
            while (i < logical.size() && is_blank(logical[i])) ++i;
            size_t start = i;
            while (i < logical.size() && !is_blank(logical[i])) ++i;
            if (i > start) tokens.push_back(logical.substr(start, i - start));
        }
        return true;
    }

    int net(std::string_view name)
    {
        auto it = m_net_ids.find(name);
        if (it != m_net_ids.end()) return it->second;
        int id = static_cast<int>(m_model.m_nets.size());
        m_model.m_nets.push_back(BLIF_NET{std::string(name), BLIF_DRIVER::NONE, -1, 0, m_line});
        m_net_ids.emplace(std::string(name), id);
        return id;
    }

    int read_net(std::string_view name)
    {
        int id = net(name);
        if (m_model.m_nets[id].m_first_use_line == 0) m_model.m_nets[id].m_first_use_line = m_line;
        return id;
    }

    int driver_line(const BLIF_NET& n) const
    {
        switch (n.m_driver) {
        case BLIF_DRIVER::INPUT: return m_input_lines[n.m_driver_index];
        case BLIF_DRIVER::COVER: return m_model.m_covers[n.m_driver_index].m_line;
        case BLIF_DRIVER::LATCH: return m_model.m_latches[n.m_driver_index].m_line;
        case BLIF_DRIVER::NONE: break;
        }
        return 0;
    }

    void drive(int id, BLIF_DRIVER kind, int index)
    {
        BLIF_NET& n = m_model.m_nets[id];
        if (n.m_driver != BLIF_DRIVER::NONE)
            fail(m_line, str_cat("net '", word(n.m_name), "' is driven twice (first driver on line ",
                                 std::to_string(driver_line(n)), ")"));
        n.m_driver = kind;
        n.m_driver_index = index;
    }

    void directive(const std::vector<std::string_view>& t)
    {
        std::string_view d = t[0];
        finish_cover();
        if (m_seen_end)
            fail(m_line,
                 d == ".model" ? "only one model per file is supported" : str_cat("'", word(d), "' after '.end'"));
        if (d == ".model") {
            model(t);
        } else if (d == ".inputs") {
            for (size_t i = 1; i < t.size(); ++i) {
                int id = net(t[i]);
                drive(id, BLIF_DRIVER::INPUT, static_cast<int>(m_model.m_inputs.size()));
                m_model.m_inputs.push_back(id);
                m_input_lines.push_back(m_line);
            }
        } else if (d == ".outputs") {
            for (size_t i = 1; i < t.size(); ++i) {
                int id = read_net(t[i]);
                if (m_is_output.size() <= static_cast<size_t>(id)) m_is_output.resize(m_model.m_nets.size(), false);
                if (m_is_output[id]) fail(m_line, str_cat("output '", word(t[i]), "' is declared twice"));
                m_is_output[id] = true;
                m_model.m_outputs.push_back(id);
            }
        } else if (d == ".names") {
            start_cover(t);
        } else if (d == ".latch") {
            latch(t);
        } else if (d == ".subckt") {
            subckt(t);
        } else if (d == ".end") {
            if (t.size() > 1) fail(m_line, str_cat("'.end' takes no words, found '", word(t[1]), "'"));
            m_seen_end = true;
            m_end_line = m_line;
        } else if (is_unsupported_directive(d)) {
            fail(m_line, str_cat("'", word(d), "' is not supported (only flat, unmapped BLIF is read)"));
        } else if (!is_ignored_directive(d)) {
            fail(m_line, str_cat("unknown directive '", word(d), "'"));
        }
    }

    void model(const std::vector<std::string_view>& t)
    {
        if (m_seen_model) fail(m_line, "only one model per file is supported");
        if (!m_model.m_nets.empty()) fail(m_line, "'.model' must come before the model's contents");
        if (t.size() > 2)
            fail(m_line, str_cat("'.model' takes one name, found '", word(t[2]), "' after '", word(t[1]), "'"));
        m_seen_model = true;
        m_model_line = m_line;
        m_model.m_name = t.size() > 1 ? std::string(t[1]) : default_model_name();
    }

    void start_cover(const std::vector<std::string_view>& t)
    {
        if (t.size() < 2) fail(m_line, "'.names' needs an output net");
        size_t inputs = t.size() - 2;
        if (inputs > static_cast<size_t>(m_max_lut_inputs))
            fail(m_line, str_cat("cover of '", word(t.back()), "' has ", std::to_string(inputs),
                                 " inputs; the LUT has only ", std::to_string(m_max_lut_inputs)));
        BLIF_COVER c;
        c.m_line = m_line;
        c.m_inputs.reserve(inputs);
        for (size_t i = 1; i + 1 < t.size(); ++i) c.m_inputs.push_back(read_net(t[i]));
        c.m_output = net(t.back());
        int index = static_cast<int>(m_model.m_covers.size());
        drive(c.m_output, BLIF_DRIVER::COVER, index);
        m_model.m_covers.push_back(std::move(c));
        m_open_cover = index;
        m_cover_value = -1;
    }

    void cover_row(const std::vector<std::string_view>& t)
    {
        if (m_open_cover < 0) fail(m_line, str_cat("cover row '", word(t[0]), "' outside a '.names' block"));
        BLIF_COVER& c = m_model.m_covers[m_open_cover];
        size_t n = c.m_inputs.size();
        std::string_view plane, out;
        if (n == 0) {
            if (t.size() != 1) fail(m_line, "a cover without inputs takes rows of one output value");
            out = t[0];
        } else {
            if (t.size() != 2) fail(m_line, "a cover row needs an input plane and an output value");
            plane = t[0];
            out = t[1];
            if (plane.size() != n)
                fail(m_line, str_cat("cover row '", word(plane), "' has ", std::to_string(plane.size()),
                                     " input values; expected ", std::to_string(n)));
        }
        if (out != "0" && out != "1") fail(m_line, str_cat("cover output value '", word(out), "' is not 0 or 1"));
        int value = out[0] - '0';
        if (m_cover_value >= 0 && value != m_cover_value)
            fail(m_line, str_cat("cover of '", word(m_model.m_nets[c.m_output].m_name), "' mixes 0 and 1 output rows"));
        m_cover_value = value;
        uint64_t cube = CDB_LUTMASK::full_mask(static_cast<int>(n));
        for (size_t i = 0; i < n; ++i) {
            char v = plane[i];
            if (v == '1') cube &= k_var_mask[i];
            else if (v == '0') cube &= ~k_var_mask[i];
            else if (v != '-') fail(m_line, std::string("cover value '") + v + "' is not 0, 1 or '-'");
        }
        c.m_truth |= cube;
    }

    // A cover of 0 rows lists the OFF-set: the function is its complement.
    // Inputs without a single row read as a lost row: a constant lists none.
    void finish_cover()
    {
        if (m_open_cover < 0) return;
        BLIF_COVER& c = m_model.m_covers[m_open_cover];
        if (m_cover_value < 0 && !c.m_inputs.empty())
            fail(c.m_line, str_cat("cover of '", m_model.m_nets[c.m_output].m_name,
                                   "' has inputs but no rows (a constant 0 lists no inputs; is a row missing?)"));
        if (m_cover_value == 0) c.m_truth = ~c.m_truth & CDB_LUTMASK::full_mask(static_cast<int>(c.m_inputs.size()));
        m_open_cover = -1;
    }

    // A latch without a control ("input output [init]", as ABC writes them,
    // or the control NIL) is clocked by the design's clock once every latch
    // is read (clock_clockless_latches). A falling-edge latch is a register
    // on the inverted clock, as the writer writes one.
    void latch(const std::vector<std::string_view>& t)
    {
        if (t.size() < 3 || t.size() > 6) fail(m_line, "'.latch' takes: input output [type control] [init]");
        const bool has_control = t.size() >= 5;
        BLIF_LATCH l;
        l.m_line = m_line;
        if (has_control) {
            std::string_view type = t[3];
            if (type != "re" && type != "fe") {
                if (type == "ah" || type == "al" || type == "as")
                    fail(m_line, str_cat("latch type '", word(type),
                                         "' is not supported; only edge-triggered ('re', 'fe') latches are"));
                fail(m_line, str_cat("unknown latch type '", word(type), "'"));
            }
            l.m_clock_falling = type == "fe";
        }
        if (t.size() == 6 || t.size() == 4) {
            std::string_view init = t.back();
            if (init.size() != 1 || init[0] < '0' || init[0] > '3')
                fail(m_line, str_cat("latch initial value '", word(init), "' is not 0, 1, 2 or 3"));
            // 2 (don't care) and 3 (unknown) power up like every register: to 0.
            l.m_init = init[0] == '1' ? 1 : 0;
        }
        l.m_d = read_net(t[1]);
        if (has_control && t[4] != "NIL") l.m_clock = read_net(t[4]);
        l.m_q = net(t[2]);
        int index = static_cast<int>(m_model.m_latches.size());
        drive(l.m_q, BLIF_DRIVER::LATCH, index);
        m_model.m_latches.push_back(l);
    }

    // Of the gate-level cells only the flip-flops with an asynchronous reset
    // to 0 are read: $_DFF_<clock edge><reset level>0_ with pins C, D, Q, R.
    void subckt(const std::vector<std::string_view>& t)
    {
        if (t.size() < 2) fail(m_line, "'.subckt' takes a model name and its pin connections");
        std::string_view cell = t[1];
        const bool dff = cell.size() == 10 && cell.substr(0, 6) == "$_DFF_" && cell.substr(8) == "0_" &&
                         (cell[6] == 'P' || cell[6] == 'N') && (cell[7] == 'P' || cell[7] == 'N');
        if (!dff)
            fail(m_line, str_cat("'.subckt' is not supported for '", cell,
                                 "': of the gate-level cells only the flip-flops $_DFF_PP0_, $_DFF_PN0_, $_DFF_NP0_ "
                                 "and $_DFF_NN0_ are read (otherwise only flat, unmapped BLIF)"));
        std::string_view pins[4];  // C, D, Q, R
        const char* names = "CDQR";
        for (size_t i = 2; i < t.size(); ++i) {
            const size_t eq = t[i].find('=');
            const std::string_view pin = eq == std::string_view::npos ? t[i] : t[i].substr(0, eq);
            const size_t k = pin.size() == 1 ? std::string_view(names).find(pin[0]) : std::string_view::npos;
            if (eq == std::string_view::npos || eq + 1 == t[i].size() || k == std::string_view::npos)
                fail(m_line,
                     str_cat("'", word(t[i]), "' is not a pin connection of ", word(cell), " (C=, D=, Q= or R=)"));
            if (!pins[k].empty()) fail(m_line, str_cat("pin ", pin, " of ", cell, " is connected twice"));
            pins[k] = t[i].substr(eq + 1);
        }
        for (size_t k = 0; k < 4; ++k)
            if (pins[k].empty())
                fail(m_line, str_cat(word(cell), " has no connection for its pin ", std::string(1, names[k])));
        BLIF_LATCH l;
        l.m_line = m_line;
        l.m_clock_falling = cell[6] == 'N';
        l.m_reset_active_high = cell[7] == 'P';
        l.m_d = read_net(pins[1]);
        l.m_clock = read_net(pins[0]);
        l.m_reset = read_net(pins[3]);
        l.m_q = net(pins[2]);
        const int index = static_cast<int>(m_model.m_latches.size());
        drive(l.m_q, BLIF_DRIVER::LATCH, index);
        m_model.m_latches.push_back(l);
    }

    // The clock of the latches read without one: the net --clock names, else
    // the one clock the other latches share. With none or several to choose
    // from, the first such latch is an error naming it.
    void clock_clockless_latches()
    {
        int clock = -1;
        if (!m_clock_net.empty()) {
            auto named = m_net_ids.find(m_clock_net);
            if (named == m_net_ids.end())
                fail(0, str_cat("the design has no net '", word(m_clock_net), "' to clock its latches with (--clock)"));
            clock = named->second;
        }
        std::vector<int> clocks;
        std::vector<bool> is_clock(m_model.m_nets.size(), false);
        for (const BLIF_LATCH& l : m_model.m_latches)
            if (l.m_clock >= 0 && !is_clock[l.m_clock]) {
                is_clock[l.m_clock] = true;
                clocks.push_back(l.m_clock);
            }
        for (BLIF_LATCH& l : m_model.m_latches) {
            if (l.m_clock >= 0) continue;
            if (clock < 0 && clocks.size() != 1) fail(l.m_line, clockless_latch_error(l, clocks));
            l.m_clock = clock >= 0 ? clock : clocks[0];
            BLIF_NET& n = m_model.m_nets[l.m_clock];
            if (n.m_first_use_line == 0) n.m_first_use_line = l.m_line;
        }
    }

    std::string clockless_latch_error(const BLIF_LATCH& l, const std::vector<int>& clocks) const
    {
        std::string text =
            str_cat("latch '", word(m_model.m_nets[l.m_q].m_name), "' has no clock, and the design has ");
        if (clocks.empty()) return text + "no other clocked latch to take it from; name it with --clock NET";
        text += std::to_string(clocks.size()) + " clocks (";
        for (size_t i = 0; i < clocks.size() && i < 4; ++i)
            text += (i > 0 ? ", '" : "'") + m_model.m_nets[clocks[i]].m_name + "'";
        return text + (clocks.size() > 4 ? ", ...)" : ")") + "; name its clock with --clock NET";
    }

    // The writer replaces what a BLIF name cannot hold; a net it would write
    // under the name of another, as read or as written ('a\_b' and 'a_\b'
    // both become 'a__b'), is an error here, naming both lines, rather than
    // at the end of a compile.
    void check_written_names() const
    {
        const auto& nets = m_model.m_nets;
        std::unordered_map<std::string, size_t> changed;
        for (size_t i = 0; i < nets.size(); ++i) {
            if (!blif_name_needs_cleaning(nets[i].m_name)) continue;
            const std::string written = blif_written_name(nets[i].m_name);
            auto other = m_net_ids.find(written);
            if (other != m_net_ids.end()) fail_written_twice(i, other->second, written);
            auto [earlier, first] = changed.emplace(written, i);
            if (!first) fail_written_twice(i, earlier->second, written);
        }
    }

    [[noreturn]] void fail_written_twice(size_t one, size_t other, const std::string& written) const
    {
        const BLIF_NET& a = m_model.m_nets[std::min(one, other)];
        const BLIF_NET& b = m_model.m_nets[std::max(one, other)];
        fail(std::max(a.m_line, b.m_line),
             str_cat("nets '", word(a.m_name), "' (line ", std::to_string(a.m_line), ") and '", word(b.m_name),
                     "' (line ", std::to_string(b.m_line), ") would both be written as '", word(written), "'"));
    }

    std::string default_model_name() const
    {
        std::string name = m_model.m_file;
        size_t slash = name.find_last_of('/');
        if (slash != std::string::npos) name = name.substr(slash + 1);
        size_t dot = name.find('.');
        if (dot != std::string::npos && dot > 0) name = name.substr(0, dot);
        return name.empty() ? "top" : name;
    }

    // Kahn's order over cover-to-cover edges; whatever is left sits on or
    // behind a loop, and walking back along left-over drivers must revisit a
    // cover, which is then on the loop.
    void order_covers()
    {
        const auto& covers = m_model.m_covers;
        const auto& nets = m_model.m_nets;
        size_t nc = covers.size();
        std::vector<int> pending(nc, 0);
        std::vector<int> fan_start(nc + 1, 0);
        for (size_t c = 0; c < nc; ++c)
            for (int in : covers[c].m_inputs)
                if (nets[in].m_driver == BLIF_DRIVER::COVER) {
                    ++pending[c];
                    ++fan_start[nets[in].m_driver_index + 1];
                }
        for (size_t c = 0; c < nc; ++c) fan_start[c + 1] += fan_start[c];
        std::vector<int> fanout(fan_start[nc]);
        std::vector<int> fill(fan_start.begin(), fan_start.end() - 1);
        for (size_t c = 0; c < nc; ++c)
            for (int in : covers[c].m_inputs)
                if (nets[in].m_driver == BLIF_DRIVER::COVER)
                    fanout[fill[nets[in].m_driver_index]++] = static_cast<int>(c);
        auto& order = m_model.m_cover_order;
        order.reserve(nc);
        for (size_t c = 0; c < nc; ++c)
            if (pending[c] == 0) order.push_back(static_cast<int>(c));
        for (size_t i = 0; i < order.size(); ++i) {
            int c = order[i];
            for (int k = fan_start[c]; k < fan_start[c + 1]; ++k)
                if (--pending[fanout[k]] == 0) order.push_back(fanout[k]);
        }
        if (order.size() == nc) return;
        int c = 0;
        while (pending[c] == 0) ++c;
        std::vector<char> seen(nc, 0);
        while (!seen[c]) {
            seen[c] = 1;
            for (int in : covers[c].m_inputs)
                if (nets[in].m_driver == BLIF_DRIVER::COVER && pending[nets[in].m_driver_index] > 0) {
                    c = nets[in].m_driver_index;
                    break;
                }
        }
        fail(covers[c].m_line, "combinational loop through net '" + nets[covers[c].m_output].m_name + "'");
    }

    std::string_view m_text;
    int m_max_lut_inputs;
    std::string m_clock_net;  // --clock: the clock of latches read without one
    BLIF_MODEL m_model;
    std::unordered_map<std::string, int, STRING_HASH, std::equal_to<>> m_net_ids;
    std::vector<int> m_input_lines;
    std::vector<bool> m_is_output;
    std::string m_joined;
    size_t m_pos = 0;
    int m_line = 0;
    int m_next_line = 1;
    int m_open_cover = -1;
    int m_cover_value = -1;
    int m_model_line = 0;
    int m_end_line = 0;
    bool m_seen_model = false;
    bool m_seen_end = false;
};

}  // namespace

BLIF_ERROR::BLIF_ERROR(const std::string& file, int line, const std::string& what)
    : std::runtime_error(error_text(file, line, what)), m_file(file), m_line(line)
{}

BLIF_MODEL parse_blif_text(std::string_view text, const std::string& file_label, int max_lut_inputs,
                           const std::string& clock_net)
{
    if (max_lut_inputs < 0 || max_lut_inputs > 6) throw BLIF_ERROR(file_label, 0, "LUT size must be 0 to 6");
    return PARSER(text, file_label, max_lut_inputs, clock_net).run();
}

BLIF_MODEL parse_blif_file(const std::string& path, int max_lut_inputs, const std::string& clock_net)
{
    std::string text, error;
    int bad_line = 0;
    if (!fio_read_user_file(path, text, error, &bad_line)) {
        if (bad_line > 0 && error.rfind("NUL", 0) == 0) throw BLIF_ERROR(path, bad_line, k_nul_in_line);
        if (bad_line > 0)
            throw BLIF_ERROR(path, bad_line,
                             "the line is longer than " + std::to_string(FIO_MAX_LINE_BYTES >> 20) +
                                 " MiB (is this a text file?)");
        throw BLIF_ERROR(path, 0, error);
    }
    return parse_blif_text(text, path, max_lut_inputs, clock_net);
}

namespace {

const size_t k_undriven_named = 10;

// ", name (line N)" for the undriven nets from `first` on, the first ten of them.
std::string undriven_list(const BLIF_MODEL& model, size_t first)
{
    std::string text;
    const size_t count = model.m_undriven.size();
    for (size_t i = first; i < count && i < k_undriven_named; ++i) {
        const BLIF_NET& n = model.m_nets[model.m_undriven[i]];
        text += str_cat(i > first ? ", " : " ", n.m_name, " (line ", std::to_string(n.m_first_use_line), ")");
    }
    if (count > k_undriven_named) text += str_cat(" and ", std::to_string(count - k_undriven_named), " more");
    return text;
}

bool is_unwritable_in_name(char c)
{
    return static_cast<unsigned char>(c) <= ' ' || c == 127 || c == '#' || c == '\\';
}

}  // namespace

std::string blif_undriven_warning_text(const BLIF_MODEL& model)
{
    const size_t count = model.m_undriven.size();
    return str_cat(model.m_file, ": ", std::to_string(count), count == 1 ? " undriven net" : " undriven nets",
                   " tied to constant 0:", undriven_list(model, 0));
}

BLIF_ERROR blif_undriven_error(const BLIF_MODEL& model)
{
    const BLIF_NET& first = model.m_nets[model.m_undriven.at(0)];
    std::string text = str_cat("net '", word(first.m_name), "' is read but never driven");
    if (model.m_undriven.size() > 1)
        text += str_cat(" (", std::to_string(model.m_undriven.size()), " undriven nets; also", undriven_list(model, 1),
                        ")");
    return BLIF_ERROR(model.m_file, first.m_first_use_line, text);
}

bool blif_name_needs_cleaning(std::string_view name)
{
    if (name.empty()) return true;
    for (char c : name)
        if (is_unwritable_in_name(c)) return true;
    return false;
}

std::string blif_written_name(std::string_view name)
{
    if (name.empty()) return "_";
    std::string s(name);
    for (char& c : s)
        if (is_unwritable_in_name(c)) c = '_';
    return s;
}
