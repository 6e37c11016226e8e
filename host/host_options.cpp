#include "host_options.h"

#include <cctype>
#include <cstdlib>
#include <cstring>

#include "msg/msg.h"
#include "morv/core/morv_setting_ids.h"

namespace morv_host {

int effort_setting_value(FIT_EFFORT effort)
{
    switch (effort) {
    case FIT_EFFORT::FAST: return MORV_EFFORT_FAST;
    case FIT_EFFORT::EXTRA: return MORV_EFFORT_EXTRA;
    case FIT_EFFORT::NORMAL: break;
    }
    return MORV_EFFORT_NORMAL;
}

bool parse_int_strict(const std::string& text, int64_t lo, int64_t hi, int64_t& value)
{
    if (text.empty() || text.size() > 20) return false;
    size_t i = 0;
    bool negative = false;
    if (text[0] == '-' || text[0] == '+') {
        negative = text[0] == '-';
        i = 1;
    }
    if (i == text.size()) return false;
    // Accumulate in unsigned arithmetic so that an overlong number is caught
    // instead of wrapping.
    uint64_t magnitude = 0;
    for (; i < text.size(); ++i) {
        char c = text[i];
        if (c < '0' || c > '9') return false;
        uint64_t digit = static_cast<uint64_t>(c - '0');
        if (magnitude > (UINT64_MAX - digit) / 10) return false;
        magnitude = magnitude * 10 + digit;
    }
    if (magnitude > static_cast<uint64_t>(INT64_MAX)) return false;
    int64_t v = negative ? -static_cast<int64_t>(magnitude) : static_cast<int64_t>(magnitude);
    if (v < lo || v > hi) return false;
    value = v;
    return true;
}

const char* fit_usage_text()
{
    return "usage: morv-fit [options] DESIGN   (BLIF, or the native text form)\n"
           "  -o OUT.blif            write the optimised netlist as BLIF\n"
           "  --native OUT.txt       also write the netlist in the native text form\n"
           "  --family NAME          device family: BRK ZEPLA TEV MRL KESTLIN RZK OBRAN UVO (default BRK)\n"
           "  --device FILE          device description overriding the family's built-in device\n"
           "  --clock-period PS      clock period in picoseconds (default: derived from the\n"
           "                         unoptimised critical path)\n"
           "  --effort LEVEL         fast | normal | extra (default normal)\n"
           "  -O, --optimize         turn on all six physical-synthesis settings below (the\n"
           "                         family's default lists); --settings and --set may turn\n"
           "                         one off again\n"
           "  --test-string STRING   run these algorithms instead of the default lists\n"
           "  --settings FILE        project settings by id and fsyn_* switches (repeatable:\n"
           "                         read in order, a later file's value wins)\n"
           "  --set KEY=VALUE        one setting or switch (repeatable; after --settings)\n"
           "  --aux-dir DIR          folder of the compile's own files (delays, debug dumps,\n"
           "                         statistics, change logs); relative names in settings are\n"
           "                         taken there (default: the folder of -o, else the current one)\n"
           "  --seed N               placer seed (default 1)\n"
           "  --clock NET            clock of the latches the design gives none (BLIF '.latch D Q'\n"
           "                         as ABC writes it; default: the design's one clock)\n"
           "  --stats FILE           also write the summary table as CSV, one row per flow\n"
           "                         point and algorithm\n"
           "  --error-on-undriven    nets read but never driven are an error (default: tied to 0,\n"
           "                         with one warning naming them)\n"
           "  --read-enables         read a register's enable written as a mux of its own output,\n"
           "                         with the synchronous clear and load inside it, as the\n"
           "                         register's own controls\n"
           "  -q, --quiet            print only warnings, errors and the summary table\n"
           "  -v, --verbose          print progress of every step (on a terminal the default\n"
           "                         shows one line per flow point and algorithm)\n"
           "  --help                 show this text\n"
           "  --version              show the version\n";
}

namespace {

// Options that take a value accept both "--opt VALUE" and "--opt=VALUE".
bool takes_value(const std::string& name)
{
    static const char* const k_valued[] = {"-o",        "--native",      "--family",   "--device", "--clock-period",
                                           "--effort",  "--test-string", "--settings", "--set",    "--seed",
                                           "--aux-dir", "--stats",       "--clock"};
    for (const char* v : k_valued)
        if (name == v) return true;
    return false;
}

// Options that may be given more than once; any other option given twice
// would silently drop its first value.
bool is_repeatable(const std::string& name)
{
    return name == "--set" || name == "--settings";
}

// A file option with an empty name would silently read or write nothing.
bool names_a_file(const std::string& name)
{
    return name == "-o" || name == "--native" || name == "--device" || name == "--settings" || name == "--stats";
}

bool known_family(const std::string& f)
{
    static const char* const k_families[] = {"BRK", "ZEPLA", "TEV", "MRL", "KESTLIN", "RZK", "OBRAN", "UVO"};
    for (const char* v : k_families)
        if (f == v) return true;
    return false;
}

}  // namespace

bool parse_fit_options(int argc, const char* const* argv, FIT_OPTIONS& o, std::string& error)
{
    bool options_done = false;
    std::vector<std::string> given;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i] ? argv[i] : "";
        if (options_done || arg.empty() || arg[0] != '-' || arg == "-") {
            if (!o.design.empty()) {
                error = "more than one design file given ('" + msg_cut_word(o.design) + "' and '" + msg_cut_word(arg) +
                        "')";
                return false;
            }
            if (arg.empty()) {
                error = "empty design file name";
                return false;
            }
            o.design = arg;
            continue;
        }
        if (arg == "--") {
            options_done = true;
            continue;
        }
        std::string name = arg, value;
        bool inline_value = false;
        if (arg.rfind("--", 0) == 0) {
            size_t eq = arg.find('=');
            if (eq != std::string::npos) {
                name = arg.substr(0, eq);
                value = arg.substr(eq + 1);
                inline_value = true;
            }
        }
        if (takes_value(name)) {
            if (!inline_value) {
                if (i + 1 >= argc) {
                    error = "option " + name + " needs a value";
                    return false;
                }
                value = argv[++i];
            }
        } else if (inline_value) {
            error = "option " + name + " takes no value";
            return false;
        }
        if (takes_value(name) && !is_repeatable(name)) {
            for (const std::string& earlier : given)
                if (earlier == name) {
                    error = "option " + name + " is given more than once";
                    return false;
                }
            given.push_back(name);
        }
        if (names_a_file(name) && value.empty()) {
            error = name + ": empty file name";
            return false;
        }

