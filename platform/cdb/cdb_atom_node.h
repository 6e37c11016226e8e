#pragma once
// Atoms: one class per family and kind, all on CDB_ATOM_NODE. A node owns
// its terms. Input terms sit in slots: the first get_ordered_input_count()
// slots are fixed per port type (get_input_port_number), later slots hold
// unordered inputs; empty slots are null and skipped by the term walks.

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <map>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "cdb/cdb_atom_terms.h"
#include "cdb/cdb_lutmask.h"
#include "cdb/cdb_types.h"

class CDB_ATOM_NETLIST;
class HDB_HIERARCHY;
class HDB_INSTANCE_NAME;
class DUVO_DIE_INFO;

// Walk over a vector of term pointers that skips null entries.
template <typename T>
class CDB_SKIP_NULL_ITERATOR
{
public:
    using iterator_category = std::forward_iterator_tag;
    using value_type = T*;
    using difference_type = std::ptrdiff_t;
    using pointer = T**;
    using reference = T*;
    CDB_SKIP_NULL_ITERATOR() = default;
    CDB_SKIP_NULL_ITERATOR(T* const* p, T* const* end) : m_p(p), m_end(end) { skip(); }
    T* operator*() const { return *m_p; }
    CDB_SKIP_NULL_ITERATOR& operator++()
    {
        ++m_p;
        skip();
        return *this;
    }
    CDB_SKIP_NULL_ITERATOR operator++(int)
    {
        auto r = *this;
        ++*this;
        return r;
    }
    bool operator==(const CDB_SKIP_NULL_ITERATOR& o) const { return m_p == o.m_p; }
    bool operator!=(const CDB_SKIP_NULL_ITERATOR& o) const { return m_p != o.m_p; }

private:
    void skip()
    {
        while (m_p != m_end && *m_p == nullptr) ++m_p;
    }
    T* const* m_p = nullptr;
    T* const* m_end = nullptr;
};

// A node's input and output term slots in one allocation, the input slots
// first: atoms come by the hundred thousand, most with one output and a
// handful of inputs, and two vectors per atom cost two allocations and 48
// bytes in the node. Growing either kind moves both into a new block. Each
// kind holds up to 65535 slots; more is an internal error.
class CDB_TERM_SLOTS
{
public:
    CDB_TERM_SLOTS() = default;
    ~CDB_TERM_SLOTS() { ::operator delete(m_block); }
    CDB_TERM_SLOTS(const CDB_TERM_SLOTS&) = delete;
    CDB_TERM_SLOTS& operator=(const CDB_TERM_SLOTS&) = delete;

    std::span<CDB_ATOM_ITERM*> in() const { return {static_cast<CDB_ATOM_ITERM**>(m_block), m_in_size}; }
    std::span<CDB_ATOM_OTERM*> out() const
    {
        void* first = static_cast<CDB_ATOM_ITERM**>(m_block) + m_in_capacity;
        return {static_cast<CDB_ATOM_OTERM**>(first), m_out_size};
    }
    // Grows (new slots null) or shrinks the kind to n slots.
    void resize_in(size_t n);
    void resize_out(size_t n);
    void push_in(CDB_ATOM_ITERM* t)
    {
        resize_in(size_t(m_in_size) + 1);
        in().back() = t;
    }
    void push_out(CDB_ATOM_OTERM* t)
    {
        resize_out(size_t(m_out_size) + 1);
        out().back() = t;
    }

private:
    void reallocate(size_t in_capacity, size_t out_capacity);
    void* m_block = nullptr;
    uint16_t m_in_size = 0;
    uint16_t m_in_capacity = 0;
    uint16_t m_out_size = 0;
    uint16_t m_out_capacity = 0;
};

// Consistency checks shared by every node.
class CDB_NET_NODE
{
public:
    virtual ~CDB_NET_NODE() = default;
    // Every input term's connection agrees with its source's fanout list.
    virtual bool verify_fanin() const = 0;
    // Every sink of every output term names this output as its source.
    virtual bool verify_fanout() const = 0;
};

