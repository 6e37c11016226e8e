# The Fmax quality figures that resyn-figures.sh and rwr-figures.sh share,
# sourced once a script has set root. fmax_figures_main NAME TAG TEST_STRING
# ARGS... reads the scripts' common options, then fmax_figures TAG TEST_STRING
# [DESIGN...] compiles each design and
# seed plainly, then at the plain run's clock period with TEST_STRING (files
# and the optimised column named after TAG), checks the optimised output with
# ABC and prints the table and the geometric means.

# One compile: prints "period_ps fmax_mhz luts cpu_s" of its last summary row.
compile() {
  local log=$1; shift
  (cd "$out" && /usr/bin/time -f "CPU %U %S" "$fit" --family "$family" -q "$@") >"$log" 2>&1 ||
    { echo "$0: morv-fit failed, see $log" >&2; exit 1; }
  awk '
    /^clock period / { period = $3 }
    /^-+$/           { table = 1; next }
    table && NF >= 9 { luts = $(NF-6); fmax = $(NF-2) }
    /^CPU /          { cpu = $2 + $3 }
    END { printf "%s %s %s %s\n", period, fmax, luts, cpu }' "$log"
}

# One dsec run within $dsec_limit seconds: proved, NOT-PROVED or undecided.
dsec_verdict() {
  local answer limit=${dsec_limit:-300}
  answer=$(timeout -k 5 $((limit + 30)) berkeley-abc -c "dsec $1 -T $limit $2 $3" 2>&1 || true)
  if echo "$answer" | grep -qiE "networks are equivalent|property proved"; then
    echo proved
  elif echo "$answer" | grep -qiE "not equivalent|are not equivalent|asserted"; then
    echo NOT-PROVED
  else
    echo undecided
  fi
}

# ABC's sequential answer: dsec, then dsec without its opening forward
# retiming (which decides the large designs whose registers moved backward,
# such as s38417, in seconds where the default runs for many minutes). Where
# neither decides, both run side by side from the power-up state for
# SIM_FRAMES random cycles: on the project's cycle simulator (morv-cosim
# beside $fit, given the design's $family), else on ABC's simulation of the
# miter from the all-zero state.
seq_verdict() {
  local v answer limit=${dsec_limit:-300} cosim
  v=$(dsec_verdict "" "$1" "$2")
  [ "$v" = undecided ] && v=$(dsec_verdict -r "$1" "$2")
  [ "$v" = undecided ] || { echo "$v"; return; }
  cosim=$(dirname "${fit:-.}")/morv-cosim
  if [ -n "${family:-}" ] && [ -x "$cosim" ]; then
    answer=$("$cosim" --family "$family" --cycles "${SIM_FRAMES:-2000}" "$1" "$2" 2>/dev/null || true)
    case $answer in
    agree*) echo undecided,sim-ok; return ;;
    differ*) echo undecided,SIM-DIFFERENT; return ;;
    esac
  fi
  answer=$(timeout -k 5 $((limit + 30)) berkeley-abc -c "miter $1 $2; zero; sim -F ${SIM_FRAMES:-2000} -W 8" 2>&1 ||
    true)
  if echo "$answer" | grep -q "did not assert"; then
    echo undecided,sim-ok
  elif echo "$answer" | grep -qi "asserted"; then
    echo undecided,SIM-DIFFERENT
  else
    # ABC crashed or ran out of time: no answer is not a difference.
    echo undecided,SIM-NO-ANSWER
  fi
}

# True when ABC proves two BLIF files equivalent (sequentially when the
# design has latches).
equivalent() {
  if grep -q '^\.latch' "$1"; then
    [ "$(seq_verdict "$1" "$2")" = proved ]
  else
    berkeley-abc -c "cec $1 $2" 2>&1 | grep -qiE "are equivalent|networks are equivalent"
  fi
}

