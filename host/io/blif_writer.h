// Atom netlist -> BLIF that Berkeley ABC reads (cec / dsec).
//
// - Input pins become `.inputs`, output pins `.outputs`, both under their
//   port names (output pins "<port>~output" as the reader names them), so
//   that equivalence checkers match ports by name.
// - Every used output of a logic cell becomes a `.names` cover of the
//   connected inputs that the function depends on, computed with the cell's
//   own evaluation (family bit order, extended mode, arithmetic outputs).
//   Constant functions are written without inputs.
// - A register becomes `.latch NEXT Q re CLK 0` (`fe` for an inverted
//   clock); its clock enable, synchronous clear/load and asynchronous
//   clear/load are lowered into a next-state cover. Asynchronous controls are
//   approximated as synchronous ones of higher priority, since BLIF latches
//   have no asynchronous inputs. A register without a clock keeps its
//   power-up value and is written as constant 0. Every initial value is 0.
// - Inversion bits and port polarity of input terms are folded into the
//   covers; unconnected inputs take their floating value.
// Net names come from output-term names (else node names), made unique with
// "~<n>" and cleaned of blanks, '#' and '\'.
// - RAM and DSP blocks are written from their block function
//   (cut_block_function.h): a RAM as a latch array with its write and read
//   logic, a DSP block as product and adder covers with its packed
//   registers as latches. A ROM slice's read is the shortest of one cover
//   of its column over the address nets and trees of smaller covers (covers
//   of the low address bits selected by a cover of the high ones).
//   What the function cannot express (DSP modes other
//   than 0, 3, 5, 7) is an error (BLIF_ERROR without a line).
#pragma once

#include <iosfwd>
#include <string>

class CDB_ATOM_NETLIST;
class FIO_REPLACING_FILE;

void blif_write_netlist(const CDB_ATOM_NETLIST& netlist, std::ostream& out, const std::string& model_name = "top");
// Throws the BLIF_ERROR, naming `label`, that writing the netlist would for
// its pins: a port name given twice, or an input's and an output's that the
// input does not drive. No compile renames a pin, so a design read is
// checked at once instead of after its compile.
void blif_check_port_names(const CDB_ATOM_NETLIST& netlist, const std::string& label);
// Throws BLIF_ERROR when the file cannot be written. The text goes to a
// temporary file renamed over `path` once complete, so a failed write never
// leaves a partial file or truncates an older one.
void blif_write_netlist_file(const CDB_ATOM_NETLIST& netlist, const std::string& path,
                             const std::string& model_name = "top");
// The same into a file opened earlier (before a long compile, so that an
// unwritable target is found first); the caller commits it, once every
// output of the run is complete.
void blif_write_netlist_file(const CDB_ATOM_NETLIST& netlist, FIO_REPLACING_FILE& file,
                             const std::string& model_name = "top");
