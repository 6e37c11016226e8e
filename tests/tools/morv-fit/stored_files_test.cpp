// The files a compile keeps (its change log, the delay file, the output
// netlist) are replaced only by complete ones: a write the file system
// refuses fails the compile with the file and the reason and leaves the
// earlier files as they were, with no temporary or chunk file behind. A
// change log with whole records dropped, moved, repeated or changed, or cut
// after a flow's end, is refused before anything is replayed.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <linux/capability.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "cdb/cdb_native_format.h"
#include "logdb/logdb_fsyn_log_file.h"
#include "logdb/logdb_record_stream.h"
#include "test_build.h"
#include "test_files.h"

namespace stored_files_test {

namespace {

namespace fs = std::filesystem;

const std::string k_design = std::string(MORV_SOURCE_DIR) + "/designs/counter.blif";

// The child's exit status when root cannot give up writing where
// permissions forbid it, so that no read-only folder can be made for it.
constexpr int k_cannot_drop_override = 125;

// How a child compile is set up.
struct CHILD
{
    // Its files are limited to this many bytes (0: no limit), with the
    // limit's signal ignored as on a full disk (writes past the limit fail
    // with "File too large") or left as a plain `ulimit -f` leaves it.
    rlim_t limit = 0;
    bool limit_signal_ignored = true;
    // Root loses the power to write where permissions forbid it.
    bool no_override = false;
    // Standard output, when it is not where standard error goes.
    int stdout_fd = -1;
    bool quiet = true;
    // Its address space, in bytes (0: no limit).
    rlim_t memory = 0;
    // Standard streams the caller closed, as `>&-` does.
    std::vector<int> closed = {};
};

// Becomes morv-fit in `folder` with its output on `out_fd`, set up as `child` says.
[[noreturn]] void exec_fit(const fs::path& folder, std::vector<std::string> args, const CHILD& child, int out_fd)
{
    ::dup2(child.stdout_fd >= 0 ? child.stdout_fd : out_fd, STDOUT_FILENO);
    ::dup2(out_fd, STDERR_FILENO);
    ::close(out_fd);
    for (const int fd : child.closed) ::close(fd);
    if (child.memory > 0) {
        const rlimit as{child.memory, child.memory};
        ::setrlimit(RLIMIT_AS, &as);
    }
    if (child.limit > 0) {
        const rlimit fsize{child.limit, child.limit};
        ::setrlimit(RLIMIT_FSIZE, &fsize);
        ::signal(SIGXFSZ, child.limit_signal_ignored ? SIG_IGN : SIG_DFL);
    }
    // A signal that dumps core leaves no core file among the compared ones.
    const rlimit no_core{0, 0};
    ::setrlimit(RLIMIT_CORE, &no_core);
    const bool no_override = child.no_override;
    if (no_override && ::geteuid() == 0 && ::prctl(PR_CAPBSET_DROP, CAP_DAC_OVERRIDE, 0, 0, 0) != 0)
        ::_exit(k_cannot_drop_override);
    // A signal the test runner ignores must still reach the compile.
    for (const int signal_number : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGUSR1, SIGUSR2, SIGALRM, SIGXCPU, SIGPIPE})
        ::signal(signal_number, SIG_DFL);
    if (::chdir(folder.c_str()) != 0) ::_exit(127);
    args.insert(args.begin(), MORV_FIT_BINARY);
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    ::execv(argv[0], argv.data());
    ::_exit(127);
}

// morv-fit (-q unless asked otherwise) in `folder`, as exec_fit runs it;
// status -1 for a compile that a signal ended.
COMMAND_RUN fit_in(const fs::path& folder, std::vector<std::string> args, const CHILD& child = {})
{
    if (child.quiet) args.insert(args.begin(), "-q");
    int pipe_fds[2];
    if (::pipe(pipe_fds) != 0) return COMMAND_RUN();
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(pipe_fds[0]);
        exec_fit(folder, args, child, pipe_fds[1]);
    }
    ::close(pipe_fds[1]);
    COMMAND_RUN run;
    char buffer[4096];
    for (ssize_t n; (n = ::read(pipe_fds[0], buffer, sizeof buffer)) != 0;) {
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) break;
        run.out.append(buffer, static_cast<size_t>(n));
    }
    ::close(pipe_fds[0]);
    int status = 0;
    if (pid > 0 && ::waitpid(pid, &status, 0) == pid && WIFEXITED(status)) run.status = WEXITSTATUS(status);
    return run;
}

bool has(const std::string& text, const std::string& part)
{
    return text.find(part) != std::string::npos;
}

// Every file under `folder` with its bytes; a folder, a link or a named
// pipe by its name with "/", "@" or "|" after it.
std::map<std::string, std::string> files_under(const fs::path& folder)
{
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        const std::string name = entry.path().lexically_relative(folder).string();
        if (entry.is_symlink()) files[name + "@"] = fs::read_symlink(entry.path()).string();
        else if (entry.is_regular_file()) files[name] = slurp(entry.path().string());
        else files[name + (entry.is_directory() ? "/" : "|")] = "";
    }
    return files;
}

// The files added, removed or changed, for a message.
std::string differences(const std::map<std::string, std::string>& before,
                        const std::map<std::string, std::string>& after)
{
    std::string text;
    for (const auto& [name, bytes] : after)
        if (before.count(name) == 0 || before.at(name) != bytes) text += " " + name;
    for (const auto& [name, bytes] : before)
        if (after.count(name) == 0) text += " -" + name;
    return text;
}

