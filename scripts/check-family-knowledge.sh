#!/usr/bin/env bash
# Keeps family knowledge and project-setting ids in their one home each: the
# family-traits table (db/morv/core/family/morv_family_traits.*) and the
# setting-id header (db/morv/core/morv_setting_ids.h). Anywhere else in db/
# and host/ a family code compared, switched on or passed to a family query,
# or a setting id written as a number, is reported with file and line.
# Usage: check-family-knowledge.sh [repository root]
set -euo pipefail
root=$(cd "${1:-$(dirname "$0")/..}" && pwd)
cd "$root"

codes='6|9|10|24|25|26|34|35|41|42|43|44|47'
ids_header=db/morv/core/morv_setting_ids.h
# Read from the header so a new setting id is checked the day it is added.
ids_of() { grep -oE "$1[A-Z_]* *= *[0-9]+" "$ids_header" | grep -oE '[0-9]+$' | paste -sd'|'; }
settings=$(ids_of MORV_SETTING_)
efforts=$(ids_of MORV_EFFORT_)
[[ -n $settings && -n $efforts ]] || { echo "no setting ids found in $ids_header" >&2; exit 2; }

files=$(find db host -type f \( -name '*.cpp' -o -name '*.h' \) \
          ! -path 'db/morv/core/family/morv_family_traits.*' \
          ! -path 'db/morv/core/morv_setting_ids.h' | sort)

# shellcheck disable=SC2086
awk -v codes="$codes" -v settings="$settings" -v efforts="$efforts" '
  BEGIN { after = "([^0-9.]|[.]([^0-9]|$)|$)" }
  FNR == 1 { family_switch = 0 }
  function report(what) { printf "%s:%d: %s: %s\n", FILENAME, FNR, what, $0; bad = 1 }
  {
    line = tolower($0)
    if (line ~ /switch *\(/) family_switch = (line ~ /famil|base/)
    if ((family_switch && line ~ ("case +(" codes ") *:")) || line ~ ("case +(" codes ") *:.*case +(" codes ") *:"))
      report("family code in a switch")
    if (line ~ /famil/ && (line ~ ("(==|!=) *(" codes ")([^0-9.]|$)") || line ~ ("(^|[^0-9.])(" codes ") *(==|!=)")))
      report("family code compared")
    if (line ~ ("famil[a-z_]*\\( *(" codes ") *[,)]")) report("family code passed")
    if (line ~ ("(^|[^0-9.a-z_])(" settings ")" after)) report("setting id as a number")
    if (line ~ /effort/ && line ~ ("(^|[^0-9.a-z_])(" efforts ")" after)) report("effort value as a number")
  }
  END { exit bad }
' $files
