#pragma once
// The behaviour of a RAM or DSP block as a small network of gates and
// registers: the one description the cycle simulator evaluates and the BLIF
// writer writes, so that the two cannot disagree.
//
// RAM: port A writes its data word (DB_RAM_PORTA_DATAIN) at its address
// when its write enable is set, on port A's clock and enable; a RAM without
// a write enable never writes. Port A's data output reads the word at its
// address; port B's reads at its address, registered on port B's clock
// when the RAM has one, so that a word written on the same edge reads new;
// with port B's read-old-data flag the word read is registered instead,
// and such a word reads old. A port with the registered-output flag puts one
// register per bit behind its data output, with the port's clock, clear and
// enable. Contents and every register start at 0.
//
// A RAM slice with contents and no write enable (a logic-to-RAM slice)
// reads them, from the memory-initialisation file its reconfiguration
// information names (a faulty file throws, naming atom, file and line) or
// else its own, through one register on port A's clock, enabled by
// DB_RAM_CLK0_ENA (else port A's enable), cleared by port A's clear under
// the RAM clear rule; it powers up at 0.
//
// DSP: data inputs read through their pins (an inversion sits in front of
// a packed input register), then the input and pipeline registers of the
// port, then the function (MAC_MULT: the unsigned product of A and B;
// MAC_OUT: the sum of its data inputs the mode uses), then the output
// register, then the programmable output inversion. Widths are the ports'.

#include <stdexcept>
#include <string>
#include <vector>

class CDB_ATOM_NODE;
class CDB_ATOM_ITERM;
class CDB_ATOM_OTERM;

enum CUT_GATE_OP : int
{
    CUT_GATE_INPUT,  // an input term of the block (or its floating value)
    CUT_GATE_CONST,
    CUT_GATE_STATE,  // the present value of register `value`
    CUT_GATE_NOT,
    CUT_GATE_AND,
    CUT_GATE_XOR,  // of two or three operands
    CUT_GATE_MAJ,
    CUT_GATE_MUX,  // a ? c : b
};

struct CUT_GATE
{
    int op = CUT_GATE_CONST;
    int a = -1;  // operand gates; -1 reads 0
    int b = -1;
    int c = -1;
    const CDB_ATOM_ITERM* term = nullptr;  // INPUT; null: the port is absent
    unsigned value = 0;                    // INPUT: floating value; CONST: the constant; STATE: register index
};

// A register of the block under the register rule. `clr` is in a
// register's own polarity (it acts at 0): a RAM clear arrives inverted.
struct CUT_BLOCK_REGISTER
{
    int d = -1;
    int ena = -1;
    int clr = -1;
    const CDB_ATOM_ITERM* clock = nullptr;  // null: never clocked, keeps 0
};

struct CUT_BLOCK_OUTPUT
{
    const CDB_ATOM_OTERM* term = nullptr;
    int gate = -1;
};

// A read of constant entries (a ROM slice's column): gate `gate` is entry a
// for address a, address bit k being gate address[k]. The gates from
// `first_gate` up to it compute it and nothing else reads them, so that a
// writer may put the table in their place.
struct CUT_BLOCK_TABLE
{
    int gate = -1;
    int first_gate = -1;
    std::vector<int> address;
    std::vector<bool> entries;  // 2^(address bits) of them
};

struct CUT_BLOCK_FUNCTION
{
    std::vector<CUT_GATE> gates;  // operands come before the gates reading them
    std::vector<CUT_BLOCK_REGISTER> registers;
    std::vector<CUT_BLOCK_OUTPUT> outputs;
    std::vector<CUT_BLOCK_TABLE> tables;
};

class CUT_BLOCK_ERROR : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

// Deepest RAM modelled: address bits per port. A loaded RAM without a
// write port is a table, modelled up to the deepest block a device has.
constexpr int CUT_BLOCK_MAX_RAM_ADDRESS_BITS = 8;
constexpr int CUT_BLOCK_MAX_ROM_ADDRESS_BITS = 13;

// Throws CUT_BLOCK_ERROR naming the atom for a DSP mode other than 0, 3, 5
// and 7, a RAM deeper than the limit, and an output with fanout that has no
// function (scan and observable outputs). Without contents a loaded RAM
// reads 0 everywhere, and its memory-initialisation file is not opened.
CUT_BLOCK_FUNCTION cut_block_function(const CDB_ATOM_NODE* node, bool contents = true);

// Why the function above cannot stand for the block: its error, or an input
// connected to a source that the function does not read (a data port its
// DSP mode leaves out, a bit beyond a port's set width, a RAM port the
// function has no use for); empty when it can. A clock, enable or clear
// that no register of the block uses changes nothing and may be connected.
std::string cut_block_unmodelled(const CDB_ATOM_NODE* node);

// A gate's value from its operands' (absent operands pass 0).
unsigned cut_gate_value(int op, unsigned a, unsigned b, unsigned c);
// A block register's next state: the register rule, its clear acting first.
unsigned cut_block_register_next(unsigned d, unsigned ena, unsigned clr, unsigned q);
