#!/usr/bin/env bash
# Runs the logic-to-RAM tests (stand-in RAM blocks, free RAM count, family
# RAM utilities; the cluster search: framework, legaliser, growth; RAM
# contents and memory-initialisation files) of a build folder, whole and
# shuffled, and fails unless every one passes, there are at least ten of
# them, at least five cluster tests and at least four contents tests.
# Usage: check-rammap.sh [build folder, default build/test]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build/test}" && pwd)
program="$build/tests/host/rammap/test_host_rammap"
[[ -x "$program" ]] || { echo "check-rammap: $program is not built" >&2; exit 2; }
work=$(mktemp -d "${TMPDIR:-/tmp}/morv-rammap.XXXXXX")
trap 'rm -rf "$work"' EXIT
cd "$work"
MORV_RAMMAP_FRISC=1 "$program" --gtest_filter='RamStandIn*:FreeRamCount*:RamMapUtil*:RamClusterFramework*:RamClusterLegalizer*:RamClusterGrowth*:RamEncoding*:RamMif*:RamMapFlow*:RamBuild*' \
  --gtest_shuffle | tee "$work/log"
passed=$(sed -n 's/^\[  PASSED  \] \([0-9]*\) test.*/\1/p' "$work/log")
if [[ -z "$passed" || "$passed" -lt 10 ]]; then
  echo "check-rammap: ${passed:-0} tests passed, at least 10 expected" >&2
  exit 1
fi
cluster=$(grep -c '^\[       OK \] RamCluster' "$work/log" || true)
if [[ "$cluster" -lt 5 ]]; then
  echo "check-rammap: $cluster cluster tests passed, at least 5 expected" >&2
  exit 1
fi
contents=$(grep -c '^\[       OK \] Ram\(Encoding\|Mif\)' "$work/log" || true)
if [[ "$contents" -lt 4 ]]; then
  echo "check-rammap: $contents RAM contents tests passed, at least 4 expected" >&2
  exit 1
fi
echo "check-rammap: $passed tests passed"

fit="$build/morv-fit"
[[ -x "$fit" ]] || { echo "check-rammap: $fit is not built; mapping runs skipped"; exit 0; }
command -v berkeley-abc > /dev/null || { echo "check-rammap: berkeley-abc is missing" >&2; exit 2; }
map() {  # family design name [more morv-fit options]
  local family=$1 design=$2 name=$3
  shift 3
  mkdir -p "$work/$name"
  (cd "$work/$name" && "$fit" --family "$family" --test-string "RAM_MAP()|TEST()" \
    --set fsyn_ram_map_use_aggressive_srt=on "$@" -o out.blif "$design" > log 2>&1) ||
    { echo "check-rammap: $name: morv-fit failed" >&2; tail -5 "$work/$name/log" >&2; exit 1; }
}
memories() { grep -o 'created [0-9]* memory' "$work/$1/log" | awk '{ s += $2 } END { print s + 0 }'; }
luts_removed() { awk '$1 == "input" { i = $3 } $1 == "back-annotation" { o = $3 } END { print i - o }' "$work/$1/log"; }
proved() {
  timeout -k 5 330 berkeley-abc -c "dsec -T 300 $1 $work/$2/out.blif" 2>&1 | grep -qi "networks are equivalent" ||
    { echo "check-rammap: $2: not proved equivalent" >&2; exit 1; }
}
for run in BRK:sbox_rom_k6 OBRAN:sbox_rom_k6 ZEPLA:sbox_rom_k4; do
  family=${run%%:*} design="$root/designs/${run#*:}.blif" name="sbox_${run%%:*}"
  map "$family" "$design" "$name"
  proved "$design" "$name"
  m=$(memories "$name") removed=$(luts_removed "$name")
  echo "check-rammap: $name: $m memories, $removed LUTs removed, proved"
  [[ "$m" -ge 4 && "$removed" -ge 100 ]] || { echo "check-rammap: $name: too little mapped" >&2; exit 1; }
done
# One set of address registers for four S-boxes: each of the 32 output
# cones is a ROM of its own.
map BRK "$root/designs/sbox_rom_shared_k6.blif" shared_BRK
proved "$root/designs/sbox_rom_shared_k6.blif" shared_BRK
echo "check-rammap: shared_BRK: $(memories shared_BRK) memories, $(luts_removed shared_BRK) LUTs removed, proved"
[[ "$(memories shared_BRK)" -eq 32 ]] || { echo "check-rammap: shared_BRK: not one ROM per output" >&2; exit 1; }
map BRK "$root/bench/mcnc_k4/frisc.blif" frisc_BRK
proved "$root/bench/mcnc_k4/frisc.blif" frisc_BRK
echo "check-rammap: frisc_BRK: $(memories frisc_BRK) memories, $(luts_removed frisc_BRK) LUTs removed, proved"
printf 'family 6\nmigratable_part 2401\n' > "$work/logged_device.txt"
map BRK "$root/designs/sbox_rom_k6.blif" logged --device "$work/logged_device.txt"
[[ "$(memories logged)" -eq 0 ]] || { echo "check-rammap: logged: memories created while logging" >&2; exit 1; }
echo "check-rammap: logged: no memory while the change log is written"
