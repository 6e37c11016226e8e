#include "morv/core/morv_run_list.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>
#include <vector>

#include "msg/msg.h"

#include "morv/core/algorithm/morv_algorithm_base.h"
#include "morv/core/algorithm/morv_algorithm_params.h"
#include "morv/core/morv_expert.h"
#include "morv/core/morv_format.h"

namespace {

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

// A character the user reads in a message: itself when printable, else its byte.
std::string shown_character(char c)
{
    const auto byte = static_cast<unsigned char>(c);
    if (byte > ' ' && byte < 127) return std::string("'") + c + "'";
    char text[16];
    std::snprintf(text, sizeof text, "byte 0x%02X", static_cast<unsigned>(byte));
    return text;
}

// Every KEY=VALUE of a run's parameters names a key the algorithm reads and
// holds a value of its kind; blanks between two ':' are allowed. `from` is
// where the parameters start within the run.
bool check_parameters(int id, const std::string& text, size_t from, const MORV_PARAM_COMPILE* compile,
                      std::string* reason, size_t* at)
{
    const std::string name = MORV_EXPERT::s_FSYN_ALGORITHM_SHORT_NAMES[id];
    size_t start = 0;
    for (;;) {
        const size_t colon = std::min(text.find(':', start), text.size());
        const std::string item = text.substr(start, colon - start);
        const size_t equal = item.find('=');
        const std::string key = morv_trim_blanks(item.substr(0, equal));
        *at = from + start + std::min(item.find_first_not_of(" \t"), item.size());
        if (equal == std::string::npos && !key.empty()) {
            *reason = "parameter \"" + msg_cut_word(key) + "\" has no '=' (parameters are KEY=VALUE joined by ':')";
            return false;
        }
        if (equal != std::string::npos && key.empty()) {
            *reason = "a parameter without a key before its '='";
            return false;
        }
        if (!key.empty()) {
            const MORV_PARAM_KEY* known = morv_find_algorithm_param(id, key);
            if (known == nullptr) {
                *reason = "algorithm " + name + " has no parameter \"" + msg_cut_word(key) + "\"";
                return false;
            }
            const std::string value = morv_trim_blanks(item.substr(equal + 1));
            const std::string fault = morv_param_value_fault(*known, value, compile);
            if (!fault.empty()) {
                *reason = "parameter " + key + " of " + name + " " + fault;
                return false;
            }
        }
        if (colon == text.size()) return true;
        start = colon + 1;
    }
}

// A run is NAME(PARAMETERS): the name, blanks round it removed, is a short
// name; the first ')' closes the run, and only blanks may follow it before
// the ';' that ends the run. `at` is the offset of the problem within the run.
bool check_run(const std::string& run, const MORV_PARAM_COMPILE* compile, std::string* reason, size_t* at)
{
    const size_t first = run.find_first_not_of(" \t");
    if (first == std::string::npos) {
        *reason = "empty run";
        *at = 0;
        return false;
    }
    const size_t last = run.find_last_not_of(" \t");
    const size_t open = run.find('(');
    if (open == std::string::npos) {
        *reason = "no '(' after the algorithm name";
        *at = last + 1;
        return false;
    }
    const std::string name = morv_trim_blanks(run.substr(0, open));
    const int id = morv_find_algorithm_id(name);
    if (id == ALGORITHM_END) {
        *reason = name.empty() ? "missing algorithm name" : "unknown algorithm name \"" + msg_cut_word(name) + "\"";
        *at = first;
        return false;
    }
    const size_t close = run.find(')', open);
    if (close == std::string::npos) {
        *reason = "the run does not end with ')'";
        *at = last == open ? last + 1 : last;
        return false;
    }
    if (close != last) {
        const size_t after = run.find_first_not_of(" \t", close + 1);
        *reason = shown_character(run[after]) + " after the run's closing ')' (runs are separated by ';')";
        *at = after;
        return false;
    }
    return check_parameters(id, run.substr(open + 1, close - open - 1), open + 1, compile, reason, at);
}

// What a run does with the netlists SAVE_RESTORE keeps for the compile.
enum class SAVE_USE
{
    NONE,           // another algorithm, or a run of no iteration
    SAVES,          // its first iteration saves the netlist in place
    RESTORES_BEST,  // its first iteration needs a netlist saved before it
};

SAVE_USE save_use(const std::string& name, const std::string& parameters)
{
    if (morv_find_algorithm_id(name) != SAVE_RESTORE_ALGORITHM) return SAVE_USE::NONE;
    MORV_PARAMETER_MAP map;
    MORV_ALGORITHM_BASE::parse_algorithm_params(map, parameters);
    auto number = [&map](const char* key) {
        const std::string value = MORV_ALGORITHM_BASE::get_algorithm_param(map, key);
        return value.empty() ? MORV_ALGORITHM_BASE::s_UNSET_INT : std::atoi(value.c_str());
    };
    // Unset counts take the algorithm's one pass of one iteration.
    const int passes = number(MORV_PARAM_NUM_PASSES);
    const int iterations = number(MORV_PARAM_NUM_ITERS);
    auto none = [](int count) { return count != MORV_ALGORITHM_BASE::s_UNSET_INT && count < 1; };
    if (none(passes) || none(iterations)) return SAVE_USE::NONE;
    const std::string best = MORV_ALGORITHM_BASE::get_algorithm_param(map, "BEST");
    return !best.empty() && std::atoi(best.c_str()) != 0 ? SAVE_USE::RESTORES_BEST : SAVE_USE::SAVES;
}

const char* const k_nothing_saved =
    "SAVE_RESTORE with BEST restores a netlist saved before it, and no run before it saves one (a SAVE_RESTORE run "
    "without BEST, earlier in its part or in the part of a flow point that runs before)";

}  // namespace