class CDB_ATOM_NODE : public CDB_NET_NODE
{
public:
    using iterm_iterator = CDB_SKIP_NULL_ITERATOR<CDB_ATOM_ITERM>;
    using oterm_iterator = CDB_SKIP_NULL_ITERATOR<CDB_ATOM_OTERM>;

    // Next atom id to hand out; ids are never reused within the process.
    static uint32_t s_next_id;

    // Takes the next id. kind/family/type are fixed for the node's life.
    CDB_ATOM_NODE(int family, int kind, int atom_type);
    // Leaves the netlist when still in one, disconnects every term, frees them.
    ~CDB_ATOM_NODE() override;
    CDB_ATOM_NODE(const CDB_ATOM_NODE&) = delete;
    CDB_ATOM_NODE& operator=(const CDB_ATOM_NODE&) = delete;

    uint32_t get_id() const { return m_id; }
    uint32_t get_atom_id() const { return m_id; }
    int get_family() const { return m_family; }
    int get_kind() const { return m_kind; }
    int get_atom_type() const { return m_atom_type; }
    CDB_ATOM_NETLIST* get_netlist() const { return m_netlist; }

    // Sets up the fixed input slots; the factories call it, calling it again is harmless.
    void create_atom_info();

    // ------------------------------------------------------------ kind predicates
    virtual bool is_lcell() const { return false; }
    virtual bool is_lcell_comb() const { return false; }
    virtual bool is_lcell_ff() const { return false; }
    virtual bool is_ff() const { return false; }
    virtual bool is_lcell_hsadder() const { return false; }
    virtual bool is_ram() const { return false; }
    virtual bool is_mac_mult() const { return false; }
    virtual bool is_mac_out() const { return false; }
    virtual bool is_pin() const { return false; }
    virtual bool is_clkbuf() const { return false; }
    // Any register: is_ff or is_lcell_ff.
    bool is_register() const { return is_ff() || is_lcell_ff(); }
    int get_lut_size() const;  // LUT inputs of a logic cell of this family, 0 otherwise

    HDB_INSTANCE_NAME* get_instance_name() const { return m_name; }
    void set_instance_name(HDB_INSTANCE_NAME* name) { m_name = name; }
    // The level of the design hierarchy the atom's name lies in (the root's
    // for a name at the top); null for an atom without a name.
    HDB_HIERARCHY* get_atom_hierarchy() const;

    // ------------------------------------------------------------ ports
    // Whether the atom has an input / output port of that type.
    virtual bool implements(int input_port_type) const;
    virtual bool implements_output(int output_port_type) const;
    // How many terms, at indices 0 up, an input (output) port of that type
    // has on an atom of this kind; 0 for a port the kind lacks. Logic
    // cells, registers, adders, clock buffers and pins hold each port once,
    // at index 0; a RAM or DSP block one term per bit of a data port and,
    // on a DSP block, one per register slot of its clock, enable and clear.
    // Pins and blocks implement() every port for the queries that ask
    // about any port; this is what a netlist from a file may hold.
    int input_port_indices(int input_port_type) const;
    int output_port_indices(int output_port_type) const;
    // Value an absent input takes: the clock enable and a clear that acts at
    // 0 (the clear rule) float high, so both are inactive; all else low.
    bool floats_high(int input_port_type) const
    {
        return input_port_type == DB_CLOCK_ENABLE || cdb_clear_active_value(m_kind, input_port_type) == 0;
    }
    // Port polarity: false when the port inverts. Held on the input term;
    // a port without a term is active high.
    bool is_active_high(int input_port_type) const;
    bool is_port_active_high(int input_port_type) const { return is_active_high(input_port_type); }
    // LUT row index bit of the input taken as is (active-high port).
    bool is_lut_index_direct(int input_port_type) const { return is_active_high(input_port_type); }
    // Creates the term when missing, then sets its polarity.
    void set_port_active_high(int input_port_type, bool high);
    bool is_output_port_fixed(int /*output_port_type*/) const { return false; }

