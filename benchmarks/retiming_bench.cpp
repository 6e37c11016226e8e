// Classic retiming after placement beside ABC's `dretime`, on frisc and
// s38417 (mcnc_k4, BRK, seed 1, the clock morv-fit derives).
//
// BM_Rtm: the design is read, clustered and placed once, as morv-fit does
// it, outside the timed loop. Each iteration then runs the late flow point
// with the test string "|RTM()", which is how a compile runs one RTM()
// pass: the flow's timing analyses before and after included. Between
// iterations the placed netlist is put back from a saved state.
//
// BM_AbcDretime: ABC runs as a program of its own, so its own clock (the
// CPU time its `time` command reports) measures `dretime` alone. One call
// restores the strashed design R times, then restores it and runs `dretime`
// R times; the difference of the two blocks over R is one `dretime`, and
// R is chosen so that each block lasts about half a second (the clock
// prints hundredths). Its counters say what `dretime` did to the latches
// and the AIG's depth. BM_AbcDretimeWholeCall is the wall-clock time of one
// whole program run: start, reading the file, `strash; zero; dretime`.
//
// The program ends with both times per design and their ratio, CPU time
// on both sides, on the error stream beside the run's context lines, so
// that a JSON report on the output stays whole.

#include <benchmark/benchmark.h>

#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "cdb/cdb_atom_netlist.h"
#include "host_cluster.h"
#include "host_env.h"
#include "host_fitter.h"
#include "host_grid.h"
#include "host_options.h"
#include "host_summary.h"
#include "io/blif_reader.h"
#include "msg/msg.h"

#include "morv/core/morv_api.h"
#include "morv/core/morv_expert.h"
#include "morv/core/morv_setting_ids.h"

using namespace morv_host;

