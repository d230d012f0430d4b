#!/usr/bin/env bash
# The Windows stage of the tests: cross-builds Chirolink.dll, Chiroscope.exe and their tests for
# 64-bit and 32-bit Windows with MinGW-w64 and runs them under Wine (Chiroscope on Xvfb), with
# the glove emulator of a Linux build on pseudo-terminals mapped as COM1 and COM2; then makes
# the release's zips and installers and tests them (tests/windows/installer-test.sh). Called by
# scripts/test.sh; installs what it needs first (sudo when not root).
#
# Usage: scripts/test-windows.sh --emulator PATH [--build-prefix PATH] [--werror]
#   --emulator PATH      the Linux build's glove-emulator program
#   --build-prefix PATH  build trees are PATH-x86_64 and PATH-i686 (default: build/windows)
# Where 32-bit programs cannot run (no wine32, or a kernel without 32-bit support), the 32-bit
# tests are skipped with a message that says why; the 64-bit ones still run.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
emulator=""
prefix="$root/build/windows"
werror=OFF
while [ $# -gt 0 ]; do
    case "$1" in
        --emulator) emulator=${2:?--emulator needs a path}; shift ;;
        --build-prefix) prefix=${2:?--build-prefix needs a path}; shift ;;
        --werror) werror=ON ;;
        *) echo "usage: $0 --emulator PATH [--build-prefix PATH] [--werror]" >&2; exit 2 ;;
    esac
    shift
done
[ -x "$emulator" ] || { echo "$0: no glove emulator program at '$emulator'" >&2; exit 2; }

"$root/scripts/install-deps.sh" windows

for target in x86_64 i686; do
    build="$prefix-$target"
    cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchains/mingw-w64-$target.cmake" \
        -DBUILD_TESTING=ON -DCHIROLINK_WERROR="$werror" -DCHIROLINK_GLOVE_EMULATOR="$emulator"
    cmake --build "$build"
done
for target in x86_64 i686; do
    ctest --test-dir "$prefix-$target" --output-on-failure --timeout 300
done
# The release: zips and installers of both trees, installed and uninstalled in a fresh prefix.
status=0
"$root/tests/windows/installer-test.sh" "$emulator" "$prefix-x86_64" "$prefix-i686" || status=$?
[ "$status" -eq 0 ] || [ "$status" -eq 77 ] || exit "$status"
echo "Windows stage: $SECONDS s"
