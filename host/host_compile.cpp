#include "host_compile.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <string_view>

#include "cdb/cdb_atom_netlist.h"
#include "cdb/cdb_native_format.h"
#include "cfg/cfg.h"
#include "cut/cut_block_function.h"
#include "dev/dev_device.h"
#include "fio/fio.h"
#include "gen/gen.h"
#include "hdb/hdb_options.h"
#include "host_env.h"
#include "host_fitter.h"
#include "host_grid.h"
#include "host_progress.h"
#include "host_setting_names.h"
#include "host_settings.h"
#include "io/blif_reader.h"
#include "io/blif_writer.h"
#include "morv/core/morv_expert.h"
#include "morv/core/morv_expert_interface.h"
#include "morv/core/morv_setting_ids.h"
#include "morv/log/morv_log.h"
#include "msg/msg.h"
#include "rdb/rdb.h"
#include "tdb/tdb_netlist.h"
#include "tdc/tdc_accessories.h"

namespace morv_host {

const char* fit_version()
{
    return "0.1.0";
}

namespace {

struct COUNTS
{
    int atoms = 0, luts = 0, registers = 0;
};

COUNTS count_atoms(HOST_ENV& env)
{
    COUNTS c;
    for (CDB_ATOM_NODE* n : *env.design().netlist()) {
        ++c.atoms;
        const PACK_KIND k = host_pack_kind(n);
        if (k == PACK_KIND::COMB || k == PACK_KIND::LCELL) ++c.luts;
        // A UVO logic cell holds a register when its register output is used.
        if (k == PACK_KIND::REG || (k == PACK_KIND::LCELL && n->get_output_term_by_type(DB_REG_OUT))) ++c.registers;
    }
    return c;
}

// The component's own flow names, except for the two points it leaves
// unnamed, which the table still needs a row label for.
const char* flow_label(e_fsyn_flow flow)
{
    if (flow == VERY_LATE_FSYN_FLOW) return "routed";
    if (flow == BACK_ANNOTATE_FSYN_FLOW) return "back-annotation";
    const char* name = MORV_EXPERT::get_fsyn_flow_name(flow);
    return name ? name : "?";
}

// Measured on the eleven bundled sequential designs, seeds 1 to 3 each
// (geometric-mean Fmax and wirelength; Fmax spread over the seeds of the
// median and the worst design; placement CPU time of the 33 runs):
//   one anneal, a quarter of the moves    120.0 MHz  10838  1.065  1.158    3 s
//   up to 4 starts in 4 budgets           131.1 MHz   9255  1.023  1.163   24 s
//   up to 8 starts in 4 budgets           132.6 MHz   9053  1.023  1.083   47 s
//   up to 16 starts in 4 budgets          133.3 MHz   8939  1.026  1.071   76 s
//   up to 64 starts in 4 budgets          135.0 MHz   8596  1.013  1.048  113 s
//   up to 128 starts in 16 budgets        137.3 MHz   8422  1.011  1.088  382 s
// Small designs need many starts: one anneal's result varies widely with
// its seed, and the best of many varies little; the budget caps what the
// starts cost on larger designs (up to 64 starts in 2 budgets left bigkey's
// spread at 1.115). Earlier, three times the moves of one anneal bought
// nothing (121.4 against 123.2 MHz).
HOST_PLACE_EFFORT placement_effort(FIT_EFFORT e)
{
    // A thousand-block design's classic budget, n^(4/3) moves per temperature.
    constexpr double budget = 10000;
    switch (e) {
    case FIT_EFFORT::FAST: return {0.25, 1, 0};
    case FIT_EFFORT::EXTRA: return {1.0, 128, 16 * budget};
    case FIT_EFFORT::NORMAL: break;
    }
    return {1.0, 64, 4 * budget};
}

class COMPILE
{
public:
    COMPILE(HOST_ENV& env, const FIT_OPTIONS& o, std::ostream& log, double read_seconds)
        : m_env(env), m_o(o), m_log(log), m_read_seconds(read_seconds), m_errors_before(msg_posted_error_count()),
          m_tracker(
              [&env](SUMMARY_ROW& r) {
                  const COUNTS c = count_atoms(env);
                  r.atoms = c.atoms;
                  r.luts = c.luts;
                  r.registers = c.registers;
                  return env.accessories()->get_num_analyses();
              },
              [&env] { return env.accessories()->get_num_analyses(); }, env.shows_progress() ? stderr : nullptr,
              o.verbosity >= 2 ? &log : nullptr)
    {}

