#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "mem/mem.h"

namespace mem_test {

namespace {

struct TEST_TAG
{
    static constexpr const char* name = "TMEMALLOC";
};

struct BASE
{
    virtual ~BASE() = default;
    int b = 1;
};
struct SECOND
{
    virtual ~SECOND() = default;
    double s = 2.0;
};
struct DERIVED : BASE, SECOND
{
    explicit DERIVED(std::string t) : text(std::move(t)) {}
    std::string text;
    char payload[40] = {};
};

struct THROWS
{
    THROWS() { throw std::runtime_error("ctor"); }
};

TEST(MemTest, TagCountsReturnToZero)
{
    MEM_INITIALIZER init("TMEM");
    EXPECT_TRUE(mem_get_tag_stats("TMEM").registered);
    std::vector<DERIVED*> objects;
    for (int i = 0; i < 10; ++i) objects.push_back(mem_new_wrapper<DERIVED>("TMEM", __FILE__, __LINE__, "x"));
    MEM_TAG_STATS mid = mem_get_tag_stats("TMEM");
    EXPECT_EQ(mid.live_objects, 10);
    EXPECT_EQ(mid.live_bytes, 10 * static_cast<long long>(sizeof(DERIVED)));
    // Delete half through the second base, whose address differs from the
    // object's start.
    for (int i = 0; i < 5; ++i) mem_delete_wrapper(static_cast<SECOND*>(objects[i]));
    for (int i = 5; i < 10; ++i) mem_delete_wrapper(objects[i]);
    MEM_TAG_STATS end = mem_get_tag_stats("TMEM");
    EXPECT_EQ(end.live_objects, 0);
    EXPECT_EQ(end.live_bytes, 0);
    EXPECT_EQ(end.total_allocations, 10);
    EXPECT_EQ(end.peak_bytes, mid.live_bytes);
    mem_delete_wrapper<DERIVED>(nullptr);
}

TEST(MemTest, FailedConstructionReleasesTheBlock)
{
    EXPECT_THROW(MEM_NEW("TMEMTHROW", THROWS), std::runtime_error);
    EXPECT_EQ(mem_get_tag_stats("TMEMTHROW").live_objects, 0);
    EXPECT_EQ(mem_get_tag_stats("TMEMTHROW").live_bytes, 0);
}

// An owner held through a second base releases the whole object, and
// handing the object from owner to owner frees it exactly once.
TEST(MemTest, OwnerReleasesThroughAnyBaseExactlyOnce)
{
    {
        MEM_OWNER<SECOND> second(MEM_NEW("TMEMOWN", DERIVED, "y"));
        EXPECT_EQ(mem_get_tag_stats("TMEMOWN").live_objects, 1);
        MEM_OWNER<SECOND> moved = std::move(second);
        EXPECT_EQ(second, nullptr);
        EXPECT_EQ(mem_get_tag_stats("TMEMOWN").live_objects, 1);
        moved = MEM_OWNER<SECOND>(MEM_NEW("TMEMOWN", DERIVED, "z"));
        EXPECT_EQ(mem_get_tag_stats("TMEMOWN").live_objects, 1);
    }
    EXPECT_EQ(mem_get_tag_stats("TMEMOWN").live_objects, 0);
    EXPECT_EQ(mem_get_tag_stats("TMEMOWN").live_bytes, 0);
}

TEST(MemTest, InitializerRegistersForItsLifetime)
{
    EXPECT_FALSE(mem_get_tag_stats("TMEMREG").registered);
    {
        MEM_INITIALIZER a("TMEMREG");
        EXPECT_TRUE(mem_get_tag_stats("TMEMREG").registered);
    }
    EXPECT_FALSE(mem_get_tag_stats("TMEMREG").registered);
}

TEST(MemTest, ContainerAllocatorCountsUnderItsTag)
{
    {
        std::vector<int, MEM_ALLOCATOR<int, TEST_TAG>> v;
        for (int i = 0; i < 1000; ++i) v.push_back(i);
        std::map<int, double, std::less<int>, MEM_ALLOCATOR<std::pair<const int, double>, TEST_TAG>> m;
        for (int i = 0; i < 100; ++i) m[i] = i;
        MEM_TAG_STATS s = mem_get_tag_stats("TMEMALLOC");
        EXPECT_EQ(s.live_objects, 101);  // one vector buffer, 100 map nodes
        EXPECT_GE(s.live_bytes, 1000 * static_cast<long long>(sizeof(int)));
    }
    EXPECT_EQ(mem_get_tag_stats("TMEMALLOC").live_objects, 0);
    EXPECT_EQ(mem_get_tag_stats("TMEMALLOC").live_bytes, 0);
}

TEST(MemTest, RawBlocksAreAligned)
{
    void* p = mem_alloc(3, "TMEMRAW");
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(p) % alignof(std::max_align_t), 0u);
    EXPECT_EQ(mem_get_tag_stats("TMEMRAW").live_bytes, 3);
    mem_free(p);
    mem_free(nullptr);
    EXPECT_EQ(mem_get_tag_stats("TMEMRAW").live_bytes, 0);
}

}  // namespace

}  // namespace mem_test
