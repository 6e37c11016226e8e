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
    FOM,        // a decimal number, or a text holding SMALL_DOUBLE
    TEXT,       // any text (a project name)
    ON,         // a mode any value turns on: 1 (a 0 would turn it on as well)
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

// "" when value suits the key; otherwise what is wrong with it, to follow
// "parameter KEY of ALGORITHM " (e.g. "takes a decimal number, not \"x\"").
// A FILE_NAME is looked for from the current folder, where the algorithm reads it.
std::string morv_param_value_fault(const MORV_PARAM_KEY& key, const std::string& value);
