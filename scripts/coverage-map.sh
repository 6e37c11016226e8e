#!/usr/bin/env bash
# Which functions of the component no test executes: builds every test with
# gcov instrumentation (one translation unit per source, so that counts land
# on the source that holds them), runs the whole suite once, and lists each
# function of db/morv/ whose execution count stayed 0, as
#   file:line  function
# followed by a count of the functions seen and run. Not part of .ci/run: the
# instrumented build and run take about as long as the whole CI job.
#
#   scripts/coverage-map.sh [-o OUTDIR] [-j JOBS] [-R TEST_REGEX] [-n]
#
# -n reuses the counts of the last run (no build, no tests); -R runs only the
# ctest tests the regex names. The list lands in OUTDIR/unrun-functions.txt
# (default build/coverage).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
out=$root/build/coverage
jobs=$(nproc)
regex=""
rerun=1
while getopts "o:j:R:n" opt; do
  case $opt in
    o) out=$OPTARG ;;
    j) jobs=$OPTARG ;;
    R) regex=$OPTARG ;;
    n) rerun=0 ;;
    *) sed -n '10p' "$0" >&2; exit 2 ;;
  esac
done
bash "$root/scripts/install-deps.sh"
command -v gcov >/dev/null || { echo "$0: gcov (part of gcc) is needed" >&2; exit 1; }
# gcov must come from the same compiler release as the instrumented build.
gcc_major=$(g++ -dumpversion | cut -d. -f1)
gcov_bin=gcov
command -v "gcov-$gcc_major" >/dev/null && gcov_bin=gcov-$gcc_major

if [ "$rerun" -eq 1 ]; then
  # -O1 keeps the suite's run time near Release's; inlined functions still
  # count, since gcov counts by line and each inlined body keeps its lines.
  cmake -S "$root" -B "$out" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DMORV_BUILD_BENCHMARKS=OFF \
    -DMORV_UNITY_BUILD=OFF -DCMAKE_CXX_FLAGS_DEBUG="-O1 -g0 --coverage -fno-inline" \
    -DCMAKE_EXE_LINKER_FLAGS="--coverage" >/dev/null
  cmake --build "$out" -j "$jobs"
  find "$out" -name '*.gcda' -delete
  ctest --test-dir "$out" -j "$jobs" ${regex:+-R "$regex"} --output-on-failure || \
    echo "$0: some tests failed; the counts below still stand for what ran" >&2
fi

# One JSON document per object file, on stdout; the component's objects hold
# every count of its own sources (the tests link the same library objects).
json=$out/gcov.json
: >"$json"
find "$out/db" -name '*.gcda' -print0 | while IFS= read -r -d '' f; do
  (cd "$(dirname "$f")" && "$gcov_bin" --json-format --stdout "$(basename "$f")" 2>/dev/null) >>"$json"
done
python3 - "$json" "$root" "$out/unrun-functions.txt" <<'EOF'
import json, sys, os
path, root, listing = sys.argv[1:4]
count = {}
with open(path) as fh:
    for line in fh:
        line = line.strip()
        if not line:
            continue
        doc = json.loads(line)
        for f in doc.get("files", []):
            name = os.path.normpath(os.path.join(doc.get("current_working_directory", ""), f["file"]))
            rel = os.path.relpath(name, root)
            if not rel.startswith("db/morv/"):
                continue
            for fn in f.get("functions", []):
                key = (rel, fn["start_line"], fn.get("demangled_name", fn["name"]))
                count[key] = count.get(key, 0) + fn["execution_count"]
unrun = sorted(k for k, n in count.items() if n == 0)
with open(listing, "w") as out:
    for rel, line, name in unrun:
        out.write(f"{rel}:{line}  {name}\n")
sys.stdout.write(open(listing).read())
print(f"{len(unrun)} of {len(count)} component functions run in no test ({listing})")
EOF
