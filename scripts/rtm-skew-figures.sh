#!/usr/bin/env bash
# Skew-driven classic retiming on real designs: for each design and seed, a
# plain compile, then the same compile at the plain run's clock period with
# "|RTM(SKEW_RTM=1:NO_LB=1)" and the full debug file. Per row: the registers
# pushed (the "success" lines of the pushes in the debug file), the
# iterations, the candidates the loop refused (skew below the threshold,
# register not critical, cell to push not critical) and the pushes it tried,
# the registers of the written netlist the design does not have (pushes of
# iterations the run driver rolled back leave none), the plain and retimed
# Fmax, and ABC's verdict on the retimed output: dsec from the all-zero
# state under a time limit, and again without dsec's forward retiming when
# undecided (proved, NOT-PROVED or undecided); an undecided output is then
# simulated for SIM_FRAMES random frames from the all-zero state ("sim-ok"
# when no output differed). The last line counts the runs whose written
# netlist has moved registers, and the verdicts.
#
#   scripts/rtm-skew-figures.sh [-b MORV_FIT] [-f FAMILY] [-s "SEEDS"] [-t TEST_STRING] [-T DSEC_SECONDS] [-o OUTDIR] [DESIGN...]
#
# DESIGN is a path under bench/ without ".blif" (default: the eleven designs
# of the retiming target).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/scripts/lib/fmax-figures.sh"
fit=$root/build/release/morv-fit
family=BRK
seeds=1
test_string="|RTM(SKEW_RTM=1:NO_LB=1)"
dsec_limit=300
out=${TMPDIR:-/tmp}/morv-rtm-skew-figures
usage="usage: $0 [-b MORV_FIT] [-f FAMILY] [-s \"SEEDS\"] [-t TEST_STRING] [-T DSEC_SECONDS] [-o OUTDIR] [DESIGN...]"
while [ $# -gt 0 ]; do
  case $1 in
  -b) fit=$2; shift 2 ;;
  -f) family=$2; shift 2 ;;
  -s) seeds=$2; shift 2 ;;
  -t) test_string=$2; shift 2 ;;
  -T) dsec_limit=$2; shift 2 ;;
  -o) out=$2; shift 2 ;;
  -*) echo "$usage" >&2; exit 1 ;;
  *) break ;;
  esac
done
[ $# -gt 0 ] || set -- mcnc_k4/bigkey mcnc_k4/diffeq mcnc_k4/dsip mcnc_k4/elliptic mcnc_k4/frisc mcnc_k4/s298 \
  mcnc_k4/s38417 mcnc_k4/tseng iscas89_k6/s1423 iscas89_k6/s5378 iscas89_k6/s9234.1
[ -x "$fit" ] || { echo "$0: no morv-fit at '$fit' (build Release first or pass -b)" >&2; exit 1; }
command -v berkeley-abc >/dev/null || { echo "$0: berkeley-abc is needed for the equivalence checks" >&2; exit 1; }
mkdir -p "$out"
out=$(cd "$out" && pwd)

# One compile in its own folder; prints "period_ps fmax_mhz" of its last row.
compile() {
  local dir=$1; shift
  mkdir -p "$dir"
  "$fit" --family "$family" -q --aux-dir "$dir" "$@" >"$dir/log" 2>&1 ||
    { echo "$0: morv-fit failed, see $dir/log" >&2; exit 1; }
  awk '/^clock period / { p = $3 } /^-+$/ { t = 1; next } t && NF >= 9 { f = $(NF-2) } END { print p, f }' "$dir/log"
}


count() { grep -c -e "$1" "$2" || true; }

# The outputs of the .latch lines of $2 that $1 does not have.
new_registers() {
  comm -13 <(awk '$1 == ".latch" { print $3 }' "$1" | sort) <(awk '$1 == ".latch" { print $3 }' "$2" | sort) | wc -l
}

printf "%-9s %4s %6s %5s %7s %7s %7s %6s %6s %9s %9s %s\n" design seed pushes iters little noncrit combnc tried \
  moved fmax_plain fmax_skew verdict
moved=0; rows=0; proved=0; refuted=0
for d in "$@"; do
  blif=$root/bench/$d.blif
  name=$(basename "$d")
  for s in $seeds; do
    read -r period fp < <(compile "$out/$name.$s.plain" --seed "$s" -o "$out/$name.$s.plain.blif" "$blif")
    read -r _ fr < <(compile "$out/$name.$s.skew" --seed "$s" --clock-period "$period" --test-string "$test_string" \
      --set fsyn_debug_msg_full=on -o "$out/$name.$s.skew.blif" "$blif")
    debug=$out/$name.$s.skew/fsyn_debug_dump.txt
    pushes=$(grep -c -e "backward_push (): success" -e "forward_push(): success" "$debug" || true)
    v=$(seq_verdict "$blif" "$out/$name.$s.skew.blif")
    regs=$(new_registers "$blif" "$out/$name.$s.skew.blif")
    printf "%-9s %4s %6d %5d %7d %7d %7d %6d %6d %9.1f %9.1f %s\n" "$name" "$s" "$pushes" \
      "$(count "^do_iter: alg=RTM" "$debug")" "$(count "Skew too little" "$debug")" \
      "$(count "Node non critical" "$debug")" "$(count "> not critical" "$debug")" \
      "$(count "OPT SKEW PUSH" "$debug")" "$regs" "$fp" "$fr" "$v"
    rows=$((rows + 1))
    [ "$regs" -gt 0 ] && moved=$((moved + 1))
    [ "$v" = proved ] && proved=$((proved + 1))
    case $v in NOT-PROVED | *SIM-DIFFERENT) refuted=$((refuted + 1)) ;; esac
  done
done
echo "$family: registers moved into the written netlist on $moved of $rows runs; proved $proved, refuted $refuted, undecided $((rows - proved - refuted))"
