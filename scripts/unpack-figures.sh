#!/usr/bin/env bash
# Register unpacking and fanout resplitting figures: for each design and
# seed, a compile with the base test string, then the same compile (same
# seed, at the base run's clock period) with the test string. ABC proves each
# output equivalent to the design (cec, or dsec with registers). The table
# gives per design the Fmax ratio (geometric mean over the seeds), the atoms
# after clustering and after the post-clustering and LATE points of the
# tested run, and what the debug log reports: cells unpacked and sinks
# reconnected by resplitting; then the geometric mean over designs.
#
#   scripts/unpack-figures.sh [-b MORV_FIT] [-f FAMILY] [-s "SEEDS"] [-T BASE_STRING] [-t TEST_STRING]
#                             [-o OUTDIR] [-x "EXTRA MORV-FIT OPTIONS"] [DESIGN...]
#
# Defaults: UVO, seeds 1-3, "TEST()|TEST()|TEST()" against
# "TEST()|REG_UNPACK()|TEST()" on frisc and tseng of mcnc_k4. Resplitting
# after duplication: -f BRK -T "TEST()|REP()" -t "TEST()|REP();RESPLIT(NP=2)".
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/scripts/lib/fmax-figures.sh"

fit=$root/build/release/morv-fit
family=UVO
seeds="1 2 3"
base_string="TEST()|TEST()|TEST()"
test_string="TEST()|REG_UNPACK()|TEST()"
out=${TMPDIR:-/tmp}/morv-unpack-figures
extra=""
usage="usage: $0 [-b MORV_FIT] [-f FAMILY] [-s \"SEEDS\"] [-T BASE] [-t TEST] [-o OUTDIR] [-x OPTIONS] [DESIGN...]"
figure_options bfsTtox "$usage" "$@"
set -- "${figure_designs[@]}"
[ $# -gt 0 ] || set -- mcnc_k4/frisc mcnc_k4/tseng
figure_setup

# Atoms of the named summary row of a compile's log.
atoms_of() { awk -v step="$2" '$1 == step { for (i = 2; i <= NF; ++i) if ($i ~ /^[0-9]+$/) { print $i; exit } }' "$1"; }
# Sum of the numbers a debug line reports.
unpacked_of() { sed -n 's/^\.\.\.Unpacked {\([0-9]*\)}.*/\1/p' "$1" | awk '{ s += $1 } END { print s + 0 }'; }
resplit_of() { sed -n 's/^do_iter: alg=RESPLIT,.*ops=\([0-9]*\).*/\1/p' "$1" | awk '{ s += $1 } END { print s + 0 }'; }

printf "%-10s %5s %10s %10s %8s %8s %8s %8s %8s %8s %s\n" design seed fmax_base fmax_test ratio atoms_cl \
  atoms_pc atoms_lt unpacked resplit abc
total_log=0; designs_done=0; worst=9
for d in "$@"; do
  blif=$root/bench/$d.blif
  name=$(basename "$d")
  ratio_log=0; n=0
  for s in $seeds; do
    # shellcheck disable=SC2086
    read -r period fmax_b _ _ < <(compile "$out/$name.$s.base.log" --seed "$s" $extra --test-string "$base_string" \
      -o "$out/$name.$s.base.blif" "$blif")
    rm -f "$out/fsyn_debug_dump.txt"
    # shellcheck disable=SC2086
    read -r _ fmax_t _ _ < <(compile "$out/$name.$s.test.log" --seed "$s" --clock-period "$period" \
      --set fsyn_debug_msg_full=on $extra --test-string "$test_string" -o "$out/$name.$s.test.blif" "$blif")
    unpacked=0; resplit=0
    if [ -f "$out/fsyn_debug_dump.txt" ]; then
      mv "$out/fsyn_debug_dump.txt" "$out/$name.$s.debug.txt"
      unpacked=$(unpacked_of "$out/$name.$s.debug.txt")
      resplit=$(resplit_of "$out/$name.$s.debug.txt")
    fi
    verdict=proved
    if grep -q '^\.latch' "$blif"; then
      verdict=$(seq_verdict "$blif" "$out/$name.$s.test.blif")
    else
      equivalent "$blif" "$out/$name.$s.test.blif" || verdict=NOT-PROVED
    fi
    [ "${verdict%%,*}" = NOT-PROVED ] && { echo "$0: $name seed $s: not equivalent" >&2; exit 1; }
    ratio=$(awk -v p="$fmax_b" -v r="$fmax_t" 'BEGIN { printf "%.4f", r / p }')
    printf "%-10s %5s %10.1f %10.1f %8s %8s %8s %8s %8s %8s %s\n" "$name" "$s" "$fmax_b" "$fmax_t" "$ratio" \
      "$(atoms_of "$out/$name.$s.test.log" clustering)" "$(atoms_of "$out/$name.$s.test.log" POST_CLUSTERING)" \
      "$(atoms_of "$out/$name.$s.test.log" LATE)" "$unpacked" "$resplit" "$verdict"
    ratio_log=$(awk -v a="$ratio_log" -v r="$ratio" 'BEGIN { print a + log(r) }')
    n=$((n + 1))
  done
  design_ratio=$(awk -v a="$ratio_log" -v n="$n" 'BEGIN { printf "%.4f", exp(a / n) }')
  printf "%-10s %5s %10s %10s %8s\n" "$name" mean "" "" "$design_ratio"
  total_log=$(awk -v a="$total_log" -v r="$design_ratio" 'BEGIN { print a + log(r) }')
  worst=$(awk -v w="$worst" -v r="$design_ratio" 'BEGIN { print (r < w ? r : w) }')
  designs_done=$((designs_done + 1))
done
awk -v t="$total_log" -v n="$designs_done" -v w="$worst" -v f="$family" 'BEGIN {
  printf "%s: geometric mean Fmax ratio %.4f, lowest design %.4f\n", f, exp(t / n), w }'