    HOST_COMPILE_RESULT run();

private:
    void row(const std::string& step, double seconds, const char* flow = nullptr, bool ran = true)
    {
        // The row's own analysis is reporting, not work of the step.
        const long analyses = m_env.accessories()->get_num_analyses();
        const double fom = m_env.analyse_timing();
        COUNTS c = count_atoms(m_env);
        SUMMARY_ROW r;
        r.step = step;
        r.flow = flow != nullptr ? flow : step;
        r.ran = ran;
        r.atoms = c.atoms;
        r.luts = c.luts;
        r.registers = c.registers;
        r.worst_slack_ps = m_env.get_worst_slack();
        r.period_ps = m_env.get_worst_slack_period_ps();
        r.has_timing = r.worst_slack_ps != TDB_NO_PATH;
        r.figure_of_merit = static_cast<int64_t>(fom);
        r.seconds = seconds;
        r.analyses = analyses - m_analyses_reported;
        m_analyses_reported = m_env.accessories()->get_num_analyses();
        m_result.rows.push_back(r);
        if (m_o.verbosity >= 2) m_log << "morv-fit: " << step << " done\n";
    }
    // Calls the flow point when the driver will run it; the row says when not.
    bool flow(e_fsyn_flow f, bool force = false)
    {
        const double t0 = gen_get_sec_cpu();
        bool ran = false;
        std::vector<SUMMARY_ROW> runs;
        if (force || m_expert->will_fsyn_run(f)) {
            ran = true;
            m_tracker.begin_flow(flow_label(f), m_expert);
            const bool ok = m_expert->do_physical_synthesis(f);
            runs = m_tracker.end_flow();
            if (!ok && m_o.verbosity >= 1)
                m_log << "morv-fit: physical synthesis at " << flow_label(f)
                      << " reported failure; its result is kept as is\n";
        }
        row(std::string(flow_label(f)) + (ran ? "" : " (off)"), gen_get_sec_cpu() - t0, flow_label(f), ran);
        // Each algorithm run of the flow point follows its row.
        m_result.rows.insert(m_result.rows.end(), runs.begin(), runs.end());
        return ran;
    }
    void derive_clock_period();
    void print_own_clock_periods() const;
    // Once the optimising flow points are over, the component is asked at
    // which of them physical synthesis ran, for the report.
    void ask_where_physical_synthesis_ran()
    {
        for (e_fsyn_flow f : {SYN_EARLY_FSYN_FLOW, FIT_EARLY_FSYN_FLOW, POST_CLUSTERING_FSYN_FLOW,
                              CLUSTER_RETRY_FSYN_FLOW, LATE_FSYN_FLOW})
            if (m_expert->has_fsyn_run(f)) m_result.physical_synthesis_flows.push_back(flow_label(f));
    }
    // An error the component posted (a rejected test string, a setting it
    // cannot use) fails the run: going on would hide it behind a table.
    void stop_on_posted_errors(const char* where) const
    {
        const long errors = msg_posted_error_count() - m_errors_before;
        if (errors > 0)
            throw HOST_INPUT_ERROR(std::to_string(errors) + (errors == 1 ? " error" : " errors") + " posted " + where +
                                   " (see above); no output is written");
    }

