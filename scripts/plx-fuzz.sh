#!/usr/bin/env bash
# A longer run of the tool-link fuzz test under the sanitizers (about a
# minute with the default count): random and mutated tool streams played at
# an interactive breakpoint, then a hang-up at every offset of a session.
# Usage: scripts/plx-fuzz.sh [ITERATIONS] [SEED] [BUILD_DIR]
set -eu
here=$(cd "$(dirname "$0")" && pwd)
iterations=${1:-75000}
seed=${2:-$RANDOM}
build=${3:-$here/../build/test}
program="$build/tests/host/debug/test_host_debug"
[ -x "$program" ] || { echo "plx-fuzz: $program is not built" >&2; exit 1; }
work=$(mktemp -d "${TMPDIR:-/tmp}/plx-fuzz.XXXXXX")
trap 'rm -rf "$work"' EXIT
echo "plx-fuzz: $iterations streams, seed $seed"
cd "$work"
PLX_FUZZ_ITERATIONS=$iterations PLX_FUZZ_SEED=$seed timeout 1200 "$program" --gtest_filter='PlxFuzz.*'
