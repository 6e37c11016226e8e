#pragma once
// General host helpers: timers, elapsed-time text, the section profiler and
// the regression-test query.

#include <iosfwd>
#include <string>
#include <unordered_map>
#include <vector>

#include "gen/gen_enum_flag.h"

double gen_get_sec_cpu();        // CPU seconds used by the process
double gen_get_sec_wallclock();  // monotonic wall-clock seconds

// "HH:MM:SS"; 5 -> "00:00:05"; hours grow past 99 as needed ("123:00:00");
// negative values read as 0.
std::string gen_format_elapsed_time(long long seconds);

// True when the setting "tst_regtest_mode" is on (see cfg/cfg.h).
bool tst_is_regtest_mode();

// Start/stop timer of CPU and wall-clock time; accumulates over restarts.
class GEN_STOPWATCH
{
public:
    GEN_STOPWATCH() = default;
    void start();
    void stop();
    void reset();
    bool is_running() const { return m_running; }
    double get_cpu_seconds() const;  // includes a running interval
    double get_wall_seconds() const;

private:
    bool m_running = false;
    double m_cpu_start = 0.0;
    double m_wall_start = 0.0;
    double m_cpu_total = 0.0;
    double m_wall_total = 0.0;
};

// Process-wide table of named profiler sections. Sections nest: a bin is
// keyed by its path from the outermost open section ("outer/inner").
class GEN_PROFILE_BINS
{
public:
    struct BIN
    {
        std::string path;  // "outer/inner"
        std::string name;  // "inner"
        int depth = 0;     // 0 for an outermost section
        long long calls = 0;
        double cpu_seconds = 0.0;
        double wall_seconds = 0.0;
    };

    static GEN_PROFILE_BINS& instance();

    void enter(const char* name);
    void leave();  // leaving with no open section is ignored
    int get_open_depth() const { return static_cast<int>(m_open.size()); }

    // nullptr when no section of that path has been entered.
    const BIN* find_bin(const std::string& path) const;
    const std::vector<BIN>& get_bins() const { return m_bins; }  // first-entry order

    // One line per bin in first-entry order, indented by depth:
    // "<name padded>  calls <n>  cpu <s>  wall <s>".
    void print_report(std::ostream& out) const;
    void clear();  // drops every bin; open sections are dropped as well

private:
    struct OPEN
    {
        std::size_t bin;
        double cpu_start;
        double wall_start;
    };
    std::vector<BIN> m_bins;
    std::unordered_map<std::string, std::size_t> m_index;  // path -> bin
    std::vector<OPEN> m_open;
};

// Scope object: enters the named section, leaves it on destruction.
class GEN_PROFILER
{
public:
    explicit GEN_PROFILER(const char* name) { GEN_PROFILE_BINS::instance().enter(name); }
    ~GEN_PROFILER() { GEN_PROFILE_BINS::instance().leave(); }
    GEN_PROFILER(const GEN_PROFILER&) = delete;
    GEN_PROFILER& operator=(const GEN_PROFILER&) = delete;
};
