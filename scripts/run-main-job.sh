#!/usr/bin/env bash
# The main job: run morv-fit on the chosen bundled design, on the other
# bundled designs, then on a public benchmark when present. Everything a run
# writes (netlists, the component's delay and debug files) lands in BUILD/out;
# inputs are never written.
set -euo pipefail
root=$(pwd)
build=$(cd "$1" && pwd)
design=${2:-designs/pipeline.blif}
out=$build/out
mkdir -p "$out"

run() {
  local in
  in=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
  local name
  name=$(basename "$in" .blif)
  echo "==== morv-fit $1"
  shift
  (cd "$out" && "$build/morv-fit" --seed 1 "$@" -o "$name.out.blif" "$in")
}

run "$design"
for d in "$root"/designs/*.blif; do
  [ "$d" -ef "$design" ] || run "$d"
done
bench=$root/bench/mcnc_k4/frisc.blif
if [ -f "$bench" ]; then
  # The benchmark also goes through the early and late flow points with the
  # test algorithm, so the whole flow driver shows in the output.
  run "$bench" --test-string "TEST()|TEST()"
fi
