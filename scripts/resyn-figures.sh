#!/usr/bin/env bash
# Boolean-division resynthesis quality figures: for each design and seed, a
# plain compile, then the same compile at the plain run's clock period with
# the test string (default "RESYN()") in the LATE flow only (so that both
# share one placement). ABC checks each optimised
# output against the design; the table gives the Fmax ratio, the LUT change
# and the compile-time ratio per design (geometric means over the seeds),
# then their geometric means over the designs.
#
#   scripts/resyn-figures.sh [-b MORV_FIT] [-f FAMILY] [-s "SEEDS"] [-t TEST_STRING] [-o OUTDIR] [DESIGN...]
#
# DESIGN is a path under bench/ without ".blif" (default: the ten designs of
# the quality target). Times are the CPU seconds of the whole process.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
fit=$root/build/release/morv-fit
family=BRK
seeds="1 2 3"
out=${TMPDIR:-/tmp}/morv-resyn-figures
test_string="RESYN()"
usage="usage: $0 [-b MORV_FIT] [-f FAMILY] [-s \"SEEDS\"] [-t TEST_STRING] [-o OUTDIR] [DESIGN...]"
while [ $# -gt 0 ]; do
  case $1 in
  -b) fit=$2; shift 2 ;;
  -f) family=$2; shift 2 ;;
  -s) seeds=$2; shift 2 ;;
  -o) out=$2; shift 2 ;;
  -t) test_string=$2; shift 2 ;;
  -*) echo "$usage" >&2; exit 1 ;;
  *) break ;;
  esac
done
. "$root/scripts/lib/fmax-figures.sh"
fmax_figures opt "$test_string" "$@"
