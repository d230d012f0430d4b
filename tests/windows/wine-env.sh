# Sourced by the Windows test scripts: how Wine is run here.
#
# Programs run through the 64-bit loader, which starts 32-bit programs too. /usr/bin/wine is not
# used: with wine32 installed it starts the 32-bit loader first, which fails where the kernel
# cannot run 32-bit programs.
wine_loader=/usr/lib/wine/wine64
wineserver=/usr/lib/wine/wineserver
export WINEDEBUG=${WINEDEBUG:--all}
# No Mono or Gecko: nothing here uses them, and their installers ask questions.
export WINEDLLOVERRIDES="mscoree=;mshtml=${WINEDLLOVERRIDES:+;$WINEDLLOVERRIDES}"

# Prints why 32-bit Windows programs cannot run here, or nothing when they can.
why_no_32_bit() {
    if [ ! -x /usr/lib/wine/wine ]; then
        echo "32-bit Wine (Debian's wine32:i386) is not installed"
    elif ! /usr/lib/wine/wine --version >/dev/null 2>&1; then
        echo "this kernel does not run 32-bit programs (/usr/lib/wine/wine --version fails)"
    fi
}

# Runs a Windows program with its output in files, then prints them: Wine's helper processes
# inherit the output and outlive the program, and would hold a pipe open. Returns its status.
run_wine() {
    local out err status=0
    out=$(mktemp) err=$(mktemp)
    timeout "${wine_timeout:-60}" "$wine_loader" "$@" >"$out" 2>"$err" </dev/null || status=$?
    cat "$out"
    cat "$err" >&2
    rm -f "$out" "$err"
    return "$status"
}
