#!/usr/bin/env bash
# Makes the Wine prefix of a build tree (once) and checks that COM1, COM2 and COM5 are mapped to
# the tests' own links in PORTS_DIR (which the tests make and remove as they start emulated
# gloves). Unmapped, COM1 would be the machine's /dev/ttyS0, which may well be the kernel console.
# COM5 is a port beyond the two that Chiroscope tries by itself, as a USB adapter's would be.
#
# The marker file names the make-up of the prefix: a prefix made by an older version of this
# script is made anew.
#
# Usage: wine-prefix.sh PREFIX PORTS_DIR
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
prefix=$1 ports=$2
. "$here/wine-env.sh"
export WINEPREFIX=$prefix
mkdir -p "$ports"

mapped() {
    [ "$(readlink "$prefix/dosdevices/com1")" = "$ports/com1" ] &&
        [ "$(readlink "$prefix/dosdevices/com2")" = "$ports/com2" ] &&
        [ "$(readlink "$prefix/dosdevices/com5")" = "$ports/com5" ]
}

if [ -f "$prefix/.chirolink-prefix-3" ] && mapped; then
    echo "Wine prefix $prefix is ready"
    exit 0
fi
started=$SECONDS
"$wineserver" -k 2>/dev/null || true
rm -rf "$prefix"
wine_timeout=300 run_wine wineboot --init >/dev/null 2>&1
# The port mapping lives in the registry; Wine makes the device links from it when it starts,
# so the server is restarted after the change. Chiroscope and the program that drives it in the
# end-to-end tests share a virtual desktop, which gives windows their frames without a window
# manager; other programs get none.
reg=$(mktemp --suffix=.reg)
cat >"$reg" <<REG
REGEDIT4

[HKEY_LOCAL_MACHINE\\Software\\Wine\\Ports]
"COM1"="$ports/com1"
"COM2"="$ports/com2"
"COM5"="$ports/com5"

[HKEY_CURRENT_USER\\Software\\Wine\\Explorer\\Desktops]
"Chiroscope"="640x480"

[HKEY_CURRENT_USER\\Software\\Wine\\AppDefaults\\Chiroscope.exe\\Explorer]
"Desktop"="Chiroscope"

[HKEY_CURRENT_USER\\Software\\Wine\\AppDefaults\\scope_driver.exe\\Explorer]
"Desktop"="Chiroscope"
REG
run_wine regedit /S "Z:${reg//\//\\}" >/dev/null 2>&1
rm -f "$reg"
# Debian's Wine does not look for its fonts where it installs them: without these "MS Sans Serif"
# would come out as another face, and the caption buttons as letters.
cp /usr/share/wine/fonts/* "$prefix/drive_c/windows/Fonts/"
"$wineserver" -w
run_wine cmd /c exit >/dev/null 2>&1 || true
if ! mapped; then
    echo "FAIL: COM1, COM2 and COM5 of $prefix are not mapped to $ports:" >&2
    ls -l "$prefix/dosdevices/" >&2
    exit 1
fi
touch "$prefix/.chirolink-prefix-3"
echo "Wine prefix $prefix made in $((SECONDS - started)) s"
