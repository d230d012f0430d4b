#!/usr/bin/env bash
# Makes docs/chiroscope.png: the live readout window, showing an emulated glove on COM1, as
# drawn on a virtual X server (Xvfb). Needs a build in build/release (scripts/run.sh makes one, or
# this script configures one) and xvfb, xdotool and imagemagick.
#
#   scripts/screenshot.sh [OUTPUT.png]
#
# The emulator's pseudo-terminal is bound over /dev/ttyS0 in a private mount namespace, as in
# scripts/run.sh; the machine's serial ports are not touched.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
# shellcheck source=lib/emulator.sh
. "$root/scripts/lib/emulator.sh"
build="${BUILD_DIR:-$root/build/release}"  # BUILD_DIR: another build directory
if [ "${1:-}" = "--inside" ]; then
    output=$2
    "$build/demo/chiroscope" &
    chiroscope=$!
    window=$(timeout 15 xdotool search --sync --onlyvisible --name '^Chiroscope$' | head -1)
    sleep 1  # a few refreshes
    import -window "$window" "$output"
    xdotool windowfocus --sync "$window" key Escape
    wait "$chiroscope"
    exit 0
fi
output=$(realpath -m "${1:-$root/docs/chiroscope.png}")

if [ ! -x "$build/demo/chiroscope" ] || [ ! -x "$build/tools/glove-emulator/glove-emulator" ]; then
    cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >/dev/null
    cmake --build "$build" --target chiroscope glove-emulator
fi

# Fixed values keep the picture the same from run to run.
start_emulator "$build/tools/glove-emulator/glove-emulator" --values 112,148,163,139,97,128,131

mkdir -p "$(dirname "$output")"
"$root/demo/dev/with-serial-ports.sh" "$glove" /dev/null -- \
    xvfb-run -a -s "-screen 0 1024x768x24 -nolisten tcp" "$0" --inside "$output"
echo "Wrote $output"
