#!/usr/bin/env bash
# Launch-time benchmark under a warm Wine: modrik.exe handing a file to a
# native player, against Wine starting that player directly, as a ratio;
# also 100 files, a 20,000-entry playlist (its cost over one file), the
# first run's detection, 8 and 32 starts at once (32 beside 32 of Wine's own
# start), the host programs a start runs, modrik's peak memory and file
# size, and a soak of mixed starts ("lost: N of M").
# It runs under the host's Wine 8.0 and under Debian 13's Wine 10.0 (the
# root of scripts/wine10.sh, made when missing), one after the other.
# Usage: scripts/bench.sh [RUNS] [--wine 8|10]...   (default 10 runs, both Wines)
# (build/bench/modrik_bench RUNS soak runs the soak alone, RUNS rounds.)
set -euo pipefail
cd "$(dirname "$0")/.."
runs=10
wines=()
while [ $# -gt 0 ]; do
  case "$1" in
    --wine) wines+=("$2"); shift 2 ;;
    --wine=*) wines+=("${1#--wine=}"); shift ;;
    *) runs=$1; shift ;;
  esac
done
[ "${#wines[@]}" -gt 0 ] || wines=(8 10)
scripts/deps.sh
cmake -S . -B build >/dev/null
cmake --build build -j2 --target modrik_bench >/dev/null
export MODRIK_E2E_USER=${MODRIK_BENCH_USER:-mdkbench}
status=0
for w in "${wines[@]}"; do
  case "$w" in
    8)
      echo "== Wine $(wine --version 2>/dev/null | tail -n1 | sed 's/^wine-//; s/ .*//') (this host)"
      xvfb-run -a dbus-run-session -- build/bench/modrik_bench "$runs" || status=1
      ;;
    10)
      scripts/wine10.sh setup
      echo "== Wine $(scripts/wine10.sh version | sed 's/^wine-//; s/ .*//') (Debian 13)"
      scripts/wine10.sh run xvfb-run -a dbus-run-session -- build/bench/modrik_bench "$runs" || status=1
      ;;
    *) echo "bench.sh: no Wine $w here (8 or 10)" >&2; exit 2 ;;
  esac
done
exit "$status"
