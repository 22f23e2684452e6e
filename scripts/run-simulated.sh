#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Installs what is missing for building and running (not the test tools), builds if needed, and
# starts KALVENTA on the simulated evaluation board (its settings are kept apart from the real
# ones).
#   scripts/run-simulated.sh [more kalventa options...]
# KALVENTA_BUILD names another build folder (default: build).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${KALVENTA_BUILD:-build}

scripts/install-deps.sh run
# Without the benchmarks, which need Google Benchmark; scripts/test.sh adds them to this folder.
[ -f "$build/CMakeCache.txt" ] ||
    cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKALVENTA_BENCHMARKS=OFF >/dev/null
# kalventa-cli too (and the Python module where pybind11 is installed), so that it and
# "cmake --install" are ready afterwards.
cmake --build "$build" --target kalventa_installed -j"$(nproc)"
exec "$build/src/app/kalventa" --simulate "$@"
