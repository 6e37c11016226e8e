#pragma once
// Questions about DSP (MAC) and RAM blocks that the atom netlist leaves to
// the utility library. Every operation is static and takes the atom.
//
// The block's register settings live in the atom's integer parameters
// (CDB_BLOCK_PARAM_KEY), so they travel with the native format, archives
// and copies. A DSP register is in use exactly when it has a clock slot:
// setting a port's clock to CUT_MAC_NO_CLOCK unregisters it.

#include <string>

#include "cdb/cdb_types.h"

class CDB_ATOM_NETLIST;
class CDB_ATOM_NODE;

// One more than the highest index of the node's input (output) terms used as
// port_type; 0 without any.
int cut_input_terms_width(const CDB_ATOM_NODE* node, int port_type);
int cut_output_terms_width(const CDB_ATOM_NODE* node, int port_type);

constexpr int CUT_MAC_NO_CLOCK = -1;
constexpr int CUT_MAC_NO_CLEAR = -1;

enum CUT_MAC_MODE_ENUM : int
{
    CUT_MAC_MODE_SIMPLE_MULTIPLIER = 0,
    CUT_MAC_MODE_MULTIPLY_ACCUMULATE = 1,
    CUT_MAC_MODE_TWO_MULTIPLIERS_ADDER = 3,
    CUT_MAC_MODE_FOUR_MULTIPLIERS_ADDER = 5,
    CUT_MAC_MODE_36_BIT_ADDER = 7,
    CUT_MAC_MODE_DYNAMIC = 8,
};

class CUT_MAC_UTIL
{
public:
    // A MAC_MULT answers the mode of the output block it feeds (its own
    // setting when it feeds none).
    static int get_mode(const CDB_ATOM_NODE* mac);
    static void set_mode(CDB_ATOM_NODE* mac, int mode);

    static bool is_input_port_registered(const CDB_ATOM_NODE* mac, int input_port_type);
    static bool is_pipeline_registered(const CDB_ATOM_NODE* mac, int input_port_type);
    static bool is_output_port_registered(const CDB_ATOM_NODE* mac, int output_port_type);
    // The multiplier's own output register behind that operand (6-input families).
    static bool is_output_register_used(const CDB_ATOM_NODE* mac, int input_port_type);
    static void set_output_register_used(CDB_ATOM_NODE* mac, int input_port_type, bool used);

    // Clock slot (CUT_MAC_NO_CLOCK when unregistered) and clear slot
    // (CUT_MAC_NO_CLEAR when none) of the register on that port.
    static int get_input_port_clock(const CDB_ATOM_NODE* mac, int input_port_type);
    static int get_input_port_clear(const CDB_ATOM_NODE* mac, int input_port_type);
    static int get_pipeline_clock(const CDB_ATOM_NODE* mac, int input_port_type);
    static int get_pipeline_clear(const CDB_ATOM_NODE* mac, int input_port_type);
    static int get_output_port_clock(const CDB_ATOM_NODE* mac, int output_port_type);
    static int get_output_port_clear(const CDB_ATOM_NODE* mac, int output_port_type);
    static void set_input_port_clock(CDB_ATOM_NODE* mac, int input_port_type, int index);
    static void set_input_port_clear(CDB_ATOM_NODE* mac, int input_port_type, int index);
    static void set_pipeline_clock(CDB_ATOM_NODE* mac, int input_port_type, int index);
    static void set_pipeline_clear(CDB_ATOM_NODE* mac, int input_port_type, int index);
    static void set_output_port_clock(CDB_ATOM_NODE* mac, int output_port_type, int index);
    static void set_output_port_clear(CDB_ATOM_NODE* mac, int output_port_type, int index);

    // Port width in bits, one term per bit. Without a set width: one more
    // than the highest term index on that port (0 without terms).
    static int get_input_port_width(const CDB_ATOM_NODE* mac, int input_port_type);
    static int get_output_port_width(const CDB_ATOM_NODE* mac, int output_port_type);
    static void set_input_port_width(CDB_ATOM_NODE* mac, int input_port_type, int width);
    static void set_output_port_width(CDB_ATOM_NODE* mac, int output_port_type, int width);

    // Output type whose terms stand for a packed input register of the
    // port (DB_DATA_A..D -> DB_MAC_OBSERVABLE_DATAA..D); DB_MAX_OUTPUT_PORT_TYPE
    // otherwise. The two flags are the callers' (who pass false) and change nothing.
    static int get_observable_port_type(int input_port_type, bool scan = false, bool pipeline = false);

    // Scan chain of operand A (DB_DATA_A) or B (DB_DATA_B): the multiplier
    // driving this one's scan input, or the one this multiplier's scan
    // output drives; null when none or for another port.
    static CDB_ATOM_NODE* get_scan_in_mult(const CDB_ATOM_NODE* mac, int input_port_type);
    static CDB_ATOM_NODE* get_scan_out_mult(const CDB_ATOM_NODE* mac, int input_port_type);

