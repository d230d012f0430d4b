# Sourced by the scripts that show Chiroscope on an emulated glove.
#
# start_emulator PROGRAM [OPTION...]
#   Starts the glove emulator PROGRAM in the background with the options given, sets $glove
#   to its device path, and stops it when the calling shell exits.
start_emulator() {
    emulator_out=$(mktemp)
    "$@" --quiet >"$emulator_out" &
    emulator_pid=$!
    trap 'kill "$emulator_pid" 2>/dev/null || true; wait "$emulator_pid" 2>/dev/null || true; rm -f "$emulator_out"' EXIT
    for _ in $(seq 50); do
        [ -s "$emulator_out" ] && break
        sleep 0.1
    done
    glove=$(head -1 "$emulator_out")
    [ -n "$glove" ] || { echo "the glove emulator did not start" >&2; exit 1; }
}