    // ------------------------------------------------------------ input terms
    int get_ordered_input_count() const { return m_ordered_inputs; }
    // Slot of a fixed port; CDB_NO_PORT_NUMBER (>= every slot) for an unordered one.
    static constexpr int CDB_NO_PORT_NUMBER = 0x7fffffff;
    int get_input_port_number(int input_port_type) const;
    int get_input_count() const { return static_cast<int>(m_terms.in().size()); }
    CDB_ATOM_ITERM* get_input_term(int slot) const;
    // Puts term into slot (growing the slots); the term's node becomes this.
    void set_input_term(int slot, CDB_ATOM_ITERM* term);
    void insert_unordered_fanin_term(CDB_ATOM_ITERM* term);
    // Empties the term's slot without deleting it; false when not found.
    bool remove_input_term(CDB_ATOM_ITERM* term);

    // The term used as port_type with that unordered index; null when none.
    CDB_ATOM_ITERM* get_input_term_by_type(int port_type, int index = 0) const;
    // Places term as the port's input (fixed slot, or the slot of the
    // present term of that type and index, or a new unordered slot).
    void set_input_term_by_type(CDB_ATOM_ITERM* term, int port_type, int index = 0);
    // Puts new_term (may be null) where the term of that type and index was
    // and answers the old term, which is neither disconnected nor deleted.
    CDB_ATOM_ITERM* replace_input_term_by_type(CDB_ATOM_ITERM* new_term, int port_type, int index = 0);
    // Allocates an unplaced term of this atom used as port_type (segment ignored).
    virtual void create_input_term(MEM_SEGMENT* segment, CDB_ATOM_ITERM*& out, CDB_ATOM_NODE* node, int port_type);
    // Convenience: creates, places and indexes a new input term.
    CDB_ATOM_ITERM* add_input_term(int port_type, int index = 0);
    // Disconnects, removes from its slot and deletes the term.
    void delete_input_term(CDB_ATOM_ITERM* term);

    iterm_iterator begin_iterm() const
    {
        std::span<CDB_ATOM_ITERM*> s = m_terms.in();
        return iterm_iterator(s.data(), s.data() + s.size());
    }
    iterm_iterator end_iterm() const
    {
        auto e = m_terms.in().data() + m_terms.in().size();
        return iterm_iterator(e, e);
    }

    // ------------------------------------------------------------ output terms
    int get_output_count() const { return static_cast<int>(m_terms.out().size()); }
    CDB_ATOM_OTERM* get_output_term(int slot) const;
    CDB_ATOM_OTERM* get_output_term_by_type(int port_type, int index = 0) const;
    void set_output_term_by_type(CDB_ATOM_OTERM* term, int port_type, int index = 0);
    CDB_ATOM_OTERM* replace_output_term_by_type(CDB_ATOM_OTERM* new_term, int port_type, int index = 0);
    virtual void create_output_term(MEM_SEGMENT* segment, CDB_ATOM_OTERM*& out, CDB_ATOM_NODE* node, int port_type);
    // Convenience: creates, names and places a new output term.
    CDB_ATOM_OTERM* add_output_term(int port_type, HDB_INSTANCE_NAME* name = nullptr, int index = 0);
    void insert_unordered_fanout_term(CDB_ATOM_OTERM* term);
    // Empties the term's slot without deleting it; false when not found.
    bool remove_unordered_fanout_term(CDB_ATOM_OTERM* term);
    // Disconnects every sink, removes and deletes the term.
    void delete_output_term(CDB_ATOM_OTERM* term);

    oterm_iterator begin_oterm() const
    {
        std::span<CDB_ATOM_OTERM*> s = m_terms.out();
        return oterm_iterator(s.data(), s.data() + s.size());
    }
    oterm_iterator end_oterm() const
    {
        auto e = m_terms.out().data() + m_terms.out().size();
        return oterm_iterator(e, e);
    }

    // Disconnects every input (unconnected) and every sink of every output
    // (the sinks stay on their nodes, unconnected).
    void disconnect_all();

