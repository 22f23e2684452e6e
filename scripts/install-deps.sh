#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Installs the Debian 12 packages that the named tasks need, those missing only.
#   scripts/install-deps.sh [task...]      (default: run)
#   run         building and running the program and kalventa-cli
#   test        the tests, benchmarks, fuzzing and formatting, and the Python module, on top of run
#   package     building and checking the Debian package (with the Python module), on top of run
#   screenshot  the pictures in docs/, on top of run
set -euo pipefail

# Every task builds the program first.
packages=(cmake g++ make pkg-config qt6-base-dev qt6-serialport-dev libgl-dev libftdi1-dev)
# The Python module is built where these are installed.
python=(pybind11-dev python3-dev)
for task in "${@:-run}"; do
    case $task in
    run) ;;
    test)
        packages+=(libbenchmark-dev clang libclang-rt-14-dev clang-format bash-completion
            "${python[@]}" python3-pytest)
        ;;
    package) packages+=(lintian desktop-file-utils dpkg-dev appstream "${python[@]}") ;;
    screenshot) packages+=(xvfb xauth imagemagick x11-utils xdotool qt6ct) ;;
    *)
        echo "install-deps: unknown task \"$task\" (run, test, package, screenshot)" >&2
        exit 2
        ;;
    esac
done

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=()
if [ "$(id -u)" -ne 0 ]; then
    if ! command -v sudo >/dev/null; then
        echo "install-deps: these packages are missing and sudo is not here to install them;" \
            "run as root: apt-get update && apt-get install --no-install-recommends" \
            "${missing[*]}" >&2
        exit 1
    fi
    sudo=(sudo)
fi
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update -qq
"${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
