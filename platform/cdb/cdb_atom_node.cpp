#include "cdb/cdb_atom_node.h"

#include <algorithm>
#include <iterator>
#include <type_traits>

#include "cdb/cdb_atom_netlist.h"
#include "dev/dev_device.h"
#include "msg/msg.h"

#define CDB_CHECK(cond) MSG_ASSERT(cond, "CDB")

uint32_t CDB_ATOM_NODE::s_next_id = 1;

// ---------------------------------------------------------------- term slots

// Exact at first (most atoms never grow), then by half again, up to what the
// 16-bit counts hold.
static size_t grown_capacity(size_t capacity, size_t needed)
{
    const size_t grown = capacity == 0 ? needed : std::max(needed, capacity + capacity / 2);
    return std::max(needed, std::min<size_t>(grown, UINT16_MAX));
}

void CDB_TERM_SLOTS::reallocate(size_t in_capacity, size_t out_capacity)
{
    CDB_CHECK(in_capacity <= UINT16_MAX && out_capacity <= UINT16_MAX);
    void* block = ::operator new((in_capacity + out_capacity) * sizeof(void*));
    auto* in_slots = static_cast<CDB_ATOM_ITERM**>(block);
    auto* out_slots = static_cast<CDB_ATOM_OTERM**>(static_cast<void*>(in_slots + in_capacity));
    const std::span<CDB_ATOM_ITERM*> old_in = in();
    const std::span<CDB_ATOM_OTERM*> old_out = out();
    std::copy(old_in.begin(), old_in.end(), in_slots);
    std::copy(old_out.begin(), old_out.end(), out_slots);
    ::operator delete(m_block);
    m_block = block;
    m_in_capacity = static_cast<uint16_t>(in_capacity);
    m_out_capacity = static_cast<uint16_t>(out_capacity);
}

void CDB_TERM_SLOTS::resize_in(size_t n)
{
    if (n > m_in_capacity) reallocate(grown_capacity(m_in_capacity, n), m_out_capacity);
    auto* slots = static_cast<CDB_ATOM_ITERM**>(m_block);
    std::fill(slots + m_in_size, slots + std::max<size_t>(n, m_in_size), nullptr);
    m_in_size = static_cast<uint16_t>(n);
}

void CDB_TERM_SLOTS::resize_out(size_t n)
{
    if (n > m_out_capacity) reallocate(m_in_capacity, grown_capacity(m_out_capacity, n));
    CDB_ATOM_OTERM** slots = out().data();
    std::fill(slots + m_out_size, slots + std::max<size_t>(n, m_out_size), nullptr);
    m_out_size = static_cast<uint16_t>(n);
}

namespace {
const int s_in_comb6[] = {DB_DATA_A, DB_DATA_B, DB_DATA_C,   DB_DATA_D,  DB_DATA_E,
                          DB_DATA_F, DB_DATA_G, DB_CARRY_IN, DB_SHARE_IN};
const int s_in_comb4[] = {DB_DATA_A, DB_DATA_B, DB_DATA_C, DB_DATA_D, DB_CARRY_IN};
// Registers fix the slots of the common inputs only; the rarer controls are unordered.
const int s_in_reg[] = {DB_DATAIN, DB_CLOCK, DB_CLOCK_ENABLE, DB_CLEAR};
const int s_in_reg_extra[] = {DB_SYNCH_CLEAR, DB_SYNCH_LOAD, DB_SYNCH_DATA, DB_ASYNCH_LOAD, DB_ASYNCH_DATA};
const int s_in_uvo[] = {DB_DATA_A,       DB_DATA_B, DB_DATA_C,      DB_DATA_D,     DB_CARRY_IN,    DB_CLOCK,
                        DB_CLOCK_ENABLE, DB_CLEAR,  DB_SYNCH_CLEAR, DB_SYNCH_LOAD, DB_ASYNCH_LOAD, DB_ASYNCH_DATA};
// UVO inputs without a fixed slot (DB_SYNCH_DATA usually shares the DB_DATA_C term).
const int s_in_uvo_extra[] = {DB_SYNCH_DATA, DB_CHAIN_IN_0, DB_CHAIN_IN_1, DB_REG_CONTROL, DB_REG_CASCADE_IN};
// The shared adder adds A + B + carry-in (102) and C + D + that carry; 103
// is the chain's second input, which its function does not read.
const int s_in_hsadder[] = {DB_DATA_A, DB_DATA_B, DB_DATA_C, DB_DATA_D, DB_CHAIN_IN_0, DB_CHAIN_IN_1};
const int s_in_clkbuf[] = {DB_CLKBUF_IN, DB_CLOCK_ENABLE};

const int s_out_comb6[] = {DB_COMB_OUT, DB_SUM_OUT, DB_CARRY_OUT, DB_SHARE_OUT};
const int s_out_comb4[] = {DB_COMB_OUT, DB_CARRY_OUT};
const int s_out_reg[] = {DB_REG_OUT};
const int s_out_uvo[] = {DB_COMB_OUT, DB_REG_OUT, DB_CARRY_OUT, DB_CHAIN_OUT_0, DB_CHAIN_OUT_1};
const int s_out_hsadder[] = {DB_HSADDER_SUM_0, DB_HSADDER_SUM_1, DB_CHAIN_OUT_0};
const int s_out_clkbuf[] = {DB_CLKBUF_OUT};

template <size_t N>
bool contains(const int (&a)[N], int v)
{
    return std::find(a, a + N, v) != a + N;
}
bool is_lut_kind(int kind)
{
    return kind == CDB_KIND_LCELL_COMB || kind == CDB_KIND_UVO_LCELL || kind == CDB_KIND_HSADDER;
}

// Input and output terms sit in their lists alike: a term leaves or is
// replaced in its place, so the places of the other terms do not move.
template <typename TERM>
bool put_in_place_of(std::span<TERM*> terms, const TERM* old, std::type_identity_t<TERM*> replacement)
{
    for (TERM*& t : terms)
        if (t == old) {
            t = replacement;
            return true;
        }
    return false;
}

// The replacement by type shared by inputs and outputs; set_by_type places
// new_term when no term of that type and index was there.
template <typename TERM, typename SET_BY_TYPE>
TERM* replace_term_by_type(CDB_ATOM_NODE* node, std::span<TERM*> terms, TERM* old, TERM* new_term, int port, int index,
                           SET_BY_TYPE set_by_type)
{
    if (old == nullptr) {
        if (new_term) set_by_type(new_term);
        return nullptr;
    }
    put_in_place_of(terms, old, new_term);
    if (new_term) {
        new_term->set_my_node(node);
        new_term->set_usage_as(port);
        new_term->set_port_index(index);
    }
    return old;
}
}  // namespace

CDB_ATOM_NODE::PORT_LIST CDB_ATOM_NODE::ordered_inputs_of(int family, int kind)
{
    auto port_list = [](const auto& ports) { return PORT_LIST{ports, static_cast<int>(std::size(ports))}; };
    switch (kind) {
    case CDB_KIND_LCELL_COMB: return cdb_family_lut_size(family) == 6 ? port_list(s_in_comb6) : port_list(s_in_comb4);
    case CDB_KIND_REGISTER: return port_list(s_in_reg);
    case CDB_KIND_UVO_LCELL: return port_list(s_in_uvo);
    case CDB_KIND_HSADDER: return port_list(s_in_hsadder);
    case CDB_KIND_CLKBUF: return port_list(s_in_clkbuf);
    default: return {nullptr, 0};
    }
}

