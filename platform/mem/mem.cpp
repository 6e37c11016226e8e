#include "mem/mem.h"

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>
#include <string>

struct MEM_TAG_RECORD
{
    std::string tag;
    std::atomic<int> registrations{0};
    std::atomic<long long> live_objects{0};
    std::atomic<long long> live_bytes{0};
    std::atomic<long long> total_allocations{0};
    std::atomic<long long> peak_bytes{0};
};

namespace {

struct REGISTRY
{
    std::mutex mutex;
    std::map<std::string, std::unique_ptr<MEM_TAG_RECORD>, std::less<>> records;
};

// Function-local static so that static initialisers of any module may
// allocate; never destroyed, because blocks may be freed during exit after
// the registry's own destructor would have run.
REGISTRY& registry()
{
    static REGISTRY* s_registry = new REGISTRY;
    return *s_registry;
}

// Every tracked block starts with this header; the payload follows at a
// max_align_t boundary. Tracked blocks are often small objects, so the
// header takes one alignment unit: the size shares a word with the magic
// (48 bits are more than any address space hands out).
struct alignas(alignof(std::max_align_t)) BLOCK_HEADER
{
    MEM_TAG_RECORD* record;
    std::uint64_t size_and_magic;
};
static_assert(sizeof(BLOCK_HEADER) == alignof(std::max_align_t));
constexpr std::uint64_t k_block_magic = 0x4d42u;  // "MB"
constexpr int k_magic_bits = 16;
constexpr std::uint64_t k_max_block = (std::uint64_t(1) << (64 - k_magic_bits)) - 1;

}  // namespace

MEM_TAG_RECORD* mem_get_tag_record(const char* tag)
{
    std::string_view key = tag ? tag : "";
    REGISTRY& reg = registry();
    std::lock_guard<std::mutex> lock(reg.mutex);
    auto it = reg.records.find(key);
    if (it != reg.records.end()) return it->second.get();
    auto record = std::make_unique<MEM_TAG_RECORD>();
    record->tag = std::string(key);
    MEM_TAG_RECORD* result = record.get();
    reg.records.emplace(record->tag, std::move(record));
    return result;
}

MEM_TAG_STATS mem_get_tag_stats(const char* tag)
{
    MEM_TAG_RECORD* r = mem_get_tag_record(tag);
    MEM_TAG_STATS stats;
    stats.registered = r->registrations.load() > 0;
    stats.live_objects = r->live_objects.load();
    stats.live_bytes = r->live_bytes.load();
    stats.total_allocations = r->total_allocations.load();
    stats.peak_bytes = r->peak_bytes.load();
    return stats;
}

MEM_INITIALIZER::MEM_INITIALIZER(const char* tag) : m_record(mem_get_tag_record(tag))
{
    ++m_record->registrations;
}

MEM_INITIALIZER::~MEM_INITIALIZER()
{
    --m_record->registrations;
}

void mem_count_alloc(MEM_TAG_RECORD* record, std::size_t bytes)
{
    if (!record) return;
    ++record->live_objects;
    ++record->total_allocations;
    long long now = (record->live_bytes += static_cast<long long>(bytes));
    long long peak = record->peak_bytes.load(std::memory_order_relaxed);
    while (now > peak && !record->peak_bytes.compare_exchange_weak(peak, now)) {}
}

void mem_count_free(MEM_TAG_RECORD* record, std::size_t bytes)
{
    if (!record) return;
    --record->live_objects;
    record->live_bytes -= static_cast<long long>(bytes);
}

void* mem_alloc(std::size_t bytes, MEM_TAG_RECORD* record)
{
    if (bytes > k_max_block - sizeof(BLOCK_HEADER)) throw std::bad_alloc();
    void* raw = std::malloc(sizeof(BLOCK_HEADER) + bytes);
    if (!raw) throw std::bad_alloc();
    auto* header = ::new (raw) BLOCK_HEADER{record, (std::uint64_t(bytes) << k_magic_bits) | k_block_magic};
    mem_count_alloc(record, bytes);
    return header + 1;
}

void* mem_alloc(std::size_t bytes, const char* tag)
{
    return mem_alloc(bytes, mem_get_tag_record(tag));
}

void mem_free(void* p)
{
    if (!p) return;
    BLOCK_HEADER* header = static_cast<BLOCK_HEADER*>(p) - 1;
    // A block that did not come from mem_alloc is a caller bug; refusing it
    // beats corrupting the heap.
    if ((header->size_and_magic & ((std::uint64_t(1) << k_magic_bits) - 1)) != k_block_magic) std::abort();
    const std::size_t bytes = static_cast<std::size_t>(header->size_and_magic >> k_magic_bits);
    header->size_and_magic = 0;
    mem_count_free(header->record, bytes);
    std::free(header);
}
