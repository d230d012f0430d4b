#!/usr/bin/env bash
# Installs the Debian 12 packages that building, running and testing need.
# Usage: scripts/install-deps.sh [build|run|test]   (test includes everything)
set -euo pipefail

what=${1:-test}
packages=(cmake ninja-build g++ pkg-config qt6-base-dev libgl-dev fonts-dejavu-core)
case "$what" in
    build) ;;
    run) packages+=(util-linux xvfb xauth) ;;
    test)
        packages+=(googletest libgtest-dev libgmock-dev libbenchmark-dev
                   util-linux binutils procps xvfb xauth x11-utils xdotool imagemagick
                   clang-format) ;;
    *) echo "usage: $0 [build|run|test]" >&2; exit 2 ;;
esac

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=()
[ "$(id -u)" -eq 0 ] || sudo=(sudo)
echo "Installing: ${missing[*]}" >&2
"${sudo[@]}" apt-get update -qq
DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >&2
