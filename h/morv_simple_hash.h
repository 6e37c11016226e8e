#pragma once
// MORV_SIMPLE_HASH (map) and MORV_SIMPLE_HASH_SET: open-addressing tables for
// the incremental timing estimator, where millions of lookups happen per
// analysis. Keys (and values) sit in one flat array; two bitmaps tell which
// slots are occupied and which held an entry that was erased, so the slot
// state stays out of the entry array. A lookup probes triangularly,
// slot (h + i(i+1)/2) mod capacity, and gives up after ceil(log2 capacity)
// probes: a table whose probe sequences run full grows instead of scanning
// long clusters. Growth doubles the table from a first allocation of 64
// slots, also when an insertion would take the table past its load limit
// (50 percent unless the owner chooses another).
//
// Every growth and every clear advances the invalidation stamp; an iterator
// made under an older stamp is refused, as is one advanced past the end.
// Erasing leaves iterators valid: entries never move except on growth.

#include <cstdint>
#include <cstring>
#include <new>
#include <type_traits>
#include <utility>

#include "mem_alloc_sys.h"
#include "morv_assert_sys.h"
#include "morv_log_sink_sys.h"

// ---------------------------------------------------------------- hash functors
//
// A functor supplies hash(key) -> uint64_t (turned into a slot by the table) and
// equal(a, b). Integer keys hash their value sign-extended to 64 bits times
// 16777619; pointers to netlist objects hash their 32-bit id times 16777619
// and compare as pointers. Keys of other types bring their own functor.

inline constexpr uint64_t s_MORV_SIMPLE_HASH_MULTIPLIER = 16777619u;

template <typename K, typename = void>
struct MORV_SIMPLE_HASH_FUNCS;

template <typename K>
struct MORV_SIMPLE_HASH_FUNCS<K, std::enable_if_t<std::is_integral_v<K>>>
{
    static uint64_t hash(K key)
    {
        return static_cast<uint64_t>(static_cast<int64_t>(key)) * s_MORV_SIMPLE_HASH_MULTIPLIER;
    }
    static bool equal(K a, K b) { return a == b; }
};

template <typename T>
struct MORV_SIMPLE_HASH_FUNCS<T*>
{
    static uint64_t hash(const T* key)
    {
        return static_cast<uint64_t>(static_cast<uint32_t>(key->get_id())) * s_MORV_SIMPLE_HASH_MULTIPLIER;
    }
    static bool equal(const T* a, const T* b) { return a == b; }
};

// Pointers that compare by id: two objects with one id are one key.
template <typename T>
struct MORV_SIMPLE_HASH_ID_FUNCS
{
    static uint64_t hash(const T* key) { return MORV_SIMPLE_HASH_FUNCS<T*>::hash(key); }
    static bool equal(const T* a, const T* b) { return a->get_id() == b->get_id(); }
};

// ---------------------------------------------------------------- shared table

template <typename K, typename V>
struct MORV_SIMPLE_HASH_ENTRY
{
    K first;
    V second;
};

template <typename ENTRY, typename K, typename FUNCS, bool IS_SET>
class MORV_SIMPLE_HASH_TABLE
{
public:
    static constexpr uint64_t s_FIRST_CAPACITY = 64;
    static constexpr uint64_t s_DEFAULT_LOAD_LIMIT_PERCENT = 50;

    // find_slot answers
    static constexpr int s_FOUND = 0;
    static constexpr int s_ABSENT = 1;        // *slot: where the key would go
    static constexpr int s_NO_FREE_SLOT = 2;  // absent, no slot within the probe limit

    template <bool CONST>
    class ITERATOR_T
    {
    public:
        using TABLE = std::conditional_t<CONST, const MORV_SIMPLE_HASH_TABLE, MORV_SIMPLE_HASH_TABLE>;
        using ENTRY_T = std::conditional_t<CONST, const ENTRY, ENTRY>;

