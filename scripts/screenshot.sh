#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Refreshes the pictures in docs/: the main window on the simulated board, the control panel, and
# the message after "Program OTP All Channels", on a virtual screen of 1366 x 768 with a fresh demo
# store, so they do not depend on earlier runs. xdotool clicks at places in the main window, which
# suit the default font; check the pictures after a change of layout.
#   scripts/screenshot.sh [build-dir]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}

scripts/install-deps.sh screenshot
[ -f "$build/CMakeCache.txt" ] ||
    cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKALVENTA_BENCHMARKS=OFF >/dev/null
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
    import -window KALVENTA "$2/main-window.png"
    main=$(xdotool search --name "^KALVENTA\$" | head -1)
    xdotool mousemove --window "$main" 230 395 click 1   # Control Panel
    sleep 1.5
    import -window "Control Panel" "$2/control-panel.png"
    xdotool search --name "^Control Panel\$" windowclose
    xdotool mousemove --window "$main" 58 215 click --repeat 3 1 type 3.3   # channel 5
    xdotool key Return
    xdotool mousemove --window "$main" 92 423 click 1    # Program OTP All Channels
    sleep 1.5
    xdotool key alt+y                                    # the question defaults to No
    sleep 2
    import -window root -crop 640x500+0+0 "$2/burn-result.png"
    kill "$program"
' _ "$build/src/app/kalventa" "$work"
mkdir -p docs
for picture in main-window control-panel burn-result; do
    mv "$work/$picture.png" "docs/$picture.png"
    echo "docs/$picture.png"
done
