#include "vtl/vtl.h"

#include <algorithm>

#include "mem/mem.h"

namespace {

constexpr uint32_t k_largest_prime_u32 = 4294967291u;

bool is_prime(uint64_t n)
{
    if (n < 2) return false;
    if (n % 2 == 0) return n == 2;
    if (n % 3 == 0) return n == 3;
    for (uint64_t d = 5; d * d <= n; d += 6)
        if (n % d == 0 || n % (d + 2) == 0) return false;
    return true;
}

uint32_t grow_by_half(uint32_t n)
{
    uint64_t wanted = uint64_t(n) + uint64_t(n) / 2;
    if (wanted <= n) wanted = uint64_t(n) + 1;
    if (wanted >= k_largest_prime_u32) return k_largest_prime_u32;
    return vtl_hash_lite_get_next_prime(static_cast<uint32_t>(wanted));
}

MEM_TAG_RECORD* vtl_tag()
{
    static MEM_TAG_RECORD* s_record = mem_get_tag_record("VTL");
    return s_record;
}

constexpr std::size_t k_pool_alignment = alignof(std::max_align_t);

}  // namespace

uint32_t vtl_hash_lite_get_next_prime(uint32_t n)
{
    if (n <= 2) return 2;
    if (n >= k_largest_prime_u32) return k_largest_prime_u32;
    uint64_t candidate = n | 1u;  // primes above 2 are odd
    while (!is_prime(candidate)) candidate += 2;
    return static_cast<uint32_t>(candidate);
}

uint32_t vtl_hash_50_percent_increase_size(uint32_t n)
{
    return grow_by_half(n);
}

uint32_t vtl_hash_lite_50_percent_increase_size(uint32_t n)
{
    return grow_by_half(n);
}

// ---------------------------------------------------------------- VTL_MEM_POOL

VTL_MEM_POOL::VTL_MEM_POOL(std::size_t element_size, const VTL_MEM_POOL_SETUP& setup)
{
    std::size_t align = std::max<std::size_t>({setup.alignment, setup.min_alignment, k_pool_alignment});
    // Alignments that are not powers of two are not honoured beyond max_align_t.
    if ((align & (align - 1)) != 0) align = k_pool_alignment;
    std::size_t size = std::max<std::size_t>(element_size, 1);
    m_element_size = (size + align - 1) / align * align;
    std::size_t by_bytes = setup.min_chunk_bytes / m_element_size;
    m_first_chunk_elements = std::max<std::size_t>({std::size_t(setup.elements_per_chunk), by_bytes, 1});
    unsigned shift = std::min(setup.max_growth_shift, 16u);
    m_max_chunk_elements = m_first_chunk_elements << shift;
    m_next_chunk_elements = m_first_chunk_elements;
}

VTL_MEM_POOL::~VTL_MEM_POOL()
{
    release_all();
}

void* VTL_MEM_POOL::allocate()
{
    if (m_cursor == m_end) {
        void* chunk = mem_alloc(m_next_chunk_elements * m_element_size, vtl_tag());
        m_chunks.push_back(chunk);
        m_cursor = static_cast<char*>(chunk);
        m_end = m_cursor + m_next_chunk_elements * m_element_size;
        m_next_chunk_elements = std::min(m_next_chunk_elements * 2, m_max_chunk_elements);
    }
    void* result = m_cursor;
    m_cursor += m_element_size;
    ++m_allocated;
    return result;
}

void VTL_MEM_POOL::release_all()
{
    for (void* chunk : m_chunks) mem_free(chunk);
    m_chunks.clear();
    m_cursor = m_end = nullptr;
    m_allocated = 0;
    m_next_chunk_elements = m_first_chunk_elements;
}
