// What morv-fit tells the user, and where: errors and warnings on the error
// stream whatever -q says, the exit status saying whether the run did what
// was asked, and nothing left in the caller's folder.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "test_files.h"

namespace exit_status_test {

namespace {

struct RUN
{
    int status = -1;
    std::string out, err;
};

// Runs the program in `folder` with the two streams kept apart.
RUN run_in(const std::string& folder, const std::string& args)
{
    const std::string err_file = std::filesystem::absolute("exit_status.err").string();
    const std::string cmd =
        "cd '" + folder + "' && " + std::string(MORV_FIT_BINARY) + " " + args + " 2>'" + err_file + "'";
    const COMMAND_RUN c = run_command(cmd);
    RUN r;
    r.out = c.out;
    r.status = c.status;
    r.err = slurp(err_file);
    std::remove(err_file.c_str());
    return r;
}

RUN run(const std::string& args)
{
    return run_in(".", args);
}

const std::string k_counter = std::string(MORV_SOURCE_DIR) + "/designs/counter.blif";

TEST(MorvFitExitStatus, RejectedTestStringsFailTheRunQuietOrNot)
{
    // A word without '=' would be dropped, and a value running past the
    // closing ')' misread, without a word: both are refused as well, as are
    // text values no reader knows, a script that is not there and a BEST
    // restore with nothing saved before it.
    const char* rejected[] = {"REMU()",
                              "TEST()|REMU()",
                              "TEST()x",
                              "TEST(NP=1",
                              ";TEST()",
                              "a()|b()|c()|d()|e()",
                              "TEST(A)",
                              "TEST(NP=(1))",
                              "RTM(ALG=GREDY)",
                              "RWR(ALG=NOSUCH)|",
                              "RESPLIT(AGG=NOSUCH)",
                              "UTIL(DUMP_TIMING=banana)",
                              "MANUAL(FILE=/nonexistent/x)",
                              "SAVE_RESTORE(BEST=1)|"};
    for (const char* quiet : {"-q ", ""}) {
        for (const char* test_string : rejected) {
            std::filesystem::remove("rejected.blif");
            const RUN r = run(std::string(quiet) + "--test-string '" + test_string + "' -o rejected.blif " + k_counter);
            EXPECT_EQ(r.status, 1) << quiet << test_string << "\n" << r.out << r.err;
            EXPECT_NE(r.err.find("Error (EMORV_FSYN_MALFORMED_TEST_STRING)"), std::string::npos) << test_string;
            EXPECT_NE(r.err.find("malformed at character"), std::string::npos) << test_string;
            EXPECT_EQ(r.out.find("Error"), std::string::npos) << "errors go to the error stream";
            EXPECT_FALSE(std::filesystem::exists("rejected.blif")) << test_string;
        }
    }
}

TEST(MorvFitExitStatus, TheGrammarsAcceptedFormsRun)
{
    for (const char* test_string : {"TEST()", " TEST ( NP=1 ) ; TEST() |TEST();", "TEST( NP = 1 : NI=2 )|"}) {
        const RUN r = run(std::string("-q --test-string '") + test_string + "' -o accepted.blif " + k_counter);
        EXPECT_EQ(r.status, 0) << test_string << "\n" << r.err;
        EXPECT_EQ(r.err, "") << test_string;
    }
}

TEST(MorvFitExitStatus, AnErrorPostedDuringTheCompileFailsTheRun)
{
    // A migration log to replay that is not there: the early flow posts the
    // error when it looks for the file.
    const RUN r = run("-q --set 661=missing_log.psl -o replay.blif " + k_counter);
    EXPECT_EQ(r.status, 1) << r.out << r.err;
    EXPECT_NE(r.err.find("EMORV_FSYN_LOG_FILE_NOT_PRESENT"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("no output is written"), std::string::npos) << r.err;
    EXPECT_FALSE(std::filesystem::exists("replay.blif"));
    // The message names the file looked for, in the compile's folder.
    const std::string tried = (std::filesystem::current_path() / "missing_log.psl").string();
    EXPECT_NE(r.err.find("no file " + tried + " (a relative name is taken from the compile's folder"),
              std::string::npos)
        << r.err;
    // A replay asked for without a file is not a compile without one.
    const RUN empty = run("-q --set 661= -o replay.blif " + k_counter);
    EXPECT_EQ(empty.status, 1) << empty.out << empty.err;
    EXPECT_NE(empty.err.find("setting 661 names no file"), std::string::npos) << empty.err;
    EXPECT_FALSE(std::filesystem::exists("replay.blif"));
}

TEST(MorvFitExitStatus, WarningsReachTheUserUnderQuietAndTheRunSucceeds)
{
    // A damaged delay file is ignored with a warning, also where the
    // estimator times the early flow (the default family's default).
    const std::string folder = "warned_aux";
    std::filesystem::remove_all(folder);
    std::filesystem::create_directory(folder);
    std::ofstream(folder + "/fsyn_delays.txt") << "not a delay record\n";
    const RUN r = run("-q --test-string 'TEST()|TEST()'"
                      " --set fsyn_read_backannotated_delays=on --aux-dir " +
                      folder + " -o warned.blif " + k_counter);
    std::filesystem::remove_all(folder);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("Warning (WMORV_FSYN_MALFORMED_DELAY_FILE)"), std::string::npos) << r.err;
    EXPECT_EQ(r.out.find("Warning"), std::string::npos);
    EXPECT_EQ(r.out.find("Info ("), std::string::npos) << "-q hides information";
}

TEST(MorvFitExitStatus, ARunLeavesTheCallersFolderAsItWas)
{
    const std::filesystem::path folder = std::filesystem::absolute("empty_caller");
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder);
    const RUN r = run_in(folder.string(), "-q --test-string 'TEST()|TEST()' -o sub/out.blif " + k_counter);
    ASSERT_EQ(r.status, 0) << r.err;
    std::vector<std::string> left;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) left.push_back(entry.path().filename());
    EXPECT_EQ(left, std::vector<std::string>{"sub"});
    EXPECT_TRUE(std::filesystem::exists(folder / "sub" / "out.blif"));
    EXPECT_TRUE(std::filesystem::exists(folder / "sub" / "fsyn_delays.txt")) << "the compile's files beside its output";

