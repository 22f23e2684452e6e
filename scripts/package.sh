#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds the Debian package in a release build of its own and checks it: lintian with every tag
# shown, failing on any error or warning, and desktop-file-validate on the desktop entry.
#   scripts/package.sh [build-dir]     (default: build-package)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-package}
# The package keeps the modes the files are installed with.
umask 022

scripts/install-deps.sh package

cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DKALVENTA_TESTS=OFF \
    -DKALVENTA_BENCHMARKS=OFF >/dev/null
cmake --build "$build" -j"$(nproc)"
rm -f "$build"/kalventa_*.deb
(cd "$build" && cpack -G DEB >/dev/null)
deb=$(echo "$build"/kalventa_*.deb)
echo "== $deb"

version=$(dpkg-deb -f "$deb" Version)
if ! head -n 1 packaging/changelog | grep -qF "kalventa ($version) "; then
    echo "packaging/changelog: the newest entry is not for $version" >&2
    exit 1
fi

# The desktop finds the entry of a window by the window's class, whose instance part is the
# program's file name: entry, program and icon share one name.
desktop=packaging/kalventa.desktop
desktop-file-validate "$desktop"
for key in Exec Icon; do
    if [ "$(sed -n "s/^$key=//p" "$desktop")" != kalventa ]; then
        echo "$desktop: $key is not kalventa, the name of the entry and of the program" >&2
        exit 1
    fi
done
contents=$(dpkg-deb -c "$deb")
for file in bin/kalventa share/applications/kalventa.desktop \
    share/icons/hicolor/scalable/apps/kalventa.svg; do
    if ! grep -q " \./usr/$file\$" <<<"$contents"; then
        echo "$deb: /usr/$file is missing" >&2
        exit 1
    fi
done

lintian -EvIL +pedantic --fail-on error,warning "$deb"
echo "== $deb passes lintian and desktop-file-validate"
