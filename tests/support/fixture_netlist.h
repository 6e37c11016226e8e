// The shared netlist builder of the change-log, duplication, RAM-mapping and
// tool-link tests: named constructs of the brennock and morlin families
// built the way the host's synthesis leaves them, on the same atoms as the
// Retiming 1 generator (seq_gen.h), so that the cycle simulator and the
// sequential harness check them. Input and output cells carry the names the
// BLIF writer gives the design's ports.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "cdb/cdb_atom_netlist.h"

class BPM_BOUNDARY_PORT_MANAGER;

class FIXTURE_NETLIST
{
public:
    explicit FIXTURE_NETLIST(int family);

    int family() const { return m_family; }
    CDB_ATOM_NETLIST& netlist() { return *m_netlist; }
    std::unique_ptr<CDB_ATOM_NETLIST> release() { return std::move(m_netlist); }

    // An input cell: the design's input port `name`.
    CDB_ATOM_OTERM* input(const std::string& name);
    // An output cell fed by `driver`, read through its inversion bit when asked.
    CDB_ATOM_NODE* output(const std::string& name, CDB_ATOM_OTERM* driver, bool invert = false);
    // A combinational cell computing `truth` of its inputs (first input is
    // row bit 0) in the family's own mask bit order.
    CDB_ATOM_OTERM* lut(const std::string& name, const std::vector<CDB_ATOM_OTERM*>& inputs, uint64_t truth);
    // A combinational cell whose only input is tied to a constant: drives it.
    CDB_ATOM_OTERM* constant(const std::string& name, bool value);
    // Ties a term to GND, or to VCC as GND read through the inversion bit.
    static void tie(CDB_ATOM_ITERM* term, bool value);
    // A register; enable and clear are optional.
    CDB_ATOM_OTERM* reg(const std::string& name, CDB_ATOM_OTERM* d, CDB_ATOM_OTERM* clock,
                        CDB_ATOM_OTERM* enable = nullptr, CDB_ATOM_OTERM* clear = nullptr);
    // A latch made of a LUT: data on A, enable on D, its output fed back on C.
    CDB_ATOM_OTERM* latch(const std::string& name, CDB_ATOM_OTERM* d, CDB_ATOM_OTERM* enable);
    // A clock buffer driving a global clock.
    CDB_ATOM_OTERM* clock_buffer(const std::string& name, CDB_ATOM_OTERM* clock);
    // a + b over equal widths: brennock arithmetic cells on a carry chain,
    // morlin high-speed adders of two bits each (with an odd width the last
    // adder's upper sum is the carry out). Sum bits, then the carry out.
    std::vector<CDB_ATOM_OTERM*> adder(const std::string& name, const std::vector<CDB_ATOM_OTERM*>& a,
                                       const std::vector<CDB_ATOM_OTERM*>& b);
    // Puts a node into a partition (the host's partition id).
    static void set_partition(CDB_ATOM_NODE* node, int partition_id);
    // Locks a node into the grid rectangle (x1, y1)..(x2, y2) of LABs.
    static void lock_to_region(CDB_ATOM_NODE* node, int x1, int y1, int x2, int y2);
    // A signal that leaves partition `partition` as the boundary port
    // `port`: a wire cell of that partition whose output carries the port.
    // Ports live in the design's boundary-port manager, which exists only
    // once the netlist is handed to a design: bind_boundary_ports.
    CDB_ATOM_OTERM* boundary_port(const std::string& port, CDB_ATOM_OTERM* signal, int partition);
    // Binds and assigns every port made so far to its wire's output, and
    // assigns it to each input term that output feeds by now (the far side
    // of the boundary). False when the manager refuses one.
    bool bind_boundary_ports(BPM_BOUNDARY_PORT_MANAGER& bpm) const;

private:
    CDB_ATOM_NODE* add(int kind, const std::string& name);
    CDB_ATOM_OTERM* named_output(CDB_ATOM_NODE* node, int port);
    void brk_adder_bit(CDB_ATOM_NODE* cell);

    struct PORT
    {
        std::string name;
        CDB_ATOM_OTERM* oterm;
    };

    int m_family;
    std::unique_ptr<CDB_ATOM_NETLIST> m_netlist;
    std::vector<PORT> m_ports;
};
