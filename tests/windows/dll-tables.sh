#!/usr/bin/env bash
# Checks Chirolink.dll's export and import tables as objdump prints them: exactly GloveInit,
# GloveGetDataPtr and GloveGetData exported, undecorated, and nothing imported but the system's
# KERNEL32.dll and msvcrt.dll (a C++ runtime or threads DLL would not be there on a user's
# machine).
#
# Usage: dll-tables.sh OBJDUMP Chirolink.dll
set -euo pipefail
objdump=$1 dll=$2
tables=$("$objdump" -p "$dll")
fail() {
    echo "FAIL: $*" >&2
    echo "$tables" | sed -n '/^The Export Tables/,/^The Function Table/p' >&2
    exit 1
}

name=$(sed -n 's/^Name[[:space:]]*[0-9a-f]*[[:space:]]*//p' <<<"$tables" | head -1)
[ "$name" = Chirolink.dll ] || fail "the export table names the DLL '$name'"
exports=$(sed -n '/^\[Ordinal\/Name Pointer\] Table/,/^$/p' <<<"$tables" |
    sed -n 's/^[[:space:]]*\[ *[0-9]*\] //p' | sort | tr '\n' ' ')
[ "$exports" = "GloveGetData GloveGetDataPtr GloveInit " ] || fail "exports are: $exports"
imports=$(sed -n 's/^[[:space:]]*DLL Name: //p' <<<"$tables" | sort | tr '\n' ' ')
[ "$imports" = "KERNEL32.dll msvcrt.dll " ] || fail "imports are: $imports"
echo "exports: $exports"
echo "imports: $imports"
