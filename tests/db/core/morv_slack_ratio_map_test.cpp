#include <gtest/gtest.h>

#include <map>
#include <random>
#include <tuple>

#include "morv/core/morv_slack_ratio_map.h"

namespace morv_slack_ratio_map_test {

namespace {

MORV_CANONICAL_ITERM key_of(int atom, int port, int index)
{
    MORV_CANONICAL_ITERM key;
    key.m_atom_id = atom;
    key.m_port_type = port;
    key.m_port_index = index;
    return key;
}

std::tuple<int, int, int> tuple_of(const MORV_CANONICAL_ITERM& key)
{
    return {key.m_atom_id, key.m_port_type, key.m_port_index};
}

// The sorted block answers as an ordered map of the same entries would,
// whether it was filled at once in any order or a key at a time.
TEST(MorvSlackRatioMap, AnswersAsAnOrderedMapOfTheSameEntries)
{
    std::mt19937 random(7);
    std::map<std::tuple<int, int, int>, double> oracle;
    MORV_SLACK_RATIO_MAP::LIST entries;
    for (int i = 0; i < 400; ++i) {
        const MORV_CANONICAL_ITERM key =
            key_of(static_cast<int>(random() % 60), static_cast<int>(random() % 5), static_cast<int>(random() % 3) - 1);
        if (!oracle.emplace(tuple_of(key), i / 400.0).second) continue;
        entries.emplace_back(key, i / 400.0);
    }
    MORV_SLACK_RATIO_MAP map;
    map.assign(std::move(entries));
    ASSERT_EQ(map.size(), oracle.size());

    // A key at a time, some new and some known.
    for (int i = 0; i < 200; ++i) {
        const MORV_CANONICAL_ITERM key =
            key_of(static_cast<int>(random() % 70), static_cast<int>(random() % 5), static_cast<int>(random() % 3) - 1);
        const double before = oracle.count(tuple_of(key)) ? oracle[tuple_of(key)] : 0.0;
        EXPECT_EQ(map[key], before);
        map[key] = -i;
        oracle[tuple_of(key)] = -i;
    }
    ASSERT_EQ(map.size(), oracle.size());
    auto expected = oracle.begin();
    for (const auto& entry : map) {
        EXPECT_EQ(tuple_of(entry.first), expected->first);
        EXPECT_EQ(entry.second, expected->second);
        ++expected;
    }
    for (int atom = -1; atom <= 70; ++atom)
        for (int port = 0; port < 5; ++port)
            for (int index = -1; index <= 1; ++index) {
                const MORV_CANONICAL_ITERM key = key_of(atom, port, index);
                const auto known = oracle.find(tuple_of(key));
                ASSERT_EQ(map.count(key), known != oracle.end() ? 1u : 0u);
                if (known != oracle.end()) {
                    EXPECT_EQ(map.find(key)->second, known->second);
                }
            }

    map.clear();
    EXPECT_TRUE(map.empty());
    EXPECT_TRUE(map.find(key_of(1, 1, 0)) == map.end());
}

}  // namespace

}  // namespace morv_slack_ratio_map_test
