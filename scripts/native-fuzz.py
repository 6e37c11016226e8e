#!/usr/bin/env python3
"""Mutation fuzzing of the native netlist reader through morv-fit -O.

Every mutant is a bundled native design (designs/*.txt) or the native text
that a plain compile writes for a few BLIF designs, with one number changed
(a quarter of them on an asgn line, which a node is given first when it has
none).
Each mutant is compiled plainly and with -O in its own family. A run must
exit 0 or 1 (never 2 or by a signal), a mutant refused is refused as it is
read (the error names the mutant, not an output after the compile), and
when both runs exit 0 the -O netlist must be equivalent to the plain one
(ABC cec, or dsec for designs with registers): the plain compile is the
mutant's own reading, so a mutant that is a different but valid design is
checked against itself.

Fixed seed and bounded count; not part of the test suite.
Usage: scripts/native-fuzz.py [--count N] [--seed S] [--build DIR] [--jobs J]
                              [--family NAME ...] [--keep DIR]
"""

import argparse
import collections
import concurrent.futures
import os
import random
import re
import shutil
import subprocess
import sys
import tempfile

FAMILIES = {"BRK": 6, "ZEPLA": 9, "TEV": 10, "MRL": 24, "KESTLIN": 34, "RZK": 41, "OBRAN": 42, "UVO": 47}
BLIF_SEEDS = ["counter", "pipeline", "adder_tree", "two_clock_sync"]

# Field kinds of each line: d decimal, x hexadecimal, r name reference
# (a number or '-'), u usage list, s string, and '*' repeats the last kind.
FIELDS = {
    "family": "d",
    "name": "dxs",
    "node": "dddr",
    "bits": "x",
    "mode": "d",
    "loc": "dddd",
    "asgn": "ddddddddd",
    "mask": "dx",
    "aux": "x",
    "latch": "d*",
    "param": "ddd",
    "in": "duddxd",
    "out": "ddddr",
    "invobs": "d",
}

DECIMAL_PICKS = [0, 1, -1, 2, 3, 4, 5, 6, 7, 8, 9, 11, 12, 13, 14, 15, 16, 17, 18, 251,
                 4000, 4095, 4096, 32767, 65535, 65536, 2147483647]
HEX_PICKS = [0x0, 0x1, 0x1f, 0x3f, 0xff, 0xffff, 0x7fffffff, 0xffffffff, 0x5555, 0xffffffffffffffff]


def numeric_fields(line):
    """(start, end, kind) of every number in a line that a mutation may change."""
    words = [(m.start(), m.end(), m.group()) for m in re.finditer(r"\S+", line)]
    if not words:
        return []
    kw = words[0][2]
    found = []
    if kw == "fanout":
        for start, end, w in words[1:]:
            if w == ":":
                continue
            for m in re.finditer(r"-?\d+", w):
                found.append((start + m.start(), start + m.end(), "d"))
        return found
    kinds = FIELDS.get(kw)
    if kinds is None:
        return []
    for i, (start, end, w) in enumerate(words[1:]):
        kind = kinds[min(i, len(kinds) - 1)]
        if kind == "*":
            kind = kinds[-2]
        if kind == "u":
            for m in re.finditer(r"\d+", w):
                found.append((start + m.start(), start + m.end(), "d"))
        elif kind in "dxr" and re.fullmatch(r"-?[0-9a-fA-F]+|-", w):
            found.append((start, end, kind))
    return found


def mutate_value(old, kind, rng):
    if kind == "x":
        value = int(old, 16)
        roll = rng.random()
        if roll < 0.4:
            value ^= 1 << rng.randrange(64 if value > 0xffffffff else 32)
        elif roll < 0.8:
            value = rng.choice(HEX_PICKS)
        else:
            value = rng.randrange(1 << 32)
        return format(value, "x")
    if kind == "r" and rng.random() < 0.3:
        return "-"
    value = 0 if old == "-" else int(old)
    roll = rng.random()
    if roll < 0.3:
        value += rng.choice([-2, -1, 1, 2])
    elif roll < 0.9:
        value = rng.choice(DECIMAL_PICKS)
    else:
        value = rng.randrange(100000)
    return str(value)


# Share of mutants that change a number of an asgn line: the designs have
# few, so a node is given one (a small locked region near the origin) first.
ASGN_SHARE = 0.25


