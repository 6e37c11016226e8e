#pragma once
// MORV_SIMPLE_MEM_POOL: a bump allocator over a chain of equal-sized blocks.
// Records are never freed one by one; release_all rewinds every block at
// once and keeps the blocks for reuse, so the many small records of one
// analysis cost a pointer bump each and one pass to discard.
//
// Every request is rounded up to 8 bytes so that the next record stays
// aligned for the 64-bit words and pointers the callers store; a request
// that exactly fills the rest of a block still fits.

#include <cstddef>
#include <cstdint>

#include "mem_alloc_sys.h"
#include "morv_assert_sys.h"

class MORV_SIMPLE_MEM_POOL
{
public:
    struct MEM_BLOCK_HEADER
    {
        char* m_next_free;
        char* m_end;
        MEM_BLOCK_HEADER* m_next_block;
    };
    static constexpr std::size_t s_ALIGNMENT = 8;

    // num_bytes_per_block counts the header too.
    explicit MORV_SIMPLE_MEM_POOL(std::size_t num_bytes_per_block) : m_num_bytes_per_block(num_bytes_per_block)
    {
        MORV_ASSERT(num_bytes_per_block > sizeof(MEM_BLOCK_HEADER));
    }
    MORV_SIMPLE_MEM_POOL(const MORV_SIMPLE_MEM_POOL&) = delete;
    MORV_SIMPLE_MEM_POOL& operator=(const MORV_SIMPLE_MEM_POOL&) = delete;

    virtual ~MORV_SIMPLE_MEM_POOL()
    {
        MEM_BLOCK_HEADER* block = m_first_block;
        while (block) {
            MEM_BLOCK_HEADER* next = block->m_next_block;
            morv_mem_free(block);
            block = next;
        }
    }

    virtual void* allocate(std::size_t num_bytes)
    {
        MORV_ASSERT(num_bytes > 0);
        MORV_ASSERT(num_bytes + sizeof(MEM_BLOCK_HEADER) <= m_num_bytes_per_block);
        MEM_BLOCK_HEADER* block_before_current = nullptr;
        if (m_current_block && bytes_left(m_current_block) < num_bytes) {
            block_before_current = m_current_block;
            m_current_block = m_current_block->m_next_block;
        }
        if (!m_current_block) append_block(block_before_current);
        char* result = m_current_block->m_next_free;
        // Rounding may reach past the end only when the request fills the block.
        std::size_t rounded = (num_bytes + s_ALIGNMENT - 1) & ~(s_ALIGNMENT - 1);
        m_current_block->m_next_free += rounded <= bytes_left(m_current_block) ? rounded : num_bytes;
        return result;
    }

    // Everything handed out so far becomes invalid; the blocks stay.
    virtual void release_all()
    {
        for (MEM_BLOCK_HEADER* block = m_first_block; block; block = block->m_next_block)
            block->m_next_free = first_usable_byte(block);
        m_current_block = m_first_block;
    }

    // Nothing handed out since construction or the last release_all. Blocks
    // are filled in chain order, so only the first can tell.
    bool is_empty() const
    {
        return !m_first_block ||
               (m_current_block == m_first_block && m_first_block->m_next_free == first_usable_byte(m_first_block));
    }

    std::size_t get_num_bytes_per_block() const { return m_num_bytes_per_block; }

private:
    static char* first_usable_byte(MEM_BLOCK_HEADER* block)
    {
        return reinterpret_cast<char*>(block) + sizeof(MEM_BLOCK_HEADER);
    }
    static std::size_t bytes_left(const MEM_BLOCK_HEADER* block)
    {
        return static_cast<std::size_t>(block->m_end - block->m_next_free);
    }

    void append_block(MEM_BLOCK_HEADER* block_before_current)
    {
        auto* block = static_cast<MEM_BLOCK_HEADER*>(morv_mem_alloc(m_num_bytes_per_block));
        block->m_next_free = first_usable_byte(block);
        block->m_end = reinterpret_cast<char*>(block) + m_num_bytes_per_block;
        block->m_next_block = nullptr;
        if (block_before_current) {
            MORV_ASSERT(block_before_current->m_next_block == NULL);
            block_before_current->m_next_block = block;
        } else {
            m_first_block = block;
        }
        m_current_block = block;
    }

    std::size_t m_num_bytes_per_block;
    MEM_BLOCK_HEADER* m_first_block = nullptr;
    MEM_BLOCK_HEADER* m_current_block = nullptr;
};