    // ------------------------------------------------------------ bits and mode
    // Bits 0..63 are legal on every atom, except the virtual-I/O bit, which
    // only a logic cell can carry (no other atom can stand in for an I/O).
    bool bit_is_legal(int bit) const;
    bool test_bit(int bit) const;
    void set_bit(int bit);
    void clear_bit(int bit);
    uint64_t get_bits() const { return m_bits; }
    void set_bits(uint64_t bits) { m_bits = bits; }
    int get_mode() const { return m_mode; }
    void set_mode(int mode) { m_mode = mode; }

    // A cell the user's netlist made as a logic cell (a user cell): the
    // change log records the flag with the cell's state, so that a replay
    // can set it again.
    bool is_user_lcell() const { return m_user_lcell != 0; }
    void set_user_lcell(bool on) { m_user_lcell = on ? 1 : 0; }

    // ------------------------------------------------------------ LUT masks
    // Logic cells only (internal error elsewhere). The flag is accepted for
    // the callers' signature and has no effect. Writing a 6-input mask that
    // depends on input F creates the DB_DATA_F input when it is missing.
    // A 6-input combinational cell has one 64-bit mask: its comb-out reads
    // all of it, its sum, carry and share-out the two 16-bit adder halves at
    // bits 0..15 and 32..47 of the same mask.
    void set_lutmask(const CDB_LUTMASK& mask, int flag = 0);
    CDB_LUTMASK get_lutmask() const { return CDB_LUTMASK(m_lut_inputs, m_lut_value); }
    // Adder mask of a 6-input cell as a pair of 16-bit halves, the first in
    // bits 0..15 and the second in bits 16..31 of the value. A combinational
    // cell writes the halves into its LUT mask (the other bits stay); the
    // MRL adder cell, which has no comb-out, keeps them on their own.
    void set_sum_lutmask(const CDB_LUTMASK& mask, int flag = 0);
    // The adder's two 16-bit halves: packed as one 32-bit pair, or (as_pair
    // false) where a 6-input mask holds them, bits 0..15 and 32..47.
    uint64_t get_adder_lutmask(bool as_pair = true) const;
    // A 6-input combinational cell: its adder halves live in its LUT mask.
    bool keeps_adder_in_lutmask() const;
    // Carry mask of a 4-input cell (16 bits). The flag is accepted for the
    // callers' signature and has no effect, as for set_lutmask.
    void set_carry_lutmask(const CDB_LUTMASK& mask, int flag = 0);
    CDB_LUTMASK get_carry_lutmask() const { return CDB_LUTMASK(4, aux_mask() & 0xffff); }
    // The mask an output term of this node reports: comb (and UVO reg) out:
    // the LUT mask; 6-input sum/carry/share out: the adder mask; 4-input
    // carry out: the carry mask; anything else: an empty mask.
    CDB_LUTMASK get_output_lutmask(int output_port_type) const;
    void set_output_lutmask(int output_port_type, const CDB_LUTMASK& mask);

    // Value of an output for given input values, honouring the family's bit
    // order and modes. in[k] is the value (0 or 1) of EVALUATE_INPUT_PORTS[k]:
    // DB_DATA_A..G, carry in, share in. Answers 0 or 1, or NO_LUT_VALUE when
    // the output has no LUT function on this atom.
    static constexpr int EVALUATE_INPUT_COUNT = 9;
    static constexpr int EVALUATE_INPUT_PORTS[EVALUATE_INPUT_COUNT] = {
        DB_DATA_A, DB_DATA_B, DB_DATA_C, DB_DATA_D, DB_DATA_E, DB_DATA_F, DB_DATA_G, DB_CARRY_IN, DB_SHARE_IN};
    static constexpr unsigned NO_LUT_VALUE = 0xffffffffu;
    // The MRL shared adder reads its carry-in (DB_CHAIN_IN_0) in the carry
    // slot and answers for DB_HSADDER_SUM_0/1 and its carry-out DB_CHAIN_OUT_0.
    static constexpr int EVALUATE_CARRY_SLOT = 7;
    virtual unsigned evaluate_output(int output_port_type, const unsigned* in) const;
    // The input port whose value goes into slot k of evaluate_output.
    int get_evaluate_input_port(int slot) const;
    // 6-input cell in extended mode: DB_DATA_G is connected.
    bool is_in_extended_mode() const;

