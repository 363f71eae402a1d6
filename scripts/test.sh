#!/usr/bin/env bash
# Builds modrik (the Windows program and the host tests) and runs every test:
# the unit tests of its rules on Linux, then the end-to-end tests that drive
# the real modrik.exe under Wine, once under each Wine that users run: the
# host's Wine 8.0 (Debian 12) and Wine 10.0 of Debian 13, in a root that
# scripts/wine10.sh makes when it is missing and keeps. Each run ends with a
# line of its own, naming its Wine.
#
#   scripts/test.sh [--wine 8|10]... [CTEST ARGS]
#
# -L unit runs only the unit tests, -L e2e only the Wine tests; --wine picks
# the Wines (default: both). Other arguments go to every ctest run.
set -euo pipefail
cd "$(dirname "$0")/.."

wines=()
args=()
label=""
while [ $# -gt 0 ]; do
  case "$1" in
    --wine) wines+=("$2"); shift 2 ;;
    --wine=*) wines+=("${1#--wine=}"); shift ;;
    -L) label=$2; shift 2 ;;
    *) args+=("$1"); shift ;;
  esac
done
[ "${#wines[@]}" -gt 0 ] || wines=(8 10)
for w in "${wines[@]}"; do
  case "$w" in 8|10) ;; *) echo "test.sh: no Wine $w here (8 or 10)" >&2; exit 2 ;; esac
done
run_unit=1; run_e2e=1
case "$label" in
  "") ;;
  unit) run_e2e=0 ;;
  e2e) run_unit=0 ;;
  *) echo "test.sh: unknown label $label (unit or e2e)" >&2; exit 2 ;;
esac
want_wine10=0
[ "$run_e2e" = 1 ] && [[ " ${wines[*]} " == *" 10 "* ]] && want_wine10=1

scripts/deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=Debug >/dev/null
cmake --build build -j2

# Debian 13's root is made (or checked) while the other tests run.
setup_pid=""
if [ "$want_wine10" = 1 ]; then
  scripts/wine10.sh setup > build/wine10-setup.log 2>&1 &
  setup_pid=$!
fi

summary=()
status=0

# Runs one ctest pass, keeps its output in build/test-NAME.log, and adds its
# closing line (and the tests that failed) to the summary under TITLE.
ctest_pass() {
  local name=$1 title=$2; shift 2
  local log="build/test-$name.log" rc=0
  echo "==== $title ===="
  "$@" 2>&1 | tee "$log" || rc=$?
  local closing failed
  closing=$(grep -E 'tests passed|No tests were found' "$log" | tail -n1 || true)
  failed=$(sed -n '/The following tests FAILED:/,$p' "$log" | grep -E '^[[:space:]]+[0-9]+ - ' |
           sed -E 's/^[[:space:]]+[0-9]+ - //' | tr '\n' ';' | sed 's/;$//; s/;/; /g' || true)
  [ -n "$closing" ] || closing="did not finish (exit $rc)"
  summary+=("$title: $closing")
  [ -z "$failed" ] || summary+=("  failed under $title: $failed")
  [ "$rc" -eq 0 ] || status=1
}

if [ "$run_unit" = 1 ]; then
  ctest_pass unit "unit tests" sh -c 'cd build && exec ctest --output-on-failure -L unit "$@"' ctest "${args[@]}"
fi

if [ "$run_e2e" = 1 ] && [[ " ${wines[*]} " == *" 8 "* ]]; then
  version=$(wine --version 2>/dev/null | tail -n1 | sed 's/^wine-//; s/ .*//')
  ctest_pass wine8 "Wine $version (this host)" \
    sh -c 'cd build && exec xvfb-run -a dbus-run-session -- ctest --output-on-failure -L e2e "$@"' ctest "${args[@]}"
fi

if [ "$want_wine10" = 1 ]; then
  if wait "$setup_pid"; then
    version=$(scripts/wine10.sh version | sed 's/^wine-//; s/ .*//')
    ctest_pass wine10 "Wine $version (Debian 13)" \
      scripts/wine10.sh run sh -c 'cd build && exec xvfb-run -a dbus-run-session -- ctest --output-on-failure -L e2e "$@"' \
      ctest "${args[@]}"
  else
    cat build/wine10-setup.log >&2
    summary+=("Wine 10.0 (Debian 13): not run, its root could not be made (build/wine10-setup.log)")
    status=1
  fi
fi

echo
echo "==== summary ===="
for line in "${summary[@]}"; do echo "$line"; done
exit "$status"