        ITERATOR_T() = default;
        ITERATOR_T(TABLE* hash, uint64_t index)
            : m_hash(hash), m_cur_index(index), m_hash_invalidation_stamp(hash->m_invalidation_stamp)
        {}
        template <bool OTHER, typename = std::enable_if_t<CONST && !OTHER>>
        ITERATOR_T(const ITERATOR_T<OTHER>& other)
            : m_hash(other.m_hash), m_cur_index(other.m_cur_index),
              m_hash_invalidation_stamp(other.m_hash_invalidation_stamp)
        {}

        ENTRY_T& operator*() const
        {
            check();
            return m_hash->m_entries[m_cur_index];
        }
        ENTRY_T* operator->() const { return &**this; }
        ITERATOR_T& operator++()
        {
            check();
            m_cur_index = m_hash->next_occupied(m_cur_index + 1);
            return *this;
        }
        bool operator==(const ITERATOR_T& other) const
        {
            return m_cur_index == other.m_cur_index && m_hash == other.m_hash;
        }
        bool operator!=(const ITERATOR_T& other) const { return !(*this == other); }
        uint64_t index() const { return m_cur_index; }

        void check() const
        {
            MORV_ASSERT_TEXT(m_hash && m_cur_index < m_hash->m_capacity, "m_cur_index < m_hash->m_capacity");
            MORV_ASSERT(m_hash_invalidation_stamp == m_hash->m_invalidation_stamp);
        }

    private:
        template <bool>
        friend class ITERATOR_T;
        friend class MORV_SIMPLE_HASH_TABLE;

        TABLE* m_hash = nullptr;
        uint64_t m_cur_index = 0;
        uint64_t m_hash_invalidation_stamp = 0;
    };
    using iterator = ITERATOR_T<false>;
    using const_iterator = ITERATOR_T<true>;

    explicit MORV_SIMPLE_HASH_TABLE(uint64_t load_limit_percent = s_DEFAULT_LOAD_LIMIT_PERCENT)
        : m_load_limit_percent(load_limit_percent)
    {
        MORV_ASSERT(load_limit_percent > 0 && load_limit_percent <= 100);
    }
    MORV_SIMPLE_HASH_TABLE(const MORV_SIMPLE_HASH_TABLE&) = delete;
    MORV_SIMPLE_HASH_TABLE& operator=(const MORV_SIMPLE_HASH_TABLE&) = delete;
    MORV_SIMPLE_HASH_TABLE(MORV_SIMPLE_HASH_TABLE&& other) noexcept { swap(other); }
    MORV_SIMPLE_HASH_TABLE& operator=(MORV_SIMPLE_HASH_TABLE&& other) noexcept
    {
        if (this != &other) {
            clear();
            swap(other);
        }
        return *this;
    }
    ~MORV_SIMPLE_HASH_TABLE() { free_arrays(m_entries, m_occupied, m_deleted, m_capacity); }

    uint64_t size() const { return m_size; }
    bool empty() const { return m_size == 0; }
    uint64_t capacity() const { return m_capacity; }
    uint64_t get_max_probe_length() const { return m_max_probe_length; }
    uint64_t get_num_resize_calls() const { return m_num_resize_calls; }
    uint64_t get_num_insert_triggered_resize_calls() const { return m_num_insert_triggered_resize_calls; }
    uint64_t get_num_insert_max_probe_length_reached() const { return m_num_insert_max_probe_length_reached; }
    uint64_t get_invalidation_stamp() const { return m_invalidation_stamp; }
    uint64_t get_load_limit_percent() const { return m_load_limit_percent; }

    // s_FOUND with the key's slot, s_ABSENT with the slot an insertion
    // would take (the last non-occupied slot seen: a free slot ends the
    // probe at once, an erased one is reused only when no free slot
    // follows within the limit), or s_NO_FREE_SLOT.
    int find_slot(const K& key, uint64_t* slot) const
    {
        if (m_max_probe_length == 0) return s_NO_FREE_SLOT;
        uint64_t s = home_slot(key);
        bool seen_free = false;
        for (uint64_t i = 0;;) {
            if (is_occupied(s)) {
                if (FUNCS::equal(key_of(m_entries[s]), key)) {
                    *slot = s;
                    return s_FOUND;
                }
            } else {
                *slot = s;
                seen_free = true;
                if (!is_deleted(s)) return s_ABSENT;
            }
            if (++i == m_max_probe_length) break;
            s = next_probe(s, i);
        }
        return seen_free ? s_ABSENT : s_NO_FREE_SLOT;
    }