CDB_ATOM_NODE::CDB_ATOM_NODE(int family, int kind, int atom_type)
    : m_id(s_next_id++), m_family(static_cast<uint8_t>(family)), m_kind(static_cast<uint8_t>(kind)),
      m_atom_type(atom_type)
{}

CDB_ATOM_NODE::~CDB_ATOM_NODE()
{
    if (m_netlist) m_netlist->remove_node(this);
    disconnect_all();
    for (CDB_ATOM_ITERM* t : m_terms.in()) delete t;
    for (CDB_ATOM_OTERM* t : m_terms.out()) delete t;
    if (m_extras) {
        delete m_extras->assignments;
        delete m_extras->latch;
        delete m_extras->params;
        delete m_extras;
    }
}

CDB_ATOM_NODE::EXTRAS& CDB_ATOM_NODE::extras()
{
    if (m_extras == nullptr) m_extras = new EXTRAS;
    return *m_extras;
}

void CDB_ATOM_NODE::set_aux_mask(uint64_t mask)
{
    if (mask != 0 || m_extras != nullptr) extras().aux_mask = mask;
}

void CDB_ATOM_NODE::store_lutmask(const CDB_LUTMASK& mask)
{
    // Every mask keeps its value within its rows, so the two fields give it back.
    m_lut_value = mask.get_value();
    m_lut_inputs = static_cast<uint8_t>(mask.get_num_inputs());
}

void CDB_ATOM_NODE::create_atom_info()
{
    PORT_LIST p = ordered_inputs_of(m_family, m_kind);
    m_ordered_inputs = static_cast<uint8_t>(p.count);
    if (m_terms.in().size() < static_cast<size_t>(p.count)) m_terms.resize_in(p.count);
}

bool CDB_ATOM_NODE::is_six_input_cell() const
{
    return cdb_family_lut_size(m_family) == 6;
}

HDB_HIERARCHY* CDB_ATOM_NODE::get_atom_hierarchy() const
{
    return m_name != nullptr && !m_name->is_root() ? m_name->get_parent()->get_hierarchy() : nullptr;
}

int CDB_ATOM_NODE::get_lut_size() const
{
    if (m_kind == CDB_KIND_LCELL_COMB || m_kind == CDB_KIND_UVO_LCELL) return cdb_family_lut_size(m_family);
    if (m_kind == CDB_KIND_HSADDER) return 4;
    return 0;
}

// ---------------------------------------------------------------- ports

bool CDB_ATOM_NODE::implements(int port) const
{
    PORT_LIST p = ordered_inputs_of(m_family, m_kind);
    if (std::find(p.ports, p.ports + p.count, port) != p.ports + p.count) return true;
    if (m_kind == CDB_KIND_UVO_LCELL) return contains(s_in_uvo_extra, port);
    if (m_kind == CDB_KIND_REGISTER) return contains(s_in_reg_extra, port);
    return false;
}

bool CDB_ATOM_NODE::implements_output(int port) const
{
    switch (m_kind) {
    case CDB_KIND_LCELL_COMB: return is_six_input_cell() ? contains(s_out_comb6, port) : contains(s_out_comb4, port);
    case CDB_KIND_REGISTER: return contains(s_out_reg, port);
    case CDB_KIND_UVO_LCELL: return contains(s_out_uvo, port);
    case CDB_KIND_HSADDER: return contains(s_out_hsadder, port);
    case CDB_KIND_CLKBUF: return contains(s_out_clkbuf, port);
    default: return true;
    }
}

namespace {
// The ports of pins and blocks, with how many indices each has. A RAM's
// data and address ports take any bit: how wide and deep a RAM the system
// models is its block function's to say (cut_block_function.h).
struct PORT_INDICES
{
    int port;
    int indices;
};
constexpr int k_any_bit = 0x10000;  // every index a term can carry
constexpr int k_mac_bits = CDB_MAC_MAX_PORT_BITS;
constexpr int k_mac_slots = CDB_MAC_REGISTER_SLOTS;
constexpr int k_ram_bits = CDB_RAM_MAX_DATA_BITS;
const PORT_INDICES s_io_in[] = {{DB_DATAIN, 1}};
const PORT_INDICES s_io_out[] = {{DB_DATA_OUT, 1}, {DB_PAD_OUT, 1}};
const PORT_INDICES s_ram_in[] = {{DB_RAM_CLK0, 1},
                                 {DB_RAM_CLK1, 1},
                                 {DB_RAM_ENA0, 1},
                                 {DB_RAM_ENA1, 1},
                                 {DB_RAM_CLR0, 1},
                                 {DB_RAM_CLR1, 1},
                                 {DB_RAM_CLK0_ENA, 1},
                                 {DB_RAM_PORTA_WE, 1},
                                 {DB_RAM_PORTA_RE, 1},
                                 {DB_RAM_PORTB_WE, 1},
                                 {DB_RAM_PORTB_RE, 1},
                                 {DB_RAM_PORTA_DATAIN, k_ram_bits},
                                 {DB_RAM_PORTB_DATAIN, k_ram_bits},
                                 {DB_RAM_DATAIN_2, k_ram_bits},
                                 {DB_RAM_PORTA_ADDRESS, k_any_bit},
                                 {DB_RAM_PORTB_ADDRESS, k_any_bit}};
const PORT_INDICES s_ram_out[] = {{DB_RAM_PORTA_DATAOUT, k_ram_bits},
                                  {DB_RAM_PORTB_DATAOUT, k_ram_bits},
                                  {DB_RAM_OBSERVABLE_PORTA_DATAIN, k_ram_bits},
                                  {DB_RAM_OBSERVABLE_PORTA_ADDRESS, k_any_bit},
                                  {DB_RAM_OBSERVABLE_PORTB_ADDRESS, k_any_bit}};
const PORT_INDICES s_mac_mult_in[] = {{DB_DATA_A, k_mac_bits},       {DB_DATA_B, k_mac_bits},
                                      {DB_MAC_SCANIN_A, k_mac_bits}, {DB_MAC_SCANIN_B, k_mac_bits},
                                      {DB_CLOCK, k_mac_slots},       {DB_CLOCK_ENABLE, k_mac_slots},
                                      {DB_CLEAR, k_mac_slots}};
const PORT_INDICES s_mac_mult_out[] = {{DB_DATA_OUT, 2 * k_mac_bits},
                                       {DB_MAC_OBSERVABLE_DATAA, k_mac_bits},
                                       {DB_MAC_OBSERVABLE_DATAB, k_mac_bits},
                                       {DB_MAC_SCANOUT_A, k_mac_bits},
                                       {DB_MAC_SCANOUT_B, k_mac_bits}};
const PORT_INDICES s_mac_out_in[] = {{DB_DATA_A, k_mac_bits}, {DB_DATA_B, k_mac_bits}, {DB_DATA_C, k_mac_bits},
                                     {DB_DATA_D, k_mac_bits}, {DB_CLOCK, k_mac_slots}, {DB_CLOCK_ENABLE, k_mac_slots},
                                     {DB_CLEAR, k_mac_slots}};
const PORT_INDICES s_mac_out_out[] = {{DB_DATA_OUT, 2 * k_mac_bits},
                                      {DB_MAC_OBSERVABLE_DATAA, k_mac_bits},
                                      {DB_MAC_OBSERVABLE_DATAB, k_mac_bits},
                                      {DB_MAC_OBSERVABLE_DATAC, k_mac_bits},
                                      {DB_MAC_OBSERVABLE_DATAD, k_mac_bits}};

template <size_t N>
int indices_in(const PORT_INDICES (&ports)[N], int port)
{
    for (const PORT_INDICES& p : ports)
        if (p.port == port) return p.indices;
    return 0;
}
}  // namespace

