#!/usr/bin/env bash
# Fails when the test program has a GoogleTest test that CMakeLists.txt does not run as a CTest
# test of its own (or registers one that does not exist).
#
# Usage: registered.sh REGISTERED_LIST wine-run.sh ARG...
set -euo pipefail
registered=$1
shift
listed=$("$@" --gtest_list_tests | tr -d '\r' | awk '
    /^[^ ]/ { suite = $1; next }
    /^  /   { print suite $1 }')
missing=$(comm -3 <(sort "$registered") <(sort <<<"$listed"))
if [ -n "$missing" ]; then
    echo "FAIL: registered (left) and in the program (right) differ:" >&2
    echo "$missing" >&2
    exit 1
fi
echo "$(wc -l <"$registered") tests, each registered"
