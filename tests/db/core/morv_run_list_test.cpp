#include <gtest/gtest.h>

#include <string>

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

std::string check_reason(const std::string& text, std::string* bad_run = nullptr, size_t* position = nullptr)
{
    MORV_TEST_STRING_ERROR error;
    if (morv_check_test_string(text, &error)) return "";
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

TEST(MorvRunListTest, TheGrammarAcceptsAnyParameterTextBetweenTheParentheses)
{
    EXPECT_EQ(check_reason("TEST(NP=2:NI=3)|TEST()"), "");
    EXPECT_EQ(check_reason("RTM(NP=1:NI=1);LIR();"), "");
    EXPECT_EQ(check_reason(""), "");
    // The parameter parser takes any text: a key without '=' is ignored,
    // parentheses inside the value belong to it, an empty value is absent.
    EXPECT_EQ(check_reason("TEST(A)"), "");
    EXPECT_EQ(check_reason("TEST(A=(b))"), "");
    EXPECT_EQ(check_reason("TEST(NP=(1))"), "");
    EXPECT_EQ(check_reason("TEST(NP=1:=3)"), "");
    EXPECT_EQ(check_reason("TEST(FOM=:NP=1:)"), "");
    EXPECT_EQ(check_reason(" REMUX ( NP=1 ) ; TEST() "), "");

    std::string text = "TEST(A=(b))";
    std::string name, params;
    ASSERT_TRUE(morv_cut_first_run(&text, &name, &params));
    EXPECT_EQ(params, "A=(b)");
    text = "TEST(A); ";
    ASSERT_TRUE(morv_cut_first_run(&text, &name, &params));
    EXPECT_EQ(params, "A");
    EXPECT_FALSE(morv_cut_first_run(&text, &name, &params)) << "blanks after the last ';' hold no run";
}

TEST(MorvRunListTest, MalformedStringsNameTheOffendingRunAndWhereItShows)
{
    std::string bad;
    size_t at = 0;
    EXPECT_EQ(check_reason("TEST();REMU(NP=1)", &bad, &at), "unknown algorithm name \"REMU\"");
    EXPECT_EQ(bad, "REMU(NP=1)");
    EXPECT_EQ(at, 7u);
    EXPECT_EQ(check_reason("TEST()x", &bad, &at), "the run does not end with ')'");
    EXPECT_EQ(bad, "TEST()x");
    EXPECT_EQ(at, 6u);
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
}

}  // namespace morv_run_list_test