    // The MAC_OUT the multiplier's data output feeds; null when none.
    static CDB_ATOM_NODE* get_mac_out_from_mac_mult(const CDB_ATOM_NODE* mult);

    static bool is_output_prog_invert(const CDB_ATOM_NODE* mac, int output_port_type, int bit);
    static void set_output_prog_invert(CDB_ATOM_NODE* mac, int output_port_type, int bit, bool invert);
};

// RAM ports 0 (A) and 1 (B) in the mode calls.
class CUT_RAM_UTIL
{
public:
    // Atoms of one logical RAM sit under one hierarchy instance: the name
    // of the atom's parent, or the atom's own name at the top level; empty
    // for an unnamed atom.
    static std::string get_logical_name_str(const CDB_ATOM_NODE* ram);

    // True when every flag of the set is on (internal error for a non-RAM).
    static bool ram_mode_is(const CDB_ATOM_NODE* ram, int ram_port, const CDB_RAM_FLAG_SET& flags);
    static bool ram_mode_is(const CDB_ATOM_NODE* ram, int ram_port, int flag);
    static void set_ram_mode(CDB_ATOM_NODE* ram, int ram_port, const CDB_RAM_FLAG_SET& flags);
    static void clear_ram_mode(CDB_ATOM_NODE* ram, int ram_port, const CDB_RAM_FLAG_SET& flags);
    // Flags 0..31 of the port as one number (reports and traces).
    static int get_ram_mode(const CDB_ATOM_NODE* ram, int ram_port = 0);

    // The input port type carrying the clock, clear or enable of the
    // register on a RAM port (data outputs 40/41 and the port's inputs):
    // port A uses DB_RAM_CLK0/CLR0/ENA0, port B the "1" inputs. An unknown
    // port, or an atom without a term of that control input, answers
    // DB_MAX_INPUT_PORT_TYPE.
    static int get_physical_port_clock(const CDB_ATOM_NODE* ram, int port_type);
    static int get_physical_port_clear(const CDB_ATOM_NODE* ram, int port_type);
    static int get_physical_port_clock_enable(const CDB_ATOM_NODE* ram, int port_type);

    // Observable output of a registered RAM input (data in A, address A, address B).
    static int get_observable_port_type(int input_port_type, bool scan = false, bool pipeline = false);

    // Address bits of a RAM port; without a set width, derived from the address terms.
    static int get_address_width(const CDB_ATOM_NODE* ram, int ram_port);
    static void set_address_width(CDB_ATOM_NODE* ram, int ram_port, int width);

    // Slice parameters, kept as atom parameters of the port; -1 when unset.
#define CUT_RAM_PARAM(NAME)                                                                                            \
    static int get_##NAME(const CDB_ATOM_NODE* ram, int ram_port);                                                     \
    static void set_##NAME(CDB_ATOM_NODE* ram, int ram_port, int value);
    CUT_RAM_PARAM(block_type)
    CUT_RAM_PARAM(target_block_type)
    CUT_RAM_PARAM(physical_port)
    CUT_RAM_PARAM(content_view)
    CUT_RAM_PARAM(mixed_port_feed_through_mode)
    CUT_RAM_PARAM(logical_depth)
    CUT_RAM_PARAM(logical_width)
    CUT_RAM_PARAM(first_address)
    CUT_RAM_PARAM(last_address)
    CUT_RAM_PARAM(first_bit_number)
    CUT_RAM_PARAM(data_width)
    CUT_RAM_PARAM(data_width_mode)
    CUT_RAM_PARAM(data_interleave_offset_in_bits)
    CUT_RAM_PARAM(data_interleave_width_in_bits)
#undef CUT_RAM_PARAM

    // Words one slice holds: last - first + 1 when both are set, else
    // 2^address width. Bits per word: the data width when set, else the
    // width of the port's data output.
    static long long get_slice_depth(const CDB_ATOM_NODE* ram, int ram_port);
    static int get_slice_width(const CDB_ATOM_NODE* ram, int ram_port);
};

// Gives every input term of a RAM that has an observable output type its
// observable output term (same index) when it has none yet; the new terms
// carry synthesized names. Answers how many were created.
int cut_add_observable_oterms(CDB_ATOM_NODE* ram);

// The host's enable rewiring of a RAM atom for devices whose RAMs take no
// extra clock enable. No stand-in device needs the rewiring, so it only
// counts the atoms it was asked for.
void cut_rewire_enable_for_tv3_rams(CDB_ATOM_NODE* ram);
// Atoms handed to cut_rewire_enable_for_tv3_rams since the library loaded.
int cut_rewired_enable_count();
