#!/usr/bin/env bash
# Builds the library, the emulator, the demo, the tests and the benchmarks, and runs every test;
# without a sanitizer also the Windows build under Wine (scripts/test-windows.sh). Installs the
# Debian packages it needs first (sudo when not root).
#
# Usage: scripts/test.sh [--werror] [--sanitize thread|address] [--repeat N]
#   --werror             warnings fail the build (CI builds this way)
#   --repeat N           run the driver tests N times over in one process, so that state one
#                        run leaves behind shows up in the next
#   --sanitize thread    build and test under ThreadSanitizer
#   --sanitize address   build and test under AddressSanitizer with UndefinedBehaviorSanitizer
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
werror=OFF
sanitize=""
repeat=""
while [ $# -gt 0 ]; do
    case "$1" in
        --werror) werror=ON ;;
        --sanitize) sanitize=${2:?--sanitize needs thread or address}; shift ;;
        --repeat) repeat=${2:?--repeat needs a count}; shift ;;
        *) echo "usage: $0 [--werror] [--sanitize thread|address] [--repeat N]" >&2; exit 2 ;;
    esac
    shift
done

if [ -z "$sanitize" ]; then
    "$root/scripts/install-deps.sh" windows
else
    "$root/scripts/install-deps.sh" test
fi

build="$root/build/test${sanitize:+-$sanitize}"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DBUILD_TESTING=ON -DCHIROLINK_WERROR="$werror" -DCHIROLINK_SANITIZE="$sanitize"
cmake --build "$build"

export TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 ${TSAN_OPTIONS:-}"
export ASAN_OPTIONS="detect_leaks=1 abort_on_error=0 ${ASAN_OPTIONS:-}"
export UBSAN_OPTIONS="print_stacktrace=1 halt_on_error=1 ${UBSAN_OPTIONS:-}"
if [ -z "$repeat" ]; then
    ctest --test-dir "$build" --output-on-failure --timeout 120
else
    # The driver tests run only repeated: their first round is the plain run.
    ctest --test-dir "$build" -LE driver --output-on-failure --timeout 120
    GTEST_REPEAT="$repeat" ctest --test-dir "$build" -L driver --output-on-failure --timeout 300
fi
# Windows has no sanitizers here: its stage runs in the plain mode only.
if [ -z "$sanitize" ]; then
    werror_flag=()
    [ "$werror" = OFF ] || werror_flag=(--werror)
    "$root/scripts/test-windows.sh" --emulator "$build/tools/glove-emulator/glove-emulator" \
        --build-prefix "$build-windows" "${werror_flag[@]}"
fi
