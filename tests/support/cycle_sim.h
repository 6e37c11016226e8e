// Cycle simulation of a whole stand-in netlist from the all-zero state, on
// the functions the BLIF writer writes: each logic cell's evaluate_output
// (every bit order, chains, extended mode, the MRL shared adder), and the
// register rule for registers and UVO packed registers, asynchronous
// controls taken as synchronous ones of higher priority as the writer does.
// RAM and DSP blocks run on their block function (cut_block_function.h),
// the one the writer writes. Every register shares the one clock of a
// cycle; inputs that only clock registers are no data inputs. What a block
// function cannot express makes the constructor throw naming the atom.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "cut/cut_block_function.h"

class CDB_ATOM_NETLIST;
class CDB_ATOM_NODE;
class CDB_ATOM_ITERM;
class CDB_ATOM_OTERM;

class CYCLE_SIM
{
public:
    explicit CYCLE_SIM(const CDB_ATOM_NETLIST& netlist);

    // Data input ports and output ports, by the names the BLIF writer gives them.
    const std::vector<std::string>& input_names() const { return m_input_names; }
    const std::vector<std::string>& output_names() const { return m_output_names; }

    void set_input(size_t i, unsigned value);
    // The output's value in the current cycle (registers at their state).
    unsigned output(size_t i);
    // Every register takes its next state; a new cycle begins.
    void clock();

    // Every register's state, the netlist's registers first, then each
    // block's: tests that walk the whole state space save and restore it.
    std::vector<unsigned> state() const;
    // Throws when `s` is not a state() of this netlist.
    void set_state(const std::vector<unsigned>& s);

private:
    // Where a read takes its value: an output's slot, else a constant.
    struct READ
    {
        int slot = -1;
        uint8_t constant = 0;
        uint8_t invert = 0;
    };
    enum class KIND : uint8_t
    {
        CONSTANT,     // an unclocked register, a pin that is no data input
        INPUT,        // a data input: `index` into m_input_value
        REGISTER,     // a register's output: `index` into m_state
        BLOCK,        // a RAM or DSP block's output: `index` block, `gate`
        NO_FUNCTION,  // a block output its function does not give
        CLKBUF,       // reads[0]
        LOGIC,        // evaluate_output on reads[0..EVALUATE_INPUT_COUNT)
    };
    // How one output's value is computed, resolved once: the netlist must
    // not change while the simulator lives.
    struct SLOT
    {
        const CDB_ATOM_OTERM* oterm = nullptr;
        KIND kind = KIND::CONSTANT;
        int index = 0;
        int gate = 0;
        size_t first_read = 0;  // into m_reads
    };
    // A register's next-state inputs: the eight control ports, then for a
    // packed register the cell's LUT inputs.
    struct REGISTER
    {
        const CDB_ATOM_NODE* node = nullptr;
        size_t first_read = 0;
    };

    int slot_of(const CDB_ATOM_OTERM* o) const;
    READ resolve(const CDB_ATOM_ITERM* t, unsigned floating) const;
    void add_slots(const CDB_ATOM_NETLIST& netlist);
    void plan_slot(SLOT& slot, const std::unordered_map<const CDB_ATOM_NODE*, int>& register_index);
    void plan_register(REGISTER& r);
    void add_lut_reads(const CDB_ATOM_NODE* node);
    unsigned value(const READ& r);
    unsigned value_of(int slot);
    unsigned compute(const SLOT& slot);
    unsigned next_state(size_t reg);
    unsigned gate_value(size_t block, int gate);
    void invalidate() { m_stale = true; }
    void refresh();

    // A RAM or DSP block: its function, register states and this cycle's gate values.
    struct BLOCK
    {
        CUT_BLOCK_FUNCTION m_function;
        std::vector<unsigned> m_state;
        std::vector<uint8_t> m_value;  // BLOCK_UNKNOWN / BLOCK_BUSY or the value
        std::vector<READ> m_reads;     // per gate: where an input gate reads
    };
    std::vector<BLOCK> m_blocks;

    std::unordered_map<const CDB_ATOM_OTERM*, int> m_slot_of;
    std::vector<SLOT> m_slots;
    std::vector<READ> m_reads;
    std::vector<uint8_t> m_value;  // per slot: this cycle's value, or unknown / busy
    bool m_stale = true;

    std::vector<READ> m_output_reads;
    std::vector<std::string> m_input_names;
    std::vector<std::string> m_output_names;
    std::vector<unsigned> m_input_value;
    std::vector<REGISTER> m_registers;
    std::vector<unsigned> m_state;  // per register
};

// First difference of two netlists run side by side on the same random
// inputs (matched by name) over `cycles` cycles.
struct COSIM_RESULT
{
    bool m_agree = true;
    int m_cycle = -1;
    std::string m_port;
    std::string m_error;  // ports that do not match, atoms that cannot be simulated
    std::string describe() const;
};
COSIM_RESULT cosimulate(const CDB_ATOM_NETLIST& a, const CDB_ATOM_NETLIST& b, int cycles, uint64_t seed);
