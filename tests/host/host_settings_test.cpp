// Settings from a file or the command line: a setting id nothing reads, a
// switch no reader knows and a value its reader cannot take are refused
// with the line they came from, since every reader would otherwise fall back
// to its default without a word. What is accepted is read as written.
#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "cfg/cfg.h"
#include "hdb/hdb_options.h"
#include "host_settings.h"

namespace host_settings_test {

namespace {

using morv_host::HOST_INPUT_ERROR;
using morv_host::HOST_SETTINGS;

// The error of adding KEY=VALUE, "" when it is taken.
std::string fault_of(const std::string& key, const std::string& value)
{
    HOST_SETTINGS s;
    try {
        s.add(key, value, "--set " + key);
    } catch (const HOST_INPUT_ERROR& e) {
        EXPECT_FALSE(s.has_option(566));
        return e.what();
    }
    return "";
}

std::string fault_of_file(const std::string& path, const std::string& text)
{
    std::ofstream(path, std::ios::binary) << text;
    HOST_SETTINGS s;
    try {
        s.load_file(path);
    } catch (const HOST_INPUT_ERROR& e) {
        return e.what();
    }
    return "";
}

TEST(HostSettingValues, ProjectSettingsTakeOnlyValuesOfTheirKind)
{
    // The placer seed is a whole number (an explicit -1 included).
    EXPECT_EQ(fault_of("566", "7"), "");
    EXPECT_EQ(fault_of("566", " -1 "), "");
    EXPECT_EQ(fault_of("566", "abc"), "--set 566: setting 566 takes a whole number, found 'abc'");
    EXPECT_EQ(fault_of("566", "7.5"), "--set 566: setting 566 takes a whole number, found '7.5'");
    EXPECT_EQ(fault_of("566", "99999999999"), "--set 566: setting 566 takes a whole number, found '99999999999'");
    // Optimisation settings are on or off.
    for (const char* value : {"on", "OFF", "true", "0"}) EXPECT_EQ(fault_of("662", value), "") << value;
    EXPECT_EQ(fault_of("662", "maybe"), "--set 662: setting 662 takes on or off, found 'maybe'");
    EXPECT_EQ(fault_of("660", ""), "--set 660: setting 660 takes on or off, found ''");
    // The effort is one of its three values.
    for (const char* value : {"81", "65", "152"}) EXPECT_EQ(fault_of("696", value), "") << value;
    for (const char* value : {"foo", "0", "80", "fast"})
        EXPECT_EQ(fault_of("696", value),
                  "--set 696: setting 696 takes 81 (fast), 65 (normal) or 152 (extra), found '" + std::string(value) +
                      "'");
    // Texts are taken as they are.
    EXPECT_EQ(fault_of("634", "RTM(NP=1)"), "");
    EXPECT_EQ(fault_of("479", ""), "");
    // An id nothing reads would be dropped without a word.
    for (const char* id : {"123", "0", "567", "99999999999"})
        EXPECT_EQ(fault_of(id, "1"), "--set " + std::string(id) + ": no project setting has the id '" + id + "'");
}

TEST(HostSettingValues, SwitchesMustBeKnownAndTakeTheirKindOfValue)
{
    EXPECT_EQ(fault_of("fsyn_use_drc", "off"), "");
    EXPECT_EQ(fault_of("tdc_clock_period_ps.clk", "2500"), "");
    EXPECT_EQ(fault_of("fsyn_overuse_ratio", "0.9"), "");
    EXPECT_EQ(fault_of("fsyn_no_such_switch", "on"),
              "--set fsyn_no_such_switch: unknown switch 'fsyn_no_such_switch' (is it misspelt?)");
    // A misspelt assignment key is no switch either.
    EXPECT_EQ(fault_of("dont_tuoch", "n1"), "--set dont_tuoch: unknown switch 'dont_tuoch' (is it misspelt?)");
    EXPECT_EQ(fault_of("fsyn_use_drc", "yes"),
              "--set fsyn_use_drc: switch 'fsyn_use_drc' takes on or off (or true/false, 1/0), found 'yes'");
    EXPECT_EQ(fault_of("tdc_clock_period_ps", "-5"),
              "--set tdc_clock_period_ps: switch 'tdc_clock_period_ps' takes a whole number from 1 to 1000000000, "
              "found '-5'");
    EXPECT_EQ(fault_of("tdc_clock_period_ps", "5000x"),
              "--set tdc_clock_period_ps: switch 'tdc_clock_period_ps' takes a whole number from 1 to 1000000000, "
              "found '5000x'");
}

TEST(HostSettingValues, FileErrorsNameFileAndLine)
{
    EXPECT_EQ(fault_of_file("unknown.txt", "# settings\nfsyn_use_drc=on\n\nfsyn_no_such_switch=on\n"),
              "unknown.txt:4: unknown switch 'fsyn_no_such_switch' (is it misspelt?)");
    EXPECT_EQ(fault_of_file("seed.txt", "566 = abc\r\n"), "seed.txt:1: setting 566 takes a whole number, found 'abc'");
    EXPECT_EQ(fault_of_file("effort.txt", "662=on\r696=foo\r"),
              "effort.txt:2: setting 696 takes 81 (fast), 65 (normal) or 152 (extra), found 'foo'");
    EXPECT_EQ(fault_of_file("period.txt", "tdc_clock_period_ps=5000x\n"),
              "period.txt:1: switch 'tdc_clock_period_ps' takes a whole number from 1 to 1000000000, found '5000x'");
    using namespace std::string_literals;
    EXPECT_EQ(fault_of_file("nul.txt", "566=1\n662=o\0n\n"s),
              "nul.txt: cannot read the settings file: NUL byte in line 2 (is this a text file?)");
}

// Every accepted value reads as what was written, whatever default its
// reader has.
TEST(HostSettingValues, AcceptedValuesAreReadAsWritten)
{
    cfg_clear_all();
    std::ofstream("good.txt") << "566=-1\n662=true\n696=152\n634=RTM(NP=1)\nfsyn_use_drc=0\n"
                                 "tdc_clock_period_ps.clk=2500\nfsyn_overuse_ratio=0.5\n";
    HOST_SETTINGS s;
    s.load_file("good.txt");
    HDB_OPTION_SET options;
    s.apply_options_and_switches(options);
    EXPECT_EQ(HDB_INT_OPTION::get_int_option(&options, 566), std::optional<int>(-1));
    EXPECT_EQ(HDB_BOOL_OPTION::get_bool_option(&options, 662), std::optional<bool>(true));
    EXPECT_EQ(HDB_ENUM_OPTION::get_enum_option(&options, 696), std::optional<int>(152));
    EXPECT_EQ(HDB_STRING_OPTION::get_string_option(&options, 634), std::optional<std::string>("RTM(NP=1)"));
    EXPECT_FALSE(cfg_is_on("fsyn_use_drc", true));
    EXPECT_EQ(cfg_get_int_value("tdc_clock_period_ps.clk", 1), 2500);
    EXPECT_STREQ(cfg_get_value("fsyn_overuse_ratio"), "0.5");
    cfg_clear_all();
}

}  // namespace

}  // namespace host_settings_test
