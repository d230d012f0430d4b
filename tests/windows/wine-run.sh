#!/usr/bin/env bash
# Runs one Windows test program under Wine with fresh emulated gloves on COM1 and COM2.
#
# Usage: wine-run.sh PREFIX PORTS_DIR EMULATOR BITS [OPTION...] -- PROGRAM [ARG...]
#   --com1 'ARGS', --com2 'ARGS'   start a glove emulator with these options behind the port
#                                  ('default': animated values at line timing); a port without
#                                  one has no device behind it
#   --expect-rx COMn BYTE COUNT    afterwards, the glove on COMn must have received BYTE COUNT times
#   --min-rate COMn RATE           ... and at least RATE requests (0x43) a second while polled
#   --show-rate COMn               print the requests a second the glove on COMn saw
# Each program gets new gloves: an answer left in a pseudo-terminal by an earlier process would
# spoil the next handshake. Exits 77 (skipped) when BITS is 32 and 32-bit programs cannot run.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
prefix=$1 ports=$2 emulator=$3 bits=$4
shift 4
. "$here/wine-env.sh"
export WINEPREFIX=$prefix

declare -A glove_args=()
expectations=()
rates=()
shown=()
while [ $# -gt 0 ] && [ "$1" != -- ]; do
    case $1 in
        --com1) glove_args[com1]=$2; shift 2 ;;
        --com2) glove_args[com2]=$2; shift 2 ;;
        --expect-rx) expectations+=("$2 $3 $4"); shift 4 ;;
        --min-rate) rates+=("$2 $3"); shift 3 ;;
        --show-rate) shown+=("$2"); shift 2 ;;
        *) echo "wine-run.sh: unknown option $1" >&2; exit 2 ;;
    esac
done
shift

if [ "$bits" = 32 ]; then
    why=$(why_no_32_bit)
    [ -z "$why" ] || { echo "SKIP: 32-bit Windows test: $why"; exit 77; }
fi
for n in 1 2; do
    if [ "$(readlink "$prefix/dosdevices/com$n")" != "$ports/com$n" ]; then
        echo "FAIL: COM$n of $prefix is not mapped to $ports/com$n; not running anything" >&2
        exit 1
    fi
done

# shellcheck source=../lib/scratch.sh
. "$here/../lib/scratch.sh"

for port in com1 com2; do
    rm -f "$ports/$port"
    [ -n "${glove_args[$port]:-}" ] || continue
    [ "${glove_args[$port]}" != default ] || glove_args[$port]=""
    # shellcheck disable=SC2086
    "$emulator" --link "$ports/$port" ${glove_args[$port]} >"$work/$port.out" 2>"$work/$port.log" &
    pids+=($!)
    for _ in $(seq 50); do
        [ -s "$work/$port.out" ] && break
        sleep 0.1
    done
    [ -s "$work/$port.out" ] || { echo "FAIL: the glove on $port did not start" >&2; exit 1; }
done

status=0
run_wine "$@" || status=$?
for pid in "${pids[@]}"; do
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
done
pids=()
[ "$status" -eq 0 ] || { echo "FAIL: $(basename "$1") exited with status $status" >&2; exit 1; }

# Requests a second on $1, from the glove's log of received bytes with their times.
request_rate() {
    awk '$3 == "rx" && $4 == "0x43" { if (n == 0) first = $1; last = $1; n++ }
         END { if (n < 2 || last == first) print 0; else printf "%.0f\n", (n - 1) * 1000 / (last - first) }' \
        "$work/${1,,}.log"
}
for expectation in "${expectations[@]}"; do
    read -r port byte count <<<"$expectation"
    got=$(grep -c " rx $byte\$" "$work/${port,,}.log" || true)
    [ "$got" -eq "$count" ] || { echo "FAIL: the glove on $port received $byte $got times, not $count" >&2; exit 1; }
done
for port in "${shown[@]}"; do
    echo "$port: $(request_rate "$port") requests a second"
done
for entry in "${rates[@]}"; do
    read -r port least <<<"$entry"
    rate=$(request_rate "$port")
    echo "$port: $rate requests a second (at least $least expected)"
    [ "$rate" -ge "$least" ] || { echo "FAIL: too slow" >&2; exit 1; }
done
exit 0
