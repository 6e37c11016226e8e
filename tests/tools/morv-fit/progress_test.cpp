// Progress lines: on a terminal one line per flow point and algorithm run,
// rewritten in place while it runs; none with -q, and none when the output
// goes to a file or a pipe. The terminal is a pseudo-terminal.
#include <gtest/gtest.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "test_files.h"

namespace progress_test {

namespace {

const std::string k_design = std::string(MORV_SOURCE_DIR) + "/designs/adder_tree.blif";

struct TERMINAL_RUN
{
    int status = -1;
    std::string out;  // everything written to the terminal
};

// Runs morv-fit with its standard streams on a new pseudo-terminal; with
// `stdout_to` its standard output goes to that file instead.
TERMINAL_RUN run_on_terminal(const std::vector<std::string>& args, const std::string& stdout_to = "")
{
    TERMINAL_RUN run;
    int master = -1;
    const pid_t pid = forkpty(&master, nullptr, nullptr, nullptr);
    if (pid < 0) return run;
    if (pid == 0) {
        if (!stdout_to.empty() && freopen(stdout_to.c_str(), "w", stdout) == nullptr) _exit(126);
        std::vector<char*> argv;
        argv.push_back(const_cast<char*>(MORV_FIT_BINARY));
        for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(MORV_FIT_BINARY, argv.data());
        _exit(127);
    }
    char buffer[4096];
    for (;;) {
        const ssize_t n = read(master, buffer, sizeof buffer);
        if (n > 0) run.out.append(buffer, static_cast<size_t>(n));
        else if (n < 0 && errno == EINTR) continue;
        else break;  // EIO once the child has closed the terminal
    }
    close(master);
    int status = 0;
    if (waitpid(pid, &status, 0) == pid && WIFEXITED(status)) run.status = WEXITSTATUS(status);
    return run;
}

// Lines as the terminal keeps them: a carriage return starts the line anew.
std::vector<std::string> screen_lines(const std::string& out)
{
    std::vector<std::string> lines;
    std::string line;
    for (size_t i = 0; i < out.size(); ++i) {
        const char c = out[i];
        if (c == '\r') {
            if (i + 1 < out.size() && out[i + 1] == '\n') continue;  // the terminal's CR LF
            line.clear();
        } else if (c == '\n') {
            lines.push_back(line);
            line.clear();
        } else if (c == '\033') {
            while (i < out.size() && out[i] != 'K') ++i;  // erase to the end of the line
        } else {
            line += c;
        }
    }
    if (!line.empty()) lines.push_back(line);
    return lines;
}

int count_containing(const std::vector<std::string>& lines, const std::string& part)
{
    int n = 0;
    for (const std::string& l : lines) n += l.find(part) != std::string::npos ? 1 : 0;
    return n;
}

// Rows of algorithm runs in the summary table: indented under their flow point.
int algorithm_rows(const std::vector<std::string>& lines)
{
    int n = 0;
    bool inside = false;
    for (const std::string& l : lines) {
        if (!inside) {
            inside = l.size() > 50 && l.find_first_not_of('-') == std::string::npos;
            continue;
        }
        if (l.empty()) break;
        n += l.rfind("  ", 0) == 0 ? 1 : 0;
    }
    return n;
}

TEST(MorvFitProgress, OneLinePerAlgorithmRunOnATerminal)
{
    const TERMINAL_RUN r = run_on_terminal({"--optimize", "-o", "tty.blif", k_design});
    ASSERT_EQ(r.status, 0) << r.out;
    const std::vector<std::string> lines = screen_lines(r.out);
    const int finished = count_containing(lines, "  done in ");
    EXPECT_GT(finished, 0) << r.out;
    // Each run of the table left exactly one finished line on the screen.
    EXPECT_EQ(finished, algorithm_rows(lines)) << r.out;
    for (const std::string& l : lines)
        if (l.find("  done in ") != std::string::npos) {
            EXPECT_EQ(l.rfind("morv-fit: ", 0), 0u) << l;
            EXPECT_NE(l.find(" pass "), std::string::npos) << l;
        }
    // While a run goes, its line shows the iteration as well.
    EXPECT_NE(r.out.find(", iteration "), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("morv-fit: LATE  "), std::string::npos) << r.out;
}

TEST(MorvFitProgress, NoLinesWhenQuietOrNotOnATerminal)
{
    TERMINAL_RUN r = run_on_terminal({"-q", "--optimize", "-o", "quiet.blif", k_design});
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(r.out.find(" pass "), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("back-annotation"), std::string::npos) << r.out;

    // Standard output into a file, errors still on the terminal.
    r = run_on_terminal({"--optimize", "-o", "file.blif", k_design}, "file_out.txt");
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(r.out.find(" pass "), std::string::npos) << r.out;
    EXPECT_EQ(slurp("file_out.txt").find(" pass "), std::string::npos);
    EXPECT_NE(slurp("file_out.txt").find("back-annotation"), std::string::npos);

    // Both streams into a pipe.
    const COMMAND_RUN piped =
        run_command(std::string(MORV_FIT_BINARY) + " --optimize -o pipe.blif " + k_design + " 2>&1");
    ASSERT_EQ(piped.status, 0) << piped.out;
    EXPECT_EQ(piped.out.find(" pass "), std::string::npos) << piped.out;
    EXPECT_EQ(piped.out.find('\r'), std::string::npos);
    // The progress lines change nothing of the result.
    r = run_on_terminal({"--optimize", "-o", "tty_again.blif", k_design});
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(slurp("tty_again.blif"), slurp("pipe.blif"));
}

}  // namespace

}  // namespace progress_test
