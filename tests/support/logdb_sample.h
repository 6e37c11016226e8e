#pragma once
// A change log in text form with one record of every kind, each field set
// to a value other than its default, so that a field lost on the way through
// the binary form shows up as a difference.

#include <string>
#include <vector>

inline std::vector<std::string> logdb_sample_lines()
{
    return {
        "43 0 \"7.2\" 6",
        "42 1",
        "27 2 12 \"n0\" [0 1 3] [\"a\" \"GND\" \"DISCONNECT\"] 0xfffe [8 9] [\"n0\" \"n0~reg\"] 4 \"part \\\"p\\\"\" 1",
        "44 3 13 \"clk\" \"pin\\\\x\" \"clk~out\" \"\" 7",
        "2 4 14 \"n1\" \"n0\" 1 0",
        "6 5 14 \"n1\" 11 2",
        "7 6 14 \"n1\" \"n1~out\" 8",
        "8 7 12 \"n0\" 1 0x8888 1",
        "9 8 12 \"n0\" 29 3 0",
        "10 9 12 \"n0\" 11 1 8",
        "11 10 12 \"n0\" 11 1 8 1",
        "12 11 12 \"n0\" 11 1 8 -5",
        "13 12 12 \"n0\" 11 1 8 1",
        "14 13 12 \"n0\" 12 0",
        "15 14 12 \"n0\" 12 0",
        "16 15 12 \"n0\" 3 0 17",
        "17 16 12 \"n0\" 3 0",
        "18 17 12 \"n0\" 29 2",
        "19 18 12 \"n0\" 16",
        "20 19 12 \"n0\" 8 \"n0_renamed\\n\\t\"",
        "21 20 12 \"n0\" 5 65535",
        "23 21 12 \"n0\" \"a~out\" \"b~out\"",
        "24 22 12 \"n0\" 13 0 \"bp_in[3]\"",
        "25 23 12 \"n0\" 13 0",
        "26 24 12 \"n0\" 11 0 1 -16 1 0 0 1",
        "28 25 12 \"n0\" [\"UNCHANGED\" \"GND\" \"n3~out\" \"DISCONNECT\"]",
        "29 26 15 \"r0\" [\"VCC\" \"UNCHANGED\"]",
        "30 27 16 \"io0\" []",
        "31 28 17 \"ram0\" [\"n0~out\" \"DISCONNECT\"] [40 41] [0 7]",
        "32 29 18 \"mac0\" 20 1",
        "33 30 18 \"mac0\" 21 -1",
        "34 31 18 \"mac0\" 22 2",
        "35 32 18 \"mac0\" 23 3",
        "36 33 18 \"mac0\" 24 18",
        "37 34 19 \"n9\"",
        "38 35 19 \"n9\" \"n10\"",
        "39 36 \"a~out\" \"a~out\" \"a~out_NEW\"",
        "40 37 12 \"n0\"",
        "41 38 12 \"n0\" 8",
        "45 39 \"p1\" \"p1\"",
        "3 40 14 \"n1\" [\"n1~out\" \"n1~cout\"] 1",
        "1 41",
        "0 42",
    };
}

inline std::string logdb_sample_text()
{
    std::string text;
    for (const std::string& line : logdb_sample_lines()) text += line + "\n";
    return text;
}
