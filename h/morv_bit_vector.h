#pragma once
// MORV_BIT_VECTOR: a fixed-size bit set in 64-bit blocks. Its blocks come
// either from the heap (the vector owns and frees them) or from a
// MORV_SIMPLE_MEM_POOL (the pool owns them; the vector only forgets them), so
// that the many bit sets of one analysis are released with one rewind of
// their pool. A vector that uses a pool must not outlive the pool's next
// release_all.
//
// Bits past m_num_bits in the last block are always clear, so whole blocks
// can be compared.

#include <cstdint>
#include <cstring>
#include <string>
#include <utility>

#include "mem_alloc_sys.h"
#include "morv_assert_sys.h"
#include "morv_simple_mem_pool.h"

class MORV_BIT_VECTOR
{
public:
    MORV_BIT_VECTOR() = default;
    MORV_BIT_VECTOR(const MORV_BIT_VECTOR& other) { *this = other; }
    MORV_BIT_VECTOR(MORV_BIT_VECTOR&& other) noexcept { take(other); }
    ~MORV_BIT_VECTOR() { release_blocks(); }

    // num_bits clear bits, blocks from pool (null: the heap).
    void init(uint64_t num_bits, MORV_SIMPLE_MEM_POOL* pool = nullptr)
    {
        release_blocks();
        m_num_bits = num_bits;
        m_pool = pool;
        m_num_blocks = (num_bits + 63) / 64;
        allocate_blocks();
        if (m_num_blocks) std::memset(m_bit_blocks, 0, m_num_blocks * sizeof(uint64_t));
    }

    // Copy with the source's size and pool; a copy onto itself keeps it.
    MORV_BIT_VECTOR& operator=(const MORV_BIT_VECTOR& other)
    {
        if (this != &other) assign(other, other.m_pool);
        return *this;
    }
    MORV_BIT_VECTOR& operator=(MORV_BIT_VECTOR&& other) noexcept
    {
        if (this != &other) {
            release_blocks();
            take(other);
        }
        return *this;
    }

    // Copy into blocks taken from pool (null: the heap). Copying a vector
    // onto itself only moves its blocks to the given storage.
    void assign(const MORV_BIT_VECTOR& other, MORV_SIMPLE_MEM_POOL* pool)
    {
        if (this == &other) {
            MORV_BIT_VECTOR copy;
            copy.assign(other, pool);
            *this = std::move(copy);
            return;
        }
        release_blocks();
        m_num_bits = other.m_num_bits;
        m_num_blocks = other.m_num_blocks;
        m_pool = pool;
        allocate_blocks();
        if (m_num_blocks) std::memcpy(m_bit_blocks, other.m_bit_blocks, m_num_blocks * sizeof(uint64_t));
    }

    uint64_t size() const { return m_num_bits; }
    uint64_t get_num_blocks() const { return m_num_blocks; }
    MORV_SIMPLE_MEM_POOL* get_pool() const { return m_pool; }

    void set(uint64_t bit) { m_bit_blocks[block_index(bit)] |= mask_of(bit); }
    void clear(uint64_t bit) { m_bit_blocks[block_index(bit)] &= ~mask_of(bit); }
    bool test(uint64_t bit) const { return (m_bit_blocks[block_index(bit)] & mask_of(bit)) != 0; }

    MORV_BIT_VECTOR& operator|=(const MORV_BIT_VECTOR& other_bit_vec)
    {
        check_same_size(other_bit_vec);
        for (uint64_t b = 0; b < m_num_blocks; ++b) m_bit_blocks[b] |= other_bit_vec.m_bit_blocks[b];
        return *this;
    }
    MORV_BIT_VECTOR& operator&=(const MORV_BIT_VECTOR& other_bit_vec)
    {
        check_same_size(other_bit_vec);
        for (uint64_t b = 0; b < m_num_blocks; ++b) m_bit_blocks[b] &= other_bit_vec.m_bit_blocks[b];
        return *this;
    }

    // Vectors of different sizes are never equal.
    bool operator==(const MORV_BIT_VECTOR& other) const
    {
        if (m_num_bits != other.m_num_bits) return false;
        for (uint64_t b = 0; b < m_num_blocks; ++b)
            if (m_bit_blocks[b] != other.m_bit_blocks[b]) return false;
        return true;
    }
    bool operator!=(const MORV_BIT_VECTOR& other) const { return !(*this == other); }

    // Every bit set here is set in other_bit_vec too.
    bool is_subset_of(const MORV_BIT_VECTOR& other_bit_vec) const
    {
        check_same_size(other_bit_vec);
        for (uint64_t b = 0; b < m_num_blocks; ++b)
            if (m_bit_blocks[b] & ~other_bit_vec.m_bit_blocks[b]) return false;
        return true;
    }

    bool none() const
    {
        for (uint64_t b = 0; b < m_num_blocks; ++b)
            if (m_bit_blocks[b]) return false;
        return true;
    }

    // "[ ", every set index followed by a blank, "]".
    std::string to_string() const
    {
        std::string text = "[ ";
        for (uint64_t b = 0; b < m_num_blocks; ++b)
            for (uint64_t word = m_bit_blocks[b]; word; word &= word - 1) {
                text += std::to_string(b * 64 + static_cast<uint64_t>(__builtin_ctzll(word)));
                text += ' ';
            }
        text += ']';
        return text;
    }

private:
    static uint64_t mask_of(uint64_t bit) { return uint64_t(1) << (bit % 64); }

    uint64_t block_index(uint64_t bit) const
    {
        MORV_ASSERT(m_bit_blocks != NULL);
        MORV_ASSERT(bit < m_num_bits);
        return bit / 64;
    }

    void check_same_size(const MORV_BIT_VECTOR& other_bit_vec) const
    {
        MORV_ASSERT(m_num_bits == other_bit_vec.m_num_bits);
    }

    // A vector of no bits needs no storage.
    void allocate_blocks()
    {
        m_bit_blocks = nullptr;
        if (!m_num_blocks) return;
        std::size_t bytes = m_num_blocks * sizeof(uint64_t);
        m_bit_blocks = static_cast<uint64_t*>(m_pool ? m_pool->allocate(bytes) : morv_mem_alloc(bytes));
        MORV_ASSERT(m_bit_blocks != NULL);
    }

    void release_blocks()
    {
        if (!m_pool) morv_mem_free(m_bit_blocks);
        m_bit_blocks = nullptr;
    }

    void take(MORV_BIT_VECTOR& other)
    {
        m_num_bits = std::exchange(other.m_num_bits, 0);
        m_num_blocks = std::exchange(other.m_num_blocks, 0);
        m_bit_blocks = std::exchange(other.m_bit_blocks, nullptr);
        m_pool = std::exchange(other.m_pool, nullptr);
    }

    uint64_t m_num_bits = 0;
    uint64_t m_num_blocks = 0;
    uint64_t* m_bit_blocks = nullptr;
    MORV_SIMPLE_MEM_POOL* m_pool = nullptr;
};