def mutate_asgn(lines, rng):
    """The lines with one number of a node's asgn line changed."""
    nodes = [k for k, line in enumerate(lines) if line.startswith("node ")]
    k = rng.choice(nodes)
    at = k + 1
    while at < len(lines) and lines[at].startswith("  ") and not lines[at].startswith("  asgn "):
        at += 1
    if not (at < len(lines) and lines[at].startswith("  asgn ")):
        x, y = rng.randrange(0, 12), rng.randrange(0, 12)
        at = k + 1
        lines.insert(at, "  asgn -1 -1 %d %d %d %d 0 0 0" % (x, y, x + rng.randrange(4), y + rng.randrange(4)))
    before = lines[at]
    while True:
        start, end, kind = rng.choice(numeric_fields(before))
        new = mutate_value(before[start:end], kind, rng)
        if new != before[start:end]:
            break
    lines[at] = before[:start] + new + before[end:]
    return "\n".join(lines), "line %d (%s): '%s' -> '%s'" % (at + 1, lines[k].strip(), before.strip(), lines[at].strip())


def mutate(text, rng):
    """The text with one number changed, and a description of the change."""
    lines = text.split("\n")
    if rng.random() < ASGN_SHARE:
        return mutate_asgn(lines, rng)
    while True:
        k = rng.randrange(1, len(lines))
        fields = numeric_fields(lines[k])
        if not fields:
            continue
        start, end, kind = rng.choice(fields)
        old = lines[k][start:end]
        new = mutate_value(old, kind, rng)
        if new == old:
            continue
        before = lines[k]
        lines[k] = before[:start] + new + before[end:]
        return "\n".join(lines), "line %d: '%s' -> '%s'" % (k + 1, before.strip(), lines[k].strip())


def run(command, cwd, limit=300):
    try:
        p = subprocess.run(command, cwd=cwd, capture_output=True, text=True, timeout=limit)
        return p.returncode, p.stdout + p.stderr
    except subprocess.TimeoutExpired:
        return "timeout", ""


def abc_verdict(a, b, cwd):
    """equivalent, refuted or undecided (with ABC's text)."""
    def check(command):
        code, out = run(["timeout", "-k", "5", "150", "berkeley-abc", "-c", command], cwd)
        if "NOT EQUIVALENT" in out or "Verification failed" in out or "was asserted" in out \
                or "Networks are not equivalent" in out:
            return "refuted", out
        if "Networks are equivalent" in out or "UNSATISFIABLE" in out:
            return "equivalent", out
        return "undecided", out

    sequential = any(".latch" in open(os.path.join(cwd, f)).read() for f in (a, b))
    if not sequential:
        return check("cec -T 120 %s %s" % (a, b))
    verdict, out = check("dsec -T 120 %s %s" % (a, b))
    if verdict != "undecided":
        return verdict, out
    if "The network has no latches" in out:
        return check("miter %s %s; dprove -T 120" % (a, b))
    return check("dsec -r -T 120 %s %s" % (a, b))


def last_error(out):
    lines = [l for l in out.splitlines() if "error" in l.lower() or "internal" in l.lower()]
    lines = lines or out.strip().splitlines() or [""]
    return lines[-1][:200]


def one_mutant(fit, family, seed_path, index, text, rng_seed, folder):
    rng = random.Random(rng_seed)
    mutant, change = mutate(text, rng)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, "mutant.txt"), "w") as f:
        f.write(mutant)
    common = [fit, "-q", "--family", family, "mutant.txt"]
    plain_rc, plain_out = run(common + ["-o", "plain.blif"], folder)
    opt_rc, opt_out = run(common + ["-O", "-o", "opt.blif"], folder)
    result = {"family": family, "seed": os.path.basename(seed_path), "index": index, "change": change,
              "plain": plain_rc, "opt": opt_rc, "folder": folder}
    bad = [rc for rc in (plain_rc, opt_rc) if rc not in (0, 1)]
    if bad:
        result["verdict"] = "exit %s" % bad[0]
        result["why"] = last_error(opt_out if opt_rc not in (0, 1) else plain_out)
    elif plain_rc == 1 and opt_rc == 1:
        # The reader names the design; a refusal that names anything else
        # came later, from the compile or a writer.
        result["why"] = last_error(opt_out)
        at_read = re.search(r"error: mutant\.txt(:\d+)?: ", opt_out) and re.search(r"error: mutant\.txt", plain_out)
        result["verdict"] = "refused" if at_read else "refused later"
    elif plain_rc != opt_rc:
        result["verdict"] = "plain %d, -O %d" % (plain_rc, opt_rc)
        result["why"] = last_error(opt_out if opt_rc else plain_out)
    else:
        verdict, out = abc_verdict("plain.blif", "opt.blif", folder)
        # A latch of the MRL family is a logic cell that reads its own
        # output: ABC reads no such netlist, so only the exits are checked.
        if verdict == "undecided" and "combinational loop" in out and re.search(r"^  latch 1 ", text, re.M):
            verdict = "unchecked"
        result["verdict"] = verdict
        if verdict not in ("equivalent", "unchecked"):
            result["why"] = last_error(out)
    return result


