#pragma once
// Utilities for I/O, clock-buffer and logic-cell atoms.

#include "cdb/cdb_types.h"

class CDB_ATOM_NETLIST;
class CDB_ATOM_NODE;
class CDB_ATOM_OTERM;
class HDB_INSTANCE_NAME;

class CUT_ATOM_IO
{
public:
    // The pad atom behind an I/O buffer: the I/O atom driving one of its
    // inputs, else the I/O atom one of its outputs drives; an I/O atom with
    // neither is its own pad. Null for a non-I/O atom. The flag is the
    // callers' (who pass true) and changes nothing.
    static CDB_ATOM_NODE* get_pad_from_buffer(const CDB_ATOM_NODE* buffer, bool follow = true);
};

// Clock types of clock buffers (CDB_PARAM_CLOCK_TYPE); the numbers are the host's.
enum CUT_CLOCK_TYPE : int
{
    CUT_CLOCK_TYPE_GLOBAL = 0,
    CUT_CLOCK_TYPE_REGIONAL = 1,
    CUT_CLOCK_TYPE_PERIPHERY = 2,
    CUT_CLOCK_TYPE_AUTO = 3,
    CUT_CLOCK_TYPE_DEDICATED = 4,
    CUT_CLOCK_TYPE_NONE = 5,
};

class CUT_CLKBUF_UTIL
{
public:
    // Global (0) unless set; -1 for a non-buffer.
    static int get_clock_type(const CDB_ATOM_NODE* clkbuf);
    static void set_clock_type(CDB_ATOM_NODE* clkbuf, int clock_type);
    // A clock buffer that only passes its clock: no connected enable.
    static bool is_pure_clkbuf(const CDB_ATOM_NODE* node);
    // A clock buffer of the family with that clock type, appended to the
    // netlist when one is given; no terms (the caller adds them). Null when
    // the family has no clock buffer. The segment is accepted and ignored.
    static CDB_ATOM_NODE* create_clkbuf_atom(CDB_ATOM_NETLIST* netlist, int clock_type, int family,
                                             HDB_INSTANCE_NAME* name = nullptr);
    static CDB_ATOM_NODE* create_clkbuf_atom(MEM_SEGMENT* segment, CDB_ATOM_NETLIST* netlist, int clock_type,
                                             int family, HDB_INSTANCE_NAME* name = nullptr);
};

class CUT_LCELL_UTIL
{
public:
    // True when the output is the combinational output of a logic cell and
    // reads 0 for every value of the cell's driven inputs, with constant
    // inputs at their logical value and absent ones at their floating value.
    static bool oterm_is_comb_gnd(const CDB_ATOM_OTERM* oterm);
    // A combinational cell of the family with an all-zero mask and a
    // DB_COMB_OUT output named name; appended to netlist when one is given.
    static CDB_ATOM_NODE* create_gnd_lcell_atom(MEM_SEGMENT* segment, int family, HDB_INSTANCE_NAME* name,
                                                CDB_ATOM_NETLIST* netlist = nullptr);
};

class CUT_VIRTUAL_IO_UTIL
{
public:
    static bool is_virtual_io(const CDB_ATOM_NODE* node);
    // The input port through which a virtual I/O cell reads its pad: the
    // first data input (DB_DATA_A .. DB_DATA_G, then DB_DATAIN) it has;
    // DB_MAX_INPUT_PORT_TYPE for another atom or one without data inputs.
    static int get_pad_iport_for_vio(const CDB_ATOM_NODE* node);
};
