#!/usr/bin/env bash
# Builds the fuzz harnesses of the program's parsers and rules (tests/fuzz:
# libFuzzer with AddressSanitizer and UndefinedBehaviorSanitizer, built by
# clang in build-fuzz/) and runs each for its share of SECONDS (default 60),
# from its seeds in tests/fuzz/corpus/NAME and what earlier runs found
# (build-fuzz/corpus/NAME). For each it prints the executions per second and
# the coverage reached (libFuzzer's cov: edges and ft: features). An input
# that crashes, hangs (10 s), leaks or breaks a rule is kept in
# build-fuzz/crashes/; the cause, the input (in base64) and the command
# that reproduces it are printed, and the run exits 1. The last line sums
# the run up.
#
#   scripts/fuzz.sh [SECONDS]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
case "$seconds" in
  "" | *[!0-9]*) echo "fuzz.sh: SECONDS is a whole number of seconds, not $seconds" >&2; exit 2 ;;
esac

CC=clang CXX=clang++ cmake -S . -B build-fuzz -DMODRIK_FUZZ=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
if ! cmake --build build-fuzz -j2 > build-fuzz/build.log 2>&1; then
  cat build-fuzz/build.log >&2
  echo "fuzzing: the harnesses did not build (build-fuzz/build.log)"
  exit 1
fi

harnesses=(build-fuzz/fuzz/fuzz_*)
share=$((seconds / ${#harnesses[@]}))
[ "$share" -ge 1 ] || share=1
mkdir -p build-fuzz/crashes
failed=()
printf '%-14s %8s %6s %6s  %s\n' harness exec/s cov ft result
for program in "${harnesses[@]}"; do
  name=${program##*/fuzz_}
  log=build-fuzz/$name.log
  mkdir -p "build-fuzz/corpus/$name"
  # The harnesses' scratch files stay in the build folder, also after a crash.
  rm -rf build-fuzz/tmp && mkdir build-fuzz/tmp
  rc=0
  TMPDIR=$PWD/build-fuzz/tmp "$program" -max_total_time="$share" -timeout=10 -print_final_stats=1 \
    -artifact_prefix="build-fuzz/crashes/$name-" "build-fuzz/corpus/$name" "tests/fuzz/corpus/$name" \
    > "$log" 2>&1 || rc=$?
  last=$(grep -E '^#[0-9]+' "$log" | tail -n1 || true)
  field() { sed -nE "s/.* $1: ([0-9]+).*/\\1/p" <<<"$last"; }
  rate=$(sed -nE 's/^stat::average_exec_per_sec: *//p' "$log")
  result=ok
  if [ "$rc" -ne 0 ]; then
    input=$(sed -nE 's/.*Test unit written to //p' "$log" | tail -n1)
    result="FAILED (exit $rc, $log): reproduce with TMPDIR=$(printf '%q ' "$PWD/build-fuzz/tmp" "$PWD/$program" "$PWD/$input")"
    failed+=("$name")
  fi
  printf '%-14s %8s %6s %6s  %s\n' "$name" "${rate:--}" "$(field cov)" "$(field ft)" "$result"
  # The cause, and the input itself for a run whose folder is not kept.
  [ "$rc" -eq 0 ] || grep -E 'SUMMARY|runtime error|what\(\)|^Base64' "$log" | sed 's/^/    /' || true
done

rm -rf build-fuzz/tmp
if [ "${#failed[@]}" -gt 0 ]; then
  echo "fuzzing: ${#failed[@]} of ${#harnesses[@]} harnesses failed (${failed[*]}), inputs in build-fuzz/crashes/"
  exit 1
fi
echo "fuzzing: ${#harnesses[@]} harnesses, ${share} s each, no fault found"
