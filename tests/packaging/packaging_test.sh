#!/usr/bin/env bash
# Installs a built tree into a temporary prefix, builds two small C programs against it (one
# through pkg-config, one through find_package) and runs them on an emulated glove; then builds
# the Debian packages and checks each one's files and dependencies with dpkg-deb. Nothing is
# installed on the system.
#
# Usage: packaging_test.sh BUILD_DIR GLOVE_EMULATOR
set -euo pipefail

build=${1:?build dir}
emulator=${2:?glove emulator}
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
version=$(sed -n 's/^set(CPACK_PACKAGE_VERSION "\(.*\)")$/\1/p' "$build/CPackConfig.cmake")
tmp=$(mktemp -d /tmp/chirolink-packaging-XXXXXX)
glove=""
cleanup() {
    [ -z "$glove" ] || kill "$glove" 2>/dev/null || true
    rm -rf "$tmp"
}
trap cleanup EXIT
failed=0
fail() { echo "FAIL: $*"; failed=1; }

# Install the run-time and development components only, as the two packages would.
for component in libchirolink1 libchirolink-dev; do
    cmake --install "$build" --prefix "$tmp/usr" --component "$component" >/dev/null
done
libdir=$(dirname "$(find "$tmp/usr" -name 'libChirolink.so' | head -n 1)")

"$emulator" --link "$tmp/glove" --instant --quiet --values 1,2,3,4,5,6,7 >/dev/null &
glove=$!
for _ in $(seq 100); do [ -e "$tmp/glove" ] && break; sleep 0.05; done

# Through pkg-config.
flags=$(PKG_CONFIG_PATH="$libdir/pkgconfig" pkg-config --cflags --libs chirolink)
# shellcheck disable=SC2086
cc "$here/consumer.c" $flags -o "$tmp/by-pkg-config"
got=$(LD_LIBRARY_PATH="$libdir" "$tmp/by-pkg-config" "$tmp/glove") || true
[ "$got" = "1 2 3 4 5 6 7" ] || fail "pkg-config consumer printed '$got'"
[ "$(PKG_CONFIG_PATH="$libdir/pkgconfig" pkg-config --modversion chirolink)" = "$version" ] ||
    fail "pkg-config version is not $version"

# Through find_package(Chirolink 1.1).
cmake -S "$here/consumer" -B "$tmp/consumer" -DCMAKE_PREFIX_PATH="$tmp/usr" >/dev/null
cmake --build "$tmp/consumer" >/dev/null
got=$("$tmp/consumer/consumer" "$tmp/glove") || true
[ "$got" = "1 2 3 4 5 6 7" ] || fail "find_package consumer printed '$got'"

# The packages.
cpack --config "$build/CPackConfig.cmake" -B "$tmp/debs" >/dev/null
deb() { find "$tmp/debs" -maxdepth 1 -name "$1_${version}_*.deb" | head -n 1; }
# expect PACKAGE FIELD PATTERN: the control field matches the extended regular expression.
expect_field() {
    local file value
    file=$(deb "$1")
    [ -n "$file" ] || { fail "no package $1"; return; }
    value=$(dpkg-deb -f "$file" "$2")
    grep -Eq -- "$3" <<<"$value" || fail "$1: $2 is '$value', expected /$3/"
}
# expect_files PACKAGE PATTERN...: each pattern matches a path in the package.
expect_files() {
    local file list pattern
    file=$(deb "$1")
    [ -n "$file" ] || return
    list=$(dpkg-deb -c "$file" | awk '{print $6}')
    shift
    for pattern in "$@"; do
        grep -Eq -- "^\./usr/$pattern$" <<<"$list" || fail "$(basename "$file") has no /usr/$pattern"
    done
}
lib='lib(/[a-z0-9_]+-linux-gnu)?'
expect_field libchirolink1 Depends 'libc6 \(>= '
expect_field libchirolink1 Section '^libs$'
expect_files libchirolink1 "$lib/libChirolink\.so\.1" "$lib/libChirolink\.so\.$version"
expect_field libchirolink-dev Depends "^libchirolink1 \(= $version\)$"
expect_files libchirolink-dev include/chirolink\.h include/chirolink_glove\.h \
    include/chirolink_calibration\.h "$lib/libChirolink\.so" \
    "$lib/pkgconfig/chirolink\.pc" "$lib/cmake/Chirolink/ChirolinkConfig\.cmake"
expect_field chiroscope Depends "libchirolink1 \(= $version\)"
expect_field chiroscope Depends 'libqt6widgets6'
expect_files chiroscope bin/chiroscope share/applications/chiroscope\.desktop \
    share/icons/hicolor/32x32/apps/chiroscope\.png
expect_field chirolink-tools Depends 'libstdc\+\+6'
if dpkg-deb -f "$(deb chirolink-tools)" Depends | grep -q liblo; then
    fail "chirolink-tools depends on liblo: the chirolink command sends OSC itself"
fi
expect_files chirolink-tools bin/chirolink bin/glove-emulator \
    share/doc/chirolink-tools/examples/99-chirolink\.rules
expect_field python3-chirolink Architecture '^all$'
expect_field python3-chirolink Depends "python3.*libchirolink1 \(= $version\)"
expect_files python3-chirolink lib/python3/dist-packages/chirolink/__init__\.py
expect_field python3-chirolink Recommends '^python3-matplotlib$'
expect_files python3-chirolink lib/python3/dist-packages/chirolink/plot\.py
if dpkg-deb -c "$(deb libchirolink1)" | grep -q 'libChirolink\.so$'; then
    fail "libchirolink1 carries the development link"
fi

[ "$failed" -eq 0 ] && echo "packaging: all checks passed"
exit "$failed"
