#!/usr/bin/env bash
# Chiroscope.exe end to end under Wine on Xvfb: the real program with emulated gloves behind
# COM1, COM2 and COM5, driven and checked by scope_driver.exe in the same virtual desktop.
#
# Usage: scope-e2e.sh PREFIX PORTS_DIR EMULATOR BITS CASE CHIROSCOPE DRIVER ARTIFACTS
#   CASE: glove_on_com1 | glove_on_com2 | no_glove | plot | named_port
# named_port: Chiroscope.exe COM5, with the glove on COM5 and another glove on COM1.
# Screenshots land in ARTIFACTS as CASE-*.png. Exits 77 (skipped) when BITS is 32 and 32-bit
# programs cannot run here.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
prefix=$1 ports=$2 emulator=$3 bits=$4 scenario=$5 chiroscope=$6 driver=$7 artifacts=$8
. "$here/wine-env.sh"
export WINEPREFIX=$prefix
values=17,34,51,68,200,255,0
other_values=18,35,52,69,201,254,1

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

# ---- Inside Xvfb. ----
if [ "${SCOPE_E2E_INSIDE:-}" = 1 ]; then
    work=$SCOPE_E2E_WORK
    named=()
    [ "$scenario" != named_port ] || named=(COM5)
    "$wine_loader" "$chiroscope" "${named[@]}" >"$work/chiroscope.out" 2>"$work/chiroscope.err" \
        </dev/null &
    pid=$!
    case $scenario in
        no_glove) mode=(message) ;;
        glove_on_com1 | named_port) mode=(readout "$values") ;;
        glove_on_com2) mode=(readout "$other_values") ;;
        plot) mode=(plot) ;;
    esac
    status=0
    run_wine "$driver" "${mode[0]}" "$(basename "$chiroscope")" "Z:${work//\//\\}" "${mode[@]:1}" ||
        status=$?
    for _ in $(seq 100); do
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.1
    done
    if kill -0 "$pid" 2>/dev/null; then
        kill "$pid"
        fail "Chiroscope.exe did not end"
    fi
    wait "$pid" || fail "Chiroscope.exe exited with status $?"
    "$wineserver" -k 2>/dev/null || true
    exit "$status"
fi

# ---- Outside: gloves and the display. ----
if [ "$bits" = 32 ]; then
    why=$(why_no_32_bit)
    [ -z "$why" ] || { echo "SKIP: 32-bit Windows test: $why"; exit 77; }
fi
for tool in xvfb-run convert; do
    command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed"; exit 77; }
done
for n in 1 2 5; do
    [ "$(readlink "$prefix/dosdevices/com$n")" = "$ports/com$n" ] ||
        fail "COM$n of $prefix is not mapped to $ports/com$n; not running anything"
done
mkdir -p "$artifacts"
# shellcheck source=../lib/scratch.sh
. "$here/../lib/scratch.sh"

start_glove() {  # PORT OPTION...
    local port=$1
    shift
    "$emulator" --link "$ports/$port" "$@" >"$work/$port.out" 2>"$work/$port.log" &
    pids+=($!)
    for _ in $(seq 50); do
        [ -s "$work/$port.out" ] && return
        sleep 0.1
    done
    fail "the glove on $port did not start"
}
rm -f "$ports/com1" "$ports/com2" "$ports/com5"
case $scenario in
    glove_on_com1) start_glove com1 --instant --values "$values"
                   start_glove com2 --instant --values "$other_values" ;;
    glove_on_com2) start_glove com1 --silent
                   start_glove com2 --instant --values "$other_values" ;;
    no_glove) start_glove com2 --silent ;;
    plot) start_glove com1 ;;  # moving values at the line's own pace
    named_port) start_glove com1 --instant --values "$other_values"
                start_glove com2 --silent
                start_glove com5 --instant --values "$values" ;;
    *) fail "unknown case $scenario" ;;
esac

# Wine's server would keep the display's first client alive: it starts inside and is ended there.
"$wineserver" -k 2>/dev/null || true
status=0
SCOPE_E2E_INSIDE=1 SCOPE_E2E_WORK=$work xvfb-run -a -s "-screen 0 1024x768x24" \
    "$0" "$@" || status=$?
for shot in "$work"/*.bmp; do
    [ -e "$shot" ] || continue
    convert "$shot" "$artifacts/$scenario-$(basename "${shot%.bmp}").png"
done
cat "$work/chiroscope.out" "$work/chiroscope.err"
[ "$status" -eq 0 ] || fail "the driver found faults (screenshots in $artifacts)"

case $scenario in
    glove_on_com1)
        ! grep -q ' rx ' "$work/com2.log" || fail "COM2 was opened although the glove is on COM1" ;;
    glove_on_com2)
        [ "$(grep -c ' rx 0x41$' "$work/com1.log")" -eq 3 ] || fail "COM1 did not get three hellos" ;;
    named_port)
        ! grep -q ' rx ' "$work/com1.log" "$work/com2.log" ||
            fail "COM1 or COM2 was opened although COM5 was named" ;;
esac
echo "PASS: $scenario"