    HOST_ENV& m_env;
    const FIT_OPTIONS& m_o;
    std::ostream& m_log;
    MORV_EXPERT_INTERFACE* m_expert = nullptr;
    HOST_COMPILE_RESULT m_result;
    bool m_period_given = false;
    double m_read_seconds = 0;
    long m_analyses_reported = 0;
    long m_errors_before = 0;
    HOST_RUN_TRACKER m_tracker;
};

// The clocks the period above does not apply to.
void COMPILE::print_own_clock_periods() const
{
    const TDC_ANALYSIS* analysis = m_env.accessories()->get_analysis();
    if (analysis == nullptr) return;
    for (const TDC_CLOCK_INFO& clock : analysis->get_clocks()) {
        const int own = cfg_get_int_value(("tdc_clock_period_ps." + clock.m_name).c_str(), 0);
        if (own > 0) m_log << "clock period of " << clock.m_name << ": " << own << " ps (its own)\n";
    }
}

void COMPILE::derive_clock_period()
{
    int64_t given = m_o.clock_period_ps;
    // A period in the settings counts as given, like the command line's.
    if (given <= 0 && cfg_get_value("tdc_clock_period_ps") != nullptr) {
        const int from_settings = cfg_get_int_value("tdc_clock_period_ps", 0);
        if (from_settings > 0) given = from_settings;
    }
    if (given > 0) {
        m_result.clock_period_ps = given;
        m_env.set_clock_period_ps(static_cast<int>(given));
        m_period_given = true;
        return;
    }
    // Measure the unoptimised critical path against a period nothing reaches,
    // then ask for 10 % less so that there is something to gain.
    m_result.unoptimised_path_ps = m_env.measure_unoptimised_critical_path_ps();
    int period = 10000;
    if (m_result.unoptimised_path_ps > 0) {
        period = static_cast<int>((m_result.unoptimised_path_ps * 9 / 10 + 5) / 10 * 10);
        if (period < 100) period = 100;
    }
    m_result.clock_period_ps = period;
    m_env.set_clock_period_ps(period);
}

HOST_COMPILE_RESULT COMPILE::run()
{
    derive_clock_period();
    if (m_o.verbosity >= 1) {
        m_log << "clock period: " << m_result.clock_period_ps << " ps";
        if (!m_period_given)
            m_log << (m_result.unoptimised_path_ps > 0 ? " (90% of the unoptimised critical path of " +
                                                             std::to_string(m_result.unoptimised_path_ps) + " ps)"
                                                       : " (default: nothing is constrained)");
        m_log << "\n";
        print_own_clock_periods();
    }
    row("input", m_read_seconds);

    m_expert = m_env.get_fsyn_expert();
    MSG_ASSERT(m_expert, "HOST");
    stop_on_posted_errors("while choosing the physical synthesis flow");

    m_env.note_user_locks();
    flow(SYN_EARLY_FSYN_FLOW);
    const bool fit_early = flow(FIT_EARLY_FSYN_FLOW);
    // The early flow chose the resets it pipelines after placement.
    report_reset_nets_to_pipeline(m_env, m_expert);
    // The early netlist is kept until placement succeeds, so that a failed
    // placement can go back to it for a cluster retry.
    const bool saved_early = fit_early && m_expert->will_fsyn_run(CLUSTER_RETRY_FSYN_FLOW);
    if (saved_early) m_expert->save_early_netlist_incase_vpr_fails();

    const uint32_t seed = m_o.seed;
    HOST_PLACEMENT placement;
    for (int attempt = 0;; ++attempt) {
        double t0 = gen_get_sec_cpu();
        HOST_CLUSTERING clustering = cluster_netlist(m_env);
        // Clusters the device cannot hold go to no flow point: the component
        // lays them out on the device's grid.
        const std::string misfit = clustering_misfit(m_env, clustering);
        // The component reads the clusters from its post-clustering point on.
        // When that point does not run they follow placement, so that the
        // component's cluster map and the placer's data, the two largest
        // shares of the run's memory after the netlists, are never alive
        // together. Either way the hand-over counts as clustering time.
        const bool clusters_first =
            attempt == 0 && misfit.empty() && m_expert->will_fsyn_run(POST_CLUSTERING_FSYN_FLOW);
        if (clusters_first) hand_clusters_to_component(m_env, clustering, m_expert);
        row("clustering", gen_get_sec_cpu() - t0);
        const size_t clustering_row = m_result.rows.size() - 1;
        if (attempt == 0 && misfit.empty()) flow(POST_CLUSTERING_FSYN_FLOW);
        else if (attempt == 0) row(std::string(flow_label(POST_CLUSTERING_FSYN_FLOW)) + " (off)", 0);

        t0 = gen_get_sec_cpu();
        if (misfit.empty()) {
            placement = place_netlist(m_env, clustering, seed, placement_effort(m_o.effort));
        } else {
            placement = HOST_PLACEMENT();
            placement.error = misfit;
        }
        const double place_seconds = gen_get_sec_cpu() - t0;
        if (!clusters_first) {
            t0 = gen_get_sec_cpu();
            hand_clusters_to_component(m_env, clustering, m_expert);
            m_result.rows[clustering_row].seconds += gen_get_sec_cpu() - t0;
        }
        if (placement.ok) {
            row("placement", place_seconds);
            break;
        }
        // The design does not fit: the component may retry for area once.
        if (attempt > 0 || !m_expert->will_fsyn_run(CLUSTER_RETRY_FSYN_FLOW)) throw HOST_INPUT_ERROR(placement.error);
        if (m_o.verbosity >= 1) m_log << "morv-fit: " << placement.error << "; retrying clustering\n";
        if (saved_early) m_expert->restore_early_netlist();
        flow(CLUSTER_RETRY_FSYN_FLOW, true);
    }
    if (saved_early) m_expert->discard_early_netlist();
    if (m_o.verbosity >= 2)
        m_log << "morv-fit: placed " << placement.labs << " LABs in " << placement.moves << " moves at "
              << placement.temperatures << " temperatures (" << placement.starts << " start"
              << (placement.starts == 1 ? "" : "s") << "), wirelength " << placement.wirelength << "\n";
    hand_locations_to_component(m_env, m_expert);

    flow(LATE_FSYN_FLOW);
    ask_where_physical_synthesis_ran();
    // The post-route point runs only when the driver enabled it or a
    // developer switch asks for its dump; otherwise the row shows it off.
    const bool post_route = m_expert->will_fsyn_run(VERY_LATE_FSYN_FLOW) || cfg_is_on("very_late_fsyn") ||
                            (cfg_is_on("fsyn_enable_plumrix") && cfg_is_on("fsyn_plumrix_dump_post_route_netlist"));
    flow(VERY_LATE_FSYN_FLOW, post_route);
    flow(BACK_ANNOTATE_FSYN_FLOW, true);
    stop_on_posted_errors("during the compile");
    return m_result;
}

// Also for files not there yet: two spellings of one new file are one file.
bool same_file(const std::string& a, const std::string& b)
{
    std::error_code ec;
    if (std::filesystem::exists(a, ec) && std::filesystem::exists(b, ec)) return std::filesystem::equivalent(a, b, ec);
    // A link not yet pointing at a file stands for the file it would make.
    auto full = [&ec](const std::string& p) {
        std::filesystem::path path(p);
        std::string loop;
        if (!fio_follow_links(path, loop)) ec = std::make_error_code(std::errc::too_many_symbolic_link_levels);
        return std::filesystem::weakly_canonical(std::filesystem::absolute(path, ec), ec);
    };
    const std::filesystem::path pa = full(a), pb = full(b);
    return !ec && pa == pb;
}

// A device or a named pipe takes the text in place, so two outputs may
// name the same one (both /dev/null); only files are replaced.
bool written_in_place(const std::string& path)
{
    std::error_code ec;
    const std::filesystem::file_status status = std::filesystem::status(path, ec);
    return std::filesystem::exists(status) && !std::filesystem::is_regular_file(status) &&
           !std::filesystem::is_directory(status);
}

// Input files must be readable files, and no output may replace one of them
// or the other output: the user's files are never overwritten by a run.
void check_files(const FIT_OPTIONS& o)
{
    std::string error;
    if (!fio_check_user_file(o.design, error))
        throw HOST_INPUT_ERROR("cannot read design file '" + o.design + "': " + error);
    std::vector<std::pair<const std::string*, const char*>> inputs = {{&o.design, "the input design"},
                                                                      {&o.device_file, "the device file"}};
    for (const std::string& settings : o.settings_files) inputs.emplace_back(&settings, "the settings file");
    for (const std::string* target : {&o.output_blif, &o.output_native, &o.stats_file}) {
        if (target->empty()) continue;
        for (const auto& [input, what] : inputs)
            if (!input->empty() && same_file(*input, *target))
                throw HOST_INPUT_ERROR("output file '" + *target + "' is " + what + "; inputs are never overwritten");
    }
    const auto clash = [](const std::string& a, const std::string& b) {
        return !a.empty() && !b.empty() && !written_in_place(a) && same_file(a, b);
    };
    if (clash(o.output_blif, o.output_native))
        throw HOST_INPUT_ERROR("-o and --native name the same file '" + o.output_blif + "'");
    for (const std::string* other : {&o.output_blif, &o.output_native})
        if (clash(o.stats_file, *other)) throw HOST_INPUT_ERROR("--stats names the output file '" + o.stats_file + "'");
}

// The change log the settings ask the compile to replay, empty for none
// (a relative name is taken in the compile's folder).
std::string replayed_log(const HOST_SETTINGS& settings, const std::filesystem::path& folder)
{
    const std::string* replayed = settings.option_value(MORV_SETTING_READ_LOG);
    if (replayed == nullptr || *replayed == "OFF" || replayed->empty()) return std::string();
    return (folder / *replayed).string();
}

// The compile's own change log, in its folder.
std::filesystem::path own_log(const std::filesystem::path& folder = {})
{
    return folder / "db" / (std::string(HOST_COMPILE_NAME) + ".cmp.psl");
}

// Nor may an output replace a change log: the one replayed, or those the
// compile reads and writes in its folder (relative names in the settings
// are taken there).
void check_outputs_against_logs(const FIT_OPTIONS& o, const HOST_SETTINGS& settings,
                                const std::filesystem::path& folder)
{
    const std::string input = "; inputs are never overwritten";
    std::vector<std::pair<std::string, std::string>> logs = {
        {own_log(folder).string(), "the compile's own change log, which only the compile writes"},
        {(folder / "db" / (std::string(HOST_COMPILE_NAME) + ".map.psl")).string(),
         "the synthesis-stage change log the compile starts from" + input}};
    if (const std::string replayed = replayed_log(settings, folder); !replayed.empty())
        logs.emplace_back(replayed,
                          "the change log replayed by --set " + std::to_string(MORV_SETTING_READ_LOG) + input);
    for (const std::string* target : {&o.output_blif, &o.output_native, &o.stats_file}) {
        if (target->empty() || written_in_place(*target)) continue;
        for (const auto& [log, what] : logs)
            if (same_file(*target, log)) throw HOST_INPUT_ERROR("output file '" + *target + "' is " + what);
    }
}

// A folder the run writes into, made when missing.
void make_folder(const std::filesystem::path& folder, const std::string& purpose)
{
    std::error_code ec;
    if (folder.empty() || std::filesystem::is_directory(folder, ec)) return;
    std::filesystem::create_directories(folder, ec);
    if (ec || !std::filesystem::is_directory(folder))
        throw HOST_INPUT_ERROR("cannot create folder '" + folder.string() + "' for " + purpose + ": " +
                               (ec ? ec.message() : "a file of that name is in the way"));
}

// Opened before the compile so that an output that cannot be written is
// found first; the text replaces the target only once complete.
void open_output(const std::string& path, FIO_REPLACING_FILE& file)
{
    if (path.empty()) return;
    make_folder(std::filesystem::path(path).parent_path(), "'" + path + "'");
    std::string error;
    if (!file.open(path, error)) throw HOST_INPUT_ERROR(error);
}

// The compile runs in its own folder, as a compiler runs in its project's:
// the component writes its delay, statistics, debug and change-log files
// there by their fixed names, so a run never litters the caller's folder.
// A device's folder is no project's: -o /dev/null keeps the compile's files
// where the run was started.
std::filesystem::path compile_folder(const FIT_OPTIONS& o)
{
    const auto project_file = [](const std::string& output) { return !output.empty() && !written_in_place(output); };
    std::filesystem::path folder = std::filesystem::current_path();
    if (!o.aux_dir.empty()) folder = std::filesystem::absolute(o.aux_dir);
    else if (project_file(o.output_blif)) folder = std::filesystem::absolute(o.output_blif).parent_path();
    else if (project_file(o.output_native)) folder = std::filesystem::absolute(o.output_native).parent_path();
    make_folder(folder, "the compile's own files");
    return folder;
}

// The component's own files have fixed names, so two compiles sharing a
// folder would read each other's saved netlists and overwrite each other's
// logs; the second one is refused while the first holds the folder. The
// lock goes with the process, also when it dies.
class COMPILE_FOLDER_LOCK
{
public:
    explicit COMPILE_FOLDER_LOCK(const std::filesystem::path& folder)
        : m_fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC))
    {
        if (m_fd < 0)
            throw HOST_INPUT_ERROR("cannot open folder '" + folder.string() +
                                   "' of the compile's own files: " + std::strerror(errno));
        if (::flock(m_fd, LOCK_EX | LOCK_NB) != 0) {
            const int error = errno;
            ::close(m_fd);
            if (error == EWOULDBLOCK)
                throw HOST_INPUT_ERROR("folder '" + folder.string() +
                                       "' is in use by another compile, whose files have the same names; give "
                                       "this run its own --aux-dir");
            throw HOST_INPUT_ERROR("cannot lock folder '" + folder.string() + "': " + std::strerror(error));
        }
        // A folder that takes no file would fail the compile only at its
        // end, or where a state is saved on the way.
        std::string why;
        if (!fio_check_folder_writable(folder.string(), why)) {
            ::close(m_fd);
            throw HOST_INPUT_ERROR("cannot write in folder '" + folder.string() +
                                   "' of the compile's own files: " + why);
        }
    }
    ~COMPILE_FOLDER_LOCK() { ::close(m_fd); }
    COMPILE_FOLDER_LOCK(const COMPILE_FOLDER_LOCK&) = delete;
    COMPILE_FOLDER_LOCK& operator=(const COMPILE_FOLDER_LOCK&) = delete;

private:
    int m_fd;
};

