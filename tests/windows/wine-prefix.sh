#!/usr/bin/env bash
# Makes the Wine prefix of a build tree (once) and checks that COM1 and COM2 are mapped to the
# tests' own links in PORTS_DIR (which the tests make and remove as they start emulated gloves).
# Unmapped, COM1 would be the machine's /dev/ttyS0, which may well be the kernel console.
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
        [ "$(readlink "$prefix/dosdevices/com2")" = "$ports/com2" ]
}

if [ -f "$prefix/.chirolink-ready" ] && mapped; then
    echo "Wine prefix $prefix is ready"
    exit 0
fi
started=$SECONDS
"$wineserver" -k 2>/dev/null || true
rm -rf "$prefix"
wine_timeout=300 run_wine wineboot --init >/dev/null 2>&1
# The port mapping lives in the registry; Wine makes the device links from it when it starts,
# so the server is restarted after the change.
for n in 1 2; do
    run_wine reg add 'HKLM\Software\Wine\Ports' /v "COM$n" /d "$ports/com$n" /f >/dev/null 2>&1
done
"$wineserver" -w
run_wine cmd /c exit >/dev/null 2>&1 || true
if ! mapped; then
    echo "FAIL: COM1 and COM2 of $prefix are not mapped to $ports:" >&2
    ls -l "$prefix/dosdevices/" >&2
    exit 1
fi
touch "$prefix/.chirolink-ready"
echo "Wine prefix $prefix made in $((SECONDS - started)) s"
