#include "gen/gen.h"

#include <chrono>
#include <cstdio>
#include <ctime>
#include <ostream>

#include "cfg/cfg.h"

double gen_get_sec_cpu()
{
    timespec ts{};
    if (clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts) == 0) return double(ts.tv_sec) + double(ts.tv_nsec) * 1e-9;
    return double(std::clock()) / CLOCKS_PER_SEC;
}

double gen_get_sec_wallclock()
{
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

std::string gen_format_elapsed_time(long long seconds)
{
    if (seconds < 0) seconds = 0;
    long long hours = seconds / 3600;
    int minutes = int((seconds / 60) % 60);
    int secs = int(seconds % 60);
    char buffer[48];
    std::snprintf(buffer, sizeof buffer, "%02lld:%02d:%02d", hours, minutes, secs);
    return buffer;
}

bool tst_is_regtest_mode()
{
    return cfg_is_on("tst_regtest_mode", false);
}

// ---------------------------------------------------------------- GEN_STOPWATCH

void GEN_STOPWATCH::start()
{
    if (m_running) return;
    m_running = true;
    m_cpu_start = gen_get_sec_cpu();
    m_wall_start = gen_get_sec_wallclock();
}

void GEN_STOPWATCH::stop()
{
    if (!m_running) return;
    m_cpu_total += gen_get_sec_cpu() - m_cpu_start;
    m_wall_total += gen_get_sec_wallclock() - m_wall_start;
    m_running = false;
}

void GEN_STOPWATCH::reset()
{
    m_running = false;
    m_cpu_total = m_wall_total = 0.0;
}

double GEN_STOPWATCH::get_cpu_seconds() const
{
    return m_cpu_total + (m_running ? gen_get_sec_cpu() - m_cpu_start : 0.0);
}

double GEN_STOPWATCH::get_wall_seconds() const
{
    return m_wall_total + (m_running ? gen_get_sec_wallclock() - m_wall_start : 0.0);
}

// ---------------------------------------------------------------- GEN_PROFILE_BINS

// Never destroyed, so profiler scopes of static objects may close at exit.
GEN_PROFILE_BINS& GEN_PROFILE_BINS::instance()
{
    static GEN_PROFILE_BINS* s_bins = new GEN_PROFILE_BINS;
    return *s_bins;
}

void GEN_PROFILE_BINS::enter(const char* name)
{
    std::string leaf = name ? name : "";
    std::string path = m_open.empty() ? leaf : m_bins[m_open.back().bin].path + "/" + leaf;
    std::size_t index = m_bins.size();
    auto found = m_index.find(path);
    if (found != m_index.end()) {
        index = found->second;
    } else {
        m_index.emplace(path, index);
        BIN bin;
        bin.path = std::move(path);
        bin.name = std::move(leaf);
        bin.depth = static_cast<int>(m_open.size());
        m_bins.push_back(std::move(bin));
    }
    m_open.push_back(OPEN{index, gen_get_sec_cpu(), gen_get_sec_wallclock()});
}

void GEN_PROFILE_BINS::leave()
{
    if (m_open.empty()) return;
    OPEN open = m_open.back();
    m_open.pop_back();
    BIN& bin = m_bins[open.bin];
    ++bin.calls;
    bin.cpu_seconds += gen_get_sec_cpu() - open.cpu_start;
    bin.wall_seconds += gen_get_sec_wallclock() - open.wall_start;
}

const GEN_PROFILE_BINS::BIN* GEN_PROFILE_BINS::find_bin(const std::string& path) const
{
    auto found = m_index.find(path);
    return found == m_index.end() ? nullptr : &m_bins[found->second];
}

void GEN_PROFILE_BINS::print_report(std::ostream& out) const
{
    for (const BIN& bin : m_bins) {
        std::string label(static_cast<std::size_t>(bin.depth) * 2, ' ');
        label += bin.name;
        char line[512];
        std::snprintf(line, sizeof line, "%-48s calls %8lld  cpu %10.3f s  wall %10.3f s", label.c_str(), bin.calls,
                      bin.cpu_seconds, bin.wall_seconds);
        out << line << '\n';
    }
}

void GEN_PROFILE_BINS::clear()
{
    m_bins.clear();
    m_index.clear();
    m_open.clear();
}
