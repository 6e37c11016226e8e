#!/usr/bin/env bash
# Asynchronous pipelining end to end. frisc with every register cleared by
# one reset through a two-register synchroniser (morv_rst_s), pipelining of
# that reset forced with a register reach of 2:
#  - on BRK, for each seed: a "TEST()|TEST()" compile gives the clock period
#    and the plain Fmax; the pipelined compile at that period must exit 0 and
#    file a report row with at least 2 registers on K stages; ABC must prove
#    its output equivalent to the "TEST()|TEST()" compile of the design with K
#    more synchroniser registers (the latency pipelining adds); the geometric
#    mean of the Fmax ratios must be at least 0.99;
#  - on MRL and UVO, the same forced run with the first seed, equivalence only
#    (UVO has no LATE flow: nothing is pipelined, the output is the design);
#  - designs/async_reset.blif with its settings: only rst_a_s is pipelined.
#
#   scripts/check-pipe-async.sh [-b MORV_FIT] [-s "SEEDS"] [-o OUTDIR]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/scripts/lib/fmax-figures.sh"

fit=$root/build/release/morv-fit
family=BRK
seeds="1 2 3"
out=${TMPDIR:-/tmp}/morv-pipe-async-check
figure_options bso "usage: $0 [-b MORV_FIT] [-s \"SEEDS\"] [-o OUTDIR]" "$@"
figure_setup
make_design=$root/scripts/make-async-reset-design.py
design=$root/designs/frisc_async_reset.blif
printf 'instance_option=morv_rst_s 666 0\n' >"$out/forced.settings"
forced=(--settings "$out/forced.settings" --set fsyn_pipe_async_register_reach=2 --test-string "PIPE_ASYNC()|PIPE_ASYNC()")

# "STAGES REGISTERS" of the report row of a signal in a compile's log (the
# four-column table: the host's table of the resets to pipeline has two).
row_of() {
  awk -F'|' -v net="$2" 'NF == 4 { gsub(/ /, "", $1) } NF == 4 && $1 == net { gsub(/ /, "", $2); gsub(/ /, "", $3); print $2, $3 }' "$1"
}

# The forced run of one family and seed, checked against its reference;
# prints "fmax_plain fmax_pipelined stages registers".
forced_run() {
  local fam=$1 s=$2 tag=$1.$2 period fmax_p fmax_r stages regs
  family=$fam
  read -r period fmax_p _ _ < <(compile "$out/test.$tag.log" --seed "$s" --test-string "TEST()|TEST()" \
    -o "$out/test.$tag.blif" "$design")
  read -r _ fmax_r _ _ < <(compile "$out/pipe.$tag.log" --seed "$s" --clock-period "$period" "${forced[@]}" \
    -o "$out/pipe.$tag.blif" "$design")
  read -r stages regs < <(row_of "$out/pipe.$tag.log" morv_rst_s) || true
  if grep -q '^LATE (off)' "$out/pipe.$tag.log"; then
    # A family without the LATE flow pipelines nothing: the output must
    # still be the design.
    stages=0; regs=0
  else
    [ -n "${regs:-}" ] && [ "$regs" -ge 2 ] ||
      { echo "$0: $tag: fewer than 2 registers inserted, see $out/pipe.$tag.log" >&2; exit 1; }
  fi
  python3 "$make_design" "$root/bench/mcnc_k4/frisc.blif" "$out/ref.$tag.in.blif" --extra-sync "$stages"
  compile "$out/ref.$tag.log" --seed "$s" --test-string "TEST()|TEST()" -o "$out/ref.$tag.blif" \
    "$out/ref.$tag.in.blif" >/dev/null
  local verdict
  verdict=$(seq_verdict "$out/ref.$tag.blif" "$out/pipe.$tag.blif")
  [ "$verdict" = proved ] || { echo "$0: $tag: not proved equivalent ($verdict)" >&2; exit 1; }
  echo "$fmax_p $fmax_r $stages $regs"
}

printf "%-6s %5s %10s %10s %8s %7s %10s\n" family seed fmax_test fmax_pipe ratio stages registers
ratio_log=0; n=0
for s in $seeds; do
  read -r fp fr stages regs < <(forced_run BRK "$s")
  ratio=$(awk -v p="$fp" -v r="$fr" 'BEGIN { printf "%.4f", r / p }')
  printf "%-6s %5s %10s %10s %8s %7s %10s\n" BRK "$s" "$fp" "$fr" "$ratio" "$stages" "$regs"
  ratio_log=$(awk -v a="$ratio_log" -v r="$ratio" 'BEGIN { print a + log(r) }')
  n=$((n + 1))
done
geomean=$(awk -v a="$ratio_log" -v n="$n" 'BEGIN { printf "%.4f", exp(a / n) }')
echo "BRK: geometric mean Fmax ratio $geomean"
awk -v g="$geomean" 'BEGIN { exit !(g >= 0.99) }' || { echo "$0: Fmax ratio below 0.99" >&2; exit 1; }

first=${seeds%% *}
for fam in MRL UVO; do
  read -r fp fr stages regs < <(forced_run "$fam" "$first")
  note=proved
  grep -q '^LATE (off)' "$out/pipe.$fam.$first.log" && note="proved (no LATE flow in this family)"
  printf "%-6s %5s %10s %10s %8s %7s %10s  %s\n" "$fam" "$first" "$fp" "$fr" \
    "$(awk -v p="$fp" -v r="$fr" 'BEGIN { printf "%.4f", r / p }')" "$stages" "$regs" "$note"
done

family=BRK
log=$out/async_reset.log
(cd "$out" && "$fit" --family BRK -q --settings "$root/designs/async_reset.settings" \
  --test-string "PIPE_ASYNC()|PIPE_ASYNC()" -o "$out/async_reset.blif" "$root/designs/async_reset.blif") >"$log" 2>&1 ||
  { echo "$0: async_reset: morv-fit failed, see $log" >&2; exit 1; }
for net in rst_a_s rst_b_s rst_c_s; do
  read -r stages regs < <(row_of "$log" "$net")
  echo "async_reset: $net: $stages stages, $regs registers"
  [ -n "${regs:-}" ] || { echo "$0: async_reset: no report row for $net, see $log" >&2; exit 1; }
  if [ "$net" = rst_a_s ]; then
    [ "$regs" -gt 0 ] || { echo "$0: async_reset: rst_a_s not pipelined" >&2; exit 1; }
  else
    [ "$regs" = 0 ] || { echo "$0: async_reset: $net pipelined" >&2; exit 1; }
  fi
done
echo "check-pipe-async: all checks passed"
