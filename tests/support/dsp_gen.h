// Small DSP designs for the DSP register moves: 1 to 4 multipliers of 4 to
// 6 bit operands into one output block, registers in front of the block
// (plain registers, or packed into the multipliers) and behind it (packed
// into the output block, or plain registers the block's bits feed through
// a little logic), so that the critical path runs through the block. The
// same options give the same netlist, names included.
#pragma once

#include <memory>
#include <string>

#include "cdb/cdb_atom_netlist.h"

struct DSP_GEN_OPTIONS
{
    int m_family = CDB_FAMILY_BRK;
    int m_mults = 2;  // 1 to 4; ZEPLA and TEV take 1
    int m_width_a = 4;
    int m_width_b = 4;
    bool m_external_inputs = true;   // plain registers drive the operands
    bool m_packed_inputs = false;    // the multipliers' own input registers
    bool m_mult_outputs = false;     // the multipliers' output registers
    bool m_packed_output = false;    // the output block's register
    bool m_fanout_registers = true;  // plain registers behind the block's logic
    bool m_clear = true;             // registers cleared by "rst"
    int m_logic_levels = 2;          // LUT levels behind the block
    int m_vcc_bits = 0;              // operand bits tied to logical VCC on both operands
    bool m_inverted_pin = false;     // operand A bit 0 read through the pin's inversion
    bool m_output_invert = false;    // programmable inversion on every other output bit
    int m_output_clock_slot = 0;     // slot of the output block's register
    bool m_front_lut = false;        // operand A bit 0 of the first multiplier from a LUT of two pins
    bool m_packed_b_only = false;    // with m_packed_inputs: operand A is left unpacked
    bool m_slot_controls = false;    // slot 0 of every block on "clk" and "rst", used or not
    bool m_gated_slot = false;       // as m_slot_controls, slot 0 loading under the enable "g"
    int m_foreign_clocks = 0;        // this many free slots of every block from slot 1 on clocks "k<slot>"
    // The plain registers of this bit of the first multiplier's operand A
    // and of the output: loading under the enable "en", or taking the
    // synchronous data "sd" under the load "sl"; -1 none.
    int m_enabled_bit = -1;
    int m_loaded_bit = -1;
    int m_tapped_bit = -1;      // this output bit of the block also drives the output pin "t"
    int m_tapped_product = -1;  // this product bit of the first multiplier also drives the output pin "tp"
};

// Input pins "a<m>_<k>", "b<m>_<k>", "clk", "rst" (and "g", "k<slot>",
// "en", "sd", "sl" when asked for); registers "ra<m>_<k>", "rb<m>_<k>" and
// "rq0_<k>"; multipliers "d_m<m>", the output block "d_o", cells
// "c<level>_<k>" and the front LUT "f0", output pins "o0_<k>".
std::unique_ptr<CDB_ATOM_NETLIST> dsp_generate(const DSP_GEN_OPTIONS& options);

// The design morv-fit reads from designs/dsp_mac_<family>.txt.
DSP_GEN_OPTIONS dsp_sample_options(int family);
