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
. "$(dirname "$0")/../lib/two-gloves.sh"

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

check_two_gloves mono "$work/TwoGloves.exe"
echo "the C# two-glove program of the docs: every frame in order, gone and back, the reason"