int CDB_ATOM_NODE::input_port_indices(int port) const
{
    switch (m_kind) {
    case CDB_KIND_IO: return indices_in(s_io_in, port);
    case CDB_KIND_RAM: return indices_in(s_ram_in, port);
    case CDB_KIND_MAC_MULT: return indices_in(s_mac_mult_in, port);
    case CDB_KIND_MAC_OUT: return indices_in(s_mac_out_in, port);
    default: return CDB_ATOM_NODE::implements(port) ? 1 : 0;
    }
}

int CDB_ATOM_NODE::output_port_indices(int port) const
{
    switch (m_kind) {
    case CDB_KIND_IO: return indices_in(s_io_out, port);
    case CDB_KIND_RAM: return indices_in(s_ram_out, port);
    case CDB_KIND_MAC_MULT: return indices_in(s_mac_mult_out, port);
    case CDB_KIND_MAC_OUT: return indices_in(s_mac_out_out, port);
    default: return CDB_ATOM_NODE::implements_output(port) ? 1 : 0;
    }
}

bool CDB_ATOM_NODE::is_active_high(int port) const
{
    CDB_ATOM_ITERM* t = get_input_term_by_type(port);
    return t == nullptr || t->is_active_high();
}

void CDB_ATOM_NODE::set_port_active_high(int port, bool high)
{
    CDB_ATOM_ITERM* t = get_input_term_by_type(port);
    if (t == nullptr) t = add_input_term(port);
    t->set_active_high(high);
}

// ---------------------------------------------------------------- input terms

int CDB_ATOM_NODE::get_input_port_number(int port) const
{
    PORT_LIST p = ordered_inputs_of(m_family, m_kind);
    for (int i = 0; i < p.count; ++i)
        if (p.ports[i] == port) return i;
    return CDB_NO_PORT_NUMBER;
}

CDB_ATOM_ITERM* CDB_ATOM_NODE::get_input_term(int slot) const
{
    return slot >= 0 && slot < static_cast<int>(m_terms.in().size()) ? m_terms.in()[slot] : nullptr;
}

void CDB_ATOM_NODE::set_input_term(int slot, CDB_ATOM_ITERM* term)
{
    CDB_CHECK(slot >= 0);
    if (static_cast<size_t>(slot) >= m_terms.in().size()) m_terms.resize_in(slot + 1);
    m_terms.in()[slot] = term;
    if (term) term->set_my_node(this);
}

void CDB_ATOM_NODE::insert_unordered_fanin_term(CDB_ATOM_ITERM* term)
{
    CDB_CHECK(term);
    if (m_terms.in().size() < m_ordered_inputs) m_terms.resize_in(m_ordered_inputs);
    m_terms.push_in(term);
    term->set_my_node(this);
}

bool CDB_ATOM_NODE::remove_input_term(CDB_ATOM_ITERM* term)
{
    return term != nullptr && put_in_place_of(m_terms.in(), term, nullptr);
}

CDB_ATOM_ITERM* CDB_ATOM_NODE::get_input_term_by_type(int port, int index) const
{
    int slot = get_input_port_number(port);
    const std::span<CDB_ATOM_ITERM*> terms = m_terms.in();
    if (slot != CDB_NO_PORT_NUMBER && index == 0 && slot < static_cast<int>(terms.size())) {
        CDB_ATOM_ITERM* t = terms[slot];
        if (t && t->is_used_as(port)) return t;
    }
    for (CDB_ATOM_ITERM* t : terms)
        if (t && t->is_used_as(port) && t->get_port_index() == index) return t;
    return nullptr;
}

void CDB_ATOM_NODE::set_input_term_by_type(CDB_ATOM_ITERM* term, int port, int index)
{
    CDB_CHECK(term);
    term->set_usage_as(port);
    term->set_port_index(index);
    int slot = get_input_port_number(port);
    if (slot != CDB_NO_PORT_NUMBER && index == 0) {
        set_input_term(slot, term);
        return;
    }
    const std::span<CDB_ATOM_ITERM*> terms = m_terms.in();
    for (CDB_ATOM_ITERM*& t : terms)
        if (t && t != term && t->is_used_as(port) && t->get_port_index() == index) {
            t = term;
            term->set_my_node(this);
            return;
        }
    if (std::find(terms.begin(), terms.end(), term) == terms.end()) insert_unordered_fanin_term(term);
}

CDB_ATOM_ITERM* CDB_ATOM_NODE::replace_input_term_by_type(CDB_ATOM_ITERM* new_term, int port, int index)
{
    return replace_term_by_type(this, m_terms.in(), get_input_term_by_type(port, index), new_term, port, index,
                                [&](CDB_ATOM_ITERM* t) { set_input_term_by_type(t, port, index); });
}

void CDB_ATOM_NODE::create_input_term(MEM_SEGMENT*, CDB_ATOM_ITERM*& out, CDB_ATOM_NODE* node, int port)
{
    out = new CDB_ATOM_ITERM(node ? node : this, port);
}

CDB_ATOM_ITERM* CDB_ATOM_NODE::add_input_term(int port, int index)
{
    CDB_ATOM_ITERM* t = nullptr;
    create_input_term(nullptr, t, this, port);
    t->set_port_index(index);
    int slot = get_input_port_number(port);
    if (slot != CDB_NO_PORT_NUMBER && index == 0 && get_input_term(slot) == nullptr) set_input_term(slot, t);
    else insert_unordered_fanin_term(t);
    return t;
}

void CDB_ATOM_NODE::delete_input_term(CDB_ATOM_ITERM* term)
{
    if (term == nullptr) return;
    term->disconnect_from_source(CDB_NET_ITERM::UNCONNECTED);
    remove_input_term(term);
    delete term;
}

// ---------------------------------------------------------------- output terms

CDB_ATOM_OTERM* CDB_ATOM_NODE::get_output_term(int slot) const
{
    return slot >= 0 && slot < static_cast<int>(m_terms.out().size()) ? m_terms.out()[slot] : nullptr;
}

CDB_ATOM_OTERM* CDB_ATOM_NODE::get_output_term_by_type(int port, int index) const
{
    for (CDB_ATOM_OTERM* t : m_terms.out())
        if (t && t->get_usage() == port && t->get_port_index() == index) return t;
    return nullptr;
}