    // Whether the input term can change the output term's value: LUT data,
    // carry and share inputs reach a logic cell's comb, sum, carry and share
    // outputs (and a UVO cell's register output), every input of a register
    // reaches its register output, register-only inputs of a UVO cell reach
    // only its register output; every input of any other atom reaches every
    // output. False when either term is not this node's.
    bool does_iterm_reach_oterm(const CDB_ATOM_OTERM* oterm, const CDB_ATOM_ITERM* iterm) const;

    // ------------------------------------------------------------ records
    CDB_ATOM_LATCH_INFO* get_latch_info() const { return m_extras ? m_extras->latch : nullptr; }
    // Takes ownership (null clears).
    void set_latch_info(CDB_ATOM_LATCH_INFO* info);

    const CDB_ATOM_LOCATION& get_location() const { return m_location; }
    void set_location(const CDB_ATOM_LOCATION& loc) { m_location = loc; }
    void set_location(int x, int y, int sub_loc = -1, int sub_loc2 = -1) { m_location = {x, y, sub_loc, sub_loc2}; }
    int get_lab_x() const { return m_location.x; }
    int get_lab_y() const { return m_location.y; }
    int get_sub_location() const { return m_location.sub_loc; }
    // The device location record of a placed atom, the place block's global
    // id taken from the die's place information. False (record untouched)
    // for an unplaced atom or a null die.
    bool get_location_index(const DUVO_DIE_INFO* die, CDB_LOCATION_INDEX* out) const;

    const CDB_ATOM_ASSIGNMENTS& get_assignments() const;
    void set_assignments(const CDB_ATOM_ASSIGNMENTS& a);

    CDB_CHIP_DB_ENTRY* get_chip_db_entry() const { return m_chip_db_entry; }
    void set_chip_db_entry(CDB_CHIP_DB_ENTRY* entry) { m_chip_db_entry = entry; }

    // Integer parameters of RAM and DSP blocks (width, clock, clear and mode
    // settings per port), keyed by (key, port); absent keys read as dflt.
    int get_block_param(int key, int port, int dflt) const;
    void set_block_param(int key, int port, int value);
    const std::map<std::pair<int, int>, int>* get_block_params() const { return m_extras ? m_extras->params : nullptr; }

    // ------------------------------------------------------------ consistency
    bool verify_fanin() const override;
    bool verify_fanout() const override;

    // Neighbours in the netlist's node list (null at the ends).
    CDB_ATOM_NODE* get_next_in_list() const { return m_next; }
    CDB_ATOM_NODE* get_prev_in_list() const { return m_prev; }

protected:
    // Fixed input ports of the kind, in slot order.
    struct PORT_LIST
    {
        const int* ports;
        int count;
    };
    static PORT_LIST ordered_inputs_of(int family, int kind);
    bool is_six_input_cell() const;
    static unsigned evaluate_shared_adder(int output_port_type, const unsigned* in);
    // A byte a derived kind may keep its own flag in (a member of its own
    // would make every atom of that kind a word longer).
    uint8_t get_kind_flag() const { return m_kind_flag; }
    void set_kind_flag(uint8_t flag) { m_kind_flag = flag; }

private:
    friend class CDB_ATOM_NETLIST;
    friend class CDB_NATIVE_READER_ACCESS;

    // What few atoms have, behind one pointer.
    struct EXTRAS
    {
        CDB_ATOM_ASSIGNMENTS* assignments = nullptr;  // null = defaults
        CDB_ATOM_LATCH_INFO* latch = nullptr;
        std::map<std::pair<int, int>, int>* params = nullptr;
        uint64_t aux_mask = 0;  // adder (MRL adder cell) or carry (4-input) mask
    };
    EXTRAS& extras();
    uint64_t aux_mask() const { return m_extras ? m_extras->aux_mask : 0; }
    void set_aux_mask(uint64_t mask);
    // The LUT mask's two fields apart, so that they share the words of the
    // other fields (a mask object alone takes 16 bytes).
    void store_lutmask(const CDB_LUTMASK& mask);

