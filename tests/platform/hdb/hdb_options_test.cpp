#include <gtest/gtest.h>

#include <fstream>

#include "hdb/hdb_action_pt_instance.h"
#include "hdb/hdb_instance_name.h"
#include "hdb/hdb_options.h"

namespace hdb_options_test {

namespace {

TEST(HdbOptionsTest, AbsentIsDistinctFromEveryValue)
{
    HDB_ACTION_PT_INSTANCE ap;
    EXPECT_FALSE(HDB_BOOL_OPTION::get_bool_option(&ap, 662).has_value());
    EXPECT_FALSE(HDB_INT_OPTION::get_int_option(&ap, 566).has_value());
    EXPECT_FALSE(HDB_ENUM_OPTION::get_enum_option(&ap, 696).has_value());
    EXPECT_FALSE(HDB_STRING_OPTION::get_string_option(&ap, 634).has_value());

    ap.get_options().set_bool(662, false);
    ap.get_options().set_int(566, 0);
    ap.get_options().set_enum(696, 0);
    ap.get_options().set_string(634, "");
    EXPECT_EQ(HDB_BOOL_OPTION::get_bool_option(&ap, 662), std::optional<bool>(false));
    EXPECT_EQ(HDB_INT_OPTION::get_int_option(&ap, 566), std::optional<int>(0));
    EXPECT_EQ(HDB_ENUM_OPTION::get_enum_option(&ap, 696), std::optional<int>(0));
    EXPECT_EQ(HDB_STRING_OPTION::get_string_option(&ap, 634), std::optional<std::string>(""));

    ap.get_options().unset(662);
    EXPECT_FALSE(HDB_BOOL_OPTION::get_bool_option(&ap, 662).has_value());
    // A null action point or instance reads as absent.
    EXPECT_FALSE(HDB_BOOL_OPTION::get_bool_option(static_cast<const HDB_ACTION_PT_INSTANCE*>(nullptr), 1));
    EXPECT_FALSE(HDB_BOOL_OPTION::get_bool_option(&ap, nullptr, 1));
}

TEST(HdbOptionsTest, TextsOfTheWrongTypeReadAsAbsent)
{
    HDB_OPTION_SET set;
    set.set_string(1, "maybe");
    set.set_string(2, "12abc");
    set.set_string(3, "TRUE");
    EXPECT_FALSE(HDB_BOOL_OPTION::get_bool_option(&set, 1).has_value());
    EXPECT_FALSE(HDB_INT_OPTION::get_int_option(&set, 2).has_value());
    EXPECT_EQ(HDB_BOOL_OPTION::get_bool_option(&set, 3), std::optional<bool>(true));
    EXPECT_EQ(HDB_STRING_OPTION::get_string_option(&set, 2), std::optional<std::string>("12abc"));
}

TEST(HdbOptionsTest, ProjectChipAndInstanceLevelsAreSeparate)
{
    HDB_ACTION_PT_INSTANCE ap;
    HDB_NAME_MGR names("top");
    HDB_INSTANCE_NAME* a = names.find_or_create_path("u|a", 0);
    HDB_INSTANCE_NAME* b = names.find_or_create_path("u|b", 0);
    ap.get_options().set_bool(662, true);
    ap.get_chip().set_string(479, "<None>");
    ap.edit_instance_options(a).set_bool(662, false);
    ap.edit_instance_options(a).set_int(666, 3);

    EXPECT_EQ(HDB_BOOL_OPTION::get_bool_option(&ap, 662), std::optional<bool>(true));
    EXPECT_EQ(HDB_BOOL_OPTION::get_bool_option(&ap, a, 662), std::optional<bool>(false));
    EXPECT_FALSE(HDB_BOOL_OPTION::get_bool_option(&ap, b, 662).has_value());
    // The parent instance does not see its child's option.
    EXPECT_FALSE(HDB_BOOL_OPTION::get_bool_option(&ap, names.find_name("u"), 662).has_value());
    EXPECT_EQ(HDB_INT_OPTION::get_int_option(&ap, a, 666), std::optional<int>(3));
    EXPECT_FALSE(HDB_STRING_OPTION::get_string_option(&ap, 479).has_value());
    EXPECT_EQ(HDB_STRING_OPTION::get_string_option(&ap.get_chip(), 479), std::optional<std::string>("<None>"));

    ap.clear_instance_options(a);
    EXPECT_EQ(ap.get_instance_options(a), nullptr);
}

// A restored netlist comes with a new name manager whose names are new
// objects with the old paths: the instances keep their options.
TEST(HdbOptionsTest, InstanceOptionsFollowThePathNotTheNameObject)
{
    HDB_ACTION_PT_INSTANCE ap;
    {
        HDB_NAME_MGR old_names("top");
        ap.edit_instance_options(old_names.find_or_create_path("core|reg7", 0)).set_bool(664, true);
    }
    HDB_NAME_MGR new_names("top");
    HDB_INSTANCE_NAME* after = new_names.find_or_create_path("core|reg7", 0);
    EXPECT_EQ(HDB_BOOL_OPTION::get_bool_option(&ap, after, 664), std::optional<bool>(true));
    EXPECT_FALSE(HDB_BOOL_OPTION::get_bool_option(&ap, nullptr, 664).has_value());
    EXPECT_TRUE(ap.has_instance_options());
    ap.clear_all_instance_options();
    EXPECT_FALSE(ap.has_instance_options());
}

TEST(HdbOptionsTest, SettingsFileLoadsAndNamesABadLine)
{
    {
        std::ofstream out("hdb_ok.txt");
        out << "# project settings\n696 = 152\n634=RTM(NP=1:NI=1);REP()\n661=\n\n";
    }
    HDB_OPTION_SET set;
    set.load_file("hdb_ok.txt");
    EXPECT_EQ(HDB_ENUM_OPTION::get_enum_option(&set, 696), std::optional<int>(152));
    EXPECT_EQ(HDB_STRING_OPTION::get_string_option(&set, 634), std::optional<std::string>("RTM(NP=1:NI=1);REP()"));
    EXPECT_EQ(HDB_STRING_OPTION::get_string_option(&set, 661), std::optional<std::string>(""));

    for (const char* bad : {"696\n", "abc=1\n", "-5=1\n", "=3\n"}) {
        {
            std::ofstream out("hdb_bad.txt");
            out << "1=on\n" << bad;
        }
        try {
            set.load_file("hdb_bad.txt");
            FAIL() << bad;
        } catch (const HDB_OPTION_ERROR& e) {
            EXPECT_NE(std::string(e.what()).find("hdb_bad.txt:2"), std::string::npos) << e.what();
        }
    }
    EXPECT_THROW(set.load_file("hdb_missing.txt"), HDB_OPTION_ERROR);
}

TEST(HdbActionPointTest, NameManagerAndSourceFiles)
{
    HDB_ACTION_PT_INSTANCE ap;
    EXPECT_EQ(ap.get_name_mgr(), nullptr);
    int storage = 0;
    auto* mgr = reinterpret_cast<HDB_NAME_MGR*>(&storage);
    ap.set_name_mgr(mgr);
    EXPECT_EQ(ap.get_name_mgr(), mgr);
    HDB_SOURCE_FILE* f = ap.create_source_file("db/p.0.rmp.mif", 12);
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(f->kind, 12);
    EXPECT_EQ(ap.get_source_files().size(), 1u);
}

}  // namespace

}  // namespace hdb_options_test
