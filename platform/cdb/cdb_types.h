#pragma once
// Port types, families, atom types and small shared records of the atom
// netlist. Port types are plain ints everywhere (callers pass the numbers).

#include <cstdint>
#include <initializer_list>

// ---------------------------------------------------------------- input port types
enum DB_INPUT_PORT_TYPE : int
{
    DB_ASYNCH_DATA = 0,
    DB_ASYNCH_LOAD = 1,
    DB_CARRY_IN = 2,
    DB_CLEAR = 5,
    DB_CLOCK = 6,
    DB_CLOCK_ENABLE = 7,
    DB_DATA_A = 11,
    DB_DATA_B = 12,
    DB_DATA_C = 13,
    DB_DATA_D = 14,
    DB_DATA_E = 15,
    DB_DATA_F = 16,
    DB_DATA_G = 17,  // extended-mode input of a 6-input LUT
    DB_DATAIN = 18,  // register data input; also the data input of an output pin
    DB_SYNCH_CLEAR = 28,
    DB_SYNCH_DATA = 29,
    DB_SYNCH_LOAD = 30,
    DB_CLKBUF_IN = 67,
    DB_CHAIN_IN_0 = 102,  // UVO chain inputs
    DB_CHAIN_IN_1 = 103,
    DB_REG_CONTROL = 164,     // UVO register control input
    DB_REG_CASCADE_IN = 165,  // UVO register-cascade input
    DB_SHARE_IN = 268,
    // RAM block inputs: per RAM port (A, B) a clock, an enable and a clear.
    DB_RAM_CLK0 = 32,
    DB_RAM_CLK1 = 33,
    DB_RAM_ENA0 = 34,
    DB_RAM_ENA1 = 35,
    DB_RAM_CLR0 = 36,
    DB_RAM_CLR1 = 37,
    DB_RAM_CLK0_ENA = 38,  // port A's clock enable as the logic-to-RAM builder wires it
    DB_RAM_PORTA_DATAIN = 78,
    DB_RAM_PORTB_DATAIN = 79,
    DB_RAM_DATAIN_2 = 90,  // a RAM's second data input
    DB_RAM_PORTA_WE = 85,
    DB_RAM_PORTA_RE = 86,
    DB_RAM_PORTB_WE = 97,
    DB_RAM_PORTB_RE = 98,
    DB_RAM_PORTA_ADDRESS = 104,
    DB_RAM_PORTB_ADDRESS = 105,
    // DSP scan chain: a multiplier's operand taken from its neighbour's scan output.
    DB_MAC_SCANIN_A = 140,
    DB_MAC_SCANIN_B = 141,
    DB_MAX_INPUT_PORT_TYPE = 3016,  // also "no port"
};

// A DSP block's data ports (operands, scan chains, observable outputs)
// have up to this many bits, a multiplier's product twice as many, and its
// clock, enable and clear inputs this many register slots.
constexpr int CDB_MAC_MAX_PORT_BITS = 36;
constexpr int CDB_MAC_REGISTER_SLOTS = 4;
// A RAM block's data ports (data in, data out and its observable copy) have
// up to this many bits, the widest port of the largest block of a family.
constexpr int CDB_RAM_MAX_DATA_BITS = 144;