    bool contains(const K& key) const
    {
        uint64_t slot = 0;
        return find_slot(key, &slot) == s_FOUND;
    }
    iterator find(const K& key)
    {
        uint64_t slot = 0;
        return find_slot(key, &slot) == s_FOUND ? iterator(this, slot) : end();
    }
    const_iterator find(const K& key) const
    {
        uint64_t slot = 0;
        return find_slot(key, &slot) == s_FOUND ? const_iterator(this, slot) : end();
    }

    // True when the key was there. Its slot is marked erased, not free, so
    // that the probe sequences passing through it stay intact.
    bool erase(const K& key)
    {
        uint64_t slot = 0;
        if (find_slot(key, &slot) != s_FOUND) return false;
        erase_slot(slot);
        return true;
    }
    // Returns the iterator to the next entry.
    iterator erase(iterator it)
    {
        it.check();
        MORV_ASSERT(it.m_hash == this);
        uint64_t slot = it.index();
        erase_slot(slot);
        return iterator(this, next_occupied(slot + 1));
    }

    // Grows to at least n slots (64 at least); never shrinks.
    void resize(uint64_t n)
    {
        uint64_t target = n > s_FIRST_CAPACITY ? n : s_FIRST_CAPACITY;
        if (target <= m_capacity) return;
        ++m_num_resize_calls;
        ++m_invalidation_stamp;
        uint64_t* new_occupied = allocate_bitmap(target);
        // Placement is tried on the bitmap first, so a failure leaves every
        // entry where it was.
        if (!rehash_into(new_occupied, target, nullptr)) {
            morv_mem_free(new_occupied);
            ++m_num_insert_triggered_resize_calls;
            resize(2 * target);
            return;
        }
        std::memset(new_occupied, 0, bitmap_words(target) * sizeof(uint64_t));
        ENTRY* new_entries = allocate_entries(target);
        rehash_into(new_occupied, target, new_entries);
        free_arrays(m_entries, m_occupied, m_deleted, m_capacity);
        m_entries = new_entries;
        m_occupied = new_occupied;
        m_deleted = allocate_bitmap(target);
        m_capacity = target;
        m_max_probe_length = probe_limit_for(target);
    }

    // Room for k entries within the load limit.
    void reserve(uint64_t k) { resize((k * 100 + m_load_limit_percent - 1) / m_load_limit_percent); }

    // Frees everything and starts afresh; outstanding iterators become invalid.
    void clear()
    {
        if (!m_capacity) return;
        free_arrays(m_entries, m_occupied, m_deleted, m_capacity);
        m_entries = nullptr;
        m_occupied = m_deleted = nullptr;
        ++m_invalidation_stamp;
        m_capacity = m_size = 0;
        m_max_probe_length = 0;
        m_num_resize_calls = m_num_insert_triggered_resize_calls = m_num_insert_max_probe_length_reached = 0;
    }

    // Empties the table but keeps its slots, so that a table refilled to
    // about the same size neither allocates nor rehashes again. Outstanding
    // iterators become invalid.
    void clear_keeping_capacity()
    {
        if (!m_capacity) return;
        if constexpr (!IS_SET && !s_TRIVIAL)
            for (uint64_t s = next_occupied(0); s < m_capacity; s = next_occupied(s + 1))
                m_entries[s].second = decltype(ENTRY::second)();
        std::memset(m_occupied, 0, bitmap_words(m_capacity) * sizeof(uint64_t));
        std::memset(m_deleted, 0, bitmap_words(m_capacity) * sizeof(uint64_t));
        m_size = 0;
        ++m_invalidation_stamp;
    }