// Works in a folder for its lifetime and returns to the caller's after.
class WORKING_FOLDER
{
public:
    explicit WORKING_FOLDER(const std::filesystem::path& folder) : m_previous(std::filesystem::current_path())
    {
        std::filesystem::current_path(folder);
    }
    ~WORKING_FOLDER()
    {
        std::error_code ec;
        std::filesystem::current_path(m_previous, ec);
    }
    WORKING_FOLDER(const WORKING_FOLDER&) = delete;
    WORKING_FOLDER& operator=(const WORKING_FOLDER&) = delete;

private:
    std::filesystem::path m_previous;
};

std::unique_ptr<DEV_DEVICE> read_device(const FIT_OPTIONS& o, int family)
{
    // The family's own device without a file: the native reader holds
    // locked regions to it.
    if (o.device_file.empty()) return std::make_unique<DEV_DEVICE>(family);
    std::unique_ptr<DEV_DEVICE> device;
    try {
        device.reset(DEV_DEVICE::load_from_file(o.device_file.c_str()));
    } catch (const std::runtime_error& e) {
        throw HOST_INPUT_ERROR(e.what());
    }
    if (dev_base_family_of(device->get_family()) != dev_base_family_of(family))
        throw HOST_INPUT_ERROR("device file '" + o.device_file + "' describes a " +
                               dev_family_name(device->get_family()) + " device but the family is " + o.family);
    return device;
}

