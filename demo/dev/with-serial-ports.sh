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
    stage=$(mktemp -d "${TMPDIR:-/tmp}/chiroscope-dev.XXXXXX")
    mount -t tmpfs -o mode=0755,nosuid tmpfs "$stage"
    for name in null zero full random urandom tty; do
        if [ -e "/dev/$name" ]; then
            : >"$stage/$name"
            mount --bind "/dev/$name" "$stage/$name"
        fi
    done
    for dir in pts shm mqueue; do
        if [ -d "/dev/$dir" ]; then
            mkdir "$stage/$dir"
            mount --rbind "/dev/$dir" "$stage/$dir"
        fi
    done
    if [ -L /dev/ptmx ]; then
        ln -s "$(readlink /dev/ptmx)" "$stage/ptmx"
    else
        : >"$stage/ptmx"
        mount --bind /dev/ptmx "$stage/ptmx"
    fi
    ln -s /proc/self/fd "$stage/fd"
    ln -s /proc/self/fd/0 "$stage/stdin"
    ln -s /proc/self/fd/1 "$stage/stdout"
    ln -s /proc/self/fd/2 "$stage/stderr"
    : >"$stage/ttyS0"
    : >"$stage/ttyS1"
    mount --bind "$com1" "$stage/ttyS0"
    mount --bind "$com2" "$stage/ttyS1"
    mount --move "$stage" /dev
    rmdir "$stage"
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
