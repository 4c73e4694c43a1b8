#!/usr/bin/env bash
# Installs what is missing, builds the program (RelWithDebInfo, in build-run)
# and starts quorvel-explorer with the arguments given to this script.
set -euo pipefail
cd "$(dirname "$0")"

source scripts/deps.sh

cmake -S . -B build-run -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUORVEL_SANITIZE=OFF -DQUORVEL_BENCH=OFF >/dev/null
# The test node comes along for trying the program without hardware.
cmake --build build-run -j "$(nproc)" --target quorvel-explorer erfc-testnode

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    echo "No display found: running offscreen (no window is shown; the program still connects and logs)."
    export QT_QPA_PLATFORM=offscreen
fi
exec ./build-run/app/quorvel-explorer "$@"
