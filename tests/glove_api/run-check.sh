#!/usr/bin/env bash
# Runs glove_api_check against two glove emulators on pseudo-terminals.
# Usage: run-check.sh EMULATOR CHECK
set -euo pipefail
emulator=$1 check=$2
. "$(dirname "$0")/../lib/scratch.sh"
"$emulator" --quiet --link "$work/steady" --values 10,20,30,40,50,60,70 &
pids+=($!)
"$emulator" --quiet --link "$work/unplugging" --values 11,22,33,44,55,66,77 \
    --unplug-after 3 --replug-after 1 &
pids+=($!)
for _ in $(seq 50); do
    [ -e "$work/steady" ] && [ -e "$work/unplugging" ] && break
    sleep 0.1
done
"$check" "$work/steady" "$work/unplugging" "$work/missing"
