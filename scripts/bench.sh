#!/usr/bin/env bash
# Launch-time benchmark under a warm Wine: modrik.exe handing a file to a
# native player, against Wine starting that player directly and the floor of
# modrik's own pauses and polls; also modrik's peak memory and file size.
# Usage: scripts/bench.sh [RUNS]   (default 10)
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
cmake -S . -B build >/dev/null
cmake --build build -j2 --target modrik_bench >/dev/null
export MODRIK_E2E_USER=${MODRIK_BENCH_USER:-mdkbench}
exec xvfb-run -a dbus-run-session -- build/bench/modrik_bench "${1:-10}"
