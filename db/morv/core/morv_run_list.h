#pragma once

// Cutting test and tune strings into algorithm runs.
//
// A test string lists runs as NAME(K=V:K=V) separated by ';'; up to three
// '|' separate the EARLY, CLUSTER RETRY, POST CLUSTERING and LATE parts.
// These helpers hold no state: the flow driver keeps the parts and the run
// list, and decides what a malformed string means for the compile.

#include <string>

struct MORV_PARAM_COMPILE;

// The four parts of a test string, one per flow point that takes runs.
struct MORV_TEST_STRING_PARTS
{
    std::string m_early;
    std::string m_cluster_retry;
    std::string m_post_clustering;
    std::string m_late;
};

// Index of name in the algorithm short-name table (exact match), or
// ALGORITHM_END when no short name matches.
int morv_find_algorithm_id(const std::string& name);

// Removes the first run from text and hands back its name (blanks round it
// removed) and its parameter text (between the '(' and the closing ')').
// false, with text unchanged, when text holds no run.
bool morv_cut_first_run(std::string* text, std::string* name, std::string* parameters);

// Number of '|' in text. With at most three the parts are cut: three give
// all four parts; two give EARLY, POST CLUSTERING and LATE (CLUSTER RETRY
// is left as it was); one gives EARLY and LATE and empties POST CLUSTERING;
// none makes text the LATE part and empties EARLY and POST CLUSTERING.
// Blanks round each part are removed, so a blank part counts as empty.
// With more than three nothing is changed.
int morv_split_test_string(const std::string& text, MORV_TEST_STRING_PARTS* parts);

// Why a test or tune string was rejected: the run at fault (blanks round it
// removed), the reason and the offset in the whole string where it shows.
struct MORV_TEST_STRING_ERROR
{
    std::string m_run;
    std::string m_reason;
    size_t m_position = 0;
};

// Checks every run of one part against the grammar: a known algorithm name,
// a '(' after it, its first ')' as the run's last character, and between
// them KEY=VALUE pairs joined by ':', each a key the algorithm reads with a
// value of the kind it reads. An empty run between two ';' is rejected; one
// ';' may end the part. offset: where the part starts in the whole string,
// for the reported position. With a compile, the values that depend on it
// are checked against it as well (morv_param_value_fault).
bool morv_check_test_string_part(const std::string& part, MORV_TEST_STRING_ERROR* error, size_t offset = 0,
                                 const MORV_PARAM_COMPILE* compile = nullptr);

// SAVE_RESTORE with BEST restores a netlist saved before it: each such run
// of part that iterates needs a run of part before it that saves one or,
// with *saved true on entry, a netlist saved before the part. *saved is true
// on return when the part leaves one saved. offset: as for the part check.
bool morv_check_best_restores(const std::string& part, bool* saved, MORV_TEST_STRING_ERROR* error, size_t offset = 0);

// Checks a whole test string: at most three '|', every part well formed, and
// every BEST restore of SAVE_RESTORE preceded by a save, in the order the
// flow points run. compile: as for the part check.
bool morv_check_test_string(const std::string& text, MORV_TEST_STRING_ERROR* error,
                            const MORV_PARAM_COMPILE* compile = nullptr);

// A tune string may use ',' between runs; the same text with ';' instead.
std::string morv_tune_string_to_test_string(std::string text);