void CDB_ATOM_NODE::set_output_term_by_type(CDB_ATOM_OTERM* term, int port, int index)
{
    CDB_CHECK(term);
    term->set_usage_as(port);
    term->set_port_index(index);
    term->set_my_node(this);
    const std::span<CDB_ATOM_OTERM*> terms = m_terms.out();
    for (CDB_ATOM_OTERM*& t : terms)
        if (t && t != term && t->get_usage() == port && t->get_port_index() == index) {
            t = term;
            return;
        }
    if (std::find(terms.begin(), terms.end(), term) != terms.end()) return;
    for (CDB_ATOM_OTERM*& t : terms)
        if (t == nullptr) {
            t = term;
            return;
        }
    m_terms.push_out(term);
}

CDB_ATOM_OTERM* CDB_ATOM_NODE::replace_output_term_by_type(CDB_ATOM_OTERM* new_term, int port, int index)
{
    return replace_term_by_type(this, m_terms.out(), get_output_term_by_type(port, index), new_term, port, index,
                                [&](CDB_ATOM_OTERM* t) { set_output_term_by_type(t, port, index); });
}

void CDB_ATOM_NODE::create_output_term(MEM_SEGMENT*, CDB_ATOM_OTERM*& out, CDB_ATOM_NODE* node, int port)
{
    out = new CDB_ATOM_OTERM(node ? node : this, port);
}

CDB_ATOM_OTERM* CDB_ATOM_NODE::add_output_term(int port, HDB_INSTANCE_NAME* name, int index)
{
    CDB_ATOM_OTERM* t = nullptr;
    create_output_term(nullptr, t, this, port);
    t->set_port_index(index);
    t->set_instance_name(name);
    m_terms.push_out(t);
    return t;
}

void CDB_ATOM_NODE::insert_unordered_fanout_term(CDB_ATOM_OTERM* term)
{
    CDB_CHECK(term);
    term->set_my_node(this);
    m_terms.push_out(term);
}

bool CDB_ATOM_NODE::remove_unordered_fanout_term(CDB_ATOM_OTERM* term)
{
    return term != nullptr && put_in_place_of(m_terms.out(), term, nullptr);
}

void CDB_ATOM_NODE::delete_output_term(CDB_ATOM_OTERM* term)
{
    if (term == nullptr) return;
    term->remove_all_fanouts();
    remove_unordered_fanout_term(term);
    delete term;
}

void CDB_ATOM_NODE::disconnect_all()
{
    for (CDB_ATOM_ITERM* t : m_terms.in())
        if (t) t->disconnect_from_source(CDB_NET_ITERM::UNCONNECTED);
    for (CDB_ATOM_OTERM* t : m_terms.out())
        if (t) t->remove_all_fanouts();
}

// ---------------------------------------------------------------- bits

bool CDB_ATOM_NODE::bit_is_legal(int bit) const
{
    if (bit == CDB_ATOM_BIT_VIRTUAL_IO) return m_kind == CDB_KIND_LCELL_COMB || m_kind == CDB_KIND_UVO_LCELL;
    return bit >= 0 && bit < 64;
}

bool CDB_ATOM_NODE::test_bit(int bit) const
{
    return bit_is_legal(bit) && ((m_bits >> bit) & 1u);
}

void CDB_ATOM_NODE::set_bit(int bit)
{
    CDB_CHECK(bit_is_legal(bit));
    m_bits |= uint64_t(1) << bit;
}

void CDB_ATOM_NODE::clear_bit(int bit)
{
    CDB_CHECK(bit_is_legal(bit));
    m_bits &= ~(uint64_t(1) << bit);
}

// ---------------------------------------------------------------- masks

void CDB_ATOM_NODE::set_lutmask(const CDB_LUTMASK& mask, int /*flag*/)
{
    CDB_CHECK(is_lut_kind(m_kind));
    store_lutmask(mask);
    if (m_kind == CDB_KIND_LCELL_COMB && is_six_input_cell() && mask.get_num_inputs() == 6 &&
        !mask.is_independent_of(5) && get_input_term_by_type(DB_DATA_F) == nullptr)
        add_input_term(DB_DATA_F);
}

namespace {

// Where the two adder halves sit in a 6-input combinational cell's mask.
constexpr uint64_t ADDER_HALVES = 0x0000ffff0000ffffull;

uint64_t spread_adder_pair(uint64_t pair)
{
    return (pair & 0xffffu) | (((pair >> 16) & 0xffffu) << 32);
}

uint64_t pack_adder_halves(uint64_t mask)
{
    return (mask & 0xffffu) | (((mask >> 32) & 0xffffu) << 16);
}

}  // namespace

bool CDB_ATOM_NODE::keeps_adder_in_lutmask() const
{
    return m_kind == CDB_KIND_LCELL_COMB && is_six_input_cell();
}

void CDB_ATOM_NODE::set_sum_lutmask(const CDB_LUTMASK& mask, int /*flag*/)
{
    CDB_CHECK(is_lut_kind(m_kind));
    const uint64_t pair = mask.get_value() & 0xffffffffu;
    if (!keeps_adder_in_lutmask()) {
        set_aux_mask(pair);
        return;
    }
    store_lutmask(CDB_LUTMASK(6, (m_lut_value & ~ADDER_HALVES) | spread_adder_pair(pair)));
}

uint64_t CDB_ATOM_NODE::get_adder_lutmask(bool as_pair) const
{
    const uint64_t pair = keeps_adder_in_lutmask() ? pack_adder_halves(m_lut_value) : aux_mask();
    return as_pair ? pair : spread_adder_pair(pair);
}

void CDB_ATOM_NODE::set_carry_lutmask(const CDB_LUTMASK& mask, int /*flag*/)
{
    CDB_CHECK(is_lut_kind(m_kind));
    set_aux_mask(mask.get_value() & 0xffffu);
}

CDB_LUTMASK CDB_ATOM_NODE::get_output_lutmask(int port) const
{
    if (!is_lut_kind(m_kind)) return CDB_LUTMASK();
    const bool six = m_kind == CDB_KIND_HSADDER || is_six_input_cell();
    if (port == DB_COMB_OUT || (port == DB_REG_OUT && m_kind == CDB_KIND_UVO_LCELL)) return get_lutmask();
    if (six && (port == DB_SUM_OUT || port == DB_CARRY_OUT || port == DB_SHARE_OUT || port == DB_CHAIN_OUT_0))
        return CDB_LUTMASK(5, get_adder_lutmask());
    if (!six && (port == DB_CARRY_OUT || port == DB_CHAIN_OUT_0 || port == DB_CHAIN_OUT_1))
        return CDB_LUTMASK(4, aux_mask());
    return CDB_LUTMASK();
}

void CDB_ATOM_NODE::set_output_lutmask(int port, const CDB_LUTMASK& mask)
{
    const bool six = m_kind == CDB_KIND_HSADDER || is_six_input_cell();
    if (port == DB_COMB_OUT || (port == DB_REG_OUT && m_kind == CDB_KIND_UVO_LCELL)) set_lutmask(mask);
    else if (six) set_sum_lutmask(mask);
    else set_carry_lutmask(mask);
}

