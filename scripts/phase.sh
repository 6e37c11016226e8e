#!/usr/bin/env bash
# Runs one phase of the build or the tests (NAME, then the command) and
# prints its wall time and the CPU time of every process it waited for, so
# that a phase that grows shows in every log. Each line is also appended to
# $MORV_PHASE_LOG (default build/phases.txt), which .ci/run sums up.
set -uo pipefail
name=$1
shift
log=${MORV_PHASE_LOG:-build/phases.txt}
start=$(date +%s.%N)
"$@"
status=$?
end=$(date +%s.%N)
# The second line of `times` is the user and system time of this shell's
# children and of everything they waited for. `times` runs in this shell,
# not in a pipe: a subshell starts with no children of its own.
tfile=$(mktemp)
times >"$tfile"
read -r user sys < <(tail -n 1 "$tfile")
rm -f "$tfile"
seconds() { awk -v t="$1" 'BEGIN { split(t, a, "m"); sub("s", "", a[2]); printf "%.1f", a[1] * 60 + a[2] }'; }
user=$(seconds "$user")
sys=$(seconds "$sys")
wall=$(awk -v a="$start" -v b="$end" 'BEGIN { printf "%.1f", b - a }')
line=$(printf '%-32s wall %7.1f s   CPU %7.1f s (user %.1f + system %.1f)' "$name" "$wall" \
  "$(awk -v u="$user" -v s="$sys" 'BEGIN { print u + s }')" "$user" "$sys")
echo "phase $line"
mkdir -p "$(dirname "$log")"
printf '%s\t%s\t%s\t%s\t%s\n' "$name" "$wall" "$user" "$sys" "$status" >>"$log"
exit $status