// True when the folder holds a file whose name starts with `prefix` and
// ends with `suffix`. Files come and go while it looks.
bool holds(const fs::path& folder, const std::string& prefix, const std::string& suffix)
{
    std::error_code ec;
    for (auto it = fs::directory_iterator(folder, ec); !ec && it != fs::directory_iterator(); it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (name.size() >= prefix.size() + suffix.size() && name.rfind(prefix, 0) == 0 &&
            name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0)
            return true;
    }
    return false;
}

// morv-fit in `folder`, sent `signal_number` once its compile is under way:
// its first change log merged (and waiting beside the final one) and a
// state saved on disk. The wait status.
int interrupted_fit(const fs::path& folder, const std::vector<std::string>& args, int signal_number)
{
    // Beside the folder, whose files the caller compares.
    const int out_fd = ::open("interrupted_fit.out", O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    const pid_t pid = ::fork();
    if (pid == 0) exec_fit(folder, args, CHILD(), out_fd);
    ::close(out_fd);
    int status = 0;
    for (int waited = 0; waited < 60000; ++waited) {
        if (holds(folder / "db", "morv_fit.cmp.psl.tmp.", "") && holds(folder, "morv_atom_save_restore_", ".hdb"))
            break;
        // Ended on its own: the caller finds no signal in the status.
        if (::waitpid(pid, &status, WNOHANG) == pid) return status;
        ::usleep(1000);
    }
    ::kill(pid, signal_number);
    ::waitpid(pid, &status, 0);
    return status;
}

std::vector<std::string> migration_args(const char* family)
{
    return {"--family", family,     "--device", "device.txt", "--set", "fsyn_netlist_sweeper=on",
            "-o",       "out.blif", k_design};
}

// The records of a chained log, split by the length each states.
std::vector<std::string> split_records(const std::string& bytes)
{
    std::vector<std::string> records;
    for (std::size_t at = 0; at + LOGDB_RECORD_PREFIX_BYTES <= bytes.size();) {
        const uint32_t length = logdb_read_u32(reinterpret_cast<const unsigned char*>(bytes.data()) + at + 4);
        if (length == 0 || at + length > bytes.size()) break;
        records.push_back(bytes.substr(at, length));
        at += length;
    }
    return records;
}

uint32_t kind_of(const std::string& record)
{
    return logdb_read_u32(reinterpret_cast<const unsigned char*>(record.data()) + 8);
}

std::string joined(const std::vector<std::string>& records)
{
    std::string all;
    for (const std::string& r : records) all += r;
    return all;
}

// One byte changed and the record's CRC made right again.
void edit_and_reseal(std::string& record, std::size_t at, unsigned char flip)
{
    record[at] = static_cast<char>(record[at] ^ flip);
    const uint32_t crc = logdb_crc32(record.data(), record.size() - 4);
    for (int i = 0; i < 4; ++i) record[record.size() - 4 + i] = static_cast<char>((crc >> (8 * i)) & 0xFFU);
}

}  // namespace

