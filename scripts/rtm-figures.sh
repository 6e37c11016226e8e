#!/usr/bin/env bash
# Classic retiming quality figures: for each design and seed, a plain compile,
# then the same compile at the plain run's clock period with the test string
# (default "|RTM()", so retiming runs after placement, in the LATE flow only).
# ABC proves each retimed output sequentially equivalent to the design from
# the all-zero state; the table gives the Fmax ratio, the LUT change and the
# compile-time ratio per design (geometric means over the seeds), then their
# geometric means over the designs.
#
#   scripts/rtm-figures.sh [-b MORV_FIT] [-f FAMILY] [-s "SEEDS"] [-t TEST_STRING] [-o OUTDIR] [DESIGN...]
#
# DESIGN is a path under bench/ without ".blif" (default: the eleven designs
# of the retiming target). Times are the CPU seconds of the whole process.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/scripts/lib/fmax-figures.sh"

args=()
while [ $# -gt 0 ]; do
  case $1 in
  -b | -f | -s | -t | -o) args+=("$1" "$2"); shift 2 ;;
  *) break ;;
  esac
done
[ $# -gt 0 ] || set -- mcnc_k4/bigkey mcnc_k4/diffeq mcnc_k4/dsip mcnc_k4/elliptic mcnc_k4/frisc mcnc_k4/s298 \
  mcnc_k4/s38417 mcnc_k4/tseng iscas89_k6/s1423 iscas89_k6/s5378 iscas89_k6/s9234.1
fmax_figures_main rtm rtm "|RTM()" "${args[@]}" "$@"