struct OUTPUT_FILES
{
    FIO_REPLACING_FILE blif, native, stats;
};

void finish(FIO_REPLACING_FILE& file)
{
    std::string error;
    if (!file.finish(error)) throw HOST_INPUT_ERROR(error);
}

// Every output is written whole before any replaces its target, so that
// one that fails (a full disk) leaves all of them as they were. A device or
// a pipe takes its text last (`in_place`): what it took cannot be taken back.
void write_outputs(const CDB_ATOM_NETLIST& netlist, const HOST_COMPILE_RESULT& result, OUTPUT_FILES& files,
                   bool in_place)
{
    if (files.blif.is_open() && files.blif.writes_in_place() == in_place)
        blif_write_netlist_file(netlist, files.blif, "top");
    if (files.native.is_open() && files.native.writes_in_place() == in_place) {
        cdb_write_native_netlist(netlist, files.native.stream());
        finish(files.native);
    }
    if (files.stats.is_open() && files.stats.writes_in_place() == in_place) {
        files.stats.stream() << format_summary_csv(result.rows, result.clock_period_ps);
        finish(files.stats);
    }
}

// Standard output carries the table, not the compile's product: a reader
// that went away (the table piped into head) fails nothing. One that cannot
// take the table (a full disk) fails the compile, so this is asked before
// any output is replaced or a device or pipe takes its text.
void check_console(std::ostream& out)
{
    out.flush();
    const auto* console = dynamic_cast<const FIO_FD_STREAMBUF*>(out.rdbuf());
    const int error = console != nullptr ? console->error_number() : 0;
    if (error != 0 && error != EPIPE) throw HOST_INPUT_ERROR("cannot write standard output: " + fio_error_text(error));
}

