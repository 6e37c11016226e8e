#pragma once

// The parameter keys each algorithm reads and the kind of value each takes,
// so that a test or tune string is checked before anything runs: a key no
// algorithm reads, or a value its reader would take for 0, would otherwise
// change nothing without a word.

#include <string>

enum class MORV_PARAM_KIND
{
    INT,   // a whole number that fits an int
    REAL,  // a finite decimal number
    FOM,   // a decimal number, or a text holding SMALL_DOUBLE
    TEXT,  // any text (names, switches that any value turns on)
};

struct MORV_PARAM_KEY
{
    const char* name;
    MORV_PARAM_KIND kind;
};

// The key of that name algorithm_id reads (every algorithm reads the run
// driver's keys), or null when it reads none of that name.
const MORV_PARAM_KEY* morv_find_algorithm_param(int algorithm_id, const std::string& name);

// "" when value is of the kind; otherwise what the value should be.
std::string morv_param_value_fault(MORV_PARAM_KIND kind, const std::string& value);