    // One line at level 2: fill, probe lengths and growth counters.
    void print_statistics() const
    {
        uint64_t entries_found = 0, total = 0, highest = 0;
        for (uint64_t s = next_occupied(0); s < m_capacity; s = next_occupied(s + 1)) {
            uint64_t cost = probe_offset(key_of(m_entries[s]), s) + 1;
            total += cost;
            if (cost > highest) highest = cost;
            ++entries_found;
        }
        MORV_ASSERT(entries_found == m_size);
        double load = m_capacity ? double(m_size) / double(m_capacity) : 0.0;
        double average = m_size ? double(total) / double(m_size) : 0.0;
        morv_sink_print(2,
                        "   [size=%d, capacity=%d, load-factor=%0.2f, max-probe-length=%d, "
                        "avg-lookup-time=%0.2f, highest-offset=%d, num-resize-calls=%d, "
                        "num-insert-triggered-resize-calls=%d, num-insert-max-probe-length-reached=%d]",
                        int(m_size), int(m_capacity), load, int(m_max_probe_length), average, int(highest),
                        int(m_num_resize_calls), int(m_num_insert_triggered_resize_calls),
                        int(m_num_insert_max_probe_length_reached));
    }

    iterator begin() { return iterator(this, next_occupied(0)); }
    iterator end() { return iterator(this, m_capacity); }
    const_iterator begin() const { return const_iterator(this, next_occupied(0)); }
    const_iterator end() const { return const_iterator(this, m_capacity); }

protected:
    // Find-or-add; a new entry holds the key and a value-initialised value.
    ENTRY* insert_entry(const K& key, bool* added)
    {
        uint64_t slot = 0;
        *added = false;
        if (m_capacity) {
            int answer = find_slot(key, &slot);
            if (answer == s_FOUND) return &m_entries[slot];
            if (answer == s_ABSENT && !over_load_limit(m_size + 1)) return store(slot, key, added);
            if (answer == s_NO_FREE_SLOT) ++m_num_insert_max_probe_length_reached;
        }
        grow();
        while (!direct_probe(key, &slot)) {
            grow();
            ++m_num_insert_triggered_resize_calls;
        }
        if (is_occupied(slot)) return &m_entries[slot];
        return store(slot, key, added);
    }

private:
    static constexpr bool s_TRIVIAL = std::is_trivially_copyable_v<ENTRY> && std::is_trivially_destructible_v<ENTRY>;

    static const K& key_of(const ENTRY& entry)
    {
        if constexpr (IS_SET) return entry;
        else return entry.first;
    }

    // Smallest k with 2^k >= capacity; 0 below 2 slots.
    static uint64_t probe_limit_for(uint64_t capacity)
    {
        uint64_t k = 0;
        while (k < 64 && (uint64_t(1) << k) < capacity) ++k;
        return capacity < 2 ? 0 : k;
    }
    static uint64_t bitmap_words(uint64_t capacity) { return (capacity + 63) / 64; }

    bool is_occupied(uint64_t s) const { return (m_occupied[s / 64] >> (s % 64)) & 1u; }
    bool is_deleted(uint64_t s) const { return (m_deleted[s / 64] >> (s % 64)) & 1u; }

    bool over_load_limit(uint64_t entries) const { return entries * 100 > m_capacity * m_load_limit_percent; }