namespace {

struct DESIGN
{
    const char* name;
    const char* file;     // below bench/
    int abc_repetitions;  // dretime runs per ABC call, about half a second of work
};

const DESIGN k_designs[] = {
    {"frisc", "mcnc_k4/frisc.blif", 80},
    {"s38417", "mcnc_k4/s38417.blif", 10},
};

std::string design_path(const DESIGN& d)
{
    return std::string(MORV_BENCH_DIR) + "/" + d.file;
}

double cpu_seconds()
{
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

// Mean per-iteration CPU seconds of each case, for the closing lines.
std::map<std::string, double>& measured()
{
    static std::map<std::string, double> times;
    return times;
}

// Counted as morv-fit's table counts them: a logic cell holds a register
// when its register output is used.
int count_registers(CDB_ATOM_NETLIST& netlist)
{
    int n = 0;
    for (CDB_ATOM_NODE* node : netlist) {
        const PACK_KIND k = host_pack_kind(node);
        n += k == PACK_KIND::REG || (k == PACK_KIND::LCELL && node->get_output_term_by_type(DB_REG_OUT)) ? 1 : 0;
    }
    return n;
}

// What one late flow leaves; every run from the same placed netlist must
// leave the same.
struct OUTCOME
{
    int atoms = 0;
    int registers = 0;
    int worst_slack = 0;
    bool operator==(const OUTCOME&) const = default;
};

// The steps of morv-fit's compile up to placement, with its defaults: the
// clock at 90 % of the unoptimised critical path, rounded to 10 ps; no
// early flow runs with this test string; the normal placement effort.
class PLACED
{
public:
    explicit PLACED(const DESIGN& d) : m_name(d.name)
    {
        BLIF_READER reader(CDB_FAMILY_BRK);
        m_design = std::make_unique<HOST_DESIGN>(CDB_FAMILY_BRK, reader.read_file(design_path(d)));
        HDB_OPTION_SET& options = m_design->options();
        options.set_int(MORV_SETTING_PLACER_SEED, k_seed);
        options.set_enum(MORV_SETTING_EFFORT, effort_setting_value(FIT_EFFORT::NORMAL));
        options.set_string(MORV_SETTING_TEST_STRING, "|RTM()");
        m_env = std::make_unique<HOST_ENV>(*m_design);
        derive_clock_period();
        m_expert = m_env->get_fsyn_expert();
        m_api = dynamic_cast<MORV_EXPERT*>(m_expert)->get_fsyn_api();
        place();
    }
    ~PLACED() { m_env.reset(); }
    PLACED(const PLACED&) = delete;
    PLACED& operator=(const PLACED&) = delete;

    const std::string& name() const { return m_name; }
    HOST_ENV& env() { return *m_env; }
    MORV_API* api() { return m_api; }
    bool late_flow_runs() { return m_expert->will_fsyn_run(LATE_FSYN_FLOW); }
    bool run_late_flow() { return m_expert->do_physical_synthesis(LATE_FSYN_FLOW); }
    double fmax_mhz(int worst_slack) const { return estimated_fmax_mhz(m_period_ps, worst_slack); }
    OUTCOME outcome()
    {
        m_env->analyse_timing();
        return {static_cast<int>(m_design->netlist()->get_node_count()), count_registers(*m_design->netlist()),
                m_env->get_worst_slack()};
    }
    const OUTCOME& placed_outcome() const { return m_placed; }

private:
    static constexpr int k_seed = 1;

    void derive_clock_period()
    {
        const int path = m_env->measure_unoptimised_critical_path_ps();
        m_period_ps = path > 0 ? std::max(100, (path * 9 / 10 + 5) / 10 * 10) : 10000;
        m_env->set_clock_period_ps(m_period_ps);
    }
    void place()
    {
        for (e_fsyn_flow flow : {SYN_EARLY_FSYN_FLOW, FIT_EARLY_FSYN_FLOW, POST_CLUSTERING_FSYN_FLOW})
            if (m_expert->will_fsyn_run(flow)) throw std::runtime_error("an early flow would run before placement");
        const HOST_CLUSTERING clustering = cluster_netlist(*m_env);
        // morv-fit's normal effort: up to 64 anneals in four budgets.
        const HOST_PLACEMENT placement = place_netlist(*m_env, clustering, k_seed, {1.0, 64, 4 * 10000.0});
        if (!placement.ok) throw std::runtime_error(placement.error);
        hand_clusters_to_component(*m_env, clustering, m_expert);
        m_placed = outcome();
        hand_locations_to_component(*m_env, m_expert);
    }

    std::string m_name;
    std::unique_ptr<HOST_DESIGN> m_design;
    std::unique_ptr<HOST_ENV> m_env;
    MORV_EXPERT_INTERFACE* m_expert = nullptr;
    MORV_API* m_api = nullptr;
    int m_period_ps = 0;
    OUTCOME m_placed;
};

// One compile at a time: the analyser is the process's. Repetitions of a
// case reuse its placement.
std::unique_ptr<PLACED>& current_compile()
{
    static std::unique_ptr<PLACED> current;
    return current;
}

PLACED* placed(const DESIGN& d, benchmark::State& state)
{
    std::unique_ptr<PLACED>& current = current_compile();
    if (current && current->name() == d.name) return current.get();
    current.reset();
    try {
        current = std::make_unique<PLACED>(d);
    } catch (const std::exception& e) {
        state.SkipWithError((std::string(d.name) + ": " + e.what()).c_str());
    }
    return current.get();
}

// What the timed runs of one case left.
struct RTM_RUNS
{
    OUTCOME first;
    bool same = true;      // every run ended as the first
    bool retimed = true;   // every run told the host it retimed registers
    double first_cpu = 0;  // the compile's own run; later ones follow a restore
    double cpu = 0;
    int64_t count = 0;
};

// One late flow from the placed netlist, which is put back after it.
bool run_from_placed(PLACED& p, benchmark::State& state, RTM_RUNS& runs)
{
    state.PauseTiming();
    const int saved = p.api()->save_state();
    p.env().clear_notes();
    state.ResumeTiming();
    const double t0 = cpu_seconds();
    const bool ok = p.run_late_flow();
    const double cpu = cpu_seconds() - t0;
    state.PauseTiming();
    const OUTCOME outcome = p.outcome();
    if (runs.count++ == 0) {
        runs.first = outcome;
        runs.first_cpu = cpu;
    }
    runs.cpu += cpu;
    runs.same = runs.same && outcome == runs.first;
    runs.retimed = runs.retimed && p.env().count_notes("registers_retimed") > 0;
    p.api()->restore_state(saved);
    p.env().analyse_timing();
    state.ResumeTiming();
    return ok;
}

const char* rtm_runs_fault(PLACED& p, const RTM_RUNS& runs)
{
    if (!runs.retimed) return "RTM() retimed no register";
    if (!runs.same) return "runs from the same placed netlist ended differently";
    if (p.outcome() != p.placed_outcome()) return "the restored netlist is not the placed one";
    return nullptr;
}

void BM_Rtm(benchmark::State& state)
{
    const DESIGN& d = k_designs[state.range(0)];
    PLACED* compile = placed(d, state);
    if (compile == nullptr) return;
    PLACED& p = *compile;
    if (!p.late_flow_runs()) {
        state.SkipWithError("the late flow point would not run");
        return;
    }
    RTM_RUNS runs;
    for (auto _ : state)
        if (!run_from_placed(p, state, runs)) {
            state.SkipWithError("the late flow reported failure");
            break;
        }
    if (runs.count == 0 || state.error_occurred()) return;
    if (const char* fault = rtm_runs_fault(p, runs)) {
        state.SkipWithError(fault);
        return;
    }
    measured()[std::string("rtm/") + d.name] = runs.cpu / static_cast<double>(runs.count);
    state.counters["first_run_ms"] = runs.first_cpu * 1e3;
    state.counters["registers_before"] = p.placed_outcome().registers;
    state.counters["registers_after"] = runs.first.registers;
    state.counters["fmax_before_mhz"] = p.fmax_mhz(p.placed_outcome().worst_slack);
    state.counters["fmax_after_mhz"] = p.fmax_mhz(runs.first.worst_slack);
}

// Everything ABC printed for the commands after reading the design.
bool run_abc(const DESIGN& d, const std::string& commands, std::string& text)
{
    const std::string line = "berkeley-abc -c \"read " + design_path(d) + "; " + commands + "\" 2>&1";
    FILE* pipe = popen(line.c_str(), "r");
    if (pipe == nullptr) return false;
    char buffer[4096];
    text.clear();
    for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) text.append(buffer, n);
    return pclose(pipe) == 0;
}

// The numbers after each `key` in ABC's text, in order ("elapse:" of its
// `time`, "lat =" and "lev =" of its `print_stats`).
std::vector<double> numbers_after(const std::string& text, const std::string& key)
{
    std::vector<double> out;
    for (size_t at = text.find(key); at != std::string::npos; at = text.find(key, at + 1))
        out.push_back(std::strtod(text.c_str() + at + key.size(), nullptr));
    return out;
}

std::string repeated(const std::string& commands, int times)
{
    std::string out;
    for (int i = 0; i < times; ++i) out += commands;
    return out;
}

void BM_AbcDretime(benchmark::State& state)
{
    const DESIGN& d = k_designs[state.range(0)];
    const int r = d.abc_repetitions;
    std::string commands = "strash; zero; print_stats; backup; time -c; ";
    commands += repeated("restore; ", r);
    commands += "time; ";
    commands += repeated("restore; dretime; ", r);
    commands += "time; print_stats";
    double total = 0;
    int64_t calls = 0;
    std::vector<double> latches, levels;
    for (auto _ : state) {
        std::string text;
        const bool ran = run_abc(d, commands, text);
        const std::vector<double> blocks = numbers_after(text, "elapse:");
        latches = numbers_after(text, "lat =");
        levels = numbers_after(text, "lev =");
        if (!ran || blocks.size() != 2 || latches.size() != 2 || levels.size() != 2 ||
            text.find("Error") != std::string::npos) {
            state.SkipWithError("berkeley-abc did not run dretime");
            break;
        }
        const double one = (blocks[1] - blocks[0]) / r;
        state.SetIterationTime(one > 0 ? one : 0);
        total += one;
        ++calls;
    }
    if (calls == 0 || state.error_occurred()) return;
    measured()[std::string("dretime/") + d.name] = total / static_cast<double>(calls);
    state.counters["runs_per_call"] = r;
    // What dretime did: its default is minimum-area retiming.
    state.counters["latches_before"] = latches[0];
    state.counters["latches_after"] = latches[1];
    state.counters["aig_levels_before"] = levels[0];
    state.counters["aig_levels_after"] = levels[1];
}

void BM_AbcDretimeWholeCall(benchmark::State& state)
{
    const DESIGN& d = k_designs[state.range(0)];
    for (auto _ : state) {
        std::string text;
        if (!run_abc(d, "strash; zero; dretime", text) || text.find("Error") != std::string::npos) {
            state.SkipWithError("berkeley-abc did not run dretime");
            break;
        }
    }
}

void print_ratios()
{
    const std::map<std::string, double>& t = measured();
    for (const DESIGN& d : k_designs) {
        auto rtm = t.find(std::string("rtm/") + d.name);
        auto dretime = t.find(std::string("dretime/") + d.name);
        if (rtm == t.end() || dretime == t.end() || dretime->second <= 0) continue;
        std::fprintf(stderr, "%-8s RTM() %9.1f ms CPU, ABC dretime %7.2f ms CPU, ratio %.0f\n", d.name,
                     rtm->second * 1e3, dretime->second * 1e3, rtm->second / dretime->second);
    }
}

// The component writes saved netlists and its own files into the working
// folder, as a compile does into its project's: the run gets a fresh one.
class SCRATCH_FOLDER
{
public:
    SCRATCH_FOLDER()
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "morv-retiming-bench.XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("cannot make a scratch folder");
        m_folder = pattern;
        m_previous = std::filesystem::current_path();
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
    std::filesystem::path m_folder;
    std::filesystem::path m_previous;
};

void register_cases()
{
    const auto designs = [](benchmark::internal::Benchmark* b) {
        b->ArgName("design")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
    };
    // A few seconds each: three runs show that they agree.
    benchmark::RegisterBenchmark("BM_Rtm", BM_Rtm)->Apply(designs)->Iterations(3);
    benchmark::RegisterBenchmark("BM_AbcDretime", BM_AbcDretime)->Apply(designs)->UseManualTime()->Iterations(3);
    benchmark::RegisterBenchmark("BM_AbcDretimeWholeCall", BM_AbcDretimeWholeCall)
        ->Apply(designs)
        ->UseRealTime()
        ->Iterations(10);
}

}  // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    msg_set_quiet(true);
    register_cases();
    {
        // Left before the component's objects are torn down at exit.
        SCRATCH_FOLDER scratch;
        benchmark::RunSpecifiedBenchmarks();
        current_compile().reset();
        std::fflush(stdout);
        print_ratios();
    }
    benchmark::Shutdown();
    return 0;
}
