#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "fio/fio.h"

namespace fio_test {

TEST(FioTest, ExistsAndRemoveIfExists)
{
    FIO_PATH path("fio_test_file.txt");
    FIO_FILE_SYSTEM::remove_if_exists(path);
    EXPECT_FALSE(FIO_FILE_SYSTEM::exists(path));
    EXPECT_FALSE(FIO_FILE_SYSTEM::remove_if_exists(path));
    std::ofstream("fio_test_file.txt") << "x";
    EXPECT_TRUE(FIO_FILE_SYSTEM::exists(path));
    EXPECT_TRUE(FIO_FILE_SYSTEM::remove_if_exists(path));
    EXPECT_FALSE(FIO_FILE_SYSTEM::exists(path));
    // An empty folder under the name stays.
    std::filesystem::create_directory("fio_test_file.txt");
    EXPECT_FALSE(FIO_FILE_SYSTEM::remove_if_exists(path));
    EXPECT_TRUE(std::filesystem::is_directory("fio_test_file.txt"));
    std::filesystem::remove("fio_test_file.txt");
}

TEST(FioTest, FullpathIsAbsoluteAndNormal)
{
    FIO_PATH p("a/../b/./c.txt");
    std::filesystem::path full(p.fullpath());
    EXPECT_TRUE(full.is_absolute());
    EXPECT_EQ(full, (std::filesystem::current_path() / "b/c.txt").lexically_normal());
    EXPECT_EQ((FIO_PATH("db") / FIO_PATH("x.psl")).str(), "db/x.psl");
}

// A file the caller cannot open for writing is reported with its name and
// the reason; appending keeps what is there, the plain open replaces it.
TEST(FioTest, OpenersForWritingNameTheFileTheyCannotOpen)
{
    std::filesystem::create_directory("fio_blocked.txt");
    std::ofstream stream;
    try {
        fio_open_for_writing(stream, FIO_PATH("fio_blocked.txt"), true);
        FAIL() << "a folder opened as a file";
    } catch (const FIO_WRITE_ERROR& e) {
        EXPECT_EQ(e.get_path(), "fio_blocked.txt");
        EXPECT_EQ(std::string(e.what()).rfind("cannot write file 'fio_blocked.txt': ", 0), 0u) << e.what();
    }
    EXPECT_THROW(fio_fopen_for_writing(FIO_PATH("fio_blocked.txt")), FIO_WRITE_ERROR);
    std::filesystem::remove("fio_blocked.txt");

    fio_open_for_writing(stream, FIO_PATH("fio_written.txt"), false);
    stream << "first\n";
    stream.close();
    fio_open_for_writing(stream, FIO_PATH("fio_written.txt"), true);
    stream << "second\n";
    stream.close();
    std::FILE* file = fio_fopen_for_writing(FIO_PATH("fio_replaced.txt"));
    std::fputs("only\n", file);
    std::fclose(file);
    std::ifstream appended("fio_written.txt");
    std::string a, b;
    std::getline(appended, a);
    std::getline(appended, b);
    EXPECT_EQ(a + "," + b, "first,second");
    fio_open_for_writing(stream, FIO_PATH("fio_written.txt"), false);
    stream.close();
    EXPECT_EQ(std::filesystem::file_size("fio_written.txt"), 0u);
    std::filesystem::remove("fio_written.txt");
    std::filesystem::remove("fio_replaced.txt");
}

// Only regular files are read: a device or a named pipe in their place would
// read for ever or wait for a writer that never comes, so each is refused at
// once, named by its kind.
TEST(FioTest, OnlyRegularFilesAreRead)
{
    ::mkfifo("fio_pipe", 0600);
    std::filesystem::create_directory("fio_folder");
    const std::pair<const char*, const char*> refused[] = {
        {"fio_pipe", "is a named pipe, not a regular file"},
        {"/dev/zero", "is a device, not a regular file"},
        {"/dev/null", "is a device, not a regular file"},
        {"fio_folder", "is a folder, not a file"},
        {"fio_absent.txt", "cannot open: No such file or directory"},
    };
    for (const auto& [path, why] : refused) {
        std::string text = "old", error;
        EXPECT_FALSE(fio_read_user_file(path, text, error)) << path;
        EXPECT_EQ(error, why) << path;
        EXPECT_TRUE(text.empty()) << path;
        error.clear();
        EXPECT_FALSE(fio_read_stored_file(path, text, error)) << path;
        EXPECT_EQ(error, why) << path;
        error.clear();
        EXPECT_FALSE(fio_check_user_file(path, error)) << path;
        EXPECT_EQ(error, why) << path;
    }
    std::ofstream("fio_plain.txt") << "a\nb\n";
    std::string text, error;
    EXPECT_TRUE(fio_check_user_file("fio_plain.txt", error)) << error;
    ASSERT_TRUE(fio_read_user_file("fio_plain.txt", text, error)) << error;
    EXPECT_EQ(text, "a\nb\n");
    // A link to a regular file is that file.
    std::error_code ec;
    std::filesystem::create_symlink("fio_plain.txt", "fio_link.txt", ec);
    ASSERT_TRUE(fio_read_user_file("fio_link.txt", text, error)) << error;
    EXPECT_EQ(text, "a\nb\n");
}

// A NUL byte ends a text read where it stands, naming its line by every kind
// of line end; a stored binary file keeps every byte.
TEST(FioTest, NulBytesEndATextReadAtTheirLine)
{
    using namespace std::string_literals;
    const std::pair<std::string, int> cases[] = {
        {"\0abc\n"s, 1},
        {"a\nb\nc\0\n"s, 3},
        {"a\r\nb\r\n\0"s, 3},
        {"a\rb\rc\rd\0"s, 4},
        {"a\r\0\n"s, 2},
        {"a\n\n\n\0"s, 4},
        {std::string(70000, 'x') + "\n\n\0"s, 3},
        {std::string(65535, 'y') + "\r\n\0"s, 2},
    };
    for (const auto& [bytes, line] : cases) {
        std::ofstream("fio_nul.txt", std::ios::binary) << bytes;
        std::string text = "old", error;
        int nul_line = -1;
        EXPECT_FALSE(fio_read_user_file("fio_nul.txt", text, error, &nul_line));
        EXPECT_EQ(nul_line, line) << error;
        EXPECT_EQ(error, "NUL byte in line " + std::to_string(line) + " (is this a text file?)");
        EXPECT_TRUE(text.empty());
        ASSERT_TRUE(fio_read_stored_file("fio_nul.txt", text, error)) << error;
        EXPECT_EQ(text, bytes);
    }
    int nul_line = -1;
    std::string text, error;
    // A line longer than any text's is refused where it passes the limit,
    // as a NUL byte is; a line of just that length is text.
    const std::string longest(FIO_MAX_LINE_BYTES, 'x');
    const std::pair<std::string, int> long_lines[] = {
        {longest + "y", 1}, {"a\r\n" + longest + "\r\nb", 0}, {"a\rb\n" + longest + "yz\n", 3}};
    for (const auto& [bytes, line] : long_lines) {
        std::ofstream("fio_long.txt", std::ios::binary) << bytes;
        EXPECT_EQ(fio_read_user_file("fio_long.txt", text, error, &nul_line), line == 0) << line;
        EXPECT_EQ(nul_line, line);
        if (line > 0) {
            EXPECT_EQ(error, "line " + std::to_string(line) + " is longer than 16 MiB (is this a text file?)");
            EXPECT_TRUE(text.empty());
        }
    }
    std::filesystem::remove("fio_long.txt");
    // A file that states terabytes it has not got costs no memory for them:
    // its text is refused at the first NUL byte, at once.
    std::ofstream("fio_sparse.txt", std::ios::binary) << "a\nb";
    std::filesystem::resize_file("fio_sparse.txt", std::uintmax_t(8) << 40);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(fio_read_user_file("fio_sparse.txt", text, error, &nul_line));
    EXPECT_EQ(error, "NUL byte in line 2 (is this a text file?)");
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    std::filesystem::remove("fio_sparse.txt");
    std::ofstream("fio_nul.txt", std::ios::binary) << "no nul\n";
    EXPECT_TRUE(fio_read_user_file("fio_nul.txt", text, error, &nul_line));
    EXPECT_EQ(nul_line, 0);
    EXPECT_FALSE(fio_read_user_file("/dev/zero", text, error, &nul_line));
    EXPECT_EQ(nul_line, 0);
}

namespace {

// The wait status of a child that ran `body` and then ended with `code`.
template <typename BODY>
int in_child(BODY body, int code = 0)
{
    const pid_t pid = ::fork();
    if (pid == 0) {
        body();
        ::_exit(code);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return status;
}

}  // namespace

// A standard stream the caller closed is opened on the null device, so that
// nothing opened later takes its number; an open one stays as it was. One
// that cannot be opened so fails the call.
TEST(FioTest, ClosedStandardStreamsOpenOnTheNullDevice)
{
    struct stat null_device;
    ASSERT_EQ(::stat("/dev/null", &null_device), 0);
    std::ofstream("fio_stream.txt") << "x";
    const std::vector<std::vector<int>> rows = {{}, {0}, {1}, {2}, {1, 2}, {0, 1, 2}};
    for (const std::vector<int>& closed : rows) {
        const int status = in_child([&closed, &null_device] {
            struct stat before[3];
            for (int fd = 0; fd < 3; ++fd) {
                // Open, and not the null device, unless closed below.
                if (::dup2(fd < 2 ? ::open("fio_stream.txt", O_RDONLY) : ::open("fio_stream.txt", O_WRONLY), fd) != fd)
                    ::_exit(10);
                ::fstat(fd, &before[fd]);
            }
            for (const int fd : closed) ::close(fd);
            // As a failed call before it may leave.
            errno = EBADF;
            if (!fio_open_closed_standard_streams()) ::_exit(11);
            for (int fd = 0; fd < 3; ++fd) {
                struct stat now;
                const bool was_closed = std::find(closed.begin(), closed.end(), fd) != closed.end();
                const struct stat& expected = was_closed ? null_device : before[fd];
                if (::fstat(fd, &now) != 0 || now.st_ino != expected.st_ino || now.st_dev != expected.st_dev)
                    ::_exit(20 + fd);
            }
        });
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
            << closed.size() << " closed: exit status " << (WIFEXITED(status) ? WEXITSTATUS(status) : -1);
    }
    // No number left to open the null device on: said, not passed over.
    const int status = in_child([] {
        const rlimit one{1, 1};
        ::setrlimit(RLIMIT_NOFILE, &one);
        ::close(STDOUT_FILENO);
        ::_exit(fio_open_closed_standard_streams() ? 1 : 0);
    });
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    std::filesystem::remove("fio_stream.txt");
}

// A link is written through: the file it names is replaced, or made when it
// is not there yet, along any chain of links, and the links stay links. A
// loop of links is refused before anything is written, with the system's words.
TEST(FioTest, ReplacingFilesWriteThroughLinks)
{
    namespace fs = std::filesystem;
    fs::create_directories("fio_links/sub");
    fs::create_symlink("sub/made.txt", "fio_links/dangling");
    fs::create_symlink("dangling", "fio_links/chain");
    fs::create_symlink(fs::absolute("fio_links/sub/kept.txt"), "fio_links/absolute");
    std::ofstream("fio_links/sub/kept.txt") << "earlier\n";
    fs::create_symlink("loop_b", "fio_links/loop_a");
    fs::create_symlink("loop_a", "fio_links/loop_b");
    const std::pair<const char*, const char*> written[] = {
        {"fio_links/dangling", "fio_links/sub/made.txt"},
        {"fio_links/chain", "fio_links/sub/made.txt"},
        {"fio_links/absolute", "fio_links/sub/kept.txt"},
    };
    for (const auto& [link, file] : written) {
        FIO_REPLACING_FILE out;
        std::string error;
        ASSERT_TRUE(out.open(link, error)) << link << ": " << error;
        out.stream() << link << "\n";
        ASSERT_TRUE(out.commit(error)) << link << ": " << error;
        std::ifstream in(file);
        std::string text;
        std::getline(in, text);
        EXPECT_EQ(text, link);
        EXPECT_TRUE(fs::is_symlink(link)) << link;
    }
    for (const char* loop : {"fio_links/loop_a", "fio_links/loop_b"}) {
        FIO_REPLACING_FILE out;
        std::string error;
        EXPECT_FALSE(out.open(loop, error)) << loop;
        EXPECT_EQ(error, "cannot write '" + std::string(loop) + "': Too many levels of symbolic links");
        EXPECT_TRUE(fs::is_symlink(loop));
    }
    EXPECT_EQ(std::distance(fs::directory_iterator("fio_links"), fs::directory_iterator()), 6);
    EXPECT_EQ(std::distance(fs::directory_iterator("fio_links/sub"), fs::directory_iterator()), 2);
    fs::remove_all("fio_links");
}

// Any name the file system takes can be replaced: the temporary beside it
// is kept to the longest name there is, and one a killed writer left is
// cleared as for a short name.
TEST(FioTest, TheLongestNameIsReplaced)
{
    namespace fs = std::filesystem;
    fs::create_directories("fio_names");
    for (const std::size_t length : {std::size_t(240), std::size_t(245), std::size_t(255)}) {
        const std::string name = std::string(length - 4, 'n') + ".txt";
        // 255 letters at most, 11 of them ".tmp.XXXXXX".
        std::ofstream("fio_names/" + name.substr(0, 244) + ".tmp.k1LLed") << "partial";
        FIO_REPLACING_FILE out;
        std::string error;
        ASSERT_TRUE(out.open("fio_names/" + name, error)) << length << ": " << error;
        out.stream() << length;
        ASSERT_TRUE(out.commit(error)) << length << ": " << error;
        std::vector<std::string> left;
        for (const auto& entry : fs::directory_iterator("fio_names")) left.push_back(entry.path().filename());
        EXPECT_EQ(left, std::vector<std::string>{name}) << length;
        fs::remove("fio_names/" + name);
    }
    fs::remove_all("fio_names");
}

// Each signal that ends a process from outside takes the files and folders
// named for it first (a folder once it is empty), then ends the process as
// the signal does. A signal the caller ignores stays ignored.
TEST(FioTest, EveryEndingSignalRemovesTheNamedFiles)
{
    namespace fs = std::filesystem;
    const rlimit no_core{0, 0};
    std::vector<int> signals = {SIGHUP,  SIGINT,  SIGQUIT, SIGTERM, SIGUSR1,   SIGUSR2,  SIGALRM, SIGVTALRM,
                                SIGPROF, SIGXCPU, SIGIO,   SIGPWR,  SIGSTKFLT, SIGRTMIN, SIGRTMAX};
    for (const int signal_number : signals) {
        fs::create_directories("fio_signal/made/deeper");
        std::ofstream("fio_signal/made/deeper/a.tmp") << "a";
        std::ofstream("fio_signal/b.tmp") << "b";
        std::ofstream("fio_signal/kept.txt") << "kept";
        const int status = in_child([&] {
            ::setrlimit(RLIMIT_CORE, &no_core);
            fio_install_interrupt_cleanup();
            for (const char* name : {"fio_signal/made", "fio_signal/made/deeper", "fio_signal/made/deeper/a.tmp",
                                     "fio_signal/b.tmp", "fio_signal/never_made"})
                fio_remove_on_interrupt(name);
            ::raise(signal_number);
        });
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal_number)
            << ::strsignal(signal_number) << ": wait status " << status;
        EXPECT_FALSE(fs::exists("fio_signal/made")) << ::strsignal(signal_number);
        EXPECT_FALSE(fs::exists("fio_signal/b.tmp")) << ::strsignal(signal_number);
        EXPECT_TRUE(fs::exists("fio_signal/kept.txt")) << ::strsignal(signal_number);
        fs::remove_all("fio_signal");
    }
    // Ignored by the caller, as nohup does.
    std::ofstream("fio_ignored.tmp") << "x";
    const int status = in_child(
        [] {
            ::signal(SIGHUP, SIG_IGN);
            fio_install_interrupt_cleanup();
            fio_remove_on_interrupt("fio_ignored.tmp");
            ::raise(SIGHUP);
        },
        7);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 7) << status;
    EXPECT_TRUE(fs::exists("fio_ignored.tmp"));
    fs::remove("fio_ignored.tmp");
}

