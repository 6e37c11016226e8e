// The component's open-addressing hash map against std::unordered_map and
// the chained VTL tables on one million distinct random int keys: inserting
// them into an empty table, looking every one up (hits), looking up as many
// keys that are absent (misses), and erasing them all. VTL_HASH has no erase,
// so the erase run of the chained kind uses VTL_HASH_LITE.
// The bit vector against std::vector<bool>: setting and testing random bits
// of a one-million-bit vector, OR-ing two of them, and copying many small
// domain-sized vectors (100 bits) from the heap or from a memory pool.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "morv_bit_vector.h"
#include "morv_simple_hash.h"
#include "morv_simple_mem_pool.h"
#include "vtl_hash_lite_sys.h"
#include "vtl_hash_sys.h"

namespace {

constexpr int s_NUM_KEYS = 1000000;

struct KEYS
{
    std::vector<int> present;  // insertion order
    std::vector<int> lookup;   // the same keys, shuffled
    std::vector<int> absent;

    KEYS()
    {
        std::mt19937 random(2024);
        std::unordered_set<int> seen;
        while (present.size() < s_NUM_KEYS) {
            int k = static_cast<int>(random());
            if (seen.insert(k).second) present.push_back(k);
        }
        while (absent.size() < s_NUM_KEYS) {
            int k = static_cast<int>(random());
            if (seen.insert(k).second) absent.push_back(k);
        }
        lookup = present;
        std::shuffle(lookup.begin(), lookup.end(), random);
    }
};

const KEYS& keys()
{
    static const KEYS k;
    return k;
}

// One interface over the four tables.
struct SIMPLE
{
    MORV_SIMPLE_HASH<int, int> t;
    void put(int k, int v) { t[k] = v; }
    bool has(int k) const { return t.contains(k); }
    void erase(int k) { t.erase(k); }
};
struct STD
{
    std::unordered_map<int, int> t;
    void put(int k, int v) { t[k] = v; }
    bool has(int k) const { return t.find(k) != t.end(); }
    void erase(int k) { t.erase(k); }
};
struct VTL
{
    VTL_HASH<int, int, VTL_HASH_KEY_MULTIPLY<int>> t;
    void put(int k, int v) { t[k] = v; }
    bool has(int k) const { return t.contains(k); }
};
struct VTL_LITE
{
    VTL_HASH_LITE<int, int, VTL_HASH_KEY_MULTIPLY<int>> t;
    void put(int k, int v) { t[k] = v; }
    bool has(int k) const { return t.contains(k); }
    void erase(int k) { t.erase(t.find(k)); }
};

template <typename TABLE>
void fill(TABLE& table)
{
    for (int k : keys().present) table.put(k, k);
}

template <typename TABLE>
void BM_Insert(benchmark::State& state)
{
    keys();
    for (auto _ : state) {
        TABLE table;
        fill(table);
        benchmark::DoNotOptimize(table);
    }
    state.SetItemsProcessed(state.iterations() * s_NUM_KEYS);
}

template <typename TABLE>
void lookups(benchmark::State& state, const std::vector<int>& probe)
{
    TABLE table;
    fill(table);
    for (auto _ : state) {
        int found = 0;
        for (int k : probe) found += table.has(k);
        benchmark::DoNotOptimize(found);
    }
    state.SetItemsProcessed(state.iterations() * int64_t(probe.size()));
}
template <typename TABLE>
void BM_LookupHit(benchmark::State& state)
{
    lookups<TABLE>(state, keys().lookup);
}
template <typename TABLE>
void BM_LookupMiss(benchmark::State& state)
{
    lookups<TABLE>(state, keys().absent);
}

template <typename TABLE>
void BM_Erase(benchmark::State& state)
{
    keys();
    for (auto _ : state) {
        state.PauseTiming();
        auto* table = new TABLE;
        fill(*table);
        state.ResumeTiming();
        for (int k : keys().lookup) table->erase(k);
        state.PauseTiming();
        delete table;
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * s_NUM_KEYS);
}

#define MORV_HASH_BENCH(NAME)                                                                                          \
    BENCHMARK_TEMPLATE(NAME, SIMPLE)->Name(#NAME "/MORV_SIMPLE_HASH")->Unit(benchmark::kMillisecond);                  \
    BENCHMARK_TEMPLATE(NAME, STD)->Name(#NAME "/std::unordered_map")->Unit(benchmark::kMillisecond);

MORV_HASH_BENCH(BM_Insert)
BENCHMARK_TEMPLATE(BM_Insert, VTL)->Name("BM_Insert/VTL_HASH")->Unit(benchmark::kMillisecond);
MORV_HASH_BENCH(BM_LookupHit)
BENCHMARK_TEMPLATE(BM_LookupHit, VTL)->Name("BM_LookupHit/VTL_HASH")->Unit(benchmark::kMillisecond);
MORV_HASH_BENCH(BM_LookupMiss)
BENCHMARK_TEMPLATE(BM_LookupMiss, VTL)->Name("BM_LookupMiss/VTL_HASH")->Unit(benchmark::kMillisecond);
MORV_HASH_BENCH(BM_Erase)
BENCHMARK_TEMPLATE(BM_Erase, VTL_LITE)->Name("BM_Erase/VTL_HASH_LITE")->Unit(benchmark::kMillisecond);

// ---------------------------------------------------------------- bit vectors

constexpr uint64_t s_NUM_BITS = 1000000;

const std::vector<uint64_t>& bit_indices()
{
    static const std::vector<uint64_t> indices = [] {
        std::mt19937_64 random(7);
        std::vector<uint64_t> v(s_NUM_BITS);
        for (uint64_t& i : v) i = random() % s_NUM_BITS;
        return v;
    }();
    return indices;
}

struct MORV_BITS
{
    MORV_BIT_VECTOR v;
    MORV_BITS() { v.init(s_NUM_BITS); }
    void set(uint64_t i) { v.set(i); }
    bool test(uint64_t i) const { return v.test(i); }
    void or_with(const MORV_BITS& other) { v |= other.v; }
};
struct STD_BITS
{
    std::vector<bool> v = std::vector<bool>(s_NUM_BITS);
    void set(uint64_t i) { v[i] = true; }
    bool test(uint64_t i) const { return v[i]; }
    void or_with(const STD_BITS& other)
    {
        for (uint64_t i = 0; i < s_NUM_BITS; ++i)
            if (other.v[i]) v[i] = true;
    }
};

template <typename BITS>
void BM_BitsSetAndTest(benchmark::State& state)
{
    const std::vector<uint64_t>& indices = bit_indices();
    BITS bits;
    for (auto _ : state) {
        for (size_t i = 0; i < indices.size(); i += 2) bits.set(indices[i]);
        int count = 0;
        for (uint64_t i : indices) count += bits.test(i);
        benchmark::DoNotOptimize(count);
    }
    state.SetItemsProcessed(state.iterations() * int64_t(indices.size() * 3 / 2));
}

template <typename BITS>
void BM_BitsOr(benchmark::State& state)
{
    BITS a, b;
    for (size_t i = 0; i < bit_indices().size(); i += 3) b.set(bit_indices()[i]);
    for (auto _ : state) {
        a.or_with(b);
        benchmark::DoNotOptimize(a);
    }
}

// A domain set: 100 bits; a million copies, the way per-edge domain sets
// are made during one analysis.
constexpr int s_NUM_SMALL = 1000000;

void BM_SmallCopies_MORV_BIT_VECTOR_pool(benchmark::State& state)
{
    MORV_BIT_VECTOR source;
    source.init(100);
    source.set(3);
    source.set(99);
    MORV_SIMPLE_MEM_POOL pool(4096);
    std::vector<MORV_BIT_VECTOR> copies(s_NUM_SMALL);
    for (auto _ : state) {
        for (MORV_BIT_VECTOR& copy : copies) copy.assign(source, &pool);
        pool.release_all();
        benchmark::DoNotOptimize(copies.data());
    }
    state.SetItemsProcessed(state.iterations() * s_NUM_SMALL);
}
void BM_SmallCopies_MORV_BIT_VECTOR_heap(benchmark::State& state)
{
    MORV_BIT_VECTOR source;
    source.init(100);
    source.set(3);
    std::vector<MORV_BIT_VECTOR> copies(s_NUM_SMALL);
    for (auto _ : state) {
        for (MORV_BIT_VECTOR& copy : copies) copy = source;
        benchmark::DoNotOptimize(copies.data());
        state.PauseTiming();
        for (MORV_BIT_VECTOR& copy : copies) copy.init(0);
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * s_NUM_SMALL);
}
void BM_SmallCopies_std_vector_bool(benchmark::State& state)
{
    std::vector<bool> source(100);
    source[3] = true;
    std::vector<std::vector<bool>> copies(s_NUM_SMALL);
    for (auto _ : state) {
        for (std::vector<bool>& copy : copies) copy = source;
        benchmark::DoNotOptimize(copies.data());
        state.PauseTiming();
        for (std::vector<bool>& copy : copies) std::vector<bool>().swap(copy);
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * s_NUM_SMALL);
}

BENCHMARK_TEMPLATE(BM_BitsSetAndTest, MORV_BITS)->Name("BM_BitsSetAndTest/MORV_BIT_VECTOR");
BENCHMARK_TEMPLATE(BM_BitsSetAndTest, STD_BITS)->Name("BM_BitsSetAndTest/std::vector<bool>");
BENCHMARK_TEMPLATE(BM_BitsOr, MORV_BITS)->Name("BM_BitsOr/MORV_BIT_VECTOR");
BENCHMARK_TEMPLATE(BM_BitsOr, STD_BITS)->Name("BM_BitsOr/std::vector<bool>");
BENCHMARK(BM_SmallCopies_MORV_BIT_VECTOR_pool)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SmallCopies_MORV_BIT_VECTOR_heap)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SmallCopies_std_vector_bool)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
