#!/usr/bin/env bash
# Layers run one way: the stand-in host libraries (platform/) and the shared
# containers (h/) never include the component (db/, reached as "morv/...")
# nor the stand-in compiler (host/). Each such include is reported with file
# and line.
# Usage: check-layers.sh [repository root]
set -euo pipefail
root=$(cd "${1:-$(dirname "$0")/..}" && pwd)
cd "$root"

files=$(find h platform -type f \( -name '*.cpp' -o -name '*.h' \) 2>/dev/null | sort)
[ -n "$files" ] || exit 0
# shellcheck disable=SC2086
if grep -nE '^[[:space:]]*#[[:space:]]*include[[:space:]]*[<"](db|morv|host|io)/' $files; then
    echo "platform/ and h/ must not include the component or the host" >&2
    exit 1
fi
