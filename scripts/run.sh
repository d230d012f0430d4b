#!/usr/bin/env bash
# Builds Chiroscope and runs it on the emulated glove, on a fresh Debian 12 machine:
#
#   scripts/run.sh
#
# 1. Installs what building and running need (scripts/install-deps.sh run; sudo when not root).
# 2. Configures and builds a Release build into build/release (chiroscope, glove-emulator).
# 3. Starts the glove emulator on a pseudo-terminal and runs chiroscope in a private mount
#    namespace where that pseudo-terminal is bound over /dev/ttyS0, so Chiroscope finds the
#    glove on COM1 (COM2, /dev/ttyS1, is /dev/null there and is never tried). The namespace is
#    made by demo/dev/with-serial-ports.sh: as root with `unshare --mount`; as another user with
#    an unprivileged user namespace, `unshare --user --map-root-user --mount`, where the kernel
#    permits it. The machine's real serial ports are not touched.
# 4. Without a display (no DISPLAY or WAYLAND_DISPLAY) it runs on a virtual X server (Xvfb)
#    and says so; scripts/screenshot.sh then shows what the window looks like.
#
# Chiroscope runs until its window is closed (OK, Esc or the close box).
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
# shellcheck source=lib/emulator.sh
. "$root/scripts/lib/emulator.sh"
build="${BUILD_DIR:-$root/build/release}"  # BUILD_DIR: another build directory

"$root/scripts/install-deps.sh" run
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >/dev/null
cmake --build "$build" --target chiroscope glove-emulator

start_emulator "$build/tools/glove-emulator/glove-emulator"
echo "Emulated glove on $glove, bound over /dev/ttyS0 (COM1) for Chiroscope." >&2

display=()
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    echo "No display: running Chiroscope on a virtual X server (Xvfb); stop it with Ctrl+C." >&2
    display=(xvfb-run -a -s "-screen 0 1024x768x24 -nolisten tcp")
fi
"$root/demo/dev/with-serial-ports.sh" "$glove" /dev/null -- "${display[@]}" "$build/demo/chiroscope"
