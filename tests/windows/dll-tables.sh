#!/usr/bin/env bash
# Checks Chirolink.dll's export and import tables as objdump prints them: exactly GloveInit,
# GloveGetDataPtr and GloveGetData (at ordinals 3, 2 and 1, as ever), the chirolink_* glove
# API and the calibration calls (at ordinals 12, 13 and 14) exported, undecorated, and nothing
# imported but the system's KERNEL32.dll and msvcrt.dll (a C++ runtime or threads DLL would
# not be there on a user's machine).
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
expected="GloveGetData GloveGetDataPtr GloveInit chirolink_calibrate chirolink_calibration_load"
expected+=" chirolink_calibration_save chirolink_close chirolink_error_text"
expected+=" chirolink_get_status chirolink_latest_frame chirolink_next_frame chirolink_open"
expected+=" chirolink_process_glove chirolink_version "
[ "$exports" = "$expected" ] || fail "exports are: $exports"
ordinals=$(sed -n '/^\[Ordinal\/Name Pointer\] Table/,/^$/p' <<<"$tables" |
    sed -n 's/^[[:space:]]*\[ *\([0-9]*\)\] \(Glove.*\)/\2@\1/p' | sort | tr '\n' ' ')
[ "$ordinals" = "GloveGetData@0 GloveGetDataPtr@1 GloveInit@2 " ] ||
    fail "the three calls moved: $ordinals (objdump counts from the ordinal base 1)"
calibration=$(sed -n '/^\[Ordinal\/Name Pointer\] Table/,/^$/p' <<<"$tables" |
    sed -n 's/^[[:space:]]*\[ *\([0-9]*\)\] \(chirolink_calibra.*\)/\2@\1/p' | sort | tr '\n' ' ')
[ "$calibration" = \
    "chirolink_calibrate@13 chirolink_calibration_load@11 chirolink_calibration_save@12 " ] ||
    fail "the calibration calls are not at ordinals 12 to 14: $calibration"
imports=$(sed -n 's/^[[:space:]]*DLL Name: //p' <<<"$tables" | sort | tr '\n' ' ')
[ "$imports" = "KERNEL32.dll msvcrt.dll " ] || fail "imports are: $imports"
echo "exports: $exports"
echo "imports: $imports"
