# Sourced by the test scripts: $work, a scratch directory, and $pids, the background processes
# they start; both are cleaned up when the script ends, however it ends.
work=$(mktemp -d)
pids=()
cleanup() {
    for pid in "${pids[@]}"; do
        kill "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    done
    rm -rf "$work"
}
trap cleanup EXIT
