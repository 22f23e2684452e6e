#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds the fuzz targets with clang and runs each for the given seconds (default 30) on a copy
# of its seed corpus; the committed corpus is never changed. Fails on any crash, hang, leak,
# sanitizer report or broken invariant; the input that caused it lands in the build folder.
#   fuzz/run.sh [seconds]
# The build folder is build-fuzz beside fuzz/, or $KALVENTA_FUZZ_BUILD.
set -euo pipefail
seconds=${1:-30}
here=$(cd "$(dirname "$0")" && pwd)
build=${KALVENTA_FUZZ_BUILD:-$(dirname "$here")/build-fuzz}

CXX=${CXX:-clang++} cmake -S "$here" -B "$build" >/dev/null
cmake --build "$build" -j"$(nproc)"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}

for target in registerset leadingnumber; do
    cp -R "$here/corpus/$target" "$work/$target"
    mkdir -p "$build/artifacts/$target"
    options=(-max_total_time="$seconds" -timeout=5 -rss_limit_mb=2048 -print_final_stats=1
             -artifact_prefix="$build/artifacts/$target/")
    if [[ -f "$here/$target.dict" ]]; then
        options+=(-dict="$here/$target.dict")
    fi
    echo "== fuzz_$target for ${seconds} s"
    "$build/fuzz_$target" "${options[@]}" "$work/$target"
done
