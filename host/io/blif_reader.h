// BLIF -> atom netlist of one device family.
//
//   .inputs / .outputs   input and output pin atoms; an output pin is named
//                        "<port>~output" because the port's net keeps the
//                        port name on its driver (blif_output_port_name
//                        recovers the port); it reads its net on DB_DATAIN
//                        and carries its pad term (DB_PAD_OUT, no fanout)
//   .names               a combinational logic cell of the family (its comb
//                        atom type; UVO: its logic cell), LUT mask in the
//                        family's bit order, independent of unused inputs
//   .latch D Q re C I    a register of the family: D on its data input, C on
//                        its clock (without "re C", or with C = NIL, the
//                        design's one clock or the --clock net); I = 1 becomes inverter, register,
//                        inverter since registers power up to 0; with
//                        set_pack_registers a UVO register joins the
//                        logic cell computing D (no data input of its own);
//                        with set_fold_register_controls the enable,
//                        synchronous clear and load written as logic in
//                        front of it become the register's own controls
//                        (blif_register_controls.h)
//
// Names read from the file carry HDB_INAME_FLAG_FROM_NETLIST. Undriven nets
// are tied to logical 0 with one warning ("WHOST_BLIF_UNDRIVEN_NETS"), shown
// even in quiet mode since the design read is then a guess; with
// set_undriven_is_error they are an error instead.
// Every check runs before the first atom is made: an error (BLIF_ERROR,
// "FILE:LINE: ...") leaves no netlist behind.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "cdb/cdb_atom_netlist.h"
#include "io/blif_parser.h"
#include "io/blif_register_controls.h"

class BLIF_READER
{
public:
    // Base family code (6, 9, 10, 24, 34, 35, 41, 42, 47); std::invalid_argument when unknown.
    explicit BLIF_READER(int family);
    // Family name ("BRK", any case) or code as text.
    explicit BLIF_READER(const std::string& family);

    int get_family() const { return m_family; }
    int get_lut_size() const { return m_lut_size; }

    // New netlist; names are made in `names` when given, else in a manager
    // the netlist owns.
    std::unique_ptr<CDB_ATOM_NETLIST> read_file(const std::string& path, HDB_NAME_MGR* names = nullptr);
    std::unique_ptr<CDB_ATOM_NETLIST> read_text(std::string_view text, const std::string& file_label,
                                                HDB_NAME_MGR* names = nullptr);
    std::unique_ptr<CDB_ATOM_NETLIST> build(const BLIF_MODEL& model, HDB_NAME_MGR* names = nullptr);

    // Undriven nets are an error (naming the line that first reads one)
    // instead of being tied to 0.
    void set_undriven_is_error(bool is_error) { m_undriven_is_error = is_error; }

    // Where a logic cell holds a register (UVO), a register joins the cell
    // whose LUT computes its data, one register to a cell, as synthesis
    // packs them; otherwise each register has a cell of its own.
    void set_pack_registers(bool pack) { m_pack_registers = pack; }

    // Register enables, synchronous clears and loads written as logic are
    // read into the register (blif_register_controls.h). Where a logic cell
    // holds the register (UVO) they stay logic.
    void set_fold_register_controls(bool fold) { m_fold_register_controls = fold; }
    // What the last read folded.
    const BLIF_CONTROL_COUNTS& get_control_counts() const { return m_control_counts; }

    // The clock of latches the file gives none ("--clock"); empty: the
    // design's one clock.
    void set_clock_net(const std::string& net) { m_clock_net = net; }

    // Nets tied to 0 by the last read.
    size_t get_undriven_count() const { return m_undriven_count; }
    // Model name of the last read.
    const std::string& get_model_name() const { return m_model_name; }

private:
    int m_family;
    int m_lut_size;
    size_t m_undriven_count = 0;
    bool m_undriven_is_error = false;
    bool m_pack_registers = false;
    bool m_fold_register_controls = false;
    BLIF_CONTROL_COUNTS m_control_counts;
    std::string m_clock_net;
    std::string m_model_name;
};

// Suffix of output pin names, and the port name of an output pin's name
// ("y~output" and "y~output_3" give "y"; other names are returned as is).
extern const char* const BLIF_OUTPUT_PIN_SUFFIX;
std::string blif_output_port_name(std::string_view pin_name);

// The raw mask a K-input cell of the family needs so that it computes
// `truth` (canonical order, first input = row bit 0) of `inputs` inputs,
// independent of its unused inputs.
CDB_LUTMASK blif_family_lutmask(int family, int inputs, uint64_t truth);
