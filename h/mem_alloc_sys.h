#pragma once
// The component's entry to the host's tracking allocator. Everything the
// component allocates is counted under one tag, so a leak shows up as a live
// count under "MORV" that does not return to zero.

#include <cstddef>
#include <new>
#include <utility>

#include "mem/mem.h"

// The component's memory tag: its objects and its standard containers count
// under the same tag.
struct MORV_MEM_TAG
{
    static constexpr const char* name = "MORV";
};

// The counter record is looked up once; the tag store keeps it for the
// whole process, so it is safe to cache even before the tag is registered.
inline MEM_TAG_RECORD* morv_mem_record()
{
    static MEM_TAG_RECORD* s_record = mem_get_tag_record(MORV_MEM_TAG::name);
    return s_record;
}

// Standard-container allocator counting under "MORV".
template <typename T>
using MORV_ALLOCATOR = MEM_ALLOCATOR<T, MORV_MEM_TAG>;

inline void* morv_mem_alloc(std::size_t bytes)
{
    return mem_alloc(bytes, morv_mem_record());
}
inline void morv_mem_free(void* p)
{
    mem_free(p);
}

// Array of n value-initialised pointers (bucket arrays of the hash tables).
template <typename T>
T** morv_mem_alloc_pointer_array(std::size_t n)
{
    if (n > std::size_t(-1) / sizeof(T*)) throw std::bad_array_new_length();
    T** array = static_cast<T**>(morv_mem_alloc(n * sizeof(T*)));
    for (std::size_t i = 0; i < n; ++i) array[i] = nullptr;
    return array;
}

// Objects of the component: MORV_NEW(T, args...) and MORV_DELETE(p).
#define MORV_NEW(T, ...) mem_new_wrapper<T>(morv_mem_record(), __FILE__, __LINE__ __VA_OPT__(, ) __VA_ARGS__)
#define MORV_DELETE(p) mem_delete_wrapper(p)

// The component's owning pointer: every object the component owns is held in
// one, so a constructor that fails half way releases what it built.
//   MORV_OWNER<MORV_NT> nt = MORV_MAKE_OWNER(MORV_NT);
template <typename T>
using MORV_OWNER = MEM_OWNER<T>;
#define MORV_MAKE_OWNER(T, ...) MORV_OWNER<T>(MORV_NEW(T __VA_OPT__(, ) __VA_ARGS__))