// One compile per failing write, under a file-size limit whose signal is
// ignored (as on a full disk) or not (a plain `ulimit -f`): the change log
// (at a chunk or at the merge, by the limit), the native text written last
// (after -o, the statistics and the change log, none of which it may leave
// replaced, nor a named pipe given as -o take), then with no log the delay
// file (a warning) and the netlist. A folder's first recording that fails
// leaves no "db/" either.
TEST(MorvFitStoredFiles, AFullDiskLeavesEveryEarlierFileAsItWas)
{
    const fs::path folder = fs::absolute("stored_full_disk");
    fs::remove_all(folder);
    fs::create_directories(folder);
    std::ofstream(folder / "device.txt") << "family 6\nmigratable_part 2400\n";
    ASSERT_EQ(::mkfifo((folder / "pipe").c_str(), 0600), 0);
    std::vector<std::string> args = migration_args("BRK");
    args.insert(args.begin(), {"--native", "out.txt", "--stats", "stats.csv"});
    const std::map<std::string, std::string> empty = files_under(folder);
    for (const bool ignored : {true, false}) {
        const COMMAND_RUN first = fit_in(folder, args, {64, ignored});
        EXPECT_EQ(first.status, 1) << first.out;
        EXPECT_TRUE(has(first.out, "File too large")) << first.out;
        EXPECT_TRUE(files_under(folder) == empty) << ignored << ":" << differences(empty, files_under(folder));
    }
    const COMMAND_RUN good = fit_in(folder, args);
    ASSERT_EQ(good.status, 0) << good.out;
    // Unlike what the next compile writes, so that a replaced one shows.
    for (const char* name : {"out.blif", "stats.csv"}) write_file((folder / name).string(), "earlier\n");
    const std::map<std::string, std::string> before = files_under(folder);
    ASSERT_EQ(before.count("db/morv_fit.cmp.psl"), 1U);
    ASSERT_EQ(before.count("fsyn_delays.txt"), 1U);
    ASSERT_EQ(before.count("out.blif"), 1U);
    const rlim_t log_size = before.at("db/morv_fit.cmp.psl").size();
    std::size_t others = 0;
    for (const auto& [name, bytes] : before)
        if (name != "out.txt") others = std::max(others, bytes.size());
    ASSERT_GT(before.at("out.txt").size(), others);
    const rlim_t native_only = (others + before.at("out.txt").size()) / 2;

    std::vector<std::string> to_pipe = args;
    *std::find(to_pipe.begin(), to_pipe.end(), "out.blif") = "pipe";

    for (const rlim_t limit : {rlim_t{64}, rlim_t{1024}, log_size / 2, log_size - 1, native_only}) {
        for (const bool ignored : {true, false}) {
            const COMMAND_RUN full = fit_in(folder, args, {limit, ignored});
            EXPECT_EQ(full.status, 1) << limit << ": " << full.out;
            EXPECT_TRUE(has(full.out, "File too large")) << full.out;
            EXPECT_TRUE(
                has(full.out, limit == native_only ? "out.txt': File too large" : "cannot write file 'db/morv_fit"))
                << full.out;
            const std::map<std::string, std::string> after = files_under(folder);
            EXPECT_TRUE(after == before) << "limit " << limit << (ignored ? "" : ", SIGXFSZ not ignored")
                                         << ": changed or left behind:" << differences(before, after);
        }
    }
    const int reader = ::open((folder / "pipe").c_str(), O_RDONLY | O_NONBLOCK);
    const COMMAND_RUN piped = fit_in(folder, to_pipe, {native_only});
    char byte = 0;
    EXPECT_EQ(::read(reader, &byte, 1), 0) << "the pipe took a netlist of a compile that failed";
    ::close(reader);
    EXPECT_EQ(piped.status, 1) << piped.out;
    EXPECT_TRUE(has(piped.out, "out.txt': File too large")) << piped.out;
    EXPECT_TRUE(files_under(folder) == before) << differences(before, files_under(folder));

    // A temporary that a killed compile left is cleared by the next writer.
    const rlim_t small = std::min(before.at("fsyn_delays.txt").size(), before.at("out.blif").size()) / 2;
    const std::vector<std::string> plain = {"--family", "BRK", "-o", "out.blif", k_design};
    for (const bool ignored : {true, false}) {
        std::ofstream(folder / "out.blif.tmp.k1LLed") << "partial";
        const COMMAND_RUN full = fit_in(folder, plain, {small, ignored});
        EXPECT_EQ(full.status, 1) << full.out;
        EXPECT_TRUE(has(full.out, "WMORV_FSYN_DELAY_FILE_NOT_WRITTEN")) << full.out;
        EXPECT_TRUE(has(full.out, "fsyn_delays.txt': File too large")) << full.out;
        EXPECT_TRUE(has(full.out, "out.blif': File too large")) << full.out;
        EXPECT_TRUE(files_under(folder) == before) << "files changed or left behind";
    }
    fs::remove_all(folder);
}

// Memory the environment does not grant is the environment's limit, not a
// fault of the compile: each limit from one too small to load the program
// to one the compile fits in either runs it or ends it with exit 1 saying
// so, every earlier file as it was and nothing left behind.
TEST(MorvFitStoredFiles, TooLittleMemoryIsSaidAndLeavesEveryEarlierFileAsItWas)
{
    // The sanitizers reserve far more address space than any such limit.
    if (k_small_designs_only) GTEST_SKIP() << "address-space limits do not apply under the sanitizers";
    // Under a small limit the instrumented program dies of a signal before
    // it starts, which this test cannot tell from a crash of its own.
    if (k_coverage_build)
        GTEST_SKIP() << "in a coverage build the program dies under a small address-space limit before it starts";
    const fs::path folder = fs::absolute("stored_memory");
    fs::remove_all(folder);
    fs::create_directories(folder);
    std::ofstream(folder / "device.txt") << "family 6\nmigratable_part 2400\n";
    const std::vector<std::string> args = {
        "-O",    "--device", "device.txt", "--stats",
        "s.csv", "-o",       "out.blif",   std::string(MORV_BENCH_DIR) + "/mcnc_k4/tseng.blif"};
    ASSERT_EQ(fit_in(folder, args).status, 0);
    for (const char* name : {"out.blif", "s.csv"}) write_file((folder / name).string(), "earlier\n");
    const std::map<std::string, std::string> before = files_under(folder);
    int refused = 0;
    for (rlim_t megabytes = 8; megabytes <= 64; megabytes += 2) {
        CHILD limited;
        limited.memory = megabytes << 20;
        const COMMAND_RUN run = fit_in(folder, args, limited);
        // Too little to load the C library, or for the runtime's reserve for
        // exceptions (a static object's allocation then ends the program
        // before it starts): the program never started.
        if (run.status == 127 || has(run.out, "terminate called without an active exception")) continue;
        if (run.status == 0) break;
        ++refused;
        EXPECT_EQ(run.status, 1) << megabytes << " MB: " << run.out;
        EXPECT_TRUE(has(run.out, "morv-fit: error: out of memory")) << megabytes << " MB: " << run.out;
        EXPECT_FALSE(has(run.out, "internal error")) << megabytes << " MB: " << run.out;
        const std::map<std::string, std::string> after = files_under(folder);
        EXPECT_TRUE(after == before) << megabytes << " MB: changed or left behind:" << differences(before, after);
    }
    EXPECT_GE(refused, 2);
    fs::remove_all(folder);
}

