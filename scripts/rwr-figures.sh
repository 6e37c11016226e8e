#!/usr/bin/env bash
# Rewiring quality figures: for each design and seed, a plain compile, then
# the same compile at the plain run's clock period with rewiring in the LATE
# flow only (so that both share one placement). ABC checks each rewired
# output against the design; the table gives the Fmax ratio, the LUT change
# and the compile-time ratio per design (geometric means over the seeds),
# then their geometric means over the designs.
#
#   scripts/rwr-figures.sh [-b MORV_FIT] [-f FAMILY] [-s "SEEDS"] [-t TEST_STRING] [-o OUTDIR] [DESIGN...]
#
# DESIGN is a path under bench/ without ".blif" (default: the ten designs of
# the quality target). Times are the CPU seconds of the whole process.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/scripts/lib/fmax-figures.sh"
fmax_figures_main rwr rwr "RWR()" "$@"
