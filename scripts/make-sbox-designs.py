#!/usr/bin/env python3
"""Writes designs/sbox_rom_k6.blif and designs/sbox_rom_k4.blif: four AES
S-boxes, each reading its input xored with 0x00, 0x1B, 0x5A or 0xC3 from 8
address registers and feeding 8 output registers. designs/sbox_rom_shared_k6.blif
holds the same four S-boxes reading one set of 8 address registers, so that
every address bit feeds all four and only one S-box fits a RAM block. Every output bit is a
tree of LUTs over the address bits a0..a7: in the 6-input design four
cofactors over a0..a5 and a mux LUT on a6, a7; in the 4-input design
sixteen cofactors over a0..a3 and a tree of 2:1 muxes on a4..a7.
Usage: make-sbox-designs.py [repository root]"""
import os
import sys

XORS = (0x00, 0x1B, 0x5A, 0xC3)


def gf_mul(a, b):
    p = 0
    while b:
        if b & 1:
            p ^= a
        a = ((a << 1) ^ 0x11B) if a & 0x80 else (a << 1)
        b >>= 1
    return p


def sbox_table():
    table = []
    for x in range(256):
        inv = 0 if x == 0 else next(y for y in range(1, 256) if gf_mul(x, y) == 1)
        s = inv
        for shift in range(1, 5):
            s ^= ((inv << shift) | (inv >> (8 - shift))) & 0xFF
        table.append(s ^ 0x63)
    return table


def names(out, inputs, rows):
    """A .names cover of the rows (input values, first input lowest) that give 1."""
    lines = [".names " + " ".join(inputs + [out])]
    for row in rows:
        lines.append("".join(str((row >> k) & 1) for k in range(len(inputs))) + " 1")
    return lines


def cofactor(s, bit, fixed, low_bits, values):
    """The output bit as a function of the low address bits with the high ones fixed."""
    return [r for r in range(1 << low_bits) if (values[(fixed << low_bits) | r] >> bit) & 1]


def bit_k6(s, bit, values, shared=False):
    addr = [("a%d" % k) if shared else ("s%d_a%d" % (s, k)) for k in range(8)]
    lines, cofactors = [], []
    for m in range(4):
        c = "s%d_b%d_c%d" % (s, bit, m)
        lines += names(c, addr[:6], cofactor(s, bit, m, 6, values))
        cofactors.append(c)
    # Mux LUT: inputs c0..c3, a6, a7; picks c[a7 a6].
    mux_rows = [r for r in range(64) if (r >> ((r >> 4) & 3)) & 1]
    lines += names("s%d_f%d" % (s, bit), cofactors + addr[6:], mux_rows)
    return lines


def bit_k4(s, bit, values):
    addr = ["s%d_a%d" % (s, k) for k in range(8)]
    lines, level = [], []
    for m in range(16):
        c = "s%d_b%d_c%d" % (s, bit, m)
        lines += names(c, addr[:4], cofactor(s, bit, m, 4, values))
        level.append(c)
    depth = 0
    while len(level) > 1:
        sel, nxt = addr[4 + depth], []
        for k in range(0, len(level), 2):
            out = ("s%d_f%d" % (s, bit)) if len(level) == 2 else ("s%d_b%d_m%d_%d" % (s, bit, depth, k // 2))
            # Inputs x0, x1, sel: sel ? x1 : x0.
            lines += names(out, [level[k], level[k + 1], sel], [r for r in range(8) if (r >> ((r >> 2) & 1)) & 1])
            nxt.append(out)
        level, depth = nxt, depth + 1
    return lines


def design(name, bit_lines, shared=False):
    table = sbox_table()
    inputs = ["clk"] + ["i%d" % k for k in range(8)]
    outputs = ["o%d_%d" % (s, j) for s in range(4) for j in range(8)]
    if shared:
        head = ["# Four AES S-boxes reading one set of 8 address registers, 8 output",
                "# registers each; S-box s reads the address xored with 0x%02X, 0x%02X," % XORS[:2],
                "# 0x%02X, 0x%02X (s = 0..3)." % XORS[2:]]
    else:
        head = ["# Four AES S-boxes between 8 address and 8 output registers each; S-box s",
                "# reads its input xored with 0x%02X, 0x%02X, 0x%02X, 0x%02X (s = 0..3)." % XORS]
    lines = head + ["# Written by scripts/make-sbox-designs.py.",
                    ".model " + name, ".inputs " + " ".join(inputs), ".outputs " + " ".join(outputs)]
    if shared:
        lines += [".latch i%d a%d re clk 0" % (k, k) for k in range(8)]
    for s, xor in enumerate(XORS):
        values = [table[a ^ xor] for a in range(256)]
        if not shared:
            lines += [".latch i%d s%d_a%d re clk 0" % (k, s, k) for k in range(8)]
        for bit in range(8):
            lines += bit_lines(s, bit, values, shared) if shared else bit_lines(s, bit, values)
            lines.append(".latch s%d_f%d o%d_%d re clk 0" % (s, bit, s, bit))
    lines.append(".end")
    return "\n".join(lines) + "\n"


def main():
    root = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "..")
    for name, bit_lines, shared in (("sbox_rom_k6", bit_k6, False), ("sbox_rom_k4", bit_k4, False),
                                    ("sbox_rom_shared_k6", bit_k6, True)):
        with open(os.path.join(root, "designs", name + ".blif"), "w") as f:
            f.write(design(name, bit_lines, shared))


if __name__ == "__main__":
    main()