    // A folder named for them takes the compile's files instead.
    const RUN named = run_in(folder.string(), "-q --aux-dir aux -o sub/out2.blif " + k_counter);
    ASSERT_EQ(named.status, 0) << named.err;
    EXPECT_TRUE(std::filesystem::exists(folder / "aux" / "fsyn_delays.txt"));
    EXPECT_EQ(run_in(folder.string(), "-q --aux-dir '' " + k_counter).status, 1);
    // A file in the way of the folder is an error naming it.
    std::ofstream(folder / "blocked") << "x";
    const RUN blocked = run_in(folder.string(), "-q --aux-dir blocked " + k_counter);
    EXPECT_EQ(blocked.status, 1);
    EXPECT_NE(blocked.err.find("blocked"), std::string::npos) << blocked.err;
}

// Two compiles in one folder would restore each other's saved netlists; the
// second is refused before it writes anything, and the folder is free again
// once the first is done.
TEST(MorvFitExitStatus, ACompileFolderInUseIsRefusedUntilItIsFree)
{
    const std::filesystem::path folder = std::filesystem::absolute("busy_folder");
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder);
    std::ofstream(folder / "out.blif") << "kept";
    const int held = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY);
    ASSERT_GE(held, 0);
    ASSERT_EQ(::flock(held, LOCK_EX | LOCK_NB), 0);

    const std::string args = "-q --aux-dir . -o out.blif " + k_counter;
    const RUN refused = run_in(folder.string(), args);
    EXPECT_EQ(refused.status, 1);
    EXPECT_NE(refused.err.find(folder.string()), std::string::npos) << refused.err;
    EXPECT_NE(refused.err.find("is in use by another compile"), std::string::npos) << refused.err;
    EXPECT_EQ(slurp((folder / "out.blif").string()), "kept");
    EXPECT_FALSE(std::filesystem::exists(folder / "fsyn_delays.txt"));

    ::close(held);
    const RUN freed = run_in(folder.string(), args);
    EXPECT_EQ(freed.status, 0) << freed.err;
    EXPECT_NE(slurp((folder / "out.blif").string()), "kept");
}

}  // namespace

}  // namespace exit_status_test