bool CDB_ATOM_NODE::is_in_extended_mode() const
{
    if (m_kind != CDB_KIND_LCELL_COMB || !is_six_input_cell()) return false;
    CDB_ATOM_ITERM* g = get_input_term_by_type(DB_DATA_G);
    return g && g->is_connected();
}

unsigned CDB_ATOM_NODE::evaluate_output(int port, const unsigned* in) const
{
    if (in == nullptr || !is_lut_kind(m_kind)) return NO_LUT_VALUE;
    auto v = [&](int i) -> unsigned { return in[i] & 1u; };
    const uint64_t m = m_lut_value;
    const uint64_t aux = aux_mask();
    const uint64_t adder = get_adder_lutmask();
    const unsigned a = v(0), b = v(1), c = v(2), d = v(3), e = v(4), f = v(5), g = v(6), cin = v(7), sin = v(8);
    const CDB_FAMILY_INFO* fi = cdb_get_family_info(m_family);
    const bool rev = fi && fi->reversed_bit_order;

    if (m_kind == CDB_KIND_LCELL_COMB && is_six_input_cell()) {
        const unsigned kd = a + 2 * b + 4 * c + 8 * d, kg = a + 2 * b + 4 * g + 8 * d, kf = a + 2 * b + 4 * c + 8 * f;
        auto half_bit = [&](unsigned half, unsigned k) -> unsigned {
            unsigned word = static_cast<unsigned>((adder >> (16 * half)) & 0xffff);
            return (word >> (rev ? 15 - k : k)) & 1u;
        };
        auto share_connected = [&] {
            CDB_ATOM_ITERM* t = get_input_term_by_type(DB_SHARE_IN);
            return t && t->is_connected();
        };
        switch (port) {
        case DB_COMB_OUT: {
            if (is_in_extended_mode()) {
                unsigned quarter, k;
                if (rev) {
                    quarter = 3 - (2 * f + e);
                    k = 15 - (e == 1 ? kd : kg);
                } else {
                    quarter = 2 * f + e;
                    k = e == 0 ? kd : kg;
                }
                return (m >> (16 * quarter + k)) & 1u;
            }
            unsigned k6 = a + 2 * b + 4 * c + 8 * d + 16 * e + 32 * f;
            return (m >> (rev ? 63 - k6 : k6)) & 1u;
        }
        case DB_SUM_OUT:
        case DB_CARRY_OUT: {
            unsigned L = half_bit(0, kd);
            unsigned other = share_connected() ? sin : 1u - half_bit(1, kf);
            unsigned sum = L + other + cin;
            return port == DB_SUM_OUT ? (sum & 1u) : (sum >= 2 ? 1u : 0u);
        }
        case DB_SHARE_OUT: return half_bit(1, kd);
        default: return NO_LUT_VALUE;
        }
    }
    if (m_kind == CDB_KIND_LCELL_COMB) {  // 4-input families
        if (port == DB_COMB_OUT) {
            unsigned t = test_bit(CDB_ATOM_BIT_FOUR_INPUT_COMB) ? c : cin;
            return (m >> (a + 2 * b + 4 * t + 8 * d)) & 1u;
        }
        if (port == DB_CARRY_OUT) return (aux >> (a + 2 * b + 4 * cin)) & 1u;
        return NO_LUT_VALUE;
    }
    if (m_kind == CDB_KIND_HSADDER) return evaluate_shared_adder(port, in);
    if (m_kind == CDB_KIND_UVO_LCELL) {
        if (port == DB_COMB_OUT || port == DB_REG_OUT) {
            unsigned t = test_bit(CDB_ATOM_BIT_LUTMASK_FLAG) ? cin : c;
            return (m >> (a + 2 * b + 4 * t + 8 * d)) & 1u;
        }
        if (port == DB_CARRY_OUT || port == DB_CHAIN_OUT_0 || port == DB_CHAIN_OUT_1)
            return (aux >> (a + 2 * b + 4 * cin)) & 1u;
        return NO_LUT_VALUE;
    }
    return NO_LUT_VALUE;
}

int CDB_ATOM_NODE::get_evaluate_input_port(int slot) const
{
    if (slot == EVALUATE_CARRY_SLOT && m_kind == CDB_KIND_HSADDER) return DB_CHAIN_IN_0;
    return EVALUATE_INPUT_PORTS[slot];
}

// Two bits of an adder chain: sum0 = A xor B xor cin, c1 = majority(A, B,
// cin), sum1 = C xor D xor c1, carry-out = majority(C, D, c1).
unsigned CDB_ATOM_NODE::evaluate_shared_adder(int port, const unsigned* in)
{
    const unsigned a = in[0] & 1u, b = in[1] & 1u, c = in[2] & 1u, d = in[3] & 1u, cin = in[EVALUATE_CARRY_SLOT] & 1u;
    const unsigned c1 = (a + b + cin) >> 1;
    switch (port) {
    case DB_HSADDER_SUM_0: return a ^ b ^ cin;
    case DB_HSADDER_SUM_1: return c ^ d ^ c1;
    case DB_CHAIN_OUT_0: return (c + d + c1) >> 1;
    default: return NO_LUT_VALUE;
    }
}

namespace {

bool is_logic_input(int port)
{
    return (port >= DB_DATA_A && port <= DB_DATA_G) || port == DB_CARRY_IN || port == DB_SHARE_IN ||
           port == DB_CHAIN_IN_0 || port == DB_CHAIN_IN_1;
}

bool is_logic_output(int port)
{
    return port == DB_COMB_OUT || port == DB_SUM_OUT || port == DB_CARRY_OUT || port == DB_SHARE_OUT ||
           port == DB_CHAIN_OUT_0 || port == DB_CHAIN_OUT_1 || port == DB_HSADDER_SUM_0 || port == DB_HSADDER_SUM_1;
}

}  // namespace

bool CDB_ATOM_NODE::does_iterm_reach_oterm(const CDB_ATOM_OTERM* oterm, const CDB_ATOM_ITERM* iterm) const
{
    if (oterm == nullptr || iterm == nullptr || oterm->get_my_node() != this || iterm->get_my_node() != this)
        return false;
    const int out = oterm->get_usage();
    bool logic_input = false;
    for (int i = 0; i < iterm->get_usage_count(); ++i) logic_input = logic_input || is_logic_input(iterm->get_usage(i));
    switch (m_kind) {
    case CDB_KIND_LCELL_COMB:
    case CDB_KIND_HSADDER: return logic_input && is_logic_output(out);
    case CDB_KIND_REGISTER: return out == DB_REG_OUT;
    case CDB_KIND_UVO_LCELL: return out == DB_REG_OUT || (logic_input && is_logic_output(out));
    default: return true;
    }
}

// ---------------------------------------------------------------- records

void CDB_ATOM_NODE::set_latch_info(CDB_ATOM_LATCH_INFO* info)
{
    if (info == get_latch_info()) return;
    delete extras().latch;
    m_extras->latch = info;
}

const CDB_ATOM_ASSIGNMENTS& CDB_ATOM_NODE::get_assignments() const
{
    static const CDB_ATOM_ASSIGNMENTS s_default;
    return m_extras && m_extras->assignments ? *m_extras->assignments : s_default;
}

