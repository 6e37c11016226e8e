#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "morv/debug/morv_manual_script.h"

namespace morv_manual_script_test {

namespace {

MORV_MANUAL_SCRIPT read_text(const std::string& text)
{
    std::istringstream in(text);
    return morv_read_manual_script(in);
}

std::vector<int> problem_lines(const MORV_MANUAL_SCRIPT& script)
{
    std::vector<int> lines;
    for (const MORV_MANUAL_SCRIPT_PROBLEM& problem : script.problems) lines.push_back(problem.line);
    return lines;
}

}  // namespace

TEST(ManualScript, KeywordOnlyLinesRunNothingAndDoNotSwallowTheNextLine)
{
    // A keyword-only line, not last then last: neither borrows an id from
    // its neighbours.
    const MORV_MANUAL_SCRIPT script = read_text("fp 17\nsplit\ndemux 4\nbp\n");
    ASSERT_EQ(script.ops.size(), 2u);
    EXPECT_EQ(script.ops[0].keyword, "fp");
    EXPECT_EQ(script.ops[0].atom_id, 17);
    EXPECT_EQ(script.ops[1].keyword, "demux");
    EXPECT_EQ(script.ops[1].atom_id, 4);
    EXPECT_EQ(script.ops[1].line, 3);
    EXPECT_EQ(problem_lines(script), (std::vector<int>{2, 4}));
    EXPECT_NE(script.problems[0].text.find("split"), std::string::npos);
}

TEST(ManualScript, MalformedIdsAreReportedNotParsedAsPrefixes)
{
    const char* bad[] = {"17abc", "-3", "0x10", "12345678901234567890", "2147483648", "+5", "1 2", "1.5"};
    for (const char* argument : bad) {
        const MORV_MANUAL_SCRIPT script = read_text(std::string("resyn ") + argument + "\n");
        EXPECT_TRUE(script.ops.empty()) << argument;
        EXPECT_EQ(problem_lines(script), std::vector<int>{1}) << argument;
    }
    const MORV_MANUAL_SCRIPT largest = read_text("resyn 2147483647\nresyn 0\n");
    ASSERT_EQ(largest.ops.size(), 2u);
    EXPECT_EQ(largest.ops[0].atom_id, 2147483647);
    EXPECT_EQ(largest.ops[1].atom_id, 0);
}

TEST(ManualScript, UnknownAndCapitalisedKeywordsBlankLinesAndWindowsEnds)
{
    const MORV_MANUAL_SCRIPT script = read_text("\r\n   \nFP 17\r\nfoo\nnothing 3\n\tsplit\t 9 \r\nbp 8");
    ASSERT_EQ(script.ops.size(), 2u);
    EXPECT_EQ(script.ops[0].keyword, "split");
    EXPECT_EQ(script.ops[0].atom_id, 9);
    EXPECT_EQ(script.ops[0].line, 6);
    EXPECT_EQ(script.ops[1].atom_id, 8);
    EXPECT_TRUE(script.problems.empty());
}

TEST(ManualScript, LinesAt128CharactersAreReadAndLongerOnesRefusedWhole)
{
    std::string at_limit = "fp " + std::string(MORV_MANUAL_MAX_LINE - 5, ' ') + "42";
    ASSERT_EQ(at_limit.size(), 128u);
    std::string over = "fp " + std::string(MORV_MANUAL_MAX_LINE - 4, ' ') + "42";
    ASSERT_EQ(over.size(), 129u);
    // The tail of a split long line must not be read as a command of its own.
    std::string long_word = std::string(200, 'x') + " fp 5";
    const MORV_MANUAL_SCRIPT script = read_text(at_limit + "\r\n" + over + "\n" + long_word + "\n");
    ASSERT_EQ(script.ops.size(), 1u);
    EXPECT_EQ(script.ops[0].atom_id, 42);
    EXPECT_EQ(problem_lines(script), (std::vector<int>{2, 3}));
}

TEST(ManualScript, ControlAndNulBytesNeverMakeACommand)
{
    const std::string text = std::string("fp 1\0"
                                         "2\n",
                                         7) +
                             "demux \x01"
                             "3\n" +
                             std::string("sp\0lit 4\n", 9);
    const MORV_MANUAL_SCRIPT script = read_text(text);
    EXPECT_TRUE(script.ops.empty());
    EXPECT_EQ(problem_lines(script), (std::vector<int>{1, 2}));
}

TEST(ManualScript, AtomIdParserTakesOnlyWholeNumbers)
{
    EXPECT_EQ(morv_manual_parse_atom_id(" 17 "), 17);
    EXPECT_EQ(morv_manual_parse_atom_id(""), -1);
    EXPECT_EQ(morv_manual_parse_atom_id("17abc"), -1);
    EXPECT_EQ(morv_manual_script_command("fp"), 1);
    EXPECT_EQ(morv_manual_script_command("resyn"), 5);
    EXPECT_EQ(morv_manual_script_command("Resyn"), -1);
}

}  // namespace morv_manual_script_test
