#!/usr/bin/env bash
# Classic retiming beside ABC's min-delay retiming, one seed: per design the
# registers RTM pushed (the "success" lines of the pushes in the debug file),
# its iterations and Fmax at the plain run's clock period; then the design
# put through ABC "strash; dretime; if -K k" (k = 4 for mcnc_k4, 6 for
# iscas89_k6) with the design's clock put back on ABC's latches and fitted
# with no retiming, and the control "strash; if -K k" alone. The last line
# gives the geometric-mean Fmax ratio of each flow to the plain run.
#
#   scripts/rtm-dretime.sh [-b MORV_FIT] [-f FAMILY] [-s SEED] [-o OUTDIR] [DESIGN...]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/scripts/lib/fmax-figures.sh"
fit=$root/build/release/morv-fit
family=BRK
seed=1
out=${TMPDIR:-/tmp}/morv-rtm-dretime
while [ $# -gt 0 ]; do
  case $1 in
  -b) fit=$2; shift 2 ;;
  -f) family=$2; shift 2 ;;
  -s) seed=$2; shift 2 ;;
  -o) out=$2; shift 2 ;;
  -*) echo "usage: $0 [-b MORV_FIT] [-f FAMILY] [-s SEED] [-o OUTDIR] [DESIGN...]" >&2; exit 1 ;;
  *) break ;;
  esac
done
[ $# -gt 0 ] || set -- mcnc_k4/bigkey mcnc_k4/diffeq mcnc_k4/dsip mcnc_k4/elliptic mcnc_k4/frisc mcnc_k4/s298 \
  mcnc_k4/s38417 mcnc_k4/tseng iscas89_k6/s1423 iscas89_k6/s5378 iscas89_k6/s9234.1
[ -x "$fit" ] || { echo "$0: no morv-fit at '$fit'" >&2; exit 1; }
command -v berkeley-abc >/dev/null || { echo "$0: berkeley-abc is needed" >&2; exit 1; }
mkdir -p "$out"
out=$(cd "$out" && pwd)

# One compile in its own folder; prints "period_ps fmax_mhz" of its last row.
compile() {
  local dir=$1; shift
  mkdir -p "$dir"
  "$fit" --family "$family" --seed "$seed" -q --aux-dir "$dir" "$@" >"$dir/log" 2>&1 ||
    { echo "$0: morv-fit failed, see $dir/log" >&2; exit 1; }
  awk '/^clock period / { p = $3 } /^-+$/ { t = 1; next } t && NF >= 9 { f = $(NF-2) } END { print p, f }' "$dir/log"
}

# ABC's mapping of the design (with the script given), its latches clocked
# again by the design's clock.
abc_map() {
  local blif=$1 script=$2 dest=$3 clock
  clock=$(awk '$1 == ".latch" && NF >= 5 { print $5; exit }' "$blif")
  berkeley-abc -c "read $blif; zero; $script; write_blif $dest.abc" >/dev/null 2>&1
  sed -E "s/^(\.latch +[^ ]+ +[^ ]+) +([0-3])\$/\1 re $clock \2/" "$dest.abc" >"$dest"
}

printf "%-10s %7s %6s %9s %9s %9s %9s\n" design pushes iters plain rtm dretime control
sum_rtm=0; sum_dr=0; sum_ctl=0; n=0
for d in "$@"; do
  blif=$root/bench/$d.blif
  name=$(basename "$d")
  case $d in iscas89_k6/*) k=6 ;; *) k=4 ;; esac
  read -r period fp < <(compile "$out/$name.plain" -o "$out/$name.plain.blif" "$blif")
  read -r _ fr < <(compile "$out/$name.rtm" --clock-period "$period" --test-string "|RTM()" \
    --set fsyn_debug_msg_full=on -o "$out/$name.rtm.blif" "$blif")
  equivalent "$blif" "$out/$name.rtm.blif" ||
    { echo "$0: $name: retimed output not proved equivalent" >&2; exit 1; }
  debug=$out/$name.rtm/fsyn_debug_dump.txt
  pushes=$(grep -c -e "backward_push (): success" -e "forward_push(): success" "$debug" || true)
  iters=$(grep -c "^do_iter: alg=RTM" "$debug" || true)
  abc_map "$blif" "strash; dretime; if -K $k" "$out/$name.dretime.in.blif"
  read -r _ fd < <(compile "$out/$name.dretime" -o "$out/$name.dretime.blif" "$out/$name.dretime.in.blif")
  abc_map "$blif" "strash; if -K $k" "$out/$name.control.in.blif"
  read -r _ fc < <(compile "$out/$name.control" -o "$out/$name.control.blif" "$out/$name.control.in.blif")
  printf "%-10s %7d %6d %9.1f %9.1f %9.1f %9.1f\n" "$name" "$pushes" "$iters" "$fp" "$fr" "$fd" "$fc"
  read -r sum_rtm sum_dr sum_ctl < <(awk -v a="$sum_rtm" -v b="$sum_dr" -v c="$sum_ctl" -v p="$fp" -v r="$fr" \
    -v d="$fd" -v e="$fc" 'BEGIN { print a + log(r / p), b + log(d / p), c + log(e / p) }')
  n=$((n + 1))
done
awk -v a="$sum_rtm" -v b="$sum_dr" -v c="$sum_ctl" -v n="$n" -v f="$family" -v s="$seed" 'BEGIN {
  printf "%s seed %s: geometric mean Fmax ratio to plain: RTM %.4f, dretime %.4f, control %.4f\n",
         f, s, exp(a / n), exp(b / n), exp(c / n) }'