// ---------------------------------------------------------------- output port types
enum DB_OUTPUT_PORT_TYPE : int
{
    DB_CARRY_OUT = 0,
    DB_DATA_OUT = 2,  // output of an input pin and of RAM/DSP blocks
    DB_SUM_OUT = 7,
    DB_COMB_OUT = 8,
    DB_REG_OUT = 9,
    DB_CLKBUF_OUT = 21,
    DB_CHAIN_OUT_0 = 43,  // UVO chain outputs
    DB_CHAIN_OUT_1 = 44,
    DB_SHARE_OUT = 251,
    // MRL shared adder: its two sum bits; its carry-out is DB_CHAIN_OUT_0.
    DB_HSADDER_SUM_0 = 437,
    DB_HSADDER_SUM_1 = 438,
    DB_RAM_PORTA_DATAOUT = 40,
    DB_RAM_PORTB_DATAOUT = 41,
    // Observable outputs: one term per bit standing for a block's packed
    // input register (cut_block_util.h maps the input ports onto them).
    DB_MAC_OBSERVABLE_DATAA = 60,
    DB_MAC_OBSERVABLE_DATAB = 61,
    DB_MAC_OBSERVABLE_DATAC = 62,
    DB_MAC_OBSERVABLE_DATAD = 63,
    DB_RAM_OBSERVABLE_PORTA_DATAIN = 64,
    DB_RAM_OBSERVABLE_PORTA_ADDRESS = 65,
    DB_RAM_OBSERVABLE_PORTB_ADDRESS = 66,
    DB_MAC_SCANOUT_A = 70,
    DB_MAC_SCANOUT_B = 71,
    // The pad of an output pin: the pin itself seen as the signal it puts
    // out of the device. It never has fanout in the atom netlist; it exists
    // so that the pin's timing keeper carries a term of its own like every
    // other keeper. None of the types above means "leaves the chip", and
    // DB_DATA_OUT already means the core-side output of an input pin, so
    // this stand-in uses a number of its own, clear of the host's numbers.
    DB_PAD_OUT = 4000,
    // The host's output of an I/O pad atom towards its buffer. The stand-in
    // reads a pin as pad and buffer in one atom, so no term has this type;
    // the number is the host's and queries that name it use it as is.
    DB_PAD_TO_BUFFER_OUT = 115,
    DB_MAX_OUTPUT_PORT_TYPE = 4149,  // also "no port"
};

// The only delay chain the system reads or writes.
enum DB_DELAY_CHAIN_TYPE : int
{
    DB_DELAY_CHAIN_INPUT = 8
};

// Physical-implementation value the register factories set with set_mode.
constexpr int DEV_PHYS_IMPL_REGISTER_MODE = 390;

// ---------------------------------------------------------------- families
enum CDB_FAMILY : int
{
    CDB_FAMILY_NONE = -1,
    CDB_FAMILY_BRK = 6,
    CDB_FAMILY_ZEPLA = 9,
    CDB_FAMILY_TEV = 10,
    CDB_FAMILY_MRL = 24,
    CDB_FAMILY_KESTLIN = 34,
    CDB_FAMILY_ZEPLA_B = 35,  // second ZEPLA code, same cells
    CDB_FAMILY_RZK = 41,
    CDB_FAMILY_OBRAN = 42,
    CDB_FAMILY_UVO = 47,
};

// Kinds of atom a family can make (cdb_create_atom).
enum CDB_ATOM_KIND : int
{
    CDB_KIND_LCELL_COMB = 0,  // combinational logic cell (UVO: its logic cell)
    CDB_KIND_REGISTER = 1,    // register (UVO: a logic cell, which holds the register)
    CDB_KIND_HSADDER = 2,     // MRL high-speed adder
    CDB_KIND_UVO_LCELL = 3,
    CDB_KIND_IO = 4,
    CDB_KIND_RAM = 5,
    CDB_KIND_MAC_MULT = 6,
    CDB_KIND_MAC_OUT = 7,
    CDB_KIND_CLKBUF = 8,
    CDB_KIND_COUNT = 9,
};

