#!/usr/bin/env bash
# Builds the Debian packages (libchirolink1, libchirolink-dev, chiroscope, chirolink-tools,
# python3-chirolink) from a Release tree in build/package; the .deb files land in
# build/package/debs. Installs the Debian packages it needs first (sudo when not root).
#
# Usage: scripts/package.sh [--werror]
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
werror=OFF
case "${1:-}" in
    --werror) werror=ON ;;
    "") ;;
    *) echo "usage: $0 [--werror]" >&2; exit 2 ;;
esac

"$root/scripts/install-deps.sh" package

build="$root/build/package"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF \
    -DCMAKE_INSTALL_PREFIX=/usr -DCHIROLINK_WERROR="$werror"
cmake --build "$build"
rm -rf "$build/debs"
cpack --config "$build/CPackConfig.cmake" -B "$build/debs" >&2
rm -rf "$build/debs/_CPack_Packages"
ls "$build"/debs/*.deb
