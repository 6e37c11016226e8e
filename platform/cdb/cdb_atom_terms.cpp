#include "cdb/cdb_atom_terms.h"

#include <algorithm>
#include <vector>

#include "cdb/cdb_atom_node.h"
#include "msg/msg.h"

#define CDB_CHECK(cond) MSG_ASSERT(cond, "CDB")

#if defined(__SANITIZE_ADDRESS__)
#define CDB_TERM_POOL 0
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define CDB_TERM_POOL 0
#endif
#endif
#ifndef CDB_TERM_POOL
#define CDB_TERM_POOL 1
#endif

namespace {
#if CDB_TERM_POOL
// One free list per block size (terms come in two sizes). Blocks are
// carved from 64 KB chunks that live until the process ends.
struct TERM_POOL
{
    size_t size = 0;
    void* free_list = nullptr;
    char* chunk = nullptr;
    size_t left = 0;
};
TERM_POOL s_pools[2];
#endif
}  // namespace

void* cdb_term_alloc(size_t bytes)
{
#if CDB_TERM_POOL
    bytes = (bytes + 7) & ~size_t(7);
    TERM_POOL* pool = nullptr;
    for (TERM_POOL& p : s_pools)
        if (p.size == bytes || p.size == 0) {
            p.size = bytes;
            pool = &p;
            break;
        }
    if (pool == nullptr) return ::operator new(bytes);
    if (pool->free_list) {
        void* r = pool->free_list;
        pool->free_list = *static_cast<void**>(r);
        return r;
    }
    if (pool->left < bytes) {
        const size_t chunk_bytes = 65536 - 64;
        pool->chunk = static_cast<char*>(::operator new(chunk_bytes));
        pool->left = chunk_bytes;
    }
    void* r = pool->chunk;
    pool->chunk += bytes;
    pool->left -= bytes;
    return r;
#else
    return ::operator new(bytes);
#endif
}

void cdb_term_free(void* p, size_t bytes)
{
    if (p == nullptr) return;
#if CDB_TERM_POOL
    bytes = (bytes + 7) & ~size_t(7);
    for (TERM_POOL& pool : s_pools)
        if (pool.size == bytes) {
            *static_cast<void**>(p) = pool.free_list;
            pool.free_list = p;
            return;
        }
    ::operator delete(p);
#else
    (void)bytes;
    ::operator delete(p);
#endif
}

// ---------------------------------------------------------------- CDB_NET_ITERM

void CDB_NET_ITERM::set_vcc()
{
    disconnect_from_source(CONNECT_VCC);
}

void CDB_NET_ITERM::set_gnd()
{
    disconnect_from_source(CONNECT_GND);
}

void CDB_NET_ITERM::disconnect_from_source(int connect_state)
{
    if (m_source) m_source->unlink(static_cast<CDB_ATOM_ITERM*>(this));
    switch (connect_state) {
    case CONNECT_GND: set_state(ST_GND); break;
    case CONNECT_VCC: set_state(ST_VCC); break;
    default: set_state(ST_UNCONNECTED); break;
    }
}

// ---------------------------------------------------------------- CDB_ATOM_ITERM

CDB_ATOM_ITERM::CDB_ATOM_ITERM(CDB_ATOM_NODE* node, int port_type)
{
    m_node = node;
    if (port_type >= 0 && port_type < DB_MAX_INPUT_PORT_TYPE) m_usage[0] = static_cast<uint16_t>(port_type);
}

CDB_ATOM_ITERM::~CDB_ATOM_ITERM()
{
    if (m_source) m_source->unlink(this);
}

void CDB_ATOM_ITERM::insert_fanin(CDB_ATOM_OTERM* oterm)
{
    CDB_CHECK(oterm);
    oterm->insert_fanout(this);
}

bool CDB_ATOM_ITERM::is_used_as(int port_type) const
{
    for (uint16_t u : m_usage)
        if (u != NO_USAGE && u == port_type) return true;
    return false;
}

int CDB_ATOM_ITERM::get_any_usage_as() const
{
    for (uint16_t u : m_usage)
        if (u != NO_USAGE) return u;
    return DB_MAX_INPUT_PORT_TYPE;
}

int CDB_ATOM_ITERM::get_usage_count() const
{
    int n = 0;
    for (uint16_t u : m_usage) n += u != NO_USAGE;
    return n;
}