// A synthesis-stage log that cannot be read is the user's to mend: the
// compile names it, keeps the compile's earlier log, and leaves no chunk.
TEST(MorvFitStoredFiles, ADamagedSynthesisLogIsNamed)
{
    const fs::path folder = fs::absolute("stored_map_psl");
    fs::remove_all(folder);
    fs::create_directories(folder / "db");
    std::ofstream(folder / "device.txt") << "family 6\nmigratable_part 2400\n";
    std::ofstream(folder / "db" / "morv_fit.map.psl") << "not a change log\n";
    COMMAND_RUN run = fit_in(folder, migration_args("BRK"));
    EXPECT_EQ(run.status, 1) << run.out;
    EXPECT_TRUE(has(run.out, "db/morv_fit.map.psl: offset 0: bad record magic")) << run.out;
    EXPECT_FALSE(fs::exists(folder / "db" / "morv_fit0.kas"));
    EXPECT_FALSE(fs::exists(folder / "db" / "morv_fit.cmp.psl"));
    EXPECT_FALSE(fs::exists(folder / "out.blif"));

    // A good synthesis log starts the compile's log; cut short, it is refused.
    fs::remove(folder / "db" / "morv_fit.map.psl");
    ASSERT_EQ(fit_in(folder, migration_args("BRK")).status, 0);
    const std::string log = slurp((folder / "db" / "morv_fit.cmp.psl").string());
    write_file((folder / "db" / "morv_fit.map.psl").string(), log);
    ASSERT_EQ(fit_in(folder, migration_args("BRK")).status, 0);
    const std::string grown = slurp((folder / "db" / "morv_fit.cmp.psl").string());
    EXPECT_GT(grown.size(), log.size());
    write_file((folder / "db" / "morv_fit.map.psl").string(), log.substr(0, log.size() - 1));
    run = fit_in(folder, migration_args("BRK"));
    EXPECT_EQ(run.status, 1) << run.out;
    EXPECT_TRUE(has(run.out, "morv_fit.map.psl: offset")) << run.out;
    EXPECT_EQ(slurp((folder / "db" / "morv_fit.cmp.psl").string()), grown);
    EXPECT_FALSE(fs::exists(folder / "db" / "morv_fit0.kas"));
    fs::remove_all(folder);
}

// A recorded log damaged a whole record at a time, each record's own check
// still right: no copy replays. A log cut after any flow's END_OF_LOG is
// refused too; the same log in the earlier plain form replays, with a warning.
TEST(MorvFitStoredFiles, ADamagedChangeLogNeverReplays)
{
    const fs::path folder = fs::absolute("stored_campaign");
    fs::remove_all(folder);
    fs::create_directories(folder / "rep");
    std::ofstream(folder / "device.txt") << "family 6\nmigratable_part 2400\n";
    // Two flows, each ending its part of the log with END_OF_LOG.
    std::vector<std::string> record_args = migration_args("BRK");
    record_args.insert(record_args.begin(), {"--test-string", "TEST()|TEST()"});
    ASSERT_EQ(fit_in(folder, record_args).status, 0);
    const std::string log_name = (folder / "db" / "morv_fit.cmp.psl").string();
    const std::vector<std::string> records = split_records(slurp(log_name));
    ASSERT_GT(records.size(), 15U);
    ASSERT_EQ(kind_of(records.back()), LOGDB_CLOSING_RECORD_KIND);
    const auto replay = [&](const std::string& bytes) {
        write_file((folder / "case.psl").string(), bytes);
        return fit_in(folder / "rep", {"--family", "MRL", "--set", "661=../case.psl", "-o", "case.blif", k_design});
    };
    const COMMAND_RUN whole = replay(joined(records));
    ASSERT_EQ(whole.status, 0) << whole.out;
    EXPECT_FALSE(has(whole.out, "WMORV_FSYN_LOG_FILE_NOT_CHECKED")) << whole.out;
    const std::string replayed = slurp((folder / "rep" / "case.blif").string());
    fs::remove(folder / "rep" / "case.blif");

    const auto expect_refused = [&](const std::vector<std::string>& damaged, const std::string& what) {
        const COMMAND_RUN run = replay(joined(damaged));
        EXPECT_EQ(run.status, 1) << what << ": " << run.out;
        EXPECT_TRUE(has(run.out, "EMORV_FSYN_LOG_FILE_DAMAGED") && has(run.out, "case.psl: offset "))
            << what << ": " << run.out;
        EXPECT_FALSE(fs::exists(folder / "rep" / "case.blif")) << what;
    };
    int cuts = 0;
    for (std::size_t i = 0; i + 1 < records.size(); ++i) {
        if (kind_of(records[i]) != LOGDB_FSYN_LOG_OPERATION_END_OF_LOG) continue;
        ++cuts;
        expect_refused(std::vector<std::string>(records.begin(), records.begin() + static_cast<std::ptrdiff_t>(i) + 1),
                       "cut after END_OF_LOG " + std::to_string(i));
    }
    EXPECT_GE(cuts, 2);

    std::mt19937 rng(82);
    const int cases = k_small_designs_only ? 12 : 240;
    const auto pick = [&](std::size_t n) { return static_cast<std::size_t>(rng() % n); };
    for (int c = 0; c < cases; ++c) {
        std::vector<std::string> damaged = records;
        const std::size_t i = pick(records.size());
        std::string what;
        switch (c % 4) {
        case 0:
            damaged.erase(damaged.begin() + static_cast<std::ptrdiff_t>(i));
            what = "drop";
            break;
        case 1: {
            std::size_t j = pick(records.size() - 1);
            if (j >= i) ++j;
            const std::string moved = damaged[i];
            damaged.erase(damaged.begin() + static_cast<std::ptrdiff_t>(i));
            damaged.insert(damaged.begin() + static_cast<std::ptrdiff_t>(std::min(j, damaged.size())), moved);
            what = "move to " + std::to_string(j);
            break;
        }
        case 2:
            damaged.insert(damaged.begin() + static_cast<std::ptrdiff_t>(pick(records.size() + 1)), records[i]);
            what = "duplicate";
            break;
        default: {
            // A field byte (the entry id when the record has no field).
            const std::size_t fields = records[i].size() - 16 - 12;
            edit_and_reseal(damaged[i], fields > 0 ? 16 + pick(fields) : 12 + pick(4),
                            static_cast<unsigned char>(1 + pick(255)));
            what = "edit";
        }
        }
        if (damaged == records) continue;
        expect_refused(damaged, "case " + std::to_string(c) + ": " + what + " record " + std::to_string(i));
    }

    // The earlier plain form cannot be checked as a whole: it replays as it
    // did, and the compile says that it was not checked.
    LOGDB_FSYN_LOG_FILE log;
    log.set_file_name(log_name);
    std::string plain;
    while (LOGDB_FSYN_LOG_ENTRY_OWNER record = log.read_fsyn_log_entry()) plain += logdb_encode_record(*record);
    ASSERT_FALSE(log.error().is_set()) << log.error().to_string();
    const COMMAND_RUN old = replay(plain);
    EXPECT_EQ(old.status, 0) << old.out;
    EXPECT_TRUE(has(old.out, "WMORV_FSYN_LOG_FILE_NOT_CHECKED")) << old.out;
    EXPECT_EQ(slurp((folder / "rep" / "case.blif").string()), replayed);
    fs::remove_all(folder);
}

