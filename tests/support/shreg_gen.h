// RAM-based shift registers of the OBRAN family as a counter and a RAM
// make them: the counter registers give the write address, cells of the
// counter's bits the read address `offset` states ahead, and the RAM's
// registered port B output the data written `length` cycles before (with
// offset 0 on a RAM that reads the old word, `length` + 2).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class CDB_ATOM_NETLIST;

// Text pieces (strings, literals, numbers) appended in order: GCC 12 at -O3
// misreads a literal added to a temporary string (-Wrestrict).
inline void shreg_append(std::string& out, const std::string& part)
{
    out += part;
}
inline void shreg_append(std::string& out, const char* part)
{
    out += part;
}
inline void shreg_append(std::string& out, int part)
{
    out += std::to_string(part);
}
template <typename... PARTS>
std::string shreg_text(const PARTS&... parts)
{
    std::string out;
    (shreg_append(out, parts), ...);
    return out;
}

struct SHREG_LAYOUT
{
    std::string m_name = "s";  // prefix of every atom of the shift register
    int m_length = 7;
    int m_offset = 2;       // 2 or 0
    int m_rams = 1;         // RAMs sharing the counter
    int m_clear_phase = 0;  // states the write address steps through with the RAM clear on (0: none)
    int m_cycle = 0;        // with a clear phase: states of the cycle after it (0: one more than the phase)
    // The clear phase timed by a counter of its own instead: the address
    // counter runs through m_length from power-up, and a saturating
    // carry-chain counter holds the RAM's output clear on for the first
    // m_length - 1 states (m_clear_phase stays 0).
    bool m_clear_counter = false;
    bool m_outside_bit = false;  // counter bit 0 also read by an output pin
    // Write data of the RAMs: "d" an input pin, "gnd"/"vcc" a physical tie,
    // "!gnd"/"!vcc" the tie read through the inversion bit, "!d" the input
    // read inverted.
    std::string m_data = "d";
    // Asynchronous clear of the counter registers: "" none, "vcc" or "gnd" tied.
    std::string m_register_clear;
    bool m_port_a_we = true;  // tied high; false: absent
    bool m_port_b_re = true;
    bool m_port_a_re = false;  // tied high when set
    bool m_port_b_we = false;
    bool m_port_b_registered = true;
    bool m_read_old_data = false;  // port B reads the old word of a slot written in the same cycle
    bool m_port_a_registered = false;
    // Cells between a register on the write data and the RAM, and between
    // the read data and a register, so that timing finds the RAM critical.
    int m_logic = 0;
};

// One netlist holding every listed shift register, with a shared clock
// "clk"; the write data pins are "<name>_d<k>", the read data pins
// "<name>_q<k>", the RAMs "<name>_ram<k>", the counter registers
// "<name>_c<bit>".
std::unique_ptr<CDB_ATOM_NETLIST> shreg_generate(const std::vector<SHREG_LAYOUT>& layouts);

// The addresses the generated counter gives, state by state from power-up:
// the write address, and the read address of the same state.
struct SHREG_ADDRESSES
{
    std::vector<unsigned> write;
    std::vector<unsigned> read;
};
SHREG_ADDRESSES shreg_expected_addresses(const SHREG_LAYOUT& layout, int states);

// The shift registers of the sample design designs/shift_ram_obran.txt:
// lengths 4, 7 and 10, a clear phase of either form, two RAMs on one
// counter, a counter bit also read by an output pin, and a RAM read at the
// slot being written (offset 0) that returns the old word.
std::vector<SHREG_LAYOUT> shreg_sample_layouts();
// A netlist in the native text form with its atom ids numbered from 1 in
// file order (ids come from the process's counter, the design does not).
std::string shreg_native_text(const CDB_ATOM_NETLIST& netlist);
