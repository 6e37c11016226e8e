// Damaged netlists and settings: seeded mutations and truncations of the
// bundled designs and of a settings file. Each damaged text must either be
// rejected with a message naming the file and a line of it, or be read as
// exactly what it says: the written netlist must be proved equivalent, by
// ABC, to the damaged text itself, and every accepted setting must read as
// written. Never a crash, a hang, or a design with nothing in it.
//
// Most cases run the reader and writer in this process; ABC checks only the
// accepted ones (up to a budget), and a sample goes through the program.

#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "abc_equiv.h"
#include "cfg/cfg.h"
#include "cfg/cfg_known_keys.h"
#include "fio/fio.h"
#include "hdb/hdb_options.h"
#include "host_settings.h"
#include "io/blif_reader.h"
#include "io/blif_writer.h"
#include "msg/msg.h"
#include "test_build.h"
#include "test_files.h"

namespace fuzz_test {

namespace {

int count_lines(const std::string& text)
{
    int lines = 0;
    for (size_t pos = 0; pos < text.size(); ++lines) fio_next_line(text, pos);
    return lines;
}

// The damaged text for ABC, whose reader differs from a correct one in two
// ways that do not change the design: it knows only LF line ends, and it
// fails on a file without '.model' (the reader names the model after the file).
std::string as_abc_reads_it(const std::string& text)
{
    std::string out;
    bool has_model = false;
    for (size_t pos = 0; pos < text.size();) {
        std::string_view line = fio_next_line(text, pos);
        has_model |= line.rfind(".model", 0) == 0;
        out += line;
        out += '\n';
    }
    return has_model ? out : ".model fuzz\n" + out;
}

class MUTATOR
{
public:
    explicit MUTATOR(uint32_t seed) : m_rng(seed) {}

    std::string operator()(std::string text, std::string& what)
    {
        if (text.empty()) return text;
        switch (pick(10)) {
        case 0:
            what = "delete a byte";
            text.erase(pick(text.size()), 1);
            break;
        case 1:
            what = "insert a byte";
            text.insert(pick(text.size() + 1), 1, byte());
            break;
        case 2:
            what = "replace a byte";
            text[pick(text.size())] = byte();
            break;
        case 3:
            what = "lose a line break";
            lose_line_break(text);
            break;
        case 4:
            what = "delete a line";
            edit_line(text, false);
            break;
        case 5:
            what = "duplicate a line";
            edit_line(text, true);
            break;
        case 6:
            what = "cut at a byte";
            text.resize(pick(text.size()));
            break;
        case 7:
            what = "cut at a line end";
            cut_at_line_end(text);
            break;
        case 8:
            what = "insert a line continuation";
            insert_continuation(text);
            break;
        default:
            what = "change the line ends";
            change_line_ends(text);
            break;
        }
        return text;
    }

private:
    size_t pick(size_t n) { return std::uniform_int_distribution<size_t>(0, n - 1)(m_rng); }

    // Characters that mean something to the grammar, name characters, and
    // bytes no name may hold.
    char byte()
    {
        static const char k_pool[] = {'0', '1', '-', '2', '3', '.', ' ',    '\t',   '\n', '\r',
                                      '#', 'a', 'n', '_', '=', '~', '\x01', '\x7f', '\0', '\xff'};
        return k_pool[pick(sizeof k_pool)];
    }

    std::vector<size_t> line_breaks(const std::string& text)
    {
        std::vector<size_t> at;
        for (size_t i = 0; i < text.size(); ++i)
            if (text[i] == '\n') at.push_back(i);
        return at;
    }

    void lose_line_break(std::string& text)
    {
        std::vector<size_t> at = line_breaks(text);
        if (!at.empty()) text[at[pick(at.size())]] = ' ';
    }

    void cut_at_line_end(std::string& text)
    {
        std::vector<size_t> at = line_breaks(text);
        if (!at.empty()) text.resize(at[pick(at.size())] + 1);
    }

    void edit_line(std::string& text, bool duplicate)
    {
        std::vector<size_t> at = line_breaks(text);
        if (at.size() < 2) return;
        size_t i = pick(at.size() - 1);
        size_t begin = at[i] + 1, end = at[i + 1] + 1;
        if (duplicate) text.insert(begin, text.substr(begin, end - begin));
        else text.erase(begin, end - begin);
    }