// Every kind of output target: a file is replaced (through a link, also one
// that names no file yet, the file it names), a named pipe or a device is
// written in place and stays what it is; a pipe that nobody reads, a loop
// of links and the change logs are refused before the compile, a device
// that takes nothing fails the run before any file is replaced. Any name
// the file system takes is a target.
TEST(MorvFitStoredFiles, OutputTargetsOfEveryKind)
{
    const fs::path folder = fs::absolute("stored_targets");
    fs::remove_all(folder);
    fs::create_directories(folder / "aux" / "db");
    fs::create_directories(folder / "made");
    const std::string file = (folder / "file.blif").string();
    fs::create_symlink("file.blif", folder / "file_link");
    fs::create_symlink("made/new.blif", folder / "dangling");
    fs::create_symlink("dangling", folder / "chain");
    fs::create_symlink("loop_b", folder / "loop_a");
    fs::create_symlink("loop_a", folder / "loop_b");
    ASSERT_EQ(::mkfifo((folder / "pipe").c_str(), 0600), 0);
    fs::create_symlink("pipe", folder / "pipe_link");
    write_file((folder / "replayed.psl").string(), "earlier\n");
    write_file((folder / "aux" / "db" / "morv_fit.cmp.psl").string(), "earlier\n");
    const auto fit_to = [&](std::vector<std::string> args) {
        args.push_back(k_design);
        return fit_in(folder, args);
    };
    for (const char* target : {"file.blif", "file_link"}) {
        write_file(file, "earlier\n");
        EXPECT_EQ(fit_to({"-o", target}).status, 0) << target;
        EXPECT_EQ(slurp(file).rfind(".model", 0), 0U) << target;
    }
    EXPECT_TRUE(fs::is_symlink(folder / "file_link"));
    for (const char* target : {"dangling", "chain"}) {
        const COMMAND_RUN run = fit_to({"-o", target});
        EXPECT_EQ(run.status, 0) << target << ": " << run.out;
        EXPECT_EQ(slurp((folder / "made" / "new.blif").string()).rfind(".model", 0), 0U) << target;
        EXPECT_TRUE(fs::is_symlink(folder / target)) << target;
        fs::remove(folder / "made" / "new.blif");
    }
    // The longest names: the temporary's suffix may not push one past it.
    for (const std::size_t length : {std::size_t(245), std::size_t(255)}) {
        const std::string name = std::string(length - 5, 'o') + ".blif";
        const COMMAND_RUN run = fit_to({"-o", name});
        EXPECT_EQ(run.status, 0) << length << ": " << run.out;
        EXPECT_EQ(slurp((folder / name).string()).rfind(".model", 0), 0U) << length;
        int named_alike = 0;
        for (const auto& entry : fs::directory_iterator(folder))
            named_alike += entry.path().filename().string().rfind(name.substr(0, 200), 0) == 0 ? 1 : 0;
        EXPECT_EQ(named_alike, 1) << length << ": a temporary is left";
        fs::remove(folder / name);
    }
    // The pipe holds the short netlist until it is read.
    for (const char* target : {"pipe", "pipe_link"}) {
        const int reader = ::open((folder / "pipe").c_str(), O_RDONLY | O_NONBLOCK);
        const COMMAND_RUN run = fit_to({"-o", target});
        std::string text(65536, '\0');
        text.resize(static_cast<size_t>(std::max<ssize_t>(::read(reader, text.data(), text.size()), 0)));
        ::close(reader);
        EXPECT_EQ(run.status, 0) << target << ": " << run.out;
        EXPECT_EQ(text.rfind(".model", 0), 0U) << target;
        EXPECT_EQ(fs::status(folder / target).type(), fs::file_type::fifo) << target;
    }
    const std::pair<std::vector<std::string>, std::string> refused[] = {
        {{"-o", "pipe"}, "cannot write 'pipe': it is a named pipe that nothing reads"},
        {{"-o", "loop_a"}, "cannot write 'loop_a': Too many levels of symbolic links"},
        {{"-o", "out.blif", "--stats", "loop_b"}, "cannot write 'loop_b': Too many levels of symbolic links"},
        {{"--set", "661=" + (folder / "replayed.psl").string(), "-o", "replayed.psl"},
         "output file 'replayed.psl' is the change log replayed by --set 661"},
        {{"--aux-dir", "aux", "--stats", "aux/db/morv_fit.cmp.psl"},
         "output file 'aux/db/morv_fit.cmp.psl' is the compile's own change log"},
    };
    const std::map<std::string, std::string> earlier = files_under(folder);
    for (const auto& [args, message] : refused) {
        const COMMAND_RUN run = fit_to(args);
        EXPECT_EQ(run.status, 1) << run.out;
        EXPECT_TRUE(has(run.out, message)) << run.out;
        EXPECT_TRUE(files_under(folder) == earlier) << message << ":" << differences(earlier, files_under(folder));
    }
    // The machine's null and full devices, made here: only root may. The
    // compile keeps its own files out of the devices' folder.
    const fs::path dev = folder / "dev";
    fs::create_directories(dev);
    if (::mknod((dev / "null").c_str(), S_IFCHR | 0666, makedev(1, 3)) != 0 ||
        ::mknod((dev / "full").c_str(), S_IFCHR | 0666, makedev(1, 7)) != 0) {
        const int error = errno;
        fs::remove_all(folder);
        GTEST_SKIP() << "no device node can be made here (" << std::strerror(error) << "): devices not tried";
    }
    fs::create_symlink("null", dev / "null_link");
    const COMMAND_RUN null = fit_to({"-o", "dev/null", "--stats", "dev/null_link"});
    EXPECT_EQ(null.status, 0) << null.out;
    write_file(file, "earlier\n");
    const COMMAND_RUN full = fit_to({"-o", "file.blif", "--stats", "dev/full"});
    EXPECT_EQ(full.status, 1) << full.out;
    EXPECT_TRUE(has(full.out, "full': No space left on device")) << full.out;
    EXPECT_EQ(slurp(file), "earlier\n");
    for (const char* device : {"null", "full"})
        EXPECT_EQ(fs::status(dev / device).type(), fs::file_type::character) << device;
    EXPECT_EQ(std::distance(fs::directory_iterator(dev), fs::directory_iterator()), 3);
    fs::remove_all(folder);
}

