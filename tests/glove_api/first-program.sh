#!/usr/bin/env bash
# Builds the README's first C program (the three calls on COM1) exactly as it stands there and
# runs it with an emulated glove on COM1, and with no glove there.
# Usage: first-program.sh README INCLUDE_DIR LIBRARY EMULATOR
# COM1 is a private mount namespace's /dev/ttyS0 (demo/dev/with-serial-ports.sh); exits 77
# (skipped) where no such namespace can be made.
set -euo pipefail
readme=$1 include=$2 library=$3 emulator=$4
here=$(cd "$(dirname "$0")" && pwd)
ports=$here/../../demo/dev/with-serial-ports.sh
. "$here/../lib/scratch.sh"
fail() { echo "FAIL: $*"; exit 1; }

awk '/^<!-- reader.c/ {found=1; next} found && /^```c$/ {inside=1; next}
     inside && /^```$/ {exit} inside {print}' "$readme" >"$work/reader.c"
[ -s "$work/reader.c" ] || fail "no reader.c in $readme"
# As the README builds it: the compiler's own C dialect, which declares usleep.
cc -Wall -Wextra -Werror -I"$include" "$work/reader.c" \
    -L"$(dirname "$library")" -lChirolink -Wl,-rpath,"$(dirname "$library")" -o "$work/reader"

"$emulator" --quiet --values 1,2,3,4,5,6,7 >"$work/glove" &
pids+=($!)
for _ in $(seq 50); do
    [ -s "$work/glove" ] && break
    sleep 0.1
done
glove=$(head -1 "$work/glove")
[ -n "$glove" ] || fail "the emulator did not start"

status=0
"$ports" "$glove" /dev/null -- "$work/reader" >"$work/out" 2>"$work/err" || status=$?
[ "$status" -ne 77 ] || { cat "$work/err"; exit 77; }
[ "$status" -eq 0 ] || fail "exit status $status: $(cat "$work/err")"
# Fifty readings, the first one already a frame's (it waits for the first frame).
expected="fingers   1   2   3   4   5  roll   6  pitch   7"
[ "$(wc -l <"$work/out")" -eq 50 ] || fail "$(wc -l <"$work/out") lines, not 50"
if grep -vxF "$expected" "$work/out" | head -1 | grep -q .; then
    fail "not the glove's values: $(grep -vxF "$expected" "$work/out" | head -1)"
fi

status=0
"$ports" /dev/null /dev/null -- "$work/reader" >"$work/out" 2>"$work/err" || status=$?
[ "$status" -eq 1 ] || fail "no glove on COM1: exit status $status"
[ "$(cat "$work/err")" = "no glove on COM1" ] || fail "no glove on COM1: $(cat "$work/err")"
echo "the README's first C program: the glove's values on COM1 from the first line, fifty of them"
