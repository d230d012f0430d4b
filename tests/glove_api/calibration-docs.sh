#!/usr/bin/env bash
# The calibration page's C and Python programs, taken from docs/calibration.md as they stand:
# a calibration of an emulated glove captured with one command, then both programs load it and
# print the same seven numbers for the same frame, and the same line for a broken file.
# Usage: calibration-docs.sh PAGE INCLUDE_DIR LIBRARY EMULATOR CHIROLINK PYTHON PYTHON_DIR
set -euo pipefail
page=$1 include=$2 library=$3 emulator=$4 chirolink=$5 python=$6 python_dir=$7
. "$(dirname "$0")/../lib/scratch.sh"
fail() { echo "FAIL: $*"; exit 1; }

# example NAME LANGUAGE: the block after the marker <!-- NAME -->.
example() {
    awk -v marker="<!-- $1 -->" -v fence="\`\`\`$2" '$0 == marker {found=1; next}
        found && $0 == fence {inside=1; next} inside && /^```$/ {exit} inside {print}' "$page"
}
example calibrated.c c >"$work/calibrated.c"
example calibrated.py python >"$work/calibrated.py"
[ -s "$work/calibrated.c" ] || fail "no calibrated.c in $page"
[ -s "$work/calibrated.py" ] || fail "no calibrated.py in $page"
cc -std=c11 -Wall -Wextra -Werror -I"$include" "$work/calibrated.c" \
    -L"$(dirname "$library")" -lChirolink -Wl,-rpath,"$(dirname "$library")" -o "$work/calibrated"
# The script finds the library by the usual search, as where it is installed.
export LD_LIBRARY_PATH=$(dirname "$library") PYTHONPATH=$python_dir

glove() {
    rm -f "$work/glove"
    "$emulator" --quiet --link "$work/glove" "$@" >/dev/null &
    pids+=($!)
    for _ in $(seq 50); do
        [ -e "$work/glove" ] && return 0
        sleep 0.1
    done
    fail "no glove"
}
glove  # animated: fingers, roll and pitch move
"$chirolink" calibrate "$work/glove" -o "$work/hand.json" --seconds 2 --hand right \
    >"$work/calibrate.out" 2>&1 || fail "calibrate: $(cat "$work/calibrate.out")"
kill "${pids[-1]}"
glove --values 64,172,219,233,235,85,134
"$work/calibrated" "$work/glove" "$work/hand.json" >"$work/c.out" 2>&1 ||
    fail "the C program: $(cat "$work/c.out")"
"$python" "$work/calibrated.py" "$work/glove" "$work/hand.json" >"$work/py.out" 2>&1 ||
    fail "the Python script: $(cat "$work/py.out")"
cat "$work/hand.json" "$work/c.out"
diff "$work/c.out" "$work/py.out" || fail "C and Python differ"
grep -qx "raw 64 172 219 233 235 85 134" "$work/c.out" || fail "not the glove's frame"
grep -Eqx "calibrated( [01]\.[0-9]{6}){7}" "$work/c.out" || fail "not 7 values from 0 to 1"

sed 's/"version": 1/"version": 2/' "$work/hand.json" >"$work/broken.json"
"$work/calibrated" "$work/glove" "$work/broken.json" >"$work/c.err" 2>&1 && fail "C took it"
"$python" "$work/calibrated.py" "$work/glove" "$work/broken.json" >"$work/py.err" 2>&1 &&
    fail "Python took it"
diff "$work/c.err" "$work/py.err" || fail "C and Python refuse differently"
grep -qx "$work/broken.json: line 3: \"version\" is 2, not 1" "$work/c.err" ||
    fail "refused with: $(cat "$work/c.err")"
echo "the calibration page's C and Python programs: the same seven numbers, the same refusal"