void CDB_ATOM_NODE::set_assignments(const CDB_ATOM_ASSIGNMENTS& a)
{
    if (a.is_default()) {
        if (m_extras == nullptr) return;
        delete m_extras->assignments;
        m_extras->assignments = nullptr;
        return;
    }
    if (extras().assignments == nullptr) m_extras->assignments = new CDB_ATOM_ASSIGNMENTS();
    *m_extras->assignments = a;
}

int CDB_ATOM_NODE::get_block_param(int key, int port, int dflt) const
{
    const std::map<std::pair<int, int>, int>* params = get_block_params();
    if (params == nullptr) return dflt;
    auto it = params->find({key, port});
    return it == params->end() ? dflt : it->second;
}

void CDB_ATOM_NODE::set_block_param(int key, int port, int value)
{
    if (extras().params == nullptr) m_extras->params = new std::map<std::pair<int, int>, int>();
    (*m_extras->params)[{key, port}] = value;
}

bool CDB_ATOM_NODE::get_location_index(const DUVO_DIE_INFO* die, CDB_LOCATION_INDEX* out) const
{
    if (die == nullptr || out == nullptr || m_location.x < 0 || m_location.y < 0) return false;
    CDB_LOCATION_INDEX r;
    r.field[CDB_LOCATION_X] = m_location.x;
    r.field[CDB_LOCATION_Y] = m_location.y;
    r.field[CDB_LOCATION_SUB_LOC] = m_location.sub_loc;
    r.field[CDB_LOCATION_SUB_LOC2] = m_location.sub_loc2;
    // The place information is only reachable through a non-const die.
    DUVO_PLACE_INFO* place = const_cast<DUVO_DIE_INFO*>(die)->get_place_info();
    r.field[CDB_LOCATION_GLOBAL_ID] =
        place ? place->get_global_id(0, m_location.x, m_location.y, std::max(m_location.sub_loc, 0)) : -1;
    *out = r;
    return true;
}

// ---------------------------------------------------------------- consistency

bool CDB_ATOM_NODE::verify_fanin() const
{
    for (CDB_ATOM_ITERM* t : m_terms.in()) {
        if (t == nullptr) continue;
        if (t->get_my_node() != this) return false;
        CDB_ATOM_OTERM* src = t->get_source();
        if (t->is_driven() != (src != nullptr)) return false;
        if (src == nullptr) continue;
        bool found = false;
        for (auto it = src->begin_iterm_fanout(); it != src->end_iterm_fanout() && !found; ++it) found = *it == t;
        if (!found) return false;
    }
    return true;
}

bool CDB_ATOM_NODE::verify_fanout() const
{
    for (CDB_ATOM_OTERM* o : m_terms.out()) {
        if (o == nullptr) continue;
        if (o->get_my_node() != this) return false;
        int n = 0;
        const CDB_ATOM_ITERM* prev = nullptr;
        for (auto it = o->begin_iterm_fanout(); it != o->end_iterm_fanout(); ++it, ++n) {
            if ((*it)->get_source() != o || (*it)->get_prev_fanout() != prev) return false;
            prev = *it;
        }
        if (n != o->get_number_of_fanout() || prev != o->get_last_fanout()) return false;
    }
    return true;
}

// ---------------------------------------------------------------- cell classes and factories

CDB_ATOM_REGISTER::CDB_ATOM_REGISTER(int family, int atom_type) : CDB_ATOM_NODE(family, CDB_KIND_REGISTER, atom_type)
{
    const CDB_FAMILY_INFO* f = cdb_get_family_info(family);
    set_kind_flag(f && f->ff_is_lcell_ff ? 1 : 0);
}

namespace {
int type_of(int family, int kind)
{
    const CDB_FAMILY_INFO* f = cdb_get_family_info(family);
    return f ? f->atom_type[kind] : CDB_ATOM_TYPE_NONE;
}
}  // namespace

#define CDB_DEFINE_CELL(NAME, BASE, KIND)                                                                              \
    NAME::NAME(int family) : BASE(family, type_of(family, KIND))                                                       \
    {                                                                                                                  \
        create_atom_info();                                                                                            \
    }

CDB_DEFINE_CELL(CDB_ATOM_BRK_LCELL_COMB, CDB_ATOM_LCELL_COMB, CDB_KIND_LCELL_COMB)
CDB_DEFINE_CELL(CDB_ATOM_BRK_LCELL_FF, CDB_ATOM_REGISTER, CDB_KIND_REGISTER)
CDB_DEFINE_CELL(CDB_ATOM_ZEPLA_LCELL_COMB, CDB_ATOM_LCELL_COMB, CDB_KIND_LCELL_COMB)
CDB_DEFINE_CELL(CDB_ATOM_ZEPLA_FF, CDB_ATOM_REGISTER, CDB_KIND_REGISTER)
CDB_DEFINE_CELL(CDB_ATOM_SORVEXII_LCELL_COMB, CDB_ATOM_LCELL_COMB, CDB_KIND_LCELL_COMB)
CDB_DEFINE_CELL(CDB_ATOM_SORVEXII_LCELL_FF, CDB_ATOM_REGISTER, CDB_KIND_REGISTER)
CDB_DEFINE_CELL(CDB_ATOM_MORLIN_LCELL_COMB, CDB_ATOM_LCELL_COMB, CDB_KIND_LCELL_COMB)
CDB_DEFINE_CELL(CDB_ATOM_MORLIN_LCELL_FF, CDB_ATOM_REGISTER, CDB_KIND_REGISTER)
CDB_DEFINE_CELL(CDB_ATOM_RZK_LCELL_COMB, CDB_ATOM_LCELL_COMB, CDB_KIND_LCELL_COMB)
CDB_DEFINE_CELL(CDB_ATOM_RZK_FF, CDB_ATOM_REGISTER, CDB_KIND_REGISTER)
CDB_DEFINE_CELL(CDB_ATOM_KESTLIN_FF, CDB_ATOM_REGISTER, CDB_KIND_REGISTER)
CDB_DEFINE_CELL(CDB_ATOM_OBRAN_LCELL_COMB, CDB_ATOM_LCELL_COMB, CDB_KIND_LCELL_COMB)
CDB_DEFINE_CELL(CDB_ATOM_OBRAN_FF, CDB_ATOM_REGISTER, CDB_KIND_REGISTER)
#undef CDB_DEFINE_CELL

CDB_ATOM_MORLIN_LCELL_HSADDER::CDB_ATOM_MORLIN_LCELL_HSADDER()
    : CDB_ATOM_NODE(CDB_FAMILY_MRL, CDB_KIND_HSADDER, type_of(CDB_FAMILY_MRL, CDB_KIND_HSADDER))
{
    create_atom_info();
}
CDB_ATOM_UVO_LCELL::CDB_ATOM_UVO_LCELL()
    : CDB_ATOM_NODE(CDB_FAMILY_UVO, CDB_KIND_UVO_LCELL, type_of(CDB_FAMILY_UVO, CDB_KIND_UVO_LCELL))
{
    create_atom_info();
}
CDB_ATOM_IO::CDB_ATOM_IO(int family) : CDB_ATOM_NODE(family, CDB_KIND_IO, type_of(family, CDB_KIND_IO)) {}
CDB_ATOM_RAM::CDB_ATOM_RAM(int family) : CDB_ATOM_NODE(family, CDB_KIND_RAM, type_of(family, CDB_KIND_RAM)) {}

