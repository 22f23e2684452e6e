#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds the Debian package in a release build of its own and checks it: lintian with every tag
# shown, failing on any error or warning, desktop-file-validate on the desktop entry, appstreamcli
# on the AppStream metadata, and the package's file list and maintainer scripts.
#   scripts/package.sh [build-dir]     (default: build-package)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-package}
# The package keeps the modes the files are installed with.
umask 022

scripts/install-deps.sh package

# The package installs below /usr, where Debian's python3 looks in lib/python3/dist-packages.
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DKALVENTA_TESTS=OFF \
    -DKALVENTA_BENCHMARKS=OFF -DKALVENTA_PYTHON_DIR=lib/python3/dist-packages >/dev/null
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
    if [ "$(sed -n "s/^$key=\([^ ]*\).*/\1/p" "$desktop")" != kalventa ]; then
        echo "$desktop: $key is not kalventa, the name of the entry and of the program" >&2
        exit 1
    fi
done

# The software centres' description: valid (without fetching the screenshots), naming the
# entry above and this release.
metainfo=$(echo packaging/*.metainfo.xml)
appstreamcli validate --no-net --pedantic "$metainfo"
if ! grep -qF '<launchable type="desktop-id">kalventa.desktop</launchable>' "$metainfo"; then
    echo "$metainfo: the launchable is not kalventa.desktop" >&2
    exit 1
fi
if ! grep -qF "<release version=\"${version%-*}\"" "$metainfo"; then
    echo "$metainfo: no release entry for ${version%-*}" >&2
    exit 1
fi

contents=$(dpkg-deb -c "$deb")
for file in bin/kalventa bin/kalventa-cli share/applications/kalventa.desktop \
    "share/metainfo/${metainfo##*/}" share/icons/hicolor/scalable/apps/kalventa.svg \
    share/icons/hicolor/48x48/apps/kalventa.png share/icons/hicolor/64x64/apps/kalventa.png \
    share/icons/hicolor/128x128/apps/kalventa.png share/bash-completion/completions/kalventa-cli \
    share/man/man1/kalventa.1.gz share/man/man1/kalventa-cli.1.gz \
    share/doc/kalventa/copyright lib/udev/rules.d/60-kalventa-ft232r.rules \
    'lib/python3/dist-packages/kalventa\.cpython-[0-9]*-[a-z0-9_-]*\.so' \
    lib/python3/dist-packages/kalventa.pyi; do
    if ! grep -q " \./usr/$file\$" <<<"$contents"; then
        echo "$deb: /usr/$file is missing" >&2
        exit 1
    fi
done

# The Python module imports from the package's tree and drives the simulated board.
unpacked=$(mktemp -d)
trap 'rm -rf "$unpacked"' EXIT
dpkg-deb -x "$deb" "$unpacked"
if ! (cd "$unpacked" && XDG_CONFIG_HOME="$unpacked/config" XDG_DATA_HOME="$unpacked/data" \
    PYTHONPATH="$unpacked/usr/lib/python3/dist-packages" /usr/bin/python3 -c \
    'import kalventa; b = kalventa.open("sim", vsup=3.3); b.set_code("c1", 512); assert b.get("c1") == 512'); then
    echo "$deb: the Python module does not import from the package" >&2
    exit 1
fi

# The maintainer scripts reload udev's rules, and an install never fails for want of udev (a
# chroot) or of a running one (a container): with udevadm absent, with one whose every call
# fails, and with one that reloads but cannot trigger.
control=$(mktemp -d)
trap 'rm -rf "$control" "$unpacked"' EXIT
dpkg-deb -e "$deb" "$control/DEBIAN"
mkdir -p "$control/no-udev" "$control/failing-udev" "$control/failing-trigger"
printf '#!/bin/sh\nexit 1\n' >"$control/failing-udev/udevadm"
printf '#!/bin/sh\n[ "$1" != trigger ]\n' >"$control/failing-trigger/udevadm"
chmod +x "$control/failing-udev/udevadm" "$control/failing-trigger/udevadm"
for script in postinst postrm; do
    if ! grep -q 'udevadm control --reload-rules' "$control/DEBIAN/$script"; then
        echo "$deb: $script does not reload the udev rules" >&2
        exit 1
    fi
    action=configure
    [ "$script" = postrm ] && action=remove
    for path in "$control/no-udev" "$control/failing-udev" "$control/failing-trigger"; do
        if ! PATH=$path /bin/sh "$control/DEBIAN/$script" "$action"; then
            echo "$deb: $script $action fails with ${path##*/}" >&2
            exit 1
        fi
    done
done

lintian -EvIL +pedantic --fail-on error,warning "$deb"
echo "== $deb passes lintian, desktop-file-validate and appstreamcli validate"
