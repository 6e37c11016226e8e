#pragma once
// The reader of "key=value" settings files. The switch file, the project's
// option file and the host's settings file share this syntax, so one reader
// gives them the same comments, trimming and "<path>:<line>" error prefix;
// what a key means and what is wrong with it stays with each caller.

#include <functional>
#include <optional>
#include <string>
#include <string_view>

// One line of a settings file that is neither blank nor a comment.
struct CFG_FILE_LINE
{
    std::string where;        // "<path>:<line number>": the front of every error about this line
    std::string text;         // the whole line, blanks around it trimmed
    bool has_equals = false;  // false: a malformed line; key and value are empty
    std::string key;          // the text before the first '=', trimmed
    std::string value;        // the text after it, trimmed
};

// The C locale's white space.
inline constexpr const char* CFG_FILE_BLANKS = " \t\n\v\f\r";

// The value spellings every settings store accepts, so a switch or a number
// reads the same whether it came from a file, the command line or a setter.
std::string_view cfg_trim(std::string_view text, const char* blanks = CFG_FILE_BLANKS);
// "on", "true", "1" -> true; "off", "false", "0" -> false (any case, blanks
// around allowed); anything else -> nullopt.
std::optional<bool> cfg_parse_switch(std::string_view text);
// A whole decimal number (optional sign, blanks around allowed) that fits an
// int; anything else -> nullopt.
std::optional<int> cfg_parse_int(std::string_view text);

// Hands every line of path to on_line in file order, except blank lines and
// lines whose first non-blank character is '#'; blanks are the characters of
// `blanks`; lines end at LF, CRLF or a lone CR. What on_line throws ends the
// read, so the lines before a bad line stay applied. Answers false, having
// read nothing, when path is not a readable file (a folder is not); `error`,
// when given, then says why.
bool cfg_read_settings_file(const std::string& path, const std::function<void(const CFG_FILE_LINE&)>& on_line,
                            const char* blanks = CFG_FILE_BLANKS, std::string* error = nullptr);
