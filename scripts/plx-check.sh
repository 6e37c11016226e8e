#!/usr/bin/env bash
# Checks the tool link end to end on a design (default: frisc on BRK):
#  1. file mode: the session file parses packet by packet to its end, with
#     the record sizes, the three name tables and one upload per breakpoint
#     holding one node record per atom;
#  2. socket mode: a scripted tool sends an unknown header, "nodeinfo abc" and
#     "run" split over two writes, then "runall"; it must be told
#     "A node ID is required." and the compile must exit 0;
#  3. a tool that hangs up after the first upload leaves the compile to
#     finish with exit 0 and an output ABC finds equivalent to the input.
# Usage: scripts/plx-check.sh [MORV_FIT] [DESIGN.blif]
set -u
here=$(cd "$(dirname "$0")" && pwd)
fit=${1:-$here/../build/release/morv-fit}
design=${2:-$here/../bench/mcnc_k4/frisc.blif}
tool="python3 $here/lib/plx_tool.py"
work=$(mktemp -d "${TMPDIR:-/tmp}/plx-check.XXXXXX")
trap 'rm -rf "$work"' EXIT
fail=0
common=(--family BRK --test-string "TEST()" -q --set fsyn_enable_plumrix=on
        --set fsyn_plumrix_dump_algorithm_netlists=on)

mkdir -p "$work/plain"
atoms=$("$fit" "${common[@]}" -o "$work/plain/out.blif" --aux-dir "$work/plain" "$design" |
        awk '$1 == "input" { print $2 }')

echo "== file mode"
mkdir -p "$work/file"
"$fit" "${common[@]}" --set fsyn_redirect_plx_to_file=on -o "$work/file/out.blif" "$design" > "$work/file/log" 2>&1
rc=$?
echo "exit $rc"
[ $rc -eq 0 ] || fail=1
$tool parse "$work/file/plumrix_session.plx" "$atoms" || fail=1

echo "== socket mode, scripted tool"
mkdir -p "$work/sock"
sock="$work/sock/tool.sock"
$tool serve "$sock" script "$work/sock/received" &
server=$!
sleep 0.5
"$fit" "${common[@]}" --set fsyn_plumrix_endpoint="$sock" -o "$work/sock/out.blif" "$design" > "$work/sock/log" 2>&1
rc=$?
wait $server
echo "exit $rc"
[ $rc -eq 0 ] || fail=1
if $tool texts "$work/sock/received" | grep -x "A node ID is required." > /dev/null; then
    echo "told: A node ID is required."
else
    echo "the tool was not told that a node ID is required"
    fail=1
fi

echo "== socket mode, tool hangs up after the first upload"
mkdir -p "$work/hang"
sock="$work/hang/tool.sock"
$tool serve "$sock" hangup "$work/hang/received" &
server=$!
sleep 0.5
"$fit" "${common[@]}" --set fsyn_plumrix_endpoint="$sock" --set fsyn_debug_msg=on \
    -o "$work/hang/out.blif" "$design" > "$work/hang/log" 2>&1
rc=$?
wait $server
echo "exit $rc"
[ $rc -eq 0 ] || fail=1
if grep -rq "An error occured while trying to read the pipe" "$work/hang"; then
    echo "read warning given"
else
    echo "no read warning"
    fail=1
fi
if command -v berkeley-abc > /dev/null; then
    verdict=$(berkeley-abc -c "dsec $design $work/hang/out.blif" 2>&1 | grep -E "equivalent|NOT|failed" | head -1)
    echo "abc: $verdict"
    case "$verdict" in *"are equivalent"*) ;; *) fail=1 ;; esac
fi

[ $fail -eq 0 ] && echo "plx-check: passed" || echo "plx-check: FAILED"
exit $fail
