# Sourced by the tests of the documented two-glove programs (C, C#), after scratch.sh and with
# fail() defined. check_two_gloves COMMAND... runs `COMMAND LEFT RIGHT SECONDS` against two
# emulated gloves, one of which goes away and comes back, and `COMMAND LEFT MISSING 1`, and
# checks what the documentation promises: every frame of each glove in order, both gloves'
# values, "is gone" and "is back", and the reason for the missing port.
# Needs $emulator, the glove emulator program.
check_two_gloves() {
    "$emulator" --quiet --link "$work/left" --values 1,2,3,4,5,6,7 >/dev/null &
    pids+=($!)
    "$emulator" --quiet --link "$work/right" --values 9,8,7,6,5,4,3 \
        --unplug-after 1 --replug-after 1 >/dev/null &
    pids+=($!)
    for _ in $(seq 50); do
        [ -e "$work/left" ] && [ -e "$work/right" ] && break
        sleep 0.1
    done

    "$@" "$work/left" "$work/right" 4 >"$work/out" 2>"$work/err" ||
        fail "exit status $?: $(cat "$work/err")"
    # Every frame of each glove, in order: the sequence numbers rise by one from 1, times rise.
    for glove in left right; do
        awk -v port="$work/$glove" '$1 == port {
                if ($2 != n + 1 || $3 < t) { print "out of order at line " NR ": " $0; bad = 1 }
                n = $2; t = $3 }
             END { if (n < 100) { print port ": only " n " frames"; bad = 1 } exit bad }' \
            "$work/out" || fail "$glove's frames"
    done
    grep -q " 1 2 3 4 5 6 7$" "$work/out" || fail "the left glove's values"
    grep -q " 9 8 7 6 5 4 3$" "$work/out" || fail "the right glove's values"
    grep -qx "$work/right is gone" "$work/err" || fail "no 'is gone': $(cat "$work/err")"
    grep -qx "$work/right is back" "$work/err" || fail "no 'is back': $(cat "$work/err")"

    if "$@" "$work/left" "$work/nothing" 1 >/dev/null 2>"$work/err"; then
        fail "a missing port did not fail"
    fi
    grep -qx "$work/nothing: no such device" "$work/err" || fail "the reason: $(cat "$work/err")"
}