    void insert_continuation(std::string& text)
    {
        std::vector<size_t> at = line_breaks(text);
        if (!at.empty()) text.insert(at[pick(at.size())], " \\");
    }

    void change_line_ends(std::string& text)
    {
        const char* end = pick(2) ? "\r" : "\r\n";
        std::string out;
        for (char c : text) out += c == '\n' ? std::string(end) : std::string(1, c);
        text = out;
    }

    std::mt19937 m_rng;
};

// "LABEL:N: ..." with N a line of the text, or the one message that has
// no line: a file without a single word.
::testing::AssertionResult names_file_and_line(const std::string& message, const std::string& label,
                                               const std::string& text)
{
    const std::string head = label + ":";
    if (message.rfind(head, 0) != 0) return ::testing::AssertionFailure() << "does not name the file: " << message;
    size_t colon = message.find(':', head.size());
    std::string number = message.substr(head.size(), colon == std::string::npos ? 0 : colon - head.size());
    if (number.empty() || number.find_first_not_of("0123456789") != std::string::npos) {
        if (message.find("holds no model") != std::string::npos) return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure() << "does not name a line: " << message;
    }
    const int line = std::stoi(number);
    if (line < 1 || line > count_lines(text) + 1)
        return ::testing::AssertionFailure() << "line " << line << " is not in the text: " << message;
    return ::testing::AssertionSuccess();
}

struct OUTCOME
{
    bool accepted = false;
    std::string message;   // the error when rejected
    std::string written;   // the netlist written back when accepted
    std::string warnings;  // what the reader told the user
    bool has_outputs = false;
};

OUTCOME read_in_process(const std::string& text, const std::string& label)
{
    OUTCOME o;
    msg_clear_posted_messages();
    testing::internal::CaptureStderr();  // the undriven-net warnings of accepted cases
    try {
        BLIF_READER reader(CDB_FAMILY_BRK);
        std::unique_ptr<CDB_ATOM_NETLIST> netlist = reader.read_text(text, label);
        for (CDB_ATOM_NODE* n : *netlist)
            o.has_outputs |= n->is_pin() && n->get_input_term_by_type(DB_DATAIN) != nullptr;
        std::ostringstream out;
        blif_write_netlist(*netlist, out, "top");
        o.written = out.str();
        o.accepted = true;
    } catch (const BLIF_ERROR& e) {
        o.message = e.what();
    }
    o.warnings = testing::internal::GetCapturedStderr();
    return o;
}

OUTCOME run_program(const std::string& text, const std::string& label)
{
    write_file(label, text);
    const std::string out_file = label + ".out";
    std::remove(out_file.c_str());
    std::string cmd = std::string(MORV_FIT_BINARY) + " -q -o " + out_file + " " + label + " 2>&1";
    const COMMAND_RUN run = run_command(cmd);
    OUTCOME o;
    o.warnings = run.out;
    const int status = run.status;
    EXPECT_TRUE(status == 0 || status == 1) << "exit " << status << "\n" << o.warnings;
    o.accepted = status == 0;
    if (o.accepted) {
        o.written = slurp(out_file);
        o.has_outputs = o.written.find(".outputs") != std::string::npos;
        return o;
    }
    const std::string prefix = "morv-fit: error: ";
    const size_t at = o.warnings.find(prefix);
    EXPECT_NE(at, std::string::npos) << o.warnings;
    if (at == std::string::npos) return o;
    o.message = o.warnings.substr(at + prefix.size());
    o.message = o.message.substr(0, o.message.find('\n'));
    return o;
}

::testing::AssertionResult equivalent(const std::string& damaged, const std::string& written, bool sequential,
                                      const std::string& name)
{
    const std::string a = name + ".ref.blif";
    const std::string b = name + ".got.blif";
    write_file(a, as_abc_reads_it(damaged));
    write_file(b, written);
    ABC_RESULT r = abc_check_equivalence(a, b, sequential, 20);
    if (r.is_equivalent()) {
        std::remove(a.c_str());
        std::remove(b.c_str());
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure() << abc_verdict_name(r.m_verdict) << " (" << a << " vs " << b << ")\n"
                                         << r.m_output;
}

// ABC has one implicit clock and ignores the clock nets of latches, so a
// latch whose clock is undriven (tied to 0: it never loads) is beyond it;
// such a case is checked by the warning that must name the undriven nets.
bool has_undriven_clock(const BLIF_MODEL& model)
{
    for (const BLIF_LATCH& l : model.m_latches)
        if (model.m_nets[l.m_clock].m_driver == BLIF_DRIVER::NONE) return true;
    return false;
}

struct BUDGET
{
    int abc_checks;
    int program_runs;
};

void fuzz_design(const std::string& path, uint32_t seed, int cases, BUDGET budget)
{
    const std::string original = slurp(path);
    const std::string stem = std::filesystem::path(path).stem().string();
    const std::string label = "fuzz_" + stem + ".blif";
    ASSERT_FALSE(original.empty()) << path;
    const bool abc = abc_is_available();
    MUTATOR mutate(seed);
    int accepted = 0, checked = 0, programs = 0, clocks = 0;
    for (int i = 0; i < cases; ++i) {
        std::string what;
        const std::string text = mutate(original, what);
        // A sample goes through the program, spread over the run.
        const bool via_program = programs < budget.program_runs && i % (cases / budget.program_runs + 1) == 0;
        OUTCOME o = via_program ? run_program(text, label) : read_in_process(text, label);
        programs += via_program;
        SCOPED_TRACE(path + " case " + std::to_string(i) + " (" + what + ")" + (via_program ? " via morv-fit" : ""));
        if (!o.accepted) {
            EXPECT_TRUE(names_file_and_line(o.message, label, text));
            continue;
        }
        ++accepted;
        EXPECT_TRUE(o.has_outputs) << "an empty design was accepted";
        const BLIF_MODEL model = parse_blif_text(text, label, 6);
        if (!model.m_undriven.empty()) {
            EXPECT_NE(o.warnings.find("WHOST_BLIF_UNDRIVEN_NETS"), std::string::npos) << o.warnings;
        }
        if (has_undriven_clock(model)) {
            ++clocks;
            continue;
        }
        if (abc && (via_program || checked < budget.abc_checks)) {
            ++checked;
            EXPECT_TRUE(
                equivalent(text, o.written, !model.m_latches.empty(), "fuzz_" + stem + "_" + std::to_string(i)));
        }
    }
    std::cout << path << ": " << cases << " cases, " << accepted << " accepted, " << checked << " proved by ABC, "
              << clocks << " with an undriven clock, " << programs << " through morv-fit\n";
    // The mutations must leave some cases readable, or the equivalence side
    // of the test would check nothing.
    EXPECT_GT(accepted, cases / 20) << path;
    if (!abc) GTEST_SKIP() << "berkeley-abc is not installed: accepted cases were not checked for equivalence";
}

const std::string k_designs = std::string(MORV_SOURCE_DIR) + "/designs/";

// 800 damaged texts, 100 of them proved by ABC and 8 through the program; the
// sanitizer build keeps the first tenth of the texts and proofs and 2 program runs.
void fuzz_bundled_design(const std::string& path, uint32_t seed)
{
    if (k_small_designs_only) fuzz_design(path, seed, 80, {10, 2});
    else fuzz_design(path, seed, 800, {100, 8});
}

TEST(MorvFitFuzz, CounterSurvivesDamage)
{
    fuzz_bundled_design(k_designs + "counter.blif", 11);
}
TEST(MorvFitFuzz, PipelineSurvivesDamage)
{
    fuzz_bundled_design(k_designs + "pipeline.blif", 12);
}
TEST(MorvFitFuzz, S27SurvivesDamage)
{
    fuzz_bundled_design(std::string(MORV_BENCH_DIR) + "/iscas89_k6/s27.blif", 13);
}

// ---------------------------------------------------------------- settings

// Every kind of line morv-fit takes, on the counter design. The
// optimisation settings stay off: with one on, the late flow point asks for
// a default algorithm list that no family has yet.
const char* const k_counter_settings = "# settings of the counter\n"
                                       "566=7\n"
                                       "696=81\n"
                                       "662=off\n"
                                       "  664 = off\n"
                                       "fsyn_debug_msg=off\n"
                                       "fsyn_overuse_ratio=0.9\n"
                                       "tdc_clock_period_ps=4000\n"
                                       "tdc_clock_period_ps.clk=3500\n"
                                       "tdc_input_delay_ps=100\n"
                                       "dont_touch=n3\n"
                                       "locked_region=r2 0 0 9 9\n"
                                       "must_keep=q7\n";

struct SETTING_LINE
{
    std::string key, value;
};

// The lines a correct reader takes from the text: LF, CRLF and CR end a
// line; blanks are spaces and tabs; blank lines and '#' lines are skipped.
// Nothing when a line has no '=' (the text must then be refused).
std::optional<std::vector<SETTING_LINE>> reference_settings(const std::string& text)
{
    std::vector<SETTING_LINE> lines;
    auto trim = [](std::string t) {
        const size_t b = t.find_first_not_of(" \t");
        if (b == std::string::npos) return std::string();
        return t.substr(b, t.find_last_not_of(" \t") - b + 1);
    };
    std::string line;
    auto take = [&]() {
        const std::string t = trim(line);
        line.clear();
        if (t.empty() || t[0] == '#') return true;
        const size_t eq = t.find('=');
        if (eq == std::string::npos) return false;
        lines.push_back({trim(t.substr(0, eq)), trim(t.substr(eq + 1))});
        return true;
    };
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\n' && text[i] != '\r') {
            line += text[i];
            continue;
        }
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
        if (!take()) return std::nullopt;
    }
    if (!take()) return std::nullopt;
    return lines;
}

// "LABEL:N: ..." with N a line of the text, or a NUL byte's line.
::testing::AssertionResult names_settings_line(const std::string& message, const std::string& label,
                                               const std::string& text)
{
    const std::string nul = label + ": cannot read the settings file: NUL byte in line ";
    if (message.rfind(nul, 0) == 0) {
        const size_t at = text.find('\0');
        if (at == std::string::npos) return ::testing::AssertionFailure() << "no NUL in the text: " << message;
        return ::testing::AssertionSuccess();
    }
    return names_file_and_line(message, label, text);
}

// The kind each project setting is read as, by the component's own readers.
std::optional<bool> reads_as_written(int id, const HDB_OPTION_SET& options)
{
    switch (id) {
    case 566:
    case 666: return HDB_INT_OPTION::get_int_option(&options, id).has_value();
    case 696: return HDB_ENUM_OPTION::get_enum_option(&options, id).has_value();
    case 479:
    case 634:
    case 661: return true;
    default: break;
    }
    if (id >= 659 && id <= 665) return HDB_BOOL_OPTION::get_bool_option(&options, id).has_value();
    return std::nullopt;  // no setting of that id may be accepted
}

// Assignments name atoms: they are checked once the netlist is read.
bool is_assignment(const std::string& key)
{
    for (const char* k : {"dont_touch", "must_keep", "back_annotated", "locked_region", "kardel_region", "partition",
                          "floating_region", "partition_name", "boundary_port", "instance_option"})
        if (key == k) return true;
    return false;
}

// What an accepted text applies is what it says, and every value reads as
// written, never as its reader's default.
void expect_applied_as_written(const morv_host::HOST_SETTINGS& settings, const std::vector<SETTING_LINE>& lines)
{
    cfg_clear_all();
    HDB_OPTION_SET options;
    settings.apply_options_and_switches(options);
    std::map<int, std::string> ids;
    std::map<std::string, std::string> switches;
    for (const SETTING_LINE& l : lines) {
        if (!l.key.empty() && l.key.size() < 9 && l.key.find_first_not_of("0123456789") == std::string::npos)
            ids[std::stoi(l.key)] = l.value;
        else if (!is_assignment(l.key)) switches[l.key] = l.value;
    }
    EXPECT_EQ(options.size(), ids.size());
    for (const auto& [id, value] : ids) {
        const std::string* text = options.find_text(id);
        EXPECT_TRUE(text && *text == value) << id << "=" << value;
        EXPECT_EQ(reads_as_written(id, options), std::optional<bool>(true)) << id << "=" << value;
    }
    for (const auto& [key, value] : switches) {
        const char* text = cfg_get_value(key.c_str());
        EXPECT_TRUE(text && text == value) << key << "=" << value;
        const CFG_KNOWN_KEY* known = cfg_find_known_key(key);
        ASSERT_NE(known, nullptr) << key;
        if (known->kind == CFG_KEY_KIND::SWITCH) {
            EXPECT_EQ(cfg_is_on(key.c_str(), true), cfg_is_on(key.c_str(), false)) << key << "=" << value;
        } else if (known->kind == CFG_KEY_KIND::INT) {
            EXPECT_EQ(cfg_get_int_value(key.c_str(), INT_MIN), cfg_get_int_value(key.c_str(), INT_MAX))
                << key << "=" << value;
        }
    }
    cfg_clear_all();
}

// morv-fit on the counter with the damaged settings: exit 1 naming the file
// and a line, or exit 0 with a netlist ABC proves equivalent to the design.
// Answers whether the run was accepted.
bool run_counter_with_settings(const std::string& text, const std::string& label, int i, bool abc)
{
    write_file(label, text);
    const std::string out_file = "fuzz_counter_" + std::to_string(i) + ".blif";
    const std::string cmd = std::string(MORV_FIT_BINARY) + " -q --settings " + label + " -o " + out_file + " " +
                            k_designs + "counter.blif 2>&1";
    const COMMAND_RUN run = run_command(cmd);
    const std::string& output = run.out;
    const int status = run.status;
    EXPECT_TRUE(status == 0 || status == 1) << "exit " << status << "\n" << output;
    if (status != 0) {
        const std::string prefix = "morv-fit: error: ";
        const size_t at = output.find(prefix);
        EXPECT_NE(at, std::string::npos) << output;
        if (at == std::string::npos) return false;
        const std::string message = output.substr(at + prefix.size(), output.find('\n', at) - at - prefix.size());
        EXPECT_TRUE(names_settings_line(message, label, text));
        return false;
    }
    if (!abc) return true;
    ABC_RESULT r = abc_check_equivalence(k_designs + "counter.blif", out_file, true, 20);
    EXPECT_TRUE(r.is_equivalent()) << abc_verdict_name(r.m_verdict) << "\n" << r.m_output;
    if (r.is_equivalent()) std::remove(out_file.c_str());
    return true;
}

TEST(MorvFitFuzz, SettingsSurviveDamage)
{
    const std::string label = "fuzz_settings.txt";
    // The sanitizer build keeps the first tenth of the texts, 3 of them through the program.
    const int cases = k_small_designs_only ? 150 : 1500, program_runs = k_small_designs_only ? 3 : 12;
    const bool abc = abc_is_available();
    MUTATOR mutate(14);
    int accepted = 0, programs = 0, ran = 0;
    for (int i = 0; i < cases; ++i) {
        std::string what;
        const std::string text = mutate(k_counter_settings, what);
        SCOPED_TRACE("settings case " + std::to_string(i) + " (" + what + ")");
        if (i % (cases / program_runs) == 0) {
            ++programs;
            ran += run_counter_with_settings(text, label, i, abc);
        }
        write_file(label, text);
        morv_host::HOST_SETTINGS settings;
        try {
            settings.load_file(label);
        } catch (const morv_host::HOST_INPUT_ERROR& e) {
            EXPECT_TRUE(names_settings_line(e.what(), label, text));
            continue;
        }
        ++accepted;
        const std::optional<std::vector<SETTING_LINE>> lines = reference_settings(text);
        ASSERT_TRUE(lines.has_value()) << "a line without '=' was accepted:\n" << text;
        expect_applied_as_written(settings, *lines);
    }
    std::cout << "settings: " << cases << " cases, " << accepted << " accepted, " << programs << " through morv-fit, "
              << ran << " of them compiled and proved equivalent\n";
    EXPECT_GT(accepted, cases / 20);
    if (!abc) GTEST_SKIP() << "berkeley-abc is not installed: accepted runs were not checked for equivalence";
}

}  // namespace

}  // namespace fuzz_test