// A name the run lets go of (forgotten, or a temporary committed or
// discarded) frees its slot, also behind one still held: far more names
// than there are slots come and go, and the next name still goes on an
// interrupt, while a file made again under a released name is no longer
// the run's and stays. A temporary is committed once, and only when made.
TEST(FioTest, ReleasedNamesFreeTheirSlotsAndStay)
{
    namespace fs = std::filesystem;
    enum class RELEASE
    {
        FORGOTTEN,
        COMMITTED,
        DISCARDED
    };
    const char* const names[] = {"forgotten", "committed", "discarded"};
    for (const RELEASE release : {RELEASE::FORGOTTEN, RELEASE::COMMITTED, RELEASE::DISCARDED}) {
        const char* const row = names[static_cast<int>(release)];
        fs::create_directories("fio_slots");
        std::ofstream("fio_slots/late.tmp") << "late";
        const int status = in_child([release] {
            fio_install_interrupt_cleanup();
            // Held all along, ahead of every slot released below.
            std::ofstream("fio_slots/held.tmp") << "held";
            fio_remove_on_interrupt("fio_slots/held.tmp");
            std::string released = "fio_slots/forgotten.tmp";
            for (int i = 0; i < 300; ++i) {
                FIO_TEMP_FILE temp;
                std::string error;
                if (release == RELEASE::FORGOTTEN) {
                    fio_remove_on_interrupt(released);
                    fio_forget_on_interrupt(released);
                    continue;
                }
                if (!temp.create("fio_slots/out", error)) ::_exit(3);
                released = temp.get_name();
                if (release == RELEASE::COMMITTED && !temp.commit("fio_slots/out", error)) ::_exit(4);
                if (release == RELEASE::DISCARDED) temp.discard();
            }
            std::ofstream(released) << "someone else's";
            fio_remove_on_interrupt("fio_slots/late.tmp");
            ::raise(SIGTERM);
        });
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) << row << ": wait status " << status;
        std::vector<std::string> left;
        for (const auto& entry : fs::directory_iterator("fio_slots")) left.push_back(entry.path().filename());
        std::sort(left.begin(), left.end());
        const std::string kept = release == RELEASE::FORGOTTEN ? "forgotten.tmp" : "out.tmp.";
        ASSERT_EQ(left.size(), release == RELEASE::COMMITTED ? 2U : 1U)
            << row << ": " << ::testing::PrintToString(left);
        EXPECT_EQ(left.back().rfind(kept, 0), 0U) << row << ": " << left.back();
        if (release == RELEASE::COMMITTED) {
            EXPECT_EQ(left.front(), "out") << row;
        }
        fs::remove_all("fio_slots");
    }
    FIO_TEMP_FILE never_made;
    std::string error;
    EXPECT_FALSE(never_made.commit("fio_never_made", error));
    EXPECT_EQ(error, "no file is open");
    FIO_TEMP_FILE made;
    ASSERT_TRUE(made.create("fio_made", error)) << error;
    ASSERT_TRUE(made.commit("fio_made", error)) << error;
    EXPECT_FALSE(made.commit("fio_made_again", error));
    EXPECT_FALSE(fs::exists("fio_never_made"));
    EXPECT_FALSE(fs::exists("fio_made_again"));
    fs::remove("fio_made");
}

