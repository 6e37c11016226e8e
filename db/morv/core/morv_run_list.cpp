#include "morv/core/morv_run_list.h"

#include <algorithm>
#include <cstring>

#include "morv/core/morv_expert.h"

namespace {

bool is_blank(char c)
{
    return c == ' ' || c == '\t';
}

std::string trim_blanks(const std::string& text)
{
    size_t first = 0;
    size_t last = text.size();
    while (first < last && is_blank(text[first])) ++first;
    while (last > first && is_blank(text[last - 1])) --last;
    return text.substr(first, last - first);
}

// The run text up to the first ';' (or the whole text) and what follows it.
void split_first_run(const std::string& text, std::string* run, std::string* rest)
{
    const size_t semi = text.find(';');
    if (semi == std::string::npos) {
        *run = text;
        rest->clear();
    } else {
        *run = text.substr(0, semi);
        *rest = text.substr(semi + 1);
    }
}

bool check_parameters(const std::string& parameters, std::string* reason)
{
    size_t start = 0;
    while (start <= parameters.size()) {
        size_t colon = parameters.find(':', start);
        if (colon == std::string::npos) colon = parameters.size();
        const std::string pair = trim_blanks(parameters.substr(start, colon - start));
        if (!pair.empty()) {
            const size_t eq = pair.find('=');
            if (eq == std::string::npos) {
                *reason = "parameter \"" + pair + "\" has no '='";
                return false;
            }
            if (trim_blanks(pair.substr(0, eq)).empty()) {
                *reason = "empty parameter name";
                return false;
            }
        }
        start = colon + 1;
    }
    return true;
}

bool check_run(const std::string& raw_run, std::string* reason)
{
    const std::string run = trim_blanks(raw_run);
    if (run.empty()) {
        *reason = "empty run";
        return false;
    }
    const size_t open = run.find('(');
    const long opens = std::count(run.begin(), run.end(), '(');
    const long closes = std::count(run.begin(), run.end(), ')');
    if (open == std::string::npos || opens != 1 || closes != 1 || run.back() != ')') {
        *reason = "unbalanced parentheses";
        return false;
    }
    const std::string name = trim_blanks(run.substr(0, open));
    if (name.empty()) {
        *reason = "missing algorithm name";
        return false;
    }
    if (morv_find_algorithm_id(name) == ALGORITHM_END) {
        *reason = "unknown algorithm name \"" + name + "\"";
        return false;
    }
    return check_parameters(run.substr(open + 1, run.size() - open - 2), reason);
}

}  // namespace

int morv_find_algorithm_id(const std::string& name)
{
    for (int id = 0; id < ALGORITHM_END; ++id)
        if (name == MORV_EXPERT::s_FSYN_ALGORITHM_SHORT_NAMES[id]) return id;
    return ALGORITHM_END;
}

bool morv_cut_first_run(std::string* text, std::string* name, std::string* parameters)
{
    if (text->empty()) return false;
    std::string run;
    std::string rest;
    split_first_run(*text, &run, &rest);
    // Blanks after the closing ')' would otherwise be taken for it.
    run = trim_blanks(run);
    const size_t open = run.find('(');
    if (open == std::string::npos) {
        *name = run;
        parameters->clear();
    } else {
        *name = trim_blanks(run.substr(0, open));
        // The closing ')' is the run's last character and is dropped.
        const size_t length = run.size() > open + 1 ? run.size() - open - 2 : 0;
        *parameters = run.substr(open + 1, length);
    }
    *text = rest;
    return true;
}

int morv_split_test_string(const std::string& text, MORV_TEST_STRING_PARTS* parts)
{
    size_t pipes[3] = {std::string::npos, std::string::npos, std::string::npos};
    int count = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '|') continue;
        if (count == 3) return static_cast<int>(std::count(text.begin(), text.end(), '|'));
        pipes[count++] = i;
    }
    auto piece = [&](size_t from, size_t to) {
        return trim_blanks(text.substr(from, to == std::string::npos ? std::string::npos : to - from));
    };
    switch (count) {
    case 3:
        parts->m_early = piece(0, pipes[0]);
        parts->m_cluster_retry = piece(pipes[0] + 1, pipes[1]);
        parts->m_post_clustering = piece(pipes[1] + 1, pipes[2]);
        parts->m_late = piece(pipes[2] + 1, std::string::npos);
        break;
    case 2:
        parts->m_early = piece(0, pipes[0]);
        parts->m_post_clustering = piece(pipes[0] + 1, pipes[1]);
        parts->m_late = piece(pipes[1] + 1, std::string::npos);
        break;
    case 1:
        parts->m_early = piece(0, pipes[0]);
        parts->m_post_clustering.clear();
        parts->m_late = piece(pipes[0] + 1, std::string::npos);
        break;
    default:
        parts->m_early.clear();
        parts->m_post_clustering.clear();
        parts->m_late = piece(0, std::string::npos);
        break;
    }
    return count;
}

bool morv_check_test_string_part(const std::string& part, std::string* bad_run, std::string* reason)
{
    std::string rest = trim_blanks(part);
    while (!rest.empty()) {
        std::string run;
        std::string next;
        split_first_run(rest, &run, &next);
        if (!check_run(run, reason)) {
            *bad_run = trim_blanks(run);
            return false;
        }
        rest = next;
    }
    return true;
}

bool morv_check_test_string(const std::string& text, std::string* bad_run, std::string* reason)
{
    MORV_TEST_STRING_PARTS parts;
    if (morv_split_test_string(text, &parts) > 3) {
        *bad_run = text;
        *reason = "more than three '|'";
        return false;
    }
    for (const std::string* part : {&parts.m_early, &parts.m_cluster_retry, &parts.m_post_clustering, &parts.m_late})
        if (!morv_check_test_string_part(*part, bad_run, reason)) return false;
    return true;
}

std::string morv_tune_string_to_test_string(std::string text)
{
    std::replace(text.begin(), text.end(), ',', ';');
    return text;
}
