#!/usr/bin/env bash
# Builds the Debian packages (libchirolink1, libchirolink-dev, chiroscope, chirolink-tools,
# python3-chirolink) from a Release tree in build/package; the .deb files land in
# build/package/debs. Installs the Debian packages it needs first (sudo when not root).
#
# With `windows`, builds the Windows release instead, from Release trees cross-built with
# MinGW-w64 in build/package-windows-i686 and build/package-windows-x86_64: into
# build/package/windows, Chirolink-<version>-win32.zip and -win64.zip, and the installers
# Chirolink-<version>-win32-setup.exe and -win64-setup.exe (packaging/windows/).
#
# With `unity`, builds the Unity package build/package/unity/com.chirolink.glove-<version>.tgz
# (packaging/unity/) with the library of a Linux Release tree (build/package) and of the two
# Windows Release trees.
#
# Usage: scripts/package.sh [windows|unity] [--werror]
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
werror=OFF
windows=false
unity=false
for arg in "$@"; do
    case "$arg" in
        --werror) werror=ON ;;
        windows) windows=true ;;
        unity) unity=true ;;
        *) echo "usage: $0 [windows|unity] [--werror]" >&2; exit 2 ;;
    esac
done

if $unity; then
    "$root/scripts/install-deps.sh" windows-package
    "$root/scripts/install-deps.sh" package
    build="$root/build/package"
    cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF \
        -DCMAKE_INSTALL_PREFIX=/usr -DCHIROLINK_WERROR="$werror" >&2
    cmake --build "$build" --target Chirolink >&2
    for target in i686 x86_64; do  # the same trees as the Windows release's
        windows="$root/build/package-windows-$target"
        cmake -S "$root" -B "$windows" -G Ninja -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF \
            -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchains/mingw-w64-$target.cmake" \
            -DCHIROLINK_WERROR="$werror" >&2
        cmake --build "$windows" --target Chirolink >&2
    done
    version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
    exec "$root/packaging/unity/make-package.sh" "$version" \
        "$(readlink -f "$build/driver/libChirolink.so")" \
        "$root/build/package-windows-x86_64/bin/Chirolink.dll" \
        "$root/build/package-windows-i686/bin/Chirolink.dll" "$root/build/package/unity"
fi

if $windows; then
    "$root/scripts/install-deps.sh" windows-package
    out="$root/build/package/windows"
    rm -rf "$out"
    for target in i686 x86_64; do
        build="$root/build/package-windows-$target"
        cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF \
            -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchains/mingw-w64-$target.cmake" \
            -DCHIROLINK_WERROR="$werror" >&2
        cmake --build "$build" >&2
        "$root/packaging/windows/make-release.sh" "$build" "$out"
    done
    exit 0
fi

"$root/scripts/install-deps.sh" package

build="$root/build/package"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF \
    -DCMAKE_INSTALL_PREFIX=/usr -DCHIROLINK_WERROR="$werror"
cmake --build "$build"
rm -rf "$build/debs"
cpack --config "$build/CPackConfig.cmake" -B "$build/debs" >&2
rm -rf "$build/debs/_CPack_Packages"
ls "$build"/debs/*.deb
