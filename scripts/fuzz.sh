#!/usr/bin/env bash
# Builds the fuzz harnesses of the program's parsers and rules (tests/fuzz:
# libFuzzer with AddressSanitizer and UndefinedBehaviorSanitizer, built by
# clang in build-fuzz/) and runs each for its share of SECONDS (default 60),
# from its seeds in tests/fuzz/corpus/NAME and what earlier runs found
# (build-fuzz/corpus/NAME). For each it prints the executions per second and
# the coverage reached (libFuzzer's cov: edges and ft: features). An input
# that crashes, hangs (10 s), leaks or breaks a rule is kept in
# build-fuzz/crashes/; the cause, the input (in base64) and the command
# that reproduces it are printed, and the run exits 1. The front-end readers'
# deep and large inputs are made in build-fuzz/seeds/ and run first. The
# last line sums the run up.
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

# The deep and the large cases of the readers of the front-ends' files: made
# here, not kept in the tree (a 100,000-level nesting in each format, and a
# file a byte past the 16 MiB bound), and run once each before the fuzzing.
# tests/fuzz/corpus holds the same shapes at 300 levels for the mutations.
repeat() { awk -v text="$1" -v times="$2" 'BEGIN { for (i = 0; i < times; i++) printf "%s", text }'; }
seeds=build-fuzz/seeds
rm -rf "$seeds" && mkdir -p "$seeds/frontends" "$seeds/keyvalues"
{ printf '{"app": {"x": '; repeat '[' 100000; repeat ']' 100000; printf '}}'; } > "$seeds/frontends/deep-json"
{ printf 'game:\n  x: '; repeat '[' 100000; printf '\n'; } > "$seeds/frontends/deep-yaml-flow"
{ printf 'x:\n'; repeat '- ' 100000; printf 'x\n'; } > "$seeds/frontends/deep-yaml-block"
{ printf 'game: '; repeat '[ "]", ' 100000; } > "$seeds/frontends/deep-yaml-quoted"
{ printf '"libraryfolders"\n{\n'; repeat '"k" {' 100000; } > "$seeds/frontends/deep-keyvalues"
head -c $((16 * 1024 * 1024 + 1)) /dev/zero | tr '\0' ' ' > "$seeds/frontends/large"
cp "$seeds/frontends/deep-keyvalues" "$seeds/keyvalues/deep"
for name in frontends keyvalues; do
  rm -rf build-fuzz/tmp && mkdir build-fuzz/tmp
  rc=0
  TMPDIR=$PWD/build-fuzz/tmp "build-fuzz/fuzz/fuzz_$name" -timeout=10 "$seeds/$name"/* > "build-fuzz/$name-seeds.log" 2>&1 || rc=$?
  if [ "$rc" -ne 0 ]; then
    echo "fuzzing: $name failed on the deep or large seeds in $seeds/$name (exit $rc, build-fuzz/$name-seeds.log)"
    grep -E 'SUMMARY|runtime error|what\(\)|^Running' "build-fuzz/$name-seeds.log" | sed 's/^/    /' || true
    exit 1
  fi
done
echo "fuzzing: the deep and large seeds of frontends and keyvalues pass"

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
