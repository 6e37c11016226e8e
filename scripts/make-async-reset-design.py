#!/usr/bin/env python3
"""Makes a design whose every register is cleared by one reset.

Each `.latch` of the input BLIF becomes a `$_DFF_PP0_` flip-flop on the same
clock whose reset is the output of a synchroniser: the new input `rst`
through registers named morv_rst_m (and more) and, last, morv_rst_s.

  make-async-reset-design.py in.blif out.blif [--extra-sync K]

--extra-sync K puts K more registers between the synchroniser and the
resets it drives: the reference a pipelined compile is compared with.
"""
import argparse
import os
import sys


def logical_lines(text):
    line = ""
    for raw in text.splitlines():
        raw = raw.split("#", 1)[0].rstrip()
        if raw.endswith("\\"):
            line += raw[:-1] + " "
            continue
        line += raw
        if line.strip():
            yield line.strip()
        line = ""
    if line.strip():
        yield line.strip()


def convert(text, extra, source):
    out = ["# %s with every register cleared by one synchronised reset (scripts/make-async-reset-design.py)." % source]
    clock = None
    for line in logical_lines(text):
        words = line.split()
        if words[0] == ".latch":
            if len(words) < 5:
                sys.exit("make-async-reset-design: a .latch without a clock: " + line)
            d, q, clk = words[1], words[2], words[4]
            if clock is None:
                clock = clk
            elif clk != clock:
                sys.exit("make-async-reset-design: more than one clock (%s, %s)" % (clock, clk))
            out.append(".subckt $_DFF_PP0_ C=%s D=%s Q=%s R=morv_rst_x%d" % (clk, d, q, extra))
        elif words[0] == ".end":
            continue
        else:
            out.append(line)
    if clock is None:
        sys.exit("make-async-reset-design: the design has no register")
    body = []
    inputs_done = False
    for line in out:
        body.append(line)
        if line.startswith(".inputs") and not inputs_done:
            body.append(".inputs rst")
            inputs_done = True
    chain = ["rst", "morv_rst_m", "morv_rst_s"] + ["morv_rst_x%d" % k for k in range(1, extra + 1)]
    text = "\n".join(body).replace("R=morv_rst_x%d" % extra, "R=" + chain[-1]) + "\n"
    for a, b in zip(chain, chain[1:]):
        text += ".latch %s %s re %s 0\n" % (a, b, clock)
    return text + ".end\n"


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("input")
    parser.add_argument("output")
    parser.add_argument("--extra-sync", type=int, default=0)
    args = parser.parse_args()
    if args.extra_sync < 0:
        sys.exit("make-async-reset-design: --extra-sync must be 0 or more")
    with open(args.input) as f:
        text = convert(f.read(), args.extra_sync, os.path.basename(args.input))
    with open(args.output, "w") as f:
        f.write(text)


if __name__ == "__main__":
    main()
