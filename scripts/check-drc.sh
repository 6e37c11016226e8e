#!/usr/bin/env bash
# The netlist checks end to end on designs/two_clock_sync.blif: two clock
# domains, the two-register synchroniser sync0 -> sync1 and two crossings
# through LUTs (scripts/make-two-clock-design.py).
#  - The bundled design is the generator's own.
#  - OBRAN, the family with per-instance pipelining: sync0 pipelined by K
#    registers (instance option 668, test string "PIPELINE()") with
#    fsyn_use_drc on. The compile exits 0; the reference step registers one
#    trivial synchroniser of 2 stages, one non-reconvergent and one
#    reconvergent one; after the flow the trivial one has K + 2 stages and
#    the verification ends without an error or a weakened synchroniser. ABC
#    proves the output equivalent to the design with K more synchroniser
#    registers, and not to the design itself.
#  - Every family the checks support (all but UVO) with --optimize and
#    fsyn_use_drc on: every flow that ran
#    is verified without an error (retiming leaves the registers of a
#    crossing where they are); ABC proves the output equivalent to the
#    design.
# A few seconds in all.
#
#   scripts/check-drc.sh [MORV_FIT]    (default build/release/morv-fit)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
fit=${1:-$root/build/release/morv-fit}
design=$root/designs/two_clock_sync.blif
extra=2
[[ -x "$fit" ]] || { echo "check-drc: $fit is not built" >&2; exit 2; }
command -v berkeley-abc >/dev/null || { echo "check-drc: berkeley-abc is missing" >&2; exit 2; }
work=$(mktemp -d "${TMPDIR:-/tmp}/morv-drc.XXXXXX")
trap 'rm -rf "$work"' EXIT

fail() {
  echo "check-drc: $*" >&2
  exit 1
}

python3 "$root/scripts/make-two-clock-design.py" "$work/generated.blif"
cmp -s "$work/generated.blif" "$design" ||
  fail "$design is not what scripts/make-two-clock-design.py writes: rerun it"

# One compile in a folder of its own: NAME FAMILY [options].
compile() {
  local name=$1 family=$2
  shift 2
  mkdir -p "$work/$name"
  "$fit" -q --family "$family" --aux-dir "$work/$name" --set fsyn_use_drc=on --set fsyn_debug_msg=on \
    --set fsyn_dump_drc_tracking=on "$@" -o "$work/$name/out.blif" "$design" >"$work/$name/log" 2>&1 ||
    { local status=$?; cat "$work/$name/log" >&2; fail "$name: morv-fit failed (exit $status)"; }
}

# ABC's verdict on a compile's output against a reference: "proved" or not.
verdict() {
  if berkeley-abc -c "dsec $1 $work/$2/out.blif" 2>&1 | grep -qi "networks are equivalent"; then
    echo proved
  else
    echo not-proved
  fi
}

# Every verification that ran ended without an error; prints how many ran.
verified_flows() {
  local dump=$work/$1/fsyn_debug_dump.txt done errors
  done=$(grep -c '^\*\*\*\*\* DRC COMPLETE' "$dump" || true)
  [[ "$done" -ge 1 ]] || fail "$1: no verification ran"
  errors=$(grep -E '^[0-9]+ total error$' "$dump" | grep -vc '^0 ' || true)
  [[ "$errors" -eq 0 ]] || fail "$1: a verification counted errors, see $dump"
  echo "$done"
}

# "count stages" of the first synchroniser of a class in a tracking dump.
class_of() {
  awk -v class="$2" '$2 == class && $3 == "synchronizers:" { n = $1; getline; print n, $(NF - 1); exit }' "$1"
}

printf 'instance_option=sync0 668 %d\n' "$extra" >"$work/pipeline.settings"
compile pipeline OBRAN --settings "$work/pipeline.settings" --test-string "PIPELINE()"
flows=$(verified_flows pipeline)
pre=$work/pipeline/fsyn_drc_tracking_PRE_LATE.txt
post=$work/pipeline/fsyn_drc_tracking_POST_LATE.txt
[[ -f "$pre" && -f "$post" ]] || fail "pipeline: no tracking dump of the LATE flow"
read -r n stages < <(class_of "$pre" trivial)
[[ "$n" = 1 && "$stages" = 2 ]] || fail "pipeline: before the flow: $n trivial synchronisers, $stages stages (1, 2 expected)"
for class in non-reconvergent reconvergent; do
  read -r n _ < <(class_of "$pre" "$class")
  [[ "$n" = 1 ]] || fail "pipeline: before the flow: $n $class synchronisers (1 expected)"
done
read -r n stages < <(class_of "$post" trivial)
[[ "$n" = 1 && "$stages" = $((extra + 2)) ]] ||
  fail "pipeline: after the flow: $n trivial synchronisers, $stages stages (1, $((extra + 2)) expected)"
grep -q '^0 synchronizer weakening warning$' "$work/pipeline/fsyn_debug_dump.txt" ||
  fail "pipeline: a synchroniser counted as weakened"
python3 "$root/scripts/make-two-clock-design.py" "$work/reference.blif" --extra-sync "$extra"
[[ "$(verdict "$work/reference.blif" pipeline)" = proved ]] ||
  fail "pipeline: not proved equivalent to the design with $extra more synchroniser registers"
[[ "$(verdict "$design" pipeline)" = not-proved ]] || fail "pipeline: equivalent to the design: nothing was added"
echo "check-drc: OBRAN PIPELINE: $flows flow(s) verified, synchroniser 2 -> $((extra + 2)) stages, proved"

for family in BRK ZEPLA TEV MRL KESTLIN RZK OBRAN; do
  compile "optimize_$family" "$family" --optimize
  flows=$(verified_flows "optimize_$family")
  [[ "$(verdict "$design" "optimize_$family")" = proved ]] || fail "optimize_$family: not proved equivalent"
  echo "check-drc: $family --optimize: $flows flow(s) verified, proved"
done
echo "check-drc: all checks passed"