    uint32_t m_id;
    uint8_t m_family;
    uint8_t m_kind;
    uint8_t m_ordered_inputs : 7 = 0;
    uint8_t m_kind_flag : 1 = 0;
    uint8_t m_lut_inputs : 7 = 0;
    uint8_t m_user_lcell : 1 = 0;
    int32_t m_atom_type;
    int32_t m_mode = 0;
    uint64_t m_bits = 0;
    HDB_INSTANCE_NAME* m_name = nullptr;
    CDB_ATOM_NETLIST* m_netlist = nullptr;
    CDB_ATOM_NODE* m_prev = nullptr;
    CDB_ATOM_NODE* m_next = nullptr;
    CDB_TERM_SLOTS m_terms;
    uint64_t m_lut_value = 0;
    CDB_ATOM_LOCATION m_location;
    CDB_CHIP_DB_ENTRY* m_chip_db_entry = nullptr;
    EXTRAS* m_extras = nullptr;
};

// ---------------------------------------------------------------- cell classes
// Combinational logic cells.
class CDB_ATOM_LCELL_COMB : public CDB_ATOM_NODE
{
public:
    CDB_ATOM_LCELL_COMB(int family, int atom_type) : CDB_ATOM_NODE(family, CDB_KIND_LCELL_COMB, atom_type) {}
    bool is_lcell_comb() const override { return true; }
};
// Registers; ff_is_lcell_ff selects is_lcell_ff (BRK, TEV, MRL) or is_ff.
class CDB_ATOM_REGISTER : public CDB_ATOM_NODE
{
public:
    CDB_ATOM_REGISTER(int family, int atom_type);
    bool is_lcell_ff() const override { return get_kind_flag() != 0; }
    bool is_ff() const override { return get_kind_flag() == 0; }
};

// The family argument lets one cell class serve the families that share
// it (RZK comb cells in KESTLIN, ZEPLA cells under both ZEPLA codes).
#define CDB_DECLARE_CELL(NAME, BASE, FAMILY)                                                                           \
    class NAME : public BASE                                                                                           \
    {                                                                                                                  \
    public:                                                                                                            \
        explicit NAME(int family = FAMILY);                                                                            \
    };

CDB_DECLARE_CELL(CDB_ATOM_BRK_LCELL_COMB, CDB_ATOM_LCELL_COMB, CDB_FAMILY_BRK)
CDB_DECLARE_CELL(CDB_ATOM_BRK_LCELL_FF, CDB_ATOM_REGISTER, CDB_FAMILY_BRK)
CDB_DECLARE_CELL(CDB_ATOM_ZEPLA_LCELL_COMB, CDB_ATOM_LCELL_COMB, CDB_FAMILY_ZEPLA)
CDB_DECLARE_CELL(CDB_ATOM_ZEPLA_FF, CDB_ATOM_REGISTER, CDB_FAMILY_ZEPLA)
CDB_DECLARE_CELL(CDB_ATOM_SORVEXII_LCELL_COMB, CDB_ATOM_LCELL_COMB, CDB_FAMILY_TEV)  // TEV
CDB_DECLARE_CELL(CDB_ATOM_SORVEXII_LCELL_FF, CDB_ATOM_REGISTER, CDB_FAMILY_TEV)
CDB_DECLARE_CELL(CDB_ATOM_MORLIN_LCELL_COMB, CDB_ATOM_LCELL_COMB, CDB_FAMILY_MRL)  // MRL
CDB_DECLARE_CELL(CDB_ATOM_MORLIN_LCELL_FF, CDB_ATOM_REGISTER, CDB_FAMILY_MRL)
CDB_DECLARE_CELL(CDB_ATOM_RZK_LCELL_COMB, CDB_ATOM_LCELL_COMB, CDB_FAMILY_RZK)  // RZK and KESTLIN
CDB_DECLARE_CELL(CDB_ATOM_RZK_FF, CDB_ATOM_REGISTER, CDB_FAMILY_RZK)
CDB_DECLARE_CELL(CDB_ATOM_KESTLIN_FF, CDB_ATOM_REGISTER, CDB_FAMILY_KESTLIN)
CDB_DECLARE_CELL(CDB_ATOM_OBRAN_LCELL_COMB, CDB_ATOM_LCELL_COMB, CDB_FAMILY_OBRAN)
CDB_DECLARE_CELL(CDB_ATOM_OBRAN_FF, CDB_ATOM_REGISTER, CDB_FAMILY_OBRAN)
#undef CDB_DECLARE_CELL

