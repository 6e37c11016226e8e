#!/usr/bin/env bash
# Sweeper figures of morv-fit: for every chosen design and family, a
# sweeper-only run's LUT count before and after, ABC's verdict on the
# written netlist against the input and, beside them, the node count ABC's
# own `sweep` leaves of the same input. ABC's cec matches registers by name,
# so where the sweep kept every register it proves sequential designs too;
# otherwise dsec decides (within the time limit).
#
#   scripts/sweep-figures.sh [-b MORV_FIT] [-o OUTDIR] [-j JOBS] [-f "FAMILY ..."] [-a "ARGS"] [DESIGN.blif ...]
#
# ARGS: further morv-fit arguments (say "--device FILE" for a design wider
# than a family's own device).
# Without designs: the bundled ones (designs/ and bench/). Prints one line per
# run: design family luts_in luts_out removed_% abc_sweep verdict; a failing
# run or a verdict other than "equivalent" makes the exit status 1.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
fit=$root/build/release/morv-fit
out=${TMPDIR:-/tmp}/morv-sweep-figures
jobs=3
families="BRK ZEPLA TEV MRL KESTLIN RZK OBRAN UVO"
fit_args=""
usage="usage: $0 [-b MORV_FIT] [-o OUTDIR] [-j JOBS] [-f \"FAMILY ...\"] [-a \"ARGS\"] [DESIGN.blif ...]"
while getopts "b:o:j:f:a:h" opt; do
  case $opt in
  b) fit=$OPTARG ;;
  o) out=$OPTARG ;;
  j) jobs=$OPTARG ;;
  f) families=$OPTARG ;;
  a) fit_args=$OPTARG ;;
  *) echo "$usage" >&2; exit 1 ;;
  esac
done
shift $((OPTIND - 1))
[ -x "$fit" ] || { echo "$0: no morv-fit at '$fit' (build Release first or pass -b)" >&2; exit 1; }
command -v berkeley-abc >/dev/null || { echo "$0: berkeley-abc is not installed" >&2; exit 1; }
designs=("$@")
[ ${#designs[@]} -gt 0 ] || designs=("$root"/designs/*.blif "$root"/bench/*/*.blif)
mkdir -p "$out"
out=$(cd "$out" && pwd)
fit=$(cd "$(dirname "$fit")" && pwd)/$(basename "$fit")

# One design and family; prints its line.
one() {
  local design=$1 family=$2 name dir luts_in luts_out abc_sweep check verdict
  name=$(basename "$design" .blif)
  dir=$out/$name.$family
  mkdir -p "$dir"
  # shellcheck disable=SC2086 # the arguments are words of their own
  if ! (cd "$dir" && "$fit" --family "$family" $fit_args --set fsyn_netlist_sweeper=on -o out.blif "$design") \
    >"$dir/fit.log" 2>&1; then
    echo "$name $family - - - - morv-fit-failed"
    return
  fi
  luts_in=$(awk '$1 == "input" { print $3 }' "$dir/fit.log")
  luts_out=$(awk '$1 == "back-annotation" { print $3 }' "$dir/fit.log")
  abc_sweep=$(berkeley-abc -c "read_blif $design; sweep; print_stats" 2>&1 |
    sed -n 's/.*nd = *\([0-9]*\).*/\1/p' | tail -n 1)
  check=cec
  timeout -k 5 900 berkeley-abc -c "cec -T 600 $design $dir/out.blif" >"$dir/abc.log" 2>&1 || true
  if grep -q '^\.latch' "$design" && ! grep -q "Networks are equivalent" "$dir/abc.log"; then
    check=dsec
    timeout -k 5 900 berkeley-abc -c "dsec -T 600 $design $dir/out.blif" >"$dir/abc.log" 2>&1 || true
  fi
  if grep -q -e "NOT EQUIVALENT" -e "Verification failed" "$dir/abc.log"; then
    verdict=NOT-EQUIVALENT
  elif grep -q "Networks are equivalent" "$dir/abc.log"; then
    verdict=equivalent
  else
    verdict=undecided
  fi
  awk -v n="$name" -v f="$family" -v a="$luts_in" -v b="$luts_out" -v s="$abc_sweep" -v c="$check" -v v="$verdict" \
    'BEGIN { printf "%s %s %d %d %.1f %s %s:%s\n", n, f, a, b, a ? 100 * (a - b) / a : 0, s, c, v }'
}
export -f one
export fit out fit_args

printf '%s\n' "${designs[@]}" | while read -r d; do
  d=$(cd "$(dirname "$d")" && pwd)/$(basename "$d")
  for f in $families; do echo "$d $f"; done
done | xargs -P "$jobs" -n 2 bash -c 'one "$0" "$1"' | sort -k1,1 -k2,2 | tee "$out/figures.txt"
! grep -q -v ":equivalent$" "$out/figures.txt"
