#!/usr/bin/env bash
# chirolink.exe under Wine, against emulated gloves that the prefix maps as COM1, COM2 and COM5.
#
# Usage: chirolink-wine.sh PREFIX PORTS_DIR EMULATOR BITS CASE CHIROLINK_EXE
#   info-glove     info on a glove: it answered, the line settings, a rate
#   info-missing   info on a port with no device (COM9): exit status 1 and one line
#   record-two     record two gloves for 2 s: every frame of each, in time order
#   record-ctrl-c  record until Ctrl+C (SIGINT, which Wine hands to the console's handler):
#                  ends in order, with whole rows and the summary
#   record-stalled record to a pipe whose reader reads nothing, until Ctrl+C: ends within a
#                  few seconds with exit status 1, the pipe holding whole rows
#   ports-scan     ports lists the mapped COM ports; scan finds the gloves on COM1 and COM5
#                  beside a silent COM2 and a missing COM9, all at once
#   stream-two     stream two gloves for 2 s to liblo's oscdump on this side of the loopback:
#                  every frame arrives, numbered by port, with the glove's values, in order
#   calibrate      calibrate an animated glove for 2 s into a file, again over it with --force,
#                  then record with it: the calibrated columns from 0 to 1
# Exits 77 (skipped) when BITS is 32 and 32-bit programs cannot run.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
prefix=$1 ports=$2 emulator=$3 bits=$4 case=$5 exe=$6
. "$root/tests/windows/wine-env.sh"
export WINEPREFIX=$prefix
if [ "$bits" = 32 ]; then
    why=$(why_no_32_bit)
    [ -z "$why" ] || { echo "SKIP: 32-bit chirolink.exe: $why"; exit 77; }
fi
# shellcheck source=../lib/scratch.sh
. "$root/tests/lib/scratch.sh"

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

# glove PORT [EMULATOR OPTION...]: a fresh glove behind COMn.
glove() {
    local port=$1
    shift
    rm -f "$ports/$port"
    "$emulator" --link "$ports/$port" --quiet "$@" >"$work/$port.out" 2>"$work/$port.log" &
    pids+=($!)
    for _ in $(seq 50); do
        [ -s "$work/$port.out" ] && return 0
        sleep 0.1
    done
    fail "the glove on $port did not start"
}

# chirolink ARG...: runs chirolink.exe; its output in $work/out and $work/err, its status in
# $status.
chirolink() {
    status=0
    run_wine "$exe" "$@" >"$work/out" 2>"$work/err" || status=$?
}

# The CSV at $1 holds every frame of the gloves named after it, each from sequence 1 on without
# a gap, all rows in time order; prints the rows of each glove.
check_rows() {
    local file=$1
    shift
    [ "$(head -1 "$file")" = "glove,sequence,monotonic_s,wall_time,finger1,finger2,finger3,finger4,finger5,roll,pitch,checksum,checksum_ok" ] ||
        fail "no header in $file"
    [ -z "$(tail -c 1 "$file")" ] || fail "$file ends in half a row"
    awk -F, -v gloves="$*" '
        NR == 1 { next }
        NF != 13 { print "row " NR ": " NF " fields"; bad = 1 }
        $2 != seen[$1] + 1 { print "row " NR ": " $1 " sequence " $2 " after " seen[$1] + 0; bad = 1 }
        $3 < time { print "row " NR ": monotonic_s steps back"; bad = 1 }
        { seen[$1] = $2; time = $3 }
        END {
            n = split(gloves, names, " ")
            for (i = 1; i <= n; i++) {
                if (seen[names[i]] < 50) { print names[i] ": only " seen[names[i]] + 0 " rows"; bad = 1 }
                printf "%s: %d rows\n", names[i], seen[names[i]]
            }
            exit bad
        }' "$file" || fail "the rows of $file are not every frame in order"
}