// A recording compile interrupted after its first merge, by a kill, Ctrl-C,
// a closed terminal, a quit key, a user's signal, a timer or a CPU-time
// limit, leaves the earlier change log and output byte for byte; a signal
// it can catch takes its temporaries, chunks and saved states with it, and
// the "db/" of a folder's first recording.
TEST(MorvFitStoredFiles, AnInterruptedRecordingLeavesTheEarlierLog)
{
    const fs::path folder = fs::absolute("stored_interrupted");
    fs::remove_all(folder);
    fs::create_directories(folder);
    std::ofstream(folder / "device.txt") << "family 6\nmigratable_part 2400\n";
    // Placement, after the first merge, takes most of this design's compile.
    std::vector<std::string> args = {
        "-O",         "--family", "BRK",      "--device",
        "device.txt", "-o",       "out.blif", std::string(MORV_SOURCE_DIR) + "/designs/parity_and_chain.blif"};
    const std::map<std::string, std::string> empty = files_under(folder);
    const int first = interrupted_fit(folder, args, SIGUSR1);
    EXPECT_TRUE(WIFSIGNALED(first) && WTERMSIG(first) == SIGUSR1) << "wait status " << first;
    EXPECT_TRUE(files_under(folder) == empty) << differences(empty, files_under(folder));
    std::vector<std::string> earlier = args;
    earlier.insert(earlier.begin(), {"--effort", "fast"});
    ASSERT_EQ(fit_in(folder, earlier).status, 0);
    const std::map<std::string, std::string> before = files_under(folder);
    ASSERT_EQ(before.count("db/morv_fit.cmp.psl"), 1U);
    // Last, the kill the compile cannot catch: its scratch files stay.
    for (const int signal_number : {SIGTERM, SIGINT, SIGHUP, SIGQUIT, SIGUSR2, SIGALRM, SIGXCPU, SIGKILL}) {
        const int status = interrupted_fit(folder, args, signal_number);
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal_number)
            << ::strsignal(signal_number) << ": wait status " << status;
        std::map<std::string, std::string> after = files_under(folder);
        if (signal_number != SIGKILL) {
            EXPECT_TRUE(after == before) << ::strsignal(signal_number) << ":" << differences(before, after);
        }
        for (const char* name : {"db/morv_fit.cmp.psl", "out.blif"})
            EXPECT_EQ(after[name], before.at(name)) << ::strsignal(signal_number) << ": " << name;
    }
    fs::remove_all(folder);
}

