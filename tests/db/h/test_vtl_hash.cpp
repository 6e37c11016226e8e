#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "mem/mem.h"
#include "msg/msg.h"
#include "vtl_hash_lite_sys.h"
#include "vtl_hash_set_lite_sys.h"
#include "vtl_hash_sys.h"

namespace test_vtl_hash {

namespace {

bool is_prime(uint32_t n)
{
    if (n < 2) return false;
    for (uint32_t d = 2; uint64_t(d) * d <= n; ++d)
        if (n % d == 0) return false;
    return true;
}

long long live_morv_objects()
{
    return mem_get_tag_stats("MORV").live_objects;
}

// A three-int key hashed by its own rule, as the canonical output terms are.
struct TRIPLE_KEY
{
    int k0, k1, k2;
    bool operator==(const TRIPLE_KEY& other) const { return k0 == other.k0 && k1 == other.k1 && k2 == other.k2; }
};
uint32_t vtl_hash_key(const TRIPLE_KEY& key)
{
    return uint32_t(key.k0) * 4095u + uint32_t(key.k1) * 41u + uint32_t(key.k2);
}

// Value with a non-trivial default and a live count, to see values reset
// on erase and destroyed on clear.
struct TRACKED
{
    static int s_live;
    int m_id = -1;
    TRACKED() { ++s_live; }
    TRACKED(const TRACKED& other) : m_id(other.m_id) { ++s_live; }
    TRACKED& operator=(const TRACKED&) = default;
    ~TRACKED() { --s_live; }
};
int TRACKED::s_live = 0;

template <typename TABLE>
std::vector<int> keys_in_iteration_order(const TABLE& table)
{
    std::vector<int> keys;
    for (const auto& node : table) keys.push_back(int(node.first));
    return keys;
}

// ---------------------------------------------------------------- hashing

TEST(VtlHashKey, FoldsWideKeysAndKeepsNarrowOnes)
{
    EXPECT_EQ(VTL_HASH_KEY<int>()(12345), 12345u);
    EXPECT_EQ(VTL_HASH_KEY<unsigned>()(0xffffffffu), 0xffffffffu);
    uint64_t wide = 0x0000000500000003ull;  // upper 5, lower 3
    EXPECT_EQ(VTL_HASH_KEY<uint64_t>()(wide), (5u >> 1) ^ (3u << 1));
    int* pointer = reinterpret_cast<int*>(uintptr_t(0x7f0012345678ull));
    EXPECT_EQ(VTL_HASH_KEY<int*>()(pointer), (0x7f00u >> 1) ^ (0x12345678u << 1));
    EXPECT_EQ(VTL_HASH_KEY<TRIPLE_KEY>()(TRIPLE_KEY{1, 2, 3}), 4095u + 82u + 3u);
    EXPECT_EQ(VTL_HASH_KEY_MULTIPLY<int>()(3), 3u * 16777619u);
}

// ---------------------------------------------------------------- VTL_HASH

TEST(VtlHash, GrowsByHalfToPrimesAndKeepsEveryEntry)
{
    VTL_HASH<int, int> table(61);
    EXPECT_EQ(table.bucket_count(), 61u);
    std::vector<uint32_t> sizes = {61};
    for (int i = 0; i < 20000; ++i) {
        uint32_t before = table.bucket_count();
        table[i * 7] = i;
        uint32_t after = table.bucket_count();
        if (after != before) {
            // Growth happens exactly when (count / 4) * 5 passes the old size,
            // to the 50 % increase of that figure.
            uint32_t wanted = (table.size() / 4) * 5;
            EXPECT_GT(wanted, before);
            EXPECT_EQ(after, vtl_hash_50_percent_increase_size(wanted));
            EXPECT_EQ(table.collision_count(), 0u);  // rehash resets the statistic
            sizes.push_back(after);
        } else {
            EXPECT_LE((table.size() / 4) * 5, after);
        }
    }
    EXPECT_GT(sizes.size(), 4u);
    for (size_t i = 0; i < sizes.size(); ++i) {
        EXPECT_TRUE(is_prime(sizes[i])) << sizes[i];
        if (i) {
            EXPECT_GE(uint64_t(sizes[i]) * 2, uint64_t(sizes[i - 1]) * 3);
        }
    }
    EXPECT_EQ(table.size(), 20000u);
    std::map<int, int> seen;
    for (const auto& node : table) seen[node.first] = node.second;
    ASSERT_EQ(seen.size(), 20000u);
    for (int i = 0; i < 20000; ++i) EXPECT_EQ(seen[i * 7], i);
    EXPECT_TRUE(table.contains(7 * 19999));
    EXPECT_FALSE(table.contains(1));
    EXPECT_EQ(table.find(1), table.end());
}

TEST(VtlHash, NewKeysGoToTheHeadOfTheirChain)
{
    VTL_HASH<int, int> table(7);
    table[3] = 1;
    table[10] = 2;  // same bucket as 3
    table[17] = 3;
    EXPECT_EQ(keys_in_iteration_order(table), (std::vector<int>{17, 10, 3}));
    EXPECT_EQ(table.collision_count(), 2u);
    // Growth moves each chain from its head to the heads of the new chains.
    for (int k = 0; k < 7; ++k)
        if (k != 3) table[k] = 0;
    ASSERT_GT(table.bucket_count(), 7u);
    uint32_t buckets = table.bucket_count();
    int a = 100 * int(buckets) + 5, b = a + int(buckets);
    table[a] = 0;
    table[b] = 0;
    std::vector<int> order = keys_in_iteration_order(table);
    auto pos = [&](int key) { return std::find(order.begin(), order.end(), key) - order.begin(); };
    EXPECT_EQ(pos(b) + 1, pos(a));
    EXPECT_EQ(table[0], 0);
    EXPECT_EQ(table[17], 3);
}

TEST(VtlHash, ClearKeepsBucketsAndCopyReproducesTheTable)
{
    long long live = live_morv_objects();
    {
        VTL_HASH<uint64_t, double> source;
        for (uint64_t i = 0; i < 500; ++i) source[i << 33] = double(i) / 2;
        EXPECT_GT(live_morv_objects(), live + 500);

        VTL_HASH<uint64_t, double> copy(11);
        copy[42] = 1.0;
        copy = source;
        EXPECT_EQ(copy.bucket_count(), source.bucket_count());
        EXPECT_EQ(copy.size(), 500u);
        for (uint64_t i = 0; i < 500; ++i) EXPECT_EQ(copy[i << 33], double(i) / 2);
        EXPECT_FALSE(copy.contains(42));

        auto& self = copy;
        copy = self;
        EXPECT_EQ(copy.size(), 500u);
        EXPECT_EQ(copy[uint64_t(7) << 33], 3.5);

        VTL_HASH<uint64_t, double> constructed(source);
        EXPECT_EQ(constructed.size(), 500u);
        std::vector<VTL_HASH<uint64_t, double>> saved;
        for (int i = 0; i < 3; ++i) saved.push_back(source);  // as the snapshot copies are kept
        EXPECT_EQ(saved[0][uint64_t(9) << 33], 4.5);

        uint32_t buckets = source.bucket_count();
        source.clear();
        EXPECT_EQ(source.size(), 0u);
        EXPECT_EQ(source.bucket_count(), buckets);
        EXPECT_EQ(source.begin(), source.end());
        EXPECT_EQ(source[5], 0.0);  // a new key's value starts zero
    }
    EXPECT_EQ(live_morv_objects(), live);

    // The collision statistic describes the bucket layout since the last
    // rehash; emptying the chains is not a rehash.
    VTL_HASH<int, int> small(7);
    small[3] = 1;
    small[10] = 2;
    ASSERT_EQ(small.collision_count(), 1u);
    small.clear();
    EXPECT_EQ(small.collision_count(), 1u);
    small[3] = 1;
    small[10] = 2;
    EXPECT_EQ(small.collision_count(), 2u);
}

TEST(VtlHash, UserKeysUseTheirOwnHash)
{
    VTL_HASH<TRIPLE_KEY, int> table;
    for (int i = 0; i < 300; ++i) table[TRIPLE_KEY{i, i % 4, 2}] = i;
    for (int i = 0; i < 300; ++i) EXPECT_EQ((table[TRIPLE_KEY{i, i % 4, 2}]), i);
    EXPECT_EQ(table.size(), 300u);
}

// ---------------------------------------------------------------- VTL_HASH_LITE

TEST(VtlHashLite, StartsSizedForFortyEightEntriesAndGrowsByHalf)
{
    VTL_HASH_LITE<int, int> table;
    uint32_t initial = table.bucket_count();
    const auto factor = vtl_hash_load_factor_to_resize;
    EXPECT_TRUE(is_prime(initial));
    EXPECT_GE(uint64_t(initial) * factor.numerator, uint64_t(48) * factor.denominator);
    uint32_t growths = 0;
    for (int i = 0; i < 50000; ++i) {
        uint32_t before = table.bucket_count();
        table[i] = i + 1;
        if (table.bucket_count() != before) {
            ++growths;
            // Only once the count passed the load factor of the old size.
            EXPECT_GT(uint64_t(table.size()) * factor.denominator, uint64_t(before) * factor.numerator);
            EXPECT_EQ(table.bucket_count(), vtl_hash_lite_50_percent_increase_size(before));
            EXPECT_TRUE(is_prime(table.bucket_count()));
        }
    }
    EXPECT_GT(growths, 5u);
    EXPECT_EQ(table.size(), 50000u);
    size_t visited = 0;
    for (const auto& node : table) {
        EXPECT_EQ(node.second, node.first + 1);
        ++visited;
    }
    EXPECT_EQ(visited, 50000u);
}

TEST(VtlHashLite, ErasingWhileIteratingRecyclesNodesWithDefaultValues)
{
    TRACKED::s_live = 0;
    {
        VTL_HASH_LITE<int, TRACKED> table(256);
        for (int i = 0; i < 1000; ++i) table[i].m_id = i;
        for (auto it = table.begin(); it != table.end();) {
            if (it->first % 2 == 0) it = table.erase(it);
            else ++it;
        }
        EXPECT_EQ(table.size(), 500u);
        for (int i = 0; i < 1000; ++i) EXPECT_EQ(table.contains(i), i % 2 == 1) << i;
        // Recycled nodes come back with the value type's default.
        for (int i = 2000; i < 2500; ++i) EXPECT_EQ(table[i].m_id, -1);
        EXPECT_EQ(table.size(), 1000u);
        EXPECT_EQ(table[999].m_id, 999);
    }
    EXPECT_EQ(TRACKED::s_live, 0);
}

TEST(VtlHashLite, IteratorFromBeforeAGrowthIsAnInternalError)
{
    VTL_HASH_LITE<int, int> table;
    table[1] = 1;
    auto stale = table.begin();
    for (int i = 2; i < 200; ++i) table[i] = i;  // grows
    try {
        table.erase(stale);
        FAIL() << "erase through a stale iterator was accepted";
    } catch (const MSG_INTERNAL_ERROR_EXCEPTION& error) {
        EXPECT_EQ(error.get_condition(), "(m_hash != 0) && (m_bucket_cnt == m_hash->bucket_count())");
    }
    EXPECT_THROW(++stale, MSG_INTERNAL_ERROR_EXCEPTION);
    EXPECT_EQ(table.size(), 199u);

    // A clear invalidates iterators even when the bucket count comes back
    // unchanged: the nodes they point at are gone.
    VTL_HASH_LITE<int, int> small;
    small[5] = 5;
    auto before_clear = small.find(5);
    small.clear();
    small[5] = 6;
    EXPECT_THROW((void)before_clear->second, MSG_INTERNAL_ERROR_EXCEPTION);
    auto fresh = small.find(5);
    EXPECT_EQ(fresh->second, 6);
}

TEST(VtlHashLite, ClearReleasesEverythingAndStartsAfresh)
{
    long long live = live_morv_objects();
    TRACKED::s_live = 0;
    {
        VTL_HASH_LITE<uint64_t, TRACKED> table(720);
        uint32_t initial = table.bucket_count();
        for (uint64_t i = 0; i < 5000; ++i) table[i << 32 | i].m_id = int(i);
        EXPECT_GT(table.bucket_count(), initial);
        table.clear();
        EXPECT_EQ(TRACKED::s_live, 0);
        EXPECT_EQ(table.size(), 0u);
        EXPECT_EQ(table.bucket_count(), initial);
        EXPECT_EQ(table.begin(), table.end());
        table[3].m_id = 3;
        EXPECT_EQ(table.size(), 1u);
        EXPECT_EQ(table.bucket_count(), initial);
        table.free_nodes();
        EXPECT_EQ(table.size(), 0u);
        EXPECT_EQ(TRACKED::s_live, 0);
        EXPECT_EQ(table[3].m_id, -1);
    }
    EXPECT_EQ(TRACKED::s_live, 0);
    EXPECT_EQ(live_morv_objects(), live);
}

// ---------------------------------------------------------------- VTL_HASH_SET_LITE

TEST(VtlHashSetLite, InsertReportsNewKeysAndSurvivesGrowth)
{
    VTL_HASH_SET_LITE<unsigned> set(256);
    EXPECT_TRUE(set.insert(10));
    EXPECT_FALSE(set.insert(10));
    for (unsigned i = 0; i < 3000; ++i) set.insert(i * 3);
    EXPECT_EQ(set.size(), 3001u);  // 10 is not a multiple of 3
    EXPECT_TRUE(is_prime(set.bucket_count()));
    for (unsigned i = 0; i < 3000; ++i) EXPECT_FALSE(set.insert(i * 3));
    EXPECT_TRUE(set.contains(10));
    EXPECT_FALSE(set.contains(11));
    size_t visited = 0;
    for (const auto& node : set) {
        EXPECT_TRUE(node.first == 10 || node.first % 3 == 0);
        ++visited;
    }
    EXPECT_EQ(visited, 3001u);
}

TEST(VtlHashSetLite, CopyAndSelfAssignment)
{
    VTL_HASH_SET_LITE<unsigned> a;
    for (unsigned i = 0; i < 100; ++i) a.insert(i * 11);
    VTL_HASH_SET_LITE<unsigned> b;
    b.insert(5);
    b = a;
    EXPECT_EQ(b.size(), 100u);
    EXPECT_FALSE(b.contains(5));
    for (unsigned i = 0; i < 100; ++i) EXPECT_TRUE(b.contains(i * 11));
    auto& self = b;
    b = self;
    EXPECT_EQ(b.size(), 100u);
    VTL_HASH_SET_LITE<unsigned> c(a);
    EXPECT_EQ(c.size(), 100u);
    a.clear();
    EXPECT_TRUE(c.contains(99 * 11));
    EXPECT_TRUE(a.empty());
}

TEST(VtlHashSetLite, StaleIteratorNamesTheSet)
{
    VTL_HASH_SET_LITE<unsigned> set;
    set.insert(1);
    auto stale = set.begin();
    for (unsigned i = 2; i < 500; ++i) set.insert(i);
    try {
        (void)stale->first;
        FAIL() << "a stale set iterator was accepted";
    } catch (const MSG_INTERNAL_ERROR_EXCEPTION& error) {
        EXPECT_EQ(error.get_condition(), "(m_set != 0) && (m_bucket_cnt == m_set->bucket_count())");
    }
}

}  // namespace

}  // namespace test_vtl_hash
