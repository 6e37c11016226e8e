#!/usr/bin/env bash
# Plays hostile manual-operations scripts on a design (default: frisc on
# BRK) and runs UTIL(DUMP_TIMING=1): every compile must exit 0 within two
# minutes, report each malformed script line with its line number, and leave
# an output ABC proves equivalent to the input; a script name that names a
# folder or nothing must be refused (exit 1) naming it. Then the latch-legaliser
# test on the MRL latch sample: without moves and with every edit, each
# compile exits 0 and its coverage report counts each of the sample's five
# latches once (its edits change the latches' function on purpose, so ABC
# has nothing to prove there).
# Usage: scripts/manual-check.sh [MORV_FIT] [DESIGN.blif]
set -u
here=$(cd "$(dirname "$0")" && pwd)
fit=${1:-$here/../build/release/morv-fit}
design=${2:-$here/../bench/mcnc_k4/frisc.blif}
work=$(mktemp -d "${TMPDIR:-/tmp}/manual-check.XXXXXX")
trap 'rm -rf "$work"' EXIT
fail=0

scripts="$work/scripts"
mkdir -p "$scripts/folder"
: > "$scripts/empty.txt"
printf 'FP 3\nfoo 4\nResyn 5\n\nfp 3\n' > "$scripts/keywords.txt"
printf 'split\nfp 3\nbp\n' > "$scripts/keyword_only.txt"
printf 'fp 17abc\nbp -3\ndemux 0x10\nsplit 12345678901234567890\n' > "$scripts/bad_ids.txt"
printf 'fp 99999999\nresyn 2147483647\ndemux 999999\n' > "$scripts/no_atom.txt"
{ printf 'fp 3'; printf '%0300d' 0 | tr 0 ' '; printf '\nresyn 4\n'; } > "$scripts/long_line.txt"
printf 'fp 3\001\nresyn \0003\n\033[2Jsplit 3\n' > "$scripts/control.txt"
printf 'resyn 3\r\nresyn 10\r\nresyn 20\r\n' > "$scripts/windows.txt"
# The malformed lines each script must report, as "line N".
declare -A want=([keyword_only.txt]="1 3" [bad_ids.txt]="1 2 3 4" [long_line.txt]="1" [control.txt]="1 2")

run() {
    local name=$1 test_string=$2 dir="$work/run_$1"
    mkdir -p "$dir"
    local start=$SECONDS
    timeout 120 "$fit" --family BRK --set fsyn_read_manual_ops_file=on --set fsyn_debug_msg=on -q \
        --test-string "$test_string" --aux-dir "$dir" -o "$dir/out.blif" "$design" > "$dir/log" 2>&1
    local rc=$?
    local verdict="abc: not run"
    if command -v berkeley-abc > /dev/null && [ -f "$dir/out.blif" ]; then
        verdict=$(berkeley-abc -c "dsec $design $dir/out.blif" 2>&1 | grep -E "equivalent|NOT|failed" | head -1)
        case "$verdict" in *"are equivalent"*) ;; *) fail=1 ;; esac
    fi
    echo "$name: exit $rc in $((SECONDS - start)) s; $verdict"
    [ $rc -eq 0 ] || fail=1
    local lines
    lines=$(cat "$dir"/*debug* 2>/dev/null | grep -o "fsyn manual file '[^']*' line [0-9]*" | awk '{print $NF}' | xargs)
    if [ -n "${want[$name]:-}" ] && [ "$lines" != "${want[$name]}" ]; then
        echo "  reported lines '$lines', wanted '${want[$name]}'"
        fail=1
    fi
}

for file in empty.txt keywords.txt keyword_only.txt bad_ids.txt no_atom.txt long_line.txt control.txt windows.txt; do
    run "$file" "MANUAL(FILE=$scripts/$file)"
done
# A script name that names a folder or nothing is refused before the
# compile (exit 1), naming it, and writes no output.
for file in folder missing.txt; do
    dir="$work/run_$file"
    mkdir -p "$dir"
    timeout 120 "$fit" --family BRK --set fsyn_read_manual_ops_file=on -q --test-string "MANUAL(FILE=$scripts/$file)" \
        --aux-dir "$dir" -o "$dir/out.blif" "$design" > "$dir/log" 2>&1
    rc=$?
    echo "$file: exit $rc"
    if [ $rc -ne 1 ] || ! grep -qF "$scripts/$file" "$dir/log" || [ -e "$dir/out.blif" ]; then fail=1; fi
done
run dump_timing "UTIL(DUMP_TIMING=1)"

latch_run() {
    local name=$1 test_string=$2 dir="$work/latch_$1"
    mkdir -p "$dir"
    local start=$SECONDS
    timeout 120 "$fit" --family MRL --set fsyn_debug_msg=on -q --test-string "$test_string" --aux-dir "$dir" \
        -o "$dir/out.blif" "$here/../designs/latch_mrl.txt" > "$dir/log" 2>&1
    local rc=$?
    # The report of the last run of the test: one line per latch type.
    local cases
    cases=$(cat "$dir"/*debug* 2>/dev/null | awk '/LLT: latch types covered/ { n = 0 }
        /# of cases = / { n += $NF } END { print n + 0 }')
    echo "latch $name: exit $rc in $((SECONDS - start)) s; latches in the coverage report: $cases"
    [ $rc -eq 0 ] && [ "$cases" -ge 5 ] || fail=1
}
latch_run no_moves "UTIL(REG_TEST_LATCH_LEG=1:LLT_NUM_MOVES=0)"
latch_run every_edit "UTIL(REG_TEST_LATCH_LEG=1:LLT_PROB_CLR_REMOVE=1:LLT_PROB_PRS_REMOVE=1:LLT_PROB_DATA_EN_REMOVE=1:LLT_PROB_DOM_SWITCH=1)"

[ $fail -eq 0 ] && echo "manual-check: passed" || echo "manual-check: FAILED"
exit $fail
