#include "morv/core/algorithm/morv_algorithm_params.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

#include "msg/msg.h"

#include "morv/core/algorithm/morv_algorithm_base.h"
#include "morv/core/morv_expert.h"
#include "morv/resyn/morv_bdd_syn.h"
#include "morv/resyn/morv_resyn.h"
#include "morv/retiming/morv_retiming.h"
#include "morv/retiming/morv_retiming_family.h"

namespace {

using KIND = MORV_PARAM_KIND;

// What the run driver reads for every algorithm (the base constructor).
constexpr MORV_PARAM_KEY BASE_KEYS[] = {
    {MORV_PARAM_NUM_PASSES, KIND::INT},
    {MORV_PARAM_NUM_ITERS, KIND::INT},
    {MORV_PARAM_ICP_AT_END, KIND::INT},
    {MORV_PARAM_FOM_TO_ACCEPT, KIND::FOM},
    {MORV_PARAM_RESTORE_NETLIST, KIND::INT},
    {MORV_PARAM_HILL_CLIMB_ITERS, KIND::INT},
    {MORV_PARAM_HILL_CLIMB_CUT, KIND::INT},
    {MORV_PARAM_SLACK_RATIO_THRESHOLD_PERCENT, KIND::REAL},
    {MORV_PARAM_SLACK_RATIO_THRESHOLD, KIND::REAL},
    {MORV_PARAM_EFFORT, KIND::REAL},
    {MORV_PARAM_REG_PACK, KIND::INT},
};

constexpr MORV_PARAM_KEY RTM_KEYS[] = {
    {MORV_RTM_PARAM_BETA, KIND::REAL},
    {MORV_RTM_PARAM_ALPHA, KIND::REAL},
    {MORV_RTM_PARAM_EXIT, KIND::REAL},
    {MORV_RTM_PARAM_MIN_PASSES, KIND::INT},
    {MORV_RTM_PARAM_SKEW_THRESHOLD, KIND::INT},
    {MORV_RTM_PARAM_CLOSE, KIND::INT},
    {MORV_RTM_PARAM_MAX_AGE, KIND::INT},
    {MORV_RTM_PARAM_GREEDY_ITERS, KIND::INT},
    {MORV_RTM_PARAM_NO_LB, KIND::INT},
    {MORV_RTM_PARAM_SKEW_MODE, KIND::INT},
    {MORV_RTM_PARAM_ROTATION_FACTOR, KIND::REAL},
    {MORV_RTM_PARAM_TRADE, KIND::REAL},
    // The engine's reader takes any value holding GREEDY for the greedy
    // engine and every other value for the default one; a string must name
    // it as it is, or a misspelt GREDY would run the default engine unsaid.
    {MORV_RTM_PARAM_ALGORITHM, KIND::WORD, "GREEDY"},
};

// As for retiming, the reader looks for the words inside the value.
constexpr MORV_PARAM_KEY RWR_KEYS[] = {
    {"CF", KIND::REAL}, {"OF", KIND::REAL}, {"RTM_AWARE", KIND::INT}, {"ALG", KIND::WORD, "GREEDY RECURSIVE"}};

constexpr MORV_PARAM_KEY REP_KEYS[] = {
    {"MM", KIND::INT},
    {"LM", KIND::INT},
    {"LP", KIND::REAL},
    {"IM", KIND::INT},
    {"IP", KIND::REAL},
    {"WP", KIND::REAL},
    {"PC_MODE", KIND::INT},
    {"PC_MAX_OPS", KIND::INT},
    {"PC_MAX_LAB_USAGE", KIND::REAL},
    {"PC_STRICT_CHECKS", KIND::INT},
};

constexpr MORV_PARAM_KEY BDD_SYN_KEYS[] = {
    {MORV_BDD_SYN::s_PARAM_MAX_ITERATIONS, KIND::INT},      {MORV_BDD_SYN::s_PARAM_SLACK_RATIO_BGN, KIND::REAL},
    {MORV_BDD_SYN::s_PARAM_SLACK_RATIO_END, KIND::REAL},    {MORV_BDD_SYN::s_PARAM_MAX_BDD_NODES, KIND::INT},
    {MORV_BDD_SYN::s_PARAM_MAX_BDD_VARS, KIND::INT},        {MORV_BDD_SYN::s_PARAM_MAX_EXPANSIONS, KIND::INT},
    {MORV_BDD_SYN::s_PARAM_SLACK_RATIO_FACTOR, KIND::REAL}, {MORV_BDD_SYN::s_PARAM_AREA_ACCEPT_BGN, KIND::REAL},
    {MORV_BDD_SYN::s_PARAM_AREA_ACCEPT_END, KIND::REAL},    {MORV_BDD_SYN::s_PARAM_RTM_AWARE, KIND::INT},
};

constexpr MORV_PARAM_KEY RESPLIT_KEYS[] = {{"AGG", KIND::ON}};

constexpr MORV_PARAM_KEY RESYN_KEYS[] = {
    {MORV_RESYN_PARAM_STAGE_DELAY, KIND::REAL},
    {MORV_RESYN_PARAM_STAGE_SR, KIND::REAL},
    {MORV_RESYN_PARAM_DUPLICATE_FR, KIND::REAL},
    {MORV_RESYN_PARAM_NOISE_FR, KIND::REAL},
    {MORV_RESYN_PARAM_AREA_FR_BGN, KIND::REAL},
    {MORV_RESYN_PARAM_AREA_FR_END, KIND::REAL},
    {MORV_RESYN_PARAM_AREA_SR_MIN, KIND::REAL},
    {MORV_RESYN_PARAM_AREA_SR_MAX, KIND::REAL},
    {MORV_RESYN_PARAM_AREA_SR_MAX_ALIAS, KIND::REAL},
    {MORV_RESYN_PARAM_GUARDBAND_SLACK, KIND::INT},
    {MORV_RESYN_PARAM_MAX_EXPANSIONS, KIND::INT},
    {MORV_RESYN_PARAM_MAX_VARS, KIND::INT},
    {MORV_RESYN_PARAM_MAX_LITERALS, KIND::INT},
    {MORV_RESYN_PARAM_KNOCK_VAR_BASE, KIND::INT},
    {MORV_RESYN_PARAM_KNOCK_VAR_MULT0, KIND::REAL},
    {MORV_RESYN_PARAM_KNOCK_VAR_MULT1, KIND::REAL},
    {MORV_RESYN_PARAM_AREA_BOUND_BGN, KIND::INT},
    {MORV_RESYN_PARAM_AREA_BOUND_END, KIND::INT},
    {MORV_RESYN_PARAM_AREA_BOUND_END_ALIAS, KIND::INT},
    {MORV_RESYN_PARAM_RTM_AWARE, KIND::INT},
    // Read only to say once that it has no effect; the lists give it a ratio.
    {MORV_RESYN_PARAM_UNUSED_DSR, KIND::REAL},
};

constexpr MORV_PARAM_KEY SAVE_RESTORE_KEYS[] = {{"BEST", KIND::INT}};

constexpr MORV_PARAM_KEY UTIL_KEYS[] = {
    {"CHECK_PROJECT", KIND::PROJECT},
    {"DUMP_TIMING", KIND::ON},
    {"KILL", KIND::ON},
    {"REG_TEST_LATCH_LEG", KIND::ON},
    {"RAND_SEED", KIND::INT},
    {"REG_TEST_MIG_LATCH", KIND::ON},
    {"BREAK", KIND::INT},
    {"BREAK_DONT_TOUCH", KIND::KEPT_COPY},
    {"LLT_RAND_NUM_MOVES", KIND::SWITCH},
    {"LLT_NUM_MOVES", KIND::INT},
    {"LLT_DEFAULT_NO_OPS", KIND::SWITCH},
    {"LLT_PROB_PORT_SWAP", KIND::REAL},
    {"LLT_PROB_CLR_REMOVE", KIND::REAL},
    {"LLT_PROB_PRS_REMOVE", KIND::REAL},
    {"LLT_PROB_DATA_EN_REMOVE", KIND::REAL},
    {"LLT_PROB_DOM_SWITCH", KIND::REAL},
};

// The script that MANUAL plays. Its player reads a file it cannot open as no
// operations, with a line in the debug log only; a name given in a string
// is there before the compile starts, or the string is refused.
constexpr MORV_PARAM_KEY MANUAL_KEYS[] = {{"FILE", KIND::FILE_NAME}};

struct KEYS
{
    const MORV_PARAM_KEY* keys;
    size_t count;
};

template <size_t N>
constexpr KEYS keys_of(const MORV_PARAM_KEY (&keys)[N])
{
    return KEYS{keys, N};
}

// The keys of an algorithm's own, beyond the run driver's.
KEYS own_keys(int algorithm_id)
{
    switch (algorithm_id) {
    case RTM_ALGORITHM: return keys_of(RTM_KEYS);
    case RWR_ALGORITHM: return keys_of(RWR_KEYS);
    case REP_ALGORITHM: return keys_of(REP_KEYS);
    case BDD_SYN_ALGORITHM: return keys_of(BDD_SYN_KEYS);
    case RESPLIT_ALGORITHM: return keys_of(RESPLIT_KEYS);
    case RESYN_ALGORITHM: return keys_of(RESYN_KEYS);
    case SAVE_RESTORE_ALGORITHM: return keys_of(SAVE_RESTORE_KEYS);
    case UTIL_ALGORITHM: return keys_of(UTIL_KEYS);
    case MANUAL_ALGORITHM: return keys_of(MANUAL_KEYS);
    default: return KEYS{nullptr, 0};
    }
}

const MORV_PARAM_KEY* find_in(KEYS keys, const std::string& name)
{
    for (size_t i = 0; i < keys.count; ++i)
        if (name == keys.keys[i].name) return &keys.keys[i];
    return nullptr;
}

bool is_int(const std::string& value)
{
    errno = 0;
    char* end = nullptr;
    const long long v = std::strtoll(value.c_str(), &end, 10);
    return errno == 0 && *end == '\0' && v >= INT_MIN && v <= INT_MAX;
}

bool is_real(const std::string& value)
{
    errno = 0;
    char* end = nullptr;
    const double v = std::strtod(value.c_str(), &end);
    return errno == 0 && *end == '\0' && std::isfinite(v);
}

// The words of a ' '-separated list, one by one.
std::vector<std::string> words_of(const char* words)
{
    std::vector<std::string> out;
    std::istringstream in(words != nullptr ? words : "");
    for (std::string word; in >> word;) out.push_back(word);
    return out;
}

bool equal_ignoring_case(const std::string& a, const std::string& b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

bool is_one_of_words(const std::string& value, const char* words)
{
    const std::vector<std::string> known = words_of(words);
    return std::find(known.begin(), known.end(), value) != known.end();
}

// "A", "A or B", "A, B or C".
std::string words_text(const char* words)
{
    const std::vector<std::string> known = words_of(words);
    std::string text;
    for (size_t i = 0; i < known.size(); ++i) text += (i == 0 ? "" : i + 1 == known.size() ? " or " : ", ") + known[i];
    return text;
}

// Why the algorithm could not read the file name names, or "" when it can.
std::string file_fault(const std::string& name)
{
    std::error_code ec;
    const std::filesystem::path absolute = std::filesystem::absolute(name, ec);
    const std::string shown = msg_cut_word(ec ? name : absolute.string());
    std::error_code why;
    const std::filesystem::file_status status = std::filesystem::status(name, why);
    std::string fault;
    if (std::filesystem::is_regular_file(status)) {
        if (std::ifstream(name).is_open()) return std::string();
        fault = "cannot read " + shown + ": " + std::strerror(errno);
    } else if (std::filesystem::exists(status)) {
        fault = "names " + shown + ", which is not a file";
    } else if (why && why != std::errc::no_such_file_or_directory) {
        fault = "cannot read " + shown + ": " + why.message();
    } else {
        fault = "names no file " + shown;
    }
    if (std::filesystem::path(name).is_relative())
        fault += " (a relative name is taken from the compile's folder, " +
                 msg_cut_word(std::filesystem::current_path(ec).string()) + ")";
    return fault;
}

}  // namespace

const MORV_PARAM_KEY* morv_find_algorithm_param(int algorithm_id, const std::string& name)
{
    if (const MORV_PARAM_KEY* key = find_in(keys_of(BASE_KEYS), name)) return key;
    return find_in(own_keys(algorithm_id), name);
}

std::string morv_param_value_fault(const MORV_PARAM_KEY& key, const std::string& value,
                                   const MORV_PARAM_COMPILE* compile)
{
    // An empty value counts as an absent key.
    if (value.empty()) return std::string();
    std::string takes;
    switch (key.kind) {
    case KIND::INT:
        if (is_int(value)) return std::string();
        takes = "a whole number from " + std::to_string(INT_MIN) + " to " + std::to_string(INT_MAX);
        break;
    case KIND::REAL:
        if (is_real(value)) return std::string();
        takes = "a decimal number";
        break;
    case KIND::FOM:
        // The reader takes any text holding the word for it: NOT_SMALL_DOUBLE
        // would run as SMALL_DOUBLE.
        if (is_real(value) || value == MORV_PARAM_SMALL_DOUBLE_TEXT) return std::string();
        takes = std::string("a decimal number or ") + MORV_PARAM_SMALL_DOUBLE_TEXT;
        break;
    case KIND::PROJECT:
        // The check compares the name with the compile's once the compile
        // has run; a name that cannot match is known before it starts.
        if (compile == nullptr || equal_ignoring_case(value, compile->m_project_name)) return std::string();
        takes = "the name of this compile, " + compile->m_project_name + " (in any letter case)";
        break;
    case KIND::ON:
    case KIND::KEPT_COPY:
        // The reader turns the mode on for any value at all, 0 included.
        if (value != "1") {
            takes = "only 1 (the key alone turns the mode on: leave it out to keep it off)";
            break;
        }
        if (key.kind == KIND::ON || compile == nullptr || compile->m_has_copyable_kept_atom) return std::string();
        // The design stops on an internal error when the run finds no such
        // atom. It is the user's request that cannot be met, not our fault:
        // refused before the compile, as a BEST restore with nothing saved is.
        return "needs a LUT or register that a must_keep line keeps and no dont_touch line forbids to copy, and the "
               "design has none";
    case KIND::SWITCH:
        if (value == "0" || value == "1") return std::string();
        takes = "0 or 1";
        break;
    case KIND::WORD:
        if (is_one_of_words(value, key.words)) return std::string();
        takes = words_text(key.words);
        break;
    case KIND::FILE_NAME: return file_fault(value);
    }
    return "takes " + takes + ", not \"" + msg_cut_word(value) + "\"";
}
