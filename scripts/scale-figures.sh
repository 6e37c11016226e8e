#!/usr/bin/env bash
# Scaling figures of morv-fit: compiles 1, 2, 4 and 8 side-by-side copies of a
# design (scripts/concat-blif.sh), plain and with every physical-synthesis
# setting on, and prints per run the CPU time, the peak resident memory and
# the memory per atom, then per compile kind the growth exponent of time and
# of peak memory (least-squares slope of log(value) against log(copies)) and
# how far the memory per atom strays from its mean.
#
#   scripts/scale-figures.sh [-d DESIGN.blif] [-f FAMILY] [-s SEED] [-p PERIOD_PS] [-c "COPIES..."]
#                            [-C CPU] [-o OUTDIR] RELEASE_BUILD_DIR
#
# Both kinds of compile of every size run with one clock period, by default
# the one morv-fit derives for a single copy, so that the optimised compile
# works on the same timing problem as the plain one. N copies run on the
# family's built-in device grown to N times its area (its grid's side times
# the root of N, RAM and DSP columns where the built-in device has them), so
# that every size finds the same room per copy; one copy runs on the built-in
# device itself. Times are CPU seconds
# (user and system) of the whole process, which other work on the machine
# disturbs less than wall time; runs are pinned to core CPU (default 0, -C ''
# for no pinning). Not part of the tests: a full run takes several minutes.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
design=$root/bench/misc_k6/stereovision0.lut6.blif
family=BRK
seed=1
period=""
copies_list="1 2 4 8"
cpu=0
out=${TMPDIR:-/tmp}/morv-scale-figures
usage="usage: $0 [-d DESIGN.blif] [-f FAMILY] [-s SEED] [-p PERIOD_PS] [-c \"COPIES...\"] [-C CPU] [-o OUTDIR] RELEASE_BUILD_DIR"
while getopts "d:f:s:p:c:C:o:" opt; do
  case $opt in
    d) design=$OPTARG ;;
    f) family=$OPTARG ;;
    s) seed=$OPTARG ;;
    p) period=$OPTARG ;;
    c) copies_list=$OPTARG ;;
    C) cpu=$OPTARG ;;
    o) out=$OPTARG ;;
    *) echo "$usage" >&2; exit 1 ;;
  esac
done
shift $((OPTIND - 1))
[ $# -eq 1 ] || { echo "$usage" >&2; exit 1; }
fit=$1/morv-fit
[ -x "$fit" ] || { echo "$0: no morv-fit in '$1' (build Release there first)" >&2; exit 1; }
[ -r "$design" ] || { echo "$0: cannot read '$design'" >&2; exit 1; }
for n in $copies_list; do
  [[ $n =~ ^[1-9][0-9]*$ ]] || { echo "$0: '$n' is not a number of copies" >&2; exit 1; }
done
fit=$(cd "$(dirname "$fit")" && pwd)/morv-fit
mkdir -p "$out"
out=$(cd "$out" && pwd)

# Family code and built-in grid side of each family's device.
case $family in
  BRK) code=6 side=84 ;;
  ZEPLA) code=9 side=64 ;;
  TEV) code=10 side=64 ;;
  MRL) code=24 side=64 ;;
  KESTLIN) code=34 side=72 ;;
  RZK) code=41 side=72 ;;
  OBRAN) code=42 side=72 ;;
  UVO) code=47 side=40 ;;
  *) echo "$0: unknown family '$family'" >&2; exit 1 ;;
esac

# The device for N copies: the built-in one, its side grown by sqrt(N).
write_device() {
  local n=$1 file=$2
  awk -v n="$n" -v code="$code" -v side="$side" 'BEGIN {
    g = side * sqrt(n); if (g > int(g)) g = int(g) + 1
    printf "family %d\ngrid %d %d\n", code, g, g
    for (x = 8; x < g - 1; x += 16) printf "ram_column %d\n", x
    for (x = 12; x < g - 1; x += 16) printf "dsp_column %d\n", x
  }' >"$file"
}

every_setting=(--set 659=on --set 660=on --set 662=on --set 663=on --set 664=on --set 665=on)
pin=()
[ -z "$cpu" ] || pin=(taskset -c "$cpu")

