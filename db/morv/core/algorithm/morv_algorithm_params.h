#pragma once

// The parameter keys each algorithm reads and the kind of value each takes,
// so that a test or tune string is checked before anything runs: a key no
// algorithm reads, or a value its reader would take for 0, would otherwise
// change nothing without a word.

#include <string>

enum class MORV_PARAM_KIND
{
    INT,        // a whole number that fits an int
    REAL,       // a finite decimal number
    FOM,        // a decimal number, or the word SMALL_DOUBLE
    PROJECT,    // the name of this compile, in any letter case
    ON,         // a mode any value turns on: 1 (a 0 would turn it on as well)
    KEPT_COPY,  // ON, for a mode that needs an atom it may copy but must keep
    SWITCH,     // 1 for on, 0 for off
    WORD,       // one of the key's words
    FILE_NAME,  // the name of a file that is there
};

struct MORV_PARAM_KEY
{
    const char* name;
    MORV_PARAM_KIND kind;
    // WORD: the words the reader knows, separated by ' '.
    const char* words = nullptr;
};

// The key of that name algorithm_id reads (every algorithm reads the run
// driver's keys), or null when it reads none of that name.
const MORV_PARAM_KEY* morv_find_algorithm_param(int algorithm_id, const std::string& name);

// What a compile offers the runs of its strings, for the values that depend
// on it: its name, and whether some LUT or register is kept by the user
// (must_keep) yet may be copied.
struct MORV_PARAM_COMPILE
{
    std::string m_project_name;
    bool m_has_copyable_kept_atom = false;
};

// "" when value suits the key; otherwise what is wrong with it, to follow
// "parameter KEY of ALGORITHM " (e.g. "takes a decimal number, not \"x\"").
// A FILE_NAME is looked for from the current folder, where the algorithm
// reads it. Without a compile, PROJECT takes any text and KEPT_COPY is ON.
std::string morv_param_value_fault(const MORV_PARAM_KEY& key, const std::string& value,
                                   const MORV_PARAM_COMPILE* compile = nullptr);
