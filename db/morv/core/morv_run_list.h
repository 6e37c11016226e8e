#pragma once

// Cutting test and tune strings into algorithm runs.
//
// A test string lists runs as NAME(K=V:K=V) separated by ';'; up to three
// '|' separate the EARLY, CLUSTER RETRY, POST CLUSTERING and LATE parts.
// These helpers hold no state: the flow driver keeps the parts and the run
// list, and decides what a malformed string means for the compile.

#include <string>

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

// Checks every run of one part: a known algorithm name, exactly one pair of
// parentheses closing the run, and KEY=VALUE parameters with non-empty keys.
// On the first bad run returns false with that run's text and the reason.
bool morv_check_test_string_part(const std::string& part, std::string* bad_run, std::string* reason);

// Checks a whole test string: at most three '|' and every part well formed.
bool morv_check_test_string(const std::string& text, std::string* bad_run, std::string* reason);

// A tune string may use ',' between runs; the same text with ';' instead.
std::string morv_tune_string_to_test_string(std::string text);
