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
    return run_command(std::string("command -v ") + k_abc_program + " 2>&1").status == 0;
}

namespace {

// Runs one ABC command line, bounded from outside too: ABC's own limit is
// approximate (dsec can overrun it by minutes), and a killed run prints no
// verdict.
std::string run_abc(const std::string& command, int time_limit_s)
{
    std::string shell = std::string("timeout -k 5 ") + std::to_string(time_limit_s + 30) + " " + k_abc_program +
                        " -c \"" + command + "\" 2>&1";
    // 127 from the shell means the program is missing; its text says so too.
    return run_command(shell).out;
}

bool contains(const std::string& text, const char* part)
{
    return text.find(part) != std::string::npos;
}

// ABC's command line splits on blanks and reads its own separators: such
// names are refused, with the reason, rather than checked wrongly.
bool refuses_paths(const std::string& a, const std::string& b, ABC_RESULT& result)
{
    if (is_plain_path(a) && is_plain_path(b)) return false;
    result.m_output = "file names with blanks or special characters are not passed to ABC: '" + a + "', '" + b + "'";
    return true;
}

}  // namespace

namespace {

ABC_RESULT run_check(const std::string& command, const std::string& a, const std::string& b, int time_limit_s)
{
    ABC_RESULT result;
    result.m_command = command + " -T " + std::to_string(time_limit_s) + " " + a + " " + b;
    result.m_output = run_abc(result.m_command, time_limit_s);
    // The negative verdict is checked first: its text contains the positive one
    // in another case, and any failure line must win over a stray success line.
    if (contains(result.m_output, "NOT EQUIVALENT") || contains(result.m_output, "Verification failed"))
        result.m_verdict = ABC_VERDICT::NOT_EQUIVALENT;
    else if (contains(result.m_output, "Networks are equivalent")) result.m_verdict = ABC_VERDICT::EQUIVALENT;
    return result;
}

}  // namespace

ABC_RESULT abc_check_equivalence(const std::string& a, const std::string& b, bool sequential, int time_limit_s)
{
    ABC_RESULT result;
    if (refuses_paths(a, b, result)) return result;
    result = run_check(sequential ? "dsec" : "cec", a, b, time_limit_s);
    if (!sequential || result.m_verdict != ABC_VERDICT::UNDECIDED) return result;
    // dsec falls back to a combinational check when one side has no
    // registers left, which then refuses the pair for their different
    // register counts; a sequential miter proved by dprove decides it.
    if (contains(result.m_output, "The network has no latches")) return abc_check_by_miter(a, b, time_limit_s);
    // dsec's own forward retiming can leave the miter of a retimed netlist
    // unsolved where plain induction proves it at once.
    ABC_RESULT plain = run_check("dsec -r", a, b, time_limit_s);
    if (plain.m_verdict == ABC_VERDICT::UNDECIDED) plain.m_output = result.m_output + "\n" + plain.m_output;
    return plain;
}

ABC_RESULT abc_check_by_miter(const std::string& a, const std::string& b, int time_limit_s)
{
    ABC_RESULT result;
    if (refuses_paths(a, b, result)) return result;
    result.m_command = "miter " + a + " " + b + "; dprove -T " + std::to_string(time_limit_s) + " ";
    result.m_output = run_abc(result.m_command, time_limit_s);
    if (contains(result.m_output, "Networks are not equivalent") || contains(result.m_output, "was asserted"))
        result.m_verdict = ABC_VERDICT::NOT_EQUIVALENT;
    else if (contains(result.m_output, "Networks are equivalent") || contains(result.m_output, "UNSATISFIABLE"))
        result.m_verdict = ABC_VERDICT::EQUIVALENT;
    return result;
}
