#!/usr/bin/env bash
# End to end: the real chiroscope under Xvfb, with the glove emulator's pseudo-terminals bound
# over COM1 (/dev/ttyS0) and COM2 (/dev/ttyS1) in a private mount namespace.
#
# Usage: e2e.sh CASE CHIROSCOPE GLOVE_EMULATOR REFERENCE_RENDERER ARTIFACT_DIR
#   CASE: glove_on_com1 | glove_on_com2 | no_glove | plot | named_ports
# named_ports: chiroscope is given two more ports on its command line, a silent one and then
# one with the glove, while COM1 has a glove with other values.
# Exits 77 (skipped) where a mount namespace or the X tools are not available.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
ports="$here/../../demo/dev/with-serial-ports.sh"
values=17,34,51,68,200,255,0
other_values=18,35,52,69,201,254,1

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

# Waits up to $1 seconds for the command after it to succeed.
wait_for() {
    local deadline=$((SECONDS + $1))
    shift
    until "$@"; do
        [ "$SECONDS" -lt "$deadline" ] || return 1
        sleep 0.1
    done
}

# ---- Inside Xvfb and the namespace: drive the program. ----
if [ "${1:-}" = "--scenario" ]; then
    scenario=$2 chiroscope=$3 reference=$4 artifacts=$5 work=$6
    read -r _ width height < <("$reference" "$values" "$work/reference.png" | tee "$work/fields" | head -1)
    "$reference" "$other_values" "$work/other.png" >/dev/null

    named=()
    [ ! -s "$work/named" ] || mapfile -t named <"$work/named"
    "$chiroscope" "${named[@]}" >"$work/chiroscope.log" 2>&1 &
    pid=$!
    window=$(timeout 15 xdotool search --sync --onlyvisible --name '^Chiroscope$' | head -1) ||
        fail "no window named Chiroscope within 15 s"
    geometry=$(xdotool getwindowgeometry --shell "$window")
    shown_width=$(sed -n 's/^WIDTH=//p' <<<"$geometry")
    shown_height=$(sed -n 's/^HEIGHT=//p' <<<"$geometry")

    if [ "$scenario" = no_glove ]; then
        [ "$shown_width x $shown_height" != "$width x $height" ] ||
            fail "the readout window appeared instead of the message box"
        import -window "$window" "$artifacts/no_glove-message-box.png"
        xdotool windowfocus --sync "$window" key Return
        wait_for 5 bash -c "! kill -0 $pid 2>/dev/null" || fail "still running after the message box"
        ! xdotool search --name '^Chiroscope$' >/dev/null || fail "a window is left after the message box"
        wait "$pid" || fail "chiroscope exited with status $?"
        exit 0
    fi

    [ "$shown_width x $shown_height" = "$width x $height" ] ||
        fail "window is ${shown_width}x$shown_height, the readout window is ${width}x$height"
    if [ "$scenario" = plot ]; then
        . "$here/plot-e2e.sh"
        exit 0
    fi
    # Task bars list normal top-level windows and leave out transient dialogs: the readout must
    # be one of the former.
    transient_for=$(xprop -id "$window" -notype WM_TRANSIENT_FOR)
    [ "$transient_for" = "WM_TRANSIENT_FOR:  not found." ] ||
        fail "the readout window is transient: $transient_for"
    window_type=$(xprop -id "$window" -notype _NET_WM_WINDOW_TYPE)
    [ "$window_type" = "_NET_WM_WINDOW_TYPE = _NET_WM_WINDOW_TYPE_NORMAL" ] ||
        fail "the readout window is not a normal window: $window_type"
    state=$(xprop -id "$window" -notype _NET_WM_STATE)
    [[ $state != *_NET_WM_STATE_SKIP_TASKBAR* ]] || fail "the readout window skips the task bar: $state"
    # Every value field shows the glove's value, pixel for pixel as the program draws it.
    shows_values() {
        import -window "$window" "$work/shown.png"
        while read -r kind id x y w h; do
            [ "$kind" = field ] || continue
            crop="${w}x$h+$x+$y"
            convert "$work/shown.png" -crop "$crop" +repage "$work/shown-$id.png"
            convert "$work/reference.png" -crop "$crop" +repage "$work/reference-$id.png"
            differing=$(compare -metric AE "$work/shown-$id.png" "$work/reference-$id.png" null: 2>&1) || true
            [ "$differing" = 0 ] || return 1
        done <"$work/fields"
    }
    wait_for 5 shows_values || fail "the value fields do not show $values (see $artifacts)"
    cp "$work/shown.png" "$artifacts/$scenario-readout.png"
    # The comparison tells values apart: other values differ in every field.
    while read -r kind id x y w h; do
        [ "$kind" = field ] || continue
        convert "$work/other.png" -crop "${w}x$h+$x+$y" +repage "$work/other-$id.png"
        differing=$(compare -metric AE "$work/other-$id.png" "$work/reference-$id.png" null: 2>&1) || true
        [ "$differing" != 0 ] || fail "field $id looks the same for other values"
    done <"$work/fields"

    # The About entry, from the keyboard's menu key and from a right click, by its access key.
    for how in "key Menu" "mousemove --window $window 20 20 click 3"; do
        xdotool windowfocus --sync "$window"
        # shellcheck disable=SC2086
        xdotool $how
        sleep 0.5
        xdotool key a
        about=$(timeout 5 xdotool search --sync --onlyvisible --name '^About Chiroscope$' | head -1) ||
            fail "no About box after '$how'"
        [ "$how" != "key Menu" ] || import -window "$about" "$artifacts/$scenario-about.png"
        xdotool windowfocus --sync "$about" key Escape
        wait_for 5 bash -c "! xdotool search --onlyvisible --name '^About Chiroscope$' >/dev/null" ||
            fail "the About box did not close"
        kill -0 "$pid" 2>/dev/null || fail "chiroscope ended with the About box"
    done

    xdotool windowfocus --sync "$window" key Escape
    wait_for 5 bash -c "! kill -0 $pid 2>/dev/null" || fail "chiroscope did not end with its window"
    wait "$pid" || fail "chiroscope exited with status $?"
    exit 0
