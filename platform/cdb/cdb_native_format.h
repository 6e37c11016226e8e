#pragma once
// The native text form of an atom netlist: every atom, type, name, term and
// term property, mask, bit, mode, location and assignment. Writing a netlist
// read from this form gives the same bytes.
//
//   morv-atom-netlist 1
//   family <code>
//   root "<root name>"
//   name <k> <flags hex> "<short path>"          names in first-use order
//   node <id> <family> <type> <name k|->         then its properties:
//     bits <hex>  mode <n>  loc <x> <y> <s> <s2>  asgn <7 ints> <3 bools>
//     mask <inputs> <hex>  aux <hex>  latch <7 ints>  param <key> <port> <value>
//     in <slot> <usages,...> <index> <literal> <property word hex> <dc index>
//     out <slot> <usage> <index> <host index> <name k|->
//   fanout <node id> <out slot> : <node id>.<in slot> ...   fanout lists, in order
//   end
//
// Strings are double-quoted with \\, \" and \n escaped. Lines may end in
// CR LF and the text may begin with a UTF-8 byte-order mark. Errors name
// the file and line ("file:line: message").
//
// Atom ids stay near the atom count (tables by id run from 0 to the
// largest): at most 64 per node line, any id up to 2^20, or any id the
// reading process has handed out already. Every combinational and UVO
// logic cell has exactly one mask line, over as many inputs as its LUT has
// and with no bit beyond their rows; the MRL adder may have one, a cell
// that is no LUT has none.
//
// A file handed in from outside also holds only what each kind of atom can
// hold (cdb_native_checks.h): slots 0 to 65534, the port types the kind
// has, one term per port type and index, index 0 on the ports of logic
// cells, registers, adders, clock buffers and pins, the bits and register
// slots of a RAM or DSP block, atoms of the file's family, a comb-out on
// every combinational cell outside a carry chain, carry and share outputs
// that lead only along their chain, no combinational loop of logic cells,
// blocks whose function the system models and reads every connected data
// input of (cut_block_function.h), pads that feed nothing, no connected
// register cascade, a name of its own on every pin, and locked-region
// corners that are all -1 (no region) or satisfy 0 <= X1 <= X2 and
// 0 <= Y1 <= Y2. An atom written without a name ("-") gets a new one of
// its own, as the system names every atom.

#include <functional>
#include <iosfwd>
#include <string>
#include <string_view>

class CDB_ATOM_NETLIST;
class CDB_ATOM_NODE;
class HDB_NAME_MGR;

// The first word of the form's first line.
constexpr const char* CDB_NATIVE_FORMAT_WORD = "morv-atom-netlist";

// Writes the netlist. Names need not come from one manager.
void cdb_write_native_netlist(const CDB_ATOM_NETLIST& netlist, std::ostream& out);
bool cdb_write_native_netlist_file(const CDB_ATOM_NETLIST& netlist, const std::string& path, std::string* error);

// Reads a netlist; names are found or created in mgr (null: the new netlist
// gets a manager of its own). Node ids are those of the file; the process's
// next id moves past them. On error answers null with "file:line: message"
// in *error and leaves nothing behind (names created on the way stay in mgr).
// A snapshot the process saved itself (own_snapshot) comes back as it was
// in memory, LUT cells without a proper mask included: the mask checks are
// for files handed in from outside.
CDB_ATOM_NETLIST* cdb_read_native_netlist(std::istream& in, const std::string& file_name, HDB_NAME_MGR* mgr,
                                          std::string* error, bool own_snapshot = false);
CDB_ATOM_NETLIST* cdb_read_native_netlist_text(std::string_view text, const std::string& file_name, HDB_NAME_MGR* mgr,
                                               std::string* error, bool own_snapshot = false);
// The same from a text handed over a line at a time (split at '\n'), so
// that the whole text need not be held: next gives the following line,
// valid until its next call, and false after the last.
class CDB_NATIVE_LINES
{
public:
    virtual ~CDB_NATIVE_LINES() = default;
    virtual bool next(std::string_view& line) = 0;
};
CDB_ATOM_NETLIST* cdb_read_native_netlist_lines(CDB_NATIVE_LINES& lines, const std::string& file_name,
                                                HDB_NAME_MGR* mgr, std::string* error, bool own_snapshot = false);
// What the device the file is compiled for makes of an atom's assignments
// (its asgn line just read): empty when they fit, else what is wrong, which
// the reader puts after the file and line.
using CDB_NATIVE_ASSIGNMENT_CHECK = std::function<std::string(const CDB_ATOM_NODE& atom)>;
CDB_ATOM_NETLIST* cdb_read_native_netlist_file(const std::string& path, HDB_NAME_MGR* mgr, std::string* error,
                                               const CDB_NATIVE_ASSIGNMENT_CHECK& check_assignments = nullptr);