namespace {
// Parameter key of each word of a RAM port's mode flags.
constexpr int s_ram_mode_keys[3] = {CDB_PARAM_RAM_MODE, CDB_PARAM_RAM_MODE_1, CDB_PARAM_RAM_MODE_2};
}  // namespace

CDB_RAM_FLAG_SET CDB_ATOM_RAM::get_ram_mode_flags(int port) const
{
    CDB_RAM_FLAG_SET flags;
    for (int w = 0; w < 3; ++w) flags.set_word(w, static_cast<uint32_t>(get_block_param(s_ram_mode_keys[w], port, 0)));
    return flags;
}

void CDB_ATOM_RAM::set_ram_mode_flags(int port, const CDB_RAM_FLAG_SET& flags)
{
    for (int w = 0; w < 3; ++w) {
        // Words never set stay absent so that untouched RAMs keep no parameters.
        if (flags.word(w) == 0 && get_block_param(s_ram_mode_keys[w], port, 0) == 0) continue;
        set_block_param(s_ram_mode_keys[w], port, static_cast<int>(flags.word(w)));
    }
}
void CDB_ATOM_RAM::set_content(const std::vector<bool>& column)
{
    const int words = static_cast<int>((column.size() + 31) / 32);
    const int old_words = (get_block_param(CDB_PARAM_RAM_CONTENT_SIZE, 0, 0) + 31) / 32;
    for (int w = 0; w < std::max(words, old_words); ++w) {
        uint32_t bits = 0;
        for (int j = 0; j < 32 && size_t(32 * w + j) < column.size(); ++j)
            if (column[size_t(32 * w + j)]) bits |= uint32_t{1} << j;
        set_block_param(CDB_PARAM_RAM_CONTENT, w, static_cast<int>(bits));
    }
    set_block_param(CDB_PARAM_RAM_CONTENT_SIZE, 0, static_cast<int>(column.size()));
}

std::vector<bool> CDB_ATOM_RAM::get_content() const
{
    std::vector<bool> column(static_cast<size_t>(std::max(get_block_param(CDB_PARAM_RAM_CONTENT_SIZE, 0, 0), 0)));
    for (size_t a = 0; a < column.size(); ++a) {
        const auto bits = static_cast<uint32_t>(get_block_param(CDB_PARAM_RAM_CONTENT, int(a / 32), 0));
        column[a] = (bits >> (a % 32)) & 1u;
    }
    return column;
}

void CDB_ATOM_RAM::set_text(int size_key, int size_port, int chars_key, int chars_base, const std::string& text)
{
    for (size_t k = 0; k < (text.size() + 3) / 4; ++k) {
        uint32_t chars = 0;
        for (size_t j = 0; j < 4 && 4 * k + j < text.size(); ++j)
            chars |= uint32_t(static_cast<unsigned char>(text[4 * k + j])) << (8 * j);
        set_block_param(chars_key, chars_base + static_cast<int>(k), static_cast<int>(chars));
    }
    set_block_param(size_key, size_port, static_cast<int>(text.size()));
}

std::string CDB_ATOM_RAM::get_text(int size_key, int size_port, int chars_key, int chars_base) const
{
    std::string text;
    const int size = std::max(get_block_param(size_key, size_port, 0), 0);
    for (int i = 0; i < size; ++i) {
        const auto chars = static_cast<uint32_t>(get_block_param(chars_key, chars_base + i / 4, 0));
        text.push_back(static_cast<char>((chars >> (8 * (i % 4))) & 0xFFu));
    }
    return text;
}

void CDB_ATOM_RAM::set_reconfig_info(const CDB_RECONFIG_INFO& info)
{
    set_text(CDB_PARAM_RAM_MIF_NAME_SIZE, 0, CDB_PARAM_RAM_MIF_NAME, 0, info.m_mif_file_name);
    set_block_param(CDB_PARAM_RAM_MIF_USAGE, 0, info.m_mif_file_usage);
}

CDB_RECONFIG_INFO CDB_ATOM_RAM::get_reconfig_info() const
{
    CDB_RECONFIG_INFO info;
    info.m_mif_file_usage = get_block_param(CDB_PARAM_RAM_MIF_USAGE, 0, 0);
    info.m_mif_file_name = get_text(CDB_PARAM_RAM_MIF_NAME_SIZE, 0, CDB_PARAM_RAM_MIF_NAME, 0);
    return info;
}

namespace {

// Parameter ports of the slice description's numbers and texts.
enum CDB_RAM_SLICE_NUMBER : int
{
    SLICE_LOGICAL_WIDTH,
    SLICE_LOGICAL_DEPTH,
    SLICE_FIRST_ADDRESS,
    SLICE_LAST_ADDRESS,
    SLICE_INDEX,
    SLICE_MIF_VIEW,
};
enum CDB_RAM_SLICE_TEXT : int
{
    SLICE_LOGICAL_NAME,
    SLICE_FILE_NAME,
    SLICE_HIERARCHY,
};

constexpr int SLICE_TEXT_STRIDE = 65536;

}  // namespace

void CDB_ATOM_RAM::set_slice_info(const CDB_ATOM_OTERM* oterm, const CDB_RAM_SLICE_INFO& info)
{
    if (oterm == nullptr || oterm->get_my_node() != this)
        MSG_INTERNAL_ERROR::report("oterm && oterm->get_my_node() == ram", "CDB", __FILE__, __LINE__);
    set_block_param(CDB_PARAM_RAM_SLICE_OUTPUT, 0, oterm->get_usage());
    set_block_param(CDB_PARAM_RAM_SLICE_OUTPUT, 1, oterm->get_port_index());
    const std::pair<int, int> numbers[] = {
        {SLICE_LOGICAL_WIDTH, info.m_logical_width}, {SLICE_LOGICAL_DEPTH, info.m_logical_depth},
        {SLICE_FIRST_ADDRESS, info.m_first_address}, {SLICE_LAST_ADDRESS, info.m_last_address},
        {SLICE_INDEX, info.m_slice_index},           {SLICE_MIF_VIEW, info.m_mif_view}};
    for (const auto& [field, value] : numbers) set_block_param(CDB_PARAM_RAM_SLICE_NUMBER, field, value);
    const std::pair<int, const std::string*> texts[] = {{SLICE_LOGICAL_NAME, &info.m_logical_name},
                                                        {SLICE_FILE_NAME, &info.m_file_name},
                                                        {SLICE_HIERARCHY, &info.m_hierarchy}};
    for (const auto& [field, text] : texts)
        set_text(CDB_PARAM_RAM_SLICE_TEXT_SIZE, field, CDB_PARAM_RAM_SLICE_TEXT, field * SLICE_TEXT_STRIDE, *text);
}