        if (name == "--help" || name == "-h") o.help = true;
        else if (name == "--version") o.version = true;
        else if (name == "-q" || name == "--quiet") o.verbosity = 0;
        else if (name == "-v" || name == "--verbose") o.verbosity = 2;
        else if (name == "--error-on-undriven") o.undriven_is_error = true;
        else if (name == "--read-enables") o.read_enables = true;
        else if (name == "-O" || name == "--optimize") o.optimize = true;
        else if (name == "-o") o.output_blif = value;
        else if (name == "--native") o.output_native = value;
        else if (name == "--device") o.device_file = value;
        else if (name == "--settings") o.settings_files.push_back(value);
        else if (name == "--stats") o.stats_file = value;
        else if (name == "--clock") {
            if (value.empty()) {
                error = "--clock: empty net name";
                return false;
            }
            o.clock_net = value;
        } else if (name == "--aux-dir") {
            if (value.empty()) {
                error = "--aux-dir: empty folder name";
                return false;
            }
            o.aux_dir = value;
        } else if (name == "--family") {
            std::string up;
            for (char c : value) up += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
            if (!known_family(up)) {
                error =
                    "--family: unknown family '" + msg_cut_word(value) + "' (BRK ZEPLA TEV MRL KESTLIN RZK OBRAN UVO)";
                return false;
            }
            o.family = up;
        } else if (name == "--clock-period") {
            int64_t v = 0;
            if (!parse_int_strict(value, 1, 1000000000, v)) {
                error =
                    "--clock-period: '" + msg_cut_word(value) + "' is not a period in picoseconds (1 .. 1000000000)";
                return false;
            }
            o.clock_period_ps = v;
        } else if (name == "--seed") {
            int64_t v = 0;
            if (!parse_int_strict(value, 0, 2147483647, v)) {
                error = "--seed: '" + msg_cut_word(value) + "' is not a number (0 .. 2147483647)";
                return false;
            }
            o.seed = static_cast<uint32_t>(v);
            o.has_seed = true;
        } else if (name == "--effort") {
            o.has_effort = true;
            if (value == "fast") o.effort = FIT_EFFORT::FAST;
            else if (value == "normal") o.effort = FIT_EFFORT::NORMAL;
            else if (value == "extra") o.effort = FIT_EFFORT::EXTRA;
            else {
                error = "--effort: '" + msg_cut_word(value) + "' is not one of fast, normal, extra";
                return false;
            }
        } else if (name == "--test-string") {
            o.test_string = value;
            o.has_test_string = true;
        } else if (name == "--set") {
            size_t eq = value.find('=');
            if (eq == std::string::npos || eq == 0) {
                error = "--set: '" + msg_cut_word(value) + "' is not KEY=VALUE";
                return false;
            }
            o.sets.emplace_back(value.substr(0, eq), value.substr(eq + 1));
        } else {
            error = "unknown option '" + msg_cut_word(arg) + "' (see --help)";
            return false;
        }
    }
    if (!o.help && !o.version && o.design.empty()) {
        error = "no design file given (see --help)";
        return false;
    }
    return true;
}

}  // namespace morv_host