values=(--values 10,20,30,40,50,60,70)
case $case in
    calibrate)
        glove com1
        windows="Z:${work//\//\\}"
        for force in "" --force; do
            chirolink calibrate COM1 -o "$windows\\hand.json" --seconds 2 --hand left $force
            cat "$work/out" "$work/err"
            [ "$status" -eq 0 ] || fail "status $status"
        done
        grep -q '^  "hand": "left",$' "$work/hand.json" || fail "no hand in the file"
        grep -Eq '^    "pitch":   \{"low": [0-9]+, "high": [0-9]+\}$' "$work/hand.json" ||
            fail "no pitch in the file"
        chirolink calibrate COM1 -o "$windows\\hand.json"
        [ "$status" -eq 1 ] || fail "an existing file was not refused"
        chirolink record COM1 -o "$windows\\calibrated.csv" --duration 1 \
            --calibration "$windows\\hand.json"
        [ "$status" -eq 0 ] || fail "record: status $status: $(cat "$work/err")"
        head -1 "$work/calibrated.csv" | grep -q ',checksum_ok,finger1_cal,.*,pitch_cal$' ||
            fail "no calibrated columns"
        awk -F, 'NR > 1 { for (i = 14; i <= 20; i++) if ($i < 0 || $i > 1) exit 1 }' \
            "$work/calibrated.csv" || fail "a calibrated value beyond 0..1"
        ;;
    info-glove)
        glove com1 "${values[@]}"
        chirolink info COM1
        cat "$work/out"
        [ "$status" -eq 0 ] || fail "status $status: $(cat "$work/err")"
        grep -qx 'found:           glove answered' "$work/out" || fail "no glove found"
        grep -q '^settings:        19200 baud, 8N1, raw' "$work/out" || fail "wrong settings"
        grep -q 'reads 1 ms a byte + 200 ms, writes 1 ms a byte + 200 ms$' "$work/out" ||
            fail "no time-outs in the settings"
        grep -Eq '^frames:          [0-9]+ in 2\.[0-9]+ s, [1-9][0-9]+\.[0-9] per second$' \
            "$work/out" || fail "no rate"
        ;;
    info-missing)
        chirolink info COM9
        [ "$status" -eq 1 ] || fail "status $status, not 1"
        [ "$(cat "$work/err")" = "chirolink: COM9: no such device" ] ||
            fail "said: $(cat "$work/err")"
        ;;
    record-two)
        glove com1 "${values[@]}"
        glove com2 --bad-checksum-every 5
        chirolink record COM1 COM2 -o "Z:${work//\//\\}\\two.csv" --duration 2
        cat "$work/err"
        [ "$status" -eq 0 ] || fail "status $status"
        check_rows "$work/two.csv" COM1 COM2
        rows=$(($(wc -l <"$work/two.csv") - 1))
        grep -q " $rows frames, " <(grep '^chirolink: record ' "$work/err" | tail -1) ||
            fail "the last progress line does not count the $rows rows"
        [ "$(grep -c ',10,20,30,40,50,60,70,96,1$' "$work/two.csv")" -eq \
            "$(grep -c '^COM1,' "$work/two.csv")" ] || fail "COM1's values are not as sent"
        grep -q ',0$' "$work/two.csv" || fail "no bad checksum from COM2"
        ;;
    record-ctrl-c)
        glove com1 "${values[@]}"
        glove com2
        run_wine "$exe" record COM1 COM2 -o "Z:${work//\//\\}\\stopped.csv" \
            >"$work/out" 2>"$work/err" &
        runner=$!
        for _ in $(seq 300); do  # rows on disk: it runs
            [ "$(wc -l <"$work/stopped.csv" 2>/dev/null || echo 0)" -gt 100 ] && break
            sleep 0.1
        done
        program=$(pgrep -f "chirolink.exe record COM1 COM2 -o Z:" | head -1)
        [ -n "$program" ] || fail "chirolink.exe is not running"
        kill -INT "$program"
        status=0
        wait "$runner" || status=$?
        cat "$work/err"
        [ "$status" -eq 0 ] || fail "status $status after Ctrl+C"
        check_rows "$work/stopped.csv" COM1 COM2
        grep -q '^chirolink: COM2: [0-9]* frames, longest gap ' "$work/err" ||
            fail "no summary after Ctrl+C"
        ;;
    record-stalled)
        glove com1 --instant
        mkfifo "$work/pipe"
        # The reader takes nothing until chirolink.exe has ended.
        (while [ ! -e "$work/go" ]; do sleep 0.1; done; cat) <"$work/pipe" >"$work/taken.csv" &
        reader=$!
        pids+=("$reader")
        timeout 60 "$wine_loader" "$exe" record COM1 -o - >"$work/pipe" 2>"$work/err" </dev/null &
        runner=$!
        # Until the pipe is full (its 64 KiB, less than a piece of rows): bytes in it, as a
        # second reader that takes none sees them.
        python3 - "$work/pipe" <<'PYTHON' || fail "the pipe did not fill"
