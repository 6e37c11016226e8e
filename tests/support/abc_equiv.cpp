#include "abc_equiv.h"

#include <array>
#include <cstdio>
#include <sys/wait.h>

namespace {

const char* const k_abc_program = "berkeley-abc";

// ABC splits its command line on blanks and the shell sees the whole string,
// so only plain path characters are accepted rather than quoted.
bool is_plain_path(const std::string& path)
{
    if (path.empty()) return false;
    for (char c : path) {
        bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '/' || c == '.' ||
                  c == '_' || c == '-' || c == '+';
        if (!ok) return false;
    }
    return true;
}

bool run_capture(const std::string& command, std::string& output)
{
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return false;
    std::array<char, 4096> buffer;
    size_t n;
    while ((n = fread(buffer.data(), 1, buffer.size(), pipe)) > 0) output.append(buffer.data(), n);
    int status = pclose(pipe);
    return status != -1 && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace

const char* abc_verdict_name(ABC_VERDICT verdict)
{
    switch (verdict) {
    case ABC_VERDICT::EQUIVALENT: return "equivalent";
    case ABC_VERDICT::NOT_EQUIVALENT: return "not equivalent";
    case ABC_VERDICT::UNDECIDED: break;
    }
    return "could not decide";
}

bool abc_is_available()
{
    std::string output;
    return run_capture(std::string("command -v ") + k_abc_program + " >/dev/null 2>&1", output);
}

ABC_RESULT abc_check_equivalence(const std::string& a, const std::string& b, bool sequential, int time_limit_s)
{
    ABC_RESULT result;
    if (!is_plain_path(a) || !is_plain_path(b)) {
        result.m_output =
            "file names with blanks or special characters are not passed to ABC: '" + a + "', '" + b + "'";
        return result;
    }
    result.m_command =
        std::string(sequential ? "dsec" : "cec") + " -T " + std::to_string(time_limit_s) + " " + a + " " + b;
    // ABC's own limit is approximate (dsec can overrun it by minutes), so the
    // run is also bounded from outside; a killed run prints no verdict.
    std::string shell = std::string("timeout -k 5 ") + std::to_string(time_limit_s + 30) + " " + k_abc_program +
                        " -c \"" + result.m_command + "\" 2>&1";
    // 127 from the shell means the program is missing; its text says so too.
    run_capture(shell, result.m_output);
    // The negative verdict is checked first: its text contains the positive one
    // in another case, and any failure line must win over a stray success line.
    if (result.m_output.find("NOT EQUIVALENT") != std::string::npos ||
        result.m_output.find("Verification failed") != std::string::npos)
        result.m_verdict = ABC_VERDICT::NOT_EQUIVALENT;
    else if (result.m_output.find("Networks are equivalent") != std::string::npos)
        result.m_verdict = ABC_VERDICT::EQUIVALENT;
    return result;
}
