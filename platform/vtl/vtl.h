#pragma once
// Sizing helpers and the node pool behind the VTL hash-table templates.
// Bucket counts are primes; tables grow by about one half.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "gen/gen.h"
#include "gen/gen_enum_flag.h"

// Smallest prime >= n (2 for n < 2); saturates at the largest 32-bit prime.
uint32_t vtl_hash_lite_get_next_prime(uint32_t n);
// New bucket count for a chained table asked for n buckets: the next prime
// not below n * 3 / 2 (always > n below the saturation point).
uint32_t vtl_hash_50_percent_increase_size(uint32_t n);
// New bucket count of a lite table of n buckets: same rule.
uint32_t vtl_hash_lite_50_percent_increase_size(uint32_t n);

// A lite table grows when its entry count exceeds
// bucket count * numerator / denominator.
struct VTL_HASH_LOAD_FACTOR
{
    uint32_t numerator;
    uint32_t denominator;
};
inline constexpr VTL_HASH_LOAD_FACTOR vtl_hash_load_factor_to_resize = {3, 4};

// Set-up record of a node pool: (alignment, elements per chunk, minimum chunk
// bytes, minimum alignment, maximum growth shift). Chunks start with
// max(elements_per_chunk, min_chunk_bytes / element size) elements and double
// with each new chunk up to 2^max_growth_shift times the first one.
struct VTL_MEM_POOL_SETUP
{
    uint32_t alignment = 4;
    uint32_t elements_per_chunk = 512;
    uint32_t min_chunk_bytes = 4096;
    uint32_t min_alignment = 4;
    uint32_t max_growth_shift = 7;
};

// Fixed-size element pool: elements are handed out one by one and released
// all at once. Chunks are counted by the tracking allocator under "VTL".
class VTL_MEM_POOL
{
public:
    VTL_MEM_POOL(std::size_t element_size, const VTL_MEM_POOL_SETUP& setup = VTL_MEM_POOL_SETUP());
    ~VTL_MEM_POOL();
    VTL_MEM_POOL(const VTL_MEM_POOL&) = delete;
    VTL_MEM_POOL& operator=(const VTL_MEM_POOL&) = delete;

    void* allocate();    // uninitialised storage of element_size bytes
    void release_all();  // frees every chunk; the pool stays usable
    std::size_t get_allocated_count() const { return m_allocated; }
    std::size_t get_element_size() const { return m_element_size; }

private:
    std::size_t m_element_size;
    std::size_t m_next_chunk_elements;
    std::size_t m_max_chunk_elements;
    std::vector<void*> m_chunks;
    char* m_cursor = nullptr;
    char* m_end = nullptr;
    std::size_t m_allocated = 0;
    std::size_t m_first_chunk_elements;
};

// Profiler section under the container library's name.
using VTL_PROFILER = GEN_PROFILER;
