#pragma once

// The manual-operations script: one operation a line, a keyword and an atom
// id separated by blanks ("fp 17"). The file comes from the user, so it is
// read strictly: a line that cannot be trusted runs nothing and is reported
// with its line number instead of being guessed at.

#include <istream>
#include <string>
#include <vector>

// Lines longer than this are refused whole rather than split.
constexpr size_t MORV_MANUAL_MAX_LINE = 128;

struct MORV_MANUAL_SCRIPT_OP
{
    int line;
    std::string keyword;
    std::string argument;
    int atom_id;
};

struct MORV_MANUAL_SCRIPT_PROBLEM
{
    int line;
    std::string text;
};

struct MORV_MANUAL_SCRIPT
{
    std::vector<MORV_MANUAL_SCRIPT_OP> ops;
    std::vector<MORV_MANUAL_SCRIPT_PROBLEM> problems;
};

// The local command of a script keyword (1 to 5); -1 for any other word.
// Keywords are case-sensitive.
int morv_manual_script_command(const std::string& keyword);

// A whole non-negative decimal number that fits an atom id, surrounded by
// nothing but blanks; -1 otherwise.
int morv_manual_parse_atom_id(const std::string& text);

// Reads every line of in. Unknown keywords are skipped without a word, as
// are blank lines; Windows line ends are accepted.
MORV_MANUAL_SCRIPT morv_read_manual_script(std::istream& in);
