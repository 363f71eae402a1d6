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
# (scripts/fuzz.sh).
#
# Every stage ends with a line in the summary: passed, failed, skipped or
# could not run, with the cause and the log to read; so do the 32-bit cases,
# which skip where the kernel runs no 32-bit programs. The script exits 1
# when any stage failed or could not run, also when it is cut short.
#
#   scripts/test.sh [--wine 8|10|package]... [--fuzz SECONDS] [--no-setup]
#                   [--logs DIR] [CTEST ARGS]
#
# -L unit runs only the unit tests and the fuzzing, -L e2e only the Wine
# tests; --wine picks the runs (default: all three); --fuzz 0 leaves the
# fuzzing out; --no-setup uses the build as it is (no dependencies installed,
# nothing built); --logs puts the stages' logs in DIR (default build/).
# Other arguments go to every ctest run.
set -uo pipefail
cd "$(dirname "$0")/.."

wines=()
args=()
label=""
fuzz_seconds=120
setup=1
logs=build
while [ $# -gt 0 ]; do
  case "$1" in
    --wine) wines+=("$2"); shift 2 ;;
    --wine=*) wines+=("${1#--wine=}"); shift ;;
    -L) label=$2; shift 2 ;;
    --fuzz) fuzz_seconds=$2; shift 2 ;;
    --no-setup) setup=0; shift ;;
    --logs) logs=$2; shift 2 ;;
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
wants() { [[ " ${wines[*]} " == *" $1 "* ]]; }
want_wine8=0; want_wine10=0; want_package=0
[ "$run_e2e" = 1 ] && wants 8 && want_wine8=1
[ "$run_e2e" = 1 ] && wants 10 && want_wine10=1
[ "$run_e2e" = 1 ] && wants package && want_package=1
mkdir -p "$logs" || { echo "test.sh: cannot make the log folder $logs" >&2; exit 1; }
logs=$(cd "$logs" && pwd)

summary=()
status=0
summed=0
children=()
# The summary is printed however the script ends: after the last stage, on
# an error of its own, or on a signal (each stage not reached says so).
print_summary() {
  [ "$summed" = 0 ] || return 0
  summed=1
  echo
  echo "==== summary ===="
  local line
  for line in "${summary[@]}"; do echo "$line"; done
}
on_exit() {
  local rc=$?
  if [ "$summed" = 0 ] && [ -n "${stage:-}" ]; then
    summary+=("$stage: could not run to its end (test.sh ended with exit $rc)")
    status=1
  fi
  [ "$summed" = 1 ] || [ "${joined:-1}" = 1 ] || status=1
  [ "${#children[@]}" -eq 0 ] || kill -- "${children[@]}" 2>/dev/null
  print_summary
  exit "$status"
}
trap on_exit EXIT
trap 'summary+=("test.sh: interrupted"); status=1; exit 1' INT TERM HUP

fail() { summary+=("$1"); status=1; }

# The last line a failed command printed that says something, for a summary
# line: Wine's own message, a compiler's error.
last_words() { grep -v '^[[:space:]]*$' "$1" 2>/dev/null | tail -n1 | cut -c1-240; }

# Why the 32-bit cases cannot run here, "" when they can. Asked of real
# programs: the kernel (an i386 program) and Wine's 32-bit loader.
no_32bit_here() {
  local loader=/usr/lib/wine/wine out
  if [ -x /lib/ld-linux.so.2 ] && ! out=$(/lib/ld-linux.so.2 --version 2>&1); then
    echo "this kernel runs no 32-bit programs ($(printf '%s\n' "$out" | grep -m1 -io 'exec format error' || echo 'i386 loader failed'))"
  elif [ ! -x "$loader" ]; then
    echo "wine32 is not installed (no $loader)"
  fi
}

# A Wine that cannot start fails its stage with its own words (the suite
# would only time out case after case): `wine --version`, run through the
# runner given (none for the host's Wine), sets $version, or fails TITLE.
wine_answers() {
  local name=$1 title=$2 rc=0; shift 2
  timeout 120 "$@" wine --version > "$logs/$name-version.log" 2>&1 || rc=$?
  if [ "$rc" -ne 0 ]; then
    fail "$title: failed, Wine cannot start (wine --version: exit $rc): $(last_words "$logs/$name-version.log")"
    return 1
  fi
  version=$(grep -m1 '^wine-' "$logs/$name-version.log" | sed 's/^wine-//; s/ .*//')
}

# The summary line of a Wine's 32-bit callers: run, or skipped and why.
say_32bit() {
  if [ -n "$2" ]; then summary+=("  32-bit callers under $1: skipped, $2"); else summary+=("  32-bit callers under $1: run"); fi
}

