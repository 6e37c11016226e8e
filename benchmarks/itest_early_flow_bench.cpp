// The early flows (SYN_EARLY where the family runs it, and FIT_EARLY) with
// the incremental timing estimator on and off, in one process: each
// iteration compiles the design afresh twice, once each way, with the
// family's default lists under the physical-synthesis settings, the new
// timing flow and the analyser in place of the estimator (as the figures
// script runs them), and takes the CPU time of the two flow points. The
// counters give both modes' means and their ratio (on / off, below 1:
// iTEst pays), the ratio of their least times, and iTEst's own time.
//
//   itest_early_flow_bench [--benchmark_filter=tseng]
//
// Designs: tseng, diffeq and s298 of bench/mcnc_k4, each for MRL and UVO.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <limits>
#include <filesystem>
#include <memory>
#include <sstream>
#include <string>
#include <unistd.h>

#include "cfg/cfg.h"
#include "gen/gen.h"
#include "host_env.h"
#include "host_options.h"
#include "host_settings.h"
#include "io/blif_reader.h"
#include "io/blif_writer.h"
#include "msg/msg.h"

#include "morv/core/morv_expert.h"
#include "morv/core/morv_setting_ids.h"

using namespace morv_host;

namespace {

// The compile's own files (saved netlists, delays) go to a folder of the
// process, never the caller's.
class SCRATCH_FOLDER
{
public:
    SCRATCH_FOLDER()
        : m_previous(std::filesystem::current_path()),
          m_folder(std::filesystem::temp_directory_path() / ("itest_early_flow_bench." + std::to_string(::getpid())))
    {
        std::filesystem::create_directories(m_folder);
        std::filesystem::current_path(m_folder);
    }
    ~SCRATCH_FOLDER()
    {
        std::error_code ec;
        std::filesystem::current_path(m_previous, ec);
        std::filesystem::remove_all(m_folder, ec);
    }
    SCRATCH_FOLDER(const SCRATCH_FOLDER&) = delete;
    SCRATCH_FOLDER& operator=(const SCRATCH_FOLDER&) = delete;

private:
    std::filesystem::path m_previous, m_folder;
};

struct EARLY_RUN
{
    double seconds = 0;
    double itest_seconds = 0;  // iTEst's own part: its sections less the analyses they wrap
    std::string netlist;       // the BLIF text after the early flows
};

// The CPU time of iTEst's outermost sections, less the host's analyses
// inside them, from the profiler bins of the run.
double itest_own_seconds()
{
    double own = 0;
    for (const GEN_PROFILE_BINS::BIN& bin : GEN_PROFILE_BINS::instance().get_bins()) {
        const size_t slash = bin.path.rfind('/');
        const std::string parent = slash == std::string::npos ? "" : bin.path.substr(0, slash);
        const size_t cut = parent.rfind('/');
        const std::string parent_name = cut == std::string::npos ? parent : parent.substr(cut + 1);
        const bool outermost = parent_name.rfind("fsyn_ite", 0) != 0;
        if (bin.name == "fsyn_ite_the_full_timing_analysis") own -= bin.cpu_seconds;
        else if (bin.name.rfind("fsyn_ite", 0) == 0 && outermost) own += bin.cpu_seconds;
    }
    return own;
}

// The settings morv-fit is given for the figures: the physical-synthesis
// settings, the new timing flow on the analyser, and iTEst on or off.
void apply_settings(HOST_DESIGN& design, bool itest)
{
    cfg_clear_all();
    HOST_SETTINGS settings;
    for (const char* id : {"659", "660", "662", "663", "664", "665"}) settings.add(id, "on", "bench");
    settings.add("fsyn_use_new_timing_flow", "on", "bench");
    settings.add("fsyn_disable_nevra", "on", "bench");
    settings.add("fsyn_enable_ite", itest ? "on" : "off", "bench");
    settings.apply_options_and_switches(design.options());
    design.options().set_int(MORV_SETTING_PLACER_SEED, 1);
    design.options().set_enum(MORV_SETTING_EFFORT, effort_setting_value(FIT_EFFORT::NORMAL));
}

// The clock morv-fit derives: 90 % of the unoptimised critical path,
// rounded to 10 ps.
void set_clock_as_the_fitter_does(HOST_ENV& env)
{
    const int64_t path = env.measure_unoptimised_critical_path_ps();
    int period = 10000;
    if (path > 0) period = std::max(100, static_cast<int>((path * 9 / 10 + 5) / 10 * 10));
    env.set_clock_period_ps(period);
}

EARLY_RUN run_early_flows(const std::string& path, int family, bool itest)
{
    msg_set_quiet(true);
    BLIF_READER reader(family);
    reader.set_pack_registers(true);
    HOST_DESIGN design(family, reader.read_file(path));
    apply_settings(design, itest);
    EARLY_RUN run;
    {
        HOST_ENV env(design);
        env.design().make_device_current();
        set_clock_as_the_fitter_does(env);
        MORV_EXPERT_INTERFACE* expert = env.get_fsyn_expert();
        GEN_PROFILE_BINS::instance().clear();
        const double t0 = gen_get_sec_cpu();
        for (e_fsyn_flow flow : {SYN_EARLY_FSYN_FLOW, FIT_EARLY_FSYN_FLOW})
            if (expert->will_fsyn_run(flow)) (void)expert->do_physical_synthesis(flow);
        run.seconds = gen_get_sec_cpu() - t0;
        run.itest_seconds = itest_own_seconds();
    }
    std::ostringstream blif;
    blif_write_netlist(*design.netlist(), blif, "top");
    run.netlist = blif.str();
    cfg_clear_all();
    return run;
}

// Counters: the mean CPU seconds of each mode, their ratio, the ratio of
// the least times (the figure least disturbed by other work on the
// machine), iTEst's own seconds in the iTEst run, and whether both modes
// gave the same netlist (iTEst's estimates may steer the flow elsewhere).
void BM_EarlyFlows(benchmark::State& state, const char* design, int family)
{
    const SCRATCH_FOLDER folder;
    const std::string path = std::string(MORV_BENCH_DIR) + "/mcnc_k4/" + design + ".blif";
    double on = 0, off = 0, own = 0;
    double least_on = std::numeric_limits<double>::infinity(), least_off = least_on;
    bool same = true;
    for (auto _ : state) {
        // Alternating the order spreads what a warm cache gives the second.
        const bool on_first = state.iterations() % 2 == 0;
        const EARLY_RUN first = run_early_flows(path, family, on_first);
        const EARLY_RUN second = run_early_flows(path, family, !on_first);
        const EARLY_RUN& with = on_first ? first : second;
        const EARLY_RUN& without = on_first ? second : first;
        on += with.seconds;
        off += without.seconds;
        own += with.itest_seconds;
        least_on = std::min(least_on, with.seconds);
        least_off = std::min(least_off, without.seconds);
        same = same && first.netlist == second.netlist;
    }
    const double n = static_cast<double>(state.iterations());
    state.counters["ite_on_s"] = on / n;
    state.counters["ite_off_s"] = off / n;
    state.counters["on_per_off"] = off > 0 ? on / off : 0.0;
    state.counters["least_on_per_off"] = least_off > 0 ? least_on / least_off : 0.0;
    state.counters["ite_own_s"] = own / n;
    state.counters["same_netlist"] = same ? 1 : 0;
}

BENCHMARK_CAPTURE(BM_EarlyFlows, tseng_MRL, "tseng", CDB_FAMILY_MRL)->Unit(benchmark::kSecond)->Iterations(5);
BENCHMARK_CAPTURE(BM_EarlyFlows, tseng_UVO, "tseng", CDB_FAMILY_UVO)->Unit(benchmark::kSecond)->Iterations(5);
BENCHMARK_CAPTURE(BM_EarlyFlows, diffeq_MRL, "diffeq", CDB_FAMILY_MRL)->Unit(benchmark::kSecond)->Iterations(5);
BENCHMARK_CAPTURE(BM_EarlyFlows, diffeq_UVO, "diffeq", CDB_FAMILY_UVO)->Unit(benchmark::kSecond)->Iterations(5);
BENCHMARK_CAPTURE(BM_EarlyFlows, s298_MRL, "s298", CDB_FAMILY_MRL)->Unit(benchmark::kSecond)->Iterations(5);
BENCHMARK_CAPTURE(BM_EarlyFlows, s298_UVO, "s298", CDB_FAMILY_UVO)->Unit(benchmark::kSecond)->Iterations(5);

}  // namespace

BENCHMARK_MAIN();