void commit_outputs(OUTPUT_FILES& files)
{
    std::string error;
    for (FIO_REPLACING_FILE* file : {&files.blif, &files.native, &files.stats})
        if (file->is_open() && !file->commit(error)) throw HOST_INPUT_ERROR(error);
}

// The native text form announces itself at the start of its first line,
// after a byte-order mark its reader skips; anything else is read as BLIF.
// Only the word's bytes are looked at: a file that never ends its first
// line is the reader's to refuse.
bool is_native_design(const std::string& path)
{
    const std::string_view bom = "\xEF\xBB\xBF";
    const std::string_view word = CDB_NATIVE_FORMAT_WORD;
    std::string start(bom.size() + word.size(), '\0');
    std::ifstream in(path, std::ios::binary);
    in.read(start.data(), static_cast<std::streamsize>(start.size()));
    start.resize(static_cast<std::size_t>(in.gcount()));
    std::string_view text = start;
    if (text.starts_with(bom)) text.remove_prefix(bom.size());
    return text.starts_with(word);
}

// How many registers took their controls out of the design's logic.
void print_read_controls(const BLIF_CONTROL_COUNTS& c, std::ostream& out)
{
    out << "morv-fit: read " << c.enables << " register enables (" << c.clears << " with a synchronous clear, "
        << c.loads << " with a synchronous load) from the design's logic\n";
}

// No flow point adds or removes a pin, so a design with more pins than the
// device has I/O cells fails as soon as it is read, not after the early
// flows and clustering have run on it.
void check_pins_fit(const FIT_OPTIONS& o, HOST_DESIGN& design)
{
    size_t pins = 0;
    for (CDB_ATOM_NODE* n : *design.netlist()) pins += n->is_pin() ? 1 : 0;
    const size_t cells = host_io_cells(*design.device());
    if (pins > cells)
        throw HOST_INPUT_ERROR(o.design + ": the design does not fit the device: " + std::to_string(pins) +
                               " I/O cells needed for its pins but the device has " + std::to_string(cells));
}

// A RAM's memory-initialisation file is read, by a name relative to the
// compile's folder, where the BLIF netlist is written: one that cannot be
// read there is an error before the compile instead of after it.
void check_ram_contents(const FIT_OPTIONS& o, const CDB_ATOM_NETLIST& netlist)
{
    if (o.output_blif.empty()) return;
    for (const CDB_ATOM_NODE* n : netlist) {
        if (!n->is_ram() || static_cast<const CDB_ATOM_RAM*>(n)->get_reconfig_info().m_mif_file_usage == 0) continue;
        try {
            cut_block_function(n);
        } catch (const CUT_BLOCK_ERROR& e) {
            throw HOST_INPUT_ERROR(o.design + ": " + e.what());
        }
    }
}

std::unique_ptr<CDB_ATOM_NETLIST> read_design(const FIT_OPTIONS& o, int family, const DEV_DEVICE& device,
                                              std::ostream& out)
{
    if (!is_native_design(o.design)) {
        BLIF_READER reader(family);
        reader.set_undriven_is_error(o.undriven_is_error);
        reader.set_fold_register_controls(o.read_enables);
        reader.set_clock_net(o.clock_net);
        // The netlist stands for what synthesis hands the fitter, and that
        // has UVO registers packed with the LUTs that feed them.
        reader.set_pack_registers(true);
        std::unique_ptr<CDB_ATOM_NETLIST> netlist = reader.read_file(o.design);
        if (o.read_enables && o.verbosity >= 1) print_read_controls(reader.get_control_counts(), out);
        return netlist;
    }
    if (!o.clock_net.empty())
        throw HOST_INPUT_ERROR("--clock: '" + o.design +
                               "' is in the native text form, where every latch names its clock");
    if (o.read_enables)
        throw HOST_INPUT_ERROR("--read-enables: '" + o.design +
                               "' is in the native text form, whose registers carry their own controls");
    std::string error;
    // A locked region is held to what a settings file's locked_region= is.
    const auto region_fits = [&device](const CDB_ATOM_NODE& atom) {
        if (atom.get_assignments().locked_x1 < 0) return std::string();
        return host_check_region_on_device(atom, "atom " + std::to_string(atom.get_id()), device);
    };
    std::unique_ptr<CDB_ATOM_NETLIST> netlist(cdb_read_native_netlist_file(o.design, nullptr, &error, region_fits));
    if (!netlist) throw HOST_INPUT_ERROR(error);
    if (netlist->get_family() != family) {
        std::string text = o.design;
        const CDB_FAMILY_INFO* info = cdb_get_family_info(netlist->get_family());
        text += ": the netlist is of family ";
        text += info != nullptr ? info->name : std::to_string(netlist->get_family());
        text += ", not of --family ";
        text += o.family;
        throw HOST_INPUT_ERROR(text);
    }
    if (!o.output_blif.empty()) blif_check_port_names(*netlist, o.design);
    return netlist;
}

int fail_with(std::ostream& err, const std::string& text)
{
    err << "morv-fit: error: " << text << "\n";
    return 1;
}

// "physical synthesis ran at FIT_EARLY, LATE", or that it did not run.
std::string physical_synthesis_line(const std::vector<std::string>& flows)
{
    if (flows.empty()) return "physical synthesis did not run\n";
    std::string line = "physical synthesis ran at ";
    for (size_t i = 0; i < flows.size(); ++i) line += (i > 0 ? ", " : "") + flows[i];
    return line + "\n";
}

