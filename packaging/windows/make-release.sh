#!/usr/bin/env bash
# Makes the Windows release of one cross-built tree in OUT_DIR:
#   Chirolink-<version>-<arch>.zip        the files, in a folder Chirolink-<version>-<arch>
#   Chirolink-<version>-<arch>-setup.exe  an installer of the same files (chirolink.nsi)
# <arch> is win32 or win64, after the tree's Chirolink.dll; <version> is the CMake project's.
# The files: Chirolink.dll, Chiroscope.exe, chirolink.exe, the
# headers, Chirolink.def and the MinGW import library, the Python module, README.txt, and
# LICENSE.txt when the project has a LICENSE file.
#
# Usage: make-release.sh BUILD_TREE OUT_DIR
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(cd "$here/../.." && pwd)
tree=$(cd "${1:?usage: make-release.sh BUILD_TREE OUT_DIR}" && pwd)
mkdir -p "${2:?usage: make-release.sh BUILD_TREE OUT_DIR}"
out=$(cd "$2" && pwd)

fail() {
    echo "make-release.sh: $*" >&2
    exit 1
}
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$tree/CMakeCache.txt")
[ -n "$version" ] || fail "$tree is no configured build tree"
dll=$tree/bin/Chirolink.dll
[ -f "$dll" ] || fail "$dll is not built"
case $(file -b "$dll") in
    PE32+*x86-64*) arch=win64 cross=x86_64-w64-mingw32 ;;
    PE32*80386*) arch=win32 cross=i686-w64-mingw32 ;;
    *) fail "$dll is no Windows DLL" ;;
esac
name=Chirolink-$version-$arch

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
stage=$work/$name
mkdir -p "$stage/include" "$stage/lib" "$stage/python"

# Programs and library, without their symbol tables.
for program in Chirolink.dll Chiroscope.exe chirolink.exe; do
    [ -f "$tree/bin/$program" ] || fail "$tree/bin/$program is not built"
    "$cross-strip" -o "$stage/$program" "$tree/bin/$program"
done
cp "$root/driver/include/chirolink.h" "$root/driver/include/chirolink_glove.h" \
    "$root/driver/include/chirolink_calibration.h" "$stage/include/"
cp "$root/driver/Chirolink.def" "$tree/driver/libChirolink.dll.a" "$stage/lib/"
cp -r "$root/python/chirolink" "$stage/python/"
find "$stage/python" -name __pycache__ -prune -exec rm -rf {} +
# Text files with Windows line ends, for Notepad.
sed 's/$/\r/' "$here/README.txt" >"$stage/README.txt"
license=()
if [ -f "$root/LICENSE" ]; then
    sed 's/$/\r/' "$root/LICENSE" >"$stage/LICENSE.txt"
    license=(-DLICENSE="$stage/LICENSE.txt")
else
    echo "make-release.sh: warning: the project has no LICENSE file; the release carries none" >&2
fi

rm -f "$out/$name.zip" "$out/$name-setup.exe"
(cd "$work" && zip -q -X -r "$out/$name.zip" "$name")

# The installer's File lines, folder by folder, and the uninstaller's Delete and RMDir lines
# for the same files, the deepest folders last.
windows_path() { printf '%s' "${1//\//\\}"; }
{
    (cd "$stage" && find . -type d | sort) | while read -r dir; do
        dir=${dir#.}
        echo "SetOutPath \"\$INSTDIR$(windows_path "$dir")\""
        find "$stage$dir" -maxdepth 1 -type f | sort | while read -r file; do
            echo "File \"$file\""
        done
    done
} >"$work/install.nsh"
{
    (cd "$stage" && find . -type f | sort) | while read -r file; do
        echo "Delete \"\$INSTDIR$(windows_path "${file#.}")\""
    done
    (cd "$stage" && find . -mindepth 1 -type d | sort -r) | while read -r dir; do
        echo "RMDir \"\$INSTDIR$(windows_path "${dir#.}")\""
    done
} >"$work/uninstall.nsh"

makensis -V2 -WX -NOCD -DARCH="$arch" -DVERSION="$version" -DOUTFILE="$out/$name-setup.exe" \
    -DICON="$tree/demo/win32/chiroscope.ico" -DINSTALL_LIST="$work/install.nsh" \
    -DUNINSTALL_LIST="$work/uninstall.nsh" "${license[@]}" "$here/chirolink.nsi" >&2
echo "$out/$name.zip"
echo "$out/$name-setup.exe"
