#!/usr/bin/env bash
# Builds modrik (the Windows program and the host tests) and runs every test:
# the unit tests of its rules on Linux and the end-to-end tests that drive the
# real modrik.exe under Wine. Extra arguments go to ctest (for example -L unit).
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=Debug >/dev/null
cmake --build build -j2

cd build
status=0
xvfb-run -a dbus-run-session -- ctest --output-on-failure "$@" || status=$?
exit "$status"
