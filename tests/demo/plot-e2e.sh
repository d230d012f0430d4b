# The plot window of the running chiroscope, as a user opens and uses it. Sourced by e2e.sh
# inside Xvfb, with $window (the readout window), $pid, $work, $artifacts, fail and wait_for.

plot_colours=(1F77B4 FF7F0E 2CA02C D62728 9467BD 8C564B BCBD22)  # demo/plot_traces.h

plot_window() { xdotool search --onlyvisible --name '^Chiroscope Plot$' 2>/dev/null; }

# The colours of $1 (a picture) that are missing from it, of the seven traces'.
missing_colours() {
    local colours
    colours=$(convert "$1" -unique-colors txt:- | grep -o '#[0-9A-F]\{6\}')
    for colour in "${plot_colours[@]}"; do
        grep -qx "#$colour" <<<"$colours" || echo -n "#$colour "
    done
}

xdotool windowfocus --sync "$window" key ctrl+p
plot=$(timeout 10 xdotool search --sync --onlyvisible --name '^Chiroscope Plot$' | head -1) ||
    fail "no window named Chiroscope Plot after Ctrl+P"
window_type=$(xprop -id "$plot" -notype _NET_WM_WINDOW_TYPE)
[ "$window_type" = "_NET_WM_WINDOW_TYPE = _NET_WM_WINDOW_TYPE_NORMAL" ] ||
    fail "the plot window is not a normal window: $window_type"
sleep 2  # a couple of seconds of traces
import -window "$plot" "$artifacts/plot-window.png"
missing=$(missing_colours "$artifacts/plot-window.png")
[ -z "$missing" ] || fail "the plot shows none of $missing(see $artifacts/plot-window.png)"

# Space: the picture stands still, then moves again.
# A slow machine (or a sanitizer) may take a few redraws to show either.
differing() { compare -metric AE "$1" "$2" null: 2>&1 || true; }
stands_still() {
    import -window "$plot" "$work/paused-1.png"
    sleep 0.5
    import -window "$plot" "$work/paused-2.png"
    [ "$(differing "$work/paused-1.png" "$work/paused-2.png")" = 0 ]
}
moved() {
    import -window "$plot" "$work/resumed.png"
    [ "$(differing "$work/paused-2.png" "$work/resumed.png")" != 0 ]
}
xdotool windowfocus --sync "$plot" key space
wait_for 5 stands_still ||
    fail "the paused plot changed in $(differing "$work/paused-1.png" "$work/paused-2.png") pixels"
xdotool windowfocus --sync "$plot" key space
wait_for 5 moved || {
    cp "$work/paused-2.png" "$work/resumed.png" "$artifacts/"
    fail "the plot did not move again after the second Space (see $artifacts/resumed.png)"
}

# Ctrl+S: a file dialog, a name typed in, a PNG of the window.
xdotool windowfocus --sync "$plot" key ctrl+s
save=$(timeout 10 xdotool search --sync --onlyvisible --name '^Save Plot$' | head -1) ||
    fail "no Save Plot dialog after Ctrl+S"
sleep 0.5
xdotool windowfocus --sync "$save" key ctrl+a type "$work/saved.png"
xdotool key Return
wait_for 5 test -s "$work/saved.png" || fail "Ctrl+S wrote no $work/saved.png"
read -r saved_size < <(identify -format '%wx%h\n' "$work/saved.png")
plot_size=$(xdotool getwindowgeometry --shell "$plot" | sed -n 's/^\(WIDTH\|HEIGHT\)=//p' | paste -sd x)
[ "$saved_size" = "$plot_size" ] || fail "saved picture is $saved_size, the window $plot_size"
missing=$(missing_colours "$work/saved.png")
[ -z "$missing" ] || fail "the saved picture shows none of $missing"

# Ctrl+P again, from the readout: still one plot window, now in front.
xdotool windowfocus --sync "$window" key ctrl+p
sleep 0.5
[ "$(plot_window | wc -l)" = 1 ] || fail "Ctrl+P again made another plot window"
[ "$(xdotool getwindowfocus)" = "$plot" ] || fail "Ctrl+P again did not bring the plot to the front"

xdotool windowfocus --sync "$window" key Escape
wait_for 5 bash -c "! kill -0 $pid 2>/dev/null" || fail "chiroscope did not end with its window"
wait "$pid" || fail "chiroscope exited with status $?"