// WYSIWYG atom type numbers. Logic cells and RAMs carry the host's numbers;
// I/O, DSP and clock-buffer numbers of most families are this stand-in's.
constexpr int CDB_ATOM_TYPE_NONE = -1;
constexpr int CDB_MAXIMUM_WYSIWYG_TYPE_ENUM = 315;
constexpr int CDB_ATOM_UVO_EC_ENUM = 15;
constexpr int CDB_ATOM_BRK_CLKBUF_ENUM = 250;
constexpr int CDB_ATOM_MORLIN_CLKBUF_ENUM = 287;
constexpr int CDB_ATOM_MORLIN_IO_ENUM = 277;
constexpr int CDB_ATOM_BLACKBOX_ENUM = 256;
constexpr int CDB_ATOM_BOUNDARY_PORT_ENUM = 314;
constexpr int CDB_ATOM_BRK_LCELL_COMB_ENUM = 0;
constexpr int CDB_ATOM_BRK_LCELL_FF_ENUM = 1;
constexpr int CDB_ATOM_BRK_IO_ENUM = 251;
constexpr int CDB_ATOM_RZK_LCELL_COMB_ENUM = 145;  // RZK and KESTLIN
constexpr int CDB_ATOM_OBRAN_LCELL_COMB_ENUM = 186;
constexpr int CDB_ATOM_MORLIN_LCELL_COMB_ENUM = 270;
constexpr int CDB_ATOM_MORLIN_LCELL_HSADDER_ENUM = 271;
constexpr int CDB_ATOM_MORLIN_LCELL_FF_ENUM = 272;
// RAM block atoms of each family.
constexpr int CDB_ATOM_RZK_EC_ENUM = 178;
constexpr int CDB_ATOM_OBRAN_EC_ENUM = 202;
constexpr int CDB_ATOM_ZEPLA_EC_ENUM = 227;
constexpr int CDB_ATOM_BRK_EC_ENUM = 249;
constexpr int CDB_ATOM_SORVEXII_EC_ENUM = 263;

// Atom property bits (CDB_ATOM_NODE::test_bit). The component only sets,
// clears and tests them; the stand-in gives them no behaviour of its own.
enum CDB_ATOM_BITS_ENUM : int
{
    CDB_ATOM_BIT_QFBK_MODE = 3,         // UVO: register fed back into the LUT
    CDB_ATOM_BIT_LUTMASK_FLAG = 28,     // UVO: the flag of its LUT-mask writes
    CDB_ATOM_BIT_FOUR_INPUT_COMB = 29,  // set by the 4-input cell factories
    CDB_ATOM_BIT_VIRTUAL_IO = 41,       // a logic cell standing in for an I/O
};

