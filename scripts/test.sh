#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Installs what is missing (the whole developer toolchain), builds, and runs every test headless.
#   scripts/test.sh [build-dir] [extra cmake options...]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
shift || true

scripts/install-deps.sh test
# The benchmarks are built too, in a build folder that run-simulated.sh began without them.
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKALVENTA_BENCHMARKS=ON "$@" >/dev/null
cmake --build "$build" -j"$(nproc)"
cd "$build"
QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j"$(nproc)"
