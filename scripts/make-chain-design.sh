#!/usr/bin/env bash
# Writes a BLIF design on standard output: one register fed by input d, then
# a chain of LENGTH two-input LUTs, each the exclusive or of the one before
# and one of four primary inputs, the last one the design's output; with
# -r K a register follows every K-th LUT as well. Used to measure how the
# sweeper and the collapser scale with a long path.
#
#   scripts/make-chain-design.sh [-r K] LENGTH > chain.blif
set -euo pipefail
every=0
usage="usage: $0 [-r K] LENGTH"
while getopts "r:" opt; do
  case $opt in
    r) every=$OPTARG ;;
    *) echo "$usage" >&2; exit 1 ;;
  esac
done
shift $((OPTIND - 1))
if [ $# -ne 1 ] || ! [[ $1 =~ ^[1-9][0-9]*$ ]] || ! [[ $every =~ ^[0-9]+$ ]]; then
  echo "$usage" >&2
  exit 1
fi
awk -v n="$1" -v every="$every" 'BEGIN {
  print ".model chain"
  print ".inputs clk d x0 x1 x2 x3"
  print ".outputs y"
  print ".latch d r0 re clk 0"
  prev = "r0"
  for (i = 1; i <= n; ++i) {
    printf ".names %s x%d n%d\n10 1\n01 1\n", prev, i % 4, i
    prev = "n" i
    if (every > 0 && i % every == 0 && i < n) {
      printf ".latch %s q%d re clk 0\n", prev, i
      prev = "q" i
    }
  }
  printf ".names %s y\n1 1\n", prev
  print ".end"
}'
