#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "mem/mem.h"
#include "morv_bit_vector.h"
#include "morv_simple_mem_pool.h"
#include "msg/msg.h"

namespace test_morv_bit_vector {

namespace {

// "[ 0 <last> ]": the text of a vector with its first and last bit set.
std::string first_and_last(uint64_t n)
{
    std::string text("[ 0 ");
    return text.append(std::to_string(n - 1)).append(" ]");
}

long long live_morv_objects()
{
    return mem_get_tag_stats("MORV").live_objects;
}

constexpr std::size_t s_HEADER = sizeof(MORV_SIMPLE_MEM_POOL::MEM_BLOCK_HEADER);

std::string internal_error_of(const std::function<void()>& action)
{
    try {
        action();
    } catch (const MSG_INTERNAL_ERROR_EXCEPTION& e) {
        return e.what();
    }
    return "";
}

// ---------------------------------------------------------------- bit vector

class MorvBitVectorSizes : public ::testing::TestWithParam<uint64_t>
{};

TEST_P(MorvBitVectorSizes, EveryBitUpToTheLastIsItsOwn)
{
    const uint64_t n = GetParam();
    MORV_BIT_VECTOR bits;
    bits.init(n);
    EXPECT_EQ(bits.get_num_blocks(), (n + 63) / 64);
    EXPECT_TRUE(bits.none());
    bits.set(0);
    bits.set(n - 1);
    EXPECT_TRUE(bits.test(0));
    EXPECT_TRUE(bits.test(n - 1));
    for (uint64_t i = 1; i + 1 < n; ++i) EXPECT_FALSE(bits.test(i)) << i;
    EXPECT_EQ(bits.to_string(), first_and_last(n));
    EXPECT_THROW(bits.set(n), MSG_INTERNAL_ERROR_EXCEPTION);
    EXPECT_THROW(bits.test(n), MSG_INTERNAL_ERROR_EXCEPTION);

    bits.clear(n - 1);
    EXPECT_FALSE(bits.test(n - 1));
    EXPECT_TRUE(bits.test(0));

    // Full vectors: AND with a single bit keeps only that bit; the vector
    // of every bit is a superset of each single bit and not its subset.
    MORV_BIT_VECTOR all, one;
    all.init(n);
    one.init(n);
    for (uint64_t i = 0; i < n; ++i) all.set(i);
    one.set(n - 1);
    EXPECT_TRUE(one.is_subset_of(all));
    EXPECT_FALSE(all.is_subset_of(one));
    MORV_BIT_VECTOR both = all;
    both &= one;
    EXPECT_EQ(both, one);
    EXPECT_NE(both, all);
    both |= bits;
    EXPECT_EQ(both.to_string(), first_and_last(n));
}

INSTANTIATE_TEST_SUITE_P(AroundOneBlock, MorvBitVectorSizes, ::testing::Values(63u, 64u, 65u));

TEST(MorvBitVector, OperatorsCoverEveryBlock)
{
    // Three blocks that differ only past the first.
    MORV_BIT_VECTOR a, b;
    a.init(130);
    b.init(130);
    for (uint64_t i : {1, 70, 129}) a.set(i);
    for (uint64_t i : {1, 70, 128}) b.set(i);
    EXPECT_NE(a, b);
    EXPECT_FALSE(a.is_subset_of(b));
    MORV_BIT_VECTOR both = a;
    both &= b;
    EXPECT_EQ(both.to_string(), "[ 1 70 ]");
    EXPECT_TRUE(both.is_subset_of(b));
    both |= b;
    EXPECT_EQ(both, b);
    both |= a;
    EXPECT_EQ(both.to_string(), "[ 1 70 128 129 ]");
    MORV_BIT_VECTOR last;
    last.init(130);
    last.set(129);
    EXPECT_FALSE(last.none());
    both.init(130);  // re-initialised: clear again
    EXPECT_TRUE(both.none());
}

TEST(MorvBitVector, VectorsOfDifferentSizesDoNotCombine)
{
    MORV_BIT_VECTOR a, b;
    a.init(64);
    b.init(65);
    EXPECT_NE(internal_error_of([&] { a |= b; }).find("m_num_bits == other_bit_vec.m_num_bits"), std::string::npos);
    EXPECT_THROW(a &= b, MSG_INTERNAL_ERROR_EXCEPTION);
    EXPECT_THROW(a.is_subset_of(b), MSG_INTERNAL_ERROR_EXCEPTION);
    EXPECT_FALSE(a == b);

    MORV_BIT_VECTOR unset;
    EXPECT_NE(internal_error_of([&] { unset.set(0); }).find("m_bit_blocks != NULL"), std::string::npos);
    unset.init(0);  // a vector of no bits is legal and empty
    EXPECT_EQ(unset.to_string(), "[ ]");
}

TEST(MorvBitVector, CopiesAreDeepAndSelfAssignmentKeepsTheBits)
{
    const long long live_before = live_morv_objects();
    {
        MORV_BIT_VECTOR a;
        a.init(130);
        a.set(129);
        a.set(5);
        MORV_BIT_VECTOR copy;
        copy = a;
        copy.set(6);
        EXPECT_FALSE(a.test(6));
        EXPECT_TRUE(copy.test(129));

        MORV_BIT_VECTOR& alias = a;
        a = alias;  // must not free the blocks it is about to copy
        EXPECT_EQ(a.to_string(), "[ 5 129 ]");
        a.assign(alias, nullptr);
        EXPECT_EQ(a.to_string(), "[ 5 129 ]");

        copy.assign(a, nullptr);  // onto a vector that had blocks of its own
        a.init(10);
        a.init(300);

        MORV_BIT_VECTOR moved(std::move(copy));
        EXPECT_EQ(moved.to_string(), "[ 5 129 ]");
        EXPECT_EQ(copy.size(), 0u);
    }
    EXPECT_EQ(live_morv_objects(), live_before);
}

TEST(MorvBitVector, PooledVectorsLeaveTheirBlocksToThePool)
{
    const long long live_before = live_morv_objects();
    {
        MORV_SIMPLE_MEM_POOL pool(4096);
        MORV_BIT_VECTOR heap;
        heap.init(100);
        heap.set(99);
        {
            MORV_BIT_VECTOR pooled;
            pooled.init(100, &pool);
            EXPECT_EQ(pooled.get_pool(), &pool);
            EXPECT_FALSE(pool.is_empty());
            pooled.set(1);
            MORV_BIT_VECTOR copy = pooled;  // the copy takes the source's pool
            EXPECT_EQ(copy.get_pool(), &pool);
            copy.assign(heap, nullptr);  // and back to the heap
            EXPECT_EQ(copy.get_pool(), nullptr);
            EXPECT_EQ(copy, heap);
            pooled.assign(heap, &pool);
            EXPECT_EQ(pooled.to_string(), "[ 99 ]");
        }  // pooled blocks are not freed one by one
        const long long with_pool = live_morv_objects();
        pool.release_all();
        EXPECT_TRUE(pool.is_empty());
        EXPECT_EQ(live_morv_objects(), with_pool);  // the pool keeps its blocks
    }
    EXPECT_EQ(live_morv_objects(), live_before);
}

// ---------------------------------------------------------------- memory pool

TEST(MorvSimpleMemPool, ExactFitSucceedsAndOneByteMoreIsRefused)
{
    MORV_SIMPLE_MEM_POOL pool(256);
    EXPECT_TRUE(pool.is_empty());
    char* whole = static_cast<char*>(pool.allocate(256 - s_HEADER));
    ASSERT_NE(whole, nullptr);
    whole[256 - s_HEADER - 1] = 'x';  // the last byte is usable
    EXPECT_FALSE(pool.is_empty());
    EXPECT_NE(internal_error_of([&] {
                  pool.allocate(256 - s_HEADER + 1);
              }).find("num_bytes + sizeof(MEM_BLOCK_HEADER) <= m_num_bytes_per_block"),
              std::string::npos);
    EXPECT_NE(internal_error_of([&] { pool.allocate(0); }).find("num_bytes > 0"), std::string::npos);
    EXPECT_NE(static_cast<char*>(pool.allocate(8)), whole);  // a full block: the next one
}

TEST(MorvSimpleMemPool, RequestsStayAlignedAndTheRewindReusesTheBlocks)
{
    MORV_SIMPLE_MEM_POOL pool(128);
    const std::size_t usable = 128 - s_HEADER;
    char* first = static_cast<char*>(pool.allocate(3));
    char* second = static_cast<char*>(pool.allocate(5));
    EXPECT_EQ(second - first, 8);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(second) % 8, 0u);
    char* third = static_cast<char*>(pool.allocate(usable - 16));  // fills the first block
    EXPECT_EQ(third - first, 16);

    char* second_block = static_cast<char*>(pool.allocate(8));
    EXPECT_EQ(static_cast<char*>(pool.allocate(80)), second_block + 8);   // 16 bytes left
    EXPECT_EQ(static_cast<char*>(pool.allocate(13)), second_block + 88);  // rounds up to exactly the rest
    char* third_block = static_cast<char*>(pool.allocate(1));
    EXPECT_EQ(reinterpret_cast<uintptr_t>(third_block) % 8, 0u);
    EXPECT_NE(third_block, second_block + 101);

    char* fourth_block = static_cast<char*>(pool.allocate(usable));  // does not fit the rest: moves on
    char* fifth_block = static_cast<char*>(pool.allocate(8));
    EXPECT_NE(fifth_block, third_block + 8);  // the skipped rest stays empty until the rewind

    pool.release_all();
    EXPECT_TRUE(pool.is_empty());
    // The blocks are kept and reused in order, from the first usable byte.
    for (char* block : {first, second_block, third_block, fourth_block, fifth_block})
        EXPECT_EQ(static_cast<char*>(pool.allocate(usable)), block);
    EXPECT_FALSE(pool.is_empty());
}

}  // namespace

}  // namespace test_morv_bit_vector
