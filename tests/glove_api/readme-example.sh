#!/usr/bin/env bash
# Builds the two-glove C program exactly as the documentation shows it (docs/library.md) and
# runs it against two emulated gloves, one of which goes away and comes back, and against a
# missing port.
# Usage: readme-example.sh PAGE INCLUDE_DIR LIBRARY EMULATOR
set -euo pipefail
page=$1 include=$2 library=$3 emulator=$4
. "$(dirname "$0")/../lib/scratch.sh"
fail() { echo "FAIL: $*"; exit 1; }
. "$(dirname "$0")/../lib/two-gloves.sh"

awk '/^<!-- two_gloves.c/ {found=1; next} found && /^```c$/ {inside=1; next}
     inside && /^```$/ {exit} inside {print}' "$page" >"$work/two_gloves.c"
[ -s "$work/two_gloves.c" ] || fail "no two_gloves.c in $page"
cc -std=c11 -Wall -Wextra -Werror -I"$include" "$work/two_gloves.c" \
    -L"$(dirname "$library")" -lChirolink -Wl,-rpath,"$(dirname "$library")" -o "$work/two_gloves"

check_two_gloves "$work/two_gloves"
echo "the documented two-glove program: every frame in order, gone and back, the reason"