// MRL high-speed adder.
class CDB_ATOM_MORLIN_LCELL_HSADDER : public CDB_ATOM_NODE
{
public:
    CDB_ATOM_MORLIN_LCELL_HSADDER();
    bool is_lcell_hsadder() const override { return true; }
};

// UVO logic cell: a 4-input LUT and an optional packed register in one atom.
class CDB_ATOM_UVO_LCELL : public CDB_ATOM_NODE
{
public:
    CDB_ATOM_UVO_LCELL();
    bool is_lcell() const override { return true; }
};

// I/O pin. An input pin drives DB_DATA_OUT; an output pin reads DB_DATAIN
// and carries its pad as a DB_PAD_OUT term without fanout
// (cdb_create_output_pin), the term its timing keeper stands for.
class CDB_ATOM_IO : public CDB_ATOM_NODE
{
public:
    explicit CDB_ATOM_IO(int family);
    bool is_pin() const override { return true; }
    bool implements(int) const override { return true; }
    bool implements_output(int) const override { return true; }
};

// The memory-initialisation file a RAM takes its contents from; usage 1
// reads slice (first bit number) k from bit k of every word.
struct CDB_RECONFIG_INFO
{
    std::string m_mif_file_name;
    int m_mif_file_usage = 0;
};

// What one slice is within its logical RAM, as the logic-to-RAM builder
// describes the slice's data output; the hierarchy is the path of the
// instance the replaced logic sat in.
struct CDB_RAM_SLICE_INFO
{
    std::string m_logical_name;
    std::string m_file_name;
    int m_logical_width = 0;
    int m_logical_depth = 0;
    int m_first_address = 0;
    int m_last_address = 0;
    int m_slice_index = 0;
    int m_mif_view = 0;
    std::string m_hierarchy;
    bool operator==(const CDB_RAM_SLICE_INFO&) const = default;
};

// RAM block: any ports, integer parameters, and optionally contents of its own.
class CDB_ATOM_RAM : public CDB_ATOM_NODE
{
public:
    explicit CDB_ATOM_RAM(int family);
    bool is_ram() const override { return true; }
    bool implements(int) const override { return true; }
    bool implements_output(int) const override { return true; }
    // RAM mode flags of a port (0..80), three parameter words from CDB_PARAM_RAM_MODE on.
    static constexpr int CDB_RAM_MODE_KEY = CDB_PARAM_RAM_MODE;
    bool ram_mode_is(int flag, int port) const { return get_ram_mode_flags(port).test(flag); }
    CDB_RAM_FLAG_SET get_ram_mode_flags(int port) const;
    void set_ram_mode_flags(int port, const CDB_RAM_FLAG_SET& flags);
    // Contents of a one-bit-wide slice, entry a for address a, kept as
    // parameters so that copies and the native format carry them. Empty
    // for a RAM without contents of its own.
    void set_content(const std::vector<bool>& column);
    std::vector<bool> get_content() const;
    bool has_content() const { return get_block_param(CDB_PARAM_RAM_CONTENT_SIZE, 0, 0) > 0; }
    // Kept as parameters too (the name four characters to a parameter).
    void set_reconfig_info(const CDB_RECONFIG_INFO& info);
    CDB_RECONFIG_INFO get_reconfig_info() const;
    // The description of the slice a data output of this RAM carries (an
    // output of another atom is an internal error); a later call replaces
    // it. False, leaving `info` alone, for an output without one.
    void set_slice_info(const CDB_ATOM_OTERM* oterm, const CDB_RAM_SLICE_INFO& info);
    bool get_slice_info(const CDB_ATOM_OTERM* oterm, CDB_RAM_SLICE_INFO& info) const;
    // Set once the builder has named the slice after the data bit it
    // replaces, so that the name is not taken for one the host made.
    void set_renamed(bool renamed) { set_block_param(CDB_PARAM_RAM_RENAMED, 0, renamed ? 1 : 0); }
    bool is_renamed() const { return get_block_param(CDB_PARAM_RAM_RENAMED, 0, 0) != 0; }

private:
    // Texts four characters to a parameter, the first in the low byte.
    void set_text(int size_key, int size_port, int chars_key, int chars_base, const std::string& text);
    std::string get_text(int size_key, int size_port, int chars_key, int chars_base) const;
};
using CDB_ATOM_UVO_EC = CDB_ATOM_RAM;