fmax_figures() {
  local tag=$1 test_string=$2
  shift 2
  local designs=("$@")
  [ ${#designs[@]} -gt 0 ] || designs=(mcnc_k4/bigkey mcnc_k4/diffeq mcnc_k4/dsip mcnc_k4/elliptic mcnc_k4/frisc
    mcnc_k4/s298 mcnc_k4/tseng iscas89_k6/s1423 iscas89_k6/s5378 iscas89_k6/s9234.1)
  figure_setup

  printf "%-22s %8s %10s %10s %8s %9s %s\n" design seeds fmax_plain "fmax_$tag" ratio luts time
  total_log=0; designs_done=0; worst=9; lut_log=0; time_log=0
  for d in "${designs[@]}"; do
    blif=$root/bench/$d.blif
    name=$(basename "$d")
    ratio_log=0; luts_log=0; cpu_log=0; n=0; fp=0; fr=0
    for s in $seeds; do
      read -r period fmax_p luts_p cpu_p < <(compile "$out/$name.$s.plain.log" --seed "$s" -o "$out/$name.$s.plain.blif" "$blif")
      read -r _ fmax_r luts_r cpu_r < <(compile "$out/$name.$s.$tag.log" --seed "$s" --clock-period "$period" \
        --test-string "$test_string" -o "$out/$name.$s.$tag.blif" "$blif")
      equivalent "$blif" "$out/$name.$s.$tag.blif" || { echo "$0: $name seed $s: not proved equivalent" >&2; exit 1; }
      ratio_log=$(awk -v a="$ratio_log" -v p="$fmax_p" -v r="$fmax_r" 'BEGIN { print a + log(r / p) }')
      luts_log=$(awk -v a="$luts_log" -v p="$luts_p" -v r="$luts_r" 'BEGIN { print a + log(r / p) }')
      cpu_log=$(awk -v a="$cpu_log" -v p="$cpu_p" -v r="$cpu_r" 'BEGIN { p = p < 0.01 ? 0.01 : p; r = r < 0.01 ? 0.01 : r; print a + log(r / p) }')
      fp=$(awk -v a="$fp" -v b="$fmax_p" 'BEGIN { print a + b }'); fr=$(awk -v a="$fr" -v b="$fmax_r" 'BEGIN { print a + b }')
      n=$((n + 1))
    done
    read -r ratio lut_change time_ratio < <(awk -v r="$ratio_log" -v l="$luts_log" -v c="$cpu_log" -v n="$n" \
      'BEGIN { printf "%.4f %+.2f%% %.2f\n", exp(r / n), (exp(l / n) - 1) * 100, exp(c / n) }')
    printf "%-22s %8d %10.1f %10.1f %8s %9s %sx\n" "$name" "$n" "$(awk -v a="$fp" -v n="$n" 'BEGIN{print a/n}')" \
      "$(awk -v a="$fr" -v n="$n" 'BEGIN{print a/n}')" "$ratio" "$lut_change" "$time_ratio"
    total_log=$(awk -v a="$total_log" -v r="$ratio" 'BEGIN { print a + log(r) }')
    lut_log=$(awk -v a="$lut_log" -v l="$luts_log" -v n="$n" 'BEGIN { print a + l / n }')
    time_log=$(awk -v a="$time_log" -v c="$cpu_log" -v n="$n" 'BEGIN { print a + c / n }')
    worst=$(awk -v w="$worst" -v r="$ratio" 'BEGIN { print (r < w ? r : w) }')
    designs_done=$((designs_done + 1))
  done
  awk -v t="$total_log" -v l="$lut_log" -v c="$time_log" -v n="$designs_done" -v w="$worst" -v f="$family" 'BEGIN {
    printf "%s: geometric mean Fmax ratio %.4f, lowest design %.4f, LUTs %+.2f%%, compile time %.2fx\n",
           f, exp(t / n), w, (exp(l / n) - 1) * 100, exp(c / n) }'
}

# The options the figure scripts share, into the globals fit, family, seeds,
# test_string, base_string, out and extra (a script sets its defaults first).
# ALLOWED lists the option letters the script takes; the designs named after
# the options are left in figure_designs.
figure_options() {
  local allowed=$1 usage=$2
  shift 2
  while [ $# -gt 0 ]; do
    case $1 in
    -[bfstTox])
      [[ $allowed == *"${1#-}"* ]] || { echo "$usage" >&2; exit 1; }
      case $1 in
      -b) fit=$2 ;; -f) family=$2 ;; -s) seeds=$2 ;; -t) test_string=$2 ;;
      -T) base_string=$2 ;; -o) out=$2 ;; -x) extra=$2 ;;
      esac
      shift 2 ;;
    -*) echo "$usage" >&2; exit 1 ;;
    *) break ;;
    esac
  done
  figure_designs=("$@")
}

# What every figure run needs: morv-fit, ABC, and an output folder.
figure_setup() {
  [ -x "$fit" ] || { echo "$0: no morv-fit at '$fit' (build Release first or pass -b)" >&2; exit 1; }
  command -v berkeley-abc >/dev/null || { echo "$0: berkeley-abc is needed for the equivalence checks" >&2; exit 1; }
  out=$(mkdir -p "$out" && cd "$out" && pwd)
}

# The options of the scripts built on fmax_figures; NAME names the default
# output folder.
fmax_figures_main() {
  local name=$1 tag=$2
  test_string=$3
  shift 3
  fit=$root/build/release/morv-fit
  family=BRK
  seeds="1 2 3"
  out=${TMPDIR:-/tmp}/morv-$name-figures
  figure_options bfsot "usage: $0 [-b MORV_FIT] [-f FAMILY] [-s \"SEEDS\"] [-t TEST_STRING] [-o OUTDIR] [DESIGN...]" "$@"
  fmax_figures "$tag" "$test_string" "${figure_designs[@]}"
}