// Integer parameters of atoms, mostly of RAM and DSP blocks
// (CDB_ATOM_NODE::get_block_param).
// One list so that no two users pick the same key.
enum CDB_BLOCK_PARAM_KEY : int
{
    CDB_PARAM_RAM_MODE = 1,        // RAM port's mode flags 0..31 (port = RAM port)
    CDB_PARAM_RAM_MODE_1 = 0x100,  // flags 32..63
    CDB_PARAM_RAM_MODE_2 = 0x101,  // flags 64..80
    CDB_PARAM_RAM_ADDRESS_WIDTH = 0x102,
    // RAM slice parameters the logic-to-RAM builder sets (port = RAM port).
    CDB_PARAM_RAM_BLOCK_TYPE = 0x140,
    CDB_PARAM_RAM_TARGET_BLOCK_TYPE = 0x141,
    CDB_PARAM_RAM_PHYSICAL_PORT = 0x142,
    CDB_PARAM_RAM_CONTENT_VIEW = 0x143,
    CDB_PARAM_RAM_MIXED_PORT_FEED_THROUGH_MODE = 0x144,
    CDB_PARAM_RAM_LOGICAL_DEPTH = 0x145,
    CDB_PARAM_RAM_LOGICAL_WIDTH = 0x146,
    CDB_PARAM_RAM_FIRST_ADDRESS = 0x147,
    CDB_PARAM_RAM_LAST_ADDRESS = 0x148,
    CDB_PARAM_RAM_FIRST_BIT_NUMBER = 0x149,
    CDB_PARAM_RAM_DATA_WIDTH = 0x14a,
    CDB_PARAM_RAM_DATA_WIDTH_MODE = 0x14b,
    CDB_PARAM_RAM_DATA_INTERLEAVE_OFFSET = 0x14c,
    CDB_PARAM_RAM_DATA_INTERLEAVE_WIDTH = 0x14d,
    CDB_PARAM_RAM_CONTENT_SIZE = 0x14e,   // port 0: entries of the RAM's own contents
    CDB_PARAM_RAM_CONTENT = 0x14f,        // port k: entries 32k .. 32k + 31, bit j for entry 32k + j
    CDB_PARAM_RAM_MIF_USAGE = 0x150,      // port 0: how the memory-initialisation file is used (0: not)
    CDB_PARAM_RAM_MIF_NAME_SIZE = 0x151,  // port 0: characters of the file name
    CDB_PARAM_RAM_MIF_NAME = 0x152,       // port k: characters 4k .. 4k + 3, the first in the low byte
    // The slice description of a RAM's data output (one slice per atom).
    CDB_PARAM_RAM_SLICE_OUTPUT = 0x160,     // port 0: the described output's port type, port 1 its index
    CDB_PARAM_RAM_SLICE_NUMBER = 0x161,     // port = which number
    CDB_PARAM_RAM_SLICE_TEXT_SIZE = 0x162,  // port = which text: its characters
    CDB_PARAM_RAM_SLICE_TEXT = 0x163,       // port field * 65536 + k: characters 4k .. 4k + 3
    CDB_PARAM_RAM_RENAMED = 0x164,          // port 0: 1 once the builder has given the slice its own name
    CDB_PARAM_MAC_MODE = 0x110,             // port 0
    CDB_PARAM_MAC_INPUT_CLOCK = 0x111,      // port = input port type
    CDB_PARAM_MAC_INPUT_CLEAR = 0x112,
    CDB_PARAM_MAC_PIPELINE_CLOCK = 0x113,
    CDB_PARAM_MAC_PIPELINE_CLEAR = 0x114,
    CDB_PARAM_MAC_OUTPUT_CLOCK = 0x115,  // port = output port type
    CDB_PARAM_MAC_OUTPUT_CLEAR = 0x116,
    CDB_PARAM_MAC_INPUT_WIDTH = 0x117,
    CDB_PARAM_MAC_OUTPUT_WIDTH = 0x118,
    CDB_PARAM_MAC_OUTPUT_INVERT = 0x119,         // port = output port type * 256 + bit
    CDB_PARAM_MAC_OUTPUT_REGISTER_USED = 0x11a,  // port = input port type
    CDB_PARAM_CLOCK_TYPE = 0x120,                // clock buffers, port 0
    CDB_PARAM_FL_ID = 0x130,                     // structured-ASIC cell the legaliser stored, port 0
};

// RAM mode flags: 81 per RAM port. The ones with a meaning the system relies on:
enum CDB_RAM_FLAG_ENUM : int
{
    CDB_RAM_FLAG_OUTPUT_REGISTERED = 9,  // the port's data output is registered
    CDB_RAM_FLAG_OUTPUT_CLEAR = 21,      // the output register uses the port's clear
    // Port B only: a read at the address a write of the same clock edge
    // replaces returns the old word (without it, the new one).
    CDB_RAM_FLAG_READ_OLD_DATA = 30,
    CDB_RAM_FLAG_COUNT = 81,
};

// A set of RAM mode flags; flags outside 0..80 are ignored.
class CDB_RAM_FLAG_SET
{
public:
    CDB_RAM_FLAG_SET() = default;
    CDB_RAM_FLAG_SET(std::initializer_list<int> flags)
    {
        for (int f : flags) set(f);
    }
    void set(int flag)
    {
        if (valid(flag)) m_words[flag / 32] |= 1u << (flag % 32);
    }
    void clear(int flag)
    {
        if (valid(flag)) m_words[flag / 32] &= ~(1u << (flag % 32));
    }
    bool test(int flag) const { return valid(flag) && ((m_words[flag / 32] >> (flag % 32)) & 1u) != 0; }
    bool empty() const { return (m_words[0] | m_words[1] | m_words[2]) == 0; }
    // Word w holds flags 32w .. 32w+31.
    uint32_t word(int w) const { return m_words[w]; }
    void set_word(int w, uint32_t bits) { m_words[w] = bits; }
    bool operator==(const CDB_RAM_FLAG_SET&) const = default;

private:
    static bool valid(int flag) { return flag >= 0 && flag < CDB_RAM_FLAG_COUNT; }
    uint32_t m_words[3] = {0, 0, 0};
};

