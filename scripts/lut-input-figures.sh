#!/usr/bin/env bash
# Fmax gained by one LATE-flow algorithm on MRL: for each design and seed, a
# plain compile (the LATE flow runs TEST, which changes nothing, so both
# compiles share one placement) and a compile at the plain one's clock period
# running the algorithm at LATE only. Every output is checked with ABC.
# Prints per-seed ratios, the per-design geometric mean and the geometric mean
# over the designs. Long: not part of the tests.
#
#   scripts/lut-input-figures.sh build/release LIR [work-folder]
set -euo pipefail

build=${1:?build folder}
algorithm=${2:?algorithm name, e.g. LIR or INV_PUSH}
work=${3:-$(mktemp -d)}
root=$(cd "$(dirname "$0")/.." && pwd)
fit="$build/morv-fit"
mkdir -p "$work"

designs="mcnc_k4/bigkey mcnc_k4/diffeq mcnc_k4/dsip mcnc_k4/elliptic mcnc_k4/frisc mcnc_k4/s298 mcnc_k4/tseng
iscas89_k6/s1423 iscas89_k6/s5378 iscas89_k6/s9234.1"

# The Fmax of the last row of the summary table.
fmax_of() { awk '/^back-annotation/ {f = $(NF - 2)} END {print f}' "$1"; }

printf '%-10s %4s %10s %10s %10s %8s %s\n' design seed plain_MHz algo_MHz ratio changes equivalent
results="$work/ratios.txt"
: >"$results"
for d in $designs; do
    name=$(basename "$d")
    input="$root/bench/$d.blif"
    for seed in 1 2 3; do
        dir="$work/$name-$seed"
        mkdir -p "$dir"
        "$fit" --family MRL --seed "$seed" -q --test-string "TEST()" -o "$dir/plain.blif" "$input" >"$dir/plain.txt" 2>&1
        period=$(awk '/^clock period/ {print $3}' "$dir/plain.txt")
        "$fit" --family MRL --seed "$seed" -q --clock-period "$period" --test-string "$algorithm()" \
            --set fsyn_debug_msg_full=on -o "$dir/algo.blif" "$input" >"$dir/algo.txt" 2>&1
        a=$(fmax_of "$dir/plain.txt")
        b=$(fmax_of "$dir/algo.txt")
        changes=$(grep -c -e "Remapping oterm" -e "Good! Do" "$dir/fsyn_debug_dump.txt" 2>/dev/null || true)
        if berkeley-abc -c "dsec $input $dir/algo.blif" 2>&1 | grep -q "Networks are equivalent"; then eq=yes; else eq=NO; fi
        ratio=$(awk -v a="$a" -v b="$b" 'BEGIN {printf "%.4f", b / a}')
        printf '%-10s %4s %10s %10s %10s %8s %s\n' "$name" "$seed" "$a" "$b" "$ratio" "${changes:-0}" "$eq"
        echo "$name $ratio" >>"$results"
    done
done
awk '{s[$1] += log($2); n[$1]++} END {
    for (d in s) {g = exp(s[d] / n[d]); printf "geomean %-10s %.4f\n", d, g; t += log(g); m++}
    printf "geomean over %d designs: %.4f\n", m, exp(t / m)}' "$results"
