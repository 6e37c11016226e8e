// The files a compile keeps (its change log, the delay file, the output
// netlist) are replaced only by complete ones: a write the file system
// refuses fails the compile with the file and the reason and leaves the
// earlier files as they were, with no temporary or chunk file behind. A
// change log with whole records dropped, moved, repeated or changed, or cut
// after a flow's end, is refused before anything is replayed.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "logdb/logdb_fsyn_log_file.h"
#include "logdb/logdb_record_stream.h"
#include "test_build.h"
#include "test_files.h"

namespace stored_files_test {

namespace {

namespace fs = std::filesystem;

const std::string k_design = std::string(MORV_SOURCE_DIR) + "/designs/counter.blif";

// morv-fit in `folder`, its files limited to `limit` bytes (0: no limit)
// with the limit's signal ignored, as on a full disk: writes past the limit
// fail with "File too large".
COMMAND_RUN fit_in(const fs::path& folder, std::vector<std::string> args, rlim_t limit = 0)
{
    args.insert(args.begin(), {MORV_FIT_BINARY, "-q"});
    int pipe_fds[2];
    if (::pipe(pipe_fds) != 0) return COMMAND_RUN();
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(pipe_fds[1], STDOUT_FILENO);
        ::dup2(pipe_fds[1], STDERR_FILENO);
        ::close(pipe_fds[0]);
        ::close(pipe_fds[1]);
        if (limit > 0) {
            const rlimit fsize{limit, limit};
            ::setrlimit(RLIMIT_FSIZE, &fsize);
            ::signal(SIGXFSZ, SIG_IGN);
        }
        if (::chdir(folder.c_str()) != 0) ::_exit(127);
        std::vector<char*> argv;
        for (std::string& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        ::execv(argv[0], argv.data());
        ::_exit(127);
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

// Every file under `folder` with its bytes.
std::map<std::string, std::string> files_under(const fs::path& folder)
{
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(folder))
        if (entry.is_regular_file()) files[fs::relative(entry.path(), folder).string()] = slurp(entry.path().string());
    return files;
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

// One compile per failing write: the change log (at a chunk or at the merge,
// by the limit), then with no log the delay file (a warning) and the netlist.
TEST(MorvFitStoredFiles, AFullDiskLeavesEveryEarlierFileAsItWas)
{
    const fs::path folder = fs::absolute("stored_full_disk");
    fs::remove_all(folder);
    fs::create_directories(folder);
    std::ofstream(folder / "device.txt") << "family 6\nmigratable_part 2400\n";
    const COMMAND_RUN good = fit_in(folder, migration_args("BRK"));
    ASSERT_EQ(good.status, 0) << good.out;
    const std::map<std::string, std::string> before = files_under(folder);
    ASSERT_EQ(before.count("db/morv_fit.cmp.psl"), 1U);
    ASSERT_EQ(before.count("fsyn_delays.txt"), 1U);
    ASSERT_EQ(before.count("out.blif"), 1U);
    const rlim_t log_size = before.at("db/morv_fit.cmp.psl").size();

    for (const rlim_t limit : {rlim_t{64}, rlim_t{1024}, log_size / 2, log_size - 1}) {
        const COMMAND_RUN full = fit_in(folder, migration_args("BRK"), limit);
        EXPECT_EQ(full.status, 1) << limit << ": " << full.out;
        EXPECT_TRUE(has(full.out, "File too large")) << full.out;
        EXPECT_TRUE(has(full.out, "cannot write file 'db/morv_fit")) << full.out;
        EXPECT_TRUE(files_under(folder) == before) << "limit " << limit << ": files changed or left behind";
    }

    // A temporary that a killed compile left is cleared by the next writer.
    std::ofstream(folder / "out.blif.tmp.k1LLed") << "partial";
    const rlim_t small = std::min(before.at("fsyn_delays.txt").size(), before.at("out.blif").size()) / 2;
    const std::vector<std::string> plain = {"--family", "BRK", "-o", "out.blif", k_design};
    const COMMAND_RUN full = fit_in(folder, plain, small);
    EXPECT_EQ(full.status, 1) << full.out;
    EXPECT_TRUE(has(full.out, "WMORV_FSYN_DELAY_FILE_NOT_WRITTEN")) << full.out;
    EXPECT_TRUE(has(full.out, "fsyn_delays.txt': File too large")) << full.out;
    EXPECT_TRUE(has(full.out, "out.blif': File too large")) << full.out;
    EXPECT_TRUE(files_under(folder) == before) << "files changed or left behind";
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

}  // namespace stored_files_test
