#!/usr/bin/env bash
# Duplication quality figures: for each design and seed, a plain compile, then
# the same compile (same seed, so the same placement) at the plain run's clock
# period with the test string (default "REP()": duplication in the LATE flow).
# ABC proves each output equivalent to the design (cec, or dsec with
# registers). The table gives per design the Fmax ratio (geometric mean over
# the seeds), the atoms before and after LATE, the duplications the debug
# log reports (logic and register), then the geometric means over designs.
#
#   scripts/rep-figures.sh [-b MORV_FIT] [-f FAMILY] [-s "SEEDS"] [-t TEST_STRING] [-o OUTDIR]
#                          [-x "EXTRA MORV-FIT OPTIONS"] [DESIGN...]
#
# DESIGN is a path under bench/ without ".blif" (default: alu4, apex2, ex5p,
# misex3, tseng and diffeq of mcnc_k4). -x "--set 662=on" allows register
# duplication; -x "--set fsyn_disable_netlist_sweeper=on" keeps the sweeper
# from collapsing cells, so that the atom counts show the copies alone.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/scripts/lib/fmax-figures.sh"

fit=$root/build/release/morv-fit
family=BRK
seeds="1 2 3"
test_string="REP()"
out=${TMPDIR:-/tmp}/morv-rep-figures
extra=""
usage="usage: $0 [-b MORV_FIT] [-f FAMILY] [-s \"SEEDS\"] [-t TEST_STRING] [-o OUTDIR] [-x OPTIONS] [DESIGN...]"
figure_options bfstox "$usage" "$@"
set -- "${figure_designs[@]}"
[ $# -gt 0 ] || set -- mcnc_k4/alu4 mcnc_k4/apex2 mcnc_k4/ex5p mcnc_k4/misex3 mcnc_k4/tseng mcnc_k4/diffeq
figure_setup

# Atoms of the named summary row of a compile's log.
atoms_of() { awk -v step="$2" '$1 == step { print $2 }' "$1"; }

printf "%-10s %5s %10s %10s %8s %8s %8s %8s %8s %s\n" design seed fmax_plain fmax_rep ratio atoms_pl atoms_lt \
  comb_dup reg_dup abc
total_log=0; designs_done=0; worst=9
for d in "$@"; do
  blif=$root/bench/$d.blif
  name=$(basename "$d")
  ratio_log=0; n=0
  for s in $seeds; do
    read -r period fmax_p _ _ < <(compile "$out/$name.$s.plain.log" --seed "$s" -o "$out/$name.$s.plain.blif" "$blif")
    rm -f "$out/fsyn_debug_dump.txt"
    # shellcheck disable=SC2086
    read -r _ fmax_r _ _ < <(compile "$out/$name.$s.rep.log" --seed "$s" --clock-period "$period" \
      --set fsyn_debug_msg_full=on $extra --test-string "$test_string" -o "$out/$name.$s.rep.blif" "$blif")
    comb=$(grep -c "performing combintl duplication" "$out/fsyn_debug_dump.txt" || true)
    regs=$(grep -c "performing register duplication" "$out/fsyn_debug_dump.txt" || true)
    mv "$out/fsyn_debug_dump.txt" "$out/$name.$s.rep.debug.txt"
    verdict=proved
    equivalent "$blif" "$out/$name.$s.rep.blif" || verdict=NOT-PROVED
    ratio=$(awk -v p="$fmax_p" -v r="$fmax_r" 'BEGIN { printf "%.4f", r / p }')
    printf "%-10s %5s %10.1f %10.1f %8s %8s %8s %8s %8s %s\n" "$name" "$s" "$fmax_p" "$fmax_r" "$ratio" \
      "$(atoms_of "$out/$name.$s.rep.log" placement)" "$(atoms_of "$out/$name.$s.rep.log" LATE)" "$comb" "$regs" \
      "$verdict"
    [ "$verdict" = proved ] || { echo "$0: $name seed $s: not proved equivalent" >&2; exit 1; }
    ratio_log=$(awk -v a="$ratio_log" -v r="$ratio" 'BEGIN { print a + log(r) }')
    n=$((n + 1))
  done
  ratio=$(awk -v r="$ratio_log" -v n="$n" 'BEGIN { printf "%.4f", exp(r / n) }')
  printf "%-10s %5s %32s\n" "$name" mean "$ratio"
  total_log=$(awk -v a="$total_log" -v r="$ratio" 'BEGIN { print a + log(r) }')
  worst=$(awk -v w="$worst" -v r="$ratio" 'BEGIN { print (r < w ? r : w) }')
  designs_done=$((designs_done + 1))
done
awk -v t="$total_log" -v n="$designs_done" -v w="$worst" -v f="$family" 'BEGIN {
  printf "%s: geometric mean Fmax ratio %.4f, lowest design %.4f\n", f, exp(t / n), w }'
