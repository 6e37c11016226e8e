#!/usr/bin/env bash
# Runs every test program of a build folder once as one whole process with
# its cases shuffled, in a fresh scratch folder of its own. ctest runs each
# case in a process of its own; this catches cases that pass only that way
# (state left behind by an earlier case, ids assumed from a fresh process).
set -euo pipefail
build=$(cd "$1" && pwd)
jobs=${2:-$(nproc)}
seed=${MORV_SHUFFLE_SEED:-$(( $(date +%s) % 10000 ))}
echo "Whole test programs, shuffled with seed $seed"
programs=$(find "$build/tests" -type f -name 'test_*' -perm -u+x | sort)
run_one() {
  local prog=$1 seed=$2 work
  work=$(mktemp -d "${TMPDIR:-/tmp}/morv-whole.XXXXXX")
  if (cd "$work" && "$prog" --gtest_shuffle --gtest_random_seed="$seed" >"$work/log" 2>&1); then
    echo "ok    $(basename "$prog")"
    rm -rf "$work"
  else
    echo "FAIL  $(basename "$prog") (seed $seed, log below)"
    tail -n 60 "$work/log"
    rm -rf "$work"
    return 1
  fi
}
export -f run_one
echo "$programs" | xargs -P "$jobs" -I{} bash -c 'run_one "$@"' _ {} "$seed"
