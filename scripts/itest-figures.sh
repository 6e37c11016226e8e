#!/usr/bin/env bash
# Figures of the incremental timing estimator (iTEst) in the early flows:
# for each design and family, one compile with iTEst on, its comparison
# against a full analysis after every estimate and the debug log, and two
# quiet compiles, with and without iTEst, for the early flow's time.
#
#   scripts/itest-figures.sh [-b MORV_FIT] [-f "FAMILIES"] [-t TEST_STRING] [-o OUTDIR] [DESIGN.blif...]
#
# Per row: the exit status, ABC's verdict on the output (dsec for designs
# with registers), the estimates completed and the fall-backs (by reason),
# the restores of a saved netlist (rolled-back iterations), the worst
# comparison (edges whose slack ratio differs by 0.001 or more, as a share
# of the edges, and the largest difference), and the FIT_EARLY time of the
# summary table with iTEst and without. Default designs: every bundled
# design with registers.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
fit=$root/build/release/morv-fit
families="BRK MRL"
test_string="RESYN()|TEST()"
out=$root/build/itest-figures
while getopts "b:f:t:o:" opt; do
  case $opt in
    b) fit=$OPTARG ;;
    f) families=$OPTARG ;;
    t) test_string=$OPTARG ;;
    o) out=$OPTARG ;;
    *) sed -n '6p' "$0" >&2; exit 2 ;;
  esac
done
shift $((OPTIND - 1))
designs=("$@")
if [ ${#designs[@]} -eq 0 ]; then
  for f in "$root"/designs/*.blif "$root"/bench/*/*.blif; do
    grep -q '^\.latch' "$f" && designs+=("$f")
  done
fi
[ -x "$fit" ] || { echo "$0: no morv-fit at '$fit' (build Release first or pass -b)" >&2; exit 1; }
command -v berkeley-abc >/dev/null || { echo "$0: berkeley-abc is needed for the equivalence checks" >&2; exit 1; }
mkdir -p "$out"
out=$(cd "$out" && pwd)

common=(--set fsyn_use_new_timing_flow=on --set fsyn_disable_nevra=on --test-string "$test_string")

# The FIT_EARLY time of a compile's summary table.
early_time() {
  awk '/^FIT_EARLY/ { print $(NF-1) }' "$1"
}

# ABC's answer within a time limit: proved, NOT-PROVED, or undecided.
verdict() {
  local cmd="cec" answer
  grep -q '^\.latch' "$1" && cmd="dsec -T 120"
  answer=$(timeout -k 5 150 berkeley-abc -c "$cmd $1 $2" 2>&1 || true)
  if echo "$answer" | grep -qiE "are equivalent|networks are equivalent|Property proved"; then
    echo proved
  elif echo "$answer" | grep -qiE "NOT EQUIVALENT|are not equivalent"; then
    echo NOT-PROVED
  elif same_registers "$1" "$2" && berkeley-abc -c "cec $1 $2" 2>&1 | grep -qi "networks are equivalent"; then
    # Resynthesis keeps every register and its name: equal logic between the
    # registers, matched by name, and power-up values that only fix don't-cares
    # prove the sequential behaviour too.
    echo proved-cec
  else
    echo undecided
  fi
}

# True when both files have the same registers by output name and every
# power-up value of the second is the first's or fixes a don't-care (2).
same_registers() {
  local joined
  joined=$(join <(awk '/^\.latch/ { print $3, $NF }' "$1" | sort) <(awk '/^\.latch/ { print $3, $NF }' "$2" | sort))
  [ "$(echo "$joined" | wc -l)" -eq "$(grep -c '^\.latch' "$1")" ] &&
    [ "$(grep -c '^\.latch' "$1")" -eq "$(grep -c '^\.latch' "$2")" ] &&
    echo "$joined" | awk '$2 != 2 && $2 != $3 { bad = 1 } END { exit bad }'
}

printf "%-22s %-4s %4s %-10s %9s %9s %8s %10s %8s %8s %8s\n" design fam exit abc estimates fallbacks restores \
  "sr>=.001" max_sr early_ite early_off
for blif in "${designs[@]}"; do
  name=$(basename "$blif" .blif)
  for fam in $families; do
    dir=$out/$name.$fam
    rm -rf "$dir" && mkdir -p "$dir/ite" "$dir/quiet" "$dir/off"
    status=0
    "$fit" --family "$fam" -v "${common[@]}" --set fsyn_enable_ite=on --set fsyn_ite_do_sr_compare=on \
      --set fsyn_debug_msg_full=on --aux-dir "$dir/ite" -o "$dir/ite/out.blif" "$blif" >"$dir/ite/log.txt" 2>&1 ||
      status=$?
    abc=-
    [ "$status" -eq 0 ] && abc=$(verdict "$blif" "$dir/ite/out.blif")
    dump=$dir/ite/fsyn_debug_dump.txt
    estimates=$(grep -c "iTEst: timing_estimation: complete" "$dump" || true)
    fallbacks=$(grep -c "iTEst: timing_estimation: aborting" "$dump" || true)
    restores=$(grep -c "^Restoring state <" "$dump" || true)
    read -r share max_sr < <(awk '
      /slack ratio differences: [0-9]+ \/ [0-9]+ edges/ {
        split($0, a, "differences: "); split(a[2], b, " "); s = b[3] > 0 ? b[1] / b[3] : 0
        if (s > worst) worst = s; want = 1; next }
      want && /max abs slack ratio difference/ { if ($2 + 0 > max) max = $2 + 0; want = 0 }
      END { printf "%.5f %.3f\n", worst, max }' "$dump")
    "$fit" --family "$fam" -q "${common[@]}" --set fsyn_enable_ite=on --aux-dir "$dir/quiet" \
      -o "$dir/quiet/out.blif" "$blif" >"$dir/quiet/log.txt" 2>&1 || true
    "$fit" --family "$fam" -q "${common[@]}" --aux-dir "$dir/off" -o "$dir/off/out.blif" "$blif" \
      >"$dir/off/log.txt" 2>&1 || true
    printf "%-22s %-4s %4d %-10s %9d %9d %8d %10s %8s %8s %8s\n" "$name" "$fam" "$status" "$abc" "$estimates" \
      "$fallbacks" "$restores" "$share" "$max_sr" "$(early_time "$dir/quiet/log.txt")" \
      "$(early_time "$dir/off/log.txt")"
    grep -h "iTEst: timing_estimation: aborting" "$dump" | sort | uniq -c | sed "s/^/    $name $fam: /" || true
  done
done