    // The slot is taken from the high bits of the hash times a 64-bit odd
    // constant (multiplicative hashing), scaled to the capacity. The low bits
    // of key * 16777619 repeat for keys that differ only in their high bits
    // (ids shifted into a word, masks, aligned pointers) and would pile such
    // keys onto a few home slots, growing the table without end; the high
    // bits of the product depend on every bit below them, and folding the
    // upper half of the hash in first lets the top bits of a key count too.
    static constexpr uint64_t s_SLOT_MULTIPLIER = 0x9E3779B97F4A7C15u;
    // capacity is 64 or more.
    static uint64_t slot_of(uint64_t h, uint64_t capacity)
    {
        const uint64_t x = (h ^ (h >> 32)) * s_SLOT_MULTIPLIER;
        // Doubling keeps power-of-two capacities, whose slot is the top bits.
        if ((capacity & (capacity - 1)) == 0) return x >> (64 - __builtin_ctzll(capacity));
        __extension__ using U128 = unsigned __int128;
        return static_cast<uint64_t>((U128(x) * capacity) >> 64);
    }
    uint64_t home_slot(const K& key) const { return slot_of(FUNCS::hash(key), m_capacity); }
    // Probe i from probe i - 1: one step of i (every step is below the capacity).
    uint64_t next_probe(uint64_t s, uint64_t i) const { return step(s, i, m_capacity); }
    static uint64_t step(uint64_t s, uint64_t i, uint64_t capacity)
    {
        s += i;
        return s >= capacity ? s - capacity : s;
    }

    uint64_t next_occupied(uint64_t s) const
    {
        while (s < m_capacity) {
            uint64_t word = m_occupied[s / 64] >> (s % 64);
            if (word) {
                s += static_cast<uint64_t>(__builtin_ctzll(word));
                return s < m_capacity ? s : m_capacity;
            }
            s = (s / 64 + 1) * 64;
        }
        return m_capacity;
    }

    // Offset i at which the key's probe sequence reaches slot s.
    uint64_t probe_offset(const K& key, uint64_t s) const
    {
        uint64_t p = home_slot(key);
        uint64_t i = 0;
        while (p != s && i < m_capacity) p = next_probe(p, ++i);
        return i;
    }

    // First slot on the key's probe sequence that is not occupied or holds
    // the key, within the probe limit.
    bool direct_probe(const K& key, uint64_t* slot) const
    {
        uint64_t s = home_slot(key);
        for (uint64_t i = 0; i < m_max_probe_length; s = next_probe(s, ++i)) {
            if (!is_occupied(s) || FUNCS::equal(key_of(m_entries[s]), key)) {
                *slot = s;
                return true;
            }
        }
        return false;
    }

    // Places every entry into a table of new_capacity slots under the
    // present probe limit, in slot order; with new_entries null only the
    // bitmap is filled. False when an entry finds no slot.
    bool rehash_into(uint64_t* new_occupied, uint64_t new_capacity, ENTRY* new_entries)
    {
        for (uint64_t s = next_occupied(0); s < m_capacity; s = next_occupied(s + 1)) {
            uint64_t t = slot_of(FUNCS::hash(key_of(m_entries[s])), new_capacity);
            uint64_t i = 0;
            while (i < m_max_probe_length && ((new_occupied[t / 64] >> (t % 64)) & 1u)) t = step(t, ++i, new_capacity);
            if (i == m_max_probe_length) return false;
            new_occupied[t / 64] |= uint64_t(1) << (t % 64);
            if (new_entries) place(new_entries[t], std::move(m_entries[s]));
        }
        return true;
    }

    void grow() { resize(m_capacity * 2 > m_capacity + 1 ? m_capacity * 2 : m_capacity + 1); }

    ENTRY* store(uint64_t slot, const K& key, bool* added)
    {
        if constexpr (IS_SET) place(m_entries[slot], ENTRY(key));
        else place(m_entries[slot], ENTRY{key, decltype(ENTRY::second)()});
        m_occupied[slot / 64] |= uint64_t(1) << (slot % 64);
        m_deleted[slot / 64] &= ~(uint64_t(1) << (slot % 64));
        ++m_size;
        *added = true;
        return &m_entries[slot];
    }

    void erase_slot(uint64_t slot)
    {
        // A class value gives its resources back now, not at the next growth.
        if constexpr (!IS_SET && !s_TRIVIAL) m_entries[slot].second = decltype(ENTRY::second)();
        m_occupied[slot / 64] &= ~(uint64_t(1) << (slot % 64));
        m_deleted[slot / 64] |= uint64_t(1) << (slot % 64);
        --m_size;
    }

