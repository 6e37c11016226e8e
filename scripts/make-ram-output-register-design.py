#!/usr/bin/env python3
"""Writes designs/ram_outreg_obran.txt (native text form, OBRAN): a logical
RAM "mem" of two 8 x 1 RAM atoms, mem|bit0 and mem|bit1, written through
port A (address wa0..wa2, data d0 and d1) and read through port B (address
ra0..ra2), both ports with their output register in the block. Each read
bit q0, q1 passes three buffer LUTs; the two buffered bits meet in an
exclusive or, which passes one more buffer to the output pin y. The read
path is the design's longest and holds its only registers, those inside
the RAMs: retiming can shorten it only by taking them out of the blocks
and moving them forward. Every LUT gives 0 for all-zero inputs, so that
registers moved across them keep their all-zero power-up state.

  make-ram-output-register-design.py [OUT.txt]
"""
import os
import sys

FAMILY = 42  # OBRAN
IO, LUT, RAM = 203, 186, 202
# Input port types.
DATAIN, DATA_A, DATA_B = 18, 11, 12
RAM_CLK0, RAM_CLK1, RAM_DATAIN, RAM_WE, RAM_RE, RAM_ADDR_A, RAM_ADDR_B = 32, 33, 78, 85, 98, 104, 105
# Output port types.
DATA_OUT, COMB_OUT, RAM_B_DATAOUT, PIN_OUT = 2, 8, 41, 4000
# Term states and the RAM mode flag of a registered data output.
DRIVEN, VCC = 1, 3
RAM_MODE_KEY, OUTPUT_REGISTERED = 1, 1 << 9
ADDRESS_BITS = 3
BUFFERS = 3
# A 6-input LUT's mask with the output for input row i at bit 63 - i.
MASK_BUFFER_A = "5555555555555555"
MASK_XOR_AB = "6666666666666666"


class NETLIST:
    def __init__(self):
        self.names = []
        self.nodes = []  # (id, type, name index, property lines)
        self.fanouts = {}  # (node id, out slot) -> ["node.slot", ...]

    def name(self, text):
        self.names.append(text)
        return len(self.names) - 1

    def node(self, kind, name):
        node_id = len(self.nodes) + 1
        self.nodes.append((node_id, kind, self.name(name), []))
        return node_id

    def lines(self, node_id):
        return self.nodes[node_id - 1][3]

    def out(self, node_id, usage, name=None):
        props = self.lines(node_id)
        slot = sum(1 for p in props if p.startswith("  out"))
        ref = self.nodes[node_id - 1][2] if name is None else self.name(name)
        props.append("  out %d %d 0 -1 %d" % (slot, usage, ref))
        return (node_id, slot)

    def inp(self, node_id, usage, source=None, index=0, state=DRIVEN):
        props = self.lines(node_id)
        slot = sum(1 for p in props if p.startswith("  in "))
        props.append("  in %d %d %d 0 %x -1" % (slot, usage, index, state | (index << 10)))
        if source is not None:
            self.fanouts.setdefault(source, []).append("%d.%d" % (node_id, slot))

    def text(self):
        out = ["morv-atom-netlist 1", "family %d" % FAMILY, 'root "top"']
        out += ['name %d 0 "%s"' % (k, n) for k, n in enumerate(self.names)]
        for node_id, kind, name, props in self.nodes:
            out.append("node %d %d %d %d" % (node_id, FAMILY, kind, name))
            out += props
        for (node_id, slot), sinks in sorted(self.fanouts.items()):
            out.append("fanout %d %d : %s" % (node_id, slot, " ".join(sinks)))
        out.append("end")
        return "\n".join(out) + "\n"


def build():
    n = NETLIST()

    def pin_in(name):
        return n.out(n.node(IO, name), DATA_OUT)

    def lut(name, mask, sources):
        cell = n.node(LUT, name)
        n.lines(cell).append("  mask 6 " + mask)
        for usage, source in zip((DATA_A, DATA_B), sources):
            n.inp(cell, usage, source)
        return n.out(cell, COMB_OUT)

    clk = pin_in("clk")
    wa = [pin_in("wa%d" % k) for k in range(ADDRESS_BITS)]
    ra = [pin_in("ra%d" % k) for k in range(ADDRESS_BITS)]
    buffered = []
    for bit in range(2):
        d = pin_in("d%d" % bit)
        ram = n.node(RAM, "mem|bit%d" % bit)
        for port in (0, 1):
            n.lines(ram).append("  param %d %d %d" % (RAM_MODE_KEY, port, OUTPUT_REGISTERED))
        for k in range(ADDRESS_BITS):
            n.inp(ram, RAM_ADDR_A, wa[k], index=k)
            n.inp(ram, RAM_ADDR_B, ra[k], index=k)
        n.inp(ram, RAM_DATAIN, d)
        n.inp(ram, RAM_WE, state=VCC)
        n.inp(ram, RAM_RE, state=VCC)
        n.inp(ram, RAM_CLK0, clk)
        n.inp(ram, RAM_CLK1, clk)
        q = n.out(ram, RAM_B_DATAOUT, "q%d" % bit)
        for k in range(BUFFERS):
            q = lut("q%d_buf%d" % (bit, k), MASK_BUFFER_A, [q])
        buffered.append(q)
    x = lut("x", MASK_XOR_AB, buffered)
    x = lut("x_buf", MASK_BUFFER_A, [x])
    pin = n.node(IO, "y~output")
    n.inp(pin, DATAIN, x)
    n.out(pin, PIN_OUT)
    return n.text()


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(os.path.abspath(__file__)), "..",
                                                              "designs", "ram_outreg_obran.txt")
    with open(out, "w") as f:
        f.write(build())


if __name__ == "__main__":
    main()