# Runs one ctest pass, keeps its output in LOGS/test-NAME.log, and adds its
# closing line (and the tests that failed or skipped) to the summary under
# TITLE.
ctest_pass() {
  local name=$1 title=$2; shift 2
  local log="$logs/test-$name.log" rc=0
  stage=$title
  echo "==== $title ===="
  "$@" 2>&1 | tee "$log" || rc=$?
  local closing failed skipped
  closing=$(grep -E 'tests passed|No tests were found' "$log" | tail -n1 || true)
  failed=$(sed -n '/The following tests FAILED:/,$p' "$log" | grep -E '^[[:space:]]+[0-9]+ - ' |
           sed -E 's/^[[:space:]]+[0-9]+ - //' | tr '\n' ';' | sed 's/;$//; s/;/; /g' || true)
  skipped=$(sed -n '/The following tests did not run:/,/^$/p' "$log" | grep -E '^[[:space:]]+[0-9]+ - ' |
            sed -E 's/^[[:space:]]+[0-9]+ - //; s/ \(Skipped\)//; s/[[:space:]]+# GetParam.*//' |
            tr '\n' ';' | sed 's/;$//; s/;/, /g' || true)
  if [ -z "$closing" ]; then
    closing="did not finish (exit $rc; $log): $(last_words "$log")"
  elif [ "$rc" -ne 0 ]; then
    closing="failed: $closing ($log)"
  fi
  summary+=("$title: $closing")
  [ -z "$failed" ] || summary+=("  failed under $title: $failed")
  [ -z "$skipped" ] ||
    summary+=("  skipped under $title: $(tr ',' '\n' <<<"$skipped" | wc -l) (why: $log): $skipped")
  [ "$rc" -eq 0 ] || status=1
  stage=""
}

built=1
if [ "$setup" = 1 ]; then
  stage="dependencies"
  echo "==== dependencies ===="
  rc=0
  scripts/deps.sh 2>&1 | tee "$logs/deps.log" || rc=$?
  if [ "$rc" -ne 0 ]; then
    fail "dependencies: could not be installed (exit $rc; $logs/deps.log): $(last_words "$logs/deps.log")"
  else
    summary+=("dependencies: installed")
  fi
  stage="build"
  echo "==== build ===="
  rc=0
  { cmake -S . -B build -DCMAKE_BUILD_TYPE=Debug && cmake --build build -j2; } > "$logs/build.log" 2>&1 || rc=$?
  if [ "$rc" -ne 0 ]; then
    built=0
    grep -E 'error|Error' "$logs/build.log" | tail -n 20 >&2
    fail "build: failed (exit $rc; $logs/build.log): $(grep -m1 -E 'error' "$logs/build.log" | cut -c1-240)"
  else
    summary+=("build: built")
  fi
  stage=""
fi
no_build() { fail "$1: could not run, the build failed ($logs/build.log)"; }

# Debian 13's and Debian 12's roots are made (or checked) while the other
# tests run.
setup_pid=""
if [ "$want_wine10" = 1 ] && [ "$built" = 1 ]; then
  scripts/wine10.sh setup > "$logs/wine10-setup.log" 2>&1 &
  setup_pid=$!
  children+=("$setup_pid")
fi
setup12_pid=""
if [ "$want_package" = 1 ] && [ "$built" = 1 ]; then
  MODRIK_DEBIAN=12 scripts/wine10.sh setup > "$logs/debian12-setup.log" 2>&1 &
  setup12_pid=$!
  children+=("$setup12_pid")
fi

if [ "$run_unit" = 1 ]; then
  if [ "$built" = 1 ]; then
    ctest_pass unit "unit tests" sh -c 'cd build && exec ctest --output-on-failure -L unit "$@"' ctest "${args[@]}"
  else
    no_build "unit tests"
  fi
fi

