#!/usr/bin/env bash
# Refreshes docs/main-window.png: the main window on the simulated board, on a virtual screen of
# 1366 x 768, with a fresh demo store so the picture does not depend on earlier runs.
#   scripts/screenshot.sh [build-dir]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}

scripts/install-deps.sh
if ! command -v import >/dev/null || ! command -v xwininfo >/dev/null; then
    sudo=""
    [ "$(id -u)" -eq 0 ] || sudo="sudo"
    $sudo apt-get install -y -qq --no-install-recommends imagemagick x11-utils
fi
[ -f "$build/CMakeCache.txt" ] || cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" --target kalventa -j"$(nproc)"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
XDG_CONFIG_HOME="$work/config" xvfb-run -a -s "-screen 0 1366x768x24" bash -c '
    "$1" --simulate 2>/dev/null &
    program=$!
    # The window shows first; the first read of the board follows at once.
    for _ in $(seq 100); do
        xwininfo -name KALVENTA >/dev/null 2>&1 && break
        sleep 0.2
    done
    if ! xwininfo -name KALVENTA >/dev/null 2>&1; then
        kill "$program"
        echo "the main window did not appear" >&2
        exit 1
    fi
    sleep 2
    import -window KALVENTA "$2"
    kill "$program"
' _ "$build/src/app/kalventa" "$work/main-window.png"
mkdir -p docs
mv "$work/main-window.png" docs/main-window.png
echo "docs/main-window.png"