// The tables the compile filed in its report, folder by folder.
void print_filed_tables(const RDB_REPORT& report, std::ostream& out)
{
    for (size_t f = 0; f < report.get_folder_count(); ++f) {
        const RDB_FOLDER& folder = report.get_folder(f);
        for (size_t t = 0; t < folder.get_table_count(); ++t) {
            out << '\n';
            rdb_print_table(out, folder.get_table(t));
        }
    }
}

// The compile's change logs become final files only when the whole compile
// succeeded: one that stops on an error of any kind (or is killed) leaves
// the logs of the compile before it, since a log of a compile cut short
// would replay as if it were whole, and leaves no chunk file. A compile
// that succeeds without recording a log removes the one an earlier compile
// left, which described outputs this one replaced (unless it is the log
// this compile replayed). The folder "db/" goes again when the compile made
// it and nothing is left in it. Made and kept while the compile works in
// its folder, where the component names its logs.
class FINAL_LOGS_OF_THIS_COMPILE
{
public:
    explicit FINAL_LOGS_OF_THIS_COMPILE(std::string replayed)
        : m_own(own_log().string()), m_replayed(std::move(replayed)), m_db(FIO_PATH("db").fullpath())
    {
        std::error_code ec;
        m_made_db = !std::filesystem::exists(std::filesystem::symlink_status(m_db, ec));
        if (m_made_db) fio_remove_on_interrupt(m_db);
    }
    FINAL_LOGS_OF_THIS_COMPILE(const FINAL_LOGS_OF_THIS_COMPILE&) = delete;
    FINAL_LOGS_OF_THIS_COMPILE& operator=(const FINAL_LOGS_OF_THIS_COMPILE&) = delete;
    // After the component is gone, so that no log of it writes a chunk again.
    ~FINAL_LOGS_OF_THIS_COMPILE()
    {
        if (!m_kept) MORV_LOG::settle_final_files(false);
        MORV_LOG::delete_chunk_files();
        if (!m_made_db) return;
        std::error_code ec;
        std::filesystem::remove(m_db, ec);
        fio_forget_on_interrupt(m_db);
    }
    void keep(std::ostream& log, int verbosity)
    {
        m_kept = true;
        const bool recorded = MORV_LOG::is_final_file_pending(m_own);
        const std::string error = MORV_LOG::settle_final_files(true);
        if (!error.empty()) throw HOST_INPUT_ERROR(error);
        if (!recorded) remove_earlier_log(log, verbosity);
    }

private:
    void remove_earlier_log(std::ostream& log, int verbosity) const
    {
        std::error_code ec;
        if (!std::filesystem::exists(std::filesystem::symlink_status(m_own, ec))) return;
        if (!m_replayed.empty() && same_file(m_own, m_replayed)) {
            if (verbosity >= 1)
                log << "morv-fit: '" << FIO_PATH(m_own).fullpath()
                    << "' is kept though this compile recorded no change log: it is the "
                    << "log the compile replayed\n";
            return;
        }
        const std::string shown = FIO_PATH(m_own).fullpath();
        if (!std::filesystem::remove(m_own, ec) && ec)
            throw HOST_INPUT_ERROR(
                "cannot remove '" + shown +
                "', the change log of an earlier compile, whose outputs this compile replaces: " + ec.message());
        if (verbosity >= 1)
            log << "morv-fit: removed '" << shown << "', the change log of an earlier compile: this compile "
                << "recorded none\n";
    }

    std::string m_own, m_replayed, m_db;
    bool m_made_db = false;
    bool m_kept = false;
};