void CDB_ATOM_ITERM::set_usage_as(int port_type)
{
    CDB_CHECK(port_type >= 0 && port_type < DB_MAX_INPUT_PORT_TYPE);
    if (is_used_as(port_type)) return;
    for (uint16_t& u : m_usage)
        if (u == NO_USAGE) {
            u = static_cast<uint16_t>(port_type);
            return;
        }
    MSG_INTERNAL_ERROR::report("usage set of the input term is full", "CDB", __FILE__, __LINE__);
}

void CDB_ATOM_ITERM::clear_usage_as(int port_type)
{
    // Keep the remaining usages packed at the front: the first one is the
    // term's primary usage.
    int w = 0;
    uint16_t kept[MAX_USAGES] = {NO_USAGE, NO_USAGE, NO_USAGE, NO_USAGE};
    for (uint16_t u : m_usage)
        if (u != NO_USAGE && u != port_type) kept[w++] = u;
    std::copy(kept, kept + MAX_USAGES, m_usage);
}

void CDB_ATOM_ITERM::set_port_index(int index)
{
    m_prop = (m_prop & ~P_INDEX_MASK) | ((static_cast<uint32_t>(index) & 0xffffu) << P_INDEX_SHIFT);
}

bool CDB_ATOM_ITERM::is_logical_vcc() const
{
    return (is_vcc() || is_gnd()) && (is_vcc() ^ reads_complemented());
}

bool CDB_ATOM_ITERM::is_logical_gnd() const
{
    return (is_vcc() || is_gnd()) && !is_logical_vcc();
}

void CDB_ATOM_ITERM::set_logical_vcc()
{
    reads_complemented() ? set_gnd() : set_vcc();
}

void CDB_ATOM_ITERM::set_logical_gnd()
{
    reads_complemented() ? set_vcc() : set_gnd();
}

int CDB_ATOM_ITERM::get_global() const
{
    int raw = static_cast<int>((m_prop & P_GLOBAL_MASK) >> P_GLOBAL_SHIFT);
    return raw >= 16 ? raw - 32 : raw;
}

void CDB_ATOM_ITERM::set_global(int value)
{
    m_prop = (m_prop & ~P_GLOBAL_MASK) | ((static_cast<uint32_t>(value) & 0x1fu) << P_GLOBAL_SHIFT);
}

bool CDB_ATOM_ITERM::is_connected_to_delay_chain(int chain) const
{
    return chain == DB_DELAY_CHAIN_INPUT && (m_prop & P_DC_CONNECTED);
}

void CDB_ATOM_ITERM::set_connected_to_delay_chain(int chain, bool on)
{
    if (chain != DB_DELAY_CHAIN_INPUT) return;
    on ? m_prop |= P_DC_CONNECTED : m_prop &= ~P_DC_CONNECTED;
}

bool CDB_ATOM_ITERM::use_delay_chain(int chain) const
{
    return chain == DB_DELAY_CHAIN_INPUT && (m_prop & P_DC_USE);
}

int CDB_ATOM_ITERM::get_delay_chain_index(int chain) const
{
    return chain == DB_DELAY_CHAIN_INPUT ? m_delay_chain_index : -1;
}

void CDB_ATOM_ITERM::set_delay_chain_index(int chain, int index)
{
    if (chain != DB_DELAY_CHAIN_INPUT) return;
    m_delay_chain_index = static_cast<int16_t>(index);
    m_prop |= P_DC_USE;
}

bool CDB_ATOM_ITERM::has_user_delay_chain(int chain) const
{
    return chain == DB_DELAY_CHAIN_INPUT && (m_prop & P_DC_USER);
}

void CDB_ATOM_ITERM::set_user_delay_chain(int chain, bool on)
{
    if (chain != DB_DELAY_CHAIN_INPUT) return;
    on ? m_prop |= P_DC_USER : m_prop &= ~P_DC_USER;
}

void CDB_ATOM_ITERM::reset_delay_chain(int chain)
{
    if (chain != DB_DELAY_CHAIN_INPUT) return;
    m_prop &= ~(P_DC_CONNECTED | P_DC_USE | P_DC_USER);
    m_delay_chain_index = -1;
}

// ---------------------------------------------------------------- CDB_NET_OTERM

CDB_NET_OTERM::fanout_iterator& CDB_NET_OTERM::fanout_iterator::operator++()
{
    m_term = m_term->get_next_fanout();
    return *this;
}

