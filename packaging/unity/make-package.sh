#!/usr/bin/env bash
# Makes the Unity package com.chirolink.glove-<version>.tgz in OUT_DIR: the package folder of
# bindings/unity with the C# binding's sources in Runtime/Binding and the native libraries in
# Runtime/Plugins (x86_64/libChirolink.so, x86_64/Chirolink.dll, x86/Chirolink.dll), whose .meta
# files select their platform and CPU. Every file and folder that Unity imports gets a .meta
# with a GUID made from its path, so that the same file keeps its GUID from release to release.
# Checks that each library is built for the platform and CPU that its place says.
#
# Usage: make-package.sh VERSION LINUX_X86_64_SO WIN64_DLL WIN32_DLL OUT_DIR
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(cd "$here/../.." && pwd)
[ $# -eq 5 ] || { echo "usage: make-package.sh VERSION LINUX_X86_64_SO WIN64_DLL WIN32_DLL OUT_DIR" >&2; exit 2; }
version=$1 linux=$2 win64=$3 win32=$4
mkdir -p "$5"
out=$(cd "$5" && pwd)
fail() {
    echo "make-package.sh: $*" >&2
    exit 1
}
expect() { # FILE DESCRIPTION-PATTERN WHAT
    [ -f "$1" ] || fail "$1 is not there"
    case $(file -b "$1") in
        $2) ;;
        *) fail "$1 is no $3: $(file -b "$1")" ;;
    esac
}
expect "$linux" "ELF 64-bit LSB shared object, x86-64*" "64-bit Linux library"
expect "$win64" "PE32+ executable (DLL)*x86-64*" "64-bit Windows DLL"
expect "$win32" "PE32 executable (DLL)*Intel 80386*" "32-bit Windows DLL"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
stage=$work/package
cp -r "$root/bindings/unity/com.chirolink.glove" "$stage"
sed -i "s/^  \"version\": \".*\",$/  \"version\": \"$version\",/" "$stage/package.json"
grep -q "^  \"version\": \"$version\",$" "$stage/package.json" || fail "no version line in package.json"
mkdir -p "$stage/Runtime/Binding"
cp "$root"/bindings/csharp/*.cs "$stage/Runtime/Binding/"
plugins=$stage/Runtime/Plugins
strip --strip-unneeded -o "$plugins/x86_64/libChirolink.so" "$linux"
x86_64-w64-mingw32-strip -o "$plugins/x86_64/Chirolink.dll" "$win64"
i686-w64-mingw32-strip -o "$plugins/x86/Chirolink.dll" "$win32"
for library in x86_64/libChirolink.so x86_64/Chirolink.dll x86/Chirolink.dll; do
    [ -f "$plugins/$library.meta" ] || fail "no $library.meta in the package folder"
done

# .meta files for what has none; folders ending in ~ (the samples) are not imported.
importer() {
    case $1 in
        *.cs) printf 'MonoImporter:\n  externalObjects: {}\n  serializedVersion: 2\n  defaultReferences: []\n  executionOrder: 0\n  icon: {instanceID: 0}\n' ;;
        *.asmdef) printf 'AssemblyDefinitionImporter:\n  externalObjects: {}\n' ;;
        package.json) printf 'PackageManifestImporter:\n  externalObjects: {}\n' ;;
        *) printf 'DefaultImporter:\n  externalObjects: {}\n' ;;
    esac
    printf '  userData: \n  assetBundleName: \n  assetBundleVariant: \n'
}
(cd "$stage" && find . -mindepth 1 -name '*~' -prune -o ! -name '*.meta' -print | sed 's|^\./||' | sort) |
    while read -r path; do
        [ -f "$stage/$path.meta" ] && continue
        guid=$(printf '%s' "com.chirolink.glove/$path" | md5sum | cut -c1-32)
        {
            printf 'fileFormatVersion: 2\nguid: %s\n' "$guid"
            if [ -d "$stage/$path" ]; then
                printf 'folderAsset: yes\n'
            fi
            importer "$(basename "$path")"
        } >"$stage/$path.meta"
    done

name=com.chirolink.glove-$version.tgz
rm -f "$out/$name"
tar -czf "$out/$name" --sort=name --owner=0 --group=0 --numeric-owner --mtime=@0 -C "$work" package
echo "$out/$name"
