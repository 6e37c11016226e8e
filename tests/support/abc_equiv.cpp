#include "abc_equiv.h"

#include "test_files.h"

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
    return run_command(std::string("command -v ") + k_abc_program + " >/dev/null 2>&1").status == 0;
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
    result.m_output = run_command(shell).out;
    // The negative verdict is checked first: its text contains the positive one
    // in another case, and any failure line must win over a stray success line.
    if (result.m_output.find("NOT EQUIVALENT") != std::string::npos ||
        result.m_output.find("Verification failed") != std::string::npos)
        result.m_verdict = ABC_VERDICT::NOT_EQUIVALENT;
    else if (result.m_output.find("Networks are equivalent") != std::string::npos)
        result.m_verdict = ABC_VERDICT::EQUIVALENT;
    return result;
}
