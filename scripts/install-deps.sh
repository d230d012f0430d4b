#!/usr/bin/env bash
# Installs the Debian 12 packages that building, running and testing need.
# Usage: scripts/install-deps.sh [build|run|package|test|windows|windows-package]
#   package: what building the Debian packages needs
#   test: everything the Linux build, its tests and benchmarks need
#   windows: what test needs, plus the MinGW-w64 cross compilers for 32-bit and 64-bit Windows
#            and Wine (64-bit, and 32-bit through Debian's i386 architecture) to run their tests,
#            and what windows-package needs
#   windows-package: what building the Windows release needs (scripts/package.sh windows):
#            the cross compilers, NSIS and zip
set -euo pipefail

what=${1:-test}
packages=(cmake ninja-build g++ pkg-config nlohmann-json3-dev qt6-base-dev libgl-dev
          fonts-dejavu-core)
case "$what" in
    build) ;;
    run) packages+=(util-linux xvfb xauth) ;;
    package) packages+=(dpkg-dev file) ;;
    test)
        packages+=(googletest libgtest-dev libgmock-dev libbenchmark-dev liblo-dev
                   util-linux binutils procps xvfb xauth x11-utils xdotool imagemagick
                   clang-format dpkg-dev file python3 python3-matplotlib strace
                   mono-mcs mono-devel) ;;
    windows)
        packages+=(googletest libgtest-dev libgmock-dev libbenchmark-dev liblo-dev
                   util-linux binutils procps xvfb xauth x11-utils xdotool imagemagick
                   clang-format dpkg-dev file python3 python3-matplotlib strace mono-mcs mono-devel
                   g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix binutils-mingw-w64
                   wine wine64 wine32:i386 fonts-wine nsis zip unzip liblo-tools) ;;
    windows-package)
        packages+=(g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix binutils-mingw-w64
                   python3 file nsis zip) ;;
    *) echo "usage: $0 [build|run|package|test|windows|windows-package]" >&2; exit 2 ;;
esac

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=()
[ "$(id -u)" -eq 0 ] || sudo=(sudo)
# wine32 comes from Debian's i386 architecture, which has to be known to dpkg first.
if [[ " ${missing[*]} " == *":i386 "* ]] && ! dpkg --print-foreign-architectures | grep -qx i386; then
    "${sudo[@]}" dpkg --add-architecture i386
fi
echo "Installing: ${missing[*]}" >&2
"${sudo[@]}" apt-get update -qq
DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >&2