// The RAM block atom of each family that has its own (type codes 249, 202,
// 178, 263, 227; KESTLIN uses the RZK one).
#define CDB_DECLARE_RAM(NAME, FAMILY)                                                                                  \
    class NAME : public CDB_ATOM_RAM                                                                                   \
    {                                                                                                                  \
    public:                                                                                                            \
        explicit NAME(int family = FAMILY) : CDB_ATOM_RAM(family) {}                                                   \
    };
CDB_DECLARE_RAM(CDB_ATOM_BRK_EC, CDB_FAMILY_BRK)
CDB_DECLARE_RAM(CDB_ATOM_OBRAN_EC, CDB_FAMILY_OBRAN)
CDB_DECLARE_RAM(CDB_ATOM_RZK_EC, CDB_FAMILY_RZK)
CDB_DECLARE_RAM(CDB_ATOM_SORVEXII_EC, CDB_FAMILY_TEV)
CDB_DECLARE_RAM(CDB_ATOM_ZEPLA_EC, CDB_FAMILY_ZEPLA)
#undef CDB_DECLARE_RAM

// DSP multiplier and output blocks (placeholders like the RAM).
class CDB_ATOM_MAC_MULT : public CDB_ATOM_NODE
{
public:
    explicit CDB_ATOM_MAC_MULT(int family);
    bool is_mac_mult() const override { return true; }
    bool implements(int) const override { return true; }
    bool implements_output(int) const override { return true; }
};
class CDB_ATOM_MAC_OUT : public CDB_ATOM_NODE
{
public:
    explicit CDB_ATOM_MAC_OUT(int family);
    bool is_mac_out() const override { return true; }
    bool implements(int) const override { return true; }
    bool implements_output(int) const override { return true; }
};

// Clock buffer: reads DB_CLKBUF_IN (and DB_CLOCK_ENABLE), drives DB_CLKBUF_OUT.
class CDB_ATOM_CLKBUF : public CDB_ATOM_NODE
{
public:
    explicit CDB_ATOM_CLKBUF(int family);
    bool is_clkbuf() const override { return true; }
};

// The atom of a family and kind, set up (create_atom_info) and named; null
// when the family has no such atom. UVO answers its logic cell for both
// CDB_KIND_LCELL_COMB and CDB_KIND_REGISTER. Register factories of the
// is_ff families set mode 390; 4-input comb cells and UVO cells set bit 29.
CDB_ATOM_NODE* cdb_create_atom(int family, int kind, HDB_INSTANCE_NAME* name = nullptr);
// The atom of an atom type (kind looked up in the family's table); null when unknown.
CDB_ATOM_NODE* cdb_create_atom_of_type(int family, int atom_type);
// An output pin of the family: an I/O atom with an unconnected DB_DATAIN
// input and its pad term (cdb_add_pad_output) named like the pin; null
// when the family is unknown.
CDB_ATOM_NODE* cdb_create_output_pin(int family, HDB_INSTANCE_NAME* name = nullptr);
// The pin's DB_PAD_OUT term, added (named like the pin) when missing; null
// for an atom that is not a pin.
CDB_ATOM_OTERM* cdb_add_pad_output(CDB_ATOM_NODE* pin);