fi

# ---- Outside: emulators, namespace, display. ----
[ $# -eq 5 ] || { echo "usage: $0 CASE CHIROSCOPE GLOVE_EMULATOR REFERENCE ARTIFACT_DIR" >&2; exit 2; }
scenario=$1 chiroscope=$2 emulator=$3 reference=$4 artifacts=$5
for tool in xvfb-run xdotool xprop import convert compare unshare; do
    command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed" >&2; exit 77; }
done
mkdir -p "$artifacts"
# shellcheck source=../lib/scratch.sh
. "$here/../lib/scratch.sh"

# Starts an emulator named $1 with the options after it; sets $device to its pseudo-terminal.
start_emulator() {
    local name=$1
    shift
    "$emulator" "$@" >"$work/$name.out" 2>"$work/$name.log" &
    pids+=($!)
    wait_for 5 test -s "$work/$name.out" || fail "emulator $name did not start"
    device=$(head -1 "$work/$name.out")
}
glove=(--instant --values "$values")
silent=(--silent)
case $scenario in
    glove_on_com1) start_emulator com1 "${glove[@]}"; com1=$device
                   start_emulator com2 "${silent[@]}"; com2=$device ;;
    glove_on_com2) start_emulator com1 "${silent[@]}"; com1=$device
                   start_emulator com2 "${glove[@]}"; com2=$device ;;
    no_glove)      start_emulator com1 "${silent[@]}"; com1=$device
                   start_emulator com2 "${silent[@]}"; com2=$device ;;
    # Moving values at the line's own pace, for the plot.
    plot)          start_emulator com1; com1=$device
                   start_emulator com2 "${silent[@]}"; com2=$device ;;
    named_ports)   start_emulator com1 --instant --values "$other_values"; com1=$device
                   start_emulator com2 "${silent[@]}"; com2=$device
                   start_emulator named1 "${silent[@]}"; echo "$device" >"$work/named"
                   start_emulator named2 "${glove[@]}"; echo "$device" >>"$work/named" ;;
    *) echo "unknown case $scenario" >&2; exit 2 ;;
esac

status=0
"$ports" "$com1" "$com2" -- \
    xvfb-run -a -s "-screen 0 1024x768x24 -nolisten tcp" \
    "$0" --scenario "$scenario" "$chiroscope" "$reference" "$artifacts" "$work" || status=$?
[ "$status" -ne 77 ] || exit 77
if [ "$status" -ne 0 ]; then
    echo "--- chiroscope's output:" >&2
    cat "$work/chiroscope.log" >&2 2>/dev/null || true
    exit "$status"
fi

# What the ports saw.
hellos() { grep -c 'rx 0x41' "$work/$1.log" || true; }
requests() { grep -c 'rx 0x43' "$work/$1.log" || true; }
case $scenario in
    named_ports)
        [ ! -s "$work/com1.log" ] && [ ! -s "$work/com2.log" ] ||
            fail "COM1 or COM2 was used although ports were named"
        [ "$(hellos named1)" -gt 0 ] || fail "the first port named was not tried first"
        [ "$(requests named2)" -gt 0 ] || fail "the glove on the second port named was never polled" ;;
    glove_on_com1 | plot)
        [ "$(requests com1)" -gt 0 ] || fail "the glove on COM1 was never polled"
        [ ! -s "$work/com2.log" ] || fail "COM2 was used although the glove is on COM1: $(head -3 "$work/com2.log")" ;;
    glove_on_com2)
        [ "$(hellos com1)" -gt 0 ] || fail "COM1 was not tried first"
        [ "$(requests com2)" -gt 0 ] || fail "the glove on COM2 was never polled" ;;
    no_glove)
        [ "$(hellos com1)" -gt 0 ] || fail "COM1 was not tried"
        [ "$(hellos com2)" -gt 0 ] || fail "COM2 was not tried" ;;
esac
echo "PASS: $scenario (screenshots in $artifacts)"