import array, fcntl, os, sys, termios, time
fd = os.open(sys.argv[1], os.O_RDONLY | os.O_NONBLOCK)
size = array.array("i", [0])
for _ in range(600):
    fcntl.ioctl(fd, termios.FIONREAD, size)
    if size[0] > 60000:
        sys.exit(0)
    time.sleep(0.1)
sys.exit(1)
PYTHON
        sleep 0.5
        program=$(pgrep -f "chirolink.exe record COM1 -o -" | head -1)
        [ -n "$program" ] || fail "chirolink.exe is not running"
        kill -INT "$program"
        SECONDS=0
        status=0
        wait "$runner" || status=$?
        took=$SECONDS
        touch "$work/go"
        wait "$reader"
        cat "$work/err"
        [ "$status" -eq 1 ] || fail "status $status after Ctrl+C, not 1"
        [ "$took" -le 10 ] || fail "took $took s to end"
        grep -q '^chirolink: standard output: stalled' "$work/err" || fail "no word of the stall"
        check_rows "$work/taken.csv" COM1
        ;;
    stream-two)
        glove com1 "${values[@]}"
        glove com2 --values 11,22,33,44,55,66,77
        port=$(python3 -c 'import socket; s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
        oscdump -L "$port" >"$work/received" 2>"$work/oscdump.err" &
        pids+=($!)
        sleep 0.5  # listening
        chirolink stream COM1 COM2 --osc "127.0.0.1:$port" --duration 2
        cat "$work/err"
        [ "$status" -eq 0 ] || fail "status $status"
        sleep 0.5  # the last datagrams
        sent=$(grep '^chirolink: stream ' "$work/err" | tail -1 | sed 's/.* s, \([0-9]*\) frames,.*/\1/')
        # "TIME /chirolink/N/frame iiiiiiiihd F1 F2 F3 F4 F5 ROLL PITCH GOOD SEQUENCE SECONDS"
        awk -v sent="$sent" '
            function wrong(why) { if (++bad <= 5) print "line " NR ": " why ": " $0 }
            BEGIN { want["/chirolink/1/frame"] = "10 20 30 40 50 60 70 1"
                    want["/chirolink/2/frame"] = "11 22 33 44 55 66 77 1" }
            !($2 in want) || $3 != "iiiiiiiihd" { wrong("not a frame message"); next }
            ($4 " " $5 " " $6 " " $7 " " $8 " " $9 " " $10 " " $11) != want[$2] {
                wrong("wrong values") }
            $12 != last[$2] + 1 { wrong("sequence " $12 " after " last[$2] + 0) }
            { last[$2] = $12; n[$2]++; all++ }
            END {
                if (n["/chirolink/1/frame"] < 50 || n["/chirolink/2/frame"] < 50) {
                    print "too few: " n["/chirolink/1/frame"] + 0 ", " n["/chirolink/2/frame"] + 0
                    bad = 1
                }
                if (all != sent) { print all + 0 " messages arrived of " sent; bad = 1 }
                exit bad > 0
            }' "$work/received" || fail "the messages are not every frame of both gloves"
        ;;
    ports-scan)
        glove com1 "${values[@]}"
        glove com2 --silent
        glove com5 --values 11,22,33,44,55,66,77
        chirolink ports
        cat "$work/out"
        [ "$status" -eq 0 ] || fail "ports: status $status: $(cat "$work/err")"
        for port in COM1 COM2 COM5; do
            grep -q "^$port  " "$work/out" || fail "ports does not list $port"
        done
        started=$(date +%s%N)
        chirolink scan COM1 COM2 COM5 COM9
        elapsed_ms=$((($(date +%s%N) - started) / 1000000))
        cat "$work/out"
        echo "scan took $elapsed_ms ms"
        [ "$status" -eq 0 ] || fail "scan: status $status: $(cat "$work/err")"
        printf '%s\n' "COM1: glove" "COM2: no glove" "COM5: glove" "COM9: no such device" \
            "gloves on: COM1 COM5" | diff - <(tr -d '\r' <"$work/out") || fail "scan said otherwise"
        # One silent port takes 1.2 s; Wine itself takes a second or so to start a program.
        [ "$elapsed_ms" -lt 5000 ] || fail "the ports were not probed at once"
        chirolink scan --quiet COM2 COM5
        [ "$status" -eq 0 ] && [ "$(tr -d '\r' <"$work/out")" = COM5 ] ||
            fail "scan --quiet: status $status, said: $(cat "$work/out")"
        ;;
    *) fail "unknown case $case" ;;
esac
echo "PASS: $case"
