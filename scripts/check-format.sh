#!/usr/bin/env bash
# Fails when a C or C++ file in the repository is not formatted by .clang-format.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
git ls-files '*.c' '*.h' '*.cpp' | xargs clang-format --dry-run -Werror
