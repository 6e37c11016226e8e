#!/usr/bin/env bash
# The main job: run morv-fit on a bundled design, then on a public benchmark when present.
set -euo pipefail
build=$1; design=$2
out=$build/out
mkdir -p "$out"
"$build/morv-fit" -o "$out/$(basename "$design" .blif).out.blif" "$design"
bench=../shared/bench/iscas89_k6/s5378.blif
if [ -f "$bench" ]; then
  "$build/morv-fit" -o "$out/s5378.out.blif" "$bench"
fi