# The fuzzing and the packages' two builds want the processors, the Wine
# tests mostly wait: they run at the lowest priority beside the Wine tests,
# in a process group of their own (ended with the script), their lines kept
# in the summary's places and their logs shown when they are joined.
background() {
  local rc=0
  if [ "$run_unit" = 1 ] && [ "$fuzz_seconds" != 0 ]; then
    scripts/fuzz.sh "$fuzz_seconds" > "$logs/fuzz.log" 2>&1 || rc=$?
    echo "$rc" > "$logs/fuzz.rc"
  fi
  if [ "$want_package" = 1 ] && [ "$built" = 1 ]; then
    rm -f dist/modrik_*.deb
    rc=0
    scripts/package.sh --check > "$logs/package.log" 2>&1 || rc=$?
    echo "$rc" > "$logs/package.rc"
  fi
}
rm -f "$logs/fuzz.rc" "$logs/package.rc"
fuzz_line=""
if [ "$run_unit" = 1 ]; then
  if [ "$fuzz_seconds" = 0 ]; then
    summary+=("fuzzing: skipped (--fuzz 0)")
  else
    summary+=("fuzzing: could not run to its end (test.sh ended first)")
    fuzz_line=$((${#summary[@]} - 1))
  fi
fi
background_pid=""
joined=1
if [ -n "$fuzz_line" ] || { [ "$want_package" = 1 ] && [ "$built" = 1 ]; }; then
  run_unit=$run_unit fuzz_seconds=$fuzz_seconds want_package=$want_package built=$built logs=$logs \
    setsid nice -n 19 bash -c "$(declare -f background); background" < /dev/null &
  background_pid=$!
  children+=("-$background_pid")
  joined=0
fi
# Waits for the background work, shows its logs and puts the fuzzing's line
# in its place.
join_background() {
  [ "$joined" = 0 ] || return 0
  joined=1
  stage="fuzzing and packages"
  wait "$background_pid"
  stage=""
  if [ -n "$fuzz_line" ]; then
    echo "==== fuzzing ===="
    cat "$logs/fuzz.log"
    local rc closing
    rc=$(cat "$logs/fuzz.rc" 2>/dev/null || echo "none")
    closing=$(tail -n1 "$logs/fuzz.log")
    [[ "$closing" == fuzzing:* ]] || closing="fuzzing: did not finish (exit $rc; $logs/fuzz.log): $closing"
    summary[$fuzz_line]=$closing
    [ "$rc" = 0 ] || status=1
  fi
}

if [ "$want_wine8" = 1 ]; then
  title="Wine (this host)"
  if [ "$built" = 0 ]; then
    no_build "$title"
  elif wine_answers wine8 "$title"; then
    title="Wine ${version:-?} (this host)"
    ctest_pass wine8 "$title" \
      sh -c 'cd build && exec xvfb-run -a dbus-run-session -- ctest --output-on-failure -L e2e "$@"' ctest "${args[@]}"
    say_32bit "$title" "$(no_32bit_here)"
  fi
fi

if [ "$want_wine10" = 1 ]; then
  title="Wine 10 (Debian 13)"
  if [ "$built" = 0 ]; then
    no_build "$title"
  elif ! wait "$setup_pid"; then
    cat "$logs/wine10-setup.log" >&2
    fail "$title: could not run, its root could not be made ($logs/wine10-setup.log): $(last_words "$logs/wine10-setup.log")"
  elif wine_answers wine10 "$title" scripts/wine10.sh run; then
    title="Wine ${version:-?} (Debian 13)"
    ctest_pass wine10 "$title" \
      scripts/wine10.sh run sh -c 'cd build && exec xvfb-run -a dbus-run-session -- ctest --output-on-failure -L e2e "$@"' \
      ctest "${args[@]}"
    why32=""
    grep -q 'runs no 32-bit programs' "$logs/wine10-setup.log" && why32="this kernel runs no 32-bit programs"
    say_32bit "$title" "$why32"
  fi
fi

if [ "$want_package" = 1 ]; then
  stage="packages"
  if [ "$built" = 0 ]; then
    no_build "packages"
  else
    join_background
    echo "==== packages ===="
    cat "$logs/package.log"
    if [ "$(cat "$logs/package.rc" 2>/dev/null)" = 0 ]; then
      summary+=("packages: $(ls dist | grep -v SHA256SUMS | tr '\n' ' ')made twice, identical bytes, lintian clean")
    else
      fail "packages: failed: two builds differ, lintian or mandoc complained, or the build failed ($logs/package.log): $(last_words "$logs/package.log")"
    fi
  fi
  stage=""
  title="Wine 8.0 with wine32 (Debian 12), the .deb installed"
  if [ "$built" = 0 ]; then
    no_build "$title"
  elif ! ls dist/modrik_*.deb >/dev/null 2>&1; then
    fail "$title: could not run, no package was made ($logs/package.log)"
  elif ! wait "$setup12_pid"; then
    cat "$logs/debian12-setup.log" >&2 || true
    fail "$title: could not run, its root could not be made ($logs/debian12-setup.log): $(last_words "$logs/debian12-setup.log")"
  else
    # In the clean root: the package installed; its `modrik install` with
    # a 64-bit and a 32-bit caller (or the 32-bit prefix's) by name and by
    # association, and the real player from its files, in a 64-bit and in a
    # 32-bit prefix; the package purged again.
    ctest_pass package "$title" \
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
    if grep -q 'the 32-bit prefix: skipped' "$logs/test-package.log"; then
      summary+=("  the 32-bit prefix under $title: skipped, this kernel runs no 32-bit programs")
    else
      summary+=("  the 32-bit prefix under $title: run")
    fi
  fi
fi

join_background
children=()
stage=""
print_summary
exit "$status"