struct CDB_FAMILY_INFO
{
    int family;
    const char* name;               // "BRK", "ZEPLA", ...
    int lut_size;                   // 4 or 6
    bool reversed_bit_order;        // 6-input mask read at bit 63 - k, 16-bit halves at 15 - k
    bool ff_is_lcell_ff;            // registers answer is_lcell_ff (else is_ff)
    int atom_type[CDB_KIND_COUNT];  // CDB_ATOM_TYPE_NONE when the family has no such atom
};

// Null for an unknown family code.
const CDB_FAMILY_INFO* cdb_get_family_info(int family);
// Family by name ("BRK", case-insensitive) or number text; CDB_FAMILY_NONE when unknown.
int cdb_family_from_name(const char* name);
// The kind of an atom type in a family; -1 when the family has no such type.
int cdb_kind_of_atom_type(int family, int atom_type);
int cdb_family_lut_size(int family);  // 0 for an unknown family

// Display names ("dataa", "combout", ...); "in" / "out" for a port without a name.
const char* cdb_input_port_name(int port_type);
const char* cdb_output_port_name(int port_type);

// ---------------------------------------------------------------- register semantics
// The register rule, the one place the evaluator, the cycle simulator and
// the BLIF writer take a register's behaviour from. Values of a register's
// inputs, each 0 or 1, are logical values after floating values are applied:
// a missing clock enable and a missing asynchronous clear float high (both
// inactive), every other input low.
struct CDB_REGISTER_INPUTS
{
    unsigned d = 0;
    unsigned ena = 1;
    unsigned sclr = 0;
    unsigned sload = 0;
    unsigned sdata = 0;
    unsigned clr = 1;    // asynchronous clear, acting at 0 (cdb_clear_active_value)
    unsigned aload = 0;  // asynchronous load
    unsigned adata = 0;  // asynchronous data
};
// Every register, those inside DSP and RAM blocks included, powers up and
// clears to 0. Synchronous next state: ena ? (sclr ? 0 : (sload ? sdata : d)) : q.
unsigned cdb_register_next_state(const CDB_REGISTER_INPUTS& in, unsigned q);
// Asynchronous override: an active clear forces 0, else aload forces adata.
// Answers true with the forced value in out_value, false when neither acts.
bool cdb_register_async_value(const CDB_REGISTER_INPUTS& in, unsigned* out_value);
// The value a register takes: the asynchronous value when it acts, else the
// synchronous next state from the present state q.
unsigned cdb_register_next_value(const CDB_REGISTER_INPUTS& in, unsigned q);

// The clear rule: the logical value at which a clear input of an atom kind
// acts. A register's DB_CLEAR and a DSP block's clear slots act at 0, so a
// VCC tie or a missing clear is inactive; a RAM's clears (DB_RAM_CLR0/1) act
// at 1. Ports that are no clear of the kind answer CDB_NOT_A_CLEAR.
struct CDB_CLEAR_RULE
{
    int kind;  // CDB_ATOM_KIND
    int port;  // input port type of the clear
    unsigned active_value;
};
constexpr unsigned CDB_NOT_A_CLEAR = 2;
inline constexpr CDB_CLEAR_RULE CDB_CLEAR_RULES[] = {
    {CDB_KIND_REGISTER, DB_CLEAR, 0}, {CDB_KIND_UVO_LCELL, DB_CLEAR, 0}, {CDB_KIND_MAC_MULT, DB_CLEAR, 0},
    {CDB_KIND_MAC_OUT, DB_CLEAR, 0},  {CDB_KIND_RAM, DB_RAM_CLR0, 1},    {CDB_KIND_RAM, DB_RAM_CLR1, 1},
};
constexpr unsigned cdb_clear_active_value(int kind, int port)
{
    for (const CDB_CLEAR_RULE& r : CDB_CLEAR_RULES)
        if (r.kind == kind && r.port == port) return r.active_value;
    return CDB_NOT_A_CLEAR;
}
// Whether a clear at that logical value acts (false for a port that is no clear).
constexpr bool cdb_clear_acts(int kind, int port, unsigned logical_value)
{
    return cdb_clear_active_value(kind, port) == (logical_value & 1u);
}

