#pragma once
// Command-line options of morv-fit, parsed without touching any file so that
// the parser can be tested on its own.

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace morv_host {

enum class FIT_EFFORT
{
    FAST,
    NORMAL,
    EXTRA
};

// Project-setting value of an effort level (MORV_SETTING_EFFORT).
int effort_setting_value(FIT_EFFORT effort);

struct FIT_OPTIONS
{
    std::string design;         // input BLIF, never written
    std::string output_blif;    // -o
    std::string output_native;  // --native
    std::string family = "BRK";
    std::string device_file;
    std::string aux_dir;           // --aux-dir: the compile's working folder for the component's own files
    int64_t clock_period_ps = -1;  // -1: derived from the unoptimised critical path
    FIT_EFFORT effort = FIT_EFFORT::NORMAL;
    bool has_effort = false;
    bool has_test_string = false;
    std::string test_string;
    std::vector<std::string> settings_files;                // --settings FILE, in order (repeatable)
    std::vector<std::pair<std::string, std::string>> sets;  // --set KEY=VALUE, in order
    bool undriven_is_error = false;                         // --error-on-undriven
    bool read_enables = false;                              // --read-enables
    bool has_seed = false;
    uint32_t seed = 1;
    bool optimize = false;   // -O, --optimize: every on/off physical-synthesis setting on
    std::string stats_file;  // --stats: the summary table as CSV
    std::string clock_net;   // --clock: the clock of latches the design gives none
    int verbosity = 1;       // 0 with -q, 2 with -v
    bool help = false;
    bool version = false;
};

// Parses argv[1..argc). Returns true on success; on failure `error` names
// the offending argument and what is wrong with it.
bool parse_fit_options(int argc, const char* const* argv, FIT_OPTIONS& options, std::string& error);

// Strict decimal parsing: the whole text must be a number inside [lo, hi].
bool parse_int_strict(const std::string& text, int64_t lo, int64_t hi, int64_t& value);

const char* fit_usage_text();

}  // namespace morv_host
