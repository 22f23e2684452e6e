#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Installs what is missing, builds if needed, and starts KALVENTA on the simulated evaluation
# board (its settings are kept apart from the real ones).
#   scripts/run-simulated.sh [more kalventa options...]
# KALVENTA_BUILD names another build folder (default: build).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${KALVENTA_BUILD:-build}

scripts/install-deps.sh
[ -f "$build/CMakeCache.txt" ] || cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" --target kalventa -j"$(nproc)"
exec "$build/src/app/kalventa" --simulate "$@"
