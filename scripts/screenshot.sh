#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Refreshes the pictures in docs/: the main window on the simulated board (in the default and in
# a dark palette), the control panel, and the message after "Program OTP All Channels", on a
# virtual screen of 1366 x 768 with a fresh demo store, so they do not depend on earlier runs.
# The windows are driven from the keyboard (mnemonics and Tab), so a change of layout does not
# move the clicks; check the pictures after one all the same.
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

# One run of the program: waits for its main window, then runs the given shell commands.
shoot() {
    XDG_CONFIG_HOME="$1" xvfb-run -a -s "-screen 0 1366x768x24" bash -c '
        "$1" --simulate 2>/dev/null &
        program=$!
        for _ in $(seq 100); do
            xwininfo -name KALVENTA >/dev/null 2>&1 && break
            sleep 0.2
        done
        if ! xwininfo -name KALVENTA >/dev/null 2>&1; then
            kill "$program"
            echo "the main window did not appear" >&2
            exit 1
        fi
        sleep 2 # the first read of the board follows the window at once
        main=$(xdotool search --name "^KALVENTA\$" | head -1)
        xdotool windowfocus --sync "$main"
        eval "$2"
        kill "$program"
    ' _ "$build/src/app/kalventa" "$2"
}

shoot "$work/light" '
    import -window KALVENTA "'"$work"'/main-window.png"
    xdotool key alt+p                                     # Control Panel
    sleep 1.5
    import -window "Control Panel" "'"$work"'/control-panel.png"
    xdotool search --name "^Control Panel\$" windowclose
    xdotool windowfocus --sync "$main"
    # From Vsup, the focus at start, Tab goes to Max Bank, Change Address, then channel 1 on.
    xdotool key --delay 100 Tab Tab Tab Tab Tab Tab Tab ctrl+a
    xdotool type 3.3
    xdotool key Return
    xdotool key alt+a                                     # Program OTP All Channels
    sleep 1.5
    xdotool key alt+y                                     # the question defaults to No
    sleep 2
    import -window root -crop 700x640+0+0 "'"$work"'/burn-result.png"
'

# The dark palette of a desktop that has one, through the qt6ct platform theme.
mkdir -p "$work/dark/qt6ct"
printf "[Appearance]\ncolor_scheme_path=/usr/share/qt6ct/colors/darker.conf\ncustom_palette=true\nstyle=Fusion\n" \
    >"$work/dark/qt6ct/qt6ct.conf"
QT_QPA_PLATFORMTHEME=qt6ct shoot "$work/dark" '
    import -window KALVENTA "'"$work"'/main-window-dark.png"
'

mkdir -p docs
for picture in main-window main-window-dark control-panel burn-result; do
    mv "$work/$picture.png" "docs/$picture.png"
    echo "docs/$picture.png"
done
