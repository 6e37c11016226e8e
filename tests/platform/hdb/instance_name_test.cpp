#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "hdb/hdb_instance_name.h"

namespace instance_name_test {

namespace {

TEST(HdbNames, PathsBelowAndToTheRoot)
{
    HDB_NAME_MGR m("top");
    HDB_INSTANCE_NAME* c = m.find_or_create_path("a|b|c", HDB_INAME_FLAG_FROM_NETLIST);
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(c->get_short_hpath(), "a|b|c");
    EXPECT_EQ(c->get_hpath_to_root(), "top|a|b|c");
    EXPECT_EQ(c->get_leaf(), "c");
    EXPECT_EQ(c->get_parent()->get_short_hpath(), "a|b");
    EXPECT_EQ(c->get_parent()->get_flags(), 0u);  // ancestors made on the way carry no flags
    EXPECT_EQ(c->get_flags(), unsigned(HDB_INAME_FLAG_FROM_NETLIST));
    EXPECT_EQ(m.find_name("a|b|c"), c);
    EXPECT_EQ(m.find_name("top|a|b|c"), c);
    EXPECT_EQ(m.find_name("top"), m.get_root());
    EXPECT_EQ(m.find_name("b|c"), nullptr);
    EXPECT_EQ(m.find_or_create_path("a|b|c", 0), c);
    EXPECT_EQ(m.create_name(c->get_parent(), "c", 0), nullptr);  // taken
    EXPECT_EQ(m.get_iname(m.get_iname_id(c)), c);
    EXPECT_EQ(m.get_iname(9999), nullptr);
}

TEST(HdbNames, SynthesizedAndUniqueNamesNeverCollide)
{
    HDB_NAME_MGR m("top");
    HDB_INSTANCE_NAME* base = m.find_or_create_path("u|n", HDB_INAME_FLAG_FROM_NETLIST);
    HDB_INSTANCE_NAME* s1 = HDB_INSTANCE_NAME::create_synthesized_name(base, "_RAM", true);
    ASSERT_NE(s1, nullptr);
    EXPECT_EQ(s1->get_short_hpath(), "u|n_RAM");
    EXPECT_TRUE(s1->has_flag(HDB_INAME_FLAG_SYNTHESIZED));
    HDB_INSTANCE_NAME* s2 = HDB_INSTANCE_NAME::create_synthesized_name(base, "_RAM", true);
    ASSERT_NE(s2, nullptr);
    EXPECT_NE(s1, s2);
    EXPECT_EQ(s2->get_parent(), s1->get_parent());
    EXPECT_EQ(HDB_INSTANCE_NAME::create_synthesized_name(base, "_RAM", false), nullptr);
    EXPECT_EQ(HDB_INSTANCE_NAME::create_synthesized_name(nullptr, "_X", true), nullptr);
    HDB_INSTANCE_NAME* u1 = m.create_unique_name("w", 0);
    HDB_INSTANCE_NAME* u2 = m.create_unique_name("w", 0);
    EXPECT_EQ(u1->get_short_hpath(), "w");
    EXPECT_NE(u2->get_short_hpath(), "w");
    EXPECT_EQ(m.find_name(u2->get_short_hpath()), u2);
}

// A name becomes a level when the first name below it is made; the levels
// below one are listed depth first, each level's children in the order made.
TEST(HdbNames, LevelsAreTheNamesOthersLieBelow)
{
    HDB_NAME_MGR m("top");
    EXPECT_TRUE(m.get_hierarchies().empty());
    for (const char* path : {"a|b|c", "d|e", "a|f|g", "a|b|h|i"}) m.find_or_create_path(path, 0);
    auto paths = [](const std::vector<HDB_HIERARCHY*>& levels) {
        std::vector<std::string> out;
        for (const HDB_HIERARCHY* level : levels) out.push_back(level->get_instance_name()->get_short_hpath());
        return out;
    };
    using PATHS = std::vector<std::string>;
    EXPECT_EQ(paths(m.get_hierarchies()), (PATHS{"top", "a", "a|b", "d", "a|f", "a|b|h"}));
    HDB_HIERARCHY* top = m.get_root()->get_hierarchy();
    ASSERT_NE(top, nullptr);
    EXPECT_EQ(top->get_parent(), nullptr);
    EXPECT_EQ(paths(top->get_hierarchy_subtree_list()), (PATHS{"a", "a|b", "a|b|h", "a|f", "d"}));
    HDB_HIERARCHY* ab = m.find_name("a|b")->get_hierarchy();
    EXPECT_EQ(ab->get_parent(), m.find_name("a")->get_hierarchy());
    EXPECT_EQ(ab->get_id(), m.find_name("a|b")->get_id());
    EXPECT_EQ(paths(ab->get_hierarchy_subtree_list()), (PATHS{"a|b|h"}));
    EXPECT_TRUE(m.find_name("a|b|h")->get_hierarchy()->get_hierarchy_subtree_list().empty());
    EXPECT_EQ(m.find_name("a|b|c")->get_hierarchy(), nullptr);  // nothing lies below it
}

TEST(HdbNames, RemoveActionPointPath)
{
    EXPECT_EQ(HDB_HPATH_remove_ap_hpath("top|a|b", "top"), "a|b");
    EXPECT_EQ(HDB_HPATH_remove_ap_hpath("top|a|b", "top|"), "a|b");
    EXPECT_EQ(HDB_HPATH_remove_ap_hpath("topx|a", "top"), "topx|a");  // not a path prefix
    EXPECT_EQ(HDB_HPATH_remove_ap_hpath("other|a", "top"), "other|a");
    EXPECT_EQ(HDB_HPATH_remove_ap_hpath("top", "top"), "");
}

}  // namespace

}  // namespace instance_name_test
