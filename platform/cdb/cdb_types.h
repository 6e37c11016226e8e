#pragma once
// Port types, families, atom types and small shared records of the atom
// netlist. Port types are plain ints everywhere (callers pass the numbers).

#include <cstdint>

// ---------------------------------------------------------------- input port types
enum DB_INPUT_PORT_TYPE : int {
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
    DB_CHAIN_IN_0 = 102,      // UVO chain inputs
    DB_CHAIN_IN_1 = 103,
    DB_REG_CONTROL = 164,     // UVO register control input
    DB_REG_CASCADE_IN = 165,  // UVO register-cascade input
    DB_SHARE_IN = 268,
    DB_MAX_INPUT_PORT_TYPE = 3016,  // also "no port"
};

// ---------------------------------------------------------------- output port types
enum DB_OUTPUT_PORT_TYPE : int {
    DB_CARRY_OUT = 0,
    DB_DATA_OUT = 2,  // output of an input pin and of RAM/DSP blocks
    DB_SUM_OUT = 7,
    DB_COMB_OUT = 8,
    DB_REG_OUT = 9,
    DB_CLKBUF_OUT = 21,
    DB_CHAIN_OUT_0 = 43,  // UVO chain outputs
    DB_CHAIN_OUT_1 = 44,
    DB_SHARE_OUT = 251,
    DB_MAX_OUTPUT_PORT_TYPE = 4149,  // also "no port"
};

// The only delay chain the system reads or writes.
enum DB_DELAY_CHAIN_TYPE : int { DB_DELAY_CHAIN_INPUT = 8 };

// Physical-implementation value the register factories set with set_mode.
constexpr int DEV_PHYS_IMPL_REGISTER_MODE = 390;

// ---------------------------------------------------------------- families
enum CDB_FAMILY : int {
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
enum CDB_ATOM_KIND : int {
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

struct CDB_FAMILY_INFO {
    int family;
    const char* name;           // "BRK", "ZEPLA", ...
    int lut_size;               // 4 or 6
    bool reversed_bit_order;    // 6-input mask read at bit 63 - k, 16-bit halves at 15 - k
    bool ff_is_lcell_ff;        // registers answer is_lcell_ff (else is_ff)
    int atom_type[CDB_KIND_COUNT];  // CDB_ATOM_TYPE_NONE when the family has no such atom
};

// Null for an unknown family code.
const CDB_FAMILY_INFO* cdb_get_family_info(int family);
// Family by name ("BRK", case-insensitive) or number text; CDB_FAMILY_NONE when unknown.
int cdb_family_from_name(const char* name);
// The kind of an atom type in a family; -1 when the family has no such type.
int cdb_kind_of_atom_type(int family, int atom_type);
int cdb_family_lut_size(int family);  // 0 for an unknown family

// Display names ("dataa", "combout", ...); "in<N>" / "out<N>" when unnamed.
const char* cdb_input_port_name(int port_type);
const char* cdb_output_port_name(int port_type);

// ---------------------------------------------------------------- register semantics
// Values of a register's inputs, each 0 or 1, after floating values are
// applied (a missing clock enable floats high, every other input low).
struct CDB_REGISTER_INPUTS {
    unsigned d = 0;
    unsigned ena = 1;
    unsigned sclr = 0;
    unsigned sload = 0;
    unsigned sdata = 0;
    unsigned clr = 0;     // asynchronous clear
    unsigned aload = 0;   // asynchronous load
    unsigned adata = 0;   // asynchronous data
};
// Registers power up to 0. Synchronous next state:
// ena ? (sclr ? 0 : (sload ? sdata : d)) : q.
unsigned cdb_register_next_state(const CDB_REGISTER_INPUTS& in, unsigned q);
// Asynchronous override: clr forces 0, else aload forces adata. Answers
// true with the forced value in out_value, false when neither is active.
bool cdb_register_async_value(const CDB_REGISTER_INPUTS& in, unsigned* out_value);

// ---------------------------------------------------------------- per-atom records
// Placement: LAB column and row and two sub-location fields; -1 = unplaced.
struct CDB_ATOM_LOCATION {
    int x = -1;
    int y = -1;
    int sub_loc = -1;
    int sub_loc2 = -1;
    bool operator==(const CDB_ATOM_LOCATION&) const = default;
};

// Per-atom assignments read back by the host environment.
struct CDB_ATOM_ASSIGNMENTS {
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
enum CDB_LATCH_ENABLE_MODE : int {
    CDB_LATCH_ENABLE_MODE_NONE = 0,
    CDB_LATCH_ENABLE_MODE_NON_INVERTED = 1,
    CDB_LATCH_ENABLE_MODE_INVERTED = 2,
};
struct CDB_ATOM_LATCH_INFO {
    bool is_latch = false;
    int clear_port = DB_MAX_INPUT_PORT_TYPE;
    int preset_port = DB_MAX_INPUT_PORT_TYPE;
    int feedback_port = DB_MAX_INPUT_PORT_TYPE;
    int enable_port = DB_MAX_INPUT_PORT_TYPE;
    int enable_mode = CDB_LATCH_ENABLE_MODE_NONE;
    int output_port = DB_MAX_OUTPUT_PORT_TYPE;
    bool operator==(const CDB_ATOM_LATCH_INFO&) const = default;
};

class MEM_SEGMENT;        // memory segments are accepted and ignored: atoms use the tracking allocator
class CDB_CHIP_DB_ENTRY;  // per-atom chip database entry (not owned by the atom)
