#!/usr/bin/env bash
# The tree keeps one code style: every C++ file as clang-format writes it.
set -euo pipefail
root=${1:-$(cd "$(dirname "$0")/.." && pwd)}
cd "$root"
if ! command -v clang-format >/dev/null; then
  echo "clang-format is not installed" >&2
  exit 1
fi
files=$(git ls-files '*.h' '*.cpp' 2>/dev/null || find . -path ./build -prune -o \( -name '*.h' -o -name '*.cpp' \) -print)
# shellcheck disable=SC2086
clang-format --dry-run --Werror $files
echo "clang-format: $(echo "$files" | wc -w) files in style"
