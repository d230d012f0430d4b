#!/usr/bin/env bash
# The Windows release under Wine. Makes each build tree's zip and installer
# (packaging/windows/make-release.sh), then, in a fresh Wine prefix:
#   - installs the 64-bit and the 32-bit release silently, side by side, and checks that each
#     put exactly the zip's files under its own Program Files folder, with a Start-menu entry
#     and an uninstall entry of its own;
#   - checks an emulated glove with each installed copy's `chirolink.exe info COM1`;
#   - uninstalls them silently, one after the other (the other stays whole);
#   - refuses to install the 64-bit release into a second folder while it is installed;
#   - installs the 64-bit release once more into a folder given with /D=, again without /D=
#     (into the same folder), runs its Python module there, and uninstalls it;
#   - checks that the prefix's files and registry are as they were before.
# The uninstaller's copy of itself in the user's Temp folder, which Windows removes at the next
# start, is not counted.
#
# Usage: installer-test.sh EMULATOR TREE...
#   EMULATOR  the Linux build's glove-emulator program
#   TREE      Windows build trees (cmake/toolchains/) with their tests built
# Releases for 32-bit Windows are installed only where 32-bit programs run; exits 77 (skipped)
# when no release can be.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
emulator=${1:?usage: installer-test.sh EMULATOR TREE...}
shift
. "$here/wine-env.sh"
# shellcheck source=../lib/scratch.sh
. "$here/../lib/scratch.sh"

failed=0
fail() {
    echo "FAIL: $*"
    failed=1
}

