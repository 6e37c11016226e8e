#!/usr/bin/env bash
# The main job: every bundled design (designs/*.blif) and two public
# benchmarks, each compiled plain and with --optimize at the same clock
# period and seed, then one summary table: atoms, Fmax plain -> optimised
# and their ratio, LUTs and registers of both outputs, the compile time of
# each (CPU seconds), and ABC's verdict on both outputs (cec without
# registers, dsec with them). The reference for ABC is the design itself, or,
# where ABC cannot read it (gate-level flip-flops with a reset), the plain
# output, which is the design as read. Exits non-zero when a compile fails
# or, with ABC installed, when an output is not proved equivalent. A design's
# settings file is not read: designs/async_reset.settings forces reset
# pipelining, whose added latency scripts/check-pipe-async.sh proves against
# a design with that many more synchroniser registers.
#
#   scripts/run-main-job.sh BUILD_DIR [DESIGN.blif...]
#
# Designs run side by side on $JOBS cores (default: all). Everything a run
# writes lands in BUILD_DIR/out/main-job; inputs are never written.
set -euo pipefail
root=$(pwd)
build=$(cd "$1" && pwd)
shift
fit=$build/morv-fit
out=$build/out/main-job
jobs=${JOBS:-$(nproc)}
seed=1
mkdir -p "$out"
rm -f "$out"/*.result
designs=("$@")
if [ ${#designs[@]} -eq 0 ]; then
  designs=("$root"/designs/*.blif)
  # The benchmarks where --optimize gains most within the time budget.
  for b in bench/mcnc_k4/frisc.blif bench/mcnc_k4/tseng.blif; do
    [ -f "$root/$b" ] && designs+=("$root/$b")
  done
fi
have_abc=0
command -v berkeley-abc >/dev/null && have_abc=1

# A design of 4-input covers only is compiled for a 4-input-LUT family.
family_of() {
  case $(basename "$1" .blif) in
  *_k4) echo ZEPLA ;;
  *) echo BRK ;;
  esac
}

# One compile with its CPU time: LOG gets the output, LOG.time "user sys".
compile() {
  local log=$1 TIMEFORMAT='%U %S'
  shift
  { time "$fit" -q --seed "$seed" "$@" >"$log" 2>&1; } 2>"$log.time"
}

# "atoms LUTs registers Fmax" of a summary row (input or back-annotation).
row_of() {
  awk -v step="$2" '$1 == step && NF >= 9 { print $2, $3, $4, $(NF - 2) }' "$1" | tail -n 1
}

cpu_of() { awk '{ printf "%.1f", $1 + $2 }' "$1.time"; }

# ABC's verdict on OUTPUT against REFERENCE: "proved", else what ABC said.
verdict() {
  local ref=$1 output=$2 answer
  if grep -q '^\.latch' "$ref"; then
    answer=$(timeout -k 5 120 berkeley-abc -c "dsec $ref $output" 2>&1 || true)
    if echo "$answer" | grep -qiE "networks are equivalent|property proved"; then echo proved; return; fi
    answer=$(timeout -k 5 120 berkeley-abc -c "dsec -r $ref $output" 2>&1 || true)
    if echo "$answer" | grep -qiE "networks are equivalent|property proved"; then echo proved; return; fi
    echo "NOT-PROVED(dsec)"
  else
    answer=$(timeout -k 5 120 berkeley-abc -c "cec $ref $output" 2>&1 || true)
    if echo "$answer" | grep -qiE "networks are equivalent"; then echo proved; else echo "NOT-PROVED(cec)"; fi
  fi
}

# One design, plain then optimised; writes NAME.result with the table's line
# and "ok" or "FAILED" as its first word.
one_design() {
  local design=$1 name family period kind ref v_plain v_opt
  name=$(basename "$design" .blif)
  family=$(family_of "$design")
  local p=$out/$name
  if ! compile "$p.plain.log" --family "$family" --aux-dir "$p.plain.aux" -o "$p.plain.blif" \
    "$design"; then
    echo "FAILED $name: the plain compile failed, see $p.plain.log" >"$p.result"
    return
  fi
  period=$(awk '/^clock period / { print $3 }' "$p.plain.log" | tail -n 1)
  if ! compile "$p.opt.log" --family "$family" --optimize --clock-period "$period" \
    --aux-dir "$p.opt.aux" -o "$p.opt.blif" --stats "$p.opt.csv" "$design"; then
    echo "FAILED $name: the optimised compile failed, see $p.opt.log" >"$p.result"
    return
  fi
  read -r atoms _ _ _ < <(row_of "$p.plain.log" input)
  read -r _ luts_p regs_p fmax_p < <(row_of "$p.plain.log" back-annotation)
  read -r _ luts_o regs_o fmax_o < <(row_of "$p.opt.log" back-annotation)
  kind=cec
  grep -q '^\.latch' "$design" && kind=dsec
  grep -q '^\.subckt' "$design" && kind=dsec
  local abc="-" status=ok
  if [ $have_abc -eq 1 ]; then
    ref=$design
    v_plain=proved
    if grep -q '^\.subckt' "$design"; then
      ref=$p.plain.blif
    else
      v_plain=$(verdict "$ref" "$p.plain.blif")
    fi
    v_opt=$(verdict "$ref" "$p.opt.blif")
    if [ "$v_plain" = proved ] && [ "$v_opt" = proved ]; then
      abc="proved ($kind)"
    else
      abc="plain $v_plain, optimised $v_opt"
      status=FAILED
    fi
  fi
  printf '%s %s|%s|%s|%s|%s|%s|%s|%s|%s|%s|%s|%s\n' "$status" "$name" "$family" "$atoms" "$fmax_p" "$fmax_o" \
    "$luts_p" "$luts_o" "$regs_p" "$regs_o" "$(cpu_of "$p.plain.log")" "$(cpu_of "$p.opt.log")" "$abc" >"$p.result"
}

[ -x "$fit" ] || { echo "$0: no morv-fit at $fit" >&2; exit 1; }
echo "main job: ${#designs[@]} designs, plain and with --optimize (seed $seed), $jobs at a time; files in $out"
[ $have_abc -eq 1 ] || echo "main job: berkeley-abc is not installed: outputs are not checked"
# The largest designs start first, so that the last to finish is a small one.
running=0
while read -r _ d; do
  one_design "$d" &
  running=$((running + 1))
  if [ $running -ge "$jobs" ]; then
    wait -n || true
    running=$((running - 1))
  fi
done < <(for d in "${designs[@]}"; do
  case $d in /*) ;; *) d=$root/$d ;; esac
  echo "$(wc -c <"$d") $d"
done | sort -rn)
wait

failed=0
echo
printf '%-20s %-6s %6s %23s %7s %13s %11s %14s  %s\n' design family atoms "Fmax plain -> opt (MHz)" ratio \
  "LUTs" "registers" "CPU s plain/opt" "ABC"
printf '%s\n' "$(printf -- '-%.0s' $(seq 1 125))"
for d in "${designs[@]}"; do
  name=$(basename "$d" .blif)
  line=$(cat "$out/$name.result" 2>/dev/null || echo "FAILED $name: no result")
  status=${line%% *}
  rest=${line#* }
  if [ "$status" = FAILED ] && [[ $rest != *"|"* ]]; then
    echo "$rest"
    failed=1
    continue
  fi
  [ "$status" = ok ] || failed=1
  IFS='|' read -r n fam atoms fp fo lp lo rp ro tp to abc <<<"$rest"
  ratio=$(awk -v p="$fp" -v o="$fo" 'BEGIN { if (p > 0) printf "%.2f", o / p; else print "-" }')
  printf '%-20s %-6s %6s %10s -> %-10s %7s %13s %11s %14s  %s\n' "$n" "$fam" "$atoms" "$fp" "$fo" "$ratio" \
    "$lp -> $lo" "$rp -> $ro" "$tp / $to" "$abc"
done
if [ $failed -ne 0 ]; then
  echo "main job: FAILED (see above)" >&2
  exit 1
fi
if [ $have_abc -eq 1 ]; then echo "main job: every output proved equivalent by ABC"; fi
