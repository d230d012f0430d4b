#!/usr/bin/env bash
# Checks Chirolink.dll's export and import tables as objdump prints them: exactly GloveInit,
# GloveGetDataPtr and GloveGetData (at ordinals 3, 2 and 1, as ever), the chirolink_* glove
# API, the calibration calls (at ordinals 12, 13 and 14) and the port calls (15 and 16) exported,
# undecorated, and nothing imported but the system's KERNEL32.dll and msvcrt.dll, with
# ADVAPI32.dll and SETUPAPI.dll for the port listing (a C++ runtime or threads DLL would not be
# there on a user's machine).
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
expected+=" chirolink_get_status chirolink_latest_frame chirolink_list_ports chirolink_next_frame"
expected+=" chirolink_open chirolink_probe chirolink_process_glove chirolink_version "
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
# The port calls at the ordinals that Chirolink.def gives them: objdump's [14] and [15].
port_ordinals=$(sed -n '/^\[Ordinal\/Name Pointer\] Table/,/^$/p' <<<"$tables" |
    sed -n 's/^[[:space:]]*\[ *\([0-9]*\)\] \(chirolink_list_ports\|chirolink_probe\)$/\2@\1/p' |
    sort | tr '\n' ' ')
[ "$port_ordinals" = "chirolink_list_ports@14 chirolink_probe@15 " ] ||
    fail "the port calls are at $port_ordinals, not at ordinals 15 and 16"
imports=$(sed -n 's/^[[:space:]]*DLL Name: //p' <<<"$tables" | sort | tr '\n' ' ')
[ "$imports" = "ADVAPI32.dll KERNEL32.dll SETUPAPI.dll msvcrt.dll " ] ||
    fail "imports are: $imports"
echo "exports: $exports"
echo "imports: $imports"