# The releases, and for each the tree it came from.
declare -A tree_of=()
for tree in "$@"; do
    if ! "$root/packaging/windows/make-release.sh" "$tree" "$work/release" >"$work/made" \
        2>"$work/made.log"; then
        cat "$work/made.log" >&2
        echo "FAIL: no release made of $tree"
        exit 1
    fi
    zip=$(grep '\.zip$' "$work/made")
    arch=$(basename "$zip" .zip)
    arch=${arch##*-}
    if [ "$arch" = win32 ] && why=$(why_no_32_bit) && [ -n "$why" ]; then
        echo "SKIP: the 32-bit release: $why"
        continue
    fi
    tree_of[$arch]=$tree
done
[ ${#tree_of[@]} -gt 0 ] || { echo "SKIP: no release can be installed here"; exit 77; }
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$1/CMakeCache.txt")

# No menu entries on this machine for the Start-menu shortcuts (Wine's winemenubuilder).
export WINEDLLOVERRIDES="winemenubuilder.exe=d;$WINEDLLOVERRIDES"
prefix=$work/prefix ports=$work/ports
"$here/wine-prefix.sh" "$prefix" "$ports" >/dev/null
export WINEPREFIX=$prefix
menu="$prefix/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs"

# Where each release goes by default, and its uninstall entry (the 32-bit one in the 32-bit
# view of the registry).
declare -A folder=([win64]='C:\Program Files\Chirolink' [win32]='C:\Program Files (x86)\Chirolink')
declare -A menu_folder=([win64]='Chirolink (64-bit)' [win32]='Chirolink (32-bit)')
entries='Microsoft\Windows\CurrentVersion\Uninstall'
declare -A key=([win64]="HKLM\\Software\\$entries\\Chirolink-win64"
                [win32]="HKLM\\Software\\Wow6432Node\\$entries\\Chirolink-win32")

unix_path() {
    local path=${1#C:\\}
    echo "$prefix/drive_c/${path//\\//}"
}
wine_out() { run_wine "$@" 2>/dev/null | tr -d '\r'; }
registry_value() { wine_out reg query "$1" /v "$2" | sed -n "s/^ *$2 *REG_[A-Z]* *//p"; }
settle() { "$wineserver" -w; }

# Everything in the prefix but its Temp folders, and its registry.
snapshot() {
    settle
    (cd "$prefix/drive_c" && find . -path './users/*/Temp/*' -prune -o -print | sort) >"$1.files"
    for hive in HKLM HKCU; do
        run_wine reg export "$hive\\Software" "Z:${1//\//\\}.$hive" /y >/dev/null 2>&1
        iconv -f UTF-16 -t UTF-8 "$1.$hive" >"$1.$hive.txt"
    done
    settle
}

install_release() { # ARCH [FOLDER]
    local args=(/S)
    [ -z "${2:-}" ] || args+=("/D=$2")
    run_wine "$work/release/Chirolink-$version-$1-setup.exe" "${args[@]}" >/dev/null 2>&1 ||
        fail "$1: the installer exited with $?"
    settle
}

uninstall_release() { # ARCH FOLDER
    run_wine "$2\\Uninstall.exe" /S >/dev/null 2>&1 || fail "$1: the uninstaller exited with $?"
    settle
}

expect_installed() { # ARCH FOLDER
    local arch=$1 dir
    dir=$(unix_path "$2")
    local zip="$work/release/Chirolink-$version-$arch.zip" top="Chirolink-$version-$arch/"
    local want got
    want=$( (unzip -Z1 "$zip" | grep -v '/$' | sed "s|^$top||"; echo Uninstall.exe) | sort)
    got=$( (cd "$dir" 2>/dev/null && find . -type f | sed 's|^\./||' | sort) || true)
    [ "$got" = "$want" ] || fail "$arch: $2 holds" $'\n'"$got"$'\n'"instead of"$'\n'"$want"
    while read -r file; do
        unzip -p "$zip" "$file" | cmp -s - "$dir/${file#"$top"}" ||
            fail "$arch: ${file#"$top"} differs from the zip's"
    done < <(unzip -Z1 "$zip" | grep -v '/$')
    [ -f "$menu/${menu_folder[$arch]}/Chiroscope.lnk" ] ||
        fail "$arch: no Start-menu entry ${menu_folder[$arch]}\\Chiroscope.lnk"
    [ "$(registry_value "${key[$arch]}" InstallLocation)" = "$2" ] ||
        fail "$arch: ${key[$arch]} does not name $2"
    [ "$(registry_value "${key[$arch]}" UninstallString)" = "\"$2\\Uninstall.exe\"" ] ||
        fail "$arch: ${key[$arch]} has no uninstaller in $2"
    registry_value "${key[$arch]}" DisplayName | grep -q "^Chirolink $version" ||
        fail "$arch: ${key[$arch]} has no display name"
}

expect_gone() { # ARCH FOLDER
    [ ! -e "$(unix_path "$2")" ] || fail "$1: $2 is still there"
    [ ! -e "$menu/${menu_folder[$1]}" ] || fail "$1: the Start-menu folder is still there"
    ! wine_out reg query "${key[$1]}" >/dev/null 2>&1 || fail "$1: ${key[$1]} is still there"
}

# A glove on COM1 answers through the installed copy.
expect_glove() { # ARCH FOLDER
    local arch=$1 output
    rm -f "$ports/com1"
    "$emulator" --link "$ports/com1" --quiet --values 10,20,30,40,50,60,70 >/dev/null 2>&1 &
    pids+=($!)
    for _ in $(seq 50); do [ -e "$ports/com1" ] && break; sleep 0.1; done
    output=$(wine_out "$2\\chirolink.exe" info COM1 || true)
    grep -Eq '^found: +glove answered$' <<<"$output" ||
        fail "$arch: chirolink.exe info COM1 said"$'\n'"$output"
    kill "${pids[-1]}" 2>/dev/null || true
    wait "${pids[-1]}" 2>/dev/null || true
    unset 'pids[-1]'
    rm -f "$ports/com1"
}

snapshot "$work/before"
archs=(win64 win32)
for arch in "${archs[@]}"; do
    [ -z "${tree_of[$arch]:-}" ] || install_release "$arch"
done
for arch in "${archs[@]}"; do
    [ -n "${tree_of[$arch]:-}" ] || continue
    expect_installed "$arch" "${folder[$arch]}"
    expect_glove "$arch" "${folder[$arch]}"
done
chosen='C:\Chirolink-chosen'  # /D= takes no quotes, so no spaces here
one=win64  # the release installed on its own below
[ -n "${tree_of[$one]:-}" ] || one=win32
# One uninstall entry names one folder: a second one is refused while the first is there.
! run_wine "$work/release/Chirolink-$version-$one-setup.exe" /S "/D=$chosen" >/dev/null 2>&1 ||
    fail "$one: a second copy was installed into $chosen"
settle
[ ! -e "$(unix_path "$chosen")" ] || fail "$one: the refused install made $chosen"
expect_installed "$one" "${folder[$one]}"
for arch in "${archs[@]}"; do
    [ -n "${tree_of[$arch]:-}" ] || continue
    uninstall_release "$arch" "${folder[$arch]}"
    expect_gone "$arch" "${folder[$arch]}"
    for other in "${archs[@]}"; do
        if [ "$other" != "$arch" ] && [ -n "${tree_of[$other]:-}" ] &&
            [ -e "$(unix_path "${folder[$other]}")" ]; then
            expect_installed "$other" "${folder[$other]}"
        fi
    done
done
install_release "$one" "$chosen"
install_release "$one"  # again, into the folder it is in
[ ! -e "$(unix_path "${folder[$one]}")" ] || fail "$one: installed again into ${folder[$one]}"
expect_installed "$one" "$chosen"
# Python leaves byte-code caches beside the modules it runs from there (PYTHONPATH, as
# README.txt offers); the uninstaller takes them too.
dir=$(unix_path "$chosen")/python
env -u PYTHONDONTWRITEBYTECODE python3 -c 'import sys; sys.path[0] = sys.argv[1]
import chirolink.plot' "$dir" || fail "$one: the installed Python module does not run"
[ -d "$dir/chirolink/__pycache__" ] || fail "$one: Python made no byte-code cache in $dir"
uninstall_release "$one" "$chosen"
expect_gone "$one" "$chosen"
snapshot "$work/after"
for part in files HKLM.txt HKCU.txt; do
    diff "$work/before.$part" "$work/after.$part" >"$work/diff" ||
        fail "the prefix differs after uninstalling ($part):"$'\n'"$(cat "$work/diff")"
done

[ "$failed" -eq 0 ] && echo "installer test: ${!tree_of[*]}: all checks passed"
exit "$failed"
