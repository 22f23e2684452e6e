#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds under ThreadSanitizer and runs every test, then the program itself for a while on the
# slowed simulated board (start-up reads every register on the bus thread while the window
# serves its events), and fails on any race report.
#   scripts/race-check.sh [build-dir]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-tsan}

scripts/install-deps.sh
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKALVENTA_THREAD_SANITIZE=ON \
    -DKALVENTA_BENCHMARKS=OFF >/dev/null
cmake --build "$build" -j"$(nproc)"

suppressions=$PWD/scripts/tsan.supp
export TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 suppressions=$suppressions"
export QT_QPA_PLATFORM=offscreen
(cd "$build" && ctest --output-on-failure -j"$(nproc)")

# The program on the slowed board: it reads the chip at start and is stopped after 15 s; a race
# report ends it with status 66 before that.
data=$(mktemp -d)
trap 'rm -rf "$data"' EXIT
status=0
XDG_CONFIG_HOME=$data XDG_DATA_HOME=$data TSAN_OPTIONS="$TSAN_OPTIONS exitcode=66" \
    timeout -s INT 15 "$build"/src/app/kalventa --port COM1=sim:1ms || status=$?
if [ "$status" -eq 66 ]; then
    echo "race-check: ThreadSanitizer reported a race in the program" >&2
    exit 1
fi
echo "race-check: no races reported"
