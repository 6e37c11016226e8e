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
"$program" --gtest_filter='RamStandIn*:FreeRamCount*:RamMapUtil*:RamClusterFramework*:RamClusterLegalizer*:RamClusterGrowth*:RamEncoding*:RamMif*' \
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