int morv_find_algorithm_id(const std::string& name)
{
    for (int id = 0; id < ALGORITHM_END; ++id)
        if (name == MORV_EXPERT::s_FSYN_ALGORITHM_SHORT_NAMES[id]) return id;
    return ALGORITHM_END;
}

bool morv_cut_first_run(std::string* text, std::string* name, std::string* parameters)
{
    // Blanks left after a part's last ';' hold no run.
    if (morv_trim_blanks(*text).empty()) return false;
    std::string run;
    std::string rest;
    split_first_run(*text, &run, &rest);
    // Blanks after the closing ')' would otherwise be taken for it.
    run = morv_trim_blanks(run);
    const size_t open = run.find('(');
    if (open == std::string::npos) {
        *name = run;
        parameters->clear();
    } else {
        *name = morv_trim_blanks(run.substr(0, open));
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
        return morv_trim_blanks(text.substr(from, to == std::string::npos ? std::string::npos : to - from));
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

bool morv_check_test_string_part(const std::string& part, MORV_TEST_STRING_ERROR* error, size_t offset,
                                 const MORV_PARAM_COMPILE* compile)
{
    if (part.find_first_not_of(" \t") == std::string::npos) return true;
    size_t start = 0;
    for (;;) {
        size_t semi = part.find(';', start);
        const size_t end = semi == std::string::npos ? part.size() : semi;
        const std::string run = part.substr(start, end - start);
        // Blanks after the last run's ';' end the part, as an empty text would.
        const bool trailing = semi == std::string::npos && start > 0 && morv_trim_blanks(run).empty();
        size_t at = 0;
        if (!trailing && !check_run(run, compile, &error->m_reason, &at)) {
            error->m_run = morv_trim_blanks(run);
            error->m_position = offset + start + at;
            return false;
        }
        if (semi == std::string::npos) return true;
        start = semi + 1;
        if (start == part.size()) return true;
    }
}

bool morv_check_best_restores(const std::string& part, bool* saved, MORV_TEST_STRING_ERROR* error, size_t offset)
{
    for (size_t start = 0; start <= part.size();) {
        const size_t end = std::min(part.find(';', start), part.size());
        std::string run = part.substr(start, end - start);
        std::string name, parameters;
        if (morv_cut_first_run(&run, &name, &parameters)) {
            const SAVE_USE use = save_use(name, parameters);
            if (use == SAVE_USE::RESTORES_BEST && !*saved) {
                error->m_run = morv_trim_blanks(part.substr(start, end - start));
                error->m_reason = k_nothing_saved;
                error->m_position = offset + part.find_first_not_of(" \t", start);
                return false;
            }
            if (use != SAVE_USE::NONE) *saved = true;
        }
        start = end + 1;
    }
    return true;
}

namespace {

// The saved netlists outlive a flow point. The points run EARLY, POST
// CLUSTERING, CLUSTER RETRY (only after a failed placement), LATE; a save in
// a point that may run before a BEST restore lets the string through, and
// the flow point finds out whether one did (check_saved_before_best_restores).
// parts: where each '|'-separated part begins and ends.
bool check_best_restores_in_flow_order(const std::string& text, const std::vector<std::pair<size_t, size_t>>& parts,
                                       MORV_TEST_STRING_ERROR* error)
{
    // With all four parts, CLUSTER RETRY is written before POST CLUSTERING.
    const size_t four[] = {0, 2, 1, 3};
    bool saved = false;
    for (size_t i = 0; i < parts.size(); ++i) {
        const auto [from, to] = parts[parts.size() == 4 ? four[i] : i];
        if (!morv_check_best_restores(text.substr(from, to - from), &saved, error, from)) return false;
    }
    return true;
}

}  // namespace

bool morv_check_test_string(const std::string& text, MORV_TEST_STRING_ERROR* error, const MORV_PARAM_COMPILE* compile)
{
    size_t bar = std::string::npos;
    for (int pipes = 0; pipes < 4; ++pipes) {
        bar = text.find('|', bar + 1);
        if (bar == std::string::npos) break;
    }
    if (bar != std::string::npos) {
        error->m_run = text;
        error->m_reason = "more than three '|'";
        error->m_position = bar;
        return false;
    }
    std::vector<std::pair<size_t, size_t>> parts;
    for (size_t start = 0;;) {
        bar = text.find('|', start);
        const size_t end = bar == std::string::npos ? text.size() : bar;
        if (!morv_check_test_string_part(text.substr(start, end - start), error, start, compile)) return false;
        parts.emplace_back(start, end);
        if (bar == std::string::npos) break;
        start = bar + 1;
    }
    return check_best_restores_in_flow_order(text, parts, error);
}

std::string morv_tune_string_to_test_string(std::string text)
{
    std::replace(text.begin(), text.end(), ',', ';');
    return text;
}
