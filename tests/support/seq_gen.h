// Random sequential netlists of each family carrying what register moves
// get wrong: inverted LUT and register data inputs, constant ties made of a
// physical constant and an inversion bit, constant and shared clock enables,
// synchronous clears and loads, asynchronous clears, wire LUTs, and the
// family's chains (4-LUT carry chains, 6-LUT shared arithmetic and extended
// mode, MRL shared adders, UVO packed registers). Every LUT's used outputs
// are independent of its unconnected inputs and a chain head's carry-in is
// left unconnected. The same options and seed give the same netlist, names
// included, so that a test can build a pair and edit one side.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "cdb/cdb_atom_netlist.h"

// How the controls of m_register_controls are driven: by pool signals, by
// pool signals through the inversion bit, or by constant ties (physical GND
// or VCC, with or without the inversion bit).
enum class SEQ_CONTROL_STYLE
{
    DRIVEN,
    INVERTED,
    CONSTANT
};

struct SEQ_GEN_OPTIONS
{
    int m_family = CDB_FAMILY_BRK;
    int m_inputs = 4;
    int m_outputs = 3;
    int m_cells = 12;  // LUT cells (chains count one per cell)
    int m_registers = 6;
    bool m_inversions = true;     // inversion bits on LUT and register data inputs
    bool m_constant_ties = true;  // LUT and control inputs tied through an inversion bit
    bool m_enables = true;        // constant and shared clock enables
    bool m_synch_controls = true;
    bool m_clears = true;  // asynchronous clears from the "rst" input
    bool m_wire_luts = true;
    bool m_chains = true;
    bool m_rams = false;  // a RAM with a registered port A output (port B's now and then)
    // When set, the RAM's data width in bits, whether port B's output is
    // registered (0 or 1), and how many atoms make up the logical RAM "m0"
    // (more than one are named "m0|a<k>", each with inputs of its own).
    int m_ram_width = 0;
    int m_ram_port_b_registered = -1;
    int m_ram_atoms = 1;
    bool m_dsps = false;  // a DSP slice: multipliers into an output block, with packed registers
    // When set, every register takes exactly these controls instead of
    // random ones: bit 1 a clock enable, bit 2 a synchronous clear, bits 3
    // and 4 a synchronous load with its data.
    int m_register_controls = -1;
    SEQ_CONTROL_STYLE m_control_style = SEQ_CONTROL_STYLE::DRIVEN;
    // When set, the DSP output block's register uses this clock slot (with
    // the enable of that slot) and this clear slot, each slot's terms on
    // signals of their own.
    int m_dsp_out_clock_slot = -1;
    int m_dsp_out_clear_slot = -1;
};

// The netlist owns its name manager. Input pins "i<k>", "clk" and "rst";
// output pins "o<k>"; registers "r<k>", cells "c<k>", RAM "m0", DSP slice
// multipliers "d0_m<k>" and output block "d0_o".
// A RAM's data outputs are "<ram>_a<k>" and "<ram>_b<k>".
std::unique_ptr<CDB_ATOM_NETLIST> seq_generate(const SEQ_GEN_OPTIONS& options, uint64_t seed);

// The first atom with that instance name; null when none.
CDB_ATOM_NODE* seq_find(const CDB_ATOM_NETLIST& netlist, const std::string& name);

// An output the cell uses (with fanout) that changes when an unconnected
// LUT input of the cell changes: the name of the first such cell and port,
// empty when none.
std::string seq_find_unconnected_dependence(const CDB_ATOM_NETLIST& netlist);
