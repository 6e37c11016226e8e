#!/usr/bin/env bash
# Placement figures of morv-fit: how placement time grows with the design
# (concatenated copies of a benchmark) and how stable the result is across
# placer seeds.
#
#   benchmarks/placer_figures.sh [-b MORV_FIT] [-c CPU] [-r REPEATS] [-o OUTDIR] [scaling] [quality]
#
# Every run is pinned to one core (taskset -c CPU) because other work on the
# machine makes wall-clock times noisy; the times reported are the CPU times
# morv-fit prints per step, the smallest of REPEATS runs. Peak memory is the
# maximum resident set size of the whole morv-fit process.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
fit=$root/build/release/tools/morv-fit/morv-fit
cpu=0
repeats=1
out=${TMPDIR:-/tmp}/morv-placer-figures
parts=()
while [ $# -gt 0 ]; do
  case $1 in
  -b) fit=$2; shift 2 ;;
  -c) cpu=$2; shift 2 ;;
  -r) repeats=$2; shift 2 ;;
  -o) out=$2; shift 2 ;;
  scaling | quality) parts+=("$1"); shift ;;
  *) echo "usage: $0 [-b MORV_FIT] [-c CPU] [-r REPEATS] [-o OUTDIR] [scaling] [quality]" >&2; exit 1 ;;
  esac
done
[ ${#parts[@]} -gt 0 ] || parts=(scaling quality)
[ -x "$fit" ] || { echo "$0: no morv-fit at '$fit' (build Release first or pass -b)" >&2; exit 1; }
out=$(mkdir -p "$out" && cd "$out" && pwd)
fit=$(cd "$(dirname "$fit")" && pwd)/$(basename "$fit")

# One run: prints "atoms placement_s total_s peak_kb fmax_mhz wirelength starts".
run_once() {
  local design=$1 seed=$2 log=$out/run.log
  # From the output folder: morv-fit writes its delay file where it runs.
  (cd "$out" && /usr/bin/time -f "PEAK %M" taskset -c "$cpu" "$fit" -v --seed "$seed" "$design") >"$log" 2>&1 ||
    { echo "$0: morv-fit failed on $design, see $log" >&2; exit 1; }
  awk '
    /^step /                   { off = $NF == "analyses" ? 1 : 0 }
    /^-----/                   { table = 1; next }
    table && /^input /         { atoms = $2 }
    table && /^placement /     { place = $(NF - off) }
    table && NF >= 8           { total += $(NF - off); fmax = $(NF - 1 - off) }
    /^morv-fit: placed .*wirelength/ { wl = $NF; starts = 1; if (match($0, /\([0-9]+ start/)) starts = substr($0, RSTART + 1, RLENGTH - 7) + 0 }
    /^PEAK/             { peak = $2 }
    END { printf "%d %.3f %.3f %d %s %d %d\n", atoms, place, total, peak, fmax, wl, starts }' "$log"
}

# Smallest placement time of REPEATS runs (the rest of the line from that run).
run_best() {
  local best="" line
  for _ in $(seq "$repeats"); do
    line=$(run_once "$1" "$2")
    if [ -z "$best" ] || awk -v a="$line" -v b="$best" 'BEGIN { split(a, x); split(b, y); exit !(x[2] < y[2]) }'; then
      best=$line
    fi
  done
  echo "$best"
}

scaling() {
  local name=$1 src=$2 max=$3 table=$out/scaling_$1.txt
  : >"$table"
  echo "== placement time over copies of $name (core $cpu, best of $repeats)"
  printf "%7s %8s %12s %10s %10s %12s %7s %14s\n" copies atoms "place (s)" "total (s)" "peak (MB)" "bytes/atom" starts \
    "s per anneal"
  for k in $(seq "$max"); do
    local big=$out/${name}_x$k.blif
    [ -s "$big" ] || bash "$root/scripts/concat-blif.sh" "$k" "$src" >"$big"
    read -r atoms place total peak _ _ starts <<<"$(run_best "$big" 1)"
    echo "$k $atoms $place $total $peak $starts" >>"$table"
    awk -v k="$k" -v a="$atoms" -v p="$place" -v t="$total" -v m="$peak" -v s="$starts" \
      'BEGIN { printf "%7d %8d %12.2f %10.2f %10.1f %12.0f %7d %14.2f\n", k, a, p, t, m / 1024, m * 1024 / a, s, p / s }'
  done
  # Least-squares slope of log(time) over log(atoms), for the whole
  # placement and for one anneal (small designs run several).
  awk '{ x = log($2); y = log($3); z = log($3 / ($6 > 0 ? $6 : 1)); n++; sx += x; sy += y; sz += z
         sxx += x * x; sxy += x * y; sxz += x * z }
       END { d = n * sxx - sx * sx
             printf "growth: placement time ~ atoms^%.2f, one anneal ~ atoms^%.2f\n", (n * sxy - sx * sy) / d, (n * sxz - sx * sz) / d }' "$table"
}

quality() {
  local designs=(mcnc_k4/bigkey mcnc_k4/diffeq mcnc_k4/dsip mcnc_k4/elliptic mcnc_k4/frisc mcnc_k4/s298
                 mcnc_k4/s38417 mcnc_k4/tseng iscas89_k6/s1423 iscas89_k6/s5378 iscas89_k6/s9234.1)
  local table=$out/quality.txt
  : >"$table"
  echo "== Fmax and wirelength over seeds 1 2 3 (normal effort)"
  printf "%-10s %8s %8s %8s %8s %9s %9s %9s %8s\n" design "Fmax 1" "Fmax 2" "Fmax 3" spread "WL 1" "WL 2" "WL 3" "place s"
  for d in "${designs[@]}"; do
    local f=() w=() t=0
    for seed in 1 2 3; do
      read -r _ place _ _ fmax wl _ <<<"$(run_once "$root/bench/$d.blif" "$seed")"
      f+=("$fmax"); w+=("$wl"); t=$(awk -v a="$t" -v b="$place" 'BEGIN { print a + b }')
    done
    local name=${d#*/}
    echo "$name ${f[*]} ${w[*]}" >>"$table"
    printf "%-10s %8s %8s %8s %8.3f %9s %9s %9s %8.2f\n" "$name" "${f[@]}" \
      "$(printf "%s\n" "${f[@]}" | awk 'NR == 1 || $1 > mx { mx = $1 } NR == 1 || $1 < mn { mn = $1 } END { print mx / mn }')" \
      "${w[@]}" "$t"
  done
  awk '{ mx = $2; mn = $2; for (i = 3; i <= 4; ++i) { if ($i > mx) mx = $i; if ($i < mn) mn = $i }; print mx / mn }' \
    "$table" | sort -g | awk '{ s[++n] = $1 }
      END { printf "spread (max/min Fmax over seeds): median design %.3f, worst design %.3f\n", s[int((n + 1) / 2)], s[n] }'
  awk '{ for (i = 2; i <= 4; ++i) lf += log($i); for (i = 5; i <= 7; ++i) lw += log($i); n += 3 }
       END { printf "geometric mean: Fmax %.2f MHz, wirelength %.0f\n", exp(lf / n), exp(lw / n) }' "$table"
}

for p in "${parts[@]}"; do
  case $p in
  scaling)
    scaling stereovision0 "$root/bench/misc_k6/stereovision0.lut6.blif" 5
    scaling s38417 "$root/bench/mcnc_k4/s38417.blif" 8
    ;;
  quality) quality ;;
  esac
done
