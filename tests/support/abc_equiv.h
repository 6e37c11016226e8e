// Runs Berkeley ABC on two BLIF files and reads its verdict. ABC exits 0
// whatever happens, so the verdict comes from its printed text; anything that
// is neither a clear "equivalent" nor a clear "NOT EQUIVALENT" (unreadable
// file, missing program, time limit, different port lists) is UNDECIDED.
#pragma once

#include <string>

enum class ABC_VERDICT
{
    EQUIVALENT,
    NOT_EQUIVALENT,
    UNDECIDED
};

struct ABC_RESULT
{
    ABC_VERDICT m_verdict = ABC_VERDICT::UNDECIDED;
    std::string m_command;  // what was run
    std::string m_output;   // everything ABC printed, for failure messages

    bool is_equivalent() const { return m_verdict == ABC_VERDICT::EQUIVALENT; }
    bool is_not_equivalent() const { return m_verdict == ABC_VERDICT::NOT_EQUIVALENT; }
};

const char* abc_verdict_name(ABC_VERDICT verdict);

// `sequential` selects inductive sequential checking (dsec) instead of
// combinational checking (cec); both match ports by name. Registers are taken
// to power up to 0. `time_limit_s` bounds the run (ABC is stopped 30 s after it).
ABC_RESULT abc_check_equivalence(const std::string& a, const std::string& b, bool sequential, int time_limit_s = 60);

// A sequential miter of the pair proved by dprove, from the all-zero state.
ABC_RESULT abc_check_by_miter(const std::string& a, const std::string& b, int time_limit_s = 60);

// True when the ABC program can be run here.
bool abc_is_available();
