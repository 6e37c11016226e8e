#!/usr/bin/env bash
# Quality of results per family: for every design and seed, the plain
# compile, the compile with --optimize at the plain run's clock period, and
# ABC's own optimisation ("strash; dch; if -K K; mfs2" with the family's LUT
# size) followed by the plain compile at that period. Prints per design the
# mean Fmax of the three over the seeds, the ratios optimised/plain,
# ABC/plain and optimised/ABC, the lowest per-seed optimised/plain ratio and
# ABC's verdict on every output (sequential when the design has registers),
# then per family the geometric means. A design a family cannot load is
# listed as such and left out of the means. Exits non-zero when an output is
# proved different.
#
#   scripts/qor-figures.sh [-b MORV_FIT] [-f "FAMILIES"] [-s "SEEDS"] [-j JOBS] [-o OUTDIR] [DESIGN...]
#
# DESIGN is a path under bench/ without ".blif" (default: every bench design).
# DSEC_LIMIT (seconds, default 600) bounds each dsec run; where dsec cannot
# decide, the design and the output run side by side from the power-up state
# on morv-cosim beside MORV_FIT (SIM_FRAMES random cycles, default 10000).
# Not part of the tests: a full run takes an hour or more.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/scripts/lib/fmax-figures.sh"
fit=$root/build/release/morv-fit
families="BRK ZEPLA"
seeds="1 2 3"
jobs=$(nproc)
out=${TMPDIR:-/tmp}/morv-qor-figures
usage="usage: $0 [-b MORV_FIT] [-f \"FAMILIES\"] [-s \"SEEDS\"] [-j JOBS] [-o OUTDIR] [DESIGN...]"
while getopts "b:f:s:j:o:" opt; do
  case $opt in
  b) fit=$OPTARG ;; f) families=$OPTARG ;; s) seeds=$OPTARG ;; j) jobs=$OPTARG ;; o) out=$OPTARG ;;
  *) echo "$usage" >&2; exit 1 ;;
  esac
done
shift $((OPTIND - 1))
designs=("$@")
if [ ${#designs[@]} -eq 0 ]; then
  for f in "$root"/bench/*/*.blif; do designs+=("$(basename "$(dirname "$f")")/$(basename "$f" .blif)"); done
fi
dsec_limit=${DSEC_LIMIT:-600}
export SIM_FRAMES=${SIM_FRAMES:-10000}
figure_setup

# The LUT size ABC maps to for a family.
lut_size() {
  case $1 in
  BRK | OBRAN | RZK | KESTLIN) echo 6 ;;
  *) echo 4 ;;
  esac
}

# ABC's verdict on OUTPUT against the design: proved, NOT-PROVED, or
# undecided with the simulation's answer.
verdict_of() {
  if grep -q '^\.latch' "$1"; then
    seq_verdict "$1" "$2"
  elif berkeley-abc -c "cec $1 $2" 2>&1 | grep -qiE "networks are equivalent"; then
    echo proved
  else
    echo NOT-PROVED
  fi
}

# One design, family and seed: writes one line "design family seed plain opt
# abc verdict_opt verdict_abc" to its result file, or "design family seed
# unloadable" when the plain compile refuses it.
one_run() {
  local d=$1 family=$2 s=$3 name period fmax_p fmax_o fmax_a
  name=$(basename "$d")
  local p=$out/$family/$name.$s blif=$root/bench/$d.blif
  mkdir -p "$out/$family"
  if ! read -r period fmax_p _ _ < <(compile "$p.plain.log" --seed "$s" --aux-dir "$p.plain.aux" -o "$p.plain.blif" \
    "$blif" 2>/dev/null); then
    echo "$name $family $s unloadable" >"$p.result"
    return
  fi
  read -r _ fmax_o _ _ < <(compile "$p.opt.log" --seed "$s" --clock-period "$period" --optimize --aux-dir "$p.opt.aux" \
    -o "$p.opt.blif" "$blif")
  berkeley-abc -c "read $blif; strash; dch; if -K $(lut_size "$family"); mfs2; write_blif $p.abc-in.blif" \
    >"$p.abc.txt" 2>&1
  # ABC writes latches without their clock: name the design's.
  local clock
  clock=$(awk '/^\.latch/ && NF >= 5 { print $5; exit }' "$blif")
  read -r _ fmax_a _ _ < <(compile "$p.abc.log" --seed "$s" --clock-period "$period" --aux-dir "$p.abc.aux" \
    ${clock:+--clock "$clock"} -o "$p.abc.blif" "$p.abc-in.blif")
  echo "$name $family $s $fmax_p $fmax_o $fmax_a $(verdict_of "$blif" "$p.opt.blif") $(verdict_of "$blif" \
    "$p.abc.blif")" >"$p.result"
}
export -f one_run compile verdict_of seq_verdict dsec_verdict lut_size
export fit out root dsec_limit

for family in $families; do
  for d in "${designs[@]}"; do
    for s in $seeds; do echo "$d $family $s"; done
  done
done | xargs -P "$jobs" -L 1 bash -c 'family=$1 one_run "$0" "$1" "$2"' || true

status=0
for family in $families; do
  echo
  echo "$family: Fmax in MHz, mean over seeds $seeds; ratios are geometric means over the seeds"
  printf "%-22s %9s %9s %9s %8s %8s %8s %8s  %s\n" design plain optimised abc opt/pl abc/pl opt/abc lowest \
    "ABC verdicts (optimised; abc)"
  for d in "${designs[@]}"; do cat "$out/$family/$(basename "$d")".*.result 2>/dev/null || true; done | awk '
    $4 == "unloadable" { bad[$1] = 1; order[$1] = order[$1] ? order[$1] : ++n; names[n] = $1; next }
    {
      if (!($1 in order)) { order[$1] = ++n; names[n] = $1 }
      k = $1; c[k]++; p[k] += $4; o[k] += $5; a[k] += $6
      lo[k] += log($5 / $4); la[k] += log($6 / $4); loa[k] += log($5 / $6)
      r = $5 / $4; if (!(k in low) || r < low[k]) low[k] = r
      v[k] = v[k] (v[k] == "" ? "" : " ") $7 ";" $8
      if ($7 ~ /NOT-PROVED|SIM-DIFFERENT/ || $8 ~ /NOT-PROVED|SIM-DIFFERENT/) failed = 1
      if ($7 ~ /SIM-NO-ANSWER/ || $8 ~ /SIM-NO-ANSWER/) unanswered = 1
    }
    END {
      for (i = 1; i <= n; ++i) {
        k = names[i]
        if (!(k in c)) { printf "%-22s (does not load)\n", k; continue }
        printf "%-22s %9.1f %9.1f %9.1f %8.4f %8.4f %8.4f %8.4f  %s\n", k, p[k] / c[k], o[k] / c[k], a[k] / c[k],
               exp(lo[k] / c[k]), exp(la[k] / c[k]), exp(loa[k] / c[k]), low[k], v[k]
        go += lo[k] / c[k]; ga += la[k] / c[k]; goa += loa[k] / c[k]; m++
        if (low[k] < 1) slower++
      }
      if (m > 0)
        printf "geomean over %d designs: optimised/plain %.4f, abc/plain %.4f, optimised/abc %.4f; %d designs slower than plain on some seed\n",
               m, exp(go / m), exp(ga / m), exp(goa / m), slower
      if (unanswered) print "some outputs were neither proved nor simulated (SIM-NO-ANSWER): ABC gave no answer"
      exit failed
    }' || { echo "$0: $family: an output was proved different" >&2; status=1; }
done
exit $status
