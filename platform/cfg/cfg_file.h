#pragma once
// The reader of "key=value" settings files. The switch file, the project's
// option file and the host's settings file share this syntax, so one reader
// gives them the same comments, trimming and "<path>:<line>" error prefix;
// what a key means and what is wrong with it stays with each caller.

#include <functional>
#include <string>

// One line of a settings file that is neither blank nor a comment.
struct CFG_FILE_LINE {
    std::string where;        // "<path>:<line number>": the front of every error about this line
    std::string text;         // the whole line, blanks around it trimmed
    bool has_equals = false;  // false: a malformed line; key and value are empty
    std::string key;          // the text before the first '=', trimmed
    std::string value;        // the text after it, trimmed
};

// The C locale's white space.
inline constexpr const char* CFG_FILE_BLANKS = " \t\n\v\f\r";

// Hands every line of path to on_line in file order, except blank lines and
// lines whose first non-blank character is '#'; blanks are the characters of
// `blanks`. What on_line throws ends the read, so the lines before a bad line
// stay applied. Answers false, having read nothing, when path cannot be opened.
bool cfg_read_settings_file(const std::string& path, const std::function<void(const CFG_FILE_LINE&)>& on_line,
                            const char* blanks = CFG_FILE_BLANKS);