int fit(const FIT_OPTIONS& o, std::ostream& out, std::ostream& err, const std::function<void(HOST_ENV&)>& hook)
{
    check_files(o);
    OUTPUT_FILES outputs;
    open_output(o.output_blif, outputs.blif);
    open_output(o.output_native, outputs.native);
    open_output(o.stats_file, outputs.stats);
    const std::filesystem::path folder = compile_folder(o);
    const COMPILE_FOLDER_LOCK folder_lock(folder);

    HOST_SETTINGS settings;
    // First, so that the settings file and --set may turn one off again.
    if (o.optimize)
        for (const HOST_SETTING_NAME& n : host_setting_names())
            if (n.optimisation) settings.add(n.name, "on", "--optimize");
    for (const std::string& file : o.settings_files) settings.load_file(file);
    for (const auto& [k, v] : o.sets) settings.add(k, v, "--set " + msg_cut_word(k));
    check_outputs_against_logs(o, settings, folder);

    const int family = cdb_family_from_name(o.family.c_str());
    if (family == CDB_FAMILY_NONE) return fail_with(err, "unknown family '" + o.family + "'");
    std::unique_ptr<DEV_DEVICE> device = read_device(o, family);

    msg_set_quiet(o.verbosity == 0);
    msg_set_vdebug_printing(o.verbosity >= 2);
    std::unique_ptr<CDB_ATOM_NETLIST> netlist;
    const double read_start = gen_get_sec_cpu();
    netlist = read_design(o, family, *device, out);
    const double read_seconds = gen_get_sec_cpu() - read_start;
    // Declared before the design and the environment, so that whatever they
    // write while being torn down also lands in the compile's folder.
    WORKING_FOLDER in_compile_folder(folder);
    check_ram_contents(o, *netlist);
    FINAL_LOGS_OF_THIS_COMPILE final_logs(replayed_log(settings, folder));
    HOST_DESIGN design(family, std::move(netlist), nullptr, device.release());
    check_pins_fit(o, design);
    settings.apply_options_and_switches(design.options());
    // The command line wins over the settings file where both speak.
    if (o.has_seed || !settings.has_option(MORV_SETTING_PLACER_SEED))
        design.options().set_int(MORV_SETTING_PLACER_SEED, static_cast<int>(o.seed));
    if (o.has_effort || !settings.has_option(MORV_SETTING_EFFORT))
        design.options().set_enum(MORV_SETTING_EFFORT, effort_setting_value(o.effort));
    if (o.has_test_string) design.options().set_string(MORV_SETTING_TEST_STRING, o.test_string);

    if (settings.needs_boundary_port_manager()) design.install_boundary_port_manager();
    HOST_ENV env(design);
    settings.apply_assignments(env);
    settings.check_clock_periods(env);
    // Progress lines only where a person watches: never into a file or a
    // pipe, where they would be noise between the table's lines.
    env.set_progress_bar(o.verbosity >= 1 && isatty(STDOUT_FILENO) && isatty(STDERR_FILENO));
    if (hook) hook(env);

    FIT_OPTIONS effective = o;
    if (!o.has_seed && settings.has_option(MORV_SETTING_PLACER_SEED)) {
        if (auto s = HDB_INT_OPTION::get_int_option(&design.options(), MORV_SETTING_PLACER_SEED); s && *s >= 0)
            effective.seed = static_cast<uint32_t>(*s);
    }
    HOST_COMPILE_RESULT result = run_compile(env, effective, err, read_seconds);
    env.set_progress_bar(false);

    write_outputs(*design.netlist(), result, outputs, false);
    out << "\nclock period " << result.clock_period_ps << " ps\n"
        << physical_synthesis_line(result.physical_synthesis_flows)
        << format_summary_table(result.rows, result.clock_period_ps);
    print_filed_tables(*design.cmp().get_report(), out);
    check_console(out);
    write_outputs(*design.netlist(), result, outputs, true);
    {
        // An interrupt waits while the complete files replace the earlier
        // ones, so that it finds them all replaced or none.
        const FIO_INTERRUPTS_HELD held;
        final_logs.keep(err, o.verbosity);
        commit_outputs(outputs);
    }
    return 0;
}

}  // namespace

HOST_COMPILE_RESULT run_compile(HOST_ENV& env, const FIT_OPTIONS& options, std::ostream& log, double read_seconds)
{
    // Another design may have taken the current-device slot since this one was built.
    env.design().make_device_current();
    COMPILE c(env, options, log, read_seconds);
    return c.run();
}

int run_fit(const FIT_OPTIONS& o, std::ostream& out, std::ostream& err, const std::function<void(HOST_ENV&)>& hook)
{
    try {
        return fit(o, out, err, hook);
    } catch (const BLIF_ERROR& e) {
        return fail_with(err, e.what());
    } catch (const HOST_INPUT_ERROR& e) {
        return fail_with(err, e.what());
    } catch (const CFG_ERROR& e) {
        return fail_with(err, e.what());
    } catch (const HDB_OPTION_ERROR& e) {
        return fail_with(err, e.what());
    } catch (const FIO_WRITE_ERROR& e) {
        return fail_with(err, e.what());
    }
}

int fit_main(int argc, const char* const* argv, std::ostream& out, std::ostream& err,
             const std::function<void(HOST_ENV&)>& hook)
{
    FIT_OPTIONS options;
    std::string error;
    if (!parse_fit_options(argc, argv, options, error)) {
        err << "morv-fit: error: " << error << "\n";
        return 1;
    }
    if (options.help) {
        out << fit_usage_text() << "\n" << host_setting_names_help();
        return 0;
    }
    if (options.version) {
        out << "morv-fit " << fit_version() << "\n";
        return 0;
    }
    try {
        return run_fit(options, out, err, hook);
    } catch (const MSG_INTERNAL_ERROR_EXCEPTION& e) {
        err << "morv-fit: internal error: " << e.get_condition() << " (module " << e.get_module() << ", "
            << e.get_file() << ":" << e.get_line() << ")\n";
        return 2;
    } catch (const std::bad_alloc&) {
        // The machine's or the user's limit, not a fault of ours: the
        // compile has unwound, and the outputs are written only on success.
        err << "morv-fit: error: out of memory: the compile needs more memory than this environment grants it "
               "(see 'ulimit -v'); no output is written\n";
        return 1;
    } catch (const std::exception& e) {
        // Input problems are reported inside run_fit; anything else is ours.
        err << "morv-fit: internal error: " << e.what() << "\n";
        return 2;
    }
}

}  // namespace morv_host