// ---------------------------------------------------------------- per-atom records
// Placement: LAB column and row and two sub-location fields; -1 = unplaced.
struct CDB_ATOM_LOCATION
{
    int x = -1;
    int y = -1;
    int sub_loc = -1;
    int sub_loc2 = -1;
    bool operator==(const CDB_ATOM_LOCATION&) const = default;
};

// Device location of an atom as a record of numbered fields (the field
// numbers are the host's); fields not listed stay -1.
enum CDB_LOCATION_FIELD : int
{
    CDB_LOCATION_GLOBAL_ID = 0,  // place block id on the die, -1 outside the grid
    CDB_LOCATION_X = 13,
    CDB_LOCATION_Y = 14,
    CDB_LOCATION_SUB_LOC = 15,
    CDB_LOCATION_SUB_LOC2 = 17,  // -1 when the atom has no second sub-location
    CDB_LOCATION_FIELD_COUNT = 18,
};
struct CDB_LOCATION_INDEX
{
    int field[CDB_LOCATION_FIELD_COUNT];
    CDB_LOCATION_INDEX()
    {
        for (int& f : field) f = -1;
    }
    int operator[](int i) const { return field[i]; }
};

// Per-atom assignments read back by the host environment.
struct CDB_ATOM_ASSIGNMENTS
{
    int partition_id = -1;
    int kardel_region = -1;
    int locked_x1 = -1, locked_y1 = -1, locked_x2 = -1, locked_y2 = -1;  // locked region, -1 = none
    bool dont_touch = false;
    bool must_keep = false;
    bool back_annotated = false;
    bool operator==(const CDB_ATOM_ASSIGNMENTS&) const = default;
    bool is_default() const { return *this == CDB_ATOM_ASSIGNMENTS(); }
};

// Latch information of an atom (cut_get_atom_latch_info). Ports are input
// port types, DB_MAX_INPUT_PORT_TYPE when unused.
enum CDB_LATCH_ENABLE_MODE : int
{
    CDB_LATCH_ENABLE_MODE_NONE = 0,
    CDB_LATCH_ENABLE_MODE_NON_INVERTED = 1,
    CDB_LATCH_ENABLE_MODE_INVERTED = 2,
};
// A LUT built as a latch: the data input(s) it holds, the port that enables
// it and the port the output is fed back into, and its kind, which of the
// two mux forms its mask words take (1: 0xF0CC, 2: 0xCCF0, 0: none).
struct CDB_ATOM_LATCH_INFO
{
    bool is_latch = false;
    int data_port = DB_MAX_INPUT_PORT_TYPE;
    int data_port_2 = DB_MAX_INPUT_PORT_TYPE;
    int kind = 0;
    int clear_port = DB_MAX_INPUT_PORT_TYPE;
    int preset_port = DB_MAX_INPUT_PORT_TYPE;
    int feedback_port = DB_MAX_INPUT_PORT_TYPE;
    int enable_port = DB_MAX_INPUT_PORT_TYPE;
    int enable_mode = CDB_LATCH_ENABLE_MODE_NONE;
    int output_port = DB_MAX_OUTPUT_PORT_TYPE;
    bool operator==(const CDB_ATOM_LATCH_INFO&) const = default;
    bool get_is_latch() const { return is_latch; }
    // Marks the record a latch and sets its structure in one step.
    void set_full_latch_info(int data, int data_2, int enable, int feedback, int output, int latch_kind)
    {
        is_latch = true;
        data_port = data;
        data_port_2 = data_2;
        enable_port = enable;
        feedback_port = feedback;
        output_port = output;
        kind = latch_kind;
    }
};

class MEM_SEGMENT;        // memory segments are accepted and ignored: atoms use the tracking allocator
class CDB_CHIP_DB_ENTRY;  // per-atom chip database entry (not owned by the atom)