# One compile in its own folder; prints "atoms cpu_seconds peak_kb".
compile() {
  local kind=$1 n=$2
  local dir=$out/$kind-$n
  shift 2
  rm -rf "$dir" && mkdir -p "$dir"
  local device=()
  [ "$n" -eq 1 ] || device=(--device "$out/device-$n.txt")
  (cd "$dir" && /usr/bin/time -f "CPU %U %S PEAK %M" "${pin[@]}" "$fit" --family "$family" --seed "$seed" \
    "${device[@]}" "$@" -o "$dir/out.blif" "$out/copies-$n.blif") >"$dir/log" 2>&1 ||
    { echo "$0: morv-fit failed on $n copies ($kind), see $dir/log" >&2; exit 1; }
  awk '/^-----/ { table = 1; next }
       table && /^input / { atoms = $2; table = 0 }
       /^CPU .* PEAK/     { cpu = $2 + $3; peak = $5 }
       END { printf "%d %.2f %d\n", atoms, cpu, peak }' "$dir/log"
}

for n in $copies_list; do
  "$root/scripts/concat-blif.sh" "$n" "$design" >"$out/copies-$n.blif"
  write_device "$n" "$out/device-$n.txt"
done
if [ -z "$period" ]; then
  first=${copies_list%% *}
  compile derive "$first" >/dev/null
  period=$(awk '/^clock period: [0-9]+ ps/ { print $3; exit }' "$out/derive-$first/log")
  [ -n "$period" ] || { echo "$0: no derived clock period in $out/derive-$first/log" >&2; exit 1; }
fi

echo "design $(basename "$design"), family $family, seed $seed, clock period $period ps"
printf "%6s %8s | %9s %9s %8s | %9s %9s %8s | %6s %6s\n" copies atoms plain_s plain_MB B/atom opt_s opt_MB B/atom \
  t_ratio m_ratio
rows=()
for n in $copies_list; do
  line=$(compile plain "$n" --clock-period "$period")
  read -r atoms pt pk <<<"$line"
  line=$(compile opt "$n" --clock-period "$period" "${every_setting[@]}")
  read -r _ ot ok <<<"$line"
  rows+=("$n $atoms $pt $pk $ot $ok")
  awk -v n="$n" -v a="$atoms" -v pt="$pt" -v pk="$pk" -v ot="$ot" -v ok="$ok" 'BEGIN {
    printf "%6d %8d | %9.2f %9.1f %8.0f | %9.2f %9.1f %8.0f | %6.2f %6.2f\n",
      n, a, pt, pk / 1024, pk * 1024 / a, ot, ok / 1024, ok * 1024 / a, ot / pt, ok / pk }'
done

# Growth exponents: slope of log(y) on log(copies) by least squares; memory
# per atom: largest distance from the mean, as a share of the mean.
printf "%s\n" "${rows[@]}" | awk '
  function slope(col,    i, sx, sy, sxx, sxy, x, y) {
    sx = sy = sxx = sxy = 0
    for (i = 1; i <= m; ++i) {
      x = log(c[i]); y = log(v[i, col])
      sx += x; sy += y; sxx += x * x; sxy += x * y
    }
    return (m * sxx - sx * sx) > 0 ? (m * sxy - sx * sy) / (m * sxx - sx * sx) : 0
  }
  function spread(col,    i, mean, d, worst) {
    mean = 0
    for (i = 1; i <= m; ++i) mean += v[i, col] / v[i, 2]
    mean /= m
    worst = 0
    for (i = 1; i <= m; ++i) { d = v[i, col] / v[i, 2] / mean - 1; if (d < 0) d = -d; if (d > worst) worst = d }
    return worst * 100
  }
  { ++m; c[m] = $1; for (j = 1; j <= NF; ++j) v[m, j] = $j }
  END {
    printf "growth exponent       time   memory   (memory per atom: largest distance from the mean)\n"
    printf "plain               %6.3f   %6.3f   %5.1f %%\n", slope(3), slope(4), spread(4)
    printf "every setting on    %6.3f   %6.3f   %5.1f %%\n", slope(5), slope(6), spread(6)
  }'