def native_seeds(root, fit, families, work):
    """family -> [(path, text)]: the bundled native designs and the native
    text of a plain compile of each BLIF seed."""
    seeds = collections.defaultdict(list)
    codes = {code: name for name, code in FAMILIES.items()}
    designs = os.path.join(root, "designs")
    for name in sorted(os.listdir(designs)):
        if not name.endswith(".txt"):
            continue
        path = os.path.join(designs, name)
        text = open(path).read()
        m = re.search(r"^family (\d+)$", text, re.M)
        family = codes.get(int(m.group(1))) if m else None
        if family in families:
            seeds[family].append((path, text))
    for family in families:
        for blif in BLIF_SEEDS:
            for how in ("plain", "-O"):
                out = os.path.join(work, "seed_%s_%s%s.txt" % (family, blif, "_O" if how == "-O" else ""))
                rc, text = run([fit, "-q", "--family", family, os.path.join(designs, blif + ".blif"),
                                "-o", out + ".blif", "--native", out] + ([how] if how == "-O" else []), work)
                if rc != 0:
                    sys.exit("native-fuzz: the %s compile of %s for %s failed:\n%s" % (how, blif, family, text))
                seeds[family].append((out, open(out).read()))
    return seeds


def main():
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--count", type=int, default=60, help="mutants per family (default 60)")
    ap.add_argument("--seed", type=int, default=1, help="random seed (default 1)")
    ap.add_argument("--build", default=os.path.join(root, "build", "dev"), help="build folder with morv-fit")
    ap.add_argument("--jobs", type=int, default=3, help="mutants compiled at once (default 3)")
    ap.add_argument("--family", action="append", choices=sorted(FAMILIES), help="only these families")
    ap.add_argument("--keep", help="keep every mutant's folder under this folder")
    args = ap.parse_args()
    fit = os.path.abspath(os.path.join(args.build, "morv-fit"))
    if not os.access(fit, os.X_OK):
        sys.exit("native-fuzz: %s is not built" % fit)
    if shutil.which("berkeley-abc") is None:
        sys.exit("native-fuzz: berkeley-abc is not installed")
    families = args.family or list(FAMILIES)
    work = os.path.abspath(args.keep) if args.keep else tempfile.mkdtemp(prefix="native-fuzz.")
    os.makedirs(work, exist_ok=True)
    try:
        seeds = native_seeds(root, fit, families, work)
        rng = random.Random(args.seed)
        jobs = []
        for family in families:
            for i in range(args.count):
                path, text = seeds[family][i % len(seeds[family])]
                folder = os.path.join(work, "%s_%03d" % (family, i))
                jobs.append((fit, family, path, i, text, rng.randrange(1 << 30), folder))
        print("native-fuzz: %d mutants (%d per family), seed %d" % (len(jobs), args.count, args.seed))
        results = []
        with concurrent.futures.ThreadPoolExecutor(args.jobs) as pool:
            for r in pool.map(lambda j: one_mutant(*j), jobs):
                results.append(r)
                if r["verdict"] not in ("equivalent", "refused", "unchecked"):
                    print("  %s %s #%d: %s (%s)\n    %s\n    %s" % (r["family"], r["seed"], r["index"], r["verdict"],
                                                               r.get("why", ""), r["change"], r["folder"]))
        failures = 0
        print("%-8s %8s %11s %8s %10s %s" % ("family", "mutants", "equivalent", "refused", "unchecked", "other"))
        for family in families:
            mine = [r for r in results if r["family"] == family]
            tally = collections.Counter(r["verdict"] for r in mine)
            other = {k: v for k, v in tally.items() if k not in ("equivalent", "refused", "unchecked")}
            failures += sum(other.values())
            print("%-8s %8d %11d %8d %10d %s" % (family, len(mine), tally["equivalent"], tally["refused"],
                                                 tally["unchecked"],
                                            ", ".join("%s: %d" % kv for kv in sorted(other.items())) or "-"))
        print("%d passed, %d failed" % (len(results) - failures, failures))
        return 1 if failures else 0
    finally:
        if not args.keep:
            shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