int CDB_NET_OTERM::get_number_of_fanout_nodes() const
{
    std::vector<const CDB_ATOM_NODE*> nodes;
    nodes.reserve(m_fanout_count);
    for (CDB_ATOM_ITERM* t = m_first_fanout; t; t = t->get_next_fanout()) nodes.push_back(t->get_my_node());
    std::sort(nodes.begin(), nodes.end());
    return static_cast<int>(std::unique(nodes.begin(), nodes.end()) - nodes.begin());
}

void CDB_NET_OTERM::link_back(CDB_ATOM_ITERM* t)
{
    t->m_source = static_cast<CDB_ATOM_OTERM*>(this);
    t->m_prev_fanout = m_last_fanout;
    t->m_next_fanout = nullptr;
    if (m_last_fanout) m_last_fanout->m_next_fanout = t;
    else m_first_fanout = t;
    m_last_fanout = t;
    ++m_fanout_count;
    t->set_state(CDB_NET_ITERM::ST_DRIVEN);
}

void CDB_NET_OTERM::unlink(CDB_ATOM_ITERM* t)
{
    CDB_CHECK(t->m_source == static_cast<CDB_ATOM_OTERM*>(this));
    if (t->m_prev_fanout) t->m_prev_fanout->m_next_fanout = t->m_next_fanout;
    else m_first_fanout = t->m_next_fanout;
    if (t->m_next_fanout) t->m_next_fanout->m_prev_fanout = t->m_prev_fanout;
    else m_last_fanout = t->m_prev_fanout;
    t->m_prev_fanout = t->m_next_fanout = nullptr;
    t->m_source = nullptr;
    --m_fanout_count;
    t->set_state(CDB_NET_ITERM::ST_UNCONNECTED);
}

void CDB_NET_OTERM::insert_fanout(CDB_ATOM_ITERM* iterm)
{
    CDB_CHECK(iterm);
    if (iterm->m_source == static_cast<CDB_ATOM_OTERM*>(this)) return;
    if (iterm->m_source) iterm->m_source->unlink(iterm);
    link_back(iterm);
}

void CDB_NET_OTERM::remove_fanout(CDB_ATOM_ITERM* iterm)
{
    CDB_CHECK(iterm && iterm->get_source() == static_cast<CDB_ATOM_OTERM*>(this));
    unlink(iterm);
}

void CDB_NET_OTERM::remove_all_fanouts()
{
    while (m_first_fanout) unlink(m_first_fanout);
}

void CDB_NET_OTERM::adopt_fanouts(CDB_NET_OTERM* old_term, bool at_front)
{
    CDB_CHECK(old_term);
    if (old_term == this || old_term->m_first_fanout == nullptr) return;
    CDB_ATOM_ITERM* first = old_term->m_first_fanout;
    CDB_ATOM_ITERM* last = old_term->m_last_fanout;
    for (CDB_ATOM_ITERM* t = first; t; t = t->m_next_fanout) t->m_source = static_cast<CDB_ATOM_OTERM*>(this);
    // Splice the whole list in O(length) for the source update, O(1) for the links.
    if (m_first_fanout == nullptr) {
        m_first_fanout = first;
        m_last_fanout = last;
    } else if (at_front) {
        last->m_next_fanout = m_first_fanout;
        m_first_fanout->m_prev_fanout = last;
        m_first_fanout = first;
    } else {
        m_last_fanout->m_next_fanout = first;
        first->m_prev_fanout = m_last_fanout;
        m_last_fanout = last;
    }
    m_fanout_count += old_term->m_fanout_count;
    old_term->m_first_fanout = old_term->m_last_fanout = nullptr;
    old_term->m_fanout_count = 0;
}

// ---------------------------------------------------------------- CDB_ATOM_OTERM

CDB_ATOM_OTERM::CDB_ATOM_OTERM(CDB_ATOM_NODE* node, int port_type) : m_usage(static_cast<uint16_t>(port_type))
{
    m_node = node;
}

CDB_ATOM_OTERM::~CDB_ATOM_OTERM()
{
    remove_all_fanouts();
}

CDB_LUTMASK CDB_ATOM_OTERM::get_lutmask() const
{
    return m_node ? m_node->get_output_lutmask(m_usage) : CDB_LUTMASK();
}

void CDB_ATOM_OTERM::set_lutmask(const CDB_LUTMASK& mask)
{
    CDB_CHECK(m_node);
    m_node->set_output_lutmask(m_usage, mask);
}

#undef CDB_CHECK
#undef CDB_TERM_POOL
