#!/usr/bin/env bash
# Builds modrik (the Windows program for x86-64 and i686, the host command
# and the host tests) and runs every test: the unit tests of its rules on
# Linux, then the end-to-end tests that drive the real modrik.exe under Wine,
# once under each Wine that users run: the host's Wine 8.0 (Debian 12) and
# Wine 10.0 of Debian 13 with wine32, in a root that scripts/wine10.sh makes
# when it is missing and keeps. Then the packages: scripts/package.sh makes
# them twice and checks that the bytes are the same and that lintian finds no
# error or warning in the .deb, and in a clean Debian 12
# root with wine32 (also made by scripts/wine10.sh and kept) the .deb is
# installed, its `modrik install` and the real player's case run from the
# installed files in a 64-bit and in a 32-bit prefix, and it is purged again.
# With the unit tests, the fuzz harnesses run for 120 s in all
# (scripts/fuzz.sh). Each run ends with a line of its own, naming its Wine.
#
#   scripts/test.sh [--wine 8|10|package]... [--fuzz SECONDS] [CTEST ARGS]
#
# -L unit runs only the unit tests and the fuzzing, -L e2e only the Wine
# tests; --wine picks the runs (default: all three); --fuzz 0 leaves the
# fuzzing out. Other arguments go to every ctest run.
set -euo pipefail
cd "$(dirname "$0")/.."

wines=()
args=()
label=""
fuzz_seconds=120
while [ $# -gt 0 ]; do
  case "$1" in
    --wine) wines+=("$2"); shift 2 ;;
    --wine=*) wines+=("${1#--wine=}"); shift ;;
    -L) label=$2; shift 2 ;;
    --fuzz) fuzz_seconds=$2; shift 2 ;;
    *) args+=("$1"); shift ;;
  esac
done
[ "${#wines[@]}" -gt 0 ] || wines=(8 10 package)
for w in "${wines[@]}"; do
  case "$w" in 8|10|package) ;; *) echo "test.sh: no Wine $w here (8, 10 or package)" >&2; exit 2 ;; esac
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
want_package=0
[ "$run_e2e" = 1 ] && [[ " ${wines[*]} " == *" package "* ]] && want_package=1

scripts/deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=Debug >/dev/null
cmake --build build -j2

# Debian 13's and Debian 12's roots are made (or checked) while the other
# tests run.
setup_pid=""
if [ "$want_wine10" = 1 ]; then
  scripts/wine10.sh setup > build/wine10-setup.log 2>&1 &
  setup_pid=$!
fi
setup12_pid=""
if [ "$want_package" = 1 ]; then
  MODRIK_DEBIAN=12 scripts/wine10.sh setup > build/debian12-setup.log 2>&1 &
  setup12_pid=$!
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

if [ "$run_unit" = 1 ] && [ "$fuzz_seconds" != 0 ]; then
  echo "==== fuzzing ===="
  rc=0
  scripts/fuzz.sh "$fuzz_seconds" 2>&1 | tee build/fuzz.log || rc=$?
  closing=$(tail -n1 build/fuzz.log)
  [[ "$closing" == fuzzing:* ]] || closing="fuzzing: did not finish (exit $rc, build/fuzz.log)"
  summary+=("$closing")
  [ "$rc" -eq 0 ] || status=1
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

if [ "$want_package" = 1 ]; then
  echo "==== packages ===="
  if scripts/package.sh --check 2>&1 | tee build/package.log; then
    summary+=("packages: $(ls dist | grep -v SHA256SUMS | tr '\n' ' ')made twice, identical bytes, lintian clean")
  else
    summary+=("packages: two builds differ, lintian or mandoc complained, or the build failed (build/package.log)")
    status=1
  fi
  if [ -f dist/modrik_*.deb ] && wait "$setup12_pid"; then
    # In the clean root: the package installed; its `modrik install` with
    # a 64-bit and a 32-bit caller (or the 32-bit prefix's) by name and by
    # association, and the real player from its files, in a 64-bit and in a
    # 32-bit prefix; the package purged again.
    ctest_pass package "Wine 8.0 with wine32 (Debian 12), the .deb installed" \
      env MODRIK_DEBIAN=12 MODRIK_E2E_HOSTCMD=/usr/bin/modrik scripts/wine10.sh run sh -c '
        apt-get install -y -q ./dist/modrik_*.deb > build/package-install.log 2>&1 || { cat build/package-install.log; exit 1; }
        cd build; rc=0
        cases="Install\\.Associates|RealPlayer\\.InstalledBy"
        MODRIK_E2E_EXE=/usr/share/modrik/x86_64/modrik.exe xvfb-run -a dbus-run-session -- \
          ctest --output-on-failure -L e2e -R "$cases" "$@" || rc=1
        # A 32-bit prefix needs the 32-bit loader, which a kernel that runs
        # 64-bit programs only cannot start (scripts/wine10.sh setup says so).
        if [ -x /usr/lib/wine/wine ]; then
          MODRIK_E2E_ARCH=win32 MODRIK_E2E_EXE=/usr/share/modrik/i686/modrik.exe xvfb-run -a dbus-run-session -- \
            ctest --output-on-failure -L e2e -R "$cases" "$@" || rc=1
        else
          echo "the 32-bit prefix: skipped, this kernel runs no 32-bit programs"
        fi
        apt-get purge -y -q modrik > /dev/null 2>&1 || rc=1
        exit $rc' ctest "${args[@]}"
  else
    cat build/debian12-setup.log >&2 || true
    summary+=("Debian 12 with wine32: not run, no package or no root (build/debian12-setup.log)")
    status=1
  fi
fi

echo
echo "==== summary ===="
for line in "${summary[@]}"; do echo "$line"; done
exit "$status"