// Standard output carries the table, not the compile's product: a reader
// that stops reading (the table piped into `head`) fails nothing and the
// netlist is written whole; a table that cannot be written (a full disk)
// fails the run, naming standard output, and so leaves the earlier outputs
// as they were, quiet or not.
TEST(MorvFitStoredFiles, StandardOutputIsNotTheCompilesProduct)
{
    const fs::path folder = fs::absolute("stored_console");
    fs::remove_all(folder);
    fs::create_directories(folder);
    int pipe_fds[2];
    ASSERT_EQ(::pipe(pipe_fds), 0);
    // Gone before the compile says its first line.
    ::close(pipe_fds[0]);
    CHILD gone_reader;
    gone_reader.stdout_fd = pipe_fds[1];
    gone_reader.quiet = false;
    const COMMAND_RUN piped =
        fit_in(folder, {"-O", "-o", "out.blif", std::string(MORV_SOURCE_DIR) + "/designs/pipeline.blif"}, gone_reader);
    ::close(pipe_fds[1]);
    EXPECT_EQ(piped.status, 0) << piped.out;
    std::map<std::string, std::string> left = files_under(folder);
    EXPECT_EQ(left["out.blif"].rfind(".model", 0), 0U);
    left.erase("out.blif");
    left.erase("fsyn_delays.txt");
    EXPECT_TRUE(left.empty()) << "left behind:" << differences({}, left);

    const std::vector<std::string> args = {"-O", "-o", "out.blif", "--stats", "st.csv", k_design};
    ASSERT_EQ(fit_in(folder, args).status, 0);
    for (const char* name : {"out.blif", "st.csv"}) write_file((folder / name).string(), "earlier\n");
    const std::map<std::string, std::string> before = files_under(folder);
    CHILD full_disk;
    full_disk.stdout_fd = ::open("/dev/full", O_WRONLY | O_CLOEXEC);
    ASSERT_GE(full_disk.stdout_fd, 0);
    for (const bool quiet : {true, false}) {
        full_disk.quiet = quiet;
        const COMMAND_RUN full = fit_in(folder, args, full_disk);
        EXPECT_EQ(full.status, 1) << full.out;
        EXPECT_EQ(count_of(full.out, "morv-fit: error: cannot write standard output: No space left on device"), 1)
            << full.out;
        EXPECT_TRUE(files_under(folder) == before) << quiet << ":" << differences(before, files_under(folder));
    }
    ::close(full_disk.stdout_fd);
    fs::remove_all(folder);
}

// A standard stream the caller closed (`2>&-`, `>&-`, all three) takes no
// output's place: what the compile says to it is lost, and the netlist that
// replaces the earlier one holds the netlist only, which reads back. The
// warning about a malformed delay file goes to standard error, the
// information lines and the table to standard output. A compile that fails
// with its errors going nowhere leaves the earlier outputs as they were.
TEST(MorvFitStoredFiles, AClosedStandardStreamTakesNoOutputsPlace)
{
    const fs::path folder = fs::absolute("stored_closed_stream");
    fs::remove_all(folder);
    fs::create_directories(folder);
    write_file((folder / "fsyn_delays.txt").string(), "garbage\n");
    const std::vector<std::string> args = {
        "-O", "--set", "fsyn_read_backannotated_delays=on", "-o", "out.blif", "--native", "out.txt", k_design};
    const struct
    {
        std::vector<int> closed;
        bool quiet;
        bool fails;
    } rows[] = {
        {{STDERR_FILENO}, true, false},
        {{STDOUT_FILENO}, false, false},
        {{STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}, false, false},
        // A replay log that is not there fails the compile.
        {{STDERR_FILENO}, false, true},
        {{STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}, false, true},
    };
    for (const auto& [closed, quiet, fails] : rows) {
        std::string row = fails ? "failing, closed" : "closed";
        for (const int fd : closed) row += " " + std::to_string(fd);
        for (const char* name : {"out.blif", "out.txt"}) write_file((folder / name).string(), "earlier\n");
        CHILD child;
        child.closed = closed;
        child.quiet = quiet;
        std::vector<std::string> row_args = args;
        if (fails) row_args.insert(row_args.begin(), {"--set", "661=gone.psl"});
        const COMMAND_RUN run = fit_in(folder, row_args, child);
        if (fails) {
            EXPECT_EQ(run.status, 1) << row << ": " << run.out;
            for (const char* name : {"out.blif", "out.txt"})
                EXPECT_EQ(slurp((folder / name).string()), "earlier\n") << row << ": " << name;
            continue;
        }
        EXPECT_EQ(run.status, 0) << row << ": " << run.out;
        const std::string netlist = slurp((folder / "out.blif").string());
        EXPECT_EQ(netlist.rfind(".model", 0), 0U) << row << ": " << netlist.substr(0, 200);
        EXPECT_EQ(slurp((folder / "out.txt").string()).rfind(CDB_NATIVE_FORMAT_WORD, 0), 0U) << row;
        const COMMAND_RUN back = fit_in(folder, {"-o", "back.blif", "out.blif"});
        EXPECT_EQ(back.status, 0) << row << ": " << back.out;
    }
    fs::remove_all(folder);
}

