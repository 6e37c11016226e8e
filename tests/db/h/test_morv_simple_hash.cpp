#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <map>
#include <random>
#include <set>
#include <vector>

#include "log_capture.h"
#include "mem/mem.h"
#include "morv_bit_vector.h"
#include "morv_simple_hash.h"
#include "morv_simple_hash_set.h"
#include "msg/msg.h"

namespace test_morv_simple_hash {

namespace {

using INT_SET = MORV_SIMPLE_HASH_SET<int>;
using INT_MAP = MORV_SIMPLE_HASH<int, int>;

constexpr int s_FOUND = INT_SET::s_FOUND;
constexpr int s_ABSENT = INT_SET::s_ABSENT;
constexpr int s_NO_FREE_SLOT = INT_SET::s_NO_FREE_SLOT;

long long live_morv_objects()
{
    return mem_get_tag_stats("MORV").live_objects;
}

uint64_t slot_of(const INT_SET& set, int key)
{
    uint64_t slot = 0;
    EXPECT_EQ(set.find_slot(key, &slot), s_FOUND) << key;
    return slot;
}

// Home slot of a key's hash in a table of the given capacity: the high bits
// of the hash (its upper half folded in) times the golden-ratio constant,
// scaled to the capacity.
uint64_t home_of_hash(uint64_t hash, uint64_t capacity)
{
    __extension__ using U128 = unsigned __int128;
    return uint64_t((U128((hash ^ (hash >> 32)) * 0x9E3779B97F4A7C15u) * capacity) >> 64);
}
uint64_t home(int key, uint64_t capacity)
{
    return home_of_hash(uint64_t(int64_t(key)) * 16777619u, capacity);
}

// The non-negative keys whose home slot of the given capacity is 0, smallest first.
std::vector<int> keys_at_home_zero(uint64_t capacity, size_t count)
{
    std::vector<int> keys;
    for (int k = 0; keys.size() < count; ++k)
        if (home(k, capacity) == 0) keys.push_back(k);
    return keys;
}

// The i-th key with home slot 0 in a table of 64 slots.
int colliding(int i)
{
    static const std::vector<int> keys = keys_at_home_zero(64, 16);
    return keys.at(size_t(i));
}

// Three ints hashed by their own rule, as the timing estimator's term records are.
struct TRIPLE
{
    int k0, k1, k2;
};
struct TRIPLE_FUNCS
{
    static uint64_t hash(const TRIPLE& t) { return uint32_t(t.k0) * 4095u + uint32_t(t.k1) * 41u + uint32_t(t.k2); }
    static bool equal(const TRIPLE& a, const TRIPLE& b) { return a.k0 == b.k0 && a.k1 == b.k1 && a.k2 == b.k2; }
};

struct NODE_WITH_ID
{
    int m_id;
    int get_id() const { return m_id; }
};

// ---------------------------------------------------------------- probing

TEST(MorvSimpleHash, FirstInsertionAllocatesSixtyFourSlotsAndRepeatsChangeNothing)
{
    INT_SET set;
    EXPECT_EQ(set.capacity(), 0u);
    uint64_t slot = 0;
    EXPECT_EQ(set.find_slot(7, &slot), s_NO_FREE_SLOT);
    EXPECT_TRUE(set.insert(7));
    EXPECT_EQ(set.capacity(), 64u);
    EXPECT_EQ(set.get_max_probe_length(), 6u);
    const uint64_t stamp = set.get_invalidation_stamp();
    EXPECT_FALSE(set.insert(7));
    EXPECT_EQ(set.size(), 1u);
    EXPECT_EQ(set.capacity(), 64u);
    EXPECT_EQ(set.get_invalidation_stamp(), stamp);
    EXPECT_EQ(set.get_num_resize_calls(), 1u);
}

TEST(MorvSimpleHash, CollidingKeysFollowTheTriangularSequenceUpToTheProbeLimit)
{
    INT_SET set(100);  // no load limit in the way: only the probe limit grows the table
    for (int i = 0; i < 6; ++i) set.insert(colliding(i));
    const std::vector<uint64_t> expected = {0, 1, 3, 6, 10, 15};
    for (int i = 0; i < 6; ++i) EXPECT_EQ(slot_of(set, colliding(i)), expected[i]);

    uint64_t slot = 0;
    EXPECT_EQ(set.find_slot(colliding(6), &slot), s_NO_FREE_SLOT);
    EXPECT_EQ(set.find_slot(1, &slot), s_ABSENT);  // another home slot still has room
    EXPECT_EQ(set.capacity(), 64u);

    set.insert(colliding(6));
    EXPECT_EQ(set.capacity(), 128u);
    EXPECT_EQ(set.get_max_probe_length(), 7u);
    EXPECT_EQ(set.get_num_insert_max_probe_length_reached(), 1u);
    for (int i = 0; i <= 6; ++i) EXPECT_TRUE(set.contains(colliding(i))) << i;
    EXPECT_EQ(set.size(), 7u);
}

TEST(MorvSimpleHash, ErasedSlotIsReusedOnlyWhenNoFreeSlotEndsTheProbe)
{
    INT_SET set(100);
    set.insert(colliding(0));  // slot 0
    set.insert(colliding(1));  // slot 1
    EXPECT_TRUE(set.erase(colliding(0)));
    EXPECT_FALSE(set.erase(colliding(0)));
    EXPECT_FALSE(set.contains(colliding(0)));
    EXPECT_TRUE(set.contains(colliding(1)));  // the probe goes on past the erased slot

    set.insert(colliding(2));  // the free slot 3 ends the probe; slot 0 stays erased
    EXPECT_EQ(slot_of(set, colliding(2)), 3u);
    uint64_t slot = 99;
    EXPECT_EQ(set.find_slot(colliding(9), &slot), s_ABSENT);
    EXPECT_EQ(slot, 6u);

    for (int i = 3; i < 6; ++i) set.insert(colliding(i));  // slots 6, 10, 15
    EXPECT_EQ(set.find_slot(colliding(9), &slot), s_ABSENT);
    EXPECT_EQ(slot, 0u);  // every probe is taken: the erased slot comes back
    set.insert(colliding(9));
    EXPECT_EQ(slot_of(set, colliding(9)), 0u);
    EXPECT_EQ(set.capacity(), 64u);
    EXPECT_EQ(set.size(), 6u);

    // Erase every entry: the probe must cross erased slots to a free one.
    set.insert(5);
    for (int key : {colliding(1), colliding(2), colliding(3), colliding(4), colliding(5), colliding(9)})
        EXPECT_TRUE(set.erase(key));
    EXPECT_FALSE(set.contains(colliding(7)));
    EXPECT_TRUE(set.contains(5));
    EXPECT_EQ(set.size(), 1u);
}

TEST(MorvSimpleHash, NegativeKeysHashFromTheirSignExtendedValue)
{
    INT_SET set;
    set.reserve(50);  // 100 slots: the modulo is not a mask
    ASSERT_EQ(set.capacity(), 100u);
    uint64_t slot = 0;
    ASSERT_EQ(set.find_slot(-1, &slot), s_ABSENT);
    EXPECT_EQ(slot, home_of_hash(uint64_t(0) - 16777619u, 100));
    // A key taken as unsigned 32 bits would land elsewhere.
    EXPECT_NE(slot, home_of_hash(uint64_t(0xFFFFFFFFu) * 16777619u, 100));
    set.insert(-1);
    set.insert(-2147483647 - 1);
    EXPECT_TRUE(set.contains(-1));
    EXPECT_TRUE(set.contains(-2147483647 - 1));
    EXPECT_FALSE(set.contains(1));
}

// ---------------------------------------------------------------- growth

TEST(MorvSimpleHash, LoadLimitAndReservation)
{
    INT_MAP map;
    for (int k = 0; k < 32; ++k) map[k] = k;
    EXPECT_EQ(map.capacity(), 64u);
    map[32] = 32;  // the 33rd entry would fill more than half
    EXPECT_EQ(map.capacity(), 128u);

    INT_MAP reserved;
    reserved.reserve(1000);  // ceil(1000 * 100 / 50)
    EXPECT_EQ(reserved.capacity(), 2000u);
    EXPECT_EQ(reserved.get_max_probe_length(), 11u);
    for (int k = 0; k < 1000; ++k) reserved[k * 7] = k;
    EXPECT_EQ(reserved.capacity(), 2000u);
    EXPECT_EQ(reserved.get_num_resize_calls(), 1u);
    reserved[-5] = 1;
    EXPECT_EQ(reserved.capacity(), 4000u);
    reserved.reserve(10);  // never shrinks
    EXPECT_EQ(reserved.capacity(), 4000u);

    INT_MAP third(75);  // another load limit: 64 slots hold 48
    third.reserve(3);
    EXPECT_EQ(third.capacity(), 64u);
    for (int k = 0; k < 48; ++k) third[k] = k;
    EXPECT_EQ(third.capacity(), 64u);
    third[48] = 48;
    EXPECT_EQ(third.capacity(), 128u);
}

TEST(MorvSimpleHash, ManyKeysSurviveGrowthEraseAndReinsertion)
{
    std::mt19937 random(17);
    std::map<int, int> reference;
    INT_MAP map;
    for (int round = 0; round < 20000; ++round) {
        int key = int(random() % 5000) - 2500;
        if (random() % 3 == 0) {
            EXPECT_EQ(map.erase(key), reference.erase(key) == 1);
        } else {
            map[key] = round;
            reference[key] = round;
        }
    }
    ASSERT_EQ(map.size(), reference.size());
    for (const auto& [key, value] : reference) {
        auto it = map.find(key);
        ASSERT_NE(it, map.end()) << key;
        EXPECT_EQ(it->second, value);
    }
    std::map<int, int> iterated;
    uint64_t previous_slot = 0;
    bool first = true;
    for (auto it = map.begin(); it != map.end(); ++it) {
        EXPECT_TRUE(first || it.index() > previous_slot);  // slot order
        previous_slot = it.index();
        first = false;
        EXPECT_TRUE(iterated.emplace(it->first, it->second).second);
    }
    EXPECT_EQ(iterated, reference);
    EXPECT_EQ(map.find(99999), map.end());
}

TEST(MorvSimpleHash, GrowthAndClearAdvanceTheStampAndInvalidateIterators)
{
    INT_SET set;
    set.insert(1);
    set.insert(2);
    INT_SET::iterator it = set.begin();
    const uint64_t stamp = set.get_invalidation_stamp();
    for (int k = 3; k < 40; ++k) set.insert(k);  // grows past 64 slots
    EXPECT_GT(set.get_invalidation_stamp(), stamp);
    EXPECT_THROW(*it, MSG_INTERNAL_ERROR_EXCEPTION);
    EXPECT_THROW(++it, MSG_INTERNAL_ERROR_EXCEPTION);
    try {
        *it;
    } catch (const MSG_INTERNAL_ERROR_EXCEPTION& e) {
        EXPECT_NE(std::string(e.what()).find("m_hash_invalidation_stamp == m_hash->m_invalidation_stamp"),
                  std::string::npos);
    }

    INT_SET::iterator end = set.end();
    try {
        ++end;
        ADD_FAILURE() << "advancing the end iterator must be refused";
    } catch (const MSG_INTERNAL_ERROR_EXCEPTION& e) {
        EXPECT_NE(std::string(e.what()).find("m_cur_index < m_hash->m_capacity"), std::string::npos);
    }

    // Erasing keeps iterators valid: erase every other key while walking.
    int visited = 0;
    for (auto walk = set.begin(); walk != set.end(); ++visited) walk = (*walk % 2 == 0) ? set.erase(walk) : ++walk;
    EXPECT_EQ(visited, 39);
    EXPECT_EQ(set.size(), 20u);

    const uint64_t before_clear = set.get_invalidation_stamp();
    auto kept = set.begin();
    set.clear();
    EXPECT_GT(set.get_invalidation_stamp(), before_clear);
    EXPECT_THROW(*kept, MSG_INTERNAL_ERROR_EXCEPTION);
    EXPECT_EQ(set.capacity(), 0u);
    EXPECT_EQ(set.size(), 0u);
    EXPECT_EQ(set.get_num_resize_calls(), 0u);
    EXPECT_EQ(set.get_num_insert_max_probe_length_reached(), 0u);
    EXPECT_EQ(set.begin(), set.end());
    const uint64_t after_clear = set.get_invalidation_stamp();
    set.clear();  // nothing to free: the stamp stays
    EXPECT_EQ(set.get_invalidation_stamp(), after_clear);
    set.insert(5);
    EXPECT_EQ(set.capacity(), 64u);
}

TEST(MorvSimpleHash, GrowthThatCannotPlaceEveryEntryGrowsFurtherAndLosesNothing)
{
    // Six keys at home 0 of 64 and a seventh at home 1 fit 64 slots, but all
    // seven share home 1 of 65: growing to 65 slots cannot place them within
    // the 6 probes in force, so the table goes on to 130, where the seventh
    // has a home of its own.
    std::vector<int> keys;
    for (int k = 1; keys.size() < 6; ++k)
        if (home(k, 64) == 0 && home(k, 65) == 1 && home(k, 130) == 2) keys.push_back(k);
    int seventh = 1;
    while (!(home(seventh, 64) == 1 && home(seventh, 65) == 1 && home(seventh, 130) == 3)) ++seventh;
    keys.push_back(seventh);

    INT_SET set(100);
    for (int k : keys) set.insert(k);
    ASSERT_EQ(set.get_num_resize_calls(), 1u);
    const uint64_t stamp = set.get_invalidation_stamp();
    set.resize(65);
    EXPECT_EQ(set.capacity(), 130u);
    EXPECT_EQ(set.get_max_probe_length(), 8u);
    EXPECT_EQ(set.get_num_insert_triggered_resize_calls(), 1u);
    EXPECT_EQ(set.get_num_resize_calls(), 3u);
    EXPECT_GT(set.get_invalidation_stamp(), stamp);
    EXPECT_EQ(set.size(), 7u);
    for (int k : keys) EXPECT_TRUE(set.contains(k)) << k;
}

TEST(MorvSimpleHash, InsertionThatStillFindsNoSlotAfterGrowingGrowsAgain)
{
    // Six keys on home slot 0 of 64 and of 128 fill offsets 0..5; a blocker
    // at home 21 of 128 lands beside them. A seventh key forces growth to
    // 128, where its 7th probe (slot 21) holds the blocker: the table must
    // grow once more rather than probe past the limit.
    const std::vector<int> keys = keys_at_home_zero(128, 7);  // home 0 of 128 is home 0 of 64 too
    int blocker = 1;
    while (home(blocker, 128) != 21) ++blocker;
    INT_SET set(100);
    for (int i = 0; i < 6; ++i) set.insert(keys[size_t(i)]);
    set.insert(blocker);
    ASSERT_EQ(set.capacity(), 64u);
    set.insert(keys[6]);
    EXPECT_EQ(set.capacity(), 256u);
    EXPECT_EQ(set.get_num_insert_triggered_resize_calls(), 1u);
    EXPECT_EQ(set.get_num_resize_calls(), 3u);  // 64, 128, 256
    for (int k : keys) EXPECT_TRUE(set.contains(k)) << k;
    EXPECT_TRUE(set.contains(blocker));

    INT_SET moved(std::move(set));  // the counters travel with the entries
    EXPECT_EQ(moved.get_num_insert_triggered_resize_calls(), 1u);
    EXPECT_EQ(moved.get_num_insert_max_probe_length_reached(), 1u);
    EXPECT_EQ(moved.size(), 8u);
}

// ---------------------------------------------------------------- adversarial keys

// Slots the load limit alone asks for n keys: 64, doubled while n fills more than half.
uint64_t slots_for(size_t n)
{
    uint64_t slots = 64;
    while (n * 2 > slots) slots *= 2;
    return slots;
}

// Keys of a regular pattern must spread over the slots rather than pile onto
// a few home slots: the table grows at most once beyond its load limit.
template <typename K>
void expect_spread(const std::vector<K>& keys, const char* what)
{
    MORV_SIMPLE_HASH_SET<K> set;
    for (K k : keys) set.insert(k);
    EXPECT_LE(set.capacity(), 2 * slots_for(keys.size())) << what;
    EXPECT_EQ(set.size(), keys.size()) << what;
    for (K k : keys) EXPECT_TRUE(set.contains(k)) << what;
}

TEST(MorvSimpleHash, KeysDifferingOnlyInHighBitsKeepTheTableSmall)
{
    std::vector<int> shifted;
    for (int i = 0; i < 64; ++i) shifted.push_back(i << 24);
    INT_SET set;
    for (int k : shifted) set.insert(k);
    EXPECT_LT(set.capacity(), 256u);
    EXPECT_EQ(set.size(), 64u);

    for (int shift : {32, 40, 48, 56}) {
        std::vector<int64_t> wide;
        for (int64_t i = 0; i < 64; ++i) wide.push_back(i << shift);
        expect_spread(wide, "64-bit ids in the high half");
    }
}

TEST(MorvSimpleHash, IdsMasksAndPointerValuesSpreadOverTheSlots)
{
    std::vector<int> ids, strided_ids;
    for (int i = 0; i < 100000; ++i) ids.push_back(i);
    for (int i = 0; i < 20000; ++i) strided_ids.push_back(i * 64);
    expect_spread(ids, "consecutive atom ids");
    expect_spread(strided_ids, "atom ids 64 apart");

    std::vector<uint64_t> masks;  // single bits and their complements
    for (int bit = 0; bit < 64; ++bit) {
        masks.push_back(uint64_t(1) << bit);
        masks.push_back(~(uint64_t(1) << bit));
    }
    for (uint64_t pattern : {0xAAAAAAAAAAAAAAAAu, 0xCCCCCCCCCCCCCCCCu, 0xF0F0F0F0F0F0F0F0u, 0xFF00FF00FF00FF00u})
        for (int half = 0; half < 16; ++half) masks.push_back(pattern ^ (uint64_t(half) << 60));
    expect_spread(masks, "LUT masks");

    std::vector<uintptr_t> small_objects, pages;
    for (uintptr_t i = 0; i < 5000; ++i) {
        small_objects.push_back(uintptr_t(0x7f3a12340000u) + 16 * i);
        pages.push_back(uintptr_t(0x7f3a00000000u) + 4096 * i);
    }
    expect_spread(small_objects, "16-byte aligned addresses");
    expect_spread(pages, "page addresses");
}

// ---------------------------------------------------------------- values and keys

// Counts its live objects: a table of class values holds one per slot.
struct COUNTED
{
    static int s_live;
    int m_value = 0;
    COUNTED() { ++s_live; }
    COUNTED(const COUNTED& other) : m_value(other.m_value) { ++s_live; }
    COUNTED& operator=(const COUNTED&) = default;
    ~COUNTED() { --s_live; }
};
int COUNTED::s_live = 0;

TEST(MorvSimpleHash, ClassValuesAreFreshOnInsertAndKeptThroughGrowth)
{
    {
        MORV_SIMPLE_HASH<int, COUNTED> counted;
        counted[1].m_value = 5;
        EXPECT_EQ(COUNTED::s_live, 64);  // constructed in every slot
        for (int k = 2; k < 40; ++k) counted[k].m_value = k;
        EXPECT_EQ(COUNTED::s_live, 128);
        EXPECT_EQ(counted[1].m_value, 5);
        counted.clear();
        EXPECT_EQ(COUNTED::s_live, 0);
        counted[1];
    }
    EXPECT_EQ(COUNTED::s_live, 0);

    const long long live_before = live_morv_objects();
    {
        MORV_SIMPLE_HASH<int, MORV_BIT_VECTOR> map;
        for (int k = 0; k < 100; ++k) {
            MORV_BIT_VECTOR& bits = map[k];
            EXPECT_EQ(bits.size(), 0u);
            bits.init(70);
            bits.set(k % 70);
        }
        for (int k = 0; k < 100; ++k) {
            ASSERT_TRUE(map.contains(k));
            std::string expected("[ ");
            EXPECT_EQ(map[k].to_string(), expected.append(std::to_string(k % 70)).append(" ]"));
        }
        EXPECT_TRUE(map.erase(3));
        EXPECT_EQ(map[3].size(), 0u);  // back as a new, empty vector
    }
    EXPECT_EQ(live_morv_objects(), live_before);
}

// An emptied table that keeps its slots: no key survives (erased slots
// included), iterators are refused, class values are fresh again, and the
// refill to the same size neither allocates nor grows.
TEST(MorvSimpleHash, ClearKeepingCapacityEmptiesWithoutFreeing)
{
    INT_MAP map;
    for (int k = 0; k < 500; ++k) map[k] = k;
    for (int k = 0; k < 500; k += 3) map.erase(k);
    const uint64_t capacity = map.capacity(), resizes = map.get_num_resize_calls();
    auto kept = map.begin();
    map.clear_keeping_capacity();
    EXPECT_THROW(*kept, MSG_INTERNAL_ERROR_EXCEPTION);
    EXPECT_EQ(map.size(), 0u);
    EXPECT_EQ(map.capacity(), capacity);
    EXPECT_EQ(map.begin(), map.end());
    for (int k = 0; k < 500; ++k) EXPECT_FALSE(map.contains(k)) << k;
    for (int k = 1000; k < 1500; ++k) map[k] = -k;
    EXPECT_EQ(map.capacity(), capacity);
    EXPECT_EQ(map.get_num_resize_calls(), resizes);
    for (int k = 1000; k < 1500; ++k) EXPECT_EQ(map[k], -k);
    EXPECT_EQ(map.size(), 500u);

    INT_SET empty;
    empty.clear_keeping_capacity();
    EXPECT_EQ(empty.capacity(), 0u);

    {
        MORV_SIMPLE_HASH<int, COUNTED> counted;
        for (int k = 0; k < 40; ++k) counted[k].m_value = k + 1;
        const int live = COUNTED::s_live;
        counted.clear_keeping_capacity();
        EXPECT_EQ(COUNTED::s_live, live);  // the slots stay constructed
        EXPECT_EQ(counted[7].m_value, 0);
    }
    EXPECT_EQ(COUNTED::s_live, 0);
}

TEST(MorvSimpleHash, PointerAndRecordKeys)
{
    NODE_WITH_ID a{1}, b{2}, twin_of_a{1};
    MORV_SIMPLE_HASH<const NODE_WITH_ID*, int> by_pointer;
    by_pointer[&a] = 10;
    by_pointer[&twin_of_a] = 11;
    EXPECT_EQ(by_pointer.size(), 2u);  // equal ids, different objects
    MORV_SIMPLE_HASH_SET<const NODE_WITH_ID*, MORV_SIMPLE_HASH_ID_FUNCS<NODE_WITH_ID>> by_id;
    EXPECT_TRUE(by_id.insert(&a));
    EXPECT_FALSE(by_id.insert(&twin_of_a));
    EXPECT_TRUE(by_id.insert(&b));
    EXPECT_EQ(by_id.size(), 2u);

    MORV_SIMPLE_HASH<TRIPLE, int, TRIPLE_FUNCS> records;
    records[TRIPLE{1, 2, 3}] = 5;
    records[TRIPLE{3, 2, 1}] = 6;
    EXPECT_EQ((records[TRIPLE{1, 2, 3}]), 5);
    EXPECT_EQ(records.size(), 2u);
    EXPECT_EQ((records.find(TRIPLE{1, 2, 4})), records.end());
}

TEST(MorvSimpleHash, MovedTableTakesTheEntriesAndOldIteratorsAreRefused)
{
    INT_MAP source;
    source[4] = 40;
    auto it = source.begin();
    INT_MAP target(std::move(source));
    EXPECT_EQ(target[4], 40);
    EXPECT_EQ(source.size(), 0u);
    EXPECT_THROW(*it, MSG_INTERNAL_ERROR_EXCEPTION);
    source[5] = 50;  // the moved-from table is usable again
    target = std::move(source);
    EXPECT_EQ(target.size(), 1u);
    EXPECT_EQ(target[5], 50);
}

// ---------------------------------------------------------------- statistics

TEST(MorvSimpleHash, StatisticsLine)
{
    MORV_LOG_CAPTURE log(2);
    INT_SET empty;
    empty.print_statistics();
    INT_SET set;
    set.insert(colliding(0));
    set.insert(colliding(1));  // offset 1
    int alone = 1;
    while (home(alone, 64) < 2) ++alone;  // clear of slots 0 and 1
    set.insert(alone);
    set.print_statistics();
    const std::vector<std::string> lines = log.lines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0],
              "   [size=0, capacity=0, load-factor=0.00, max-probe-length=0, avg-lookup-time=0.00, highest-offset=0, "
              "num-resize-calls=0, num-insert-triggered-resize-calls=0, num-insert-max-probe-length-reached=0]");
    EXPECT_EQ(lines[1],
              "   [size=3, capacity=64, load-factor=0.05, max-probe-length=6, avg-lookup-time=1.33, highest-offset=2, "
              "num-resize-calls=1, num-insert-triggered-resize-calls=0, num-insert-max-probe-length-reached=0]");
}

}  // namespace

}  // namespace test_morv_simple_hash
