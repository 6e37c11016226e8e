#include "morv/debug/morv_manual_script.h"

#include <climits>

#include "morv/core/morv_format.h"

namespace {

void add_problem(MORV_MANUAL_SCRIPT& script, int line, const std::string& keyword, const char* what)
{
    std::string text;
    text.append("line ").append(std::to_string(line)).append(": ");
    if (!keyword.empty()) text.append("'").append(keyword).append("' ");
    text.append(what).append("; the line is skipped");
    script.problems.push_back({line, text});
}

void read_line(MORV_MANUAL_SCRIPT& script, std::string text, int line)
{
    if (!text.empty() && text.back() == '\r') text.pop_back();
    if (text.size() > MORV_MANUAL_MAX_LINE) {
        add_problem(script, line, "", "is longer than 128 characters");
        return;
    }
    const std::string body = morv_trim_blanks(text);
    if (body.empty()) return;
    size_t split = 0;
    while (split < body.size() && !morv_is_blank(body[split])) ++split;
    const std::string keyword = body.substr(0, split);
    if (morv_manual_script_command(keyword) < 0) return;
    const std::string argument = morv_trim_blanks(body.substr(split));
    if (argument.empty()) {
        add_problem(script, line, keyword, "has no node id");
        return;
    }
    const int atom_id = morv_manual_parse_atom_id(argument);
    if (atom_id < 0) {
        add_problem(script, line, keyword, "has no valid node id (a non-negative decimal number)");
        return;
    }
    script.ops.push_back({line, keyword, argument, atom_id});
}

}  // namespace

int morv_manual_script_command(const std::string& keyword)
{
    static const char* const KEYWORDS[] = {"fp", "bp", "demux", "split", "resyn"};
    for (int index = 0; index < 5; ++index)
        if (keyword == KEYWORDS[index]) return index + 1;
    return -1;
}

int morv_manual_parse_atom_id(const std::string& text)
{
    const std::string digits = morv_trim_blanks(text);
    if (digits.empty()) return -1;
    long long value = 0;
    for (char c : digits) {
        if (c < '0' || c > '9') return -1;
        value = value * 10 + (c - '0');
        if (value > INT_MAX) return -1;
    }
    return static_cast<int>(value);
}

MORV_MANUAL_SCRIPT morv_read_manual_script(std::istream& in)
{
    MORV_MANUAL_SCRIPT script;
    std::string text;
    int line = 0;
    while (std::getline(in, text)) read_line(script, text, ++line);
    return script;
}
