#!/usr/bin/env bash
# Runs a command with COM1 and COM2 (/dev/ttyS0 and /dev/ttyS1) standing for devices of our
# choosing, usually the glove emulator's pseudo-terminals, so that Chiroscope finds them under
# their usual names.
#
# Usage: with-serial-ports.sh COM1_DEVICE COM2_DEVICE -- COMMAND [ARGUMENT...]
#
# The command runs in a private mount namespace: a tmpfs is mounted over /dev there, holding the
# everyday devices (null, zero, tty, ptmx, pts, shm, ...) bound from the real /dev, and two
# files ttyS0 and ttyS1 with the given devices bound over them. The machine's /dev, its serial
# ports included, is neither written nor opened; other processes see nothing of this.
#
# The namespace: as root, `unshare --mount`; otherwise an unprivileged user namespace,
# `unshare --user --map-root-user --mount`, where the kernel permits those
# (kernel.unprivileged_userns_clone, or AppArmor's restrict_unprivileged_userns, may forbid
# them). Exits with 77 and says why when neither works.
set -euo pipefail

if [ "${1:-}" = "--inside" ]; then
    shift
    com1=$1 com2=$2
    shift 3  # both devices and the "--"
    # Keep the real /dev in view under a temporary directory, cover /dev with a tmpfs, and bind
    # into it what programs expect to find there, then the two ports.
    real=$(mktemp -d "${TMPDIR:-/tmp}/chiroscope-dev.XXXXXX")
    mount --rbind /dev "$real"
    mount -t tmpfs -o mode=0755,nosuid tmpfs /dev
    for name in null zero full random urandom tty; do
        if [ -e "$real/$name" ]; then
            : >"/dev/$name"
            mount --bind "$real/$name" "/dev/$name"
        fi
    done
    for dir in pts shm mqueue; do
        if [ -d "$real/$dir" ]; then
            mkdir "/dev/$dir"
            mount --rbind "$real/$dir" "/dev/$dir"
        fi
    done
    if [ -L "$real/ptmx" ]; then
        ln -s "$(readlink "$real/ptmx")" /dev/ptmx
    else
        : >/dev/ptmx
        mount --bind "$real/ptmx" /dev/ptmx
    fi
    ln -s /proc/self/fd /dev/fd
    ln -s /proc/self/fd/0 /dev/stdin
    ln -s /proc/self/fd/1 /dev/stdout
    ln -s /proc/self/fd/2 /dev/stderr
    for port in ttyS0:"$com1" ttyS1:"$com2"; do
        device=${port#*:}
        case $device in /dev/*) device="$real/${device#/dev/}" ;; esac
        : >"/dev/${port%%:*}"
        mount --bind "$device" "/dev/${port%%:*}"
    done
    umount --lazy "$real"
    rmdir "$real"
    exec "$@"
fi

if [ $# -lt 4 ] || [ "$3" != "--" ]; then
    echo "usage: $0 COM1_DEVICE COM2_DEVICE -- COMMAND [ARGUMENT...]" >&2
    exit 2
fi
com1=$(readlink -f -- "$1")
com2=$(readlink -f -- "$2")
for device in "$com1" "$com2"; do
    if [ ! -e "$device" ]; then
        echo "$0: $device does not exist" >&2
        exit 2
    fi
done
shift 3

if ! command -v unshare >/dev/null; then
    echo "SKIP: unshare (util-linux) is not installed" >&2
    exit 77
fi
if [ "$(id -u)" -eq 0 ] && unshare --mount --propagation private true 2>/dev/null; then
    namespace=(unshare --mount --propagation private)
elif unshare --user --map-root-user --mount --propagation private true 2>/dev/null; then
    namespace=(unshare --user --map-root-user --mount --propagation private)
else
    echo "SKIP: cannot make a private mount namespace (needs root, or unprivileged user" \
         "namespaces enabled in the kernel)" >&2
    exit 77
fi
exec "${namespace[@]}" -- "$0" --inside "$com1" "$com2" -- "$@"
