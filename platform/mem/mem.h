#pragma once
// Tracking allocator: every block is counted against a module tag
// ("MORV", "MSG", ...) so that leaks show up as live counts that do not
// return to zero.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <type_traits>
#include <utility>

// Live counts of one tag. Objects = blocks handed out and not yet freed.
struct MEM_TAG_STATS
{
    bool registered = false;  // a MEM_INITIALIZER of this tag is alive
    long long live_objects = 0;
    long long live_bytes = 0;
    long long total_allocations = 0;
    long long peak_bytes = 0;
};

struct MEM_TAG_RECORD;  // opaque per-tag counters

// Registers the module tag for the lifetime of the object (typically a
// static of the module). Allocations under an unregistered tag are still
// counted.
class MEM_INITIALIZER
{
public:
    explicit MEM_INITIALIZER(const char* tag);
    ~MEM_INITIALIZER();
    MEM_INITIALIZER(const MEM_INITIALIZER&) = delete;
    MEM_INITIALIZER& operator=(const MEM_INITIALIZER&) = delete;
    MEM_TAG_RECORD* get_record() const { return m_record; }

private:
    MEM_TAG_RECORD* m_record;
};

// Counter record of a tag, created on first use; stable for the process.
MEM_TAG_RECORD* mem_get_tag_record(const char* tag);
MEM_TAG_STATS mem_get_tag_stats(const char* tag);

// Raw tracked blocks. The block remembers its size and tag, so mem_free
// needs neither. Aligned for any standard type. Throws std::bad_alloc.
void* mem_alloc(std::size_t bytes, MEM_TAG_RECORD* record);
void* mem_alloc(std::size_t bytes, const char* tag);
void mem_free(void* p);  // null is ignored

// Counting only, for blocks whose size the caller keeps (allocator adapter).
void mem_count_alloc(MEM_TAG_RECORD* record, std::size_t bytes);
void mem_count_free(MEM_TAG_RECORD* record, std::size_t bytes);

// new/delete through the tracker. file and line name the allocation site.
// A module that allocates often passes its cached record: looking a tag up
// by name takes the registry lock.
template <typename T, typename... ARGS>
T* mem_new_wrapper(MEM_TAG_RECORD* record, const char* file, int line, ARGS&&... args)
{
    (void)file;
    (void)line;
    void* raw = mem_alloc(sizeof(T), record);
    try {
        return ::new (raw) T(std::forward<ARGS>(args)...);
    } catch (...) {
        mem_free(raw);
        throw;
    }
}

template <typename T, typename... ARGS>
T* mem_new_wrapper(const char* tag, const char* file, int line, ARGS&&... args)
{
    return mem_new_wrapper<T>(mem_get_tag_record(tag), file, line, std::forward<ARGS>(args)...);
}

// Accepts a pointer to a base class when T has a virtual destructor.
template <typename T>
void mem_delete_wrapper(T* p)
{
    if (!p) return;
    void* raw;
    if constexpr (std::is_polymorphic_v<T>) raw = dynamic_cast<void*>(p);
    else raw = static_cast<void*>(p);
    p->~T();
    mem_free(raw);
}

// Frees what mem_new_wrapper made; the owning pointer below uses it.
struct MEM_DELETER
{
    template <typename T>
    void operator()(T* p) const
    {
        mem_delete_wrapper(p);
    }
};

// Sole owner of a tracked object: it goes back to the tracker when the owner
// is reset or destroyed, also when an exception unwinds past it.
template <typename T>
using MEM_OWNER = std::unique_ptr<T, MEM_DELETER>;

#define MEM_NEW(tag, T, ...) mem_new_wrapper<T>((tag), __FILE__, __LINE__ __VA_OPT__(, ) __VA_ARGS__)

// Standard-container allocator counting under TAG::name, e.g.
//   struct MORV_MEM_TAG { static constexpr const char* name = "MORV"; };
//   std::vector<int, MEM_ALLOCATOR<int, MORV_MEM_TAG>> v;
template <typename T, typename TAG>
class MEM_ALLOCATOR
{
public:
    using value_type = T;
    template <typename U>
    struct rebind
    {
        using other = MEM_ALLOCATOR<U, TAG>;
    };

    MEM_ALLOCATOR() noexcept = default;
    template <typename U>
    MEM_ALLOCATOR(const MEM_ALLOCATOR<U, TAG>&)
    noexcept
    {}

    T* allocate(std::size_t n)
    {
        if (n > std::size_t(-1) / sizeof(T)) throw std::bad_array_new_length();
        T* p = static_cast<T*>(::operator new(n * sizeof(T), std::align_val_t(alignof(T))));
        mem_count_alloc(record(), n * sizeof(T));
        return p;
    }
    // Counted before the block is handed back, never after: touching the
    // block's size once it is released makes GCC 12 warn (-Wuse-after-free)
    // in every container destructor that inlines the release.
    void deallocate(T* p, std::size_t n) noexcept
    {
        mem_count_free(record(), n * sizeof(T));
        ::operator delete(p, std::align_val_t(alignof(T)));
    }

    template <typename U>
    bool operator==(const MEM_ALLOCATOR<U, TAG>&) const noexcept
    {
        return true;
    }
    template <typename U>
    bool operator!=(const MEM_ALLOCATOR<U, TAG>&) const noexcept
    {
        return false;
    }

private:
    static MEM_TAG_RECORD* record()
    {
        static MEM_TAG_RECORD* s_record = mem_get_tag_record(TAG::name);
        return s_record;
    }
};
