#!/usr/bin/env bash
# Writes COPIES side-by-side copies of a flat BLIF netlist as one model on
# standard output: every net of copy k is renamed "c<k>_<net>", except the
# primary inputs (the clock among them), which all copies share, so that the
# result keeps the design's clocking and its input count. Used to grow a
# design for placement-scaling measurements.
#
#   scripts/concat-blif.sh COPIES DESIGN.blif > big.blif
set -euo pipefail
if [ $# -ne 2 ] || ! [[ $1 =~ ^[1-9][0-9]*$ ]]; then
  echo "usage: $0 COPIES DESIGN.blif" >&2
  exit 1
fi
copies=$1
design=$2
[ -r "$design" ] || { echo "$0: cannot read '$design'" >&2; exit 1; }

# Joins continuation lines and drops comments, so that every directive is on
# one line.
flatten() {
  awk '{ sub(/#.*/, "") }
       /\\$/ { sub(/\\$/, ""); buf = buf $0 " "; next }
       { line = buf $0; buf = ""; if (line ~ /[^ \t]/) print line }
       END { if (buf ~ /[^ \t]/) print buf }' "$1"
}

flatten "$design" | awk -v copies="$copies" '
  { lines[++n] = $0 }
  $1 == ".latch" && NF >= 5 { shared[$5] = 1 }
  $1 == ".inputs" { for (j = 2; j <= NF; ++j) shared[$j] = 1 }
  $1 == ".subckt" || $1 == ".gate" || $1 == ".model" && ++models > 1 {
    print "concat-blif: only flat single-model netlists of .names and .latch are supported" > "/dev/stderr"
    failed = 1
    exit 1
  }
  function net(name, k) { return (name in shared) ? name : "c" k "_" name }
  function list(k, first,    i, s) {
    s = ""
    for (i = first; i <= NF; ++i) s = s " " net($i, k)
    return s
  }
  # Shared nets are declared by the first copy only.
  function declared(k,    j, s) {
    s = ""
    for (j = 2; j <= NF; ++j)
      if (!($j in shared) || k == 1) s = s " " net($j, k)
    return s
  }
  END {
    if (failed) exit 1
    print ".model concat" copies
    for (k = 1; k <= copies; ++k)
      for (i = 1; i <= n; ++i) {
        $0 = lines[i]
        if ($1 == ".inputs" || $1 == ".outputs") {
          s = declared(k)
          if (s != "") print $1 s
        } else if ($1 == ".names") {
          print ".names" list(k, 2)
        } else if ($1 == ".latch") {
          s = ".latch " net($2, k) " " net($3, k)
          for (j = 4; j <= NF; ++j) s = s " " $j
          print s
        } else if ($1 == ".model" || $1 == ".end") {
          continue
        } else {
          print  # a cover line of the .names above
        }
      }
    print ".end"
  }'
