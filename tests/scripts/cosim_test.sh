#!/usr/bin/env bash
# morv-cosim against its oracle: the optimised compile of a sequential design
# (registers moved, logic remapped) agrees with it over 10,000 cycles, and
# the design with one cube of its next-state logic changed does not, with
# the cycle and output named. A missing file is an error of exit status 1.
set -euo pipefail
fit=$1 cosim=$2 design=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$fit" --family BRK -q --optimize --aux-dir "$work/aux" -o "$work/opt.blif" "$design" >/dev/null
grep -q '^\.latch' "$work/opt.blif"
[ "$("$cosim" --family BRK "$design" "$work/opt.blif")" = "agree over 10000 cycles" ]
# One next-state cube of s27 made to read the opposite value of n_n42.
sed 's/^-0---1 1$/-0---0 1/' "$design" >"$work/changed.blif"
! cmp -s "$design" "$work/changed.blif"
answer=$("$cosim" --family BRK --seed 7 "$design" "$work/changed.blif") && exit 1
[[ $answer =~ ^differ:\ first\ difference\ at\ cycle\ [0-9]+\ on\ output\ s27_out$ ]]
set +e
"$cosim" --family BRK "$design" "$work/none.blif" 2>"$work/err"
[ $? -eq 1 ] && grep -q "none.blif" "$work/err"
