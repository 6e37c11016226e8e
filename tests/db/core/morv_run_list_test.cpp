#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "morv/core/family/morv_default_lists.h"
#include "morv/core/morv_expert.h"
#include "morv/core/morv_run_list.h"

namespace morv_run_list_test {

namespace {

MORV_TEST_STRING_PARTS split(const std::string& text, int* pipes = nullptr, const std::string& retry = "kept")
{
    MORV_TEST_STRING_PARTS parts;
    parts.m_early = "stale";
    parts.m_post_clustering = "stale";
    parts.m_cluster_retry = retry;
    const int n = morv_split_test_string(text, &parts);
    if (pipes != nullptr) *pipes = n;
    return parts;
}

// What check_reason answers for a string the check lets through; a refusal
// that gives no reason answers "".
const char* const k_accepted = "(accepted)";

std::string check_reason(const std::string& text, std::string* bad_run = nullptr, size_t* position = nullptr)
{
    MORV_TEST_STRING_ERROR error;
    if (morv_check_test_string(text, &error)) return k_accepted;
    if (bad_run != nullptr) *bad_run = error.m_run;
    if (position != nullptr) *position = error.m_position;
    return error.m_reason;
}

}  // namespace

TEST(MorvRunListTest, PipesCutTheStringIntoFlowParts)
{
    int pipes = -1;
    MORV_TEST_STRING_PARTS p = split("TEST()", &pipes);
    EXPECT_EQ(pipes, 0);
    EXPECT_EQ(p.m_early, "");
    EXPECT_EQ(p.m_post_clustering, "");
    EXPECT_EQ(p.m_cluster_retry, "kept");
    EXPECT_EQ(p.m_late, "TEST()");

    p = split("a|d", &pipes);
    EXPECT_EQ(pipes, 1);
    EXPECT_EQ(p.m_early, "a");
    EXPECT_EQ(p.m_post_clustering, "");
    EXPECT_EQ(p.m_cluster_retry, "kept");
    EXPECT_EQ(p.m_late, "d");

    p = split("a|c|d", &pipes);
    EXPECT_EQ(pipes, 2);
    EXPECT_EQ(p.m_early, "a");
    EXPECT_EQ(p.m_post_clustering, "c");
    EXPECT_EQ(p.m_cluster_retry, "kept");
    EXPECT_EQ(p.m_late, "d");

    p = split("a|b|c|d", &pipes);
    EXPECT_EQ(pipes, 3);
    EXPECT_EQ(p.m_early, "a");
    EXPECT_EQ(p.m_cluster_retry, "b");
    EXPECT_EQ(p.m_post_clustering, "c");
    EXPECT_EQ(p.m_late, "d");

    // A fourth pipe changes nothing and is reported by the count.
    p = split("a|b|c|d|e", &pipes);
    EXPECT_GT(pipes, 3);
    EXPECT_EQ(p.m_early, "stale");
    EXPECT_EQ(p.m_cluster_retry, "kept");
}

TEST(MorvRunListTest, EmptyAndBlankPartsRunNothing)
{
    MORV_TEST_STRING_PARTS p = split(" TEST(NP=1) ||  | ");
    EXPECT_EQ(p.m_early, "TEST(NP=1)");
    EXPECT_EQ(p.m_cluster_retry, "");
    EXPECT_EQ(p.m_post_clustering, "");
    EXPECT_EQ(p.m_late, "");
    p = split("|");
    EXPECT_EQ(p.m_early, "");
    EXPECT_EQ(p.m_late, "");
}

TEST(MorvRunListTest, RunsAreCutOneByOne)
{
    std::string text = "RTM(NP=1:NI=1);LIR()";
    std::string name, params;
    ASSERT_TRUE(morv_cut_first_run(&text, &name, &params));
    EXPECT_EQ(name, "RTM");
    EXPECT_EQ(params, "NP=1:NI=1");
    EXPECT_EQ(text, "LIR()");
    ASSERT_TRUE(morv_cut_first_run(&text, &name, &params));
    EXPECT_EQ(name, "LIR");
    EXPECT_EQ(params, "");
    EXPECT_EQ(text, "");
    EXPECT_FALSE(morv_cut_first_run(&text, &name, &params));

    // Blanks round the name, and after the closing parenthesis, are not part of the run.
    text = "   REMUX  (HCI=2)  ;  TEST() ";
    ASSERT_TRUE(morv_cut_first_run(&text, &name, &params));
    EXPECT_EQ(name, "REMUX");
    EXPECT_EQ(params, "HCI=2");
    ASSERT_TRUE(morv_cut_first_run(&text, &name, &params));
    EXPECT_EQ(name, "TEST");
    EXPECT_EQ(params, "");
}

TEST(MorvRunListTest, NamesMatchTheShortNameTableExactly)
{
    for (int id = 0; id < ALGORITHM_END; ++id)
        EXPECT_EQ(morv_find_algorithm_id(MORV_EXPERT::s_FSYN_ALGORITHM_SHORT_NAMES[id]), id);
    EXPECT_EQ(morv_find_algorithm_id("REMU"), ALGORITHM_END);
    EXPECT_EQ(morv_find_algorithm_id("REMUXX"), ALGORITHM_END);
    EXPECT_EQ(morv_find_algorithm_id("test"), ALGORITHM_END);
    EXPECT_EQ(morv_find_algorithm_id(""), ALGORITHM_END);
}

TEST(MorvRunListTest, TheGrammarAcceptsTheKeysEachAlgorithmReads)
{
    std::FILE* ops = std::fopen("ops.txt", "w");
    ASSERT_NE(ops, nullptr);
    std::fclose(ops);
    for (const char* text : {
             "TEST(NP=2:NI=3)|TEST()",
             "RTM(NP=1:NI=1);LIR();",
             "",
             // An empty value counts as absent; blanks between two ':' hold no pair.
             "TEST(FOM=:NP=1:)",
             " REMUX ( NP=1 ) ; TEST() ",
             "TEST(FOM=SMALL_DOUBLE:EFFORT=-0.5e1:SRT=.125)",
             "RTM(SKEW_RTM=1:ALG=GREEDY:PBETA=0.3:RF=2:TRADE=1e-3)",
             "RESYN(ASR=0.12:AB=4:DSR=0.015)|UTIL(REG_TEST_LATCH_LEG=1:LLT_NUM_MOVES=3)",
             "MANUAL(FILE=ops.txt);SAVE_RESTORE();SAVE_RESTORE(BEST=1);RESPLIT(AGG=1)",
             "TEST(NP=-2147483648:NI=2147483647)",
             // Every word each text parameter knows, and both values of a switch.
             "RWR(ALG=GREEDY);RWR(ALG=RECURSIVE);RESPLIT(AGG=)",
             "UTIL(DUMP_TIMING=1:KILL=1:REG_TEST_MIG_LATCH=1:BREAK_DONT_TOUCH=1:CHECK_PROJECT=any name)",
             "UTIL(LLT_RAND_NUM_MOVES=0:LLT_DEFAULT_NO_OPS=1);UTIL(LLT_RAND_NUM_MOVES=1:LLT_DEFAULT_NO_OPS=0)",
         })
        EXPECT_EQ(check_reason(text), k_accepted) << text;

    std::string text = "TEST(A=b); ";
    std::string name, params;
    ASSERT_TRUE(morv_cut_first_run(&text, &name, &params));
    EXPECT_EQ(params, "A=b");
    EXPECT_FALSE(morv_cut_first_run(&text, &name, &params)) << "blanks after the last ';' hold no run";

    // Every run a family's default lists hold passes the check it would meet
    // in a test string: a key the table lacked would refuse the family's own runs.
    const MORV_DEFAULT_LISTS* families[] = {&MORV_BRK_LISTS, &MORV_TEV_LISTS,   &MORV_ZEPLA_LISTS, &MORV_KESTLIN_LISTS,
                                            &MORV_RZK_LISTS, &MORV_OBRAN_LISTS, &MORV_UVO_LISTS,   &MORV_MRL_LISTS};
    int runs = 0;
    auto check = [&](const MORV_RUN_LIST& list) {
        for (int i = 0; i < list.m_count; ++i, ++runs) {
            const MORV_LIST_RUN& r = list.m_runs[i];
            const std::string run =
                std::string(MORV_EXPERT::s_FSYN_ALGORITHM_SHORT_NAMES[r.m_algorithm]) + "(" + r.m_parameters + ")";
            EXPECT_EQ(check_reason(run), k_accepted) << run;
        }
    };
    check(MORV_CLUSTER_RETRY_LIST);
    for (const MORV_DEFAULT_LISTS* f : families) {
        for (const MORV_EFFORT_LISTS* e : {&f->m_early, &f->m_late}) {
            check(e->m_fast);
            check(e->m_normal);
            check(e->m_extra);
        }
        check(f->m_fit_early_head);
        check(f->m_late_characteristic);
        check(f->m_late_cutoff);
    }
    EXPECT_GT(runs, 50);
}

// Text after a run's ')', keys the algorithm does not read and values its
// reader would take for 0: one row each, with the reason and the character
// (1-based in the message, 0-based here) where it shows.
TEST(MorvRunListTest, TextAfterARunAndParametersNoAlgorithmReadsAreRefused)
{
    struct ROW
    {
        const char* text;
        const char* reason;
        size_t at;
    };
    const ROW rows[] = {
        {"RTM() RESYN()", "'R' after the run's closing ')' (runs are separated by ';')", 6},
        {"RTM()RESYN()", "'R' after the run's closing ')' (runs are separated by ';')", 5},
        {"RTM()RTM()", "'R' after the run's closing ')' (runs are separated by ';')", 5},
        {"TEST()x", "'x' after the run's closing ')' (runs are separated by ';')", 6},
        {"TEST(A=(b))", "')' after the run's closing ')' (runs are separated by ';')", 10},
        {"TEST()|LIR() \x01", "byte 0x01 after the run's closing ')' (runs are separated by ';')", 13},
        {"RTM(x=1)", "algorithm RTM has no parameter \"x\"", 4},
        {"TEST(NP=1: GI=2)", "algorithm TEST has no parameter \"GI\"", 11},
        {"RTM(=)", "a parameter without a key before its '='", 4},
        {"TEST(NP=1:=3)", "a parameter without a key before its '='", 10},
        {"TEST(A)", "parameter \"A\" has no '=' (parameters are KEY=VALUE joined by ':')", 5},
        {"RTM(SKEW_RTM=99999999999999999999)",
         "parameter SKEW_RTM of RTM takes a whole number from -2147483648 to 2147483647, not "
         "\"99999999999999999999\"",
         4},
        {"TEST(NP=2147483648)",
         "parameter NP of TEST takes a whole number from -2147483648 to 2147483647, not \"2147483648\"", 5},
        {"TEST(NP=1.5)", "parameter NP of TEST takes a whole number from -2147483648 to 2147483647, not \"1.5\"", 5},
        {"TEST(NI=2x)", "parameter NI of TEST takes a whole number from -2147483648 to 2147483647, not \"2x\"", 5},
        {"TEST(EFFORT=abc)", "parameter EFFORT of TEST takes a decimal number, not \"abc\"", 5},
        {"TEST(SRT=1e999)", "parameter SRT of TEST takes a decimal number, not \"1e999\"", 5},
        {"TEST(SRT=nan)", "parameter SRT of TEST takes a decimal number, not \"nan\"", 5},
        {"TEST(FOM=big)", "parameter FOM of TEST takes a decimal number or SMALL_DOUBLE, not \"big\"", 5},
        {"TEST(FOM=NOT_A_SMALL_DOUBLE)",
         "parameter FOM of TEST takes a decimal number or SMALL_DOUBLE, not \"NOT_A_SMALL_DOUBLE\"", 5},
        {"TEST()|REMUX(CF=1)", "algorithm REMUX has no parameter \"CF\"", 13},
        // Text values the readers do not know would pick a default without a word.
        {"RTM(ALG=NOSUCH)", "parameter ALG of RTM takes GREEDY, not \"NOSUCH\"", 4},
        {"RTM(ALG=GREDY)", "parameter ALG of RTM takes GREEDY, not \"GREDY\"", 4},
        {"RTM(ALG=XGREEDYX)", "parameter ALG of RTM takes GREEDY, not \"XGREEDYX\"", 4},
        {"RWR(ALG=NOSUCH)", "parameter ALG of RWR takes GREEDY or RECURSIVE, not \"NOSUCH\"", 4},
        {"RESPLIT(AGG=NOSUCH)",
         "parameter AGG of RESPLIT takes only 1 (the key alone turns the mode on: leave it out to keep it off), not "
         "\"NOSUCH\"",
         8},
        {"RESPLIT(AGG=0)",
         "parameter AGG of RESPLIT takes only 1 (the key alone turns the mode on: leave it out to keep it off), not "
         "\"0\"",
         8},
        {"RESYN(DSR=x)", "parameter DSR of RESYN takes a decimal number, not \"x\"", 6},
        {"UTIL(DUMP_TIMING=banana)",
         "parameter DUMP_TIMING of UTIL takes only 1 (the key alone turns the mode on: leave it out to keep it off), "
         "not \"banana\"",
         5},
        {"UTIL(KILL=yes)",
         "parameter KILL of UTIL takes only 1 (the key alone turns the mode on: leave it out to keep it off), not "
         "\"yes\"",
         5},
        {"UTIL(REG_TEST_LATCH_LEG=2)",
         "parameter REG_TEST_LATCH_LEG of UTIL takes only 1 (the key alone turns the mode on: leave it out to keep it "
         "off), not \"2\"",
         5},
        {"UTIL(REG_TEST_MIG_LATCH=on)",
         "parameter REG_TEST_MIG_LATCH of UTIL takes only 1 (the key alone turns the mode on: leave it out to keep it "
         "off), not \"on\"",
         5},
        {"UTIL(BREAK_DONT_TOUCH=0)",
         "parameter BREAK_DONT_TOUCH of UTIL takes only 1 (the key alone turns the mode on: leave it out to keep it "
         "off), not \"0\"",
         5},
        {"UTIL(LLT_RAND_NUM_MOVES=yes)", "parameter LLT_RAND_NUM_MOVES of UTIL takes 0 or 1, not \"yes\"", 5},
        {"UTIL(LLT_DEFAULT_NO_OPS=2)", "parameter LLT_DEFAULT_NO_OPS of UTIL takes 0 or 1, not \"2\"", 5},
        {"MANUAL(FILE=/nonexistent/x)", "parameter FILE of MANUAL names no file /nonexistent/x", 7},
    };
    for (const ROW& row : rows) {
        size_t at = 0;
        EXPECT_EQ(check_reason(row.text, nullptr, &at), row.reason) << row.text;
        EXPECT_EQ(at, row.at) << row.text;
    }
    // A relative script name is looked for where the algorithm will read it.
    std::filesystem::create_directory("scripts");
    const std::string here = std::filesystem::current_path().string();
    EXPECT_EQ(check_reason("MANUAL(FILE=missing.txt)"), "parameter FILE of MANUAL names no file " + here +
                                                            "/missing.txt (a relative name is taken from the "
                                                            "compile's folder, " +
                                                            here + ")");
    EXPECT_EQ(check_reason("TEST()|MANUAL(FILE=scripts)"), "parameter FILE of MANUAL names " + here +
                                                               "/scripts, which is not a file (a relative name is "
                                                               "taken from the compile's folder, " +
                                                               here + ")");
    // A word of the user's is cut to a readable length in the reason.
    const std::string key(100000, 'K');
    const std::string reason = check_reason("TEST(" + key + "=1)");
    EXPECT_LT(reason.size(), 200u) << reason.substr(0, 300);
    EXPECT_NE(reason.find("100000 bytes"), std::string::npos) << reason.substr(0, 300);
}

// SAVE_RESTORE with BEST restores from the netlists saved before it in the
// compile: a run that saves comes first, in its part or in a flow point that
// runs earlier (EARLY, POST CLUSTERING, CLUSTER RETRY, LATE), or the string is
// refused at the BEST run. A run of no iteration saves nothing and needs nothing.
TEST(MorvRunListTest, ABestRestoreNeedsASaveBeforeIt)
{
    const std::string nothing_saved =
        "SAVE_RESTORE with BEST restores a netlist saved before it, and no run before it saves one (a SAVE_RESTORE "
        "run without BEST, earlier in its part or in the part of a flow point that runs before)";
    struct ROW
    {
        const char* text;
        size_t at;  // where the refused BEST run starts; npos: accepted
    };
    const size_t accepted = std::string::npos;
    const ROW rows[] = {
        {"SAVE_RESTORE(BEST=1)", 0},
        {"SAVE_RESTORE(BEST=-1)", 0},
        {"RTM();SAVE_RESTORE(BEST=1)", 6},
        {"SAVE_RESTORE(BEST=1)|", 0},
        {"SAVE_RESTORE(BEST=1);SAVE_RESTORE()", 0},
        {"SAVE_RESTORE(NP=0);SAVE_RESTORE(BEST=1)", 19},
        {"SAVE_RESTORE(NI=-3); SAVE_RESTORE(BEST=1)", 21},
        {"SAVE_RESTORE(BEST=0)|SAVE_RESTORE(BEST=1)|TEST()", accepted},
        {"|SAVE_RESTORE(BEST=1)||SAVE_RESTORE()", 1},
        {"SAVE_RESTORE()|SAVE_RESTORE(BEST=1)", accepted},
        {"TEST()|SAVE_RESTORE();SAVE_RESTORE(BEST=1)", accepted},
        {"SAVE_RESTORE(NP=-1:NI=2);SAVE_RESTORE(BEST=1:NP=3)", accepted},
        {"SAVE_RESTORE(BEST=1:NP=0)", accepted},
        {"SAVE_RESTORE(BEST=)", accepted},
        // Four parts: CLUSTER RETRY is written second but runs third.
        {"||SAVE_RESTORE()|SAVE_RESTORE(BEST=1)", accepted},
        {"|SAVE_RESTORE()||SAVE_RESTORE(BEST=1)", accepted},
        {"|SAVE_RESTORE(BEST=1)|SAVE_RESTORE()|", accepted},
        {"||SAVE_RESTORE(BEST=1)|SAVE_RESTORE()", 2},
        {"SAVE_RESTORE()|SAVE_RESTORE(BEST=1)|SAVE_RESTORE(BEST=1)|SAVE_RESTORE(BEST=1)", accepted},
    };
    for (const ROW& row : rows) {
        std::string bad;
        size_t at = 0;
        const std::string reason = check_reason(row.text, &bad, &at);
        if (row.at == accepted) {
            EXPECT_EQ(reason, k_accepted) << row.text;
            continue;
        }
        EXPECT_EQ(reason, nothing_saved) << row.text;
        EXPECT_EQ(at, row.at) << row.text;
        EXPECT_EQ(bad.rfind("SAVE_RESTORE(BEST=", 0), 0u) << row.text << ": " << bad;
    }
    // A flow point's part alone: what earlier points left saved counts.
    MORV_TEST_STRING_ERROR error;
    bool saved = false;
    EXPECT_FALSE(morv_check_best_restores("RTM();SAVE_RESTORE(BEST=1)", &saved, &error, 10));
    EXPECT_EQ(error.m_run, "SAVE_RESTORE(BEST=1)");
    EXPECT_EQ(error.m_position, 16u);
    saved = true;
    EXPECT_TRUE(morv_check_best_restores("SAVE_RESTORE(BEST=1)", &saved, &error));
    EXPECT_TRUE(saved);
    saved = false;
    EXPECT_TRUE(morv_check_best_restores("TEST();SAVE_RESTORE(NI=1)", &saved, &error));
    EXPECT_TRUE(saved);
    saved = false;
    EXPECT_TRUE(morv_check_best_restores("TEST();SAVE_RESTORE(NI=0)", &saved, &error));
    EXPECT_FALSE(saved);
}

TEST(MorvRunListTest, MalformedStringsNameTheOffendingRunAndWhereItShows)
{
    std::string bad;
    size_t at = 0;
    EXPECT_EQ(check_reason("TEST();REMU(NP=1)", &bad, &at), "unknown algorithm name \"REMU\"");
    EXPECT_EQ(bad, "REMU(NP=1)");
    EXPECT_EQ(at, 7u);
    EXPECT_EQ(check_reason("TEST(NP=1", &bad, &at), "the run does not end with ')'");
    EXPECT_EQ(at, 8u);
    EXPECT_EQ(check_reason("TEST(", nullptr, &at), "the run does not end with ')'");
    EXPECT_EQ(at, 5u);
    EXPECT_EQ(check_reason("TEST", nullptr, &at), "no '(' after the algorithm name");
    EXPECT_EQ(at, 4u);
    EXPECT_EQ(check_reason("a|b|c|"), "no '(' after the algorithm name");
    EXPECT_EQ(check_reason("(NP=1)", nullptr, &at), "missing algorithm name");
    EXPECT_EQ(at, 0u);
    // A ';' always ends a run, even between parentheses.
    EXPECT_EQ(check_reason("TEST(A=;B=1)", &bad), "the run does not end with ')'");
    EXPECT_EQ(bad, "TEST(A=");
    EXPECT_EQ(check_reason("TEST();;TEST()", nullptr, &at), "empty run");
    EXPECT_EQ(at, 7u);
    EXPECT_EQ(check_reason(";TEST()"), "empty run");
    EXPECT_EQ(check_reason("a()|b()|c()|d()|e()", &bad, &at), "more than three '|'");
    EXPECT_EQ(bad, "a()|b()|c()|d()|e()");
    EXPECT_EQ(at, 15u);
    // A bad run in a later part is found, at its place in the whole string.
    EXPECT_EQ(check_reason("TEST()|TEST()|TEST()|NOPE()", &bad, &at), "unknown algorithm name \"NOPE\"");
    EXPECT_EQ(at, 21u);
    EXPECT_EQ(check_reason("TEST()|REMU()", nullptr, &at), "unknown algorithm name \"REMU\"");
    EXPECT_EQ(at, 7u);
}

TEST(MorvRunListTest, TuneStringsMayUseCommas)
{
    EXPECT_EQ(morv_tune_string_to_test_string("RTM(NP=1),LIR(NI=2)"), "RTM(NP=1);LIR(NI=2)");
    MORV_TEST_STRING_ERROR error;
    EXPECT_TRUE(morv_check_test_string_part(morv_tune_string_to_test_string("RTM(NP=1),LIR(NI=2)"), &error));
    EXPECT_FALSE(morv_check_test_string_part(morv_tune_string_to_test_string("RTM(NP=1),RTM(ALG=GREDY)"), &error));
    EXPECT_EQ(error.m_run, "RTM(ALG=GREDY)");
}

}  // namespace morv_run_list_test
