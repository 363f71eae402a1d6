#!/usr/bin/env bash
# scripts/test.sh never ends silently: a Wine that cannot start fails its
# stage with Wine's own words in the summary, and the run exits 1. Each row
# puts a stand-in `wine` first on PATH and runs the Wine 8 stage alone on
# the build as it is.
set -uo pipefail
src=$(cd "$(dirname "$0")/../.." && pwd)
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
failures=0

# name | the stand-in's body | the summary line expected (a fixed string)
rows=(
  "exec-format|echo '/usr/bin/wine-stable: 40: exec: /usr/lib/wine/wine: Exec format error' >&2; exit 126|Wine (this host): failed, Wine cannot start (wine --version: exit 126): /usr/bin/wine-stable: 40: exec: /usr/lib/wine/wine: Exec format error"
  "silent|exit 3|Wine (this host): failed, Wine cannot start (wine --version: exit 3): "
)
for row in "${rows[@]}"; do
  IFS='|' read -r name body expected <<<"$row"
  bin="$scratch/$name bin"
  mkdir -p "$bin"
  printf '#!/bin/sh\n%s\n' "$body" > "$bin/wine"
  chmod +x "$bin/wine"
  rc=0
  PATH="$bin:$PATH" "$src/scripts/test.sh" -L e2e --wine 8 --no-setup --logs "$scratch/$name logs" \
    > "$scratch/$name.out" 2>&1 || rc=$?
  summary=$(sed -n '/^==== summary ====$/,$p' "$scratch/$name.out")
  if [ "$rc" -ne 1 ] || ! grep -qxF -- "$expected" <<<"$summary"; then
    echo "FAILED $name: exit $rc, expected 1 and the line: $expected"
    cat "$scratch/$name.out"
    failures=$((failures + 1))
  else
    echo "ok $name"
  fi
done
[ "$failures" -eq 0 ]
