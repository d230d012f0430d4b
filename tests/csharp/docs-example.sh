#!/usr/bin/env bash
# Builds the two-glove C# program exactly as docs/csharp-unity.md shows it, with Mono, against
# the binding and its shipped dllmap (the library found through LD_LIBRARY_PATH, as the page
# says), and runs it against two emulated gloves, one of which goes away and comes back, and
# against a missing port.
# Usage: docs-example.sh PAGE BINDING_DLL LIBRARY EMULATOR
set -euo pipefail
page=$1 binding=$2 library=$3 emulator=$4
. "$(dirname "$0")/../lib/scratch.sh"
fail() { echo "FAIL: $*"; exit 1; }

awk '/^<!-- TwoGloves.cs/ {found=1; next} found && /^```csharp$/ {inside=1; next}
     inside && /^```$/ {exit} inside {print}' "$page" >"$work/TwoGloves.cs"
[ -s "$work/TwoGloves.cs" ] || fail "no TwoGloves.cs in $page"
cp "$binding" "$(dirname "$binding")/Chirolink.Net.dll.config" "$work/"
mcs -langversion:7.2 -warnaserror -r:"$work/Chirolink.Net.dll" -out:"$work/TwoGloves.exe" \
    "$work/TwoGloves.cs"
# The shipped dllmap names libChirolink.so.1, as the runtime package installs it.
mkdir "$work/lib"
ln -s "$(readlink -f "$library")" "$work/lib/libChirolink.so.1"
export LD_LIBRARY_PATH="$work/lib"

"$emulator" --quiet --link "$work/left" --values 1,2,3,4,5,6,7 >/dev/null &
pids+=($!)
"$emulator" --quiet --link "$work/right" --values 9,8,7,6,5,4,3 \
    --unplug-after 1 --replug-after 1 >/dev/null &
pids+=($!)
for _ in $(seq 50); do
    [ -e "$work/left" ] && [ -e "$work/right" ] && break
    sleep 0.1
done

mono "$work/TwoGloves.exe" "$work/left" "$work/right" 4 >"$work/out" 2>"$work/err" ||
    fail "exit status $?: $(cat "$work/err")"
# Every frame of each glove, in order: the sequence numbers rise by one from 1, times rise.
for glove in left right; do
    awk -v port="$work/$glove" '$1 == port {
            if ($2 != n + 1 || $3 < t) { print "out of order at line " NR ": " $0; bad = 1 }
            n = $2; t = $3 }
         END { if (n < 100) { print port ": only " n " frames"; bad = 1 } exit bad }' \
        "$work/out" || fail "$glove's frames"
done
grep -q " 1 2 3 4 5 6 7$" "$work/out" || fail "the left glove's values"
grep -q " 9 8 7 6 5 4 3$" "$work/out" || fail "the right glove's values"
grep -qx "$work/right is gone" "$work/err" || fail "no 'is gone': $(cat "$work/err")"
grep -qx "$work/right is back" "$work/err" || fail "no 'is back': $(cat "$work/err")"

if mono "$work/TwoGloves.exe" "$work/left" "$work/nothing" 1 >/dev/null 2>"$work/err"; then
    fail "a missing port did not fail"
fi
grep -qx "$work/nothing: no such device" "$work/err" || fail "the reason: $(cat "$work/err")"
echo "the C# two-glove program of the docs: every frame in order, gone and back, the reason"