bool CDB_ATOM_RAM::get_slice_info(const CDB_ATOM_OTERM* oterm, CDB_RAM_SLICE_INFO& info) const
{
    if (oterm == nullptr || oterm->get_my_node() != this) return false;
    if (get_block_param(CDB_PARAM_RAM_SLICE_OUTPUT, 0, -1) != oterm->get_usage() ||
        get_block_param(CDB_PARAM_RAM_SLICE_OUTPUT, 1, -1) != oterm->get_port_index())
        return false;
    auto number = [&](int field) { return get_block_param(CDB_PARAM_RAM_SLICE_NUMBER, field, 0); };
    auto text = [&](int field) {
        return get_text(CDB_PARAM_RAM_SLICE_TEXT_SIZE, field, CDB_PARAM_RAM_SLICE_TEXT, field * SLICE_TEXT_STRIDE);
    };
    info.m_logical_width = number(SLICE_LOGICAL_WIDTH);
    info.m_logical_depth = number(SLICE_LOGICAL_DEPTH);
    info.m_first_address = number(SLICE_FIRST_ADDRESS);
    info.m_last_address = number(SLICE_LAST_ADDRESS);
    info.m_slice_index = number(SLICE_INDEX);
    info.m_mif_view = number(SLICE_MIF_VIEW);
    info.m_logical_name = text(SLICE_LOGICAL_NAME);
    info.m_file_name = text(SLICE_FILE_NAME);
    info.m_hierarchy = text(SLICE_HIERARCHY);
    return true;
}

CDB_ATOM_MAC_MULT::CDB_ATOM_MAC_MULT(int family)
    : CDB_ATOM_NODE(family, CDB_KIND_MAC_MULT, type_of(family, CDB_KIND_MAC_MULT))
{}
CDB_ATOM_MAC_OUT::CDB_ATOM_MAC_OUT(int family)
    : CDB_ATOM_NODE(family, CDB_KIND_MAC_OUT, type_of(family, CDB_KIND_MAC_OUT))
{}
CDB_ATOM_CLKBUF::CDB_ATOM_CLKBUF(int family) : CDB_ATOM_NODE(family, CDB_KIND_CLKBUF, type_of(family, CDB_KIND_CLKBUF))
{
    create_atom_info();
}

namespace {
CDB_ATOM_NODE* new_comb(int family)
{
    switch (family) {
    case CDB_FAMILY_BRK: return new CDB_ATOM_BRK_LCELL_COMB();
    case CDB_FAMILY_ZEPLA:
    case CDB_FAMILY_ZEPLA_B: return new CDB_ATOM_ZEPLA_LCELL_COMB(family);
    case CDB_FAMILY_TEV: return new CDB_ATOM_SORVEXII_LCELL_COMB();
    case CDB_FAMILY_MRL: return new CDB_ATOM_MORLIN_LCELL_COMB();
    case CDB_FAMILY_KESTLIN:
    case CDB_FAMILY_RZK: return new CDB_ATOM_RZK_LCELL_COMB(family);
    case CDB_FAMILY_OBRAN: return new CDB_ATOM_OBRAN_LCELL_COMB();
    case CDB_FAMILY_UVO: return new CDB_ATOM_UVO_LCELL();
    default: return nullptr;
    }
}
CDB_ATOM_NODE* new_register(int family)
{
    switch (family) {
    case CDB_FAMILY_BRK: return new CDB_ATOM_BRK_LCELL_FF();
    case CDB_FAMILY_ZEPLA:
    case CDB_FAMILY_ZEPLA_B: return new CDB_ATOM_ZEPLA_FF(family);
    case CDB_FAMILY_TEV: return new CDB_ATOM_SORVEXII_LCELL_FF();
    case CDB_FAMILY_MRL: return new CDB_ATOM_MORLIN_LCELL_FF();
    case CDB_FAMILY_KESTLIN: return new CDB_ATOM_KESTLIN_FF();
    case CDB_FAMILY_RZK: return new CDB_ATOM_RZK_FF();
    case CDB_FAMILY_OBRAN: return new CDB_ATOM_OBRAN_FF();
    case CDB_FAMILY_UVO: return new CDB_ATOM_UVO_LCELL();
    default: return nullptr;
    }
}
CDB_ATOM_NODE* new_atom(int family, int kind)
{
    if (cdb_get_family_info(family) == nullptr) return nullptr;
    switch (kind) {
    case CDB_KIND_LCELL_COMB: return new_comb(family);
    case CDB_KIND_REGISTER: return new_register(family);
    case CDB_KIND_HSADDER: return family == CDB_FAMILY_MRL ? new CDB_ATOM_MORLIN_LCELL_HSADDER() : nullptr;
    case CDB_KIND_UVO_LCELL: return family == CDB_FAMILY_UVO ? new CDB_ATOM_UVO_LCELL() : nullptr;
    case CDB_KIND_IO: return new CDB_ATOM_IO(family);
    case CDB_KIND_RAM: return new CDB_ATOM_RAM(family);
    case CDB_KIND_MAC_MULT: return new CDB_ATOM_MAC_MULT(family);
    case CDB_KIND_MAC_OUT: return new CDB_ATOM_MAC_OUT(family);
    case CDB_KIND_CLKBUF: return new CDB_ATOM_CLKBUF(family);
    default: return nullptr;
    }
}
}  // namespace

CDB_ATOM_NODE* cdb_create_atom(int family, int kind, HDB_INSTANCE_NAME* name)
{
    CDB_ATOM_NODE* n = new_atom(family, kind);
    if (n == nullptr) return nullptr;
    n->create_atom_info();
    n->set_instance_name(name);
    const bool four_input_cell = n->get_kind() == CDB_KIND_UVO_LCELL ||
                                 (n->get_kind() == CDB_KIND_LCELL_COMB && cdb_family_lut_size(family) == 4);
    if (four_input_cell) {
        n->set_bit(CDB_ATOM_BIT_FOUR_INPUT_COMB);
    } else if (n->is_ff()) {
        n->set_mode(DEV_PHYS_IMPL_REGISTER_MODE);
    }
    return n;
}

CDB_ATOM_NODE* cdb_create_atom_of_type(int family, int atom_type)
{
    int kind = cdb_kind_of_atom_type(family, atom_type);
    if (kind < 0) return nullptr;
    CDB_ATOM_NODE* n = new_atom(family, kind);
    if (n) n->create_atom_info();
    return n;
}

CDB_ATOM_OTERM* cdb_add_pad_output(CDB_ATOM_NODE* pin)
{
    if (pin == nullptr || !pin->is_pin()) return nullptr;
    if (CDB_ATOM_OTERM* pad = pin->get_output_term_by_type(DB_PAD_OUT)) return pad;
    return pin->add_output_term(DB_PAD_OUT, pin->get_instance_name());
}

CDB_ATOM_NODE* cdb_create_output_pin(int family, HDB_INSTANCE_NAME* name)
{
    CDB_ATOM_NODE* pin = cdb_create_atom(family, CDB_KIND_IO, name);
    if (pin == nullptr) return nullptr;
    pin->add_input_term(DB_DATAIN);
    cdb_add_pad_output(pin);
    return pin;
}

#undef CDB_CHECK