    // Trivial entries live in raw memory; class entries are constructed in
    // every slot of an array and assigned to.
    static void place(ENTRY& slot, ENTRY&& entry)
    {
        if constexpr (s_TRIVIAL) ::new (static_cast<void*>(&slot)) ENTRY(std::move(entry));
        else slot = std::move(entry);
    }

    static uint64_t* allocate_bitmap(uint64_t capacity)
    {
        uint64_t words = bitmap_words(capacity);
        auto* bitmap = static_cast<uint64_t*>(morv_mem_alloc(words * sizeof(uint64_t)));
        std::memset(bitmap, 0, words * sizeof(uint64_t));
        return bitmap;
    }

    static ENTRY* allocate_entries(uint64_t capacity)
    {
        if (capacity > uint64_t(-1) / sizeof(ENTRY)) throw std::bad_array_new_length();
        auto* entries = static_cast<ENTRY*>(morv_mem_alloc(capacity * sizeof(ENTRY)));
        if constexpr (!s_TRIVIAL)
            for (uint64_t s = 0; s < capacity; ++s) ::new (static_cast<void*>(&entries[s])) ENTRY();
        return entries;
    }

    static void free_arrays(ENTRY* entries, uint64_t* occupied, uint64_t* deleted, uint64_t capacity)
    {
        if constexpr (!s_TRIVIAL)
            if (entries)
                for (uint64_t s = 0; s < capacity; ++s) entries[s].~ENTRY();
        morv_mem_free(entries);
        morv_mem_free(occupied);
        morv_mem_free(deleted);
    }

    void swap(MORV_SIMPLE_HASH_TABLE& other) noexcept
    {
        std::swap(m_size, other.m_size);
        std::swap(m_capacity, other.m_capacity);
        std::swap(m_entries, other.m_entries);
        std::swap(m_occupied, other.m_occupied);
        std::swap(m_deleted, other.m_deleted);
        std::swap(m_max_probe_length, other.m_max_probe_length);
        std::swap(m_num_resize_calls, other.m_num_resize_calls);
        std::swap(m_num_insert_triggered_resize_calls, other.m_num_insert_triggered_resize_calls);
        std::swap(m_num_insert_max_probe_length_reached, other.m_num_insert_max_probe_length_reached);
        std::swap(m_invalidation_stamp, other.m_invalidation_stamp);
        std::swap(m_load_limit_percent, other.m_load_limit_percent);
        // Iterators of either table must not read the other's arrays.
        ++m_invalidation_stamp;
        ++other.m_invalidation_stamp;
    }

    uint64_t m_size = 0;
    uint64_t m_capacity = 0;
    ENTRY* m_entries = nullptr;
    uint64_t* m_occupied = nullptr;
    uint64_t* m_deleted = nullptr;
    uint64_t m_max_probe_length = 0;
    uint64_t m_num_resize_calls = 0;
    uint64_t m_num_insert_triggered_resize_calls = 0;
    uint64_t m_num_insert_max_probe_length_reached = 0;
    uint64_t m_invalidation_stamp = 0;
    uint64_t m_load_limit_percent = s_DEFAULT_LOAD_LIMIT_PERCENT;
};

// ---------------------------------------------------------------- map

template <typename K, typename V, typename FUNCS = MORV_SIMPLE_HASH_FUNCS<K>>
class MORV_SIMPLE_HASH : public MORV_SIMPLE_HASH_TABLE<MORV_SIMPLE_HASH_ENTRY<K, V>, K, FUNCS, false>
{
    using BASE = MORV_SIMPLE_HASH_TABLE<MORV_SIMPLE_HASH_ENTRY<K, V>, K, FUNCS, false>;

public:
    using BASE::BASE;

    // Find-or-insert: a new key gets 0, null, an empty bit vector or a zero record.
    V& operator[](const K& key)
    {
        bool added = false;
        return this->insert_entry(key, &added)->second;
    }
};