// The outputs and the change log replace the earlier ones together: a
// compile that records no log (a plain one on a recording device, one on a
// device without migration) removes the log of the compile before, saying
// so, and leaves no chunk; the log it replays is kept, which it says.
TEST(MorvFitStoredFiles, ACompileThatRecordsNoLogLeavesNoEarlierLog)
{
    const fs::path folder = fs::absolute("stored_stale_log");
    fs::remove_all(folder);
    fs::create_directories(folder);
    std::ofstream(folder / "device.txt") << "family 6\nmigratable_part 2400\n";
    const std::string log = (folder / "db" / "morv_fit.cmp.psl").string();
    const std::string pipeline = std::string(MORV_SOURCE_DIR) + "/designs/pipeline.blif";
    const std::vector<std::string> recording = {"-O", "--device", "device.txt", "-o", "out.blif", k_design};
    CHILD said;
    said.quiet = false;
    for (const std::vector<std::string>& unrecorded :
         {std::vector<std::string>{"--device", "device.txt", "-o", "out.blif", pipeline},
          std::vector<std::string>{"-O", "-o", "out.blif", pipeline}}) {
        ASSERT_EQ(fit_in(folder, recording).status, 0);
        ASSERT_TRUE(fs::exists(log));
        const COMMAND_RUN run = fit_in(folder, unrecorded, said);
        EXPECT_EQ(run.status, 0) << run.out;
        EXPECT_TRUE(has(run.out, "removed '" + log + "', the change log of an earlier compile")) << run.out;
        EXPECT_FALSE(fs::exists(log)) << unrecorded[0];
        EXPECT_FALSE(holds(folder / "db", "morv_fit", ".kas")) << unrecorded[0];
    }
    ASSERT_EQ(fit_in(folder, recording).status, 0);
    const std::string recorded = slurp(log);
    const COMMAND_RUN replay =
        fit_in(folder, {"--family", "MRL", "--set", "661=db/morv_fit.cmp.psl", "-o", "out.blif", k_design}, said);
    EXPECT_EQ(replay.status, 0) << replay.out;
    EXPECT_TRUE(has(replay.out, "it is the log the compile replayed")) << replay.out;
    EXPECT_EQ(slurp(log), recorded);
    fs::remove_all(folder);
}

// A folder of the compile's own files that takes no file (one without
// permission, or full) is named with the reason, with and without -O: never
// an internal error, and no file changed or left behind. So is each file of
// a saved state (the boundary ports a partition brings, the netlist, the
// hierarchy) whose name a folder takes, which is kept.
TEST(MorvFitStoredFiles, AnUnwritableAuxFolderIsNamed)
{
    const fs::path folder = fs::absolute("stored_unwritable");
    const fs::path aux = folder / "aux";
    fs::remove_all(folder);
    fs::create_directories(aux);
    std::ofstream(folder / "device.txt") << "family 6\nmigratable_part 2400\n";
    std::ofstream(folder / "parts.txt") << "partition_name=1 side\n";
    const auto args = [](bool optimize) {
        std::vector<std::string> a = migration_args("BRK");
        a.insert(a.begin(), {"--aux-dir", "aux"});
        if (optimize) a.insert(a.begin(), "-O");
        return a;
    };
    ASSERT_EQ(fit_in(folder, args(true)).status, 0);
    const std::map<std::string, std::string> before = files_under(folder);
    // The netlist's first saved state is the first file past 2 KB.
    const COMMAND_RUN full = fit_in(folder, args(true), {2048});
    EXPECT_EQ(full.status, 1) << full.out;
    EXPECT_TRUE(
        has(full.out, "cannot write file '" + (aux / "morv_atom_save_restore_netlist_p0_0.cdb").string() + "'") &&
        has(full.out, "File too large"))
        << full.out;
    EXPECT_TRUE(files_under(folder) == before) << differences(before, files_under(folder));

    std::vector<std::string> partitioned = args(true);
    partitioned.insert(partitioned.begin(), {"--settings", "parts.txt"});
    for (const char* saved :
         {"morv_morv_fit_p0_0", "morv_atom_save_restore_netlist_p0_0.cdb", "morv_atom_save_restore_hdb_p0_0.hdb"}) {
        fs::create_directory(aux / saved);
        const std::map<std::string, std::string> with_folder = files_under(folder);
        const COMMAND_RUN run = fit_in(folder, partitioned);
        EXPECT_EQ(run.status, 1) << run.out;
        EXPECT_TRUE(has(run.out, "cannot write file '" + (aux / saved).string() + "'") &&
                    has(run.out, "Is a directory"))
            << run.out;
        EXPECT_TRUE(files_under(folder) == with_folder)
            << saved << ":" << differences(with_folder, files_under(folder));
        fs::remove(aux / saved);
    }

    fs::permissions(aux, fs::perms::owner_write, fs::perm_options::remove);
    for (const bool optimize : {false, true}) {
        const COMMAND_RUN run = fit_in(folder, args(optimize), {0, true, true});
        if (run.status == k_cannot_drop_override) {
            fs::permissions(aux, fs::perms::owner_write, fs::perm_options::add);
            fs::remove_all(folder);
            GTEST_SKIP() << "root cannot give up writing past permissions here: no read-only folder to try";
        }
        EXPECT_EQ(run.status, 1) << run.out;
        EXPECT_TRUE(
            has(run.out, "cannot write in folder '" + aux.string() + "' of the compile's own files: Permission denied"))
            << run.out;
        EXPECT_TRUE(files_under(folder) == before) << differences(before, files_under(folder));
    }
    fs::permissions(aux, fs::perms::owner_write, fs::perm_options::add);
    fs::remove_all(folder);
}

}  // namespace stored_files_test
