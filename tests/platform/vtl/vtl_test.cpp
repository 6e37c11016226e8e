#include <gtest/gtest.h>

#include <set>

#include "mem/mem.h"
#include "vtl/vtl.h"

namespace vtl_test {

namespace {

bool is_prime(uint32_t n)
{
    if (n < 2) return false;
    for (uint64_t d = 2; d * d <= n; ++d)
        if (n % d == 0) return false;
    return true;
}

TEST(VtlTest, NextPrime)
{
    EXPECT_EQ(vtl_hash_lite_get_next_prime(0), 2u);
    EXPECT_EQ(vtl_hash_lite_get_next_prime(2), 2u);
    EXPECT_EQ(vtl_hash_lite_get_next_prime(3), 3u);
    EXPECT_EQ(vtl_hash_lite_get_next_prime(4), 5u);
    EXPECT_EQ(vtl_hash_lite_get_next_prime(61), 61u);
    EXPECT_EQ(vtl_hash_lite_get_next_prime(62), 67u);
    EXPECT_EQ(vtl_hash_lite_get_next_prime(65), 67u);  // 65 = 5 x 13
    EXPECT_EQ(vtl_hash_lite_get_next_prime(4294967290u), 4294967291u);
    EXPECT_EQ(vtl_hash_lite_get_next_prime(4294967295u), 4294967291u);
}

TEST(VtlTest, GrowthIsAboutHalfToAPrime)
{
    for (auto grow : {vtl_hash_50_percent_increase_size, vtl_hash_lite_50_percent_increase_size}) {
        uint32_t n = 61;
        for (int step = 0; step < 40; ++step) {
            uint32_t next = grow(n);
            EXPECT_TRUE(is_prime(next)) << next;
            EXPECT_GE(next, n + n / 2);
            EXPECT_LT(next, n + n / 2 + n / 8 + 16);  // next prime is close
            n = next;
            if (n > 100000000u) break;
        }
        EXPECT_GT(grow(0), 0u);
        EXPECT_GT(grow(1), 1u);
        EXPECT_EQ(grow(4000000000u), 4294967291u);
    }
    EXPECT_LT(vtl_hash_load_factor_to_resize.numerator, vtl_hash_load_factor_to_resize.denominator);
    EXPECT_GT(vtl_hash_load_factor_to_resize.numerator, 0u);
}

struct NODE
{
    double key;
    NODE* next;
    int value;
};

TEST(VtlTest, PoolHandsOutDistinctAlignedElementsAndReleasesAll)
{
    {
        VTL_MEM_POOL pool(sizeof(NODE), VTL_MEM_POOL_SETUP{4, 256, 4096, 4, 7});
        std::set<void*> seen;
        for (int i = 0; i < 5000; ++i) {
            void* p = pool.allocate();
            EXPECT_EQ(reinterpret_cast<std::uintptr_t>(p) % alignof(NODE), 0u);
            EXPECT_TRUE(seen.insert(p).second);
            auto* node = static_cast<NODE*>(p);  // write the whole element
            node->key = i;
            node->next = nullptr;
            node->value = i;
        }
        EXPECT_EQ(pool.get_allocated_count(), 5000u);
        EXPECT_GT(mem_get_tag_stats("VTL").live_bytes, 0);
        pool.release_all();
        EXPECT_EQ(pool.get_allocated_count(), 0u);
        EXPECT_EQ(mem_get_tag_stats("VTL").live_bytes, 0);
        EXPECT_NE(pool.allocate(), nullptr);  // usable after release
    }
    EXPECT_EQ(mem_get_tag_stats("VTL").live_objects, 0);
}

}  // namespace

}  // namespace vtl_test