// An interrupt may come at any moment: while a name is let go of among
// many held ones, or while a temporary is made or committed. Whatever it
// comes upon, every held file and every temporary goes with it. Short runs
// of each, each ended at a random moment.
TEST(FioTest, AnInterruptAtAnyMomentLeavesNothingBehind)
{
    namespace fs = std::filesystem;
    struct ROW
    {
        const char* what;
        int held;
        int rounds;
        void (*step)(int);
    };
    // Absolute, so that a let-go spends its time among the held names
    // rather than asking for the working folder.
    static const std::string stem = fs::absolute("fio_race").string() + "/held_";
    const ROW rows[] = {
        // The name is looked for among all the held ones.
        {"names let go of", 120, 16, [](int) { fio_forget_on_interrupt(stem + "let_go"); }},
        {"temporaries made", 4, 12,
         [](int i) {
             FIO_TEMP_FILE temp;
             std::string error;
             if (!temp.create("fio_race/out", error)) ::_exit(3);
             if (i % 2 == 0 && !temp.commit("fio_race/out", error)) ::_exit(4);
         }},
    };
    std::mt19937 random(106);
    std::uniform_int_distribution<int> moment_us(0, 2000);
    for (const ROW& row : rows) {
        int left_behind = 0;
        std::string example;
        for (int round = 0; round < row.rounds; ++round) {
            fs::create_directories("fio_race");
            for (int k = 0; k < row.held; ++k) std::ofstream(stem + std::to_string(k));
            int ready[2];
            ASSERT_EQ(::pipe(ready), 0);
            const pid_t pid = ::fork();
            if (pid == 0) {
                fio_install_interrupt_cleanup();
                for (int k = 0; k < row.held; ++k) fio_remove_on_interrupt(stem + std::to_string(k));
                const char byte = 1;
                if (::write(ready[1], &byte, 1) != 1) ::_exit(5);
                for (int i = 0;; ++i) row.step(i);
            }
            char byte = 0;
            const ssize_t started = ::read(ready[0], &byte, 1);
            ::close(ready[0]);
            ::close(ready[1]);
            ::usleep(static_cast<useconds_t>(moment_us(random)));
            ::kill(pid, SIGTERM);
            int status = 0;
            for (int waited_ms = 0; ::waitpid(pid, &status, WNOHANG) == 0; ++waited_ms) {
                // Held back for ever: a fault, not a wait.
                if (waited_ms == 5000) ::kill(pid, SIGKILL);
                ::usleep(1000);
            }
            ASSERT_TRUE(started == 1 && WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM)
                << row.what << ": wait status " << status;
            for (const auto& entry : fs::directory_iterator("fio_race")) {
                if (entry.path().filename() == "out") continue;
                ++left_behind;
                example = entry.path().filename().string().substr(0, 20);
            }
            fs::remove_all("fio_race");
        }
        EXPECT_EQ(left_behind, 0) << row.what << ", for example " << example;
    }
}

}  // namespace fio_test
